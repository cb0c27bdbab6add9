#include "ici3d_host/denoise.h"

#include <omp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <cctype>
#include <string>
#include <utility>

#include "ici3d.h"
#include "ici3d_host/estimate.h"
#include "ici3d_host/neighbors.h"
#include "ici3d_host/points.h"
#include "ici3d_host/tiles.h"
#include "tiled_pass.h"

namespace ici3d::host {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A noise level of exactly zero (perfectly clean data) would make the
// library's weights infinite; a thousandth of the spacing is far below any
// real scanner's noise.
constexpr double kSigmaFloorInSpacings = 1e-3;

// Sets the OpenMP thread count for the lifetime of the object.
class ThreadScope {
 public:
  explicit ThreadScope(int threads) : saved_(omp_get_max_threads()) {
    if (threads > 0) omp_set_num_threads(threads);
  }
  ~ThreadScope() { omp_set_num_threads(saved_); }

 private:
  int saved_;
};

std::vector<double> gather(const std::vector<double>& xyz, const std::vector<size_t>& which) {
  std::vector<double> out;
  out.reserve(3 * which.size());
  for (size_t i : which) out.insert(out.end(), &xyz[3 * i], &xyz[3 * i] + 3);
  return out;
}

struct PassInput {
  std::vector<float> points;  // recentred float positions of the finite points
  KnnTable knn;
  CandidateLists lists;
  std::vector<char> degenerate;
};

PassInput prepare_pass(const std::vector<double>& positions, const DenoiseOptions& o,
                       double preselect, PassReport& report) {
  const auto start = Clock::now();
  PassInput in;
  in.points = recentred_floats(positions);
  const int32_t m = static_cast<int32_t>(positions.size() / 3);
  const int32_t k = std::min<int32_t>(o.k, m);
  const float radius = preselect_radius(static_cast<float>(preselect));
  NeighbourTables tables = neighbour_tables(in.points.data(), m, k, radius, o.list_cap, o.threads);
  in.knn = std::move(tables.knn);
  in.lists = std::move(tables.lists);
  in.degenerate.assign(static_cast<size_t>(m), 0);
#pragma omp parallel for schedule(static)
  for (int32_t i = 0; i < m; ++i) {
    in.degenerate[static_cast<size_t>(i)] =
        degenerate_neighbourhood(in.points.data(), &in.knn.indices[static_cast<size_t>(i) * k], k);
  }
  report.capped_lists = in.lists.capped;
  report.longest_list = in.lists.longest;
  report.neighbor_seconds = seconds_since(start);
  return in;
}

// Moves the positions by the library's displacement (computed in double, so a
// point the library leaves alone keeps its exact input coordinates). Points
// with a degenerate neighbourhood or a non-finite result stay where they were,
// with their noise level from before the pass.
void apply_pass(std::vector<double>& positions, const std::vector<float>& in,
                const std::vector<float>& out, const std::vector<char>& degenerate,
                const std::vector<float>& noise_before, std::vector<float>& noise,
                PassReport& report) {
  const size_t m = positions.size() / 3;
  double moved = 0;
  for (size_t i = 0; i < m; ++i) {
    const size_t b = 3 * i;
    if (detail::stays_in_place(&out[b], noise[i], degenerate[i])) {
      noise[i] = noise_before[i];
      ++report.degenerate;
      continue;
    }
    double d2 = 0;
    for (int c = 0; c < 3; ++c) {
      const double delta = static_cast<double>(out[b + c]) - static_cast<double>(in[b + c]);
      positions[b + c] += delta;
      d2 += delta * delta;
    }
    moved += std::sqrt(d2);
  }
  report.mean_displacement = m > 0 ? moved / static_cast<double>(m) : 0;
}

void report_progress(const DenoiseOptions& o, int pass, double fraction) {
  Progress p;
  p.pass = pass;
  p.passes = o.passes;
  p.fraction = fraction;
  p.overall = (pass + fraction) / o.passes;
  o.progress(p);
}

// One library pass over the finite points. Positions move by the library's
// displacement (computed in double), so a point the library leaves alone
// keeps its exact input coordinates.
void run_pass(std::vector<double>& positions, std::vector<float>& noise, const DenoiseOptions& o,
              int32_t library_base, double size_norm, double preselect, const PassInput& in, int pass,
              PassReport& report) {
  const int32_t m = static_cast<int32_t>(positions.size() / 3);
  std::vector<float> out(in.points.size());
  std::vector<float> noise_before = noise;
  const auto start = Clock::now();
  // The library reports from its worker threads, one call at a time and in
  // rising order; the pass ends with fraction 1 even if it reported nothing.
  struct Relay {
    const DenoiseOptions& o;
    int pass;
    double fraction = 0;
    void report(double f) {
      fraction = f;
      report_progress(o, pass, f);
    }
    static void from_library(int64_t done, int64_t total, void* user) {
      static_cast<Relay*>(user)->report(static_cast<double>(done) / static_cast<double>(total));
    }
  } relay{o, pass};
  // The library's smallest window is base * 1 / sqrt(size_norm): see
  // library_windows.
  ici3d_denoise_with_progress(
      in.points.data(), m, noise.data(), library_base, o.num_scales, in.lists.pointers.data(),
      static_cast<float>(size_norm), static_cast<float>(preselect),
      static_cast<float>(o.scale_ratio), in.lists.counts.data(), in.lists.longest,
      static_cast<int32_t>(o.preset), in.knn.indices.data(), in.knn.k, out.data(),
      o.progress ? Relay::from_library : nullptr, &relay);
  report.library_seconds = seconds_since(start);
  if (o.progress && relay.fraction < 1.0) relay.report(1.0);

  apply_pass(positions, in.points, out, in.degenerate, noise_before, noise, report);
}

// One pass tile by tile (see tiled_pass.cpp): the same results as run_pass,
// within `tile_budget` bytes per library call.
void run_tiled_pass(std::vector<double>& positions, std::vector<float>& noise,
                    const DenoiseOptions& o, int pass, size_t tile_budget,
                    std::vector<float>* normals, std::vector<char>& ever_degenerate,
                    PassReport& report, detail::TileStats& stats) {
  const auto start = Clock::now();
  const size_t m = positions.size() / 3;
  const PassSettings settings =
      pass_settings(o, bounding_box_centre(positions), m, normals != nullptr);
  detail::PassOutputs outputs;
  const detail::TileProgress progress = [&](double f) { report_progress(o, pass, f); };
  detail::run_tiled_pass(positions, noise, settings, {tile_budget, o.tile_size}, o.threads,
                         o.progress ? progress : detail::TileProgress{}, outputs, stats);
  // Neighbour search and library calls alternate tile by tile: the pass's
  // time is counted as the library's.
  report.library_seconds = seconds_since(start);
  report.capped_lists = outputs.capped_lists;
  report.longest_list = outputs.longest_list;
  double moved = 0;
  for (size_t i = 0; i < m; ++i) {
    ever_degenerate[i] |= outputs.kept[i];
    report.degenerate += outputs.kept[i];
    double d2 = 0;
    for (int c = 0; c < 3; ++c) {
      const double d = outputs.xyz[3 * i + c] - positions[3 * i + c];
      d2 += d * d;
    }
    moved += std::sqrt(d2);
  }
  report.mean_displacement = m > 0 ? moved / static_cast<double>(m) : 0;
  positions = std::move(outputs.xyz);
  noise = std::move(outputs.noise);
  if (normals) *normals = std::move(outputs.normals);
}

int64_t physical_memory() {
  const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGE_SIZE);
  return pages > 0 && page > 0 ? static_cast<int64_t>(pages) * page : int64_t{8} << 30;
}

int64_t peak_resident_memory() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<int64_t>(usage.ru_maxrss) * 1024;  // kilobytes on Linux
}

// Bytes per finite point that a run holds outside the library calls: the
// positions, noise levels, and the bookkeeping.
constexpr size_t kRunBytesPerPoint = 24 + 4 + 1 + 8;


// Unit frame normals (the axis of the smallest eigenvalue) of the given pass input.
std::vector<float> frame_normals(const PassInput& in) {
  const int32_t m = static_cast<int32_t>(in.points.size() / 3);
  std::vector<float> normals(in.points.size());
#pragma omp parallel for schedule(static)
  for (int32_t i = 0; i < m; ++i) {
    int32_t axes[3];
    float frame[9];
    local_coordinate_for_ici_c(in.points.data(), in.knn.indices.data(), i, in.knn.k, m, axes,
                               frame);
    for (int c = 0; c < 3; ++c) normals[3 * static_cast<size_t>(i) + c] = frame[3 * c + axes[2]];
  }
  return normals;
}

double median_of(const std::vector<double>& values, const std::vector<size_t>& which) {
  std::vector<double> v;
  v.reserve(which.size());
  for (size_t i : which) v.push_back(values[i]);
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

// The surface's spacing; where too few positions give a density, the
// nearest-neighbour spacing.
double spacing_of(const SurfaceEstimate& surface, const std::vector<double>& xyz, int threads) {
  if (surface.spacing > 0 && std::isfinite(surface.spacing)) return surface.spacing;
  return estimate_spacing(xyz.data(), xyz.size() / 3, kDefaultSpacingSamples, threads);
}

// The estimates look at no more than this many points: beyond it they work
// on a subsample, whose density is the cloud's times the fraction kept, so
// that their memory does not grow with the cloud.
constexpr size_t kMaxEstimatePoints = 2000000;

// The finite points (indices in file order) that the estimates look at, in
// file order: all of them, or a hashed subsample of about kMaxEstimatePoints,
// the same for any point order of the pipeline.
struct EstimateSample {
  std::vector<double> xyz;
  double spacing_factor = 1;  // the cloud's spacing per spacing of the sample
};

uint64_t splitmix64(uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

EstimateSample estimate_sample(const std::vector<double>& xyz, const std::vector<size_t>& finite) {
  EstimateSample sample;
  if (finite.size() <= kMaxEstimatePoints) {
    sample.xyz = gather(xyz, finite);
    return sample;
  }
  const double keep = static_cast<double>(kMaxEstimatePoints) / static_cast<double>(finite.size());
  const auto threshold = static_cast<uint64_t>(keep * 0x1p64);
  std::vector<size_t> kept;
  for (size_t i : finite) {
    if (splitmix64(i) < threshold) kept.push_back(i);
  }
  sample.xyz = gather(xyz, kept);
  sample.spacing_factor =
      std::sqrt(static_cast<double>(kept.size()) / static_cast<double>(finite.size()));
  return sample;
}

// Spacing and noise not given by the user, from one surface estimate (a
// given noise level sizes the neighbourhood in which the density is measured).
void fill_estimates(const EstimateSample& sample, DenoiseOptions& o, DenoiseReport& report) {
  const auto start = Clock::now();
  const std::vector<double>& finite_xyz = sample.xyz;
  const size_t m = finite_xyz.size() / 3;
  const bool need_spacing = !(o.spacing > 0), need_sigma = !(o.sigma > 0);
  if (need_spacing || need_sigma) {
    const SurfaceEstimate surface =
        estimate_surface(finite_xyz.data(), m, need_sigma ? 0.0 : o.sigma,
                         kDefaultSurfaceSamples, o.threads);
    report.noise_radius = surface.radius;
    report.noise_fit_points = surface.fit_points;
    report.noise_rounds = surface.rounds;
    report.noise_too_few_points = surface.too_few_points;
    report.noise_collinear = surface.collinear;
    if (need_spacing) {
      o.spacing = spacing_of(surface, finite_xyz, o.threads) * sample.spacing_factor;
      report.spacing_estimated = true;
    }
    if (need_sigma) {
      o.sigma = surface.sigma;
      report.sigma_estimated = true;
      if (std::isfinite(o.spacing) && !(o.sigma >= kSigmaFloorInSpacings * o.spacing)) {
        o.sigma = kSigmaFloorInSpacings * o.spacing;
        report.sigma_floored = true;
      }
    }
  }
  report.estimate_seconds = seconds_since(start);
}

}  // namespace

const char* preset_name(Preset preset) { return preset == Preset::Smooth ? "smooth" : "detail"; }

Preset preset_from_name(const std::string& name) {
  if (name == "detail") return Preset::Detail;
  if (name == "smooth") return Preset::Smooth;
  throw std::invalid_argument("unknown preset '" + name + "' (expected detail or smooth)");
}

// How the windows reach the library. It takes the smallest window as
// base / sqrt(size_norm) and weighs the pull of each point towards its own
// fused estimate against the planes it receives by 1 / (size_norm * sigma^2).
// With size_norm the cloud's density that balance swings with the noise: far
// below the spacing the pull wins and holds points at their noisier fused
// estimates; from about one spacing up it fades, and points drift along the
// surface (more than half a spacing at a noise of one spacing), opening gaps
// and clumps (Chamfer distance). So 1 / sqrt(size_norm) is kept near a fixed
// number of noise levels, which makes the balance the same at every noise
// level; a whole-numbered base makes up the window, and the base is at least
// 1, so that length never exceeds the smallest window.
constexpr double kPullInSigmas = 6.0;
constexpr double kMaxLibraryBase = 1000.0;

LibraryWindows library_windows(const DenoiseOptions& o) {
  LibraryWindows w;
  // Windows are counted in the larger of the spacing and the noise level: a
  // window must hold points enough for a plane through noise of that size,
  // and where the noise exceeds the spacing the surface is only known at the
  // scale of the noise anyway.
  w.window_unit = std::max(o.spacing, o.sigma);
  const double smallest = o.base_size * w.window_unit;
  // At most kMaxLibraryBase: a noise level a thousandth of the window or
  // less (given, or floored) needs no finer balance, and the base stays a
  // small integer whatever the options.
  const double base = std::round(smallest / (kPullInSigmas * o.sigma));
  w.base = static_cast<int32_t>(!(base >= 1.0) ? 1.0 : std::min(base, kMaxLibraryBase));
  const double length = smallest / w.base;
  w.size_norm = 1.0 / (length * length);
  w.preselect_size = smallest * std::pow(o.scale_ratio, o.num_scales);
  return w;
}

std::string format_memory_size(double bytes) {
  const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
  int u = 0;
  while (bytes >= 1024 && u < 5) {
    bytes /= 1024;
    ++u;
  }
  char text[32];
  std::snprintf(text, sizeof text, u == 0 ? "%.0f %s" : "%.3g %s", bytes, units[u]);
  return text;
}

int64_t parse_memory_size(const std::string& text) {
  auto fail = [&] {
    throw DenoiseError("invalid memory size '" + text + "' (expected e.g. 2GiB, 512M or 300MB)");
  };
  size_t used = 0;
  double value = 0;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    fail();
  }
  std::string unit = text.substr(used);
  unit.erase(0, unit.find_first_not_of(' '));
  for (char& c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const std::pair<const char*, double> units[] = {
      {"", 1},      {"B", 1},         {"K", 0x1p10},    {"KIB", 0x1p10}, {"KB", 1e3},
      {"M", 0x1p20}, {"MIB", 0x1p20}, {"MB", 1e6},      {"G", 0x1p30},   {"GIB", 0x1p30},
      {"GB", 1e9},  {"T", 0x1p40},    {"TIB", 0x1p40},  {"TB", 1e12}};
  for (const auto& [name, factor] : units) {
    if (unit != name) continue;
    const double bytes = value * factor;
    if (!(bytes >= 0) || !(bytes <= 0x1p62)) fail();
    return static_cast<int64_t>(bytes);
  }
  fail();
  return 0;
}

void validate_options(const DenoiseOptions& o) {
  auto fail = [](const std::string& what) { throw DenoiseError("invalid option: " + what); };
  if (!(o.sigma >= 0) && !std::isnan(o.sigma)) fail("sigma must be >= 0");
  if (std::isnan(o.sigma) || std::isinf(o.sigma)) fail("sigma must be finite");
  if (std::isnan(o.spacing) || std::isinf(o.spacing)) fail("spacing must be finite");
  auto range = [&](int value, OptionRange r, const char* name) {
    if (value < r.min || value > r.max) {
      fail(std::string(name) + " must be " + std::to_string(r.min) + ".." + std::to_string(r.max));
    }
  };
  range(o.passes, kPassesRange, "passes");
  range(o.k, kKRange, "k");
  range(o.base_size, kBaseSizeRange, "base size");
  range(o.num_scales, kScalesRange, "scales");
  if (!(o.scale_ratio > 1.0) || !(o.scale_ratio <= kMaxScaleRatio)) {
    fail("scale ratio must be in (1, " + std::to_string(static_cast<int>(kMaxScaleRatio)) + "]");
  }
  range(o.list_cap, kListCapRange, "list cap");
  if (o.memory_limit < 0) fail("memory limit must be >= 0");
  if (!(o.tile_size >= 0) || std::isinf(o.tile_size)) fail("tile size must be finite and >= 0");
  if (o.preset != Preset::Detail && o.preset != Preset::Smooth) fail("preset must be detail or smooth");
  const double largest = o.base_size * std::pow(o.scale_ratio, o.num_scales);
  if (!(largest <= 1e4)) fail("the largest window (base size * ratio^scales) exceeds 10^4 spacings");
}

DenoiseReport denoise_positions(std::vector<double>& xyz, const DenoiseOptions& options,
                                std::vector<float>* final_sigma, std::vector<float>* normals) {
  validate_options(options);
  const auto start = Clock::now();
  const ThreadScope threads(options.threads);
  DenoiseReport report;
  DenoiseOptions o = options;
  report.points = xyz.size() / 3;
  // The library gets the points along a space-filling curve: neighbours in
  // space are then mostly neighbours in memory, whatever the file's order.
  std::vector<size_t> in_file_order = finite_indices(xyz);
  const std::vector<size_t> finite = space_filling_order(xyz, in_file_order);
  report.non_finite = report.points - finite.size();
  if (final_sigma) final_sigma->assign(report.points, std::numeric_limits<float>::quiet_NaN());
  if (normals) normals->assign(xyz.size(), std::numeric_limits<float>::quiet_NaN());
  if (finite.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 12)) {
    throw DenoiseError("too many points for one pass: " + std::to_string(finite.size()));
  }

  std::vector<double> positions = gather(xyz, finite);
  if (!o.point_sigma.empty()) {
    if (o.point_sigma.size() != report.points) {
      throw DenoiseError("point_sigma has " + std::to_string(o.point_sigma.size()) +
                         " values for " + std::to_string(report.points) + " points");
    }
    for (size_t i : finite) {
      if (!(o.point_sigma[i] > 0) || !std::isfinite(o.point_sigma[i])) {
        throw DenoiseError("point_sigma of point " + std::to_string(i) +
                           " must be finite and > 0");
      }
    }
    o.sigma = median_of(o.point_sigma, finite);
  }
  fill_estimates(estimate_sample(xyz, in_file_order), o, report);
  std::vector<size_t>().swap(in_file_order);  // a large cloud needs the room
  report.effective = o;
  report.effective.point_sigma.clear();  // the report keeps only scalars
  report.spacing = o.spacing;
  report.sigma = o.sigma;
  if (finite.size() < 3 || !(o.spacing > 0) || !std::isfinite(o.spacing) || !(o.sigma > 0)) {
    // Nothing to fit a plane to (too few or all identical points).
    report.degenerate = finite.size();
    report.total_seconds = seconds_since(start);
    return report;
  }
  const LibraryWindows windows = library_windows(o);
  report.window_unit = windows.window_unit;
  report.size_norm = windows.size_norm;
  report.library_base = windows.base;
  report.preselect_size = windows.preselect_size;

  std::vector<float> noise(finite.size(), static_cast<float>(o.sigma));
  if (!o.point_sigma.empty()) {
    for (size_t k = 0; k < finite.size(); ++k) noise[k] = static_cast<float>(o.point_sigma[finite[k]]);
  }
  std::vector<char> ever_degenerate(finite.size(), 0);
  // One library call for the whole cloud when it fits the memory limit and
  // no tile size is asked for; tiles otherwise.
  report.memory_limit = o.memory_limit > 0 ? o.memory_limit : physical_memory() / 4;
  const size_t m = finite.size();
  // A run in one piece: the lists (4 bytes an entry, and while they are
  // built the blocks in flight), the library's marks of its kept windows
  // (half a byte an entry) and its other working arrays, the frame table,
  // positions and outputs, with room to spare. Measured: 2.8 kB per point at
  // the default list cap of 512, file reading and writing included.
  const size_t cap = static_cast<size_t>(o.list_cap);
  const size_t per_point = 6 * cap + 4 * static_cast<size_t>(o.k) + 440;
  const size_t limit = static_cast<size_t>(report.memory_limit);
  const size_t held = m * (kRunBytesPerPoint + detail::bytes_per_cloud_point_tiled());
  const bool tiled = o.tile_size > 0 || m * (per_point + kRunBytesPerPoint) > limit;
  PassInput last;
  std::vector<float> frame_n;
  for (int pass = 0; pass < o.passes; ++pass) {
    PassReport pr;
    if (tiled) {
      detail::TileStats stats;
      const bool last_pass = pass + 1 == o.passes;
      try {
        run_tiled_pass(positions, noise, o, pass, limit > held ? limit - held : 0,
                       normals && last_pass ? &frame_n : nullptr, ever_degenerate, pr, stats);
      } catch (const detail::TileBudgetError& e) {
        throw DenoiseError("memory limit of " + format_memory_size(static_cast<double>(limit)) +
                           " too small for one tile with its halo; the smallest limit that works is " +
                           // Rounded up: three digits must not name a limit just too small.
                           format_memory_size(1.005 * static_cast<double>(held + e.needed_bytes)));
      }
      report.tiles = stats.tiles;
      report.halo_width = stats.halo_width;
      report.halo_overhead =
          stats.core_points > 0 ? static_cast<double>(stats.region_points) / stats.core_points - 1 : 0;
    } else {
      PassInput in = prepare_pass(positions, o, report.preselect_size, pr);
      for (size_t i = 0; i < m; ++i) ever_degenerate[i] |= in.degenerate[i];
      run_pass(positions, noise, o, windows.base, report.size_norm, report.preselect_size, in, pass,
               pr);
      last = std::move(in);
    }
    report.passes.push_back(pr);
  }
  report.degenerate = static_cast<size_t>(std::count(ever_degenerate.begin(), ever_degenerate.end(), 1));

  if (normals && !tiled) frame_n = frame_normals(last);
  for (size_t k = 0; k < finite.size(); ++k) {
    const size_t i = finite[k];
    for (int c = 0; c < 3; ++c) xyz[3 * i + c] = positions[3 * k + c];
    if (final_sigma) (*final_sigma)[i] = noise[k];
    if (normals) {
      for (int c = 0; c < 3; ++c) (*normals)[3 * i + c] = frame_n[3 * k + c];
    }
  }
  report.peak_memory = peak_resident_memory();
  report.total_seconds = seconds_since(start);
  return report;
}

DenoiseReport denoise(PointCloud& cloud, const DenoiseOptions& options) {
  validate_options(options);
  // The positions before the run, only when displacements are asked for:
  // a cloud's copy is its largest array.
  const std::vector<double> original =
      options.output_displacement ? cloud.xyz : std::vector<double>{};
  std::vector<float> sigma, normals;
  DenoiseReport report = denoise_positions(cloud.xyz, options,
                                           options.output_sigma ? &sigma : nullptr,
                                           options.output_normal ? &normals : nullptr);
  const size_t n = cloud.size();
  if (options.output_sigma) {
    Attribute& a = cloud.add_attribute("noise_sigma", ScalarType::Float32);
    for (size_t i = 0; i < n; ++i) a.set<float>(i, sigma[i]);
  }
  if (options.output_displacement) {
    Attribute& a = cloud.add_attribute("displacement", ScalarType::Float32);
    for (size_t i = 0; i < n; ++i) {
      double d2 = 0;
      for (int c = 0; c < 3; ++c) {
        const double d = cloud.xyz[3 * i + c] - original[3 * i + c];
        d2 += d * d;
      }
      a.set<float>(i, static_cast<float>(std::sqrt(d2)));
    }
  }
  if (options.output_normal) {
    const char* names[3] = {"nx", "ny", "nz"};
    for (int c = 0; c < 3; ++c) {
      Attribute& a = cloud.add_attribute(names[c], ScalarType::Float32);
      for (size_t i = 0; i < n; ++i) a.set<float>(i, normals[3 * i + c]);
    }
  }
  return report;
}

CloudEstimates estimate_cloud(const std::vector<double>& xyz, int threads) {
  const ThreadScope scope(threads);
  CloudEstimates e;
  const std::vector<size_t> finite = finite_indices(xyz);
  const size_t m = finite.size();
  e.finite = m;
  {
    const EstimateSample sample = estimate_sample(xyz, finite);
    const SurfaceEstimate surface =
        estimate_surface(sample.xyz.data(), sample.xyz.size() / 3, 0.0, kDefaultSurfaceSamples,
                         threads);
    e.spacing = spacing_of(surface, sample.xyz, threads) * sample.spacing_factor;
    e.sigma = surface.sigma;
    e.noise_radius = surface.radius;
    e.noise_fit_points = surface.fit_points;
    e.noise_rounds = surface.rounds;
    e.noise_too_few_points = surface.too_few_points;
    e.noise_collinear = surface.collinear;
    e.noise_samples = surface.samples;
  }
  // Duplicates: positions equal to an earlier point's.
  std::vector<size_t> order = finite;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return std::lexicographical_compare(&xyz[3 * a], &xyz[3 * a] + 3, &xyz[3 * b], &xyz[3 * b] + 3);
  });
  for (size_t k = 1; k < m; ++k) {
    e.duplicates +=
        std::equal(&xyz[3 * order[k]], &xyz[3 * order[k]] + 3, &xyz[3 * order[k - 1]]);
  }
  return e;
}

}  // namespace ici3d::host
