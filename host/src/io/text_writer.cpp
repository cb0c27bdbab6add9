// Writer of XYZ-style text, with values that read back exactly.

#include "formats.h"
#include "records.h"
#include "scalar.h"

namespace ici3d::host::io_detail {

namespace {

void check_header_name(const std::string& destination, const std::string& name, char delimiter) {
  const bool bad = name.empty() || name[0] == '#' || name.find_first_of(std::string(" \t\n\r") + delimiter) != std::string::npos;
  if (bad) throw IoError(destination + ": column name '" + name + "' cannot be written in a header line");
}

// Whether the reader would not get the name back as written: it strips one
// pair of enclosing quotes and a leading "//" of the line, and takes a line
// of numbers for data. Such a name is written in quotes.
bool needs_quotes(const std::string& name, bool first) {
  double number;
  return (name.size() >= 2 && name.front() == '"' && name.back() == '"') ||
         (first && name.rfind("//", 0) == 0) || parse_double(name, number);
}

void write_header_line(std::ostream& out, const std::string& destination, const std::vector<WriteField>& fields,
                       char delimiter) {
  for (size_t f = 0; f < fields.size(); ++f) {
    check_header_name(destination, fields[f].name, delimiter);
    if (f > 0) out << delimiter;
    if (needs_quotes(fields[f].name, f == 0)) out << '"' << fields[f].name << '"';
    else out << fields[f].name;
  }
  out << '\n';
}

// Whether a floating column prints as int32 literals only: read back, it
// would become an Int32 column.
bool prints_as_integers(const WriteSlot& slot, size_t points, const std::vector<double>& xyz) {
  unsigned char value[kMaxScalarSize];
  std::string token;
  for (size_t point = 0; point < points; ++point) {
    load_value(slot, xyz, point, value);
    token.clear();
    append_scalar(token, slot.type, value);
    if (!is_int32_literal(token)) return false;
  }
  return points > 0;
}

// Slots of the fields; a floating attribute column that would read back as
// Int32 gets a decimal point on its values, so that it stays Float64.
std::vector<WriteSlot> text_slots(const std::vector<WriteField>& fields, const PointCloud& cloud) {
  std::vector<WriteSlot> slots = flatten_slots(fields);
  for (WriteSlot& slot : slots)
    slot.decimal_point = slot.axis < 0 && is_floating(slot.type) && prints_as_integers(slot, cloud.size(), cloud.xyz);
  return slots;
}

}  // namespace

void write_text(std::ostream& out, const std::string& name, const PointCloud& cloud, char delimiter) {
  const std::vector<WriteField> fields = plan_write_fields(cloud, Format::Xyz, name);
  const FileLayout& layout = cloud.layout;
  const bool from_text = layout.format == Format::Xyz;
  if (from_text) delimiter = layout.text.delimiter;
  for (const std::string& comment : layout.comments) out << "# " << single_line(comment) << '\n';
  if (from_text && layout.text.has_count_line) out << cloud.size() << '\n';
  // Columns beyond x, y, z get their names written, so they read back named.
  if (from_text ? layout.text.has_header : fields.size() > 3) write_header_line(out, name, fields, delimiter);
  write_text_records(out, cloud.size(), text_slots(fields, cloud), delimiter, cloud.xyz);
  check_written(out, name);
}

}  // namespace ici3d::host::io_detail
