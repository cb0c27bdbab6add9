#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "ici3d.h"
#include "internal/layout.h"

namespace {

// One point i = 0 with direction d = 0 accepted over a given window, an
// identity frame for every point, and zeroed accumulators.
struct SpreadCase {
  int32_t n = 0;
  int32_t max_selected = 8;
  std::vector<float> points, noise, frames, fits, estimates, sigmas;
  std::vector<int32_t> axes, counts, neighbors;
  std::vector<float> matrix_sums, rhs_sums, weight_sums, sigma_sq_sums, contribution_counts;

  explicit SpreadCase(std::vector<float> pts, float sigma = 0.5f) : points(std::move(pts)) {
    n = static_cast<int32_t>(points.size() / 3);
    noise.assign(n, sigma);
    for (int32_t k = 0; k < n; ++k) {
      frames.insert(frames.end(), {1, 0, 0, 0, 1, 0, 0, 0, 1});
      axes.insert(axes.end(), {0, 1, 2});
    }
    fits.assign(12 * n, 0.0f);
    fits[0] = 0.0f;
    fits[1] = 0.0f;
    fits[2] = 1.0f;
    estimates.assign(12 * n, 0.0f);
    for (int c = 0; c < 3; ++c) {
      for (int32_t i = 0; i < n; ++i) {
        for (int d = 0; d < 4; ++d) estimates[ici3d::layout::direction_estimate(i, c, d)] = points[3 * i + c];
      }
    }
    sigmas.assign(4 * n, sigma);
    counts.assign(4 * n, 1);
    neighbors.assign(4 * n * max_selected, 0);
  }
  void set_window(const std::vector<int32_t> &members) {
    counts[0] = static_cast<int32_t>(members.size());
    for (size_t k = 0; k < members.size(); ++k) neighbors[k] = members[k];
  }
  // Fit record of the window (local axes) and the axis order of point 0.
  void set_fit(const float (&fit)[3], const int32_t (&order)[3]) {
    for (int p = 0; p < 3; ++p) {
      fits[p] = fit[p];
      axes[p] = order[p];
    }
  }
  void set_estimate(float x, float y, float z) {
    estimates[ici3d::layout::direction_estimate(0, 0, 0)] = x;
    estimates[ici3d::layout::direction_estimate(0, 1, 0)] = y;
    estimates[ici3d::layout::direction_estimate(0, 2, 0)] = z;
  }
  void run() {
    matrix_sums.assign(9 * n, 0.0f);
    rhs_sums.assign(3 * n, 0.0f);
    weight_sums.assign(n, 0.0f);
    sigma_sq_sums.assign(n, 0.0f);
    contribution_counts.assign(n, 0.0f);
    second_loop_no_omp(0, 0, frames.data(), axes.data(), fits.data(), neighbors.data(), n,
                       counts.data(), max_selected, noise.data(), estimates.data(), points.data(),
                       sigmas.data(), matrix_sums.data(), rhs_sums.data(), weight_sums.data(),
                       sigma_sq_sums.data(), contribution_counts.data());
  }
};

TEST(SecondLoop, SinglePointWindowUsesTheNoiseFloorWeight) {
  SpreadCase c({1, 2, 3, 5, 5, 5});
  c.set_window({0});
  c.set_estimate(1, 2, 3.01f);
  c.run();
  // R = 0.01^2 is below sqrt(2) S with S = 0.25, so w = 1 / (sqrt(2) S)^2 = 8.
  const float w = c.weight_sums[0];
  EXPECT_FLOAT_EQ(w, 8.0f);
  EXPECT_EQ(c.matrix_sums[8], w);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(c.matrix_sums[k], 0.0f) << k;
  EXPECT_EQ(c.rhs_sums[2], 3.01f * w);
  EXPECT_EQ(c.contribution_counts[0], 1.0f);
  EXPECT_EQ(c.sigma_sq_sums[0], 0.25f);
  // The other point is not in the window.
  EXPECT_EQ(c.weight_sums[1], 0.0f);
  EXPECT_EQ(c.contribution_counts[1], 0.0f);
}

TEST(SecondLoop, WindowOnThePlaneWeighsByItsSizeAndNoise) {
  SpreadCase c({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0, 2, 1, 0, 1, 2, 0}, 0.1f);
  c.set_window({0, 1, 2, 3, 4, 5});
  c.run();
  const double expected = 6.0 / (2.0 * 0.1 * 0.1 * 0.1 * 0.1);  // m / (2 S^2)
  for (int32_t j = 0; j < 6; ++j) {
    EXPECT_NEAR(c.weight_sums[j], expected, expected * 1e-5) << j;
    EXPECT_EQ(c.contribution_counts[j], 1.0f);
  }
}

TEST(SecondLoop, AxisOrderReordersTheFitRecord) {
  SpreadCase c({0, 0, 0, 1, 0, 0});
  c.set_window({0, 1});
  c.set_fit({0.3f, -0.2f, 1.0f}, {1, 2, 0});
  c.run();
  // Normal in frame-row order is (f2, f0, f1) = (1, 0.3, -0.2), normalised.
  const double len = std::sqrt(1.0 + 0.09 + 0.04);
  const double nrm[3] = {1.0 / len, 0.3 / len, -0.2 / len};
  const float w = c.weight_sums[0];
  for (int r = 0; r < 3; ++r) {
    for (int col = 0; col < 3; ++col) {
      EXPECT_NEAR(c.matrix_sums[3 * r + col] / w, nrm[r] * nrm[col], 1e-6) << r << "," << col;
      EXPECT_EQ(c.matrix_sums[3 * r + col], c.matrix_sums[3 * col + r]);  // exactly symmetric
    }
  }
}

// A tilted plane in a rotated frame, with members off the plane so that the
// residual term decides the weight. Expected values in double: the fit record
// (a, b, 1) placed into frame-row order by the axis order, rotated into global
// coordinates, and the weight 1 / max(R - 0.75 S, sqrt(2/m) S)^2 from the
// members' mean squared distance R to the plane and mean noise variance S.
struct RotatedCase {
  SpreadCase c{{0.10f, 0.20f, 0.30f, 0.35f, -0.10f, 0.05f, -0.20f, 0.25f, 0.40f,
                0.30f, 0.30f, -0.15f, -0.05f, -0.30f, 0.10f, 0.15f, 0.05f, 0.60f},
               0.1f};
  RotatedCase() {
    // Frame rows: a rotation about z by 0.7 then about x by -0.4.
    const double cz = std::cos(0.7), sz = std::sin(0.7), cx = std::cos(-0.4), sx = std::sin(-0.4);
    const double rows[9] = {cz, sz, 0, -sz * cx, cz * cx, sx, sz * sx, -cz * sx, cx};
    for (int k = 0; k < 9; ++k) c.frames[k] = static_cast<float>(rows[k]);
    c.set_fit({0.25f, -0.4f, 1.0f}, {2, 0, 1});
    c.set_window({0, 1, 2, 3, 4, 5});
    c.set_estimate(0.1f, 0.2f, 0.3f);
  }
};

TEST(SecondLoop, RotatedFrameSpreadsTheRotatedPlaneWithItsResidualWeight) {
  RotatedCase r;
  SpreadCase &c = r.c;
  c.run();
  double local[3], normal[3] = {0, 0, 0};
  for (int p = 0; p < 3; ++p) local[c.axes[p]] = c.fits[p];
  for (int row = 0; row < 3; ++row) {
    for (int k = 0; k < 3; ++k) normal[k] += static_cast<double>(c.frames[3 * row + k]) * local[row];
  }
  const double length =
      std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
  for (double &v : normal) v /= length;
  const double e[3] = {0.1f, 0.2f, 0.3f};
  const int32_t m = 6;
  double residual = 0;
  for (int32_t j = 0; j < m; ++j) {
    double t = 0;
    for (int k = 0; k < 3; ++k) t += (c.points[3 * j + k] - e[k]) * normal[k];
    residual += t * t / m;
  }
  const double S = 0.1f * 0.1f;
  const double floor = std::sqrt(2.0 / m) * S;
  ASSERT_GT(residual - 0.75 * S, floor);  // the residual branch, not the noise floor
  const double w = 1.0 / ((residual - 0.75 * S) * (residual - 0.75 * S));
  const double offset = e[0] * normal[0] + e[1] * normal[1] + e[2] * normal[2];
  for (int32_t j = 0; j < m; ++j) {
    EXPECT_NEAR(c.weight_sums[j], w, w * 1e-5) << j;
    for (int a = 0; a < 3; ++a) {
      for (int b = 0; b < 3; ++b) {
        EXPECT_NEAR(c.matrix_sums[9 * j + 3 * a + b], w * normal[a] * normal[b], w * 1e-5) << j;
      }
      EXPECT_NEAR(c.rhs_sums[3 * j + a], w * offset * normal[a], w * 1e-5) << j;
    }
  }
}

TEST(SecondLoop, ReorderingFrameRowsWithTheAxisOrderKeepsThePlane) {
  RotatedCase original;
  original.c.run();
  // Frame rows cycled (new row r = old row (r + 1) % 3), and the axis order
  // renamed to match: the fit record lands on the same local axes.
  RotatedCase cycled;
  for (int row = 0; row < 3; ++row) {
    for (int k = 0; k < 3; ++k)
      cycled.c.frames[3 * row + k] = original.c.frames[3 * ((row + 1) % 3) + k];
  }
  for (int p = 0; p < 3; ++p) cycled.c.axes[p] = (original.c.axes[p] + 2) % 3;
  cycled.c.run();
  for (int32_t j = 0; j < original.c.n; ++j) {
    const float w = original.c.weight_sums[j];
    EXPECT_NEAR(cycled.c.weight_sums[j], w, w * 1e-5f) << j;
    for (int k = 0; k < 9; ++k)
      EXPECT_NEAR(cycled.c.matrix_sums[9 * j + k], original.c.matrix_sums[9 * j + k], w * 1e-6f) << j;
    for (int a = 0; a < 3; ++a)
      EXPECT_NEAR(cycled.c.rhs_sums[3 * j + a], original.c.rhs_sums[3 * j + a], w * 1e-6f) << j;
  }
}

TEST(SecondLoop, RepeatedMemberReceivesEverythingTwice) {
  SpreadCase c({0, 0, 0, 1, 0, 0, 0, 1, 0});
  c.set_window({0, 2, 1, 2});
  c.sigmas[0] = 0.7f;  // the estimate's own sigma, not the members' noise
  c.run();
  EXPECT_EQ(c.contribution_counts[2], 2.0f);
  EXPECT_EQ(c.weight_sums[2], c.weight_sums[1] + c.weight_sums[1]);
  EXPECT_EQ(c.matrix_sums[9 * 2 + 8], 2.0f * c.matrix_sums[9 * 1 + 8]);
  EXPECT_FLOAT_EQ(c.sigma_sq_sums[1], 0.49f);
  EXPECT_FLOAT_EQ(c.sigma_sq_sums[2], 0.98f);
}

TEST(SecondLoop, InvalidWindowsAddNothing) {
  for (int variant = 0; variant < 3; ++variant) {
    SpreadCase c({0, 0, 0, 1, 0, 0});
    c.set_window({0, 1});
    if (variant == 0) c.counts[0] = 0;
    if (variant == 1) c.counts[0] = c.max_selected + 1;
    if (variant == 2) c.axes[1] = 0;
    c.run();
    for (float v : c.weight_sums) EXPECT_EQ(v, 0.0f) << variant;
    for (float v : c.contribution_counts) EXPECT_EQ(v, 0.0f) << variant;
  }
}

}  // namespace
