#include <cmath>

#include "ici3d.h"
#include "internal/internal.h"

namespace {

using ici3d::internal::idx;

// Ordering used for the axes: NaN below everything, then the usual order
// (-inf < finite < +inf).
bool ranks_below(float a, float b) {
  if (std::isnan(a)) return !std::isnan(b);
  if (std::isnan(b)) return false;
  return a < b;
}

// Largest, middle and smallest of three eigenvalues. The largest is the
// greatest value (lowest index among equals), the smallest the least of the
// other two (lowest index among equals), the middle the index left over.
// With three distinct finite values this is the plain order by value; with
// ties or non-finite values it still yields a permutation of 0, 1, 2, which
// the estimates need.
void order_axes(const float *lambda, int32_t *axes) {
  int32_t largest = 0;
  for (int32_t k = 1; k < 3; ++k) {
    if (ranks_below(lambda[largest], lambda[k])) largest = k;
  }
  const int32_t first = largest == 0 ? 1 : 0;
  const int32_t second = largest == 2 ? 1 : 2;
  const int32_t smallest = ranks_below(lambda[second], lambda[first]) ? second : first;
  axes[0] = largest;
  axes[1] = 3 - largest - smallest;
  axes[2] = smallest;
}

// Unnormalised scatter matrix of the K listed neighbours about their mean.
void scatter_matrix(const float *points, const int32_t *row, int32_t K, float *m) {
  float sum[3] = {0.0f, 0.0f, 0.0f};
  for (int32_t j = 0; j < K; ++j) {
    const float *p = points + 3 * idx(row[j]);
    for (int c = 0; c < 3; ++c) sum[c] += p[c];
  }
  const float count = static_cast<float>(K);
  const float mean[3] = {sum[0] / count, sum[1] / count, sum[2] / count};
  for (int32_t j = 0; j < K; ++j) {
    const float *p = points + 3 * idx(row[j]);
    const float dv[3] = {p[0] - mean[0], p[1] - mean[1], p[2] - mean[2]};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) m[3 * r + c] += dv[r] * dv[c];
    }
  }
}

}  // namespace

extern "C" void local_coordinate_for_ici_c(const float *points, const int32_t *neighbor_table,
                                           int32_t i, int32_t K, int32_t /*n*/,
                                           int32_t *out_axes, float *out_frame) {
  float m[9] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
  if (K > 0) scatter_matrix(points, neighbor_table + idx(K) * idx(i), K, m);

  // Imaginary parts first, then real parts; only the real parts are used.
  float eigenvalues[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
  eigeng(m, 3, eigenvalues + 3, eigenvalues, out_frame);
  order_axes(eigenvalues + 3, out_axes);
}
