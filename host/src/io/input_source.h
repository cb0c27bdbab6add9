#pragma once
// A named input stream that counts lines and bytes, so that every error can
// say where it happened, and that knows how many bytes are left when the
// stream is seekable, so that header counts can be checked before anything
// is allocated.

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace ici3d::host::io_detail {

class InputSource {
 public:
  InputSource(std::istream& in, std::string name);

  const std::string& name() const { return name_; }
  /// Bytes consumed so far.
  uint64_t offset() const { return offset_; }
  /// Bytes left after the current position; empty when the stream cannot tell.
  std::optional<uint64_t> remaining() const;

  /// Next line without its end-of-line ("\n" or "\r\n"); false at the end.
  bool read_line(std::string& line);
  /// The next line, left in place for read_line; nullptr at the end.
  const std::string* peek_line();

  /// Up to `size` bytes from the current position, left in place; empty when
  /// the stream cannot seek back. For telling binary formats by signature.
  std::string peek_bytes(size_t size);

  /// Reads exactly `size` bytes, growing `out` as data arrives (so a false
  /// size cannot make it allocate more than the input holds); throws IoError
  /// naming `what` when the input ends first.
  void read_bytes(std::vector<unsigned char>& out, uint64_t size, const std::string& what);
  void read_bytes(unsigned char* out, size_t size, const std::string& what);

  [[noreturn]] void fail_at_line(const std::string& message) const;
  [[noreturn]] void fail_at_byte(uint64_t offset, const std::string& message) const;
  [[noreturn]] void fail(const std::string& message) const;

 private:
  std::istream& in_;
  std::string name_;
  uint64_t line_number_ = 0;
  uint64_t offset_ = 0;
  std::optional<uint64_t> total_size_;
  std::optional<std::string> peeked_;
  uint64_t peeked_bytes_ = 0;
};

/// Throws IoError when `count` items of at least `min_bytes` each cannot fit
/// in what is left of the input.
void check_fits(const InputSource& source, uint64_t count, uint64_t min_bytes, const std::string& what);

}  // namespace ici3d::host::io_detail
