#include "cli/ports_command.h"
#include "cli/output.h"

#include <nlohmann/json.hpp>

#include <condition_variable>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

#include "camera/command_line.h"
#include "link/codec.h"
#include "link/comm.h"

namespace tern::cli {

std::string ProbeForCamera(const std::string& device, std::chrono::milliseconds wait) {
    std::mutex m;
    std::condition_variable cv;
    bool acked = false;
    link::TComm comm;
    comm.SetPortDevice(1, device);
    comm.OnCommReceive = [&](link::TComm& c, std::uint16_t n) {
        std::uint8_t buf[256];
        while (n > 0) {
            const std::uint32_t got = c.Read(buf, std::min<std::uint32_t>(n, sizeof buf));
            if (got == 0) break;
            n = static_cast<std::uint16_t>(n - got);
            for (std::uint32_t i = 0; i < got; ++i) {
                if (buf[i] != link::ACK) continue;
                std::lock_guard lk(m);
                acked = true;
                cv.notify_all();
            }
        }
    };
    try {
        comm.Open();
        const std::uint8_t enq = link::ENQ;
        comm.Write(&enq, 1);
        bool answered;
        {
            std::unique_lock lk(m);
            answered = cv.wait_for(lk, wait, [&] { return acked; });
        }
        if (answered) {
            const std::uint8_t eot = link::EOT;
            comm.Write(&eot, 1);
        }
        comm.Close();
        return answered ? "camera answers" : "no answer";
    } catch (const link::ECommOpenError& e) {
        return "cannot open: " + (e.Reason.empty() ? std::string(e.what()) : e.Reason);
    } catch (const std::exception& e) {
        return std::string("cannot probe: ") + e.what();
    }
}

std::string PortsReport(const std::vector<link::SerialPort>& ports, const std::vector<std::string>* probes) {
    const std::string text = link::PortListText(ports);
    if (probes == nullptr) return text;
    std::istringstream in(text);
    std::string out, line;
    for (std::size_t i = 0; std::getline(in, line); ++i) out += line + "  " + (i < probes->size() ? (*probes)[i] : "") + "\n";
    return out;
}

int Ports(const std::vector<std::string>& args) {
    bool probe = false;
    std::string root = "/dev";
    CLI::App app("list the serial ports (USB adapters with their serial/by-id names, then the built-in ports) and "
                 "whether you may open them",
                 "ternctl ports");
    app.add_flag("--probe", probe, "also send ENQ on each and say which one a camera answers");
    camera::AddNamedValue(app, "--dev", root, "folder", "DIR", "look in DIR instead of /dev");
    const camera::ParseOutcome outcome = camera::ParseCommandLine(app, args);
    if (outcome.help) {
        Out() << app.help();
        return 0;
    }
    if (!outcome) {
        Err() << "ternctl ports: " << outcome.error << "\n"
                  << "usage: ternctl ports [--probe] [--dev DIR]\n";
        return 2;
    }
    const std::vector<link::SerialPort> ports = link::ListSerialPorts(root);
    if (ports.empty()) {
        Err() << "ternctl ports: no serial ports were found in " << camera::Printable(root) << ": plug in the adapter and run it again\n";
        return 1;
    }
    const auto json = [&](const std::vector<std::string>* probes) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (std::size_t i = 0; i < ports.size(); ++i) {
            nlohmann::ordered_json p;
            p["device"] = ports[i].device;
            p["by_id"] = ports[i].byIdPath.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(ports[i].byIdPath);
            p["kind"] = ports[i].kind == link::PortKind::Usb ? "usb" : "built-in";
            p["accessible"] = ports[i].accessible;
            if (probes != nullptr) p["probe"] = (*probes)[i];
            list.push_back(p);
        }
        Out() << nlohmann::ordered_json{{"ports", list}}.dump() << "\n";
        return 0;
    };
    if (!probe) {
        if (JsonMode()) return json(nullptr);
        Out() << PortsReport(ports);
        return 0;
    }
    // All at once: each waits up to kPortProbeWait for its answer.
    std::vector<std::string> found(ports.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < ports.size(); ++i)
        threads.emplace_back([&, i] { found[i] = ProbeForCamera(ports[i].device); });
    for (std::thread& t : threads) t.join();
    if (JsonMode()) return json(&found);
    Out() << PortsReport(ports, &found);
    return 0;
}

bool ResolveAutoPort(std::optional<std::string>& port1, std::optional<std::string>& port2, std::string& error,
                     std::ostream* note, const std::string& devRoot, const link::PortChecks& checks) {
    if (!port1 || *port1 != "auto") return true;
    const std::vector<link::SerialPort> ports = link::ListSerialPorts(devRoot, checks);
    if (ports.empty()) {
        error = "--port auto: no serial ports were found in " + devRoot + ": plug in the adapter, or name the device with --port";
        return false;
    }
    const link::PortDevices d = link::AutoPortDevices(ports);
    port1 = d.com1;
    if (!port2) port2 = d.com2;
    if (note != nullptr) {
        *note << "--port auto: COM1 is " << *port1 << ", COM2 is "
              << (port2->empty() ? std::string("none (one port found)") : *port2) << "\n";
    }
    return true;
}

}  // namespace tern::cli
