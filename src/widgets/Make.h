// Small builders for named controls: every control carries its name from the
// window layout as its objectName.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QString>

namespace tern::widgets::make {

inline QPushButton* Button(const QString& name, const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    return b;
}

inline QLabel* Label(const QString& name, const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

inline QGroupBox* Group(const QString& name, const QString& caption, QWidget* parent) {
    auto* g = new QGroupBox(caption, parent);
    g->setObjectName(name);
    return g;
}

}  // namespace tern::widgets::make
