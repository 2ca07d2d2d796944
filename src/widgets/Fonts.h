// The window's fonts: the classic Japanese UI faces when installed, else a
// Japanese-capable sans (Noto Sans CJK JP) or a fixed-pitch fallback.
#pragma once

#include <QFont>

namespace tern::widgets {

/// "ＭＳ Ｐゴシック" at 12 pixels, or the nearest installed Japanese sans.
QFont WindowFont();
/// The bold fixed-pitch font of the register list: "ＭＳ ゴシック" or a monospace face.
QFont FixedBoldFont();

}  // namespace tern::widgets
