#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "camera/model.h"
#include "link/codec.h"
#include "link/protocol.h"
#include "transfer/Defect.h"
#include "test_names.h"

namespace tern::transfer {
namespace {

using link::FrameBytes;
using link::Reply;

constexpr std::uint8_t kRead = link::kGroupRead;
constexpr std::uint8_t kWrite = link::kGroupWrite;

/// A received frame whose offsets 1.. are `bytes`.
FrameBytes Frame(std::initializer_list<int> bytes) {
    FrameBytes f{};
    f[0] = link::STX;
    std::size_t i = 1;
    for (int b : bytes) f.at(i++) = static_cast<std::uint8_t>(b);
    f[16] = link::ETX;
    return f;
}

/// A piece reply carrying table bytes `data` (10 of them) in offsets 4..13.
FrameBytes PieceFrame(int piece, const std::vector<int>& data) {
    FrameBytes f = Frame({link::kStatusAccepted, link::kItemDefect, kDefectFirstPiece + piece});
    for (std::size_t i = 0; i < data.size(); ++i) f.at(4 + i) = static_cast<std::uint8_t>(data[i]);
    return f;
}

std::string Hex(const DefectCommand& c) {
    return link::HexBytesText(std::span<const std::uint8_t>(c.payload.b.data() + 1, static_cast<std::size_t>(c.n)));
}

/// What the virtual camera answers to a command, as a received frame.
FrameBytes Ask(camera::CameraModel& cam, const DefectCommand& c) {
    link::Payload p = c.payload;
    for (int i = c.n + 1; i <= 15; ++i) p[i] = 0;
    const camera::Answer a = cam.Handle(p);
    FrameBytes f{};
    f[0] = link::STX;
    for (std::size_t i = 0; i < a.reply.size(); ++i) f[i + 1] = a.reply[i];
    f[16] = link::ETX;
    return f;
}

// ---- the table --------------------------------------------------------------------

TEST(DefectSlot, MasksLeaveTenBitsOfXAndNineOfYAndTheThreeSwitches) {
    EXPECT_EQ(DecodeDefectSlot(0xFFFF, 0xF1FF), (DefectSlot{0x3FF, 0x1FF, false, false, false}))
        << "bits 10..15 of X and 12..15 of Y are ignored";
    EXPECT_EQ(DecodeDefectSlot(0x01A3, 0x0200), (DefectSlot{0x1A3, 0, true, false, false}));
    EXPECT_EQ(DecodeDefectSlot(0x0000, 0x0400), (DefectSlot{0, 0, false, true, false}));
    EXPECT_EQ(DecodeDefectSlot(0x0000, 0x0800), (DefectSlot{0, 0, false, false, true}));
    EXPECT_EQ(DecodeDefectSlot(0x0400, 0x0F00), (DefectSlot{0, 0x100, true, true, true}))
        << "Y bit 8 is bit 0 of the high byte; X bit 10 is not part of X";
}

TEST(DefectTablePiece, SlotsCHAndMStraddleTwoPieces) {
    struct Expect {
        int slot;
        bool hasX, hasY;
    };
    const std::vector<std::vector<Expect>> layout = {
        {{0, true, true}, {1, true, true}, {2, true, false}},
        {{2, false, true}, {3, true, true}, {4, true, true}},
        {{5, true, true}, {6, true, true}, {7, true, false}},
        {{7, false, true}, {8, true, true}, {9, true, true}},
        {{10, true, true}, {11, true, true}, {12, true, false}},
        {{12, false, true}, {13, true, true}, {14, true, true}},
    };
    for (int p = 0; p < kDefectPieces; ++p) {
        const FrameBytes f = PieceFrame(p, std::vector<int>(10, 0));
        const auto piece = DecodeTablePiece(Reply(f), kRead);
        ASSERT_TRUE(piece) << p;
        EXPECT_EQ(piece->piece, p);
        ASSERT_EQ(piece->entries.size(), layout[static_cast<std::size_t>(p)].size()) << p;
        for (std::size_t i = 0; i < piece->entries.size(); ++i) {
            const Expect& e = layout[static_cast<std::size_t>(p)][i];
            EXPECT_EQ(piece->entries[i].slot, e.slot) << p;
            EXPECT_EQ(piece->entries[i].hasX, e.hasX) << "piece " << p << " slot " << DefectSlotLetter(e.slot);
            EXPECT_EQ(piece->entries[i].hasY, e.hasY) << "piece " << p << " slot " << DefectSlotLetter(e.slot);
        }
    }
}

TEST(DefectTablePiece, StraddlingSlotTakesXFromOnePieceAndTheRestFromTheNext) {
    DT1 table;
    // "@": A, B whole, C's X word 0x0123 at the end.
    table.Apply(*DecodeTablePiece(Reply(PieceFrame(0, {0, 1, 0x02, 0x02, 0, 2, 0x04, 0x03, 0x01, 0x23})), kRead));
    EXPECT_EQ(table.entries[0], (DefectSlot{1, 2, true, false, false}));
    EXPECT_EQ(table.entries[1], (DefectSlot{2, 3, false, true, false}));
    EXPECT_EQ(table.entries[2], (DefectSlot{0x123, 0, false, false, false}));
    // "A": C's Y word 0x0E45 (enabled, FIX, REV, Y 0x045) first.
    table.Apply(*DecodeTablePiece(Reply(PieceFrame(1, {0x0E, 0x45, 0, 0, 0, 0, 0, 0, 0, 0})), kRead));
    EXPECT_EQ(table.entries[2], (DefectSlot{0x123, 0x045, true, true, true}));
}

TEST(DefectReplies, WhatIsNotAPieceOrASearchReplyChangesNothing) {
    const FrameBytes piece = PieceFrame(0, std::vector<int>(10, 0));
    EXPECT_FALSE(DecodeTablePiece(Reply(piece), kWrite)) << "a piece answering a write is not a piece";
    EXPECT_FALSE(DecodeSearchReply(Reply(piece), kRead));
    const FrameBytes search = Frame({0xA0, 0x3A, 0x31, 0, 1, 0, 5, 0, 6});
    EXPECT_FALSE(DecodeSearchReply(Reply(search), kRead)) << "a search reply answering a read is not one";
    EXPECT_FALSE(DecodeTablePiece(Reply(search), kWrite));
    EXPECT_TRUE(DecodeSearchReply(Reply(search), kWrite));

    EXPECT_FALSE(DecodeTablePiece(Reply(Frame({0xA0, 0x3B, 0x40})), kRead)) << "offset 2 is not ':'";
    EXPECT_FALSE(DecodeTablePiece(Reply(Frame({0xA0, 0x3A, 0x46})), kRead));
    EXPECT_FALSE(DecodeTablePiece(Reply(Frame({0xA8, 0x3A, 0x40})), kRead)) << "not accepted";
    EXPECT_FALSE(DecodeSearchReply(Reply(Frame({0xA0, 0x3A, 0x33})), kWrite));
    EXPECT_FALSE(DecodeSearchReply(Reply(Frame({0xA0, 0x3A, 0x03, 1})), kWrite)) << "the reply to a row command";
}

// ---- commands --------------------------------------------------------------------

TEST(DefectCommands, PieceRequestsAndRowSwitches) {
    for (int p = 0; p < kDefectPieces; ++p) {
        EXPECT_EQ(Hex(ReadPieceCommand(p)), "313A" + link::HexByteText(static_cast<std::uint8_t>(0x40 + p)));
    }
    EXPECT_EQ(Hex(SlotSwitchCommand(SlotSwitch::Enable, 0, true)), "213A0300010000000000" "01");
    EXPECT_EQ(Hex(SlotSwitchCommand(SlotSwitch::Enable, 14, false)), "213A030E000000000000" "01")
        << "unchecking sends 0";
    EXPECT_EQ(Hex(SlotSwitchCommand(SlotSwitch::Fix, 7, true)), "213A1007010000000000" "01");
    EXPECT_EQ(Hex(SlotSwitchCommand(SlotSwitch::Rev, 2, true)), "213A1102010000000000" "01");
}

struct StartCase {
    const char* resolution;
    const char* tv;
    const char* parameters;
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << '"' << c.resolution << "\" / \"" << c.tv << '"'; }

class SearchStart : public testing::TestWithParam<StartCase> {};

TEST_P(SearchStart, ParameterBytesFollowResolutionAndStandard) {
    const StartCase& c = GetParam();
    EXPECT_EQ(Hex(SearchStartCommand(SearchParametersFor(c.resolution, c.tv))),
              std::string("213A300001FFFC000001") + c.parameters + "00");
}

INSTANTIATE_TEST_SUITE_P(
    Captions, SearchStart,
    testing::Values(StartCase{"Hi-Resolution", "NTSC", "C90C78"}, StartCase{"Hi-Resolution", "PAL", "C60C8C"},
                    StartCase{"Lo-Resolution", "NTSC", "C70878"}, StartCase{"Lo-Resolution", "PAL", "C2068D"},
                    // the design captions, before any settings image has been read
                    StartCase{"Resolution", "TV", "C2068D"},
                    StartCase{"Hi-Resolution ", "NTSC", "C70878"}),  // the comparison is exact
    [](const testing::TestParamInfo<StartCase>& i) {
        return test::RowName(std::string(i.param.resolution) + "_" + i.param.tv) + (i.index == 5 ? "_trailing_space" : "");
    });

struct GeometryCase {
    const char* name;
    int reg1;   ///< -1: not read yet
    int reg64;  ///< -1: not read yet
    const char* parameters;
};

class SearchStartFromGeometry : public testing::TestWithParam<GeometryCase> {};

// The page takes the bytes from the geometry that the title strip's captions
// are set from; both must choose the same row.
TEST_P(SearchStartFromGeometry, ChoosesTheRowTheCaptionsWouldChoose) {
    const GeometryCase& c = GetParam();
    VideoGeometry g;
    if (c.reg1 >= 0) g.ApplyRegister(link::kRegResolution, c.reg1);
    if (c.reg64 >= 0) g.ApplyRegister(link::kRegVideoStandard, c.reg64);
    EXPECT_EQ(Hex(SearchStartCommand(SearchParametersFor(g))), std::string("213A300001FFFC000001") + c.parameters + "00");
}

INSTANTIATE_TEST_SUITE_P(
    Registers, SearchStartFromGeometry,
    testing::Values(GeometryCase{"hi_ntsc", 0x4000, 0x0000, "C90C78"}, GeometryCase{"hi_pal", 0x4000, 0x0001, "C60C8C"},
                    GeometryCase{"lo_ntsc", 0x0000, 0x0000, "C70878"}, GeometryCase{"lo_pal", 0xBFFF, 0x0001, "C2068D"},
                    GeometryCase{"nothing_read", -1, -1, "C2068D"},
                    GeometryCase{"only_resolution_read", 0x4000, -1, "C60C8C"}),
    [](const testing::TestParamInfo<GeometryCase>& i) { return std::string(i.param.name); });

TEST(DefectCommands, NextRetryAndTheCursorCommands) {
    EXPECT_EQ(Hex(SearchNextCommand()), "213A31");
    EXPECT_EQ(Hex(SearchRetryCommand()), "213A32");

    EXPECT_EQ(Hex(CursorDisplayCommand(2, true)), "213A010300");
    EXPECT_EQ(Hex(CursorDisplayCommand(14, true)), "213A010F00");
    EXPECT_EQ(Hex(CursorDisplayCommand(14, false)), "213A010000");
    EXPECT_EQ(Hex(CursorDisplayCommand(-1, true)), "213A010000") << "no slot chosen";

    EXPECT_EQ(Hex(CursorPositionCommand(14, 0x190, 0x80, true)), "213A020E01900080010F01") << "slot O, display on";
    EXPECT_EQ(Hex(CursorPositionCommand(14, 0x190, 0x80, false)), "213A020E01900080000001");
    EXPECT_EQ(Hex(CursorPositionCommand(13, 0x190, 0x80, true)), "213A020D01900080000001");
    EXPECT_EQ(Hex(CursorPositionCommand(-1, 1, 2, true)), "213A02FF00010002000001") << "no slot chosen";
    EXPECT_EQ(Hex(CursorPositionCommand(0, 0xFFFF, 0x1FF, false)), "213A0200FFFF01FF000001")
        << "a position from a search reply goes out unmasked";
}

// ---- search replies ---------------------------------------------------------------

TEST(SearchReply, SlotNumberReturnCodeAndUnmaskedPosition) {
    const auto decode = [](std::initializer_list<int> tail) {
        FrameBytes f = Frame({0xA0, 0x3A, 0x31});
        std::size_t i = 4;
        for (int b : tail) f.at(i++) = static_cast<std::uint8_t>(b);
        return *DecodeSearchReply(Reply(f), kWrite);
    };
    const SearchResult ok = decode({0, 3, 0x01, 0x2C, 0x00, 0xC8, 1, 0});
    EXPECT_EQ(ok, (SearchResult{0, 3, 0x12C, 0xC8, true, false}));
    EXPECT_TRUE(ok.Success());
    EXPECT_EQ(ok.Slot(), 2);

    EXPECT_EQ(decode({0, 0}).Slot(), std::nullopt) << "slot 0 names no slot";
    EXPECT_EQ(decode({0, 1}).Slot(), 0);
    EXPECT_EQ(decode({0, 15}).Slot(), 14);
    EXPECT_EQ(decode({0, 16}).Slot(), 14) << "numbers above 15 choose O";
    EXPECT_EQ(decode({0, 255}).Slot(), 14);

    EXPECT_FALSE(decode({1}).Success());
    EXPECT_FALSE(decode({2}).Success()) << "2 and above are \"Not found\" too";
    EXPECT_FALSE(decode({0xFF}).Success());

    const SearchResult wide = decode({0, 1, 0xFF, 0xFF, 0xFE, 0x00, 0x80, 0x01});
    EXPECT_EQ(wide.x, 0xFFFF);
    EXPECT_EQ(wide.y, 0xFE00);
    EXPECT_TRUE(wide.fix) << "any byte but 0 checks the box";
    EXPECT_TRUE(wide.rev);
}

// ---- the lock and the table read --------------------------------------------------

TEST(DefectLock, AWholeReadHoldsTheLockFromLoadToTheLastPiece) {
    DefectLockState lock;
    EXPECT_FALSE(lock.Held());
    EXPECT_EQ(Hex(lock.StartRead()), "313A40");
    for (int p = 0; p < kDefectPieces; ++p) {
        EXPECT_TRUE(lock.Held());
        EXPECT_EQ(lock.ExpectedPiece(), p);
        const DefectReplyAction a = lock.OnReply(Reply(PieceFrame(p, std::vector<int>(10, 0))), kRead);
        ASSERT_TRUE(a.piece);
        EXPECT_FALSE(a.showError);
        if (p < kDefectPieces - 1) {
            ASSERT_TRUE(a.next);
            EXPECT_EQ(Hex(*a.next), "313A" + link::HexByteText(static_cast<std::uint8_t>(0x41 + p)));
        } else {
            EXPECT_FALSE(a.next);
        }
    }
    EXPECT_FALSE(lock.Held());
    EXPECT_EQ(lock.ExpectedPiece(), -1);
}

TEST(DefectLock, AReadFailingAtPieceAReleasesTheLockAndKeepsTheRest) {
    camera::CameraOptions o;
    o.failPiece = 1;
    camera::CameraModel cam(o);
    cam.SetSlot(2, camera::DefectSlot{0x111, 0x022, true, true, false});
    DT1 table;  // what the rows showed before: C and D from an earlier read
    table.entries[2] = DefectSlot{0x0AA, 0x0BB, false, false, true};
    table.entries[3] = DefectSlot{0x0CC, 0x0DD, true, false, false};
    const DT1 before = table;

    DefectLockState lock;
    const DefectCommand first = lock.StartRead();
    const DefectReplyAction a0 = lock.OnReply(Reply(Ask(cam, first)), kRead);
    table.Apply(*a0.piece);
    ASSERT_TRUE(a0.next);
    const DefectReplyAction a1 = lock.OnReply(Reply(Ask(cam, *a0.next)), kRead);
    EXPECT_TRUE(a1.showError);
    EXPECT_FALSE(a1.piece) << "an error reply's data is not shown";
    EXPECT_FALSE(a1.next) << "no further piece is requested";
    EXPECT_FALSE(lock.Held()) << "the other pages can send again";

    EXPECT_EQ(table.entries[2], (DefectSlot{0x111, 0x0BB, false, false, true})) << "C: new X, old Y and switches";
    for (int s = 3; s < kDefectSlots; ++s) EXPECT_EQ(table.entries[s], before.entries[s]) << DefectSlotLetter(s);
}

TEST(DefectLock, AReplyThatIsNotTheNextPieceEndsTheRead) {
    const std::pair<const char*, FrameBytes> cuts[] = {
        {"the previous reply left in place by a bare ACK", PieceFrame(0, std::vector<int>(10, 0))},
        {"a piece out of turn", PieceFrame(3, std::vector<int>(10, 0))},
        {"a reply to something else", Frame({0xA0, 0x0A, 0x01, 0x40, 0x00})},
        {"a refusal", Frame({0xA8, 0x3A, 0x41})},
    };
    for (const auto& [what, frame] : cuts) {
        DefectLockState lock;
        lock.StartRead();
        ASSERT_TRUE(lock.OnReply(Reply(PieceFrame(0, std::vector<int>(10, 0))), kRead).next);
        EXPECT_FALSE(lock.OnReply(Reply(frame), kRead).next) << what;
        EXPECT_FALSE(lock.Held()) << what;
    }
}

TEST(DefectLock, GiveUpAndPageChangeEndTheRead) {
    DefectLockState lock;
    lock.StartRead();
    lock.OnReply(Reply(PieceFrame(0, std::vector<int>(10, 0))), kRead);
    lock.CutShort();
    EXPECT_FALSE(lock.Held());
    // The reply to the request in flight, arriving later on this page, is
    // shown but asks for nothing more.
    const DefectReplyAction late = lock.OnReply(Reply(PieceFrame(1, std::vector<int>(10, 0))), kRead);
    EXPECT_TRUE(late.piece);
    EXPECT_FALSE(late.next);
    EXPECT_FALSE(lock.Held());
}

TEST(DefectLock, ClearingTheRowsDuringAReadLeavesTheReadsLockHeld) {
    DefectLockState lock;
    lock.StartRead();
    {
        DefectLockState::Hold clear(lock);  // "Start" runs CheckClear first
        EXPECT_TRUE(lock.Held());
    }
    EXPECT_TRUE(lock.Held()) << "the row boxes the next pieces set must not send";
    EXPECT_TRUE(lock.OnReply(Reply(PieceFrame(0, std::vector<int>(10, 0))), kRead).next) << "the read goes on";

    DefectLockState idle;
    {
        DefectLockState::Hold outer(idle);  // the search display
        {
            DefectLockState::Hold inner(idle);  // kizu_disp_set inside it
        }
        EXPECT_TRUE(idle.Held()) << "holds nest";
    }
    EXPECT_FALSE(idle.Held());
}

TEST(DefectLock, SearchRepliesAndErrorsOutsideARead) {
    DefectLockState lock;
    const DefectReplyAction s = lock.OnReply(Reply(Frame({0xA0, 0x3A, 0x30, 0, 1, 0, 5, 0, 6})), kWrite);
    ASSERT_TRUE(s.search);
    EXPECT_EQ(s.search->Slot(), 0);
    EXPECT_FALSE(s.piece);
    EXPECT_FALSE(s.next);
    const DefectReplyAction e = lock.OnReply(Reply(Frame({0xE1, 0x3A, 0x31})), kWrite);
    EXPECT_TRUE(e.showError);
    EXPECT_FALSE(e.search) << "no result is shown for an error reply";
    const DefectReplyAction row = lock.OnReply(Reply(Frame({0xA0, 0x3A, 0x03, 0x00, 0x01})), kWrite);
    EXPECT_FALSE(row.showError || row.search || row.piece || row.next);
    EXPECT_FALSE(lock.Held());
}

// ---- the manual cursor ---------------------------------------------------------------

TEST(ManualCursor, ArrowMovesStayInTheSlotRangesWithAStepOfAtLeastOne) {
    EXPECT_EQ(MoveCursor(CursorMove::Right, 0, 1), 1);
    EXPECT_EQ(MoveCursor(CursorMove::Up, 0, 1), 0);
    EXPECT_EQ(MoveCursor(CursorMove::Up, 5, 10), 0);
    EXPECT_EQ(MoveCursor(CursorMove::Down, 0, 600), 0x1FF);
    EXPECT_EQ(MoveCursor(CursorMove::Right, 1023, 1), 0x3FF);
    EXPECT_EQ(MoveCursor(CursorMove::Left, 0xFFFF, 1), 0x3FF) << "an unmasked search position comes back into range";
    EXPECT_EQ(MoveCursor(CursorMove::Right, 5, 2147483647), 0x3FF) << "a huge step does not wrap";
    // "Step" below 1 counts as 1: no move goes the wrong way or stands still.
    EXPECT_EQ(CursorStep(25), 25);
    EXPECT_EQ(MoveCursor(CursorMove::Up, 10, CursorStep(0)), 9);
    EXPECT_EQ(MoveCursor(CursorMove::Left, 1023, CursorStep(-5)), 1022);
}

TEST(ManualCursor, FiveRightPressesInOneIntervalSendOnePositionWithXPlusFive) {
    CursorBurst burst;
    int x = 0x10;
    int starts = 0;
    for (int i = 0; i < 5; ++i) {
        x = MoveCursor(CursorMove::Right, x, CursorStep(1));
        if (burst.Moved()) ++starts;
    }
    EXPECT_EQ(starts, 1) << "a running timer is not restarted";
    ASSERT_TRUE(burst.TimerRunning());
    burst.Tick();
    EXPECT_FALSE(burst.TimerRunning());
    EXPECT_EQ(Hex(CursorPositionCommand(0, x, 0x20, false)), "213A020000150020000001");
    EXPECT_TRUE(burst.Moved()) << "a move after the tick starts the timer again";
}

TEST(ManualCursor, PictureClicksScaleToTheSensorAndStayOnIt) {
    VideoGeometry g;
    EXPECT_EQ(PictureToSensor(100, 75, 200, 150, g), (CursorPoint{0, 0})) << "before the geometry is known";
    EXPECT_EQ(PictureToSensor(199, 149, 200, 150, g), (CursorPoint{0, 0}));
    EXPECT_EQ(DotPosition(3, 2, 200, 150, g), (CursorPoint{600, 300})) << "divisors 1";

    g.ApplyRegister(1, 0x4000);  // high resolution, 800
    g.ApplyRegister(64, 0);      // NTSC, 256
    const CursorPoint p = PictureToSensor(100, 75, 200, 150, g);
    EXPECT_EQ(link::HexWordText(static_cast<std::uint16_t>(p.x)), "0190");
    EXPECT_EQ(link::HexWordText(static_cast<std::uint16_t>(p.y)), "0080");
    EXPECT_EQ(DotPosition(p.x, p.y, 200, 150, g), (CursorPoint{100, 75})) << "the dot lands where clicked";

    // A release beyond the picture's edge is held to the sensor.
    EXPECT_EQ(PictureToSensor(-30, -1, 200, 150, g), (CursorPoint{0, 0}));
    EXPECT_EQ(PictureToSensor(250, 400, 200, 150, g), (CursorPoint{799, 255}));
    EXPECT_EQ(PictureToSensor(199, 149, 200, 150, g), (CursorPoint{796, 254}));

    EXPECT_EQ(DotPosition(0x190, 0, 400, 150, g), (CursorPoint{200, 0}));

    g.ApplyRegister(1, 0);     // low resolution, 544
    g.ApplyRegister(64, 1);    // PAL, 312
    EXPECT_EQ(PictureToSensor(5000, 5000, 200, 150, g), (CursorPoint{543, 311}));
    EXPECT_EQ(PictureToSensor(10, 10, 0, 0, g), (CursorPoint{0, 0})) << "a picture with no size";
}

TEST(ManualCursor, Keys) {
    const std::pair<const char*, CursorKey> keys[] = {{"8Ii", CursorKey::Up},   {"2Kk", CursorKey::Down},
                                                      {"4Jj", CursorKey::Left}, {"6Ll", CursorKey::Right},
                                                      {"5Oo", CursorKey::ToggleDisplay}, {"0137 uU\r", CursorKey::None}};
    for (const auto& [chars, key] : keys) {
        for (const char* c = chars; *c != 0; ++c) EXPECT_EQ(CursorKeyFor(*c), key) << int(*c);
    }
}

}  // namespace
}  // namespace tern::transfer
