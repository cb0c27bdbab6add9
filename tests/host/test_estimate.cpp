// Spacing and noise estimates on synthetic surfaces with known parameters.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "ici3d_host/estimate.h"

using ici3d::host::estimate_noise;
using ici3d::host::estimate_spacing;
using ici3d::host::NoiseEstimate;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Frame {
  double u[3], v[3], w[3];  // orthonormal: two in-plane axes and the normal
};

// An oblique frame, so that no estimate can lean on the coordinate axes.
Frame oblique_frame() {
  const double a = 0.6, b = 0.8, c = std::sqrt(0.5);
  return Frame{{a * c, b * c, c}, {-b, a, 0.0}, {-a * c, -b * c, c}};
}

void append_point(std::vector<double>& xyz, const Frame& f, double s, double t, double h,
                  const double origin[3]) {
  for (int c = 0; c < 3; ++c) xyz.push_back(origin[c] + s * f.u[c] + t * f.v[c] + h * f.w[c]);
}

// side x side grid of step `step` on an oblique plane far from the origin.
std::vector<double> grid_plane(int side, double step) {
  const Frame f = oblique_frame();
  const double origin[3] = {1000.0, -250.0, 40.0};
  std::vector<double> xyz;
  for (int i = 0; i < side; ++i)
    for (int j = 0; j < side; ++j) append_point(xyz, f, i * step, j * step, 0.0, origin);
  return xyz;
}

enum class Layout { kRandom, kGrid };

// `count` points at density 1 per unit area, uniformly random or on a unit
// grid, with Gaussian noise of standard deviation sigma on every coordinate.
std::vector<double> noisy_plane(int count, double sigma, unsigned seed,
                                Layout layout = Layout::kRandom) {
  const Frame f = oblique_frame();
  const double origin[3] = {-30.0, 12.0, 500.0};
  const int side = static_cast<int>(std::sqrt(static_cast<double>(count)));
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> along(0.0, side);
  std::normal_distribution<double> noise(0.0, sigma);
  std::vector<double> xyz;
  for (int i = 0; i < count; ++i) {
    const double s = layout == Layout::kGrid ? i / side : along(rng);
    const double t = layout == Layout::kGrid ? i % side : along(rng);
    append_point(xyz, f, s + noise(rng), t + noise(rng), noise(rng), origin);
  }
  return xyz;
}

// Evenly spread (Fibonacci) points on a sphere of radius `radius`, with
// isotropic Gaussian noise.
std::vector<double> noisy_sphere(int count, double radius, double sigma, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, sigma);
  const double golden = M_PI * (3.0 - std::sqrt(5.0));
  std::vector<double> xyz;
  for (int i = 0; i < count; ++i) {
    const double z = 1.0 - (2.0 * i + 1.0) / count;
    const double r = std::sqrt(1.0 - z * z);
    const double phi = golden * i;
    xyz.push_back(radius * r * std::cos(phi) + noise(rng));
    xyz.push_back(radius * r * std::sin(phi) + noise(rng));
    xyz.push_back(radius * z + noise(rng));
  }
  return xyz;
}

size_t point_count(const std::vector<double>& xyz) { return xyz.size() / 3; }

}  // namespace

// ---------------------------------------------------------------------------
// Spacing

TEST(Spacing, IsTheStepOfARegularGrid) {
  for (double step : {0.01, 0.5, 3.0}) {
    const std::vector<double> xyz = grid_plane(60, step);
    EXPECT_NEAR(estimate_spacing(xyz.data(), point_count(xyz)), step, 1e-9 * step) << step;
  }
}

TEST(Spacing, IgnoresDuplicatesOutliersAndNonFinitePoints) {
  std::vector<double> xyz = grid_plane(50, 0.2);
  const size_t grid = point_count(xyz);
  for (size_t i = 0; i < grid; i += 2)
    xyz.insert(xyz.end(), {xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]});
  std::mt19937 rng(3u);
  std::uniform_real_distribution<double> far(-1e4, 1e4);
  for (int i = 0; i < 100; ++i) xyz.insert(xyz.end(), {far(rng), far(rng), far(rng)});
  xyz.insert(xyz.end(), {kNaN, 0.0, 0.0, 1.0, INFINITY, 2.0});
  EXPECT_NEAR(estimate_spacing(xyz.data(), point_count(xyz)), 0.2, 1e-9);
}

TEST(Spacing, SubsampleIsDeterministicAndClose) {
  const std::vector<double> xyz = noisy_plane(40000, 0.05, 7u);
  const double full = estimate_spacing(xyz.data(), point_count(xyz), 0);
  const double sampled = estimate_spacing(xyz.data(), point_count(xyz), 2000, 1);
  EXPECT_EQ(estimate_spacing(xyz.data(), point_count(xyz), 2000, 4), sampled);
  EXPECT_NEAR(sampled, full, 0.05 * full);
}

TEST(Spacing, UndefinedWithoutTwoDistinctPositions) {
  EXPECT_TRUE(std::isnan(estimate_spacing(nullptr, 0)));
  const std::vector<double> same = {1, 2, 3, 1, 2, 3, kNaN, 0, 0};
  EXPECT_TRUE(std::isnan(estimate_spacing(same.data(), 3)));
  EXPECT_THROW(estimate_spacing(nullptr, 4), std::invalid_argument);
}

TEST(Spacing, DensityMakesWindowSizesCountSpacings) {
  const double h = 0.25;
  const double size_norm = ici3d::host::density_from_spacing(h);
  EXPECT_DOUBLE_EQ(3.0 / std::sqrt(size_norm), 3.0 * h);
  for (double bad : {0.0, -1.0, kNaN, double(INFINITY)})
    EXPECT_THROW(ici3d::host::density_from_spacing(bad), std::invalid_argument);
}

// ---------------------------------------------------------------------------
// Noise

TEST(Noise, RecoversSigmaOnANoisyPlane) {
  // Density 1: the spacing is about 1, the noise a fraction of it.
  for (double sigma : {0.01, 0.05, 0.2}) {
    const std::vector<double> xyz = noisy_plane(30000, sigma, 17u);
    const NoiseEstimate e = estimate_noise(xyz.data(), point_count(xyz));
    EXPECT_NEAR(e.sigma, sigma, 0.1 * sigma) << sigma;
    EXPECT_EQ(e.collinear + e.too_few_points, 0u);
  }
}

// The plane takes degrees of freedom from its neighbourhood, a larger share the
// smaller it is; the estimate must not drift with k, on random or grid layouts.
TEST(Noise, StaysUnbiasedAcrossNeighbourhoodSizes) {
  const double sigma = 0.05;
  for (Layout layout : {Layout::kRandom, Layout::kGrid}) {
    const std::vector<double> xyz = noisy_plane(30000, sigma, 23u, layout);
    for (int k : {8, 16, 48}) {
      const NoiseEstimate e = estimate_noise(xyz.data(), point_count(xyz), k, 5000);
      EXPECT_EQ(e.neighbors, k);
      EXPECT_NEAR(e.sigma, sigma, 0.1 * sigma) << "k " << k;
    }
  }
}

TEST(Noise, RecoversSigmaOnANoisySphere) {
  // 40000 points on radius 50: spacing about 0.89, radius/spacing about 56.
  for (double sigma : {0.05, 0.1, 0.25}) {
    const std::vector<double> xyz = noisy_sphere(40000, 50.0, sigma, 31u);
    EXPECT_NEAR(estimate_noise(xyz.data(), point_count(xyz)).sigma, sigma, 0.1 * sigma) << sigma;
  }
}

TEST(Noise, RobustToOutliersAndDuplicates) {
  const double sigma = 0.05;
  std::vector<double> xyz = noisy_plane(20000, sigma, 41u);
  const double clean = estimate_noise(xyz.data(), point_count(xyz)).sigma;
  std::vector<double> doubled = xyz;
  doubled.insert(doubled.end(), xyz.begin(), xyz.end());
  EXPECT_EQ(estimate_noise(doubled.data(), point_count(doubled)).sigma, clean);

  std::mt19937 rng(5u);
  std::uniform_int_distribution<size_t> pick(0, point_count(xyz) - 1);
  std::normal_distribution<double> jump(0.0, 10.0 * sigma);
  for (int i = 0; i < 1200; ++i) xyz[3 * pick(rng) + static_cast<size_t>(i % 3)] += jump(rng);
  EXPECT_NEAR(estimate_noise(xyz.data(), point_count(xyz)).sigma, sigma, 0.1 * sigma);
}

TEST(Noise, SubsampleIsSeededAndThreadIndependent) {
  const std::vector<double> xyz = noisy_plane(30000, 0.1, 43u);
  const NoiseEstimate one = estimate_noise(xyz.data(), point_count(xyz), 16, 3000, 1);
  const NoiseEstimate many = estimate_noise(xyz.data(), point_count(xyz), 16, 3000, 3);
  ASSERT_EQ(one.points.size(), 3000u);
  EXPECT_TRUE(std::is_sorted(one.points.begin(), one.points.end()));
  EXPECT_EQ(many.points, one.points);
  EXPECT_EQ(many.point_sigma, one.point_sigma);
  EXPECT_EQ(many.sigma, one.sigma);
  const NoiseEstimate all = estimate_noise(xyz.data(), point_count(xyz), 16, 0);
  EXPECT_EQ(all.points.size(), point_count(xyz));
  EXPECT_NEAR(one.sigma, all.sigma, 0.05 * all.sigma);
}

TEST(Noise, ReportsDegenerateNeighbourhoods) {
  std::vector<double> line;
  for (int i = 0; i < 200; ++i) line.insert(line.end(), {0.5 * i, 0.25 * i, -0.1 * i});
  const NoiseEstimate on_line = estimate_noise(line.data(), 200);
  EXPECT_EQ(on_line.collinear, 200u);
  EXPECT_TRUE(std::isnan(on_line.sigma));
  EXPECT_TRUE(std::isnan(on_line.point_sigma[0]));

  const std::vector<double> few = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0.1, 0, 0, 0};
  const NoiseEstimate tiny = estimate_noise(few.data(), 5);
  EXPECT_EQ(tiny.neighbors, 4);
  EXPECT_EQ(tiny.too_few_points, 4u);
  EXPECT_TRUE(std::isnan(tiny.sigma));
  EXPECT_THROW(estimate_noise(few.data(), 5, 7), std::invalid_argument);
}

TEST(Noise, ExactPlaneHasZeroNoise) {
  const std::vector<double> xyz = grid_plane(30, 0.3);
  EXPECT_NEAR(estimate_noise(xyz.data(), point_count(xyz)).sigma, 0.0, 1e-9);
}
