// LAS files: every point format and header version written byte by byte
// here, read, and written back; the bytes that must survive are compared.

#include <cmath>
#include <functional>
#include <random>

#include "test_io_util.h"

namespace {

using namespace io_test;

template <class T>
void put(std::string& bytes, size_t at, T value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);  // the tests run on little-endian machines
}

template <class T>
T get(const std::string& bytes, size_t at) {
  T value;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

constexpr uint16_t kBaseLength[11] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};

std::string vlr(const std::string& user, uint16_t id, const std::string& payload, bool extended = false) {
  std::string record(extended ? 60 : 54, '\0');
  record.replace(2, user.size(), user);
  put<uint16_t>(record, 18, id);
  if (extended) put<uint64_t>(record, 20, payload.size());
  else put<uint16_t>(record, 20, static_cast<uint16_t>(payload.size()));
  record.replace(extended ? 28 : 22, 11, "description");
  return record + payload;
}

// An Extra Bytes descriptor: type code (0: `size` undocumented bytes).
std::string descriptor(uint8_t code, const std::string& name, uint8_t size = 0) {
  std::string d(192, '\0');
  d[2] = static_cast<char>(code);
  d[3] = static_cast<char>(size);
  d.replace(4, name.size(), name);
  return d;
}

// Extra bytes of every type, one deprecated 3-element array and undocumented
// bytes in the middle: 1+1+2+2+4+4+8+8+4+8 + 3*2 + 3 = 51 bytes.
std::string every_extra_type() {
  const char* names[10] = {"e_u8", "e_i8", "e_u16", "e_i16", "e_u32", "e_i32", "e_u64", "e_i64", "e_f32", "e_f64"};
  std::string descriptors;
  for (uint8_t code = 1; code <= 10; ++code) descriptors += descriptor(code, names[code - 1]);
  descriptors += descriptor(0, "gap", 3);
  descriptors += descriptor(24, "vec");  // three int16
  return descriptors;
}
constexpr uint16_t kEveryExtraSize = 51;

struct LasSample {
  int minor = 4;
  int format = 6;
  size_t points = 5;
  std::string vlrs;          // whole VLRs
  uint32_t vlr_count = 0;
  uint16_t extra = 0;        // bytes after the standard fields
  std::string evlrs;         // whole EVLRs (1.4)
  uint32_t evlr_count = 0;
  double scale[3] = {0.01, 0.01, 0.01};
  double offset[3] = {0, 0, 0};
  unsigned seed = 3;
};

// A file with random record bytes after two extreme ones: every bit of a
// record is some field, so all must come back unchanged.
std::string make_las(const LasSample& s) {
  const size_t header_size = s.minor >= 4 ? 375 : s.minor == 3 ? 235 : 227;
  std::string h(header_size, '\0');
  h.replace(0, 4, "LASF");
  put<uint16_t>(h, 4, 42);  // file source id
  h[24] = 1;
  h[25] = static_cast<char>(s.minor);
  h.replace(26, 6, "SYSTEM");
  h.replace(58, 8, "THEIRS 1");
  put<uint16_t>(h, 94, static_cast<uint16_t>(header_size));
  put<uint32_t>(h, 96, static_cast<uint32_t>(header_size + s.vlrs.size()));
  put<uint32_t>(h, 100, s.vlr_count);
  h[104] = static_cast<char>(s.format);
  const uint16_t length = kBaseLength[s.format] + s.extra;
  put<uint16_t>(h, 105, length);
  put<uint32_t>(h, 107, s.format <= 5 ? static_cast<uint32_t>(s.points) : 0);
  for (int c = 0; c < 3; ++c) {
    put<double>(h, 131 + 8 * c, s.scale[c]);
    put<double>(h, 155 + 8 * c, s.offset[c]);
  }
  std::string records(s.points * length, '\0');
  std::mt19937 random(s.seed);
  for (char& byte : records) byte = static_cast<char>(random());
  // Extremes first: every bit set (NaN payloads, maxima, -1), then none.
  if (s.points >= 2) {
    std::fill_n(records.begin(), length, '\xFF');
    std::fill_n(records.begin() + length, length, '\0');
  }
  if (s.minor >= 4) {
    put<uint64_t>(h, 235, s.evlr_count ? header_size + s.vlrs.size() + records.size() : 0);
    put<uint32_t>(h, 243, s.evlr_count);
    put<uint64_t>(h, 247, s.points);
  }
  return h + s.vlrs + records + s.evlrs;
}

std::string write_to_string(const PointCloud& cloud) {
  std::ostringstream out;
  WriteOptions options;
  options.format = Format::Las;
  write_point_cloud(out, "out.las", cloud, options);
  return out.str();
}

PointCloud read_string(const std::string& bytes) {
  std::istringstream in(bytes);
  return read_point_cloud(in, "in.las");
}

// Header bytes that writing may change: generating software, legacy counts,
// bounds, 64-bit counts.
bool header_byte_may_change(size_t at) {
  return (at >= 58 && at < 90) || (at >= 107 && at < 131) || (at >= 179 && at < 227) || at >= 247;
}

void expect_same_except_counts(const std::string& in, const std::string& out, size_t header_size) {
  ASSERT_EQ(in.size(), out.size());
  for (size_t at = 0; at < in.size(); ++at) {
    if (at >= header_size || !header_byte_may_change(at)) {
      ASSERT_EQ(in[at], out[at]) << "byte " << at;
    }
  }
}

TEST(LasRoundTrip, EveryPointFormatKeepsEveryRecordByte) {
  for (int format = 0; format <= 10; ++format) {
    SCOPED_TRACE("format " + std::to_string(format));
    LasSample sample;
    sample.format = format;
    sample.points = 40;
    sample.vlrs = vlr("LASF_Spec", 4, every_extra_type());
    sample.vlr_count = 1;
    sample.extra = kEveryExtraSize + 5;  // 5 undocumented bytes at the end
    const std::string in = make_las(sample);
    const PointCloud cloud = read_string(in);
    ASSERT_EQ(cloud.size(), 40u);
    for (const char* name : {"e_u8", "e_i64", "e_f64", "vec_0", "vec_2", "intensity", "return_number"})
      EXPECT_TRUE(cloud.find_attribute(name)) << name;
    EXPECT_EQ(cloud.find_attribute("gps_time") != nullptr, format != 0 && format != 2);
    EXPECT_EQ(cloud.find_attribute("e_i16")->type, ScalarType::Int16);
    EXPECT_EQ(cloud.find_attribute("vec_1")->type, ScalarType::Int16);
    EXPECT_EQ(cloud.layout.las.opaque_size, 3u + 5u);
    const std::string out = write_to_string(cloud);
    expect_same_except_counts(in, out, 375);
    // And the values survive the trip.
    expect_same_values(cloud, read_string(out));
  }
}

TEST(LasRoundTrip, FieldsDecodeFromTheirBits) {
  LasSample sample;
  sample.format = 3;
  sample.points = 1;
  std::string in = make_las(sample);
  const size_t r = 375;
  put<int32_t>(in, r, -7);
  put<uint16_t>(in, r + 12, 65535);
  in[r + 14] = static_cast<char>(0b10'101'011);  // edge 1, scan dir 0, 5 returns, return 3
  in[r + 15] = static_cast<char>(0b110'11111);   // withheld, key point, class 31
  in[r + 16] = static_cast<char>(-90);
  put<double>(in, r + 20, -1.5);
  put<uint16_t>(in, r + 28, 65535);
  const PointCloud cloud = read_string(in);
  EXPECT_DOUBLE_EQ(cloud.xyz[0], -0.07);
  EXPECT_EQ(cloud.find_attribute("intensity")->get<uint16_t>(0), 65535);
  EXPECT_EQ(cloud.find_attribute("return_number")->get<uint8_t>(0), 3);
  EXPECT_EQ(cloud.find_attribute("number_of_returns")->get<uint8_t>(0), 5);
  EXPECT_EQ(cloud.find_attribute("scan_direction_flag")->get<uint8_t>(0), 0);
  EXPECT_EQ(cloud.find_attribute("edge_of_flight_line")->get<uint8_t>(0), 1);
  EXPECT_EQ(cloud.find_attribute("classification")->get<uint8_t>(0), 31);
  EXPECT_EQ(cloud.find_attribute("synthetic")->get<uint8_t>(0), 0);
  EXPECT_EQ(cloud.find_attribute("key_point")->get<uint8_t>(0), 1);
  EXPECT_EQ(cloud.find_attribute("withheld")->get<uint8_t>(0), 1);
  EXPECT_EQ(cloud.find_attribute("scan_angle_rank")->get<int8_t>(0), -90);
  EXPECT_EQ(cloud.find_attribute("gps_time")->get<double>(0), -1.5);
  EXPECT_EQ(cloud.find_attribute("red")->get<uint16_t>(0), 65535);
  // Counts by return come from the records: one point of return 3.
  const std::string out = write_to_string(cloud);
  EXPECT_EQ(get<uint32_t>(out, 107), 1u);
  EXPECT_EQ(get<uint32_t>(out, 111 + 8), 1u);
  EXPECT_EQ(get<uint64_t>(out, 255 + 16), 1u);
  EXPECT_EQ(out.substr(58, 6), "ici3d ");
}

TEST(LasRoundTrip, OlderHeaderVersionsAndFormats6To10Counts) {
  for (int minor : {0, 1, 2, 3}) {
    SCOPED_TRACE("1." + std::to_string(minor));
    LasSample sample;
    sample.minor = minor;
    sample.format = minor == 3 ? 5 : minor == 2 ? 3 : 1;
    const std::string in = make_las(sample);
    const PointCloud cloud = read_string(in);
    EXPECT_EQ(cloud.layout.las.version_minor, minor);
    EXPECT_EQ(cloud.layout.las.header.size(), minor == 3 ? 235u : 227u);
    const std::string out = write_to_string(cloud);
    expect_same_except_counts(in, out, minor == 3 ? 235 : 227);
    EXPECT_EQ(get<uint32_t>(out, 107), 5u);
  }
  // Formats 6 to 10 count in 64 bits only; their legacy count stays zero.
  LasSample sample;
  sample.format = 8;
  const std::string out = write_to_string(read_string(make_las(sample)));
  EXPECT_EQ(get<uint32_t>(out, 107), 0u);
  EXPECT_EQ(get<uint64_t>(out, 247), 5u);
}

TEST(LasRoundTrip, VlrsAndEvlrsSurviveAndMoveWithThePointCount) {
  LasSample sample;
  sample.format = 7;
  sample.points = 10;
  sample.vlrs = vlr("projection", 2112, "WKT text") + vlr("LASF_Projection", 34735, std::string(16, '\x01')) + "??";
  sample.vlr_count = 2;
  sample.extra = 2;
  // The Extra Bytes descriptors may come as an EVLR too.
  sample.evlrs = vlr("LASF_Spec", 4, descriptor(3, "height_above"), true) + vlr("other", 7, "payload", true);
  sample.evlr_count = 2;
  const std::string in = make_las(sample);
  PointCloud cloud = read_string(in);
  ASSERT_EQ(cloud.layout.las.records.size(), 4u);
  EXPECT_EQ(cloud.layout.las.records[1].record_id, 34735);
  EXPECT_TRUE(cloud.layout.las.records[3].extended);
  EXPECT_EQ(cloud.layout.las.records[3].user_id, "other");
  EXPECT_EQ(cloud.find_attribute("height_above")->type, ScalarType::UInt16);  // described by an EVLR

  // Keep the first 4 points: the EVLRs follow the records, byte for byte.
  const std::string full = write_to_string(cloud);
  expect_same_except_counts(in, full, 375);
  cloud.xyz.resize(12);
  for (Attribute& attribute : cloud.attributes) attribute.bytes.resize(4 * scalar_size(attribute.type));
  cloud.layout.las.opaque_bytes.clear();
  const std::string cut = write_to_string(cloud);
  const size_t length = kBaseLength[7] + 2, data = 375 + sample.vlrs.size();
  ASSERT_EQ(cut.size(), in.size() - 6 * length);
  EXPECT_EQ(get<uint64_t>(cut, 235), data + 4 * length);
  EXPECT_EQ(cut.substr(data + 4 * length), sample.evlrs);
  EXPECT_EQ(cut.substr(375, sample.vlrs.size()), sample.vlrs);
  const PointCloud again = read_string(cut);
  EXPECT_EQ(again.size(), 4u);
  EXPECT_EQ(again.layout.las.records.size(), 4u);
}

TEST(LasPositions, UtmOffsetsKeepEveryStep) {
  LasSample sample;
  sample.points = 200;
  sample.scale[0] = sample.scale[1] = sample.scale[2] = 0.001;
  sample.offset[0] = 500000;
  sample.offset[1] = 5000000;
  sample.offset[2] = -100;
  const std::string in = make_las(sample);
  PointCloud cloud = read_string(in);
  for (size_t i = 0; i < cloud.size(); ++i) {
    const auto stored = get<int32_t>(in, 375 + i * 30 + 4);
    EXPECT_EQ(cloud.xyz[3 * i + 1], stored * 0.001 + 5000000.0);
  }
  // Moved by whole and half steps (as a denoiser would move them): each
  // stored integer moves by the nearest whole number of steps.
  for (size_t i = 0; i < cloud.size(); ++i) {
    cloud.xyz[3 * i] += 0.004;
    cloud.xyz[3 * i + 1] -= 0.0126;  // 12.6 steps: 13
    cloud.xyz[3 * i + 2] += 0.0004;  // 0.4 steps: none
  }
  const std::string out = write_to_string(cloud);
  for (size_t i = 0; i < cloud.size(); ++i) {
    const size_t r = 375 + i * 30;
    EXPECT_EQ(get<int32_t>(out, r), get<int32_t>(in, r) + 4);
    EXPECT_EQ(get<int32_t>(out, r + 4), get<int32_t>(in, r + 4) - 13);
    EXPECT_EQ(get<int32_t>(out, r + 8), get<int32_t>(in, r + 8));
    EXPECT_EQ(out.substr(r + 12, 18), in.substr(r + 12, 18));
  }
  // The bounds are those of the stored positions.
  const PointCloud again = read_string(out);
  double max_y = -INFINITY;
  for (size_t i = 0; i < again.size(); ++i) max_y = std::max(max_y, again.xyz[3 * i + 1]);
  EXPECT_EQ(get<double>(out, 195), max_y);
}

TEST(LasPositions, OutOfRangeOrNonFiniteIsAnErrorNotAWrap) {
  LasSample sample;
  PointCloud cloud = read_string(make_las(sample));
  cloud.xyz[4] = 0.01 * 2147483648.0;  // one step past int32
  expect_io_error([&] { write_to_string(cloud); }, {"point 1", "y", "32-bit"});
  cloud.xyz[4] = 0;
  cloud.xyz[2] = std::nan("");
  expect_io_error([&] { write_to_string(cloud); }, {"point 0", "z", "not finite"});
}

TEST(LasWrite, AttributeValuesMustFitTheirFields) {
  LasSample sample;
  sample.format = 1;
  PointCloud cloud = read_string(make_las(sample));
  cloud.find_attribute("return_number")->set<uint8_t>(2, 8);
  expect_io_error([&] { write_to_string(cloud); }, {"point 2", "return_number", "3 bits"});
  cloud = read_string(make_las(sample));
  cloud.add_attribute("label", ScalarType::Int32);
  expect_io_error([&] { write_to_string(cloud); }, {"'label'", "no place"});
}

TEST(LasWrite, OtherCloudsBecomeLas14WithExtraBytes) {
  PointCloud cloud = make_typed_cloud(12, all_scalar_types());
  cloud.xyz.assign(36, 0.0);
  for (size_t k = 0; k < 36; ++k) cloud.xyz[k] = 654321.25 + 0.5 * static_cast<double>(k);
  for (const char* colour : {"red", "green", "blue"}) {
    Attribute& a = cloud.add_attribute(colour, ScalarType::UInt8);
    a.set<uint8_t>(3, 255);
  }
  Attribute& classification = cloud.add_attribute("classification", ScalarType::Int64);
  classification.set<int64_t>(0, 200);
  const std::string out = write_to_string(cloud);
  EXPECT_EQ(out[104], 7);
  const PointCloud back = read_string(out);
  for (size_t k = 0; k < 36; ++k) EXPECT_EQ(back.xyz[k], cloud.xyz[k]);
  for (ScalarType type : all_scalar_types()) {
    const std::string name = std::string("a_") + scalar_type_name(type);
    const Attribute* got = back.find_attribute(name);
    ASSERT_TRUE(got) << name;
    EXPECT_EQ(got->type, type);
    EXPECT_EQ(got->bytes, cloud.find_attribute(name)->bytes) << name;
  }
  EXPECT_EQ(back.find_attribute("red")->get<uint16_t>(3), 255);
  EXPECT_EQ(back.find_attribute("classification")->get<uint8_t>(0), 200);

  classification.set<int64_t>(1, 256);
  expect_io_error([&] { write_to_string(cloud); }, {"point 1", "classification", "uint8"});
}

TEST(LasRead, TellsLasFromItsSignatureAndRefusesLaz) {
  ScratchDir dir;
  const std::string bytes = make_las(LasSample{});
  write_file(dir.file("points.bin"), bytes);
  EXPECT_EQ(read_point_cloud(dir.file("points.bin")).layout.format, Format::Las);
  std::string laz = bytes;
  laz[104] = static_cast<char>(0x80 | 6);
  write_file(dir.file("points.laz"), laz);
  expect_io_error([&] { read_point_cloud(dir.file("points.laz")); }, {"LAZ", "compression"});
  expect_io_error([&] { write_point_cloud(dir.file("out.laz"), read_string(bytes)); }, {"LAZ"});
}

TEST(LasRead, HostileHeadersAreRefusedBeforeAllocating) {
  const std::string good = make_las(LasSample{});
  struct Case {
    const char* what;
    std::function<void(std::string&)> spoil;
    std::vector<std::string> message;
  };
  const std::vector<Case> cases = {
      {"truncated header", [](std::string& b) { b.resize(100); }, {"ends early", "LAS header"}},
      {"truncated records", [](std::string& b) { b.resize(b.size() - 1); }, {"5 point records", "truncated"}},
      {"big endian", [](std::string& b) { put<uint16_t>(b, 94, 0x7701); }, {"big endian"}},
      {"version 2.4", [](std::string& b) { b[24] = 2; }, {"version 2.4"}},
      {"1.4 with a 1.2 header", [](std::string& b) { put<uint16_t>(b, 94, 227); }, {"short of the 375"}},
      {"point data offset past the end", [](std::string& b) { put<uint32_t>(b, 96, 0xFFFFFFF0u); }, {"past the end"}},
      {"point data offset in the header", [](std::string& b) { put<uint32_t>(b, 96, 100); }, {"inside"}},
      {"count overflowing", [](std::string& b) { put<uint64_t>(b, 247, UINT64_MAX / 2); }, {"header promises"}},
      {"zero scale", [](std::string& b) { put<double>(b, 139, 0.0); }, {"y scale"}},
      {"NaN offset", [](std::string& b) { put<double>(b, 171, std::nan("")); }, {"z offset"}},
      {"short records", [](std::string& b) { put<uint16_t>(b, 105, 29); }, {"shorter than the 30"}},
      {"format 11", [](std::string& b) { b[104] = 11; }, {"none of 0 to 10"}},
      {"VLR past the data", [](std::string& b) { put<uint32_t>(b, 100, 1); }, {"VLR 1 of 1"}},
      {"EVLRs past the end", [](std::string& b) { put<uint32_t>(b, 243, 3); put<uint64_t>(b, 235, b.size()); },
       {"3 EVLRs"}},
      {"not LAS", [](std::string& b) { b[0] = 'X'; }, {"LASF"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = good;
    c.spoil(bytes);
    std::istringstream in(bytes);
    ReadOptions options;
    options.format = Format::Las;
    expect_io_error([&] { read_point_cloud(in, "bad.las", options); }, c.message);
  }
  // Extra bytes described beyond the record.
  LasSample sample;
  sample.vlrs = vlr("LASF_Spec", 4, descriptor(10, "too_long"));
  sample.vlr_count = 1;
  sample.extra = 4;
  expect_io_error([&] { read_string(make_las(sample)); }, {"too_long", "only 34 bytes"});
}

}  // namespace
