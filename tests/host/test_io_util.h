// Helpers shared by the file format tests: a scratch folder, clouds holding
// every scalar type with extreme values, and exact comparison of clouds.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>

#include "ici3d_host/io.h"

namespace io_test {

using namespace ici3d::host;
namespace fs = std::filesystem;

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "ici3d-io-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

inline void write_file(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// Reads a cloud from a scratch file named `name` holding `content`.
inline PointCloud read_content(const std::string& content, const std::string& name) {
  ScratchDir dir;
  write_file(dir.file(name), content);
  return read_point_cloud(dir.file(name));
}

// Bit patterns equal, or both NaN (text keeps no NaN payload).
template <class T>
bool same_value(T a, T b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

inline void expect_same_values(const PointCloud& expected, const PointCloud& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (size_t k = 0; k < expected.xyz.size(); ++k)
    EXPECT_TRUE(same_value(expected.xyz[k], actual.xyz[k]))
        << "coordinate " << k << ": " << expected.xyz[k] << " vs " << actual.xyz[k];
  ASSERT_EQ(expected.attributes.size(), actual.attributes.size());
  for (size_t a = 0; a < expected.attributes.size(); ++a) {
    const Attribute& want = expected.attributes[a];
    const Attribute& got = actual.attributes[a];
    EXPECT_EQ(want.name, got.name);
    ASSERT_EQ(want.type, got.type) << want.name;
    for (size_t i = 0; i < want.size(); ++i) {
      if (want.type == ScalarType::Float32)
        EXPECT_TRUE(same_value(want.get<float>(i), got.get<float>(i))) << want.name << " point " << i;
      else if (want.type == ScalarType::Float64)
        EXPECT_TRUE(same_value(want.get<double>(i), got.get<double>(i))) << want.name << " point " << i;
      else
        EXPECT_EQ(0, std::memcmp(want.bytes.data() + i * scalar_size(want.type),
                                 got.bytes.data() + i * scalar_size(want.type), scalar_size(want.type)))
            << want.name << " point " << i;
    }
  }
}

// Extremes first (lowest, max, zero, and for floats infinities, NaN,
// subnormals, -0), then random bit patterns from `random`.
template <class T>
void fill_extremes(Attribute& attribute, std::mt19937& random) {
  using limits = std::numeric_limits<T>;
  std::vector<T> values = {limits::lowest(), limits::max(), T(0)};
  if constexpr (std::is_floating_point_v<T>) {
    values.insert(values.end(), {limits::infinity(), -limits::infinity(), limits::quiet_NaN(), limits::denorm_min(),
                                 -limits::denorm_min(), limits::min(), T(-0.0), T(0.1), T(1) / T(3)});
  } else if constexpr (limits::is_signed) {
    values.push_back(T(-1));
  }
  std::uniform_int_distribution<int> byte(0, 255);
  for (size_t i = 0; i < attribute.size(); ++i) {
    T value = i < values.size() ? values[i] : T(0);
    if (i >= values.size()) {
      unsigned char raw[sizeof(T)];
      for (auto& b : raw) b = static_cast<unsigned char>(byte(random));
      std::memcpy(&value, raw, sizeof value);
    }
    attribute.set<T>(i, value);
  }
}

inline const std::vector<ScalarType>& all_scalar_types() {
  static const std::vector<ScalarType> types = {
      ScalarType::Int8,  ScalarType::UInt8,  ScalarType::Int16,   ScalarType::UInt16,  ScalarType::Int32,
      ScalarType::UInt32, ScalarType::Int64, ScalarType::UInt64, ScalarType::Float32, ScalarType::Float64};
  return types;
}

// Positions no format may alter: infinities, NaN, subnormals, huge values,
// coordinates near 1e6 with every bit of a double used.
inline std::vector<double> extreme_positions() {
  const double inf = std::numeric_limits<double>::infinity();
  return {std::nan(""), inf,  -inf,    5e-324, -2.2250738585072014e-308, 1e300, -1e300, 0.0, -0.0,
          1e6 + 0.1234567890123, 999999.99999999988, -1e6 - 1.0 / 3.0, 0.1, 1.0 / 3.0, 123456.789};
}

// A cloud of `points` points with the given attribute types, one attribute
// per type named after it, every value extreme or random (seeded).
inline PointCloud make_typed_cloud(size_t points, const std::vector<ScalarType>& types, unsigned seed = 7) {
  std::mt19937 random(seed);
  PointCloud cloud;
  const std::vector<double> special = extreme_positions();
  std::uniform_real_distribution<double> coordinate(-1e6, 1e6);
  for (size_t k = 0; k < 3 * points; ++k) cloud.xyz.push_back(k < special.size() ? special[k] : coordinate(random));
  for (ScalarType type : types) {
    Attribute& attribute = cloud.add_attribute(std::string("a_") + scalar_type_name(type), type);
    switch (type) {
      case ScalarType::Int8: fill_extremes<int8_t>(attribute, random); break;
      case ScalarType::UInt8: fill_extremes<uint8_t>(attribute, random); break;
      case ScalarType::Int16: fill_extremes<int16_t>(attribute, random); break;
      case ScalarType::UInt16: fill_extremes<uint16_t>(attribute, random); break;
      case ScalarType::Int32: fill_extremes<int32_t>(attribute, random); break;
      case ScalarType::UInt32: fill_extremes<uint32_t>(attribute, random); break;
      case ScalarType::Int64: fill_extremes<int64_t>(attribute, random); break;
      case ScalarType::UInt64: fill_extremes<uint64_t>(attribute, random); break;
      case ScalarType::Float32: fill_extremes<float>(attribute, random); break;
      case ScalarType::Float64: fill_extremes<double>(attribute, random); break;
    }
  }
  return cloud;
}

// Expects `action` to throw an IoError whose message holds every piece.
template <class Action>
void expect_io_error(Action&& action, const std::vector<std::string>& pieces) {
  try {
    action();
    ADD_FAILURE() << "no IoError thrown";
  } catch (const IoError& error) {
    const std::string message = error.what();
    for (const std::string& piece : pieces) EXPECT_NE(message.find(piece), std::string::npos)
        << "message \"" << message << "\" lacks \"" << piece << "\"";
  }
}

}  // namespace io_test
