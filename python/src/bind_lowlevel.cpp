#include "adapters.h"
#include "bindings.h"
#include "ici3d_host/neighbors.h"

namespace ici3d::python {

void bind_lowlevel(py::module_& m) {
  py::class_<PassArguments>(m, "PassArguments")
      .def(py::init<>())
      .def_readwrite("points", &PassArguments::points)
      .def_readwrite("noise_sigma", &PassArguments::noise_sigma)
      .def_readwrite("neighbor_table", &PassArguments::neighbor_table)
      .def_readwrite("indptr", &PassArguments::indptr)
      .def_readwrite("indices", &PassArguments::indices)
      .def_readwrite("size_norm", &PassArguments::size_norm)
      .def_readwrite("preselect_size", &PassArguments::preselect_size)
      .def_readwrite("scale_ratio", &PassArguments::scale_ratio)
      .def_readwrite("base_size", &PassArguments::base_size)
      .def_readwrite("num_scales", &PassArguments::num_scales)
      .def_readwrite("max_selected", &PassArguments::max_selected)
      .def_readwrite("parameter_set", &PassArguments::parameter_set);

  m.def("square_neigh_ici_denoi_recur_pure_c_parallel", &denoise_pass, py::arg("arguments"));
  m.def("local_coordinate_for_ici_c", &local_frame, py::arg("points").noconvert(),
        py::arg("neighbor_table").noconvert(), py::arg("i"));
  m.def("eigeng", &eigen_decomposition, py::arg("matrix").noconvert());
  m.def("knn_table", &knn_table, py::arg("points").noconvert(), py::arg("k"), py::arg("threads"));
  m.def("candidate_lists", &candidate_lists, py::arg("points").noconvert(), py::arg("radius"),
        py::arg("cap"), py::arg("threads"));
  m.def("preselect_radius", &host::preselect_radius, py::arg("preselect_size"));
  m.def("space_filling_order", &space_filling_order, py::arg("points").noconvert());
}

}  // namespace ici3d::python
