// Cloud-to-cloud error measures of the quality benchmark, on k-d trees.
// Point arrays are 3n doubles, interleaved.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace ici3d::bench {

/// A k-d tree over a cloud that stays alive (and unchanged) while it is used.
class CloudIndex {
 public:
  explicit CloudIndex(const std::vector<double>& xyz);
  ~CloudIndex();
  CloudIndex(const CloudIndex&) = delete;
  CloudIndex& operator=(const CloudIndex&) = delete;

  size_t size() const;
  /// Squared distance from q to the nearest indexed point (infinity when empty).
  double nearest_squared_distance(const double* q) const;
  /// The k nearest indexed points of q, nearest first (fewer if the cloud is smaller).
  std::vector<size_t> nearest(const double* q, size_t k) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// Mean over the points of `from` of the squared distance to the nearest
/// point of `to`.
double mean_squared_nearest(const std::vector<double>& from, const std::vector<double>& to);

/// Chamfer distance: mean_squared_nearest(a, b) + mean_squared_nearest(b, a).
double chamfer_distance(const std::vector<double>& a, const std::vector<double>& b);

/// Unit normals by principal component analysis of each point's k nearest
/// neighbours (itself included); the sign is arbitrary.
std::vector<double> pca_normals(const std::vector<double>& xyz, size_t k);

/// Mean angle in degrees between unoriented unit normals a[i] and b[i]
/// (0..90); pairs with a zero vector are skipped.
double mean_unoriented_angle_deg(const std::vector<double>& a, const std::vector<double>& b);

}  // namespace ici3d::bench
