// The page switch, the reset, the exit and the service unlock.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include "app/MTern.h"

namespace tern::app {

namespace {
constexpr int kUnlockTriesAllowed = 3;
const char* const kUnlockWord = "wqxz";
const char* const kUnlockWordUpper = "WQXZ";
}  // namespace

void TFTern::PageControl1Change() {
    const int page = ActivePage();
    bool labels = true;
    bool reset = false;
    switch (page) {
        case transfer::kPageAdjust:
        case transfer::kPageCopy:
            labels = true;
            reset = false;
            break;
        case transfer::kPageDebug:
        case transfer::kPageDefect:
            labels = true;
            reset = true;
            break;
        case transfer::kPageSetup1:
        case transfer::kPageSetup2:
            labels = false;
            reset = false;
            break;
        default:
            break;
    }
    TV->setVisible(labels);
    Resolution->setVisible(labels);
    ResetButton->setVisible(reset);
    ReLoadClick();
}

void TFTern::ReLoadClick() { link_->ReLoadClick(); }

void TFTern::Reset1Click() {
    if (!link_->Trans_chk()) return;
    link::Payload p;
    p[1] = 0xF1;
    link_->StxCommand(p, 1);
    link_->Lock_on();
}

void TFTern::ExitClick() {
    FormDestroy();
    close();
}

void TFTern::FormDestroy() {
    if (closed_) return;
    closed_ = true;
    for (QTimer* t : findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly)) t->stop();
    link_->Close();
}

void TFTern::Panel1Click() {
    if (ActivePage() != transfer::kPageCopy) return;
    if (PageControl1->isTabVisible(transfer::kPageDebug)) {
        pwl->hide();
        PageControl1->setTabVisible(transfer::kPageDebug, false);
        PageControl1->setTabVisible(transfer::kPageDefect, false);
        PageControl1->setTabVisible(transfer::kPageSetup1, false);
        return;
    }
    if (pwl->isHidden()) {
        pwl->show();
        UnlockTries = 0;
    } else {
        pwl->hide();
    }
}

void TFTern::pwlChange() {
    const QString text = pwl->text();
    if (text == kUnlockWord || text == kUnlockWordUpper) {
        PageControl1->setTabVisible(transfer::kPageDebug, true);
        PageControl1->setTabVisible(transfer::kPageDefect, true);
        PageControl1->setTabVisible(transfer::kPageSetup1, true);
        CtopOK2->show();
        ptocOk->show();
        pwl->hide();
    } else if (UnlockTries < kUnlockTriesAllowed) {
        if (!text.isEmpty()) ++UnlockTries;
    } else {
        pwl->hide();
        UnlockTries = 0;
    }
}

}  // namespace tern::app
