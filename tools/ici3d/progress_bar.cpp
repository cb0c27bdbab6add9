#include "progress_bar.h"

#include <fmt/core.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ici3d::cli {

static constexpr int kBarWidth = 32;

ProgressDisplay::Mode ProgressDisplay::mode_for(bool quiet) {
  if (quiet) return Mode::Off;
  return ::isatty(STDERR_FILENO) ? Mode::Bar : Mode::Lines;
}

ProgressDisplay::ProgressDisplay(Mode mode, std::string label)
    : mode_(mode), label_(std::move(label)) {}

ProgressDisplay::~ProgressDisplay() { finish(); }

void ProgressDisplay::update(const host::Progress& progress) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (mode_ == Mode::Off || finished_) return;
  const double overall = std::clamp(progress.overall, 0.0, 1.0);
  last_pass_ = progress.pass;
  passes_ = progress.passes;
  if (mode_ == Mode::Bar)
    draw_bar(overall, progress.pass, progress.passes);
  else
    print_line(overall);
}

void ProgressDisplay::finish() {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (finished_ || !shown_) {
    finished_ = true;
    return;
  }
  if (mode_ == Mode::Bar) {
    draw_bar(1.0, passes_ - 1, passes_);
    std::fputc('\n', stderr);
  } else {
    print_line(1.0);
  }
  std::fflush(stderr);
  finished_ = true;
}

void ProgressDisplay::draw_bar(double overall, int pass, int passes) {
  const int permille = static_cast<int>(std::lround(overall * 1000));
  if (permille == last_permille_) return;
  last_permille_ = permille;
  const int filled = static_cast<int>(overall * kBarWidth);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), '.');
  std::string line = fmt::format("\r{} [{}] {:5.1f}%", label_, bar, overall * 100);
  if (passes > 1) line += fmt::format("  pass {}/{}", pass + 1, passes);
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  shown_ = true;
}

void ProgressDisplay::print_line(double overall) {
  const int tenth = static_cast<int>(std::floor(overall * 10 + 1e-9));
  if (tenth <= last_tenth_) return;
  last_tenth_ = tenth;
  std::fputs(fmt::format("{}: {}%\n", label_, tenth * 10).c_str(), stderr);
  std::fflush(stderr);
  shown_ = true;
}

}  // namespace ici3d::cli
