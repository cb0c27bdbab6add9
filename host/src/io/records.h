#pragma once
// Reading and writing the per-point records of a file, binary or text, given
// the slots of their values.

#include <ostream>
#include <string_view>
#include <vector>

#include "input_source.h"
#include "slots.h"

namespace ici3d::host::io_detail {

/// Where the values of a block of points lie in a buffer: the value of slot s
/// for the k-th point of the block is at offsets[s] + k * strides[s].
struct BufferLayout {
  std::vector<size_t> offsets;
  std::vector<size_t> strides;
};

/// Point-major records: each point's values one after another.
template <class Slot>
BufferLayout record_layout(const std::vector<Slot>& slots) {
  BufferLayout layout;
  size_t offset = 0;
  for (const Slot& slot : slots) {
    layout.offsets.push_back(offset);
    offset += scalar_size(slot.type);
  }
  layout.strides.assign(slots.size(), offset);
  return layout;
}

template <class Slot>
size_t record_size(const std::vector<Slot>& slots) {
  size_t size = 0;
  for (const Slot& slot : slots) size += scalar_size(slot.type);
  return size;
}

/// Decodes points [begin, end) from `data`; `swap` reverses each value's bytes.
void decode_block(const unsigned char* data, size_t begin, size_t end, const std::vector<ReadSlot>& slots,
                  const BufferLayout& layout, bool swap, std::vector<double>& xyz);
/// Encodes points [begin, end) into `data`.
void encode_block(unsigned char* data, size_t begin, size_t end, const std::vector<WriteSlot>& slots,
                  const BufferLayout& layout, bool swap, const std::vector<double>& xyz);

/// Reads `points` point-major binary records (the caller has checked the size).
/// `noun` names the records in messages ("vertices", "points").
void read_binary_records(InputSource& source, uint64_t points, const std::vector<ReadSlot>& slots, bool swap,
                         std::vector<double>& xyz, const std::string& noun);
void write_binary_records(std::ostream& out, size_t points, const std::vector<WriteSlot>& slots, bool swap,
                          const std::vector<double>& xyz);

/// Splits on runs of spaces and tabs.
std::vector<std::string_view> split_whitespace(std::string_view line);
bool is_blank(std::string_view line);

/// Next line that is not blank; false at the end.
bool read_nonblank_line(InputSource& source, std::string& line);

/// Parses one text record (the tokens of one line) of point `point`; errors
/// name the line of `source` and the field.
void parse_text_record(const std::vector<std::string_view>& tokens, const std::vector<ReadSlot>& slots,
                       size_t point, InputSource& source, std::vector<double>& xyz);
/// Writes one line per point, values separated by `delimiter`.
void write_text_records(std::ostream& out, size_t points, const std::vector<WriteSlot>& slots, char delimiter,
                        const std::vector<double>& xyz);

/// The text with line breaks turned into spaces, for header lines.
std::string single_line(std::string text);

/// Throws IoError naming `name` when the stream is in a failed state.
void check_written(const std::ostream& out, const std::string& name);

}  // namespace ici3d::host::io_detail
