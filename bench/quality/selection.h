// Choosing settings from measured scores: the best setting of a peer per
// noise level, and a greedy one-parameter-at-a-time search of our own
// parameters under a time budget.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "methods.h"

namespace ici3d::bench {

struct Scores {
  double chamfer = 0;     // squared length units: to_clean + from_clean
  double p2m = 0;         // squared length units
  double normal_deg = 0;  // degrees
  double to_clean = 0;    // mean squared distance, output -> clean samples
  double from_clean = 0;  // mean squared distance, clean samples -> output
};

/// A method's errors relative to the noisy input of the same cloud, averaged
/// over Chamfer and point-to-mesh: 1 is no better than the input, 0 perfect.
double relative_score(const Scores& method, const Scores& noisy);

/// One evaluation of a setting on one cloud.
struct Trial {
  MethodSpec setting;
  double sigma = 0;
  double score = 0;  // relative_score
  double seconds = 0;
};

/// For each noise level, the setting of `family` with the lowest mean score over
/// the trials of that level (ties: the first tried).
std::map<double, MethodSpec> best_per_sigma(const std::vector<Trial>& trials,
                                            const std::string& family);

/// Per family and noise level, the peer settings that an earlier quality CSV
/// used in its "table" rows for clouds of `points` points (ours and the noisy
/// input left out). std::runtime_error when the file cannot be read, lacks a
/// column or holds no such rows.
std::map<std::string, std::map<double, MethodSpec>> tuned_peer_settings(const std::string& path,
                                                                         size_t points);

/// Mean score and time of one setting over the whole set.
struct Summary {
  double score = 0;
  double seconds = 0;      // wall clock
  double cpu_seconds = 0;  // decides the time budget: unlike wall time it
                           // hardly depends on what else runs on the machine
};
using Evaluator = std::function<Summary(const MethodSpec&)>;

struct SearchStep {
  MethodSpec setting;
  std::string parameter;
  double value = 0;
  Summary summary;
  bool within_budget = true;
};

struct SearchResult {
  MethodSpec chosen;
  Summary summary;
  Summary start;                  // of the starting setting
  std::vector<SearchStep> steps;  // every setting tried, in order
};

/// Starting from `start`, for each parameter in turn (in the given order)
/// tries each value with the others at their best so far and keeps the one
/// with the lowest score whose mean CPU time stays within `time_budget` times
/// the start's; the whole round is repeated up to `rounds` times, until no
/// parameter changes. Each distinct setting is evaluated once.
SearchResult greedy_search(const MethodSpec& start,
                           const std::vector<std::pair<std::string, std::vector<double>>>& grid,
                           const Evaluator& evaluate, double time_budget, int rounds = 2);

}  // namespace ici3d::bench
