#pragma once
// The core library reports progress as lines on standard output. While a
// LibraryOutputCapture is alive, file descriptor 1 goes to a pipe: progress
// lines are turned into callbacks, anything else is passed on to the real
// standard output, so point data written to stdout stays clean.

#include <functional>
#include <thread>

namespace ici3d::host::detail {

class LibraryOutputCapture {
 public:
  /// `on_percent` receives each progress value (0..100) as it arrives.
  explicit LibraryOutputCapture(std::function<void(double)> on_percent);
  ~LibraryOutputCapture();
  LibraryOutputCapture(const LibraryOutputCapture&) = delete;
  LibraryOutputCapture& operator=(const LibraryOutputCapture&) = delete;

  /// False when the pipe could not be set up (output then goes to stdout).
  bool active() const { return saved_stdout_ >= 0; }

 private:
  void read_lines(int fd);

  std::function<void(double)> on_percent_;
  int saved_stdout_ = -1;
  int read_end_ = -1;
  std::thread reader_;
};

/// Parses "<value>% of points processed"; false for any other line.
bool parse_progress_line(const char* line, double* percent);

}  // namespace ici3d::host::detail
