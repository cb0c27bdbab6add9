#pragma once
// Progress of a denoising run on standard error: a bar redrawn in place when
// standard error is a terminal, a line per tenth of the run otherwise, and
// nothing at all when quiet.

#include <mutex>
#include <string>

#include "ici3d_host/denoise.h"

namespace ici3d::cli {

class ProgressDisplay {
 public:
  enum class Mode { Off, Bar, Lines };
  /// Off when quiet, Bar when standard error is a terminal, Lines otherwise.
  static Mode mode_for(bool quiet);

  ProgressDisplay(Mode mode, std::string label);
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  /// May be called from any thread.
  void update(const host::Progress& progress);
  /// Completes what was shown (the bar at 100 % and its line ended).
  void finish();

 private:
  void draw_bar(double overall, int pass, int passes);
  void print_line(double overall);

  Mode mode_;
  std::string label_;
  std::mutex mutex_;
  bool shown_ = false;  // anything written yet
  bool finished_ = false;
  int last_permille_ = -1;  // bar: last drawn value
  int last_tenth_ = 0;      // lines: tenths already reported
  int last_pass_ = 0, passes_ = 1;
};

}  // namespace ici3d::cli
