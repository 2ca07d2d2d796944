#include "widgets/Fonts.h"

#include <QFontInfo>
#include <QGuiApplication>

namespace tern::widgets {

QFont WindowFont() {
    QFont font = QGuiApplication::font();
    // A font the user chose large (12 points and up: a large screen, or for
    // the eyes) is kept; the window's layouts grow with it.
    if (QFontInfo(font).pixelSize() >= kLargeFontPixels) return font;
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
