// ternctl ports, "--port auto" and the line trace of a real run. A temporary
// folder stands in for /dev: symbolic links to pseudo-terminals are the
// devices (one with the virtual camera behind it), plain files the ones that
// are no terminal at all.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include "camera/pty_camera.h"
#include "cli/ports_command.h"
#include "link/pty_util.h"
#include "temp_dir.h"

using namespace tern;
using tern::test::Put;
using tern::test::Slurp;
using tern::test::TempDir;

namespace fs = std::filesystem;

namespace {

int RunCommand(const std::string& cmd, std::string& out) {
    FILE* f = popen(cmd.c_str(), "r");
    if (f == nullptr) return -1;
    char buf[256];
    while (fgets(buf, sizeof buf, f)) out += buf;
    return pclose(f);
}

/// ttyUSB0: the virtual camera (with a by-id name); ttyUSB1: a terminal
/// nobody answers on; ttyUSB2: a plain file.
struct Machine {
    Machine() {
        cam.Start();
        fs::create_directories(dev.File("serial/by-id"));
        fs::create_symlink(cam.DevicePath(), dev.File("ttyUSB0"));
        fs::create_symlink("../../ttyUSB0", dev.File("serial/by-id/usb-Camera_Cable-if00-port0"));
        fs::create_symlink(silent.SlavePath(), dev.File("ttyUSB1"));
        Put(dev.File("ttyUSB2"), "");
    }
    ~Machine() { cam.Stop(); }
    TempDir dev;
    camera::PtyCamera cam;
    test::Pty silent;
};

TEST(PortProbe, TellsTheCameraFromASilentPortAndAMissingOne) {
    Machine m;
    EXPECT_EQ(cli::ProbeForCamera(m.dev.File("ttyUSB0")), "camera answers");
    EXPECT_EQ(cli::ProbeForCamera(m.dev.File("ttyUSB1"), std::chrono::milliseconds(50)), "no answer");
    EXPECT_EQ(cli::ProbeForCamera(m.dev.File("ttyUSB9")), "cannot open: No such file or directory");
    EXPECT_EQ(cli::ProbeForCamera(m.dev.File("ttyUSB2")), "cannot open: Inappropriate ioctl for device");
}

struct AutoRow {
    const char* name;
    std::vector<const char*> devices;  // made in the folder standing in for /dev
    std::optional<std::string> port1, port2;
    bool ok;
    std::string com1, com2;  // "D/" stands for that folder
};

class PortAuto : public ::testing::TestWithParam<AutoRow> {};

TEST_P(PortAuto, ResolvesToTheListedPorts) {
    TempDir dev;
    for (const char* d : GetParam().devices) Put(dev.File(d), "");
    auto fill = [&](const std::string& s) { return s.rfind("D/", 0) == 0 ? dev.File(s.substr(2)) : s; };
    std::optional<std::string> p1 = GetParam().port1, p2 = GetParam().port2;
    std::string error;
    std::ostringstream note;
    const link::PortChecks checks{[](const std::string&) { return true; }, [](const std::string&) { return 0; }};
    ASSERT_EQ(cli::ResolveAutoPort(p1, p2, error, &note, dev.Path(), checks), GetParam().ok) << error;
    if (!GetParam().ok) {
        EXPECT_EQ(error, "--port auto: no serial ports were found in " + dev.Path() +
                             ": plug in the adapter, or name the device with --port");
        return;
    }
    EXPECT_EQ(p1.value_or(""), fill(GetParam().com1));
    EXPECT_EQ(p2.value_or(""), fill(GetParam().com2));
    if (GetParam().port1 == std::optional<std::string>("auto")) {
        EXPECT_EQ(note.str(),
                  "--port auto: COM1 is " + *p1 + ", COM2 is " + (p2->empty() ? "none (one port found)" : *p2) + "\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PortAuto,
    ::testing::Values(
        AutoRow{"usb_adapter_before_the_built_in_port", {"ttyS0", "ttyUSB0"}, "auto", std::nullopt, true, "D/ttyUSB0", "D/ttyS0"},
        AutoRow{"one_adapter_is_com1_and_there_is_no_com2", {"ttyUSB3"}, "auto", std::nullopt, true, "D/ttyUSB3", ""},
        AutoRow{"a_named_com2_is_kept", {"ttyUSB0", "ttyS0"}, "auto", "/dev/ttyS7", true, "D/ttyUSB0", "/dev/ttyS7"},
        AutoRow{"a_named_device_is_not_touched", {"ttyUSB0"}, "/dev/ttyS3", std::nullopt, true, "/dev/ttyS3", ""},
        AutoRow{"no_ports_is_refused_with_what_to_do", {}, "auto", std::nullopt, false, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExceptionText, AnOpenErrorKeepsItsOwnLineAndAddsTheDeviceAndRemedy) {
    const link::ECommOpenError e(-1, "Permission denied", "/dev/ttyUSB0", EACCES);
    EXPECT_EQ(link::ExceptionText(e),
              "オープンエラー ErrorCode = -1\n/dev/ttyUSB0: Permission denied\n"
              "add the user to the dialout group (sudo usermod -aG dialout $USER, then log in again)");
}

#ifdef TERNCTL_PATH
TEST(TernctlPorts, ListsAndProbesThePorts) {
    Machine m;
    const std::string d = m.dev.Path();
    std::string out;
    int rc = RunCommand(std::string(TERNCTL_PATH) + " ports --dev " + d + " 2>&1", out);
    EXPECT_EQ(WEXITSTATUS(rc), 0) << out;
    EXPECT_EQ(out, d + "/ttyUSB0  usb-Camera_Cable-if00-port0  read/write\n" +  //
                       d + "/ttyUSB1  -  read/write\n" +                      //
                       d + "/ttyUSB2  -  read/write\n");
    out.clear();
    rc = RunCommand(std::string(TERNCTL_PATH) + " ports --probe --dev " + d + " 2>&1", out);
    EXPECT_EQ(WEXITSTATUS(rc), 0) << out;
    EXPECT_EQ(out, d + "/ttyUSB0  usb-Camera_Cable-if00-port0  read/write  camera answers\n" +  //
                       d + "/ttyUSB1  -  read/write  no answer\n" +                            //
                       d + "/ttyUSB2  -  read/write  cannot open: Inappropriate ioctl for device\n");
    out.clear();
    rc = RunCommand(std::string(TERNCTL_PATH) + " ports --json --probe --dev " + d + " 2>/dev/null", out);
    EXPECT_EQ(WEXITSTATUS(rc), 0) << out;
    const nlohmann::json ports = nlohmann::json::parse(out.substr(0, out.find('\n'))).at("ports");
    ASSERT_EQ(ports.size(), 3u) << out;
    EXPECT_EQ(ports[0].at("probe"), "camera answers");
    EXPECT_NE(ports[0].at("by_id").get<std::string>().find("usb-Camera_Cable-if00-port0"), std::string::npos);
    EXPECT_EQ(ports[1].at("by_id"), nullptr);
    EXPECT_EQ(ports[2].at("accessible"), true);
}

TEST(TernctlPorts, NoPortsSaysWhatToDo) {
    TempDir empty;
    std::string out;
    const int rc = RunCommand(std::string(TERNCTL_PATH) + " ports --dev " + empty.Path() + " 2>&1", out);
    EXPECT_EQ(WEXITSTATUS(rc), 1);
    EXPECT_EQ(out, "ternctl ports: no serial ports were found in " + empty.Path() + ": plug in the adapter and run it again\n");
}

TEST(TernctlTrace, ProbeWritesTheExchangeDecoded) {
    camera::PtyCamera cam;
    cam.Start();
    TempDir dir;
    std::string out;
    const int rc = RunCommand(std::string(TERNCTL_PATH) + " probe --port " + cam.DevicePath() + " --trace " +
                                  dir.File("trace.txt") + " 2>&1",
                              out);
    EXPECT_EQ(WEXITSTATUS(rc), 0) << out;
    cam.Stop();
    const std::string t = Slurp(dir.File("trace.txt"));
    // The handshake, then the first read of the Debug page's chain and its reply, in order.
    std::size_t at = 0;
    for (const char* line : {" tool>cam  = ENQ: connection request\n", " cam>tool  = ACK: accepted\n",
                             " tool>cam  = EOT: connection accepted\n",
                             " tool>cam  = command: read (31), item 0A DSP register, register 01, check code 431F good\n",
                             " cam>tool  = reply: status A0 accepted, item 0A DSP register, register 01, value 4000, "
                             "check code 7F4C good\n",
                             " tool>cam  = ACK: reply received\n"}) {
        const std::size_t next = t.find(line, at);
        ASSERT_NE(next, std::string::npos) << line << "\nin\n" << t;
        at = next;
    }
}

TEST(TernctlOpenError, ProbeOfAMissingDeviceNamesItOnceWithThePortsPresent) {
    std::string out;
    const int rc = RunCommand(std::string(TERNCTL_PATH) + " probe --port /nonexistent/ttyUSB0 --port2 /nonexistent/ttyUSB0 2>&1", out);
    EXPECT_EQ(WEXITSTATUS(rc), 1) << out;
    const std::string line = "\n/nonexistent/ttyUSB0: No such file or directory\n";
    const std::size_t first = out.find(line);
    ASSERT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find(line, first + 1), std::string::npos) << "shown once for the three attempts\n" << out;
    EXPECT_TRUE(out.find("\nserial ports present:\n") != std::string::npos ||
                out.find("\nno serial ports were found in /dev") != std::string::npos)
        << out;
}
#endif

}  // namespace
