// The seeded random numbers: the same sequence everywhere, and the
// distribution the noise asks for.

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "ici3d_shapes/random.h"

namespace ici3d::shapes {
namespace {

// Uniform values are the engine's top 53 bits, exact on every platform;
// normal values go through log, sin and cos, which may differ in the last bit.
TEST(SeededRandom, AGivenSeedGivesTheSameNumbersEverywhere) {
  SeededRandom random(2024);
  EXPECT_EQ(random.uniform(), 0x1.39b1c9e957cb2p-1);
  EXPECT_EQ(random.uniform(), 0x1.96e50634f5cdbp-1);
  EXPECT_EQ(random.uniform(), 0x1.10086ce6c6f18p-2);
  SeededRandom again(2024);
  EXPECT_NEAR(again.normal(), 0.38190196815831567, 1e-14);
  EXPECT_NEAR(again.normal(), -1.3233225100704378, 1e-14);
  EXPECT_NEAR(again.normal(), -0.39703874527460181, 1e-14);
  EXPECT_NE(SeededRandom(2025).uniform(), SeededRandom(2024).uniform());
}

TEST(SeededRandom, NormalHasZeroMeanAndUnitVariance) {
  SeededRandom random(9);
  double sum = 0, sum_squares = 0;
  const int n = 200000;
  for (int i = 0; i < n; ++i) {
    const double v = random.normal();
    sum += v;
    sum_squares += v * v;
  }
  EXPECT_NEAR(sum / n, 0, 0.01);
  EXPECT_NEAR(sum_squares / n, 1, 0.01);
}

TEST(GaussianNoise, HasTheRequestedSpread) {
  SeededRandom random(11);
  const std::vector<double> noisy = add_gaussian_noise(std::vector<double>(30000, 0.0), 0.02, random);
  const double mean = std::accumulate(noisy.begin(), noisy.end(), 0.0) / noisy.size();
  double var = 0;
  for (double x : noisy) var += (x - mean) * (x - mean);
  EXPECT_NEAR(mean, 0.0, 5e-4);
  EXPECT_NEAR(std::sqrt(var / noisy.size()), 0.02, 5e-4);
  // No noise: the points unchanged and the generator untouched.
  const std::vector<double> xyz = {1, 2, 3};
  SeededRandom fresh(11), used(11);
  EXPECT_EQ(add_gaussian_noise(xyz, 0.0, used), xyz);
  EXPECT_EQ(used.uniform(), fresh.uniform());
  // A seed stands for a fresh generator.
  SeededRandom seeded(5);
  EXPECT_EQ(add_gaussian_noise(xyz, 0.1, 5), add_gaussian_noise(xyz, 0.1, seeded));
}

// The benchmarks' clouds depend on these keys: FNV-1a's published values.
TEST(SeedFrom, IsFnv1a) {
  EXPECT_EQ(seed_from(""), 0xcbf29ce484222325ull);
  EXPECT_EQ(seed_from("a"), 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(seed_from("foobar"), 0x85944171f73967e8ull);
  EXPECT_NE(seed_from("fandisk/10000"), seed_from("fandisk/50000"));
}

}  // namespace
}  // namespace ici3d::shapes
