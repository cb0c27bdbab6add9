// Host pipeline harness: ici3d::host::denoise on a small cloud of raw double
// bits with options from the input.
//
// Input, in order: flags (bit 0: per-point noise levels; bit 1: spacing
// given; bit 2: noise level given; bit 3: extra outputs; bit 4: smooth
// preset), n (0..48), passes (1..2), k (raw byte), base_size (0..7),
// num_scales (signed byte clamped to -1..6), scale_ratio (raw float),
// list_cap (raw uint16), spacing and sigma (raw doubles), the positions (3n
// raw doubles), then n raw floats of per-point noise when asked for.
//
// Options are checked first: DenoiseError leaves the cloud untouched. Any
// other outcome keeps every point: non-finite points bit for bit, finite
// points finite (the pipeline keeps in place what the library cannot
// estimate), and the requested attributes hold one value per point.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "ici3d_host/denoise.h"
#include "ici3d_host/points.h"

namespace {

using ici3d::host::DenoiseError;
using ici3d::host::DenoiseOptions;
using ici3d::host::PointCloud;
using ici3d_fuzz::ByteReader;
using ici3d_fuzz::check;

constexpr int32_t kMaxPoints = 48;

DenoiseOptions decode_options(ByteReader& in, uint8_t flags) {
  DenoiseOptions o;
  o.threads = 1;  // the parallel phases have their own ThreadSanitizer run
  o.preset = (flags & 16) != 0 ? ici3d::host::Preset::Smooth : ici3d::host::Preset::Detail;
  o.passes = 1 + in.below(2);
  o.k = in.take<uint8_t>();
  o.base_size = in.below(8);
  o.num_scales = std::max(-1, std::min(6, static_cast<int>(in.take<int8_t>())));
  o.scale_ratio = in.take<float>();
  o.list_cap = in.take<uint16_t>();
  const double spacing = in.take<double>();
  const double sigma = in.take<double>();
  if ((flags & 2) != 0) o.spacing = spacing;
  if ((flags & 4) != 0) o.sigma = sigma;
  o.output_sigma = o.output_displacement = o.output_normal = (flags & 8) != 0;
  return o;
}

void check_points_kept(const std::vector<double>& before, const std::vector<double>& after) {
  check(before.size() == after.size(), "the point count is kept");
  for (size_t i = 0; i < before.size(); i += 3) {
    if (ici3d::host::is_finite_point(&before[i])) {
      check(ici3d::host::is_finite_point(&after[i]), "a finite point stays finite");
    } else {
      check(ici3d_fuzz::same_bits(&before[i], &after[i], 3),
            "a non-finite point is kept bit for bit");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  const uint8_t flags = in.take<uint8_t>();
  const int32_t n = in.below(kMaxPoints + 1);
  DenoiseOptions options = decode_options(in, flags);
  PointCloud cloud;
  cloud.xyz.resize(3 * static_cast<size_t>(n));
  for (double& v : cloud.xyz) v = in.take<double>();
  if ((flags & 1) != 0) {
    for (int32_t i = 0; i < n; ++i) options.point_sigma.push_back(in.take<float>());
  }

  const std::vector<double> before = cloud.xyz;
  try {
    ici3d::host::denoise(cloud, options);
  } catch (const DenoiseError&) {
    check(before.size() == cloud.xyz.size() &&
              ici3d_fuzz::same_bits(before.data(), cloud.xyz.data(), before.size()),
          "a refused run leaves the cloud alone");
    return 0;
  }
  check_points_kept(before, cloud.xyz);
  for (const auto& attribute : cloud.attributes) {
    check(attribute.size() == cloud.size(), "an added attribute holds one value per point");
  }
  return 0;
}
