#include "widgets/PlainProgressBar.h"

#include <algorithm>

#include <QPainter>
#include <QRegion>
#include <QTextLayout>

namespace tern::widgets {

PlainProgressBar::PlainProgressBar(QWidget* parent) : QProgressBar(parent) {
    // Opaque: what lies under it is not painted first.
    setAutoFillBackground(true);
}

void PlainProgressBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    const QRect r = rect();
    p.fillRect(r, isEnabled() ? pal.base() : pal.window());
    p.setPen(pal.color(QPalette::Mid));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    const QRect inside = r.adjusted(1, 1, -1, -1);

    const qint64 span = static_cast<qint64>(maximum()) - minimum();
    int doneWidth = 0;
    if (span > 0 && value() > minimum()) {
        const qint64 steps = std::min<qint64>(static_cast<qint64>(value()) - minimum(), span);
        doneWidth = static_cast<int>(inside.width() * steps / span);
    }
    const QRect done(invertedAppearance() ? inside.right() - doneWidth + 1 : inside.left(), inside.top(), doneWidth,
                     inside.height());
    if (doneWidth > 0) p.fillRect(done, pal.highlight());
    if (!isTextVisible()) return;
    const QString shown = text();
    if (shown.isEmpty()) return;
    // Laid out once, drawn twice: over the part done in the highlighted
    // text's colour, over the rest in the text's.
    QTextLayout layout(shown, font());
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    if (!line.isValid()) return;
    const QPointF at(inside.left() + (inside.width() - line.naturalTextWidth()) / 2.0,
                     inside.top() + (inside.height() - line.height()) / 2.0);
    p.setClipRegion(QRegion(inside) - done);
    p.setPen(isEnabled() ? pal.color(QPalette::Text) : pal.color(QPalette::Disabled, QPalette::Text));
    layout.draw(&p, at);
    if (doneWidth > 0) {
        p.setClipRect(done);
        p.setPen(pal.color(QPalette::HighlightedText));
        layout.draw(&p, at);
    }
}

}  // namespace tern::widgets
