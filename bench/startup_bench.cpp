// ternab's start-up against a minimal Qt Widgets program that this build
// makes (bench/minimal_window.cpp: one window, ENQ written to the same kind
// of pseudo-terminal), in two forms: the window with one line of text (the
// baseline of the goals: a tool window shows text, and the first text drawn
// costs about 3.5 MB of font machinery) and a blank window (for reference).
// All run as processes of their own, shown on an X display (the bench re-runs
// itself under xvfb-run when there is none), interleaved round by round with
// the order rotating, each against a fresh virtual camera:
//   - time from starting the process to the first ENQ on the wire;
//   - resident memory: ternab's once the Setup1 chain (seven reads) has been
//     answered (all six pages are built in every mode), the minimal
//     program's once its event loop runs; each 200 ms later;
//   - wake-ups of the event thread a second (its context switches): ternab
//     idle and connected, and with the device gone, next to the minimal
//     program idle.
// Goals: first ENQ at most 2x, memory at most 1.3x, and no wake-ups from
// ternab's own timers beyond SendTimer's (one tick each 1.5 s).
// Run: startup_bench [--rounds N] (default 11); TERNAB=path for another build.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "camera/pty_camera.h"

namespace {

using tern::bench::Clock;
using tern::bench::Max;
using tern::bench::Median;
using tern::bench::Min;
using namespace std::chrono_literals;

constexpr auto kSettle = 200ms;
constexpr auto kWakeWindow = 5s;

template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds deadline = 20s) {
    const auto end = Clock::now() + deadline;
    while (!pred()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);  // polling another process: nothing to wait on
    }
    return true;
}

/// Context switches of the process's main thread (the event thread) so far.
long MainThreadSwitches(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/status");
    std::string line;
    long n = 0;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
            n += std::strtol(line.c_str() + line.find(':') + 1, nullptr, 10);
        }
    }
    return n;
}

double WakeupsPerSecond(pid_t pid) {
    const long before = MainThreadSwitches(pid);
    std::this_thread::sleep_for(kWakeWindow);
    return static_cast<double>(MainThreadSwitches(pid) - before) / std::chrono::duration<double>(kWakeWindow).count();
}

struct Child {
    pid_t pid = -1;
    int out = -1;  ///< its stdout
};

Child Start(const std::vector<std::string>& argv) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    return {pid, fds[0]};
}

void Stop(Child& c) {
    if (c.pid > 0) {
        kill(c.pid, SIGTERM);
        waitpid(c.pid, nullptr, 0);
    }
    if (c.out >= 0) close(c.out);
    c = {};
}

bool WaitForLine(int fd, std::chrono::milliseconds deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(deadline.count())) <= 0) return false;
    char buf[64];
    return read(fd, buf, sizeof buf) > 0;
}

struct Figures {
    std::vector<double> enqMs, rssKiB;
};

double Ms(Clock::time_point from, Clock::time_point to) { return std::chrono::duration<double, std::milli>(to - from).count(); }

/// One ternab run; with `wake` also its wake-ups idle and with the device gone.
bool RunTernab(Figures& f, double* idleWake = nullptr, double* lostWake = nullptr) {
    tern::camera::PtyCamera camera;
    camera.Start();
    const auto start = Clock::now();
    // TERNAB=path compares another build of ternab (an older one, say).
    const char* program = std::getenv("TERNAB") != nullptr ? std::getenv("TERNAB") : TERNAB_PATH;
    Child c = Start({program, "--mode", "apl", "--port", camera.DevicePath(), "--port2", "/nonexistent/com2"});
    const bool enq = WaitFor([&] { return camera.PeerStatistics().enqs > 0; });
    const auto enqAt = Clock::now();
    const bool chain = enq && WaitFor([&] { return camera.PeerStatistics().repliesSent >= 7; });
    std::this_thread::sleep_for(kSettle);  // the last reply reaches the controls
    const long kib = tern::bench::ResidentKiB(c.pid);
    if (chain && idleWake != nullptr) {
        *idleWake = WakeupsPerSecond(c.pid);
        camera.HangUp();  // the cable is pulled
        std::this_thread::sleep_for(1s);
        *lostWake = WakeupsPerSecond(c.pid);
    }
    Stop(c);
    camera.Stop();
    if (!enq || !chain) {
        std::fprintf(stderr, "ternab: %s\n", enq ? "the Setup1 chain did not end" : "no ENQ reached the camera");
        return false;
    }
    f.enqMs.push_back(Ms(start, enqAt));
    f.rssKiB.push_back(static_cast<double>(kib));
    return true;
}

bool RunMinimal(Figures& f, bool text, double* idleWake = nullptr) {
    tern::camera::PtyCamera camera;
    camera.Start();
    const auto start = Clock::now();
    Child c = text ? Start({MINIMAL_WINDOW_PATH, "--text", camera.DevicePath()})
                   : Start({MINIMAL_WINDOW_PATH, camera.DevicePath()});
    const bool enq = WaitFor([&] { return camera.PeerStatistics().enqs > 0; });
    const auto enqAt = Clock::now();
    const bool ready = enq && WaitForLine(c.out, 20000ms);
    std::this_thread::sleep_for(kSettle);
    const long kib = tern::bench::ResidentKiB(c.pid);
    if (ready && idleWake != nullptr) *idleWake = WakeupsPerSecond(c.pid);
    Stop(c);
    camera.Stop();
    if (!enq || !ready) {
        std::fprintf(stderr, "minimal_window: %s\n", enq ? "its event loop did not start" : "no ENQ reached the camera");
        return false;
    }
    f.enqMs.push_back(Ms(start, enqAt));
    f.rssKiB.push_back(static_cast<double>(kib));
    return true;
}

void Row(const char* what, const char* unit, const std::vector<double>& a, const std::vector<double>& b,
         const std::vector<double>& c) {
    char cell[3][64];
    const std::vector<double>* v[3] = {&a, &b, &c};
    for (int i = 0; i < 3; ++i) {
        std::snprintf(cell[i], sizeof cell[i], "%.1f %s (%.1f .. %.1f)", Median(*v[i]), unit, Min(*v[i]), Max(*v[i]));
    }
    std::printf("  %-22s %-34s %-34s %s\n", what, cell[0], cell[1], cell[2]);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 11;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--rounds" || std::string(argv[i]) == "--runs") rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    if (const int rc = tern::bench::RunOnXDisplay(argc, argv, "startup_bench"); rc != 0) return rc;
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
        // Qt warns on every start without one; both programs get the same.
        char dir[] = "/tmp/startup_bench.XXXXXX";
        if (mkdtemp(dir) != nullptr) setenv("XDG_RUNTIME_DIR", dir, 1);
    }

    Figures minimal, blank, ternab;
    for (int r = 0; r < rounds; ++r) {
        // Interleaved, the order rotating, so a slow spell of the machine
        // falls on all programs alike.
        for (int k = 0; k < 3; ++k) {
            bool ok = true;
            switch ((r + k) % 3) {
                case 0: ok = RunTernab(ternab); break;
                case 1: ok = RunMinimal(minimal, true); break;
                case 2: ok = RunMinimal(blank, false); break;
            }
            if (!ok) return 1;
        }
    }
    double minimalWake = 0, idleWake = 0, lostWake = 0;
    if (!RunMinimal(minimal, true, &minimalWake) || !RunTernab(ternab, &idleWake, &lostWake)) return 1;

    std::printf("startup_bench: %d rounds, interleaved, shown on an X display; medians (min .. max)\n", rounds);
    std::printf("  %-22s %-34s %-34s %s\n", "", "minimal window, one text", "minimal window, blank", "ternab --mode apl");
    Row("first ENQ on the wire", "ms", minimal.enqMs, blank.enqMs, ternab.enqMs);
    Row("resident memory", "KiB", minimal.rssKiB, blank.rssKiB, ternab.rssKiB);
    std::printf("  event-thread wake-ups a second, over %lld s: minimal idle %.1f; ternab idle and connected %.1f,\n"
                "  device gone %.1f (SendTimer's retry of the device accounts for %.2f)\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(kWakeWindow).count()), minimalWake,
                idleWake, lostWake, 1000.0 / 1500.0);

    const double enqRatio = Median(ternab.enqMs) / Median(minimal.enqMs);
    const double memRatio = Median(ternab.rssKiB) / Median(minimal.rssKiB);
    // Beyond the baseline's own wake-ups (and, with the device gone, SendTimer's
    // tick that retries it; connected and idle, SendTimer does not run); half a
    // wake-up a second of slack for the display's and the kernel's.
    const double sendTimer = 1000.0 / 1500.0;
    const double idleBeyond = std::max(0.0, idleWake - minimalWake);
    const double lostBeyond = std::max(0.0, lostWake - minimalWake - sendTimer);
    auto verdict = [](bool met) { return met ? "goal met" : "GOAL MISSED"; };
    std::printf("time to the first ENQ: %.2fx the minimal program (goal at most 2x): %s\n", enqRatio, verdict(enqRatio <= 2.0));
    std::printf("resident memory:       %.2fx the minimal program (goal at most 1.3x): %s\n", memRatio,
                verdict(memRatio <= 1.3));
    std::printf("  (against the blank window: first ENQ %.2fx, memory %.2fx)\n",
                Median(ternab.enqMs) / Median(blank.enqMs), Median(ternab.rssKiB) / Median(blank.rssKiB));
    std::printf("wake-ups beyond the minimal window's: %.1f/s idle and connected, %.1f/s device gone beyond its retry"
                " (goal 0): %s\n",
                idleBeyond, lostBeyond, verdict(idleBeyond < 0.5 && lostBeyond < 0.5));
    return 0;
}
