#pragma once
// Reading and writing point clouds: PLY (ascii, binary little and big endian),
// XYZ-style text (.xyz .txt .csv .pts), PCD v0.7 (ascii, binary,
// binary_compressed) and ASPRS LAS 1.0 to 1.4 (.las, point data record
// formats 0 to 10, uncompressed).
//
// Reading keeps every point in file order and every per-point property; the
// cloud's layout remembers how the file was stored, and writing to the same
// format reproduces it (encoding, property order and types, x/y/z stored as
// float or double, comments, other PLY elements, PCD counts, padding and
// viewpoint). Writing to another format uses a plain layout: binary little
// endian, x/y/z with the type they had in the source (double for text), every
// attribute with its own type.
//
// Choices worth knowing:
// - Text columns beyond x, y, z become Int32 attributes when every value is
//   written as an integer that fits, Float64 otherwise. Without a header
//   line they are named "column_3", "column_4", ... (zero-based column),
//   except that exactly six columns are x y z nx ny nz.
// - A PCD field with COUNT c > 1 becomes attributes name_0 ... name_{c-1} and
//   is written back as one field with that count.
// - PLY list properties on the vertex element are refused (IoError); lists
//   on other elements are kept. Ascii PLY needs one element per line.
// - Writing PLY refuses 64-bit integer attributes (PLY has no such type).
// - PLY elements other than "vertex" and PCD padding fields exist only in
//   their own format and are dropped when writing another one. PCD padding
//   that the data does not hold (text or compressed data without it, where
//   the file is too short for it) is left out of the layout.
// - LAS positions are x = X * scale + offset. Every other value of a record
//   is an attribute: bit fields one UInt8 each (return_number, classification,
//   synthetic, ...), extra bytes described by the Extra Bytes VLR under their
//   names and types (raw stored values; their scale and offset stay in the
//   VLR), and bytes nothing describes kept opaque in the layout. Writing a
//   cloud read from LAS keeps its header, VLRs, EVLRs, point format, scale and
//   offset (positions rounded to the nearest step; one out of the 32-bit range
//   is an error), and refuses attributes its records have no place for. Other
//   clouds become LAS 1.4, point format 6 (7 with red, green, blue; 8 with nir
//   too), their other attributes extra bytes, with an integral offset at the
//   middle of the extent and the finest power-of-ten scale from 1e-7 up that
//   holds it. LAZ (.laz, or the compression bit of the point format) is
//   refused.

#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>

#include "ici3d_host/error.h"
#include "ici3d_host/point_cloud.h"

namespace ici3d::host {

/// Any failure to read or write a cloud. The message names the file, the
/// line (text) or byte offset (binary) where known, and what was expected.
class IoError : public Error {
 public:
  explicit IoError(const std::string& message) : Error(message) {}
};

struct ReadOptions {
  Format format = Format::Auto;  // Auto: from the extension, else from the content
};

struct WriteOptions {
  Format format = Format::Auto;     // Auto: from the extension
  std::optional<Encoding> encoding;  // default: the source's if the format matches
  bool overwrite = false;            // replace an existing file other than the source
  bool overwrite_source = false;     // replace the file the cloud was read from ("overwrite" does not)
};

/// Format of a file name by its extension (case-insensitive); Auto if unknown.
Format format_from_extension(const std::string& path);

/// Reads a file; "-" reads standard input.
PointCloud read_point_cloud(const std::string& path, const ReadOptions& options = {});
/// Reads a stream; `name` is used in error messages. With Format::Auto the
/// format is told from the first line.
PointCloud read_point_cloud(std::istream& in, const std::string& name,
                            const ReadOptions& options = {});

/// Throws IoError when writing `path` with these options would replace an
/// existing file: the file named `source_path` (the cloud's source, may be
/// empty) unless overwrite_source, any other unless overwrite. "-" passes.
void check_destination(const std::string& path, const std::string& source_path,
                       const WriteOptions& options);

/// Writes a file atomically (temporary file in the same folder, then rename);
/// "-" writes to standard output and then needs an explicit format.
void write_point_cloud(const std::string& path, const PointCloud& cloud,
                       const WriteOptions& options = {});
/// Writes to a stream; needs an explicit format. `name` is used in messages.
void write_point_cloud(std::ostream& out, const std::string& name, const PointCloud& cloud,
                       const WriteOptions& options);

}  // namespace ici3d::host
