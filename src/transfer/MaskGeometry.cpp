#include "transfer/MaskGeometry.h"

#include <algorithm>

namespace tern::transfer {

namespace {

// Window to camera in exact integers: trunc(v * 0.86) and trunc(v * 0.68),
// truncated toward zero as C++ division does (a drag may leave the picture,
// so window coordinates can be negative).
int Shrink(int v, int percent) { return v * percent / 100; }

// Camera to window: the factors 1/0.86 and 1/0.68 as the camera uses them,
// truncated toward zero.
constexpr double kGrowY = 1.1627906976744187;
constexpr double kGrowX = 1.4705882352941175;
int Grow(int v, double factor) { return static_cast<int>(static_cast<double>(v) * factor); }

}  // namespace

WindowPoint WindowToCamera(WindowPoint p, MaskVideo video) {
    const int x = video.lowResolution ? Shrink(p.x, 68) : p.x;
    const int y = video.pal ? p.y : Shrink(p.y, 86);
    return {std::clamp(x, kMaskXMin, kMaskXMax), std::clamp(y, kMaskYMin, kMaskYMax)};
}

WindowPoint CameraToWindow(WindowPoint p, MaskVideo video) {
    return {video.lowResolution ? Grow(p.x, kGrowX) : p.x, video.pal ? p.y : Grow(p.y, kGrowY)};
}

std::optional<CameraRect> MaskFromDrag(WindowPoint press, WindowPoint release, MaskVideo video) {
    if (release.x < press.x || release.y < press.y) return std::nullopt;
    const WindowPoint a = WindowToCamera(press, video);
    const WindowPoint b = WindowToCamera(release, video);
    return CameraRect{a.x, a.y, b.x, b.y};
}

WindowRect MaskToWindow(const CameraRect& r, MaskVideo video) {
    return {CameraToWindow({r.x1, r.y1}, video), CameraToWindow({r.x2, r.y2}, video)};
}

}  // namespace tern::transfer
