// Small helpers shared by the library's tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace ici3d_test {

inline uint32_t float_bits(float v) {
  uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// Bit-for-bit equality of two float arrays (NaNs with equal payloads match);
// returns the first differing index or -1.
inline long first_bit_difference(const std::vector<float> &a, const std::vector<float> &b) {
  if (a.size() != b.size()) return 0;
  for (size_t k = 0; k < a.size(); ++k) {
    if (float_bits(a[k]) != float_bits(b[k])) return static_cast<long>(k);
  }
  return -1;
}

// Planar block (all x, all y, all z) from interleaved points.
inline std::vector<float> planar(const std::vector<float> &xyz) {
  const size_t n = xyz.size() / 3;
  std::vector<float> out(xyz.size());
  for (size_t k = 0; k < n; ++k) {
    out[k] = xyz[3 * k];
    out[n + k] = xyz[3 * k + 1];
    out[2 * n + k] = xyz[3 * k + 2];
  }
  return out;
}

// Captures everything written to a file descriptor (1 or 2) while `fn` runs.
template <typename Fn>
std::string capture_fd(int target, Fn &&fn);

}  // namespace ici3d_test

#include "capture.inl"
