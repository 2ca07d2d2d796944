// Link throughput.
//  (a) time and CPU per exchange over an unpaced pseudo-terminal, next to a
//      minimal loop that writes the same frames and reads the same answers
//      with plain read/write (the ACK and the reply read apart, as a client
//      that acts on the ACK does). Both talk to the same external peer, a small
//      program of its own (link_bench_peer) on the pty's other side, so the
//      virtual camera's cost does not hide the link's. The machine's speed
//      swings from second to second, so the two run interleaved, batch
//      against batch (reference, link, reference, link ...), and the ratio of
//      each pair is reported as min / median / max; the medians are held
//      against the goals (time <= 1.1, CPU <= 1.3). CPU is this process's
//      alone: the peer's is the same for both;
//  (p) the same at process level: ternctl (restore --single of a script of
//      register reads) against the same external peer, next to the plainest
//      client as a process of its own; each runs a short and a long script
//      and the difference is held against the goals, so start-up cancels;
//  (c) the same link with the line trace on, against it with the trace off,
//      interleaved batch against batch (off, on, off, on ...): the median
//      ratio says what the trace costs the link;
//  (b) the Setup1 load chain (7 exchanges) and 512 memory-word reads over a
//      line paced at 9600 baud, next to the line-rate bound (40 bytes of
//      10 bits an exchange); for the 512 reads also the tool's own share,
//      from the line trace's timestamps: the time from the last byte of an
//      answer to the next command, against the rest.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "camera/pty_camera.h"
#include "cli/console_host.h"
#include "link/codec.h"
#include "link/comm.h"
#include "link/event_loop.h"
#include "link/trace.h"

using namespace tern;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

link::Payload ReadRegister(std::uint8_t reg) {
    link::Payload p;
    p[1] = 0x31;
    p[2] = 0x0A;
    p[3] = reg;
    return p;
}

/// The external peer on a pty of its own; the slave stays open here too, so
/// the peer's reads never fail between the openings of its clients.
struct Peer {
    Peer() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) std::exit(1);
        slave = ptsname(master);
        keeper = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        tcgetattr(keeper, &t);
        cfmakeraw(&t);
        tcsetattr(keeper, TCSANOW, &t);
        pid = fork();
        if (pid == 0) {
            const std::string fd = std::to_string(master);
            execl(LINK_BENCH_PEER, LINK_BENCH_PEER, fd.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(master);
    }
    ~Peer() {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        close(keeper);
    }
    int master = -1, keeper = -1;
    pid_t pid = -1;
    std::string slave;
};

struct LinkRig {
    explicit LinkRig(camera::CameraOptions o, link::LineTrace* trace = nullptr) : LinkRig(std::make_unique<camera::PtyCamera>(o), "", trace) {}
    explicit LinkRig(const std::string& device) : LinkRig(nullptr, device, nullptr) {}
    LinkRig(std::unique_ptr<camera::PtyCamera> camera, const std::string& device, link::LineTrace* trace)
        : cam(std::move(camera)), host(loop, comm) {
        if (cam) cam->Start();
        comm.SetTrace(trace);
        comm.SetPortDevice(1, cam ? cam->DevicePath() : device);
        comm.SetReceiveNotifySize(7168);
        comm.SetSendNotifySize(8192);
        if (std::getenv("LINK_BENCH_WATCH_THREAD")) {  // the port's own thread and a hop, for comparison
            comm.OnCommReceive = [this](link::TComm& c, std::uint16_t n) { host.Link().OnCommReceiveWatchThread(c, n); };
        } else {
            comm.SetNotifier(&loop);
            comm.OnCommReceive = [this](link::TComm& c, std::uint16_t n) { host.Link().OnCommReceive(c, n); };
        }
        host.quiet = true;
        host.onReply = [this] { ++replies; };
        host.Link().Trans_Create();
        if (!loop.RunUntil([&] { return host.chainsCompleted > 0; }, std::chrono::seconds(20))) {
            std::fprintf(stderr, "the virtual camera did not answer\n");
            std::exit(1);
        }
    }
    ~LinkRig() {
        host.Link().Close();
        if (cam) cam->Stop();
    }
    void Exchange(std::uint8_t reg) { Exchange(ReadRegister(reg), 3); }
    void Exchange(const link::Payload& p, int n) {
        const long before = replies;
        host.Link().StxCommand(p, n);
        loop.RunUntil([&] { return replies > before; }, std::chrono::seconds(20));
    }
    /// Runs a whole chain through the host's Trans_init.
    void Chain(std::function<int(int, link::Payload&)> chain) {
        host.chain = std::move(chain);
        const int before = host.chainsCompleted;
        host.Link().ReLoadClick();
        loop.RunUntil([&] { return host.chainsCompleted > before; }, std::chrono::seconds(60));
        host.chain = nullptr;
    }
    link::EventLoop loop;
    std::unique_ptr<camera::PtyCamera> cam;
    link::TComm comm;
    cli::ConsoleHost host;
    long replies = 0;
};

/// The reference: plain blocking read/write of the same bytes.
struct ReferenceRig {
    explicit ReferenceRig(const std::string& device) {
        fd = open(device.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        std::uint8_t b = link::ENQ;
        if (write(fd, &b, 1) != 1) std::exit(1);
        ReadN(&b, 1);
    }
    ~ReferenceRig() { close(fd); }
    void ReadN(std::uint8_t* buf, std::size_t n) {
        std::size_t got = 0;
        while (got < n) {
            const ssize_t r = read(fd, buf + got, n - got);
            if (r <= 0) return;
            got += static_cast<std::size_t>(r);
        }
    }
    void Exchange(std::uint8_t reg) {
        const auto frame = link::BuildStxFrame(ReadRegister(reg), 3);
        if (write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) std::exit(1);
        // The ACK and the reply frame, each read as it comes (as a client
        // that acts on the ACK before the reply does).
        std::uint8_t answer[20];
        ReadN(answer, 1);
        ReadN(answer + 1, 19);
        const std::uint8_t b = link::ACK;
        if (write(fd, &b, 1) != 1) std::exit(1);
    }
    int fd = -1;
};

/// CPU seconds used so far by the whole process (every thread: the camera's,
/// the port's watch thread and the event thread).
double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct BatchTime {
    double wall;
    double cpu;
};

/// Wall and CPU seconds for `exchanges` exchanges.
template <class Rig>
BatchTime Batch(Rig& rig, int exchanges) {
    const double cpu0 = ProcessCpuSeconds();
    const auto start = Clock::now();
    for (int i = 0; i < exchanges; ++i) rig.Exchange(static_cast<std::uint8_t>(i));
    return {Seconds(Clock::now() - start), ProcessCpuSeconds() - cpu0};
}

/// The same register reads as a chain: each reply's handler sends the next
/// command, as a copy or a page read does (its ACK goes out in that write).
BatchTime ChainBatch(LinkRig& rig, int exchanges) {
    const double cpu0 = ProcessCpuSeconds();
    const auto start = Clock::now();
    rig.Chain([exchanges](int step, link::Payload& p) {
        if (step >= exchanges) return 0;
        p = ReadRegister(static_cast<std::uint8_t>(step));
        return 3;
    });
    return {Seconds(Clock::now() - start), ProcessCpuSeconds() - cpu0};
}

}  // namespace

/// From a line trace: the seconds between the last answer byte the tool read
/// and the next command it sent, summed over the last `exchanges` commands.
double ToolTime(const char* path, int exchanges) {
    std::ifstream in(path);
    std::string line;
    std::vector<double> gaps;
    double lastFromCamera = -1, lastCommand = -1;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        double at;
        std::string direction, first;
        if (!(words >> at >> direction >> first) || first == "=") continue;  // header, decoded words
        if (direction == "cam>tool") {
            lastFromCamera = at;
        } else if (direction == "tool>cam" && (first == "02" || (first == "06" && line.find(" 02 ") != std::string::npos))) {
            // a command, alone or behind the ACK of the reply that led to it
            if (lastFromCamera > lastCommand && lastCommand >= 0) gaps.push_back(at - lastFromCamera);
            lastCommand = at;
        }
    }
    if (gaps.empty()) {
        std::fprintf(stderr, "link_bench: the trace %s holds no exchange: the tool's share cannot be told\n", path);
        std::exit(1);
    }
    double sum = 0;
    const std::size_t from = gaps.size() > static_cast<std::size_t>(exchanges) ? gaps.size() - exchanges : 0;
    for (std::size_t i = from; i < gaps.size(); ++i) sum += gaps[i];
    return sum;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

/// Part (c): the link with its trace written to a file, against the link without.
void TraceCost(int exchanges, int rounds) {
    constexpr double kGoal = 1.05;
    std::printf("(c) the line trace: link with --trace against link without, %d rounds of %d exchanges,\n"
                "    interleaved (off, on, off, on ...)\n",
                rounds, exchanges);
    char path[] = "/tmp/link_bench_trace_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        std::fprintf(stderr, "cannot make a trace file in /tmp\n");
        std::exit(1);
    }
    close(fd);
    {
        link::LineTrace trace(path);
        LinkRig off{camera::CameraOptions{}};
        LinkRig on{camera::CameraOptions{}, &trace};
        Batch(off, exchanges / 4 + 1);  // warm both up
        Batch(on, exchanges / 4 + 1);
        std::vector<double> ratios, offUs, onUs;
        double offCpu = 0, onCpu = 0;
        for (int r = 0; r < rounds; ++r) {
            const BatchTime a = Batch(off, exchanges);
            const BatchTime b = Batch(on, exchanges);
            offUs.push_back(a.wall / exchanges * 1e6);
            onUs.push_back(b.wall / exchanges * 1e6);
            ratios.push_back(b.wall / a.wall);
            offCpu += a.cpu;
            onCpu += b.cpu;
        }
        trace.Flush();  // the writer's own CPU is reported apart: it may run during either batch
        const double med = Median(ratios);
        std::printf("    trace off, median:         %8.1f us an exchange\n", Median(offUs));
        std::printf("    trace on, median:          %8.1f us an exchange\n", Median(onUs));
        std::printf("    ratio on/off:              min %.3f  median %.3f  max %.3f\n",
                    *std::min_element(ratios.begin(), ratios.end()), med, *std::max_element(ratios.begin(), ratios.end()));
        std::printf("    CPU an exchange, whole process: off %.1f us, on %.1f us; the trace's writer thread: %.2f us\n",
                    offCpu / (rounds * exchanges) * 1e6, onCpu / (rounds * exchanges) * 1e6,
                    trace.WriterCpuSeconds() / (rounds * exchanges + exchanges / 4 + 1) * 1e6);
        std::printf("    goal median <= %.2f: %s\n", kGoal, med <= kGoal ? "met" : "MISSED");
    }
    std::remove(path);
}

/// Wall and CPU seconds (user and system, from wait4) of one child process.
struct ProcTime {
    double wall = 0, cpu = 0;
};

ProcTime Waited(pid_t pid, Clock::time_point start) {
    int status = 0;
    rusage use{};
    if (wait4(pid, &status, 0, &use) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "link_bench: a child failed (status %d)\n", status);
        std::exit(1);
    }
    const auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
    return {Seconds(Clock::now() - start), secs(use.ru_utime) + secs(use.ru_stime)};
}

/// ternctl replaying `records` register reads from a script file.
ProcTime RunTernctl(const std::string& device, const std::string& script) {
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execl(TERNCTL_PATH, TERNCTL_PATH, "restore", "--single", "--quiet", "--port", device.c_str(), script.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    return Waited(pid, start);
}

/// The plainest client as a process of its own: the handshake, then
/// `exchanges` exchanges.
ProcTime RunReference(const std::string& device, int exchanges) {
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        ReferenceRig ref(device);
        for (int i = 0; i < exchanges; ++i) ref.Exchange(static_cast<std::uint8_t>(i));
        _exit(0);
    }
    return Waited(pid, start);
}

/// Part (p): ternctl as a process against the same external peer as the
/// plainest client as a process. Each runs a short and a long script; the
/// difference of the two is the cost of the extra exchanges alone, so the
/// start-up (loading, the handshake, the first reads) cancels out.
void ProcessLevel(int rounds) {
    constexpr int kShort = 100, kLong = 2100;  // a difference well above a start-up's swing
    constexpr double kGoal = 1.1, kCpuGoal = 1.3;
    std::printf("(p) ternctl as a process against the external peer, next to the plainest client as a process:\n"
                "    %d and %d exchanges, the difference of the two (start-up cancelled), %d rounds interleaved\n",
                kShort, kLong, rounds);
    auto script = [](int records) {
        char path[] = "/tmp/link_bench_script_XXXXXX";
        const int fd = mkstemp(path);
        std::string text;
        for (int i = 0; i < records; ++i) text += "310A01000000000000000000000000\r\n";
        if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::exit(1);
        close(fd);
        return std::string(path);
    };
    const std::string shortScript = script(kShort), longScript = script(kLong);
    Peer peer;
    std::vector<double> ratios, cpuRatios, refUs, toolUs;
    int dropped = 0;
    for (int r = 0; r < rounds; ++r) {
        const ProcTime refShort = RunReference(peer.slave, kShort);
        const ProcTime toolShort = RunTernctl(peer.slave, shortScript);
        const ProcTime refLong = RunReference(peer.slave, kLong);
        const ProcTime toolLong = RunTernctl(peer.slave, longScript);
        const double refWall = refLong.wall - refShort.wall, toolWall = toolLong.wall - toolShort.wall;
        const double refCpu = refLong.cpu - refShort.cpu, toolCpu = toolLong.cpu - toolShort.cpu;
        // A difference that is not positive is the machine's noise, not a
        // measurement: the round is dropped and counted.
        if (refWall <= 0 || toolWall <= 0 || refCpu <= 0 || toolCpu <= 0) {
            ++dropped;
            continue;
        }
        refUs.push_back(refWall / (kLong - kShort) * 1e6);
        toolUs.push_back(toolWall / (kLong - kShort) * 1e6);
        ratios.push_back(toolWall / refWall);
        cpuRatios.push_back(toolCpu / refCpu);
    }
    if (dropped > 0) std::printf("    %d of %d rounds dropped: a difference was not positive (noise)\n", dropped, rounds);
    if (ratios.size() * 2 < static_cast<std::size_t>(rounds)) {
        std::printf("    MISSED: too few rounds measured something; run it on a quieter machine\n");
        std::remove(shortScript.c_str());
        std::remove(longScript.c_str());
        return;
    }
    std::remove(shortScript.c_str());
    std::remove(longScript.c_str());
    const double med = Median(ratios);
    std::printf("    reference, median:         %8.1f us an exchange\n", Median(refUs));
    std::printf("    ternctl, median:           %8.1f us an exchange\n", Median(toolUs));
    std::printf("    time ratio:                min %.3f  median %.3f  max %.3f  (%zu rounds) goal <= %.2f: %s\n",
                *std::min_element(ratios.begin(), ratios.end()), med, *std::max_element(ratios.begin(), ratios.end()),
                ratios.size(), kGoal, med <= kGoal ? "met" : "MISSED");
    const double cpuMed = Median(cpuRatios);
    std::printf("    CPU ratio:                 min %.3f  median %.3f  max %.3f  (%zu rounds) goal <= %.2f: %s\n",
                *std::min_element(cpuRatios.begin(), cpuRatios.end()), cpuMed,
                *std::max_element(cpuRatios.begin(), cpuRatios.end()), cpuRatios.size(), kCpuGoal,
                cpuMed <= kCpuGoal ? "met" : "MISSED");
}

int main(int argc, char** argv) {
    // link_bench [exchanges a batch] [rounds] [a|c|p]: "a" runs parts (a) and (p) only, "c" part (c), "p" part (p).
    // LINK_BENCH_WATCH_THREAD=1 runs the link on the port's own watch thread (the hop) instead.
    const int exchanges = std::max(1, argc > 1 ? std::atoi(argv[1]) : 3000);
    const int rounds = std::max(15, argc > 2 ? std::atoi(argv[2]) : 31);
    if (argc > 3 && std::strcmp(argv[3], "c") == 0) {
        TraceCost(exchanges, rounds);
        return 0;
    }
    if (argc > 3 && std::strcmp(argv[3], "p") == 0) {
        ProcessLevel(std::max(5, argc > 2 ? std::atoi(argv[2]) : 11));
        return 0;
    }
    constexpr double kGoal = 1.1;
    constexpr double kCpuGoal = 1.3;
    std::printf("(a) time per exchange over an unpaced pseudo-terminal, against the external peer\n"
                "    (link_bench_peer): %d rounds of %d exchanges, reference loop and link interleaved (ABAB...)\n",
                rounds, exchanges);
    {
        Peer refPeer, linkPeer;
        ReferenceRig ref(refPeer.slave);
        LinkRig lnk(linkPeer.slave);
        Batch(ref, exchanges / 4 + 1);  // warm both up
        Batch(lnk, exchanges / 4 + 1);
        std::vector<double> ratios, cpuRatios, refUs, linkUs, chainRatios, chainCpuRatios;
        for (int r = 0; r < rounds; ++r) {
            const BatchTime a = Batch(ref, exchanges);
            const BatchTime b = Batch(lnk, exchanges);
            const BatchTime a2 = Batch(ref, exchanges);
            const BatchTime c = ChainBatch(lnk, exchanges);
            refUs.push_back(a.wall / exchanges * 1e6);
            linkUs.push_back(b.wall / exchanges * 1e6);
            ratios.push_back(b.wall / a.wall);
            cpuRatios.push_back(b.cpu / a.cpu);
            chainRatios.push_back(c.wall / a2.wall);
            chainCpuRatios.push_back(c.cpu / a2.cpu);
        }
        if (lnk.replies == 0) {
            std::fprintf(stderr, "link_bench: the link saw no reply: nothing was measured\n");
            std::exit(1);
        }
        auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            const std::size_t n = v.size();
            return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
        };
        const double med = median(ratios);
        std::printf("    reference loop, median:    %8.1f us an exchange\n", median(refUs));
        std::printf("    link, median:              %8.1f us an exchange\n", median(linkUs));
        std::printf("    ratio link/reference:      min %.3f  median %.3f  max %.3f\n",
                    *std::min_element(ratios.begin(), ratios.end()), med,
                    *std::max_element(ratios.begin(), ratios.end()));
        std::printf("    CPU per exchange, link/ref: min %.3f  median %.3f  max %.3f\n",
                    *std::min_element(cpuRatios.begin(), cpuRatios.end()), median(cpuRatios),
                    *std::max_element(cpuRatios.begin(), cpuRatios.end()));
        if (med <= kGoal) {
            std::printf("    goal median <= %.2f: met\n", kGoal);
        } else {
            std::printf("    goal median <= %.2f: MISSED (the link takes %.0f%% longer than the reference)\n", kGoal,
                        (med - 1.0) * 100.0);
        }
        const double cpuMed = median(cpuRatios);
        std::printf("    goal CPU median <= %.2f: %s\n", kCpuGoal, cpuMed <= kCpuGoal ? "met" : "MISSED");
        std::printf("    as a chain (each reply's handler sends the next command, with the ACK in its write):\n");
        std::printf("    ratio chain/reference:     min %.3f  median %.3f  max %.3f  goal <= %.2f: %s\n",
                    *std::min_element(chainRatios.begin(), chainRatios.end()), median(chainRatios),
                    *std::max_element(chainRatios.begin(), chainRatios.end()), kGoal,
                    median(chainRatios) <= kGoal ? "met" : "MISSED");
        std::printf("    CPU chain/reference:       min %.3f  median %.3f  max %.3f  goal <= %.2f: %s\n",
                    *std::min_element(chainCpuRatios.begin(), chainCpuRatios.end()), median(chainCpuRatios),
                    *std::max_element(chainCpuRatios.begin(), chainCpuRatios.end()), kCpuGoal,
                    median(chainCpuRatios) <= kCpuGoal ? "met" : "MISSED");
    }
    ProcessLevel(std::max(5, rounds / 3));

    if (argc > 3 && std::strcmp(argv[3], "a") == 0) return 0;
    TraceCost(exchanges, rounds);
    std::printf("(b) paced at 9600 baud against the line-rate bound (40 bytes x 10 bits an exchange)\n");
    camera::CameraOptions paced;
    paced.baud = 9600;
    char tracePath[] = "/tmp/link_bench_paced_XXXXXX";
    const int traceFd = mkstemp(tracePath);
    if (traceFd < 0) std::exit(1);
    close(traceFd);
    auto trace = std::make_unique<link::LineTrace>(tracePath);
    LinkRig rig(paced, trace.get());
    const double perExchange = 40.0 * 10.0 / 9600.0;
    {
        static const std::uint8_t steps[7][2] = {{0x0A, 0x01}, {0x0A, 0x40}, {0x45, 0}, {0x45, 1}, {0x45, 2}, {0x45, 3}, {0x45, 4}};
        const auto start = Clock::now();
        rig.Chain([](int step, link::Payload& p) {
            if (step >= 7) return 0;
            p[2] = steps[step][0];
            p[3] = steps[step][1];
            return 3;
        });
        const double s = Seconds(Clock::now() - start);
        std::printf("    Setup1 chain, 7 exchanges:  %7.3f s, bound %7.3f s, ratio %.3f (target <= 1.02): %s\n", s, 7 * perExchange,
                    s / (7 * perExchange), s / (7 * perExchange) <= 1.02 ? "met" : "MISSED");
    }
    {
        const auto start = Clock::now();
        rig.Chain([](int step, link::Payload& p) {
            if (step >= 512) return 0;
            p[2] = 0x0C;
            p[3] = static_cast<std::uint8_t>(step >> 8);
            p[4] = static_cast<std::uint8_t>(step & 0xFF);
            return 4;
        });
        const double s = Seconds(Clock::now() - start);
        std::printf("    512 memory-word reads:      %7.3f s, bound %7.3f s, ratio %.3f (target <= 1.02): %s\n", s, 512 * perExchange,
                    s / (512 * perExchange), s / (512 * perExchange) <= 1.02 ? "met" : "MISSED");
        // The trace is written beside its file and renamed over it when it
        // is closed: read only after that.
        rig.comm.SetTrace(nullptr);
        std::string error;
        if (!trace->Close(error)) {
            std::fprintf(stderr, "link_bench: the trace could not be written: %s\n", error.c_str());
            return 1;
        }
        const double own = ToolTime(tracePath, 512);
        const double share = s / (s - own);
        std::printf("    the tool's own time (trace): %7.4f s of the last 512 exchanges; with it %.5f x the line's (goal <= 1.001): %s\n",
                    own, share, share <= 1.001 ? "met" : "MISSED");
    }
    trace.reset();
    std::remove(tracePath);
    return 0;
}
