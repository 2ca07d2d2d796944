// The Adjust page (TabSheet1): the factory adjustments — white-balance
// presets from ATW, the DC-lens offset and the lens reference; and, in
// controls the page holds but does not show, the use selectors of optional
// camera features, the CCD drive's delay nibbles and the four hue vectors.
// Each control sends its one setting command while the link is idle; the hue
// bars are throttled by their own timers, which a load chain does not stop.
// Its reply handler runs the colour-matrix write-back (registers 43 to 47
// from the register shadow, one per reply) and ends it on the Copy page.
#pragma once

#include <QObject>

#include "controls/Sender.h"
#include "transfer/Catalogue.h"

class QCheckBox;
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
class TCSpinButton;
class THexEdit;
class TRadioGroup;
}  // namespace tern::widgets

namespace tern::controls {

class AdjustPage : public QObject {
    Q_OBJECT
public:
    /// Builds the page's controls on `sheet`.
    AdjustPage(QWidget* sheet, widgets::PageHost& host);

    // ---- handlers ------------------------------------------------------------
    void wb_selClick();
    void pre_32Click();
    void pre_56Click();
    void pre_awcClick();
    void pwm_refChange();
    void CSpinButton5DownClick();
    void CSpinButton5UpClick();
    void rens_ref_readClick();
    void shut_disp_selClick();
    void sync_disp_selClick();
    void Sens_disp_selClick();
    void Peak_disp_selClick();
    void hvpha_disp_selClick();
    /// Any of the four delay fields changed.
    void rg_delayChange();
    void CSpinButton1DownClick();
    void CSpinButton1UpClick();
    void CSpinButton2DownClick();
    void CSpinButton2UpClick();
    void CSpinButton3DownClick();
    void CSpinButton3UpClick();
    void CSpinButton4DownClick();
    void CSpinButton4UpClick();
    void RYPChange();
    void BYPChange();
    void RYNChange();
    void BYNChange();
    void TimerRYPTimer();
    void TimerBYPTimer();
    void TimerRYNTimer();
    void TimerBYNTimer();

    /// The page's reply handler.
    void Trans_end_cstm();

    /// True while a hue bar's change waits for its timer to send it.
    bool HueArmed(transfer::Control bar) const { return sender_.Throttles().Armed(bar); }

    // ---- controls (named as on the window) ------------------------------------
    QFrame* Panel3 = nullptr;
    QCheckBox* wb_sel = nullptr;
    QPushButton* pre_32 = nullptr;
    QPushButton* pre_56 = nullptr;
    QPushButton* pre_awc = nullptr;
    widgets::THexEdit* pwm_ref = nullptr;
    widgets::TCSpinButton* CSpinButton5 = nullptr;
    QPushButton* rens_ref_read = nullptr;
    QLabel* lens_ref = nullptr;
    widgets::TRadioGroup* sync_disp_sel = nullptr;
    widgets::TRadioGroup* shut_disp_sel = nullptr;
    widgets::TRadioGroup* Sens_disp_sel = nullptr;
    widgets::TRadioGroup* Peak_disp_sel = nullptr;
    widgets::TRadioGroup* hvpha_disp_sel = nullptr;
    QGroupBox* delay_grp = nullptr;
    widgets::THexEdit* rg_delay = nullptr;
    widgets::THexEdit* rg_width = nullptr;
    widgets::THexEdit* shp_delay = nullptr;
    widgets::THexEdit* shd_delay = nullptr;
    widgets::TCSpinButton* CSpinButton1 = nullptr;
    widgets::TCSpinButton* CSpinButton2 = nullptr;
    widgets::TCSpinButton* CSpinButton3 = nullptr;
    widgets::TCSpinButton* CSpinButton4 = nullptr;
    QGroupBox* hue_grp = nullptr;
    QSlider* RYP = nullptr;
    QSlider* BYP = nullptr;
    QSlider* RYN = nullptr;
    QSlider* BYN = nullptr;
    QLineEdit* RYP_DATA = nullptr;
    QLineEdit* BYP_DATA = nullptr;
    QLineEdit* RYN_DATA = nullptr;
    QLineEdit* BYN_DATA = nullptr;

    // the window's timers of the hue bars
    QTimer* TimerRYP = nullptr;
    QTimer* TimerBYP = nullptr;
    QTimer* TimerRYN = nullptr;
    QTimer* TimerBYN = nullptr;

private:
    struct HueBar {
        transfer::Control control;
        QSlider* bar;
        QLineEdit* data;
        QTimer* timer;
    };

    void BuildWhiteBalance(QWidget* parent);
    void BuildLens(QWidget* parent);
    void BuildHidden(QWidget* parent);
    void Connect();
    /// Sends when idle; a change that finds the link busy is remembered as
    /// dropped for c, so that the user's own signal can let it wait (Sender::User).
    void SendWhenIdle(transfer::Control c, const std::optional<transfer::SettingCommand>& cmd);
    /// A button: sent when idle, else once the link is free.
    void Press(transfer::Control c, void (AdjustPage::*handler)());
    void SendIndex(transfer::Control c, const widgets::TRadioGroup* group);
    static void StepDigit(widgets::THexEdit* field, bool up);
    HueBar& Hue(transfer::Control bar);
    void HueChange(transfer::Control bar);
    void HueTick(transfer::Control bar);

    widgets::PageHost& host_;
    Sender sender_;
    HueBar hue_[4] = {};
};

}  // namespace tern::controls
