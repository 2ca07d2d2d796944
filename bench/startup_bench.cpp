// Start-up figures of the window against the virtual camera, offscreen:
// the time from the process's start to the first ENQ on the wire, the time
// until the Setup1 chain (seven reads) has been answered, and the resident
// memory then. Run: startup_bench [--runs N] (each run builds a new window).
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/MTern.h"
#include "camera/pty_camera.h"

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point kProcessStart = Clock::now();

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

double Ms(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

template <class Pred>
bool WaitFor(Pred pred, int deadlineMs = 20000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > deadlineMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const double appReady = Ms(kProcessStart, Clock::now());

    std::vector<double> toEnq, toChain;
    long rss = 0;
    for (int run = 0; run < runs; ++run) {
        tern::camera::PtyCamera camera;
        camera.Start();
        const auto start = run == 0 ? kProcessStart : Clock::now();
        int replies = 0;
        tern::app::TFTern window(tern::link::ToolMode::Apl, tern::link::PortDevices{camera.DevicePath(), "/nonexistent/com2"},
                                 [](QMessageBox& box) {
            QTimer::singleShot(0, &box, &QMessageBox::accept);
        });
        window.OnReply = [&] { ++replies; };
        if (!WaitFor([&] { return camera.PeerStatistics().enqs > 0; })) {
            std::fprintf(stderr, "no ENQ reached the camera\n");
            return 1;
        }
        toEnq.push_back(Ms(start, Clock::now()));
        if (!WaitFor([&] { return replies >= 7 && window.LoadStep() == 0; })) {
            std::fprintf(stderr, "the Setup1 chain did not end\n");
            return 1;
        }
        toChain.push_back(Ms(start, Clock::now()));
        rss = ResidentKiB();
        window.FormDestroy();
        camera.Stop();
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("application ready        %8.1f ms after process start\n", appReady);
    std::printf("first ENQ on the wire    %8.1f ms (first run, from process start)\n", toEnq.front());
    std::printf("first ENQ, later runs    %8.1f ms median from window construction\n",
                toEnq.size() > 1 ? median(std::vector<double>(toEnq.begin() + 1, toEnq.end())) : toEnq.front());
    std::printf("Setup1 chain answered    %8.1f ms (first run, from process start)\n", toChain.front());
    std::printf("resident memory          %8ld KiB after the Setup1 chain\n", rss);
    std::printf("ratio to target: first ENQ %.3f of 300 ms, memory %.3f of 80 MB\n", toEnq.front() / 300.0,
                static_cast<double>(rss) / (80.0 * 1024.0));
    return 0;
}
