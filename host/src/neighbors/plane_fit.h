// Least-squares (PCA) plane of a small neighbourhood, in double.
#pragma once

#include <cstddef>
#include <vector>

namespace ici3d::host::detail {

struct PlaneFit {
  double centroid[3] = {0, 0, 0};
  double normal[3] = {0, 0, 1};       // unit eigenvector of the smallest eigenvalue
  double eigenvalues[3] = {0, 0, 0};  // of the centred scatter matrix, ascending
};

// Eigen-decomposition of a symmetric 3x3 matrix (row-major) by cyclic Jacobi
// rotations: eigenvalues ascending, vectors[k] the unit eigenvector of values[k].
void symmetric_eigen3(const double matrix[9], double values[3], double vectors[3][3]);

// Plane through the centroid of the points (3 coordinates each, interleaved)
// whose normal is the direction of least spread.
PlaneFit fit_plane(const std::vector<double>& coords);

// Signed distance of every point from the plane.
std::vector<double> plane_residuals(const PlaneFit& plane, const std::vector<double>& coords);

}  // namespace ici3d::host::detail

namespace ici3d::host::detail {

// Terms of the height fields below: a full cubic in two variables.
inline constexpr int kHeightFieldTerms = 10;

// Residuals of every point from the least-squares cubic height field
//   w = sum of c_ab u^a v^b over a + b <= 3
// fitted through the points whose `use` flag is set (all points when `use` is
// empty); points are given by their tangent coordinates (u, v) and heights w,
// all of the same length. u and v should be of order one (the caller scales
// them by the neighbourhood's radius) for the normal equations to be well
// conditioned. A cubic takes up curvature and its change across a
// neighbourhood, so that what remains is noise. Returns an empty vector when
// the ten coefficients are not determined (fewer than ten points used, or the
// points on a cubic curve).
std::vector<double> height_field_residuals(const std::vector<double>& u, const std::vector<double>& v,
                                      const std::vector<double>& w,
                                      const std::vector<char>& use = {});

}  // namespace ici3d::host::detail
