// Quadrant selection harness: find_index_square4 on a window of raw floats.
//
// Input: count (one byte, 0..64), direction (one byte, 0..3), centre (one
// byte, 0..count-1), half_size and half_depth (raw floats), then the planar
// coordinates (3*count raw floats).
//
// The selection must be exactly the points strictly inside the quadrant's box,
// ascending and 1-based, written within max(count, 1) entries; NaN anywhere
// selects nothing that involves it.
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "ici3d.h"

namespace {

using ici3d_fuzz::check;

constexpr int32_t kMaxCount = 64;

// Lower x, y, z and upper x, y, z multipliers of the half-sizes per quadrant.
constexpr int32_t kBounds[4][6] = {
    {0, 0, -1, 1, 1, 1}, {-1, 0, -1, 0, 1, 1}, {-1, -1, -1, 0, 0, 1}, {0, -1, -1, 1, 0, 1}};

bool inside(int32_t lower_mult, int32_t upper_mult, float size, float centre, float v) {
  const float lower = static_cast<float>(lower_mult) * size + centre;
  const float upper = static_cast<float>(upper_mult) * size + centre;
  return lower < v && v < upper;
}

// The 1-based positions the selection must return, by the definition.
std::vector<int32_t> expected_selection(const std::vector<float>& coords, int32_t count,
                                        int32_t direction, int32_t center, float half_size,
                                        float half_depth, bool* any_x) {
  const int32_t* m = kBounds[direction];
  const float* xs = coords.data();
  const float* ys = xs + count;
  const float* zs = ys + count;
  std::vector<int32_t> out;
  *any_x = false;
  for (int32_t p = 0; p < count; ++p) {
    if (!inside(m[0], m[3], half_size, xs[center], xs[p])) continue;
    *any_x = true;
    if (!inside(m[1], m[4], half_size, ys[center], ys[p])) continue;
    if (!inside(m[2], m[5], half_depth, zs[center], zs[p])) continue;
    out.push_back(p + 1);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ici3d_fuzz::ByteReader in(data, size);
  const int32_t count = in.below(kMaxCount + 1);
  const int32_t direction = in.below(4);
  const int32_t center = in.below(count);
  const float half_size = in.take<float>();
  const float half_depth = in.take<float>();
  const std::vector<float> coords = in.floats(3 * static_cast<size_t>(count));

  std::vector<int32_t> selected(count > 0 ? static_cast<size_t>(count) : 1, -7);
  int32_t num_selected = -7;
  find_index_square4(coords.data(), count, direction, center, selected.data(), &num_selected,
                     half_size, half_depth);

  bool any_x = false;
  const std::vector<int32_t> expected =
      count > 0 ? expected_selection(coords, count, direction, center, half_size, half_depth, &any_x)
                : std::vector<int32_t>();
  check(num_selected == static_cast<int32_t>(expected.size()), "the number of selected points");
  for (size_t k = 0; k < expected.size(); ++k) {
    check(selected[k] == expected[k], "exactly the points strictly inside the box, ascending");
  }
  if (!any_x) check(selected[0] == -1, "selected[0] is -1 when no point passes the x test");
  return 0;
}
