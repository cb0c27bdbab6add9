#include <omp.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "clouds.h"
#include "ici3d.h"
#include "test_util.h"

namespace {

using ici3d_test::Cloud;

constexpr float kGamma = ICI3D_GAMMA_DETAIL, kRegWeight = ICI3D_REG_WEIGHT_DETAIL,
                kSigmaFactor = ICI3D_SIGMA_FACTOR;

// Inputs of one pass over precomputed frames.
struct Pass {
  Cloud cloud;
  std::vector<float> frames, noise, denoised;
  std::vector<int32_t> axes;
  ici3d_test::CandidateLists candidates;
  int32_t num_scales = 3;
  float window = 1.0f;  // base window half-size in length units
  int32_t max_selected = 0;

  Pass(Cloud c, float sigma, float radius) : cloud(std::move(c)) {
    ici3d_test::frames_from_normals(cloud.normals, frames, axes);
    noise.assign(cloud.n(), sigma);
    candidates = ici3d_test::brute_force_candidates(cloud.points, radius);
    max_selected = candidates.longest;
  }
  void run() {
    denoised.assign(cloud.points.size(), -1.0f);
    const float size_norm = 1.0f / (window * window);
    main_loop3_parallel(candidates.pointers.data(), candidates.counts.data(), frames.data(),
                        axes.data(), cloud.n(), max_selected, kGamma, 1e6f, 1.5f, size_norm,
                        kRegWeight, kSigmaFactor, noise.data(), cloud.points.data(), num_scales,
                        1, denoised.data());
  }
};

// Points on a sphere with exact normals; small enough for brute force.
Pass sphere_pass(int32_t n, float sigma, uint32_t seed) {
  Pass p(ici3d_test::noisy_sphere(n, 1.0f, sigma, seed), sigma, 0.35f);
  p.window = 0.08f;
  return p;
}

// Isolated points (each list holds only the point itself): nothing is spread.
Pass isolated_pass(int32_t n, float sigma) {
  Cloud c;
  for (int32_t k = 0; k < n; ++k) {
    c.points.insert(c.points.end(), {static_cast<float>(k) * 0.37f, 1.25f, -0.5f});
    c.normals.insert(c.normals.end(), {0, 0, 1});
  }
  return Pass(std::move(c), sigma, 0.0f);
}

// New noise levels f * (s0 * -0.096979050915966 / 0.4 + s * 1.080554506357781)
// (f = 0.5333 as float, s0 the old level of point 0), evaluated exactly in
// rational arithmetic and rounded once to float, for s0 = 0.2 and
// s = 0.2, 0.1, 0.3, and for s0 = s = 0.01.
constexpr float kNoiseAfter02From02 = 0x1.6e26cep-4f;
constexpr float kNoiseAfter01From02 = 0x1.043b32p-5f;
constexpr float kNoiseAfter03From02 = 0x1.2d1802p-3f;
constexpr float kNoiseAfter001From001 = 0x1.24ebd8p-8f;

TEST(MainLoop, ProgressLinesEvery5000PointsShowTheFinishedIndex) {
  Pass p = isolated_pass(10000, 0.1f);
  std::string out = ici3d_test::capture_stdout([&] { p.run(); });
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  // Whichever thread finishes a point, the lines come in rising order.
  EXPECT_EQ(lines, (std::vector<std::string>{"49.99% of points processed ",
                                             "99.99% of points processed "}));

  Pass small = isolated_pass(4999, 0.1f);
  EXPECT_EQ(ici3d_test::capture_stdout([&] { small.run(); }), "");
}

TEST(MainLoop, PointWithoutPlanesTakesItsFusedEstimateAndNoiseFromPointZero) {
  Pass p = isolated_pass(5, 0.1f);
  p.noise = {0.2f, 0.1f, 0.1f, 0.3f, 0.1f};
  p.run();
  for (size_t k = 0; k < p.cloud.points.size(); ++k) {
    EXPECT_NEAR(p.denoised[k], p.cloud.points[k], std::fabs(p.cloud.points[k]) * 1e-6f) << k;
  }
  // Every point, point 0 included, uses the level of point 0 from before the update.
  EXPECT_EQ(p.noise, (std::vector<float>{kNoiseAfter02From02, kNoiseAfter01From02,
                                          kNoiseAfter01From02, kNoiseAfter03From02,
                                          kNoiseAfter01From02}));
}

TEST(MainLoop, PointsOnAPlaneStayOnIt) {
  Cloud c;
  for (int a = 0; a < 20; ++a) {
    for (int b = 0; b < 20; ++b) {
      c.points.insert(c.points.end(), {0.1f * a + 0.013f * b, 0.1f * b, 2.0f});
      c.normals.insert(c.normals.end(), {0, 0, 1});
    }
  }
  Pass p(std::move(c), 0.01f, 0.6f);
  p.window = 0.25f;
  p.run();
  int32_t moved = 0;
  for (int32_t i = 0; i < p.cloud.n(); ++i) {
    EXPECT_NEAR(p.denoised[3 * i + 2], 2.0f, 1e-5f);
    EXPECT_NEAR(p.denoised[3 * i], p.cloud.points[3 * i], 1e-5f);
    moved += p.noise[i] != kNoiseAfter001From001;
  }
  EXPECT_GT(moved, 0);  // planes were spread, so noise levels come from the estimates
}

TEST(MainLoop, NoisySphereMovesTowardsTheSurface) {
  Pass p = sphere_pass(3000, 0.01f, 11);
  p.run();
  double before = 0, after = 0;
  for (int32_t i = 0; i < p.cloud.n(); ++i) {
    const float *a = &p.cloud.points[3 * i], *b = &p.denoised[3 * i];
    before += std::fabs(std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]) - 1.0f);
    after += std::fabs(std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]) - 1.0f);
  }
  EXPECT_LT(after, 0.8 * before);
}

// The spreading splits the receiving points among the threads; the sphere's
// points come in random order, so every window reaches into every block.
TEST(MainLoop, ResultsAreBitIdenticalForAnyThreadCount) {
  std::vector<std::vector<float>> points, noise;
  for (int threads : {1, 2, 3, 7}) {
    omp_set_num_threads(threads);
    Pass p = sphere_pass(2000, 0.02f, 5);
    p.run();
    points.push_back(p.denoised);
    noise.push_back(p.noise);
  }
  omp_set_num_threads(omp_get_num_procs());
  for (size_t k = 1; k < points.size(); ++k) {
    EXPECT_EQ(ici3d_test::first_bit_difference(points[0], points[k]), -1) << k;
    EXPECT_EQ(ici3d_test::first_bit_difference(noise[0], noise[k]), -1) << k;
  }
}

TEST(MainLoop, PointMissingFromItsOwnListIsNotEstimated) {
  Pass p = isolated_pass(3, 0.1f);
  p.candidates.lists[1] = {0, 2};  // point 1 is not in its own list
  p.candidates.pointers[1] = p.candidates.lists[1].data();
  p.candidates.counts[1] = 2;
  p.max_selected = 2;
  p.run();
  EXPECT_NEAR(p.denoised[4], p.cloud.points[4], 1e-6f);
}

TEST(MainLoop, EmptyCloudTouchesNothing) {
  float noise = 0.5f, out = -3.0f;
  main_loop3_parallel(nullptr, nullptr, nullptr, nullptr, 0, 1, kGamma, 1, 1, 1, kRegWeight,
                      kSigmaFactor, &noise, nullptr, 1, 1, &out);
  EXPECT_EQ(noise, 0.5f);
  EXPECT_EQ(out, -3.0f);
}

TEST(MainLoop, FailedAllocationHandsBackTheInput) {
  // A window table of 4 * n * max_selected entries that cannot exist.
  Pass p = isolated_pass(64, 0.1f);
  p.max_selected = std::numeric_limits<int32_t>::max();
  const std::vector<float> noise = p.noise;
  p.run();
  EXPECT_EQ(p.denoised, p.cloud.points);
  EXPECT_EQ(p.noise, noise);
}

}  // namespace
