// The load chains: which read requests each page sends, one after another,
// when its settings are (re)loaded; and the video geometry that registers 1
// and 64 decide.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "link/codec.h"
#include "link/host.h"
#include "link/protocol.h"

namespace tern::transfer {

using link::Page;
using link::kPageCount;

struct ChainRequest {
    link::Payload payload;
    int n = 0;
};

/// The request of `step` in `page`'s chain, or nothing when the chain ends there.
std::optional<ChainRequest> LoadChainStep(Page page, int step);

/// What registers 1 and 64 say about the picture.
struct VideoGeometry {
    std::int32_t SensorWidth = 1;
    std::int32_t SensorHeight = 1;
    std::int32_t LowResolution = 0;
    std::int32_t PalSystem = 0;

    /// Takes a register value read from the camera; other registers change nothing.
    void ApplyRegister(int reg, int value);
};

}  // namespace tern::transfer
