// Cameras behind a real terminal server: one ser2net on 127.0.0.1, its ports
// (Telnet with the COM-port option, and plain TCP) connected to virtual
// cameras' pseudo-terminals. ternctl (and ternab) run as programs against
// them; the link runs here on its own event loop for the loss and reconnect.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "camera/pty_camera.h"
#include "cli/console_host.h"
#include "cli/ser2net_rig.h"
#include "link/codec.h"
#include "link/comm.h"
#include "link/comm_net.h"
#include "link/event_loop.h"
#include "temp_dir.h"
#include "transfer/SettingsFile.h"

using namespace tern;
using namespace std::chrono_literals;
using test::Ser2net;
using test::Slurp;
using test::TempDir;

namespace {

struct Outcome {
    int rc = -1;
    std::string out;
    std::string err;
};

/// A program line started (ended after a minute with 124 if it hangs);
/// Finish waits for it and collects its output.
class Started {
public:
    Started(const TempDir& dir, const std::string& line, const std::string& errName = "stderr.txt")
        : errPath_(dir.File(errName)), pipe_(::popen(("timeout 60 " + line + " 2>" + errPath_).c_str(), "r")) {}
    Outcome Finish() {
        Outcome r;
        if (pipe_ == nullptr) return r;
        char buf[512];
        while (std::fgets(buf, sizeof buf, pipe_)) r.out += buf;
        const int status = ::pclose(pipe_);
        pipe_ = nullptr;
        r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.err = Slurp(errPath_);
        return r;
    }

private:
    std::string errPath_;
    FILE* pipe_;
};

Outcome RunLine(const TempDir& dir, const std::string& line) { return Started(dir, line).Finish(); }

Outcome Ctl(const TempDir& dir, const std::string& args) { return RunLine(dir, std::string(TERNCTL_PATH) + " " + args); }

/// Mostly 0xFFFF (every byte of the frames that carry it is 0xFF, escaped on
/// a Telnet line), with a counting word every seventh so a shifted word shows.
camera::MemoryImage MostlyOnes(std::uint16_t seed) {
    camera::MemoryImage m{};
    for (std::size_t a = 0; a < m.size(); ++a) m[a] = a % 7 == 0 ? static_cast<std::uint16_t>(a + seed) : 0xFFFF;
    return m;
}

struct Camera {
    explicit Camera(const camera::MemoryImage& memory) {
        cam.Start();
        cam.WithModel([&](camera::CameraModel& m) { m.SetMemory(memory); });
    }
    camera::MemoryImage Memory() { return cam.WithModel([](camera::CameraModel& m) { return m.Memory(); }); }
    camera::PtyCamera cam;
};

std::string FileOf(const camera::MemoryImage& m) {
    transfer::MemoryWords w{};
    for (std::size_t i = 0; i < w.size(); ++i) w[i] = m[i];
    return transfer::FormatSettingsFile(w);
}

std::string Port(const std::string& url) { return " --port " + url + " "; }

}  // namespace

// Every command on both kinds of port: probe, backup of a memory that is
// mostly 0xFFFF, restore --batch --verify into another camera, set and get.
class ThroughTerminalServer : public ::testing::TestWithParam<bool> {};

TEST_P(ThroughTerminalServer, ProbeBackupRestoreSetGet) {
    TempDir dir;
    const std::string file = dir.File("cam.dat");
    Camera a(MostlyOnes(1)), b(MostlyOnes(0x4000));
    Ser2net server(dir.Path(), {{a.cam.DevicePath(), GetParam()}, {b.cam.DevicePath(), GetParam()}});
    const std::string portA = Port(server[0].Url()), portB = Port(server[1].Url());

    const Outcome probe = Ctl(dir, "probe" + portA);
    ASSERT_EQ(probe.rc, 0) << probe.err;
    EXPECT_EQ(probe.out, "Hi-Resolution\nNTSC\n");

    const Outcome backup = Ctl(dir, "backup --quiet" + portA + file);
    ASSERT_EQ(backup.rc, 0) << backup.err;
    EXPECT_EQ(Slurp(file), FileOf(a.Memory()));

    const Outcome restore = Ctl(dir, "restore --batch --verify --quiet" + portB + file);
    ASSERT_EQ(restore.rc, 0) << restore.err;
    const camera::MemoryImage now = b.Memory(), want = a.Memory();
    for (std::size_t i = 0; i < 0x1FF; ++i) ASSERT_EQ(now[i], want[i]) << i;

    const Outcome set = Ctl(dir, "set" + portA + "AGC_MAX=2 Sync=VBS");
    ASSERT_EQ(set.rc, 0) << set.err;
    EXPECT_EQ(Ctl(dir, "get" + portA + "AGC_MAX Sync").out, "AGC_MAX=2\nSync=VBS\n");
    // The remark on the modem lines a pseudo-terminal lacks: once a run, and
    // only where the server is asked to set them.
    const std::size_t remarks = [&] {
        std::size_t n = 0;
        for (std::size_t at = 0; (at = backup.err.find("did not confirm", at)) != std::string::npos; ++at) ++n;
        return n;
    }();
    EXPECT_EQ(remarks, GetParam() ? 1u : 0u) << backup.err;
}

INSTANTIATE_TEST_SUITE_P(Ports, ThroughTerminalServer, ::testing::Bool(),
                         [](const auto& info) { return info.param ? std::string("Rfc2217") : std::string("RawTcp"); });

TEST(TerminalServer, FourCamerasBehindFourPortsBackedUpAtOnce) {
    TempDir dir;
    std::vector<std::unique_ptr<Camera>> cams;
    std::vector<Ser2net::Port> ports;
    for (int i = 0; i < 4; ++i) {
        cams.push_back(std::make_unique<Camera>(MostlyOnes(static_cast<std::uint16_t>(0x100 * (i + 1)))));
        ports.push_back({cams.back()->cam.DevicePath(), i % 2 == 0});
    }
    Ser2net server(dir.Path(), ports);
    std::string args = "backup --quiet";
    for (std::size_t i = 0; i < server.size(); ++i) args += Port(server[i].Url());
    const Outcome r = Ctl(dir, args + dir.File("cam-{n}.dat"));
    ASSERT_EQ(r.rc, 0) << r.err;
    std::set<std::string> want, got;
    for (auto& c : cams) want.insert(FileOf(c->Memory()));
    for (int n = 1; n <= 4; ++n) got.insert(Slurp(dir.File("cam-" + std::to_string(n) + ".dat")));
    EXPECT_EQ(got, want);
}

// What the user is told when there is nothing to reach: the host, the reason, what to check.
TEST(TerminalServer, OpenErrorsNameTheHostTheReasonAndWhatToCheck) {
    TempDir dir;
    const int nobody = test::FreeTcpPort();
    const test::SilentServer silent;
    struct Case {
        std::string port;
        std::string reason;
        std::string check;
    };
    const Case cases[] = {
        {"rfc2217://127.0.0.1:" + std::to_string(nobody), "127.0.0.1 refused the connection on port " + std::to_string(nobody),
         "check that the terminal server is on"},
        {"tcp://no-such-camera.invalid:4001", "the host name no-such-camera.invalid was not found", "check its spelling"},
        {"rfc2217://cams-7", "the TCP port is missing", "cams-7:4001"},
        {"tcp://127.0.0.1:" + std::to_string(silent.Port()), "127.0.0.1 did not answer within 3 s (timed out)",
         "check the address, that the terminal server is on and that no firewall"},
    };
    // At once: each tries its port on three ticks of the link before it gives up.
    std::vector<std::unique_ptr<Started>> runs;
    for (const Case& c : cases)
        runs.push_back(std::make_unique<Started>(dir, std::string(TERNCTL_PATH) + " probe" + Port(c.port),
                                                 "stderr" + std::to_string(runs.size()) + ".txt"));
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const Case& c = cases[i];
        const Outcome r = runs[i]->Finish();
        EXPECT_NE(r.rc, 0) << c.port;
        EXPECT_NE(r.err.find(c.port + ": " + c.reason), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.check), std::string::npos) << r.err;
    }
}

TEST(TerminalServer, PortNamesMadeFileNameSafe) {
    EXPECT_EQ(link::PortFileName("rfc2217://cams-7:4001"), "rfc2217-cams-7-4001");
    EXPECT_EQ(link::PortFileName("tcp://[fe80::1]:4001"), "tcp-fe80-1-4001");
    EXPECT_EQ(link::PortFileName("/dev/serial/by-id/usb-FTDI_A50285BI-if00"), "usb-FTDI_A50285BI-if00");
    EXPECT_EQ(link::PortFileName("tcp://..:1"), "tcp-..-1");
    EXPECT_EQ(link::PortFileName("/dev/.."), "port");
}

// The link on an rfc2217 port: frames whose every data byte, and a check
// code, is 0xFF; the server stopped (a loss, as a pulled adapter) and
// started again (the link reconnects by itself and reads the page again).
TEST(TerminalServerLink, FramesOfFFThenLossAndReconnect) {
    TempDir dir;
    camera::PtyCamera cam;
    cam.Start();
    Ser2net server(dir.Path(), {{cam.DevicePath(), true}});
    const std::string url = server[0].Url();
    link::EventLoop loop;
    link::TComm comm(link::PortDevices{url, url});
    cli::ConsoleHost host(loop, comm);
    host.quiet = true;
    int replies = 0;
    host.onReply = [&] { ++replies; };
    std::vector<std::string> lost, notices;
    comm.SetNotifier(&loop);
    comm.OnCommReceive = [&](link::TComm& c, std::uint16_t n) { host.Link().OnCommReceive(c, n); };
    comm.OnCommLost = [&](link::TComm&, const std::string& reason) {
        lost.push_back(reason);
        host.PostToEventThread([&] { host.Link().PortLost(); });
    };
    comm.OnCommNotice = [&](link::TComm&, const std::string& text) { notices.push_back(text); };
    host.Link().Trans_Create();
    ASSERT_TRUE(loop.RunUntil([&] { return host.chainsCompleted > 0; }, 15s));

    auto exchange = [&](const link::Payload& p, int n) {
        const int before = replies;
        if (!host.Link().Trans_chk()) return false;
        host.Link().StxCommand(p, n);
        return loop.RunUntil([&] { return replies > before; }, 10s);
    };
    // A value whose write frame ends in a check code with a byte 0xFF.
    link::Payload write;
    write[1] = 0x21;
    write[2] = 0x0C;
    write[3] = 0x00;
    write[4] = 0x42;
    write[5] = 0xFF;
    bool found = false;
    for (int lo = 0; lo < 255 && !found; ++lo) {
        write[6] = static_cast<std::uint8_t>(lo);
        const link::FrameBytes f = link::BuildStxFrame(write, 6);
        found = f[f.size() - 2] == 0xFF || f[f.size() - 1] == 0xFF;
    }
    ASSERT_TRUE(found) << "no check code with a byte 0xFF";
    link::Payload read;
    read[1] = 0x31;
    read[2] = 0x0C;
    read[3] = 0x00;
    read[4] = 0x42;
    for (const std::uint8_t lo : {write[6], std::uint8_t{0xFF}}) {
        write[6] = lo;
        ASSERT_TRUE(exchange(write, 6));
        ASSERT_TRUE(exchange(read, 4));
        EXPECT_EQ(host.Link().Recv(5), 0xFF);
        EXPECT_EQ(host.Link().Recv(6), lo);
    }
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("did not confirm DTR on"), std::string::npos) << notices[0];
    EXPECT_TRUE(comm.DsrState()) << "a server without modem lines: DSR is taken as on";

    server.Stop();
    ASSERT_TRUE(loop.RunUntil([&] { return host.Link().Mode() == link::LinkMode::Lost; }, 10s));
    ASSERT_EQ(lost.size(), 1u);
    // The server ends: its kernel closes the socket with FIN, or with RST
    // when a byte of ours was still unread there; either is the loss.
    EXPECT_TRUE(lost[0] == "the terminal server closed the connection" || lost[0] == "the connection was reset")
        << lost[0];
    const int chains = host.chainsCompleted;
    // Retried silently on each tick while nobody listens.
    for (int tick = 0; tick < 3; ++tick) host.Link().SendTimerTimer();
    EXPECT_EQ(host.Link().Mode(), link::LinkMode::Lost);
    EXPECT_TRUE(host.messages.empty());

    {
        // The server's host goes silent: each try leaves its connect under
        // way for the next tick instead of waiting the bound out.
        const test::SilentServer silent(server[0].tcpPort);
        for (int tick = 0; tick < 3; ++tick) host.Link().SendTimerTimer();
        EXPECT_EQ(host.Link().Mode(), link::LinkMode::Lost);
        EXPECT_TRUE(host.messages.empty());
    }
    server.Start();
    ASSERT_TRUE(loop.RunUntil([&] { return host.chainsCompleted > chains; }, 20s));
    EXPECT_NE(host.Link().Mode(), link::LinkMode::Lost);
    ASSERT_TRUE(exchange(read, 4));
    EXPECT_EQ(host.Link().Recv(5), 0xFF);
    EXPECT_EQ(lost.size(), 1u);
    EXPECT_EQ(notices.size(), 1u) << "said once for the life of the port";
    host.Link().Close();
    cam.Stop();
}

#ifdef TERNAB_PATH
// The window's start-up chain through the terminal server: ternab on an
// rfc2217 port, offscreen, reads the first page (the camera sees its reads)
// and saves its picture.
TEST(TerminalServerWindow, StartUpChainOnANetworkPort) {
    TempDir dir;
    Camera cam(MostlyOnes(7));
    Ser2net server(dir.Path(), {{cam.cam.DevicePath(), true}});
    const std::string shot = dir.File("shot.png"), trace = dir.File("trace.txt");
    const Outcome r = RunLine(dir, "env HOME=" + dir.Path() + " XDG_CONFIG_HOME=" + dir.Path() +
                                   " QT_QPA_PLATFORM=offscreen " + TERNAB_PATH + Port(server[0].Url()) +
                                   "--trace " + trace + " --screenshot " + shot);
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_FALSE(Slurp(shot).empty());
    const std::string lines = Slurp(trace);
    EXPECT_NE(lines.find("= EOT: connection accepted"), std::string::npos) << lines;
    EXPECT_GE(cam.cam.PeerStatistics().framesReceived, 2u);
}
#endif
