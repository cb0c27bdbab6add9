// The one place that talks to nanoflann: a k-d tree over the finite points, a
// metric that computes exactly detail::squared_distance, and a bounded result
// set ordered by (squared distance, index) so that ties are broken by index
// whatever order the tree visits its leaves in.
#include "point_index.h"

#include <algorithm>
#include <cfloat>
#include <nanoflann.hpp>

namespace ici3d::host::detail {
namespace {

template <typename T>
struct CompactCloud {
  std::vector<T> coords;     // 3 per indexed point
  std::vector<int64_t> ids;  // original index of each indexed point

  size_t kdtree_get_point_count() const { return ids.size(); }
  T kdtree_get_pt(size_t idx, size_t dim) const { return coords[3 * idx + dim]; }
  const T* point(size_t idx) const { return coords.data() + 3 * idx; }
  template <class Box>
  bool kdtree_get_bbox(Box&) const {
    return false;
  }
};

template <typename T>
CompactCloud<T> finite_points(const T* xyz, int64_t n) {
  CompactCloud<T> cloud;
  for (int64_t i = 0; i < n; ++i) {
    const T* p = xyz + 3 * i;
    if (!is_finite_point(p)) continue;
    cloud.coords.insert(cloud.coords.end(), p, p + 3);
    cloud.ids.push_back(i);
  }
  return cloud;
}

// The tree prunes with distances accumulated axis by axis, which can round a
// few ulps above the true distance of a tied point; a slightly widened bound
// keeps such points in reach. Results are filtered with the exact bound.
inline double widened(double sq_dist) { return sq_dist + sq_dist * 1e-9 + DBL_MIN; }

template <typename T>
struct ExactSquaredL2 {
  using ElementType = T;
  using DistanceType = double;
  const CompactCloud<T>& cloud;

  explicit ExactSquaredL2(const CompactCloud<T>& c) : cloud(c) {}
  double evalMetric(const T* a, size_t b, size_t) const {
    return squared_distance(a, cloud.point(b));
  }
  template <typename U, typename V>
  double accum_dist(const U a, const V b, size_t) const {
    const double d = static_cast<double>(a) - static_cast<double>(b);
    return d * d;
  }
};

// Keeps the best `capacity` points in a max-heap (worst on top).
class BoundedNeighbors {
 public:
  BoundedNeighbors(const NeighborQuery& q, const std::vector<int64_t>& ids,
                   std::vector<Neighbor>& heap)
      : query_(q), ids_(ids), heap_(heap), search_bound_(widened(q.max_sq_dist)) {
    heap_.clear();
  }

  size_t size() const { return heap_.size(); }
  bool full() const { return heap_.size() == query_.count; }
  double worstDist() const { return full() ? widened(heap_.front().sq_dist) : search_bound_; }

  template <typename Accessor>
  bool addPoint(double sq_dist, Accessor compact_index) {
    const Neighbor candidate{sq_dist, ids_[static_cast<size_t>(compact_index)]};
    if (candidate.index == query_.exclude || sq_dist > query_.max_sq_dist) return true;
    if (!full()) {
      heap_.push_back(candidate);
      std::push_heap(heap_.begin(), heap_.end(), Closer());
    } else if (Closer()(candidate, heap_.front())) {
      replace_farthest(candidate);
    }
    return true;
  }

  void sort() { std::sort_heap(heap_.begin(), heap_.end(), Closer()); }

 private:
  // Puts the candidate in the place of the farthest neighbour (the heap's
  // top) and sifts it down: one pass down the heap instead of a pop and a
  // push. The heap holds the same neighbours either way.
  void replace_farthest(const Neighbor& candidate) {
    const size_t n = heap_.size();
    size_t hole = 0;
    for (;;) {
      const size_t left = 2 * hole + 1;
      if (left >= n) break;
      size_t child = left;
      if (left + 1 < n && Closer()(heap_[left], heap_[left + 1])) child = left + 1;
      if (!Closer()(candidate, heap_[child])) break;
      heap_[hole] = heap_[child];
      hole = child;
    }
    heap_[hole] = candidate;
  }

  const NeighborQuery& query_;
  const std::vector<int64_t>& ids_;
  std::vector<Neighbor>& heap_;
  double search_bound_;
};

// Collects every point within a fixed bound, unordered.
class PointsWithin {
 public:
  PointsWithin(double max_sq_dist, int64_t exclude, const std::vector<int64_t>& ids,
               std::vector<Neighbor>& out)
      : max_sq_dist_(max_sq_dist), exclude_(exclude), ids_(ids), out_(out),
        search_bound_(widened(max_sq_dist)) {}

  double worstDist() const { return search_bound_; }
  bool full() const { return false; }

  template <typename Accessor>
  bool addPoint(double sq_dist, Accessor compact_index) {
    const int64_t index = ids_[static_cast<size_t>(compact_index)];
    if (sq_dist <= max_sq_dist_ && index != exclude_) out_.push_back(Neighbor{sq_dist, index});
    return true;
  }

 private:
  double max_sq_dist_;
  int64_t exclude_;
  const std::vector<int64_t>& ids_;
  std::vector<Neighbor>& out_;
  double search_bound_;
};

constexpr size_t kLeafSize = 16;

}  // namespace

template <typename T>
struct PointIndex<T>::Impl {
  using Tree = nanoflann::KDTreeSingleIndexAdaptor<ExactSquaredL2<T>, CompactCloud<T>, 3, size_t>;
  CompactCloud<T> cloud;
  std::unique_ptr<Tree> tree;
};

// Stores the points in the order of the tree's leaves (and makes the tree's
// own permutation the identity), so that a leaf's points are adjacent in memory
// and spatial_order() is simply the id list.
template <typename T>
void store_in_leaf_order(CompactCloud<T>& cloud, std::vector<size_t>& permutation) {
  CompactCloud<T> ordered;
  ordered.coords.resize(cloud.coords.size());
  ordered.ids.resize(cloud.ids.size());
  for (size_t j = 0; j < permutation.size(); ++j) {
    std::copy(cloud.point(permutation[j]), cloud.point(permutation[j]) + 3,
              ordered.coords.begin() + static_cast<std::ptrdiff_t>(3 * j));
    ordered.ids[j] = cloud.ids[permutation[j]];
    permutation[j] = j;
  }
  cloud = std::move(ordered);
}

template <typename T>
PointIndex<T>::PointIndex(const T* xyz, int64_t n) : impl_(std::make_unique<Impl>()) {
  impl_->cloud = finite_points(xyz, n);
  if (impl_->cloud.ids.empty()) return;
  impl_->tree = std::make_unique<typename Impl::Tree>(
      3, impl_->cloud, nanoflann::KDTreeSingleIndexAdaptorParams(kLeafSize));
  store_in_leaf_order(impl_->cloud, impl_->tree->vAcc);
}

template <typename T>
PointIndex<T>::~PointIndex() = default;

template <typename T>
int64_t PointIndex<T>::indexed_count() const {
  return static_cast<int64_t>(impl_->cloud.ids.size());
}

template <typename T>
const std::vector<int64_t>& PointIndex<T>::spatial_order() const {
  return impl_->cloud.ids;
}

// The tree only takes points strictly closer than its current bound, so a
// point whose squared distance overflows to infinity (coordinates some 1e154
// apart) is never reached. A query still short of points takes those
// directly.
template <typename T>
void add_infinitely_far(const CompactCloud<T>& cloud, const T* position, BoundedNeighbors& result) {
  for (size_t j = 0; j < cloud.ids.size(); ++j) {
    const double sq_dist = squared_distance(position, cloud.point(j));
    if (sq_dist == std::numeric_limits<double>::infinity()) result.addPoint(sq_dist, j);
  }
}

template <typename T>
void PointIndex<T>::nearest(const T* position, const NeighborQuery& query,
                            std::vector<Neighbor>& out) const {
  BoundedNeighbors result(query, impl_->cloud.ids, out);
  if (!impl_->tree || query.count == 0 || !(query.max_sq_dist >= 0)) return;
  impl_->tree->findNeighbors(result, position, nanoflann::SearchParams());
  if (!result.full() && query.max_sq_dist == std::numeric_limits<double>::infinity())
    add_infinitely_far(impl_->cloud, position, result);
  result.sort();
}

template <typename T>
void PointIndex<T>::within(const T* position, double max_sq_dist, int64_t exclude,
                           std::vector<Neighbor>& out) const {
  if (!impl_->tree || !(max_sq_dist >= 0)) return;
  PointsWithin result(max_sq_dist, exclude, impl_->cloud.ids, out);
  impl_->tree->findNeighbors(result, position, nanoflann::SearchParams());
}

template class PointIndex<float>;
template class PointIndex<double>;

}  // namespace ici3d::host::detail
