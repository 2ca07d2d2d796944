#include "controls/Setup1Page.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "widgets/Make.h"
#include "widgets/PageHost.h"

namespace tern::controls {

Setup1Page::Setup1Page(QWidget* sheet, widgets::PageHost& host) : QObject(sheet), host_(host) {
    setObjectName("Setup1Page");
    auto* box = new QVBoxLayout(sheet);
    box->setContentsMargins(0, 0, 0, 0);
    Panel4 = new QFrame(sheet);
    Panel4->setObjectName("Panel4");
    box->addWidget(Panel4);
    auto* inner = new QVBoxLayout(Panel4);
    inner->addStretch();
    auto* row = new QHBoxLayout;
    row->addStretch();
    exitbtn = widgets::make::Button("exitbtn", "EXIT", Panel4);
    row->addWidget(exitbtn);
    inner->addLayout(row);
    connect(exitbtn, &QPushButton::clicked, this, &Setup1Page::ExitRequested);
}

void Setup1Page::Trans_end_setup1() {}

}  // namespace tern::controls
