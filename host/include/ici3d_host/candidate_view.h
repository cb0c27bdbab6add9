#pragma once
// Candidate lists in the form the library takes them: one int32_t pointer per
// point to the start of its list, and the list's length. The views point into
// storage that the caller keeps alive; they copy no indices.
//
// Header-only, with no dependency beyond the standard library, so that code
// which links the core library alone (its tests, the fuzz harnesses) can use
// it as well.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace ici3d::host {

struct CandidateView {
  std::vector<int32_t*> pointers;  // n pointers, list i at pointers[i]
  std::vector<int32_t> counts;     // n lengths
  int32_t longest = 0;             // max count (0 when n = 0): the library's max_selected
};

/// A view of ragged lists, one per point. Every pointer is non-null: an empty
/// list gets storage of its own reserved, so that a null pointer only ever
/// comes from a caller who sets one. Lists longer than int32 can count throw
/// std::invalid_argument. The pointers stay valid while no list is resized
/// beyond its capacity (moving the outer vector keeps them).
inline CandidateView candidate_view(std::vector<std::vector<int32_t>>& lists) {
  CandidateView view;
  view.pointers.reserve(lists.size());
  view.counts.reserve(lists.size());
  for (size_t i = 0; i < lists.size(); ++i) {
    std::vector<int32_t>& list = lists[i];
    if (list.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
      throw std::invalid_argument("candidate list " + std::to_string(i) + " holds " +
                                  std::to_string(list.size()) + " entries, more than 2^31 - 1");
    if (list.empty()) list.reserve(1);
    view.pointers.push_back(list.data());
    view.counts.push_back(static_cast<int32_t>(list.size()));
    view.longest = std::max(view.longest, view.counts.back());
  }
  return view;
}

/// A view of compressed lists: list i is indices[offsets[i] .. offsets[i+1]),
/// with `offsets` holding n+1 entries and `indices` holding `total`.
/// Throws std::invalid_argument for n < 0, null offsets, null indices with
/// total > 0, offsets that do not start at 0, do not end at `total` or
/// decrease, and lists longer than int32 can count.
/// The library takes non-const list pointers but only reads through them, so
/// read-only indices are fine.
inline CandidateView candidate_view(const int32_t* indices, int64_t total, const int64_t* offsets,
                                    int32_t n) {
  if (n < 0) throw std::invalid_argument("negative number of lists " + std::to_string(n));
  if (offsets == nullptr) throw std::invalid_argument("null list offsets");
  if (indices == nullptr && total > 0) throw std::invalid_argument("null list indices");
  if (offsets[0] != 0 || offsets[n] != total)
    throw std::invalid_argument("offsets must start at 0 and end at the number of indices, " +
                                std::to_string(total) + "; got " + std::to_string(offsets[0]) +
                                " and " + std::to_string(offsets[n]));
  CandidateView view;
  view.pointers.resize(static_cast<size_t>(n));
  view.counts.resize(static_cast<size_t>(n));
  int32_t* base = const_cast<int32_t*>(indices);
  for (int32_t i = 0; i < n; ++i) {
    const int64_t count = offsets[i + 1] - offsets[i];
    if (count < 0 || count > std::numeric_limits<int32_t>::max())
      throw std::invalid_argument(
          "offsets must not decrease and each list must hold < 2^31 entries; list " +
          std::to_string(i) + " has " + std::to_string(count));
    view.pointers[static_cast<size_t>(i)] = base == nullptr ? nullptr : base + offsets[i];
    view.counts[static_cast<size_t>(i)] = static_cast<int32_t>(count);
    view.longest = std::max(view.longest, view.counts[static_cast<size_t>(i)]);
  }
  return view;
}

}  // namespace ici3d::host
