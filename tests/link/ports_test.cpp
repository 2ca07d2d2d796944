// Finding the serial ports, and what an open error tells the user. A
// temporary folder stands in for /dev (and for /proc): plain files are the
// devices, symbolic links the serial/by-id names.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "link/comm.h"
#include "link/ports.h"
#include "link/pty_util.h"
#include "temp_dir.h"
#include "test_names.h"

using namespace tern::link;
using tern::test::Put;
using tern::test::TempDir;

namespace fs = std::filesystem;

namespace {

/// A folder standing in for /dev.
class FakeDev {
public:
    FakeDev() { fs::create_directories(dir.File("serial/by-id")); }
    std::string Device(const std::string& name) {
        Put(dir.File(name), "");
        return Path(name);
    }
    void ById(const std::string& id, const std::string& target) { fs::create_symlink(target, dir.File("serial/by-id/" + id)); }
    std::string Path(const std::string& name) const { return dir.File(name); }
    const std::string& Root() const { return dir.Path(); }

    /// ttyS ports the test calls real, and devices it forbids.
    std::set<std::string> realUarts, forbidden;
    PortChecks Checks() const {
        return PortChecks{[this](const std::string& d) { return realUarts.count(fs::path(d).filename().string()) > 0; },
                          [this](const std::string& d) { return forbidden.count(fs::path(d).filename().string()) ? EACCES : 0; }};
    }

private:
    TempDir dir;
};

SerialPort Port(std::string device, std::string byId, PortKind kind, int accessError = 0, std::string byIdPath = {}) {
    return SerialPort{std::move(device), std::move(byId), kind, accessError == 0, accessError, std::move(byIdPath)};
}

TEST(ListSerialPorts, UsbThenAcmThenRealBuiltInPortsWithTheirByIdNames) {
    FakeDev dev;
    for (const char* n : {"ttyS0", "ttyS1", "ttyS4", "ttyUSB10", "ttyUSB2", "ttyACM0", "tty0", "ttyUSBx", "console",
                          "ttyACM99999999999999999999"})
        dev.Device(n);
    dev.ById("usb-FTDI_FT232R_A50285BI-if00-port0", "../../ttyUSB2");
    dev.ById("usb-Prolific_2303-if00-port0", "../../ttyUSB10");
    dev.ById("usb-Gone-if00-port0", "../../ttyUSB7");  // unplugged: the link dangles
    dev.realUarts = {"ttyS0", "ttyS4"};                // ttyS1 is a placeholder
    dev.forbidden = {"ttyS4"};

    EXPECT_EQ(ListSerialPorts(dev.Root(), dev.Checks()),
              (std::vector<SerialPort>{
                  Port(dev.Path("ttyUSB2"), "usb-FTDI_FT232R_A50285BI-if00-port0", PortKind::Usb, 0,
                       dev.Path("serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0")),
                  Port(dev.Path("ttyUSB10"), "usb-Prolific_2303-if00-port0", PortKind::Usb, 0,
                       dev.Path("serial/by-id/usb-Prolific_2303-if00-port0")),
                  Port(dev.Path("ttyACM0"), "", PortKind::Acm),
                  Port(dev.Path("ttyACM99999999999999999999"), "", PortKind::Acm),  // too long for a long
                  Port(dev.Path("ttyS0"), "", PortKind::BuiltIn),
                  Port(dev.Path("ttyS4"), "", PortKind::BuiltIn, EACCES),
              }));
}

TEST(ListSerialPorts, ADeviceUnderTwoNamesIsOnePortSoAutoNeverTakesItTwice) {
    FakeDev dev;
    dev.Device("ttyUSB0");
    fs::create_symlink("ttyUSB0", dev.Path("ttyS0"));  // linked for an older program
    dev.ById("usb-FTDI-if00-port0", "../../ttyUSB0");
    dev.realUarts = {"ttyS0"};
    const std::vector<SerialPort> ports = ListSerialPorts(dev.Root(), dev.Checks());
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].device, dev.Path("ttyUSB0"));
    const PortDevices d = AutoPortDevices(ports);
    EXPECT_EQ(d.com1, dev.Path("serial/by-id/usb-FTDI-if00-port0"));
    EXPECT_EQ(d.com2, "");
    EXPECT_EQ(d.For(2), d.com1);  // the COM2 attempt goes to the one port there is
}

TEST(ListSerialPorts, AByIdNameForADeviceOfAnotherNamingIsAUsbPort) {
    FakeDev dev;
    dev.Device("ttyXRUSB0");
    dev.ById("usb-Exar_XR21V-if00", "../../ttyXRUSB0");
    const std::vector<SerialPort> ports = ListSerialPorts(dev.Root(), dev.Checks());
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].byId, "usb-Exar_XR21V-if00");
    EXPECT_EQ(ports[0].kind, PortKind::Usb);
    EXPECT_EQ(fs::path(ports[0].device).filename(), "ttyXRUSB0");
}

TEST(ListSerialPorts, ByDefaultAPlainFileIsNoRealUartAndAMissingFolderHasNoPorts) {
    FakeDev dev;
    dev.Device("ttyS0");
    dev.Device("ttyUSB0");
    const std::vector<SerialPort> ports = ListSerialPorts(dev.Root());
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].device, dev.Path("ttyUSB0"));
    EXPECT_TRUE(ListSerialPorts(dev.Root() + "/no-such-folder").empty());
}

struct AutoRow {
    const char* name;
    std::vector<std::string> devices;  // "DEV=BYID": the device with its by-id link
    std::string com1, com2;
};

class AutoPorts : public ::testing::TestWithParam<AutoRow> {};

TEST_P(AutoPorts, FirstTwoListedPortsStandForCom1AndCom2) {
    std::vector<SerialPort> ports;
    for (const std::string& row : GetParam().devices) {
        const std::size_t eq = row.find('=');
        const std::string d = row.substr(0, eq);
        const std::string link = eq == std::string::npos ? "" : row.substr(eq + 1);
        ports.push_back(Port(d, link.empty() ? "" : fs::path(link).filename().string(),
                             d.find("ttyS") != std::string::npos ? PortKind::BuiltIn : PortKind::Usb, 0, link));
    }
    const PortDevices p = AutoPortDevices(ports);
    EXPECT_EQ(p.com1, GetParam().com1);
    EXPECT_EQ(p.com2, GetParam().com2);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AutoPorts,
    ::testing::Values(AutoRow{"no_ports_keeps_the_built_in_defaults", {}, "/dev/ttyS0", "/dev/ttyS1"},
                      AutoRow{"one_adapter_is_com1_and_there_is_no_com2", {"/dev/ttyUSB0"}, "/dev/ttyUSB0", ""},
                      AutoRow{"adapter_before_built_in", {"/dev/ttyUSB0", "/dev/ttyS0"}, "/dev/ttyUSB0", "/dev/ttyS0"},
                      AutoRow{"third_port_unused", {"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0"}, "/dev/ttyUSB0", "/dev/ttyACM0"},
                      AutoRow{"adapter_by_its_by_id_link_which_survives_a_replug",
                              {"/dev/ttyUSB3=/dev/serial/by-id/usb-FTDI-if00-port0", "/dev/ttyS0"},
                              "/dev/serial/by-id/usb-FTDI-if00-port0",
                              "/dev/ttyS0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PortListText, DeviceByIdNameAndWhatTheUserMayDo) {
    const std::vector<SerialPort> ports = {
        Port("/dev/ttyUSB0", "usb-FTDI_A50285BI-if00-port0", PortKind::Usb),
        Port("/dev/ttyACM0", "", PortKind::Acm),
        Port("/dev/ttyS0", "", PortKind::BuiltIn, EACCES),
    };
    EXPECT_EQ(PortListText(ports),
              "/dev/ttyUSB0  usb-FTDI_A50285BI-if00-port0  read/write\n"
              "/dev/ttyACM0  -  read/write\n"
              "/dev/ttyS0    built-in  no permission: add the user to the dialout group (sudo usermod -aG dialout "
              "$USER, then log in again)\n");
}

// ---- open errors ----------------------------------------------------------------

struct HelpRow {
    const char* name;
    int error;
    const char* reason;
    std::string expected;  // "DEV" stands for the device, "ROOT" for the folder standing in for /dev
};

class OpenErrorHelpText : public ::testing::TestWithParam<HelpRow> {};

std::string Fill(std::string text, const std::string& dev, const std::string& root) {
    for (auto [key, value] : {std::pair<std::string, std::string>{"DEV", dev}, {"ROOT", root}})
        for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
    return text;
}

TEST_P(OpenErrorHelpText, NamesTheDeviceTheReasonAndTheRemedy) {
    FakeDev dev;
    dev.Device("ttyUSB1");
    dev.ById("usb-FTDI_A50285BI-if00-port0", "../../ttyUSB1");
    dev.Device("ttyS0");
    dev.realUarts = {"ttyS0"};
    TempDir proc;  // nobody holds anything
    const std::string device = dev.Path("ttyUSB0");
    const ECommOpenError e(-1, GetParam().reason, device, GetParam().error);
    EXPECT_EQ(OpenErrorHelp(e, OpenErrorContext{dev.Root(), proc.Path(), dev.Checks()}),
              Fill(GetParam().expected, device, dev.Root()));
    EXPECT_EQ(std::string(e.what()), "オープンエラー ErrorCode = -1") << "the system's own text stays as it was";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OpenErrorHelpText,
    ::testing::Values(
        HelpRow{"missing_lists_the_ports_present", ENOENT, "No such file or directory",
                "DEV: No such file or directory\nserial ports present:\n  ROOT/ttyUSB1 (usb-FTDI_A50285BI-if00-port0)\n"
                "  ROOT/ttyS0"},
        HelpRow{"forbidden_names_the_dialout_group", EACCES, "Permission denied",
                "DEV: Permission denied\nadd the user to the dialout group (sudo usermod -aG dialout $USER, then log "
                "in again)"},
        HelpRow{"in_use_without_a_known_holder", EBUSY, "in use",
                "DEV: in use\nanother program has it open: close that program and try again"},
        HelpRow{"not_a_terminal", ENOTTY, "Inappropriate ioctl for device",
                "DEV: Inappropriate ioctl for device\nthis is not a serial port: name the camera's serial device (see "
                "\"ternctl ports\")"},
        HelpRow{"other_errors_give_the_reason_alone", EIO, "Input/output error", "DEV: Input/output error"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OpenErrorHelp, MissingDeviceWithNoPortsAtAllSaysToPlugInTheAdapter) {
    FakeDev dev;
    const ECommOpenError e(-1, "No such file or directory", dev.Path("ttyUSB0"), ENOENT);
    EXPECT_EQ(OpenErrorHelp(e, OpenErrorContext{dev.Root(), "/nonexistent", dev.Checks()}),
              dev.Path("ttyUSB0") + ": No such file or directory\nno serial ports were found in " + dev.Root() +
                  ": plug in the adapter, then run \"ternctl ports\"");
}

TEST(OpenErrorHelp, InUseNamesTheProcessesThatHoldTheDevice) {
    FakeDev dev;
    const std::string device = dev.Device("ttyUSB0");
    dev.ById("usb-FTDI-if00-port0", "../../ttyUSB0");
    TempDir proc;
    auto process = [&](const std::string& pid, const std::string& comm, const std::vector<std::pair<std::string, std::string>>& fds) {
        fs::create_directories(proc.File(pid + "/fd"));
        Put(proc.File(pid + "/comm"), comm + "\n");
        for (const auto& [fd, target] : fds) fs::create_symlink(target, proc.File(pid + "/fd/" + fd));
    };
    process("812", "minicom", {{"0", "/dev/pts/1"}, {"3", device}});
    process("77", "screen", {{"5", device}});
    process("90", "bash", {{"0", "/dev/pts/1"}});
    process("self", "not-a-pid", {{"3", device}});
    // Opened through its by-id name: the processes hold the real device.
    const ECommOpenError e(-1, "in use", dev.Root() + "/serial/by-id/usb-FTDI-if00-port0", EBUSY);
    EXPECT_EQ(OpenErrorHelp(e, OpenErrorContext{dev.Root(), proc.Path(), dev.Checks()}),
              e.Device + ": in use\nheld by processes 77 (screen), 812 (minicom): close them and try again");
}

TEST(OpenErrorHelp, AnErrorWithoutADeviceGivesItsReasonAlone) {
    EXPECT_EQ(OpenErrorHelp(ECommOpenError(-2, "Too many open files")), "Too many open files");
}

// ---- the real port ----------------------------------------------------------------

TEST(TCommOpenError, CarriesTheDeviceAndTheSystemsErrorNumber) {
    TempDir dir;
    Put(dir.File("plain"), "");
    struct Row {
        std::string device;
        int error;
    };
    for (const Row& row : {Row{dir.File("ttyUSB9"), ENOENT}, Row{dir.File("plain"), ENOTTY}}) {
        TComm comm;
        comm.SetPortDevice(1, row.device);
        try {
            comm.Open();
            ADD_FAILURE() << row.device << " opened";
        } catch (const ECommOpenError& e) {
            EXPECT_EQ(e.Device, row.device);
            EXPECT_EQ(e.Errno, row.error) << row.device;
            EXPECT_EQ(e.ErrorCode, -1);
        }
    }
}

TEST(TCommOpenError, APortInUseIsEbusyAndThisProcessIsNamedAsItsHolder) {
    tern::test::Pty pty;
    TComm first, second;
    first.SetPortDevice(1, pty.SlavePath());
    second.SetPortDevice(1, pty.SlavePath());
    first.Open();
    try {
        second.Open();
        ADD_FAILURE() << "opened twice";
    } catch (const ECommOpenError& e) {
        EXPECT_EQ(e.Errno, EBUSY);
        EXPECT_EQ(e.Device, pty.SlavePath());
        const std::vector<std::string> holders = ProcessesHolding(e.Device);
        const std::string self = std::to_string(::getpid()) + " (";
        EXPECT_TRUE(std::any_of(holders.begin(), holders.end(), [&](const std::string& h) { return h.rfind(self, 0) == 0; }))
            << ::testing::PrintToString(holders);
    }
    first.Close();
}

}  // namespace
