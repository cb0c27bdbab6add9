#pragma once
// Orthographic, shaded point rendering of one or several clouds side by side,
// all seen from the same camera at the same scale, and PNG encoding.

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace ici3d::cli {

struct RenderInput {
  std::vector<double> xyz;     // 3n, interleaved; non-finite points are skipped
  std::vector<double> values;  // empty, or one per point: coloured by value (NaN: uncoloured)
  std::vector<float> colours;  // empty, or r, g, b in [0, 1] per point: the cloud's own colours
  std::string label;           // drawn above the panel
};

struct RenderSettings {
  int width = 1200, height = 600;  // the whole image; each cloud gets an equal share of the width
  double azimuth_deg = 30;         // camera turned about the vertical (z) axis
  double elevation_deg = 25;       // camera raised above the horizontal plane
  double point_radius = 0;         // splat radius in pixels; 0: from each cloud's spacing
  double value_min = std::numeric_limits<double>::quiet_NaN();  // colour range; NaN: the
  double value_max = std::numeric_limits<double>::quiet_NaN();  // 2nd/98th percentiles
  bool labels = true;       // panel labels, and a colour scale when colouring
  std::string value_label;  // the colour scale's caption
  int threads = 0;
};

struct Image {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // row-major, 3 bytes per pixel
};

/// Throws std::invalid_argument for sizes that cannot hold the panels.
Image render_side_by_side(const std::vector<RenderInput>& clouds, const RenderSettings& settings);

/// The image as a PNG file's bytes (8-bit RGB); std::runtime_error on failure.
std::string encode_png(const Image& image);

}  // namespace ici3d::cli
