// The line trace: the bytes each way and every frame decoded in words.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "link/codec.h"
#include "link/comm.h"
#include "link/pty_util.h"
#include "link/trace.h"
#include "temp_dir.h"

using namespace tern::link;
using tern::test::Slurp;
using tern::test::TempDir;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(std::initializer_list<std::uint8_t> payload) {
    Payload p;
    int i = 1;
    for (std::uint8_t b : payload) p[i++] = b;
    const FrameBytes f = BuildStxFrame(p, static_cast<int>(payload.size()));
    return Bytes(f.begin(), f.end());
}

/// The reply frame as the camera sends it: status, item and data in 15 bytes.
Bytes Reply(std::initializer_list<std::uint8_t> data) { return Frame(data); }

TEST(LineTraceFormat, AKnownExchangeByteForByte) {
    TraceDecoder toCam(TraceDirection::ToCamera), fromCam(TraceDirection::FromCamera);
    const Bytes enq{ENQ}, ack{ACK};
    Bytes cmd{EOT};
    const Bytes frame = Frame({0x31, 0x0A, 0x01});
    cmd.insert(cmd.end(), frame.begin(), frame.end());
    Bytes reply{ACK};
    const Bytes r = Reply({0xA0, 0x0A, 0x01, 0x40, 0x00});
    reply.insert(reply.end(), r.begin(), r.end());

    std::string text = LineTrace::Format(0.0, TraceDirection::ToCamera, enq, toCam);
    text += LineTrace::Format(0.001042, TraceDirection::FromCamera, ack, fromCam);
    text += LineTrace::Format(0.0021, TraceDirection::ToCamera, cmd, toCam);
    text += LineTrace::Format(12.5, TraceDirection::FromCamera, reply, fromCam);
    EXPECT_EQ(text,
              "    0.000000 tool>cam  05\n"
              "    0.000000 tool>cam  = ENQ: connection request\n"
              "    0.001042 cam>tool  06\n"
              "    0.001042 cam>tool  = ACK: accepted\n"
              "    0.002100 tool>cam  04 02 31 0A 01 00 00 00 00 00 00 00 00 00 00 00 00 03 43 1F\n"
              "    0.002100 tool>cam  = EOT: connection accepted\n"
              "    0.002100 tool>cam  = command: read (31), item 0A DSP register, register 01, check code 431F good\n"
              "   12.500000 cam>tool  06 02 A0 0A 01 40 00 00 00 00 00 00 00 00 00 00 00 03 7F 4C\n"
              "   12.500000 cam>tool  = ACK: accepted\n"
              "   12.500000 cam>tool  = reply: status A0 accepted, item 0A DSP register, register 01, value 4000, "
              "check code 7F4C good\n");
}

struct DecodeRow {
    const char* name;
    TraceDirection direction;
    std::vector<Bytes> chunks;  // as the port delivered them
    std::vector<std::string> lines;
};

class TraceDecoding : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(TraceDecoding, DecodesWhatTheBytesComplete) {
    TraceDecoder d(GetParam().direction);
    std::vector<std::string> lines;
    for (const Bytes& c : GetParam().chunks) d.Feed(c, lines);
    EXPECT_EQ(lines, GetParam().lines);
}

Bytes WithCheck(Bytes f, std::uint8_t hi, std::uint8_t lo) {
    f[f.size() - 2] = hi;
    f[f.size() - 1] = lo;
    return f;
}

Bytes Split(const Bytes& f, std::size_t from, std::size_t to) { return Bytes(f.begin() + static_cast<long>(from), f.begin() + static_cast<long>(to)); }

const Bytes kMemWrite = Frame({0x21, 0x0C, 0x01, 0x23, 0x12, 0x34});
const Bytes kRegRead = Frame({0x31, 0x0A, 0x01});

Bytes Block() {
    std::array<std::uint8_t, kBlockDataSize> data{};
    const BlockBytes b = BuildBlockFrame(data);
    return Bytes(b.begin(), b.end());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TraceDecoding,
    ::testing::Values(
        DecodeRow{"memory_write_gives_address_and_value",
                  TraceDirection::ToCamera,
                  {kMemWrite},
                  {"command: set (21), item 0C memory word, address 123, value 1234, check code 263C good"}},
        DecodeRow{"register_write_gives_register_and_value",
                  TraceDirection::ToCamera,
                  {Frame({0x21, 0x0B, 0x2C, 0x01, 0x80})},
                  {"command: set (21), item 0B DSP register, not stored, register 2C, value 0180, check code 5DFE good"}},
        DecodeRow{"other_items_give_their_data",
                  TraceDirection::ToCamera,
                  {Frame({0x21, 0x32, 0x05})},
                  {"command: set (21), item 32 menu key, data 05, check code 592F good"}},
        DecodeRow{"bad_check_code_says_what_it_should_be",
                  TraceDirection::ToCamera,
                  {WithCheck(kRegRead, 0x12, 0x34)},
                  {"command: read (31), item 0A DSP register, register 01, check code 1234 bad (should be 431F)"}},
        DecodeRow{"frame_split_over_reads_is_decoded_once_whole",
                  TraceDirection::ToCamera,
                  {Split(kRegRead, 0, 7), Split(kRegRead, 7, 18), Split(kRegRead, 18, 19)},
                  {"command: read (31), item 0A DSP register, register 01, check code 431F good"}},
        DecodeRow{"refused_reply_with_an_unknown_item",
                  TraceDirection::FromCamera,
                  {Reply({0xA8, 0x99})},
                  {"reply: status A8 refused, item 99, check code D566 good"}},
        DecodeRow{"short_reply_from_the_camera",
                  TraceDirection::FromCamera,
                  {Bytes{SOH, 0x12, 0x34, ETX, 0xC4, 0xF6}},
                  {"short reply: data 12 34, check code C4F6 good"}},
        DecodeRow{"block_frame_from_the_tool", TraceDirection::ToCamera, {Block()},
                  {"block frame: 1024 settings bytes, check code 5DA0 good"}},
        DecodeRow{"broken_frame_then_a_control_byte",
                  TraceDirection::FromCamera,
                  {Bytes(kRegRead.begin(), kRegRead.begin() + 16), Bytes{0x07, NAK}},
                  {"broken frame: 07 where ETX belongs after 16 bytes; frame dropped", "NAK: check code wrong, send again"}},
        DecodeRow{"stray_byte_outside_a_frame", TraceDirection::FromCamera, {Bytes{0x03}},
                  {"stray byte 03 outside a frame"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineTrace, RecordsFromTwoThreadsReachTheFileWholeAndInOrderPerDirection) {
    TempDir dir;
    const std::string path = dir.File("trace.txt");
    {
        LineTrace trace(path);
        auto send = [&](TraceDirection d, const Bytes& b) {
            for (int i = 0; i < 200; ++i) trace.Record(d, b.data(), b.size());
        };
        std::thread a(send, TraceDirection::ToCamera, kRegRead);
        std::thread b(send, TraceDirection::FromCamera, Bytes{ACK});
        a.join();
        b.join();
        trace.Flush();
        const std::string text = Slurp(path);
        auto count = [&](const std::string& s) {
            std::size_t n = 0;
            for (std::size_t at = 0; (at = text.find(s, at)) != std::string::npos; ++at) ++n;
            return n;
        };
        EXPECT_EQ(count("tool>cam  = command: read (31), item 0A DSP register, register 01, check code 431F good\n"), 200u);
        EXPECT_EQ(count("cam>tool  = ACK: accepted\n"), 200u);
        EXPECT_EQ(text.rfind(LineTrace::kHeader, 0), 0u);
    }
}

TEST(LineTrace, AFileThatCannotBeWrittenIsRefusedWithItsName) {
    try {
        LineTrace trace("/nonexistent-folder/trace.txt");
        ADD_FAILURE() << "opened";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "cannot write the trace file /nonexistent-folder/trace.txt: No such file or directory");
    }
}

TEST(LineTrace, TCommTracesWhatItWritesAndReads) {
    tern::test::Pty pty;
    TempDir dir;
    const std::string path = dir.File("trace.txt");
    LineTrace trace(path);
    TComm comm;
    comm.SetPortDevice(1, pty.SlavePath());
    comm.SetTrace(&trace);
    comm.Open();
    const std::uint8_t enq = ENQ;
    comm.Write(&enq, 1);
    std::uint8_t got = 0;
    ASSERT_EQ(::read(pty.Master(), &got, 1), 1);  // blocking master: waits for the byte
    const std::uint8_t ack = ACK;
    ASSERT_EQ(::write(pty.Master(), &ack, 1), 1);
    std::uint8_t in = 0;
    ASSERT_EQ(comm.Read(&in, 1), 1u);
    comm.Close();
    trace.Flush();
    const std::string text = Slurp(path);
    const std::size_t out = text.find("tool>cam  = ENQ: connection request\n");
    const std::size_t back = text.find("cam>tool  = ACK: accepted\n");
    ASSERT_NE(out, std::string::npos) << text;
    ASSERT_NE(back, std::string::npos) << text;
    EXPECT_LT(out, back);
}

}  // namespace
