// What the port listing and the open-error help share on both platforms;
// the listing itself and the help are in ports_posix.cpp / ports_win32.cpp.
#include "link/ports.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tern::link {

PortDevices AutoPortDevices(const std::vector<SerialPort>& ports) {
    PortDevices d;
    if (ports.empty()) return d;
    auto path = [](const SerialPort& p) { return p.byIdPath.empty() ? p.device : p.byIdPath; };
    d.com1 = path(ports[0]);
    // Never the same device twice: with one port there is no COM2.
    d.com2 = ports.size() > 1 ? path(ports[1]) : std::string();
    return d;
}

std::string PortLabel(const SerialPort& port) {
    return port.byId.empty() ? port.device : port.device + " (" + port.byId + ")";
}

std::string PortListText(const std::vector<SerialPort>& ports) {
    std::size_t width = 0;
    for (const SerialPort& p : ports) width = std::max(width, p.device.size());
    std::string out;
    for (const SerialPort& p : ports) {
        std::string line = p.device;
        line.append(width + 2 - p.device.size(), ' ');
        line += p.byId.empty() ? (p.kind == PortKind::BuiltIn ? std::string("built-in") : std::string("-")) : p.byId;
        line += "  ";
        if (p.accessible) {
            line += "read/write";
        } else if (p.accessError == EACCES || p.accessError == EPERM) {
            line += "no permission: " + std::string(kDialoutRemedy);
        } else {
            line += "cannot open: " + std::string(std::strerror(p.accessError));
        }
        out += line + "\n";
    }
    return out;
}

std::string ExceptionText(const std::exception& e) {
    std::string text = e.what();
    if (const auto* open = dynamic_cast<const ECommOpenError*>(&e)) {
        if (const std::string help = OpenErrorHelp(*open); !help.empty()) text += "\n" + help;
    } else if (const auto* rw = dynamic_cast<const ECommReadWriteError*>(&e); rw && !rw->Reason.empty()) {
        text += "\n" + rw->Reason;
    }
    return text;
}

}  // namespace tern::link
