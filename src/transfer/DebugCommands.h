// The Debug page's commands and field rules, apart from the widgets: what a
// hex field's text means, which bytes each action puts on the wire, and how
// the spin buttons step a value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/codec.h"
#include "link/protocol.h"

namespace tern::transfer::debug {

/// The four-digit hex fields (DspData, DspRadix, eepadr, Eepdata, osdt).
inline constexpr int kHexFieldLength = 4;
inline constexpr int kEepromLastWord = 0x1FF;

/// The value of a field that holds exactly four hexadecimal digits; nothing
/// for a shorter text or one with any other character ("Data").
std::optional<int> CompleteHexValue(std::string_view text);
/// The value of an EEPROM address field when it reads as a word address
/// 0x000..0x1FF (shorter texts count: "1A0" is 0x1A0).
std::optional<int> EepromAddress(std::string_view text);

link::Payload DspRead(int reg);                                  // 31 0A rr
link::Payload DspWrite(int reg, int value, bool noWrite);        // 21 0A|0B rr hi lo
link::Payload EepRead(int address);                              // 31 0C ah al
link::Payload EepWrite(int address, int value, bool alsoRam);    // 21 0C|0F ah al dh dl
/// The OSD test data: 21 0E 00 lo (8 bit, n = 4) or 21 0E 01 hi lo (16 bit, n = 5).
link::Payload OsdData(int value, bool sixteenBit, int& n);
link::Payload PresetSave();                                      // 21 20 01

/// A raw command typed in hex: two digits make a byte, a separator (space,
/// comma, dash, colon, semicolon, dot) ends the byte being filled (a lone
/// digit is the byte's value). Digits past the fifteenth byte are ignored.
/// Nothing for a text with no digit or with any other character ("SendBuffer").
std::optional<link::Payload> ParseSendBuffer(std::string_view text);

/// Steps the bits of `value` under `mask` by the mask's lowest set bit,
/// leaving the other bits alone; 16 bits wide.
int MaskedStep(int value, int mask, bool up);
/// eepadr's arrows: 0x000..0x1FF, wrapping at both ends.
int StepEepromAddress(int address, bool up);

/// The menu key typed on a key button, or -1: 8/I UP, 2/K DOWN, 4/J LEFT,
/// 6/L RIGHT, 7/U ENTER (letters in either case).
int MenuKeyForChar(char c);
inline constexpr int kKeyRight = 0, kKeyLeft = 1, kKeyDown = 2, kKeyUp = 3, kKeyEnter = 4;

/// A read answer as the Debug page shows it: which register or memory word
/// was read, and its value as four hex digits.
struct ReadAnswer {
    enum Kind { Register, Memory } kind;
    int where;
    std::string text;
};
/// The read answers of the Debug page's own requests; nothing for other items.
std::optional<ReadAnswer> DecodeRead(const link::Reply& reply);

}  // namespace tern::transfer::debug
