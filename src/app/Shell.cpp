// The page switch, the reset, the exit, the service unlock and the routing
// of every reply to the page shown.
#include <QApplication>
#include <QProgressBar>
#include <QRegion>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>

#include <array>

#include "app/DebugPage.h"
#include "app/MTern.h"
#include "controls/AdjustPage.h"
#include "controls/Cmask.h"
#include "controls/Setup1Page.h"
#include "controls/Setup2Page.h"
#include "copy/CopyPage.h"
#include "defect/DefectPage.h"
#include "transfer/Settings.h"
#include "widgets/Apply.h"

namespace tern::app {

namespace {
constexpr int kUnlockTriesAllowed = 3;
const char* const kUnlockWord = "wqxz";
const char* const kUnlockWordUpper = "WQXZ";
int Tab(link::Page page) { return static_cast<int>(page); }
}  // namespace

void TFTern::PageControl1Change() {
    const link::Page page = ActivePage();
    bool labels = true;
    bool reset = false;
    switch (page) {
        case link::Page::Adjust:
        case link::Page::Copy:
            labels = true;
            reset = false;
            break;
        case link::Page::Debug:
        case link::Page::Defect:
            labels = true;
            reset = true;
            break;
        case link::Page::Setup1:
        case link::Page::Setup2:
            labels = false;
            reset = false;
            break;
    }
    // A defect table read ends when its page is left before the last piece.
    if (page != link::Page::Defect) engine_->Defect().CutShort();
    TV->setVisible(labels);
    Resolution->setVisible(labels);
    ResetButton->setVisible(reset);
    // A running copy goes on whichever page is shown (its replies stay its
    // own); the page switched to is read once the copy has ended.
    if (copy_->Copier().Active()) {
        readAfterCopy_ = true;
        return;
    }
    ReLoadClick();
}

std::array<QWidget*, 3> TFTern::PacedDuringCopy() const {
    return {StatusPanels[1], StatusPanels[2], copy_->ProgressBar3};
}

void TFTern::PaceCopyPainting(bool copying) {
    if (copying == (copyPaint_ != nullptr)) return;
    // While a copy runs, its progress and the frame panels change with every
    // reply, 24 times a second at 9600 baud: what they say is noted at once
    // and shown once a second (a repaint with its flush to the screen costs
    // more than the whole handling of a reply), so the window costs little
    // more than the line itself.
    if (copying) {
        copyPaint_ = new QTimer(this);
        copyPaint_->setObjectName("CopyPaintTimer");
        copyPaint_->setTimerType(Qt::PreciseTimer);
        copyPaint_->setInterval(1000);
        connect(copyPaint_, &QTimer::timeout, this, [this] { Guard([this] { CopyPaintTimerTimer(); }); });
        for (QWidget* w : PacedDuringCopy()) w->setUpdatesEnabled(false);
        copy_->PaceProgress(true);
        copyPaint_->start();
        return;
    }
    delete copyPaint_;
    copyPaint_ = nullptr;
    ApplyPacedPanelTexts();
    copy_->PaceProgress(false);
    for (QWidget* w : PacedDuringCopy()) w->setUpdatesEnabled(true);
    Trans_cstm_hidden();  // the rules and the cursor dot, skipped for the copy's replies
    defect_->PlaceCursorDot();
}

void TFTern::CopyPaintTimerTimer() {
    if (copyPaint_ == nullptr) return;
    ApplyPacedPanelTexts();
    copy_->ShowProgress();
    // One pass and one flush to the screen for the three of them.
    QRegion where;
    for (QWidget* w : PacedDuringCopy()) {
        w->setUpdatesEnabled(true);
        if (w->isVisible()) where += QRect(w->mapTo(this, QPoint(0, 0)), w->size());
    }
    if (!where.isEmpty()) repaint(where);
    for (QWidget* w : PacedDuringCopy()) w->setUpdatesEnabled(false);
}

void TFTern::ApplyPacedPanelTexts() {
    for (int panel : {1, 2}) {
        if (pacedLinkText_[panel]) {
            const std::string hex = panel == 1 ? link_->CommandText() : link_->ReplyText();
            pacedPanelText_[panel] = QString::fromStdString(hex);
            pacedLinkText_[panel] = false;
        }
        if (!pacedPanelText_[panel]) continue;
        StatusPanels[panel]->setText(*pacedPanelText_[panel]);
        pacedPanelText_[panel].reset();
    }
}

void TFTern::CopyEnded() {
    PaceCopyPainting(false);
    if (!readAfterCopy_) return;
    readAfterCopy_ = false;
    QTimer::singleShot(0, this, [this] {
        Guard([this] {
            // After a reset the link's reload timer reads the page itself.
            if (ReloadTimer->isActive() || !link_->Trans_chk()) return;
            ReLoadClick();
        });
    });
}

void TFTern::ReLoadClick() {
    // With the device gone there is nothing to read: the page is read once
    // the camera is back.
    if (link_->Mode() == link::LinkMode::Lost) return;
    link_->ReLoadClick();
}

void TFTern::EnableReLoad(bool on) { ReLoad->setEnabled(on); }

void TFTern::CloseCopyFile() { copy_->ResetAcknowledged(); }

void TFTern::AdvanceCopyProgress(int by) { copy_->AdvanceProgress(by); }

void TFTern::ReplyGivenUp() {
    // A table read or a copy that waited for this answer ends here, so no
    // control stays refused until the tool is restarted.
    engine_->Defect().CutShort();
    copy_->ReplyGivenUp();
    // A read of the page cut short: what it did not read is shown as not
    // known, and the page is read again, at once the first time (a lost
    // reply on a live line), else once the camera answers something.
    engine_->ReplyGivenUp(engine_->LastCommand());
    ShowSettingStates();
    Trans_cstm_hidden();
    if (engine_->RereadPending() && rereadsAfterGiveUp_ == 0) {
        ++rereadsAfterGiveUp_;
        engine_->ClearReread();
        link_->SendWhenFree(&rereadsAfterGiveUp_, [this] { ReLoadClick(); });
    }
}

void TFTern::Reset1Click() {
    if (!link_->Trans_chk()) return;
    link::Payload p;
    p[1] = link::kGroupReset;
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
    if (ActivePage() != link::Page::Copy) return;
    if (PageControl1->isTabVisible(Tab(link::Page::Debug))) {
        pwl->hide();
        PageControl1->setTabVisible(Tab(link::Page::Debug), false);
        PageControl1->setTabVisible(Tab(link::Page::Defect), false);
        PageControl1->setTabVisible(Tab(link::Page::Setup1), false);
        return;
    }
    if (pwl->isHidden()) {
        // Each time it is shown the field is empty: a typo from before is gone.
        pwl->blockSignals(true);
        pwl->clear();
        pwl->blockSignals(false);
        pwlLongest_ = 0;
        pwl->show();
        pwl->setFocus();
        UnlockTries = 0;
    } else {
        pwl->hide();
    }
}

void TFTern::pwlChange() {
    const QString text = pwl->text();
    // Correcting a typo (Backspace, then the right character again) is no
    // try: only a text longer than any before counts.
    const bool longer = text.size() > pwlLongest_;
    pwlLongest_ = std::max(pwlLongest_, text.size());
    if (text == kUnlockWord || text == kUnlockWordUpper) {
        PageControl1->setTabVisible(Tab(link::Page::Debug), true);
        PageControl1->setTabVisible(Tab(link::Page::Defect), true);
        PageControl1->setTabVisible(Tab(link::Page::Setup1), true);
        copy_->CtopOK2->show();
        copy_->ptocOk->show();
        pwl->hide();
    } else if (!longer) {
        return;
    } else if (UnlockTries < kUnlockTriesAllowed) {
        if (!text.isEmpty()) ++UnlockTries;
    } else {
        pwl->hide();
        UnlockTries = 0;
    }
}

// ---- replies ---------------------------------------------------------------------------

void TFTern::Trans_init(int step) { engine_->Trans_init(ActivePage(), step); }

void TFTern::Trans_end() {
    const transfer::CommonDecoded found = engine_->Trans_end_common();
    ApplyCommon(found);
    if (found.refused) {
        const std::string name(transfer::ControlName(*found.refused));
        const auto kept = engine_->Model().CameraValue(*found.refused);
        StatusPanels[3]->setText(QString::fromStdString("Refused: " + name +
                                                        (kept ? " (the camera keeps " + *kept + ")" : std::string())));
    }
    if (found.rereadPage) {
        engine_->ClearReread();
        link_->SendWhenFree(&rereadsAfterGiveUp_, [this] { ReLoadClick(); });
    }
    if (LoadStep() == 0 && !engine_->RereadPending()) rereadsAfterGiveUp_ = 0;
    // A running copy's replies are its own, whichever page is shown.
    switch (copy_->Copier().Active() ? link::Page::Copy : ActivePage()) {
        case link::Page::Adjust: adjust_->Trans_end_cstm(); break;
        case link::Page::Debug: debug_->Debug_tend(); break;
        case link::Page::Defect: defect_->Trans_end_at_kizu(); break;
        case link::Page::Copy: copy_->Trans_end_copy(); break;
        case link::Page::Setup1: setup1_->Trans_end_setup1(); break;
        case link::Page::Setup2: setup2_->Trans_end_setup2(); break;
    }
    ShowSettingStates();
    Trans_cstm_hidden();
    // A copy's replies move no cursor: the dot is placed once the copy ends.
    if (copyPaint_ == nullptr) defect_->PlaceCursorDot();
    PaceCopyPainting(copy_->Copier().Active());
    if (OnReply) OnReply();
}

void TFTern::CallWhenPageRead(std::function<void()> fn) {
    OnReply = [this, fn = std::move(fn)] {
        QTimer::singleShot(0, this, [this, fn] {
            if (!OnReply || LoadStep() != 0) return;
            OnReply = nullptr;
            fn();
        });
    };
}

void TFTern::ApplyCommon(const transfer::CommonDecoded& found) {
    // Block 6 goes into controls whose handlers must not send meanwhile.
    const bool guard = found.loadGuard;
    if (guard) engine_->SetLoadGuard(true);
    for (const transfer::ControlUpdate& u : found.updates) widgets::ApplyUpdate(controls_, u);
    if (guard) engine_->SetLoadGuard(false);
    if (found.mask) mask_->ShowCameraRect(*found.mask);
}

void TFTern::ShowSettingStates() {
    using transfer::SettingState;
    const transfer::SettingsModel& model = engine_->Model();
    // Most replies (a copy's, a register's) change nothing the controls say.
    if (model.Generation() == shownGeneration_) return;
    shownGeneration_ = model.Generation();
    shownInputs_.reset();  // a control enabled again here gets the rules' word
    for (const transfer::Setting& s : transfer::Settings()) {
        if (s.kind == transfer::SettingKind::Grid) continue;  // a grid's cells each stay the user's
        QWidget* w = controls_.Find(s.name);
        if (w == nullptr) continue;
        const SettingState state = model.State(s.control);
        const auto kept = model.CameraValue(s.control);
        QString tip = SettingToolTip(s);
        switch (state) {
            case SettingState::InStep:
                if (kept) tip += QStringLiteral("\nThe camera has: %1").arg(QString::fromStdString(*kept));
                break;
            case SettingState::Writing: tip += QStringLiteral("\nBeing sent to the camera"); break;
            case SettingState::Refused:
                tip += QString::fromStdString("\nRefused by the camera" +
                                              (kept ? "; the camera keeps " + *kept : std::string()));
                break;
            case SettingState::Unknown:
                tip += QStringLiteral("\nNot read: the camera did not answer. The page is read again when it does.");
                break;
            case SettingState::NotRead:
            case SettingState::Reading: break;
        }
        w->setToolTip(tip);
        const bool unknown = state == SettingState::Unknown;
        if (unknown) {
            unknownControls_.insert(s.control);
        } else if (unknownControls_.erase(s.control) != 0) {
            w->setEnabled(true);  // the enabling rules that follow have the last word
        }
    }
}

void TFTern::Trans_cstm_hidden() {
    // A copy's replies change no control: the rules are not asked again for each.
    if (copyPaint_ != nullptr) return;
    const transfer::EnablingInputs in =
        transfer::EnablingInputsFrom([this](std::string_view name) { return widgets::ControlValue(controls_, name); });
    // A reply that changed none of the rules' inputs (a copy's words, a
    // register) leaves every control as the rules last set it.
    if (shownInputs_ == in) return;
    shownInputs_ = in;
    for (const transfer::Enabling& rule : transfer::EnablingRules(in)) {
        if (QWidget* w = controls_.Find(rule.control)) w->setEnabled(rule.enabled);
    }
    // A control whose value was not read stays disabled whatever the rules say.
    for (const transfer::Control c : unknownControls_) {
        if (QWidget* w = controls_.Find(transfer::ControlName(c))) w->setEnabled(false);
    }
}

}  // namespace tern::app
