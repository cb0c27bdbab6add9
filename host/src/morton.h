// Morton (Z-order) codes of 3-D grid cells: the bits of the three cell
// coordinates interleaved, so that every aligned cube of 2^l cells per side
// is one run of consecutive codes. Internal to the host library.
#pragma once

#include <cstdint>

namespace ici3d::host::detail {

// Cells per axis that a code can hold (21 bits each).
inline constexpr int64_t kCellsPerAxis = int64_t{1} << 21;

inline uint64_t spread_bits(uint64_t v) {
  v &= 0x1fffff;
  v = (v | v << 32) & 0x1f00000000ffffULL;
  v = (v | v << 16) & 0x1f0000ff0000ffULL;
  v = (v | v << 8) & 0x100f00f00f00f00fULL;
  v = (v | v << 4) & 0x10c30c30c30c30c3ULL;
  v = (v | v << 2) & 0x1249249249249249ULL;
  return v;
}

inline uint64_t compact_bits(uint64_t v) {
  v &= 0x1249249249249249ULL;
  v = (v ^ (v >> 2)) & 0x10c30c30c30c30c3ULL;
  v = (v ^ (v >> 4)) & 0x100f00f00f00f00fULL;
  v = (v ^ (v >> 8)) & 0x1f0000ff0000ffULL;
  v = (v ^ (v >> 16)) & 0x1f00000000ffffULL;
  v = (v ^ (v >> 32)) & 0x1fffffULL;
  return v;
}

inline uint64_t morton_code(uint64_t x, uint64_t y, uint64_t z) {
  return spread_bits(x) | spread_bits(y) << 1 | spread_bits(z) << 2;
}

}  // namespace ici3d::host::detail
