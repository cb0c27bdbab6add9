#pragma once
// Pieces shared by the PCD reader and writer.

#include <optional>
#include <vector>

#include "ici3d_host/point_cloud.h"
#include "records.h"

namespace ici3d::host::io_detail {

/// ScalarType of a PCD TYPE letter and SIZE; empty when there is none.
std::optional<ScalarType> pcd_scalar_type(char letter, uint64_t size);
/// The TYPE letter of a ScalarType: 'I', 'U' or 'F'.
char pcd_type_letter(ScalarType type);

/// The comment that opens PCD files, after "# ".
inline constexpr const char* kPcdSignature = ".PCD v0.7 - Point Cloud Data file format";

/// Layout of binary_compressed data once decompressed: field after field,
/// each field's values for all points together (a point's components stay
/// adjacent). The slots come field by field, `counts[f]` components each.
template <class Slot>
BufferLayout column_layout(const std::vector<Slot>& slots, const std::vector<uint32_t>& counts, size_t points) {
  BufferLayout layout;
  size_t block = 0, s = 0;
  for (uint32_t count : counts) {
    const size_t size = scalar_size(slots[s].type);
    for (uint32_t c = 0; c < count; ++c, ++s) {
      layout.offsets.push_back(block + c * size);
      layout.strides.push_back(count * size);
    }
    block += points * count * size;
  }
  return layout;
}

}  // namespace ici3d::host::io_detail
