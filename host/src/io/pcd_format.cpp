#include "pcd_format.h"

namespace ici3d::host::io_detail {

std::optional<ScalarType> pcd_scalar_type(char letter, uint64_t size) {
  static constexpr ScalarType kTypes[] = {ScalarType::Int8,   ScalarType::UInt8,  ScalarType::Int16,
                                          ScalarType::UInt16, ScalarType::Int32,  ScalarType::UInt32,
                                          ScalarType::Int64,  ScalarType::UInt64, ScalarType::Float32,
                                          ScalarType::Float64};
  for (ScalarType type : kTypes)
    if (pcd_type_letter(type) == letter && scalar_size(type) == size) return type;
  return std::nullopt;
}

char pcd_type_letter(ScalarType type) {
  switch (type) {
    case ScalarType::Int8:
    case ScalarType::Int16:
    case ScalarType::Int32:
    case ScalarType::Int64: return 'I';
    case ScalarType::Float32:
    case ScalarType::Float64: return 'F';
    default: return 'U';
  }
}

}  // namespace ici3d::host::io_detail
