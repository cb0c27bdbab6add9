// Eigen solver harness: eigeng on matrices of order 1..8 made of raw float
// bits.
//
// Input: one mode byte, then the matrix entries as raw floats (n*n of them,
// row-major, or the upper triangle, row by row, for a symmetric matrix).
// Mode bits: 0-2 order n-1, 3 symmetric, 4 with eigenvectors, 5-6 both set:
// null eigenvalue arrays.
//
// Any matrix must come back without a crash, a hang, an out-of-bounds access
// or undefined behaviour. Wherever the plain procedure (the solver without
// its safeguards against underflow and overflow) writes only finite values,
// eigeng's results must be bitwise the plain procedure's: the safeguards act
// only where it overflows or produces NaN. A symmetric matrix with finite
// entries of moderate size (the library decomposes symmetric scatter
// matrices) must moreover give finite eigenvalues, unit eigenvectors, and
// small residuals |A v - l v| for its real eigenvalues, unless the iteration
// did not converge (documented: the outputs then hold what was computed, and
// eigenvalues never reached keep the marker the harness writes).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "eigen/eigen_internal.h"
#include "fuzz_input.h"
#include "ici3d.h"

namespace {

using ici3d_fuzz::ByteReader;
using ici3d_fuzz::check;

constexpr float kModerate = 1e15f;         // |a| bound: squares stay far from overflow
constexpr double kResidualTolerance = 1e-3;  // relative to the Frobenius norm
// A NaN payload eigeng never computes: an eigenvalue still holding it was
// never reached.
constexpr uint32_t kUnreachedBits = 0x7fa5a5a5u;

struct Matrix {
  int32_t n = 0;
  bool symmetric = false;
  std::vector<float> a;  // row-major
};

Matrix decode_matrix(ByteReader& in, uint8_t mode) {
  Matrix m;
  m.n = 1 + (mode & 7);
  m.symmetric = (mode & 8) != 0;
  const size_t n = static_cast<size_t>(m.n);
  m.a.assign(n * n, 0.0f);
  for (size_t r = 0; r < n; ++r) {
    for (size_t c = m.symmetric ? r : 0; c < n; ++c) {
      m.a[r * n + c] = in.take<float>();
      if (m.symmetric) m.a[c * n + r] = m.a[r * n + c];
    }
  }
  return m;
}

// Finite entries of moderate size and moderate spread: the largest above
// 1e-30, every nonzero entry within a factor 10^6 of the largest. Beyond that single precision keeps
// too few digits of the small entries for any residual bound to hold.
bool moderate(const std::vector<float>& a) {
  float largest = 0.0f;
  for (float v : a) {
    if (!std::isfinite(v) || std::fabs(v) > kModerate) return false;
    largest = std::max(largest, std::fabs(v));
  }
  // Near the subnormal range the tolerance itself is below float resolution.
  if (largest > 0.0f && largest < 1e-30f) return false;
  for (float v : a) {
    if (v != 0.0f && std::fabs(v) < 1e-6f * largest) return false;
  }
  return true;
}

double frobenius(const std::vector<float>& a) {
  double s = 0;
  for (float v : a) s += static_cast<double>(v) * v;
  return std::sqrt(s);
}

// Column k of vectors is a unit eigenvector of eigenvalue l.
void check_eigenpair(const Matrix& m, const std::vector<float>& vectors, size_t k, float l,
                     double norm) {
  const size_t n = static_cast<size_t>(m.n);
  double length = 0, residual = 0;
  for (size_t r = 0; r < n; ++r) {
    double av = 0;
    for (size_t c = 0; c < n; ++c) av += static_cast<double>(m.a[r * n + c]) * vectors[c * n + k];
    const double d = av - static_cast<double>(l) * vectors[r * n + k];
    residual += d * d;
    length += static_cast<double>(vectors[r * n + k]) * vectors[r * n + k];
  }
  check(std::fabs(std::sqrt(length) - 1.0) < 1e-4, "eigenvectors have unit length");
  check(std::sqrt(residual) <= kResidualTolerance * norm, "A v = l v for a symmetric matrix");
}

// Eigenvalue k is at least a thousandth of the matrix norm from every other.
bool well_separated(const std::vector<float>& re, size_t k, double norm) {
  for (size_t j = 0; j < re.size(); ++j) {
    if (j != k && std::fabs(static_cast<double>(re[j]) - re[k]) <= 1e-3 * norm) return false;
  }
  return true;
}

void check_symmetric_result(const Matrix& m, const std::vector<float>& re,
                            const std::vector<float>& im, const std::vector<float>* vectors,
                            bool plain_finite) {
  check(ici3d_fuzz::all_finite(re.data(), re.size()), "finite eigenvalues");
  check(ici3d_fuzz::all_finite(im.data(), im.size()), "finite eigenvalues");
  if (vectors == nullptr) return;
  check(ici3d_fuzz::all_finite(vectors->data(), vectors->size()), "finite eigenvectors");
  const double norm = frobenius(m.a);
  // Every eigenpair of the plain procedure, repeated eigenvalues included.
  // Where the safeguards acted (an overflow or NaN of the plain procedure),
  // only the well-separated eigenvalues: the safeguarded results have been
  // checked there so far, not bounded.
  for (size_t k = 0; k < re.size(); ++k) {
    if (im[k] == 0.0f && (plain_finite || well_separated(re, k, norm))) {
      check_eigenpair(m, *vectors, k, re[k], norm);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  const uint8_t mode = in.take<uint8_t>();
  const Matrix m = decode_matrix(in, mode);
  const size_t n = static_cast<size_t>(m.n);
  const bool with_vectors = (mode & 16) != 0;
  const bool null_values = (mode & 0x60) == 0x60;

  // Exact sizes, so that the address sanitizer sees any access beyond them.
  std::vector<float> work = m.a;
  float unreached;
  std::memcpy(&unreached, &kUnreachedBits, sizeof unreached);
  std::vector<float> re(n, unreached), im(n, unreached), vectors(n * n, NAN);
  const int32_t status = eigeng(work.data(), m.n, null_values ? nullptr : re.data(),
                                null_values ? nullptr : im.data(),
                                with_vectors ? vectors.data() : nullptr);
  check(status == 0, "eigeng returns 0");

  // The plain procedure on the same input.
  std::vector<float> plain_work = m.a;
  std::vector<float> plain_re(n, unreached), plain_im(n, unreached), plain_vectors(n * n, NAN);
  ici3d::eigen::eigeng_in_form(plain_work.data(), m.n, null_values ? nullptr : plain_re.data(),
                               null_values ? nullptr : plain_im.data(),
                               with_vectors ? plain_vectors.data() : nullptr,
                               ici3d::eigen::Safeguards::kOff);
  // The marker of an eigenvalue never reached counts as finite here.
  auto finite_or_unreached = [](const std::vector<float>& v) {
    return std::all_of(v.begin(), v.end(), [](float x) {
      uint32_t bits;
      std::memcpy(&bits, &x, sizeof bits);
      return std::isfinite(x) || bits == kUnreachedBits;
    });
  };
  const bool plain_finite = !null_values && finite_or_unreached(plain_re) &&
                            finite_or_unreached(plain_im) &&
                            ici3d_fuzz::all_finite(plain_work.data(), plain_work.size()) &&
                            (!with_vectors ||
                             ici3d_fuzz::all_finite(plain_vectors.data(), plain_vectors.size()));
  if (plain_finite) {
    auto same_bits = [](const std::vector<float>& x, const std::vector<float>& y) {
      return std::memcmp(x.data(), y.data(), x.size() * sizeof(float)) == 0;
    };
    check(same_bits(re, plain_re) && same_bits(im, plain_im) && same_bits(work, plain_work) &&
              (!with_vectors || same_bits(vectors, plain_vectors)),
          "eigeng gives the plain procedure's results wherever those are finite");
  }
  const bool converged = !std::any_of(re.begin(), re.end(), [](float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits == kUnreachedBits;
  });
  if (!null_values && m.symmetric && moderate(m.a) && converged) {
    check_symmetric_result(m, re, im, with_vectors ? &vectors : nullptr, plain_finite);
  }
  return 0;
}
