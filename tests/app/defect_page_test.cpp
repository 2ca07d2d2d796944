// The CCD Defect page: byte-exact over a fake port, and end to end against
// the virtual camera on a pseudo-terminal.
#include <QCheckBox>
#include <QTabWidget>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "app/MTern.h"
#include "app/window_fixture.h"
#include "camera/pty_camera.h"
#include "defect/DefectPage.h"
#include "test_names.h"
#include "widgets/RadioGroup.h"
#include "widgets/SpinEdit.h"

namespace tern::test {
namespace {

using defect::DefectPage;

constexpr std::uint8_t kW = link::kGroupWrite;
constexpr std::uint8_t kR = link::kGroupRead;
constexpr std::uint8_t kD = link::kItemDefect;
constexpr std::uint8_t kOk = link::kStatusAccepted;

std::string Text(const QLineEdit* e) { return e->text().toStdString(); }

/// The ten table bytes of one piece, from the four-byte slots it covers.
struct Table {
    std::array<std::uint8_t, 60> bytes{};
    void Set(int slot, std::uint16_t xWord, std::uint16_t yWord) {
        bytes.at(4 * slot) = static_cast<std::uint8_t>(xWord >> 8);
        bytes.at(4 * slot + 1) = static_cast<std::uint8_t>(xWord);
        bytes.at(4 * slot + 2) = static_cast<std::uint8_t>(yWord >> 8);
        bytes.at(4 * slot + 3) = static_cast<std::uint8_t>(yWord);
    }
};

class DefectWindow : public WindowTest {
protected:
    void SetUp() override {
        Ready(link::ToolMode::Kizu);
        ASSERT_EQ(window->ActivePage(), link::Page::Defect);
    }
    DefectPage& Page() { return window->Defect(); }
    const DefectPage::Row& Row(int slot) { return Page().Rows(slot); }
    bool Locked() { return window->Engine().DefectLock(); }

    /// The reply to piece p, its table bytes taken from `t`.
    Bytes AnswerPiece(const Table& t, int p) {
        port.TakeWire();
        link::Payload reply;
        reply[1] = kOk;
        reply[2] = kD;
        reply[3] = static_cast<std::uint8_t>(0x40 + p);
        for (int i = 0; i < 10; ++i) reply[4 + i] = t.bytes.at(static_cast<std::size_t>(10 * p + i));
        const link::FrameBytes f = link::BuildStxFrame(reply, 13);
        Bytes bytes{link::ACK};
        bytes.insert(bytes.end(), f.begin(), f.end());
        Feed(bytes);
        return port.TakeWire();
    }

    /// "Load", then every piece from `t`; each reply must request exactly the next piece.
    void ReadTable(const Table& t) {
        Page().kizu_load->click();
        ASSERT_EQ(port.TakeWire(), Frame({kR, kD, 0x40}));
        for (int p = 0; p < 6; ++p) {
            const Bytes expected = p < 5 ? AckThen(Frame({kR, kD, static_cast<std::uint8_t>(0x41 + p)})) : Ack();
            ASSERT_EQ(AnswerPiece(t, p), expected) << "piece " << p;
        }
        ASSERT_FALSE(Locked());
    }

    /// The camera accepts the command in flight, a write of this subsystem.
    Bytes AcceptWrite() { return Answer({kOk, kD, window->Link().CmdPayload(3)}); }
};

// ---- the table ------------------------------------------------------------------------------

struct SwitchCase {
    const char* control;
    std::uint8_t code;
    std::uint8_t slot;
};

void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.control; }

class RowSwitch : public DefectWindow, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(RowSwitch, SendsItsSlotAndTheStateAfterTheClick) {
    const SwitchCase& c = GetParam();
    auto* box = window->findChild<QCheckBox*>(c.control);
    ASSERT_NE(box, nullptr);
    box->click();
    EXPECT_EQ(port.TakeWire(), Frame({kW, kD, c.code, c.slot, 1, 0, 0, 0, 0, 0, 0x01}));
    AcceptWrite();
    box->click();
    EXPECT_EQ(port.TakeWire(), Frame({kW, kD, c.code, c.slot, 0, 0, 0, 0, 0, 0, 0x01})) << "unchecking sends 0";
}

INSTANTIATE_TEST_SUITE_P(Rows, RowSwitch,
                         ::testing::Values(SwitchCase{"Defect_A", 0x03, 0}, SwitchCase{"Defect_O", 0x03, 14},
                                           SwitchCase{"c_fix", 0x10, 2}, SwitchCase{"h_fix", 0x10, 7},
                                           SwitchCase{"m_rev", 0x11, 12}, SwitchCase{"o_rev", 0x11, 14}),
                         [](const ::testing::TestParamInfo<SwitchCase>& i) { return std::string(i.param.control); });

TEST_F(DefectWindow, RowSwitchWhileACommandIsOutstandingKeepsItsStateAndGoesOutOnceAfterIt) {
    Row(0).Defect->click();
    port.TakeWire();
    Row(1).fix->click();
    EXPECT_TRUE(Row(1).fix->isChecked());
    EXPECT_TRUE(port.TakeWire().empty());
    EXPECT_EQ(AcceptWrite(), AckThen(Frame({kW, kD, 0x10, 1, 1, 0, 0, 0, 0, 0, 0x01})));
    EXPECT_EQ(AcceptWrite(), Ack());
}

TEST_F(DefectWindow, SlotClickedBetweenPiecesKeepsTheUsersStateAndSendsItAfterTheRead) {
    Table t;
    t.Set(2, 0x0123, 0x0011);  // C: the camera has FIX off
    Page().kizu_load->click();
    ASSERT_EQ(port.TakeWire(), Frame({kR, kD, 0x40}));
    ASSERT_EQ(AnswerPiece(t, 0), AckThen(Frame({kR, kD, 0x41})));
    Row(2).fix->click();
    EXPECT_TRUE(port.TakeWire().empty()) << "the read goes on first";
    for (int p = 1; p < 5; ++p) {
        ASSERT_EQ(AnswerPiece(t, p), AckThen(Frame({kR, kD, static_cast<std::uint8_t>(0x41 + p)}))) << "piece " << p;
        EXPECT_TRUE(Row(2).fix->isChecked()) << "piece " << p << " does not undo the user's click";
    }
    EXPECT_EQ(AnswerPiece(t, 5), AckThen(Frame({kW, kD, 0x10, 2, 1, 0, 0, 0, 0, 0, 0x01})));
    EXPECT_EQ(AcceptWrite(), Ack()) << "one click, one frame";
}

TEST_F(DefectWindow, LoadShowsTheSixPiecesWithTheStraddlingSlotsAndMasks) {
    Table t;
    t.Set(0, 0xFCA3, 0xF345);  // X bits 10..15 and Y word bits 12..15 set: ignored
    t.Set(2, 0x0123, 0x0DFF);  // C straddles "@" and "A": Y 1FF, FIX, REV, not enabled
    t.Set(7, 0x03FF, 0x0601);  // H straddles "B" and "C": enabled, FIX, Y 001
    t.Set(12, 0x0200, 0x0A10); // M straddles "D" and "E": enabled, REV
    t.Set(14, 0xFFFF, 0xFFFF); // O: everything set
    Page().kizu_load->click();
    EXPECT_TRUE(Locked());
    ASSERT_EQ(port.TakeWire(), Frame({kR, kD, 0x40}));

    // After "@": C has its X and nothing else yet.
    ASSERT_EQ(AnswerPiece(t, 0), AckThen(Frame({kR, kD, 0x41})));
    EXPECT_EQ(Text(Row(2).x), "0123");
    EXPECT_EQ(Text(Row(2).y), "");
    EXPECT_FALSE(Row(2).fix->isChecked());
    for (int p = 1; p < 6; ++p) {
        const Bytes expected = p < 5 ? AckThen(Frame({kR, kD, static_cast<std::uint8_t>(0x40 + p + 1)})) : Ack();
        ASSERT_EQ(AnswerPiece(t, p), expected) << "piece " << p << ": no slot command sent from the read";
        EXPECT_EQ(Locked(), p < 5);
    }

    struct Expect {
        int slot;
        const char* x;
        const char* y;
        bool enabled, fix, rev;
    };
    for (const Expect& e : {Expect{0, "00A3", "0145", true, false, false}, Expect{1, "0000", "0000", false, false, false},
                            Expect{2, "0123", "01FF", false, true, true}, Expect{7, "03FF", "0001", true, true, false},
                            Expect{12, "0200", "0010", true, false, true}, Expect{14, "03FF", "01FF", true, true, true}}) {
        SCOPED_TRACE(std::string(1, static_cast<char>('A' + e.slot)));
        EXPECT_EQ(Text(Row(e.slot).x), e.x);
        EXPECT_EQ(Text(Row(e.slot).y), e.y);
        EXPECT_EQ(Row(e.slot).Defect->isChecked(), e.enabled);
        EXPECT_EQ(Row(e.slot).fix->isChecked(), e.fix);
        EXPECT_EQ(Row(e.slot).rev->isChecked(), e.rev);
    }
    EXPECT_TRUE(window->Messages.empty());
}

TEST_F(DefectWindow, ReadFailingAtPieceAReleasesTheLockAndLeavesTheRestAsItWas) {
    Table first;
    for (int s = 0; s < 15; ++s) first.Set(s, static_cast<std::uint16_t>(0x10 + s), static_cast<std::uint16_t>(0x0220 + s));
    ReadTable(first);

    QMessageBox::StandardButtons buttons;
    window->OnMessageBox = [&](QMessageBox& box) {
        buttons = box.standardButtons();
        AutoClose(box);
    };
    Table second;
    second.Set(2, 0x0155, 0x0000);
    Page().kizu_load->click();
    port.TakeWire();
    ASSERT_EQ(AnswerPiece(second, 0), AckThen(Frame({kR, kD, 0x41})));
    EXPECT_EQ(Answer({0xE0, kD, 0x41}), Ack()) << "no further piece is requested";
    ASSERT_EQ(window->Messages.size(), 1u);
    EXPECT_EQ(window->Messages[0].text, " Error ");
    EXPECT_EQ(window->Messages[0].caption, "ERR");
    EXPECT_EQ(buttons, QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
    EXPECT_FALSE(Locked());

    EXPECT_EQ(Text(Row(2).x), "0155") << "C's new X";
    EXPECT_EQ(Text(Row(2).y), "0022") << "C's old Y";
    EXPECT_TRUE(Row(2).Defect->isChecked());
    for (int s = 3; s < 15; ++s) EXPECT_EQ(Text(Row(s).x), link::HexWordText(static_cast<std::uint16_t>(0x10 + s)));

    // The link is free again: a row switch and the cursor send.
    Row(5).rev->click();
    EXPECT_EQ(port.TakeWire(), Frame({kW, kD, 0x11, 5, 1, 0, 0, 0, 0, 0, 0x01}));
}

// A read whose piece never comes must not leave the lock held: every control
// that tests the idle link would stay refused until the tool is restarted.
TEST_F(DefectWindow, ReadWhoseAnswerNeverComesEndsWhenTheLinkGivesUp) {
    Page().kizu_load->click();
    port.TakeWire();
    ASSERT_TRUE(Locked());
    for (int tick = 0; tick < 1000 && window->Messages.empty(); ++tick) window->SendTimerTimer();
    ASSERT_EQ(window->Messages.size(), 1u) << "the link's give-up";
    EXPECT_FALSE(Locked());
    port.TakeWire();
    Row(2).fix->click();
    EXPECT_EQ(port.TakeWire(), Frame({kW, kD, 0x10, 2, 1, 0, 0, 0, 0, 0, 0x01}));
}

class DefectPageLeft : public WindowTest {};

TEST_F(DefectPageLeft, ReadEndsWhenAnotherPageIsShownBeforeTheLastPiece) {
    Ready(link::ToolMode::Dbg);
    window->PageControl1->setCurrentIndex(Tab(link::Page::Defect));
    FinishChain();
    port.TakeWire();
    window->Defect().kizu_load->click();
    ASSERT_TRUE(window->Engine().DefectLock());
    window->PageControl1->setCurrentIndex(Tab(link::Page::Copy));
    EXPECT_FALSE(window->Engine().DefectLock());
    Answer({kOk, kD, 0x40});  // the piece in flight reaches the Copy page
    FinishChain();
    EXPECT_FALSE(window->Engine().DefectLock());
    EXPECT_EQ(window->LoadStep(), 0);
}

// ---- the automatic search -------------------------------------------------------------------

struct SearchCase {
    const char* name;
    std::vector<std::uint8_t> data;  // reply offsets 4..11
    int returnIndex;
    int chosen;  // item of "Defect Select", -1 none
    const char* x;
    const char* y;
    bool fix, rev;
};

void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }

class SearchReply : public DefectWindow, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(SearchReply, IsShownAndWrittenIntoTheSlotItNames) {
    const SearchCase& c = GetParam();
    Table t;
    for (int s = 0; s < 15; ++s) t.Set(s, 0x0111, 0x0022);  // every row filled, disabled
    ReadTable(t);
    Page().kizu_rtn->SetItemIndex(0);
    Page().kizu_next->click();
    EXPECT_EQ(port.TakeWire(), Frame({kW, kD, 0x31}));
    EXPECT_EQ(Page().kizu_rtn->ItemIndex(), -1) << "no choice until the reply";

    port.TakeWire();
    link::Payload reply;
    reply[1] = kOk;
    reply[2] = kD;
    reply[3] = 0x31;
    for (std::size_t i = 0; i < c.data.size(); ++i) reply[4 + static_cast<int>(i)] = c.data[i];
    const link::FrameBytes f = link::BuildStxFrame(reply, 11);
    Bytes bytes{link::ACK};
    bytes.insert(bytes.end(), f.begin(), f.end());
    Feed(bytes);
    EXPECT_EQ(port.TakeWire(), Ack()) << "the display sends nothing, not even for the new choice";
    EXPECT_FALSE(Locked());

    EXPECT_EQ(Page().kizu_rtn->ItemIndex(), c.returnIndex);
    EXPECT_EQ(Page().Kizu_abc->ItemIndex(), c.chosen);
    EXPECT_EQ(Text(Page().kizu_rtn_x), c.x);
    EXPECT_EQ(Text(Page().kizu_rtn_y), c.y);
    EXPECT_EQ(Text(Page().kizu_ax), c.x) << "the result is the cursor position";
    EXPECT_EQ(Text(Page().kizu_ay), c.y);
    for (int s = 0; s < 15; ++s) {
        SCOPED_TRACE(s);
        const bool written = s == c.chosen;
        EXPECT_EQ(Text(Row(s).x), written ? c.x : "0111");
        EXPECT_EQ(Text(Row(s).y), written ? c.y : "0022");
        EXPECT_EQ(Row(s).Defect->isChecked(), written);
        EXPECT_EQ(Row(s).fix->isChecked(), written && c.fix);
        EXPECT_EQ(Row(s).rev->isChecked(), written && c.rev);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SearchReply,
    ::testing::Values(SearchCase{"success_in_slot_3", {0, 3, 0x01, 0x23, 0x00, 0x45, 1, 0}, 0, 2, "0123", "0045", true, false},
                      SearchCase{"slot_0_names_no_row", {0, 0, 0x00, 0x10, 0x00, 0x20, 1, 1}, 0, -1, "0010", "0020", true, true},
                      SearchCase{"slot_16_writes_O", {0, 16, 0x00, 0x10, 0x00, 0x20, 0, 1}, 0, 14, "0010", "0020", false, true},
                      SearchCase{"return_code_2_is_not_found", {2, 5, 0x00, 0x07, 0x00, 0x08, 0, 0}, 1, 4, "0007", "0008", false, false},
                      SearchCase{"values_not_masked", {0, 1, 0xFF, 0xFF, 0x80, 0x01, 0x20, 0}, 0, 0, "FFFF", "8001", true, false}),
    [](const ::testing::TestParamInfo<SearchCase>& i) { return std::string(i.param.name); });

TEST_F(DefectWindow, StartWhileACommandIsOutstandingClearsTheSwitchesOnly) {
    Table t;
    for (int s = 0; s < 15; ++s) t.Set(s, 0x0001, 0x0E01);  // enabled, FIX, REV
    ReadTable(t);
    Page().kizu_rtn->SetItemIndex(1);
    Page().kizu_sel->click();  // a command in flight
    port.TakeWire();
    Page().kizu_start->click();
    EXPECT_TRUE(port.TakeWire().empty());
    EXPECT_EQ(Page().kizu_rtn->ItemIndex(), 1) << "the return code stays as it was";
    for (int s = 0; s < 15; ++s) {
        EXPECT_FALSE(Row(s).Defect->isChecked() || Row(s).fix->isChecked() || Row(s).rev->isChecked()) << s;
        EXPECT_EQ(Text(Row(s).x), "0001") << "X and Y keep their texts";
    }
    // No switch was sent for the clearing; the search goes out once the link is free.
    const Bytes after = AcceptWrite();
    ASSERT_GT(after.size(), 3u);
    EXPECT_EQ(Bytes(after.begin(), after.begin() + 4), Bytes({link::ACK, link::STX, kW, kD}));
    EXPECT_EQ(Page().kizu_rtn->ItemIndex(), -1);
}

// "Start" in the middle of a table read clears the rows but leaves the read's
// lock: the boxes the next pieces set must not send their commands.
TEST_F(DefectWindow, StartDuringATableReadLeavesTheReadsLockHeld) {
    Table t;
    for (int s = 0; s < 15; ++s) t.Set(s, 0x0002, 0x0E02);
    Page().kizu_load->click();
    port.TakeWire();
    ASSERT_EQ(AnswerPiece(t, 0), AckThen(Frame({kR, kD, 0x41})));
    Page().kizu_start->click();
    EXPECT_TRUE(port.TakeWire().empty());
    EXPECT_TRUE(Locked());
    EXPECT_FALSE(Row(0).Defect->isChecked());
    for (int p = 1; p < 5; ++p) {
        ASSERT_EQ(AnswerPiece(t, p), AckThen(Frame({kR, kD, static_cast<std::uint8_t>(0x41 + p)}))) << "piece " << p;
    }
    // The read ends; then the Start pressed during it clears the rows again
    // and its search goes out.
    const Bytes last = AnswerPiece(t, 5);
    ASSERT_GT(last.size(), 3u);
    EXPECT_EQ(Bytes(last.begin(), last.begin() + 4), Bytes({link::ACK, link::STX, kW, kD}));
    EXPECT_FALSE(Locked());
    EXPECT_FALSE(Row(14).Defect->isChecked());
}

// ---- the manual cursor ----------------------------------------------------------------------

struct MoveCase {
    const char* name;
    const char* button;
    const char* from;  // text of the edit moved
    int step;
    const char* to;
};

void PrintTo(const MoveCase& c, std::ostream* os) { *os << c.name; }

class ArrowMove : public DefectWindow, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(ArrowMove, MovesByTheStepWithinTheSlotRanges) {
    const MoveCase& c = GetParam();
    const bool vertical = std::string(c.button) == "kizu_up" || std::string(c.button) == "kizu_down";
    QLineEdit* edit = vertical ? Page().kizu_ay : Page().kizu_ax;
    edit->setText(c.from);
    Page().SpinEdit1->SetValue(c.step);
    window->findChild<QPushButton*>(c.button)->click();
    EXPECT_EQ(Text(edit), c.to);
    EXPECT_TRUE(window->kizu_auto_timer->isActive());
    EXPECT_TRUE(port.TakeWire().empty()) << "a move alone sends nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Moves, ArrowMove,
    ::testing::Values(MoveCase{"right_from_empty", "kizu_right", "", 1, "0001"},
                      MoveCase{"up_10_from_5_stops_at_0", "kizu_up", "0005", 10, "0000"},
                      MoveCase{"down_600_stops_at_1FF", "kizu_down", "0000", 600, "01FF"},
                      MoveCase{"left_from_unmasked_search_value", "kizu_left", "FFFF", 1, "03FF"},
                      MoveCase{"step_0_is_refused", "kizu_right", "0000", 0, "0001"},
                      MoveCase{"negative_step_is_refused", "kizu_left", "0005", -3, "0004"}),
    [](const ::testing::TestParamInfo<MoveCase>& i) { return std::string(i.param.name); });

TEST_F(DefectWindow, FiveRightPressesWithinOneTickSendOnePosition) {
    for (int i = 0; i < 5; ++i) Page().kizu_right->click();
    EXPECT_TRUE(port.TakeWire().empty());
    Page().kizu_auto_timerTimer();
    EXPECT_FALSE(window->kizu_auto_timer->isActive());
    EXPECT_EQ(port.TakeWire(), Frame({kW, kD, 0x02, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(Text(Row(0).x), "0005") << "stored in the chosen slot";
    EXPECT_FALSE(Row(0).Defect->isChecked()) << "the switches are not touched";
}

TEST_F(DefectWindow, TickWhileTheLinkIsBusySendsTheMoveOnceItIsFree) {
    Page().kizu_right->click();
    Row(3).Defect->click();  // a command in flight
    port.TakeWire();
    Page().kizu_auto_timerTimer();
    EXPECT_TRUE(port.TakeWire().empty());
    EXPECT_EQ(Text(Row(0).x), "") << "not stored in the slot yet";
    Page().kizu_right->click();  // a second move meanwhile: its position is the one sent
    EXPECT_EQ(AcceptWrite(), AckThen(Frame({kW, kD, 0x02, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01})));
    EXPECT_EQ(Text(Row(0).x), "0002");
}

TEST_F(DefectWindow, MoveWhileASearchStepIsOutstandingIsKeptAndSentAfterIt) {
    Page().kizu_ax->setText("0010");
    Page().kizu_ay->setText("0020");
    Page().kizu_next->click();
    ASSERT_EQ(port.TakeWire(), Frame({kW, kD, 0x31}));
    Page().kizu_left->click();
    Page().kizu_auto_timerTimer();
    EXPECT_TRUE(port.TakeWire().empty());
    // Next finds a defect in slot C; the user's position goes out after it, into that slot.
    EXPECT_EQ(Answer({kOk, kD, 0x31, 0, 3, 0x01, 0x23, 0x00, 0x45, 1, 0}),
              AckThen(Frame({kW, kD, 0x02, 0x02, 0x00, 0x0F, 0x00, 0x20, 0x00, 0x00, 0x01})));
    EXPECT_EQ(Text(Page().kizu_rtn_x), "0123") << "the result is shown";
    EXPECT_EQ(Text(Page().kizu_ax), "000F") << "the cursor is the user's";
}

struct ReleaseCase {
    const char* name;
    int px, py;
    const char* x;
    const char* y;
};

void PrintTo(const ReleaseCase& c, std::ostream* os) { *os << c.name; }

class PictureRelease : public DefectWindow, public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(PictureRelease, GivesTheSensorPositionWithinTheSensor) {
    const ReleaseCase& c = GetParam();
    Page().Shape1MouseUp(c.px, c.py);
    EXPECT_EQ(Text(Page().kizu_ax), c.x);
    EXPECT_EQ(Text(Page().kizu_ay), c.y);
    EXPECT_TRUE(window->kizu_auto_timer->isActive());
}

// A 200 × 150 picture of an 800 × 256 sensor.
INSTANTIATE_TEST_SUITE_P(Releases, PictureRelease,
                         ::testing::Values(ReleaseCase{"centre", 100, 75, "0190", "0080"},
                                           ReleaseCase{"beyond_the_lower_right_edge", 260, 400, "031F", "00FF"},
                                           ReleaseCase{"beyond_the_upper_left_edge", -20, -5, "0000", "0000"}),
                         [](const ::testing::TestParamInfo<ReleaseCase>& i) { return std::string(i.param.name); });

TEST_F(DefectWindow, PictureClickSendsThePositionAndTheDotFollowsTheReply) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_EQ(Page().Shape1->size(), QSize(200, 150));
    QTest::mouseClick(Page().Shape1, Qt::LeftButton, {}, QPoint(100, 75));
    EXPECT_EQ(Text(Page().kizu_ax), "0190");
    EXPECT_EQ(Text(Page().kizu_ay), "0080");
    const QPoint before = Page().Shape2->pos();
    Page().kizu_auto_timerTimer();
    EXPECT_EQ(port.TakeWire(), Frame({kW, kD, 0x02, 0x00, 0x01, 0x90, 0x00, 0x80, 0x00, 0x00, 0x01}));
    EXPECT_EQ(Page().Shape2->pos(), before) << "the dot moves with the reply";
    AcceptWrite();
    EXPECT_EQ(Page().Shape2->pos() - Page().Shape1->pos(), QPoint(100, 75));
    EXPECT_TRUE(Page().Shape2->isVisible());
}

TEST_F(DefectWindow, SlotOWithCursorDisplayMarksThePosition) {
    Page().Kizu_abc->SetItemIndex(14);
    EXPECT_EQ(port.TakeWire(), Frame({kW, kD, 0x01, 0x00, 0x00})) << "display off";
    AcceptWrite();
    Page().kizu_sel->click();
    EXPECT_EQ(port.TakeWire(), Frame({kW, kD, 0x01, 0x0F, 0x00}));
    AcceptWrite();
    Page().kizu_down->click();
    Page().kizu_auto_timerTimer();
    EXPECT_EQ(port.TakeWire(), Frame({kW, kD, 0x02, 0x0E, 0x00, 0x00, 0x00, 0x01, 0x01, 0x0F, 0x01}));
    AcceptWrite();

    Page().Kizu_abc->SetItemIndex(13);
    EXPECT_EQ(port.TakeWire(), Frame({kW, kD, 0x01, 0x0E, 0x00}));
    AcceptWrite();
    Page().kizu_down->click();
    Page().kizu_auto_timerTimer();
    EXPECT_EQ(port.TakeWire(), Frame({kW, kD, 0x02, 0x0D, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01}))
        << "another slot: no marks; N's empty position was loaded into the cursor";
}

TEST_F(DefectWindow, ChoosingASlotLoadsItsPositionOnlyWhenTheLinkIsIdle) {
    Table t;
    t.Set(1, 0x0042, 0x0043);
    t.Set(2, 0x0052, 0x0053);
    ReadTable(t);
    Page().kizu_ax->setText("0007");
    Row(0).Defect->click();  // a command in flight
    port.TakeWire();
    Page().Kizu_abc->SetItemIndex(1);
    EXPECT_EQ(Page().Kizu_abc->ItemIndex(), 1);
    EXPECT_TRUE(port.TakeWire().empty());
    EXPECT_EQ(Text(Page().kizu_ax), "0007");
    AcceptWrite();
    Page().Kizu_abc->SetItemIndex(2);
    EXPECT_EQ(port.TakeWire(), Frame({kW, kD, 0x01, 0x00, 0x00}));
    EXPECT_EQ(Text(Page().kizu_ax), "0052");
    EXPECT_EQ(Text(Page().kizu_ay), "0053");
}

struct KeyCase {
    const char* name;
    const char* target;
    char key;
    const char* x;
    const char* y;
    bool display;
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class CursorKeys : public DefectWindow, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(CursorKeys, MoveTheCursorOrToggleTheDisplay) {
    const KeyCase& c = GetParam();
    Page().kizu_ax->setText("0010");
    Page().kizu_ay->setText("0010");
    QTest::keyClick(window->findChild<QWidget*>(c.target), c.key);
    EXPECT_EQ(Text(Page().kizu_ax), c.x);
    EXPECT_EQ(Text(Page().kizu_ay), c.y);
    EXPECT_EQ(Page().kizu_sel->isChecked(), c.display);
    const Bytes wire = port.TakeWire();
    if (c.display) {
        EXPECT_EQ(wire, Frame({kW, kD, 0x01, 0x01, 0x00}));
    } else {
        EXPECT_TRUE(wire.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, CursorKeys,
                         ::testing::Values(KeyCase{"i_on_Up", "kizu_up", 'i', "0010", "000F", false},
                                           KeyCase{"K_on_Left", "kizu_left", 'K', "0010", "0011", false},
                                           // the display switch loads slot A's (empty) position into the cursor
                                           KeyCase{"o_on_Right", "kizu_right", 'o', "", "", true},
                                           KeyCase{"5_on_Cursor_Display", "kizu_sel", '5', "", "", true},
                                           KeyCase{"x_is_ignored", "kizu_up", 'x', "0010", "0010", false}),
                         [](const ::testing::TestParamInfo<KeyCase>& i) { return std::string(i.param.name); });

// ---- against the virtual camera -------------------------------------------------------------

class DefectCamera : public ::testing::Test {
protected:
    void Start(camera::CameraOptions options = {}) {
        camera = std::make_unique<camera::PtyCamera>(options);
        camera->Start();
        window = std::make_unique<app::TFTern>(
            link::ToolMode::Kizu, link::PortDevices{camera->DevicePath(), "/nonexistent/ternab-com2"}, AutoClose);
        ASSERT_TRUE(Idle());
    }

    void TearDown() override {
        window.reset();
        if (camera) camera->Stop();
    }

    /// No chain, no frame in flight, no defect lock.
    bool Idle() {
        return WaitFor([&] {
            return window->Link().Mode() == link::LinkMode::Idle && window->LoadStep() == 0 && !window->Link().LinkBusy() &&
                   !window->Engine().DefectLock() && window->SensorHeight() != 1;
        });
    }

    std::uint64_t Frames() const { return camera->PeerStatistics().framesReceived; }
    DefectPage& Page() { return window->Defect(); }
    std::string X(int slot) { return Text(Page().Rows(slot).x); }
    std::string Y(int slot) { return Text(Page().Rows(slot).y); }

    std::unique_ptr<camera::PtyCamera> camera;
    std::unique_ptr<app::TFTern> window;
};

TEST_F(DefectCamera, LoadReadsTheCamerasTableInSixPieces) {
    camera::CameraOptions o;
    o.table = {{0, 100, 80, true, false, false}, {2, 0x155, 0x1AA, true, true, false}, {7, 1023, 511, false, false, true},
               {12, 12, 34, true, true, true}, {14, 7, 8, true, false, false}};
    Start(o);
    const auto before = Frames();
    Page().kizu_load->click();
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Frames() - before, 6u) << "six pieces, and no row switch sent back";
    EXPECT_EQ(X(0) + Y(0), "00640050");
    EXPECT_EQ(X(2) + Y(2), "015501AA");
    EXPECT_TRUE(Page().Rows(2).fix->isChecked());
    EXPECT_EQ(X(7) + Y(7), "03FF01FF");
    EXPECT_TRUE(!Page().Rows(7).Defect->isChecked() && Page().Rows(7).rev->isChecked());
    EXPECT_EQ(X(12) + Y(12), "000C0022");
    EXPECT_TRUE(Page().Rows(12).Defect->isChecked() && Page().Rows(12).fix->isChecked() && Page().Rows(12).rev->isChecked());
    EXPECT_EQ(X(14) + Y(14), "00070008");
    EXPECT_EQ(X(5) + Y(5), "00000000");
    EXPECT_TRUE(window->Messages.empty());
}

TEST_F(DefectCamera, FailingPieceReleasesTheLockAndTheRowsSendAgain) {
    camera::CameraOptions o;
    o.failPiece = 1;
    Start(o);
    const auto before = Frames();
    Page().kizu_load->click();
    ASSERT_TRUE(Idle()) << "the lock is released";
    EXPECT_EQ(Frames() - before, 2u);
    ASSERT_EQ(window->Messages.size(), 1u);
    EXPECT_EQ(window->Messages[0].text, " Error ");

    Page().Rows(4).Defect->click();
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Frames() - before, 3u);
    EXPECT_TRUE(camera->WithModel([](camera::CameraModel& m) { return m.Slot(4).enabled; }));
}

TEST_F(DefectCamera, SearchFindsThePlantedDefectsOneByOne) {
    camera::CameraOptions o;
    o.defects = {{300, 200, true, false}, {100, 80, false, false}};
    o.table = {{5, 1, 1, true, false, false}};
    Start(o);
    Page().kizu_load->click();
    ASSERT_TRUE(Idle());
    ASSERT_TRUE(Page().Rows(5).Defect->isChecked());

    Page().kizu_start->click();
    ASSERT_TRUE(Idle());
    EXPECT_FALSE(Page().Rows(5).Defect->isChecked()) << "Start clears the switches";
    EXPECT_EQ(Page().kizu_rtn->ItemIndex(), 0);
    EXPECT_EQ(Page().Kizu_abc->ItemIndex(), 0);
    EXPECT_EQ(X(0), "0064");
    EXPECT_EQ(Y(0), "0050");
    EXPECT_TRUE(Page().Rows(0).Defect->isChecked());

    Page().kizu_next->click();
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Page().Kizu_abc->ItemIndex(), 1);
    EXPECT_EQ(X(1), "012C");
    EXPECT_EQ(Y(1), "00C8");
    EXPECT_TRUE(Page().Rows(1).fix->isChecked());
    EXPECT_EQ(Text(Page().kizu_ax), "012C");

    Page().kizu_retry->click();
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Page().Kizu_abc->ItemIndex(), 1) << "Retry reports the same defect";

    Page().kizu_next->click();
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Page().kizu_rtn->ItemIndex(), 1) << "the end: not found";
    EXPECT_EQ(Page().Kizu_abc->ItemIndex(), -1);

    // The rows now agree with the camera's table.
    Page().kizu_load->click();
    ASSERT_TRUE(Idle());
    EXPECT_EQ(X(1), "012C");
    EXPECT_TRUE(Page().Rows(1).Defect->isChecked());
    EXPECT_FALSE(Page().Rows(5).Defect->isChecked());
    EXPECT_TRUE(window->Messages.empty());
}

TEST_F(DefectCamera, OneClickOnASlotTheCameraFilledSendsOneFrame) {
    camera::CameraOptions o;
    o.table = {{14, 7, 8, true, false, false}};
    o.defects = {{300, 200, true, false}};
    Start(o);
    Page().kizu_load->click();
    ASSERT_TRUE(Idle());
    const auto slot = [&](int s) { return camera->WithModel([s](camera::CameraModel& m) { return m.Slot(s); }); };
    auto before = Frames();
    Page().Rows(14).Defect->click();  // filled by the table's last piece
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Frames() - before, 1u);
    EXPECT_FALSE(slot(14).enabled);

    Page().kizu_start->click();  // the search writes its find into slot A, FIX on
    ASSERT_TRUE(Idle());
    ASSERT_TRUE(Page().Rows(0).fix->isChecked());
    before = Frames();
    Page().Rows(0).fix->click();
    ASSERT_TRUE(Idle());
    EXPECT_EQ(Frames() - before, 1u);
    EXPECT_FALSE(slot(0).fix);
}

struct CameraKind {
    const char* name;
    bool hi;
    bool pal;
    std::array<std::uint8_t, 3> parameters;
};

void PrintTo(const CameraKind& c, std::ostream* os) { *os << c.name; }

class SearchStartOnCamera : public DefectCamera, public ::testing::WithParamInterface<CameraKind> {};

TEST_P(SearchStartOnCamera, CarriesTheParametersOfTheCamerasResolutionAndStandard) {
    camera::CameraOptions o;
    o.highResolution = GetParam().hi;
    o.pal = GetParam().pal;
    Start(o);
    Page().kizu_start->click();
    ASSERT_TRUE(Idle());
    const auto got = camera->WithModel([](camera::CameraModel& m) { return m.SearchParameters(); });
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(*got, GetParam().parameters);
}

INSTANTIATE_TEST_SUITE_P(Cameras, SearchStartOnCamera,
                         ::testing::Values(CameraKind{"hi_ntsc", true, false, {0xC9, 0x0C, 0x78}},
                                           CameraKind{"hi_pal", true, true, {0xC6, 0x0C, 0x8C}},
                                           CameraKind{"lo_ntsc", false, false, {0xC7, 0x08, 0x78}},
                                           CameraKind{"lo_pal", false, true, {0xC2, 0x06, 0x8D}}),
                         [](const ::testing::TestParamInfo<CameraKind>& i) { return std::string(i.param.name); });

TEST_F(DefectCamera, CursorMovesReachTheCameraAfterTheTick) {
    camera::CameraOptions o;
    o.table = {{0, 100, 80, true, true, false}, {7, 300, 200, false, false, true}};
    Start(o);
    Page().Kizu_abc->SetItemIndex(2);
    ASSERT_TRUE(Idle());
    for (int i = 0; i < 3; ++i) Page().kizu_right->click();
    Page().SpinEdit1->SetValue(4);
    Page().kizu_down->click();
    Page().kizu_auto_timerTimer();
    ASSERT_TRUE(Idle());
    const auto cursor = camera->WithModel([](camera::CameraModel& m) { return m.LastCursor(); });
    ASSERT_TRUE(cursor.has_value());
    EXPECT_EQ(*cursor, (camera::CursorCommand{2, 3, 4, 0, 0}));
    EXPECT_EQ(camera->WithModel([](camera::CameraModel& m) { return m.Slot(2).x; }), 3);

    // The window's own timer sends, too.
    Page().kizu_left->click();
    EXPECT_TRUE(WaitFor([&] {
        const auto c = camera->WithModel([](camera::CameraModel& m) { return m.LastCursor(); });
        return c && c->x == 0 && c->y == 4;
    })) << "step 4 from 3 stops at 0";
    EXPECT_FALSE(window->kizu_auto_timer->isActive());

    if (const char* dir = std::getenv("TERN_DEFECT_SCREENSHOT")) {
        // For the eyes: the page with a table and a cursor, as the tool shows it.
        Page().kizu_load->click();
        ASSERT_TRUE(Idle());
        window->show();
        window->grab().save(QString::fromLocal8Bit(dir));
    }
}

}  // namespace
}  // namespace tern::test
