// Single-precision complex division shared by the eigenvector stage and the
// normalisation of complex eigenvectors.
#include <cmath>
#include <limits>

#include "eigen_internal.h"

namespace ici3d::eigen {

namespace {

// 1 with the sign of v when v is infinite, else 0 with the sign of v.
float unit_if_infinite(float v) { return std::copysign(std::isinf(v) ? 1.0f : 0.0f, v); }

// Both parts of Smith's quotient are NaN: recover the infinite or zero
// results that a NaN-free operand implies (first matching case only).
ComplexF recover_special_quotient(ComplexF num, ComplexF den, ComplexF quotient) {
  const float a = num.re, b = num.im, c = den.re, d = den.im;
  const float inf = std::numeric_limits<float>::infinity();
  if (c == 0.0f && d == 0.0f && (!std::isnan(a) || !std::isnan(b))) {
    const float scale = std::copysign(inf, c);
    return {scale * a, scale * b};
  }
  if ((std::isinf(a) || std::isinf(b)) && std::isfinite(c) && std::isfinite(d)) {
    const float ai = unit_if_infinite(a), bi = unit_if_infinite(b);
    return {inf * (ai * c + bi * d), inf * (bi * c - ai * d)};
  }
  if ((std::isinf(c) || std::isinf(d)) && std::isfinite(a) && std::isfinite(b)) {
    const float ci = unit_if_infinite(c), di = unit_if_infinite(d);
    return {0.0f * (a * ci + b * di), 0.0f * (b * ci - a * di)};
  }
  return quotient;
}

}  // namespace

ComplexF complex_divide(ComplexF num, ComplexF den) {
  const float a = num.re, b = num.im, c = den.re, d = den.im;
  ComplexF quotient;
  if (std::fabs(d) > std::fabs(c)) {
    const float rho = c / d;
    const float den_s = c * rho + d;
    quotient = {(a * rho + b) / den_s, (b * rho - a) / den_s};
  } else {
    const float rho = d / c;
    const float den_s = d * rho + c;
    quotient = {(b * rho + a) / den_s, (b - a * rho) / den_s};
  }
  if (std::isnan(quotient.re) && std::isnan(quotient.im)) {
    return recover_special_quotient(num, den, quotient);
  }
  return quotient;
}

}  // namespace ici3d::eigen
