// Controls that stay readable at any font: short fixed-size edits grown to
// the digits they hold, and a slider's value shown as a number beside it.
#pragma once

class QLabel;
class QSlider;
class QWidget;

namespace tern::widgets {

/// Grows the fixed-size edits and buttons under `root` that are too small
/// for their digits or caption in the font they are drawn in (a large
/// application font).
void FitToFont(QWidget* root);

/// A label beside `bar`, in its place in the layout, that shows the bar's
/// value as a number and follows its enabling and visibility; named
/// `<bar>Value`. Made once: a second call returns the same label. Null when
/// the bar is in no layout.
QLabel* ShowValueBeside(QSlider* bar);

}  // namespace tern::widgets
