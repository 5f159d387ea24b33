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

} // namespace qb
