// ici3d._core: the compiled layer of the ici3d Python package. It only
// converts arrays and calls the host and core libraries; the package checks
// inputs and documents the public API.

#include "bindings.h"
#include "ici3d_host/version.h"

PYBIND11_MODULE(_core, m) {
  m.doc() = "Compiled layer of the ici3d package (use the package, not this module).";
  m.attr("__version__") = ici3d::host::version_string();
  ici3d::python::bind_io(m);
  ici3d::python::bind_denoise(m);
  ici3d::python::bind_lowlevel(m);
  ici3d::python::bind_tiles(m);
}
