#include "transfer/Copy.h"

#include <exception>

namespace tern::transfer {

namespace {

/// A sweep that asks more than this many times is going round in circles.
constexpr int kMaxSweepRequests = 4 * static_cast<int>(link::kMemoryWords);

std::string Hex3(int a) {
    static const char* d = "0123456789ABCDEF";
    return {d[(a >> 8) & 0xF], d[(a >> 4) & 0xF], d[a & 0xF]};
}

std::string WordList(const std::vector<int>& words) {
    std::string s;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i == 8) {
            s += " and " + std::to_string(words.size() - i) + " more";
            break;
        }
        s += (i ? " " : "") + Hex3(words[i]);
    }
    return s;
}

CopyStart Refused(const std::string& message, const std::string& caption, const std::string& detail) {
    CopyStart s;
    s.message = message;
    s.caption = caption;
    s.detail = detail;
    return s;
}

}  // namespace

CopyEngine::CopyEngine(link::Link& link, CopyEvents events) : link_(link), events_(std::move(events)) {}

// ---- starting ------------------------------------------------------------------------------

CopyStart CopyEngine::Begin(CopyMode mode) {
    if (Active() || !link_.Trans_chk()) return Refused("", "", "the link is busy");
    mode_ = mode;
    outcome_ = CopyOutcome{};
    words_ = NoWords();
    asks_.clear();
    askPos_ = 0;
    requests_ = 0;
    records_.clear();
    recordPos_ = 0;
    fileWords_ = NoWords();
    batchAsks_ = 0;
    passesLeft_ = 0;
    notes_.clear();
    CopyStart ok;
    ok.ok = true;
    return ok;
}

CopyStart CopyEngine::StartCameraToPc(const std::string& path, bool replaceReadOnly) {
    if (Active() || !link_.Trans_chk()) return Refused("", "", "the link is busy");
    // The file first: a target that cannot be written is known before 512 reads.
    auto file = std::make_unique<PendingFile>();
    std::string error;
    bool readOnly = false;
    if (!file->Open(path, replaceReadOnly, error, &readOnly)) {
        CopyStart refused = Refused(kMsgFileWrite, kCapFile, error);
        refused.readOnly = readOnly;
        return refused;
    }
    return StartCameraToPc(std::move(file));
}

CopyStart CopyEngine::StartCameraToPc(std::unique_ptr<PendingFile> file) {
    if (!file || !file->IsOpen()) return Refused(kMsgFileWrite, kCapFile, "no file prepared");
    CopyStart s = Begin(CopyMode::CameraToPc);
    if (!s) return s;
    file_ = std::move(file);
    phase_ = Phase::Sweep;
    passesLeft_ = 1;
    Progress(0, static_cast<int>(link::kMemoryWords));
    SendRead(0);
    return s;
}

CopyStart CopyEngine::StartReadBack() {
    CopyStart s = Begin(CopyMode::ReadBack);
    if (!s) return s;
    file_.reset();
    phase_ = Phase::Sweep;
    passesLeft_ = 1;
    Progress(0, static_cast<int>(link::kMemoryWords));
    SendRead(0);
    return s;
}

CopyStart CheckSingle(const SettingsScript& script) {
    if (!script.Ok()) return Refused(kMsgFileRead, kCapFile, script.FirstProblem());
    if (script.records.empty()) return Refused(kMsgFileRead, kCapFile, "no records");
    for (const SettingsRecord& r : script.records) {
        // A preset ends with the camera's ACK alone: nothing would move the copy on.
        if (r.payload[1] == link::kGroupWrite && r.payload[2] == link::kItemPreset) {
            return Refused(kMsgFileRead, kCapFile,
                           "line " + std::to_string(r.line) + ": a preset command, which the camera does not answer");
        }
        // The camera refuses it, and by then the records before it are in.
        if (r.IsWordWrite() && r.Address() > kLastWord) {
            return Refused(kMsgFileRead, kCapFile,
                           "line " + std::to_string(r.line) + ": word " +
                               link::HexWordText(static_cast<std::uint16_t>(r.Address())) +
                               " is beyond the memory (the last word is 1FF)");
        }
    }
    for (std::size_t i = 0; i + 1 < script.records.size(); ++i) {
        // The reset's ACK ends the copy: what follows would never be sent.
        if (script.records[i].IsReset()) {
            return Refused(kMsgFileRead, kCapFile,
                           "line " + std::to_string(script.records[i + 1].line) + ": a record after the reset record");
        }
    }
    CopyStart ok;
    ok.ok = true;
    return ok;
}

CopyStart CheckBatch(const SettingsScript& script) {
    if (!script.Ok()) return Refused(kMsgFileRead, kCapFile, script.FirstProblem());
    const MemoryWords named = WordsOf(script);
    if (MissingWords(named).size() == named.size()) return Refused(kMsgFileRead, kCapFile, "no memory word written");
    CopyStart ok;
    ok.ok = true;
    return ok;
}

void CopyEngine::TakeNotes(const SettingsScript& script) {
    for (const std::string& note : {script.CtrlZNote(), ConflictNote(ConflictingWords(script)), BeyondNote(script)})
        if (!note.empty()) notes_.push_back(note);
}

CopyStart CopyEngine::StartSingle(const std::string& path) {
    SettingsScript script;
    std::string error;
    if (!ReadSettingsFile(path, script, error, ReadAs::Script)) return Refused(kMsgFileRead, kCapFile, error);
    if (!script.Ok()) return Refused(kMsgFileRead, kCapFile, path + ": " + script.FirstProblem());
    return StartSingle(script);
}

CopyStart CopyEngine::StartSingle(const SettingsScript& script) {
    if (CopyStart check = CheckSingle(script); !check) return check;
    CopyStart s = Begin(CopyMode::PcToCameraSingle);
    if (!s) return s;
    TakeNotes(script);
    records_ = script.records;
    phase_ = Phase::Records;
    SendNextRecord();
    return s;
}

CopyStart CopyEngine::StartBatch(const std::string& path) {
    SettingsScript script;
    std::string error;
    if (!ReadSettingsFile(path, script, error, ReadAs::Block)) return Refused(kMsgFileRead, kCapFile, error);
    if (!script.Ok()) return Refused(kMsgFileRead, kCapFile, path + ": " + script.FirstProblem());
    return StartBatch(script);
}

CopyStart CopyEngine::StartBatch(const SettingsScript& script) {
    if (CopyStart check = CheckBatch(script); !check) return check;
    const MemoryWords named = WordsOf(script);
    const std::vector<int> unnamed = MissingWords(named);
    CopyStart s = Begin(CopyMode::PcToCameraBatch);
    if (!s) return s;
    TakeNotes(script);
    words_ = named;
    fileWords_ = named;
    batchAsks_ = static_cast<int>(unnamed.size());
    if (unnamed.empty()) {
        SendBlock();
        return s;
    }
    // The block carries every word: those the file leaves out go back as the camera has them.
    phase_ = Phase::Prefetch;
    passesLeft_ = 1;
    asks_ = unnamed;
    askPos_ = 0;
    Progress(0, batchAsks_ + 2);
    SendRead(asks_[0]);
    return s;
}

// ---- replies ---------------------------------------------------------------------------------

bool CopyEngine::IsOurReply() const { return link_.CmdFrame() == sent_; }

bool CopyEngine::OnReply() {
    if (!Active() || phase_ == Phase::Reset || !IsOurReply()) return false;
    const link::Reply reply(link_.RecvFrame());
    if (!reply.Accepted()) {
        FailReply("the camera answered status " + link::HexByteText(reply.Status()));
        return true;
    }
    switch (phase_) {
        case Phase::Sweep:
        case Phase::Reask:
        case Phase::Prefetch:
            OnWordReply();
            break;
        case Phase::Records:
            if (cancelPending_) {
                FinishCancelled();
                break;
            }
            SendNextRecord();
            break;
        case Phase::Block: {
            // The camera takes the new settings with a reset; its ACK ends the copy.
            link::Payload p;
            p[1] = link::kGroupReset;
            if (Send(p, 1)) {
                phase_ = Phase::Reset;
                link_.Lock_on();
                Progress(batchAsks_ + 1, batchAsks_ + 2);
            }
            break;
        }
        case Phase::Idle:
        case Phase::Reset:
            return false;
    }
    return true;
}

void CopyEngine::OnWordReply() {
    const link::Reply reply(link_.RecvFrame());
    // The item first: only a memory-word reply has an address at offsets 3 and 4.
    if (reply.Item() != link::kItemMemory) {
        FailReply("a reply with item " + link::HexByteText(reply.Item()) + " to a memory-word read");
        return;
    }
    const int a = reply.WordHL(3);
    if (a > kLastWord) {
        FailReply("a reply for word " + link::HexWordText(static_cast<std::uint16_t>(a)) + ", beyond the memory");
        return;
    }
    const std::int32_t value = reply.WordHL(5);
    if (mode_ != CopyMode::PcToCameraBatch || fileWords_[static_cast<std::size_t>(a)] == kNoWord) {
        words_[static_cast<std::size_t>(a)] = value;
    }
    if (phase_ == Phase::Sweep) {
        Progress(a + 1, static_cast<int>(link::kMemoryWords));
        if (a < kLastWord) {
            if (requests_ >= kMaxSweepRequests) {
                CopyOutcome o;
                o.result = CopyResult::NoProgress;
                o.message = kMsgErrorReply;
                o.caption = kCapErrorReply;
                o.detail = "the camera's replies do not move through the memory";
                Finish(o);
                return;
            }
            SendRead(a + 1);
            return;
        }
        AfterReads();
        return;
    }
    ++askPos_;
    // The last word read is followed at once by the block, which tells its own step.
    if (mode_ == CopyMode::PcToCameraBatch && askPos_ < asks_.size()) Progress(static_cast<int>(askPos_), batchAsks_ + 2);
    NextAsk();
}

void CopyEngine::NextAsk() {
    // Skip words an earlier reply of this pass has brought meanwhile.
    while (askPos_ < asks_.size() && words_[static_cast<std::size_t>(asks_[askPos_])] != kNoWord) ++askPos_;
    if (askPos_ < asks_.size()) {
        SendRead(asks_[askPos_]);
        return;
    }
    AfterReads();
}

void CopyEngine::AfterReads() {
    const std::vector<int> missing = MissingWords(words_);
    if (!missing.empty() && passesLeft_ > 0) {
        // Words no reply carried: asked for once more, one at a time.
        --passesLeft_;
        phase_ = mode_ == CopyMode::PcToCameraBatch ? Phase::Prefetch : Phase::Reask;
        asks_ = missing;
        askPos_ = 0;
        NextAsk();
        return;
    }
    if (!missing.empty()) {
        CopyOutcome o;
        o.result = CopyResult::MissingWords;
        o.message = kMsgErrorReply;
        o.caption = kCapErrorReply;
        o.missing = missing;
        o.detail = "no reply for word" + std::string(missing.size() > 1 ? "s " : " ") + WordList(missing);
        Finish(o);
        return;
    }
    switch (mode_) {
        case CopyMode::CameraToPc: {
            std::string error;
            if (!file_ || !file_->Commit(FormatSettingsFile(words_), error)) {
                CopyOutcome o;
                o.result = CopyResult::FileWrite;
                o.message = kMsgFileWrite;
                o.caption = kCapFile;
                o.detail = (file_ ? file_->Target() + ": " : std::string()) + error;
                Finish(o);
                return;
            }
            Finish(CopyOutcome{});
            return;
        }
        case CopyMode::ReadBack:
            Finish(CopyOutcome{});
            return;
        case CopyMode::PcToCameraBatch:
            SendBlock();
            return;
        case CopyMode::PcToCameraSingle:
            return;
    }
}

void CopyEngine::SendNextRecord() {
    if (recordPos_ >= records_.size()) {
        Finish(CopyOutcome{});  // the file ran out before any reset record
        return;
    }
    const SettingsRecord& r = records_[recordPos_++];
    if (!Send(r.payload, static_cast<int>(link::kPayloadSize))) return;
    Progress(static_cast<int>(recordPos_), static_cast<int>(records_.size()));
}

void CopyEngine::SendBlock() {
    if (link_.LinkBusy()) {
        Abort("the link is busy");
        return;
    }
    block_ = BlockBytesOf(words_);
    try {
        link_.SohCommand(block_);
    } catch (const std::exception& e) {
        Abort(e.what());
        return;
    }
    sent_ = link_.CmdFrame();
    phase_ = Phase::Block;
    Progress(batchAsks_, batchAsks_ + 2);
}

void CopyEngine::OnResetAck() {
    if (!Active()) return;  // a reset of its own, or the copy is over: nothing to close
    if (phase_ == Phase::Reset) {
        Progress(batchAsks_ + 2, batchAsks_ + 2);
        Finish(CopyOutcome{});
        return;
    }
    if (phase_ == Phase::Records && IsOurReply() && link_.CmdPayload(1) == link::kGroupReset) {
        CopyOutcome o;
        o.endedByReset = true;
        Finish(o);
    }
}

void CopyEngine::Abort(const std::string& why, const std::string& caption) {
    if (!Active()) return;
    CopyOutcome o;
    o.result = CopyResult::Aborted;
    o.message = why;
    o.caption = caption;
    TellRecords(o);
    Finish(o);
}

bool CopyEngine::Cancel() {
    if (!Cancellable()) return false;
    if (phase_ == Phase::Records) {
        // The record in flight is let in (or refused) first, so the count said is exact.
        cancelPending_ = true;
        return true;
    }
    FinishCancelled();
    return true;
}

void CopyEngine::FinishCancelled() {
    CopyOutcome o;
    o.result = CopyResult::Cancelled;
    o.message = kMsgCancelled;
    switch (mode_) {
        case CopyMode::CameraToPc: o.detail = "no file written"; break;
        case CopyMode::PcToCameraBatch: o.detail = "before the block went out: the camera is unchanged"; break;
        case CopyMode::PcToCameraSingle:
        case CopyMode::ReadBack: break;
    }
    TellRecords(o, static_cast<int>(recordPos_));
    Finish(o);
}

std::string CopyEngine::Step() const {
    switch (phase_) {
        case Phase::Sweep:
        case Phase::Reask: return "words";
        case Phase::Records: return "records";
        case Phase::Prefetch:
            return askPos_ < asks_.size() ? "reading word " + Hex3(asks_[askPos_]) : std::string("reading the camera's words");
        case Phase::Block: return "sending the block";
        case Phase::Reset: return "resetting the camera";
        case Phase::Idle: break;
    }
    return {};
}

void CopyEngine::TellRecords(CopyOutcome& o, int accepted) const {
    if (mode_ != CopyMode::PcToCameraSingle || phase_ != Phase::Records) return;
    // By default the record last sent is unanswered (or refused): those before it are in.
    o.recordsAccepted = accepted >= 0 ? accepted : (recordPos_ > 0 ? static_cast<int>(recordPos_) - 1 : 0);
    o.recordsTotal = static_cast<int>(records_.size());
    const std::string of = std::to_string(o.recordsAccepted) + " of " + std::to_string(o.recordsTotal);
    o.recordsNote = o.recordsAccepted == 0 ? "no record reached the camera"
                                           : of + " records reached the camera, which now holds part old, part new "
                                                  "settings: restore the whole file again";
    o.detail += (o.detail.empty() ? "" : "; ") + o.recordsNote;
}

// ---- helpers ------------------------------------------------------------------------------------

bool CopyEngine::Send(const link::Payload& p, int n) {
    if (link_.LinkBusy()) {
        Abort("the link is busy");
        return false;
    }
    try {
        link_.StxCommand(p, n);
    } catch (const std::exception& e) {
        Abort(e.what());
        return false;
    }
    sent_ = link_.CmdFrame();
    return true;
}

void CopyEngine::SendRead(int address) {
    link::Payload p;
    p[1] = link::kGroupRead;
    p[2] = link::kItemMemory;
    p[3] = static_cast<std::uint8_t>(address >> 8);
    p[4] = static_cast<std::uint8_t>(address & 0xFF);
    ++requests_;
    Send(p, 4);
}

void CopyEngine::FailReply(const std::string& detail) {
    CopyOutcome o;
    o.result = CopyResult::ErrorReply;
    o.message = kMsgErrorReply;
    o.caption = kCapErrorReply;
    o.detail = detail;
    TellRecords(o);
    Finish(o);
}

void CopyEngine::Progress(int done, int total) {
    if (events_.progress) events_.progress(done, total);
}

std::string CopyEngine::Holds() const {
    const std::string again = ": restore the file again";
    switch (phase_) {
        case Phase::Sweep:
        case Phase::Reask: return mode_ == CopyMode::CameraToPc ? "no file written" : "";
        case Phase::Records: return {};  // TellRecords says how many records went in
        case Phase::Prefetch: return "nothing sent: the camera is unchanged";
        case Phase::Block: return "the camera may hold part of the block and was not reset" + again;
        case Phase::Reset: {
            const int named = static_cast<int>(link::kMemoryWords) - batchAsks_;
            return std::to_string(named) + " of " + std::to_string(link::kMemoryWords) +
                   " words written; the camera was not reset" + again;
        }
        case Phase::Idle: break;
    }
    return {};
}

void CopyEngine::Finish(CopyOutcome outcome) {
    if (outcome.result != CopyResult::Complete && outcome.result != CopyResult::Cancelled) {
        outcome.holds = phase_ == Phase::Records ? outcome.recordsNote : Holds();
        if (!outcome.holds.empty() && outcome.detail.find(outcome.holds) == std::string::npos) {
            outcome.detail += (outcome.detail.empty() ? "" : "; ") + outcome.holds;
        }
        // The reset that would have released the page never came.
        if (phase_ == Phase::Reset && link_.PanelLock()) link_.Lock_off();
    }
    phase_ = Phase::Idle;
    cancelPending_ = false;
    outcome.notes = notes_;
    if (file_) file_->Discard();  // written by now if it was to be: a stopped copy leaves the old file
    file_.reset();
    outcome_ = std::move(outcome);
    if (events_.finished) events_.finished(outcome_);
}

}  // namespace tern::transfer
