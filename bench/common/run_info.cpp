#include "run_info.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

namespace ici3d::bench {

double process_cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec); };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

size_t peak_rss_bytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<size_t>(usage.ru_maxrss) * 1024;  // kilobytes on Linux
}

size_t current_rss_bytes() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return 0;
  unsigned long pages_total = 0, pages_resident = 0;
  const int read = std::fscanf(f, "%lu %lu", &pages_total, &pages_resident);
  std::fclose(f);
  if (read != 2) return 0;
  return static_cast<size_t>(pages_resident) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

QuietStdout::QuietStdout() {
  std::fflush(stdout);
  saved_ = dup(STDOUT_FILENO);
  const int devnull = open("/dev/null", O_WRONLY);
  if (devnull >= 0) {
    dup2(devnull, STDOUT_FILENO);
    close(devnull);
  }
}

QuietStdout::~QuietStdout() {
  std::fflush(stdout);
  if (saved_ >= 0) {
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
}

}  // namespace ici3d::bench
