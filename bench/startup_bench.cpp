// Start-up figures of the real program: ternab is started as its own process,
// its window shown on an X display (the bench re-runs itself under xvfb-run
// when there is none), against the virtual camera on a pseudo-terminal. It
// measures the time from starting the process to the first ENQ on the wire,
// the time until the Setup1 chain (seven reads) has been answered, and the
// program's resident memory then. Run: startup_bench [--runs N].
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "camera/pty_camera.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
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
bool WaitFor(Pred pred, std::chrono::milliseconds deadline = 20s) {
    const auto end = Clock::now() + deadline;
    while (!pred()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);  // polling another process: nothing to wait on
    }
    return true;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
    }
    if (std::getenv("DISPLAY") == nullptr && std::getenv("TERN_BENCH_UNDER_XVFB") == nullptr) {
        // The window is to be shown for real: run again on a virtual display.
        setenv("TERN_BENCH_UNDER_XVFB", "1", 1);
        std::vector<char*> args{const_cast<char*>("xvfb-run"), const_cast<char*>("-a")};
        for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp("xvfb-run", args.data());
        std::perror("startup_bench: xvfb-run");
        return 1;
    }
    unsetenv("QT_QPA_PLATFORM");

    std::vector<double> toEnq, toChain, rss;
    for (int run = 0; run < runs; ++run) {
        tern::camera::PtyCamera camera;
        camera.Start();
        const std::string device = camera.DevicePath();
        const auto start = Clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            execl(TERNAB_PATH, "ternab", "--mode", "apl", "--port", device.c_str(), "--port2", "/nonexistent/com2",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        const bool enq = WaitFor([&] { return camera.PeerStatistics().enqs > 0; });
        const auto enqAt = Clock::now();
        // ENQ, then the seven reads of the Setup1 chain.
        const bool chain = enq && WaitFor([&] { return camera.PeerStatistics().repliesSent >= 7; });
        const auto chainAt = Clock::now();
        std::this_thread::sleep_for(200ms);  // let the last reply reach the controls
        const long kib = ResidentKiB(pid);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        camera.Stop();
        if (!enq || !chain) {
            std::fprintf(stderr, "run %d: %s\n", run, enq ? "the Setup1 chain did not end" : "no ENQ reached the camera");
            return 1;
        }
        toEnq.push_back(Ms(start, enqAt));
        toChain.push_back(Ms(start, chainAt));
        rss.push_back(static_cast<double>(kib));
    }
    const double enq = Median(toEnq);
    const double chain = Median(toChain);
    const double mem = Median(rss);
    std::printf("ternab shown on a display, %d runs, medians (min .. max):\n", runs);
    std::printf("  first ENQ on the wire   %8.1f ms after the process started (%.1f .. %.1f)\n", enq,
                *std::min_element(toEnq.begin(), toEnq.end()), *std::max_element(toEnq.begin(), toEnq.end()));
    std::printf("  Setup1 chain answered   %8.1f ms (%.1f .. %.1f)\n", chain,
                *std::min_element(toChain.begin(), toChain.end()), *std::max_element(toChain.begin(), toChain.end()));
    std::printf("  resident memory         %8.0f KiB after the chain\n", mem);
    std::printf("ratio to target: first ENQ %.3f of 300 ms%s, memory %.3f of 80 MB%s\n", enq / 300.0,
                enq > 300.0 ? " (MISSED)" : "", mem / (80.0 * 1024.0), mem > 80.0 * 1024.0 ? " (MISSED)" : "");
    return 0;
}
