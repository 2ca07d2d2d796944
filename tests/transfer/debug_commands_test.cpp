#include <gtest/gtest.h>

#include <cstdio>

#include "transfer/DebugCommands.h"

namespace tern::transfer::debug {
namespace {

TEST(DebugFields, CompleteMeansFourHexDigits) {
    EXPECT_EQ(CompleteHexValue("0180"), 0x180);
    EXPECT_EQ(CompleteHexValue("abCD"), 0xABCD);
    EXPECT_FALSE(CompleteHexValue("018"));
    EXPECT_FALSE(CompleteHexValue("Data"));
    EXPECT_FALSE(CompleteHexValue("osdt"));
    EXPECT_FALSE(CompleteHexValue(""));
    EXPECT_FALSE(CompleteHexValue("01800"));
}

TEST(DebugFields, EepromAddressesAreTheFiveHundredTwelveWords) {
    EXPECT_EQ(EepromAddress("0000"), 0);
    EXPECT_EQ(EepromAddress("01FF"), 0x1FF);
    EXPECT_EQ(EepromAddress("1a0"), 0x1A0);
    EXPECT_FALSE(EepromAddress("0200"));
    EXPECT_FALSE(EepromAddress("FFFF"));
    EXPECT_FALSE(EepromAddress("Data"));
    EXPECT_FALSE(EepromAddress(""));
}

struct StepCase {
    int value, mask;
    bool up;
    int expected;
};

class MaskedSteps : public ::testing::TestWithParam<StepCase> {};

TEST_P(MaskedSteps, CountWithinTheMaskedField) {
    const StepCase& c = GetParam();
    EXPECT_EQ(MaskedStep(c.value, c.mask, c.up), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, MaskedSteps,
                         ::testing::Values(StepCase{0x12F3, 0x00F0, true, 0x1203},   // wraps inside the field
                                           StepCase{0x1203, 0x00F0, false, 0x12F3},
                                           StepCase{0x1234, 0xFFFF, true, 0x1235},
                                           StepCase{0xFFFF, 0xFFFF, true, 0x0000},
                                           StepCase{0x0000, 0xFFFF, false, 0xFFFF},
                                           StepCase{0x1234, 0x0000, true, 0x1234},   // no bits: no step
                                           StepCase{0x0F00, 0x0A00, true, 0x0500},   // step is the lowest mask bit
                                           StepCase{0x8000, 0x8000, true, 0x0000}),
                         [](const ::testing::TestParamInfo<StepCase>& i) {
                             char name[32];
                             std::snprintf(name, sizeof name, "v%04X_mask%04X_%s", i.param.value, i.param.mask,
                                           i.param.up ? "up" : "down");
                             return std::string(name);
                         });

TEST(DebugFields, AddressStepsWrapAtBothEnds) {
    EXPECT_EQ(StepEepromAddress(0x1FF, true), 0);
    EXPECT_EQ(StepEepromAddress(0, false), 0x1FF);
    EXPECT_EQ(StepEepromAddress(0x10, true), 0x11);
    EXPECT_EQ(StepEepromAddress(0x10, false), 0x0F);
    EXPECT_EQ(StepEepromAddress(0x0FFF, true), 0);       // beyond the memory: back in range
    EXPECT_EQ(StepEepromAddress(0x0FFF, false), 0x1FF);
}

}  // namespace
}  // namespace tern::transfer::debug
