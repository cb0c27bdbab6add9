#include "robust_stats.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace ici3d::host::detail {

double median(std::vector<double> values) {
  if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
  const size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid), values.end());
  const double upper = values[mid];
  if (values.size() % 2 == 1) return upper;
  const double lower =
      *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid));
  return 0.5 * (lower + upper);
}

double densest_quarter(std::vector<double> values) {
  if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
  std::sort(values.begin(), values.end());
  const size_t width = std::min(values.size(), std::max<size_t>(3, values.size() / 4));
  size_t best = 0;
  for (size_t i = 1; i + width <= values.size(); ++i)
    if (values[i + width - 1] - values[i] < values[best + width - 1] - values[best]) best = i;
  const auto first = values.begin() + static_cast<std::ptrdiff_t>(best);
  return median(std::vector<double>(first, first + static_cast<std::ptrdiff_t>(width)));
}

double median_absolute_deviation(const std::vector<double>& values) {
  const double center = median(values);
  std::vector<double> deviations(values.size());
  for (size_t i = 0; i < values.size(); ++i) deviations[i] = std::fabs(values[i] - center);
  return median(std::move(deviations));
}

uint64_t SeededRandom::next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double SeededRandom::uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

uint64_t SeededRandom::below(uint64_t bound) { return next() % bound; }

double SeededRandom::gaussian() {
  const double u1 = 1.0 - uniform();  // in (0, 1]
  const double u2 = uniform();
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
}

std::vector<size_t> sample_without_replacement(size_t population, size_t count, uint64_t seed) {
  std::vector<size_t> all(population);
  std::iota(all.begin(), all.end(), size_t{0});
  if (count >= population) return all;
  SeededRandom random(seed);
  for (size_t i = 0; i < count; ++i) {
    const size_t j = i + static_cast<size_t>(random.below(population - i));
    std::swap(all[i], all[j]);
  }
  all.resize(count);
  std::sort(all.begin(), all.end());
  return all;
}

}  // namespace ici3d::host::detail
