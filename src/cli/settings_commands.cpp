#include "cli/settings_commands.h"
#include "cli/output.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <set>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "camera/command_line.h"
#include "cli/console_host.h"
#include "cli/many_cameras.h"
#include "cli/ports_command.h"
#include "cli/probe.h"
#include "link/comm.h"
#include "link/event_loop.h"
#include "link/protocol.h"
#include "link/trace.h"
#include "link/version.h"
#include "transfer/DebugCommands.h"
#include "transfer/Settings.h"
#include "transfer/SettingsFile.h"

namespace tern::cli {

namespace {

using transfer::Setting;
using transfer::SettingKind;
using transfer::SettingValues;

/// A read or a write the camera did not accept.
struct Refusal {
    link::Payload command;
    std::uint8_t status = 0;
};

std::string StatusWords(std::uint8_t status) {
    const std::string hex = link::HexByteText(status);
    return status == link::kStatusRefused ? "refused it (" + hex + ")" : "answered it with an error (" + hex + ")";
}

/// The link's host for get and set: every reply's settings are collected,
/// and every reply that is not an acceptance is kept.
class SettingsHost : public ConsoleHost {
public:
    using ConsoleHost::ConsoleHost;

    void Trans_end() override {
        const link::Reply reply(Link().RecvFrame());
        link::Payload last;
        for (int i = 1; i <= static_cast<int>(link::kPayloadSize); ++i) last[i] = Link().CmdPayload(i);
        const transfer::CommonDecoded found = Engine().Trans_end_common(reply, last);
        transfer::CollectSettings(found.updates, values);
        for (const transfer::ControlUpdate& u : found.updates) {
            if (u.kind == transfer::ControlUpdate::Kind::Maximum) maxima[u.control] = u.value;
        }
        if (reply.Accepted() && found.mask) {
            const transfer::CameraRect& r = found.mask->camera;
            values[std::string("mask:") + static_cast<char>('A' + found.mask->mask)] =
                std::to_string(r.x1) + "," + std::to_string(r.y1) + "," + std::to_string(r.x2) + "," + std::to_string(r.y2);
        }
        if (reply.Accepted()) {
            if (const auto raw = transfer::debug::DecodeRead(reply)) {
                char name[16];
                std::snprintf(name, sizeof name, raw->kind == transfer::debug::ReadAnswer::Register ? "reg:%02X" : "mem:%03X",
                              raw->where);
                values[name] = raw->text;
                // A hue bar's position is its register's signed magnitude.
                for (const Setting& h : transfer::Settings()) {
                    if (raw->kind == transfer::debug::ReadAnswer::Register && transfer::HueRegister(h.control) == raw->where) {
                        values[std::string(h.name)] = std::to_string(transfer::HuePosition(std::stoi(raw->text, nullptr, 16)));
                    }
                }
            }
        }
        lastStatus = reply.Status();
        if (!reply.Accepted()) refusals.push_back({last, reply.Status()});
        ++replies;
    }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        ConsoleHost::ShowMessage(text, caption);
        if (text == link::kMsgNotConnected) gaveUp = true;
    }

    SettingValues values;
    std::map<std::string, int> maxima;  // the ranges the camera reports
    std::vector<Refusal> refusals;
    std::uint8_t lastStatus = 0;
    int replies = 0;
    bool gaveUp = false;
};

/// One camera on its own link, with the reads of `get` as its load chain.
class Camera {
public:
    Camera(const std::string& port, const std::string& port2, link::LineTrace* trace, std::vector<transfer::ChainRequest> reads)
        : host_(loop_, comm_), reads_(std::move(reads)) {
        comm_.SetTrace(trace);
        // Only a device the user named is opened: COM2 is COM1's device unless --port2 names another.
        if (!port.empty()) comm_.SetPortDevice(1, port);
        if (!port2.empty() || !port.empty()) comm_.SetPortDevice(2, port2.empty() ? port : port2);
        comm_.SetReceiveNotifySize(7168);
        comm_.SetSendNotifySize(8192);
        host_.quiet = true;
        host_.chain = [this](int step, link::Payload& p) {
            if (step >= static_cast<int>(reads_.size())) return 0;
            p = reads_[static_cast<std::size_t>(step)].payload;
            return reads_[static_cast<std::size_t>(step)].n;
        };
        comm_.SetNotifier(&loop_);  // the port reports on this thread: no thread of its own
        comm_.OnCommReceive = [this](link::TComm& c, std::uint16_t n) { host_.Link().OnCommReceive(c, n); };
        comm_.OnCommLost = [this](link::TComm&, const std::string& reason) {
            host_.PostToEventThread([this, reason] { lost_ = "The serial device went away: " + reason; });
        };
    }
    ~Camera() { host_.Link().Close(); }

    /// The handshake and the reads; false with the reason when no camera answered.
    bool Connect(std::string& error) {
        host_.Link().Trans_Create();
        loop_.RunUntil([&] { return Over() || host_.chainsCompleted > 0; }, std::chrono::hours(24));
        if (host_.chainsCompleted > 0 && lost_.empty() && !host_.gaveUp) return true;
        error = lost_.empty() ? link::kMsgNotConnected : lost_;
        for (const auto& [text, caption] : host_.messages) {
            if (caption.empty()) {  // the open error, then its device, reason and remedy
                const std::size_t nl = text.find('\n');
                error += " (" + text.substr(0, nl) + ")";
                if (nl != std::string::npos) error += "\n" + text.substr(nl + 1);
                break;
            }
        }
        return false;
    }

    /// Sends one command once the link is idle and waits for its reply.
    /// Nothing when the camera stopped answering; else the reply's status.
    std::optional<std::uint8_t> Exchange(const transfer::SettingCommand& cmd) {
        loop_.RunUntil([&] { return Over() || host_.Link().Trans_chk(); }, std::chrono::hours(24));
        if (Over()) return std::nullopt;
        const int before = host_.replies;
        host_.Link().StxCommand(cmd.payload, cmd.n);
        loop_.RunUntil([&] { return Over() || host_.replies > before; }, std::chrono::hours(24));
        if (host_.replies == before) return std::nullopt;
        return host_.lastStatus;
    }

    SettingsHost& Host() { return host_; }
    std::string Lost() const { return lost_.empty() ? link::kMsgNotConnected : lost_; }

private:
    bool Over() const { return host_.terminated || host_.gaveUp || host_.givenUp > 0 || !lost_.empty(); }

    link::EventLoop loop_;
    link::TComm comm_;
    SettingsHost host_;
    std::vector<transfer::ChainRequest> reads_;
    std::string lost_;
};

/// A failure: its first line after the command's name, what to do on the lines after it.
void FailLines(const std::string& cmd, const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    for (bool first = true; std::getline(lines, line); first = false) {
        Err() << (first ? "ternctl " + cmd + ": " : std::string()) << camera::Printable(line) << "\n";
    }
}

/// The options get and set share.
struct LineOptions {
    std::string port, port2, trace;
};

void AddPortHelp(CLI::App& app) {
    app.footer("--port may be given more than once, or as --port auto-all (every port a camera answers on): "
               "each camera runs on its own link at the same time, output lines start with the device, and a "
               "summary follows.\nExit status: 0 success, 1 failure, 2 usage error.");
}

std::optional<int> ParseLine(CLI::App& app, const std::vector<std::string>& args, const std::string& cmd) {
    const camera::ParseOutcome outcome = camera::ParseCommandLine(app, args);
    if (outcome.help) {
        Out() << app.help();
        SettingsList(Out());
        return 0;
    }
    if (!outcome) {
        Err() << "ternctl " << cmd << ": " << outcome.error << "\n"
                  << "Run 'ternctl " << cmd << " --help' for its options.\n";
        return 2;
    }
    return std::nullopt;
}

/// --port auto resolved and the trace opened; false after the message.
bool OpenLine(const std::string& cmd, LineOptions& o, std::unique_ptr<link::LineTrace>& trace) {
    ArgumentsChecked();
    std::optional<std::string> p1, p2;
    if (!o.port.empty()) p1 = o.port;
    if (!o.port2.empty()) p2 = o.port2;
    std::string error;
    if (!ResolveAutoPort(p1, p2, error, nullptr)) {
        Err() << "ternctl " << cmd << ": " << camera::Printable(error) << "\n";
        return false;
    }
    o.port = p1.value_or("");
    o.port2 = p2.value_or("");
    if (o.trace.empty()) return true;
    try {
        trace = std::make_unique<link::LineTrace>(o.trace);
    } catch (const std::exception& e) {
        Err() << "ternctl " << cmd << ": " << camera::Printable(e.what()) << "\n";
        return false;
    }
    return true;
}

/// The trace written out once the link is closed; a trace that could not be
/// written fails the command.
int FinishTrace(const std::string& cmd, std::unique_ptr<link::LineTrace>& trace, int rc) {
    if (std::string error; trace && !trace->Close(error)) {
        Err() << "ternctl " << cmd << ": " << camera::Printable(error) << "\n"
                  << "The trace is incomplete: free some space or choose another --trace file.\n";
        return rc == 0 ? 1 : rc;
    }
    return rc;
}

/// Which read a setting's value comes from, for the words of a refusal.
bool ReadGives(const link::Payload& read, const Setting& s) {
    if (read[2] == link::kItemBlock) return read[3] == s.block;
    if (s.block >= 0 || s.writeOnly) return false;
    if (s.control == transfer::Control::Delay) return read[2] == link::kItemDelay;
    if (const auto reg = transfer::HueRegister(s.control)) return read[1] == link::kGroupRead && read[2] == link::kItemRegister && read[3] == *reg;
    return s.control == transfer::Control::wb_sel ? read[2] == link::kItemWhiteBalance && read[3] == 0
                                                  : read[2] == link::kItemPwmRef;
}

nlohmann::ordered_json JsonValue(const Setting& s, const std::string& v) {
    switch (s.kind) {
        case SettingKind::Check: return v == "on";
        case SettingKind::Slider: return std::stoi(v);
        case SettingKind::Grid: {
            nlohmann::ordered_json cells = nlohmann::ordered_json::array();
            for (char c : v) cells.push_back(c == '1');
            return cells;
        }
        default: return v;
    }
}

/// A JSON value of `get --json` as the text `set` takes; nothing when it has no such form.
std::optional<std::string> TextOf(const Setting& s, const nlohmann::json& v) {
    if (v.is_string()) return v.get<std::string>();
    if (v.is_boolean() && s.kind == SettingKind::Check) return v.get<bool>() ? "on" : "off";
    if (v.is_number_integer()) return std::to_string(v.get<long long>());
    if (v.is_array() && s.kind == SettingKind::Grid) {
        std::string cells;
        for (const auto& c : v) {
            if (!c.is_boolean()) return std::nullopt;
            cells += c.get<bool>() ? '1' : '0';
        }
        return cells;
    }
    return std::nullopt;
}

/// Reads NAME=VALUE lines or get's JSON object; false with the reason.
bool ReadSettingsText(const std::string& path, std::vector<std::pair<std::string, std::string>>& out, std::string& error) {
    // As a settings file is read: a regular file only (never a FIFO or a
    // device), and no larger than one can be.
    const int fd = transfer::OpenRegularFile(path, error);
    if (fd < 0) return false;
    std::string text;
    char buf[8192];
    for (;;) {
        const auto n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > transfer::kMaxSettingsFileSize) {
            ::close(fd);
            error = path + ": too large for a settings list (more than 1 MiB); give the output of 'ternctl get'";
            return false;
        }
    }
    ::close(fd);
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);  // a byte-order mark, as some editors write
    if (text.find_first_not_of(" \t\r\n") != std::string::npos && text[text.find_first_not_of(" \t\r\n")] == '{') {
        // get --json writes one object a camera and a summary, a line each:
        // the one camera's object is taken.
        nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
        if (j.is_discarded()) {
            std::istringstream lines(text);
            int found = 0;
            for (std::string line; std::getline(lines, line);) {
                if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
                const nlohmann::json o = nlohmann::json::parse(line, nullptr, false);
                if (o.is_discarded()) {
                    found = -1;
                    break;
                }
                if (o.is_object() && o.contains("settings")) {
                    j = o;
                    ++found;
                }
            }
            if (found > 1) {
                error = path + ": holds the settings of " + std::to_string(found) + " cameras: keep the line of the one to copy";
                return false;
            }
        }
        if (j.is_discarded() || !j.contains("settings") || !j["settings"].is_object()) {
            error = path + ": not the JSON of 'ternctl get --json' (an object with \"settings\")";
            return false;
        }
        for (const auto& [name, value] : j["settings"].items()) {
            const Setting* s = transfer::SettingByName(name);
            const auto v = s != nullptr ? TextOf(*s, value) : std::optional<std::string>(value.dump());
            if (!v) {
                error = path + ": " + name + ": the value " + value.dump() + " is not one it takes";
                return false;
            }
            out.emplace_back(name, *v);
        }
        return true;
    }
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) {
            error = path + ": line " + std::to_string(number) + " is not NAME=VALUE";
            return false;
        }
        out.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return true;
}


bool SamePath(const std::string& a, const std::string& b) {
    namespace fs = std::filesystem;
    std::error_code ea, eb;
    if (fs::exists(a, ea) && fs::exists(b, eb)) return fs::equivalent(a, b, ea);
    return fs::weakly_canonical(a, ea) == fs::weakly_canonical(b, eb);
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

/// A setting by name, or one cell (1 to 48) of a grid: "BLCCheck07".
struct Named {
    const Setting* s = nullptr;
    int cell = 0;
    std::string Name() const {
        if (cell == 0) return std::string(s->name);
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02d", cell);
        return std::string(s->name) + digits;
    }
    bool operator==(const Named& o) const { return s == o.s && cell == o.cell; }
};

/// Names compare without regard to case.
std::optional<Named> Resolve(std::string_view name) {
    if (const Setting* s = transfer::SettingByName(name)) return Named{s, 0};
    const std::string lower = Lower(name);
    for (const Setting& s : transfer::Settings()) {
        if (s.kind != SettingKind::Grid) continue;
        const std::string stem = Lower(s.name);
        if (lower.size() != stem.size() + 2 || lower.rfind(stem, 0) != 0) continue;
        const std::string digits = lower.substr(stem.size());
        if (!std::isdigit(static_cast<unsigned char>(digits[0])) || !std::isdigit(static_cast<unsigned char>(digits[1]))) continue;
        const int k = std::stoi(digits);
        if (k >= 1 && k <= transfer::kGridCells) return Named{&s, k};
    }
    return std::nullopt;
}

/// A register ("reg:2C", 00 to FF) or a memory word ("mem:01A", 000 to 1FF),
/// as the Debug page reads and writes them; or a mask's rectangle ("mask:A",
/// x1,y1,x2,y2 in the camera's units) as the mask window does.
struct Raw {
    enum Kind { Reg, Mem, Mask } kind = Reg;
    int where = 0;
    std::string Name() const {
        char name[16];
        if (kind == Mask) return std::string("mask:") + static_cast<char>('A' + where);
        std::snprintf(name, sizeof name, kind == Reg ? "reg:%02X" : "mem:%03X", where);
        return name;
    }
    transfer::ChainRequest Read() const {
        if (kind == Mask) {
            const transfer::SettingCommand c = *transfer::MaskReadCommand(where);
            return {c.payload, c.n};
        }
        return {kind == Reg ? transfer::debug::DspRead(where) : transfer::debug::EepRead(where), kind == Reg ? 3 : 4};
    }
    /// The command for `value`; nothing (with `error`) when it is not one it takes.
    std::optional<transfer::SettingCommand> Write(const std::string& value, std::string& error) const {
        if (kind == Mask) {
            int v[4] = {-1, -1, -1, -1};
            char end = 0;
            if (std::sscanf(value.c_str(), "%d,%d,%d,%d%c", &v[0], &v[1], &v[2], &v[3], &end) != 4 ||
                std::any_of(std::begin(v), std::end(v), [](int x) { return x < 0 || x > 255; }) || v[0] > v[2] || v[1] > v[3]) {
                error = Name() + ": '" + value + "' is not a value it takes; allowed: x1,y1,x2,y2, each 0 to 255, x1 <= x2, y1 <= y2";
                return std::nullopt;
            }
            return transfer::MaskWriteCommand(where, {v[0], v[1], v[2], v[3]});
        }
        const auto v = transfer::debug::CompleteHexValue(value);
        if (!v) {
            error = Name() + ": '" + value + "' is not a value it takes; allowed: four hexadecimal digits, 0000 to FFFF";
            return std::nullopt;
        }
        return transfer::SettingCommand{kind == Reg ? transfer::debug::DspWrite(where, *v, false) : transfer::debug::EepWrite(where, *v, false),
                                        kind == Reg ? 5 : 6};
    }
};

std::optional<Raw> ResolveRaw(std::string_view name) {
    const std::string lower = Lower(name);
    if (lower.size() == 6 && lower.rfind("mask:", 0) == 0 && lower[5] >= 'a' && lower[5] < 'a' + transfer::kMaskCount) {
        return Raw{Raw::Mask, lower[5] - 'a'};
    }
    const bool reg = lower.rfind("reg:", 0) == 0;
    if (!reg && lower.rfind("mem:", 0) != 0) return std::nullopt;
    const std::string digits = lower.substr(4);
    if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789abcdef") != std::string::npos) return std::nullopt;
    const int where = std::stoi(digits, nullptr, 16);
    if (where > (reg ? 0xFF : transfer::kLastWord)) return std::nullopt;
    return Raw{reg ? Raw::Reg : Raw::Mem, where};
}

std::size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

/// "unknown setting 'agc_mx'; did you mean AGC_MAX?"
std::string UnknownName(const std::string& name) {
    const std::string lower = Lower(name);
    std::vector<std::pair<std::size_t, std::string>> near;
    for (const Setting& s : transfer::Settings()) {
        const std::string n = Lower(s.name);
        const std::size_t d = Distance(lower, n);
        const bool prefix = lower.size() >= 3 && n.find(lower) != std::string::npos;
        if (d <= std::max<std::size_t>(2, n.size() / 3) || prefix) near.emplace_back(prefix ? 0 : d, std::string(s.name));
    }
    std::stable_sort(near.begin(), near.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    std::string text = "unknown setting '" + name + "'";
    if (!near.empty()) {
        text += "; did you mean ";
        for (std::size_t i = 0; i < near.size() && i < 3; ++i) text += (i == 0 ? "" : i + 1 == std::min<std::size_t>(near.size(), 3) ? " or " : ", ") + near[i].second;
        text += "?";
    } else {
        text += "; 'ternctl describe' lists the names";
    }
    return text;
}

std::string FrameText(const transfer::SettingCommand& cmd) {
    std::string text;
    for (int i = 1; i <= cmd.n; ++i) text += (i > 1 ? " " : "") + link::HexByteText(cmd.payload[i]);
    return text;
}

/// The reads that carry `named` (each once, in the pages' order).
std::vector<transfer::ChainRequest> ReadsFor(const std::vector<const Setting*>& named) {
    std::vector<transfer::ChainRequest> reads;
    for (const transfer::ChainRequest& r : transfer::SettingReads()) {
        if (std::any_of(named.begin(), named.end(), [&](const Setting* s) { return ReadGives(r.payload, *s); })) reads.push_back(r);
    }
    // The hue bars' registers, read as the Debug page reads a register.
    for (const Setting* s : named) {
        const auto reg = transfer::HueRegister(s->control);
        if (!reg) continue;
        const transfer::ChainRequest r{transfer::debug::DspRead(*reg), 3};
        const bool seen = std::any_of(reads.begin(), reads.end(), [&](const transfer::ChainRequest& q) { return q.n == r.n && q.payload.b == r.payload.b; });
        if (!seen) reads.push_back(r);
    }
    return reads;
}

/// Every setting's reads.
std::vector<transfer::ChainRequest> AllReads() {
    std::vector<const Setting*> all;
    for (const Setting& s : transfer::Settings()) all.push_back(&s);
    return ReadsFor(all);
}

nlohmann::ordered_json SettingJson(const Setting& s) {
    nlohmann::ordered_json j;
    j["name"] = s.name;
    static constexpr const char* kKinds[] = {"choice", "check", "slider", "text", "grid", "hex byte", "hex digit"};
    j["type"] = kKinds[static_cast<int>(s.kind)];
    if (s.kind == SettingKind::Choice) {
        nlohmann::ordered_json items = nlohmann::ordered_json::array();
        for (auto i : s.items) items.push_back(std::string(i));
        j["values"] = items;
    }
    if (s.kind == SettingKind::Slider || s.kind == SettingKind::HexByte) {
        j["min"] = s.min;
        j["max"] = s.max;
    }
    if (s.rangeFromCamera) j["max_from_camera"] = true;
    j["allowed"] = transfer::AllowedValues(s);
    j["service"] = s.service;
    j["read_only"] = s.readOnly;
    j["write_only"] = s.writeOnly;
    static constexpr const char* kPages[] = {"Adjust", "Debug", "Setup1", "Setup2", "Mask"};
    j["page"] = kPages[static_cast<int>(transfer::RowOf(s.control).page)];
    if (!s.label.empty()) j["label"] = std::string(s.label);
    return j;
}

}  // namespace

void SettingsList(std::ostream& out) {
    out << "\nSettings (NAME=VALUE, as the window shows them; names in any case; (service): the Adjust page's,\n"
           "for the service modes, sent only with --service; (write-only): never reported by the camera):\n";
    for (const Setting& s : transfer::Settings()) {
        std::string name(s.name);
        if (s.service) name += " (service)";
        if (s.readOnly) name += " (read-only)";
        if (s.writeOnly) name += " (write-only)";
        out << "  " << name << std::string(name.size() < 26 ? 26 - name.size() : 2, ' ') << transfer::AllowedValues(s) << "\n";
    }
    out << "  reg:XX (Debug page)       register 00 to FF: four hexadecimal digits; set only with --service\n"
           "  mem:XXX (Debug page)      memory word 000 to 1FF: four hexadecimal digits; set only with --service\n"
           "  mask:A to mask:D          the mask's rectangle (the mask window): x1,y1,x2,y2, each 0 to 255\n";
}

int Describe(const std::vector<std::string>& args) {
    bool json = false;
    LineOptions o;
    CLI::App app("every setting get and set know: its type, the values it takes, whether it needs --service, "
                 "and the window page that shows it; with --port also its value on that camera",
                 "ternctl describe");
    app.add_flag("--json", json, "one JSON object with a list of settings");
    AddLineOptions(app, o.port, o.port2, o.trace);
    if (const auto done = ParseLine(app, args, "describe")) return *done;
    json = json || JsonMode();
    SettingValues values;
    std::unique_ptr<link::LineTrace> trace;
    if (!o.port.empty()) {
        if (!OpenLine("describe", o, trace)) return 1;
        Camera cam(o.port, o.port2, trace.get(), AllReads());
        std::string error;
        if (!cam.Connect(error)) {
            FailLines("describe", error);
            return FinishTrace("describe", trace, 1);
        }
        values = cam.Host().values;
        for (const auto& [name, max] : cam.Host().maxima) {
            if (const Setting* s = transfer::SettingByName(name); s != nullptr && s->rangeFromCamera) values[name + "#max"] = std::to_string(max);
        }
    }
    if (!json) {
        SettingsList(Out());
        if (!o.port.empty()) {
            Out() << "\nOn " << camera::Printable(o.port) << ":\n";
            for (const Setting& s : transfer::Settings()) {
                const auto at = values.find(std::string(s.name));
                Out() << "  " << s.name << "=" << (at == values.end() ? "(not read)" : at->second) << "\n";
            }
        }
        return FinishTrace("describe", trace, 0);
    }
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Setting& s : transfer::Settings()) {
        nlohmann::ordered_json j = SettingJson(s);
        if (const auto max = values.find(std::string(s.name) + "#max"); max != values.end()) j["max"] = std::stoi(max->second);
        if (const auto at = values.find(std::string(s.name)); at != values.end()) j["value"] = JsonValue(s, at->second);
        list.push_back(j);
    }
    nlohmann::ordered_json j;
    j["settings"] = list;
    Out() << j.dump() << "\n";
    return FinishTrace("describe", trace, 0);
}

int DiffSettings(const std::vector<std::string>& args) {
    LineOptions o;
    bool byName = false, quiet = false;
    std::vector<std::string> files;
    CLI::App app("the settings that differ, by name, between two outputs of 'ternctl get' (plain or --json), or "
                 "between FILE and the camera on --port (name, first, second); exit 1 when any do",
                 "ternctl diff --settings");
    app.add_flag("--settings", byName, "compare settings by name, not memory words");
    AddLineOptions(app, o.port, o.port2, o.trace);
    app.add_flag("-q,--quiet", quiet, "no progress on stderr");
    app.add_option("FILE", files, "two outputs of 'ternctl get', or FILE with --port")->option_text(" ");
    app.footer("Exit status: 0 the same, 1 some settings differ, 2 trouble or a usage error.");
    if (const auto done = ParseLine(app, args, "diff")) return *done;
    const bool withCamera = !o.port.empty();
    if (files.size() != (withCamera ? 1u : 2u)) {
        Err() << "ternctl diff: --settings compares two files, or one FILE and --port DEV\n";
        return 2;
    }
    // Each side by setting: its value as set would send it.
    const auto load = [](const std::string& path, SettingValues& out) {
        std::vector<std::pair<std::string, std::string>> read;
        std::string error;
        if (!ReadSettingsText(path, read, error)) {
            Err() << "ternctl diff: " << camera::Printable(error) << "\n";
            return false;
        }
        for (const auto& [name, value] : read) {
            const auto named = Resolve(name);
            if (!named || named->cell != 0) {
                Err() << "ternctl diff: " << camera::Printable(path) << ": " << camera::Printable(UnknownName(name)) << "\n";
                return false;
            }
            out[std::string(named->s->name)] = value;
        }
        return true;
    };
    SettingValues a, b;
    if (!load(files[0], a)) return 2;
    std::unique_ptr<link::LineTrace> trace;
    if (withCamera) {
        std::vector<const Setting*> named;
        for (const auto& [name, value] : a) named.push_back(transfer::SettingByName(name));
        if (!OpenLine("diff", o, trace)) return 2;
        Camera cam(o.port, o.port2, trace.get(), ReadsFor(named));
        std::string error;
        if (!cam.Connect(error)) {
            FailLines("diff", error);
            return FinishTrace("diff", trace, 2);
        }
        b = cam.Host().values;
    } else if (!load(files[1], b)) {
        return 2;
    }
    const auto same = [](const Setting& s, const std::string& x, const std::string& y) {
        std::string ignored;
        const auto cx = transfer::SetCommand(s, x, ignored), cy = transfer::SetCommand(s, y, ignored);
        return cx && cy ? cx->Bytes() == cy->Bytes() : x == y;
    };
    nlohmann::ordered_json differences = nlohmann::ordered_json::array();
    for (const Setting& s : transfer::Settings()) {
        const std::string name(s.name);
        const auto x = a.find(name), y = b.find(name);
        if (x == a.end() && (withCamera || y == b.end())) continue;
        const std::string first = x == a.end() ? "----" : x->second, second = y == b.end() ? "----" : y->second;
        if (x != a.end() && y != b.end() && same(s, first, second)) continue;
        differences.push_back({{"name", name}, {"first", first}, {"second", second}});
        if (!JsonMode()) Out() << name << "  " << camera::Printable(first) << "  " << camera::Printable(second) << "\n";
    }
    if (JsonMode()) Out() << nlohmann::ordered_json{{"differences", differences}}.dump() << "\n";
    return FinishTrace("diff", trace, differences.empty() ? 0 : 1);
}

int Get(const std::vector<std::string>& args) {
    LineOptions o;
    bool json = false;
    std::vector<std::string> names;
    CLI::App app("read the camera's settings through the Setup1, Setup2 and Adjust pages' reads (nothing is written) "
                 "and print each by its control's name, NAME=VALUE a line",
                 "ternctl get");
    AddLineOptions(app, o.port, o.port2, o.trace);
    app.add_flag("--json", json, "one JSON object: the device, the tool's version, the settings and those not read");
    app.add_option("NAME", names, "only these settings (any case; a grid's cell as BLCCheck07)")->option_text(" ");
    AddPortHelp(app);
    if (const auto done = ParseLine(app, args, "get")) return *done;
    json = json || JsonMode();
    std::vector<Named> wanted;
    std::vector<Raw> raws;
    for (const std::string& n : names) {
        if (const auto raw = ResolveRaw(n)) {
            raws.push_back(*raw);
            continue;
        }
        const auto named = Resolve(n);
        if (!named) {
            Err() << "ternctl get: " << camera::Printable(UnknownName(n)) << "\n";
            return 2;
        }
        if (std::find(wanted.begin(), wanted.end(), *named) == wanted.end()) wanted.push_back(*named);
    }
    for (const Named& w : wanted) {
        if (w.s->writeOnly) {
            Err() << "ternctl get: " << w.s->name << " is never reported by the camera: it can be set, not read\n";
            return 2;
        }
    }
    if (wanted.empty() && raws.empty()) {
        for (const Setting& s : transfer::Settings()) {
            if (!s.writeOnly) wanted.push_back({&s, 0});
        }
    }
    // In the pages' order, as the whole list is printed.
    std::stable_sort(wanted.begin(), wanted.end(), [](const Named& x, const Named& y) {
        return x.s != y.s ? x.s < y.s : x.cell < y.cell;
    });
    std::vector<const Setting*> carried;
    for (const Named& w : wanted) carried.push_back(w.s);
    std::unique_ptr<link::LineTrace> trace;
    if (!OpenLine("get", o, trace)) return 1;
    const int rc = [&] {
        // Only the reads that carry the settings asked for.
        std::vector<transfer::ChainRequest> reads = names.empty() ? AllReads() : ReadsFor(carried);
        for (const Raw& r : raws) reads.push_back(r.Read());
        Camera cam(o.port, o.port2, trace.get(), reads);
        std::string error;
        if (!cam.Connect(error)) {
            FailLines("get", error);
            return 1;
        }
        const SettingsHost& host = cam.Host();
        nlohmann::ordered_json settings = nlohmann::ordered_json::object(), unread = nlohmann::ordered_json::object();
        int missing = 0;
        for (const Named& w : wanted) {
            const Setting& s = *w.s;
            const std::string name = w.Name();
            if (const auto at = host.values.find(std::string(s.name)); at != host.values.end()) {
                const std::string value = w.cell == 0 ? at->second
                                          : at->second.size() >= static_cast<std::size_t>(w.cell) && at->second[static_cast<std::size_t>(w.cell - 1)] == '1'
                                              ? "on"
                                              : "off";
                if (json) {
                    settings[name] = w.cell == 0 ? JsonValue(s, value) : nlohmann::ordered_json(value == "on");
                } else {
                    Out() << name << "=" << value << "\n";
                }
                continue;
            }
            ++missing;
            std::string why = "no answer";
            for (const Refusal& r : host.refusals) {
                if (ReadGives(r.command, s)) why = "the camera " + StatusWords(r.status);
            }
            if (json) unread[name] = why;
            Err() << "ternctl get: " << name << " was not read: " << why << "\n";
        }
        for (const Raw& r : raws) {
            const std::string name = r.Name();
            if (const auto at = host.values.find(name); at != host.values.end()) {
                if (json) {
                    settings[name] = at->second;
                } else {
                    Out() << name << "=" << at->second << "\n";
                }
                continue;
            }
            ++missing;
            std::string why = "no answer";
            for (const Refusal& f : host.refusals) {
                if (f.command[2] == r.Read().payload[2] && f.command[3] == r.Read().payload[3] && f.command[4] == r.Read().payload[4]) {
                    why = "the camera " + StatusWords(f.status);
                }
            }
            if (json) unread[name] = why;
            Err() << "ternctl get: " << name << " was not read: " << why << "\n";
        }
        if (json) {
            nlohmann::ordered_json j;
            j["device"] = o.port.empty() ? link::DefaultPortName(1) : o.port;
            j["tool"] = std::string("ternctl ") + link::kVersion;
            j["settings"] = settings;
            j["unread"] = unread;
            Out() << j.dump() << "\n";
        }
        return missing == 0 ? 0 : 1;
    }();
    return FinishTrace("get", trace, rc);
}

int Set(const std::vector<std::string>& args) {
    LineOptions o;
    std::string from;
    bool save = false, service = false, dryRun = false, changedOnly = false;
    std::vector<std::string> pairs;
    CLI::App app("send settings to the camera by name, each as the window sends it, one exchange at a time; every "
                 "value is checked before anything is sent",
                 "ternctl set");
    AddLineOptions(app, o.port, o.port2, o.trace);
    camera::AddNamedValue(app, "--from", from, "file", "FILE", "the settings of FILE: the output of 'ternctl get', plain or --json");
    app.add_flag("--save", save, "end with the camera's save command (as SAVE does), once every change was accepted");
    app.add_flag("--service", service, "also take the Adjust page's settings, which the window keeps for the service modes (marked (service))");
    app.add_flag("--dry-run", dryRun, "check the values and print the frames that would be sent; send nothing (the port "
                                      "is opened only for --changed-only, to read)");
    app.add_flag("--changed-only", changedOnly, "read the settings first and send only those that differ");
    app.add_option("NAME=VALUE", pairs, "the settings to change")->option_text(" ");
    AddPortHelp(app);
    if (const auto done = ParseLine(app, args, "set")) return *done;

    // What to send, by setting (or grid cell): the command line's values,
    // then the file's for the settings the command line does not name.
    struct Wanted {
        Named n;
        std::string value;
        std::string origin;
    };
    std::vector<Wanted> wanted;
    bool bad = false;
    const auto add = [&](const std::string& name, const std::string& value, const std::string& origin) {
        const auto named = Resolve(name);
        if (!named) {
            Err() << "ternctl set: " << camera::Printable(UnknownName(name)) << "\n";
            bad = true;
            return;
        }
        const auto at = std::find_if(wanted.begin(), wanted.end(), [&](const Wanted& w) { return w.n == *named; });
        if (at == wanted.end()) {
            wanted.push_back({*named, value, origin});
        } else if (at->value != value && at->origin == origin) {
            Err() << "ternctl set: " << named->Name() << " is given twice, as " << camera::Printable(at->value) << " and "
                  << camera::Printable(value) << ": give it once\n";
            bad = true;
        } else if (at->value != value) {
            Err() << "ternctl set: " << named->Name() << "=" << camera::Printable(at->value) << " from the command line is sent, not "
                  << camera::Printable(origin) << "'s " << camera::Printable(value) << "\n";
        }
    };
    // Registers and memory words: four hex digits each, only with --service.
    struct RawChange {
        Raw raw;
        std::string value;
        transfer::SettingCommand cmd;
    };
    std::vector<RawChange> rawChanges;
    for (const std::string& p : pairs) {
        const std::size_t eq = p.find('=');
        if (eq == std::string::npos) {
            Err() << "ternctl set: '" << camera::Printable(p) << "' is not NAME=VALUE\n";
            return 2;
        }
        if (const auto raw = ResolveRaw(p.substr(0, eq))) {
            std::string value = p.substr(eq + 1), error;
            if (raw->kind != Raw::Mask) {
                for (char& c : value) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            const auto cmd = raw->Write(value, error);
            if (!service && raw->kind != Raw::Mask) {
                Err() << "ternctl set: " << raw->Name() << " is read-only without --service (as on the window's Debug page)\n";
                bad = true;
            } else if (!cmd) {
                Err() << "ternctl set: " << camera::Printable(error) << "\n";
                bad = true;
            } else if (std::any_of(rawChanges.begin(), rawChanges.end(), [&](const RawChange& c) { return c.raw.Name() == raw->Name() && c.value != value; })) {
                Err() << "ternctl set: " << raw->Name() << " is given twice: give it once\n";
                bad = true;
            } else {
                rawChanges.push_back({*raw, value, *cmd});
            }
            continue;
        }
        add(p.substr(0, eq), p.substr(eq + 1), "the command line");
    }
    std::vector<std::string> skipped;
    if (!from.empty()) {
        if (!o.trace.empty() && SamePath(o.trace, from)) {
            Err() << "ternctl set: the trace file " << camera::Printable(o.trace) << " is the --from file\n"
                  << "Choose another name for --trace; " << camera::Printable(from) << " is left as it is.\n";
            return 2;
        }
        std::string error;
        std::vector<std::pair<std::string, std::string>> read;
        if (!ReadSettingsText(from, read, error)) {
            Err() << "ternctl set: " << camera::Printable(error) << "\n";
            return 1;
        }
        for (auto& [name, value] : read) {
            const auto named = Resolve(name);
            if (named && named->s->service && !service) {
                skipped.push_back(named->Name());
                continue;
            }
            add(name, value, from);
        }
        // In the pages' order, whatever the file's: a JSON object's keys come sorted.
        const auto rank = [](const Wanted& w) { return static_cast<std::size_t>(w.n.s - transfer::Settings().data()); };
        std::stable_sort(wanted.begin(), wanted.end(), [&](const Wanted& x, const Wanted& y) { return rank(x) < rank(y); });
    }
    if (bad) {
        Err() << "Nothing was sent.\n";
        return 2;
    }
    if (wanted.empty() && rawChanges.empty()) {
        Err() << "ternctl set: no settings to send: give NAME=VALUE or --from FILE\n";
        return 2;
    }
    // White balance: wb_sel (the Adjust page's ATW box) and wb_select write
    // one byte. With both, wb_select's value is sent alone, when they agree.
    const auto wbSelect = std::find_if(wanted.begin(), wanted.end(), [](const Wanted& w) { return w.n.s->control == transfer::Control::wb_select; });
    const auto wbSel = std::find_if(wanted.begin(), wanted.end(), [](const Wanted& w) { return w.n.s->control == transfer::Control::wb_sel; });
    if (wbSelect != wanted.end() && wbSel != wanted.end()) {
        if ((wbSel->value == "on") != (wbSelect->value == "ATW") && (wbSel->value == "on" || wbSel->value == "off")) {
            Err() << "ternctl set: wb_sel=" << camera::Printable(wbSel->value) << " and wb_select=" << camera::Printable(wbSelect->value)
                  << " set one byte of the camera differently: give one of them (wb_sel=on is wb_select=ATW)\n"
                  << "Nothing was sent.\n";
            return 2;
        }
        wanted.erase(wbSel);
    }

    // Every value is checked before the first byte goes out. A grid's single
    // cells (BLCCheck07=on) change the grid as the camera holds it: its block
    // is read first, and the cells go out together as one grid command.
    struct Change {
        const Setting* s;
        transfer::SettingCommand cmd;
        std::vector<std::pair<int, bool>> cells;  // cell k (1..48), on
        std::string value;
        SettingValues digits;  // the digits of a shared word that change, by name
    };
    std::vector<Change> changes;
    std::vector<const Setting*> toRead;
    for (const Wanted& w : wanted) {
        const Setting* s = w.n.s;
        const std::string name = w.n.Name();
        std::string error;
        if (s->service && !service) {
            error = name + " is a service setting (the Adjust page's, for the service modes): add --service to send it";
        } else if (w.n.cell > 0) {
            if (w.value != "on" && w.value != "off") {
                error = name + ": '" + w.value + "' is not a value it takes; allowed: on, off";
            } else {
                auto at = std::find_if(changes.begin(), changes.end(), [&](const Change& c) { return c.s == s && !c.cells.empty(); });
                if (at == changes.end()) {
                    changes.push_back({s, {}, {}, {}, {}});
                    at = changes.end() - 1;
                    toRead.push_back(s);
                }
                at->cells.emplace_back(w.n.cell, w.value == "on");
                continue;
            }
        } else if (s->kind == SettingKind::Digit && transfer::SetCommand(*s, w.value, error)) {
            // A digit of a shared word: the word is read first and sent whole, once.
            const Setting* word = transfer::DigitsOfWord(*s).front();
            auto at = std::find_if(changes.begin(), changes.end(), [&](const Change& c) { return c.s == word && !c.digits.empty(); });
            if (at == changes.end()) {
                changes.push_back({word, {}, {}, {}, {}});
                at = changes.end() - 1;
                toRead.push_back(word);
            }
            std::string digit = w.value;
            for (char& ch : digit) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            at->digits[std::string(s->name)] = digit;
            continue;
        } else if (const auto cmd = transfer::SetCommand(*s, w.value, error)) {
            changes.push_back({s, *cmd, {}, w.value, {}});
            if (s->rangeFromCamera || changedOnly || transfer::HueRegister(s->control)) toRead.push_back(s);
            continue;
        }
        Err() << "ternctl set: " << camera::Printable(error) << "\n";
        bad = true;
    }
    if (bad) {
        Err() << "Nothing was sent.\n";
        return 2;
    }
    if (!skipped.empty()) {
        std::string list;
        for (const std::string& n : skipped) list += (list.empty() ? "" : ", ") + n;
        Err() << "ternctl set: left out the service settings " << list << " (add --service to send them)\n";
    }
    nlohmann::ordered_json sentJson = nlohmann::ordered_json::array(), unchangedJson = nlohmann::ordered_json::array(),
                           refusedJson = nlohmann::ordered_json::object(), framesJson = nlohmann::ordered_json::object();
    const auto report = [&](int rc) {
        if (JsonMode()) {
            nlohmann::ordered_json j;
            j["dry_run"] = dryRun;
            if (dryRun) j["frames"] = framesJson;
            j["sent"] = sentJson;
            j["unchanged"] = unchangedJson;
            j["not_accepted"] = refusedJson;
            Out() << j.dump() << "\n";
        }
        return rc;
    };
    const auto wouldSend = [&](const std::string& name, const transfer::SettingCommand& cmd) {
        framesJson[name] = FrameText(cmd);
        if (!JsonMode()) Out() << name << ": " << FrameText(cmd) << "\n";
    };
    const bool needsRead = std::any_of(changes.begin(), changes.end(), [](const Change& c) { return !c.cells.empty() || !c.digits.empty(); }) ||
                           (!toRead.empty() && !dryRun) || changedOnly;
    std::vector<transfer::ChainRequest> reads = ReadsFor(toRead);
    if (changedOnly) {
        for (const RawChange& c : rawChanges) reads.push_back(c.raw.Read());
    }
    if (dryRun && !needsRead) {
        for (const RawChange& c : rawChanges) wouldSend(c.raw.Name(), c.cmd);
        for (const Change& c : changes) {
            if (c.s->rangeFromCamera) Err() << "ternctl set: " << c.s->name << ": the camera's range is checked only when it is read (--changed-only)\n";
            wouldSend(std::string(c.s->name), c.cmd);
        }
        ArgumentsChecked();
        return report(0);
    }

    std::unique_ptr<link::LineTrace> trace;
    if (!OpenLine("set", o, trace)) return 1;
    const int rc = [&] {
        Camera cam(o.port, o.port2, trace.get(), reads);
        std::string error;
        if (!cam.Connect(error)) {
            FailLines("set", error);
            return 1;
        }
        const SettingsHost& host = cam.Host();
        // The ranges the camera reports, checked before anything is sent.
        for (const Change& c : changes) {
            if (!c.s->rangeFromCamera) continue;
            const auto max = host.maxima.find(std::string(c.s->name));
            if (max != host.maxima.end() && std::stoi(c.value) > max->second) {
                Err() << "ternctl set: " << c.s->name << ": '" << c.value << "' is not a value it takes; this camera allows "
                      << c.s->min << " to " << max->second << "\n"
                      << "Nothing was sent.\n";
                bad = true;
            }
        }
        if (bad) return 2;
        std::map<std::string, std::string> grids = host.values;  // as read, then as sent
        int notAccepted = 0;
        // One frame; the camera's answer said and kept for the JSON object.
        enum class Sent { Accepted, Refused, Lost };
        const auto sendOne = [&](const std::string& name, const transfer::SettingCommand& cmd) {
            const auto status = cam.Exchange(cmd);
            if (!status) {
                Err() << "ternctl set: " << name << ": " << camera::Printable(cam.Lost()) << "\n";
                refusedJson[name] = cam.Lost();
                return Sent::Lost;
            }
            if (*status != link::kStatusAccepted) {
                Err() << "ternctl set: " << name << ": the camera " << StatusWords(*status) << "\n";
                refusedJson[name] = "the camera " + StatusWords(*status);
                ++notAccepted;
                return Sent::Refused;
            }
            return Sent::Accepted;
        };
        for (Change& c : changes) {
            const std::string name(c.s->name);
            if (!c.digits.empty()) {
                SettingValues word = host.values;
                for (const auto& [digit, value] : c.digits) word[digit] = value;
                const auto cmd = transfer::DigitsCommand(*c.s, word, error);
                if (!cmd) {
                    Err() << "ternctl set: " << name << ": the camera did not answer the read of its word, so it was not changed\n";
                    refusedJson[name] = "its word was not read";
                    ++notAccepted;
                    continue;
                }
                c.cmd = *cmd;
                const bool same = std::all_of(c.digits.begin(), c.digits.end(), [&](const auto& d) {
                    const auto at = host.values.find(d.first);
                    return at != host.values.end() && at->second == d.second;
                });
                if (changedOnly && same) {
                    for (const auto& d : c.digits) unchangedJson.push_back(d.first);
                    continue;
                }
            } else if (!c.cells.empty()) {
                std::string& cells = grids[name];
                if (cells.size() != 48) {
                    Err() << "ternctl set: " << name << ": the camera did not answer the read of its cells, so none was changed\n";
                    refusedJson[name] = "its cells were not read";
                    ++notAccepted;
                    continue;
                }
                const std::string before = cells;
                for (const auto& [k, on] : c.cells) cells[static_cast<std::size_t>(k - 1)] = on ? '1' : '0';
                c.cmd = *transfer::SetCommand(*c.s, cells, error);
                if (changedOnly && cells == before) {
                    unchangedJson.push_back(name);
                    continue;
                }
            } else if (const auto reg = transfer::HueRegister(c.s->control)) {
                // The register's other bits as the camera holds them.
                char regName[16];
                std::snprintf(regName, sizeof regName, "reg:%02X", *reg);
                const auto shadow = host.values.find(regName);
                if (shadow == host.values.end()) {
                    Err() << "ternctl set: " << name << ": the camera did not answer the read of its register, so it was not changed\n";
                    refusedJson[name] = "its register was not read";
                    ++notAccepted;
                    continue;
                }
                c.cmd = *transfer::HueCommand(c.s->control, transfer::HueWord(std::stoi(shadow->second, nullptr, 16), std::stoi(c.value)));
                if (changedOnly && host.values.count(name) > 0 && std::stoi(host.values.at(name)) == std::stoi(c.value)) {
                    unchangedJson.push_back(name);
                    continue;
                }
            } else if (changedOnly) {
                const auto at = host.values.find(name);
                std::string ignored;
                const auto current = at == host.values.end() ? std::nullopt : transfer::SetCommand(*c.s, at->second, ignored);
                if (current && current->Bytes() == c.cmd.Bytes()) {
                    unchangedJson.push_back(name);
                    continue;
                }
            }
            if (c.s->kind == SettingKind::Grid && c.cells.empty()) grids[name] = c.value;
            if (dryRun) {
                wouldSend(name, c.cmd);
                continue;
            }
            const Sent sent = sendOne(name, c.cmd);
            if (sent == Sent::Lost) return 1;
            if (sent == Sent::Refused) continue;
            if (c.digits.empty()) {
                sentJson.push_back(name);
            } else {
                for (const auto& d : c.digits) sentJson.push_back(d.first);
            }
        }
        for (const RawChange& c : rawChanges) {
            const std::string name = c.raw.Name();
            if (changedOnly) {
                const auto at = host.values.find(name);
                if (at != host.values.end() && at->second == c.value) {
                    unchangedJson.push_back(name);
                    continue;
                }
            }
            if (dryRun) {
                wouldSend(name, c.cmd);
                continue;
            }
            const Sent sent = sendOne(name, c.cmd);
            if (sent == Sent::Lost) return 1;
            if (sent == Sent::Refused) continue;
            sentJson.push_back(name);
        }
        if (changedOnly && !unchangedJson.empty() && !JsonMode()) {
            Err() << "ternctl set: " << unchangedJson.size() << (unchangedJson.size() == 1 ? " setting was" : " settings were")
                  << " already as asked and not sent\n";
        }
        if (notAccepted > 0) {
            if (save) Err() << "ternctl set: not saved, as not every change was accepted\n";
            return 1;
        }
        if (save && !dryRun) {
            const auto status = cam.Exchange(*transfer::CommandFor(transfer::Control::Save, 0));
            if (!status || *status != link::kStatusAccepted) {
                Err() << "ternctl set: the save was not accepted: "
                      << (status ? "the camera " + StatusWords(*status) : camera::Printable(cam.Lost())) << "\n";
                return 1;
            }
        }
        return 0;
    }();
    return report(FinishTrace("set", trace, rc));
}

}  // namespace tern::cli
