// Building and taking apart the frames the tool and the camera exchange.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "camera/model.h"
#include "camera/options.h"
#include "link/codec.h"

namespace tern::camera::test {

using Bytes = std::vector<std::uint8_t>;

/// Options with a few fields changed from the defaults.
template <class F>
CameraOptions With(F change) {
    CameraOptions o;
    change(o);
    return o;
}

/// Payload bytes 1..n; the rest zero.
inline Bytes15 P(std::initializer_list<std::uint8_t> bytes) {
    Bytes15 p{};
    std::size_t i = 0;
    for (std::uint8_t b : bytes) p.at(i++) = b;
    return p;
}

inline Bytes Frame(const Bytes15& p) {
    link::Payload payload;
    for (int i = 1; i <= 15; ++i) payload[i] = p[static_cast<std::size_t>(i - 1)];
    const link::FrameBytes f = link::BuildStxFrame(payload, 15);
    return Bytes(f.begin(), f.end());
}

inline Bytes Frame(std::initializer_list<std::uint8_t> bytes) { return Frame(P(bytes)); }

inline Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

/// What the camera sends for an accepted command: ACK, then the reply frame.
inline Bytes AckAndReply(const Bytes15& reply) { return Concat(Bytes{link::ACK}, Frame(reply)); }

/// Reply offsets 1..15 of a 19-byte frame at `at`, after checking its frame.
inline bool ReplyAt(const Bytes& out, std::size_t at, Bytes15& reply) {
    if (out.size() < at + link::kCmdFrameSize || out[at] != link::STX || out[at + 16] != link::ETX) return false;
    const std::uint16_t crc = link::Crc16(std::span<const std::uint8_t>(out.data() + at + 1, 16));
    if (out[at + 17] != (crc >> 8) || out[at + 18] != (crc & 0xFF)) return false;
    std::copy(out.begin() + static_cast<std::ptrdiff_t>(at + 1), out.begin() + static_cast<std::ptrdiff_t>(at + 16),
              reply.begin());
    return true;
}

}  // namespace tern::camera::test
