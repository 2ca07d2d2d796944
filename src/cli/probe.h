// ternctl probe: connect as the window does at start, read the registers that
// tell the camera's resolution and TV standard, and end - with the answer, or
// with the link's message when the camera is not there or stops answering.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/console_host.h"

namespace CLI {
class App;
}

namespace tern::cli {

/// Devices named on probe's command line; empty when not given.
struct ProbeOptions {
    std::string port1;  ///< a device, or "auto"
    std::string port2;
    std::string trace;  ///< the line trace's file
    std::string help;   ///< --help: the text to print, nothing else is done
};

/// --port, --port2 and --trace, as every command that connects takes them.
void AddLineOptions(CLI::App& app, std::string& port1, std::string& port2, std::string& trace);

/// Parses probe's arguments. Returns an empty text, or what is wrong with them.
std::string ParseProbeArgs(const std::vector<std::string>& args, ProbeOptions& options);

/// True once the probe has its answer or the link has given up: at start
/// (no camera, the host terminated) or after the handshake (the reply watch's
/// give-up message, after its retries).
bool ProbeOver(const ConsoleHost& host);

/// Prints the outcome - resolution and standard on `out`, every message the
/// run showed on `err` - and returns the exit code: 0 with an answer, else 1.
/// A message shown again with the same text (the same open error at each
/// attempt) is printed once.
int ProbeReport(const ConsoleHost& host, std::ostream& out, std::ostream& err);

}  // namespace tern::cli
