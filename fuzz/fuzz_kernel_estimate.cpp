// Kernel estimate harness: polynomkernel_single_est_ord1 on a window of raw
// floats.
//
// Input: count (one signed byte; negative and zero are kept, positive ones
// taken modulo 65), then the planar window (3*count raw floats).
//
// Any window must come back without a crash or undefined behaviour, writing
// exactly `count` weights. count <= 0 gives the documented constants. A
// well-conditioned window must give finite outputs close to the
// least-squares plane computed in double. Well conditioned: finite values,
// |z| <= 1e30, an x-y spread s (root mean square) within 1e-6..1e6, and a
// normal matrix of the design rows (x/s, y/s, 1) with reciprocal condition
// >= 1e-3. The spread is divided out because float rounding is the same at
// every scale; only overflow and underflow are not, hence its range.
#include <cmath>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "ici3d.h"

namespace {

using ici3d_fuzz::check;

constexpr int32_t kMaxCount = 64;
constexpr double kMinReciprocalCondition = 1e-3;
constexpr double kTolerance = 1e-2;  // relative to the largest |z|
constexpr double kMinSpread = 1e-6, kMaxSpread = 1e6, kMaxHeight = 1e30;

struct Fit {
  double estimate = 0;
  double rcond = 0;
};

// Eigenvalues of a symmetric 3x3 matrix, smallest and largest, by the
// trigonometric formula.
void extreme_eigenvalues(const double m[3][3], double* lo, double* hi) {
  const double p1 = m[0][1] * m[0][1] + m[0][2] * m[0][2] + m[1][2] * m[1][2];
  const double q = (m[0][0] + m[1][1] + m[2][2]) / 3;
  const double p2 = (m[0][0] - q) * (m[0][0] - q) + (m[1][1] - q) * (m[1][1] - q) +
                    (m[2][2] - q) * (m[2][2] - q) + 2 * p1;
  const double p = std::sqrt(p2 / 6);
  if (p == 0) {
    *lo = *hi = q;
    return;
  }
  double b[3][3];
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) b[r][c] = (m[r][c] - (r == c ? q : 0)) / p;
  }
  const double det = b[0][0] * (b[1][1] * b[2][2] - b[1][2] * b[2][1]) -
                     b[0][1] * (b[1][0] * b[2][2] - b[1][2] * b[2][0]) +
                     b[0][2] * (b[1][0] * b[2][1] - b[1][1] * b[2][0]);
  const double phi = std::acos(std::fmin(1.0, std::fmax(-1.0, det / 2))) / 3;
  *hi = q + 2 * p * std::cos(phi);
  *lo = q + 2 * p * std::cos(phi + 2 * M_PI / 3);
}

// Root mean square of the x and y coordinates.
double spread(const std::vector<float>& w, size_t n) {
  double s = 0;
  for (size_t k = 0; k < 2 * n; ++k) s += static_cast<double>(w[k]) * w[k];
  return std::sqrt(s / static_cast<double>(2 * n));
}

// The least-squares plane z = c + bx*x + by*y in double, at point 0, with x
// and y divided by their spread s (which leaves the value at point 0 alone).
Fit reference_fit(const std::vector<float>& w, int32_t count, double s) {
  const size_t n = static_cast<size_t>(count);
  double m[3][3] = {}, rhs[3] = {};
  for (size_t k = 0; k < n; ++k) {
    const double row[3] = {w[k] / s, w[n + k] / s, 1.0};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) m[r][c] += row[r] * row[c];
      rhs[r] += row[r] * w[2 * n + k];
    }
  }
  Fit fit;
  double lo = 0, hi = 0;
  extreme_eigenvalues(m, &lo, &hi);
  fit.rcond = hi > 0 ? lo / hi : 0;
  if (!(fit.rcond >= kMinReciprocalCondition)) return fit;
  // Cramer's rule: the system is well conditioned here.
  auto det3 = [](const double a[3][3]) {
    return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
           a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  };
  const double d = det3(m);
  double beta[3];
  for (int col = 0; col < 3; ++col) {
    double a[3][3];
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) a[r][c] = c == col ? rhs[r] : m[r][c];
    }
    beta[col] = det3(a) / d;
  }
  fit.estimate = beta[0] * (w[0] / s) + beta[1] * (w[n] / s) + beta[2];
  return fit;
}

void check_empty_window(int32_t count) {
  float weights[1] = {-7.0f};
  float estimate = NAN;
  float fit[3] = {NAN, NAN, NAN};
  polynomkernel_single_est_ord1(nullptr, count, &estimate, weights, fit);
  check(estimate == 0.0f && fit[0] == 0.0f && std::signbit(fit[0]) && fit[1] == 0.0f &&
            std::signbit(fit[1]) && fit[2] == 1.0f,
        "count <= 0 gives estimate 0 and fit (-0, -0, 1)");
  check(weights[0] == -7.0f, "count <= 0 writes no weight");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ici3d_fuzz::ByteReader in(data, size);
  const int8_t raw_count = in.take<int8_t>();
  if (raw_count <= 0) {
    check_empty_window(raw_count);
    return 0;
  }
  const int32_t count = 1 + (raw_count - 1) % kMaxCount;
  const std::vector<float> window = in.floats(3 * static_cast<size_t>(count));
  std::vector<float> weights(static_cast<size_t>(count));
  float estimate = 0.0f;
  float fit[3];
  polynomkernel_single_est_ord1(window.data(), count, &estimate, weights.data(), fit);
  check(fit[2] == 1.0f, "the normal's last component is 1");

  if (count < 3 || !ici3d_fuzz::all_finite(window.data(), window.size())) return 0;
  const size_t n = static_cast<size_t>(count);
  double zmax = 0;
  for (size_t k = 0; k < n; ++k) zmax = std::fmax(zmax, std::fabs(window[2 * n + k]));
  const double s = spread(window, n);
  if (!(s >= kMinSpread && s <= kMaxSpread && zmax <= kMaxHeight)) return 0;
  const Fit reference = reference_fit(window, count, s);
  if (!(reference.rcond >= kMinReciprocalCondition)) return 0;
  check(std::isfinite(estimate) && std::isfinite(fit[0]) && std::isfinite(fit[1]),
        "a well-conditioned window gives finite outputs");
  check(ici3d_fuzz::all_finite(weights.data(), weights.size()), "finite weights");
  check(std::fabs(estimate - reference.estimate) <= kTolerance * zmax + 1e-30,
        "the estimate matches the least-squares plane");
  return 0;
}
