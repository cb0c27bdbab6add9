// Damaged files (seeded random byte changes and truncations of valid ones)
// either read or fail with IoError; nothing else may happen.

#include "test_io_util.h"

namespace io_test {
namespace {

std::string damaged(std::string content, std::mt19937& random) {
  std::uniform_int_distribution<size_t> position(0, content.size() - 1);
  std::uniform_int_distribution<int> byte(0, 255), edits(1, 4), kind(0, 2);
  const int count = edits(random);
  for (int e = 0; e < count && !content.empty(); ++e) {
    const size_t at = position(random) % content.size();
    switch (kind(random)) {
      case 0: content[at] = static_cast<char>(byte(random)); break;
      case 1: content.resize(at); break;
      default: content.insert(at, 1, "0123456789 \n-"[static_cast<size_t>(byte(random)) % 13]);
    }
  }
  return content;
}

class DamagedFiles : public ::testing::TestWithParam<std::pair<const char*, Encoding>> {};

TEST_P(DamagedFiles, ReadOrFailWithIoError) {
  const auto& [extension, encoding] = GetParam();
  ScratchDir dir;
  const std::string original = dir.file(std::string("original") + extension);
  PointCloud cloud = make_typed_cloud(6, {ScalarType::UInt8, ScalarType::Float32, ScalarType::Int16}, 5);
  if (std::string(extension) == ".ply") {  // with a face list, to damage that too
    cloud.layout.format = Format::Ply;
    cloud.layout.ply.elements.push_back(
        PlyElement{"face", 1, {PlyProperty{"v", ScalarType::Int32, "int", true, ScalarType::UInt8, "uchar"}},
                   Encoding::Ascii, "3 0 1 2\n"});
  }
  WriteOptions options;
  options.encoding = encoding;
  write_point_cloud(original, cloud, options);
  const std::string content = read_file(original);
  std::mt19937 random(2024);
  for (int trial = 0; trial < 300; ++trial) {
    const std::string path = dir.file("damaged" + std::to_string(trial) + extension);
    write_file(path, damaged(content, random));
    try {
      read_point_cloud(path);
    } catch (const IoError&) {
    }
    fs::remove(path);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DamagedFiles,
    ::testing::Values(std::make_pair(".ply", Encoding::Ascii), std::make_pair(".ply", Encoding::BinaryBigEndian),
                      std::make_pair(".pcd", Encoding::Ascii), std::make_pair(".pcd", Encoding::BinaryLittleEndian),
                      std::make_pair(".pcd", Encoding::BinaryCompressed), std::make_pair(".xyz", Encoding::Ascii)),
    [](const auto& info) { return std::to_string(info.index); });

}  // namespace
}  // namespace io_test
