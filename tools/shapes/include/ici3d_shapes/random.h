#pragma once
// Seeded random numbers for synthetic clouds, the same for a given seed with
// every standard library: uniform values bit for bit, normal values up to the
// last bit of the maths library's log, sin and cos.

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace ici3d::shapes {

/// Uniform values from the 64-bit Mersenne Twister's raw output, normal values
/// by Box-Muller: the standard library's distributions differ between
/// implementations, the engine's output does not.
class SeededRandom {
 public:
  explicit SeededRandom(uint64_t seed) : engine_(seed) {}
  /// Uniform in [0, 1).
  double uniform();
  /// Standard normal.
  double normal();

 private:
  std::mt19937_64 engine_;
  bool has_spare_ = false;
  double spare_ = 0;
};

/// An index into `cumulative` (running totals, ascending, non-empty) drawn
/// with probability proportional to its own share of the total: which patch
/// or triangle a uniform sample falls on.
size_t pick_by_share(const std::vector<double>& cumulative, SeededRandom& random);

/// xyz with independent N(0, sigma^2) added to every coordinate, drawn from
/// `random` in order; unchanged (and nothing drawn) when sigma is 0.
std::vector<double> add_gaussian_noise(std::vector<double> xyz, double sigma, SeededRandom& random);
/// The same from SeededRandom(seed).
std::vector<double> add_gaussian_noise(std::vector<double> xyz, double sigma, uint64_t seed);

/// A stable 64-bit seed from a text key (FNV-1a), so that every method sees
/// the same samples and the same noise for a given mesh, size and level.
uint64_t seed_from(const std::string& key);

}  // namespace ici3d::shapes
