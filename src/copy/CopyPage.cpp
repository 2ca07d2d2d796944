#include "copy/CopyPage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "widgets/Make.h"
#include "widgets/PageHost.h"

namespace tern::copy {

using widgets::make::Button;
using widgets::make::Label;

CopyPage::CopyPage(QWidget* sheet, widgets::PageHost& host) : QObject(sheet), host_(host) {
    setObjectName("CopyPage");
    auto* box = new QVBoxLayout(sheet);
    auto* row = new QHBoxLayout;
    CtopOK2 = Button("CtopOK2", "Camera->PC", sheet);
    ptocOk = Button("ptocOk", "PC->Camera(Single)", sheet);
    ptocOk2 = Button("ptocOk2", "PC->Camera(Batch)", sheet);
    for (QPushButton* b : {CtopOK2, ptocOk, ptocOk2}) row->addWidget(b);
    row->addStretch();
    box->addLayout(row);
    complete2 = Label("complete2", "Complete", sheet);
    box->addWidget(complete2);
    box->addStretch();
    // Camera->PC and the single-record copy are service functions, shown by the unlock.
    CtopOK2->hide();
    ptocOk->hide();
}

void CopyPage::Trans_end_copy() {}

void CopyPage::ResetAcknowledged() {}

void CopyPage::AdvanceProgress(int by) { (void)by; }

void CopyPage::ReplyGivenUp() {}

}  // namespace tern::copy
