// Builders the Setup pages share: named controls in the pages' sizes, the
// caption-and-bar rows that keep captions aligned in a group, and the 48-cell
// area grids built by a loop from the catalogue's cell names.
#pragma once

#include <QCheckBox>
#include <QBoxLayout>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QSlider>
#include <QStringList>
#include <QVBoxLayout>
#include <QWidget>

#include <array>
#include <initializer_list>

#include "transfer/Catalogue.h"
#include "widgets/RadioGroup.h"

namespace tern::controls::parts {

using Cells = std::array<QCheckBox*, transfer::kGridCells>;

/// A radio group laid out in a row; without a caption it has no frame, as
/// the groups that sit inside a captioned group box.
inline widgets::TRadioGroup* Radio(const QString& name, const QString& caption, const QStringList& items,
                                   QWidget* parent, Qt::Orientation orientation = Qt::Horizontal) {
    auto* g = new widgets::TRadioGroup(name, caption, items, parent, orientation);
    if (caption.isEmpty()) {
        g->setFlat(true);
        g->setStyleSheet(QStringLiteral("QGroupBox#%1 { border: 0px; margin: 0px; padding: 0px; }").arg(name));
        g->layout()->setContentsMargins(0, 0, 0, 0);
    }
    g->layout()->setSpacing(6);
    if (orientation == Qt::Horizontal) static_cast<QBoxLayout*>(g->layout())->addStretch();
    g->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    return g;
}

inline QComboBox* Combo(const QString& name, const QStringList& items, QWidget* parent) {
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->addItems(items);
    c->setCurrentIndex(-1);  // nothing chosen until the camera says
    c->setMaxVisibleItems(16);
    return c;
}

inline QSlider* Bar(const QString& name, int min, int max, QWidget* parent) {
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setObjectName(name);
    s->setRange(min, max);
    s->setMinimumWidth(110);
    return s;
}

inline QCheckBox* Check(const QString& name, const QString& caption, QWidget* parent) {
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(name);
    return c;
}

/// The layout of a group box, margins kept small.
inline QGridLayout* Grid(QWidget* group) {
    auto* g = new QGridLayout(group);
    g->setContentsMargins(8, 4, 8, 6);
    g->setHorizontalSpacing(6);
    g->setVerticalSpacing(3);
    return g;
}

/// Greys a caption out while its control is disabled, so the enabling rules
/// show on the caption too.
class FollowEnabled : public QObject {
public:
    FollowEnabled(QWidget* control, QWidget* caption) : QObject(caption), caption_(caption) {
        control->installEventFilter(this);
        caption->setEnabled(control->isEnabled());
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange) caption_->setEnabled(static_cast<QWidget*>(watched)->isEnabled());
        return false;
    }

private:
    QWidget* caption_;
};

/// A caption in column 0 and its control beside it, spanning `span` columns.
inline void Row(QGridLayout* g, int row, const QString& caption, QWidget* control, QWidget* parent, int span = 1) {
    auto* l = new QLabel(caption, parent);
    l->setBuddy(control);
    new FollowEnabled(control, l);
    g->addWidget(l, row, 0, Qt::AlignLeft | Qt::AlignVCenter);
    g->addWidget(control, row, 1, 1, span);
    g->setColumnStretch(1, 1);
}

/// A control that the camera's settings show and hide keeps its place, so
/// the layout does not jump when it appears.
inline void KeepPlace(QWidget* w) {
    QSizePolicy p = w->sizePolicy();
    p.setRetainSizeWhenHidden(true);
    w->setSizePolicy(p);
}

inline QVBoxLayout* Column(std::initializer_list<QWidget*> groups) {
    auto* col = new QVBoxLayout;
    col->setSpacing(4);
    for (QWidget* g : groups) col->addWidget(g);
    col->addStretch();
    return col;
}

/// The 48 cells of an area grid in a container named `name`: 6 rows of 8,
/// cell k (1..48) named as the catalogue names it (BLCCheck07, MoCheck48).
inline QWidget* CellGrid(const QString& name, transfer::Control grid, Cells& cells, QWidget* parent) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setFrameShape(QFrame::Box);
    auto* g = new QGridLayout(panel);
    g->setContentsMargins(3, 3, 3, 3);
    g->setSpacing(1);
    for (int k = 1; k <= transfer::kGridCells; ++k) {
        auto* c = new QCheckBox(panel);
        c->setObjectName(QString::fromStdString(transfer::GridCellName(grid, k)));
        cells[static_cast<std::size_t>(k - 1)] = c;
        g->addWidget(c, (k - 1) / 8, (k - 1) % 8);
    }
    panel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return panel;
}

inline transfer::GridCells CellsOf(const Cells& cells) {
    transfer::GridCells out{};
    for (std::size_t i = 0; i < cells.size(); ++i) out[i] = cells[i]->isChecked();
    return out;
}

inline void SetCells(Cells& cells, const transfer::GridCells& values) {
    for (std::size_t i = 0; i < cells.size(); ++i) cells[i]->setChecked(values[i]);
}

}  // namespace tern::controls::parts
