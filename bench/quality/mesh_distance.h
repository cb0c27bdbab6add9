// Distances from points to a triangle mesh (CGAL's AABB tree).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ici3d_shapes/mesh.h"

namespace ici3d::bench {

class MeshDistance {
 public:
  explicit MeshDistance(const shapes::Mesh& mesh);
  ~MeshDistance();
  MeshDistance(const MeshDistance&) = delete;
  MeshDistance& operator=(const MeshDistance&) = delete;

  double squared_distance(const double* p) const;
  /// Index of the triangle holding the point of the surface closest to p.
  int32_t closest_triangle(const double* p) const;

  /// Point-to-mesh error: mean squared distance of the points (3n) to the surface.
  double mean_squared_distance(const std::vector<double>& xyz) const;
  /// Unit normal of the closest triangle of each point (3n).
  std::vector<double> closest_normals(const std::vector<double>& xyz) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  const shapes::Mesh& mesh_;
};

}  // namespace ici3d::bench
