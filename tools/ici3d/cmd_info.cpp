// ici3d info IN: what a cloud holds and how noisy it looks.

#include <CLI/CLI.hpp>
#include <cmath>
#include <limits>
#include <memory>

#include "cli_common.h"
#include "ici3d_host/denoise.h"
#include "ici3d_host/points.h"
#include "json.h"

namespace ici3d::cli {

namespace {

struct InfoArgs {
  std::string input;
  bool json = false;
  int threads = 0;
};

struct BoundingBox {
  double lo[3], hi[3];
  bool empty() const { return !(lo[0] <= hi[0]); }
};

BoundingBox bounding_box(const std::vector<double>& xyz) {
  BoundingBox box;
  for (int c = 0; c < 3; ++c) {
    box.lo[c] = std::numeric_limits<double>::infinity();
    box.hi[c] = -box.lo[c];
  }
  for (size_t i = 0; i + 2 < xyz.size(); i += 3) {
    if (!host::is_finite_point(&xyz[i])) continue;
    for (int c = 0; c < 3; ++c) {
      // Adding zero turns -0 into 0 for printing.
      box.lo[c] = std::min(box.lo[c], xyz[i + c] + 0.0);
      box.hi[c] = std::max(box.hi[c], xyz[i + c] + 0.0);
    }
  }
  return box;
}

// Fraction of the noise estimate's sampled neighbourhoods on which no plane
// could be fitted (too few distinct points, or all on a line).
double degenerate_fraction(const host::CloudEstimates& e) {
  if (e.noise_samples == 0) return std::numeric_limits<double>::quiet_NaN();
  return static_cast<double>(e.noise_too_few_points + e.noise_collinear) /
         static_cast<double>(e.noise_samples);
}

// LAS files: version, point format, scale and offset, and the VLRs.
void las_json(JsonWriter& json, const host::LasLayout& las) {
  json.key("las").begin_object();
  json.member("version", fmt::format("{}.{}", las.version_major, las.version_minor));
  json.member("point_format", static_cast<int>(las.point_format));
  json.member("record_length", static_cast<int>(las.record_length));
  json.key("scale").begin_array().value(las.scale[0]).value(las.scale[1]).value(las.scale[2]).end_array();
  json.key("offset").begin_array().value(las.offset[0]).value(las.offset[1]).value(las.offset[2]).end_array();
  json.key("records").begin_array();
  for (const host::LasRecordInfo& record : las.records) {
    json.begin_object().member("user_id", record.user_id).member("record_id", static_cast<int>(record.record_id));
    json.member("length", record.length).member("description", record.description);
    json.member("extended", record.extended).end_object();
  }
  json.end_array().end_object();
}

std::string las_text(const host::LasLayout& las) {
  std::string out = fmt::format("las:         version {}.{}, point format {}, {}-byte records\n", las.version_major,
                                las.version_minor, las.point_format, las.record_length);
  out += fmt::format("scale:       {} {} {}\n", las.scale[0], las.scale[1], las.scale[2]);
  out += fmt::format("offset:      {} {} {}\n", las.offset[0], las.offset[1], las.offset[2]);
  out += fmt::format("vlrs:        {}\n", las.records.size());
  for (const host::LasRecordInfo& record : las.records)
    out += fmt::format("  {:<4} {:<16} {:>5}  {:>8} bytes  {}\n", record.extended ? "EVLR" : "VLR", record.user_id,
                       record.record_id, record.length, record.description);
  return out;
}

std::string info_json(const InfoArgs& a, const host::PointCloud& cloud,
                      const host::CloudEstimates& e, const BoundingBox& box) {
  JsonWriter json;
  json.begin_object();
  json.member("file", a.input);
  json.member("format", format_label(cloud.layout.format));
  json.member("encoding", encoding_label(cloud.layout.encoding));
  json.member("points", cloud.size());
  if (cloud.layout.format == host::Format::Las) las_json(json, cloud.layout.las);
  json.member("non_finite", cloud.size() - e.finite);
  json.key("bounding_box");
  if (box.empty()) {
    json.begin_object().end_object();
  } else {
    json.begin_object();
    json.key("min").begin_array().value(box.lo[0]).value(box.lo[1]).value(box.lo[2]).end_array();
    json.key("max").begin_array().value(box.hi[0]).value(box.hi[1]).value(box.hi[2]).end_array();
    json.end_object();
  }
  json.key("attributes").begin_array();
  for (const host::Attribute& attribute : cloud.attributes) {
    json.begin_object().member("name", attribute.name);
    json.member("type", host::scalar_type_name(attribute.type)).end_object();
  }
  json.end_array();
  json.member("spacing", e.spacing).member("noise_sigma", e.sigma);
  json.member("duplicates", e.duplicates);
  json.member("noise_samples", e.noise_samples);
  json.member("noise_radius", e.noise_radius).member("noise_fit_points", e.noise_fit_points);
  json.member("noise_rounds", e.noise_rounds);
  json.member("degenerate_fraction", degenerate_fraction(e));
  json.end_object();
  return json.str();
}

std::string info_text(const InfoArgs& a, const host::PointCloud& cloud,
                      const host::CloudEstimates& e, const BoundingBox& box) {
  std::string out = fmt::format("file:        {}\n", a.input);
  out += fmt::format("format:      {} {}\n", format_label(cloud.layout.format),
                     encoding_label(cloud.layout.encoding));
  if (cloud.layout.format == host::Format::Las) out += las_text(cloud.layout.las);
  out += fmt::format("points:      {} ({} with non-finite coordinates)\n", cloud.size(),
                     cloud.size() - e.finite);
  if (box.empty()) {
    out += "bounds:      none\n";
  } else {
    out += fmt::format("bounds min:  {:.6g} {:.6g} {:.6g}\n", box.lo[0], box.lo[1], box.lo[2]);
    out += fmt::format("bounds max:  {:.6g} {:.6g} {:.6g}\n", box.hi[0], box.hi[1], box.hi[2]);
    out += fmt::format("size:        {:.6g} x {:.6g} x {:.6g}\n", box.hi[0] - box.lo[0],
                       box.hi[1] - box.lo[1], box.hi[2] - box.lo[2]);
  }
  out += fmt::format("attributes:  {}\n", cloud.attributes.size());
  for (const host::Attribute& attribute : cloud.attributes)
    out += fmt::format("  {:<16} {}\n", attribute.name, host::scalar_type_name(attribute.type));
  out += fmt::format("spacing:     {}\n", format_length(e.spacing));
  out += fmt::format("noise sigma: {}\n", format_length(e.sigma));
  if (e.noise_rounds > 0)
    out += fmt::format("estimated in neighbourhoods of radius {} ({:.0f} points, {} radii tried)\n",
                       format_length(e.noise_radius), e.noise_fit_points, e.noise_rounds);
  out += fmt::format("duplicates:  {}\n", e.duplicates);
  const double degenerate = degenerate_fraction(e);
  out += std::isfinite(degenerate)
             ? fmt::format("degenerate:  {:.2f}% of {} sampled neighbourhoods\n", 100 * degenerate,
                           e.noise_samples)
             : std::string("degenerate:  n/a\n");
  return out;
}

void run_info(const InfoArgs& a) {
  const host::PointCloud cloud = load_cloud(a.input);
  const host::CloudEstimates estimates = host::estimate_cloud(cloud.xyz, a.threads);
  const BoundingBox box = bounding_box(cloud.xyz);
  save_text("-",
            a.json ? info_json(a, cloud, estimates, box) : info_text(a, cloud, estimates, box));
}

}  // namespace

Command add_info_command(CLI::App& parent, const GlobalOptions&) {
  CLI::App* app = parent.add_subcommand(
      "info", "Describe a cloud: points, bounds, attributes, spacing and noise estimates");
  auto args = std::make_shared<InfoArgs>();
  app->add_option("IN", args->input, "Cloud to describe (- for standard input)")->required();
  app->add_flag("--json", args->json, "Print JSON instead of text");
  app->add_option("--threads", args->threads, "Threads; 0 uses every core")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  return {app, [args] { run_info(*args); }};
}

}  // namespace ici3d::cli
