// The copy engine: the camera's settings memory to a settings file and back,
// as reply-driven state machines over the link. The window's Copy page and
// ternctl drive the same engine.
//
//   Camera->PC      31 0C 00 00, and for each reply 31 0C (address + 1) up to
//                   0x1FF; words that no reply carried are asked for once more;
//                   then the file is written (or, for a read-back, nothing is).
//   PC->Camera      the file's records one command at a time (count 15), each
//   single          sent on the accepted reply to the one before; a reset record
//                   ends the copy with the camera's ACK.
//   PC->Camera      the words the file does not name are read from the camera
//   batch           first; then the 1024-byte block, and on its accepted reply
//                   the reset command (F1, count 1), whose ACK ends the copy.
//
// How a host drives it:
//   - Start*() when the user asks (they test Trans_chk and send the first frame);
//   - OnReply() from Trans_end, for every reply while Active(); it returns false
//     and does nothing for a reply that is not to the copy's own last frame;
//   - OnResetAck() when the camera acknowledges the reset command (where the
//     link asks the host to close the copy file);
//   - Abort(text) when the link gives up or the device goes away.
// The engine keeps a memory image of its own; the DSP register shadow is never
// touched. Files are read whole before anything is sent and written only once
// every word has arrived, atomically.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/link.h"
#include "transfer/SettingsFile.h"

namespace tern::transfer {

/// Which copy runs; the values are the Copy page's Copy_select indices.
enum class CopyMode { CameraToPc = 0, PcToCameraSingle = 1, PcToCameraBatch = 2, ReadBack = 3 };

enum class CopyResult {
    Complete,
    ErrorReply,     ///< the camera answered with a status other than A0, or with another item
    MissingWords,   ///< words still not received after being asked again; no file written
    FileWrite,      ///< the settings file could not be written; an old file is as it was
    NoProgress,     ///< the camera's replies did not move through the memory
    Aborted,        ///< the link gave up, the device went away, or the host stopped it
    Cancelled,      ///< the user cancelled it (Cancel())
};

inline constexpr const char* kMsgCancelled = "The copy was cancelled";

inline constexpr const char* kMsgErrorReply = " Error ";
inline constexpr const char* kCapErrorReply = "ERR";

struct CopyOutcome {
    CopyResult result = CopyResult::Complete;
    /// For the user: the message box text and caption of the window, and a
    /// one-line detail (the reason, the words missing) for ternctl.
    std::string message;
    std::string caption;
    std::string detail;
    /// The copy ended with the camera's ACK to a reset record (single mode).
    bool endedByReset = false;
    std::vector<int> missing;
    /// Single: the records the camera accepted, of how many.
    int recordsAccepted = 0;
    int recordsTotal = 0;
    /// Single, stopped part-way: how many records reached the camera, and
    /// that it now holds a mix (also at the end of `detail`).
    std::string recordsNote;
    /// A copy that ended early (neither complete nor cancelled): what the
    /// camera or the file now holds and what to do, e.g. "no file written",
    /// "511 of 512 words written; the camera was not reset: restore the file
    /// again" (also at the end of `detail`).
    std::string holds;
    /// What the file hid that the user must hear of, however the copy ended:
    /// bytes after a Ctrl-Z, words written twice with different values.
    std::vector<std::string> notes;
};

struct CopyEvents {
    /// done of total units: words for the reads, records for single, steps for batch.
    std::function<void(int done, int total)> progress;
    /// Called once when a copy ends, however it ends.
    std::function<void(const CopyOutcome&)> finished;
};

/// Why a copy did not start; nothing was sent.
struct CopyStart {
    bool ok = false;
    std::string message;  ///< "File read Error occured", or empty when the link is busy
    std::string caption;
    std::string detail;
    /// The target exists and is read-only; asked again, the copy may replace it.
    bool readOnly = false;
    explicit operator bool() const { return ok; }
};

/// Whether a file read as a script can be replayed record by record: not
/// empty, no preset (which the camera answers with its ACK alone), nothing
/// after a reset record, no word beyond 0x1FF. Refused with the line.
CopyStart CheckSingle(const SettingsScript& script);
/// Whether a file read as a block can be sent: well-formed, and writing at
/// least one word.
CopyStart CheckBatch(const SettingsScript& script);

class CopyEngine {
public:
    CopyEngine(link::Link& link, CopyEvents events = {});

    /// Reads all 512 words and writes the settings file `path`. The file is
    /// prepared first (PendingFile): a target that cannot be written is
    /// refused before anything is sent; a read-only one only when
    /// `replaceReadOnly` is false.
    CopyStart StartCameraToPc(const std::string& path, bool replaceReadOnly = false);
    /// The same with the file already prepared (ternctl prepares it before
    /// it opens the port).
    CopyStart StartCameraToPc(std::unique_ptr<PendingFile> file);
    /// Reads all 512 words and keeps them (Words()); writes no file.
    CopyStart StartReadBack();
    /// Replays the file `path` (read as a script) record by record; refused
    /// as CheckSingle says.
    CopyStart StartSingle(const std::string& path);
    CopyStart StartSingle(const SettingsScript& script);
    /// Sends the file `path` (read as a block) as one block, then resets the camera.
    CopyStart StartBatch(const std::string& path);
    CopyStart StartBatch(const SettingsScript& script);

    bool OnReply();
    void OnResetAck();
    /// Ends a running copy: the link gave up (its message and caption), the
    /// device went away, the user stopped it.
    void Abort(const std::string& why, const std::string& caption = "");

    /// The user's Cancel: ends the copy at once, as cleanly as it can be.
    /// Camera->PC writes no file; a single copy says how many records reached
    /// the camera; a batch copy can be cancelled only before the block goes
    /// out. False (and nothing done) when the copy cannot be cancelled now.
    bool Cancel();
    bool Cancellable() const {
        return Active() && !cancelPending_ && phase_ != Phase::Block && phase_ != Phase::Reset;
    }
    /// What the copy is doing, for a progress line: "reading word 1FF",
    /// "sending the block", "resetting the camera"; for the reads and the
    /// records, the unit counted ("words", "records").
    std::string Step() const;
    /// Whether Step() names a step (batch) rather than a unit.
    bool CountsSteps() const { return mode_ == CopyMode::PcToCameraBatch; }

    bool Active() const { return phase_ != Phase::Idle; }
    CopyMode Mode() const { return mode_; }
    /// The copy's memory image: what was read (Camera->PC, read-back) or what
    /// the block carried (batch).
    const MemoryWords& Words() const { return words_; }
    /// The last outcome (valid once a copy has ended).
    const CopyOutcome& Outcome() const { return outcome_; }

private:
    enum class Phase { Idle, Sweep, Reask, Records, Prefetch, Block, Reset };

    CopyStart Begin(CopyMode mode);
    void TakeNotes(const SettingsScript& script);
    bool Send(const link::Payload& p, int n);
    void SendRead(int address);
    bool IsOurReply() const;
    void OnWordReply();
    void NextAsk();
    void AfterReads();
    void SendNextRecord();
    void SendBlock();
    void Progress(int done, int total);
    void Finish(CopyOutcome outcome);
    void FailReply(const std::string& detail);
    /// Single: how many records reached the camera, said in the outcome.
    /// `accepted` records are known to be in; -1: all but the one last sent.
    void TellRecords(CopyOutcome& o, int accepted = -1) const;
    void FinishCancelled();
    /// For an early end in the phase running now: what the camera or the
    /// file holds, and what to do.
    std::string Holds() const;

    link::Link& link_;
    CopyEvents events_;
    CopyMode mode_ = CopyMode::CameraToPc;
    Phase phase_ = Phase::Idle;
    CopyOutcome outcome_;
    /// Single: the user cancelled; the copy ends at the reply to the record in flight.
    bool cancelPending_ = false;
    /// The notes of the file being copied (CopyOutcome::notes).
    std::vector<std::string> notes_;

    std::unique_ptr<PendingFile> file_;
    MemoryWords words_ = NoWords();
    /// Words to be read (a re-ask, or the words a batch file does not name).
    std::vector<int> asks_;
    std::size_t askPos_ = 0;
    /// Passes over the missing words still allowed: one re-ask.
    int passesLeft_ = 0;
    /// Batch: the words the file names (never overwritten by a read), and how
    /// many it does not name.
    MemoryWords fileWords_ = NoWords();
    int batchAsks_ = 0;
    int requests_ = 0;
    std::vector<SettingsRecord> records_;
    std::size_t recordPos_ = 0;
    MemoryBytes block_{};
    /// The frame the copy sent last: a reply counts only when the link's
    /// last frame is still this one.
    link::FrameBytes sent_{};
};

}  // namespace tern::transfer
