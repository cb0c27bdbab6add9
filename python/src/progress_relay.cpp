#include "progress_relay.h"

#include <utility>

namespace ici3d::python {

ProgressRelay::ProgressRelay(py::object callable) : callable_(std::move(callable)) {}

host::ProgressCallback ProgressRelay::callback() {
  if (callable_.is_none()) return {};
  return [this](const host::Progress& progress) { forward(progress); };
}

void ProgressRelay::forward(const host::Progress& progress) {
  if (error_) return;
  py::gil_scoped_acquire gil;
  try {
    callable_(progress.overall);
  } catch (...) {
    error_ = std::current_exception();
  }
}

void ProgressRelay::rethrow_if_failed() {
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

}  // namespace ici3d::python
