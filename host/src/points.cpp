#include "ici3d_host/points.h"

#include <algorithm>

namespace ici3d::host {

std::vector<size_t> finite_indices(const std::vector<double>& xyz) {
  std::vector<size_t> out;
  const size_t n = xyz.size() / 3;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    if (is_finite_point(&xyz[3 * i])) out.push_back(i);
  }
  return out;
}

std::array<double, 3> bounding_box_centre(const std::vector<double>& xyz) {
  double lo[3], hi[3];
  for (int c = 0; c < 3; ++c) {
    lo[c] = std::numeric_limits<double>::infinity();
    hi[c] = -lo[c];
  }
  const size_t n = xyz.size() / 3;
  for (size_t i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) {
      lo[c] = std::min(lo[c], xyz[3 * i + c]);
      hi[c] = std::max(hi[c], xyz[3 * i + c]);
    }
  }
  return {0.5 * (lo[0] + hi[0]), 0.5 * (lo[1] + hi[1]), 0.5 * (lo[2] + hi[2])};
}

std::vector<float> recentred_floats(const std::vector<double>& xyz,
                                    const std::array<double, 3>& centre) {
  std::vector<float> out(xyz.size());
  for (size_t k = 0; k < xyz.size(); ++k) out[k] = static_cast<float>(xyz[k] - centre[k % 3]);
  return out;
}

std::vector<float> recentred_floats(const std::vector<double>& xyz) {
  return recentred_floats(xyz, bounding_box_centre(xyz));
}

}  // namespace ici3d::host
