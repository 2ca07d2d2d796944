#include "widgets/HexEdit.h"

#include <QMouseEvent>
#include <QValidator>

namespace tern::widgets {

namespace {

bool IsHexDigit(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F') || (u >= u'a' && u <= u'f');
}

bool AllHex(const QString& text) {
    for (const QChar c : text) {
        if (!IsHexDigit(c)) return false;
    }
    return true;
}

/// Up to `max` hex digits; anything else is refused as it is typed. (Plain
/// code: a regular expression engine costs the window memory at start.)
class HexValidator : public QValidator {
public:
    HexValidator(int max, QObject* parent) : QValidator(parent), max_(max) {}
    State validate(QString& input, int&) const override {
        return input.size() <= max_ && AllHex(input) ? Acceptable : Invalid;
    }

private:
    int max_;
};

}  // namespace

THexEdit::THexEdit(const QString& name, const QString& text, int maxLength, QWidget* parent)
    : QLineEdit(text, parent) {
    setObjectName(name);
    setMaxLength(maxLength);
    setValidator(new HexValidator(maxLength, this));
}

bool THexEdit::HoldsHex() const { return !text().isEmpty() && AllHex(text()); }

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
