#include "widgets/RadioGroup.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QRadioButton>

namespace tern::widgets {

TRadioGroup::TRadioGroup(const QString& name, const QString& caption, const QStringList& items,
                         QWidget* parent, Qt::Orientation orientation)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)) {
    setObjectName(name);
    auto* box = new QBoxLayout(orientation == Qt::Vertical ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight, this);
    box->setContentsMargins(6, 4, 6, 4);
    box->setSpacing(2);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items.at(i), this);
        b->setObjectName(name + "_" + QString::number(i));
        group_->addButton(b, i);
        buttons_.append(b);
        box->addWidget(b);
    }
    // toggled, not clicked: a change from code must raise the same event.
    connect(group_, &QButtonGroup::idToggled, this, &TRadioGroup::Picked);
    connect(group_, &QButtonGroup::idClicked, this, &TRadioGroup::UserClick);
}

void TRadioGroup::Picked(int id, bool checked) {
    if (!checked || id == index_) return;
    index_ = id;
    emit Click();
}

void TRadioGroup::SetItemIndex(int index) {
    if (index < 0 || index >= Count()) index = -1;
    if (index == index_) return;
    if (index >= 0) {
        buttons_.at(index)->setChecked(true);  // Picked raises Click
        return;
    }
    // An exclusive group will not let its last checked button go.
    group_->setExclusive(false);
    for (QRadioButton* b : buttons_) b->setChecked(false);
    group_->setExclusive(true);
    index_ = -1;
    emit Click();
}

}  // namespace tern::widgets
