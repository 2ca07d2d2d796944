// The mask window's picture and the camera's mask coordinates. The window
// draws on a 263 x 203 client area; the camera counts mask corners in its
// own units, which shrink the picture vertically on NTSC (0.86) and
// horizontally on a low-resolution sensor (0.68), and it takes x 11..196 and
// y 1..141.
#pragma once

#include <optional>

#include "transfer/Catalogue.h"

namespace tern::transfer {

inline constexpr int kMaskWindowWidth = 263;
inline constexpr int kMaskWindowHeight = 203;
inline constexpr int kMaskXMin = 11;
inline constexpr int kMaskXMax = 196;
inline constexpr int kMaskYMin = 1;
inline constexpr int kMaskYMax = 141;

/// What the conversions need of the video geometry; the window starts as
/// NTSC with a high-resolution sensor until registers 1 and 64 are read.
struct MaskVideo {
    bool pal = false;
    bool lowResolution = false;
};

struct WindowPoint {
    int x = 0, y = 0;
    bool operator==(const WindowPoint&) const = default;
};

/// A window point in camera units, limited to the camera's range.
WindowPoint WindowToCamera(WindowPoint p, MaskVideo video);
/// A camera point in window pixels, for drawing the camera's rectangle; not limited.
WindowPoint CameraToWindow(WindowPoint p, MaskVideo video);

/// The rectangle a drag from `press` to `release` gives, in camera units; nothing
/// when the release lies left of or above the press (a rectangle is drawn from
/// its upper-left corner). A click without movement gives a one-point rectangle.
std::optional<CameraRect> MaskFromDrag(WindowPoint press, WindowPoint release, MaskVideo video);

/// The camera's rectangle as window corners: (x1, y1) and (x2, y2).
struct WindowRect {
    WindowPoint topLeft, bottomRight;
    bool operator==(const WindowRect&) const = default;
};
WindowRect MaskToWindow(const CameraRect& r, MaskVideo video);

}  // namespace tern::transfer
