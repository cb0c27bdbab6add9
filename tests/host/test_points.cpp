#include <algorithm>
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

TEST(Points, CodesOverTheWholeBoxOrderAnyPartAsTheWholeSetIsOrdered) {
  // Codes computed piece by piece with the box of all the points, sorted
  // with the indices, give space_filling_order's order.
  std::vector<double> xyz;
  for (int i = 0; i < 500; ++i) {
    const double t = i * 0.618034;
    xyz.insert(xyz.end(), {std::fmod(t, 1.0) * 3 - 1, std::fmod(t * 7, 1.0) * 2, std::fmod(t * 13, 1.0)});
  }
  xyz.insert(xyz.end(), {xyz[0], xyz[1], xyz[2]});  // a tie, broken by the index
  const size_t n = xyz.size() / 3;
  std::vector<size_t> all(n);
  for (size_t i = 0; i < n; ++i) all[i] = i;
  std::array<double, 3> lo = {xyz[0], xyz[1], xyz[2]}, hi = lo;
  for (size_t i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) {
      lo[c] = std::min(lo[c], xyz[3 * i + c]);
      hi[c] = std::max(hi[c], xyz[3 * i + c]);
    }
  }
  std::vector<std::pair<uint64_t, size_t>> keyed;
  for (size_t begin = 0; begin < n; begin += 97) {
    const size_t end = std::min(n, begin + 97);
    const std::vector<double> part(xyz.begin() + 3 * begin, xyz.begin() + 3 * end);
    const std::vector<uint64_t> codes = space_filling_codes(part, lo, hi);
    for (size_t i = begin; i < end; ++i) keyed.emplace_back(codes[i - begin], i);
  }
  std::sort(keyed.begin(), keyed.end());
  std::vector<size_t> order;
  for (const auto& k : keyed) order.push_back(k.second);
  EXPECT_EQ(order, space_filling_order(xyz, all));
  // A single point (a box of no extent) has code 0.
  EXPECT_EQ(space_filling_codes({5, 5, 5}, {5, 5, 5}, {5, 5, 5}), std::vector<uint64_t>{0});
}

}  // namespace
