#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "metrics.h"

namespace ici3d::bench {
namespace {

std::vector<double> random_cloud(size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> xyz(3 * n);
  for (double& x : xyz) x = u(rng);
  return xyz;
}

double brute_force_mean_squared_nearest(const std::vector<double>& from,
                                        const std::vector<double>& to) {
  double sum = 0;
  for (size_t i = 0; i < from.size(); i += 3) {
    double best = std::numeric_limits<double>::infinity();
    for (size_t j = 0; j < to.size(); j += 3) {
      double d2 = 0;
      for (int c = 0; c < 3; ++c) d2 += (from[i + c] - to[j + c]) * (from[i + c] - to[j + c]);
      best = std::min(best, d2);
    }
    sum += best;
  }
  return sum / (from.size() / 3);
}

TEST(Chamfer, MatchesBruteForceInBothDirections) {
  const std::vector<double> a = random_cloud(700, 1), b = random_cloud(500, 2);
  const double ab = brute_force_mean_squared_nearest(a, b);
  const double ba = brute_force_mean_squared_nearest(b, a);
  EXPECT_NEAR(mean_squared_nearest(a, b), ab, 1e-12);
  EXPECT_NEAR(mean_squared_nearest(b, a), ba, 1e-12);
  EXPECT_NEAR(chamfer_distance(a, b), ab + ba, 1e-12);
  EXPECT_EQ(chamfer_distance(a, a), 0.0);
}

TEST(Chamfer, ShiftOfASparseCloud) {
  // Points 1 apart shifted by 0.1: each one's nearest is its own copy.
  std::vector<double> a, b;
  for (int i = 0; i < 10; ++i) {
    a.insert(a.end(), {double(i), 0, 0});
    b.insert(b.end(), {double(i), 0.1, 0});
  }
  EXPECT_NEAR(chamfer_distance(a, b), 2 * 0.01, 1e-12);
}

TEST(CloudIndex, NearestAreSortedAndClipped) {
  const std::vector<double> xyz = {0, 0, 0, 3, 0, 0, 1, 0, 0, 2, 0, 0};
  const CloudIndex index(xyz);
  const double q[3] = {0.1, 0, 0};
  EXPECT_EQ(index.nearest(q, 3), (std::vector<size_t>{0, 2, 3}));
  EXPECT_EQ(index.nearest(q, 10).size(), 4u);
  EXPECT_NEAR(index.nearest_squared_distance(q), 0.01, 1e-15);
}

TEST(PcaNormals, RecoverATiltedPlane) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(-1, 1);
  std::vector<double> xyz;
  for (int i = 0; i < 500; ++i) {
    const double x = u(rng), y = u(rng);
    xyz.insert(xyz.end(), {x, y, 0.3 * x - 0.2 * y});
  }
  const std::vector<double> normals = pca_normals(xyz, 12);
  const double len = std::sqrt(0.09 + 0.04 + 1);
  std::vector<double> truth;
  for (int i = 0; i < 500; ++i) truth.insert(truth.end(), {-0.3 / len, 0.2 / len, 1 / len});
  EXPECT_LT(mean_unoriented_angle_deg(normals, truth), 1e-6);
}

TEST(NormalAngle, IsUnorientedAndSkipsZeroVectors) {
  const std::vector<double> a = {1, 0, 0, 1, 0, 0, 0, 0, 0};
  const std::vector<double> b = {-2, 0, 0, 0, 1, 0, 1, 0, 0};
  EXPECT_NEAR(mean_unoriented_angle_deg(a, b), 45.0, 1e-12);
  EXPECT_EQ(mean_unoriented_angle_deg({}, {}), 0.0);
}

}  // namespace
}  // namespace ici3d::bench
