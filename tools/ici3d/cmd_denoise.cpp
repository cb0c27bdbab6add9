// ici3d denoise IN OUT: the whole pipeline on one file, every attribute kept.

#include <omp.h>

#include <CLI/CLI.hpp>
#include <memory>

#include "cli_common.h"
#include "ici3d_host/denoise.h"
#include "ici3d_host/version.h"
#include "json.h"
#include "progress_bar.h"

namespace ici3d::cli {

namespace {

struct DenoiseArgs {
  std::string input, output;
  host::DenoiseOptions options;
  std::string preset = host::preset_name(host::DenoiseOptions{}.preset);
  std::vector<std::string> extra;
  std::string report, format, encoding, memory_limit;
  bool force = false, in_place = false;
};

struct Timings {
  double read = 0, denoise = 0, write = 0;
};

void add_options(CLI::App& app, DenoiseArgs& a) {
  app.add_option("IN", a.input, "Noisy cloud (.ply .pcd .xyz .txt .csv .pts; - for standard input)")
      ->required();
  app.add_option("OUT", a.output,
                 "Denoised cloud; - for standard output (in the input's format unless --format)")
      ->required();
  app.add_option("--sigma", a.options.sigma,
                 "Noise standard deviation, in the cloud's length unit; 0 estimates it")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  app.add_option("--spacing", a.options.spacing,
                 "Point spacing, in the cloud's length unit; 0 estimates it")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  app.add_option("--preset", a.preset, "detail keeps edges and fine detail, smooth smooths more")
      ->check(CLI::IsMember({"detail", "smooth"}))
      ->capture_default_str();
  app.add_option("--passes", a.options.passes, "Denoising passes, each on the previous result")
      ->check(CLI::Range(host::kPassesRange.min, host::kPassesRange.max))
      ->capture_default_str();
  app.add_option("--k", a.options.k, "Neighbours (the point included) of each local frame")
      ->check(CLI::Range(host::kKRange.min, host::kKRange.max))
      ->capture_default_str();
  app.add_option("--base-size", a.options.base_size,
                 "Half-size of the smallest window, in spacings (in noise levels where the "
                 "noise is larger)")
      ->check(CLI::Range(host::kBaseSizeRange.min, host::kBaseSizeRange.max))
      ->capture_default_str();
  app.add_option("--scales", a.options.num_scales, "Window sizes tried beyond the smallest")
      ->check(CLI::Range(host::kScalesRange.min, host::kScalesRange.max))
      ->capture_default_str();
  app.add_option("--scale-ratio", a.options.scale_ratio,
                 "Growth of the window from one size to the next")
      ->capture_default_str();
  app.add_option(
         "--list-cap", a.options.list_cap,
         "Most candidates per window (bounds memory, about 8 bytes per candidate and point)")
      ->check(CLI::Range(host::kListCapRange.min, host::kListCapRange.max))
      ->capture_default_str();
  app.add_option("--memory-limit", a.memory_limit,
                 "Memory the run may use beyond the cloud itself, e.g. 2GiB or 500MB; a cloud "
                 "that needs more is denoised tile by tile, with the same result (default: a "
                 "quarter of the machine's memory)");
  app.add_option("--tile-size", a.options.tile_size,
                 "Largest tile side in length units (default: tiles only as the memory limit "
                 "needs them)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--threads", a.options.threads, "Threads; 0 uses every core")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  app.add_option("--extra", a.extra,
                 "Extra attributes to write, comma separated: sigma (noise_sigma), displacement, "
                 "normal (nx, ny, nz)")
      ->delimiter(',')
      ->check(CLI::IsMember({"sigma", "displacement", "normal"}));
  app.add_option("--report", a.report,
                 "Write a JSON report: effective parameters, estimates, timings, counts");
  app.add_option("--format", a.format, "Output format; default: from OUT's extension")
      ->check(CLI::IsMember({"ply", "xyz", "pcd", "las"}));
  app.add_option("--encoding", a.encoding,
                 "Output encoding; default: the input's when the format is the same, else binary")
      ->check(CLI::IsMember({"ascii", "binary", "binary_big_endian", "binary_compressed"}));
  app.add_flag("-f,--force", a.force, "Replace an existing OUT (never the input)");
  app.add_flag("--in-place", a.in_place, "Allow OUT to be IN itself, replacing it");
}

// Turns the parsed arguments into pipeline options; UsageError when they
// cannot work together.
void finish_options(DenoiseArgs& a) {
  host::DenoiseOptions& o = a.options;
  o.preset = host::preset_from_name(a.preset);
  for (const std::string& name : a.extra) {
    if (name == "sigma") o.output_sigma = true;
    if (name == "displacement") o.output_displacement = true;
    if (name == "normal") o.output_normal = true;
  }
  try {
    if (!a.memory_limit.empty()) o.memory_limit = host::parse_memory_size(a.memory_limit);
    host::validate_options(o);
  } catch (const host::DenoiseError& e) {
    throw UsageError(e.what());
  }
  if (!a.report.empty() && a.report != "-" && a.report == a.output)
    throw UsageError("--report: the report cannot go to OUT");
  if (a.report == "-" && a.output == "-")
    throw UsageError("--report: standard output already carries OUT");
}

void check_paths(const DenoiseArgs& a) {
  if (same_file(a.input, a.output)) {
    if (!a.in_place)
      throw OutputError("OUT: '" + a.output +
                        "' is the input file; refusing to replace it (use --in-place to do so)");
  } else {
    check_output_path(a.output, a.force, "OUT", {a.input});
  }
  if (!a.report.empty()) check_output_path(a.report, a.force, "--report", {a.input});
}

std::string describe_attributes(const host::PointCloud& cloud) {
  if (cloud.attributes.empty()) return "no other attributes";
  std::string text;
  for (const host::Attribute& attribute : cloud.attributes) {
    if (!text.empty()) text += ", ";
    text += attribute.name + " (" + host::scalar_type_name(attribute.type) + ")";
  }
  return text;
}

const char* source_of(bool estimated) { return estimated ? "estimated" : "given"; }

void print_summary(const Console& console, const host::DenoiseReport& r) {
  console.note("spacing {} ({}), noise sigma {} ({}, {:.2g} spacings)", format_length(r.spacing),
               source_of(r.spacing_estimated), format_length(r.sigma),
               source_of(r.sigma_estimated), r.sigma / r.spacing);
  if (r.noise_rounds > 0)
    console.detail("estimated in neighbourhoods of radius {} ({:.0f} points, {} radii tried)",
                   format_length(r.noise_radius), r.noise_fit_points, r.noise_rounds);
  if (r.preselect_size > 0)
    console.detail("windows: half-size {} to {}; frames from {} neighbours",
                   format_length(r.effective.base_size * r.window_unit),
                   format_length(r.preselect_size), r.effective.k);
  if (r.points - r.non_finite < 3)
    console.warn("fewer than 3 points with finite coordinates: written unchanged");
  if (r.non_finite > 0)
    console.warn("{} with non-finite coordinates left as they are",
                 count_of(r.non_finite, "point"));
  if (r.degenerate > 0 && r.points - r.non_finite >= 3)
    console.note("{} kept in place (degenerate neighbourhood)", count_of(r.degenerate, "point"));
  console.detail(
      "estimates: {:.2f} s; noise estimate skipped {} (too few neighbours) and {} "
      "(collinear)",
      r.estimate_seconds, count_of(r.noise_too_few_points, "position"), r.noise_collinear);
  if (r.tiles > 1)
    console.detail("tiles: {} (halo width {}, {:.2f} halo points per tile point)", r.tiles,
                   format_length(r.halo_width), r.halo_overhead);
  console.detail("memory: limit {}, peak {}", host::format_memory_size(r.memory_limit),
                 host::format_memory_size(r.peak_memory));
  for (size_t p = 0; p < r.passes.size(); ++p) {
    const host::PassReport& pass = r.passes[p];
    console.detail(
        "pass {}: neighbours {:.2f} s, denoising {:.2f} s, mean displacement {}, "
        "{} capped lists (longest {})",
        p + 1, pass.neighbor_seconds, pass.library_seconds, format_length(pass.mean_displacement),
        pass.capped_lists, pass.longest_list);
  }
}

void write_parameters(JsonWriter& json, const host::DenoiseReport& r) {
  const host::DenoiseOptions& o = r.effective;
  json.key("parameters").begin_object();
  json.member("sigma", o.sigma).member("sigma_estimated", r.sigma_estimated);
  json.member("spacing", o.spacing).member("spacing_estimated", r.spacing_estimated);
  json.member("preset", host::preset_name(o.preset));
  json.member("passes", o.passes).member("k", o.k);
  json.member("base_size", o.base_size).member("num_scales", o.num_scales);
  json.member("scale_ratio", o.scale_ratio).member("list_cap", o.list_cap);
  json.member("threads", o.threads > 0 ? o.threads : omp_get_max_threads());
  json.key("extra").begin_array();
  if (o.output_sigma) json.value("noise_sigma");
  if (o.output_displacement) json.value("displacement");
  if (o.output_normal) json.value("nx").value("ny").value("nz");
  json.end_array();
  json.member("size_norm", r.size_norm).member("library_base", r.library_base);
  json.member("preselect_size", r.preselect_size);
  json.end_object();
}

void write_passes(JsonWriter& json, const host::DenoiseReport& r) {
  json.key("passes").begin_array();
  for (const host::PassReport& pass : r.passes) {
    json.begin_object();
    json.member("neighbor_seconds", pass.neighbor_seconds);
    json.member("library_seconds", pass.library_seconds);
    json.member("capped_lists", pass.capped_lists).member("longest_list", pass.longest_list);
    json.member("degenerate", pass.degenerate);
    json.member("mean_displacement", pass.mean_displacement);
    json.end_object();
  }
  json.end_array();
}

std::string report_json(const DenoiseArgs& a, const std::vector<std::string>& attributes,
                        const host::DenoiseReport& r, const Timings& t, host::Format format) {
  JsonWriter json;
  json.begin_object();
  json.member("tool", "ici3d denoise").member("version", host::version_string());
  json.member("input", a.input).member("output", a.output);
  json.member("output_format", format_label(format));
  json.key("attributes").begin_array();
  for (const std::string& name : attributes) json.value(name);
  json.end_array();
  write_parameters(json, r);
  json.key("estimates").begin_object();
  json.member("spacing", r.spacing).member("sigma", r.sigma);
  json.member("noise_too_few_points", r.noise_too_few_points);
  json.member("noise_collinear", r.noise_collinear);
  json.member("noise_radius", r.noise_radius).member("noise_fit_points", r.noise_fit_points);
  json.member("noise_rounds", r.noise_rounds);
  json.member("window_unit", r.window_unit);
  json.member("smallest_window", r.effective.base_size * r.window_unit);
  json.member("largest_window", r.preselect_size);
  json.end_object();
  int64_t capped = 0;
  for (const host::PassReport& pass : r.passes) capped += pass.capped_lists;
  json.key("counts").begin_object();
  json.member("points", r.points).member("non_finite", r.non_finite);
  json.member("degenerate", r.degenerate).member("capped_lists", capped);
  json.end_object();
  json.key("tiles").begin_object();
  json.member("tiles", r.tiles).member("halo_width", r.halo_width);
  json.member("halo_overhead", r.halo_overhead);
  json.member("memory_limit", r.memory_limit).member("peak_memory", r.peak_memory);
  json.end_object();
  json.key("timings").begin_object();
  json.member("read_seconds", t.read).member("estimate_seconds", r.estimate_seconds);
  json.member("denoise_seconds", r.total_seconds).member("write_seconds", t.write);
  json.end_object();
  write_passes(json, r);
  json.end_object();
  return json.str();
}

void run_denoise(DenoiseArgs& a, const Console& console) {
  finish_options(a);
  // Standard output without --format gets the input's own format.
  const bool format_of_input = a.output == "-" && a.format.empty();
  const host::Format format =
      format_of_input ? host::Format::Auto : output_format(a.output, a.format, "OUT");
  check_paths(a);

  host::FileOptions file;
  file.write.format = format;
  if (!a.encoding.empty()) file.write.encoding = encoding_from_name(a.encoding);
  file.write.overwrite = a.force || a.in_place;
  file.write.overwrite_source = a.in_place;
  // The paths were checked above, so a file error before the cloud is read
  // is the input's, and one after it the output's.
  bool read = false;
  file.on_read = [&](const host::PointCloud& cloud) {
    read = true;
    console.note("{}: {}, {}", a.input, count_of(cloud.size(), "point"),
                 describe_attributes(cloud));
  };
  ProgressDisplay progress(ProgressDisplay::mode_for(console.quiet()), "denoising");
  a.options.progress = [&progress](const host::Progress& p) { progress.update(p); };
  host::FileReport r;
  try {
    r = host::denoise_file(a.input, a.output, a.options, file);
  } catch (const host::DenoiseError& e) {
    throw InputError(e.what());
  } catch (const host::IoError& e) {
    if (read) throw OutputError(e.what());
    throw InputError(e.what());
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    if (read) throw;
    throw InputError(a.input + ": " + e.what());
  }
  progress.finish();
  console.detail("read in {:.2f} s", r.read_seconds);
  print_summary(console, r.denoise);
  Timings timings;
  timings.read = r.read_seconds;
  timings.write = r.write_seconds;
  if (!a.report.empty())
    save_text(a.report, report_json(a, r.attributes, r.denoise, timings, r.format));
  console.note("wrote {} ({:.1f} s)", a.output == "-" ? "standard output" : a.output,
               r.denoise.total_seconds + timings.read + timings.write);
}

}  // namespace

Command add_denoise_command(CLI::App& parent, const GlobalOptions& global) {
  CLI::App* app = parent.add_subcommand(
      "denoise", "Denoise a point cloud; every other attribute and the point order are kept");
  auto args = std::make_shared<DenoiseArgs>();
  add_options(*app, *args);
  return {app, [args, &global] { run_denoise(*args, Console(global)); }};
}

}  // namespace ici3d::cli
