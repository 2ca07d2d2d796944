// The window as the link's host: errors shown once in one dialog, the busy
// cursor taken back exactly once, the exit, and the title panel's mouse.
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QTemporaryDir>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include "app/DebugPage.h"
#include "app/MTern.h"
#include "app/window_fixture.h"
#include "camera/pty_camera.h"
#include "link/fake_port.h"

namespace tern::test {
namespace {

using app::TFTern;

TEST_F(WindowTest, AnOpenErrorIsShownWithItsReasonFirst) {
    port.failOpen = true;
    Make(link::ToolMode::Apl);
    ASSERT_EQ(window->Messages.size(), 1u);
    EXPECT_EQ(window->Messages[0].text, "No such file or directory\nオープンエラー ErrorCode = -1");
    EXPECT_EQ(window->Messages[0].caption, "TernAB");
    // The attempts go on from SendTimer: COM1 again, then COM2, then the end.
    // Called directly, the tick hands the open error to its caller; the
    // timer's own connection shows it like the first.
    EXPECT_THROW(window->SendTimerTimer(), link::ECommOpenError);
    EXPECT_THROW(window->SendTimerTimer(), link::ECommOpenError);
    EXPECT_EQ(port.openedPorts, (std::vector<std::uint8_t>{1, 1, 2}));
    EXPECT_FALSE(window->Terminated());
    window->SendTimerTimer();
    EXPECT_TRUE(window->Terminated());
    EXPECT_EQ(window->Messages.back().text, app::NoAnswerText(""));
    EXPECT_EQ(window->Messages.back().caption, "Comm.ERR");
    EXPECT_FALSE(window->SendTimer->isActive());
}

TEST_F(WindowTest, AnExceptionLeavingPostedWorkIsShownAndTheToolGoesOn) {
    Make(link::ToolMode::Dbg);
    window->PostToEventThread([] { throw link::ECommReadWriteError(5, "Input/output error"); });
    window->PostToEventThread([] { throw std::runtime_error("something else"); });
    ASSERT_TRUE(WaitFor([&] { return window->Messages.size() == 2; }));
    EXPECT_EQ(window->Messages[0].text, "入出力エラー ErrorCode = 5\nInput/output error");
    EXPECT_EQ(window->Messages[1].text, "something else");
}

TEST_F(WindowTest, AWriteRefusedByThePortIsShownFromTheTimerTick) {
    Make(link::ToolMode::Dbg);
    Connect();  // 31 0A 01 in flight
    port.refuseWrites = true;
    // The reply watch runs out and its re-send throws inside the timer's handler.
    window->SendTimer->start(0);
    ASSERT_TRUE(WaitFor([&] { return !window->Messages.empty(); }));
    window->SendTimer->stop();
    EXPECT_EQ(window->Messages[0].text, "入出力エラー ErrorCode = 5\nInput/output error");
    EXPECT_EQ(window->Messages[0].caption, "TernAB");
}

TEST_F(WindowTest, TheHourglassIsSetOnceAndTakenBackOnce) {
    ASSERT_EQ(QApplication::overrideCursor(), nullptr);
    Make(link::ToolMode::Dbg);  // ENQ is out: busy until the camera answers
    EXPECT_TRUE(window->BusyCursor());
    Connect();
    EXPECT_TRUE(window->BusyCursor());
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    FinishChain();  // each reply restores the cursor on the next cursor_timer tick
    EXPECT_TRUE(window->cursor_timer->isActive());
    window->cursor_timerTimer();
    EXPECT_FALSE(window->cursor_timer->isActive());
    EXPECT_FALSE(window->BusyCursor());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    window->cursor_timerTimer();  // a second restore takes nothing back
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // A window closed while busy leaves no hourglass behind.
    window->Debug().DspAdr->setCurrentIndex(3);
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    window.reset();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(WindowTest, ATimerWhoseTickWaitsUnderABoxPausesAndOnlySendTimerRunsWhenIdle) {
    Ready(link::ToolMode::Dbg);  // each reply leaves cursor_timer to restore the cursor
    ASSERT_TRUE(window->cursor_timer->isActive());
    bool pausedUnderBox = false;
    bool busyUnderBox = false;
    window->OnMessageBox = [&](QMessageBox& box) {
        QTimer::singleShot(0, &box, [&] {
            // Its tick came and waits for the box: the 10 ms timer stops
            // rather than waking the event thread all the while.
            pausedUnderBox = WaitFor([&] { return !window->cursor_timer->isActive(); }, 5000);
            busyUnderBox = window->BusyCursor();
            box.accept();
        });
    };
    window->ShowMessage("a notice", "TernAB");
    EXPECT_TRUE(pausedUnderBox);
    EXPECT_TRUE(busyUnderBox);
    // The waiting tick runs once after the box, and its handler stops the timer.
    ASSERT_TRUE(WaitFor([&] { return !window->BusyCursor(); }));
    EXPECT_FALSE(window->cursor_timer->isActive());
    // Idle and connected, nothing ticks: SendTimer stopped once the last
    // reply was handled and nothing followed it.
    QStringList running;
    for (QTimer* t : window->findChildren<QTimer*>()) {
        if (t->isActive()) running << t->objectName();
    }
    EXPECT_EQ(running, QStringList{});
}

TEST_F(WindowTest, TheCommandAndReplyFitTheirStatusPanelsInTheWindowFont) {
    Ready(link::ToolMode::Dbg);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    for (int i : {1, 2}) {
        const QLabel* panel = window->StatusPanels[i];
        ASSERT_EQ(panel->text().size(), 30);
        EXPECT_LE(panel->fontMetrics().horizontalAdvance(panel->text()), panel->contentsRect().width())
            << "panel " << i << " clips " << panel->text().toStdString();
    }
}

TEST_F(WindowTest, ExitButtonsCloseThePortAndTheWindow) {
    for (const char* name : {"ExitButton", "exitbtn", "exitbtn2"}) {
        Ready(link::ToolMode::Dbg);  // the pages are enabled once connected
        window->show();
        ASSERT_TRUE(port.open);
        window->findChild<QPushButton*>(name)->click();
        EXPECT_FALSE(port.open) << name;
        EXPECT_FALSE(window->isVisible()) << name;
        EXPECT_FALSE(window->SendTimer->isActive()) << name;
        window.reset();
    }
}

TEST_F(WindowTest, PressingTheTitlePanelOnTheCopyPageTogglesTheUnlockBox) {
    Ready(link::ToolMode::Dbg);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->PageControl1->setCurrentIndex(Tab(link::Page::Copy));
    FinishChain();
    QTest::mousePress(window->Panel1, Qt::LeftButton);  // hides the service pages
    EXPECT_FALSE(window->PageControl1->isTabVisible(Tab(link::Page::Debug)));
    QTest::mousePress(window->Panel1, Qt::LeftButton);
    EXPECT_FALSE(window->pwl->isHidden());
    QTest::mousePress(window->Panel1, Qt::LeftButton);
    EXPECT_TRUE(window->pwl->isHidden());
}

TEST(CameraGone, APulledCableIsReportedOnce) {
    camera::PtyCamera cam;
    cam.Start();
    {
        TFTern w(link::ToolMode::Dbg, link::PortDevices{cam.DevicePath(), "/nonexistent/ternab-com2"}, AutoClose);
        ASSERT_TRUE(WaitFor([&] { return w.Resolution->text() == "Hi-Resolution" && w.LoadStep() == 0; }));
        cam.HangUp();
        ASSERT_TRUE(WaitFor([&] { return !w.Messages.empty(); }));
        EXPECT_EQ(w.Messages[0].text.rfind("The serial device " + cam.DevicePath() + " went away", 0), 0u)
            << w.Messages[0].text;
        QTest::qWait(50);
        EXPECT_EQ(w.Messages.size(), 1u);
    }
    cam.Stop();
}

TEST(ChoosingAPort, ConnectsThereReadsThePageAndIsRememberedForTheNextStart) {
    camera::PtyCamera first;
    first.Start();
    camera::CameraOptions pal;
    pal.pal = true;
    camera::PtyCamera second(pal);
    second.Start();
    {
        TFTern w(link::ToolMode::Dbg, link::PortDevices{first.DevicePath(), "/nonexistent/ternab-com2"}, AutoClose);
        ASSERT_TRUE(WaitFor([&] { return w.TV->text() == "NTSC" && w.LoadStep() == 0; }));
        w.ConnectToPort(second.DevicePath());
        ASSERT_TRUE(WaitFor([&] { return w.TV->text() == "PAL" && w.LoadStep() == 0; }));
        EXPECT_GE(second.PeerStatistics().enqs, 1u);
        EXPECT_NE(w.windowTitle().indexOf(QString::fromStdString(second.DevicePath())), -1);
        EXPECT_TRUE(w.Messages.empty());
        EXPECT_EQ(TFTern::RememberedPort(), second.DevicePath());
        // A port that answers nothing: said once, and the window stays.
        w.ConnectToPort("/nonexistent/ternab-chosen");
        for (int i = 0; i < 6; ++i) w.SendTimerTimer();
        EXPECT_FALSE(w.Terminated());
        int openErrors = 0;
        for (const auto& m : w.Messages) openErrors += m.text.find("オープンエラー") != std::string::npos ? 1 : 0;
        EXPECT_EQ(openErrors, 1);
        w.FormDestroy();
    }
    first.Stop();
    second.Stop();
}

TEST(ChoosingAPort, NoCameraAtStartOffersAPortAndKeepsTheWindow) {
    camera::PtyCamera cam;
    cam.Start();
    QTemporaryDir dev;  // a stand-in /dev whose adapter is the virtual camera
    ASSERT_EQ(::symlink(cam.DevicePath().c_str(), dev.filePath("ttyUSB0").toUtf8().constData()), 0);
    bool chooseIsDefault = false;
    std::vector<std::string> boxes;
    {
        TFTern w(link::ToolMode::Apl, link::PortDevices{"/nonexistent/ternab-start", "/nonexistent/ternab-start"},
                 [&](QMessageBox& box) {
                     boxes.push_back(box.text().toStdString());
                     auto* choose = box.findChild<QPushButton*>("ChoosePort");
                     if (choose == nullptr) return AutoClose(box);
                     chooseIsDefault = box.defaultButton() == choose && box.button(QMessageBox::Ok) != nullptr;
                     if (const char* shots = std::getenv("TERN_SHOT_DIR")) {
                         box.adjustSize();
                         box.grab().save(QString::fromUtf8(shots) + "/not-connected.png");
                     }
                     QTimer::singleShot(0, choose, &QPushButton::click);
                 });
        w.DevRoot = dev.path().toStdString();
        for (int i = 0; i < 3; ++i) w.Guard([&] { w.SendTimerTimer(); });
        EXPECT_FALSE(w.Terminated());
        EXPECT_TRUE(chooseIsDefault);
        // The system's text first, then the port tried and what to check.
        const std::string& text = w.Messages.back().text;
        EXPECT_EQ(text.substr(0, text.find('\n')), " Serial Port not connected ");
        EXPECT_EQ(w.Messages.back().caption, "Comm.ERR");
        for (const char* said : {"/nonexistent/ternab-start", "powered", "cable", "ternctl ports --probe"}) {
            EXPECT_NE(text.find(said), std::string::npos) << said;
        }
        // The panel and the title tell the same state.
        EXPECT_EQ(w.StatusPanels[0]->text(), "Not connected");
        EXPECT_TRUE(w.windowTitle().endsWith("not connected")) << w.windowTitle().toStdString();
        // Camera > Load points to the port menu, not to DSR.
        boxes.clear();
        w.ReLoad->trigger();
        EXPECT_EQ(boxes, std::vector<std::string>{app::kMsgLoadNotConnected});
        // Camera > Connect to opens; choosing the adapter connects there.
        ASSERT_TRUE(WaitFor([&] { return w.ConnectTo1->isVisible(); }));
        const QList<QAction*> items = w.ConnectTo1->actions();
        ASSERT_GE(items.size(), 3);  // the ports, then a separator and Network port...
        QAction* adapter = items[items.size() - 3];
        EXPECT_TRUE(adapter->text().endsWith("ttyUSB0")) << adapter->text().toStdString();
        adapter->trigger();
        w.ConnectTo1->hide();
        ASSERT_TRUE(WaitFor([&] { return w.Link().Mode() == link::LinkMode::Idle && w.LoadStep() == 0; }));
        EXPECT_EQ(w.StatusPanels[0]->toolTip(), "Connected  " + dev.filePath("ttyUSB0"));
        EXPECT_TRUE(w.windowTitle().endsWith("— connected")) << w.windowTitle().toStdString();
        w.FormDestroy();
    }
    cam.Stop();
}

TEST(ChoosingAPort, AMissingDeviceIsNamedWithWhatToDo) {
    std::vector<std::string> boxes;
    {
        TFTern w(link::ToolMode::Apl, link::PortDevices{"/dev/ttyUSB97", "/dev/ttyUSB97"}, [&](QMessageBox& box) {
            boxes.push_back(box.text().toStdString());
            if (const char* shots = std::getenv("TERN_SHOT_DIR")) {
                box.adjustSize();
                box.grab().save(QString::fromUtf8(shots) + "/open-error.png");
            }
            AutoClose(box);
        });
        w.FormDestroy();
    }
    ASSERT_EQ(boxes.size(), 1u);
    const std::string& text = boxes[0];
    // The device and the system's reason first, the port component's own line after.
    EXPECT_EQ(text.rfind("/dev/ttyUSB97: No such file or directory\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nオープンエラー ErrorCode = -1"), std::string::npos) << text;
    // What to do: the ports this machine has, or how to find one.
    EXPECT_TRUE(text.find("serial ports present") != std::string::npos || text.find("ternctl ports") != std::string::npos)
        << text;
}

TEST(ChoosingAPort, TheMenuListsThePortsByTheirStableNames) {
    // A stand-in /dev: an adapter with its by-id name, a second one without.
    QTemporaryDir dev;
    ASSERT_TRUE(QDir(dev.path()).mkpath("serial/by-id"));
    for (const char* f : {"ttyUSB0", "ttyUSB1"}) QFile(dev.filePath(f)).open(QIODevice::WriteOnly);
    const std::string byId = dev.filePath("serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0").toStdString();
    ASSERT_EQ(::symlink("../../ttyUSB0", byId.c_str()), 0);
    FakePort port;
    TFTern w(link::ToolMode::Dbg, &port, AutoClose);
    w.DevRoot = dev.path().toStdString();
    w.FillConnectMenu();
    QStringList items;
    for (QAction* a : w.ConnectTo1->actions()) items << a->text();
    ASSERT_EQ(items.size(), 4) << items.join(" | ").toStdString();  // and a separator, Network port...
    EXPECT_TRUE(items[0].contains("ttyUSB0") && items[0].contains("usb-FTDI_FT232R_A50285BI-if00-port0"))
        << items[0].toStdString();
    EXPECT_TRUE(items[1].contains("ttyUSB1")) << items[1].toStdString();
    if (const char* shots = std::getenv("TERN_SHOT_DIR")) {
        w.ConnectTo1->adjustSize();
        w.ConnectTo1->grab().save(QString::fromUtf8(shots) + "/connect-menu.png");
    }
    // No port at all: the menu says what to do.
    w.DevRoot = dev.filePath("empty").toStdString();
    w.FillConnectMenu();
    ASSERT_EQ(w.ConnectTo1->actions().size(), 3);  // and a separator, Network port...
    EXPECT_FALSE(w.ConnectTo1->actions()[0]->isEnabled());
    w.FormDestroy();
}

TEST(ChoosingAPort, TheMenuMarksTheDeviceInUseEvenWhenItIsNoAdapter) {
    camera::PtyCamera cam;
    cam.Start();
    QTemporaryDir dev;
    QFile(dev.filePath("ttyUSB0")).open(QIODevice::WriteOnly);
    {
        TFTern w(link::ToolMode::Dbg, link::PortDevices{cam.DevicePath(), "/nonexistent/ternab-com2"}, AutoClose);
        ASSERT_TRUE(WaitFor([&] { return w.Link().Mode() == link::LinkMode::Idle && w.LoadStep() == 0; }));
        w.DevRoot = dev.path().toStdString();
        w.FillConnectMenu();
        const QList<QAction*> items = w.ConnectTo1->actions();
        ASSERT_EQ(items.size(), 4);  // and a separator, Network port...
        // The pseudo-terminal is no serial port the list looks for; it is in use.
        EXPECT_EQ(items[0]->text(), QString::fromStdString(cam.DevicePath()) + " (in use)");
        EXPECT_TRUE(items[0]->isChecked());
        EXPECT_TRUE(items[1]->text().endsWith("ttyUSB0")) << items[1]->text().toStdString();
        EXPECT_FALSE(items[1]->isChecked());
        w.FormDestroy();
    }
    cam.Stop();
}

TEST(CameraGone, TheToolWaitsForTheDeviceAndReadsThePageOnceItIsBack) {
    // The device is reached through a symbolic link, as /dev/serial/by-id
    // names are; the adapter is pulled, then plugged in again (a new
    // pseudo-terminal under the same name).
    const std::string name =
        "/tmp/usb-FTDI_FT232R_USB_UART_ternab-reconnect-" + std::to_string(::getpid()) + "-if00-port0";
    camera::PtyCamera first;
    first.Start();
    ASSERT_TRUE(first.MakeLink(name));
    // The notice that the device went away is left open, as a user may.
    TFTern w(link::ToolMode::Dbg, link::PortDevices{name, "/nonexistent/ternab-com2"}, [](QMessageBox&) {});
    const QString dev = QString::fromStdString(name);
    EXPECT_EQ(w.StatusPanels[0]->text(), "Comm. Connecting");
    ASSERT_TRUE(WaitFor([&] { return w.Resolution->text() == "Hi-Resolution" && w.LoadStep() == 0; }));
    EXPECT_NE(w.windowTitle().indexOf("connected"), -1);
    EXPECT_EQ(w.StatusPanels[0]->toolTip(), "Connected  " + dev);
    first.HangUp();
    ASSERT_TRUE(WaitFor([&] { return w.Link().Mode() == link::LinkMode::Lost && !w.Messages.empty(); }));
    EXPECT_NE(w.windowTitle().indexOf("lost"), -1);
    // The path is long for the panel: the device's own name shows, the tooltip has it whole.
    EXPECT_EQ(w.StatusPanels[0]->toolTip(), "Lost: waiting for " + dev);
    const QLabel* panel0 = w.StatusPanels[0];
    // Cut in the middle: the end of the name, which tells two adapters apart, stays.
    w.show();
    w.resize(800, w.height());
    QApplication::processEvents();
    EXPECT_TRUE(panel0->text().startsWith("Lost: waiting for usb-")) << panel0->text().toStdString();
    EXPECT_TRUE(panel0->text().endsWith("port0")) << panel0->text().toStdString();
    EXPECT_TRUE(panel0->text().contains(QChar(0x2026))) << panel0->text().toStdString();
    EXPECT_LE(panel0->fontMetrics().horizontalAdvance(panel0->text()), panel0->contentsRect().width());
    // A wider window has room for the whole name.
    w.resize(1300, w.height());
    QApplication::processEvents();
    EXPECT_EQ(panel0->text(), "Lost: waiting for " + dev);
    EXPECT_LE(panel0->fontMetrics().horizontalAdvance(panel0->text()), panel0->contentsRect().width());
    EXPECT_EQ(w.StatusPanels[1]->text(), "");  // nothing stale
    EXPECT_EQ(w.StatusPanels[2]->text(), "");
    EXPECT_FALSE(w.PageControl1->isEnabled());
    EXPECT_EQ(w.Resolution->text(), "Hi-Resolution");  // the last values stay in view
    auto* notice = w.findChild<QMessageBox*>("LostNotice");
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->isVisible());
    EXPECT_FALSE(notice->isModal());
    if (const char* shots = std::getenv("TERN_SHOT_DIR")) {
        w.grab().save(QString::fromUtf8(shots) + "/lost-window.png");
        notice->grab().save(QString::fromUtf8(shots) + "/lost-notice.png");
    }
    // While it is gone: a click or another page sends nothing and opens no
    // box; ticks retry silently.
    EXPECT_FALSE(w.Link().Trans_chk());
    w.Debug().push_up->click();
    w.ShowPage(link::Page::Setup2);
    w.ReLoad->trigger();
    for (int i = 0; i < 5; ++i) w.SendTimerTimer();
    EXPECT_EQ(w.Messages.size(), 1u);
    EXPECT_FALSE(w.Terminated());
    EXPECT_FALSE(w.PageControl1->isEnabled());

    camera::CameraOptions pal;
    pal.pal = true;
    camera::PtyCamera second(pal);
    second.Start();
    ASSERT_TRUE(second.MakeLink(name));
    // The device is back: the next tick opens it and sends ENQ, with the
    // notice still up; the page is read and the notice closes itself.
    w.SendTimerTimer();
    ASSERT_TRUE(WaitFor([&] { return w.TV->text() == "PAL" && w.LoadStep() == 0; }));
    EXPECT_EQ(w.Link().Mode(), link::LinkMode::Idle);
    EXPECT_TRUE(w.Link().Trans_chk());
    EXPECT_EQ(w.Messages.size(), 1u);
    EXPECT_NE(w.windowTitle().indexOf("connected"), -1);
    EXPECT_EQ(w.StatusPanels[0]->toolTip(), "Connected  " + dev);
    EXPECT_TRUE(w.PageControl1->isEnabled());
    EXPECT_TRUE(WaitFor([&] { return w.findChild<QMessageBox*>("LostNotice") == nullptr; }));
    w.FormDestroy();
    second.Stop();
    first.Stop();
    ::unlink(name.c_str());
}

// The adapter pulled and plugged in again and again, at once each time: every
// time the page shown is read whole (TERN_REPLUGS sets how many times).
TEST(CameraGone, EveryReplugReadsThePageWhole) {
    const std::string name = "/tmp/ternab-replug-" + std::to_string(::getpid());
    auto cam = std::make_unique<camera::PtyCamera>();
    cam->Start();
    ASSERT_TRUE(cam->MakeLink(name));
    TFTern w(link::ToolMode::Apl, link::PortDevices{name, "/nonexistent/ternab-com2"}, AutoClose);
    // SendTimer, hurried: the device is opened again within a tenth of a second.
    const auto ticking = [&w](const std::function<bool()>& done) {
        for (int t = 0; t < 150; ++t) {
            if (WaitFor(done, 100)) return true;
            w.SendTimerTimer();
        }
        return false;
    };
    const std::uint64_t pageFrames = [&] {
        EXPECT_TRUE(WaitFor([&] { return w.Link().EverConnected() && w.LoadStep() == 0 && !w.Link().LinkBusy(); }));
        return cam->PeerStatistics().framesReceived;
    }();
    ASSERT_GE(pageFrames, 5u);
    const char* env = std::getenv("TERN_REPLUGS");
    const int replugs = env != nullptr ? std::atoi(env) : 20;
    std::vector<std::unique_ptr<camera::PtyCamera>> pulled;
    for (int i = 0; i < replugs; ++i) {
        cam->HangUp();
        ASSERT_TRUE(WaitFor([&] { return w.Link().Mode() == link::LinkMode::Lost; })) << "replug " << i;
        auto next = std::make_unique<camera::PtyCamera>();
        next->Start();
        ASSERT_TRUE(next->MakeLink(name));
        // The pulled one is kept until the end: stopping it would take the name away.
        pulled.push_back(std::exchange(cam, std::move(next)));
        ASSERT_TRUE(ticking([&] {
            return cam->PeerStatistics().framesReceived >= pageFrames && w.LoadStep() == 0 && !w.Link().LinkBusy();
        })) << "replug " << i << ": " << cam->PeerStatistics().framesReceived << " of " << pageFrames << " frames, "
           << cam->PeerStatistics().enqs << " ENQ, link mode " << static_cast<int>(w.Link().Mode());
    }
    w.FormDestroy();
    ::unlink(name.c_str());
}

}  // namespace
}  // namespace tern::test
