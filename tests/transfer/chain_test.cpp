#include <gtest/gtest.h>

#include <vector>

#include "link/codec.h"
#include "transfer/Chain.h"

namespace tern::transfer {
namespace {

/// The chain of a page as the hex payloads it sends, "310A01/3" each.
std::vector<std::string> Chain(Page page) {
    std::vector<std::string> out;
    for (int step = 0; step < 20; ++step) {
        const auto r = LoadChainStep(page, step);
        if (!r) break;
        out.push_back(link::HexBytesText(std::span<const std::uint8_t>(r->payload.b.data() + 1, static_cast<std::size_t>(r->n))));
    }
    return out;
}

TEST(LoadChain, EachPageReadsItsRowAndEndsAtItsDash) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Chain(Page::Adjust), (V{"310A01", "310A40", "3142", "311B00", "311B01", "3143", "314504"}));
    EXPECT_EQ(Chain(Page::Debug), (V{"310A01", "310A40"}));
    EXPECT_EQ(Chain(Page::Defect), (V{"310A01", "310A40"}));
    EXPECT_EQ(Chain(Page::Copy), (V{"310A01", "310A40"}));
    EXPECT_EQ(Chain(Page::Setup1), (V{"310A01", "310A40", "314500", "314501", "314502", "314503", "314504"}));
    EXPECT_EQ(Chain(Page::Setup2), (V{"310A01", "310A40", "314505", "314506"}));
    EXPECT_FALSE(LoadChainStep(static_cast<Page>(6), 0));
    EXPECT_FALSE(LoadChainStep(static_cast<Page>(-1), 0));
    EXPECT_FALSE(LoadChainStep(Page::Setup1, -1));
}

TEST(VideoGeometry, RegistersOneAndSixtyFourSetTheSensor) {
    VideoGeometry g;
    EXPECT_EQ(g.SensorWidth, 1);
    EXPECT_EQ(g.SensorHeight, 1);
    g.ApplyRegister(1, 0x4000);
    EXPECT_EQ(g.SensorWidth, 800);
    EXPECT_EQ(g.LowResolution, 0);
    g.ApplyRegister(1, 0xBFFF);  // every bit but 14
    EXPECT_EQ(g.SensorWidth, 544);
    EXPECT_EQ(g.LowResolution, 1);
    g.ApplyRegister(64, 0xFFFE);
    EXPECT_EQ(g.SensorHeight, 256);
    EXPECT_EQ(g.PalSystem, 0);
    g.ApplyRegister(64, 0x0001);
    EXPECT_EQ(g.SensorHeight, 312);
    EXPECT_EQ(g.PalSystem, 1);
    g.ApplyRegister(2, 0x4001);  // other registers change nothing
    EXPECT_EQ(g.SensorWidth, 544);
    EXPECT_EQ(g.SensorHeight, 312);
}

}  // namespace
}  // namespace tern::transfer
