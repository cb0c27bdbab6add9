// Balancing of a general matrix before its reduction, and the matching
// back-transformation of the eigenvectors.
#include <cmath>
#include <utility>

#include "eigen_internal.h"

namespace ici3d::eigen {

namespace {

// Upper bound on the scaling sweeps. Finite, nonzero sums can still cycle
// through underflow (c*0.25 flushing subnormals, two rows trading a factor 2
// for ever) or overflow (c*4 beyond FLT_MAX); balancing that converges needs
// only a handful of sweeps, so the bound only ever cuts such cycles.
constexpr int kMaxScalingSweeps = 10000;

// The single-precision 0.95 of the scaling acceptance test.
constexpr float kScalingGain = 0.95f;

// Sum of |a[j][i]| over i = 0..l, i != j.
float row_sum_without_diagonal(const float *const *a, int j, int l) {
  float r = 0.0f;
  for (int i = 0; i <= l; ++i) {
    if (i != j) r += std::fabs(a[j][i]);
  }
  return r;
}

// Sum of |a[i][j]| over i = k..l, i != j.
float column_sum_without_diagonal(const float *const *a, int j, int k, int l) {
  float c = 0.0f;
  for (int i = k; i <= l; ++i) {
    if (i != j) c += std::fabs(a[i][j]);
  }
  return c;
}

// Exchanges columns j and m in rows 0..last_row.
void swap_columns(float *const *a, int j, int m, int last_row) {
  for (int i = 0; i <= last_row; ++i) std::swap(a[i][j], a[i][m]);
}

// Exchanges rows j and m in columns first_col..n-1.
void swap_rows(float *const *a, int j, int m, int first_col, int n) {
  for (int i = first_col; i < n; ++i) std::swap(a[j][i], a[m][i]);
}

// Pushes rows whose off-diagonal part (within columns 0..l) is zero to the
// bottom; returns the last row left, -1 when every row was isolated.
int isolate_rows(float *const *a, int n, float *scale) {
  int l = n - 1;
  bool exchanged = true;
  while (l >= 0 && exchanged) {
    exchanged = false;
    for (int j = l; j >= 0; --j) {
      if (row_sum_without_diagonal(a, j, l) != 0.0f) continue;
      scale[l] = static_cast<float>(j);
      if (j != l) {
        swap_columns(a, j, l, l);
        swap_rows(a, j, l, 0, n);
      }
      --l;
      exchanged = true;
    }
  }
  return l;
}

// Pushes columns whose off-diagonal part (within rows k..l) is zero to the
// left; returns the first column left.
int isolate_columns(float *const *a, int n, int l, float *scale) {
  int k = 0;
  bool exchanged = true;
  while (k <= l && exchanged) {
    exchanged = false;
    for (int j = k; j <= l; ++j) {
      if (column_sum_without_diagonal(a, j, k, l) != 0.0f) continue;
      scale[k] = static_cast<float>(j);
      if (j != k) {
        swap_columns(a, j, k, l);
        swap_rows(a, j, k, k, n);
      }
      ++k;
      exchanged = true;
    }
  }
  return k;
}

// Power-of-2 factor that brings the column sum c and the row sum r of one
// row and column closer together; 1 means the pair is left as it is.
float scaling_factor(float c, float r) {
  // A zero or non-finite sum would keep the loops below running for ever
  // (c = 0 never reaches r/2, r = 0 or an infinite c is never halved below
  // 2r): such a row and column stay unscaled.
  if (!std::isfinite(c) || !std::isfinite(r) || c == 0.0f || r == 0.0f) return 1.0f;
  const float s = c + r;
  float f = 1.0f;
  while (c < r * 0.5f) {
    f = f * 2.0f;
    c = c * 4.0f;
  }
  // With r above FLT_MAX/2, c can overflow above; an infinite c would then
  // never drop below r + r (itself infinite): leave the pair unscaled.
  if (std::isinf(c)) return 1.0f;
  while (c >= r + r) {
    f = f * 0.5f;
    c = c * 0.25f;
  }
  return (c + r) / f < s * kScalingGain ? f : 1.0f;
}

// Divides row i (columns low..n-1) by f and multiplies column i
// (rows 0..high) by f.
void scale_row_and_column(float *const *a, int n, int low, int high, int i, float f) {
  const float g = 1.0f / f;
  for (int j = low; j < n; ++j) a[i][j] = a[i][j] * g;
  for (int j = 0; j <= high; ++j) a[j][i] = a[j][i] * f;
}

// Whether dividing row i (columns low..n-1) by f and multiplying column i
// (rows 0..high) by f keeps every entry finite.
bool scaling_stays_finite(const float *const *a, int n, int low, int high, int i, float f) {
  const float g = 1.0f / f;
  for (int j = low; j < n; ++j) {
    if (std::isinf(a[i][j] * g) && std::isfinite(a[i][j])) return false;
  }
  for (int j = 0; j <= high; ++j) {
    if (std::isinf(a[j][i] * f) && std::isfinite(a[j][i])) return false;
  }
  return true;
}

// One pass of power-of-2 scaling over the block; returns whether a row and
// column was scaled. Safeguarded form: a scaling that would make an entry
// overflow (entries outside the block are scaled too, and they may be far
// larger than the sums that chose the factor) is not made.
bool scaling_sweep(float *const *a, int n, int low, int high, float *scale,
                   Safeguards safeguards) {
  bool scaled = false;
  for (int i = low; i <= high; ++i) {
    float c = 0.0f;
    float r = 0.0f;
    for (int j = low; j <= high; ++j) {
      if (j == i) continue;
      c += std::fabs(a[j][i]);
      r += std::fabs(a[i][j]);
    }
    const float f = scaling_factor(c, r);
    if (f == 1.0f) continue;
    if (safeguards == Safeguards::kOn && !scaling_stays_finite(a, n, low, high, i, f)) continue;
    scale[i] = scale[i] * f;
    scale_row_and_column(a, n, low, high, i, f);
    scaled = true;
  }
  return scaled;
}

// Exchanges rows i and scale[i] of v for each position fixed by a permutation.
void undo_permutation(float *const *v, int n, int i, const float *scale) {
  const int m = static_cast<int>(scale[i]);
  if (m != i) swap_rows(v, i, m, 0, n);
}

}  // namespace

void balance(float *const *a, int n, float *scale, int *low, int *high, Safeguards safeguards) {
  const int l = isolate_rows(a, n, scale);
  const int k = isolate_columns(a, n, l, scale);
  *low = k;
  *high = l;
  if (k > l) return;
  for (int i = k; i <= l; ++i) scale[i] = 1.0f;
  for (int sweep = 0; sweep < kMaxScalingSweeps; ++sweep) {
    if (!scaling_sweep(a, n, k, l, scale, safeguards)) break;
  }
}

void balance_back(float *const *v, int n, int low, int high, const float *scale) {
  for (int i = low; i <= high; ++i) {
    const float s = scale[i];
    for (int j = 0; j < n; ++j) v[i][j] = v[i][j] * s;
  }
  for (int i = low - 1; i >= 0; --i) undo_permutation(v, n, i, scale);
  for (int i = high + 1; i < n; ++i) undo_permutation(v, n, i, scale);
}

}  // namespace ici3d::eigen
