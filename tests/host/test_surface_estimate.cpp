// Noise level and surface spacing of noisy surfaces whose truth is known, from
// noise far below the point spacing to many times above it.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "ici3d_host/denoise.h"
#include "ici3d_host/estimate.h"

using ici3d::host::estimate_surface;
using ici3d::host::SurfaceEstimate;

namespace {

// Fewer measured positions than the default keep the large neighbourhoods of
// the noisiest cases quick; the median is still well determined.
constexpr size_t kSamples = 600;

class Sampler {
 public:
  explicit Sampler(unsigned seed) : rng_(seed) {}
  double uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
  double gaussian(double sigma) { return std::normal_distribution<double>(0.0, sigma)(rng_); }

  // p plus isotropic Gaussian noise, appended to xyz.
  void add(std::vector<double>& xyz, double x, double y, double z, double sigma) {
    xyz.push_back(x + gaussian(sigma));
    xyz.push_back(y + gaussian(sigma));
    xyz.push_back(z + gaussian(sigma));
  }

 private:
  std::mt19937_64 rng_;
};

// A square of side `side` at density 1 (spacing 1), tilted so that no axis is
// special.
std::vector<double> plane(double side, double sigma, unsigned seed) {
  Sampler s(seed);
  std::vector<double> xyz;
  const int n = static_cast<int>(side * side);
  for (int i = 0; i < n; ++i) {
    const double u = s.uniform(0, side), v = s.uniform(0, side);
    s.add(xyz, 0.8 * u, v, 0.6 * u + 100.0, sigma);
  }
  return xyz;
}

std::vector<double> sphere(double radius, double sigma, unsigned seed) {
  Sampler s(seed);
  std::vector<double> xyz;
  const int n = static_cast<int>(4 * M_PI * radius * radius);
  for (int i = 0; i < n; ++i) {
    const double z = s.uniform(-1, 1), phi = s.uniform(0, 2 * M_PI), r = std::sqrt(1 - z * z);
    s.add(xyz, radius * r * std::cos(phi), radius * r * std::sin(phi), radius * z, sigma);
  }
  return xyz;
}

std::vector<double> cylinder(double radius, double length, double sigma, unsigned seed) {
  Sampler s(seed);
  std::vector<double> xyz;
  const int n = static_cast<int>(2 * M_PI * radius * length);
  for (int i = 0; i < n; ++i) {
    const double phi = s.uniform(0, 2 * M_PI);
    s.add(xyz, radius * std::cos(phi), radius * std::sin(phi), s.uniform(0, length), sigma);
  }
  return xyz;
}

// The six faces of a cube: twelve creases and eight corners.
std::vector<double> cube(double side, double sigma, unsigned seed) {
  Sampler s(seed);
  std::vector<double> xyz;
  const int per_face = static_cast<int>(side * side);
  for (int face = 0; face < 6; ++face) {
    for (int i = 0; i < per_face; ++i) {
      double p[3];
      p[face / 2] = face % 2 == 0 ? 0.0 : side;
      p[(face / 2 + 1) % 3] = s.uniform(0, side);
      p[(face / 2 + 2) % 3] = s.uniform(0, side);
      s.add(xyz, p[0], p[1], p[2], sigma);
    }
  }
  return xyz;
}

SurfaceEstimate estimate(const std::vector<double>& xyz, double known_sigma = 0) {
  return estimate_surface(xyz.data(), xyz.size() / 3, known_sigma, kSamples);
}

void expect_within(double value, double truth, double tolerance, const char* what) {
  EXPECT_NEAR(value / truth, 1.0, tolerance) << what << " " << value << " for " << truth;
}

}  // namespace

// Spacing 1 throughout: sigma in the test names is in spacings.
TEST(SurfaceEstimate, PlaneFromTinyToHugeNoise) {
  for (double sigma : {0.05, 0.5, 2.0, 8.0}) {
    SCOPED_TRACE(sigma);
    // Wide enough for the neighbourhood the largest noise needs (about 45 sigma).
    const double side = sigma > 4 ? 420 : 160;
    const SurfaceEstimate e = estimate(plane(side, sigma, 11));
    expect_within(e.sigma, sigma, 0.1, "sigma");
    expect_within(e.spacing, 1.0, 0.1, "spacing");
    // The neighbourhood grew with the noise and settled beyond it.
    EXPECT_GE(e.radius, 2.0 * sigma);
    EXPECT_GE(e.rounds, 1);
  }
}

TEST(SurfaceEstimate, CurvedSurfacesDoNotReadAsNoise) {
  // Radius 30 sigma: the curvature is plain in a neighbourhood of a few sigma.
  for (double sigma : {0.3, 1.5}) {
    SCOPED_TRACE(sigma);
    const SurfaceEstimate s = estimate(sphere(30 * sigma, sigma, 3));
    expect_within(s.sigma, sigma, 0.1, "sphere sigma");
    expect_within(s.spacing, 1.0, 0.1, "sphere spacing");
    const SurfaceEstimate c = estimate(cylinder(30 * sigma, 40 * sigma + 40, sigma, 5));
    expect_within(c.sigma, sigma, 0.1, "cylinder sigma");
  }
  // Clean and strongly curved (radius 8 spacings): no noise is invented.
  EXPECT_LT(estimate(sphere(8, 0.0, 7)).sigma, 0.02);
}

TEST(SurfaceEstimate, CreasesAndCornersAreKeptOut) {
  for (double sigma : {0.1, 1.0, 2.5}) {
    SCOPED_TRACE(sigma);
    const SurfaceEstimate e = estimate(cube(80, sigma, 13));
    expect_within(e.sigma, sigma, 0.1, "sigma");
    expect_within(e.spacing, 1.0, 0.1, "spacing");
  }
}

// A sheet folded like a roof over and over: ridges and valleys `pitch` apart
// with faces at 30 degrees, spacing 1 on the surface.
std::vector<double> folded_sheet(double pitch, double side, double sigma, unsigned seed) {
  Sampler s(seed);
  std::vector<double> xyz;
  const double slope = std::tan(M_PI / 6), stretch = std::sqrt(1 + slope * slope);
  const int n = static_cast<int>(side * side * stretch);
  for (int i = 0; i < n; ++i) {
    const double x = s.uniform(0, side), y = s.uniform(0, side);
    const double phase = std::fmod(x, 2 * pitch);
    const double height = slope * (phase < pitch ? phase : 2 * pitch - phase);
    s.add(xyz, x, y, height, sigma);
  }
  return xyz;
}

// Creases 10 sigma apart: most neighbourhoods reach one, yet the faces
// between them give the noise.
TEST(SurfaceEstimate, CreasesEverywhereStillGiveTheNoise) {
  for (double sigma : {0.5, 2.0}) {
    SCOPED_TRACE(sigma);
    const SurfaceEstimate e = estimate(folded_sheet(10 * sigma, 40 * sigma + 60, sigma, 19));
    expect_within(e.sigma, sigma, 0.1, "sigma");
  }
}

TEST(SurfaceEstimate, DensityChangingFourfoldAcrossTheCloud) {
  // Left half at density 4 (spacing 0.5), right half at density 1.
  Sampler s(17);
  std::vector<double> xyz;
  const double sigma = 0.4;
  for (int i = 0; i < 4 * 60 * 120; ++i) s.add(xyz, s.uniform(0, 60), s.uniform(0, 120), 0, sigma);
  for (int i = 0; i < 60 * 120; ++i) s.add(xyz, s.uniform(60, 120), s.uniform(0, 120), 0, sigma);
  const SurfaceEstimate e = estimate(xyz);
  expect_within(e.sigma, sigma, 0.1, "sigma");
  // The spacing lies between the two halves' (0.5 and 1).
  EXPECT_GE(e.spacing, 0.45);
  EXPECT_LE(e.spacing, 1.1);
}

TEST(SurfaceEstimate, OutliersDoNotInflateTheNoise) {
  for (double sigma : {0.2, 2.0}) {
    SCOPED_TRACE(sigma);
    std::vector<double> xyz = plane(160, sigma, 19);
    // 1 % uniform outliers in a box around the plane.
    Sampler s(23);
    const size_t n = xyz.size() / 3;
    for (size_t i = 0; i < n / 100; ++i)
      s.add(xyz, s.uniform(0, 128), s.uniform(0, 160), s.uniform(90, 210), 0.0);
    const SurfaceEstimate e = estimate(xyz);
    expect_within(e.sigma, sigma, 0.1, "sigma");
    expect_within(e.spacing, 1.0, 0.1, "spacing");
  }
}

TEST(SurfaceEstimate, KnownSigmaSizesTheDensityNeighbourhood) {
  const std::vector<double> xyz = plane(200, 4.0, 29);
  const SurfaceEstimate e = estimate(xyz, 4.0);
  EXPECT_EQ(e.rounds, 1);
  EXPECT_DOUBLE_EQ(e.radius, 10.0);  // 2.5 sigma
  expect_within(e.spacing, 1.0, 0.1, "spacing");
  expect_within(e.sigma, 4.0, 0.1, "measured sigma");
}

TEST(SurfaceEstimate, CloudsWithoutASurfaceGiveNoEstimate) {
  EXPECT_TRUE(std::isnan(estimate_surface(nullptr, 0).sigma));
  const std::vector<double> one = {1, 2, 3};
  EXPECT_TRUE(std::isnan(estimate_surface(one.data(), 1).spacing));
  const std::vector<double> same = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_TRUE(std::isnan(estimate_surface(same.data(), 3).sigma));

  std::vector<double> line;
  for (int i = 0; i < 300; ++i) line.insert(line.end(), {0.5 * i, 2.0 * i, -1.0 * i});
  const SurfaceEstimate on_line = estimate_surface(line.data(), 300);
  EXPECT_TRUE(std::isnan(on_line.sigma));
  EXPECT_EQ(on_line.collinear + on_line.too_few_points, on_line.samples);

  EXPECT_THROW(estimate_surface(nullptr, 4), std::invalid_argument);
}

TEST(SurfaceEstimate, PipelineStaysFiniteWhereNothingCanBeEstimated) {
  const std::vector<std::vector<double>> clouds = {
      sphere(1.3, 0.01, 31),  // about 20 points
      {0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0},
      {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5},
  };
  for (const std::vector<double>& cloud : clouds) {
    std::vector<double> xyz = cloud;
    const ici3d::host::DenoiseReport r = ici3d::host::denoise_positions(xyz, {});
    for (double v : xyz) EXPECT_TRUE(std::isfinite(v));
    EXPECT_TRUE(std::isfinite(r.spacing) || r.degenerate == r.points) << r.points;
  }
}

TEST(SurfaceEstimate, GivenValuesWinOverTheEstimate) {
  std::vector<double> xyz = plane(60, 0.3, 37);
  ici3d::host::DenoiseOptions o;
  o.sigma = 0.7;
  o.spacing = 2.0;
  const ici3d::host::DenoiseReport r = ici3d::host::denoise_positions(xyz, o);
  EXPECT_EQ(r.sigma, 0.7);
  EXPECT_EQ(r.spacing, 2.0);
  EXPECT_FALSE(r.sigma_estimated);
  EXPECT_FALSE(r.spacing_estimated);
  EXPECT_EQ(r.noise_rounds, 0);
}
