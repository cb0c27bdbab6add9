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
