#pragma once
// Pieces shared by the LAS reader and writer: where the fields of each point
// data record format lie, the public header's offsets, and parsing of the
// VLRs, EVLRs and the extra bytes they describe. Offsets and layouts follow
// the ASPRS LAS 1.4 (R15) document; older versions use a prefix of the 1.4
// header.

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ici3d_host/point_cloud.h"
#include "scalar.h"

namespace ici3d::host::io_detail {

// Byte offsets in the public header block.
namespace las_header {
inline constexpr size_t kSignature = 0;
inline constexpr size_t kGlobalEncoding = 6;
inline constexpr size_t kVersionMajor = 24;
inline constexpr size_t kVersionMinor = 25;
inline constexpr size_t kGeneratingSoftware = 58;  // char[32]
inline constexpr size_t kCreationDay = 90;
inline constexpr size_t kCreationYear = 92;
inline constexpr size_t kHeaderSize = 94;
inline constexpr size_t kPointDataOffset = 96;
inline constexpr size_t kVlrCount = 100;
inline constexpr size_t kPointFormat = 104;
inline constexpr size_t kRecordLength = 105;
inline constexpr size_t kLegacyPointCount = 107;
inline constexpr size_t kLegacyByReturn = 111;  // uint32[5]
inline constexpr size_t kScale = 131;           // double[3]
inline constexpr size_t kOffset = 155;          // double[3]
inline constexpr size_t kBounds = 179;          // max x, min x, max y, min y, max z, min z
inline constexpr size_t kWaveformStart = 227;   // 1.3 on
inline constexpr size_t kEvlrStart = 235;       // 1.4
inline constexpr size_t kEvlrCount = 243;
inline constexpr size_t kPointCount = 247;  // uint64
inline constexpr size_t kByReturn = 255;    // uint64[15]

inline constexpr size_t kSize10 = 227;  // 1.0 to 1.2
inline constexpr size_t kSize13 = 235;
inline constexpr size_t kSize14 = 375;
}  // namespace las_header

inline constexpr size_t kLasVlrHeaderSize = 54;
inline constexpr size_t kLasEvlrHeaderSize = 60;
inline constexpr size_t kLasExtraDescriptorSize = 192;
inline constexpr int kLasMaxPointFormat = 10;

// Little-endian values at a byte offset.
template <class T>
T las_get(const unsigned char* bytes, size_t offset) {
  unsigned char raw[sizeof(T)];
  std::memcpy(raw, bytes + offset, sizeof(T));
  if (!kNativeLittleEndian) reverse_bytes(raw, sizeof(T));
  T value;
  std::memcpy(&value, raw, sizeof(T));
  return value;
}

template <class T>
void las_put(unsigned char* bytes, size_t offset, T value) {
  unsigned char raw[sizeof(T)];
  std::memcpy(raw, &value, sizeof(T));
  if (!kNativeLittleEndian) reverse_bytes(raw, sizeof(T));
  std::memcpy(bytes + offset, raw, sizeof(T));
}

/// A fixed-size text field: up to the first NUL.
std::string las_text(const unsigned char* bytes, size_t size);

/// One value of a point record. `bits` > 0: an unsigned bit field of the
/// byte at `offset`, starting at bit `shift`; stored as UInt8.
struct LasField {
  std::string name;
  ScalarType type = ScalarType::UInt8;
  uint16_t offset = 0;
  uint8_t shift = 0;
  uint8_t bits = 0;
  int axis = -1;  // X, Y, Z: the scaled int32 positions
};

/// Bytes of the standard fields of a point data record format (0 to 10).
uint16_t las_base_record_length(int point_format);

/// Everything a record of a file holds, in record order: the standard fields
/// of its format, the extra bytes its Extra Bytes VLR describes (typed), and
/// the byte ranges nothing describes (kept opaque).
struct LasRecordPlan {
  std::vector<LasField> fields;  // standard fields, then typed extra bytes
  std::vector<std::pair<uint16_t, uint16_t>> opaque;  // [begin, end) within the record
  uint32_t opaque_size = 0;
};

/// A VLR or EVLR with where its payload lies in the blob it came from.
struct LasRecordSpan {
  LasRecordInfo info;
  const unsigned char* data = nullptr;
  uint64_t size = 0;
};

/// Lists the VLRs at the start of `vlr_bytes` (`count` of them) and the
/// EVLRs (`count` of them starting `start` bytes into `tail`). Throws
/// IoError with `where` in front when one runs past its blob.
std::vector<LasRecordSpan> las_list_records(const std::vector<unsigned char>& vlr_bytes, uint32_t vlr_count,
                                            const std::vector<unsigned char>& tail, uint64_t evlr_start,
                                            uint32_t evlr_count, const std::string& where);

/// The first Extra Bytes record (user ID "LASF_Spec", record ID 4), or null.
const LasRecordSpan* las_find_extra_bytes(const std::vector<LasRecordSpan>& records);

/// The plan of the records of a layout. `records` are its listed VLRs and
/// EVLRs (for the Extra Bytes VLR). Throws IoError with `where` in front when
/// the record length is short of the format or the extra bytes described
/// exceed it.
LasRecordPlan las_record_plan(const LasLayout& layout, const std::vector<LasRecordSpan>& records,
                              const std::string& where);

/// The Extra Bytes data type of a scalar type (1 to 10).
uint8_t las_extra_type_code(ScalarType type);

}  // namespace ici3d::host::io_detail
