#include "fit_noise.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "plane_fit.h"

namespace ici3d::host::detail {
namespace {

constexpr double kTerms = kHeightFieldTerms;

// 1.4826 MAD of a fit's residuals, corrected for the degrees of freedom the
// fit takes and for the MAD's small-sample bias.
double mad_sigma(const std::vector<double>& residuals) {
  const double n = static_cast<double>(residuals.size());
  const double mad = median_absolute_deviation(residuals);
  return kMadToSigma * mad * std::sqrt(n / (n - kTerms)) * (n / (n - 0.8));
}

double kept_rms(const std::vector<double>& residuals, double cut) {
  double sum = 0;
  size_t kept = 0;
  for (double r : residuals) {
    if (std::fabs(r) > cut) continue;
    sum += r * r;
    ++kept;
  }
  return static_cast<double>(kept) > kTerms
             ? std::sqrt(sum / (static_cast<double>(kept) - kTerms))
             : std::numeric_limits<double>::quiet_NaN();
}

// simulated_fit_calibration for n = kMinFitPoints ... kCalibratedFitPoints,
// printed by fit_calibration_table.cpp.
constexpr double kCalibration[] = {
#include "fit_calibration_table.inc"
};
static_assert(sizeof(kCalibration) / sizeof(kCalibration[0]) ==
              kCalibratedFitPoints - kMinFitPoints + 1);

}  // namespace

double cubic_fit_noise(const std::vector<double>& u, const std::vector<double>& v,
                       const std::vector<double>& w) {
  std::vector<double> residuals = height_field_residuals(u, v, w);
  if (residuals.empty()) return std::numeric_limits<double>::quiet_NaN();
  double sigma = mad_sigma(residuals);
  for (int round = 0; round < kRefits && sigma > 0; ++round) {
    std::vector<char> keep(residuals.size());
    size_t kept = 0;
    for (size_t j = 0; j < residuals.size(); ++j) {
      keep[j] = std::fabs(residuals[j]) <= kRefitCut * sigma;
      kept += keep[j];
    }
    if (kept == residuals.size() || kept < kMinFitPoints) break;
    std::vector<double> refit = height_field_residuals(u, v, w, keep);
    if (refit.empty()) break;
    residuals = std::move(refit);
    sigma = mad_sigma(residuals);
  }
  return sigma > 0 ? kept_rms(residuals, kRefitCut * sigma) : sigma;
}

std::array<double, 3> flat_disc_position(SeededRandom& random, bool at_centre, double noise) {
  const double radius = at_centre ? 0.0 : std::sqrt(random.uniform());
  const double angle = 2.0 * M_PI * random.uniform();
  const double x = radius * std::cos(angle), y = radius * std::sin(angle);
  return {x, y, noise * random.gaussian()};
}

double simulated_fit_calibration(size_t points, int trials, uint64_t seed) {
  SeededRandom random(seed);
  std::vector<double> raw;
  std::vector<double> u(points), v(points), w(points);
  for (int trial = 0; trial < trials; ++trial) {
    for (size_t j = 0; j < points; ++j) {
      const std::array<double, 3> p = flat_disc_position(random, j == 0, 1.0);
      u[j] = p[0];
      v[j] = p[1];
      w[j] = p[2];
    }
    const double sigma = cubic_fit_noise(u, v, w);
    if (std::isfinite(sigma)) raw.push_back(sigma);
  }
  return raw.empty() ? std::numeric_limits<double>::quiet_NaN() : median(std::move(raw));
}

double fit_calibration(size_t points) {
  const size_t n = std::clamp(points, kMinFitPoints, kCalibratedFitPoints);
  return kCalibration[n - kMinFitPoints];
}

}  // namespace ici3d::host::detail
