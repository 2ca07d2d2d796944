// The camera's side of the line, byte for byte.
#include <gtest/gtest.h>

#include "camera/peer.h"
#include "frames.h"
#include "test_names.h"

namespace tern::camera {
namespace {

using namespace test;

/// Sends one command frame and returns the reply, expecting ACK + frame.
Bytes15 Ask(CameraPeer& cam, const Bytes15& p) {
    const Bytes out = cam.Feed(Frame(p));
    Bytes15 reply{};
    EXPECT_EQ(out.size(), 20u);
    EXPECT_TRUE(!out.empty() && out[0] == link::ACK);
    EXPECT_TRUE(ReplyAt(out, 1, reply));
    return reply;
}

TEST(CameraPeer, HandshakeBytes) {
    CameraPeer cam;
    EXPECT_EQ(cam.Feed(link::ENQ), Bytes{link::ACK});
    EXPECT_TRUE(cam.Feed(link::EOT).empty());
    EXPECT_TRUE(cam.Feed(link::ACK).empty());
    EXPECT_TRUE(cam.Feed(Bytes{0x03, 0x00, 0xFF, 0x16}).empty());
    EXPECT_TRUE(cam.Feed(link::NAK).empty()) << "nothing to send again yet";
}

struct Straps {
    bool hiRes;
    bool pal;
    std::uint8_t reg1Hi;
    std::uint8_t reg40Lo;
};

class Resolution : public testing::TestWithParam<Straps> {};

TEST_P(Resolution, RegistersOneAndSixtyFourShowTheSensorAndStandard) {
    const Straps s = GetParam();
    CameraPeer cam(With([&](CameraOptions& o) { o.highResolution = s.hiRes; o.pal = s.pal; }));
    EXPECT_EQ(cam.Feed(Frame({0x31, 0x0A, 0x01})), AckAndReply(P({0xA0, 0x0A, 0x01, s.reg1Hi, 0x00})));
    EXPECT_EQ(cam.Feed(Frame({0x31, 0x0A, 0x40})), AckAndReply(P({0xA0, 0x0A, 0x40, 0x00, s.reg40Lo})));
}

INSTANTIATE_TEST_SUITE_P(Straps, Resolution,
                         testing::Values(Straps{true, false, 0x40, 0x00}, Straps{false, false, 0x00, 0x00},
                                         Straps{true, true, 0x40, 0x01}, Straps{false, true, 0x00, 0x01}),
                         [](const testing::TestParamInfo<Straps>& i) {
                             return std::string(i.param.hiRes ? "Hi" : "Lo") + (i.param.pal ? "Pal" : "Ntsc");
                         });

TEST(CameraPeer, PresetPresetSaveAndResetEndWithTheAck) {
    CameraPeer cam;
    Ask(cam, P({0x31, 0x45, 0x01}));
    for (const Bytes15& p : {P({0x21, 0x20, 0x00}), P({0x21, 0x20, 0x01}), P({0xF1})}) {
        EXPECT_EQ(cam.Feed(Frame(p)), Bytes{link::ACK});
        EXPECT_TRUE(cam.Feed(link::NAK).empty()) << "a NAK must not bring back the reply to an older command";
    }
    EXPECT_EQ(cam.Model().Presets(), 1);
    EXPECT_EQ(cam.Model().PresetSaves(), 1);
    EXPECT_EQ(cam.Model().Resets(), 1);
}

TEST(CameraPeer, WritesReadBack) {
    CameraPeer cam;
    EXPECT_EQ(Ask(cam, P({0x21, 0x0A, 0x23, 0x01, 0x80})), P({0xA0, 0x0A, 0x23, 0x01, 0x80}));
    EXPECT_EQ(Ask(cam, P({0x31, 0x0A, 0x23})), P({0xA0, 0x0A, 0x23, 0x01, 0x80}));
    EXPECT_EQ(Ask(cam, P({0x21, 0x0C, 0x01, 0x2A, 0xBE, 0xEF})), P({0xA0, 0x0C, 0x01, 0x2A, 0xBE, 0xEF}));
    EXPECT_EQ(Ask(cam, P({0x31, 0x0C, 0x01, 0x2A})), P({0xA0, 0x0C, 0x01, 0x2A, 0xBE, 0xEF}));
    EXPECT_EQ(Ask(cam, P({0x21, 0x1A, 0x01, 0x07})), P({0xA0, 0x1A, 0x01, 0x07}));
    EXPECT_EQ(Ask(cam, P({0x31, 0x1A, 0x01})), P({0xA0, 0x1A, 0x01, 0x07}));
}

TEST(CameraPeer, DamagedFramesGetOneNak) {
    // The payload holds start-byte values so a careless resync would go astray.
    const Bytes good = Frame({0x21, 0x1C, 0x02, 0x01, 0x02, 0x73});
    Bytes badCheck = good;
    badCheck[18] ^= 0x01;
    Bytes badEnd = good;
    badEnd[16] = 0x00;
    for (const Bytes& bad : {badCheck, badEnd}) {
        CameraPeer cam;
        EXPECT_EQ(cam.Feed(bad), Bytes{link::NAK});
        EXPECT_EQ(cam.Model().CommandsSeen(), 0u);
        EXPECT_EQ(cam.Feed(good), AckAndReply(P({0xA0, 0x1C, 0x02, 0x01, 0x02, 0x73})));
        EXPECT_EQ(cam.Stats().naksSent, 1u);
    }
}

TEST(CameraPeer, ToolNakBringsTheSameReplyWithoutAnotherAck) {
    CameraPeer cam;
    const Bytes first = cam.Feed(Frame({0x31, 0x45, 0x02}));
    ASSERT_EQ(first.size(), 20u);
    EXPECT_EQ(cam.Feed(link::NAK), Bytes(first.begin() + 1, first.end()));
    EXPECT_EQ(cam.Feed(link::NAK), Bytes(first.begin() + 1, first.end()));
    EXPECT_EQ(cam.Model().CommandsSeen(), 1u);
}

struct Garbage {
    const char* name;
    Bytes bytes;
};

class Resync : public testing::TestWithParam<Garbage> {};

TEST_P(Resync, TheNextFrameAfterGarbageIsAnswered) {
    CameraPeer cam;
    const Bytes15 cmd = P({0x21, 0x1D, 0x05, 0x01});
    const Bytes out = cam.Feed(Concat(GetParam().bytes, Frame(cmd)));
    const Bytes expected = AckAndReply(P({0xA0, 0x1D, 0x05, 0x01}));
    ASSERT_GE(out.size(), expected.size());
    EXPECT_EQ(Bytes(out.end() - static_cast<std::ptrdiff_t>(expected.size()), out.end()), expected);
    EXPECT_EQ(cam.Model().LastPayload(), cmd);
    EXPECT_EQ(cam.Model().CommandsSeen(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Resync,
    testing::Values(Garbage{"noise", {0x55, 0x03, 0xFF, 0x80}}, Garbage{"cut_frame", {0x02, 0x31, 0x0A}},
                    Garbage{"cut_frame_with_start_bytes", {0x02, 0x21, 0x02, 0x01, 0x02}},
                    Garbage{"stray_soh", {0x01, 0x31}}, Garbage{"almost_a_frame", Bytes(18, 0x02)}),
    [](const testing::TestParamInfo<Garbage>& i) { return std::string(i.param.name); });

TEST(CameraPeer, EveryByteValueTravelsInsideAPayload) {
    CameraPeer cam;
    for (int v = 0; v < 256; ++v) {
        const auto hi = static_cast<std::uint8_t>(v);
        const auto lo = static_cast<std::uint8_t>(255 - v);
        ASSERT_EQ(Ask(cam, P({0x21, 0x0C, 0x00, 0x42, hi, lo}))[4], hi) << v;
        const Bytes15 r = Ask(cam, P({0x31, 0x0C, 0x00, 0x42}));
        ASSERT_EQ(r[4], hi) << v;
        ASSERT_EQ(r[5], lo) << v;
    }
    const Bytes15 title = P({0x21, 0x10, 0x01, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x15, 0x16, 0x11, 0x73, 0xFF, 0x00});
    Ask(cam, title);
    Bytes15 expected = title;
    expected[0] = 0xA0;
    EXPECT_EQ(Ask(cam, P({0x31, 0x10, 0x01})), expected);
}

TEST(CameraPeer, CorruptEveryNthReplyAndSendItRightOnNak) {
    CameraPeer cam(With([](CameraOptions& o) { o.corruptEvery = 3; }));
    for (int i = 1; i <= 6; ++i) {
        const Bytes15 cmd = P({0x31, 0x0A, static_cast<std::uint8_t>(i)});
        const Bytes out = cam.Feed(Frame(cmd));
        ASSERT_EQ(out.size(), 20u);
        Bytes15 reply{};
        const bool intact = ReplyAt(out, 1, reply);
        EXPECT_EQ(intact, i % 3 != 0) << i;
        if (!intact) {
            const Bytes again = cam.Feed(link::NAK);
            ASSERT_TRUE(ReplyAt(again, 0, reply));
            EXPECT_EQ(again.size(), 19u);
        }
        EXPECT_EQ(reply[2], i);
    }
    EXPECT_EQ(cam.Stats().repliesCorrupted, 2u);
}

TEST(CameraPeer, DropEveryNthReplyButStillAck) {
    CameraPeer cam(With([](CameraOptions& o) { o.dropEvery = 2; }));
    const Bytes cmd = Frame({0x31, 0x0A, 0x30});
    EXPECT_EQ(cam.Feed(cmd).size(), 20u);
    EXPECT_EQ(cam.Feed(Frame({0x31, 0x0A, 0x31})), Bytes{link::ACK});
    // The tool's reply watch sends the frame again.
    Bytes15 reply{};
    const Bytes out = cam.Feed(Frame({0x31, 0x0A, 0x31}));
    ASSERT_TRUE(ReplyAt(out, 1, reply));
    EXPECT_EQ(reply[2], 0x31);
    EXPECT_EQ(cam.Stats().repliesDropped, 1u);
}

TEST(CameraPeer, RefusedAndFailingItemsLeaveTheCameraAsItWas) {
    CameraPeer cam(With([](CameraOptions& o) {
        o.refuseItems = {0x1C};
        o.errorItems = {0x1A, 0x73};
    }));
    const MemoryImage before = cam.Model().Memory();
    EXPECT_EQ(Ask(cam, P({0x21, 0x1C, 0x00, 0x01})), P({0xA8, 0x1C, 0x00, 0x01}));
    EXPECT_EQ(Ask(cam, P({0x21, 0x1A, 0x01, 0x08})), P({0xE0, 0x1A, 0x01, 0x08}));
    EXPECT_EQ(Ask(cam, P({0x31, 0x1C, 0x00})), P({0xA8, 0x1C, 0x00}));
    const std::array<std::uint8_t, 1024> data{};
    const link::BlockBytes block = link::BuildBlockFrame(data);
    EXPECT_EQ(cam.Feed(Bytes(block.begin(), block.end())), AckAndReply(P({0xE0, 0x73})));
    EXPECT_EQ(cam.Model().Memory(), before);
    EXPECT_EQ(Ask(cam, P({0x31, 0x1B, 0x00}))[0], 0xA0) << "other items are answered as usual";
}

TEST(CameraPeer, BlockReplacesTheMemoryLowByteFirst) {
    CameraPeer cam;
    std::array<std::uint8_t, 1024> data{};
    for (std::size_t a = 0; a < 512; ++a) {
        data[2 * a] = static_cast<std::uint8_t>(a * 7);               // low byte
        data[2 * a + 1] = static_cast<std::uint8_t>((a >> 8) | 0xA0);  // high byte
    }
    link::BlockBytes block = link::BuildBlockFrame(data);
    Bytes bad(block.begin(), block.end());
    bad[600] ^= 0x40;
    EXPECT_EQ(cam.Feed(bad), Bytes{link::NAK});
    EXPECT_EQ(cam.Model().Blocks(), 0);

    EXPECT_EQ(cam.Feed(Bytes(block.begin(), block.end())), AckAndReply(P({0xA0, 0x73})));
    EXPECT_EQ(cam.Model().MemoryWord(0x123), 0xA1F5);  // 0x123 * 7 = 0x7F5
    EXPECT_EQ(Ask(cam, P({0x31, 0x0C, 0x01, 0xFF})), P({0xA0, 0x0C, 0x01, 0xFF, 0xA1, 0xF9}));
}

class MemoryCopy : public testing::TestWithParam<bool> {};

TEST_P(MemoryCopy, CarriesTheItemSettingsToAnotherCamera) {
    const bool asBlock = GetParam();
    CameraPeer a(With([](CameraOptions& o) { o.pal = true; }));
    CameraPeer b;
    for (const Bytes15& w :
         {P({0x21, 0x10, 0x01, 0x20, 0x21, 0x22}), P({0x21, 0x1C, 0x01, 0x01, 0x2C}), P({0x21, 0x1D, 0x12, 9, 8, 7, 6}),
          P({0x21, 0x48, 1, 2, 3, 4, 5, 6}), P({0x21, 0x1F, 0x01, 0x00, 0x66}), P({0x21, 0x1D, 0x15, 0x02, 0x11}),
          P({0x21, 0x37, 0x04, 0x01, 0x01}), P({0x21, 0x42, 0x9A, 0xBC, 0x01}), P({0x21, 0x3A, 0x03, 0x07, 0x01})}) {
        ASSERT_EQ(Ask(a, w)[0], 0xA0);
    }
    std::vector<Bytes15> reads;
    for (std::uint8_t blk = 0; blk <= 6; ++blk) reads.push_back(P({0x31, 0x45, blk}));
    for (std::uint8_t piece = 0x40; piece <= 0x45; ++piece) reads.push_back(P({0x31, 0x3A, piece}));
    reads.push_back(P({0x31, 0x1D, 0x12}));
    reads.push_back(P({0x31, 0x42}));
    reads.push_back(P({0x31, 0x37, 0x04}));

    ASSERT_NE(Ask(b, reads[0]), Ask(a, reads[0])) << "the cameras must differ before the copy";

    std::array<std::uint8_t, 1024> data{};
    for (std::uint8_t hi = 0; hi <= 1; ++hi) {
        for (int lo = 0; lo < 256; ++lo) {
            const Bytes15 r = Ask(a, P({0x31, 0x0C, hi, static_cast<std::uint8_t>(lo)}));
            const std::size_t addr = hi * 256u + static_cast<std::size_t>(lo);
            data[2 * addr] = r[5];
            data[2 * addr + 1] = r[4];
            if (!asBlock) {
                ASSERT_EQ(Ask(b, P({0x21, 0x0C, hi, static_cast<std::uint8_t>(lo), r[4], r[5]}))[0], 0xA0);
            }
        }
    }
    if (asBlock) {
        const link::BlockBytes block = link::BuildBlockFrame(data);
        ASSERT_EQ(b.Feed(Bytes(block.begin(), block.end())), AckAndReply(P({0xA0, 0x73})));
    }
    EXPECT_EQ(b.Feed(Frame({0xF1})), Bytes{link::ACK});
    for (const Bytes15& r : reads) EXPECT_EQ(Ask(b, r), Ask(a, r)) << link::HexBytesText(r);
    // The sensor and the standard belong to the camera, not to its memory.
    EXPECT_EQ(Ask(b, P({0x31, 0x0A, 0x40}))[4], 0x00);
}

INSTANTIATE_TEST_SUITE_P(Ways, MemoryCopy, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& i) { return i.param ? "Block" : "WordByWord"; });

}  // namespace
}  // namespace tern::camera
