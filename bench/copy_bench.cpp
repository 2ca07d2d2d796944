// Copying a camera's settings memory over a line paced at 9600 baud, next to
// what the line allows:
//  - backup: the 512 memory words read (Camera->PC) and the file written;
//  - batch restore: a settings file sent as one block, then the reset.
// Each from ternctl (the built program, started as a process, timed from its
// start to its exit, so its handshake and first reads count) and from the
// window (the Copy page's buttons on the real window, shown on an X display,
// timed from the file chosen to the copy's end), runs interleaved ternctl,
// window, ternctl, window ... each against a virtual camera of its own.
// CPU: the whole ternctl process (its start-up included) against the
// window's event thread over the same span as its time, from the file
// chosen (the file dialog's cost is shown apart).
//
// Two bounds: the nominal one (512 exchanges of 40 bytes, 21.33 s; the
// 1029-byte block with its ACK and reply, 1.09 s) and the bytes the camera
// really counted both ways during the run, at 10 bits a byte. Target: at
// most 1.01 times the bound.
// Run: copy_bench [--backup-runs N] [--batch-runs N]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/MTern.h"
#include "bench_util.h"
#include "camera/pty_camera.h"
#include "copy/CopyPage.h"
#include "transfer/SettingsFile.h"

using namespace tern;
using namespace tern::bench;
using namespace std::chrono_literals;

namespace {

constexpr double kBitsPerByte = 10.0;
constexpr double kBaud = 9600.0;
constexpr double kBackupBound = 512.0 * 40.0 * kBitsPerByte / kBaud;                 // 21.33 s
constexpr double kBatchBound = (1029.0 + 1.0 + 19.0) * kBitsPerByte / kBaud;         // 1.09 s
constexpr double kTarget = 1.01;

void CloseBox(QMessageBox& box) { QTimer::singleShot(0, &box, &QMessageBox::accept); }

camera::MemoryImage Pattern(std::uint16_t seed) {
    camera::MemoryImage m{};
    for (std::size_t a = 0; a < m.size(); ++a) m[a] = static_cast<std::uint16_t>(seed ^ (a * 0x9E37u) ^ (a << 3));
    return m;
}

transfer::MemoryWords WordsOf(const camera::MemoryImage& m) {
    transfer::MemoryWords w{};
    for (std::size_t a = 0; a < m.size(); ++a) w[a] = m[a];
    return w;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::uint64_t WireBytes(const camera::PtyCamera& cam) {
    const camera::CameraStats s = cam.Stats();
    return s.bytesIn + s.bytesOut;
}

/// Lets the event loop run until pred() holds, checking after every event
/// (a heartbeat wakes the loop at least every 10 ms); false at the deadline.
bool RunUntil(const std::function<bool()>& pred, Clock::duration deadline, int heartbeatMs = 10) {
    QTimer heartbeat;
    heartbeat.start(heartbeatMs);
    const auto end = Clock::now() + deadline;
    while (!pred()) {
        if (Clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

struct Run {
    double seconds = 0;
    double wireBound = 0;  ///< the bytes the camera counted, at 10 bits a byte
    double cpu = 0;        ///< ternctl: the process's CPU; the window: its event thread's
    double wakeups = 0;    ///< voluntary context switches of the same
    double user = 0;       ///< the CPU's part in user space
    double dialog = 0;     ///< the window: its event thread's CPU in the file dialog, before the copy
};

double CpuOf(const rusage& use) {
    return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) * 1e-6;
}

double UserOf(const rusage& use) {
    return static_cast<double>(use.ru_utime.tv_sec) + static_cast<double>(use.ru_utime.tv_usec) * 1e-6;
}

/// The calling thread's (the window's event thread's) rusage.
rusage ThreadUse() {
    rusage use{};
    getrusage(RUSAGE_THREAD, &use);
    return use;
}

/// ternctl as a process, from its start to its exit.
std::optional<Run> Ternctl(camera::PtyCamera& cam, const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>("ternctl")};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::uint64_t before = WireBytes(cam);
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execv(TERNCTL_PATH, argv.data());
        _exit(127);
    }
    int status = 0;
    rusage use{};
    wait4(pid, &status, 0, &use);
    const auto t1 = Clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "ternctl %s failed (status %d)\n", args[0].c_str(), status);
        return std::nullopt;
    }
    return Run{Seconds(t1 - t0), static_cast<double>(WireBytes(cam) - before) * kBitsPerByte / kBaud, CpuOf(use),
               static_cast<double>(use.ru_nvcsw), UserOf(use)};
}

/// The window's Copy page, its file dialogs answered with `path`.
class WindowCopier {
public:
    explicit WindowCopier(camera::PtyCamera& cam)
        : cam_(cam), w_(link::ToolMode::Dbg, link::PortDevices{cam.DevicePath(), "/nonexistent/ternab-com2"}, CloseBox) {
        w_.OnReply = [this] { ++replies_; };
        w_.OnDialog = [this](QDialog& d) {
            auto* fd = qobject_cast<QFileDialog*>(&d);
            QTimer::singleShot(0, &d, [this, fd, &d] {
                if (fd == nullptr) {
                    d.reject();
                    return;
                }
                fd->selectFile(QString::fromStdString(path_));
                chosen_ = Clock::now();
                chosenUse_ = ThreadUse();
                d.accept();
            });
        };
        w_.show();
    }
    bool Ready() {
        if (!RunUntil([&] { return replies_ >= 2 && Settled(); }, 20s)) return false;
        w_.PageControl1->setCurrentIndex(static_cast<int>(link::Page::Copy));
        return RunUntil([&] { return replies_ >= 4 && Settled(); }, 20s);
    }
    /// Backup (true) or batch restore (false) of `path`.
    std::optional<Run> Copy(bool backup, const std::string& path) {
        // The reload that follows a batch's reset is over first.
        if (!RunUntil([&] { return Settled() && !w_.ReloadTimer->isActive(); }, 20s)) return std::nullopt;
        path_ = path;
        chosen_.reset();
        chosenUse_.reset();
        const std::uint64_t before = WireBytes(cam_);
        const rusage use0 = ThreadUse();
        const auto click = Clock::now();
        if (backup) {
            w_.CopyPage().CtopOK2Click();
        } else {
            w_.CopyPage().ptocOk2Click();  // "Same File Name" after the first: no dialog
        }
        // A slow heartbeat: the bench's own wake-ups are not the window's.
        const bool ended = RunUntil([&] { return !w_.CopyPage().Copier().Active(); }, 120s, 1000);
        const auto end = Clock::now();
        const rusage use1 = ThreadUse();
        // Timed and counted from the file chosen, as the copy starts there:
        // the file dialog's own cost (tens of milliseconds the first time it
        // is built, its icons and directory model) is no part of a copy's.
        const rusage from = chosenUse_.value_or(use0);
        const double cpu = CpuOf(use1) - CpuOf(from);
        const double dialog = CpuOf(from) - CpuOf(use0);
        const double wakeups = static_cast<double>(use1.ru_nvcsw - from.ru_nvcsw);
        const auto& out = w_.CopyPage().Copier().Outcome();
        if (!ended || out.result != transfer::CopyResult::Complete || !w_.Messages.empty()) {
            std::fprintf(stderr, "window %s did not complete: %s %s\n", backup ? "backup" : "batch restore",
                         out.message.c_str(), out.detail.c_str());
            return std::nullopt;
        }
        const auto start = chosen_.value_or(click);
        return Run{Seconds(end - start), static_cast<double>(WireBytes(cam_) - before) * kBitsPerByte / kBaud, cpu, wakeups,
                   UserOf(use1) - UserOf(from), dialog};
    }
    void End() { w_.FormDestroy(); }

private:
    bool Settled() { return w_.LoadStep() == 0 && !w_.Link().LinkBusy(); }
    camera::PtyCamera& cam_;
    app::TFTern w_;
    std::string path_;
    std::optional<Clock::time_point> chosen_;
    std::optional<rusage> chosenUse_;
    int replies_ = 0;
};

/// `cpuGoal`: the window's CPU against ternctl's is held against its goal
/// (a backup's 512 replies; a batch is one exchange and its boxes).
void Report(const char* what, double nominal, double exchanges, const std::vector<Run>& cli, const std::vector<Run>& win,
            bool cpuGoal) {
    std::printf("%s, nominal line bound %.3f s\n", what, nominal);
    auto line = [&](const char* who, const std::vector<Run>& runs) {
        std::vector<double> s, r, rw;
        for (const Run& x : runs) {
            s.push_back(x.seconds);
            r.push_back(x.seconds / nominal);
            rw.push_back(x.seconds / x.wireBound);
        }
        const double wire = Median([&] {
            std::vector<double> b;
            for (const Run& x : runs) b.push_back(x.wireBound);
            return b;
        }());
        std::printf("  %-8s %8.3f s median (%.3f .. %.3f), %zu runs\n", who, Median(s), Min(s), Max(s), runs.size());
        std::printf("           ratio to the nominal bound     %.4f x (%.4f .. %.4f)  %s\n", Median(r), Min(r), Max(r),
                    Median(r) <= kTarget ? "met (target 1.01)" : "MISSED (target 1.01)");
        std::printf("           ratio to the bytes on the wire %.4f x (%.4f .. %.4f)  %s  (%.3f s of bytes counted by the camera)\n",
                    Median(rw), Min(rw), Max(rw), Median(rw) <= kTarget ? "met (target 1.01)" : "MISSED (target 1.01)", wire);
    };
    line("ternctl", cli);
    line("window", win);
    // CPU: the window's event thread during the copy against the whole
    // ternctl process (its start-up included), run by run.
    std::vector<double> cpu;
    for (std::size_t i = 0; i < cli.size() && i < win.size(); ++i) {
        if (cli[i].cpu > 0) cpu.push_back(win[i].cpu / cli[i].cpu);
    }
    if (cpu.empty()) return;
    auto perExchange = [&](const char* who, const std::vector<Run>& runs) {
        std::vector<double> us, user, wake;
        for (const Run& x : runs) {
            us.push_back(x.cpu / exchanges * 1e6);
            user.push_back(x.user / exchanges * 1e6);
            wake.push_back(x.wakeups / exchanges);
        }
        std::printf("  %-8s CPU %.1f us (%.1f in user space) and %.1f wake-ups an exchange (medians)\n", who, Median(us),
                    Median(user), Median(wake));
    };
    std::vector<double> dialog;
    for (const Run& x : win) dialog.push_back(x.dialog * 1e3);
    std::printf("  (not counted: the window's file dialog before the copy, %.1f ms CPU (%.1f .. %.1f))\n", Median(dialog),
                Min(dialog), Max(dialog));
    perExchange("ternctl", cli);
    perExchange("window", win);
    constexpr double kCpuGoal = 1.5;
    std::printf("  CPU window/ternctl       min %.3f  median %.3f  max %.3f  (%zu rounds)", Min(cpu), Median(cpu), Max(cpu),
                cpu.size());
    if (cpuGoal) std::printf(" goal <= %.1f: %s", kCpuGoal, Median(cpu) <= kCpuGoal ? "met" : "MISSED");
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    int backupRuns = 3;
    int batchRuns = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--backup-runs") backupRuns = std::max(1, std::atoi(argv[i + 1]));
        if (a == "--batch-runs") batchRuns = std::max(1, std::atoi(argv[i + 1]));
    }
    if (const int rc = RunOnXDisplay(argc, argv, "copy_bench")) return rc;
    QApplication app(argc, argv);

    char dirTemplate[] = "/tmp/copy_bench.XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr) {
        std::perror("copy_bench: mkdtemp");
        return 1;
    }
    const std::string dir = dirTemplate;
    const camera::MemoryImage memory = Pattern(0x5A3C);

    camera::CameraOptions paced;
    paced.baud = static_cast<int>(kBaud);
    camera::PtyCamera camCli(paced), camWin(paced);
    camCli.WithModel([&](camera::CameraModel& m) { m.SetMemory(memory); });
    camWin.WithModel([&](camera::CameraModel& m) { m.SetMemory(memory); });
    camCli.Start();
    camWin.Start();
    WindowCopier window(camWin);
    if (!window.Ready()) {
        std::fprintf(stderr, "copy_bench: the window did not read its pages\n");
        return 1;
    }

    int rc = 0;
    std::vector<Run> cliBackup, winBackup, cliBatch, winBatch;
    const std::string expected = transfer::FormatSettingsFile(WordsOf(memory));
    for (int run = 0; run < backupRuns && rc == 0; ++run) {
        const std::string cliFile = dir + "/ternctl-" + std::to_string(run) + ".dat";
        const std::string winFile = dir + "/window-" + std::to_string(run) + ".dat";
        const auto c = Ternctl(camCli, {"backup", "--quiet", "--port", camCli.DevicePath(), cliFile});
        const auto w = window.Copy(true, winFile);
        if (!c || !w || Slurp(cliFile) != expected || Slurp(winFile) != expected) {
            std::fprintf(stderr, "copy_bench: a backup failed or its file is not the camera's memory\n");
            rc = 1;
            break;
        }
        cliBackup.push_back(*c);
        winBackup.push_back(*w);
        std::fprintf(stderr, "backup run %d: ternctl %.3f s, window %.3f s\n", run, c->seconds, w->seconds);
    }

    // Another camera's settings go in as one block.
    const std::string batchFile = dir + "/other.dat";
    {
        std::ofstream out(batchFile, std::ios::binary);
        out << transfer::FormatSettingsFile(WordsOf(Pattern(0x1234)));
    }
    for (int run = 0; run < batchRuns && rc == 0; ++run) {
        const auto c = Ternctl(camCli, {"restore", "--batch", "--quiet", "--port", camCli.DevicePath(), batchFile});
        const auto w = window.Copy(false, batchFile);
        if (!c || !w) {
            rc = 1;
            break;
        }
        cliBatch.push_back(*c);
        winBatch.push_back(*w);
        std::fprintf(stderr, "batch run %d: ternctl %.3f s, window %.3f s\n", run, c->seconds, w->seconds);
    }
    window.End();
    camCli.Stop();
    camWin.Stop();
    std::system(("rm -rf '" + dir + "'").c_str());
    if (rc != 0) return rc;

    std::printf("Copies against the virtual camera paced at 9600 baud (10 bits a byte); ternctl timed from process\n"
                "start to exit, the window from the file chosen to the copy's end; medians (min .. max):\n");
    Report("backup (512 reads, file written)", kBackupBound, 512, cliBackup, winBackup, true);
    Report("batch restore (prefetch, block, reset)", kBatchBound, 1, cliBatch, winBatch, false);
    return 0;
}
