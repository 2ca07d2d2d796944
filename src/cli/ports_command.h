// ternctl ports: the serial ports of this machine, and which of them a
// camera answers on. And "--port auto" for the commands that connect.
//
//   ternctl ports [--probe] [--dev DIR]
#pragma once

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "link/ports.h"

namespace tern::cli {

/// How long a probed port has to answer ENQ with ACK.
inline constexpr std::chrono::milliseconds kPortProbeWait{500};

/// Sends ENQ on `device` and waits up to `wait` for ACK (then sends EOT, as
/// the handshake does). Returns "camera answers", "no answer" or why the
/// port could not be opened.
std::string ProbeForCamera(const std::string& device, std::chrono::milliseconds wait = kPortProbeWait);

/// The listing as `ternctl ports` prints it; with `probes` (one per port)
/// each line ends with what the probe found.
std::string PortsReport(const std::vector<link::SerialPort>& ports, const std::vector<std::string>* probes = nullptr);

int Ports(const std::vector<std::string>& args);

/// "--port auto": when `port1` is "auto", the devices listed under `devRoot`
/// take the place of COM1 (and of COM2 when `port2` is not given). False
/// with a message for the user when there are none; says on `note` which
/// devices were chosen.
bool ResolveAutoPort(std::optional<std::string>& port1, std::optional<std::string>& port2, std::string& error,
                     std::ostream* note, const std::string& devRoot = "/dev", const link::PortChecks& checks = {});

}  // namespace tern::cli
