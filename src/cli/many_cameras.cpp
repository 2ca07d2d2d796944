#include "cli/many_cameras.h"

#include <nlohmann/json.hpp>

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <sstream>
#include <streambuf>
#include <thread>

#include "camera/command_line.h"
#include "cli/output.h"
#include "cli/ports_command.h"
#include "link/comm.h"
#include "link/ports.h"

namespace tern::cli {

namespace {

/// Thrown by ArgumentsChecked in the check that precedes a run on several cameras.
struct ChecksPassed {};
thread_local bool tlsChecking = false;

std::mutex& OutputLock() {
    static std::mutex m;
    return m;
}

/// Cuts what is written into lines and hands each to `sink`.
class LineBuf : public std::streambuf {
public:
    explicit LineBuf(std::function<void(const std::string&)> sink) : sink_(std::move(sink)) {}
    ~LineBuf() override { Finish(); }
    void Finish() {
        if (!line_.empty()) sink_(line_);
        line_.clear();
    }

protected:
    int_type overflow(int_type c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        if (c == '\n') {
            sink_(line_);
            line_.clear();
        } else {
            line_.push_back(static_cast<char>(c));
        }
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        for (std::streamsize i = 0; i < n; ++i) overflow(static_cast<unsigned char>(s[i]));
        return n;
    }

private:
    std::function<void(const std::string&)> sink_;
    std::string line_;
};

bool IsOption(const std::string& a, const std::string& name, std::string* value) {
    if (a.rfind(name + "=", 0) == 0) {
        if (value != nullptr) *value = a.substr(name.size() + 1);
        return true;
    }
    return false;
}

/// Every port of this machine that a camera answers ENQ on.
std::vector<std::string> AnsweringPorts() {
    const std::vector<link::SerialPort> ports = link::ListSerialPorts("/dev");
    std::vector<std::string> found(ports.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < ports.size(); ++i) threads.emplace_back([&, i] { found[i] = ProbeForCamera(ports[i].device); });
    for (std::thread& t : threads) t.join();
    std::vector<std::string> devices;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (found[i] == "camera answers") devices.push_back(ports[i].device);
    }
    return devices;
}

void Replace(std::string& s, const std::string& what, const std::string& with) {
    for (std::size_t at = 0; (at = s.find(what, at)) != std::string::npos; at += with.size()) s.replace(at, what.size(), with);
}

bool HasPlaceholder(const std::string& s) { return s.find("{port}") != std::string::npos || s.find("{n}") != std::string::npos; }

/// The files a run writes, by the arguments that name them: --trace, and
/// backup's FILE.
std::vector<std::string> WrittenFiles(const std::string& cmd, const std::vector<std::string>& args) {
    std::vector<std::string> files;
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string value;
        if (options && a == "--") {
            options = false;
        } else if (options && a == "--trace" && i + 1 < args.size()) {
            files.push_back(args[++i]);
        } else if (options && IsOption(a, "--trace", &value)) {
            files.push_back(value);
        } else if (options && (a == "--port" || a == "--port2" || a == "--from") && i + 1 < args.size()) {
            ++i;
        } else if ((!options || a.empty() || a[0] != '-') && cmd == "backup") {
            files.push_back(a);
        }
    }
    return files;
}

bool SamePath(const std::string& a, const std::string& b) {
    namespace fs = std::filesystem;
    std::error_code ea, eb;
    if (fs::exists(a, ea) && fs::exists(b, eb)) return fs::equivalent(a, b, ea);
    return fs::weakly_canonical(a, ea) == fs::weakly_canonical(b, eb);
}

/// One run's output as the JSON object of its camera.
nlohmann::ordered_json CameraObject(const std::string& cmd, const std::optional<std::string>& device, int rc,
                                    const std::string& out, const std::vector<std::string>& errLines) {
    nlohmann::ordered_json j;
    j["schema"] = kJsonSchema;
    j["type"] = "camera";
    j["command"] = cmd;
    j["device"] = device ? nlohmann::ordered_json(*device) : nlohmann::ordered_json(nullptr);
    j["result"] = rc == 0 ? "ok" : (cmd == "diff" && rc == 1) ? "differ" : rc == 2 ? "usage error" : "failed";
    j["exit_status"] = rc;
    nlohmann::ordered_json error = nullptr;
    if (rc != 0 && !(cmd == "diff" && rc == 1)) {
        const std::string prefix = "ternctl " + cmd + ": ";
        for (const std::string& line : errLines) {
            if (line.rfind(prefix, 0) == 0) {
                error = line.substr(prefix.size());
                break;
            }
        }
        if (error.is_null() && !errLines.empty()) error = errLines.front();
    }
    j["error"] = error;
    j["messages"] = errLines;
    const nlohmann::ordered_json fields = nlohmann::ordered_json::parse(out, nullptr, false);
    if (!fields.is_discarded() && fields.is_object()) {
        for (const auto& [key, value] : fields.items()) {
            if (!j.contains(key)) j[key] = value;
        }
    } else if (out.find_first_not_of(" \r\n") != std::string::npos) {
        nlohmann::ordered_json lines = nlohmann::ordered_json::array();
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        j["output"] = lines;
    }
    return j;
}

nlohmann::ordered_json SummaryObject(const std::string& cmd, const std::vector<CameraRun>& runs, int rc) {
    nlohmann::ordered_json j;
    j["schema"] = kJsonSchema;
    j["type"] = "summary";
    j["command"] = cmd;
    j["cameras"] = runs.size();
    j["ok"] = std::count_if(runs.begin(), runs.end(), [](const CameraRun& r) { return r.exitCode == 0; });
    j["failed"] = std::count_if(runs.begin(), runs.end(), [](const CameraRun& r) { return r.exitCode != 0; });
    j["exit_status"] = rc;
    return j;
}

/// One camera's run on this thread: its lines to the console (after its
/// device when `prefix`), and in JSON its object.
struct Captured {
    int rc = 1;
    std::string out;
    std::vector<std::string> err;
};

Captured RunCaptured(const std::string& cmd, const std::vector<std::string>& args, const CommandRunner& run,
                     const std::string& prefix, bool json) {
    Captured c;
    LineBuf outBuf([&](const std::string& line) {
        if (json) {
            c.out += line + "\n";
            return;
        }
        const std::lock_guard<std::mutex> lock(OutputLock());
        std::cout << prefix << line << std::endl;
    });
    LineBuf errBuf([&](const std::string& line) {
        c.err.push_back(line);
        const std::lock_guard<std::mutex> lock(OutputLock());
        std::cerr << prefix << line << std::endl;
    });
    std::ostream out(&outBuf), err(&errBuf);
    {
        const OutputRedirect redirect(out, err, json);
        try {
            c.rc = run(cmd, args);
        } catch (const std::exception& e) {
            err << "ternctl " << cmd << ": " << e.what() << "\n";
            c.rc = 1;
        }
    }
    outBuf.Finish();
    errBuf.Finish();
    return c;
}

void PrintJson(const nlohmann::ordered_json& j) {
    const std::lock_guard<std::mutex> lock(OutputLock());
    std::cout << j.dump() << std::endl;
}

bool TakesPort(const std::string& cmd) {
    return cmd == "backup" || cmd == "restore" || cmd == "get" || cmd == "set" || cmd == "diff" || cmd == "probe" ||
           cmd == "describe";
}

}  // namespace

void ArgumentsChecked() {
    if (tlsChecking) throw ChecksPassed{};
}

std::optional<std::vector<std::string>> PortsNamed(const std::vector<std::string>& args, std::string& error) {
    // A --port with another option after it takes no device: left to run,
    // it would take that option for the device.
    std::vector<std::string> ports;
    bool empty = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") break;
        std::string value;
        if (args[i] == "--port" && i + 1 < args.size()) {
            if (!args[i + 1].empty() && args[i + 1][0] == '-') {
                error = "--port needs a device after it (--port /dev/ttyUSB0, --port COM3, --port auto), not " + args[i + 1];
                return std::nullopt;
            }
            empty = empty || args[i + 1].empty();
            if (!args[i + 1].empty()) ports.push_back(args[i + 1]);
            ++i;
        } else if (IsOption(args[i], "--port", &value)) {
            empty = empty || value.empty();
            if (!value.empty()) ports.push_back(value);
        }
    }
    // An empty device alone is the command's to refuse; beside others it would be lost.
    if (empty && !ports.empty()) {
        error = "--port needs a device after it (--port /dev/ttyUSB0, --port COM3, --port auto); one is empty";
        return std::nullopt;
    }
    std::vector<std::string> devices;
    for (const std::string& p : ports) {
        if (p != "auto-all") {
            devices.push_back(p);
            continue;
        }
        for (const std::string& d : AnsweringPorts()) devices.push_back(d);
    }
    return devices;
}

std::string FileSafeName(const std::string& device) {
    std::string name = device;
    for (const char* prefix : {"/dev/", "\\\\.\\"}) {
        if (name.rfind(prefix, 0) == 0) {
            name.erase(0, std::char_traits<char>::length(prefix));
            break;
        }
    }
    std::string out;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || c == '.' || c == '-') {
            out.push_back(c);
        } else if (c == '/') {
            out.push_back('_');
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", u);
            out += hex;
        }
    }
    return out;
}

std::vector<std::string> ArgsForCamera(const std::vector<std::string>& args, const std::string& device, int n) {
    const std::string name = FileSafeName(device);
    // COM2 is the same device (only a named device is opened); "auto" chooses both itself.
    std::vector<std::string> out = {"--port", device};
    if (device != "auto") out.insert(out.end(), {"--port2", device});
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") options = false;
        if (options && (a == "--port" || a == "--port2") && i + 1 < args.size()) {
            ++i;
            continue;
        }
        if (options && (IsOption(a, "--port", nullptr) || IsOption(a, "--port2", nullptr))) continue;
        std::string b = a;
        Replace(b, "{port}", name);
        Replace(b, "{n}", std::to_string(n));
        out.push_back(b);
    }
    return out;
}

std::string RememberedPort(const std::string& iniPath) {
#ifdef _WIN32
    if (iniPath.empty()) {
        char value[1024];
        DWORD size = sizeof value;
        if (RegGetValueA(HKEY_CURRENT_USER, "Software\\TernAB\\TernAB\\port", "last", RRF_RT_REG_SZ, nullptr, value, &size) !=
            ERROR_SUCCESS) {
            return {};
        }
        return value;
    }
    const std::string path = iniPath;
#else
    std::string path = iniPath;
    if (path.empty()) {
        const char* config = std::getenv("XDG_CONFIG_HOME");
        const char* home = std::getenv("HOME");
        if (config != nullptr && *config != '\0') {
            path = std::string(config) + "/TernAB/TernAB.conf";
        } else if (home != nullptr && *home != '\0') {
            path = std::string(home) + "/.config/TernAB/TernAB.conf";
        } else {
            return {};
        }
    }
#endif
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec) || std::filesystem::file_size(path, ec) > 1024 * 1024) return {};
    std::ifstream in(path, std::ios::binary);
    std::string section;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') {
            section = line;
            continue;
        }
        if (section != "[port]" || line.rfind("last=", 0) != 0) continue;
        std::string value = line.substr(5);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        std::string plain;  // the settings file's escapes: \\ and \"
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            plain.push_back(value[i]);
        }
        return plain;
    }
    return {};
}

std::string DefaultPort() {
    if (const char* env = std::getenv("TERN_PORT"); env != nullptr && *env != '\0') return env;
    if (std::string remembered = RememberedPort(); !remembered.empty()) return remembered;
    const std::vector<link::SerialPort> ports = link::ListSerialPorts();
    if (!ports.empty()) return ports.front().device;
    return link::SystemPortDevice(1);
}

void PrintSummary(const std::vector<CameraRun>& runs, std::ostream& out) {
    std::size_t width = 6;
    for (const CameraRun& r : runs) width = std::max(width, camera::Printable(r.device).size());
    out << std::left << std::setw(static_cast<int>(width + 2)) << "device" << std::setw(18) << "result" << "time\n";
    for (const CameraRun& r : runs) {
        const std::string result = r.exitCode == 0 ? "ok" : r.exitCode < 0 ? "failed (ended by a signal)"
                                                                          : "failed (exit " + std::to_string(r.exitCode) + ")";
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f s", static_cast<double>(r.time.count()) / 1000.0);
        out << std::setw(static_cast<int>(width + 2)) << camera::Printable(r.device) << std::setw(18) << result << seconds
            << "\n";
    }
}

int RunCommand(const std::string& cmd, const std::vector<std::string>& given, const CommandRunner& run) {
    bool json = false, options = true;
    std::vector<std::string> args;
    for (const std::string& a : given) {
        if (options && (a == "--help" || a == "-h")) return run(cmd, given);
        if (options && a == "--") options = false;
        if (options && a == "--json") {
            json = true;
            continue;
        }
        args.push_back(a);
    }
    const auto usageError = [&](const std::string& what) {
        std::cerr << "ternctl " << cmd << ": " << camera::Printable(what) << "\n"
                  << "Run 'ternctl " << cmd << " --help' for its options.\n";
        if (json) PrintJson(SummaryObject(cmd, {}, 2));
        return 2;
    };
    std::vector<std::string> devices;
    if (TakesPort(cmd)) {
        std::string error;
        const auto named = PortsNamed(args, error);
        if (!named) return usageError(error);
        devices = *named;
        const bool autoAll = std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "auto-all" || a == "--port=auto-all"; });
        if (autoAll && devices.empty()) {
            std::cerr << "ternctl " << cmd << ": --port auto-all: no camera answered on any serial port\n"
                      << "'ternctl ports --probe' shows the ports and what answers on each.\n";
            if (json) PrintJson(SummaryObject(cmd, {}, 1));
            return 1;
        }
        // diff without --port compares two files; describe without it reads no camera.
        if (devices.empty() && cmd != "diff" && cmd != "describe") {
            devices.push_back(DefaultPort());
            args.insert(args.begin(), {"--port", devices.front()});
        }
        for (std::size_t i = 0; i < devices.size(); ++i) {
            for (std::size_t k = 0; k < i; ++k) {
                if (devices[i] == devices[k] && devices[i] != "auto") return usageError("--port names " + devices[i] + " twice");
            }
        }
    }

    if (devices.size() <= 1) {
        const std::optional<std::string> device = devices.empty() ? std::nullopt : std::optional<std::string>(devices.front());
        if (device) {
            bool opts = true;
            for (std::size_t i = 0; i < args.size(); ++i) {
                if (opts && args[i] == "--") opts = false;
                if (opts && (args[i] == "--port" || args[i] == "--port2")) {
                    ++i;
                    continue;
                }
                Replace(args[i], "{port}", FileSafeName(*device));
                Replace(args[i], "{n}", "1");
            }
        }
        if (!json) return run(cmd, args);
        const Captured c = RunCaptured(cmd, args, run, "", true);
        CameraRun r{device.value_or(""), c.rc, {}};
        PrintJson(CameraObject(cmd, device, c.rc, c.out, c.err));
        PrintJson(SummaryObject(cmd, {r}, c.rc));
        return c.rc;
    }

    // Several cameras: what each one writes is its own file.
    std::vector<std::vector<std::string>> perCamera;
    for (std::size_t i = 0; i < devices.size(); ++i) perCamera.push_back(ArgsForCamera(args, devices[i], static_cast<int>(i + 1)));
    for (const std::string& f : WrittenFiles(cmd, args)) {
        if (!HasPlaceholder(f)) {
            return usageError("with more than one camera, " + f +
                              " would be written by each: put {port} or {n} in its name (e.g. cam-{port}.dat), "
                              "one file per camera");
        }
    }
    std::vector<std::vector<std::string>> files;
    for (std::size_t i = 0; i < devices.size(); ++i) files.push_back(WrittenFiles(cmd, perCamera[i]));
    for (std::size_t i = 0; i < devices.size(); ++i) {
        for (std::size_t k = 0; k < i; ++k) {
            for (std::size_t f = 0; f < files[i].size() && f < files[k].size(); ++f) {
                if (SamePath(files[i][f], files[k][f])) {
                    return usageError(devices[k] + " and " + devices[i] + " would both write " + files[i][f] +
                                      ": name the files with {n}");
                }
            }
        }
    }
    // The arguments are checked once, on the first camera's: a usage error is said once.
    {
        Captured check;
        LineBuf outBuf([&](const std::string& line) { check.out += line + "\n"; });
        LineBuf errBuf([&](const std::string& line) { check.err.push_back(line); });
        std::ostream out(&outBuf), err(&errBuf);
        bool passed = false;
        {
            const OutputRedirect redirect(out, err, json);
            tlsChecking = true;
            try {
                check.rc = run(cmd, perCamera.front());
            } catch (const ChecksPassed&) {
                passed = true;
            }
            tlsChecking = false;
        }
        outBuf.Finish();
        errBuf.Finish();
        if (!passed) {
            std::cout << check.out;
            for (const std::string& line : check.err) std::cerr << line << "\n";
            if (json) PrintJson(SummaryObject(cmd, {}, check.rc));
            return check.rc;
        }
    }

    using Clock = std::chrono::steady_clock;
    std::vector<CameraRun> runs(devices.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        runs[i].device = devices[i];
        threads.emplace_back([&, i] {
            const auto start = Clock::now();
            const Captured c = RunCaptured(cmd, perCamera[i], run, camera::Printable(devices[i]) + ": ", json);
            runs[i].exitCode = c.rc;
            runs[i].time = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
            if (json) PrintJson(CameraObject(cmd, devices[i], c.rc, c.out, c.err));
        });
    }
    for (std::thread& t : threads) t.join();
    const bool allOk = std::all_of(runs.begin(), runs.end(), [](const CameraRun& r) { return r.exitCode == 0; });
    PrintSummary(runs, std::cerr);
    const int rc = allOk ? 0 : 1;
    if (json) PrintJson(SummaryObject(cmd, runs, rc));
    return rc;
}

}  // namespace tern::cli
