#include "transfer/Settings.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "link/protocol.h"
#include "transfer/Chain.h"

namespace tern::transfer {

namespace {

using K = SettingKind;
using C = Control;
using SV = std::string_view;

constexpr SV kOffOn[] = {"OFF", "ON"};
constexpr SV kTitlePos[] = {"UpperLeft", "LowerLeft", "UpperRight", "LowerRight"};
constexpr SV kSenseUp[] = {"OFF", "x2", "x4", "x6", "x8", "x12", "x16", "x24", "x32", "x48", "x64", "x96", "x128"};
constexpr SV kShutter[] = {"OFF",    "1/100",  "1/120",  "1/180",  "1/250",  "1/350",   "1/500",  "1/750",
                           "1/1000", "1/1500", "1/2000", "1/3000", "1/4000", "1/6000", "1/8000", "1/12000"};
constexpr SV kLens[] = {"ALC", "ELC"};
constexpr SV kAgc[] = {"OFF", "ON", "MANUAL"};
constexpr SV kWb[] = {"ATW", "AWC", "MANUAL"};
constexpr SV kWbPreset[] = {"3200", "5600", "User"};
constexpr SV kSync[] = {"INT", "LINE", "VBS"};
constexpr SV kPriority[] = {"AGC-Sense", "Sense-AGC"};
constexpr SV kFreezeType[] = {"Field", "Frame"};
constexpr SV kMoTime[] = {"10sec", "30sec", "60sec"};
constexpr SV kGamma[] = {"0.45", "1.00"};
constexpr SV kUse[] = {"Use", "No use"};
constexpr SV kHvPhase[] = {"V Phase", "H Phase"};

constexpr Setting Choice(SV name, C c, std::span<const SV> items, int block, bool service = false) {
    return Setting{name, c, K::Choice, items, 0, static_cast<int>(items.size()) - 1, service, block};
}
constexpr Setting Check(SV name, C c, int block, bool service = false) {
    return Setting{name, c, K::Check, {}, 0, 1, service, block};
}
constexpr Setting Slider(SV name, C c, int min, int max, int block) { return Setting{name, c, K::Slider, {}, min, max, false, block}; }

// In the order of the pages: Setup1, Setup2, then the Adjust page's.
const Setting kSettings[] = {
    Choice("Ctitle", C::Ctitle, kOffOn, 2),
    Setting{"CName", C::CName, K::Text, {}, 0, kTitleLength, false, 0},
    Choice("Ctitlepos", C::Ctitlepos, kTitlePos, 1),
    Choice("Zoom", C::Zoom, kOffOn, 2),
    Slider("ZoomBar", C::ZoomBar, 0, 128, 1),
    Choice("SenseUp", C::SenseUp, kSenseUp, 1),
    Choice("Lens", C::Lens, kLens, 3),
    Choice("Shutter", C::Shutter, kShutter, 1),
    Slider("ELCLVL", C::ELCLVL, 0, 8, 4),
    Slider("PEAK_LVL", C::PEAK_LVL, 0, 8, 1),
    Choice("BLC", C::BLC, kOffOn, 3),
    Check("BlcPreset", C::BlcPreset, 3),
    Setting{"BLCCheck", C::BLCArea, K::Grid, {}, 0, 1, false, 2},
    Choice("AGC_SEL", C::AGC_SEL, kAgc, 3),
    Slider("AGC_MAX", C::AGC_MAX, 0, 8, 1),
    Slider("AGC_MAN", C::AGC_MAN, 0, 8, 1),
    Choice("wb_select", C::wb_select, kWb, 1),
    Choice("WB_preset", C::WB_preset, kWbPreset, 2),
    Slider("Rgain", C::Rgain, 0, 8, 2),
    Slider("BGain", C::BGain, 0, 8, 2),
    Choice("Sync", C::Sync, kSync, 3),
    // The vertical phase bar's maximum is the camera's own (read with it); 0xFFFF is the word's limit.
    Setting{"v_pha_lvl", C::v_pha_lvl, K::Slider, {}, 0, 0xFFFF, false, 1, true},
    Setting{"h_pha_lvl", C::h_pha_lvl, K::Slider, {}, 0, 0xFF, false, 4, true},
    Check("MaskA", C::MaskA, 3),
    Check("MaskB", C::MaskB, 3),
    Check("MaskC", C::MaskC, 3),
    Check("MaskD", C::MaskD, 3),
    Choice("Priority", C::Priority, kPriority, 3),
    Check("Mirror", C::Mirror, 3),
    Check("Nega", C::Nega, 3),
    Check("v_rev", C::v_rev, 4),
    Check("Freeze", C::Freeze, 4),
    Choice("Frz_type", C::Frz_type, kFreezeType, 4),

    Check("color_bar", C::color_bar, 6),
    Slider("knee_lvl", C::knee_lvl, 0, 18, 6),
    Choice("gamma", C::gamma, kGamma, 5),
    Slider("enh_h", C::enh_h, 0, 18, 6),
    Slider("enh_v", C::enh_v, 0, 18, 6),
    Choice("MoDetect", C::MoDetect, kOffOn, 5),
    Slider("MoLv", C::MoLv, 0, 8, 5),
    Choice("MoTime", C::MoTime, kMoTime, 5),
    Check("MoPre", C::MoPre, 5),
    Setting{"MoCheck", C::MoArea, K::Grid, {}, 0, 1, false, 5},

    Check("wb_sel", C::wb_sel, -1, true),
    Setting{"pwm_ref", C::pwm_ref, K::HexByte, {}, 0x00, 0xFF, true, -1},
    // The use selectors: kept on the Adjust page but never shown there.
    Setting{"shut_disp_sel", C::shut_disp_sel, K::Choice, kUse, 0, 1, true, 4, false, false, "Shutter"},
    Setting{"sync_disp_sel", C::sync_disp_sel, K::Choice, kUse, 0, 1, true, 4, false, false, "EXT SYNC"},
    Setting{"Peak_disp_sel", C::Peak_disp_sel, K::Choice, kUse, 0, 1, true, 4, false, false, "Peak"},
    // Never reported by the camera: sent, not read.
    Setting{"Sens_disp_sel", C::Sens_disp_sel, K::Choice, kUse, 0, 1, true, -1, false, false, "Sense up", true},
    Setting{"hvpha_disp_sel", C::hvpha_disp_sel, K::Choice, kHvPhase, 0, 1, true, -1, false, false, "H/V Phase", true},
    // The hue bars: each a register's signed magnitude; the register's other bits are kept.
    Setting{"RYP", C::RYP, K::Slider, {}, -kHueMax, kHueMax, true, -1, false, false, "RY+"},
    Setting{"BYP", C::BYP, K::Slider, {}, -kHueMax, kHueMax, true, -1, false, false, "BY+"},
    Setting{"RYN", C::RYN, K::Slider, {}, -kHueMax, kHueMax, true, -1, false, false, "RY-"},
    Setting{"BYN", C::BYN, K::Slider, {}, -kHueMax, kHueMax, true, -1, false, false, "BY-"},
    // The CCD delays: four digits of one word, in the order the command takes them.
    Setting{"rg_width", C::Delay, K::Digit, {}, 0x0, 0xF, true, -1},
    Setting{"shd_delay", C::Delay, K::Digit, {}, 0x0, 0xF, true, -1},
    Setting{"shp_delay", C::Delay, K::Digit, {}, 0x0, 0xF, true, -1},
    Setting{"rg_delay", C::Delay, K::Digit, {}, 0x0, 0xF, true, -1},
};

std::optional<int> Integer(std::string_view text) {
    int v = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 10);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
    return v;
}

std::string Joined(std::span<const SV> items) {
    std::string out;
    for (SV i : items) out += (out.empty() ? "" : ", ") + std::string(i);
    return out;
}

}  // namespace

std::span<const Setting> Settings() { return kSettings; }

const Setting* SettingByName(std::string_view name) {
    for (const Setting& s : kSettings) {
        if (s.name == name) return &s;
    }
    const auto lower = [](unsigned char c) { return static_cast<char>(std::tolower(c)); };
    for (const Setting& s : kSettings) {
        if (std::equal(s.name.begin(), s.name.end(), name.begin(), name.end(),
                       [&](char a, char b) { return lower(static_cast<unsigned char>(a)) == lower(static_cast<unsigned char>(b)); })) {
            return &s;
        }
    }
    return nullptr;
}

void CollectSettings(const std::vector<ControlUpdate>& updates, SettingValues& values) {
    for (const ControlUpdate& u : updates) {
        if (const auto grid = ControlByName(u.control); grid && (*grid == C::BLCArea || *grid == C::MoArea)) {
            const Setting* s = SettingByName(*grid == C::BLCArea ? "BLCCheck" : "MoCheck");
            std::string& cells = values[std::string(s->name)];
            cells.resize(kGridCells, '0');
            const int k = std::stoi(u.control.substr(s->name.size()));
            cells[static_cast<std::size_t>(k - 1)] = u.value != 0 ? '1' : '0';
            continue;
        }
        const Setting* s = SettingByName(u.control);
        if (s == nullptr) continue;
        using UK = ControlUpdate::Kind;
        if (u.kind == UK::Text) {
            // A title is blank-padded in the camera; the padding is sent again for a shorter text.
            std::string text = u.text;
            if (s->kind == K::Text) text.erase(text.find_last_not_of(' ') + 1);
            values[u.control] = text;
        } else if (u.kind == UK::Check) {
            values[u.control] = u.value != 0 ? "on" : "off";
        } else if (u.kind == UK::Index && s->kind == K::Choice) {
            // An index beyond the list: the window shows no selection; say which number came.
            const auto i = static_cast<std::size_t>(u.value);
            values[u.control] = i < s->items.size() ? std::string(s->items[i]) : "#" + std::to_string(u.value);
        } else if (u.kind == UK::Position) {
            values[u.control] = std::to_string(u.value);
        }
    }
}

std::string AllowedValues(const Setting& s) {
    switch (s.kind) {
        case K::Choice: return Joined(s.items);
        case K::Check: return "on, off";
        case K::Slider:
            if (s.rangeFromCamera) return std::to_string(s.min) + " to the maximum the camera reports (its bar stops there)";
            return std::to_string(s.min) + " to " + std::to_string(s.max);
        case K::Text: return "up to 12 title characters (A-Z, a-z, 0-9, space and : ( ) < > - . ` @ ? ; * + / ,)";
        case K::Grid:
            return "48 digits 0 or 1, cell 1 first; or one cell: " + std::string(s.name) + "01 to " + std::string(s.name) +
                   "48 = on, off";
        case K::HexByte: return "two hexadecimal digits, 00 to FF";
        case K::Digit: return "one hexadecimal digit, 0 to F";
    }
    return {};
}

std::optional<SettingCommand> SetCommand(const Setting& s, std::string_view value, std::string& error) {
    const auto refuse = [&]() -> std::optional<SettingCommand> {
        error = std::string(s.name) + ": '" + std::string(value) + "' is not a value it takes; allowed: " + AllowedValues(s);
        return std::nullopt;
    };
    switch (s.kind) {
        case K::Choice: {
            const auto at = std::find(s.items.begin(), s.items.end(), value);
            if (at == s.items.end()) return refuse();
            return CommandFor(s.control, static_cast<int>(at - s.items.begin()));
        }
        case K::Check:
            if (value != "on" && value != "off") return refuse();
            return CommandFor(s.control, value == "on" ? 1 : 0);
        case K::Slider: {
            const auto v = Integer(value);
            if (!v || *v < s.min || *v > s.max) return refuse();
            if (s.control == C::ZoomBar) return ZoomLevelCommand(link::HexByteText(static_cast<std::uint8_t>(*v)), true);
            // A hue bar alone: its register's other bits as zero (HueSettingCommand keeps them).
            if (HueRegister(s.control)) return HueCommand(s.control, HueWord(0, *v));
            return CommandFor(s.control, *v);
        }
        case K::Text: {
            if (value.size() > static_cast<std::size_t>(kTitleLength)) return refuse();
            std::u32string text;
            for (const char c : value) {
                if (!TitleCharCode(static_cast<unsigned char>(c))) return refuse();
                text.push_back(static_cast<unsigned char>(c));
            }
            return TitleCommand(text);
        }
        case K::Grid: {
            if (value.size() != static_cast<std::size_t>(kGridCells) ||
                value.find_first_not_of("01") != std::string_view::npos) {
                return refuse();
            }
            GridCells cells{};
            for (std::size_t k = 0; k < cells.size(); ++k) cells[k] = value[k] == '1';
            return GridCommand(s.control, cells);
        }
        case K::HexByte: {
            const auto cmd = PwmRefCommand(value);
            if (!cmd) return refuse();
            return cmd;
        }
        case K::Digit: {
            // Checked alone; sent with its word's other digits (DigitsCommand).
            SettingValues values;
            for (const Setting* d : DigitsOfWord(s)) values[std::string(d->name)] = "0";
            values[std::string(s.name)] = std::string(value);
            if (value.size() != 1 || !DigitsCommand(s, values, error)) return refuse();
            return DigitsCommand(s, values, error);
        }
    }
    return refuse();
}

std::vector<const Setting*> DigitsOfWord(const Setting& s) {
    std::vector<const Setting*> digits;
    for (const Setting& d : kSettings) {
        if (d.kind == K::Digit && d.control == s.control) digits.push_back(&d);
    }
    return digits;
}

std::optional<SettingCommand> DigitsCommand(const Setting& s, const SettingValues& values, std::string& error) {
    const std::vector<const Setting*> digits = DigitsOfWord(s);
    std::vector<std::string> text;
    for (const Setting* d : digits) {
        const auto at = values.find(std::string(d->name));
        if (at == values.end()) {
            error = std::string(d->name) + " is not known";
            return std::nullopt;
        }
        text.push_back(at->second);
    }
    if (s.control != C::Delay || text.size() != 4) return std::nullopt;
    return DelayCommand(text[0], text[1], text[2], text[3]);
}

std::vector<ChainRequest> SettingReads() {
    std::vector<ChainRequest> reads;
    for (const link::Page page : {link::Page::Setup1, link::Page::Setup2, link::Page::Adjust}) {
        for (int step = 0;; ++step) {
            const auto r = LoadChainStep(page, step);
            if (!r) break;
            const bool seen = std::any_of(reads.begin(), reads.end(),
                                          [&](const ChainRequest& q) { return q.n == r->n && q.payload.b == r->payload.b; });
            if (!seen) reads.push_back(*r);
        }
    }
    return reads;
}

}  // namespace tern::transfer
