#include <omp.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ici3d.h"
#include "ici3d_host/candidate_view.h"
#include "test_util.h"

namespace {

// Three points, each listing all three, and a full neighbour table.
struct Args {
  std::vector<float> points{0, 0, 0, 1, 0, 0, 0, 1, 0};
  std::vector<float> noise{0.1f, 0.1f, 0.1f};
  std::vector<float> out = std::vector<float>(9, -5.0f);
  std::vector<std::vector<int32_t>> lists{{0, 1, 2}, {1, 0, 2}, {2, 1, 0}};
  std::vector<int32_t *> pointers;
  std::vector<int32_t> counts{3, 3, 3};
  std::vector<int32_t> table{0, 1, 1, 0, 2, 0};
  int32_t n = 3, K = 2, max_selected = 3, parameter_set = 0;
  bool null_noise = false, null_table = false;

  // Counts stay as set, so that a case can spoil them alone.
  void point_at_lists() { pointers = ici3d::host::candidate_view(lists).pointers; }
  int32_t check() {
    point_at_lists();
    return ici3d_check_arguments(points.data(), n, null_noise ? nullptr : noise.data(), 1, 2,
                                 pointers.data(), 1.0f, 1.0f, 1.5f, counts.data(), max_selected,
                                 parameter_set, null_table ? nullptr : table.data(), K,
                                 out.data());
  }
};

TEST(CheckArguments, EachProblemHasItsCode) {
  EXPECT_EQ(Args().check(), ICI3D_ARGS_OK);
  struct Case {
    const char *what;
    void (*spoil)(Args &);
    int32_t code;
  };
  const Case cases[] = {
      {"negative n", [](Args &a) { a.n = -1; }, ICI3D_ARGS_NEGATIVE_N},
      {"null noise", [](Args &a) { a.null_noise = true; }, ICI3D_ARGS_NULL_ARRAY},
      {"null table", [](Args &a) { a.null_table = true; }, ICI3D_ARGS_NULL_ARRAY},
      {"preset 2", [](Args &a) { a.parameter_set = 2; }, ICI3D_ARGS_BAD_PARAMETER_SET},
      {"preset -1", [](Args &a) { a.parameter_set = -1; }, ICI3D_ARGS_BAD_PARAMETER_SET},
      {"negative K", [](Args &a) { a.K = -2; }, ICI3D_ARGS_NEGATIVE_K},
      {"table index n", [](Args &a) { a.table[3] = 3; }, ICI3D_ARGS_BAD_NEIGHBOR_INDEX},
      {"table index -1", [](Args &a) { a.table[5] = -1; }, ICI3D_ARGS_BAD_NEIGHBOR_INDEX},
      {"negative count", [](Args &a) { a.counts[1] = -1; }, ICI3D_ARGS_BAD_CANDIDATE_LIST},
      {"candidate n", [](Args &a) { a.lists[2][1] = 3; }, ICI3D_ARGS_BAD_CANDIDATE_INDEX},
      {"max_selected short", [](Args &a) { a.max_selected = 2; }, ICI3D_ARGS_MAX_SELECTED_SMALL},
      {"max_selected 0", [](Args &a) { a.max_selected = 0; a.counts = {0, 0, 0}; },
       ICI3D_ARGS_MAX_SELECTED_SMALL},
  };
  for (const Case &c : cases) {
    Args a;
    c.spoil(a);
    EXPECT_EQ(a.check(), c.code) << c.what;
    EXPECT_STRNE(ici3d_describe_argument_error(c.code), "unknown argument error") << c.what;
  }
}

// The lists are checked on several threads; the code is still the one of the
// first spoiled list, whichever thread meets which list first.
TEST(CheckArguments, FirstSpoiledListDecidesOnAnyThreadCount) {
  const int32_t n = 40000;
  std::vector<std::vector<int32_t>> lists(n);
  for (int32_t i = 0; i < n; ++i) lists[i] = {i, (i + 1) % n};
  std::vector<float> points(3 * n, 0.0f), noise(n, 0.1f), out(3 * n);
  const auto check = [&](std::vector<int32_t> counts, int32_t max_selected) {
    std::vector<int32_t *> pointers = ici3d::host::candidate_view(lists).pointers;
    return ici3d_check_arguments(points.data(), n, noise.data(), 1, 2, pointers.data(), 1.0f, 1.0f,
                                 1.5f, counts.data(), max_selected, 0, nullptr, 0, out.data());
  };
  const std::vector<int32_t> twos(n, 2);
  for (int threads : {1, 2, 5}) {
    omp_set_num_threads(threads);
    lists[31000][1] = n;  // an index out of range ...
    std::vector<int32_t> counts = twos;
    counts[35000] = -1;  // ... before a bad count
    EXPECT_EQ(check(counts, 2), ICI3D_ARGS_BAD_CANDIDATE_INDEX) << threads;
    counts[35000] = 2;
    counts[2] = -4;  // a bad count first
    EXPECT_EQ(check(counts, 2), ICI3D_ARGS_BAD_CANDIDATE_LIST) << threads;
    lists[31000][1] = 0;
    counts[2] = 2;
    EXPECT_EQ(check(counts, 2), ICI3D_ARGS_OK) << threads;
    counts[39999] = 1;
    counts[17] = 3;  // longer than the rows: the list is fine, max_selected is not
    lists[17].push_back(0);
    EXPECT_EQ(check(counts, 2), ICI3D_ARGS_MAX_SELECTED_SMALL) << threads;
    lists[17].pop_back();
  }
  omp_set_num_threads(omp_get_num_procs());
}

TEST(CheckArguments, ValidOddities) {
  Args a;
  a.n = 0;  // nothing to do is valid, whatever the arrays
  a.parameter_set = 7;
  EXPECT_EQ(a.check(), ICI3D_ARGS_OK);
  Args b;
  b.lists[1] = {0, 2, 2};  // a list without its own point is allowed
  EXPECT_EQ(b.check(), ICI3D_ARGS_OK);
  Args c;
  c.K = 0;  // no frame neighbours: the table is not needed
  c.null_table = true;
  EXPECT_EQ(c.check(), ICI3D_ARGS_OK);
  EXPECT_STREQ(ici3d_describe_argument_error(12345), "unknown argument error");
}

TEST(Entry, InvalidArgumentsCopyThePointsAndSayWhy) {
  Args a;
  a.parameter_set = 5;
  a.point_at_lists();
  const std::string err = ici3d_test::capture_stderr([&] {
    const std::string out = ici3d_test::capture_stdout([&] {
      square_neigh_ici_denoi_recur_pure_c_parallel(
          a.points.data(), a.n, a.noise.data(), 1, 2, a.pointers.data(), 1.0f, 1.0f, 1.5f,
          a.counts.data(), a.max_selected, a.parameter_set, a.table.data(), a.K, a.out.data());
    });
    EXPECT_EQ(out, "");
  });
  EXPECT_NE(err.find("parameter_set"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
  EXPECT_EQ(a.out, a.points);
  EXPECT_EQ(a.noise, (std::vector<float>{0.1f, 0.1f, 0.1f}));
}

}  // namespace
