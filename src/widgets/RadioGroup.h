// A radio group: a framed set of radio buttons with one ItemIndex, -1 when
// nothing is chosen. Its Click event fires whenever ItemIndex changes,
// whether the user picked an item or code set the index.
#pragma once

#include <QGroupBox>
#include <QList>
#include <QStringList>

class QButtonGroup;
class QRadioButton;
class QBoxLayout;

namespace tern::widgets {

class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString& name, const QString& caption, const QStringList& items,
                QWidget* parent = nullptr, Qt::Orientation orientation = Qt::Vertical);

    int ItemIndex() const { return index_; }
    /// Any value outside the items means no choice (-1).
    void SetItemIndex(int index);
    int Count() const { return static_cast<int>(buttons_.size()); }
    QRadioButton* Button(int i) const { return buttons_.at(i); }

signals:
    void Click();
    /// The user picked an item (a click or a key); emitted after Click.
    void UserClick();

private:
    void Picked(int id, bool checked);

    QButtonGroup* group_;
    QList<QRadioButton*> buttons_;
    int index_ = -1;
};

}  // namespace tern::widgets
