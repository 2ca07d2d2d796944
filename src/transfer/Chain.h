// The load chains: which read requests each page sends, one after another,
// when its settings are (re)loaded; and the video geometry that registers 1
// and 64 decide.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "link/codec.h"
#include "link/host.h"

namespace tern::transfer {

/// Pages of PageControl1, by index; hidden pages keep their index.
inline constexpr int kPageAdjust = 0;
inline constexpr int kPageDebug = link::kPageDebug;  // the link tells the reset ending by it
inline constexpr int kPageDefect = 2;
inline constexpr int kPageCopy = 3;
inline constexpr int kPageSetup1 = 4;
inline constexpr int kPageSetup2 = 5;
inline constexpr int kPageCount = 6;

inline constexpr int kRegResolution = 1;
inline constexpr int kRegVideoStandard = 64;

struct ChainRequest {
    link::Payload payload;
    int n = 0;
};

/// The request of `step` in `page`'s chain, or nothing when the chain ends there.
std::optional<ChainRequest> LoadChainStep(int page, int step);

/// What registers 1 and 64 say about the picture.
struct VideoGeometry {
    std::int32_t SensorWidth = 1;
    std::int32_t SensorHeight = 1;
    std::int32_t LowResolution = 0;
    std::int32_t PalSystem = 0;

    /// Takes a register value read from the camera; other registers change nothing.
    void ApplyRegister(int reg, int value);
};

inline constexpr int kSettingsImageSize = 1024;
using SettingsImageArray = std::array<std::int32_t, kSettingsImageSize>;

}  // namespace tern::transfer
