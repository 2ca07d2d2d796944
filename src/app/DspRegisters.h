#pragma once

#include <array>

namespace tern::app {

inline constexpr int kDspRegisterCount = 228;  // registers 0x00..0xE3
extern const std::array<const char*, kDspRegisterCount> kDspRegisterNames;

}  // namespace tern::app
