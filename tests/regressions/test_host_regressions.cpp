// Host library inputs found by fuzzing. Each test names what broke and keeps
// the fuzz input (a file's bytes, or the decoded values).
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "ici3d_host/io.h"

namespace {

using namespace ici3d::host;

PointCloud read_string(const std::string& bytes, Format format) {
  std::istringstream in(bytes);
  ReadOptions options;
  options.format = format;
  return read_point_cloud(in, "input", options);
}

std::string write_string(const PointCloud& cloud, Format format) {
  std::ostringstream out;
  WriteOptions options;
  options.format = format;
  write_point_cloud(out, "output", cloud, options);
  return out.str();
}

// fuzz_read_xyz: "0." made the last column Float64, written back as "0"
// (shortest form) it read back as Int32.
TEST(TextRegression, FloatingColumnOfIntegralValuesStaysFloating) {
  const PointCloud cloud = read_string("3\n0 1 0 255 0 0\n2 0 0 0 255 0\n0 1 0 0 0. 255\n", Format::Xyz);
  ASSERT_EQ(cloud.attributes.size(), 3u);
  EXPECT_EQ(cloud.attributes[0].type, ScalarType::Int32);
  EXPECT_EQ(cloud.attributes[1].type, ScalarType::Float64);
  const std::string written = write_string(cloud, Format::Xyz);
  EXPECT_EQ(written, "3\n0 1 0 255 0.0 0\n2 0 0 0 255.0 0\n0 1 0 0 0.0 255\n");
  const PointCloud again = read_string(written, Format::Xyz);
  ASSERT_EQ(again.attributes.size(), 3u);
  EXPECT_EQ(again.attributes[1].type, ScalarType::Float64);
  EXPECT_EQ(again.attributes[1].as_double(1), 255.0);
}

// A floating column that already holds a non-integral value is written as
// before, without decimal points added.
TEST(TextRegression, MixedFloatingColumnIsWrittenInShortestForm) {
  const PointCloud cloud = read_string("1 2 3 4\n5 6 7 8.5\n", Format::Xyz);
  EXPECT_EQ(write_string(cloud, Format::Xyz), "1 2 3 4\n5 6 7 8.5\n");
}

}  // namespace
