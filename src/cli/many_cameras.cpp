#include "cli/many_cameras.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <thread>

#include "camera/command_line.h"
#include "cli/ports_command.h"
#include "link/ports.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace tern::cli {

namespace {

bool IsPortOption(const std::string& a, const char* name, std::string* value) {
    const std::string n(name);
    if (a.rfind(n + "=", 0) == 0) {
        if (value != nullptr) *value = a.substr(n.size() + 1);
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

/// A child's output, cut into lines as it comes.
struct Stream {
    int fd = -1;
    std::string pending;
    bool toErr = false;
};

}  // namespace

std::vector<std::string> PortsNamed(const std::vector<std::string>& args) {
    std::vector<std::string> ports;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") break;
        std::string value;
        if (args[i] == "--port" && i + 1 < args.size()) {
            ports.push_back(args[++i]);
        } else if (IsPortOption(args[i], "--port", &value)) {
            ports.push_back(value);
        }
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

std::vector<std::string> ArgsForCamera(const std::vector<std::string>& args, const std::string& device, int n) {
    std::string name = device.rfind("/dev/", 0) == 0 ? device.substr(5) : device;
    for (char& c : name) {
        if (c == '/' || static_cast<unsigned char>(c) < 0x20) c = '-';
    }
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
        if (options && (IsPortOption(a, "--port", nullptr) || IsPortOption(a, "--port2", nullptr))) continue;
        std::string b = a;
        Replace(b, "{port}", name);
        Replace(b, "{n}", std::to_string(n));
        out.push_back(b);
    }
    return out;
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

#ifdef _WIN32
int RunOnEach(const std::string&, const std::string& cmd, const std::vector<std::string>&, const std::vector<std::string>&,
              bool) {
    std::cerr << "ternctl " << cmd << ": many cameras at once run on Linux only for now\n"
              << "Run the command once for each camera, with one --port each.\n";
    return 1;
}
#else
int RunOnEach(const std::string& program, const std::string& cmd, const std::vector<std::string>& args,
              const std::vector<std::string>& devices, bool prefixOut) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    std::vector<CameraRun> runs(devices.size());
    std::vector<pid_t> pids(devices.size(), -1);
    std::vector<Stream> streams;
    std::vector<std::size_t> owner;  // the camera of each stream
    std::vector<int> open(devices.size(), 0);  // each camera's streams not yet at their end
    for (std::size_t i = 0; i < devices.size(); ++i) {
        runs[i].device = devices[i];
        std::vector<std::string> argv = {program, cmd};
        for (std::string& a : ArgsForCamera(args, devices[i], static_cast<int>(i + 1))) argv.push_back(std::move(a));
        std::vector<char*> cargv;
        for (std::string& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            std::cerr << "ternctl " << cmd << ": cannot start the run for " << camera::Printable(devices[i]) << "\n";
            continue;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        const int rc = ::posix_spawn(&pids[i], program.c_str(), &actions, nullptr, cargv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        if (rc != 0) {
            pids[i] = -1;
            ::close(out[0]);
            ::close(err[0]);
            std::cerr << "ternctl " << cmd << ": cannot start the run for " << camera::Printable(devices[i]) << "\n";
            continue;
        }
        streams.push_back({out[0], {}, false});
        owner.push_back(i);
        streams.push_back({err[0], {}, true});
        owner.push_back(i);
        open[i] = 2;
    }
    const auto emit = [&](const Stream& s, std::size_t camera, const std::string& line) {
        std::ostream& to = s.toErr ? std::cerr : std::cout;
        if (s.toErr || prefixOut) to << camera::Printable(devices[camera]) << ": ";
        to << line << "\n";
        to.flush();
    };
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<std::size_t> which;
        for (std::size_t k = 0; k < streams.size(); ++k) {
            if (streams[k].fd < 0) continue;
            fds.push_back({streams[k].fd, POLLIN, 0});
            which.push_back(k);
        }
        if (fds.empty()) break;
        if (::poll(fds.data(), fds.size(), -1) < 0) continue;
        for (std::size_t f = 0; f < fds.size(); ++f) {
            if (fds[f].revents == 0) continue;
            Stream& s = streams[which[f]];
            char buf[4096];
            const ssize_t got = ::read(s.fd, buf, sizeof buf);
            if (got < 0 && errno == EINTR) continue;
            if (got > 0) {
                s.pending.append(buf, static_cast<std::size_t>(got));
                for (std::size_t nl; (nl = s.pending.find('\n')) != std::string::npos;) {
                    emit(s, owner[which[f]], s.pending.substr(0, nl));
                    s.pending.erase(0, nl + 1);
                }
                continue;
            }
            if (!s.pending.empty()) emit(s, owner[which[f]], s.pending);
            ::close(s.fd);
            s.fd = -1;
            // Both streams at their end: the run is over (its exit follows at once).
            if (--open[owner[which[f]]] == 0) {
                runs[owner[which[f]]].time = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
            }
        }
    }
    bool allOk = true;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (pids[i] < 0) {
            allOk = false;
            continue;
        }
        int status = 0;
        while (::waitpid(pids[i], &status, 0) < 0 && errno == EINTR) {
        }
        runs[i].exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        allOk = allOk && runs[i].exitCode == 0;
    }
    PrintSummary(runs, std::cerr);
    return allOk ? 0 : 1;
}
#endif

}  // namespace tern::cli
