// Exact distances and uniform sampling of the synthetic shapes, and the
// report writer's JSON.

#include <gtest/gtest.h>

#include <cmath>

#include "json.h"
#include "synth_shapes.h"

namespace ici3d::cli {
namespace {

TEST(SynthShapes, SampledPointsLieOnTheSurface) {
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

TEST(SynthShapes, PartDistancesAtKnownPoints) {
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

TEST(SynthShapes, CubeAndSphereDistances) {
  const Shape cube = Shape::make("cube"), sphere = Shape::make("sphere");
  EXPECT_NEAR(cube.distance({0, 0, 0}), 1, 1e-12);
  EXPECT_NEAR(cube.distance({2, 2, 0}), std::sqrt(2.0), 1e-12);
  EXPECT_NEAR(cube.distance({0.9, 0.2, -0.3}), 0.1, 1e-12);
  EXPECT_NEAR(sphere.distance({0, 0, 0}), 1, 1e-12);
  EXPECT_NEAR(sphere.distance({0, 3, 4}), 4, 1e-12);
}

// Points fall on each face in proportion to its area: the part's tall top
// holds 1.2 of its area.
TEST(SynthShapes, SamplingIsUniformByArea) {
  const Shape part = Shape::make("part");
  SeededRandom random(4);
  const size_t n = 100000;
  const std::vector<double> xyz = part.sample(n, random);
  size_t on_tall_top = 0;
  for (size_t i = 0; i < n; ++i) on_tall_top += xyz[3 * i + 2] == 0.8;
  const double expected = 1.2 / part.area();
  EXPECT_NEAR(static_cast<double>(on_tall_top) / n, expected, 5 * std::sqrt(expected / n));
}

TEST(SeededRandom, NormalHasZeroMeanAndUnitVariance) {
  SeededRandom random(9);
  double sum = 0, sum_squares = 0;
  const int n = 200000;
  for (int i = 0; i < n; ++i) {
    const double v = random.normal();
    sum += v;
    sum_squares += v * v;
  }
  EXPECT_NEAR(sum / n, 0, 0.01);
  EXPECT_NEAR(sum_squares / n, 1, 0.01);
}

TEST(JsonWriter, EscapesStringsAndWritesNonFiniteAsNull) {
  JsonWriter json;
  json.begin_object().member("a\"b", "line\nbreak\x01").member("nan", std::nan(""));
  json.key("list").begin_array().value(1).value(2.5).value(true).end_array();
  json.key("empty").begin_object().end_object().end_object();
  EXPECT_EQ(json.str(),
            "{\n  \"a\\\"b\": \"line\\nbreak\\u0001\",\n  \"nan\": null,\n  \"list\": [\n    1,\n"
            "    2.5,\n    true\n  ],\n  \"empty\": {}\n}\n");
}

}  // namespace
}  // namespace ici3d::cli
