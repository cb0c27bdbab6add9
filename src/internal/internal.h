// Internal helpers shared by the library's sources; never exported.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ici3d::internal {

// Index arithmetic on per-point arrays is done in 64 bits: products such as
// (4i + d) * max_selected overflow int32 on large clouds.
inline std::size_t idx(std::int64_t v) { return static_cast<std::size_t>(v); }

// True when the three entries are 0, 1 and 2 in some order.
inline bool is_axis_permutation(const std::int32_t *axes) {
  const std::int32_t a = axes[0], b = axes[1], c = axes[2];
  return a >= 0 && a <= 2 && b >= 0 && b <= 2 && c >= 0 && c <= 2 && a != b && a != c && b != c;
}

// The planar first-order kernel estimate, writing into caller-provided
// storage. `weights` receives `count` values; the two slope rows of the
// product matrix are not needed outside, so nothing is allocated.
void kernel_estimate_ord1(const float *window, std::int32_t count, float *estimate, float *weights,
                          float *fit);

}  // namespace ici3d::internal
