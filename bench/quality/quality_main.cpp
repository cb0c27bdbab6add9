// The denoising quality comparison (see protocol.h). bench/run.sh passes the
// meshes, noise levels, peer settings and our parameter grid.
//
//   ici3d_bench_quality --csv OUT.csv --mesh-dir DIR --meshes fandisk,cube
//       --sigmas 0.01,0.02 [--sizes 10000,50000,200000]
//       [--peer jet:k=24 ...] [--ours-grid "preset=0,1;passes=1,2"]
//       [--time-budget 2] [--search-rounds 2] [--threads T] [--estimates-only | --ours-only]
//       [--tuned-from EARLIER.csv]   (peers run the settings that run chose, no sweep)

#include <omp.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>

#include "peers.h"
#include "protocol.h"

namespace {

using namespace ici3d::bench;

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, sep);) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

std::vector<double> numbers(const std::string& text) {
  std::vector<double> values;
  for (const std::string& part : split(text, ',')) values.push_back(std::stod(part));
  return values;
}

// "name=v1,v2;name=v1,..." in search order.
std::vector<std::pair<std::string, std::vector<double>>> parse_grid(const std::string& text) {
  std::vector<std::pair<std::string, std::vector<double>>> grid;
  for (const std::string& entry : split(text, ';')) {
    const size_t eq = entry.find('=');
    if (eq == std::string::npos) throw std::invalid_argument("bad grid entry '" + entry + "'");
    grid.emplace_back(entry.substr(0, eq), numbers(entry.substr(eq + 1)));
  }
  return grid;
}

ProtocolConfig parse_arguments(int argc, char** argv) {
  ProtocolConfig c;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--estimates-only" || arg == "--ours-only") {
      (arg == "--ours-only" ? c.ours_only : c.estimates_only) = true;
      continue;
    }
    if (i + 1 >= argc) throw std::invalid_argument("missing value after " + arg);
    const std::string value = argv[++i];
    if (arg == "--csv") c.csv_path = value;
    else if (arg == "--mesh-dir") c.mesh_dir = value;
    else if (arg == "--meshes") c.meshes = split(value, ',');
    else if (arg == "--sigmas") c.sigmas = numbers(value);
    else if (arg == "--sizes") {
      c.sizes.clear();
      for (double v : numbers(value)) c.sizes.push_back(static_cast<size_t>(v));
    }
    else if (arg == "--peer") c.peer_sweep.push_back(parse_method(value));
    else if (arg == "--ours-grid") c.ours_grid = parse_grid(value);
    else if (arg == "--time-budget") c.time_budget = std::stod(value);
    else if (arg == "--search-rounds") c.search_rounds = std::stoi(value);
    else if (arg == "--threads") c.threads = std::stoi(value);
    else if (arg == "--tuned-from") c.tuned_from = value;
    else throw std::invalid_argument("unknown argument " + arg);
  }
  if (c.csv_path.empty() || c.meshes.empty() || c.sigmas.empty()) {
    throw std::invalid_argument("--csv, --meshes and --sigmas are required");
  }
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    ProtocolConfig config = parse_arguments(argc, argv);
    if (config.threads > 0) omp_set_num_threads(config.threads);
    config.threads = omp_get_max_threads();
    std::fprintf(stderr, "threads: %d (CGAL %s)\n", config.threads,
                 cgal_parallel() ? "parallel with TBB" : "sequential");
    run_protocol(config);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ici3d_bench_quality: %s\n", e.what());
    return 1;
  }
  return 0;
}
