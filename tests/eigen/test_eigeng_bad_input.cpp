// eigeng on infinite, NaN, huge and tiny entries: every call must return (the
// ctest timeout of this executable catches a hang) and return 0.
#include <gtest/gtest.h>

#include <cfloat>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <random>
#include <vector>

#include "eigen_test_support.h"

namespace {

using eigen_test::decompose;
using eigen_test::Decomposition;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

int call(std::vector<float> a, int n, bool with_vectors) {
  std::vector<float> re(static_cast<size_t>(n)), im(static_cast<size_t>(n));
  std::vector<float> v(with_vectors ? static_cast<size_t>(n * n) : 0);
  return eigeng(a.data(), n, re.data(), im.data(), with_vectors ? v.data() : nullptr);
}

TEST(EigengBadInput, SubnormalEntriesThatTradeAFactorTwoForEver) {
  // c * 0.25 underflows for the subnormal entries, so rows 0 and 1 would pass
  // a factor 2 back and forth in every scaling sweep.
  const std::vector<float> a{0, std::ldexp(1.0f, -148), 0, std::ldexp(1.0f, -149), 0, 0, 0, -0.2067f, 1.96e25f};
  EXPECT_EQ(call(a, 3, true), 0);
  EXPECT_EQ(call(a, 3, false), 0);
}

TEST(EigengBadInput, RowSumAboveHalfTheLargestFloat) {
  // Row 0 sums to 0.75 * FLT_MAX and column 0 to 0.3 * FLT_MAX: raising c
  // towards r / 2 overflows it, and an infinite c never falls below the
  // (infinite) r + r.
  const std::vector<float> a{1, 0.75f * FLT_MAX, 0, 0.3f * FLT_MAX, 1, 1, 0, 1, 1};
  EXPECT_EQ(call(a, 3, true), 0);
  EXPECT_EQ(call(a, 3, false), 0);
}

TEST(EigengBadInput, InfiniteOrZeroSumsLeaveTheRowUnscaled) {
  // Row 0 has an infinite off-diagonal sum: no scaling can balance it, and
  // the other rows stay finite and are still reduced.
  for (const float bad : {kInf, -kInf, kNaN}) {
    EXPECT_EQ(call({1, bad, 2, 3, 4, 5, 6, 7, 8}, 3, true), 0);
    EXPECT_EQ(call({1, 2, 3, bad, 4, 5, 6, 7, 8}, 3, true), 0);
    EXPECT_EQ(call({bad, bad, bad, bad, bad, bad, bad, bad, bad}, 3, true), 0);
  }
}

TEST(EigengBadInput, NaNPropagatesIntoTheEigenvalues) {
  const Decomposition d = decompose({1, 2, kNaN, 3}, 2);
  EXPECT_TRUE(std::isnan(d.re[0]) || std::isnan(d.re[1]) || std::isnan(d.im[0]) || std::isnan(d.im[1]));
}

// A random entry drawn from finite values of every magnitude, infinities and
// NaN (more often from the extremes than a uniform draw would).
float extreme_value(std::mt19937 &rng) {
  static const float specials[] = {0.0f,    -0.0f,   kInf,          -kInf,          kNaN,
                                   FLT_MAX, -FLT_MAX, FLT_MIN,       -FLT_MIN,       std::ldexp(1.0f, -149),
                                   1.0f,    -1.0f,   0.5f * FLT_MAX, std::ldexp(1.0f, -140)};
  std::uniform_int_distribution<int> pick(0, 2 * static_cast<int>(std::size(specials)) - 1);
  std::uniform_int_distribution<int> exponent(-149, 127);
  std::uniform_real_distribution<float> mantissa(-2.0f, 2.0f);
  const int k = pick(rng);
  if (k < static_cast<int>(std::size(specials))) return specials[k];
  return std::ldexp(mantissa(rng), exponent(rng));
}

TEST(EigengBadInput, RandomNonFiniteAndExtremeMatricesReturn) {
  std::mt19937 rng(1234567);
  std::bernoulli_distribution extreme(0.5);
  std::normal_distribution<float> gauss(0.0f, 1.0f);
  for (int trial = 0; trial < 4000; ++trial) {
    const int n = trial % 4 == 3 ? 4 + trial % 5 : 3;  // mostly 3x3, some 4..8
    std::vector<float> a(static_cast<size_t>(n * n));
    for (float &x : a) x = extreme(rng) ? extreme_value(rng) : gauss(rng);
    ASSERT_EQ(call(a, n, true), 0) << "trial " << trial;
    ASSERT_EQ(call(a, n, false), 0) << "trial " << trial;
  }
}

TEST(EigengBadInput, ExtremeButFiniteGradingIsStillSolved) {
  // Entries spread over the whole exponent range but similar to a benign
  // matrix: balancing must converge (well inside its sweep bound) and give
  // the eigenvalues of the benign matrix.
  const int n = 4;
  const std::vector<float> b{2, 1, 0.5f, 0.25f, 1, 3, 1, 0.5f, 0.5f, 1, 4, 1, 0.25f, 0.5f, 1, 5};
  const int grade[] = {-60, 40, -20, 60};
  std::vector<float> a(b.size());
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) a[static_cast<size_t>(i * n + j)] = std::ldexp(b[static_cast<size_t>(i * n + j)], grade[i] - grade[j]);
  }
  const Decomposition da = decompose(a, n);
  const Decomposition db = decompose(b, n);
  std::vector<float> ra = da.re, rb = db.re;
  std::sort(ra.begin(), ra.end());
  std::sort(rb.begin(), rb.end());
  for (int k = 0; k < n; ++k) {
    EXPECT_EQ(da.im[static_cast<size_t>(k)], 0.0f);
    EXPECT_NEAR(ra[static_cast<size_t>(k)], rb[static_cast<size_t>(k)], 1e-5f);
  }
}

}  // namespace
