#include "widgets/SpinButton.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace tern::widgets {

TCSpinButton::TCSpinButton(const QString& name, QWidget* parent) : QWidget(parent) {
    setObjectName(name);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(0);
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    up_->setObjectName(name + "_up");
    down_->setObjectName(name + "_down");
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);  // held down, it keeps stepping like the classic control
        b->setFixedSize(16, 11);
        b->setFocusPolicy(Qt::NoFocus);
        box->addWidget(b);
    }
    // A tool button's click is its only event; there is no value to watch.
    connect(up_, &QToolButton::clicked, this, &TCSpinButton::OnUpClick);
    connect(down_, &QToolButton::clicked, this, &TCSpinButton::OnDownClick);
    setFixedSize(16, 22);
}

}  // namespace tern::widgets
