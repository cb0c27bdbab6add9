#include <gtest/gtest.h>

#include <cmath>

#include "ici3d_shapes/mesh.h"
#include "ici3d_shapes/random.h"
#include "mesh_distance.h"
#include "methods.h"
#include "metrics.h"

namespace ici3d::bench {
namespace {

TEST(MethodSpec, ParsesPrintsAndReplaces) {
  const MethodSpec s = parse_method("bilateral:k=24,iters=3,sharp=25");
  EXPECT_EQ(s.family, "bilateral");
  EXPECT_EQ(s.get("iters"), 3);
  EXPECT_EQ(s.text(), "bilateral:k=24,iters=3,sharp=25");
  EXPECT_EQ(s.with("k", 48).text(), "bilateral:k=48,iters=3,sharp=25");
  EXPECT_EQ(s.with("extra", 0.5).text(), "bilateral:k=24,iters=3,sharp=25,extra=0.5");
  EXPECT_EQ(parse_method("mls:r=0.075").get("r"), 0.075);
  EXPECT_EQ(parse_method("noisy").params.size(), 0u);
  EXPECT_THROW(s.get("r"), std::invalid_argument);
  for (const char* bad : {"magic:k=3", "jet:k", "jet:k=", "jet:k=3x", "jet:=3"}) {
    EXPECT_THROW(parse_method(bad), std::invalid_argument) << bad;
  }
}

TEST(MethodSpec, OursDefaultsRoundTrip) {
  const MethodSpec d = ours_defaults();
  EXPECT_EQ(d.family, "ours");
  EXPECT_EQ(parse_method(d.text()).text(), d.text());
}

TEST(Methods, EveryFamilyReducesNoiseOnAPlane) {
  std::vector<double> clean;
  for (int i = 0; i < 60; ++i) {
    for (int j = 0; j < 60; ++j) clean.insert(clean.end(), {i * 0.02, j * 0.02, 0.0});
  }
  const std::vector<double> noisy = shapes::add_gaussian_noise(clean, 0.005, 9);
  const double before = chamfer_distance(noisy, clean);
  for (const char* setting : {"ours:k=16,base=3,scales=3,ratio=1.5,preset=1,passes=1,cap=256",
                           "jet:k=24", "bilateral:k=24,iters=2,sharp=25", "mls:r=0.08"}) {
    const MethodRun run = run_method(parse_method(setting), noisy, 2);
    EXPECT_GT(run.xyz.size(), noisy.size() * 9 / 10) << setting;
    EXPECT_LT(chamfer_distance(run.xyz, clean), 0.8 * before) << setting;
    EXPECT_GE(run.seconds, 0.0);
  }
  EXPECT_EQ(run_method(parse_method("noisy"), noisy, 1).xyz, noisy);
}

TEST(MeshDistance, MatchesTheCubeGeometry) {
  const shapes::Mesh cube = shapes::cube_mesh();
  const MeshDistance d(cube);
  const double outside[3] = {2, 0.5, 0}, inside[3] = {0.1, 0, 0.7};
  EXPECT_NEAR(d.squared_distance(outside), 1.0, 1e-12);
  EXPECT_NEAR(d.squared_distance(inside), 0.09, 1e-12);
  const std::vector<double> pts = {2, 0.5, 0, 0.1, 0, 0.7};
  EXPECT_NEAR(d.mean_squared_distance(pts), 0.5 * (1.0 + 0.09), 1e-12);
  const std::vector<double> normals = d.closest_normals(pts);
  EXPECT_NEAR(std::fabs(normals[0]), 1.0, 1e-12);
  EXPECT_NEAR(std::fabs(normals[5]), 1.0, 1e-12);
  const shapes::Vec3 n =
      shapes::triangle_normal(cube, static_cast<size_t>(d.closest_triangle(outside)));
  EXPECT_NEAR(n[0], 1.0, 1e-12);
}

}  // namespace
}  // namespace ici3d::bench
