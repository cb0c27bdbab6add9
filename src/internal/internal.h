// Internal helpers shared by the library's sources; never exported.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "ici3d.h"

namespace ici3d::internal {

// Index arithmetic on per-point arrays is done in 64 bits: products such as
// (4i + d) * max_selected overflow int32 on large clouds.
inline std::size_t idx(std::int64_t v) { return static_cast<std::size_t>(v); }

// True when the three entries are 0, 1 and 2 in some order.
inline bool is_axis_permutation(const std::int32_t *axes) {
  const std::int32_t a = axes[0], b = axes[1], c = axes[2];
  return a >= 0 && a <= 2 && b >= 0 && b <= 2 && c >= 0 && c <= 2 && a != b && a != c && b != c;
}

// The planar first-order kernel estimate, writing into caller-provided
// storage. `weights` receives `count` values; the two slope rows of the
// product matrix are not needed outside, so nothing is allocated.
void kernel_estimate_ord1(const float *window, std::int32_t count, float *estimate, float *weights,
                          float *fit);

// The per-point ICI estimate (first_loop_omp) writing point i's four window
// rows at `rows` (row d at rows + d * max_selected) instead of into a table
// of rows for every point: the main loop keeps only what it needs. With
// rows_hold_positions the rows hold each member's position in `list`
// rather than its point index.
void estimate_point(std::int32_t i, const float *frame_matrices, const std::int32_t *axis_order,
                    std::int32_t n, const float *noise_sigma, const float *points,
                    const std::int32_t *list, std::int32_t count, std::int32_t max_selected,
                    std::int32_t *selected_counts, std::int32_t self_pos, std::int32_t num_scales,
                    std::int32_t base_size, float *direction_sigmas, float *direction_estimates,
                    float *direction_fits, std::int32_t *rows, float gamma, float preselect_size,
                    float scale_ratio, float size_norm, bool rows_hold_positions);

// Progress of the ICI phase of one pass. Threads call point_done() after
// each point; the callback hears of every 1000th point and of the last one,
// each report once, in increasing order and never concurrently: a thread
// that reaches a report takes the lock and delivers every report not yet
// delivered up to its own, so a report overtaken by a later one still goes
// out first. The state is per pass, so passes on other threads never wait
// for each other.
class ProgressReporter {
 public:
  static constexpr std::int64_t kStep = 1000;

  ProgressReporter(ici3d_progress_fn fn, void *user, std::int64_t total)
      : fn_(fn), user_(user), total_(total) {}
  void point_done();

 private:
  ici3d_progress_fn fn_;
  void *user_;
  std::int64_t total_;
  std::atomic<std::int64_t> done_{0};
  std::mutex mutex_;
  std::int64_t reported_ = 0;  // guarded by mutex_
};

// The callback behind the entry's and the main loop's standard output: after
// every 5000th point the line "%.2f%% of points processed \n" with
// 100*(done-1)/n, formed in float. `user` is not used.
void print_progress_line(std::int64_t done, std::int64_t total, void *user);

// main_loop3_parallel with its progress going to `progress` (may be null).
void run_main_loop(std::int32_t *const *ici_neighbors, const std::int32_t *ici_neighbor_counts,
                   const float *frame_matrices, const std::int32_t *axis_order, std::int32_t n,
                   std::int32_t max_selected, float gamma, float preselect_size,
                   float scale_ratio, float size_norm, float reg_weight, float sigma_factor,
                   float *noise_sigma, const float *points, std::int32_t num_scales,
                   std::int32_t base_size, float *denoised_points, ici3d_progress_fn progress,
                   void *user);

}  // namespace ici3d::internal
