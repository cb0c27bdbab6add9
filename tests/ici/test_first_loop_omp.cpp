#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "ici3d.h"
#include "internal/layout.h"
#include "test_util.h"

namespace {

namespace layout = ici3d::layout;

constexpr float kSentinel = -1234.5f;
constexpr int32_t kIntSentinel = -777;

// A small cloud with point 0 as the point under test, an identity frame
// everywhere unless set otherwise, and every output prefilled with
// sentinels so that untouched entries can be seen.
struct IciCase {
  std::vector<float> points{0, 0, 0};
  std::vector<float> noise{0.1f};
  std::vector<float> frames;
  std::vector<int32_t> axes;
  std::vector<int32_t> list;
  int32_t max_selected = 0;
  float gamma = 2.0f;
  int32_t num_scales = 3;

  // outputs
  std::vector<int32_t> counts, neighbors;
  std::vector<float> sigmas, estimates, fits;

  int32_t n() const { return static_cast<int32_t>(points.size() / 3); }

  void add(float x, float y, float z, float sigma = 0.1f) {
    points.insert(points.end(), {x, y, z});
    noise.push_back(sigma);
  }
  // Grid of spacing 0.5 in one quadrant: coordinates 0.25, 0.75, ...
  void add_quadrant_grid(int sx, int sy, int size, float (*height)(float, float)) {
    for (int a = 0; a < size; ++a) {
      for (int b = 0; b < size; ++b) {
        const float x = sx * (0.25f + 0.5f * a), y = sy * (0.25f + 0.5f * b);
        add(x, y, height(x, y));
      }
    }
  }

  void run(int32_t self_pos = 0) {
    const int32_t count = n();
    if (frames.empty()) {
      for (int32_t k = 0; k < count; ++k) frames.insert(frames.end(), {1, 0, 0, 0, 1, 0, 0, 0, 1});
    }
    if (axes.empty()) {
      for (int32_t k = 0; k < count; ++k) axes.insert(axes.end(), {0, 1, 2});
    }
    if (list.empty()) {
      list.resize(count);
      std::iota(list.begin(), list.end(), 0);
    }
    if (max_selected == 0) max_selected = static_cast<int32_t>(list.size());
    counts.assign(4 * count, 1);
    neighbors.assign(4 * static_cast<size_t>(count) * max_selected + 8, kIntSentinel);
    sigmas.assign(4 * count, kSentinel);
    estimates.assign(12 * count, kSentinel);
    fits.assign(12 * count, kSentinel);
    first_loop_omp(0, frames.data(), axes.data(), count, noise.data(), points.data(), list.data(),
                   static_cast<int32_t>(list.size()), max_selected, counts.data(), self_pos,
                   num_scales, 1, sigmas.data(), estimates.data(), fits.data(),
                   neighbors.data(), gamma, 100.0f, 2.0f, 1.0f);
  }

  // Point 0's entries of the working arrays.
  float sigma(int d) const { return sigmas[layout::direction_sigma(0, d, n())]; }
  float fit(int d, int k) const { return fits[layout::direction_fit(0, d, k)]; }
  bool accepted(int d) const { return fit(d, 2) == 1.0f; }
  float estimate(int d, int c) const { return estimates[layout::direction_estimate(0, c, d)]; }
  std::vector<int32_t> members(int d) const {
    const auto *row = neighbors.data() + layout::selected_row(0, d, max_selected);
    return std::vector<int32_t>(row, row + counts[layout::selected_count(0, d)]);
  }
};

float flat(float, float) { return 0.0f; }

// Window sizes with base 1, ratio 2, density 1: half-sizes 1, 2, 4, 8. On a
// 0.5 grid a quadrant window then holds 4, 16, 64 points.
TEST(FirstLoop, ExactPlaneAcceptsEveryScaleWithEnoughPoints) {
  IciCase c;
  for (int sx : {1, -1}) {
    for (int sy : {1, -1}) c.add_quadrant_grid(sx, sy, 8, flat);
  }
  c.run();
  for (int d = 0; d < 4; ++d) {
    ASSERT_TRUE(c.accepted(d)) << d;
    EXPECT_EQ(c.counts[layout::selected_count(0, d)], 65) << d;  // all 64 points of the quadrant plus point 0
    EXPECT_EQ(c.members(d)[0], 0);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(c.estimate(d, k), 0.0f);
    EXPECT_GT(c.sigma(d), 0.0f);
    EXPECT_LT(c.sigma(d), 0.1f);
  }
}

TEST(FirstLoop, NumScalesLimitsTheWindowAndNegativeTriesNone) {
  IciCase c;
  c.add_quadrant_grid(1, 1, 8, flat);
  c.num_scales = 0;
  c.run();
  EXPECT_EQ(c.counts[0], 5);  // the four points within half-size 1, plus point 0
  IciCase none;
  none.add_quadrant_grid(1, 1, 8, flat);
  none.num_scales = -1;
  none.run();
  EXPECT_FALSE(none.accepted(0));
}

float raised_step(float x, float) { return x > 2 ? 3.0f : 0.0f; }

TEST(FirstLoop, StopsAtTheFirstDisjointIntervalAndKeepsThePreviousScale) {
  // Flat up to x = 2, a raised step beyond: scale 2's tilted plane misses
  // the running intersection, so the direction keeps scale 1's 16 points and
  // never reaches scale 3 (which would hold the same points as scale 2).
  IciCase c;
  c.add_quadrant_grid(1, 1, 8, raised_step);
  c.run();
  ASSERT_TRUE(c.accepted(0));
  EXPECT_EQ(c.counts[0], 17);
  const std::vector<int32_t> m = c.members(0);
  EXPECT_EQ(m[0], 0);
  for (int32_t k : m) {
    const float x = c.points[3 * k], y = c.points[3 * k + 1];
    EXPECT_TRUE(k == 0 || (x < 2 && y < 2)) << "member " << k;
  }
  EXPECT_EQ(c.estimate(0, 2), 0.0f);
}

TEST(FirstLoop, MembersComeInListOrderAfterThePoint) {
  IciCase c;
  c.add_quadrant_grid(1, 1, 2, flat);  // 4 points within half-size 1
  c.num_scales = 0;
  c.list = {3, 1, 0, 4, 2};
  c.run(/*self_pos=*/2);
  ASSERT_TRUE(c.accepted(0));
  EXPECT_EQ(c.members(0), (std::vector<int32_t>{0, 3, 1, 4, 2}));
}

TEST(FirstLoop, QuadrantWithTooFewPointsKeepsItsPreviousOutputs) {
  IciCase c;
  c.add_quadrant_grid(1, 1, 4, flat);
  c.add(-0.5f, 0.5f, 0);  // two points in quadrant 1
  c.add(-0.25f, 0.75f, 0);
  c.run();
  EXPECT_TRUE(c.accepted(0));
  for (int d = 1; d < 4; ++d) {
    EXPECT_EQ(c.fit(d, 0), 0.0f);
    EXPECT_EQ(c.fit(d, 2), 0.0f);
    EXPECT_EQ(c.neighbors[layout::selected_row(0, d, c.max_selected)], 0);  // point 0 itself
    EXPECT_EQ(c.neighbors[layout::selected_row(0, d, c.max_selected) + 1], kIntSentinel);
    EXPECT_EQ(c.counts[layout::selected_count(0, d)], 1);
    EXPECT_EQ(c.sigma(d), kSentinel);
    EXPECT_EQ(c.estimate(d, 0), kSentinel);
  }
}

float lifted(float, float) { return 1.0f; }

TEST(FirstLoop, EstimateFarOutsideTheOwnIntervalIsNotTaken) {
  // All neighbours one unit above point 0, whose own interval is [-0.2, 0.2].
  IciCase c;
  c.add_quadrant_grid(1, 1, 8, lifted);
  c.run();
  EXPECT_FALSE(c.accepted(0));
  EXPECT_EQ(c.estimate(0, 2), kSentinel);
}

TEST(FirstLoop, EstimateMovesThePointAlongItsNormalInGlobalCoordinates) {
  // Slightly raised neighbours in a frame whose normal is global x.
  IciCase c;
  c.gamma = 100.0f;
  for (int a = 0; a < 4; ++a) {
    for (int b = 0; b < 4; ++b) c.add(0.01f, 0.25f + 0.5f * a, 0.25f + 0.5f * b);
  }
  // local x = global y (row 1), local y = global z (row 2), normal = global x (row 0)
  c.axes.assign(3 * c.n(), 0);
  for (int32_t k = 0; k < c.n(); ++k) {
    c.axes[3 * k] = 1;
    c.axes[3 * k + 1] = 2;
    c.axes[3 * k + 2] = 0;
  }
  c.run();
  ASSERT_TRUE(c.accepted(0));
  EXPECT_GT(c.estimate(0, 0), 0.0f);  // moved towards the neighbours along x
  EXPECT_LT(c.estimate(0, 0), 0.01f);
  EXPECT_EQ(c.estimate(0, 1), 0.0f);
  EXPECT_EQ(c.estimate(0, 2), 0.0f);
}

TEST(FirstLoop, WindowLongerThanItsRowIsNotAccepted) {
  IciCase c;
  c.add_quadrant_grid(1, 1, 8, flat);
  c.max_selected = 10;  // scale 0 needs 5 entries, scale 1 needs 17
  c.run();
  ASSERT_TRUE(c.accepted(0));
  EXPECT_EQ(c.counts[0], 5);
  EXPECT_EQ(c.neighbors[5], kIntSentinel);
}

TEST(FirstLoop, InvalidSelfPositionOrAxisOrderOnlyStartsTheDirections) {
  for (int variant = 0; variant < 3; ++variant) {
    IciCase c;
    c.add_quadrant_grid(1, 1, 4, flat);
    if (variant == 2) c.axes.assign(3 * c.n(), 0);  // not a permutation
    c.run(variant == 0 ? -1 : (variant == 1 ? 1000 : 0));
    for (int d = 0; d < 4; ++d) {
      EXPECT_EQ(c.fit(d, 2), 0.0f);
      EXPECT_EQ(c.neighbors[static_cast<size_t>(d) * c.max_selected], 0);
      EXPECT_EQ(c.sigma(d), kSentinel);
      EXPECT_EQ(c.estimate(d, 0), kSentinel);
    }
  }
}

}  // namespace
