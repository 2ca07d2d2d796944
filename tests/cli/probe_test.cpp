// ternctl probe's end: with the answer, or with the link's give-up message
// when the camera stops answering after the handshake. The reply watch's
// ticks are played by calling the tick handler.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/console_host.h"
#include "cli/probe.h"
#include "link/event_loop.h"
#include "link/fake_port.h"

using namespace tern;
using tern::test::FakePort;

namespace {

std::vector<std::uint8_t> RegisterReply(std::uint8_t reg, std::uint16_t value) {
    link::Payload p;
    p[1] = 0xA0;
    p[2] = 0x0A;
    p[3] = reg;
    p[4] = static_cast<std::uint8_t>(value >> 8);
    p[5] = static_cast<std::uint8_t>(value & 0xFF);
    // A reply frame is laid out as a command frame.
    const link::FrameBytes f = link::BuildStxFrame(p, 5);
    return {f.begin(), f.end()};
}

class ProbeTest : public ::testing::Test {
protected:
    ProbeTest() : host(loop, port) { host.quiet = true; }

    void Feed(const std::vector<std::uint8_t>& bytes) { host.Link().Comm1CommReceive(bytes); }
    void Connect() {
        host.Link().Trans_Create();
        Feed({link::ACK});
        ASSERT_EQ(host.LoadStep(), 1);  // the first read is out
    }
    /// Plays SendTimer ticks until the probe is over; returns how many it took.
    int TicksUntilOver(int limit) {
        for (int i = 1; i <= limit; ++i) {
            host.Link().SendTimerTimer();
            if (cli::ProbeOver(host)) return i;
        }
        return -1;
    }
    int Report() { return cli::ProbeReport(host, out, err); }

    link::EventLoop loop;
    FakePort port;
    cli::ConsoleHost host;
    std::ostringstream out, err;
};

TEST_F(ProbeTest, AnsweredProbePrintsResolutionAndStandard) {
    Connect();
    EXPECT_FALSE(cli::ProbeOver(host));
    Feed({link::ACK});
    Feed(RegisterReply(0x01, 0x4000));
    Feed({link::ACK});
    Feed(RegisterReply(0x40, 0x0001));
    ASSERT_TRUE(cli::ProbeOver(host));
    EXPECT_EQ(Report(), 0);
    EXPECT_EQ(out.str(), "Hi-Resolution\nPAL\n");
    EXPECT_EQ(err.str(), "");
}

TEST_F(ProbeTest, CameraSilentAfterTheHandshakeEndsWithTheGiveUpWithinTheWatch) {
    Connect();
    // The reply watch: late on the 21st tick, the message on the second late answer.
    EXPECT_EQ(TicksUntilOver(1000), (link::kReplyTicks + 1) * link::kReplyRetries);
    EXPECT_EQ(Report(), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find(link::kMsgNotConnected), std::string::npos) << err.str();
}

// A camera that answers ENQ on a line whose DSR is off: the read never
// starts, so the command ends at the DR OFF message instead of waiting.
TEST_F(ProbeTest, DsrOffAfterTheHandshakeEndsTheCommand) {
    port.dsr = false;
    host.Link().Trans_Create();
    Feed({link::ACK});
    ASSERT_TRUE(cli::ProbeOver(host));
    EXPECT_EQ(Report(), 1);
    ASSERT_FALSE(host.messages.empty());
    EXPECT_EQ(host.messages.back().first, link::kMsgDrOff);
}

TEST_F(ProbeTest, CameraThatStopsAfterTheFirstReplyEndsToo) {
    Connect();
    Feed({link::ACK});
    Feed(RegisterReply(0x01, 0x4000));
    Feed({link::ACK});  // takes the second read, then says nothing more
    EXPECT_EQ(TicksUntilOver(1000), (link::kReplyTicks + 1) * link::kReplyRetries);
    EXPECT_EQ(Report(), 1);
    EXPECT_NE(err.str().find(link::kMsgNotConnected), std::string::npos);
}

TEST_F(ProbeTest, CameraGoneWithRefusedWritesEndsTooAndSaysWhy) {
    Connect();
    port.refuseWrites = true;  // the device went away under the link
    // The late answer's repeat is refused; it is written again on the next
    // ticks, and after the bound the exchange ends with the give-up.
    EXPECT_EQ(TicksUntilOver(1000), link::kReplyTicks + 1 + link::kMaxWriteRetries);
    EXPECT_EQ(Report(), 1);
    EXPECT_NE(err.str().find("ErrorCode = 5"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find(link::kMsgNotConnected), std::string::npos) << err.str();
}

TEST_F(ProbeTest, NoCameraAtStartEndsAfterThreeTicks) {
    host.Link().Trans_Create();
    EXPECT_EQ(TicksUntilOver(100), 3);
    EXPECT_EQ(Report(), 1);
    EXPECT_NE(err.str().find(link::kMsgNotConnected), std::string::npos);
}

TEST(ProbeArgs, DevicesMissingValuesAndEmptyNames) {
    cli::ProbeOptions o;
    EXPECT_EQ(cli::ParseProbeArgs({"--port", "/dev/pts/3", "--port2", "/dev/ttyUSB1"}, o), "");
    EXPECT_EQ(o.port1, "/dev/pts/3");
    EXPECT_EQ(o.port2, "/dev/ttyUSB1");

    cli::ProbeOptions none;
    EXPECT_EQ(cli::ParseProbeArgs({}, none), "");
    EXPECT_TRUE(none.port1.empty());

    EXPECT_EQ(cli::ParseProbeArgs({"--port"}, o), "--port needs a value");
    EXPECT_EQ(cli::ParseProbeArgs({"--port", "--port2", "x"}, o), "--port: expected a device name, got the option '--port2'");
    EXPECT_EQ(cli::ParseProbeArgs({"--port2"}, o), "--port2 needs a value");
    EXPECT_EQ(cli::ParseProbeArgs({"--port", ""}, o), "--port: the device name is empty");
    EXPECT_EQ(cli::ParseProbeArgs({"--port2", ""}, o), "--port2: the device name is empty");
    EXPECT_EQ(cli::ParseProbeArgs({"--baud", "9600"}, o), "unknown argument '--baud'");

    cli::ProbeOptions traced;
    EXPECT_EQ(cli::ParseProbeArgs({"--port", "auto", "--trace", "/tmp/line.txt"}, traced), "");
    EXPECT_EQ(traced.port1, "auto");
    EXPECT_EQ(traced.trace, "/tmp/line.txt");
    EXPECT_EQ(cli::ParseProbeArgs({"--trace"}, o), "--trace needs a value");
    EXPECT_EQ(cli::ParseProbeArgs({"--trace", ""}, o), "--trace: the file name is empty");
    EXPECT_EQ(cli::ParseProbeArgs({"--port=/dev/pts/9"}, traced), "");
    EXPECT_EQ(traced.port1, "/dev/pts/9");
}

TEST_F(ProbeTest, TheSameOpenErrorAtEachAttemptIsPrintedOnce) {
    port.failOpen = true;
    host.Link().Trans_Create();
    // The ticks as the host's timer runs them: an exception is shown.
    for (int i = 0; i < 3; ++i) cli::RunShowingErrors(host, [&] { host.Link().SendTimerTimer(); });
    ASSERT_TRUE(cli::ProbeOver(host));
    ASSERT_EQ(host.messages.size(), 4u) << "three open errors and the give-up";
    EXPECT_EQ(Report(), 1);
    const std::string e = err.str();
    const std::string open = "オープンエラー ErrorCode = -1\nNo such file or directory\n";
    ASSERT_NE(e.find(open), std::string::npos) << e;
    EXPECT_EQ(e.find(open, e.find(open) + 1), std::string::npos) << e;
    EXPECT_NE(e.find(link::kMsgNotConnected), std::string::npos) << e;
}

}  // namespace
