// Where the entries of the main loop's per-direction working arrays live.
// i is a point (0..n-1), d a direction (0..3), c a coordinate (0 = x, 1 = y,
// 2 = z), k a fit component (0..2). Indices are formed in 64 bits: products
// such as (4i + d) * max_selected overflow int32 on large clouds. The
// library, its tests and the benchmarks all index through these.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ici3d::layout {

// selected_counts: 4 per point.
inline std::size_t selected_count(std::int64_t i, std::int64_t d) {
  return static_cast<std::size_t>(4 * i + d);
}

// selected_neighbors: one row of max_selected entries per point and
// direction; the index of the row's first entry.
inline std::size_t selected_row(std::int64_t i, std::int64_t d, std::int64_t max_selected) {
  return static_cast<std::size_t>((4 * i + d) * max_selected);
}

// direction_fits: per point, four records of three (the plane normal in
// local coordinates); component 2 > 0 marks an accepted direction.
inline std::size_t direction_fit(std::int64_t i, std::int64_t d, std::int64_t k = 0) {
  return static_cast<std::size_t>(12 * i + 3 * d + k);
}

// direction_estimates: per point, four x values, four y values, four z values.
inline std::size_t direction_estimate(std::int64_t i, std::int64_t c, std::int64_t d) {
  return static_cast<std::size_t>(12 * i + 4 * c + d);
}

// direction_sigmas: four blocks of n, one per direction.
inline std::size_t direction_sigma(std::int64_t i, std::int64_t d, std::int64_t n) {
  return static_cast<std::size_t>(d * n + i);
}

}  // namespace ici3d::layout
