// Exact nearest-neighbour queries over the finite points of a cloud.
// Internal to the host library; the k-d tree behind it stays in point_index.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "ici3d_host/points.h"

namespace ici3d::host::detail {

// Squared distance of two points, in double: ((dx*dx + dy*dy) + dz*dz) with each
// difference taken after converting the coordinates to double. Every search and
// every tie-break uses this one formula; the second point may be given by its
// coordinates, as when they are stored axis by axis.
template <typename T>
inline double squared_distance(const T* a, T bx, T by, T bz) {
  const double dx = static_cast<double>(a[0]) - static_cast<double>(bx);
  const double dy = static_cast<double>(a[1]) - static_cast<double>(by);
  const double dz = static_cast<double>(a[2]) - static_cast<double>(bz);
  return (dx * dx + dy * dy) + dz * dz;
}

template <typename T>
inline double squared_distance(const T* a, const T* b) {
  return squared_distance(a, b[0], b[1], b[2]);
}

using host::is_finite_point;

struct Neighbor {
  double sq_dist;
  int64_t index;  // index into the array the PointIndex was built from
};

struct Closer {
  bool operator()(const Neighbor& a, const Neighbor& b) const {
    return a.sq_dist < b.sq_dist || (a.sq_dist == b.sq_dist && a.index < b.index);
  }
};

struct NeighborQuery {
  size_t count = 0;                                              // at most this many results
  double max_sq_dist = std::numeric_limits<double>::infinity();  // inclusive bound
  int64_t exclude = -1;  // index never returned (the query point)
};

// A k-d tree over the finite points of xyz (3*n interleaved coordinates; the
// array must outlive the index only during construction: coordinates are copied).
template <typename T>
class PointIndex {
 public:
  PointIndex(const T* xyz, int64_t n);
  ~PointIndex();
  PointIndex(const PointIndex&) = delete;
  PointIndex& operator=(const PointIndex&) = delete;

  int64_t indexed_count() const;

  // The indices of the indexed points, neighbours mostly next to each other:
  // queries made in this order touch memory that is already cached.
  const std::vector<int64_t>& spatial_order() const;

  // The `query.count` points nearest to `position` by (squared distance, index),
  // other than `query.exclude` and within `query.max_sq_dist`, in that order.
  // The result is exact: it equals a brute-force scan. `out` is overwritten.
  void nearest(const T* position, const NeighborQuery& query, std::vector<Neighbor>& out) const;

  // Every point within `max_sq_dist` (inclusive) of `position` other than
  // `exclude`, in no particular order, appended to `out`. For a search whose
  // answer is known to lie within a bound: no ordering work while searching.
  void within(const T* position, double max_sq_dist, int64_t exclude,
              std::vector<Neighbor>& out) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

extern template class PointIndex<float>;
extern template class PointIndex<double>;

}  // namespace ici3d::host::detail
