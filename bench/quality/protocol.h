// The quality protocol: meshes normalised into the unit sphere, sampled with
// a fixed seed, Gaussian noise of a fraction of the radius; every method run
// on the same noisy clouds and scored against the clean samples and the mesh.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ici3d_shapes/mesh.h"
#include "mesh_distance.h"
#include "methods.h"
#include "selection.h"

namespace ici3d::bench {

struct Surface {
  std::string name;
  shapes::Mesh mesh;
  std::unique_ptr<MeshDistance> distance;
};

/// A mesh file "<dir>/<name>.off" or a synthetic shape, normalised.
std::unique_ptr<Surface> load_surface(const std::string& name, const std::string& mesh_dir);

struct Cell {
  const Surface* surface = nullptr;
  size_t points = 0;
  double sigma = 0;  // fraction of the bounding-sphere radius (= length units)
  std::vector<double> clean;
  std::vector<double> noisy;
  double true_spacing = 0;  // sqrt(area / points): the clean surface's spacing
};

/// The seeded clean samples and noisy cloud of one (surface, size, noise level).
Cell make_cell(const Surface& surface, size_t points, double sigma);

/// Chamfer and point-to-mesh error of a cloud, and the mean angle between its
/// PCA normals (k nearest) and the normal of the closest mesh triangle.
Scores score_cloud(const Cell& cell, const std::vector<double>& xyz, size_t normal_k = 12);

struct ProtocolConfig {
  std::string mesh_dir;
  std::vector<std::string> meshes;
  std::vector<double> sigmas;
  std::vector<size_t> sizes = {10000, 50000, 200000};
  /// Every peer setting, swept on the first size. Each later size sweeps, per
  /// family and noise level, the best setting of the size before and its
  /// neighbours in this list (the settings of a family in the order given).
  std::vector<MethodSpec> peer_sweep;
  /// Optional search of our own parameters on the first size (for choosing
  /// defaults); empty: ours runs with the pipeline's defaults only.
  std::vector<std::pair<std::string, std::vector<double>>> ours_grid;
  double time_budget = 2.0;
  int search_rounds = 2;
  int threads = 0;
  std::string csv_path;
  /// Only our noise and spacing estimates per cell (phase "estimate"), no denoising.
  bool estimates_only = false;
  /// Only the noisy input and ours per cell (phase "table"), no peers: for
  /// re-running ours after a change, beside an earlier run's peers.
  bool ours_only = false;
  /// A quality CSV of an earlier run: instead of sweeping, each peer runs the
  /// setting that run chose per size and noise level (its "table" rows),
  /// beside ours, so that times and memory are measured in one run.
  std::string tuned_from;
};

/// Runs the whole protocol and writes one CSV record per evaluation:
///   sweep  - peer settings tried on a size (and ours, when searched)
///   table  - per cell: the noisy input, ours with its defaults (its
///            estimates and choices in the extra columns, against the true
///            noise level and spacing), and each peer's best setting for that
///            size and noise level
///   search - the steps of the optional search of our parameters
/// Ours never sees the ground truth: it estimates noise and spacing itself.
void run_protocol(const ProtocolConfig& config);

}  // namespace ici3d::bench
