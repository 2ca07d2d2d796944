#include "widgets/Apply.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QWidget>

#include "widgets/RadioGroup.h"

namespace tern::widgets {

using transfer::ControlUpdate;

QWidget* FindControl(QWidget* root, std::string_view name) {
    if (root == nullptr) return nullptr;
    return root->findChild<QWidget*>(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
}

ControlIndex::ControlIndex(QWidget* root) {
    if (root == nullptr) return;
    // Breadth first, as findChild looks: the first of a name wins.
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->objectName().isEmpty() && !map_.contains(w->objectName())) map_.insert(w->objectName(), w);
    }
}

QWidget* ControlIndex::Find(std::string_view name) const {
    return map_.value(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())), nullptr);
}

namespace {

void Apply(QWidget* w, const ControlUpdate& u) {
    if (w == nullptr) return;
    const QString text = QString::fromStdString(u.text);
    switch (u.kind) {
        case ControlUpdate::Kind::Index:
            if (auto* g = qobject_cast<TRadioGroup*>(w)) {
                g->SetItemIndex(u.value);
            } else if (auto* c = qobject_cast<QComboBox*>(w)) {
                c->setCurrentIndex(u.value >= 0 && u.value < c->count() ? u.value : -1);
            }
            break;
        case ControlUpdate::Kind::Position:
            if (auto* s = qobject_cast<QAbstractSlider*>(w)) {
                s->setValue(u.value);  // the bar keeps it within its range
            } else if (auto* b = qobject_cast<QSpinBox*>(w)) {
                b->setValue(u.value);
            }
            break;
        case ControlUpdate::Kind::Maximum:
            if (auto* s = qobject_cast<QAbstractSlider*>(w)) {
                s->setMaximum(u.value);
            } else if (auto* b = qobject_cast<QSpinBox*>(w)) {
                b->setMaximum(u.value);
            }
            break;
        case ControlUpdate::Kind::Check:
            if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setChecked(u.value != 0);
            break;
        case ControlUpdate::Kind::Text:
            if (auto* e = qobject_cast<QLineEdit*>(w)) {
                e->setText(text);
            } else if (auto* l = qobject_cast<QLabel*>(w)) {
                l->setText(text);
            } else if (auto* c = qobject_cast<QComboBox*>(w); c && c->isEditable()) {
                c->setEditText(text);
            }
            break;
        case ControlUpdate::Kind::Visible:
            w->setVisible(u.value != 0);
            break;
    }
}

int ValueOf(QWidget* w) {
    if (w == nullptr) return transfer::kNoSelection;
    if (auto* g = qobject_cast<TRadioGroup*>(w)) return g->ItemIndex();
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentIndex();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->isChecked() ? 1 : 0;
    if (auto* s = qobject_cast<QAbstractSlider*>(w)) return s->value();
    if (auto* b = qobject_cast<QSpinBox*>(w)) return b->value();
    return transfer::kNoSelection;
}

}  // namespace

void ApplyUpdate(QWidget* root, const ControlUpdate& u) { Apply(FindControl(root, u.control), u); }
void ApplyUpdate(const ControlIndex& controls, const ControlUpdate& u) { Apply(controls.Find(u.control), u); }
int ControlValue(const ControlIndex& controls, std::string_view name) { return ValueOf(controls.Find(name)); }

}  // namespace tern::widgets
