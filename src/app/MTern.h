// TFTern, the main window: the title strip, the six pages, the menu, the
// status bar and the timers, and the link's host. Its methods are spread over
// one file per concern: MTern.cpp (building, FormCreate, timers), Shell.cpp
// (page switch, reset, exit, unlock), Host.cpp (what the link asks of the
// window), Debug.cpp (the Debug page); the transfer engine is in
// src/transfer/ (Transfer.cpp, DebugReply.cpp).
#pragma once

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "link/comm.h"
#include "link/host.h"
#include "link/link.h"
#include "transfer/Chain.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QMessageBox;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTimer;

namespace tern::widgets {
class TCSpinButton;
class THexEdit;
class TRadioGroup;
}  // namespace tern::widgets

namespace tern::app {



class TFTern : public QMainWindow, public link::LinkHost {
    Q_OBJECT
public:
    /// `toolMode` is the index given to tool_type (0 DBG, 1 APL, 2 KIZU).
    /// The window talks through `port` when one is given (tests), else
    /// through its own serial port Comm1. FormCreate runs here, so the
    /// connection starts at once; `onMessageBox` (see OnMessageBox) is in
    /// place before it, for a box the start may open.
    explicit TFTern(int toolMode = link::kModeApl, link::CommPort* port = nullptr,
                    std::function<void(QMessageBox&)> onMessageBox = {}, QWidget* parent = nullptr);
    ~TFTern() override;

    link::Link& Link() { return *link_; }
    /// The window's own serial port; null when a port was handed in.
    link::TComm* Comm1() { return comm1_.get(); }

    // ---- LinkHost ---------------------------------------------------------
    void SetStatusPanel(int panel, const std::string& text) override;
    void SetScreenCursor(bool busy) override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void ShowException(const std::exception& e) override;
    void EnableTimer(link::LinkTimer timer, bool on) override;
    void EnablePageControl(bool on) override;
    void EnablePanel4(bool on) override;
    int ActivePage() const override;
    int ToolMode() const override;
    void Terminate() override;
    int LoadStep() const override { return loadStep_; }
    bool DefectLock() const override { return defectLock_; }
    bool LoadGuard() const override { return loadGuard_; }
    void Trans_init(int step) override;
    void Trans_end() override;
    void PostToEventThread(std::function<void()> fn) override;

    // ---- shell ------------------------------------------------------------
    void FormCreate();
    void PageControl1Change();
    void Reset1Click();
    void ExitClick();
    void FormDestroy();
    void Panel1Click();
    void pwlChange();
    void ReLoadClick();

    // ---- transfer engine --------------------------------------------------
    void Trans_end_common();
    void Trans_end_cstm();
    void Debug_tend();
    void Trans_end_at_kizu();
    void Trans_end_copy();
    void Trans_end_setup1();
    void Trans_end_setup2();
    void Trans_cstm_hidden();
    void PlaceCursorDot();
    void Trans_rd_dbg();

    // ---- Debug page ---------------------------------------------------------
    void DspAdrChange();
    void DspDataChange();
    void DspRadixChange();
    void DspDatSpinUpClick();
    void DspDatSpinDownClick();
    void eepadrChange();
    void EepdataChange();
    void CSpinButton6UpClick();
    void CSpinButton6DownClick();
    void CSpinButton7UpClick();
    void CSpinButton7DownClick();
    void osdtChange();
    void RamSendClick();
    void PresetSaveClick();
    void push_upClick();
    void push_dnClick();
    void push_lClick();
    void push_rClick();
    void push_entClick();
    /// The key handler of the five menu-key buttons; true when the key was one of theirs.
    bool push_upKeyPress(QWidget* sender, QChar key);

    // ---- timers (each tick calls its handler; tests call them directly) ---
    void SendTimerTimer();
    void ReloadTimerTimer();
    void cursor_timerTimer();
    void ZoomTimerTimer() {}
    void TitleTimerTimer() {}
    void LensTimerTimer() {}
    void AGCTimerTimer() {}
    void AGCManTimerTimer() {}
    void RTimerTimer() {}
    void BTimerTimer() {}
    void BLCAreaTimerTimer() {}
    void AWC_TimerTimer() {}
    void TimerRYPTimer() {}
    void TimerBYPTimer() {}
    void TimerRYNTimer() {}
    void TimerBYNTimer() {}
    void PEAKTimerTimer() {}
    void v_pha_timerTimer() {}
    void h_pha_timerTimer() {}
    void kneeTimerTimer() {}
    void enh_h_timerTimer() {}
    void enh_v_timerTimer() {}
    void MoLvtimerTimer() {}
    void kizu_auto_timerTimer() {}

    // ---- shared data of the transfer engine ---------------------------------
    transfer::SettingsImageArray SettingsImage{};
    transfer::VideoGeometry Geometry;
    std::int32_t SensorWidth() const { return Geometry.SensorWidth; }
    std::int32_t SensorHeight() const { return Geometry.SensorHeight; }
    std::int32_t LowResolution() const { return Geometry.LowResolution; }
    std::int32_t PalSystem() const { return Geometry.PalSystem; }
    int UnlockTries = 0;
    bool DspDataSkip() const { return dspDataSkip_; }
    bool EepDataSkip() const { return eepDataSkip_; }

    // ---- controls (named as on the window) ------------------------------
    QWidget* Panelbase = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* Title = nullptr;
    QLineEdit* pwl = nullptr;
    widgets::TRadioGroup* tool_type = nullptr;
    QLabel* TV = nullptr;
    QLabel* Resolution = nullptr;
    QPushButton* ResetButton = nullptr;
    QPushButton* ExitButton = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet5 = nullptr;
    QWidget* CopySheet = nullptr;
    QWidget* TabSheet3 = nullptr;
    QWidget* TabSheet4 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanels[4] = {};
    QMenu* Camera1 = nullptr;
    QAction* ReLoad = nullptr;
    QAction* Reset1 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* CameraVersion1 = nullptr;
    QAction* PCVersion1 = nullptr;
    QFileDialog* SaveDialog1 = nullptr;
    QFileDialog* OpenDialog1 = nullptr;

    // Copy page (what the unlock needs; the transfers come with the page)
    QPushButton* CtopOK2 = nullptr;
    QPushButton* ptocOk = nullptr;
    QPushButton* ptocOk2 = nullptr;
    QLabel* complete2 = nullptr;
    // Setup pages
    QFrame* Panel4 = nullptr;
    QPushButton* exitbtn = nullptr;
    QPushButton* exitbtn2 = nullptr;

    // Debug page
    QWidget* GroupBox3 = nullptr;
    QComboBox* DspAdr = nullptr;
    widgets::THexEdit* DspData = nullptr;
    widgets::THexEdit* DspRadix = nullptr;
    widgets::TCSpinButton* DspDatSpin = nullptr;
    QCheckBox* NoWrite = nullptr;
    QWidget* GroupBox4 = nullptr;
    widgets::THexEdit* eepadr = nullptr;
    widgets::THexEdit* Eepdata = nullptr;
    widgets::TCSpinButton* CSpinButton6 = nullptr;
    widgets::TCSpinButton* CSpinButton7 = nullptr;
    QCheckBox* EEP_RAM = nullptr;
    widgets::TRadioGroup* OSD = nullptr;
    widgets::THexEdit* osdt = nullptr;
    QWidget* GroupBox7 = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* SendBuffer = nullptr;
    QPushButton* RamSend = nullptr;
    QPushButton* PresetSave = nullptr;
    QPushButton* push_up = nullptr;
    QPushButton* push_dn = nullptr;
    QPushButton* push_l = nullptr;
    QPushButton* push_r = nullptr;
    QPushButton* push_ent = nullptr;

    // timers
    QTimer* SendTimer = nullptr;
    QTimer* ReloadTimer = nullptr;
    QTimer* cursor_timer = nullptr;
    QTimer* ZoomTimer = nullptr;
    QTimer* TitleTimer = nullptr;
    QTimer* LensTimer = nullptr;
    QTimer* AGCTimer = nullptr;
    QTimer* AGCManTimer = nullptr;
    QTimer* RTimer = nullptr;
    QTimer* BTimer = nullptr;
    QTimer* BLCAreaTimer = nullptr;
    QTimer* AWC_Timer = nullptr;
    QTimer* TimerRYP = nullptr;
    QTimer* TimerBYP = nullptr;
    QTimer* TimerRYN = nullptr;
    QTimer* TimerBYN = nullptr;
    QTimer* PEAKTimer = nullptr;
    QTimer* v_pha_timer = nullptr;
    QTimer* h_pha_timer = nullptr;
    QTimer* kneeTimer = nullptr;
    QTimer* enh_h_timer = nullptr;
    QTimer* enh_v_timer = nullptr;
    QTimer* MoLvtimer = nullptr;
    QTimer* kizu_auto_timer = nullptr;

    // ---- what the run showed (tests, screenshots) ---------------------------
    struct Shown {
        std::string text;
        std::string caption;
    };
    /// Every message box and exception shown, in order.
    std::vector<Shown> Messages;
    /// Called with each message box just before it runs modally; tests close
    /// it from here (or from a timer they start here).
    std::function<void(QMessageBox&)> OnMessageBox;
    /// Called after each reply has been handled (Trans_end).
    std::function<void()> OnReply;
    bool Terminated() const { return terminated_; }
    bool BusyCursor() const { return cursorBusy_; }

signals:
    /// The tool ends: the window was closed (0) or no camera answered at start (1).
    void Ended(int exitCode);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// Runs a handler; an exception that leaves it is shown and the tool goes on.
    void Guard(const std::function<void()>& fn);
    void MessageBox(const QString& text, const QString& caption, bool error);

    void BuildWindow();
    void BuildTitleStrip(QWidget* base);
    void BuildMenu();
    void BuildStatusBar();
    void BuildTimers();
    void BuildDialogs();
    void BuildDebugPage(QWidget* sheet);
    void BuildCopyPage(QWidget* sheet);
    void BuildSetupPages();
    void ConnectDebugPage();
    void WireComm1();
    void ApplyToolMode(int mode);
    QTimer* TimerOf(link::LinkTimer timer) const;
    void SendWhenIdle(const link::Payload& p, int n);

    std::unique_ptr<link::TComm> comm1_;
    link::CommPort* port_ = nullptr;
    std::unique_ptr<link::Link> link_;
    int loadStep_ = 0;
    bool defectLock_ = false;
    bool loadGuard_ = false;
    bool syncReset_ = false;
    bool dspDataSkip_ = false;
    bool eepDataSkip_ = false;
    bool cursorBusy_ = false;
    bool terminated_ = false;
    bool closed_ = false;
    std::string lastCommProblem_;
};

}  // namespace tern::app
