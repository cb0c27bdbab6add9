// PCD v0.7 reader: ascii, binary and binary_compressed data.

#include <lzf.h>

#include <algorithm>
#include <charconv>

#include "formats.h"
#include "pcd_format.h"
#include "scalar.h"

namespace ici3d::host::io_detail {

namespace {

// LZF turns 3 bytes into at most 264; a larger claimed ratio is a lie.
constexpr uint64_t kMaxLzfRatio = 90;

struct PcdHeader {
  std::vector<std::string> names;
  std::vector<uint64_t> sizes;
  std::vector<char> types;
  std::vector<uint64_t> counts;
  std::optional<uint64_t> width, height, points;
  std::string version = "0.7";
  std::array<double, 7> viewpoint{0, 0, 0, 1, 0, 0, 0};
  std::vector<std::string> comments;
  Encoding encoding = Encoding::Ascii;
};

uint64_t parse_count(InputSource& source, std::string_view text, const std::string& what) {
  uint64_t value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size())
    source.fail_at_line(what + " expects a non-negative integer, found '" + std::string(text) + "'");
  return value;
}

std::vector<uint64_t> parse_counts(InputSource& source, const std::vector<std::string_view>& tokens) {
  std::vector<uint64_t> values;
  for (size_t i = 1; i < tokens.size(); ++i) values.push_back(parse_count(source, tokens[i], std::string(tokens[0])));
  return values;
}

uint64_t parse_single_count(InputSource& source, const std::vector<std::string_view>& tokens) {
  if (tokens.size() != 2) source.fail_at_line(std::string(tokens[0]) + " expects one value");
  return parse_count(source, tokens[1], std::string(tokens[0]));
}

std::vector<char> parse_type_letters(InputSource& source, const std::vector<std::string_view>& tokens) {
  std::vector<char> letters;
  for (size_t i = 1; i < tokens.size(); ++i) {
    if (tokens[i].size() != 1 || std::string_view("IUF").find(tokens[i][0]) == std::string_view::npos)
      source.fail_at_line("TYPE expects I, U or F, found '" + std::string(tokens[i]) + "'");
    letters.push_back(tokens[i][0]);
  }
  return letters;
}

std::array<double, 7> parse_viewpoint(InputSource& source, const std::vector<std::string_view>& tokens) {
  std::array<double, 7> viewpoint{};
  if (tokens.size() != 8) source.fail_at_line("VIEWPOINT expects 7 numbers");
  for (size_t i = 0; i < 7; ++i)
    if (!parse_double(tokens[i + 1], viewpoint[i]))
      source.fail_at_line("VIEWPOINT expects numbers, found '" + std::string(tokens[i + 1]) + "'");
  return viewpoint;
}

Encoding parse_data_line(InputSource& source, const std::vector<std::string_view>& tokens) {
  if (tokens.size() == 2) {
    if (tokens[1] == "ascii") return Encoding::Ascii;
    if (tokens[1] == "binary") return Encoding::BinaryLittleEndian;
    if (tokens[1] == "binary_compressed") return Encoding::BinaryCompressed;
  }
  source.fail_at_line("expected 'DATA ascii', 'DATA binary' or 'DATA binary_compressed'");
}

std::string comment_text(std::string_view line) {
  line.remove_prefix(1);
  if (!line.empty() && line[0] == ' ') line.remove_prefix(1);
  return std::string(line);
}

void parse_header_line(InputSource& source, const std::string& line, PcdHeader& header) {
  const auto tokens = split_whitespace(line);
  const std::string_view keyword = tokens[0];
  if (keyword == "VERSION" && tokens.size() == 2) header.version = std::string(tokens[1]);
  else if (keyword == "FIELDS" || keyword == "COLUMNS") header.names.assign(tokens.begin() + 1, tokens.end());
  else if (keyword == "SIZE") header.sizes = parse_counts(source, tokens);
  else if (keyword == "TYPE") header.types = parse_type_letters(source, tokens);
  else if (keyword == "COUNT") header.counts = parse_counts(source, tokens);
  else if (keyword == "WIDTH") header.width = parse_single_count(source, tokens);
  else if (keyword == "HEIGHT") header.height = parse_single_count(source, tokens);
  else if (keyword == "POINTS") header.points = parse_single_count(source, tokens);
  else if (keyword == "VIEWPOINT") header.viewpoint = parse_viewpoint(source, tokens);
  else source.fail_at_line("unknown header line '" + line + "'");
}

void check_point_count(InputSource& source, PcdHeader& header) {
  if (!header.width) source.fail_at_line("header has no WIDTH line");
  if (!header.height) header.height = 1;
  const uint64_t width = *header.width, height = *header.height;
  const bool overflow = height != 0 && width > UINT64_MAX / height;
  if (!header.points && !overflow) header.points = width * height;
  if (overflow || *header.points != width * height)
    source.fail_at_line("POINTS " + std::to_string(header.points.value_or(0)) + " differs from WIDTH " +
                        std::to_string(width) + " times HEIGHT " + std::to_string(height));
}

void check_field_lists(InputSource& source, PcdHeader& header) {
  const size_t n = header.names.size();
  if (n == 0) source.fail_at_line("header has no FIELDS line");
  if (header.counts.empty()) header.counts.assign(n, 1);
  if (header.sizes.size() != n || header.types.size() != n || header.counts.size() != n)
    source.fail_at_line("FIELDS names " + std::to_string(n) + " fields, but SIZE, TYPE and COUNT give " +
                        std::to_string(header.sizes.size()) + ", " + std::to_string(header.types.size()) +
                        " and " + std::to_string(header.counts.size()) + " values");
}

PcdHeader parse_header(InputSource& source) {
  PcdHeader header;
  std::string line;
  for (;;) {
    if (!source.read_line(line)) source.fail_at_line("header ends without a DATA line");
    if (is_blank(line)) continue;
    if (line[0] == '#') {
      // The signature line is written back by the writer itself.
      std::string text = comment_text(line);
      if (text != kPcdSignature) header.comments.push_back(std::move(text));
      continue;
    }
    const auto tokens = split_whitespace(line);
    if (tokens[0] == "DATA") {
      header.encoding = parse_data_line(source, tokens);
      break;
    }
    parse_header_line(source, line, header);
  }
  check_field_lists(source, header);
  check_point_count(source, header);
  return header;
}

LayoutField make_field(InputSource& source, const PcdHeader& header, size_t f) {
  LayoutField field;
  field.name = header.names[f];
  const auto type = pcd_scalar_type(header.types[f], header.sizes[f]);
  if (!type)
    source.fail_at_line("field '" + field.name + "' has TYPE " + header.types[f] + " with SIZE " +
                        std::to_string(header.sizes[f]) + ", which is no known type");
  field.type = *type;
  if (header.counts[f] == 0 || header.counts[f] > UINT32_MAX)
    source.fail_at_line("field '" + field.name + "' has COUNT " + std::to_string(header.counts[f]));
  field.count = static_cast<uint32_t>(header.counts[f]);
  field.padding = field.name == "_";
  if (field.name == "x" || field.name == "y" || field.name == "z") field.axis = field.name[0] - 'x';
  return field;
}

FileLayout make_layout(InputSource& source, PcdHeader& header) {
  FileLayout layout;
  layout.format = Format::Pcd;
  layout.encoding = header.encoding;
  layout.comments = std::move(header.comments);
  layout.pcd.version = header.version;
  layout.pcd.width = *header.width;
  layout.pcd.height = *header.height;
  layout.pcd.viewpoint = header.viewpoint;
  for (size_t f = 0; f < header.names.size(); ++f) layout.fields.push_back(make_field(source, header, f));
  return layout;
}

// The slots without those of padding fields, which some writers leave out of
// text and compressed data.
std::vector<ReadSlot> without_padding(const std::vector<ReadSlot>& slots, const std::vector<LayoutField>& fields,
                                      std::vector<uint32_t>& counts) {
  std::vector<ReadSlot> kept;
  size_t s = 0;
  for (const LayoutField& field : fields) {
    if (!field.padding) {
      kept.insert(kept.end(), slots.begin() + s, slots.begin() + s + field.count);
      counts.push_back(field.count);
    }
    s += field.count;
  }
  return kept;
}

void read_text_points(InputSource& source, PointCloud& cloud, const std::vector<ReadSlot>& slots) {
  std::vector<uint32_t> counts;
  const std::vector<ReadSlot> unpadded = without_padding(slots, cloud.layout.fields, counts);
  std::string line;
  const size_t n = cloud.size();
  for (size_t i = 0; i < n; ++i) {
    if (!read_nonblank_line(source, line))
      source.fail_at_line("file ends after " + std::to_string(i) + " of " + std::to_string(n) + " points");
    const auto tokens = split_whitespace(line);
    parse_text_record(tokens, tokens.size() == unpadded.size() ? unpadded : slots, i, source, cloud.xyz);
  }
}

uint32_t read_uint32_le(InputSource& source, const std::string& what) {
  unsigned char bytes[4];
  source.read_bytes(bytes, 4, what);
  if (!kNativeLittleEndian) reverse_bytes(bytes, 4);
  uint32_t value;
  std::memcpy(&value, bytes, 4);
  return value;
}

struct CompressedSizes {
  uint64_t compressed, uncompressed;
  bool has_padding;  // whether the decompressed data holds the padding fields
};

CompressedSizes read_compressed_sizes(InputSource& source, const FileLayout& layout, uint64_t points) {
  CompressedSizes sizes{};
  const uint64_t start = source.offset();
  sizes.compressed = read_uint32_le(source, "the compressed size");
  sizes.uncompressed = read_uint32_le(source, "the uncompressed size");
  uint64_t full = 0, unpadded = 0;
  for (const LayoutField& field : layout.fields) {
    const uint64_t width = field.count * scalar_size(field.type);
    full += width;
    if (!field.padding) unpadded += width;
  }
  if (points > UINT32_MAX || (points != 0 && full > UINT32_MAX / points))
    source.fail_at_byte(start, "header promises " + std::to_string(points) +
                                   " points, more than compressed data can hold");
  sizes.has_padding = sizes.uncompressed == points * full;
  if (!sizes.has_padding && sizes.uncompressed != points * unpadded)
    source.fail_at_byte(start, "uncompressed size " + std::to_string(sizes.uncompressed) + " does not match " +
                                   std::to_string(points) + " points of " + std::to_string(full) + " bytes");
  const auto left = source.remaining();
  if (left && sizes.compressed > *left)
    source.fail_at_byte(start, "compressed size " + std::to_string(sizes.compressed) + " exceeds the " +
                                   std::to_string(*left) + " bytes left in the file");
  if (sizes.uncompressed > sizes.compressed * kMaxLzfRatio + 64)
    source.fail_at_byte(start, "uncompressed size " + std::to_string(sizes.uncompressed) + " is impossible for " +
                                   std::to_string(sizes.compressed) + " compressed bytes");
  return sizes;
}

void read_compressed_points(InputSource& source, PointCloud& cloud, const std::vector<ReadSlot>& slots,
                            const CompressedSizes& sizes) {
  std::vector<unsigned char> packed;
  const uint64_t start = source.offset();
  source.read_bytes(packed, sizes.compressed, "compressed point data");
  std::vector<unsigned char> data(static_cast<size_t>(sizes.uncompressed));
  if (!data.empty()) {
    const unsigned int got = lzf_decompress(packed.data(), static_cast<unsigned int>(packed.size()), data.data(),
                                            static_cast<unsigned int>(data.size()));
    if (got != data.size())
      source.fail_at_byte(start, "compressed point data is corrupt (decompressed " + std::to_string(got) + " of " +
                                     std::to_string(data.size()) + " bytes)");
  }
  std::vector<uint32_t> counts;
  std::vector<ReadSlot> used;
  if (sizes.has_padding) {
    used = slots;
    for (const LayoutField& field : cloud.layout.fields) counts.push_back(field.count);
  } else {
    used = without_padding(slots, cloud.layout.fields, counts);
  }
  const BufferLayout layout = column_layout(used, counts, cloud.size());
  decode_block(data.data(), 0, cloud.size(), used, layout, !kNativeLittleEndian, cloud.xyz);
}

uint64_t min_record_bytes(const FileLayout& layout) {
  uint64_t bytes = 0;
  for (const LayoutField& field : layout.fields) {
    const uint64_t per_value = layout.encoding == Encoding::Ascii ? 2 : scalar_size(field.type);
    bytes += field.padding && layout.encoding == Encoding::Ascii ? 0 : field.count * per_value;
  }
  return bytes;
}

// Whether the data can hold the padding values of every point: binary data
// does (its size is checked with them), compressed data when its size says
// so, text when the rest of the file could hold them. Otherwise padding gets
// no storage, so that a header cannot make the reader allocate what the file
// does not hold (COUNT 60000 padding bytes for each of the points of a few
// short lines).
bool data_holds_padding(const InputSource& source, const FileLayout& layout, uint64_t points,
                        const CompressedSizes& sizes) {
  if (layout.encoding == Encoding::BinaryCompressed) return sizes.has_padding;
  if (layout.encoding != Encoding::Ascii) return true;
  uint64_t per_point = min_record_bytes(layout);
  for (const LayoutField& field : layout.fields)
    if (field.padding) per_point += 2 * uint64_t{field.count};  // a digit and a separator
  const auto left = source.remaining();
  return !left || points <= (*left + 1) / per_point;  // the last line may lack its newline
}

// Padding the data never held is left out of the layout: it carries no
// values, and written back as zeros it would turn a small file declaring huge
// padding into a huge one.
void drop_padding_fields(FileLayout& layout) {
  auto& fields = layout.fields;
  fields.erase(std::remove_if(fields.begin(), fields.end(), [](const LayoutField& f) { return f.padding; }),
               fields.end());
}

}  // namespace

PointCloud read_pcd(InputSource& source) {
  PcdHeader header = parse_header(source);
  PointCloud cloud;
  cloud.layout = make_layout(source, header);
  const uint64_t points = *header.points;
  CompressedSizes sizes{};
  if (header.encoding == Encoding::BinaryCompressed) sizes = read_compressed_sizes(source, cloud.layout, points);
  else check_fits(source, points, min_record_bytes(cloud.layout), "points");
  const bool keep_padding = data_holds_padding(source, cloud.layout, points, sizes);
  const std::vector<ReadSlot> slots = bind_read_slots(cloud, points, source, "field", keep_padding);
  switch (header.encoding) {
    case Encoding::Ascii: read_text_points(source, cloud, slots); break;
    case Encoding::BinaryCompressed: read_compressed_points(source, cloud, slots, sizes); break;
    default: read_binary_records(source, points, slots, !kNativeLittleEndian, cloud.xyz, "points");
  }
  if (!keep_padding) drop_padding_fields(cloud.layout);
  return cloud;
}

PointCloud read_pcd_header(InputSource& source, uint64_t& points) {
  PcdHeader header = parse_header(source);
  PointCloud cloud;
  cloud.layout = make_layout(source, header);
  points = *header.points;
  bind_read_slots(cloud, 0, source, "field");
  return cloud;
}

}  // namespace ici3d::host::io_detail
