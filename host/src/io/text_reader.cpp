// Reader of XYZ-style text: one point per line, values separated by white
// space or commas, an optional line of column names, '#' comment lines.

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>

#include "formats.h"
#include "records.h"
#include "scalar.h"

namespace ici3d::host::io_detail {

namespace {

char detect_delimiter(std::string_view line) {
  if (line.find(',') != std::string_view::npos) return ',';
  if (line.find('\t') != std::string_view::npos && line.find(' ') == std::string_view::npos) return '\t';
  return ' ';
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> split_line(std::string_view line, char delimiter) {
  if (delimiter != ',') return split_whitespace(line);
  std::vector<std::string_view> tokens;
  for (size_t start = 0;;) {
    const size_t end = line.find(',', start);
    tokens.push_back(trim(line.substr(start, end - start)));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  if (tokens.size() > 1 && tokens.back().empty()) tokens.pop_back();  // a trailing comma
  return tokens;
}

bool all_numeric(const std::vector<std::string_view>& tokens) {
  double value;
  return std::all_of(tokens.begin(), tokens.end(), [&](std::string_view token) { return parse_double(token, value); });
}

// Column names of a header line, without a leading "//" or quotes.
std::vector<std::string> header_names(std::string_view line, char delimiter) {
  line = trim(line);
  if (line.substr(0, 2) == "//") line.remove_prefix(2);
  std::vector<std::string> names;
  for (std::string_view token : split_line(line, delimiter)) {
    if (token.size() >= 2 && token.front() == '"' && token.back() == '"') token = token.substr(1, token.size() - 2);
    names.emplace_back(token);
  }
  return names;
}

// A line holding a single non-negative integer: the number of points.
std::optional<uint64_t> parse_count_line(std::string_view line) {
  const auto tokens = split_whitespace(line);
  uint64_t count;
  if (tokens.size() != 1 || !parse_scalar(tokens[0], ScalarType::UInt64, reinterpret_cast<unsigned char*>(&count)))
    return std::nullopt;
  return count;
}

// Values of one column while reading; the type is chosen at the end.
struct Column {
  std::string name;
  std::vector<double> values;
  bool all_int32 = true;
};

class TextReader {
 public:
  explicit TextReader(InputSource& source) : source_(source) {}

  PointCloud read() {
    cloud_.layout.format = Format::Xyz;
    cloud_.layout.encoding = Encoding::Ascii;
    std::string line;
    if (next_line(line)) read_first_lines(line);
    while (next_line(line)) add_record(line);
    check_count();
    return finish();
  }

 private:
  // Next line holding data, keeping comment lines aside.
  bool next_line(std::string& line) {
    while (read_nonblank_line(source_, line)) {
      const std::string_view text = trim(line);
      if (text[0] != '#') return true;
      cloud_.layout.comments.emplace_back(trim(text.substr(1)));
    }
    return false;
  }

  void read_first_lines(std::string& line) {
    TextLayout& text = cloud_.layout.text;
    if (const auto count = parse_count_line(line)) {
      text.has_count_line = true;
      promised_ = *count;
      if (!next_line(line)) return;
    }
    text.delimiter = detect_delimiter(line);
    const auto tokens = split_line(line, text.delimiter);
    if (tokens.size() < 3)
      source_.fail_at_line("expected at least 3 columns (x y z), found " + std::to_string(tokens.size()));
    columns_.resize(tokens.size());
    if (all_numeric(tokens)) {
      add_record(line);
      return;
    }
    text.has_header = true;
    const auto names = header_names(line, text.delimiter);
    for (size_t c = 0; c < names.size(); ++c) columns_[c].name = names[c];
  }

  void add_record(const std::string& line) {
    const auto tokens = split_line(line, cloud_.layout.text.delimiter);
    if (tokens.size() != columns_.size())
      source_.fail_at_line("expected " + std::to_string(columns_.size()) + " values, found " +
                           std::to_string(tokens.size()));
    double value;
    for (size_t c = 0; c < tokens.size(); ++c) {
      if (!parse_double(tokens[c], value))
        source_.fail_at_line("column " + std::to_string(c + 1) + ": expected a number, found '" +
                             std::string(tokens[c]) + "'");
      columns_[c].values.push_back(value);
      columns_[c].all_int32 = columns_[c].all_int32 && is_int32_literal(tokens[c]);
    }
    ++points_;
  }

  void check_count() const {
    if (cloud_.layout.text.has_count_line && promised_ != points_)
      source_.fail_at_line("first line promises " + std::to_string(promised_) + " points, the file holds " +
                           std::to_string(points_));
  }

  // Columns named x, y, z (any case) when the header has all three,
  // otherwise the first three.
  std::array<size_t, 3> position_columns() const {
    std::array<size_t, 3> found{0, 1, 2};
    if (!cloud_.layout.text.has_header) return found;
    for (size_t axis = 0; axis < 3; ++axis) {
      const auto match = std::find_if(columns_.begin(), columns_.end(), [&](const Column& column) {
        return column.name.size() == 1 && std::tolower(static_cast<unsigned char>(column.name[0])) == 'x' + static_cast<int>(axis);
      });
      if (match == columns_.end()) return {0, 1, 2};
      found[axis] = static_cast<size_t>(match - columns_.begin());
    }
    return found;
  }

  // A name of one letter x, y or z (any case): position_columns() takes a
  // header that has all three as naming the positions.
  static bool is_axis_name(const std::string& name) {
    return name.size() == 1 && std::string_view("xyzXYZ").find(name[0]) != std::string_view::npos;
  }

  // An unnamed position column is called after its axis unless the header
  // names some column x, y or z: written back, the invented name could then
  // complete the set and move the positions to other columns.
  void add_position(Column& column, int axis, size_t index, bool header_names_an_axis) {
    if (column.name.empty())
      column.name = header_names_an_axis ? "column_" + std::to_string(index) : std::string(1, static_cast<char>('x' + axis));
    cloud_.layout.fields.push_back(LayoutField{column.name, ScalarType::Float64, axis, "", 1, false, {}});
    for (size_t i = 0; i < points_; ++i) cloud_.xyz[3 * i + static_cast<size_t>(axis)] = column.values[i];
  }

  // Without a header, six columns are x y z nx ny nz: the common export of
  // a cloud with normals.
  void add_attribute_column(Column& column, size_t index) {
    static const char* const kNormals[3] = {"nx", "ny", "nz"};
    if (column.name.empty() && columns_.size() == 6 && index >= 3) column.name = kNormals[index - 3];
    if (column.name.empty()) column.name = "column_" + std::to_string(index);
    const ScalarType type = column.all_int32 && points_ > 0 ? ScalarType::Int32 : ScalarType::Float64;
    cloud_.layout.fields.push_back(LayoutField{column.name, type, -1, "", 1, false, {}});
    Attribute& attribute = cloud_.attributes.emplace_back();
    attribute.name = column.name;
    attribute.type = type;
    attribute.bytes.resize(points_ * scalar_size(type));
    for (size_t i = 0; i < points_; ++i) attribute.set_double(i, column.values[i]);
  }

  void check_unique_names() const {
    std::set<std::string> seen;
    for (const LayoutField& field : cloud_.layout.fields)
      if (!seen.insert(field.axis >= 0 ? std::string(1, static_cast<char>('x' + field.axis)) : field.name).second)
        source_.fail("column name '" + field.name + "' appears twice");
  }

  PointCloud finish() {
    if (columns_.empty()) return std::move(cloud_);  // an empty file is an empty cloud
    const auto positions = position_columns();
    const bool header_names_an_axis =
        std::any_of(columns_.begin(), columns_.end(), [](const Column& column) { return is_axis_name(column.name); });
    cloud_.xyz.resize(3 * points_);
    for (size_t c = 0; c < columns_.size(); ++c) {
      const auto axis = std::find(positions.begin(), positions.end(), c);
      if (axis != positions.end()) add_position(columns_[c], static_cast<int>(axis - positions.begin()), c, header_names_an_axis);
      else add_attribute_column(columns_[c], c);
      columns_[c].values = {};
    }
    check_unique_names();
    return std::move(cloud_);
  }

  InputSource& source_;
  PointCloud cloud_;
  std::vector<Column> columns_;
  size_t points_ = 0;
  uint64_t promised_ = 0;
};

}  // namespace

PointCloud read_text(InputSource& source) { return TextReader(source).read(); }

}  // namespace ici3d::host::io_detail
