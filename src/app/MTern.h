// TFTern, the main window's shell: the title strip, the page control with
// the six pages, the menu, the status bar, the timers, the link's host and
// the rules that span pages (tool modes, the unlock, the routing of every
// reply to the page shown). Each page is a class of its own that owns its
// controls and handlers: app/DebugPage, controls/AdjustPage, Setup1Page,
// Setup2Page, copy/CopyPage and defect/DefectPage. The methods of TFTern are
// spread over MTern.cpp (building, FormCreate, timers), Shell.cpp (page
// switch, reset, exit, unlock, reply routing) and Host.cpp (what the link
// and the pages ask of the window).
#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <array>
#include <functional>
#include <memory>
#include <set>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/comm.h"
#include "link/host.h"
#include "link/link.h"
#include "transfer/Engine.h"
#include "transfer/Session.h"
#include "transfer/Settings.h"
#include "widgets/Apply.h"
#include "widgets/PageHost.h"

class QAction;
class QDialog;
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
class TRadioGroup;
}  // namespace tern::widgets
namespace tern::controls {
class AdjustPage;
class TFMask;
class Setup1Page;
class Setup2Page;
}  // namespace tern::controls
namespace tern::copy {
class CopyPage;
}
namespace tern::defect {
class DefectPage;
}

namespace tern::app {

class DebugPage;

/// What the window and ternctl say when no camera answers on `device`: the
/// system's text first, then the port tried and what to check.
std::string NoAnswerText(const std::string& device);
/// Camera > Load while no camera is connected.
inline constexpr const char* kMsgLoadNotConnected = "Not connected: choose a port with Camera > Connect to";

class TFTern : public QMainWindow, public link::LinkHost, public widgets::PageHost {
    Q_OBJECT
public:
    /// `toolMode` chooses the pages shown (tool_type). The window talks through `port` when one is given (tests), else
    /// through its own serial port Comm1. FormCreate runs here, so the
    /// connection starts at once; `onMessageBox` (see OnMessageBox) is in
    /// place before it, for a box the start may open.
    explicit TFTern(link::ToolMode toolMode = link::ToolMode::Apl, link::CommPort* port = nullptr,
                    std::function<void(QMessageBox&)> onMessageBox = {}, QWidget* parent = nullptr);
    /// The window on its own serial port, with the devices behind COM1 and COM2.
    TFTern(link::ToolMode toolMode, const link::PortDevices& devices,
           std::function<void(QMessageBox&)> onMessageBox = {}, link::LineTrace* trace = nullptr);

    /// Reconnects on `device` (Camera > Connect to): the handshake, then the
    /// page shown is read; the device is remembered for the next start.
    void ConnectToPort(const std::string& device);
    /// Camera > Connect to > Network port...: asks for rfc2217://HOST:PORT or
    /// tcp://HOST:PORT, then ConnectToNetworkPort.
    void AskNetworkPort();
    /// Connects on a network port (remembered as the last port, and as the
    /// one the dialog offers next); a malformed name is shown and changes nothing.
    bool ConnectToNetworkPort(const std::string& name);
    /// The device last chosen with Connect to, empty when none.
    static std::string RememberedPort();
    /// Where Connect to looks for serial devices (a stand-in folder in tests).
    std::string DevRoot = "/dev";
    /// Camera > Connect to: the serial ports present, the one in use marked
    /// (and listed whatever its kind).
    void FillConnectMenu();
    /// The device the window has open or is trying; empty with a port handed in.
    std::string DeviceInUse() const;
    ~TFTern() override;

    link::Link& Link() override { return *link_; }
    transfer::Engine& Engine() override { return *engine_; }
    /// The window's own serial port; null when a port was handed in.
    link::TComm* Comm1() { return comm1_.get(); }

    // ---- LinkHost ---------------------------------------------------------
    void BusyChanged(bool busy) override { SetScreenCursor(busy); }
    void FrameSent() override;
    void ExchangeDone() override;
    void ExchangeRefused() override;
    void NoiseRepeated(int repeats) override;
    void ResetLockChanged(bool locked) override { EnablePanel4(!locked); }
    bool ReadAgainAfterReset() const override { return ActivePage() != link::Page::Debug; }
    void ChangesDropped(const std::vector<std::string>& names) override;
    void SetStatusPanel(int panel, const std::string& text);
    void SetScreenCursor(bool busy);
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void ShowException(const std::exception& e) override;
    void EnableTimer(link::LinkTimer timer, bool on) override;
    void EnablePageControl(bool on) override;
    void EnablePanel4(bool on);
    link::Page ActivePage() const;
    link::ToolMode ToolMode() const override;
    void Terminate() override;
    int LoadStep() const override { return engine_->LoadStep(); }
    bool DefectLock() const override { return engine_->DefectLock(); }
    bool LoadGuard() const override { return engine_->LoadGuard(); }
    void Trans_init(int step) override;
    void Trans_end() override;
    void PostToEventThread(std::function<void()> fn) override;

    void CloseCopyFile() override;
    void AdvanceCopyProgress(int by) override;
    void ReplyGivenUp() override;
    void LineStateChanged(link::LineState state) override;

    // ---- PageHost -----------------------------------------------------------
    void Guard(const std::function<void()>& fn) override;
    void ShowAbortRetryIgnore(const std::string& text, const std::string& caption) override;
    QTimer* ConnectTimer(const char* name, std::function<void()> handler) override;
    bool Ask(const std::string& text, const std::string& caption) override;
    int RunModal(QDialog& dialog) override;
    /// SaveDialog1 or OpenDialog1, built at first use.
    QFileDialog* FileDialog(bool save) override;
    void ShowPage(link::Page page) override;

    // ---- pages ----------------------------------------------------------------
    controls::AdjustPage& Adjust() { return *adjust_; }
    DebugPage& Debug() { return *debug_; }
    defect::DefectPage& Defect() { return *defect_; }
    copy::CopyPage& CopyPage() { return *copy_; }
    controls::Setup1Page& Setup1() { return *setup1_; }
    controls::Setup2Page& Setup2() { return *setup2_; }
    /// The privacy-mask editor, a window of its own, hidden until a mask is chosen.
    controls::TFMask& Mask() { return *mask_; }

    // ---- shell ------------------------------------------------------------
    void FormCreate();
    void PageControl1Change();
    /// A copy has ended: the page switched to while it ran is read now.
    void CopyEnded();
    /// During a copy the panels and the progress bar it changes with every
    /// reply are noted with each reply and shown once a second
    /// (CopyPaintTimerTimer), the last state when the copy ends.
    void PaceCopyPainting(bool copying);
    std::array<QWidget*, 3> PacedDuringCopy() const;
    void ApplyPacedPanelTexts();
    void Reset1Click();
    void ExitClick();
    void FormDestroy();
    void Panel1Click();
    void pwlChange();
    void ReLoadClick() override;
    /// Camera > Load: reads the page; while no camera is connected it says
    /// how to choose a port instead.
    void LoadMenuClick();
    /// The tooltip of a setting's control: its ternctl name and range. Every
    /// control's tooltip is made here, so what the window knows of the
    /// setting can join it in one place.
    QString SettingToolTip(const transfer::Setting& setting) const;
    /// Gives every control that has a ternctl name its tooltip.
    void SetSettingToolTips();
    void EnableReLoad(bool on) override;

    // ---- reply routing and the rules that span pages -------------------------
    /// Shows what the common decoder found in the title strip.
    void ApplyCommon(const transfer::CommonDecoded& found);
    /// Enables and disables the controls that depend on others, after every reply.
    void Trans_cstm_hidden();
    /// Shows on each setting control what the model says of it: a control
    /// whose value was not read is disabled, a refused one says what the
    /// camera kept; both in the tooltip.
    void ShowSettingStates();

    // ---- timers (each tick calls its handler; tests call them directly) ---
    void SendTimerTimer();
    void ReloadTimerTimer();
    void cursor_timerTimer();
    /// While a copy runs: the progress and frame panels as they now are, painted.
    void CopyPaintTimerTimer();

    // ---- the engine's data, as the window's tests read it ---------------------
    std::int32_t SensorWidth() const { return engine_->Geometry().SensorWidth; }
    std::int32_t SensorHeight() const { return engine_->Geometry().SensorHeight; }
    std::int32_t LowResolution() const { return engine_->Geometry().LowResolution; }
    std::int32_t PalSystem() const { return engine_->Geometry().PalSystem; }
    int UnlockTries = 0;

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
    QMenu* ConnectTo1 = nullptr;
    QAction* Reset1 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* CameraVersion1 = nullptr;
    QAction* PCVersion1 = nullptr;
    QAction* GettingStarted1 = nullptr;
    QFileDialog* SaveDialog1 = nullptr;  ///< null until first used (FileDialog)
    QFileDialog* OpenDialog1 = nullptr;

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
    /// Repeats of a message folded into the status bar rather than shown again.
    int FoldedRepeats = 0;
    /// Called with each message box just before it runs modally; tests close
    /// it from here (or from a timer they start here).
    std::function<void(QMessageBox&)> OnMessageBox;
    /// Called after each reply has been handled (Trans_end).
    std::function<void()> OnReply;
    /// Runs `fn` once, as soon as a load chain has run to its end (the link
    /// asks for the next step only after the reply's handlers, so the end is
    /// seen once the dispatcher is done). Uses OnReply.
    void CallWhenPageRead(std::function<void()> fn);
    /// Called with each file dialog just before it runs modally (tests).
    std::function<void(QDialog&)> OnDialog;
    bool Terminated() const { return terminated_; }
    bool BusyCursor() const { return cursorBusy_; }

signals:
    /// The tool ends: the window was closed (0) or no camera answered at start (1).
    void Ended(int exitCode);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// " Serial Port not connected " at start, with "Choose a port…" beside OK.
    void NotConnectedAtStart();
    /// The device went away: a notice that does not block the reconnection.
    void ShowLostNotice(const std::string& text);
    /// Status panel 0: `state` and the device, shortened to fit the panel.
    void ShowLineState(const QString& state, const QString& device);
    /// Panel 0 and the title together: `state` and `device` in the panel,
    /// `titleWord` in the title.
    void ShowLineTexts(const QString& state, const QString& device, const char* titleWord);
    /// Shortens panel 0's text to the panel's width again.
    void FitPanel0();
    /// Sizes the window to its pages, within the screen it is on.
    void FitToScreen();
    /// Help > Getting started: the README's first steps, in a window.
    void ShowGettingStarted();
    /// Help > Camera Version: what the tool knows of the camera.
    std::string CameraVersionText() const;
    /// Opens Camera > Connect to in the middle of the window.
    void ChoosePort();
    /// `buttons`: a set of QMessageBox::StandardButton as int; 0 for OK alone.
    void MessageBox(const QString& text, const QString& caption, bool error, int buttons = 0);

    void BuildWindow();
    void BuildTitleStrip(QWidget* base);
    void BuildMenu();
    void BuildStatusBar();
    void BuildTimers();
    void BuildPages();
    void Construct(link::ToolMode toolMode, link::CommPort* port, const link::PortDevices& devices,
                   link::LineTrace* trace);
    void WireComm1();
    void ApplyToolMode(link::ToolMode mode);
    QTimer* TimerOf(link::LinkTimer timer) const;
    /// Runs `handler` on each tick of `t`, outside the dispatcher's reaction
    /// and any box (Link::RunOutsideDispatch with `key`).
    void ConnectTick(QTimer* t, const void* key, std::function<void()> handler);

    // Declared before comm1_: the port stops watching before the watch goes.
    std::unique_ptr<link::PortNotifier> portWatch_;
    std::unique_ptr<link::TComm> comm1_;
    link::CommPort* port_ = nullptr;
    std::unique_ptr<transfer::Session> session_;
    link::Link* link_ = nullptr;
    transfer::Engine* engine_ = nullptr;
    controls::AdjustPage* adjust_ = nullptr;
    DebugPage* debug_ = nullptr;
    defect::DefectPage* defect_ = nullptr;
    copy::CopyPage* copy_ = nullptr;
    controls::Setup1Page* setup1_ = nullptr;
    controls::Setup2Page* setup2_ = nullptr;
    controls::TFMask* mask_ = nullptr;
    /// The window's controls by objectName, for the decoded values and the enabling rules.
    widgets::ControlIndex controls_;
    /// Controls disabled because their values were not read.
    std::set<transfer::Control> unknownControls_;
    /// The model's generation the controls show.
    std::uint64_t shownGeneration_ = 0;
    /// Paints the paced widgets while a copy runs; null otherwise.
    QTimer* copyPaint_ = nullptr;
    /// Panels 1 and 2's newest texts while a copy paces their painting: a
    /// label's new text lays out the whole window again, so it is set at the
    /// paint's pace.
    std::optional<QString> pacedPanelText_[3];
    /// Or the link's command (panel 1) or reply (panel 2) in hex, made only when painted.
    bool pacedLinkText_[3] = {};
    /// The enabling rules' inputs the controls show.
    std::optional<transfer::EnablingInputs> shownInputs_;
    /// Reads of the page started again by themselves after a give-up, since the last whole read.
    int rereadsAfterGiveUp_ = 0;
    bool cursorBusy_ = false;
    bool terminated_ = false;
    bool closed_ = false;
    /// The page shown was switched to while a copy ran: it is read once the copy ends.
    bool readAfterCopy_ = false;
    /// The user chose "Choose a port…": the start's give-up keeps the window.
    bool choosePort_ = false;
    /// "The serial device … went away": not modal, closed when the camera is back.
    QPointer<QMessageBox> lostNotice_;
    std::string lastCommProblem_;
    std::string lastOpenError_;
    struct OpenBox {
        QMessageBox* box;
        int folded;
    };
    std::map<std::pair<QString, QString>, OpenBox> openBoxes_;
    std::optional<std::pair<QString, QString>> draining_;
    std::uint64_t drainEnd_ = 0;  ///< the last held-back byte (Link::BytesTaken)
    qsizetype pwlLongest_ = 0;  ///< the unlock field's longest text since it was shown
};

}  // namespace tern::app
