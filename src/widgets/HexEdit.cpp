#include "widgets/HexEdit.h"

#include <QMouseEvent>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace tern::widgets {

THexEdit::THexEdit(const QString& name, const QString& text, int maxLength, QWidget* parent)
    : QLineEdit(text, parent) {
    setObjectName(name);
    setMaxLength(maxLength);
    setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9A-Fa-f]{0,%1}").arg(maxLength)), this));
}

bool THexEdit::HoldsHex() const {
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]+$"));
    return hex.match(text()).hasMatch();
}

void THexEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    if (!HoldsHex()) selectAll();
}

void THexEdit::mouseReleaseEvent(QMouseEvent* event) {
    QLineEdit::mouseReleaseEvent(event);
    // A click places the cursor; over a caption, take the whole caption instead,
    // since the validator would refuse to delete it character by character.
    if (!HoldsHex() && !hasSelectedText()) selectAll();
}

}  // namespace tern::widgets
