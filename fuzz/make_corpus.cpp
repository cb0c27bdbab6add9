// Writes the seed corpora of the harnesses: small files of every format
// written by the host writers, and synthetic clouds, windows and matrices
// encoded the way each harness decodes its input (see fuzz_input.h).
//
// Usage: make_corpus <corpus folder>    (fuzz/make_corpus.sh runs it)
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "ici3d.h"
#include "ici3d_host/io.h"

namespace {

namespace fs = std::filesystem;
using ici3d::host::Encoding;
using ici3d::host::Format;
using ici3d::host::PointCloud;
using ici3d::host::ScalarType;
using ici3d_fuzz::ByteWriter;

fs::path g_root;

void write_seed(const std::string& target, const std::string& name, const std::string& bytes) {
  const fs::path dir = g_root / target;
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary) << bytes;
}

void write_seed(const std::string& target, const std::string& name, const ByteWriter& w) {
  write_seed(target, name, std::string(w.bytes().begin(), w.bytes().end()));
}

// ---------------------------------------------------------------------------
// Synthetic clouds: a jittered grid on a gently curved surface.

struct Synthetic {
  std::vector<float> points;  // 3n
  float spacing = 1;
  float noise = 0.05f;
};

Synthetic surface_grid(int side, float spacing, float noise, uint32_t seed) {
  std::mt19937 random(seed);
  std::normal_distribution<float> gauss(0.0f, 1.0f);
  std::uniform_real_distribution<float> jitter(-0.2f, 0.2f);
  Synthetic s;
  s.spacing = spacing;
  s.noise = noise * spacing;
  for (int a = 0; a < side; ++a) {
    for (int b = 0; b < side; ++b) {
      const float x = (static_cast<float>(a) + jitter(random)) * spacing;
      const float y = (static_cast<float>(b) + jitter(random)) * spacing;
      const float z = 0.05f * (x * x - y * y) / spacing + s.noise * gauss(random);
      s.points.insert(s.points.end(), {x, y, z});
    }
  }
  return s;
}

float squared_distance(const std::vector<float>& p, size_t i, size_t j) {
  float s = 0;
  for (size_t c = 0; c < 3; ++c) s += (p[3 * i + c] - p[3 * j + c]) * (p[3 * i + c] - p[3 * j + c]);
  return s;
}

// Indices of the other points by (distance, index), nearest first.
std::vector<int32_t> others_by_distance(const std::vector<float>& p, size_t i) {
  const size_t n = p.size() / 3;
  std::vector<int32_t> order;
  for (size_t j = 0; j < n; ++j) {
    if (j != i) order.push_back(static_cast<int32_t>(j));
  }
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    return squared_distance(p, i, static_cast<size_t>(a)) < squared_distance(p, i, static_cast<size_t>(b));
  });
  return order;
}

// Row i: i, then its K-1 nearest others.
std::vector<int32_t> knn_rows(const std::vector<float>& p, int32_t K) {
  std::vector<int32_t> table;
  for (size_t i = 0; i < p.size() / 3; ++i) {
    const std::vector<int32_t> others = others_by_distance(p, i);
    table.push_back(static_cast<int32_t>(i));
    for (int32_t k = 0; k + 1 < K; ++k) table.push_back(others[static_cast<size_t>(k)]);
  }
  return table;
}

// List i: i, then the others within `radius`, nearest first, `cap` in all.
std::vector<std::vector<int32_t>> radius_lists(const std::vector<float>& p, float radius, size_t cap) {
  std::vector<std::vector<int32_t>> lists;
  for (size_t i = 0; i < p.size() / 3; ++i) {
    std::vector<int32_t> list{static_cast<int32_t>(i)};
    for (int32_t j : others_by_distance(p, i)) {
      if (list.size() >= cap || squared_distance(p, i, static_cast<size_t>(j)) > radius * radius) break;
      list.push_back(j);
    }
    lists.push_back(list);
  }
  return lists;
}

// Lists as decode_lists reads them with self_first: length, then the others.
void put_lists(ByteWriter& w, const std::vector<std::vector<int32_t>>& lists) {
  for (const std::vector<int32_t>& list : lists) {
    w.put(static_cast<uint8_t>(list.size()));
    for (size_t k = 1; k < list.size(); ++k) w.put(static_cast<uint8_t>(list[k]));
  }
}

// ---------------------------------------------------------------------------
// File formats

PointCloud cloud_with_attributes(const Synthetic& s) {
  PointCloud cloud;
  for (float v : s.points) cloud.xyz.push_back(v);
  // Added first, filled after: adding one moves the others.
  cloud.add_attribute("intensity", ScalarType::Float32);
  cloud.add_attribute("red", ScalarType::UInt8);
  cloud.add_attribute("label", ScalarType::Int32);
  auto& intensity = cloud.attributes[0];
  auto& red = cloud.attributes[1];
  auto& label = cloud.attributes[2];
  for (size_t i = 0; i < cloud.size(); ++i) {
    intensity.set<float>(i, 0.25f * static_cast<float>(i));
    red.set<uint8_t>(i, static_cast<uint8_t>(17 * i));
    label.set<int32_t>(i, static_cast<int32_t>(i % 3) - 1);
  }
  return cloud;
}

std::string written(const PointCloud& cloud, Format format, Encoding encoding) {
  std::ostringstream out;
  ici3d::host::WriteOptions options;
  options.format = format;
  options.encoding = encoding;
  ici3d::host::write_point_cloud(out, "seed", cloud, options);
  return out.str();
}

PointCloud read_text(const std::string& text, Format format) {
  std::istringstream in(text);
  ici3d::host::ReadOptions options;
  options.format = format;
  return ici3d::host::read_point_cloud(in, "seed", options);
}

struct EncodedName {
  const char* name;
  Encoding encoding;
};

// One seed per encoding: `cloud` written as each, named prefix + name.
void write_encodings(const std::string& target, const std::string& prefix, const PointCloud& cloud,
                     Format format, std::initializer_list<EncodedName> encodings) {
  for (const EncodedName& e : encodings) write_seed(target, prefix + e.name, written(cloud, format, e.encoding));
}

// A hand-written file as a seed, and the cloud it holds in other encodings.
void write_text_and_encodings(const std::string& target, const std::string& prefix,
                              const std::string& text, const char* name, Format format,
                              std::initializer_list<EncodedName> encodings) {
  write_seed(target, prefix + name, text);
  write_encodings(target, prefix, read_text(text, format), format, encodings);
}

void ply_seeds() {
  const PointCloud small = cloud_with_attributes(surface_grid(3, 1.0f, 0.05f, 1));
  write_encodings("read_ply", "", small, Format::Ply,
                  {{"ascii.ply", Encoding::Ascii},
                   {"binary_le.ply", Encoding::BinaryLittleEndian},
                   {"binary_be.ply", Encoding::BinaryBigEndian}});
  write_seed("read_ply", "empty.ply", written(PointCloud(), Format::Ply, Encoding::Ascii));
  // Faces (a list property), double positions, comments and obj_info.
  write_text_and_encodings(
      "read_ply", "faces_",
      "ply\nformat ascii 1.0\ncomment made by hand\nobj_info scanner 7\n"
      "element vertex 4\nproperty double x\nproperty double y\nproperty double z\n"
      "property uchar alpha\nelement face 2\nproperty list uchar int vertex_indices\n"
      "end_header\n0 0 0 1\n1 0 0 2\n0 1 0 3\n1 1 1e-300 4\n3 0 1 2\n3 1 3 2\n",
      "ascii.ply", Format::Ply,
      {{"le.ply", Encoding::BinaryLittleEndian}, {"be.ply", Encoding::BinaryBigEndian}});
}

void text_seeds() {
  const PointCloud small = cloud_with_attributes(surface_grid(3, 1.0f, 0.05f, 2));
  write_seed("read_xyz", "named.txt", written(small, Format::Xyz, Encoding::Ascii));
  write_seed("read_xyz", "plain.xyz", "1 2 3\n4 5 6\n-7.5e-3 8e10 nan\n+1 -inf 0.1\n");
  write_seed("read_xyz", "header.csv", "# scan 12\n//X,Y,Z,\"Intensity\"\n1.5,2,3,7\n4,5,6,-8\n");
  write_seed("read_xyz", "count.pts", "3\n0 0 0 255 0 0\n1 0 0 0 255 0\n0 1 0 0 0 255\n");
  write_seed("read_xyz", "tabs.txt", "x\ty\tz\tw\r\n0.1\t0.2\t0.3\t1.0\r\n1e-40\t2\t3\t4.5\r\n");
}

void pcd_seeds() {
  const PointCloud small = cloud_with_attributes(surface_grid(3, 1.0f, 0.05f, 3));
  write_encodings("read_pcd", "", small, Format::Pcd,
                  {{"ascii.pcd", Encoding::Ascii},
                   {"binary.pcd", Encoding::BinaryLittleEndian},
                   {"compressed.pcd", Encoding::BinaryCompressed}});
  // Padding, a field of COUNT 3, an organised 2x2 cloud, a viewpoint.
  write_text_and_encodings(
      "read_pcd", "padded_",
      "# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\n"
      "FIELDS x y z _ normal rgb\nSIZE 4 4 4 1 4 4\nTYPE F F F U F U\nCOUNT 1 1 1 2 3 1\n"
      "WIDTH 2\nHEIGHT 2\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS 4\nDATA ascii\n"
      "0 0 0 0 0 0 0 1 4278190080\n1 0 0 0 0 0 0 1 16711680\n0 1 0 0 0 0 0 1 65280\n"
      "1 1 1 0 0 0 0 1 255\n",
      "ascii.pcd", Format::Pcd,
      {{"binary.pcd", Encoding::BinaryLittleEndian}, {"compressed.pcd", Encoding::BinaryCompressed}});
}

// A LAS file of `points` random records: header of version 1.`minor`, point
// format `format`, `extra` bytes per record described as one uint16 and the
// rest undocumented, and for 1.4 an EVLR after the records.
std::string las_file(int minor, int format, uint32_t points, uint16_t extra) {
  static const uint16_t base[11] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
  const size_t header_size = minor >= 4 ? 375 : minor == 3 ? 235 : 227;
  std::string bytes(header_size, '\0');
  auto put = [&bytes](size_t at, auto value) { std::memcpy(&bytes[at], &value, sizeof value); };
  bytes.replace(0, 4, "LASF");
  bytes[24] = 1;
  bytes[25] = static_cast<char>(minor);
  std::string vlrs;
  if (extra >= 2) {
    std::string vlr(54 + 192, '\0');
    vlr.replace(2, 9, "LASF_Spec");
    vlr[18] = 4;
    vlr[21] = static_cast<char>(192 >> 8);
    vlr[20] = static_cast<char>(192 & 0xFF);
    vlr[54 + 2] = 3;  // uint16
    vlr.replace(54 + 4, 6, "height");
    vlrs = vlr;
  }
  const uint16_t length = static_cast<uint16_t>(base[format] + extra);
  put(94, static_cast<uint16_t>(header_size));
  put(96, static_cast<uint32_t>(header_size + vlrs.size()));
  put(100, static_cast<uint32_t>(vlrs.empty() ? 0 : 1));
  bytes[104] = static_cast<char>(format);
  put(105, length);
  put(107, format <= 5 ? points : 0u);
  for (int c = 0; c < 3; ++c) {
    put(131 + 8 * c, 0.001);
    put(155 + 8 * c, c == 1 ? 5000000.0 : 500000.0);
  }
  std::mt19937 random(static_cast<uint32_t>(format * 10 + minor));
  std::string records(size_t{points} * length, '\0');
  for (char& b : records) b = static_cast<char>(random());
  std::string evlr;
  if (minor >= 4) {
    evlr.assign(60, '\0');
    evlr.replace(2, 5, "other");
    evlr[20] = 3;
    evlr += "abc";
    put(235, static_cast<uint64_t>(bytes.size() + vlrs.size() + records.size()));
    put(243, 1u);
    put(247, static_cast<uint64_t>(points));
  }
  return bytes + vlrs + records + evlr;
}

void las_seeds() {
  PointCloud small = cloud_with_attributes(surface_grid(3, 1.0f, 0.05f, 4));
  small.attributes[0].name = "reflectance";  // LAS intensity is an integer: this one goes to extra bytes
  write_seed("read_las", "written.las", written(small, Format::Las, Encoding::BinaryLittleEndian));
  write_seed("read_las", "empty.las", written(PointCloud(), Format::Las, Encoding::BinaryLittleEndian));
  for (int format = 0; format <= 10; ++format) {
    const int minor = format >= 6 ? 4 : format >= 4 ? 3 : format >= 2 ? 2 : 0;
    write_seed("read_las", "format" + std::to_string(format) + ".las", las_file(minor, format, 4, 3));
  }
  write_seed("read_las", "format1_14.las", las_file(4, 1, 3, 0));
}

// ---------------------------------------------------------------------------
// Numeric harnesses

void eigeng_seeds() {
  const Synthetic s = surface_grid(3, 1.0f, 0.05f, 4);
  // The scatter matrix of a neighbourhood: symmetric, with vectors.
  std::vector<float> scatter(9, 0.0f);
  float mean[3] = {0, 0, 0};
  for (size_t i = 0; i < s.points.size(); ++i) mean[i % 3] += s.points[i] / 9.0f;
  for (size_t i = 0; i < 9; ++i) {
    for (size_t r = 0; r < 3; ++r) {
      for (size_t c = 0; c < 3; ++c) {
        scatter[3 * r + c] += (s.points[3 * i + r] - mean[r]) * (s.points[3 * i + c] - mean[c]);
      }
    }
  }
  ByteWriter sym;
  sym.put<uint8_t>(2 | 8 | 16);
  for (size_t r = 0; r < 3; ++r) {
    for (size_t c = r; c < 3; ++c) sym.put(scatter[3 * r + c]);
  }
  write_seed("eigeng", "scatter3", sym);

  std::mt19937 random(5);
  std::uniform_real_distribution<float> uniform(-10.0f, 10.0f);
  for (int order : {2, 5, 8}) {
    ByteWriter general;
    general.put<uint8_t>(static_cast<uint8_t>((order - 1) | 16));
    for (int k = 0; k < order * order; ++k) general.put(uniform(random));
    write_seed("eigeng", "general" + std::to_string(order), general);
  }
  // A rotation (complex pair), a Jordan block, the zero matrix, and NaN.
  const std::vector<std::pair<std::string, std::vector<float>>> fixed = {
      {"rotation", {0, -1, 0, 1, 0, 0, 0, 0, 2}},
      {"jordan", {3, 1, 0, 0, 3, 1, 0, 0, 3}},
      {"zero", std::vector<float>(9, 0.0f)},
      {"nan", {1, NAN, 0, 0, 1, INFINITY, 0, 0, 1}}};
  for (const auto& [name, m] : fixed) {
    ByteWriter w;
    w.put<uint8_t>(2 | 16);
    w.put_floats(m);
    write_seed("eigeng", name, w);
  }
}

// A window in local coordinates: planar x, y, z blocks.
std::vector<float> planar_window(const Synthetic& s, size_t count) {
  std::vector<float> w(3 * count);
  for (size_t k = 0; k < count; ++k) {
    for (size_t c = 0; c < 3; ++c) w[c * count + k] = s.points[3 * k + c] - s.points[c];
  }
  return w;
}

void window_seeds() {
  const Synthetic s = surface_grid(5, 1.0f, 0.05f, 6);
  for (int direction = 0; direction < 4; ++direction) {
    ByteWriter w;
    w.put<uint8_t>(25);
    w.put(static_cast<uint8_t>(direction));
    w.put<uint8_t>(12);  // the centre of the grid
    w.put(2.5f);
    w.put(1.0f);
    w.put_floats(planar_window(s, 25));
    write_seed("find_index_square4", "grid_d" + std::to_string(direction), w);
  }
  for (int count : {3, 4, 9, 25}) {
    ByteWriter w;
    w.put(static_cast<int8_t>(count));
    w.put_floats(planar_window(s, static_cast<size_t>(count)));
    write_seed("kernel_estimate", "plane" + std::to_string(count), w);
  }
  ByteWriter collinear;
  collinear.put<int8_t>(4);
  collinear.put_floats({0, 1, 2, 3, 0, 1, 2, 3, 0.5f, 0.1f, -0.2f, 0.3f});
  write_seed("kernel_estimate", "collinear", collinear);
  ByteWriter empty;
  empty.put<int8_t>(-3);
  write_seed("kernel_estimate", "negative_count", empty);
}

// ---------------------------------------------------------------------------
// The whole pass

struct PassSeed {
  Synthetic cloud;
  int32_t K = 8;
  int32_t num_scales = 3;
  int32_t base_size = 2;
  float ratio = 1.5f;
};

float preselect_of(const PassSeed& p) {
  return static_cast<float>(p.base_size * std::pow(p.ratio, p.num_scales)) * p.cloud.spacing;
}

std::vector<std::vector<int32_t>> pass_lists(const PassSeed& p) {
  return radius_lists(p.cloud.points, preselect_of(p) * 1.733f, 32);
}

ByteWriter entry_seed(const PassSeed& p, uint8_t flags, uint8_t breakage_arg) {
  const std::vector<float>& pts = p.cloud.points;
  const int32_t n = static_cast<int32_t>(pts.size() / 3);
  ByteWriter w;
  w.put(flags);
  w.put(static_cast<uint8_t>(n));
  w.put(static_cast<uint8_t>(p.K));
  w.put(static_cast<int8_t>(p.num_scales));
  w.put(static_cast<int8_t>(p.base_size));
  w.put<uint8_t>(0);
  w.put(1.0f / (p.cloud.spacing * p.cloud.spacing));
  w.put(preselect_of(p));
  w.put(p.ratio);
  w.put<uint8_t>(0);
  w.put(breakage_arg);
  w.put_floats(pts);
  w.put_floats(std::vector<float>(static_cast<size_t>(n), p.cloud.noise));
  for (int32_t v : knn_rows(pts, p.K)) w.put(static_cast<uint8_t>(v));
  put_lists(w, pass_lists(p));
  return w;
}

void entry_seeds() {
  const PassSeed plane{surface_grid(6, 1.0f, 0.05f, 7)};
  write_seed("entry", "surface36", entry_seed(plane, 0, 0));
  PassSeed fine{surface_grid(5, 1e-3f, 0.1f, 8)};
  fine.K = 6;
  fine.num_scales = 2;
  write_seed("entry", "fine25", entry_seed(fine, 0, 0));
  for (uint8_t breakage = 1; breakage <= 8; ++breakage) {
    write_seed("entry", "broken" + std::to_string(breakage), entry_seed(plane, breakage, 3));
  }
}

// Frames as the entry computes them, with their permutation index.
void main_loop_seeds() {
  const PassSeed p{surface_grid(5, 1.0f, 0.05f, 9)};
  const std::vector<float>& pts = p.cloud.points;
  const int32_t n = static_cast<int32_t>(pts.size() / 3);
  const std::vector<int32_t> table = knn_rows(pts, p.K);
  std::vector<float> frames;
  std::vector<uint8_t> permutation;
  const int32_t permutations[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  for (int32_t i = 0; i < n; ++i) {
    int32_t axes[3];
    float frame[9];
    local_coordinate_for_ici_c(pts.data(), table.data(), i, p.K, n, axes, frame);
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) frames.push_back(frame[3 * c + r]);
    }
    for (uint8_t k = 0; k < 6; ++k) {
      if (std::equal(axes, axes + 3, permutations[k])) permutation.push_back(k);
    }
  }
  ByteWriter w;
  w.put<uint8_t>(4);
  w.put(static_cast<uint8_t>(n));
  w.put(static_cast<int8_t>(p.num_scales));
  w.put(static_cast<int8_t>(p.base_size));
  w.put<int8_t>(32);
  w.put_floats({ICI3D_GAMMA_DETAIL, preselect_of(p), p.ratio, 1.0f, ICI3D_REG_WEIGHT_DETAIL,
                ICI3D_SIGMA_FACTOR});
  w.put_floats(pts);
  w.put_floats(std::vector<float>(static_cast<size_t>(n), p.cloud.noise));
  w.put_floats(frames);
  for (uint8_t k : permutation) w.put(k);
  put_lists(w, pass_lists(p));
  write_seed("main_loop", "surface25", w);
}

void denoise_seeds() {
  const Synthetic s = surface_grid(6, 1.0f, 0.05f, 10);
  for (uint8_t flags : {0, 2 | 4 | 8, 1 | 16}) {
    ByteWriter w;
    w.put(flags);
    w.put<uint8_t>(36);
    w.put<uint8_t>(0);   // one pass
    w.put<uint8_t>(8);   // k
    w.put<uint8_t>(2);   // base size
    w.put<int8_t>(2);    // scales
    w.put(1.5f);
    w.put<uint16_t>(64);
    w.put(1.0);   // spacing
    w.put(0.05);  // sigma
    for (float v : s.points) w.put(static_cast<double>(v));
    if (flags & 1) w.put_floats(std::vector<float>(36, 0.05f));
    write_seed("denoise", "surface36_" + std::to_string(flags), w);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_corpus <corpus folder>\n";
    return 2;
  }
  g_root = argv[1];
  ply_seeds();
  text_seeds();
  pcd_seeds();
  las_seeds();
  eigeng_seeds();
  window_seeds();
  entry_seeds();
  main_loop_seeds();
  denoise_seeds();
  return 0;
}
