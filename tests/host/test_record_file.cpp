// Files read and written record by record: the header and the records that
// open_record_file and encode_positions give must be the bytes that
// write_point_cloud writes.

#include "ici3d_host/record_file.h"
#include "test_io_util.h"

namespace io_test {
namespace {

bool same_values(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!same_value(a[i], b[i])) return false;
  return true;
}

// Positions of three types among other properties, before and between them.
const char* const kAsciiPly =
    "ply\nformat ascii 1.0\ncomment scanned on a Tuesday\nobj_info rig 2\n"
    "element vertex 4\nproperty uchar red\nproperty float x\nproperty double y\n"
    "property int z\nproperty float32 intensity\nend_header\n"
    "1 0.5 1.25 3 0.1\n2 -0.75 2.5 -4 0.2\n3 nan 3.75 5 0.3\n4 1e6 -1e-3 6 0.4\n";

// Padding, a field of three values and a shape (WIDTH x HEIGHT).
const char* const kAsciiPcd =
    "# .PCD v0.7 - Point Cloud Data file format\n# from the test\nVERSION 0.7\n"
    "FIELDS x y z rgb _ normal\nSIZE 4 8 4 4 1 4\nTYPE F F I U U F\nCOUNT 1 1 1 1 2 3\n"
    "WIDTH 2\nHEIGHT 2\nVIEWPOINT 1 2 3 1 0 0 0\nPOINTS 4\nDATA ascii\n"
    "0.5 1.25 3 255 7 9 0 0 1\n-0.75 2.5 -4 65280 8 10 0 1 0\n"
    "1.5 3.75 5 16711680 11 12 1 0 0\n2 -1e-3 6 1 13 14 0.5 0.5 0\n";

struct Case {
  const char* name;
  const char* content;
  const char* extension;
  Encoding encoding;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

const Case kCases[] = {
    {"ply_little_endian", kAsciiPly, ".ply", Encoding::BinaryLittleEndian},
    {"ply_big_endian", kAsciiPly, ".ply", Encoding::BinaryBigEndian},
    {"pcd_binary", kAsciiPcd, ".pcd", Encoding::BinaryLittleEndian},
};

class RecordFiles : public ::testing::TestWithParam<Case> {
 protected:
  // The case's cloud written in its binary encoding.
  std::string binary_file() {
    const Case& c = GetParam();
    write_file(dir_.file(std::string("ascii") + c.extension), c.content);
    WriteOptions options;
    options.encoding = c.encoding;
    const std::string path = dir_.file(std::string("binary") + c.extension);
    write_point_cloud(path, read_point_cloud(dir_.file(std::string("ascii") + c.extension)), options);
    return path;
  }
  ScratchDir dir_;
};

TEST_P(RecordFiles, HeaderAndRecordsAreWhatTheWriterWrites) {
  const std::string path = binary_file();
  const std::string bytes = read_file(path);
  const RecordFile file = open_record_file(path);
  const RecordLayout& layout = file.layout;
  ASSERT_EQ(layout.points, 4u);
  EXPECT_EQ(file.output_header, bytes.substr(0, layout.data_offset));
  ASSERT_EQ(bytes.size(), layout.data_offset + 4 * layout.record_size);

  const PointCloud cloud = read_point_cloud(path);
  std::vector<unsigned char> records(bytes.begin() + static_cast<long>(layout.data_offset), bytes.end());
  std::vector<double> xyz(12);
  decode_positions(layout, records.data(), 4, xyz.data());
  EXPECT_TRUE(same_values(xyz, cloud.xyz));

  // Moved positions (rounded to float and to integer where stored so)
  // encoded into the records give the file the writer makes of them.
  PointCloud moved = cloud;
  for (size_t i = 0; i < moved.xyz.size(); ++i) moved.xyz[i] += 0.123456789 * static_cast<double>(i + 1);
  encode_positions(layout, moved.xyz.data(), 4, records.data());
  const std::string written = dir_.file(std::string("moved") + GetParam().extension);
  write_point_cloud(written, moved);
  EXPECT_EQ(file.output_header + std::string(records.begin(), records.end()), read_file(written));
}

TEST_P(RecordFiles, RecordsOfAnyRangeDecodeAlone) {
  const std::string path = binary_file();
  const RecordLayout layout = open_record_file(path).layout;
  const std::string bytes = read_file(path);
  const PointCloud cloud = read_point_cloud(path);
  const auto* records = reinterpret_cast<const unsigned char*>(bytes.data()) + layout.data_offset;
  std::vector<double> xyz(6);
  decode_positions(layout, records + 2 * layout.record_size, 2, xyz.data());
  EXPECT_TRUE(same_values(xyz, std::vector<double>(cloud.xyz.begin() + 6, cloud.xyz.end())));
}

INSTANTIATE_TEST_SUITE_P(Formats, RecordFiles, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RecordFiles, FilesWithoutFixedRecordsAreRefusedWithTheReason) {
  ScratchDir dir;
  const std::pair<std::string, std::string> refused[] = {
      {"text.ply", kAsciiPly},
      {"text.pcd", kAsciiPcd},
      {"faces.ply",
       "ply\nformat binary_little_endian 1.0\nelement vertex 0\nproperty float x\nproperty float y\n"
       "property float z\nelement face 0\nproperty list uchar int vertex_indices\nend_header\n"},
      {"cloud.xyz", "1 2 3\n"},
  };
  const char* reasons[] = {"ascii", "ascii", "elements other than 'vertex' (face)", "binary PLY"};
  for (size_t i = 0; i < std::size(refused); ++i) {
    const std::string path = dir.file(refused[i].first);
    write_file(path, refused[i].second);
    try {
      open_record_file(path);
      ADD_FAILURE() << path << " was accepted";
    } catch (const IoError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(reasons[i]), std::string::npos) << e.what();
    }
  }
  WriteOptions compressed;
  compressed.encoding = Encoding::BinaryCompressed;
  write_point_cloud(dir.file("packed.pcd"), read_content(kAsciiPcd, "a.pcd"), compressed);
  EXPECT_THROW(open_record_file(dir.file("packed.pcd")), IoError);
}

TEST(RecordFiles, AShortFileStillGivesItsHeader) {
  // Whoever reads the missing records reports them; the header alone is fine.
  ScratchDir dir;
  write_point_cloud(dir.file("full.ply"), read_content(kAsciiPly, "a.ply"), [] {
    WriteOptions o;
    o.encoding = Encoding::BinaryLittleEndian;
    return o;
  }());
  const std::string bytes = read_file(dir.file("full.ply"));
  write_file(dir.file("short.ply"), bytes.substr(0, bytes.size() - 5));
  EXPECT_EQ(open_record_file(dir.file("short.ply")).layout.points, 4u);
}

}  // namespace
}  // namespace io_test
