#include <pybind11/stl.h>

#include "adapters.h"
#include "bindings.h"

namespace ici3d::python {

namespace {

void bind_options(py::module_& m) {
  using host::DenoiseOptions;
  py::class_<DenoiseOptions>(m, "DenoiseOptions")
      .def(py::init<>())
      .def_readwrite("sigma", &DenoiseOptions::sigma)
      .def_readwrite("spacing", &DenoiseOptions::spacing)
      .def_readwrite("preset", &DenoiseOptions::preset)
      .def_readwrite("passes", &DenoiseOptions::passes)
      .def_readwrite("k", &DenoiseOptions::k)
      .def_readwrite("base_size", &DenoiseOptions::base_size)
      .def_readwrite("num_scales", &DenoiseOptions::num_scales)
      .def_readwrite("scale_ratio", &DenoiseOptions::scale_ratio)
      .def_readwrite("list_cap", &DenoiseOptions::list_cap)
      .def_readwrite("threads", &DenoiseOptions::threads)
      .def_readwrite("memory_limit", &DenoiseOptions::memory_limit)
      .def_readwrite("tile_size", &DenoiseOptions::tile_size)
      .def_readwrite("output_sigma", &DenoiseOptions::output_sigma)
      .def_readwrite("output_displacement", &DenoiseOptions::output_displacement)
      .def_readwrite("output_normal", &DenoiseOptions::output_normal);
}

void bind_reports(py::module_& m) {
  using host::CloudEstimates;
  using host::DenoiseReport;
  using host::PassReport;
  py::class_<PassReport>(m, "PassReport")
      .def_readonly("neighbor_seconds", &PassReport::neighbor_seconds)
      .def_readonly("library_seconds", &PassReport::library_seconds)
      .def_readonly("capped_lists", &PassReport::capped_lists)
      .def_readonly("longest_list", &PassReport::longest_list)
      .def_readonly("degenerate", &PassReport::degenerate)
      .def_readonly("mean_displacement", &PassReport::mean_displacement);
  py::class_<DenoiseReport>(m, "DenoiseReport")
      .def_readonly("points", &DenoiseReport::points)
      .def_readonly("non_finite", &DenoiseReport::non_finite)
      .def_readonly("degenerate", &DenoiseReport::degenerate)
      .def_readonly("spacing", &DenoiseReport::spacing)
      .def_readonly("sigma", &DenoiseReport::sigma)
      .def_readonly("spacing_estimated", &DenoiseReport::spacing_estimated)
      .def_readonly("sigma_estimated", &DenoiseReport::sigma_estimated)
      .def_readonly("noise_too_few_points", &DenoiseReport::noise_too_few_points)
      .def_readonly("noise_collinear", &DenoiseReport::noise_collinear)
      .def_readonly("noise_radius", &DenoiseReport::noise_radius)
      .def_readonly("noise_fit_points", &DenoiseReport::noise_fit_points)
      .def_readonly("noise_rounds", &DenoiseReport::noise_rounds)
      .def_readonly("estimate_seconds", &DenoiseReport::estimate_seconds)
      .def_readonly("total_seconds", &DenoiseReport::total_seconds)
      .def_readonly("window_unit", &DenoiseReport::window_unit)
      .def_readonly("size_norm", &DenoiseReport::size_norm)
      .def_readonly("library_base", &DenoiseReport::library_base)
      .def_readonly("preselect_size", &DenoiseReport::preselect_size)
      .def_readonly("tiles", &DenoiseReport::tiles)
      .def_readonly("halo_width", &DenoiseReport::halo_width)
      .def_readonly("halo_overhead", &DenoiseReport::halo_overhead)
      .def_readonly("memory_limit", &DenoiseReport::memory_limit)
      .def_readonly("peak_memory", &DenoiseReport::peak_memory)
      .def_readonly("effective", &DenoiseReport::effective)
      .def_readonly("passes", &DenoiseReport::passes);
  py::class_<CloudEstimates>(m, "CloudEstimates")
      .def_readonly("spacing", &CloudEstimates::spacing)
      .def_readonly("sigma", &CloudEstimates::sigma)
      .def_readonly("finite", &CloudEstimates::finite)
      .def_readonly("duplicates", &CloudEstimates::duplicates)
      .def_readonly("noise_too_few_points", &CloudEstimates::noise_too_few_points)
      .def_readonly("noise_collinear", &CloudEstimates::noise_collinear)
      .def_readonly("noise_samples", &CloudEstimates::noise_samples)
      .def_readonly("noise_radius", &CloudEstimates::noise_radius)
      .def_readonly("noise_fit_points", &CloudEstimates::noise_fit_points)
      .def_readonly("noise_rounds", &CloudEstimates::noise_rounds);
}

}  // namespace

void bind_denoise(py::module_& m) {
  py::register_exception<host::DenoiseError>(m, "DenoiseError", PyExc_ValueError);
  m.def("parse_memory_size", &host::parse_memory_size, py::arg("text"));
  py::enum_<host::Preset>(m, "Preset")
      .value("detail", host::Preset::Detail)
      .value("smooth", host::Preset::Smooth);
  m.def("preset_from_name", &host::preset_from_name, py::arg("name"));
  bind_options(m);
  bind_reports(m);

  m.def("denoise_points", &denoise_points, py::arg("points").noconvert(), py::arg("options"),
        py::arg("point_sigma").noconvert().none(true), py::arg("progress").none(true),
        py::arg("return_sigma"));
  m.def("denoise_file", &denoise_file, py::arg("input"), py::arg("output"), py::arg("options"),
        py::arg("progress").none(true), py::arg("overwrite"));
  m.def("estimate_points", &estimate_points, py::arg("points").noconvert(), py::arg("threads"));
}

}  // namespace ici3d::python
