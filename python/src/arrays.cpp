#include "arrays.h"

#include <limits>
#include <stdexcept>

namespace ici3d::python {

namespace {

std::string shape_text(const py::array& array) {
  return py::str(py::tuple(array.attr("shape"))).cast<std::string>();
}

struct DtypeEntry {
  host::ScalarType type;
  char kind;
  py::ssize_t size;
  const char* numpy_name;
};

constexpr DtypeEntry kDtypes[] = {
    {host::ScalarType::Int8, 'i', 1, "int8"},       {host::ScalarType::UInt8, 'u', 1, "uint8"},
    {host::ScalarType::Int16, 'i', 2, "int16"},     {host::ScalarType::UInt16, 'u', 2, "uint16"},
    {host::ScalarType::Int32, 'i', 4, "int32"},     {host::ScalarType::UInt32, 'u', 4, "uint32"},
    {host::ScalarType::Int64, 'i', 8, "int64"},     {host::ScalarType::UInt64, 'u', 8, "uint64"},
    {host::ScalarType::Float32, 'f', 4, "float32"}, {host::ScalarType::Float64, 'f', 8, "float64"},
};

}  // namespace

py::ssize_t require_rows(const py::array& array, py::ssize_t columns, const std::string& name) {
  if (array.ndim() != 2 || (columns >= 0 && array.shape(1) != columns)) {
    const std::string wanted = columns >= 0 ? "(n, " + std::to_string(columns) + ")" : "(n, k)";
    throw py::value_error(name + " must have shape " + wanted + ", got " + shape_text(array));
  }
  return array.shape(0);
}

py::ssize_t require_length(const py::array& array, py::ssize_t length, const std::string& name) {
  if (array.ndim() != 1 || (length >= 0 && array.shape(0) != length)) {
    const std::string wanted = length >= 0 ? "(" + std::to_string(length) + ",)" : "(m,)";
    throw py::value_error(name + " must have shape " + wanted + ", got " + shape_text(array));
  }
  return array.shape(0);
}

int32_t to_count(py::ssize_t count, const std::string& name) {
  if (count > std::numeric_limits<int32_t>::max())
    throw py::value_error(name + ": " + std::to_string(count) + " exceeds the library's limit of 2^31-1");
  return static_cast<int32_t>(count);
}

py::dtype dtype_of(host::ScalarType type) {
  for (const DtypeEntry& entry : kDtypes)
    if (entry.type == type) return py::dtype(entry.numpy_name);
  throw std::logic_error("unknown scalar type");
}

host::ScalarType scalar_type_of(const py::dtype& dtype, const std::string& name) {
  if (dtype.attr("isnative").cast<bool>()) {
    for (const DtypeEntry& entry : kDtypes)
      if (entry.kind == dtype.kind() && entry.size == dtype.itemsize()) return entry.type;
  }
  throw py::type_error(name + " has dtype " + py::str(static_cast<py::handle>(dtype)).cast<std::string>() +
                       "; supported: native-order int8..int64, uint8..uint64, float32, float64");
}

py::array attribute_to_numpy(host::Attribute&& attribute) {
  const py::ssize_t n = static_cast<py::ssize_t>(attribute.size());
  auto* owner = new std::vector<unsigned char>(std::move(attribute.bytes));
  py::capsule release(owner, [](void* p) { delete static_cast<std::vector<unsigned char>*>(p); });
  return py::array(dtype_of(attribute.type), {n}, {}, owner->data(), release);
}

void copy_values(const py::array& values, host::Attribute& attribute) {
  const std::string name = "attribute '" + attribute.name + "'";
  require_length(values, static_cast<py::ssize_t>(attribute.size()), name);
  if (!(values.flags() & py::array::c_style)) throw py::value_error(name + " must be contiguous");
  if (scalar_type_of(values.dtype(), name) != attribute.type)
    throw py::type_error(name + " must have dtype " + host::scalar_type_name(attribute.type));
  const auto* bytes = static_cast<const unsigned char*>(values.data());
  attribute.bytes.assign(bytes, bytes + values.nbytes());
}

host::CandidateView candidate_view(const CArray<int32_t>& indices, const CArray<int64_t>& indptr,
                                   int32_t n) {
  require_length(indptr, static_cast<py::ssize_t>(n) + 1, "indptr");
  const py::ssize_t total = require_length(indices, -1, "indices");
  try {
    return host::candidate_view(indices.data(), total, indptr.data(), n);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(std::string("indptr: ") + e.what());
  }
}

}  // namespace ici3d::python
