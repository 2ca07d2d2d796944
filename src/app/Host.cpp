// What the link asks of the window: status panels, the busy cursor, message
// boxes, the timers, the page control, and running work on the event thread.
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QFileDialog>
#include <QMessageBox>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMenu>
#include <QMetaObject>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVariant>

#include <algorithm>

#include "app/MTern.h"
#include "link/ports.h"
#include "controls/Setup1Page.h"
#include "widgets/RadioGroup.h"

namespace tern::app {

void TFTern::Guard(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        ShowException(e);
    }
}

namespace {
/// While a modal box or dialog is up the event loop runs; the link holds the
/// camera's answers back until the handler that opened it has returned.
struct HoldDispatch {
    link::Link& l;
    explicit HoldDispatch(link::Link& link) : l(link) { l.HoldDispatch(); }
    ~HoldDispatch() { l.ReleaseDispatch(); }
    HoldDispatch(const HoldDispatch&) = delete;
    HoldDispatch& operator=(const HoldDispatch&) = delete;
};
}  // namespace

void TFTern::MessageBox(const QString& text, const QString& caption, bool error, int buttons) {
    const auto key = std::make_pair(text, caption);
    // Line noise can raise the same message many times over: while its box
    // is open, a repeat is counted in that box rather than opening another;
    // so is one raised by the answers that were held back under it.
    if (auto it = openBoxes_.find(key); it != openBoxes_.end()) {
        ++it->second.folded;
        it->second.box->setInformativeText(
            QStringLiteral("The same message came %1 more time(s) while this box was open.").arg(it->second.folded));
        return;
    }
    // Only a message raised by the camera's answers is folded: one that
    // answers the user's own action is always shown.
    if (draining_ && *draining_ == key && link_->InDispatch() && link_->BytesTaken() <= drainEnd_) {
        ++FoldedRepeats;
        StatusPanels[3]->setText(QStringLiteral("+%1").arg(FoldedRepeats));
        StatusPanels[3]->setToolTip(QStringLiteral("%1 repeat(s) of \"%2\" not shown again").arg(FoldedRepeats).arg(text.trimmed()));
        return;
    }
    Messages.push_back({text.toStdString(), caption.toStdString()});
    const auto set = buttons == 0 ? QMessageBox::StandardButtons(QMessageBox::Ok) : QMessageBox::StandardButtons::fromInt(buttons);
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::NoIcon, caption, text, set, this);
    box.setObjectName("MessageBox");
    openBoxes_[key] = OpenBox{&box, 0};
    {
        // Held (and the last reply acknowledged) before anything of the box runs.
        HoldDispatch hold{*link_};
        if (OnMessageBox) OnMessageBox(box);
        box.exec();
    }
    openBoxes_.erase(key);
    // The answers held back meanwhile are dispatched next; the same message
    // raised by one of those bytes is folded too.
    draining_ = key;
    drainEnd_ = link_->BytesTaken() + link_->BytesWaiting();
}

bool TFTern::Ask(const std::string& text, const std::string& caption) {
    const QString t = QString::fromStdString(text);
    const QString c = QString::fromStdString(caption);
    Messages.push_back({text, caption});
    QMessageBox box(QMessageBox::Question, c, t, QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName("MessageBox");
    box.setDefaultButton(QMessageBox::No);
    if (OnMessageBox) OnMessageBox(box);
    HoldDispatch hold{*link_};
    return box.exec() == QMessageBox::Yes;
}

int TFTern::RunModal(QDialog& dialog) {
    if (OnDialog) OnDialog(dialog);
    HoldDispatch hold{*link_};
    return dialog.exec();
}

void TFTern::ShowPage(link::Page page) { PageControl1->setCurrentIndex(static_cast<int>(page)); }

void TFTern::SetStatusPanel(int panel, const std::string& text) {
    if (panel < 0 || panel > 3) return;
    if (panel == 0) StatusPanels[0]->setProperty("lineState", QVariant());  // no longer refitted
    if (copyPaint_ != nullptr && (panel == 1 || panel == 2)) {
        pacedPanelText_[panel] = QString::fromStdString(text);
        pacedLinkText_[panel] = false;
        return;
    }
    if (panel == 1 || panel == 2) {
        pacedPanelText_[panel].reset();
        pacedLinkText_[panel] = false;
    }
    StatusPanels[panel]->setText(QString::fromStdString(text));
}

void TFTern::FrameSent() {
    // The frame's bytes, except on the defect tool, which keeps them to itself.
    if (ToolMode() == link::ToolMode::Kizu) return;
    if (copyPaint_ != nullptr) {
        pacedLinkText_[1] = true;  // made when the panel is painted
        return;
    }
    SetStatusPanel(1, link_->CommandText());
}

void TFTern::ExchangeDone() {
    if (ToolMode() != link::ToolMode::Kizu && copyPaint_ != nullptr) {
        pacedLinkText_[2] = true;
        return;
    }
    SetStatusPanel(2, ToolMode() != link::ToolMode::Kizu ? link_->ReplyText() : std::string());
}

void TFTern::ExchangeRefused() { SetStatusPanel(1, "Busy"); }

void TFTern::NoiseRepeated(int repeats) {
    SetStatusPanel(3, std::string(link::kMsgRecvErr) + " +" + std::to_string(repeats));
}

void TFTern::ChangesDropped(const std::vector<std::string>& names) {
    std::string text = "not sent:";
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? " " : ", ") + (names[i].empty() ? std::string("a change") : names[i]);
    }
    SetStatusPanel(3, text);
    StatusPanels[3]->setToolTip(QString::fromStdString(
        "The device went away before these changes reached the camera. " + text +
        ". Make them again once the camera is back."));
}

void TFTern::SetScreenCursor(bool busy) {
    // One override at a time, so every hourglass set is taken back exactly once.
    if (busy == cursorBusy_) return;
    cursorBusy_ = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void TFTern::ShowMessage(const std::string& text, const std::string& caption) {
    if (text == link::kMsgNotConnected && caption == link::kCapNotConnected && !link_->EverConnected() &&
        link_->Mode() == link::LinkMode::Connecting) {
        NotConnectedAtStart();
        return;
    }
    // Reading the page asks for DSR; with the device gone there is none, and
    // the lost state is already in view.
    if (text == link::kMsgDrOff && link_->Mode() == link::LinkMode::Lost) return;
    MessageBox(QString::fromStdString(text), QString::fromStdString(caption), false);
}

void TFTern::NotConnectedAtStart() {
    // The system's text and caption first, then the port tried and what to
    // check. "Choose a port…" is the default answer; OK still ends the tool.
    // Both ports tried, when they differ (COM1, then COM2).
    std::string tried = DeviceInUse();
    if (comm1_ && comm1_->PortDeviceName(1) != comm1_->PortDeviceName(2)) {
        tried = comm1_->PortDeviceName(1) + " or " + comm1_->PortDeviceName(2);
    }
    const std::string text = NoAnswerText(tried);
    Messages.push_back({text, link::kCapNotConnected});
    QMessageBox box(QMessageBox::NoIcon, link::kCapNotConnected, QString::fromStdString(text), QMessageBox::Ok, this);
    box.setObjectName("MessageBox");
    QPushButton* choose = box.addButton(QString::fromUtf8("Choose a port…"), QMessageBox::ActionRole);
    choose->setObjectName("ChoosePort");
    box.setDefaultButton(choose);
    if (OnMessageBox) OnMessageBox(box);
    {
        HoldDispatch hold{*link_};
        box.exec();
    }
    choosePort_ = box.clickedButton() == choose;
}

void TFTern::ChoosePort() {
    if (!isVisible()) show();
    ConnectTo1->popup(mapToGlobal(rect().center()));
}

void TFTern::ShowAbortRetryIgnore(const std::string& text, const std::string& caption) {
    MessageBox(QString::fromStdString(text), QString::fromStdString(caption), false,
               (QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore).toInt());
}

void TFTern::ShowException(const std::exception& e) {
    // The open error names the device, the reason and what to do
    // (link/ports.h): those lines first, the port component's own line after.
    std::string text = link::ExceptionText(e);
    if (const auto* open = dynamic_cast<const link::ECommOpenError*>(&e)) {
        if (const std::string help = link::OpenErrorHelp(*open); !help.empty()) text = help + "\n" + e.what();
    }
    if (dynamic_cast<const link::ECommOpenError*>(&e) != nullptr) {
        // Each connection attempt fails the same way: say it once.
        if (text == lastOpenError_) return;
        lastOpenError_ = text;
    }
    MessageBox(QString::fromStdString(text), QApplication::applicationName(), true);
}

void TFTern::EnableTimer(link::LinkTimer timer, bool on) {
    QTimer* t = TimerOf(timer);
    // Like a window timer's Enabled: switching on a running timer does not restart it.
    if (on && !t->isActive()) {
        t->start();
    } else if (!on) {
        t->stop();
    }
}

void TFTern::EnablePageControl(bool on) {
    // While the device is gone the pages stay disabled, their values in view.
    PageControl1->setEnabled(on && link_->Mode() != link::LinkMode::Lost);
}

void TFTern::EnablePanel4(bool on) { setup1_->Panel4->setEnabled(on); }

link::Page TFTern::ActivePage() const { return static_cast<link::Page>(PageControl1->currentIndex()); }

link::ToolMode TFTern::ToolMode() const { return static_cast<link::ToolMode>(tool_type->ItemIndex()); }

void TFTern::Terminate() {
    if (choosePort_) {
        // The user asked for another port: the window stays.
        choosePort_ = false;
        ShowLineTexts(QStringLiteral("Not connected"), QString::fromStdString(DeviceInUse()), "not connected");
        QTimer::singleShot(0, this, [this] { Guard([this] { ChoosePort(); }); });
        return;
    }
    terminated_ = true;
    FormDestroy();
    close();
    emit Ended(1);
}

QTimer* TFTern::ConnectTimer(const char* name, std::function<void()> handler) {
    auto* t = findChild<QTimer*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    if (t == nullptr) return nullptr;
    // As the link's timers: a tick never runs inside the reply dispatcher's
    // reaction or under a box.
    ConnectTick(t, t, std::move(handler));
    return t;
}

void TFTern::LineStateChanged(link::LineState state) {
    std::string device = comm1_ ? DeviceInUse() : std::string("COM1");
    if (state == link::LineState::Connected) lastOpenError_.clear();
    // Status panel 0 and the title: the line's state and its device.
    const QString dev = QString::fromStdString(device);
    switch (state) {
        case link::LineState::Connecting:
            // A lost device opened again is still awaited until the camera answers.
            if (link_->Mode() == link::LinkMode::Lost) break;
            ShowLineTexts(QString::fromLatin1(link::kTextConnecting), dev, "connecting");
            break;
        case link::LineState::Connected:
            ShowLineTexts(QStringLiteral("Connected  "), dev, "connected");
            if (lostNotice_) lostNotice_->close();  // the camera is back
            break;
        case link::LineState::Lost:
            ShowLineTexts(QStringLiteral("Lost: waiting for "), dev, "lost: waiting for the device to come back");
            // Nothing stale: no command is in flight and no reply will come.
            SetStatusPanel(1, {});
            SetStatusPanel(2, {});
            PageControl1->setEnabled(false);
            // The user's values that waited are not sent; the reconnection reads the camera afresh.
            engine_->Model().DropWanted();
            break;
    }
}

void TFTern::ShowLineTexts(const QString& state, const QString& device, const char* titleWord) {
    // Panel 0 and the title always tell the same state.
    if (state == QLatin1String(link::kTextConnecting) || state == QLatin1String("Not connected")) {
        StatusPanels[0]->setProperty("lineState", QVariant());
        StatusPanels[0]->setText(state);
        StatusPanels[0]->setToolTip(device.isEmpty() ? state : state + "  " + device);
    } else {
        ShowLineState(state, device);
    }
    setWindowTitle(device.isEmpty() ? QStringLiteral("TernAB — %1").arg(QString::fromLatin1(titleWord))
                                    : QStringLiteral("TernAB — %1 — %2").arg(device, QString::fromLatin1(titleWord)));
}

void TFTern::ShowLineState(const QString& state, const QString& device) {
    // A long path gives way to the device's own name; what still does not
    // fit is cut in the middle, so the end of a by-id name (the adapter's
    // serial number) stays in view. The tooltip has it whole.
    QLabel* panel = StatusPanels[0];
    panel->setToolTip(state + device);
    panel->setProperty("lineState", state);
    panel->setProperty("lineDevice", device);
    FitPanel0();
}

void TFTern::FitPanel0() {
    QLabel* panel = StatusPanels[0];
    const QString state = panel->property("lineState").toString();
    const QString device = panel->property("lineDevice").toString();
    if (state.isEmpty()) return;  // a text set as it is (connecting, not connected)
    const QFontMetrics metrics = panel->fontMetrics();
    const int room = std::max(panel->width(), panel->minimumWidth()) - 2 * panel->frameWidth() - 2 * panel->margin() - 4;
    QString name = device;
    if (metrics.horizontalAdvance(state + name) > room) name = QFileInfo(device).fileName();
    panel->setText(state + metrics.elidedText(name, Qt::ElideMiddle, room - metrics.horizontalAdvance(state)));
}

void TFTern::PostToEventThread(std::function<void()> fn) {
    QMetaObject::invokeMethod(
        this, [this, fn = std::move(fn)] { Guard(fn); }, Qt::QueuedConnection);
}

void TFTern::closeEvent(QCloseEvent* event) {
    FormDestroy();
    QMainWindow::closeEvent(event);
    if (!terminated_) emit Ended(0);
}

bool TFTern::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Panel1 && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
        Guard([this] { Panel1Click(); });
        return false;
    }
    if (watched == StatusPanels[0] && event->type() == QEvent::Resize) FitPanel0();
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace tern::app
