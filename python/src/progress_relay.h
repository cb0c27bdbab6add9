#pragma once
// Hands the pipeline's progress reports to a Python callable. Reports come
// from the pipeline's worker threads, one at a time and in rising order,
// while the calling thread has released the GIL, so each call takes the GIL
// itself. An exception raised by the callable
// cannot stop the run; it is kept, later reports are dropped, and
// rethrow_if_failed() raises it once the run is over.

#include <pybind11/pybind11.h>

#include <exception>

#include "ici3d_host/denoise.h"

namespace ici3d::python {

namespace py = pybind11;

class ProgressRelay {
 public:
  /// `callable` receives the overall fraction done (0..1); None: no reports.
  explicit ProgressRelay(py::object callable);
  ProgressRelay(const ProgressRelay&) = delete;
  ProgressRelay& operator=(const ProgressRelay&) = delete;

  /// A callback for DenoiseOptions::progress (empty for None). It refers to
  /// this relay and holds no Python object, so copies of it are safe
  /// without the GIL; it must not outlive the relay.
  host::ProgressCallback callback();
  /// Raises the callable's first exception, if any. Needs the GIL.
  void rethrow_if_failed();

 private:
  void forward(const host::Progress& progress);

  py::object callable_;
  std::exception_ptr error_;
};

}  // namespace ici3d::python
