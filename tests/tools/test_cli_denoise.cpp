// ici3d denoise end to end: what reaches the output file, standard output,
// standard error and the report.

#include <cmath>

#include "cli_runner.h"
#include "ici3d_host/io.h"

namespace ici3d_cli_test {
namespace {

using ici3d::host::PointCloud;
using ici3d::host::ScalarType;

PointCloud read_cloud(const fs::path& file) { return ici3d::host::read_point_cloud(file.string()); }

double z_spread(const PointCloud& cloud) {
  double sum = 0;
  for (size_t i = 0; i < cloud.size(); ++i) sum += cloud.xyz[3 * i + 2] * cloud.xyz[3 * i + 2];
  return std::sqrt(sum / static_cast<double>(cloud.size()));
}

class CliDenoise : public CliTest {};

TEST_F(CliDenoise, KeepsEveryAttributeAndThePointOrder) {
  write_file(path("grid.ply"), noisy_grid_ply(30, 0.1, 7));
  run_ok("denoise grid.ply out.ply --extra sigma,displacement,normal -q");
  const PointCloud in = read_cloud(path("grid.ply"));
  const PointCloud out = read_cloud(path("out.ply"));
  ASSERT_EQ(out.size(), in.size());
  const std::vector<std::pair<std::string, ScalarType>> expected = {
      {"red", ScalarType::UInt8},
      {"intensity", ScalarType::Float32},
      {"label", ScalarType::Int32},
      {"noise_sigma", ScalarType::Float32},
      {"displacement", ScalarType::Float32},
      {"nx", ScalarType::Float32},
      {"ny", ScalarType::Float32},
      {"nz", ScalarType::Float32}};
  ASSERT_EQ(out.attributes.size(), expected.size());
  for (size_t a = 0; a < expected.size(); ++a) {
    EXPECT_EQ(out.attributes[a].name, expected[a].first);
    EXPECT_EQ(out.attributes[a].type, expected[a].second) << expected[a].first;
  }
  for (size_t a = 0; a < in.attributes.size(); ++a)
    EXPECT_EQ(out.attributes[a].bytes, in.attributes[a].bytes) << in.attributes[a].name;
  // Same points in the same order: each moved by its displacement, along z
  // mostly, and the plane came out flatter.
  const auto* displacement = out.find_attribute("displacement");
  for (size_t i = 0; i < in.size(); ++i) {
    double d2 = 0;
    for (int c = 0; c < 3; ++c) d2 += std::pow(out.xyz[3 * i + c] - in.xyz[3 * i + c], 2);
    ASSERT_NEAR(std::sqrt(d2), displacement->as_double(i), 1e-5) << i;
    ASSERT_LT(std::sqrt(d2), 0.2) << i;
  }
  EXPECT_LT(z_spread(out), 0.7 * z_spread(in));
  EXPECT_EQ(out.layout.comments, in.layout.comments);
}

TEST_F(CliDenoise, StandardOutputCarriesOnlyThePointData) {
  run_ok("synth sphere s.ply --points 6000 --noise 0.01 --no-clean -q");
  const CliResult result = run_ok("denoise s.ply - --format ply");
  EXPECT_EQ(result.out.find("processed"), std::string::npos);
  EXPECT_EQ(result.out.find("% of points"), std::string::npos);
  write_file(path("piped.ply"), result.out);
  EXPECT_EQ(read_cloud(path("piped.ply")).size(), 6000u);
  // Progress went to standard error as plain lines (it is not a terminal).
  EXPECT_NE(result.err.find("denoising: 100%"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("noise sigma"), std::string::npos) << result.err;

  const CliResult text = run_ok("denoise s.ply - --format xyz -q");
  EXPECT_TRUE(text.err.empty()) << text.err;
  write_file(path("piped.xyz"), text.out);
  EXPECT_EQ(read_cloud(path("piped.xyz")).size(), 6000u);
}

TEST_F(CliDenoise, StandardOutputTakesTheInputsFormatUnlessTold) {
  run_ok("synth sphere s.pcd --points 2000 --noise 0.01 --no-clean -q");
  const CliResult pcd = run_ok("denoise s.pcd - -q");
  EXPECT_EQ(pcd.out.rfind("# .PCD", 0), 0u) << pcd.out.substr(0, 40);
  write_file(path("piped.pcd"), pcd.out);
  EXPECT_EQ(read_cloud(path("piped.pcd")).size(), 2000u);
  // Standard input to standard output: the format read is the format written.
  const CliResult through = run_ok("denoise - - -q", "s.pcd");
  EXPECT_EQ(through.out.rfind("# .PCD", 0), 0u);
  const CliResult told = run_ok("denoise s.pcd - -q --format xyz");
  write_file(path("piped.xyz"), told.out);
  EXPECT_EQ(read_cloud(path("piped.xyz")).size(), 2000u);
  EXPECT_EQ(told.out.find("PCD"), std::string::npos);
}

TEST_F(CliDenoise, ProgressIsOneBarOnATerminal) {
  run_ok("synth sphere s.ply --points 10000 --noise 0.01 --no-clean -q");
  const CliResult shown = run_in_terminal("denoise s.ply out.ply");
  if (shown.exit_code == -1) GTEST_SKIP() << "script(1) is not installed";
  ASSERT_EQ(shown.exit_code, 0) << shown.out;
  // Redrawn in place on one line: an update every 1000 of the 10000 points,
  // the last one 100 %.
  EXPECT_NE(shown.out.find("\rdenoising [################................]  50.0%\r"),
            std::string::npos)
      << shown.out;
  EXPECT_NE(shown.out.find("  90.0%\rdenoising [################################] 100.0%"),
            std::string::npos)
      << shown.out;
  EXPECT_EQ(shown.out.find("denoising:"), std::string::npos);
  const CliResult quiet = run_in_terminal("denoise s.ply out2.ply -q");
  EXPECT_EQ(quiet.exit_code, 0);
  EXPECT_TRUE(quiet.out.empty()) << quiet.out;
}

TEST_F(CliDenoise, ReadsStandardInput) {
  write_file(path("grid.ply"), noisy_grid_ply(10, 0.1, 3));
  run_ok("denoise - out.xyz -q", "grid.ply");
  EXPECT_EQ(read_cloud(path("out.xyz")).size(), 100u);
}

TEST_F(CliDenoise, ReportHoldsTheEffectiveParameters) {
  write_file(path("grid.ply"), noisy_grid_ply(20, 0.1, 5));
  run_ok(
      "denoise grid.ply out.ply --sigma 0.05 --k 12 --preset smooth --passes 2 "
      "--scales 2 --base-size 2 --threads 1 --report r.json -q");
  const nlohmann::json report = nlohmann::json::parse(read_file(path("r.json")));
  const nlohmann::json& p = report.at("parameters");
  EXPECT_EQ(p.at("sigma"), 0.05);
  EXPECT_EQ(p.at("sigma_estimated"), false);
  EXPECT_EQ(p.at("spacing_estimated"), true);
  // About the grid step: counts on a small lattice are coarse.
  EXPECT_NEAR(p.at("spacing").get<double>(), 1.0, 0.1);
  EXPECT_EQ(p.at("k"), 12);
  EXPECT_EQ(p.at("preset"), "smooth");
  EXPECT_EQ(p.at("num_scales"), 2);
  EXPECT_EQ(p.at("base_size"), 2);
  EXPECT_EQ(p.at("threads"), 1);
  // The noise is below the spacing: windows in spacings, the smallest one
  // library_base / sqrt(size_norm) = 2 spacings with 1 / sqrt(size_norm)
  // near 6 sigma = 0.3 (library_base = round(2 spacings / 0.3) = 7), the
  // largest window 2 * 2^2 spacings.
  const double spacing = p.at("spacing").get<double>();
  EXPECT_EQ(p.at("library_base"), 7);
  EXPECT_DOUBLE_EQ(p.at("size_norm").get<double>() * std::pow(2 * spacing / 7, 2), 1.0);
  EXPECT_DOUBLE_EQ(p.at("preselect_size").get<double>(), 8 * p.at("spacing").get<double>());
  EXPECT_EQ(report.at("counts").at("points"), 400);
  EXPECT_EQ(report.at("counts").at("non_finite"), 0);
  EXPECT_EQ(report.at("attributes"), nlohmann::json::array({"red", "intensity", "label"}));
  for (const char* key : {"read_seconds", "estimate_seconds", "denoise_seconds", "write_seconds"})
    EXPECT_GE(report.at("timings").at(key).get<double>(), 0.0) << key;
  // One entry per pass, each with its timings.
  ASSERT_EQ(report.at("passes").size(), 2u);
  for (const nlohmann::json& pass : report.at("passes"))
    EXPECT_GE(pass.at("library_seconds").get<double>(), 0.0);
}

// Tiles change nothing in the output file; the report says how the run was cut.
TEST_F(CliDenoise, TilesGiveTheSameFileAndAreReported) {
  write_file(path("grid.ply"), noisy_grid_ply(40, 0.1, 5));
  run_ok("denoise grid.ply whole.ply --sigma 0.05 --scales 1 --report whole.json -q");
  run_ok("denoise grid.ply tiled.ply --sigma 0.05 --scales 1 --tile-size 5 --memory-limit 1GiB "
         "--report tiled.json -q");
  EXPECT_EQ(read_file(path("whole.ply")), read_file(path("tiled.ply")));
  const nlohmann::json whole = nlohmann::json::parse(read_file(path("whole.json"))).at("tiles");
  const nlohmann::json tiled = nlohmann::json::parse(read_file(path("tiled.json"))).at("tiles");
  EXPECT_EQ(whole.at("tiles"), 1);
  EXPECT_GT(tiled.at("tiles").get<int>(), 4);
  EXPECT_GT(tiled.at("halo_width").get<double>(), 0.0);
  EXPECT_GT(tiled.at("halo_overhead").get<double>(), 0.0);
  EXPECT_EQ(tiled.at("memory_limit"), int64_t{1} << 30);
  EXPECT_GT(tiled.at("peak_memory").get<int64_t>(), 0);
  for (const char* bad : {"--memory-limit 2XB", "--memory-limit -1G", "--tile-size -1"}) {
    const CliResult r = run("denoise grid.ply bad.ply " + std::string(bad));
    EXPECT_EQ(r.exit_code, 2) << bad << "\n" << r.err;
  }
  const CliResult tiny = run("denoise grid.ply bad.ply --sigma 0.05 --memory-limit 1K");
  EXPECT_NE(tiny.exit_code, 0);
  EXPECT_NE(tiny.err.find("memory limit"), std::string::npos) << tiny.err;
  EXPECT_FALSE(std::filesystem::exists(path("bad.ply")));
}

// Clouds that cannot be denoised are written back unchanged, without a crash.
TEST_F(CliDenoise, DegenerateCloudsPassThrough) {
  const std::string header = "ply\nformat ascii 1.0\nelement vertex ";
  const std::string props = "\nproperty float x\nproperty float y\nproperty float z\nend_header\n";
  write_file(path("empty.ply"), header + "0" + props);
  write_file(path("one.ply"), header + "1" + props + "1 2 3\n");
  std::string same = header + "40" + props;
  for (int i = 0; i < 40; ++i) same += "0.5 0.5 0.5\n";
  write_file(path("same.ply"), same);
  for (const char* name : {"empty.ply", "one.ply", "same.ply"}) {
    const CliResult result = run("denoise " + std::string(name) + " out_" + name +
                                 " --extra sigma,displacement,normal --report r.json --force");
    ASSERT_EQ(result.exit_code, 0) << name << "\n" << result.err;
    const PointCloud in = read_cloud(path(name)),
                     out = read_cloud(path(std::string("out_") + name));
    EXPECT_EQ(out.xyz, in.xyz) << name;
    EXPECT_EQ(run("info " + std::string(name)).exit_code, 0) << name;
    EXPECT_EQ(run("render " + std::string(name) + " -o p.png --force").exit_code, 0) << name;
  }
}

TEST_F(CliDenoise, NonFiniteCoordinatesStayPut) {
  std::string text;
  for (int i = 0; i < 400; ++i)
    text += std::to_string(i % 20) + " " + std::to_string(i / 20) + " " +
            (i == 17 ? std::string("nan") : std::to_string(0.05 * ((i * 37) % 7 - 3))) + "\n";
  write_file(path("holes.xyz"), text);
  const CliResult result = run_ok("denoise holes.xyz out.xyz --report r.json");
  EXPECT_NE(result.err.find("non-finite"), std::string::npos) << result.err;
  const PointCloud out = read_cloud(path("out.xyz"));
  ASSERT_EQ(out.size(), 400u);
  EXPECT_TRUE(std::isnan(out.xyz[3 * 17 + 2]));
  EXPECT_EQ(out.xyz[3 * 17], 17.0);
  EXPECT_EQ(nlohmann::json::parse(read_file(path("r.json"))).at("counts").at("non_finite"), 1);
  const CliResult info = run_ok("info holes.xyz --json");
  EXPECT_EQ(json_find(info.out, "non_finite"), std::vector<nlohmann::json>{1});
}

TEST_F(CliDenoise, ExtraAttributesMustNotExistYet) {
  write_file(path("grid.ply"), noisy_grid_ply(10, 0.1, 3));
  run_ok("denoise grid.ply once.ply --extra displacement -q");
  const CliResult again = run("denoise once.ply twice.ply --extra displacement");
  EXPECT_EQ(again.exit_code, 3);
  EXPECT_NE(again.err.find("displacement"), std::string::npos);
  run_ok("denoise once.ply twice.ply -q");  // without --extra the attribute is simply kept
  EXPECT_NE(read_cloud(path("twice.ply")).find_attribute("displacement"), nullptr);
}

}  // namespace
}  // namespace ici3d_cli_test
