// The Setup1 page (TabSheet3): the everyday settings of the camera. Its
// controls sit on Panel4, which a preset or reset locks until block 4 of the
// settings has been read back.
//
// Every control sends its one catalogue command (transfer/Catalogue.h) when
// it changes, only while the link is idle; the continuous ones go through
// the window's throttling timers. The camera's read replies are put into the
// controls by the window (by objectName); this page reacts to the status of
// every reply (Trans_end_setup1).
#pragma once

#include <QObject>

#include <array>
#include <string>

#include "link/codec.h"
#include "controls/Sender.h"
#include "transfer/Catalogue.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;
class QWidget;

namespace tern::widgets {
class PageHost;
class THexEdit;
class TRadioGroup;
}  // namespace tern::widgets

namespace tern::controls {

class Setup1Page : public QObject {
    Q_OBJECT
public:
    Setup1Page(QWidget* sheet, widgets::PageHost& host);

    /// The page's reply handler: reload on item 0x21, the sync reset on a
    /// refusal, " Error " / "ERR" on any other status but 0xA0.
    void Trans_end_setup1();
    /// A refusal (0xA8) while a Setup page is shown: Sync shows "INT" and the
    /// change that makes it so is not sent. The window connects Setup2's
    /// refusals here too.
    void SyncRefused();

    // ---- handlers ------------------------------------------------
    void CtitleClick();
    void CNameChange();
    void TitleTimerTimer();
    void CtitleposChange();
    void ZoomClick();
    void ZoomBarChange();
    void ZoomTimerTimer();
    void ZoomlvlChange();
    void SaveClick();
    void PresetClick();
    void SenseUpChange();
    void MirrorClick();
    void NegaClick();
    void PriorityClick();
    void MaskAClick();
    void MaskBClick();
    void MaskCClick();
    void MaskDClick();
    void maskChange();
    void LensClick();
    void ShutterChange();
    void ELCLVLChange();
    void LensTimerTimer();
    void PEAK_LVLChange();
    void PEAKTimerTimer();
    void BLCClick();
    void BlcPresetClick();
    /// Shared by all 48 BLC cells.
    void BLCCheck01Click();
    void BLCAreaTimerTimer();
    void AGC_SELClick();
    void AGC_MAXChange();
    void AGCTimerTimer();
    void AGC_MANChange();
    void AGCManTimerTimer();
    void wb_selectClick();
    void WB_presetClick();
    void RgainChange();
    void RTimerTimer();
    void BGainChange();
    void BTimerTimer();
    void AWCClick();
    void AWC_TimerTimer();
    void SyncClick();
    void v_pha_lvlChange();
    void v_pha_timerTimer();
    void h_pha_lvlChange();
    void h_pha_timerTimer();
    void v_revClick();
    void FreezeClick();
    void Frz_typeClick();

    /// The BLC area as 6 bytes (direction 0) or the 6 bytes into the cells
    /// (direction 1); any other direction does nothing.
    void BlcArea_Flags(transfer::GridBytesArray& flags, int direction);

    const transfer::Throttle& Throttles() const { return send_.Throttles(); }
    bool SyncResetPending() const { return syncReset_.Pending(); }

    // ---- controls (named as on the window) ----------------------------------
    QFrame* Panel4 = nullptr;
    QGroupBox* CameraIdGrp = nullptr;
    widgets::TRadioGroup* Ctitle = nullptr;
    QLineEdit* CName = nullptr;
    QComboBox* Ctitlepos = nullptr;
    QGroupBox* ZoomGrp = nullptr;
    widgets::TRadioGroup* Zoom = nullptr;
    QSlider* ZoomBar = nullptr;
    widgets::THexEdit* Zoomlvl = nullptr;
    QGroupBox* sens_Grp = nullptr;
    QComboBox* SenseUp = nullptr;
    QGroupBox* LightGrp = nullptr;
    widgets::TRadioGroup* Lens = nullptr;
    QComboBox* Shutter = nullptr;
    QSlider* ELCLVL = nullptr;
    QSlider* PEAK_LVL = nullptr;
    QGroupBox* BlcGrp = nullptr;
    widgets::TRadioGroup* BLC = nullptr;
    QCheckBox* BlcPreset = nullptr;
    QWidget* blc_panel = nullptr;
    std::array<QCheckBox*, transfer::kGridCells> BLCCheck{};  ///< BLCCheck01..48 at 0..47
    QGroupBox* AgcGrp = nullptr;
    widgets::TRadioGroup* AGC_SEL = nullptr;
    QSlider* AGC_MAX = nullptr;
    QSlider* AGC_MAN = nullptr;
    QGroupBox* WbGrp = nullptr;
    widgets::TRadioGroup* wb_select = nullptr;
    widgets::TRadioGroup* WB_preset = nullptr;
    QSlider* Rgain = nullptr;
    QSlider* BGain = nullptr;
    QPushButton* AWC = nullptr;
    QGroupBox* Sync_grp = nullptr;
    widgets::TRadioGroup* Sync = nullptr;
    QSlider* v_pha_lvl = nullptr;
    QSlider* h_pha_lvl = nullptr;
    QLabel* v_data = nullptr;
    QLabel* h_data = nullptr;
    QGroupBox* MaskGrp = nullptr;
    QCheckBox* MaskA = nullptr;
    QCheckBox* MaskB = nullptr;
    QCheckBox* MaskC = nullptr;
    QCheckBox* MaskD = nullptr;
    QComboBox* mask = nullptr;
    widgets::TRadioGroup* Priority = nullptr;
    QCheckBox* Mirror = nullptr;
    QCheckBox* Nega = nullptr;
    QCheckBox* v_rev = nullptr;
    QCheckBox* Freeze = nullptr;
    widgets::TRadioGroup* Frz_type = nullptr;
    QPushButton* Save = nullptr;
    QPushButton* Preset = nullptr;
    QPushButton* exitbtn = nullptr;

    // the window's timers this page runs
    QTimer* TitleTimer = nullptr;
    QTimer* ZoomTimer = nullptr;
    QTimer* LensTimer = nullptr;
    QTimer* PEAKTimer = nullptr;
    QTimer* BLCAreaTimer = nullptr;
    QTimer* AGCTimer = nullptr;
    QTimer* AGCManTimer = nullptr;
    QTimer* RTimer = nullptr;
    QTimer* BTimer = nullptr;
    QTimer* AWC_Timer = nullptr;
    QTimer* v_pha_timer = nullptr;
    QTimer* h_pha_timer = nullptr;

signals:
    /// EXIT: the tool ends.
    void ExitRequested();
    /// A mask that is switched on was chosen in `mask`: the mask window edits it.
    void MaskRequested(int mask);

private:
    void Build(QWidget* sheet);
    void Connect();
    bool Idle() const { return send_.Idle(); }
    void Send(const transfer::SettingCommand& cmd) { send_.Send(cmd); }
    void SendNow(transfer::Control c, int value) { send_.SendNow(c, value); }
    void Arm(transfer::Control c, QTimer* timer);
    bool Fire(transfer::Control c, QTimer* timer) { return send_.Fire(c, timer); }
    transfer::GridCells BlcCells() const;

    widgets::PageHost& host_;
    Sender send_;
    transfer::SyncReset syncReset_;
};

}  // namespace tern::controls
