// Link throughput against the virtual camera.
//  (a) time per exchange over an unpaced pseudo-terminal, next to a minimal
//      loop that writes the same frames and reads the same answers with plain
//      read/write. The machine's speed swings from second to second, so the
//      two run interleaved, batch against batch (reference, link, reference,
//      link ...), and the ratio of each pair is reported as min / median / max;
//      the median is held against the goal;
//  (c) the same link with the line trace on, against it with the trace off,
//      interleaved batch against batch (off, on, off, on ...): the median
//      ratio says what the trace costs the link;
//  (b) the Setup1 load chain (7 exchanges) and 512 memory-word reads over a
//      line paced at 9600 baud, next to the line-rate bound (40 bytes of
//      10 bits an exchange).
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
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

struct LinkRig {
    explicit LinkRig(camera::CameraOptions o, link::LineTrace* trace = nullptr) : cam(o), host(loop, comm) {
        cam.Start();
        comm.SetTrace(trace);
        comm.SetPortDevice(1, cam.DevicePath());
        comm.SetReceiveNotifySize(7168);
        comm.SetSendNotifySize(8192);
        comm.OnCommReceive = [this](link::TComm& c, std::uint16_t n) { host.Link().OnCommReceiveWatchThread(c, n); };
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
        cam.Stop();
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
    camera::PtyCamera cam;
    link::TComm comm;
    cli::ConsoleHost host;
    long replies = 0;
};

/// The reference: plain blocking read/write of the same bytes.
struct ReferenceRig {
    ReferenceRig() : cam(camera::CameraOptions{}) {
        cam.Start();
        fd = open(cam.DevicePath().c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        std::uint8_t b = link::ENQ;
        if (write(fd, &b, 1) != 1) std::exit(1);
        ReadN(&b, 1);
    }
    ~ReferenceRig() {
        close(fd);
        cam.Stop();
    }
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
        std::uint8_t answer[20];
        ReadN(answer, 20);  // ACK and the reply frame
        const std::uint8_t b = link::ACK;
        if (write(fd, &b, 1) != 1) std::exit(1);
    }
    camera::PtyCamera cam;
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

}  // namespace

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

int main(int argc, char** argv) {
    // link_bench [exchanges a batch] [rounds] [a|c]: "a" runs part (a) only, "c" part (c) only.
    const int exchanges = std::max(1, argc > 1 ? std::atoi(argv[1]) : 500);
    const int rounds = std::max(15, argc > 2 ? std::atoi(argv[2]) : 31);
    if (argc > 3 && std::strcmp(argv[3], "c") == 0) {
        TraceCost(exchanges, rounds);
        return 0;
    }
    constexpr double kGoal = 1.1;
    std::printf("(a) time per exchange over an unpaced pseudo-terminal: %d rounds of %d exchanges,\n"
                "    reference loop and link interleaved (ABAB...)\n",
                rounds, exchanges);
    {
        ReferenceRig ref;
        LinkRig lnk{camera::CameraOptions{}};
        Batch(ref, exchanges / 4 + 1);  // warm both up
        Batch(lnk, exchanges / 4 + 1);
        std::vector<double> ratios, cpuRatios, refUs, linkUs;
        for (int r = 0; r < rounds; ++r) {
            const BatchTime a = Batch(ref, exchanges);
            const BatchTime b = Batch(lnk, exchanges);
            refUs.push_back(a.wall / exchanges * 1e6);
            linkUs.push_back(b.wall / exchanges * 1e6);
            ratios.push_back(b.wall / a.wall);
            cpuRatios.push_back(b.cpu / a.cpu);
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
    }

    if (argc > 3 && std::strcmp(argv[3], "a") == 0) return 0;
    TraceCost(exchanges, rounds);
    std::printf("(b) paced at 9600 baud against the line-rate bound (40 bytes x 10 bits an exchange)\n");
    camera::CameraOptions paced;
    paced.baud = 9600;
    LinkRig rig(paced);
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
        std::printf("    Setup1 chain, 7 exchanges:  %7.3f s, bound %7.3f s, ratio %.3f (target <= 1.02)\n", s, 7 * perExchange, s / (7 * perExchange));
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
        std::printf("    512 memory-word reads:      %7.3f s, bound %7.3f s, ratio %.3f (target <= 1.02)\n", s, 512 * perExchange, s / (512 * perExchange));
    }
    return 0;
}
