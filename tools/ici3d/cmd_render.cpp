// ici3d render IN... -o OUT.png: shaded pictures of clouds side by side.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>

#include "cli_common.h"
#include "ici3d_shapes/analytic.h"
#include "render.h"

namespace ici3d::cli {

namespace {

struct RenderArgs {
  std::vector<std::string> inputs;
  std::string output, colour_by, shape;
  std::vector<double> range;
  std::vector<std::string> labels;
  RenderSettings settings;
  int panel_width = 600;
  int width = 0;
  bool force = false;
};

// Values of the colouring attribute, or none when the cloud lacks it.
std::vector<double> attribute_values(const host::PointCloud& cloud, const std::string& name) {
  std::vector<double> values;
  const host::Attribute* attribute = cloud.find_attribute(name);
  if (!attribute) return values;
  values.resize(cloud.size());
  for (size_t i = 0; i < values.size(); ++i) values[i] = attribute->as_double(i);
  return values;
}

// The cloud's own colours scaled to [0, 1], or none: red, green and blue
// attributes (8-bit when none exceeds 255, 16-bit as in LAS otherwise, and
// taken as they are when they are floats up to 1), or a PCD packed "rgb".
std::vector<float> own_colours(const host::PointCloud& cloud) {
  std::vector<float> colours;
  const host::Attribute* channels[3] = {cloud.find_attribute("red"), cloud.find_attribute("green"),
                                        cloud.find_attribute("blue")};
  if (channels[0] && channels[1] && channels[2]) {
    double top = 0;
    bool floating = false;
    for (const host::Attribute* channel : channels) {
      floating = floating || host::is_floating(channel->type);
      for (size_t i = 0; i < cloud.size(); ++i)
        if (std::isfinite(channel->as_double(i))) top = std::max(top, channel->as_double(i));
    }
    const double full = floating && top <= 1 ? 1.0 : top <= 255 ? 255.0 : 65535.0;
    colours.resize(3 * cloud.size());
    for (size_t i = 0; i < cloud.size(); ++i)
      for (int k = 0; k < 3; ++k) colours[3 * i + k] = static_cast<float>(channels[k]->as_double(i) / full);
    return colours;
  }
  const host::Attribute* packed = cloud.find_attribute("rgb");
  if (packed && host::scalar_size(packed->type) == 4) {
    colours.resize(3 * cloud.size());
    for (size_t i = 0; i < cloud.size(); ++i) {
      uint32_t bits;
      std::memcpy(&bits, packed->bytes.data() + 4 * i, 4);
      for (int k = 0; k < 3; ++k) colours[3 * i + k] = static_cast<float>((bits >> (16 - 8 * k)) & 0xFF) / 255.0f;
    }
  }
  return colours;
}

std::vector<double> surface_distances(const std::vector<double>& xyz, const shapes::Shape& shape) {
  std::vector<double> values(xyz.size() / 3);
  for (size_t i = 0; i < values.size(); ++i)
    values[i] = shape.distance({xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]});
  return values;
}

std::vector<RenderInput> load_inputs(const RenderArgs& a, const Console& console) {
  std::vector<RenderInput> clouds;
  const std::optional<shapes::Shape> shape =
      a.shape.empty() ? std::nullopt : std::optional<shapes::Shape>(shapes::Shape::make(a.shape));
  bool any_coloured = false;
  for (const std::string& input : a.inputs) {
    host::PointCloud cloud = load_cloud(input);
    RenderInput render_input;
    if (a.colour_by == "rgb") {
      render_input.colours = own_colours(cloud);
      if (render_input.colours.empty())
        console.warn("{}: no red, green and blue attributes; drawn uncoloured", input);
      any_coloured = any_coloured || !render_input.colours.empty();
    } else if (!a.colour_by.empty()) {
      render_input.values = attribute_values(cloud, a.colour_by);
      if (render_input.values.empty())
        console.warn("{}: no attribute '{}'; drawn uncoloured", input, a.colour_by);
      any_coloured = any_coloured || !render_input.values.empty();
    }
    if (shape) render_input.values = surface_distances(cloud.xyz, *shape);
    const size_t k = clouds.size();
    render_input.label =
        k < a.labels.size() ? a.labels[k] : std::filesystem::path(input).filename().string();
    render_input.xyz = std::move(cloud.xyz);
    clouds.push_back(std::move(render_input));
  }
  if (!a.colour_by.empty() && !any_coloured)
    throw InputError(a.colour_by == "rgb" ? std::string("--color-by rgb: no input has red, green and blue attributes")
                                          : "--color-by: no input has an attribute '" + a.colour_by + "'");
  return clouds;
}

void run_render(RenderArgs& a, const Console& console) {
  if (a.output == "-") throw UsageError("--output: name a PNG file");
  check_output_path(a.output, a.force, "--output", a.inputs);
  RenderSettings settings = a.settings;
  settings.width = a.width > 0 ? a.width : a.panel_width * static_cast<int>(a.inputs.size());
  if (a.range.size() == 2) {
    settings.value_min = a.range[0];
    settings.value_max = a.range[1];
    if (!(a.range[1] > a.range[0])) throw UsageError("--range: MAX must exceed MIN");
  }
  if (!a.labels.empty() && a.labels.size() != a.inputs.size())
    throw UsageError("--labels: give one label per input");
  settings.value_label = a.shape.empty() ? a.colour_by : "distance to the true surface";
  if (a.colour_by == "rgb") settings.value_label.clear();
  if (settings.width < 8 * static_cast<int>(a.inputs.size()))
    throw UsageError("--width: at least 8 pixels per cloud");
  const std::vector<RenderInput> clouds = load_inputs(a, console);
  const Image image = render_side_by_side(clouds, settings);
  save_text(a.output, encode_png(image));
  console.note("wrote {} ({} x {})", a.output, image.width, image.height);
}

}  // namespace

Command add_render_command(CLI::App& parent, const GlobalOptions& global) {
  CLI::App* app = parent.add_subcommand(
      "render", "Draw clouds side by side, from the same orthographic camera, into a PNG");
  auto a = std::make_shared<RenderArgs>();
  RenderSettings& s = a->settings;
  app->add_option("IN", a->inputs, "Clouds, drawn left to right")->required();
  app->add_option("-o,--output", a->output, "PNG file to write")->required();
  app->add_option("--width", a->width, "Image width in pixels; default: 600 per cloud")
      ->check(CLI::Range(0, 32768));
  app->add_option("--height", s.height, "Image height in pixels")
      ->check(CLI::Range(8, 32768))
      ->capture_default_str();
  app->add_option("--azimuth", s.azimuth_deg,
                  "Camera turn about the vertical z axis, degrees (0 looks along +y)")
      ->capture_default_str();
  app->add_option("--elevation", s.elevation_deg, "Camera height above the horizon, degrees")
      ->check(CLI::Range(-89.0, 89.0))
      ->capture_default_str();
  app->add_option("--color-by", a->colour_by,
                  "Colour points by this attribute (e.g. displacement, noise_sigma), or by their "
                  "own colours with rgb (red, green, blue attributes: PLY, PCD, LAS)");
  app->add_option("--shape", a->shape,
                  "Colour points by their distance to the true surface of this synth shape")
      ->check(CLI::IsMember(shapes::Shape::names()))
      ->excludes("--color-by");
  app->add_option("--range", a->range,
                  "MIN,MAX of the colour scale; default: 2nd to 98th percentile")
      ->delimiter(',')
      ->expected(2);
  app->add_option("--labels", a->labels, "Panel titles, comma separated; default: file names")
      ->delimiter(',');
  app->add_flag("!--no-labels", s.labels, "No titles and no colour scale");
  app->add_option("--point-size", s.point_radius,
                  "Splat radius in pixels; 0 sizes splats from the point spacing")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  app->add_option("--threads", s.threads, "Threads; 0 uses every core")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  app->add_flag("-f,--force", a->force, "Replace an existing output file");
  return {app, [a, &global] { run_render(*a, Console(global)); }};
}

}  // namespace ici3d::cli
