// A progress bar drawn plainly: a thin frame, the part done in the
// highlight colour and the text over both. The style's own bar paints a
// rounded groove, a gradient and stripes, measures its text twice and, for
// the stripes, hands its fills to a thread pool (waking its threads): about
// five times what this one costs a repaint, and a copy repaints its bar
// every second for half a minute.
#pragma once

#include <QProgressBar>

namespace tern::widgets {

class PlainProgressBar : public QProgressBar {
public:
    explicit PlainProgressBar(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tern::widgets
