#include "records.h"

#include <algorithm>

#include "scalar.h"

namespace ici3d::host::io_detail {

// Points decoded or encoded per buffer when streaming records.
constexpr size_t kBlockPoints = 1 << 16;

void decode_block(const unsigned char* data, size_t begin, size_t end, const std::vector<ReadSlot>& slots,
                  const BufferLayout& layout, bool swap, std::vector<double>& xyz) {
  unsigned char value[kMaxScalarSize];
  for (size_t s = 0; s < slots.size(); ++s) {
    const size_t size = scalar_size(slots[s].type);
    const unsigned char* src = data + layout.offsets[s];
    for (size_t point = begin; point < end; ++point, src += layout.strides[s]) {
      std::memcpy(value, src, size);
      if (swap) reverse_bytes(value, size);
      store_value(slots[s], xyz, point, value);
    }
  }
}

void encode_block(unsigned char* data, size_t begin, size_t end, const std::vector<WriteSlot>& slots,
                  const BufferLayout& layout, bool swap, const std::vector<double>& xyz) {
  for (size_t s = 0; s < slots.size(); ++s) {
    const size_t size = scalar_size(slots[s].type);
    unsigned char* dst = data + layout.offsets[s];
    for (size_t point = begin; point < end; ++point, dst += layout.strides[s]) {
      load_value(slots[s], xyz, point, dst);
      if (swap) reverse_bytes(dst, size);
    }
  }
}

void read_binary_records(InputSource& source, uint64_t points, const std::vector<ReadSlot>& slots, bool swap,
                         std::vector<double>& xyz, const std::string& noun) {
  const BufferLayout layout = record_layout(slots);
  const size_t size = record_size(slots);
  std::vector<unsigned char> buffer;
  for (uint64_t begin = 0; begin < points; begin += kBlockPoints) {
    const auto end = static_cast<size_t>(std::min<uint64_t>(points, begin + kBlockPoints));
    buffer.resize((end - begin) * size);
    source.read_bytes(buffer.data(), buffer.size(),
                      noun + " " + std::to_string(begin) + " to " + std::to_string(end - 1));
    decode_block(buffer.data(), static_cast<size_t>(begin), end, slots, layout, swap, xyz);
  }
}

void write_binary_records(std::ostream& out, size_t points, const std::vector<WriteSlot>& slots, bool swap,
                          const std::vector<double>& xyz) {
  const BufferLayout layout = record_layout(slots);
  const size_t size = record_size(slots);
  std::vector<unsigned char> buffer;
  for (size_t begin = 0; begin < points; begin += kBlockPoints) {
    const size_t end = std::min(points, begin + kBlockPoints);
    buffer.resize((end - begin) * size);
    encode_block(buffer.data(), begin, end, slots, layout, swap, xyz);
    out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
  }
}

static bool is_space_or_tab(char ch) { return ch == ' ' || ch == '\t'; }

std::vector<std::string_view> split_whitespace(std::string_view line) {
  std::vector<std::string_view> tokens;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_space_or_tab(line[i])) ++i;
    const size_t start = i;
    while (i < line.size() && !is_space_or_tab(line[i])) ++i;
    if (i > start) tokens.push_back(line.substr(start, i - start));
  }
  return tokens;
}

bool is_blank(std::string_view line) { return std::all_of(line.begin(), line.end(), is_space_or_tab); }

bool read_nonblank_line(InputSource& source, std::string& line) {
  while (source.read_line(line))
    if (!is_blank(line)) return true;
  return false;
}

void parse_text_record(const std::vector<std::string_view>& tokens, const std::vector<ReadSlot>& slots,
                       size_t point, InputSource& source, std::vector<double>& xyz) {
  if (tokens.size() != slots.size())
    source.fail_at_line("point " + std::to_string(point) + ": expected " + std::to_string(slots.size()) +
                        " values, found " + std::to_string(tokens.size()));
  unsigned char value[kMaxScalarSize];
  for (size_t s = 0; s < slots.size(); ++s) {
    if (!parse_scalar(tokens[s], slots[s].type, value))
      source.fail_at_line("point " + std::to_string(point) + ": '" + slots[s].name + "' expects a " +
                          scalar_type_name(slots[s].type) + " value, found '" + std::string(tokens[s]) + "'");
    store_value(slots[s], xyz, point, value);
  }
}

void write_text_records(std::ostream& out, size_t points, const std::vector<WriteSlot>& slots, char delimiter,
                        const std::vector<double>& xyz) {
  std::string text;
  unsigned char value[kMaxScalarSize];
  for (size_t point = 0; point < points; ++point) {
    for (size_t s = 0; s < slots.size(); ++s) {
      if (s > 0) text.push_back(delimiter);
      load_value(slots[s], xyz, point, value);
      append_scalar(text, slots[s].type, value);
      if (slots[s].decimal_point) text += ".0";
    }
    text.push_back('\n');
    if (text.size() > (1u << 20)) {
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
      text.clear();
    }
  }
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string single_line(std::string text) {
  std::replace_if(text.begin(), text.end(), [](char ch) { return ch == '\n' || ch == '\r'; }, ' ');
  return text;
}

void check_written(const std::ostream& out, const std::string& name) {
  if (!out) throw IoError(name + ": write failed");
}

}  // namespace ici3d::host::io_detail
