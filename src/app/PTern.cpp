#include "app/PTern.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTabWidget>
#include <QTimer>

#include <exception>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "widgets/Fonts.h"
#include "app/MTern.h"
#include "app/Options.h"
#include "camera/pty_camera.h"
#include "link/ports.h"
#include "link/trace.h"
#include "link/version.h"

namespace tern::app {

namespace {

constexpr int kScreenshotDeadlineMs = 20000;

void GrabAndQuit(TFTern& window, const std::string& file) {
    const bool saved = window.grab().save(QString::fromStdString(file));
    if (!saved) std::cerr << "ternab: could not save " << file << "\n";
    QCoreApplication::exit(saved ? 0 : 1);
}

}  // namespace

int PTern(int argc, char** argv) {
    // Our options are read before the application exists, so a wrong one or
    // --help needs no display; Qt's own (-platform ...) are left to Qt.
    static const std::set<std::string> kQtWithValue = {"-platform", "-platformpluginpath", "-platformtheme", "-plugin",
                                                       "-display", "-style", "-stylesheet", "-geometry",
                                                       "-qwindowgeometry", "-qwindowtitle", "-qwindowicon", "-session"};
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.size() > 1 && a[0] == '-' && a[1] != '-' && a != "-h") {
            if (kQtWithValue.count(a) != 0) ++i;
            continue;
        }
        args.push_back(a);
    }
    AppOptions options;
    std::string error;
    if (!ParseAppArgs(args, options, error)) {
        std::cerr << "ternab: " << error << "\n"
                  << "Run 'ternab --help' for the options.\n";
        return 2;
    }
    if (options.version) {
        std::cout << "ternab " << link::kVersion << "\n";
        return 0;
    }
    if (options.help) {
        std::cout << AppUsage();
        return 0;
    }

    QApplication app(argc, argv);
    // No display name: Qt would append it to every caption ("ERR — TernAB"),
    // and each box shows exactly the system's caption.
    QApplication::setApplicationName("TernAB");
    QApplication::setOrganizationName("TernAB");
    if (options.fontPoints > 0) {
        QFont chosen = QApplication::font();
        chosen.setPointSize(options.fontPoints);
        QApplication::setFont(chosen);
    }
    QApplication::setFont(widgets::WindowFont());

    try {
        std::unique_ptr<camera::PtyCamera> simulated;
        link::PortDevices devices;
        if (options.simulate) {
            simulated = std::make_unique<camera::PtyCamera>(options.camera);
            simulated->Start();
            devices.com1 = simulated->DevicePath();
        } else if (options.port1 == "auto" || (options.port1 == "last" && TFTern::RememberedPort().empty())) {
            devices = link::AutoPortDevices(link::ListSerialPorts());
        } else if (options.port1 == "last") {
            // The desktop entry's choice: the port last chosen, else auto.
            devices.com1 = TFTern::RememberedPort();
            devices.com2 = devices.com1;
        } else if (!options.port1.empty()) {
            // Only the device the user named is tried, never a port they did not name.
            devices.com1 = options.port1;
            devices.com2 = options.port1;
        } else if (const std::string last = TFTern::RememberedPort(); !last.empty()) {
            devices.com1 = last;
            devices.com2 = last;
        }
        if (!options.port2.empty()) devices.com2 = options.port2;
        std::unique_ptr<link::LineTrace> trace;
        if (!options.trace.empty()) trace = std::make_unique<link::LineTrace>(options.trace);

        TFTern window(options.toolMode, devices, {}, trace.get());
        if (trace) {
            // Said once, on the event thread, while the window is there.
            QPointer<TFTern> shown(&window);
            trace->OnWriteError([shown](const std::string& why) {
                QMetaObject::invokeMethod(qApp, [shown, why] {
                    if (!shown) return;
                    shown->ShowMessage("The line trace could not be written: " + why +
                                           "\nThe tool goes on without it; free some space and start it again "
                                           "for a whole trace.",
                                       "Trace");
                }, Qt::QueuedConnection);
            });
        }
        // The window builds the hidden mask window with it. The mask window
        // may still be open: the main window's end is the tool's end.
        QObject::connect(&window, &TFTern::Ended, &app, [](int code) { QCoreApplication::exit(code); }, Qt::QueuedConnection);

        if (options.page) {
            const int tab = static_cast<int>(*options.page);
            if (!window.PageControl1->isTabVisible(tab)) {
                std::cerr << "ternab: --page: the " << link::PageName(*options.page)
                          << " page is not shown in this mode (choose it with --mode dbg)\n";
                return 2;
            }
            window.PageControl1->setCurrentIndex(tab);
        }
        if (!options.screenshot.empty()) {
            const std::string file = options.screenshot;
            window.CallWhenPageRead([&window, file] {
                // Let the replies' texts be laid out before grabbing.
                QTimer::singleShot(300, &window, [&window, file] { GrabAndQuit(window, file); });
            });
            QTimer::singleShot(kScreenshotDeadlineMs, &window, [&window, file] { GrabAndQuit(window, file); });
        }
        if (!window.Terminated()) window.show();
        const int rc = window.Terminated() ? 1 : app.exec();
        window.FormDestroy();
        if (simulated) simulated->Stop();
        return rc;
    } catch (const std::exception& e) {
        // What escapes the start-up is shown by the application itself.
        QMessageBox::critical(nullptr, "TernAB", QString::fromStdString(e.what()));
        return 1;
    }
}

}  // namespace tern::app
