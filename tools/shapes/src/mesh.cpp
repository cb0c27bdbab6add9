#include "ici3d_shapes/mesh.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "ici3d_shapes/random.h"

namespace ici3d::shapes {

namespace {

Vec3 sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double norm(const Vec3& a) { return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]); }

int32_t add_vertex(Mesh& mesh, double x, double y, double z) {
  mesh.vertices.push_back({x, y, z});
  return static_cast<int32_t>(mesh.vertices.size() - 1);
}

// A planar convex polygon at height z as a triangle fan; `up` chooses whether
// the triangles face +z (counter-clockwise input) or -z.
void add_convex_cap(Mesh& mesh, const std::vector<std::pair<double, double>>& polygon, double z,
                    bool up) {
  std::vector<int32_t> ids;
  for (const auto& [x, y] : polygon) ids.push_back(add_vertex(mesh, x, y, z));
  for (size_t k = 1; k + 1 < ids.size(); ++k) {
    if (up) mesh.triangles.push_back({ids[0], ids[k], ids[k + 1]});
    else mesh.triangles.push_back({ids[0], ids[k + 1], ids[k]});
  }
}

// The side walls of a counter-clockwise outline extruded from z0 to z1,
// facing outwards.
void add_walls(Mesh& mesh, const std::vector<std::pair<double, double>>& outline, double z0,
               double z1) {
  for (size_t k = 0; k < outline.size(); ++k) {
    const auto& [ax, ay] = outline[k];
    const auto& [bx, by] = outline[(k + 1) % outline.size()];
    const int32_t a0 = add_vertex(mesh, ax, ay, z0), b0 = add_vertex(mesh, bx, by, z0);
    const int32_t a1 = add_vertex(mesh, ax, ay, z1), b1 = add_vertex(mesh, bx, by, z1);
    mesh.triangles.push_back({a0, b0, b1});
    mesh.triangles.push_back({a0, b1, a1});
  }
}

// Midpoint of an edge, pushed onto the unit sphere, shared between the two
// triangles of the edge.
int32_t sphere_midpoint(Mesh& mesh, std::map<std::pair<int32_t, int32_t>, int32_t>& cache,
                        int32_t a, int32_t b) {
  const auto key = std::minmax(a, b);
  const auto found = cache.find(key);
  if (found != cache.end()) return found->second;
  Vec3 m;
  for (int c = 0; c < 3; ++c) m[c] = 0.5 * (mesh.vertices[a][c] + mesh.vertices[b][c]);
  const double len = norm(m);
  const int32_t id = add_vertex(mesh, m[0] / len, m[1] / len, m[2] / len);
  cache.emplace(key, id);
  return id;
}

Mesh icosahedron() {
  const double t = (1.0 + std::sqrt(5.0)) / 2.0;
  const double s = 1.0 / std::sqrt(1.0 + t * t);
  Mesh m;
  const double v[12][3] = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0},
                           {0, -1, t}, {0, 1, t}, {0, -1, -t}, {0, 1, -t},
                           {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
  for (const auto& p : v) m.vertices.push_back({p[0] * s, p[1] * s, p[2] * s});
  m.triangles = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11},
                 {1, 5, 9},  {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8},
                 {3, 9, 4},  {3, 4, 2},  {3, 2, 6},   {3, 6, 8},  {3, 8, 9},
                 {4, 9, 5},  {2, 4, 11}, {6, 2, 10},  {8, 6, 7},  {9, 8, 1}};
  return m;
}

}  // namespace

Mesh cube_mesh() {
  Mesh m;
  const std::vector<std::pair<double, double>> square = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
  add_convex_cap(m, square, -1, false);
  add_convex_cap(m, square, 1, true);
  add_walls(m, square, -1, 1);
  return m;
}

Mesh machined_part_mesh() {
  // Counter-clockwise outline: a bottom bar, a chamfered middle step, a top step.
  const std::vector<std::pair<double, double>> outline = {
      {0, 0}, {4, 0}, {4, 1}, {2.8, 1}, {2.4, 1.4}, {2.4, 2.4}, {1.2, 2.4}, {1.2, 3}, {0, 3}};
  // The same area as convex pieces, for the two caps.
  const std::vector<std::vector<std::pair<double, double>>> pieces = {
      {{0, 0}, {4, 0}, {4, 1}, {0, 1}},
      {{0, 1}, {2.8, 1}, {2.4, 1.4}, {0, 1.4}},
      {{0, 1.4}, {2.4, 1.4}, {2.4, 2.4}, {0, 2.4}},
      {{0, 2.4}, {1.2, 2.4}, {1.2, 3}, {0, 3}}};
  const double depth = 2.0;
  Mesh m;
  for (const auto& piece : pieces) {
    add_convex_cap(m, piece, 0, false);
    add_convex_cap(m, piece, depth, true);
  }
  add_walls(m, outline, 0, depth);
  return m;
}

Mesh sphere_mesh(int levels) {
  Mesh m = icosahedron();
  for (int level = 0; level < levels; ++level) {
    std::map<std::pair<int32_t, int32_t>, int32_t> cache;
    std::vector<std::array<int32_t, 3>> finer;
    finer.reserve(4 * m.triangles.size());
    for (const auto& t : m.triangles) {
      const int32_t ab = sphere_midpoint(m, cache, t[0], t[1]);
      const int32_t bc = sphere_midpoint(m, cache, t[1], t[2]);
      const int32_t ca = sphere_midpoint(m, cache, t[2], t[0]);
      finer.push_back({t[0], ab, ca});
      finer.push_back({t[1], bc, ab});
      finer.push_back({t[2], ca, bc});
      finer.push_back({ab, bc, ca});
    }
    m.triangles = std::move(finer);
  }
  return m;
}

Mesh synthetic_mesh(const std::string& name) {
  if (name == "cube") return cube_mesh();
  if (name == "machined") return machined_part_mesh();
  if (name == "sphere") return sphere_mesh(4);
  throw std::invalid_argument("unknown synthetic shape '" + name + "'");
}

Mesh read_off(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw std::runtime_error("cannot open " + path);
  // Tokens with comments removed: OFF allows '#' comments anywhere.
  std::stringstream tokens;
  for (std::string line; std::getline(file, line);) tokens << line.substr(0, line.find('#')) << '\n';
  std::string magic;
  size_t nv = 0, nf = 0, ne = 0;
  if (!(tokens >> magic) || magic != "OFF" || !(tokens >> nv >> nf >> ne)) {
    throw std::runtime_error(path + ": not an OFF file");
  }
  Mesh mesh;
  mesh.vertices.resize(nv);
  for (Vec3& v : mesh.vertices) {
    if (!(tokens >> v[0] >> v[1] >> v[2])) throw std::runtime_error(path + ": truncated vertices");
  }
  for (size_t f = 0; f < nf; ++f) {
    size_t count = 0;
    if (!(tokens >> count) || count < 3) throw std::runtime_error(path + ": bad face");
    std::vector<int32_t> ids(count);
    for (int32_t& id : ids) {
      if (!(tokens >> id) || id < 0 || static_cast<size_t>(id) >= nv) {
        throw std::runtime_error(path + ": bad vertex index");
      }
    }
    // Face colours, if any, follow on the same line and are ignored.
    std::string rest;
    std::getline(tokens, rest);
    for (size_t k = 1; k + 1 < count; ++k) mesh.triangles.push_back({ids[0], ids[k], ids[k + 1]});
  }
  return mesh;
}

void normalise_to_unit_sphere(Mesh& mesh) {
  if (mesh.vertices.empty()) return;
  Vec3 lo = mesh.vertices[0], hi = mesh.vertices[0];
  for (const Vec3& v : mesh.vertices) {
    for (int c = 0; c < 3; ++c) {
      lo[c] = std::min(lo[c], v[c]);
      hi[c] = std::max(hi[c], v[c]);
    }
  }
  const Vec3 centre = {0.5 * (lo[0] + hi[0]), 0.5 * (lo[1] + hi[1]), 0.5 * (lo[2] + hi[2])};
  double radius = 0;
  for (Vec3& v : mesh.vertices) {
    v = sub(v, centre);
    radius = std::max(radius, norm(v));
  }
  if (!(radius > 0)) return;
  for (Vec3& v : mesh.vertices) {
    for (double& x : v) x /= radius;
  }
}

double triangle_area(const Mesh& mesh, size_t triangle) {
  const auto& t = mesh.triangles[triangle];
  const Vec3& a = mesh.vertices[t[0]];
  return 0.5 * norm(cross(sub(mesh.vertices[t[1]], a), sub(mesh.vertices[t[2]], a)));
}

double surface_area(const Mesh& mesh) {
  double total = 0;
  for (size_t t = 0; t < mesh.triangles.size(); ++t) total += triangle_area(mesh, t);
  return total;
}

Vec3 triangle_normal(const Mesh& mesh, size_t triangle) {
  const auto& t = mesh.triangles[triangle];
  const Vec3& a = mesh.vertices[t[0]];
  const Vec3 n = cross(sub(mesh.vertices[t[1]], a), sub(mesh.vertices[t[2]], a));
  const double len = norm(n);
  if (!(len > 0)) return {0, 0, 0};
  return {n[0] / len, n[1] / len, n[2] / len};
}

SurfaceSamples sample_surface(const Mesh& mesh, size_t n, uint64_t seed) {
  std::vector<double> cumulative(mesh.triangles.size());
  double total = 0;
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    total += triangle_area(mesh, t);
    cumulative[t] = total;
  }
  SurfaceSamples out;
  if (!(total > 0)) return out;
  out.xyz.reserve(3 * n);
  out.triangles.reserve(n);
  SeededRandom random(seed);
  for (size_t i = 0; i < n; ++i) {
    const size_t t = pick_by_share(cumulative, random);
    // Uniform in the triangle: reflect the unit square's upper half.
    double u = random.uniform(), v = random.uniform();
    if (u + v > 1) {
      u = 1 - u;
      v = 1 - v;
    }
    const auto& tri = mesh.triangles[t];
    const Vec3& a = mesh.vertices[tri[0]];
    const Vec3& b = mesh.vertices[tri[1]];
    const Vec3& c = mesh.vertices[tri[2]];
    for (int k = 0; k < 3; ++k) out.xyz.push_back(a[k] + u * (b[k] - a[k]) + v * (c[k] - a[k]));
    out.triangles.push_back(static_cast<int32_t>(t));
  }
  return out;
}

}  // namespace ici3d::shapes
