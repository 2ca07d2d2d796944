// A short edit for hexadecimal values (four digits on the Debug page). It
// takes only hex digits from the keyboard, so a typing slip cannot turn into
// 0xFFFF on the wire; a caption set from code ("Data") may stand until the
// user edits, and is selected whole when the edit gets the focus, so the
// first digit typed replaces it.
#pragma once

#include <QLineEdit>

namespace tern::widgets {

class THexEdit : public QLineEdit {
    Q_OBJECT
public:
    THexEdit(const QString& name, const QString& text, int maxLength = 4, QWidget* parent = nullptr);

    /// True when the text is made of hex digits only (an empty text is not).
    bool HoldsHex() const;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace tern::widgets
