#include <cmath>
#include <cstdlib>

#include "ici3d.h"
#include "internal/internal.h"
#include "internal/layout.h"

namespace {

namespace layout = ici3d::layout;

using ici3d::internal::idx;

// Scratch of one call, carved out of two allocations. Sizes are bounded by
// the candidate count: the pre-selection never selects the centre, so a
// direction has at most `count` candidates and a window at most as many.
struct Scratch {
  float *rotated = nullptr;       // 3*count, planar local coordinates of the list
  float *candidate_cloud = nullptr;  // 3*count, planar, pre-selected candidates then point i
  float *window = nullptr;        // 3*count, planar, relative to point i
  float *weights = nullptr;       // count
  int32_t *selection = nullptr;   // count, output of the window selection
  int32_t *candidates = nullptr;  // count, list positions of the candidates
  int32_t *members = nullptr;     // count, list positions of the window members
  void *float_block = nullptr;
  void *int_block = nullptr;

  bool allocate(int32_t count) {
    const std::size_t c = idx(count);
    float_block = std::malloc(10 * c * sizeof(float));
    int_block = std::malloc(3 * c * sizeof(int32_t));
    if (float_block == nullptr || int_block == nullptr) return false;
    float *f = static_cast<float *>(float_block);
    rotated = f;
    candidate_cloud = f + 3 * c;
    window = f + 6 * c;
    weights = f + 9 * c;
    int32_t *p = static_cast<int32_t *>(int_block);
    selection = p;
    candidates = p + c;
    members = p + 2 * c;
    return true;
  }
  ~Scratch() {
    std::free(float_block);
    std::free(int_block);
  }
};

// Everything the four directions of one point share.
struct PointContext {
  int32_t i;
  int32_t n;
  const float *frame;     // the nine floats of point i
  const int32_t *axes;    // its axis order
  const float *noise_sigma;
  const float *points;
  const int32_t *list;
  int32_t count;
  int32_t self_pos;
  int32_t max_selected;
  int32_t num_scales;
  int32_t base_size;
  float gamma;
  float preselect_size;
  float scale_ratio;
  double size_denominator;  // sqrt(size_norm)
};

struct Outputs {
  int32_t *selected_counts;
  float *direction_sigmas;
  float *direction_estimates;
  float *direction_fits;
  int32_t *rows;  // point i's four window rows, row d at rows + d * max_selected
  // Rows hold the members' positions in the list instead of their point
  // indices (the main loop keeps the windows as marks on the list).
  bool positions;
};

// A direction starts with point i as its own first window member and a zero
// fit record, which marks it as not (yet) accepted.
void start_direction(const PointContext &ctx, const Outputs &out, int32_t d) {
  if (ctx.max_selected >= 1) {
    out.rows[layout::selected_row(0, d, ctx.max_selected)] = out.positions ? ctx.self_pos : ctx.i;
  }
  float *fit = out.direction_fits + layout::direction_fit(ctx.i, d);
  fit[0] = 0.0f;
  fit[1] = 0.0f;
  fit[2] = 0.0f;
}

// Local coordinates of every list point: dot products with the frame rows
// of the largest, middle and smallest eigenvalue.
void rotate_into_frame(const PointContext &ctx, float *rotated) {
  const float *ex = ctx.frame + 3 * ctx.axes[0];
  const float *ey = ctx.frame + 3 * ctx.axes[1];
  const float *ez = ctx.frame + 3 * ctx.axes[2];
  const std::size_t c = idx(ctx.count);
  for (std::size_t j = 0; j < c; ++j) {
    const float *p = ctx.points + 3 * idx(ctx.list[j]);
    const float x = p[0], y = p[1], z = p[2];
    rotated[j] = (x * ex[0] + y * ex[1]) + z * ex[2];
    rotated[c + j] = (x * ey[0] + y * ey[1]) + z * ey[2];
    rotated[2 * c + j] = (x * ez[0] + y * ez[1]) + z * ez[2];
  }
}

// Standard deviation of a kernel estimate from the members' noise levels:
// squares are formed and added in double, the running total kept in float.
float estimate_sigma(const PointContext &ctx, const int32_t *members, const float *weights,
                     int32_t size) {
  float total = 0.0f;
  for (int32_t k = 0; k < size; ++k) {
    const float term = ctx.noise_sigma[ctx.list[members[k]]] * weights[k];
    const double sq = static_cast<double>(term) * static_cast<double>(term);
    total = static_cast<float>(static_cast<double>(total) + sq);
  }
  return sqrtf(total);
}

// Writes the accepted estimate of direction d: point i moved by `est` along
// its normal, the window members, their number, the sigma and the fit.
void accept_scale(const PointContext &ctx, const Outputs &out, int32_t d, float est, float sigma,
                  const float *fit, const int32_t *members, int32_t size) {
  const int64_t i = ctx.i;
  float e[3] = {0.0f, 0.0f, 0.0f};
  e[ctx.axes[2]] = est;
  const float *r = ctx.frame;
  for (int c = 0; c < 3; ++c) {
    out.direction_estimates[layout::direction_estimate(i, c, d)] =
        ((e[0] * r[c] + e[1] * r[3 + c]) + e[2] * r[6 + c]) + ctx.points[idx(3 * i + c)];
  }
  int32_t *row = out.rows + layout::selected_row(0, d, ctx.max_selected);
  if (out.positions) {
    for (int32_t k = 0; k < size; ++k) row[k] = members[k];
  } else {
    for (int32_t k = 0; k < size; ++k) row[k] = ctx.list[members[k]];
  }
  out.selected_counts[layout::selected_count(i, d)] = size;
  out.direction_sigmas[layout::direction_sigma(i, d, ctx.n)] = sigma;
  float *dst = out.direction_fits + layout::direction_fit(i, d);
  dst[0] = fit[0];
  dst[1] = fit[1];
  dst[2] = fit[2];
}

// The ICI scale loop of one direction.
void estimate_direction(const PointContext &ctx, const Outputs &out, Scratch &sc, int32_t d) {
  start_direction(ctx, out, d);

  const std::size_t c = idx(ctx.count);
  const float own_sigma = ctx.noise_sigma[ctx.i];
  const float t = own_sigma * ctx.gamma;
  float lower = 0.0f - t;
  float upper = t + 0.0f;

  // Pre-select the candidates of this quadrant once; point i goes last.
  int32_t c0 = 0;
  find_index_square4(sc.rotated, ctx.count, d, ctx.self_pos, sc.selection, &c0,
                     ctx.preselect_size, ctx.preselect_size);
  for (int32_t k = 0; k < c0; ++k) sc.candidates[k] = sc.selection[k] - 1;
  sc.candidates[c0] = ctx.self_pos;
  const int32_t f0 = c0 + 1;
  const std::size_t f0s = idx(f0);
  for (std::size_t k = 0; k < f0s; ++k) {
    const std::size_t src = idx(sc.candidates[k]);
    sc.candidate_cloud[k] = sc.rotated[src];
    sc.candidate_cloud[f0s + k] = sc.rotated[c + src];
    sc.candidate_cloud[2 * f0s + k] = sc.rotated[2 * c + src];
  }
  const std::size_t self = idx(ctx.self_pos);
  const float cx = sc.rotated[self], cy = sc.rotated[c + self], cz = sc.rotated[2 * c + self];

  for (int64_t s = 0; s <= ctx.num_scales; ++s) {
    const double grown = std::pow(static_cast<double>(ctx.scale_ratio), static_cast<double>(s));
    const float half_size = static_cast<float>(grown * static_cast<double>(ctx.base_size) /
                                               ctx.size_denominator);
    const float min_depth = 3.0f * own_sigma;
    const float half_depth = half_size > min_depth ? half_size : min_depth;

    int32_t e = 0;
    find_index_square4(sc.candidate_cloud, f0, d, f0 - 1, sc.selection, &e, half_size, half_depth);
    if (e <= 2) return;  // too few points for a plane: this scale yields nothing

    // Window: point i first, then the selected candidates, relative to point i.
    const int32_t size = e + 1;
    const std::size_t fs = idx(size);
    sc.members[0] = ctx.self_pos;
    for (int32_t k = 1; k < size; ++k) sc.members[k] = sc.candidates[sc.selection[k - 1] - 1];
    for (std::size_t k = 0; k < fs; ++k) {
      const std::size_t src = idx(sc.members[k]);
      sc.window[k] = sc.rotated[src] - cx;
      sc.window[fs + k] = sc.rotated[c + src] - cy;
      sc.window[2 * fs + k] = sc.rotated[2 * c + src] - cz;
    }

    float est = 0.0f;
    float fit[3];
    ici3d::internal::kernel_estimate_ord1(sc.window, size, &est, sc.weights, fit);
    const float sigma = estimate_sigma(ctx, sc.members, sc.weights, size);

    // Intersect the running interval with est +- gamma*sigma; a NaN bound
    // on the new interval replaces the old one and ends the direction.
    const float q = sigma * ctx.gamma;
    const float hi = est + q;
    const float lo = est - q;
    upper = (upper < hi) ? upper : hi;
    lower = (lower > lo) ? lower : lo;
    if (!(upper > lower)) return;
    // A window that does not fit its row of the window table is not accepted.
    if (size > ctx.max_selected) return;
    accept_scale(ctx, out, d, est, sigma, fit, sc.members, size);
  }
}

}  // namespace

void ici3d::internal::estimate_point(int32_t i, const float *frame_matrices,
                                     const int32_t *axis_order, int32_t n,
                                     const float *noise_sigma, const float *points,
                                     const int32_t *list, int32_t count, int32_t max_selected,
                                     int32_t *selected_counts, int32_t self_pos,
                                     int32_t num_scales, int32_t base_size,
                                     float *direction_sigmas, float *direction_estimates,
                                     float *direction_fits, int32_t *rows, float gamma,
                                     float preselect_size, float scale_ratio, float size_norm,
                                     bool rows_hold_positions) {
  const PointContext ctx{i,
                         n,
                         frame_matrices + 9 * idx(i),
                         axis_order + 3 * idx(i),
                         noise_sigma,
                         points,
                         list,
                         count,
                         self_pos,
                         max_selected,
                         num_scales,
                         base_size,
                         gamma,
                         preselect_size,
                         scale_ratio,
                         std::sqrt(static_cast<double>(size_norm))};
  const Outputs out{selected_counts,     direction_sigmas, direction_estimates,
                    direction_fits,      rows,             rows_hold_positions};

  // Without a valid own position or a proper axis order there is nothing to
  // estimate: the directions keep what their start sets.
  Scratch sc;
  const bool estimable = list != nullptr && self_pos >= 0 && self_pos < count &&
                         ici3d::internal::is_axis_permutation(ctx.axes) && sc.allocate(count);
  if (!estimable) {
    for (int32_t d = 0; d < 4; ++d) start_direction(ctx, out, d);
    return;
  }
  rotate_into_frame(ctx, sc.rotated);
  for (int32_t d = 0; d < 4; ++d) estimate_direction(ctx, out, sc, d);
}

extern "C" void first_loop_omp(int32_t i, const float *frame_matrices, const int32_t *axis_order,
                               int32_t n, const float *noise_sigma, const float *points,
                               const int32_t *list, int32_t count, int32_t max_selected,
                               int32_t *selected_counts, int32_t self_pos, int32_t num_scales,
                               int32_t base_size, float *direction_sigmas,
                               float *direction_estimates, float *direction_fits,
                               int32_t *selected_neighbors, float gamma, float preselect_size,
                               float scale_ratio, float size_norm) {
  ici3d::internal::estimate_point(
      i, frame_matrices, axis_order, n, noise_sigma, points, list, count, max_selected,
      selected_counts, self_pos, num_scales, base_size, direction_sigmas, direction_estimates,
      direction_fits,
      // Rows exist only for max_selected >= 1; nothing is written otherwise.
      max_selected >= 1 ? selected_neighbors + layout::selected_row(i, 0, max_selected)
                        : selected_neighbors,
      gamma, preselect_size, scale_ratio, size_norm, false);
}
