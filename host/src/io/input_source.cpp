#include "input_source.h"

#include <algorithm>

#include "ici3d_host/io.h"

namespace ici3d::host::io_detail {

static std::optional<uint64_t> stream_size(std::istream& in) {
  const auto start = in.tellg();
  if (start == std::streampos(-1)) {
    in.clear();
    return std::nullopt;
  }
  in.seekg(0, std::ios::end);
  const auto end = in.tellg();
  in.seekg(start);
  if (!in || end == std::streampos(-1) || end < start) {
    in.clear();
    in.seekg(start);
    return std::nullopt;
  }
  return static_cast<uint64_t>(end - start);
}

InputSource::InputSource(std::istream& in, std::string name)
    : in_(in), name_(std::move(name)), total_size_(stream_size(in)) {}

std::optional<uint64_t> InputSource::remaining() const {
  if (!total_size_) return std::nullopt;
  return *total_size_ - std::min(*total_size_, offset_);
}

bool InputSource::read_line(std::string& line) {
  if (peeked_) {
    line = std::move(*peeked_);
    peeked_.reset();
    offset_ += peeked_bytes_;
    ++line_number_;
    return true;
  }
  if (!std::getline(in_, line)) {
    if (in_.bad()) fail("read error");
    return false;
  }
  offset_ += line.size() + (in_.eof() ? 0 : 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  ++line_number_;
  return true;
}

const std::string* InputSource::peek_line() {
  if (!peeked_) {
    std::string line;
    const uint64_t before = offset_;
    if (!read_line(line)) return nullptr;
    peeked_bytes_ = offset_ - before;
    offset_ = before;
    --line_number_;
    peeked_ = std::move(line);
  }
  return &*peeked_;
}

std::string InputSource::peek_bytes(size_t size) {
  if (peeked_) return peeked_->substr(0, size);
  const auto start = in_.tellg();
  if (start == std::streampos(-1)) {
    in_.clear();
    return {};
  }
  std::string bytes(size, '\0');
  in_.read(bytes.data(), static_cast<std::streamsize>(size));
  bytes.resize(static_cast<size_t>(in_.gcount()));
  in_.clear();
  in_.seekg(start);
  return bytes;
}

void InputSource::read_bytes(std::vector<unsigned char>& out, uint64_t size, const std::string& what) {
  constexpr uint64_t kChunk = uint64_t{1} << 26;
  const size_t start = out.size();
  for (uint64_t done = 0; done < size;) {
    const size_t piece = static_cast<size_t>(std::min(kChunk, size - done));
    out.resize(start + done + piece);
    read_bytes(out.data() + start + done, piece, what);
    done += piece;
  }
}

void InputSource::read_bytes(unsigned char* out, size_t size, const std::string& what) {
  if (peeked_) fail("internal error: binary read after a peeked line");
  in_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size));
  const auto got = static_cast<uint64_t>(in_.gcount());
  offset_ += got;
  if (got != size)
    fail_at_byte(offset_, "file ends early: expected " + std::to_string(size - got) + " more bytes of " + what);
}

void InputSource::fail_at_line(const std::string& message) const {
  throw IoError(name_ + ": line " + std::to_string(line_number_) + ": " + message);
}

void InputSource::fail_at_byte(uint64_t offset, const std::string& message) const {
  throw IoError(name_ + ": byte offset " + std::to_string(offset) + ": " + message);
}

void InputSource::fail(const std::string& message) const { throw IoError(name_ + ": " + message); }

void check_fits(const InputSource& source, uint64_t count, uint64_t min_bytes, const std::string& what) {
  const auto left = source.remaining();
  if (!left || count == 0) return;
  const bool overflow = min_bytes != 0 && count > UINT64_MAX / min_bytes;
  if (overflow || count * min_bytes > *left + 1)  // the last item may lack its newline
    source.fail_at_byte(source.offset(), "header promises " + std::to_string(count) + " " + what +
                                             " of at least " + std::to_string(min_bytes) +
                                             " bytes each, but only " + std::to_string(*left) +
                                             " bytes follow; the file is truncated or its header is wrong "
                                             "(checked against the file size before allocating)");
}

}  // namespace ici3d::host::io_detail
