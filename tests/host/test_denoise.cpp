#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ici3d_host/denoise.h"
#include "test_util.h"

namespace {

using namespace ici3d::host;

// A gently curved noisy patch z = 0.1 sin(x) cos(y) on a jittered grid.
std::vector<double> noisy_patch(int side, double spacing, double sigma, uint32_t seed,
                                double ox = 0, double oy = 0, double oz = 0) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, sigma);
  std::uniform_real_distribution<double> jitter(-0.3 * spacing, 0.3 * spacing);
  std::vector<double> xyz;
  for (int a = 0; a < side; ++a) {
    for (int b = 0; b < side; ++b) {
      const double x = a * spacing + jitter(rng), y = b * spacing + jitter(rng);
      xyz.insert(xyz.end(), {ox + x, oy + y, oz + 0.1 * std::sin(x) * std::cos(y) + noise(rng)});
    }
  }
  return xyz;
}

double mean_surface_error(const std::vector<double>& xyz, double oz = 0) {
  double sum = 0;
  const size_t n = xyz.size() / 3;
  for (size_t i = 0; i < n; ++i) {
    const double x = xyz[3 * i], y = xyz[3 * i + 1];
    sum += std::fabs(xyz[3 * i + 2] - oz - 0.1 * std::sin(x) * std::cos(y));
  }
  return sum / static_cast<double>(n);
}

TEST(Denoise, MovesANoisyPatchTowardsItsSurfaceWithEstimatedParameters) {
  std::vector<double> xyz = noisy_patch(60, 0.05, 0.005, 1);
  const double before = mean_surface_error(xyz);
  const DenoiseReport report = denoise_positions(xyz, {});
  EXPECT_TRUE(report.spacing_estimated && report.sigma_estimated);
  EXPECT_NEAR(report.sigma, 0.005, 0.001);
  EXPECT_GT(report.spacing, 0.02);
  EXPECT_LT(report.spacing, 0.06);
  ASSERT_EQ(report.passes.size(), 1u);
  EXPECT_LT(mean_surface_error(xyz), 0.7 * before);
}

TEST(Denoise, FarFromTheOriginGivesTheSameDisplacements) {
  // Scanner coordinates around 10^6 must not lose precision in float.
  std::vector<double> near = noisy_patch(30, 0.05, 0.005, 2);
  std::vector<double> far = noisy_patch(30, 0.05, 0.005, 2, 1e6, 2e6, -3e6);
  const std::vector<double> near0 = near, far0 = far;
  DenoiseOptions o;
  o.sigma = 0.005;
  o.spacing = 0.05;
  denoise_positions(near, o);
  denoise_positions(far, o);
  double worst = 0;
  for (size_t k = 0; k < near.size(); ++k) {
    worst = std::max(worst, std::fabs((far[k] - far0[k]) - (near[k] - near0[k])));
  }
  EXPECT_LT(worst, 1e-5);
}

TEST(Denoise, KeepsOrderAttributesAndNonFinitePoints) {
  PointCloud cloud;
  cloud.xyz = noisy_patch(25, 0.05, 0.004, 3);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  cloud.xyz[3 * 7 + 1] = nan;
  cloud.xyz[3 * 8] = std::numeric_limits<double>::infinity();
  Attribute& label = cloud.add_attribute("label", ScalarType::Int32);
  for (size_t i = 0; i < cloud.size(); ++i) label.set<int32_t>(i, static_cast<int32_t>(i * 3));
  const std::vector<unsigned char> bytes = cloud.attributes[0].bytes;
  const std::vector<double> before = cloud.xyz;
  DenoiseOptions o;
  o.output_sigma = o.output_displacement = o.output_normal = true;
  const DenoiseReport report = denoise(cloud, o);
  EXPECT_EQ(report.non_finite, 2u);
  EXPECT_EQ(cloud.attributes[0].bytes, bytes);
  EXPECT_TRUE(std::isnan(cloud.xyz[3 * 7 + 1]));
  EXPECT_EQ(cloud.xyz[3 * 7], before[3 * 7]);
  EXPECT_EQ(cloud.xyz[3 * 8], std::numeric_limits<double>::infinity());
  ASSERT_NE(cloud.find_attribute("noise_sigma"), nullptr);
  ASSERT_NE(cloud.find_attribute("displacement"), nullptr);
  ASSERT_NE(cloud.find_attribute("nz"), nullptr);
  EXPECT_TRUE(std::isnan(cloud.find_attribute("noise_sigma")->get<float>(7)));
  EXPECT_GT(std::fabs(cloud.find_attribute("nz")->get<float>(100)), 0.95f);
  // The displacement attribute is the distance each point moved.
  const Attribute* d = cloud.find_attribute("displacement");
  for (size_t i : {size_t{0}, size_t{100}, size_t{300}}) {
    double d2 = 0;
    for (int c = 0; c < 3; ++c) d2 += std::pow(cloud.xyz[3 * i + c] - before[3 * i + c], 2);
    EXPECT_FLOAT_EQ(d->get<float>(i), static_cast<float>(std::sqrt(d2)));
  }
}

TEST(Denoise, DegenerateCloudsNeverProduceNaN) {
  const std::vector<std::vector<double>> clouds = {
      {},                                        // empty
      {1, 2, 3},                                 // one point
      {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3},      // all identical
      {0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0, 5, 0, 0},  // collinear
      {0, 0, 0, 1, 0, 0.1, 0, 1, -0.1, 1, 1, 0},  // fewer points than k
  };
  for (const auto& c : clouds) {
    std::vector<double> xyz = c;
    EXPECT_NO_THROW(denoise_positions(xyz, {}));
    for (double v : xyz) EXPECT_TRUE(std::isfinite(v));
  }
  // A patch with many exact duplicates.
  std::vector<double> dup = noisy_patch(20, 0.05, 0.003, 4);
  const size_t n = dup.size() / 3;
  for (size_t i = 0; i < n; i += 3) dup.insert(dup.end(), &dup[3 * i], &dup[3 * i] + 3);
  denoise_positions(dup, {});
  for (double v : dup) EXPECT_TRUE(std::isfinite(v));
}

TEST(Denoise, ReportsProgressAndKeepsStdoutClean) {
  std::vector<double> xyz = noisy_patch(110, 0.05, 0.004, 5);  // 12100 points
  std::vector<double> overall;
  DenoiseOptions o;
  o.passes = 2;
  o.progress = [&](const Progress& p) { overall.push_back(p.overall); };
  const std::string out = ici3d_test::capture_stdout([&] { denoise_positions(xyz, o); });
  EXPECT_EQ(out, "");
  // Per pass: after 1000, 2000, ... 12000 points and at 12100.
  ASSERT_EQ(overall.size(), 26u);
  EXPECT_DOUBLE_EQ(overall[0], 0.5 * 1000 / 12100);
  EXPECT_EQ(overall[12], 0.5);
  EXPECT_DOUBLE_EQ(overall[13], 0.5 + 0.5 * 1000 / 12100);
  EXPECT_TRUE(std::adjacent_find(overall.begin(), overall.end(), std::greater_equal<double>()) ==
              overall.end());
  EXPECT_EQ(overall.back(), 1.0);
}

// Two runs on two threads: the first progress report of each waits until the
// other run has reported too, so both finish only if they run at the same
// time (runs taking turns would leave one waiting until the timeout).
TEST(Denoise, ConcurrentRunsOverlapAndFinishWithTheirOwnResults) {
  const std::vector<double> clouds[2] = {noisy_patch(75, 0.05, 0.004, 7),
                                         noisy_patch(75, 0.05, 0.004, 8)};
  std::vector<double> alone[2] = {clouds[0], clouds[1]};
  for (auto& c : alone) denoise_positions(c, {});

  std::mutex mutex;
  std::condition_variable cv;
  int arrived = 0;
  bool missed = false;
  std::vector<double> results[2] = {clouds[0], clouds[1]};
  std::vector<std::thread> threads;
  for (int k = 0; k < 2; ++k) {
    threads.emplace_back([&, k] {
      DenoiseOptions o;
      bool first = true;
      o.progress = [&](const Progress&) {
        if (!first) return;
        first = false;
        std::unique_lock<std::mutex> lock(mutex);
        ++arrived;
        cv.notify_all();
        if (!cv.wait_for(lock, std::chrono::seconds(30), [&] { return arrived == 2; })) missed = true;
      };
      denoise_positions(results[k], o);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(missed);
  for (int k = 0; k < 2; ++k) EXPECT_EQ(results[k], alone[k]) << k;
}

TEST(Denoise, RejectsOptionsThatCannotWork) {
  std::vector<double> xyz = noisy_patch(5, 0.05, 0.004, 6);
  auto rejects = [&](auto spoil) {
    DenoiseOptions o;
    spoil(o);
    EXPECT_THROW(denoise_positions(xyz, o), DenoiseError);
  };
  rejects([](DenoiseOptions& o) { o.passes = 0; });
  rejects([](DenoiseOptions& o) { o.k = 2; });
  rejects([](DenoiseOptions& o) { o.sigma = -1; });
  rejects([](DenoiseOptions& o) { o.scale_ratio = 1.0; });
  rejects([](DenoiseOptions& o) { o.num_scales = 40; });
  rejects([](DenoiseOptions& o) { o.spacing = std::numeric_limits<double>::infinity(); });
  EXPECT_EQ(preset_from_name("smooth"), Preset::Smooth);
  EXPECT_THROW(preset_from_name("sharp"), std::invalid_argument);
}

}  // namespace

// The windows reach the library as base / sqrt(size_norm) with
// 1 / sqrt(size_norm) near 6 sigma: the window is exactly what the options
// say, the balance length follows the noise, and the base stays a small
// positive integer for any spacing and noise, however far apart.
TEST(LibraryWindows, SameWindowsBalanceFollowsTheNoiseBaseBounded) {
  struct Case {
    double spacing, sigma;
    int32_t base;
  } cases[] = {
      {1.0, 0.05, 7},      // noise far below the spacing: smallest window 2, 2 / 0.3 = 6.7
      {1.0, 0.2, 2},       // 2 / 1.2 = 1.7
      {1.0, 3.0, 1},       // noise above the spacing: windows in noise levels
      {1e150, 1e-150, 1000},  // a floored noise level beside a given spacing
  };
  for (const Case& c : cases) {
    DenoiseOptions o;
    o.spacing = c.spacing;
    o.sigma = c.sigma;
    const LibraryWindows w = library_windows(o);
    const double unit = std::max(c.spacing, c.sigma);
    EXPECT_EQ(w.window_unit, unit);
    EXPECT_EQ(w.base, c.base) << c.spacing << " " << c.sigma;
    EXPECT_NEAR(w.base / std::sqrt(w.size_norm), o.base_size * unit, 1e-12 * o.base_size * unit);
    EXPECT_NEAR(w.preselect_size, o.base_size * unit * std::pow(o.scale_ratio, o.num_scales),
                1e-12 * w.preselect_size);
  }
}
