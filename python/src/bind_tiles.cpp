// The pieces a run spread over many processes is built from: pass settings,
// one library call per tile, the space-filling codes that order a cloud, and
// the point records of binary PLY and PCD files. ici3d.distributed puts
// them together; arrays arrive with their exact dtype and C order.

#include <pybind11/stl.h>

#include <cstring>

#include "arrays.h"
#include "bindings.h"
#include "ici3d_host/denoise.h"
#include "ici3d_host/points.h"
#include "ici3d_host/record_file.h"
#include "ici3d_host/tiles.h"

namespace ici3d::python {

namespace {

std::array<double, 3> corner(const CArray<double>& values, const std::string& name) {
  require_length(values, 3, name);
  return {values.data()[0], values.data()[1], values.data()[2]};
}

// (region indices of the core points, their new positions, noise levels and
// "kept in place" flags), all in region order.
py::tuple denoise_tile(const CArray<double>& xyz, const CArray<float>& noise,
                       const CArray<uint8_t>& core, const CArray<double>& lo,
                       const CArray<double>& hi, double halo, double cloud_extent,
                       const host::PassSettings& settings, int threads) {
  const py::ssize_t m = require_rows(xyz, 3, "xyz");
  require_length(noise, m, "noise");
  require_length(core, m, "core");
  host::TileRegion region;
  region.lo = corner(lo, "lo");
  region.hi = corner(hi, "hi");
  region.halo = halo;
  region.cloud_extent = cloud_extent;
  host::TileOutcome outcome;
  {
    py::gil_scoped_release release;
    region.xyz.assign(xyz.data(), xyz.data() + 3 * m);
    region.noise.assign(noise.data(), noise.data() + m);
    region.core.assign(core.data(), core.data() + m);
    outcome = host::denoise_tile(region, settings, threads);
  }
  const auto c = static_cast<py::ssize_t>(outcome.points.size());
  std::vector<int64_t> points(outcome.points.begin(), outcome.points.end());
  std::vector<uint8_t> kept(outcome.kept.begin(), outcome.kept.end());
  return py::make_tuple(to_numpy(std::move(points), {c}), to_numpy(std::move(outcome.xyz), {c, 3}),
                        to_numpy(std::move(outcome.noise), {c}), to_numpy(std::move(kept), {c}));
}

py::array_t<uint64_t> space_filling_codes(const CArray<double>& points, const CArray<double>& lo,
                                          const CArray<double>& hi) {
  const py::ssize_t n = require_rows(points, 3, "points");
  const std::array<double, 3> low = corner(lo, "lo"), high = corner(hi, "hi");
  std::vector<uint64_t> codes;
  {
    py::gil_scoped_release release;
    codes = host::space_filling_codes(std::vector<double>(points.data(), points.data() + 3 * n), low, high);
  }
  return to_numpy(std::move(codes), {n});
}

py::tuple bounding_box_centre(const CArray<double>& points) {
  const py::ssize_t n = require_rows(points, 3, "points");
  const auto c = host::bounding_box_centre(std::vector<double>(points.data(), points.data() + 3 * n));
  return py::make_tuple(c[0], c[1], c[2]);
}

size_t check_records(const host::RecordLayout& layout, const py::array& records) {
  const py::ssize_t n = require_rows(records, static_cast<py::ssize_t>(layout.record_size), "records");
  return static_cast<size_t>(n);
}

py::array_t<double> decode_positions(const host::RecordLayout& layout, const CArray<uint8_t>& records) {
  const size_t n = check_records(layout, records);
  std::vector<double> xyz(3 * n);
  {
    py::gil_scoped_release release;
    host::decode_positions(layout, records.data(), n, xyz.data());
  }
  return to_numpy(std::move(xyz), {static_cast<py::ssize_t>(n), 3});
}

// A copy of the records with the positions stored into them.
py::array_t<uint8_t> encode_positions(const host::RecordLayout& layout, const CArray<uint8_t>& records,
                                      const CArray<double>& xyz) {
  const size_t n = check_records(layout, records);
  require_rows(xyz, 3, "xyz");
  if (static_cast<size_t>(xyz.shape(0)) != n) throw py::value_error("xyz must have one row per record");
  std::vector<uint8_t> out(records.data(), records.data() + n * layout.record_size);
  {
    py::gil_scoped_release release;
    host::encode_positions(layout, xyz.data(), n, out.data());
  }
  return to_numpy(std::move(out), {static_cast<py::ssize_t>(n), static_cast<py::ssize_t>(layout.record_size)});
}

void bind_settings(py::module_& m) {
  using host::PassSettings;
  py::class_<PassSettings>(m, "PassSettings")
      .def(py::init<>())
      .def_readwrite("centre", &PassSettings::centre)
      .def_readwrite("k", &PassSettings::k)
      .def_readwrite("list_cap", &PassSettings::list_cap)
      .def_readwrite("list_radius", &PassSettings::list_radius)
      .def_readwrite("library_base", &PassSettings::library_base)
      .def_readwrite("size_norm", &PassSettings::size_norm)
      .def_readwrite("preselect", &PassSettings::preselect)
      .def_readwrite("scale_ratio", &PassSettings::scale_ratio)
      .def_readwrite("num_scales", &PassSettings::num_scales)
      .def_readwrite("parameter_set", &PassSettings::parameter_set)
      // Settings travel to other processes; floats go as their exact values.
      .def(py::pickle(
          [](const PassSettings& s) {
            return py::make_tuple(s.centre, s.k, s.list_cap, s.list_radius, s.library_base, s.size_norm,
                                  s.preselect, s.scale_ratio, s.num_scales, s.parameter_set);
          },
          [](const py::tuple& t) {
            if (t.size() != 10) throw py::value_error("PassSettings state must have 10 values");
            PassSettings s;
            s.centre = t[0].cast<std::array<double, 3>>();
            s.k = t[1].cast<int32_t>();
            s.list_cap = t[2].cast<int32_t>();
            s.list_radius = t[3].cast<float>();
            s.library_base = t[4].cast<int32_t>();
            s.size_norm = t[5].cast<float>();
            s.preselect = t[6].cast<float>();
            s.scale_ratio = t[7].cast<float>();
            s.num_scales = t[8].cast<int32_t>();
            s.parameter_set = t[9].cast<int32_t>();
            return s;
          }));
  m.def("pass_settings",
        [](const host::DenoiseOptions& o, const std::array<double, 3>& centre, size_t points) {
          return host::pass_settings(o, centre, points);
        },
        py::arg("options"), py::arg("centre"), py::arg("points"));
  m.def("tile_halo", &host::tile_halo, py::arg("settings"), py::arg("cloud_extent"));
  m.def("validate_options", &host::validate_options, py::arg("options"));
}

void bind_records(py::module_& m) {
  using host::RecordLayout;
  py::class_<RecordLayout>(m, "RecordLayout")
      .def_readonly("format", &RecordLayout::format)
      .def_readonly("encoding", &RecordLayout::encoding)
      .def_readonly("points", &RecordLayout::points)
      .def_readonly("data_offset", &RecordLayout::data_offset)
      .def_readonly("record_size", &RecordLayout::record_size)
      .def_readonly("axis_offset", &RecordLayout::axis_offset)
      .def(py::pickle(
          [](const RecordLayout& l) {
            std::array<int, 3> types{};
            for (int a = 0; a < 3; ++a) types[a] = static_cast<int>(l.axis_type[a]);
            return py::make_tuple(static_cast<int>(l.format), static_cast<int>(l.encoding), l.points,
                                  l.data_offset, l.record_size, l.axis_offset, types, l.swap);
          },
          [](const py::tuple& t) {
            if (t.size() != 8) throw py::value_error("RecordLayout state must have 8 values");
            RecordLayout l;
            l.format = static_cast<host::Format>(t[0].cast<int>());
            l.encoding = static_cast<host::Encoding>(t[1].cast<int>());
            l.points = t[2].cast<uint64_t>();
            l.data_offset = t[3].cast<uint64_t>();
            l.record_size = t[4].cast<uint64_t>();
            l.axis_offset = t[5].cast<std::array<uint64_t, 3>>();
            const auto types = t[6].cast<std::array<int, 3>>();
            for (int a = 0; a < 3; ++a) {
              if (types[a] < 0 || types[a] > static_cast<int>(host::ScalarType::Float64))
                throw py::value_error("RecordLayout state holds an unknown scalar type");
              l.axis_type[a] = static_cast<host::ScalarType>(types[a]);
            }
            l.swap = t[7].cast<bool>();
            for (int a = 0; a < 3; ++a) {
              if (l.axis_offset[a] + host::scalar_size(l.axis_type[a]) > l.record_size)
                throw py::value_error("RecordLayout state puts a position beyond its record");
            }
            return l;
          }));
  m.def("open_record_file",
        [](const std::string& path) {
          host::RecordFile file = host::open_record_file(path);
          return py::make_tuple(file.layout, py::bytes(file.output_header));
        },
        py::arg("path"));
  m.def("decode_positions", &decode_positions, py::arg("layout"), py::arg("records").noconvert());
  m.def("encode_positions", &encode_positions, py::arg("layout"), py::arg("records").noconvert(),
        py::arg("xyz").noconvert());
}

}  // namespace

void bind_tiles(py::module_& m) {
  // A Python subclass of DenoiseError that carries the distance a retry
  // needs (inf: the whole cloud) and the region indices of the points that
  // need it.
  static py::handle far_type = PyErr_NewException("ici3d._core.FarNeighboursError",
                                                  m.attr("DenoiseError").ptr(), nullptr);
  m.attr("FarNeighboursError") = far_type;
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const host::FarNeighboursError& e) {
      std::vector<int64_t> points(e.points.begin(), e.points.end());
      const auto n = static_cast<py::ssize_t>(points.size());
      py::object error = py::reinterpret_borrow<py::object>(far_type)(e.what());
      error.attr("needed_halo") = e.needed_halo;
      error.attr("points") = to_numpy(std::move(points), {n});
      PyErr_SetObject(far_type.ptr(), error.ptr());
    }
  });

  bind_settings(m);
  bind_records(m);
  m.def("denoise_tile", &denoise_tile, py::arg("xyz").noconvert(), py::arg("noise").noconvert(),
        py::arg("core").noconvert(), py::arg("lo").noconvert(), py::arg("hi").noconvert(),
        py::arg("halo"), py::arg("cloud_extent"), py::arg("settings"), py::arg("threads"));
  m.def("space_filling_codes", &space_filling_codes, py::arg("points").noconvert(),
        py::arg("lo").noconvert(), py::arg("hi").noconvert());
  m.def("bounding_box_centre", &bounding_box_centre, py::arg("points").noconvert());
}

}  // namespace ici3d::python
