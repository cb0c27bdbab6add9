#pragma once
// Registration of each area of the extension module ici3d._core.

#include <pybind11/pybind11.h>

namespace ici3d::python {

void bind_io(pybind11::module_& m);
void bind_denoise(pybind11::module_& m);
void bind_lowlevel(pybind11::module_& m);
void bind_tiles(pybind11::module_& m);

}  // namespace ici3d::python
