// The table read, the search and the cursor over the real link against the
// virtual camera on a pseudo-terminal: the defect lock seen through the
// link's idle test.
#include <gtest/gtest.h>

#include <chrono>

#include "camera/pty_camera.h"
#include "cli/console_host.h"
#include "link/comm.h"
#include "link/event_loop.h"
#include "transfer/Defect.h"

using namespace tern;
using namespace std::chrono_literals;

namespace {

/// A host whose idle test sees the defect lock and whose reply handling is
/// the CCD Defect page's, without the page.
class DefectHost : public cli::ConsoleHost {
public:
    using ConsoleHost::ConsoleHost;
    bool DefectLock() const override { return lock.Held(); }

    /// The page's reply handler: show, then request the next piece.
    void HandleReply() {
        ++replies;
        const transfer::DefectReplyAction a = lock.OnReply(link::Reply(Link().RecvFrame()), Link().CmdPayload(1));
        if (a.showError) ++errors;
        if (a.piece) {
            transfer::DefectLockState::Hold hold(lock);
            heldWhileShown = heldWhileShown && !Link().Trans_chk();
            table.Apply(*a.piece);
        }
        if (a.search) search = a.search;
        if (a.next) Link().StxCommand(a.next->payload, a.next->n);
    }

    transfer::DefectLockState lock;
    transfer::DT1 table;
    std::optional<transfer::SearchResult> search;
    int replies = 0;
    int errors = 0;
    bool heldWhileShown = true;
};

struct Rig {
    explicit Rig(camera::CameraOptions options) : cam(options), host(loop, comm) {
        cam.Start();
        comm.SetPortDevice(1, cam.DevicePath());
        comm.SetPortDevice(2, "/nonexistent/ternab-com2");
        comm.SetReceiveNotifySize(7168);
        comm.SetSendNotifySize(8192);
        comm.OnCommReceive = [this](link::TComm& c, std::uint16_t n) { host.Link().OnCommReceiveWatchThread(c, n); };
        host.quiet = true;
        host.activePage = link::Page::Defect;
    }
    ~Rig() {
        host.Link().Close();
        cam.Stop();
    }
    bool Connect() {
        host.Link().Trans_Create();
        if (!loop.RunUntil([&] { return host.chainsCompleted > 0; }, 10s)) return false;
        host.onReply = [this] { host.HandleReply(); };
        return true;
    }
    /// "Load" with the link idle; waits until the read has ended.
    bool Load() {
        if (!host.Link().Trans_chk()) return false;
        const transfer::DefectCommand c = host.lock.StartRead();
        host.Link().StxCommand(c.payload, c.n);
        return loop.RunUntil([&] { return !host.lock.Reading() && host.Link().Trans_chk(); }, 10s);
    }
    bool Send(const transfer::DefectCommand& c) {
        if (!host.Link().Trans_chk()) return false;
        const int before = host.replies;
        host.Link().StxCommand(c.payload, c.n);
        return loop.RunUntil([&] { return host.replies > before; }, 10s);
    }
    link::EventLoop loop;
    camera::PtyCamera cam;
    link::TComm comm;
    DefectHost host;
};

camera::CameraOptions Bench() {
    camera::CameraOptions o;
    o.table = {{0, 40, 12, true, false, false}, {2, 0x123, 0x45, true, true, true}, {12, 0x3FF, 0x1FF, false, false, true}};
    o.defects = {{300, 200, false, true}, {0x3FF, 20, true, false}};
    return o;
}

}  // namespace

TEST(DefectOverTheLink, TheTableLoadsInSixExchangesUnderTheLock) {
    Rig rig(Bench());
    ASSERT_TRUE(rig.Connect());
    const auto piecesBefore = rig.cam.WithModel([](camera::CameraModel& m) { return m.ItemCount(link::kItemDefect); });
    ASSERT_TRUE(rig.Load());
    EXPECT_EQ(rig.cam.WithModel([](camera::CameraModel& m) { return m.ItemCount(link::kItemDefect); }) - piecesBefore, 6u);
    EXPECT_TRUE(rig.host.heldWhileShown) << "no control could send while a piece was shown";
    EXPECT_EQ(rig.host.errors, 0);
    EXPECT_EQ(rig.host.table.entries[0], (transfer::DefectSlot{40, 12, true, false, false}));
    EXPECT_EQ(rig.host.table.entries[2], (transfer::DefectSlot{0x123, 0x45, true, true, true}));
    EXPECT_EQ(rig.host.table.entries[12], (transfer::DefectSlot{0x3FF, 0x1FF, false, false, true}));
    EXPECT_EQ(rig.host.table.entries[14], transfer::DefectSlot{});
}

TEST(DefectOverTheLink, AReadFailingAtPieceALetsTheOtherCommandsSendAgain) {
    camera::CameraOptions o = Bench();
    o.failPiece = 1;
    Rig rig(o);
    ASSERT_TRUE(rig.Connect());
    ASSERT_TRUE(rig.Load());
    EXPECT_EQ(rig.host.errors, 1);
    EXPECT_EQ(rig.host.table.entries[2].x, 0x123) << "C's X came with piece \"@\"";
    EXPECT_EQ(rig.host.table.entries[2].y, 0) << "its Y never came";
    // Another page's command goes out and is answered.
    link::Payload p;
    p[1] = link::kGroupRead;
    p[2] = link::kItemRegister;
    p[3] = 0x01;
    ASSERT_TRUE(rig.host.Link().Trans_chk());
    const int before = rig.host.replies;
    rig.host.Link().StxCommand(p, 3);
    ASSERT_TRUE(rig.loop.RunUntil([&] { return rig.host.replies > before; }, 10s));
    EXPECT_EQ(rig.host.Link().Recv(2), link::kItemRegister);
}

TEST(DefectOverTheLink, SearchAndCursorReachTheCamera) {
    Rig rig(Bench());
    ASSERT_TRUE(rig.Connect());
    ASSERT_TRUE(rig.Send(transfer::SearchStartCommand(
        transfer::SearchParametersFor(rig.host.resolutionText, rig.host.tvText))));
    ASSERT_TRUE(rig.host.search);
    EXPECT_EQ(*rig.host.search, (transfer::SearchResult{0, 1, 0x3FF, 20, true, false}));
    EXPECT_EQ(rig.cam.WithModel([](camera::CameraModel& m) { return m.SearchParameters(); }), (transfer::SearchParameters{0xC9, 0x0C, 0x78}));
    ASSERT_TRUE(rig.Send(transfer::SearchNextCommand()));
    EXPECT_EQ(rig.host.search->slotNumber, 2);
    ASSERT_TRUE(rig.Send(transfer::SearchNextCommand()));
    EXPECT_FALSE(rig.host.search->Success());

    ASSERT_TRUE(rig.Send(transfer::CursorPositionCommand(14, 0x190, 0x80, true)));
    EXPECT_EQ(rig.cam.WithModel([](camera::CameraModel& m) { return m.LastCursor(); }), (camera::CursorCommand{14, 0x190, 0x80, 0x01, 0x0F}));
    ASSERT_TRUE(rig.Load());
    EXPECT_EQ(rig.host.table.entries[1], (transfer::DefectSlot{300, 200, true, false, true})) << "found by the search";
    EXPECT_EQ(rig.host.table.entries[14].x, 0x190) << "placed by the cursor";
    EXPECT_EQ(rig.host.table.entries[14].y, 0x80);
}
