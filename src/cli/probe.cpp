#include "cli/probe.h"

#include <algorithm>
#include <sstream>

#include "camera/command_line.h"

namespace tern::cli {

void AddLineOptions(CLI::App& app, std::string& port1, std::string& port2, std::string& trace) {
    camera::AddNamedValue(app, "--port", port1, "device", "DEV|auto",
                          "device for COM1 (default " + link::DefaultPortName(1) + "); auto: the first port that \"ternctl ports\" lists "
                          "(USB adapters first), and the second for COM2");
    camera::AddNamedValue(app, "--port2", port2, "device", "DEV", "device for COM2 (default " + link::DefaultPortName(2) + ", or COM1's device when --port is given)");
    camera::AddNamedValue(app, "--trace", trace, "file", "FILE",
                          "write every byte on the line to FILE, with a timestamp, and each frame decoded in words "
                          "(for a support request)");
}

std::string ParseProbeArgs(const std::vector<std::string>& args, ProbeOptions& options) {
    CLI::App app("connect to the camera as the window does at start, read registers 1 and 64, print its resolution "
                 "and TV standard",
                 "ternctl probe");
    AddLineOptions(app, options.port1, options.port2, options.trace);
    const camera::ParseOutcome outcome = camera::ParseCommandLine(app, args);
    if (outcome.help) options.help = app.help();
    return outcome.error;
}

bool ProbeOver(const ConsoleHost& host) {
    if (host.terminated || host.chainsCompleted > 0) return true;
    return std::any_of(host.messages.begin(), host.messages.end(),
                       [](const auto& m) { return m.first == link::kMsgNotConnected; });
}

int ProbeReport(const ConsoleHost& host, std::ostream& out, std::ostream& err) {
    for (std::size_t i = 0; i < host.messages.size(); ++i) {
        const auto& [text, caption] = host.messages[i];
        bool shown = false;
        for (std::size_t k = 0; k < i && !shown; ++k) shown = host.messages[k] == host.messages[i];
        if (shown) continue;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) err << camera::Printable(line) << "\n";
    }
    if (host.chainsCompleted > 0 && !host.resolutionText.empty() && !host.tvText.empty()) {
        out << host.resolutionText << "\n" << host.tvText << "\n";
        return 0;
    }
    // No answer and no message yet (cannot happen once ProbeOver holds, but
    // the caller's deadline may have passed): say so rather than nothing.
    if (host.messages.empty()) err << link::kMsgNotConnected << "\n";
    return 1;
}

}  // namespace tern::cli
