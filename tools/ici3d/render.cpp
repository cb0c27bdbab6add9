#include "render.h"

#include <fmt/core.h>
#include <omp.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "bitmap_text.h"
#include "ici3d.h"
#include "ici3d_host/estimate.h"
#include "ici3d_host/neighbors.h"
#include "ici3d_host/points.h"

namespace ici3d::cli {

namespace {

using Vec3 = std::array<double, 3>;
using Rgb = std::array<double, 3>;  // 0..1

constexpr int kSupersample = 2;   // splats are drawn at twice the size, then averaged
constexpr double kMargin = 0.04;  // of each panel's size, on every side
constexpr int kNormalNeighbors = 16;
constexpr double kSplatSpacings =
    2.5;  // splat radius: covers randomly sampled surfaces without holes
constexpr double kDepthTolerance = 2;  // splat radii behind the front still blended in
const Rgb kSurface{0.78, 0.80, 0.86};
const Rgb kBackground{1, 1, 1};
const Rgb kSeparator{0.75, 0.75, 0.75};
const std::array<uint8_t, 3> kTextColour{40, 40, 40};

double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

Vec3 normalized(const Vec3& v) {
  const double length = std::sqrt(dot(v, v));
  return {v[0] / length, v[1] / length, v[2] / length};
}

// Orthonormal camera axes: `toward` points from the scene to the camera.
struct Camera {
  Vec3 toward, right, up, light;
};

Camera make_camera(double azimuth_deg, double elevation_deg) {
  constexpr double kDegree = 3.14159265358979323846 / 180;
  const double az = azimuth_deg * kDegree;
  const double el = std::clamp(elevation_deg, -89.0, 89.0) * kDegree;
  Camera c;
  c.toward = {std::cos(el) * std::sin(az), -std::cos(el) * std::cos(az), std::sin(el)};
  c.right = {std::cos(az), std::sin(az), 0};
  c.up = {-std::sin(el) * std::sin(az), std::sin(el) * std::cos(az), std::cos(el)};
  // Light from above the camera: top, front and side faces get distinct shades.
  for (int k = 0; k < 3; ++k) c.light[k] = c.toward[k] - 0.1 * c.right[k] + 0.5 * c.up[k];
  c.light = normalized(c.light);
  return c;
}

// Where the clouds sit on screen: one centre and one scale for all panels.
struct Framing {
  Vec3 centre{0, 0, 0};  // world point drawn at each panel's centre
  double scale = 1;      // pixels per length unit
};

Framing frame_clouds(const std::vector<RenderInput>& clouds, const Camera& cam, int panel_w,
                     int panel_h) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  double lo[2] = {inf, inf}, hi[2] = {-inf, -inf};
  for (const RenderInput& cloud : clouds) {
    for (size_t i = 0; i + 2 < cloud.xyz.size(); i += 3) {
      const double* p = &cloud.xyz[i];
      if (!host::is_finite_point(p)) continue;
      const Vec3 q{p[0], p[1], p[2]};
      const double uv[2] = {dot(q, cam.right), dot(q, cam.up)};
      for (int k = 0; k < 2; ++k) {
        lo[k] = std::min(lo[k], uv[k]);
        hi[k] = std::max(hi[k], uv[k]);
      }
    }
  }
  Framing f;
  if (!(lo[0] <= hi[0])) return f;  // nothing to draw
  const double mid_u = 0.5 * (lo[0] + hi[0]), mid_v = 0.5 * (lo[1] + hi[1]);
  for (int k = 0; k < 3; ++k) f.centre[k] = mid_u * cam.right[k] + mid_v * cam.up[k];
  const double usable_w = panel_w * (1 - 2 * kMargin), usable_h = panel_h * (1 - 2 * kMargin);
  const double extent_u = hi[0] - lo[0], extent_v = hi[1] - lo[1];
  f.scale = std::numeric_limits<double>::infinity();
  if (extent_u > 0) f.scale = usable_w / extent_u;
  if (extent_v > 0) f.scale = std::min(f.scale, usable_h / extent_v);
  if (!std::isfinite(f.scale)) f.scale = 1;  // a single position
  return f;
}

// Unit normals from the frames of the nearest neighbours (NaN where the
// neighbourhood has no plane).
std::vector<float> estimate_normals(const std::vector<float>& points, int threads) {
  const int32_t n = static_cast<int32_t>(points.size() / 3);
  std::vector<float> normals(points.size(), std::numeric_limits<float>::quiet_NaN());
  if (n < 3) return normals;
  const host::KnnTable knn =
      host::knn_table(points.data(), n, std::min(kNormalNeighbors, n), threads);
#pragma omp parallel for schedule(static) num_threads(threads > 0 ? threads : omp_get_max_threads())
  for (int32_t i = 0; i < n; ++i) {
    int32_t axes[3];
    float frame[9];
    local_coordinate_for_ici_c(points.data(), knn.indices.data(), i, knn.k, n, axes, frame);
    for (int c = 0; c < 3; ++c) normals[3 * static_cast<size_t>(i) + c] = frame[3 * c + axes[2]];
  }
  return normals;
}

// One splat radius for every panel, so that they compare: the largest the
// clouds' spacings call for.
double splat_radius(const std::vector<RenderInput>& clouds, const RenderSettings& settings,
                    double scale) {
  if (settings.point_radius > 0) return settings.point_radius;
  double spacing = 0;
  for (const RenderInput& cloud : clouds) {
    const double h =
        host::estimate_spacing(cloud.xyz.data(), cloud.xyz.size() / 3, 20000, settings.threads);
    if (h > 0 && std::isfinite(h)) spacing = std::max(spacing, h);
  }
  if (!(spacing > 0)) return 2.0;
  return std::clamp(kSplatSpacings * spacing * scale, 0.6, 50.0);
}

struct ColourRange {
  bool active = false;
  double lo = 0, hi = 1;
};

double percentile(std::vector<double>& values, double fraction) {
  const size_t k = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1));
  std::nth_element(values.begin(), values.begin() + static_cast<long>(k), values.end());
  return values[k];
}

ColourRange colour_range(const std::vector<RenderInput>& clouds, const RenderSettings& s) {
  ColourRange range;
  std::vector<double> all;
  for (const RenderInput& cloud : clouds) {
    for (double v : cloud.values) {
      if (std::isfinite(v)) all.push_back(v);
    }
  }
  range.active = !all.empty();
  if (!range.active) return range;
  // Values that cannot be negative (distances, noise levels) start at zero.
  const bool non_negative = *std::min_element(all.begin(), all.end()) >= 0;
  range.lo = !std::isnan(s.value_min) ? s.value_min : non_negative ? 0.0 : percentile(all, 0.02);
  range.hi = std::isnan(s.value_max) ? percentile(all, 0.98) : s.value_max;
  if (!(range.hi > range.lo)) range.hi = range.lo + 1;
  return range;
}

// Perceptually ordered colours from dark blue through green to yellow.
Rgb colour_map(double t) {
  static const double stops[9][3] = {{68, 1, 84},    {71, 44, 122},  {59, 81, 139},
                                     {44, 113, 142}, {33, 144, 141}, {39, 173, 129},
                                     {92, 200, 99},  {170, 220, 50}, {253, 231, 37}};
  t = std::clamp(t, 0.0, 1.0) * 8;
  const int k = std::min(static_cast<int>(t), 7);
  const double w = t - k;
  Rgb c;
  for (int j = 0; j < 3; ++j) c[j] = ((1 - w) * stops[k][j] + w * stops[k + 1][j]) / 255;
  return c;
}

// Lambert shading with a little ambient and specular light; normals are
// turned towards the camera (their sign is arbitrary).
Rgb shade(const float* normal, const Rgb& base, const Camera& cam, double ambient) {
  Vec3 n{normal[0], normal[1], normal[2]};
  if (!host::is_finite_point(normal)) n = cam.toward;
  if (dot(n, cam.toward) < 0) n = {-n[0], -n[1], -n[2]};
  const double diffuse = std::max(0.0, dot(n, cam.light));
  Vec3 half;
  for (int k = 0; k < 3; ++k) half[k] = cam.light[k] + cam.toward[k];
  const double specular = 0.2 * std::pow(std::max(0.0, dot(n, normalized(half))), 40);
  Rgb c;
  for (int k = 0; k < 3; ++k)
    c[k] = std::min(1.0, base[k] * (ambient + (1 - ambient) * diffuse) + specular);
  return c;
}

// A point as drawn: position in supersampled pixels, depth towards the
// camera (length units) and shaded colour.
struct Splat {
  double x, y, depth;
  Rgb colour;
};

std::vector<Splat> project_points(const RenderInput& cloud, const std::vector<float>& normals,
                                  const Camera& cam, const Framing& f, const ColourRange& range,
                                  double panel_w, double panel_h) {
  const double scale = f.scale * kSupersample;
  std::vector<Splat> splats;
  splats.reserve(cloud.xyz.size() / 3);
  for (size_t i = 0; i < cloud.xyz.size() / 3; ++i) {
    const double* p = &cloud.xyz[3 * i];
    if (!host::is_finite_point(p)) continue;
    const Vec3 q{p[0] - f.centre[0], p[1] - f.centre[1], p[2] - f.centre[2]};
    // Colours keep more of their value under the shading than plain grey.
    Rgb base = kSurface;
    double ambient = 0.25;
    if (range.active && !cloud.values.empty() && std::isfinite(cloud.values[i])) {
      base = colour_map((cloud.values[i] - range.lo) / (range.hi - range.lo));
      ambient = 0.45;
    } else if (!cloud.colours.empty()) {
      for (int k = 0; k < 3; ++k) base[k] = std::clamp(static_cast<double>(cloud.colours[3 * i + k]), 0.0, 1.0);
      ambient = 0.45;
    }
    splats.push_back({dot(q, cam.right) * scale + 0.5 * panel_w * kSupersample,
                      0.5 * panel_h * kSupersample - dot(q, cam.up) * scale, dot(q, cam.toward),
                      shade(&normals[3 * i], base, cam, ambient)});
  }
  return splats;
}

// A panel drawn at kSupersample times the image resolution: per pixel the
// depth of the front-most splat, then the weighted sum of the colours of the
// splats close enough behind it to belong to the same surface.
struct PanelBuffer {
  int w = 0, h = 0;
  std::vector<float> front;  // depth; -inf where nothing was drawn
  std::vector<float> sum;    // r, g, b, weight per pixel
  PanelBuffer(int width, int height)
      : w(width),
        h(height),
        front(static_cast<size_t>(width) * height, -std::numeric_limits<float>::infinity()),
        sum(4 * static_cast<size_t>(width) * height, 0.0f) {}
};

// Calls visit(pixel, squared distance / r^2) for every pixel the disc covers.
template <class Visit>
void for_each_covered_pixel(const PanelBuffer& buffer, const Splat& s, double r, Visit&& visit) {
  const int y0 = std::max(0, static_cast<int>(std::floor(s.y - r)));
  const int y1 = std::min(buffer.h - 1, static_cast<int>(std::ceil(s.y + r)));
  const int x0 = std::max(0, static_cast<int>(std::floor(s.x - r)));
  const int x1 = std::min(buffer.w - 1, static_cast<int>(std::ceil(s.x + r)));
  for (int py = y0; py <= y1; ++py) {
    const double dy = py + 0.5 - s.y;
    for (int px = x0; px <= x1; ++px) {
      const double dx = px + 0.5 - s.x;
      const double t = (dx * dx + dy * dy) / (r * r);
      if (t <= 1) visit(static_cast<size_t>(py) * static_cast<size_t>(buffer.w) + px, t);
    }
  }
}

// Two passes: the front-most depth, then blending of the splats within
// `tolerance` of it, which hides surfaces behind and smooths splat edges.
void draw_splats(PanelBuffer& buffer, const std::vector<Splat>& splats, double r,
                 double tolerance) {
  for (const Splat& s : splats) {
    const float depth = static_cast<float>(s.depth);
    for_each_covered_pixel(buffer, s, r, [&](size_t at, double) {
      buffer.front[at] = std::max(buffer.front[at], depth);
    });
  }
  for (const Splat& s : splats) {
    for_each_covered_pixel(buffer, s, r, [&](size_t at, double t) {
      if (s.depth < buffer.front[at] - tolerance) return;
      const float weight = static_cast<float>(std::exp(-2 * t));
      float* out = &buffer.sum[4 * at];
      for (int k = 0; k < 3; ++k) out[k] += weight * static_cast<float>(s.colour[k]);
      out[3] += weight;
    });
  }
}

// Averages each kSupersample x kSupersample block into the image at (x0, y0).
void resolve_into(Image& image, int x0, int y0, const PanelBuffer& buffer) {
  const int w = buffer.w / kSupersample, h = buffer.h / kSupersample;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      Rgb total{0, 0, 0};
      for (int sy = 0; sy < kSupersample; ++sy) {
        for (int sx = 0; sx < kSupersample; ++sx) {
          const size_t at = static_cast<size_t>(y * kSupersample + sy) * buffer.w +
                            static_cast<size_t>(x * kSupersample + sx);
          const float* in = &buffer.sum[4 * at];
          for (int k = 0; k < 3; ++k) total[k] += in[3] > 0 ? in[k] / in[3] : kBackground[k];
        }
      }
      uint8_t* out = &image.rgb[3 * (static_cast<size_t>(y0 + y) * image.width + x0 + x)];
      for (int k = 0; k < 3; ++k)
        out[k] = static_cast<uint8_t>(std::lround(255 * total[k] / (kSupersample * kSupersample)));
    }
  }
}

void fill_rect(Image& image, int x0, int y0, int w, int h, const Rgb& colour) {
  for (int y = std::max(0, y0); y < std::min(image.height, y0 + h); ++y) {
    for (int x = std::max(0, x0); x < std::min(image.width, x0 + w); ++x) {
      uint8_t* out = &image.rgb[3 * (static_cast<size_t>(y) * image.width + x)];
      for (int k = 0; k < 3; ++k) out[k] = static_cast<uint8_t>(std::lround(255 * colour[k]));
    }
  }
}

// Rows taken by labels: a title line above the panels and, when colouring,
// a colour scale below them.
struct Layout {
  int text_scale = 1;
  int title_height = 0;
  int scale_height = 0;
  int pad = 0;
};

Layout layout_for(const RenderSettings& s, bool coloured) {
  Layout l;
  if (!s.labels) return l;
  l.text_scale = s.height >= 400 ? 2 : 1;
  l.pad = 4 * l.text_scale;
  l.title_height = text_height(l.text_scale) + 2 * l.pad;
  if (coloured) l.scale_height = text_height(l.text_scale) + 2 * l.pad;
  if (l.title_height + l.scale_height > s.height / 2) return Layout{};  // too small for labels
  return l;
}

// "caption  lo [gradient] hi", centred at the bottom of the image.
void draw_colour_scale(Image& image, const Layout& l, const ColourRange& range,
                       const std::string& caption) {
  const std::string lo = fmt::format("{:.3g}", range.lo), hi = fmt::format("{:.3g}", range.hi);
  const int gap = 3 * l.pad, bar_w = std::max(16, image.width / 4);
  const int total = text_width(caption, l.text_scale) + text_width(lo, l.text_scale) + bar_w +
                    text_width(hi, l.text_scale) + 3 * gap;
  int x = std::max(0, (image.width - total) / 2);
  const int y = image.height - l.scale_height + l.pad, h = text_height(l.text_scale);
  draw_text(image, x, y, caption, l.text_scale, kTextColour);
  x += text_width(caption, l.text_scale) + gap;
  draw_text(image, x, y, lo, l.text_scale, kTextColour);
  x += text_width(lo, l.text_scale) + gap;
  for (int k = 0; k < bar_w; ++k) fill_rect(image, x + k, y, 1, h, colour_map(k / (bar_w - 1.0)));
  x += bar_w + gap;
  draw_text(image, x, y, hi, l.text_scale, kTextColour);
}

}  // namespace

Image render_side_by_side(const std::vector<RenderInput>& clouds, const RenderSettings& s) {
  const int panels = static_cast<int>(clouds.size());
  if (panels == 0) throw std::invalid_argument("nothing to render");
  if (s.width < 8 * panels || s.height < 8 || s.width > 32768 || s.height > 32768)
    throw std::invalid_argument(
        "image size must be 8..32768 pixels high and at least 8 pixels "
        "wide per cloud");
  Image image;
  image.width = s.width;
  image.height = s.height;
  image.rgb.assign(3 * static_cast<size_t>(s.width) * s.height, 255);
  const ColourRange range = colour_range(clouds, s);
  const Layout layout = layout_for(s, range.active);
  const int panel_h = s.height - layout.title_height - layout.scale_height;
  const Camera cam = make_camera(s.azimuth_deg, s.elevation_deg);
  const Framing framing = frame_clouds(clouds, cam, s.width / panels, panel_h);
  const double radius = splat_radius(clouds, s, framing.scale);
  for (int k = 0; k < panels; ++k) {
    const int x0 = k * s.width / panels, x1 = (k + 1) * s.width / panels;
    const RenderInput& cloud = clouds[static_cast<size_t>(k)];
    const std::vector<float> normals =
        estimate_normals(host::recentred_floats(cloud.xyz, framing.centre), s.threads);
    const std::vector<Splat> splats =
        project_points(cloud, normals, cam, framing, range, x1 - x0, panel_h);
    PanelBuffer buffer((x1 - x0) * kSupersample, panel_h * kSupersample);
    draw_splats(buffer, splats, std::max(radius * kSupersample, 1.0),
                kDepthTolerance * radius / framing.scale);
    resolve_into(image, x0, layout.title_height, buffer);
    if (k > 0) fill_rect(image, x0, 0, 1, s.height - layout.scale_height, kSeparator);
    if (layout.title_height > 0) {
      const int centred = x0 + (x1 - x0 - text_width(cloud.label, layout.text_scale)) / 2;
      draw_text(image, std::max(x0 + layout.pad, centred), layout.pad, cloud.label,
                layout.text_scale, kTextColour);
    }
  }
  if (layout.scale_height > 0) draw_colour_scale(image, layout, range, s.value_label);
  return image;
}

std::string encode_png(const Image& image) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.rgb.data(), 0, nullptr))
    throw std::runtime_error(std::string("PNG encoding failed: ") + png.message);
  std::string bytes(size, '\0');
  if (!png_image_write_to_memory(&png, bytes.data(), &size, 0, image.rgb.data(), 0, nullptr))
    throw std::runtime_error(std::string("PNG encoding failed: ") + png.message);
  bytes.resize(size);
  return bytes;
}

}  // namespace ici3d::cli
