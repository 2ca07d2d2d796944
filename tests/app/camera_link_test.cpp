// The real window and its real serial port against the virtual camera on a
// pseudo-terminal.
#include <QAction>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QTabWidget>
#include <QTimer>

#include <chrono>
#include <sstream>

#include "app/DebugPage.h"
#include "app/MTern.h"
#include "controls/Setup1Page.h"
#include "copy/CopyPage.h"
#include "app/window_fixture.h"
#include "camera/pty_camera.h"
#include "widgets/HexEdit.h"
#include "test_names.h"

namespace tern::test {
namespace {

using app::TFTern;

class CameraLink : public ::testing::Test {
protected:
    void Start(link::ToolMode mode, camera::CameraOptions options = {}) {
        camera = std::make_unique<camera::PtyCamera>(options);
        camera->Start();
        window = std::make_unique<TFTern>(mode, link::PortDevices{camera->DevicePath(), "/nonexistent/ternab-com2"},
                                          AutoClose);
        window->OnReply = [this] {
            const auto& f = window->Link().CmdFrame();
            sent.push_back(link::HexBytesText(std::span<const std::uint8_t>(f.data() + 1, 3)));
        };
    }

    void TearDown() override {
        window.reset();
        if (camera) camera->Stop();
    }

    /// Waits until `count` replies have been handled and no chain runs.
    bool ChainDone(std::size_t count) {
        return WaitFor([&] { return sent.size() >= count && window->LoadStep() == 0 && !window->Link().LinkBusy(); });
    }

    std::uint64_t Frames() const { return camera->PeerStatistics().framesReceived; }

    std::unique_ptr<camera::PtyCamera> camera;
    std::unique_ptr<TFTern> window;
    std::vector<std::string> sent;  // the first three payload bytes of each request answered
};

using V = std::vector<std::string>;
const V kRegisters{"310A01", "310A40"};
const V kSetup1{"310A01", "310A40", "314500", "314501", "314502", "314503", "314504"};

struct FirstChain {
    link::ToolMode mode;
    V chain;
};

class FirstChainOfMode : public CameraLink, public ::testing::WithParamInterface<FirstChain> {};

TEST_P(FirstChainOfMode, ConnectsAndReadsThePageShown) {
    Start(GetParam().mode);
    ASSERT_TRUE(ChainDone(GetParam().chain.size()));
    EXPECT_EQ(sent, GetParam().chain);
    EXPECT_EQ(Frames(), GetParam().chain.size());
    EXPECT_GE(camera->PeerStatistics().enqs, 1u);
    EXPECT_TRUE(window->PageControl1->isEnabled());
    EXPECT_EQ(window->Resolution->text(), "Hi-Resolution");
    EXPECT_EQ(window->TV->text(), "NTSC");
    EXPECT_EQ(window->SensorWidth(), 800);
    EXPECT_EQ(window->SensorHeight(), 256);
    EXPECT_TRUE(window->Messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, FirstChainOfMode,
                         ::testing::Values(FirstChain{link::ToolMode::Dbg, kRegisters}, FirstChain{link::ToolMode::Apl, kSetup1},
                                           FirstChain{link::ToolMode::Kizu, kRegisters}),
                         [](const ::testing::TestParamInfo<FirstChain>& i) {
                             std::ostringstream os;
                             os << i.param.mode;
                             return os.str();
                         });

TEST_F(CameraLink, LowResolutionPalCameraShowsOnTheTitleStrip) {
    camera::CameraOptions options;
    options.highResolution = false;
    options.pal = true;
    Start(link::ToolMode::Dbg, options);
    ASSERT_TRUE(ChainDone(2));
    EXPECT_EQ(window->Resolution->text(), "Lo-Resolution");
    EXPECT_EQ(window->TV->text(), "PAL");
    EXPECT_EQ(window->SensorWidth(), 544);
    EXPECT_EQ(window->SensorHeight(), 312);
    EXPECT_EQ(window->LowResolution(), 1);
    EXPECT_EQ(window->PalSystem(), 1);
}

// The window's loop reads the port itself, also inside a modal box; what
// comes meanwhile waits for the box and is dispatched after it, once.
TEST_F(CameraLink, AReplyThatComesUnderABoxIsReadThereAndDispatchedAfterIt) {
    Start(link::ToolMode::Dbg);
    ASSERT_TRUE(ChainDone(kRegisters.size()));
    const std::size_t before = sent.size();
    std::size_t heldBytes = 0, answeredUnderTheBox = 0;
    window->OnMessageBox = [&](QMessageBox& box) {
        auto* look = new QTimer(&box);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        QObject::connect(look, &QTimer::timeout, &box, [&, look, deadline] {
            // The ACK and the reply, read under the box (or given up on).
            if (window->Link().BytesWaiting() < 1 + link::kCmdFrameSize && std::chrono::steady_clock::now() < deadline) return;
            heldBytes = window->Link().BytesWaiting();
            answeredUnderTheBox = sent.size() - before;
            look->stop();
            box.accept();
        });
        look->start(1);
    };
    link::Payload p;
    p[1] = 0x31;
    p[2] = 0x0A;
    p[3] = 0x01;
    window->Link().StxCommand(p, 3);
    window->ShowMessage("under the box", "test");
    EXPECT_EQ(heldBytes, 1 + link::kCmdFrameSize);
    EXPECT_EQ(answeredUnderTheBox, 0u);
    ASSERT_TRUE(WaitFor([&] { return sent.size() == before + 1; }));
    EXPECT_EQ(sent.back(), "310A01");
}

TEST_F(CameraLink, LoadOnSetup1SendsExactlyItsSevenReads) {
    Start(link::ToolMode::Apl);
    ASSERT_TRUE(ChainDone(7));
    sent.clear();
    const auto before = Frames();
    window->ReLoad->trigger();
    ASSERT_TRUE(ChainDone(7));
    EXPECT_EQ(sent, kSetup1);
    EXPECT_EQ(Frames() - before, 7u);
    EXPECT_EQ(window->LoadStep(), 0);
}

TEST_F(CameraLink, CopyPageReadsTheTwoRegistersOnly) {
    Start(link::ToolMode::Dbg);
    ASSERT_TRUE(ChainDone(2));
    sent.clear();
    window->PageControl1->setCurrentIndex(Tab(link::Page::Copy));
    ASSERT_TRUE(ChainDone(2));
    EXPECT_EQ(sent, kRegisters);
    EXPECT_EQ(Frames(), 4u);
}

TEST_F(CameraLink, ResetOnTheDebugPageEnablesThePagesWithoutAReload) {
    Start(link::ToolMode::Dbg);
    ASSERT_TRUE(ChainDone(2));
    const auto before = Frames();
    window->Reset1Click();
    ASSERT_TRUE(WaitFor([&] { return Frames() == before + 1 && !window->Link().LinkBusy(); }));
    EXPECT_EQ(window->Link().CmdPayload(1), 0xF1);
    EXPECT_TRUE(window->PageControl1->isEnabled());
    EXPECT_FALSE(window->ReloadTimer->isActive());
    EXPECT_EQ(window->LoadStep(), 0);
}

TEST_F(CameraLink, ResetElsewhereReadsThePageAgainFromTheReloadTimer) {
    Start(link::ToolMode::Apl);
    ASSERT_TRUE(ChainDone(7));
    sent.clear();
    window->Reset1Click();
    EXPECT_FALSE(window->Setup1().Panel4->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return window->ReloadTimer->isActive(); }));
    EXPECT_TRUE(sent.empty());  // the camera ends a reset with its ACK alone
    EXPECT_FALSE(window->Setup1().Panel4->isEnabled());
    window->ReloadTimerTimer();
    EXPECT_FALSE(window->ReloadTimer->isActive());
    ASSERT_TRUE(ChainDone(7));
    EXPECT_EQ(sent, kSetup1);
    // The page is given back once its settings are in again.
    EXPECT_TRUE(window->Setup1().Panel4->isEnabled());
    EXPECT_FALSE(window->Link().PanelLock());
}

TEST_F(CameraLink, DebugPageReadsAndWritesRegistersAndMemoryWords) {
    Start(link::ToolMode::Dbg);
    ASSERT_TRUE(ChainDone(2));
    TFTern& w = *window;
    const int reg = camera->WithModel([](camera::CameraModel& m) { return static_cast<int>(m.Register(0x23)); });

    w.Debug().DspAdr->setCurrentIndex(0x23);
    ASSERT_TRUE(ChainDone(3));
    EXPECT_EQ(w.Debug().DspData->text().toStdString(), link::HexWordText(static_cast<std::uint16_t>(reg)));
    const auto frames = Frames();
    EXPECT_FALSE(w.Debug().DspDataSkip());

    w.Debug().DspData->setText(reg == 0x0180 ? "0181" : "0180");
    ASSERT_TRUE(ChainDone(4));
    EXPECT_EQ(Frames(), frames + 1);  // the write, and no echo written back
    EXPECT_EQ(camera->WithModel([](camera::CameraModel& m) { return static_cast<int>(m.Register(0x23)); }),
              reg == 0x0180 ? 0x0181 : 0x0180);

    w.Debug().eepadr->setText("0010");
    ASSERT_TRUE(ChainDone(5));
    const int word = camera->WithModel([](camera::CameraModel& m) { return static_cast<int>(m.MemoryWord(0x10)); });
    EXPECT_EQ(w.Debug().Eepdata->text().toStdString(), link::HexWordText(static_cast<std::uint16_t>(word)));
    w.Debug().Eepdata->setText(word == 0x1234 ? "4321" : "1234");
    ASSERT_TRUE(ChainDone(6));
    EXPECT_EQ(camera->WithModel([](camera::CameraModel& m) { return static_cast<int>(m.MemoryWord(0x10)); }),
              word == 0x1234 ? 0x4321 : 0x1234);
    EXPECT_TRUE(w.Messages.empty());
}

}  // namespace
}  // namespace tern::test
