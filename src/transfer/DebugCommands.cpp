#include "transfer/DebugCommands.h"

namespace tern::transfer::debug {

using link::HexDigitValue;
using link::Payload;

namespace {
std::uint8_t Hi(int v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }
std::uint8_t Lo(int v) { return static_cast<std::uint8_t>(v & 0xFF); }
}  // namespace

std::optional<int> CompleteHexValue(std::string_view text) {
    if (text.size() != kHexFieldLength) return std::nullopt;
    const long v = link::HexTextValue(text);
    if (v < 0) return std::nullopt;
    return static_cast<int>(v);
}

std::optional<int> EepromAddress(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const long v = link::HexTextValue(text);
    if (v < 0 || v > kEepromLastWord) return std::nullopt;
    return static_cast<int>(v);
}

Payload DspRead(int reg) {
    Payload p;
    p[1] = link::kGroupRead;
    p[2] = link::kItemRegister;
    p[3] = Lo(reg);
    return p;
}

Payload DspWrite(int reg, int value, bool noWrite) {
    Payload p;
    p[1] = link::kGroupWrite;
    p[2] = noWrite ? link::kItemRegisterOnly : link::kItemRegister;  // 0x0B leaves the EEPROM copy alone
    p[3] = Lo(reg);
    p[4] = Hi(value);
    p[5] = Lo(value);
    return p;
}

Payload EepRead(int address) {
    Payload p;
    p[1] = link::kGroupRead;
    p[2] = link::kItemMemory;
    p[3] = Hi(address);
    p[4] = Lo(address);
    return p;
}

Payload EepWrite(int address, int value, bool alsoRam) {
    Payload p;
    p[1] = link::kGroupWrite;
    p[2] = alsoRam ? link::kItemMemoryRam : link::kItemMemory;
    p[3] = Hi(address);
    p[4] = Lo(address);
    p[5] = Hi(value);
    p[6] = Lo(value);
    return p;
}

Payload OsdData(int value, bool sixteenBit, int& n) {
    Payload p;
    p[1] = link::kGroupWrite;
    p[2] = link::kItemOsd;
    if (sixteenBit) {
        p[3] = 0x01;
        p[4] = Hi(value);
        p[5] = Lo(value);
        n = 5;
    } else {
        p[3] = 0x00;
        p[4] = Lo(value);
        n = 4;
    }
    return p;
}

Payload PresetSave() {
    Payload p;
    p[1] = link::kGroupWrite;
    p[2] = link::kItemPreset;
    p[3] = 0x01;
    return p;
}

std::optional<Payload> ParseSendBuffer(std::string_view text) {
    const auto separator = [](char c) {
        return c == ' ' || c == '\t' || c == ',' || c == '-' || c == ':' || c == ';' || c == '.';
    };
    bool anyDigit = false;
    for (char c : text) {
        if (HexDigitValue(c) >= 0) {
            anyDigit = true;
        } else if (!separator(c)) {
            return std::nullopt;  // not a command typed in hex
        }
    }
    if (!anyDigit) return std::nullopt;
    Payload p;
    int pos = 1;
    int digits = 0;  // digits in the byte being filled
    for (char c : text) {
        const int d = HexDigitValue(c);
        if (d < 0) {
            if (digits > 0) ++pos;
            digits = 0;
            continue;
        }
        if (pos > static_cast<int>(link::kPayloadSize)) break;
        if (digits == 0) {
            p[pos] = static_cast<std::uint8_t>(d);
            digits = 1;
        } else {
            p[pos] = static_cast<std::uint8_t>(p[pos] * 16 + d);
            ++pos;
            digits = 0;
        }
    }
    return p;
}

int MaskedStep(int value, int mask, bool up) {
    value &= 0xFFFF;
    mask &= 0xFFFF;
    int step = 0;
    for (int bit = 0; bit < 16; ++bit) {
        if (mask & (1 << bit)) {
            step = 1 << bit;
            break;
        }
    }
    const int moved = up ? value + step : value - step;
    return ((value & ~mask) | (mask & moved)) & 0xFFFF;
}

int StepEepromAddress(int address, bool up) {
    if (up) return (address < 0 || address >= kEepromLastWord) ? 0 : address + 1;
    return (address <= 0 || address > kEepromLastWord) ? kEepromLastWord : address - 1;
}

int MenuKeyForChar(char c) {
    switch (c) {
        case '8': case 'I': case 'i': return kKeyUp;
        case '2': case 'K': case 'k': return kKeyDown;
        case '4': case 'J': case 'j': return kKeyLeft;
        case '6': case 'L': case 'l': return kKeyRight;
        case '7': case 'U': case 'u': return kKeyEnter;
        default: return -1;
    }
}

}  // namespace tern::transfer::debug

namespace tern::transfer::debug {

std::optional<ReadAnswer> DecodeRead(const link::Reply& reply) {
    switch (reply.Item()) {
        case link::kItemRegister:
            return ReadAnswer{ReadAnswer::Register, reply.Sub(),
                              link::HexWordText(static_cast<std::uint16_t>(reply.WordHL(4)))};
        case link::kItemMemory:
            return ReadAnswer{ReadAnswer::Memory, reply.WordHL(3),
                              link::HexWordText(static_cast<std::uint16_t>(reply.WordHL(5)))};
        default:
            return std::nullopt;
    }
}

}  // namespace tern::transfer::debug
