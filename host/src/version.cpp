#include "ici3d_host/version.h"

#include "ici3d.h"

namespace ici3d::host {

std::string version_string() {
  return std::to_string(ICI3D_VERSION_MAJOR) + "." + std::to_string(ICI3D_VERSION_MINOR) + "." +
         std::to_string(ICI3D_VERSION_PATCH);
}

}  // namespace ici3d::host
