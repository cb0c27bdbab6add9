// Timing, memory and output helpers shared by the benchmark programs.
#pragma once

#include <chrono>
#include <cstddef>

namespace ici3d::bench {

class Stopwatch {
 public:
  Stopwatch() : start_(std::chrono::steady_clock::now()) {}
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

/// CPU time of this process (all threads) so far, in seconds.
double process_cpu_seconds();

/// Peak resident set size of this process so far (getrusage), in bytes.
size_t peak_rss_bytes();

/// Resets the kernel's high-water mark of the resident set to the current
/// size (Linux clear_refs), so that high_water_rss_bytes() measures what comes
/// after; false when the kernel does not allow it.
bool reset_peak_rss();

/// The high-water mark of the resident set (VmHWM), in bytes; 0 if unknown.
size_t high_water_rss_bytes();

/// Current resident set size (from /proc/self/statm), in bytes; 0 if unknown.
size_t current_rss_bytes();

/// Sends standard output to /dev/null while alive (the core library prints
/// progress lines there); flushes before and after.
class QuietStdout {
 public:
  QuietStdout();
  ~QuietStdout();
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace ici3d::bench
