#include "transfer/Defect.h"

#include <algorithm>

namespace tern::transfer {

namespace {

constexpr std::uint8_t kSlotCommandTail = 0x01;
constexpr int kSlotCommandLength = 11;
constexpr int kCursorPositionLength = 11;
constexpr int kSearchStartLength = 14;
constexpr int kLastSlot = kDefectSlots - 1;

DefectCommand Command(std::uint8_t group, std::uint8_t code) {
    DefectCommand c;
    c.payload[1] = group;
    c.payload[2] = link::kItemDefect;
    c.payload[3] = code;
    c.n = 3;
    return c;
}

std::uint8_t High(int v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }
std::uint8_t Low(int v) { return static_cast<std::uint8_t>(v & 0xFF); }

bool IsDefectReply(const link::Reply& reply) {
    return reply.Accepted() && reply.Item() == link::kItemDefect;
}

}  // namespace

char DefectSlotLetter(int slot) { return static_cast<char>('A' + slot); }

DefectSlot DecodeDefectSlot(std::uint16_t xWord, std::uint16_t yWord) {
    return DefectSlot{xWord & kDefectXMask, yWord & kDefectYMask, (yWord & kDefectEnabledBit) != 0,
                      (yWord & kDefectFixBit) != 0, (yWord & kDefectRevBit) != 0};
}

void DT1::Apply(const DefectTablePiece& piece) {
    for (const DefectSlotUpdate& u : piece.entries) {
        DefectSlot& s = entries.at(static_cast<std::size_t>(u.slot));
        if (u.hasX) s.x = u.value.x;
        if (u.hasY) {
            s.y = u.value.y;
            s.enabled = u.value.enabled;
            s.fix = u.value.fix;
            s.rev = u.value.rev;
        }
    }
}

DefectCommand ReadPieceCommand(int piece) {
    return Command(link::kGroupRead, static_cast<std::uint8_t>(kDefectFirstPiece + piece));
}

DefectCommand SlotSwitchCommand(SlotSwitch which, int slot, bool on) {
    const std::uint8_t code = which == SlotSwitch::Enable ? kDefectSlotEnable
                              : which == SlotSwitch::Fix  ? kDefectSlotFix
                                                          : kDefectSlotRev;
    DefectCommand c = Command(link::kGroupWrite, code);
    c.payload[4] = static_cast<std::uint8_t>(slot);
    c.payload[5] = on ? 1 : 0;
    c.payload[11] = kSlotCommandTail;
    c.n = kSlotCommandLength;
    return c;
}

SearchParameters SearchParametersFor(std::string_view resolutionCaption, std::string_view tvCaption) {
    const bool hi = resolutionCaption == kCaptionHiResolution;
    const bool ntsc = tvCaption == kCaptionNtsc;
    if (hi) return ntsc ? SearchParameters{0xC9, 0x0C, 0x78} : SearchParameters{0xC6, 0x0C, 0x8C};
    return ntsc ? SearchParameters{0xC7, 0x08, 0x78} : SearchParameters{0xC2, 0x06, 0x8D};
}

SearchParameters SearchParametersFor(const VideoGeometry& geometry) {
    constexpr int kHighResolutionWidth = 800;  // register 1, bit 14 set
    constexpr int kNtscHeight = 256;           // register 64, bit 0 clear
    return SearchParametersFor(geometry.SensorWidth == kHighResolutionWidth ? kCaptionHiResolution : "",
                               geometry.SensorHeight == kNtscHeight ? kCaptionNtsc : "");
}

DefectCommand SearchStartCommand(const SearchParameters& parameters) {
    DefectCommand c = Command(link::kGroupWrite, kDefectSearchStart);
    // Bytes 4..10 and 14 are fixed; what they mean is the camera's business.
    constexpr std::uint8_t kFixed[] = {0x00, 0x01, 0xFF, 0xFC, 0x00, 0x00, 0x01};
    for (int i = 0; i < 7; ++i) c.payload[4 + i] = kFixed[i];
    c.payload[11] = parameters[0];
    c.payload[12] = parameters[1];
    c.payload[13] = parameters[2];
    c.payload[14] = 0x00;
    c.n = kSearchStartLength;
    return c;
}

DefectCommand SearchNextCommand() { return Command(link::kGroupWrite, kDefectSearchNext); }
DefectCommand SearchRetryCommand() { return Command(link::kGroupWrite, kDefectSearchRetry); }

DefectCommand CursorDisplayCommand(int chosenSlot, bool displayOn) {
    DefectCommand c = Command(link::kGroupWrite, kDefectCursorDisplay);
    const bool chosen = chosenSlot >= 0 && chosenSlot <= kLastSlot;
    c.payload[4] = displayOn && chosen ? static_cast<std::uint8_t>(chosenSlot + 1) : 0;
    c.payload[5] = 0x00;
    c.n = 5;
    return c;
}

DefectCommand CursorPositionCommand(int chosenSlot, int x, int y, bool displayOn) {
    DefectCommand c = Command(link::kGroupWrite, kDefectCursorPosition);
    const bool chosen = chosenSlot >= 0 && chosenSlot <= kLastSlot;
    c.payload[4] = chosen ? static_cast<std::uint8_t>(chosenSlot) : 0xFF;
    c.payload[5] = High(x);
    c.payload[6] = Low(x);
    c.payload[7] = High(y);
    c.payload[8] = Low(y);
    const bool marks = displayOn && chosenSlot == kLastSlot;
    c.payload[9] = marks ? 0x01 : 0x00;
    c.payload[10] = marks ? 0x0F : 0x00;
    c.payload[11] = 0x01;
    c.n = kCursorPositionLength;
    return c;
}

std::optional<DefectTablePiece> DecodeTablePiece(const link::Reply& reply, std::uint8_t lastGroup) {
    if (lastGroup != link::kGroupRead || !IsDefectReply(reply)) return std::nullopt;
    const int code = reply.Sub();
    if (code < kDefectFirstPiece || code >= kDefectFirstPiece + kDefectPieces) return std::nullopt;
    DefectTablePiece piece;
    piece.piece = code - kDefectFirstPiece;
    const int first = piece.piece * kDefectPieceBytes;  // table offset of the piece's first byte
    const int last = first + kDefectPieceBytes - 1;
    const auto at = [&](int tableOffset) { return kDefectPieceOffset + tableOffset - first; };
    for (int s = first / 4; s <= last / 4; ++s) {
        DefectSlotUpdate u;
        u.slot = s;
        const int xAt = 4 * s;  // a word never splits: pieces and words both start at even offsets
        const int yAt = 4 * s + 2;
        u.hasX = xAt >= first && xAt <= last;
        u.hasY = yAt >= first && yAt <= last;
        const auto xWord = static_cast<std::uint16_t>(u.hasX ? reply.WordHL(at(xAt)) : 0);
        const auto yWord = static_cast<std::uint16_t>(u.hasY ? reply.WordHL(at(yAt)) : 0);
        u.value = DecodeDefectSlot(xWord, yWord);
        piece.entries.push_back(u);
    }
    return piece;
}

std::optional<int> SearchResult::Slot() const {
    if (slotNumber == 0) return std::nullopt;
    return std::min(slotNumber, kDefectSlots) - 1;
}

std::optional<SearchResult> DecodeSearchReply(const link::Reply& reply, std::uint8_t lastGroup) {
    if (lastGroup != link::kGroupWrite || !IsDefectReply(reply)) return std::nullopt;
    const int code = reply.Sub();
    if (code < kDefectSearchStart || code > kDefectSearchRetry) return std::nullopt;
    SearchResult r;
    r.returnCode = reply.Byte(4);
    r.slotNumber = reply.Byte(5);
    r.x = static_cast<std::uint16_t>(reply.WordHL(6));
    r.y = static_cast<std::uint16_t>(reply.WordHL(8));
    r.fix = reply.Byte(10) != 0;
    r.rev = reply.Byte(11) != 0;
    return r;
}

DefectCommand DefectLockState::StartRead() {
    reading_ = true;
    expected_ = 0;
    return ReadPieceCommand(0);
}

DefectReplyAction DefectLockState::OnReply(const link::Reply& reply, std::uint8_t lastGroup) {
    DefectReplyAction action;
    if (!reply.Accepted()) {
        action.showError = true;
        reading_ = false;  // the read requests no further piece, and must not keep the lock
        return action;
    }
    action.piece = DecodeTablePiece(reply, lastGroup);
    action.search = DecodeSearchReply(reply, lastGroup);
    if (!reading_) return action;
    if (!action.piece || action.piece->piece != expected_) {
        reading_ = false;
        return action;
    }
    if (expected_ + 1 < kDefectPieces) {
        ++expected_;
        action.next = ReadPieceCommand(expected_);
    } else {
        reading_ = false;
    }
    return action;
}

int CursorStep(int spinValue) { return std::max(spinValue, 1); }

int MoveCursor(CursorMove move, int value, int step) {
    const int max = move == CursorMove::Up || move == CursorMove::Down ? kDefectMaxY : kDefectMaxX;
    const long long delta = move == CursorMove::Up || move == CursorMove::Left ? -static_cast<long long>(step) : step;
    return static_cast<int>(std::clamp<long long>(value + delta, 0, max));
}

CursorKey CursorKeyFor(char key) {
    switch (key) {
    case '8': case 'I': case 'i': return CursorKey::Up;
    case '2': case 'K': case 'k': return CursorKey::Down;
    case '4': case 'J': case 'j': return CursorKey::Left;
    case '6': case 'L': case 'l': return CursorKey::Right;
    case '5': case 'O': case 'o': return CursorKey::ToggleDisplay;
    default: return CursorKey::None;
    }
}

namespace {

/// a × b ÷ c truncated toward zero; 0 for a divisor of 0 or below.
int Scale(int a, int b, int c) {
    if (c <= 0) return 0;
    return static_cast<int>(static_cast<long long>(a) * b / c);
}

}  // namespace

CursorPoint PictureToSensor(int px, int py, int width, int height, const VideoGeometry& geometry) {
    const int x = Scale(px, geometry.SensorWidth, width);
    const int y = Scale(py, geometry.SensorHeight, height);
    return CursorPoint{std::clamp(x, 0, std::max(geometry.SensorWidth - 1, 0)),
                       std::clamp(y, 0, std::max(geometry.SensorHeight - 1, 0))};
}

CursorPoint DotPosition(int x, int y, int width, int height, const VideoGeometry& geometry) {
    return CursorPoint{Scale(x, width, geometry.SensorWidth), Scale(y, height, geometry.SensorHeight)};
}

bool CursorBurst::Moved() {
    if (running_) return false;
    running_ = true;
    return true;
}

}  // namespace tern::transfer
