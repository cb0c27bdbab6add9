// Progress reports of the main loop's ICI phase.
#include <algorithm>
#include <cstdio>

#include "internal/internal.h"

namespace ici3d::internal {

namespace {

// The printed lines come every 5000 points, on report boundaries.
constexpr std::int64_t kLineEvery = 5000;
static_assert(kLineEvery % ProgressReporter::kStep == 0, "a line must fall on a report");

}  // namespace

void ProgressReporter::point_done() {
  if (fn_ == nullptr) return;
  const std::int64_t done = done_.fetch_add(1, std::memory_order_relaxed) + 1;
  if (done % kStep != 0 && done != total_) return;
  const std::lock_guard<std::mutex> lock(mutex_);
  while (reported_ < done) {
    // The next report after the last delivered one; never beyond `done`,
    // because `done` is itself a report.
    const std::int64_t next = std::min(reported_ / kStep * kStep + kStep, total_);
    fn_(next, total_, user_);
    reported_ = next;
  }
}

void print_progress_line(std::int64_t done, std::int64_t total, void * /*user*/) {
  if (done % kLineEvery != 0) return;
  // The value names the index of the point just finished, done - 1.
  const float value = static_cast<float>(100 * (done - 1)) / static_cast<float>(total);
  std::printf("%.2f%% of points processed \n", static_cast<double>(value));
  std::fflush(stdout);
}

}  // namespace ici3d::internal
