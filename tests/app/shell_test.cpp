// The window's frame: tool modes, page switches, timers, the unlock, the
// reset, and the order of replies around a message box.
#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QFileDialog>
#include <QKeySequence>
#include <QTemporaryDir>
#include <QTextBrowser>

#include <cstdlib>
#include <sstream>

#include "app/DebugPage.h"
#include "app/MTern.h"
#include "link/version.h"
#include "controls/Setup1Page.h"
#include "copy/CopyPage.h"
#include "app/window_fixture.h"
#include "widgets/RadioGroup.h"
#include "test_names.h"

namespace tern::test {
namespace {

using app::TFTern;

struct ModeCase {
    link::ToolMode mode;
    std::vector<bool> tabs;
    bool strip;  // ResetButton, ExitButton, TV, Resolution
    link::Page firstPage;
};

class ModeTable : public WindowTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ModeTable, TabsButtonsAndFirstPage) {
    const ModeCase& c = GetParam();
    Make(c.mode);
    TFTern& w = *window;
    ASSERT_EQ(w.PageControl1->count(), 6);  // hidden pages keep their indices
    for (int i = 0; i < 6; ++i) EXPECT_EQ(w.PageControl1->isTabVisible(i), c.tabs[static_cast<std::size_t>(i)]) << "tab " << i;
    EXPECT_EQ(w.PageControl1->currentIndex(), Tab(c.firstPage));
    EXPECT_EQ(w.ActivePage(), c.firstPage);
    EXPECT_EQ(w.ToolMode(), c.mode);
    for (QWidget* strip : {static_cast<QWidget*>(w.ResetButton), static_cast<QWidget*>(w.ExitButton),
                           static_cast<QWidget*>(w.TV), static_cast<QWidget*>(w.Resolution)}) {
        EXPECT_EQ(!strip->isHidden(), c.strip) << strip->objectName().toStdString();
    }
    // Pages stay disabled until the camera accepts the connection, which starts
    // with ENQ on COM1.
    EXPECT_FALSE(w.PageControl1->isEnabled());
    EXPECT_EQ(port.openedPorts, std::vector<std::uint8_t>{1});
    EXPECT_EQ(port.wire, Bytes{link::ENQ});
    EXPECT_TRUE(w.pwl->isHidden());
    EXPECT_TRUE(w.CopyPage().complete2->isHidden());
    EXPECT_TRUE(w.CopyPage().CtopOK2->isHidden());
    EXPECT_TRUE(w.CopyPage().ptocOk->isHidden());
    EXPECT_EQ(w.Title->text(), " Camera Adjust Tool");
    EXPECT_EQ(w.StatusPanels[0]->text(), "Comm. Connecting");

    const Bytes sent = Connect();
    EXPECT_TRUE(w.PageControl1->isEnabled());
    // EOT, then the first read of the page shown: register 1.
    Bytes expected{link::EOT};
    const Bytes first = Frame({0x31, 0x0A, 0x01});
    expected.insert(expected.end(), first.begin(), first.end());
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(w.LoadStep(), 1);
}

INSTANTIATE_TEST_SUITE_P(Modes, ModeTable,
                         ::testing::Values(ModeCase{link::ToolMode::Dbg, {true, true, true, true, true, true}, true, link::Page::Debug},
                                           ModeCase{link::ToolMode::Apl, {false, false, false, false, true, true}, false, link::Page::Setup1},
                                           ModeCase{link::ToolMode::Kizu, {false, false, true, false, false, false}, true, link::Page::Defect}),
                         [](const ::testing::TestParamInfo<ModeCase>& i) {
                             std::ostringstream os;
                             os << i.param.mode;
                             return os.str();
                         });

struct SwitchCase {
    int page;
    bool labels;
    bool reset;
};

class PageSwitch : public WindowTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(PageSwitch, ShowsTheStripAsTabledAndReadsThePage) {
    const SwitchCase& c = GetParam();
    Ready(link::ToolMode::Dbg);
    TFTern& w = *window;
    // Start from a page whose strip differs, so every switch changes something.
    const int from = c.page == Tab(link::Page::Setup1) || c.page == Tab(link::Page::Setup2) ? Tab(link::Page::Debug) : Tab(link::Page::Setup2);
    w.PageControl1->setCurrentIndex(from);
    FinishChain();
    port.TakeWire();

    w.PageControl1->setCurrentIndex(c.page);
    EXPECT_EQ(!w.TV->isHidden(), c.labels);
    EXPECT_EQ(!w.Resolution->isHidden(), c.labels);
    EXPECT_EQ(!w.ResetButton->isHidden(), c.reset);
    EXPECT_EQ(port.TakeWire(), Frame({0x31, 0x0A, 0x01}));
    EXPECT_EQ(w.LoadStep(), 1);
}

INSTANTIATE_TEST_SUITE_P(Pages, PageSwitch,
                         ::testing::Values(SwitchCase{0, true, false}, SwitchCase{1, true, true}, SwitchCase{2, true, true},
                                           SwitchCase{3, true, false}, SwitchCase{4, false, false},
                                           SwitchCase{5, false, false}),
                         [](const ::testing::TestParamInfo<SwitchCase>& i) {
                             return RowName(link::PageName(static_cast<link::Page>(i.param.page)));
                         });

TEST_F(WindowTest, OnlySendTimerRunsFromTheStart) {
    Make(link::ToolMode::Apl);
    const auto timers = window->findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_EQ(timers.size(), 24);
    for (QTimer* t : timers) {
        EXPECT_FALSE(t->objectName().isEmpty());
        EXPECT_FALSE(t->isSingleShot()) << t->objectName().toStdString();
        EXPECT_EQ(t->isActive(), t == window->SendTimer) << t->objectName().toStdString();
        EXPECT_EQ(t->timerType(), Qt::PreciseTimer) << t->objectName().toStdString();
    }
    EXPECT_EQ(window->SendTimer->interval(), link::kSendTimerMs);
}

TEST_F(WindowTest, StatusBarMenuAndDialogsAreAsLaidOut) {
    Make(link::ToolMode::Dbg);
    TFTern& w = *window;
    w.show();
    // Panel 0 takes the room the others leave.
    const int widths[4] = {150, 220, 220, 40};
    w.resize(702, w.height());
    QApplication::processEvents();
    EXPECT_GE(w.StatusPanels[0]->width(), widths[0]);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(w.StatusPanels[i]->width(), widths[i]);
    EXPECT_EQ(w.ReLoad->text(), "&Load");
    EXPECT_EQ(w.objectName(), "FTern");
    EXPECT_TRUE(w.windowTitle().startsWith("TernAB — COM1 — ")) << w.windowTitle().toStdString();
    // Connected, a reply shows in panel 2 and the command in panel 1.
    Connect();
    EXPECT_EQ(w.StatusPanels[1]->text(), "310A01000000000000000000000000");
    AnswerLast();
    EXPECT_EQ(w.StatusPanels[2]->text(), "A00A01400000000000000000000000");
}

TEST_F(WindowTest, KizuModeKeepsFramesOutOfTheStatusBar) {
    Make(link::ToolMode::Kizu);
    Connect();
    AnswerLast();
    EXPECT_EQ(window->StatusPanels[1]->text(), "");
    EXPECT_EQ(window->StatusPanels[2]->text(), "");
}

TEST_F(WindowTest, RegisterAnswersSetTheStripAndTheGeometry) {
    Make(link::ToolMode::Dbg);
    TFTern& w = *window;
    EXPECT_EQ(w.SensorWidth(), 1);
    EXPECT_EQ(w.SensorHeight(), 1);
    Connect();
    Answer({0xA0, 0x0A, 0x01, 0x00, 0x10});  // bit 14 clear: low resolution
    EXPECT_EQ(w.Resolution->text(), "Lo-Resolution");
    EXPECT_EQ(w.SensorWidth(), 544);
    EXPECT_EQ(w.LowResolution(), 1);
    EXPECT_EQ(w.Engine().Registers()[1], 0x0010);
    Answer({0xA0, 0x0A, 0x40, 0x12, 0x35});  // bit 0 set: PAL
    EXPECT_EQ(w.TV->text(), "PAL");
    EXPECT_EQ(w.SensorHeight(), 312);
    EXPECT_EQ(w.PalSystem(), 1);
    EXPECT_EQ(w.Engine().Registers()[0x40], 0x1235);
    EXPECT_EQ(w.LoadStep(), 0);

    // An answer to a write changes nothing through the common decoder.
    w.Debug().SendBuffer->setText("21 0A 01 40 00");
    w.Debug().RamSendClick();
    Answer({0xA0, 0x0A, 0x01, 0x40, 0x00});
    EXPECT_EQ(w.Resolution->text(), "Lo-Resolution");
    EXPECT_EQ(w.Engine().Registers()[1], 0x0010);
    // Nor does a refused read.
    w.PageControl1->setCurrentIndex(Tab(link::Page::Copy));
    Answer({0xA8, 0x0A, 0x01, 0x40, 0x00});
    EXPECT_EQ(w.Engine().Registers()[1], 0x0010);
}

TEST_F(WindowTest, LoadWithDsrOffSaysTheCameraIsGoneAndSendsNothing) {
    Ready(link::ToolMode::Dbg);
    port.dsr = false;
    window->ReLoad->trigger();
    EXPECT_TRUE(port.wire.empty());
    ASSERT_EQ(window->Messages.size(), 1u);
    EXPECT_EQ(window->Messages[0].text, "Camera Connection changed (DR OFF)");
    EXPECT_EQ(window->Messages[0].caption, "KB");
}

// ---- the unlock ------------------------------------------------------------------

TEST_F(WindowTest, UnlockWordRevealsServiceCopiesAndPages) {
    Ready(link::ToolMode::Dbg);
    TFTern& w = *window;
    w.Panel1Click();  // not on the Copy page: nothing
    EXPECT_TRUE(w.pwl->isHidden());
    EXPECT_TRUE(w.PageControl1->isTabVisible(Tab(link::Page::Debug)));

    w.PageControl1->setCurrentIndex(Tab(link::Page::Copy));
    FinishChain();
    w.Panel1Click();  // the service pages are shown: hide them
    EXPECT_FALSE(w.PageControl1->isTabVisible(Tab(link::Page::Debug)));
    EXPECT_FALSE(w.PageControl1->isTabVisible(Tab(link::Page::Defect)));
    EXPECT_FALSE(w.PageControl1->isTabVisible(Tab(link::Page::Setup1)));
    EXPECT_TRUE(w.PageControl1->isTabVisible(Tab(link::Page::Copy)));
    EXPECT_EQ(w.ActivePage(), link::Page::Copy);

    w.Panel1Click();
    ASSERT_FALSE(w.pwl->isHidden());
    QTest::keyClicks(w.pwl, "wqxz");
    EXPECT_TRUE(w.pwl->isHidden());
    EXPECT_FALSE(w.CopyPage().CtopOK2->isHidden());
    EXPECT_FALSE(w.CopyPage().ptocOk->isHidden());
    EXPECT_TRUE(w.PageControl1->isTabVisible(Tab(link::Page::Debug)));
    EXPECT_TRUE(w.PageControl1->isTabVisible(Tab(link::Page::Defect)));
    EXPECT_TRUE(w.PageControl1->isTabVisible(Tab(link::Page::Setup1)));
    EXPECT_EQ(w.pwl->echoMode(), QLineEdit::Password);
}

TEST_F(WindowTest, WrongWordClosesTheBoxOnItsFourthCharacter) {
    Ready(link::ToolMode::Dbg);
    TFTern& w = *window;
    w.PageControl1->setCurrentIndex(Tab(link::Page::Copy));
    FinishChain();
    w.Panel1Click();  // hides the service pages
    w.Panel1Click();  // opens the box
    ASSERT_FALSE(w.pwl->isHidden());
    QTest::keyClicks(w.pwl, "abc");
    EXPECT_FALSE(w.pwl->isHidden());
    EXPECT_EQ(w.UnlockTries, 3);
    QTest::keyClicks(w.pwl, "d");
    EXPECT_TRUE(w.pwl->isHidden());
    EXPECT_EQ(w.UnlockTries, 0);
    EXPECT_TRUE(w.CopyPage().CtopOK2->isHidden());
    EXPECT_FALSE(w.PageControl1->isTabVisible(Tab(link::Page::Debug)));

    // Opened again, the count starts afresh and the word still works.
    w.pwl->clear();
    w.Panel1Click();
    ASSERT_FALSE(w.pwl->isHidden());
    EXPECT_EQ(w.UnlockTries, 0);
    w.pwl->setText("WQXZ");
    EXPECT_FALSE(w.CopyPage().ptocOk->isHidden());
}

TEST_F(WindowTest, ATypoIsCorrectedWithBackspaceAndTheFieldStartsEmpty) {
    Ready(link::ToolMode::Dbg);
    TFTern& w = *window;
    w.PageControl1->setCurrentIndex(Tab(link::Page::Copy));
    FinishChain();
    w.Panel1Click();  // hides the service pages
    w.Panel1Click();  // opens the box
    QTest::keyClicks(w.pwl, "wa");
    w.Panel1Click();  // closed with the typo in it...
    w.Panel1Click();  // ...and opened again: empty
    EXPECT_EQ(w.pwl->text(), "");
    QTest::keyClicks(w.pwl, "wqa");
    for (int i = 0; i < 2; ++i) QTest::keyClick(w.pwl, Qt::Key_Backspace);
    QTest::keyClicks(w.pwl, "qxz");  // retyped characters are no new tries
    EXPECT_TRUE(w.pwl->isHidden());
    EXPECT_TRUE(w.PageControl1->isTabVisible(Tab(link::Page::Debug)));
}

// ---- the Help menu and the file dialog ------------------------------------------------

TEST_F(WindowTest, HelpMenuSaysTheCameraThePcVersionAndTheFirstSteps) {
    Ready(link::ToolMode::Dbg);
    TFTern& w = *window;
    EXPECT_TRUE(w.Help1->menuAction()->isVisible());
    w.CameraVersion1->trigger();
    ASSERT_EQ(w.Messages.size(), 1u);
    EXPECT_EQ(w.Messages[0].caption, "Camera Version");
    EXPECT_EQ(w.Messages[0].text, "Resolution: Hi-Resolution\nVideo standard: NTSC\nPort: COM1");
    w.PCVersion1->trigger();
    EXPECT_EQ(w.Messages.back().text, std::string("ternab ") + link::kVersion);
    EXPECT_EQ(w.GettingStarted1->shortcut(), QKeySequence(Qt::Key_F1));
    w.GettingStarted1->trigger();
    auto* text = w.findChild<QTextBrowser*>("GettingStartedText");
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->isVisible());
    // The README's section, as the build found it.
    const QString shown = text->toPlainText();
    EXPECT_TRUE(shown.startsWith("First connection")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("ternctl ports --probe"));
    EXPECT_FALSE(shown.contains("Usage"));  // the next section is not part of it
    if (const char* shots = std::getenv("TERN_SHOT_DIR")) {
        text->window()->grab().save(QString::fromUtf8(shots) + "/getting-started.png");
    }
}

TEST_F(WindowTest, SaveDialogAddsDatToANameWithoutExtension) {
    Make(link::ToolMode::Dbg);
    QTemporaryDir dir;
    QFileDialog* save = window->FileDialog(true);
    for (const char* typed : {"site1", "site2.txt"}) {
        save->setDirectory(dir.path());
        save->selectFile(dir.filePath(typed));
        QTimer::singleShot(0, save, [save] { static_cast<QDialog*>(save)->accept(); });
        ASSERT_EQ(save->exec(), QDialog::Accepted);
        ASSERT_EQ(save->selectedFiles().size(), 1);
        const QString expected = QString::fromLatin1(typed) == "site1" ? "site1.dat" : "site2.txt";
        EXPECT_EQ(save->selectedFiles()[0], dir.filePath(expected));
    }
}

// ---- reset ---------------------------------------------------------------------------

TEST_F(WindowTest, ResetIsDroppedWhileBusyAndLocksSetup1) {
    Make(link::ToolMode::Dbg);
    Connect();  // the chain is running
    port.TakeWire();
    window->Reset1Click();
    EXPECT_TRUE(port.wire.empty());
    FinishChain();
    port.TakeWire();
    window->Reset1->trigger();
    EXPECT_EQ(port.TakeWire(), Frame({0xF1}));
    EXPECT_FALSE(window->Setup1().Panel4->isEnabled());
    EXPECT_TRUE(window->Link().PanelLock());
}

// ---- the reply watch and a page switch --------------------------------------------

TEST_F(WindowTest, PageSwitchMidFrameResendsTheSameFrameAndReadsTheNewPage) {
    Make(link::ToolMode::Dbg);
    Connect();
    FinishChain();
    window->Debug().DspAdr->setCurrentIndex(0x23);  // 31 0A 23 in flight
    const Bytes first = port.TakeWire();
    ASSERT_EQ(first, Frame({0x31, 0x0A, 0x23}));

    window->PageControl1->setCurrentIndex(Tab(link::Page::Setup2));  // its chain cannot go out yet
    EXPECT_TRUE(port.wire.empty());
    EXPECT_EQ(window->LoadStep(), 1);
    for (int i = 0; i < 20; ++i) window->SendTimerTimer();
    EXPECT_TRUE(port.wire.empty());
    window->SendTimerTimer();  // the 21st tick: the answer is late
    EXPECT_EQ(port.TakeWire(), first);
    EXPECT_TRUE(window->Messages.empty());

    // The late answer is taken by Setup2, whose chain goes on at its next step.
    EXPECT_EQ(Answer({0xA0, 0x0A, 0x23, 0x00, 0x00}), AckThen(Frame({0x31, 0x0A, 0x40})));
    EXPECT_EQ(AnswerLast(), AckThen(Frame({0x31, 0x45, 0x05})));
    EXPECT_EQ(AnswerLast(), AckThen(Frame({0x31, 0x45, 0x06})));
    EXPECT_EQ(AnswerLast(), Ack());
    EXPECT_EQ(window->LoadStep(), 0);
}

// ---- a message box while replies keep coming ----------------------------------------

TEST_F(WindowTest, AnswerUnderTheGiveUpBoxWaitsForTheTimerHandler) {
    Ready(link::ToolMode::Dbg);
    TFTern& w = *window;
    int replies = 0;
    w.OnReply = [&] { ++replies; };
    int repliesUnderBox = -1;
    w.OnMessageBox = [&](QMessageBox& box) {
        EXPECT_EQ(box.text(), " Serial Port not connected ");
        // The camera's late answer arrives while the box is up.
        w.PostToEventThread([&] { Feed(AckThen(Frame({0xA0, 0x32, 0x03}))); });
        w.PostToEventThread([&, b = &box] {
            repliesUnderBox = replies;
            b->accept();
        });
    };
    w.Debug().push_up->click();
    Feed(Ack());
    for (int i = 0; i < 42; ++i) w.SendTimerTimer();  // the second late answer opens the box
    EXPECT_EQ(repliesUnderBox, 0);
    EXPECT_EQ(replies, 0);  // the timer handler is still the one running
    ASSERT_TRUE(WaitFor([&] { return replies == 1; }));
    EXPECT_EQ(w.Messages.size(), 1u);
}

TEST_F(WindowTest, TimerTicksUnderAnErrorBoxWaitForIt) {
    Make(link::ToolMode::Dbg);
    Connect();
    TFTern& w = *window;
    int replies = 0;
    w.OnReply = [&] { ++replies; };
    bool reloadRanUnderBox = true;
    bool pausedUnderBox = false;
    w.OnMessageBox = [&](QMessageBox& box) {
        port.TakeWire();
        // A timer due while the box is up (here at once, again and again)...
        w.ReloadTimer->setInterval(0);
        w.ReloadTimer->start();
        QTimer::singleShot(50, &box, [&, b = &box] {
            // ...has not run its handler, which would have read the page,
            // and waits paused rather than ticking on.
            reloadRanUnderBox = !port.TakeWire().empty();
            pausedUnderBox = !w.ReloadTimer->isActive();
            b->accept();
        });
    };
    Feed(AckThen(Frame({0xE0, 0x0A, 0x01, 0x00, 0x00})));
    ASSERT_TRUE(WaitFor([&] { return replies == 1 && !w.ReloadTimer->isActive(); }));
    EXPECT_FALSE(reloadRanUnderBox);
    EXPECT_TRUE(pausedUnderBox);
    EXPECT_EQ(w.Messages.size(), 1u);
}

TEST_F(WindowTest, ThePageReadIsSeenOnceTheChainHasEnded) {
    Make(link::ToolMode::Dbg);
    int calls = 0;
    window->CallWhenPageRead([&] {
        EXPECT_EQ(window->LoadStep(), 0);
        ++calls;
    });
    Connect();
    AnswerLast();  // register 1: the chain goes on
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
    AnswerLast();  // register 64, the last of the Debug page's chain
    ASSERT_TRUE(WaitFor([&] { return calls == 1; }));
    window->ReLoadClick();
    FinishChain();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);  // once
}

TEST_F(WindowTest, LineNoiseOpensOneBoxABurstAndCountsTheRepeats) {
    Ready(link::ToolMode::Dbg);
    TFTern& w = *window;
    // A frame start, sixteen bytes and no ETX: the receive machine's error
    // (the NUL in front is the byte after the last reply's frame).
    Bytes noise{link::NUL, link::STX};
    noise.insert(noise.end(), 16, 0x55);
    noise.push_back(0x00);
    int boxes = 0;
    w.OnMessageBox = [&](QMessageBox& box) {
        ++boxes;
        // More noise arrives while the box is up, and the same message is
        // raised again from elsewhere: counted in the open box.
        for (int i = 0; i < 3; ++i) Feed(noise);
        w.ShowMessage(link::kMsgRecvErr, link::kCapRecvErr);
        w.ShowMessage(link::kMsgRecvErr, link::kCapRecvErr);
        EXPECT_NE(box.informativeText().indexOf("2 more"), -1) << box.informativeText().toStdString();
        AutoClose(box);
    };
    Feed(noise);
    ASSERT_TRUE(WaitFor([&] { return w.StatusPanels[3]->text() == "sr_err1 +3"; }));
    // The burst goes on long after the box was answered: still no new box.
    for (int i = 0; i < 20; ++i) Feed(noise);
    EXPECT_EQ(w.StatusPanels[3]->text(), "sr_err1 +23");
    EXPECT_EQ(boxes, 1);
    ASSERT_EQ(w.Messages.size(), 1u);
    EXPECT_EQ(w.Messages[0].text, "sr_err1");
    // Once a good frame has come, new noise opens a box again.
    w.ReLoadClick();
    FinishChain();
    w.OnMessageBox = [&](QMessageBox& box) {
        ++boxes;
        AutoClose(box);
    };
    Feed(noise);
    EXPECT_EQ(boxes, 2);
}

TEST_F(WindowTest, EveryReplyWatchTickUnderABoxCounts) {
    Make(link::ToolMode::Dbg);
    Connect();
    FinishChain();
    TFTern& w = *window;
    w.Debug().push_up->click();
    Feed(Ack());  // the answer is awaited: the reply watch counts down from 20
    ASSERT_EQ(w.Link().ReplyTimer(), link::kReplyTicks);
    w.OnMessageBox = [&](QMessageBox& box) {
        QTimer::singleShot(0, &box, [&, b = &box] {
            // Five ticks of SendTimer fall while the box is up.
            for (int i = 0; i < 5; ++i) QMetaObject::invokeMethod(w.SendTimer, "timeout", Qt::DirectConnection);
            EXPECT_EQ(w.Link().ReplyTimer(), link::kReplyTicks);  // none ran under the box
            b->accept();
        });
    };
    w.ShowMessage("box", "caption");
    ASSERT_TRUE(WaitFor([&] { return w.Link().ReplyTimer() == link::kReplyTicks - 5; }));
}

TEST_F(WindowTest, RepliesArrivingUnderAnErrorBoxWaitForItAndAreHandledOnce) {
    Make(link::ToolMode::Dbg);
    Connect();
    TFTern& w = *window;
    int replies = 0;
    w.OnReply = [&] { ++replies; };
    int repliesWhileOpen = -1;
    bool dispatching = false;
    w.OnMessageBox = [&](QMessageBox& box) {
        EXPECT_EQ(box.text(), " Error ");
        EXPECT_EQ(box.windowTitle(), "ERR");
        dispatching = w.Link().InDispatch();
        // The next answer turns up while the box is open, by the same route
        // the port's watch thread uses.
        Bytes next{link::ACK};
        const Bytes frame = Frame({0xA0, 0x0A, 0x40, 0x00, 0x01});
        next.insert(next.end(), frame.begin(), frame.end());
        w.PostToEventThread([&w, next] { w.Link().Comm1CommReceive(next); });
        w.PostToEventThread([&, b = &box] {
            repliesWhileOpen = replies;
            b->accept();
        });
    };
    port.TakeWire();
    // Register 1 is answered with an error status.
    Feed(AckThen(Frame({0xE0, 0x0A, 0x01, 0x00, 0x00})));
    ASSERT_TRUE(WaitFor([&] { return replies == 2; }));
    EXPECT_TRUE(dispatching);
    EXPECT_EQ(repliesWhileOpen, 0);  // no reply handled inside the box's handler
    ASSERT_EQ(w.Messages.size(), 1u);
    EXPECT_EQ(w.Messages[0].text, " Error ");
    // The chain went on after the box: step 1 went out, and its answer (which
    // waited) was taken once.
    Bytes expected{link::ACK};
    const Bytes step1 = Frame({0x31, 0x0A, 0x40});
    expected.insert(expected.end(), step1.begin(), step1.end());
    expected.push_back(link::ACK);
    EXPECT_EQ(port.TakeWire(), expected);
    EXPECT_EQ(w.TV->text(), "PAL");
    EXPECT_EQ(w.LoadStep(), 0);
}

}  // namespace
}  // namespace tern::test
