#include "protocol.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "metrics.h"

namespace ici3d::bench {

namespace {

struct Result {
  Scores scores;
  double seconds = 0;
  double cpu_seconds = 0;
  double score = 0;
};

class CsvWriter {
 public:
  explicit CsvWriter(const std::string& path) : file_(std::fopen(path.c_str(), "w")) {
    if (!file_) throw std::runtime_error("cannot write " + path);
    std::fprintf(file_,
                 "phase,points,mesh,sigma,method,setting,chamfer_e4,p2m_e4,normal_deg,seconds,cpu_s,"
                 "score,note,to_clean_e4,from_clean_e4\n");
  }
  ~CsvWriter() { std::fclose(file_); }
  CsvWriter(const CsvWriter&) = delete;
  CsvWriter& operator=(const CsvWriter&) = delete;

  void cell_row(const std::string& phase, const Cell& cell, const MethodSpec& setting,
                const Result& r) {
    std::fprintf(file_, "%s,%zu,%s,%g,%s,\"%s\",%.4f,%.4f,%.3f,%.4f,%.4f,%.5f,,%.4f,%.4f\n", phase.c_str(),
                 cell.points, cell.surface->name.c_str(), cell.sigma, setting.family.c_str(),
                 setting.text().c_str(), 1e4 * r.scores.chamfer, 1e4 * r.scores.p2m,
                 r.scores.normal_deg, r.seconds, r.cpu_seconds, r.score, 1e4 * r.scores.to_clean,
                 1e4 * r.scores.from_clean);
    std::fflush(file_);
  }

  void search_row(size_t points, const MethodSpec& setting, const Summary& s, const std::string& note) {
    std::fprintf(file_, "search,%zu,all,0,ours,\"%s\",,,,%.4f,%.4f,%.5f,%s,,\n", points,
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

std::vector<Trial> sweep_peers(Bench& bench, const std::vector<MethodSpec>& peers) {
  std::vector<Trial> trials;
  for (size_t c = 0; c < bench.cells().size(); ++c) {
    for (const MethodSpec& setting : peers) {
      const Result& r = bench.run(c, setting, "sweep");
      trials.push_back({setting, bench.cells()[c].sigma, r.score, r.seconds});
    }
  }
  return trials;
}

SearchResult search_ours(Bench& bench, const ProtocolConfig& config, CsvWriter& csv) {
  const Evaluator evaluate = [&](const MethodSpec& setting) { return bench.run_all(setting, "sweep"); };
  SearchResult search = greedy_search(ours_defaults(), config.ours_grid, evaluate,
                                      config.time_budget, config.search_rounds);
  csv.search_row(config.sweep_points, ours_defaults(), search.start, "start");
  for (const SearchStep& step : search.steps) {
    std::ostringstream note;
    note << step.parameter << '=' << step.value << (step.within_budget ? "" : " (over budget)");
    csv.search_row(config.sweep_points, step.setting, step.summary, note.str());
  }
  csv.search_row(config.sweep_points, search.chosen, search.summary, "chosen");
  return search;
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

// Noisy input, our chosen setting and each peer's setting for the cell's noise level.
void table_rows(Bench& bench, const MethodSpec& ours,
                const std::map<std::string, std::map<double, MethodSpec>>& best) {
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
  s->mesh = is_synthetic(name) ? synthetic_mesh(name) : read_off(mesh_dir + "/" + name + ".off");
  normalise_to_unit_sphere(s->mesh);
  s->distance = std::make_unique<MeshDistance>(s->mesh);
  return s;
}

Cell make_cell(const Surface& surface, size_t points, double sigma) {
  Cell cell;
  cell.surface = &surface;
  cell.points = points;
  cell.sigma = sigma;
  const std::string key = surface.name + "/" + std::to_string(points);
  cell.clean = sample_surface(surface.mesh, points, seed_from(key)).xyz;
  std::ostringstream noise_key;
  noise_key << key << "/" << sigma;
  cell.noisy = add_gaussian_noise(cell.clean, sigma, seed_from(noise_key.str()));
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
  CsvWriter csv(config.csv_path);
  std::vector<std::unique_ptr<Surface>> surfaces;
  for (const std::string& name : config.meshes) surfaces.push_back(load_surface(name, config.mesh_dir));

  std::fprintf(stderr, "sweep on %zu-point clouds\n", config.sweep_points);
  Bench sweep(make_cells(surfaces, config.sweep_points, config.sigmas), config.threads, csv);
  const std::vector<Trial> trials = sweep_peers(sweep, config.peer_sweep);
  const SearchResult ours = search_ours(sweep, config, csv);
  std::map<std::string, std::map<double, MethodSpec>> best;
  for (const std::string& family : peer_families(config.peer_sweep)) {
    best[family] = best_per_sigma(trials, family);
  }
  table_rows(sweep, ours.chosen, best);

  if (config.final_points == 0) return;
  std::fprintf(stderr, "chosen settings on %zu-point clouds\n", config.final_points);
  Bench final_bench(make_cells(surfaces, config.final_points, config.sigmas), config.threads, csv);
  table_rows(final_bench, ours.chosen, best);
  const double density =
      static_cast<double>(config.final_points) / static_cast<double>(config.sweep_points);
  const MethodSpec scaled = ours_scaled_to_density(ours.chosen, density);
  for (size_t c = 0; c < final_bench.cells().size(); ++c) {
    const Cell& cell = final_bench.cells()[c];
    final_bench.run(c, parse_method("jet:k=24"), "reference");
    const auto& names = config.density_check_meshes;
    if (cell.sigma == config.density_check_sigma &&
        std::find(names.begin(), names.end(), cell.surface->name) != names.end()) {
      final_bench.run(c, scaled, "density");
    }
  }
}

}  // namespace ici3d::bench
