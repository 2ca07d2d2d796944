// Frame codec of the camera line: control bytes, frame layouts, the check
// code and the small hexadecimal text helpers the pages use.
//
//  Command / long reply frame, 19 bytes
//  +------+-------------------+-----+---------+---------+
//  | STX  | payload 1 .. 15   | ETX | crc hi  | crc lo  |
//  +------+-------------------+-----+---------+---------+
//     0        1 .. 15          16     17        18        crc over 1..16
//
//  Block frame, 1029 bytes (settings memory in one go)
//  | SOH | 0x73 | 1024 data bytes | ETX | crc hi | crc lo |  crc over 1..1026
//
//  Short reply frame, 6 bytes
//  | SOH | d1 | d2 | ETX | crc hi | crc lo |                  crc over 1..3
//
// The check code is CRC-16/ARC (poly 0x8005 reflected = 0xA001, init 0,
// no final xor), sent high byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tern::link {

inline constexpr std::uint8_t NUL = 0x00;
inline constexpr std::uint8_t SOH = 0x01;
inline constexpr std::uint8_t STX = 0x02;
inline constexpr std::uint8_t ETX = 0x03;
inline constexpr std::uint8_t EOT = 0x04;
inline constexpr std::uint8_t ENQ = 0x05;
inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t DC1 = 0x11;
inline constexpr std::uint8_t NAK = 0x15;
inline constexpr std::uint8_t SYN = 0x16;

inline constexpr std::size_t kCmdFrameSize = 19;
inline constexpr std::size_t kPayloadSize = 15;
inline constexpr std::size_t kBlockFrameSize = 1029;
inline constexpr std::size_t kBlockDataSize = 1024;
inline constexpr std::size_t kShortFrameSize = 6;
inline constexpr std::uint8_t kBlockTag = 0x73;

using FrameBytes = std::array<std::uint8_t, kCmdFrameSize>;
using BlockBytes = std::array<std::uint8_t, kBlockFrameSize>;

/// A command payload, numbered 1 to 15 as the camera counts its bytes;
/// index 0 is unused. Senders fill one apart from the link's frame, so a
/// send that is refused leaves the frame in flight untouched.
struct Payload {
    std::array<std::uint8_t, kPayloadSize + 1> b{};
    std::uint8_t& operator[](int i) { return b.at(static_cast<std::size_t>(i)); }
    std::uint8_t operator[](int i) const { return b.at(static_cast<std::size_t>(i)); }
};

/// Bitwise CRC-16/ARC; the only constant is 0xA001.
std::uint16_t Crc16(std::span<const std::uint8_t> bytes);

/// Builds a complete 19-byte STX frame from payload bytes 1..n; bytes n+1..15 are zero.
FrameBytes BuildStxFrame(const Payload& p, int n);
/// Builds the 1029-byte block frame from 1024 data bytes.
BlockBytes BuildBlockFrame(std::span<const std::uint8_t, kBlockDataSize> data);

// Hexadecimal text: upper-case out, either case in.
std::string HexByteText(std::uint8_t b);
void HexBytePut(std::uint8_t b, char* dest2);
int HexDigitValue(char c);
int HexPairValue(char hi, char lo);
/// Value of a hexadecimal text; 0 for "", -1 as soon as a character is not a
/// hex digit. Texts too long for 32 bits also read as -1.
long HexTextValue(std::string_view text);
std::string HexWordText(std::uint16_t w);
/// Bytes as hex digits, two per byte, no separators.
std::string HexBytesText(std::span<const std::uint8_t> bytes);

}  // namespace tern::link
