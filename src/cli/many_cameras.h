// One command on one camera or on many at once: "--port" given more than
// once, or "--port auto-all" (every port a camera answers ENQ on). Each
// camera runs on its own link in a thread of this process, all at the same
// time; their lines are printed as they come, each after its device, and a
// summary table follows. One camera's failure never stops the others.
//
// With --json every run prints one JSON object per camera (also for the
// ones that failed) and a final summary object; human text stays on stderr.
// The objects are described in docs/ternctl-json.md.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tern::cli {

/// The version of the JSON objects' schema.
inline constexpr int kJsonSchema = 1;

/// Runs one command on the arguments given: its exit status.
using CommandRunner = std::function<int(const std::string& cmd, const std::vector<std::string>& args)>;

/// The devices the command line's --port options name, in order (before
/// "--"); "auto-all" stands for every port that answers ENQ. Nothing, with
/// the reason in `error`, when a --port has no device after it.
std::optional<std::vector<std::string>> PortsNamed(const std::vector<std::string>& args, std::string& error);

/// A device's name as part of a file name: "/dev/ttyUSB0" → "ttyUSB0",
/// "/dev/serial/by-id/x" → "serial_by-id_x", "rfc2217://h:4001" →
/// "rfc2217%3A__h%3A4001". Letters, digits, '.' and '-' stay, '/' becomes '_',
/// any other byte %XX; so two devices never share a name (except a device
/// and the same name under /dev/, which the file check then refuses).
std::string FileSafeName(const std::string& device);

/// `args` for the run on camera `n` (from 1) at `device`: the --port and
/// --port2 options replaced by that device, and "{port}" and "{n}" in the
/// other arguments replaced by the device's file-safe name and the number.
std::vector<std::string> ArgsForCamera(const std::vector<std::string>& args, const std::string& device, int n);

/// The port used when none is named: $TERN_PORT, else the port the window
/// remembered, else the first serial port of this machine (else COM1's).
std::string DefaultPort();
/// The window's remembered port from its settings file (`iniPath`, or the
/// platform's place when empty); empty when it has none.
std::string RememberedPort(const std::string& iniPath = "");

/// The outcome of one camera's run.
struct CameraRun {
    std::string device;
    int exitCode = -1;
    std::chrono::milliseconds time{0};
};

/// The summary table: device, result, time.
void PrintSummary(const std::vector<CameraRun>& runs, std::ostream& out);

/// Runs `cmd` with `args` through `run`: on the one camera named (or the
/// default port), or on each of several at once, with the checks that must
/// hold first (distinct devices, one file per camera, usage errors said
/// once). Returns the exit status: with several cameras 0 only when every
/// run exited 0, 2 for a usage error, else 1.
int RunCommand(const std::string& cmd, const std::vector<std::string>& args, const CommandRunner& run);

/// Called by a command once its arguments are checked, before it opens a
/// port or writes a file: in the check that precedes a run on several
/// cameras it ends the command there.
void ArgumentsChecked();

}  // namespace tern::cli
