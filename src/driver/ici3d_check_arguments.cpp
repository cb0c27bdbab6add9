#include <algorithm>
#include <cstdint>

#include "ici3d.h"
#include "internal/internal.h"

namespace {

using ici3d::internal::idx;

// Whether every value is a point index. Looks at all of them without an
// early exit: the loop then runs without a branch per value.
bool indices_in_range(const int32_t *values, std::size_t count, int32_t n) {
  uint32_t bad = 0;
  for (std::size_t k = 0; k < count; ++k) {
    bad |= static_cast<uint32_t>(values[k] < 0) | static_cast<uint32_t>(values[k] >= n);
  }
  return bad == 0;
}

// The problem of list i: 0 (none), 1 (a bad count or a missing list) or 2
// (an index out of range).
int list_problem(int32_t *const *lists, const int32_t *counts, int32_t n, int32_t i) {
  const int32_t count = counts[i];
  if (count < 0 || (count > 0 && lists[i] == nullptr)) return 1;
  return indices_in_range(lists[i], idx(count), n) ? 0 : 2;
}

// The lists are checked on all threads; what is reported is the problem of
// the first list that has one, as a check in list order would find it.
int32_t check_candidate_lists(int32_t *const *lists, const int32_t *counts, int32_t n,
                              int32_t max_selected) {
  int64_t first_problem = INT64_MAX;  // 4 * list + problem
  int32_t longest = 0;
#pragma omp parallel for schedule(dynamic, 4096) reduction(min : first_problem) reduction(max : longest)
  for (int32_t i = 0; i < n; ++i) {
    const int problem = list_problem(lists, counts, n, i);
    if (problem != 0) {
      first_problem = std::min<int64_t>(first_problem, 4 * int64_t{i} + problem);
    } else if (counts[i] > longest) {
      longest = counts[i];
    }
  }
  if (first_problem != INT64_MAX) {
    return first_problem % 4 == 1 ? ICI3D_ARGS_BAD_CANDIDATE_LIST : ICI3D_ARGS_BAD_CANDIDATE_INDEX;
  }
  if (max_selected < 1 || max_selected < longest) return ICI3D_ARGS_MAX_SELECTED_SMALL;
  return ICI3D_ARGS_OK;
}

}  // namespace

extern "C" int32_t ici3d_check_arguments(const float *points, int32_t n, const float *noise_sigma,
                                         int32_t /*base_size*/, int32_t /*num_scales*/,
                                         int32_t *const *ici_neighbors, float /*size_norm*/,
                                         float /*preselect_size*/, float /*scale_ratio*/,
                                         const int32_t *ici_neighbor_counts,
                                         int32_t max_selected, int32_t parameter_set,
                                         const int32_t *neighbor_table, int32_t K,
                                         const float *denoised_points) {
  if (n < 0) return ICI3D_ARGS_NEGATIVE_N;
  if (n == 0) return ICI3D_ARGS_OK;
  if (points == nullptr || noise_sigma == nullptr || ici_neighbors == nullptr ||
      ici_neighbor_counts == nullptr || denoised_points == nullptr ||
      (K > 0 && neighbor_table == nullptr)) {
    return ICI3D_ARGS_NULL_ARRAY;
  }
  if (parameter_set != 0 && parameter_set != 1) return ICI3D_ARGS_BAD_PARAMETER_SET;
  if (K < 0) return ICI3D_ARGS_NEGATIVE_K;
  if (K > 0 && !indices_in_range(neighbor_table, idx(K) * idx(n), n)) {
    return ICI3D_ARGS_BAD_NEIGHBOR_INDEX;
  }
  return check_candidate_lists(ici_neighbors, ici_neighbor_counts, n, max_selected);
}
