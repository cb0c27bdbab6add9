// The throughput benchmark times the stages of a pass one by one; these tests
// check that the stages put together compute what the library's entry does.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "ici3d.h"
#include "ici3d_host/estimate.h"
#include "ici3d_shapes/mesh.h"
#include "ici3d_shapes/random.h"
#include "pass_stages.h"
#include "run_info.h"

namespace ici3d::bench {
namespace {

struct Prepared {
  PassSettings settings;
  PassInputs in;
};

Prepared prepared_cloud() {
  shapes::Mesh mesh = shapes::machined_part_mesh();
  shapes::normalise_to_unit_sphere(mesh);
  const std::vector<double> noisy =
      shapes::add_gaussian_noise(shapes::sample_surface(mesh, 1500, 1).xyz, 0.01, 2);
  Prepared p;
  const host::SurfaceEstimate surface = host::estimate_surface(noisy.data(), noisy.size() / 3);
  p.settings.spacing = surface.spacing;
  p.settings.sigma = surface.sigma;
  p.in = pass_inputs(noisy, p.settings);
  build_knn(p.in, p.settings);
  build_candidate_lists(p.in, p.settings);
  build_frames(p.in, p.settings);
  return p;
}

TEST(PassStages, FramesAndMainLoopReproduceTheEntry) {
  const Prepared p = prepared_cloud();
  const PassInputs& in = p.in;
  std::vector<float> via_entry(in.points.size()), via_stages(in.points.size());
  std::vector<float> noise_entry = in.noise, noise_stages = in.noise;
  square_neigh_ici_denoi_recur_pure_c_parallel(
      in.points.data(), in.n, noise_entry.data(), in.base, p.settings.num_scales,
      in.lists.pointers.data(), in.size_norm, in.preselect,
      static_cast<float>(p.settings.scale_ratio), in.lists.counts.data(), in.lists.longest, 0,
      in.knn.indices.data(), in.knn.k, via_entry.data());
  main_loop3_parallel(in.lists.pointers.data(), in.lists.counts.data(), in.frames.data(),
                      in.axes.data(), in.n, in.lists.longest, kDetailGamma, in.preselect,
                      static_cast<float>(p.settings.scale_ratio), in.size_norm, kRegWeight,
                      kSigmaFactor, noise_stages.data(), in.points.data(), p.settings.num_scales,
                      in.base, via_stages.data());
  EXPECT_EQ(via_entry, via_stages);
  EXPECT_EQ(noise_entry, noise_stages);
}

TEST(PassStages, SpreadingVisitsEveryAcceptedWindowOnce) {
  const Prepared p = prepared_cloud();
  const EstimateArrays e = run_estimates(p.in, p.settings, kDetailGamma);
  int64_t accepted = 0, members = 0;
  for (size_t w = 0; w < 4 * static_cast<size_t>(p.in.n); ++w) {
    if (e.direction_fits[3 * w + 2] > 0) {
      ++accepted;
      members += e.selected_counts[w];
    }
  }
  ASSERT_GT(accepted, 0);
  SpreadSums sums;
  EXPECT_EQ(run_spreading(p.in, p.settings, e, sums), accepted);
  double contributions = 0;
  for (float c : sums.count) contributions += c;
  EXPECT_EQ(contributions, static_cast<double>(members));
  for (float w : sums.weight) EXPECT_TRUE(std::isfinite(w));
}

TEST(RunInfo, MeasuresMemoryAndSilencesStdout) {
  EXPECT_GT(current_rss_bytes(), 0u);
  EXPECT_GE(peak_rss_bytes(), current_rss_bytes() / 2);
  testing::internal::CaptureStdout();
  {
    const QuietStdout quiet;
    std::printf("hidden\n");
  }
  std::printf("shown\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "shown\n");
}

}  // namespace
}  // namespace ici3d::bench
