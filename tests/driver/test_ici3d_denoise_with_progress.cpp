#include <omp.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fixed_cloud.h"
#include "ici3d.h"
#include "test_util.h"

namespace {

using ici3d_test::FixedRun;
using Clock = std::chrono::steady_clock;

// The results of one pass on the fixed roof.
struct Result {
  std::vector<float> points, noise;
  uint64_t hash() const { return ici3d_test::fnv1a({&points, &noise}); }
};

Result run_pass(const FixedRun &f, int32_t parameter_set, ici3d_progress_fn progress = nullptr,
                void *user = nullptr, bool with_progress_entry = true) {
  Result r;
  r.noise.assign(f.cloud.n(), FixedRun::kSigma);
  r.points.assign(f.cloud.points.size(), -1.0f);
  if (with_progress_entry) {
    ici3d_denoise_with_progress(f.cloud.points.data(), f.cloud.n(), r.noise.data(),
                                FixedRun::kBaseSize, FixedRun::kNumScales,
                                f.candidates.pointers.data(), FixedRun::size_norm(),
                                FixedRun::preselect(), FixedRun::kScaleRatio,
                                f.candidates.counts.data(), f.candidates.longest, parameter_set,
                                f.table.data(), FixedRun::kK, r.points.data(), progress, user);
  } else {
    square_neigh_ici_denoi_recur_pure_c_parallel(
        f.cloud.points.data(), f.cloud.n(), r.noise.data(), FixedRun::kBaseSize,
        FixedRun::kNumScales, f.candidates.pointers.data(), FixedRun::size_norm(),
        FixedRun::preselect(), FixedRun::kScaleRatio, f.candidates.counts.data(),
        f.candidates.longest, parameter_set, f.table.data(), FixedRun::kK, r.points.data());
  }
  return r;
}

const FixedRun &roof() {
  static const FixedRun f(80, 75);  // 6000 points
  return f;
}

// What a callback saw: the reports, and whether two calls ever overlapped.
struct Log {
  std::vector<int64_t> done, total;
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
};

void record(int64_t done, int64_t total, void *user) {
  Log &log = *static_cast<Log *>(user);
  if (log.inside.fetch_add(1) != 0) log.overlapped = true;
  log.done.push_back(done);
  log.total.push_back(total);
  // Long enough for other threads to reach their reports meanwhile.
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  log.inside.fetch_sub(1);
}

// Hashes of the denoised points and updated noise levels on the fixed roof,
// taken before the progress callback existed: every path to the pass must
// keep each bit.
constexpr uint64_t kRoofHash[2] = {0xa382e4cebca6d472ULL, 0x1cad6ee6b728e84eULL};

TEST(DenoiseWithProgress, EveryPathGivesTheStoredBitsOnTheFixedRoof) {
  const FixedRun &f = roof();
  for (int32_t set = 0; set < 2; ++set) {
    Log log;
    std::string printed;
    Result printing;
    printed =
        ici3d_test::capture_stdout([&] { printing = run_pass(f, set, nullptr, nullptr, false); });
    EXPECT_EQ(printed, "83.32% of points processed \n");  // 100 * 4999 / 6000
    EXPECT_EQ(printing.hash(), kRoofHash[set]) << set;
    EXPECT_EQ(run_pass(f, set, record, &log).hash(), kRoofHash[set]) << set;
    EXPECT_EQ(ici3d_test::capture_stdout(
                  [&] { EXPECT_EQ(run_pass(f, set).hash(), kRoofHash[set]) << set; }),
              "");
  }
  omp_set_num_threads(1);
  EXPECT_EQ(run_pass(f, 1).hash(), kRoofHash[1]);
  omp_set_num_threads(omp_get_num_procs());
}

// The fixed roof with candidate lists that repeat entries: every third
// candidate listed twice and the point itself once more at the end. A point
// listed twice is twice a member of a window and receives its plane twice.
FixedRun roof_with_repeated_entries() {
  FixedRun f(40, 36);
  for (size_t i = 0; i < f.candidates.lists.size(); ++i) {
    std::vector<int32_t> &list = f.candidates.lists[i];
    const size_t count = list.size();
    for (size_t k = 1; k < count; k += 3) list.push_back(list[k]);
    list.push_back(static_cast<int32_t>(i));
  }
  static_cast<ici3d::host::CandidateView &>(f.candidates) =
      ici3d::host::candidate_view(f.candidates.lists);
  return f;
}

// Taken when the main loop still kept its windows as rows of point indices;
// the windows are now marks on the lists, and a repeated entry must still
// reach its point as often as it is listed, in the same order.
constexpr uint64_t kRepeatedEntriesHash = 0x7d2f86987c39c572ULL;

TEST(DenoiseWithProgress, RepeatedListEntriesKeepTheStoredBits) {
  const FixedRun f = roof_with_repeated_entries();
  for (int threads : {1, 3}) {
    omp_set_num_threads(threads);
    const Result r = run_pass(f, 1);
    EXPECT_EQ(r.hash(), kRepeatedEntriesHash) << std::hex << r.hash() << ", threads " << threads;
  }
  omp_set_num_threads(omp_get_num_procs());
}

TEST(DenoiseWithProgress, ReportsEveryThousandthPointOnceInOrderAndNeverTwoAtATime) {
  const FixedRun &f = roof();
  omp_set_num_threads(6);
  Log log;
  run_pass(f, 0, record, &log);
  omp_set_num_threads(omp_get_num_procs());
  EXPECT_EQ(log.done, (std::vector<int64_t>{1000, 2000, 3000, 4000, 5000, 6000}));
  EXPECT_EQ(log.total, std::vector<int64_t>(6, 6000));
  EXPECT_FALSE(log.overlapped);

  // A count that is no multiple of 1000 ends with the count itself.
  const FixedRun small(50, 50);
  Log small_log;
  run_pass(small, 0, record, &small_log);
  EXPECT_EQ(small_log.done, (std::vector<int64_t>{1000, 2000, 2500}));
}

TEST(DenoiseWithProgress, NothingIsReportedForAnEmptyCloudOrInvalidArguments) {
  Log log;
  float point[3] = {1, 2, 3}, noise = 0.5f, out[3] = {-1, -1, -1};
  ici3d_denoise_with_progress(point, 0, &noise, 1, 1, nullptr, 1, 1, 1, nullptr, 1, 0, nullptr, 4,
                              out, record, &log);
  int32_t self = 0, count = 1;
  int32_t *list = &self;
  const std::string err = ici3d_test::capture_fd(2, [&] {
    ici3d_denoise_with_progress(point, 1, &noise, 1, 1, &list, 1, 1, 1, &count, 1, 7, &self, 1, out,
                                record, &log);
  });
  EXPECT_NE(err.find("parameter"), std::string::npos) << err;
  EXPECT_TRUE(log.done.empty());
  EXPECT_EQ(out[0], 1.0f);  // the fallback copy
}

// Two passes on two threads: the first report of each waits until the other
// pass has reported too, so both finish only if they run at the same time.
// A pass that waited on the other (a lock shared by all passes) would make
// its partner give up after the timeout and fail the test.
struct Rendezvous {
  std::mutex mutex;
  std::condition_variable cv;
  int arrived = 0;
  bool missed = false;
};

struct OverlapRun {
  Rendezvous *meeting = nullptr;
  bool first = true;
  Clock::time_point start, end;
  Result result;
};

void meet(int64_t, int64_t, void *user) {
  OverlapRun &run = *static_cast<OverlapRun *>(user);
  if (!run.first) return;
  run.first = false;
  Rendezvous &m = *run.meeting;
  std::unique_lock<std::mutex> lock(m.mutex);
  ++m.arrived;
  m.cv.notify_all();
  if (!m.cv.wait_for(lock, std::chrono::seconds(30), [&] { return m.arrived == 2; }))
    m.missed = true;
}

TEST(DenoiseWithProgress, TwoPassesOnTwoThreadsRunAtTheSameTime) {
  const FixedRun &f = roof();
  Rendezvous meeting;
  OverlapRun runs[2];
  std::vector<std::thread> threads;
  for (int k = 0; k < 2; ++k) {
    runs[k].meeting = &meeting;
    threads.emplace_back([&, k] {
      runs[k].start = Clock::now();
      runs[k].result = run_pass(f, k, meet, &runs[k]);
      runs[k].end = Clock::now();
    });
  }
  for (std::thread &t : threads) t.join();
  EXPECT_FALSE(meeting.missed);
  EXPECT_EQ(meeting.arrived, 2);
  for (int k = 0; k < 2; ++k) EXPECT_EQ(runs[k].result.hash(), kRoofHash[k]) << k;
  const auto ms = [](Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
  };
  const Clock::time_point overlap_start = std::max(runs[0].start, runs[1].start);
  const Clock::time_point overlap_end = std::min(runs[0].end, runs[1].end);
  std::printf("passes: %.1f ms and %.1f ms, overlapping %.1f ms\n", ms(runs[0].end - runs[0].start),
              ms(runs[1].end - runs[1].start), ms(overlap_end - overlap_start));
  EXPECT_LT(overlap_start, overlap_end);
}

}  // namespace
