// One denoising pass run tile by tile, each tile with a halo wide enough that
// its own points come out bit-identical to a pass over the whole cloud.
// Internal to the host library: denoise_positions uses it when the whole
// cloud would not fit the memory limit in one library call.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "ici3d_host/denoise.h"
#include "ici3d_host/tiles.h"

namespace ici3d::host::detail {

// The outcome of a pass for every point of the cloud (its order).
struct PassOutputs {
  std::vector<double> xyz;        // 3n: new positions
  std::vector<float> noise;       // n: new noise levels
  std::vector<char> kept;         // n: left in place
  std::vector<float> normals;     // 3n when asked for
  int64_t capped_lists = 0;
  int32_t longest_list = 0;
};

struct TileStats {
  size_t tiles = 0;
  double halo_width = 0;       // length units: how far beyond its tile a run reads
  size_t core_points = 0;      // sum over the tiles of their own points
  size_t region_points = 0;    // sum over the tiles of all points handed to the library
};

// Distance that covers the float rounding of positions (recentred around
// the cloud's centre) and of tile boxes, for a cloud of this largest extent.
double rounding_slack(double cloud_extent);

// Whether a point stays where it was after a library call, its noise level
// unchanged: its frame neighbourhood has no plane (`degenerate`), or the
// library gave no finite position (`out`, 3 floats) or noise level.
inline bool stays_in_place(const float* out, float noise, bool degenerate) {
  const bool finite = std::isfinite(out[0]) && std::isfinite(out[1]) && std::isfinite(out[2]) &&
                      std::isfinite(noise);
  return degenerate || !finite;
}

// Memory a tile's run needs per point handed to the library (bytes): the
// library's working arrays (its kept windows, at most a list per point), the
// candidate lists while they are built and once built, the frame table and
// the tile's own copies.
size_t bytes_per_tile_point(int32_t k, int32_t list_cap);
// Memory the tiled pass keeps per point of the cloud besides the positions
// the caller holds (outputs, noise levels, cell index).
size_t bytes_per_cloud_point_tiled();

// Tiles are cubes of a grid whose cells are at least `list_radius` wide, split
// until each tile's run fits `tile_budget` bytes and, when tile_size > 0, its
// side is at most tile_size (length units). Throws DenoiseError naming the
// smallest budget that works when not even one cell with its halo fits.
struct TilePlanRequest {
  size_t tile_budget = 0;
  double tile_size = 0;
};

// Thrown when not even the smallest tile with its halo fits the budget.
class TileBudgetError : public DenoiseError {
 public:
  explicit TileBudgetError(size_t needed)
      : DenoiseError("too little memory for one tile with its halo"), needed_bytes(needed) {}
  size_t needed_bytes;  // what the largest of the smallest tiles needs
};

using TileProgress = std::function<void(double fraction)>;

// Runs the pass over `positions` (3n doubles, all finite) with per-point
// noise levels `noise` (n). `threads` as for the library (<= 0: default).
void run_tiled_pass(const std::vector<double>& positions, const std::vector<float>& noise,
                    const PassSettings& settings, const TilePlanRequest& plan, int threads,
                    const TileProgress& progress, PassOutputs& outputs, TileStats& stats);

}  // namespace ici3d::host::detail
