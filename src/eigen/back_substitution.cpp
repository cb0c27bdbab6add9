// Eigenvector stage of hqr2: back-substitution on the quasi-triangular matrix
// that the QR iteration leaves, copy of the isolated rows, and multiplication
// by the transformation matrix.
//
// Real vectors have the component at their own row equal to 1. A complex
// vector (pair na, en) has the component at row en equal to 1 + 0i; column na
// holds its real part and column en its imaginary part.
#include <algorithm>
#include <cmath>

#include "eigen_internal.h"

namespace ici3d::eigen {

namespace {

// Sum of |hess[i][j]| over the diagonal and above, row by row.
float upper_triangle_norm(const float *const *hess, int n) {
  float norm = 0.0f;
  for (int i = 0; i < n; ++i) {
    for (int j = i; j < n; ++j) norm += std::fabs(hess[i][j]);
  }
  return norm;
}

void store_complex(float *const *hess, int i, int na, int en, ComplexF c) {
  hess[i][na] = c.re;
  hess[i][en] = c.im;
}

// Overflow control of the safeguarded form. A component beyond kHugeComponent
// (a tiny pivot) would make the later ones overflow: the partial solution is
// then multiplied by a power of 2, which keeps its direction (the vector is
// normalised at the end anyway). The plain form has no such control.
constexpr float kHugeComponent = 0x1p64f;
// A row whose components overflowed is solved again after the rows below it
// were multiplied by 2^-kRetryShift, at most kMaxRetries times.
constexpr int kRetryShift = 64;
constexpr int kMaxRetries = 4;

// The columns first..last (one real vector, or the two columns of a complex
// one) of the rows top..en that hold a partial solution.
struct Columns {
  int first;
  int last;
};

void scale_rows(float *const *hess, int top, int en, Columns cols, int exponent) {
  for (int i = top; i <= en; ++i) {
    for (int c = cols.first; c <= cols.last; ++c) hess[i][c] = std::ldexp(hess[i][c], exponent);
  }
}

// Largest magnitude in rows top..bottom of the columns; NaN if any is NaN.
float largest_component(const float *const *hess, int top, int bottom, Columns cols) {
  float big = 0.0f;
  for (int i = top; i <= bottom; ++i) {
    for (int c = cols.first; c <= cols.last; ++c) {
      const float v = std::fabs(hess[i][c]);
      if (!(v <= big)) big = v;
    }
  }
  return big;
}

// Solves rows top..bottom (one row, or the two of a complex block) of the
// columns by solve_rows, from the partial solution in rows bottom+1..en.
// Safeguarded form only: components above kHugeComponent are brought into
// [1, 2) by a power of 2 applied to rows top..en; components that overflowed
// are solved again, from the matrix entries they overwrote, after the partial
// solution was multiplied by 2^-kRetryShift.
template <typename SolveRows>
void solve_with_growth_control(float *const *hess, int top, int bottom, int en, Columns cols,
                               Safeguards safeguards, const SolveRows &solve_rows) {
  if (safeguards == Safeguards::kOff) {
    solve_rows();
    return;
  }
  float saved[2][2];  // at most two rows of two columns
  for (int i = top; i <= bottom; ++i) {
    for (int c = cols.first; c <= cols.last; ++c) saved[i - top][c - cols.first] = hess[i][c];
  }
  solve_rows();
  for (int retry = 0;; ++retry) {
    const float big = largest_component(hess, top, bottom, cols);
    if (big <= kHugeComponent) return;
    if (std::isfinite(big)) {
      scale_rows(hess, top, en, cols, -std::ilogb(big));
      return;
    }
    if (retry == kMaxRetries) return;  // not finite whatever the scale (NaN input)
    for (int i = top; i <= bottom; ++i) {
      for (int c = cols.first; c <= cols.last; ++c) hess[i][c] = saved[i - top][c - cols.first];
    }
    scale_rows(hess, bottom + 1, en, cols, -kRetryShift);
    solve_rows();
  }
}

// Column en of the back-substitution for the real eigenvalue p = eig_re[en].
void solve_real_vector(float *const *hess, const float *eig_re, const float *eig_im, int en,
                       double eps_norm, Safeguards safeguards) {
  const float p = eig_re[en];
  hess[en][en] = 1.0f;
  // Row i of (hess - p) times the partial solution in rows m..en. The term of
  // row en comes first: hess[i][en] times the vector's own component, which
  // is 1 unless the overflow control scaled the column.
  auto row_sum = [&](int i, int m) {
    float r = hess[i][en] * hess[en][en];
    for (int j = m; j < en; ++j) r = r + hess[i][j] * hess[j][en];
    return r;
  };
  int m = en;  // top row of the partial solution
  for (int i = en - 1; i >= 0; --i) {
    // The lower row of a complex 2x2 block is solved with its upper row.
    if (eig_im[i] < 0.0f) continue;
    const int bottom = eig_im[i] == 0.0f ? i : i + 1;
    auto solve_rows = [&, i, m]() {
      const float w = hess[i][i] - p;
      const float r = row_sum(i, m);
      if (eig_im[i] == 0.0f) {
        // A zero pivot (repeated eigenvalue) is replaced by eps * norm.
        const double divisor = w != 0.0f ? static_cast<double>(w) : eps_norm;
        hess[i][en] = static_cast<float>(-static_cast<double>(r) / divisor);
        return;
      }
      // Rows i, i+1 form a complex block: z and s belong to row i+1.
      const float z = hess[i + 1][i + 1] - p;
      const float s = row_sum(i + 1, m);
      const float x = hess[i][i + 1];
      const float y = hess[i + 1][i];
      const float d = eig_re[i] - p;
      const float qq = d * d + eig_im[i] * eig_im[i];
      const float t = (x * s - z * r) / qq;
      hess[i][en] = t;
      hess[i + 1][en] = std::fabs(x) > std::fabs(z) ? (-r - w * t) / x : (-s - y * t) / z;
    };
    solve_with_growth_control(hess, i, bottom, en, {en, en}, safeguards, solve_rows);
    m = i;
  }
}

// The 2x2 block at rows i, i+1 (eig_im[i] > 0) of a complex vector; z, r, s
// belong to row i+1, ra, sa and w to row i.
void solve_complex_block(float *const *hess, const float *eig_re, const float *eig_im, int i,
                         int na, int en, float ra, float sa, float w, float z, float r, float s,
                         double eps_norm) {
  const float p = eig_re[en];
  const float q = eig_im[en];
  const float x = hess[i][i + 1];
  const float y = hess[i + 1][i];
  const float d = eig_re[i] - p;
  float vr = (eig_im[i] * eig_im[i] + d * d) - q * q;
  const float vi = static_cast<float>(static_cast<double>(d) * 2.0 * static_cast<double>(q));
  if (vr == 0.0f && vi == 0.0f) {
    // Singular block: substitute a divisor of the order of eps * norm.
    const float size = std::fabs(w) + std::fabs(q) + std::fabs(x) + std::fabs(y) + std::fabs(z);
    vr = static_cast<float>(static_cast<double>(size) * eps_norm);
  }
  const ComplexF num = make_complex((x * r - z * ra) + q * sa, (x * s - z * sa) - q * ra);
  store_complex(hess, i, na, en, complex_divide(num, make_complex(vr, vi)));
  if (std::fabs(x) > std::fabs(z) + std::fabs(q)) {
    hess[i + 1][na] = ((-ra - w * hess[i][na]) + q * hess[i][en]) / x;
    hess[i + 1][en] = ((-sa - w * hess[i][en]) - q * hess[i][na]) / x;
  } else {
    const ComplexF lower = make_complex(-r - y * hess[i][na], -s - y * hess[i][en]);
    store_complex(hess, i + 1, na, en, complex_divide(lower, make_complex(z, q)));
  }
}

// Columns na = en-1 (real part) and en (imaginary part) for the eigenvalue
// eig_re[en] + eig_im[en]*i of the second position of a complex pair.
void solve_complex_vector(float *const *hess, const float *eig_re, const float *eig_im, int en,
                          double eps_norm, Safeguards safeguards) {
  const int na = en - 1;
  const Columns cols{na, en};
  const float p = eig_re[en];
  const float q = eig_im[en];
  if (std::fabs(hess[en][na]) > std::fabs(hess[na][en])) {
    hess[na][na] = -(hess[en][en] - p) / hess[en][na];
    hess[na][en] = -q / hess[en][na];
  } else {
    const ComplexF c = complex_divide(make_complex(-hess[na][en], 0.0f),
                                      make_complex(hess[na][na] - p, q));
    store_complex(hess, na, na, en, c);
  }
  hess[en][na] = 1.0f;
  hess[en][en] = 0.0f;
  // The first two components can only be scaled: they do not depend on a
  // partial solution that could be made smaller.
  if (safeguards == Safeguards::kOn) {
    const float big = largest_component(hess, na, na, cols);
    if (big > kHugeComponent && std::isfinite(big)) scale_rows(hess, na, en, cols, -std::ilogb(big));
  }
  // Row i of (hess - p) times the partial solution in rows m..en, real and
  // imaginary part. Row en contributes hess[i][en] times its component,
  // which is 1 + 0i unless the overflow control scaled the vector.
  auto row_sums = [&](int i, int m, float *ra, float *sa) {
    *ra = hess[i][en] * hess[en][na];
    *sa = 0.0f;
    for (int j = m; j < en; ++j) {
      *ra = *ra + hess[i][j] * hess[j][na];
      *sa = *sa + hess[i][j] * hess[j][en];
    }
  };
  int m = na;  // top row of the partial solution
  for (int i = na - 1; i >= 0; --i) {
    // The lower row of a complex 2x2 block is solved with its upper row.
    if (eig_im[i] < 0.0f) continue;
    const int bottom = eig_im[i] == 0.0f ? i : i + 1;
    auto solve_rows = [&, i, m]() {
      const float w = hess[i][i] - p;
      float ra = 0.0f;
      float sa = 0.0f;
      row_sums(i, m, &ra, &sa);
      if (eig_im[i] == 0.0f) {
        store_complex(hess, i, na, en, complex_divide(make_complex(-ra, -sa), make_complex(w, q)));
        return;
      }
      float r = 0.0f;
      float s = 0.0f;
      row_sums(i + 1, m, &r, &s);
      const float z = hess[i + 1][i + 1] - p;
      solve_complex_block(hess, eig_re, eig_im, i, na, en, ra, sa, w, z, r, s, eps_norm);
    };
    solve_with_growth_control(hess, i, bottom, en, cols, safeguards, solve_rows);
    m = i;
  }
}

// Rows isolated by the balancing take the solved entries right of the
// diagonal, and the diagonal itself: the vector's own component, which is the
// 1 already in place unless the overflow control scaled the column down.
void copy_isolated_rows(const float *const *hess, int n, int low, int high,
                        float *const *vectors) {
  for (int i = 0; i < n; ++i) {
    if (i >= low && i <= high) continue;
    for (int j = i; j < n; ++j) vectors[i][j] = hess[i][j];
  }
}

// Row i, columns low..mm of vectors times column j of hess.
float transformed_component(const float *const *hess, const float *const *vectors, int i, int j,
                            int low, int mm) {
  float za = 0.0f;
  for (int k = low; k <= mm; ++k) za = za + vectors[i][k] * hess[k][j];
  return za;
}

// Multiplies the solved vectors by the transformation matrix, rows low..high.
void back_transform(const float *const *hess, int n, int low, int high, const float *eig_im,
                    float *const *vectors) {
  for (int j = n - 1; j >= low; --j) {
    const int mm = std::min(j, high);
    if (eig_im[j] < 0.0f) {
      for (int i = low; i <= high; ++i) {
        const float ya = transformed_component(hess, vectors, i, j - 1, low, mm);
        const float za = transformed_component(hess, vectors, i, j, low, mm);
        vectors[i][j - 1] = ya;
        vectors[i][j] = za;
      }
    } else if (eig_im[j] == 0.0f) {
      for (int i = low; i <= high; ++i) {
        vectors[i][j] = transformed_component(hess, vectors, i, j, low, mm);
      }
    }
  }
}

}  // namespace

int back_substitute(int n, int low, int high, float *const *hess, const float *eig_re,
                    const float *eig_im, float *const *vectors, Safeguards safeguards) {
  if (n < 1) return kStatusNoVectors;
  const float norm = upper_triangle_norm(hess, n);
  if (norm == 0.0f) return kStatusNoVectors;
  const double eps_norm = static_cast<double>(norm) * kEps;
  for (int en = n - 1; en >= 0; --en) {
    if (eig_im[en] == 0.0f) {
      solve_real_vector(hess, eig_re, eig_im, en, eps_norm, safeguards);
    } else if (eig_im[en] < 0.0f) {
      solve_complex_vector(hess, eig_re, eig_im, en, eps_norm, safeguards);
    }
  }
  copy_isolated_rows(hess, n, low, high, vectors);
  back_transform(hess, n, low, high, eig_im, vectors);
  return kStatusSuccess;
}

}  // namespace ici3d::eigen
