// The serial ports of a Windows PC and the open-error help there: COM names
// from QueryDosDevice, and what to do in Device Manager.
#include "link/ports.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tern::link {

namespace {
/// "COM12" -> 12; 0 for any other name.
unsigned ComNumber(const std::string& name) {
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0) return 0;
    if (!std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; })) return 0;
    return name.size() > 8 ? 0 : static_cast<unsigned>(std::strtoul(name.c_str() + 3, nullptr, 10));
}
}  // namespace

// The root folder and the checks belong to the POSIX listing; Windows names
// its ports in the DOS device namespace.
std::vector<SerialPort> ListSerialPorts(const std::string&, const PortChecks&) {
    std::vector<char> names(64 * 1024);
    DWORD n = 0;
    while ((n = ::QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()))) == 0 &&
           ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && names.size() < 16u * 1024 * 1024)
        names.resize(names.size() * 2);
    std::vector<std::pair<unsigned, std::string>> coms;
    for (const char* p = names.data(); n > 0 && *p; p += std::strlen(p) + 1) {
        const std::string name(p);
        if (const unsigned k = ComNumber(name)) coms.emplace_back(k, name);
    }
    std::sort(coms.begin(), coms.end());
    std::vector<SerialPort> ports;
    for (const auto& [k, name] : coms) {
        SerialPort port;
        port.device = name;
        char target[1024] = {};
        // \Device\Serial0 is a built-in UART; USB adapters name their driver's device.
        if (::QueryDosDeviceA(name.c_str(), target, sizeof target) && std::strstr(target, "\\Device\\Serial") == target)
            port.kind = PortKind::BuiltIn;
        port.accessible = true;  // only an open would tell, and an open raises DTR on the camera
        ports.push_back(port);
    }
    return ports;
}

std::vector<std::string> ProcessesHolding(const std::string&, const std::string&) {
    return {};  // Windows does not tell which program holds a COM port
}

std::string OpenErrorHelp(const ECommOpenError& e, const OpenErrorContext& context) {
    if (e.Device.empty()) return e.Reason;
    std::string name = e.Device;
    if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
    std::string text = name + ": " + e.Reason;
    switch (e.Errno) {
        case ENOENT: {
            const std::vector<SerialPort> ports = ListSerialPorts(context.devRoot, context.checks);
            if (ports.empty()) {
                text += "\nthis PC has no COM ports: plug in the adapter, then look in Device Manager under "
                        "\"Ports (COM & LPT)\" for the COM number Windows gave it";
            } else {
                text += "\nCOM ports present (Device Manager, \"Ports (COM & LPT)\", tells which is the adapter):";
                for (const SerialPort& p : ports) text += "\n  " + p.device;
            }
            break;
        }
        case EBUSY:
            text += "\nanother program has this COM port open (a terminal program, another copy of this tool): "
                    "close it and try again";
            break;
        default:
            text += "\nlook in Device Manager under \"Ports (COM & LPT)\" whether the port works and which COM "
                    "number it has";
            break;
    }
    return text;
}

}  // namespace tern::link
