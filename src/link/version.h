// The version of both programs, from the project's build.
#pragma once

namespace tern::link {

#ifndef TERN_VERSION
#define TERN_VERSION "0.0"
#endif

inline constexpr const char* kVersion = TERN_VERSION;

}  // namespace tern::link
