// eigeng on small matrices whose decomposition is known, and its argument
// handling.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "eigen_test_support.h"

namespace {

using eigen_test::decompose;
using eigen_test::Decomposition;

constexpr float kTol = 1e-6f;
constexpr double kUnitRoundoff = 0x1p-24;  // of float

void expect_column(const Decomposition &d, int k, const std::vector<float> &expected,
                   float tol = kTol) {
  for (int r = 0; r < d.n; ++r) {
    EXPECT_NEAR(d.v(r, k), expected[static_cast<size_t>(r)], tol) << "row " << r << " column " << k;
  }
}

void expect_identity(const Decomposition &d) {
  for (int r = 0; r < d.n; ++r) {
    for (int c = 0; c < d.n; ++c) EXPECT_EQ(d.v(r, c), r == c ? 1.0f : 0.0f) << r << "," << c;
  }
}

bool same_bits(const std::vector<float> &a, const std::vector<float> &b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// ---------------------------------------------------------------------------
// Known decompositions
// ---------------------------------------------------------------------------

TEST(EigengKnown, BalancedTwoByTwo) {
  // Balancing turns (1, 64, 1, 1) into the symmetric (1, 8, 8, 1).
  const Decomposition d = decompose({1, 64, 1, 1}, 2);
  EXPECT_EQ(d.re, (std::vector<float>{9, -7}));
  EXPECT_EQ(d.im, (std::vector<float>{0, 0}));
  const float s = 1.0f / std::sqrt(65.0f);
  expect_column(d, 0, {8 * s, s});
  expect_column(d, 1, {8 * s, -s});
}

TEST(EigengKnown, IsolatedEigenvalueKeepsItsPosition) {
  const Decomposition d = decompose({2, 1, 0, 1, 2, 0, 0, 0, 5}, 3);
  EXPECT_EQ(d.re, (std::vector<float>{3, 1, 5}));
  EXPECT_EQ(d.im, (std::vector<float>{0, 0, 0}));
  const float h = std::sqrt(0.5f);
  expect_column(d, 0, {h, h, 0});
  expect_column(d, 1, {h, -h, 0});
  expect_column(d, 2, {0, 0, 1});
}

TEST(EigengKnown, DiagonalMatrixGivesIdentityVectors) {
  const Decomposition d = decompose({3, 0, 0, 0, 1, 0, 0, 0, 2}, 3);
  EXPECT_EQ(d.re, (std::vector<float>{3, 1, 2}));
  EXPECT_EQ(d.im, (std::vector<float>{0, 0, 0}));
  expect_identity(d);
}

TEST(EigengKnown, ZeroMatrixGivesZeroEigenvaluesAndIdentity) {
  // The zero norm makes the QR stage skip the vectors; the identity of the
  // accumulation survives the unit-length pass unchanged.
  const Decomposition d = decompose(std::vector<float>(9, 0.0f), 3);
  EXPECT_EQ(d.re, (std::vector<float>{0, 0, 0}));
  EXPECT_EQ(d.im, (std::vector<float>{0, 0, 0}));
  expect_identity(d);
}

TEST(EigengKnown, LowerTriangularIsReadOffAfterPermutation) {
  // Balancing isolates every row: row 0 moves to the bottom, so the diagonal
  // is read in the order 6, 3, 1 and the back-transformation swaps rows back.
  const Decomposition d = decompose({1, 0, 0, 2, 3, 0, 4, 5, 6}, 3);
  EXPECT_EQ(d.re, (std::vector<float>{6, 3, 1}));
  EXPECT_EQ(d.im, (std::vector<float>{0, 0, 0}));
  expect_column(d, 0, {0, 0, 1});
  const float a = 1.0f / std::sqrt(34.0f);
  expect_column(d, 1, {0, -3 * a, 5 * a});
  const float b = 1.0f / std::sqrt(51.0f);
  expect_column(d, 2, {5 * b, -5 * b, b});  // tie of |5| and |-5|: row 0 made positive
}

TEST(EigengKnown, ThreeByThreeWithOneReductionStep) {
  // (1 ... 8, 10): one elimination step with a row interchange (|7| > |4|).
  const std::vector<float> a{1, 2, 3, 4, 5, 6, 7, 8, 10};
  const Decomposition d = decompose(a, 3);
  // Roots of the characteristic polynomial x^3 - 16x^2 - 12x + 3.
  const double roots[] = {16.707493668003022, -0.9057402436085452, 0.19824657560552375};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(d.im[static_cast<size_t>(k)], 0.0f);
    EXPECT_NEAR(d.re[static_cast<size_t>(k)], roots[k], 4e-6 * roots[0]);
    EXPECT_LT(eigen_test::eigen_residual(a, d, k), 32 * kUnitRoundoff * eigen_test::frobenius_norm(a));
    EXPECT_NEAR(eigen_test::column_length(d, k), 1.0, 1e-6);
  }
}

TEST(EigengKnown, UpperTriangularBackSubstitution) {
  const Decomposition d = decompose({1, 1, 0, 2}, 2);
  EXPECT_EQ(d.re, (std::vector<float>{1, 2}));
  expect_column(d, 0, {1, 0});
  expect_column(d, 1, {std::sqrt(0.5f), std::sqrt(0.5f)});
}

TEST(EigengKnown, RepeatedEigenvalueUsesDoublePrecisionEpsilon) {
  // (1, 1, 0, 1): the zero pivot of the back-substitution is replaced by
  // eps * norm with the double epsilon 2^-52 and norm 3, so the second
  // vector is (-2^52/3, 1) before normalisation.
  const Decomposition d = decompose({1, 1, 0, 1}, 2);
  EXPECT_EQ(d.re, (std::vector<float>{1, 1}));
  expect_column(d, 0, {1, 0});
  EXPECT_FLOAT_EQ(d.v(0, 1), 1.0f);
  EXPECT_NEAR(d.v(1, 1), -3.0 * std::ldexp(1.0, -52), 1e-6 * 3.0 * std::ldexp(1.0, -52));
}

TEST(EigengKnown, ComplexPairLayout) {
  // (0, -1, 1, 0): eigenvalue i with eigenvector (1, -i) once its largest
  // component (the first, on the tie) is made 1.
  const Decomposition d = decompose({0, -1, 1, 0}, 2);
  EXPECT_EQ(d.re, (std::vector<float>{0, 0}));
  EXPECT_EQ(d.im, (std::vector<float>{1, -1}));
  expect_column(d, 0, {1, 0});
  expect_column(d, 1, {0, -1});
}

TEST(EigengKnown, ComplexPairBesideRealEigenvalue) {
  const std::vector<float> a{1, 2, 0, -3, 1, 1, 0.5f, 0, 2};
  const Decomposition d = decompose(a, 3);
  int pairs = 0;
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(eigen_test::column_length(d, k), 1.0, 1e-6);
    if (d.im[static_cast<size_t>(k)] == 0.0f) {
      EXPECT_LT(eigen_test::eigen_residual(a, d, k), 32 * kUnitRoundoff * eigen_test::frobenius_norm(a));
      continue;
    }
    ASSERT_GT(d.im[static_cast<size_t>(k)], 0.0f) << "positive imaginary part first";
    ASSERT_LT(k + 1, 3);
    EXPECT_EQ(d.im[static_cast<size_t>(k + 1)], -d.im[static_cast<size_t>(k)]);
    EXPECT_EQ(d.re[static_cast<size_t>(k + 1)], d.re[static_cast<size_t>(k)]);
    EXPECT_LT(eigen_test::eigen_residual(a, d, k), 32 * kUnitRoundoff * eigen_test::frobenius_norm(a));
    ++pairs;
    ++k;
  }
  EXPECT_EQ(pairs, 1);
}

TEST(EigengKnown, NonConvergenceKeepsUnfoundEigenvaluesAndStillNormalises) {
  // The bottom eigenvalue of this matrix is not isolated within 50 double QR
  // steps: nothing was found yet, so no eigenvalue entry is written, and the
  // partly transformed vectors only get their columns scaled to unit length.
  const std::vector<float> a{0, 2, -2, 0, 1, 0, 0, -2, 0, -2, 2, -2, 2, 0, -1, 2};
  for (bool with_vectors : {true, false}) {
    const Decomposition d = decompose(a, 4, with_vectors);
    for (int k = 0; k < 4; ++k) {
      EXPECT_TRUE(std::isnan(d.re[static_cast<size_t>(k)])) << "position " << k;
      EXPECT_TRUE(std::isnan(d.im[static_cast<size_t>(k)])) << "position " << k;
      if (with_vectors) {
        EXPECT_NEAR(eigen_test::column_length(d, k), 1.0, 1e-6) << "column " << k;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Arguments and degenerate orders
// ---------------------------------------------------------------------------

TEST(EigengArguments, NonPositiveOrderTouchesNothing) {
  for (int n : {0, -1, -7}) {
    std::vector<float> m{5, 6, 7, 8}, re{1, 2}, im{3, 4}, v{9, 9, 9, 9};
    EXPECT_EQ(eigeng(m.data(), n, re.data(), im.data(), v.data()), 0);
    EXPECT_EQ(m, (std::vector<float>{5, 6, 7, 8}));
    EXPECT_EQ(re, (std::vector<float>{1, 2}));
    EXPECT_EQ(im, (std::vector<float>{3, 4}));
    EXPECT_EQ(v, (std::vector<float>{9, 9, 9, 9}));
    EXPECT_EQ(eigeng(nullptr, n, nullptr, nullptr, nullptr), 0);
  }
}

TEST(EigengArguments, OrderOne) {
  Decomposition d = decompose({-2.5f}, 1);
  EXPECT_EQ(d.re[0], -2.5f);
  EXPECT_EQ(d.im[0], 0.0f);
  EXPECT_EQ(d.v(0, 0), 1.0f);
  d = decompose({7.0f}, 1, false);
  EXPECT_EQ(d.re[0], 7.0f);
  EXPECT_EQ(d.im[0], 0.0f);
}

TEST(EigengArguments, NullEigenvalueArrayOnlyNormalisesCallerColumns) {
  std::vector<float> m{1, 2, 3, 4}, im{8, 9}, v{3, 0, 4, -2};
  EXPECT_EQ(eigeng(m.data(), 2, nullptr, im.data(), v.data()), 0);
  EXPECT_EQ(m, (std::vector<float>{1, 2, 3, 4}));
  EXPECT_EQ(im, (std::vector<float>{8, 9}));
  EXPECT_EQ(v, (std::vector<float>{3.0f / 5, 0, 4.0f / 5, -1}));
}

TEST(EigengArguments, NullMatrixOnlyNormalisesCallerColumns) {
  std::vector<float> re{8, 9}, im{8, 9}, v{0, 1, 0, 0};
  EXPECT_EQ(eigeng(nullptr, 2, re.data(), im.data(), v.data()), 0);
  EXPECT_EQ(re, (std::vector<float>{8, 9}));
  EXPECT_EQ(im, (std::vector<float>{8, 9}));
  EXPECT_FLOAT_EQ(v[1], 1.0f);
  EXPECT_TRUE(std::isnan(v[0]) && std::isnan(v[2])) << "a zero column has no length: 0/0";
}

// ---------------------------------------------------------------------------
// Properties over random matrices
// ---------------------------------------------------------------------------

std::vector<float> random_matrix(std::mt19937 &rng, int n) {
  std::normal_distribution<float> gauss(0.0f, 1.0f);
  std::vector<float> a(static_cast<size_t>(n * n));
  for (float &x : a) x = gauss(rng);
  return a;
}

TEST(EigengProperties, EigenvaluesDoNotDependOnVectorRequest) {
  // Without vectors the 2x2 rotations and the accumulation are skipped, but
  // they never feed back into the eigenvalues: the results are bitwise equal.
  std::mt19937 rng(20240611);
  for (int trial = 0; trial < 300; ++trial) {
    const int n = 2 + trial % 7;
    const std::vector<float> a = random_matrix(rng, n);
    const Decomposition with = decompose(a, n, true);
    const Decomposition without = decompose(a, n, false);
    ASSERT_TRUE(same_bits(with.re, without.re)) << "trial " << trial;
    ASSERT_TRUE(same_bits(with.im, without.im)) << "trial " << trial;
  }
}

}  // namespace
