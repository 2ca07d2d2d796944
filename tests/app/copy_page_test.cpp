// The Copy page in the real window: copies against the virtual camera over a
// pseudo-terminal, and the questions, refusals and stops over a fake port.
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/MTern.h"
#include "app/window_fixture.h"
#include "camera/pty_camera.h"
#include "copy/CopyPage.h"
#include "link/protocol.h"
#include "temp_dir.h"
#include "test_names.h"
#include "transfer/SettingsFile.h"
#include "widgets/RadioGroup.h"

namespace tern::test {
namespace {

using app::TFTern;
using copy::CopyPage;
using transfer::CopyMode;
using transfer::MemoryWords;

/// Answers each file dialog the window runs with the next path (selected and
/// accepted once the dialog's loop runs); an empty path cancels it.
class DialogAnswers {
public:
    void Install(TFTern& w) {
        w.OnDialog = [this](QDialog& d) {
            shown.push_back(d.objectName().toStdString());
            const QString path = next < paths.size() ? QString::fromStdString(paths[next++]) : QString();
            auto* fd = qobject_cast<QFileDialog*>(&d);
            QTimer::singleShot(0, &d, [fd, &d, path] {
                if (path.isEmpty() || fd == nullptr) {
                    d.reject();
                    return;
                }
                fd->selectFile(path);
                d.accept();  // QFileDialog::accept, through the dialog
            });
        };
    }
    std::vector<std::string> paths;
    std::size_t next = 0;
    std::vector<std::string> shown;  // the dialogs run, by name
};

/// Answers a Yes/No box with `yes`; other boxes are closed.
std::function<void(QMessageBox&)> Answering(bool yes) {
    return [yes](QMessageBox& box) {
        QTimer::singleShot(0, &box, [&box, yes] {
            if (QAbstractButton* b = box.button(yes ? QMessageBox::Yes : QMessageBox::No)) {
                b->click();
            } else {
                box.accept();
            }
        });
    };
}

/// A camera memory with a different value in every word.
camera::MemoryImage Pattern(std::uint16_t seed) {
    camera::MemoryImage m{};
    for (std::size_t a = 0; a < m.size(); ++a) m[a] = static_cast<std::uint16_t>(seed ^ (a * 0x9E37u) ^ (a << 3));
    return m;
}

MemoryWords WordsOf(const camera::MemoryImage& m) {
    MemoryWords w{};
    for (std::size_t a = 0; a < m.size(); ++a) w[a] = m[a];
    return w;
}

// ---- against the virtual camera -----------------------------------------------------------

class CopyCamera : public ::testing::Test {
protected:
    void Start(const camera::MemoryImage& memory) {
        camera = std::make_unique<camera::PtyCamera>();
        camera->WithModel([&](camera::CameraModel& m) { m.SetMemory(memory); });
        camera->Start();
        window = std::make_unique<TFTern>(link::ToolMode::Dbg,
                                          link::PortDevices{camera->DevicePath(), "/nonexistent/ternab-com2"}, AutoClose);
        window->OnReply = [this] { ++replies; };
        dialogs.Install(*window);
        ASSERT_TRUE(Settled(2));
        window->PageControl1->setCurrentIndex(Tab(link::Page::Copy));
        ASSERT_TRUE(Settled(4));
    }

    void TearDown() override {
        window.reset();
        if (camera) camera->Stop();
    }

    /// `count` replies handled, no chain running, nothing in flight.
    bool Settled(int count) {
        return WaitFor([&] { return replies >= count && window->LoadStep() == 0 && !window->Link().LinkBusy(); });
    }
    bool CopyEnded() { return WaitFor([&] { return !Page().Copier().Active(); }, 60000); }

    camera::MemoryImage Memory() {
        return camera->WithModel([](camera::CameraModel& m) { return m.Memory(); });
    }

    CopyPage& Page() { return window->CopyPage(); }

    std::unique_ptr<camera::PtyCamera> camera;
    std::unique_ptr<TFTern> window;
    DialogAnswers dialogs;
    int replies = 0;
    TempDir dir;
};

TEST_F(CopyCamera, CameraToPcWritesTheFileTernctlBackupWrites) {
    const camera::MemoryImage memory = Pattern(0x5A3C);
    Start(memory);
    const std::string path = dir.File("camera.dat");
    const transfer::RegisterShadow registers = window->Engine().Registers();
    dialogs.paths = {path};

    Page().CtopOK2Click();
    ASSERT_TRUE(CopyEnded());

    EXPECT_EQ(dialogs.shown, std::vector<std::string>{"SaveDialog1"});
    EXPECT_TRUE(window->Messages.empty());
    EXPECT_FALSE(Page().complete2->isHidden());
    EXPECT_EQ(Page().Copy_select->ItemIndex(), 0);
    EXPECT_EQ(Page().Label35->text(), "Camera->PC");
    EXPECT_EQ(Page().Copyfname2->text().toStdString(), path);
    EXPECT_EQ(Page().ProgressBar3->value(), Page().ProgressBar3->maximum());
    const std::string written = Slurp(path);
    EXPECT_EQ(written, transfer::FormatSettingsFile(WordsOf(memory)));
    EXPECT_EQ(written.size(), transfer::kSettingsFileSize);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"camera.dat"});  // no temporary file left
    // The memory words never became register values.
    EXPECT_EQ(window->Engine().Registers(), registers);

#ifdef TERNCTL_PATH
    // ternctl backup of the same camera writes the same bytes.
    window.reset();
    const std::string cli = dir.File("cli.dat");
    const std::string cmd = std::string(TERNCTL_PATH) + " backup --quiet --port " + camera->DevicePath() + " " + cli;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    EXPECT_EQ(Slurp(cli), written);
#endif
}

TEST_F(CopyCamera, BatchIntoAnotherCameraThenSameFileNameWithoutADialog) {
    const camera::MemoryImage source = Pattern(0x1234);
    const camera::MemoryImage target = Pattern(0xBEEF);
    Start(target);
    const std::string path = dir.File("source.dat");
    Put(path, transfer::FormatSettingsFile(WordsOf(source)));
    dialogs.paths = {path};

    Page().ptocOk2Click();
    ASSERT_TRUE(CopyEnded());
    EXPECT_TRUE(window->Messages.empty());
    EXPECT_FALSE(Page().complete2->isHidden());
    EXPECT_EQ(Page().Label35->text(), "PC->Camera");
    EXPECT_EQ(Page().Copy_select->ItemIndex(), 2);
    EXPECT_TRUE(Page().Same->isChecked());
    camera::MemoryImage expected = source;
    expected[transfer::kLastWord] = target[transfer::kLastWord];  // the file does not name it: sent back unchanged
    EXPECT_EQ(Memory(), expected);
    EXPECT_EQ(camera->WithModel([](camera::CameraModel& m) { return m.Resets(); }), 1);

    // The reload that follows the reset reads the two registers and nothing else.
    const int before = replies;
    window->ReloadTimerTimer();
    ASSERT_TRUE(Settled(before + 2));
    EXPECT_EQ(replies, before + 2);

    // The next camera (here the same one, changed meanwhile) takes the same file without a dialog.
    camera->WithModel([](camera::CameraModel& m) { m.SetMemoryWord(5, 0x0000); });
    Page().ptocOk2Click();
    ASSERT_TRUE(CopyEnded());
    EXPECT_EQ(dialogs.shown, std::vector<std::string>{"OpenDialog1"});
    EXPECT_EQ(Memory(), expected);
    EXPECT_TRUE(window->Messages.empty());
}

TEST_F(CopyCamera, WhatTheFileHidIsSaidOnceTheBatchCompletes) {
    Start(Pattern(0x0F0F));
    const std::string path = dir.File("source.dat");
    const std::string whole = transfer::FormatSettingsFile(WordsOf(Pattern(0x1234)));
    // Word 012 written again with another value; a Ctrl-Z cuts off the last record.
    Put(path, whole.substr(0, 511 * 32) + transfer::WordRecord(0x12, 0x5555) + "\x1A" + whole.substr(511 * 32));
    dialogs.paths = {path};
    Page().ptocOk2Click();
    ASSERT_TRUE(CopyEnded());
    EXPECT_FALSE(Page().complete2->isHidden());
    ASSERT_EQ(window->Messages.size(), 1u);
    EXPECT_EQ(window->Messages[0].text,
              "Complete, but:\nthe file ends at the Ctrl-Z on line 513; 32 bytes after it were not read\n"
              "word 012 is written more than once with different values; the last record of each is used");
    EXPECT_EQ(Memory()[0x12], 0x5555);
}

TEST_F(CopyCamera, SingleReplaysEveryRecordAndEndsWithTheReset) {
    const camera::MemoryImage source = Pattern(0x7777);
    const camera::MemoryImage target = Pattern(0x0F0F);
    Start(target);
    const std::string path = dir.File("single.dat");
    Put(path, transfer::FormatSettingsFile(WordsOf(source)));
    dialogs.paths = {path};
    const auto framesBefore = camera->PeerStatistics().framesReceived;

    Page().ptocOkClick();
    ASSERT_TRUE(CopyEnded());
    EXPECT_TRUE(window->Messages.empty());
    EXPECT_EQ(camera->PeerStatistics().framesReceived - framesBefore, 512u);  // 511 words and the reset
    camera::MemoryImage expected = source;
    expected[transfer::kLastWord] = target[transfer::kLastWord];
    EXPECT_EQ(Memory(), expected);
    EXPECT_EQ(camera->WithModel([](camera::CameraModel& m) { return m.Resets(); }), 1);
    EXPECT_TRUE(Page().Copier().Outcome().endedByReset);
    EXPECT_FALSE(Page().complete2->isHidden());  // a copy that ended well says so
    EXPECT_EQ(Page().Label35->text(), "PC->Camera(Single)");
}

TEST_F(CopyCamera, DeviceGoneMidCopyLeavesTheOldFileAndSaysSo) {
    Start(Pattern(0x2468));
    const std::string path = dir.File("old.dat");
    Put(path, "old contents\r\n");
    dialogs.paths = {path};
    window->OnMessageBox = Answering(true);
    // The cable is pulled once the copy has read a few words.
    const int pullAt = replies + 10;
    window->OnReply = [this, pullAt] {
        if (++replies == pullAt) camera->HangUp();
    };

    Page().CtopOK2Click();
    ASSERT_TRUE(WaitFor([&] { return window->Messages.size() >= 2; }));  // the question, then the device gone
    // The copy ends, on a refused write or as soon as the device is reported
    // gone; the window says the device went away.
    const auto goneShown = [&] {
        return std::any_of(window->Messages.begin(), window->Messages.end(),
                           [](const auto& m) { return m.text.find("went away") != std::string::npos; });
    };
    ASSERT_TRUE(WaitFor([&] { return !Page().Copier().Active() && goneShown(); }));
    EXPECT_FALSE(Page().Copier().Active());
    EXPECT_EQ(Page().Copier().Outcome().result, transfer::CopyResult::Aborted);
    EXPECT_TRUE(Page().complete2->isHidden());
    // Failed, and it says so where the count stood; the buttons are free.
    EXPECT_EQ(Page().ProgressBar3->text().toStdString(), "Failed: no file written");
    EXPECT_TRUE(std::any_of(window->Messages.begin(), window->Messages.end(),
                            [](const auto& m) { return m.text.find("no file written") != std::string::npos; }));
    // The pages as a whole wait for the camera to come back.
    for (QPushButton* b : {Page().CtopOK2, Page().ptocOk, Page().ptocOk2}) EXPECT_TRUE(b->isEnabledTo(window->PageControl1));
    EXPECT_EQ(Slurp(path), "old contents\r\n");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"old.dat"});
}

TEST_F(CopyCamera, CopyGoesOnWhenAnotherTabIsClickedAndThatPageIsReadOnceItEnds) {
    const camera::MemoryImage memory = Pattern(0x5A3C);
    Start(memory);
    const std::string path = dir.File("camera.dat");
    dialogs.paths = {path};
    const int start = replies;
    int atEnd = -1;
    window->OnReply = [this, start] {
        if (++replies != start + 17) return;  // the user clicks Setup2 once 17 words are in
        QTimer::singleShot(0, window.get(), [this] { window->PageControl1->setCurrentIndex(Tab(link::Page::Setup2)); });
    };
    QObject::connect(&Page(), &CopyPage::Ended, [&] { atEnd = replies + 1; });  // within the last reply

    Page().CtopOK2Click();
    ASSERT_TRUE(CopyEnded());
    EXPECT_EQ(Page().Copier().Outcome().result, transfer::CopyResult::Complete);
    EXPECT_EQ(Slurp(path), transfer::FormatSettingsFile(WordsOf(memory)));
    EXPECT_EQ(atEnd - start, 512) << "every word, and nothing else, while the copy ran";
    EXPECT_TRUE(Page().CtopOK2->isEnabled());
    ASSERT_TRUE(Settled(atEnd + 3)) << "the page shown is read after the copy";
    EXPECT_TRUE(window->Messages.empty());
}

// ---- over a fake port -------------------------------------------------------------------------

class CopyWindow : public WindowTest {
protected:
    /// Connected in DBG mode with the Copy page shown and read.
    void OnCopyPage() {
        Ready(link::ToolMode::Dbg);
        window->PageControl1->setCurrentIndex(Tab(link::Page::Copy));
        FinishChain();
        port.TakeWire();
        dialogs.Install(*window);
    }
    CopyPage& Page() { return window->CopyPage(); }

    /// Answers memory-word reads with the word's own address as its value,
    /// `count` of them (or while the copy keeps reading).
    void AnswerReads(int count) {
        for (int i = 0; i < count; ++i) {
            const auto& f = window->Link().CmdFrame();
            ASSERT_EQ(f[1], link::kGroupRead);
            ASSERT_EQ(f[2], link::kItemMemory);
            Answer({link::kStatusAccepted, link::kItemMemory, f[3], f[4], f[3], f[4]});
        }
    }

    DialogAnswers dialogs;
    TempDir dir;
};

// A copy's replies come 24 times a second: what they change is painted a
// few times a second, and no reply lays the window out again.
TEST_F(CopyWindow, RepliesDuringACopyArePaintedAtThePaintsPaceNotEachOne) {
    OnCopyPage();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    dialogs.paths = {dir.File("new.dat")};
    Page().CtopOK2Click();
    AnswerReads(1);
    QApplication::processEvents();  // anything the start left to lay out or paint
    struct Count : QObject {
        std::map<QObject*, std::map<QEvent::Type, int>> seen;
        bool eventFilter(QObject* o, QEvent* e) override {
            ++seen[o][e->type()];
            return false;
        }
    } count;
    QLabel* command = window->StatusPanels[1];
    const std::vector<QObject*> watched{window.get(), window->StatusBar1, command, Page().ProgressBar3};
    for (QObject* o : watched) o->installEventFilter(&count);
    AnswerReads(20);
    QApplication::processEvents();
    for (QObject* o : watched) {
        EXPECT_EQ(count.seen[o][QEvent::LayoutRequest], 0) << o->objectName().toStdString();
        EXPECT_EQ(count.seen[o][QEvent::Paint], 0) << o->objectName().toStdString();
    }
    window->CopyPaintTimerTimer();
    EXPECT_GE(count.seen[Page().ProgressBar3][QEvent::Paint], 1);
    EXPECT_GE(count.seen[command][QEvent::Paint], 1);
    EXPECT_EQ(Page().ProgressBar3->text().toStdString(), "21 / 512 words (4%)");
    EXPECT_EQ(command->text().toStdString(), link::HexBytesText(std::span<const std::uint8_t>(
                                                 window->Link().CmdFrame().data() + 1, link::kPayloadSize)));
    Page().CancelClick();
    EXPECT_FALSE(Page().Copier().Active());
}

struct OverwriteCase {
    const char* name;
    bool yes;
    Bytes sent;
};

class OverwriteQuestion : public CopyWindow, public ::testing::WithParamInterface<OverwriteCase> {};

TEST_P(OverwriteQuestion, AsksByNameAndOnlyYesStartsTheCopy) {
    OnCopyPage();
    const std::string path = dir.File("old.dat");
    Put(path, "old contents\r\n");
    dialogs.paths = {path};
    window->OnMessageBox = Answering(GetParam().yes);

    Page().CtopOK2Click();

    ASSERT_EQ(window->Messages.size(), 1u);
    EXPECT_EQ(window->Messages[0].text, "Do you really want to over write old.dat?");
    EXPECT_EQ(port.TakeWire(), GetParam().sent);
    EXPECT_EQ(Slurp(path), "old contents\r\n");  // nothing is written before every word is in
    EXPECT_EQ(Page().Copier().Active(), GetParam().yes);
}

INSTANTIATE_TEST_SUITE_P(Answers, OverwriteQuestion,
                         ::testing::Values(OverwriteCase{"No_sends_nothing", false, {}},
                                           OverwriteCase{"Yes_reads_word_0", true,
                                                         Frame({link::kGroupRead, link::kItemMemory, 0x00, 0x00})}),
                         [](const ::testing::TestParamInfo<OverwriteCase>& i) { return std::string(i.param.name); });

struct BadFileCase {
    const char* name;
    const char* text;  // nullptr: the file does not exist
    const char* line;  // what the message names, if anything
    bool fifo = false;  // the file is a FIFO (opening it to read would block)
};

const BadFileCase kBadFiles[] = {
    {"non_hex_digit_in_a_word_write", "210C0001ABCD000000000000000000\r\n210C00G2ABCD000000000000000000\r\n", "line 2"},
    {"odd_number_of_digits", "210C0001ABC\r\n", "line 1"},
    {"last_record_cut_short", "210C0001ABCD000000000000000000\r\n210C0002AB", "line 2"},
    {"word_write_without_its_value", "210C0001\r\n", "line 1"},
    {"empty_file", "", ""},
    {"missing_file", nullptr, ""},
    {"fifo", nullptr, "not a regular file (a FIFO)", true},
};

struct BadFileRow {
    bool batch;
    BadFileCase file;
};

class MalformedFile : public CopyWindow, public ::testing::WithParamInterface<BadFileRow> {};

TEST_P(MalformedFile, IsRefusedWithItsLineAndNothingIsSent) {
    OnCopyPage();
    const BadFileRow& row = GetParam();
    const std::string path = dir.File("bad.dat");
    if (row.file.text != nullptr) Put(path, row.file.text);
    if (row.file.fifo) {
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    }
    dialogs.paths = {path};

    if (row.batch) {
        Page().ptocOk2Click();
    } else {
        Page().ptocOkClick();
    }

    ASSERT_EQ(window->Messages.size(), 1u);
    const std::string& text = window->Messages[0].text;
    EXPECT_EQ(text.rfind(transfer::kMsgFileRead, 0), 0u) << text;
    EXPECT_NE(text.find(row.file.line), std::string::npos) << text;
    EXPECT_EQ(window->Messages[0].caption, transfer::kCapFile);
    EXPECT_TRUE(port.TakeWire().empty());
    EXPECT_FALSE(Page().Copier().Active());
    EXPECT_TRUE(Page().complete2->isHidden());
    EXPECT_FALSE(Page().Same->isChecked());
}

std::vector<BadFileRow> BadFileRows() {
    std::vector<BadFileRow> rows;
    for (bool batch : {false, true})
        for (const BadFileCase& f : kBadFiles) rows.push_back({batch, f});
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Files, MalformedFile, ::testing::ValuesIn(BadFileRows()),
                         [](const ::testing::TestParamInfo<BadFileRow>& i) {
                             return std::string(i.param.batch ? "batch_" : "single_") + i.param.file.name;
                         });

// A message that answers the user's own action is shown each time, however
// often the same text comes: folding repeats is for the camera's line noise.
TEST_F(CopyWindow, TheSameFileErrorIsShownForEachAttempt) {
    OnCopyPage();
    const std::string path = dir.File("missing.dat");
    dialogs.paths = {path, path};
    Page().ptocOkClick();
    Page().ptocOk2Click();
    ASSERT_EQ(window->Messages.size(), 2u);
    EXPECT_EQ(window->Messages[0].text, window->Messages[1].text);
    EXPECT_TRUE(port.TakeWire().empty());
}

enum class Stop { ErrorStatus, OtherItem, GiveUp };

struct StopCase {
    const char* name;
    bool single;
    Stop stop;
    std::string text;
    std::string caption;
    std::string then;  ///< a second message, if any
};

const std::string kThreeOf512 =
    "3 of 512 records reached the camera, which now holds part old, part new settings: restore the whole file again";

class StoppedCopy : public CopyWindow, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StoppedCopy, StopsOnceKeepsTheOldFileAndTheReloadNeverResumesIt) {
    const StopCase& c = GetParam();
    OnCopyPage();
    const std::string target = dir.File("old.dat");
    Put(target, "old contents\r\n");
    if (c.single) {
        const std::string source = dir.File("source.dat");
        MemoryWords words = transfer::NoWords();
        for (int a = 0; a < transfer::kFileWords; ++a) words[static_cast<std::size_t>(a)] = a;
        Put(source, transfer::FormatSettingsFile(words));
        dialogs.paths = {source};
        Page().ptocOkClick();
        for (int i = 0; i < 3; ++i) AnswerLast();
    } else {
        dialogs.paths = {target};
        window->OnMessageBox = Answering(true);
        Page().CtopOK2Click();
        AnswerReads(3);
        window->Messages.clear();
        window->OnMessageBox = AutoClose;
    }
    ASSERT_TRUE(Page().Copier().Active());

    const auto& f = window->Link().CmdFrame();
    switch (c.stop) {
        case Stop::ErrorStatus: Answer({0xE0, f[2], f[3], f[4]}); break;
        case Stop::OtherItem: Answer({link::kStatusAccepted, link::kItemRegister, 0x01, 0x40, 0x00}); break;
        case Stop::GiveUp:
            for (int tick = 0; tick < 200 && window->Messages.empty(); ++tick) window->SendTimerTimer();
            break;
    }

    const std::size_t messages = c.then.empty() ? 1u : 2u;
    ASSERT_EQ(window->Messages.size(), messages);
    EXPECT_EQ(window->Messages[0].text, c.text);
    EXPECT_EQ(window->Messages[0].caption, c.caption);
    if (messages == 2) {
        EXPECT_EQ(window->Messages[1].text, c.then);
    }
    EXPECT_FALSE(Page().Copier().Active());
    EXPECT_TRUE(Page().complete2->isHidden());
    EXPECT_EQ(Slurp(target), "old contents\r\n");
    EXPECT_EQ(dir.Entries().size(), c.single ? 2u : 1u);

    // The page's own reload reads registers 1 and 64, and its replies go no further.
    port.TakeWire();
    window->ReLoad->trigger();
    EXPECT_EQ(port.TakeWire(), Frame({link::kGroupRead, link::kItemRegister, 0x01}));
    EXPECT_EQ(AnswerLast(), AckThen(Frame({link::kGroupRead, link::kItemRegister, 0x40})));
    EXPECT_EQ(AnswerLast(), Ack());
    EXPECT_EQ(window->LoadStep(), 0);
    EXPECT_EQ(window->Messages.size(), messages);
    EXPECT_FALSE(Page().Copier().Active());
}

INSTANTIATE_TEST_SUITE_P(
    Stops, StoppedCopy,
    ::testing::Values(StopCase{"camera_to_pc_error_status", false, Stop::ErrorStatus, " Error \nno file written", "ERR", ""},
                      StopCase{"camera_to_pc_given_up", false, Stop::GiveUp, link::kMsgNotConnected, link::kCapNotConnected,
                               "no file written"},
                      StopCase{"single_error_status", true, Stop::ErrorStatus, " Error \n" + kThreeOf512, "ERR", ""},
                      StopCase{"single_given_up", true, Stop::GiveUp, link::kMsgNotConnected, link::kCapNotConnected,
                               kThreeOf512}),
    [](const ::testing::TestParamInfo<StopCase>& i) { return std::string(i.param.name); });

struct CancelCase {
    const char* name;
    CopyMode mode;
    int answers;            ///< replies before Cancel is clicked
    const char* progress;   ///< ProgressBar3's text then
    const char* told;       ///< the box after the cancel ("": none)
};

class CancelledCopy : public CopyWindow, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelledCopy, ShowsItsCountLocksTheButtonsAndEndsCleanly) {
    const CancelCase& c = GetParam();
    OnCopyPage();
    const std::string source = dir.File("source.dat"), target = dir.File("new.dat");
    MemoryWords words = transfer::NoWords();
    for (int a = 0; a < transfer::kFileWords; ++a) words[static_cast<std::size_t>(a)] = a;
    Put(source, transfer::FormatSettingsFile(words));  // no word 1FF: a batch copy reads it first
    dialogs.paths = {c.mode == CopyMode::CameraToPc ? target : source};
    switch (c.mode) {
        case CopyMode::CameraToPc: Page().CtopOK2Click(); break;
        case CopyMode::PcToCameraSingle: Page().ptocOkClick(); break;
        default: Page().ptocOk2Click(); break;
    }
    for (int i = 0; i < c.answers; ++i) {
        if (c.mode == CopyMode::PcToCameraSingle) {
            AnswerLast();
        } else {
            AnswerReads(1);
        }
    }
    ASSERT_TRUE(Page().Copier().Active());
    // Shown at the next paint, not with every reply.
    window->CopyPaintTimerTimer();
    EXPECT_EQ(Page().ProgressBar3->text().toStdString(), c.progress);
    for (QPushButton* b : {Page().CtopOK2, Page().ptocOk, Page().ptocOk2}) EXPECT_FALSE(b->isEnabled());
    EXPECT_FALSE(window->ReLoad->isEnabled());
    ASSERT_TRUE(Page().CancelCopy->isEnabled());
    if (const char* shots = std::getenv("TERN_SHOT_DIR")) {
        window->grab().save(QString::fromUtf8(shots) + "/copy-" + c.name + ".png");
    }

    port.TakeWire();
    Page().CancelCopy->click();
    if (c.mode == CopyMode::PcToCameraSingle) {
        EXPECT_TRUE(Page().Copier().Active()) << "the record in flight is let in first";
        EXPECT_FALSE(Page().CancelCopy->isEnabled());
        EXPECT_EQ(AnswerLast(), Ack()) << "and no record follows it";
    }
    EXPECT_FALSE(Page().Copier().Active());
    EXPECT_EQ(Page().Copier().Outcome().result, transfer::CopyResult::Cancelled);
    EXPECT_TRUE(port.TakeWire().empty());
    EXPECT_EQ(window->Messages.size(), std::string(c.told).empty() ? 0u : 1u);
    if (!window->Messages.empty()) {
        EXPECT_EQ(window->Messages[0].text, c.told);
    }
    EXPECT_FALSE(test::Exists(target));
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"source.dat"}) << "no temporary file left";
    EXPECT_EQ(Page().ProgressBar3->text().toStdString(), "Cancelled");
    for (QPushButton* b : {Page().CtopOK2, Page().ptocOk, Page().ptocOk2}) EXPECT_TRUE(b->isEnabled());
    EXPECT_TRUE(window->ReLoad->isEnabled());
    EXPECT_FALSE(Page().CancelCopy->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Copies, CancelledCopy,
    ::testing::Values(CancelCase{"camera_to_pc", CopyMode::CameraToPc, 317, "317 / 512 words (61%)", ""},
                      CancelCase{"single", CopyMode::PcToCameraSingle, 3, "4 / 512 records (0%)",
                                 "4 of 512 records reached the camera, which now holds part old, part new settings: "
                                 "restore the whole file again"},
                      CancelCase{"batch_before_its_block", CopyMode::PcToCameraBatch, 0, "reading word 1FF (0%)", ""}),
    [](const ::testing::TestParamInfo<CancelCase>& i) { return std::string(i.param.name); });

TEST_F(CopyWindow, BatchBlockOnceSentCannotBeCancelled) {
    OnCopyPage();
    Put(dir.File("source.dat"), "210C00010001000000000000000000\r\n");
    dialogs.paths = {dir.File("source.dat")};
    Page().ptocOk2Click();
    for (int i = 0; i < 511; ++i) AnswerReads(1);
    window->CopyPaintTimerTimer();
    EXPECT_EQ(Page().ProgressBar3->text().toStdString(), "sending the block (99%)");
    EXPECT_FALSE(Page().CancelCopy->isEnabled());
    Page().CancelClick();
    EXPECT_TRUE(Page().Copier().Active());
}

TEST_F(CopyWindow, SameFileNameWithNoFileOpenedYetAsksForOne) {
    OnCopyPage();
    Page().Same->setChecked(true);
    dialogs.paths = {""};  // cancelled

    Page().ptocOk2Click();

    EXPECT_EQ(dialogs.shown, std::vector<std::string>{"OpenDialog1"});
    EXPECT_FALSE(Page().Same->isChecked());
    EXPECT_TRUE(port.TakeWire().empty());
    EXPECT_TRUE(window->Messages.empty());
}

TEST_F(CopyWindow, UnlockRevealsButtonsThatStartTheirCopies) {
    OnCopyPage();
    CopyPage& p = Page();
    EXPECT_TRUE(p.Copy_select->isHidden());
    EXPECT_FALSE(p.Copy_select->isEnabled());
    ASSERT_EQ(p.Copy_select->Count(), 3);
    window->Panel1Click();  // the service pages are shown in DBG mode: hidden now
    window->Panel1Click();
    window->pwl->setText("wqxz");
    ASSERT_TRUE(p.CtopOK2->isVisibleTo(window->CopySheet));
    ASSERT_TRUE(p.ptocOk->isVisibleTo(window->CopySheet));

    // Both dialogs offer the data files first, with "*.dat" in the name box.
    // Built at first use: none exists before.
    EXPECT_TRUE(window->findChildren<QFileDialog*>().isEmpty());
    for (QFileDialog* d : {window->FileDialog(true), window->FileDialog(false)}) {
        EXPECT_EQ(d->nameFilters().value(0), QString::fromUtf8("データ(*.dat)")) << d->objectName().toStdString();
        EXPECT_EQ(d->nameFilters().size(), 2);
        const auto* name = d->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name->text(), "*.dat");
    }
    dialogs.paths = {"", ""};
    QTest::mouseClick(p.CtopOK2, Qt::LeftButton);
    QTest::mouseClick(p.ptocOk, Qt::LeftButton);
    EXPECT_EQ(dialogs.shown, (std::vector<std::string>{"SaveDialog1", "OpenDialog1"}));
    EXPECT_TRUE(window->SaveDialog1->testOption(QFileDialog::DontConfirmOverwrite));  // the page asks itself
    EXPECT_EQ(p.Label35->text(), "PC->Camera(Single)");
    EXPECT_EQ(p.Copy_select->ItemIndex(), 1);
    EXPECT_TRUE(port.TakeWire().empty());
}

}  // namespace
}  // namespace tern::test
