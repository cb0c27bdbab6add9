#include <utility>
#include <vector>

#include "adapters.h"
#include "progress_relay.h"

namespace ici3d::python {

py::tuple denoise_points(const CArray<double>& points, host::DenoiseOptions options,
                         const std::optional<CArray<double>>& point_sigma, const py::object& progress,
                         bool return_sigma) {
  const py::ssize_t n = require_rows(points, 3, "points");
  std::vector<double> xyz(points.data(), points.data() + 3 * n);
  if (point_sigma) {
    require_length(*point_sigma, n, "sigma");
    options.point_sigma.assign(point_sigma->data(), point_sigma->data() + n);
  }
  ProgressRelay relay(progress);
  options.progress = relay.callback();
  std::vector<float> final_sigma;
  host::DenoiseReport report;
  {
    py::gil_scoped_release release;
    report = host::denoise_positions(xyz, options, return_sigma ? &final_sigma : nullptr);
  }
  relay.rethrow_if_failed();
  report.effective.progress = nullptr;
  py::object sigma = py::none();
  if (return_sigma) sigma = to_numpy(std::move(final_sigma), {n});
  return py::make_tuple(to_numpy(std::move(xyz), {n, 3}), sigma, std::move(report));
}

host::DenoiseReport denoise_file(const std::string& input, const std::string& output,
                                 host::DenoiseOptions options, const py::object& progress,
                                 bool overwrite) {
  ProgressRelay relay(progress);
  options.progress = relay.callback();
  host::FileOptions file;
  file.write.overwrite = overwrite;  // never the input: overwrite_source stays off
  host::DenoiseReport report;
  {
    py::gil_scoped_release release;
    report = host::denoise_file(input, output, options, file).denoise;
  }
  relay.rethrow_if_failed();
  report.effective.progress = nullptr;
  return report;
}

host::CloudEstimates estimate_points(const CArray<double>& points, int threads) {
  const py::ssize_t n = require_rows(points, 3, "points");
  std::vector<double> xyz(points.data(), points.data() + 3 * n);
  py::gil_scoped_release release;
  return host::estimate_cloud(xyz, threads);
}

}  // namespace ici3d::python
