#pragma once
// Small helpers on interleaved point coordinates (x, y, z of point i at
// 3i .. 3i+2) that the pipeline, the neighbour search and the tool share.

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace ici3d::host {

/// True when all three coordinates are finite. Written with comparisons, so
/// that it stays correct whatever the floating-point flags.
template <typename T>
inline bool is_finite_point(const T* p) {
  const T lim = std::numeric_limits<T>::max();
  return p[0] >= -lim && p[0] <= lim && p[1] >= -lim && p[1] <= lim && p[2] >= -lim && p[2] <= lim;
}

/// Indices of the points whose three coordinates are finite, ascending.
std::vector<size_t> finite_indices(const std::vector<double>& xyz);

/// Axis-aligned bounding box of the points (all finite); an empty set gives
/// lo = +inf and hi = -inf.
struct BoundingBox {
  std::array<double, 3> lo, hi;
  /// The largest side.
  double extent() const;
};
BoundingBox bounding_box(const std::vector<double>& xyz);

/// Centre of the axis-aligned bounding box of the points (all finite; an
/// empty set gives NaN).
std::array<double, 3> bounding_box_centre(const std::vector<double>& xyz);

/// Positions relative to `centre`, in float: coordinates of 10^6 and more
/// keep their precision this way.
std::vector<float> recentred_floats(const std::vector<double>& xyz,
                                    const std::array<double, 3>& centre);
/// The same relative to the bounding-box centre.
std::vector<float> recentred_floats(const std::vector<double>& xyz);

// `which` (indices of points of xyz, 3 doubles each, all finite) ordered
// along a Morton curve over their bounding cube, ties by lower index: points
// next to each other in space mostly end up next to each other. The pipeline
// hands the library its points in this order.
std::vector<size_t> space_filling_order(const std::vector<double>& xyz,
                                        const std::vector<size_t>& which);

/// The codes space_filling_order sorts by, for every point of xyz (all
/// finite), when the points it orders have the bounding box lo..hi: points
/// ordered by (code, index) anywhere are in the order space_filling_order
/// gives the whole set.
std::vector<uint64_t> space_filling_codes(const std::vector<double>& xyz,
                                          const std::array<double, 3>& lo,
                                          const std::array<double, 3>& hi);

}  // namespace ici3d::host
