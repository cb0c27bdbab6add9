// The neighbourhood noise measure and its calibration table.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "fit_noise.h"

using namespace ici3d::host::detail;

namespace {

struct Patch {
  std::vector<double> u, v, w;
};

// n points uniform in the unit disc with Gaussian heights of spread sigma.
Patch noisy_disc(size_t n, double sigma, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::normal_distribution<double> gauss(0.0, sigma);
  Patch p;
  while (p.u.size() < n) {
    const double x = uniform(rng), y = uniform(rng);
    if (x * x + y * y > 1.0) continue;
    p.u.push_back(x);
    p.v.push_back(y);
    p.w.push_back(gauss(rng));
  }
  return p;
}

}  // namespace

// A cubic added to the heights is taken up by the fit, to rounding.
TEST(FitNoise, IgnoresAnyCubicUnderTheNoise) {
  Patch p = noisy_disc(200, 0.05, 3);
  const double flat = cubic_fit_noise(p.u, p.v, p.w);
  for (size_t j = 0; j < p.w.size(); ++j) {
    const double u = p.u[j], v = p.v[j];
    p.w[j] += 3.0 - 2.0 * u + 0.5 * v + 4.0 * u * v - 1.5 * v * v + 2.0 * u * u * u - u * v * v;
  }
  EXPECT_NEAR(cubic_fit_noise(p.u, p.v, p.w), flat, 1e-9);
  // Noise-free: nothing is read.
  std::vector<double> exact(p.w.size());
  for (size_t j = 0; j < exact.size(); ++j) exact[j] = 1.0 + p.u[j] * p.u[j] * p.v[j];
  EXPECT_LT(cubic_fit_noise(p.u, p.v, exact), 1e-12);
}

TEST(FitNoise, OutliersAndAFarSideAreCutOff) {
  Patch p = noisy_disc(400, 0.1, 5);
  const double clean = cubic_fit_noise(p.u, p.v, p.w);
  // A tenth of the points 30 sigma off: outliers, or the far side of a crease.
  for (size_t j = 0; j < p.w.size(); j += 10) p.w[j] += 3.0;
  EXPECT_NEAR(cubic_fit_noise(p.u, p.v, p.w) / clean, 1.0, 0.05);
}

// The table is what the simulation gives, checked with other random draws.
TEST(FitNoise, CalibrationTableMatchesAFreshSimulation) {
  for (size_t n : {kMinFitPoints, size_t{24}, size_t{40}, kCalibratedFitPoints}) {
    SCOPED_TRACE(n);
    EXPECT_NEAR(simulated_fit_calibration(n, 2001, 12345 + n) / fit_calibration(n), 1.0, 0.015);
  }
  // Beyond the table, the last entry; below its start, the first.
  EXPECT_EQ(fit_calibration(5000), fit_calibration(kCalibratedFitPoints));
  EXPECT_EQ(fit_calibration(3), fit_calibration(kMinFitPoints));
}

// With many points only the trim at 2.5 sigma is left: the spread of a normal
// distribution cut there, sqrt(1 - 2 c phi(c) / (2 Phi(c) - 1)) at c = 2.5.
TEST(FitNoise, LargeFitsReadAsANormalTrimmedAtTheCut) {
  const double c = kRefitCut;
  const double density = std::exp(-0.5 * c * c) / std::sqrt(2 * M_PI);
  const double inside = std::erf(c / std::sqrt(2.0));
  EXPECT_NEAR(fit_calibration(kCalibratedFitPoints), std::sqrt(1 - 2 * c * density / inside), 0.005);
  // Fewer points read lower still.
  EXPECT_LT(fit_calibration(kMinFitPoints), fit_calibration(kCalibratedFitPoints) - 0.02);
}
