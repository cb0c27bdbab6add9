#pragma once
// Triangle meshes for the benchmarks (read from files or built here),
// normalised into the unit sphere and sampled uniformly by area with a fixed
// seed.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ici3d_shapes/geometry.h"

namespace ici3d::shapes {

struct Mesh {
  std::vector<Vec3> vertices;
  std::vector<std::array<int32_t, 3>> triangles;
};

/// Axis-aligned cube of side 2 centred at the origin (12 triangles).
Mesh cube_mesh();

/// A machined block: a stepped profile with one 45-degree chamfer, extruded
/// along z. Flat faces meeting at 90 and 135 degrees, convex and concave edges.
Mesh machined_part_mesh();

/// Unit sphere: an icosahedron subdivided `levels` times, vertices on the sphere.
Mesh sphere_mesh(int levels);

/// The mesh of a synthetic shape by name ("cube", "machined", "sphere");
/// std::invalid_argument for other names.
Mesh synthetic_mesh(const std::string& name);

/// Reads an OFF file (polygons are split into triangle fans); throws
/// std::runtime_error naming the problem.
Mesh read_off(const std::string& path);

/// Translates the bounding-box centre to the origin and scales so that the
/// farthest vertex lies at distance 1.
void normalise_to_unit_sphere(Mesh& mesh);

double triangle_area(const Mesh& mesh, size_t triangle);
double surface_area(const Mesh& mesh);
/// Unit normal of a triangle (zero for a degenerate one).
Vec3 triangle_normal(const Mesh& mesh, size_t triangle);

struct SurfaceSamples {
  std::vector<double> xyz;         // 3n interleaved
  std::vector<int32_t> triangles;  // the triangle each sample lies on
};

/// n points uniformly distributed over the surface (probability proportional
/// to area), drawn from SeededRandom(seed): the same on every platform.
SurfaceSamples sample_surface(const Mesh& mesh, size_t n, uint64_t seed);

}  // namespace ici3d::shapes
