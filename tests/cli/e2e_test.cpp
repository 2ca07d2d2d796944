// The link against the virtual camera over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <algorithm>
#include <thread>
#include <mutex>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "camera/pty_camera.h"
#include "cli/console_host.h"
#include "link/comm.h"
#include "link/event_loop.h"
#include "link/pty_util.h"

using namespace tern;
using namespace std::chrono_literals;

namespace {

struct Rig {
    /// The port read by a watch thread of its own, or (`onTheEventLoop`) as
    /// ternctl reads it, by the event loop watching its descriptor.
    explicit Rig(camera::CameraOptions options = {}, bool onTheEventLoop = false) : cam(options), host(loop, comm) {
        cam.Start();
        comm.SetPortDevice(1, cam.DevicePath());
        comm.SetPortDevice(2, "/nonexistent/ternab-com2");
        comm.SetReceiveNotifySize(7168);
        comm.SetSendNotifySize(8192);
        if (onTheEventLoop) {
            comm.SetNotifier(&loop);
            comm.OnCommReceive = [this](link::TComm& c, std::uint16_t n) {
                ++readies;
                host.Link().OnCommReceive(c, n);
            };
        } else {
            comm.OnCommReceive = [this](link::TComm& c, std::uint16_t n) { host.Link().OnCommReceiveWatchThread(c, n); };
        }
        host.quiet = true;
    }
    ~Rig() {
        host.Link().Close();
        cam.Stop();
    }
    bool Connect() {
        host.Link().Trans_Create();
        return loop.RunUntil([&] { return host.chainsCompleted > 0; }, 10s);
    }
    /// Sends one command when idle and waits for its reply.
    bool Exchange(const link::Payload& p, int n) {
        const int before = replies;
        host.onReply = [this] { ++replies; };
        if (!host.Link().Trans_chk()) return false;
        host.Link().StxCommand(p, n);
        return loop.RunUntil([&] { return replies > before; }, 10s);
    }
    link::EventLoop loop;
    camera::PtyCamera cam;
    link::TComm comm;
    cli::ConsoleHost host;
    int replies = 0;
    int readies = 0;  ///< on the event loop: the times the port had something for the link
};

link::Payload P(std::initializer_list<std::uint8_t> bytes) {
    link::Payload p;
    int i = 1;
    for (auto b : bytes) p[i++] = b;
    return p;
}

}  // namespace

TEST(EndToEnd, ConnectsAndReadsResolutionAndStandard) {
    for (bool pal : {false, true}) {
        camera::CameraOptions o;
        o.pal = pal;
        o.highResolution = !pal;
        Rig rig(o);
        ASSERT_TRUE(rig.Connect());
        EXPECT_EQ(rig.host.resolutionText, pal ? "Lo-Resolution" : "Hi-Resolution");
        EXPECT_EQ(rig.host.tvText, pal ? "PAL" : "NTSC");
        EXPECT_TRUE(rig.host.pageControlEnabled);
        EXPECT_EQ(rig.host.Link().Mode(), link::LinkMode::Idle);
        EXPECT_TRUE(rig.host.messages.empty());
    }
}

TEST(EndToEnd, WritesReachTheCameraAndReadBack) {
    Rig rig;
    ASSERT_TRUE(rig.Connect());
    ASSERT_TRUE(rig.Exchange(P({0x21, 0x0B, 0x23, 0x01, 0x80}), 5));
    ASSERT_TRUE(rig.Exchange(P({0x31, 0x0A, 0x23}), 3));
    EXPECT_EQ(rig.host.Link().Recv(1), 0xA0);
    EXPECT_EQ(rig.host.Link().Recv(4), 0x01);
    EXPECT_EQ(rig.host.Link().Recv(5), 0x80);
    // Every byte value, the control bytes included, travels inside a frame.
    for (int v = 0; v < 256; v += 1) {
        const auto hi = static_cast<std::uint8_t>(v);
        const auto lo = static_cast<std::uint8_t>(255 - v);
        ASSERT_TRUE(rig.Exchange(P({0x21, 0x0C, 0x00, 0x42, hi, lo}), 6)) << v;
        ASSERT_TRUE(rig.Exchange(P({0x31, 0x0C, 0x00, 0x42}), 4)) << v;
        ASSERT_EQ(rig.host.Link().Recv(5), hi) << v;
        ASSERT_EQ(rig.host.Link().Recv(6), lo) << v;
    }
}

TEST(EndToEnd, CorruptedRepliesAreNakedAndReceivedAgain) {
    camera::CameraOptions o;
    o.corruptEvery = 3;
    Rig rig(o);
    ASSERT_TRUE(rig.Connect());
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(rig.Exchange(P({0x31, 0x0A, static_cast<std::uint8_t>(i)}), 3)) << i;
        EXPECT_EQ(rig.host.Link().Recv(3), i);
    }
    EXPECT_TRUE(rig.host.messages.empty());
}

// At 9600 baud the camera's bytes come one at a time. On the event loop the
// link is woken for the ACK and for the reply frame once it is whole, not for
// each byte of it; a damaged reply is still NAKed and read again.
TEST(EndToEnd, APacedReplyWakesTheLinkForTheAckAndTheWholeFrameOnly) {
    camera::CameraOptions o;
    o.baud = 9600;
    o.corruptEvery = 4;
    Rig rig(o, true);
    ASSERT_TRUE(rig.Connect());
    rig.readies = 0;
    const auto repliesBefore = rig.cam.PeerStatistics().repliesSent + rig.cam.PeerStatistics().repliesResent;
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(rig.Exchange(P({0x31, 0x0A, static_cast<std::uint8_t>(i)}), 3)) << i;
        EXPECT_EQ(rig.host.Link().Recv(3), i);
    }
    EXPECT_TRUE(rig.host.messages.empty());
    const auto stats = rig.cam.PeerStatistics();
    EXPECT_GE(stats.naksReceived, 2u);
    const auto frames = stats.repliesSent + stats.repliesResent - repliesBefore;
    // Byte by byte it would be 20 a reply.
    EXPECT_LE(rig.readies, static_cast<int>(2 * frames)) << frames << " reply frames";
}

// A reply cut short on the line leaves the port waiting for bytes that never
// come: the reply watch sends the command again, and its answer is read
// afresh, not as the rest of the broken frame; the exchange ends well.
TEST(EndToEnd, APacedReplyCutShortIsAskedForAgainAndReadWhole) {
    camera::CameraOptions o;
    o.baud = 9600;
    o.cutReplies = {3};  // after the handshake's two reads: our first command's
    Rig rig(o, true);
    ASSERT_TRUE(rig.Connect());
    const int before = rig.replies;
    rig.host.onReply = [&] { ++rig.replies; };
    rig.host.Link().StxCommand(P({0x31, 0x0A, 0x23}), 3);
    for (int t = 0; t < 3 * (link::kReplyTicks + 1) && rig.host.Link().LinkBusy(); ++t) {
        rig.loop.RunUntil([&] { return !rig.host.Link().LinkBusy(); }, 100ms);  // a tick's pace; ends early
        rig.host.Link().SendTimerTimer();
    }
    EXPECT_FALSE(rig.host.Link().LinkBusy());
    EXPECT_EQ(rig.replies, before + 1);
    EXPECT_EQ(rig.host.Link().Recv(3), 0x23);
    for (const auto& m : rig.host.messages) EXPECT_EQ(m.first, link::kMsgRecvErr);
    ASSERT_TRUE(rig.Exchange(P({0x31, 0x0A, 0x24}), 3));
    EXPECT_EQ(rig.host.Link().Recv(3), 0x24);
}

// The camera NAKs a command (it came damaged); the reply watch sends it
// again; the ACK to the repeat is lost and its first reply damaged and NAKed,
// the copy good. The exchange has ended well: no give-up however long the
// line stays quiet.
TEST(EndToEnd, NakedCommandAndDamagedReplyToItsRepeatEndWell) {
    camera::CameraOptions o;
    o.nakFrames = {3};       // after the handshake's two reads: our command
    o.dropAcks = {4};        // its repeat
    o.corruptReplies = {3};  // the reply to the repeat
    Rig rig(o);
    ASSERT_TRUE(rig.Connect());
    int replies = 0;
    rig.host.onReply = [&] { ++replies; };
    rig.host.Link().StxCommand(P({0x31, 0x0A, 0x23}), 3);
    ASSERT_TRUE(rig.loop.RunUntil([&] { return rig.cam.PeerStatistics().naksSent == 1; }, 10s));
    for (int t = 0; t < link::kReplyTicks + 1; ++t) rig.host.Link().SendTimerTimer();
    ASSERT_TRUE(rig.loop.RunUntil([&] { return replies == 1; }, 10s));
    EXPECT_EQ(rig.cam.PeerStatistics().naksReceived, 1u);
    for (int t = 0; t < 3 * (link::kReplyTicks + 1); ++t) rig.host.Link().SendTimerTimer();
    EXPECT_TRUE(rig.host.messages.empty());
    ASSERT_TRUE(rig.Exchange(P({0x31, 0x0A, 0x24}), 3));
    EXPECT_EQ(rig.host.Link().Recv(3), 0x24);
}

TEST(EndToEnd, DroppedReplyIsRecoveredByTheReplyWatch) {
    camera::CameraOptions o;
    o.dropEvery = 4;  // the 4th reply frame (after the handshake's two reads: the second of ours) is lost
    Rig rig(o);
    ASSERT_TRUE(rig.Connect());
    int recovered = 0;
    for (int i = 0; i < 4; ++i) {
        const int before = rig.replies;
        rig.host.onReply = [&] { ++rig.replies; };
        rig.host.Link().StxCommand(P({0x31, 0x0A, static_cast<std::uint8_t>(0x30 + i)}), 3);
        if (!rig.loop.RunUntil([&] { return rig.replies > before; }, 2s)) {
            // The reply is late: play the reply watch's 21 ticks at once.
            for (int t = 0; t < 21; ++t) rig.host.Link().SendTimerTimer();
            ASSERT_TRUE(rig.loop.RunUntil([&] { return rig.replies > before; }, 10s)) << i;
            ++recovered;
        }
        EXPECT_EQ(rig.host.Link().Recv(3), 0x30 + i);
    }
    EXPECT_EQ(recovered, 1);
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST(EndToEnd, VanishingCameraIsReportedOnce) {
    Rig rig;
    std::atomic<int> lost{0};
    rig.comm.OnCommLost = [&](link::TComm&, const std::string&) { ++lost; };
    ASSERT_TRUE(rig.Connect());
    rig.cam.HangUp();
    ASSERT_TRUE(rig.loop.RunUntil([&] { return lost.load() > 0; }, 10s));
    rig.host.Link().Close();
    EXPECT_EQ(lost.load(), 1);
}

namespace {
/// A peer on the master side of a pty that reads everything in a thread of
/// its own once told to, keeping what it read.
class ReadingPeer {
public:
    explicit ReadingPeer(const test::Pty& pty) : pty_(pty) {}
    ~ReadingPeer() { StopReading(); }
    void StartReading() {
        stop_ = false;
        thread_ = std::thread([this] {
            while (!stop_.load()) {
                const auto got = test::Pty::ReadFor(pty_.Master(), 4096, 20);
                std::lock_guard lk(m_);
                seen_.insert(seen_.end(), got.begin(), got.end());
            }
        });
    }
    void StopReading() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    /// What has been read so far ends with `tail`.
    bool EndsWith(const std::vector<std::uint8_t>& tail) {
        std::lock_guard lk(m_);
        return seen_.size() >= tail.size() && std::equal(tail.begin(), tail.end(), seen_.end() - static_cast<long>(tail.size()));
    }

private:
    const test::Pty& pty_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex m_;
    std::vector<std::uint8_t> seen_;
};

std::vector<std::uint8_t> FrameOf(const link::Payload& p, int n) {
    const link::FrameBytes f = link::BuildStxFrame(p, n);
    return {f.begin(), f.end()};
}
}  // namespace

TEST(EndToEnd, StalledWriteDoesNotWedgeTheLink) {
    test::Pty pty;
    link::EventLoop loop;
    link::TComm comm(link::PortDevices{pty.SlavePath(), "/nonexistent/ternab-com2"});
    cli::ConsoleHost host(loop, comm);
    host.quiet = true;
    host.chain = [](int, link::Payload&) { return 0; };  // nothing to read at start
    int replies = 0;
    host.onReply = [&] { ++replies; };
    comm.OnCommReceive = [&host](link::TComm& c, std::uint16_t n) { host.Link().OnCommReceiveWatchThread(c, n); };
    host.Link().Trans_Create();
    ASSERT_EQ(pty.Read(1), std::vector<std::uint8_t>{link::ENQ});
    pty.Write({link::ACK});
    ASSERT_TRUE(loop.RunUntil([&] { return host.chainsCompleted > 0; }, 10s));
    ASSERT_EQ(pty.Read(1), std::vector<std::uint8_t>{link::EOT});

    // The camera stops reading: the line fills until a write makes no
    // progress, in ever smaller pieces, so that not one byte more fits.
    const std::vector<std::uint8_t> filler(4096, 0x00);
    for (const std::uint32_t piece : {4096u, 64u, 1u}) {
        bool stalled = false;
        for (int i = 0; i < 100000 && !stalled; ++i) {
            try {
                comm.Write(filler.data(), piece);
            } catch (const link::ECommReadWriteError&) {
                stalled = true;
            }
        }
        ASSERT_TRUE(stalled) << piece;
    }
    link::Payload read1;
    read1[1] = 0x31;
    read1[2] = 0x0A;
    read1[3] = 0x01;
    EXPECT_THROW(host.Link().StxCommand(read1, 3), link::ECommReadWriteError);
    EXPECT_TRUE(host.Link().LinkBusy());

    // The camera reads again; the reply watch repeats the frame.
    ReadingPeer peer(pty);
    peer.StartReading();
    for (int t = 0; t < link::kReplyTicks + 1; ++t) host.Link().SendTimerTimer();
    ASSERT_TRUE(test::WaitFor([&] { return peer.EndsWith(FrameOf(read1, 3)); }, 10000));
    link::Payload answer;
    answer[1] = 0xA0;
    answer[2] = 0x0A;
    answer[3] = 0x01;
    answer[4] = 0x40;
    pty.Write({link::ACK});
    pty.Write(FrameOf(answer, 4));
    ASSERT_TRUE(loop.RunUntil([&] { return replies == 1; }, 10s));
    EXPECT_EQ(host.Link().Recv(4), 0x40);
    EXPECT_FALSE(host.Link().LinkBusy());
    EXPECT_TRUE(host.messages.empty());

    // And the next command goes out.
    link::Payload read64 = read1;
    read64[3] = 0x40;
    ASSERT_TRUE(host.Link().Trans_chk());
    host.Link().StxCommand(read64, 3);
    EXPECT_TRUE(test::WaitFor([&] { return peer.EndsWith(FrameOf(read64, 3)); }, 10000));
    peer.StopReading();
    host.Link().Close();
}

#ifdef TERNCTL_PATH
namespace {
/// Runs a shell command; its output (stdout and what it redirects) goes to `out`.
int RunCommand(const std::string& cmd, std::string& out) {
    FILE* f = popen(cmd.c_str(), "r");
    if (f == nullptr) return -1;
    char buf[256];
    while (fgets(buf, sizeof buf, f)) out += buf;
    return pclose(f);
}
}  // namespace

TEST(Ternctl, ProbePrintsResolutionAndStandard) {
    camera::CameraOptions o;
    o.pal = true;
    camera::PtyCamera cam(o);
    cam.Start();
    const std::string cmd = std::string(TERNCTL_PATH) + " probe --port " + cam.DevicePath() + " 2>&1";
    std::string out;
    const int rc = RunCommand(cmd, out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(out, "Hi-Resolution\nPAL\n");
    cam.Stop();
}

TEST(Ternctl, ProbeWithoutCameraGivesUp) {
    // No device at all: each opening fails and is shown, three ticks, then the message.
    const std::string cmd = std::string(TERNCTL_PATH) + " probe --port /nonexistent/ternab-com1 --port2 /nonexistent/ternab-com2 2>&1";
    std::string out;
    const int rc = RunCommand(cmd, out);
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find(" Serial Port not connected "), std::string::npos) << out;
    EXPECT_NE(out.find("オープンエラー ErrorCode = -1"), std::string::npos) << out;
}

TEST(Ternctl, ProbeRefusesAMissingOrEmptyDevice) {
    std::string out;
    int rc = RunCommand(std::string(TERNCTL_PATH) + " probe --port 2>&1", out);
    EXPECT_EQ(WEXITSTATUS(rc), 2);
    EXPECT_NE(out.find("--port needs a value"), std::string::npos) << out;
    EXPECT_EQ(out.find("unknown argument"), std::string::npos) << out;
    out.clear();
    rc = RunCommand(std::string(TERNCTL_PATH) + " probe --port '' 2>&1", out);
    EXPECT_EQ(WEXITSTATUS(rc), 2);
    EXPECT_NE(out.find("the device name is empty"), std::string::npos) << out;
}
// A camera whose every reply fails its check code, the copies sent again
// included: after five NAKs the exchange is over; the copy command ends with
// the give-up on stderr and a failure, the settings file untouched.
TEST(Ternctl, CopyCommandsEndWhenEveryReplyFailsItsCheck) {
    camera::CameraOptions o;
    o.corruptAll = true;
    camera::PtyCamera cam(o);
    cam.Start();
    char dir[] = "/tmp/ternab-naks-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/cam.dat";
    {
        FILE* f = std::fopen(file.c_str(), "w");
        std::fputs("kept\r\n", f);
        std::fclose(f);
    }
    for (const std::string& cmd : {std::string("backup"), std::string("diff")}) {
        std::string out;
        const std::string line =
            "timeout 60 " + std::string(TERNCTL_PATH) + " " + cmd + " --quiet --port " + cam.DevicePath() + " " + file + " 2>&1";
        const int rc = RunCommand(line, out);
        EXPECT_TRUE(WIFEXITED(rc)) << cmd << ": " << out;
        EXPECT_NE(WEXITSTATUS(rc), 0) << cmd << ": " << out;
        EXPECT_NE(WEXITSTATUS(rc), 124) << cmd << " hung: " << out;
    }
    std::string kept;
    RunCommand("cat " + file, kept);
    EXPECT_EQ(kept, "kept\r\n");
    // Five NAKs for the first read, none for the copies that came after the bound.
    EXPECT_LE(cam.PeerStatistics().naksReceived, 2u * link::kMaxNaksPerExchange);
    cam.Stop();
    std::system(("rm -rf " + std::string(dir)).c_str());
}

// Only the device named is opened: COM2 is not the built-in /dev/ttyS1.
TEST(Ternctl, ProbeOpensOnlyTheNamedDevice) {
    std::string out;
    const int rc = RunCommand(std::string(TERNCTL_PATH) + " probe --port /nonexistent/ternab-named 2>&1", out);
    EXPECT_NE(rc, 0);
    EXPECT_NE(out.find("/nonexistent/ternab-named"), std::string::npos) << out;
    EXPECT_EQ(out.find("/dev/ttyS1"), std::string::npos) << out;
}
#endif
