#include "protocol.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "ici3d_host/estimate.h"
#include "ici3d_shapes/random.h"
#include "metrics.h"
#include "run_info.h"

namespace ici3d::bench {

namespace {

struct Result {
  Scores scores;
  double seconds = 0;
  double cpu_seconds = 0;
  double score = 0;
  double peak_bytes = 0;
  OursChoices ours;
};

class CsvWriter {
 public:
  explicit CsvWriter(const std::string& path) : file_(std::fopen(path.c_str(), "w")) {
    if (!file_) throw std::runtime_error("cannot write " + path);
    std::fprintf(file_,
                 "phase,points,mesh,sigma,method,setting,chamfer_e4,p2m_e4,normal_deg,seconds,cpu_s,"
                 "score,note,to_clean_e4,from_clean_e4,peak_mb,true_spacing,est_sigma,est_spacing,"
                 "noise_radius,window,longest_list,capped_lists\n");
  }
  ~CsvWriter() { std::fclose(file_); }
  CsvWriter(const CsvWriter&) = delete;
  CsvWriter& operator=(const CsvWriter&) = delete;

  void cell_row(const std::string& phase, const Cell& cell, const MethodSpec& setting,
                const Result& r) {
    std::fprintf(file_, "%s,%zu,%s,%g,%s,\"%s\",%.4f,%.4f,%.3f,%.4f,%.4f,%.5f,,%.4f,%.4f,%.1f,%.6g,",
                 phase.c_str(), cell.points, cell.surface->name.c_str(), cell.sigma,
                 setting.family.c_str(), setting.text().c_str(), 1e4 * r.scores.chamfer,
                 1e4 * r.scores.p2m, r.scores.normal_deg, r.seconds, r.cpu_seconds, r.score,
                 1e4 * r.scores.to_clean, 1e4 * r.scores.from_clean, r.peak_bytes / 1048576.0,
                 cell.true_spacing);
    if (setting.family == "ours") {
      const OursChoices& c = r.ours;
      std::fprintf(file_, "%.6g,%.6g,%.6g,%.6g,%d,%lld\n", c.sigma, c.spacing, c.noise_radius,
                   c.window, c.longest_list, static_cast<long long>(c.capped_lists));
    } else {
      std::fprintf(file_, ",,,,,\n");
    }
    std::fflush(file_);
  }

  void estimate_row(const Cell& cell) {
    const Stopwatch watch;
    const host::SurfaceEstimate e =
        host::estimate_surface(cell.noisy.data(), cell.noisy.size() / 3);
    const double seconds = watch.seconds();
    std::fprintf(file_, "estimate,%zu,%s,%g,ours,,,,,%.4f,,,,,,,%.6g,%.6g,%.6g,%.6g,,,\n", cell.points,
                 cell.surface->name.c_str(), cell.sigma, seconds, cell.true_spacing, e.sigma,
                 e.spacing, e.radius);
    std::fprintf(stderr, "  %-10s n=%-7zu sigma %-6g estimated x%.3f, spacing x%.3f (%.2f s)\n",
                 cell.surface->name.c_str(), cell.points, cell.sigma, e.sigma / cell.sigma,
                 e.spacing / cell.true_spacing, seconds);
    std::fflush(file_);
  }

  void search_row(size_t points, const MethodSpec& setting, const Summary& s, const std::string& note) {
    std::fprintf(file_, "search,%zu,all,0,ours,\"%s\",,,,%.4f,%.4f,%.5f,%s,,,,,,,,,,\n", points,
                 setting.text().c_str(), s.seconds, s.cpu_seconds, s.score, note.c_str());
    std::fflush(file_);
  }

 private:
  std::FILE* file_;
};

std::string cell_label(const Cell& cell) {
  std::ostringstream out;
  out << cell.surface->name << " n=" << cell.points << " sigma=" << cell.sigma;
  return out.str();
}

bool is_synthetic(const std::string& name) {
  return name == "cube" || name == "machined" || name == "sphere";
}

// Runs and scores methods on a fixed set of cells, remembering every result.
class Bench {
 public:
  Bench(std::vector<Cell> cells, int threads, CsvWriter& csv)
      : cells_(std::move(cells)), threads_(threads), csv_(csv) {
    for (const Cell& cell : cells_) noisy_.push_back(score_cloud(cell, cell.noisy));
  }

  const std::vector<Cell>& cells() const { return cells_; }

  const Result& run(size_t c, const MethodSpec& setting, const std::string& phase) {
    const auto key = std::make_pair(c, setting.text());
    auto it = results_.find(key);
    if (it == results_.end()) {
      const Cell& cell = cells_[c];
      const MethodRun out = run_method(setting, cell.noisy, threads_);
      Result r;
      r.scores = score_cloud(cell, out.xyz);
      r.seconds = out.seconds;
      r.cpu_seconds = out.cpu_seconds;
      r.peak_bytes = out.peak_bytes;
      r.ours = out.ours;
      r.score = relative_score(r.scores, noisy_[c]);
      std::fprintf(stderr, "  %-32s %-70s score %.3f  %.2f s\n", cell_label(cell).c_str(),
                   setting.text().c_str(), r.score, r.seconds);
      it = results_.emplace(key, r).first;
    }
    csv_.cell_row(phase, cells_[c], setting, it->second);
    return it->second;
  }

  Summary run_all(const MethodSpec& setting, const std::string& phase) {
    Summary s;
    for (size_t c = 0; c < cells_.size(); ++c) {
      const Result& r = run(c, setting, phase);
      s.score += r.score;
      s.seconds += r.seconds;
      s.cpu_seconds += r.cpu_seconds;
    }
    const double count = static_cast<double>(cells_.size());
    s.score /= count;
    s.seconds /= count;
    s.cpu_seconds /= count;
    return s;
  }

 private:
  std::vector<Cell> cells_;
  std::vector<Scores> noisy_;
  int threads_;
  CsvWriter& csv_;
  std::map<std::pair<size_t, std::string>, Result> results_;
};

std::vector<Cell> make_cells(const std::vector<std::unique_ptr<Surface>>& surfaces, size_t points,
                             const std::vector<double>& sigmas) {
  std::vector<Cell> cells;
  for (const auto& surface : surfaces) {
    for (double sigma : sigmas) cells.push_back(make_cell(*surface, points, sigma));
  }
  return cells;
}

std::vector<std::string> peer_families(const std::vector<MethodSpec>& peers) {
  std::vector<std::string> families;
  for (const MethodSpec& setting : peers) {
    bool seen = false;
    for (const std::string& f : families) seen = seen || f == setting.family;
    if (!seen) families.push_back(setting.family);
  }
  return families;
}

// The settings of one family, in the order given.
std::vector<MethodSpec> family_settings(const std::vector<MethodSpec>& peers, const std::string& family) {
  std::vector<MethodSpec> out;
  for (const MethodSpec& setting : peers)
    if (setting.family == family) out.push_back(setting);
  return out;
}

// A setting and its neighbours in its family's list.
std::vector<MethodSpec> around(const std::vector<MethodSpec>& family, const MethodSpec& best) {
  for (size_t k = 0; k < family.size(); ++k) {
    if (family[k].text() != best.text()) continue;
    const size_t lo = k == 0 ? 0 : k - 1;
    const size_t hi = std::min(family.size(), k + 2);
    return std::vector<MethodSpec>(family.begin() + static_cast<std::ptrdiff_t>(lo),
                                   family.begin() + static_cast<std::ptrdiff_t>(hi));
  }
  return {best};
}

using BestSettings = std::map<std::string, std::map<double, MethodSpec>>;

// Sweeps the peers on every cell of a size: all settings on the first size,
// the neighbourhood of the previous size's best on the others.
BestSettings tune_peers(Bench& bench, const std::vector<MethodSpec>& peers,
                        const BestSettings* previous) {
  std::vector<Trial> trials;
  for (size_t c = 0; c < bench.cells().size(); ++c) {
    const double sigma = bench.cells()[c].sigma;
    std::vector<MethodSpec> settings;
    if (previous == nullptr) {
      settings = peers;
    } else {
      for (const auto& [family, per_sigma] : *previous) {
        const auto it = per_sigma.find(sigma);
        if (it == per_sigma.end()) continue;
        for (const MethodSpec& s : around(family_settings(peers, family), it->second))
          settings.push_back(s);
      }
    }
    for (const MethodSpec& setting : settings) {
      const Result& r = bench.run(c, setting, "sweep");
      trials.push_back({setting, sigma, r.score, r.seconds});
    }
  }
  BestSettings best;
  for (const std::string& family : peer_families(peers)) best[family] = best_per_sigma(trials, family);
  return best;
}

SearchResult search_ours(Bench& bench, const ProtocolConfig& config, CsvWriter& csv) {
  const Evaluator evaluate = [&](const MethodSpec& setting) { return bench.run_all(setting, "sweep"); };
  SearchResult search = greedy_search(ours_defaults(), config.ours_grid, evaluate,
                                      config.time_budget, config.search_rounds);
  const size_t points = config.sizes.front();
  csv.search_row(points, ours_defaults(), search.start, "start");
  for (const SearchStep& step : search.steps) {
    std::ostringstream note;
    note << step.parameter << '=' << step.value << (step.within_budget ? "" : " (over budget)");
    csv.search_row(points, step.setting, step.summary, note.str());
  }
  csv.search_row(points, search.chosen, search.summary, "chosen");
  return search;
}

// Noisy input, our setting and each peer's setting for the cell's noise level.
void table_rows(Bench& bench, const MethodSpec& ours, const BestSettings& best) {
  for (size_t c = 0; c < bench.cells().size(); ++c) {
    const double sigma = bench.cells()[c].sigma;
    bench.run(c, MethodSpec{"noisy", {}}, "table");
    bench.run(c, ours, "table");
    for (const auto& [family, per_sigma] : best) {
      const auto it = per_sigma.find(sigma);
      if (it != per_sigma.end()) bench.run(c, it->second, "table");
    }
  }
}

}  // namespace

std::unique_ptr<Surface> load_surface(const std::string& name, const std::string& mesh_dir) {
  auto s = std::make_unique<Surface>();
  s->name = name;
  s->mesh = is_synthetic(name) ? shapes::synthetic_mesh(name)
                               : shapes::read_off(mesh_dir + "/" + name + ".off");
  shapes::normalise_to_unit_sphere(s->mesh);
  s->distance = std::make_unique<MeshDistance>(s->mesh);
  return s;
}

Cell make_cell(const Surface& surface, size_t points, double sigma) {
  Cell cell;
  cell.surface = &surface;
  cell.points = points;
  cell.sigma = sigma;
  const std::string key = surface.name + "/" + std::to_string(points);
  cell.clean = shapes::sample_surface(surface.mesh, points, shapes::seed_from(key)).xyz;
  std::ostringstream noise_key;
  noise_key << key << "/" << sigma;
  cell.noisy = shapes::add_gaussian_noise(cell.clean, sigma, shapes::seed_from(noise_key.str()));
  cell.true_spacing = std::sqrt(shapes::surface_area(surface.mesh) / static_cast<double>(points));
  return cell;
}

Scores score_cloud(const Cell& cell, const std::vector<double>& xyz, size_t normal_k) {
  Scores s;
  s.to_clean = mean_squared_nearest(xyz, cell.clean);
  s.from_clean = mean_squared_nearest(cell.clean, xyz);
  s.chamfer = s.to_clean + s.from_clean;
  s.p2m = cell.surface->distance->mean_squared_distance(xyz);
  s.normal_deg = mean_unoriented_angle_deg(pca_normals(xyz, normal_k),
                                           cell.surface->distance->closest_normals(xyz));
  return s;
}

void run_protocol(const ProtocolConfig& config) {
  if (config.sizes.empty()) throw std::invalid_argument("no cloud sizes");
  CsvWriter csv(config.csv_path);
  std::vector<std::unique_ptr<Surface>> surfaces;
  for (const std::string& name : config.meshes) surfaces.push_back(load_surface(name, config.mesh_dir));

  BestSettings best;
  for (size_t s = 0; s < config.sizes.size(); ++s) {
    const size_t points = config.sizes[s];
    std::fprintf(stderr, "%zu-point clouds\n", points);
    if (config.estimates_only) {
      for (const Cell& cell : make_cells(surfaces, points, config.sigmas)) csv.estimate_row(cell);
      continue;
    }
    Bench bench(make_cells(surfaces, points, config.sigmas), config.threads, csv);
    if (!config.tuned_from.empty()) best = tuned_peer_settings(config.tuned_from, points);
    else if (!config.ours_only) best = tune_peers(bench, config.peer_sweep, s == 0 ? nullptr : &best);
    MethodSpec ours = ours_defaults();
    if (s == 0 && !config.ours_grid.empty()) ours = search_ours(bench, config, csv).chosen;
    table_rows(bench, ours, best);
  }
}

}  // namespace ici3d::bench
