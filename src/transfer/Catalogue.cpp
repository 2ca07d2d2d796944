#include "transfer/Catalogue.h"

#include <algorithm>
#include <cstdlib>

#include "link/protocol.h"

namespace tern::transfer {

namespace {

using namespace link;

constexpr std::uint8_t W = kGroupWrite;
constexpr std::uint8_t R = kGroupRead;

// Sub-items of the picture group (item 0x1D).
constexpr std::uint8_t kPicNega = 0x04;
constexpr std::uint8_t kPicMirror = 0x05;
constexpr std::uint8_t kPicPriority = 0x06;
constexpr std::uint8_t kPicVRev = 0x07;
constexpr std::uint8_t kPicFreeze = 0x08;
constexpr std::uint8_t kPicFreezeType = 0x09;
constexpr std::uint8_t kPicGamma = 0x14;
constexpr std::uint8_t kPicKnee = 0x16;
constexpr std::uint8_t kPicColorBar = 0x17;

constexpr CatalogueRow Row(Control c, std::string_view name, ControlPage page, std::array<std::uint8_t, 5> prefix,
                           int prefixLength, Encoding e, int n, int suffixLength = 0) {
    return CatalogueRow{c, name, page, prefix, prefixLength, e, 0x01, suffixLength, n};
}

using E = Encoding;
using C = Control;
using P = ControlPage;

// clang-format off
constexpr CatalogueRow kRows[] = {
    Row(C::Ctitle,    "Ctitle",    P::Setup1, {W, kItemTitle, 0x00}, 3, E::Byte, 4),
    Row(C::CName,     "CName",     P::Setup1, {W, kItemTitle, 0x01}, 3, E::Title, 15),
    Row(C::Ctitlepos, "Ctitlepos", P::Setup1, {W, kItemTitle, 0x03}, 3, E::Byte, 4),
    Row(C::SenseUp,   "SenseUp",   P::Setup1, {W, kItemSenseUp}, 2, E::Byte, 3),
    Row(C::Lens,      "Lens",      P::Setup1, {W, kItemLens}, 2, E::Byte, 3),
    Row(C::Shutter,   "Shutter",   P::Setup1, {W, kItemShutter}, 2, E::Byte, 3),
    Row(C::ELCLVL,    "ELCLVL",    P::Setup1, {W, kItemElc}, 2, E::Byte, 3),
    Row(C::BLC,       "BLC",       P::Setup1, {W, kItemBlc, 0x00}, 3, E::Byte, 4),
    Row(C::BlcPreset, "BlcPreset", P::Setup1, {W, kItemBlc, 0x01}, 3, E::Byte, 4),
    Row(C::BLCArea,   "BLCCheck",  P::Setup1, {W, kItemBlcArea}, 2, E::Grid, 8),
    Row(C::AGC_SEL,   "AGC_SEL",   P::Setup1, {W, kItemAgc, 0x00}, 3, E::Byte, 4),
    Row(C::AGC_MAX,   "AGC_MAX",   P::Setup1, {W, kItemAgc, 0x01}, 3, E::Byte, 4),
    Row(C::AGC_MAN,   "AGC_MAN",   P::Setup1, {W, kItemAgc, 0x02}, 3, E::Byte, 4),
    Row(C::wb_select, "wb_select", P::Setup1, {W, kItemWhiteBalance, 0x00}, 3, E::Byte, 4),
    Row(C::WB_preset, "WB_preset", P::Setup1, {W, kItemWhiteBalance, 0x01}, 3, E::Byte, 4),
    Row(C::Rgain,     "Rgain",     P::Setup1, {W, kItemWhiteBalance, 0x02}, 3, E::Byte, 4),
    Row(C::BGain,     "BGain",     P::Setup1, {W, kItemWhiteBalance, 0x03}, 3, E::Byte, 4),
    Row(C::AWC,       "AWC",       P::Setup1, {W, kItemWhiteBalance, 0x04}, 3, E::None, 3),
    Row(C::Sync,      "Sync",      P::Setup1, {W, kItemSync, 0x00}, 3, E::Byte, 4),
    Row(C::v_pha_lvl, "v_pha_lvl", P::Setup1, {W, kItemSync, 0x01}, 3, E::Word, 5),
    Row(C::h_pha_lvl, "h_pha_lvl", P::Setup1, {W, kItemSync, 0x02}, 3, E::Byte, 4),
    Row(C::MaskA,     "MaskA",     P::Setup1, {W, kItemPicture, 0x00}, 3, E::Byte, 4),
    Row(C::MaskB,     "MaskB",     P::Setup1, {W, kItemPicture, 0x01}, 3, E::Byte, 4),
    Row(C::MaskC,     "MaskC",     P::Setup1, {W, kItemPicture, 0x02}, 3, E::Byte, 4),
    Row(C::MaskD,     "MaskD",     P::Setup1, {W, kItemPicture, 0x03}, 3, E::Byte, 4),
    Row(C::Nega,      "Nega",      P::Setup1, {W, kItemPicture, kPicNega}, 3, E::Byte, 4),
    Row(C::Mirror,    "Mirror",    P::Setup1, {W, kItemPicture, kPicMirror}, 3, E::Byte, 4),
    Row(C::Priority,  "Priority",  P::Setup1, {W, kItemPicture, kPicPriority}, 3, E::Byte, 4),
    Row(C::v_rev,     "v_rev",     P::Setup1, {W, kItemPicture, kPicVRev}, 3, E::Byte, 4),
    Row(C::Freeze,    "Freeze",    P::Setup1, {W, kItemPicture, kPicFreeze}, 3, E::Byte, 4),
    Row(C::Frz_type,  "Frz_type",  P::Setup1, {W, kItemPicture, kPicFreezeType}, 3, E::Byte, 4),
    Row(C::Save,      "Save",      P::Setup1, {W, kItemSave}, 2, E::None, 2),
    Row(C::Zoom,      "Zoom",      P::Setup1, {W, kItemZoom, 0x00}, 3, E::Byte, 4),
    Row(C::ZoomBar,   "ZoomBar",   P::Setup1, {W, kItemZoom, 0x01, 0x00}, 4, E::HexByte, 5),
    Row(C::Zoomlvl,   "Zoomlvl",   P::Setup1, {W, kItemZoom, 0x01, 0x00}, 4, E::HexByte, 5),
    Row(C::Preset,    "Preset",    P::Setup1, {W, kItemPreset, 0x00}, 3, E::None, 3),
    Row(C::PEAK_LVL,  "PEAK_LVL",  P::Setup1, {W, kItemPeak}, 2, E::Byte, 3),

    Row(C::gamma,     "gamma",     P::Setup2, {W, kItemPicture, kPicGamma}, 3, E::Byte, 4),
    Row(C::apc_pre,   "apc_pre",   P::Setup2, {W, kItemPicture, kPictureAperture, 0x00, 0x01}, 5, E::None, 5),
    Row(C::enh_h,     "enh_h",     P::Setup2, {W, kItemPicture, kPictureAperture, 0x01}, 4, E::Byte, 5),
    Row(C::enh_v,     "enh_v",     P::Setup2, {W, kItemPicture, kPictureAperture, 0x02}, 4, E::Byte, 5),
    Row(C::knee_lvl,  "knee_lvl",  P::Setup2, {W, kItemPicture, kPicKnee}, 3, E::Byte, 4),
    Row(C::color_bar, "color_bar", P::Setup2, {W, kItemPicture, kPicColorBar}, 3, E::Byte, 4),
    Row(C::save2,     "save2",     P::Setup2, {W, kItemSave}, 2, E::None, 2),
    Row(C::preset2,   "preset2",   P::Setup2, {W, kItemPreset, 0x00}, 3, E::None, 3),
    Row(C::MoDetect,  "MoDetect",  P::Setup2, {W, kItemMotion, 0x00}, 3, E::Byte, 4),
    Row(C::MoPre,     "MoPre",     P::Setup2, {W, kItemMotion, 0x01}, 3, E::Byte, 4),
    Row(C::MoLv,      "MoLv",      P::Setup2, {W, kItemMotion, 0x02}, 3, E::Byte, 4),
    Row(C::MoTime,    "MoTime",    P::Setup2, {W, kItemMotion, 0x03}, 3, E::Byte, 4),
    Row(C::MoArea,    "MoCheck",   P::Setup2, {W, kItemMotionArea}, 2, E::Grid, 8),

    Row(C::wb_sel,         "wb_sel",         P::Adjust, {W, kItemWhiteBalance, 0x00}, 3, E::InverseFlag, 4),
    Row(C::pre_32,         "pre_32",         P::Adjust, {W, kItemAtwPreset, 0x00, 0x01}, 4, E::None, 4),
    Row(C::pre_56,         "pre_56",         P::Adjust, {W, kItemAtwPreset, 0x01, 0x01}, 4, E::None, 4),
    Row(C::pre_awc,        "pre_awc",        P::Adjust, {W, kItemAtwPreset, 0x02, 0x01}, 4, E::None, 4),
    Row(C::shut_disp_sel,  "shut_disp_sel",  P::Adjust, {W, kItemUse, 0x00}, 3, E::Byte, 5, 1),
    Row(C::sync_disp_sel,  "sync_disp_sel",  P::Adjust, {W, kItemUse, 0x01}, 3, E::Byte, 5, 1),
    Row(C::hvpha_disp_sel, "hvpha_disp_sel", P::Adjust, {W, kItemUse, 0x02}, 3, E::Byte, 5, 1),
    Row(C::Sens_disp_sel,  "Sens_disp_sel",  P::Adjust, {W, kItemUse, 0x03}, 3, E::Byte, 5, 1),
    Row(C::Peak_disp_sel,  "Peak_disp_sel",  P::Adjust, {W, kItemUse, 0x04}, 3, E::Byte, 5, 1),
    Row(C::Delay,          "rg_delay",       P::Adjust, {W, kItemDelay}, 2, E::Nibbles, 5, 1),
    Row(C::pwm_ref,        "pwm_ref",        P::Adjust, {W, kItemPwmRef}, 2, E::HexByte, 4, 1),
    Row(C::rens_ref_read,  "rens_ref_read",  P::Adjust, {R, kItemLensRef}, 2, E::None, 2),
    Row(C::RYP,            "RYP",            P::Adjust, {W, kItemRegisterOnly, 0x2C}, 3, E::HueWord, 5),
    Row(C::BYP,            "BYP",            P::Adjust, {W, kItemRegisterOnly, 0x2D}, 3, E::HueWord, 5),
    Row(C::RYN,            "RYN",            P::Adjust, {W, kItemRegisterOnly, 0x2E}, 3, E::HueWord, 5),
    Row(C::BYN,            "BYN",            P::Adjust, {W, kItemRegisterOnly, 0x2F}, 3, E::HueWord, 5),

    Row(C::PresetSave, "PresetSave", P::Debug, {W, kItemPreset, 0x01}, 3, E::None, 3),

    Row(C::MaskWrite, "Mask_write", P::MaskWindow, {W, kItemPicture}, 2, E::MaskRect, 7),
    Row(C::MaskRead,  "Mask_read",  P::MaskWindow, {R, kItemPicture}, 2, E::MaskRect, 3),
};

constexpr ThrottleRow kThrottles[] = {
    {C::CName, "TitleTimer", 500, false},
    {C::ZoomBar, "ZoomTimer", 500, false},  // its tick writes Zoomlvl, whose change sends
    {C::ELCLVL, "LensTimer", 300, false},
    {C::AGC_MAX, "AGCTimer", 300, false},
    {C::AGC_MAN, "AGCManTimer", 300, false},
    {C::Rgain, "RTimer", 1000, false},
    {C::BGain, "BTimer", 500, false},
    {C::BLCArea, "BLCAreaTimer", 300, false},
    {C::v_pha_lvl, "v_pha_timer", 300, false},
    {C::h_pha_lvl, "h_pha_timer", 300, false},
    {C::PEAK_LVL, "PEAKTimer", 300, false},
    {C::RYP, "TimerRYP", 200, true},
    {C::BYP, "TimerBYP", 200, true},
    {C::RYN, "TimerRYN", 200, true},
    {C::BYN, "TimerBYN", 200, true},
    {C::knee_lvl, "kneeTimer", 200, false},
    {C::enh_h, "enh_h_timer", 200, false},
    {C::enh_v, "enh_v_timer", 200, false},
    {C::MoLv, "MoLvtimer", 200, false},
};
// clang-format on

constexpr std::size_t kControlCount = static_cast<std::size_t>(Control::MaskRead) + 1;
static_assert(std::size(kRows) == kControlCount, "one catalogue row per control");

SettingCommand FromRow(const CatalogueRow& row, std::span<const std::uint8_t> value) {
    SettingCommand cmd;
    int i = 1;
    for (int k = 0; k < row.prefixLength; ++k) cmd.payload[i++] = row.prefix[static_cast<std::size_t>(k)];
    for (std::uint8_t b : value) cmd.payload[i++] = b;
    if (row.suffixLength == 1) cmd.payload[i++] = row.suffix;
    cmd.n = row.n;
    return cmd;
}

std::uint8_t Low8(int v) { return static_cast<std::uint8_t>(v & 0xFF); }

}  // namespace

std::vector<std::uint8_t> SettingCommand::Bytes() const {
    std::vector<std::uint8_t> out;
    for (int i = 1; i <= n; ++i) out.push_back(payload[i]);
    return out;
}

std::span<const CatalogueRow> CatalogueRows() { return kRows; }

const CatalogueRow& RowOf(Control c) {
    for (const CatalogueRow& r : kRows) {
        if (r.control == c) return r;
    }
    return kRows[0];  // unreachable: the static_assert and the tests keep one row per control
}

std::string_view ControlName(Control c) { return RowOf(c).name; }

std::optional<Control> ControlByName(std::string_view name) {
    auto cellOf = [&](std::string_view stem) -> bool {
        if (name.size() != stem.size() + 2 || name.substr(0, stem.size()) != stem) return false;
        const char a = name[stem.size()], b = name[stem.size() + 1];
        if (a < '0' || a > '9' || b < '0' || b > '9') return false;
        const int k = (a - '0') * 10 + (b - '0');
        return k >= 1 && k <= kGridCells;
    };
    if (cellOf("BLCCheck")) return Control::BLCArea;
    if (cellOf("MoCheck")) return Control::MoArea;
    for (const CatalogueRow& r : kRows) {
        if (r.encoding == Encoding::Grid) continue;
        if (r.name == name) return r.control;
    }
    // The four delay fields share one command.
    if (name == "rg_width" || name == "shd_delay" || name == "shp_delay") return Control::Delay;
    return std::nullopt;
}

std::optional<SettingCommand> CommandFor(Control c, int value) {
    const CatalogueRow& row = RowOf(c);
    switch (row.encoding) {
        case Encoding::None: return FromRow(row, {});
        case Encoding::Byte: {
            const std::uint8_t b = Low8(value);
            return FromRow(row, std::span(&b, 1));
        }
        case Encoding::InverseFlag: {
            const std::uint8_t b = value != 0 ? 0 : 1;
            return FromRow(row, std::span(&b, 1));
        }
        case Encoding::Word: {
            const std::uint8_t w[2] = {Low8(value >> 8), Low8(value)};
            return FromRow(row, w);
        }
        default: return std::nullopt;
    }
}

// ---- camera title -------------------------------------------------------------------

std::optional<std::uint8_t> TitleCharCode(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<std::uint8_t>(c - U'0');
    if (c >= U'A' && c <= U'N') return static_cast<std::uint8_t>(0x11 + (c - U'A'));
    if (c == U'O') return 0x00;  // the font has one glyph for the letter O and the digit zero
    if (c >= U'P' && c <= U'Z') return static_cast<std::uint8_t>(0x20 + (c - U'P'));
    if (c >= U'a' && c <= U'z') return static_cast<std::uint8_t>(0x51 + (c - U'a'));
    switch (c) {
        case U':': return 0x0A;
        case U'(': case U'<': return 0x0B;
        case U')': case U'>': return 0x0C;
        case U'-': return 0x0D;
        case U'.': return 0x0E;
        case U'`': return 0x1F;
        case U'@': return 0x3F;
        case U'?': return 0x50;
        case U';': return 0x6B;
        case U'*': case U'+': return 0x6C;
        case U'/': return 0x6D;
        case U',': return 0x6E;
        case U' ': return kTitleBlank;
        default: return std::nullopt;
    }
}

char TitleCodeChar(std::uint8_t code) {
    // Built once: for each code, the smallest character that maps to it.
    static const std::array<char, 256> kBackward = [] {
        std::array<char, 256> t{};
        for (char32_t c = 0x7F; c >= 1; --c) {
            if (const auto mapped = TitleCharCode(c)) t[*mapped] = static_cast<char>(c);
        }
        return t;
    }();
    return kBackward[code];
}

std::array<std::uint8_t, kTitleLength> TitleCodes(std::u32string_view text) {
    std::array<std::uint8_t, kTitleLength> codes;
    codes.fill(kTitleBlank);
    for (std::size_t i = 0; i < codes.size() && i < text.size(); ++i) {
        codes[i] = TitleCharCode(text[i]).value_or(kTitleBlank);
    }
    return codes;
}

SettingCommand TitleCommand(std::u32string_view text) {
    const auto codes = TitleCodes(text);
    return FromRow(RowOf(Control::CName), codes);
}

// ---- grids ------------------------------------------------------------------------------

GridBytesArray GridBytes(const GridCells& cells) {
    GridBytesArray bytes{};
    for (int k = 0; k < kGridCells; ++k) {
        if (cells[static_cast<std::size_t>(k)]) bytes[static_cast<std::size_t>(k / 8)] |= static_cast<std::uint8_t>(1u << (k % 8));
    }
    return bytes;
}

GridCells GridCellsOf(std::span<const std::uint8_t, kGridBytes> bytes) {
    GridCells cells{};
    for (int k = 0; k < kGridCells; ++k) {
        cells[static_cast<std::size_t>(k)] = ((bytes[static_cast<std::size_t>(k / 8)] >> (k % 8)) & 1) != 0;
    }
    return cells;
}

std::string GridCellName(Control grid, int k) {
    const char digits[3] = {static_cast<char>('0' + k / 10), static_cast<char>('0' + k % 10), '\0'};
    return std::string(grid == Control::MoArea ? "MoCheck" : "BLCCheck") + digits;
}

SettingCommand GridCommand(Control grid, const GridCells& cells) {
    const auto bytes = GridBytes(cells);
    return FromRow(RowOf(grid == Control::MoArea ? Control::MoArea : Control::BLCArea), bytes);
}

// ---- hexadecimal fields --------------------------------------------------------------------

bool IsHexText(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return HexDigitValue(c) >= 0; });
}

std::optional<std::uint8_t> HexByteField(std::string_view text) {
    if (text.size() != 2 || !IsHexText(text)) return std::nullopt;
    return static_cast<std::uint8_t>(HexPairValue(text[0], text[1]));
}

std::optional<std::uint8_t> HexDigitField(std::string_view text) {
    if (text.size() != 1 || !IsHexText(text)) return std::nullopt;
    return static_cast<std::uint8_t>(HexDigitValue(text[0]));
}

std::optional<SettingCommand> ZoomLevelCommand(std::string_view zoomlvl, bool zoomOn) {
    const auto v = HexByteField(zoomlvl);
    if (!zoomOn || !v) return std::nullopt;
    return FromRow(RowOf(Control::Zoomlvl), std::span(&*v, 1));
}

std::optional<SettingCommand> PwmRefCommand(std::string_view pwmRef) {
    const auto v = HexByteField(pwmRef);
    if (!v) return std::nullopt;
    return FromRow(RowOf(Control::pwm_ref), std::span(&*v, 1));
}

std::optional<SettingCommand> DelayCommand(std::string_view rgWidth, std::string_view shdDelay,
                                           std::string_view shpDelay, std::string_view rgDelay) {
    const auto w = HexDigitField(rgWidth), shd = HexDigitField(shdDelay), shp = HexDigitField(shpDelay),
               rg = HexDigitField(rgDelay);
    if (!w || !shd || !shp || !rg) return std::nullopt;
    const std::uint8_t ab[2] = {static_cast<std::uint8_t>(*w * 16 + *shd), static_cast<std::uint8_t>(*shp * 16 + *rg)};
    return FromRow(RowOf(Control::Delay), ab);
}

std::string PwmRefStep(std::string_view pwmRef, bool up) {
    if (pwmRef.size() > 2 || !IsHexText(pwmRef)) return std::string(pwmRef);
    const int v = static_cast<int>(HexTextValue(pwmRef));
    const int next = up ? (v >= kPwmRefMax - 1 ? kPwmRefMax : v + 1) : (v <= kPwmRefMin + 1 ? kPwmRefMin : v - 1);
    return HexByteText(static_cast<std::uint8_t>(next));
}

std::string DelayDigitStep(std::string_view digit, bool up) {
    if (digit.size() > 1 || !IsHexText(digit)) return std::string(digit);
    int v = static_cast<int>(HexTextValue(digit));
    if (up && v < 15) ++v;
    if (!up && v > 0) --v;
    return std::string(1, "0123456789ABCDEF"[v]);
}

std::string PhaseText(int position) { return HexWordText(static_cast<std::uint16_t>(position & 0xFFFF)); }

// ---- hue words ------------------------------------------------------------------------------

std::optional<int> HueRegister(Control bar) {
    switch (bar) {
        case Control::RYP:
        case Control::BYP:
        case Control::RYN:
        case Control::BYN: return RowOf(bar).prefix[2];
        default: return std::nullopt;
    }
}

int HueWord(int shadowWord, int position) {
    const int p = std::clamp(position, -kHueMax, kHueMax);
    return (shadowWord & 0xFE00) | (std::abs(p) & 0xFF) | (p < 0 ? 0x100 : 0);
}

int HuePosition(int word) {
    const int magnitude = word & 0xFF;
    return (word & 0x100) != 0 ? -magnitude : magnitude;
}

std::optional<SettingCommand> HueCommand(Control bar, int word) {
    if (!HueRegister(bar)) return std::nullopt;
    const std::uint8_t w[2] = {Low8(word >> 8), Low8(word)};
    return FromRow(RowOf(bar), w);
}

// ---- registers, blocks ------------------------------------------------------------------------

SettingCommand RegisterWriteCommand(int reg, int word) {
    SettingCommand cmd;
    cmd.payload[1] = kGroupWrite;
    cmd.payload[2] = kItemRegister;
    cmd.payload[3] = Low8(reg);
    cmd.payload[4] = Low8(word >> 8);
    cmd.payload[5] = Low8(word);
    cmd.n = 5;
    return cmd;
}

SettingCommand BlockReadCommand(int block) {
    SettingCommand cmd;
    cmd.payload[1] = kGroupRead;
    cmd.payload[2] = kItemBlock;
    cmd.payload[3] = Low8(block);
    cmd.n = 3;
    return cmd;
}

// ---- mask window ---------------------------------------------------------------------------------

std::optional<SettingCommand> MaskWriteCommand(int mask, const CameraRect& r) {
    if (mask < 0 || mask >= kMaskCount) return std::nullopt;
    const std::uint8_t v[5] = {static_cast<std::uint8_t>(kMaskRectSub + mask), Low8(r.x1), Low8(r.y1), Low8(r.x2),
                               Low8(r.y2)};
    return FromRow(RowOf(Control::MaskWrite), v);
}

std::optional<SettingCommand> MaskReadCommand(int mask) {
    if (mask < 0 || mask >= kMaskCount) return std::nullopt;
    const std::uint8_t sub = static_cast<std::uint8_t>(kMaskRectSub + mask);
    return FromRow(RowOf(Control::MaskRead), std::span(&sub, 1));
}

// ---- throttling ------------------------------------------------------------------------------------

std::span<const ThrottleRow> ThrottleTable() { return kThrottles; }

const ThrottleRow* ThrottleOf(Control c) {
    for (const ThrottleRow& t : kThrottles) {
        if (t.control == c) return &t;
    }
    return nullptr;
}

bool Throttle::Change(Control c, bool loadRunning, bool blcPresetChecked) {
    const ThrottleRow* t = ThrottleOf(c);
    if (t == nullptr) return false;
    if (loadRunning && !t->armsDuringLoad) return false;
    if (c == Control::BLCArea && blcPresetChecked) return false;
    bool& armed = armed_[static_cast<std::size_t>(c)];
    if (armed) return false;  // the interval runs from the first change
    armed = true;
    return true;
}

bool Throttle::Tick(Control c, bool idle) {
    bool& armed = armed_[static_cast<std::size_t>(c)];
    if (!armed) return false;  // a stale tick after the send
    if (!idle) return false;   // stays armed: the timer tries again one interval later
    armed = false;
    return true;
}

bool Throttle::Armed(Control c) const { return armed_[static_cast<std::size_t>(c)]; }

// ---- sync reset ------------------------------------------------------------------------------------

bool SyncReset::Refused(int syncIndex) {
    if (syncIndex == 0) return false;  // already INT: no change, so no click would ever clear a flag
    pending_ = true;
    return true;
}

bool SyncReset::Click(bool idle) {
    if (pending_) {
        pending_ = false;  // the refusal's own change, swallowed even while busy
        return false;
    }
    return idle;
}

}  // namespace tern::transfer
