// The serial ports of a Windows PC and the open-error help there. The ports
// are those Plug and Play knows as present (SetupAPI: the COM-port interface
// and the Ports class, with Device Manager's friendly names), else those the
// registry's SERIALCOMM map names (wine has no Plug and Play ports), else the
// COM names of the DOS device namespace. Only ports that open are listed
// (one held by another program is listed as busy); USB adapters first, then
// the built-in ports, each in COM-number order.
#include "link/ports.h"

#include <windows.h>
// After windows.h; initguid.h first, so that the GUIDs are defined here.
#include <initguid.h>
// After initguid.h:
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

// The COM-port device interface (ntddser.h, which needs the driver headers).
DEFINE_GUID(kComPortInterface, 0x86E0D1E0, 0x8089, 0x11D0, 0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73);

namespace tern::link {

namespace {
/// "COM12" (any case) -> 12; 0 for any other name.
unsigned ComNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 8 || _strnicmp(name.c_str(), "COM", 3) != 0) return 0;
    if (!std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; })) return 0;
    return static_cast<unsigned>(std::strtoul(name.c_str() + 3, nullptr, 10));
}


/// What is known of one COM port before the open test.
struct Found {
    std::string friendly;  // "USB Serial Port (COM5)"; empty when unknown
    PortKind kind = PortKind::BuiltIn;
};

std::string DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
    wchar_t text[512] = {};
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &info, property, nullptr, reinterpret_cast<BYTE*>(text),
                                             sizeof text - sizeof(wchar_t), nullptr))
        return {};
    return Utf8(text);
}

/// The present ports Plug and Play knows, by COM number.
void FromSetupApi(const GUID& guid, DWORD flags, std::map<unsigned, Found>& found) {
    const HDEVINFO set = ::SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | flags);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        const HKEY key = ::SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        wchar_t name[64] = {};
        DWORD size = sizeof name - sizeof(wchar_t), type = 0;
        const bool named = ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) ==
                               ERROR_SUCCESS &&
                           type == REG_SZ;
        ::RegCloseKey(key);
        const unsigned k = named ? ComNumber(Utf8(name)) : 0;
        if (k == 0) continue;  // an LPT port of the Ports class
        Found f;
        f.friendly = DeviceProperty(set, info, SPDRP_FRIENDLYNAME);
        // USB adapters: the USB bus or their own (FTDIBUS); built-in UARTs: ACPI, PCI, Root.
        const std::string bus = DeviceProperty(set, info, SPDRP_ENUMERATOR_NAME);
        const bool builtIn = _stricmp(bus.c_str(), "ACPI") == 0 || _stricmp(bus.c_str(), "PCI") == 0 ||
                             _stricmp(bus.c_str(), "ROOT") == 0;
        f.kind = builtIn ? PortKind::BuiltIn : PortKind::Usb;
        found[k] = f;
    }
    ::SetupDiDestroyDeviceInfoList(set);
}

/// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: \Device\Serial0 = COM1 (built-in),
/// \Device\VCP0 = COM5 (an adapter's driver).
void FromSerialComm(std::map<unsigned, Found>& found) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    for (DWORD i = 0;; ++i) {
        wchar_t value[256] = {}, data[64] = {};
        DWORD valueSize = 255, dataSize = sizeof data - sizeof(wchar_t), type = 0;
        const LONG r = ::RegEnumValueW(key, i, value, &valueSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        const unsigned k = ComNumber(Utf8(data));
        if (k == 0 || found.count(k)) continue;
        Found f;
        const std::string driver = Utf8(value);
        f.kind = driver.find("\\Device\\Serial") == 0 || driver.find("Serial") == 0 ? PortKind::BuiltIn : PortKind::Usb;
        found[k] = f;
    }
    ::RegCloseKey(key);
}

/// The COM names of the DOS device namespace.
void FromDosDevices(std::map<unsigned, Found>& found) {
    std::vector<char> names(64 * 1024);
    DWORD n = 0;
    while ((n = ::QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()))) == 0 &&
           ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && names.size() < 16u * 1024 * 1024)
        names.resize(names.size() * 2);
    for (const char* p = names.data(); n > 0 && *p; p += std::strlen(p) + 1) {
        const std::string name(p);
        const unsigned k = ComNumber(name);
        if (k == 0 || found.count(k)) continue;
        Found f;
        char target[1024] = {};
        // \Device\Serial0 is a built-in UART; USB adapters name their driver's device.
        if (!::QueryDosDeviceA(name.c_str(), target, sizeof target) || std::strstr(target, "\\Device\\Serial") != target)
            f.kind = PortKind::Usb;
        found[k] = f;
    }
}

/// 0 when the port opens for reading and writing (closed again at once), else
/// the errno of why not: EBUSY for a port another program holds.
int OpenTest(unsigned k) {
    const std::wstring path = L"\\\\.\\COM" + std::to_wstring(k);
    const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = ::GetLastError();
        return e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION ? EBUSY : ENOENT;
    }
    ::CloseHandle(h);
    return 0;
}
}  // namespace

std::string Utf8(const wchar_t* text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string s(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, s.data(), n, nullptr, nullptr);
    s.resize(static_cast<std::size_t>(n - 1));
    return s;
}

// The root folder and the checks belong to the POSIX listing.
std::vector<SerialPort> ListSerialPorts(const std::string&, const PortChecks&) {
    std::map<unsigned, Found> found;
    FromSetupApi(kComPortInterface, DIGCF_DEVICEINTERFACE, found);
    FromSetupApi(GUID_DEVCLASS_PORTS, 0, found);
    if (found.empty()) FromSerialComm(found);
    if (found.empty()) FromDosDevices(found);
    std::vector<SerialPort> ports;
    for (const PortKind kind : {PortKind::Usb, PortKind::BuiltIn}) {
        for (const auto& [k, f] : found) {
            if (f.kind != kind) continue;
            const int error = OpenTest(k);
            if (error != 0 && error != EBUSY) continue;  // not there after all
            SerialPort port;
            port.device = "COM" + std::to_string(k);
            port.byId = f.friendly;
            port.kind = kind;
            port.accessible = error == 0;
            port.accessError = error;
            ports.push_back(port);
        }
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
