#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/codec.h"

using namespace tern::link;

namespace {
std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}
}  // namespace

TEST(CheckCode, KnownValues) {
    EXPECT_EQ(Crc16(Bytes("123456789")), 0xBB3D);  // CRC-16/ARC check value
    EXPECT_EQ(Crc16({}), 0x0000);
    // Not CRC-16/MODBUS (init 0xFFFF gives 0x4B37 for the same digits).
    EXPECT_NE(Crc16(Bytes("123456789")), 0x4B37);
}

TEST(CommandFrame, MenuKeyFrameIsExact) {
    Payload p;
    p[1] = 0x21;
    p[2] = 0x32;
    p[3] = 0x05;
    const FrameBytes f = BuildStxFrame(p, 3);
    std::vector<std::uint8_t> expect = {STX, 0x21, 0x32, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, ETX};
    const std::uint16_t crc = Crc16(std::span<const std::uint8_t>(expect.data() + 1, 16));
    expect.push_back(static_cast<std::uint8_t>(crc >> 8));
    expect.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    EXPECT_EQ(std::vector<std::uint8_t>(f.begin(), f.end()), expect);
}

TEST(CommandFrame, CountDecidesWhatIsZeroed) {
    Payload p;
    for (int i = 1; i <= 15; ++i) p[i] = static_cast<std::uint8_t>(0xA0 + i);
    const FrameBytes all = BuildStxFrame(p, 15);
    for (int i = 1; i <= 15; ++i) EXPECT_EQ(all[i], 0xA0 + i) << i;
    const FrameBytes one = BuildStxFrame(p, 1);
    EXPECT_EQ(one[1], 0xA1);
    for (int i = 2; i <= 15; ++i) EXPECT_EQ(one[i], 0) << i;
}

TEST(BlockFrame, LayoutAndCheckCode) {
    std::array<std::uint8_t, kBlockDataSize> data{};
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    const BlockBytes f = BuildBlockFrame(data);
    EXPECT_EQ(f[0], SOH);
    EXPECT_EQ(f[1], 0x73);
    EXPECT_EQ(f[2], data[0]);
    EXPECT_EQ(f[1025], data[1023]);
    EXPECT_EQ(f[1026], ETX);
    const std::uint16_t crc = Crc16(std::span<const std::uint8_t>(f.data() + 1, 1026));
    EXPECT_EQ(f[1027], crc >> 8);
    EXPECT_EQ(f[1028], crc & 0xFF);
}

TEST(HexText, ReadsEitherCaseAndRefusesOthers) {
    EXPECT_EQ(HexTextValue("1f"), 31);
    EXPECT_EQ(HexTextValue("1F"), 31);
    EXPECT_EQ(HexTextValue(""), 0);
    EXPECT_EQ(HexTextValue("1G"), -1);
    EXPECT_EQ(HexTextValue("Data"), -1);
    EXPECT_EQ(HexTextValue("FFFF"), 0xFFFF);
    EXPECT_EQ(HexTextValue("FFFFFFFFFF"), -1);  // too long for 32 bits
    EXPECT_EQ(HexDigitValue('a'), 10);
    EXPECT_EQ(HexDigitValue('g'), -1);
    EXPECT_EQ(HexPairValue('2', '3'), 0x23);
    EXPECT_EQ(HexPairValue('2', ' '), -1);
}

TEST(HexText, WritesUpperCase) {
    EXPECT_EQ(HexWordText(0x0A05), "0A05");
    EXPECT_EQ(HexByteText(0xAB), "AB");
    char two[2];
    HexBytePut(0x0F, two);
    EXPECT_EQ(std::string(two, 2), "0F");
    const std::uint8_t b[] = {0x00, 0xFF, 0x3C};
    EXPECT_EQ(HexBytesText(b), "00FF3C");
}
