#include "transfer/Decode.h"

#include <algorithm>
#include <array>

namespace tern::transfer {

namespace {

using namespace link;
using Kind = ControlUpdate::Kind;

constexpr int kRegRyp = 44;  // hue registers 44..47: RYP, BYP, RYN, BYN
constexpr const char* kHueBars[4] = {"RYP", "BYP", "RYN", "BYN"};
constexpr const char* kMasks[4] = {"MaskA", "MaskB", "MaskC", "MaskD"};

class Out {
public:
    explicit Out(DecodedReply& d) : d_(d) {}
    void Index(const char* c, int v) { Add(c, Kind::Index, v); }
    void Position(const char* c, int v) { Add(c, Kind::Position, v); }
    void Maximum(const char* c, int v) { Add(c, Kind::Maximum, v); }
    void Check(const char* c, int v) { Add(c, Kind::Check, v != 0 ? 1 : 0); }
    void Visible(const char* c, bool v) { Add(c, Kind::Visible, v ? 1 : 0); }
    void Text(const char* c, std::string t) { d_.updates.push_back({c, Kind::Text, 0, std::move(t)}); }
    void Grid(Control grid, const Reply& r, int first) {
        std::array<std::uint8_t, kGridBytes> bytes{};
        for (int i = 0; i < kGridBytes; ++i) bytes[static_cast<std::size_t>(i)] = r.Byte(first + i);
        const GridCells cells = GridCellsOf(bytes);
        for (int k = 1; k <= kGridCells; ++k) {
            d_.updates.push_back({GridCellName(grid, k), Kind::Check, cells[static_cast<std::size_t>(k - 1)] ? 1 : 0, {}});
        }
    }
    /// The zoom level shows on the bar and, as two hex digits, in Zoomlvl.
    void ZoomLevel(int v) {
        Position("ZoomBar", v);
        Text("Zoomlvl", HexByteText(static_cast<std::uint8_t>(v)));
    }

private:
    void Add(const char* c, Kind k, int v) { d_.updates.push_back({c, k, v, {}}); }
    DecodedReply& d_;
};

std::array<std::uint8_t, kTitleLength> TitleBytes(const Reply& r) {
    std::array<std::uint8_t, kTitleLength> codes{};
    for (int i = 0; i < kTitleLength; ++i) codes[static_cast<std::size_t>(i)] = r.Byte(4 + i);
    return codes;
}

void DecodeRegister(const Reply& r, DecodedReply& d, Out& out) {
    const int reg = r.Sub();
    const int w = r.WordHL(4);
    d.reg = RegisterValue{reg, w};
    if (reg == kRegResolution) {
        out.Text("Resolution", (w & 0x4000) != 0 ? "Hi-Resolution" : "Lo-Resolution");
    } else if (reg == kRegVideoStandard) {
        out.Text("TV", (w & 0x0001) != 0 ? "PAL" : "NTSC");
    } else if (reg >= kRegRyp && reg < kRegRyp + 4) {
        out.Position(kHueBars[reg - kRegRyp], HuePosition(w));
    }
}

void DecodePicture(const Reply& r, DecodedReply& d, Out& out, MaskVideo video) {
    const int sub = r.Sub();
    const int v = r.Byte(4);
    if (sub >= 0 && sub <= 3) {
        out.Check(kMasks[sub], v);
    } else if (sub == 4) {
        out.Check("Nega", v);
    } else if (sub == 5) {
        out.Check("Mirror", v);
    } else if (sub == 6) {
        out.Index("Priority", v);
    } else if (sub >= kMaskRectSub && sub < kMaskRectSub + kMaskCount) {
        MaskReply m;
        m.mask = sub - kMaskRectSub;
        m.camera = CameraRect{r.Byte(4), r.Byte(5), r.Byte(6), r.Byte(7)};
        m.window = MaskToWindow(m.camera, video);
        d.mask = m;
    }
}

void DecodeBlock(const Reply& r, DecodedReply& d, Out& out) {
    const auto o = [&](int offset) { return static_cast<int>(r.Byte(offset)); };
    switch (r.Sub()) {
        case 0: out.Text("CName", DecodeTitle(TitleBytes(r), false)); break;
        case 1:
            out.Position("PEAK_LVL", o(4));
            out.Index("Ctitlepos", o(5));
            out.Index("wb_select", o(6));
            out.Index("SenseUp", o(7));
            out.ZoomLevel(o(8));
            out.Index("Shutter", o(9));
            out.Position("AGC_MAN", o(10));
            out.Position("AGC_MAX", o(11));
            out.Maximum("v_pha_lvl", r.WordLH(12));
            out.Position("v_pha_lvl", r.WordLH(14));
            break;
        case 2:
            out.Grid(Control::BLCArea, r, 4);
            out.Index("WB_preset", o(11));
            out.Position("BGain", o(12));
            out.Position("Rgain", o(13));
            out.Index("Zoom", o(14));
            out.Index("Ctitle", o(15));
            break;
        case 3:
            out.Index("Lens", o(4));
            out.Index("BLC", o(5));
            out.Check("BlcPreset", o(6));
            out.Index("AGC_SEL", o(7));
            out.Index("Sync", o(8));
            out.Check("Nega", o(9));
            out.Check("Mirror", o(10));
            out.Index("Priority", o(11));
            for (int m = 0; m < kMaskCount; ++m) out.Check(kMasks[m], o(12 + m));
            break;
        case 4:
            out.Position("ELCLVL", o(4));
            out.Check("v_rev", o(5));
            out.Index("Frz_type", o(6));
            out.Check("Freeze", o(7));
            out.Maximum("h_pha_lvl", o(8));
            out.Position("h_pha_lvl", o(9));
            out.Index("shut_disp_sel", o(12));
            out.Index("sync_disp_sel", o(13));
            out.Index("Peak_disp_sel", o(14));
            out.Visible("sens_Grp", true);
            out.Visible("Sync_grp", o(13) == 0);
            if (o(12) == 0) out.Visible("Shutter", true);  // never hidden here
            d.releasePanelLock = true;
            break;
        case 5:  // the motion fields, in the order the motion page sets them, then gamma
            out.Index("MoDetect", o(4));
            out.Check("MoPre", o(5));
            out.Position("MoLv", o(6));
            out.Grid(Control::MoArea, r, 7);
            out.Index("MoTime", o(13));
            out.Index("gamma", o(14));
            break;
        case 6:
            d.loadGuard = true;
            out.Position("enh_h", o(4));
            out.Position("enh_v", o(5));
            out.Position("knee_lvl", o(6));
            out.Check("color_bar", o(7));
            break;
        default: break;
    }
}

}  // namespace

std::string DecodeTitle(std::span<const std::uint8_t> codes, bool stopAtBlank) {
    std::string text;
    for (std::size_t i = 0; i < codes.size() && i < static_cast<std::size_t>(kTitleLength); ++i) {
        if (stopAtBlank && codes[i] == kTitleBlank) break;
        const char c = TitleCodeChar(codes[i]);
        if (c == '\0') break;
        text.push_back(c);
    }
    if (!stopAtBlank && std::all_of(text.begin(), text.end(), [](char c) { return c == ' '; })) text.clear();
    return text;
}

DecodedReply DecodeReply(const Reply& r, const Payload& lastCommand, MaskVideo video) {
    DecodedReply d;
    if (!r.Accepted() || lastCommand[1] != kGroupRead) return d;
    Out out(d);
    const int sub = r.Sub();
    const int o4 = r.Byte(4);
    switch (r.Item()) {
        case kItemRegister:
        case kItemRegisterOnly: DecodeRegister(r, d, out); break;
        case kItemTitle:
            if (sub == 0) out.Index("Ctitle", o4);
            if (sub == 1) out.Text("CName", DecodeTitle(TitleBytes(r), true));
            if (sub == 3) out.Index("Ctitlepos", o4);
            break;
        case kItemSenseUp: out.Index("SenseUp", sub); break;
        case kItemLens: out.Index("Lens", sub); break;
        case kItemShutter: out.Index("Shutter", sub); break;
        case kItemElc: out.Position("ELCLVL", sub); break;
        case kItemBlc:
            if (sub == 0) out.Index("BLC", o4);
            if (sub == 1) out.Check("BlcPreset", o4);
            break;
        case kItemBlcArea: out.Grid(Control::BLCArea, r, 3); break;
        case kItemAgc:
            if (sub == 0) out.Index("AGC_SEL", o4);
            if (sub == 1) out.Position("AGC_MAX", o4);
            if (sub == 2) out.Position("AGC_MAN", o4);
            break;
        case kItemWhiteBalance:
            if (sub == 0) {
                out.Check("wb_sel", o4 == 0);
                out.Index("wb_select", o4);
            }
            if (sub == 1) out.Index("WB_preset", o4);
            if (sub == 2) out.Position("Rgain", o4);
            if (sub == 3) out.Position("BGain", o4);
            break;
        case kItemSync:
            if (sub == 0) out.Index("Sync", o4);
            if (sub == 1) out.Position("v_pha_lvl", r.WordHL(4));
            if (sub == 2) out.Position("h_pha_lvl", o4);
            break;
        case kItemPicture: DecodePicture(r, d, out, video); break;
        case kItemZoom:
            out.Index("Zoom", o4);
            out.ZoomLevel(r.Byte(5));
            break;
        case kItemPeak: out.Position("PEAK_LVL", sub); break;
        case kItemUse:
            if (sub == 0) out.Index("shut_disp_sel", o4);
            if (sub == 1) out.Index("sync_disp_sel", o4);
            break;
        case kItemDelay: {
            const std::string digits = HexWordText(static_cast<std::uint16_t>(r.WordHL(3)));
            out.Text("rg_width", digits.substr(0, 1));
            out.Text("shd_delay", digits.substr(1, 1));
            out.Text("shp_delay", digits.substr(2, 1));
            out.Text("rg_delay", digits.substr(3, 1));
            break;
        }
        case kItemPwmRef: out.Text("pwm_ref", HexByteText(static_cast<std::uint8_t>(sub))); break;
        case kItemBlock: DecodeBlock(r, d, out); break;
        case kItemLensRef: out.Text("lens_ref", std::to_string(static_cast<std::int8_t>(sub))); break;
        default: break;  // 0x0C, 0x36 and the rest are not shown on these pages
    }
    return d;
}

// ---- page handlers ------------------------------------------------------------------

SetupAction SetupReplyAction(const Reply& r, bool setup2) {
    if (r.Status() == kStatusRefused) return SetupAction::Refused;
    if (!r.Accepted()) return SetupAction::ShowError;
    if (r.Item() == kItemReloadRequest) return SetupAction::Reload;
    if (setup2 && r.Item() == kItemPicture && r.Sub() == kPictureAperture && r.Byte(4) == 0) {
        return SetupAction::ReReadBlock6;
    }
    return SetupAction::None;
}

AdjustAction AdjustReplyAction(const Reply& r, const Payload& lastCommand, std::span<const std::int32_t> shadow) {
    AdjustAction a;
    if (!r.Accepted()) {
        a.kind = AdjustAction::Kind::ShowError;
        return a;
    }
    if (lastCommand[1] != kGroupWrite) return a;
    const auto send = [&](int reg) {
        if (static_cast<std::size_t>(reg) >= shadow.size()) return;
        a.kind = AdjustAction::Kind::Send;
        a.command = RegisterWriteCommand(reg, shadow[static_cast<std::size_t>(reg)]);
    };
    if (r.Item() == kItemWriteBack) {
        if (r.Sub() == 0) send(kWriteBackFirst);
        if (r.Sub() == 1) a.kind = AdjustAction::Kind::Reload;
    } else if (r.Item() == kItemRegister) {
        const int reg = r.Sub();
        if (reg >= kWriteBackFirst && reg < kWriteBackLast) send(reg + 1);
        if (reg == kWriteBackLast) a.kind = AdjustAction::Kind::ShowCopyPage;
    }
    return a;
}

// ---- enabling rules ---------------------------------------------------------------------

EnablingInputs EnablingInputsFrom(const std::function<int(std::string_view)>& valueOf) {
    EnablingInputs in;
    in.wb_sel = valueOf("wb_sel") != 0;
    in.Ctitle = valueOf("Ctitle");
    in.Zoom = valueOf("Zoom");
    in.wb_select = valueOf("wb_select");
    in.WB_preset = valueOf("WB_preset");
    in.Lens = valueOf("Lens");
    in.Sync = valueOf("Sync");
    in.AGC_SEL = valueOf("AGC_SEL");
    in.BLC = valueOf("BLC");
    in.BlcPreset = valueOf("BlcPreset") != 0;
    in.MoDetect = valueOf("MoDetect");
    in.MoPre = valueOf("MoPre") != 0;
    in.Freeze = valueOf("Freeze") != 0;
    return in;
}

std::vector<Enabling> EnablingRules(const EnablingInputs& in) {
    std::vector<Enabling> e;
    const auto set = [&](std::string_view c, bool on) { e.push_back({c, on}); };

    for (auto c : {"pre_32", "pre_56", "pre_awc"}) set(c, in.wb_sel);
    set("CName", in.Ctitle == 1);
    set("Ctitlepos", in.Ctitle == 1);
    set("ZoomBar", in.Zoom == 1);
    set("Zoomlvl", in.Zoom == 1);
    switch (in.wb_select) {
        case 0:
            for (auto c : {"AWC", "WB_preset", "Rgain", "BGain"}) set(c, false);
            break;
        case 1:
            set("AWC", true);
            for (auto c : {"WB_preset", "Rgain", "BGain"}) set(c, false);
            break;
        case 2: {
            set("AWC", false);
            set("WB_preset", true);
            const bool fixed = in.WB_preset == 0 || in.WB_preset == 1;
            set("Rgain", !fixed);
            set("BGain", !fixed);
            break;
        }
        default: break;  // no selection: as they are
    }
    set("Shutter", in.Lens == 0);  // no selection counts as "not ALC"
    switch (in.Sync) {
        case 0: set("v_pha_lvl", false); set("h_pha_lvl", false); break;
        case 1: set("v_pha_lvl", true); set("h_pha_lvl", false); break;
        case 2: set("v_pha_lvl", false); set("h_pha_lvl", true); break;
        default: break;
    }
    switch (in.AGC_SEL) {
        case 0: set("AGC_MAX", false); set("AGC_MAN", false); break;
        case 1: set("AGC_MAX", true); set("AGC_MAN", false); break;
        case 2: set("AGC_MAX", false); set("AGC_MAN", true); break;
        default: break;
    }
    if (in.BLC == 0) {
        set("BlcPreset", false);
        set("blc_panel", false);
    } else if (in.BLC == 1) {
        set("BlcPreset", true);
        set("blc_panel", !in.BlcPreset);
    }
    if (in.MoDetect != 0) {  // no selection counts as "on"
        for (auto c : {"MoPre", "MoTime", "MoLv"}) set(c, true);
        set("MoArea2", !in.MoPre);
    } else {
        for (auto c : {"MoPre", "MoTime", "MoLv", "MoArea2"}) set(c, false);
    }
    for (auto c : {"Mirror", "v_rev", "Zoom"}) set(c, !in.Freeze);
    return e;
}

}  // namespace tern::transfer
