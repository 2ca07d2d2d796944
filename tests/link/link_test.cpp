#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "fake_port.h"
#include "link/link.h"
#include "transfer/Session.h"

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

std::vector<std::uint8_t> Frame(std::vector<std::uint8_t> payload) {
    Payload p;
    for (std::size_t i = 0; i < payload.size(); ++i) p[static_cast<int>(i + 1)] = payload[i];
    const FrameBytes f = BuildStxFrame(p, static_cast<int>(payload.size()));
    return {f.begin(), f.end()};
}

Payload MakePayload(std::initializer_list<std::uint8_t> bytes) {
    Payload p;
    int i = 1;
    for (std::uint8_t b : bytes) p[i++] = b;
    return p;
}

class LinkTest : public ::testing::Test {
protected:
    LinkTest() : session(port, host), link(session.Link()) { host.link = &link; }

    void Feed(const std::vector<std::uint8_t>& bytes) { link.Comm1CommReceive(bytes); }
    void Feed(std::uint8_t b) { Feed(std::vector<std::uint8_t>{b}); }

    /// Start and let the camera accept: the chain of the page shown starts.
    void Connect(int chainLength = 0) {
        host.chainLength = chainLength;
        link.Trans_Create();
        Feed(ACK);
        port.TakeWire();
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) link.SendTimerTimer();
    }

    FakePort port;
    RecordingHost host;
    transfer::Session session;
    Link& link;
};

// ---- receive state machine --------------------------------------------------

TEST_F(LinkTest, ControlBytesWhileIdleAreEventsOthersIgnored) {
    for (std::uint8_t b : {NUL, EOT, ENQ, ACK, DC1, NAK, SYN}) EXPECT_EQ(link.r_data(b), b);
    for (std::uint8_t b : {ETX, std::uint8_t{0x07}, std::uint8_t{0x41}, std::uint8_t{0xFF}}) EXPECT_EQ(link.r_data(b), -1);
    EXPECT_EQ(link.RecvState(), 0);
}

TEST_F(LinkTest, LongFrameWithControlBytesAsDataIsReceivedWhole) {
    link.Trans_Create();  // opens the port so a NAK could be written
    port.TakeWire();
    const auto f = ReplyFrame({0xA0, 0x0A, STX, ETX, ACK, SOH, NAK, ENQ, 0x00, 0xFF});
    int last = -1;
    for (std::size_t i = 0; i < f.size(); ++i) {
        last = link.r_data(f[i]);
        if (i + 1 < f.size()) {
            EXPECT_EQ(last, -1) << "byte " << i;
        }
    }
    EXPECT_EQ(last, ETX);
    EXPECT_EQ(link.RecvState(), 5);
    for (int i = 1; i <= 15; ++i) EXPECT_EQ(link.Recv(i), f[static_cast<std::size_t>(i)]) << i;
    EXPECT_TRUE(port.TakeWire().empty());
}

TEST_F(LinkTest, ShortFrameIsReceived) {
    std::vector<std::uint8_t> f = {SOH, 0x12, 0x34, ETX};
    const std::uint16_t crc = Crc16(std::span<const std::uint8_t>(f.data() + 1, 3));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    f.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    int last = -1;
    for (std::uint8_t b : f) last = link.r_data(b);
    EXPECT_EQ(last, ETX);
    EXPECT_EQ(link.Recv(1), 0x12);
    EXPECT_EQ(link.Recv(2), 0x34);
}

TEST_F(LinkTest, ByteAfterFrameIsAnEventEvenAStartByte) {
    for (std::uint8_t b : ReplyFrame({0xA0})) link.r_data(b);
    EXPECT_EQ(link.r_data(STX), STX);  // not the start of a new frame
    EXPECT_EQ(link.RecvState(), 0);
    for (std::uint8_t b : ReplyFrame({0xA0})) link.r_data(b);
    EXPECT_LT(link.r_data(0x80), 0);  // read as a signed byte
    EXPECT_EQ(link.RecvState(), 0);
}

TEST_F(LinkTest, WrongEndByteShowsMessageOnceAndSendsNoNak) {
    link.Trans_Create();
    port.TakeWire();
    auto f = ReplyFrame({0xA0});
    f[16] = 0x55;
    for (std::size_t i = 0; i < 17; ++i) EXPECT_EQ(link.r_data(f[i]), -1);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0], std::make_pair(std::string("sr_err1"), std::string("recv_chr")));
    EXPECT_EQ(link.RecvState(), 0);
    EXPECT_TRUE(port.TakeWire().empty());
}

TEST_F(LinkTest, BadCheckCodeSendsExactlyOneNak) {
    link.Trans_Create();
    port.TakeWire();
    auto f = ReplyFrame({0xA0, 0x0A});
    f[18] ^= 0x01;
    for (std::uint8_t b : f) EXPECT_EQ(link.r_data(b), -1);
    EXPECT_EQ(port.TakeWire(), std::vector<std::uint8_t>{NAK});
    EXPECT_EQ(link.RecvState(), 0);
    EXPECT_EQ(link.ReplyTimer(), kReplyTicks);
    EXPECT_EQ(link.RetryCount(), kReplyRetries);
}

TEST_F(LinkTest, RandomStreamsStayInsideTheMachine) {
    link.Trans_Create();
    host.onMessage = nullptr;
    std::mt19937 rng(12345);
    const auto valid = ReplyFrame({0xA0, 0x0A, 0x01, 0x40, 0x00});
    for (int round = 0; round < 2000; ++round) {
        const int len = static_cast<int>(rng() % 64);
        for (int i = 0; i < len; ++i) {
            // Bias toward the bytes the machine looks at.
            const std::uint8_t b = (rng() % 3 == 0) ? static_cast<std::uint8_t>(rng() % 7) : static_cast<std::uint8_t>(rng());
            link.r_data(b);
            ASSERT_GE(link.RecvState(), 0);
            ASSERT_LE(link.RecvState(), 5);
            ASSERT_LE(link.RecvCount(), 19);
        }
        // From idle, a valid frame is always received whole.
        while (link.RecvState() != 0) link.r_data(0x00);
        int last = -1;
        for (std::uint8_t b : valid) last = link.r_data(b);
        ASSERT_EQ(last, ETX);
        ASSERT_EQ(link.Recv(4), 0x40);
    }
}

// ---- connection -----------------------------------------------------------------

TEST_F(LinkTest, HandshakeSendsEotThenReadsThePageShown) {
    host.chainLength = 2;
    link.Trans_Create();
    EXPECT_EQ(host.panels[0], "Comm. Connecting");
    EXPECT_EQ(port.port, 1);
    EXPECT_EQ(port.baud, 9600);
    EXPECT_TRUE(host.Timer(LinkTimer::Send));
    EXPECT_EQ(port.TakeWire(), std::vector<std::uint8_t>{ENQ});
    EXPECT_FALSE(host.pagesEnabled);

    Feed(ACK);
    auto wire = port.TakeWire();
    auto expect = std::vector<std::uint8_t>{EOT};
    const auto read1 = Frame({0x31, 0x0A, 0x01});
    expect.insert(expect.end(), read1.begin(), read1.end());
    EXPECT_EQ(wire, expect);
    EXPECT_EQ(link.Mode(), LinkMode::Idle);
    EXPECT_TRUE(host.pagesEnabled);
    EXPECT_TRUE(link.LinkBusy());  // the first read is in flight with its own watch
    EXPECT_EQ(link.ReplyTimer(), kReplyTicks);
    EXPECT_EQ(link.RetryCount(), kReplyRetries);
    EXPECT_EQ(host.panels[1], "310A01000000000000000000000000");
}

TEST_F(LinkTest, NoCameraTriesCom1TwiceThenCom2ThenGivesUp) {
    link.Trans_Create();
    EXPECT_EQ(port.TakeWire(), std::vector<std::uint8_t>{ENQ});
    Ticks(1);
    Ticks(1);
    EXPECT_FALSE(host.terminated);
    EXPECT_TRUE(host.messages.empty());
    Ticks(1);
    EXPECT_EQ(port.openedPorts, (std::vector<std::uint8_t>{1, 1, 2}));
    EXPECT_EQ(port.TakeWire(), (std::vector<std::uint8_t>{ENQ, ENQ}));  // one on every re-open
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].first, " Serial Port not connected ");
    EXPECT_EQ(host.messages[0].second, "Comm.ERR");
    EXPECT_TRUE(host.terminated);
    EXPECT_FALSE(host.Timer(LinkTimer::Send));
}

TEST_F(LinkTest, OpenFailureAtStartIsShownAndAttemptsGoOn) {
    port.failOpen = true;
    link.Trans_Create();
    ASSERT_EQ(host.exceptions.size(), 1u);
    EXPECT_EQ(host.exceptions[0], "オープンエラー ErrorCode = -1");
    port.failOpen = false;
    Ticks(1);  // COM1 again, which now opens
    EXPECT_TRUE(port.open);
    Feed(ACK);  // a camera that answers late still connects
    EXPECT_EQ(link.Mode(), LinkMode::Idle);
}

TEST_F(LinkTest, CameraAnsweringEnqWithOtherThanAckNeverConnects) {
    link.Trans_Create();
    Feed(NAK);
    Feed(EOT);
    EXPECT_EQ(link.Mode(), LinkMode::Connecting);
    Ticks(3);
    EXPECT_TRUE(host.terminated);
}

// ---- exchanges ------------------------------------------------------------------

TEST_F(LinkTest, CommandAckReplyAckThenTransEnd) {
    Connect();
    link.SW_push(3);
    EXPECT_EQ(port.TakeWire(), Frame({0x21, 0x32, 0x03}));
    Feed(ACK);
    EXPECT_EQ(link.Mode(), LinkMode::AwaitReply);
    EXPECT_EQ(host.ends, 0);
    Feed(ReplyFrame({0xA0, 0x32, 0x03}));
    EXPECT_EQ(port.TakeWire(), std::vector<std::uint8_t>{ACK});
    EXPECT_EQ(host.ends, 1);
    EXPECT_EQ(link.Mode(), LinkMode::Idle);
    EXPECT_FALSE(link.LinkBusy());
    EXPECT_EQ(link.ReplyTimer(), -1);
    EXPECT_EQ(host.panels[2], "A03203000000000000000000000000");
    EXPECT_TRUE(host.Timer(LinkTimer::Cursor));
    link.cursor_timerTimer();
    EXPECT_FALSE(host.busy);
    EXPECT_FALSE(host.Timer(LinkTimer::Cursor));
}

// A reply whose handler sends the next command (a copy, a page read) keeps
// the busy cursor without starting and stopping its timer; the last reply
// starts it.
TEST_F(LinkTest, RepliesThatLeadToTheNextCommandLeaveTheCursorTimerAlone) {
    Connect();
    int left = 3;
    host.onEnd = [&] {
        if (--left > 0) link.SW_push(static_cast<std::uint8_t>(left));
    };
    link.SW_push(3);
    const int switchesBefore = host.timerSwitches[static_cast<int>(LinkTimer::Cursor)];
    for (std::uint8_t key : {3, 2, 1}) {
        Feed(ACK);
        Feed(ReplyFrame({0xA0, 0x32, key}));
        if (key != 1) {
            EXPECT_EQ(host.timerSwitches[static_cast<int>(LinkTimer::Cursor)], switchesBefore) << int(key);
        }
        EXPECT_TRUE(host.busy);
    }
    EXPECT_EQ(host.ends, 3);
    EXPECT_TRUE(host.Timer(LinkTimer::Cursor));
    link.cursor_timerTimer();
    EXPECT_FALSE(host.busy);
}

TEST_F(LinkTest, ReplyWithoutAckIsTheAnswerOnlyWhenItEchoesTheItemInFlight) {
    Connect();
    link.SW_push(0);
    port.TakeWire();
    Feed(ReplyFrame({0xA0, 0x0A}));  // another command's reply: nothing happens
    EXPECT_EQ(host.ends, 0);
    EXPECT_TRUE(link.LinkBusy());
    EXPECT_TRUE(port.TakeWire().empty());
    Feed(NUL);                        // the byte after a frame
    Feed(ReplyFrame({0xA0, 0x32}));  // this one's: its ACK was lost on the line
    EXPECT_EQ(host.ends, 1);
    EXPECT_FALSE(link.LinkBusy());
    EXPECT_EQ(port.TakeWire(), std::vector<std::uint8_t>{ACK});
}

TEST_F(LinkTest, ChainContinuesUntilItsEnd) {
    Connect(2);  // step 0 is in flight
    for (std::uint8_t reg : {0x01, 0x40}) {
        Feed(ACK);
        Feed(ReplyFrame({0xA0, 0x0A, reg}));
        Feed(0x00);  // the byte after a frame
    }
    EXPECT_EQ(host.inits, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(host.loadStep, 0);
    EXPECT_TRUE(link.Trans_chk());
}

TEST_F(LinkTest, KizuModeHidesFrameBytes) {
    host.mode = ToolMode::Kizu;
    Connect();
    link.SW_push(1);
    EXPECT_EQ(host.panels[1], "");
    host.panels[2] = "old";
    Feed(ACK);
    Feed(ReplyFrame({0xA0, 0x32}));
    EXPECT_EQ(host.panels[2], "");
}

TEST_F(LinkTest, PresetEndsWithAckAndReloadsLater) {
    Connect();
    link.StxCommand(MakePayload({0x21, 0x20, 0x00}), 3);
    host.pagesEnabled = false;
    Feed(ACK);
    EXPECT_FALSE(link.LinkBusy());
    EXPECT_EQ(link.ReplyTimer(), -1);
    EXPECT_EQ(link.Mode(), LinkMode::Idle);
    EXPECT_TRUE(host.pagesEnabled);
    EXPECT_TRUE(host.Timer(LinkTimer::Reload));
    EXPECT_EQ(host.ends, 0);
    host.chainLength = 2;
    link.ReloadTimerTimer();
    EXPECT_FALSE(host.Timer(LinkTimer::Reload));
    EXPECT_EQ(host.inits.back(), 0);
}

TEST_F(LinkTest, ResetEndsWithAckReloadUnlessDebugPage) {
    for (Page page : {Page::Debug, Page::Setup1}) {
        FakePort p;
        RecordingHost h;
        Link l(p, h);
        h.link = &l;
        h.page = page;
        h.chainLength = 0;
        l.Trans_Create();
        l.Comm1CommReceive(std::vector<std::uint8_t>{ACK});
        l.StxCommand(MakePayload({0xF1}), 1);
        l.Lock_on();
        EXPECT_FALSE(h.panel4);
        l.Comm1CommReceive(std::vector<std::uint8_t>{ACK});
        EXPECT_FALSE(l.LinkBusy());
        EXPECT_EQ(h.copyFileClosed, 1);
        EXPECT_TRUE(h.pagesEnabled);
        EXPECT_EQ(h.Timer(LinkTimer::Reload), page != Page::Debug) << page;
        EXPECT_EQ(h.ends, 0);
    }
}

TEST_F(LinkTest, TransChkTruthTable) {
    Connect();
    struct Row { int loadStep; bool busy; bool defect; bool guard; bool idle; };
    const Row rows[] = {
        {0, false, false, false, true}, {1, false, false, false, false}, {0, true, false, false, false},
        {0, false, true, false, false}, {0, false, false, true, false}, {3, true, true, true, false},
    };
    for (const Row& r : rows) {
        host.loadStep = r.loadStep;
        host.defectLock = r.defect;
        host.loadGuard = r.guard;
        if (r.busy) {
            link.SW_push(0);
        }
        host.loadStep = r.loadStep;
        EXPECT_EQ(link.Trans_chk(), r.idle) << r.loadStep << r.busy << r.defect << r.guard;
        if (link.LinkBusy()) {
            Feed(ACK);
            Feed(ReplyFrame({0xA0, 0x32}));
        }
    }
    link.Lock_on();  // the panel lock does not enter into it
    host.loadStep = 0;
    host.defectLock = host.loadGuard = false;
    EXPECT_TRUE(link.Trans_chk());
}

TEST_F(LinkTest, DsrOffRefusesToReload) {
    Connect();
    port.dsr = false;
    link.ReLoadClick();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].first, "Camera Connection changed (DR OFF)");
    EXPECT_EQ(host.messages[0].second, "KB");
    EXPECT_TRUE(port.TakeWire().empty());
}

// ---- reply watch --------------------------------------------------------------------

TEST_F(LinkTest, LateAnswerResendsTheSameFrameAndWarnsOnce) {
    Connect();
    link.SW_push(2);
    const auto sent = port.TakeWire();
    Ticks(20);
    EXPECT_TRUE(port.TakeWire().empty());
    Ticks(1);
    EXPECT_EQ(port.TakeWire(), sent);
    EXPECT_TRUE(host.messages.empty());
    Ticks(21);
    EXPECT_EQ(port.TakeWire(), sent);  // three times in all by now
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].first, " Serial Port not connected ");
    EXPECT_FALSE(link.LinkBusy());
    EXPECT_TRUE(host.pagesEnabled);
    Ticks(21);
    EXPECT_EQ(port.TakeWire(), sent);
    EXPECT_EQ(host.messages.size(), 1u);
}

TEST_F(LinkTest, ResentFrameWaitsForItsOwnAck) {
    Connect();
    link.SW_push(2);
    Feed(ACK);  // the camera took it, but its reply is lost
    EXPECT_EQ(link.Mode(), LinkMode::AwaitReply);
    Ticks(21);
    port.TakeWire();
    // The ACK to the re-sent frame is not the reply.
    Feed(ACK);
    EXPECT_EQ(host.ends, 0);
    EXPECT_EQ(link.Mode(), LinkMode::AwaitReply);
    Feed(ReplyFrame({0xA0, 0x32, 0x02}));
    EXPECT_EQ(host.ends, 1);
    EXPECT_EQ(link.Recv(3), 0x02);
}

TEST_F(LinkTest, RefusedSendLeavesTheFrameInFlight) {
    Connect();
    link.SW_push(4);
    const FrameBytes inFlight = link.CmdFrame();
    const auto sent = port.TakeWire();
    // A reload during the exchange asks to send while busy.
    link.StxCommand(MakePayload({0x31, 0x0A, 0x40}), 3);
    EXPECT_EQ(link.CmdFrame(), inFlight);
    EXPECT_TRUE(port.TakeWire().empty());
    Ticks(21);
    EXPECT_EQ(port.TakeWire(), sent);
}

TEST_F(LinkTest, LateBlockFrameIsSentAgainWhole) {
    Connect();
    std::array<std::int32_t, kBlockDataSize> image{};
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::int32_t>(0x100 + i);
    link.SohCommand(image);
    EXPECT_FALSE(host.pagesEnabled);
    const auto sent = port.TakeWire();
    ASSERT_EQ(sent.size(), kBlockFrameSize);
    EXPECT_EQ(sent[2], 0x00);  // low bytes only
    EXPECT_EQ(sent[3], 0x01);
    EXPECT_EQ(link.ReplyTimer(), kBlockReplyTicks);
    EXPECT_EQ(link.RetryCount(), kBlockReplyRetries);
    EXPECT_EQ(link.CmdFrame()[0], SOH);
    Ticks(101);
    EXPECT_EQ(port.TakeWire(), sent);
    // A busy link refuses a second block with "Busy".
    link.SohCommand(image);
    EXPECT_EQ(host.panels[1], "Busy");
    EXPECT_TRUE(port.TakeWire().empty());
}

TEST_F(LinkTest, AckToABlockAfterAPresetAwaitsTheBlocksReply) {
    Connect();
    link.StxCommand(MakePayload({0x21, 0x20, 0x00}), 3);
    Feed(ACK);  // the preset ends here
    std::array<std::int32_t, kBlockDataSize> image{};
    link.SohCommand(image);
    Feed(ACK);
    EXPECT_EQ(link.Mode(), LinkMode::AwaitReply);
    EXPECT_TRUE(link.LinkBusy());
    Feed(ReplyFrame({0xA0, 0x73}));
    EXPECT_EQ(host.ends, 1);
}

TEST_F(LinkTest, RefusedWriteRaises) {
    Connect();
    port.refuseWrites = true;
    EXPECT_THROW(link.SW_push(0), ECommReadWriteError);
}

// ---- serialisation with the event thread ---------------------------------------

TEST_F(LinkTest, BytesArrivingWhileABoxIsOpenWaitForIt) {
    Connect();
    link.SW_push(1);
    Feed(ACK);
    // The camera's frame has a wrong end byte: the box opens, and while it is
    // up the event loop delivers the next bytes (a good reply).
    auto bad = ReplyFrame({0xA0, 0x32});
    bad[16] = 0x00;
    bool insideBox = false;
    int endsInsideBox = 0;
    host.onEnd = [&] { if (insideBox) ++endsInsideBox; };
    host.onMessage = [&] {
        insideBox = true;
        Feed(ReplyFrame({0xA0, 0x32, 0x01}));
        EXPECT_EQ(host.ends, 0);  // held back while the box is up
        insideBox = false;
    };
    Feed(std::vector<std::uint8_t>(bad.begin(), bad.begin() + 17));
    EXPECT_EQ(endsInsideBox, 0);
    EXPECT_EQ(host.ends, 1);  // dispatched once, after the box
    EXPECT_EQ(host.messages.size(), 1u);
}

TEST_F(LinkTest, TimerTicksUnderABoxRunOnceAfterIt) {
    Connect();
    link.SW_push(1);
    Feed(ACK);
    auto bad = ReplyFrame({0xA0, 0x32});
    bad[16] = 0x00;
    int reloads = 0;
    int ticksInsideBox = 0;
    host.onMessage = [&] {
        // The event loop runs under the box: timers tick, more than once.
        for (int i = 0; i < 3; ++i) link.RunOutsideDispatch(&reloads, [&] { ++reloads; });
        const int before = link.ReplyTimer();
        link.SendTimerTimer();
        link.SendTimerTimer();
        if (link.ReplyTimer() != before) ++ticksInsideBox;
        EXPECT_EQ(reloads, 0);
    };
    Feed(std::vector<std::uint8_t>(bad.begin(), bad.begin() + 17));
    EXPECT_EQ(ticksInsideBox, 0);
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(link.ReplyTimer(), kReplyTicks - 1);  // one reply-watch tick, after the box
    link.RunOutsideDispatch(nullptr, [&] { ++reloads; });  // outside: at once
    EXPECT_EQ(reloads, 2);
}

TEST_F(LinkTest, AnswersUnderAnyBoxWaitForTheHandlerThatOpenedIt) {
    Connect();
    link.SW_push(1);
    Feed(ACK);
    // The reply watch gives up (its box is up) just as the reply comes in.
    link.SendTimerTimer();  // ticks left: 19
    for (int i = 0; i < 20; ++i) link.SendTimerTimer();  // first re-send
    port.TakeWire();
    host.onMessage = [&] {
        link.HoldDispatch();  // what the window does around a modal box
        Feed(ACK);
        Feed(ReplyFrame({0xA0, 0x32, 0x01}));
        EXPECT_EQ(host.ends, 0);
        link.ReleaseDispatch();
        EXPECT_EQ(host.ends, 0);  // not yet: the timer handler is still running
    };
    for (int i = 0; i < 21; ++i) link.SendTimerTimer();  // second late answer: the box
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.ends, 0);
    ASSERT_EQ(host.posted.size(), 1u);
    host.posted[0]();  // after the handler: the answer is taken, once
    EXPECT_EQ(host.ends, 1);
    EXPECT_EQ(link.Mode(), LinkMode::Idle);
}

TEST_F(LinkTest, WatchThreadBytesFromAnEarlierOpeningAreDropped) {
    struct ScriptedRead : FakePort {
        std::uint32_t Read(void* buffer, std::uint32_t count) override {
            std::memset(buffer, ACK, count);
            return count;
        }
    } reader;
    link.Trans_Create();
    link.OnCommReceiveWatchThread(reader, 1);
    ASSERT_EQ(host.posted.size(), 1u);
    link.SendTimerTimer();  // COM1 re-opened
    host.posted[0]();
    EXPECT_EQ(link.Mode(), LinkMode::Connecting);
    link.OnCommReceiveWatchThread(reader, 1);
    host.posted[1]();
    EXPECT_EQ(link.Mode(), LinkMode::Idle);
}

}  // namespace

TEST_F(LinkTest, WatchThreadBytesAreHandedOverInOrderWithOneWakeUpWhileWaiting) {
    struct ScriptedRead : FakePort {
        std::vector<std::uint8_t> script;
        std::size_t at = 0;
        std::uint32_t Read(void* buffer, std::uint32_t count) override {
            const std::size_t n = std::min<std::size_t>(count, script.size() - at);
            std::memcpy(buffer, script.data() + at, n);
            at += n;
            return static_cast<std::uint32_t>(n);
        }
    } reader;
    Connect();
    link.SW_push(2);
    host.posted.clear();
    // Noise longer than one read, then the ACK and the reply, in three notifications.
    reader.script.assign(1200, 0x00);
    reader.script.push_back(ACK);
    const auto reply = ReplyFrame({0xA0, 0x32, 0x02});
    reader.script.insert(reader.script.end(), reply.begin(), reply.end());
    link.OnCommReceiveWatchThread(reader, 1000);
    link.OnCommReceiveWatchThread(reader, 205);
    link.OnCommReceiveWatchThread(reader, 16);
    EXPECT_EQ(reader.at, reader.script.size());
    ASSERT_EQ(host.posted.size(), 1u);  // the event thread had not taken the first yet
    EXPECT_EQ(host.ends, 0);
    host.posted[0]();
    EXPECT_EQ(host.ends, 1);
    EXPECT_EQ(link.Recv(3), 0x02);
    // Taken: the next bytes post a new wake-up.
    reader.script.push_back(ACK);
    link.OnCommReceiveWatchThread(reader, 1);
    EXPECT_EQ(host.posted.size(), 2u);
}


// ---- exchanges end on their own reply --------------------------------------------------

/// A camera that answers a change twice, the second copy late: the copy must
/// not end the next change's exchange, whether it comes before or after the
/// camera's ACK of that change.
class LateCopyTest : public LinkTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LateCopyTest, LateCopyOfAnEarlierReplyIsDroppedNotTakenForTheNext) {
    const bool afterAck = GetParam();
    Connect();
    link.StxCommand(MakePayload({0x21, 0x1D, 0x05, 0x00}), 4);  // Mirror off
    Feed(ACK);
    Feed(ReplyFrame({0xA0, 0x1D, 0x05, 0x00}));
    Feed(NUL);  // the byte after a frame
    ASSERT_EQ(host.ends, 1);
    link.StxCommand(MakePayload({0x21, 0x1D, 0x04, 0x01}), 4);  // Nega on
    port.TakeWire();
    if (afterAck) Feed(ACK);
    Feed(ReplyFrame({0xA0, 0x1D, 0x05, 0x00}));  // the copy
    Feed(NUL);
    EXPECT_EQ(host.ends, 1);
    EXPECT_TRUE(link.LinkBusy());
    EXPECT_EQ(host.staleReplies, 1);
    EXPECT_TRUE(port.TakeWire().empty()) << "a dropped copy is not acknowledged";
    if (!afterAck) Feed(ACK);
    Feed(ReplyFrame({0xA8, 0x1D, 0x04, 0x01}));  // the change's own answer: refused
    EXPECT_EQ(host.ends, 2);
    EXPECT_EQ(link.Recv(1), 0xA8);
    EXPECT_FALSE(link.LinkBusy());
}
INSTANTIATE_TEST_SUITE_P(BeforeOrAfterAck, LateCopyTest, ::testing::Bool());

TEST(ReplyAnswers, NamesWhatTheCommandNames) {
    auto frame = [](std::initializer_list<std::uint8_t> bytes) {
        FrameBytes f{};
        int i = 1;
        for (std::uint8_t b : bytes) f[static_cast<std::size_t>(i++)] = b;
        return f;
    };
    EXPECT_TRUE(ReplyAnswers(frame({0x31, 0x0A, 0x40}), false, frame({0xA0, 0x0A, 0x40, 0x12, 0x34})));
    EXPECT_FALSE(ReplyAnswers(frame({0x31, 0x0A, 0x40}), false, frame({0xA0, 0x0A, 0x01, 0x40, 0x00})));
    EXPECT_FALSE(ReplyAnswers(frame({0x31, 0x45, 0x02}), false, frame({0xA0, 0x45, 0x01})));
    EXPECT_TRUE(ReplyAnswers(frame({0x21, 0x1E}), false, frame({0xA0, 0x1E})));  // SAVE: the item alone
    EXPECT_TRUE(ReplyAnswers(frame({0x21, 0x11, 0x07}), false, frame({0xA8, 0x11, 0x03})));  // no sub-item
    EXPECT_TRUE(ReplyAnswers(frame({}), true, frame({0xA0, kBlockTag})));
    EXPECT_FALSE(ReplyAnswers(frame({}), true, frame({0xA0, 0x0C})));
}

// ---- one write per exchange ---------------------------------------------------------------

TEST_F(LinkTest, ReplyIsAcknowledgedInTheWriteOfTheCommandItLeadsTo) {
    Connect(2);  // step 0 in flight
    Feed(ACK);
    port.TakeWire();
    Feed(ReplyFrame({0xA0, 0x0A, 0x01, 0x40, 0x00}));
    ASSERT_EQ(port.writes.size(), 1u);
    std::vector<std::uint8_t> both{ACK};
    const auto next = Frame({0x31, 0x0A, 0x40});
    both.insert(both.end(), next.begin(), next.end());
    EXPECT_EQ(port.writes[0], both);
    port.TakeWire();
    Feed(ACK);
    Feed(ReplyFrame({0xA0, 0x0A, 0x40, 0x00, 0x00}));  // the chain's last: the ACK alone
    EXPECT_EQ(port.TakeWire(), std::vector<std::uint8_t>{ACK});
}

// ---- SendTimer, connecting, losing the device ----------------------------------------------

TEST_F(LinkTest, SendTimerRunsOnlyWhileSomethingWaitsOnIt) {
    host.chainLength = 0;
    link.Trans_Create();
    EXPECT_TRUE(host.Timer(LinkTimer::Send)) << "connecting";
    Feed(ACK);
    Ticks(1);
    EXPECT_FALSE(host.Timer(LinkTimer::Send)) << "connected, nothing in flight: stopped by its next tick";
    link.SW_push(1);
    EXPECT_TRUE(host.Timer(LinkTimer::Send)) << "a frame in flight";
    link.SendWhenFree(this, "Mirror", [this] { link.SW_push(2); });
    Feed(ACK);
    Feed(ReplyFrame({0xA0, 0x32, 0x01}));
    Feed(NUL);
    EXPECT_TRUE(host.Timer(LinkTimer::Send)) << "the waiting change went out";
    Feed(ACK);
    Feed(ReplyFrame({0xA0, 0x32, 0x02}));
    Ticks(1);
    EXPECT_FALSE(host.Timer(LinkTimer::Send));
    link.PortLost();
    EXPECT_TRUE(host.Timer(LinkTimer::Send)) << "the lost device is retried";
}

TEST_F(LinkTest, LossNamesTheChangesItDropped) {
    Connect();
    link.SW_push(1);
    link.SendWhenFree(&host, "Mirror", [] {});
    link.SendWhenFree(&port, "Nega", [] {});
    link.PortLost();
    EXPECT_EQ(host.dropped, (std::vector<std::string>{"Mirror", "Nega"}));
    EXPECT_EQ(link.WaitingChanges(), 0u);
}

// ---- the user's order is the wire's order ---------------------------------------------------

TEST_F(LinkTest, ButtonPressKeepsTheChangesBeforeItInTheirPlace) {
    Connect();
    link.SW_push(1);  // the link is busy
    auto mirror = [this](std::uint8_t v) {
        link.SendWhenFree(&host, "Mirror", [this, v] { link.StxCommand(MakePayload({0x21, 0x1D, 0x05, v}), 4); });
    };
    mirror(1);
    mirror(0);  // replaces the first: nothing was pressed in between
    link.QueueButton("SAVE", [this] { link.StxCommand(MakePayload({0x21, 0x1E}), 2); });
    mirror(1);  // after SAVE: goes after it, the change before SAVE stays
    EXPECT_EQ(link.WaitingNames(), (std::vector<std::string>{"Mirror", "SAVE", "Mirror"}));
    port.TakeWire();
    std::vector<std::vector<std::uint8_t>> sent;
    for (std::uint8_t answered : {0x32, 0x1D, 0x1E, 0x1D}) {
        Feed(ACK);
        const std::uint8_t sub = answered == 0x32 ? 0x01 : answered == 0x1D ? 0x05 : 0x00;
        Feed(ReplyFrame({0xA0, answered, sub}));
        const auto wire = port.TakeWire();
        if (wire.size() > 1) sent.emplace_back(wire.begin() + 1, wire.end());  // after the ACK
    }
    EXPECT_EQ(sent, (std::vector<std::vector<std::uint8_t>>{
                        Frame({0x21, 0x1D, 0x05, 0x00}), Frame({0x21, 0x1E}), Frame({0x21, 0x1D, 0x05, 0x01})}));
}
