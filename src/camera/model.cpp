#include "camera/model.h"

#include <algorithm>
#include <utility>

namespace tern::camera {

namespace {

// Byte-view offsets of the item settings (table in model.h).
namespace at {
constexpr int kTitle = 0x00;
constexpr int kTitleOn = 0x0C;
constexpr int kTitlePos = 0x0D;
constexpr int kSenseUp = 0x0E;
constexpr int kLens = 0x0F;
constexpr int kShutter = 0x10;
constexpr int kElcLevel = 0x11;
constexpr int kBlc = 0x12;
constexpr int kBlcPreset = 0x13;
constexpr int kBlcArea = 0x14;
constexpr int kAgcMode = 0x1A;
constexpr int kAgcMax = 0x1B;
constexpr int kAgcMan = 0x1C;
constexpr int kWbMode = 0x1D;
constexpr int kWbPreset = 0x1E;
constexpr int kRGain = 0x1F;
constexpr int kBGain = 0x20;
constexpr int kSync = 0x21;
constexpr int kVPhase = 0x22;
constexpr int kVPhaseMax = 0x24;
constexpr int kHPhase = 0x26;
constexpr int kHPhaseMax = 0x27;
constexpr int kMaskOn = 0x28;
constexpr int kNega = 0x2C;
constexpr int kMirror = 0x2D;
constexpr int kPriority = 0x2E;
constexpr int kVRev = 0x2F;
constexpr int kFreeze = 0x30;
constexpr int kFreezeType = 0x31;
constexpr int kMaskRect = 0x32;
constexpr int kGamma = 0x42;
constexpr int kEnhH = 0x43;
constexpr int kEnhV = 0x44;
constexpr int kKnee = 0x45;
constexpr int kColorBar = 0x46;
constexpr int kZoom = 0x47;
constexpr int kZoomLevel = 0x48;
constexpr int kPeak = 0x49;
constexpr int kUse = 0x4A;
constexpr int kDelay = 0x50;
constexpr int kPwmRef = 0x52;
constexpr int kLensRef = 0x53;
constexpr int kMoDetect = 0x54;
constexpr int kMoPreset = 0x55;
constexpr int kMoLevel = 0x56;
constexpr int kMoTimer = 0x57;
constexpr int kMoArea = 0x58;
constexpr int kDefectTable = 0x80;
constexpr int kPresetCopy = (kWordPreset - kWordSettings) * 2;
}  // namespace at

constexpr int kNoSub = -1;

/// A stored setting: item, sub-item (kNoSub for items without), where its
/// value bytes sit in the byte view and how many there are.
struct Field {
    std::uint8_t item;
    int sub;
    int at;
    int size;
};

constexpr Field kFields[] = {
    {0x10, 0x00, at::kTitleOn, 1},   {0x10, 0x01, at::kTitle, 12},     {0x10, 0x03, at::kTitlePos, 1},
    {0x11, kNoSub, at::kSenseUp, 1}, {0x12, kNoSub, at::kLens, 1},     {0x15, kNoSub, at::kShutter, 1},
    {0x17, kNoSub, at::kElcLevel, 1},
    {0x18, 0x00, at::kBlc, 1},       {0x18, 0x01, at::kBlcPreset, 1},  {0x19, kNoSub, at::kBlcArea, 6},
    {0x1A, 0x00, at::kAgcMode, 1},   {0x1A, 0x01, at::kAgcMax, 1},     {0x1A, 0x02, at::kAgcMan, 1},
    {0x1B, 0x00, at::kWbMode, 1},    {0x1B, 0x01, at::kWbPreset, 1},   {0x1B, 0x02, at::kRGain, 1},
    {0x1B, 0x03, at::kBGain, 1},
    {0x1C, 0x00, at::kSync, 1},      {0x1C, 0x01, at::kVPhase, 2},     {0x1C, 0x02, at::kHPhase, 1},
    {0x1D, 0x00, at::kMaskOn, 1},    {0x1D, 0x01, at::kMaskOn + 1, 1}, {0x1D, 0x02, at::kMaskOn + 2, 1},
    {0x1D, 0x03, at::kMaskOn + 3, 1}, {0x1D, 0x04, at::kNega, 1},      {0x1D, 0x05, at::kMirror, 1},
    {0x1D, 0x06, at::kPriority, 1},  {0x1D, 0x07, at::kVRev, 1},       {0x1D, 0x08, at::kFreeze, 1},
    {0x1D, 0x09, at::kFreezeType, 1},
    {0x1D, 0x10, at::kMaskRect, 4},  {0x1D, 0x11, at::kMaskRect + 4, 4}, {0x1D, 0x12, at::kMaskRect + 8, 4},
    {0x1D, 0x13, at::kMaskRect + 12, 4},
    {0x1D, 0x14, at::kGamma, 1},     {0x1D, 0x16, at::kKnee, 1},       {0x1D, 0x17, at::kColorBar, 1},
    {0x22, kNoSub, at::kPeak, 1},
    {0x37, 0x00, at::kUse, 1},       {0x37, 0x01, at::kUse + 1, 1},    {0x37, 0x02, at::kUse + 2, 1},
    {0x37, 0x03, at::kUse + 3, 1},   {0x37, 0x04, at::kUse + 4, 1},
    {0x42, kNoSub, at::kDelay, 2},   {0x43, kNoSub, at::kPwmRef, 1},   {0x46, kNoSub, at::kLensRef, 1},
    {0x47, 0x00, at::kMoDetect, 1},  {0x47, 0x01, at::kMoPreset, 1},   {0x47, 0x02, at::kMoLevel, 1},
    {0x47, 0x03, at::kMoTimer, 1},   {0x48, kNoSub, at::kMoArea, 6},
};

bool HasSubItems(std::uint8_t item) {
    switch (item) {
    case 0x10: case 0x18: case 0x1A: case 0x1B: case 0x1C: case 0x1D: case 0x1F: case 0x37: case 0x47:
        return true;
    default:
        return false;
    }
}

const Field* FindField(std::uint8_t item, int sub) {
    for (const Field& f : kFields) {
        if (f.item == item && f.sub == sub) return &f;
    }
    return nullptr;
}

constexpr int kNone = -1;
using BlockMap = std::array<int, 12>;

/// Which byte-view setting fills each of reply offsets 4..15 of a block.
/// Block 1 carries the V phase and its maximum low byte first.
constexpr std::array<BlockMap, 7> kBlocks = {{
    {at::kTitle, at::kTitle + 1, at::kTitle + 2, at::kTitle + 3, at::kTitle + 4, at::kTitle + 5, at::kTitle + 6,
     at::kTitle + 7, at::kTitle + 8, at::kTitle + 9, at::kTitle + 10, at::kTitle + 11},
    {at::kPeak, at::kTitlePos, at::kWbMode, at::kSenseUp, at::kZoomLevel, at::kShutter, at::kAgcMan, at::kAgcMax,
     at::kVPhaseMax + 1, at::kVPhaseMax, at::kVPhase + 1, at::kVPhase},
    {at::kBlcArea, at::kBlcArea + 1, at::kBlcArea + 2, at::kBlcArea + 3, at::kBlcArea + 4, at::kBlcArea + 5, kNone,
     at::kWbPreset, at::kBGain, at::kRGain, at::kZoom, at::kTitleOn},
    {at::kLens, at::kBlc, at::kBlcPreset, at::kAgcMode, at::kSync, at::kNega, at::kMirror, at::kPriority,
     at::kMaskOn, at::kMaskOn + 1, at::kMaskOn + 2, at::kMaskOn + 3},
    {at::kElcLevel, at::kVRev, at::kFreezeType, at::kFreeze, at::kHPhaseMax, at::kHPhase, kNone, kNone,
     at::kUse + 0, at::kUse + 1, at::kUse + 4, kNone},
    {at::kMoDetect, at::kMoPreset, at::kMoLevel, at::kMoArea, at::kMoArea + 1, at::kMoArea + 2, at::kMoArea + 3,
     at::kMoArea + 4, at::kMoArea + 5, at::kMoTimer, at::kGamma, kNone},
    {at::kEnhH, at::kEnhV, at::kKnee, at::kColorBar, kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone},
}};

/// What a camera leaves the factory with.
std::array<std::uint8_t, kSettingsBytes> FactorySettings(bool pal) {
    std::array<std::uint8_t, kSettingsBytes> s{};
    // "CAMERA" in the camera's font, blank-padded.
    const std::uint8_t title[12] = {0x13, 0x11, 0x1D, 0x15, 0x22, 0x11, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E};
    std::copy(std::begin(title), std::end(title), s.begin() + at::kTitle);
    s[at::kElcLevel] = 4;
    s[at::kBlcPreset] = 1;
    const std::uint8_t blcArea[6] = {0x00, 0x00, 0x3C, 0x3C, 0x00, 0x00};
    std::copy(std::begin(blcArea), std::end(blcArea), s.begin() + at::kBlcArea);
    s[at::kAgcMode] = 1;
    s[at::kAgcMax] = 6;
    s[at::kAgcMan] = 3;
    s[at::kRGain] = 4;
    s[at::kBGain] = 4;
    const std::uint16_t vMax = pal ? 0x0138 : 0x0106;
    s[at::kVPhase] = static_cast<std::uint8_t>((vMax / 2) >> 8);
    s[at::kVPhase + 1] = static_cast<std::uint8_t>((vMax / 2) & 0xFF);
    s[at::kVPhaseMax] = static_cast<std::uint8_t>(vMax >> 8);
    s[at::kVPhaseMax + 1] = static_cast<std::uint8_t>(vMax & 0xFF);
    s[at::kHPhase] = 0x64;
    s[at::kHPhaseMax] = 0xC8;
    const std::uint8_t rects[16] = {20, 20, 60, 50, 120, 20, 180, 50, 20, 90, 60, 130, 120, 90, 180, 130};
    std::copy(std::begin(rects), std::end(rects), s.begin() + at::kMaskRect);
    s[at::kEnhH] = 9;
    s[at::kEnhV] = 9;
    s[at::kKnee] = 9;
    s[at::kZoomLevel] = 0x20;
    s[at::kPeak] = 4;
    s[at::kDelay] = 0x23;
    s[at::kDelay + 1] = 0x45;
    s[at::kPwmRef] = 0x80;
    s[at::kLensRef] = 0xF6;  // -10
    s[at::kMoPreset] = 1;
    s[at::kMoLevel] = 4;
    for (int i = 0; i < 6; ++i) s[static_cast<std::size_t>(at::kMoArea + i)] = 0xFF;
    return s;
}

Bytes15 Echo(const Bytes15& p, std::uint8_t status) {
    Bytes15 r = p;
    r[0] = status;
    return r;
}

Answer Reply(const Bytes15& r) { return Answer{false, r}; }

bool Contains(const std::vector<std::uint8_t>& items, std::uint8_t item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

std::uint16_t Word(std::uint8_t hi, std::uint8_t lo) { return static_cast<std::uint16_t>((hi << 8) | lo); }

}  // namespace

CameraModel::CameraModel(CameraOptions options) : options_(std::move(options)), searchOrder_(options_.defects) {
    // The search scans the sensor line by line.
    std::stable_sort(searchOrder_.begin(), searchOrder_.end(), [](const DefectPixel& a, const DefectPixel& b) {
        return a.y != b.y ? a.y < b.y : a.x < b.x;
    });
    mem_[0x01] = options_.highResolution ? 0x4000 : 0x0000;
    mem_[0x23] = 0x0080;  // R, G, B gain
    mem_[0x24] = 0x0080;
    mem_[0x25] = 0x0080;
    mem_[0x2C] = 0x0020;  // hue vectors: magnitude, bit 8 the sign
    mem_[0x2D] = 0x0118;
    mem_[0x2E] = 0x0010;
    mem_[0x2F] = 0x0105;
    mem_[0x40] = options_.pal ? 0x0001 : 0x0000;
    mem_[0x5E] = 0x0100;  // zoom magnification 1.0
    const auto factory = FactorySettings(options_.pal);
    for (std::size_t k = 0; k < factory.size(); ++k) {
        SetSettingByte(static_cast<int>(k), factory[k]);
        SetSettingByte(at::kPresetCopy + static_cast<int>(k), factory[k]);
    }
    for (const StoredDefect& d : options_.table) {
        if (d.slot >= 0 && d.slot < static_cast<int>(kDefectSlots)) SetSlot(d.slot, DefectSlot{d.x, d.y, d.enabled, d.fix, d.rev});
    }
    Reset();
}

void CameraModel::SetRegister(int n, std::uint16_t value) {
    regs_.at(static_cast<std::size_t>(n)) = value;
    ApplyStraps();
}

void CameraModel::ApplyStraps() {
    regs_[0x01] = static_cast<std::uint16_t>((regs_[0x01] & ~0x4000u) | (options_.highResolution ? 0x4000u : 0u));
    regs_[0x40] = static_cast<std::uint16_t>((regs_[0x40] & ~0x0001u) | (options_.pal ? 0x0001u : 0u));
}

void CameraModel::Reset() {
    std::copy(mem_.begin(), mem_.begin() + kRegisterCount, regs_.begin());
    ApplyStraps();
    cursorDisplay_ = 0;
    searchPos_ = -1;
}

std::uint8_t CameraModel::SettingByte(int k) const {
    const std::uint16_t w = mem_.at(static_cast<std::size_t>(kWordSettings + k / 2));
    return static_cast<std::uint8_t>(k % 2 == 0 ? w >> 8 : w & 0xFF);
}

void CameraModel::SetSettingByte(int k, std::uint8_t value) {
    std::uint16_t& w = mem_.at(static_cast<std::size_t>(kWordSettings + k / 2));
    w = k % 2 == 0 ? static_cast<std::uint16_t>((w & 0x00FF) | (value << 8))
                   : static_cast<std::uint16_t>((w & 0xFF00) | value);
}

DefectSlot CameraModel::Slot(int s) const {
    const std::uint16_t xw = mem_.at(static_cast<std::size_t>(kWordDefects + 2 * s));
    const std::uint16_t yw = mem_.at(static_cast<std::size_t>(kWordDefects + 2 * s + 1));
    return DefectSlot{static_cast<std::uint16_t>(xw & 0x3FF), static_cast<std::uint16_t>(yw & 0x1FF),
                      (yw & 0x0200) != 0, (yw & 0x0400) != 0, (yw & 0x0800) != 0};
}

void CameraModel::SetSlot(int s, const DefectSlot& slot) {
    mem_.at(static_cast<std::size_t>(kWordDefects + 2 * s)) = static_cast<std::uint16_t>(slot.x & 0x3FF);
    mem_.at(static_cast<std::size_t>(kWordDefects + 2 * s + 1)) =
        static_cast<std::uint16_t>((slot.y & 0x1FF) | (slot.enabled ? 0x0200 : 0) | (slot.fix ? 0x0400 : 0) |
                                   (slot.rev ? 0x0800 : 0));
}

Answer CameraModel::Handle(const link::Payload& payload) {
    Bytes15 p{};
    for (int i = 1; i <= static_cast<int>(link::kPayloadSize); ++i) p[static_cast<std::size_t>(i - 1)] = payload[i];
    return Handle(p);
}

Answer CameraModel::Handle(const Bytes15& p) {
    ++commands_;
    ++itemCounts_[p[1]];
    lastPayload_ = p;
    const std::uint8_t group = p[0];
    const std::uint8_t item = p[1];

    if (group == kGroupReset) {
        ++resets_;
        Reset();
        return Answer{true, {}};
    }
    if (group == kGroupWrite && item == 0x20) {
        if (p[2] == 0x00) {  // back to the stored preset
            ++presets_;
            std::copy(mem_.begin() + kWordPreset, mem_.begin() + kWordPreset + kSettingsBytes / 2,
                      mem_.begin() + kWordSettings);
            return Answer{true, {}};
        }
        if (p[2] == 0x01) {  // the current settings become the preset
            ++presetSaves_;
            std::copy(mem_.begin() + kWordSettings, mem_.begin() + kWordSettings + kSettingsBytes / 2,
                      mem_.begin() + kWordPreset);
            return Answer{true, {}};
        }
        return Reply(Echo(p, kStatusBadValue));
    }
    if (Contains(options_.refuseItems, item)) return Reply(Echo(p, kStatusRefused));
    if (Contains(options_.errorItems, item)) return Reply(Echo(p, options_.errorStatus));
    if (group == kGroupRead) return Read(p);
    if (group == kGroupWrite) return Write(p);
    return Reply(Echo(p, kStatusUnknown));
}

Answer CameraModel::HandleBlock(std::span<const std::uint8_t, link::kBlockDataSize> data) {
    ++commands_;
    ++itemCounts_[link::kBlockTag];
    ++blocks_;
    Bytes15 r{};
    r[1] = link::kBlockTag;
    if (Contains(options_.refuseItems, link::kBlockTag)) {
        r[0] = kStatusRefused;
        return Reply(r);
    }
    if (Contains(options_.errorItems, link::kBlockTag)) {
        r[0] = options_.errorStatus;
        return Reply(r);
    }
    for (std::size_t a = 0; a < kMemoryWords; ++a) mem_[a] = Word(data[2 * a + 1], data[2 * a]);
    r[0] = kStatusAccepted;
    return Reply(r);
}

Answer CameraModel::Read(const Bytes15& p) {
    const std::uint8_t item = p[1];
    Bytes15 r{};
    r[0] = kStatusAccepted;
    r[1] = item;
    r[2] = p[2];
    switch (item) {
    case 0x0A:
    case 0x0B: {
        const std::uint16_t v = regs_[p[2]];
        r[3] = static_cast<std::uint8_t>(v >> 8);
        r[4] = static_cast<std::uint8_t>(v & 0xFF);
        return Reply(r);
    }
    case 0x0C: {
        const int a = Word(p[2], p[3]);
        if (a >= static_cast<int>(kMemoryWords)) return Reply(Echo(p, kStatusBadValue));
        r[3] = p[3];
        r[4] = static_cast<std::uint8_t>(mem_[static_cast<std::size_t>(a)] >> 8);
        r[5] = static_cast<std::uint8_t>(mem_[static_cast<std::size_t>(a)] & 0xFF);
        return Reply(r);
    }
    case kItemDefect:
        return ReadDefect(p);
    case kItemBlock:
        if (p[2] >= kBlocks.size()) return Reply(Echo(p, kStatusBadValue));
        return Reply(Block(p[2]));
    case 0x1F:  // the zoom group answers whole: on/off, then the level
        r[3] = SettingByte(at::kZoom);
        r[4] = SettingByte(at::kZoomLevel);
        return Reply(r);
    default:
        break;
    }
    if (item == 0x1D && p[2] == 0x15) {
        if (p[3] != 0x01 && p[3] != 0x02) return Reply(Echo(p, kStatusBadValue));
        r[3] = p[3];
        r[4] = SettingByte(p[3] == 0x01 ? at::kEnhH : at::kEnhV);
        return Reply(r);
    }
    const bool sub = HasSubItems(item);
    const Field* f = FindField(item, sub ? p[2] : kNoSub);
    if (f == nullptr) return Reply(Echo(p, sub ? kStatusBadValue : kStatusUnknown));
    const int first = sub ? 3 : 2;
    for (int i = 0; i < f->size; ++i) r[static_cast<std::size_t>(first + i)] = SettingByte(f->at + i);
    return Reply(r);
}

Answer CameraModel::Write(const Bytes15& p) {
    const std::uint8_t item = p[1];
    const Answer ok = Reply(Echo(p, kStatusAccepted));
    const Answer bad = Reply(Echo(p, kStatusBadValue));
    switch (item) {
    case 0x0A:  // register, kept in memory for the next reset
        SetRegister(p[2], Word(p[3], p[4]));
        mem_[p[2]] = Word(p[3], p[4]);
        return ok;
    case 0x0B:  // register only
        SetRegister(p[2], Word(p[3], p[4]));
        return ok;
    case 0x0C:    // memory only
    case 0x0F: {  // memory, and the register a low word stands for
        const int a = Word(p[2], p[3]);
        if (a >= static_cast<int>(kMemoryWords)) return bad;
        mem_[static_cast<std::size_t>(a)] = Word(p[4], p[5]);
        if (item == 0x0F && a < static_cast<int>(kRegisterCount)) SetRegister(a, Word(p[4], p[5]));
        return ok;
    }
    case 0x0E:  // OSD test data, 8 or 16 bit
        if (p[2] == 0x00) {
            lastOsd_ = p[3];
        } else if (p[2] == 0x01) {
            lastOsd_ = Word(p[3], p[4]);
        } else {
            return bad;
        }
        return ok;
    case 0x32:
        keys_.push_back(p[2]);
        return ok;
    case 0x1E:
        ++saves_;
        savedMemory_.assign(mem_.begin(), mem_.end());
        return ok;
    case 0x30:  // white balance presets taken from ATW
        return p[2] <= 0x02 ? ok : bad;
    case 0x41:
        return ok;
    case 0x1F:
        if (p[2] == 0x00) {
            SetSettingByte(at::kZoom, p[3]);
        } else if (p[2] == 0x01) {
            SetSettingByte(at::kZoomLevel, p[4]);
        } else {
            return bad;
        }
        return ok;
    case kItemDefect:
        return WriteDefect(p);
    case 0x46:  // the lens reference is measured, not set
    case kItemBlock:
        return Reply(Echo(p, kStatusUnknown));
    default:
        break;
    }
    if (item == 0x1B && p[2] == 0x04) return ok;  // one-push white balance
    if (item == 0x1D && p[2] == 0x15) {           // aperture gains
        switch (p[3]) {
        case 0x00:
            SetSettingByte(at::kEnhH, SettingByte(at::kPresetCopy + at::kEnhH));
            SetSettingByte(at::kEnhV, SettingByte(at::kPresetCopy + at::kEnhV));
            return ok;
        case 0x01:
            SetSettingByte(at::kEnhH, p[4]);
            return ok;
        case 0x02:
            SetSettingByte(at::kEnhV, p[4]);
            return ok;
        default:
            return bad;
        }
    }
    const bool sub = HasSubItems(item);
    const Field* f = FindField(item, sub ? p[2] : kNoSub);
    if (f == nullptr) return sub ? bad : Reply(Echo(p, kStatusUnknown));
    const int first = sub ? 3 : 2;
    for (int i = 0; i < f->size; ++i) SetSettingByte(f->at + i, p[static_cast<std::size_t>(first + i)]);
    return ok;
}

Bytes15 CameraModel::Block(int block) const {
    Bytes15 r{};
    r[0] = kStatusAccepted;
    r[1] = kItemBlock;
    r[2] = static_cast<std::uint8_t>(block);
    const BlockMap& map = kBlocks[static_cast<std::size_t>(block)];
    for (std::size_t i = 0; i < map.size(); ++i) {
        if (map[i] != kNone) r[3 + i] = SettingByte(map[i]);
    }
    return r;
}

Answer CameraModel::ReadDefect(const Bytes15& p) {
    const std::uint8_t code = p[2];
    if (code < 0x40 || code > 0x45) return Reply(Echo(p, kStatusBadValue));
    Bytes15 r{};
    r[0] = kStatusAccepted;
    r[1] = kItemDefect;
    r[2] = code;
    const int piece = code - 0x40;
    if (piece == options_.failPiece) return Reply(Echo(p, options_.errorStatus));
    for (int i = 0; i < 10; ++i) r[static_cast<std::size_t>(3 + i)] = SettingByte(at::kDefectTable + 10 * piece + i);
    return Reply(r);
}

Answer CameraModel::WriteDefect(const Bytes15& p) {
    const Answer ok = Reply(Echo(p, kStatusAccepted));
    const Answer bad = Reply(Echo(p, kStatusBadValue));
    const std::uint8_t code = p[2];
    const int slot = p[3];
    const bool slotOk = slot < static_cast<int>(kDefectSlots);
    switch (code) {
    case 0x01:  // cursor display: slot + 1, or 0 for none
        if (slot > static_cast<int>(kDefectSlots)) return bad;
        cursorDisplay_ = slot;
        return ok;
    case 0x02: {  // cursor position, written into the slot (0xFF: no slot chosen)
        if (slot != 0xFF && !slotOk) return bad;
        lastCursor_ = CursorCommand{slot, Word(p[4], p[5]), Word(p[6], p[7]), p[8], p[9]};
        if (slot == 0xFF) return ok;
        DefectSlot s = Slot(slot);
        s.x = Word(p[4], p[5]);
        s.y = Word(p[6], p[7]);
        SetSlot(slot, s);
        return ok;
    }
    case 0x03:
    case 0x10:
    case 0x11: {
        if (!slotOk) return bad;
        DefectSlot s = Slot(slot);
        const bool on = p[4] != 0;
        (code == 0x03 ? s.enabled : code == 0x10 ? s.fix : s.rev) = on;
        SetSlot(slot, s);
        return ok;
    }
    case 0x30:
    case 0x31:
    case 0x32:
        return Search(p);
    default:
        return bad;
    }
}

Answer CameraModel::Search(const Bytes15& p) {
    const std::uint8_t code = p[2];
    const int found = static_cast<int>(std::min(searchOrder_.size(), kDefectSlots));
    if (code == 0x30) {  // a new search starts from an empty table
        if (!std::equal(kSearchStartFixed.begin(), kSearchStartFixed.end(), p.begin() + 3) || p[13] != 0x00) {
            return Reply(Echo(p, kStatusBadValue));
        }
        searchParameters_ = std::array<std::uint8_t, 3>{p[10], p[11], p[12]};
        for (int s = 0; s < static_cast<int>(kDefectSlots); ++s) SetSlot(s, DefectSlot{});
        searchPos_ = 0;
    } else if (code == 0x31 && searchPos_ < found) {
        ++searchPos_;
    }
    Bytes15 r{};
    r[0] = kStatusAccepted;
    r[1] = kItemDefect;
    r[2] = code;
    if (searchPos_ < 0 || searchPos_ >= found) {
        r[3] = 1;  // not found; no slot
        return Reply(r);
    }
    const DefectPixel& d = searchOrder_[static_cast<std::size_t>(searchPos_)];
    SetSlot(searchPos_, DefectSlot{d.x, d.y, true, d.fix, d.rev});
    r[3] = 0;
    r[4] = static_cast<std::uint8_t>(searchPos_ + 1);
    r[5] = static_cast<std::uint8_t>(d.x >> 8);
    r[6] = static_cast<std::uint8_t>(d.x & 0xFF);
    r[7] = static_cast<std::uint8_t>(d.y >> 8);
    r[8] = static_cast<std::uint8_t>(d.y & 0xFF);
    r[9] = d.fix ? 1 : 0;
    r[10] = d.rev ? 1 : 0;
    return Reply(r);
}

}  // namespace tern::camera
