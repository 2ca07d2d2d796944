#include "link/codec.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace tern::link {

namespace {
/// CRC-16/ARC (reflected polynomial 0xA001) of every byte value, made once
/// at compile time: one look-up per byte instead of eight shifts.
constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
        table[i] = static_cast<std::uint16_t>(crc);
    }
    return table;
}
constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();
}  // namespace

std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
    unsigned crc = 0;
    for (std::uint8_t byte : bytes) crc = (crc >> 8) ^ kCrcTable[(crc ^ byte) & 0xFFu];
    return static_cast<std::uint16_t>(crc);
}

FrameBytes BuildStxFrame(const Payload& p, int n) {
    FrameBytes f{};
    f[0] = STX;
    for (int i = 1; i <= static_cast<int>(kPayloadSize); ++i) {
        f[static_cast<std::size_t>(i)] = i <= n ? p[i] : 0;
    }
    f[16] = ETX;
    const std::uint16_t crc = Crc16(std::span<const std::uint8_t>(f.data() + 1, 16));
    f[17] = static_cast<std::uint8_t>(crc >> 8);
    f[18] = static_cast<std::uint8_t>(crc & 0xFF);
    return f;
}

BlockBytes BuildBlockFrame(std::span<const std::uint8_t, kBlockDataSize> data) {
    BlockBytes f{};
    f[0] = SOH;
    f[1] = kBlockTag;
    std::copy(data.begin(), data.end(), f.begin() + 2);
    f[1026] = ETX;
    const std::uint16_t crc = Crc16(std::span<const std::uint8_t>(f.data() + 1, 1026));
    f[1027] = static_cast<std::uint8_t>(crc >> 8);
    f[1028] = static_cast<std::uint8_t>(crc & 0xFF);
    return f;
}

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";
}

std::string HexByteText(std::uint8_t b) {
    return std::string{kDigits[b >> 4], kDigits[b & 0x0F]};
}

void HexBytePut(std::uint8_t b, char* dest2) {
    dest2[0] = kDigits[b >> 4];
    dest2[1] = kDigits[b & 0x0F];
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int HexPairValue(char hi, char lo) {
    const int h = HexDigitValue(hi);
    const int l = HexDigitValue(lo);
    if (h < 0 || l < 0) return -1;
    return h * 16 + l;
}

long HexTextValue(std::string_view text) {
    long value = 0;
    for (char c : text) {
        const int d = HexDigitValue(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        if (d < 0) return -1;
        if (value > 0x7FFFFFFL) return -1;  // an eighth-plus digit would overflow 32 bits
        value = value * 16 + d;
    }
    return value;
}

std::string HexWordText(std::uint16_t w) {
    return HexByteText(static_cast<std::uint8_t>(w >> 8)) + HexByteText(static_cast<std::uint8_t>(w & 0xFF));
}

std::string HexBytesText(std::span<const std::uint8_t> bytes) {
    std::string s(bytes.size() * 2, '0');
    for (std::size_t i = 0; i < bytes.size(); ++i) HexBytePut(bytes[i], &s[i * 2]);
    return s;
}

}  // namespace tern::link
