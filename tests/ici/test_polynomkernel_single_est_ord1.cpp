#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "ici3d.h"
#include "test_util.h"

namespace {

struct KernelResult {
  float estimate = -99.0f;
  std::vector<float> weights;
  float fit[3] = {-99.0f, -99.0f, -99.0f};
};

KernelResult kernel(const std::vector<float> &xyz) {
  const std::vector<float> window = ici3d_test::planar(xyz);
  const int32_t count = static_cast<int32_t>(xyz.size() / 3);
  KernelResult r;
  r.weights.assign(count, -99.0f);
  polynomkernel_single_est_ord1(window.data(), count, &r.estimate, r.weights.data(), r.fit);
  return r;
}

TEST(PolynomKernel, RecoversAnExactPlane) {
  // z = 2 + 0.5 x - y, point 0 at the origin
  std::vector<float> pts;
  const float xy[][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {-1, 2}, {2, -1}, {0.5f, -0.5f}};
  for (const auto &p : xy) pts.insert(pts.end(), {p[0], p[1], 2.0f + 0.5f * p[0] - p[1]});
  const KernelResult r = kernel(pts);
  EXPECT_NEAR(r.estimate, 2.0f, 1e-5f);
  EXPECT_NEAR(r.fit[0], -0.5f, 1e-5f);
  EXPECT_NEAR(r.fit[1], 1.0f, 1e-5f);
  EXPECT_EQ(r.fit[2], 1.0f);
  float sum = 0;
  for (float w : r.weights) sum += w;
  EXPECT_NEAR(sum, 1.0f, 1e-5f);
}

TEST(PolynomKernel, SymmetricFourPointWindowWeighsEveryPointAQuarter) {
  const std::vector<float> pts = {0, 0, 1.0f, 1, 0, 2.0f, 0, 1, 3.0f, -1, -1, 6.0f};
  const KernelResult r = kernel(pts);
  for (float w : r.weights) EXPECT_EQ(w, 0.25f);
  EXPECT_EQ(r.estimate, 3.0f);  // the mean of the four heights, exactly
}

TEST(PolynomKernel, EmptyWindowGivesZeroAndSignedZeroSlopes) {
  KernelResult r;
  r.weights = {-99.0f};
  polynomkernel_single_est_ord1(nullptr, 0, &r.estimate, r.weights.data(), r.fit);
  EXPECT_EQ(r.estimate, 0.0f);
  EXPECT_TRUE(std::signbit(r.fit[0]) && r.fit[0] == 0.0f);
  EXPECT_TRUE(std::signbit(r.fit[1]) && r.fit[1] == 0.0f);
  EXPECT_EQ(r.fit[2], 1.0f);
  EXPECT_EQ(r.weights[0], -99.0f);  // not written
}

TEST(PolynomKernel, CollinearWindowGivesNonFiniteOutputWithoutCrashing) {
  const std::vector<float> pts = {0, 0, 0, 1, 1, 1, 2, 2, 0, 3, 3, 1};
  const KernelResult r = kernel(pts);
  EXPECT_FALSE(std::isfinite(r.estimate) && std::fabs(r.estimate) < 1e6f);
}

}  // namespace
