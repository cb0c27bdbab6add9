#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "ici3d.h"
#include "internal/internal.h"
#include "internal/layout.h"
#include "internal/spreading.h"

namespace {

namespace layout = ici3d::layout;

using ici3d::internal::idx;

// The working arrays of one pass. Sizes are formed in 64 bits.
struct WorkArrays {
  int32_t *selected_counts = nullptr;     // [4i + d]
  float *direction_fits = nullptr;        // [12i + 3d + k]
  float *direction_estimates = nullptr;   // [12i + 4c + d]
  float *direction_sigmas = nullptr;      // [d * n + i]
  float *normal_matrix_sums = nullptr;    // [9i + 3r + c]
  float *normal_rhs_sums = nullptr;       // [3i + c]
  float *weight_sums = nullptr;           // [i]
  float *sigma_sq_sums = nullptr;         // [i]
  float *contribution_counts = nullptr;   // [i]
  float *fused_points = nullptr;          // [c * n + i]
  // Which of point i's list entries its kept windows hold (see keep_windows;
  // null when it kept none), and the smallest and largest point index in
  // them: the spreading looks at point i's windows only when they reach into
  // the points it is summing for.
  const uint64_t **window_marks = nullptr;  // [i]
  float *plane_weights = nullptr;         // [4i + d], of the kept windows
  int32_t *member_lo = nullptr;           // [i]
  int32_t *member_hi = nullptr;           // [i]

  bool allocate(std::size_t n) {
    selected_counts = alloc<int32_t>(4 * n);
    // Zeroed so that a direction is never taken as accepted by accident.
    direction_fits = static_cast<float *>(std::calloc(12 * n, sizeof(float)));
    direction_estimates = alloc<float>(12 * n);
    direction_sigmas = alloc<float>(4 * n);
    normal_matrix_sums = alloc<float>(9 * n);
    normal_rhs_sums = alloc<float>(3 * n);
    weight_sums = alloc<float>(n);
    sigma_sq_sums = alloc<float>(n);
    contribution_counts = alloc<float>(n);
    fused_points = alloc<float>(3 * n);
    window_marks = alloc<const uint64_t *>(n);
    plane_weights = alloc<float>(4 * n);
    member_lo = alloc<int32_t>(n);
    member_hi = alloc<int32_t>(n);
    return selected_counts && direction_fits && direction_estimates && direction_sigmas &&
           normal_matrix_sums && normal_rhs_sums && weight_sums && sigma_sq_sums &&
           contribution_counts && fused_points && window_marks && plane_weights && member_lo &&
           member_hi;
  }
  ~WorkArrays() {
    std::free(selected_counts);
    std::free(direction_fits);
    std::free(direction_estimates);
    std::free(direction_sigmas);
    std::free(normal_matrix_sums);
    std::free(normal_rhs_sums);
    std::free(weight_sums);
    std::free(sigma_sq_sums);
    std::free(contribution_counts);
    std::free(fused_points);
    std::free(window_marks);
    std::free(plane_weights);
    std::free(member_lo);
    std::free(member_hi);
  }

 private:
  template <typename T>
  static T *alloc(std::size_t count) {
    return static_cast<T *>(std::malloc((count > 0 ? count : 1) * sizeof(T)));
  }
};

void initialise(WorkArrays &w, std::size_t n, const float *noise_sigma, const float *points,
                float *denoised_points) {
  const int64_t count = static_cast<int64_t>(n);
#pragma omp parallel for schedule(static)
  for (int64_t p = 0; p < count; ++p) {
    const std::size_t i = idx(p);
    std::memset(w.normal_matrix_sums + 9 * i, 0, 9 * sizeof(float));
    std::memset(w.normal_rhs_sums + 3 * i, 0, 3 * sizeof(float));
    for (std::size_t c = 0; c < 3; ++c) w.fused_points[c * n + i] = 0.0f;
    w.weight_sums[i] = 0.0f;
    w.sigma_sq_sums[i] = 0.0f;
    w.contribution_counts[i] = 0.0f;
    for (int64_t d = 0; d < 4; ++d) w.direction_sigmas[layout::direction_sigma(i, d, n)] = noise_sigma[i];
    for (std::size_t c = 0; c < 3; ++c) {
      denoised_points[3 * i + c] = 0.0f;
      for (int64_t d = 0; d < 4; ++d) {
        w.direction_estimates[layout::direction_estimate(i, c, d)] =
            points[3 * i + c];
      }
    }
  }
}

// Storage for the window marks that the spreading reads, filled by one
// thread in blocks that never move. A point's rows are estimated into a
// scratch of four full rows; what is kept is a bit mask over its list per
// direction, bit k of direction d set when entry k is a member of the
// accepted window of direction d. So memory follows the lists (half a byte
// per entry) rather than four rows of max_selected entries for every point,
// and the spreading visits only the members.
class MarkArena {
 public:
  MarkArena() = default;
  MarkArena(const MarkArena &) = delete;
  MarkArena &operator=(const MarkArena &) = delete;
  ~MarkArena() {
    while (head_ != nullptr) {
      Block *next = head_->next;
      std::free(head_);
      head_ = next;
    }
  }

  // `count` zeroed words that stay in place until the arena goes; null when
  // memory runs out.
  uint64_t *take(std::size_t count) {
    if (head_ == nullptr || head_->used + count > head_->capacity) {
      const std::size_t capacity = count > kBlockWords ? count : kBlockWords;
      void *memory = std::malloc(sizeof(Block) + capacity * sizeof(uint64_t));
      if (memory == nullptr) return nullptr;
      head_ = new (memory) Block{head_, capacity, 0};
    }
    uint64_t *room = words(head_) + head_->used;
    head_->used += count;
    std::memset(room, 0, count * sizeof(uint64_t));
    return room;
  }

 private:
  struct Block {
    Block *next;
    std::size_t capacity;
    std::size_t used;
  };
  static constexpr std::size_t kBlockWords = std::size_t{1} << 17;
  static uint64_t *words(Block *b) { return reinterpret_cast<uint64_t *>(b + 1); }
  Block *head_ = nullptr;
};

// Words of one direction's mask over a list of `count` entries.
std::size_t mask_words(int32_t count) { return (idx(count) + 63) / 64; }

// Position of the lowest set bit of a non-zero word.
std::size_t lowest_bit(uint64_t bits) {
#if defined(__GNUC__) || defined(__clang__)
  return static_cast<std::size_t>(__builtin_ctzll(bits));
#else
  std::size_t k = 0;
  for (; (bits & 1u) == 0; bits >>= 1) ++k;
  return k;
#endif
}

// How many members of row d of point i the spreading reads: those of an
// accepted direction whose window fits its row, none otherwise.
int32_t kept_length(const WorkArrays &w, std::size_t i, int64_t d, int32_t max_selected) {
  if (!(w.direction_fits[layout::direction_fit(static_cast<int64_t>(i), d, 2)] > 0.0f)) return 0;
  const int32_t m = w.selected_counts[layout::selected_count(static_cast<int64_t>(i), d)];
  return m > 0 && m <= max_selected ? m : 0;
}

// What phases 1 and 2 read besides the working arrays.
struct PassInputs {
  int32_t *const *lists;
  const int32_t *counts;
  int32_t n;
  int32_t max_selected;
  const float *frame_matrices;
  const int32_t *axis_order;
  const float *noise_sigma;
  const float *points;
};

// Marks the members of the accepted windows of point i on its list, from
// the scratch rows of their positions, records which points they reach, and
// weighs each accepted plane by its window (members in row order, while the
// window's points are in cache). `members` has room for max_selected point
// indices. False when out of memory.
bool keep_windows(WorkArrays &w, std::size_t i, const PassInputs &in, const int32_t *scratch,
                  int32_t *members, MarkArena &arena) {
  int32_t lengths[4];
  bool any = false;
  for (int64_t d = 0; d < 4; ++d) {
    lengths[d] = kept_length(w, i, d, in.max_selected);
    any = any || lengths[d] > 0;
  }
  int32_t lo = in.n, hi = -1;
  w.window_marks[i] = nullptr;
  if (any) {
    const int32_t *list = in.lists[i];
    const std::size_t words = mask_words(in.counts[i]);
    uint64_t *marks = arena.take(4 * words);
    if (marks == nullptr) return false;
    w.window_marks[i] = marks;
    for (int32_t d = 0; d < 4; ++d) {
      if (lengths[d] == 0) continue;
      const int32_t *positions = scratch + layout::selected_row(0, d, in.max_selected);
      for (int32_t k = 0; k < lengths[d]; ++k) {
        const int32_t j = list[positions[k]];
        members[k] = j;
        const std::size_t at = idx(positions[k]);
        marks[idx(d) * words + at / 64] |= uint64_t{1} << (at % 64);
        lo = j < lo ? j : lo;
        hi = j > hi ? j : hi;
      }
      ici3d::internal::Plane plane;
      if (ici3d::internal::direction_plane(static_cast<int32_t>(i), d, in.frame_matrices,
                                           in.axis_order, w.direction_fits, w.direction_estimates,
                                           lengths[d], in.max_selected, plane)) {
        w.plane_weights[layout::selected_count(static_cast<int64_t>(i), d)] =
            ici3d::internal::plane_weight(plane, members, lengths[d], in.points, in.noise_sigma);
      }
    }
  }
  w.member_lo[i] = lo;
  w.member_hi[i] = hi;
  return true;
}

// Adds every accepted plane into the sums of the receiving points first ..
// last-1 only. The windows are met in the order of a serial pass (points
// ascending, directions ascending), so each point's sums are formed with the
// same additions in the same order whichever thread owns it and however the
// points are split. Within one window the members are met in list order
// (through its mask) rather than window order: a window's members are
// distinct list entries, so a point receives the window's plane as many
// times as it is listed there, and nothing else comes between those
// additions to its own sums.
void spread_into(const WorkArrays &w, int32_t first, int32_t last, const PassInputs &in) {
  const ici3d::internal::SpreadSums sums{w.normal_matrix_sums, w.normal_rhs_sums, w.weight_sums,
                                         w.sigma_sq_sums, w.contribution_counts};
  for (int32_t i = 0; i < in.n; ++i) {
    const std::size_t ii = idx(i);
    if (w.member_hi[ii] < first || w.member_lo[ii] >= last) continue;
    const int32_t *list = in.lists[ii];
    const std::size_t words = mask_words(in.counts[ii]);
    for (int32_t d = 0; d < 4; ++d) {
      const int32_t length = kept_length(w, ii, d, in.max_selected);
      ici3d::internal::Plane plane;
      if (length > 0 &&
          ici3d::internal::direction_plane(i, d, in.frame_matrices, in.axis_order,
                                           w.direction_fits, w.direction_estimates, length,
                                           in.max_selected, plane)) {
        const ici3d::internal::PlaneContribution contribution = ici3d::internal::plane_contribution(
            plane, w.plane_weights[layout::selected_count(i, d)], i, d, in.n, w.direction_sigmas);
        const uint64_t *mask = w.window_marks[ii] + idx(d) * words;
        for (std::size_t word = 0; word < words; ++word) {
          for (uint64_t bits = mask[word]; bits != 0; bits &= bits - 1) {
            const int32_t j = list[64 * word + lowest_bit(bits)];
            if (j >= first && j < last) ici3d::internal::add_contribution(contribution, idx(j), sums);
          }
        }
      }
    }
  }
}

// Position of point i in its own candidate list, or -1.
int32_t find_self(int32_t *const *lists, const int32_t *counts, int32_t i) {
  const int32_t *list = lists[i];
  if (list == nullptr) return -1;
  for (int32_t k = 0; k < counts[i]; ++k) {
    if (list[k] == i) return k;
  }
  return -1;
}

// Inverse-variance fusion of the four direction estimates of point i.
void fuse_directions(const WorkArrays &w, std::size_t n, std::size_t i) {
  double weight[4];
  for (std::size_t d = 0; d < 4; ++d) {
    const double s = static_cast<double>(w.direction_sigmas[layout::direction_sigma(i, d, n)]);
    weight[d] = 1.0 / (s * s);
  }
  const float total = static_cast<float>(((weight[0] + weight[1]) + weight[2]) + weight[3]);
  for (std::size_t c = 0; c < 3; ++c) {
    const float *e = w.direction_estimates + layout::direction_estimate(i, c, 0);
    const double sum = ((weight[0] * static_cast<double>(e[0]) + weight[1] * static_cast<double>(e[1])) +
                        weight[2] * static_cast<double>(e[2])) +
                       weight[3] * static_cast<double>(e[3]);
    w.fused_points[c * n + i] = static_cast<float>(sum / static_cast<double>(total));
  }
}

// Regularised solve of point i: planes received plus a pull towards the
// input position. A point that received nothing takes its fused estimate.
void solve_point(const WorkArrays &w, std::size_t n, std::size_t i, float reg_weight,
                 float size_norm, const float *noise_sigma, const float *points,
                 float *denoised_points) {
  const float sigma = noise_sigma[i];
  float lambda = ((reg_weight * reg_weight) / ((size_norm * sigma) * sigma)) * w.weight_sums[i];
  // A point that received no plane has no weight to scale; when the factor
  // itself is infinite (size_norm * sigma^2 underflows) or NaN, the product
  // would be NaN and keep the point from its fused estimate below.
  if (w.weight_sums[i] == 0.0f && std::isnan(lambda)) lambda = 0.0f;
  float m[9];
  std::memcpy(m, w.normal_matrix_sums + 9 * i, sizeof m);
  m[0] += lambda;
  m[4] += lambda;
  m[8] += lambda;
  float rhs[3];
  for (std::size_t c = 0; c < 3; ++c) rhs[c] = points[3 * i + c] * lambda + w.normal_rhs_sums[3 * i + c];

  bool all_zero = true;
  for (float v : m) all_zero = all_zero && v == 0.0f;
  for (float v : rhs) all_zero = all_zero && v == 0.0f;
  if (all_zero) {
    for (std::size_t c = 0; c < 3; ++c) denoised_points[3 * i + c] = w.fused_points[c * n + i];
    return;
  }

  // Explicit inverse in double precision.
  const double a = m[0], b = m[1], c = m[2];
  const double d = m[3], e = m[4], f = m[5];
  const double g = m[6], h = m[7], k = m[8];
  const double det = (a * (e * k - f * h) - d * (b * k - c * h)) + g * (b * f - c * e);
  const double inv[9] = {(e * k - f * h) / det, (c * h - b * k) / det, (b * f - c * e) / det,
                         (f * g - d * k) / det, (a * k - c * g) / det, (c * d - a * f) / det,
                         (d * h - e * g) / det, (b * g - a * h) / det, (a * e - b * d) / det};
  const double r0 = rhs[0], r1 = rhs[1], r2 = rhs[2];
  for (std::size_t r = 0; r < 3; ++r) {
    const double x = (inv[3 * r] * r0 + inv[3 * r + 1] * r1) + inv[3 * r + 2] * r2;
    denoised_points[3 * i + r] = static_cast<float>(x);
  }
}

// New noise level of point i; sigma_first is the pre-update level of point 0.
float updated_sigma(const WorkArrays &w, std::size_t i, float sigma_factor, float sigma_first,
                    const float *noise_sigma) {
  float s = noise_sigma[i];
  if (w.contribution_counts[i] != 0.0f) s = sqrtf(w.sigma_sq_sums[i] / w.contribution_counts[i]);
  const double value = static_cast<double>(sigma_factor) *
                       ((static_cast<double>(sigma_first) * -0.096979050915966) / 0.4 +
                        static_cast<double>(s) * 1.080554506357781);
  return static_cast<float>(value);
}

}  // namespace

void ici3d::internal::run_main_loop(int32_t *const *ici_neighbors,
                                    const int32_t *ici_neighbor_counts,
                                    const float *frame_matrices, const int32_t *axis_order,
                                    int32_t n, int32_t max_selected, float gamma,
                                    float preselect_size, float scale_ratio, float size_norm,
                                    float reg_weight, float sigma_factor, float *noise_sigma,
                                    const float *points, int32_t num_scales, int32_t base_size,
                                    float *denoised_points, ici3d_progress_fn progress,
                                    void *user) {
  if (n < 1) return;
  const std::size_t nn = idx(n);
  WorkArrays w;
  const int threads = omp_get_max_threads();
  std::unique_ptr<MarkArena[]> arenas(new (std::nothrow) MarkArena[idx(threads)]);
  if (!w.allocate(nn) || !arenas) {
    // No working memory: hand back the input unchanged rather than garbage.
    std::memcpy(denoised_points, points, 3 * nn * sizeof(float));
    return;
  }
  initialise(w, nn, noise_sigma, points, denoised_points);
  ici3d::internal::ProgressReporter reporter(progress, user, n);

  const PassInputs inputs{ici_neighbors, ici_neighbor_counts, n, max_selected, frame_matrices,
                          axis_order, noise_sigma, points};

  // Phase 1: the ICI estimate of every point, in parallel. Each thread
  // estimates into four full rows and keeps the accepted windows. Points
  // differ in work (windows stop growing at different scales) and nothing
  // depends on which thread takes which point, so they are handed out in
  // small chunks.
  std::atomic<bool> out_of_memory{false};
  const std::size_t row_entries = 4 * idx(max_selected > 0 ? max_selected : 0);
#pragma omp parallel num_threads(threads)
  {
    // Four rows of member positions, then one row of their point indices.
    int32_t *scratch = static_cast<int32_t *>(
        std::malloc((row_entries > 0 ? row_entries + row_entries / 4 : 1) * sizeof(int32_t)));
    int32_t *members = scratch != nullptr ? scratch + row_entries : nullptr;
    MarkArena &arena = arenas[idx(omp_get_thread_num())];
    if (scratch == nullptr) out_of_memory = true;
#pragma omp for schedule(dynamic, 256)
    for (int32_t i = 0; i < n; ++i) {
      if (out_of_memory.load(std::memory_order_relaxed)) continue;
      for (int64_t d = 0; d < 4; ++d) w.selected_counts[layout::selected_count(i, d)] = 1;
      const int32_t self_pos = find_self(ici_neighbors, ici_neighbor_counts, i);
      ici3d::internal::estimate_point(
          i, frame_matrices, axis_order, n, noise_sigma, points, ici_neighbors[i],
          ici_neighbor_counts[i], max_selected, w.selected_counts, self_pos, num_scales,
          base_size, w.direction_sigmas, w.direction_estimates, w.direction_fits, scratch, gamma,
          preselect_size, scale_ratio, size_norm, true);
      if (!keep_windows(w, idx(i), inputs, scratch, members, arena)) out_of_memory = true;
      reporter.point_done();
    }
    std::free(scratch);
  }
  if (out_of_memory) {
    std::memcpy(denoised_points, points, 3 * nn * sizeof(float));
    return;
  }

  // Phase 2: the planes of the accepted windows go to their members. The
  // points are cut into one block per thread and each block's sums are
  // formed on its own (see spread_into), so they are those of one thread
  // adding in point order. A window reaching into several blocks has its
  // plane formed once per block, from the weight phase 1 stored.
  const int64_t blocks = std::min<int64_t>(n, static_cast<int64_t>(threads));
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads)
  for (int64_t b = 0; b < blocks; ++b) {
    spread_into(w, static_cast<int32_t>(n * b / blocks), static_cast<int32_t>(n * (b + 1) / blocks),
                inputs);
  }

  // Phase 3: the fusion of the four directions and the regularised solve of
  // every point.
#pragma omp parallel for schedule(static)
  for (int32_t i = 0; i < n; ++i) {
    fuse_directions(w, nn, idx(i));
    solve_point(w, nn, idx(i), reg_weight, size_norm, noise_sigma, points, denoised_points);
  }

  // Phase 4: the noise update; every point reads the old level of point 0.
  const float sigma_first = noise_sigma[0];
#pragma omp parallel for schedule(static)
  for (int32_t i = 0; i < n; ++i) {
    noise_sigma[i] = updated_sigma(w, idx(i), sigma_factor, sigma_first, noise_sigma);
  }
}

extern "C" void main_loop3_parallel(int32_t *const *ici_neighbors,
                                    const int32_t *ici_neighbor_counts,
                                    const float *frame_matrices, const int32_t *axis_order,
                                    int32_t n, int32_t max_selected, float gamma,
                                    float preselect_size, float scale_ratio, float size_norm,
                                    float reg_weight, float sigma_factor, float *noise_sigma,
                                    const float *points, int32_t num_scales, int32_t base_size,
                                    float *denoised_points) {
  ici3d::internal::run_main_loop(ici_neighbors, ici_neighbor_counts, frame_matrices, axis_order,
                                 n, max_selected, gamma, preselect_size, scale_ratio, size_norm,
                                 reg_weight, sigma_factor, noise_sigma, points, num_scales,
                                 base_size, denoised_points, ici3d::internal::print_progress_line,
                                 nullptr);
}
