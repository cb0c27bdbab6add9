#include "pass_stages.h"

#include <cmath>

#include "ici3d.h"
#include "ici3d_host/points.h"
#include "internal/layout.h"
#include "run_info.h"

namespace ici3d::bench {

namespace layout = ici3d::layout;

namespace {

size_t idx(int32_t i) { return static_cast<size_t>(i); }

int32_t find_self(const host::CandidateLists& lists, int32_t i) {
  const int32_t* list = lists.pointers[idx(i)];
  for (int32_t k = 0; k < lists.counts[idx(i)]; ++k) {
    if (list[k] == i) return k;
  }
  return -1;
}

}  // namespace

std::vector<double> in_space_filling_order(const std::vector<double>& xyz) {
  std::vector<size_t> all(xyz.size() / 3);
  for (size_t i = 0; i < all.size(); ++i) all[i] = i;
  std::vector<double> ordered;
  ordered.reserve(xyz.size());
  for (size_t i : host::space_filling_order(xyz, all)) {
    ordered.insert(ordered.end(), &xyz[3 * i], &xyz[3 * i] + 3);
  }
  return ordered;
}

PassInputs pass_inputs(const std::vector<double>& xyz, const PassSettings& s) {
  PassInputs in;
  in.n = static_cast<int32_t>(xyz.size() / 3);
  in.points.assign(xyz.begin(), xyz.end());
  in.noise.assign(idx(in.n), static_cast<float>(s.sigma));
  host::DenoiseOptions o;
  o.spacing = s.spacing;
  o.sigma = s.sigma;
  o.base_size = s.base_size;
  o.num_scales = s.num_scales;
  o.scale_ratio = s.scale_ratio;
  const host::LibraryWindows windows = host::library_windows(o);
  in.base = windows.base;
  in.size_norm = static_cast<float>(windows.size_norm);
  in.preselect = static_cast<float>(windows.preselect_size);
  return in;
}

void build_knn(PassInputs& in, const PassSettings& s) {
  in.knn = host::knn_table(in.points.data(), in.n, s.k, s.threads);
}

void build_candidate_lists(PassInputs& in, const PassSettings& s) {
  in.lists = host::candidate_lists(in.points.data(), in.n, host::preselect_radius(in.preselect),
                                   s.list_cap, s.threads);
}

void build_frames(PassInputs& in, const PassSettings&) {
  in.frames.assign(9 * idx(in.n), 0.0f);
  in.axes.assign(3 * idx(in.n), 0);
  for (int32_t i = 0; i < in.n; ++i) {
    int32_t axes[3];
    float frame[9];
    local_coordinate_for_ici_c(in.points.data(), in.knn.indices.data(), i, in.knn.k, in.n, axes,
                               frame);
    for (int r = 0; r < 3; ++r) {
      in.axes[3 * idx(i) + r] = axes[r];
      for (int c = 0; c < 3; ++c) in.frames[9 * idx(i) + 3 * r + c] = frame[3 * c + r];
    }
  }
}

EstimateArrays run_estimates(const PassInputs& in, const PassSettings& s, float gamma) {
  const size_t n = idx(in.n);
  const size_t cap = idx(in.lists.longest);
  EstimateArrays e;
  e.selected_counts.assign(4 * n, 1);
  e.selected_neighbors.assign(4 * n * cap, 0);
  e.direction_fits.assign(12 * n, 0.0f);
  e.direction_estimates.resize(12 * n);
  e.direction_sigmas.resize(4 * n);
  for (size_t i = 0; i < n; ++i) {
    for (size_t d = 0; d < 4; ++d) e.direction_sigmas[layout::direction_sigma(i, d, n)] = in.noise[i];
    for (size_t c = 0; c < 3; ++c) {
      for (size_t d = 0; d < 4; ++d) {
        e.direction_estimates[layout::direction_estimate(i, c, d)] = in.points[3 * i + c];
      }
    }
  }
#pragma omp parallel for schedule(static)
  for (int32_t i = 0; i < in.n; ++i) {
    first_loop_omp(i, in.frames.data(), in.axes.data(), in.n, in.noise.data(), in.points.data(),
                   in.lists.pointers[idx(i)], in.lists.counts[idx(i)], in.lists.longest,
                   e.selected_counts.data(), find_self(in.lists, i), s.num_scales, in.base,
                   e.direction_sigmas.data(), e.direction_estimates.data(), e.direction_fits.data(),
                   e.selected_neighbors.data(), gamma, in.preselect,
                   static_cast<float>(s.scale_ratio), in.size_norm);
  }
  return e;
}

int64_t run_spreading(const PassInputs& in, const PassSettings&, const EstimateArrays& e,
                      SpreadSums& sums) {
  const size_t n = idx(in.n);
  sums.normal_matrix.assign(9 * n, 0.0f);
  sums.normal_rhs.assign(3 * n, 0.0f);
  sums.weight.assign(n, 0.0f);
  sums.sigma_sq.assign(n, 0.0f);
  sums.count.assign(n, 0.0f);
  int64_t calls = 0;
  for (int32_t i = 0; i < in.n; ++i) {
    for (int32_t d = 0; d < 4; ++d) {
      if (!(e.direction_fits[layout::direction_fit(i, d, 2)] > 0.0f)) continue;
      second_loop_no_omp(i, d, in.frames.data(), in.axes.data(), e.direction_fits.data(),
                         e.selected_neighbors.data(), in.n, e.selected_counts.data(),
                         in.lists.longest, in.noise.data(), e.direction_estimates.data(),
                         in.points.data(), e.direction_sigmas.data(), sums.normal_matrix.data(),
                         sums.normal_rhs.data(), sums.weight.data(), sums.sigma_sq.data(),
                         sums.count.data());
      ++calls;
    }
  }
  return calls;
}

StageSeconds time_pass_stages(PassInputs& in, const PassSettings& s) {
  StageSeconds t;
  Stopwatch w;
  build_knn(in, s);
  t.knn = w.seconds();
  w = Stopwatch();
  build_candidate_lists(in, s);
  t.lists = w.seconds();
  w = Stopwatch();
  build_frames(in, s);
  t.frames = w.seconds();
  std::vector<float> out(in.points.size());
  std::vector<float> noise = in.noise;
  w = Stopwatch();
  {
    const QuietStdout quiet;
    main_loop3_parallel(in.lists.pointers.data(), in.lists.counts.data(), in.frames.data(),
                        in.axes.data(), in.n, in.lists.longest, kDetailGamma, in.preselect,
                        static_cast<float>(s.scale_ratio), in.size_norm, kRegWeight, kSigmaFactor,
                        noise.data(), in.points.data(), s.num_scales, in.base, out.data());
  }
  t.main_loop = w.seconds();
  return t;
}

}  // namespace ici3d::bench
