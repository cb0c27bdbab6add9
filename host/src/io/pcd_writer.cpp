// PCD v0.7 writer: ascii, binary and binary_compressed data.

#include <lzf.h>

#include "formats.h"
#include "pcd_format.h"
#include "scalar.h"

namespace ici3d::host::io_detail {

namespace {

void write_field_lines(std::ostream& out, const std::vector<WriteField>& fields) {
  out << "FIELDS";
  for (const WriteField& field : fields) out << ' ' << field.name;
  out << "\nSIZE";
  for (const WriteField& field : fields) out << ' ' << scalar_size(field.type);
  out << "\nTYPE";
  for (const WriteField& field : fields) out << ' ' << pcd_type_letter(field.type);
  out << "\nCOUNT";
  for (const WriteField& field : fields) out << ' ' << field.slots.size();
  out << '\n';
}

void write_header(std::ostream& out, const PointCloud& cloud, const std::vector<WriteField>& fields,
                  Encoding encoding, uint64_t n) {
  const FileLayout& layout = cloud.layout;
  const bool from_pcd = layout.format == Format::Pcd;
  const bool keep_shape = from_pcd && layout.pcd.height != 0 && layout.pcd.width * layout.pcd.height == n;
  out << "# " << kPcdSignature << '\n';
  for (const std::string& comment : layout.comments) out << "# " << single_line(comment) << '\n';
  out << "VERSION " << (from_pcd ? layout.pcd.version : "0.7") << '\n';
  write_field_lines(out, fields);
  out << "WIDTH " << (keep_shape ? layout.pcd.width : n) << "\nHEIGHT " << (keep_shape ? layout.pcd.height : 1)
      << "\nVIEWPOINT";
  std::string viewpoint;
  for (double value : from_pcd ? layout.pcd.viewpoint : PcdLayout().viewpoint) {
    viewpoint.push_back(' ');
    append_double(viewpoint, value);
  }
  out << viewpoint << "\nPOINTS " << n << "\nDATA "
      << (encoding == Encoding::Ascii ? "ascii" : encoding == Encoding::BinaryCompressed ? "binary_compressed" : "binary")
      << '\n';
}

void write_uint32_le(std::ostream& out, uint32_t value) {
  unsigned char bytes[4];
  std::memcpy(bytes, &value, 4);
  if (!kNativeLittleEndian) reverse_bytes(bytes, 4);
  out.write(reinterpret_cast<const char*>(bytes), 4);
}

void write_compressed(std::ostream& out, const std::string& name, const PointCloud& cloud,
                      const std::vector<WriteField>& fields) {
  const std::vector<WriteSlot> slots = flatten_slots(fields);
  std::vector<uint32_t> counts;
  for (const WriteField& field : fields) counts.push_back(static_cast<uint32_t>(field.slots.size()));
  const uint64_t size = uint64_t{cloud.size()} * record_size(slots);
  if (size > UINT32_MAX / 2) throw IoError(name + ": too many points for binary_compressed PCD; use binary");
  std::vector<unsigned char> data(static_cast<size_t>(size));
  encode_block(data.data(), 0, cloud.size(), slots, column_layout(slots, counts, cloud.size()), !kNativeLittleEndian,
               cloud.xyz);
  std::vector<unsigned char> packed(data.size() + data.size() / 16 + 64);
  unsigned int packed_size = 0;
  if (!data.empty()) {
    packed_size = lzf_compress(data.data(), static_cast<unsigned int>(data.size()), packed.data(),
                               static_cast<unsigned int>(packed.size()));
    if (packed_size == 0) throw IoError(name + ": compression failed");
  }
  write_uint32_le(out, packed_size);
  write_uint32_le(out, static_cast<uint32_t>(data.size()));
  out.write(reinterpret_cast<const char*>(packed.data()), packed_size);
}

}  // namespace

void write_pcd_header(std::ostream& out, const std::string& name, const PointCloud& cloud,
                      Encoding encoding, uint64_t points) {
  if (encoding == Encoding::BinaryBigEndian) throw IoError(name + ": PCD has no big-endian encoding");
  write_header(out, cloud, plan_write_fields(cloud, Format::Pcd, name), encoding, points);
  check_written(out, name);
}

void write_pcd(std::ostream& out, const std::string& name, const PointCloud& cloud, Encoding encoding) {
  if (encoding == Encoding::BinaryBigEndian) throw IoError(name + ": PCD has no big-endian encoding");
  const std::vector<WriteField> fields = plan_write_fields(cloud, Format::Pcd, name);
  write_header(out, cloud, fields, encoding, cloud.size());
  if (encoding == Encoding::Ascii) write_text_records(out, cloud.size(), flatten_slots(fields), ' ', cloud.xyz);
  else if (encoding == Encoding::BinaryCompressed) write_compressed(out, name, cloud, fields);
  else write_binary_records(out, cloud.size(), flatten_slots(fields), !kNativeLittleEndian, cloud.xyz);
  check_written(out, name);
}

}  // namespace ici3d::host::io_detail
