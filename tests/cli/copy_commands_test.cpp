// ternctl backup / restore / show / diff, run as a program against virtual
// cameras on real pseudo-terminals, with real files in a temporary folder.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>

#include "camera/pty_camera.h"
#include "temp_dir.h"
#include "link/pty_util.h"
#include "link/trace.h"
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
    /// `prefix` goes before the program (a shell's settings for it); a run
    /// that hangs is ended after a minute, with status 124.
    Ternctl(const TempDir& dir, const std::string& args, const std::string& prefix = "") : errPath_(dir.File("stderr.txt")) {
        const std::string cmd = prefix + "timeout 60 " + std::string(TERNCTL_PATH) + " " + args + " 2>" + errPath_;
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

Outcome Ctl(const TempDir& dir, const std::string& args, const std::string& prefix = "") {
    return Ternctl(dir, args, prefix).Finish();
}

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

std::string WholeFileOf(const camera::MemoryImage& m) {
    transfer::MemoryWords w{};
    for (std::size_t a = 0; a < w.size(); ++a) w[a] = m[a];
    return transfer::FormatSettingsFile(w);
}

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
        // No terminal: one line a tenth of the way.
        EXPECT_EQ(Lines(r.err), 12) << r.err;
        EXPECT_NE(r.err.find("\nwrote " + file + ": 512 words\n"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("reading 52/512 words (10%)\n"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("reading 512/512 words (100%)\n"), std::string::npos) << r.err;
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

TEST(TernctlCopy, BatchRestoreNamesItsSteps) {
    TempDir dir;
    const std::string file = dir.File("cam.dat");
    Put(file, WholeFileOf(Pattern(4)));
    Camera cam(Pattern(5));
    const Outcome r = Ctl(dir, "restore --batch" + cam.Port() + file);
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.err,
              "writing: reading word 1FF (0%)\n"
              "writing: sending the block (33%)\n"
              "writing: resetting the camera (66%)\n"
              "writing: resetting the camera (100%)\n");
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
    EXPECT_EQ(Lines(r.err), 2) << "what failed, then what to do: " << r.err;
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
    EXPECT_NE(r.err.find("no file written"), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(file), "the old backup\r\n");
}

TEST(TernctlCopy, CameraGoneAsTheBatchResetGoesOutSaysWhatItHoldsAndWhatToDo) {
    TempDir dir;
    const std::string file = dir.File("new.dat");
    const camera::MemoryImage next = Pattern(0x2222);
    Put(file, WholeFileOf(next));  // words 000 to 1FE
    camera::CameraOptions o;
    o.hangUpAtReset = true;
    Camera cam(Pattern(0x1111), o);
    const Outcome r = Ctl(dir, "restore --batch --quiet" + cam.Port() + file);
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("went away"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("511 of 512 words written; the camera was not reset: restore the file again\n"),
              std::string::npos) << r.err;
    EXPECT_EQ(cam.Memory()[0x100], next[0x100]) << "the block is in";
    EXPECT_EQ(cam.cam.WithModel([](camera::CameraModel& m) { return m.Resets(); }), 0);
}

// ---- odd files -------------------------------------------------------------------------------

namespace {

/// What one command does with a file: its exit status (-1: not run), a text
/// its output must hold, and whether the camera got any byte.
struct Expect {
    int rc = -1;
    const char* says = "";
    bool sends = false;
};
const Expect kSkip{};
Expect Refused(const char* says) { return {1, says, false}; }
Expect Done(const char* says = "") { return {0, says, true}; }
Expect Listed(const char* says = "") { return {0, says, false}; }

struct OddFile {
    const char* name;
    /// The file's text; or "fifo", "folder", "/dev/zero", "random" (10 MB), "absent" (in a
    /// folder that is not there), "link" or "read-only" (to an old file).
    std::string make;
    Expect show, single, batch, backup;
    const char* backupArgs = "";
    int word = -1;  ///< checked in the camera after the batch restore, when set
    std::uint16_t value = 0;
};

std::string Rec(int address, int value) { return transfer::WordRecord(address, static_cast<std::uint16_t>(value)); }

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string WholeFile(std::uint16_t seed) { return WholeFileOf(Pattern(seed)); }

/// Makes the odd file in `d`; returns its path.
std::string Make(const TempDir& d, const std::string& how) {
    const std::string f = d.File("f.dat");
    if (how == "/dev/zero") return how;
    if (how == "absent") return d.File("absent/f.dat");
    if (how == "fifo") ::mkfifo(f.c_str(), 0600);
    if (how == "folder") ::mkdir(f.c_str(), 0700);
    if (how == "link") {
        Put(d.File("real.dat"), "old\r\n");
        ::symlink("real.dat", f.c_str());
    }
    if (how == "read-only") {
        Put(f, "old\r\n");
        ::chmod(f.c_str(), 0444);
    }
    if (how == "random") {
        std::mt19937 rng(7);
        std::string bytes(10 << 20, '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        Put(f, bytes);
    }
    if (!(how == "fifo" || how == "folder" || how == "link" || how == "read-only" || how == "random")) Put(f, how);
    return f;
}

const std::string kNul = "210C0002" + std::string(4, '\0') + std::string(18, '0') + "\r\n";

const OddFile kOddFiles[] = {
    {"fifo", "fifo", Refused("not a regular file (a FIFO)"), Refused("a FIFO"), Refused("a FIFO"), Refused("a FIFO")},
    {"directory", "folder", Refused("(a folder)"), Refused("(a folder)"), Refused("(a folder)"), Refused("(a folder)")},
    {"dev_zero", "/dev/zero", Refused("a character device"), Refused("a character device"), Refused("a character device"),
     Refused("a character device")},
    {"random_10MB", "random", Refused("too large"), Refused("too large"), Refused("too large"), kSkip},
    {"nul_bytes", Rec(1, 1) + kNul, Refused("line 2"), Refused("line 2"), Refused("line 2"), kSkip},
    {"cr_only", "210C00010001000000000000000000\r210C00020002000000000000000000\r", Refused("line 1"), Refused("line 1"),
     Refused("line 1"), kSkip},
    {"lower_case", Lower(WholeFile(0x4242)), Listed("line 512: reset"), Done(), Done(), kSkip, "", 0x010, Pattern(0x4242)[0x010]},
    {"address_above_1FF", Rec(1, 0x1111) + Rec(0x200, 2) + "210CFFFF0003000000000000000000\r\n",
     Listed("word 0200 is beyond the memory"), Refused("line 2: word 0200 is beyond the memory"),
     Done("line 2: word 0200 is beyond the memory (the last word is 1FF); line 3: word FFFF"), kSkip, "", 1, 0x1111},
    {"duplicates", Rec(0x12, 1) + Rec(0x13, 5) + Rec(0x12, 2), Listed("word 012 is written with different values on lines 1 and 3"),
     Done("word 012 is written more than once"), Done("word 012 is written more than once"), kSkip, "", 0x12, 2},
    {"ctrl_z", Rec(1, 0x0A0A) + "\x1A" + Rec(1, 0xBAD0), Listed("the file ends at the Ctrl-Z on line 2; 32 bytes after it were not read"),
     Done("the file ends at the Ctrl-Z on line 2; 32 bytes"), Done("the file ends at the Ctrl-Z on line 2; 32 bytes"), kSkip, "", 1, 0x0A0A},
    {"comments_and_item_0F", "# saved by hand\r\n210F00120ABC000000000000000000\r\n2A0C00130001\r\n310C0014\r\n",
     Refused("line 1: not a record"), Refused("line 1"), Done(), kSkip, "", 0x12, 0x0ABC},
    {"cut_off", Rec(1, 1) + "210C0002AB", Refused("line 2"), Refused("line 2"), Refused("line 2: the file ends inside a record"), kSkip},
    {"empty", "", Listed(), Refused("no records"), Refused("no memory word"), kSkip},
    {"reset_only", "F10000000000000000000000000000\r\n", Listed("line 1: reset"), Done(), Refused("no memory word"), kSkip},
    {"preset", Rec(1, 1) + "212000\r\n", Listed("line 2: command 21 20 00"), Refused("line 2: a preset"), Refused("line 2"), kSkip},
    {"symlinked_target", "link", kSkip, kSkip, kSkip, Done()},
    {"read_only_target", "read-only", kSkip, kSkip, kSkip, Refused("is read-only\nAdd --force")},
    {"read_only_target_forced", "read-only", kSkip, kSkip, kSkip, Done(), "--force"},
    {"folder_not_there", "absent", Refused("No such file"), Refused("No such file"), Refused("No such file"),
     Refused("File write Error occured")},
};

/// Every name in the folder: its kind and contents (a link's target), to
/// see that nothing changed.
std::map<std::string, std::string> Snapshot(const TempDir& d) {
    std::map<std::string, std::string> m;
    for (const std::string& n : d.Entries()) {
        if (n == "stderr.txt") continue;  // ternctl's own output
        struct stat st {};
        ::lstat(d.File(n).c_str(), &st);
        char link[512] = {};
        if (S_ISLNK(st.st_mode)) ::readlink(d.File(n).c_str(), link, sizeof link - 1);
        m[n] = std::to_string(st.st_mode) + ":" +
               (S_ISREG(st.st_mode) ? std::to_string(std::hash<std::string>{}(Slurp(d.File(n)))) : std::string(link));
    }
    return m;
}

void PrintTo(const OddFile& f, std::ostream* os) { *os << f.name; }

class OddFiles : public ::testing::TestWithParam<OddFile> {};

}  // namespace

TEST_P(OddFiles, AreRefusedBeforeTheCameraHearsOfThemOrTakenWithWhatTheyHideSaid) {
    const OddFile& f = GetParam();
    TempDir dir;
    Camera cam(Pattern(0x3C3C));
    const std::string path = Make(dir, f.make);
    struct Run {
        const char* command;
        Expect expect;
    };
    const Run runs[] = {{"show ", f.show}, {"restore --single", f.single}, {"restore --batch", f.batch}, {"backup", f.backup}};
    for (const Run& run : runs) {
        if (run.expect.rc < 0) continue;
        const bool show = std::string(run.command) == "show ";
        const bool backup = std::string(run.command) == "backup";
        const auto before = Snapshot(dir);
        const std::uint64_t heard = cam.cam.Stats().bytesIn;
        const Outcome r = Ctl(dir, std::string(run.command) + (show ? "" : cam.Port() + "--quiet ") +
                                       (backup ? std::string(f.backupArgs) + " " : "") + path);
        EXPECT_EQ(r.rc, run.expect.rc) << run.command << ": " << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(run.expect.says), std::string::npos) << run.command << ": " << r.out << r.err;
        EXPECT_EQ(cam.cam.Stats().bytesIn > heard, run.expect.sends) << run.command << ": " << r.err;
        if (r.rc != 0) {
            EXPECT_EQ(r.err.rfind("ternctl ", 0), 0u) << "a failure's own line comes first: " << r.err;
        }
        auto after = Snapshot(dir);
        if (backup && r.rc == 0) {
            // Only the file the backup names changes, whole; a link stays a link.
            EXPECT_EQ(Slurp(path), WholeFile(0x3C3C));
            const std::string name = std::filesystem::canonical(path).filename();
            after[name] = before.at(name);
        }
        EXPECT_EQ(after, before) << run.command << ": no file changed";
        if (std::string(run.command) == "restore --batch" && f.word >= 0) {
            EXPECT_EQ(cam.Memory()[static_cast<std::size_t>(f.word)], f.value) << run.command;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, OddFiles, ::testing::ValuesIn(kOddFiles),
                         [](const ::testing::TestParamInfo<OddFile>& i) { return std::string(i.param.name); });

// ---- the line trace's file ---------------------------------------------------------------------

namespace {

struct TraceCase {
    const char* name;
    const char* trace;  ///< the settings file, the port, a link to the file, a FIFO, an old trace or a new file
    int rc;
    const char* says;
    const char* prefix = "";
};

const TraceCase kTraceCases[] = {
    {"the_settings_file", "file", 1, "is the settings file"},
    {"a_link_to_the_settings_file", "link", 1, "is the settings file"},
    {"the_port", "port", 1, "not a regular file"},
    {"a_fifo", "fifo", 1, "not a regular file"},
    {"an_old_trace", "old", 0, ""},
    {"a_full_disk", "new", 1, "could not be written", "trap '' XFSZ; ulimit -f 2; "},
};

void PrintTo(const TraceCase& c, std::ostream* os) { *os << c.name; }

class TraceFile : public ::testing::TestWithParam<TraceCase> {};

}  // namespace

TEST_P(TraceFile, NeverDestroysAFileNorHangsAndAWriteErrorFailsTheCommand) {
    const TraceCase& c = GetParam();
    TempDir dir;
    const std::string file = dir.File("cam.dat");
    const std::string contents = Rec(1, 0x1234) + Rec(2, 0x5678);
    Put(file, contents);
    Camera cam(Pattern(2));
    const std::string kind = c.trace;
    const std::string trace = kind == "file" ? file : kind == "port" ? cam.cam.DevicePath() : dir.File("t.txt");
    if (kind == "link") ::symlink(file.c_str(), trace.c_str());
    if (kind == "fifo") ::mkfifo(trace.c_str(), 0600);
    if (kind == "old") Put(trace, "an old trace\n");
    const Outcome r = Ctl(dir, "restore --batch --quiet" + cam.Port() + "--trace " + trace + " " + file, c.prefix);
    EXPECT_EQ(r.rc, c.rc) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(file), contents);
    EXPECT_EQ(cam.cam.Stats().bytesIn > 0, c.rc == 0 || kind == "new") << "refused before the port opens";
    if (c.rc == 0) {
        EXPECT_EQ(Slurp(trace).rfind(link::LineTrace::kHeader, 0), 0u) << "replaced as a whole";
        EXPECT_NE(Slurp(trace).find("block frame"), std::string::npos);
        EXPECT_EQ(dir.Entries().size(), 3u) << "no temporary file left beside it";
    }
    if (r.rc != 0) {
        EXPECT_EQ(r.err.find("could not be written", r.err.find("could not be written") + 1), std::string::npos) << "said once";
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, TraceFile, ::testing::ValuesIn(kTraceCases),
                         [](const ::testing::TestParamInfo<TraceCase>& i) { return std::string(i.param.name); });

#endif
