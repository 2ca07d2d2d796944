// The camera's controller as the tool sees it: 256 DSP registers, the
// settings memory (EEPROM, 512 words of 16 bits), the item settings, the
// defect table with its automatic search, and the service commands. It
// answers one command payload at a time; framing is the peer's business.
//
// Settings memory map (word addresses)
//
//   0x000-0x0FF  DSP register values, word n for register n; loaded into the
//                registers at reset (21 0A writes both, 21 0B the register only)
//   0x100-0x12F  item settings, byte view below
//   0x130-0x13F  spare
//   0x140-0x15D  defect table, slot s: X word at 0x140+2s, Y word at 0x141+2s
//   0x15E-0x17F  spare
//   0x180-0x1AF  preset copy of 0x100-0x12F (21 20 01 stores it, 21 20 00
//                and the aperture preset restore from it)
//   0x1B0-0x1FF  spare; a settings file carries no record for word 0x1FF
//
// Byte view: settings byte k lives in word 0x100 + k/2, the high byte for
// even k, so a 16-bit value at an even k reads high byte first and the defect
// table is bytes 0x80-0xBB. The item settings keep nothing outside memory, so
// writing a memory copy into another camera gives it the same item answers.
//
//   byte       item/sub    setting                  byte       item/sub    setting
//   0x00-0x0B  10/01       title, 12 font codes     0x2F       1D/07       V reversal
//   0x0C       10/00       title on                 0x30       1D/08       freeze
//   0x0D       10/03       title position           0x31       1D/09       freeze type
//   0x0E       11          sense-up                 0x32-0x41  1D/10-13    mask A-D x1 y1 x2 y2
//   0x0F       12          lens mode                0x42       1D/14       gamma
//   0x10       15          shutter                  0x43       1D/15 01    aperture H gain
//   0x11       17          ELC level                0x44       1D/15 02    aperture V gain
//   0x12       18/00       BLC                      0x45       1D/16       knee level
//   0x13       18/01       BLC preset               0x46       1D/17       colour bar
//   0x14-0x19  19          BLC area, 6 bytes        0x47       1F/00       zoom on
//   0x1A       1A/00       AGC mode                 0x48       1F/01       zoom level
//   0x1B       1A/01       AGC maximum              0x49       22          peak level
//   0x1C       1A/02       AGC manual               0x4A-0x4E  37/00-04    use selectors
//   0x1D       1B/00       white balance mode       0x50-0x51  42          delay nibbles a, b
//   0x1E       1B/01       white balance preset     0x52       43          PWM (DC lens) reference
//   0x1F       1B/02       R gain                   0x53       46          lens reference (read only)
//   0x20       1B/03       B gain                   0x54       47/00       motion detection on
//   0x21       1C/00       sync                     0x55       47/01       motion area preset
//   0x22-0x23  1C/01       V phase, 16 bit          0x56       47/02       motion level
//   0x24-0x25  -           V phase maximum          0x57       47/03       motion timer
//   0x26       1C/02       H phase                  0x58-0x5D  48          motion area, 6 bytes
//   0x27       -           H phase maximum          0x4F, 0x5E-0x5F        spare
//   0x28-0x2B  1D/00-03    mask A-D on
//   0x2C-0x2E  1D/04-06    nega, mirror, priority
//
// A read answers A0, the item, the sub-item (where the item has them) and the
// value bytes; a write answers A0 and echoes payload bytes 2 to 15.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "camera/options.h"
#include "link/codec.h"
#include "link/protocol.h"

namespace tern::camera {

using link::kGroupRead;
using link::kGroupReset;
using link::kGroupWrite;
using link::kItemBlock;
using link::kItemDefect;
using link::kMemoryWords;
using link::kRegisterCount;
using link::kStatusAccepted;
using link::kStatusRefused;
/// No such command or item.
inline constexpr std::uint8_t kStatusUnknown = 0xE0;
/// A known item with a sub-item, address or slot the camera does not have.
inline constexpr std::uint8_t kStatusBadValue = 0xE1;



inline constexpr std::size_t kDefectSlots = 15;
inline constexpr std::size_t kSettingsBytes = 0x60;

inline constexpr int kWordSettings = 0x100;
inline constexpr int kWordDefects = 0x140;
inline constexpr int kWordPreset = 0x180;

/// Payload bytes 1..15 (or reply offsets 1..15) at indices 0..14.
using Bytes15 = std::array<std::uint8_t, link::kPayloadSize>;
using MemoryImage = std::array<std::uint16_t, kMemoryWords>;

struct Answer {
    /// The camera ends the exchange with its ACK; no reply frame follows.
    bool ackOnly = false;
    /// Reply offsets 1..15: status, item, data.
    Bytes15 reply{};
};

/// One slot of the defect table as the camera keeps it.
struct DefectSlot {
    std::uint16_t x = 0;  ///< 10 bits
    std::uint16_t y = 0;  ///< 9 bits
    bool enabled = false;
    bool fix = false;
    bool rev = false;
    bool operator==(const DefectSlot&) const = default;
};

/// The last cursor position command as the camera took it.
struct CursorCommand {
    int slot = 0;  ///< 0..14, or 0xFF when the tool had no slot chosen
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    std::uint8_t mark1 = 0;  ///< payload bytes 9 and 10
    std::uint8_t mark2 = 0;
    bool operator==(const CursorCommand&) const = default;
};

/// Payload bytes 4..10 of a search start: the same for every camera.
inline constexpr std::array<std::uint8_t, 7> kSearchStartFixed = {0x00, 0x01, 0xFF, 0xFC, 0x00, 0x00, 0x01};

class CameraModel {
public:
    explicit CameraModel(CameraOptions options = {});

    Answer Handle(const Bytes15& payload);
    Answer Handle(const link::Payload& payload);
    /// The 1024-byte block: the 512 memory words, low byte first.
    Answer HandleBlock(std::span<const std::uint8_t, link::kBlockDataSize> data);

    // ---- inspection and set-up (tests, demonstrations) ---------------------
    std::uint16_t Register(int n) const { return regs_.at(static_cast<std::size_t>(n)); }
    /// The resolution and TV-standard bits follow the sensor fitted, whatever is written.
    void SetRegister(int n, std::uint16_t value);
    std::uint16_t MemoryWord(int address) const { return mem_.at(static_cast<std::size_t>(address)); }
    void SetMemoryWord(int address, std::uint16_t value) { mem_.at(static_cast<std::size_t>(address)) = value; }
    const MemoryImage& Memory() const { return mem_; }
    void SetMemory(const MemoryImage& image) { mem_ = image; }
    /// Loads the registers from memory, as the reset command does.
    void Reset();

    std::uint8_t SettingByte(int k) const;
    void SetSettingByte(int k, std::uint8_t value);
    DefectSlot Slot(int s) const;
    void SetSlot(int s, const DefectSlot& slot);
    /// 0 when the camera shows no defect cursor, else the slot index + 1.
    int CursorDisplay() const { return cursorDisplay_; }
    std::optional<CursorCommand> LastCursor() const { return lastCursor_; }
    /// Payload bytes 11..13 of the last search start.
    std::optional<std::array<std::uint8_t, 3>> SearchParameters() const { return searchParameters_; }
    const CameraOptions& Options() const { return options_; }

    std::uint64_t CommandsSeen() const { return commands_; }
    /// Command frames seen by item code (payload byte 2), reads and writes together.
    std::uint64_t ItemCount(std::uint8_t item) const { return itemCounts_[item]; }
    const Bytes15& LastPayload() const { return lastPayload_; }
    int Resets() const { return resets_; }
    int Presets() const { return presets_; }
    int PresetSaves() const { return presetSaves_; }
    int Saves() const { return saves_; }
    /// The settings memory as it was at the last SAVE (empty before one).
    const std::vector<std::uint16_t>& SavedMemory() const { return savedMemory_; }
    int Blocks() const { return blocks_; }
    /// Menu keys pressed (21 32 key), in order.
    const std::vector<std::uint8_t>& Keys() const { return keys_; }
    std::optional<std::uint16_t> LastOsd() const { return lastOsd_; }

private:
    Answer Read(const Bytes15& p);
    Answer Write(const Bytes15& p);
    Answer ReadDefect(const Bytes15& p);
    Answer WriteDefect(const Bytes15& p);
    Answer Search(const Bytes15& p);
    Bytes15 Block(int block) const;
    void ApplyStraps();

    CameraOptions options_;
    std::vector<DefectPixel> searchOrder_;
    std::array<std::uint16_t, kRegisterCount> regs_{};
    MemoryImage mem_{};
    int cursorDisplay_ = 0;
    int searchPos_ = -1;  // defect last reported, -1 before the first
    std::optional<CursorCommand> lastCursor_;
    std::optional<std::array<std::uint8_t, 3>> searchParameters_;

    std::uint64_t commands_ = 0;
    std::array<std::uint64_t, 256> itemCounts_{};
    Bytes15 lastPayload_{};
    int resets_ = 0;
    int presets_ = 0;
    int presetSaves_ = 0;
    int saves_ = 0;
    std::vector<std::uint16_t> savedMemory_;
    int blocks_ = 0;
    std::vector<std::uint8_t> keys_;
    std::optional<std::uint16_t> lastOsd_;
};

}  // namespace tern::camera
