// The mask window: a drag becomes the camera's rectangle for each video
// standard and sensor, the camera's rectangle is drawn when it comes back,
// and a mask drawn is kept by the virtual camera and drawn again on reopening.
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <optional>

#include "app/MTern.h"
#include "app/camera_fixture.h"
#include "app/window_fixture.h"
#include "controls/Cmask.h"
#include "controls/Setup1Page.h"
#include <QComboBox>
#include "test_names.h"

namespace tern::test {
namespace {

using controls::TFMask;
using transfer::WindowPoint;

struct Video {
    bool pal;
    bool low;
};
constexpr Video kPalHigh{true, false};
constexpr Video kPalLow{true, true};
constexpr Video kNtscHigh{false, false};
constexpr Video kNtscLow{false, true};

class MaskWindow : public WindowTest {
protected:
    void SetUp() override { Ready(link::ToolMode::Dbg); }

    TFMask& m() { return window->Mask(); }

    /// Reads the page again with registers 1 and 64 saying `video`.
    void SetVideo(Video video) {
        window->ReLoadClick();
        ASSERT_EQ(port.TakeWire(), Frame({0x31, 0x0A, 0x01}));
        Answer({0xA0, 0x0A, 0x01, static_cast<std::uint8_t>(video.low ? 0x00 : 0x40), 0x00});
        Answer({0xA0, 0x0A, 0x40, 0x00, static_cast<std::uint8_t>(video.pal ? 0x01 : 0x00)});
        ASSERT_EQ(window->LoadStep(), 0);
        ASSERT_EQ(window->PalSystem(), video.pal ? 1 : 0);
        ASSERT_EQ(window->LowResolution(), video.low ? 1 : 0);
        port.TakeWire();
    }
};

// ---- drag to camera rectangle ------------------------------------------------------------

struct DragRow {
    const char* name;
    Video video;
    int mask;
    WindowPoint press, release;
    Bytes frame;  ///< empty: nothing is sent or drawn
};

class MaskDrag : public MaskWindow, public ::testing::WithParamInterface<DragRow> {};

TEST_P(MaskDrag, SendsTheLimitedCameraRectangleAndDrawsTheDrag) {
    const DragRow& r = GetParam();
    SetVideo(r.video);
    m().Mask_write(r.mask, r.press, r.release);
    EXPECT_EQ(port.TakeWire(), r.frame);
    if (r.frame.empty()) {
        EXPECT_FALSE(m().Drawn().has_value());
    } else {
        EXPECT_EQ(m().Drawn(), QRect(QPoint(r.press.x, r.press.y), QPoint(r.release.x, r.release.y)));
    }
}

Bytes Rect(std::uint8_t sub, std::uint8_t x1, std::uint8_t y1, std::uint8_t x2, std::uint8_t y2) {
    return Frame({0x21, 0x1D, sub, x1, y1, x2, y2});
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, MaskDrag,
    ::testing::Values(
        DragRow{"pal high as drawn", kPalHigh, 0, {20, 30}, {100, 90}, Rect(0x10, 0x14, 0x1E, 0x64, 0x5A)},
        DragRow{"ntsc low both shrunk", kNtscLow, 1, {20, 30}, {100, 90}, Rect(0x11, 0x0D, 0x19, 0x44, 0x4D)},
        DragRow{"ntsc high limited both ends", kNtscHigh, 2, {5, 0}, {250, 200}, Rect(0x12, 0x0B, 0x01, 0xC4, 0x8D)},
        DragRow{"ntsc high just inside the limits", kNtscHigh, 3, {12, 3}, {195, 163}, Rect(0x13, 0x0C, 0x02, 0xC3, 0x8C)},
        DragRow{"pal low at the limits", kPalLow, 0, {17, 1}, {288, 141}, Rect(0x10, 0x0B, 0x01, 0xC3, 0x8D)},
        DragRow{"pal low beyond the limits", kPalLow, 0, {16, 0}, {290, 142}, Rect(0x10, 0x0B, 0x01, 0xC4, 0x8D)},
        DragRow{"started left of and above the area", kPalHigh, 1, {-5, -5}, {50, 50}, Rect(0x11, 0x0B, 0x01, 0x32, 0x32)},
        DragRow{"click without movement", kPalHigh, 2, {50, 60}, {50, 60}, Rect(0x12, 0x32, 0x3C, 0x32, 0x3C)},
        DragRow{"reversed both ways", kPalHigh, 0, {100, 90}, {20, 30}, {}},
        DragRow{"right to left", kNtscHigh, 0, {100, 30}, {20, 90}, {}},
        DragRow{"bottom to top", kNtscLow, 0, {20, 90}, {100, 30}, {}}),
    [](const ::testing::TestParamInfo<DragRow>& i) { return RowName(i.param.name); });

TEST_F(MaskWindow, MouseDragOnThePaintBoxSendsForTheWindowsMask) {
    SetVideo(kPalHigh);
    QTest::mousePress(m().PaintBox2, Qt::LeftButton, {}, QPoint(20, 30));
    QTest::mouseMove(m().PaintBox2, QPoint(60, 70));
    EXPECT_EQ(m().lbHorz->text(), "60");
    EXPECT_EQ(m().lbVert->text(), "70");
    EXPECT_TRUE(port.TakeWire().empty());  // nothing while dragging
    QTest::mouseRelease(m().PaintBox2, Qt::LeftButton, {}, QPoint(100, 90));
    EXPECT_EQ(port.TakeWire(), Rect(0x10 + static_cast<std::uint8_t>(m().Mask()), 0x14, 0x1E, 0x64, 0x5A));
    EXPECT_EQ(m().lbHorz->text(), "100");
    EXPECT_EQ(m().lbVert->text(), "90");
}

TEST_F(MaskWindow, ABusyLinkSendsAndDrawsNothing) {
    SetVideo(kPalHigh);
    m().Mask_write(0, {20, 30}, {100, 90});
    port.TakeWire();
    const auto drawn = m().Drawn();
    m().Mask_write(0, {30, 40}, {110, 100});  // the first is still in flight
    EXPECT_TRUE(port.TakeWire().empty());
    EXPECT_EQ(m().Drawn(), drawn);
    m().FormActivate();
    EXPECT_TRUE(port.TakeWire().empty());
}

// ---- the camera's rectangle ---------------------------------------------------------------

struct ShowRow {
    const char* name;
    Video video;
    std::uint8_t x1, y1, x2, y2;
    QRect drawn;
};

class MaskShow : public MaskWindow, public ::testing::WithParamInterface<ShowRow> {};

TEST_P(MaskShow, ActivationReadsTheRectangleAndDrawsItInWindowPixels) {
    const ShowRow& r = GetParam();
    SetVideo(r.video);
    m().FormActivate();
    const auto sub = static_cast<std::uint8_t>(0x10 + m().Mask());
    ASSERT_EQ(port.TakeWire(), Frame({0x31, 0x1D, sub}));
    Answer({0xA0, 0x1D, sub, r.x1, r.y1, r.x2, r.y2});
    EXPECT_EQ(m().Drawn(), r.drawn);
}

INSTANTIATE_TEST_SUITE_P(
    Reverse, MaskShow,
    ::testing::Values(ShowRow{"ntsc low corner", kNtscLow, 100, 43, 200, 86, QRect(QPoint(147, 50), QPoint(294, 100))},
                      ShowRow{"low resolution x1 13 at 19", kPalLow, 13, 10, 60, 20, QRect(QPoint(19, 10), QPoint(88, 20))},
                      ShowRow{"ntsc high y only", kNtscHigh, 20, 20, 60, 50, QRect(QPoint(20, 23), QPoint(60, 58))},
                      ShowRow{"pal high as reported", kPalHigh, 20, 20, 60, 50, QRect(QPoint(20, 20), QPoint(60, 50))}),
    [](const ::testing::TestParamInfo<ShowRow>& i) { return RowName(i.param.name); });

TEST_F(MaskWindow, AnotherMasksRectangleIsNotDrawn) {
    m().Mask_read((m().Mask() + 2) % 4);
    const auto sub = static_cast<std::uint8_t>(0x10 + (m().Mask() + 2) % 4);
    ASSERT_EQ(port.TakeWire(), Frame({0x31, 0x1D, sub}));
    Answer({0xA0, 0x1D, sub, 20, 20, 60, 50});
    EXPECT_FALSE(m().Drawn().has_value());
}

TEST_F(MaskWindow, TheRectangleIsOutlinedInBlackAndCoversTheGrid) {
    SetVideo(kPalHigh);
    m().FormActivate();
    const auto sub = static_cast<std::uint8_t>(0x10 + m().Mask());
    port.TakeWire();
    Answer({0xA0, 0x1D, sub, 20, 20, 60, 50});
    const QImage img = m().PaintBox2->grab().toImage();
    const QColor face = m().palette().color(QPalette::Button);
    const auto at = [&](int x, int y) { return img.pixelColor(x, y); };
    EXPECT_EQ(at(20, 20), QColor(Qt::black));  // corners of the outline
    EXPECT_EQ(at(60, 50), QColor(Qt::black));
    EXPECT_EQ(at(40, 50), QColor(Qt::black));
    EXPECT_EQ(at(40, 30), face);  // inside: the grid line y = 30 is covered
    EXPECT_EQ(at(30, 40), face);
    EXPECT_EQ(at(10, 12), QColor(Qt::black));  // outside: the 5-pixel grid
    EXPECT_EQ(at(12, 10), QColor(Qt::black));
    EXPECT_EQ(at(12, 12), face);
    EXPECT_EQ(at(100, 100), QColor(Qt::black));

    m().Mask_area_clear();
    EXPECT_FALSE(m().Drawn().has_value());
    EXPECT_EQ(m().PaintBox2->grab().toImage().pixelColor(42, 32), face);
    EXPECT_EQ(m().PaintBox2->grab().toImage().pixelColor(42, 30), QColor(Qt::black));
}

TEST_F(MaskWindow, OpensForTheChosenMaskAndExitHidesIt) {
    EXPECT_TRUE(m().isHidden());
    window->Setup1().mask->setCurrentIndex(3);
    m().OpenFor(3);
    EXPECT_EQ(m().Mask(), 3);
    EXPECT_TRUE(m().isVisible());
    ASSERT_TRUE(WaitFor([&] { return !port.wire.empty(); }));
    EXPECT_EQ(port.TakeWire(), Frame({0x31, 0x1D, 0x13}));  // the activation reads mask D
    m().Button1->click();
    EXPECT_TRUE(m().isHidden());
}

// The window edits the mask that the main window's choice names at the
// moment of the release and of each activation, not the one it was opened for.
TEST_F(MaskWindow, EditsTheMaskTheMainWindowsChoiceNamesNow) {
    SetVideo(kPalHigh);
    window->Setup1().mask->setCurrentIndex(2);
    m().OpenFor(2);
    ASSERT_TRUE(WaitFor([&] { return !port.wire.empty(); }));
    EXPECT_EQ(port.TakeWire(), Frame({0x31, 0x1D, 0x12}));
    Answer({0xA0, 0x1D, 0x12, 0x14, 0x1E, 0x64, 0x5A});
    port.TakeWire();
    window->Setup1().mask->setCurrentIndex(1);  // Mask B, switched off: the window stays
    QTest::mousePress(m().PaintBox2, Qt::LeftButton, {}, QPoint(20, 30));
    QTest::mouseRelease(m().PaintBox2, Qt::LeftButton, {}, QPoint(100, 90));
    EXPECT_EQ(port.TakeWire(), Rect(0x11, 0x14, 0x1E, 0x64, 0x5A));
    Answer({0xA0, 0x1D});
    port.TakeWire();
    m().FormActivate();
    EXPECT_EQ(port.TakeWire(), Frame({0x31, 0x1D, 0x11}));
}

// ---- against the virtual camera -----------------------------------------------------------------

class MaskOnCamera : public CameraWindow {
protected:
    std::optional<QRect> Drawn() { return window->Mask().Drawn(); }
};

TEST_F(MaskOnCamera, AMaskDrawnIsKeptByTheCameraAndDrawnAgainOnReopening) {
    Start(link::ToolMode::Dbg);
    ASSERT_TRUE(WaitFor([&] { return window->PageControl1->isEnabled() && Settled(); }));
    TFMask& mask = window->Mask();

    // Mask B as the camera leaves the factory: 120,20 - 180,50, on an NTSC high-resolution camera.
    window->Setup1().mask->setCurrentIndex(1);  // the choice that opens the window
    mask.OpenFor(1);                            // its activation reads the rectangle
    ASSERT_TRUE(WaitFor([&] { return Settled() && Drawn() == QRect(QPoint(120, 23), QPoint(180, 58)); }));

    QTest::mousePress(mask.PaintBox2, Qt::LeftButton, {}, QPoint(30, 40));
    QTest::mouseRelease(mask.PaintBox2, Qt::LeftButton, {}, QPoint(90, 110));
    EXPECT_EQ(Drawn(), QRect(QPoint(30, 40), QPoint(90, 110)));
    ASSERT_TRUE(CameraShows([](camera::CameraModel& m) {
        return m.SettingByte(0x36) == 30 && m.SettingByte(0x37) == 34 && m.SettingByte(0x38) == 90 &&
               m.SettingByte(0x39) == 94;
    }));

    mask.Button1->click();
    mask.Mask_area_clear();
    ASSERT_FALSE(Drawn().has_value());
    mask.OpenFor(1);  // its activation reads the rectangle again
    ASSERT_TRUE(WaitFor([&] { return Settled() && Drawn() == QRect(QPoint(30, 39), QPoint(90, 109)); }));
    EXPECT_TRUE(window->Messages.empty());
    if (const char* shots = std::getenv("TERN_SHOT_DIR")) mask.grab().save(QString::fromUtf8(shots) + "/mask-window.png");
}

}  // namespace
}  // namespace tern::test
