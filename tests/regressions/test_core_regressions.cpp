// Core library inputs found by fuzzing. Each test names what broke; the
// fuzz input is given decoded, as the harness hands it to the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ici3d.h"

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

}  // namespace
