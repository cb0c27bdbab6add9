#pragma once
// Synthetic surfaces with a known exact distance function, for generating
// test clouds and measuring how far a cloud lies from the surface it samples.
//
// Shapes (length units are arbitrary, the same for all):
// - sphere: radius 1 around the origin.
// - cube:   the surface of [-1, 1]^3.
// - part:   a machined block: an L-shaped profile (x in [-1, 1], tall half
//           x < 0 of height 0.8, low half x > 0 of height 0.4) extruded over
//           y in [-0.6, 0.6], with a vertical bore of radius 0.25 at
//           (x, y) = (0.5, 0) through the low half. Sharp convex and concave
//           edges, flat faces and a curved (cylindrical) face.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "ici3d_shapes/geometry.h"
#include "ici3d_shapes/random.h"

namespace ici3d::shapes {

/// A piece of a surface: its area, uniform sampling, and the exact distance
/// from any point to the piece.
class SurfacePatch {
 public:
  virtual ~SurfacePatch() = default;
  virtual double area() const = 0;
  virtual Vec3 sample(SeededRandom& random) const = 0;
  virtual double distance(const Vec3& p) const = 0;
};

class Shape {
 public:
  /// The names make() accepts.
  static std::vector<std::string> names();
  /// std::invalid_argument for an unknown name.
  static Shape make(const std::string& name);

  double area() const { return cumulative_area_.empty() ? 0 : cumulative_area_.back(); }
  /// n points drawn uniformly over the surface (3n coordinates, interleaved).
  std::vector<double> sample(size_t n, SeededRandom& random) const;
  /// Exact distance from p to the surface: the least over its patches.
  double distance(const Vec3& p) const;

 private:
  void add(std::unique_ptr<SurfacePatch> patch);
  std::vector<std::shared_ptr<const SurfacePatch>> patches_;
  std::vector<double> cumulative_area_;
};

}  // namespace ici3d::shapes
