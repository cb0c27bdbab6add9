#include "scalar.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace ici3d::host::io_detail {

void reverse_bytes(unsigned char* value, size_t size) { std::reverse(value, value + size); }

double load_as_double(ScalarType type, const unsigned char* src) {
  return visit_scalar(type, [&](auto zero) {
    decltype(zero) value;
    std::memcpy(&value, src, sizeof value);
    return static_cast<double>(value);
  });
}

// Rounds to the nearest float the way the hardware would, without the
// undefined behaviour of converting a double beyond the float range.
static float round_to_float(double value) {
  constexpr double kFirstBeyondMax = 0x1.ffffffp127;  // rounds to infinity
  if (std::isfinite(value) && std::fabs(value) > FLT_MAX) {
    const float magnitude = std::fabs(value) >= kFirstBeyondMax ? INFINITY : FLT_MAX;
    return std::signbit(value) ? -magnitude : magnitude;
  }
  return static_cast<float>(value);
}

template <class T>
static T round_to_integer(double value) {
  if (std::isnan(value)) return 0;
  const double rounded = std::round(value);
  if (rounded <= static_cast<double>(std::numeric_limits<T>::lowest()))
    return std::numeric_limits<T>::lowest();
  if (rounded >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(rounded);
}

void store_from_double(ScalarType type, double value, unsigned char* dst) {
  visit_scalar(type, [&](auto zero) {
    using T = decltype(zero);
    T stored;
    if constexpr (std::is_same_v<T, double>) stored = value;
    else if constexpr (std::is_same_v<T, float>) stored = round_to_float(value);
    else stored = round_to_integer<T>(value);
    std::memcpy(dst, &stored, sizeof stored);
  });
}

static std::string_view strip_plus(std::string_view text) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
  return text;
}

// from_chars reports values beyond the range as errors; strtod gives the
// usual answer (infinity or zero) for them.
template <class T>
static bool parse_floating(std::string_view text, T& value) {
  text = strip_plus(text);
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec == std::errc::result_out_of_range && ptr == end) {
    const std::string copy(text);
    if constexpr (std::is_same_v<T, float>) value = std::strtof(copy.c_str(), nullptr);
    else value = std::strtod(copy.c_str(), nullptr);
    return true;
  }
  return ec == std::errc() && ptr == end;
}

bool parse_double(std::string_view text, double& value) { return parse_floating(text, value); }

template <class T>
static bool parse_integer(std::string_view text, T& value) {
  text = strip_plus(text);
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec == std::errc() && ptr == end) return true;
  double decimal;
  if (!parse_floating(text, decimal) || decimal != std::trunc(decimal)) return false;
  if (decimal < static_cast<double>(std::numeric_limits<T>::lowest()) ||
      decimal >= static_cast<double>(std::numeric_limits<T>::max()) + 1.0)
    return false;
  value = static_cast<T>(decimal);
  return true;
}

bool parse_scalar(std::string_view text, ScalarType type, unsigned char* dst) {
  return visit_scalar(type, [&](auto zero) {
    using T = decltype(zero);
    T value;
    bool ok;
    if constexpr (std::is_floating_point_v<T>) ok = parse_floating(text, value);
    else ok = parse_integer(text, value);
    if (ok) std::memcpy(dst, &value, sizeof value);
    return ok;
  });
}

bool is_int32_literal(std::string_view text) {
  text = strip_plus(text);
  int32_t value;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

template <class T>
static void append_value(std::string& out, T value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

void append_scalar(std::string& out, ScalarType type, const unsigned char* src) {
  visit_scalar(type, [&](auto zero) {
    decltype(zero) value;
    std::memcpy(&value, src, sizeof value);
    append_value(out, value);
  });
}

void append_double(std::string& out, double value) { append_value(out, value); }

}  // namespace ici3d::host::io_detail
