// The scrambling of stored passwords: each byte's two 4-bit halves change
// places. It is its own inverse and keeps the length.
#pragma once

#include <string>
#include <string_view>

namespace qb {

inline std::string SwapNibbles(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto b = static_cast<unsigned char>(c);
        c = static_cast<char>(((b & 0x0F) << 4) | (b >> 4));
    }
    return out;
}

} // namespace qb
