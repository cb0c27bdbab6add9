#pragma once
// The functions the extension exposes: each takes numpy arrays and plain
// values, calls the host library or the core library with the GIL released,
// and returns new arrays. The bind_*.cpp files only register them.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>

#include "arrays.h"
#include "ici3d_host/denoise.h"
#include "ici3d_host/io.h"

namespace ici3d::python {

// --- files -----------------------------------------------------------------

/// (points (n, 3) float64, [(name, values), ...], layout) of a file.
py::tuple read_cloud(const std::string& path, host::Format format);
/// Writes points, the named attributes and, if given, the layout of the file
/// they came from.
void write_cloud(const std::string& path, const CArray<double>& points, const py::list& names,
                 const py::list& values, const std::optional<host::FileLayout>& layout,
                 host::Format format, std::optional<host::Encoding> encoding, bool overwrite);

// --- pipeline ----------------------------------------------------------------

/// (points (n, 3) float64, final noise levels (n,) float32 or None, report).
py::tuple denoise_points(const CArray<double>& points, host::DenoiseOptions options,
                         const std::optional<CArray<double>>& point_sigma, const py::object& progress,
                         bool return_sigma);
/// Reads `input`, denoises it, writes `output`; returns the report.
host::DenoiseReport denoise_file(const std::string& input, const std::string& output,
                                 host::DenoiseOptions options, const py::object& progress,
                                 bool overwrite);
host::CloudEstimates estimate_points(const CArray<double>& points, int threads);

// --- core library and neighbourhoods -------------------------------------------

/// The arguments of one library pass, as arrays.
struct PassArguments {
  CArray<float> points;          // (n, 3)
  CArray<float> noise_sigma;     // (n,)
  CArray<int32_t> neighbor_table;  // (n, K)
  CArray<int64_t> indptr;        // (n + 1,)
  CArray<int32_t> indices;       // candidate lists, concatenated
  float size_norm = 0;
  float preselect_size = 0;
  float scale_ratio = 0;
  int32_t base_size = 0;
  int32_t num_scales = 0;
  int32_t max_selected = 0;
  int32_t parameter_set = 0;
};
/// One library pass: (denoised points (n, 3) float32, noise levels (n,) float32).
/// The arguments are checked by ici3d_check_arguments first: ValueError with
/// its description when they are invalid.
py::tuple denoise_pass(const PassArguments& args);
/// (axes (3,) int32, frame (3, 3) float32) of point i.
py::tuple local_frame(const CArray<float>& points, const CArray<int32_t>& neighbor_table, int32_t i);
/// (eigenvalue real parts, imaginary parts, eigenvectors as columns) of a
/// square float32 matrix, which is left unchanged.
py::tuple eigen_decomposition(const CArray<float>& matrix);
/// (n, k) int32 nearest-neighbour table.
py::array_t<int32_t> knn_table(const CArray<float>& points, int32_t k, int threads);
/// (indptr (n + 1,) int64, indices int32) candidate lists.
py::tuple candidate_lists(const CArray<float>& points, float radius, int32_t cap, int threads);
/// The finite points' indices in the order the pipeline hands them to the library.
py::array_t<int64_t> space_filling_order(const CArray<double>& points);

}  // namespace ici3d::python
