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

// The frame never left: the next tick writes it again, and after the bound
// the exchange ends as an unanswered one does. Commands and the block alike.
class RefusedWriteTest : public LinkFaultTest, public ::testing::WithParamInterface<bool> {
protected:
    /// Sends a key command, or the block frame; returns the frame's size.
    std::size_t SendRefused() {
        port.refuseWrites = true;
        if (GetParam()) {
            std::array<std::int32_t, kBlockDataSize> image{};
            EXPECT_THROW(link.SohCommand(image), ECommReadWriteError);
            return kBlockFrameSize;
        }
        EXPECT_THROW(link.SW_push(2), ECommReadWriteError);
        return kCmdFrameSize;
    }
};

TEST_P(RefusedWriteTest, FrameIsWrittenAgainOnTheNextTick) {
    Connect();
    const std::size_t size = SendRefused();
    EXPECT_TRUE(link.LinkBusy());
    EXPECT_FALSE(link.Trans_chk());
    port.refuseWrites = false;
    Ticks(1);
    EXPECT_EQ(port.TakeWire().size(), size);
    EXPECT_EQ(link.ReplyTimer(), GetParam() ? kBlockReplyTicks : kReplyTicks);
    Feed(ACK);
    Feed(ReplyFrame({0xA0, GetParam() ? std::uint8_t{0x73} : std::uint8_t{0x32}}));
    EXPECT_EQ(host.ends, 1);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.exceptions.empty());  // the sender's caller showed the one failure
    ExpectNextCommandGoesOut(3);
}

TEST_P(RefusedWriteTest, StillRefusedAfterTheBoundEndsTheExchangeWithTheGiveUp) {
    Connect();
    SendRefused();
    Ticks(kMaxWriteRetries - 1);
    EXPECT_TRUE(link.LinkBusy());
    EXPECT_TRUE(host.messages.empty());
    Ticks(1);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].first, kMsgNotConnected);
    EXPECT_TRUE(host.exceptions.empty());
    EXPECT_FALSE(link.LinkBusy());
    EXPECT_TRUE(host.pagesEnabled);
    Ticks(200);  // nothing more is tried for it
    EXPECT_TRUE(port.TakeWire().empty());
    EXPECT_EQ(host.messages.size(), 1u);
    port.refuseWrites = false;
    ExpectNextCommandGoesOut(3);
}

INSTANTIATE_TEST_SUITE_P(CommandAndBlock, RefusedWriteTest, ::testing::Bool());

TEST_F(LinkFaultTest, RefusedRepeatIsShownOnceAndWrittenAgainOnTheNextTicks) {
    Connect();
    link.SW_push(2);
    port.refuseWrites = true;
    Ticks(21);  // the watch's repeat is refused
    ASSERT_EQ(host.exceptions.size(), 1u);
    EXPECT_TRUE(link.LinkBusy());
    port.refuseWrites = false;
    Ticks(1);
    EXPECT_EQ(port.TakeWire().size(), kCmdFrameSize * 2);
    EXPECT_EQ(host.exceptions.size(), 1u);
    EXPECT_TRUE(host.messages.empty());
    Feed(ACK);
    Feed(ReplyFrame({0xA0, 0x32, 0x02}));
    EXPECT_EQ(host.ends, 1);
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
    Ticks(1);
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
    // Ended: its late copies are dropped, neither NAKed nor shown, nothing is repeated.
    for (int i = 0; i < 100; ++i) Feed(BadReplyFrame({0xA0, 0x32}));
    EXPECT_TRUE(port.TakeWire().empty());
    Ticks(200);
    EXPECT_TRUE(port.TakeWire().empty());
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.ends, 0);
    ExpectNextCommandGoesOut(3);
}

TEST_F(LinkFaultTest, NakRestartsTheWatchAndNaksAreCountedPerExchange) {
    Connect();
    link.SW_push(2);
    port.TakeWire();
    Feed(ACK);
    Ticks(10);
    for (int i = 1; i < kMaxNaksPerExchange; ++i) Feed(BadReplyFrame({0xA0, 0x32}));
    EXPECT_EQ(link.NakCount(), kMaxNaksPerExchange - 1);
    // The camera sends its reply again: the watch waits afresh for it.
    EXPECT_EQ(link.ReplyTimer(), kReplyTicks);
    EXPECT_EQ(link.RetryCount(), kReplyRetries);
    Ticks(20);
    EXPECT_TRUE(port.TakeWire() == std::vector<std::uint8_t>(kMaxNaksPerExchange - 1, NAK));
    Feed(ReplyFrame({0xA0, 0x32, 0x02}));
    EXPECT_EQ(host.ends, 1);
    link.SW_push(3);
    EXPECT_EQ(link.NakCount(), 0);
    Feed(ACK);
    for (int i = 1; i < kMaxNaksPerExchange; ++i) Feed(BadReplyFrame({0xA0, 0x32}));
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(link.LinkBusy());
}

// The camera NAKs a command (it arrived damaged); the watch sends it again;
// the camera's ACK to the repeat is lost on the line and its first reply is
// damaged, the copy good: the exchange has ended well, and no give-up follows
// however long the line stays quiet.
TEST_F(LinkFaultTest, ExchangeAnsweredAfterANakedCommandAndADamagedReplyEndsWell) {
    Connect();
    link.SW_push(2);
    port.TakeWire();
    Feed(NAK);
    Ticks(21);
    EXPECT_EQ(port.TakeWire(), KeyFrame(2));
    Feed(BadReplyFrame({0xA0, 0x32, 0x02}));
    EXPECT_EQ(port.TakeWire(), Bytes({NAK}));
    Feed(ReplyFrame({0xA0, 0x32, 0x02}));
    EXPECT_EQ(host.ends, 1);
    EXPECT_EQ(port.TakeWire(), Bytes({ACK}));
    Ticks(100);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(port.TakeWire().empty());
    ExpectNextCommandGoesOut(3);
}

// A stray ACK right after the handshake (line noise) and then the camera's
// real ACK: the second ACK is not the reply; the reply frame is.
TEST_F(LinkFaultTest, SecondAckBeforeTheReplyIsNotTheReply) {
    host.chainLength = 2;
    link.Trans_Create();
    Feed(Bytes({ACK, ACK}));  // the handshake's ACK, then noise
    EXPECT_EQ(host.inits, std::vector<int>{0});
    Feed(ACK);  // the camera takes the first read
    EXPECT_EQ(host.ends, 0);
    EXPECT_TRUE(link.LinkBusy());
    Feed(ReplyFrame({0xA0, 0x0A, 0x01, 0x40, 0x00}));
    EXPECT_EQ(host.ends, 1);
    EXPECT_EQ(link.Recv(4), 0x40);
    EXPECT_TRUE(host.messages.empty());
}

// Noise: "sr_err1" once per burst; the repeats are counted in the status bar
// until a good frame has come.
TEST_F(LinkFaultTest, NoiseIsShownOncePerBurst) {
    Connect();
    std::vector<std::uint8_t> garbage{STX};
    garbage.resize(18, 0x55);  // no ETX where it belongs
    for (int i = 0; i < 20; ++i) Feed(garbage);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].first, kMsgRecvErr);
    EXPECT_EQ(host.panels[3], std::string(kMsgRecvErr) + " +19");
    link.SW_push(2);
    Feed(ACK);
    Feed(ReplyFrame({0xA0, 0x32, 0x02}));
    Feed(NUL);  // the byte after a frame is read as an event
    Feed(garbage);
    EXPECT_EQ(host.messages.size(), 2u);
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
