#include "copy/CopyPage.h"

#include <algorithm>

#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "link/link.h"
#include "link/protocol.h"
#include "widgets/Make.h"
#include "widgets/PageHost.h"
#include "widgets/PlainProgressBar.h"
#include "widgets/RadioGroup.h"

namespace tern::copy {

using transfer::CopyMode;
using transfer::CopyOutcome;
using transfer::CopyResult;
using widgets::make::Button;
using widgets::make::Label;

namespace {

constexpr char kMsgError[] = " Error ";
constexpr char kCapError[] = "ERR";
/// The words a Camera->PC copy reads.
constexpr int kSweepWords = static_cast<int>(link::kMemoryWords);

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

CopyPage::CopyPage(QWidget* sheet, widgets::PageHost& host) : QObject(sheet), host_(host) {
    setObjectName("CopyPage");
    copier_ = std::make_unique<transfer::CopyEngine>(
        host_.Link(), transfer::CopyEvents{[this](int done, int total) { Progress(done, total); },
                                           [this](const CopyOutcome& o) {
                                               Finished(o);
                                               emit Ended();
                                           }});

    auto* box = new QVBoxLayout(sheet);
    box->setContentsMargins(24, 24, 24, 24);
    box->setSpacing(14);

    auto* buttons = new QHBoxLayout;
    CtopOK2 = Button("CtopOK2", "Camera->PC", sheet);
    ptocOk = Button("ptocOk", "PC->Camera(Single)", sheet);
    ptocOk2 = Button("ptocOk2", "PC->Camera(Batch)", sheet);
    for (QPushButton* b : {CtopOK2, ptocOk, ptocOk2}) {
        b->setMinimumSize(140, 28);
        buttons->addWidget(b);
    }
    Same = new QCheckBox("Same File Name", sheet);
    Same->setObjectName("Same");
    buttons->addSpacing(12);
    buttons->addWidget(Same);
    CancelCopy = Button("CancelCopy", "Cancel", sheet);
    CancelCopy->setEnabled(false);
    buttons->addSpacing(12);
    buttons->addWidget(CancelCopy);
    buttons->addStretch();
    box->addLayout(buttons);

    // Records which copy runs; never shown.
    Copy_select = new widgets::TRadioGroup("Copy_select", "", {"ctop", "ptoc(Single)", "ptoc(batch)"}, sheet);
    Copy_select->hide();
    Copy_select->setEnabled(false);

    Label35 = Label("Label35", "", sheet);
    QFont bold = Label35->font();
    bold.setBold(true);
    Label35->setFont(bold);
    box->addWidget(Label35);

    auto* fileRow = new QHBoxLayout;
    Label33 = Label("Label33", "File Name", sheet);
    Copyfname2 = Label("Copyfname2", QString(), sheet);
    Copyfname2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Copyfname2->setMinimumHeight(24);
    // A long path is cut at the panel's edge rather than widening the page.
    Copyfname2->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    Copyfname2->setTextInteractionFlags(Qt::TextSelectableByMouse);
    fileRow->addWidget(Label33);
    fileRow->addWidget(Copyfname2, 1);
    box->addLayout(fileRow);

    ProgressBar3 = new widgets::PlainProgressBar(sheet);
    ProgressBar3->setObjectName("ProgressBar3");
    ProgressBar3->setRange(0, 100);
    ProgressBar3->setValue(0);
    ProgressBar3->setTextVisible(true);
    ProgressBar3->setFormat("");
    box->addWidget(ProgressBar3);

    complete2 = Label("complete2", "Complete", sheet);
    complete2->setFont(bold);
    box->addWidget(complete2);
    box->addStretch();

    // Camera->PC and the single-record copy are service functions, shown by the unlock.
    CtopOK2->hide();
    ptocOk->hide();

    connect(CtopOK2, &QPushButton::clicked, this, [this] { host_.Guard([this] { CtopOK2Click(); }); });
    connect(ptocOk, &QPushButton::clicked, this, [this] { host_.Guard([this] { ptocOkClick(); }); });
    connect(ptocOk2, &QPushButton::clicked, this, [this] { host_.Guard([this] { ptocOk2Click(); }); });
    connect(CancelCopy, &QPushButton::clicked, this, [this] { host_.Guard([this] { CancelClick(); }); });
}

CopyPage::~CopyPage() = default;

// ---- starting a copy ---------------------------------------------------------------------

void CopyPage::Prepare(CopyMode mode, const char* label) {
    Copy_select->SetItemIndex(static_cast<int>(mode));
    Label35->setText(label);
    progressDue_ = false;
    ProgressBar3->setValue(ProgressBar3->minimum());
    ProgressBar3->setFormat("");
    complete2->hide();
}

QString CopyPage::RunFileDialog(bool save) {
    QFileDialog* dialog = host_.FileDialog(save);
    // The page asks about an existing file itself, with its own words.
    if (dialog != nullptr && save) dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog == nullptr || host_.RunModal(*dialog) != QDialog::Accepted) return {};
    return dialog->selectedFiles().value(0);
}

void CopyPage::SetFileCaption(const QString& path) {
    Copyfname2->setText(path);
    Copyfname2->setToolTip(path);
}

void CopyPage::CtopOK2Click() {
    if (!host_.Link().Trans_chk() || copier_->Active()) return;
    Prepare(CopyMode::CameraToPc, "Camera->PC");
    SetFileCaption({});
    const QString path = RunFileDialog(true);
    if (path.isEmpty()) return;
    if (QFileInfo::exists(path)) {
        const QFileInfo info(path);
        std::string question = kAskOverwrite + info.fileName().toStdString() + "?";
        // A Yes replaces a read-only file too: the user is told before answering.
        if (info.isFile() && !(info.permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther))) {
            question += "\nThe file is read-only; it is replaced all the same and stays read-only.";
        }
        if (!host_.Ask(question, kCapConfirm)) return;
    }
    // The dialog and the question let the event loop run: the link may have
    // become busy meanwhile.
    if (!host_.Link().Trans_chk()) return;
    SetFileCaption(path);
    ctop_adr_chk(0);
    if (const transfer::CopyStart s = copier_->StartCameraToPc(path.toStdString(), true); !s) {
        Refused(s);
        return;
    }
    SetRunning(copier_->Active());
}

int CopyPage::ctop_adr_chk(int start) {
    if (start != 0) return 0;
    ProgressBar3->setRange(0, kSweepWords);
    ProgressBar3->setValue(0);
    return kSweepWords;
}

void CopyPage::ptocOkClick() {
    if (!host_.Link().Trans_chk() || copier_->Active()) return;
    Prepare(CopyMode::PcToCameraSingle, "PC->Camera(Single)");
    SetFileCaption({});
    const QString path = RunFileDialog(false);
    if (path.isEmpty()) return;
    lastOpened_ = path;
    SetFileCaption(path);
    if (!host_.Link().Trans_chk()) return;
    if (const transfer::CopyStart s = copier_->StartSingle(path.toStdString()); !s) {
        Refused(s);
        return;
    }
    SetRunning(copier_->Active());
}

void CopyPage::ptocOk2Click() {
    complete2->hide();
    if (!host_.Link().Trans_chk() || copier_->Active()) return;
    Prepare(CopyMode::PcToCameraBatch, "PC->Camera");
    QString path;
    if (Same->isChecked()) {
        // Reuses the file last opened, without the dialog; with none to reuse
        // the box is cleared and the dialog asked for.
        if (!Copyfname2->text().isEmpty() && !lastOpened_.isEmpty()) {
            path = lastOpened_;
        } else {
            Same->setChecked(false);
        }
    }
    if (path.isEmpty()) {
        path = RunFileDialog(false);
        if (path.isEmpty()) return;
        lastOpened_ = path;
    }
    SetFileCaption(path);
    if (!host_.Link().Trans_chk()) return;
    Same->setFocus();
    if (const transfer::CopyStart s = copier_->StartBatch(path.toStdString()); !s) {
        Refused(s);
        return;
    }
    SetRunning(copier_->Active());
}

void CopyPage::CancelClick() {
    if (!copier_->Cancel()) return;
    // A single copy ends at the reply to its record in flight: until then Cancel is spent.
    CancelCopy->setEnabled(false);
}

void CopyPage::SetRunning(bool running) {
    for (QPushButton* b : {CtopOK2, ptocOk, ptocOk2}) b->setEnabled(!running);
    host_.EnableReLoad(!running);
    CancelCopy->setEnabled(running && copier_->Cancellable());
}

void CopyPage::Refused(const transfer::CopyStart& why) {
    // An empty message: the link was busy, and a busy link drops a command silently.
    if (why.message.empty()) return;
    QString text = Q(why.message);
    if (!why.detail.empty()) text += "\n" + Q(why.detail);
    host_.ShowMessage(text.toStdString(), why.caption);
}

// ---- replies -------------------------------------------------------------------------------

void CopyPage::Trans_end_copy() {
    // Only the running copy's own replies move it on: the page's reload, or
    // a late reply after a copy has ended or stopped, never does.
    if (copier_->Active() && Copy_select->ItemIndex() == static_cast<int>(copier_->Mode())) {
        const bool taken = Copy_select->ItemIndex() == static_cast<int>(CopyMode::CameraToPc) ? Trans_end_ctop()
                                                                                                : copier_->OnReply();
        if (taken) return;
    }
    if (!link::Reply(host_.Link().RecvFrame()).Accepted()) host_.ShowMessage(kMsgError, kCapError);
}

bool CopyPage::Trans_end_ctop() { return copier_->OnReply(); }

void CopyPage::ResetAcknowledged() { copier_->OnResetAck(); }

void CopyPage::AdvanceProgress(int by) {
    // The engine counts the block as one step of its own when it has gone out.
    (void)by;
}

void CopyPage::ReplyGivenUp() {
    quietEnd_ = true;
    copier_->Abort(link::kMsgNotConnected, link::kCapNotConnected);
    quietEnd_ = false;
}

// ---- progress and the end ----------------------------------------------------------------

void CopyPage::Progress(int done, int total) {
    if (total <= 0) return;
    progressDone_ = done;
    progressTotal_ = total;
    progressDue_ = true;
    if (!progressPaced_) ShowProgress();
    // The block once sent cannot be called back.
    if (copier_->Active()) CancelCopy->setEnabled(copier_->Cancellable());
}

void CopyPage::PaceProgress(bool paced) {
    progressPaced_ = paced;
    if (!paced) ShowProgress();
}

void CopyPage::ShowProgress() {
    if (!progressDue_) return;
    progressDue_ = false;
    const int total = progressTotal_;
    if (ProgressBar3->maximum() != total) ProgressBar3->setRange(0, total);
    ProgressBar3->setValue(std::min(progressDone_, total));
    // "317 / 512 words (61%)"; a batch copy names its step: "sending the block (66%)".
    const QString step = Q(copier_->Step());
    ProgressBar3->setFormat(copier_->CountsSteps() ? step + " (%p%)" : "%v / %m " + step + " (%p%)");
}

void CopyPage::Finished(const CopyOutcome& outcome) {
    ShowProgress();  // the last step, before what the end says over it
    SetRunning(false);
    if (outcome.result == CopyResult::Cancelled) {
        ProgressBar3->setFormat("Cancelled");
        // The camera holds part of the file: that must be said, not only shown.
        if (!outcome.recordsNote.empty()) host_.ShowMessage(outcome.recordsNote, "Copy");
        return;
    }
    if (outcome.result == CopyResult::Complete) {
        ProgressBar3->setValue(ProgressBar3->maximum());
        // The next batch reuses the file without asking again.
        if (copier_->Mode() == CopyMode::PcToCameraBatch) Same->setChecked(true);
        complete2->show();
        // What the file hid (a Ctrl-Z before its end, a word written twice) is said, not only done.
        if (!outcome.notes.empty()) {
            std::string text = "Complete, but:";
            for (const std::string& n : outcome.notes) text += "\n" + n;
            host_.ShowMessage(text, "Copy");
        }
        return;
    }
    // A copy cut short stays where it stopped, failed, with what it left
    // behind in the camera or the file; the buttons are free again.
    ProgressBar3->setFormat(outcome.holds.empty() ? QString("Failed") : "Failed: " + Q(outcome.holds));
    if (quietEnd_) {
        // The link has shown why (or the notice that the device went away is up); this says what is left.
        if (!outcome.holds.empty()) host_.ShowMessage(outcome.holds, link::kCapNotConnected);
        return;
    }
    QString text = Q(outcome.message);
    // An error reply is the camera's " Error ", then what the copy left behind;
    // other ends say what happened.
    if (outcome.result == CopyResult::ErrorReply) {
        if (!outcome.holds.empty()) text += "\n" + Q(outcome.holds);
    } else if (outcome.result != CopyResult::ErrorReply && !outcome.detail.empty() && outcome.detail != outcome.message) {
        text += "\n" + Q(outcome.detail);
    }
    host_.ShowMessage(text.toStdString(), outcome.caption.empty() ? link::kCapNotConnected : outcome.caption);
}

}  // namespace tern::copy
