// One denoising pass on a synthetic cloud, timed as a whole through the host
// pipeline and stage by stage through the library's exported functions.
// Prints one CSV record (and the header with --header) on standard output.
// With --repeat R each timing is the fastest of R runs (the peak memory is
// that of the first), which keeps other work on the machine out of the numbers.
//
//   ici3d_bench_throughput --points N [--threads T] [--sigma S] [--repeat R] [--no-stages]

#include <omp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ici3d.h"
#include "ici3d_host/denoise.h"
#include "ici3d_shapes/mesh.h"
#include "ici3d_shapes/random.h"
#include "pass_stages.h"
#include "run_info.h"

namespace {

using namespace ici3d::bench;
namespace shapes = ici3d::shapes;
namespace host = ici3d::host;

struct Arguments {
  size_t points = 10000;
  int threads = 0;
  double sigma = 0.01;  // of the bounding-sphere radius
  int repeat = 1;
  bool stages = true;
  bool header = false;
};

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: ici3d_bench_throughput --points N [--threads T] [--sigma S] "
               "[--repeat R] [--no-stages] [--header]\n");
  std::exit(2);
}

Arguments parse_arguments(int argc, char** argv) {
  Arguments a;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--points" && has_value) a.points = std::strtoull(argv[++i], nullptr, 10);
    else if (arg == "--threads" && has_value) a.threads = std::atoi(argv[++i]);
    else if (arg == "--sigma" && has_value) a.sigma = std::atof(argv[++i]);
    else if (arg == "--repeat" && has_value) a.repeat = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--no-stages") a.stages = false;
    else if (arg == "--header") a.header = true;
    else usage();
  }
  return a;
}

struct StageTimes {
  double knn = 0, lists = 0, frames = 0, main_loop = 0;
  void keep_fastest(const StageTimes& o) {
    knn = std::min(knn, o.knn);
    lists = std::min(lists, o.lists);
    frames = std::min(frames, o.frames);
    main_loop = std::min(main_loop, o.main_loop);
  }
};

// The stages of one pass with the parameters the pipeline chose, in the
// order the pipeline hands the library its points.
StageTimes time_stages(const std::vector<double>& noisy, const host::DenoiseReport& report) {
  const host::DenoiseOptions& o = report.effective;
  PassSettings s;
  s.k = o.k;
  s.base_size = o.base_size;
  s.num_scales = o.num_scales;
  s.scale_ratio = o.scale_ratio;
  s.list_cap = o.list_cap;
  s.spacing = report.spacing;
  s.sigma = report.sigma;
  s.threads = o.threads;
  PassInputs in = pass_inputs(in_space_filling_order(noisy), s);
  const StageSeconds stages = time_pass_stages(in, s);
  return StageTimes{stages.knn, stages.lists, stages.frames, stages.main_loop};
}

void print_header() {
  std::printf(
      "points,threads,total_s,estimate_s,neighbor_s,library_s,peak_rss_bytes,"
      "rss_before_bytes,bytes_per_point,longest_list,knn_s,lists_s,frames_s,main_loop_s\n");
}

}  // namespace

int main(int argc, char** argv) {
  const Arguments args = parse_arguments(argc, argv);
  if (args.header) {
    print_header();
    if (args.points == 0) return 0;
  }
  if (args.threads > 0) omp_set_num_threads(args.threads);
  const int threads = omp_get_max_threads();

  shapes::Mesh mesh = shapes::machined_part_mesh();
  shapes::normalise_to_unit_sphere(mesh);
  const shapes::SurfaceSamples clean =
      shapes::sample_surface(mesh, args.points, shapes::seed_from("throughput"));
  std::vector<double> noisy =
      shapes::add_gaussian_noise(clean.xyz, args.sigma, shapes::seed_from("throughput-noise"));
  const std::vector<double> input = noisy;

  const size_t rss_before = current_rss_bytes();
  host::DenoiseOptions options;
  options.threads = threads;
  host::DenoiseReport report = host::denoise_positions(noisy, options);
  const size_t peak = peak_rss_bytes();
  const double per_point =
      static_cast<double>(peak > rss_before ? peak - rss_before : 0) / static_cast<double>(args.points);
  for (int r = 1; r < args.repeat; ++r) {
    noisy = input;
    host::DenoiseReport again = host::denoise_positions(noisy, options);
    if (again.total_seconds < report.total_seconds) report = std::move(again);
  }

  StageTimes t;
  for (int r = 0; args.stages && r < args.repeat; ++r) {
    const StageTimes run = time_stages(input, report);
    if (r == 0) t = run;
    else t.keep_fastest(run);
  }
  const host::PassReport& pass = report.passes.at(0);
  std::printf("%zu,%d,%.4f,%.4f,%.4f,%.4f,%zu,%zu,%.1f,%d,%.4f,%.4f,%.4f,%.4f\n", args.points,
              threads, report.total_seconds, report.estimate_seconds, pass.neighbor_seconds,
              pass.library_seconds, peak, rss_before, per_point, pass.longest_list, t.knn, t.lists,
              t.frames, t.main_loop);
  return 0;
}
