// The peers on a cloud read from a file, for the speed comparison
// (bench/speed.sh): each setting runs once on the points in memory, its
// wall-clock time is printed as a CSV record and its output written next to
// the input, to be measured against the exact surface the same way as ours.
//
//   ici3d_bench_speed IN.ply OUT_DIR --peer jet:k=32 [--peer mls:r=0.02 ...] [--threads T]

#include <omp.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "ici3d_host/io.h"
#include "methods.h"

namespace {

using namespace ici3d::bench;
namespace host = ici3d::host;

// "jet:k=32" -> "jet-k32": a file name part.
std::string file_part(const MethodSpec& m) {
  std::string name = m.family;
  for (const auto& [key, value] : m.params) {
    char number[32];
    std::snprintf(number, sizeof number, "%g", value);
    name += "-" + key + number;
  }
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: ici3d_bench_speed IN OUT_DIR --peer SETTING... [--threads T]\n");
    return 2;
  }
  try {
    std::vector<MethodSpec> peers;
    int threads = 0;
    for (int i = 3; i + 1 < argc; i += 2) {
      const std::string arg = argv[i];
      if (arg == "--peer") peers.push_back(parse_method(argv[i + 1]));
      else if (arg == "--threads") threads = std::stoi(argv[i + 1]);
      else throw std::invalid_argument("unknown argument " + arg);
    }
    if (threads > 0) omp_set_num_threads(threads);
    threads = omp_get_max_threads();
    const host::PointCloud input = host::read_point_cloud(argv[1]);
    for (const MethodSpec& peer : peers) {
      const MethodRun run = run_method(peer, input.xyz, threads);
      host::PointCloud out;
      out.xyz = run.xyz;
      const std::string path = std::string(argv[2]) + "/" + file_part(peer) + ".ply";
      host::write_point_cloud(path, out);
      std::printf("%s,%d,%.3f,%.3f,%s\n", peer.text().c_str(), threads, run.seconds,
                  run.peak_bytes, path.c_str());
      std::fflush(stdout);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ici3d_bench_speed: %s\n", e.what());
    return 1;
  }
  return 0;
}
