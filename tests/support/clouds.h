// Synthetic clouds and brute-force neighbourhoods for the library's tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "ici3d_host/candidate_view.h"

namespace ici3d_test {

struct Cloud {
  std::vector<float> points;  // 3n interleaved
  std::vector<float> normals; // 3n, unit, when known
  int32_t n() const { return static_cast<int32_t>(points.size() / 3); }
};

// Candidate lists: every point within `radius` (itself first, then by
// distance and index), with the view the library takes pointing into them.
struct CandidateLists : ici3d::host::CandidateView {
  std::vector<std::vector<int32_t>> lists;
};

inline float dist2(const std::vector<float> &p, int32_t a, int32_t b) {
  float s = 0;
  for (int c = 0; c < 3; ++c) {
    const float d = p[3 * a + c] - p[3 * b + c];
    s += d * d;
  }
  return s;
}

inline CandidateLists brute_force_candidates(const std::vector<float> &p, float radius) {
  const int32_t n = static_cast<int32_t>(p.size() / 3);
  CandidateLists out;
  out.lists.resize(n);
  for (int32_t i = 0; i < n; ++i) {
    std::vector<std::pair<float, int32_t>> found;
    for (int32_t j = 0; j < n; ++j) {
      const float d = dist2(p, i, j);
      if (j != i && d <= radius * radius) found.emplace_back(d, j);
    }
    std::sort(found.begin(), found.end());
    out.lists[i].push_back(i);
    for (const auto &f : found) out.lists[i].push_back(f.second);
  }
  static_cast<ici3d::host::CandidateView &>(out) = ici3d::host::candidate_view(out.lists);
  return out;
}

// K nearest neighbours of every point (itself included), row-major.
inline std::vector<int32_t> brute_force_knn(const std::vector<float> &p, int32_t k) {
  const int32_t n = static_cast<int32_t>(p.size() / 3);
  std::vector<int32_t> table;
  table.reserve(static_cast<size_t>(n) * k);
  std::vector<int32_t> order(n);
  for (int32_t i = 0; i < n; ++i) {
    std::iota(order.begin(), order.end(), 0);
    std::partial_sort(order.begin(), order.begin() + k, order.end(), [&](int32_t a, int32_t b) {
      const float da = dist2(p, i, a), db = dist2(p, i, b);
      return da < db || (da == db && a < b);
    });
    table.insert(table.end(), order.begin(), order.begin() + k);
  }
  return table;
}

// Uniform points on a sphere of radius r with Gaussian noise of sd sigma.
inline Cloud noisy_sphere(int32_t n, float r, float sigma, uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> g(0.0f, 1.0f);
  Cloud c;
  for (int32_t k = 0; k < n; ++k) {
    float v[3] = {g(rng), g(rng), g(rng)};
    const float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    for (float &x : v) x /= len;
    const float e = sigma * g(rng);
    for (int a = 0; a < 3; ++a) {
      c.points.push_back(v[a] * (r + e));
      c.normals.push_back(v[a]);
    }
  }
  return c;
}

// Uniform points on the surface of an axis-aligned cube [-h, h]^3.
inline Cloud noisy_cube(int32_t n, float h, float sigma, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-h, h);
  std::uniform_int_distribution<int> face(0, 5);
  std::normal_distribution<float> g(0.0f, sigma);
  Cloud c;
  for (int32_t k = 0; k < n; ++k) {
    const int f = face(rng);
    const int axis = f / 2;
    const float side = (f % 2) ? h : -h;
    float p[3] = {u(rng), u(rng), u(rng)};
    p[axis] = side + g(rng);
    float nrm[3] = {0, 0, 0};
    nrm[axis] = side > 0 ? 1.0f : -1.0f;
    c.points.insert(c.points.end(), p, p + 3);
    c.normals.insert(c.normals.end(), nrm, nrm + 3);
  }
  return c;
}

// Distance of p from the cube surface [-h, h]^3.
inline float cube_distance(const float *p, float h) {
  float outside = 0, inside = -1e30f;
  for (int a = 0; a < 3; ++a) {
    const float d = std::fabs(p[a]) - h;
    outside += d > 0 ? d * d : 0.0f;
    inside = std::max(inside, d);
  }
  return outside > 0 ? std::sqrt(outside) : -inside;
}

// Orthonormal frame records (row 0, 1: tangents, row 2: normal) from known
// normals, with axis order (0, 1, 2).
inline void frames_from_normals(const std::vector<float> &normals, std::vector<float> &frames,
                                std::vector<int32_t> &axes) {
  const size_t n = normals.size() / 3;
  frames.resize(9 * n);
  axes.resize(3 * n);
  for (size_t i = 0; i < n; ++i) {
    const float *nz = &normals[3 * i];
    const float helper[3] = {std::fabs(nz[0]) < 0.9f ? 1.0f : 0.0f,
                             std::fabs(nz[0]) < 0.9f ? 0.0f : 1.0f, 0.0f};
    float tx[3] = {helper[1] * nz[2] - helper[2] * nz[1], helper[2] * nz[0] - helper[0] * nz[2],
                   helper[0] * nz[1] - helper[1] * nz[0]};
    const float len = std::sqrt(tx[0] * tx[0] + tx[1] * tx[1] + tx[2] * tx[2]);
    for (float &v : tx) v /= len;
    const float ty[3] = {nz[1] * tx[2] - nz[2] * tx[1], nz[2] * tx[0] - nz[0] * tx[2],
                         nz[0] * tx[1] - nz[1] * tx[0]};
    float *f = &frames[9 * i];
    for (int c = 0; c < 3; ++c) {
      f[c] = tx[c];
      f[3 + c] = ty[c];
      f[6 + c] = nz[c];
    }
    axes[3 * i] = 0;
    axes[3 * i + 1] = 1;
    axes[3 * i + 2] = 2;
  }
}

}  // namespace ici3d_test
