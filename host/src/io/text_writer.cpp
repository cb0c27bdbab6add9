// Writer of XYZ-style text, with values that read back exactly.

#include "formats.h"
#include "records.h"

namespace ici3d::host::io_detail {

namespace {

void check_header_name(const std::string& destination, const std::string& name, char delimiter) {
  const bool bad = name.empty() || name[0] == '#' || name.find_first_of(std::string(" \t\n\r") + delimiter) != std::string::npos;
  if (bad) throw IoError(destination + ": column name '" + name + "' cannot be written in a header line");
}

void write_header_line(std::ostream& out, const std::string& destination, const std::vector<WriteField>& fields,
                       char delimiter) {
  for (size_t f = 0; f < fields.size(); ++f) {
    check_header_name(destination, fields[f].name, delimiter);
    if (f > 0) out << delimiter;
    out << fields[f].name;
  }
  out << '\n';
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
  write_text_records(out, cloud.size(), flatten_slots(fields), delimiter, cloud.xyz);
  check_written(out, name);
}

}  // namespace ici3d::host::io_detail
