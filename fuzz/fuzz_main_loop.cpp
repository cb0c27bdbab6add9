// Pass harness below the entry: main_loop3_parallel (and through it
// first_loop_omp and second_loop_no_omp) with arbitrary frames and axis
// orders, which the entry would always compute itself.
//
// Input, in order: flags (bit 0: lists need not start with their own point;
// bit 1: pass n negated; bit 2: axis orders are drawn from the six
// permutations instead of raw values -3..3), n (0..64), num_scales (signed
// byte clamped to -2..6), base_size (signed byte), max_selected (signed
// byte, clamped to -1..longest+3), gamma, preselect_size, scale_ratio,
// size_norm, reg_weight, sigma_factor (raw floats), points (3n floats),
// noise levels (n floats), frames (9n floats), axis orders (3n bytes), the
// candidate lists (see fuzz_cloud.h).
//
// Any such input must run without a crash, a hang or a sanitizer report;
// n < 1 touches nothing, and otherwise every position is written.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_cloud.h"
#include "fuzz_input.h"
#include "ici3d.h"

namespace {

using ici3d_fuzz::ByteReader;
using ici3d_fuzz::check;

constexpr int32_t kPermutations[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2},
                                         {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
// A NaN payload the library never produces, to see which outputs were written.
constexpr uint32_t kUnwrittenBits = 0x7fa5a5a5u;

std::vector<int32_t> decode_axes(ByteReader& in, int32_t n, bool permutations) {
  std::vector<int32_t> axes(3 * static_cast<size_t>(n));
  for (size_t i = 0; i < axes.size(); i += 3) {
    if (permutations) {
      const int32_t* p = kPermutations[in.below(6)];
      std::copy(p, p + 3, axes.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      for (size_t k = 0; k < 3; ++k) axes[i + k] = in.take<int8_t>() % 4;
    }
  }
  return axes;
}

bool holds_bits(const std::vector<float>& v, uint32_t bits) {
  return std::any_of(v.begin(), v.end(), [bits](float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b == bits;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  const uint8_t flags = in.take<uint8_t>();
  const int32_t n = in.below(ici3d_fuzz::kMaxPoints + 1);
  const int32_t num_scales = ici3d_fuzz::clamp_scales(in.take<int8_t>());
  const int32_t base_size = in.take<int8_t>();
  const int32_t raw_max_selected = in.take<int8_t>();
  float params[6];
  for (float& p : params) p = in.take<float>();
  const float gamma = params[0], preselect = params[1], ratio = params[2], size_norm = params[3],
              reg_weight = params[4], sigma_factor = params[5];
  ici3d_fuzz::FuzzCloud c;
  ici3d_fuzz::decode_cloud(in, c, n);
  const std::vector<float> frames = in.floats(9 * static_cast<size_t>(n));
  const std::vector<int32_t> axes = decode_axes(in, n, (flags & 4) != 0);
  ici3d_fuzz::decode_lists(in, c, (flags & 1) == 0, false);
  const int32_t max_selected = std::clamp(raw_max_selected, -1, c.view.longest + 3);
  const int32_t passed_n = (flags & 2) != 0 ? -n : n;

  float unwritten;
  std::memcpy(&unwritten, &kUnwrittenBits, sizeof unwritten);
  std::vector<float> denoised(3 * static_cast<size_t>(n), unwritten);
  const std::vector<float> noise_before = c.noise;
  main_loop3_parallel(c.view.pointers.data(), c.view.counts.data(), frames.data(), axes.data(),
                      passed_n, max_selected, gamma, preselect, ratio, size_norm, reg_weight,
                      sigma_factor, c.noise.data(), c.points.data(), num_scales, base_size,
                      denoised.data());

  if (passed_n < 1) {
    check(!std::any_of(denoised.begin(), denoised.end(), [&](float v) {
            uint32_t b;
            std::memcpy(&b, &v, sizeof b);
            return b != kUnwrittenBits;
          }),
          "n < 1 writes no position");
    check(ici3d_fuzz::same_bits(c.noise.data(), noise_before.data(), c.noise.size()),
          "n < 1 leaves the noise levels alone");
    return 0;
  }
  // An input holding the marker could pass it on through NaN arithmetic.
  unsigned char marker[4];
  std::memcpy(marker, &kUnwrittenBits, 4);
  if (std::search(data, data + size, marker, marker + 4) == data + size) {
    check(!holds_bits(denoised, kUnwrittenBits), "every position is written");
  }
  return 0;
}
