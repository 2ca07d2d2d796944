#include "controls/Setup2Page.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "widgets/Make.h"
#include "widgets/PageHost.h"

namespace tern::controls {

Setup2Page::Setup2Page(QWidget* sheet, widgets::PageHost& host) : QObject(sheet), host_(host) {
    setObjectName("Setup2Page");
    auto* box = new QVBoxLayout(sheet);
    box->addStretch();
    auto* row = new QHBoxLayout;
    row->addStretch();
    exitbtn2 = widgets::make::Button("exitbtn2", "EXIT", sheet);
    row->addWidget(exitbtn2);
    box->addLayout(row);
    connect(exitbtn2, &QPushButton::clicked, this, &Setup2Page::ExitRequested);
}

void Setup2Page::Trans_end_setup2() {}

}  // namespace tern::controls
