#include "cli/settings_commands.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

#include "camera/command_line.h"
#include "cli/console_host.h"
#include "cli/ports_command.h"
#include "cli/probe.h"
#include "link/comm.h"
#include "link/event_loop.h"
#include "link/protocol.h"
#include "link/trace.h"
#include "link/version.h"
#include "transfer/Settings.h"

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
        lastStatus = reply.Status();
        if (!reply.Accepted()) refusals.push_back({last, reply.Status()});
        ++replies;
    }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        ConsoleHost::ShowMessage(text, caption);
        if (text == link::kMsgNotConnected) gaveUp = true;
    }

    SettingValues values;
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
        comm_.OnCommReceive = [this](link::TComm& c, std::uint16_t n) { host_.Link().OnCommReceiveWatchThread(c, n); };
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
            if (caption.empty()) {  // the open error: its first line
                error += " (" + text.substr(0, text.find('\n')) + ")";
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
        std::cout << app.help();
        SettingsList(std::cout);
        return 0;
    }
    if (!outcome) {
        std::cerr << "ternctl " << cmd << ": " << outcome.error << "\n"
                  << "Run 'ternctl " << cmd << " --help' for its options.\n";
        return 2;
    }
    return std::nullopt;
}

/// --port auto resolved and the trace opened; false after the message.
bool OpenLine(const std::string& cmd, LineOptions& o, std::unique_ptr<link::LineTrace>& trace) {
    std::optional<std::string> p1, p2;
    if (!o.port.empty()) p1 = o.port;
    if (!o.port2.empty()) p2 = o.port2;
    std::string error;
    if (!ResolveAutoPort(p1, p2, error, nullptr)) {
        std::cerr << "ternctl " << cmd << ": " << camera::Printable(error) << "\n";
        return false;
    }
    o.port = p1.value_or("");
    o.port2 = p2.value_or("");
    if (o.trace.empty()) return true;
    try {
        trace = std::make_unique<link::LineTrace>(o.trace);
    } catch (const std::exception& e) {
        std::cerr << "ternctl " << cmd << ": " << camera::Printable(e.what()) << "\n";
        return false;
    }
    return true;
}

/// The trace written out once the link is closed; a trace that could not be
/// written fails the command.
int FinishTrace(const std::string& cmd, std::unique_ptr<link::LineTrace>& trace, int rc) {
    if (std::string error; trace && !trace->Close(error)) {
        std::cerr << "ternctl " << cmd << ": " << camera::Printable(error) << "\n"
                  << "The trace is incomplete: free some space or choose another --trace file.\n";
        return rc == 0 ? 1 : rc;
    }
    return rc;
}

/// Which read a setting's value comes from, for the words of a refusal.
bool ReadGives(const link::Payload& read, const Setting& s) {
    if (read[2] == link::kItemBlock) return read[3] == s.block;
    if (s.block >= 0) return false;
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
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    if (text.find_first_not_of(" \t\r\n") != std::string::npos && text[text.find_first_not_of(" \t\r\n")] == '{') {
        const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
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

}  // namespace

void SettingsList(std::ostream& out) {
    out << "\nSettings (NAME=VALUE, as the window shows them):\n";
    for (const Setting& s : transfer::Settings()) {
        std::string name(s.name);
        if (s.service) name += " (service)";
        out << "  " << name << std::string(name.size() < 24 ? 24 - name.size() : 1, ' ') << transfer::AllowedValues(s) << "\n";
    }
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
    app.add_option("NAME", names, "only these settings")->option_text(" ");
    AddPortHelp(app);
    if (const auto done = ParseLine(app, args, "get")) return *done;
    for (const std::string& n : names) {
        if (transfer::SettingByName(n) == nullptr) {
            std::cerr << "ternctl get: unknown setting '" << camera::Printable(n) << "'\n"
                      << "'ternctl get --help' lists the names.\n";
            return 2;
        }
    }
    std::unique_ptr<link::LineTrace> trace;
    if (!OpenLine("get", o, trace)) return 1;
    const int rc = [&] {
        Camera cam(o.port, o.port2, trace.get(), transfer::SettingReads());
        std::string error;
        if (!cam.Connect(error)) {
            std::cerr << "ternctl get: " << camera::Printable(error) << "\n";
            return 1;
        }
        const SettingsHost& host = cam.Host();
        nlohmann::ordered_json settings = nlohmann::ordered_json::object(), unread = nlohmann::ordered_json::object();
        int missing = 0;
        for (const Setting& s : transfer::Settings()) {
            if (!names.empty() && std::find(names.begin(), names.end(), s.name) == names.end()) continue;
            const std::string name(s.name);
            if (const auto at = host.values.find(name); at != host.values.end()) {
                if (json) {
                    settings[name] = JsonValue(s, at->second);
                } else {
                    std::cout << name << "=" << at->second << "\n";
                }
                continue;
            }
            ++missing;
            std::string why = "no answer";
            for (const Refusal& r : host.refusals) {
                if (ReadGives(r.command, s)) why = "the camera " + StatusWords(r.status);
            }
            if (json) unread[name] = why;
            std::cerr << "ternctl get: " << name << " was not read: " << why << "\n";
        }
        if (json) {
            nlohmann::ordered_json j;
            j["device"] = o.port.empty() ? link::DefaultPortName(1) : o.port;
            j["tool"] = std::string("ternctl ") + link::kVersion;
            j["settings"] = settings;
            j["unread"] = unread;
            std::cout << j.dump() << "\n";
        }
        return missing == 0 ? 0 : 1;
    }();
    return FinishTrace("get", trace, rc);
}

int Set(const std::vector<std::string>& args) {
    LineOptions o;
    std::string from;
    bool save = false, service = false;
    std::vector<std::string> pairs;
    CLI::App app("send settings to the camera by name, each as the window sends it, one exchange at a time; every "
                 "value is checked before anything is sent",
                 "ternctl set");
    AddLineOptions(app, o.port, o.port2, o.trace);
    camera::AddNamedValue(app, "--from", from, "file", "FILE", "the settings of FILE: the output of 'ternctl get', plain or --json");
    app.add_flag("--save", save, "end with the camera's save command (as SAVE does), once every change was accepted");
    app.add_flag("--service", service, "also take the settings the window shows only in the service modes");
    app.add_option("NAME=VALUE", pairs, "the settings to change")->option_text(" ");
    AddPortHelp(app);
    if (const auto done = ParseLine(app, args, "set")) return *done;

    std::vector<std::pair<std::string, std::string>> wanted;
    for (const std::string& p : pairs) {
        const std::size_t eq = p.find('=');
        if (eq == std::string::npos) {
            std::cerr << "ternctl set: '" << camera::Printable(p) << "' is not NAME=VALUE\n";
            return 2;
        }
        wanted.emplace_back(p.substr(0, eq), p.substr(eq + 1));
    }
    std::vector<std::string> skipped;
    if (!from.empty()) {
        std::string error;
        std::vector<std::pair<std::string, std::string>> read;
        if (!ReadSettingsText(from, read, error)) {
            std::cerr << "ternctl set: " << camera::Printable(error) << "\n";
            return 1;
        }
        // In the pages' order, whatever the file's: a JSON object's keys come sorted.
        const auto rank = [](const std::string& name) {
            const Setting* s = transfer::SettingByName(name);
            return s == nullptr ? transfer::Settings().size() : static_cast<std::size_t>(s - transfer::Settings().data());
        };
        std::stable_sort(read.begin(), read.end(), [&](const auto& x, const auto& y) { return rank(x.first) < rank(y.first); });
        for (auto& [name, value] : read) {
            const Setting* s = transfer::SettingByName(name);
            if (s != nullptr && s->service && !service) {
                skipped.push_back(name);
                continue;
            }
            wanted.emplace_back(name, value);
        }
    }
    if (wanted.empty()) {
        std::cerr << "ternctl set: no settings to send: give NAME=VALUE or --from FILE\n";
        return 2;
    }
    // Every value is checked before the first byte goes out. A grid's single
    // cells (BLCCheck07=on) change the grid as the camera holds it: its block
    // is read first, and the cells go out together as one grid command.
    struct Change {
        const Setting* s;
        transfer::SettingCommand cmd;
        std::vector<std::pair<int, bool>> cells;  // cell k (1..48), on
        std::string value;
    };
    std::vector<Change> changes;
    std::vector<transfer::ChainRequest> gridReads;
    bool bad = false;
    for (const auto& [name, value] : wanted) {
        const Setting* s = transfer::SettingByName(name);
        const auto control = transfer::ControlByName(name);
        const bool cell = s == nullptr && control &&
                          (*control == transfer::Control::BLCArea || *control == transfer::Control::MoArea);
        std::string error;
        if (cell) {
            s = transfer::SettingByName(*control == transfer::Control::BLCArea ? "BLCCheck" : "MoCheck");
            if (value != "on" && value != "off") {
                error = name + ": '" + value + "' is not a value it takes; allowed: on, off";
            } else {
                const int k = std::stoi(name.substr(s->name.size()));
                auto at = std::find_if(changes.begin(), changes.end(), [&](const Change& c) { return c.s == s && !c.cells.empty(); });
                if (at == changes.end()) {
                    changes.push_back({s, {}, {}, {}});
                    at = changes.end() - 1;
                    const transfer::SettingCommand read = transfer::BlockReadCommand(s->block);
                    gridReads.push_back({read.payload, read.n});
                }
                at->cells.emplace_back(k, value == "on");
                continue;
            }
        } else if (s == nullptr) {
            error = "unknown setting '" + name + "'; 'ternctl get --help' lists the names";
        } else if (s->service && !service) {
            error = name + " is shown only in the service modes: add --service to send it";
        } else if (const auto cmd = transfer::SetCommand(*s, value, error)) {
            changes.push_back({s, *cmd, {}, value});
            continue;
        }
        std::cerr << "ternctl set: " << camera::Printable(error) << "\n";
        bad = true;
    }
    if (bad) {
        std::cerr << "Nothing was sent.\n";
        return 2;
    }
    if (!skipped.empty()) {
        std::string list;
        for (const std::string& n : skipped) list += (list.empty() ? "" : ", ") + n;
        std::cerr << "ternctl set: left out the service settings " << list << " (add --service to send them)\n";
    }

    std::unique_ptr<link::LineTrace> trace;
    if (!OpenLine("set", o, trace)) return 1;
    const int rc = [&] {
        Camera cam(o.port, o.port2, trace.get(), gridReads);
        std::string error;
        if (!cam.Connect(error)) {
            std::cerr << "ternctl set: " << camera::Printable(error) << "\n";
            return 1;
        }
        std::map<std::string, std::string> grids = cam.Host().values;  // as read, then as sent
        int notAccepted = 0;
        for (Change& c : changes) {
            const std::string name(c.s->name);
            if (!c.cells.empty()) {
                std::string& cells = grids[name];
                if (cells.size() != 48) {
                    std::cerr << "ternctl set: " << name << ": the camera did not answer the read of its cells, so none was changed\n";
                    ++notAccepted;
                    continue;
                }
                for (const auto& [k, on] : c.cells) cells[static_cast<std::size_t>(k - 1)] = on ? '1' : '0';
                c.cmd = *transfer::SetCommand(*c.s, cells, error);
            } else if (c.s->kind == SettingKind::Grid) {
                grids[name] = c.value;
            }
            const auto status = cam.Exchange(c.cmd);
            if (!status) {
                std::cerr << "ternctl set: " << name << ": " << camera::Printable(cam.Lost()) << "\n";
                return 1;
            }
            if (*status != link::kStatusAccepted) {
                std::cerr << "ternctl set: " << name << ": the camera " << StatusWords(*status) << "\n";
                ++notAccepted;
            }
        }
        if (notAccepted > 0) {
            if (save) std::cerr << "ternctl set: not saved, as not every change was accepted\n";
            return 1;
        }
        if (save) {
            const auto status = cam.Exchange(*transfer::CommandFor(transfer::Control::Save, 0));
            if (!status || *status != link::kStatusAccepted) {
                std::cerr << "ternctl set: the save was not accepted: "
                          << (status ? "the camera " + StatusWords(*status) : camera::Printable(cam.Lost())) << "\n";
                return 1;
            }
        }
        return 0;
    }();
    return FinishTrace("set", trace, rc);
}

}  // namespace tern::cli
