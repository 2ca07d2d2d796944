// A session against the virtual camera over a pseudo-terminal, read from the
// camera's side of the line.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/console_host.h"
#include "camera/pty_camera.h"
#include "link/comm.h"
#include "link/event_loop.h"
#include "pty_util.h"

using namespace tern;
using namespace std::chrono_literals;

namespace {

TEST(SessionOnTheLine, LastAckOfACopyReachesTheCameraWhenThePortClosesAtOnce) {
    // A copy reads words one exchange at a time and closes the port as soon
    // as its last reply is in: that reply's ACK still reaches the camera.
    camera::PtyCamera cam;
    cam.Start();
    link::EventLoop loop;
    link::TComm comm;
    comm.SetPortDevice(1, cam.DevicePath());
    comm.SetNotifier(&loop);
    cli::ConsoleHost host(loop, comm);
    host.quiet = true;
    host.Session().WirePort(comm);
    constexpr int kWords = 3;
    host.chain = [](int step, link::Payload& p) {
        if (step >= kWords) return 0;
        p[2] = link::kItemMemory;
        p[3] = 0x00;
        p[4] = static_cast<std::uint8_t>(step);
        return 4;
    };
    int replies = 0;
    host.onReply = [&] {
        if (++replies == kWords) host.Session().Close();  // inside the reply's handling, as the copy does
    };
    host.Session().Connect();
    ASSERT_TRUE(loop.RunUntil([&] { return replies == kWords; }, 10s));
    // ENQ, EOT, then each word's command frame and the ACK of its reply.
    constexpr std::uint64_t kExpected = 1 + 1 + kWords * (link::kCmdFrameSize + 1);
    EXPECT_TRUE(test::WaitFor([&] { return cam.Stats().bytesIn >= kExpected; }, 3000));
    EXPECT_EQ(cam.Stats().bytesIn, kExpected);
    EXPECT_EQ(cam.Stats().repliesSent, static_cast<std::uint64_t>(kWords));
}

TEST(SessionOnTheLine, ACameraThatMissesTheFirstEnqIsFoundAtTheNextOpening) {
    // A camera still powering up lets the first ENQ pass; the port is
    // opened again on the next tick, and that opening asks again.
    test::Pty pty;
    link::EventLoop loop;
    link::TComm comm(link::PortDevices{pty.SlavePath(), pty.SlavePath()});
    comm.SetNotifier(&loop);
    cli::ConsoleHost host(loop, comm);
    host.quiet = true;
    host.Session().WirePort(comm);
    host.chain = [](int, link::Payload&) { return 0; };
    int enqs = 0;
    const auto camera = [&] {
        std::uint8_t b;
        for (;;) {
            const ssize_t n = ::read(pty.Master(), &b, 1);
            if (n != 1) break;
            if (b == link::ENQ && ++enqs == 2) test::Pty::WriteAll(pty.Master(), &link::ACK, 1);
        }
        return host.Link().EverConnected() || host.terminated;
    };
    ::fcntl(pty.Master(), F_SETFL, ::fcntl(pty.Master(), F_GETFL) | O_NONBLOCK);
    host.Session().Connect();
    ASSERT_TRUE(loop.RunUntil(camera, 20s));
    EXPECT_TRUE(host.Link().EverConnected());
    EXPECT_FALSE(host.terminated);
    EXPECT_EQ(enqs, 2);
    host.Session().Close();
}

}  // namespace
