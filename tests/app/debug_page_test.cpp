// The Debug page: the bytes each action puts on the wire, the hex fields'
// rules, and the read answers shown without being written back.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

#include "app/DebugPage.h"
#include "app/DspRegisters.h"
#include "app/MTern.h"
#include "app/window_fixture.h"
#include "widgets/HexEdit.h"
#include "widgets/RadioGroup.h"
#include "widgets/SpinButton.h"
#include "test_names.h"

namespace tern::test {
namespace {

using app::TFTern;

class DebugPage : public WindowTest {
protected:
    void SetUp() override { Ready(link::ToolMode::Dbg); }

    app::DebugPage& w() { return window->Debug(); }

    /// Chooses a register and answers its read with `value`.
    void ChooseRegister(int reg, int value) {
        w().DspAdr->setCurrentIndex(reg);
        ASSERT_EQ(port.TakeWire(), Frame({0x31, 0x0A, static_cast<std::uint8_t>(reg)}));
        Answer({0xA0, 0x0A, static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(value >> 8),
                static_cast<std::uint8_t>(value & 0xFF)});
    }

    /// Sets an address and answers its read with `value`.
    void ChooseAddress(const char* text, int address, int value) {
        w().eepadr->setText(text);
        ASSERT_EQ(port.TakeWire(), Frame({0x31, 0x0C, static_cast<std::uint8_t>(address >> 8),
                                          static_cast<std::uint8_t>(address & 0xFF)}));
        Answer({0xA0, 0x0C, static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF),
                static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF)});
    }
};

TEST_F(DebugPage, RegisterListHoldsAllRegistersInOrder) {
    ASSERT_EQ(w().DspAdr->count(), 228);
    EXPECT_EQ(w().DspAdr->currentIndex(), -1);
    EXPECT_EQ(w().DspAdr->itemText(0x23), "23 Rgain");
    EXPECT_EQ(w().DspAdr->itemText(0xE3), "E3 AGC TEST");
    for (int k = 0; k < app::kDspRegisterCount; ++k) {
        EXPECT_EQ(w().DspAdr->itemText(k).left(2).toInt(nullptr, 16), k);
    }
}

TEST_F(DebugPage, ChoosingARegisterReadsItAndShowsTheAnswerWithoutWritingBack) {
    w().DspAdr->setCurrentIndex(0x23);
    EXPECT_EQ(port.TakeWire(), Frame({0x31, 0x0A, 0x23}));
    EXPECT_EQ(Answer({0xA0, 0x0A, 0x23, 0x12, 0x34}), Ack());  // only the ACK: no write
    EXPECT_EQ(w().DspData->text(), "1234");
    EXPECT_FALSE(w().DspDataSkip());
    EXPECT_EQ(window->Engine().Registers()[0x23], 0x1234);

    // The same value again changes nothing and leaves no flag behind, so the
    // user's next edit goes out.
    w().DspAdr->setCurrentIndex(0x24);
    port.TakeWire();
    Answer({0xA0, 0x0A, 0x24, 0x12, 0x34});
    EXPECT_FALSE(w().DspDataSkip());
    w().DspAdr->blockSignals(true);
    w().DspAdr->setCurrentIndex(0x23);
    w().DspAdr->blockSignals(false);
    w().DspData->setText("1235");
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x0A, 0x23, 0x12, 0x35}));
}

TEST_F(DebugPage, AnAnswerForAnotherRegisterChangesNothing) {
    ChooseRegister(0x13, 0x0000);
    EXPECT_EQ(w().DspData->text(), "0000");
    w().SendBuffer->setText("31 0A 12");
    w().RamSendClick();
    port.TakeWire();
    Answer({0xA0, 0x0A, 0x12, 0x55, 0xAA});
    EXPECT_EQ(w().DspData->text(), "0000");
    EXPECT_FALSE(w().DspDataSkip());
    w().DspData->setText("0001");
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x0A, 0x13, 0x00, 0x01}));
}

TEST_F(DebugPage, AnAnswerArrivingDuringAChainIsNotWrittenBackLater) {
    // The Debug page's own chain reads register 1 while the list shows it:
    // the answer lands in DspData while the link is busy, and must not leave
    // the skip flag raised to swallow the user's next edit.
    w().DspAdr->blockSignals(true);
    w().DspAdr->setCurrentIndex(0x01);
    w().DspAdr->blockSignals(false);
    window->ReLoadClick();
    port.TakeWire();
    Answer({0xA0, 0x0A, 0x01, 0x40, 0x00});
    EXPECT_EQ(w().DspData->text(), "4000");
    EXPECT_FALSE(w().DspDataSkip());
    FinishChain();
    port.TakeWire();
    w().DspData->setText("4001");
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x0A, 0x01, 0x40, 0x01}));
}

TEST_F(DebugPage, WritingARegisterTakesFourHexDigits) {
    ChooseRegister(0x23, 0x0000);
    w().NoWrite->setChecked(true);
    w().DspData->clear();
    QTest::keyClicks(w().DspData, "018");
    EXPECT_TRUE(port.wire.empty());
    QTest::keyClicks(w().DspData, "0");
    EXPECT_EQ(w().DspData->text(), "0180");
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x0B, 0x23, 0x01, 0x80}));
    Answer({0xA0, 0x0B, 0x23, 0x01, 0x80});

    // A typing slip is refused by the field, never sent as FFFF.
    w().NoWrite->setChecked(false);
    w().DspData->clear();
    QTest::keyClicks(w().DspData, "0g1z8o0");
    EXPECT_EQ(w().DspData->text(), "0180");
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x0A, 0x23, 0x01, 0x80}));
}

TEST_F(DebugPage, WritesWaitForARegisterAndAnIdleLink) {
    w().DspData->setText("1234");  // no register chosen
    EXPECT_TRUE(port.wire.empty());
    ChooseRegister(0x30, 0x0000);
    window->ReLoadClick();  // a chain runs: the link is busy
    port.TakeWire();
    w().DspData->setText("5678");
    EXPECT_TRUE(port.wire.empty());
}

TEST_F(DebugPage, SpinStepsTheMaskedBitsOnly) {
    ChooseRegister(0x23, 0x12F3);
    w().DspRadix->setText("00f0");
    EXPECT_EQ(w().DspRadix->text(), "00F0");
    w().DspDatSpin->UpClick();
    EXPECT_EQ(w().DspData->text(), "1203");
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x0A, 0x23, 0x12, 0x03}));
    Answer({0xA0, 0x0A, 0x23, 0x12, 0x03});
    w().DspDatSpin->DownClick();
    EXPECT_EQ(w().DspData->text(), "12F3");
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x0A, 0x23, 0x12, 0xF3}));
}

TEST_F(DebugPage, SpinDoesNothingWithoutACompleteValue) {
    w().DspAdr->setCurrentIndex(0x23);
    port.TakeWire();
    Answer({0xA8, 0x0A, 0x23, 0x00, 0x00});  // refused: DspData stays empty
    ASSERT_EQ(w().DspData->text(), "");
    w().DspDatSpin->UpClick();
    w().DspDatSpin->DownClick();
    EXPECT_EQ(w().DspData->text(), "");
    w().DspData->setText("12");
    w().DspDatSpin->UpClick();
    EXPECT_EQ(w().DspData->text(), "12");
    EXPECT_TRUE(port.wire.empty());
}

TEST_F(DebugPage, AddressSpinStepsAShortAddress) {
    w().eepadr->setText("1A0");  // three digits: not read yet
    EXPECT_TRUE(port.wire.empty());
    w().CSpinButton6->UpClick();
    EXPECT_EQ(w().eepadr->text(), "01A1");
    EXPECT_EQ(port.TakeWire(), Frame({0x31, 0x0C, 0x01, 0xA1}));
}

TEST_F(DebugPage, AddressSpinWrapsAndReads) {
    ChooseAddress("01FF", 0x1FF, 0xBEEF);
    EXPECT_EQ(w().Eepdata->text(), "BEEF");
    EXPECT_FALSE(w().EepDataSkip());
    w().CSpinButton6->UpClick();
    EXPECT_EQ(w().eepadr->text(), "0000");
    EXPECT_EQ(port.TakeWire(), Frame({0x31, 0x0C, 0x00, 0x00}));
    Answer({0xA0, 0x0C, 0x00, 0x00, 0x12, 0x34});
    w().CSpinButton6->DownClick();
    EXPECT_EQ(w().eepadr->text(), "01FF");
    EXPECT_EQ(port.TakeWire(), Frame({0x31, 0x0C, 0x01, 0xFF}));
}

TEST_F(DebugPage, WordSpinWritesWithinTheMemoryOnly) {
    ChooseAddress("0010", 0x010, 0xFFFF);
    w().EEP_RAM->setChecked(true);
    w().CSpinButton7->UpClick();
    EXPECT_EQ(w().Eepdata->text(), "0000");
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x0F, 0x00, 0x10, 0x00, 0x00}));
    Answer({0xA0, 0x0F, 0x00, 0x10, 0x00, 0x00});

    // Beyond the 512 words: the read goes out and the camera's error reply
    // tells the user; the data spin and field write nothing.
    w().eepadr->setText("0200");
    EXPECT_EQ(port.TakeWire(), Frame({0x31, 0x0C, 0x02, 0x00}));
    Answer({0xE1, 0x0C});
    ASSERT_EQ(window->Messages.size(), 1u);
    EXPECT_EQ(window->Messages[0].text, " Error ");
    EXPECT_EQ(window->Messages[0].caption, "ERR");
    w().CSpinButton7->UpClick();
    EXPECT_EQ(w().Eepdata->text(), "0000");
    w().Eepdata->setText("1111");
    EXPECT_TRUE(port.wire.empty());
    // Nor with an address that does not read as a number.
    w().eepadr->setText("");
    w().CSpinButton6->UpClick();
    EXPECT_EQ(w().eepadr->text(), "");
    EXPECT_TRUE(port.wire.empty());
}

TEST_F(DebugPage, MemoryAnswerIsShownForTheAddressInEitherCase) {
    for (const char* shown : {"01a0", "1A0"}) {
        port.TakeWire();
        w().eepadr->setText(shown);  // four digits read the word; the short form reads nothing
        if (port.wire.empty()) {
            w().SendBuffer->setText("31 0C 01 A0");
            w().RamSendClick();
        }
        Answer({0xA0, 0x0C, 0x01, 0xA0, 0x00, static_cast<std::uint8_t>(shown[0] == '0' ? 0x11 : 0x22)});
        EXPECT_EQ(w().Eepdata->text(), shown[0] == '0' ? "0011" : "0022") << shown;
        EXPECT_FALSE(w().EepDataSkip());
    }
    // An answer for another address is not shown.
    w().SendBuffer->setText("31 0C 01 A1");
    w().RamSendClick();
    Answer({0xA0, 0x0C, 0x01, 0xA1, 0x00, 0x33});
    EXPECT_EQ(w().Eepdata->text(), "0022");
}

TEST_F(DebugPage, OsdDataInEightAndSixteenBits) {
    w().OSD->SetItemIndex(0);
    w().osdt->setText("12AB");
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x0E, 0x00, 0xAB}));
    Answer({0xA0, 0x0E});
    w().OSD->SetItemIndex(1);
    w().osdt->setText("12A");
    EXPECT_TRUE(port.wire.empty());
    w().osdt->setText("12AB");
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x0E, 0x01, 0x12, 0xAB}));
}

struct RawCase {
    const char* text;
    Bytes payload;
};

class RawCommand : public DebugPage, public ::testing::WithParamInterface<RawCase> {};

TEST_P(RawCommand, SendsTheTypedBytesAsAFullPayload) {
    w().SendBuffer->setText(GetParam().text);
    w().RamSend->click();
    if (GetParam().payload.empty()) {
        EXPECT_TRUE(port.wire.empty());  // no bytes typed: nothing to send
        return;
    }
    link::Payload p;
    for (std::size_t i = 0; i < GetParam().payload.size(); ++i) p[static_cast<int>(i) + 1] = GetParam().payload[i];
    const link::FrameBytes f = link::BuildStxFrame(p, 15);
    EXPECT_EQ(port.TakeWire(), Bytes(f.begin(), f.end()));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RawCommand,
    ::testing::Values(RawCase{"21 32 04", {0x21, 0x32, 0x04}}, RawCase{"213204", {0x21, 0x32, 0x04}},
                      RawCase{"1 2", {0x01, 0x02}}, RawCase{"123", {0x12, 0x03}},
                      RawCase{"a-bc,D", {0x0A, 0xBC, 0x0D}}, RawCase{"", {}},
                      // the field's placeholder and other words are not commands
                      RawCase{"SendBuffer", {}}, RawCase{"21 3G 04", {}}, RawCase{" ,-", {}},
                      // digits past the fifteenth byte are left out
                      RawCase{"0102030405060708090A0B0C0D0E0F1011",
                              {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}}),
    [](const ::testing::TestParamInfo<RawCase>& i) { return *i.param.text == 0 ? std::string("empty") : RowName(i.param.text); });

TEST_F(DebugPage, PresetSaveAndMenuKeys) {
    w().PresetSave->click();
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x20, 0x01}));
    Feed(Ack());  // the camera ends a preset with its ACK; a reload follows later
    EXPECT_TRUE(window->ReloadTimer->isActive());
    window->ReloadTimer->stop();
    FinishChain();

    const struct {
        QPushButton* button;
        std::uint8_t key;
    } buttons[] = {{w().push_r, 0}, {w().push_l, 1}, {w().push_dn, 2}, {w().push_up, 3}, {w().push_ent, 4}};
    for (const auto& b : buttons) {
        port.TakeWire();
        b.button->click();
        EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x32, b.key})) << b.button->objectName().toStdString();
        Answer({0xA0, 0x32});
    }
}

TEST_F(DebugPage, KeysTypedOnAKeyButtonPressTheCameraKeys) {
    const struct {
        char c;
        std::uint8_t key;
    } keys[] = {{'i', 3}, {'8', 3}, {'K', 2}, {'4', 1}, {'l', 0}, {'U', 4}, {'7', 4}};
    for (const auto& k : keys) {
        QTest::keyClick(w().push_ent, k.c);
        EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x32, k.key})) << k.c;
        Answer({0xA0, 0x32});
    }
    QTest::keyClick(w().push_up, 'x');
    EXPECT_TRUE(port.wire.empty());
    // The same letters typed elsewhere are just letters.
    w().SendBuffer->clear();
    QTest::keyClicks(w().SendBuffer, "i");
    EXPECT_EQ(w().SendBuffer->text(), "i");
    EXPECT_TRUE(port.wire.empty());
}

TEST_F(DebugPage, ErrorReplyShowsTheErrorBox) {
    w().DspAdr->setCurrentIndex(0x10);
    port.TakeWire();
    Answer({0xE0, 0x0A, 0x10, 0x00, 0x00});
    ASSERT_EQ(window->Messages.size(), 1u);
    EXPECT_EQ(window->Messages[0].text, " Error ");
    EXPECT_EQ(window->Messages[0].caption, "ERR");
    EXPECT_EQ(w().DspData->text(), "");
}

TEST_F(DebugPage, ResetOnTheDebugPageEndsWithTheAckAndNoReload) {
    window->ResetButton->click();
    EXPECT_EQ(port.TakeWire(), Frame({0xF1}));
    window->PageControl1->setEnabled(false);
    Feed(Ack());
    EXPECT_TRUE(window->PageControl1->isEnabled());
    EXPECT_FALSE(window->ReloadTimer->isActive());
    EXPECT_TRUE(window->Link().Trans_chk());
}

}  // namespace
}  // namespace tern::test
