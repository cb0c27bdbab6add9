#include <cmath>

#include "ici3d.h"
#include "internal/internal.h"
#include "internal/layout.h"
#include "internal/spreading.h"

namespace {

namespace layout = ici3d::layout;

using ici3d::internal::idx;
using ici3d::internal::Plane;

// Fit record (local axes) to a global unit normal: reorder into frame-row
// order, rotate through the frame, normalise with a double-precision length.
void global_unit_normal(const float *frame, const int32_t *axes, const float *fit,
                        float *normal) {
  float c[3];
  for (int p = 0; p < 3; ++p) c[axes[p]] = fit[p];
  const float *f = frame;
  const float gx = (f[0] * c[0] + f[3] * c[1]) + f[6] * c[2];
  const float gy = (f[1] * c[0] + f[4] * c[1]) + f[7] * c[2];
  const float gz = (f[2] * c[0] + f[5] * c[1]) + f[8] * c[2];
  const double dx = static_cast<double>(gx), dy = static_cast<double>(gy),
               dz = static_cast<double>(gz);
  const float length = static_cast<float>(std::sqrt((dx * dx + dy * dy) + dz * dz));
  normal[0] = gx / length;
  normal[1] = gy / length;
  normal[2] = gz / length;
}

}  // namespace

// Weight of the plane from the window's mean squared residual R and mean
// noise variance S: 1 / max(R - 0.75 S, sqrt(2/m) S)^2.
float ici3d::internal::plane_weight(const Plane &plane, const int32_t *members, int32_t m,
                                    const float *points, const float *noise_sigma) {
  const float *e = plane.estimate;
  const float *nv = plane.normal;
  const double md = static_cast<double>(m);
  float r_mean = 0.0f;
  float s_mean = 0.0f;
  for (int32_t k = 0; k < m; ++k) {
    const std::size_t j = idx(members[k]);
    const float *p = points + 3 * j;
    const float t = ((p[0] - e[0]) * nv[0] + (p[1] - e[1]) * nv[1]) + (p[2] - e[2]) * nv[2];
    const double td = static_cast<double>(t);
    r_mean = static_cast<float>(static_cast<double>(r_mean) + td * td);
  }
  r_mean = r_mean / static_cast<float>(m);
  for (int32_t k = 0; k < m; ++k) {
    const double sj = static_cast<double>(noise_sigma[idx(members[k])]);
    s_mean = static_cast<float>(sj * sj / md + static_cast<double>(s_mean));
  }
  const double sd = static_cast<double>(s_mean);
  const float a = static_cast<float>(-0.75 * sd + static_cast<double>(r_mean));
  const float b = static_cast<float>((1.4142135623730951 / std::sqrt(md)) * sd);
  const float x = a > b ? a : b;
  return (1.0f / x) * (1.0f / x);
}

bool ici3d::internal::direction_plane(int32_t i, int32_t d, const float *frame_matrices,
                                      const int32_t *axis_order, const float *direction_fits,
                                      const float *direction_estimates, int32_t m,
                                      int32_t max_selected, Plane &out) {
  const int64_t ii = i;
  const int32_t *axes = axis_order + 3 * idx(ii);
  // An empty window, one longer than its row, or a broken axis order
  // contributes nothing.
  if (m <= 0 || m > max_selected || !ici3d::internal::is_axis_permutation(axes)) return false;
  global_unit_normal(frame_matrices + 9 * idx(ii), axes, direction_fits + layout::direction_fit(ii, d),
                     out.normal);
  for (int c = 0; c < 3; ++c) out.estimate[c] = direction_estimates[layout::direction_estimate(ii, c, d)];
  return true;
}

ici3d::internal::PlaneContribution ici3d::internal::plane_contribution(
    const Plane &plane, float w, int32_t i, int32_t d, int32_t n, const float *direction_sigmas) {
  PlaneContribution out;
  const float nx = plane.normal[0], ny = plane.normal[1], nz = plane.normal[2];
  const float xx = nx * nx, xy = ny * nx, xz = nx * nz;
  const float yy = ny * ny, yz = ny * nz, zz = nz * nz;
  const float matrix[9] = {w * xx, w * xy, w * xz, w * xy, w * yy, w * yz, w * xz, w * yz, w * zz};
  for (int e = 0; e < 9; ++e) out.matrix[e] = matrix[e];
  const float ex = plane.estimate[0], ey = plane.estimate[1], ez = plane.estimate[2];
  out.rhs[0] = ((ex * xx + ey * xy) + ez * xz) * w;
  out.rhs[1] = ((ex * xy + ey * yy) + ez * yz) * w;
  out.rhs[2] = ((ex * xz + ey * yz) + ez * zz) * w;
  out.weight = w;
  const double sigma_e = static_cast<double>(direction_sigmas[layout::direction_sigma(i, d, n)]);
  out.sigma_sq = sigma_e * sigma_e;
  return out;
}

extern "C" void second_loop_no_omp(int32_t i, int32_t d, const float *frame_matrices,
                                   const int32_t *axis_order, const float *direction_fits,
                                   const int32_t *selected_neighbors, int32_t n,
                                   const int32_t *selected_counts, int32_t max_selected,
                                   const float *noise_sigma, const float *direction_estimates,
                                   const float *points, const float *direction_sigmas,
                                   float *normal_matrix_sums, float *normal_rhs_sums,
                                   float *weight_sums, float *sigma_sq_sums,
                                   float *contribution_counts) {
  namespace internal = ici3d::internal;
  const int32_t m = selected_counts[layout::selected_count(i, d)];
  Plane plane;
  if (!internal::direction_plane(i, d, frame_matrices, axis_order, direction_fits,
                                 direction_estimates, m, max_selected, plane))
    return;
  const int32_t *members = selected_neighbors + layout::selected_row(i, d, max_selected);
  const float w = internal::plane_weight(plane, members, m, points, noise_sigma);
  const internal::PlaneContribution contribution =
      internal::plane_contribution(plane, w, i, d, n, direction_sigmas);
  const internal::SpreadSums sums{normal_matrix_sums, normal_rhs_sums, weight_sums, sigma_sq_sums,
                                  contribution_counts};
  for (int32_t k = 0; k < m; ++k) internal::add_contribution(contribution, idx(members[k]), sums);
}
