#pragma once
// Binary PLY and PCD files seen as arrays of fixed-size point records, for
// processes that each read or write a range of points of one file (the
// workers of a cluster). Positions are decoded and encoded by the same code
// that read_point_cloud and write_point_cloud use, so a file assembled from
// records encoded here holds the bytes that write_point_cloud would write.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ici3d_host/point_cloud.h"

namespace ici3d::host {

/// Where a file's point records lie and where x, y, z lie within a record.
struct RecordLayout {
  Format format = Format::Auto;
  Encoding encoding = Encoding::BinaryLittleEndian;
  uint64_t points = 0;       // records the header declares
  uint64_t data_offset = 0;  // byte of the first record
  uint64_t record_size = 0;  // bytes per record
  std::array<uint64_t, 3> axis_offset{};  // byte of x, y, z within a record
  std::array<ScalarType, 3> axis_type{ScalarType::Float64, ScalarType::Float64, ScalarType::Float64};
  bool swap = false;  // values stored in the other byte order than this machine's
};

/// The header of a file and what follows from it.
struct RecordFile {
  RecordLayout layout;
  /// The header write_point_cloud writes for this file's cloud, in the same
  /// format and encoding and with every attribute kept; the records follow
  /// it in the same layout as in this file.
  std::string output_header;
};

/// Reads only the header of `path`, which must be a binary PLY file whose
/// only element is "vertex" or a PCD file with binary data: IoError, naming
/// the file and why, for anything else. The data is not checked against
/// the header (a short file is found by whoever reads its end).
RecordFile open_record_file(const std::string& path);

/// The positions of `count` consecutive records at `records`: 3 * count
/// doubles, as read_point_cloud reads them.
void decode_positions(const RecordLayout& layout, const unsigned char* records, size_t count,
                      double* xyz);
/// Stores 3 * count positions into the x, y, z of `count` consecutive
/// records, as write_point_cloud stores them; the other bytes stay.
void encode_positions(const RecordLayout& layout, const double* xyz, size_t count,
                      unsigned char* records);

}  // namespace ici3d::host
