// Building the main window, its timers and FormCreate.
#include "app/MTern.h"

#include "app/PortWatch.h"
#include "link/comm_net.h"
#include "link/ports.h"
#include "link/version.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QKeySequence>
#include <QFrame>
#include <QInputDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QFontInfo>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "app/DebugPage.h"
#include "widgets/Fonts.h"
#include "controls/AdjustPage.h"
#include "controls/Cmask.h"
#include "controls/Setup1Page.h"
#include "controls/Setup2Page.h"
#include "copy/CopyPage.h"
#include "defect/DefectPage.h"
#include "widgets/Fit.h"
#include "widgets/Make.h"
#include "widgets/RadioGroup.h"

namespace tern::app {

using link::LinkTimer;

namespace {

/// A page in a scroll area that asks for the page's whole size: the window
/// opens as large as its pages need, and scrolls only when the screen is smaller.
class PageScroll : public QScrollArea {
public:
    PageScroll() {
        setWidgetResizable(true);
        setFrameShape(QFrame::NoFrame);
    }
    QSize sizeHint() const override {
        if (widget() == nullptr) return QScrollArea::sizeHint();
        return widget()->sizeHint().expandedTo(widget()->minimumSizeHint()) +
               QSize(2 * frameWidth(), 2 * frameWidth());
    }
};

struct TimerRow {
    QTimer* TFTern::*timer;
    const char* name;
    int intervalMs;
    void (TFTern::*handler)();
};

// All timers of the window; only SendTimer runs from the start. The link's
// three have their handlers here; the pages connect theirs (ConnectTimer).
const TimerRow kTimers[] = {
    {&TFTern::SendTimer, "SendTimer", 1500, &TFTern::SendTimerTimer},
    {&TFTern::ReloadTimer, "ReloadTimer", 4000, &TFTern::ReloadTimerTimer},
    {&TFTern::cursor_timer, "cursor_timer", 10, &TFTern::cursor_timerTimer},
    {&TFTern::ZoomTimer, "ZoomTimer", 500, nullptr},
    {&TFTern::TitleTimer, "TitleTimer", 500, nullptr},
    {&TFTern::LensTimer, "LensTimer", 300, nullptr},
    {&TFTern::AGCTimer, "AGCTimer", 300, nullptr},
    {&TFTern::AGCManTimer, "AGCManTimer", 300, nullptr},
    {&TFTern::RTimer, "RTimer", 1000, nullptr},
    {&TFTern::BTimer, "BTimer", 500, nullptr},
    {&TFTern::BLCAreaTimer, "BLCAreaTimer", 300, nullptr},
    {&TFTern::AWC_Timer, "AWC_Timer", 3100, nullptr},
    {&TFTern::TimerRYP, "TimerRYP", 200, nullptr},
    {&TFTern::TimerBYP, "TimerBYP", 200, nullptr},
    {&TFTern::TimerRYN, "TimerRYN", 200, nullptr},
    {&TFTern::TimerBYN, "TimerBYN", 200, nullptr},
    {&TFTern::PEAKTimer, "PEAKTimer", 300, nullptr},
    {&TFTern::v_pha_timer, "v_pha_timer", 300, nullptr},
    {&TFTern::h_pha_timer, "h_pha_timer", 300, nullptr},
    {&TFTern::kneeTimer, "kneeTimer", 200, nullptr},
    {&TFTern::enh_h_timer, "enh_h_timer", 200, nullptr},
    {&TFTern::enh_v_timer, "enh_v_timer", 200, nullptr},
    {&TFTern::MoLvtimer, "MoLvtimer", 200, nullptr},
    {&TFTern::kizu_auto_timer, "kizu_auto_timer", 300, nullptr},
};

using widgets::make::Button;
using widgets::make::Label;

}  // namespace

TFTern::TFTern(link::ToolMode toolMode, link::CommPort* port, std::function<void(QMessageBox&)> onMessageBox, QWidget* parent)
    : QMainWindow(parent), OnMessageBox(std::move(onMessageBox)) {
    Construct(toolMode, port, link::PortDevices{}, nullptr);
}

TFTern::TFTern(link::ToolMode toolMode, const link::PortDevices& devices, std::function<void(QMessageBox&)> onMessageBox,
               link::LineTrace* trace)
    : QMainWindow(nullptr), OnMessageBox(std::move(onMessageBox)) {
    Construct(toolMode, nullptr, devices, trace);
}

void TFTern::Construct(link::ToolMode toolMode, link::CommPort* port, const link::PortDevices& devices,
                       link::LineTrace* trace) {
    setObjectName("FTern");
    setWindowTitle(" ");
    setFont(widgets::WindowFont());
    if (port == nullptr) {
        comm1_ = std::make_unique<link::TComm>(devices);
        comm1_->SetTrace(trace);
        port_ = comm1_.get();
    } else {
        port_ = port;
    }
    session_ = std::make_unique<transfer::Session>(*port_, *this);
    link_ = &session_->Link();
    engine_ = &session_->Engine();
    if (comm1_) WireComm1();

    BuildWindow();
    BuildMenu();
    BuildStatusBar();
    BuildTimers();
    BuildPages();
    widgets::FitToFont(Panelbase);
    SetSettingToolTips();
    FitToScreen();
    controls_ = widgets::ControlIndex(this);
    tool_type->SetItemIndex(static_cast<int>(toolMode));

    Guard([this] { FormCreate(); });
    // Connected once the first page has been chosen: choosing it at start is
    // not a page switch, and the connection start reads it.
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int) { Guard([this] { PageControl1Change(); }); });
}

TFTern::~TFTern() {
    FormDestroy();
    if (cursorBusy_) SetScreenCursor(false);
}

void TFTern::WireComm1() {
    comm1_->SetReceiveNotifySize(7168);
    comm1_->SetSendNotifySize(8192);
    // The event loop watches the port: its bytes are read and dispatched here.
    portWatch_ = std::make_unique<PortWatch>(this);
    comm1_->SetNotifier(portWatch_.get());
    session_->WirePort(*comm1_, [this](const std::string& text) { ShowLostNotice(text); });
    comm1_->OnCommError = [this](link::TComm& sender, const std::string& message) {
        std::string text = "An error on the serial device " + sender.DeviceName() + ": " + message;
        PostToEventThread([this, text] {
            // A storm of the same error is one message.
            if (text == lastCommProblem_) return;
            lastCommProblem_ = text;
            MessageBox(QString::fromStdString(text), QApplication::applicationName(), true);
        });
    };
}

void TFTern::ShowLostNotice(const std::string& text) {
    // Not modal: the tool goes on retrying the device underneath, and the
    // notice closes itself once the camera answers again.
    if (lostNotice_) return;
    Messages.push_back({text, QApplication::applicationName().toStdString()});
    auto* box = new QMessageBox(QMessageBox::Warning, QApplication::applicationName(), QString::fromStdString(text),
                                QMessageBox::Ok, this);
    box->setObjectName("LostNotice");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    lostNotice_ = box;
    if (OnMessageBox) OnMessageBox(*box);
    box->show();
}

// ---- layout ------------------------------------------------------------------

void TFTern::BuildWindow() {
    Panelbase = new QWidget(this);
    Panelbase->setObjectName("Panelbase");
    setCentralWidget(Panelbase);
    auto* column = new QVBoxLayout(Panelbase);
    column->setContentsMargins(7, 4, 7, 2);
    column->setSpacing(4);

    BuildTitleStrip(Panelbase);

    PageControl1 = new QTabWidget(Panelbase);
    PageControl1->setObjectName("PageControl1");
    column->addWidget(PageControl1, 1);
    const struct {
        QWidget* TFTern::*sheet;
        const char* name;
        const char* caption;
    } pages[] = {
        {&TFTern::TabSheet1, "TabSheet1", "Adjust"}, {&TFTern::TabSheet2, "TabSheet2", "Debug"},
        {&TFTern::TabSheet5, "TabSheet5", "CCD Defect"}, {&TFTern::CopySheet, "CopySheet", "Copy"},
        {&TFTern::TabSheet3, "TabSheet3", "Setup1"}, {&TFTern::TabSheet4, "TabSheet4", "Setup2"},
    };
    for (const auto& p : pages) {
        auto* sheet = new QWidget;
        sheet->setObjectName(p.name);
        // A screen too small for a page (a large font, high scaling) scrolls it.
        auto* scroll = new PageScroll;
        scroll->setObjectName(QString::fromLatin1(p.name) + "Scroll");
        scroll->setWidget(sheet);
        PageControl1->addTab(scroll, p.caption);
        this->*(p.sheet) = sheet;
    }
}

void TFTern::BuildPages() {
    adjust_ = new controls::AdjustPage(TabSheet1, *this);
    debug_ = new DebugPage(TabSheet2, *this);
    defect_ = new defect::DefectPage(TabSheet5, *this);
    copy_ = new copy::CopyPage(CopySheet, *this);
    setup1_ = new controls::Setup1Page(TabSheet3, *this);
    setup2_ = new controls::Setup2Page(TabSheet4, *this);
    mask_ = new controls::TFMask(*this, this);  // a window of its own, owned by this one
    // It edits the mask that the Setup1 page's choice names at each moment.
    mask_->FollowChoice([this] { return setup1_->mask->currentIndex(); });
    mask_->hide();
    connect(setup2_, &controls::Setup2Page::SyncRefused, setup1_, &controls::Setup1Page::SyncRefused);
    connect(copy_, &copy::CopyPage::Ended, this, [this] { CopyEnded(); });
    connect(setup1_, &controls::Setup1Page::MaskRequested, this, [this](int mask) { Guard([this, mask] { mask_->OpenFor(mask); }); });
    connect(setup1_, &controls::Setup1Page::ExitRequested, this, [this] { Guard([this] { ExitClick(); }); });
    connect(setup2_, &controls::Setup2Page::ExitRequested, this, [this] { Guard([this] { ExitClick(); }); });
}

void TFTern::BuildTitleStrip(QWidget* base) {
    Panel1 = new QFrame(base);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);
    Panel1->setMinimumWidth(208);
    Panel1->installEventFilter(this);
    Title = Label("Title", QString(), Panel1);
    auto* strip = new QHBoxLayout(Panel1);
    strip->setContentsMargins(4, 2, 4, 2);
    strip->addWidget(Title);
    QFont big = Title->font();
    big.setPixelSize(std::max(14, QFontInfo(base->font()).pixelSize() + 2));
    big.setBold(true);
    Title->setFont(big);

    pwl = new QLineEdit(base);
    pwl->setObjectName("pwl");
    pwl->setEchoMode(QLineEdit::Password);
    pwl->setStyleSheet("lineedit-password-character: 42;");  // '*' for each character
    pwl->setFixedWidth(std::max(50, pwl->fontMetrics().horizontalAdvance(QStringLiteral("******")) + 12));
    pwl->hide();

    tool_type = new widgets::TRadioGroup("tool_type", "tool_type", {"DBG", "APL", "KIZU"}, base);
    tool_type->hide();

    TV = Label("TV", QString(), base);
    TV->setMinimumWidth(60);
    Resolution = Label("Resolution", QString(), base);
    Resolution->setMinimumWidth(96);

    ResetButton = Button("ResetButton", "Reset", base);
    ExitButton = Button("ExitButton", "Exit", base);
    for (QPushButton* b : {ResetButton, ExitButton}) b->setMinimumWidth(75);

    // The strip keeps its order from left to right; the buttons keep to the right.
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addWidget(Panel1);
    row->addWidget(pwl);
    row->addWidget(TV, 0, Qt::AlignBottom);
    row->addWidget(Resolution, 0, Qt::AlignBottom);
    row->addStretch(1);
    row->addWidget(ResetButton);
    row->addWidget(ExitButton);
    static_cast<QVBoxLayout*>(base->layout())->addLayout(row);

    connect(ResetButton, &QPushButton::clicked, this, [this] { Guard([this] { Reset1Click(); }); });
    connect(ExitButton, &QPushButton::clicked, this, [this] { Guard([this] { ExitClick(); }); });
    connect(pwl, &QLineEdit::textChanged, this, [this] { Guard([this] { pwlChange(); }); });
}

void TFTern::BuildMenu() {
    Camera1 = menuBar()->addMenu("&Camera");
    Camera1->setObjectName("Camera1");
    ReLoad = Camera1->addAction("&Load");
    ReLoad->setObjectName("ReLoad");
    // The serial ports present, filled afresh each time the menu opens.
    ConnectTo1 = Camera1->addMenu("C&onnect to");
    ConnectTo1->setObjectName("ConnectTo1");
    connect(ConnectTo1, &QMenu::aboutToShow, this, [this] { Guard([this] { FillConnectMenu(); }); });
    Reset1 = Camera1->addAction("&Reset");
    Reset1->setObjectName("Reset1");
    Exit1 = Camera1->addAction("&Exit");
    Exit1->setObjectName("Exit1");
    Help1 = menuBar()->addMenu("&Help");
    Help1->setObjectName("Help1");
    CameraVersion1 = Help1->addAction("&Camera Version");
    CameraVersion1->setObjectName("CameraVersion1");
    PCVersion1 = Help1->addAction("&PC Version");
    PCVersion1->setObjectName("PCVersion1");
    GettingStarted1 = Help1->addAction("&Getting started");
    GettingStarted1->setObjectName("GettingStarted1");
    GettingStarted1->setShortcut(QKeySequence(Qt::Key_F1));

    connect(ReLoad, &QAction::triggered, this, [this] { Guard([this] { LoadMenuClick(); }); });
    connect(PCVersion1, &QAction::triggered, this, [this] {
        Guard([this] { ShowMessage(std::string("ternab ") + link::kVersion, "PC Version"); });
    });
    connect(CameraVersion1, &QAction::triggered, this, [this] {
        Guard([this] { ShowMessage(CameraVersionText(), "Camera Version"); });
    });
    connect(GettingStarted1, &QAction::triggered, this, [this] { Guard([this] { ShowGettingStarted(); }); });
    connect(Reset1, &QAction::triggered, this, [this] { Guard([this] { Reset1Click(); }); });
    connect(Exit1, &QAction::triggered, this, [this] { Guard([this] { ExitClick(); }); });
}

std::string TFTern::DeviceInUse() const {
    if (!comm1_) return {};
    std::string device = comm1_->DeviceName();
    if (device.empty()) device = comm1_->PortDeviceName(comm1_->Port());
    return device;
}

void TFTern::FillConnectMenu() {
    ConnectTo1->clear();
    auto ports = link::ListSerialPorts(DevRoot);
    // The device in use is marked, and listed even when it is none of the
    // kinds the list looks for (a pseudo-terminal, a port the kernel does not
    // call a real UART).
    const std::string inUse = DeviceInUse();
    std::error_code ec;
    const std::filesystem::path inUseReal = inUse.empty() ? std::filesystem::path() : std::filesystem::canonical(inUse, ec);
    auto isInUse = [&](const link::SerialPort& p) {
        if (inUse.empty()) return false;
        if (p.device == inUse || p.byIdPath == inUse) return true;
        std::error_code e;
        return !inUseReal.empty() && std::filesystem::canonical(p.device, e) == inUseReal;
    };
    if (!inUse.empty() && std::none_of(ports.begin(), ports.end(), isInUse)) {
        link::SerialPort p;
        p.device = inUse;
        p.accessible = true;
        ports.insert(ports.begin(), p);
    }
    if (ports.empty()) {
        QAction* none = ConnectTo1->addAction("No serial port found: plug in the adapter");
        none->setEnabled(false);
    }
    for (const link::SerialPort& p : ports) {
        QString text = QString::fromStdString(link::PortLabel(p));
        const bool used = isInUse(p);
        if (used) text += " (in use)";
        if (!p.accessible) text += " (no permission: see the README on the dialout group)";
        QAction* a = ConnectTo1->addAction(text);
        a->setCheckable(true);
        a->setChecked(used);
        // The by-id name survives unplugging and a different plug-in order.
        const std::string device = p.byIdPath.empty() ? p.device : p.byIdPath;
        connect(a, &QAction::triggered, this, [this, device] { Guard([this, device] { ConnectToPort(device); }); });
    }
    ConnectTo1->addSeparator();
    QAction* net = ConnectTo1->addAction("Network port...");
    net->setObjectName("NetworkPort1");
    connect(net, &QAction::triggered, this, [this] { Guard([this] { AskNetworkPort(); }); });
}

void TFTern::AskNetworkPort() {
    const std::string inUse = DeviceInUse();
    QString name = QString::fromStdString(link::IsNetworkPortName(inUse) ? inUse : QSettings().value("port/network").toString().toStdString());
    if (name.isEmpty()) name = QStringLiteral("rfc2217://");
    bool ok = false;
    name = QInputDialog::getText(this, QStringLiteral("Network port"),
                                 QStringLiteral("A camera behind a terminal server:\n"
                                                "rfc2217://HOST:PORT (the server sets the line) or tcp://HOST:PORT (raw)"),
                                 QLineEdit::Normal, name, &ok);
    if (ok) ConnectToNetworkPort(name.trimmed().toStdString());
}

bool TFTern::ConnectToNetworkPort(const std::string& name) {
    std::string error;
    if (!link::ParseNetworkPort(name, &error)) {
        MessageBox(QString::fromStdString(name + ": " + error), QApplication::applicationName(), true);
        return false;
    }
    QSettings().setValue("port/network", QString::fromStdString(name));
    ConnectToPort(name);
    return true;
}

void TFTern::ConnectToPort(const std::string& device) {
    if (!comm1_) return;  // a port handed in (tests) is not the window's to move
    comm1_->SetPortDevice(1, device);
    comm1_->SetPortDevice(2, device);
    QSettings settings;
    settings.setValue("port/last", QString::fromStdString(device));
    lastOpenError_.clear();
    link_->Reconnect();
}

std::string TFTern::RememberedPort() {
    QSettings settings;
    return settings.value("port/last").toString().toStdString();
}

void TFTern::BuildStatusBar() {
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    // No size grip: its room goes to the panels on a narrow screen.
    StatusBar1->setSizeGripEnabled(false);
    // The panels' widths at the window's 12-pixel font, grown with a larger
    // one: panels 1 and 2 hold the 30 hex digits of a frame. Panel 0 takes
    // what room the window has beside the others, and may shrink below its
    // 150 pixels (to 120) on a narrow screen.
    const double grow = std::max(1.0, QFontInfo(font()).pixelSize() / 12.0);
    // At a larger font than the window's own, room for letters wider than digits too.
    const int zeros = fontMetrics().horizontalAdvance(QString(30, QLatin1Char('0')));
    const int frame = zeros + 8 <= 220 ? 220 : zeros * 106 / 100 + 8;
    const int widths[4] = {static_cast<int>(120 * grow), std::max(220, frame), std::max(220, frame),
                           static_cast<int>(40 * grow)};
    for (int i = 0; i < 4; ++i) {
        auto* panel = Label(QStringLiteral("StatusBar1_%1").arg(i), QString(), StatusBar1);
        panel->setMinimumWidth(widths[i]);
        if (i != 0) panel->setMaximumWidth(widths[i]);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setIndent(2);  // the text's room is the panel's, less the frame
        // The panel's width follows the window; its text stays in the tooltip.
        panel->setSizePolicy(i == 0 ? QSizePolicy::Ignored : QSizePolicy::Fixed, QSizePolicy::Preferred);
        if (i != 0) {
            // Fixed both ways, a new text is painted where the old one was:
            // it does not lay out the window again (a copy changes panels 1
            // and 2 with every reply).
            panel->setText(QStringLiteral("0"));
            panel->setFixedHeight(panel->sizeHint().height());
            panel->clear();
            // Opaque: a new text repaints the panel alone, not the bar and
            // the window under it.
            panel->setAutoFillBackground(true);
        }
        StatusBar1->addWidget(panel, i == 0 ? 1 : 0);
        StatusPanels[i] = panel;
    }
    StatusPanels[0]->installEventFilter(this);
    setStatusBar(StatusBar1);
}

void TFTern::BuildTimers() {
    for (const TimerRow& row : kTimers) {
        auto* t = new QTimer(this);
        t->setObjectName(row.name);
        t->setInterval(row.intervalMs);
        t->setSingleShot(false);
        // A coarse timer may fire up to 5 % early: the reload after a preset
        // and the throttles would come before their time.
        t->setTimerType(Qt::PreciseTimer);
        this->*(row.timer) = t;
        if (row.handler == nullptr) continue;  // a page's timer: the page connects it
        const auto handler = row.handler;
        // A tick that comes while a box opened by the reply dispatcher is up
        // waits until the dispatcher's reaction is over, so no timer handler
        // ever runs inside it.
        // Every tick of the reply watch that falls under a box counts: each
        // runs once the box is over (the others' ticks run once).
        const void* key = row.name == std::string_view("SendTimer") ? nullptr : t;
        ConnectTick(t, key, [this, handler] { (this->*handler)(); });
    }
    SendTimer->start();
}

QFileDialog* TFTern::FileDialog(bool save) {
    // Built at first use: a file dialog costs start-up time and memory, and
    // its file model keeps threads that re-scan the folder shown.
    QFileDialog* TFTern::*slot = save ? &TFTern::SaveDialog1 : &TFTern::OpenDialog1;
    if (this->*slot != nullptr) return this->*slot;
    auto* d = new QFileDialog(this);
    d->setObjectName(save ? "SaveDialog1" : "OpenDialog1");
    d->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    d->setNameFilter(QString::fromUtf8("データ(*.dat);;すべてのファイル (*)"));
    d->selectFile("*.dat");
    // "site1" is saved as site1.dat, which the *.dat filter then shows.
    if (save) d->setDefaultSuffix("dat");
    d->setOption(QFileDialog::DontUseNativeDialog, true);
    this->*slot = d;
    return d;
}

void TFTern::ConnectTick(QTimer* t, const void* key, std::function<void()> handler) {
    connect(t, &QTimer::timeout, this, [this, t, key, handler = std::move(handler)] {
        Guard([this, t, key, &handler] {
            // 0 waiting, 1 ran, 2 waiting with the timer paused.
            auto state = std::make_shared<int>(0);
            link_->RunOutsideDispatch(key, [this, t, state, handler] {
                // Running again for the handler, which may stop it as at any tick.
                if (*state == 2 && !closed_) t->start();
                *state = 1;
                handler();
            });
            // A tick that has to wait runs once: the timer pauses meanwhile, so
            // a 10 ms timer does not wake the event thread under a box that
            // stays up for minutes. The reply watch's ticks (no key) each count.
            if (*state == 0 && key != nullptr) {
                *state = 2;
                t->stop();
            }
        });
    });
}

QTimer* TFTern::TimerOf(LinkTimer timer) const {
    switch (timer) {
        case LinkTimer::Send: return SendTimer;
        case LinkTimer::Reload: return ReloadTimer;
        case LinkTimer::Cursor: return cursor_timer;
    }
    return nullptr;
}

// ---- FormCreate -----------------------------------------------------------------

void TFTern::ApplyToolMode(link::ToolMode mode) {
    struct ModeRow {
        bool tabs[link::kPageCount];
        bool stripControls;  // ResetButton, ExitButton, TV, Resolution
        link::Page firstPage;
    };
    static const ModeRow kModes[3] = {
        {{true, true, true, true, true, true}, true, link::Page::Debug},        // DBG
        {{false, false, false, false, true, true}, false, link::Page::Setup1},  // APL
        {{false, false, true, false, false, false}, true, link::Page::Defect},  // KIZU
    };
    const int index = static_cast<int>(mode);
    const ModeRow& row = kModes[(index >= 0 && index <= 2) ? index : static_cast<int>(link::ToolMode::Apl)];
    const int first = static_cast<int>(row.firstPage);
    // Show the first page before hiding the others, so the tab bar never
    // has to pick a page of its own.
    PageControl1->setTabVisible(first, true);
    PageControl1->setCurrentIndex(first);
    for (int i = 0; i < link::kPageCount; ++i) PageControl1->setTabVisible(i, row.tabs[i]);
    for (QWidget* w : {static_cast<QWidget*>(ExitButton), static_cast<QWidget*>(ResetButton),
                       static_cast<QWidget*>(TV), static_cast<QWidget*>(Resolution)}) {
        w->setVisible(row.stripControls);
    }
    PageControl1->setEnabled(false);
    PageControl1->setCurrentIndex(first);
}

void TFTern::FormCreate() {
    move(0, 0);
    ApplyToolMode(ToolMode());
    copy_->complete2->hide();
    pwl->blockSignals(true);  // emptying it is not an entry
    pwl->clear();
    pwl->blockSignals(false);
    engine_->ClearFlags();
    link_->Lock_off();
    debug_->ClearFlags();
    Title->setText(" Camera Adjust Tool");
    link_->Trans_Create();
}

void TFTern::SendTimerTimer() { link_->SendTimerTimer(); }
void TFTern::ReloadTimerTimer() { link_->ReloadTimerTimer(); }
void TFTern::cursor_timerTimer() { link_->cursor_timerTimer(); }

}  // namespace tern::app
