// ASPRS LAS writer. A cloud read from LAS is written with its own header,
// VLRs, EVLRs, point format, record length, scale and offset; only the
// bounds, the point counts, the offsets of what follows the records and the
// generating software change. Any other cloud becomes a LAS 1.4 file of point
// format 6 (7 with red, green and blue, 8 with nir too) whose other
// attributes are extra bytes described by an Extra Bytes VLR.

#include <cmath>
#include <ctime>
#include <limits>
#include <set>

#include "formats.h"
#include "ici3d_host/version.h"
#include "las_format.h"
#include "records.h"

namespace ici3d::host::io_detail {

namespace {

namespace h = las_header;

constexpr size_t kBlockPoints = 16384;
const char* const kAxisNames[3] = {"x", "y", "z"};

[[noreturn]] void fail(const std::string& name, const std::string& message) { throw IoError(name + ": " + message); }

// Shortest text that reads back as the value.
std::string number(double value) {
  std::string text;
  append_double(text, value);
  return text;
}

uint64_t stored_point_count(const LasLayout& las) {
  const uint32_t legacy = las_get<uint32_t>(las.header.data(), h::kLegacyPointCount);
  if (las.version_minor < 4) return legacy;
  const uint64_t count = las_get<uint64_t>(las.header.data(), h::kPointCount);
  return count != 0 ? count : legacy;
}

// ---------------------------------------------------------------------------
// A new layout for a cloud that was not read from LAS.

bool has_attributes(const PointCloud& cloud, std::initializer_list<const char*> names) {
  for (const char* name : names)
    if (!cloud.find_attribute(name)) return false;
  return true;
}

// Per axis: an integral offset at the middle of the extent, and the finest
// power of ten from 1e-7 up whose 32-bit steps reach both ends.
void choose_scale_offset(const PointCloud& cloud, LasLayout& las) {
  for (int c = 0; c < 3; ++c) {
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (size_t i = 0; i < cloud.size(); ++i) {
      const double v = cloud.xyz[3 * i + static_cast<size_t>(c)];
      if (!std::isfinite(v)) continue;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    las.offset[c] = lo <= hi ? std::round(lo / 2 + hi / 2) + 0.0 : 0.0;  // + 0.0: no -0
    const double half = lo <= hi ? std::max(hi - las.offset[c], las.offset[c] - lo) : 0.0;
    double scale = 1e-7;
    while (half / scale > 2.0e9 && scale < 1e300) scale *= 10;
    las.scale[c] = scale;
  }
}

void put_text(std::vector<unsigned char>& bytes, size_t offset, size_t size, const std::string& text) {
  std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), size, 0);
  std::memcpy(bytes.data() + offset, text.data(), std::min(size, text.size()));
}

std::vector<unsigned char> extra_bytes_vlr(const std::vector<const Attribute*>& extras) {
  std::vector<unsigned char> vlr(kLasVlrHeaderSize + kLasExtraDescriptorSize * extras.size(), 0);
  put_text(vlr, 2, 16, "LASF_Spec");
  las_put<uint16_t>(vlr.data(), 18, 4);
  las_put<uint16_t>(vlr.data(), 20, static_cast<uint16_t>(kLasExtraDescriptorSize * extras.size()));
  put_text(vlr, 22, 32, "Extra Bytes Record");
  for (size_t e = 0; e < extras.size(); ++e) {
    const size_t at = kLasVlrHeaderSize + e * kLasExtraDescriptorSize;
    vlr[at + 2] = las_extra_type_code(extras[e]->type);
    put_text(vlr, at + 4, 32, extras[e]->name);
  }
  return vlr;
}

LasLayout new_layout(const PointCloud& cloud, const std::string& name) {
  LasLayout las;
  las.version_major = 1;
  las.version_minor = 4;
  const bool rgb = has_attributes(cloud, {"red", "green", "blue"});
  las.point_format = rgb && cloud.find_attribute("nir") ? 8 : rgb ? 7 : 6;
  choose_scale_offset(cloud, las);

  // Attributes the format has no field for become extra bytes.
  LasLayout probe = las;
  probe.record_length = las_base_record_length(las.point_format);
  std::set<std::string> standard;
  for (const LasField& field : las_record_plan(probe, {}, name).fields) standard.insert(field.name);
  std::vector<const Attribute*> extras;
  uint32_t extra_size = 0;
  for (const Attribute& attribute : cloud.attributes) {
    if (standard.count(attribute.name)) continue;
    if (attribute.name.size() > 32)
      fail(name, "attribute name '" + attribute.name + "' is longer than the 32 bytes LAS extra bytes allow");
    extras.push_back(&attribute);
    extra_size += static_cast<uint32_t>(scalar_size(attribute.type));
  }
  const uint32_t record_length = las_base_record_length(las.point_format) + extra_size;
  if (record_length > UINT16_MAX || extras.size() * kLasExtraDescriptorSize > UINT16_MAX)
    fail(name, "too many attributes for a LAS point record (" + std::to_string(record_length) + " bytes)");
  las.record_length = static_cast<uint16_t>(record_length);
  if (!extras.empty()) las.vlr_bytes = extra_bytes_vlr(extras);

  las.header.assign(h::kSize14, 0);
  unsigned char* header = las.header.data();
  std::memcpy(header, "LASF", 4);
  las_put<uint16_t>(header, h::kGlobalEncoding, 0x10);  // the CRS, if one is added, is WKT
  header[h::kVersionMajor] = 1;
  header[h::kVersionMinor] = 4;
  put_text(las.header, 26, 32, "OTHER");
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  las_put<uint16_t>(header, h::kCreationDay, static_cast<uint16_t>(utc.tm_yday + 1));
  las_put<uint16_t>(header, h::kCreationYear, static_cast<uint16_t>(utc.tm_year + 1900));
  las_put<uint16_t>(header, h::kHeaderSize, static_cast<uint16_t>(h::kSize14));
  las_put<uint32_t>(header, h::kPointDataOffset, static_cast<uint32_t>(h::kSize14 + las.vlr_bytes.size()));
  las_put<uint32_t>(header, h::kVlrCount, extras.empty() ? 0 : 1);
  header[h::kPointFormat] = las.point_format;
  las_put<uint16_t>(header, h::kRecordLength, las.record_length);
  for (int c = 0; c < 3; ++c) {
    las_put<double>(header, h::kScale + 8 * c, las.scale[c]);
    las_put<double>(header, h::kOffset + 8 * c, las.offset[c]);
  }
  return las;
}

// ---------------------------------------------------------------------------
// Values

// Whether `value` converts to `type` without change.
bool fits(ScalarType type, double value) {
  if (type == ScalarType::Float64) return true;
  if (type == ScalarType::Float32) return std::isnan(value) || static_cast<double>(static_cast<float>(value)) == value;
  if (!std::isfinite(value) || value != std::floor(value)) return false;
  return visit_scalar(type, [&](auto zero) {
    using T = decltype(zero);
    return value >= static_cast<double>(std::numeric_limits<T>::lowest()) &&
           value <= static_cast<double>(std::numeric_limits<T>::max());
  });
}

struct BoundField {
  const LasField* field;
  const Attribute* attribute;  // null: written as zeros
  bool same_type;
};

std::vector<BoundField> bind_fields(const PointCloud& cloud, const LasRecordPlan& plan, const std::string& name) {
  std::vector<BoundField> bound;
  std::set<std::string> used;
  for (const LasField& field : plan.fields) {
    if (field.axis >= 0) continue;
    const Attribute* attribute = cloud.find_attribute(field.name);
    if (attribute) {
      used.insert(field.name);
      if (attribute->bytes.size() != cloud.size() * scalar_size(attribute->type))
        fail(name, "attribute '" + attribute->name + "' holds " + std::to_string(attribute->size()) +
                       " values for " + std::to_string(cloud.size()) + " points");
    }
    bound.push_back(BoundField{&field, attribute, attribute && attribute->type == field.type && !field.bits});
  }
  for (const Attribute& attribute : cloud.attributes)
    if (!used.count(attribute.name))
      fail(name, "attribute '" + attribute.name + "' has no place in the point records of the LAS file the cloud "
                 "was read from; write another format, or write without the source's layout for a new LAS file");
  return bound;
}

void put_value(const BoundField& b, size_t point, int format, unsigned char* record, const std::string& name) {
  const LasField& field = *b.field;
  const size_t size = scalar_size(field.type);
  if (!b.attribute) return;  // the record starts zeroed
  if (b.same_type) {
    std::memcpy(record + field.offset, b.attribute->bytes.data() + point * size, size);
    if (!kNativeLittleEndian) reverse_bytes(record + field.offset, size);
    return;
  }
  const double value = b.attribute->as_double(point);
  if (field.bits) {
    const double limit = static_cast<double>((1u << field.bits) - 1);
    if (!(value >= 0 && value <= limit && value == std::floor(value)))
      fail(name, "point " + std::to_string(point) + ": " + field.name + " is " + number(value) +
                     ", but LAS point format " + std::to_string(format) + " stores it in " +
                     std::to_string(field.bits) + " bits (0 to " + std::to_string(static_cast<int>(limit)) + ")");
    record[field.offset] |= static_cast<unsigned char>(static_cast<unsigned>(value) << field.shift);
    return;
  }
  if (!fits(field.type, value))
    fail(name, "point " + std::to_string(point) + ": " + field.name + " is " + number(value) +
                   ", which LAS stores as " + scalar_type_name(field.type) +
                   " and cannot hold (rename the attribute to keep it as extra bytes)");
  store_from_double(field.type, value, record + field.offset);
  if (!kNativeLittleEndian) reverse_bytes(record + field.offset, size);
}

// The stored integer nearest to (value - offset) / scale; of equally near
// ones, one that reads back as exactly `value` when there is one.
int32_t quantize(double value, double scale, double offset, size_t point, int axis, const std::string& name) {
  const double steps = std::round((value - offset) / scale);
  if (!(steps >= -2147483648.0 && steps <= 2147483647.0))
    fail(name, "point " + std::to_string(point) + ": " + kAxisNames[axis] + " = " + number(value) +
                   " does not fit LAS's 32-bit integers with scale " + number(scale) + " and offset " +
                   number(offset) + " (" + (std::isfinite(value) ? "too far from the offset" : "not finite") +
                   ")");
  auto stored = static_cast<int32_t>(steps);
  for (int32_t delta : {-1, 1}) {
    if (static_cast<double>(stored) * scale + offset == value) break;
    const int64_t other = int64_t{stored} + delta;
    if (other >= INT32_MIN && other <= INT32_MAX && static_cast<double>(other) * scale + offset == value)
      stored = static_cast<int32_t>(other);
  }
  return stored;
}

struct Summary {
  double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
  uint64_t by_return[15] = {};
};

void encode_block(const PointCloud& cloud, const LasLayout& las, const LasRecordPlan& plan,
                  const std::vector<BoundField>& bound, size_t begin, size_t end, std::vector<unsigned char>& data,
                  Summary& summary, const std::string& name) {
  const size_t length = las.record_length;
  data.assign((end - begin) * length, 0);
  const bool has_opaque = plan.opaque_size > 0 && las.opaque_size == plan.opaque_size &&
                          las.opaque_bytes.size() == cloud.size() * plan.opaque_size;
  for (size_t p = begin; p < end; ++p) {
    unsigned char* record = data.data() + (p - begin) * length;
    for (int c = 0; c < 3; ++c) {
      const int32_t stored = quantize(cloud.xyz[3 * p + static_cast<size_t>(c)], las.scale[c], las.offset[c], p, c, name);
      las_put<int32_t>(record, static_cast<size_t>(4 * c), stored);
      const double position = static_cast<double>(stored) * las.scale[c] + las.offset[c];
      if (p == 0 || position < summary.lo[c]) summary.lo[c] = position;
      if (p == 0 || position > summary.hi[c]) summary.hi[c] = position;
    }
    for (const BoundField& b : bound) put_value(b, p, las.point_format, record, name);
    if (has_opaque) {
      const unsigned char* opaque = las.opaque_bytes.data() + p * plan.opaque_size;
      for (const auto& [b, e] : plan.opaque) {
        std::memcpy(record + b, opaque, e - b);
        opaque += e - b;
      }
    }
    const unsigned return_number = record[14] & (las.point_format <= 5 ? 0x07 : 0x0F);
    if (return_number >= 1) ++summary.by_return[return_number - 1];
  }
}

// Offsets into the part after the point records move with its start.
void shift_offset(unsigned char* header, size_t at, uint64_t old_end, uint64_t new_end) {
  const uint64_t value = las_get<uint64_t>(header, at);
  if (value != 0 && value >= old_end) las_put<uint64_t>(header, at, value - old_end + new_end);
}

void patch_header(LasLayout& las, uint64_t points, const Summary& summary, uint64_t old_points_end,
                  const std::string& name) {
  unsigned char* header = las.header.data();
  const bool modern = las.version_minor >= 4;
  // 1.4 keeps the 32-bit counts for formats 0 to 5 only; older versions
  // have no other.
  const bool legacy_allowed = points <= UINT32_MAX && (!modern || las.point_format <= 5);
  if (!modern && !legacy_allowed)
    fail(name, std::to_string(points) + " points are more than a LAS 1." + std::to_string(las.version_minor) +
                   " header can count");
  las_put<uint32_t>(header, h::kLegacyPointCount, legacy_allowed ? static_cast<uint32_t>(points) : 0);
  for (int r = 0; r < 5; ++r)
    las_put<uint32_t>(header, h::kLegacyByReturn + 4 * r,
                      legacy_allowed ? static_cast<uint32_t>(summary.by_return[r]) : 0);
  for (int c = 0; c < 3; ++c) {
    las_put<double>(header, h::kBounds + 16 * c, summary.hi[c]);
    las_put<double>(header, h::kBounds + 16 * c + 8, summary.lo[c]);
  }
  const uint64_t data_offset = las_get<uint32_t>(header, h::kPointDataOffset);
  const uint64_t new_end = data_offset + points * las.record_length;
  if (las.header.size() >= h::kSize13 && las.version_minor >= 3)
    shift_offset(header, h::kWaveformStart, old_points_end, new_end);
  if (modern) {
    shift_offset(header, h::kEvlrStart, old_points_end, new_end);
    las_put<uint64_t>(header, h::kPointCount, points);
    for (int r = 0; r < 15; ++r) las_put<uint64_t>(header, h::kByReturn + 8 * r, summary.by_return[r]);
  }
  put_text(las.header, h::kGeneratingSoftware, 32, "ici3d " + version_string());
}

void write_bytes(std::ostream& out, const std::vector<unsigned char>& bytes) {
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

void write_las(std::ostream& out, const std::string& name, const PointCloud& cloud) {
  if (cloud.xyz.size() % 3 != 0) fail(name, "xyz holds a number of values not divisible by 3");
  const bool from_las = cloud.layout.format == Format::Las && cloud.layout.las.header.size() >= h::kSize10;
  LasLayout las = from_las ? cloud.layout.las : new_layout(cloud, name);
  const unsigned char* header = las.header.data();
  const uint64_t old_points_end =
      uint64_t{las_get<uint32_t>(header, h::kPointDataOffset)} + stored_point_count(las) * las.record_length;
  uint32_t evlr_count = 0;
  uint64_t evlr_start = 0;
  if (las.version_minor >= 4 && las.header.size() >= h::kSize14) {
    evlr_count = las_get<uint32_t>(header, h::kEvlrCount);
    const uint64_t start = las_get<uint64_t>(header, h::kEvlrStart);
    evlr_start = start >= old_points_end ? start - old_points_end : las.tail_bytes.size();
  }
  const std::vector<LasRecordSpan> records = las_list_records(
      las.vlr_bytes, las_get<uint32_t>(header, h::kVlrCount), las.tail_bytes, evlr_start, evlr_count, name);
  const LasRecordPlan plan = las_record_plan(las, records, name);
  const std::vector<BoundField> bound = bind_fields(cloud, plan, name);

  // A first pass checks every value and gathers the bounds and return counts
  // the header needs; the second writes the records block by block.
  const size_t n = cloud.size();
  Summary summary;
  std::vector<unsigned char> block;
  for (size_t begin = 0; begin < n; begin += kBlockPoints)
    encode_block(cloud, las, plan, bound, begin, std::min(n, begin + kBlockPoints), block, summary, name);
  patch_header(las, n, summary, old_points_end, name);
  write_bytes(out, las.header);
  write_bytes(out, las.vlr_bytes);
  for (size_t begin = 0; begin < n; begin += kBlockPoints) {
    Summary ignored;
    encode_block(cloud, las, plan, bound, begin, std::min(n, begin + kBlockPoints), block, ignored, name);
    write_bytes(out, block);
  }
  write_bytes(out, las.tail_bytes);
  check_written(out, name);
}

}  // namespace ici3d::host::io_detail
