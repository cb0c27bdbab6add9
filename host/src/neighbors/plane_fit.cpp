#include "plane_fit.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace ici3d::host::detail {
namespace {

constexpr int kMaxJacobiSweeps = 50;

double off_diagonal_norm(const double a[3][3]) {
  return a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2];
}

// One Jacobi rotation in the (p, q) plane that zeroes a[p][q]; v accumulates
// the rotations as columns.
void jacobi_rotate(double a[3][3], double v[3][3], int p, int q) {
  if (a[p][q] == 0.0) return;
  const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
  const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
  const double c = 1.0 / std::sqrt(t * t + 1.0);
  const double s = t * c;
  for (int k = 0; k < 3; ++k) {
    const double akp = a[k][p], akq = a[k][q];
    a[k][p] = c * akp - s * akq;
    a[k][q] = s * akp + c * akq;
  }
  for (int k = 0; k < 3; ++k) {
    const double apk = a[p][k], aqk = a[q][k];
    a[p][k] = c * apk - s * aqk;
    a[q][k] = s * apk + c * aqk;
  }
  for (int k = 0; k < 3; ++k) {
    const double vkp = v[k][p], vkq = v[k][q];
    v[k][p] = c * vkp - s * vkq;
    v[k][q] = s * vkp + c * vkq;
  }
}

}  // namespace

void symmetric_eigen3(const double matrix[9], double values[3], double vectors[3][3]) {
  double a[3][3], v[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double scale = 0.0;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      a[r][c] = matrix[3 * r + c];
      scale += a[r][c] * a[r][c];
    }
  for (int sweep = 0; sweep < kMaxJacobiSweeps && off_diagonal_norm(a) > 1e-30 * scale; ++sweep) {
    jacobi_rotate(a, v, 0, 1);
    jacobi_rotate(a, v, 0, 2);
    jacobi_rotate(a, v, 1, 2);
  }
  int order[3] = {0, 1, 2};
  std::sort(order, order + 3, [&](int x, int y) { return a[x][x] < a[y][y]; });
  for (int k = 0; k < 3; ++k) {
    values[k] = a[order[k]][order[k]];
    for (int r = 0; r < 3; ++r) vectors[k][r] = v[r][order[k]];
  }
}

PlaneFit fit_plane(const std::vector<double>& coords) {
  PlaneFit plane;
  const size_t count = coords.size() / 3;
  if (count == 0) return plane;
  for (size_t j = 0; j < count; ++j)
    for (int c = 0; c < 3; ++c) plane.centroid[c] += coords[3 * j + c];
  for (double& c : plane.centroid) c /= static_cast<double>(count);
  double scatter[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (size_t j = 0; j < count; ++j) {
    double d[3];
    for (int c = 0; c < 3; ++c) d[c] = coords[3 * j + c] - plane.centroid[c];
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) scatter[3 * r + c] += d[r] * d[c];
  }
  double vectors[3][3];
  symmetric_eigen3(scatter, plane.eigenvalues, vectors);
  std::copy(vectors[0], vectors[0] + 3, plane.normal);
  return plane;
}

std::vector<double> plane_residuals(const PlaneFit& plane, const std::vector<double>& coords) {
  std::vector<double> residuals(coords.size() / 3);
  for (size_t j = 0; j < residuals.size(); ++j) {
    double r = 0.0;
    for (int c = 0; c < 3; ++c) r += (coords[3 * j + c] - plane.centroid[c]) * plane.normal[c];
    residuals[j] = r;
  }
  return residuals;
}

}  // namespace ici3d::host::detail

namespace ici3d::host::detail {

namespace {

constexpr int kTerms = kHeightFieldTerms;

void height_field_terms(double u, double v, double terms[kTerms]) {
  terms[0] = 1.0;
  terms[1] = u;
  terms[2] = v;
  terms[3] = u * u;
  terms[4] = u * v;
  terms[5] = v * v;
  terms[6] = u * u * u;
  terms[7] = u * u * v;
  terms[8] = u * v * v;
  terms[9] = v * v * v;
}

// Solves the symmetric positive definite system a x = b in place by Cholesky
// decomposition; false when a is not numerically positive definite.
bool cholesky_solve(double a[kTerms][kTerms], double b[kTerms]) {
  constexpr int n = kTerms;
  double scale = 0.0;
  for (int i = 0; i < n; ++i) scale = std::max(scale, a[i][i]);
  for (int j = 0; j < n; ++j) {
    double d = a[j][j];
    for (int k = 0; k < j; ++k) d -= a[j][k] * a[j][k];
    if (!(d > 1e-12 * scale)) return false;
    a[j][j] = std::sqrt(d);
    for (int i = j + 1; i < n; ++i) {
      double s = a[i][j];
      for (int k = 0; k < j; ++k) s -= a[i][k] * a[j][k];
      a[i][j] = s / a[j][j];
    }
  }
  for (int i = 0; i < n; ++i) {
    double s = b[i];
    for (int k = 0; k < i; ++k) s -= a[i][k] * b[k];
    b[i] = s / a[i][i];
  }
  for (int i = n - 1; i >= 0; --i) {
    double s = b[i];
    for (int k = i + 1; k < n; ++k) s -= a[k][i] * b[k];
    b[i] = s / a[i][i];
  }
  return true;
}

}  // namespace

std::vector<double> height_field_residuals(const std::vector<double>& u, const std::vector<double>& v,
                                      const std::vector<double>& w, const std::vector<char>& use) {
  const size_t count = w.size();
  double normal[kTerms][kTerms] = {};
  double rhs[kTerms] = {};
  double terms[kTerms];
  size_t used = 0;
  for (size_t j = 0; j < count; ++j) {
    if (!use.empty() && !use[j]) continue;
    ++used;
    height_field_terms(u[j], v[j], terms);
    for (int r = 0; r < kTerms; ++r) {
      rhs[r] += terms[r] * w[j];
      for (int c = 0; c <= r; ++c) normal[r][c] += terms[r] * terms[c];
    }
  }
  if (used < static_cast<size_t>(kTerms)) return {};
  for (int r = 0; r < kTerms; ++r)
    for (int c = r + 1; c < kTerms; ++c) normal[r][c] = normal[c][r];
  if (!cholesky_solve(normal, rhs)) return {};
  std::vector<double> residuals(count);
  for (size_t j = 0; j < count; ++j) {
    height_field_terms(u[j], v[j], terms);
    double fitted = 0.0;
    for (int r = 0; r < kTerms; ++r) fitted += rhs[r] * terms[r];
    residuals[j] = w[j] - fitted;
  }
  return residuals;
}

}  // namespace ici3d::host::detail
