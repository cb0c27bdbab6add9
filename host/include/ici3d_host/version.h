#pragma once
#include <string>

namespace ici3d::host {

/// "MAJOR.MINOR.PATCH" of the core library this host code was built against.
std::string version_string();

}  // namespace ici3d::host
