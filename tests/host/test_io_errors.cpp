// Bad input gives an IoError naming the file, the place and what was
// expected; hostile headers are refused before allocating; writes are atomic.

#include "test_io_util.h"

namespace io_test {
namespace {

const std::string kPlyHead = "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\n";

// Writes `content` to a file named `name` and expects reading it to fail
// with a message holding the file name and every piece.
void expect_read_error(const std::string& name, const std::string& content, std::vector<std::string> pieces) {
  ScratchDir dir;
  const std::string path = dir.file(name);
  write_file(path, content);
  pieces.push_back(path);
  expect_io_error([&] { read_point_cloud(path); }, pieces);
}

std::string binary_ply_header(uint64_t vertices) {
  return "ply\nformat binary_little_endian 1.0\nelement vertex " + std::to_string(vertices) +
         "\nproperty double x\nproperty double y\nproperty double z\nend_header\n";
}

TEST(ReadErrors, MissingFileOrDirectory) {
  ScratchDir dir;
  expect_io_error([&] { read_point_cloud(dir.file("absent.ply")); }, {"absent.ply", "cannot open"});
  expect_io_error([&] { read_point_cloud(dir.path().string()); }, {"directory"});
}

TEST(ReadErrors, MalformedPlyHeaders) {
  expect_read_error("a.ply", "plx\n", {"line 1", "'ply'"});
  expect_read_error("b.ply", kPlyHead + "property float128 z\nend_header\n", {"line 6", "float128", "uchar"});
  expect_read_error("c.ply", kPlyHead + "property float z\n", {"line 6", "end_header"});
  expect_read_error("d.ply", kPlyHead + "end_header\n1 2\n3 4\n", {"no 'z' vertex property"});
  expect_read_error("e.ply", "ply\nformat ascii 1.0\nelement face 0\nend_header\n", {"no 'vertex' element"});
  expect_read_error("f.ply", "ply\nformat ascii 2.0 x\n", {"line 2", "format"});
  expect_read_error("g.ply", "ply\nformat ascii 1.0\nelement vertex -3\n", {"line 3", "'-3'"});
  expect_read_error("h.ply", kPlyHead + "property float z\nproperty list uchar int n\nend_header\n",
                    {"'n' is a list", "not supported"});
}

TEST(ReadErrors, PlyBodyShorterOrWrongerThanPromised) {
  const std::string head = kPlyHead + "property float z\nend_header\n";
  expect_read_error("a.ply", head + "1.5 2.5 3.5\n4.5 5.5\n", {"line 9", "expected 3 values, found 2"});
  expect_read_error("b.ply", head + "1 2 3\n4 five 6\n", {"line 9", "'y'", "'five'"});
  expect_read_error("c.ply", head + "1.5 2.5 3.5\n\n", {"line 9", "1 of 2 vertices"});
  expect_read_error("d.ply",
                    "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\nproperty float z\n"
                    "element face 1\nproperty list uchar int v\nend_header\n0 0 0\n3 1 2\n",
                    {"line 11", "'face' element 0", "promises 3 values"});
  // Binary vertices are checked against the file size at once; a list that
  // runs past the end is found while reading it.
  expect_read_error("e.ply", binary_ply_header(2) + std::string(40, '\0'),
                    {"byte offset 118", "promises 2 'vertex' elements of at least 24 bytes", "only 40 bytes"});
  std::string with_face = binary_ply_header(1);
  with_face.insert(with_face.find("end_header"), "element face 1\nproperty list uchar int v\n");
  expect_read_error("f.ply", with_face + std::string(24, '\0') + "\x03" + std::string(5, '\0'),
                    {"byte offset 189", "3 more bytes of 'face' elements"});
}

TEST(ReadErrors, HostileCountsAreRefusedBeforeAllocating) {
  expect_read_error("a.ply", binary_ply_header(4000000000000ULL) + std::string(48, '\0'),
                    {"header promises 4000000000000 'vertex' elements", "only 48 bytes", "before allocating"});
  expect_read_error("b.ply", binary_ply_header(UINT64_MAX), {"header promises"});
  // Instances without properties take no bytes; a huge count of them is no reason to loop.
  std::string empty_element = binary_ply_header(0);
  empty_element.insert(empty_element.find("end_header"), "element nothing 18446744073709551615\n");
  EXPECT_EQ(read_content(empty_element, "z.ply").layout.ply.elements.at(0).count, UINT64_MAX);
  expect_read_error("c.pcd",
                    "FIELDS x y z\nSIZE 4 4 4\nTYPE F F F\nWIDTH 3000000000\nHEIGHT 1\nDATA binary\n" +
                        std::string(24, '\0'),
                    {"header promises 3000000000 points", "only 24 bytes"});
  expect_read_error("d.pcd", "FIELDS x y z f\nSIZE 4 4 4 4\nTYPE F F F F\nCOUNT 1 1 1 2000000000\nWIDTH 0\nDATA ascii\n",
                    {"2000000003 values per point"});
  expect_read_error("e.pcd",
                    "FIELDS x y z\nSIZE 4 4 4\nTYPE F F F\nWIDTH 1000\nHEIGHT 1\nDATA binary_compressed\n" +
                        std::string("\x10\0\0\0\xe0\x2e\0\0", 8) + std::string(16, 'a'),
                    {"uncompressed size 12000 is impossible for 16 compressed bytes"});
}

// A stream that cannot seek, like a pipe: its size is unknown in advance.
class PipeBuffer : public std::streambuf {
 public:
  explicit PipeBuffer(std::string data) : data_(std::move(data)) {
    setg(data_.data(), data_.data(), data_.data() + data_.size());
  }

 private:
  std::string data_;
};

TEST(ReadErrors, HostileCountsFromAPipeAreRefusedToo) {
  PipeBuffer buffer(binary_ply_header(4000000000000ULL) + std::string(48, '\0'));
  std::istream pipe(&buffer);
  ASSERT_EQ(pipe.tellg(), std::streampos(-1));
  pipe.clear();
  expect_io_error([&] { read_point_cloud(pipe, "<pipe>"); }, {"<pipe>", "header promises"});
}

TEST(ReadErrors, MalformedPcd) {
  const std::string fields = "FIELDS x y z\nSIZE 4 4 4\nTYPE F F F\n";
  expect_read_error("a.pcd", fields + "WIDTH 2\nHEIGHT 1\nPOINTS 3\nDATA ascii\n", {"POINTS 3 differs from WIDTH 2"});
  expect_read_error("b.pcd", "FIELDS x y z\nSIZE 4 4 2\nTYPE F F F\nWIDTH 0\nDATA ascii\n",
                    {"'z'", "SIZE 2"});
  expect_read_error("c.pcd", fields + "WIDTH 0\n", {"DATA"});
  expect_read_error("d.pcd", "FIELDS x y\nSIZE 4 4\nTYPE F F\nWIDTH 0\nDATA ascii\n", {"no 'z' field"});
  expect_read_error("e.pcd", fields + "WIDTH 1\nDATA ascii\n1 2 x\n", {"line 6", "'z'", "'x'"});
  expect_read_error("f.pcd", fields + "WIDTH 2\nDATA binary\n" + std::string(12, '\0'),
                    {"byte offset 55", "2 points", "only 12 bytes"});
  expect_read_error("g.pcd", fields + "SIZE 4 4\nWIDTH 1\nDATA ascii\n", {"SIZE, TYPE and COUNT"});
  expect_read_error("h.pcd", fields + "WIDTH 1\nDATA binary_compressed\n" + std::string("\x04\0\0\0\x0c\0\0\0", 8) +
                                 "\xff\xff\xff\xff",
                    {"corrupt"});
}

TEST(ReadErrors, MalformedText) {
  expect_read_error("a.xyz", "1 2 3\n4 5\n", {"line 2", "expected 3 values, found 2"});
  expect_read_error("b.csv", "x,y,z\n1,2,3\n4,,6\n", {"line 3", "column 2", "expected a number"});
  expect_read_error("c.txt", "# only two\n1 2\n", {"line 2", "at least 3 columns"});
  expect_read_error("d.pts", "3\n1 2 3\n", {"promises 3 points", "holds 1"});
  expect_read_error("e.xyz", "x y z x\n1 2 3 4\n", {"'x' appears twice"});
}

TEST(WriteErrors, WhatAFormatCannotHoldIsRefused) {
  ScratchDir dir;
  PointCloud cloud = make_typed_cloud(3, {ScalarType::Int64});
  expect_io_error([&] { write_point_cloud(dir.file("a.ply"), cloud); }, {"a.ply", "int64", "PLY"});
  WriteOptions big_endian;
  big_endian.encoding = Encoding::BinaryBigEndian;
  expect_io_error([&] { write_point_cloud(dir.file("b.pcd"), cloud, big_endian); }, {"b.pcd", "big endian"});
  expect_io_error([&] { write_point_cloud(dir.file("c.obj"), cloud); }, {"c.obj", "extension"});
  cloud.attributes[0].name = "x";
  expect_io_error([&] { write_point_cloud(dir.file("x.xyz"), cloud); }, {"x.xyz", "'x' is used twice"});
  cloud.attributes[0].name = "two words";
  expect_io_error([&] { write_point_cloud(dir.file("d.pcd"), cloud); }, {"d.pcd", "'two words'"});
  cloud.attributes[0].bytes.pop_back();
  expect_io_error([&] { write_point_cloud(dir.file("e.xyz"), cloud); }, {"e.xyz", "values for 3 points"});
  EXPECT_TRUE(fs::is_empty(dir.path()));  // nothing left behind by the failed writes
}

TEST(WriteErrors, NonFinitePositionStoredAsIntegerIsRefused) {
  ScratchDir dir;
  write_file(dir.file("in.ply"), "ply\nformat ascii 1.0\nelement vertex 1\nproperty int x\nproperty int y\n"
                                 "property int z\nend_header\n1 2 3\n");
  PointCloud cloud = read_point_cloud(dir.file("in.ply"));
  cloud.xyz[1] = 2.6;
  WriteOptions options;
  write_point_cloud(dir.file("ok.ply"), cloud, options);
  EXPECT_EQ(read_point_cloud(dir.file("ok.ply")).xyz[1], 3.0);
  cloud.xyz[1] = std::nan("");
  expect_io_error([&] { write_point_cloud(dir.file("bad.ply"), cloud); }, {"point 0", "y is not finite", "int32"});
}

TEST(AtomicWrite, ExistingFileIsKeptUnlessOverwriteIsSet) {
  ScratchDir dir;
  const std::string path = dir.file("out.xyz");
  write_file(path, "old\n");
  const PointCloud cloud = make_typed_cloud(4, {});
  expect_io_error([&] { write_point_cloud(path, cloud); }, {path, "exists"});
  EXPECT_EQ(read_file(path), "old\n");
  WriteOptions options;
  options.overwrite = true;
  write_point_cloud(path, cloud, options);
  expect_same_values(cloud, read_point_cloud(path));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(AtomicWrite, SourceFileNeedsItsOwnPermission) {
  ScratchDir dir;
  const std::string path = dir.file("scan.ply");
  write_point_cloud(path, make_typed_cloud(4, {ScalarType::UInt8}));
  const std::string before = read_file(path);
  PointCloud cloud = read_point_cloud(path);
  cloud.xyz[0] = 42;
  WriteOptions options;
  options.overwrite = true;
  expect_io_error([&] { write_point_cloud(path, cloud, options); }, {path, "read from"});
  EXPECT_EQ(read_file(path), before);
  options.overwrite_source = true;
  write_point_cloud(path, cloud, options);
  EXPECT_EQ(read_point_cloud(path).xyz[0], 42);
}

TEST(AtomicWrite, StreamsNeedAFormat) {
  std::ostringstream out;
  expect_io_error([&] { write_point_cloud(out, "<stdout>", PointCloud(), WriteOptions()); }, {"<stdout>", "format"});
}

}  // namespace
}  // namespace io_test
