// The camera's command words, as both ends of the line use them: command
// groups (payload byte 1), reply statuses (reply offset 1), item codes
// (payload byte 2 / reply offset 2) and the size of the settings memory.
// Framing and the check code are codec.h; what each item carries is told
// where it is decoded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/codec.h"

namespace tern::link {

// ---- command groups (payload byte 1) -------------------------------------------
inline constexpr std::uint8_t kGroupWrite = 0x21;  // '!'
inline constexpr std::uint8_t kGroupRead = 0x31;   // '1'
/// The camera reset; also the last record of every settings file.
inline constexpr std::uint8_t kGroupReset = 0xF1;

// ---- reply statuses (reply offset 1) ---------------------------------------------
inline constexpr std::uint8_t kStatusAccepted = 0xA0;
inline constexpr std::uint8_t kStatusRefused = 0xA8;

// ---- item codes (payload byte 2) --------------------------------------------------
inline constexpr std::uint8_t kItemRegister = 0x0A;      // DSP register, kept in memory too
inline constexpr std::uint8_t kItemRegisterOnly = 0x0B;  // DSP register, not in memory
inline constexpr std::uint8_t kItemMemory = 0x0C;        // settings-memory word
inline constexpr std::uint8_t kItemOsd = 0x0E;           // OSD test data
inline constexpr std::uint8_t kItemMemoryRam = 0x0F;     // memory word and the register it stands for
inline constexpr std::uint8_t kItemTitle = 0x10;
inline constexpr std::uint8_t kItemSenseUp = 0x11;
inline constexpr std::uint8_t kItemLens = 0x12;
inline constexpr std::uint8_t kItemShutter = 0x15;
inline constexpr std::uint8_t kItemElc = 0x17;
inline constexpr std::uint8_t kItemBlc = 0x18;
inline constexpr std::uint8_t kItemBlcArea = 0x19;
inline constexpr std::uint8_t kItemAgc = 0x1A;
inline constexpr std::uint8_t kItemWhiteBalance = 0x1B;
inline constexpr std::uint8_t kItemSync = 0x1C;
inline constexpr std::uint8_t kItemPicture = 0x1D;  // masks, nega, mirror, gamma, aperture, knee, colour bar
inline constexpr std::uint8_t kItemSave = 0x1E;  // store the current settings in the camera
/// 0x1E is the save command; one-push white balance is kItemWhiteBalance sub-item 4.
[[deprecated("0x1E is the save command: use kItemSave")]] inline constexpr std::uint8_t kItemAwc = kItemSave;
inline constexpr std::uint8_t kItemZoom = 0x1F;
inline constexpr std::uint8_t kItemPreset = 0x20;  // 21 20 00 preset, 21 20 01 store: ACK alone
/// A reply with this item makes a Setup page read its settings again.
inline constexpr std::uint8_t kItemReloadRequest = 0x21;
inline constexpr std::uint8_t kItemPeak = 0x22;
inline constexpr std::uint8_t kItemAtwPreset = 0x30;
inline constexpr std::uint8_t kItemMenuKey = 0x32;
inline constexpr std::uint8_t kItemUse = 0x37;
inline constexpr std::uint8_t kItemDefect = 0x3A;  // ':'
inline constexpr std::uint8_t kItemWriteBack = 0x41;  // 'A': 0 colour-matrix write-back, 1 reload
inline constexpr std::uint8_t kItemDelay = 0x42;
inline constexpr std::uint8_t kItemPwmRef = 0x43;
inline constexpr std::uint8_t kItemBlock = 0x45;
inline constexpr std::uint8_t kItemLensRef = 0x46;
inline constexpr std::uint8_t kItemMotion = 0x47;
inline constexpr std::uint8_t kItemMotionArea = 0x48;

// ---- registers and memory ------------------------------------------------------------
inline constexpr int kRegResolution = 1;     // bit 14 set: high resolution
inline constexpr int kRegVideoStandard = 64;  // bit 0 set: PAL
inline constexpr std::size_t kRegisterCount = 256;
/// The settings memory: 512 words of 16 bits, addresses 0x000..0x1FF.
inline constexpr std::size_t kMemoryWords = 512;

/// A received reply frame seen through the protocol's numbering: offset 1 the
/// status, 2 the item, 3 the sub-item (or register, block, first value).
class Reply {
public:
    explicit Reply(const FrameBytes& frame) : f_(frame) {}
    std::uint8_t Status() const { return f_[1]; }
    bool Accepted() const { return f_[1] == kStatusAccepted; }
    std::uint8_t Item() const { return f_[2]; }
    std::uint8_t Sub() const { return f_[3]; }
    std::uint8_t Byte(int offset) const { return f_.at(static_cast<std::size_t>(offset)); }
    /// The 16-bit value at offsets `hi`, `hi`+1, high byte first.
    int WordHL(int hi) const { return Byte(hi) * 256 + Byte(hi + 1); }
    /// The 16-bit value at offsets `lo`, `lo`+1, low byte first.
    int WordLH(int lo) const { return Byte(lo) + Byte(lo + 1) * 256; }
    const FrameBytes& Frame() const { return f_; }

private:
    const FrameBytes& f_;
};

}  // namespace tern::link
