// Micro-benchmarks of every function exported by ici3d.h, on realistic
// inputs: a noisy machined part (1 % noise), its k-NN table, candidate lists,
// frames and ICI estimates, built once, with the pipeline's default settings.
// Whole-pass benchmarks use a cloud of fewer than 5000 points so that the
// printing entry prints no progress lines.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ici3d.h"
#include "ici3d_host/estimate.h"
#include "ici3d_shapes/mesh.h"
#include "ici3d_shapes/random.h"
#include "pass_stages.h"

namespace {

using namespace ici3d::bench;
namespace shapes = ici3d::shapes;

struct Fixture {
  PassSettings settings;
  PassInputs in;
  EstimateArrays estimates;
};

Fixture make_fixture(size_t points) {
  shapes::Mesh mesh = shapes::machined_part_mesh();
  shapes::normalise_to_unit_sphere(mesh);
  const shapes::SurfaceSamples clean =
      shapes::sample_surface(mesh, points, shapes::seed_from("micro"));
  const std::vector<double> noisy =
      shapes::add_gaussian_noise(clean.xyz, 0.01, shapes::seed_from("micro-noise"));
  Fixture f;
  const ici3d::host::SurfaceEstimate surface = ici3d::host::estimate_surface(noisy.data(), points);
  f.settings.spacing = surface.spacing;
  f.settings.sigma = surface.sigma;
  f.in = pass_inputs(noisy, f.settings);
  build_knn(f.in, f.settings);
  build_candidate_lists(f.in, f.settings);
  build_frames(f.in, f.settings);
  f.estimates = run_estimates(f.in, f.settings, kDetailGamma);
  return f;
}

const Fixture& fixture() {
  static const Fixture f = make_fixture(4000);
  return f;
}

// The candidates of point i in its local frame, planar (x block, y block, z block).
std::vector<float> local_window(const Fixture& f, int32_t i) {
  const int32_t count = f.in.lists.counts[static_cast<size_t>(i)];
  const int32_t* list = f.in.lists.pointers[static_cast<size_t>(i)];
  const float* frame = &f.in.frames[9 * static_cast<size_t>(i)];
  const int32_t* axes = &f.in.axes[3 * static_cast<size_t>(i)];
  std::vector<float> coords(3 * static_cast<size_t>(count));
  for (int32_t k = 0; k < count; ++k) {
    for (int a = 0; a < 3; ++a) {
      const float* row = frame + 3 * axes[a];
      float v = 0;
      for (int c = 0; c < 3; ++c) v += row[c] * f.in.points[3 * static_cast<size_t>(list[k]) + c];
      coords[static_cast<size_t>(a * count + k)] = v;
    }
  }
  return coords;
}

void BM_find_index_square4(benchmark::State& state) {
  const Fixture& f = fixture();
  const std::vector<float> coords = local_window(f, 100);
  const int32_t count = f.in.lists.counts[100];
  const float h = static_cast<float>(f.settings.base_size * f.settings.spacing * 2);
  std::vector<int32_t> selected(static_cast<size_t>(count));
  int32_t found = 0;
  for (auto _ : state) {
    for (int32_t d = 0; d < 4; ++d) {
      find_index_square4(coords.data(), count, d, 0, selected.data(), &found, h, h);
      benchmark::DoNotOptimize(found);
    }
  }
  state.SetItemsProcessed(state.iterations() * 4);
  state.counters["candidates"] = count;
}
BENCHMARK(BM_find_index_square4);

void BM_polynomkernel_single_est_ord1(benchmark::State& state) {
  const int32_t count = static_cast<int32_t>(state.range(0));
  std::vector<float> window(3 * static_cast<size_t>(count));
  for (int32_t k = 0; k < count; ++k) {
    window[static_cast<size_t>(k)] = static_cast<float>(std::cos(1.3 * k)) * (1 + 0.01f * k);
    window[static_cast<size_t>(count + k)] = static_cast<float>(std::sin(0.7 * k)) * (1 + 0.02f * k);
    window[static_cast<size_t>(2 * count + k)] = 0.01f * static_cast<float>(std::sin(3.1 * k));
  }
  std::vector<float> weights(static_cast<size_t>(count));
  float estimate = 0, fit[3];
  for (auto _ : state) {
    polynomkernel_single_est_ord1(window.data(), count, &estimate, weights.data(), fit);
    benchmark::DoNotOptimize(estimate);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_polynomkernel_single_est_ord1)->Arg(8)->Arg(32)->Arg(128);

void BM_first_loop_omp(benchmark::State& state) {
  const Fixture& f = fixture();
  EstimateArrays e = f.estimates;
  int32_t i = 0;
  for (auto _ : state) {
    first_loop_omp(i, f.in.frames.data(), f.in.axes.data(), f.in.n, f.in.noise.data(),
                   f.in.points.data(), f.in.lists.pointers[static_cast<size_t>(i)],
                   f.in.lists.counts[static_cast<size_t>(i)], f.in.lists.longest,
                   e.selected_counts.data(), 0, f.settings.num_scales, f.in.base,
                   e.direction_sigmas.data(), e.direction_estimates.data(),
                   e.direction_fits.data(), e.selected_neighbors.data(), kDetailGamma,
                   f.in.preselect, static_cast<float>(f.settings.scale_ratio), f.in.size_norm);
    i = (i + 1) % f.in.n;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["longest_list"] = f.in.lists.longest;
}
BENCHMARK(BM_first_loop_omp);

void BM_second_loop_no_omp(benchmark::State& state) {
  const Fixture& f = fixture();
  const EstimateArrays& e = f.estimates;
  const size_t n = static_cast<size_t>(f.in.n);
  std::vector<float> m(9 * n), rhs(3 * n), w(n), s2(n), c(n);
  int32_t i = 0;
  for (auto _ : state) {
    for (int32_t d = 0; d < 4; ++d) {
      second_loop_no_omp(i, d, f.in.frames.data(), f.in.axes.data(), e.direction_fits.data(),
                         e.selected_neighbors.data(), f.in.n, e.selected_counts.data(),
                         f.in.lists.longest, f.in.noise.data(), e.direction_estimates.data(),
                         f.in.points.data(), e.direction_sigmas.data(), m.data(), rhs.data(),
                         w.data(), s2.data(), c.data());
    }
    i = (i + 1) % f.in.n;
  }
  state.SetItemsProcessed(state.iterations() * 4);
}
BENCHMARK(BM_second_loop_no_omp);

void BM_eigeng_3x3(benchmark::State& state) {
  const float scatter[9] = {4.0f, 0.3f, 0.01f, 0.3f, 2.5f, -0.02f, 0.01f, -0.02f, 0.004f};
  float re[3], im[3], vectors[9];
  for (auto _ : state) {
    float matrix[9];
    std::copy(scatter, scatter + 9, matrix);
    eigeng(matrix, 3, re, im, state.range(0) ? vectors : nullptr);
    benchmark::DoNotOptimize(re);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_eigeng_3x3)->ArgName("vectors")->Arg(0)->Arg(1);

void BM_local_coordinate_for_ici_c(benchmark::State& state) {
  const Fixture& f = fixture();
  int32_t axes[3];
  float frame[9];
  int32_t i = 0;
  for (auto _ : state) {
    local_coordinate_for_ici_c(f.in.points.data(), f.in.knn.indices.data(), i, f.in.knn.k, f.in.n,
                               axes, frame);
    benchmark::DoNotOptimize(frame);
    i = (i + 1) % f.in.n;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_local_coordinate_for_ici_c);

void BM_main_loop3_parallel(benchmark::State& state) {
  const Fixture& f = fixture();
  std::vector<float> out(f.in.points.size());
  for (auto _ : state) {
    std::vector<float> noise = f.in.noise;
    main_loop3_parallel(f.in.lists.pointers.data(), f.in.lists.counts.data(), f.in.frames.data(),
                        f.in.axes.data(), f.in.n, f.in.lists.longest, kDetailGamma, f.in.preselect,
                        static_cast<float>(f.settings.scale_ratio), f.in.size_norm, kRegWeight,
                        kSigmaFactor, noise.data(), f.in.points.data(), f.settings.num_scales,
                        f.in.base, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * f.in.n);
}
BENCHMARK(BM_main_loop3_parallel)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_square_neigh_ici_denoi_recur_pure_c_parallel(benchmark::State& state) {
  const Fixture& f = fixture();
  std::vector<float> out(f.in.points.size());
  for (auto _ : state) {
    std::vector<float> noise = f.in.noise;
    square_neigh_ici_denoi_recur_pure_c_parallel(
        f.in.points.data(), f.in.n, noise.data(), f.in.base, f.settings.num_scales,
        f.in.lists.pointers.data(), f.in.size_norm, f.in.preselect,
        static_cast<float>(f.settings.scale_ratio), f.in.lists.counts.data(), f.in.lists.longest,
        0, f.in.knn.indices.data(), f.in.knn.k, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * f.in.n);
}
BENCHMARK(BM_square_neigh_ici_denoi_recur_pure_c_parallel)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same pass reporting to a callback (every 1000 points) that counts.
void BM_ici3d_denoise_with_progress(benchmark::State& state) {
  const Fixture& f = fixture();
  std::vector<float> out(f.in.points.size());
  int64_t reports = 0;
  const ici3d_progress_fn count = [](int64_t, int64_t, void* user) {
    ++*static_cast<int64_t*>(user);
  };
  for (auto _ : state) {
    std::vector<float> noise = f.in.noise;
    ici3d_denoise_with_progress(
        f.in.points.data(), f.in.n, noise.data(), f.in.base, f.settings.num_scales,
        f.in.lists.pointers.data(), f.in.size_norm, f.in.preselect,
        static_cast<float>(f.settings.scale_ratio), f.in.lists.counts.data(), f.in.lists.longest,
        0, f.in.knn.indices.data(), f.in.knn.k, out.data(), count, &reports);
    benchmark::DoNotOptimize(out.data());
  }
  benchmark::DoNotOptimize(reports);
  state.SetItemsProcessed(state.iterations() * f.in.n);
}
BENCHMARK(BM_ici3d_denoise_with_progress)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ici3d_check_arguments(benchmark::State& state) {
  const Fixture& f = fixture();
  std::vector<float> out(f.in.points.size());
  std::vector<float> noise = f.in.noise;
  for (auto _ : state) {
    const int32_t code = ici3d_check_arguments(
        f.in.points.data(), f.in.n, noise.data(), f.in.base, f.settings.num_scales,
        f.in.lists.pointers.data(), f.in.size_norm, f.in.preselect,
        static_cast<float>(f.settings.scale_ratio), f.in.lists.counts.data(), f.in.lists.longest,
        0, f.in.knn.indices.data(), f.in.knn.k, out.data());
    benchmark::DoNotOptimize(code);
  }
  state.SetItemsProcessed(state.iterations() * f.in.n);
}
BENCHMARK(BM_ici3d_check_arguments)->Unit(benchmark::kMicrosecond);

void BM_ici3d_describe_argument_error(benchmark::State& state) {
  int32_t code = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ici3d_describe_argument_error(code));
    code = (code + 1) % 10;
  }
}
BENCHMARK(BM_ici3d_describe_argument_error);

}  // namespace

BENCHMARK_MAIN();
