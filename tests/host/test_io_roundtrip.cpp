// Every format and encoding keeps points, order, attributes and layout.

#include <cfloat>

#include "test_io_util.h"

namespace io_test {
namespace {

struct FormatCase {
  const char* name;
  const char* extension;
  Encoding encoding;
  bool stores_64bit;  // PLY has no 64-bit integers
};

const FormatCase kBinaryCapableCases[] = {
    {"ply_ascii", ".ply", Encoding::Ascii, false},
    {"ply_little_endian", ".ply", Encoding::BinaryLittleEndian, false},
    {"ply_big_endian", ".ply", Encoding::BinaryBigEndian, false},
    {"pcd_ascii", ".pcd", Encoding::Ascii, true},
    {"pcd_binary", ".pcd", Encoding::BinaryLittleEndian, true},
    {"pcd_compressed", ".pcd", Encoding::BinaryCompressed, true},
};

std::vector<ScalarType> types_for(const FormatCase& format) {
  std::vector<ScalarType> types;
  for (ScalarType type : all_scalar_types())
    if (format.stores_64bit || (type != ScalarType::Int64 && type != ScalarType::UInt64)) types.push_back(type);
  return types;
}

WriteOptions options_for(const FormatCase& format) {
  WriteOptions options;
  options.encoding = format.encoding;
  return options;
}

class TypedRoundTrip : public ::testing::TestWithParam<FormatCase> {
 protected:
  ScratchDir dir_;
};

TEST_P(TypedRoundTrip, EveryTypeAndExtremeValueSurvives) {
  const FormatCase& format = GetParam();
  const PointCloud cloud = make_typed_cloud(40, types_for(format));
  const std::string path = dir_.file(std::string("cloud") + format.extension);
  write_point_cloud(path, cloud, options_for(format));
  const PointCloud back = read_point_cloud(path);
  expect_same_values(cloud, back);
  EXPECT_EQ(back.layout.encoding, format.encoding);
  for (const LayoutField& field : back.layout.fields)
    if (field.axis >= 0) {
      EXPECT_EQ(field.type, ScalarType::Float64) << field.name;
    }
}

TEST_P(TypedRoundTrip, WritingWhatWasReadGivesTheSameBytes) {
  const FormatCase& format = GetParam();
  const std::string first = dir_.file(std::string("first") + format.extension);
  const std::string second = dir_.file(std::string("second") + format.extension);
  write_point_cloud(first, make_typed_cloud(25, types_for(format)), options_for(format));
  write_point_cloud(second, read_point_cloud(first));
  EXPECT_EQ(read_file(first), read_file(second));
}

// Positions read from float fields are written as floats again, rounded to
// nearest, and overflow to infinity like a hardware conversion.
TEST_P(TypedRoundTrip, FloatPositionsStayFloatRoundedToNearest) {
  const FormatCase& format = GetParam();
  PointCloud cloud = make_typed_cloud(20, {ScalarType::UInt8});
  for (int axis = 0; axis < 3; ++axis) {
    LayoutField& field = cloud.layout.fields.emplace_back();
    field.name = std::string(1, char('x' + axis));
    field.type = ScalarType::Float32;
    field.axis = axis;
  }
  const std::string path = dir_.file(std::string("float") + format.extension);
  write_point_cloud(path, cloud, options_for(format));
  const PointCloud back = read_point_cloud(path);
  ASSERT_EQ(back.size(), cloud.size());
  for (size_t k = 0; k < cloud.xyz.size(); ++k) {
    const double v = cloud.xyz[k];
    const double expected = std::isfinite(v) && std::fabs(v) > FLT_MAX ? std::copysign(INFINITY, v)
                                                                        : static_cast<double>(static_cast<float>(v));
    EXPECT_TRUE(same_value(expected, back.xyz[k])) << k << ": " << v << " read back as " << back.xyz[k];
  }
  EXPECT_EQ(back.layout.fields[0].type, ScalarType::Float32);
}

INSTANTIATE_TEST_SUITE_P(Formats, TypedRoundTrip, ::testing::ValuesIn(kBinaryCapableCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TextRoundTrip, Int32AndDoubleColumnsSurviveExactly) {
  ScratchDir dir;
  const PointCloud cloud = make_typed_cloud(40, {ScalarType::Int32, ScalarType::Float64});
  for (const char* name : {"cloud.xyz", "cloud.csv", "cloud.txt"}) {
    write_point_cloud(dir.file(name), cloud);
    expect_same_values(cloud, read_point_cloud(dir.file(name)));
  }
}

TEST(TextRoundTrip, OtherTypesComeBackWithTheirValues) {
  ScratchDir dir;
  const PointCloud cloud = make_typed_cloud(30, all_scalar_types());
  write_point_cloud(dir.file("cloud.xyz"), cloud);
  const PointCloud back = read_point_cloud(dir.file("cloud.xyz"));
  ASSERT_EQ(back.attributes.size(), cloud.attributes.size());
  for (size_t a = 0; a < cloud.attributes.size(); ++a) {
    EXPECT_EQ(back.attributes[a].name, cloud.attributes[a].name);
    // Text holds a float as the shortest decimal that reads back to that float.
    const bool is_float = cloud.attributes[a].type == ScalarType::Float32;
    for (size_t i = 0; i < cloud.size(); ++i) {
      const double got = back.attributes[a].as_double(i);
      EXPECT_TRUE(same_value(is_float ? static_cast<float>(got) : got, cloud.attributes[a].as_double(i)))
          << cloud.attributes[a].name << " point " << i;
    }
  }
}

// ---------------------------------------------------------------------------
// Layouts that must survive: other PLY elements, comments, type spellings.

// Writes and reads the cloud in each encoding in turn; returns the last file.
std::string rewrite_through(PointCloud cloud, const std::vector<Encoding>& encodings, const std::string& extension) {
  ScratchDir dir;
  std::string path;
  for (size_t step = 0; step < encodings.size(); ++step) {
    WriteOptions options;
    options.encoding = encodings[step];
    path = dir.file("step" + std::to_string(step) + extension);
    write_point_cloud(path, cloud, options);
    cloud = read_point_cloud(path);
  }
  return read_file(path);
}

const char* const kPlyWithFaces =
    "ply\n"
    "format ascii 1.0\n"
    "comment made by hand\n"
    "comment\n"
    "obj_info scanner 7\n"
    "element vertex 4\n"
    "property float32 x\n"
    "property float32 y\n"
    "property float32 z\n"
    "property uchar red\n"
    "property int16 label\n"
    "element face 2\n"
    "property list uchar int vertex_indices\n"
    "property uint8 flags\n"
    "element edge 1\n"
    "property int vertex1\n"
    "property int vertex2\n"
    "end_header\n"
    "0 0 0 255 -32768\n"
    "1 0.5 0 0 32767\n"
    "0 1 0 7 0\n"
    "0.25 0.25 1e-07 1 -1\n"
    "3 0 1 2 0\n"
    "4 0 1 2 3 255\n"
    "0 3\n";

TEST(PlyLayout, OtherElementsCommentsAndSpellingsSurviveEveryEncoding) {
  const PointCloud cloud = read_content(kPlyWithFaces, "in.ply");
  ASSERT_EQ(cloud.size(), 4u);
  EXPECT_EQ(cloud.xyz[3 * 3 + 2], static_cast<double>(1e-07f));
  EXPECT_EQ(cloud.find_attribute("label")->get<int16_t>(0), -32768);
  ASSERT_EQ(cloud.layout.ply.elements.size(), 2u);
  EXPECT_EQ(cloud.layout.comments, (std::vector<std::string>{"made by hand", ""}));
  EXPECT_EQ(rewrite_through(cloud, {Encoding::BinaryBigEndian, Encoding::BinaryLittleEndian, Encoding::Ascii}, ".ply"),
            kPlyWithFaces);
}

TEST(PlyLayout, VertexElementKeepsItsPlaceAmongOthers) {
  ScratchDir dir;
  write_file(dir.file("in.ply"),
             "ply\nformat ascii 1.0\nelement camera 1\nproperty float f\nelement vertex 1\n"
             "property double x\nproperty double y\nproperty double z\nend_header\n2.5\n1 2 3\n");
  write_point_cloud(dir.file("out.ply"), read_point_cloud(dir.file("in.ply")));
  EXPECT_EQ(read_file(dir.file("out.ply")), read_file(dir.file("in.ply")));
}

TEST(PlyLayout, AddedAttributesFollowTheOriginalProperties) {
  ScratchDir dir;
  write_file(dir.file("in.ply"), kPlyWithFaces);
  PointCloud cloud = read_point_cloud(dir.file("in.ply"));
  cloud.add_attribute("sigma", ScalarType::Float32).set<float>(2, 0.5f);
  write_point_cloud(dir.file("out.ply"), cloud);
  const std::string text = read_file(dir.file("out.ply"));
  EXPECT_NE(text.find("property int16 label\nproperty float sigma\nelement face 2"), std::string::npos) << text;
  EXPECT_EQ(read_point_cloud(dir.file("out.ply")).find_attribute("sigma")->get<float>(2), 0.5f);
}

// ---------------------------------------------------------------------------
// PCD: counts, padding, organised shape and viewpoint.

const char* const kOrganisedPcd =
    "# .PCD v0.7 - Point Cloud Data file format\n"
    "# a comment\n"
    "VERSION 0.7\n"
    "FIELDS x y z normal _ rgb\n"
    "SIZE 4 4 4 4 1 4\n"
    "TYPE F F F F U U\n"
    "COUNT 1 1 1 3 2 1\n"
    "WIDTH 2\n"
    "HEIGHT 2\n"
    "VIEWPOINT 1 2 3 0.5 0.5 0.5 0.5\n"
    "POINTS 4\n"
    "DATA ascii\n"
    "0 0 0 0 0 1 1 2 4294967295\n"
    "1 0 0 0.5 0.25 0.125 3 4 16711680\n"
    "0 1 0 nan nan nan 0 0 0\n"
    "1 1 0.75 -1 -0 1e-30 9 9 255\n";

TEST(PcdLayout, CountsPaddingShapeAndViewpointSurviveEveryEncoding) {
  const PointCloud cloud = read_content(kOrganisedPcd, "in.pcd");
  ASSERT_EQ(cloud.size(), 4u);
  ASSERT_NE(cloud.find_attribute("normal_2"), nullptr);
  EXPECT_EQ(cloud.find_attribute("normal_2")->get<float>(1), 0.125f);
  EXPECT_EQ(cloud.find_attribute("rgb")->get<uint32_t>(0), 4294967295u);
  EXPECT_EQ(cloud.attributes.size(), 4u);  // three normal components and rgb; padding is no attribute
  EXPECT_EQ(rewrite_through(cloud, {Encoding::BinaryCompressed, Encoding::BinaryLittleEndian, Encoding::Ascii}, ".pcd"),
            kOrganisedPcd);
}

TEST(PcdLayout, ChangedPointCountWritesAnUnorganisedCloud) {
  ScratchDir dir;
  write_file(dir.file("in.pcd"), kOrganisedPcd);
  PointCloud cloud = read_point_cloud(dir.file("in.pcd"));
  cloud.xyz.resize(9);
  for (Attribute& attribute : cloud.attributes) attribute.bytes.resize(3 * scalar_size(attribute.type));
  write_point_cloud(dir.file("out.pcd"), cloud);
  const std::string text = read_file(dir.file("out.pcd"));
  EXPECT_NE(text.find("WIDTH 3\nHEIGHT 1\n"), std::string::npos) << text;
  EXPECT_EQ(read_point_cloud(dir.file("out.pcd")).size(), 3u);
}

// ---------------------------------------------------------------------------
// Between formats: positions keep their stored type, text gives doubles.

TEST(Conversion, FloatPositionsOfPlyStayFloatInPcd) {
  ScratchDir dir;
  write_file(dir.file("in.ply"), kPlyWithFaces);
  write_point_cloud(dir.file("out.pcd"), read_point_cloud(dir.file("in.ply")));
  const std::string text = read_file(dir.file("out.pcd"));
  EXPECT_NE(text.find("FIELDS x y z red label\nSIZE 4 4 4 1 2\nTYPE F F F U I\n"), std::string::npos) << text;
  EXPECT_NE(text.find("DATA binary\n"), std::string::npos);
}

TEST(Conversion, TextBecomesBinaryPlyWithDoublePositions) {
  ScratchDir dir;
  write_file(dir.file("in.csv"), "X,Y,Z,intensity\n1.5,2,3,7\n4,5,6.25,-8\n");
  const PointCloud cloud = read_point_cloud(dir.file("in.csv"));
  write_point_cloud(dir.file("out.ply"), cloud);
  const std::string text = read_file(dir.file("out.ply"));
  EXPECT_EQ(text.substr(0, text.find("end_header")),
            "ply\nformat binary_little_endian 1.0\nelement vertex 2\nproperty double x\nproperty double y\n"
            "property double z\nproperty int intensity\n");
  expect_same_values(cloud, read_point_cloud(dir.file("out.ply")));
}

TEST(Conversion, PcdCountFieldsBecomeSeparateColumnsElsewhere) {
  ScratchDir dir;
  write_file(dir.file("in.pcd"), kOrganisedPcd);
  const PointCloud cloud = read_point_cloud(dir.file("in.pcd"));
  write_point_cloud(dir.file("out.xyz"), cloud);
  EXPECT_EQ(read_file(dir.file("out.xyz")).rfind("# a comment\nx y z normal_0 normal_1 normal_2 rgb\n0 0 0 0 0 1 4294967295\n", 0), 0u);
  expect_same_values(read_point_cloud(dir.file("in.pcd")), cloud);
}

TEST(Streams, EachFormatIsRecognisedFromItsContent) {
  const PointCloud cloud = make_typed_cloud(5, {ScalarType::Float64});
  for (Format format : {Format::Ply, Format::Pcd, Format::Xyz}) {
    std::stringstream stream;
    WriteOptions options;
    options.format = format;
    write_point_cloud(stream, "<memory>", cloud, options);
    const PointCloud back = read_point_cloud(stream, "<memory>");
    EXPECT_EQ(back.layout.format, format);
    expect_same_values(cloud, back);
  }
}

}  // namespace
}  // namespace io_test
