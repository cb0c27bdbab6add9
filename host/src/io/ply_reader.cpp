// PLY reader: header, vertex element into the cloud, other elements kept.

#include <algorithm>
#include <charconv>

#include "formats.h"
#include "ply_elements.h"
#include "records.h"

namespace ici3d::host::io_detail {

namespace {

struct PlyHeader {
  Encoding encoding = Encoding::Ascii;
  std::string version;
  std::vector<PlyElement> elements;  // all elements, vertex included
  std::vector<std::string> comments;
  std::vector<std::string> obj_info;
};

// Text after the keyword and one separating space, as written.
std::string text_after_keyword(const std::string& line, std::string_view keyword) {
  const size_t start = line.find(keyword) + keyword.size();
  return start < line.size() ? line.substr(start + 1) : std::string();
}

ScalarType parse_property_type(InputSource& source, std::string_view name) {
  if (auto type = ply_type_from_name(name)) return *type;
  source.fail_at_line("unknown property type '" + std::string(name) + "'; expected one of " + ply_type_list());
}

Encoding parse_format_line(InputSource& source, const std::vector<std::string_view>& tokens, std::string& version) {
  if (tokens.size() != 3) source.fail_at_line("expected 'format <encoding> 1.0'");
  version = std::string(tokens[2]);
  if (tokens[1] == "ascii") return Encoding::Ascii;
  if (tokens[1] == "binary_little_endian") return Encoding::BinaryLittleEndian;
  if (tokens[1] == "binary_big_endian") return Encoding::BinaryBigEndian;
  source.fail_at_line("unknown format '" + std::string(tokens[1]) +
                      "'; expected ascii, binary_little_endian or binary_big_endian");
}

PlyElement parse_element_line(InputSource& source, const std::vector<std::string_view>& tokens) {
  if (tokens.size() != 3) source.fail_at_line("expected 'element <name> <count>'");
  PlyElement element;
  element.name = std::string(tokens[1]);
  const std::string_view count = tokens[2];
  auto [ptr, ec] = std::from_chars(count.data(), count.data() + count.size(), element.count);
  if (ec != std::errc() || ptr != count.data() + count.size())
    source.fail_at_line("element count '" + std::string(count) + "' is not a non-negative integer");
  return element;
}

PlyProperty parse_property_line(InputSource& source, const std::vector<std::string_view>& tokens) {
  PlyProperty property;
  if (tokens.size() == 5 && tokens[1] == "list") {
    property.is_list = true;
    property.count_type = parse_property_type(source, tokens[2]);
    property.count_type_name = std::string(tokens[2]);
    if (is_floating(property.count_type)) source.fail_at_line("list length type must be an integer type");
    property.type = parse_property_type(source, tokens[3]);
    property.type_name = std::string(tokens[3]);
  } else if (tokens.size() == 3) {
    property.type = parse_property_type(source, tokens[1]);
    property.type_name = std::string(tokens[1]);
  } else {
    source.fail_at_line("expected 'property <type> <name>' or 'property list <type> <type> <name>'");
  }
  property.name = std::string(tokens.back());
  return property;
}

PlyHeader parse_header(InputSource& source) {
  std::string line;
  if (!source.read_line(line) || line != "ply") source.fail_at_line("expected 'ply' as the first line");
  PlyHeader header;
  bool has_format = false;
  for (;;) {
    if (!source.read_line(line)) source.fail_at_line("header ends without 'end_header'");
    const auto tokens = split_whitespace(line);
    if (tokens.empty()) continue;
    const std::string_view keyword = tokens[0];
    if (keyword == "end_header") break;
    if (keyword == "comment") {
      header.comments.push_back(text_after_keyword(line, keyword));
    } else if (keyword == "obj_info") {
      header.obj_info.push_back(text_after_keyword(line, keyword));
    } else if (keyword == "format") {
      header.encoding = parse_format_line(source, tokens, header.version);
      has_format = true;
    } else if (keyword == "element") {
      header.elements.push_back(parse_element_line(source, tokens));
    } else if (keyword == "property") {
      if (header.elements.empty()) source.fail_at_line("property declared before any element");
      header.elements.back().properties.push_back(parse_property_line(source, tokens));
    } else {
      source.fail_at_line("unknown header keyword '" + std::string(keyword) + "'");
    }
  }
  if (!has_format) source.fail_at_line("header has no 'format' line");
  return header;
}

size_t find_vertex_element(const InputSource& source, const PlyHeader& header) {
  const auto is_vertex = [](const PlyElement& element) { return element.name == "vertex"; };
  const auto found = std::find_if(header.elements.begin(), header.elements.end(), is_vertex);
  if (found == header.elements.end()) source.fail("header declares no 'vertex' element");
  if (std::count_if(header.elements.begin(), header.elements.end(), is_vertex) > 1)
    source.fail("header declares the 'vertex' element twice");
  return static_cast<size_t>(found - header.elements.begin());
}

std::vector<LayoutField> vertex_fields(const InputSource& source, const PlyElement& vertex) {
  std::vector<LayoutField> fields;
  for (const PlyProperty& property : vertex.properties) {
    if (property.is_list)
      source.fail("vertex property '" + property.name +
                  "' is a list; list properties on vertices are not supported");
    LayoutField field;
    field.name = property.name;
    field.type = property.type;
    field.type_name = property.type_name;
    if (property.name.size() == 1 && property.name[0] >= 'x' && property.name[0] <= 'z')
      field.axis = property.name[0] - 'x';
    fields.push_back(std::move(field));
  }
  return fields;
}

void check_body_size(const InputSource& source, const PlyHeader& header) {
  for (const PlyElement& element : header.elements)
    check_fits(source, element.count, ply_min_instance_bytes(element, header.encoding),
               "'" + element.name + "' elements");
}

void read_text_vertices(InputSource& source, PointCloud& cloud, const std::vector<ReadSlot>& slots) {
  std::string line;
  const size_t n = cloud.size();
  for (size_t i = 0; i < n; ++i) {
    if (!read_nonblank_line(source, line))
      source.fail_at_line("file ends after " + std::to_string(i) + " of " + std::to_string(n) + " vertices");
    parse_text_record(split_whitespace(line), slots, i, source, cloud.xyz);
  }
}

// The cloud's layout from the header, without any points yet.
PointCloud cloud_of_header(const InputSource& source, PlyHeader& header, size_t vertex_index) {
  PointCloud cloud;
  FileLayout& layout = cloud.layout;
  layout.format = Format::Ply;
  layout.encoding = header.encoding;
  layout.comments = std::move(header.comments);
  layout.ply.obj_info = std::move(header.obj_info);
  layout.ply.version = header.version;
  layout.ply.vertex_position = vertex_index;
  layout.fields = vertex_fields(source, header.elements[vertex_index]);
  return cloud;
}

}  // namespace

PointCloud read_ply(InputSource& source) {
  PlyHeader header = parse_header(source);
  const size_t vertex_index = find_vertex_element(source, header);
  PointCloud cloud = cloud_of_header(source, header, vertex_index);
  check_body_size(source, header);
  const std::vector<ReadSlot> slots =
      bind_read_slots(cloud, header.elements[vertex_index].count, source, "vertex property");
  for (size_t e = 0; e < header.elements.size(); ++e) {
    if (e != vertex_index) {
      read_ply_element_body(source, header.elements[e], header.encoding);
      cloud.layout.ply.elements.push_back(std::move(header.elements[e]));
    } else if (header.encoding == Encoding::Ascii) {
      read_text_vertices(source, cloud, slots);
    } else {
      read_binary_records(source, cloud.size(), slots, ply_needs_swap(header.encoding), cloud.xyz, "vertices");
    }
  }
  return cloud;
}

PointCloud read_ply_header(InputSource& source, uint64_t& points) {
  PlyHeader header = parse_header(source);
  const size_t vertex_index = find_vertex_element(source, header);
  PointCloud cloud = cloud_of_header(source, header, vertex_index);
  points = header.elements[vertex_index].count;
  bind_read_slots(cloud, 0, source, "vertex property");
  for (size_t e = 0; e < header.elements.size(); ++e) {
    if (e != vertex_index) cloud.layout.ply.elements.push_back(std::move(header.elements[e]));
  }
  return cloud;
}

}  // namespace ici3d::host::io_detail
