// Host library inputs found by fuzzing. Each test names what broke and keeps
// the fuzz input (a file's bytes, or the decoded values).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "ici3d_host/estimate.h"
#include "ici3d_host/io.h"

namespace {

using namespace ici3d::host;

constexpr double kInf = std::numeric_limits<double>::infinity();

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

// fuzz_read_xyz: a header naming columns X and Y but no z, so that the
// first three columns hold the position, one of them unnamed. The reader
// called the unnamed one "z"; written back, the header named x, y and z and
// the positions moved to other columns.
TEST(TextRegression, InventedPositionNameCannotMoveThePositions) {
  const PointCloud cloud = read_string("a,b,,X,Y\n1,2,3,4,5\n", Format::Xyz);
  EXPECT_EQ(cloud.xyz, (std::vector<double>{1, 2, 3}));
  const std::string written = write_string(cloud, Format::Xyz);
  EXPECT_EQ(written, "a,b,column_2,X,Y\n1,2,3,4,5\n");
  EXPECT_EQ(read_string(written, Format::Xyz).xyz, cloud.xyz);
  // Without any x, y or z in the header the unnamed columns are still named
  // after their axes.
  EXPECT_EQ(write_string(read_string(",,,w\n1,2,3,4\n", Format::Xyz), Format::Xyz), "x,y,z,w\n1,2,3,4\n");
}

// fuzz_read_xyz: a header name made of quotes lost its outer pair at every
// round trip (the reader strips one pair of enclosing quotes). Names the
// reader would alter are now written in quotes: enclosed in quotes, a first
// name starting with "//", and names that read as numbers.
TEST(TextRegression, HeaderNamesTheReaderWouldAlterAreQuoted) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"x,y,z,\"\"\"w\"\"\"\n1,2,3,4\n", "x,y,z,\"\"\"w\"\"\"\n1,2,3,4\n"},
      {"\"//a\",y,z,w\n1,2,3,4\n", "\"//a\",y,z,w\n1,2,3,4\n"},
      {"\"1\",\"2\",\"3\"\n1,2,3\n", "\"1\",\"2\",\"3\"\n1,2,3\n"}};
  for (const auto& [input, expected] : cases) {
    const PointCloud cloud = read_string(input, Format::Xyz);
    const std::string written = write_string(cloud, Format::Xyz);
    EXPECT_EQ(written, expected);
    const PointCloud again = read_string(written, Format::Xyz);
    EXPECT_EQ(again.size(), cloud.size()) << input;
    ASSERT_EQ(again.layout.fields.size(), cloud.layout.fields.size()) << input;
    for (size_t f = 0; f < cloud.layout.fields.size(); ++f)
      EXPECT_EQ(again.layout.fields[f].name, cloud.layout.fields[f].name) << input;
  }
}

// fuzz_read_pcd: a cloud of no points with a padding field of COUNT 2. The
// slot of its second component was placed at an offset from the padding
// bytes' null pointer (undefined behaviour, reported by clang's UBSan), when
// reading and again when writing the cloud back.
TEST(PcdRegression, EmptyCloudWithPaddingReads) {
  const PointCloud cloud = read_string(
      "VERSION 0.7\nFIELDS x y z _\nSIZE 4 4 4 1\nTYPE F F F U\nCOUNT 1 1 1 2\n"
      "WIDTH 0\nHEIGHT 1\nPOINTS 0\nDATA ascii\n",
      Format::Pcd);
  EXPECT_EQ(cloud.size(), 0u);
  EXPECT_EQ(read_string(write_string(cloud, Format::Pcd), Format::Pcd).size(), 0u);
}

// fuzz_read_pcd (checked with a hand-made input of the same kind): a text
// PCD whose padding field has COUNT 60000 of 8 bytes, followed by short lines
// without padding values. The reader allocated 480 KB of padding for each
// point (9.6 GB for a 120 KB file) before reading a line.
TEST(PcdRegression, PaddingTheFileCannotHoldGetsNoStorage) {
  std::string text =
      "VERSION 0.7\nFIELDS x y z _\nSIZE 4 4 4 8\nTYPE F F F F\nCOUNT 1 1 1 60000\n"
      "WIDTH 100\nHEIGHT 1\nPOINTS 100\nDATA ascii\n";
  for (int i = 0; i < 100; ++i) text += std::to_string(i) + " 2 3\n";
  const PointCloud cloud = read_string(text, Format::Pcd);
  ASSERT_EQ(cloud.size(), 100u);
  EXPECT_EQ(cloud.xyz[3 * 99], 99.0);
  // The padding the data never held is no part of the cloud's layout, so
  // written back the file stays small: 100 binary records of x, y, z.
  ASSERT_EQ(cloud.layout.fields.size(), 3u);
  const std::string binary = [&] {
    std::ostringstream out;
    WriteOptions options;
    options.format = Format::Pcd;
    options.encoding = Encoding::BinaryLittleEndian;
    write_point_cloud(out, "output", cloud, options);
    return out.str();
  }();
  EXPECT_LT(binary.size(), 2000u);
  EXPECT_EQ(read_string(binary, Format::Pcd).xyz, cloud.xyz);
}

// Padding values that the text does hold are still kept.
TEST(PcdRegression, PaddingHeldByTheTextIsKept) {
  const PointCloud cloud = read_string(
      "VERSION 0.7\nFIELDS x y z _\nSIZE 4 4 4 1\nTYPE F F F U\nCOUNT 1 1 1 2\n"
      "WIDTH 2\nHEIGHT 1\nPOINTS 2\nDATA ascii\n1 2 3 4 5\n6 7 8 9 10\n",
      Format::Pcd);
  EXPECT_EQ(cloud.layout.fields[3].padding_bytes, (std::vector<unsigned char>{4, 5, 9, 10}));
}

// fuzz_denoise: a point 4.5e161 away from the others has an infinite
// squared distance to each; the k-d tree never reached it and the spacing
// estimate read the first of no neighbours.
TEST(NeighborRegression, PointsWhoseSquaredDistanceOverflowsAreStillNeighbours) {
  const std::vector<double> two{-1e200, 0, 0, 1e200, 0, 0};
  EXPECT_EQ(estimate_spacing(two.data(), 2, 0, 1), kInf);

  std::vector<double> grid;
  for (int a = 0; a < 3; ++a) {
    for (int b = 0; b < 3; ++b) grid.insert(grid.end(), {double(a), double(b), 0.0});
  }
  grid.insert(grid.end(), {4.498922786154389e+161, -0.0805, 3.27e-05});
  EXPECT_EQ(estimate_spacing(grid.data(), 10, 0, 1), 1.0);
}

}  // namespace
