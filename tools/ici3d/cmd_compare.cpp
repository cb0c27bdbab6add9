// ici3d compare --shape NAME IN...: distance of each cloud to the exact
// surface of a synthetic shape.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "cli_common.h"
#include "ici3d_host/points.h"
#include "ici3d_shapes/analytic.h"
#include "json.h"

namespace ici3d::cli {

namespace {

struct CompareArgs {
  std::string shape;
  std::vector<std::string> inputs;
  bool json = false;
};

struct SurfaceDistances {
  size_t points = 0;
  size_t measured = 0;  // points with finite coordinates
  double mean = std::numeric_limits<double>::quiet_NaN();
  double rms = std::numeric_limits<double>::quiet_NaN();
  double max = std::numeric_limits<double>::quiet_NaN();
};

SurfaceDistances measure(const shapes::Shape& shape, const std::vector<double>& xyz) {
  SurfaceDistances d;
  d.points = xyz.size() / 3;
  double sum = 0, sum_squares = 0, largest = 0;
  for (size_t i = 0; i < d.points; ++i) {
    const shapes::Vec3 p{xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]};
    if (!host::is_finite_point(p.data())) continue;
    const double distance = shape.distance(p);
    sum += distance;
    sum_squares += distance * distance;
    largest = std::max(largest, distance);
    ++d.measured;
  }
  if (d.measured > 0) {
    d.mean = sum / static_cast<double>(d.measured);
    d.rms = std::sqrt(sum_squares / static_cast<double>(d.measured));
    d.max = largest;
  }
  return d;
}

std::string as_json(const CompareArgs& a, const std::vector<SurfaceDistances>& results) {
  JsonWriter json;
  json.begin_object().member("shape", a.shape).key("clouds").begin_array();
  for (size_t k = 0; k < results.size(); ++k) {
    const SurfaceDistances& d = results[k];
    json.begin_object().member("file", a.inputs[k]).member("points", d.points);
    json.member("measured", d.measured).member("mean_distance", d.mean);
    json.member("rms_distance", d.rms).member("max_distance", d.max).end_object();
  }
  json.end_array().end_object();
  return json.str();
}

std::string as_table(const CompareArgs& a, const std::vector<SurfaceDistances>& results) {
  size_t width = 4;
  for (const std::string& input : a.inputs) width = std::max(width, input.size());
  std::string out = fmt::format("distance to the true surface of the {}\n", a.shape);
  out += fmt::format("{:<{}}  {:>9}  {:>11}  {:>11}  {:>11}\n", "file", width, "points", "mean",
                     "rms", "max");
  for (size_t k = 0; k < results.size(); ++k) {
    const SurfaceDistances& d = results[k];
    out += fmt::format("{:<{}}  {:>9}  {:>11}  {:>11}  {:>11}\n", a.inputs[k], width, d.measured,
                       format_length(d.mean), format_length(d.rms), format_length(d.max));
  }
  return out;
}

void run_compare(const CompareArgs& a) {
  const shapes::Shape shape = shapes::Shape::make(a.shape);
  std::vector<SurfaceDistances> results;
  for (const std::string& input : a.inputs)
    results.push_back(measure(shape, load_cloud(input).xyz));
  save_text("-", a.json ? as_json(a, results) : as_table(a, results));
}

}  // namespace

Command add_compare_command(CLI::App& parent, const GlobalOptions&) {
  CLI::App* app = parent.add_subcommand(
      "compare", "Distance of clouds to the exact surface of a synth shape (mean, rms, max)");
  auto a = std::make_shared<CompareArgs>();
  app->add_option("--shape", a->shape, "The shape the clouds sample (as given to synth)")
      ->required()
      ->check(CLI::IsMember(shapes::Shape::names()));
  app->add_option("IN", a->inputs, "Clouds to measure")->required();
  app->add_flag("--json", a->json, "Print JSON instead of a table");
  return {app, [a] { run_compare(*a); }};
}

}  // namespace ici3d::cli
