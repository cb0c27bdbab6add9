// A pass tile by tile. Each library call gets one tile's own points and a
// halo, and the results of the tile's own points are kept. They are
// bit-identical to a pass over the whole cloud because the call sees, for each
// of them, exactly what the whole-cloud call would see:
//
//  * Point j's result sums the planes of every point i whose accepted window
//    holds j, in increasing order of i. Windows are cut from candidate lists,
//    which lie within the list radius R of their point, so every such i lies
//    within R of the tile. All points within R of the tile (the "active"
//    points) get their exact frame rows and candidate lists; every other point
//    of the call gets a list of just itself, so it sends planes to nobody else.
//  * An active point's list and frame row need every point within R of it,
//    and within its K-th neighbour's distance. The halo therefore holds every
//    point within M >= 2R of the tile, and each active row is checked: a row
//    whose K-th neighbour lies farther than the halo reaches is searched again
//    over the whole cloud, and the neighbours found join the call.
//  * The points of a call keep the cloud's relative order, so ties between
//    equal distances, and the order in which planes are summed, are the
//    cloud's. Point 0 of the cloud always joins the call (as its first point):
//    the library takes the noise update's reference level from its input's
//    first point.
//  * The positions are converted to float around the cloud's own centre.
#include "tiled_pass.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "ici3d.h"
#include "ici3d_host/denoise.h"
#include "ici3d_host/neighbors.h"
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
  CellIndex(const std::vector<double>& xyz, double cell) : cell_(cell) {
    const size_t n = xyz.size() / 3;
    if (n > std::numeric_limits<uint32_t>::max()) {
      throw DenoiseError("too many points for the tiled pass: " + std::to_string(n));
    }
    origin_ = {xyz[0], xyz[1], xyz[2]};
    for (size_t i = 0; i < n; ++i) {
      for (int c = 0; c < 3; ++c) origin_[c] = std::min(origin_[c], xyz[3 * i + c]);
    }
    std::vector<std::pair<uint64_t, uint32_t>> keyed(n);
    for (size_t i = 0; i < n; ++i) {
      keyed[i] = {morton_code(cell_at(&xyz[3 * i])), static_cast<uint32_t>(i)};
      for (int c = 0; c < 3; ++c) extent_ = std::max(extent_, cell_at(&xyz[3 * i])[c] + 1);
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

double squared_distance_to_box(const double* p, const std::array<double, 3>& lo,
                               const std::array<double, 3>& hi) {
  double d2 = 0;
  for (int a = 0; a < 3; ++a) {
    const double d = p[a] < lo[a] ? lo[a] - p[a] : (p[a] > hi[a] ? p[a] - hi[a] : 0.0);
    d2 += d * d;
  }
  return d2;
}

// What is fixed for a pass: the grid, the halo and the settings.
struct PassLayout {
  const std::vector<double>& xyz;
  const std::vector<float>& noise;
  const PassSettings& settings;
  const CellIndex& cells;
  double slack;       // covers float rounding of positions and box edges
  double active_reach;  // R, widened by the slack
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
    int g = level;
    while (g > 0 && (cells.cell() * static_cast<double>(int64_t{1} << (g - 1))) >= layout_.halo) --g;
    const double side = cells.cell() * static_cast<double>(int64_t{1} << g);
    const int64_t ring = static_cast<int64_t>(std::ceil(layout_.halo / side)) + 1;
    const int64_t per_side = int64_t{1} << (level - g);
    const double lookups = std::pow(static_cast<double>(per_side + 2 * ring), 3);
    if (lookups > 4e6) return std::numeric_limits<size_t>::max();
    const Cell base = cell_of_code(prefix << (3 * (level - g)));
    size_t total = 0;
    Cell b;
    for (b[0] = base[0] - ring; b[0] < base[0] + per_side + ring; ++b[0]) {
      for (b[1] = base[1] - ring; b[1] < base[1] + per_side + ring; ++b[1]) {
        for (b[2] = base[2] - ring; b[2] < base[2] + per_side + ring; ++b[2]) {
          const auto r = cells.block_at(b, g);
          total += static_cast<size_t>(r.second - r.first);
        }
      }
    }
    return total + 1;  // the cloud's first point joins every call
  }

  void split(uint64_t prefix, int level) {
    const auto own = layout_.cells.block(prefix, level);
    if (own.first == own.second) return;
    const bool small_enough =
        tile_size_ <= 0 ||
        layout_.cells.cell() * static_cast<double>(int64_t{1} << level) <= tile_size_;
    const size_t own_points = static_cast<size_t>(own.second - own.first);
    const size_t bound = own_points <= max_points_ ? region_bound(prefix, level)
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

// One library call: the tile's points, its halo and the cloud's first point.
class TileRun {
 public:
  TileRun(const PassLayout& layout, const Tile& tile, int threads)
      : layout_(layout), threads_(threads) {
    const CellIndex& cells = layout.cells;
    const Cell base = cell_of_code(tile.prefix << (3 * tile.level));
    const int64_t side = int64_t{1} << tile.level;
    for (int a = 0; a < 3; ++a) {
      lo_[a] = cells.origin()[a] + static_cast<double>(base[a]) * cells.cell() - layout.slack;
      hi_[a] = cells.origin()[a] + static_cast<double>(base[a] + side) * cells.cell() + layout.slack;
    }
    const auto own = cells.block(tile.prefix, tile.level);
    for (int64_t s = own.first; s < own.second; ++s) ordinals_.push_back(cells.point(s));
    core_count_ = ordinals_.size();
    gather_halo(base, side);
    ordinals_.push_back(0);
    std::sort(ordinals_.begin(), ordinals_.end());
    ordinals_.erase(std::unique(ordinals_.begin(), ordinals_.end()), ordinals_.end());
    is_core_.assign(ordinals_.size(), 0);
    for (int64_t s = own.first; s < own.second; ++s) is_core_[local_of(cells.point(s))] = 1;
  }

  size_t core_count() const { return core_count_; }
  size_t size() const { return ordinals_.size(); }

  void run(const TileProgress& progress, PassOutputs& outputs, TileStats& stats) {
    build_neighbourhoods(stats);
    const PassSettings& s = layout_.settings;
    const int32_t m = static_cast<int32_t>(ordinals_.size());
    std::vector<float> noise(ordinals_.size());
    for (size_t l = 0; l < ordinals_.size(); ++l) noise[l] = layout_.noise[ordinals_[l]];
    std::vector<float> out(points_.size());
    struct Relay {
      const TileProgress& progress;
      static void from_library(int64_t done, int64_t total, void* user) {
        static_cast<Relay*>(user)->progress(static_cast<double>(done) / static_cast<double>(total));
      }
    } relay{progress};
    ici3d_denoise_with_progress(points_.data(), m, noise.data(), s.library_base, s.num_scales,
                                lists_.pointers.data(), s.size_norm, s.preselect, s.scale_ratio,
                                lists_.counts.data(), lists_.longest, s.parameter_set,
                                knn_.indices.data(), knn_.k, out.data(),
                                progress ? Relay::from_library : nullptr, &relay);
    keep_core_results(out, noise, outputs);
  }

 private:
  size_t local_of(uint32_t ordinal) const {
    return static_cast<size_t>(std::lower_bound(ordinals_.begin(), ordinals_.end(), ordinal) -
                               ordinals_.begin());
  }

  // Every point of the cells within the halo around the tile's cube.
  void gather_halo(const Cell& base, int64_t side) {
    const CellIndex& cells = layout_.cells;
    const int64_t h = layout_.halo_cells;
    Cell c;
    for (c[0] = base[0] - h; c[0] < base[0] + side + h; ++c[0]) {
      for (c[1] = base[1] - h; c[1] < base[1] + side + h; ++c[1]) {
        for (c[2] = base[2] - h; c[2] < base[2] + side + h; ++c[2]) {
          bool inside = true;
          for (int a = 0; a < 3; ++a) inside = inside && c[a] >= base[a] && c[a] < base[a] + side;
          if (inside) continue;
          const auto range = cells.block_at(c, 0);
          for (int64_t s = range.first; s < range.second; ++s) ordinals_.push_back(cells.point(s));
        }
      }
    }
  }

  const double* position(size_t l) const { return &layout_.xyz[3 * size_t{ordinals_[l]}]; }

  void build_neighbourhoods(TileStats& stats) {
    const PassSettings& s = layout_.settings;
    for (int round = 0;; ++round) {
      const int32_t m = static_cast<int32_t>(ordinals_.size());
      points_.resize(3 * ordinals_.size());
      active_.assign(ordinals_.size(), 0);
      for (size_t l = 0; l < ordinals_.size(); ++l) {
        for (int c = 0; c < 3; ++c) {
          points_[3 * l + c] = static_cast<float>(position(l)[c] - s.centre[c]);
        }
        const double d2 = squared_distance_to_box(position(l), lo_, hi_);
        active_[l] = d2 <= layout_.active_reach * layout_.active_reach;
      }
      knn_ = knn_table(points_.data(), m, s.k, threads_, active_.data());
      // Once the far neighbours have joined, every row is exact: the points
      // that joined lie beyond the halo, so no row that was sure can change.
      if (round > 0) break;
      const std::vector<uint32_t> far = far_neighbours();
      if (far.empty()) break;
      stats.far_neighbour_points += far.size();
      ordinals_.insert(ordinals_.end(), far.begin(), far.end());
      std::vector<uint32_t> core_ordinals;
      for (size_t l = 0; l < is_core_.size(); ++l) {
        if (is_core_[l]) core_ordinals.push_back(ordinals_[l]);
      }
      std::sort(ordinals_.begin(), ordinals_.end());
      ordinals_.erase(std::unique(ordinals_.begin(), ordinals_.end()), ordinals_.end());
      is_core_.assign(ordinals_.size(), 0);
      for (uint32_t o : core_ordinals) is_core_[local_of(o)] = 1;
    }
    lists_ = candidate_lists(points_.data(), static_cast<int32_t>(ordinals_.size()), s.list_radius,
                             s.list_cap, threads_, active_.data());
  }

  // The neighbours, over the whole cloud, of every active point whose frame
  // row may reach beyond the halo, where they are not in the call yet.
  std::vector<uint32_t> far_neighbours() const {
    const int32_t k = knn_.k;
    std::vector<uint32_t> missing;
    if (k <= 1) return missing;
    for (size_t l = 0; l < ordinals_.size(); ++l) {
      if (!active_[l]) continue;
      const int32_t* row = &knn_.indices[l * static_cast<size_t>(k)];
      const size_t last = static_cast<size_t>(row[k - 1]);
      bool sure = last != l;
      if (sure) {
        const double reach = std::sqrt(squared_distance(&points_[3 * l], &points_[3 * last]));
        const double room =
            layout_.halo - std::sqrt(squared_distance_to_box(position(l), lo_, hi_));
        sure = reach + layout_.slack <= room;
      }
      if (sure) continue;
      for (uint32_t j : nearest_in_cloud(layout_, ordinals_[l], k - 1)) missing.push_back(j);
    }
    return missing;
  }

  void keep_core_results(const std::vector<float>& out, const std::vector<float>& noise,
                         PassOutputs& outputs) const {
    const int32_t k = knn_.k;
    const int32_t m = static_cast<int32_t>(ordinals_.size());
    for (size_t l = 0; l < ordinals_.size(); ++l) {
      if (!is_core_[l]) continue;
      const size_t g = ordinals_[l];
      for (int c = 0; c < 3; ++c) outputs.out[3 * g + c] = out[3 * l + c];
      outputs.noise[g] = noise[l];
      const int32_t* row = &knn_.indices[l * static_cast<size_t>(k)];
      outputs.degenerate[g] = degenerate_neighbourhood(points_.data(), row, k);
      outputs.longest_list = std::max(outputs.longest_list, lists_.counts[l]);
      outputs.capped_lists += lists_.counts[l] >= layout_.settings.list_cap;
      if (layout_.settings.normals) {
        int32_t axes[3];
        float frame[9];
        local_coordinate_for_ici_c(points_.data(), knn_.indices.data(), static_cast<int32_t>(l), k,
                                   m, axes, frame);
        for (int c = 0; c < 3; ++c) outputs.normals[3 * g + c] = frame[3 * c + axes[2]];
      }
    }
  }

  const PassLayout& layout_;
  int threads_;
  std::array<double, 3> lo_{}, hi_{};
  std::vector<uint32_t> ordinals_;  // the call's points, in the cloud's order
  std::vector<char> is_core_;
  size_t core_count_ = 0;
  std::vector<float> points_;
  std::vector<char> active_;
  KnnTable knn_;
  CandidateLists lists_;
};

double cloud_extent(const std::vector<double>& xyz) {
  std::array<double, 3> lo{xyz[0], xyz[1], xyz[2]}, hi = lo;
  for (size_t i = 0; i < xyz.size(); i += 3) {
    for (int c = 0; c < 3; ++c) {
      lo[c] = std::min(lo[c], xyz[i + c]);
      hi[c] = std::max(hi[c], xyz[i + c]);
    }
  }
  return std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
}

}  // namespace

size_t bytes_per_tile_point(int32_t k, int32_t list_cap) {
  const size_t cap = static_cast<size_t>(list_cap);
  // Library: 4 selected-window rows of up to `cap` entries, frames and about
  // 60 four-byte working values. Lists: the finished ones and the per-block
  // buffers they are gathered from. Frame rows, positions, noise, outputs,
  // the tile's bookkeeping and the k-d tree of the call.
  return 16 * cap + 300 + 8 * cap + 24 + 4 * static_cast<size_t>(k) + 48 + 64;
}

size_t bytes_per_cloud_point_tiled() {
  // Outputs (3 floats, noise, flag), the cell index (ordinal, and a sort key
  // while it is built).
  return 12 + 4 + 1 + 4 + 16;
}

void run_tiled_pass(const std::vector<double>& positions, const std::vector<float>& noise,
                    const PassSettings& settings, const TilePlanRequest& request, int threads,
                    const TileProgress& progress, PassOutputs& outputs, TileStats& stats) {
  const size_t n = positions.size() / 3;
  outputs.out.assign(3 * n, 0.0f);
  outputs.noise.assign(n, 0.0f);
  outputs.degenerate.assign(n, 0);
  if (settings.normals) outputs.normals.assign(3 * n, 0.0f);
  if (n == 0) return;
  const double extent = cloud_extent(positions);
  const double slack = 1e-6 * extent + 1e-30;
  const double radius = settings.list_radius;
  // The halo: the list radius around every active point, which lies within
  // the list radius of the tile.
  const double active_reach = radius * 1.0001 + slack;
  const double wanted_halo = 2 * active_reach + slack;
  // Cells half as wide as the halo (at most 2^21 across the cloud), so that
  // two rings of cells hold it; the slack covers a point's cell rounding
  // across a cell edge.
  const double cell = std::max(
      {(wanted_halo + 2 * slack) / 2, extent / static_cast<double>(kCellsPerAxis - 2), 1e-30});
  const CellIndex cells(positions, cell);
  const int64_t halo_cells = static_cast<int64_t>(std::ceil((wanted_halo + slack) / cell));
  const PassLayout layout{positions,    noise,      settings,
                          cells,        slack,      active_reach,
                          halo_cells,   static_cast<double>(halo_cells) * cell - slack};
  stats.halo_width = layout.halo;

  const size_t per_point = bytes_per_tile_point(settings.k, settings.list_cap);
  TilePlanner planner(layout, std::max<size_t>(request.tile_budget / per_point, 1),
                      request.tile_size);
  const std::vector<Tile> tiles = planner.plan();
  if (planner.smallest_failing() > 0) {
    throw TileBudgetError(planner.smallest_failing() * per_point);
  }
  size_t done = 0;
  for (const Tile& tile : tiles) {
    TileRun run(layout, tile, threads);
    const size_t core = run.core_count();
    const TileProgress tile_progress = [&](double f) {
      if (progress) progress((static_cast<double>(done) + f * static_cast<double>(core)) / n);
    };
    run.run(progress ? tile_progress : TileProgress{}, outputs, stats);
    done += core;
    ++stats.tiles;
    stats.core_points += core;
    stats.region_points += run.size();
    stats.peak_region = std::max(stats.peak_region, run.size());
  }
  if (progress) progress(1.0);
}

}  // namespace ici3d::host::detail
