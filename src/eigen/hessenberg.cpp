// Reduction of the balanced block to upper Hessenberg form by stabilised
// elementary similarity transformations, and the accumulation of those
// transformations into the eigenvector matrix.
#include <cmath>
#include <cstring>
#include <utility>

#include "eigen_internal.h"

namespace ici3d::eigen {

namespace {

// Row m..high of column m-1 with the largest magnitude (the first one on
// ties; NaN never wins). Returns the row and stores the entry in x.
int find_pivot(const float *const *a, int m, int high, float *x) {
  int p = m;
  *x = 0.0f;
  for (int j = m; j <= high; ++j) {
    if (std::fabs(a[j][m - 1]) > std::fabs(*x)) {
      *x = a[j][m - 1];
      p = j;
    }
  }
  return p;
}

// Similarity exchange of rows and columns p and m.
void interchange(float *const *a, int n, int high, int m, int p) {
  for (int j = m - 1; j < n; ++j) std::swap(a[p][j], a[m][j]);
  for (int j = 0; j <= high; ++j) std::swap(a[j][p], a[j][m]);
}

// Eliminates a[i][m-1] for i = m+1..high with the pivot x = a[m][m-1],
// keeping each multiplier in the entry it eliminates.
void eliminate_below_pivot(float *const *a, int n, int high, int m, float x) {
  for (int i = m + 1; i <= high; ++i) {
    float y = a[i][m - 1];
    if (y == 0.0f) continue;
    y = y / x;
    a[i][m - 1] = y;
    for (int j = m; j < n; ++j) a[i][j] = a[i][j] - y * a[m][j];
    for (int j = 0; j <= high; ++j) a[j][m] = a[j][m] + y * a[j][i];
  }
}

void set_identity(float *const *v, int n) {
  for (int i = 0; i < n; ++i) {
    std::memset(v[i], 0, static_cast<std::size_t>(n) * sizeof(float));
    v[i][i] = 1.0f;
  }
}

}  // namespace

void reduce_to_hessenberg(float *const *a, int n, int low, int high, int32_t *pivot_rows) {
  for (int m = low + 1; m <= high - 1; ++m) {
    float x = 0.0f;
    const int p = find_pivot(a, m, high, &x);
    pivot_rows[m] = p;
    if (p != m) interchange(a, n, high, m, p);
    // Nothing to eliminate when the whole column below the subdiagonal is 0.
    if (x != 0.0f) eliminate_below_pivot(a, n, high, m, x);
  }
}

void accumulate_reduction(const float *const *a, int n, int low, int high,
                          const int32_t *pivot_rows, float *const *v) {
  set_identity(v, n);
  for (int mp = high - 1; mp >= low + 1; --mp) {
    for (int i = mp + 1; i <= high; ++i) v[i][mp] = a[i][mp - 1];
    const int p = pivot_rows[mp];
    if (p == mp) continue;
    for (int j = mp; j <= high; ++j) {
      v[mp][j] = v[p][j];
      v[p][j] = 0.0f;
    }
    v[p][mp] = 1.0f;
  }
}

}  // namespace ici3d::eigen
