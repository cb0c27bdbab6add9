// ici3d synth SHAPE OUT: a seeded noisy sample of a known surface, and its
// clean copy.

#include <CLI/CLI.hpp>
#include <filesystem>
#include <memory>

#include "cli_common.h"
#include "ici3d_shapes/analytic.h"

namespace ici3d::cli {

namespace {

struct SynthArgs {
  std::string shape, output, clean, format;
  size_t points = 20000;
  double noise = 0.01;
  uint64_t seed = 1;
  bool no_clean = false, force = false;
};

// "dir/part.ply" -> "dir/part.clean.ply".
std::string default_clean_path(const std::string& output) {
  std::filesystem::path path(output);
  const std::string extension = path.extension().string();
  path.replace_extension();
  return path.string() + ".clean" + extension;
}

host::PointCloud cloud_of(std::vector<double> xyz) {
  host::PointCloud cloud;
  cloud.xyz = std::move(xyz);
  return cloud;
}

void run_synth(SynthArgs& a, const Console& console) {
  const shapes::Shape shape = shapes::Shape::make(a.shape);
  const host::Format format = output_format(a.output, a.format, "OUT");
  std::string clean = a.no_clean ? std::string() : a.clean;
  if (!a.no_clean && clean.empty()) {
    if (a.output == "-")
      throw UsageError("--clean: name the clean copy's file (or --no-clean) when OUT is -");
    clean = default_clean_path(a.output);
  }
  if (!clean.empty() && clean == a.output) throw UsageError("--clean: must differ from OUT");
  const host::Format clean_format =
      clean.empty() ? format : output_format(clean, a.format, "--clean");
  check_output_path(a.output, a.force, "OUT");
  if (!clean.empty()) check_output_path(clean, a.force, "--clean");

  // The seed fixes the surface points first, then the noise, so the clean
  // copy is the noisy cloud's exact ground truth.
  shapes::SeededRandom random(a.seed);
  std::vector<double> surface = shape.sample(a.points, random);
  host::PointCloud noisy = cloud_of(shapes::add_gaussian_noise(surface, a.noise, random));
  host::WriteOptions write;
  write.overwrite = a.force;
  write.format = format;
  save_cloud(a.output, noisy, write);
  if (!clean.empty()) {
    write.format = clean_format;
    save_cloud(clean, cloud_of(std::move(surface)), write);
  }
  console.note("{}: {} on the {} (area {:.4g}), noise sigma {} per coordinate, seed {}",
               a.output == "-" ? "standard output" : a.output, count_of(a.points, "point"), a.shape,
               shape.area(), format_length(a.noise), a.seed);
  if (!clean.empty()) console.note("clean copy: {}", clean);
}

}  // namespace

Command add_synth_command(CLI::App& parent, const GlobalOptions& global) {
  CLI::App* app = parent.add_subcommand(
      "synth", "Sample a known surface with Gaussian noise (seeded) and write its clean copy");
  auto a = std::make_shared<SynthArgs>();
  app->add_option("SHAPE", a->shape,
                  "sphere (radius 1), cube (side 2) or part (machined block, 2 x 1.2 x 0.8, "
                  "with a step and a bore)")
      ->required()
      ->check(CLI::IsMember(shapes::Shape::names()));
  app->add_option("OUT", a->output, "Noisy cloud; - for standard output (needs --format)")
      ->required();
  app->add_option("-n,--points", a->points, "Number of points")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  app->add_option("--noise", a->noise,
                  "Noise standard deviation per coordinate, in the shape's length unit")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  app->add_option("--seed", a->seed, "Seed of the random generator")->capture_default_str();
  app->add_option("--clean", a->clean,
                  "Clean copy (the same points without noise); default: OUT "
                  "with .clean before the extension");
  app->add_flag("--no-clean", a->no_clean, "Do not write the clean copy")->excludes("--clean");
  app->add_option("--format", a->format, "Format of both files; default: from the extensions")
      ->check(CLI::IsMember({"ply", "xyz", "pcd", "las"}));
  app->add_flag("-f,--force", a->force, "Replace existing files");
  return {app, [a, &global] { run_synth(*a, Console(global)); }};
}

}  // namespace ici3d::cli
