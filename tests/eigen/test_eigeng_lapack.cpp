// Cross-check of eigeng against LAPACK's dgeev (the reference, on the same
// float matrix widened to double) on thousands of seeded random matrices:
// general real matrices of orders 2 to 8 and 3x3 scatter matrices of random
// neighbourhoods. sgeev's errors are reported beside eigeng's as a yardstick
// for what single precision achieves.
//
// Tolerances. The solver is backward stable: it computes the exact
// eigenvalues of A + E with ||E|| of the order of n * u * ||A|| (u = 2^-24;
// balancing is exact, the elimination uses partial pivoting). To first order
// an eigenvalue then moves by at most kappa * ||E||, kappa = 1 / |y^H x| its
// condition number (unit left and right vectors y, x from dgeev), and the
// computed eigenvector leaves a residual of the order of ||E||. Hence
//   |lambda - mu|          <= kEigenvalueFactor * n * u * ||A||_F * kappa,
//   ||A v - lambda v||     <= kResidualFactor   * n * u * ||A||_F.
// kEigenvalueFactor carries the constant of the backward error bound with a
// margin. kResidualFactor is larger: the vectors are multiplied by the
// non-orthogonal transformation of the elimination, whose condition number
// enters the residual (on 120000 trial matrices the worst residual was about
// 2.8 times sgeev's worst, 0.45 of this bound). For graded matrices
// A = D B D^-1 (D a diagonal of powers of 2, which balancing undoes) both
// bounds refer to B. Matrices with an eigenvalue of kappa > kMaxCondition are
// too close to defective for a first-order bound and are skipped from the
// numerical comparison, as are matrices on which the iteration did not
// converge; both are counted and printed with the worst errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "eigen_test_support.h"

extern "C" {
void sgeev_(const char *jobvl, const char *jobvr, const int *n, float *a, const int *lda, float *wr,
            float *wi, float *vl, const int *ldvl, float *vr, const int *ldvr, float *work,
            const int *lwork, int *info, size_t jobvl_len, size_t jobvr_len);
void dgeev_(const char *jobvl, const char *jobvr, const int *n, double *a, const int *lda, double *wr,
            double *wi, double *vl, const int *ldvl, double *vr, const int *ldvr, double *work,
            const int *lwork, int *info, size_t jobvl_len, size_t jobvr_len);
}

namespace {

using cplx = std::complex<double>;
using eigen_test::Decomposition;

constexpr double kUnitRoundoff = 0x1p-24;
constexpr double kEigenvalueFactor = 16.0;
constexpr double kResidualFactor = 64.0;
constexpr double kMaxCondition = 1e3;

size_t at(int i) { return static_cast<size_t>(i); }

// Column-major copy of the row-major float matrix.
template <typename T>
std::vector<T> column_major(const std::vector<float> &a, int n) {
  std::vector<T> out(a.size());
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) out[at(j * n + i)] = static_cast<T>(a[at(i * n + j)]);
  }
  return out;
}

// Column k of an eigenvector matrix in LAPACK's layout as a complex vector
// (a complex pair k, k+1 stores real and imaginary part; `second` picks the
// conjugate).
std::vector<cplx> lapack_vector(const std::vector<double> &v, int n, int k, bool complex_pair, bool second) {
  std::vector<cplx> x(at(n));
  for (int r = 0; r < n; ++r) {
    if (!complex_pair) {
      x[at(r)] = v[at(k * n + r)];
    } else {
      const double re = v[at(k * n + r)], im = v[at((k + 1) * n + r)];
      x[at(r)] = second ? cplx(re, -im) : cplx(re, im);
    }
  }
  return x;
}

struct Reference {
  bool ok = false;
  std::vector<cplx> values;
  std::vector<double> condition;  // 1 / |y^H x| for unit y, x
};

Reference dgeev_reference(const std::vector<float> &matrix, int n) {
  Reference ref;
  std::vector<double> a = column_major<double>(matrix, n);
  std::vector<double> wr(at(n)), wi(at(n)), vl(at(n * n)), vr(at(n * n)), work(at(8 * n + 16));
  const int lwork = static_cast<int>(work.size());
  int info = 0;
  dgeev_("V", "V", &n, a.data(), &n, wr.data(), wi.data(), vl.data(), &n, vr.data(), &n, work.data(),
         &lwork, &info, 1, 1);
  if (info != 0) return ref;
  ref.ok = true;
  for (int k = 0; k < n; ++k) {
    const bool pair = wi[at(k)] != 0.0;
    const int first = pair && wi[at(k)] < 0.0 ? k - 1 : k;
    const bool second = first != k;
    const std::vector<cplx> x = lapack_vector(vr, n, first, pair, second);
    const std::vector<cplx> y = lapack_vector(vl, n, first, pair, second);
    cplx yx = 0.0;
    double xx = 0.0, yy = 0.0;
    for (int r = 0; r < n; ++r) {
      yx += std::conj(y[at(r)]) * x[at(r)];
      xx += std::norm(x[at(r)]);
      yy += std::norm(y[at(r)]);
    }
    ref.values.emplace_back(wr[at(k)], wi[at(k)]);
    ref.condition.push_back(std::sqrt(xx * yy) / std::abs(yx));
  }
  return ref;
}

// sgeev's decomposition in eigeng's layout (complex pair: real part in
// column k, imaginary part in column k+1). Empty vectors when it failed.
Decomposition sgeev_decomposition(const std::vector<float> &matrix, int n) {
  Decomposition d;
  d.n = n;
  std::vector<float> a = column_major<float>(matrix, n);
  std::vector<float> vr(at(n * n)), work(at(8 * n + 16));
  d.re.resize(at(n));
  d.im.resize(at(n));
  const int lwork = static_cast<int>(work.size());
  const int one = 1;
  int info = 0;
  sgeev_("N", "V", &n, a.data(), &n, d.re.data(), d.im.data(), nullptr, &one, vr.data(), &n, work.data(),
         &lwork, &info, 1, 1);
  if (info != 0) return d;
  d.vectors.resize(at(n * n));
  for (int r = 0; r < n; ++r) {
    for (int k = 0; k < n; ++k) d.vectors[at(r * n + k)] = vr[at(k * n + r)];
  }
  return d;
}

// Pairs every reference value with the nearest computed one not yet taken
// and returns the distances, in the order of the reference.
std::vector<double> match_distances(const std::vector<cplx> &reference, const Decomposition &d) {
  std::vector<bool> taken(at(d.n), false);
  std::vector<double> distances;
  for (const cplx &mu : reference) {
    size_t best = 0;
    double best_distance = INFINITY;
    for (size_t j = 0; j < taken.size(); ++j) {
      const double distance = std::abs(cplx(d.re[j], d.im[j]) - mu);
      if (!taken[j] && distance < best_distance) {
        best_distance = distance;
        best = j;
      }
    }
    taken[best] = true;
    distances.push_back(best_distance);
  }
  return distances;
}

bool all_finite(const std::vector<float> &v) {
  return std::all_of(v.begin(), v.end(), [](float x) { return std::isfinite(x); });
}

// Complex pairs sit at (k, k+1) with the positive imaginary part first and
// equal real parts.
void expect_pair_layout(const Decomposition &d, const std::string &what) {
  for (int k = 0; k < d.n; ++k) {
    if (d.im[at(k)] == 0.0f) continue;
    EXPECT_GT(d.im[at(k)], 0.0f) << what << " position " << k;
    ASSERT_LT(k + 1, d.n) << what;
    EXPECT_EQ(d.im[at(k + 1)], -d.im[at(k)]) << what << " position " << k;
    EXPECT_EQ(d.re[at(k + 1)], d.re[at(k)]) << what << " position " << k;
    ++k;
  }
}

// Every column has unit length; the largest-magnitude component of a real
// eigenvector (the first one on ties) is positive.
void expect_unit_columns_with_positive_peak(const Decomposition &d, const std::string &what) {
  for (int k = 0; k < d.n; ++k) {
    EXPECT_NEAR(eigen_test::column_length(d, k), 1.0, 1e-5) << what << " column " << k;
    if (d.im[at(k)] != 0.0f) continue;
    int peak = 0;
    for (int r = 1; r < d.n; ++r) {
      if (std::fabs(d.v(r, k)) > std::fabs(d.v(peak, k))) peak = r;
    }
    EXPECT_GT(d.v(peak, k), 0.0f) << what << " column " << k;
  }
}

// A test matrix a = D b D^-1 with D = diag(2^grade[i]), exact in float. The
// eigenvalues of a and b agree; the tolerances refer to b, the matrix that
// balancing recovers (grade all 0: a = b).
struct TestMatrix {
  int n = 0;
  std::vector<float> a;
  std::vector<float> b;
  std::vector<int> grade;
};

// Eigenvectors of a mapped to eigenvectors of b (u = D^-1 v), each column
// scaled to unit length again.
Decomposition to_ungraded(Decomposition d, const std::vector<int> &grade) {
  for (int k = 0; k < d.n; ++k) {
    double length = 0.0;
    for (int r = 0; r < d.n; ++r) {
      float &x = d.vectors[at(r * d.n + k)];
      x = std::ldexp(x, -grade[at(r)]);
      length += static_cast<double>(x) * static_cast<double>(x);
    }
    for (int r = 0; r < d.n; ++r) {
      float &x = d.vectors[at(r * d.n + k)];
      x = static_cast<float>(x / std::sqrt(length));
    }
  }
  return d;
}

// Worst errors of one solver over a set of matrices.
struct Errors {
  double eigenvalue = 0.0;  // |lambda - mu| / ||B||_F
  double ratio = 0.0;       // |lambda - mu| / its tolerance
  double residual = 0.0;    // ||B u - lambda u|| / ||B||_F

  void take_worst(const Errors &e) {
    eigenvalue = std::max(eigenvalue, e.eigenvalue);
    ratio = std::max(ratio, e.ratio);
    residual = std::max(residual, e.residual);
  }
};

Errors measure(const Decomposition &d, const TestMatrix &m, const Reference &ref) {
  const double norm = eigen_test::frobenius_norm(m.b);
  const double scale = norm > 0.0 ? norm : 1.0;  // the zero matrix has exact results
  Errors e;
  const std::vector<double> distances = match_distances(ref.values, d);
  for (size_t k = 0; k < distances.size(); ++k) {
    const double tolerance = kEigenvalueFactor * m.n * kUnitRoundoff * scale * ref.condition[k];
    e.eigenvalue = std::max(e.eigenvalue, distances[k] / scale);
    e.ratio = std::max(e.ratio, distances[k] / tolerance);
  }
  const Decomposition u = to_ungraded(d, m.grade);
  for (int k = 0; k < m.n; ++k) {
    e.residual = std::max(e.residual, eigen_test::eigen_residual(m.b, u, k) / scale);
    if (d.im[at(k)] != 0.0f) ++k;
  }
  return e;
}

struct CrossCheck {
  std::string name;
  int checked = 0;
  int not_converged = 0;
  int ill_conditioned = 0;
  Errors ours;
  Errors single;  // sgeev on the same matrices

  void check(const TestMatrix &m) {
    const std::string what = name + " matrix " + std::to_string(checked + not_converged + ill_conditioned);
    const Decomposition d = eigen_test::decompose(m.a, m.n);
    // Unconverged positions keep the NaN that decompose() put there.
    if (!all_finite(d.re) || !all_finite(d.im)) {
      ++not_converged;
      return;
    }
    expect_pair_layout(d, what);
    const Reference ref = dgeev_reference(m.b, m.n);
    ASSERT_TRUE(ref.ok) << what;
    const double kappa = *std::max_element(ref.condition.begin(), ref.condition.end());
    // Nearly defective: besides the eigenvalues, the unscaled back-substitution
    // may overflow the vectors (a defective zero eigenvalue of multiplicity 3
    // grows a component to about (eps * norm)^-2).
    if (!(kappa <= kMaxCondition)) {
      ++ill_conditioned;
      return;
    }
    ++checked;
    expect_unit_columns_with_positive_peak(d, what);
    const Errors e = measure(d, m, ref);
    EXPECT_LE(e.ratio, 1.0) << what << ": eigenvalue error " << e.eigenvalue << " * ||B||";
    EXPECT_LE(e.residual, kResidualFactor * m.n * kUnitRoundoff) << what;
    ours.take_worst(e);
    const Decomposition s = sgeev_decomposition(m.a, m.n);
    if (!s.vectors.empty()) single.take_worst(measure(s, m, ref));
  }

  void report() const {
    std::printf(
        "[ %s ] checked %d, skipped %d not converged + %d ill-conditioned (kappa > %.0e)\n"
        "  worst eigenvalue error %.3e * ||A||_F (%.3f of its tolerance), sgeev %.3e\n"
        "  worst residual %.3e * ||A||_F (tolerance %.0f * n * 2^-24), sgeev %.3e\n",
        name.c_str(), checked, not_converged, ill_conditioned, kMaxCondition, ours.eigenvalue, ours.ratio,
        single.eigenvalue, ours.residual, kResidualFactor, single.residual);
  }
};

// ---------------------------------------------------------------------------
// Random matrices
// ---------------------------------------------------------------------------

enum class GeneralKind { kGaussian, kGraded, kSparse, kSmallIntegers };

TestMatrix general_matrix(std::mt19937 &rng, int n, GeneralKind kind) {
  std::normal_distribution<double> gauss(0.0, 1.0);
  std::uniform_int_distribution<int> exponent(-20, 20), small(-3, 3);
  std::bernoulli_distribution zero(0.4);
  TestMatrix m;
  m.n = n;
  m.grade.assign(at(n), 0);
  if (kind == GeneralKind::kGraded) {
    for (int &g : m.grade) g = exponent(rng);
  }
  m.b.resize(at(n * n));
  m.a.resize(at(n * n));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      double x = gauss(rng);
      if (kind == GeneralKind::kSparse && zero(rng)) x = 0.0;
      if (kind == GeneralKind::kSmallIntegers) x = small(rng);
      m.b[at(i * n + j)] = static_cast<float>(x);
      m.a[at(i * n + j)] = std::ldexp(static_cast<float>(x), m.grade[at(i)] - m.grade[at(j)]);
    }
  }
  return m;
}

enum class Shape { kBlob, kNearlyFlat, kNearlyCollinear };

// Scatter matrix of K random points around a far-off centre, centred on
// their mean and accumulated in single precision (as the local frames do).
TestMatrix scatter_matrix(std::mt19937 &rng, Shape shape) {
  std::uniform_int_distribution<int> count(3, 40);
  std::uniform_real_distribution<double> offset(-1000.0, 1000.0), thin_exponent(-6.0, -2.0);
  std::normal_distribution<double> gauss(0.0, 1.0);
  double spread[3] = {1.0, std::exp(gauss(rng) * 0.3), std::exp(gauss(rng) * 0.3)};
  if (shape == Shape::kNearlyFlat) spread[2] = std::pow(10.0, thin_exponent(rng));
  if (shape == Shape::kNearlyCollinear) {
    spread[1] = std::pow(10.0, thin_exponent(rng));
    spread[2] = std::pow(10.0, thin_exponent(rng));
  }
  // Random rotation: orthonormalised Gaussian columns.
  double q[3][3];
  for (auto &row : q) {
    for (double &x : row) x = gauss(rng);
  }
  for (int k = 0; k < 3; ++k) {
    for (int j = 0; j < k; ++j) {
      const double dot = q[k][0] * q[j][0] + q[k][1] * q[j][1] + q[k][2] * q[j][2];
      for (int r = 0; r < 3; ++r) q[k][r] -= dot * q[j][r];
    }
    const double len = std::sqrt(q[k][0] * q[k][0] + q[k][1] * q[k][1] + q[k][2] * q[k][2]);
    for (int r = 0; r < 3; ++r) q[k][r] /= len;
  }
  const int kpoints = count(rng);
  const double centre[3] = {offset(rng), offset(rng), offset(rng)};
  std::vector<float> points(at(3 * kpoints));
  for (int p = 0; p < kpoints; ++p) {
    const double local[3] = {spread[0] * gauss(rng), spread[1] * gauss(rng), spread[2] * gauss(rng)};
    for (int r = 0; r < 3; ++r) {
      const double world = q[0][r] * local[0] + q[1][r] * local[1] + q[2][r] * local[2];
      points[at(3 * p + r)] = static_cast<float>(centre[r] + world);
    }
  }
  float mean[3] = {0.0f, 0.0f, 0.0f};
  for (int p = 0; p < kpoints; ++p) {
    for (int r = 0; r < 3; ++r) mean[r] += points[at(3 * p + r)];
  }
  for (float &m : mean) m /= static_cast<float>(kpoints);
  std::vector<float> s(9, 0.0f);
  for (int p = 0; p < kpoints; ++p) {
    float d[3];
    for (int r = 0; r < 3; ++r) d[r] = points[at(3 * p + r)] - mean[r];
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) s[at(3 * r + c)] += d[r] * d[c];
    }
  }
  return {3, s, s, {0, 0, 0}};
}

TEST(EigengLapack, GeneralMatricesOfOrderTwoToEight) {
  std::mt19937 rng(90210);
  const GeneralKind kinds[] = {GeneralKind::kGaussian, GeneralKind::kGraded, GeneralKind::kSparse,
                               GeneralKind::kSmallIntegers};
  for (GeneralKind kind : kinds) {
    static const char *const names[] = {"gaussian", "graded", "sparse", "small integers"};
    CrossCheck check;
    check.name = names[static_cast<int>(kind)];
    for (int trial = 0; trial < 2000; ++trial) {
      const int n = 2 + trial % 7;
      check.check(general_matrix(rng, n, kind));
      if (HasFatalFailure()) return;
    }
    check.report();
    EXPECT_GT(check.checked, 1900) << check.name << ": most matrices must take part";
  }
}

TEST(EigengLapack, ScatterMatricesOfRandomNeighbourhoods) {
  std::mt19937 rng(4711);
  const Shape shapes[] = {Shape::kBlob, Shape::kNearlyFlat, Shape::kNearlyCollinear};
  for (Shape shape : shapes) {
    static const char *const names[] = {"scatter", "nearly flat scatter", "nearly collinear scatter"};
    CrossCheck check;
    check.name = names[static_cast<int>(shape)];
    for (int trial = 0; trial < 2000; ++trial) {
      check.check(scatter_matrix(rng, shape));
      if (HasFatalFailure()) return;
    }
    check.report();
    EXPECT_GT(check.checked, 1900) << check.name << ": most matrices must take part";
  }
}

}  // namespace
