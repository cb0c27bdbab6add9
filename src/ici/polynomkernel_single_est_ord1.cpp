#include "ici3d.h"
#include "internal/internal.h"

namespace ici3d::internal {

// Least-squares plane z = c + bx*x + by*y over the window, evaluated at
// point 0. The 3x3 normal matrix is inverted in closed form by cofactors;
// every product and sum is single precision, sums run in index order from
// +0, so the result is reproducible to the bit.
void kernel_estimate_ord1(const float *window, int32_t count, float *estimate, float *weights,
                          float *fit) {
  if (count <= 0) {
    *estimate = 0.0f;
    fit[0] = -0.0f;
    fit[1] = -0.0f;
    fit[2] = 1.0f;
    return;
  }
  const float *xs = window;
  const float *ys = window + count;
  const float *zs = window + 2 * static_cast<int64_t>(count);

  // Sums of the normal matrix (design rows are (x, y, 1)).
  float sxx = 0.0f, sxy = 0.0f, sx = 0.0f, syy = 0.0f, sy = 0.0f, nn = 0.0f;
  for (int32_t k = 0; k < count; ++k) {
    const float x = xs[k], y = ys[k];
    sxx += x * x;
    sxy += x * y;
    sx += x * 1.0f;
    syy += y * y;
    sy += y * 1.0f;
    nn += 1.0f * 1.0f;
  }

  // Cofactors, determinant (expansion along the first row) and inverse.
  const float c00 = syy * nn - sy * sy;
  const float c01 = sy * sx - nn * sxy;
  const float c02 = sxy * sy - syy * sx;
  const float det = sx * c02 + (sxx * c00 - (nn * sxy - sy * sx) * sxy);
  const float p00 = c00 / det;
  const float p10 = c01 / det;
  const float p20 = c02 / det;
  const float p01 = (sy * sx - nn * sxy) / det;
  const float p11 = (nn * sxx - sx * sx) / det;
  const float p21 = (sx * sxy - sy * sxx) / det;
  const float p02 = (sxy * sy - sx * syy) / det;
  const float p12 = (sx * sxy - sy * sxx) / det;
  const float p22 = (sxx * syy - sxy * sxy) / det;

  // Rows of design * inverse give the weights of the value at point 0 and
  // the two slopes; the three running sums are independent.
  const float x0 = xs[0], y0 = ys[0];
  float est = 0.0f, beta_x = 0.0f, beta_y = 0.0f;
  for (int32_t k = 0; k < count; ++k) {
    const float x = xs[k], y = ys[k], z = zs[k];
    const float a0 = x * p00 + y * p10 + p20;
    const float a1 = x * p01 + y * p11 + p21;
    const float a2 = x * p02 + y * p12 + p22;
    const float weight = x0 * a0 + y0 * a1 + a2;
    weights[k] = weight;
    est += weight * z;
    beta_x += z * a0;
    beta_y += z * a1;
  }
  *estimate = est;
  fit[0] = -beta_x;
  fit[1] = -beta_y;
  fit[2] = 1.0f;
}

}  // namespace ici3d::internal

extern "C" void polynomkernel_single_est_ord1(const float *window, int32_t count, float *estimate,
                                              float *weights, float *fit) {
  ici3d::internal::kernel_estimate_ord1(window, count, estimate, weights, fit);
}
