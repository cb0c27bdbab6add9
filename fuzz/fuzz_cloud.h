// A small cloud and its neighbourhood arrays decoded from a fuzz input, for
// the harnesses of the whole pass (fuzz_entry, fuzz_main_loop).
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "ici3d_host/candidate_view.h"

namespace ici3d_fuzz {

// Bounds that keep one input fast: the pass costs about
// n * list length * (num_scales + 1).
constexpr int32_t kMaxPoints = 64;
constexpr int32_t kMaxK = 32;
constexpr int32_t kMaxListLength = 32;
constexpr int32_t kMinScales = -2, kMaxScales = 6;

struct FuzzCloud {
  int32_t n = 0;
  std::vector<float> points;   // 3n raw floats
  std::vector<float> noise;    // n raw floats
  std::vector<std::vector<int32_t>> lists;
  ici3d::host::CandidateView view;  // points into `lists`
};

// Candidate lists: a length byte per point, then one byte per entry. With
// `self_first` list i starts with i (then the entries are the others);
// entries are taken modulo n, or as raw int16 with `raw_indices`.
inline void decode_lists(ByteReader& in, FuzzCloud& c, bool self_first, bool raw_indices) {
  const size_t n = static_cast<size_t>(c.n);
  c.lists.assign(n, {});
  for (size_t i = 0; i < n; ++i) {
    const int32_t length = in.below(kMaxListLength + 1);
    std::vector<int32_t>& list = c.lists[i];
    if (self_first && length > 0) list.push_back(static_cast<int32_t>(i));
    while (static_cast<int32_t>(list.size()) < length) {
      list.push_back(raw_indices ? in.take<int16_t>() : in.below(c.n));
    }
  }
  c.view = ici3d::host::candidate_view(c.lists);
}

inline void decode_cloud(ByteReader& in, FuzzCloud& c, int32_t n) {
  c.n = n;
  c.points = in.floats(3 * static_cast<size_t>(n));
  c.noise = in.floats(static_cast<size_t>(n));
}

// A K-per-row table of indices modulo n.
inline std::vector<int32_t> decode_table(ByteReader& in, int32_t n, int32_t K) {
  std::vector<int32_t> table(static_cast<size_t>(n) * static_cast<size_t>(std::max(K, 0)));
  for (int32_t& v : table) v = in.below(n);
  return table;
}

inline int32_t clamp_scales(int8_t raw) {
  return std::clamp<int32_t>(raw, kMinScales, kMaxScales);
}

}  // namespace ici3d_fuzz
