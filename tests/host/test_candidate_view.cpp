#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "ici3d_host/candidate_view.h"

namespace {

using ici3d::host::CandidateView;
using ici3d::host::candidate_view;

std::vector<int32_t> list_of(const CandidateView& view, size_t i) {
  return std::vector<int32_t>(view.pointers[i], view.pointers[i] + view.counts[i]);
}

TEST(CandidateView, RaggedListsAreViewedInPlace) {
  std::vector<std::vector<int32_t>> lists{{0, 2, 1}, {}, {2}, {3, 0, 1, 2}};
  const CandidateView view = candidate_view(lists);
  ASSERT_EQ(view.pointers.size(), 4u);
  EXPECT_EQ(view.counts, (std::vector<int32_t>{3, 0, 1, 4}));
  EXPECT_EQ(view.longest, 4);
  for (size_t i = 0; i < lists.size(); ++i) {
    EXPECT_NE(view.pointers[i], nullptr) << i;  // the empty list too
    EXPECT_EQ(list_of(view, i), lists[i]) << i;
  }
  // A view, not a copy: writes through the lists show.
  lists[3][1] = 7;
  EXPECT_EQ(view.pointers[3][1], 7);
  // Moving the outer vector keeps the inner storage.
  const std::vector<std::vector<int32_t>> moved = std::move(lists);
  EXPECT_EQ(view.pointers[0], moved[0].data());

  std::vector<std::vector<int32_t>> none;
  const CandidateView empty = candidate_view(none);
  EXPECT_TRUE(empty.pointers.empty());
  EXPECT_EQ(empty.longest, 0);
}

TEST(CandidateView, CompressedListsSplitAtTheirOffsets) {
  const std::vector<int32_t> indices{0, 1, 1, 2, 0, 2};
  const std::vector<int64_t> offsets{0, 2, 2, 6};
  const CandidateView view = candidate_view(indices.data(), 6, offsets.data(), 3);
  EXPECT_EQ(view.counts, (std::vector<int32_t>{2, 0, 4}));
  EXPECT_EQ(view.longest, 4);
  EXPECT_EQ(view.pointers[0], indices.data());
  EXPECT_EQ(view.pointers[2], indices.data() + 2);
  EXPECT_EQ(list_of(view, 2), (std::vector<int32_t>{1, 2, 0, 2}));

  const int64_t zero = 0;
  const CandidateView nothing = candidate_view(nullptr, 0, &zero, 0);
  EXPECT_TRUE(nothing.counts.empty());
  EXPECT_EQ(nothing.longest, 0);
}

TEST(CandidateView, MalformedOffsetsAreRejected) {
  const std::vector<int32_t> indices{0, 1, 2, 3};
  struct Case {
    const char* what;
    std::vector<int64_t> offsets;
    int64_t total;
    const char* message;
  };
  const Case cases[] = {
      {"not starting at 0", {1, 2, 4}, 4, "start at 0"},
      {"ending short", {0, 2, 3}, 4, "end at the number of indices, 4"},
      {"ending beyond", {0, 2, 5}, 4, "got 0 and 5"},
      {"decreasing", {0, 3, 1, 4}, 4, "list 1 has -2"},
  };
  for (const Case& c : cases) {
    const int32_t n = static_cast<int32_t>(c.offsets.size()) - 1;
    try {
      candidate_view(indices.data(), c.total, c.offsets.data(), n);
      ADD_FAILURE() << c.what << ": no exception";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.what << ": " << e.what();
    }
  }
  const int64_t zero = 0;
  EXPECT_THROW(candidate_view(indices.data(), 0, &zero, -1), std::invalid_argument);
  EXPECT_THROW(candidate_view(indices.data(), 0, nullptr, 0), std::invalid_argument);
  const std::vector<int64_t> offsets{0, 4};
  EXPECT_THROW(candidate_view(nullptr, 4, offsets.data(), 1), std::invalid_argument);
}

}  // namespace
