#include "ply_elements.h"

#include "ici3d_host/io.h"
#include "records.h"
#include "scalar.h"

namespace ici3d::host::io_detail {

namespace {

struct PlyTypeSpelling {
  const char* name;
  ScalarType type;
};

// Classic names first: they are the ones written for new properties.
constexpr PlyTypeSpelling kPlyTypes[] = {
    {"char", ScalarType::Int8},     {"uchar", ScalarType::UInt8},    {"short", ScalarType::Int16},
    {"ushort", ScalarType::UInt16}, {"int", ScalarType::Int32},      {"uint", ScalarType::UInt32},
    {"float", ScalarType::Float32}, {"double", ScalarType::Float64}, {"int8", ScalarType::Int8},
    {"uint8", ScalarType::UInt8},   {"int16", ScalarType::Int16},    {"uint16", ScalarType::UInt16},
    {"int32", ScalarType::Int32},   {"uint32", ScalarType::UInt32},  {"float32", ScalarType::Float32},
    {"float64", ScalarType::Float64}};

// Walks the values of one instance stored in binary. `take(n)` yields the
// next n bytes; `visit(type, value)` receives each value in native order,
// list lengths included.
template <class Take, class Visit>
void walk_binary_instance(const std::vector<PlyProperty>& properties, bool swap, Take&& take, Visit&& visit) {
  unsigned char value[kMaxScalarSize];
  auto next = [&](ScalarType type) {
    const size_t size = scalar_size(type);
    std::memcpy(value, take(size), size);
    if (swap) reverse_bytes(value, size);
    visit(type, value);
  };
  for (const PlyProperty& property : properties) {
    if (!property.is_list) {
      next(property.type);
      continue;
    }
    next(property.count_type);
    const double length = load_as_double(property.count_type, value);
    if (length < 0) throw std::range_error("list '" + property.name + "' has a negative length");
    for (auto k = static_cast<uint64_t>(length); k > 0; --k) next(property.type);
  }
}

// Walks the values of one instance stored as text tokens; throws
// std::range_error with a description of what is wrong.
template <class Visit>
void walk_text_instance(const std::vector<std::string_view>& tokens, const std::vector<PlyProperty>& properties,
                        Visit&& visit) {
  unsigned char value[kMaxScalarSize];
  size_t t = 0;
  auto next = [&](ScalarType type, const std::string& what) {
    if (t >= tokens.size()) throw std::range_error("too few values: missing " + what);
    if (!parse_scalar(tokens[t], type, value))
      throw std::range_error(what + " expects a " + std::string(scalar_type_name(type)) + " value, found '" +
                             std::string(tokens[t]) + "'");
    ++t;
    visit(type, value);
  };
  for (const PlyProperty& property : properties) {
    if (!property.is_list) {
      next(property.type, "'" + property.name + "'");
      continue;
    }
    next(property.count_type, "the length of list '" + property.name + "'");
    const double length = load_as_double(property.count_type, value);
    if (length < 0 || length > static_cast<double>(tokens.size() - t))
      throw std::range_error("list '" + property.name + "' promises " + std::string(tokens[t - 1]) + " values, " +
                             std::to_string(tokens.size() - t) + " follow");
    for (auto k = static_cast<uint64_t>(length); k > 0; --k) next(property.type, "an item of '" + property.name + "'");
  }
  if (t != tokens.size())
    throw std::range_error("expected " + std::to_string(t) + " values, found " + std::to_string(tokens.size()));
}

void read_text_element(InputSource& source, PlyElement& element) {
  std::string line;
  for (uint64_t i = 0; i < element.count; ++i) {
    if (!read_nonblank_line(source, line))
      source.fail_at_line("file ends after " + std::to_string(i) + " of " + std::to_string(element.count) + " '" +
                          element.name + "' elements");
    const auto tokens = split_whitespace(line);
    try {
      walk_text_instance(tokens, element.properties, [](ScalarType, const unsigned char*) {});
    } catch (const std::range_error& error) {
      source.fail_at_line("'" + element.name + "' element " + std::to_string(i) + ": " + error.what());
    }
    for (size_t t = 0; t < tokens.size(); ++t) {
      if (t > 0) element.data.push_back(' ');
      element.data.append(tokens[t]);
    }
    element.data.push_back('\n');
  }
}

void read_binary_element(InputSource& source, PlyElement& element, bool swap) {
  std::vector<unsigned char> piece;
  const std::string what = "'" + element.name + "' elements";
  auto take = [&](size_t size) {
    piece.resize(size);
    source.read_bytes(piece.data(), size, what);
    element.data.append(reinterpret_cast<const char*>(piece.data()), size);
    return piece.data();
  };
  for (uint64_t i = 0; i < element.count; ++i) {
    try {
      walk_binary_instance(element.properties, swap, take, [](ScalarType, const unsigned char*) {});
    } catch (const std::range_error& error) {
      source.fail_at_byte(source.offset(), "'" + element.name + "' element " + std::to_string(i) + ": " +
                                               error.what());
    }
  }
}

// Collects re-encoded values of one element.
class ElementEncoder {
 public:
  explicit ElementEncoder(Encoding target) : target_(target), swap_(ply_needs_swap(target)) {}

  void value(ScalarType type, const unsigned char* native) {
    if (target_ == Encoding::Ascii) {
      if (!at_line_start_) out_.push_back(' ');
      append_scalar(out_, type, native);
      at_line_start_ = false;
      return;
    }
    unsigned char bytes[kMaxScalarSize];
    const size_t size = scalar_size(type);
    std::memcpy(bytes, native, size);
    if (swap_) reverse_bytes(bytes, size);
    out_.append(reinterpret_cast<const char*>(bytes), size);
  }
  void end_instance() {
    if (target_ == Encoding::Ascii) out_.push_back('\n');
    at_line_start_ = true;
  }
  std::string take() { return std::move(out_); }

 private:
  Encoding target_;
  bool swap_;
  bool at_line_start_ = true;
  std::string out_;
};

void encode_from_text(const PlyElement& element, ElementEncoder& encoder) {
  std::string_view rest = element.data;
  for (uint64_t i = 0; i < element.count; ++i) {
    const size_t end = std::min(rest.find('\n'), rest.size());
    walk_text_instance(split_whitespace(rest.substr(0, end)), element.properties,
                       [&](ScalarType type, const unsigned char* value) { encoder.value(type, value); });
    encoder.end_instance();
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
}

void encode_from_binary(const PlyElement& element, ElementEncoder& encoder) {
  size_t cursor = 0;
  auto take = [&](size_t size) {
    if (element.data.size() - cursor < size) throw std::range_error("data ends early");
    cursor += size;
    return reinterpret_cast<const unsigned char*>(element.data.data() + cursor - size);
  };
  for (uint64_t i = 0; i < element.count; ++i) {
    walk_binary_instance(element.properties, ply_needs_swap(element.encoding), take,
                         [&](ScalarType type, const unsigned char* value) { encoder.value(type, value); });
    encoder.end_instance();
  }
}

}  // namespace

std::optional<ScalarType> ply_type_from_name(std::string_view name) {
  for (const PlyTypeSpelling& spelling : kPlyTypes)
    if (name == spelling.name) return spelling.type;
  return std::nullopt;
}

std::string ply_type_name(ScalarType type) {
  for (const PlyTypeSpelling& spelling : kPlyTypes)
    if (spelling.type == type) return spelling.name;
  return "";
}

std::string ply_type_list() {
  std::string list;
  for (const PlyTypeSpelling& spelling : kPlyTypes) list += (list.empty() ? "" : ", ") + std::string(spelling.name);
  return list;
}

bool ply_needs_swap(Encoding encoding) {
  if (encoding == Encoding::BinaryBigEndian) return kNativeLittleEndian;
  if (encoding == Encoding::BinaryLittleEndian) return !kNativeLittleEndian;
  return false;
}

uint64_t ply_min_instance_bytes(const PlyElement& element, Encoding encoding) {
  uint64_t bytes = 0;
  for (const PlyProperty& property : element.properties) {
    if (encoding == Encoding::Ascii) bytes += 2;  // a digit and a separator
    else bytes += scalar_size(property.is_list ? property.count_type : property.type);
  }
  return bytes;
}

void read_ply_element_body(InputSource& source, PlyElement& element, Encoding encoding) {
  element.encoding = encoding;
  element.data.clear();
  if (element.properties.empty()) return;  // instances without properties occupy nothing
  if (encoding == Encoding::Ascii) read_text_element(source, element);
  else read_binary_element(source, element, ply_needs_swap(encoding));
}

std::string encode_ply_element(const PlyElement& element, Encoding target, const std::string& name) {
  if (element.encoding == target || element.properties.empty()) return element.data;
  ElementEncoder encoder(target);
  try {
    if (element.encoding == Encoding::Ascii) encode_from_text(element, encoder);
    else encode_from_binary(element, encoder);
  } catch (const std::range_error& error) {
    throw IoError(name + ": element '" + element.name + "' does not match its declaration: " + error.what());
  }
  return encoder.take();
}

}  // namespace ici3d::host::io_detail
