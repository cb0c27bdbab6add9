#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fixed_cloud.h"
#include "ici3d_host/denoise.h"
#include "ici3d_host/io.h"

namespace {

using namespace ici3d::host;
namespace fs = std::filesystem;

class DenoiseFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("ici3d_denoise_file_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // A roof with one extra attribute, written as PLY.
    const ici3d_test::Cloud roof = ici3d_test::fixed_roof(30, 30, 0.05f, 0.01f);
    cloud_.xyz.assign(roof.points.begin(), roof.points.end());
    Attribute& a = cloud_.add_attribute("intensity", ScalarType::Float32);
    for (size_t i = 0; i < cloud_.size(); ++i) a.set<float>(i, static_cast<float>(i));
    write_point_cloud(path("in.ply"), cloud_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
  PointCloud cloud_;
};

TEST_F(DenoiseFile, WritesWhatReadDenoiseAndWriteGive) {
  DenoiseOptions o;
  o.output_sigma = true;
  const FileReport r = denoise_file(path("in.ply"), path("out.pcd"), o);
  PointCloud expected = read_point_cloud(path("in.ply"));
  denoise(expected, o);
  const PointCloud got = read_point_cloud(path("out.pcd"));
  EXPECT_EQ(r.format, Format::Pcd);
  EXPECT_EQ(r.attributes, (std::vector<std::string>{"intensity", "noise_sigma"}));
  ASSERT_EQ(got.size(), expected.size());
  // PLY stored float coordinates, and PCD keeps them as such.
  for (size_t k = 0; k < got.xyz.size(); ++k) {
    EXPECT_EQ(static_cast<float>(got.xyz[k]), static_cast<float>(expected.xyz[k])) << k;
  }
  ASSERT_NE(got.find_attribute("noise_sigma"), nullptr);
  EXPECT_EQ(r.denoise.points, cloud_.size());
}

TEST_F(DenoiseFile, RefusesBeforeReadingOrWritingAndEveryRefusalIsAHostError) {
  write_point_cloud(path("taken.ply"), cloud_);
  // The destination is checked first: the input need not even exist.
  try {
    denoise_file(path("missing.ply"), path("taken.ply"), {});
    FAIL() << "an existing output was replaced";
  } catch (const IoError& e) {
    EXPECT_NE(std::string(e.what()).find("taken.ply"), std::string::npos) << e.what();
  }
  FileOptions replace_any;
  replace_any.write.overwrite = true;
  EXPECT_THROW(denoise_file(path("in.ply"), path("in.ply"), {}, replace_any), IoError);
  EXPECT_THROW(denoise_file(path("in.ply"), path("out.what"), {}), IoError);

  // An attribute the run would add is already there: nothing is written.
  DenoiseOptions o;
  o.output_sigma = true;
  write_point_cloud(path("with_sigma.ply"), [&] {
    PointCloud c = cloud_;
    c.add_attribute("noise_sigma", ScalarType::Float32);
    return c;
  }());
  EXPECT_THROW(denoise_file(path("with_sigma.ply"), path("out.ply"), o), DenoiseError);
  EXPECT_FALSE(fs::exists(path("out.ply")));

  o.k = 1;  // options that cannot work
  EXPECT_THROW(denoise_file(path("in.ply"), path("out.ply"), o), DenoiseError);
  // One type catches every refusal.
  for (const std::string& input : {path("missing.ply"), path("with_sigma.ply")}) {
    DenoiseOptions sigma;
    sigma.output_sigma = true;
    EXPECT_THROW(denoise_file(input, path("out.ply"), sigma), Error) << input;
  }
}

}  // namespace
