#include <gtest/gtest.h>

#include "transfer/MaskGeometry.h"

namespace tern::transfer {
namespace {

constexpr MaskVideo kNtscHigh{false, false};
constexpr MaskVideo kNtscLow{false, true};
constexpr MaskVideo kPalHigh{true, false};
constexpr MaskVideo kPalLow{true, true};

struct DragRow {
    const char* name;
    MaskVideo video;
    WindowPoint press, release;
    CameraRect sent;
};
std::ostream& operator<<(std::ostream& os, const DragRow& r) { return os << r.name; }
class MaskDrags : public ::testing::TestWithParam<DragRow> {};

TEST_P(MaskDrags, ConvertAndLimit) {
    const auto r = MaskFromDrag(GetParam().press, GetParam().release, GetParam().video);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(*r, GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(
    Drags, MaskDrags,
    ::testing::Values(
        DragRow{"pal_high_unchanged", kPalHigh, {20, 30}, {100, 90}, {0x14, 0x1E, 0x64, 0x5A}},
        DragRow{"ntsc_low_both_shrink", kNtscLow, {20, 30}, {100, 90}, {0x0D, 0x19, 0x44, 0x4D}},
        DragRow{"ntsc_high_limited_both_ends", kNtscHigh, {5, 0}, {250, 200}, {11, 1, 196, 141}},
        DragRow{"pal_low_x_shrinks_y_limited", kPalLow, {0, 0}, {262, 202}, {11, 1, 178, 141}},
        DragRow{"pal_high_at_the_limits", kPalHigh, {11, 1}, {196, 141}, {11, 1, 196, 141}},
        DragRow{"pal_high_just_outside", kPalHigh, {10, 0}, {197, 142}, {11, 1, 196, 141}},
        DragRow{"ntsc_y_164_is_141", kNtscHigh, {20, 164}, {20, 164}, {20, 141, 20, 141}},
        DragRow{"ntsc_y_165_limited", kNtscHigh, {20, 165}, {30, 202}, {20, 141, 30, 141}},
        DragRow{"low_x_17_is_11", kNtscLow, {17, 2}, {289, 2}, {11, 1, 196, 1}},
        DragRow{"low_x_16_limited", kNtscLow, {16, 2}, {290, 2}, {11, 1, 196, 1}},
        DragRow{"click_without_movement_is_one_point", kPalHigh, {50, 60}, {50, 60}, {50, 60, 50, 60}},
        DragRow{"outside_to_the_left_and_top", kNtscLow, {-40, -30}, {30, 30}, {11, 1, 20, 25}}));

TEST(MaskDrags, ReversedDragSendsNothing) {
    EXPECT_FALSE(MaskFromDrag({100, 90}, {20, 30}, kPalHigh).has_value());
    EXPECT_FALSE(MaskFromDrag({20, 90}, {100, 30}, kPalHigh).has_value());  // bottom to top
    EXPECT_FALSE(MaskFromDrag({100, 30}, {20, 90}, kPalHigh).has_value());  // right to left
}

struct ShowRow {
    const char* name;
    MaskVideo video;
    WindowPoint camera;
    WindowPoint window;
};
std::ostream& operator<<(std::ostream& os, const ShowRow& r) { return os << r.name; }
class MaskShown : public ::testing::TestWithParam<ShowRow> {};

TEST_P(MaskShown, CameraToWindow) { EXPECT_EQ(CameraToWindow(GetParam().camera, GetParam().video), GetParam().window); }

INSTANTIATE_TEST_SUITE_P(
    Points, MaskShown,
    ::testing::Values(ShowRow{"low_x13_at_19", kPalLow, {13, 0}, {19, 0}},
                      ShowRow{"ntsc_low_corner", kNtscLow, {100, 43}, {147, 50}},
                      ShowRow{"ntsc_low_far_corner", kNtscLow, {200, 86}, {294, 100}},
                      ShowRow{"pal_high_unchanged", kPalHigh, {196, 141}, {196, 141}},
                      ShowRow{"ntsc_y_limit", kNtscHigh, {11, 141}, {11, 163}},
                      ShowRow{"ntsc_y_1", kNtscHigh, {11, 1}, {11, 1}},
                      ShowRow{"low_x_limit", kNtscLow, {196, 1}, {288, 1}},
                      ShowRow{"low_x_11", kNtscLow, {11, 1}, {16, 1}},
                      // The factor 1.4705882352941175 lies just below 1/0.68.
                      ShowRow{"low_x_68_truncated_factor", kNtscLow, {68, 1}, {99, 1}}));

TEST(MaskShown, ShowingThenDrawingTheSameRectangleGivesItBack) {
    for (MaskVideo v : {kNtscHigh, kNtscLow, kPalHigh, kPalLow}) {
        for (int x = kMaskXMin; x <= kMaskXMax; ++x) {
            for (int y = kMaskYMin; y <= kMaskYMax; ++y) {
                const WindowPoint w = CameraToWindow({x, y}, v);
                const WindowPoint back = WindowToCamera(w, v);
                // Truncation both ways may lose at most one camera unit.
                ASSERT_LE(x - back.x, 1) << x << "," << y;
                ASSERT_GE(x - back.x, 0) << x << "," << y;
                ASSERT_LE(y - back.y, 1) << x << "," << y;
                ASSERT_GE(y - back.y, 0) << x << "," << y;
            }
        }
    }
}

TEST(MaskShown, WindowRectangleOfACameraRectangle) {
    EXPECT_EQ(MaskToWindow({100, 43, 200, 86}, kNtscLow), (WindowRect{{147, 50}, {294, 100}}));
}

}  // namespace
}  // namespace tern::transfer
