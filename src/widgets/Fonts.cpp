#include "widgets/Fonts.h"

#include <QGuiApplication>

namespace tern::widgets {

QFont WindowFont() {
    QFont font = QGuiApplication::font();
    font.setPixelSize(12);
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
