// A spin button: an up and a down arrow, stacked, with nothing to show.
// It only tells its owner which arrow was pressed.
#pragma once

#include <QWidget>

class QToolButton;

namespace tern::widgets {

class TCSpinButton : public QWidget {
    Q_OBJECT
public:
    explicit TCSpinButton(const QString& name, QWidget* parent = nullptr);

    QToolButton* UpButton() const { return up_; }
    QToolButton* DownButton() const { return down_; }

    /// Same as pressing an arrow (tests, keyboard).
    void UpClick() { emit OnUpClick(); }
    void DownClick() { emit OnDownClick(); }

signals:
    void OnUpClick();
    void OnDownClick();

private:
    QToolButton* up_;
    QToolButton* down_;
};

}  // namespace tern::widgets
