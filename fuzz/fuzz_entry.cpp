// Whole-pass harness: square_neigh_ici_denoi_recur_pure_c_parallel on a small
// cloud of raw float bits, with neighbour table and candidate lists derived
// from the input, behind ici3d_check_arguments.
//
// Input, in order: flags (bits 0-3: the argument to break, see Breakage;
// bit 4: lists need not start with their own point; bit 5: list entries as
// raw int16 instead of modulo n), n (0..64), K (0..32), num_scales (signed
// byte clamped to -2..6), base_size (signed byte), parameter_set (low bit),
// size_norm, preselect_size, scale_ratio (raw floats), max_selected slack
// (0..3 above the longest list), an argument for the breakage (one byte), the
// points (3n floats), the noise levels (n floats), the table (n*K bytes, each
// modulo n) and the candidate lists (see fuzz_cloud.h).
//
// Checks:
// - ici3d_check_arguments returns exactly the code of the broken argument
//   (0 when nothing was broken, or raw list entries happened to be valid);
// - with a non-zero code the entry refuses: denoised_points receives a copy
//   of the points, noise_sigma is unchanged;
// - with valid arguments the entry runs without a crash, a hang or a
//   sanitizer report, and for a well-posed cloud (see well_posed) every
//   output is finite.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "fuzz_cloud.h"
#include "fuzz_input.h"
#include "ici3d.h"
#include "ici3d_host/neighbors.h"

namespace {

using ici3d_fuzz::ByteReader;
using ici3d_fuzz::check;
using ici3d_fuzz::FuzzCloud;

// The argument made invalid; the values are the codes the check must return.
enum Breakage : int32_t {
  kNone = 0,
  kNegativeN = ICI3D_ARGS_NEGATIVE_N,
  kNullArray = ICI3D_ARGS_NULL_ARRAY,
  kBadParameterSet = ICI3D_ARGS_BAD_PARAMETER_SET,
  kNegativeK = ICI3D_ARGS_NEGATIVE_K,
  kBadNeighborIndex = ICI3D_ARGS_BAD_NEIGHBOR_INDEX,
  kBadCandidateList = ICI3D_ARGS_BAD_CANDIDATE_LIST,
  kBadCandidateIndex = ICI3D_ARGS_BAD_CANDIDATE_INDEX,
  kMaxSelectedSmall = ICI3D_ARGS_MAX_SELECTED_SMALL,
};

struct PassArgs {
  FuzzCloud cloud;
  int32_t n = 0;  // as passed (negative when broken)
  int32_t K = 0;
  int32_t num_scales = 0;
  int32_t base_size = 0;
  int32_t parameter_set = 0;
  float size_norm = 0, preselect_size = 0, scale_ratio = 0;
  int32_t max_selected = 0;
  std::vector<int32_t> table;
  // Pointers as passed; a broken argument may null one of them.
  const float* points = nullptr;
  float* noise = nullptr;
  int32_t* const* lists = nullptr;
  const int32_t* counts = nullptr;
  const int32_t* table_ptr = nullptr;
  float* denoised = nullptr;
};

int32_t check_args(const PassArgs& a) {
  return ici3d_check_arguments(a.points, a.n, a.noise, a.base_size, a.num_scales, a.lists,
                               a.size_norm, a.preselect_size, a.scale_ratio, a.counts,
                               a.max_selected, a.parameter_set, a.table_ptr, a.K, a.denoised);
}

void run_entry(const PassArgs& a) {
  square_neigh_ici_denoi_recur_pure_c_parallel(a.points, a.n, a.noise, a.base_size, a.num_scales,
                                                a.lists, a.size_norm, a.preselect_size,
                                                a.scale_ratio, a.counts, a.max_selected,
                                                a.parameter_set, a.table_ptr, a.K, a.denoised);
}

// Makes one argument invalid; returns the code the check must give (the
// first failing check of the documented order), or kNone where this cloud
// has nothing to break that way.
int32_t break_argument(PassArgs& a, int32_t breakage, uint8_t arg) {
  FuzzCloud& c = a.cloud;
  if (breakage == kNone || breakage > kMaxSelectedSmall) return kNone;
  if (breakage == kNegativeN) {
    a.n = -1 - arg;
    return kNegativeN;
  }
  if (a.n == 0) return kNone;  // n = 0 is valid whatever the rest
  switch (breakage) {
    case kNullArray:
      switch (arg % 6) {
        case 0: a.points = nullptr; break;
        case 1: a.noise = nullptr; break;
        case 2: a.lists = nullptr; break;
        case 3: a.counts = nullptr; break;
        case 4: a.denoised = nullptr; break;
        default:
          if (a.K == 0) return kNone;
          a.table_ptr = nullptr;
      }
      return kNullArray;
    case kBadParameterSet:
      a.parameter_set = arg % 2 == 0 ? 2 + arg : -1 - arg;
      return kBadParameterSet;
    case kNegativeK:
      a.K = -1 - arg;
      return kNegativeK;
    case kBadNeighborIndex:
      if (a.table.empty()) return kNone;
      a.table[arg % a.table.size()] = arg % 2 == 0 ? a.n : -1;
      return kBadNeighborIndex;
    case kBadCandidateList: {
      const size_t i = arg % c.lists.size();
      if (arg % 2 == 0) c.view.counts[i] = -1 - arg;
      else if (c.view.counts[i] > 0) c.view.pointers[i] = nullptr;
      else return kNone;
      return kBadCandidateList;
    }
    case kBadCandidateIndex: {
      const size_t i = arg % c.lists.size();
      if (c.lists[i].empty()) return kNone;
      c.lists[i][arg % c.lists[i].size()] = arg % 2 == 0 ? a.n + arg : -1 - arg;
      return kBadCandidateIndex;
    }
    default:  // kMaxSelectedSmall
      a.max_selected = std::min(a.max_selected, c.view.longest - 1 - arg % 2);
      if (a.max_selected >= 1 && a.max_selected >= c.view.longest) return kNone;
      return kMaxSelectedSmall;
  }
}

bool indices_valid(const std::vector<int32_t>& v, int32_t n) {
  return std::all_of(v.begin(), v.end(), [n](int32_t k) { return k >= 0 && k < n; });
}

// ------------------------------------------------------------------------
// Well-posed clouds: where a NaN output would be garbage.

double distance(const float* a, const float* b) {
  double s = 0;
  for (int c = 0; c < 3; ++c) {
    const double d = static_cast<double>(a[c]) - b[c];
    s += d * d;
  }
  return std::sqrt(s);
}

// Finite coordinates of moderate size, distinct points, noise levels and
// sizes within a few decades of the point spacing, and a planar frame
// neighbourhood for every point.
bool well_posed(const PassArgs& a) {
  const FuzzCloud& c = a.cloud;
  const size_t n = static_cast<size_t>(a.n);
  if (a.n < 4 || a.K < 3) return false;
  for (float v : c.points) {
    if (!std::isfinite(v) || std::fabs(v) > 1e6f) return false;
  }
  double spacing = INFINITY;
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = i + 1; j < n; ++j) {
      spacing = std::min(spacing, distance(&c.points[3 * i], &c.points[3 * j]));
    }
  }
  if (!(spacing > 0)) return false;
  for (float s : c.noise) {
    if (!(s >= 1e-3 * spacing && s <= 1e3 * spacing)) return false;
  }
  const double window = a.base_size / std::sqrt(static_cast<double>(a.size_norm));
  if (!(a.size_norm > 0) || !std::isfinite(a.size_norm) || !(window <= 1e3 * spacing)) return false;
  if (!(a.scale_ratio > 0 && a.scale_ratio <= 10) || !std::isfinite(a.preselect_size)) return false;
  for (size_t i = 0; i < n; ++i) {
    if (ici3d::host::degenerate_neighbourhood(c.points.data(), &a.table[i * static_cast<size_t>(a.K)], a.K)) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  const uint8_t flags = in.take<uint8_t>();
  PassArgs a;
  a.n = in.below(ici3d_fuzz::kMaxPoints + 1);
  a.K = in.below(ici3d_fuzz::kMaxK + 1);
  a.num_scales = ici3d_fuzz::clamp_scales(in.take<int8_t>());
  a.base_size = in.take<int8_t>();
  a.parameter_set = in.take<uint8_t>() & 1;
  a.size_norm = in.take<float>();
  a.preselect_size = in.take<float>();
  a.scale_ratio = in.take<float>();
  const int32_t slack = in.below(4);
  const uint8_t breakage_arg = in.take<uint8_t>();
  FuzzCloud& c = a.cloud;
  ici3d_fuzz::decode_cloud(in, c, a.n);
  a.table = ici3d_fuzz::decode_table(in, a.n, a.K);
  const bool raw_indices = (flags & 32) != 0;
  ici3d_fuzz::decode_lists(in, c, (flags & 16) == 0, raw_indices);
  a.max_selected = std::max(c.view.longest, 1) + slack;

  const size_t n = static_cast<size_t>(a.n);
  std::vector<float> denoised(3 * n, -7.0f);
  a.points = c.points.data();
  a.noise = c.noise.data();
  a.lists = c.view.pointers.data();
  a.counts = c.view.counts.data();
  a.table_ptr = a.table.data();
  a.denoised = denoised.data();

  // Raw list entries may be out of range by themselves: only the checks
  // made before the lists' are broken on top of them.
  int32_t breakage = flags & 15;
  if (raw_indices && breakage >= kBadCandidateList) breakage = kNone;
  int32_t expected = break_argument(a, breakage, breakage_arg);
  if (expected == kNone && raw_indices && a.n > 0) {
    const bool valid = std::all_of(c.lists.begin(), c.lists.end(),
                                   [&](const auto& l) { return indices_valid(l, a.n); });
    if (!valid) expected = kBadCandidateIndex;
  }
  const std::vector<float> noise_before = c.noise;

  const int32_t code = check_args(a);
  check(code == expected, "ici3d_check_arguments names the broken argument");
  check(ici3d_describe_argument_error(code) != nullptr, "every code has a description");
  const bool posed = code == ICI3D_ARGS_OK && well_posed(a);  // before the noise is updated
  run_entry(a);

  if (code != ICI3D_ARGS_OK) {
    if (a.n > 0 && a.points != nullptr && a.denoised != nullptr) {
      check(ici3d_fuzz::same_bits(denoised.data(), c.points.data(), 3 * n),
            "refused arguments: the points are copied unchanged");
    }
    check(ici3d_fuzz::same_bits(c.noise.data(), noise_before.data(), n),
          "refused arguments: the noise levels are unchanged");
    return 0;
  }
  if (posed) {
    check(ici3d_fuzz::all_finite(denoised.data(), denoised.size()),
          "a well-posed cloud gives finite positions");
    check(ici3d_fuzz::all_finite(c.noise.data(), n), "a well-posed cloud gives finite noise levels");
  }
  return 0;
}
