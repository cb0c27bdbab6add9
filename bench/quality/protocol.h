// The quality protocol: meshes normalised into the unit sphere, sampled with
// a fixed seed, Gaussian noise of a fraction of the radius; every method run
// on the same noisy clouds and scored against the clean samples and the mesh.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mesh_distance.h"
#include "methods.h"
#include "selection.h"
#include "shapes.h"

namespace ici3d::bench {

struct Surface {
  std::string name;
  Mesh mesh;
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
  size_t sweep_points = 10000;
  size_t final_points = 50000;  // 0: no final run
  std::vector<MethodSpec> peer_sweep;
  std::vector<std::pair<std::string, std::vector<double>>> ours_grid;
  double time_budget = 2.0;
  int search_rounds = 2;
  // Final clouds on which our setting also runs with windows scaled to the
  // density (ours_scaled_to_density), at one noise level.
  std::vector<std::string> density_check_meshes;
  double density_check_sigma = 0.02;
  int threads = 0;
  std::string csv_path;
};

/// Runs the whole protocol and writes one CSV record per evaluation:
///   sweep  - every peer setting and every setting of ours on the sweep clouds
///   table  - the chosen settings (peers best per noise level, ours one
///            setting for all) on the sweep clouds, then on the final clouds
///   search - the steps of the search of our parameters (mean over clouds)
///   reference - CGAL jet smoothing with k = 24 on the final clouds
///   density   - our setting scaled to the final density (density check)
/// Every method keeps its setting in its own units on the final clouds: k for
/// CGAL, the radius for MLS, spacings and list lengths for ours.
void run_protocol(const ProtocolConfig& config);

}  // namespace ici3d::bench
