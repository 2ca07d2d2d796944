// The Copy page (CopySheet): the camera's settings memory to a settings file
// and back, record by record or as one block.
//
// The three buttons start a copy on the copy engine (transfer/Copy.h), which
// keeps its own image of the memory: nothing a copy reads ever becomes a
// register value. Copy_select records which copy runs; replies reach the copy
// only while it runs and only when they answer its own last frame, so the
// page's reload (registers 1 and 64) never moves a copy on or restarts one.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

#include "transfer/Copy.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

namespace tern::widgets {
class PageHost;
class TRadioGroup;
}  // namespace tern::widgets

namespace tern::copy {

inline constexpr const char* kAskOverwrite = "Do you really want to over write ";
inline constexpr const char* kCapConfirm = "Confirm";

class CopyPage : public QObject {
    Q_OBJECT
public:
    CopyPage(QWidget* sheet, widgets::PageHost& host);
    ~CopyPage() override;

    // ---- handlers ------------------------------------------------------------
    /// Camera->PC: every memory word read, then the settings file written.
    void CtopOK2Click();
    /// PC->Camera (Single): the file's records sent one command at a time.
    void ptocOkClick();
    /// PC->Camera (Batch): the file sent as one block, then the camera reset.
    void ptocOk2Click();

    /// Readies the sweep that starts at word `start`: from word 0 the
    /// progress bar counts the 512 words and 512 is returned; any other
    /// start changes nothing and returns 0.
    int ctop_adr_chk(int start);

    /// The page's reply handler.
    void Trans_end_copy();
    /// A Camera->PC reply: the copy takes its word and asks for the next;
    /// after the last the file is written. False when the reply was not the
    /// copy's.
    bool Trans_end_ctop();
    /// The camera acknowledged the reset that ends a copy.
    void ResetAcknowledged();
    /// The block frame of a batch copy went out: `by` bytes more.
    void AdvanceProgress(int by);
    /// The link gave up waiting for the copy's answer (it has said so).
    void ReplyGivenUp();

    /// "Cancel": ends the running copy (a batch copy only before its block goes out).
    void CancelClick();

    /// While paced (a copy under way in the window), the progress a reply
    /// brings is only noted; ShowProgress puts it on the bar, at the pace
    /// the window paints. Unpaced, every step shows at once.
    void PaceProgress(bool paced);
    void ShowProgress();

    /// The copy engine the buttons drive.
    const transfer::CopyEngine& Copier() const { return *copier_; }

signals:
    /// A copy has ended, however it ended (after its message, if any).
    void Ended();

public:

    // ---- controls (named as on the window) ----------------------------------
    QPushButton* CtopOK2 = nullptr;
    QPushButton* ptocOk = nullptr;
    QPushButton* ptocOk2 = nullptr;
    widgets::TRadioGroup* Copy_select = nullptr;
    QLabel* Label35 = nullptr;
    QLabel* Label33 = nullptr;
    QLabel* Copyfname2 = nullptr;
    QProgressBar* ProgressBar3 = nullptr;
    QLabel* complete2 = nullptr;
    QCheckBox* Same = nullptr;
    QPushButton* CancelCopy = nullptr;

private:
    /// Sets Copy_select and Label35 for a copy about to start, the progress
    /// bar to its start; hides complete2.
    void Prepare(transfer::CopyMode mode, const char* label);
    /// Runs OpenDialog1 or SaveDialog1; the chosen path, empty when cancelled.
    QString RunFileDialog(bool save);
    /// A copy did not start: says why (nothing was sent).
    void Refused(const transfer::CopyStart& why);
    void Progress(int done, int total);
    void Finished(const transfer::CopyOutcome& outcome);
    void SetFileCaption(const QString& path);
    /// While a copy runs its buttons and "&Load" are disabled and Cancel is enabled.
    void SetRunning(bool running);

    widgets::PageHost& host_;
    std::unique_ptr<transfer::CopyEngine> copier_;
    /// The file last chosen in OpenDialog1, which "Same File Name" reuses.
    QString lastOpened_;
    /// The link has already shown why the copy ends.
    bool quietEnd_ = false;
    bool progressPaced_ = false;
    bool progressDue_ = false;  ///< a step noted, not yet on the bar
    int progressDone_ = 0;
    int progressTotal_ = 0;
};

}  // namespace tern::copy
