#pragma once
// Conversions between numpy arrays and the containers of the host library.
// Results are handed to numpy without a copy: the array owns the vector.
// Array arguments arrive with their exact dtype and C order (the Python
// package converts them first); the checks here keep a direct caller of the
// extension from making the library read out of bounds.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "ici3d_host/candidate_view.h"
#include "ici3d_host/point_cloud.h"

namespace ici3d::python {

namespace py = pybind11;

template <class T>
using CArray = py::array_t<T, py::array::c_style>;

/// A numpy array of the given shape that takes over `values`.
template <class T>
py::array_t<T> to_numpy(std::vector<T>&& values, std::initializer_list<py::ssize_t> shape) {
  auto* owner = new std::vector<T>(std::move(values));
  py::capsule release(owner, [](void* p) { delete static_cast<std::vector<T>*>(p); });
  return py::array_t<T>(std::vector<py::ssize_t>(shape), owner->data(), release);
}

/// Number of rows of a 2-D array with `columns` columns (any number when
/// columns < 0); ValueError naming `name` otherwise.
py::ssize_t require_rows(const py::array& array, py::ssize_t columns, const std::string& name);
/// Requires a 1-D array of `length` values (any length when length < 0).
py::ssize_t require_length(const py::array& array, py::ssize_t length, const std::string& name);
/// A count as the library's int32; ValueError when it does not fit.
int32_t to_count(py::ssize_t count, const std::string& name);

/// The numpy dtype of a scalar type, and back (TypeError for dtypes that no
/// file format stores).
py::dtype dtype_of(host::ScalarType type);
host::ScalarType scalar_type_of(const py::dtype& dtype, const std::string& name);

/// An attribute's values as a 1-D array of its own type (the bytes move).
py::array attribute_to_numpy(host::Attribute&& attribute);
/// Copies a 1-D contiguous array into an attribute of the same length and
/// type (ValueError or TypeError otherwise).
void copy_values(const py::array& values, host::Attribute& attribute);

/// Splits CSR lists (list i is indices[indptr[i] .. indptr[i+1])) into the
/// library's pointers and counts, pointing into `indices`; ValueError unless
/// indptr has n+1 entries, starts at 0, never decreases, ends at
/// len(indices) and every count fits int32.
host::CandidateView candidate_view(const CArray<int32_t>& indices, const CArray<int64_t>& indptr,
                                   int32_t n);

}  // namespace ici3d::python
