#pragma once
// In-memory point cloud: positions as doubles, every other per-point property
// as a typed attribute, and the file layout needed to write the cloud back the
// way it was read.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace ici3d::host {

enum class ScalarType { Int8, UInt8, Int16, UInt16, Int32, UInt32, Int64, UInt64, Float32, Float64 };

/// Bytes of one value of the type.
size_t scalar_size(ScalarType type);
/// Lower-case name ("int8", "float32", ...), used in messages.
const char* scalar_type_name(ScalarType type);
bool is_floating(ScalarType type);

/// The ScalarType of a C++ arithmetic type: scalar_type_of<float>() == Float32.
template <class T>
constexpr ScalarType scalar_type_of() {
  if constexpr (std::is_same_v<T, int8_t>) return ScalarType::Int8;
  else if constexpr (std::is_same_v<T, uint8_t>) return ScalarType::UInt8;
  else if constexpr (std::is_same_v<T, int16_t>) return ScalarType::Int16;
  else if constexpr (std::is_same_v<T, uint16_t>) return ScalarType::UInt16;
  else if constexpr (std::is_same_v<T, int32_t>) return ScalarType::Int32;
  else if constexpr (std::is_same_v<T, uint32_t>) return ScalarType::UInt32;
  else if constexpr (std::is_same_v<T, int64_t>) return ScalarType::Int64;
  else if constexpr (std::is_same_v<T, uint64_t>) return ScalarType::UInt64;
  else if constexpr (std::is_same_v<T, float>) return ScalarType::Float32;
  else {
    static_assert(std::is_same_v<T, double>, "not a supported scalar type");
    return ScalarType::Float64;
  }
}

/// One per-point property other than x, y, z. Values are stored in native
/// byte order, one after another in point order, so the bytes of a file
/// survive unchanged (NaN payloads and packed colours included).
struct Attribute {
  std::string name;
  ScalarType type = ScalarType::Float64;
  std::vector<unsigned char> bytes;  // size() * scalar_size(type)

  size_t size() const { return bytes.size() / scalar_size(type); }
  /// The value of a point converted to double (exact except for 64-bit
  /// integers beyond 2^53).
  double as_double(size_t point) const;
  /// Stores a double: rounded to nearest for floats, rounded and clamped to
  /// the range for integers (NaN becomes 0).
  void set_double(size_t point, double value);

  /// Typed access; T must match `type` exactly (std::logic_error otherwise).
  template <class T>
  T get(size_t point) const {
    check_type(scalar_type_of<T>());
    T value;
    std::memcpy(&value, bytes.data() + point * sizeof(T), sizeof(T));
    return value;
  }
  template <class T>
  void set(size_t point, T value) {
    check_type(scalar_type_of<T>());
    std::memcpy(bytes.data() + point * sizeof(T), &value, sizeof(T));
  }

 private:
  void check_type(ScalarType requested) const;
};

enum class Format { Auto, Ply, Xyz, Pcd, Las };
/// PCD "binary" is BinaryLittleEndian; BinaryBigEndian is PLY only,
/// BinaryCompressed PCD only; XYZ text is always Ascii; LAS is always
/// BinaryLittleEndian.
enum class Encoding { Ascii, BinaryLittleEndian, BinaryBigEndian, BinaryCompressed };

/// One stored per-point property, in file order: a PLY vertex property, a PCD
/// field, or a text column.
struct LayoutField {
  std::string name;
  ScalarType type = ScalarType::Float64;
  int axis = -1;              // 0, 1, 2 for the x, y, z position, else -1
  std::string type_name;      // PLY: the spelling used in the header ("float" or "float32")
  uint32_t count = 1;         // PCD COUNT; components are the attributes name_0, name_1, ...
  bool padding = false;       // PCD "_" field: its bytes are kept below, not as attributes
  std::vector<unsigned char> padding_bytes;  // size()*count*scalar_size(type), point-major
};

/// A PLY property as declared in the header.
struct PlyProperty {
  std::string name;
  ScalarType type = ScalarType::Float32;
  std::string type_name;
  bool is_list = false;
  ScalarType count_type = ScalarType::UInt8;  // lists only
  std::string count_type_name;                // lists only
};

/// A PLY element other than "vertex" (faces, edges, ...), kept verbatim.
struct PlyElement {
  std::string name;
  uint64_t count = 0;
  std::vector<PlyProperty> properties;
  Encoding encoding = Encoding::Ascii;  // encoding of `data`
  std::string data;  // the element's body as stored (ascii: one instance per line)
};

struct PlyLayout {
  std::vector<PlyElement> elements;  // other elements, in file order
  size_t vertex_position = 0;        // index in `elements` before which "vertex" stands
  std::vector<std::string> obj_info;
  std::string version = "1.0";
};

struct PcdLayout {
  std::string version = "0.7";
  uint64_t width = 0, height = 0;  // kept when width*height still equals the point count
  std::array<double, 7> viewpoint{0, 0, 0, 1, 0, 0, 0};
};

struct TextLayout {
  char delimiter = ' ';
  bool has_header = false;      // a line of column names
  bool has_count_line = false;  // a first line holding the number of points
};

/// A variable length record (VLR) or extended one (EVLR) of a LAS file, as
/// listed by its header; for display only (the bytes live in LasLayout).
struct LasRecordInfo {
  std::string user_id;
  uint16_t record_id = 0;
  uint64_t length = 0;  // bytes after the record's own header
  std::string description;
  bool extended = false;  // an EVLR, after the point records
};

/// An ASPRS LAS file as read: everything but the point records is kept as
/// bytes, so that writing the cloud back reproduces the header, the VLRs and
/// the EVLRs, changing only the bounds, the point counts, the offsets that
/// follow the point records and the generating software.
struct LasLayout {
  uint8_t version_major = 1, version_minor = 4;
  uint8_t point_format = 6;
  uint16_t record_length = 30;
  std::array<double, 3> scale{0.001, 0.001, 0.001};
  std::array<double, 3> offset{0, 0, 0};
  std::vector<unsigned char> header;      // the public header block, header-size bytes
  std::vector<unsigned char> vlr_bytes;   // from the end of the header to the point records
  std::vector<unsigned char> tail_bytes;  // after the point records: EVLRs and whatever else
  std::vector<LasRecordInfo> records;     // VLRs, then EVLRs
  /// Bytes of each record that no field or described extra byte takes, in
  /// record order: opaque_size per point, point after point.
  uint32_t opaque_size = 0;
  std::vector<unsigned char> opaque_bytes;
};

/// What is needed to write a cloud back in the way it was read.
struct FileLayout {
  Format format = Format::Auto;  // Auto: not read from a file
  Encoding encoding = Encoding::Ascii;
  std::vector<LayoutField> fields;    // empty: x, y, z as double, then the attributes
  std::vector<std::string> comments;  // PLY "comment", PCD and text "#" lines, text after the marker
  std::string source_path;            // file the cloud was read from, if any
  PlyLayout ply;
  PcdLayout pcd;
  TextLayout text;
  LasLayout las;
};

struct PointCloud {
  std::vector<double> xyz;            // 3n, interleaved, exactly as read
  std::vector<Attribute> attributes;  // every other per-point property, in file order
  FileLayout layout;

  size_t size() const { return xyz.size() / 3; }
  /// Appends a zero-filled attribute for size() points; std::invalid_argument
  /// when the name is taken or is x, y or z.
  Attribute& add_attribute(std::string name, ScalarType type);
  const Attribute* find_attribute(std::string_view name) const;
  Attribute* find_attribute(std::string_view name);
};

}  // namespace ici3d::host
