#pragma once
// Denoising a cloud one tile at a time: each library call gets a tile's own
// points and a halo around them, and the tile's points come out bit-identical
// to a pass over the whole cloud. denoise() tiles by itself when a cloud does
// not fit its memory limit; this header is for callers that hold the cloud in
// pieces (a cluster of workers, say) and build the regions themselves.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "ici3d_host/denoise.h"

namespace ici3d::host {

/// What a pass hands the library, the same for every tile of the pass.
struct PassSettings {
  std::array<double, 3> centre{};  // positions go to the library as float(p - centre)
  int32_t k = 0;                   // frame neighbours (at most the cloud's point count)
  int32_t list_cap = 0;
  float list_radius = 0;  // length units: candidates lie within this distance
  int32_t library_base = 1;
  float size_norm = 0;
  float preselect = 0;
  float scale_ratio = 0;
  int32_t num_scales = 0;
  int32_t parameter_set = 0;
  bool normals = false;  // also return the frame normals of the tile's points
};

/// The settings of one pass for options whose spacing and sigma are set
/// (> 0), over `points` finite points whose bounding-box centre is `centre`
/// (the centre of the positions at the start of this pass).
PassSettings pass_settings(const DenoiseOptions& options, const std::array<double, 3>& centre,
                           size_t points, bool normals = false);

/// The distance around a tile within which a region must hold every point of
/// the cloud: twice the list radius, and a little more for rounding.
double tile_halo(const PassSettings& settings, double cloud_extent);

/// The points one library call gets.
struct TileRegion {
  /// 3m positions, in the order the whole-cloud pass has them (see
  /// space_filling_order), and point 0 must be the cloud's first point in
  /// that order, whether or not it lies near the tile.
  std::vector<double> xyz;
  std::vector<float> noise;  // m noise levels at the start of the pass
  std::vector<char> core;    // m flags: the tile's own points, all inside the box
  std::array<double, 3> lo{}, hi{};  // the tile's box
  /// Every point of the cloud within this distance of the box is in the
  /// region (at least tile_halo(), or the results are not exact).
  double halo = 0;
  /// Optional m flags: points whose K nearest neighbours in the cloud are
  /// known to be in the region (as after a FarNeighboursError).
  std::vector<char> trusted;
  /// The cloud's largest extent (length units), for the rounding margins.
  double cloud_extent = 0;
};

/// The tile's own points, in region order.
struct TileOutcome {
  std::vector<size_t> points;   // region indices of the core points
  std::vector<double> xyz;      // 3 per core point: new positions
  std::vector<float> noise;     // new noise levels
  std::vector<char> kept;       // 1: left in place (no plane in its neighbourhood, or no result)
  std::vector<float> normals;   // 3 per core point when settings.normals
  int64_t capped_lists = 0;     // core points whose candidate list the cap may have cut
  int32_t longest_list = 0;
  size_t library_points = 0;    // points handed to the library (core, halo, first point)
};

/// Some points near the tile have frame neighbours farther away than the
/// halo reaches. `points` are their region indices; a region whose halo is
/// at least `needed_halo` holds them all (infinite when the region has fewer
/// points than a frame needs).
class FarNeighboursError : public DenoiseError {
 public:
  FarNeighboursError(std::vector<size_t> far_points, double halo)
      : DenoiseError("frame neighbours beyond the halo"), points(std::move(far_points)),
        needed_halo(halo) {}
  std::vector<size_t> points;
  double needed_halo;
};

/// Runs the library on a region and returns the results of its core points.
/// Throws FarNeighboursError (see above), DenoiseError for a region that
/// breaks the rules above (sizes, a core point outside the box). `progress`
/// receives the fraction of the call's points estimated.
TileOutcome denoise_tile(const TileRegion& region, const PassSettings& settings, int threads = 0,
                         const std::function<void(double)>& progress = {});

}  // namespace ici3d::host
