#include "ici3d.h"

namespace {

// Multipliers of the window bounds per quadrant: lower x, lower y, lower z,
// upper x, upper y, upper z. The quadrants go counter-clockwise from (+x, +y).
constexpr int32_t kDirectionBounds[4][6] = {
    {0, 0, -1, 1, 1, 1},
    {-1, 0, -1, 0, 1, 1},
    {-1, -1, -1, 0, 0, 1},
    {0, -1, -1, 1, 0, 1},
};

// One bound: multiplier times size, plus the centre, in single precision.
// A zero multiplier times an infinite size gives NaN, which rejects every point.
inline float bound(int32_t multiplier, float size, float centre) {
  return static_cast<float>(multiplier) * size + centre;
}

// Evaluates both comparisons: the passes below append without branching on
// the outcome, which is mostly unpredictable.
inline int32_t strictly_inside(float lower, float value, float upper) {
  return static_cast<int32_t>(lower < value) & static_cast<int32_t>(value < upper);
}

}  // namespace

extern "C" void find_index_square4(const float *coords, int32_t count, int32_t direction,
                                   int32_t center, int32_t *selected, int32_t *num_selected,
                                   float half_size, float half_depth) {
  selected[0] = -1;
  *num_selected = 0;
  if (count <= 0) return;

  const int32_t *mult = kDirectionBounds[direction];
  const float *xs = coords;
  const float *ys = coords + count;
  const float *zs = coords + 2 * static_cast<int64_t>(count);
  const float cx = xs[center], cy = ys[center], cz = zs[center];

  // Each pass writes every candidate at the next free place and advances
  // only past those inside; the place written is never beyond the one read.
  // Pass over x: collect positions in order.
  const float lower_x = bound(mult[0], half_size, cx);
  const float upper_x = bound(mult[3], half_size, cx);
  int32_t found = 0;
  for (int32_t p = 0; p < count; ++p) {
    selected[found] = p;
    found += strictly_inside(lower_x, xs[p], upper_x);
  }
  if (found == 0) {
    selected[0] = -1;
    return;
  }

  // Pass over y, compacting in place.
  const float lower_y = bound(mult[1], half_size, cy);
  const float upper_y = bound(mult[4], half_size, cy);
  int32_t kept = 0;
  for (int32_t k = 0; k < found; ++k) {
    const int32_t p = selected[k];
    selected[kept] = p;
    kept += strictly_inside(lower_y, ys[p], upper_y);
  }
  if (kept == 0) return;

  // Pass over z, compacting in place and switching to 1-based positions.
  const float lower_z = bound(mult[2], half_depth, cz);
  const float upper_z = bound(mult[5], half_depth, cz);
  int32_t out = 0;
  for (int32_t k = 0; k < kept; ++k) {
    const int32_t p = selected[k];
    selected[out] = p + 1;
    out += strictly_inside(lower_z, zs[p], upper_z);
  }
  *num_selected = out;
}
