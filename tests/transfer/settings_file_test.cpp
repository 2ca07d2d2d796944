// Settings files: the record format byte for byte, reading them strictly,
// and replacing a file so that it is never left half-written.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "temp_dir.h"
#include "transfer/SettingsFile.h"

using namespace tern;
using namespace tern::transfer;
using tern::test::Put;
using tern::test::Slurp;
using tern::test::TempDir;

namespace {

MemoryWords Pattern() {
    MemoryWords w{};
    for (std::size_t a = 0; a < w.size(); ++a) w[a] = static_cast<std::int32_t>((a * 0x9E37u + 0x1234u) & 0xFFFF);
    return w;
}

}  // namespace

// ---- the format ------------------------------------------------------------------------

TEST(SettingsFileFormat, MatchesAHandWrittenFileByteForByte) {
    MemoryWords w{};
    w.fill(0);
    w[0x000] = 0x4000;
    w[0x001] = 0x00FF;
    w[0x012] = 0xABCD;
    w[0x1FE] = 0x0102;
    w[0x1FF] = 0x7777;  // read, but a file carries no record for it
    const std::string text = FormatSettingsFile(w);
    ASSERT_EQ(text.size(), 16384u);
    EXPECT_EQ(text.substr(0, 96),
              "210C00004000000000000000000000\r\n"
              "210C000100FF000000000000000000\r\n"
              "210C00020000000000000000000000\r\n");
    EXPECT_EQ(text.substr(0x12 * 32, 32), "210C0012ABCD000000000000000000\r\n");
    EXPECT_EQ(text.substr(0x1FE * 32, 32), "210C01FE0102000000000000000000\r\n");
    EXPECT_EQ(text.substr(511 * 32), "F10000000000000000000000000000\r\n");
    EXPECT_EQ(text.find("7777"), std::string::npos);
    // Every record: 30 upper-case digits and CR LF, addresses ascending.
    for (int r = 0; r < 512; ++r) {
        const std::string rec = text.substr(static_cast<std::size_t>(r) * 32, 32);
        ASSERT_EQ(rec.substr(30), "\r\n") << r;
        for (char c : rec.substr(0, 30)) ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << r;
        if (r < 511) {
            ASSERT_EQ(rec.substr(0, 8), "210C" + link::HexWordText(static_cast<std::uint16_t>(r))) << r;
        }
    }
}

TEST(SettingsFileFormat, WordNotDeliveredIsWrittenAsFFFFAndListedMissing) {
    MemoryWords w = Pattern();
    w[0x034] = kNoWord;
    w[0x1FF] = kNoWord;
    EXPECT_EQ(FormatSettingsFile(w).substr(0x34 * 32, 32), "210C0034FFFF000000000000000000\r\n");
    EXPECT_EQ(MissingWords(w), (std::vector<int>{0x034, 0x1FF}));
    // A real FFFF is a word like any other.
    w[0x034] = 0xFFFF;
    EXPECT_EQ(MissingWords(w), (std::vector<int>{0x1FF}));
}

// ---- reading -----------------------------------------------------------------------------

TEST(SettingsFileRead, WhatIsWrittenReadsBackWordForWord) {
    const MemoryWords w = Pattern();
    const SettingsScript s = ParseSettings(FormatSettingsFile(w));
    ASSERT_TRUE(s.Ok()) << s.FirstProblem();
    ASSERT_EQ(s.records.size(), 512u);
    EXPECT_TRUE(s.records.back().IsReset());
    EXPECT_EQ(s.records.back().line, 512);
    const MemoryWords back = WordsOf(s);
    for (int a = 0; a < 511; ++a) ASSERT_EQ(back[static_cast<std::size_t>(a)], w[static_cast<std::size_t>(a)]) << a;
    EXPECT_EQ(back[0x1FF], kNoWord);
}

TEST(SettingsFileRead, LowerCaseOutOfOrderAndDuplicateRecords) {
    const SettingsScript s = ParseSettings(
        "210c0101abcd000000000000000000\r\n"
        "210C00050001000000000000000000\r\n"
        "210C01010002000000000000000000\n"  // bare LF, and the later record for a word wins
        "210C00040003000000000000000000\r\n");
    ASSERT_TRUE(s.Ok()) << s.FirstProblem();
    const MemoryWords w = WordsOf(s);
    EXPECT_EQ(w[0x101], 0x0002);
    EXPECT_EQ(w[0x005], 0x0001);
    EXPECT_EQ(w[0x004], 0x0003);
    EXPECT_EQ(MissingWords(w).size(), 509u);
}

TEST(SettingsFileRead, ShortRecordsAreZeroFilledNotTakenFromTheRecordBefore) {
    const SettingsScript s = ParseSettings(
        "210C0012ABCD1122334455667788AA\r\n"
        "310C0013\r\n"
        "F1\r\n");
    ASSERT_TRUE(s.Ok()) << s.FirstProblem();
    ASSERT_EQ(s.records.size(), 3u);
    const link::Payload& read = s.records[1].payload;
    EXPECT_EQ(s.records[1].digits, 8);
    EXPECT_EQ(read[1], 0x31);
    EXPECT_EQ(read[4], 0x13);
    for (int i = 5; i <= 15; ++i) EXPECT_EQ(read[i], 0) << i;
    for (int i = 2; i <= 15; ++i) EXPECT_EQ(s.records[2].payload[i], 0) << i;
}

TEST(SettingsFileRead, BlankLinesAreSkippedNotTakenForTheEnd) {
    const SettingsScript s = ParseSettings(
        "210C00010001000000000000000000\r\n"
        "\r\n"
        "   \r\n"
        "\n"
        "210C00020002000000000000000000\r\n");
    ASSERT_TRUE(s.Ok()) << s.FirstProblem();
    ASSERT_EQ(s.records.size(), 2u);
    EXPECT_EQ(s.records[1].line, 5);
}

TEST(SettingsFileRead, MalformedLinesAreReportedWithTheirLineNumbers) {
    struct Case {
        const char* text;
        int line;
        const char* says;
    };
    const Case cases[] = {
        {"210C0012ABZD000000000000000000\r\n", 1, "column 11"},
        {"F1\r\n210C0012 ABCD\r\n", 2, "column 9"},
        {"\r\n\r\n210C0012ABC\r\n", 3, "odd"},
        {"210C0012ABCD00000000000000000000\r\n", 1, "at most 30"},
        {"210C0012\r\n", 1, "without its address and value"},  // a word write with no value
        {"210C0012AB\r\n", 1, "without its address and value"},
        {"F1\r\n210C0012ABCD0000\r\n210C0013ABCD", 3, "ends inside a record"},  // file cut short
        {"hello\r\n", 1, "column 1"},
    };
    for (const Case& c : cases) {
        const SettingsScript s = ParseSettings(c.text);
        ASSERT_FALSE(s.Ok()) << c.text;
        EXPECT_EQ(s.problems.front().line, c.line) << c.text;
        EXPECT_NE(s.problems.front().what.find(c.says), std::string::npos) << c.text << " -> " << s.problems.front().what;
        EXPECT_EQ(s.FirstProblem().rfind("line " + std::to_string(c.line) + ": ", 0), 0u) << s.FirstProblem();
    }
}

TEST(SettingsFileRead, EndOfFileMarkers) {
    // A whole last record without its CR LF still counts.
    SettingsScript s = ParseSettings("210C00010001000000000000000000\r\nF10000000000000000000000000000");
    ASSERT_TRUE(s.Ok()) << s.FirstProblem();
    EXPECT_EQ(s.records.size(), 2u);
    // Ctrl-Z ends the file; what follows is not read.
    s = ParseSettings("210C00010001000000000000000000\r\n\x1A garbage\r\n");
    ASSERT_TRUE(s.Ok()) << s.FirstProblem();
    EXPECT_EQ(s.records.size(), 1u);
}

TEST(SettingsFileRead, OnlyWordWritesWithinTheMemoryNameWords) {
    const SettingsScript s = ParseSettings(
        "310C00200000\r\n"                       // a read
        "211A01050000000000000000000000\r\n"     // another item
        "210C02001234000000000000000000\r\n"     // beyond 0x1FF
        "210C01FF5678000000000000000000\r\n"     // the last word, named here
        "F10000000000000000000000000000\r\n");   // the reset
    ASSERT_TRUE(s.Ok()) << s.FirstProblem();
    const MemoryWords w = WordsOf(s);
    EXPECT_EQ(w[0x1FF], 0x5678);
    EXPECT_EQ(w[0x020], kNoWord);
    EXPECT_EQ(w[0x105], kNoWord);
    EXPECT_EQ(MissingWords(w).size(), 511u);
}

TEST(SettingsFileRead, BlockViewIsLowByteFirst) {
    MemoryWords w = NoWords();
    w[0] = 0x1234;
    w[0x1FF] = 0xABCD;
    const MemoryBytes b = BlockBytesOf(w);
    EXPECT_EQ(b[0], 0x34);
    EXPECT_EQ(b[1], 0x12);
    EXPECT_EQ(b[1022], 0xCD);
    EXPECT_EQ(b[1023], 0xAB);
    EXPECT_EQ(b[2], kNoWord);
}

TEST(SettingsFileRead, FilesThatCannotBeReadOrAreNoSettingsFile) {
    TempDir dir;
    SettingsScript s;
    std::string error;
    EXPECT_FALSE(ReadSettingsFile(dir.File("absent.dat"), s, error));
    EXPECT_NE(error.find("absent.dat"), std::string::npos) << error;
    Put(dir.File("huge.dat"), std::string(kMaxSettingsFileSize + 10, '0'));
    error.clear();
    EXPECT_FALSE(ReadSettingsFile(dir.File("huge.dat"), s, error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    Put(dir.File("ok.dat"), FormatSettingsFile(Pattern()));
    ASSERT_TRUE(ReadSettingsFile(dir.File("ok.dat"), s, error)) << error;
    EXPECT_EQ(s.records.size(), 512u);
}

// ---- writing atomically ------------------------------------------------------------------

TEST(SettingsFileWrite, CreatesAndReplacesKeepingThePermissions) {
    TempDir dir;
    const std::string path = dir.File("cam.dat");
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, "first\r\n", error)) << error;
    EXPECT_EQ(Slurp(path), "first\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomically(path, FormatSettingsFile(Pattern()), error)) << error;
    EXPECT_EQ(Slurp(path), FormatSettingsFile(Pattern()));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"cam.dat"});  // no temporary file left
}

TEST(SettingsFileWrite, FailuresLeaveTheOldFileAsItWas) {
    TempDir dir;
    std::string error;
    // The target's folder is a file.
    Put(dir.File("plain"), "x");
    EXPECT_FALSE(WriteFileAtomically(dir.File("plain/cam.dat"), "new", error));
    EXPECT_FALSE(error.empty());
    // The target is a folder.
    ASSERT_EQ(::mkdir(dir.File("sub").c_str(), 0700), 0);
    error.clear();
    EXPECT_FALSE(WriteFileAtomically(dir.File("sub"), "new", error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;

    // The disk fills up half-way: a file size limit makes the write fail as a
    // full disk does. Run in a child so the limit stays there.
    const std::string path = dir.File("cam.dat");
    const std::string old = FormatSettingsFile(Pattern());
    Put(path, old);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        std::string e;
        MemoryWords w{};
        w.fill(0x5555);
        const bool ok = WriteFileAtomically(path, FormatSettingsFile(w), e);
        ::_exit(ok ? 0 : (e.find("write") != std::string::npos ? 3 : 4));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(Slurp(path), old);
    EXPECT_EQ(dir.Entries().size(), 3u);  // plain, sub, cam.dat: the temporary file is gone

    // A folder the user may not write into (only meaningful when not root).
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(dir.Path().c_str(), 0500), 0);
        error.clear();
        EXPECT_FALSE(WriteFileAtomically(path, "new", error));
        EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
        ::chmod(dir.Path().c_str(), 0700);
        EXPECT_EQ(Slurp(path), old);
    }
}
