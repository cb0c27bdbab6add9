// A pass tile by tile in one process: the cloud's points are grouped by grid
// cells, cubes of cells become tiles that fit the memory budget, and each
// tile's region (its cells and those within the halo) goes to denoise_tile,
// which explains why the results are exact.
#include "tiled_pass.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "ici3d.h"
#include "ici3d_host/denoise.h"
#include "ici3d_host/tiles.h"
#include "ici3d_host/neighbors.h"
#include "ici3d_host/points.h"
#include "../morton.h"
#include "../neighbors/point_index.h"

namespace ici3d::host::detail {
namespace {

using Cell = std::array<int64_t, 3>;
using detail::kCellsPerAxis;

uint64_t morton_code(const Cell& c) {
  return detail::morton_code(static_cast<uint64_t>(c[0]), static_cast<uint64_t>(c[1]),
                             static_cast<uint64_t>(c[2]));
}

Cell cell_of_code(uint64_t code) {
  return {static_cast<int64_t>(detail::compact_bits(code)),
          static_cast<int64_t>(detail::compact_bits(code >> 1)),
          static_cast<int64_t>(detail::compact_bits(code >> 2))};
}

// The points of the cloud grouped by the grid cell they lie in, cells in
// Morton order, so that every aligned cube of 2^l cells is one range.
class CellIndex {
 public:
  // `origin`: the low corner of the points' bounding box.
  CellIndex(const std::vector<double>& xyz, const std::array<double, 3>& origin, double cell)
      : cell_(cell), origin_(origin) {
    const size_t n = xyz.size() / 3;
    if (n > std::numeric_limits<uint32_t>::max()) {
      throw DenoiseError("too many points for the tiled pass: " + std::to_string(n));
    }
    std::vector<std::pair<uint64_t, uint32_t>> keyed(n);
    for (size_t i = 0; i < n; ++i) {
      const Cell c = cell_at(&xyz[3 * i]);
      keyed[i] = {morton_code(c), static_cast<uint32_t>(i)};
      for (int a = 0; a < 3; ++a) extent_ = std::max(extent_, c[a] + 1);
    }
    std::sort(keyed.begin(), keyed.end());
    points_.resize(n);
    for (size_t s = 0; s < n; ++s) {
      points_[s] = keyed[s].second;
      if (s == 0 || keyed[s].first != keyed[s - 1].first) {
        codes_.push_back(keyed[s].first);
        starts_.push_back(static_cast<int64_t>(s));
      }
    }
    starts_.push_back(static_cast<int64_t>(n));
  }

  double cell() const { return cell_; }
  int64_t extent() const { return extent_; }  // cells per axis in use
  const std::array<double, 3>& origin() const { return origin_; }

  Cell cell_at(const double* p) const {
    Cell c;
    for (int a = 0; a < 3; ++a) {
      const double f = std::floor((p[a] - origin_[a]) / cell_);
      c[a] = static_cast<int64_t>(std::clamp(f, 0.0, static_cast<double>(kCellsPerAxis - 1)));
    }
    return c;
  }

  // Points of the aligned cube of 2^level cells per side with this prefix.
  std::pair<int64_t, int64_t> block(uint64_t prefix, int level) const {
    const uint64_t lo = prefix << (3 * level);
    const uint64_t hi = lo + (uint64_t{1} << (3 * level));
    const auto first = std::lower_bound(codes_.begin(), codes_.end(), lo);
    const auto last = std::lower_bound(first, codes_.end(), hi);
    return {starts_[static_cast<size_t>(first - codes_.begin())],
            starts_[static_cast<size_t>(last - codes_.begin())]};
  }
  // Points of block (bx, by, bz) of the level's grid; empty outside the grid.
  std::pair<int64_t, int64_t> block_at(const Cell& b, int level) const {
    const int64_t blocks = kCellsPerAxis >> level;
    for (int64_t v : b) {
      if (v < 0 || v >= blocks) return {0, 0};
    }
    return block(morton_code(b), level);
  }
  uint32_t point(int64_t slot) const { return points_[static_cast<size_t>(slot)]; }

 private:
  double cell_;
  std::array<double, 3> origin_{};
  int64_t extent_ = 1;
  std::vector<uint64_t> codes_;
  std::vector<int64_t> starts_;
  std::vector<uint32_t> points_;
};

struct Tile {
  uint64_t prefix;
  int level;
};

// Calls visit(first, last) with the point range of every block of the
// level's grid in the cube of `side` blocks from `base`, widened by `ring`
// blocks on every side.
template <typename Visit>
void for_each_block_around(const CellIndex& cells, const Cell& base, int64_t side, int64_t ring,
                           int level, Visit visit) {
  Cell b;
  for (b[0] = base[0] - ring; b[0] < base[0] + side + ring; ++b[0]) {
    for (b[1] = base[1] - ring; b[1] < base[1] + side + ring; ++b[1]) {
      for (b[2] = base[2] - ring; b[2] < base[2] + side + ring; ++b[2]) {
        const auto range = cells.block_at(b, level);
        visit(range.first, range.second);
      }
    }
  }
}

// What is fixed for a pass: the grid, the halo and the settings.
struct PassLayout {
  const std::vector<double>& xyz;
  const std::vector<float>& noise;
  const PassSettings& settings;
  const CellIndex& cells;
  double extent;      // the cloud's largest extent
  double slack;       // covers float rounding of positions and box edges
  int64_t halo_cells;   // cells beyond the tile that its call reads
  double halo;          // the distance beyond the tile that those cells cover for sure
};

// Splits the grid into tiles that fit the budget (points per call).
class TilePlanner {
 public:
  TilePlanner(const PassLayout& layout, size_t max_points, double tile_size)
      : layout_(layout), max_points_(max_points), tile_size_(tile_size) {
    top_ = 0;
    while ((int64_t{1} << top_) < layout.cells.extent()) ++top_;
  }

  std::vector<Tile> plan() {
    split(0, top_);
    return tiles_;
  }
  size_t smallest_failing() const { return failing_points_; }

 private:
  // Points within the halo of a block, counted over blocks of a level no
  // coarser than the halo: an upper bound of the call's size.
  size_t region_bound(uint64_t prefix, int level) const {
    const CellIndex& cells = layout_.cells;
    // Exactly the cells the tile's region gathers, where they are not too
    // many to visit; otherwise blocks of the coarsest level no wider than the
    // halo, one ring more than it needs.
    int g = 0;
    int64_t ring = layout_.halo_cells;
    if (std::pow(static_cast<double>((int64_t{1} << level) + 2 * ring), 3) > 2e6) {
      g = level;
      while (g > 0 && (cells.cell() * static_cast<double>(int64_t{1} << (g - 1))) >= layout_.halo) --g;
      const double side = cells.cell() * static_cast<double>(int64_t{1} << g);
      ring = static_cast<int64_t>(std::ceil(layout_.halo / side)) + 1;
      if (std::pow(static_cast<double>((int64_t{1} << (level - g)) + 2 * ring), 3) > 4e6) {
        return std::numeric_limits<size_t>::max();
      }
    }
    size_t total = 1;  // the cloud's first point joins every call
    for_each_block_around(cells, cell_of_code(prefix << (3 * (level - g))), int64_t{1} << (level - g),
                          ring, g, [&](int64_t first, int64_t last) {
                            total += static_cast<size_t>(last - first);
                          });
    return total;
  }

  void split(uint64_t prefix, int level) {
    const auto own = layout_.cells.block(prefix, level);
    if (own.first == own.second) return;
    const bool small_enough =
        tile_size_ <= 0 ||
        layout_.cells.cell() * static_cast<double>(int64_t{1} << level) <= tile_size_;
    const size_t own_points = static_cast<size_t>(own.second - own.first);
    // A cube whose own points exceed the budget is split without counting its
    // halo; a single cell is always counted, to say what it needs.
    const size_t bound = own_points <= max_points_ || level == 0
                             ? region_bound(prefix, level)
                             : std::numeric_limits<size_t>::max();
    const bool fits = bound <= max_points_;
    if ((fits && small_enough) || level == 0) {
      if (!fits) failing_points_ = std::max(failing_points_, bound);
      tiles_.push_back({prefix, level});
      return;
    }
    for (uint64_t child = 0; child < 8; ++child) split(prefix * 8 + child, level - 1);
  }

  const PassLayout& layout_;
  size_t max_points_;
  double tile_size_;
  int top_ = 0;
  std::vector<Tile> tiles_;
  size_t failing_points_ = 0;
};

// The K nearest points of the whole cloud to point `ordinal` (itself
// excluded), searched over growing shells of cells; by (squared distance of
// the float positions, ordinal), as the frame rows are.
std::vector<uint32_t> nearest_in_cloud(const PassLayout& layout, uint32_t ordinal, int32_t count) {
  const CellIndex& cells = layout.cells;
  const std::array<double, 3>& centre = layout.settings.centre;
  auto floats = [&](uint32_t i) {
    return std::array<float, 3>{static_cast<float>(layout.xyz[3 * size_t{i}] - centre[0]),
                                static_cast<float>(layout.xyz[3 * size_t{i} + 1] - centre[1]),
                                static_cast<float>(layout.xyz[3 * size_t{i} + 2] - centre[2])};
  };
  const std::array<float, 3> p = floats(ordinal);
  const Cell home = cells.cell_at(&layout.xyz[3 * size_t{ordinal}]);
  std::vector<Neighbor> best;  // kept sorted, at most `count`
  for (int64_t r = 0;; ++r) {
    Cell c;
    for (c[0] = home[0] - r; c[0] <= home[0] + r; ++c[0]) {
      for (c[1] = home[1] - r; c[1] <= home[1] + r; ++c[1]) {
        for (c[2] = home[2] - r; c[2] <= home[2] + r; ++c[2]) {
          const int64_t ring = std::max({std::abs(c[0] - home[0]), std::abs(c[1] - home[1]),
                                         std::abs(c[2] - home[2])});
          if (ring != r) continue;
          const auto range = cells.block_at(c, 0);
          for (int64_t s = range.first; s < range.second; ++s) {
            const uint32_t j = cells.point(s);
            if (j == ordinal) continue;
            const std::array<float, 3> q = floats(j);
            const Neighbor nb{squared_distance(p.data(), q.data()), j};
            if (best.size() == static_cast<size_t>(count) && !Closer{}(nb, best.back())) continue;
            best.insert(std::upper_bound(best.begin(), best.end(), nb, Closer{}), nb);
            if (best.size() > static_cast<size_t>(count)) best.pop_back();
          }
        }
      }
    }
    const bool covered_grid = r >= cells.extent();
    // Cells of the next shell lie at least r cells away.
    const double reach = static_cast<double>(r) * cells.cell() - layout.slack;
    if (covered_grid ||
        (best.size() == static_cast<size_t>(count) && std::sqrt(best.back().sq_dist) < reach)) {
      break;
    }
  }
  std::vector<uint32_t> out;
  for (const Neighbor& nb : best) out.push_back(static_cast<uint32_t>(nb.index));
  return out;
}

// The ordinals of a tile's points, of the points in the cells within the
// halo around it, and of the cloud's first point, in the cloud's order.
std::vector<uint32_t> region_ordinals(const PassLayout& layout, const Tile& tile) {
  const CellIndex& cells = layout.cells;
  std::vector<uint32_t> ordinals{0};
  for_each_block_around(cells, cell_of_code(tile.prefix << (3 * tile.level)),
                        int64_t{1} << tile.level, layout.halo_cells, 0,
                        [&](int64_t first, int64_t last) {
                          for (int64_t s = first; s < last; ++s) ordinals.push_back(cells.point(s));
                        });
  std::sort(ordinals.begin(), ordinals.end());
  ordinals.erase(std::unique(ordinals.begin(), ordinals.end()), ordinals.end());
  return ordinals;
}

TileRegion make_region(const PassLayout& layout, const Tile& tile,
                       const std::vector<uint32_t>& ordinals) {
  const CellIndex& cells = layout.cells;
  const Cell base = cell_of_code(tile.prefix << (3 * tile.level));
  const int64_t side = int64_t{1} << tile.level;
  TileRegion r;
  for (int a = 0; a < 3; ++a) {
    r.lo[a] = cells.origin()[a] + static_cast<double>(base[a]) * cells.cell() - layout.slack;
    r.hi[a] = cells.origin()[a] + static_cast<double>(base[a] + side) * cells.cell() + layout.slack;
  }
  r.halo = layout.halo;
  r.cloud_extent = layout.extent;
  const uint64_t lo = tile.prefix << (3 * tile.level), hi = lo + (uint64_t{1} << (3 * tile.level));
  r.xyz.reserve(3 * ordinals.size());
  for (uint32_t o : ordinals) {
    const double* p = &layout.xyz[3 * size_t{o}];
    r.xyz.insert(r.xyz.end(), p, p + 3);
    r.noise.push_back(layout.noise[o]);
    const uint64_t code = morton_code(cells.cell_at(p));
    r.core.push_back(code >= lo && code < hi);
  }
  return r;
}

// Runs one tile; rows that reach beyond the halo get their neighbours from
// the whole cloud, which then join the region.
TileOutcome run_tile(const PassLayout& layout, const Tile& tile, int threads,
                     const std::function<void(double)>& progress, std::vector<uint32_t>& ordinals) {
  ordinals = region_ordinals(layout, tile);
  TileRegion region = make_region(layout, tile, ordinals);
  try {
    return denoise_tile(region, layout.settings, threads, progress);
  } catch (const FarNeighboursError& far) {
    std::vector<uint32_t> trusted;
    for (size_t l : far.points) {
      trusted.push_back(ordinals[l]);
      for (uint32_t j : nearest_in_cloud(layout, ordinals[l], layout.settings.k - 1)) {
        ordinals.push_back(j);
      }
    }
    std::sort(ordinals.begin(), ordinals.end());
    ordinals.erase(std::unique(ordinals.begin(), ordinals.end()), ordinals.end());
    region = make_region(layout, tile, ordinals);
    region.trusted.assign(ordinals.size(), 0);
    for (uint32_t o : trusted) {
      region.trusted[static_cast<size_t>(
          std::lower_bound(ordinals.begin(), ordinals.end(), o) - ordinals.begin())] = 1;
    }
    return denoise_tile(region, layout.settings, threads, progress);
  }
}

}  // namespace

size_t bytes_per_tile_point(int32_t k, int32_t list_cap) {
  const size_t cap = static_cast<size_t>(list_cap), rows = static_cast<size_t>(k);
  // Library: the marks of the kept windows (half a byte per list entry,
  // counted as one), frames and about 70 four-byte working values. Lists: as
  // found and renumbered for the library, and a third share kept for the
  // blocks of lists in flight while they are built; the same for the frame
  // rows (twice). The region's positions, floats, noise levels, flags and
  // index maps, and the k-d tree of the searches.
  return cap + 340 + 12 * cap + 8 * rows + 24 + 12 + 12 + 8 + 4 + 4 + 16 + 64;
}

size_t bytes_per_cloud_point_tiled() {
  // New positions, noise levels and flags; the cell index's ordinal. (Its
  // sort keys live only while it is built, before any tile runs.)
  return 24 + 4 + 1 + 4;
}

void run_tiled_pass(const std::vector<double>& positions, const std::vector<float>& noise,
                    const PassSettings& settings, const TilePlanRequest& request, int threads,
                    const TileProgress& progress, PassOutputs& outputs, TileStats& stats) {
  const size_t n = positions.size() / 3;
  outputs.xyz = positions;
  outputs.noise = noise;
  outputs.kept.assign(n, 0);
  if (settings.normals) outputs.normals.assign(3 * n, 0.0f);
  if (n == 0) return;
  const BoundingBox box = bounding_box(positions);
  const double extent = box.extent();
  const double slack = rounding_slack(extent);
  const double wanted_halo = tile_halo(settings, extent);
  // Cells half as wide as the halo (at most 2^21 across the cloud), so that
  // two rings of cells hold it. The slack covers a point's cell rounding
  // across a cell edge and the tile's box being widened by it.
  const double cell = std::max(
      {(wanted_halo + 3 * slack) / 2, extent / static_cast<double>(kCellsPerAxis - 2), 1e-30});
  const CellIndex cells(positions, box.lo, cell);
  const int64_t halo_cells = static_cast<int64_t>(std::ceil((wanted_halo + 2 * slack) / cell));
  const PassLayout layout{positions, noise,      settings, cells, extent,
                          slack,     halo_cells, static_cast<double>(halo_cells) * cell - 2 * slack};
  stats.halo_width = layout.halo;

  const size_t per_point = bytes_per_tile_point(settings.k, settings.list_cap);
  TilePlanner planner(layout, std::max<size_t>(request.tile_budget / per_point, 1),
                      request.tile_size);
  const std::vector<Tile> tiles = planner.plan();
  if (planner.smallest_failing() > 0) {
    throw TileBudgetError(planner.smallest_failing() * per_point);
  }
  size_t done = 0;
  std::vector<uint32_t> ordinals;
  for (const Tile& tile : tiles) {
    const auto own = cells.block(tile.prefix, tile.level);
    const size_t core = static_cast<size_t>(own.second - own.first);
    const std::function<void(double)> tile_progress = [&](double f) {
      progress((static_cast<double>(done) + f * static_cast<double>(core)) / static_cast<double>(n));
    };
    const TileOutcome outcome = run_tile(layout, tile, threads,
                                         progress ? tile_progress : std::function<void(double)>{},
                                         ordinals);
    for (size_t c = 0; c < outcome.points.size(); ++c) {
      const size_t g = ordinals[outcome.points[c]];
      for (int a = 0; a < 3; ++a) outputs.xyz[3 * g + a] = outcome.xyz[3 * c + a];
      outputs.noise[g] = outcome.noise[c];
      outputs.kept[g] = outcome.kept[c];
      if (settings.normals) {
        for (int a = 0; a < 3; ++a) outputs.normals[3 * g + a] = outcome.normals[3 * c + a];
      }
    }
    outputs.capped_lists += outcome.capped_lists;
    outputs.longest_list = std::max(outputs.longest_list, outcome.longest_list);
    done += core;
    ++stats.tiles;
    stats.core_points += core;
    stats.region_points += outcome.library_points;
  }
  if (progress) progress(1.0);
}

}  // namespace ici3d::host::detail
