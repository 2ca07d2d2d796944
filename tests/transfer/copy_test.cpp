// The copy engine against the virtual camera: byte for byte through the
// camera's protocol peer on a fake port (replies can be altered, lost or
// corrupted, timer ticks played at once), and once over a real
// pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>

#include <sys/stat.h>

#include "camera/peer.h"
#include "camera/pty_camera.h"
#include "cli/console_host.h"
#include "temp_dir.h"
#include "link/comm.h"
#include "link/event_loop.h"
#include "link/fake_port.h"
#include "link/protocol.h"
#include "transfer/Copy.h"
#include "transfer/SettingsFile.h"

using namespace tern;
using namespace tern::transfer;
using namespace std::chrono_literals;
using test::Exists;
using test::Put;
using test::Slurp;
using test::TempDir;

namespace {

using Bytes = std::vector<std::uint8_t>;

/// The window's wiring in small: replies, the reset's ACK and the give-up go to the engine.
class CopyTestHost : public test::RecordingHost {
public:
    CopyEngine* engine = nullptr;
    int ignored = 0;  ///< replies the engine did not take as its own
    bool abortOnGiveUp = true;
    void Trans_end() override {
        RecordingHost::Trans_end();
        if (engine != nullptr && !engine->OnReply()) ++ignored;
    }
    void CloseCopyFile() override {
        RecordingHost::CloseCopyFile();
        if (engine != nullptr) engine->OnResetAck();
    }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        RecordingHost::ShowMessage(text, caption);
        if (engine != nullptr && abortOnGiveUp && text == link::kMsgNotConnected) engine->Abort(text, caption);
    }
};

/// One frame the tool sent: the payload of a command frame, or a block's data.
struct Sent {
    bool block = false;
    Bytes bytes;
    int Address() const { return bytes[2] * 256 + bytes[3]; }
    bool IsRead(int address) const { return !block && bytes[0] == 0x31 && bytes[1] == 0x0C && Address() == address; }
};

/// The link on a fake port, answered by the camera's protocol peer.
struct Bench {
    explicit Bench(camera::CameraOptions options = {}) : peer(options), link(port, host) {
        host.link = &link;
        host.chainLength = 0;  // the connection reads nothing; the tests start the copies
        host.page = link::Page::Copy;
        host.engine = &engine;
        link.Trans_Create();
        Pump();
        sent.clear();
    }

    /// The camera answers whatever the tool wrote, until the line is quiet.
    void Pump() {
        for (int round = 0; round < 100000; ++round) {
            const Bytes wire = port.TakeWire();
            if (wire.empty()) return;
            std::size_t i = 0;
            while (i < wire.size()) {
                std::size_t len = 1;
                if (wire[i] == link::STX) len = link::kCmdFrameSize;
                if (wire[i] == link::SOH) len = link::kBlockFrameSize;
                const Bytes piece(wire.begin() + static_cast<long>(i), wire.begin() + static_cast<long>(std::min(wire.size(), i + len)));
                i += len;
                std::optional<Bytes> answer;
                if (piece.size() == link::kCmdFrameSize && piece[0] == link::STX) {
                    sent.push_back({false, Bytes(piece.begin() + 1, piece.begin() + 16)});
                    if (intercept) answer = intercept(sent.back());
                } else if (piece.size() == link::kBlockFrameSize) {
                    sent.push_back({true, Bytes(piece.begin() + 2, piece.begin() + 2 + 1024)});
                }
                Bytes out;
                if (answer) {
                    out.swap(*answer);
                } else {
                    out = peer.Feed(piece);
                }
                if (!out.empty()) link.Comm1CommReceive(out);
            }
        }
        FAIL() << "the line never went quiet";
    }

    /// Runs a started copy to its end, playing the reply watch's ticks when the line stalls.
    void RunToEnd() {
        Pump();
        for (int stalls = 0; engine.Active() && stalls < 40; ++stalls) {
            for (int t = 0; t < 21; ++t) link.SendTimerTimer();
            Pump();
        }
    }

    /// ACK, then a reply frame carrying `reply` at offsets 1...
    static Bytes Reply(std::initializer_list<std::uint8_t> reply) {
        link::Payload p;
        int i = 1;
        for (auto b : reply) p[i++] = b;
        const link::FrameBytes f = link::BuildStxFrame(p, 15);
        Bytes out{link::ACK};
        out.insert(out.end(), f.begin(), f.end());
        return out;
    }

    int ReadsOf(int address) const {
        int n = 0;
        for (const Sent& s : sent) n += s.IsRead(address) ? 1 : 0;
        return n;
    }

    camera::CameraPeer peer;
    test::FakePort port;
    CopyTestHost host;
    link::Link link;
    std::vector<std::pair<int, int>> progress;
    int finishedCalls = 0;
    CopyEngine engine{link, CopyEvents{[this](int d, int t) { progress.emplace_back(d, t); },
                                       [this](const CopyOutcome&) { ++finishedCalls; }}};
    std::vector<Sent> sent;
    std::function<std::optional<Bytes>(const Sent&)> intercept;
};

camera::MemoryImage Pattern(std::uint16_t seed) {
    camera::MemoryImage m{};
    for (std::size_t a = 0; a < m.size(); ++a) m[a] = static_cast<std::uint16_t>(a * 0x9E37u + seed);
    return m;
}

MemoryWords AsWords(const camera::MemoryImage& m) {
    MemoryWords w{};
    for (std::size_t a = 0; a < m.size(); ++a) w[a] = m[a];
    return w;
}

}  // namespace

// ---- Camera->PC --------------------------------------------------------------------------

TEST(CopyCameraToPc, AsksEveryWordInOrderAndWritesTheWholeFile) {
    TempDir dir;
    Bench b;
    b.peer.Model().SetMemory(Pattern(0x1111));
    const std::string path = dir.File("cam.dat");
    ASSERT_TRUE(b.engine.StartCameraToPc(path));
    b.RunToEnd();
    ASSERT_FALSE(b.engine.Active());
    EXPECT_EQ(b.engine.Outcome().result, CopyResult::Complete) << b.engine.Outcome().detail;
    ASSERT_EQ(b.sent.size(), 512u);
    for (int a = 0; a < 512; ++a) ASSERT_TRUE(b.sent[static_cast<std::size_t>(a)].IsRead(a)) << a;
    EXPECT_EQ(Slurp(path), FormatSettingsFile(AsWords(Pattern(0x1111))));
    EXPECT_EQ(b.finishedCalls, 1);
    EXPECT_EQ(b.progress.back(), std::make_pair(512, 512));
    EXPECT_TRUE(b.host.messages.empty());
}

TEST(CopyCameraToPc, CorruptedAndLostRepliesStillGiveTheExactFile) {
    TempDir dir;
    camera::CameraOptions o;
    o.corruptEvery = 50;
    o.dropEvery = 97;
    Bench b(o);
    b.peer.Model().SetMemory(Pattern(0x2222));
    ASSERT_TRUE(b.engine.StartCameraToPc(dir.File("cam.dat")));
    b.RunToEnd();
    EXPECT_EQ(b.engine.Outcome().result, CopyResult::Complete) << b.engine.Outcome().detail;
    EXPECT_EQ(Slurp(dir.File("cam.dat")), FormatSettingsFile(AsWords(Pattern(0x2222))));
    EXPECT_GT(b.peer.Stats().repliesCorrupted, 5u);
    EXPECT_GT(b.peer.Stats().repliesDropped, 3u);
}

TEST(CopyCameraToPc, AWordNoReplyCarriedIsAskedForAgain) {
    TempDir dir;
    Bench b;
    b.peer.Model().SetMemory(Pattern(0x3333));
    int skips = 1;
    b.intercept = [&](const Sent& s) -> std::optional<Bytes> {
        // Asked for 0x20, the camera answers with word 0x21: 0x20 is skipped by the sweep.
        if (s.IsRead(0x20) && skips-- > 0) {
            const std::uint16_t v = b.peer.Model().MemoryWord(0x21);
            return Bench::Reply({0xA0, 0x0C, 0x00, 0x21, static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
        }
        return std::nullopt;
    };
    ASSERT_TRUE(b.engine.StartCameraToPc(dir.File("cam.dat")));
    b.RunToEnd();
    EXPECT_EQ(b.engine.Outcome().result, CopyResult::Complete) << b.engine.Outcome().detail;
    EXPECT_EQ(b.ReadsOf(0x20), 2);
    EXPECT_EQ(b.ReadsOf(0x21), 0) << "the sweep follows the reply's address";
    EXPECT_TRUE(b.sent.back().IsRead(0x20));
    EXPECT_EQ(Slurp(dir.File("cam.dat")), FormatSettingsFile(AsWords(Pattern(0x3333))));
}

TEST(CopyCameraToPc, AWordStillMissingWritesNoFileAndSaysWhich) {
    TempDir dir;
    const std::string path = dir.File("cam.dat");
    Put(path, "old contents\r\n");
    Bench b;
    b.intercept = [&](const Sent& s) -> std::optional<Bytes> {
        if (s.IsRead(0x1A5)) return Bench::Reply({0xA0, 0x0C, 0x01, 0xA6, 0x00, 0x00});
        return std::nullopt;
    };
    ASSERT_TRUE(b.engine.StartCameraToPc(path));
    b.RunToEnd();
    const CopyOutcome& o = b.engine.Outcome();
    EXPECT_EQ(o.result, CopyResult::MissingWords);
    EXPECT_EQ(o.missing, std::vector<int>{0x1A5});
    EXPECT_NE(o.detail.find("1A5"), std::string::npos) << o.detail;
    EXPECT_EQ(o.message, " Error ");
    EXPECT_EQ(Slurp(path), "old contents\r\n");
}

TEST(CopyCameraToPc, AReplyOfAnotherItemIsNotTheWordsAnswer) {
    // The link ends an exchange only on its own reply: another item's is
    // dropped, and the reply watch asks for the word again.
    TempDir dir;
    Bench b;
    int wrong = 1;
    b.intercept = [&](const Sent& s) -> std::optional<Bytes> {
        if (s.IsRead(0x80) && wrong-- > 0) return Bench::Reply({0xA0, 0x0A, 0x00, 0x80, 0x12, 0x34});
        return std::nullopt;
    };
    ASSERT_TRUE(b.engine.StartCameraToPc(dir.File("cam.dat")));
    b.RunToEnd();
    EXPECT_EQ(b.engine.Outcome().result, CopyResult::Complete) << b.engine.Outcome().detail;
    EXPECT_EQ(b.ReadsOf(0x80), 2);
    EXPECT_EQ(b.link.StaleReplies(), 1);
}

TEST(CopyCameraToPc, ErrorStatusOrWrongAddressStopTheCopyWithoutAFile) {
    struct Case {
        const char* name;
        Bytes reply;
    };
    const Case cases[] = {
        {"status A8", Bench::Reply({0xA8, 0x0C, 0x00, 0x80})},
        {"address 0x4080", Bench::Reply({0xA0, 0x0C, 0x40, 0x80, 0x12, 0x34})},
    };
    for (const Case& c : cases) {
        TempDir dir;
        Bench b;
        b.intercept = [&](const Sent& s) -> std::optional<Bytes> {
            if (s.IsRead(0x80)) return c.reply;
            return std::nullopt;
        };
        ASSERT_TRUE(b.engine.StartCameraToPc(dir.File("cam.dat")));
        b.RunToEnd();
        const CopyOutcome& o = b.engine.Outcome();
        EXPECT_EQ(o.result, CopyResult::ErrorReply) << c.name;
        EXPECT_EQ(o.message, " Error ") << c.name;
        EXPECT_EQ(o.caption, "ERR") << c.name;
        EXPECT_EQ(b.sent.size(), 0x81u) << c.name << ": nothing is asked after the bad reply";
        EXPECT_FALSE(Exists(dir.File("cam.dat"))) << c.name;
        EXPECT_EQ(b.finishedCalls, 1) << c.name;
    }
}

TEST(CopyCameraToPc, TargetsThatCannotBeReplacedAreRefusedBeforeTheFirstRead) {
    TempDir dir;
    Put(dir.File("plain"), "x");
    Put(dir.File("locked.dat"), "old\r\n");
    ::chmod(dir.File("locked.dat").c_str(), 0444);
    Bench b;
    for (const char* target : {"plain/cam.dat", "absent/cam.dat", "locked.dat", "."}) {
        const CopyStart s = b.engine.StartCameraToPc(dir.File(target));
        EXPECT_FALSE(s) << target;
        EXPECT_EQ(s.message, "File write Error occured") << target;
        EXPECT_EQ(s.readOnly, std::string(target) == "locked.dat") << s.detail;
    }
    b.Pump();
    EXPECT_TRUE(b.sent.empty());
    // Asked again (the window's overwrite question), the read-only file is
    // replaced whole and stays read-only.
    ASSERT_TRUE(b.engine.StartCameraToPc(dir.File("locked.dat"), true));
    b.RunToEnd();
    EXPECT_EQ(b.engine.Outcome().result, CopyResult::Complete) << b.engine.Outcome().detail;
    EXPECT_EQ(Slurp(dir.File("locked.dat")), FormatSettingsFile(b.engine.Words()));
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("locked.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_EQ(dir.Entries().size(), 2u) << "no temporary file left";
}

TEST(CopyCameraToPc, GiveUpEndsTheCopyOnce) {
    TempDir dir;
    Bench b;
    int answered = 0;
    b.intercept = [&](const Sent&) -> std::optional<Bytes> {
        if (++answered > 10) return Bytes{};  // the camera falls silent
        return std::nullopt;
    };
    ASSERT_TRUE(b.engine.StartCameraToPc(dir.File("cam.dat")));
    b.RunToEnd();
    EXPECT_FALSE(b.engine.Active());
    EXPECT_EQ(b.engine.Outcome().result, CopyResult::Aborted);
    EXPECT_EQ(b.engine.Outcome().message, link::kMsgNotConnected);
    EXPECT_EQ(b.finishedCalls, 1);
    EXPECT_FALSE(Exists(dir.File("cam.dat")));
}

TEST(CopyCameraToPc, RepliesToOtherCommandsNeverReachTheCopy) {
    // A host that lets the copy run on after the link's give-up: the page's
    // reload (registers 1 and 64) then gets replies while the copy is still on.
    TempDir dir;
    Bench b;
    b.host.abortOnGiveUp = false;
    int answered = 0;
    b.intercept = [&](const Sent& s) -> std::optional<Bytes> {
        if (s.bytes[0] == 0x31 && s.bytes[1] == 0x0C && ++answered > 3) return Bytes{link::ACK};
        return std::nullopt;
    };
    ASSERT_TRUE(b.engine.StartCameraToPc(dir.File("cam.dat")));
    b.RunToEnd();
    ASSERT_TRUE(b.engine.Active());
    ASSERT_EQ(b.host.messages.size(), 1u);
    b.intercept = nullptr;
    const std::size_t before = b.sent.size();
    b.host.chainLength = 2;
    b.link.ReLoadClick();
    b.Pump();
    EXPECT_EQ(b.sent.size(), before + 2) << "the copy sent nothing on the reload's replies";
    EXPECT_EQ(b.host.ignored, 2);
    // Read as word replies, register 1 (A0 0A 01 40 00) would name word 0x140.
    EXPECT_EQ(b.engine.Words()[0x140], kNoWord);
    b.engine.Abort("stopped");
    EXPECT_EQ(b.finishedCalls, 1);
}

// ---- PC->Camera -----------------------------------------------------------------------------

TEST(CopyPcToCamera, SingleReplaysEveryRecordAndEndsWithTheResetAck) {
    Bench b;
    b.peer.Model().SetMemory(Pattern(0x0101));
    const std::string file = FormatSettingsFile(AsWords(Pattern(0x4444)));
    ASSERT_TRUE(b.engine.StartSingle(ParseSettings(file)));
    b.RunToEnd();
    const CopyOutcome& o = b.engine.Outcome();
    EXPECT_EQ(o.result, CopyResult::Complete) << o.detail;
    EXPECT_TRUE(o.endedByReset);
    ASSERT_EQ(b.sent.size(), 512u);
    for (int r = 0; r < 512; ++r) {
        const Bytes rec(file.begin() + r * 32, file.begin() + r * 32 + 30);
        ASSERT_EQ(link::HexBytesText(b.sent[static_cast<std::size_t>(r)].bytes), std::string(rec.begin(), rec.end())) << r;
    }
    for (int a = 0; a < 511; ++a) ASSERT_EQ(b.peer.Model().MemoryWord(a), Pattern(0x4444)[static_cast<std::size_t>(a)]) << a;
    EXPECT_EQ(b.peer.Model().MemoryWord(0x1FF), Pattern(0x0101)[0x1FF]);
    EXPECT_EQ(b.peer.Model().Resets(), 1);
    EXPECT_EQ(b.finishedCalls, 1);
}

TEST(CopyPcToCamera, SingleWithoutResetRecordCompletesWhenTheFileRunsOut) {
    Bench b;
    ASSERT_TRUE(b.engine.StartSingle(ParseSettings("210C00011234\r\n\r\n210C00025678\r\n")));
    b.RunToEnd();
    EXPECT_EQ(b.engine.Outcome().result, CopyResult::Complete);
    EXPECT_FALSE(b.engine.Outcome().endedByReset);
    EXPECT_EQ(b.sent.size(), 2u) << "the blank line is skipped, not the end";
    EXPECT_EQ(b.peer.Model().MemoryWord(2), 0x5678);
}

TEST(CopyPcToCamera, SingleStopsAtAnErrorReplyAndNothingResumesIt) {
    Bench b;
    b.intercept = [&](const Sent& s) -> std::optional<Bytes> {
        if (!s.block && s.bytes[0] == 0x21 && s.Address() == 3) return Bench::Reply({0xE1, 0x0C});
        return std::nullopt;
    };
    ASSERT_TRUE(b.engine.StartSingle(ParseSettings(FormatSettingsFile(AsWords(Pattern(7))))));
    b.RunToEnd();
    EXPECT_EQ(b.engine.Outcome().result, CopyResult::ErrorReply);
    EXPECT_EQ(b.sent.size(), 4u);
    EXPECT_EQ(b.engine.Outcome().recordsAccepted, 3);
    EXPECT_NE(b.engine.Outcome().detail.find("3 of 512 records reached the camera"), std::string::npos)
        << b.engine.Outcome().detail;
    // The page's own reload afterwards: registers 1 and 64. Their replies do not reach the copy.
    b.host.chainLength = 2;
    b.link.ReLoadClick();
    b.Pump();
    EXPECT_EQ(b.sent.size(), 6u);
    EXPECT_EQ(b.host.ignored, 2);
    EXPECT_FALSE(b.engine.Active());
    // Nor does a later reset of the user's end anything twice.
    const int closes = b.host.copyFileClosed;
    link::Payload reset;
    reset[1] = link::kGroupReset;
    b.link.StxCommand(reset, 1);
    b.Pump();
    EXPECT_EQ(b.host.copyFileClosed, closes + 1);
    EXPECT_EQ(b.finishedCalls, 1);
}

TEST(CopyPcToCamera, BatchReadsTheUnnamedWordThenSendsBlockAndReset) {
    Bench b;
    b.peer.Model().SetMemory(Pattern(0x0202));
    const camera::MemoryImage file = Pattern(0x5555);
    ASSERT_TRUE(b.engine.StartBatch(ParseSettings(FormatSettingsFile(AsWords(file)))));
    b.RunToEnd();
    EXPECT_EQ(b.engine.Outcome().result, CopyResult::Complete) << b.engine.Outcome().detail;
    ASSERT_EQ(b.sent.size(), 3u);
    EXPECT_TRUE(b.sent[0].IsRead(0x1FF));
    ASSERT_TRUE(b.sent[1].block);
    for (int a = 0; a < 511; ++a) {
        ASSERT_EQ(b.sent[1].bytes[static_cast<std::size_t>(2 * a)], file[static_cast<std::size_t>(a)] & 0xFF) << a;
        ASSERT_EQ(b.sent[1].bytes[static_cast<std::size_t>(2 * a + 1)], file[static_cast<std::size_t>(a)] >> 8) << a;
    }
    // Word 0x1FF goes back as the camera had it.
    EXPECT_EQ(b.sent[1].bytes[1022] | (b.sent[1].bytes[1023] << 8), Pattern(0x0202)[0x1FF]);
    EXPECT_EQ(b.sent[2].bytes, (Bytes{0xF1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(b.peer.Model().Blocks(), 1);
    EXPECT_EQ(b.peer.Model().Resets(), 1);
    EXPECT_FALSE(b.host.panel4) << "the reset locks the Setup1 panel until the reload";
    EXPECT_EQ(b.finishedCalls, 1);
}

TEST(CopyPcToCamera, BatchTakesLowerCaseOutOfOrderAndDuplicateRecords) {
    Bench b;
    b.peer.Model().SetMemory(Pattern(0x0303));
    const std::string text =
        "210c0010beef000000000000000000\r\n"
        "F10000000000000000000000000000\r\n"
        "210C00051111000000000000000000\r\n"
        "310C00060000\r\n"
        "210C00102222000000000000000000\r\n";
    ASSERT_TRUE(b.engine.StartBatch(ParseSettings(text)));
    b.RunToEnd();
    EXPECT_EQ(b.engine.Outcome().result, CopyResult::Complete) << b.engine.Outcome().detail;
    EXPECT_EQ(b.sent.size(), 510u + 2u);
    for (int a = 0; a < 512; ++a) {
        const std::uint16_t want = a == 0x10 ? 0x2222 : a == 0x05 ? 0x1111 : Pattern(0x0303)[static_cast<std::size_t>(a)];
        ASSERT_EQ(b.peer.Model().MemoryWord(a), want) << a;
    }
}

TEST(CopyPcToCamera, BatchWithAnUnreadableCameraWordSendsNothing) {
    Bench b;
    b.intercept = [&](const Sent& s) -> std::optional<Bytes> {
        if (s.IsRead(0x1FF)) return Bench::Reply({0xA0, 0x0C, 0x01, 0xFE, 0x00, 0x00});  // another word
        return std::nullopt;
    };
    ASSERT_TRUE(b.engine.StartBatch(ParseSettings(FormatSettingsFile(AsWords(Pattern(9))))));
    b.RunToEnd();
    EXPECT_EQ(b.engine.Outcome().result, CopyResult::MissingWords);
    EXPECT_EQ(b.ReadsOf(0x1FF), 2);
    EXPECT_EQ(b.peer.Model().Blocks(), 0);
    // The file's own word 0x1FE was not overwritten by the stray reply either.
    EXPECT_EQ(b.engine.Words()[0x1FE], Pattern(9)[0x1FE]);
}

TEST(CopyPcToCamera, BadFilesAreRefusedBeforeAnythingIsSent) {
    TempDir dir;
    Put(dir.File("bad.dat"), "210C00010001000000000000000000\r\n210C0002GG01000000000000000000\r\n");
    Put(dir.File("preset.dat"), "210C00010001000000000000000000\r\n212000\r\n");
    Bench b;
    CopyStart s = b.engine.StartBatch(dir.File("bad.dat"));
    EXPECT_FALSE(s);
    EXPECT_EQ(s.message, "File read Error occured");
    EXPECT_EQ(s.caption, "File.ERR");
    EXPECT_NE(s.detail.find("line 2"), std::string::npos) << s.detail;
    EXPECT_FALSE(b.engine.StartSingle(dir.File("bad.dat")));
    s = b.engine.StartSingle(dir.File("preset.dat"));
    EXPECT_FALSE(s);
    EXPECT_NE(s.detail.find("line 2"), std::string::npos) << s.detail;
    EXPECT_FALSE(b.engine.StartSingle(dir.File("absent.dat")));
    s = b.engine.StartSingle(ParseSettings("210C00010001\r\nF1\r\n\r\n210C00020002\r\n"));
    EXPECT_FALSE(s) << "the record after the reset would never be sent";
    EXPECT_NE(s.detail.find("line 4"), std::string::npos) << s.detail;
    EXPECT_FALSE(b.engine.StartBatch(ParseSettings("F1\r\n"))) << "a file that writes no word";
    b.Pump();
    EXPECT_TRUE(b.sent.empty());
    EXPECT_FALSE(b.engine.Active());
}

TEST(CopyPcToCamera, NothingStartsWhileTheLinkIsBusy) {
    TempDir dir;
    Bench b;
    link::Payload p;
    p[1] = 0x31;
    p[2] = 0x0A;
    p[3] = 0x01;
    b.link.StxCommand(p, 3);  // in flight, not yet answered
    const CopyStart s = b.engine.StartCameraToPc(dir.File("cam.dat"));
    EXPECT_FALSE(s);
    EXPECT_TRUE(s.message.empty());
    EXPECT_FALSE(b.engine.Active());
    b.Pump();
    EXPECT_EQ(b.sent.size(), 1u);
}

// ---- over a real pseudo-terminal ----------------------------------------------------------

namespace {

/// TComm on the virtual camera's pseudo-terminal, driven by an event loop.
struct PtyRig {
    class Host : public cli::ConsoleHost {
    public:
        using ConsoleHost::ConsoleHost;
        CopyEngine* engine = nullptr;
        void Trans_end() override {
            ConsoleHost::Trans_end();
            if (engine != nullptr) engine->OnReply();
        }
        void CloseCopyFile() override {
            if (engine != nullptr) engine->OnResetAck();
        }
    };

    explicit PtyRig(const camera::MemoryImage& memory) : host(loop, comm) {
        cam.Start();
        cam.WithModel([&](camera::CameraModel& m) { m.SetMemory(memory); });
        comm.SetPortDevice(1, cam.DevicePath());
        comm.SetPortDevice(2, "/nonexistent/ternab-com2");
        comm.SetReceiveNotifySize(7168);
        comm.OnCommReceive = [this](link::TComm& c, std::uint16_t n) { host.Link().OnCommReceiveWatchThread(c, n); };
        host.quiet = true;
        host.activePage = link::Page::Copy;
        host.engine = &engine;
    }
    ~PtyRig() {
        host.engine = nullptr;
        host.Link().Close();
        cam.Stop();
    }
    bool Connect() {
        host.Link().Trans_Create();
        return loop.RunUntil([&] { return host.chainsCompleted > 0; }, 10s);
    }
    bool Finish() { return loop.RunUntil([&] { return !engine.Active(); }, 60s); }

    link::EventLoop loop;
    camera::PtyCamera cam;
    link::TComm comm;
    Host host;
    CopyEngine engine{host.Link()};
};

}  // namespace

TEST(CopyOverPty, BackupRestoredIntoAnotherCameraMakesTheMemoriesEqual) {
    TempDir dir;
    const std::string path = dir.File("cam.dat");
    const camera::MemoryImage first = Pattern(0x6161);
    {
        PtyRig rig(first);
        ASSERT_TRUE(rig.Connect());
        ASSERT_TRUE(rig.engine.StartCameraToPc(path));
        ASSERT_TRUE(rig.Finish());
        ASSERT_EQ(rig.engine.Outcome().result, CopyResult::Complete) << rig.engine.Outcome().detail;
    }
    for (bool batch : {true, false}) {
        const camera::MemoryImage other = Pattern(0x0707);
        PtyRig rig(other);
        ASSERT_TRUE(rig.Connect());
        ASSERT_TRUE(batch ? rig.engine.StartBatch(path) : rig.engine.StartSingle(path));
        ASSERT_TRUE(rig.Finish());
        ASSERT_EQ(rig.engine.Outcome().result, CopyResult::Complete) << rig.engine.Outcome().detail;
        const camera::MemoryImage now = rig.cam.WithModel([](camera::CameraModel& m) { return m.Memory(); });
        for (int a = 0; a < 511; ++a) ASSERT_EQ(now[static_cast<std::size_t>(a)], first[static_cast<std::size_t>(a)]) << a;
        EXPECT_EQ(now[0x1FF], other[0x1FF]) << "word 0x1FF is not in the file; the camera keeps its own";
        EXPECT_EQ(rig.cam.WithModel([](camera::CameraModel& m) { return m.Resets(); }), 1);
    }
}
