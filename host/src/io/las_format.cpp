#include "las_format.h"

#include <algorithm>
#include <set>

#include "ici3d_host/io.h"

namespace ici3d::host::io_detail {

namespace {

constexpr uint16_t kBaseLength[kLasMaxPointFormat + 1] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};

void add(std::vector<LasField>& fields, const char* name, ScalarType type, uint16_t offset) {
  fields.push_back(LasField{name, type, offset, 0, 0, -1});
}

void add_bits(std::vector<LasField>& fields, const char* name, uint16_t offset, uint8_t shift, uint8_t bits) {
  fields.push_back(LasField{name, ScalarType::UInt8, offset, shift, bits, -1});
}

void add_rgb(std::vector<LasField>& fields, uint16_t at) {
  add(fields, "red", ScalarType::UInt16, at);
  add(fields, "green", ScalarType::UInt16, at + 2);
  add(fields, "blue", ScalarType::UInt16, at + 4);
}

void add_wave_packet(std::vector<LasField>& fields, uint16_t at) {
  add(fields, "wavepacket_index", ScalarType::UInt8, at);
  add(fields, "wavepacket_offset", ScalarType::UInt64, at + 1);
  add(fields, "wavepacket_size", ScalarType::UInt32, at + 9);
  add(fields, "return_point_wave_location", ScalarType::Float32, at + 13);
  add(fields, "x_t", ScalarType::Float32, at + 17);
  add(fields, "y_t", ScalarType::Float32, at + 21);
  add(fields, "z_t", ScalarType::Float32, at + 25);
}

// Formats 0 to 5 share the 20-byte core; 6 to 10 the 30-byte one.
std::vector<LasField> standard_fields(int format) {
  std::vector<LasField> f;
  for (int axis = 0; axis < 3; ++axis)
    f.push_back(LasField{std::string(1, static_cast<char>('x' + axis)), ScalarType::Int32,
                         static_cast<uint16_t>(4 * axis), 0, 0, axis});
  add(f, "intensity", ScalarType::UInt16, 12);
  if (format <= 5) {
    add_bits(f, "return_number", 14, 0, 3);
    add_bits(f, "number_of_returns", 14, 3, 3);
    add_bits(f, "scan_direction_flag", 14, 6, 1);
    add_bits(f, "edge_of_flight_line", 14, 7, 1);
    add_bits(f, "classification", 15, 0, 5);
    add_bits(f, "synthetic", 15, 5, 1);
    add_bits(f, "key_point", 15, 6, 1);
    add_bits(f, "withheld", 15, 7, 1);
    add(f, "scan_angle_rank", ScalarType::Int8, 16);
    add(f, "user_data", ScalarType::UInt8, 17);
    add(f, "point_source_id", ScalarType::UInt16, 18);
    const bool gps = format == 1 || format >= 3;
    if (gps) add(f, "gps_time", ScalarType::Float64, 20);
    const uint16_t after = gps ? 28 : 20;
    if (format == 2 || format == 3 || format == 5) add_rgb(f, after);
    if (format == 4) add_wave_packet(f, 28);
    if (format == 5) add_wave_packet(f, 34);
    return f;
  }
  add_bits(f, "return_number", 14, 0, 4);
  add_bits(f, "number_of_returns", 14, 4, 4);
  add_bits(f, "synthetic", 15, 0, 1);
  add_bits(f, "key_point", 15, 1, 1);
  add_bits(f, "withheld", 15, 2, 1);
  add_bits(f, "overlap", 15, 3, 1);
  add_bits(f, "scanner_channel", 15, 4, 2);
  add_bits(f, "scan_direction_flag", 15, 6, 1);
  add_bits(f, "edge_of_flight_line", 15, 7, 1);
  add(f, "classification", ScalarType::UInt8, 16);
  add(f, "user_data", ScalarType::UInt8, 17);
  add(f, "scan_angle", ScalarType::Int16, 18);
  add(f, "point_source_id", ScalarType::UInt16, 20);
  add(f, "gps_time", ScalarType::Float64, 22);
  if (format == 7 || format == 8 || format == 10) add_rgb(f, 30);
  if (format == 8 || format == 10) add(f, "nir", ScalarType::UInt16, 36);
  if (format == 9) add_wave_packet(f, 30);
  if (format == 10) add_wave_packet(f, 38);
  return f;
}

constexpr ScalarType kExtraTypes[10] = {ScalarType::UInt8,  ScalarType::Int8,   ScalarType::UInt16, ScalarType::Int16,
                                        ScalarType::UInt32, ScalarType::Int32,  ScalarType::UInt64, ScalarType::Int64,
                                        ScalarType::Float32, ScalarType::Float64};

std::string unique_name(std::string name, size_t index, std::set<std::string>& taken) {
  if (name.empty()) name = "extra_" + std::to_string(index);
  std::string candidate = name;
  for (int k = 2; !taken.insert(candidate).second; ++k) candidate = name + "_" + std::to_string(k);
  return candidate;
}

// The typed fields the Extra Bytes descriptors describe, from `begin` on.
void add_extra_fields(LasRecordPlan& plan, const LasRecordSpan& record, uint16_t begin, uint16_t end,
                      const std::string& where) {
  std::set<std::string> taken;
  for (const LasField& field : plan.fields) taken.insert(field.name);
  const size_t descriptors = record.size / kLasExtraDescriptorSize;
  uint32_t at = begin;
  for (size_t d = 0; d < descriptors; ++d) {
    const unsigned char* descriptor = record.data + d * kLasExtraDescriptorSize;
    const uint8_t code = descriptor[2];
    const std::string name = las_text(descriptor + 4, 32);
    if (code == 0) {
      // Undocumented bytes: options holds their number; they stay opaque.
      at += descriptor[3];
      if (at > end) break;
      continue;
    }
    if (code > 30)
      throw IoError(where + ": extra bytes '" + name + "' have data type " + std::to_string(code) +
                    ", which is none of 0 to 30");
    const ScalarType type = kExtraTypes[(code - 1) % 10];
    const uint32_t count = (code - 1) / 10 + 1;  // 11 to 30: deprecated 2- and 3-element arrays
    const uint32_t size = count * static_cast<uint32_t>(scalar_size(type));
    if (at + size > end)
      throw IoError(where + ": extra bytes '" + name + "' end at byte " + std::to_string(at + size) +
                    " of a point record only " + std::to_string(end) + " bytes long");
    for (uint32_t c = 0; c < count; ++c) {
      const std::string component = count > 1 ? name + "_" + std::to_string(c) : name;
      plan.fields.push_back(LasField{unique_name(component, d, taken), type,
                                     static_cast<uint16_t>(at + c * scalar_size(type)), 0, 0, -1});
    }
    at += size;
  }
  if (at > end)
    throw IoError(where + ": the extra bytes described need " + std::to_string(at - begin) +
                  " bytes, but point records hold " + std::to_string(end - begin) + " extra bytes");
}

}  // namespace

std::string las_text(const unsigned char* bytes, size_t size) {
  const auto* end = std::find(bytes, bytes + size, '\0');
  return std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(end - bytes));
}

const LasRecordSpan* las_find_extra_bytes(const std::vector<LasRecordSpan>& records) {
  for (const LasRecordSpan& record : records)
    if (record.info.user_id == "LASF_Spec" && record.info.record_id == 4) return &record;
  return nullptr;
}

uint16_t las_base_record_length(int point_format) { return kBaseLength[point_format]; }

uint8_t las_extra_type_code(ScalarType type) {
  for (uint8_t code = 1; code <= 10; ++code)
    if (kExtraTypes[code - 1] == type) return code;
  return 0;
}

namespace {

// Where the two kinds of variable-length record differ: the header size, the
// width of the length field, where the description starts, and what lies
// past their blob (for messages).
struct RecordKind {
  const char* name;
  bool extended;
  uint64_t header_size;
  size_t description_at;
  const char* past;
};

constexpr RecordKind kVlr{"VLR", false, kLasVlrHeaderSize, 22, "the point data offset"};
constexpr RecordKind kEvlr{"EVLR", true, kLasEvlrHeaderSize, 28, "the end of the file"};

// Appends the `count` records of one kind found from `at` in `blob`.
void list_records_of(const RecordKind& kind, const std::vector<unsigned char>& blob, uint64_t at,
                     uint32_t count, const std::string& where, std::vector<LasRecordSpan>& records) {
  for (uint32_t v = 0; v < count; ++v) {
    if (at > blob.size() || blob.size() - at < kind.header_size)
      throw IoError(where + ": " + kind.name + " " + std::to_string(v + 1) + " of " +
                    std::to_string(count) + " starts past " + kind.past);
    const unsigned char* h = blob.data() + at;
    LasRecordSpan span;
    span.info.extended = kind.extended;
    span.info.user_id = las_text(h + 2, 16);
    span.info.record_id = las_get<uint16_t>(h, 18);
    span.info.length = kind.extended ? las_get<uint64_t>(h, 20) : las_get<uint16_t>(h, 20);
    span.info.description = las_text(h + kind.description_at, 32);
    at += kind.header_size;
    if (blob.size() - at < span.info.length)
      throw IoError(where + ": " + kind.name + " " + std::to_string(v + 1) + " ('" +
                    span.info.user_id + "' " + std::to_string(span.info.record_id) +
                    ") runs past " + kind.past);
    span.data = blob.data() + at;
    span.size = span.info.length;
    at += span.info.length;
    records.push_back(std::move(span));
  }
}

}  // namespace

std::vector<LasRecordSpan> las_list_records(const std::vector<unsigned char>& vlr_bytes, uint32_t vlr_count,
                                            const std::vector<unsigned char>& tail, uint64_t evlr_start,
                                            uint32_t evlr_count, const std::string& where) {
  std::vector<LasRecordSpan> records;
  list_records_of(kVlr, vlr_bytes, 0, vlr_count, where, records);
  list_records_of(kEvlr, tail, evlr_start, evlr_count, where, records);
  return records;
}

LasRecordPlan las_record_plan(const LasLayout& layout, const std::vector<LasRecordSpan>& records,
                              const std::string& where) {
  if (layout.point_format > kLasMaxPointFormat)
    throw IoError(where + ": point data record format " + std::to_string(layout.point_format) +
                  " is none of 0 to 10");
  const uint16_t base = las_base_record_length(layout.point_format);
  if (layout.record_length < base)
    throw IoError(where + ": point records of " + std::to_string(layout.record_length) +
                  " bytes are shorter than the " + std::to_string(base) + " bytes format " +
                  std::to_string(layout.point_format) + " needs");
  LasRecordPlan plan;
  plan.fields = standard_fields(layout.point_format);
  if (const LasRecordSpan* extra = las_find_extra_bytes(records))
    add_extra_fields(plan, *extra, base, layout.record_length, where);
  // Whatever no field covers is kept as opaque bytes.
  std::vector<bool> covered(layout.record_length, false);
  for (const LasField& field : plan.fields)
    std::fill_n(covered.begin() + field.offset, field.bits ? 1 : scalar_size(field.type), true);
  for (uint16_t b = 0; b < layout.record_length;) {
    if (covered[b]) {
      ++b;
      continue;
    }
    uint16_t e = b;
    while (e < layout.record_length && !covered[e]) ++e;
    plan.opaque.emplace_back(b, e);
    plan.opaque_size += e - b;
    b = e;
  }
  return plan;
}

}  // namespace ici3d::host::io_detail
