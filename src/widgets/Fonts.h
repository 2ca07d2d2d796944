// The window's fonts: the platform's default faces at the window's pixel
// size. No Japanese face is named: fontconfig falls back to one that has the
// glyphs for the Japanese texts, so a large CJK font is loaded only when
// such a text is drawn, and the font list is never scanned at start.
#pragma once

#include <QFont>

namespace tern::widgets {

/// From this pixel size up, the application's font is the user's choice and kept.
inline constexpr int kLargeFontPixels = 16;
/// The application's default face at 12 pixels; a large application font as it is.
QFont WindowFont();
/// The bold fixed-pitch font of the register list: the platform's monospace face.
QFont FixedBoldFont();

}  // namespace tern::widgets
