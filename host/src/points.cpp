#include "ici3d_host/points.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
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

BoundingBox bounding_box(const std::vector<double>& xyz) {
  BoundingBox box;
  box.lo.fill(std::numeric_limits<double>::infinity());
  box.hi.fill(-std::numeric_limits<double>::infinity());
  const size_t n = xyz.size() / 3;
  for (size_t i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) {
      box.lo[c] = std::min(box.lo[c], xyz[3 * i + c]);
      box.hi[c] = std::max(box.hi[c], xyz[3 * i + c]);
    }
  }
  return box;
}

double BoundingBox::extent() const {
  return std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
}

std::array<double, 3> bounding_box_centre(const std::vector<double>& xyz) {
  const BoundingBox box = bounding_box(xyz);
  return {0.5 * (box.lo[0] + box.hi[0]), 0.5 * (box.lo[1] + box.hi[1]),
          0.5 * (box.lo[2] + box.hi[2])};
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
  std::vector<double> chosen;
  chosen.reserve(3 * which.size());
  for (size_t i : which) chosen.insert(chosen.end(), &xyz[3 * i], &xyz[3 * i] + 3);
  const BoundingBox box = bounding_box(chosen);
  const std::vector<uint64_t> codes = space_filling_codes(chosen, box.lo, box.hi);
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
