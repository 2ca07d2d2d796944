// CCD defect correction without the page: the camera's table of fifteen
// correction entries and the six pieces it is read in, the commands of the
// table rows, the automatic search and the manual cursor, the decoding of
// their replies, the cursor arithmetic and the defect lock.
//
// One slot, four bytes (X word, then Y word, both high byte first):
//
//   X word  bits 0..9  X            bits 10..15 ignored
//   Y word  bits 0..8  Y            bit 9 enabled, bit 10 FIX, bit 11 REV,
//                                   bits 12..15 ignored
//
// The table is the entries A..O, 60 bytes, read as six pieces of 10 bytes
// ("@" to "E", codes 0x40..0x45) that arrive in reply offsets 4..13. Slots
// C, H and M straddle two pieces: their X word ends one piece, their Y word
// (with the switches) starts the next.
//
// Every command of this subsystem has the item ':' and a code in payload
// byte 3, which the camera echoes in reply offset 3.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "link/codec.h"
#include "link/protocol.h"
#include "transfer/Chain.h"

namespace tern::transfer {

inline constexpr int kDefectSlots = 15;
inline constexpr int kDefectPieces = 6;
inline constexpr int kDefectPieceBytes = 10;
inline constexpr int kDefectTableBytes = kDefectSlots * 4;
/// Reply offset of a piece's first table byte.
inline constexpr int kDefectPieceOffset = 4;

inline constexpr std::uint16_t kDefectXMask = 0x03FF;
inline constexpr std::uint16_t kDefectYMask = 0x01FF;
inline constexpr std::uint16_t kDefectEnabledBit = 0x0200;
inline constexpr std::uint16_t kDefectFixBit = 0x0400;
inline constexpr std::uint16_t kDefectRevBit = 0x0800;

/// The ranges of a slot, which are also those of the arrow moves.
inline constexpr int kDefectMaxX = 1023;
inline constexpr int kDefectMaxY = 511;

// Codes of the defect commands (payload byte 3, echoed in reply offset 3).
inline constexpr std::uint8_t kDefectCursorDisplay = 0x01;
inline constexpr std::uint8_t kDefectCursorPosition = 0x02;
inline constexpr std::uint8_t kDefectSlotEnable = 0x03;
inline constexpr std::uint8_t kDefectSlotFix = 0x10;
inline constexpr std::uint8_t kDefectSlotRev = 0x11;
inline constexpr std::uint8_t kDefectSearchStart = 0x30;  // '0'
inline constexpr std::uint8_t kDefectSearchNext = 0x31;   // '1'
inline constexpr std::uint8_t kDefectSearchRetry = 0x32;  // '2'
inline constexpr std::uint8_t kDefectFirstPiece = 0x40;   // '@'

/// Slot index 0..14 as its letter "A".."O".
char DefectSlotLetter(int slot);

// ---- the table ----------------------------------------------------------------

struct DefectSlot {
    int x = 0;
    int y = 0;
    bool enabled = false;
    bool fix = false;
    bool rev = false;
    bool operator==(const DefectSlot&) const = default;
};

/// A slot from its two words as the camera sends them; the masks apply.
DefectSlot DecodeDefectSlot(std::uint16_t xWord, std::uint16_t yWord);

/// What one piece says about one slot. A slot wholly inside the piece has
/// both words; the straddling slot at a piece's end has its X word only, the
/// one at a piece's start its Y word (Y and the three switches) only.
struct DefectSlotUpdate {
    int slot = 0;
    bool hasX = false;
    bool hasY = false;  ///< Y, enabled, FIX and REV
    DefectSlot value;   ///< the fields not carried are 0 / false
    bool operator==(const DefectSlotUpdate&) const = default;
};

struct DefectTablePiece {
    int piece = 0;  ///< 0..5, "@".."E"
    /// In table order; the page shows each slot's boxes, then X, then Y.
    std::vector<DefectSlotUpdate> entries;
};

/// The defect table as read so far. A read cut short leaves the entries of the
/// pieces not read as they were, and a straddling slot half new.
struct DT1 {
    std::array<DefectSlot, kDefectSlots> entries{};

    void Apply(const DefectTablePiece& piece);
};

// ---- commands -----------------------------------------------------------------

struct DefectCommand {
    link::Payload payload;
    int n = 0;  ///< payload bytes written; StxCommand zeroes the rest
};

/// 31 3A 40+p, for piece p 0..5.
DefectCommand ReadPieceCommand(int piece);

enum class SlotSwitch { Enable, Fix, Rev };

/// 21 3A code slot state 0 0 0 0 0 01, with the box's state after the click.
DefectCommand SlotSwitchCommand(SlotSwitch which, int slot, bool on);

/// Payload bytes 11..13 of Search start.
using SearchParameters = std::array<std::uint8_t, 3>;

inline constexpr std::string_view kCaptionHiResolution = "Hi-Resolution";
inline constexpr std::string_view kCaptionNtsc = "NTSC";

/// The parameter bytes from the captions of the labels `Resolution` and
/// `TV`, compared exactly with "Hi-Resolution" and "NTSC"; the design
/// captions, before a settings image has been read, give C2 06 8D.
SearchParameters SearchParametersFor(std::string_view resolutionCaption, std::string_view tvCaption);
/// The same from the geometry the captions are set from: 800 pixels wide is
/// "Hi-Resolution", 256 lines "NTSC"; before registers 1 and 64 have been
/// read (sensor 1 × 1) the last row applies, as with the design captions.
SearchParameters SearchParametersFor(const VideoGeometry& geometry);

DefectCommand SearchStartCommand(const SearchParameters& parameters);
DefectCommand SearchNextCommand();
DefectCommand SearchRetryCommand();

/// `chosenSlot` is the item of "Defect Select" (0..14), -1 when none is chosen.
DefectCommand CursorDisplayCommand(int chosenSlot, bool displayOn);
/// X and Y go out as their low 16 bits, high byte first; the marks 01 0F only
/// for slot O with the cursor display on.
DefectCommand CursorPositionCommand(int chosenSlot, int x, int y, bool displayOn);

// ---- replies --------------------------------------------------------------------

/// A table piece: status accepted, ':' and a code 0x40..0x45, to a read.
std::optional<DefectTablePiece> DecodeTablePiece(const link::Reply& reply, std::uint8_t lastGroup);

struct SearchResult {
    int returnCode = 0;  ///< 0 "Success", any other value "Not found"
    int slotNumber = 0;  ///< as the camera counts, 1..15; 0 names no slot
    std::uint16_t x = 0; ///< not masked: shown as the camera sends it
    std::uint16_t y = 0;
    bool fix = false;
    bool rev = false;

    bool Success() const { return returnCode == 0; }
    /// The item of "Defect Select" to choose: none for 0, "O" above 15.
    std::optional<int> Slot() const;
    bool operator==(const SearchResult&) const = default;
};

/// A search reply: status accepted, ':' and "0", "1" or "2", to a write.
std::optional<SearchResult> DecodeSearchReply(const link::Reply& reply, std::uint8_t lastGroup);

// ---- the defect lock and the table read ----------------------------------------

/// What the page does with one reply that arrives while it is active.
struct DefectReplyAction {
    bool showError = false;  ///< " Error " / "ERR"; nothing else of the reply is used
    std::optional<DefectTablePiece> piece;  ///< show it under a Hold
    std::optional<SearchResult> search;     ///< show it under a Hold
    /// The next piece of a running read: send it at once, without the idle
    /// test (the read holds the lock).
    std::optional<DefectCommand> next;
};

/// The defect lock, which makes the link's idle test report busy, and the
/// table read that holds it from "Load" to its last piece. Programmatic
/// changes of the page's controls hold it for their duration (Hold); holds
/// nest, and a hold ending never releases a read's lock, so clearing the
/// rows while a read runs leaves the read's lock in place.
class DefectLockState {
public:
    bool Held() const { return reading_ || holds_ > 0; }
    bool Reading() const { return reading_; }
    /// The piece the running read waits for, -1 when none runs.
    int ExpectedPiece() const { return reading_ ? expected_ : -1; }

    /// "Load" with the link idle: takes the lock and gives the request for "@".
    DefectCommand StartRead();

    /// The page's reply handling. A read ends, releasing its lock, on its
    /// last piece, on an error reply and on any reply that is not the piece
    /// it waits for (a late or repeated one, or the previous reply left in
    /// place by a bare ACK). A piece that arrives outside a read is shown but
    /// requests nothing.
    DefectReplyAction OnReply(const link::Reply& reply, std::uint8_t lastGroup);

    /// Ends a running read from outside: the link gave up waiting, or another
    /// page became active before the last piece.
    void CutShort() { reading_ = false; }

    /// Holds the lock for a scope: the display of a piece or a search reply,
    /// clearing the rows, copies between the entries and the cursor.
    class Hold {
    public:
        explicit Hold(DefectLockState& lock) : lock_(lock) { ++lock_.holds_; }
        ~Hold() { --lock_.holds_; }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        DefectLockState& lock_;
    };

private:
    bool reading_ = false;
    int expected_ = 0;
    int holds_ = 0;
};

// ---- the manual cursor -------------------------------------------------------------

enum class CursorMove { Up, Down, Left, Right };

/// The step of the arrow moves: the value of "Step", at least 1.
int CursorStep(int spinValue);

/// One arrow move from `value`, clamped to 0..1023 for X and 0..511 for Y
/// (also when the position came unmasked from a search reply).
int MoveCursor(CursorMove move, int value, int step);

enum class CursorKey { None, Up, Down, Left, Right, ToggleDisplay };

/// "8"/"I"/"i" up, "2"/"K"/"k" down, "4"/"J"/"j" left, "6"/"L"/"l" right,
/// "5"/"O"/"o" toggles "Cursor Display"; other keys do nothing.
CursorKey CursorKeyFor(char key);

struct CursorPoint {
    int x = 0;
    int y = 0;
    bool operator==(const CursorPoint&) const = default;
};

/// A release at picture pixel (px, py) of a width × height picture, as a
/// cursor position: scaled to the sensor and clamped to 0..SensorWidth−1,
/// 0..SensorHeight−1, so a release beyond the picture's edge gives the edge.
/// Before the geometry is known (sensor 1 × 1) every release gives (0, 0).
CursorPoint PictureToSensor(int px, int py, int width, int height, const VideoGeometry& geometry);

/// The top-left corner of the cursor dot over a width × height picture:
/// X × width ÷ SensorWidth, Y × height ÷ SensorHeight, truncated toward zero
/// (divisors 1 before the geometry is known).
CursorPoint DotPosition(int x, int y, int width, int height, const VideoGeometry& geometry);

/// The cursor moves of a burst and the one send that follows them: a move
/// starts the send timer unless it runs already, and the tick sends the
/// position of that time.
class CursorBurst {
public:
    /// A move was made: true when the timer must be started now.
    bool Moved();
    bool TimerRunning() const { return running_; }
    /// The tick: stops the timer. Whether anything is sent is the caller's
    /// idle test; a busy link drops the move, and the next move sends.
    void Tick() { running_ = false; }

private:
    bool running_ = false;
};

}  // namespace tern::transfer
