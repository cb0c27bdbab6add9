// The check shared by the file reader harnesses: any input is either read
// or refused with IoError (any other exception escapes and is reported);
// a cloud that was read is consistent, and written back in its own format it
// reads back to the same values.
#pragma once

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "fuzz_input.h"
#include "ici3d_host/io.h"

namespace ici3d_fuzz {

using ici3d::host::Attribute;
using ici3d::host::Format;
using ici3d::host::IoError;
using ici3d::host::PointCloud;

inline bool same_value(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

inline void check_consistent(const PointCloud& cloud) {
  check(cloud.xyz.size() % 3 == 0, "xyz holds a multiple of 3 values");
  for (const Attribute& attribute : cloud.attributes) {
    check(attribute.bytes.size() == cloud.size() * ici3d::host::scalar_size(attribute.type),
          "every attribute holds one value per point");
  }
}

// Values compared as doubles: NaN matches NaN (text keeps no payload), and
// the types must match too.
inline void check_same_values(const PointCloud& a, const PointCloud& b) {
  check(a.size() == b.size(), "the point count survives a round trip");
  for (size_t k = 0; k < a.xyz.size(); ++k) {
    check(same_value(a.xyz[k], b.xyz[k]), "positions survive a round trip");
  }
  check(a.attributes.size() == b.attributes.size(), "the attributes survive a round trip");
  for (size_t f = 0; f < a.attributes.size(); ++f) {
    const Attribute& x = a.attributes[f];
    const Attribute& y = b.attributes[f];
    check(x.name == y.name, "attribute names survive a round trip");
    check(x.type == y.type, "attribute types survive a round trip");
    for (size_t i = 0; i < x.size(); ++i) {
      check(same_value(x.as_double(i), y.as_double(i)), "attribute values survive a round trip");
    }
  }
}

inline PointCloud read_bytes(const std::string& bytes, Format format) {
  std::istringstream in(bytes);
  ici3d::host::ReadOptions options;
  options.format = format;
  return ici3d::host::read_point_cloud(in, "fuzz-input", options);
}

// Bytes per point that writing the cloud back takes at least: a layout may
// declare wide fields (a PCD COUNT of thousands, padding included) that a
// text file holds in two characters per value.
inline size_t written_record_bytes(const PointCloud& cloud) {
  size_t bytes = 3;
  for (const auto& field : cloud.layout.fields) bytes += field.count * ici3d::host::scalar_size(field.type);
  for (const Attribute& attribute : cloud.attributes) bytes += ici3d::host::scalar_size(attribute.type);
  return bytes;
}

inline void fuzz_reader(const uint8_t* data, size_t size, Format format) {
  PointCloud cloud;
  try {
    cloud = read_bytes(std::string(reinterpret_cast<const char*>(data), size), format);
  } catch (const IoError&) {
    return;  // refused with a message: fine
  }
  check_consistent(cloud);
  // The round trip is left out where its output alone would exceed the
  // harness's allocation limit.
  if (cloud.size() * written_record_bytes(cloud) > (size_t{64} << 20)) return;

  std::ostringstream out;
  ici3d::host::WriteOptions options;
  options.format = format;
  try {
    ici3d::host::write_point_cloud(out, "fuzz-output", cloud, options);
  } catch (const IoError&) {
    return;  // some clouds cannot be written back (names a header cannot hold)
  }
  PointCloud again;
  try {
    again = read_bytes(out.str(), format);
  } catch (const IoError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    fail("a written cloud reads back");
  }
  check_same_values(cloud, again);
}

}  // namespace ici3d_fuzz
