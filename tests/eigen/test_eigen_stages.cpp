// The balancing and the Hessenberg reduction on their own (their sources are
// compiled into this test, since the library hides them).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "eigen_internal.h"

namespace {

using ici3d::eigen::accumulate_reduction;
using ici3d::eigen::balance;
using ici3d::eigen::balance_back;
using ici3d::eigen::reduce_to_hessenberg;

// A row-major square matrix with its row-pointer table.
struct Rows {
  int n;
  std::vector<float> data;
  std::vector<float *> rows;

  Rows(int order, std::vector<float> values) : n(order), data(std::move(values)), rows(static_cast<size_t>(order)) {
    for (int i = 0; i < n; ++i) rows[static_cast<size_t>(i)] = data.data() + i * n;
  }
  float *const *table() { return rows.data(); }
  float at(int i, int j) const { return data[static_cast<size_t>(i * n + j)]; }
};

struct Balanced {
  std::vector<float> scale;
  int low = 0;
  int high = 0;
};

Balanced run_balance(Rows &a) {
  Balanced b;
  b.scale.assign(static_cast<size_t>(a.n), -1.0f);
  balance(a.table(), a.n, b.scale.data(), &b.low, &b.high);
  return b;
}

TEST(EigenBalance, ScalesRowAndColumnByAPowerOfTwo) {
  Rows a(2, {1, 64, 1, 1});
  const Balanced b = run_balance(a);
  EXPECT_EQ(a.data, (std::vector<float>{1, 8, 8, 1}));
  EXPECT_EQ(b.scale, (std::vector<float>{8, 1}));
  EXPECT_EQ(b.low, 0);
  EXPECT_EQ(b.high, 1);
}

TEST(EigenBalance, SymmetricMatrixIsNotScaled) {
  Rows a(3, {4, 1, 2, 1, 5, 3, 2, 3, 6});
  const std::vector<float> before = a.data;
  const Balanced b = run_balance(a);
  EXPECT_EQ(a.data, before);
  EXPECT_EQ(b.scale, (std::vector<float>{1, 1, 1}));
}

TEST(EigenBalance, ZeroMatrixIsolatesEveryRowWithoutExchange) {
  Rows a(3, std::vector<float>(9, 0.0f));
  const Balanced b = run_balance(a);
  EXPECT_EQ(b.scale, (std::vector<float>{0, 1, 2}));
  EXPECT_EQ(b.low, 0);
  EXPECT_EQ(b.high, -1);
}

TEST(EigenBalance, LowerTriangularIsPermutedToUpperAndBackTransformed) {
  Rows a(3, {1, 0, 0, 2, 3, 0, 4, 5, 6});
  const Balanced b = run_balance(a);
  EXPECT_EQ(a.data, (std::vector<float>{6, 5, 4, 0, 3, 2, 0, 0, 1}));
  EXPECT_EQ(b.scale, (std::vector<float>{0, 1, 0}));
  EXPECT_EQ(b.low, 0);
  EXPECT_EQ(b.high, -1);
  Rows v(3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  balance_back(v.table(), 3, b.low, b.high, b.scale.data());
  EXPECT_EQ(v.data, (std::vector<float>{7, 8, 9, 4, 5, 6, 1, 2, 3}));
}

TEST(EigenBalance, ColumnSearchIsolatesFromTheLeft) {
  // Column 0 has no off-diagonal entry: it is isolated at the left.
  Rows a(3, {2, 1, 1, 0, 3, 1, 0, 1, 4});
  const Balanced b = run_balance(a);
  EXPECT_EQ(b.low, 1);
  EXPECT_EQ(b.high, 2);
  EXPECT_EQ(b.scale[0], 0.0f);
}

TEST(EigenBalance, BackTransformationMultipliesBlockRowsByTheirFactor) {
  Rows v(2, {1, 2, 3, 4});
  const std::vector<float> scale{8, 0.5f};
  balance_back(v.table(), 2, 0, 1, scale.data());
  EXPECT_EQ(v.data, (std::vector<float>{8, 16, 1.5f, 2}));
}

// ---------------------------------------------------------------------------
// Reduction to Hessenberg form and accumulation
// ---------------------------------------------------------------------------

TEST(EigenReduction, OneStepWithRowInterchange) {
  Rows a(3, {1, 2, 3, 4, 5, 6, 7, 8, 10});
  std::vector<int32_t> pivots(3, 0);
  reduce_to_hessenberg(a.table(), 3, 0, 2, pivots.data());
  EXPECT_EQ(pivots, (std::vector<int32_t>{0, 2, 0}));
  const float expected[] = {1, 29.0f / 7, 2, 7, 102.0f / 7, 8, 4.0f / 7, 26.0f / 49, 3.0f / 7};
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(a.data[static_cast<size_t>(k)], expected[k], 2e-6f) << k;
  Rows v(3, std::vector<float>(9, -1.0f));
  accumulate_reduction(a.table(), 3, 0, 2, pivots.data(), v.table());
  EXPECT_EQ(v.data, (std::vector<float>{1, 0, 0, 0, 4.0f / 7, 1, 0, 1, 0}));
}

TEST(EigenReduction, TiesAndZeroColumnsKeepThePivotRow) {
  Rows tie(3, {1, 2, 3, -4, 5, 6, 4, 8, 10});
  std::vector<int32_t> pivots(3, 0);
  reduce_to_hessenberg(tie.table(), 3, 0, 2, pivots.data());
  EXPECT_EQ(pivots[1], 1);
  EXPECT_EQ(tie.at(2, 0), -1.0f) << "multiplier 4 / -4";

  Rows zero(3, {1, 2, 3, 0, 5, 6, 0, 8, 10});
  const std::vector<float> before = zero.data;
  reduce_to_hessenberg(zero.table(), 3, 0, 2, pivots.data());
  EXPECT_EQ(pivots[1], 1);
  EXPECT_EQ(zero.data, before);
}

TEST(EigenReduction, SmallBlockIsLeftAlone) {
  Rows a(2, {1, 2, 3, 4});
  std::vector<int32_t> pivots(2, 0);
  reduce_to_hessenberg(a.table(), 2, 0, 1, pivots.data());
  EXPECT_EQ(a.data, (std::vector<float>{1, 2, 3, 4}));
  Rows v(2, {5, 5, 5, 5});
  accumulate_reduction(a.table(), 2, 0, 1, pivots.data(), v.table());
  EXPECT_EQ(v.data, (std::vector<float>{1, 0, 0, 1}));
}

TEST(EigenReduction, TransformationIsASimilarity) {
  // B V = V H, with H the Hessenberg part of the result.
  std::mt19937 rng(31337);
  std::normal_distribution<float> gauss(0.0f, 1.0f);
  for (int trial = 0; trial < 50; ++trial) {
    const int n = 3 + trial % 6;
    std::vector<float> values(static_cast<size_t>(n * n));
    for (float &x : values) x = gauss(rng);
    const Rows b(n, values);
    Rows a(n, values);
    std::vector<int32_t> pivots(static_cast<size_t>(n), 0);
    reduce_to_hessenberg(a.table(), n, 0, n - 1, pivots.data());
    Rows v(n, std::vector<float>(static_cast<size_t>(n * n)));
    accumulate_reduction(a.table(), n, 0, n - 1, pivots.data(), v.table());
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        double bv = 0.0, vh = 0.0;
        for (int k = 0; k < n; ++k) {
          bv += static_cast<double>(b.at(i, k)) * v.at(k, j);
          if (k <= j + 1) vh += static_cast<double>(v.at(i, k)) * a.at(k, j);
        }
        EXPECT_NEAR(bv, vh, 1e-4) << "trial " << trial << " (" << i << ", " << j << ")";
      }
    }
  }
}

}  // namespace
