#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "camera/model.h"
#include "transfer/Decode.h"

namespace tern::transfer {
namespace {

using Kind = ControlUpdate::Kind;

/// A reply frame from its offsets 1, 2, 3 ...
link::FrameBytes Frame(std::initializer_list<int> offsets) {
    link::FrameBytes f{};
    f[0] = link::STX;
    int i = 1;
    for (int b : offsets) f[static_cast<std::size_t>(i++)] = static_cast<std::uint8_t>(b);
    return f;
}

link::Payload Command(int group, int item = 0, int sub = 0) {
    link::Payload p;
    p[1] = static_cast<std::uint8_t>(group);
    p[2] = static_cast<std::uint8_t>(item);
    p[3] = static_cast<std::uint8_t>(sub);
    return p;
}

const link::Payload kRead = Command(link::kGroupRead);
const link::Payload kWrite = Command(link::kGroupWrite);
constexpr MaskVideo kNtscHigh{};

DecodedReply Decode(std::initializer_list<int> offsets, const link::Payload& last = kRead, MaskVideo video = kNtscHigh) {
    const auto f = Frame(offsets);
    return DecodeReply(link::Reply(f), last, video);
}

ControlUpdate U(const char* c, Kind k, int v) { return {c, k, v, {}}; }
ControlUpdate T(const char* c, std::string t) { return {c, Kind::Text, 0, std::move(t)}; }

/// The last value each control got, by "name/kind".
std::map<std::string, ControlUpdate> Last(const std::vector<ControlUpdate>& updates) {
    std::map<std::string, ControlUpdate> m;
    for (const auto& u : updates) m[u.control + "/" + std::to_string(static_cast<int>(u.kind))] = u;
    return m;
}

std::optional<ControlUpdate> Find(const DecodedReply& d, const std::string& control, Kind kind) {
    for (const auto& u : d.updates) {
        if (u.control == control && u.kind == kind) return u;
    }
    return std::nullopt;
}

// ---- single items ------------------------------------------------------------------------

struct ItemRow {
    const char* name;
    std::vector<int> reply;
    std::vector<ControlUpdate> expected;
};
std::ostream& operator<<(std::ostream& os, const ItemRow& r) { return os << r.name; }
class ItemDecoding : public ::testing::TestWithParam<ItemRow> {};

TEST_P(ItemDecoding, SetsTheNamedControls) {
    link::FrameBytes f{};
    for (std::size_t i = 0; i < GetParam().reply.size(); ++i) f[i + 1] = static_cast<std::uint8_t>(GetParam().reply[i]);
    const DecodedReply d = DecodeReply(link::Reply(f), kRead, kNtscHigh);
    EXPECT_EQ(d.updates, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Items, ItemDecoding,
    ::testing::Values(
        ItemRow{"title_on", {0xA0, 0x10, 0x00, 0x01}, {U("Ctitle", Kind::Index, 1)}},
        ItemRow{"title_position", {0xA0, 0x10, 0x03, 0x02}, {U("Ctitlepos", Kind::Index, 2)}},
        ItemRow{"title_sub_2_ignored", {0xA0, 0x10, 0x02, 0x02}, {}},
        ItemRow{"sense_up_in_o3", {0xA0, 0x11, 0x05}, {U("SenseUp", Kind::Index, 5)}},
        ItemRow{"lens", {0xA0, 0x12, 0x01}, {U("Lens", Kind::Index, 1)}},
        ItemRow{"shutter", {0xA0, 0x15, 0x0F}, {U("Shutter", Kind::Index, 15)}},
        ItemRow{"elc_level", {0xA0, 0x17, 0x08}, {U("ELCLVL", Kind::Position, 8)}},
        ItemRow{"blc", {0xA0, 0x18, 0x00, 0x01}, {U("BLC", Kind::Index, 1)}},
        ItemRow{"blc_preset_nonzero_checks", {0xA0, 0x18, 0x01, 0x05}, {U("BlcPreset", Kind::Check, 1)}},
        ItemRow{"agc_mode", {0xA0, 0x1A, 0x00, 0x02}, {U("AGC_SEL", Kind::Index, 2)}},
        ItemRow{"agc_max", {0xA0, 0x1A, 0x01, 0x07}, {U("AGC_MAX", Kind::Position, 7)}},
        ItemRow{"agc_manual", {0xA0, 0x1A, 0x02, 0x03}, {U("AGC_MAN", Kind::Position, 3)}},
        ItemRow{"wb_mode_atw_checks_wb_sel", {0xA0, 0x1B, 0x00, 0x00},
                {U("wb_sel", Kind::Check, 1), U("wb_select", Kind::Index, 0)}},
        ItemRow{"wb_mode_manual_unchecks_wb_sel", {0xA0, 0x1B, 0x00, 0x02},
                {U("wb_sel", Kind::Check, 0), U("wb_select", Kind::Index, 2)}},
        ItemRow{"wb_preset", {0xA0, 0x1B, 0x01, 0x02}, {U("WB_preset", Kind::Index, 2)}},
        ItemRow{"r_gain", {0xA0, 0x1B, 0x02, 0x06}, {U("Rgain", Kind::Position, 6)}},
        ItemRow{"b_gain", {0xA0, 0x1B, 0x03, 0x02}, {U("BGain", Kind::Position, 2)}},
        ItemRow{"sync", {0xA0, 0x1C, 0x00, 0x01}, {U("Sync", Kind::Index, 1)}},
        ItemRow{"v_phase_word_be", {0xA0, 0x1C, 0x01, 0x01, 0x2C}, {U("v_pha_lvl", Kind::Position, 300)}},
        ItemRow{"h_phase", {0xA0, 0x1C, 0x02, 0x2C}, {U("h_pha_lvl", Kind::Position, 44)}},
        ItemRow{"mask_c_on", {0xA0, 0x1D, 0x02, 0x01}, {U("MaskC", Kind::Check, 1)}},
        ItemRow{"nega", {0xA0, 0x1D, 0x04, 0x01}, {U("Nega", Kind::Check, 1)}},
        ItemRow{"mirror", {0xA0, 0x1D, 0x05, 0x00}, {U("Mirror", Kind::Check, 0)}},
        ItemRow{"priority", {0xA0, 0x1D, 0x06, 0x01}, {U("Priority", Kind::Index, 1)}},
        ItemRow{"picture_sub_7_not_read_here", {0xA0, 0x1D, 0x07, 0x01}, {}},
        ItemRow{"zoom_whole_group", {0xA0, 0x1F, 0x00, 0x01, 0x80},
                {U("Zoom", Kind::Index, 1), U("ZoomBar", Kind::Position, 0x80), T("Zoomlvl", "80")}},
        ItemRow{"peak", {0xA0, 0x22, 0x04}, {U("PEAK_LVL", Kind::Position, 4)}},
        ItemRow{"shutter_use", {0xA0, 0x37, 0x00, 0x01}, {U("shut_disp_sel", Kind::Index, 1)}},
        ItemRow{"sync_use", {0xA0, 0x37, 0x01, 0x00}, {U("sync_disp_sel", Kind::Index, 0)}},
        ItemRow{"use_sub_4_ignored", {0xA0, 0x37, 0x04, 0x00}, {}},
        ItemRow{"delay_nibbles", {0xA0, 0x42, 0x12, 0xAB},
                {T("rg_width", "1"), T("shd_delay", "2"), T("shp_delay", "A"), T("rg_delay", "B")}},
        ItemRow{"pwm_ref_hex2", {0xA0, 0x43, 0x0B}, {T("pwm_ref", "0B")}},
        ItemRow{"lens_ref_signed", {0xA0, 0x46, 0xFF}, {T("lens_ref", "-1")}},
        ItemRow{"lens_ref_lowest", {0xA0, 0x46, 0x80}, {T("lens_ref", "-128")}},
        ItemRow{"lens_ref_positive", {0xA0, 0x46, 0x7F}, {T("lens_ref", "127")}},
        ItemRow{"memory_word_not_here", {0xA0, 0x0C, 0x00, 0x10, 0x12, 0x34}, {}},
        ItemRow{"item_36_ignored", {0xA0, 0x36, 0x00, 0x01}, {}},
        ItemRow{"item_above_46_ignored", {0xA0, 0x47, 0x00, 0x01}, {}}));

TEST(DecodeReply, OnlyAcceptedRepliesToReadsCarrySettings) {
    EXPECT_TRUE(Decode({0xA0, 0x1A, 0x01, 0x07}, kWrite).updates.empty());  // a write's echo
    EXPECT_TRUE(Decode({0xA8, 0x1A, 0x01, 0x07}).updates.empty());
    EXPECT_TRUE(Decode({0xE1, 0x1A, 0x01, 0x07}).updates.empty());
    EXPECT_FALSE(Decode({0xA0, 0x0A, 0x01, 0x40, 0x00}, kWrite).reg.has_value());
}

// ---- registers ---------------------------------------------------------------------------

struct RegRow {
    const char* name;
    int reg;
    int word;
    std::vector<ControlUpdate> expected;
};
std::ostream& operator<<(std::ostream& os, const RegRow& r) { return os << r.name; }
class RegisterDecoding : public ::testing::TestWithParam<RegRow> {};

TEST_P(RegisterDecoding, StoresTheWordAndSetsTheControls) {
    const RegRow& r = GetParam();
    for (int item : {0x0A, 0x0B}) {
        const DecodedReply d = Decode({0xA0, item, r.reg, r.word >> 8, r.word & 0xFF});
        ASSERT_TRUE(d.reg.has_value());
        EXPECT_EQ(*d.reg, (RegisterValue{r.reg, r.word}));
        EXPECT_EQ(d.updates, r.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Registers, RegisterDecoding,
    ::testing::Values(RegRow{"reg1_bit14_high", 1, 0x4000, {T("Resolution", "Hi-Resolution")}},
                      RegRow{"reg1_all_but_bit14_low", 1, 0xBFFF, {T("Resolution", "Lo-Resolution")}},
                      RegRow{"reg64_bit0_pal", 64, 0x0001, {T("TV", "PAL")}},
                      RegRow{"reg64_ntsc", 64, 0xFFFE, {T("TV", "NTSC")}},
                      RegRow{"reg44_minus_5", 44, 0x0105, {U("RYP", Kind::Position, -5)}},
                      RegRow{"reg44_high_bits_ignored", 44, 0xFF05, {U("RYP", Kind::Position, -5)}},
                      RegRow{"reg44_plus_5", 44, 0xFE05, {U("RYP", Kind::Position, 5)}},
                      RegRow{"reg44_255", 44, 0x00FF, {U("RYP", Kind::Position, 255)}},
                      RegRow{"reg45_byp", 45, 0x0110, {U("BYP", Kind::Position, -16)}},
                      RegRow{"reg46_ryn", 46, 0x0A10, {U("RYN", Kind::Position, 16)}},
                      RegRow{"reg47_byn", 47, 0x0101, {U("BYN", Kind::Position, -1)}},
                      RegRow{"reg43_only_stored", 43, 0x1234, {}},
                      RegRow{"reg255_only_stored", 255, 0xFFFF, {}}));

// ---- camera title ------------------------------------------------------------------------

TEST(TitleDecoding, ItemStopsAtTheFirstBlankAndBlockKeepsTrailingBlanks) {
    const auto item = Decode({0xA0, 0x10, 0x01, 0x13, 0x11, 0x1D, 0x15, 0x22, 0x11, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E});
    EXPECT_EQ(item.updates, (std::vector{T("CName", "CAMERA")}));
    const auto block = Decode({0xA0, 0x45, 0x00, 0x13, 0x11, 0x1D, 0x15, 0x22, 0x11, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E});
    EXPECT_EQ(block.updates, (std::vector{T("CName", "CAMERA      ")}));
}

TEST(TitleDecoding, TwelveBlanksEmptyTheTitleEitherWay) {
    const auto item = Decode({0xA0, 0x10, 0x01, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E});
    const auto block = Decode({0xA0, 0x45, 0x00, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E});
    EXPECT_EQ(item.updates, (std::vector{T("CName", "")}));
    EXPECT_EQ(block.updates, (std::vector{T("CName", "")}));
}

TEST(TitleDecoding, AmbiguousCodesAndBlanksInside) {
    const std::uint8_t codes[12] = {0x00, 0x0B, 0x0C, 0x6C, 0x7E, 0x1F, 0x3F, 0x50, 0x6E, 0x6D, 0x6B, 0x0A};
    EXPECT_EQ(DecodeTitle(codes, false), "0()* `@?,/;:");
    EXPECT_EQ(DecodeTitle(codes, true), "0()*");
}

TEST(TitleDecoding, ACodeNoCharacterMapsToEndsTheText) {
    const std::uint8_t codes[12] = {0x11, 0x12, 0x0F, 0x13, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E};
    EXPECT_EQ(DecodeTitle(codes, true), "AB");
    EXPECT_EQ(DecodeTitle(codes, false), "AB");
    const std::uint8_t first[12] = {0xFF, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11};
    EXPECT_EQ(DecodeTitle(first, false), "");
}

TEST(TitleDecoding, ATitleSurvivesTheRoundTripUpToItsTwins) {
    const std::u32string sent = U"Cam-01 (OK)";
    const auto codes = TitleCodes(sent);
    EXPECT_EQ(DecodeTitle(codes, true), "Cam-01");
    EXPECT_EQ(DecodeTitle(codes, false), "Cam-01 (0K) ");  // the letter O reads back as the digit
}

// ---- mask rectangle ------------------------------------------------------------------------

TEST(MaskReplyDecoding, NtscLowResolutionRectangleInWindowPixels) {
    const auto d = Decode({0xA0, 0x1D, 0x10, 100, 43, 200, 86}, kRead, MaskVideo{false, true});
    ASSERT_TRUE(d.mask.has_value());
    EXPECT_EQ(d.mask->mask, 0);
    EXPECT_EQ(d.mask->camera, (CameraRect{100, 43, 200, 86}));
    EXPECT_EQ(d.mask->window, (WindowRect{{147, 50}, {294, 100}}));
    EXPECT_TRUE(d.updates.empty());
}

TEST(MaskReplyDecoding, PalHighResolutionIsUnchangedAndMaskDIsThree) {
    const auto d = Decode({0xA0, 0x1D, 0x13, 11, 1, 196, 141}, kRead, MaskVideo{true, false});
    ASSERT_TRUE(d.mask.has_value());
    EXPECT_EQ(d.mask->mask, 3);
    EXPECT_EQ(d.mask->window, (WindowRect{{11, 1}, {196, 141}}));
    EXPECT_FALSE(Decode({0xA0, 0x1D, 0x14, 1, 1, 1, 1}).mask.has_value());  // gamma, not a mask
}

// ---- blocks ------------------------------------------------------------------------------------

TEST(BlockDecoding, Block1) {
    const auto d = Decode({0xA0, 0x45, 0x01, 4, 2, 1, 7, 0x40, 9, 3, 6, 0x06, 0x01, 0x83, 0x00});
    EXPECT_EQ(d.updates, (std::vector{U("PEAK_LVL", Kind::Position, 4), U("Ctitlepos", Kind::Index, 2),
                                      U("wb_select", Kind::Index, 1), U("SenseUp", Kind::Index, 7),
                                      U("ZoomBar", Kind::Position, 0x40), T("Zoomlvl", "40"),
                                      U("Shutter", Kind::Index, 9), U("AGC_MAN", Kind::Position, 3),
                                      U("AGC_MAX", Kind::Position, 6), U("v_pha_lvl", Kind::Maximum, 0x0106),
                                      U("v_pha_lvl", Kind::Position, 0x0083)}));
}

TEST(BlockDecoding, Block2CarriesTheBlcAreaRowByRow) {
    const auto d = Decode({0xA0, 0x45, 0x02, 0x01, 0x00, 0x3C, 0x00, 0x00, 0x80, 0xEE, 2, 5, 6, 1, 1});
    ASSERT_EQ(d.updates.size(), 48u + 5u);
    const auto last = Last(d.updates);
    for (int k = 1; k <= 48; ++k) {
        const bool on = k == 1 || (k >= 19 && k <= 22) || k == 48;
        EXPECT_EQ(last.at(GridCellName(Control::BLCArea, k) + "/" + std::to_string(static_cast<int>(Kind::Check))).value,
                  on ? 1 : 0)
            << "cell " << k;
    }
    EXPECT_EQ(Find(d, "WB_preset", Kind::Index)->value, 2);
    EXPECT_EQ(Find(d, "BGain", Kind::Position)->value, 5);
    EXPECT_EQ(Find(d, "Rgain", Kind::Position)->value, 6);
    EXPECT_EQ(Find(d, "Zoom", Kind::Index)->value, 1);
    EXPECT_EQ(Find(d, "Ctitle", Kind::Index)->value, 1);
}

TEST(BlockDecoding, Block3) {
    const auto d = Decode({0xA0, 0x45, 0x03, 1, 1, 0, 2, 2, 1, 0, 1, 1, 0, 0, 7});
    EXPECT_EQ(d.updates, (std::vector{U("Lens", Kind::Index, 1), U("BLC", Kind::Index, 1), U("BlcPreset", Kind::Check, 0),
                                      U("AGC_SEL", Kind::Index, 2), U("Sync", Kind::Index, 2), U("Nega", Kind::Check, 1),
                                      U("Mirror", Kind::Check, 0), U("Priority", Kind::Index, 1),
                                      U("MaskA", Kind::Check, 1), U("MaskB", Kind::Check, 0), U("MaskC", Kind::Check, 0),
                                      U("MaskD", Kind::Check, 1)}));
    EXPECT_FALSE(d.releasePanelLock);
}

TEST(BlockDecoding, Block4ShowsTheGroupsAndReleasesTheLock) {
    const auto d = Decode({0xA0, 0x45, 0x04, 5, 1, 1, 0, 0xC8, 0x64, 0xEE, 0xEE, 0, 1, 1});
    EXPECT_EQ(d.updates,
              (std::vector{U("ELCLVL", Kind::Position, 5), U("v_rev", Kind::Check, 1), U("Frz_type", Kind::Index, 1),
                           U("Freeze", Kind::Check, 0), U("h_pha_lvl", Kind::Maximum, 0xC8),
                           U("h_pha_lvl", Kind::Position, 0x64), U("shut_disp_sel", Kind::Index, 0),
                           U("sync_disp_sel", Kind::Index, 1), U("Peak_disp_sel", Kind::Index, 1),
                           U("sens_Grp", Kind::Visible, 1), U("Sync_grp", Kind::Visible, 0),
                           U("Shutter", Kind::Visible, 1)}));
    EXPECT_TRUE(d.releasePanelLock);
}

TEST(BlockDecoding, Block4NeverHidesTheShutter) {
    const auto d = Decode({0xA0, 0x45, 0x04, 5, 1, 1, 0, 0xC8, 0x64, 0, 0, 1, 0, 0});
    EXPECT_FALSE(Find(d, "Shutter", Kind::Visible).has_value());
    EXPECT_EQ(Find(d, "Sync_grp", Kind::Visible)->value, 1);
}

TEST(BlockDecoding, Block5MotionThenGamma) {
    const auto d = Decode({0xA0, 0x45, 0x05, 1, 2, 6, 0x01, 0, 0, 0, 0, 0x80, 2, 1});
    ASSERT_EQ(d.updates.size(), 3u + 48u + 2u);
    EXPECT_EQ(d.updates[0], U("MoDetect", Kind::Index, 1));
    EXPECT_EQ(d.updates[1], U("MoPre", Kind::Check, 1));  // any non-zero value checks it
    EXPECT_EQ(d.updates[2], U("MoLv", Kind::Position, 6));
    EXPECT_EQ(d.updates[3], U("MoCheck01", Kind::Check, 1));
    EXPECT_EQ(d.updates[3 + 47], U("MoCheck48", Kind::Check, 1));
    EXPECT_EQ(d.updates[3 + 16], U("MoCheck17", Kind::Check, 0));
    EXPECT_EQ(d.updates[51], U("MoTime", Kind::Index, 2));
    EXPECT_EQ(d.updates[52], U("gamma", Kind::Index, 1));
}

TEST(BlockDecoding, Block6UnderTheLoadGuard) {
    const auto d = Decode({0xA0, 0x45, 0x06, 18, 0, 9, 1});
    EXPECT_TRUE(d.loadGuard);
    EXPECT_EQ(d.updates, (std::vector{U("enh_h", Kind::Position, 18), U("enh_v", Kind::Position, 0),
                                      U("knee_lvl", Kind::Position, 9), U("color_bar", Kind::Check, 1)}));
    EXPECT_FALSE(Decode({0xA0, 0x45, 0x05}).loadGuard);
    EXPECT_TRUE(Decode({0xA0, 0x45, 0x07, 1, 2, 3}).updates.empty());
}

// ---- the decoder against the virtual camera ------------------------------------------------------

class CameraRoundTrip : public ::testing::Test {
protected:
    camera::CameraModel cam;

    DecodedReply Ask(const link::Payload& p) {
        const camera::Answer a = cam.Handle(p);
        link::FrameBytes f{};
        for (std::size_t i = 0; i < a.reply.size(); ++i) f[i + 1] = a.reply[i];
        return DecodeReply(link::Reply(f), p, kNtscHigh);
    }
    void Send(const SettingCommand& c) { ASSERT_EQ(cam.Handle(c.payload).reply[0], link::kStatusAccepted); }
};

struct Setting {
    Control control;
    int value;
    const char* shown;  // the control the value comes back in
    Kind kind;
};

TEST_F(CameraRoundTrip, WhatTheCatalogueWritesTheBlocksAndItemsReadBack) {
    const Setting settings[] = {
        {Control::Ctitle, 1, "Ctitle", Kind::Index},       {Control::Ctitlepos, 3, "Ctitlepos", Kind::Index},
        {Control::SenseUp, 11, "SenseUp", Kind::Index},    {Control::Lens, 1, "Lens", Kind::Index},
        {Control::Shutter, 14, "Shutter", Kind::Index},    {Control::ELCLVL, 7, "ELCLVL", Kind::Position},
        {Control::BLC, 1, "BLC", Kind::Index},             {Control::BlcPreset, 0, "BlcPreset", Kind::Check},
        {Control::AGC_SEL, 2, "AGC_SEL", Kind::Index},     {Control::AGC_MAX, 5, "AGC_MAX", Kind::Position},
        {Control::AGC_MAN, 2, "AGC_MAN", Kind::Position},  {Control::wb_select, 2, "wb_select", Kind::Index},
        {Control::WB_preset, 2, "WB_preset", Kind::Index}, {Control::Rgain, 7, "Rgain", Kind::Position},
        {Control::BGain, 1, "BGain", Kind::Position},      {Control::Sync, 2, "Sync", Kind::Index},
        {Control::v_pha_lvl, 0x0123, "v_pha_lvl", Kind::Position},
        {Control::h_pha_lvl, 0x33, "h_pha_lvl", Kind::Position},
        {Control::MaskB, 1, "MaskB", Kind::Check},         {Control::Nega, 1, "Nega", Kind::Check},
        {Control::Mirror, 1, "Mirror", Kind::Check},       {Control::Priority, 1, "Priority", Kind::Index},
        {Control::v_rev, 1, "v_rev", Kind::Check},         {Control::Freeze, 1, "Freeze", Kind::Check},
        {Control::Frz_type, 1, "Frz_type", Kind::Index},   {Control::Zoom, 1, "Zoom", Kind::Index},
        {Control::PEAK_LVL, 3, "PEAK_LVL", Kind::Position}, {Control::gamma, 1, "gamma", Kind::Index},
        {Control::enh_h, 17, "enh_h", Kind::Position},     {Control::enh_v, 2, "enh_v", Kind::Position},
        {Control::knee_lvl, 15, "knee_lvl", Kind::Position}, {Control::color_bar, 1, "color_bar", Kind::Check},
        {Control::MoDetect, 1, "MoDetect", Kind::Index},   {Control::MoPre, 0, "MoPre", Kind::Check},
        {Control::MoLv, 8, "MoLv", Kind::Position},        {Control::MoTime, 2, "MoTime", Kind::Index},
        {Control::shut_disp_sel, 1, "shut_disp_sel", Kind::Index},
        {Control::sync_disp_sel, 1, "sync_disp_sel", Kind::Index},
        {Control::Peak_disp_sel, 1, "Peak_disp_sel", Kind::Index},
    };
    for (const Setting& s : settings) Send(*CommandFor(s.control, s.value));
    Send(TitleCommand(U"Gate 3"));
    GridCells blc{}, mo{};
    blc[8] = blc[40] = true;
    mo[0] = mo[47] = mo[16] = true;
    Send(GridCommand(Control::BLCArea, blc));
    Send(GridCommand(Control::MoArea, mo));
    Send(*ZoomLevelCommand("5C", true));

    std::vector<ControlUpdate> fromBlocks;
    for (int b = 0; b <= 6; ++b) {
        const auto d = Ask(BlockReadCommand(b).payload);
        fromBlocks.insert(fromBlocks.end(), d.updates.begin(), d.updates.end());
    }
    const auto shown = Last(fromBlocks);
    for (const Setting& s : settings) {
        const auto it = shown.find(std::string(s.shown) + "/" + std::to_string(static_cast<int>(s.kind)));
        ASSERT_NE(it, shown.end()) << s.shown;
        EXPECT_EQ(it->second.value, s.value) << s.shown;
    }
    EXPECT_EQ(shown.at("CName/4").text, "Gate 3      ");
    EXPECT_EQ(shown.at("ZoomBar/1").value, 0x5C);
    EXPECT_EQ(shown.at("Zoomlvl/4").text, "5C");
    for (int k = 1; k <= 48; ++k) {
        EXPECT_EQ(shown.at(GridCellName(Control::BLCArea, k) + "/3").value, blc[static_cast<std::size_t>(k - 1)] ? 1 : 0);
        EXPECT_EQ(shown.at(GridCellName(Control::MoArea, k) + "/3").value, mo[static_cast<std::size_t>(k - 1)] ? 1 : 0);
    }

    // The single items read back the same values as the blocks.
    const auto item = [&](int itemCode, int sub, bool hasSub) {
        link::Payload p = Command(link::kGroupRead, itemCode, hasSub ? sub : 0);
        return Ask(p).updates;
    };
    EXPECT_EQ(item(0x1A, 1, true), (std::vector{U("AGC_MAX", Kind::Position, 5)}));
    EXPECT_EQ(item(0x11, 0, false), (std::vector{U("SenseUp", Kind::Index, 11)}));
    EXPECT_EQ(item(0x1C, 1, true), (std::vector{U("v_pha_lvl", Kind::Position, 0x0123)}));
    EXPECT_EQ(item(0x10, 1, true), (std::vector{T("CName", "Gate")}));
    EXPECT_EQ(item(0x1F, 0, true),
              (std::vector{U("Zoom", Kind::Index, 1), U("ZoomBar", Kind::Position, 0x5C), T("Zoomlvl", "5C")}));
    EXPECT_EQ(item(0x19, 0, false).at(8), U("BLCCheck09", Kind::Check, 1));
}

TEST_F(CameraRoundTrip, MaskDelayPwmAndHueRegisters) {
    Send(*MaskWriteCommand(2, {20, 30, 100, 90}));
    const auto m = Ask(MaskReadCommand(2)->payload);
    ASSERT_TRUE(m.mask.has_value());
    EXPECT_EQ(m.mask->mask, 2);
    EXPECT_EQ(m.mask->camera, (CameraRect{20, 30, 100, 90}));

    Send(*DelayCommand("1", "2", "A", "B"));
    EXPECT_EQ(Ask(Command(link::kGroupRead, 0x42)).updates,
              (std::vector{T("rg_width", "1"), T("shd_delay", "2"), T("shp_delay", "A"), T("rg_delay", "B")}));
    Send(*PwmRefCommand("9c"));
    EXPECT_EQ(Ask(Command(link::kGroupRead, 0x43)).updates, (std::vector{T("pwm_ref", "9C")}));

    Send(*HueCommand(Control::RYN, HueWord(0x0A00, -16)));
    const auto r = Ask(Command(link::kGroupRead, 0x0B, 0x2E));
    EXPECT_EQ(r.reg, (RegisterValue{0x2E, 0x0B10}));
    EXPECT_EQ(r.updates, (std::vector{U("RYN", Kind::Position, -16)}));
}

// ---- page handlers ---------------------------------------------------------------------------

struct SetupRow {
    const char* name;
    std::vector<int> reply;
    SetupAction setup1;
    SetupAction setup2;
};
std::ostream& operator<<(std::ostream& os, const SetupRow& r) { return os << r.name; }
class SetupReplies : public ::testing::TestWithParam<SetupRow> {};

TEST_P(SetupReplies, Action) {
    link::FrameBytes f{};
    for (std::size_t i = 0; i < GetParam().reply.size(); ++i) f[i + 1] = static_cast<std::uint8_t>(GetParam().reply[i]);
    EXPECT_EQ(SetupReplyAction(link::Reply(f), false), GetParam().setup1);
    EXPECT_EQ(SetupReplyAction(link::Reply(f), true), GetParam().setup2);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, SetupReplies,
    ::testing::Values(
        SetupRow{"reload_request", {0xA0, 0x21}, SetupAction::Reload, SetupAction::Reload},
        SetupRow{"aperture_preset_rereads_block6", {0xA0, 0x1D, 0x15, 0x00, 0x01}, SetupAction::None,
                 SetupAction::ReReadBlock6},
        SetupRow{"aperture_gain_echo", {0xA0, 0x1D, 0x15, 0x01, 0x05}, SetupAction::None, SetupAction::None},
        SetupRow{"save_echo", {0xA0, 0x1E}, SetupAction::None, SetupAction::None},
        SetupRow{"refused", {0xA8, 0x1C, 0x00, 0x02}, SetupAction::Refused, SetupAction::Refused},
        SetupRow{"error", {0xE1, 0x1C}, SetupAction::ShowError, SetupAction::ShowError},
        SetupRow{"zero_status_is_an_error", {0x00}, SetupAction::ShowError, SetupAction::ShowError}));

TEST(AdjustReplies, WriteBackSendsRegisters43To47FromTheShadowThenShowsCopy) {
    std::vector<std::int32_t> shadow(256, 0);
    for (int r = 43; r <= 47; ++r) shadow[static_cast<std::size_t>(r)] = 0x0100 * r + r;
    const link::Payload start = Command(link::kGroupWrite, 0x41, 0x00);
    auto f = Frame({0xA0, 0x41, 0x00});
    AdjustAction a = AdjustReplyAction(link::Reply(f), start, shadow);
    std::vector<int> sent;
    while (a.kind == AdjustAction::Kind::Send) {
        const auto& p = a.command.payload;
        ASSERT_EQ(a.command.n, 5);
        ASSERT_EQ(p[1], 0x21);
        ASSERT_EQ(p[2], 0x0A);
        EXPECT_EQ(p[4] * 256 + p[5], shadow[p[3]]);
        sent.push_back(p[3]);
        f = Frame({0xA0, 0x0A, p[3], p[4], p[5]});  // the camera echoes the write
        a = AdjustReplyAction(link::Reply(f), a.command.payload, shadow);
        ASSERT_LT(sent.size(), 6u);
    }
    EXPECT_EQ(sent, (std::vector{43, 44, 45, 46, 47}));
    EXPECT_EQ(a.kind, AdjustAction::Kind::ShowCopyPage);
}

TEST(AdjustReplies, OtherRepliesOnTheAdjustPage) {
    const std::vector<std::int32_t> shadow(256, 0);
    const auto act = [&](std::initializer_list<int> reply, const link::Payload& last) {
        const auto f = Frame(reply);
        return AdjustReplyAction(link::Reply(f), last, shadow).kind;
    };
    EXPECT_EQ(act({0xA0, 0x41, 0x01}, kWrite), AdjustAction::Kind::Reload);
    EXPECT_EQ(act({0xA0, 0x41, 0x02}, kWrite), AdjustAction::Kind::None);
    EXPECT_EQ(act({0xA0, 0x0A, 0x2A, 0, 0}, kWrite), AdjustAction::Kind::None);
    EXPECT_EQ(act({0xA0, 0x0A, 0x30, 0, 0}, kWrite), AdjustAction::Kind::None);
    EXPECT_EQ(act({0xA0, 0x0B, 0x2B, 0, 0}, kWrite), AdjustAction::Kind::None);  // 0B is not part of it
    EXPECT_EQ(act({0xA0, 0x0A, 0x2B, 0, 0}, kRead), AdjustAction::Kind::None);   // a read's answer
    EXPECT_EQ(act({0xA8, 0x1B}, kWrite), AdjustAction::Kind::ShowError);
    EXPECT_EQ(act({0xE0, 0x0A}, kRead), AdjustAction::Kind::ShowError);
    // A shadow too short for the register sends nothing rather than reading past it.
    const std::vector<std::int32_t> small(10, 0);
    const auto f = Frame({0xA0, 0x41, 0x00});
    EXPECT_EQ(AdjustReplyAction(link::Reply(f), kWrite, small).kind, AdjustAction::Kind::None);
}

// ---- enabling rules -------------------------------------------------------------------------------

struct EnableRow {
    const char* name;
    EnablingInputs in;
    std::map<std::string, std::optional<bool>> expected;  // nullopt: left as it is
};
std::ostream& operator<<(std::ostream& os, const EnableRow& r) { return os << r.name; }
class EnablingTable : public ::testing::TestWithParam<EnableRow> {};

TEST_P(EnablingTable, Effects) {
    std::map<std::string, bool> got;
    for (const Enabling& e : EnablingRules(GetParam().in)) got[std::string(e.control)] = e.enabled;
    for (const auto& [control, want] : GetParam().expected) {
        const auto it = got.find(control);
        if (!want) {
            EXPECT_EQ(it, got.end()) << control << " should be left as it is";
        } else {
            ASSERT_NE(it, got.end()) << control;
            EXPECT_EQ(it->second, *want) << control;
        }
    }
}

EnablingInputs With(auto&& f) {
    EnablingInputs in;
    f(in);
    return in;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, EnablingTable,
    ::testing::Values(
        EnableRow{"wb_sel_checked", With([](auto& i) { i.wb_sel = true; }),
                  {{"pre_32", true}, {"pre_56", true}, {"pre_awc", true}}},
        EnableRow{"wb_sel_unchecked", With([](auto& i) { i.wb_sel = false; }),
                  {{"pre_32", false}, {"pre_56", false}, {"pre_awc", false}}},
        EnableRow{"title_on", With([](auto& i) { i.Ctitle = 1; }), {{"CName", true}, {"Ctitlepos", true}}},
        EnableRow{"title_off", With([](auto& i) { i.Ctitle = 0; }), {{"CName", false}, {"Ctitlepos", false}}},
        EnableRow{"zoom_on", With([](auto& i) { i.Zoom = 1; }), {{"ZoomBar", true}, {"Zoomlvl", true}}},
        EnableRow{"zoom_none", With([](auto& i) { i.Zoom = -1; }), {{"ZoomBar", false}, {"Zoomlvl", false}}},
        EnableRow{"atw", With([](auto& i) { i.wb_select = 0; }),
                  {{"AWC", false}, {"WB_preset", false}, {"Rgain", false}, {"BGain", false}}},
        EnableRow{"awc", With([](auto& i) { i.wb_select = 1; }),
                  {{"AWC", true}, {"WB_preset", false}, {"Rgain", false}, {"BGain", false}}},
        EnableRow{"manual_3200", With([](auto& i) { i.wb_select = 2; i.WB_preset = 0; }),
                  {{"AWC", false}, {"WB_preset", true}, {"Rgain", false}, {"BGain", false}}},
        EnableRow{"manual_5600", With([](auto& i) { i.wb_select = 2; i.WB_preset = 1; }),
                  {{"Rgain", false}, {"BGain", false}}},
        EnableRow{"manual_user", With([](auto& i) { i.wb_select = 2; i.WB_preset = 2; }),
                  {{"Rgain", true}, {"BGain", true}}},
        EnableRow{"manual_no_preset", With([](auto& i) { i.wb_select = 2; i.WB_preset = -1; }),
                  {{"Rgain", true}, {"BGain", true}}},
        EnableRow{"wb_no_selection", With([](auto& i) { i.wb_select = -1; }),
                  {{"AWC", std::nullopt}, {"WB_preset", std::nullopt}, {"Rgain", std::nullopt}, {"BGain", std::nullopt}}},
        EnableRow{"alc", With([](auto& i) { i.Lens = 0; }), {{"Shutter", true}}},
        EnableRow{"elc", With([](auto& i) { i.Lens = 1; }), {{"Shutter", false}}},
        EnableRow{"lens_no_selection_disables", With([](auto& i) { i.Lens = -1; }), {{"Shutter", false}}},
        EnableRow{"sync_int", With([](auto& i) { i.Sync = 0; }), {{"v_pha_lvl", false}, {"h_pha_lvl", false}}},
        EnableRow{"sync_line", With([](auto& i) { i.Sync = 1; }), {{"v_pha_lvl", true}, {"h_pha_lvl", false}}},
        EnableRow{"sync_vbs", With([](auto& i) { i.Sync = 2; }), {{"v_pha_lvl", false}, {"h_pha_lvl", true}}},
        EnableRow{"sync_no_selection", With([](auto& i) { i.Sync = -1; }),
                  {{"v_pha_lvl", std::nullopt}, {"h_pha_lvl", std::nullopt}}},
        EnableRow{"agc_off", With([](auto& i) { i.AGC_SEL = 0; }), {{"AGC_MAX", false}, {"AGC_MAN", false}}},
        EnableRow{"agc_on", With([](auto& i) { i.AGC_SEL = 1; }), {{"AGC_MAX", true}, {"AGC_MAN", false}}},
        EnableRow{"agc_manual", With([](auto& i) { i.AGC_SEL = 2; }), {{"AGC_MAX", false}, {"AGC_MAN", true}}},
        EnableRow{"agc_no_selection", With([](auto& i) { i.AGC_SEL = -1; }),
                  {{"AGC_MAX", std::nullopt}, {"AGC_MAN", std::nullopt}}},
        EnableRow{"blc_off", With([](auto& i) { i.BLC = 0; i.BlcPreset = false; }),
                  {{"BlcPreset", false}, {"blc_panel", false}}},
        EnableRow{"blc_on_preset", With([](auto& i) { i.BLC = 1; i.BlcPreset = true; }),
                  {{"BlcPreset", true}, {"blc_panel", false}}},
        EnableRow{"blc_on_own_area", With([](auto& i) { i.BLC = 1; i.BlcPreset = false; }),
                  {{"BlcPreset", true}, {"blc_panel", true}}},
        EnableRow{"blc_no_selection", With([](auto& i) { i.BLC = -1; }),
                  {{"BlcPreset", std::nullopt}, {"blc_panel", std::nullopt}}},
        EnableRow{"motion_on_own_area", With([](auto& i) { i.MoDetect = 1; i.MoPre = false; }),
                  {{"MoPre", true}, {"MoTime", true}, {"MoLv", true}, {"MoArea2", true}}},
        EnableRow{"motion_on_preset", With([](auto& i) { i.MoDetect = 1; i.MoPre = true; }),
                  {{"MoPre", true}, {"MoArea2", false}}},
        EnableRow{"motion_no_selection_counts_as_on", With([](auto& i) { i.MoDetect = -1; }),
                  {{"MoPre", true}, {"MoTime", true}, {"MoLv", true}, {"MoArea2", true}}},
        EnableRow{"motion_off", With([](auto& i) { i.MoDetect = 0; i.MoPre = false; }),
                  {{"MoPre", false}, {"MoTime", false}, {"MoLv", false}, {"MoArea2", false}}},
        EnableRow{"freeze", With([](auto& i) { i.Freeze = true; }), {{"Mirror", false}, {"v_rev", false}, {"Zoom", false}}},
        EnableRow{"no_freeze", With([](auto& i) { i.Freeze = false; }), {{"Mirror", true}, {"v_rev", true}, {"Zoom", true}}}));

TEST(Enabling, InputsReadByObjectName) {
    const std::map<std::string_view, int> values = {
        {"wb_sel", 1}, {"Ctitle", 1}, {"Zoom", 0}, {"wb_select", 2}, {"WB_preset", 2}, {"Lens", -1}, {"Sync", 1},
        {"AGC_SEL", 2}, {"BLC", 1}, {"BlcPreset", 0}, {"MoDetect", 0}, {"MoPre", 1}, {"Freeze", 1}};
    std::vector<std::string_view> asked;
    const EnablingInputs in = EnablingInputsFrom([&](std::string_view name) {
        asked.push_back(name);
        return values.at(name);
    });
    EXPECT_EQ(asked.size(), values.size());
    EXPECT_TRUE(in.wb_sel);
    EXPECT_EQ(in.Ctitle, 1);
    EXPECT_EQ(in.Zoom, 0);
    EXPECT_EQ(in.wb_select, 2);
    EXPECT_EQ(in.WB_preset, 2);
    EXPECT_EQ(in.Lens, -1);
    EXPECT_EQ(in.Sync, 1);
    EXPECT_EQ(in.AGC_SEL, 2);
    EXPECT_EQ(in.BLC, 1);
    EXPECT_FALSE(in.BlcPreset);
    EXPECT_EQ(in.MoDetect, 0);
    EXPECT_TRUE(in.MoPre);
    EXPECT_TRUE(in.Freeze);
}

TEST(Enabling, RowsComeInTheirOrder) {
    EnablingInputs in;
    in.wb_select = 2;
    in.Sync = 1;
    in.AGC_SEL = 1;
    in.BLC = 1;
    const auto e = EnablingRules(in);
    std::vector<std::string_view> order;
    for (const auto& x : e) order.push_back(x.control);
    const auto pos = [&](std::string_view c) { return std::find(order.begin(), order.end(), c) - order.begin(); };
    EXPECT_LT(pos("pre_32"), pos("CName"));
    EXPECT_LT(pos("CName"), pos("ZoomBar"));
    EXPECT_LT(pos("ZoomBar"), pos("AWC"));
    EXPECT_LT(pos("AWC"), pos("Shutter"));
    EXPECT_LT(pos("Shutter"), pos("v_pha_lvl"));
    EXPECT_LT(pos("v_pha_lvl"), pos("AGC_MAX"));
    EXPECT_LT(pos("AGC_MAX"), pos("BlcPreset"));
    EXPECT_LT(pos("BlcPreset"), pos("MoPre"));
    EXPECT_LT(pos("MoPre"), pos("Mirror"));
}

}  // namespace
}  // namespace tern::transfer
