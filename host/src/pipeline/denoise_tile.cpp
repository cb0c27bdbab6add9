// One library call on a tile and its halo, whose core points come out
// bit-identical to a call over the whole cloud. Why the halo rule holds:
//
//  * Point j's result sums the planes of every point i whose accepted window
//    holds j, in increasing order of i. Windows are cut from candidate lists,
//    which lie within the list radius R of their point, so every such i lies
//    within R of the tile. These "active" points get their exact frame rows
//    and candidate lists. Every other point of the call gets a list of just
//    itself, so it sends planes to nobody but itself.
//  * An active point's list needs every point within R of it, so the region
//    must hold every point within 2R of the tile (tile_halo). Its frame row
//    needs its K nearest points: each row is checked against the distance the
//    halo reaches from that point, and a row that may reach farther is a
//    FarNeighboursError unless the caller vouches for it (`trusted`).
//  * The region keeps the cloud's order, so ties between equal distances and
//    the order in which planes are summed are the cloud's.
//  * The library takes the reference level of its noise update from its first
//    point, so the cloud's first point is the region's first point.
//  * Positions are converted to float around the cloud's centre, not the
//    tile's.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "ici3d.h"
#include "ici3d_host/neighbors.h"
#include "ici3d_host/tiles.h"
#include "../neighbors/point_index.h"
#include "tiled_pass.h"

namespace ici3d::host {

// Positions reach the library as floats: this covers their rounding, and the
// rounding of box edges, with a wide margin.
double detail::rounding_slack(double cloud_extent) { return 1e-6 * cloud_extent + 1e-30; }

namespace {

using detail::rounding_slack;

double active_reach(const PassSettings& s, double slack) {
  return static_cast<double>(s.list_radius) * 1.0001 + slack;
}

double distance_to_box(const double* p, const TileRegion& r) {
  double d2 = 0;
  for (int a = 0; a < 3; ++a) {
    const double d = p[a] < r.lo[a] ? r.lo[a] - p[a] : (p[a] > r.hi[a] ? p[a] - r.hi[a] : 0.0);
    d2 += d * d;
  }
  return std::sqrt(d2);
}

void check_region(const TileRegion& r, double slack) {
  const size_t m = r.noise.size();
  auto fail = [](const std::string& what) { throw DenoiseError("invalid tile region: " + what); };
  if (m == 0) fail("no points");
  if (r.xyz.size() != 3 * m || r.core.size() != m) fail("arrays of different lengths");
  if (!r.trusted.empty() && r.trusted.size() != m) fail("trusted flags of the wrong length");
  if (m > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 12)) fail("too many points");
  for (size_t l = 0; l < m; ++l) {
    if (r.core[l] && distance_to_box(&r.xyz[3 * l], r) > slack) fail("a core point outside the box");
  }
}

// The call's neighbourhoods before the points nobody names are dropped.
struct Neighbourhoods {
  std::vector<float> points;
  std::vector<char> active;
  KnnTable knn;
  CandidateLists lists;
};

// Active rows whose K-th neighbour may lie beyond what the halo holds.
void check_frame_rows(const TileRegion& r, const Neighbourhoods& nb, double slack) {
  const int32_t k = nb.knn.k;
  if (k <= 1) return;
  std::vector<size_t> far;
  double needed = 0;
  for (size_t l = 0; l < nb.active.size(); ++l) {
    if (!nb.active[l] || (!r.trusted.empty() && r.trusted[l])) continue;
    const size_t last = static_cast<size_t>(nb.knn.indices[l * static_cast<size_t>(k) + k - 1]);
    const double from_box = distance_to_box(&r.xyz[3 * l], r);
    double reach = std::numeric_limits<double>::infinity();  // a row padded with itself
    if (last != l) {
      reach = std::sqrt(detail::squared_distance(&nb.points[3 * l], &nb.points[3 * last])) + slack;
    }
    if (reach <= r.halo - from_box) continue;
    far.push_back(l);
    needed = std::max(needed, reach + from_box + slack);
  }
  if (!far.empty()) throw FarNeighboursError(std::move(far), needed);
}

Neighbourhoods find_neighbourhoods(const TileRegion& r, const PassSettings& s, int threads,
                                   double slack) {
  const size_t m = r.noise.size();
  Neighbourhoods nb;
  nb.points.resize(3 * m);
  nb.active.resize(m);
  const double reach = active_reach(s, slack);
  for (size_t l = 0; l < m; ++l) {
    for (int c = 0; c < 3; ++c) nb.points[3 * l + c] = static_cast<float>(r.xyz[3 * l + c] - s.centre[c]);
    nb.active[l] = distance_to_box(&r.xyz[3 * l], r) <= reach;
  }
  const int32_t n = static_cast<int32_t>(m);
  NeighbourTables tables = neighbour_tables(nb.points.data(), n, s.k, s.list_radius, s.list_cap,
                                            threads, nb.active.data());
  nb.knn = std::move(tables.knn);
  nb.lists = std::move(tables.lists);
  check_frame_rows(r, nb, slack);
  return nb;
}

// What the library gets: only the points that an active point's row or list
// names, the active points themselves and the first point, renumbered in the
// same order. The others would only cost time and memory.
struct LibraryInput {
  std::vector<size_t> region_of;  // library index -> region index
  std::vector<float> points;
  std::vector<float> noise;
  std::vector<int32_t> rows;
  std::vector<int32_t> list_entries;
  std::vector<int32_t*> list_pointers;
  std::vector<int32_t> list_counts;
  int32_t longest = 0;
};

LibraryInput library_input(const TileRegion& r, const Neighbourhoods& nb) {
  const size_t m = nb.active.size();
  const int32_t k = nb.knn.k;
  std::vector<int32_t> index_of(m, -1);
  std::vector<char> used(m, 0);
  used[0] = 1;
  for (size_t l = 0; l < m; ++l) {
    if (!nb.active[l]) continue;
    used[l] = 1;
    for (int32_t j = 0; j < k; ++j) used[static_cast<size_t>(nb.knn.indices[l * k + j])] = 1;
    for (int32_t j = 0; j < nb.lists.counts[l]; ++j) used[static_cast<size_t>(nb.lists.pointers[l][j])] = 1;
  }
  LibraryInput in;
  for (size_t l = 0; l < m; ++l) {
    if (!used[l]) continue;
    index_of[l] = static_cast<int32_t>(in.region_of.size());
    in.region_of.push_back(l);
    in.points.insert(in.points.end(), &nb.points[3 * l], &nb.points[3 * l] + 3);
    in.noise.push_back(r.noise[l]);
  }
  std::vector<int64_t> offsets{0};
  for (size_t i = 0; i < in.region_of.size(); ++i) {
    const size_t l = in.region_of[i];
    const int32_t self = static_cast<int32_t>(i);
    if (nb.active[l]) {
      for (int32_t j = 0; j < k; ++j) in.rows.push_back(index_of[static_cast<size_t>(nb.knn.indices[l * k + j])]);
      for (int32_t j = 0; j < nb.lists.counts[l]; ++j) {
        in.list_entries.push_back(index_of[static_cast<size_t>(nb.lists.pointers[l][j])]);
      }
    } else {
      in.rows.insert(in.rows.end(), static_cast<size_t>(k), self);
      in.list_entries.push_back(self);
    }
    offsets.push_back(static_cast<int64_t>(in.list_entries.size()));
    in.list_counts.push_back(static_cast<int32_t>(offsets.back() - offsets[offsets.size() - 2]));
    in.longest = std::max(in.longest, in.list_counts.back());
  }
  for (size_t i = 0; i < in.region_of.size(); ++i) {
    in.list_pointers.push_back(in.list_entries.data() + offsets[i]);
  }
  return in;
}

}  // namespace

PassSettings pass_settings(const DenoiseOptions& o, const std::array<double, 3>& centre,
                           size_t points, bool normals) {
  const LibraryWindows windows = library_windows(o);
  PassSettings s;
  s.centre = centre;
  s.k = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(o.k), points));
  s.list_cap = o.list_cap;
  s.list_radius = preselect_radius(static_cast<float>(windows.preselect_size));
  s.library_base = windows.base;
  s.size_norm = static_cast<float>(windows.size_norm);
  s.preselect = static_cast<float>(windows.preselect_size);
  s.scale_ratio = static_cast<float>(o.scale_ratio);
  s.num_scales = o.num_scales;
  s.parameter_set = static_cast<int32_t>(o.preset);
  s.normals = normals;
  return s;
}

double tile_halo(const PassSettings& s, double cloud_extent) {
  const double slack = rounding_slack(cloud_extent);
  return 2 * active_reach(s, slack) + slack;
}

TileOutcome denoise_tile(const TileRegion& r, const PassSettings& s, int threads,
                         const std::function<void(double)>& progress) {
  const double slack = rounding_slack(r.cloud_extent);
  check_region(r, slack);
  const Neighbourhoods nb = find_neighbourhoods(r, s, threads, slack);
  LibraryInput in = library_input(r, nb);
  const int32_t n = static_cast<int32_t>(in.region_of.size());
  std::vector<float> out(in.points.size());
  std::vector<float> noise = in.noise;
  struct Relay {
    const std::function<void(double)>& progress;
    static void from_library(int64_t done, int64_t total, void* user) {
      static_cast<Relay*>(user)->progress(static_cast<double>(done) / static_cast<double>(total));
    }
  } relay{progress};
  ici3d_denoise_with_progress(in.points.data(), n, noise.data(), s.library_base, s.num_scales,
                              in.list_pointers.data(), s.size_norm, s.preselect, s.scale_ratio,
                              in.list_counts.data(), in.longest, s.parameter_set, in.rows.data(),
                              nb.knn.k, out.data(), progress ? Relay::from_library : nullptr,
                              &relay);

  TileOutcome o;
  o.library_points = in.region_of.size();
  const int32_t k = nb.knn.k;
  for (int32_t i = 0; i < n; ++i) {
    const size_t l = in.region_of[static_cast<size_t>(i)];
    if (!r.core[l]) continue;
    o.points.push_back(l);
    const size_t b = 3 * static_cast<size_t>(i);
    const bool kept = detail::stays_in_place(
        &out[b], noise[static_cast<size_t>(i)],
        degenerate_neighbourhood(in.points.data(), &in.rows[i * static_cast<size_t>(k)], k));
    o.kept.push_back(kept);
    o.noise.push_back(kept ? in.noise[static_cast<size_t>(i)] : noise[static_cast<size_t>(i)]);
    for (int c = 0; c < 3; ++c) {
      // Moved by the library's displacement, in double: a point the library
      // leaves alone keeps its exact coordinates.
      const double delta = static_cast<double>(out[b + c]) - static_cast<double>(in.points[b + c]);
      o.xyz.push_back(kept ? r.xyz[3 * l + c] : r.xyz[3 * l + c] + delta);
    }
    o.longest_list = std::max(o.longest_list, in.list_counts[static_cast<size_t>(i)]);
    o.capped_lists += in.list_counts[static_cast<size_t>(i)] >= s.list_cap;
    if (s.normals) {
      int32_t axes[3];
      float frame[9];
      local_coordinate_for_ici_c(in.points.data(), in.rows.data(), i, k, n, axes, frame);
      for (int c = 0; c < 3; ++c) o.normals.push_back(frame[3 * c + axes[2]]);
    }
  }
  return o;
}

}  // namespace ici3d::host
