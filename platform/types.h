// Basic value types shared by every layer of the core.
#pragma once

#include <cstdint>
#include <limits>

namespace qb {

// Sizes, byte counts and resume offsets: 64-bit everywhere.
using FileSize = std::uint64_t;

// "Size not yet known": no real file can be this long.
inline constexpr FileSize kUnknownSize = std::numeric_limits<FileSize>::max();

// Operation ids handed out by the manager; 0 means "refused".
using OperationId = std::uint32_t;

// Window and thread message numbers keep their historical values.
inline constexpr std::uint32_t WM_USER = 0x0400;

// Connection ids: 64-bit, handed out once and never reused, so a record that
// outlives its connection can never name another one.
using ConnectionId = std::uint64_t;
inline constexpr ConnectionId kNoConnection = 0;

} // namespace qb
