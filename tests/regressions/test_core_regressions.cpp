// Core library inputs found by fuzzing. Each test names what broke; the
// fuzz input is given decoded, as the harness hands it to the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ici3d.h"
#include "ici3d_host/candidate_view.h"

namespace {

struct Eigen {
  std::vector<float> re, im, vectors;
};

Eigen decompose(std::vector<float> a, int32_t n) {
  Eigen e{std::vector<float>(static_cast<size_t>(n)), std::vector<float>(static_cast<size_t>(n)),
          std::vector<float>(static_cast<size_t>(n * n))};
  eigeng(a.data(), n, e.re.data(), e.im.data(), e.vectors.data());
  return e;
}

std::vector<float> scaled(std::vector<float> a, int exponent) {
  for (float& v : a) v = std::ldexp(v, exponent);
  return a;
}

// Every eigenpair with a real eigenvalue: finite, unit length, and
// |A v - l v| below tolerance * |A| (Frobenius).
void expect_sound_real_eigenpairs(const std::vector<float>& m, size_t n, const Eigen& e,
                                  double tolerance) {
  double norm = 0;
  for (float v : m) norm += double(v) * v;
  norm = std::sqrt(norm);
  for (size_t k = 0; k < n; ++k) {
    ASSERT_TRUE(std::isfinite(e.re[k]) && std::isfinite(e.im[k])) << k;
    if (e.im[k] != 0.0f) continue;
    double residual = 0, length = 0;
    for (size_t r = 0; r < n; ++r) {
      ASSERT_TRUE(std::isfinite(e.vectors[n * r + k])) << r << ", " << k;
      double av = 0;
      for (size_t j = 0; j < n; ++j) av += double(m[n * r + j]) * e.vectors[n * j + k];
      const double diff = av - double(e.re[k]) * e.vectors[n * r + k];
      residual += diff * diff;
      length += double(e.vectors[n * r + k]) * e.vectors[n * r + k];
    }
    EXPECT_NEAR(length, 1.0, 1e-6) << k;
    EXPECT_LE(std::sqrt(residual), tolerance * norm) << k;
  }
}

// fuzz_eigeng: a symmetric matrix of subnormal entries. Products of its
// entries underflowed, the 2x2 block [[0, a], [a, 0]] came out with both
// eigenvalues 0, and every eigenvector was NaN.
TEST(EigengRegression, SubnormalSymmetricMatrixIsSolvedLikeItsScaledCopy) {
  const float a = 2.2779508e-41f, b = 6.6561677e-42f;
  const std::vector<float> tiny{b, 0, 0, 0, 0, a, 0, a, 0};
  const Eigen e = decompose(tiny, 3);
  // Scaled by 2^136 the entries are normal; the tiny matrix must give the
  // same eigenvectors and the eigenvalues scaled back (powers of 2: exact).
  const Eigen ref = decompose(scaled(tiny, 136), 3);
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(e.re[k], std::ldexp(ref.re[k], -136)) << k;
    EXPECT_EQ(e.im[k], 0.0f) << k;
  }
  EXPECT_EQ(e.vectors, ref.vectors);
  std::vector<float> sorted = e.re;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, (std::vector<float>{-a, b, a}));
}

// The same for a complex pair: both parts are scaled back.
TEST(EigengRegression, SubnormalRotationKeepsItsComplexPair) {
  const std::vector<float> rotation{0, -1, 0, 1, 0, 0, 0, 0, 2};
  const Eigen e = decompose(scaled(rotation, -140), 3);
  const Eigen ref = decompose(rotation, 3);
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(e.re[k], std::ldexp(ref.re[k], -140)) << k;
    EXPECT_EQ(e.im[k], std::ldexp(ref.im[k], -140)) << k;
  }
  EXPECT_EQ(e.vectors, ref.vectors);
}

// fuzz_eigeng: a symmetric matrix whose 2x2 block at rows 1, 2 is some 1e-30
// beside an entry of 6. The block splits off; the rotation that makes it
// triangular took its length from squares that underflow, divided by zero
// and made two eigenvectors NaN.
TEST(EigengRegression, RotationOfATinyTrailingBlockStaysFinite) {
  const float a = 6.0728216f, b = 1.4204448e-30f, c = 4.3464689e-31f;
  const std::vector<float> m{a, b, c, b, c, c, c, c, c};
  const Eigen e = decompose(m, 3);
  expect_sound_real_eigenpairs(m, 3, e, 1e-6);
  // The large eigenvalue keeps its eigenvector e0; the other two are zero at
  // the matrix's precision.
  const size_t big = size_t(std::max_element(e.re.begin(), e.re.end()) - e.re.begin());
  EXPECT_EQ(e.re[big], a);
  EXPECT_EQ(std::fabs(e.vectors[big]), 1.0f);
}

// fuzz_eigeng: a symmetric 5x5 matrix coupling rows 1 and 4 by 3.2 and the
// rest by subnormal entries. After the reduction the subdiagonal held
// 1.3e-39 and 1.4e-45 beside diagonal entries as small; neither counted as
// negligible, the double step divided by them, overflowed, and every
// eigenvalue came out NaN.
TEST(EigengRegression, SubnormalSubdiagonalDoesNotOverflowTheDoubleStep) {
  const float c = 3.2031283f, t = 1.2856969e-39f, u = 2.3066774e-41f, v = 6.0255834e-44f;
  const std::vector<float> m{0, 0, t, u, 0,  //
                             0, 0, 0, 0, c,  //
                             t, 0, 0, 0, 0,  //
                             u, 0, 0, v, v,  //
                             0, c, 0, v, 0};
  std::vector<float> re(5), im(5);
  std::vector<float> work = m;
  eigeng(work.data(), 5, re.data(), im.data(), nullptr);
  std::sort(re.begin(), re.end());
  EXPECT_NEAR(re[0], -c, 1e-6f);
  for (size_t k = 1; k < 4; ++k) EXPECT_NEAR(re[k], 0.0f, 1e-6f) << k;
  EXPECT_NEAR(re[4], c, 1e-6f);
  for (float v_im : im) EXPECT_EQ(v_im, 0.0f);
}

// fuzz_eigeng: a symmetric 3x3 matrix of entries near 1e9 and 1e-11. The
// first column of the double step is formed by dividing by a subdiagonal
// entry; a small one overflowed it (1e18 / 1e-29) into NaN eigenvalues.
TEST(EigengRegression, DoubleStepOfLargeEntriesOverASmallSubdiagonalStaysFinite) {
  const float a = 5.78772919e-34f, b = 1.24060892e-11f, c = 117835320.0f, d = 7.69397905e-14f,
              e = 1.48272e+09f, f = -2.94168093e-23f;
  const std::vector<float> m{a, b, c, b, d, e, c, e, f};
  const Eigen result = decompose(m, 3);
  for (size_t k = 0; k < 3; ++k) EXPECT_EQ(result.im[k], 0.0f) << k;
  expect_sound_real_eigenpairs(m, 3, result, 1e-6);
}

// The upper triangle, row by row, as fuzz_eigeng decodes a symmetric matrix.
std::vector<float> symmetric_from_upper(const std::vector<float>& upper, size_t n) {
  std::vector<float> m(n * n);
  size_t k = 0;
  for (size_t r = 0; r < n; ++r) {
    for (size_t c = r; c < n; ++c, ++k) m[r * n + c] = m[c * n + r] = upper[k];
  }
  return m;
}

// fuzz_eigeng: a symmetric 8x8 matrix with a nearly zero eigenvalue beside
// tiny diagonal entries. Its back-substitution divided by pivots of order
// 1e-39: components grew to 1e22 and then past the float range, and one row
// of every eigenvector came out NaN.
TEST(EigengRegression, BackSubstitutionOverATinyPivotIsScaledDown) {
  const std::vector<float> m = symmetric_from_upper(
      {1.66282198e-31f, 0, 7.27595761e-12f, -2.77572333e-17f, 2, -2.00002789f, 3.47676162e-41f,
       -8.96831017e-44f, 8.82818033e-44f, 1.36318315e-41f, 1.86264515e-09f, 2.3696642e-30f, 0, 0, 0,
       134275072.0f, 8.96831017e-44f, 2.84113185e-29f, 2.84113667e-29f, 2.84113667e-29f,
       2.84113667e-29f, 2.84113667e-29f, 2.84113667e-29f, 2.84113667e-29f, 2.84113667e-29f,
       2.84113667e-29f, 3.94892633e-39f, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      8);
  expect_sound_real_eigenpairs(m, 8, decompose(m, 8), 1e-6);
}

// Cross-check against the procedure computed independently: on defective
// and triangular matrices the overflow control of the back-substitution
// divided the solved components by a large one, but an isolated row's own
// component stayed 1 in the returned vector, which then got spurious equal
// components (0.707, 0.707) where the right ones are tiny. Each matrix is
// given as passed to eigeng; every eigenpair must have a residual of at most
// 30 n u ||A||_F (u = 2^-24), and the vectors named must be the true ones.
constexpr double kDefectiveTolerance = 30 * 0x1p-24;

TEST(EigengRegression, NilpotentShiftKeepsItsTinyComponents) {
  const std::vector<float> m{0, 1, 0, 0, 0, 1, 0, 0, 0};
  const Eigen e = decompose(m, 3);
  expect_sound_real_eigenpairs(m, 3, e, 3 * kDefectiveTolerance);
  // Every eigenvector is e0 up to components of the order of eps.
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(e.vectors[k], 1.0f) << k;
    EXPECT_LT(std::fabs(e.vectors[3 + k]) + std::fabs(e.vectors[6 + k]), 1e-15f) << k;
  }
}

TEST(EigengRegression, JordanBlockBesideAnIsolatedRow) {
  const std::vector<float> m{2, 0, 0, 1, 0, 2, 0, 0, 0, 0, 2, 1, 0, 1, 0, 2};
  const Eigen e = decompose(m, 4);
  expect_sound_real_eigenpairs(m, 4, e, 4 * kDefectiveTolerance);
  // The last vector is (1, 0, 1, 0)/sqrt(2) up to tiny components, not
  // (1, 1, 1, 0)/sqrt(3).
  const float half = std::sqrt(0.5f);
  EXPECT_NEAR(e.vectors[3], half, 1e-6f);
  EXPECT_LT(std::fabs(e.vectors[7]), 1e-20f);
  EXPECT_NEAR(e.vectors[11], half, 1e-6f);
  EXPECT_LT(std::fabs(e.vectors[15]), 1e-14f);
}

TEST(EigengRegression, DefectiveTriangularAndSparseMatricesHaveSmallResiduals) {
  const std::vector<std::vector<float>> cases{
      {0x0p+0f, -0x1p+1f, 0x1p+0f, 0, 0, 0, 0, 0x1p+0f, 0},
      {0, -0x1.d8ff04p-4f, -0x1.52e3ep-2f, 0, 0, 0x1.4p+2f, 0, 0, 0},
      {0, 0x1.ae2592p+35f, 0, 0x1.e7162ep-38f},
      {0, 0, 0, 0, 0.330244929f, 0, 0, 0, -0.643849015f, 0, 0, 0.250665098f, 0.904524386f,
       -0.705257535f, 0, 0.377768129f}};
  for (const std::vector<float>& m : cases) {
    const auto n = static_cast<int32_t>(std::lround(std::sqrt(double(m.size()))));
    SCOPED_TRACE(n);
    expect_sound_real_eigenpairs(m, size_t(n), decompose(m, n), n * kDefectiveTolerance);
  }
  // The wide-range 2x2: the vector of its tiny eigenvalue is (1, 1.2e-22),
  // not (1, 1)/sqrt(2).
  const Eigen e = decompose({0, 0x1.ae2592p+35f, 0, 0x1.e7162ep-38f}, 2);
  EXPECT_EQ(e.vectors[1], 1.0f);
  EXPECT_NEAR(e.vectors[3], 1.2e-22f, 1e-24f);
}

// fuzz_entry: base_size 0 (every window empty, so no point receives a plane)
// with a size_norm so small that size_norm * sigma^2 underflows to 0. The
// regularisation factor became infinite, times a weight sum of 0 gave NaN,
// and every point came out NaN instead of taking its fused estimate (its
// input position, as no direction was accepted). size_norm 0 did the same.
TEST(EntryRegression, PointsWithoutPlanesKeepTheirPositionWhateverTheSizeNorm) {
  const int32_t n = 9, K = 9;
  std::vector<float> points;
  for (int32_t k = 0; k < n; ++k) {
    points.insert(points.end(), {1e-4f * static_cast<float>(k % 3), 1e-4f * static_cast<float>(k / 3),
                                 1e-5f * static_cast<float>(k % 2)});
  }
  std::vector<int32_t> table;
  std::vector<std::vector<int32_t>> lists(n);
  for (int32_t i = 0; i < n; ++i) {
    lists[static_cast<size_t>(i)].push_back(i);
    for (int32_t j = 0; j < n; ++j) {
      if (j != i) lists[static_cast<size_t>(i)].push_back(j);
    }
    table.insert(table.end(), lists[static_cast<size_t>(i)].begin(), lists[static_cast<size_t>(i)].end());
  }
  const ici3d::host::CandidateView view = ici3d::host::candidate_view(lists);
  for (const float size_norm : {1.84396865e-40f, 0.0f}) {
    std::vector<float> noise(n, 1e-4f), out(3 * n, -1.0f);
    square_neigh_ici_denoi_recur_pure_c_parallel(points.data(), n, noise.data(), 0, 2,
                                                  view.pointers.data(), size_norm, 1e6f, 0.0045f,
                                                  view.counts.data(), n, 1, table.data(), K, out.data());
    for (size_t k = 0; k < out.size(); ++k) {
      EXPECT_NEAR(out[k], points[k], 1e-10) << "size_norm " << size_norm << ", coordinate " << k;
    }
    for (float s : noise) EXPECT_TRUE(std::isfinite(s)) << size_norm;
  }
}

}  // namespace
