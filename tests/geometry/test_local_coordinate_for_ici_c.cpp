#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "ici3d.h"
#include "test_util.h"

namespace {

struct Frame {
  int32_t axes[3];
  float m[9];  // column k is eigenvector k
  float column(int k, int r) const { return m[3 * r + k]; }
};

Frame frame_of(const std::vector<float> &pts, const std::vector<int32_t> &row, int32_t n = -1) {
  Frame f{};
  const int32_t count = static_cast<int32_t>(pts.size() / 3);
  local_coordinate_for_ici_c(pts.data(), row.data(), 0, static_cast<int32_t>(row.size()),
                             n < 0 ? count : n, f.axes, f.m);
  return f;
}

// Six points on the axes: the scatter matrix is exactly diag(2a^2, 2b^2, 2c^2),
// which the eigen solver returns in diagonal order.
std::vector<float> axis_cross(float a, float b, float c) {
  return {a, 0, 0, -a, 0, 0, 0, b, 0, 0, -b, 0, 0, 0, c, 0, 0, -c};
}

std::vector<int32_t> all_rows(int32_t count) {
  std::vector<int32_t> row(count);
  std::iota(row.begin(), row.end(), 0);
  return row;
}

void expect_axes(const Frame &f, std::array<int32_t, 3> expected) {
  EXPECT_EQ(f.axes[0], expected[0]);
  EXPECT_EQ(f.axes[1], expected[1]);
  EXPECT_EQ(f.axes[2], expected[2]);
}

void expect_permutation(const Frame &f) {
  std::vector<int32_t> a(f.axes, f.axes + 3);
  std::sort(a.begin(), a.end());
  EXPECT_EQ(a, (std::vector<int32_t>{0, 1, 2}));
}

TEST(LocalCoordinate, AxesFollowTheEigenvaluesByValue) {
  const std::vector<int32_t> row = all_rows(6);
  expect_axes(frame_of(axis_cross(1.5f, 0.5f, 1.0f), row), {0, 2, 1});  // (4.5, 0.5, 2)
  expect_axes(frame_of(axis_cross(0.5f, 1.5f, 1.0f), row), {1, 2, 0});  // (0.5, 4.5, 2)
  expect_axes(frame_of(axis_cross(1.0f, 1.5f, 0.5f), row), {1, 0, 2});  // (2, 4.5, 0.5)
}

TEST(LocalCoordinate, TiesAndDegenerateNeighbourhoodsStillGiveAPermutation) {
  const std::vector<int32_t> row = all_rows(6);
  expect_axes(frame_of(axis_cross(1, 1, 1), row), {0, 2, 1});        // all equal
  expect_axes(frame_of(axis_cross(1, 1, 0.5f), row), {0, 1, 2});     // two largest equal
  expect_axes(frame_of(axis_cross(1, 0.5f, 0.5f), row), {0, 2, 1});  // two smallest equal
  // One point only (K = 1) and no neighbours at all (K = 0): zero matrix.
  const std::vector<float> one = {3, 4, 5};
  Frame f = frame_of(one, {0});
  expect_axes(f, {0, 2, 1});
  Frame g{};
  local_coordinate_for_ici_c(one.data(), nullptr, 0, 0, 1, g.axes, g.m);
  expect_axes(g, {0, 2, 1});
  for (int k = 0; k < 9; ++k) EXPECT_EQ(g.m[k], (k % 4 == 0) ? 1.0f : 0.0f);
}

TEST(LocalCoordinate, NonFiniteCoordinatesStillGiveAPermutation) {
  const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), 3e38f};
  for (float v : specials) {
    std::vector<float> pts = axis_cross(1.5f, 0.5f, 1.0f);
    pts[4] = v;
    expect_permutation(frame_of(pts, all_rows(6)));
  }
}

TEST(LocalCoordinate, LineAndPlaneGiveTheExpectedAxes) {
  std::mt19937 rng(7);
  std::normal_distribution<float> small(0.0f, 0.01f);
  std::uniform_real_distribution<float> along(-1.0f, 1.0f);
  std::vector<float> line, plane;
  for (int k = 0; k < 40; ++k) {
    line.insert(line.end(), {along(rng) + 5, small(rng) - 2, small(rng) + 1});
    // plane spanned by (2, -1, -2) and (2, 2, -3)
    const float u = along(rng), v = along(rng);
    plane.insert(plane.end(), {2 * u + 2 * v, -u + 2 * v, -2 * u - 3 * v});
  }
  const Frame fl = frame_of(line, all_rows(40));
  EXPECT_GT(std::fabs(fl.column(fl.axes[0], 0)), 0.999f);
  // The plane's normal is the cross product of its spanning vectors.
  const float s1[3] = {2, -1, -2}, s2[3] = {2, 2, -3};
  float nrm[3] = {s1[1] * s2[2] - s1[2] * s2[1], s1[2] * s2[0] - s1[0] * s2[2],
                  s1[0] * s2[1] - s1[1] * s2[0]};
  const float len = std::sqrt(nrm[0] * nrm[0] + nrm[1] * nrm[1] + nrm[2] * nrm[2]);
  const Frame fp = frame_of(plane, all_rows(40));
  float dot = 0;
  for (int r = 0; r < 3; ++r) dot += fp.column(fp.axes[2], r) * nrm[r] / len;
  EXPECT_GT(std::fabs(dot), 0.9999f);
}

TEST(LocalCoordinate, RepeatedEntriesCountOncePerEntryAndNIsNotRead) {
  // Listing point 1 twice is the same as listing a distinct copy of it.
  const std::vector<float> pts = {0, 0, 0, 1, 0.2f, 0.1f, 0.3f, 1, -0.2f, -0.4f, 0.1f, 0.7f,
                                  1, 0.2f, 0.1f};
  const Frame twice = frame_of(pts, {0, 1, 1, 2, 3});
  const Frame copy = frame_of(pts, {0, 1, 4, 2, 3});
  const Frame other_n = frame_of(pts, {0, 1, 4, 2, 3}, 123456);
  for (int k = 0; k < 9; ++k) {
    EXPECT_EQ(ici3d_test::float_bits(twice.m[k]), ici3d_test::float_bits(copy.m[k]));
    EXPECT_EQ(ici3d_test::float_bits(other_n.m[k]), ici3d_test::float_bits(copy.m[k]));
  }
  for (int k = 0; k < 3; ++k) EXPECT_EQ(twice.axes[k], copy.axes[k]);
}

}  // namespace
