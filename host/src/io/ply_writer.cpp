// PLY writer: the vertex element from the cloud, other elements as kept.

#include <sstream>

#include "formats.h"
#include "ply_elements.h"
#include "records.h"

namespace ici3d::host::io_detail {

namespace {

const char* encoding_keyword(Encoding encoding) {
  switch (encoding) {
    case Encoding::Ascii: return "ascii";
    case Encoding::BinaryBigEndian: return "binary_big_endian";
    default: return "binary_little_endian";
  }
}

void write_comment_lines(std::ostream& out, const char* keyword, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    out << keyword;
    if (!line.empty()) out << ' ' << single_line(line);
    out << '\n';
  }
}

void write_vertex_declaration(std::ostream& out, uint64_t points, const std::vector<WriteField>& fields) {
  out << "element vertex " << points << '\n';
  for (const WriteField& field : fields)
    out << "property " << (field.type_name.empty() ? ply_type_name(field.type) : field.type_name) << ' '
        << field.name << '\n';
}

void write_element_declaration(std::ostream& out, const PlyElement& element) {
  out << "element " << element.name << ' ' << element.count << '\n';
  for (const PlyProperty& property : element.properties) {
    out << "property ";
    if (property.is_list) out << "list " << property.count_type_name << ' ';
    out << property.type_name << ' ' << property.name << '\n';
  }
}

// Everything up to and including "end_header".
void write_header(std::ostream& out, const PointCloud& cloud, const std::vector<WriteField>& fields,
                  Encoding encoding, uint64_t points) {
  const FileLayout& layout = cloud.layout;
  const bool from_ply = layout.format == Format::Ply;
  const std::vector<PlyElement> no_elements;
  const std::vector<PlyElement>& elements = from_ply ? layout.ply.elements : no_elements;
  const size_t vertex_position = from_ply ? std::min(layout.ply.vertex_position, elements.size()) : 0;

  out << "ply\nformat " << encoding_keyword(encoding) << ' ' << (from_ply ? layout.ply.version : "1.0") << '\n';
  write_comment_lines(out, "comment", layout.comments);
  if (from_ply) write_comment_lines(out, "obj_info", layout.ply.obj_info);
  for (size_t e = 0; e <= elements.size(); ++e) {
    if (e == vertex_position) write_vertex_declaration(out, points, fields);
    if (e < elements.size()) write_element_declaration(out, elements[e]);
  }
  out << "end_header\n";
}

}  // namespace

void write_ply_header(std::ostream& out, const std::string& name, const PointCloud& cloud,
                      Encoding encoding, uint64_t points) {
  if (encoding == Encoding::BinaryCompressed) throw IoError(name + ": PLY has no compressed encoding");
  write_header(out, cloud, plan_write_fields(cloud, Format::Ply, name), encoding, points);
  check_written(out, name);
}

void write_ply(std::ostream& out, const std::string& name, const PointCloud& cloud, Encoding encoding) {
  if (encoding == Encoding::BinaryCompressed) throw IoError(name + ": PLY has no compressed encoding");
  const std::vector<WriteField> fields = plan_write_fields(cloud, Format::Ply, name);
  write_header(out, cloud, fields, encoding, cloud.size());
  const FileLayout& layout = cloud.layout;
  const bool from_ply = layout.format == Format::Ply;
  const std::vector<PlyElement> no_elements;
  const std::vector<PlyElement>& elements = from_ply ? layout.ply.elements : no_elements;
  const size_t vertex_position = from_ply ? std::min(layout.ply.vertex_position, elements.size()) : 0;

  const std::vector<WriteSlot> slots = flatten_slots(fields);
  for (size_t e = 0; e <= elements.size(); ++e) {
    if (e == vertex_position) {
      if (encoding == Encoding::Ascii) write_text_records(out, cloud.size(), slots, ' ', cloud.xyz);
      else write_binary_records(out, cloud.size(), slots, ply_needs_swap(encoding), cloud.xyz);
    }
    if (e < elements.size()) out << encode_ply_element(elements[e], encoding, name);
  }
  check_written(out, name);
}

}  // namespace ici3d::host::io_detail
