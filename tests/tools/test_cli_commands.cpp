// ici3d synth, compare, info and render end to end.

#include <cmath>

#include "cli_runner.h"
#include "ici3d_host/io.h"

namespace ici3d_cli_test {
namespace {

uint32_t big_endian_u32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t k = 0; k < 4; ++k) value = (value << 8) | static_cast<unsigned char>(bytes[at + k]);
  return value;
}

// Mean distances printed by `compare --json`, in input order.
std::vector<double> mean_distances(const std::string& json) {
  std::vector<double> means;
  for (const nlohmann::json& value : json_find(json, "mean_distance"))
    means.push_back(value.get<double>());
  return means;
}

class CliSynth : public CliTest {};

TEST_F(CliSynth, SameSeedSameCloudOtherSeedOtherCloud) {
  run_ok("synth part a.ply --points 3000 --noise 0.01 --seed 5 -q");
  run_ok("synth part b.ply --points 3000 --noise 0.01 --seed 5 -q");
  run_ok("synth part c.ply --points 3000 --noise 0.01 --seed 6 -q");
  EXPECT_EQ(read_file(path("a.ply")), read_file(path("b.ply")));
  EXPECT_EQ(read_file(path("a.clean.ply")), read_file(path("b.clean.ply")));
  EXPECT_NE(read_file(path("a.ply")), read_file(path("c.ply")));
  EXPECT_EQ(ici3d::host::read_point_cloud(path("a.ply").string()).size(), 3000u);
  EXPECT_EQ(ici3d::host::read_point_cloud(path("a.clean.ply").string()).size(), 3000u);
}

// The clean copy lies on the surface; isotropic noise of deviation s puts
// points a mean |N(0, s)| = 0.798 s away from a smooth surface.
TEST_F(CliSynth, NoiseMatchesTheRequestedDeviation) {
  for (const char* shape : {"sphere", "cube", "part"}) {
    const std::string name(shape);
    run_ok("synth " + name + " " + name + ".xyz --points 20000 --noise 0.004 --seed 3 -q");
    const CliResult result =
        run_ok("compare --json --shape " + name + " " + name + ".xyz " + name + ".clean.xyz");
    const std::vector<double> means = mean_distances(result.out);
    ASSERT_EQ(means.size(), 2u) << result.out;
    EXPECT_NEAR(means[0], 0.798 * 0.004, 0.06 * 0.004) << shape;
    EXPECT_LT(means[1], 1e-9) << shape;
  }
}

TEST_F(CliSynth, WritesToStandardOutputWithAFormat) {
  const CliResult result = run_ok("synth cube - --format xyz --points 50 --no-clean");
  size_t lines = 0;
  for (char ch : result.out) lines += ch == '\n';
  EXPECT_EQ(lines, 50u);
  EXPECT_EQ(run("synth cube - --format xyz --points 50").exit_code, 2);  // clean copy unnamed
}

TEST_F(CliSynth, CompareTableAndDenoisingGetCloser) {
  run_ok("synth sphere s.ply --points 8000 --noise 0.01 --seed 2 -q");
  run_ok("denoise s.ply d.ply -q");
  const CliResult table = run_ok("compare --shape sphere s.ply d.ply");
  EXPECT_NE(table.out.find("s.ply"), std::string::npos);
  EXPECT_NE(table.out.find("mean"), std::string::npos);
  const std::vector<double> means =
      mean_distances(run_ok("compare --json --shape sphere s.ply d.ply").out);
  ASSERT_EQ(means.size(), 2u);
  EXPECT_LT(means[1], 0.7 * means[0]);
}

class CliInfo : public CliTest {};

TEST_F(CliInfo, DescribesCountsBoundsAttributesAndEstimates) {
  write_file(path("grid.ply"), noisy_grid_ply(10, 0.0, 1));
  const CliResult text = run_ok("info grid.ply");
  for (const char* expected :
       {"points:      100", "intensity        float32", "label            int32",
        "bounds max:  9 9 0", "spacing:     1", "duplicates:  0"})
    EXPECT_NE(text.out.find(expected), std::string::npos) << expected << "\n" << text.out;
  const CliResult json = run_ok("info grid.ply --json");
  EXPECT_EQ(json_find(json.out, "points"), std::vector<nlohmann::json>{100});
  const std::vector<nlohmann::json> attributes = json_find(json.out, "attributes");
  ASSERT_EQ(attributes.size(), 1u) << json.out;
  EXPECT_EQ(attributes[0].at(0), (nlohmann::json{{"name", "red"}, {"type", "uint8"}})) << json.out;
  // Only the four corners' neighbourhoods hold too few points for a fit.
  EXPECT_EQ(json_find(json.out, "degenerate_fraction"), std::vector<nlohmann::json>{0.04});
  EXPECT_TRUE(json.err.empty());
}

// A LAS file made by synth: info shows its header; denoised, every byte of a
// record except the position comes back.
TEST_F(CliInfo, ShowsTheLasHeaderAndDenoiseKeepsTheOtherFields) {
  run_ok("synth sphere s.las --points 2000 --noise 0.01 --no-clean -q");
  const CliResult text = run_ok("info s.las");
  for (const char* expected : {"format:      LAS binary", "version 1.4, point format 6, 30-byte records",
                               "scale:       1e-07 1e-07 1e-07", "vlrs:        0"})
    EXPECT_NE(text.out.find(expected), std::string::npos) << expected << "\n" << text.out;
  EXPECT_NE(run_ok("info s.las --json").out.find("\"point_format\": 6"), std::string::npos);
  run_ok("denoise s.las d.las -q");
  const std::string in = read_file(path("s.las")), out = read_file(path("d.las"));
  ASSERT_EQ(in.size(), out.size());
  size_t moved = 0;
  for (size_t at = 375; at < in.size(); ++at) {
    if ((at - 375) % 30 >= 12) ASSERT_EQ(in[at], out[at]) << "byte " << at;
    else moved += in[at] != out[at];
  }
  EXPECT_GT(moved, 1000u);
  EXPECT_EQ(run("denoise s.las e.las --extra displacement -q").exit_code, 4);
}

// Far from the origin (UTM-sized offsets) the denoised LAS positions are the
// pipeline's double results to the nearest step of the file's scale.
TEST_F(CliInfo, DenoisedLasPositionsFarFromTheOriginLoseOnlyTheRounding) {
  run_ok("synth sphere s.ply --points 3000 --noise 0.01 --no-clean -q");
  ici3d::host::PointCloud cloud = ici3d::host::read_point_cloud(path("s.ply").string());
  const double shift[3] = {512345.678, 5456789.012, 250.5};
  for (size_t k = 0; k < cloud.xyz.size(); ++k) cloud.xyz[k] += shift[k % 3];
  cloud.layout = {};
  ici3d::host::write_point_cloud(path("u.las").string(), cloud);
  run_ok("denoise u.las d.las -q");
  run_ok("denoise u.las d.ply -q");
  const auto las = ici3d::host::read_point_cloud(path("d.las").string());
  const auto exact = ici3d::host::read_point_cloud(path("d.ply").string());
  const auto before = ici3d::host::read_point_cloud(path("u.las").string());
  ASSERT_EQ(las.size(), exact.size());
  size_t moved = 0;
  for (size_t k = 0; k < las.xyz.size(); ++k) {
    const double scale = las.layout.las.scale[k % 3];
    // Half a step, and the spacing of doubles there (the steps themselves
    // are doubles).
    const double ulp = std::nextafter(std::abs(exact.xyz[k]), INFINITY) - std::abs(exact.xyz[k]);
    EXPECT_LE(std::abs(las.xyz[k] - exact.xyz[k]), 0.5 * scale + 2 * ulp) << k;
    moved += las.xyz[k] != before.xyz[k];
  }
  EXPECT_EQ(las.layout.las.offset[1], 5456789.0);
  EXPECT_GT(moved, las.xyz.size() / 2);
}

class CliRender : public CliTest {
 protected:
  // Checks the PNG signature and the size in the IHDR chunk.
  void expect_png(const std::string& name, uint32_t width, uint32_t height) {
    const std::string png = read_file(path(name));
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    EXPECT_EQ(big_endian_u32(png, 16), width);
    EXPECT_EQ(big_endian_u32(png, 20), height);
  }
};

TEST_F(CliRender, WritesAPngOfTheRequestedSize) {
  run_ok("synth cube c.ply --points 2000 --noise 0.01 -q");
  run_ok("render c.ply -o one.png --width 320 --height 200 -q");
  expect_png("one.png", 320, 200);
  run_ok("render c.ply c.clean.ply -o two.png --height 150 --shape cube -q");
  expect_png("two.png", 1200, 150);  // 600 per cloud by default
  run_ok("render c.ply -o tiny.png --width 17 --height 9 --no-labels -q");
  expect_png("tiny.png", 17, 9);
}

TEST_F(CliRender, ColoursByAnAttributeSomeInputHas) {
  run_ok("synth sphere s.ply --points 3000 --noise 0.02 -q");
  run_ok("denoise s.ply d.ply --extra displacement -q");
  const CliResult result =
      run_ok("render s.ply d.ply -o c.png --color-by displacement --range 0,0.02");
  EXPECT_NE(result.err.find("s.ply: no attribute 'displacement'"), std::string::npos) << result.err;
  expect_png("c.png", 1200, 600);
  EXPECT_EQ(run("render s.ply -o c2.png --color-by displacement").exit_code, 3);
  EXPECT_EQ(run("render s.ply -o c2.png --range 2,1 --color-by x").exit_code, 2);
  EXPECT_FALSE(fs::exists(path("c2.png")));
}

// 8-bit colours (PLY) and the same colours in 16 bits (LAS) look the same.
TEST_F(CliRender, ColoursByTheCloudsOwnRgb) {
  ici3d::host::PointCloud cloud;
  for (int i = 0; i < 400; ++i) cloud.xyz.insert(cloud.xyz.end(), {i % 20 * 0.1, i / 20 * 0.1, 0.0});
  for (const char* name : {"red", "green", "blue"}) cloud.add_attribute(name, ici3d::host::ScalarType::UInt8);
  for (size_t i = 0; i < 400; ++i) cloud.attributes[i % 3].set<uint8_t>(i, 255);
  ici3d::host::write_point_cloud(path("c.ply").string(), cloud);
  for (auto& channel : cloud.attributes) {
    ici3d::host::Attribute wide{channel.name, ici3d::host::ScalarType::UInt16, {}};
    wide.bytes.resize(800);
    for (size_t i = 0; i < 400; ++i) wide.set<uint16_t>(i, static_cast<uint16_t>(257 * channel.get<uint8_t>(i)));
    channel = wide;
  }
  ici3d::host::write_point_cloud(path("c.las").string(), cloud);
  run_ok("render c.ply -o a.png --color-by rgb --no-labels -q");
  run_ok("render c.las -o b.png --color-by rgb --no-labels -q");
  run_ok("render c.las -o grey.png --no-labels -q");
  EXPECT_EQ(read_file(path("a.png")), read_file(path("b.png")));
  EXPECT_NE(read_file(path("a.png")), read_file(path("grey.png")));
  run_ok("synth cube plain.ply --points 500 --no-clean -q");
  EXPECT_EQ(run("render plain.ply -o x.png --color-by rgb -q").exit_code, 3);
}

TEST_F(CliRender, DifferentCamerasGiveDifferentPictures) {
  run_ok("synth part p.ply --points 3000 --noise 0 -q --no-clean");
  run_ok("render p.ply -o a.png --width 200 --height 200 -q");
  run_ok("render p.ply -o b.png --width 200 --height 200 --azimuth 120 --elevation 60 -q");
  run_ok("render p.ply -o c.png --width 200 --height 200 -q");
  EXPECT_NE(read_file(path("a.png")), read_file(path("b.png")));
  EXPECT_EQ(read_file(path("a.png")), read_file(path("c.png")));
}

}  // namespace
}  // namespace ici3d_cli_test
