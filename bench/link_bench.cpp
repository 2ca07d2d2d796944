// Link throughput against the virtual camera.
//  (a) exchanges per second over an unpaced pseudo-terminal, next to a
//      minimal loop that writes the same frames and reads the same answers
//      with plain read/write;
//  (b) the Setup1 load chain (7 exchanges) and 512 memory-word reads over a
//      line paced at 9600 baud, next to the line-rate bound (40 bytes of
//      10 bits an exchange).
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "camera/pty_camera.h"
#include "cli/console_host.h"
#include "link/codec.h"
#include "link/comm.h"
#include "link/event_loop.h"

using namespace tern;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct LinkRig {
    explicit LinkRig(camera::CameraOptions o) : cam(o), host(loop, comm) {
        cam.Start();
        link::SetPortDevice(1, cam.DevicePath());
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

link::Payload ReadRegister(std::uint8_t reg) {
    link::Payload p;
    p[1] = 0x31;
    p[2] = 0x0A;
    p[3] = reg;
    return p;
}

/// The reference: plain blocking read/write of the same bytes.
double ReferenceRate(int exchanges) {
    camera::CameraOptions o;
    camera::PtyCamera cam(o);
    cam.Start();
    const int fd = open(cam.DevicePath().c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    auto readN = [&](std::uint8_t* buf, std::size_t n) {
        std::size_t got = 0;
        while (got < n) {
            const ssize_t r = read(fd, buf + got, n - got);
            if (r <= 0) return;
            got += static_cast<std::size_t>(r);
        }
    };
    std::uint8_t b = link::ENQ;
    write(fd, &b, 1);
    readN(&b, 1);
    std::uint8_t answer[20];
    const auto start = Clock::now();
    for (int i = 0; i < exchanges; ++i) {
        const auto frame = link::BuildStxFrame(ReadRegister(static_cast<std::uint8_t>(i)), 3);
        write(fd, frame.data(), frame.size());
        readN(answer, 20);  // ACK and the reply frame
        b = link::ACK;
        write(fd, &b, 1);
    }
    const double s = Seconds(Clock::now() - start);
    close(fd);
    cam.Stop();
    return exchanges / s;
}

double LinkRate(int exchanges) {
    LinkRig rig{camera::CameraOptions{}};
    const auto start = Clock::now();
    for (int i = 0; i < exchanges; ++i) rig.Exchange(ReadRegister(static_cast<std::uint8_t>(i)), 3);
    return exchanges / Seconds(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
    const int exchanges = argc > 1 ? std::atoi(argv[1]) : 2000;
    std::printf("(a) exchanges per second over an unpaced pseudo-terminal (%d exchanges)\n", exchanges);
    const double ref = ReferenceRate(exchanges);
    const double got = LinkRate(exchanges);
    std::printf("    reference read/write loop: %10.0f /s\n", ref);
    std::printf("    link:                      %10.0f /s\n", got);
    std::printf("    ratio reference/link:      %10.3f (target <= 1.3)\n", ref / got);

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
