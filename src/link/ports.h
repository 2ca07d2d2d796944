// Finding the serial ports of this machine: the USB adapters (with the
// stable names udev gives them under serial/by-id), and the built-in UARTs
// that really exist. And, for an open that failed, what to tell the user.
//
// Everything takes the folder that stands for /dev (and for /proc), so the
// tests can build a machine of their own in a temporary folder.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "link/comm.h"

namespace tern::link {

enum class PortKind { Usb, Acm, BuiltIn };

struct SerialPort {
    std::string device;  ///< e.g. /dev/ttyUSB0 (the real device, not a link)
    std::string byId;    ///< its name under serial/by-id, without the folder; may be empty
    PortKind kind = PortKind::Usb;
    bool accessible = false;  ///< this user may open it for reading and writing
    int accessError = 0;      ///< errno of the access test when not accessible
    /// The by-id link itself (root/serial/by-id/NAME), empty without one. It
    /// names the same adapter after it is unplugged and plugged in again,
    /// whichever ttyUSB number it gets then.
    std::string byIdPath;
    bool operator==(const SerialPort&) const = default;
};

/// What the listing asks of the system; the tests replace either.
struct PortChecks {
    /// True when a ttyS device is a real UART (not a placeholder the kernel
    /// makes for every possible port). Default: TIOCGSERIAL answers with a
    /// type other than PORT_UNKNOWN.
    std::function<bool(const std::string& device)> isRealUart;
    /// 0 when this user may open the device for reading and writing, else
    /// the errno. Default: access(R_OK | W_OK).
    std::function<int(const std::string& device)> access;
};

/// The serial devices under `root`: USB (ttyUSB*), then ACM (ttyACM*), then
/// the real built-in ports (ttyS*), each group in numeric order; a device
/// that serial/by-id names but none of these patterns matches is listed
/// with the USB ones. A device reached under two names is listed once.
std::vector<SerialPort> ListSerialPorts(const std::string& root = "/dev", const PortChecks& checks = {});

/// The devices behind COM1 and COM2 for "--port auto": the first two of the
/// list (USB devices come first), each by its by-id link where it has one.
/// Never the same device for both: with one device COM2 is empty (none, so
/// no attempt goes to a port the user does not have, PortDevices::For); with
/// none, the built-in defaults.
PortDevices AutoPortDevices(const std::vector<SerialPort>& ports);

/// "/dev/ttyUSB0 (usb-FTDI_FT232R_A50285BI-if00-port0)", or the device
/// alone when it has no by-id name: a port as a menu or a message names it.
std::string PortLabel(const SerialPort& port);

/// One line a port: device, by-id name (or "built-in"), access.
std::string PortListText(const std::vector<SerialPort>& ports);

// ---- open errors ---------------------------------------------------------------

/// Where OpenErrorHelp looks.
struct OpenErrorContext {
    std::string devRoot = "/dev";
    std::string procRoot = "/proc";
    PortChecks checks;
};

inline constexpr const char* kDialoutRemedy =
    "add the user to the dialout group (sudo usermod -aG dialout $USER, then log in again)";

/// The lines to show after the open error's own text ("オープンエラー
/// ErrorCode = …"): the device and the system's reason, then what to do
/// where there is a plain remedy - the dialout group for a refused
/// permission, the ports that do exist for a missing device, the process
/// that holds a busy one. No trailing newline; empty when the error names
/// no device.
std::string OpenErrorHelp(const ECommOpenError& e, const OpenErrorContext& context = {});

/// The text shown for an exception that left a handler, in the window's box
/// and on ternctl's stderr: its own message, then for an open error the
/// lines of OpenErrorHelp, for an input/output error its reason.
std::string ExceptionText(const std::exception& e);

/// The processes (pid and name) that have `device` open, found through
/// `procRoot`/<pid>/fd; "12 (minicom)" each. Those the system does not
/// let us see are not listed.
std::vector<std::string> ProcessesHolding(const std::string& device, const std::string& procRoot = "/proc");

#ifdef _WIN32
/// A NUL-terminated UTF-16 text of the Windows API as UTF-8.
std::string Utf8(const wchar_t* text);
#endif

}  // namespace tern::link
