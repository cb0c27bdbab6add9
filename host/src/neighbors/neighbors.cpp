// K-nearest-neighbour tables and candidate lists for the denoising library.
#include "ici3d_host/neighbors.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>

#include "point_index.h"

namespace ici3d::host {
namespace {

using detail::Neighbor;
using detail::NeighborQuery;
using detail::PointIndex;

// Points per unit of parallel work when building candidate lists; fixed so that
// the block layout does not depend on the thread count.
constexpr int32_t kListBlock = 1024;

// How much wider (in squared distance) than the previous query's answer the
// first bound of a seeded search is: wide enough that it nearly always holds
// enough points, narrow enough that few more are collected than kept. The
// number of points in a ball fluctuates by about 1/sqrt(count), hence the
// margin of 2.5 of those.
double guess_widening(size_t count) {
  return 1.0 + 2.5 / std::sqrt(static_cast<double>(std::max<size_t>(count, 1)));
}

// How much farther than a query's first bound the points gathered for it and
// the queries after it reach: wider serves more queries from one gathering,
// and makes each of them scan more points.
constexpr double kNearbyReach = 1.5;
// At most this many times the answer's size are gathered.
constexpr size_t kNearbyMost = 16;

int thread_count(int threads) { return threads > 0 ? threads : omp_get_max_threads(); }

void check_cloud(const float* xyz, int32_t n) {
  if (n < 0) throw std::invalid_argument("negative point count");
  if (n > 0 && xyz == nullptr) throw std::invalid_argument("null coordinate array");
}

// Whether point i is searched for: finite, and in the mask when there is one.
bool searched(const float* xyz, const char* active, int32_t i) {
  return (active == nullptr || active[i] != 0) &&
         detail::is_finite_point(xyz + 3 * static_cast<int64_t>(i));
}

// Every indexed point within a reach of a centre, with its coordinates side
// by side: the queries that follow in spatial order whose search ball lies
// inside the reach scan these instead of walking the tree again.
class NearbyPoints {
 public:
  void clear() { sq_reach_ = -1; }

  // Whether the ball of squared radius sq_bound around p lies inside the
  // reach, with a margin far above the rounding of the distances involved.
  bool covers(const float* p, double sq_bound) const {
    if (!(sq_reach_ >= 0)) return false;
    const double apart = std::sqrt(detail::squared_distance(p, centre_));
    return (apart + std::sqrt(sq_bound)) * (1 + 1e-9) <= std::sqrt(sq_reach_);
  }

  // Gathers the points within the reach of `centre`; false, and nothing
  // kept, when they are more than `most` (a reach far wider than the
  // answers, as around an isolated point, would make every later scan long).
  bool gather(const PointIndex<float>& index, const float* xyz, const float* centre,
              double sq_reach, size_t most) {
    std::copy(centre, centre + 3, centre_);
    within_.clear();
    index.within(centre, sq_reach, -1, within_);
    const size_t m = within_.size();
    if (m > most) {
      clear();
      return false;
    }
    sq_reach_ = sq_reach;
    ids_.resize(m);
    x_.resize(m);
    y_.resize(m);
    z_.resize(m);
    for (size_t j = 0; j < m; ++j) {
      const int64_t id = within_[j].index;
      const float* q = xyz + 3 * id;
      ids_[j] = static_cast<int32_t>(id);
      x_[j] = q[0];
      y_[j] = q[1];
      z_[j] = q[2];
    }
    return true;
  }

  // The points within sq_bound of p (inclusive), other than `exclude`.
  // Appends to `out`.
  void within(const float* p, double sq_bound, int32_t exclude, std::vector<Neighbor>& out) const {
    const size_t m = ids_.size();
    size_t kept = out.size();
    out.resize(kept + m);
    for (size_t j = 0; j < m; ++j) {
      const double sq_dist = detail::squared_distance(p, x_[j], y_[j], z_[j]);
      out[kept] = Neighbor{sq_dist, ids_[j]};
      kept += static_cast<size_t>(sq_dist <= sq_bound) & static_cast<size_t>(ids_[j] != exclude);
    }
    out.resize(kept);
  }

 private:
  float centre_[3] = {0, 0, 0};
  double sq_reach_ = -1;
  std::vector<Neighbor> within_;
  std::vector<int32_t> ids_;
  std::vector<float> x_, y_, z_;
};

// What the previous query of a thread leaves for the next one: its point and
// answer, when the answer was full, and the points gathered around it.
struct QuerySeeds {
  std::vector<int32_t> points;  // the point itself, then its `count` nearest
  double last_sq_dist = -1;     // squared distance of its count-th nearest
  NearbyPoints nearby;
  // Working space of keep_nearest.
  std::vector<Neighbor> scratch;
  std::vector<uint32_t> starts;
  void clear() {
    points.clear();
    last_sq_dist = -1;
    nearby.clear();
  }
  // Point i's answer, for the next query.
  void keep(int32_t i, const std::vector<Neighbor>& found) {
    points.assign(1, i);
    for (const Neighbor& nb : found) points.push_back(static_cast<int32_t>(nb.index));
    last_sq_dist = found.empty() ? -1 : found.back().sq_dist;
  }
};

// Picks the `count` nearest of `found` and sorts them by (squared
// distance, index).
void keep_nearest_by_sorting(size_t count, std::vector<Neighbor>& found) {
  if (found.size() > count) {
    std::nth_element(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(count),
                     found.end(), detail::Closer());
    found.resize(count);
  }
  std::sort(found.begin(), found.end(), detail::Closer());
}

// Picks the `count` nearest of `found` (all candidates within `bound`, a
// bound known to hold them) and sorts them by (squared distance, index).
// The candidates are first spread into buckets of equal squared-distance
// width, which keeps the (squared distance, index) order between buckets
// (the bucket number never decreases with the distance), so only the few
// candidates inside each bucket up to the count-th need comparing: on a
// surface a bucket holds about one.
void keep_nearest(size_t count, double bound, std::vector<Neighbor>& found,
                  std::vector<Neighbor>& scratch, std::vector<uint32_t>& starts) {
  const size_t buckets = std::max<size_t>(1, found.size());
  const double scale = static_cast<double>(buckets) / bound;
  if (!(scale < std::numeric_limits<double>::infinity())) {
    keep_nearest_by_sorting(count, found);
    return;
  }
  const auto bucket_of = [&](double sq_dist) {
    return std::min(buckets - 1, static_cast<size_t>(sq_dist * scale));
  };
  starts.assign(buckets + 1, 0);
  for (const Neighbor& nb : found) ++starts[bucket_of(nb.sq_dist) + 1];
  for (size_t b = 0; b < buckets; ++b) starts[b + 1] += starts[b];
  scratch.resize(found.size());
  for (const Neighbor& nb : found) scratch[starts[bucket_of(nb.sq_dist)]++] = nb;
  // starts[b] is now where bucket b ends; sort the buckets that hold the
  // first `count`.
  size_t begin = 0;
  for (size_t b = 0; b < buckets && begin < count; ++b) {
    const size_t end = starts[b];
    for (size_t j = begin + 1; j < end; ++j) {
      const Neighbor moving = scratch[j];
      size_t k = j;
      for (; k > begin && detail::Closer()(moving, scratch[k - 1]); --k) scratch[k] = scratch[k - 1];
      scratch[k] = moving;
    }
    begin = end;
  }
  scratch.resize(std::min(count, scratch.size()));
  found.swap(scratch);
}

// The points within sq_bound of p other than point i, from the gathered
// points when they cover that ball, from the tree otherwise.
void collect_within(const PointIndex<float>& index, const NearbyPoints& nearby, bool covered,
                    const float* p, double sq_bound, int32_t i, std::vector<Neighbor>& found) {
  if (covered) {
    nearby.within(p, sq_bound, i, found);
  } else {
    index.within(p, sq_bound, i, found);
  }
}

// The `count` points nearest to point i within `sq_radius`, by (squared
// distance, index). Queries come in spatial order, so the previous query's
// answer is a good guess. Every point within a bound that holds at least
// `count` points is collected without ordering, then the nearest `count` are
// picked and sorted: the same answer as a best-first search, with no heap
// kept while searching. The points within a somewhat wider reach are
// gathered once and scanned by the queries after it while their balls stay
// inside. The bound tried first is the previous query's count-th distance,
// widened a little; when that holds too few points, the farthest of the
// previous query's points from i (at least `count` points other than i)
// bounds the answer for sure. Without a full previous answer the search is
// best-first.
void nearest_seeded(const PointIndex<float>& index, const float* xyz, int32_t i, double sq_radius,
                    size_t count, QuerySeeds& seeds, std::vector<Neighbor>& found) {
  const float* p = xyz + 3 * static_cast<int64_t>(i);
  found.clear();
  if (seeds.points.size() < count + 1) {
    index.nearest(p, NeighborQuery{count, sq_radius, i}, found);
    return;
  }
  double bound = std::min(seeds.last_sq_dist * guess_widening(count), sq_radius);
  const bool nearby = seeds.nearby.covers(p, bound) ||
                      seeds.nearby.gather(index, xyz, p, bound * kNearbyReach * kNearbyReach,
                                          kNearbyMost * (count + 16));
  collect_within(index, seeds.nearby, nearby, p, bound, i, found);
  // Fewer than `count` within the first bound is the whole answer only when
  // that bound is the radius.
  if (found.size() < count && bound < sq_radius) {
    bound = 0;
    for (int32_t s : seeds.points) {
      if (s != i) bound = std::max(bound, detail::squared_distance(p, xyz + 3 * static_cast<int64_t>(s)));
    }
    bound = std::min(bound, sq_radius);
    found.clear();
    collect_within(index, seeds.nearby, seeds.nearby.covers(p, bound), p, bound, i, found);
  }
  keep_nearest(count, bound, found, seeds.scratch, seeds.starts);
}

// Row i of the k-NN table (see knn_table); `seeds` as for nearest_seeded.
void fill_knn_row(const PointIndex<float>& index, const float* xyz, const char* active, int32_t i,
                  int32_t k, std::vector<Neighbor>& found, QuerySeeds& seeds, int32_t* row) {
  found.clear();
  if (searched(xyz, active, i)) {
    nearest_seeded(index, xyz, i, std::numeric_limits<double>::infinity(),
                   static_cast<size_t>(k - 1), seeds, found);
    seeds.keep(i, found);
  }
  row[0] = i;
  int32_t filled = 1;
  for (const Neighbor& nb : found) row[filled++] = static_cast<int32_t>(nb.index);
  std::fill(row + filled, row + k, i);
}

// Appends the list of point i to `out` and returns whether the cap cut it.
// `seeds` holds the previous query's point and answer on entry, i's on return
// (see nearest_seeded).
bool append_candidates(const PointIndex<float>& index, const float* xyz, const char* active,
                       int32_t i, double sq_radius, int32_t cap, std::vector<Neighbor>& found,
                       QuerySeeds& seeds, std::vector<int32_t>& out) {
  found.clear();
  // One more than fits is asked for, so that a cut list can be told apart from
  // one that fits exactly.
  if (searched(xyz, active, i)) {
    nearest_seeded(index, xyz, i, sq_radius, static_cast<size_t>(cap), seeds, found);
    seeds.keep(i, found);
  }
  const bool cut = found.size() >= static_cast<size_t>(cap);
  if (cut) found.resize(static_cast<size_t>(cap) - 1);
  out.push_back(i);
  for (const Neighbor& nb : found) out.push_back(static_cast<int32_t>(nb.index));
  return cut;
}

// Every point once: the indexed ones in the index's spatial order (their
// searches then reuse cached parts of the tree), then the non-finite ones.
std::vector<int32_t> query_order(const PointIndex<float>& index, const float* xyz, int32_t n) {
  std::vector<int32_t> order;
  order.reserve(static_cast<size_t>(n));
  for (int64_t i : index.spatial_order()) order.push_back(static_cast<int32_t>(i));
  for (int32_t i = 0; i < n; ++i)
    if (!detail::is_finite_point(xyz + 3 * static_cast<int64_t>(i))) order.push_back(i);
  return order;
}

// Appends the lists of consecutive blocks of points to one array in block
// order, whichever thread searched which block and in what order they finish.
// Blocks are handed out in increasing order, so the block a thread waits for
// is always being searched by another thread.
class BlockCommitter {
 public:
  explicit BlockCommitter(std::vector<int32_t>& out) : out_(out) {}

  int64_t take() { return next_to_take_.fetch_add(1); }

  // Appends block b's lists once blocks 0..b-1 are in; nothing once any
  // block has failed.
  void commit(int64_t b, const std::vector<int32_t>& lists, int64_t capped) {
    std::unique_lock<std::mutex> lock(mutex_);
    turn_.wait(lock, [&] { return next_to_commit_ == b; });
    if (!failure_) {
      try {
        out_.insert(out_.end(), lists.begin(), lists.end());
        capped_ += capped;
      } catch (...) {
        failure_ = std::current_exception();
      }
    }
    ++next_to_commit_;
    turn_.notify_all();
  }

  void fail(std::exception_ptr e) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!failure_) failure_ = e;
  }
  bool failed() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<bool>(failure_);
  }
  std::exception_ptr failure() const { return failure_; }
  int64_t capped() const { return capped_; }

 private:
  std::vector<int32_t>& out_;
  std::atomic<int64_t> next_to_take_{0};
  std::mutex mutex_;
  std::condition_variable turn_;
  int64_t next_to_commit_ = 0;
  int64_t capped_ = 0;
  std::exception_ptr failure_;
};

// The candidate lists of all points, concatenated in point order into
// lists.indices. Blocks of kListBlock consecutive points are searched on all
// threads (each query starting from its predecessor's answer, so points in a
// spatially coherent order, as the pipeline gives them, search fastest) and
// appended as soon as the blocks before them are in: besides the lists
// themselves only the blocks in flight are held. The lists can be large: an
// allocation failure on a worker thread is rethrown here, not left to end the
// program.
void search_lists(const PointIndex<float>& index, const float* xyz, const char* active, int32_t n,
                  double sq_radius, int32_t cap, int threads, CandidateLists& lists) {
  const int64_t block_count = (static_cast<int64_t>(n) + kListBlock - 1) / kListBlock;
  // Room for every list at its longest, taken as address space only: pages
  // are touched as lists arrive, and the array never moves while it grows.
  // Without that room (no address space to spare) it grows as it must.
  try {
    lists.indices.reserve(static_cast<size_t>(n) * static_cast<size_t>(cap));
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  BlockCommitter committer(lists.indices);
#pragma omp parallel num_threads(thread_count(threads))
  {
    std::vector<Neighbor> found;
    QuerySeeds seeds;
    std::vector<int32_t> block;
    for (int64_t b = committer.take(); b < block_count; b = committer.take()) {
      block.clear();
      seeds.clear();
      int64_t capped = 0;
      try {
        // Once a block has failed nothing more is appended: skip the work.
        const int64_t end =
            committer.failed() ? b * kListBlock : std::min<int64_t>(n, (b + 1) * kListBlock);
        for (int64_t i = b * kListBlock; i < end; ++i) {
          const size_t before = block.size();
          capped += append_candidates(index, xyz, active, static_cast<int32_t>(i), sq_radius, cap,
                                      found, seeds, block);
          lists.counts[static_cast<size_t>(i)] = static_cast<int32_t>(block.size() - before);
        }
      } catch (...) {
        committer.fail(std::current_exception());
      }
      committer.commit(b, block, capped);
    }
  }
  if (committer.failure()) std::rethrow_exception(committer.failure());
  lists.capped = committer.capped();
}

void point_into_indices(CandidateLists& lists) {
  lists.pointers.resize(lists.counts.size());
  for (size_t i = 0; i < lists.counts.size(); ++i)
    lists.pointers[i] = lists.indices.data() + lists.offsets[i];
}

void check_knn_arguments(const float* xyz, int32_t n, int32_t k) {
  check_cloud(xyz, n);
  if (k < 0) throw std::invalid_argument("negative neighbour count");
}

void check_list_arguments(const float* xyz, int32_t n, float radius, int32_t cap) {
  check_cloud(xyz, n);
  if (!(radius >= 0.0f)) throw std::invalid_argument("negative or NaN candidate radius");
  if (cap < 1) throw std::invalid_argument("candidate cap below 1");
}

// The k-NN table of the points of `index`. A point whose candidate list
// (when given) holds at least k entries takes its row from the list's first
// k: the list is ordered the same way and everything outside its radius is
// farther than everything in it. The others are searched.
KnnTable knn_rows(const PointIndex<float>& index, const std::vector<int32_t>& order,
                  const float* xyz, int32_t n, int32_t k, int threads, const char* active,
                  const CandidateLists* lists) {
  KnnTable table;
  table.k = k;
  if (k == 0 || n == 0) return table;
  table.indices.resize(static_cast<size_t>(n) * static_cast<size_t>(k));
#pragma omp parallel num_threads(thread_count(threads))
  {
    std::vector<Neighbor> found;
    QuerySeeds seeds;
#pragma omp for schedule(dynamic, 256)
    for (int32_t s = 0; s < n; ++s) {
      const int32_t i = order[static_cast<size_t>(s)];
      int32_t* row = table.indices.data() + static_cast<size_t>(i) * static_cast<size_t>(k);
      if (lists != nullptr && lists->counts[static_cast<size_t>(i)] >= k) {
        const int32_t* list = lists->pointers[static_cast<size_t>(i)];
        std::copy(list, list + k, row);
      } else {
        fill_knn_row(index, xyz, active, i, k, found, seeds, row);
      }
    }
  }
  return table;
}

CandidateLists lists_from_index(const PointIndex<float>& index, const float* xyz, int32_t n,
                                float radius, int32_t cap, int threads, const char* active) {
  const double sq_radius = static_cast<double>(radius) * static_cast<double>(radius);
  CandidateLists lists;
  lists.counts.assign(static_cast<size_t>(n), 0);
  search_lists(index, xyz, active, n, sq_radius, cap, threads, lists);
  lists.offsets.assign(static_cast<size_t>(n) + 1, 0);
  for (size_t i = 0; i < lists.counts.size(); ++i) {
    lists.offsets[i + 1] = lists.offsets[i] + lists.counts[i];
    lists.longest = std::max(lists.longest, lists.counts[i]);
  }
  point_into_indices(lists);
  return lists;
}

}  // namespace

KnnTable knn_table(const float* xyz, int32_t n, int32_t k, int threads, const char* active) {
  check_knn_arguments(xyz, n, k);
  if (k == 0 || n == 0) {
    KnnTable empty;
    empty.k = k;
    return empty;
  }
  const PointIndex<float> index(xyz, n);
  return knn_rows(index, query_order(index, xyz, n), xyz, n, k, threads, active, nullptr);
}

CandidateLists candidate_lists(const float* xyz, int32_t n, float radius, int32_t cap,
                               int threads, const char* active) {
  check_list_arguments(xyz, n, radius, cap);
  const PointIndex<float> index(xyz, n);
  return lists_from_index(index, xyz, n, radius, cap, threads, active);
}

NeighbourTables neighbour_tables(const float* xyz, int32_t n, int32_t k, float radius, int32_t cap,
                                 int threads, const char* active) {
  check_knn_arguments(xyz, n, k);
  check_list_arguments(xyz, n, radius, cap);
  const PointIndex<float> index(xyz, n);
  const std::vector<int32_t> order = query_order(index, xyz, n);
  NeighbourTables tables;
  tables.lists = lists_from_index(index, xyz, n, radius, cap, threads, active);
  tables.knn = knn_rows(index, order, xyz, n, k, threads, active, &tables.lists);
  return tables;
}

CandidateLists::CandidateLists(const CandidateLists& other)
    : offsets(other.offsets),
      indices(other.indices),
      counts(other.counts),
      longest(other.longest),
      capped(other.capped) {
  point_into_indices(*this);
}

CandidateLists& CandidateLists::operator=(const CandidateLists& other) {
  if (this != &other) {
    CandidateLists copy(other);
    *this = std::move(copy);
  }
  return *this;
}

float preselect_radius(float preselect_size) {
  return static_cast<float>(static_cast<double>(preselect_size) * std::sqrt(3.0) * 1.001);
}

bool degenerate_neighbourhood(const float* xyz, const int32_t* row, int32_t k) {
  double mean[3] = {0, 0, 0};
  for (int32_t j = 0; j < k; ++j) {
    for (int c = 0; c < 3; ++c) mean[c] += xyz[3 * static_cast<size_t>(row[j]) + c];
  }
  for (double& m : mean) m /= k;
  double s[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
  for (int32_t j = 0; j < k; ++j) {
    double d[3];
    for (int c = 0; c < 3; ++c) d[c] = xyz[3 * static_cast<size_t>(row[j]) + c] - mean[c];
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) s[r][c] += d[r] * d[c];
    }
  }
  const double trace = s[0][0] + s[1][1] + s[2][2];
  const double minors = (s[0][0] * s[1][1] - s[0][1] * s[1][0]) +
                        (s[0][0] * s[2][2] - s[0][2] * s[2][0]) +
                        (s[1][1] * s[2][2] - s[1][2] * s[2][1]);
  return !(trace > 0) || !(minors > 1e-10 * trace * trace);
}

}  // namespace ici3d::host
