#include "widgets/Fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace tern::widgets {

namespace {
QString FirstInstalled(const QStringList& wanted) {
    const QStringList families = QFontDatabase::families();
    for (const QString& f : wanted) {
        if (families.contains(f, Qt::CaseInsensitive)) return f;
    }
    return QString();
}
}  // namespace

QFont WindowFont() {
    QFont font;
    const QString family = FirstInstalled({QString::fromUtf8("ＭＳ Ｐゴシック"), "MS PGothic", "Noto Sans CJK JP",
                                           "Noto Sans JP", "IPAPGothic", "VL PGothic", "TakaoPGothic"});
    if (!family.isEmpty()) font.setFamily(family);
    font.setPixelSize(12);
    return font;
}

QFont FixedBoldFont() {
    QFont font;
    QString family = FirstInstalled({QString::fromUtf8("ＭＳ ゴシック"), "MS Gothic", "Noto Sans Mono CJK JP",
                                     "IPAGothic", "DejaVu Sans Mono"});
    if (family.isEmpty()) family = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    font.setFamily(family);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPixelSize(12);
    font.setBold(true);
    return font;
}

}  // namespace tern::widgets
