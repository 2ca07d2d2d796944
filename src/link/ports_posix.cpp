#include "link/ports.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

namespace tern::link {

namespace fs = std::filesystem;

namespace {

bool DefaultIsRealUart(const std::string& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    // The kernel tells the UART's type in sysfs, without opening the port
    // (an open would raise DTR on whatever is connected).
    std::ifstream type("/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)) +
                       "/type");
    if (int t = 0; type >> t) return t != PORT_UNKNOWN;
    const int fd = ::open(device.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    serial_struct info{};
    const bool real = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return real;
}

int DefaultAccess(const std::string& device) { return ::access(device.c_str(), R_OK | W_OK) == 0 ? 0 : errno; }

/// "ttyUSB10" after "ttyUSB9": the prefix, then the number (compared as
/// digits, so no name is too long for it).
bool NumericBefore(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        std::size_t i = s.size();
        while (i > 0 && std::isdigit(static_cast<unsigned char>(s[i - 1]))) --i;
        std::size_t z = i;
        while (z + 1 < s.size() && s[z] == '0') ++z;  // leading zeros do not count
        return std::make_tuple(s.substr(0, i), s.size() - z, s.substr(z));
    };
    return split(a) < split(b);
}

bool Matches(const std::string& name, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    return name.size() > n && name.compare(0, n, prefix) == 0 &&
           std::all_of(name.begin() + static_cast<long>(n), name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        ::closedir(d);
    }
    return names;
}

/// The real path of `path`, or empty when it leads nowhere.
std::string Resolved(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::canonical(path, ec);
    return ec ? std::string() : p.string();
}

}  // namespace

std::vector<SerialPort> ListSerialPorts(const std::string& root, const PortChecks& checks) {
    const auto isReal = checks.isRealUart ? checks.isRealUart : DefaultIsRealUart;
    const auto access = checks.access ? checks.access : DefaultAccess;

    // by-id names first, keyed by the device each leads to.
    std::map<std::string, std::string> byId;
    const std::string byIdDir = root + "/serial/by-id";
    std::vector<std::string> ids = Names(byIdDir);
    std::sort(ids.begin(), ids.end());
    for (const std::string& id : ids) {
        const std::string device = Resolved(byIdDir + "/" + id);
        if (!device.empty() && !byId.count(device)) byId[device] = id;
    }

    std::vector<SerialPort> usb, acm, builtIn;
    std::vector<std::string> names = Names(root);
    std::sort(names.begin(), names.end(), NumericBefore);
    std::map<std::string, bool> listed;
    for (const std::string& name : names) {
        const std::string device = root + "/" + name;
        const bool isUsb = Matches(name, "ttyUSB"), isAcm = Matches(name, "ttyACM"), isS = Matches(name, "ttyS");
        if (!isUsb && !isAcm && !isS) continue;
        std::error_code ec;
        if (!fs::exists(device, ec)) continue;  // a dangling link
        if (isS && !isReal(device)) continue;
        SerialPort p;
        p.device = device;
        p.kind = isUsb ? PortKind::Usb : isAcm ? PortKind::Acm : PortKind::BuiltIn;
        // The by-id link leads to the device's real path.
        const std::string real = Resolved(device);
        if (auto it = byId.find(real); it != byId.end()) {
            p.byId = it->second;
            p.byIdPath = byIdDir + "/" + it->second;
        }
        listed[real] = true;
        (isUsb ? usb : isAcm ? acm : builtIn).push_back(std::move(p));
    }
    // A by-id name for a device none of the patterns matched (a converter
    // with a driver of its own naming): still a USB port.
    for (const auto& [real, id] : byId) {
        if (listed.count(real)) continue;
        SerialPort p;
        p.device = real;
        p.byId = id;
        p.byIdPath = byIdDir + "/" + id;
        p.kind = PortKind::Usb;
        usb.push_back(std::move(p));
    }

    std::vector<SerialPort> all;
    // One device under two names (a ttyS name linked to an adapter for an
    // older program, say) is one port, listed in its first group.
    std::map<std::string, bool> seen;
    for (auto* group : {&usb, &acm, &builtIn})
        for (SerialPort& p : *group) {
            const std::string real = Resolved(p.device);
            if (!real.empty() && !seen.emplace(real, true).second) continue;
            p.accessError = access(p.device);
            p.accessible = p.accessError == 0;
            all.push_back(std::move(p));
        }
    return all;
}

// ---- open errors ---------------------------------------------------------------

std::vector<std::string> ProcessesHolding(const std::string& device, const std::string& procRoot) {
    std::vector<std::string> found;
    const std::string real = Resolved(device);
    std::vector<std::string> pids = Names(procRoot);
    pids.erase(std::remove_if(pids.begin(), pids.end(),
                              [](const std::string& n) {
                                  return n.empty() || !std::all_of(n.begin(), n.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
                              }),
               pids.end());
    std::sort(pids.begin(), pids.end(), NumericBefore);
    for (const std::string& pid : pids) {
        const std::string fdDir = procRoot + "/" + pid + "/fd";
        bool holds = false;
        for (const std::string& fd : Names(fdDir)) {
            char target[4096];
            const ssize_t n = ::readlink((fdDir + "/" + fd).c_str(), target, sizeof target - 1);
            if (n <= 0) continue;
            const std::string t(target, static_cast<std::size_t>(n));
            if (t == device || (!real.empty() && t == real)) {
                holds = true;
                break;
            }
        }
        if (!holds) continue;
        std::string name;
        std::ifstream comm(procRoot + "/" + pid + "/comm");
        std::getline(comm, name);
        found.push_back(name.empty() ? pid : pid + " (" + name + ")");
    }
    return found;
}

std::string OpenErrorHelp(const ECommOpenError& e, const OpenErrorContext& context) {
    if (e.Device.empty()) return e.Reason;
    std::string text = e.Device + ": " + (e.Reason.empty() ? std::string(std::strerror(e.Errno)) : e.Reason);
    switch (e.Errno) {
        case EACCES:
        case EPERM:
            text += "\n";
            text += kDialoutRemedy;
            break;
        case ENOENT:
        case ENODEV:
        case ENXIO: {
            const std::vector<SerialPort> ports = ListSerialPorts(context.devRoot, context.checks);
            if (ports.empty()) {
                text += "\nno serial ports were found in " + context.devRoot +
                        ": plug in the adapter, then run \"ternctl ports\"";
            } else {
                text += "\nserial ports present:";
                for (const SerialPort& p : ports) text += "\n  " + PortLabel(p);
            }
            break;
        }
        case EBUSY: {
            const std::vector<std::string> holders = ProcessesHolding(e.Device, context.procRoot);
            if (holders.empty()) {
                text += "\nanother program has it open: close that program and try again";
            } else {
                text += holders.size() == 1 ? "\nheld by process " : "\nheld by processes ";
                text += holders[0];
                for (std::size_t i = 1; i < holders.size(); ++i) text += ", " + holders[i];
                text += holders.size() == 1 ? ": close it and try again" : ": close them and try again";
            }
            break;
        }
        case ENOTTY:
            text += "\nthis is not a serial port: name the camera's serial device (see \"ternctl ports\")";
            break;
        default: break;
    }
    return text;
}

}  // namespace tern::link
