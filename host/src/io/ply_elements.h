#pragma once
// PLY type names and the elements other than "vertex", which are kept as
// their stored bytes and re-encoded only when the output encoding differs.

#include <optional>
#include <string>
#include <string_view>

#include "ici3d_host/point_cloud.h"
#include "input_source.h"

namespace ici3d::host::io_detail {

/// Type of a PLY type name ("uchar", "float32", ...); empty when unknown.
std::optional<ScalarType> ply_type_from_name(std::string_view name);
/// The classic PLY spelling ("uchar", "float", ...); empty for 64-bit integers.
std::string ply_type_name(ScalarType type);
/// "char, uchar, ..." for messages.
std::string ply_type_list();

/// True when binary data in this encoding needs its bytes reversed here.
bool ply_needs_swap(Encoding encoding);

/// Smallest number of bytes one instance of the element occupies.
uint64_t ply_min_instance_bytes(const PlyElement& element, Encoding encoding);

/// Reads the body of `element` (count instances) in `encoding` into
/// element.data, checking every value.
void read_ply_element_body(InputSource& source, PlyElement& element, Encoding encoding);

/// The element's body in `target` encoding; `name` is used in messages.
std::string encode_ply_element(const PlyElement& element, Encoding target, const std::string& name);

}  // namespace ici3d::host::io_detail
