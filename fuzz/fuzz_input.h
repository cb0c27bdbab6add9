// Decoding of fuzz inputs shared by the harnesses, and the checks they share.
//
// Every numeric harness reads its input front to back as raw little-endian
// values: what the input lacks reads as zero bytes, so every input decodes to
// something and the corpus generator (make_corpus.cpp) writes seeds with the
// same calls in the same order.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace ici3d_fuzz {

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  template <class T>
  T take() {
    unsigned char bytes[sizeof(T)] = {};
    for (size_t k = 0; k < sizeof(T) && pos_ < size_; ++k) bytes[k] = data_[pos_++];
    T value;
    std::memcpy(&value, bytes, sizeof(T));
    return value;
  }

  // A value in 0..bound-1 (0 when bound <= 0) from one byte.
  int32_t below(int32_t bound) { return bound > 0 ? take<uint8_t>() % bound : 0; }

  std::vector<float> floats(size_t count) {
    std::vector<float> out(count);
    for (float& v : out) v = take<float>();
    return out;
  }

  size_t left() const { return size_ - pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// The writing side of ByteReader, for the corpus generator.
class ByteWriter {
 public:
  template <class T>
  void put(T value) {
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    bytes_.insert(bytes_.end(), bytes, bytes + sizeof(T));
  }
  void put_floats(const std::vector<float>& values) {
    for (float v : values) put(v);
  }
  const std::vector<unsigned char>& bytes() const { return bytes_; }

 private:
  std::vector<unsigned char> bytes_;
};

// A harness found a wrong result: print it and abort, which libFuzzer
// reports as a crash and saves the input.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

inline void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

inline bool all_finite(const float* v, size_t count) {
  for (size_t k = 0; k < count; ++k) {
    if (!std::isfinite(v[k])) return false;
  }
  return true;
}

// Bit-for-bit equality of two arrays (either may be null when empty).
template <class T>
bool same_bits(const T* a, const T* b, size_t count) {
  return count == 0 || std::memcmp(a, b, count * sizeof(T)) == 0;
}

}  // namespace ici3d_fuzz
