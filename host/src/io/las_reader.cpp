// ASPRS LAS 1.0 to 1.4 reader: point data record formats 0 to 10, little
// endian, uncompressed. Positions become x = X * scale + offset; every other
// value of a record becomes an attribute (bit fields one attribute each) or,
// where nothing describes it, opaque bytes of the layout.

#include <cmath>

#include "formats.h"
#include "las_format.h"

namespace ici3d::host::io_detail {

namespace {

namespace h = las_header;

// Records decoded per block: the buffer stays small whatever the file.
constexpr size_t kBlockPoints = 16384;

void check_signature(InputSource& source, const std::vector<unsigned char>& header) {
  if (std::memcmp(header.data(), "LASF", 4) != 0) source.fail_at_byte(0, "not a LAS file (no 'LASF' signature)");
}

uint16_t read_header_size(InputSource& source, const std::vector<unsigned char>& header) {
  const uint16_t size = las_get<uint16_t>(header.data(), h::kHeaderSize);
  // LAS is little endian by definition; a header size that reads right only
  // with its bytes swapped comes from a big-endian writer.
  const uint16_t swapped = static_cast<uint16_t>((size >> 8) | (size << 8));
  const bool known = size == h::kSize10 || size == h::kSize13 || size == h::kSize14;
  if (!known && (swapped == h::kSize10 || swapped == h::kSize13 || swapped == h::kSize14))
    source.fail_at_byte(h::kHeaderSize, "the header is big endian; LAS files are little endian");
  if (size < h::kSize10)
    source.fail_at_byte(h::kHeaderSize, "header size " + std::to_string(size) + " is below the 227 bytes of any LAS header");
  return size;
}

void check_version(InputSource& source, const LasLayout& las, size_t header_size) {
  if (las.version_major != 1 || las.version_minor > 4)
    source.fail_at_byte(h::kVersionMajor, "LAS version " + std::to_string(las.version_major) + "." +
                                              std::to_string(las.version_minor) + " is not supported (1.0 to 1.4 are)");
  const size_t needed = las.version_minor >= 4 ? h::kSize14 : las.version_minor == 3 ? h::kSize13 : h::kSize10;
  if (header_size < needed)
    source.fail_at_byte(h::kHeaderSize, "header size " + std::to_string(header_size) + " is short of the " +
                                            std::to_string(needed) + " bytes of a LAS 1." +
                                            std::to_string(las.version_minor) + " header");
}

void check_point_format(InputSource& source, uint8_t format) {
  // LAZ writers mark compressed records with the top bits of the format.
  if (format & 0xC0)
    source.fail_at_byte(h::kPointFormat, "point data record format " + std::to_string(format & 0x3F) +
                                             " has its compression bit set: this is LAZ (compressed LAS), "
                                             "which is not supported; decompress it to LAS first");
  if (format > kLasMaxPointFormat)
    source.fail_at_byte(h::kPointFormat, "point data record format " + std::to_string(format) +
                                             " is none of 0 to 10");
}

void read_scale_offset(InputSource& source, const unsigned char* header, LasLayout& las) {
  static const char* const kAxes[3] = {"x", "y", "z"};
  for (int c = 0; c < 3; ++c) {
    las.scale[c] = las_get<double>(header, h::kScale + 8 * c);
    las.offset[c] = las_get<double>(header, h::kOffset + 8 * c);
    if (!std::isfinite(las.scale[c]) || las.scale[c] == 0)
      source.fail_at_byte(h::kScale + 8 * c, std::string(kAxes[c]) + " scale factor is zero or not finite");
    if (!std::isfinite(las.offset[c]))
      source.fail_at_byte(h::kOffset + 8 * c, std::string(kAxes[c]) + " offset is not finite");
  }
}

uint64_t point_count(const LasLayout& las) {
  const uint32_t legacy = las_get<uint32_t>(las.header.data(), h::kLegacyPointCount);
  if (las.version_minor < 4) return legacy;
  const uint64_t count = las_get<uint64_t>(las.header.data(), h::kPointCount);
  return count != 0 ? count : legacy;
}

void check_record_fits(InputSource& source, uint64_t points, uint16_t record_length) {
  const auto left = source.remaining();
  if (!left) return;
  if (points > *left / record_length)
    source.fail_at_byte(source.offset(), "header promises " + std::to_string(points) + " point records of " +
                                             std::to_string(record_length) + " bytes, but only " +
                                             std::to_string(*left) + " bytes follow; the file is truncated or "
                                             "its header is wrong (checked before allocating)");
}

// The part of the file after the point records, and where the EVLRs start in it.
uint64_t evlr_start_in_tail(InputSource& source, const LasLayout& las, uint64_t points_end, uint32_t& count) {
  count = 0;
  if (las.version_minor < 4) return 0;
  count = las_get<uint32_t>(las.header.data(), h::kEvlrCount);
  const uint64_t start = las_get<uint64_t>(las.header.data(), h::kEvlrStart);
  if (count == 0) return 0;
  if (start < points_end)
    source.fail_at_byte(h::kEvlrStart, "EVLRs start at byte " + std::to_string(start) +
                                           ", inside the header or the point records (which end at " +
                                           std::to_string(points_end) + ")");
  if (start - points_end > las.tail_bytes.size() ||
      count > (las.tail_bytes.size() - (start - points_end)) / kLasEvlrHeaderSize)
    source.fail_at_byte(h::kEvlrStart, std::to_string(count) + " EVLRs at byte " + std::to_string(start) +
                                           " do not fit in the file");
  return start - points_end;
}

std::vector<Attribute*> bind_attributes(PointCloud& cloud, const LasRecordPlan& plan, size_t points) {
  std::vector<Attribute*> bound;
  cloud.attributes.reserve(plan.fields.size());
  for (const LasField& field : plan.fields) {
    if (field.axis >= 0) {
      bound.push_back(nullptr);
      continue;
    }
    Attribute& attribute = cloud.attributes.emplace_back();
    attribute.name = field.name;
    attribute.type = field.type;
    attribute.bytes.assign(points * scalar_size(field.type), 0);
    bound.push_back(&attribute);
  }
  return bound;
}

void decode_records(const unsigned char* data, size_t begin, size_t end, const LasRecordPlan& plan,
                    const std::vector<Attribute*>& bound, PointCloud& cloud) {
  LasLayout& las = cloud.layout.las;
  const size_t length = las.record_length;
  for (size_t p = begin; p < end; ++p) {
    const unsigned char* record = data + (p - begin) * length;
    for (size_t f = 0; f < plan.fields.size(); ++f) {
      const LasField& field = plan.fields[f];
      if (field.axis >= 0) {
        const int32_t stored = las_get<int32_t>(record, field.offset);
        const auto c = static_cast<size_t>(field.axis);
        cloud.xyz[3 * p + c] = static_cast<double>(stored) * las.scale[c] + las.offset[c];
      } else if (field.bits) {
        bound[f]->bytes[p] = static_cast<unsigned char>((record[field.offset] >> field.shift) & ((1u << field.bits) - 1));
      } else {
        const size_t size = scalar_size(field.type);
        unsigned char* out = bound[f]->bytes.data() + p * size;
        std::memcpy(out, record + field.offset, size);
        if (!kNativeLittleEndian) reverse_bytes(out, size);
      }
    }
    if (plan.opaque_size == 0) continue;
    unsigned char* opaque = las.opaque_bytes.data() + p * plan.opaque_size;
    for (const auto& [b, e] : plan.opaque) {
      std::memcpy(opaque, record + b, e - b);
      opaque += e - b;
    }
  }
}

}  // namespace

PointCloud read_las(InputSource& source) {
  PointCloud cloud;
  FileLayout& layout = cloud.layout;
  layout.format = Format::Las;
  layout.encoding = Encoding::BinaryLittleEndian;
  LasLayout& las = layout.las;

  source.read_bytes(las.header, h::kSize10, "the LAS header");
  check_signature(source, las.header);
  const uint16_t header_size = read_header_size(source, las.header);
  source.read_bytes(las.header, header_size - h::kSize10, "the LAS header");
  const unsigned char* header = las.header.data();
  las.version_major = header[h::kVersionMajor];
  las.version_minor = header[h::kVersionMinor];
  check_version(source, las, header_size);
  check_point_format(source, header[h::kPointFormat]);
  las.point_format = header[h::kPointFormat];
  las.record_length = las_get<uint16_t>(header, h::kRecordLength);
  read_scale_offset(source, header, las);

  const uint32_t data_offset = las_get<uint32_t>(header, h::kPointDataOffset);
  if (data_offset < header_size)
    source.fail_at_byte(h::kPointDataOffset, "point data offset " + std::to_string(data_offset) +
                                                 " lies inside the " + std::to_string(header_size) + "-byte header");
  const auto left = source.remaining();
  if (left && data_offset - header_size > *left)
    source.fail_at_byte(h::kPointDataOffset, "point data offset " + std::to_string(data_offset) +
                                                 " lies past the end of the file");
  source.read_bytes(las.vlr_bytes, data_offset - header_size, "the VLRs");

  const uint64_t points = point_count(las);
  if (points > 0 && las.record_length < las_base_record_length(las.point_format))
    source.fail_at_byte(h::kRecordLength, "point records of " + std::to_string(las.record_length) +
                                              " bytes are shorter than the " +
                                              std::to_string(las_base_record_length(las.point_format)) +
                                              " bytes format " + std::to_string(las.point_format) + " needs");
  if (las.record_length == 0) las.record_length = las_base_record_length(las.point_format);
  check_record_fits(source, points, las.record_length);

  const uint32_t vlr_count = las_get<uint32_t>(header, h::kVlrCount);
  const uint32_t declared_evlrs = las.version_minor >= 4 ? las_get<uint32_t>(header, h::kEvlrCount) : 0;
  const std::vector<LasRecordSpan> vlrs = las_list_records(las.vlr_bytes, vlr_count, {}, 0, 0, source.name());
  const auto n = static_cast<size_t>(points);
  const uint64_t points_end = uint64_t{data_offset} + points * las.record_length;
  // The plan needs the Extra Bytes descriptors. When the VLRs hold them, or
  // no EVLR could, records are decoded block by block as they are read;
  // otherwise they are kept raw until the EVLRs after them are in.
  LasRecordPlan plan;
  std::vector<Attribute*> bound;
  const auto prepare = [&](const std::vector<LasRecordSpan>& records) {
    plan = las_record_plan(las, records, source.name());
    cloud.xyz.assign(3 * n, 0.0);
    bound = bind_attributes(cloud, plan, n);
    las.opaque_size = plan.opaque_size;
    las.opaque_bytes.assign(n * plan.opaque_size, 0);
  };
  const bool plan_first = declared_evlrs == 0 || las_find_extra_bytes(vlrs) != nullptr;
  std::vector<unsigned char> block;
  if (plan_first) prepare(vlrs);
  for (size_t begin = 0; plan_first && begin < n; begin += kBlockPoints) {
    const size_t end = std::min(n, begin + kBlockPoints);
    block.clear();
    source.read_bytes(block, (end - begin) * las.record_length, "the point records");
    decode_records(block.data(), begin, end, plan, bound, cloud);
  }
  if (!plan_first) source.read_bytes(block, points * las.record_length, "the point records");
  if (const auto rest = source.remaining()) source.read_bytes(las.tail_bytes, *rest, "the EVLRs");

  uint32_t evlr_count = 0;
  const uint64_t evlr_start = evlr_start_in_tail(source, las, points_end, evlr_count);
  const std::vector<LasRecordSpan> records =
      las_list_records(las.vlr_bytes, vlr_count, las.tail_bytes, evlr_start, evlr_count, source.name());
  for (const LasRecordSpan& record : records) las.records.push_back(record.info);
  if (!plan_first) {
    prepare(records);
    for (size_t begin = 0; begin < n; begin += kBlockPoints)
      decode_records(block.data() + begin * las.record_length, begin, std::min(n, begin + kBlockPoints), plan,
                     bound, cloud);
  }
  return cloud;
}

}  // namespace ici3d::host::io_detail
