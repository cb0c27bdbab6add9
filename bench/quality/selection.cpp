#include "selection.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <stdexcept>

namespace ici3d::bench {

namespace {

double ratio(double value, double reference) {
  return reference > 0 ? value / reference : (value > 0 ? std::numeric_limits<double>::infinity() : 0);
}

// One record of a quality CSV (ours or report.py's): fields split at commas outside
// double quotes, quotes removed.
std::vector<std::string> csv_fields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (char ch : line) {
    if (ch == '"') quoted = !quoted;
    else if (ch == ',' && !quoted) fields.emplace_back();
    else fields.back() += ch;
  }
  return fields;
}

}  // namespace

double relative_score(const Scores& method, const Scores& noisy) {
  return 0.5 * (ratio(method.chamfer, noisy.chamfer) + ratio(method.p2m, noisy.p2m));
}

std::map<double, MethodSpec> best_per_sigma(const std::vector<Trial>& trials,
                                            const std::string& family) {
  // sigma -> setting text -> (sum, count), and the first setting seen per text.
  std::map<double, std::vector<std::pair<std::string, std::pair<double, int>>>> sums;
  std::map<std::string, MethodSpec> settings;
  for (const Trial& t : trials) {
    if (t.setting.family != family) continue;
    const std::string key = t.setting.text();
    settings.emplace(key, t.setting);
    auto& level = sums[t.sigma];
    auto it = level.begin();
    while (it != level.end() && it->first != key) ++it;
    if (it == level.end()) it = level.insert(level.end(), {key, {0.0, 0}});
    it->second.first += t.score;
    it->second.second += 1;
  }
  std::map<double, MethodSpec> best;
  for (const auto& [sigma, level] : sums) {
    double lowest = std::numeric_limits<double>::infinity();
    for (const auto& [key, acc] : level) {
      const double mean = acc.first / acc.second;
      if (mean < lowest) {
        lowest = mean;
        best.insert_or_assign(sigma, settings.at(key));
      }
    }
  }
  return best;
}

SearchResult greedy_search(const MethodSpec& start,
                           const std::vector<std::pair<std::string, std::vector<double>>>& grid,
                           const Evaluator& evaluate, double time_budget, int rounds) {
  std::map<std::string, Summary> seen;
  auto summary_of = [&](const MethodSpec& setting) {
    const std::string key = setting.text();
    auto it = seen.find(key);
    if (it == seen.end()) it = seen.emplace(key, evaluate(setting)).first;
    return it->second;
  };
  SearchResult result;
  result.chosen = start;
  result.summary = summary_of(start);
  result.start = result.summary;
  const double limit = time_budget * result.summary.cpu_seconds;
  for (int round = 0; round < rounds; ++round) {
    const std::string before = result.chosen.text();
    for (const auto& [parameter, values] : grid) {
      MethodSpec best = result.chosen;
      Summary best_summary = result.summary;
      for (double value : values) {
        const MethodSpec candidate = result.chosen.with(parameter, value);
        if (round > 0 && seen.count(candidate.text())) continue;
        const Summary s = summary_of(candidate);
        const bool within = s.cpu_seconds <= limit;
        result.steps.push_back({candidate, parameter, value, s, within});
        if (within && s.score < best_summary.score) {
          best = candidate;
          best_summary = s;
        }
      }
      result.chosen = best;
      result.summary = best_summary;
    }
    if (result.chosen.text() == before) break;
  }
  return result;
}

std::map<std::string, std::map<double, MethodSpec>> tuned_peer_settings(const std::string& path,
                                                                         size_t points) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::string line;
  std::getline(in, line);
  const std::vector<std::string> header = csv_fields(line);
  auto column = [&](const std::string& name) {
    const auto it = std::find(header.begin(), header.end(), name);
    if (it == header.end()) throw std::runtime_error(path + " has no column " + name);
    return static_cast<size_t>(it - header.begin());
  };
  const size_t phase = column("phase"), size = column("points"), sigma = column("sigma"),
               method = column("method"), setting = column("setting");
  std::map<std::string, std::map<double, MethodSpec>> best;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = csv_fields(line);
    if (f.size() < header.size() || f[phase] != "table" || f[method] == "ours" ||
        f[method] == "noisy" || std::stoull(f[size]) != points) {
      continue;
    }
    best[f[method]].insert_or_assign(std::stod(f[sigma]), parse_method(f[setting]));
  }
  if (best.empty()) {
    throw std::runtime_error(path + " has no peer table rows for " + std::to_string(points) + " points");
  }
  return best;
}

}  // namespace ici3d::bench
