// The stages of one denoising pass, run one by one through the library's
// exported functions so that each can be timed (and fed to the
// micro-benchmarks) on its own. Mirrors what the host pipeline and the entry
// do: k-NN table and candidate lists, frames on the calling thread, then the
// per-point ICI estimates (parallel) and the spreading (one thread).
#pragma once

#include <cstdint>
#include <vector>

#include "ici3d.h"
#include "ici3d_host/denoise.h"
#include "ici3d_host/neighbors.h"

namespace ici3d::bench {

// The library's "detail" preset and noise update factor.
inline constexpr float kDetailGamma = ICI3D_GAMMA_DETAIL;
inline constexpr float kRegWeight = ICI3D_REG_WEIGHT_DETAIL;
inline constexpr float kSigmaFactor = ICI3D_SIGMA_FACTOR;

// The shipped defaults of the pipeline, so that what is timed is what runs.
struct PassSettings {
  int k = host::DenoiseOptions{}.k;
  int base_size = host::DenoiseOptions{}.base_size;
  int num_scales = host::DenoiseOptions{}.num_scales;
  double scale_ratio = host::DenoiseOptions{}.scale_ratio;
  int list_cap = host::DenoiseOptions{}.list_cap;
  double spacing = 0;  // length units, > 0
  double sigma = 0;    // length units, > 0
  int threads = 0;
};

struct PassInputs {
  int32_t n = 0;
  std::vector<float> points;  // 3n
  std::vector<float> noise;   // n
  // What the pipeline hands the library for these settings (library_windows).
  int32_t base = 1;
  float size_norm = 0;
  float preselect = 0;
  host::KnnTable knn;
  host::CandidateLists lists;
  std::vector<float> frames;  // 9n, row r of record i = eigenvector r
  std::vector<int32_t> axes;  // 3n
};

/// The points of xyz (3n, all finite) in the order the pipeline hands the
/// library its points: along the space-filling curve.
std::vector<double> in_space_filling_order(const std::vector<double>& xyz);

/// Positions as floats, noise levels and the library's scale parameters.
PassInputs pass_inputs(const std::vector<double>& xyz, const PassSettings& s);
void build_knn(PassInputs& in, const PassSettings& s);
void build_candidate_lists(PassInputs& in, const PassSettings& s);
/// Frames of all points on the calling thread, stored as the entry stores them.
void build_frames(PassInputs& in, const PassSettings& s);

/// The working arrays that the per-point estimate writes and the spreading reads.
struct EstimateArrays {
  std::vector<int32_t> selected_counts;     // 4n
  std::vector<int32_t> selected_neighbors;  // 4n * max_selected
  std::vector<float> direction_fits;        // 12n
  std::vector<float> direction_estimates;   // 12n
  std::vector<float> direction_sigmas;      // 4n
};

struct SpreadSums {
  std::vector<float> normal_matrix, normal_rhs, weight, sigma_sq, count;
};

/// The ICI estimate of every point (first_loop_omp), in parallel.
EstimateArrays run_estimates(const PassInputs& in, const PassSettings& s, float gamma);
/// The spreading of every accepted direction (second_loop_no_omp), points
/// ascending, on the calling thread. Returns the number of calls made.
int64_t run_spreading(const PassInputs& in, const PassSettings& s, const EstimateArrays& e,
                      SpreadSums& sums);

/// Seconds of the stages of one pass, each timed on its own.
struct StageSeconds {
  double knn = 0, lists = 0, frames = 0, main_loop = 0;
};
/// Builds the k-NN table, the candidate lists and the frames of `in`, then
/// runs the library's main loop (detail preset, progress lines silenced),
/// timing each.
StageSeconds time_pass_stages(PassInputs& in, const PassSettings& s);

}  // namespace ici3d::bench
