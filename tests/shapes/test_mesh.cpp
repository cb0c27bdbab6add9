// The benchmarks' meshes: closed and outward, normalised, sampled uniformly
// by area, and read from OFF files.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "ici3d_shapes/mesh.h"

namespace ici3d::shapes {
namespace {

// Signed volume by the divergence theorem: positive for a closed mesh whose
// triangles face outwards.
double signed_volume(const Mesh& m) {
  double v = 0;
  for (const auto& t : m.triangles) {
    const Vec3& a = m.vertices[t[0]];
    const Vec3& b = m.vertices[t[1]];
    const Vec3& c = m.vertices[t[2]];
    v += a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
         a[2] * (b[0] * c[1] - b[1] * c[0]);
  }
  return v / 6.0;
}

TEST(Meshes, AreClosedAndFaceOutwards) {
  EXPECT_NEAR(signed_volume(cube_mesh()), 8.0, 1e-12);
  EXPECT_NEAR(surface_area(cube_mesh()), 24.0, 1e-12);
  // Profile area 4 + 1.04 + 2.4 + 0.72 = 8.16, extruded by 2.
  EXPECT_NEAR(signed_volume(machined_part_mesh()), 16.32, 1e-9);
  const Mesh sphere = sphere_mesh(4);
  EXPECT_NEAR(signed_volume(sphere), 4.0 / 3.0 * kPi, 0.01);
  for (const Vec3& v : sphere.vertices) {
    EXPECT_NEAR(std::hypot(v[0], v[1], v[2]), 1.0, 1e-12);
  }
  EXPECT_THROW(synthetic_mesh("torus"), std::invalid_argument);
}

TEST(Meshes, NormalisedIntoTheUnitSphere) {
  Mesh m = machined_part_mesh();
  normalise_to_unit_sphere(m);
  double farthest = 0;
  Vec3 lo = m.vertices[0], hi = m.vertices[0];
  for (const Vec3& v : m.vertices) {
    farthest = std::max(farthest, std::hypot(v[0], v[1], v[2]));
    for (int c = 0; c < 3; ++c) {
      lo[c] = std::min(lo[c], v[c]);
      hi[c] = std::max(hi[c], v[c]);
    }
  }
  EXPECT_NEAR(farthest, 1.0, 1e-12);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(lo[c] + hi[c], 0.0, 1e-12);
}

TEST(SurfaceSampling, PointsLieOnTheSurfaceAndFollowTheArea) {
  const Mesh m = machined_part_mesh();
  const size_t n = 40000;
  const SurfaceSamples s = sample_surface(m, n, 7);
  ASSERT_EQ(s.xyz.size(), 3 * n);
  ASSERT_EQ(s.triangles.size(), n);
  std::vector<double> hits(m.triangles.size(), 0);
  for (size_t i = 0; i < n; ++i) {
    const size_t t = static_cast<size_t>(s.triangles[i]);
    hits[t] += 1;
    // On the triangle's plane.
    const Vec3 normal = triangle_normal(m, t);
    const Vec3& a = m.vertices[m.triangles[t][0]];
    double offset = 0;
    for (int c = 0; c < 3; ++c) offset += normal[c] * (s.xyz[3 * i + c] - a[c]);
    EXPECT_NEAR(offset, 0.0, 1e-12);
  }
  const double total = surface_area(m);
  for (size_t t = 0; t < m.triangles.size(); ++t) {
    const double expected = n * triangle_area(m, t) / total;
    EXPECT_NEAR(hits[t], expected, 5 * std::sqrt(expected) + 1) << "triangle " << t;
  }
}

TEST(SurfaceSampling, SeedDecidesTheSamples) {
  const Mesh m = cube_mesh();
  EXPECT_EQ(sample_surface(m, 100, 3).xyz, sample_surface(m, 100, 3).xyz);
  EXPECT_NE(sample_surface(m, 100, 3).xyz, sample_surface(m, 100, 4).xyz);
}

TEST(OffReader, ReadsPolygonsAsFansAndRejectsBadFiles) {
  const std::string path = testing::TempDir() + "bench_quad.off";
  {
    std::ofstream f(path);
    f << "OFF\n# a unit square\n4 1 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n4 0 1 2 3 255 0 0\n";
  }
  const Mesh m = read_off(path);
  EXPECT_EQ(m.vertices.size(), 4u);
  ASSERT_EQ(m.triangles.size(), 2u);
  EXPECT_NEAR(surface_area(m), 1.0, 1e-12);
  {
    std::ofstream f(path);
    f << "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 7\n";
  }
  EXPECT_THROW(read_off(path), std::runtime_error);
  {
    std::ofstream f(path);
    f << "PLY\n";
  }
  EXPECT_THROW(read_off(path), std::runtime_error);
  std::remove(path.c_str());
  EXPECT_THROW(read_off(path), std::runtime_error);
}

}  // namespace
}  // namespace ici3d::shapes
