// A cloud whose every bit is fixed: integer hashing and plain float
// arithmetic only (no <random> distributions, no libm), so that it is the
// same on every machine and compiler. Tests hash the library's output on it
// and compare with a stored value to prove that a change left every output
// bit as it was.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "clouds.h"

namespace ici3d_test {

// A 32-bit integer hash (lowbias32); deterministic everywhere.
inline uint32_t mix32(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

// A value in [-1, 1] in steps of 1/1000, from a point index and a stream.
inline float hashed_unit(uint32_t index, uint32_t stream) {
  const int32_t k = static_cast<int32_t>(mix32(index * 4U + stream) % 2001U) - 1000;
  return static_cast<float>(k) / 1000.0f;
}

// A jittered grid of `cols` x `rows` points, `step` apart, on a roof with a
// sharp ridge along x = 0 and a gentle twist, with uniform noise of
// half-width `noise` along z.
inline Cloud fixed_roof(int32_t cols, int32_t rows, float step, float noise) {
  Cloud c;
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t q = 0; q < cols; ++q) {
      const uint32_t i = static_cast<uint32_t>(r * cols + q);
      const float x = (static_cast<float>(q - cols / 2) + 0.3f * hashed_unit(i, 0)) * step;
      const float y = (static_cast<float>(r - rows / 2) + 0.3f * hashed_unit(i, 1)) * step;
      const float ax = x < 0 ? -x : x;
      const float z = 0.4f * ax + 0.2f * x * y + noise * hashed_unit(i, 2);
      c.points.insert(c.points.end(), {x, y, z});
    }
  }
  return c;
}

// FNV-1a over the bytes of float arrays, in the order given.
inline uint64_t fnv1a(std::initializer_list<const std::vector<float> *> arrays) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (const std::vector<float> *a : arrays) {
    for (float v : *a) {
      unsigned char bytes[sizeof v];
      std::memcpy(bytes, &v, sizeof v);
      for (unsigned char b : bytes) {
        h ^= b;
        h *= 0x100000001b3ULL;
      }
    }
  }
  return h;
}

// Everything the entry needs for one pass over a fixed roof: brute-force
// neighbourhoods and windows of 1, 2 and 4 spacings.
struct FixedRun {
  static constexpr float kStep = 0.05f;
  static constexpr int32_t kK = 16, kBaseSize = 1, kNumScales = 2;
  static constexpr float kScaleRatio = 2.0f, kSigma = 0.006f;
  Cloud cloud;
  std::vector<int32_t> table;
  CandidateLists candidates;

  FixedRun(int32_t cols, int32_t rows) : cloud(fixed_roof(cols, rows, kStep, 0.01f)) {
    table = brute_force_knn(cloud.points, kK);
    candidates = brute_force_candidates(cloud.points, 1.75f * preselect());
  }
  static float size_norm() { return 1.0f / (kStep * kStep); }
  static float preselect() { return 4.0f * kStep; }
};

}  // namespace ici3d_test
