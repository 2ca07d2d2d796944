#include "widgets/Fonts.h"

#include <QGuiApplication>

namespace tern::widgets {

QFont WindowFont() {
    QFont font = QGuiApplication::font();
    font.setPixelSize(12);
    // The window's fixed layout was drawn for a narrow face (30 hex digits
    // in a 220-pixel status panel); common default faces are about a tenth
    // wider, so they are drawn a tenth narrower.
    font.setStretch(90);
    return font;
}

QFont FixedBoldFont() {
    // "monospace" is fontconfig's alias for the platform's fixed-pitch face.
    QFont font(QStringLiteral("monospace"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(12);
    font.setBold(true);
    return font;
}

}  // namespace tern::widgets
