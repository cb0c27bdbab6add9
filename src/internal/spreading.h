// One accepted direction's plane, as every member of its window receives it.
// The serial spreading of the exported second pass and the main loop's
// parallel spreading both add exactly these values, member by member.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ici3d::internal {

struct Plane {
  float normal[3];    // unit normal in global coordinates
  float estimate[3];  // the point the plane passes through
};

struct PlaneContribution {
  float matrix[9];  // w * n n^T, row-major
  float rhs[3];     // w * n n^T e
  float weight;     // w
  double sigma_sq;  // the direction's sigma squared, in double
};

// The accumulators a plane is added into, indexed by the receiving point.
struct SpreadSums {
  float *normal_matrix_sums;   // [9j + 3r + c]
  float *normal_rhs_sums;      // [3j + c]
  float *weight_sums;          // [j]
  float *sigma_sq_sums;        // [j]
  float *contribution_counts;  // [j]
};

// The plane of direction d of point i, whose window has m members. False,
// and nothing to spread, for an empty window, one longer than max_selected,
// or a broken axis order.
bool direction_plane(std::int32_t i, std::int32_t d, const float *frame_matrices,
                     const std::int32_t *axis_order, const float *direction_fits,
                     const float *direction_estimates, std::int32_t m, std::int32_t max_selected,
                     Plane &out);

// Weight of the plane from its window's `members` (m of them).
float plane_weight(const Plane &plane, const std::int32_t *members, std::int32_t m,
                   const float *points, const float *noise_sigma);

// What each member receives from the plane of direction d of point i.
PlaneContribution plane_contribution(const Plane &plane, float weight, std::int32_t i,
                                     std::int32_t d, std::int32_t n,
                                     const float *direction_sigmas);

// Adds the plane into the sums of point j, in the order the sums expect.
inline void add_contribution(const PlaneContribution &p, std::size_t j, const SpreadSums &s) {
  float *mj = s.normal_matrix_sums + 9 * j;
  for (int e = 0; e < 9; ++e) mj[e] += p.matrix[e];
  float *bj = s.normal_rhs_sums + 3 * j;
  bj[0] += p.rhs[0];
  bj[1] += p.rhs[1];
  bj[2] += p.rhs[2];
  s.weight_sums[j] += p.weight;
  s.sigma_sq_sums[j] = static_cast<float>(static_cast<double>(s.sigma_sq_sums[j]) + p.sigma_sq);
  s.contribution_counts[j] += 1.0f;
}

}  // namespace ici3d::internal
