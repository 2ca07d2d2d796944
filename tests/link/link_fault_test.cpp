// The link under faults: refused and stalled writes, stray ACKs, replies that
// always fail their check code and NAKs for line noise.
#include <gtest/gtest.h>

#include "fake_port.h"
#include "link/link.h"

using namespace tern;
using namespace tern::link;
using tern::test::FakePort;
using tern::test::RecordingHost;

namespace {

std::vector<std::uint8_t> ReplyFrame(std::vector<std::uint8_t> data) {
    std::vector<std::uint8_t> f(kCmdFrameSize, 0);
    f[0] = STX;
    for (std::size_t i = 0; i < data.size() && i < kPayloadSize; ++i) f[i + 1] = data[i];
    f[16] = ETX;
    const std::uint16_t crc = Crc16(std::span<const std::uint8_t>(f.data() + 1, 16));
    f[17] = static_cast<std::uint8_t>(crc >> 8);
    f[18] = static_cast<std::uint8_t>(crc & 0xFF);
    return f;
}

std::vector<std::uint8_t> BadReplyFrame(std::vector<std::uint8_t> data) {
    auto f = ReplyFrame(std::move(data));
    f[18] ^= 0x01;
    return f;
}

std::vector<std::uint8_t> KeyFrame(std::uint8_t key) {
    Payload p;
    p[1] = 0x21;
    p[2] = 0x32;
    p[3] = key;
    const FrameBytes f = BuildStxFrame(p, 3);
    return {f.begin(), f.end()};
}

std::vector<std::uint8_t> Bytes(std::initializer_list<std::uint8_t> b) { return b; }

class LinkFaultTest : public ::testing::Test {
protected:
    LinkFaultTest() : link(port, host) { host.link = &link; }

    void Feed(const std::vector<std::uint8_t>& bytes) { link.Comm1CommReceive(bytes); }
    void Feed(std::uint8_t b) { Feed(std::vector<std::uint8_t>{b}); }
    void Connect() {
        host.chainLength = 0;
        link.Trans_Create();
        Feed(ACK);
        port.TakeWire();
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) link.SendTimerTimer();
    }
    /// The link is idle and its next command goes out.
    void ExpectNextCommandGoesOut(std::uint8_t key) {
        port.TakeWire();
        EXPECT_TRUE(link.Trans_chk());
        link.SW_push(key);
        EXPECT_EQ(port.TakeWire(), KeyFrame(key));
        EXPECT_TRUE(link.LinkBusy());
    }

    FakePort port;
    RecordingHost host;
    Link link;
};

// ---- a write that raises ------------------------------------------------------------

TEST_F(LinkFaultTest, RefusedCommandIsALateAnswerTheWatchRepeatsAndGivesUp) {
    Connect();
    port.refuseWrites = true;
    EXPECT_THROW(link.SW_push(2), ECommReadWriteError);
    // As if the frame had gone out and its answer were late.
    EXPECT_TRUE(link.LinkBusy());
    EXPECT_EQ(link.ReplyTimer(), kReplyTicks);
    EXPECT_EQ(link.RetryCount(), kReplyRetries);
    EXPECT_EQ(link.CmdFrame()[3], 2);
    Ticks(21);  // the re-send is refused too: the caller has shown that already
    EXPECT_TRUE(host.exceptions.empty());
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(link.ReplyTimer(), kReplyTicks);
    port.refuseWrites = false;
    Ticks(21);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].first, kMsgNotConnected);
    EXPECT_EQ(port.TakeWire(), KeyFrame(2));
    EXPECT_FALSE(link.LinkBusy());
    EXPECT_TRUE(host.pagesEnabled);
    ExpectNextCommandGoesOut(3);
}

TEST_F(LinkFaultTest, CameraBackBeforeTheGiveUpAnswersTheRepeatedFrame) {
    Connect();
    port.refuseWrites = true;
    EXPECT_THROW(link.SW_push(2), ECommReadWriteError);
    port.refuseWrites = false;
    Ticks(21);
    EXPECT_EQ(port.TakeWire(), KeyFrame(2));
    Feed(ACK);
    Feed(ReplyFrame({0xA0, 0x32, 0x02}));
    EXPECT_EQ(host.ends, 1);
    EXPECT_EQ(port.TakeWire(), Bytes({ACK}));
    EXPECT_TRUE(host.messages.empty());
    ExpectNextCommandGoesOut(4);
}

TEST_F(LinkFaultTest, RefusedRepeatIsShownOnceAndTheGiveUpStillComes) {
    Connect();
    link.SW_push(2);
    port.refuseWrites = true;
    Ticks(21);
    ASSERT_EQ(host.exceptions.size(), 1u);
    EXPECT_TRUE(link.LinkBusy());
    EXPECT_EQ(link.ReplyTimer(), kReplyTicks);  // the watch goes on
    Ticks(21);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].first, kMsgNotConnected);
    Ticks(42);  // the repeats after the give-up are refused without a word
    EXPECT_EQ(host.exceptions.size(), 1u);
    EXPECT_EQ(host.messages.size(), 1u);
    port.refuseWrites = false;
    ExpectNextCommandGoesOut(5);
    // A new exchange shows its own write failure again.
    Ticks(20);
    port.refuseWrites = true;
    Ticks(1);
    EXPECT_EQ(host.exceptions.size(), 2u);
}

TEST_F(LinkFaultTest, RefusedBlockFrameIsALateBlock) {
    Connect();
    std::array<std::int32_t, kBlockDataSize> image{};
    port.refuseWrites = true;
    EXPECT_THROW(link.SohCommand(image), ECommReadWriteError);
    EXPECT_TRUE(link.LinkBusy());
    EXPECT_EQ(link.ReplyTimer(), kBlockReplyTicks);
    port.refuseWrites = false;
    Ticks(101);
    EXPECT_EQ(port.TakeWire().size(), kBlockFrameSize);
    Ticks(101 * (kBlockReplyRetries - 1));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_TRUE(host.exceptions.empty());
    ExpectNextCommandGoesOut(6);
}

TEST_F(LinkFaultTest, RefusedAckToAReplyStillEndsTheExchange) {
    Connect();
    link.SW_push(2);
    Feed(ACK);
    port.refuseWrites = true;
    Feed(ReplyFrame({0xA0, 0x32, 0x02}));
    EXPECT_EQ(host.ends, 1);
    EXPECT_EQ(host.exceptions.size(), 1u);
    EXPECT_FALSE(link.LinkBusy());
    EXPECT_EQ(link.ReplyTimer(), -1);
    port.refuseWrites = false;
    ExpectNextCommandGoesOut(3);
}

TEST_F(LinkFaultTest, RefusedEotAndFirstReadStillConnectAndTheReadIsRepeated) {
    link.Trans_Create();
    port.TakeWire();
    port.refuseWrites = true;
    Feed(ACK);
    EXPECT_EQ(link.Mode(), LinkMode::Idle);
    // EOT and the page's first read were refused; both shown, the read is late.
    EXPECT_EQ(host.exceptions.size(), 2u);
    EXPECT_TRUE(link.LinkBusy());
    EXPECT_EQ(host.inits, std::vector<int>{0});
    EXPECT_EQ(link.ReplyTimer(), kReplyTicks);
    port.refuseWrites = false;
    Ticks(21);
    EXPECT_EQ(port.TakeWire().size(), kCmdFrameSize);
    Feed(ACK);
    Feed(ReplyFrame({0xA0, 0x0A, 0x01}));
    EXPECT_EQ(host.ends, 1);
    EXPECT_EQ(host.inits, (std::vector<int>{0, 1}));
}

TEST_F(LinkFaultTest, RefusedEnqLeavesTheConnectionAttemptsGoing) {
    port.refuseWrites = true;
    EXPECT_THROW(link.Trans_Create(), ECommReadWriteError);
    EXPECT_TRUE(host.Timer(LinkTimer::Send));
    EXPECT_EQ(link.ReplyTimer(), kReplyTicks);
    // The camera answers anyway (its ACK to an ENQ that did go out, say).
    port.refuseWrites = false;
    host.chainLength = 0;
    Feed(ACK);
    EXPECT_EQ(link.Mode(), LinkMode::Idle);
    EXPECT_FALSE(link.LinkBusy());
    ExpectNextCommandGoesOut(1);
}

TEST_F(LinkFaultTest, RefusedEnqWithNoCameraStillGivesUpAfterThreeTicks) {
    port.refuseWrites = true;
    EXPECT_THROW(link.Trans_Create(), ECommReadWriteError);
    Ticks(3);
    EXPECT_TRUE(host.terminated);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].first, kMsgNotConnected);
}

// ---- ACKs that no frame of ours awaits ----------------------------------------------------

TEST_F(LinkFaultTest, StrayAckWhileNothingIsInFlightIsIgnored) {
    Connect();
    Feed(ACK);  // noise
    EXPECT_EQ(link.Mode(), LinkMode::Idle);
    EXPECT_TRUE(port.TakeWire().empty());
    link.SW_push(2);
    Feed(ACK);  // the command's own ACK is not its reply
    EXPECT_EQ(host.ends, 0);
    EXPECT_EQ(link.Mode(), LinkMode::AwaitReply);
    Feed(ReplyFrame({0xA0, 0x32, 0x02}));
    EXPECT_EQ(host.ends, 1);
    EXPECT_EQ(link.Recv(3), 0x02);
    // After the exchange, another stray ACK: still nothing.
    port.TakeWire();
    Feed(ACK);
    EXPECT_EQ(link.Mode(), LinkMode::Idle);
    EXPECT_EQ(host.ends, 1);
    EXPECT_TRUE(port.TakeWire().empty());
}

TEST_F(LinkFaultTest, StrayAckAfterAPresetStartsNoSecondReload) {
    Connect();
    Payload p;
    p[1] = 0x21;
    p[2] = 0x20;
    link.StxCommand(p, 3);
    Feed(ACK);
    ASSERT_TRUE(host.Timer(LinkTimer::Reload));
    host.timers[static_cast<int>(LinkTimer::Reload)] = false;
    Feed(ACK);
    EXPECT_FALSE(host.Timer(LinkTimer::Reload));
}

TEST_F(LinkFaultTest, FrameRepeatedAfterTheGiveUpIsStillAnswered) {
    Connect();
    link.SW_push(2);
    Ticks(42);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_FALSE(link.LinkBusy());
    Feed(ACK);  // the camera takes the repeated frame
    EXPECT_EQ(link.Mode(), LinkMode::AwaitReply);
    Feed(ReplyFrame({0xA0, 0x32, 0x02}));
    EXPECT_EQ(host.ends, 1);
}

// ---- replies that fail their check code --------------------------------------------------

TEST_F(LinkFaultTest, EveryReplyFailingItsCheckEndsTheExchangeAfterFiveNaks) {
    Connect();
    link.SW_push(2);
    Feed(ACK);
    port.TakeWire();
    for (int i = 1; i < kMaxNaksPerExchange; ++i) Feed(BadReplyFrame({0xA0, 0x32}));
    EXPECT_EQ(port.TakeWire(), std::vector<std::uint8_t>(kMaxNaksPerExchange - 1, NAK));
    EXPECT_TRUE(link.LinkBusy());
    EXPECT_TRUE(host.messages.empty());
    Feed(BadReplyFrame({0xA0, 0x32}));
    EXPECT_EQ(port.TakeWire(), Bytes({NAK}));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].first, kMsgNotConnected);
    EXPECT_FALSE(link.LinkBusy());
    EXPECT_EQ(link.Mode(), LinkMode::Idle);
    EXPECT_TRUE(host.pagesEnabled);
    // Ended: more bad frames are NAKed without a word, nothing is repeated.
    Feed(BadReplyFrame({0xA0, 0x32}));
    EXPECT_EQ(port.TakeWire(), Bytes({NAK}));
    Ticks(200);
    EXPECT_TRUE(port.TakeWire().empty());
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.ends, 0);
    ExpectNextCommandGoesOut(3);
}

TEST_F(LinkFaultTest, NaksAreCountedPerExchangeAndDoNotRestartTheWatch) {
    Connect();
    link.SW_push(2);
    Feed(ACK);
    Ticks(10);
    for (int i = 1; i < kMaxNaksPerExchange; ++i) Feed(BadReplyFrame({0xA0, 0x32}));
    EXPECT_EQ(link.NakCount(), kMaxNaksPerExchange - 1);
    EXPECT_EQ(link.ReplyTimer(), kReplyTicks - 10);
    Feed(ReplyFrame({0xA0, 0x32, 0x02}));
    EXPECT_EQ(host.ends, 1);
    link.SW_push(3);
    EXPECT_EQ(link.NakCount(), 0);
    Feed(ACK);
    for (int i = 1; i < kMaxNaksPerExchange; ++i) Feed(BadReplyFrame({0xA0, 0x32}));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(link.LinkBusy());
}

// ---- a NAK for noise ------------------------------------------------------------------------

TEST_F(LinkFaultTest, NakForNoiseWhileIdleOpensNoExchangeAndRepeatsNothing) {
    Connect();
    // The last command was a reset; it has ended with its ACK.
    Payload reset;
    reset[1] = 0xF1;
    link.StxCommand(reset, 1);
    Feed(ACK);
    ASSERT_FALSE(link.LinkBusy());
    host.busy = false;
    port.TakeWire();
    Feed(BadReplyFrame({0x12, 0x34}));
    EXPECT_EQ(port.TakeWire(), Bytes({NAK}));
    EXPECT_FALSE(link.LinkBusy());
    EXPECT_EQ(link.ReplyTimer(), -1);
    EXPECT_TRUE(link.Trans_chk());
    EXPECT_FALSE(host.busy);
    Ticks(200);
    EXPECT_TRUE(port.TakeWire().empty());  // the reset is not sent again
    EXPECT_TRUE(host.messages.empty());
}

}  // namespace
