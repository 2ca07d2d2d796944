#include "widgets/Fit.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <algorithm>

namespace tern::widgets {

void FitToFont(QWidget* root) {
    for (QPushButton* b : root->findChildren<QPushButton*>()) {
        if (b->minimumWidth() != b->maximumWidth() || b->text().isEmpty()) continue;
        const int need = b->fontMetrics().horizontalAdvance(QString(b->text()).remove(QLatin1Char('&'))) + 12;
        if (b->minimumWidth() < need) b->setFixedWidth(need);
    }
    for (QLineEdit* e : root->findChildren<QLineEdit*>()) {
        const bool fixedWidth = e->minimumWidth() == e->maximumWidth();
        const bool fixedHeight = e->minimumHeight() == e->maximumHeight();
        if (!fixedWidth && !fixedHeight) continue;
        if (fixedWidth) {
            // The widest text it holds: its digits, or a signed number.
            const int chars = e->maxLength() <= 8 ? e->maxLength() : 4;
            const int need = e->fontMetrics().horizontalAdvance(QString(chars, QLatin1Char('D'))) + 12;
            if (e->width() < need && e->minimumWidth() < need) e->setFixedWidth(need);
        }
        if (fixedHeight) {
            const int need = e->sizeHint().height();
            if (e->minimumHeight() < need) e->setFixedHeight(need);
        }
    }
}

namespace {

/// Keeps the value label enabled and shown with its bar.
class FollowBar : public QObject {
public:
    FollowBar(QSlider* bar, QLabel* label) : QObject(label), label_(label) { bar->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* bar = static_cast<QWidget*>(watched);
        switch (event->type()) {
            case QEvent::EnabledChange: label_->setEnabled(bar->isEnabled()); break;
            case QEvent::ShowToParent: label_->setVisible(true); break;
            case QEvent::HideToParent: label_->setVisible(false); break;
            default: break;
        }
        return false;
    }

private:
    QLabel* label_;
};

}  // namespace

QLabel* ShowValueBeside(QSlider* bar) {
    const QString name = bar->objectName() + QStringLiteral("Value");
    QWidget* parent = bar->parentWidget();
    if (parent == nullptr) return nullptr;
    if (auto* made = parent->findChild<QLabel*>(name)) return made;
    QLayout* layout = parent->layout();
    if (layout == nullptr) return nullptr;
    // The bar and its value take the bar's place, in a row of their own.
    auto* box = new QWidget(parent);
    box->setObjectName(bar->objectName() + QStringLiteral("Row"));
    QLayoutItem* old = layout->replaceWidget(bar, box);
    if (old == nullptr) {
        delete box;
        return nullptr;
    }
    delete old;
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    auto* label = new QLabel(box);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const auto digits = std::max(QString::number(bar->minimum()).size(), QString::number(bar->maximum()).size());
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QString(digits, QLatin1Char('8'))) + 4);
    label->setNum(bar->value());
    QObject::connect(bar, &QSlider::valueChanged, label, [label](int v) { label->setNum(v); });
    QObject::connect(bar, &QSlider::rangeChanged, label, [label, bar] { label->setNum(bar->value()); });
    label->setEnabled(bar->isEnabled());
    label->setVisible(!bar->isHidden());
    new FollowBar(bar, label);
    row->addWidget(bar, 1);
    row->addWidget(label);
    return label;
}

}  // namespace tern::widgets
