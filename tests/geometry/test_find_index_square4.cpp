#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "ici3d.h"
#include "test_util.h"

namespace {

struct Selection {
  std::vector<int32_t> positions;  // as returned (1-based)
  int32_t first = 0;               // selected[0], also when nothing was selected
};

Selection select(const std::vector<float> &xyz, int32_t direction, int32_t center, float h,
                 float v) {
  const std::vector<float> coords = ici3d_test::planar(xyz);
  const int32_t count = static_cast<int32_t>(xyz.size() / 3);
  std::vector<int32_t> selected(count > 0 ? count : 1, 12345);
  int32_t num = -7;
  find_index_square4(coords.data(), count, direction, center, selected.data(), &num, h, v);
  Selection s;
  s.first = selected[0];
  s.positions.assign(selected.begin(), selected.begin() + num);
  return s;
}

TEST(FindIndexSquare4, DirectionOneWindowBoundsAreStrict) {
  // centre, inside, on the upper z face, in quadrant 0
  const std::vector<float> pts = {0, 0, 0, -0.5f, 0.5f, 0.9f, -0.5f, 0.5f, 1.0f, 0.5f, 0.5f, 0};
  const Selection s = select(pts, 1, 0, 1.0f, 1.0f);
  EXPECT_EQ(s.positions, (std::vector<int32_t>{2}));  // 1-based position of point 1
}

TEST(FindIndexSquare4, EachQuadrantGetsItsOwnPointsInPositionOrder) {
  // centre at (1, 2, 3), one point per quadrant twice, in shuffled order
  const std::vector<float> pts = {
      1, 2, 3,                   // 0 centre
      1.5f, 2.5f, 3, 0.5f, 2.5f, 3,  // 1: q0, 2: q1
      0.5f, 1.5f, 3, 1.5f, 1.5f, 3,  // 3: q2, 4: q3
      1.2f, 2.2f, 3.1f, 0.8f, 2.2f, 2.9f,  // 5: q0, 6: q1
      0.8f, 1.8f, 3, 1.2f, 1.8f, 3,  // 7: q2, 8: q3
  };
  const std::vector<std::vector<int32_t>> expected = {{2, 6}, {3, 7}, {4, 8}, {5, 9}};
  for (int32_t d = 0; d < 4; ++d) {
    EXPECT_EQ(select(pts, d, 0, 1.0f, 1.0f).positions, expected[d]) << "direction " << d;
  }
}

TEST(FindIndexSquare4, CentreAxesAndOuterEdgeAreNeverSelected) {
  // Points on x = cx, on y = cy, duplicates of the centre and on x = cx + h.
  const std::vector<float> pts = {0, 0, 0,  0, 0.5f, 0,  0.5f, 0, 0,  0, 0, 0,
                                  -0.5f, 0, 0,  0, -0.5f, 0,  1.0f, 0.5f, 0};
  for (int32_t d = 0; d < 4; ++d) {
    EXPECT_TRUE(select(pts, d, 0, 1.0f, 1.0f).positions.empty()) << "direction " << d;
  }
}

TEST(FindIndexSquare4, EmptyResultsLeaveTheMarker) {
  // Nothing passes x: selected[0] is -1 and the count is 0.
  const std::vector<float> pts = {0, 0, 0, -1, 1, 0};
  Selection s = select(pts, 0, 0, 1.0f, 1.0f);
  EXPECT_TRUE(s.positions.empty());
  EXPECT_EQ(s.first, -1);
  // count <= 0 writes the marker and nothing else.
  int32_t sel[1] = {5};
  int32_t num = 9;
  find_index_square4(nullptr, 0, 0, 0, sel, &num, 1.0f, 1.0f);
  EXPECT_EQ(sel[0], -1);
  EXPECT_EQ(num, 0);
}

TEST(FindIndexSquare4, FirstPositionIsReportedOneBased) {
  const std::vector<float> pts = {0.5f, 0.5f, 0, 0, 0, 0};
  const Selection s = select(pts, 0, 1, 1.0f, 1.0f);
  EXPECT_EQ(s.positions, (std::vector<int32_t>{1}));
}

TEST(FindIndexSquare4, NonFiniteSizesAndCoordinatesSelectNothing) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> pts = {0, 0, 0, 0.5f, 0.5f, 0, 0.25f, nan, 0};
  EXPECT_EQ(select(pts, 0, 0, 1.0f, 1.0f).positions, (std::vector<int32_t>{2}));
  EXPECT_TRUE(select(pts, 0, 0, inf, 1.0f).positions.empty());  // 0 * inf is NaN
  EXPECT_TRUE(select(pts, 0, 0, nan, 1.0f).positions.empty());
  EXPECT_TRUE(select(pts, 0, 0, 1.0f, nan).positions.empty());
  // The depth bounds have no zero multiplier: an infinite depth is no limit.
  EXPECT_EQ(select(pts, 0, 0, 1.0f, inf).positions, (std::vector<int32_t>{2}));
}

TEST(FindIndexSquare4, DepthLimitsTheSlab) {
  const std::vector<float> pts = {0, 0, 0, 0.5f, 0.5f, 0.2f, 0.5f, 0.5f, -0.3f, 0.5f, 0.5f, 0.29f};
  EXPECT_EQ(select(pts, 0, 0, 1.0f, 0.3f).positions, (std::vector<int32_t>{2, 4}));
}

}  // namespace
