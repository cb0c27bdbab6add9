// eigeng on seeded families of matrices with repeated, defective and badly
// scaled eigenvalues (Jordan blocks, triangular matrices, small integers,
// repeated values, zero rows and columns, companion matrices, rotation
// blocks, wide ranges of magnitude, subnormal entries), orders 2 to 8.
//
// Two properties for every matrix:
// - Wherever the plain procedure (eigeng_in_form without safeguards) writes
//   only finite values, eigeng's results are bitwise those of the plain
//   procedure: the safeguards act only where the plain procedure overflows or
//   produces NaN.
// - Every returned eigenpair has a small residual in the balanced basis,
//   B = D^-1 P^T A P D and u = D^-1 P^T v (P the permutation and D the
//   power-of-2 scaling of the balancing, which the solver works on):
//   ||B u - lambda u|| <= 30 n u ||B||_F ||u|| + 2^-149 ||u||, u = 2^-24 as
//   the eigenvectors are single precision. In the caller's basis the same
//   holds with ||A||_F, widened by the condition max(D) / min(D) of the
//   scaling when the balancing scaled: D maps the balanced residual back.
//   The absolute 2^-149 is the spacing of the subnormal floats, which bounds
//   how closely a subnormal eigenvalue can be returned at all.
// Matrices on which the iteration does not converge within its 50 steps per
// eigenvalue (documented: the eigenvalues not reached are left as they were)
// have no eigenpairs to check; they are counted and printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "eigen_internal.h"
#include "eigen_test_support.h"

namespace {

using eigen_test::Decomposition;
using ici3d::eigen::Safeguards;

constexpr double kUnitRoundoff = 0x1p-24;
constexpr double kResidualFactor = 30.0;

size_t at(int i) { return static_cast<size_t>(i); }

Decomposition plain(const std::vector<float> &a, int n) {
  Decomposition d;
  d.n = n;
  d.matrix = a;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  d.re.assign(at(n), nan);
  d.im.assign(at(n), nan);
  d.vectors.assign(at(n * n), nan);
  ici3d::eigen::eigeng_in_form(d.matrix.data(), n, d.re.data(), d.im.data(), d.vectors.data(),
                               Safeguards::kOff);
  return d;
}

bool finite(const std::vector<float> &x) {
  return std::all_of(x.begin(), x.end(), [](float v) { return std::isfinite(v); });
}

bool same_bits(const std::vector<float> &x, const std::vector<float> &y) {
  return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(float)) == 0;
}

// The balanced matrix B of `a` and the map of eigenvectors of A to those of
// B: rows permuted as the balancing did, then divided by its factors.
struct Balanced {
  std::vector<float> b;
  std::vector<float> scale;
  int low = 0;
  int high = 0;

  // max(D) / min(D) over the block.
  double condition() const {
    double lo = 1.0, hi = 1.0;
    for (int i = low; i <= high; ++i) {
      lo = std::min(lo, static_cast<double>(scale[at(i)]));
      hi = std::max(hi, static_cast<double>(scale[at(i)]));
    }
    return hi / lo;
  }
};

// The balancing of `a` multiplied by 2^exponent, which brings its largest
// entry into [1, 2): exact, and the balancing then neither underflows on
// tiny matrices nor overflows.
Balanced balanced(const std::vector<float> &a, int n, int exponent) {
  Balanced bal{a, std::vector<float>(at(n)), 0, 0};
  for (float &x : bal.b) x = std::ldexp(x, exponent);
  std::vector<float *> rows(at(n));
  for (int i = 0; i < n; ++i) rows[at(i)] = bal.b.data() + i * n;
  ici3d::eigen::balance(rows.data(), n, bal.scale.data(), &bal.low, &bal.high, Safeguards::kOn);
  return bal;
}

int normalising_exponent(const std::vector<float> &a) {
  float largest = 0.0f;
  for (float x : a) largest = std::max(largest, std::fabs(x));
  return largest > 0.0f ? -std::ilogb(largest) : 0;
}

// Inverse of the back-transformation through the balancing, in double.
std::vector<double> to_balanced_basis(const Decomposition &d, const Balanced &bal) {
  const int n = d.n;
  std::vector<double> u(d.vectors.begin(), d.vectors.end());
  auto swap_rows = [&](int i) {
    const int m = static_cast<int>(bal.scale[at(i)]);
    if (m == i) return;
    for (int j = 0; j < n; ++j) std::swap(u[at(i * n + j)], u[at(m * n + j)]);
  };
  for (int i = n - 1; i > bal.high; --i) swap_rows(i);
  for (int i = 0; i < bal.low; ++i) swap_rows(i);
  for (int i = bal.low; i <= bal.high; ++i) {
    for (int j = 0; j < n; ++j) u[at(i * n + j)] /= static_cast<double>(bal.scale[at(i)]);
  }
  return u;
}

// Residual of eigenpair k of a (as eigen_test::eigen_residual, which takes
// float vectors) for double vectors: rescaled into float range first.
double residual_in_basis(const std::vector<float> &a, const Decomposition &d,
                         const std::vector<double> &u, int k) {
  const int n = d.n;
  const int width = d.im[at(k)] == 0.0f ? 1 : 2;
  Decomposition e = d;
  for (int c = k; c < k + width; ++c) {
    double length = 0.0;
    for (int r = 0; r < n; ++r) length += u[at(r * n + c)] * u[at(r * n + c)];
    length = std::sqrt(length);
    for (int r = 0; r < n; ++r) e.vectors[at(r * n + c)] = static_cast<float>(u[at(r * n + c)] / length);
  }
  return eigen_test::eigen_residual(a, e, k);
}

struct Worst {
  int matrices = 0;
  int plain_finite = 0;
  int not_converged = 0;
  double residual = 0.0;           // / (n u ||A||_F)
  double balanced_residual = 0.0;  // / (n u ||B||_F)
  // Eigenpairs within the bound only through the widening by the scaling.
  int widened = 0;
};

// The matrix in hex floats, for a failure message.
std::string describe(const std::vector<float> &a) {
  std::string s = "[";
  char buf[32];
  for (float x : a) {
    std::snprintf(buf, sizeof buf, "%a, ", static_cast<double>(x));
    s += buf;
  }
  return s + "]";
}

// Both properties for the matrix a of order n.
void check_matrix(const std::vector<float> &a, int n, const std::string &label_in, Worst *worst) {
  const std::string label = label_in + " " + describe(a);
  ++worst->matrices;
  const Decomposition d = eigen_test::decompose(a, n);
  const Decomposition ref = plain(a, n);
  if (finite(ref.matrix) && finite(ref.re) && finite(ref.im) && finite(ref.vectors)) {
    ++worst->plain_finite;
    ASSERT_TRUE(same_bits(d.re, ref.re) && same_bits(d.im, ref.im) &&
                same_bits(d.vectors, ref.vectors) && same_bits(d.matrix, ref.matrix))
        << label << ": differs from the plain procedure, which stays finite";
  }
  // eigen_test::decompose prefills the eigenvalues with NaN: one left NaN
  // was never reached.
  if (!(finite(d.re) && finite(d.im))) {
    ++worst->not_converged;
    return;
  }
  ASSERT_TRUE(finite(d.vectors)) << label;
  const int exponent = normalising_exponent(a);
  const Balanced bal = balanced(a, n, exponent);
  Decomposition scaled = d;  // the eigenvalues of the scaled matrix
  for (float &x : scaled.re) x = std::ldexp(x, exponent);
  for (float &x : scaled.im) x = std::ldexp(x, exponent);
  const std::vector<double> u = to_balanced_basis(d, bal);
  const double norm = eigen_test::frobenius_norm(a);
  const double balanced_norm = eigen_test::frobenius_norm(bal.b);
  const double unit = n * kUnitRoundoff;
  const double subnormal_spacing = 0x1p-149;
  const double balanced_spacing = std::ldexp(subnormal_spacing, exponent);
  const double caller_norm = std::max(norm, std::ldexp(bal.condition() * balanced_norm, -exponent));
  for (int k = 0; k < n; ++k) {
    if (d.im[at(k)] < 0.0f) continue;  // the pair was checked at its first position
    const double residual = eigen_test::eigen_residual(a, d, k);
    const double balanced_residual = residual_in_basis(bal.b, scaled, u, k);
    // Residuals in units of the tolerance's relative part n u ||.||.
    const double ratio =
        caller_norm > 0.0 ? std::max(0.0, residual - subnormal_spacing) / (unit * caller_norm) : 0.0;
    const double balanced_ratio =
        balanced_norm > 0.0
            ? std::max(0.0, balanced_residual - balanced_spacing) / (unit * balanced_norm)
            : 0.0;
    if (norm > 0.0 && residual - subnormal_spacing > kResidualFactor * unit * norm) ++worst->widened;
    worst->residual = std::max(worst->residual, ratio);
    worst->balanced_residual = std::max(worst->balanced_residual, balanced_ratio);
    EXPECT_LE(ratio, kResidualFactor) << label << ", eigenpair " << k;
    EXPECT_LE(balanced_ratio, kResidualFactor) << label << ", eigenpair " << k << " (balanced)";
  }
}

// ---------------------------------------------------------------------------
// Seeded families
// ---------------------------------------------------------------------------

using Rng = std::mt19937;
using Generator = std::function<std::vector<float>(Rng &, int)>;

int uniform_int(Rng &rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
float gauss(Rng &rng) { return std::normal_distribution<float>(0.0f, 1.0f)(rng); }

float &entry(std::vector<float> &a, int n, int i, int j) { return a[at(i * n + j)]; }

// Symmetric permutation P^T A P: keeps the eigenvalues, hides the structure
// from the balancing's searches less often than not.
std::vector<float> permuted(Rng &rng, std::vector<float> a, int n) {
  std::vector<int> p(at(n));
  for (int i = 0; i < n; ++i) p[at(i)] = i;
  std::shuffle(p.begin(), p.end(), rng);
  std::vector<float> b(a.size());
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) b[at(i * n + j)] = a[at(p[at(i)] * n + p[at(j)])];
  }
  return b;
}

// A few distinct small eigenvalues, repeated.
float repeated_value(Rng &rng) { return static_cast<float>(uniform_int(rng, -2, 2)); }

// Jordan blocks of random sizes with small integer eigenvalues, sometimes
// permuted.
std::vector<float> jordan(Rng &rng, int n) {
  std::vector<float> a(at(n * n), 0.0f);
  int i = 0;
  while (i < n) {
    const int size = uniform_int(rng, 1, n - i);
    const float lambda = repeated_value(rng);
    for (int k = 0; k < size; ++k) {
      entry(a, n, i + k, i + k) = lambda;
      if (k + 1 < size) entry(a, n, i + k, i + k + 1) = 1.0f;
    }
    i += size;
  }
  return uniform_int(rng, 0, 1) ? permuted(rng, a, n) : a;
}

// Upper triangular with repeated diagonal values and random entries above,
// some of them zero; lower triangular is its transpose.
std::vector<float> upper_triangular(Rng &rng, int n) {
  std::vector<float> a(at(n * n), 0.0f);
  for (int i = 0; i < n; ++i) {
    entry(a, n, i, i) = uniform_int(rng, 0, 2) ? repeated_value(rng) : gauss(rng);
    for (int j = i + 1; j < n; ++j) entry(a, n, i, j) = uniform_int(rng, 0, 3) ? gauss(rng) : 0.0f;
  }
  return a;
}

std::vector<float> lower_triangular(Rng &rng, int n) {
  const std::vector<float> u = upper_triangular(rng, n);
  std::vector<float> a(u.size());
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) a[at(i * n + j)] = u[at(j * n + i)];
  }
  return a;
}

std::vector<float> small_integers(Rng &rng, int n) {
  std::vector<float> a(at(n * n));
  for (float &x : a) x = static_cast<float>(uniform_int(rng, -2, 2) * uniform_int(rng, 0, 1));
  return a;
}

// Entries drawn from two values (0 among them half the time).
std::vector<float> repeated_values(Rng &rng, int n) {
  const float v[2] = {uniform_int(rng, 0, 1) ? 0.0f : gauss(rng), gauss(rng)};
  std::vector<float> a(at(n * n));
  for (float &x : a) x = v[uniform_int(rng, 0, 1)];
  return a;
}

std::vector<float> zero_rows_and_columns(Rng &rng, int n) {
  std::vector<float> a(at(n * n));
  for (float &x : a) x = gauss(rng);
  const int zeros = uniform_int(rng, 1, n - 1);
  for (int k = 0; k < zeros; ++k) {
    const int i = uniform_int(rng, 0, n - 1);
    const bool row = uniform_int(rng, 0, 1) != 0;
    for (int j = 0; j < n; ++j) (row ? entry(a, n, i, j) : entry(a, n, j, i)) = 0.0f;
  }
  return a;
}

// Companion matrix of a polynomial with repeated small integer roots.
std::vector<float> companion(Rng &rng, int n) {
  std::vector<double> c{1.0};  // coefficients, highest first
  const int distinct = uniform_int(rng, 1, 2);
  std::vector<int> roots;
  for (int k = 0; k < distinct; ++k) roots.push_back(uniform_int(rng, -2, 2));
  for (int k = 0; k < n; ++k) {
    const double r = roots[at(k % distinct)];
    std::vector<double> next(c.size() + 1, 0.0);
    for (size_t j = 0; j < c.size(); ++j) {
      next[j] += c[j];
      next[j + 1] -= r * c[j];
    }
    c = next;
  }
  std::vector<float> a(at(n * n), 0.0f);
  for (int j = 0; j < n; ++j) entry(a, n, 0, j) = static_cast<float>(-c[at(j + 1)]);
  for (int i = 1; i < n; ++i) entry(a, n, i, i - 1) = 1.0f;
  return uniform_int(rng, 0, 1) ? a : permuted(rng, a, n);
}

// Block upper triangular with equal 2x2 rotation blocks (a repeated complex
// pair, defective through the coupling above) and a real entry when n is odd.
std::vector<float> rotation_blocks(Rng &rng, int n) {
  std::vector<float> a(at(n * n), 0.0f);
  const float c = static_cast<float>(uniform_int(rng, -1, 1));
  const float s = static_cast<float>(uniform_int(rng, 1, 2));
  for (int i = 0; i + 1 < n; i += 2) {
    entry(a, n, i, i) = c;
    entry(a, n, i, i + 1) = -s;
    entry(a, n, i + 1, i) = s;
    entry(a, n, i + 1, i + 1) = c;
  }
  if (n % 2 != 0) entry(a, n, n - 1, n - 1) = repeated_value(rng);
  for (int i = 0; i < n; ++i) {
    for (int j = (i / 2) * 2 + 2; j < n; ++j) {
      if (uniform_int(rng, 0, 2) == 0) entry(a, n, i, j) = static_cast<float>(uniform_int(rng, -1, 1));
    }
  }
  return uniform_int(rng, 0, 1) ? a : permuted(rng, a, n);
}

// One of the structured families, each entry multiplied by 2^e with e spread
// over +-40.
std::vector<float> wide_range(Rng &rng, int n) {
  std::vector<float> a = uniform_int(rng, 0, 1) ? upper_triangular(rng, n) : small_integers(rng, n);
  for (float &x : a) x = std::ldexp(x == 0.0f ? 0.0f : x, uniform_int(rng, -40, 40));
  return a;
}

// A structured matrix scaled so far down that some or all entries are
// subnormal.
std::vector<float> subnormal(Rng &rng, int n) {
  std::vector<float> a = uniform_int(rng, 0, 1) ? jordan(rng, n) : zero_rows_and_columns(rng, n);
  const int exponent = -uniform_int(rng, 120, 140);
  for (float &x : a) x = std::ldexp(x, exponent);
  return a;
}

void run_family(const char *name, const Generator &generate, unsigned seed, int per_order) {
  Rng rng(seed);
  Worst worst;
  for (int n = 2; n <= 8; ++n) {
    for (int trial = 0; trial < per_order; ++trial) {
      const std::vector<float> a = generate(rng, n);
      check_matrix(a, n, std::string(name) + " n=" + std::to_string(n) + " trial " + std::to_string(trial),
                   &worst);
      if (::testing::Test::HasFailure()) return;
    }
  }
  std::printf("  %s: %d matrices (%d with a finite plain procedure, %d not converged), worst "
              "residual %.3g n u max(||A||_F, cond(D) ||B||_F) (%d eigenpairs beyond 30 n u ||A||_F), "
              "balanced %.3g n u ||B||_F\n",
              name, worst.matrices, worst.plain_finite, worst.not_converged, worst.residual,
              worst.widened, worst.balanced_residual);
}

constexpr int kPerOrder = 300;

TEST(EigengFamilies, JordanBlocks) { run_family("jordan", jordan, 1, kPerOrder); }
TEST(EigengFamilies, UpperTriangular) { run_family("upper", upper_triangular, 2, kPerOrder); }
TEST(EigengFamilies, LowerTriangular) { run_family("lower", lower_triangular, 3, kPerOrder); }
TEST(EigengFamilies, SmallIntegers) { run_family("integers", small_integers, 4, kPerOrder); }
TEST(EigengFamilies, RepeatedValues) { run_family("repeated", repeated_values, 5, kPerOrder); }
TEST(EigengFamilies, ZeroRowsAndColumns) { run_family("zero rows", zero_rows_and_columns, 6, kPerOrder); }
TEST(EigengFamilies, CompanionMatrices) { run_family("companion", companion, 7, kPerOrder); }
TEST(EigengFamilies, RotationBlocks) { run_family("rotation", rotation_blocks, 8, kPerOrder); }
TEST(EigengFamilies, WideRange) { run_family("wide range", wide_range, 9, kPerOrder); }
TEST(EigengFamilies, Subnormal) { run_family("subnormal", subnormal, 10, kPerOrder); }

}  // namespace
