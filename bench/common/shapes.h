// Surfaces for the benchmarks: triangle meshes (read from files or built
// here), normalised into the unit sphere, sampled uniformly by area with a
// fixed seed, and perturbed by isotropic Gaussian noise.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ici3d::bench {

using Vec3 = std::array<double, 3>;

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
/// to area), reproducible for a given seed.
SurfaceSamples sample_surface(const Mesh& mesh, size_t n, uint64_t seed);

/// A copy of xyz with independent N(0, sigma^2) added to every coordinate.
std::vector<double> add_gaussian_noise(const std::vector<double>& xyz, double sigma, uint64_t seed);

/// A stable 64-bit seed from a text key (FNV-1a), so that every method sees
/// the same samples and the same noise for a given mesh, size and level.
uint64_t seed_from(const std::string& key);

}  // namespace ici3d::bench
