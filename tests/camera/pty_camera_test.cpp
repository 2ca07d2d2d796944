// The virtual camera on a real pseudo-terminal, seen from the tool's end.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "camera/pty_camera.h"
#include "frames.h"

namespace tern::camera {
namespace {

using namespace test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kDeadline = 10s;

/// The tool's end: opened as the tool's port layer would, and made raw.
class ToolEnd {
public:
    explicit ToolEnd(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        if (fd_ < 0) return;
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~ToolEnd() {
        if (fd_ >= 0) close(fd_);
    }
    bool Ok() const { return fd_ >= 0; }
    void Send(const Bytes& bytes) { ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    /// Reads until `count` bytes have come or the deadline passes.
    Bytes Receive(std::size_t count) {
        Bytes got;
        const auto end = Clock::now() + kDeadline;
        while (got.size() < count && Clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            std::uint8_t buf[256];
            const ssize_t n = read(fd_, buf, std::min(sizeof buf, count - got.size()));
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
    /// Waits for the line to go: end of file or an I/O error on read.
    bool SeesHangUp() {
        const auto end = Clock::now() + kDeadline;
        while (Clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            std::uint8_t b;
            const ssize_t n = read(fd_, &b, 1);
            if (n == 0 || (n < 0 && errno == EIO)) return true;
        }
        return false;
    }

private:
    int fd_;
};

template <class Pred>
bool WaitFor(Pred done) {
    const auto end = Clock::now() + kDeadline;
    while (!done()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

void Exchange(ToolEnd& tool) {
    tool.Send(Bytes{link::ENQ});
    EXPECT_EQ(tool.Receive(1), Bytes{link::ACK});
    tool.Send(Bytes{link::EOT});
    tool.Send(Frame({0x31, 0x0A, 0x01}));
    EXPECT_EQ(tool.Receive(20), AckAndReply(P({0xA0, 0x0A, 0x01, 0x40, 0x00})));
    tool.Send(Bytes{link::ACK});
}

TEST(PtyCamera, AnswersOnTheSlaveDevice) {
    PtyCamera cam;
    cam.Start();
    ASSERT_FALSE(cam.DevicePath().empty());
    ToolEnd tool(cam.DevicePath());
    ASSERT_TRUE(tool.Ok());
    Exchange(tool);
    EXPECT_EQ(cam.WithModel([](CameraModel& m) { return m.CommandsSeen(); }), 1u);
    // ENQ, EOT, the frame and the final ACK in; two ACKs and the reply out.
    EXPECT_TRUE(WaitFor([&] { return cam.Stats().bytesIn == 22u && cam.Stats().bytesOut == 21u; }));
    const CameraStats s = cam.Stats();
    EXPECT_EQ(s.framesReceived, 1u);
    EXPECT_EQ(s.repliesSent, 1u);
}

TEST(PtyCamera, PacedLineStillAnswers) {
    PtyCamera cam(With([](CameraOptions& o) { o.baud = 9600; }));
    cam.Start();
    ToolEnd tool(cam.DevicePath());
    ASSERT_TRUE(tool.Ok());
    Exchange(tool);
}

TEST(PtyCamera, DoesNotHoldTheSlaveOpen) {
    PtyCamera cam;
    cam.Start();
    const std::filesystem::path dev = cam.DevicePath();
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        EXPECT_NE(std::filesystem::read_symlink(fd.path(), ec), dev) << fd.path();
    }
    // A tool that comes, goes and comes back is answered each time.
    for (int i = 0; i < 2; ++i) {
        ToolEnd tool(cam.DevicePath());
        ASSERT_TRUE(tool.Ok());
        Exchange(tool);
    }
}

TEST(PtyCamera, HangUpEndsTheToolsLine) {
    PtyCamera cam;
    cam.Start();
    ToolEnd tool(cam.DevicePath());
    ASSERT_TRUE(tool.Ok());
    Exchange(tool);
    cam.HangUp();
    EXPECT_FALSE(cam.Running());
    EXPECT_TRUE(tool.SeesHangUp());
}

TEST(PtyCamera, StopIsIdempotentAndEndsAPacedTransfer) {
    PtyCamera never;
    never.Stop();
    never.Stop();

    // At 300 bit/s a block takes over half a minute to arrive; Stop does not wait for it.
    PtyCamera cam(With([](CameraOptions& o) { o.baud = 300; }));
    cam.Start();
    ToolEnd tool(cam.DevicePath());
    ASSERT_TRUE(tool.Ok());
    const std::array<std::uint8_t, 1024> data{};
    const link::BlockBytes block = link::BuildBlockFrame(data);
    tool.Send(Bytes(block.begin(), block.end()));
    ASSERT_TRUE(WaitFor([&] { return cam.Stats().bytesIn > 0; }));
    cam.Stop();
    EXPECT_FALSE(cam.Running());
    EXPECT_EQ(cam.WithModel([](CameraModel& m) { return m.Blocks(); }), 0);
    cam.Stop();
}

TEST(PtyCamera, SleepsWhileNoToolHasTheDeviceOpenAndWakesWhenOneOpensIt) {
    PtyCamera cam;
    cam.Start();
    {
        ToolEnd tool(cam.DevicePath());
        ASSERT_TRUE(tool.Ok());
        Exchange(tool);
    }
    // The tool has gone. A camera that looked again every 20 ms would wake
    // ten times in this window; one that waits for the device to be opened
    // wakes at most for the hang-up itself.
    const std::uint64_t before = cam.Stats().wakeups;
    const auto window = Clock::now() + 200ms;
    while (Clock::now() < window) std::this_thread::sleep_for(10ms);
    EXPECT_LE(cam.Stats().wakeups - before, 2u);
    // The next tool is answered at once, and again after it too has gone.
    for (int i = 0; i < 2; ++i) {
        ToolEnd tool(cam.DevicePath());
        ASSERT_TRUE(tool.Ok());
        Exchange(tool);
    }
    cam.Stop();
    EXPECT_FALSE(cam.Running());
}

TEST(PtyCamera, TracesEveryByteEachWay) {
    const std::string path = testing::TempDir() + "camera_trace.txt";
    {
        PtyCamera cam(With([&](CameraOptions& o) { o.tracePath = path; }));
        cam.Start();
        ToolEnd tool(cam.DevicePath());
        ASSERT_TRUE(tool.Ok());
        Exchange(tool);
        cam.Stop();
    }
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const std::string t = text.str();
    // The tool's trace format, directions named after the wire.
    EXPECT_EQ(t.rfind(link::LineTrace::kHeader, 0), 0u) << t;
    EXPECT_NE(t.find(" tool>cam  05\n"), std::string::npos) << t;
    EXPECT_NE(t.find(" tool>cam  = ENQ: connection request\n"), std::string::npos) << t;
    EXPECT_NE(t.find(" cam>tool  06\n"), std::string::npos) << t;
    EXPECT_NE(t.find(" 02 31 0A 01 00"), std::string::npos) << t;
    EXPECT_NE(t.find(" tool>cam  = command: read (31), item 0A DSP register, register 01, check code 431F good\n"),
              std::string::npos)
        << t;
    EXPECT_NE(t.find(" cam>tool  06 02 A0 0A 01 40 00"), std::string::npos) << t;
    EXPECT_NE(t.find(" cam>tool  = reply: status A0 accepted, item 0A DSP register, register 01, value 4000, check code 7F4C good\n"),
              std::string::npos)
        << t;
    std::remove(path.c_str());
}

TEST(PtyCamera, LinkToTheDevice) {
    const std::string link = testing::TempDir() + "ternab_camera_link";
    const std::string file = testing::TempDir() + "ternab_not_a_link";
    std::ofstream(file) << "x";
    std::remove(link.c_str());
    PtyCamera cam;
    cam.Start();
    ASSERT_TRUE(cam.MakeLink(link));
    ASSERT_TRUE(cam.MakeLink(link)) << "an old link is replaced";
    EXPECT_EQ(std::filesystem::read_symlink(link), cam.DevicePath());
    {
        ToolEnd tool(link);
        ASSERT_TRUE(tool.Ok());
        Exchange(tool);
    }
    EXPECT_FALSE(cam.MakeLink(file));
    cam.Stop();
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    EXPECT_TRUE(std::filesystem::exists(file));
    std::remove(file.c_str());
}

}  // namespace
}  // namespace tern::camera
