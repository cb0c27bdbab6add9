#include "library_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace ici3d::host::detail {

bool parse_progress_line(const char* line, double* percent) {
  char* end = nullptr;
  const double value = std::strtod(line, &end);
  if (end == line) return false;
  static const char kTail[] = "% of points processed";
  if (std::strncmp(end, kTail, sizeof kTail - 1) != 0) return false;
  *percent = value;
  return true;
}

namespace {

void write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t wrote = ::write(fd, data, size);
    if (wrote <= 0) return;
    data += wrote;
    size -= static_cast<size_t>(wrote);
  }
}

}  // namespace

LibraryOutputCapture::LibraryOutputCapture(std::function<void(double)> on_percent)
    : on_percent_(std::move(on_percent)) {
  int fds[2];
  std::fflush(stdout);
  if (::pipe(fds) != 0) return;
  saved_stdout_ = ::dup(STDOUT_FILENO);
  if (saved_stdout_ < 0 || ::dup2(fds[1], STDOUT_FILENO) < 0) {
    if (saved_stdout_ >= 0) ::close(saved_stdout_);
    saved_stdout_ = -1;
    ::close(fds[0]);
    ::close(fds[1]);
    return;
  }
  ::close(fds[1]);
  read_end_ = fds[0];
  reader_ = std::thread([this] { read_lines(read_end_); });
}

LibraryOutputCapture::~LibraryOutputCapture() {
  if (saved_stdout_ < 0) return;
  std::fflush(stdout);
  // Restoring descriptor 1 closes the pipe's last write end: the reader sees
  // end of file and finishes.
  ::dup2(saved_stdout_, STDOUT_FILENO);
  if (reader_.joinable()) reader_.join();
  ::close(read_end_);
  ::close(saved_stdout_);
}

void LibraryOutputCapture::read_lines(int fd) {
  std::string pending;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    pending.append(buffer, static_cast<size_t>(got));
    size_t start = 0;
    for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
      const std::string line = pending.substr(start, nl - start);
      double percent = 0;
      if (parse_progress_line(line.c_str(), &percent)) {
        if (on_percent_) on_percent_(percent);
      } else {
        write_all(saved_stdout_, pending.data() + start, nl + 1 - start);
      }
    }
    pending.erase(0, start);
  }
  if (!pending.empty()) write_all(saved_stdout_, pending.data(), pending.size());
}

}  // namespace ici3d::host::detail
