#include "slots.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

#include "scalar.h"

namespace ici3d::host::io_detail {

// Far more columns than any real cloud has, few enough that a hostile header
// cannot make us create millions of attributes.
constexpr uint64_t kMaxColumns = 65536;

static const char* const kAxisNames[3] = {"x", "y", "z"};

void store_value(const ReadSlot& slot, std::vector<double>& xyz, size_t point, const unsigned char* value) {
  if (slot.axis >= 0) xyz[3 * point + static_cast<size_t>(slot.axis)] = load_as_double(slot.type, value);
  else if (slot.base) std::memcpy(slot.base + point * slot.stride, value, scalar_size(slot.type));
}

void load_value(const WriteSlot& slot, const std::vector<double>& xyz, size_t point, unsigned char* value) {
  if (slot.axis >= 0) store_from_double(slot.type, xyz[3 * point + static_cast<size_t>(slot.axis)], value);
  else if (slot.base) std::memcpy(value, slot.base + point * slot.stride, scalar_size(slot.type));
  else std::memset(value, 0, scalar_size(slot.type));
}

static std::string component_name(const LayoutField& field, uint32_t component) {
  return field.count > 1 ? field.name + "_" + std::to_string(component) : field.name;
}

static void check_columns(const std::vector<LayoutField>& fields, const InputSource& source,
                          const std::string& noun) {
  uint64_t columns = 0;
  bool seen_axis[3] = {false, false, false};
  for (const LayoutField& field : fields) {
    columns += field.count;
    if (field.axis < 0) continue;
    if (field.count != 1) source.fail(std::string("position '") + kAxisNames[field.axis] + "' must have COUNT 1");
    if (seen_axis[field.axis]) source.fail(std::string("position '") + kAxisNames[field.axis] + "' appears twice");
    seen_axis[field.axis] = true;
  }
  if (columns > kMaxColumns)
    source.fail("header declares " + std::to_string(columns) + " values per point; at most " +
                std::to_string(kMaxColumns) + " are supported");
  for (int axis = 0; axis < 3; ++axis)
    if (!seen_axis[axis]) source.fail(std::string("no '") + kAxisNames[axis] + "' " + noun + " for the position");
}

static void add_read_attributes(PointCloud& cloud, size_t points, const InputSource& source, bool keep_padding) {
  std::set<std::string> names = {"x", "y", "z"};
  for (LayoutField& field : cloud.layout.fields) {
    if (field.axis >= 0) continue;
    if (field.padding) {
      if (keep_padding) field.padding_bytes.assign(points * field.count * scalar_size(field.type), 0);
      continue;
    }
    for (uint32_t c = 0; c < field.count; ++c) {
      std::string name = component_name(field, c);
      if (!names.insert(name).second) source.fail("property name '" + name + "' appears twice");
      Attribute& attribute = cloud.attributes.emplace_back();
      attribute.name = std::move(name);
      attribute.type = field.type;
      attribute.bytes.assign(points * scalar_size(field.type), 0);
    }
  }
}

std::vector<ReadSlot> bind_read_slots(PointCloud& cloud, uint64_t points, const InputSource& source,
                                      const std::string& noun, bool keep_padding) {
  check_columns(cloud.layout.fields, source, noun);
  const auto n = static_cast<size_t>(points);
  cloud.xyz.assign(3 * n, 0.0);
  cloud.attributes.clear();
  add_read_attributes(cloud, n, source, keep_padding);
  std::vector<ReadSlot> slots;
  size_t next_attribute = 0;
  for (LayoutField& field : cloud.layout.fields) {
    const size_t size = scalar_size(field.type);
    for (uint32_t c = 0; c < field.count; ++c) {
      ReadSlot slot{field.type, field.axis, nullptr, size, component_name(field, c)};
      if (field.padding) {
        // No bytes kept: an offset from their null pointer is undefined.
        if (!field.padding_bytes.empty()) slot.base = field.padding_bytes.data() + c * size;
        slot.stride = field.count * size;
      } else if (field.axis < 0) {
        slot.base = cloud.attributes[next_attribute++].bytes.data();
      }
      slots.push_back(slot);
    }
  }
  return slots;
}

// ---------------------------------------------------------------------------
// Planning a write

namespace {

class WritePlanner {
 public:
  WritePlanner(const PointCloud& cloud, Format target, const std::string& destination)
      : cloud_(cloud), target_(target), destination_(destination), used_(cloud.attributes.size(), false) {}

  std::vector<WriteField> plan() {
    for (const LayoutField& field : cloud_.layout.fields) add_layout_field(field);
    add_missing_axes();
    for (size_t i = 0; i < cloud_.attributes.size(); ++i)
      if (!used_[i]) add_attribute(cloud_.attributes[i], "");
    std::set<std::string> names;
    for (const WriteField& field : fields_) {
      check_field(field);
      if (!field.padding && !names.insert(field.name).second) fail("name '" + field.name + "' is used twice");
    }
    return std::move(fields_);
  }

 private:
  [[noreturn]] void fail(const std::string& message) const { throw IoError(destination_ + ": " + message); }

  const Attribute* take_attribute(const std::string& name) {
    for (size_t i = 0; i < cloud_.attributes.size(); ++i) {
      if (used_[i] || cloud_.attributes[i].name != name) continue;
      used_[i] = true;
      return &cloud_.attributes[i];
    }
    return nullptr;
  }

  WriteSlot attribute_slot(const Attribute& attribute) const {
    const size_t size = scalar_size(attribute.type);
    if (attribute.bytes.size() != cloud_.size() * size)
      fail("attribute '" + attribute.name + "' holds " + std::to_string(attribute.bytes.size() / size) +
           " values for " + std::to_string(cloud_.size()) + " points");
    return WriteSlot{attribute.type, -1, attribute.bytes.data(), size, attribute.name};
  }

  void add_attribute(const Attribute& attribute, const std::string& type_name) {
    fields_.push_back(WriteField{attribute.name, attribute.type, type_name, false, {attribute_slot(attribute)}});
  }

  void add_axis(const LayoutField& field) {
    const int axis = field.axis;
    const std::string written = target_ == Format::Xyz && !field.name.empty() ? field.name : kAxisNames[axis];
    fields_.push_back(
        WriteField{written, field.type, field.type_name, false, {WriteSlot{field.type, axis, nullptr, 0, written}}});
    has_axis_[axis] = true;
  }

  void add_padding(const LayoutField& field) {
    const size_t size = scalar_size(field.type);
    const size_t width = field.count * size;
    // Empty bytes (no points) have a null pointer that takes no offset.
    const bool has_bytes = !field.padding_bytes.empty() && field.padding_bytes.size() == cloud_.size() * width;
    WriteField out{field.name, field.type, "", true, {}};
    for (uint32_t c = 0; c < field.count; ++c)
      out.slots.push_back(
          WriteSlot{field.type, -1, has_bytes ? field.padding_bytes.data() + c * size : nullptr, width, field.name});
    fields_.push_back(std::move(out));
  }

  // A multi-count field stays one field for PCD when every component is
  // still there with the field's type; otherwise its components go alone.
  void add_multi_count(const LayoutField& field) {
    std::vector<const Attribute*> parts;
    for (uint32_t c = 0; c < field.count; ++c)
      if (const Attribute* part = take_attribute(component_name(field, c))) parts.push_back(part);
    const bool intact = parts.size() == field.count &&
                        std::all_of(parts.begin(), parts.end(), [&](auto* p) { return p->type == field.type; });
    if (target_ != Format::Pcd || !intact) {
      for (const Attribute* part : parts) add_attribute(*part, "");
      return;
    }
    WriteField out{field.name, field.type, "", false, {}};
    for (const Attribute* part : parts) out.slots.push_back(attribute_slot(*part));
    fields_.push_back(std::move(out));
  }

  void add_layout_field(const LayoutField& field) {
    if (field.axis >= 0 && field.axis < 3 && !has_axis_[field.axis]) {
      add_axis(field);
    } else if (field.padding) {
      if (target_ == Format::Pcd) add_padding(field);
    } else if (field.count > 1) {
      add_multi_count(field);
    } else if (const Attribute* attribute = take_attribute(field.name)) {
      add_attribute(*attribute, attribute->type == field.type ? field.type_name : "");
    }
  }

  void add_missing_axes() {
    for (int axis = 2; axis >= 0; --axis) {
      if (has_axis_[axis]) continue;
      fields_.insert(fields_.begin(), WriteField{kAxisNames[axis], ScalarType::Float64, "", false,
                                                 {WriteSlot{ScalarType::Float64, axis, nullptr, 0, kAxisNames[axis]}}});
    }
  }

  void check_field(const WriteField& field) const {
    if (target_ != Format::Xyz) check_name(field.name);
    if (target_ == Format::Ply && (field.type == ScalarType::Int64 || field.type == ScalarType::UInt64))
      fail("attribute '" + field.name + "' is " + scalar_type_name(field.type) + ", which PLY cannot store");
    const WriteSlot& first = field.slots.front();
    if (first.axis >= 0 && !is_floating(first.type)) check_integral_axis(first);
  }

  void check_name(const std::string& name) const {
    const bool bad = name.empty() || std::any_of(name.begin(), name.end(), [](unsigned char ch) {
                       return std::isspace(ch) || !std::isprint(ch);
                     });
    if (bad) fail("name '" + name + "' cannot be stored in a header (empty or with white space)");
  }

  void check_integral_axis(const WriteSlot& slot) const {
    for (size_t i = 0; i < cloud_.size(); ++i)
      if (!std::isfinite(cloud_.xyz[3 * i + static_cast<size_t>(slot.axis)]))
        fail(std::string("point ") + std::to_string(i) + ": " + kAxisNames[slot.axis] + " is not finite and cannot be stored as " +
             scalar_type_name(slot.type));
  }

  const PointCloud& cloud_;
  Format target_;
  const std::string& destination_;
  std::vector<bool> used_;
  bool has_axis_[3] = {false, false, false};
  std::vector<WriteField> fields_;
};

}  // namespace

std::vector<WriteField> plan_write_fields(const PointCloud& cloud, Format target, const std::string& destination) {
  if (cloud.xyz.size() % 3 != 0) throw IoError(destination + ": xyz holds a number of values not divisible by 3");
  return WritePlanner(cloud, target, destination).plan();
}

std::vector<WriteSlot> flatten_slots(const std::vector<WriteField>& fields) {
  std::vector<WriteSlot> slots;
  for (const WriteField& field : fields) slots.insert(slots.end(), field.slots.begin(), field.slots.end());
  return slots;
}

}  // namespace ici3d::host::io_detail
