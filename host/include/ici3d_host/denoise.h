#pragma once
// Denoising a point cloud end to end: estimates of spacing and noise,
// neighbourhoods, one or more passes of the core library, and the results
// written back into the cloud (positions in double, extra attributes on
// request). Every front end (command-line tool, Python) goes through here.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ici3d_host/error.h"
#include "ici3d_host/io.h"
#include "ici3d_host/point_cloud.h"

namespace ici3d::host {

/// Presets of the core library: how readily windows grow across detail.
enum class Preset { Detail = 0, Smooth = 1 };
const char* preset_name(Preset preset);
/// "detail" or "smooth"; std::invalid_argument otherwise.
Preset preset_from_name(const std::string& name);

/// Progress of a run: `pass` (0-based) of `passes`, `fraction` of that pass's
/// points estimated (0..1, rising in steps of 1000 points), `overall` of the
/// whole run. Each pass ends with a call with fraction 1. Calls come from the
/// library's worker threads, one at a time, `overall` rising from each call
/// to the next; runs on other threads neither wait for nor disturb them.
struct Progress {
  int pass = 0;
  int passes = 1;
  double fraction = 0;
  double overall = 0;
};
using ProgressCallback = std::function<void(const Progress&)>;

// The defaults come from the quality sweep in bench/RESULTS.md.
struct DenoiseOptions {
  /// Noise standard deviation in length units; <= 0 estimates it.
  double sigma = 0;
  /// Optional per-point noise levels (one per point, length units, > 0 for
  /// every finite point); overrides `sigma` when not empty.
  std::vector<double> point_sigma;
  /// Point spacing in length units; <= 0 estimates it.
  double spacing = 0;
  Preset preset = Preset::Smooth;
  int passes = 1;
  /// Neighbours (the point included) from which each local frame is built.
  int k = 32;
  /// Window half-size at the smallest scale, in window units: the larger of
  /// the spacing and the noise level.
  int base_size = 2;
  /// Scales 0..num_scales are tried; each grows the window by scale_ratio.
  int num_scales = 3;
  double scale_ratio = 2.0;
  /// Longest candidate list per point; bounds memory (about 5 bytes per
  /// entry and point) at the cost of clipping the largest windows.
  int list_cap = 512;
  /// OpenMP threads; <= 0: the runtime default.
  int threads = 0;
  /// Bytes the run may use beyond the cloud itself; 0: a quarter of the
  /// machine's memory. A cloud whose pass would not fit is denoised tile by
  /// tile, with the same results (see DenoiseReport::tiles).
  int64_t memory_limit = 0;
  /// Largest tile side in length units; 0: tiles only as the memory limit
  /// needs them. Results do not depend on it.
  double tile_size = 0;
  /// Extra per-point attributes written into the cloud.
  bool output_sigma = false;         // "noise_sigma": final noise level (float32)
  bool output_displacement = false;  // "displacement": distance moved (float32)
  bool output_normal = false;        // "nx", "ny", "nz": unit frame normal (float32)
  ProgressCallback progress;
};

struct PassReport {
  double neighbor_seconds = 0;  // k-NN table and candidate lists
  double library_seconds = 0;   // frames, estimates, spreading, solves, noise update
  int64_t capped_lists = 0;     // candidate lists cut by list_cap
  int32_t longest_list = 0;     // the library's max_selected
  int64_t degenerate = 0;       // points kept in place: degenerate neighbourhood or result
  double mean_displacement = 0; // over the points the pass moved or kept
};

struct DenoiseReport {
  size_t points = 0;
  size_t non_finite = 0;   // points with a NaN/Inf coordinate, written back unchanged
  size_t degenerate = 0;   // points kept in place in at least one pass
  double spacing = 0;      // length units
  double sigma = 0;        // length units
  bool spacing_estimated = false;
  bool sigma_estimated = false;
  /// The noise estimate failed or came out below a thousandth of the
  /// spacing, and that floor was used instead.
  bool sigma_floored = false;
  size_t noise_too_few_points = 0;  // of the noise estimate's sampled positions
  size_t noise_collinear = 0;
  // The neighbourhood the estimates settled on (0 when nothing was estimated):
  // its radius in length units, the median number of positions per fit, and
  // how many radii were tried.
  double noise_radius = 0;
  double noise_fit_points = 0;
  int noise_rounds = 0;
  double estimate_seconds = 0;
  double total_seconds = 0;
  // The parameters handed to the library.
  double window_unit = 0;     // length units: max(spacing, sigma)
  // The library's window parameters: its smallest window is
  // library_base / sqrt(size_norm) = base_size * window_unit, and
  // 1 / sqrt(size_norm) is as near 6 sigma as a whole-numbered library_base
  // (at least 1) allows; the library weighs each point's pull towards its own
  // estimate by 1 / (size_norm * sigma^2).
  double size_norm = 0;
  int library_base = 0;
  double preselect_size = 0;  // length units: the largest window half-size
  // Tiles of the last pass (1: the whole cloud in one library call), how far
  // beyond its tile each call reads (length units), and the points read
  // beyond the tiles per point of the tiles (halo points / core points).
  size_t tiles = 1;
  double halo_width = 0;
  double halo_overhead = 0;
  int64_t memory_limit = 0;  // bytes: the limit that applied
  int64_t peak_memory = 0;   // bytes: the process's peak resident memory so far
  DenoiseOptions effective;   // options with every estimate filled in
  std::vector<PassReport> passes;
};

/// Thrown for options that cannot work (and for clouds that cannot be
/// denoised, with the reason).
class DenoiseError : public Error {
 public:
  using Error::Error;
};

/// The accepted ranges of the integer options (inclusive), for
/// validate_options and for front ends that show them.
struct OptionRange {
  int min, max;
};
inline constexpr OptionRange kPassesRange{1, 100};
inline constexpr OptionRange kKRange{3, 1000};
inline constexpr OptionRange kBaseSizeRange{1, 1000};
inline constexpr OptionRange kScalesRange{0, 30};
inline constexpr OptionRange kListCapRange{4, 100000};
/// scale_ratio must lie in (1, kMaxScaleRatio].
inline constexpr double kMaxScaleRatio = 10.0;

/// The window parameters handed to the library for options whose spacing and
/// sigma are set (> 0). Windows are counted in window_unit = max(spacing,
/// sigma): the smallest half-size is base_size * window_unit =
/// base / sqrt(size_norm), the largest preselect_size. 1 / sqrt(size_norm) is
/// as near 6 sigma as a whole-numbered base (1 to 1000) allows: the library
/// weighs each point's pull towards its own estimate against its planes by
/// 1 / (size_norm * sigma^2), and this keeps that balance the same at every
/// noise level.
struct LibraryWindows {
  double window_unit = 0;
  int32_t base = 1;
  double size_norm = 0;
  double preselect_size = 0;
};
LibraryWindows library_windows(const DenoiseOptions& options);

/// A memory size such as "2GiB", "512M", "1.5G", "300MB" or "1000000" (bytes).
/// K, M, G, T and KiB, MiB, GiB, TiB are powers of 1024; KB, MB, GB, TB of
/// 1000; case does not matter. Throws DenoiseError for anything else,
/// negative sizes and sizes beyond 2^62 bytes.
int64_t parse_memory_size(const std::string& text);
/// Bytes in binary units with three significant digits, e.g. "1.50 GiB".
std::string format_memory_size(double bytes);

/// Checks the options; throws DenoiseError naming the bad option.
void validate_options(const DenoiseOptions& options);

/// Denoises the cloud's positions in place (same points, same order); the
/// other attributes are untouched, extra ones are appended as requested.
/// Points with a non-finite coordinate are left exactly as they are. Clouds
/// of fewer than 3 finite points are returned unchanged.
DenoiseReport denoise(PointCloud& cloud, const DenoiseOptions& options);

/// The same on bare positions (3n doubles, interleaved). `final_sigma`, when
/// given, receives each point's final noise level (NaN for non-finite
/// points); `normals` (3n) the unit frame normals.
DenoiseReport denoise_positions(std::vector<double>& xyz, const DenoiseOptions& options,
                                std::vector<float>* final_sigma = nullptr,
                                std::vector<float>* normals = nullptr);

/// How denoise_file writes, and a look at the cloud once it is read.
struct FileOptions {
  /// format Auto: from the output's extension, or the input's own format
  /// when the output is "-"; encoding and overwrite flags as for
  /// write_point_cloud.
  WriteOptions write;
  /// Called once the input is read, before the denoising (for messages).
  std::function<void(const PointCloud&)> on_read;
};

struct FileReport {
  DenoiseReport denoise;
  Format format = Format::Auto;         // the format written
  std::vector<std::string> attributes;  // names of the attributes written, in order
  double read_seconds = 0;
  double write_seconds = 0;
};

/// Reads `input` ("-": standard input), denoises it with `options` and
/// writes the result to `output` ("-": standard output). Before anything is
/// read, the options are checked (DenoiseError) and so is the destination
/// (IoError: unknown extension, or a file that the write options do not allow
/// to replace; the input counts as the cloud's source). After reading, an
/// attribute that the options would add and the cloud already has is a
/// DenoiseError. Read and write failures are IoErrors.
FileReport denoise_file(const std::string& input, const std::string& output,
                        const DenoiseOptions& options, const FileOptions& file = {});

/// Spacing and noise estimates of a cloud (length units), as denoise makes them.
struct CloudEstimates {
  double spacing = 0;
  double sigma = 0;
  size_t finite = 0;
  size_t duplicates = 0;            // points at a position taken by an earlier point
  size_t noise_too_few_points = 0;
  size_t noise_collinear = 0;
  size_t noise_samples = 0;
  double noise_radius = 0;      // neighbourhood radius the estimates settled on
  double noise_fit_points = 0;  // median positions per fit there
  int noise_rounds = 0;         // radii tried
};
CloudEstimates estimate_cloud(const std::vector<double>& xyz, int threads = 0);

}  // namespace ici3d::host
