// The setting commands of the Adjust, Setup1 and Setup2 pages and of the
// mask window: which payload each control sends for a value, which controls
// are throttled by which timer, and the small encodings they share (title
// font codes, the 48-cell grids, hue words, hexadecimal fields).
//
// Everything here is data and pure functions; the pages own the controls,
// the timers and the idle test, and hand the payloads to the link.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/codec.h"

namespace tern::transfer {

/// Every control that sends a setting command. The name of each (ControlName)
/// is its objectName in the window; the 48 cells of each grid share one entry.
enum class Control {
    // Setup1
    Ctitle, CName, Ctitlepos, SenseUp, Lens, Shutter, ELCLVL, BLC, BlcPreset, BLCArea,
    AGC_SEL, AGC_MAX, AGC_MAN, wb_select, WB_preset, Rgain, BGain, AWC, Sync, v_pha_lvl, h_pha_lvl,
    MaskA, MaskB, MaskC, MaskD, Nega, Mirror, Priority, v_rev, Freeze, Frz_type,
    Save, Zoom, ZoomBar, Zoomlvl, Preset, PEAK_LVL,
    // Setup2
    gamma, apc_pre, enh_h, enh_v, knee_lvl, color_bar, save2, preset2, MoDetect, MoPre, MoLv, MoTime, MoArea,
    // Adjust
    wb_sel, pre_32, pre_56, pre_awc, shut_disp_sel, sync_disp_sel, hvpha_disp_sel, Sens_disp_sel, Peak_disp_sel,
    Delay, pwm_ref, rens_ref_read, RYP, BYP, RYN, BYN,
    // Debug
    PresetSave,
    // mask window
    MaskWrite, MaskRead,
};

/// Sub-item of the picture group (item 0x1D) for the aperture-correction gains.
inline constexpr std::uint8_t kPictureAperture = 0x15;

/// How a control's value becomes payload bytes after the fixed prefix.
enum class Encoding {
    None,         ///< fixed bytes only (buttons)
    Byte,         ///< one byte: an index, a flag 0/1 or a position's low 8 bits
    Word,         ///< a position as 16 bits, high byte first
    InverseFlag,  ///< one byte, 0 when checked and 1 when unchecked (wb_sel)
    Title,        ///< 12 title font codes (TitleCodes)
    Grid,         ///< 48 cells in 6 bytes (GridBytes)
    HexByte,      ///< a field of exactly 2 hexadecimal digits (HexByteField); ZoomBar's
                  ///< timer writes its position into Zoomlvl, whose change sends
    Nibbles,      ///< four one-digit fields in 2 bytes (DelayCommand)
    HueWord,      ///< a hue word from the register shadow (HueCommand)
    MaskRect,     ///< mask m's selector and rectangle (MaskWriteCommand / MaskReadCommand)
};

/// Where a catalogue control lives.
enum class ControlPage { Adjust, Debug, Setup1, Setup2, MaskWindow };

/// One row of the catalogue: the payload is `prefix`, then the value bytes,
/// then `suffix`; `n` is the count handed to StxCommand.
struct CatalogueRow {
    Control control;
    std::string_view name;
    ControlPage page;
    std::array<std::uint8_t, 5> prefix;
    int prefixLength;
    Encoding encoding;
    std::uint8_t suffix;  ///< 0x01 after the value where suffixLength is 1
    int suffixLength;
    int n;
};

/// A payload ready for StxCommand.
struct SettingCommand {
    link::Payload payload;
    int n = 0;
    /// Payload bytes 1..n.
    std::vector<std::uint8_t> Bytes() const;
};

std::span<const CatalogueRow> CatalogueRows();
const CatalogueRow& RowOf(Control c);
std::string_view ControlName(Control c);
/// The control an objectName stands for; BLCCheck01..48 and MoCheck01..48
/// stand for their grids. Nothing for a name that sends no setting.
std::optional<Control> ControlByName(std::string_view objectName);

/// The command for a control whose value is one number (Encoding None, Byte,
/// Word or InverseFlag): an index, 0/1 for a check box (true = checked for
/// wb_sel) or a track bar position. Nothing for the controls whose value is
/// structured; those have their own builders below.
std::optional<SettingCommand> CommandFor(Control c, int value);

// ---- camera title ---------------------------------------------------------------
inline constexpr std::uint8_t kTitleBlank = 0x7E;
inline constexpr int kTitleLength = 12;

/// The camera font code of a title character; nothing when it has none.
std::optional<std::uint8_t> TitleCharCode(char32_t c);
/// The character a camera code reads back as: the smallest character that maps
/// to it ('0' for 0x00, '(' for 0x0B, ')' for 0x0C, '*' for 0x6C, ' ' for 0x7E),
/// or 0 when none does.
char TitleCodeChar(std::uint8_t code);
/// The 12 codes sent for a title: character i's code, or the blank where the
/// text is shorter or the character has no code.
std::array<std::uint8_t, kTitleLength> TitleCodes(std::u32string_view text);
SettingCommand TitleCommand(std::u32string_view text);

// ---- the 48-cell grids (BLC area, motion area) ------------------------------------
inline constexpr int kGridCells = 48;
inline constexpr int kGridBytes = 6;
using GridCells = std::array<bool, kGridCells>;  ///< index k-1 for cell k
using GridBytesArray = std::array<std::uint8_t, kGridBytes>;

/// Cell k is bit (k-1) mod 8 of byte (k-1) div 8.
GridBytesArray GridBytes(const GridCells& cells);
GridCells GridCellsOf(std::span<const std::uint8_t, kGridBytes> bytes);
/// The objectName of cell k (1..48) of a grid: "BLCCheck07", "MoCheck48".
std::string GridCellName(Control grid, int k);
/// 21 19 b0..b5 for Control::BLCArea, 21 48 b0..b5 for Control::MoArea.
SettingCommand GridCommand(Control grid, const GridCells& cells);

// ---- hexadecimal fields ------------------------------------------------------------
/// True when every character is a hexadecimal digit: what a hex field accepts
/// at the keyboard.
bool IsHexText(std::string_view text);
/// The byte of a two-digit field; nothing unless the text is exactly two hex digits.
std::optional<std::uint8_t> HexByteField(std::string_view text);
/// The digit of a one-character field; nothing unless it is one hex digit.
std::optional<std::uint8_t> HexDigitField(std::string_view text);

/// 21 1F 01 00 v: only while Zoom is ON and the text is two hex digits.
std::optional<SettingCommand> ZoomLevelCommand(std::string_view zoomlvl, bool zoomOn);
/// 21 43 v 01: only for two hex digits.
std::optional<SettingCommand> PwmRefCommand(std::string_view pwmRef);
/// 21 42 a b 01, a = rg_width*16 + shd_delay, b = shp_delay*16 + rg_delay:
/// only when each field holds one hex digit.
std::optional<SettingCommand> DelayCommand(std::string_view rgWidth, std::string_view shdDelay,
                                           std::string_view shpDelay, std::string_view rgDelay);

inline constexpr int kPwmRefMin = 0x50;
inline constexpr int kPwmRefMax = 0xB0;
/// The text after a click of pwm_ref's spin button (up = +1): one step, kept
/// within 0x50..0xB0 by the click (a typed value outside is sent as typed).
/// A text that is not hexadecimal is left as it is.
std::string PwmRefStep(std::string_view pwmRef, bool up);
/// The text after a click of a delay digit's spin button: one step within 0..F
/// (an empty text counts as 0). A text that is not hexadecimal is left as it is.
std::string DelayDigitStep(std::string_view digit, bool up);
/// A phase position as the four hex digits of v_data / h_data.
std::string PhaseText(int position);

// ---- hue words -------------------------------------------------------------------------
inline constexpr int kHueMax = 255;
/// The register of a hue bar: 0x2C RYP, 0x2D BYP, 0x2E RYN, 0x2F BYN.
std::optional<int> HueRegister(Control bar);
/// The bar's hue word: bits 9..15 from the shadowed word, bit 8 the sign and
/// bits 0..7 the magnitude of the position (limited to -255..255).
int HueWord(int shadowWord, int position);
/// The position a hue word stands for (signed magnitude; bits 9..15 ignored).
int HuePosition(int word);
/// 21 0B r hi lo for a bar and the hue word from HueWord.
std::optional<SettingCommand> HueCommand(Control bar, int word);

// ---- register writes, reads ------------------------------------------------------------
/// 21 0A r hi lo: a DSP register written and kept in the camera's memory.
SettingCommand RegisterWriteCommand(int reg, int word);
/// 31 45 b: read settings block b.
SettingCommand BlockReadCommand(int block);

// ---- mask window -----------------------------------------------------------------------
inline constexpr int kMaskCount = 4;
inline constexpr std::uint8_t kMaskRectSub = 0x10;  ///< + m for mask m
struct CameraRect {
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    bool operator==(const CameraRect&) const = default;
};
/// 21 1D (10+m) x1 y1 x2 y2; nothing for a mask number outside 0..3.
std::optional<SettingCommand> MaskWriteCommand(int mask, const CameraRect& r);
/// 31 1D (10+m); nothing for a mask number outside 0..3.
std::optional<SettingCommand> MaskReadCommand(int mask);

// ---- throttling ----------------------------------------------------------------------------
struct ThrottleRow {
    Control control;
    std::string_view timer;  ///< the timer's objectName
    int intervalMs;
    /// Armed by a change even while a load chain runs (the hue bars).
    bool armsDuringLoad;
};
std::span<const ThrottleRow> ThrottleTable();
/// The throttle of a control, or nullptr when it sends at once.
const ThrottleRow* ThrottleOf(Control c);

/// The rules of the throttled controls, one armed flag per control; the page
/// runs a one-shot timer of the row's interval whenever Change says so and
/// calls Tick when it fires.
class Throttle {
public:
    /// A change of the control. Returns true when its timer must be started
    /// now; false when nothing is to be done (not throttled, already armed so
    /// the interval runs from the first change, a load chain running, or a
    /// BLC cell while BlcPreset is checked).
    bool Change(Control c, bool loadRunning, bool blcPresetChecked = false);
    /// The timer's tick. Returns true when the command is to be sent now (the
    /// link idle): the timer is then disarmed. False keeps it armed, and the
    /// page lets its timer tick again one interval later.
    bool Tick(Control c, bool idle);
    bool Armed(Control c) const;

private:
    std::array<bool, static_cast<std::size_t>(Control::MaskRead) + 1> armed_{};
};

/// The sync-reset flag. A refusal while a Setup page is active shows "INT" in
/// Sync without sending it; the flag swallows exactly that one change.
class SyncReset {
public:
    /// A refusal reply with Sync at `syncIndex`. Returns true when the page is
    /// to select INT (index 0); the flag is raised only then, because only a
    /// real change of the selection raises the click that clears it.
    bool Refused(int syncIndex);
    /// The Sync click. Returns true when 21 1C 00 v is to be sent: only when
    /// idle and no refusal's change is pending. A pending change is consumed
    /// here whether the link is idle or not.
    bool Click(bool idle);
    bool Pending() const { return pending_; }

private:
    bool pending_ = false;
};

}  // namespace tern::transfer
