// ternctl: the headless companion of the window.
//   ternctl probe [--port DEV|auto] [--port2 DEV] [--trace FILE]
//   ternctl ports [--probe] [--dev DIR]
//   ternctl simulate [--link PATH] [camera options]
//   ternctl backup / restore / show / diff (copy_commands.h)
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera/command_line.h"
#include "camera/options.h"
#ifndef _WIN32
#include "camera/pty_camera.h"  // the virtual camera is a Linux pseudo-terminal
#endif
#include "cli/console_host.h"
#include "cli/copy_commands.h"
#include "cli/many_cameras.h"
#include "cli/output.h"
#include "cli/ports_command.h"
#include "cli/probe.h"
#include "cli/settings_commands.h"
#include "link/comm.h"
#include "link/event_loop.h"
#include "link/version.h"
#include "link/trace.h"

namespace {

using namespace tern;

void Usage(std::ostream& out) {
    out << "usage: ternctl probe [--port DEV|auto] [--port2 DEV] [--trace FILE]\n"
           "         connect to the camera as the window does at start, read registers 1 and 64,\n"
           "         print its resolution and TV standard\n"
           "       ternctl ports [--probe] [--dev DIR]\n"
           "         list the serial ports (USB adapters with their serial/by-id names, then the\n"
           "         built-in ports) and whether you may open them; --probe also sends ENQ on each\n"
           "         and says which one a camera answers; --dev looks in DIR instead of /dev\n"
           "       ternctl simulate [--link PATH] [camera options]\n"
           "         run the virtual camera on a pseudo-terminal, print its device path,\n"
           "         serve until interrupted\n";
    cli::CopyUsage(out);
    out << "       ternctl get [--port DEV|auto] [--json] [NAME...]\n"
           "         read the camera's settings as the Setup1, Setup2 and Adjust pages do and print\n"
           "         them by name (NAME=VALUE); with NAMEs only the blocks that hold them are read\n"
           "       ternctl set [--port DEV|auto] [--save] [--service] [--dry-run] [--changed-only]\n"
           "                   NAME=VALUE... | --from FILE\n"
           "         send settings by name, each checked first; --from takes get's output;\n"
           "         --dry-run prints the frames instead; --changed-only sends only what differs\n"
           "       ternctl diff --settings A B | ternctl diff --settings FILE --port DEV\n"
           "         the settings that differ by name (name, first, second); A and B are get's output\n"
           "       ternctl describe [--json]\n"
           "         every setting: its type, the values it takes, service or not, its window page\n"
           "\n"
           "  backup, restore, get, set, diff and probe take --port more than once, or --port auto-all\n"
           "  (every port a camera answers on): each camera on its own link at the same time,\n"
           "  lines prefixed with the device, a summary table at the end. A file the command writes\n"
           "  (backup's FILE, --trace) then holds {port} or {n}, one file per camera; {port} is the\n"
           "  device's name made safe for a file name (/dev/ttyUSB0: ttyUSB0). The exit status is\n"
           "  0 only when every camera succeeded.\n"
           "\n"
           "  With --json (every command but simulate), stdout holds one JSON object a line for each camera,\n"
           "  also for those that failed, then a summary object; human text stays on stderr.\n"
           "  The objects are described in the JSON section of this page and in docs/ternctl-json.md.\n";
    out << "\n"
           "  Each command's --help lists its own options; -- ends the options (a file named -x.dat),\n"
           "  and --opt=value works wherever --opt value does.\n"
           "\n"
           "  --port DEV    device for COM1; without it: $TERN_PORT, else the port the window used\n"
           "                last, else the first serial port. auto: the first port that\n"
           "                \"ternctl ports\" lists (USB adapters first), and the second for COM2;\n"
           "                rfc2217://HOST:PORT or tcp://HOST:PORT: a terminal server's port\n"
           "  --port2 DEV   device for COM2 (default COM1's device)\n"
           "  --trace FILE  write every byte on the line to FILE, with a timestamp, and each\n"
           "                frame decoded in words (for a support request)\n"
           "  --link PATH   also make a symbolic link PATH to the camera's device\n"
           "  --version     print ternctl's version\n"
           "\ncamera options:\n"
        << camera::CameraOptionsUsage();
    cli::SettingsList(out);
    cli::ExitStatusUsage(out);
}

int Probe(const std::vector<std::string>& args) {
    cli::ProbeOptions options;
    if (const std::string error = cli::ParseProbeArgs(args, options); !error.empty()) {
        cli::Err() << "ternctl probe: " << error << "\n"
                  << "Run 'ternctl probe --help' for its options.\n";
        return 2;
    }
    if (!options.help.empty()) {
        cli::Out() << options.help;
        return 0;
    }
    cli::ArgumentsChecked();
    std::optional<std::string> port1, port2;
    if (!options.port1.empty()) port1 = options.port1;
    if (!options.port2.empty()) port2 = options.port2;
    if (std::string error; !cli::ResolveAutoPort(port1, port2, error, &cli::Err())) {
        cli::Err() << "ternctl probe: " << camera::Printable(error) << "\n";
        return 1;
    }
    std::unique_ptr<link::LineTrace> trace;
    if (!options.trace.empty()) {
        try {
            trace = std::make_unique<link::LineTrace>(options.trace);
        } catch (const std::exception& e) {
            cli::Err() << "ternctl probe: " << e.what() << "\n";
            return 1;
        }
    }
    link::EventLoop loop;
    link::TComm comm;
    comm.SetTrace(trace.get());
    // Only a device the user named (or --port auto chose) is opened: COM2
    // tries COM1's device again unless --port2 names another.
    if (port1 && !port2) port2 = port1;
    if (port1) comm.SetPortDevice(1, *port1);
    if (port2) comm.SetPortDevice(2, *port2);
    comm.SetReceiveNotifySize(7168);
    comm.SetSendNotifySize(8192);
    cli::ConsoleHost host(loop, comm);
    host.quiet = true;
    comm.SetNotifier(&loop);  // the port reports on this thread: no thread of its own
    comm.OnCommReceive = [&host](link::TComm& c, std::uint16_t n) { host.Link().OnCommReceive(c, n); };
    comm.OnCommLost = [&host](link::TComm&, const std::string& reason) {
        host.PostToEventThread([&host, reason] { host.ShowMessage("The serial device went away: " + reason, "Comm.ERR"); });
    };
    comm.OnCommError = [&host](link::TComm&, const std::string& message) {
        host.PostToEventThread([&host, message] { host.ShowMessage(message, "Comm.ERR"); });
    };
    host.Link().Trans_Create();
    // Ends with the answer, or when the link gives up (its reply watch bounds
    // the wait after the handshake); the deadline is only a backstop.
    loop.RunUntil([&] { return cli::ProbeOver(host); }, std::chrono::hours(24));
    host.Link().Close();
    const int rc = cli::ProbeReport(host, cli::Out(), cli::Err());
    if (std::string error; trace && !trace->Close(error)) {
        cli::Err() << "ternctl probe: " << error << "\n"
                  << "The trace is incomplete: free some space or choose another --trace file.\n";
        return rc == 0 ? 1 : rc;
    }
    return rc;
}

#ifdef _WIN32
int Simulate(const std::vector<std::string>&) {
    std::cerr << "ternctl simulate: the virtual camera runs on Linux only (it is a pseudo-terminal there).\n"
                 "On Windows, connect the camera itself and name its port: --port COM1\n";
    return 1;
}
#else
int Simulate(const std::vector<std::string>& args) {
    std::string linkPath;
    camera::CameraOptions options;
    CLI::App app("run the virtual camera on a pseudo-terminal, print its device path, serve until interrupted",
                 "ternctl simulate");
    camera::AddNamedValue(app, "--link", linkPath, "link", "PATH", "also make a symbolic link PATH to the camera's device");
    camera::AddCameraOptions(app, options);
    const camera::ParseOutcome outcome = camera::ParseCommandLine(app, args);
    if (outcome.help) {
        std::cout << app.help();
        return 0;
    }
    if (!outcome) {
        std::cerr << "ternctl simulate: " << outcome.error << "\n"
                  << "Run 'ternctl simulate --help' for its options.\n";
        return 2;
    }
    // Signals are taken by sigwait below, not by the camera's thread.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    camera::PtyCamera cam(options);
    try {
        cam.Start();
    } catch (const std::exception& e) {
        std::cerr << "ternctl simulate: cannot start the virtual camera: " << e.what() << "\n";
        return 1;
    }
    if (!linkPath.empty() && !cam.MakeLink(linkPath)) {
        std::cerr << "ternctl simulate: cannot make the link " << camera::Printable(linkPath) << "\n";
        return 1;
    }
    std::cout << cam.DevicePath() << std::endl;
    int sig = 0;
    sigwait(&set, &sig);
    cam.Stop();
    if (!linkPath.empty()) std::remove(linkPath.c_str());
    return 0;
}

#endif

using Runner = int (*)(const std::vector<std::string>&);

/// The commands that run on cameras or files (all but simulate).
std::optional<Runner> Command(const std::string& cmd) {
    if (cmd == "probe") return &Probe;
    if (cmd == "ports") return &cli::Ports;
    if (cmd == "backup") return &cli::Backup;
    if (cmd == "restore") return &cli::Restore;
    if (cmd == "show") return &cli::Show;
    if (cmd == "diff") return &cli::Diff;
    if (cmd == "get") return &cli::Get;
    if (cmd == "set") return &cli::Set;
    if (cmd == "describe") return &cli::Describe;
    return std::nullopt;
}

}  // namespace

// main is the platform's entry: main_posix.cpp, main_win32.cpp.
int TernctlMain(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        Usage(args.empty() ? std::cerr : std::cout);
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "--version") {
        std::cout << "ternctl " << link::kVersion << "\n";
        return 0;
    }
    const std::string cmd = args[0];
    args.erase(args.begin());
    if (cmd == "simulate") return Simulate(args);
    if (const auto command = Command(cmd)) {
        return cli::RunCommand(cmd, args, [](const std::string& c, const std::vector<std::string>& a) {
            const bool bySetting = c == "diff" && std::find(a.begin(), a.end(), "--settings") != a.end();
            return bySetting ? cli::DiffSettings(a) : (*Command(c))(a);
        });
    }
    std::cerr << "ternctl: unknown command '" << camera::Printable(cmd) << "'\n";
    Usage(std::cerr);
    return 2;
}
