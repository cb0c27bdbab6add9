// Reading XYZ-style text: header detection, delimiters, comments, column
// types, point-count lines.

#include "test_io_util.h"

namespace io_test {
namespace {

PointCloud read_text(const std::string& content, const std::string& name = "cloud.xyz") {
  return read_content(content, name);
}

TEST(TextReading, WhitespaceCommentsAndBlankLines) {
  const PointCloud cloud = read_text("# scan 1\n\n1 2 3\n  4\t5   6  \n# between\n7 8 9\r\n\n");
  EXPECT_EQ(cloud.xyz, (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_TRUE(cloud.attributes.empty());
  EXPECT_EQ(cloud.layout.comments, (std::vector<std::string>{"scan 1", "between"}));
  EXPECT_FALSE(cloud.layout.text.has_header);
}

TEST(TextReading, HeaderNamesBecomeAttributesAndPickPositions) {
  const PointCloud cloud = read_text("//Intensity,\"Z\",X,Y\n0.5,3,1,2\n1.5,6,4,5\n", "cloud.csv");
  EXPECT_EQ(cloud.xyz, (std::vector<double>{1, 2, 3, 4, 5, 6}));
  ASSERT_EQ(cloud.attributes.size(), 1u);
  EXPECT_EQ(cloud.attributes[0].name, "Intensity");
  EXPECT_EQ(cloud.attributes[0].get<double>(1), 1.5);
  EXPECT_EQ(cloud.layout.text.delimiter, ',');
  EXPECT_TRUE(cloud.layout.text.has_header);
}

TEST(TextReading, IntegerColumnsAreInt32OtherwiseDouble) {
  const PointCloud cloud = read_text("0 0 0 255 1 2147483647 7\n1 1 1 0 2.5 2147483648 -7\n");
  ASSERT_EQ(cloud.attributes.size(), 4u);
  EXPECT_EQ(cloud.attributes[0].name, "column_3");
  EXPECT_EQ(cloud.attributes[0].type, ScalarType::Int32);
  EXPECT_EQ(cloud.attributes[1].type, ScalarType::Float64);  // 2.5
  EXPECT_EQ(cloud.attributes[2].type, ScalarType::Float64);  // beyond int32
  EXPECT_EQ(cloud.attributes[2].get<double>(1), 2147483648.0);
  EXPECT_EQ(cloud.attributes[3].get<int32_t>(1), -7);
}

TEST(TextReading, SixUnnamedColumnsAreNormalsOthersAreNumbered) {
  const PointCloud six = read_text("0 0 0 0.6 0 0.8\n1 1 1 0 1 0\n");
  ASSERT_EQ(six.attributes.size(), 3u);
  EXPECT_EQ(six.attributes[0].name, "nx");
  EXPECT_EQ(six.attributes[2].name, "nz");
  EXPECT_EQ(six.attributes[2].get<double>(0), 0.8);
  // A header names them, whatever their number; five or seven are numbered.
  EXPECT_EQ(read_text("x y z a b c\n0 0 0 1 2 3\n").attributes[0].name, "a");
  EXPECT_EQ(read_text("0 0 0 1 2 3 4\n").attributes[2].name, "column_5");
  EXPECT_EQ(read_text("0 0 0 1 2\n").attributes[1].name, "column_4");
}

TEST(TextReading, FullDoublePrecisionAndSpecialValues) {
  const PointCloud cloud = read_text("1000000.1234567891 -inf nan\n4.9406564584124654e-324 +1e300 -0\n");
  EXPECT_EQ(cloud.xyz[0], 1000000.1234567891);
  EXPECT_TRUE(std::isinf(cloud.xyz[1]) && cloud.xyz[1] < 0);
  EXPECT_TRUE(std::isnan(cloud.xyz[2]));
  EXPECT_EQ(cloud.xyz[3], 4.9406564584124654e-324);
  EXPECT_EQ(cloud.xyz[4], 1e300);
  EXPECT_TRUE(std::signbit(cloud.xyz[5]));
}

TEST(TextReading, PointCountLineIsCheckedAndWrittenBack) {
  ScratchDir dir;
  write_file(dir.file("scan.pts"), "2\n1 2 3 10\n4 5 6 20\n");
  const PointCloud cloud = read_point_cloud(dir.file("scan.pts"));
  EXPECT_TRUE(cloud.layout.text.has_count_line);
  EXPECT_EQ(cloud.size(), 2u);
  write_point_cloud(dir.file("out.pts"), cloud);
  EXPECT_EQ(read_file(dir.file("out.pts")), read_file(dir.file("scan.pts")));
}

TEST(TextReading, EmptyFileIsAnEmptyCloud) {
  EXPECT_EQ(read_text("").size(), 0u);
  EXPECT_EQ(read_text("# nothing here\n\n").size(), 0u);
}

TEST(TextWriting, CsvExtensionUsesCommasAndHeaderNamesTheColumns) {
  ScratchDir dir;
  PointCloud cloud;
  cloud.xyz = {0.1, 0.2, 0.30000000000000004};
  cloud.add_attribute("label", ScalarType::UInt16).set<uint16_t>(0, 65535);
  write_point_cloud(dir.file("out.csv"), cloud);
  EXPECT_EQ(read_file(dir.file("out.csv")), "x,y,z,label\n0.1,0.2,0.30000000000000004,65535\n");
}

TEST(TextWriting, SourceLayoutIsKept) {
  ScratchDir dir;
  const std::string text = "# kept\nX\tY\tZ\tr\n1\t2\t3\t4\n";
  write_file(dir.file("in.txt"), text);
  write_point_cloud(dir.file("out.txt"), read_point_cloud(dir.file("in.txt")));
  EXPECT_EQ(read_file(dir.file("out.txt")), text);
}

}  // namespace
}  // namespace io_test
