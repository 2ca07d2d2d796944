// The Setup1 page in the real window, shown on an X display (the bench runs
// itself again under xvfb-run when there is none):
//  (a) slider drag: AGC_MAX moved to a new position at 60 Hz for 10 s, with
//      setValue from a timer as a drag does, against the virtual camera paced
//      at 9600 baud. The camera's model is watched for the AGC maximum writes
//      (item 1A, sub-item 01) it takes: how many a second, the shortest time
//      between two (target: at least 300 ms, one command per throttle
//      interval), and whether the slider's last position is the camera's
//      setting once the line is quiet;
//  (b) reply handling cost: a prepared reply handed to the receive
//      dispatcher of the window (decode, the page's apply, the enabling
//      rules, all of Trans_end) and of the console host (the link and the
//      common decode alone), over a port stand-in, batch against batch
//      interleaved; microseconds a reply and the ratio, medians;
//  (c) resident memory of ternab started as its own process in DBG mode on
//      the Setup1 page, once the Setup1 chain has been answered (target: at
//      most 60 MB).
// Run: setup_bench [--drag-seconds S] [--rounds N] [--runs N] [--only memory|drag|reply]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSlider>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/MTern.h"
#include "bench_util.h"
#include "camera/pty_camera.h"
#include "cli/console_host.h"
#include "controls/Setup1Page.h"
#include "link/event_loop.h"
#include "transfer/Catalogue.h"

using namespace tern;
using namespace tern::bench;
using namespace std::chrono_literals;

namespace {

constexpr int kSettingAgcMode = 0x1A;  // settings byte of item 1A/00
constexpr int kSettingAgcMax = 0x1B;   // settings byte of item 1A/01
constexpr double kThrottleMs = 300.0;
constexpr double kMemoryTargetKiB = 60.0 * 1024.0;

void CloseBox(QMessageBox& box) { QTimer::singleShot(0, &box, &QMessageBox::accept); }

/// Lets the event loop run until pred() holds; false when the deadline passes first.
bool RunUntil(const std::function<bool()>& pred, int deadlineMs) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > deadlineMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

void RunFor(int ms) {
    QElapsedTimer clock;
    clock.start();
    RunUntil([&] { return clock.elapsed() >= ms; }, ms + 1000);
}

// ---- (a) slider drag ------------------------------------------------------------------------------

/// Watches the camera's model from a thread of its own and notes the time of
/// every AGC maximum write it takes (a new command seen every 0.25 ms at the
/// latest; a frame takes 20 ms on the paced line, so none is missed).
class WriteWatch {
public:
    explicit WriteWatch(camera::PtyCamera& cam) : cam_(cam), thread_([this] { Run(); }) {}
    ~WriteWatch() {
        stop_ = true;
        thread_.join();
    }
    struct Seen {
        Clock::time_point at;
        std::uint8_t value;
    };
    std::vector<Seen> Writes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return writes_;
    }

private:
    void Run() {
        std::uint64_t last = cam_.WithModel([](camera::CameraModel& m) { return m.CommandsSeen(); });
        while (!stop_) {
            struct Now {
                std::uint64_t commands;
                camera::Bytes15 payload;
            };
            const Now now = cam_.WithModel([](camera::CameraModel& m) { return Now{m.CommandsSeen(), m.LastPayload()}; });
            if (now.commands != last) {
                last = now.commands;
                const auto& p = now.payload;  // payload bytes 1..15 at 0..14
                if (p[0] == link::kGroupWrite && p[1] == link::kItemAgc && p[2] == 0x01) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    writes_.push_back({Clock::now(), p[3]});
                }
            }
            std::this_thread::sleep_for(250us);
        }
    }
    camera::PtyCamera& cam_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Seen> writes_;
    std::thread thread_;
};

/// The position at step k of a drag that sweeps the whole range back and forth.
int Triangle(int k, int lo, int hi) {
    const int span = hi - lo;
    const int phase = k % (2 * span);
    return lo + (phase <= span ? phase : 2 * span - phase);
}

bool SliderDrag(double dragSeconds) {
    camera::CameraOptions o;
    o.baud = 9600;
    camera::PtyCamera cam(o);
    cam.WithModel([](camera::CameraModel& m) {
        m.SetSettingByte(kSettingAgcMode, 1);  // AGC with a maximum: the slider is enabled
        m.SetSettingByte(kSettingAgcMax, 0);
    });
    cam.Start();
    app::TFTern w(link::ToolMode::Apl, link::PortDevices{cam.DevicePath(), "/nonexistent/ternab-com2"}, CloseBox);
    bool read = false;
    w.CallWhenPageRead([&] { read = true; });
    w.show();
    if (!RunUntil([&] { return read; }, 30000)) {
        std::fprintf(stderr, "slider drag: the Setup1 chain did not end\n");
        return false;
    }
    QSlider* slider = w.Setup1().AGC_MAX;
    const int lo = slider->minimum(), hi = slider->maximum();
    const bool enabled = slider->isEnabled() && w.ActivePage() == link::Page::Setup1;

    WriteWatch watch(cam);
    const auto framesBefore = cam.PeerStatistics().framesReceived;
    const double stepMs = 1000.0 / 60.0;
    const int steps = static_cast<int>(std::lround(dragSeconds * 60.0));
    int step = 0;
    QTimer drag;
    drag.setTimerType(Qt::PreciseTimer);
    drag.setInterval(2);
    const auto start = Clock::now();
    QObject::connect(&drag, &QTimer::timeout, [&] {
        // One new position each 1/60 s, as the mouse moves the thumb.
        while (step < steps && Ms(Clock::now() - start) >= step * stepMs) slider->setValue(Triangle(++step, lo, hi));
        if (step >= steps) drag.stop();
    });
    drag.start();
    RunUntil([&] { return !drag.isActive(); }, static_cast<int>(dragSeconds * 1000) + 5000);
    const auto dragEnd = Clock::now();
    const int lastPosition = slider->value();
    // The last change is sent at most one interval later; then the line is quiet.
    RunUntil([&] { return !w.AGCTimer->isActive() && !w.Link().LinkBusy(); }, 5000);
    RunFor(1000);
    const auto settled = Clock::now();
    const auto framesAfter = cam.PeerStatistics().framesReceived;
    const int inCamera = cam.WithModel([](camera::CameraModel& m) { return int{m.SettingByte(kSettingAgcMax)}; });
    const std::vector<WriteWatch::Seen> writes = watch.Writes();
    w.FormDestroy();

    std::vector<double> gaps;
    for (std::size_t i = 1; i < writes.size(); ++i) gaps.push_back(Ms(writes[i].at - writes[i - 1].at));
    const double window = Seconds(settled - start);
    const double dragSecondsReal = Seconds(dragEnd - start);
    std::printf("(a) slider drag on AGC_MAX (%d..%d%s), %d positions in %.2f s (%.1f Hz), camera paced at 9600 baud\n",
                lo, hi, enabled ? "" : ", NOTE: the slider was disabled", step, dragSecondsReal,
                step / dragSecondsReal);
    std::printf("  frames on the wire        %6.2f /s  (all %llu command frames in %.2f s, drag and settling)\n",
                static_cast<double>(framesAfter - framesBefore) / window,
                static_cast<unsigned long long>(framesAfter - framesBefore), window);
    std::printf("  AGC maximum writes        %6.2f /s  (%zu, item 1A sub 01)\n", static_cast<double>(writes.size()) / window,
                writes.size());
    if (!gaps.empty()) {
        std::printf("  time between two writes   min %.1f ms, median %.1f ms, max %.1f ms\n", Min(gaps), Median(gaps),
                    Max(gaps));
    }
    const bool throttled = !gaps.empty() && Min(gaps) >= kThrottleMs;
    std::printf("  target one command per 300 ms: shortest gap / 300 ms = %.3f  %s\n",
                gaps.empty() ? 0.0 : Min(gaps) / kThrottleMs,
                gaps.empty() ? "MISSED (fewer than two writes seen)" : (throttled ? "met" : "MISSED"));
    const bool arrived = inCamera == lastPosition;
    std::printf("  last position %d, camera's AGC maximum %d, last write seen carried %d: %s\n", lastPosition, inCamera,
                writes.empty() ? -1 : int{writes.back().value}, arrived ? "arrived (met)" : "MISSED");
    return true;
}

// ---- (b) reply handling cost ----------------------------------------------------------------------

/// A command as a page sends it and the camera's answer to it (ACK and reply).
struct Exchange {
    link::Payload payload;
    Bytes answer;
};

link::Payload PayloadOf(const link::FrameBytes& f) {
    link::Payload p;
    for (int i = 1; i <= static_cast<int>(link::kPayloadSize); ++i) p[i] = f[static_cast<std::size_t>(i)];
    return p;
}

/// Answers the link's frames from the model until no chain runs and nothing
/// is in flight; returns the exchanges of that chain.
std::vector<Exchange> AnswerChain(link::Link& l, camera::CameraModel& model, const std::function<int()>& loadStep,
                                  const std::function<void()>& pump) {
    std::vector<Exchange> chain;
    for (int guard = 0; guard < 100 && (loadStep() != 0 || l.LinkBusy()); ++guard) {
        const link::FrameBytes cmd = l.CmdFrame();
        const Bytes answer = AnswerOf(model, cmd);
        chain.push_back({PayloadOf(cmd), answer});
        l.Comm1CommReceive(answer);
        pump();
    }
    return chain;
}

/// Sends each exchange's command and hands its answer to the dispatcher,
/// `reps` times; the microseconds a reply spent in the dispatcher. False in
/// `ok` when a reply left the link busy or was not handled.
double TimeReplies(link::Link& l, const std::vector<Exchange>& cases, int reps, long& handled, bool& ok) {
    Clock::duration spent{};
    const long before = handled;
    for (int r = 0; r < reps; ++r) {
        for (const Exchange& c : cases) {
            if (l.LinkBusy()) {
                ok = false;
                return 0.0;
            }
            l.StxCommand(c.payload, static_cast<int>(link::kPayloadSize));
            const auto t0 = Clock::now();
            l.Comm1CommReceive(c.answer);
            spent += Clock::now() - t0;
        }
    }
    const long n = static_cast<long>(reps) * static_cast<long>(cases.size());
    if (handled - before != n) ok = false;
    return std::chrono::duration<double, std::micro>(spent).count() / static_cast<double>(n);
}

bool ReplyCost(int rounds) {
    camera::CameraModel model;
    model.SetSettingByte(kSettingAgcMode, 1);
    const auto pumpQt = [] { QCoreApplication::processEvents(); };

    // The window on the Setup1 page, over a port stand-in.
    NullPort wport;
    app::TFTern w(link::ToolMode::Apl, &wport, CloseBox);
    long windowReplies = 0;
    w.show();
    pumpQt();
    w.Link().Comm1CommReceive(Bytes{link::ACK});  // the camera answers ENQ
    pumpQt();
    const std::vector<Exchange> chain = AnswerChain(w.Link(), model, [&] { return w.LoadStep(); }, pumpQt);
    pumpQt();
    w.OnReply = [&] { ++windowReplies; };
    if (w.ActivePage() != link::Page::Setup1 || chain.empty()) {
        std::fprintf(stderr, "reply cost: the window did not read the Setup1 page\n");
        return false;
    }

    // The console host: the link and the common decode, no window.
    link::EventLoop loop;
    NullPort cport;
    cli::ConsoleHost host(loop, cport);
    host.quiet = true;
    long hostReplies = 0;
    host.Link().Trans_Create();
    host.Link().Comm1CommReceive(Bytes{link::ACK});
    AnswerChain(host.Link(), model, [&] { return host.LoadStep(); }, [] {});
    host.onReply = [&] { ++hostReplies; };

    // What is compared: the slider's write echoed, and the Setup1 chain's reads.
    const transfer::SettingCommand agc = *transfer::CommandFor(transfer::Control::AGC_MAX, 5);
    const link::FrameBytes agcFrame = link::BuildStxFrame(agc.payload, agc.n);
    const std::vector<Exchange> write{{PayloadOf(agcFrame), AnswerOf(model, agcFrame)}};
    struct Kind {
        const char* name;
        const std::vector<Exchange>* cases;
        int reps;
    };
    const Kind kinds[] = {{"AGC_MAX write echoed (A0 1A 01)", &write, 140}, {"Setup1 chain reads (mean of the chain)", &chain, 20}};

    std::printf("(b) reply handling cost, %d rounds of window batch then console batch; microseconds a reply (medians):\n",
                rounds);
    for (const Kind& k : kinds) {
        std::vector<double> win, con, ratio;
        bool ok = true;
        for (int round = 0; round < rounds + 2 && ok; ++round) {
            const double a = TimeReplies(w.Link(), *k.cases, k.reps, windowReplies, ok);
            pumpQt();  // what the replies left for the event loop (painting) is not part of their cost
            const double b = TimeReplies(host.Link(), *k.cases, k.reps, hostReplies, ok);
            if (round < 2) continue;  // warm-up
            win.push_back(a);
            con.push_back(b);
            ratio.push_back(a / b);
        }
        if (!ok) {
            std::fprintf(stderr, "reply cost: a reply of \"%s\" was not handled or left the link busy\n", k.name);
            return false;
        }
        std::printf("  %s, %zu frame%s\n", k.name, k.cases->size(), k.cases->size() > 1 ? "s" : "");
        std::printf("    window (decode + apply + enabling rules)  %8.2f us  (%.2f .. %.2f)\n", Median(win), Min(win),
                    Max(win));
        std::printf("    link alone (console host)                 %8.2f us  (%.2f .. %.2f)\n", Median(con), Min(con),
                    Max(con));
        std::printf("    ratio window / link                       %8.2f x   (%.2f .. %.2f)\n", Median(ratio),
                    Min(ratio), Max(ratio));
    }
    std::printf("  (a reply takes 19.8 ms on the line at 9600 baud)\n");
    w.FormDestroy();
    host.Link().Close();
    return true;
}

// ---- (c) resident memory -----------------------------------------------------------------------------

bool Memory(int runs) {
    std::vector<double> kib;
    for (int run = 0; run < runs; ++run) {
        camera::PtyCamera cam;
        cam.Start();
        const std::string device = cam.DevicePath();
        const pid_t pid = fork();
        if (pid == 0) {
            execl(TERNAB_PATH, "ternab", "--mode", "dbg", "--page", "setup1", "--port", device.c_str(), "--port2",
                  "/nonexistent/com2", static_cast<char*>(nullptr));
            _exit(127);
        }
        // The ENQ, then the seven reads of the Setup1 chain; then the line stays quiet.
        const auto deadline = Clock::now() + 30s;
        bool chain = false;
        std::uint64_t last = 0;
        auto quietSince = Clock::now();
        while (Clock::now() < deadline) {
            const std::uint64_t n = cam.PeerStatistics().repliesSent;
            if (n != last) {
                last = n;
                quietSince = Clock::now();
            }
            if (n >= 7 && Clock::now() - quietSince > 500ms) {
                chain = true;
                break;
            }
            std::this_thread::sleep_for(5ms);  // another process: nothing to wait on
        }
        const long k = ResidentKiB(pid);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        cam.Stop();
        if (!chain || k < 0) {
            std::fprintf(stderr, "memory: run %d: the Setup1 chain was not answered\n", run);
            return false;
        }
        kib.push_back(static_cast<double>(k));
    }
    const double m = Median(kib);
    std::printf("(c) ternab --mode dbg --page setup1 on an X display, resident memory after the Setup1 chain, %d runs:\n",
                runs);
    std::printf("  median %.0f KiB = %.1f MB (%.0f .. %.0f KiB); target 60 MB: ratio %.3f  %s\n", m, m / 1024.0, Min(kib),
                Max(kib), m / kMemoryTargetKiB, m <= kMemoryTargetKiB ? "met" : "MISSED");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    double dragSeconds = 10.0;
    int rounds = 30;
    int runs = 3;
    std::string only;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--drag-seconds") dragSeconds = std::max(1.0, std::atof(argv[i + 1]));
        if (a == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
        if (a == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
        if (a == "--only") only = argv[i + 1];
    }
    if (const int rc = RunOnXDisplay(argc, argv, "setup_bench")) return rc;
    QApplication app(argc, argv);
    if ((only.empty() || only == "memory") && !Memory(runs)) return 1;
    if ((only.empty() || only == "drag") && !SliderDrag(dragSeconds)) return 1;
    if ((only.empty() || only == "reply") && !ReplyCost(rounds)) return 1;
    return 0;
}
