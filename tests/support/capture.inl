#include <cstdio>
#include <unistd.h>

namespace ici3d_test {

template <typename Fn>
std::string capture_stdout(Fn &&fn) {
  std::fflush(stdout);
  char path[] = "/tmp/ici3d_capture_XXXXXX";
  const int fd = mkstemp(path);
  const int saved = dup(1);
  dup2(fd, 1);
  fn();
  std::fflush(stdout);
  dup2(saved, 1);
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
