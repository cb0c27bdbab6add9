#include <algorithm>
#include <utility>
#include <vector>

#include "adapters.h"
#include "ici3d_host/points.h"
#include "ici3d.h"
#include "ici3d_host/neighbors.h"

namespace ici3d::python {

namespace {

// The shapes of a pass's arrays, checked against each other.
struct PassShape {
  int32_t n = 0;
  int32_t k = 0;
};

PassShape pass_shape(const PassArguments& args) {
  PassShape shape;
  shape.n = to_count(require_rows(args.points, 3, "points"), "number of points");
  require_length(args.noise_sigma, shape.n, "noise_sigma");
  if (require_rows(args.neighbor_table, -1, "neighbor_table") != shape.n)
    throw py::value_error("neighbor_table must have one row per point (" + std::to_string(shape.n) +
                          "), got " + std::to_string(args.neighbor_table.shape(0)));
  shape.k = to_count(args.neighbor_table.shape(1), "neighbours per row");
  return shape;
}

void require_valid_indices(const int32_t* values, py::ssize_t count, py::ssize_t n, const std::string& name) {
  for (py::ssize_t j = 0; j < count; ++j) {
    if (values[j] < 0 || values[j] >= n)
      throw py::value_error(name + " holds " + std::to_string(values[j]) + ", outside 0.." +
                            std::to_string(n - 1));
  }
}

}  // namespace

py::tuple denoise_pass(const PassArguments& args) {
  const PassShape shape = pass_shape(args);
  const host::CandidateView lists = candidate_view(args.indices, args.indptr, shape.n);
  const auto n = static_cast<size_t>(shape.n);
  std::vector<float> noise(args.noise_sigma.data(), args.noise_sigma.data() + n);
  std::vector<float> denoised(3 * n);
  int32_t code = ICI3D_ARGS_OK;
  {
    py::gil_scoped_release release;
    code = ici3d_check_arguments(args.points.data(), shape.n, noise.data(), args.base_size, args.num_scales,
                                 lists.pointers.data(), args.size_norm, args.preselect_size, args.scale_ratio,
                                 lists.counts.data(), args.max_selected, args.parameter_set,
                                 args.neighbor_table.data(), shape.k, denoised.data());
    if (code == ICI3D_ARGS_OK)
      square_neigh_ici_denoi_recur_pure_c_parallel(
          args.points.data(), shape.n, noise.data(), args.base_size, args.num_scales, lists.pointers.data(),
          args.size_norm, args.preselect_size, args.scale_ratio, lists.counts.data(), args.max_selected,
          args.parameter_set, args.neighbor_table.data(), shape.k, denoised.data());
  }
  if (code != ICI3D_ARGS_OK) throw py::value_error(ici3d_describe_argument_error(code));
  const auto rows = static_cast<py::ssize_t>(n);
  return py::make_tuple(to_numpy(std::move(denoised), {rows, 3}), to_numpy(std::move(noise), {rows}));
}

py::tuple local_frame(const CArray<float>& points, const CArray<int32_t>& neighbor_table, int32_t i) {
  const py::ssize_t n = require_rows(points, 3, "points");
  if (require_rows(neighbor_table, -1, "neighbor_table") != n)
    throw py::value_error("neighbor_table must have one row per point");
  if (i < 0 || i >= n) throw py::index_error("point " + std::to_string(i) + " outside 0.." + std::to_string(n - 1));
  const int32_t k = to_count(neighbor_table.shape(1), "neighbours per row");
  require_valid_indices(neighbor_table.data(i, 0), k, n, "row " + std::to_string(i) + " of neighbor_table");
  std::vector<int32_t> axes(3);
  std::vector<float> frame(9);
  {
    py::gil_scoped_release release;
    local_coordinate_for_ici_c(points.data(), neighbor_table.data(), i, k, static_cast<int32_t>(n),
                               axes.data(), frame.data());
  }
  return py::make_tuple(to_numpy(std::move(axes), {3}), to_numpy(std::move(frame), {3, 3}));
}

py::tuple eigen_decomposition(const CArray<float>& matrix) {
  const py::ssize_t m = require_rows(matrix, -1, "matrix");
  if (matrix.shape(1) != m) throw py::value_error("matrix must be square, got " + std::to_string(m) + " x " +
                                                  std::to_string(matrix.shape(1)));
  const int32_t order = to_count(m, "matrix order");
  const auto size = static_cast<size_t>(m);
  std::vector<float> work(matrix.data(), matrix.data() + size * size);
  std::vector<float> re(size), im(size), vectors(size * size);
  {
    py::gil_scoped_release release;
    eigeng(work.data(), order, re.data(), im.data(), vectors.data());
  }
  return py::make_tuple(to_numpy(std::move(re), {m}), to_numpy(std::move(im), {m}),
                        to_numpy(std::move(vectors), {m, m}));
}

py::array_t<int32_t> knn_table(const CArray<float>& points, int32_t k, int threads) {
  const int32_t n = to_count(require_rows(points, 3, "points"), "number of points");
  host::KnnTable table;
  {
    py::gil_scoped_release release;
    table = host::knn_table(points.data(), n, k, threads);
  }
  return to_numpy(std::move(table.indices), {n, table.k});
}

py::tuple candidate_lists(const CArray<float>& points, float radius, int32_t cap, int threads) {
  const int32_t n = to_count(require_rows(points, 3, "points"), "number of points");
  host::CandidateLists lists;
  {
    py::gil_scoped_release release;
    lists = host::candidate_lists(points.data(), n, radius, cap, threads);
  }
  const auto total = static_cast<py::ssize_t>(lists.indices.size());
  return py::make_tuple(to_numpy(std::move(lists.offsets), {n + 1}), to_numpy(std::move(lists.indices), {total}));
}

py::array_t<int64_t> space_filling_order(const CArray<double>& points) {
  const py::ssize_t n = require_rows(points, 3, "points");
  std::vector<int64_t> out;
  {
    py::gil_scoped_release release;
    const std::vector<double> xyz(points.data(), points.data() + 3 * n);
    for (size_t i : host::space_filling_order(xyz, host::finite_indices(xyz))) {
      out.push_back(static_cast<int64_t>(i));
    }
  }
  const auto count = static_cast<py::ssize_t>(out.size());
  return to_numpy(std::move(out), {count});
}

}  // namespace ici3d::python
