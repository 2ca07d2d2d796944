#include "transfer/Chain.h"

namespace tern::transfer {

namespace {

struct Step {
    std::uint8_t item;
    std::uint8_t sub;
    int n;  // 2: item alone, 3: item and sub-item
};

// Every page reads register 1 (resolution) and register 64 (TV standard) first.
constexpr Step kReg1{link::kItemRegister, link::kRegResolution, 3};
constexpr Step kReg64{link::kItemRegister, link::kRegVideoStandard, 3};
constexpr int kMaxSteps = 7;

struct Row {
    int count;
    Step steps[kMaxSteps];
};

constexpr Row kChains[kPageCount] = {
    // Adjust: CCD delays, white balance mode and preset, PWM reference, block 4
    {7, {kReg1, kReg64, {0x42, 0, 2}, {0x1B, 0x00, 3}, {0x1B, 0x01, 3}, {0x43, 0, 2}, {0x45, 0x04, 3}}},
    {2, {kReg1, kReg64}},  // Debug
    {2, {kReg1, kReg64}},  // CCD Defect
    {2, {kReg1, kReg64}},  // Copy: its transfers start from its buttons
    // Setup1: settings blocks 0 to 4
    {7, {kReg1, kReg64, {0x45, 0x00, 3}, {0x45, 0x01, 3}, {0x45, 0x02, 3}, {0x45, 0x03, 3}, {0x45, 0x04, 3}}},
    // Setup2: blocks 5 and 6
    {4, {kReg1, kReg64, {0x45, 0x05, 3}, {0x45, 0x06, 3}}},
};

}  // namespace

std::optional<ChainRequest> LoadChainStep(Page page, int step) {
    const int index = static_cast<int>(page);
    if (index < 0 || index >= kPageCount) return std::nullopt;
    const Row& row = kChains[index];
    if (step < 0 || step >= row.count) return std::nullopt;
    const Step& s = row.steps[step];
    ChainRequest r;
    r.payload[1] = link::kGroupRead;
    r.payload[2] = s.item;
    if (s.n >= 3) r.payload[3] = s.sub;
    r.n = s.n;
    return r;
}

void VideoGeometry::ApplyRegister(int reg, int value) {
    if (reg == link::kRegResolution) {
        const bool hi = (value & 0x4000) != 0;
        SensorWidth = hi ? 800 : 544;
        LowResolution = hi ? 0 : 1;
    } else if (reg == link::kRegVideoStandard) {
        const bool pal = (value & 0x0001) != 0;
        SensorHeight = pal ? 312 : 256;
        PalSystem = pal ? 1 : 0;
    }
}

}  // namespace tern::transfer
