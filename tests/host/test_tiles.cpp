// Tiled passes against whole-cloud passes: every point's result must be
// bit-identical, whatever the tile size, thread count or number of passes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "fixed_cloud.h"
#include "ici3d_host/denoise.h"

namespace ici3d::host {
namespace {

// A height field with a crease along x = 0, a hole, four times the density on
// one side, duplicated points, outliers far above the surface (their frame
// neighbours lie beyond any halo) and a small cluster far away (empty tiles
// in between).
std::vector<double> awkward_cloud(uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  auto noise = [&] { return 0.02 * (u(rng) + u(rng) + u(rng)); };
  std::vector<double> xyz;
  auto add = [&](double x, double y, double z) { xyz.insert(xyz.end(), {x, y, z}); };
  for (int i = 0; i < 6000; ++i) {
    double x = 4 * u(rng), y = 4 * u(rng);
    if (x > 0 && u(rng) < 0.5) continue;  // the side x > 0 is sparser
    if ((x - 1.5) * (x - 1.5) + (y - 1.5) * (y - 1.5) < 0.6) continue;  // the hole
    add(x + noise(), y + noise(), 0.4 * std::abs(x) + 0.1 * std::sin(2 * y) + noise());
  }
  for (int i = 0; i < 40; ++i) add(xyz[30 * i], xyz[30 * i + 1], xyz[30 * i + 2]);  // duplicates
  for (int i = 0; i < 12; ++i) add(4 * u(rng), 4 * u(rng), 2.5 + u(rng));           // outliers
  for (int i = 0; i < 300; ++i) add(30 + 0.5 * u(rng), 30 + 0.5 * u(rng), noise());  // far cluster
  return xyz;
}

struct Result {
  std::vector<double> xyz;
  std::vector<float> sigma, normals;
  DenoiseReport report;
};

Result run(std::vector<double> xyz, DenoiseOptions o) {
  Result r;
  r.report = denoise_positions(xyz, o, &r.sigma, &r.normals);
  r.xyz = std::move(xyz);
  return r;
}

DenoiseOptions small_windows() {
  DenoiseOptions o;
  o.sigma = 0.02;
  o.spacing = 0.07;
  o.num_scales = 1;  // list radius about 0.5: many tiles over the cloud
  o.list_cap = 96;
  return o;
}

void expect_identical(const Result& whole, const Result& tiled, const std::string& what) {
  ASSERT_EQ(whole.xyz.size(), tiled.xyz.size());
  size_t differ = 0;
  for (size_t i = 0; i < whole.xyz.size(); ++i) {
    differ += std::memcmp(&whole.xyz[i], &tiled.xyz[i], sizeof(double)) != 0;
  }
  EXPECT_EQ(differ, 0u) << what << ": coordinates differ";
  EXPECT_EQ(0, std::memcmp(whole.sigma.data(), tiled.sigma.data(), whole.sigma.size() * 4))
      << what << ": noise levels differ";
  size_t normals_differ = 0;
  for (size_t i = 0; i < whole.normals.size(); ++i) {
    const bool both_nan = std::isnan(whole.normals[i]) && std::isnan(tiled.normals[i]);
    normals_differ += !both_nan && whole.normals[i] != tiled.normals[i];
  }
  EXPECT_EQ(normals_differ, 0u) << what << ": normals differ";
  EXPECT_EQ(whole.report.degenerate, tiled.report.degenerate) << what;
}

TEST(TiledPass, BitIdenticalToTheWholeCloudForAnyTileSizeThreadsAndPasses) {
  const std::vector<double> cloud = awkward_cloud(7);
  for (int passes : {1, 3}) {
    DenoiseOptions o = small_windows();
    o.passes = passes;
    o.threads = 2;
    const Result whole = run(cloud, o);
    ASSERT_EQ(whole.report.tiles, 1u);
    for (double tile : {0.4, 1.1, 2.5}) {
      for (int threads : {1, 2}) {
        // Keep the test short: every tile size once, each thread count twice.
        if (passes == 1 ? tile == 1.1 : (tile != 1.1 || threads != 2)) continue;
        o.tile_size = tile;
        o.threads = threads;
        const Result tiled = run(cloud, o);
        const std::string what = "passes " + std::to_string(passes) + ", tile " +
                                 std::to_string(tile) + ", threads " + std::to_string(threads);
        EXPECT_GT(tiled.report.tiles, 4u) << what;
        EXPECT_GT(tiled.report.halo_overhead, 0.0) << what;
        expect_identical(whole, tiled, what);
      }
    }
  }
}

TEST(TiledPass, CloudsInFileOrderOrShuffledGiveTheSamePointsBack) {
  // The points reach the library along a space-filling curve, so a shuffled
  // file gives each point the same result.
  std::vector<double> cloud = awkward_cloud(11);
  const size_t n = cloud.size() / 3;
  std::vector<size_t> perm(n);
  for (size_t i = 0; i < n; ++i) perm[i] = i;
  std::shuffle(perm.begin(), perm.end(), std::mt19937(3));
  std::vector<double> shuffled(cloud.size());
  for (size_t i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) shuffled[3 * i + c] = cloud[3 * perm[i] + c];
  }
  DenoiseOptions o = small_windows();
  const Result a = run(cloud, o);
  o.tile_size = 1.1;
  const Result b = run(shuffled, o);
  size_t differ = 0;
  for (size_t i = 0; i < n; ++i) {
    for (int c = 0; c < 3; ++c) differ += a.xyz[3 * perm[i] + c] != b.xyz[3 * i + c];
  }
  // Exact duplicates may trade places; everything else must match.
  EXPECT_LE(differ, 3 * 40u);
}

TEST(TiledPass, MemoryLimitDecidesTilesAndTooSmallALimitNamesOneThatWorks) {
  const std::vector<double> cloud = awkward_cloud(5);
  DenoiseOptions o = small_windows();
  const Result whole = run(cloud, o);
  o.memory_limit = 2 << 20;  // too little for the whole cloud at once
  const Result tiled = run(cloud, o);
  EXPECT_GT(tiled.report.tiles, 1u);
  EXPECT_EQ(tiled.report.memory_limit, int64_t{2} << 20);
  expect_identical(whole, tiled, "memory limit");

  // Too small a limit names one that works, and that one does.
  for (int64_t tiny : {int64_t{1024}}) {
    o.memory_limit = tiny;
    std::string suggested;
    try {
      run(cloud, o);
      ADD_FAILURE() << "a limit of " << tiny << " bytes cannot work";
    } catch (const DenoiseError& e) {
      const std::string what = e.what();
      const std::string lead = "the smallest limit that works is ";
      ASSERT_NE(what.find(lead), std::string::npos) << what;
      suggested = what.substr(what.find(lead) + lead.size());
    }
    o.memory_limit = parse_memory_size(suggested);
    expect_identical(whole, run(cloud, o), "the suggested limit " + suggested);
  }
  o.memory_limit = -1;
  EXPECT_THROW(run(cloud, o), DenoiseError);
  o.memory_limit = 0;
  o.tile_size = std::nan("");
  EXPECT_THROW(run(cloud, o), DenoiseError);
}

TEST(TiledPass, ProgressRisesToOneOverAllTiles) {
  DenoiseOptions o = small_windows();
  o.tile_size = 1.1;
  o.passes = 2;
  std::vector<double> overall;
  o.progress = [&](const Progress& p) { overall.push_back(p.overall); };
  run(awkward_cloud(3), o);
  ASSERT_FALSE(overall.empty());
  for (size_t i = 1; i < overall.size(); ++i) EXPECT_GE(overall[i], overall[i - 1]);
  EXPECT_DOUBLE_EQ(overall.back(), 1.0);
}

// The pipeline's output on a cloud whose every bit is fixed, in one piece and
// in tiles, with 1 and 2 threads, against a stored hash: work on speed or
// memory must leave every output bit as it is.
TEST(TiledPass, FixedCloudKeepsItsStoredHash) {
  const ici3d_test::Cloud roof = ici3d_test::fixed_roof(70, 60, 0.05f, 0.01f);
  const std::vector<double> xyz(roof.points.begin(), roof.points.end());
  DenoiseOptions o;
  o.sigma = 0.006;
  o.spacing = 0.05;
  o.passes = 2;
  o.list_cap = 256;  // the hash was stored with this cap
  for (double tile : {0.0, 0.6}) {
    for (int threads : {1, 2}) {
      o.tile_size = tile;
      o.threads = threads;
      const Result r = run(xyz, o);
      uint64_t h = 0xcbf29ce484222325ULL;
      auto mix = [&](const void* data, size_t bytes) {
        for (size_t b = 0; b < bytes; ++b) {
          h ^= static_cast<const unsigned char*>(data)[b];
          h *= 0x100000001b3ULL;
        }
      };
      mix(r.xyz.data(), r.xyz.size() * sizeof(double));
      mix(r.sigma.data(), r.sigma.size() * sizeof(float));
      EXPECT_EQ(h, 0x1683a46827dcf400ULL) << "tile " << tile << ", threads " << threads;
      if (tile > 0) {
        EXPECT_GT(r.report.tiles, 1u);
      }
    }
  }
}

TEST(MemorySize, UnitsAndBadTexts) {
  EXPECT_EQ(parse_memory_size("2GiB"), int64_t{2} << 30);
  EXPECT_EQ(parse_memory_size("2gib"), int64_t{2} << 30);
  EXPECT_EQ(parse_memory_size("512M"), int64_t{512} << 20);
  EXPECT_EQ(parse_memory_size("1.5 G"), int64_t{3} << 29);
  EXPECT_EQ(parse_memory_size("300MB"), 300000000);
  EXPECT_EQ(parse_memory_size("4096"), 4096);
  EXPECT_EQ(parse_memory_size("1TB"), 1000000000000);
  for (const char* bad : {"", "G", "2 GiBs", "-1G", "1e30", "nan", "2XB"}) {
    EXPECT_THROW(parse_memory_size(bad), DenoiseError) << bad;
  }
  EXPECT_EQ(format_memory_size(1536.0 * (1 << 20)), "1.5 GiB");
  EXPECT_EQ(format_memory_size(100), "100 B");
}

}  // namespace
}  // namespace ici3d::host
