#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "transfer/Catalogue.h"

namespace tern::transfer {
namespace {

using Bytes = std::vector<int>;

Bytes Of(const SettingCommand& c) {
    const auto b = c.Bytes();
    return Bytes(b.begin(), b.end());
}

// ---- rows of the catalogue that take one number ---------------------------------------

struct ValueRow {
    const char* name;
    Control control;
    int value;
    Bytes expected;
};

std::ostream& operator<<(std::ostream& os, const ValueRow& r) { return os << r.name; }

class CatalogueValueRows : public ::testing::TestWithParam<ValueRow> {};

TEST_P(CatalogueValueRows, SendsExactBytes) {
    const ValueRow& row = GetParam();
    const auto cmd = CommandFor(row.control, row.value);
    ASSERT_TRUE(cmd.has_value());
    EXPECT_EQ(Of(*cmd), row.expected);
    // Bytes after n stay zero: StxCommand sends them as such.
    for (int i = cmd->n + 1; i <= 15; ++i) EXPECT_EQ(cmd->payload[i], 0) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Setup1, CatalogueValueRows,
    ::testing::Values(
        ValueRow{"Ctitle_on", Control::Ctitle, 1, {0x21, 0x10, 0x00, 0x01}},
        ValueRow{"Ctitlepos_lower_right", Control::Ctitlepos, 3, {0x21, 0x10, 0x03, 0x03}},
        ValueRow{"SenseUp_x128", Control::SenseUp, 12, {0x21, 0x11, 0x0C}},
        ValueRow{"Lens_elc", Control::Lens, 1, {0x21, 0x12, 0x01}},
        ValueRow{"Shutter_1_12000", Control::Shutter, 15, {0x21, 0x15, 0x0F}},
        ValueRow{"ELCLVL_8", Control::ELCLVL, 8, {0x21, 0x17, 0x08}},
        ValueRow{"BLC_on", Control::BLC, 1, {0x21, 0x18, 0x00, 0x01}},
        ValueRow{"BlcPreset_checked", Control::BlcPreset, 1, {0x21, 0x18, 0x01, 0x01}},
        ValueRow{"AGC_SEL_manual", Control::AGC_SEL, 2, {0x21, 0x1A, 0x00, 0x02}},
        ValueRow{"AGC_MAX_8", Control::AGC_MAX, 8, {0x21, 0x1A, 0x01, 0x08}},
        ValueRow{"AGC_MAN_3", Control::AGC_MAN, 3, {0x21, 0x1A, 0x02, 0x03}},
        ValueRow{"wb_select_manual", Control::wb_select, 2, {0x21, 0x1B, 0x00, 0x02}},
        ValueRow{"WB_preset_user", Control::WB_preset, 2, {0x21, 0x1B, 0x01, 0x02}},
        ValueRow{"Rgain_5", Control::Rgain, 5, {0x21, 0x1B, 0x02, 0x05}},
        ValueRow{"BGain_6", Control::BGain, 6, {0x21, 0x1B, 0x03, 0x06}},
        ValueRow{"AWC_push", Control::AWC, 0, {0x21, 0x1B, 0x04}},
        ValueRow{"Sync_vbs", Control::Sync, 2, {0x21, 0x1C, 0x00, 0x02}},
        ValueRow{"v_pha_lvl_300_is_16_bit", Control::v_pha_lvl, 300, {0x21, 0x1C, 0x01, 0x01, 0x2C}},
        ValueRow{"h_pha_lvl_44", Control::h_pha_lvl, 44, {0x21, 0x1C, 0x02, 0x2C}},
        ValueRow{"h_pha_lvl_300_low_byte", Control::h_pha_lvl, 300, {0x21, 0x1C, 0x02, 0x2C}},
        ValueRow{"MaskA_on", Control::MaskA, 1, {0x21, 0x1D, 0x00, 0x01}},
        ValueRow{"MaskD_off", Control::MaskD, 0, {0x21, 0x1D, 0x03, 0x00}},
        ValueRow{"Nega_on", Control::Nega, 1, {0x21, 0x1D, 0x04, 0x01}},
        ValueRow{"Mirror_on", Control::Mirror, 1, {0x21, 0x1D, 0x05, 0x01}},
        ValueRow{"Priority_sense_agc", Control::Priority, 1, {0x21, 0x1D, 0x06, 0x01}},
        ValueRow{"v_rev_on", Control::v_rev, 1, {0x21, 0x1D, 0x07, 0x01}},
        ValueRow{"Freeze_on", Control::Freeze, 1, {0x21, 0x1D, 0x08, 0x01}},
        ValueRow{"Frz_type_frame", Control::Frz_type, 1, {0x21, 0x1D, 0x09, 0x01}},
        ValueRow{"Save", Control::Save, 0, {0x21, 0x1E}},
        ValueRow{"Zoom_on", Control::Zoom, 1, {0x21, 0x1F, 0x00, 0x01}},
        ValueRow{"Preset", Control::Preset, 0, {0x21, 0x20, 0x00}},
        ValueRow{"PEAK_LVL_7", Control::PEAK_LVL, 7, {0x21, 0x22, 0x07}}));

INSTANTIATE_TEST_SUITE_P(
    Setup2, CatalogueValueRows,
    ::testing::Values(
        ValueRow{"gamma_1_00", Control::gamma, 1, {0x21, 0x1D, 0x14, 0x01}},
        ValueRow{"apc_pre", Control::apc_pre, 0, {0x21, 0x1D, 0x15, 0x00, 0x01}},
        ValueRow{"enh_h_18", Control::enh_h, 18, {0x21, 0x1D, 0x15, 0x01, 0x12}},
        ValueRow{"enh_v_9", Control::enh_v, 9, {0x21, 0x1D, 0x15, 0x02, 0x09}},
        ValueRow{"knee_lvl_18", Control::knee_lvl, 18, {0x21, 0x1D, 0x16, 0x12}},
        ValueRow{"color_bar_on", Control::color_bar, 1, {0x21, 0x1D, 0x17, 0x01}},
        ValueRow{"save2", Control::save2, 0, {0x21, 0x1E}},
        ValueRow{"preset2", Control::preset2, 0, {0x21, 0x20, 0x00}},
        ValueRow{"MoDetect_on", Control::MoDetect, 1, {0x21, 0x47, 0x00, 0x01}},
        ValueRow{"MoPre_on", Control::MoPre, 1, {0x21, 0x47, 0x01, 0x01}},
        ValueRow{"MoLv_8", Control::MoLv, 8, {0x21, 0x47, 0x02, 0x08}},
        ValueRow{"MoTime_60sec", Control::MoTime, 2, {0x21, 0x47, 0x03, 0x02}}));

INSTANTIATE_TEST_SUITE_P(
    AdjustAndDebug, CatalogueValueRows,
    ::testing::Values(
        ValueRow{"wb_sel_checked_is_atw", Control::wb_sel, 1, {0x21, 0x1B, 0x00, 0x00}},
        ValueRow{"wb_sel_unchecked_is_awc", Control::wb_sel, 0, {0x21, 0x1B, 0x00, 0x01}},
        ValueRow{"pre_32", Control::pre_32, 0, {0x21, 0x30, 0x00, 0x01}},
        ValueRow{"pre_56", Control::pre_56, 0, {0x21, 0x30, 0x01, 0x01}},
        ValueRow{"pre_awc", Control::pre_awc, 0, {0x21, 0x30, 0x02, 0x01}},
        ValueRow{"shut_disp_sel_no_use", Control::shut_disp_sel, 1, {0x21, 0x37, 0x00, 0x01, 0x01}},
        ValueRow{"sync_disp_sel_use", Control::sync_disp_sel, 0, {0x21, 0x37, 0x01, 0x00, 0x01}},
        ValueRow{"hvpha_disp_sel_h", Control::hvpha_disp_sel, 1, {0x21, 0x37, 0x02, 0x01, 0x01}},
        ValueRow{"Sens_disp_sel_no_use", Control::Sens_disp_sel, 1, {0x21, 0x37, 0x03, 0x01, 0x01}},
        ValueRow{"Peak_disp_sel_use", Control::Peak_disp_sel, 0, {0x21, 0x37, 0x04, 0x00, 0x01}},
        ValueRow{"rens_ref_read", Control::rens_ref_read, 0, {0x31, 0x46}},
        ValueRow{"PresetSave", Control::PresetSave, 0, {0x21, 0x20, 0x01}}));

TEST(Catalogue, StructuredControlsHaveNoSingleValueCommand) {
    for (Control c : {Control::CName, Control::BLCArea, Control::MoArea, Control::ZoomBar, Control::Zoomlvl,
                      Control::pwm_ref, Control::Delay, Control::RYP, Control::BYN, Control::MaskWrite,
                      Control::MaskRead}) {
        EXPECT_FALSE(CommandFor(c, 1).has_value()) << ControlName(c);
    }
}

TEST(Catalogue, EveryControlHasOneRowAndItsNameFindsIt) {
    std::set<std::string_view> names;
    for (const CatalogueRow& row : CatalogueRows()) {
        EXPECT_EQ(RowOf(row.control).name, row.name);
        EXPECT_TRUE(names.insert(row.name).second) << "duplicate name " << row.name;
        if (row.encoding == Encoding::Grid) continue;
        EXPECT_EQ(ControlByName(row.name), row.control) << row.name;
    }
}

TEST(Catalogue, EveryRowsCountCoversPrefixValueAndSuffix) {
    for (const CatalogueRow& row : CatalogueRows()) {
        int value = 0;
        switch (row.encoding) {
            case Encoding::None: value = 0; break;
            case Encoding::Byte:
            case Encoding::InverseFlag:
            case Encoding::HexByte: value = 1; break;
            case Encoding::Word:
            case Encoding::Nibbles:
            case Encoding::HueWord: value = 2; break;
            case Encoding::Title: value = kTitleLength; break;
            case Encoding::Grid: value = kGridBytes; break;
            case Encoding::MaskRect: value = row.prefix[0] == 0x31 ? 1 : 5; break;
        }
        EXPECT_EQ(row.n, row.prefixLength + value + row.suffixLength) << row.name;
        EXPECT_TRUE(row.prefix[0] == 0x21 || row.prefix[0] == 0x31) << row.name;
    }
}

TEST(Catalogue, GridCellsAndDelayFieldsFindTheirCommand) {
    EXPECT_EQ(ControlByName("BLCCheck01"), Control::BLCArea);
    EXPECT_EQ(ControlByName("BLCCheck48"), Control::BLCArea);
    EXPECT_EQ(ControlByName("MoCheck17"), Control::MoArea);
    EXPECT_FALSE(ControlByName("BLCCheck49").has_value());
    EXPECT_FALSE(ControlByName("BLCCheck00").has_value());
    EXPECT_FALSE(ControlByName("MoCheck7").has_value());
    EXPECT_FALSE(ControlByName("blc_panel").has_value());
    for (const char* f : {"rg_delay", "rg_width", "shp_delay", "shd_delay"}) EXPECT_EQ(ControlByName(f), Control::Delay) << f;
}

// ---- camera title -----------------------------------------------------------------------

struct TitleRow {
    const char* name;
    std::u32string text;
    Bytes codes;
};
std::ostream& operator<<(std::ostream& os, const TitleRow& r) { return os << r.name; }
class TitleCommands : public ::testing::TestWithParam<TitleRow> {};

TEST_P(TitleCommands, SendsTwelveCodesBlankPadded) {
    Bytes expected = {0x21, 0x10, 0x01};
    expected.insert(expected.end(), GetParam().codes.begin(), GetParam().codes.end());
    EXPECT_EQ(Of(TitleCommand(GetParam().text)), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, TitleCommands,
    ::testing::Values(
        TitleRow{"Cam_01", U"Cam-01", {0x13, 0x51, 0x5D, 0x0D, 0x00, 0x01, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E}},
        TitleRow{"capital_O_is_zero", U"OK", {0x00, 0x1B, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E}},
        TitleRow{"unmappable_is_blank", U"a=b", {0x51, 0x7E, 0x52, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E}},
        TitleRow{"non_ascii_is_blank", U"\u00e9Z\u20ac", {0x7E, 0x2A, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E}},
        TitleRow{"empty", U"", {0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E, 0x7E}},
        TitleRow{"longer_than_12_cut", U"ABCDEFGHIJKLMN", {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C}},
        TitleRow{"punctuation", U":(<)>.`@?;*+", {0x0A, 0x0B, 0x0B, 0x0C, 0x0C, 0x0E, 0x1F, 0x3F, 0x50, 0x6B, 0x6C, 0x6C}},
        TitleRow{"letters_at_the_edges", U"NPZaz/,9 ", {0x1E, 0x20, 0x2A, 0x51, 0x6A, 0x6D, 0x6E, 0x09, 0x7E, 0x7E, 0x7E, 0x7E}}));

TEST(TitleCharTable, EveryMappableCharacterReadsBackToItselfOrItsTwin) {
    // The ambiguous codes read back as the smallest character that maps to them.
    const std::u32string twins = U"O<>+";
    const std::string readAs = "0()*";
    for (char32_t c = 1; c < 0x80; ++c) {
        const auto code = TitleCharCode(c);
        if (!code) continue;
        const auto twin = twins.find(c);
        const char expected = twin == std::u32string::npos ? static_cast<char>(c) : readAs[twin];
        EXPECT_EQ(TitleCodeChar(*code), expected) << "character " << static_cast<int>(c);
    }
}

TEST(TitleCharTable, CodesNoCharacterMapsToReadAsZero) {
    for (int code : {0x0F, 0x10, 0x2B, 0x2C, 0x3E, 0x40, 0x4F, 0x6F, 0x7D, 0x7F, 0xFF}) {
        EXPECT_EQ(TitleCodeChar(static_cast<std::uint8_t>(code)), '\0') << code;
    }
    EXPECT_EQ(TitleCodeChar(0x7E), ' ');
    EXPECT_EQ(TitleCodeChar(0x1F), '`');
}

TEST(TitleCharTable, UnmappableCharacters) {
    for (char32_t c : {U'=', U'!', U'"', U'#', U'_', U'{', U'~', U'\t', U'\0', char32_t{0x80}, char32_t{0xE9}}) {
        EXPECT_FALSE(TitleCharCode(c).has_value()) << static_cast<int>(c);
    }
}

// ---- grids ---------------------------------------------------------------------------------

TEST(Grid, CellKIsBitKMinusOneModEightOfByteKMinusOneDivEight) {
    for (int k = 1; k <= kGridCells; ++k) {
        GridCells cells{};
        cells[static_cast<std::size_t>(k - 1)] = true;
        const auto bytes = GridBytes(cells);
        for (int b = 0; b < kGridBytes; ++b) {
            EXPECT_EQ(bytes[static_cast<std::size_t>(b)], b == (k - 1) / 8 ? 1 << ((k - 1) % 8) : 0) << "cell " << k;
        }
        EXPECT_EQ(GridCellsOf(bytes), cells) << "cell " << k;
    }
}

TEST(Grid, CornersOfTheMotionAreaAndCell9OfTheBlcArea) {
    GridCells cells{};
    cells[0] = cells[47] = true;
    EXPECT_EQ(Of(GridCommand(Control::MoArea, cells)), (Bytes{0x21, 0x48, 0x01, 0x00, 0x00, 0x00, 0x00, 0x80}));
    GridCells blc{};
    blc[8] = true;  // BLCCheck09: second byte, bit 0
    EXPECT_EQ(Of(GridCommand(Control::BLCArea, blc)), (Bytes{0x21, 0x19, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}));
    GridCells mo17{};
    mo17[16] = true;
    EXPECT_EQ(GridCommand(Control::MoArea, mo17).payload[5], 0x01);  // the third area byte
}

TEST(Grid, CellNamesHaveTwoDigits) {
    EXPECT_EQ(GridCellName(Control::BLCArea, 1), "BLCCheck01");
    EXPECT_EQ(GridCellName(Control::BLCArea, 48), "BLCCheck48");
    EXPECT_EQ(GridCellName(Control::MoArea, 9), "MoCheck09");
}

// ---- hex fields --------------------------------------------------------------------------------

struct HexRow {
    const char* name;
    std::string text;
    bool sends;
    int value;
};
std::ostream& operator<<(std::ostream& os, const HexRow& r) { return os << r.name; }
class PwmRefField : public ::testing::TestWithParam<HexRow> {};

TEST_P(PwmRefField, SendsOnlyTwoHexDigits) {
    const auto cmd = PwmRefCommand(GetParam().text);
    ASSERT_EQ(cmd.has_value(), GetParam().sends);
    if (cmd) {
        EXPECT_EQ(Of(*cmd), (Bytes{0x21, 0x43, GetParam().value, 0x01}));
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, PwmRefField,
                         ::testing::Values(HexRow{"two_digits", "5A", true, 0x5A}, HexRow{"lower_case", "b0", true, 0xB0},
                                           HexRow{"outside_spin_range_as_typed", "FF", true, 0xFF},
                                           HexRow{"one_character", "5", false, 0}, HexRow{"empty", "", false, 0},
                                           HexRow{"three_characters", "123", false, 0},
                                           HexRow{"not_hex_sends_nothing", "G1", false, 0},
                                           HexRow{"sign_not_hex", "-1", false, 0}, HexRow{"space", " 1", false, 0}));

TEST(ZoomLevel, SentOnlyWhileZoomIsOnAndForTwoHexDigits) {
    ASSERT_TRUE(ZoomLevelCommand("80", true).has_value());
    EXPECT_EQ(Of(*ZoomLevelCommand("80", true)), (Bytes{0x21, 0x1F, 0x01, 0x00, 0x80}));
    EXPECT_FALSE(ZoomLevelCommand("80", false).has_value());
    EXPECT_FALSE(ZoomLevelCommand("8", true).has_value());
    EXPECT_FALSE(ZoomLevelCommand("8X", true).has_value());
}

TEST(Delay, FourDigitsMakeTwoBytesInTheirOrder) {
    const auto cmd = DelayCommand("1", "2", "a", "B");  // rg_width, shd_delay, shp_delay, rg_delay
    ASSERT_TRUE(cmd.has_value());
    EXPECT_EQ(Of(*cmd), (Bytes{0x21, 0x42, 0x12, 0xAB, 0x01}));
}

TEST(Delay, NothingUnlessEveryFieldHoldsOneHexDigit) {
    EXPECT_FALSE(DelayCommand("", "2", "3", "4").has_value());
    EXPECT_FALSE(DelayCommand("1", "22", "3", "4").has_value());
    EXPECT_FALSE(DelayCommand("1", "2", "G", "4").has_value());
    EXPECT_FALSE(DelayCommand("1", "2", "3", " ").has_value());
}

struct StepRow {
    const char* name;
    std::string text;
    bool up;
    std::string after;
};
std::ostream& operator<<(std::ostream& os, const StepRow& r) { return os << r.name; }
class PwmRefSpin : public ::testing::TestWithParam<StepRow> {};
TEST_P(PwmRefSpin, StepsWithinItsRange) { EXPECT_EQ(PwmRefStep(GetParam().text, GetParam().up), GetParam().after); }
INSTANTIATE_TEST_SUITE_P(Clicks, PwmRefSpin,
                         ::testing::Values(StepRow{"down_at_50_stays", "50", false, "50"},
                                           StepRow{"up_at_B0_stays", "B0", true, "B0"},
                                           StepRow{"down_from_00_jumps_to_50", "00", false, "50"},
                                           StepRow{"down_from_51", "51", false, "50"},
                                           StepRow{"down_from_C0_one_step", "C0", false, "BF"},
                                           StepRow{"up_from_FF_to_B0", "FF", true, "B0"},
                                           StepRow{"up_from_AF", "af", true, "B0"},
                                           StepRow{"up_from_00_one_step", "00", true, "01"},
                                           StepRow{"up_in_range", "7F", true, "80"},
                                           StepRow{"not_hex_left_alone", "ZZ", true, "ZZ"}));

class DelaySpin : public ::testing::TestWithParam<StepRow> {};
TEST_P(DelaySpin, StepsWithinOneDigit) { EXPECT_EQ(DelayDigitStep(GetParam().text, GetParam().up), GetParam().after); }
INSTANTIATE_TEST_SUITE_P(Clicks, DelaySpin,
                         ::testing::Values(StepRow{"up_at_F_stays", "F", true, "F"},
                                           StepRow{"down_at_0_stays", "0", false, "0"},
                                           StepRow{"up_7_to_8", "7", true, "8"}, StepRow{"up_9_to_A", "9", true, "A"},
                                           StepRow{"down_a_to_9", "a", false, "9"},
                                           StepRow{"empty_counts_as_0", "", true, "1"},
                                           StepRow{"not_hex_left_alone", "x", false, "x"}));

TEST(Phase, PositionsShowAsFourHexDigits) {
    EXPECT_EQ(PhaseText(44), "002C");
    EXPECT_EQ(PhaseText(300), "012C");
}

// ---- hue words ----------------------------------------------------------------------------------

struct HueRow {
    const char* name;
    Control bar;
    int shadow;
    int position;
    int word;
    Bytes bytes;
};
std::ostream& operator<<(std::ostream& os, const HueRow& r) { return os << r.name; }
class HueWords : public ::testing::TestWithParam<HueRow> {};

TEST_P(HueWords, KeepTheCameraBitsAndWriteSignAndMagnitude) {
    const HueRow& r = GetParam();
    const int w = HueWord(r.shadow, r.position);
    EXPECT_EQ(w, r.word);
    const auto cmd = HueCommand(r.bar, w);
    ASSERT_TRUE(cmd.has_value());
    EXPECT_EQ(Of(*cmd), r.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Bars, HueWords,
    ::testing::Values(HueRow{"RYN_minus_16", Control::RYN, 0x0A10, -16, 0x0B10, {0x21, 0x0B, 0x2E, 0x0B, 0x10}},
                      HueRow{"RYN_plus_16_back", Control::RYN, 0x0B10, 16, 0x0A10, {0x21, 0x0B, 0x2E, 0x0A, 0x10}},
                      HueRow{"RYP_255", Control::RYP, 0x0000, 255, 0x00FF, {0x21, 0x0B, 0x2C, 0x00, 0xFF}},
                      HueRow{"BYP_minus_255_high_bits_kept", Control::BYP, 0xFE00, -255, 0xFFFF, {0x21, 0x0B, 0x2D, 0xFF, 0xFF}},
                      HueRow{"BYN_zero_clears_sign", Control::BYN, 0x01FF, 0, 0x0000, {0x21, 0x0B, 0x2F, 0x00, 0x00}},
                      HueRow{"beyond_range_limited", Control::RYP, 0x0200, -300, 0x03FF, {0x21, 0x0B, 0x2C, 0x03, 0xFF}}));

TEST(HueWords, SignedMagnitudeReadsBack) {
    EXPECT_EQ(HuePosition(0x0105), -5);
    EXPECT_EQ(HuePosition(0xFF05), -5);
    EXPECT_EQ(HuePosition(0xFE05), 5);
    EXPECT_EQ(HuePosition(0x00FF), 255);
    for (int p = -255; p <= 255; ++p) EXPECT_EQ(HuePosition(HueWord(0xA400, p)), p);
}

TEST(HueWords, OnlyTheFourBarsHaveARegister) {
    EXPECT_EQ(HueRegister(Control::RYP), 0x2C);
    EXPECT_EQ(HueRegister(Control::BYN), 0x2F);
    EXPECT_FALSE(HueRegister(Control::AGC_MAX).has_value());
    EXPECT_FALSE(HueCommand(Control::knee_lvl, 1).has_value());
}

// ---- registers, blocks, masks ------------------------------------------------------------------

TEST(Commands, RegisterWriteBlockReadAndMasks) {
    EXPECT_EQ(Of(RegisterWriteCommand(43, 0x1234)), (Bytes{0x21, 0x0A, 0x2B, 0x12, 0x34}));
    EXPECT_EQ(Of(BlockReadCommand(6)), (Bytes{0x31, 0x45, 0x06}));
    ASSERT_TRUE(MaskWriteCommand(3, {11, 1, 196, 141}).has_value());
    EXPECT_EQ(Of(*MaskWriteCommand(3, {11, 1, 196, 141})), (Bytes{0x21, 0x1D, 0x13, 0x0B, 0x01, 0xC4, 0x8D}));
    EXPECT_EQ(Of(*MaskReadCommand(0)), (Bytes{0x31, 0x1D, 0x10}));
    EXPECT_FALSE(MaskWriteCommand(4, {}).has_value());
    EXPECT_FALSE(MaskReadCommand(-1).has_value());
}

// ---- throttling ----------------------------------------------------------------------------------

struct ThrottleExpect {
    const char* name;
    Control control;
    const char* timer;
    int intervalMs;
    bool armsDuringLoad;
};
std::ostream& operator<<(std::ostream& os, const ThrottleExpect& r) { return os << r.name; }
class ThrottleRows : public ::testing::TestWithParam<ThrottleExpect> {};

TEST_P(ThrottleRows, TimerAndInterval) {
    const ThrottleExpect& e = GetParam();
    const ThrottleRow* row = ThrottleOf(e.control);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->timer, e.timer);
    EXPECT_EQ(row->intervalMs, e.intervalMs);
    EXPECT_EQ(row->armsDuringLoad, e.armsDuringLoad);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ThrottleRows,
    ::testing::Values(ThrottleExpect{"CName", Control::CName, "TitleTimer", 500, false},
                      ThrottleExpect{"ZoomBar", Control::ZoomBar, "ZoomTimer", 500, false},
                      ThrottleExpect{"ELCLVL", Control::ELCLVL, "LensTimer", 300, false},
                      ThrottleExpect{"AGC_MAX", Control::AGC_MAX, "AGCTimer", 300, false},
                      ThrottleExpect{"AGC_MAN", Control::AGC_MAN, "AGCManTimer", 300, false},
                      ThrottleExpect{"Rgain_1000_not_its_twins_500", Control::Rgain, "RTimer", 1000, false},
                      ThrottleExpect{"BGain", Control::BGain, "BTimer", 500, false},
                      ThrottleExpect{"BLC_cells", Control::BLCArea, "BLCAreaTimer", 300, false},
                      ThrottleExpect{"v_pha_lvl", Control::v_pha_lvl, "v_pha_timer", 300, false},
                      ThrottleExpect{"h_pha_lvl", Control::h_pha_lvl, "h_pha_timer", 300, false},
                      ThrottleExpect{"PEAK_LVL", Control::PEAK_LVL, "PEAKTimer", 300, false},
                      ThrottleExpect{"RYP", Control::RYP, "TimerRYP", 200, true},
                      ThrottleExpect{"BYP", Control::BYP, "TimerBYP", 200, true},
                      ThrottleExpect{"RYN", Control::RYN, "TimerRYN", 200, true},
                      ThrottleExpect{"BYN", Control::BYN, "TimerBYN", 200, true},
                      ThrottleExpect{"knee_lvl", Control::knee_lvl, "kneeTimer", 200, false},
                      ThrottleExpect{"enh_h", Control::enh_h, "enh_h_timer", 200, false},
                      ThrottleExpect{"enh_v", Control::enh_v, "enh_v_timer", 200, false},
                      ThrottleExpect{"MoLv", Control::MoLv, "MoLvtimer", 200, false}));

TEST(Throttle, ImmediateControlsHaveNoTimer) {
    EXPECT_EQ(ThrottleTable().size(), 19u);
    for (Control c : {Control::Mirror, Control::MoArea, Control::Zoomlvl, Control::pwm_ref, Control::Sync}) {
        EXPECT_EQ(ThrottleOf(c), nullptr) << ControlName(c);
        Throttle t;
        EXPECT_FALSE(t.Change(c, false));
    }
}

TEST(Throttle, FirstChangeStartsTheIntervalAndLaterChangesDoNotRestartIt) {
    Throttle t;
    EXPECT_TRUE(t.Change(Control::AGC_MAX, false));
    for (int i = 0; i < 8; ++i) EXPECT_FALSE(t.Change(Control::AGC_MAX, false));
    EXPECT_TRUE(t.Tick(Control::AGC_MAX, true));  // one send, with the position at the tick
    EXPECT_FALSE(t.Armed(Control::AGC_MAX));
    EXPECT_FALSE(t.Tick(Control::AGC_MAX, true));  // a late tick sends nothing more
    EXPECT_TRUE(t.Change(Control::AGC_MAX, false));  // the next drag starts a new interval
}

TEST(Throttle, BusyTickStaysArmedUntilIdle) {
    Throttle t;
    ASSERT_TRUE(t.Change(Control::RYP, true));
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(t.Tick(Control::RYP, false));
        EXPECT_TRUE(t.Armed(Control::RYP));
    }
    EXPECT_TRUE(t.Tick(Control::RYP, true));
    EXPECT_FALSE(t.Armed(Control::RYP));
}

TEST(Throttle, LoadArmsOnlyTheHueBars) {
    Throttle t;
    for (const ThrottleRow& row : ThrottleTable()) {
        EXPECT_EQ(t.Change(row.control, true), row.armsDuringLoad) << ControlName(row.control);
    }
    EXPECT_FALSE(t.Armed(Control::MoLv));
    EXPECT_TRUE(t.Armed(Control::RYN));
}

TEST(Throttle, BlcCellsArmOnlyWhileBlcPresetIsUnchecked) {
    Throttle t;
    EXPECT_FALSE(t.Change(Control::BLCArea, false, true));
    EXPECT_FALSE(t.Armed(Control::BLCArea));
    EXPECT_TRUE(t.Change(Control::BLCArea, false, false));
}

TEST(Throttle, ControlsAreIndependent) {
    Throttle t;
    EXPECT_TRUE(t.Change(Control::Rgain, false));
    EXPECT_TRUE(t.Change(Control::BGain, false));
    EXPECT_TRUE(t.Tick(Control::BGain, true));
    EXPECT_TRUE(t.Armed(Control::Rgain));
}

// ---- sync reset --------------------------------------------------------------------------------------

TEST(SyncReset, RefusalWithSyncAwayFromIntSelectsIntAndSwallowsThatOneClick) {
    SyncReset s;
    EXPECT_TRUE(s.Refused(2));
    EXPECT_FALSE(s.Click(true));   // the change to INT: nothing sent
    EXPECT_TRUE(s.Click(true));    // the user's next choice is sent
}

TEST(SyncReset, RefusalWithSyncAtIntLeavesNoFlagBehind) {
    SyncReset s;
    EXPECT_FALSE(s.Refused(0));
    EXPECT_FALSE(s.Pending());
    EXPECT_TRUE(s.Click(true));  // the user's next choice is not swallowed
}

TEST(SyncReset, ChangeDuringALoadIsConsumedThoughNotIdle) {
    SyncReset s;
    ASSERT_TRUE(s.Refused(1));
    EXPECT_FALSE(s.Click(false));  // busy: nothing sent, but the refusal's change is handled
    EXPECT_FALSE(s.Pending());
    EXPECT_TRUE(s.Click(true));
}

TEST(SyncReset, BusyClickSendsNothing) {
    SyncReset s;
    EXPECT_FALSE(s.Click(false));
}

}  // namespace
}  // namespace tern::transfer
