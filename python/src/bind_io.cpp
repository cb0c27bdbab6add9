#include <pybind11/stl.h>

#include "adapters.h"
#include "bindings.h"

namespace ici3d::python {

void bind_io(py::module_& m) {
  py::register_exception<host::IoError>(m, "IoError", PyExc_OSError);

  py::enum_<host::Format>(m, "Format")
      .value("auto", host::Format::Auto)
      .value("ply", host::Format::Ply)
      .value("xyz", host::Format::Xyz)
      .value("pcd", host::Format::Pcd)
      .value("las", host::Format::Las);
  py::enum_<host::Encoding>(m, "Encoding")
      .value("ascii", host::Encoding::Ascii)
      .value("binary_little_endian", host::Encoding::BinaryLittleEndian)
      .value("binary_big_endian", host::Encoding::BinaryBigEndian)
      .value("binary_compressed", host::Encoding::BinaryCompressed);

  py::class_<host::FileLayout>(m, "FileLayout")
      .def_readonly("format", &host::FileLayout::format)
      .def_readonly("encoding", &host::FileLayout::encoding)
      .def_readonly("comments", &host::FileLayout::comments)
      .def_readonly("source_path", &host::FileLayout::source_path);

  m.def("read_cloud", &read_cloud, py::arg("path"), py::arg("format"));
  m.def("write_cloud", &write_cloud, py::arg("path"), py::arg("points").noconvert(), py::arg("names"),
        py::arg("values"), py::arg("layout").none(true), py::arg("format"), py::arg("encoding").none(true),
        py::arg("overwrite"));
}

}  // namespace ici3d::python
