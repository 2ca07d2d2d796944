// The Setup2 page (TabSheet4): gamma, aperture, knee, colour bar and motion
// detection with its 48-cell area. Its controls sit on Panel5.
//
// Each control sends its one catalogue command (transfer/Catalogue.h) when it
// changes, only while the link is idle; the track bars go through the
// window's throttling timers. The motion area is sent whole on every click.
#pragma once

#include <QObject>

#include <array>

#include "controls/Sender.h"
#include "link/protocol.h"
#include "transfer/Catalogue.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QPushButton;
class QSlider;
class QTimer;
class QWidget;

namespace tern::widgets {
class PageHost;
class TRadioGroup;
}  // namespace tern::widgets

namespace tern::controls {

class Setup2Page : public QObject {
    Q_OBJECT
public:
    Setup2Page(QWidget* sheet, widgets::PageHost& host);

    /// The page's reply handler: reload on item 0x21, the aperture preset's
    /// block-6 re-read, the sync reset on a refusal, " Error " / "ERR" on any
    /// other status but 0xA0.
    void Trans_end_setup2();

    // ---- handlers --------------------------------------------------
    void color_barClick();
    void knee_lvlChange();
    void kneeTimerTimer();
    void gammaClick();
    void apc_preClick();
    void enh_hChange();
    void enh_h_timerTimer();
    void enh_vChange();
    void enh_v_timerTimer();
    void MoDetectClick();
    void MoLvChange();
    void MoLvtimerTimer();
    void MoTimeClick();
    void MoPreClick();
    /// Shared by all 48 motion cells.
    void MoCheck01Click();
    /// PRESET and SAVE, as on Setup1.
    void PresetClick();
    void SaveClick();

    /// When idle, sends the whole motion area: 21 48 b0..b5.
    void MoAreaSend();
    /// Puts a motion reply (block 5) into MoDetect, MoPre, MoLv, the 48 cells
    /// and MoTime, in that order.
    void MotionSet(const link::Reply& reply);

    const transfer::Throttle& Throttles() const { return send_.Throttles(); }

    // ---- controls (named as on the window) ------------------------------------
    QFrame* Panel5 = nullptr;
    QCheckBox* color_bar = nullptr;
    QGroupBox* KneeGrp = nullptr;
    QSlider* knee_lvl = nullptr;
    widgets::TRadioGroup* gamma = nullptr;
    QGroupBox* ApcGrp = nullptr;
    QPushButton* apc_pre = nullptr;
    QSlider* enh_h = nullptr;
    QSlider* enh_v = nullptr;
    QGroupBox* MotionGrp = nullptr;
    widgets::TRadioGroup* MoDetect = nullptr;
    QSlider* MoLv = nullptr;
    widgets::TRadioGroup* MoTime = nullptr;
    QCheckBox* MoPre = nullptr;
    QGroupBox* AreaGrp = nullptr;
    QWidget* MoArea2 = nullptr;
    std::array<QCheckBox*, transfer::kGridCells> MoCheck{};  ///< MoCheck01..48 at 0..47
    QPushButton* preset2 = nullptr;
    QPushButton* save2 = nullptr;
    QPushButton* exitbtn2 = nullptr;

    QTimer* kneeTimer = nullptr;
    QTimer* enh_h_timer = nullptr;
    QTimer* enh_v_timer = nullptr;
    QTimer* MoLvtimer = nullptr;

signals:
    /// EXIT: the tool ends.
    void ExitRequested();
    /// The camera refused a command while this page was shown: Sync, on
    /// Setup1, is to show "INT" without sending it.
    void SyncRefused();

private:
    void Build(QWidget* sheet);
    void Connect();
    widgets::PageHost& host_;
    Sender send_;
};

}  // namespace tern::controls
