// Small deterministic statistics helpers of the estimators.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ici3d::host::detail {

// Median of the values (mean of the two middle ones for an even count); NaN
// for none. Takes a copy because it reorders.
double median(std::vector<double> values);

// Location of the densest part of a sample: the median of the shortest
// interval that holds a quarter of the values (at least 3 of them; all of them
// when fewer). Where most values scatter on one side of a common peak (noise
// levels inflated near creases, counts inflated near edges), it stays at the
// peak while up to three quarters of the values are off it. NaN for none.
double densest_quarter(std::vector<double> values);

// Median absolute deviation from the median, unscaled; NaN for none.
double median_absolute_deviation(const std::vector<double>& values);

// Consistency factor of the MAD for a Gaussian: sigma = 1.4826 * MAD.
inline constexpr double kMadToSigma = 1.4826;

// splitmix64: a tiny seeded generator whose sequence is the same on every
// platform (the standard distributions are not).
class SeededRandom {
 public:
  explicit SeededRandom(uint64_t seed) : state_(seed) {}
  uint64_t next();
  double uniform();                // in [0, 1)
  uint64_t below(uint64_t bound);  // in [0, bound), bound > 0
  double gaussian();               // standard normal (Box-Muller)

 private:
  uint64_t state_;
};

// `count` distinct values of 0..population-1, ascending, chosen by a seeded
// partial Fisher-Yates shuffle; all of them when count >= population.
std::vector<size_t> sample_without_replacement(size_t population, size_t count, uint64_t seed);

}  // namespace ici3d::host::detail
