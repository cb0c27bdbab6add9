#include <omp.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include <gtest/gtest.h>

#include "clouds.h"
#include "ici3d.h"
#include "test_util.h"

namespace {

using ici3d_test::Cloud;

// Everything a host hands the entry, built with brute-force neighbourhoods.
struct EntryRun {
  Cloud cloud;
  int32_t K = 16;
  int32_t base_size = 2;
  int32_t num_scales = 3;
  float scale_ratio = 1.5f;
  float spacing = 0;
  std::vector<int32_t> table;
  ici3d_test::CandidateLists candidates;
  std::vector<float> noise;

  EntryRun(Cloud c, float sigma, float h) : cloud(std::move(c)), spacing(h) {
    table = ici3d_test::brute_force_knn(cloud.points, K);
    candidates = ici3d_test::brute_force_candidates(cloud.points, preselect() * std::sqrt(3.0f));
    noise.assign(cloud.n(), sigma);
  }
  float size_norm() const { return 1.0f / (spacing * spacing); }
  float preselect() const {
    return static_cast<float>(base_size * std::pow(scale_ratio, num_scales)) * spacing;
  }
  std::vector<float> run(const std::vector<float> &points, int32_t parameter_set = 0) {
    std::vector<float> out(points.size(), -1.0f);
    square_neigh_ici_denoi_recur_pure_c_parallel(
        points.data(), cloud.n(), noise.data(), base_size, num_scales, candidates.pointers.data(),
        size_norm(), preselect(), scale_ratio, candidates.counts.data(), candidates.longest,
        parameter_set, table.data(), K, out.data());
    return out;
  }
};

double mean_sphere_error(const std::vector<float> &p, float r) {
  double sum = 0;
  for (size_t i = 0; i < p.size(); i += 3) {
    sum += std::fabs(std::sqrt(p[i] * p[i] + p[i + 1] * p[i + 1] + p[i + 2] * p[i + 2]) - r);
  }
  return sum / static_cast<double>(p.size() / 3);
}

double mean_cube_error(const std::vector<float> &p, float h) {
  double sum = 0;
  for (size_t i = 0; i < p.size(); i += 3) sum += std::fabs(ici3d_test::cube_distance(&p[i], h));
  return sum / static_cast<double>(p.size() / 3);
}

TEST(Entry, RunsTheMainLoopOverTransposedFramesWithThePresetValues) {
  EntryRun e(ici3d_test::noisy_sphere(600, 1.0f, 0.02f, 3), 0.02f, 0.14f);
  const int32_t n = e.cloud.n();
  std::vector<float> frames(9 * n);
  std::vector<int32_t> axes(3 * n);
  for (int32_t i = 0; i < n; ++i) {
    float f[9];
    local_coordinate_for_ici_c(e.cloud.points.data(), e.table.data(), i, e.K, n, &axes[3 * i], f);
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) frames[9 * i + 3 * r + c] = f[3 * c + r];
    }
  }
  const float gammas[2] = {ICI3D_GAMMA_DETAIL, ICI3D_GAMMA_SMOOTH};
  const float reg_weights[2] = {ICI3D_REG_WEIGHT_DETAIL, ICI3D_REG_WEIGHT_SMOOTH};
  std::vector<float> results[2];
  for (int32_t set = 0; set < 2; ++set) {
    std::vector<float> noise_ref = e.noise, expected(3 * n);
    main_loop3_parallel(e.candidates.pointers.data(), e.candidates.counts.data(), frames.data(),
                        axes.data(), n, e.candidates.longest, gammas[set], e.preselect(),
                        e.scale_ratio, e.size_norm(), reg_weights[set], ICI3D_SIGMA_FACTOR, noise_ref.data(),
                        e.cloud.points.data(), e.num_scales, e.base_size, expected.data());
    std::vector<float> noise_in = e.noise;
    results[set] = e.run(e.cloud.points, set);
    EXPECT_EQ(ici3d_test::first_bit_difference(results[set], expected), -1) << set;
    EXPECT_EQ(ici3d_test::first_bit_difference(e.noise, noise_ref), -1) << set;
    e.noise = noise_in;
  }
  EXPECT_NE(ici3d_test::first_bit_difference(results[0], results[1]), -1);
}

TEST(Entry, EmptyCloudTouchesNothing) {
  float point[3] = {1, 2, 3}, noise = 0.5f, out[3] = {-1, -1, -1};
  const std::string text = ici3d_test::capture_stdout([&] {
    square_neigh_ici_denoi_recur_pure_c_parallel(point, 0, &noise, 1, 1, nullptr, 1, 1, 1,
                                                 nullptr, 1, 0, nullptr, 4, out);
  });
  EXPECT_EQ(text, "");
  EXPECT_EQ(noise, 0.5f);
  EXPECT_EQ(out[0], -1.0f);
}

// A noisy sphere and a noisy cube with sharp edges: the mean distance to the
// true surface must drop clearly, a second pass must not undo the first, and
// the result must not depend on the thread count.
TEST(EndToEnd, SphereGetsCloserToItsSurface) {
  EntryRun e(ici3d_test::noisy_sphere(4000, 1.0f, 0.01f, 21), 0.01f, 0.056f);
  const double before = mean_sphere_error(e.cloud.points, 1.0f);
  const std::vector<float> once = e.run(e.cloud.points);
  const double after = mean_sphere_error(once, 1.0f);
  const std::vector<float> twice = e.run(once);
  const double after2 = mean_sphere_error(twice, 1.0f);
  std::printf("sphere: mean error %.5f -> %.5f (ratio %.3f), second pass %.5f\n", before, after,
              after / before, after2);
  EXPECT_LT(after, 0.6 * before);
  EXPECT_LT(after2, 1.05 * after);
}

TEST(EndToEnd, CubeGetsCloserAndFlatFacesStayFlat) {
  const float h = 1.0f;
  EntryRun e(ici3d_test::noisy_cube(4000, h, 0.01f, 8), 0.01f, 0.07f);
  const double before = mean_cube_error(e.cloud.points, h);
  omp_set_num_threads(1);
  const std::vector<float> once = e.run(e.cloud.points);
  const std::vector<float> noise_after = e.noise;
  omp_set_num_threads(2);
  e.noise.assign(e.cloud.n(), 0.01f);
  const std::vector<float> once2 = e.run(e.cloud.points);
  omp_set_num_threads(omp_get_num_procs());
  EXPECT_EQ(ici3d_test::first_bit_difference(once, once2), -1);
  EXPECT_EQ(ici3d_test::first_bit_difference(noise_after, e.noise), -1);

  const double after = mean_cube_error(once, h);
  std::printf("cube: mean error %.5f -> %.5f (ratio %.3f)\n", before, after, after / before);
  EXPECT_LT(after, 0.7 * before);
  // Points well inside a face (far from every edge) end up near the face.
  double interior = 0;
  int count = 0;
  for (size_t i = 0; i < once.size(); i += 3) {
    const float *p = &e.cloud.points[i];
    int near_face = 0;
    for (int a = 0; a < 3; ++a) near_face += std::fabs(p[a]) < h - 0.3f;
    if (near_face == 2) {
      interior = std::max(interior, static_cast<double>(std::fabs(ici3d_test::cube_distance(&once[i], h))));
      ++count;
    }
  }
  EXPECT_GT(count, 100);
  EXPECT_LT(interior, 0.03);  // within three noise levels of the face
}

}  // namespace
