#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "ici3d_host/points.h"

namespace {

using namespace ici3d::host;

TEST(Points, FiniteIndicesSkipEveryNonFiniteCoordinate) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double max = std::numeric_limits<double>::max();
  const std::vector<double> xyz = {0, 0, 0,  nan, 1, 1,  1, -inf, 1,
                                   1, 1, inf, max, -max, 0, 2, 2, 2};
  EXPECT_EQ(finite_indices(xyz), (std::vector<size_t>{0, 4, 5}));
  EXPECT_TRUE(finite_indices({}).empty());
}

TEST(Points, RecentringAboutTheBoxCentreKeepsFarCoordinatesExact) {
  // A box from 10^7 to 10^7 + 2 (x), -4 to 0 (y), 7 (z): centre (10^7 + 1, -2, 7).
  const std::vector<double> xyz = {1e7, -4, 7, 1e7 + 2, 0, 7, 1e7 + 0.125, -1, 7};
  const std::array<double, 3> centre = bounding_box_centre(xyz);
  EXPECT_EQ(centre, (std::array<double, 3>{1e7 + 1, -2, 7}));
  // Float spacing near 10^7 is 1: the eighth survives only relative to the centre.
  EXPECT_EQ(recentred_floats(xyz), (std::vector<float>{-1, -2, 0, 1, 2, 0, -0.875f, 1, 0}));
  EXPECT_EQ(recentred_floats(xyz, {0, 0, 0})[6], 1e7f);
}

}  // namespace
