// The denoisers users pick today, on interleaved 3n double clouds. Each
// returns the smoothed cloud (PCL MLS drops points with fewer than three
// neighbours, so its output can be shorter).
#pragma once

#include <vector>

namespace ici3d::bench {

/// CGAL jet_smooth_point_set: each point projected onto a jet (degree-2
/// polynomial) fitted to its k nearest neighbours.
std::vector<double> cgal_jet_smooth(const std::vector<double>& xyz, unsigned k);

/// CGAL bilateral_smooth_point_set, `iterations` times, on normals estimated
/// by jet_estimate_normals over the same k neighbours.
std::vector<double> cgal_bilateral_smooth(const std::vector<double>& xyz, unsigned k,
                                          int iterations, double sharpness_deg);

/// PCL MovingLeastSquares (polynomial order 2, no upsampling) with the given
/// search radius, on `threads` OpenMP threads.
std::vector<double> pcl_mls_smooth(const std::vector<double>& xyz, double radius, int threads);

/// True when CGAL runs its point-set functions in parallel (linked with TBB).
bool cgal_parallel();

}  // namespace ici3d::bench
