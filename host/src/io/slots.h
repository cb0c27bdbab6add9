#pragma once
// Maps the values stored for each point in a file (in file order) to where
// they live in a PointCloud: a coordinate of xyz, an attribute, or the raw
// bytes of a PCD padding field.

#include <cstdint>
#include <string>
#include <vector>

#include "ici3d_host/io.h"
#include "input_source.h"

namespace ici3d::host::io_detail {

/// One stored value per point. `axis` >= 0 selects a coordinate; otherwise
/// the value of point p is at base + p * stride (no base: written as zeros,
/// read and dropped).
template <class Byte>
struct BasicSlot {
  ScalarType type = ScalarType::Float64;
  int axis = -1;
  Byte* base = nullptr;
  size_t stride = 0;
  std::string name;  // for messages
  bool decimal_point = false;  // text: every value written with ".0" appended
};
using ReadSlot = BasicSlot<unsigned char>;
using WriteSlot = BasicSlot<const unsigned char>;

/// Stores one native-order value read for `point`.
void store_value(const ReadSlot& slot, std::vector<double>& xyz, size_t point, const unsigned char* value);
/// Produces the native-order value to write for `point`.
void load_value(const WriteSlot& slot, const std::vector<double>& xyz, size_t point, unsigned char* value);

/// Creates the cloud's storage for `points` points from cloud.layout.fields
/// (filled by a header parser, positions marked by `axis`) and returns one
/// slot per stored value in file order. Fails on missing or repeated x/y/z,
/// repeated names, and absurd numbers of columns. `noun` names a field in
/// messages ("vertex property", "field", "column"). Padding fields get
/// storage only with `keep_padding`; otherwise their values are dropped.
std::vector<ReadSlot> bind_read_slots(PointCloud& cloud, uint64_t points, const InputSource& source,
                                      const std::string& noun, bool keep_padding = true);

/// One field of a file to write, with one slot per component.
struct WriteField {
  std::string name;
  ScalarType type = ScalarType::Float64;
  std::string type_name;  // PLY spelling kept from the source, or empty
  bool padding = false;
  std::vector<WriteSlot> slots;
};

/// The fields to write, in order: the layout's fields that still have data
/// (attributes with a changed type use their new type), missing positions
/// added as double, and attributes the layout does not know appended.
/// Components of a PCD multi-count field stay grouped only for PCD. Fails
/// with IoError (naming `destination`) on inconsistent sizes, names a file
/// cannot hold, and non-finite positions stored as integers.
std::vector<WriteField> plan_write_fields(const PointCloud& cloud, Format target, const std::string& destination);

/// Slots of all fields, in order.
std::vector<WriteSlot> flatten_slots(const std::vector<WriteField>& fields);

}  // namespace ici3d::host::io_detail
