#include "cli/probe.h"

#include <algorithm>

namespace tern::cli {

std::string ParseProbeArgs(const std::vector<std::string>& args, ProbeOptions& options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a != "--port" && a != "--port2" && a != "--trace") return "unknown argument '" + a + "'";
        const char* what = a == "--trace" ? "a file name" : "a device path";
        // "--port --port2 X": the next option is not a device name.
        if (i + 1 >= args.size() || args[i + 1].starts_with("--")) return "option '" + a + "' needs a value (" + what + ")";
        const std::string& value = args[++i];
        if (value.empty()) return "option '" + a + "': the " + (a == "--trace" ? "file" : "device") + " name is empty";
        (a == "--port" ? options.port1 : a == "--port2" ? options.port2 : options.trace) = value;
    }
    return {};
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
        if (!shown) err << text << "\n";
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
