// ternctl backup / restore / show / diff, run as a program against virtual
// cameras on real pseudo-terminals, with real files in a temporary folder.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "camera/pty_camera.h"
#include "temp_dir.h"
#include "link/pty_util.h"
#include "transfer/SettingsFile.h"

#ifdef TERNCTL_PATH

using namespace tern;
using test::Exists;
using test::Put;
using test::Slurp;
using test::TempDir;

namespace {

struct Outcome {
    int rc = -1;
    std::string out;
    std::string err;
};

/// Starts ternctl with `args`; Finish() waits for it and collects its output.
class Ternctl {
public:
    Ternctl(const TempDir& dir, const std::string& args) : errPath_(dir.File("stderr.txt")) {
        const std::string cmd = std::string(TERNCTL_PATH) + " " + args + " 2>" + errPath_;
        pipe_ = ::popen(cmd.c_str(), "r");
    }
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
    FILE* pipe_ = nullptr;
};

Outcome Ctl(const TempDir& dir, const std::string& args) { return Ternctl(dir, args).Finish(); }

camera::MemoryImage Pattern(std::uint16_t seed) {
    camera::MemoryImage m{};
    for (std::size_t a = 0; a < m.size(); ++a) m[a] = static_cast<std::uint16_t>(a * 0x5A5Bu + seed);
    return m;
}

/// A virtual camera holding `memory`.
struct Camera {
    explicit Camera(const camera::MemoryImage& memory, camera::CameraOptions options = {}) : cam(options) {
        cam.Start();
        cam.WithModel([&](camera::CameraModel& m) { m.SetMemory(memory); });
    }
    camera::MemoryImage Memory() { return cam.WithModel([](camera::CameraModel& m) { return m.Memory(); }); }
    std::string Port() const { return " --port " + cam.DevicePath() + " --port2 /nonexistent/ternab-com2 "; }
    camera::PtyCamera cam;
};

int Lines(const std::string& s) {
    int n = 0;
    for (char c : s) n += c == '\n';
    return n;
}

}  // namespace

TEST(TernctlCopy, BackupRestoredIntoOtherCamerasLeavesNothingToDiff) {
    TempDir dir;
    const std::string file = dir.File("cam.dat");
    const camera::MemoryImage first = Pattern(0x1357);
    {
        Camera a(first);
        const Outcome r = Ctl(dir, "backup" + a.Port() + file);
        ASSERT_EQ(r.rc, 0) << r.err;
        EXPECT_TRUE(r.out.empty());
        EXPECT_NE(r.err.find("512/512"), std::string::npos) << "plain counts when stderr is no terminal: " << r.err;
        transfer::MemoryWords w{};
        for (std::size_t i = 0; i < w.size(); ++i) w[i] = first[i];
        EXPECT_EQ(Slurp(file), transfer::FormatSettingsFile(w));
    }
    for (const char* mode : {"--batch --verify", "--single"}) {
        Camera b(Pattern(0x2468));
        const Outcome before = Ctl(dir, "diff " + file + b.Port() + "--quiet");
        EXPECT_EQ(before.rc, 1) << before.err;
        EXPECT_EQ(Lines(before.out), 511) << "every word differs but 0x1FF, which the file does not name";
        EXPECT_EQ(before.out.substr(0, 16), "000  " + link::HexWordText(first[0]) + "  " + link::HexWordText(Pattern(0x2468)[0]) + "\n");

        const Outcome r = Ctl(dir, std::string("restore") + b.Port() + mode + " --quiet " + file);
        ASSERT_EQ(r.rc, 0) << mode << ": " << r.err;
        EXPECT_TRUE(r.err.empty()) << mode << ": --quiet: " << r.err;
        EXPECT_TRUE(r.out.empty()) << mode << ": " << r.out;

        const Outcome after = Ctl(dir, "diff " + file + b.Port() + "--quiet");
        EXPECT_EQ(after.rc, 0) << mode << ": " << after.out << after.err;
        EXPECT_TRUE(after.out.empty()) << mode;
        const camera::MemoryImage now = b.Memory();
        for (int i = 0; i < 511; ++i) ASSERT_EQ(now[static_cast<std::size_t>(i)], first[static_cast<std::size_t>(i)]) << mode << " " << i;
        EXPECT_EQ(now[0x1FF], Pattern(0x2468)[0x1FF]) << mode;
    }
}

TEST(TernctlCopy, VerifyListsTheWordsThatDifferFromTheFile) {
    TempDir dir;
    const std::string file = dir.File("cam.dat");
    // The register write that follows also stores register 0x24 in word 0x024,
    // so the camera ends up with another value than the file's word record.
    Put(file,
        "210C00241111000000000000000000\r\n"
        "210C01252222000000000000000000\r\n"
        "210A245555\r\n"
        "F10000000000000000000000000000\r\n");
    Camera cam(Pattern(1));
    const Outcome r = Ctl(dir, "restore" + cam.Port() + "--single --verify --quiet " + file);
    EXPECT_EQ(r.rc, 1) << r.err;
    EXPECT_EQ(r.out, "024  1111  5555\n");
    EXPECT_NE(r.err.find("1 word differs"), std::string::npos) << r.err;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
}

TEST(TernctlCopy, MalformedFileIsRefusedBeforeAnythingIsSent) {
    TempDir dir;
    const std::string bad = dir.File("bad.dat");
    Put(bad, "210C00010001000000000000000000\r\n210C0002XY01000000000000000000\r\n\r\nF10000000000000000000000000000\r\n");
    Camera cam(Pattern(5));
    for (const char* mode : {"--batch", "--single"}) {
        const Outcome r = Ctl(dir, std::string("restore") + cam.Port() + mode + " " + bad);
        EXPECT_EQ(r.rc, 1) << mode;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find("File read Error occured"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("line 2"), std::string::npos) << r.err;
    }
    EXPECT_EQ(cam.cam.Stats().bytesIn, 0u) << "the port was never even opened";
    EXPECT_EQ(cam.Memory(), Pattern(5));

    const Outcome show = Ctl(dir, "show " + bad);
    EXPECT_EQ(show.rc, 1);
    EXPECT_EQ(show.out, "001  0001\nline 2: not a record: not a hexadecimal digit at column 9\nline 4: reset\n");
    EXPECT_EQ(Lines(show.err), 1) << show.err;

    const Outcome diff = Ctl(dir, "diff " + bad + " " + bad);
    EXPECT_EQ(diff.rc, 2) << "trouble, as diff says it";
    EXPECT_NE(diff.err.find("line 2"), std::string::npos) << diff.err;
}

TEST(TernctlCopy, ShowAndDiffOfFiles) {
    TempDir dir;
    Put(dir.File("a.dat"), "210C00120ABC000000000000000000\r\n310C0013\r\n210C0200FFFF000000000000000000\r\n");
    Put(dir.File("b.dat"), "210c00120abd000000000000000000\r\n210C00140001000000000000000000\r\n");
    Put(dir.File("c.dat"), "210C00120ABC\r\n");
    const Outcome show = Ctl(dir, "show " + dir.File("a.dat"));
    EXPECT_EQ(show.rc, 0) << show.err;
    EXPECT_EQ(show.out, "012  0ABC\nline 2: command 31 0C 00 13\nline 3: word 0200 is beyond the memory\n");

    const Outcome ab = Ctl(dir, "diff " + dir.File("a.dat") + " " + dir.File("b.dat"));
    EXPECT_EQ(ab.rc, 1);
    EXPECT_EQ(ab.out, "012  0ABC  0ABD\n014  ----  0001\n");
    const Outcome ac = Ctl(dir, "diff " + dir.File("a.dat") + " " + dir.File("c.dat"));
    EXPECT_EQ(ac.rc, 0) << ac.out << ac.err;
    EXPECT_TRUE(ac.out.empty());
    EXPECT_EQ(Ctl(dir, "diff " + dir.File("a.dat")).rc, 2);
    EXPECT_EQ(Ctl(dir, "restore --port /dev/null " + dir.File("a.dat")).rc, 2) << "--single or --batch is needed";
    EXPECT_EQ(Ctl(dir, "show " + dir.File("absent.dat")).rc, 1);
}

// The command-line conventions every command keeps, as the user meets them.
struct LineCase {
    std::string args;      ///< "{dir}" stands for the test's folder
    int rc;
    std::string wanted;    ///< in stdout and stderr
    std::string unwanted;  ///< in neither
};

class TernctlCommandLine : public testing::TestWithParam<LineCase> {};

TEST_P(TernctlCommandLine, KeepsTheConventions) {
    TempDir dir;
    Put(dir.File("-x.dat"), "210C00120ABC000000000000000000\r\n");
    std::string args = GetParam().args;
    for (std::size_t at; (at = args.find("{dir}")) != std::string::npos;) args.replace(at, 5, dir.Path());
    const Outcome r = Ctl(dir, args);
    EXPECT_EQ(r.rc, GetParam().rc) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(GetParam().wanted), std::string::npos) << r.out << r.err;
    if (!GetParam().unwanted.empty()) {
        EXPECT_EQ((r.out + r.err).find(GetParam().unwanted), std::string::npos) << r.out << r.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TernctlCommandLine,
    testing::Values(
        LineCase{"show -- {dir}/-x.dat", 0, "012  0ABC", ""},
        LineCase{"show -x.dat", 2, "put -- before a file name that starts with -", ""},
        LineCase{"show -- -x.dat", 1, "-x.dat", "unknown argument"},  // taken as the file, which is not here
        LineCase{"diff -- {dir}/-x.dat {dir}/-x.dat", 0, "", "differ"},
        LineCase{"restore --port=/nonexistent/a --port2=/nonexistent/b --batch --quiet -x.dat", 2, "unknown argument '-x.dat'", ""},
        LineCase{"restore --port=/nonexistent/a --port2=/nonexistent/b --batch --quiet -- {dir}/-x.dat", 1,
                 "/nonexistent/a: No such file", ""},
        LineCase{"backup --port \"$(printf '/nonexistent/\\033[2J')\" --port2 /nonexistent/b --quiet {dir}/c.dat", 1,
                 "/nonexistent/\\x1B[2J", "\x1b"},
        LineCase{"restore --help", 0, "--verify", "--link"},
        LineCase{"show --help", 0, "FILE", "--port"},
        LineCase{"simulate --help", 0, "--drop-every", "--verify"},
        LineCase{"ports --help", 0, "--probe", "--baud"},
        LineCase{"backup", 2, "one FILE is needed", ""},
        LineCase{"backup --trace {dir}/t.txt --port", 2, "--port needs a value", ""},
        LineCase{"probe --bogus", 2, "unknown argument '--bogus'", ""},
        LineCase{"frobnicate", 2, "unknown command", ""}),
    [](const testing::TestParamInfo<LineCase>& i) { return "Case" + std::to_string(i.index); });

TEST(TernctlCopy, UnwritableTargetFailsAndLeavesNoFile) {
    TempDir dir;
    Put(dir.File("plain"), "x");
    ::mkdir(dir.File("sub").c_str(), 0700);
    Camera cam(Pattern(3));
    const Outcome r = Ctl(dir, "backup" + cam.Port() + "--quiet " + dir.File("plain/cam.dat"));
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("File write Error occured"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir.File("plain/cam.dat")));
    const Outcome d = Ctl(dir, "backup" + cam.Port() + dir.File("sub"));
    EXPECT_EQ(d.rc, 1);
    EXPECT_NE(d.err.find("not a regular file"), std::string::npos) << d.err;
}

TEST(TernctlCopy, NoCameraEndsWithTheLinksMessage) {
    TempDir dir;
    const Outcome r = Ctl(dir, "backup --port /nonexistent/ternab-com1 --port2 /nonexistent/ternab-com2 " + dir.File("cam.dat"));
    EXPECT_EQ(r.rc, 1);
    // One line with the link's message and the open error, then the lines
    // that say which device failed, why, and what to do.
    const std::string first = r.err.substr(0, r.err.find('\n'));
    EXPECT_NE(first.find(" Serial Port not connected "), std::string::npos) << r.err;
    EXPECT_NE(first.find("(オープンエラー ErrorCode = -1)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\n/nonexistent/ternab-com1: No such file or directory\n"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(dir.File("cam.dat")));
}

TEST(TernctlCopy, CameraGoneMidBackupLeavesTheOldFile) {
    TempDir dir;
    const std::string file = dir.File("cam.dat");
    Put(file, "the old backup\r\n");
    camera::CameraOptions o;
    o.baud = 9600;  // 512 reads take some 20 s: time to pull the cable
    Camera cam(Pattern(9), o);
    Ternctl run(dir, "backup" + cam.Port() + "--quiet " + file);
    // Wait until the copy is under way (the handshake and two register reads come first).
    ASSERT_TRUE(test::WaitFor([&] { return cam.cam.Stats().framesReceived >= 10; }, 20000));
    cam.cam.HangUp();
    const Outcome r = run.Finish();
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("went away"), std::string::npos) << r.err;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_EQ(Slurp(file), "the old backup\r\n");
}

#endif
