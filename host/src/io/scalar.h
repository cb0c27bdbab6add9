#pragma once
// Per-value helpers shared by the format readers and writers: type dispatch,
// conversions to and from double, byte order, text parsing and formatting.

#include <cstdint>
#include <string>
#include <string_view>

#include "ici3d_host/point_cloud.h"

namespace ici3d::host::io_detail {

/// Calls f(T{}) with the C++ type of `type`.
template <class F>
decltype(auto) visit_scalar(ScalarType type, F&& f) {
  switch (type) {
    case ScalarType::Int8: return f(int8_t{});
    case ScalarType::UInt8: return f(uint8_t{});
    case ScalarType::Int16: return f(int16_t{});
    case ScalarType::UInt16: return f(uint16_t{});
    case ScalarType::Int32: return f(int32_t{});
    case ScalarType::UInt32: return f(uint32_t{});
    case ScalarType::Int64: return f(int64_t{});
    case ScalarType::UInt64: return f(uint64_t{});
    case ScalarType::Float32: return f(float{});
    case ScalarType::Float64: break;
  }
  return f(double{});
}

constexpr bool kNativeLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

/// Largest value size (8 bytes); buffers for one value use this.
constexpr size_t kMaxScalarSize = 8;

void reverse_bytes(unsigned char* value, size_t size);

/// The native-order value at `src` as a double.
double load_as_double(ScalarType type, const unsigned char* src);
/// Stores `value` at `dst` in native order: floats rounded to nearest,
/// integers rounded and clamped to the type's range, NaN stored as 0.
void store_from_double(ScalarType type, double value, unsigned char* dst);

/// Parses one text value of `type` into native bytes. Integers also accept an
/// integral value written as a decimal ("255.0"). Returns false when the text
/// is no number of that type or out of its range.
bool parse_scalar(std::string_view text, ScalarType type, unsigned char* dst);
/// Parses a double (accepting "+", "inf", "nan"); false when not a number.
bool parse_double(std::string_view text, double& value);
/// True when the text is an integer literal ("-12", "+7") that fits in int32.
bool is_int32_literal(std::string_view text);

/// Appends the value at `src` as text that reads back to the same value
/// (shortest round-trip form for floats).
void append_scalar(std::string& out, ScalarType type, const unsigned char* src);
void append_double(std::string& out, double value);

}  // namespace ici3d::host::io_detail
