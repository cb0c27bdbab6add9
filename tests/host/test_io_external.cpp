// Files we write are read by an independent implementation: the PCL command
// line tools (Debian package pcl-tools). Each converts our file to a binary
// or compressed PCD file of its own, which must hold exactly the values we
// wrote when we read it back.

#include <cstdlib>

#include "test_io_util.h"

namespace io_test {
namespace {

bool tool_installed(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a command, failing the test with its output when it does not succeed.
void run_tool(const std::string& command, const ScratchDir& dir) {
  const std::string log = dir.file("tool.log");
  const int status = std::system((command + " >'" + log + "' 2>&1").c_str());
  ASSERT_EQ(status, 0) << command << "\n" << read_file(log);
}

std::vector<ScalarType> without_64bit_integers() {
  std::vector<ScalarType> types;
  for (ScalarType type : all_scalar_types())
    if (type != ScalarType::Int64 && type != ScalarType::UInt64) types.push_back(type);
  return types;
}

void skip_without(const std::string& tool) {
  if (!tool_installed(tool))
    GTEST_SKIP() << tool << " not found: install the Debian package pcl-tools to check our files with an "
                 << "independent reader";
}

struct ExternalCase {
  const char* name;
  const char* extension;
  Encoding encoding;
  Encoding converted;  // the encoding PCL writes its copy in
};

class ReadByPcl : public ::testing::TestWithParam<ExternalCase> {};

TEST_P(ReadByPcl, ValuesMatchExactly) {
  const ExternalCase& format = GetParam();
  const bool ply = std::string(format.extension) == ".ply";
  const std::string tool = ply ? "pcl_ply2pcd" : "pcl_convert_pcd_ascii_binary";
  skip_without(tool);
  ScratchDir dir;
  // PLY has no 64-bit integers; PCL misreads them from ascii PCD.
  const bool all_types = !ply && format.encoding != Encoding::Ascii;
  const PointCloud cloud = make_typed_cloud(30, all_types ? all_scalar_types() : without_64bit_integers(), 11);
  const std::string ours = dir.file(std::string("ours") + format.extension);
  const std::string theirs = dir.file("theirs.pcd");
  WriteOptions options;
  options.encoding = format.encoding;
  write_point_cloud(ours, cloud, options);
  const char* pcd_mode = format.converted == Encoding::BinaryCompressed ? "2" : "1";
  run_tool(ply ? tool + " -format 1 '" + ours + "' '" + theirs + "'"
               : tool + " '" + ours + "' '" + theirs + "' " + pcd_mode,
           dir);
  const PointCloud back = read_point_cloud(theirs);
  EXPECT_EQ(back.layout.encoding, format.converted);
  expect_same_values(cloud, back);
}

const ExternalCase kExternalCases[] = {
    {"ply_ascii", ".ply", Encoding::Ascii, Encoding::BinaryLittleEndian},
    {"ply_little_endian", ".ply", Encoding::BinaryLittleEndian, Encoding::BinaryLittleEndian},
    {"ply_big_endian", ".ply", Encoding::BinaryBigEndian, Encoding::BinaryLittleEndian},
    {"pcd_ascii", ".pcd", Encoding::Ascii, Encoding::BinaryCompressed},
    {"pcd_binary", ".pcd", Encoding::BinaryLittleEndian, Encoding::BinaryCompressed},
    {"pcd_compressed", ".pcd", Encoding::BinaryCompressed, Encoding::BinaryLittleEndian},
};

INSTANTIATE_TEST_SUITE_P(Formats, ReadByPcl, ::testing::ValuesIn(kExternalCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace io_test
