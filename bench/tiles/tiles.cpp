// Tiled passes: time, peak memory and halo overhead of one denoising run on a
// synthetic sphere, for a memory limit or a tile size; or (--order) the time
// of the pass's stages with the points in the order they were sampled against
// the order along a space-filling curve. One CSV record per run on standard
// output (the header with --header); run one configuration per process, so
// that the peak memory is that run's.
//
//   ici3d_bench_tiles --points N [--noise S] [--memory-limit SIZE] [--tile-size L]
//                     [--threads T] [--order] [--header]

#include <omp.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
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
  size_t points = 100000;
  double noise = 0;  // per coordinate; 0: about half the spacing
  std::string memory_limit;
  double tile_size = 0;
  int threads = 0;
  bool order = false;
  bool header = false;
};

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: ici3d_bench_tiles --points N [--noise S] [--memory-limit SIZE] "
               "[--tile-size L] [--threads T] [--order] [--header]\n");
  std::exit(2);
}

Arguments parse_arguments(int argc, char** argv) {
  Arguments a;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--points" && has_value) a.points = std::strtoull(argv[++i], nullptr, 10);
    else if (arg == "--noise" && has_value) a.noise = std::atof(argv[++i]);
    else if (arg == "--memory-limit" && has_value) a.memory_limit = argv[++i];
    else if (arg == "--tile-size" && has_value) a.tile_size = std::atof(argv[++i]);
    else if (arg == "--threads" && has_value) a.threads = std::atoi(argv[++i]);
    else if (arg == "--order") a.order = true;
    else if (arg == "--header") a.header = true;
    else usage();
  }
  return a;
}

// A unit sphere sampled uniformly by area, noise about half the spacing
// unless given: a surface whose windows are small beside the cloud, as in
// large scans.
std::vector<double> sphere_cloud(const Arguments& a) {
  shapes::Mesh mesh = shapes::sphere_mesh(5);
  shapes::normalise_to_unit_sphere(mesh);
  const shapes::SurfaceSamples clean =
      shapes::sample_surface(mesh, a.points, shapes::seed_from("tiles"));
  const double spacing = std::sqrt(4 * 3.14159265358979 / static_cast<double>(a.points));
  return shapes::add_gaussian_noise(clean.xyz, a.noise > 0 ? a.noise : 0.5 * spacing,
                                    shapes::seed_from("tiles-noise"));
}

// knn, lists, frames and the library's main loop, in the given point order.
void time_order(const char* name, const std::vector<double>& xyz, const Arguments& a,
                const host::DenoiseReport& report) {
  PassSettings s;
  s.spacing = report.spacing;
  s.sigma = report.sigma;
  s.threads = a.threads;
  PassInputs in = pass_inputs(xyz, s);
  const StageSeconds t = time_pass_stages(in, s);
  std::printf("%zu,%d,%s,%.3f,%.3f,%.3f,%.3f\n", a.points, omp_get_max_threads(), name, t.knn, t.lists,
              t.frames, t.main_loop);
}

}  // namespace

int main(int argc, char** argv) {
  const Arguments a = parse_arguments(argc, argv);
  if (a.threads > 0) omp_set_num_threads(a.threads);
  if (a.order) {
    if (a.header) std::printf("points,threads,order,knn_s,lists_s,frames_s,main_loop_s\n");
    const std::vector<double> sampled = sphere_cloud(a);
    // The estimates only, for the window sizes the pipeline would pick.
    const host::CloudEstimates e = host::estimate_cloud(sampled, a.threads);
    host::DenoiseReport report;
    report.spacing = e.spacing;
    report.sigma = e.sigma;
    time_order("sampled", sampled, a, report);
    time_order("curve", in_space_filling_order(sampled), a, report);
    return 0;
  }
  if (a.header) {
    std::printf(
        "points,threads,memory_limit,tile_size,tiles,halo_width,halo_overhead,total_s,"
        "estimate_s,peak_rss_bytes,cloud_bytes\n");
    if (a.points == 0) return 0;
  }
  std::vector<double> xyz = sphere_cloud(a);
  host::DenoiseOptions o;
  o.threads = a.threads;
  o.tile_size = a.tile_size;
  if (!a.memory_limit.empty()) o.memory_limit = host::parse_memory_size(a.memory_limit);
  const host::DenoiseReport r = host::denoise_positions(xyz, o);
  std::printf("%zu,%d,%lld,%g,%zu,%.5f,%.3f,%.2f,%.2f,%zu,%zu\n", a.points, omp_get_max_threads(),
              static_cast<long long>(r.memory_limit), a.tile_size, r.tiles, r.halo_width,
              r.halo_overhead, r.total_seconds, r.estimate_seconds, peak_rss_bytes(),
              xyz.size() * sizeof(double));
  return 0;
}
