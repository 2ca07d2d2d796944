// ternctl for a site of cameras: several cameras in one process, one file
// per camera, settings copied exactly, --from read safely, JSON a script can
// trust. Run as the program against virtual cameras on pseudo-terminals.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "camera/pty_camera.h"
#include "cli/many_cameras.h"
#include "link/protocol.h"
#include "temp_dir.h"
#include "transfer/Settings.h"

#ifdef TERNCTL_PATH

using namespace tern;
using nlohmann::json;
using test::Put;
using test::Slurp;
using test::TempDir;

namespace {

struct Outcome {
    int rc = -1;
    std::string out, err;
    int mostProcesses = 0;  ///< the most processes seen at once in the run's group
};

/// The processes whose process group is `pgid`.
int ProcessesIn(pid_t pgid) {
    int n = 0;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return 0;
    while (dirent* e = ::readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        // A process may end between the listing and the read (the read then fails with ESRCH):
        // plain calls, whose failure only skips it.
        const int fd = ::open((std::string("/proc/") + e->d_name + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        char buf[1024];
        const ssize_t got = ::read(fd, buf, sizeof buf);
        ::close(fd);
        if (got <= 0) continue;
        const std::string text(buf, static_cast<std::size_t>(got));
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(text.substr(close + 2));
        std::string state;
        long ppid = 0, group = 0;
        fields >> state >> ppid >> group;
        if (group == pgid && state != "Z") ++n;
    }
    ::closedir(proc);
    return n;
}

/// Runs ternctl with `args` (split at spaces; "~" is a space inside one) in a process group of its own,
/// with `env` added, watched: more than a handful of processes in the group,
/// or a run past the bound, ends the whole group.
Outcome Ctl(const TempDir& dir, const std::string& args, const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {TERNCTL_PATH};
    std::istringstream words(args);
    for (std::string w; words >> w;) {
        std::replace(w.begin(), w.end(), '~', ' ');  // "~" stands for a space inside an argument
        argv.push_back(w);
    }
    const std::string outPath = dir.File("stdout.txt"), errPath = dir.File("stderr.txt");
    // Everything the child needs is built here: the virtual cameras' threads
    // run while this one forks, and a child that allocated before exec could
    // wait for ever on an allocator lock one of them held.
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& x) { return x.rfind(name, 0) == 0; });
        if (!replaced) environment.push_back(entry);
    }
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char*> cargv, cenv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    for (std::string& e : environment) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execve(cargv[0], cargv.data(), cenv.data());
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    Outcome r;
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        r.mostProcesses = std::max(r.mostProcesses, ProcessesIn(pid));
        if (r.mostProcesses > 5 || std::chrono::steady_clock::now() > bound) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the watch's pace, no synchronisation
    }
    ::kill(-pid, SIGKILL);  // anything the run left in its group
    r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = Slurp(outPath);
    r.err = Slurp(errPath);
    if (!WIFEXITED(status)) {
        r.err += std::string("[the test stopped ternctl: ") + (r.mostProcesses > 5 ? "more than 5 processes" : "still running after 60 s") + "]\n";
    }
    return r;
}

struct Camera {
    explicit Camera(camera::CameraOptions options = {}) : cam(options) { cam.Start(); }
    std::string Port() const { return " --port " + cam.DevicePath() + " "; }
    std::string Dev() const { return cam.DevicePath(); }
    std::uint64_t Commands() { return cam.WithModel([](camera::CameraModel& m) { return m.CommandsSeen(); }); }
    std::uint64_t Item(std::uint8_t item) { return cam.WithModel([item](camera::CameraModel& m) { return m.ItemCount(item); }); }
    camera::PtyCamera cam;
};

/// The JSON objects of a run, one a line: the cameras' by device, the summary under "".
std::map<std::string, json> Objects(const std::string& out) {
    std::map<std::string, json> objects;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const json j = json::parse(line);
        objects[j.at("type") == "summary" ? "" : j.at("device").is_null() ? "-" : j.at("device").get<std::string>()] = j;
    }
    return objects;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
    return n;
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// LeakSanitizer checks at exit from a task of its own in the process's group.
constexpr int kOwnProcesses = 2;
#else
constexpr int kOwnProcesses = 1;
#endif

// A --port without a device once made every run start copies of ternctl
// without end. Now every camera runs in this one process.
TEST(TernctlSite, PortWithoutADeviceIsAUsageErrorAndCamerasShareOneProcess) {
    TempDir dir;
    Camera a, b;
    for (const char* args : {"set --port --port --port /nonexistent AGC_MAX=3", "get --json --port --port --port --port",
                             "backup --port --port2 x.dat"}) {
        const Outcome r = Ctl(dir, args);
        EXPECT_EQ(r.mostProcesses <= kOwnProcesses, true) << args << ": " << r.mostProcesses << " processes";
        EXPECT_EQ(r.rc, 2) << args << "\n" << r.err;
        EXPECT_NE(r.err.find("--port needs a device after it"), std::string::npos) << r.err;
    }
    const Outcome r = Ctl(dir, "get" + a.Port() + b.Port() + "Sync");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_LE(r.mostProcesses, kOwnProcesses);
    EXPECT_NE(r.out.find(a.Dev() + ": Sync=INT"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(b.Dev() + ": Sync=INT"), std::string::npos) << r.out;
}

// What each camera writes must be its own file, checked before any camera
// hears a byte; the usage error is said once.
TEST(TernctlSite, FilesThatSeveralCamerasWouldShareAreRefusedBeforeAnythingIsSent) {
    TempDir dir;
    Camera a, b, c;
    const std::string cams = a.Port() + b.Port() + c.Port();
    const std::string d = dir.Path() + "/";
    for (const std::string& args :
         {"backup --trace " + d + "tr-{n}.txt" + cams + d + "cam.dat", "backup" + cams + "--trace " + d + "tr.txt " + d + "cam-{n}.dat",
          "get --trace " + d + "tr.txt" + cams, "backup" + a.Port() + a.Port() + d + "cam-{n}.dat",
          "set" + cams + "Sync=EXT"}) {
        const Outcome r = Ctl(dir, args);
        EXPECT_EQ(r.rc, 2) << args << "\n" << r.err;
        EXPECT_EQ(Count(r.err, "Run 'ternctl") + Count(r.err, "allowed: INT, LINE, VBS"), 1u) << "said once:\n" << r.err;
        for (const std::string& f : dir.Entries()) EXPECT_TRUE(f == "stdout.txt" || f == "stderr.txt") << f << " was written";
    }
    EXPECT_EQ(a.Commands() + b.Commands() + c.Commands(), 0u);
}

TEST(TernctlSite, DevicesWhoseNamesDifferInSeparatorsGetTheirOwnFiles) {
    TempDir dir;
    Camera a, b;
    a.cam.WithModel([](camera::CameraModel& m) { m.SetMemoryWord(0x12, 0x0AAA); });
    b.cam.WithModel([](camera::CameraModel& m) { m.SetMemoryWord(0x12, 0x0BBB); });
    std::filesystem::create_directories(dir.File("x/a"));
    ASSERT_TRUE(a.cam.MakeLink(dir.File("x/a/b")));
    ASSERT_TRUE(b.cam.MakeLink(dir.File("x/a-b")));
    const Outcome r =
        Ctl(dir, "backup --port " + dir.File("x/a/b") + " --port " + dir.File("x/a-b") + " " + dir.File("cam-{port}.dat"));
    ASSERT_EQ(r.rc, 0) << r.err;
    std::set<std::string> backups;
    for (const std::string& f : dir.Entries()) {
        if (f.rfind("cam-", 0) == 0) backups.insert(f);
    }
    ASSERT_EQ(backups.size(), 2u);
    EXPECT_EQ(Count(r.err, "wrote "), 2u) << r.err;
    std::string both;
    for (const std::string& f : backups) both += Slurp(dir.File(f));
    EXPECT_NE(both.find("210C00120AAA"), std::string::npos);
    EXPECT_NE(both.find("210C00120BBB"), std::string::npos);

    // One camera: its {port} is its name too, and a port the other side of a URL stays one name.
    const Outcome one = Ctl(dir, "backup --quiet" + a.Port() + dir.File("one-{port}.dat"));
    ASSERT_EQ(one.rc, 0) << one.err;
    EXPECT_EQ(one.err, "") << "--quiet silences the success line";
    EXPECT_TRUE(std::filesystem::exists(dir.File("one-" + cli::FileSafeName(a.Dev()) + ".dat")));
    std::set<std::string> names;
    for (const char* dev : {"/x/a/b", "/x/a-b", "/x/a_b", "rfc2217://h:4001", "rfc2217_h_4001", "tcp://h:4001", "/dev/ttyUSB0"}) {
        const std::string name = cli::FileSafeName(dev);
        EXPECT_EQ(name.find_first_of("/:\\"), std::string::npos) << name;
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 7u);
}

// wb_select and the Adjust page's wb_sel write one byte of the camera: a
// camera on MANUAL copied with --service stays on MANUAL.
TEST(TernctlSite, SettingsThatShareAByteAreSentAsOneValue) {
    TempDir dir;
    Camera a, b;
    ASSERT_EQ(Ctl(dir, "set" + a.Port() + "wb_select=MANUAL").rc, 0);
    const Outcome got = Ctl(dir, "get --json" + a.Port());
    ASSERT_EQ(got.rc, 0) << got.err;
    Put(dir.File("a.json"), Objects(got.out).at(a.Dev()).dump());
    const Outcome set = Ctl(dir, "set --service --from " + dir.File("a.json") + b.Port());
    ASSERT_EQ(set.rc, 0) << set.err;
    EXPECT_EQ(Ctl(dir, "get" + b.Port() + "wb_select wb_sel").out, "wb_select=MANUAL\nwb_sel=off\n");
    const std::uint64_t before = b.Commands();
    const Outcome clash = Ctl(dir, "set --service wb_select=MANUAL wb_sel=on" + b.Port());
    EXPECT_EQ(clash.rc, 2) << clash.err;
    EXPECT_NE(clash.err.find("set one byte of the camera differently"), std::string::npos) << clash.err;
    EXPECT_EQ(b.Commands(), before);
}

// --from is read as a settings file is: a regular file of a sane size,
// never the trace's target, refused before the port is opened.
TEST(TernctlSite, FromFileIsNeverDestroyedNorWaitedOnNorReadWhole) {
    TempDir dir;
    Camera a;
    Put(dir.File("site.txt"), "Sync=LINE\n");
    std::filesystem::create_symlink(dir.File("site.txt"), dir.File("link.txt"));
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    {
        std::ofstream big(dir.File("big.txt"));
        big << "not a setting\n" << std::string(2 << 20, 'x');
    }
    struct Case {
        std::string args, says;
    };
    for (const Case& c : {Case{"--from " + dir.File("site.txt") + " --trace " + dir.File("site.txt"), "is the --from file"},
                          Case{"--from " + dir.File("site.txt") + " --trace " + dir.File("link.txt"), "is the --from file"},
                          Case{"--from /dev/zero", "not a regular file"}, Case{"--from " + dir.File("fifo"), "not a regular file"},
                          Case{"--from " + dir.File("big.txt"), "too large"}}) {
        const Outcome r = Ctl(dir, "set" + a.Port() + c.args);
        EXPECT_TRUE(r.rc == 1 || r.rc == 2) << c.args << ": " << r.rc;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
    }
    EXPECT_EQ(Slurp(dir.File("site.txt")), "Sync=LINE\n");
    EXPECT_EQ(a.Commands(), 0u);

    // A JSON file with a byte-order mark is read as any other.
    Put(dir.File("bom.json"), "\xEF\xBB\xBF{\"settings\":{\"Sync\":\"VBS\"}}");
    EXPECT_EQ(Ctl(dir, "set" + a.Port() + "--from " + dir.File("bom.json")).rc, 0);
    EXPECT_EQ(Ctl(dir, "get" + a.Port() + "Sync").out, "Sync=VBS\n");
}

TEST(TernctlSite, NamesValuesAndRangesAreCheckedAsTheWindowWould) {
    TempDir dir;
    Camera a;
    // Two values for one setting on the command line: neither is sent.
    Outcome r = Ctl(dir, "set" + a.Port() + "AGC_MAX=3 AGC_MAX=5");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("AGC_MAX is given twice, as 3 and 5"), std::string::npos) << r.err;
    EXPECT_EQ(a.Commands(), 0u);
    // The command line over the file, said.
    Put(dir.File("f.txt"), "AGC_MAX=2\n");
    r = Ctl(dir, "set" + a.Port() + "AGC_MAX=5 --from " + dir.File("f.txt"));
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.err.find("AGC_MAX=5 from the command line is sent, not"), std::string::npos) << r.err;
    EXPECT_EQ(a.Item(link::kItemAgc), 1u) << "one value sent";
    // Any case, a grid's cell, and the nearest names for a mistyped one.
    ASSERT_EQ(Ctl(dir, "set" + a.Port() + "blccheck07=on").rc, 0);
    EXPECT_EQ(Ctl(dir, "get" + a.Port() + "agc_max BLCCheck07 BLCCheck08").out, "BLCCheck07=on\nBLCCheck08=off\nAGC_MAX=5\n");
    r = Ctl(dir, "get" + a.Port() + "agc_mx");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("did you mean AGC_MAX"), std::string::npos) << r.err;
    // The vertical phase's range is the camera's: its bar stops where the camera says.
    const std::uint64_t syncs = a.Item(link::kItemSync);
    r = Ctl(dir, "set" + a.Port() + "v_pha_lvl=60000");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("this camera allows 0 to "), std::string::npos) << r.err;
    EXPECT_EQ(a.Item(link::kItemSync), syncs);
    // Digits of one word (the CCD delays): the word is read, and sent whole once.
    const std::string before = Ctl(dir, "get" + a.Port() + "rg_width shd_delay").out;
    const std::uint64_t delays = a.Item(link::kItemDelay);
    ASSERT_EQ(Ctl(dir, "set --service" + a.Port() + "shp_delay=a RG_DELAY=3").rc, 0);
    EXPECT_EQ(a.Item(link::kItemDelay), delays + 2) << "one read, one write";
    EXPECT_EQ(Ctl(dir, "set" + a.Port() + "shp_delay=4").rc, 2) << "behind the service unlock";
    EXPECT_EQ(Ctl(dir, "set --service" + a.Port() + "shp_delay=G").rc, 2);
    EXPECT_EQ(a.Item(link::kItemDelay), delays + 2);
    EXPECT_EQ(Ctl(dir, "get" + a.Port() + "rg_width shd_delay shp_delay rg_delay").out, before + "shp_delay=A\nrg_delay=3\n");
    // A selector the camera never reports is sent, and get says it cannot read it.
    const std::uint64_t uses = a.Item(link::kItemUse);
    EXPECT_EQ(Ctl(dir, "set --service" + a.Port() + "hvpha_disp_sel=H~Phase").rc, 0);
    EXPECT_EQ(a.Item(link::kItemUse), uses + 1);
    r = Ctl(dir, "get" + a.Port() + "hvpha_disp_sel");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("never reported by the camera"), std::string::npos) << r.err;
    // Why a port will not open.
    r = Ctl(dir, "get --port " + dir.File("gone") + " Sync");
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
}

TEST(TernctlSite, DryRunSendsNothingAndTheDefaultPortIsTernPort) {
    TempDir dir;
    Camera a;
    const std::vector<std::string> env = {"TERN_PORT=" + a.Dev()};
    const Outcome dry = Ctl(dir, "set --dry-run Sync=LINE", env);
    EXPECT_EQ(dry.rc, 0) << dry.err;
    EXPECT_EQ(dry.out, "Sync: 21 1C 00 01\n");
    EXPECT_EQ(a.Commands(), 0u) << "no port is opened for a dry run";
    EXPECT_EQ(Ctl(dir, "get Sync", env).out, "Sync=INT\n");

    std::filesystem::create_directories(dir.File("TernAB"));
    Put(dir.File("TernAB/TernAB.conf"), "[General]\nx=1\n\n[port]\nlast=/dev/ttyUSB3\n");
    EXPECT_EQ(cli::RememberedPort(dir.File("TernAB/TernAB.conf")), "/dev/ttyUSB3");
    EXPECT_EQ(cli::RememberedPort(dir.File("none.conf")), "");
}

// Registers and memory words as the Debug page reads and writes them: read
// by anyone, written only with --service.
TEST(TernctlSite, RegistersMemoryWordsAndMaskRectanglesByAddress) {
    TempDir dir;
    Camera a;
    a.cam.WithModel([](camera::CameraModel& m) { m.SetMemoryWord(0x1A, 0x0BEE); });
    EXPECT_EQ(Ctl(dir, "get" + a.Port() + "mem:1a Sync").out, "Sync=INT\nmem:01A=0BEE\n");
    const std::uint64_t before = a.Commands();
    const Outcome refused = Ctl(dir, "set" + a.Port() + "reg:2C=0123");
    EXPECT_EQ(refused.rc, 2);
    EXPECT_NE(refused.err.find("reg:2C is read-only without --service"), std::string::npos) << refused.err;
    EXPECT_EQ(Ctl(dir, "set --service" + a.Port() + "reg:2C=12345").rc, 2);
    EXPECT_EQ(a.Commands(), before);
    ASSERT_EQ(Ctl(dir, "set --service" + a.Port() + "reg:2c=0123 mem:01A=abcd").rc, 0);
    EXPECT_EQ(Ctl(dir, "get" + a.Port() + "reg:2C mem:01A").out, "reg:2C=0123\nmem:01A=ABCD\n");
    // A mask's rectangle, as the mask window reads and writes it.
    ASSERT_EQ(Ctl(dir, "set" + a.Port() + "mask:b=10,20,30,40").rc, 0);
    EXPECT_EQ(Ctl(dir, "get" + a.Port() + "MASK:B").out, "mask:B=10,20,30,40\n");
    EXPECT_EQ(Ctl(dir, "set" + a.Port() + "mask:B=30,20,10,40").rc, 2) << "x1 beyond x2";
    EXPECT_EQ(Ctl(dir, "get" + a.Port() + "mask:B").out, "mask:B=10,20,30,40\n");
    // A hue bar is its register's signed magnitude; the register's other bits stay.
    ASSERT_EQ(Ctl(dir, "set --service" + a.Port() + "reg:2C=FE20").rc, 0);
    ASSERT_EQ(Ctl(dir, "set --service" + a.Port() + "ryp=-17").rc, 0);
    EXPECT_EQ(Ctl(dir, "get" + a.Port() + "RYP reg:2C").out, "RYP=-17\nreg:2C=FF11\n");
    ASSERT_EQ(Ctl(dir, "set --service" + a.Port() + "reg:2C=0123").rc, 0);
    const Outcome again = Ctl(dir, "set --json --changed-only --service" + a.Port() + "reg:2C=0123 mem:01A=ABCE");
    EXPECT_EQ(Objects(again.out).at(a.Dev()).at("unchanged"), json::array({"reg:2C"}));
    EXPECT_EQ(Objects(again.out).at(a.Dev()).at("sent"), json::array({"mem:01A"}));
}

// Two cameras, or a camera and a file, compared by setting name.
TEST(TernctlSite, DiffBySettingNamesTheSettingsThatDiffer) {
    TempDir dir;
    Camera a, b;
    const Outcome set = Ctl(dir, "set" + a.Port() + "Sync=LINE AGC_MAX=3");
    ASSERT_EQ(set.rc, 0) << set.err;
    Put(dir.File("a.json"), Ctl(dir, "get --json" + a.Port()).out);
    Put(dir.File("b.txt"), Ctl(dir, "get" + b.Port()).out);
    for (const std::string& args : {"diff --settings " + dir.File("a.json") + " " + dir.File("b.txt"),
                                    "diff --settings " + dir.File("a.json") + b.Port()}) {
        const Outcome r = Ctl(dir, args);
        EXPECT_EQ(r.rc, 1) << args << "\n" << r.err;
        EXPECT_EQ(r.out, "AGC_MAX  3  6\nSync  LINE  INT\n") << args;
    }
    const Outcome same = Ctl(dir, "diff --json --settings " + dir.File("a.json") + a.Port());
    EXPECT_EQ(same.rc, 0) << same.err;
    EXPECT_EQ(Objects(same.out).at(a.Dev()).at("differences"), json::array());
}

TEST(TernctlSite, DescribeListsEverySettingForScripts) {
    TempDir dir;
    const Outcome r = Ctl(dir, "describe --json");
    ASSERT_EQ(r.rc, 0) << r.err;
    const auto objects = Objects(r.out);
    ASSERT_EQ(objects.at("").at("exit_status"), 0);
    std::set<std::string> described;
    std::istringstream lines(r.out);
    std::string first;
    std::getline(lines, first);
    const json parsed = json::parse(first);
    for (const json& s : parsed.at("settings")) {
        described.insert(s.at("name").get<std::string>());
        if (s.at("name") == "v_pha_lvl") {
            EXPECT_EQ(s.at("max_from_camera"), true);
        }
        if (s.at("name") == "shut_disp_sel") {
            EXPECT_EQ(s.at("service"), true);
        }
    }
    for (const transfer::Setting& s : transfer::Settings()) EXPECT_EQ(described.count(std::string(s.name)), 1u) << s.name;

    // With a camera: each setting's value, and the range the camera reports.
    Camera a;
    const Outcome withCamera = Ctl(dir, "describe --json" + a.Port());
    ASSERT_EQ(withCamera.rc, 0) << withCamera.err;
    const auto cameraObjects = Objects(withCamera.out);
    for (const json& s : cameraObjects.at(a.Dev()).at("settings")) {
        // A setting the camera never reports (write-only) has no value to show.
        EXPECT_EQ(s.contains("value"), !s.value("write_only", false)) << s;
        if (s.at("name") == "v_pha_lvl") {
            EXPECT_EQ(s.at("max"), 262) << "the NTSC camera's own maximum";
        }
    }
}

// Completion offers the commands, the setting names and a setting's values.
TEST(TernctlSite, BashCompletionOffersCommandsNamesAndValues) {
    TempDir dir;
    const std::string ctl = TERNCTL_PATH;
    const std::string script = "source " TERN_SOURCE_DIR "/src/cli/ternctl.bash; complete() { :; }; "
                               "t() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); _ternctl; echo \"${COMPREPLY[*]}\"; }; "
                               "t " + ctl + " des; t " + ctl + " set Sy; t " + ctl + " set Sync=; t " + ctl + " get --dry; t " + ctl + " set --dry";
    Put(dir.File("c.sh"), script);
    FILE* pipe = ::popen(("bash " + dir.File("c.sh") + " 2>&1").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, pipe)) out += buf;
    ::pclose(pipe);
    EXPECT_EQ(out, "describe\nSync=\nSync=INT Sync=LINE Sync=VBS\n\n--dry-run\n");
}

// A site's inventory and one change on every camera, read back as JSON,
// with a refusing, a gone and an always-corrupt camera among them.
TEST(TernctlSite, InventoryAndChangeOfASiteWithFaultyCamerasEndInATrueSummary) {
    TempDir dir;
    camera::CameraOptions refusing, corrupt;
    refusing.refuseItems = {link::kItemAgc};
    corrupt.corruptAll = true;
    Camera good, picky(refusing), gone, noisy(corrupt);
    // Its device stays taken while gone: a pseudo-terminal freed whole could
    // be handed to another test's camera, which ternctl would then reach.
    const int goneKept = ::open(gone.Dev().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(goneKept, 0);
    gone.cam.HangUp();
    const std::string all = good.Port() + picky.Port() + gone.Port() + noisy.Port();

    const Outcome inventory = Ctl(dir, "get --json" + all);
    EXPECT_EQ(inventory.rc, 1) << inventory.err;
    auto objects = Objects(inventory.out);
    ASSERT_EQ(objects.size(), 5u) << inventory.out;
    for (Camera* c : {&good, &picky}) {
        EXPECT_EQ(objects.at(c->Dev()).at("result"), "ok");
        const auto readable = std::count_if(transfer::Settings().begin(), transfer::Settings().end(),
                                            [](const transfer::Setting& s) { return !s.writeOnly; });
        EXPECT_EQ(static_cast<long>(objects.at(c->Dev()).at("settings").size()), readable);
    }
    for (Camera* c : {&gone, &noisy}) {
        const json& o = objects.at(c->Dev());
        EXPECT_EQ(o.at("result"), "failed");
        EXPECT_EQ(o.at("exit_status"), 1);
        EXPECT_TRUE(o.at("error").is_string() && !o.at("error").get<std::string>().empty()) << o;
    }
    EXPECT_EQ(objects.at("").at("cameras"), 4);
    EXPECT_EQ(objects.at("").at("ok"), 2);
    EXPECT_EQ(objects.at("").at("exit_status"), 1);

    const Outcome change = Ctl(dir, "set --json --changed-only AGC_MAX=5 Sync=INT" + all);
    EXPECT_EQ(change.rc, 1) << change.err;
    objects = Objects(change.out);
    ASSERT_EQ(objects.size(), 5u) << change.out;
    EXPECT_EQ(objects.at(good.Dev()).at("sent"), json::array({"AGC_MAX"}));
    EXPECT_EQ(objects.at(good.Dev()).at("unchanged"), json::array({"Sync"}));
    EXPECT_EQ(objects.at(picky.Dev()).at("result"), "failed");
    EXPECT_EQ(objects.at(picky.Dev()).at("not_accepted").at("AGC_MAX"), "the camera refused it (A8)");
    EXPECT_EQ(objects.at(gone.Dev()).at("result"), "failed");
    EXPECT_EQ(objects.at(noisy.Dev()).at("result"), "failed");
    EXPECT_EQ(objects.at("").at("ok"), 1);
    EXPECT_EQ(objects.at("").at("failed"), 3);

    // Again on the good camera: nothing differs, nothing is sent.
    const std::uint64_t agc = good.Item(link::kItemAgc);
    const Outcome again = Ctl(dir, "set --json --changed-only AGC_MAX=5" + good.Port());
    EXPECT_EQ(again.rc, 0) << again.err;
    EXPECT_EQ(Objects(again.out).at(good.Dev()).at("sent"), json::array());
    EXPECT_EQ(good.Item(link::kItemAgc), agc);
    ::close(goneKept);
}

#endif
