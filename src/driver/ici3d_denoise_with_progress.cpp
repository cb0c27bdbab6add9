#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ici3d.h"
#include "internal/internal.h"

namespace {

using ici3d::internal::idx;

// The two presets, indexed by parameter_set.
constexpr float kGammaTable[2] = {ICI3D_GAMMA_DETAIL, ICI3D_GAMMA_SMOOTH};
constexpr float kRegWeightTable[2] = {ICI3D_REG_WEIGHT_DETAIL, ICI3D_REG_WEIGHT_SMOOTH};
constexpr float kSigmaFactor = ICI3D_SIGMA_FACTOR;
static_assert(ICI3D_PRESET_DETAIL == 0 && ICI3D_PRESET_SMOOTH == 1, "table order");

// When nothing can be computed the caller still gets its points back.
void copy_input(const float *points, int32_t n, float *denoised_points) {
  if (n > 0 && points != nullptr && denoised_points != nullptr) {
    std::memcpy(denoised_points, points, 3 * idx(n) * sizeof(float));
  }
}

// Frames of all points; record i is stored transposed so that row k of the
// stored matrix is eigenvector k. Each frame depends only on its own
// neighbours, so the points are shared among the threads.
void compute_frames(const float *points, const int32_t *neighbor_table, int32_t n, int32_t K,
                    float *frame_matrices, int32_t *axis_order) {
#pragma omp parallel for schedule(dynamic, 1024)
  for (int32_t i = 0; i < n; ++i) {
    int32_t axes[3];
    float frame[9];
    local_coordinate_for_ici_c(points, neighbor_table, i, K, n, axes, frame);
    int32_t *order = axis_order + 3 * idx(i);
    for (int k = 0; k < 3; ++k) order[k] = axes[k];
    float *record = frame_matrices + 9 * idx(i);
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) record[3 * r + c] = frame[3 * c + r];
    }
  }
}

}  // namespace

extern "C" void ici3d_denoise_with_progress(
    const float *points, int32_t n, float *noise_sigma, int32_t base_size, int32_t num_scales,
    int32_t *const *ici_neighbors, float size_norm, float preselect_size, float scale_ratio,
    const int32_t *ici_neighbor_counts, int32_t max_selected, int32_t parameter_set,
    const int32_t *neighbor_table, int32_t K, float *denoised_points, ici3d_progress_fn progress,
    void *user) {
  const int32_t status = ici3d_check_arguments(
      points, n, noise_sigma, base_size, num_scales, ici_neighbors, size_norm, preselect_size,
      scale_ratio, ici_neighbor_counts, max_selected, parameter_set, neighbor_table, K,
      denoised_points);
  if (status != ICI3D_ARGS_OK) {
    std::fprintf(stderr, "ici3d: invalid arguments: %s; points copied unchanged\n",
                 ici3d_describe_argument_error(status));
    copy_input(points, n, denoised_points);
    return;
  }
  if (n == 0) return;

  const std::size_t nn = idx(n);
  float *frame_matrices = static_cast<float *>(std::malloc(9 * nn * sizeof(float)));
  int32_t *axis_order = static_cast<int32_t *>(std::malloc(3 * nn * sizeof(int32_t)));
  if (frame_matrices == nullptr || axis_order == nullptr) {
    std::fprintf(stderr, "ici3d: out of memory for %d frames; points copied unchanged\n", n);
    copy_input(points, n, denoised_points);
  } else {
    compute_frames(points, neighbor_table, n, K, frame_matrices, axis_order);
    ici3d::internal::run_main_loop(ici_neighbors, ici_neighbor_counts, frame_matrices,
                                   axis_order, n, max_selected, kGammaTable[parameter_set],
                                   preselect_size, scale_ratio, size_norm,
                                   kRegWeightTable[parameter_set], kSigmaFactor, noise_sigma,
                                   points, num_scales, base_size, denoised_points, progress,
                                   user);
  }
  std::free(frame_matrices);
  std::free(axis_order);
}
