// The Setup1 and Setup2 pages on the real window: the bytes each control
// sends, the throttles driven through their tick handlers, the reply
// handlers (refusal, error, reload, preset lock), and the load chains against
// the virtual camera over a pseudo-terminal.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <vector>
#include <string>

#include "app/MTern.h"
#include "app/window_fixture.h"
#include "camera/pty_camera.h"
#include "controls/Cmask.h"
#include "controls/Setup1Page.h"
#include "controls/Setup2Page.h"
#include "transfer/Settings.h"
#include "widgets/Apply.h"
#include "widgets/HexEdit.h"
#include "widgets/RadioGroup.h"

namespace tern::test {
namespace {

using app::TFTern;
using controls::Setup1Page;
using controls::Setup2Page;
using transfer::Control;

/// Sets a radio group without raising its click (the state a reply would leave).
void Quietly(widgets::TRadioGroup* g, int index) {
    g->blockSignals(true);
    g->SetItemIndex(index);
    g->blockSignals(false);
}

// ---- byte-exact sends, one row per control ----------------------------------------------------

struct SendRow {
    const char* name;
    std::function<void(TFTern&)> act;
    Bytes payload;
};

class SetupSends : public WindowTest, public ::testing::WithParamInterface<SendRow> {};

TEST_P(SetupSends, SendsExactlyTheCatalogueBytes) {
    Ready(link::ToolMode::Apl);
    const SendRow& row = GetParam();
    row.act(*window);
    Bytes expected = Frame({});
    {
        link::Payload p;
        for (std::size_t i = 0; i < row.payload.size(); ++i) p[i + 1] = row.payload[i];
        const link::FrameBytes f = link::BuildStxFrame(p, static_cast<int>(row.payload.size()));
        expected.assign(f.begin(), f.end());
    }
    EXPECT_EQ(port.TakeWire(), expected);
    EXPECT_TRUE(window->Messages.empty());
}

Setup1Page& S1(TFTern& w) { return w.Setup1(); }
Setup2Page& S2(TFTern& w) { return w.Setup2(); }

const SendRow kSendRows[] = {
    {"Ctitle_ON", [](TFTern& w) { S1(w).Ctitle->SetItemIndex(1); }, {0x21, 0x10, 0x00, 0x01}},
    {"CName_Cam01",
     [](TFTern& w) {
         S1(w).CName->setText("Cam-01");
         S1(w).TitleTimerTimer();
     },
     {0x21, 0x10, 0x01, 0x13, 0x51, 0x5D, 0x0D, 0x00, 0x01, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E}},
    {"CName_UnmappableIsBlank",
     [](TFTern& w) {
         S1(w).CName->setText("a=b");
         S1(w).TitleTimerTimer();
     },
     {0x21, 0x10, 0x01, 0x51, 0x7E, 0x52, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E}},
    {"Ctitlepos_LowerRight", [](TFTern& w) { S1(w).Ctitlepos->setCurrentIndex(3); }, {0x21, 0x10, 0x03, 0x03}},
    {"SenseUp_x128", [](TFTern& w) { S1(w).SenseUp->setCurrentIndex(12); }, {0x21, 0x11, 0x0C}},
    {"Lens_ELC", [](TFTern& w) { S1(w).Lens->SetItemIndex(1); }, {0x21, 0x12, 0x01}},
    {"Shutter_1_12000", [](TFTern& w) { S1(w).Shutter->setCurrentIndex(15); }, {0x21, 0x15, 0x0F}},
    {"ELCLVL_tick",
     [](TFTern& w) {
         S1(w).ELCLVL->setValue(7);
         S1(w).LensTimerTimer();
     },
     {0x21, 0x17, 0x07}},
    {"BLC_ON", [](TFTern& w) { S1(w).BLC->SetItemIndex(1); }, {0x21, 0x18, 0x00, 0x01}},
    {"BlcPreset_on", [](TFTern& w) { S1(w).BlcPreset->setChecked(true); }, {0x21, 0x18, 0x01, 0x01}},
    {"BLCCheck09_tick",
     [](TFTern& w) {
         S1(w).BLCCheck[8]->setChecked(true);
         S1(w).BLCAreaTimerTimer();
     },
     {0x21, 0x19, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}},
    {"AGC_SEL_MANUAL", [](TFTern& w) { S1(w).AGC_SEL->SetItemIndex(2); }, {0x21, 0x1A, 0x00, 0x02}},
    {"AGC_MAX_tick",
     [](TFTern& w) {
         S1(w).AGC_MAX->setValue(8);
         S1(w).AGCTimerTimer();
     },
     {0x21, 0x1A, 0x01, 0x08}},
    {"AGC_MAN_tick",
     [](TFTern& w) {
         S1(w).AGC_MAN->setValue(5);
         S1(w).AGCManTimerTimer();
     },
     {0x21, 0x1A, 0x02, 0x05}},
    {"wb_select_MANUAL", [](TFTern& w) { S1(w).wb_select->SetItemIndex(2); }, {0x21, 0x1B, 0x00, 0x02}},
    {"WB_preset_User", [](TFTern& w) { S1(w).WB_preset->SetItemIndex(2); }, {0x21, 0x1B, 0x01, 0x02}},
    {"Rgain_tick",
     [](TFTern& w) {
         S1(w).Rgain->setValue(6);
         S1(w).RTimerTimer();
     },
     {0x21, 0x1B, 0x02, 0x06}},
    {"BGain_tick",
     [](TFTern& w) {
         S1(w).BGain->setValue(2);
         S1(w).BTimerTimer();
     },
     {0x21, 0x1B, 0x03, 0x02}},
    {"AWC_push", [](TFTern& w) { S1(w).AWCClick(); }, {0x21, 0x1B, 0x04}},
    {"Sync_VBS", [](TFTern& w) { S1(w).Sync->SetItemIndex(2); }, {0x21, 0x1C, 0x00, 0x02}},
    {"v_pha_lvl_300",
     [](TFTern& w) {
         S1(w).v_pha_lvl->setMaximum(0x200);
         S1(w).v_pha_lvl->setValue(300);
         S1(w).v_pha_timerTimer();
         EXPECT_EQ(S1(w).v_data->text(), "012C");
     },
     {0x21, 0x1C, 0x01, 0x01, 0x2C}},
    {"h_pha_lvl_44",
     [](TFTern& w) {
         S1(w).h_pha_lvl->setMaximum(0xC8);
         S1(w).h_pha_lvl->setValue(44);
         S1(w).h_pha_timerTimer();
         EXPECT_EQ(S1(w).h_data->text(), "002C");
     },
     {0x21, 0x1C, 0x02, 0x2C}},
    {"MaskA_on", [](TFTern& w) { S1(w).MaskA->setChecked(true); }, {0x21, 0x1D, 0x00, 0x01}},
    {"MaskD_on", [](TFTern& w) { S1(w).MaskD->setChecked(true); }, {0x21, 0x1D, 0x03, 0x01}},
    {"Nega_on", [](TFTern& w) { S1(w).Nega->setChecked(true); }, {0x21, 0x1D, 0x04, 0x01}},
    {"Mirror_on", [](TFTern& w) { S1(w).Mirror->setChecked(true); }, {0x21, 0x1D, 0x05, 0x01}},
    {"Priority_SenseAGC", [](TFTern& w) { S1(w).Priority->SetItemIndex(1); }, {0x21, 0x1D, 0x06, 0x01}},
    {"v_rev_on", [](TFTern& w) { S1(w).v_rev->setChecked(true); }, {0x21, 0x1D, 0x07, 0x01}},
    {"Freeze_on", [](TFTern& w) { S1(w).Freeze->setChecked(true); }, {0x21, 0x1D, 0x08, 0x01}},
    {"Frz_type_Frame", [](TFTern& w) { S1(w).Frz_type->SetItemIndex(1); }, {0x21, 0x1D, 0x09, 0x01}},
    {"Save", [](TFTern& w) { S1(w).Save->click(); }, {0x21, 0x1E}},
    {"Zoom_ON", [](TFTern& w) { S1(w).Zoom->SetItemIndex(1); }, {0x21, 0x1F, 0x00, 0x01}},
    {"ZoomBar_tick_then_Zoomlvl",
     [](TFTern& w) {
         Quietly(S1(w).Zoom, 1);
         S1(w).ZoomBar->setValue(128);
         S1(w).ZoomTimerTimer();
         EXPECT_EQ(S1(w).Zoomlvl->text(), "80");
     },
     {0x21, 0x1F, 0x01, 0x00, 0x80}},
    {"Preset", [](TFTern& w) { S1(w).Preset->click(); }, {0x21, 0x20, 0x00}},
    {"PEAK_LVL_tick",
     [](TFTern& w) {
         S1(w).PEAK_LVL->setValue(3);
         S1(w).PEAKTimerTimer();
     },
     {0x21, 0x22, 0x03}},
    // Setup2
    {"gamma_1_00", [](TFTern& w) { S2(w).gamma->SetItemIndex(1); }, {0x21, 0x1D, 0x14, 0x01}},
    {"apc_pre", [](TFTern& w) { S2(w).apc_pre->click(); }, {0x21, 0x1D, 0x15, 0x00, 0x01}},
    {"enh_h_tick",
     [](TFTern& w) {
         S2(w).enh_h->setValue(18);
         S2(w).enh_h_timerTimer();
     },
     {0x21, 0x1D, 0x15, 0x01, 0x12}},
    {"enh_v_tick",
     [](TFTern& w) {
         S2(w).enh_v->setValue(4);
         S2(w).enh_v_timerTimer();
     },
     {0x21, 0x1D, 0x15, 0x02, 0x04}},
    {"knee_lvl_tick",
     [](TFTern& w) {
         S2(w).knee_lvl->setValue(11);
         S2(w).kneeTimerTimer();
     },
     {0x21, 0x1D, 0x16, 0x0B}},
    {"color_bar_on", [](TFTern& w) { S2(w).color_bar->setChecked(true); }, {0x21, 0x1D, 0x17, 0x01}},
    {"save2", [](TFTern& w) { S2(w).save2->click(); }, {0x21, 0x1E}},
    {"preset2", [](TFTern& w) { S2(w).preset2->click(); }, {0x21, 0x20, 0x00}},
    {"MoDetect_ON", [](TFTern& w) { S2(w).MoDetect->SetItemIndex(1); }, {0x21, 0x47, 0x00, 0x01}},
    {"MoPre_on", [](TFTern& w) { S2(w).MoPre->setChecked(true); }, {0x21, 0x47, 0x01, 0x01}},
    {"MoLv_tick",
     [](TFTern& w) {
         S2(w).MoLv->setValue(8);
         S2(w).MoLvtimerTimer();
     },
     {0x21, 0x47, 0x02, 0x08}},
    {"MoTime_60sec", [](TFTern& w) { S2(w).MoTime->SetItemIndex(2); }, {0x21, 0x47, 0x03, 0x02}},
    {"MoCheck17", [](TFTern& w) { S2(w).MoCheck[16]->setChecked(true); }, {0x21, 0x48, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}},
    {"MoCheck01_and_48",
     [](TFTern& w) {
         S2(w).MoCheck[47]->blockSignals(true);
         S2(w).MoCheck[47]->setChecked(true);
         S2(w).MoCheck[47]->blockSignals(false);
         S2(w).MoCheck[0]->setChecked(true);
     },
     {0x21, 0x48, 0x01, 0x00, 0x00, 0x00, 0x00, 0x80}},
};

INSTANTIATE_TEST_SUITE_P(Catalogue, SetupSends, ::testing::ValuesIn(kSendRows),
                         [](const ::testing::TestParamInfo<SendRow>& i) { return std::string(i.param.name); });

// ---- what is not sent ----------------------------------------------------------------------------

class SetupPages : public WindowTest {
protected:
    Setup1Page& s1() { return window->Setup1(); }
    Setup2Page& s2() { return window->Setup2(); }
    /// Puts a frame in flight (SAVE), so the link is busy.
    void Busy() {
        s1().SaveClick();
        port.TakeWire();
        ASSERT_TRUE(window->Link().LinkBusy());
    }
};

TEST_F(SetupPages, ZoomLevelIsNotSentWhileZoomIsOff) {
    Ready(link::ToolMode::Apl);
    Quietly(s1().Zoom, 0);
    s1().ZoomBar->setValue(128);
    s1().ZoomTimerTimer();
    EXPECT_EQ(s1().Zoomlvl->text(), "80");
    EXPECT_TRUE(port.TakeWire().empty());
}

TEST_F(SetupPages, ZoomLevelTakesOnlyHexDigitsAndSendsNothingForOtherText) {
    Ready(link::ToolMode::Apl);
    Quietly(s1().Zoom, 1);
    s1().Zoomlvl->clear();
    port.TakeWire();
    s1().Zoomlvl->setEnabled(true);
    s1().Zoomlvl->show();
    QTest::keyClicks(s1().Zoomlvl, "g7");
    EXPECT_EQ(s1().Zoomlvl->text(), "7");
    EXPECT_TRUE(port.TakeWire().empty());  // one digit sends nothing
    s1().Zoomlvl->setText("ZZ");            // from code: not hexadecimal, nothing sent
    EXPECT_TRUE(port.TakeWire().empty());
}

TEST_F(SetupPages, ImmediateControlWhileBusyIsDroppedAndStaysChanged) {
    Ready(link::ToolMode::Apl);
    Busy();
    s1().Mirror->setChecked(true);
    s2().MoCheck[3]->setChecked(true);
    EXPECT_TRUE(port.TakeWire().empty());
    EXPECT_TRUE(s1().Mirror->isChecked());
    // The next successful click sends the whole area, the dropped cell included.
    Answer({0xA0, 0x1E});
    s2().MoCheck[4]->setChecked(true);
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x48, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

// ---- throttling ----------------------------------------------------------------------------------

TEST_F(SetupPages, FirstChangeArmsAndTheTickSendsTheValueOfItsMoment) {
    Ready(link::ToolMode::Apl);
    QTimer* t = window->AGCTimer;
    EXPECT_FALSE(t->isActive());
    s1().AGC_MAX->setValue(1);
    EXPECT_TRUE(t->isActive());
    EXPECT_TRUE(s1().Throttles().Armed(Control::AGC_MAX));
    for (int v = 2; v <= 8; ++v) s1().AGC_MAX->setValue(v);
    EXPECT_TRUE(port.TakeWire().empty());
    s1().AGCTimerTimer();
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x1A, 0x01, 0x08}));
    EXPECT_FALSE(t->isActive());
    EXPECT_FALSE(s1().Throttles().Armed(Control::AGC_MAX));
}

TEST_F(SetupPages, ABusyTickKeepsTheTimerAndTheNextOneSends) {
    Ready(link::ToolMode::Apl);
    Busy();
    s1().Rgain->setValue(7);
    s1().RTimerTimer();
    EXPECT_TRUE(port.TakeWire().empty());
    EXPECT_TRUE(window->RTimer->isActive());
    EXPECT_EQ(window->RTimer->interval(), 1000);
    EXPECT_TRUE(s1().Throttles().Armed(Control::Rgain));
    Answer({0xA0, 0x1E});
    s1().RTimerTimer();
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x1B, 0x02, 0x07}));
    EXPECT_FALSE(window->RTimer->isActive());
}

TEST_F(SetupPages, TheWindowTimerRunsTheTickOfADrag) {
    Ready(link::ToolMode::Apl);
    for (int v = 0; v <= 8; ++v) s1().AGC_MAX->setValue(v);
    EXPECT_EQ(window->AGCTimer->interval(), 300);
    ASSERT_TRUE(WaitFor([&] { return !port.wire.empty(); }, 3000));
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x1A, 0x01, 0x08}));
    EXPECT_FALSE(window->AGCTimer->isActive());
}

TEST_F(SetupPages, ALoadChainArmsNoTimer) {
    Ready(link::ToolMode::Apl);
    window->ReLoadClick();
    ASSERT_NE(window->LoadStep(), 0);
    s1().AGC_MAX->setValue(4);
    s1().BLCCheck[0]->setChecked(true);
    s1().CName->setText("X");
    s2().MoLv->setValue(2);
    s2().knee_lvl->setValue(3);
    for (QTimer* t : {window->AGCTimer, window->BLCAreaTimer, window->TitleTimer, window->MoLvtimer, window->kneeTimer}) {
        EXPECT_FALSE(t->isActive()) << t->objectName().toStdString();
    }
    EXPECT_FALSE(s1().Throttles().Armed(Control::AGC_MAX));
}

TEST_F(SetupPages, BlcCellArmsOnlyWhileBlcPresetIsUnchecked) {
    Ready(link::ToolMode::Apl);
    s1().BlcPreset->blockSignals(true);
    s1().BlcPreset->setChecked(true);
    s1().BlcPreset->blockSignals(false);
    s1().BLCCheck[8]->setChecked(true);
    EXPECT_FALSE(window->BLCAreaTimer->isActive());
    s1().BLCAreaTimerTimer();
    EXPECT_TRUE(port.TakeWire().empty());

    s1().BlcPreset->blockSignals(true);
    s1().BlcPreset->setChecked(false);
    s1().BlcPreset->blockSignals(false);
    s1().BLCCheck[8]->setChecked(false);
    s1().BLCCheck[8]->setChecked(true);
    EXPECT_TRUE(window->BLCAreaTimer->isActive());
    EXPECT_EQ(window->BLCAreaTimer->interval(), 300);
    s1().BLCAreaTimerTimer();
    const Bytes wire = port.TakeWire();
    ASSERT_EQ(wire.size(), 19u);
    EXPECT_EQ(wire[2], 0x19);
    EXPECT_EQ(wire[3], 0x00);
    EXPECT_EQ(wire[4], 0x01);  // byte 1 of the grid (payload byte 4), bit 0: cell 9
}

TEST_F(SetupPages, BlcAreaFlagsBothWays) {
    Ready(link::ToolMode::Apl);
    transfer::GridBytesArray in = {0x81, 0x00, 0x3C, 0x00, 0x10, 0xFF};
    s1().BlcArea_Flags(in, 1);
    EXPECT_TRUE(s1().BLCCheck[0]->isChecked());
    EXPECT_TRUE(s1().BLCCheck[7]->isChecked());
    EXPECT_FALSE(s1().BLCCheck[1]->isChecked());
    EXPECT_TRUE(s1().BLCCheck[18]->isChecked());  // byte 2 bit 2: cell 19
    EXPECT_EQ(s1().BLCCheck[18]->objectName(), "BLCCheck19");
    transfer::GridBytesArray out{};
    s1().BlcArea_Flags(out, 0);
    EXPECT_EQ(out, in);
    transfer::GridBytesArray untouched = {1, 2, 3, 4, 5, 6};
    s1().BlcArea_Flags(untouched, 2);
    EXPECT_EQ(untouched, (transfer::GridBytesArray{1, 2, 3, 4, 5, 6}));
}

// ---- one-push white balance ----------------------------------------------------------------------

TEST_F(SetupPages, PushKeepsTheModeDisabledForItsTimerEvenAfterTheReply) {
    Ready(link::ToolMode::Apl);
    Quietly(s1().wb_select, 1);  // AWC
    s1().AWCClick();
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x1B, 0x04}));
    EXPECT_FALSE(s1().wb_select->isEnabled());
    EXPECT_FALSE(s1().AWC->isEnabled());
    EXPECT_TRUE(window->AWC_Timer->isActive());
    EXPECT_EQ(window->AWC_Timer->interval(), 3100);
    Answer({0xA0, 0x1B, 0x04});
    EXPECT_TRUE(s1().AWC->isEnabled());  // the enabling rules, with AWC selected
    EXPECT_FALSE(s1().wb_select->isEnabled());
    s1().AWC_TimerTimer();
    EXPECT_TRUE(s1().wb_select->isEnabled());
    EXPECT_FALSE(window->AWC_Timer->isActive());
}

// ---- the reply handlers ------------------------------------------------------------------------------

TEST_F(SetupPages, RefusalShowsIntWithoutSendingAndTheNextChoiceIsSent) {
    Ready(link::ToolMode::Apl);
    Quietly(s1().Sync, 2);
    Busy();
    EXPECT_EQ(Answer({0xA8, 0x1E}), Ack());  // nothing sent for the INT shown
    EXPECT_EQ(s1().Sync->ItemIndex(), 0);
    EXPECT_FALSE(s1().SyncResetPending());
    EXPECT_TRUE(window->Messages.empty());
    s1().Sync->SetItemIndex(1);
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x1C, 0x00, 0x01}));
}

TEST_F(SetupPages, RefusalWithSyncAlreadyIntLeavesNoFlagBehind) {
    Ready(link::ToolMode::Apl);
    Quietly(s1().Sync, 0);
    Busy();
    EXPECT_EQ(Answer({0xA8, 0x1E}), Ack());
    EXPECT_FALSE(s1().SyncResetPending());
    s1().Sync->SetItemIndex(2);  // the user's next choice goes out
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x1C, 0x00, 0x02}));
}

TEST_F(SetupPages, RefusalDuringAChainIsSwallowedThere) {
    Ready(link::ToolMode::Apl);
    Quietly(s1().Sync, 1);
    window->ReLoadClick();
    ASSERT_NE(window->LoadStep(), 0);
    Answer({0xA8, 0x0A, 0x01});
    EXPECT_EQ(s1().Sync->ItemIndex(), 0);
    EXPECT_FALSE(s1().SyncResetPending());  // consumed although the link was not idle
    FinishChain();
    port.TakeWire();
    Quietly(s1().Sync, 0);
    s1().Sync->SetItemIndex(1);
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x1C, 0x00, 0x01}));
}

TEST_F(SetupPages, RefusalOnSetup2ResetsSyncOnSetup1) {
    Ready(link::ToolMode::Apl);
    window->PageControl1->setCurrentIndex(Tab(link::Page::Setup2));
    FinishChain();
    port.TakeWire();
    Quietly(s1().Sync, 2);
    s2().SaveClick();
    port.TakeWire();
    EXPECT_EQ(Answer({0xA8, 0x1E}), Ack());
    EXPECT_EQ(s1().Sync->ItemIndex(), 0);
    EXPECT_FALSE(s1().SyncResetPending());
}

TEST_F(SetupPages, ErrorReplyIsReportedOnBothPages) {
    Ready(link::ToolMode::Apl);
    Busy();
    Answer({0xE0, 0x1E});
    ASSERT_EQ(window->Messages.size(), 1u);
    EXPECT_EQ(window->Messages[0].text, " Error ");
    EXPECT_EQ(window->Messages[0].caption, "ERR");
    window->PageControl1->setCurrentIndex(Tab(link::Page::Setup2));
    FinishChain();
    s2().SaveClick();
    Answer({0xE1, 0x1E});
    ASSERT_EQ(window->Messages.size(), 2u);
    EXPECT_EQ(window->Messages[1].text, " Error ");
}

TEST_F(SetupPages, Item21ReloadsThePage) {
    Ready(link::ToolMode::Apl);
    Busy();
    EXPECT_EQ(Answer({0xA0, 0x21}), AckThen(Frame({0x31, 0x0A, 0x01})));
    EXPECT_NE(window->LoadStep(), 0);
}

TEST_F(SetupPages, AperturePresetReReadsBlock6UnderLoadGuard) {
    Ready(link::ToolMode::Apl);
    window->PageControl1->setCurrentIndex(Tab(link::Page::Setup2));
    FinishChain();
    port.TakeWire();
    s2().apc_preClick();
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x1D, 0x15, 0x00, 0x01}));
    EXPECT_EQ(Answer({0xA0, 0x1D, 0x15, 0x00, 0x01}), AckThen(Frame({0x31, 0x45, 0x06})));
    // Block 6: the bars move, the colour bar is checked; only the bars' timers are armed.
    EXPECT_EQ(Answer({0xA0, 0x45, 0x06, 0x05, 0x06, 0x07, 0x01}), Ack());
    EXPECT_EQ(s2().enh_h->value(), 5);
    EXPECT_TRUE(s2().color_bar->isChecked());
    EXPECT_FALSE(window->LoadGuard());
    EXPECT_TRUE(window->enh_h_timer->isActive());
    s2().enh_h_timerTimer();
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x1D, 0x15, 0x01, 0x05}));
}

// ---- preset lock -----------------------------------------------------------------------------------

TEST_F(SetupPages, PresetLocksThePageUntilBlock4IsBackAfterTheReload) {
    Ready(link::ToolMode::Apl);
    s1().PresetClick();
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x20, 0x00}));
    EXPECT_FALSE(s1().Panel4->isEnabled());
    EXPECT_TRUE(window->Link().PanelLock());
    Feed({link::ACK});  // the camera ends a preset with its ACK alone
    EXPECT_TRUE(window->ReloadTimer->isActive());
    EXPECT_EQ(window->ReloadTimer->interval(), 4000);
    window->ReloadTimerTimer();
    EXPECT_NE(window->LoadStep(), 0);
    FinishChain();
    EXPECT_TRUE(s1().Panel4->isEnabled());
    EXPECT_FALSE(window->Link().PanelLock());
}

TEST_F(SetupPages, PresetPressedWhileBusyGoesOutOnceTheLinkIsFree) {
    Ready(link::ToolMode::Apl);
    Busy();
    s1().Preset->click();
    EXPECT_TRUE(port.TakeWire().empty());
    EXPECT_TRUE(s1().Panel4->isEnabled());
    EXPECT_EQ(Answer({0xA0, 0x1E}), AckThen(Frame({0x21, 0x20, 0x00})));
    EXPECT_FALSE(s1().Panel4->isEnabled());
}

// ---- the mask window -------------------------------------------------------------------------------

TEST_F(SetupPages, MaskChoiceOpensTheWindowOnlyForAMaskThatIsOn) {
    Ready(link::ToolMode::Apl);
    QSignalSpy spy(&s1(), &Setup1Page::MaskRequested);
    s1().mask->setCurrentIndex(1);
    s1().maskChange();
    EXPECT_EQ(spy.count(), 0);
    EXPECT_FALSE(window->Mask().isVisible());
    EXPECT_TRUE(port.TakeWire().empty());
    s1().MaskB->blockSignals(true);
    s1().MaskB->setChecked(true);
    s1().MaskB->blockSignals(false);
    s1().maskChange();
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 1);
}

// ---- the enabling rules after a reply -----------------------------------------------------------------

TEST_F(SetupPages, DependentControlsFollowTheCameraAnswer) {
    Ready(link::ToolMode::Apl);
    Quietly(s1().AGC_SEL, 2);
    Quietly(s1().BLC, 1);
    s1().BlcPreset->blockSignals(true);
    s1().BlcPreset->setChecked(false);
    s1().BlcPreset->blockSignals(false);
    Quietly(s2().MoDetect, 1);
    s1().SaveClick();
    Answer({0xA0, 0x1E});
    EXPECT_FALSE(s1().AGC_MAX->isEnabled());
    EXPECT_TRUE(s1().AGC_MAN->isEnabled());
    EXPECT_TRUE(s1().blc_panel->isEnabled());
    EXPECT_TRUE(s2().MoArea2->isEnabled());
    EXPECT_EQ(s1().blc_panel, window->findChild<QWidget*>("blc_panel"));
    EXPECT_EQ(s2().MoArea2, window->findChild<QWidget*>("MoArea2"));
}

// ---- names: the decoder and the enabling rules find every control by objectName ----------------

/// Controls of the Adjust page, which the decoder and the rules name too.
bool OnAdjustPage(const std::string& name) {
    for (const char* n : {"shut_disp_sel", "sync_disp_sel", "Peak_disp_sel", "wb_sel", "pre_32", "pre_56", "pre_awc"}) {
        if (name == n) return true;
    }
    return false;
}

TEST_F(SetupPages, EveryControlABlockReplySetsIsFoundByItsName) {
    Ready(link::ToolMode::Apl);
    link::Payload read{};
    read[1] = link::kGroupRead;
    read[2] = link::kItemBlock;
    for (int block = 0; block <= 6; ++block) {
        link::FrameBytes f{};
        f[1] = link::kStatusAccepted;
        f[2] = link::kItemBlock;
        f[3] = static_cast<std::uint8_t>(block);
        read[3] = f[3];
        const transfer::DecodedReply d = transfer::DecodeReply(link::Reply(f), read, transfer::MaskVideo{});
        ASSERT_FALSE(d.updates.empty()) << "block " << block;
        for (const transfer::ControlUpdate& u : d.updates) {
            if (OnAdjustPage(u.control)) continue;
            EXPECT_NE(window->findChild<QWidget*>(QString::fromStdString(u.control)), nullptr)
                << "block " << block << ": " << u.control;
        }
    }
}

TEST_F(SetupPages, EveryControlTheEnablingRulesNameIsFound) {
    Ready(link::ToolMode::Apl);
    // Inputs that reach every row at least once between them.
    for (int sel = 0; sel <= 2; ++sel) {
        transfer::EnablingInputs in;
        in.Ctitle = in.Zoom = in.BLC = in.MoDetect = sel % 2;
        in.wb_select = in.Sync = in.AGC_SEL = in.Lens = sel;
        for (const transfer::Enabling& e : transfer::EnablingRules(in)) {
            const std::string name(e.control);
            if (OnAdjustPage(name)) continue;
            EXPECT_NE(window->findChild<QWidget*>(QString::fromStdString(name)), nullptr) << name;
        }
    }
    for (int k = 1; k <= transfer::kGridCells; ++k) {
        const auto blc = QString::fromStdString(transfer::GridCellName(Control::BLCArea, k));
        const auto mo = QString::fromStdString(transfer::GridCellName(Control::MoArea, k));
        EXPECT_EQ(s1().blc_panel->findChild<QCheckBox*>(blc), s1().BLCCheck[static_cast<std::size_t>(k - 1)]) << k;
        EXPECT_EQ(s2().MoArea2->findChild<QCheckBox*>(mo), s2().MoCheck[static_cast<std::size_t>(k - 1)]) << k;
    }
}

struct ItemsRow {
    const char* name;
    QStringList items;
};

class SetupItems : public WindowTest, public ::testing::WithParamInterface<ItemsRow> {};

/// The items of a radio group or drop-down list, in order.
QStringList ItemsOf(QWidget* w) {
    QStringList out;
    if (auto* g = qobject_cast<widgets::TRadioGroup*>(w)) {
        for (int i = 0; i < g->Count(); ++i) out << g->Button(i)->text();
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
    }
    return out;
}

TEST_P(SetupItems, ItemsAreTheCameraOnes) {
    Make(link::ToolMode::Apl);
    QWidget* w = window->findChild<QWidget*>(GetParam().name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(ItemsOf(w), GetParam().items);
}

const ItemsRow kItemsRows[] = {
    {"Ctitle", {"OFF", "ON"}},
    {"Ctitlepos", {"UpperLeft", "LowerLeft", "UpperRight", "LowerRight"}},
    {"Zoom", {"OFF", "ON"}},
    {"SenseUp", {"OFF", "x2", "x4", "x6", "x8", "x12", "x16", "x24", "x32", "x48", "x64", "x96", "x128"}},
    {"Lens", {"ALC", "ELC"}},
    {"Shutter", {"OFF", "1/100", "1/120", "1/180", "1/250", "1/350", "1/500", "1/750", "1/1000", "1/1500", "1/2000",
                 "1/3000", "1/4000", "1/6000", "1/8000", "1/12000"}},
    {"BLC", {"OFF", "ON"}},
    {"AGC_SEL", {"OFF", "ON", "MANUAL"}},
    {"wb_select", {"ATW", "AWC", "MANUAL"}},
    {"WB_preset", {"3200", "5600", "User"}},
    {"Sync", {"INT", "LINE", "VBS"}},
    {"mask", {"Mask A", "Mask B", "Mask C", "Mask D"}},
    {"Priority", {"AGC-Sense", "Sense-AGC"}},
    {"Frz_type", {"Field", "Frame"}},
    {"gamma", {"0.45", "1.00"}},
    {"MoDetect", {"OFF", "ON"}},
    {"MoTime", {"10sec", "30sec", "60sec"}},
};

INSTANTIATE_TEST_SUITE_P(Lists, SetupItems, ::testing::ValuesIn(kItemsRows),
                         [](const ::testing::TestParamInfo<ItemsRow>& i) { return std::string(i.param.name); });

// ---- against the virtual camera --------------------------------------------------------------------

class SetupCamera : public ::testing::Test {
protected:
    void Start(link::Page page, camera::CameraOptions options = {}) {
        camera = std::make_unique<camera::PtyCamera>(options);
        camera->Start();
        window = std::make_unique<TFTern>(link::ToolMode::Apl,
                                          link::PortDevices{camera->DevicePath(), "/nonexistent/ternab-com2"}, AutoClose);
        window->OnReply = [this] { ++replies; };
        ASSERT_TRUE(Settled(7));
        if (page == link::Page::Setup2) {
            window->PageControl1->setCurrentIndex(Tab(page));
            ASSERT_TRUE(Settled(replies + 4));
        }
    }

    void TearDown() override {
        window.reset();
        if (camera) camera->Stop();
    }

    bool Settled(std::size_t count) {
        return WaitFor([&] { return replies >= count && window->LoadStep() == 0 && !window->Link().LinkBusy(); });
    }

    std::uint8_t Setting(int k) {
        return camera->WithModel([k](camera::CameraModel& m) { return m.SettingByte(k); });
    }

    std::uint64_t Frames() const { return camera->PeerStatistics().framesReceived; }

    /// The throttle timers a reply left running, by name.
    std::vector<std::string> ArmedTimers() const {
        std::vector<std::string> armed;
        for (const transfer::ThrottleRow& row : transfer::ThrottleTable()) {
            const auto* t = window->findChild<QTimer*>(QString::fromLatin1(row.timer.data(), static_cast<qsizetype>(row.timer.size())));
            if (t != nullptr && t->isActive()) armed.emplace_back(row.timer);
        }
        return armed;
    }

    std::unique_ptr<camera::PtyCamera> camera;
    std::unique_ptr<TFTern> window;
    std::size_t replies = 0;
};

TEST_F(SetupCamera, Setup1ChainShowsTheCameraSettingsAndSendsNothingBack) {
    Start(link::Page::Setup1);
    EXPECT_TRUE(ArmedTimers().empty());
    EXPECT_EQ(Frames(), 7u);
    Setup1Page& s = window->Setup1();
    EXPECT_EQ(s.CName->text(), "CAMERA      ");  // block 0 keeps the blanks after the title
    EXPECT_EQ(s.Ctitle->ItemIndex(), 0);
    EXPECT_EQ(s.ELCLVL->value(), 4);
    EXPECT_TRUE(s.BlcPreset->isChecked());
    EXPECT_TRUE(s.BLCCheck[18]->isChecked());  // 0x3C in byte 2
    EXPECT_FALSE(s.BLCCheck[16]->isChecked());
    EXPECT_EQ(s.AGC_SEL->ItemIndex(), 1);
    EXPECT_EQ(s.AGC_MAX->value(), 6);
    EXPECT_EQ(s.AGC_MAN->value(), 3);
    EXPECT_EQ(s.Rgain->value(), 4);
    EXPECT_EQ(s.v_pha_lvl->maximum(), 0x106);
    EXPECT_EQ(s.v_pha_lvl->value(), 0x83);
    EXPECT_EQ(s.h_pha_lvl->maximum(), 0xC8);
    EXPECT_EQ(s.h_pha_lvl->value(), 0x64);
    EXPECT_EQ(s.ZoomBar->value(), 0x20);
    EXPECT_EQ(s.Zoomlvl->text(), "20");
    EXPECT_EQ(s.PEAK_LVL->value(), 4);
    EXPECT_FALSE(s.sens_Grp->isHidden());
    EXPECT_FALSE(s.Shutter->isHidden());
    // Dependent controls follow: AGC ON, BLC OFF, title OFF.
    EXPECT_TRUE(s.AGC_MAX->isEnabled());
    EXPECT_FALSE(s.AGC_MAN->isEnabled());
    EXPECT_FALSE(s.blc_panel->isEnabled());
    EXPECT_FALSE(s.CName->isEnabled());
    EXPECT_TRUE(window->Messages.empty());
}

TEST_F(SetupCamera, Setup2ChainShowsMotionAndGainsAndSendsNothingBack) {
    Start(link::Page::Setup2);
    EXPECT_TRUE(ArmedTimers().empty());
    EXPECT_EQ(Frames(), 11u);
    Setup2Page& s = window->Setup2();
    EXPECT_EQ(s.MoDetect->ItemIndex(), 0);
    EXPECT_TRUE(s.MoPre->isChecked());
    EXPECT_EQ(s.MoLv->value(), 4);
    for (QCheckBox* c : s.MoCheck) EXPECT_TRUE(c->isChecked());
    EXPECT_EQ(s.MoTime->ItemIndex(), 0);
    EXPECT_EQ(s.gamma->ItemIndex(), 0);
    EXPECT_EQ(s.enh_h->value(), 9);
    EXPECT_EQ(s.knee_lvl->value(), 9);
    EXPECT_FALSE(s.MoArea2->isEnabled());
}

TEST_F(SetupCamera, ASliderChangeReachesTheCamera) {
    Start(link::Page::Setup1);
    window->Setup1().AGC_MAX->setValue(2);
    ASSERT_TRUE(WaitFor([&] { return Setting(0x1B) == 2; }, 3000));
    ASSERT_TRUE(Settled(8));
    EXPECT_EQ(Frames(), 8u);
}

TEST_F(SetupCamera, BlcGridRoundTrip) {
    Start(link::Page::Setup1);
    Setup1Page& s = window->Setup1();
    s.BlcPreset->setChecked(false);
    ASSERT_TRUE(Settled(8));
    const transfer::GridBytesArray pattern = {0x01, 0x80, 0x55, 0xAA, 0x0F, 0xF0};
    const transfer::GridCells cells = transfer::GridCellsOf(std::span<const std::uint8_t, 6>(pattern));
    for (int k = 0; k < transfer::kGridCells; ++k) s.BLCCheck[static_cast<std::size_t>(k)]->setChecked(cells[static_cast<std::size_t>(k)]);
    ASSERT_TRUE(WaitFor([&] { return Setting(0x14) == 0x01 && Setting(0x19) == 0xF0; }, 3000));
    ASSERT_TRUE(Settled(9));
    EXPECT_EQ(Frames(), 9u);  // the whole grid once
    for (QCheckBox* c : s.BLCCheck) {
        c->blockSignals(true);
        c->setChecked(false);
        c->blockSignals(false);
    }
    window->ReLoadClick();
    ASSERT_TRUE(Settled(16));
    transfer::GridBytesArray back{};
    s.BlcArea_Flags(back, 0);
    EXPECT_EQ(back, pattern);
}

TEST_F(SetupCamera, PresetReloadsAfterFourSecondsAndGivesThePageBack) {
    Start(link::Page::Setup1);
    camera->WithModel([](camera::CameraModel& m) {
        m.SetSettingByte(0x1B, 1);
        return 0;
    });
    window->Setup1().PresetClick();
    EXPECT_FALSE(window->Setup1().Panel4->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return window->ReloadTimer->isActive(); }, 3000));
    EXPECT_EQ(window->ReloadTimer->interval(), 4000);
    EXPECT_FALSE(window->Setup1().Panel4->isEnabled());
    const std::size_t before = replies;
    window->ReloadTimerTimer();
    ASSERT_TRUE(Settled(before + 7));
    EXPECT_TRUE(window->Setup1().Panel4->isEnabled());
    EXPECT_EQ(window->Setup1().AGC_MAX->value(), Setting(0x1B));
}

TEST_F(SetupCamera, RefusedItemResetsSyncWithoutSending) {
    camera::CameraOptions o;
    o.refuseItems = {0x1D};
    Start(link::Page::Setup1, o);
    Setup1Page& s = window->Setup1();
    s.Sync->SetItemIndex(1);
    ASSERT_TRUE(Settled(8));
    EXPECT_EQ(Setting(0x21), 1);
    s.Nega->setChecked(true);  // refused
    ASSERT_TRUE(Settled(9));
    EXPECT_EQ(s.Sync->ItemIndex(), 0);
    // The last frame sent is still the refused one, and nothing is in flight.
    EXPECT_EQ(window->Link().CmdPayload(2), 0x1D);
    EXPECT_FALSE(window->Link().LinkBusy());
    EXPECT_EQ(Frames(), 9u);
    EXPECT_EQ(Setting(0x21), 1);  // the INT shown was not sent
    EXPECT_TRUE(window->Messages.empty());
}

// Every control, one after the other, changes its one setting in the camera.
struct CameraRow {
    const char* name;
    std::function<void(TFTern&)> act;
    int setting;  ///< the camera's settings byte
    std::uint8_t value;
};

const CameraRow kCameraRows[] = {
    {"Ctitle", [](TFTern& w) { S1(w).Ctitle->SetItemIndex(1); }, 0x0C, 1},
    {"CName", [](TFTern& w) { S1(w).CName->setText("Q"); S1(w).TitleTimerTimer(); }, 0x00, 0x21},
    {"Ctitlepos", [](TFTern& w) { S1(w).Ctitlepos->setCurrentIndex(2); }, 0x0D, 2},
    {"SenseUp", [](TFTern& w) { S1(w).SenseUp->setCurrentIndex(5); }, 0x0E, 5},
    {"Lens", [](TFTern& w) { S1(w).Lens->SetItemIndex(1); }, 0x0F, 1},
    {"Shutter", [](TFTern& w) { S1(w).Shutter->setCurrentIndex(9); }, 0x10, 9},
    {"ELCLVL", [](TFTern& w) { S1(w).ELCLVL->setValue(8); S1(w).LensTimerTimer(); }, 0x11, 8},
    {"BLC", [](TFTern& w) { S1(w).BLC->SetItemIndex(1); }, 0x12, 1},
    {"BlcPreset", [](TFTern& w) { S1(w).BlcPreset->setChecked(false); }, 0x13, 0},
    {"BLCCheck01", [](TFTern& w) { S1(w).BLCCheck[0]->setChecked(true); S1(w).BLCAreaTimerTimer(); }, 0x14, 0x01},
    {"AGC_SEL", [](TFTern& w) { S1(w).AGC_SEL->SetItemIndex(2); }, 0x1A, 2},
    {"AGC_MAN", [](TFTern& w) { S1(w).AGC_MAN->setValue(7); S1(w).AGCManTimerTimer(); }, 0x1C, 7},
    {"wb_select", [](TFTern& w) { S1(w).wb_select->SetItemIndex(2); }, 0x1D, 2},
    {"WB_preset", [](TFTern& w) { S1(w).WB_preset->SetItemIndex(2); }, 0x1E, 2},
    {"Rgain", [](TFTern& w) { S1(w).Rgain->setValue(1); S1(w).RTimerTimer(); }, 0x1F, 1},
    {"BGain", [](TFTern& w) { S1(w).BGain->setValue(8); S1(w).BTimerTimer(); }, 0x20, 8},
    {"Sync", [](TFTern& w) { S1(w).Sync->SetItemIndex(2); }, 0x21, 2},
    {"v_pha_lvl", [](TFTern& w) { S1(w).v_pha_lvl->setValue(0x100); S1(w).v_pha_timerTimer(); }, 0x22, 0x01},
    {"h_pha_lvl", [](TFTern& w) { S1(w).h_pha_lvl->setValue(0x10); S1(w).h_pha_timerTimer(); }, 0x26, 0x10},
    {"MaskC", [](TFTern& w) { S1(w).MaskC->setChecked(true); }, 0x2A, 1},
    {"Nega", [](TFTern& w) { S1(w).Nega->setChecked(true); }, 0x2C, 1},
    {"Mirror", [](TFTern& w) { S1(w).Mirror->setChecked(true); }, 0x2D, 1},
    {"Priority", [](TFTern& w) { S1(w).Priority->SetItemIndex(1); }, 0x2E, 1},
    {"v_rev", [](TFTern& w) { S1(w).v_rev->setChecked(true); }, 0x2F, 1},
    {"Freeze", [](TFTern& w) { S1(w).Freeze->setChecked(true); }, 0x30, 1},
    {"Frz_type", [](TFTern& w) { S1(w).Frz_type->SetItemIndex(1); }, 0x31, 1},
    {"Zoom", [](TFTern& w) { S1(w).Zoom->SetItemIndex(1); }, 0x47, 1},
    {"ZoomBar", [](TFTern& w) { S1(w).ZoomBar->setValue(0x50); S1(w).ZoomTimerTimer(); }, 0x48, 0x50},
    {"PEAK_LVL", [](TFTern& w) { S1(w).PEAK_LVL->setValue(2); S1(w).PEAKTimerTimer(); }, 0x49, 2},
    {"gamma", [](TFTern& w) { S2(w).gamma->SetItemIndex(1); }, 0x42, 1},
    {"enh_h", [](TFTern& w) { S2(w).enh_h->setValue(17); S2(w).enh_h_timerTimer(); }, 0x43, 17},
    {"enh_v", [](TFTern& w) { S2(w).enh_v->setValue(3); S2(w).enh_v_timerTimer(); }, 0x44, 3},
    {"knee_lvl", [](TFTern& w) { S2(w).knee_lvl->setValue(12); S2(w).kneeTimerTimer(); }, 0x45, 12},
    {"color_bar", [](TFTern& w) { S2(w).color_bar->setChecked(true); }, 0x46, 1},
    {"MoDetect", [](TFTern& w) { S2(w).MoDetect->SetItemIndex(1); }, 0x54, 1},
    {"MoPre", [](TFTern& w) { S2(w).MoPre->setChecked(false); }, 0x55, 0},
    {"MoLv", [](TFTern& w) { S2(w).MoLv->setValue(1); S2(w).MoLvtimerTimer(); }, 0x56, 1},
    {"MoTime", [](TFTern& w) { S2(w).MoTime->SetItemIndex(1); }, 0x57, 1},
    {"MoCheck01", [](TFTern& w) { S2(w).MoCheck[0]->setChecked(false); }, 0x58, 0xFE},
};

TEST_F(SetupCamera, EveryControlChangesItsOneSettingInTheCamera) {
    Start(link::Page::Setup2);  // both pages read
    std::size_t expected = replies;
    for (const CameraRow& row : kCameraRows) {
        SCOPED_TRACE(row.name);
        ASSERT_NE(Setting(row.setting), row.value) << "the camera already holds it";
        row.act(*window);
        ++expected;
        ASSERT_TRUE(WaitFor([&] { return Setting(row.setting) == row.value; }, 3000));
        ASSERT_TRUE(Settled(expected));
    }
    EXPECT_EQ(Frames(), 11u + std::size(kCameraRows));  // one command each, nothing else
    EXPECT_TRUE(window->Messages.empty());
}

// A technician's quick burst on a line paced at 9600 baud: every change
// lands while the one before is on the line. Each control's newest value goes
// out once, in the order of the changes; the camera ends with what is shown.
TEST_F(SetupCamera, UserChangesMadeWhileTheLinkIsBusyAllReachTheCamera) {
    camera::CameraOptions paced;
    paced.baud = 9600;
    Start(link::Page::Setup1, paced);
    Setup1Page& s = window->Setup1();
    const std::uint64_t before = Frames();
    s.AGC_MAX->triggerAction(QAbstractSlider::SliderPageStepAdd);  // throttled: its timer sends
    s.Nega->click();                                               // goes out at once
    s.Mirror->click();                                             // the rest wait for the link
    s.SenseUp->setCurrentIndex(4);
    emit s.SenseUp->activated(4);
    s.Priority->Button(1)->click();
    s.Mirror->click();  // back again: its newest value is the one sent
    s.Freeze->click();
    s.Frz_type->Button(1)->click();
    s.v_rev->click();
    ASSERT_TRUE(WaitFor([&] { return Settled(0) && window->Link().WaitingChanges() == 0 && ArmedTimers().empty(); },
                        10000));
    EXPECT_EQ(Frames() - before, 8u);  // one frame a control, Mirror's included
    EXPECT_EQ(Setting(0x1B), s.AGC_MAX->value());
    EXPECT_EQ(Setting(0x2C), s.Nega->isChecked() ? 1 : 0);
    EXPECT_EQ(Setting(0x2D), s.Mirror->isChecked() ? 1 : 0);
    EXPECT_EQ(Setting(0x0E), s.SenseUp->currentIndex());
    EXPECT_EQ(Setting(0x2E), s.Priority->ItemIndex());
    EXPECT_EQ(Setting(0x30), s.Freeze->isChecked() ? 1 : 0);
    EXPECT_EQ(Setting(0x31), s.Frz_type->ItemIndex());
    EXPECT_EQ(Setting(0x2F), s.v_rev->isChecked() ? 1 : 0);
    EXPECT_TRUE(window->Messages.empty());
}

/// Every Setup1 setting control's state by its name, as the screen shows it.
std::map<std::string, std::string> Shown(Setup1Page& s) {
    std::map<std::string, std::string> shown;
    for (const QCheckBox* c : s.Panel4->findChildren<QCheckBox*>()) shown[c->objectName().toStdString()] = c->isChecked() ? "1" : "0";
    for (const QComboBox* c : s.Panel4->findChildren<QComboBox*>()) {
        if (c != s.mask) shown[c->objectName().toStdString()] = std::to_string(c->currentIndex());
    }
    for (const QSlider* c : s.Panel4->findChildren<QSlider*>()) shown[c->objectName().toStdString()] = std::to_string(c->value());
    for (const widgets::TRadioGroup* c : s.Panel4->findChildren<widgets::TRadioGroup*>()) {
        shown[c->objectName().toStdString()] = std::to_string(c->ItemIndex());
    }
    return shown;
}

// A scripted user on a paced line whose every fourth reply arrives damaged:
// bursts of clicks, choices and drags, each burst landing while the link is
// busy. Afterwards the screen shows what the camera has: reading the camera
// again changes no control.
TEST_F(SetupCamera, ScriptedUserOnANoisyLineLeavesTheScreenEqualToTheCamera) {
    camera::CameraOptions noisy;
    noisy.baud = 9600;
    noisy.corruptEvery = 4;
    Start(link::Page::Setup1, noisy);
    Setup1Page& s = window->Setup1();
    const std::vector<std::function<void(int)>> actions = {
        [&](int) { s.Mirror->click(); },
        [&](int) { s.Nega->click(); },
        [&](int) { s.v_rev->click(); },
        [&](int) { s.Freeze->click(); },
        [&](int) { s.MaskA->click(); },
        [&](int) { s.MaskD->click(); },
        [&](int) { s.BlcPreset->click(); },
        [&](int r) { s.Priority->Button(r % 2)->click(); },
        [&](int r) { s.Frz_type->Button(r % 2)->click(); },
        [&](int r) { s.Lens->Button(r % 2)->click(); },
        [&](int r) { s.AGC_SEL->Button(r % 3)->click(); },
        [&](int r) { s.WB_preset->Button(r % 3)->click(); },
        [&](int r) {
            s.SenseUp->setCurrentIndex(r % s.SenseUp->count());
            emit s.SenseUp->activated(s.SenseUp->currentIndex());
        },
        [&](int r) { s.AGC_MAX->triggerAction(r % 2 ? QAbstractSlider::SliderSingleStepAdd : QAbstractSlider::SliderSingleStepSub); },
        [&](int r) { s.Rgain->triggerAction(r % 2 ? QAbstractSlider::SliderPageStepAdd : QAbstractSlider::SliderSingleStepSub); },
        [&](int r) { s.ELCLVL->triggerAction(r % 2 ? QAbstractSlider::SliderSingleStepAdd : QAbstractSlider::SliderSingleStepSub); },
    };
    unsigned seed = 20261207;
    auto next = [&seed] { return static_cast<int>((seed = seed * 1103515245u + 12345u) >> 8); };
    // TERN_SOAK_SECONDS=900 makes this the fifteen-minute soak.
    const char* soak = std::getenv("TERN_SOAK_SECONDS");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(soak != nullptr ? std::atoi(soak) : 0);
    for (int burst = 0; burst < 25 || std::chrono::steady_clock::now() < end; ++burst) {
        for (int k = 0, n = 1 + next() % 5; k < n; ++k) actions[static_cast<std::size_t>(next()) % actions.size()](next());
        QTest::qWait(next() % 120);  // the technician's pace: the line is often still busy
    }
    ASSERT_TRUE(WaitFor([&] { return Settled(0) && window->Link().WaitingChanges() == 0 && ArmedTimers().empty(); },
                        30000));
    const auto shown = Shown(s);
    window->ReLoadClick();
    ASSERT_TRUE(WaitFor([&] { return replies > 0 && Settled(0); }, 10000));
    ASSERT_TRUE(WaitFor([&] { return window->LoadStep() == 0 && !window->Link().LinkBusy(); }, 10000));
    const auto read = Shown(s);
    for (const auto& [name, value] : shown) EXPECT_EQ(read.at(name), value) << name;
    // One NAK for each damaged reply, no more.
    EXPECT_GT(camera->PeerStatistics().naksReceived, 0u);
    EXPECT_EQ(camera->PeerStatistics().naksReceived, camera->PeerStatistics().repliesCorrupted);
    EXPECT_TRUE(window->Messages.empty());
}

// The reply watch's SendTimer ticks, hurried (every 5 ms instead of 1.5 s),
// while `pred` is awaited: a lost reply costs a fraction of a second.
bool Hurried(TFTern& w, const std::function<bool()>& pred, int ms = 20000) {
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &w, [&w] { w.SendTimerTimer(); });
    tick.start(5);
    return WaitFor(pred, ms);
}

// A change the user makes while the page is being read on a lossy, slow line
// is neither undone by the read's later blocks nor sent with the camera's old
// value: the control keeps the user's value and the camera ends with it.
TEST_F(SetupCamera, ChangeMadeWhileThePageIsReadReachesTheCamera) {
    camera::CameraOptions lossy;
    lossy.baud = 9600;
    lossy.dropReplies = {9, 12};  // two replies of the reload below
    Start(link::Page::Setup1, lossy);
    Setup1Page& s = window->Setup1();
    const bool nega = !s.Nega->isChecked();
    const int senseUp = (s.SenseUp->currentIndex() + 3) % s.SenseUp->count();
    window->ReLoadClick();
    ASSERT_TRUE(WaitFor([&] { return window->LoadStep() >= 2; }));
    s.Nega->click();
    s.SenseUp->setCurrentIndex(senseUp);
    emit s.SenseUp->activated(senseUp);
    ASSERT_TRUE(Hurried(*window, [&] { return Settled(0) && window->Link().WaitingChanges() == 0; }));
    EXPECT_EQ(s.Nega->isChecked(), nega);
    EXPECT_EQ(s.SenseUp->currentIndex(), senseUp);
    EXPECT_EQ(Setting(0x2C), nega ? 1 : 0);
    EXPECT_EQ(Setting(0x0E), senseUp);
    EXPECT_EQ(window->Engine().Model().State(Control::Nega), transfer::SettingState::InStep);
}

// A read cut short by a give-up shows no value it did not read: the controls
// of the blocks that never came are disabled and say so, the page is read
// again once the camera answers, and then they show the camera's values.
TEST_F(SetupCamera, GiveUpWhileThePageIsReadShowsWhatWasNotRead) {
    camera::CameraOptions mute;
    // The reload's second reply and its two re-sends, then the automatic
    // read again's first three: the camera answers again from reply 15 on.
    mute.dropReplies = {9, 10, 11, 12, 13, 14};
    Start(link::Page::Setup1, mute);
    Setup1Page& s = window->Setup1();
    camera->WithModel([](camera::CameraModel& m) {
        m.SetSettingByte(0x2D, 1);  // Mirror on
        m.SetSettingByte(0x1F, 4);  // Rgain 4
    });
    const int senseUp = (s.SenseUp->currentIndex() + 1) % s.SenseUp->count();  // block 1, which came
    window->ReLoadClick();
    ASSERT_TRUE(Hurried(*window, [&] { return Settled(0) && window->Engine().RereadPending(); }));
    for (QWidget* w : std::initializer_list<QWidget*>{s.Mirror, s.Rgain, s.Sync}) {
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
        EXPECT_TRUE(w->toolTip().contains("Not read")) << w->objectName().toStdString();
        EXPECT_EQ(window->Engine().Model().State(*transfer::ControlByName(w->objectName().toStdString())),
                  transfer::SettingState::Unknown);
    }
    // The camera answers the user's next change: the page is read again.
    s.SenseUp->setCurrentIndex(senseUp);
    emit s.SenseUp->activated(senseUp);
    ASSERT_TRUE(Hurried(*window, [&] { return Settled(0) && !window->Engine().RereadPending() && s.Mirror->isEnabled(); }));
    EXPECT_TRUE(s.Mirror->isChecked());
    EXPECT_EQ(s.Rgain->value(), 4);
    EXPECT_FALSE(s.Mirror->toolTip().contains("Not read"));
    EXPECT_TRUE(s.Mirror->toolTip().contains("The camera has: on"));
    EXPECT_EQ(Setting(0x0E), senseUp);
}

// A refused setting is marked: the model keeps the camera's value, the
// control's tooltip names it and the status bar names the setting.
TEST_F(SetupCamera, RefusedSettingIsNamedWithTheValueTheCameraKept) {
    camera::CameraOptions o;
    o.refuseItems = {0x1D};
    Start(link::Page::Setup1, o);
    Setup1Page& s = window->Setup1();
    const bool mirror = s.Mirror->isChecked();
    s.Mirror->click();
    ASSERT_TRUE(Settled(8));
    EXPECT_EQ(window->Engine().Model().State(Control::Mirror), transfer::SettingState::Refused);
    EXPECT_TRUE(s.Mirror->toolTip().contains(mirror ? "keeps on" : "keeps off")) << s.Mirror->toolTip().toStdString();
    EXPECT_TRUE(window->StatusPanels[3]->text().startsWith("Refused: Mirror")) << window->StatusPanels[3]->text().toStdString();
    EXPECT_EQ(Setting(0x2D), mirror ? 1 : 0);
}

// The user's order is the wire's: Mirror changed, SAVE pressed, Mirror changed
// back, all while the link is busy. The camera saves what the screen showed
// when SAVE was pressed, and ends with what it shows now.
TEST_F(SetupCamera, SaveBetweenTwoChangesOfOneSettingKeepsTheUsersOrder) {
    camera::CameraOptions paced;
    paced.baud = 9600;
    Start(link::Page::Setup1, paced);
    Setup1Page& s = window->Setup1();
    const bool mirror = s.Mirror->isChecked();
    const std::uint64_t before = Frames();
    s.Nega->click();    // goes out at once: the link is busy for what follows
    s.Mirror->click();  // waits
    s.Save->click();    // waits, behind it
    s.Mirror->click();  // back: behind SAVE, not in place of the first change
    ASSERT_TRUE(WaitFor([&] { return Settled(0) && window->Link().WaitingChanges() == 0; }, 10000));
    EXPECT_EQ(Frames() - before, 4u);
    const auto saved = camera->WithModel([](camera::CameraModel& m) { return m.SavedMemory(); });
    ASSERT_FALSE(saved.empty());
    const std::uint16_t mirrorWord = saved.at(camera::kWordSettings + 0x2D / 2);
    EXPECT_EQ(mirrorWord & 0xFF, mirror ? 0 : 1);  // as shown when SAVE was pressed
    EXPECT_EQ(Setting(0x2D), mirror ? 1 : 0);     // as shown now
    EXPECT_EQ(s.Mirror->isChecked(), mirror);
}

/// Every one-number setting of the Setup pages as its control shows it, in
/// the words `ternctl get` prints.
std::map<std::string, std::string> ShownWords(TFTern& w) {
    const widgets::ControlIndex controls(&w);
    std::vector<transfer::ControlUpdate> updates;
    for (const transfer::Setting& st : transfer::Settings()) {
        if (st.service || (st.kind != transfer::SettingKind::Choice && st.kind != transfer::SettingKind::Check &&
                           st.kind != transfer::SettingKind::Slider)) {
            continue;
        }
        const int v = widgets::ControlValue(controls, st.name);
        using UK = transfer::ControlUpdate::Kind;
        const UK kind = st.kind == transfer::SettingKind::Check ? UK::Check
                        : st.kind == transfer::SettingKind::Choice ? UK::Index
                                                                   : UK::Position;
        updates.push_back({std::string(st.name), kind, v, {}});
    }
    transfer::SettingValues words;
    transfer::CollectSettings(updates, words);
    return words;
}

// A technician's session on a paced line that damages every fifth reply and
// loses one in nine: bursts of changes on both Setup pages, page switches,
// SAVE, reloads and, halfway, the adapter pulled and plugged in again. At the
// end the screen, the model and the camera agree setting for setting.
// TERN_SCRIPTED_SECONDS makes it a long run.
TEST_F(SetupCamera, ScriptedSessionEndsWithScreenModelAndCameraAgreeing) {
    camera::CameraOptions line;
    line.baud = 9600;
    line.corruptEvery = 5;
    line.dropEvery = 9;
    const std::string name = "/tmp/ternab-scripted-" + std::to_string(::getpid());
    camera = std::make_unique<camera::PtyCamera>(line);
    camera->Start();
    ASSERT_TRUE(camera->MakeLink(name));
    window = std::make_unique<TFTern>(link::ToolMode::Apl, link::PortDevices{name, "/nonexistent/ternab-com2"}, AutoClose);
    TFTern& w = *window;
    ASSERT_TRUE(Hurried(w, [&] { return w.LoadStep() == 0 && w.Link().Mode() == link::LinkMode::Idle; }));
    Setup1Page& s = w.Setup1();
    Setup2Page& s2 = w.Setup2();
    const std::vector<std::function<void(int)>> actions = {
        [&](int) { s.Mirror->click(); },
        [&](int) { s.Nega->click(); },
        [&](int) { s.v_rev->click(); },
        [&](int) { s.MaskB->click(); },
        [&](int r) { s.Priority->Button(r % 2)->click(); },
        [&](int r) { s.AGC_SEL->Button(r % 3)->click(); },
        [&](int r) {
            s.SenseUp->setCurrentIndex(r % s.SenseUp->count());
            emit s.SenseUp->activated(s.SenseUp->currentIndex());
        },
        [&](int r) { s.AGC_MAX->triggerAction(r % 2 ? QAbstractSlider::SliderSingleStepAdd : QAbstractSlider::SliderSingleStepSub); },
        [&](int r) { s2.enh_h->triggerAction(r % 2 ? QAbstractSlider::SliderPageStepAdd : QAbstractSlider::SliderSingleStepSub); },
        [&](int) { s2.color_bar->click(); },
        [&](int) { s.Save->click(); },
        [&](int) { w.ReLoadClick(); },
        [&](int r) {
            if (w.PageControl1->isEnabled()) w.PageControl1->setCurrentIndex(Tab(r % 2 ? link::Page::Setup1 : link::Page::Setup2));
        },
    };
    unsigned seed = 7122026;
    auto next = [&seed] { return static_cast<int>((seed = seed * 1103515245u + 12345u) >> 8); };
    QTimer tick;  // the reply watch, hurried
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &w, [&w] { w.SendTimerTimer(); });
    tick.start(20);
    const char* soak = std::getenv("TERN_SCRIPTED_SECONDS");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(soak != nullptr ? std::atoi(soak) : 0);
    std::unique_ptr<camera::PtyCamera> second;
    for (int burst = 0; burst < 30 || std::chrono::steady_clock::now() < end; ++burst) {
        if (burst == 15) {
            // The adapter pulled and plugged in again: a new device under the same name.
            camera->HangUp();
            ASSERT_TRUE(WaitFor([&] { return w.Link().Mode() == link::LinkMode::Lost; }));
            second = std::make_unique<camera::PtyCamera>(line);
            second->Start();
            ASSERT_TRUE(second->MakeLink(name));
            std::swap(camera, second);
            ASSERT_TRUE(WaitFor([&] { return w.Link().Mode() != link::LinkMode::Lost; }, 20000));
        }
        for (int k = 0, n = 1 + next() % 4; k < n; ++k) actions[static_cast<std::size_t>(next()) % actions.size()](next());
        QTest::qWait(next() % 150);
        // A technician sees the tool busy and lets it catch up before pressing on.
        ASSERT_TRUE(WaitFor([&] { return w.Link().WaitingChanges() < 4; }, 30000)) << w.Link().WaitingChanges();
    }
    ASSERT_TRUE(WaitFor([&] { return Settled(0) && w.Link().WaitingChanges() == 0 && ArmedTimers().empty(); }, 60000))
        << "step " << w.LoadStep() << ", busy " << w.Link().LinkBusy() << ", mode " << static_cast<int>(w.Link().Mode())
        << ", waiting " << w.Link().WaitingChanges() << ", armed " << ArmedTimers().size() << ", trans_chk "
        << w.Link().Trans_chk() << ", defect lock " << w.DefectLock() << ", guard " << w.LoadGuard();
    // The model's camera values are the screen's, and nothing waits or failed.
    const auto shown = ShownWords(w);
    const transfer::SettingsModel& model = w.Engine().Model();
    for (const auto& [setting, words] : shown) {
        const auto c = transfer::SettingByName(setting)->control;
        if (model.State(c) == transfer::SettingState::NotRead) continue;  // a page not read since the replug
        EXPECT_EQ(model.CameraValue(c).value_or("?"), words) << setting;
        EXPECT_EQ(model.State(c), transfer::SettingState::InStep) << setting;
    }
    // And the camera's: reading both pages afresh changes no control.
    for (const link::Page page : {link::Page::Setup2, link::Page::Setup1}) {
        w.PageControl1->setCurrentIndex(Tab(page));
        w.ReLoadClick();
        ASSERT_TRUE(WaitFor([&] { return Settled(0); }, 20000));
    }
    EXPECT_EQ(ShownWords(w), shown);
    if (second) second->Stop();
    ::unlink(name.c_str());
}

}  // namespace
}  // namespace tern::test
