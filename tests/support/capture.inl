#include <cstdio>
#include <unistd.h>

namespace ici3d_test {

template <typename Fn>
std::string capture_fd(int target, Fn &&fn) {
  std::fflush(stdout);
  std::fflush(stderr);
  char path[] = "/tmp/ici3d_capture_XXXXXX";
  const int fd = mkstemp(path);
  const int saved = dup(target);
  dup2(fd, target);
  fn();
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(saved, target);
  close(saved);
  std::string text;
  lseek(fd, 0, SEEK_SET);
  char buf[4096];
  ssize_t got;
  while ((got = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(got));
  close(fd);
  unlink(path);
  return text;
}

}  // namespace ici3d_test

namespace ici3d_test {

template <typename Fn>
std::string capture_stdout(Fn &&fn) {
  return capture_fd(1, std::forward<Fn>(fn));
}

template <typename Fn>
std::string capture_stderr(Fn &&fn) {
  return capture_fd(2, std::forward<Fn>(fn));
}

}  // namespace ici3d_test
