// Helpers shared by the eigen solver tests: one call of eigeng on a copy of
// a matrix, and residual checks of its eigenvectors in double precision.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <vector>

#include "ici3d.h"

namespace eigen_test {

struct Decomposition {
  int n = 0;
  std::vector<float> re;
  std::vector<float> im;
  std::vector<float> vectors;  // row-major, eigenvector k in column k
  std::vector<float> matrix;   // what eigeng left in the matrix

  float v(int row, int col) const { return vectors[static_cast<size_t>(row * n + col)]; }
};

// Runs eigeng on a copy of `a` (n x n, row-major). The eigenvalue arrays are
// prefilled with NaN, so entries that eigeng did not write stay NaN.
inline Decomposition decompose(const std::vector<float> &a, int n, bool with_vectors = true) {
  Decomposition d;
  d.n = n;
  d.matrix = a;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  d.re.assign(static_cast<size_t>(n), nan);
  d.im.assign(static_cast<size_t>(n), nan);
  if (with_vectors) d.vectors.assign(static_cast<size_t>(n) * static_cast<size_t>(n), nan);
  eigeng(d.matrix.data(), n, d.re.data(), d.im.data(), with_vectors ? d.vectors.data() : nullptr);
  return d;
}

inline double frobenius_norm(const std::vector<float> &a) {
  double s = 0.0;
  for (float x : a) s += static_cast<double>(x) * static_cast<double>(x);
  return std::sqrt(s);
}

inline double column_length(const Decomposition &d, int k) {
  double s = 0.0;
  for (int r = 0; r < d.n; ++r) s += static_cast<double>(d.v(r, k)) * static_cast<double>(d.v(r, k));
  return std::sqrt(s);
}

using Vec = std::vector<std::complex<double>>;

// A*x - lambda*x for a complex vector x.
inline Vec eigen_defect(const std::vector<float> &a, int n, const Vec &x, std::complex<double> lambda) {
  Vec out(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    std::complex<double> s = 0.0;
    for (int j = 0; j < n; ++j) s += static_cast<double>(a[static_cast<size_t>(i * n + j)]) * x[static_cast<size_t>(j)];
    out[static_cast<size_t>(i)] = s - lambda * x[static_cast<size_t>(i)];
  }
  return out;
}

inline double dot(const Vec &p, const Vec &q) {  // real inner product of the realified vectors
  double s = 0.0;
  for (size_t i = 0; i < p.size(); ++i) s += p[i].real() * q[i].real() + p[i].imag() * q[i].imag();
  return s;
}

// Residual of eigenvalue k of `a` (the original matrix) with its stored
// eigenvector, relative to nothing (absolute, in double precision):
// - real eigenvalue: ||A v - lambda v|| with v = column k (unit length);
// - complex pair (k, k+1), eig_im[k] > 0: the two columns were scaled to unit
//   length independently, so the eigenvector is alpha*x + i*beta*y for some
//   unknown alpha, beta; the residual is the least ||A u - lambda u|| over
//   alpha^2 + beta^2 = 1, the smaller singular value of [P Q] with
//   P = A x - lambda x and Q = i (A y - lambda y).
inline double eigen_residual(const std::vector<float> &a, const Decomposition &d, int k) {
  const int n = d.n;
  const std::complex<double> lambda(d.re[static_cast<size_t>(k)], d.im[static_cast<size_t>(k)]);
  Vec x(static_cast<size_t>(n)), y(static_cast<size_t>(n));
  for (int r = 0; r < n; ++r) x[static_cast<size_t>(r)] = d.v(r, k);
  const Vec p = eigen_defect(a, n, x, lambda);
  if (d.im[static_cast<size_t>(k)] == 0.0f) return std::sqrt(dot(p, p));
  for (int r = 0; r < n; ++r) y[static_cast<size_t>(r)] = std::complex<double>(0.0, d.v(r, k + 1));
  const Vec q = eigen_defect(a, n, y, lambda);
  const double pp = dot(p, p), qq = dot(q, q), pq = dot(p, q);
  if (pp == 0.0 || qq == 0.0) return 0.0;
  // sigma_min = ||P|| * ||Q - proj_P Q|| / sigma_max (no cancellation).
  const double sigma_max = std::sqrt(0.5 * (pp + qq) + std::sqrt(0.25 * (pp - qq) * (pp - qq) + pq * pq));
  double perp = 0.0;
  for (size_t i = 0; i < p.size(); ++i) perp += std::norm(q[i] - (pq / pp) * p[i]);
  return std::sqrt(pp) * std::sqrt(perp) / sigma_max;
}

}  // namespace eigen_test
