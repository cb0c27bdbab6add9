// k-NN tables and candidate lists against brute force.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

#include "ici3d.h"
#include "ici3d_host/neighbors.h"

using ici3d::host::candidate_lists;
using ici3d::host::CandidateLists;
using ici3d::host::knn_table;
using ici3d::host::KnnTable;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// Coordinates on a coarse integer lattice make equal distances and exact
// duplicates common, so tie-breaking is exercised.
std::vector<float> lattice_cloud(int32_t n, int extent, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> coord(0, extent);
  std::vector<float> xyz(3 * static_cast<size_t>(n));
  for (float& v : xyz) v = static_cast<float>(coord(rng)) * 0.25f;
  return xyz;
}

std::vector<float> uniform_cloud(int32_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> coord(-1.0f, 1.0f);
  std::vector<float> xyz(3 * static_cast<size_t>(n));
  for (float& v : xyz) v = coord(rng);
  return xyz;
}

void spoil(std::vector<float>& xyz, std::vector<int32_t> points) {
  const float bad[] = {kNaN, kInf, -kInf};
  for (size_t j = 0; j < points.size(); ++j) xyz[3 * points[j] + j % 3] = bad[j % 3];
}

bool finite(const std::vector<float>& xyz, int32_t i) {
  return std::isfinite(xyz[3 * i]) && std::isfinite(xyz[3 * i + 1]) &&
         std::isfinite(xyz[3 * i + 2]);
}

double sq_dist(const std::vector<float>& xyz, int32_t i, int32_t j) {
  const double dx = double(xyz[3 * i]) - double(xyz[3 * j]);
  const double dy = double(xyz[3 * i + 1]) - double(xyz[3 * j + 1]);
  const double dz = double(xyz[3 * i + 2]) - double(xyz[3 * j + 2]);
  return (dx * dx + dy * dy) + dz * dz;
}

// Other finite points within sq_radius of i, by (squared distance, index).
std::vector<int32_t> sorted_others(const std::vector<float>& xyz, int32_t i, double sq_radius) {
  const int32_t n = static_cast<int32_t>(xyz.size() / 3);
  std::vector<std::pair<double, int32_t>> others;
  if (finite(xyz, i))
    for (int32_t j = 0; j < n; ++j)
      if (j != i && finite(xyz, j) && sq_dist(xyz, i, j) <= sq_radius)
        others.emplace_back(sq_dist(xyz, i, j), j);
  std::sort(others.begin(), others.end());
  std::vector<int32_t> ids;
  for (const auto& o : others) ids.push_back(o.second);
  return ids;
}

std::vector<int32_t> brute_knn(const std::vector<float>& xyz, int32_t k) {
  const int32_t n = static_cast<int32_t>(xyz.size() / 3);
  std::vector<int32_t> table;
  for (int32_t i = 0; i < n && k > 0; ++i) {
    std::vector<int32_t> row{i};
    for (int32_t j : sorted_others(xyz, i, INFINITY))
      if (static_cast<int32_t>(row.size()) < k) row.push_back(j);
    row.resize(static_cast<size_t>(k), i);
    table.insert(table.end(), row.begin(), row.end());
  }
  return table;
}

struct BruteLists {
  std::vector<std::vector<int32_t>> lists;
  int64_t capped = 0;
};

BruteLists brute_lists(const std::vector<float>& xyz, float radius, int32_t cap) {
  const int32_t n = static_cast<int32_t>(xyz.size() / 3);
  BruteLists out;
  for (int32_t i = 0; i < n; ++i) {
    std::vector<int32_t> list{i};
    for (int32_t j : sorted_others(xyz, i, double(radius) * double(radius))) list.push_back(j);
    if (static_cast<int32_t>(list.size()) > cap) {
      list.resize(static_cast<size_t>(cap));
      ++out.capped;
    }
    out.lists.push_back(list);
  }
  return out;
}

std::vector<int32_t> list_of(const CandidateLists& lists, int32_t i) {
  return std::vector<int32_t>(lists.pointers[i], lists.pointers[i] + lists.counts[i]);
}

void expect_lists_equal(const CandidateLists& got, const BruteLists& want) {
  const size_t n = want.lists.size();
  ASSERT_EQ(got.counts.size(), n);
  ASSERT_EQ(got.pointers.size(), n);
  ASSERT_EQ(got.offsets.size(), n + 1);
  int32_t longest = 0;
  for (size_t i = 0; i < n; ++i) {
    EXPECT_EQ(list_of(got, static_cast<int32_t>(i)), want.lists[i]) << "list " << i;
    EXPECT_EQ(got.pointers[i], got.indices.data() + got.offsets[i]);
    longest = std::max(longest, static_cast<int32_t>(want.lists[i].size()));
  }
  EXPECT_EQ(got.offsets.back(), static_cast<int64_t>(got.indices.size()));
  EXPECT_EQ(got.longest, longest);
  EXPECT_EQ(got.capped, want.capped);
}

}  // namespace

// ---------------------------------------------------------------------------
// k-NN table

TEST(KnnTable, MatchesBruteForceWithTiesAndDuplicates) {
  for (int extent : {3, 12, 40}) {
    const std::vector<float> xyz = lattice_cloud(700, extent, 11u + extent);
    for (int32_t k : {1, 2, 9, 27}) {
      const KnnTable table = knn_table(xyz.data(), 700, k);
      EXPECT_EQ(table.k, k);
      EXPECT_EQ(table.indices, brute_knn(xyz, k)) << "extent " << extent << " k " << k;
    }
  }
}

TEST(KnnTable, MatchesBruteForceOnLargerUniformCloud) {
  const std::vector<float> xyz = uniform_cloud(2000, 5u);
  EXPECT_EQ(knn_table(xyz.data(), 2000, 12).indices, brute_knn(xyz, 12));
}

TEST(KnnTable, KAtLeastNPadsRowsWithThePointItself) {
  const std::vector<float> xyz = uniform_cloud(5, 2u);
  for (int32_t k : {5, 8}) {
    const KnnTable table = knn_table(xyz.data(), 5, k);
    EXPECT_EQ(table.indices, brute_knn(xyz, k));
    for (int32_t i = 0; i < 5; ++i) {
      const int32_t* row = table.indices.data() + k * i;
      std::vector<int32_t> members(row, row + std::min(k, 5));
      std::sort(members.begin(), members.end());
      EXPECT_EQ(members, (std::vector<int32_t>{0, 1, 2, 3, 4}));
      for (int32_t j = 5; j < k; ++j) EXPECT_EQ(row[j], i);
    }
  }
}

TEST(KnnTable, EmptyAndSinglePointClouds) {
  EXPECT_TRUE(knn_table(nullptr, 0, 4).indices.empty());
  const float one[3] = {1, 2, 3};
  EXPECT_EQ(knn_table(one, 1, 3).indices, (std::vector<int32_t>{0, 0, 0}));
  const KnnTable none = knn_table(one, 1, 0);
  EXPECT_EQ(none.k, 0);
  EXPECT_TRUE(none.indices.empty());
}

TEST(KnnTable, NonFinitePointsAreExcludedAndRepeatThemselves) {
  std::vector<float> xyz = lattice_cloud(400, 10, 3u);
  spoil(xyz, {0, 17, 18, 250, 399});
  const KnnTable table = knn_table(xyz.data(), 400, 10);
  EXPECT_EQ(table.indices, brute_knn(xyz, 10));
  for (int32_t j = 0; j < 10; ++j) EXPECT_EQ(table.indices[10 * 17 + j], 17);
}

TEST(KnnTable, IdenticalForAnyThreadCount) {
  std::vector<float> xyz = lattice_cloud(20000, 60, 9u);
  spoil(xyz, {4, 5000});
  const KnnTable one = knn_table(xyz.data(), 20000, 16, 1);
  EXPECT_EQ(knn_table(xyz.data(), 20000, 16, 3).indices, one.indices);
  EXPECT_EQ(knn_table(xyz.data(), 20000, 16, 8).indices, one.indices);
}

TEST(KnnTable, RejectsInvalidArguments) {
  const float one[3] = {0, 0, 0};
  EXPECT_THROW(knn_table(one, -1, 3), std::invalid_argument);
  EXPECT_THROW(knn_table(one, 1, -1), std::invalid_argument);
  EXPECT_THROW(knn_table(nullptr, 2, 3), std::invalid_argument);
}

// ---------------------------------------------------------------------------
// Candidate lists

TEST(CandidateLists, MatchBruteForceWithTiesAndDuplicates) {
  for (int extent : {6, 20}) {
    const std::vector<float> xyz = lattice_cloud(900, extent, 21u + extent);
    for (float radius : {0.0f, 0.5f, 1.25f}) {
      SCOPED_TRACE(::testing::Message() << "extent " << extent << " radius " << radius);
      expect_lists_equal(candidate_lists(xyz.data(), 900, radius, 100000),
                         brute_lists(xyz, radius, 100000));
    }
  }
}

TEST(CandidateLists, CapKeepsTheNearestAndCountsCutLists) {
  const std::vector<float> xyz = lattice_cloud(1500, 16, 8u);
  for (int32_t cap : {1, 2, 9, 40}) {
    SCOPED_TRACE(::testing::Message() << "cap " << cap);
    const BruteLists want = brute_lists(xyz, 0.8f, cap);
    ASSERT_GT(want.capped, 0);
    if (cap >= 9) {
      ASSERT_LT(want.capped, 1500);
    }
    expect_lists_equal(candidate_lists(xyz.data(), 1500, 0.8f, cap), want);
  }
}

TEST(CandidateLists, ListOfExactlyCapEntriesIsNotCounted) {
  // Four points at distinct distances from point 0: the list of 0 has 4 entries.
  const std::vector<float> xyz = {0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3};
  const CandidateLists exact = candidate_lists(xyz.data(), 4, 10.0f, 4);
  EXPECT_EQ(exact.capped, 0);
  EXPECT_EQ(exact.longest, 4);
  const CandidateLists cut = candidate_lists(xyz.data(), 4, 10.0f, 3);
  EXPECT_EQ(cut.capped, 4);
  EXPECT_EQ(list_of(cut, 0), (std::vector<int32_t>{0, 1, 2}));
}

TEST(CandidateLists, NonFinitePointsGetOnlyThemselves) {
  std::vector<float> xyz = lattice_cloud(500, 8, 4u);
  spoil(xyz, {2, 3, 100, 499});
  const CandidateLists lists = candidate_lists(xyz.data(), 500, 0.6f, 64);
  expect_lists_equal(lists, brute_lists(xyz, 0.6f, 64));
  EXPECT_EQ(list_of(lists, 100), (std::vector<int32_t>{100}));
}

TEST(CandidateLists, EmptyAndSinglePointClouds) {
  const CandidateLists none = candidate_lists(nullptr, 0, 1.0f);
  EXPECT_TRUE(none.pointers.empty());
  EXPECT_EQ(none.offsets, (std::vector<int64_t>{0}));
  EXPECT_EQ(none.longest, 0);
  const float one[3] = {1, 1, 1};
  const CandidateLists single = candidate_lists(one, 1, 1.0f);
  EXPECT_EQ(list_of(single, 0), (std::vector<int32_t>{0}));
  EXPECT_EQ(single.longest, 1);
}

TEST(CandidateLists, CopiesPointIntoTheirOwnIndices) {
  const std::vector<float> xyz = uniform_cloud(300, 6u);
  auto original = std::make_unique<CandidateLists>(candidate_lists(xyz.data(), 300, 0.4f));
  const CandidateLists copy(*original);
  CandidateLists assigned;
  assigned = *original;
  original.reset();
  const BruteLists want = brute_lists(xyz, 0.4f, ici3d::host::kDefaultCandidateCap);
  expect_lists_equal(copy, want);
  expect_lists_equal(assigned, want);
}

TEST(CandidateLists, IdenticalForAnyThreadCount) {
  std::vector<float> xyz = lattice_cloud(30000, 80, 12u);
  spoil(xyz, {0, 29999});
  const CandidateLists one = candidate_lists(xyz.data(), 30000, 1.0f, 32, 1);
  for (int threads : {2, 5}) {
    const CandidateLists many = candidate_lists(xyz.data(), 30000, 1.0f, 32, threads);
    EXPECT_EQ(many.indices, one.indices);
    EXPECT_EQ(many.offsets, one.offsets);
    EXPECT_EQ(many.capped, one.capped);
  }
}

TEST(CandidateLists, RejectsInvalidArguments) {
  const float one[3] = {0, 0, 0};
  EXPECT_THROW(candidate_lists(one, 1, -1.0f), std::invalid_argument);
  EXPECT_THROW(candidate_lists(one, 1, kNaN), std::invalid_argument);
  EXPECT_THROW(candidate_lists(one, 1, 1.0f, 0), std::invalid_argument);
  EXPECT_THROW(candidate_lists(nullptr, 3, 1.0f), std::invalid_argument);
}

// ---------------------------------------------------------------------------
// Searches in spatial order start from the previous point's answer; clouds
// whose density jumps between neighbouring points make that guess wrong.

// A dense blob, a sparse shell around it, a stack of duplicates and a
// lattice patch: the guess from a dense neighbour holds too few points for a
// sparse one, the duplicates give zero-width bounds, the lattice exact ties.
std::vector<float> mixed_density_cloud() {
  std::mt19937 rng(31u);
  std::normal_distribution<float> blob(0.0f, 0.05f);
  std::uniform_real_distribution<float> shell(-3.0f, 3.0f);
  std::vector<float> xyz;
  for (int j = 0; j < 600; ++j) xyz.insert(xyz.end(), {blob(rng), blob(rng), blob(rng)});
  for (int j = 0; j < 300; ++j) xyz.insert(xyz.end(), {shell(rng), shell(rng), shell(rng)});
  for (int j = 0; j < 50; ++j) xyz.insert(xyz.end(), {1.5f, -1.0f, 0.25f});
  for (int x = 0; x < 7; ++x)
    for (int y = 0; y < 7; ++y) xyz.insert(xyz.end(), {4.0f + 0.5f * x, 0.5f * y, 0.0f});
  return xyz;
}

TEST(SpatialOrderSearch, MatchesBruteForceWhereDensityJumps) {
  const std::vector<float> xyz = mixed_density_cloud();
  const int32_t n = static_cast<int32_t>(xyz.size() / 3);
  for (int32_t k : {2, 9, 60}) {
    EXPECT_EQ(knn_table(xyz.data(), n, k, 2).indices, brute_knn(xyz, k)) << "k " << k;
  }
  for (int32_t cap : {3, 40, 200}) {
    for (float radius : {0.3f, 2.0f, 100.0f}) {
      SCOPED_TRACE(::testing::Message() << "cap " << cap << " radius " << radius);
      expect_lists_equal(candidate_lists(xyz.data(), n, radius, cap, 2),
                         brute_lists(xyz, radius, cap));
    }
  }
}

// Lists are searched in blocks of consecutive points on all threads and put
// together in point order; a cloud in random order makes each block's
// searches start far from their predecessors.
TEST(SpatialOrderSearch, ListsOfManyBlocksMatchBruteForceOnAnyThreadCount) {
  const std::vector<float> xyz = lattice_cloud(5000, 30, 17u);
  const BruteLists want = brute_lists(xyz, 1.0f, 24);
  for (int threads : {1, 3}) {
    SCOPED_TRACE(::testing::Message() << threads << " threads");
    expect_lists_equal(candidate_lists(xyz.data(), 5000, 1.0f, 24, threads), want);
  }
}

// One search for both tables gives what the two builders give apart: rows
// taken from long enough lists, searched for short ones (small radius,
// k above the cap), limited to the active points, non-finite points left out.
TEST(SpatialOrderSearch, BothTablesFromOneIndexEqualTheSeparateBuilders) {
  std::vector<float> xyz = mixed_density_cloud();
  const int32_t n = static_cast<int32_t>(xyz.size() / 3);
  spoil(xyz, {5, 700});
  std::vector<char> active(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) active[static_cast<size_t>(i)] = i % 3 != 1;
  struct Case {
    int32_t k, cap;
    float radius;
    const char* mask;
  };
  for (const Case& c : {Case{9, 40, 2.0f, nullptr}, Case{9, 40, 0.05f, nullptr},
                        Case{60, 16, 2.0f, nullptr}, Case{9, 40, 2.0f, active.data()}}) {
    SCOPED_TRACE(::testing::Message() << "k " << c.k << " cap " << c.cap << " radius " << c.radius
                                      << (c.mask ? " masked" : ""));
    const ici3d::host::NeighbourTables both =
        ici3d::host::neighbour_tables(xyz.data(), n, c.k, c.radius, c.cap, 2, c.mask);
    EXPECT_EQ(both.knn.k, c.k);
    EXPECT_EQ(both.knn.indices, knn_table(xyz.data(), n, c.k, 1, c.mask).indices);
    const CandidateLists lists = candidate_lists(xyz.data(), n, c.radius, c.cap, 1, c.mask);
    EXPECT_EQ(both.lists.indices, lists.indices);
    EXPECT_EQ(both.lists.offsets, lists.offsets);
    EXPECT_EQ(both.lists.capped, lists.capped);
  }
  EXPECT_THROW(ici3d::host::neighbour_tables(xyz.data(), n, -1, 1.0f), std::invalid_argument);
  EXPECT_THROW(ici3d::host::neighbour_tables(xyz.data(), n, 4, kNaN), std::invalid_argument);
}

// The two builders together give arguments the library accepts, non-finite
// points included.
TEST(NeighbourInputs, PassTheLibraryArgumentCheck) {
  std::vector<float> xyz = uniform_cloud(2000, 13u);
  spoil(xyz, {7, 1999});
  const int32_t n = 2000, k = 10;
  const KnnTable table = knn_table(xyz.data(), n, k);
  const CandidateLists lists =
      candidate_lists(xyz.data(), n, ici3d::host::preselect_radius(0.1f), 64);
  std::vector<float> sigma(n, 0.01f), out(3 * n);
  EXPECT_EQ(ici3d_check_arguments(xyz.data(), n, sigma.data(), 2, 3, lists.pointers.data(), 100.0f,
                                  0.1f, 1.5f, lists.counts.data(), lists.longest, 0,
                                  table.indices.data(), k, out.data()),
            ICI3D_ARGS_OK);
}

TEST(DegenerateNeighbourhood, PointsAndLinesAreDegeneratePlanesAndBlobsAreNot) {
  const std::vector<int32_t> row = {0, 1, 2, 3};
  // Identical positions, positions on a line (also far from the origin, where
  // the scatter is small against the coordinates), a tilted square, a blob.
  const std::vector<float> same = {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3};
  const std::vector<float> line = {0, 0, 0, 1, 2, 3, 2, 4, 6, -1, -2, -3};
  const std::vector<float> far_line = {1e5f, 1e5f, 1e5f, 1e5f + 1, 1e5f, 1e5f,
                                       1e5f + 2, 1e5f, 1e5f, 1e5f + 3, 1e5f, 1e5f};
  const std::vector<float> square = {0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 1, 1};
  const std::vector<float> blob = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_TRUE(ici3d::host::degenerate_neighbourhood(same.data(), row.data(), 4));
  EXPECT_TRUE(ici3d::host::degenerate_neighbourhood(line.data(), row.data(), 4));
  EXPECT_TRUE(ici3d::host::degenerate_neighbourhood(far_line.data(), row.data(), 4));
  EXPECT_FALSE(ici3d::host::degenerate_neighbourhood(square.data(), row.data(), 4));
  EXPECT_FALSE(ici3d::host::degenerate_neighbourhood(blob.data(), row.data(), 4));
  // A single position, two positions, and a row listing one point repeatedly.
  EXPECT_TRUE(ici3d::host::degenerate_neighbourhood(blob.data(), row.data(), 1));
  EXPECT_TRUE(ici3d::host::degenerate_neighbourhood(blob.data(), row.data(), 2));
  const std::vector<int32_t> repeated = {1, 1, 1, 1};
  EXPECT_TRUE(ici3d::host::degenerate_neighbourhood(blob.data(), repeated.data(), 4));
}

TEST(DegenerateNeighbourhood, NonFiniteOrOverflowingPositionsAreDegenerate) {
  const std::vector<int32_t> row = {0, 1, 2, 3};
  std::vector<float> blob = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
  blob[4] = std::nanf("");
  EXPECT_TRUE(ici3d::host::degenerate_neighbourhood(blob.data(), row.data(), 4));
  blob[4] = INFINITY;
  EXPECT_TRUE(ici3d::host::degenerate_neighbourhood(blob.data(), row.data(), 4));
  // Float's largest coordinates stay well inside double's range in the sums.
  const float big = 3e38f;
  const std::vector<float> huge = {0, 0, 0, big, 0, 0, 0, big, 0, 0, 0, big};
  EXPECT_FALSE(ici3d::host::degenerate_neighbourhood(huge.data(), row.data(), 4));
}
