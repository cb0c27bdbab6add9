#include "ici3d_shapes/random.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "ici3d_shapes/geometry.h"

namespace ici3d::shapes {

double SeededRandom::uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

double SeededRandom::normal() {
  if (has_spare_) {
    has_spare_ = false;
    return spare_;
  }
  const double radius = std::sqrt(-2 * std::log(1 - uniform()));
  const double angle = 2 * kPi * uniform();
  spare_ = radius * std::sin(angle);
  has_spare_ = true;
  return radius * std::cos(angle);
}

size_t pick_by_share(const std::vector<double>& cumulative, SeededRandom& random) {
  const double pick = random.uniform() * cumulative.back();
  const size_t at = static_cast<size_t>(
      std::upper_bound(cumulative.begin(), cumulative.end(), pick) - cumulative.begin());
  return std::min(at, cumulative.size() - 1);
}

std::vector<double> add_gaussian_noise(std::vector<double> xyz, double sigma,
                                       SeededRandom& random) {
  if (sigma > 0) {
    for (double& value : xyz) value += sigma * random.normal();
  }
  return xyz;
}

std::vector<double> add_gaussian_noise(std::vector<double> xyz, double sigma, uint64_t seed) {
  SeededRandom random(seed);
  return add_gaussian_noise(std::move(xyz), sigma, random);
}

uint64_t seed_from(const std::string& key) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char ch : key) {
    h ^= ch;
    h *= 1099511628211ull;
  }
  return h;
}

}  // namespace ici3d::shapes
