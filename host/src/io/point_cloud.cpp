#include "ici3d_host/point_cloud.h"

#include <algorithm>
#include <utility>

#include "scalar.h"

namespace ici3d::host {

size_t scalar_size(ScalarType type) {
  return io_detail::visit_scalar(type, [](auto zero) { return sizeof zero; });
}

const char* scalar_type_name(ScalarType type) {
  switch (type) {
    case ScalarType::Int8: return "int8";
    case ScalarType::UInt8: return "uint8";
    case ScalarType::Int16: return "int16";
    case ScalarType::UInt16: return "uint16";
    case ScalarType::Int32: return "int32";
    case ScalarType::UInt32: return "uint32";
    case ScalarType::Int64: return "int64";
    case ScalarType::UInt64: return "uint64";
    case ScalarType::Float32: return "float32";
    case ScalarType::Float64: break;
  }
  return "float64";
}

bool is_floating(ScalarType type) { return type == ScalarType::Float32 || type == ScalarType::Float64; }

double Attribute::as_double(size_t point) const {
  return io_detail::load_as_double(type, bytes.data() + point * scalar_size(type));
}

void Attribute::set_double(size_t point, double value) {
  io_detail::store_from_double(type, value, bytes.data() + point * scalar_size(type));
}

void Attribute::check_type(ScalarType requested) const {
  if (requested != type)
    throw std::logic_error("attribute '" + name + "' holds " + scalar_type_name(type) + ", not " +
                           scalar_type_name(requested));
}

Attribute& PointCloud::add_attribute(std::string name, ScalarType type) {
  if (name == "x" || name == "y" || name == "z")
    throw std::invalid_argument("attribute name '" + name + "' is reserved for positions");
  if (find_attribute(name)) throw std::invalid_argument("attribute '" + name + "' already exists");
  Attribute& added = attributes.emplace_back();
  added.name = std::move(name);
  added.type = type;
  added.bytes.assign(size() * scalar_size(type), 0);
  return added;
}

const Attribute* PointCloud::find_attribute(std::string_view name) const {
  auto found = std::find_if(attributes.begin(), attributes.end(),
                            [&](const Attribute& attribute) { return attribute.name == name; });
  return found == attributes.end() ? nullptr : &*found;
}

Attribute* PointCloud::find_attribute(std::string_view name) {
  return const_cast<Attribute*>(std::as_const(*this).find_attribute(name));
}

}  // namespace ici3d::host
