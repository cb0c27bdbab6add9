#include "ici3d_host/points.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "morton.h"

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

std::vector<uint64_t> space_filling_codes(const std::vector<double>& xyz,
                                          const std::array<double, 3>& lo,
                                          const std::array<double, 3>& hi) {
  const double side = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
  const double top = static_cast<double>(detail::kCellsPerAxis - 1);
  const double scale = side > 0 ? top / side : 0.0;
  const size_t n = xyz.size() / 3;
  std::vector<uint64_t> codes(n);
  for (size_t i = 0; i < n; ++i) {
    uint64_t cell[3];
    for (int a = 0; a < 3; ++a) {
      const double f = std::floor((xyz[3 * i + a] - lo[a]) * scale);
      cell[a] = static_cast<uint64_t>(std::clamp(f, 0.0, top));
    }
    codes[i] = detail::morton_code(cell[0], cell[1], cell[2]);
  }
  return codes;
}

std::vector<size_t> space_filling_order(const std::vector<double>& xyz,
                                        const std::vector<size_t>& which) {
  std::array<double, 3> lo{}, hi{};
  std::vector<double> chosen;
  chosen.reserve(3 * which.size());
  for (size_t k = 0; k < which.size(); ++k) {
    for (int c = 0; c < 3; ++c) {
      const double v = xyz[3 * which[k] + c];
      lo[c] = k == 0 ? v : std::min(lo[c], v);
      hi[c] = k == 0 ? v : std::max(hi[c], v);
      chosen.push_back(v);
    }
  }
  const std::vector<uint64_t> codes = space_filling_codes(chosen, lo, hi);
  std::vector<std::pair<uint64_t, size_t>> keyed;
  keyed.reserve(which.size());
  for (size_t k = 0; k < which.size(); ++k) keyed.emplace_back(codes[k], which[k]);
  std::sort(keyed.begin(), keyed.end());
  std::vector<size_t> order;
  order.reserve(keyed.size());
  for (const auto& k : keyed) order.push_back(k.second);
  return order;
}

}  // namespace ici3d::host
