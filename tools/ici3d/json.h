#pragma once
// A small streaming JSON writer for the tool's reports: objects, arrays,
// strings, numbers (shortest round-trip form; NaN and infinities as null)
// and booleans, indented by two spaces.

#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ici3d::cli {

class JsonWriter {
 public:
  JsonWriter& begin_object() { return open('{'); }
  JsonWriter& end_object() { return close('}'); }
  JsonWriter& begin_array() { return open('['); }
  JsonWriter& end_array() { return close(']'); }

  /// The key of the next member; must be followed by a value or an opening.
  JsonWriter& key(std::string_view name) {
    separate();
    append_string(name);
    out_ += ": ";
    after_key_ = true;
    return *this;
  }

  JsonWriter& value(std::string_view text) {
    separate();
    append_string(text);
    return *this;
  }
  JsonWriter& value(const char* text) { return value(std::string_view(text)); }
  JsonWriter& value(const std::string& text) { return value(std::string_view(text)); }
  JsonWriter& value(bool flag) {
    separate();
    out_ += flag ? "true" : "false";
    return *this;
  }
  JsonWriter& value(double number) {
    separate();
    out_ += std::isfinite(number) ? fmt::format("{}", number) : "null";
    return *this;
  }
  template <class Int,
            class = std::enable_if_t<std::is_integral_v<Int> && !std::is_same_v<Int, bool>>>
  JsonWriter& value(Int number) {
    separate();
    out_ += fmt::format("{}", number);
    return *this;
  }

  /// Shorthand for key(name).value(v).
  template <class T>
  JsonWriter& member(std::string_view name, const T& v) {
    return key(name).value(v);
  }

  /// The document, with a final newline.
  std::string str() const { return out_ + "\n"; }

 private:
  JsonWriter& open(char bracket) {
    separate();
    out_ += bracket;
    first_.push_back(true);
    return *this;
  }
  JsonWriter& close(char bracket) {
    const bool empty = first_.back();
    first_.pop_back();
    if (!empty) newline();
    out_ += bracket;
    return *this;
  }
  // Comma and line break before an element, unless it follows its key.
  void separate() {
    if (after_key_) {
      after_key_ = false;
      return;
    }
    if (first_.empty()) return;
    if (!first_.back()) out_ += ',';
    first_.back() = false;
    newline();
  }
  void newline() {
    out_ += '\n';
    out_.append(2 * first_.size(), ' ');
  }
  void append_string(std::string_view text) {
    out_ += '"';
    for (const char ch : text) {
      const auto byte = static_cast<unsigned char>(ch);
      switch (ch) {
        case '"': out_ += "\\\""; break;
        case '\\': out_ += "\\\\"; break;
        case '\n': out_ += "\\n"; break;
        case '\r': out_ += "\\r"; break;
        case '\t': out_ += "\\t"; break;
        default:
          if (byte < 0x20)
            out_ += fmt::format("\\u{:04x}", byte);
          else
            out_ += ch;
      }
    }
    out_ += '"';
  }

  std::string out_;
  std::vector<bool> first_;  // per open container: no element written yet
  bool after_key_ = false;
};

}  // namespace ici3d::cli
