// eigeng: eigenvalues and normalised eigenvectors of a general real matrix in
// single precision, and hqr2, the shifted double-step QR iteration on the
// Hessenberg matrix with its eigenvector stage.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "eigen_internal.h"
#include "ici3d.h"

namespace {

using ici3d::eigen::balance;
using ici3d::eigen::balance_back;
using ici3d::eigen::ComplexF;
using ici3d::eigen::kEps;
using ici3d::eigen::kStatusSuccess;
using ici3d::eigen::Safeguards;

// Double QR steps allowed per eigenvalue, and the count recorded at the
// position where that budget ran out.
constexpr int kMaxStepsPerEigenvalue = 50;
constexpr int32_t kIterCountNotConverged = kMaxStepsPerEigenvalue + 1;
// An exceptional shift is made before every tenth step of an eigenvalue.
constexpr int kExceptionalShiftPeriod = 10;

// The arguments of one hqr2 call.
struct Hqr2Problem {
  bool with_vectors;
  int n;
  int low;
  int high;
  float *const *hess;
  float *eig_re;
  float *eig_im;
  float *const *vectors;  // null without vectors
  int32_t *iter_counts;
  Safeguards safeguards;
};

// Shift data of the current double step.
struct Shift {
  float x;
  float y;
  float w;
};

// First reflector of a double step starting at row m.
struct Reflector {
  int m;
  float p;
  float q;
  float r;
};

// Roots at positions outside low..high were isolated by the balancing.
void store_isolated_roots(const Hqr2Problem &h) {
  for (int i = 0; i < h.n; ++i) {
    if (i >= h.low && i <= h.high) continue;
    h.eig_re[i] = h.hess[i][i];
    h.eig_im[i] = 0.0f;
    h.iter_counts[i] = 0;
  }
}

// Safeguard: a subdiagonal entry this small (times the order) is negligible
// whatever its neighbours: the double step divides by subdiagonal entries,
// and one near the bottom of the float range makes that overflow. Matrices
// whose largest entry is below kTinyMatrix are scaled up first, so this is
// far below the precision of any entry that matters.
constexpr float kSmallSubdiagonal = FLT_MIN / FLT_EPSILON;

// Top row l of the unreduced block that ends at row en: the largest l > low
// whose subdiagonal entry hess[l][l-1] is negligible, or low.
int find_negligible_subdiagonal(const float *const *hess, int n, int low, int en,
                                Safeguards safeguards) {
  const bool absolute = safeguards == Safeguards::kOn;
  const float small = kSmallSubdiagonal * static_cast<float>(n);
  int l = en;
  for (; l > low; --l) {
    const float a = std::fabs(hess[l][l - 1]);
    const float s = std::fabs(hess[l - 1][l - 1]) + std::fabs(hess[l][l]);
    if (static_cast<double>(a) <= static_cast<double>(s) * kEps || (absolute && a <= small)) break;
  }
  return l;
}

// Applies the plane rotation (q, p) to columns na and en of rows first..last
// of a.
void rotate_columns(float *const *a, int first, int last, int na, int en, float p, float q) {
  for (int i = first; i <= last; ++i) {
    const float zz = a[i][na];
    a[i][na] = q * zz + p * a[i][en];
    a[i][en] = q * a[i][en] - p * zz;
  }
}

// Rotates a real 2x2 block at rows na, en to upper triangular form, carrying
// the rotation into the transformation matrix.
void triangularize_real_pair(const Hqr2Problem &h, int na, int en, float z) {
  float *const *hess = h.hess;
  const float xs = hess[en][na];
  float r = std::sqrt(z * z + xs * xs);
  if (h.safeguards == Safeguards::kOn) {
    // For a block far below (above) 1 the squares underflow (overflow): the
    // length is then formed without them. Both zero: nothing to rotate.
    if (!(r > 0.0f) || std::isinf(r)) r = std::hypot(z, xs);
    if (r == 0.0f) return;
  }
  const float p = xs / r;
  const float q = z / r;
  for (int j = na; j < h.n; ++j) {
    const float zz = hess[na][j];
    hess[na][j] = q * zz + p * hess[en][j];
    hess[en][j] = q * hess[en][j] - p * zz;
  }
  rotate_columns(hess, 0, en, na, en, p, q);
  rotate_columns(h.vectors, h.low, h.high, na, en, p, q);
}

// The 2x2 block at rows na, en has split off: store its two roots (real or a
// complex pair, positive imaginary part first).
void store_root_pair(const Hqr2Problem &h, int en, float x, float y, float w, float t, int its) {
  const int na = en - 1;
  float *const *hess = h.hess;
  const float p = (y - x) * 0.5f;
  const float q = p * p + w;
  float z = std::sqrt(std::fabs(q));
  x = x + t;
  hess[en][en] = x;
  hess[na][na] = y + t;
  h.iter_counts[en] = -its;
  h.iter_counts[na] = its;
  if (q < 0.0f) {
    h.eig_re[na] = x + p;
    h.eig_re[en] = x + p;
    h.eig_im[na] = z;
    h.eig_im[en] = -z;
    return;
  }
  z = p >= 0.0f ? p + z : p - z;
  h.eig_re[na] = x + z;
  h.eig_re[en] = z != 0.0f ? x - w / z : h.eig_re[na];
  h.eig_im[na] = 0.0f;
  h.eig_im[en] = 0.0f;
  if (h.with_vectors) triangularize_real_pair(h, na, en, z);
}

// Moves the origin by the current x (added to t) and replaces the shift with
// an ad hoc one to break a cycle of the iteration.
Shift exceptional_shift(const Hqr2Problem &h, int en, const Shift &shift, float *t) {
  float *const *hess = h.hess;
  const int na = en - 1;
  for (int i = h.low; i <= en; ++i) hess[i][i] = hess[i][i] - shift.x;
  *t = *t + shift.x;
  const float s = std::fabs(hess[en][na]) + std::fabs(hess[na][en - 2]);
  const float x = 0.75f * s;
  return {x, x, (s * -0.4375f) * s};
}

// Looks for two consecutive small subdiagonal elements from en-2 up to l and
// returns the starting row of the double step with its first reflector.
Reflector find_double_step_start(const float *const *hess, int l, int en, const Shift &shift,
                                 Safeguards safeguards) {
  Reflector f{};
  for (int m = en - 2; m >= l; --m) {
    const float zz = hess[m][m];
    float r = shift.x - zz;
    float s = shift.y - zz;
    const float numerator = r * s - shift.w;
    float p = numerator / hess[m + 1][m] + hess[m][m + 1];
    float q = ((hess[m + 1][m + 1] - zz) - r) - s;
    r = hess[m + 2][m + 1];
    s = std::fabs(p) + std::fabs(q) + std::fabs(r);
    if (safeguards == Safeguards::kOn && std::isinf(s) && std::isfinite(numerator)) {
      // The division by a small subdiagonal entry overflowed: the same
      // direction, multiplied through by that entry.
      const float h = hess[m + 1][m];
      p = numerator + hess[m][m + 1] * h;
      q = q * h;
      r = r * h;
      s = std::fabs(p) + std::fabs(q) + std::fabs(r);
    }
    p = p / s;
    q = q / s;
    r = r / s;
    f = {m, p, q, r};
    if (m == l) break;
    const double lhs =
        static_cast<double>(std::fabs(hess[m][m - 1]) * (std::fabs(q) + std::fabs(r)));
    const float diag =
        (std::fabs(hess[m - 1][m - 1]) + std::fabs(zz)) + std::fabs(hess[m + 1][m + 1]);
    const double rhs = (static_cast<double>(std::fabs(p)) * kEps) * static_cast<double>(diag);
    if (lhs <= rhs) break;
  }
  return f;
}

// Zeroes the entries two and three below the diagonal that the double step
// starting at m will fill.
void clear_below_subdiagonal(float *const *hess, int m, int en) {
  for (int i = m + 2; i <= en; ++i) hess[i][i - 2] = 0.0f;
  for (int i = m + 3; i <= en; ++i) hess[i][i - 3] = 0.0f;
}

// Applies the reflector (x, y, zz; q, r) from the right to columns k..k+2
// (k+1 only when !notlast) of rows first..last of a.
void reflect_columns(float *const *a, int first, int last, int k, bool notlast, float x,
                     float y, float zz, float q, float r) {
  for (int i = first; i <= last; ++i) {
    float p = x * a[i][k] + y * a[i][k + 1];
    if (notlast) {
      p = p + zz * a[i][k + 2];
      a[i][k + 2] = a[i][k + 2] - p * r;
    }
    a[i][k + 1] = a[i][k + 1] - p * q;
    a[i][k] = a[i][k] - p;
  }
}

// One Francis double QR step on rows and columns l..en, starting at row m.
void double_qr_step(const Hqr2Problem &h, int l, int en, const Reflector &start) {
  float *const *hess = h.hess;
  const int na = en - 1;
  const int m = start.m;
  float p = start.p;
  float q = start.q;
  float r = start.r;
  float x = 0.0f;
  for (int k = m; k <= na; ++k) {
    const bool notlast = k != na;
    if (k != m) {
      p = hess[k][k - 1];
      q = hess[k + 1][k - 1];
      r = notlast ? hess[k + 2][k - 1] : 0.0f;
      x = std::fabs(p) + std::fabs(q) + std::fabs(r);
      if (x == 0.0f) continue;
      p = p / x;
      q = q / x;
      r = r / x;
    }
    float s = std::sqrt(p * p + q * q + r * r);
    if (p < 0.0f) s = -s;
    if (k != m) {
      hess[k][k - 1] = -s * x;
    } else if (l != m) {
      hess[k][k - 1] = -hess[k][k - 1];
    }
    p = p + s;
    x = p / s;
    const float y = q / s;
    const float zz = r / s;
    q = q / p;
    r = r / p;
    // Row modification, always to the last column.
    for (int j = k; j < h.n; ++j) {
      float v = hess[k][j] + q * hess[k + 1][j];
      if (notlast) {
        v = v + r * hess[k + 2][j];
        hess[k + 2][j] = hess[k + 2][j] - v * zz;
      }
      hess[k + 1][j] = hess[k + 1][j] - v * y;
      hess[k][j] = hess[k][j] - v * x;
    }
    // Column modification, always from row 0.
    reflect_columns(hess, 0, std::min(en, k + 3), k, notlast, x, y, zz, q, r);
    if (h.with_vectors) reflect_columns(h.vectors, h.low, h.high, k, notlast, x, y, zz, q, r);
  }
}

// Eigenvalues of the upper Hessenberg matrix h.hess (rows and columns
// low..high active) by the shifted double-step QR iteration, and with
// with_vectors the eigenvectors of the original matrix, h.vectors holding the
// transformation of the reduction on entry. Returns kStatusSuccess,
// ici3d::eigen::kStatusNoVectors (vectors requested for a zero matrix), or
// the position whose eigenvalue did not converge.
int hqr2(const Hqr2Problem &h) {
  float *const *hess = h.hess;
  store_isolated_roots(h);
  float t = 0.0f;
  int en = h.high;
  int its = 0;
  while (en >= h.low) {
    const int na = en - 1;
    const int l = find_negligible_subdiagonal(hess, h.n, h.low, en, h.safeguards);
    Shift shift{hess[en][en], 0.0f, 0.0f};
    if (l == en) {
      hess[en][en] = shift.x + t;
      h.eig_re[en] = shift.x + t;
      h.eig_im[en] = 0.0f;
      h.iter_counts[en] = its;
      en = na;
      its = 0;
      continue;
    }
    shift.y = hess[na][na];
    shift.w = hess[na][en] * hess[en][na];
    if (l == na) {
      store_root_pair(h, en, shift.x, shift.y, shift.w, t, its);
      en = en - 2;
      its = 0;
      continue;
    }
    if (its == kMaxStepsPerEigenvalue) {
      h.iter_counts[en] = kIterCountNotConverged;
      return en;
    }
    if (its != 0 && its % kExceptionalShiftPeriod == 0) shift = exceptional_shift(h, en, shift, &t);
    const Reflector start = find_double_step_start(hess, l, en, shift, h.safeguards);
    clear_below_subdiagonal(hess, start.m, en);
    ++its;
    double_qr_step(h, l, en, start);
  }
  if (!h.with_vectors) return kStatusSuccess;
  return ici3d::eigen::back_substitute(h.n, h.low, h.high, hess, h.eig_re, h.eig_im, h.vectors,
                                       h.safeguards);
}

// Component r of the complex vector in columns k, k+1.
ComplexF complex_component(const float *const *v, int r, int k) {
  return ici3d::eigen::make_complex(v[r][k], v[r][k + 1]);
}

// Scales a real eigenvector (column k) so that its largest component is 1.
void scale_real_vector(float *const *v, int n, int k) {
  float x = v[0][k];
  for (int r = 1; r < n; ++r) {
    if (std::fabs(v[r][k]) > std::fabs(x)) x = v[r][k];
  }
  if (x == 0.0f) return;
  const float f = 1.0f / x;
  for (int r = 0; r < n; ++r) v[r][k] = v[r][k] * f;
}

// Divides a complex eigenvector (columns k, k+1) by its component of largest
// modulus, which becomes 1 + 0i.
void scale_complex_vector(float *const *v, int n, int k) {
  ComplexF c = complex_component(v, 0, k);
  double largest = std::hypot(static_cast<double>(c.re), static_cast<double>(c.im));
  for (int r = 1; r < n; ++r) {
    const ComplexF cr = complex_component(v, r, k);
    const double modulus = std::hypot(static_cast<double>(cr.re), static_cast<double>(cr.im));
    if (modulus > largest) {
      largest = modulus;
      c = cr;
    }
  }
  if (c.re == 0.0f && c.im == 0.0f) return;
  for (int r = 0; r < n; ++r) {
    const ComplexF q = ici3d::eigen::complex_divide(complex_component(v, r, k), c);
    v[r][k] = q.re;
    v[r][k + 1] = q.im;
  }
}

// First normalisation: the largest component of each eigenvector becomes 1.
void normalize_vectors_to_peak_one(float *const *v, int n, const float *eig_im) {
  int k = 0;
  while (k < n) {
    // A lone nonzero imaginary part in the last column cannot start a pair.
    if (eig_im[k] == 0.0f || k + 1 >= n) {
      scale_real_vector(v, n, k);
      k += 1;
    } else {
      scale_complex_vector(v, n, k);
      k += 2;
    }
  }
}

// Second normalisation: every column is divided by its Euclidean length
// (each column of a complex pair on its own).
void normalize_vectors_to_unit_length(float *const *v, int n) {
  for (int j = 0; j < n; ++j) {
    float sum = 0.0f;
    for (int r = 0; r < n; ++r) sum = sum + v[r][j] * v[r][j];
    const float s = std::sqrt(sum);
    for (int r = 0; r < n; ++r) v[r][j] = v[r][j] / s;
  }
}

// Below this largest entry, products of entries underflow in single
// precision: the QR iteration loses the eigenvalues, the back-substitution
// loses the eigenvectors (finite but wrong), or the normalisation divides by
// zero. Such a matrix is scaled up by a power of 2 in both forms of the
// solver. Every step of the solver commutes with that scaling as long as no
// value underflows, so the results differ from those of the unscaled matrix
// only where the unscaled computation rounds a value into or below the
// subnormal range.
constexpr float kTinyMatrix = 0x1p-50f;

// Power of 2 by which a tiny matrix is scaled up so that its largest entry
// lies in [1, 2); 0 for any other matrix. The scaling is exact and leaves
// the eigenvectors as they are; the eigenvalues are scaled back.
int tiny_matrix_exponent(const float *const *a, int n) {
  float largest = 0.0f;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) largest = std::fmax(largest, std::fabs(a[i][j]));
  }
  if (!(largest > 0.0f) || !(largest < kTinyMatrix)) return 0;
  return -std::ilogb(largest);
}

void scale_matrix(float *const *a, int n, int exponent) {
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) a[i][j] = std::ldexp(a[i][j], exponent);
  }
}

// Whether hqr2 wrote eigenvalue i: all of them unless it stopped at position
// `status`, which leaves low..status unwritten.
bool eigenvalue_written(int i, int low, int status) {
  if (status == kStatusSuccess || status == ici3d::eigen::kStatusNoVectors) return true;
  return i < low || i > status;
}

// Scales the eigenvalues that hqr2 stored back by 2^-exponent.
void unscale_eigenvalues(float *eig_re, float *eig_im, int n, int low, int status,
                         int exponent) {
  for (int i = 0; i < n; ++i) {
    if (!eigenvalue_written(i, low, status)) continue;
    eig_re[i] = std::ldexp(eig_re[i], -exponent);
    eig_im[i] = std::ldexp(eig_im[i], -exponent);
  }
}

// Components kept within [2^-kRangeExponent, 2^kRangeExponent] of 1 by the
// safeguarded form before the balancing's factors are applied.
constexpr int kRangeExponent = 64;

// Safeguarded form: an eigenvector (column k, or columns k, k+1 of a complex
// pair) whose largest component, multiplied by the balancing factor of its
// row, would leave [2^-64, 2^64] is multiplied by the power of 2 that brings
// that product into [1, 2). The factors of the balancing can reach far beyond
// the float range in either direction; a common power of 2 keeps the
// direction, and the normalisation that follows removes it again.
void keep_in_range_through_balancing(float *const *v, int n, int low, int high,
                                     const float *scale, const float *eig_im) {
  int k = 0;
  while (k < n) {
    const int width = eig_im[k] == 0.0f || k + 1 >= n ? 1 : 2;
    double largest = 0.0;
    for (int r = 0; r < n; ++r) {
      const double factor = r >= low && r <= high ? static_cast<double>(scale[r]) : 1.0;
      for (int c = k; c < k + width; ++c) {
        largest = std::fmax(largest, std::fabs(static_cast<double>(v[r][c]) * factor));
      }
    }
    if (largest > 0.0 && std::isfinite(largest) &&
        std::abs(std::ilogb(largest)) > kRangeExponent) {
      const int exponent = -std::ilogb(largest);
      for (int r = 0; r < n; ++r) {
        for (int c = k; c < k + width; ++c) v[r][c] = std::ldexp(v[r][c], exponent);
      }
    }
    k += width;
  }
}

bool all_finite(const float *x, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (!std::isfinite(x[i])) return false;
  }
  return true;
}

// One decomposition of a matrix of order n >= 2 in the given form: balancing,
// reduction, QR iteration, back-transformation and both normalisations.
// scale is the balancing record (n floats). Returns whether every value it
// wrote is finite: the matrix, the eigenvalues hqr2 reached and the vectors.
bool decompose(float *matrix, float *const *matrix_rows, int n, float *eig_re, float *eig_im,
               float *const *vector_rows, int32_t *pivot_rows, float *scale,
               Safeguards safeguards) {
  const int exponent = tiny_matrix_exponent(matrix_rows, n);
  if (exponent != 0) scale_matrix(matrix_rows, n, exponent);
  int low = 0;
  int high = 0;
  balance(matrix_rows, n, scale, &low, &high, safeguards);
  ici3d::eigen::reduce_to_hessenberg(matrix_rows, n, low, high, pivot_rows);
  const bool with_vectors = vector_rows != nullptr;
  if (with_vectors) {
    ici3d::eigen::accumulate_reduction(matrix_rows, n, low, high, pivot_rows, vector_rows);
  }
  const Hqr2Problem problem{with_vectors, n,      low,         high,       matrix_rows,
                            eig_re,       eig_im, vector_rows, pivot_rows, safeguards};
  const int status = hqr2(problem);
  if (exponent != 0) unscale_eigenvalues(eig_re, eig_im, n, low, status, exponent);
  // On failure the vectors are neither back-transformed nor scaled to a
  // largest component of 1 (the status is ignored without vectors).
  if (with_vectors && status == kStatusSuccess) {
    if (safeguards == Safeguards::kOn) keep_in_range_through_balancing(vector_rows, n, low, high, scale, eig_im);
    balance_back(vector_rows, n, low, high, scale);
    normalize_vectors_to_peak_one(vector_rows, n, eig_im);
  }
  if (with_vectors) normalize_vectors_to_unit_length(vector_rows, n);
  const auto count = static_cast<std::size_t>(n);
  bool finite = all_finite(matrix, count * count);
  if (with_vectors) finite = finite && all_finite(vector_rows[0], count * count);
  for (int i = 0; i < n; ++i) {
    if (!eigenvalue_written(i, low, status)) continue;
    finite = finite && std::isfinite(eig_re[i]) && std::isfinite(eig_im[i]);
  }
  return finite;
}

// Which forms of the decomposition a call may run.
enum class Forms { kPlainOnly, kSafeguardedOnly, kPlainThenSafeguarded };

// Decomposes a matrix of order n >= 2. With kPlainThenSafeguarded the plain
// form runs first; only when it produced a value that is not finite are the
// matrix and the eigenvalue arrays restored and the safeguarded form run.
// Wherever the plain procedure stays finite, its results are returned
// unchanged. Touches nothing when the work storage cannot be allocated.
void decompose_in_forms(float *matrix, float *const *matrix_rows, int n, float *eig_re,
                        float *eig_im, float *const *vector_rows, int32_t *pivot_rows,
                        Forms forms) {
  const auto count = static_cast<std::size_t>(n);
  // The balancing record, then a copy of the matrix and of the two eigenvalue
  // arrays for the second attempt.
  const std::size_t floats = forms == Forms::kPlainThenSafeguarded ? count * (count + 3) : count;
  auto *work = static_cast<float *>(std::malloc(floats * sizeof(float)));
  if (work == nullptr) return;  // out of memory: leave the caller's arrays alone
  float *scale = work;
  if (forms == Forms::kPlainOnly) {
    decompose(matrix, matrix_rows, n, eig_re, eig_im, vector_rows, pivot_rows, scale,
              Safeguards::kOff);
  } else if (forms == Forms::kSafeguardedOnly) {
    decompose(matrix, matrix_rows, n, eig_re, eig_im, vector_rows, pivot_rows, scale,
              Safeguards::kOn);
  } else {
    float *saved_matrix = work + count;
    float *saved_re = saved_matrix + count * count;
    float *saved_im = saved_re + count;
    std::memcpy(saved_matrix, matrix, count * count * sizeof(float));
    std::memcpy(saved_re, eig_re, count * sizeof(float));
    std::memcpy(saved_im, eig_im, count * sizeof(float));
    if (!decompose(matrix, matrix_rows, n, eig_re, eig_im, vector_rows, pivot_rows, scale,
                   Safeguards::kOff)) {
      std::memcpy(matrix, saved_matrix, count * count * sizeof(float));
      std::memcpy(eig_re, saved_re, count * sizeof(float));
      std::memcpy(eig_im, saved_im, count * sizeof(float));
      std::memset(pivot_rows, 0, count * sizeof(int32_t));
      decompose(matrix, matrix_rows, n, eig_re, eig_im, vector_rows, pivot_rows, scale,
                Safeguards::kOn);
    }
  }
  std::free(work);
}

// Row-pointer tables over the caller's arrays and the pivot record, released
// when the call ends.
struct WorkTables {
  float **matrix_rows = nullptr;
  float **vector_rows = nullptr;
  int32_t *pivot_rows = nullptr;
  bool allocated = false;

  WorkTables(float *matrix, int n, float *vectors) {
    const auto count = static_cast<std::size_t>(n);
    matrix_rows = static_cast<float **>(std::calloc(count, sizeof(float *)));
    pivot_rows = static_cast<int32_t *>(std::calloc(count, sizeof(int32_t)));
    if (vectors != nullptr) vector_rows = static_cast<float **>(std::malloc(count * sizeof(float *)));
    allocated = matrix_rows != nullptr && pivot_rows != nullptr &&
                (vectors == nullptr || vector_rows != nullptr);
    if (!allocated) return;
    for (std::size_t i = 0; i < count; ++i) {
      // A null matrix is never decomposed; offsetting it would be undefined.
      if (matrix != nullptr) matrix_rows[i] = matrix + i * count;
      if (vectors != nullptr) vector_rows[i] = vectors + i * count;
    }
  }
  ~WorkTables() {
    std::free(matrix_rows);
    std::free(vector_rows);
    std::free(pivot_rows);
  }
  WorkTables(const WorkTables &) = delete;
  WorkTables &operator=(const WorkTables &) = delete;
};

int32_t solve(float *matrix, int32_t n, float *eig_re, float *eig_im, float *vectors,
              Forms forms) {
  constexpr int32_t kReturned = 0;  // no failure is ever reported
  if (n <= 0) return kReturned;
  const WorkTables tables(matrix, n, vectors);
  // Out of memory: leave the caller's arrays alone.
  if (!tables.allocated) return kReturned;
  const bool valid = eig_re != nullptr && eig_im != nullptr && matrix != nullptr;
  if (valid && n >= 2) {
    // Both normalisations are part of each decomposition.
    decompose_in_forms(matrix, tables.matrix_rows, n, eig_re, eig_im, tables.vector_rows,
                       tables.pivot_rows, forms);
    return kReturned;
  }
  if (valid) {
    eig_re[0] = matrix[0];
    eig_im[0] = 0.0f;
    if (vectors != nullptr) vectors[0] = 1.0f;
  }
  if (vectors != nullptr) normalize_vectors_to_unit_length(tables.vector_rows, n);
  return kReturned;
}

}  // namespace

int32_t ici3d::eigen::eigeng_in_form(float *matrix, int32_t n, float *eig_re, float *eig_im,
                                     float *vectors, Safeguards safeguards) {
  return solve(matrix, n, eig_re, eig_im, vectors,
               safeguards == Safeguards::kOn ? Forms::kSafeguardedOnly : Forms::kPlainOnly);
}

extern "C" ICI3D_API int32_t eigeng(float *matrix, int32_t n, float *eig_re, float *eig_im,
                                    float *vectors) {
  return solve(matrix, n, eig_re, eig_im, vectors, Forms::kPlainThenSafeguarded);
}
