// One command on many cameras at once: "--port" given more than once, or
// "--port auto-all" (every port a camera answers ENQ on). Each camera gets
// a ternctl of its own, on its own link, all at the same time; their lines
// are printed as they come, each after its device, and a summary table
// follows. One camera's failure never stops the others.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

namespace tern::cli {

/// The devices the command line's --port options name, in order (before
/// "--"); "auto-all" stands for every port that answers ENQ.
std::vector<std::string> PortsNamed(const std::vector<std::string>& args);

/// `args` for the run on camera `n` (from 1) at `device`: the --port and
/// --port2 options replaced by that device, and "{port}" and "{n}" in the
/// other arguments replaced by the device's name and the number.
std::vector<std::string> ArgsForCamera(const std::vector<std::string>& args, const std::string& device, int n);

/// The outcome of one camera's run.
struct CameraRun {
    std::string device;
    int exitCode = -1;
    std::chrono::milliseconds time{0};
};

/// The summary table: device, result, time.
void PrintSummary(const std::vector<CameraRun>& runs, std::ostream& out);

/// Runs `program` `cmd` on each device at once; returns 0 only when every
/// run exited 0. `prefixOut` false leaves the lines of stdout as they are
/// (JSON, whose objects name their device).
int RunOnEach(const std::string& program, const std::string& cmd, const std::vector<std::string>& args,
              const std::vector<std::string>& devices, bool prefixOut);

}  // namespace tern::cli
