// K-nearest-neighbour tables and candidate lists for the denoising library.
#include "ici3d_host/neighbors.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
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

void fill_knn_row(const PointIndex<float>& index, const float* xyz, const char* active, int32_t i,
                  int32_t k, std::vector<Neighbor>& found, int32_t* row) {
  const float* p = xyz + 3 * static_cast<int64_t>(i);
  found.clear();
  if (searched(xyz, active, i))
    index.nearest(
        p, NeighborQuery{static_cast<size_t>(k - 1), std::numeric_limits<double>::infinity(), i},
        found);
  row[0] = i;
  int32_t filled = 1;
  for (const Neighbor& nb : found) row[filled++] = static_cast<int32_t>(nb.index);
  std::fill(row + filled, row + k, i);
}

// Appends the list of point i to `out` and returns whether the cap cut it.
bool append_candidates(const PointIndex<float>& index, const float* xyz, const char* active,
                       int32_t i, double sq_radius, int32_t cap, std::vector<Neighbor>& found,
                       std::vector<int32_t>& out) {
  const float* p = xyz + 3 * static_cast<int64_t>(i);
  found.clear();
  // One more than fits is asked for, so that a cut list can be told apart from
  // one that fits exactly.
  if (searched(xyz, active, i))
    index.nearest(p, NeighborQuery{static_cast<size_t>(cap), sq_radius, i}, found);
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

// The lists of kListBlock consecutive points of the query order, concatenated.
struct ListBlock {
  std::vector<int32_t> indices;
  int64_t capped = 0;
};

struct SearchedLists {
  std::vector<ListBlock> blocks;
  std::vector<int64_t> start_in_block;  // per point: where its list starts in its block
};

SearchedLists search_candidate_blocks(const PointIndex<float>& index, const float* xyz,
                                      const char* active, const std::vector<int32_t>& order, double sq_radius,
                                      int32_t cap, int threads, std::vector<int32_t>& counts) {
  const int64_t n = static_cast<int64_t>(order.size());
  const int64_t block_count = (n + kListBlock - 1) / kListBlock;
  SearchedLists searched;
  searched.blocks.resize(static_cast<size_t>(block_count));
  searched.start_in_block.resize(order.size());
  // The lists can be large: an allocation failure on a worker thread is carried
  // out of the parallel region and rethrown, not left to terminate the program.
  std::exception_ptr failure;
#pragma omp parallel num_threads(thread_count(threads))
  {
    std::vector<Neighbor> found;
#pragma omp for schedule(dynamic, 1)
    for (int64_t b = 0; b < block_count; ++b) {
      ListBlock& block = searched.blocks[static_cast<size_t>(b)];
      try {
        for (int64_t s = b * kListBlock; s < std::min(n, (b + 1) * kListBlock); ++s) {
          const size_t i = static_cast<size_t>(order[static_cast<size_t>(s)]);
          const size_t before = block.indices.size();
          searched.start_in_block[i] = static_cast<int64_t>(before);
          block.capped += append_candidates(index, xyz, active, static_cast<int32_t>(i), sq_radius,
                                            cap, found, block.indices);
          counts[i] = static_cast<int32_t>(block.indices.size() - before);
        }
      } catch (...) {
#pragma omp critical(ici3d_candidate_failure)
        if (!failure) failure = std::current_exception();
      }
    }
  }
  if (failure) std::rethrow_exception(failure);
  return searched;
}

void gather_lists(const SearchedLists& searched, const std::vector<int32_t>& order, int threads,
                  CandidateLists& lists) {
  lists.indices.resize(static_cast<size_t>(lists.offsets.back()));
  const int64_t n = static_cast<int64_t>(order.size());
#pragma omp parallel for schedule(static) num_threads(thread_count(threads))
  for (int64_t s = 0; s < n; ++s) {
    const size_t i = static_cast<size_t>(order[static_cast<size_t>(s)]);
    const std::vector<int32_t>& from = searched.blocks[static_cast<size_t>(s / kListBlock)].indices;
    const auto first = from.begin() + searched.start_in_block[i];
    std::copy(first, first + lists.counts[i], lists.indices.begin() + lists.offsets[i]);
  }
}

void point_into_indices(CandidateLists& lists) {
  lists.pointers.resize(lists.counts.size());
  for (size_t i = 0; i < lists.counts.size(); ++i)
    lists.pointers[i] = lists.indices.data() + lists.offsets[i];
}

}  // namespace

KnnTable knn_table(const float* xyz, int32_t n, int32_t k, int threads, const char* active) {
  check_cloud(xyz, n);
  if (k < 0) throw std::invalid_argument("negative neighbour count");
  KnnTable table;
  table.k = k;
  if (k == 0 || n == 0) return table;
  table.indices.resize(static_cast<size_t>(n) * static_cast<size_t>(k));
  const PointIndex<float> index(xyz, n);
  const std::vector<int32_t> order = query_order(index, xyz, n);
#pragma omp parallel num_threads(thread_count(threads))
  {
    std::vector<Neighbor> found;
    found.reserve(static_cast<size_t>(k));
#pragma omp for schedule(dynamic, 256)
    for (int32_t s = 0; s < n; ++s) {
      const int32_t i = order[static_cast<size_t>(s)];
      fill_knn_row(index, xyz, active, i, k, found,
                   table.indices.data() + static_cast<size_t>(i) * static_cast<size_t>(k));
    }
  }
  return table;
}

CandidateLists candidate_lists(const float* xyz, int32_t n, float radius, int32_t cap,
                               int threads, const char* active) {
  check_cloud(xyz, n);
  if (!(radius >= 0.0f)) throw std::invalid_argument("negative or NaN candidate radius");
  if (cap < 1) throw std::invalid_argument("candidate cap below 1");
  const double sq_radius = static_cast<double>(radius) * static_cast<double>(radius);

  CandidateLists lists;
  lists.counts.assign(static_cast<size_t>(n), 0);
  std::vector<int32_t> order;
  SearchedLists searched;
  {
    const PointIndex<float> index(xyz, n);
    order = query_order(index, xyz, n);
    searched =
        search_candidate_blocks(index, xyz, active, order, sq_radius, cap, threads, lists.counts);
  }
  lists.offsets.assign(static_cast<size_t>(n) + 1, 0);
  for (size_t i = 0; i < lists.counts.size(); ++i) {
    lists.offsets[i + 1] = lists.offsets[i] + lists.counts[i];
    lists.longest = std::max(lists.longest, lists.counts[i]);
  }
  for (const ListBlock& block : searched.blocks) lists.capped += block.capped;
  gather_lists(searched, order, threads, lists);
  point_into_indices(lists);
  return lists;
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
