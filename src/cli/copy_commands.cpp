#include "cli/copy_commands.h"
#include "cli/output.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>

#include "camera/command_line.h"
#include "cli/console_host.h"
#include "cli/many_cameras.h"
#include "cli/probe.h"
#include "cli/ports_command.h"
#include "link/comm.h"
#include "link/event_loop.h"
#include "link/protocol.h"
#include "link/trace.h"
#include "transfer/Copy.h"
#include "transfer/SettingsFile.h"

namespace tern::cli {

namespace {

using transfer::CopyEngine;
using transfer::CopyOutcome;
using transfer::CopyResult;
using transfer::MemoryWords;

/// The Copy page's index: a reset the copy sends is followed by the reload
/// of registers 1 and 64 (the Debug page would skip it).
constexpr link::Page kCopyPage = link::Page::Copy;

std::string Hex3(int a) {
    const std::string w = link::HexWordText(static_cast<std::uint16_t>(a));
    return w.substr(1);
}

std::string WordText(std::int32_t w) {
    return w == transfer::kNoWord ? "----" : link::HexWordText(static_cast<std::uint16_t>(w));
}

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    return s;
}

/// The link's host for a copy: replies and the reset's ACK go to the engine,
/// and so does the link's give-up.
class CopyHost : public ConsoleHost {
public:
    using ConsoleHost::ConsoleHost;
    CopyEngine* engine = nullptr;

    void Trans_end() override {
        ConsoleHost::Trans_end();
        if (engine != nullptr && engine->Active()) engine->OnReply();
    }
    void CloseCopyFile() override {
        if (engine != nullptr) engine->OnResetAck();
    }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        ConsoleHost::ShowMessage(text, caption);
        if (engine != nullptr && text == link::kMsgNotConnected) engine->Abort(text, caption);
    }
};

/// Progress on stderr: on a terminal one line redrawn in place (bar, count,
/// percentage, time left); otherwise one line every tenth of the way (and
/// one for each named step). --quiet silences both.
class ProgressPrinter {
public:
    using Clock = std::chrono::steady_clock;
    ProgressPrinter(bool quiet, std::string label) : quiet_(quiet), tty_(ErrIsTerminal()), label_(std::move(label)) {}
    ~ProgressPrinter() { End(); }

    /// `done` of `total`; `step` is the unit counted ("words") or, when
    /// `named`, the step under way ("sending the block").
    void Show(int done, int total, const std::string& step, bool named) {
        if (quiet_ || total <= 0) return;
        done = std::clamp(done, 0, total);
        const int percent = static_cast<int>(static_cast<long>(done) * 100 / total);
        const std::string what = named ? ": " + step : " " + std::to_string(done) + "/" + std::to_string(total) + " " + step;
        if (!started_) {
            started_ = true;
            start_ = Clock::now();
        }
        if (tty_) {
            const int width = 30;
            const int filled = static_cast<int>(static_cast<long>(done) * width / total);
            std::string left;
            const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
            if (done > 0 && done < total && elapsed >= 1.0) {
                const int s = static_cast<int>(elapsed * (total - done) / done + 0.5);
                char buf[32];
                std::snprintf(buf, sizeof buf, "  %d:%02d left", s / 60, s % 60);
                left = buf;
            }
            std::fprintf(stderr, "\r%s [%s%s]%s %3d%%%s\x1b[K", label_.c_str(),
                         std::string(static_cast<std::size_t>(filled), '#').c_str(),
                         std::string(static_cast<std::size_t>(width - filled), '.').c_str(), what.c_str(), percent,
                         left.c_str());
            std::fflush(stderr);
            open_ = true;
            return;
        }
        const int decile = percent / 10;
        if (decile == lastDecile_ && (!named || step == lastStep_)) return;
        lastDecile_ = decile;
        lastStep_ = step;
        std::fprintf(stderr, "%s%s (%d%%)\n", label_.c_str(), what.c_str(), percent);
    }
    void Label(std::string label) {
        End();
        label_ = std::move(label);
        lastDecile_ = -1;
        lastStep_.clear();
        started_ = false;
    }
    void End() {
        if (open_) std::fputc('\n', stderr);
        open_ = false;
    }

private:
    bool quiet_;
    bool tty_;
    std::string label_;
    bool open_ = false;
    bool started_ = false;
    Clock::time_point start_;
    int lastDecile_ = -1;
    std::string lastStep_;
};

struct Options {
    std::string cmd;
    std::optional<std::string> port, port2;
    std::string trace;  // the line trace's file; empty: none
    bool quiet = false, single = false, batch = false, verify = false, force = false;
    std::vector<std::string> files;
};

/// What a copy command takes besides the common --port, --port2, --trace, --quiet.
enum class CommandKind { Backup, Restore, Show, Diff };

const char* Description(CommandKind kind) {
    switch (kind) {
        case CommandKind::Backup:
            return "read the camera's 512 memory words and write them to the settings file FILE; FILE is checked "
                   "first and replaced whole at the end (a symbolic link is written through)";
        case CommandKind::Restore:
            return "write a settings file into the camera, one command at a time (--single) or as one block followed "
                   "by a reset (--batch)";
        case CommandKind::Show: return "the records of a settings file, one word a line, and the lines that are not records";
        case CommandKind::Diff:
            return "the words that differ between two settings files, or between FILE and the camera on --port "
                   "(address, first, second); exit 1 when any do";
    }
    return "";
}

/// Reads a copy command's command line. Nothing when the command is to run;
/// else the exit code: 0 after --help, 2 after a usage error.
std::optional<int> ParseOptions(const std::string& cmd, CommandKind kind, const std::vector<std::string>& args, Options& o) {
    o.cmd = cmd;
    CLI::App app(Description(kind), "ternctl " + cmd);
    app.footer("Exit status: 0 success, 1 failure" +
               std::string(kind == CommandKind::Diff ? " or words differ, 2 trouble or a usage error." : ", 2 usage error."));
    std::string port, port2;
    if (kind != CommandKind::Show) {
        AddLineOptions(app, port, port2, o.trace);
        app.add_flag("-q,--quiet", o.quiet, "no progress on stderr");
    }
    if (kind == CommandKind::Backup) app.add_flag("--force", o.force, "replace a read-only FILE");
    if (kind == CommandKind::Restore) {
        app.add_flag("--single", o.single, "one command a record");
        app.add_flag("--batch", o.batch, "one block, then a reset");
        app.add_flag("--verify", o.verify, "read the words back once the camera has settled and list those that differ from FILE");
    }
    app.add_option("FILE", o.files, kind == CommandKind::Diff ? "settings files A and B, or FILE with --port" : "the settings file")
        ->option_text(" ");
    const camera::ParseOutcome outcome = camera::ParseCommandLine(app, args);
    if (outcome.help) {
        Out() << app.help();
        return 0;
    }
    if (!outcome) {
        Err() << "ternctl " << cmd << ": " << outcome.error << "\n"
                  << "Run 'ternctl " << cmd << " --help' for its options; put -- before a file name that starts with -.\n";
        return 2;
    }
    if (kind != CommandKind::Show && app.count("--port") > 0) o.port = port;
    if (kind != CommandKind::Show && app.count("--port2") > 0) o.port2 = port2;
    return std::nullopt;
}

/// A link to the camera with a copy engine on it.
class Session {
public:
    Session(const Options& o, ProgressPrinter& progress, link::LineTrace* trace) : host_(loop_, comm_), progress_(progress) {
        comm_.SetTrace(trace);
        // Only a device the user named is opened: COM2 is COM1's device unless --port2 names another.
        if (o.port) comm_.SetPortDevice(1, *o.port);
        if (o.port2 || o.port) comm_.SetPortDevice(2, o.port2 ? *o.port2 : *o.port);
        comm_.SetReceiveNotifySize(7168);
        comm_.SetSendNotifySize(8192);
        host_.quiet = true;
        host_.activePage = kCopyPage;
        engine_ = std::make_unique<CopyEngine>(
            host_.Link(), transfer::CopyEvents{[this](int done, int total) {
                                                    progress_.Show(done, total, engine_->Step(), engine_->CountsSteps());
                                                },
                                                [this](const CopyOutcome&) { ++finished_; }});
        host_.engine = engine_.get();
        comm_.SetNotifier(&loop_);  // the port reports on this thread: no thread of its own
        comm_.OnCommReceive = [this](link::TComm& c, std::uint16_t n) { host_.Link().OnCommReceive(c, n); };
        comm_.OnCommLost = [this](link::TComm&, const std::string& reason) {
            host_.PostToEventThread([this, reason] {
                lost_ = "The serial device went away: " + reason;
                engine_->Abort(lost_, link::kCapNotConnected);
            });
        };
        comm_.OnCommError = [this](link::TComm&, const std::string& message) {
            host_.PostToEventThread([this, message] { engine_->Abort(message, link::kCapNotConnected); });
        };
    }
    ~Session() {
        host_.engine = nullptr;
        host_.Link().Close();
    }

    /// The handshake and the first reload; false with the reason when no
    /// camera answered, and in `help` what the open error tells the user to do.
    bool Connect(std::string& error, std::string& help) {
        host_.Link().Trans_Create();
        // The link's give-up (a camera that never answers well) ends the wait too.
        loop_.RunUntil([&] { return host_.terminated || host_.chainsCompleted > 0 || host_.givenUp > 0 || !lost_.empty(); },
                       std::chrono::hours(24));
        if (host_.chainsCompleted > 0 && lost_.empty()) return true;
        error = lost_.empty() ? link::kMsgNotConnected : lost_;
        for (const auto& [text, caption] : host_.messages) {
            if (caption.empty()) {  // an exception: the open error, then its device, reason and remedy
                const std::size_t nl = text.find('\n');
                error += " (" + text.substr(0, nl) + ")";
                if (nl != std::string::npos) help = text.substr(nl + 1);
                break;
            }
        }
        return false;
    }

    /// Runs a started copy to its end.
    const CopyOutcome& Run() {
        const int before = finished_;
        loop_.RunUntil([&] { return finished_ > before || host_.terminated; }, std::chrono::hours(24));
        if (finished_ == before) engine_->Abort(link::kMsgNotConnected, link::kCapNotConnected);
        progress_.End();
        return engine_->Outcome();
    }

    /// After a reset: the camera has settled once the reload that follows it is over.
    bool Settle() {
        if (!host_.TimerEnabled(link::LinkTimer::Reload)) return true;
        const int chains = host_.chainsCompleted;
        const int givenUp = host_.givenUp;
        loop_.RunUntil([&] { return host_.chainsCompleted > chains || host_.givenUp > givenUp || host_.terminated; },
                       std::chrono::hours(24));
        return host_.chainsCompleted > chains;
    }

    CopyEngine& Engine() { return *engine_; }

private:
    link::EventLoop loop_;
    link::TComm comm_;
    CopyHost host_;
    ProgressPrinter& progress_;
    std::unique_ptr<CopyEngine> engine_;
    int finished_ = 0;
    std::string lost_;
};

constexpr const char* kCheckTheLine =
    "No camera answered. Check that the camera is powered, that its cable is plugged in at both ends, and that "
    "--port names the camera's port: \"ternctl ports --probe\" lists the ports and says which one the camera answers on.";

/// A failure: one line of its own, then what to do (if anything) on the lines after it.
int Fail(const std::string& cmd, const std::string& why, const std::string& todo = "") {
    Err() << "ternctl " << cmd << ": " << camera::Printable(OneLine(why)) << "\n";
    // No answer at all: what to check, as the window's box says it.
    const bool noAnswer = why.rfind(link::kMsgNotConnected, 0) == 0;
    std::istringstream lines(todo.empty() && noAnswer ? std::string(kCheckTheLine) : todo);
    for (std::string line; std::getline(lines, line);) Err() << camera::Printable(line) << "\n";
    return 1;
}

/// A remark that is no failure: said once, before the work.
void Note(const std::string& cmd, const std::string& note) {
    if (!note.empty()) Err() << "ternctl " << cmd << ": " << OneLine(note) << "\n";
}

/// Whether two paths name the same file: the same inode when both exist,
/// else the same folder and name.
bool SameFile(const std::string& a, const std::string& b) {
    namespace fs = std::filesystem;
    std::error_code ea, eb;
    if (fs::exists(a, ea) && fs::exists(b, eb)) return fs::equivalent(a, b, ea);
    return fs::weakly_canonical(a, ea) == fs::weakly_canonical(b, eb);
}

/// Ends the trace; a write error is said once and fails the command.
int EndTrace(const std::string& cmd, std::unique_ptr<link::LineTrace>& trace, int rc) {
    if (!trace) return rc;
    std::string error;
    const bool ok = trace->Close(error);
    trace.reset();
    if (ok) return rc;
    Fail(cmd, error, "The trace is incomplete: free some space or choose another --trace file.");
    return rc == 0 ? 1 : rc;
}

/// The camera could not be reached: the reason on one line, then the lines
/// that say what to do.
int FailToConnect(const std::string& cmd, const std::string& why, const std::string& help) {
    return Fail(cmd, why, help);
}

/// "--port auto" resolved and the trace file opened; false after the message.
bool PrepareLine(const std::string& cmd, Options& o, std::unique_ptr<link::LineTrace>& trace) {
    ArgumentsChecked();
    std::string error;
    if (!ResolveAutoPort(o.port, o.port2, error, o.quiet ? nullptr : &Err())) {
        Fail(cmd, error);
        return false;
    }
    if (o.trace.empty()) return true;
    for (const std::string& f : o.files) {
        if (SameFile(o.trace, f)) {
            Fail(cmd, "the trace file " + o.trace + " is the settings file " + f,
                 "Choose another name for --trace; the settings file is left as it is.");
            return false;
        }
    }
    try {
        trace = std::make_unique<link::LineTrace>(o.trace);
    } catch (const std::exception& e) {
        Fail(cmd, e.what(), "Name a new file, or a regular file to replace, for --trace.");
        return false;
    }
    return true;
}

std::string Reason(const CopyOutcome& o) {
    if (o.detail.empty() || o.detail == o.message) return o.message;
    return o.message + ": " + o.detail;
}

std::string Reason(const transfer::CopyStart& s) {
    if (s.message.empty()) return s.detail;
    return s.message + ": " + s.detail;
}

/// Reads a settings file that is to be trusted whole; false after the message.
bool LoadScript(const std::string& cmd, const std::string& path, transfer::SettingsScript& script,
                transfer::ReadAs as = transfer::ReadAs::Block) {
    std::string error;
    if (!transfer::ReadSettingsFile(path, script, error, as)) {
        Fail(cmd, std::string(transfer::kMsgFileRead) + ": " + error);
        return false;
    }
    if (!script.Ok()) {
        Fail(cmd, std::string(transfer::kMsgFileRead) + ": " + path + ": " + script.FirstProblem());
        return false;
    }
    return true;
}

/// Lists the words that differ, side by side; returns how many.
int ListDifferences(const MemoryWords& a, const MemoryWords& b, bool onlyNamedInA) {
    int n = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (onlyNamedInA && a[i] == transfer::kNoWord) continue;
        if (a[i] == b[i]) continue;
        Out() << Hex3(static_cast<int>(i)) << "  " << WordText(a[i]) << "  " << WordText(b[i]) << "\n";
        ++n;
    }
    return n;
}

/// Reads the camera's 512 words into `words`; false after the message.
bool ReadCamera(const std::string& cmd, Session& s, ProgressPrinter& progress, MemoryWords& words) {
    progress.Label("reading");
    const transfer::CopyStart start = s.Engine().StartReadBack();
    if (!start) return Fail(cmd, Reason(start)) == 0;
    const CopyOutcome& o = s.Run();
    if (o.result != CopyResult::Complete) return Fail(cmd, Reason(o)) == 0;
    words = s.Engine().Words();
    return true;
}

/// The restore itself, on a session; the exit status.
int RestoreOn(Session& s, const Options& o, ProgressPrinter& progress, const transfer::SettingsScript& script) {
    std::string error, help;
    if (!s.Connect(error, help)) return FailToConnect("restore", error, help);
    const transfer::CopyStart start = o.single ? s.Engine().StartSingle(script) : s.Engine().StartBatch(script);
    if (!start) return Fail("restore", Reason(start));
    const CopyOutcome& out = s.Run();
    if (out.result != CopyResult::Complete) return Fail("restore", Reason(out));
    if (!o.verify) return 0;

    if (!s.Settle()) return Fail("restore", link::kMsgNotConnected);
    MemoryWords camera{};
    if (!ReadCamera("restore", s, progress, camera)) return 1;
    const int differ = ListDifferences(transfer::WordsOf(script), camera, true);
    if (differ > 0) {
        return Fail("restore", std::to_string(differ) + " word" + (differ > 1 ? "s differ" : " differs") + " from " + o.files[0]);
    }
    const MemoryWords named = transfer::WordsOf(script);
    const auto verified = std::count_if(named.begin(), named.end(), [](std::int32_t w) { return w != transfer::kNoWord; });
    if (!o.quiet) Err() << verified << " words verified\n";
    if (JsonMode()) Out() << "{\"verified_words\":" << verified << "}\n";
    return 0;
}

}  // namespace

void CopyUsage(std::ostream& out) {
    out << "       ternctl backup [--port DEV|auto] [--trace FILE] [--quiet] [--force] FILE\n"
           "         read the camera's 512 memory words and write them to the settings file FILE;\n"
           "         FILE is checked first and replaced whole at the end (a symbolic link is written\n"
           "         through); a read-only FILE is replaced only with --force\n"
           "       ternctl restore [--port DEV|auto] [--trace FILE] (--single|--batch) [--verify] [--quiet] FILE\n"
           "         write a settings file into the camera, one command at a time (--single) or as\n"
           "         one block followed by a reset (--batch); --verify reads the words back once\n"
           "         the camera has settled and lists those that differ from FILE\n"
           "       ternctl show FILE\n"
           "         the records of a settings file, one word a line, and the lines that are not records\n"
           "       ternctl diff A B\n"
           "       ternctl diff FILE --port DEV|auto [--trace FILE]\n"
           "         the words that differ (address, first, second); exit 1 when any do\n";
}

void ExitStatusUsage(std::ostream& out) {
    out << "\nexit status:\n"
           "  0  success\n"
           "  1  failure: one line that says what failed, then what to do on the lines after it\n"
           "  2  usage error (diff: 1 when words differ, 2 when it cannot compare)\n";
}

int Backup(const std::vector<std::string>& args) {
    Options o;
    if (const auto done = ParseOptions("backup", CommandKind::Backup, args, o)) return *done;
    if (o.files.size() != 1) {
        Err() << "ternctl backup: one FILE is needed\n";
        return 2;
    }
    const std::string& path = o.files[0];
    ArgumentsChecked();
    // The file first: a target that cannot be written is known before the
    // port is opened, not after 512 reads.
    auto file = std::make_unique<transfer::PendingFile>();
    std::string error;
    bool readOnly = false;
    if (!file->Open(path, o.force, error, &readOnly)) {
        return Fail("backup", std::string(transfer::kMsgFileWrite) + ": " + error,
                    readOnly ? "Add --force to replace it anyway (it stays read-only)."
                             : "Name a regular file in a folder that exists and that you may write to.");
    }
    std::unique_ptr<link::LineTrace> trace;
    if (!PrepareLine("backup", o, trace)) return 1;
    int rc = 0;
    {
        ProgressPrinter progress(o.quiet, "reading");
        Session s(o, progress, trace.get());
        std::string help;
        if (!s.Connect(error, help)) {
            rc = FailToConnect("backup", error, help);
        } else if (const transfer::CopyStart start = s.Engine().StartCameraToPc(std::move(file)); !start) {
            rc = Fail("backup", Reason(start));
        } else if (const CopyOutcome& out = s.Run(); out.result != CopyResult::Complete) {
            rc = Fail("backup", Reason(out));
        } else {
            constexpr int kWords = transfer::kLastWord + 1;
            if (!o.quiet) Err() << "wrote " << camera::Printable(path) << ": " << kWords << " words\n";
            if (JsonMode()) Out() << nlohmann::json{{"written", {{"file", path}, {"words", kWords}}}}.dump() << "\n";
        }
    }
    return EndTrace("backup", trace, rc);
}

int Restore(const std::vector<std::string>& args) {
    Options o;
    if (const auto done = ParseOptions("restore", CommandKind::Restore, args, o)) return *done;
    if (o.files.size() != 1 || o.single == o.batch) {
        Err() << "ternctl restore: one FILE and one of --single and --batch are needed\n";
        return 2;
    }
    const std::string& path = o.files[0];
    // Read and checked whole before the port is opened: a refused file sends nothing.
    transfer::SettingsScript script;
    if (!LoadScript("restore", path, script, o.single ? transfer::ReadAs::Script : transfer::ReadAs::Block)) return 1;
    if (const transfer::CopyStart check = o.single ? transfer::CheckSingle(script) : transfer::CheckBatch(script); !check) {
        return Fail("restore", std::string(transfer::kMsgFileRead) + ": " + path + ": " + check.detail);
    }
    Note("restore", script.CtrlZNote());
    Note("restore", transfer::ConflictNote(transfer::ConflictingWords(script)));
    if (o.batch) Note("restore", transfer::BeyondNote(script));

    std::unique_ptr<link::LineTrace> trace;
    if (!PrepareLine("restore", o, trace)) return 1;
    int rc = 0;
    {
        ProgressPrinter progress(o.quiet, "writing");
        Session s(o, progress, trace.get());
        rc = RestoreOn(s, o, progress, script);
    }
    return EndTrace("restore", trace, rc);
}

int Show(const std::vector<std::string>& args) {
    Options o;
    if (const auto done = ParseOptions("show", CommandKind::Show, args, o)) return *done;
    if (o.files.size() != 1) {
        Err() << "ternctl show: one FILE is needed\n";
        return 2;
    }
    transfer::SettingsScript script;
    std::string error;
    if (!transfer::ReadSettingsFile(o.files[0], script, error, transfer::ReadAs::Script)) {
        return Fail("show", std::string(transfer::kMsgFileRead) + ": " + error);
    }
    std::size_t r = 0, p = 0;
    while (r < script.records.size() || p < script.problems.size()) {
        const bool takeProblem =
            r == script.records.size() || (p < script.problems.size() && script.problems[p].line < script.records[r].line);
        if (takeProblem) {
            const auto& bad = script.problems[p++];
            Out() << "line " << bad.line << ": not a record: " << bad.what << "\n";
            continue;
        }
        const auto& rec = script.records[r++];
        if (rec.IsWordWrite() && rec.Address() <= transfer::kLastWord) {
            Out() << Hex3(rec.Address()) << "  " << link::HexWordText(rec.Value()) << "\n";
        } else if (rec.IsWordWrite()) {
            Out() << "line " << rec.line << ": word " << link::HexWordText(static_cast<std::uint16_t>(rec.Address()))
                      << " is beyond the memory\n";
        } else if (rec.IsReset()) {
            Out() << "line " << rec.line << ": reset\n";
        } else {
            std::string digits;
            for (int i = 1; i <= rec.digits / 2; ++i) digits += (i > 1 ? " " : "") + link::HexByteText(rec.payload[i]);
            Out() << "line " << rec.line << ": command " << digits << "\n";
        }
    }
    for (const transfer::ConflictingWord& c : transfer::ConflictingWords(script)) {
        Out() << "word " << Hex3(c.address) << " is written with different values on lines";
        for (std::size_t i = 0; i < c.lines.size(); ++i) Out() << (i == 0 ? " " : i + 1 == c.lines.size() ? " and " : ", ") << c.lines[i];
        Out() << "; line " << c.lines.back() << "'s value is used\n";
    }
    if (const std::string z = script.CtrlZNote(); !z.empty()) Out() << z << "\n";
    if (!script.Ok()) {
        const std::size_t n = script.problems.size();
        return Fail("show", o.files[0] + ": " + std::to_string(n) + (n > 1 ? " lines are" : " line is") + " not well-formed");
    }
    return 0;
}

int Diff(const std::vector<std::string>& args) {
    Options o;
    if (const auto done = ParseOptions("diff", CommandKind::Diff, args, o)) return *done;
    const bool withCamera = o.port.has_value();
    if (o.files.size() != (withCamera ? 1u : 2u)) {
        Err() << "ternctl diff: two files, or one FILE and --port DEV, are needed\n";
        return 2;
    }
    transfer::SettingsScript a;
    if (!LoadScript("diff", o.files[0], a)) return 2;
    MemoryWords other{};
    if (withCamera) {
        std::unique_ptr<link::LineTrace> trace;
        if (!PrepareLine("diff", o, trace)) return 2;
        ProgressPrinter progress(o.quiet, "reading");
        Session s(o, progress, trace.get());
        std::string error, help;
        if (!s.Connect(error, help)) return FailToConnect("diff", error, help) + 1;
        if (!ReadCamera("diff", s, progress, other)) return 2;
    } else {
        transfer::SettingsScript b;
        if (!LoadScript("diff", o.files[1], b)) return 2;
        other = transfer::WordsOf(b);
    }
    // Against a camera only the words the file names count: it has them all.
    return ListDifferences(transfer::WordsOf(a), other, withCamera) > 0 ? 1 : 0;
}

}  // namespace tern::cli
