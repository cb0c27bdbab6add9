// Headers of binary PLY and PCD files read without their data, the header
// the writer would put before the same records, and positions decoded and
// encoded record by record with the readers' and writers' own conversions.

#include "ici3d_host/record_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "formats.h"
#include "ply_elements.h"
#include "scalar.h"
#include "slots.h"

namespace ici3d::host {

namespace {

using io_detail::InputSource;

// Sizes and types of the values of a record, in order.
struct RecordShape {
  std::vector<ScalarType> types;
  std::array<int64_t, 3> axis_slot{-1, -1, -1};
};

template <class Slot>
RecordShape shape_of(const std::vector<Slot>& slots) {
  RecordShape shape;
  for (const Slot& slot : slots) {
    if (slot.axis >= 0 && slot.axis < 3) shape.axis_slot[slot.axis] = static_cast<int64_t>(shape.types.size());
    shape.types.push_back(slot.type);
  }
  return shape;
}

// The slots of the records as the reader finds them in the file.
std::vector<io_detail::ReadSlot> file_slots(const FileLayout& layout) {
  std::vector<io_detail::ReadSlot> slots;
  for (const LayoutField& field : layout.fields) {
    for (uint32_t c = 0; c < field.count; ++c) {
      io_detail::ReadSlot slot;
      slot.type = field.type;
      slot.axis = field.axis;
      slots.push_back(slot);
    }
  }
  return slots;
}

}  // namespace

RecordFile open_record_file(const std::string& path) {
  auto fail = [&](const std::string& why) -> void { throw IoError(path + ": " + why); };
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) fail("is a directory, not a point cloud file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw IoError(path + ": cannot open: " + std::strerror(errno));
  Format format = format_from_extension(path);
  InputSource source(in, path);
  if (format == Format::Auto || format == Format::Xyz) {
    const std::string* first = source.peek_line();
    if (first && *first == "ply") format = Format::Ply;
    else if (first && (first->rfind("#", 0) == 0 || first->rfind("VERSION", 0) == 0 ||
                       first->rfind("FIELDS", 0) == 0))
      format = Format::Pcd;
  }
  if (format != Format::Ply && format != Format::Pcd)
    fail("only binary PLY and binary PCD files have records of a fixed size");

  RecordFile file;
  RecordLayout& layout = file.layout;
  layout.format = format;
  const PointCloud cloud = format == Format::Ply ? io_detail::read_ply_header(source, layout.points)
                                                 : io_detail::read_pcd_header(source, layout.points);
  layout.encoding = cloud.layout.encoding;
  layout.data_offset = source.offset();
  if (layout.encoding == Encoding::Ascii) fail("ascii data has no records of a fixed size; convert it to binary");
  if (layout.encoding == Encoding::BinaryCompressed)
    fail("binary_compressed data has no records of a fixed size; convert it to binary");
  if (format == Format::Ply && !cloud.layout.ply.elements.empty())
    fail("has elements other than 'vertex' (" + cloud.layout.ply.elements.front().name +
         "); only files of vertices alone are read by records");
  layout.swap = format == Format::Ply ? io_detail::ply_needs_swap(layout.encoding) : !io_detail::kNativeLittleEndian;

  const RecordShape read = shape_of(file_slots(cloud.layout));
  const std::vector<io_detail::WriteSlot> written =
      io_detail::flatten_slots(io_detail::plan_write_fields(cloud, format, path));
  const RecordShape write = shape_of(written);
  // The writer keeps a cloud's own layout, so this holds for every file the
  // readers accept; a record that changed shape would need the whole cloud.
  if (read.types != write.types || read.axis_slot != write.axis_slot)
    fail("its records would be written in another layout; denoise it in one process");
  for (size_t s = 0; s < read.types.size(); ++s) {
    for (int a = 0; a < 3; ++a) {
      if (read.axis_slot[a] == static_cast<int64_t>(s)) {
        layout.axis_offset[a] = layout.record_size;
        layout.axis_type[a] = read.types[s];
      }
    }
    layout.record_size += scalar_size(read.types[s]);
  }

  std::ostringstream header;
  if (format == Format::Ply) io_detail::write_ply_header(header, path, cloud, layout.encoding, layout.points);
  else io_detail::write_pcd_header(header, path, cloud, layout.encoding, layout.points);
  file.output_header = header.str();
  return file;
}

void decode_positions(const RecordLayout& layout, const unsigned char* records, size_t count,
                      double* xyz) {
  unsigned char value[io_detail::kMaxScalarSize];
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* record = records + i * layout.record_size;
    for (int a = 0; a < 3; ++a) {
      const size_t size = scalar_size(layout.axis_type[a]);
      std::memcpy(value, record + layout.axis_offset[a], size);
      if (layout.swap) io_detail::reverse_bytes(value, size);
      xyz[3 * i + a] = io_detail::load_as_double(layout.axis_type[a], value);
    }
  }
}

void encode_positions(const RecordLayout& layout, const double* xyz, size_t count,
                      unsigned char* records) {
  unsigned char value[io_detail::kMaxScalarSize];
  for (size_t i = 0; i < count; ++i) {
    unsigned char* record = records + i * layout.record_size;
    for (int a = 0; a < 3; ++a) {
      const size_t size = scalar_size(layout.axis_type[a]);
      io_detail::store_from_double(layout.axis_type[a], xyz[3 * i + a], value);
      if (layout.swap) io_detail::reverse_bytes(value, size);
      std::memcpy(record + layout.axis_offset[a], value, size);
    }
  }
}

}  // namespace ici3d::host
