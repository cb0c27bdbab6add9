#pragma once
// The point type and constant the shapes share.

#include <array>

namespace ici3d::shapes {

using Vec3 = std::array<double, 3>;

inline constexpr double kPi = 3.14159265358979323846;

}  // namespace ici3d::shapes
