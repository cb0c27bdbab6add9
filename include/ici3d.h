/*
 * ici3d — point-cloud denoising by intersection of confidence intervals.
 *
 * Plain C interface of the core library. All point data are float (32-bit),
 * all indices and counts int32_t. Arrays are owned by the caller; the library
 * keeps no state between calls and allocates every working array it needs
 * within a call.
 *
 * Units: coordinates, noise levels, window half-sizes and depths are all in
 * the caller's length unit (whatever the points are measured in);
 * `size_norm` is in 1/length^2 (a point density), so that window sizes
 * `base_size * scale_ratio^s / sqrt(size_norm)` come out in length units.
 *
 * Threading: `main_loop3_parallel` and the entries run their per-point phases
 * on OpenMP threads (the runtime's default thread count, static schedule);
 * their results do not depend on the number of threads. Every function is
 * reentrant and may be called concurrently on distinct output arrays.
 */
#ifndef ICI3D_H
#define ICI3D_H

#include <stdint.h>

#define ICI3D_VERSION_MAJOR 0
#define ICI3D_VERSION_MINOR 1
#define ICI3D_VERSION_PATCH 0

#if defined(_WIN32)
#  if defined(ICI3D_BUILDING)
#    define ICI3D_API __declspec(dllexport)
#  else
#    define ICI3D_API __declspec(dllimport)
#  endif
#else
#  define ICI3D_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Presets                                                                   */
/* ------------------------------------------------------------------------ */

/* Values of the entry's parameter_set, and the constants each one selects:
 * the ICI threshold gamma and the regularisation weight handed to
 * main_loop3_parallel, and the noise update factor (the same for both). */
#define ICI3D_PRESET_DETAIL 0 /* windows stop early at detail   */
#define ICI3D_PRESET_SMOOTH 1 /* windows grow more readily      */
#define ICI3D_GAMMA_DETAIL 0.55f
#define ICI3D_GAMMA_SMOOTH 0.85f
#define ICI3D_REG_WEIGHT_DETAIL 0.06f
#define ICI3D_REG_WEIGHT_SMOOTH 0.06f
#define ICI3D_SIGMA_FACTOR 0.5333f

/* ------------------------------------------------------------------------ */
/* Argument check of the entry                                               */
/* ------------------------------------------------------------------------ */

/* Codes returned by ici3d_check_arguments. The values are stable. */
#define ICI3D_ARGS_OK 0
#define ICI3D_ARGS_NEGATIVE_N 1          /* n < 0                                     */
#define ICI3D_ARGS_NULL_ARRAY 2          /* a required array pointer is null          */
#define ICI3D_ARGS_BAD_PARAMETER_SET 3   /* parameter_set is not 0 or 1               */
#define ICI3D_ARGS_NEGATIVE_K 4          /* K < 0                                     */
#define ICI3D_ARGS_BAD_NEIGHBOR_INDEX 5  /* a neighbor_table entry outside 0..n-1     */
#define ICI3D_ARGS_BAD_CANDIDATE_LIST 6  /* a null candidate list or a negative count */
#define ICI3D_ARGS_BAD_CANDIDATE_INDEX 7 /* a candidate index outside 0..n-1          */
#define ICI3D_ARGS_MAX_SELECTED_SMALL 8  /* max_selected < 1 or < the longest list    */

/**
 * Checks the arguments of square_neigh_ici_denoi_recur_pure_c_parallel.
 *
 * Takes the entry's fifteen parameters, in the same order, and reads nothing
 * outside the arrays they describe. The checks, in the order of the codes:
 * n >= 0; for n > 0 the arrays points, noise_sigma, ici_neighbors,
 * ici_neighbor_counts and denoised_points are non-null, and neighbor_table is
 * non-null when K > 0; parameter_set is 0 or 1; K >= 0; every entry of
 * neighbor_table lies in 0..n-1; every candidate list is non-null (or has
 * count 0) with a count >= 0; every candidate index lies in 0..n-1;
 * max_selected >= 1 and >= every candidate count. A candidate list that does
 * not contain its own point is valid: that point is simply not estimated.
 *
 * @return ICI3D_ARGS_OK (0) for valid arguments, otherwise the code of the
 *         first failed check. n = 0 is valid whatever the other arguments.
 */
ICI3D_API int32_t ici3d_check_arguments(const float *points, int32_t n, const float *noise_sigma,
                                        int32_t base_size, int32_t num_scales,
                                        int32_t *const *ici_neighbors, float size_norm,
                                        float preselect_size, float scale_ratio,
                                        const int32_t *ici_neighbor_counts, int32_t max_selected,
                                        int32_t parameter_set, const int32_t *neighbor_table,
                                        int32_t K, const float *denoised_points);

/**
 * A one-line English description of an ici3d_check_arguments code (a static
 * string, never null; unknown codes get "unknown argument error").
 */
ICI3D_API const char *ici3d_describe_argument_error(int32_t code);

/* ------------------------------------------------------------------------ */
/* Denoising driver                                                          */
/* ------------------------------------------------------------------------ */

/**
 * One complete denoising pass over a point cloud.
 *
 * For every point (in index order, on the calling thread) builds a local frame
 * from its row of neighbor_table (see local_coordinate_for_ici_c), then runs
 * main_loop3_parallel with the ICI threshold gamma and the regularisation
 * weight of the preset `parameter_set` (ICI3D_PRESET_DETAIL: ICI3D_GAMMA_DETAIL
 * and ICI3D_REG_WEIGHT_DETAIL; ICI3D_PRESET_SMOOTH: ICI3D_GAMMA_SMOOTH and
 * ICI3D_REG_WEIGHT_SMOOTH) and the noise update factor ICI3D_SIGMA_FACTOR.
 *
 * @param[in]  points              3*n float, point m at 3m..3m+2 (x, y, z).
 * @param[in]  n                   number of points.
 * @param[in,out] noise_sigma      n float, per-point noise standard deviation
 *                                 (length units); overwritten with the updated
 *                                 levels at the end of the pass.
 * @param[in]  base_size           window size factor: the half-size at scale s
 *                                 is base_size*scale_ratio^s/sqrt(size_norm).
 * @param[in]  num_scales          scales 0..num_scales are tried.
 * @param[in]  ici_neighbors       n pointers; list i holds candidate indices of
 *                                 point i and should contain i itself.
 * @param[in]  size_norm           point density (1/length^2), > 0.
 * @param[in]  preselect_size      half-size and half-depth of the window that
 *                                 pre-selects candidates (length units).
 * @param[in]  scale_ratio         growth of the window size per scale.
 * @param[in]  ici_neighbor_counts n int32, the lengths of the lists.
 * @param[in]  max_selected        row capacity of the window table; at least
 *                                 the longest list length.
 * @param[in]  parameter_set       0 or 1, the preset above.
 * @param[in]  neighbor_table      K*n int32, row i at K*i..K*i+K-1: the
 *                                 neighbours from which the frame of point i
 *                                 is computed.
 * @param[in]  K                   neighbours per row.
 * @param[out] denoised_points     3*n float, interleaved like points.
 *
 * Side effects: prints "<pct>% of points processed " lines on standard output
 * after every 5000th point (ici3d_denoise_with_progress with a callback that
 * prints them; <pct> is 100*(done-1)/n, two decimals). Invalid arguments (see ici3d_check_arguments):
 * nothing is read out of bounds, denoised_points receives a copy of points
 * (when both are non-null and n > 0), noise_sigma is left unchanged and one
 * line naming the problem goes to standard error. If working memory cannot be
 * allocated, the same fallback applies (copy of points, noise unchanged).
 * n = 0 touches nothing.
 */
ICI3D_API void square_neigh_ici_denoi_recur_pure_c_parallel(
    const float *points, int32_t n, float *noise_sigma, int32_t base_size, int32_t num_scales,
    int32_t *const *ici_neighbors, float size_norm, float preselect_size, float scale_ratio,
    const int32_t *ici_neighbor_counts, int32_t max_selected, int32_t parameter_set,
    const int32_t *neighbor_table, int32_t K, float *denoised_points);

/**
 * Progress report of a denoising pass: `done` of `total` points have their
 * ICI estimate (the pass's expensive phase); `user` is the pointer the caller
 * handed over with the callback.
 */
typedef void (*ici3d_progress_fn)(int64_t done, int64_t total, void *user);

/**
 * The pass of square_neigh_ici_denoi_recur_pure_c_parallel, reporting its
 * progress to a callback instead of standard output.
 *
 * The first fifteen parameters, the results, the argument check and the
 * fallbacks are those of square_neigh_ici_denoi_recur_pure_c_parallel (which
 * is this function with a callback that prints its progress lines); the
 * results are bit-identical to it.
 *
 * @param[in] progress  called with done = 1000, 2000, ... below total and
 *                      finally done = total (total = n), each value once, in
 *                      increasing order; NULL reports nothing. It is not
 *                      called for n = 0 or for invalid arguments.
 * @param[in] user      handed to every call of progress, never dereferenced.
 *
 * Threads: progress is called from the pass's OpenMP threads (any of them,
 * the calling thread included) while the pass runs, never after it returns.
 * The calls of one pass are serialised (never concurrent) and `done` rises
 * from one call to the next; the threads that reach a report while a call
 * is running wait for it, so it should return quickly. It must not throw,
 * nor longjmp out of the pass. The library holds no global state: passes
 * running at the same time on other threads, each with its own arrays,
 * callback and user pointer, do not wait for one another.
 */
ICI3D_API void ici3d_denoise_with_progress(
    const float *points, int32_t n, float *noise_sigma, int32_t base_size, int32_t num_scales,
    int32_t *const *ici_neighbors, float size_norm, float preselect_size, float scale_ratio,
    const int32_t *ici_neighbor_counts, int32_t max_selected, int32_t parameter_set,
    const int32_t *neighbor_table, int32_t K, float *denoised_points, ici3d_progress_fn progress,
    void *user);

/**
 * One denoising pass over precomputed frames.
 *
 * Phase 1 (parallel): first_loop_omp for every point whose own index occurs in
 * its candidate list (other points are not estimated and keep their input
 * position and noise level in all four directions); a progress line
 * "%.2f%% of points processed \n" after every point whose index+1 is a
 * multiple of 5000. Phase 2 (calling thread): second_loop_no_omp for every
 * accepted direction, points ascending, directions 0..3, then the
 * inverse-variance fusion of each point's four estimates. Phase 3 (parallel):
 * the regularised 3x3 solve per point (or the fused estimate for a point that
 * received no plane, also when size_norm*noise_sigma^2 underflows to 0 or is
 * NaN). Phase 4 (parallel): the noise update.
 *
 * @param[in]  ici_neighbors, ici_neighbor_counts  candidate lists (as above).
 * @param[in]  frame_matrices  9*n float; row r of record i (9i+3r..9i+3r+2)
 *                             is eigenvector r of point i.
 * @param[in]  axis_order      3*n int32; record i: frame rows of the largest,
 *                             middle and smallest eigenvalue (a permutation of
 *                             0, 1, 2; a point with another record is not
 *                             estimated).
 * @param[in]  n, max_selected, preselect_size, scale_ratio, size_norm,
 *             num_scales, base_size  as for the entry.
 * @param[in]  gamma           ICI threshold.
 * @param[in]  reg_weight      regularisation weight of the final solve.
 * @param[in]  sigma_factor    factor of the noise update.
 * @param[in,out] noise_sigma  n float; overwritten with the updated levels.
 * @param[in]  points          3*n float.
 * @param[out] denoised_points 3*n float.
 *
 * Working memory: four bits per candidate of every point that accepted a
 * window (which of its windows hold the candidate), about 54 four-byte
 * values per point, and 5*max_selected int32 per thread. If it cannot be
 * allocated, denoised_points receives a copy of points and noise_sigma is
 * left unchanged. n < 1 touches nothing. Results
 * are bit-identical whatever the number of threads.
 */
ICI3D_API void main_loop3_parallel(int32_t *const *ici_neighbors,
                                   const int32_t *ici_neighbor_counts,
                                   const float *frame_matrices, const int32_t *axis_order,
                                   int32_t n, int32_t max_selected, float gamma,
                                   float preselect_size, float scale_ratio, float size_norm,
                                   float reg_weight, float sigma_factor, float *noise_sigma,
                                   const float *points, int32_t num_scales, int32_t base_size,
                                   float *denoised_points);

/**
 * Spreads the accepted plane of point i in direction d over its window.
 *
 * The fit record direction_fits[12i+3d..12i+3d+2] (plane normal in local
 * coordinates) is turned into a unit normal in global coordinates through the
 * frame of point i; the plane through the estimate
 * (direction_estimates[12i+d], [12i+4+d], [12i+8+d]) gets a weight from the
 * window's misfit and noise, and every member j of the window
 * (selected_neighbors[(4i+d)*max_selected + k], k < selected_counts[4i+d])
 * receives w*n*n^T in normal_matrix_sums[9j..9j+8], w*n*n^T*e in
 * normal_rhs_sums[3j..3j+2], w in weight_sums[j], sigma_e^2 (sigma_e =
 * direction_sigmas[d*n+i]) in sigma_sq_sums[j] and 1 in
 * contribution_counts[j]. A member listed twice receives everything twice.
 *
 * Array sizes: frame_matrices 9n, axis_order 3n, direction_fits 12n,
 * selected_neighbors 4n*max_selected, selected_counts 4n, noise_sigma n,
 * direction_estimates 12n, points 3n, direction_sigmas 4n, and the
 * accumulators 9n, 3n, n, n, n. Window members must lie in 0..n-1.
 *
 * Nothing is added when the window is empty, when it claims more than
 * max_selected members, or when axis_order record i is not a permutation of
 * 0, 1, 2. Not thread-safe with respect to the accumulators.
 */
ICI3D_API void second_loop_no_omp(int32_t i, int32_t d, const float *frame_matrices,
                                  const int32_t *axis_order, const float *direction_fits,
                                  const int32_t *selected_neighbors, int32_t n,
                                  const int32_t *selected_counts, int32_t max_selected,
                                  const float *noise_sigma, const float *direction_estimates,
                                  const float *points, const float *direction_sigmas,
                                  float *normal_matrix_sums, float *normal_rhs_sums,
                                  float *weight_sums, float *sigma_sq_sums,
                                  float *contribution_counts);

/* ------------------------------------------------------------------------ */
/* Local geometry                                                            */
/* ------------------------------------------------------------------------ */

/**
 * Local coordinate frame of point i from its row of neighbor_table.
 *
 * Centres the K listed neighbours on their mean, forms their (unnormalised)
 * 3x3 scatter matrix and decomposes it with eigeng.
 *
 * @param[in]  points          3*n float.
 * @param[in]  neighbor_table  K*n int32; row i is used (every entry counts,
 *                             repeats included). Entries must lie in 0..n-1.
 * @param[in]  i               the point.
 * @param[in]  K               entries per row; K <= 0 reads nothing and
 *                             decomposes the zero matrix.
 * @param[in]  n               number of points (not read).
 * @param[out] out_axes        3 int32: the eigen solver's indices of the
 *                             largest, middle and smallest eigenvalue.
 * @param[out] out_frame       9 float, row-major; column k is the unit
 *                             eigenvector of eigenvalue k.
 *
 * Axis order: with three distinct finite eigenvalues (real parts), the
 * largest, middle and smallest by value. Otherwise the result is still a
 * permutation of 0, 1, 2: values are ordered NaN < -inf < finite < +inf; the
 * largest is the greatest value (lowest index among equals), the smallest the
 * least of the two remaining (lowest index among equals), the middle the index
 * left over. All equal gives (0, 2, 1).
 */
ICI3D_API void local_coordinate_for_ici_c(const float *points, const int32_t *neighbor_table,
                                          int32_t i, int32_t K, int32_t n, int32_t *out_axes,
                                          float *out_frame);

/**
 * Selects the points of one quadrant window beside a centre point.
 *
 * @param[in]  coords      3*count float, planar: all local x, then all local
 *                         y, then all local z.
 * @param[in]  count       number of points.
 * @param[in]  direction   quadrant 0..3, counter-clockwise from (+x, +y):
 *                         0 (+x,+y), 1 (-x,+y), 2 (-x,-y), 3 (+x,-y).
 * @param[in]  center      position of the centre point, 0..count-1.
 * @param[out] selected    room for max(count, 1) int32: the selected
 *                         positions plus one (1-based), ascending.
 * @param[out] num_selected  number of selected points.
 * @param[in]  half_size   half-size h of the window along local x and y.
 * @param[in]  half_depth  half-size v along local z.
 *
 * A point is selected when it lies strictly inside the quadrant's box (for
 * direction 0: cx < x < cx+h, cy < y < cy+h, cz-v < z < cz+v). The centre and
 * points on its axes are never selected; NaN coordinates or sizes select
 * nothing. selected[0] is -1 when no point passes the x test.
 */
ICI3D_API void find_index_square4(const float *coords, int32_t count, int32_t direction,
                                  int32_t center, int32_t *selected, int32_t *num_selected,
                                  float half_size, float half_depth);

/* ------------------------------------------------------------------------ */
/* ICI estimation                                                            */
/* ------------------------------------------------------------------------ */

/**
 * First-order (planar) least-squares kernel estimate over one window.
 *
 * Fits z = c + bx*x + by*y with equal weights and evaluates it at point 0.
 *
 * @param[in]  window    3*count float, planar x block, y block, z block.
 * @param[in]  count     number of window points; count <= 0 gives
 *                       estimate 0 and fit (-0, -0, 1), weights unwritten.
 * @param[out] estimate  the fitted z at point 0.
 * @param[out] weights   count float: the estimate is sum(weights[k]*z_k).
 * @param[out] fit       3 float: (-bx, -by, 1), the unnormalised plane normal.
 *
 * Fewer than three points, or x-y positions on one line, make the system
 * singular: the outputs are then non-finite or very large, unreported.
 */
ICI3D_API void polynomkernel_single_est_ord1(const float *window, int32_t count, float *estimate,
                                             float *weights, float *fit);

/**
 * ICI estimate of point i in its four quadrant directions.
 *
 * Rotates the candidates list[0..count-1] into the frame of point i, and per
 * direction fits planes over windows of growing half-size
 * base_size*scale_ratio^s/sqrt(size_norm), s = 0..num_scales, keeping the
 * largest window whose confidence interval est +- gamma*sigma still meets all
 * smaller ones (and the point's own [-gamma*sigma_i, gamma*sigma_i]).
 *
 * Writes only the entries of point i: selected_counts[4i+d],
 * selected_neighbors[(4i+d)*max_selected + k], direction_fits[12i+3d+k],
 * direction_estimates[12i+4c+d], direction_sigmas[d*n+i]. Each direction
 * starts by writing i to its selected_neighbors row and zeros to its fit
 * record; a direction that accepts no window keeps the other entries as they
 * were. Array sizes as for second_loop_no_omp; list has count entries, each
 * in 0..n-1, and list[self_pos] = i.
 *
 * Guards: a self_pos outside 0..count-1 (or an axis_order record that is not
 * a permutation of 0, 1, 2) estimates nothing after the direction starts; a
 * window that would need more than max_selected entries is not accepted and
 * ends its direction; with max_selected < 1 nothing is written at all.
 */
ICI3D_API void first_loop_omp(int32_t i, const float *frame_matrices, const int32_t *axis_order,
                              int32_t n, const float *noise_sigma, const float *points,
                              const int32_t *list, int32_t count, int32_t max_selected,
                              int32_t *selected_counts, int32_t self_pos, int32_t num_scales,
                              int32_t base_size, float *direction_sigmas,
                              float *direction_estimates, float *direction_fits,
                              int32_t *selected_neighbors, float gamma, float preselect_size,
                              float scale_ratio, float size_norm);

/* ------------------------------------------------------------------------ */
/* Eigen solver                                                              */
/* ------------------------------------------------------------------------ */

/**
 * Eigenvalues and (optionally) eigenvectors of a general real n x n matrix.
 *
 * Balancing, reduction to Hessenberg form, shifted double-step QR iteration,
 * back-substitution and back-transformation, all in single precision, then
 * each eigenvector is normalised: first its largest component is made 1, then
 * it is scaled to unit length.
 *
 * @param[in,out] matrix  n*n float, row-major; destroyed.
 * @param[in]  n          order; n <= 0 touches nothing.
 * @param[out] eig_re     n float, real parts (unsorted: in the order the
 *                        iteration found them).
 * @param[out] eig_im     n float, imaginary parts; a complex pair sits at
 *                        k, k+1 with the positive imaginary part first.
 * @param[out] vectors    n*n float row-major, or NULL for eigenvalues only.
 *                        Column k is the eigenvector of eigenvalue k; for a
 *                        complex pair column k holds the real part and column
 *                        k+1 the imaginary part, each of unit length.
 *
 * A null eig_re, eig_im or matrix decomposes nothing (vectors, if present,
 * still has each column divided by its length). If the iteration does not
 * converge, the outputs hold what was computed so far. A zero matrix gives
 * zero eigenvalues and identity vectors.
 *
 * Extreme inputs: a matrix whose largest entry is below 2^-50 is decomposed
 * scaled up by a power of 2 (exact; the eigenvalues are scaled back). When
 * the procedure above writes a value that is not finite (an overflow or a
 * NaN, for instance a back-substitution growing past the float range on a
 * nearly defective matrix), the decomposition is made again from the
 * caller's matrix with safeguards against underflow and overflow: tiny
 * subdiagonal entries count as negligible, eigenvectors are rescaled by
 * powers of 2 while they are solved and back-transformed, and the balancing
 * makes no scaling that overflows. On every other input the results are
 * those of the procedure above, bit for bit.
 *
 * @return 0 on every path.
 */
ICI3D_API int32_t eigeng(float *matrix, int32_t n, float *eig_re, float *eig_im, float *vectors);

#ifdef __cplusplus
}
#endif

#endif /* ICI3D_H */
