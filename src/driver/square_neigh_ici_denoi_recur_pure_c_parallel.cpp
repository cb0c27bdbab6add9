#include "ici3d.h"
#include "internal/internal.h"

// The pass with its progress printed on standard output.
extern "C" void square_neigh_ici_denoi_recur_pure_c_parallel(
    const float *points, int32_t n, float *noise_sigma, int32_t base_size, int32_t num_scales,
    int32_t *const *ici_neighbors, float size_norm, float preselect_size, float scale_ratio,
    const int32_t *ici_neighbor_counts, int32_t max_selected, int32_t parameter_set,
    const int32_t *neighbor_table, int32_t K, float *denoised_points) {
  ici3d_denoise_with_progress(points, n, noise_sigma, base_size, num_scales, ici_neighbors,
                              size_norm, preselect_size, scale_ratio, ici_neighbor_counts,
                              max_selected, parameter_set, neighbor_table, K, denoised_points,
                              ici3d::internal::print_progress_line, nullptr);
}
