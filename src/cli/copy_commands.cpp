#include "cli/copy_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>

#include "cli/console_host.h"
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

/// Progress on stderr: a bar on a terminal, plain counts otherwise.
class ProgressPrinter {
public:
    ProgressPrinter(bool quiet, std::string label) : quiet_(quiet), tty_(::isatty(STDERR_FILENO) == 1), label_(std::move(label)) {}
    ~ProgressPrinter() { End(); }

    void Show(int done, int total) {
        if (quiet_ || total <= 0) return;
        if (tty_) {
            const int width = 40;
            const int filled = static_cast<int>(static_cast<long>(done) * width / total);
            std::fprintf(stderr, "\r%s [%s%s] %d/%d", label_.c_str(), std::string(static_cast<std::size_t>(filled), '#').c_str(),
                         std::string(static_cast<std::size_t>(width - filled), '.').c_str(), done, total);
            std::fflush(stderr);
            open_ = true;
            return;
        }
        // One line per sixteenth of the way, and the last.
        const int step = total >= 64 ? total / 16 : 1;
        if (done == last_ || (done % step != 0 && done != total)) return;
        last_ = done;
        std::fprintf(stderr, "%s %d/%d\n", label_.c_str(), done, total);
    }
    void Label(std::string label) {
        End();
        label_ = std::move(label);
        last_ = -1;
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
    int last_ = -1;
};

struct Options {
    std::string cmd;
    std::optional<std::string> port, port2;
    std::string trace;  // the line trace's file; empty: none
    bool quiet = false, single = false, batch = false, verify = false;
    std::vector<std::string> files;
};

/// Reads the options a copy command may take; false (after the message) on
/// anything it does not know.
bool ParseOptions(const std::string& cmd, const std::vector<std::string>& args, bool copyFlags, Options& o) {
    o.cmd = cmd;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if ((a == "--port" || a == "--port2") && i + 1 < args.size()) {
            (a == "--port" ? o.port : o.port2) = args[++i];
        } else if (a == "--trace" && i + 1 < args.size() && !args[i + 1].empty()) {
            o.trace = args[++i];
        } else if (a == "--quiet" || a == "-q") {
            o.quiet = true;
        } else if (copyFlags && a == "--single") {
            o.single = true;
        } else if (copyFlags && a == "--batch") {
            o.batch = true;
        } else if (copyFlags && a == "--verify") {
            o.verify = true;
        } else if (a.size() > 1 && a[0] == '-') {
            std::cerr << "ternctl " << cmd << ": unknown argument '" << a << "'\n";
            return false;
        } else {
            o.files.push_back(a);
        }
    }
    return true;
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
            host_.Link(), transfer::CopyEvents{[this](int done, int total) { progress_.Show(done, total); },
                                                [this](const CopyOutcome&) { ++finished_; }});
        host_.engine = engine_.get();
        comm_.OnCommReceive = [this](link::TComm& c, std::uint16_t n) { host_.Link().OnCommReceiveWatchThread(c, n); };
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

int Fail(const std::string& cmd, const std::string& why) {
    std::cerr << "ternctl " << cmd << ": " << OneLine(why) << "\n";
    return 1;
}

/// The camera could not be reached: the reason on one line, then the lines
/// that say what to do.
int FailToConnect(const std::string& cmd, const std::string& why, const std::string& help) {
    Fail(cmd, why);
    if (!help.empty()) std::cerr << help << "\n";
    return 1;
}

/// "--port auto" resolved and the trace file opened; false after the message.
bool PrepareLine(const std::string& cmd, Options& o, std::unique_ptr<link::LineTrace>& trace) {
    std::string error;
    if (!ResolveAutoPort(o.port, o.port2, error, o.quiet ? nullptr : &std::cerr)) {
        Fail(cmd, error);
        return false;
    }
    if (o.trace.empty()) return true;
    try {
        trace = std::make_unique<link::LineTrace>(o.trace);
    } catch (const std::exception& e) {
        Fail(cmd, e.what());
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
bool LoadScript(const std::string& cmd, const std::string& path, transfer::SettingsScript& script) {
    std::string error;
    if (!transfer::ReadSettingsFile(path, script, error)) {
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
        std::cout << Hex3(static_cast<int>(i)) << "  " << WordText(a[i]) << "  " << WordText(b[i]) << "\n";
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

}  // namespace

void CopyUsage(std::ostream& out) {
    out << "       ternctl backup [--port DEV|auto] [--trace FILE] [--quiet] FILE\n"
           "         read the camera's 512 memory words and write them to the settings file FILE\n"
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

int Backup(const std::vector<std::string>& args) {
    Options o;
    if (!ParseOptions("backup", args, false, o)) return 2;
    if (o.files.size() != 1) {
        std::cerr << "ternctl backup: one FILE is needed\n";
        return 2;
    }
    const std::string& path = o.files[0];
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        return Fail("backup", std::string(transfer::kMsgFileWrite) + ": " + path + ": not a regular file");
    }
    // A folder that is not there is known now, not after 512 reads.
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return Fail("backup", std::string(transfer::kMsgFileWrite) + ": " + dir + ": no such folder");
    }
    std::unique_ptr<link::LineTrace> trace;
    if (!PrepareLine("backup", o, trace)) return 1;
    ProgressPrinter progress(o.quiet, "reading");
    Session s(o, progress, trace.get());
    std::string error, help;
    if (!s.Connect(error, help)) return FailToConnect("backup", error, help);
    const transfer::CopyStart start = s.Engine().StartCameraToPc(path);
    if (!start) return Fail("backup", Reason(start));
    const CopyOutcome& out = s.Run();
    if (out.result != CopyResult::Complete) return Fail("backup", Reason(out));
    return 0;
}

int Restore(const std::vector<std::string>& args) {
    Options o;
    if (!ParseOptions("restore", args, true, o)) return 2;
    if (o.files.size() != 1 || o.single == o.batch) {
        std::cerr << "ternctl restore: one FILE and one of --single and --batch are needed\n";
        return 2;
    }
    const std::string& path = o.files[0];
    transfer::SettingsScript script;
    if (!LoadScript("restore", path, script)) return 1;  // nothing sent

    std::unique_ptr<link::LineTrace> trace;
    if (!PrepareLine("restore", o, trace)) return 1;
    ProgressPrinter progress(o.quiet, "writing");
    Session s(o, progress, trace.get());
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
    if (differ > 0) return Fail("restore", std::to_string(differ) + " word" + (differ > 1 ? "s differ" : " differs") + " from " + path);
    return 0;
}

int Show(const std::vector<std::string>& args) {
    Options o;
    if (!ParseOptions("show", args, false, o)) return 2;
    if (o.files.size() != 1) {
        std::cerr << "ternctl show: one FILE is needed\n";
        return 2;
    }
    transfer::SettingsScript script;
    std::string error;
    if (!transfer::ReadSettingsFile(o.files[0], script, error)) {
        return Fail("show", std::string(transfer::kMsgFileRead) + ": " + error);
    }
    std::size_t r = 0, p = 0;
    while (r < script.records.size() || p < script.problems.size()) {
        const bool takeProblem =
            r == script.records.size() || (p < script.problems.size() && script.problems[p].line < script.records[r].line);
        if (takeProblem) {
            const auto& bad = script.problems[p++];
            std::cout << "line " << bad.line << ": not a record: " << bad.what << "\n";
            continue;
        }
        const auto& rec = script.records[r++];
        if (rec.IsWordWrite() && rec.Address() <= transfer::kLastWord) {
            std::cout << Hex3(rec.Address()) << "  " << link::HexWordText(rec.Value()) << "\n";
        } else if (rec.IsWordWrite()) {
            std::cout << "line " << rec.line << ": word " << link::HexWordText(static_cast<std::uint16_t>(rec.Address()))
                      << " is beyond the memory\n";
        } else if (rec.IsReset()) {
            std::cout << "line " << rec.line << ": reset\n";
        } else {
            std::string digits;
            for (int i = 1; i <= rec.digits / 2; ++i) digits += (i > 1 ? " " : "") + link::HexByteText(rec.payload[i]);
            std::cout << "line " << rec.line << ": command " << digits << "\n";
        }
    }
    if (!script.Ok()) {
        const std::size_t n = script.problems.size();
        return Fail("show", o.files[0] + ": " + std::to_string(n) + (n > 1 ? " lines are" : " line is") + " not well-formed");
    }
    return 0;
}

int Diff(const std::vector<std::string>& args) {
    Options o;
    if (!ParseOptions("diff", args, false, o)) return 2;
    const bool withCamera = o.port.has_value();
    if (o.files.size() != (withCamera ? 1u : 2u)) {
        std::cerr << "ternctl diff: two files, or one FILE and --port DEV, are needed\n";
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
