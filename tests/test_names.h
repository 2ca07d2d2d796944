// Readable names for the rows of parameterised suites: letters, digits and
// single underscores, made from what the row is about.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace tern::test {

/// "--drop-every -1" → "drop_every_1".
inline std::string RowName(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            out += c;
        } else if (!out.empty() && out.back() != '_') {
            out += '_';
        }
    }
    while (!out.empty() && out.back() == '_') out.pop_back();
    return out.empty() ? "no_letters_or_digits" : out;
}

/// Bytes as hex digits, trailing zero bytes left out: "310A01".
template <typename Bytes>
std::string HexName(const Bytes& bytes) {
    std::size_t n = bytes.size();
    while (n > 1 && bytes[n - 1] == 0) --n;
    std::string out;
    char buf[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(bytes[i]));
        out += buf;
    }
    return out.empty() ? "none" : out;
}

}  // namespace tern::test
