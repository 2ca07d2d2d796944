// The Adjust page: the bytes each control sends, the hex fields' rules, the
// hue bars' timers and words, the colour-matrix write-back, and a run
// against the virtual camera.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <functional>

#include "app/DebugPage.h"
#include "app/MTern.h"
#include "app/camera_fixture.h"
#include "app/window_fixture.h"
#include "controls/AdjustPage.h"
#include "widgets/HexEdit.h"
#include "widgets/RadioGroup.h"
#include "widgets/SpinButton.h"
#include "test_names.h"

namespace tern::test {
namespace {

using controls::AdjustPage;
using transfer::Control;

class Adjust : public WindowTest {
protected:
    void SetUp() override {
        Ready(link::ToolMode::Dbg);
        window->PageControl1->setCurrentIndex(Tab(link::Page::Adjust));
        FinishChain();
        port.TakeWire();
    }

    AdjustPage& w() { return window->Adjust(); }
    std::int32_t& Shadow(int reg) { return window->Engine().Registers()[static_cast<std::size_t>(reg)]; }

    /// Puts a text into a field without raising its change (a state to start from).
    static void Preset(QLineEdit* field, const char* text) {
        field->blockSignals(true);
        field->setText(text);
        field->blockSignals(false);
    }
};

// ---- the bytes of each control --------------------------------------------------------

struct SendRow {
    const char* name;
    std::function<void(AdjustPage&)> act;
    Bytes frame;
};

class AdjustSends : public Adjust, public ::testing::WithParamInterface<SendRow> {};

TEST_P(AdjustSends, OneFrameWithTheControlsValue) {
    GetParam().act(w());
    EXPECT_EQ(port.TakeWire(), GetParam().frame);
}

void Uncheck(AdjustPage& p, bool checked) {
    p.wb_sel->blockSignals(true);
    p.wb_sel->setChecked(!checked);
    p.wb_sel->blockSignals(false);
    p.wb_sel->setChecked(checked);
}

INSTANTIATE_TEST_SUITE_P(
    Controls, AdjustSends,
    ::testing::Values(
        SendRow{"wb_sel checked is ATW", [](AdjustPage& p) { Uncheck(p, true); }, Frame({0x21, 0x1B, 0x00, 0x00})},
        SendRow{"wb_sel unchecked is AWC", [](AdjustPage& p) { Uncheck(p, false); }, Frame({0x21, 0x1B, 0x00, 0x01})},
        SendRow{"pre_32", [](AdjustPage& p) { p.pre_32->click(); }, Frame({0x21, 0x30, 0x00, 0x01})},
        SendRow{"pre_56", [](AdjustPage& p) { p.pre_56->click(); }, Frame({0x21, 0x30, 0x01, 0x01})},
        SendRow{"pre_awc", [](AdjustPage& p) { p.pre_awc->click(); }, Frame({0x21, 0x30, 0x02, 0x01})},
        SendRow{"pwm_ref two digits", [](AdjustPage& p) { p.pwm_ref->setText("5a"); }, Frame({0x21, 0x43, 0x5A, 0x01})},
        SendRow{"pwm_ref typed outside the spin range", [](AdjustPage& p) { p.pwm_ref->setText("C7"); },
                Frame({0x21, 0x43, 0xC7, 0x01})},
        SendRow{"rens_ref_read", [](AdjustPage& p) { p.rens_ref_read->click(); }, Frame({0x31, 0x46})},
        SendRow{"shut_disp_sel", [](AdjustPage& p) { p.shut_disp_sel->SetItemIndex(1); },
                Frame({0x21, 0x37, 0x00, 0x01, 0x01})},
        SendRow{"sync_disp_sel", [](AdjustPage& p) { p.sync_disp_sel->SetItemIndex(1); },
                Frame({0x21, 0x37, 0x01, 0x01, 0x01})},
        SendRow{"hvpha_disp_sel", [](AdjustPage& p) { p.hvpha_disp_sel->SetItemIndex(1); },
                Frame({0x21, 0x37, 0x02, 0x01, 0x01})},
        SendRow{"Sens_disp_sel", [](AdjustPage& p) { p.Sens_disp_sel->SetItemIndex(0); },
                Frame({0x21, 0x37, 0x03, 0x00, 0x01})},
        SendRow{"Peak_disp_sel", [](AdjustPage& p) { p.Peak_disp_sel->SetItemIndex(1); },
                Frame({0x21, 0x37, 0x04, 0x01, 0x01})},
        // Each delay digit lands in its own nibble: a = width.shd, b = shp.rg.
        SendRow{"rg_width high nibble of a", [](AdjustPage& p) { p.rg_width->setText("1"); },
                Frame({0x21, 0x42, 0x10, 0x00, 0x01})},
        SendRow{"shd_delay low nibble of a", [](AdjustPage& p) { p.shd_delay->setText("2"); },
                Frame({0x21, 0x42, 0x02, 0x00, 0x01})},
        SendRow{"shp_delay high nibble of b", [](AdjustPage& p) { p.shp_delay->setText("A"); },
                Frame({0x21, 0x42, 0x00, 0xA0, 0x01})},
        SendRow{"rg_delay low nibble of b", [](AdjustPage& p) { p.rg_delay->setText("b"); },
                Frame({0x21, 0x42, 0x00, 0x0B, 0x01})}),
    [](const ::testing::TestParamInfo<SendRow>& i) { return RowName(i.param.name); });

TEST_F(Adjust, NothingIsSentWhileAFrameIsInFlight) {
    w().pre_32->click();
    port.TakeWire();
    w().pre_56->click();
    w().pwm_ref->setText("66");
    w().shut_disp_sel->SetItemIndex(1);
    EXPECT_TRUE(port.TakeWire().empty());
    EXPECT_EQ(w().pwm_ref->text(), "66");  // the change stays on screen
}

TEST_F(Adjust, AUseSelectorLeftWithoutAChoiceSendsNothing) {
    ASSERT_EQ(w().shut_disp_sel->ItemIndex(), 0);  // from the chain's block 4
    w().shut_disp_sel->SetItemIndex(-1);
    EXPECT_TRUE(port.TakeWire().empty());
    w().shut_disp_sel->SetItemIndex(0);
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x37, 0x00, 0x00, 0x01}));
}

// ---- pwm_ref and its spin button ---------------------------------------------------------

struct PwmStep {
    const char* from;
    bool up;
    const char* to;
    bool sends;
};

class PwmRefSpin : public Adjust, public ::testing::WithParamInterface<PwmStep> {};

TEST_P(PwmRefSpin, StepsWithinItsRangeAndTheChangeSends) {
    const PwmStep& s = GetParam();
    Preset(w().pwm_ref, s.from);
    if (s.up) {
        w().CSpinButton5->UpClick();
    } else {
        w().CSpinButton5->DownClick();
    }
    EXPECT_EQ(w().pwm_ref->text(), s.to);
    const std::uint8_t v = static_cast<std::uint8_t>(QString(s.to).toInt(nullptr, 16));
    EXPECT_EQ(port.TakeWire(), s.sends ? Frame({0x21, 0x43, v, 0x01}) : Bytes{});
}

INSTANTIATE_TEST_SUITE_P(
    Clamps, PwmRefSpin,
    ::testing::Values(PwmStep{"50", false, "50", false}, PwmStep{"B0", true, "B0", false},
                      PwmStep{"00", false, "50", true}, PwmStep{"00", true, "01", true},
                      PwmStep{"51", false, "50", true}, PwmStep{"AF", true, "B0", true},
                      PwmStep{"FF", true, "B0", true}, PwmStep{"FF", false, "FE", true},
                      PwmStep{"7F", true, "80", true}, PwmStep{"80", false, "7F", true}),
    [](const ::testing::TestParamInfo<PwmStep>& i) {
        return std::string(i.param.up ? "up_from_" : "down_from_") + i.param.from;
    });

TEST_F(Adjust, PwmRefSendsOnlyTwoHexDigits) {
    // A half-typed value waits for its second digit.
    w().pwm_ref->clear();
    QTest::keyClicks(w().pwm_ref, "c");
    EXPECT_TRUE(port.TakeWire().empty());
    // The keyboard takes only hex digits.
    QTest::keyClicks(w().pwm_ref, "xg-");
    EXPECT_EQ(w().pwm_ref->text(), "c");
    EXPECT_TRUE(port.TakeWire().empty());
    QTest::keyClicks(w().pwm_ref, "3");
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x43, 0xC3, 0x01}));
    Answer({0xA0, 0x43, 0xC3, 0x01});

    // A text that is not hex (code can put one there) sends nothing, and the spin leaves it.
    w().pwm_ref->setText("G1");
    EXPECT_TRUE(port.TakeWire().empty());
    w().CSpinButton5->UpClick();
    EXPECT_EQ(w().pwm_ref->text(), "G1");
    EXPECT_TRUE(port.TakeWire().empty());
}

// ---- the delay digits -----------------------------------------------------------------------

struct DigitStep {
    const char* name;
    widgets::THexEdit* AdjustPage::*field;
    widgets::TCSpinButton* AdjustPage::*spin;
    const char* from;
    bool up;
    const char* to;
    Bytes frame;  ///< empty when nothing is sent
};

class DelaySpin : public Adjust, public ::testing::WithParamInterface<DigitStep> {};

TEST_P(DelaySpin, StepsOneDigitWithinZeroToF) {
    const DigitStep& s = GetParam();
    for (widgets::THexEdit* f : {w().rg_delay, w().rg_width, w().shp_delay, w().shd_delay}) Preset(f, "0");
    Preset(w().*(s.field), s.from);
    if (s.up) {
        (w().*(s.spin))->UpClick();
    } else {
        (w().*(s.spin))->DownClick();
    }
    EXPECT_EQ((w().*(s.field))->text(), s.to);
    EXPECT_EQ(port.TakeWire(), s.frame);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, DelaySpin,
    ::testing::Values(
        DigitStep{"rg_delay F up stays", &AdjustPage::rg_delay, &AdjustPage::CSpinButton1, "F", true, "F", {}},
        DigitStep{"rg_delay 0 down stays", &AdjustPage::rg_delay, &AdjustPage::CSpinButton1, "0", false, "0", {}},
        DigitStep{"rg_width E up", &AdjustPage::rg_width, &AdjustPage::CSpinButton2, "E", true, "F",
                  Frame({0x21, 0x42, 0xF0, 0x00, 0x01})},
        DigitStep{"shp_delay A down", &AdjustPage::shp_delay, &AdjustPage::CSpinButton3, "A", false, "9",
                  Frame({0x21, 0x42, 0x00, 0x90, 0x01})},
        DigitStep{"shd_delay 7 up", &AdjustPage::shd_delay, &AdjustPage::CSpinButton4, "7", true, "8",
                  Frame({0x21, 0x42, 0x08, 0x00, 0x01})},
        DigitStep{"shd_delay lower case b down", &AdjustPage::shd_delay, &AdjustPage::CSpinButton4, "b", false, "A",
                  Frame({0x21, 0x42, 0x0A, 0x00, 0x01})}),
    [](const ::testing::TestParamInfo<DigitStep>& i) { return RowName(i.param.name); });

TEST_F(Adjust, DelayDigitsSendNothingUnlessAllFourAreOneHexDigit) {
    w().rg_delay->clear();
    EXPECT_TRUE(port.TakeWire().empty());
    QTest::keyClicks(w().rg_delay, "g");  // refused at the keyboard
    EXPECT_EQ(w().rg_delay->text(), "");
    w().rg_width->setText("Z");  // not hex, from code
    w().rg_delay->setText("4");
    EXPECT_TRUE(port.TakeWire().empty());
    w().CSpinButton2->UpClick();
    EXPECT_EQ(w().rg_width->text(), "Z");
    EXPECT_TRUE(port.TakeWire().empty());
    w().rg_width->setText("3");
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x42, 0x30, 0x04, 0x01}));
}

// ---- hue bars ----------------------------------------------------------------------------------

TEST_F(Adjust, HueWordKeepsTheCamerasBitsAndCarriesSignAndMagnitude) {
    Shadow(0x2E) = 0x0A10;
    w().RYN->setValue(-16);
    EXPECT_TRUE(window->TimerRYN->isActive());
    EXPECT_TRUE(port.TakeWire().empty());  // the timer sends, not the change
    w().TimerRYNTimer();
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x0B, 0x2E, 0x0B, 0x10}));
    EXPECT_FALSE(window->TimerRYN->isActive());
    EXPECT_EQ(w().RYN_DATA->text(), "-16");
    EXPECT_EQ(Shadow(0x2E), 0x0B10);
    Answer({0xA0, 0x0B, 0x2E, 0x0B, 0x10});

    w().RYN->setValue(16);
    w().TimerRYNTimer();
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x0B, 0x2E, 0x0A, 0x10}));
    EXPECT_EQ(w().RYN_DATA->text(), "16");
    EXPECT_EQ(Shadow(0x2E), 0x0A10);
}

TEST_F(Adjust, HueWordsComeFromTheRegisterShadowNeverFromACopy) {
    // A copy's words sit in their own image; the hue bars never take bits from there.
    for (int r = 0x2C; r <= 0x2F; ++r) window->Engine().Copy()[static_cast<std::size_t>(r)] = 0xFE00;
    Shadow(0x2D) = 0x0200;
    w().BYP->setValue(-3);
    w().TimerBYPTimer();
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x0B, 0x2D, 0x03, 0x03}));
    EXPECT_EQ(window->Engine().Copy()[0x2D], 0xFE00);
}

struct HueBarRow {
    const char* name;
    QSlider* AdjustPage::*bar;
    void (AdjustPage::*tick)();
    QLineEdit* AdjustPage::*data;
    std::uint8_t reg;
};

class HueBars : public Adjust, public ::testing::WithParamInterface<HueBarRow> {};

TEST_P(HueBars, ArmDuringALoadAndRetryUntilTheLinkIsIdle) {
    const HueBarRow& h = GetParam();
    EXPECT_EQ((w().*(h.data))->text(), QString(h.name).left(2) + (QString(h.name).endsWith('P') ? "+" : "-"));
    window->ReLoadClick();  // a load chain runs
    ASSERT_NE(window->LoadStep(), 0);
    port.TakeWire();
    (w().*(h.bar))->setValue(40);
    QTimer* timer = window->findChild<QTimer*>(QString("Timer") + h.name);
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 200);
    EXPECT_TRUE(timer->isActive());
    (w().*(h.bar))->setValue(41);  // already armed: the interval runs from the first change
    (w().*(h.tick))();             // busy: stays armed and tries again
    EXPECT_TRUE(timer->isActive());
    EXPECT_TRUE(port.TakeWire().empty());
    FinishChain();
    port.TakeWire();
    (w().*(h.tick))();
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x0B, h.reg, 0x00, 41}));
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ((w().*(h.data))->text(), "41");
}

INSTANTIATE_TEST_SUITE_P(
    Bars, HueBars,
    ::testing::Values(HueBarRow{"RYP", &AdjustPage::RYP, &AdjustPage::TimerRYPTimer, &AdjustPage::RYP_DATA, 0x2C},
                      HueBarRow{"BYP", &AdjustPage::BYP, &AdjustPage::TimerBYPTimer, &AdjustPage::BYP_DATA, 0x2D},
                      HueBarRow{"RYN", &AdjustPage::RYN, &AdjustPage::TimerRYNTimer, &AdjustPage::RYN_DATA, 0x2E},
                      HueBarRow{"BYN", &AdjustPage::BYN, &AdjustPage::TimerBYNTimer, &AdjustPage::BYN_DATA, 0x2F}),
    [](const ::testing::TestParamInfo<HueBarRow>& i) { return std::string(i.param.name); });

TEST_F(Adjust, ARegisterReadOnTheDebugPageMovesTheBarAndIsWrittenBackOnce) {
    window->PageControl1->setCurrentIndex(Tab(link::Page::Debug));
    FinishChain();
    port.TakeWire();
    window->Debug().DspAdr->setCurrentIndex(0x2C);
    ASSERT_EQ(port.TakeWire(), Frame({0x31, 0x0A, 0x2C}));
    Answer({0xA0, 0x0A, 0x2C, 0xFE, 0x05});  // bits 9..15 set, +5
    EXPECT_EQ(w().RYP->value(), 5);
    EXPECT_TRUE(window->TimerRYP->isActive());
    w().TimerRYPTimer();
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x0B, 0x2C, 0xFE, 0x05}));
    Answer({0xA0, 0x0B, 0x2C, 0xFE, 0x05});
    EXPECT_FALSE(window->TimerRYP->isActive());
    w().TimerRYPTimer();  // a late tick finds nothing to send
    EXPECT_TRUE(port.TakeWire().empty());
}

// ---- replies --------------------------------------------------------------------------------

TEST_F(Adjust, WriteBackSendsRegisters43To47FromTheShadowThenShowsTheCopyPage) {
    const int words[5] = {0x1234, 0x0120, 0x0318, 0xFE10, 0x0005};
    for (int i = 0; i < 5; ++i) {
        Shadow(43 + i) = words[i];
        window->Engine().Copy()[static_cast<std::size_t>(43 + i)] = 0x7777;  // a copy's words stay out of it
    }
    link::Payload start;
    start[1] = 0x21;
    start[2] = 0x41;
    window->Link().StxCommand(start, 3);
    port.TakeWire();
    Bytes got = Answer({0xA0, 0x41, 0x00});
    for (int r = 43; r <= 47; ++r) {
        const auto hi = static_cast<std::uint8_t>(words[r - 43] >> 8);
        const auto lo = static_cast<std::uint8_t>(words[r - 43] & 0xFF);
        ASSERT_EQ(got, AckThen(Frame({0x21, 0x0A, static_cast<std::uint8_t>(r), hi, lo}))) << "register " << r;
        EXPECT_EQ(window->PageControl1->currentIndex(), Tab(link::Page::Adjust));
        got = Answer({0xA0, 0x0A, static_cast<std::uint8_t>(r), hi, lo});
    }
    // The last echo sends nothing of the page's own; the Copy page reads its registers.
    EXPECT_EQ(window->PageControl1->currentIndex(), Tab(link::Page::Copy));
    EXPECT_EQ(got, AckThen(Frame({0x31, 0x0A, 0x01})));
    EXPECT_TRUE(window->Messages.empty());
}

TEST_F(Adjust, ReloadRequestReadsThePageAgain) {
    link::Payload p;
    p[1] = 0x21;
    p[2] = 0x41;
    p[3] = 0x01;
    window->Link().StxCommand(p, 3);
    port.TakeWire();
    EXPECT_EQ(Answer({0xA0, 0x41, 0x01}), AckThen(Frame({0x31, 0x0A, 0x01})));
    EXPECT_NE(window->LoadStep(), 0);
}

TEST_F(Adjust, AnErrorReplyIsReported) {
    w().pre_56->click();
    port.TakeWire();
    EXPECT_EQ(Answer({0xE1, 0x30, 0x01, 0x01}), Ack());
    ASSERT_EQ(window->Messages.size(), 1u);
    EXPECT_EQ(window->Messages[0].text, " Error ");
    EXPECT_EQ(window->Messages[0].caption, "ERR");
}

TEST_F(Adjust, PresetButtonsFollowWbSelAfterEachReply) {
    w().wb_sel->setChecked(false);
    port.TakeWire();
    Answer({0xA0, 0x1B, 0x00, 0x01});
    for (QPushButton* b : {w().pre_32, w().pre_56, w().pre_awc}) EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    w().wb_sel->setChecked(true);
    port.TakeWire();
    Answer({0xA0, 0x1B, 0x00, 0x00});
    for (QPushButton* b : {w().pre_32, w().pre_56, w().pre_awc}) EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
}

TEST_F(Adjust, TheLoadChainShowsTheCamerasValuesWithoutSendingThemBack) {
    window->ReLoadClick();
    const std::vector<std::pair<Bytes, std::vector<std::uint8_t>>> chain = {
        {Frame({0x31, 0x0A, 0x01}), {0xA0, 0x0A, 0x01, 0x40, 0x00}},
        {Frame({0x31, 0x0A, 0x40}), {0xA0, 0x0A, 0x40, 0x00, 0x00}},
        {Frame({0x31, 0x42}), {0xA0, 0x42, 0x12, 0xAB}},
        {Frame({0x31, 0x1B, 0x00}), {0xA0, 0x1B, 0x00, 0x01}},
        {Frame({0x31, 0x1B, 0x01}), {0xA0, 0x1B, 0x01, 0x02}},
        {Frame({0x31, 0x43}), {0xA0, 0x43, 0x7C}},
        {Frame({0x31, 0x45, 0x04}), {0xA0, 0x45, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1}},
    };
    Bytes wire = port.TakeWire();
    for (const auto& [request, reply] : chain) {
        ASSERT_EQ(wire, request);
        port.TakeWire();
        Bytes bytes{link::ACK};
        link::Payload p;
        for (std::size_t i = 0; i < reply.size(); ++i) p[static_cast<int>(i) + 1] = reply[i];
        const link::FrameBytes f = link::BuildStxFrame(p, static_cast<int>(reply.size()));
        bytes.insert(bytes.end(), f.begin(), f.end());
        Feed(bytes);
        wire = port.TakeWire();
        ASSERT_FALSE(wire.empty());
        wire.erase(wire.begin());  // the ACK of the reply
    }
    EXPECT_TRUE(wire.empty()) << "nothing is sent back once the chain ends";
    EXPECT_EQ(window->LoadStep(), 0);
    EXPECT_EQ(w().rg_width->text(), "1");
    EXPECT_EQ(w().shd_delay->text(), "2");
    EXPECT_EQ(w().shp_delay->text(), "A");
    EXPECT_EQ(w().rg_delay->text(), "B");
    EXPECT_FALSE(w().wb_sel->isChecked());
    EXPECT_FALSE(w().pre_32->isEnabled());
    EXPECT_EQ(w().pwm_ref->text(), "7C");
    EXPECT_EQ(w().shut_disp_sel->ItemIndex(), 1);
    EXPECT_EQ(w().sync_disp_sel->ItemIndex(), 1);
    EXPECT_EQ(w().Peak_disp_sel->ItemIndex(), 1);
}

// ---- against the virtual camera ------------------------------------------------------------

class AdjustOnCamera : public CameraWindow {};

TEST_F(AdjustOnCamera, EveryControlReachesTheCameraAndTheWriteBackEndsOnTheCopyPage) {
    Start(link::ToolMode::Dbg);
    ASSERT_TRUE(WaitFor([&] { return window->PageControl1->isEnabled() && Settled(); }));
    camera->WithModel([](camera::CameraModel& m) {
        m.SetRegister(0x2B, 0x0321);  // a colour-matrix value not yet in memory
        return 0;
    });
    window->PageControl1->setCurrentIndex(Tab(link::Page::Adjust));
    ASSERT_TRUE(WaitFor([&] { return Settled(); }));
    AdjustPage& a = window->Adjust();
    EXPECT_EQ(a.pwm_ref->text(), "80");
    EXPECT_EQ(a.rg_width->text() + a.shd_delay->text() + a.shp_delay->text() + a.rg_delay->text(), "2345");

    // The colour-matrix registers into the shadow; the hue bars move and write their words back.
    for (std::uint8_t r = 43; r <= 47; ++r) Send({0x31, 0x0A, r});
    ASSERT_TRUE(WaitFor([&] { return Settled() && window->Engine().Registers()[47] == 0x0105; }));
    EXPECT_EQ(a.RYN->value(), 16);
    EXPECT_EQ(a.BYN->value(), -5);

    a.RYN->setValue(-16);
    ASSERT_TRUE(CameraShows([](camera::CameraModel& m) { return m.Register(0x2E) == 0x0110; }));
    a.CSpinButton5->UpClick();
    ASSERT_TRUE(CameraShows([](camera::CameraModel& m) { return m.SettingByte(0x52) == 0x81; }));
    a.CSpinButton1->DownClick();  // rg_delay 5 -> 4
    ASSERT_TRUE(CameraShows([](camera::CameraModel& m) { return m.SettingByte(0x51) == 0x44; }));
    a.shut_disp_sel->SetItemIndex(1);
    ASSERT_TRUE(CameraShows([](camera::CameraModel& m) { return m.SettingByte(0x4A) == 1; }));
    a.hvpha_disp_sel->SetItemIndex(1);
    ASSERT_TRUE(CameraShows([](camera::CameraModel& m) { return m.SettingByte(0x4C) == 1; }));
    a.wb_sel->setChecked(!a.wb_sel->isChecked());
    const int wbMode = a.wb_sel->isChecked() ? 0 : 1;
    ASSERT_TRUE(CameraShows([wbMode](camera::CameraModel& m) { return m.SettingByte(0x1D) == wbMode; }));
    a.wb_sel->setChecked(true);
    ASSERT_TRUE(CameraShows([](camera::CameraModel& m) { return m.SettingByte(0x1D) == 0; }));
    a.pre_32->click();
    ASSERT_TRUE(CameraShows([](camera::CameraModel& m) { return m.ItemCount(0x30) == 1; }));
    a.rens_ref_read->click();
    ASSERT_TRUE(WaitFor([&] { return Settled() && a.lens_ref->text() == "-10"; }));

    // The write-back puts the shadow into the camera's memory and shows the Copy page.
    Send({0x21, 0x41, 0x00});
    ASSERT_TRUE(WaitFor([&] { return Settled() && window->ActivePage() == link::Page::Copy; }));
    const std::vector<int> memory = camera->WithModel([](camera::CameraModel& m) {
        std::vector<int> words;
        for (int r = 0x2B; r <= 0x2F; ++r) words.push_back(m.MemoryWord(r));
        return words;
    });
    EXPECT_EQ(memory, (std::vector<int>{0x0321, 0x0020, 0x0118, 0x0110, 0x0105}));
    EXPECT_TRUE(window->Messages.empty());
}

}  // namespace
}  // namespace tern::test
