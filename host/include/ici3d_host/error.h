#pragma once
// The base of every error the host library throws on purpose (a file that
// cannot be read or written, options or clouds that cannot be denoised), so
// that a front end can catch them all as one type.

#include <stdexcept>
#include <string>

namespace ici3d::host {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace ici3d::host
