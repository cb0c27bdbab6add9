// Exact distances and uniform sampling of the analytic shapes.

#include <gtest/gtest.h>

#include <cmath>

#include "ici3d_shapes/analytic.h"

namespace ici3d::shapes {
namespace {

TEST(AnalyticShapes, SampledPointsLieOnTheSurface) {
  for (const std::string& name : Shape::names()) {
    const Shape shape = Shape::make(name);
    SeededRandom random(11);
    const std::vector<double> xyz = shape.sample(5000, random);
    ASSERT_EQ(xyz.size(), 15000u);
    for (size_t i = 0; i < 5000; ++i)
      ASSERT_LT(shape.distance({xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]}), 1e-12) << name;
  }
  EXPECT_THROW(Shape::make("torus"), std::invalid_argument);
}

TEST(AnalyticShapes, PartDistancesAtKnownPoints) {
  const Shape part = Shape::make("part");
  EXPECT_NEAR(part.distance({-0.5, 0, 0.81}), 0.01, 1e-12);  // above the tall top
  EXPECT_NEAR(part.distance({0.5, 0, 0.2}), 0.25, 1e-12);    // on the bore's axis
  EXPECT_NEAR(part.distance({0.5, 0.1, 0.45}), std::hypot(0.15, 0.05),
              1e-12);                                                   // above the bore: its rim
  EXPECT_NEAR(part.distance({1.1, 0.7, 0.5}), std::sqrt(0.03), 1e-12);  // beyond a corner
  EXPECT_NEAR(part.distance({0.05, 0, 0.47}), 0.05, 1e-12);             // in front of the step
  EXPECT_NEAR(part.distance({-0.5, 0, 0.4}), 0.4, 1e-12);               // inside: the tall top/ends
  EXPECT_NEAR(part.distance({0.9, 0.55, 0.02}), 0.02, 1e-12);           // inside near the bottom
  EXPECT_NEAR(part.area(),
              2.4 + 1.2 + 1.2 + 0.48 + 0.96 + 0.48 + 2.4 + 2 * 3.14159265358979 * 0.25 * 0.4 -
                  2 * 3.14159265358979 * 0.0625,
              1e-9);
}

TEST(AnalyticShapes, CubeAndSphereDistances) {
  const Shape cube = Shape::make("cube"), sphere = Shape::make("sphere");
  EXPECT_NEAR(cube.distance({0, 0, 0}), 1, 1e-12);
  EXPECT_NEAR(cube.distance({2, 2, 0}), std::sqrt(2.0), 1e-12);
  EXPECT_NEAR(cube.distance({0.9, 0.2, -0.3}), 0.1, 1e-12);
  EXPECT_NEAR(sphere.distance({0, 0, 0}), 1, 1e-12);
  EXPECT_NEAR(sphere.distance({0, 3, 4}), 4, 1e-12);
}

// Points fall on each face in proportion to its area: the part's tall top
// holds 1.2 of its area.
TEST(AnalyticShapes, SamplingIsUniformByArea) {
  const Shape part = Shape::make("part");
  SeededRandom random(4);
  const size_t n = 100000;
  const std::vector<double> xyz = part.sample(n, random);
  size_t on_tall_top = 0;
  for (size_t i = 0; i < n; ++i) on_tall_top += xyz[3 * i + 2] == 0.8;
  const double expected = 1.2 / part.area();
  EXPECT_NEAR(static_cast<double>(on_tall_top) / n, expected, 5 * std::sqrt(expected / n));
}

}  // namespace
}  // namespace ici3d::shapes
