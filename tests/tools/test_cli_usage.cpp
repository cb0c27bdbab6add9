// Exit codes and messages of the tool, one class of failure at a time.

#include "cli_runner.h"
#include "ici3d_host/version.h"

namespace ici3d_cli_test {
namespace {

constexpr int kUsage = 2, kInput = 3, kOutput = 4;

class CliUsage : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    write_file(path("grid.ply"), noisy_grid_ply(12, 0.05, 1));
  }
};

TEST_F(CliUsage, VersionAndHelpSucceed) {
  const CliResult version = run_ok("--version");
  EXPECT_NE(version.out.find(ici3d::host::version_string()), std::string::npos);
  const CliResult help = run_ok("--help");
  for (const char* command : {"denoise", "info", "synth", "render", "compare", "Exit status"})
    EXPECT_NE(help.out.find(command), std::string::npos) << command;
  // Options show their defaults and units.
  const CliResult denoise_help = run_ok("denoise --help");
  EXPECT_NE(denoise_help.out.find("--k INT:INT in [3 - 1000]=32"), std::string::npos);
  EXPECT_NE(denoise_help.out.find("length unit"), std::string::npos);
  EXPECT_NE(denoise_help.out.find("in spacings"), std::string::npos);
}

TEST_F(CliUsage, BadCommandLinesAreUsageErrors) {
  for (const char* args :
       {"", "frobnicate", "denoise grid.ply", "denoise grid.ply out.ply --bogus",
        "denoise grid.ply out.ply --passes 0", "denoise grid.ply out.ply --preset x",
        "denoise grid.ply out.ply --extra sigma,bogus", "denoise grid.ply out.ply --scale-ratio 1",
        "denoise grid.ply out.ply --sigma -1", "denoise grid.ply out.unknown", "synth sphere -",
        "synth torus t.ply", "render grid.ply", "render grid.ply -o a.png --labels a,b",
        "compare grid.ply"}) {
    const CliResult result = run(args);
    EXPECT_EQ(result.exit_code, kUsage) << args << "\n" << result.err;
    EXPECT_NE(result.err.find("error"), std::string::npos) << args;
    EXPECT_TRUE(result.out.empty()) << args;
  }
  EXPECT_FALSE(fs::exists(path("out.ply")));
}

TEST_F(CliUsage, MessagesNameTheOffendingOption) {
  EXPECT_NE(run("denoise grid.ply out.ply --passes 0").err.find("--passes"), std::string::npos);
  EXPECT_NE(run("synth sphere - ").err.find("--format"), std::string::npos);
}

TEST_F(CliUsage, UnreadableInputsAreInputErrors) {
  write_file(path("bad.ply"),
             "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\n"
             "property float y\nproperty float z\nend_header\n0 0 0\n1 x 0\n");
  const CliResult missing = run("denoise nothere.ply out.ply");
  EXPECT_EQ(missing.exit_code, kInput);
  EXPECT_NE(missing.err.find("nothere.ply"), std::string::npos);
  const CliResult malformed = run("denoise bad.ply out.ply");
  EXPECT_EQ(malformed.exit_code, kInput);
  EXPECT_NE(malformed.err.find("bad.ply"), std::string::npos) << malformed.err;
  EXPECT_NE(malformed.err.find("line 9"), std::string::npos) << malformed.err;
  EXPECT_EQ(run("info bad.ply").exit_code, kInput);
  EXPECT_EQ(run("render bad.ply -o a.png").exit_code, kInput);
  EXPECT_EQ(run("compare --shape cube bad.ply").exit_code, kInput);
  EXPECT_FALSE(fs::exists(path("out.ply")));
  EXPECT_FALSE(fs::exists(path("a.png")));
}

TEST_F(CliUsage, TruncatedBinaryFileIsAnInputErrorWithAnOffset) {
  run_ok("synth cube cube.ply --points 200 --no-clean");
  const std::string bytes = read_file(path("cube.ply"));
  write_file(path("cut.ply"), bytes.substr(0, bytes.size() - 100));
  const CliResult result = run("denoise cut.ply out.ply");
  EXPECT_EQ(result.exit_code, kInput);
  EXPECT_NE(result.err.find("cut.ply"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("offset"), std::string::npos) << result.err;
  EXPECT_FALSE(fs::exists(path("out.ply")));
}

TEST_F(CliUsage, ExistingOutputsNeedForce) {
  write_file(path("out.ply"), "keep me");
  const CliResult refused = run("denoise grid.ply out.ply");
  EXPECT_EQ(refused.exit_code, kOutput);
  EXPECT_NE(refused.err.find("--force"), std::string::npos);
  EXPECT_EQ(read_file(path("out.ply")), "keep me");
  write_file(path("report.json"), "keep me");
  EXPECT_EQ(run("denoise grid.ply new.ply --report report.json").exit_code, kOutput);
  EXPECT_FALSE(fs::exists(path("new.ply")));
  run_ok("denoise grid.ply out.ply --force -q");
  EXPECT_NE(read_file(path("out.ply")), "keep me");
  EXPECT_EQ(run("denoise grid.ply missing/out.ply").exit_code, kOutput);
  EXPECT_EQ(run("synth cube grid.ply").exit_code, kOutput);
  EXPECT_EQ(run("render grid.ply -o grid.ply --force").exit_code, kOutput);
}

TEST_F(CliUsage, InputIsReplacedOnlyInPlace) {
  const std::string original = read_file(path("grid.ply"));
  for (const char* args : {"denoise grid.ply grid.ply", "denoise grid.ply grid.ply --force",
                           "denoise grid.ply ./grid.ply --force"}) {
    const CliResult result = run(args);
    EXPECT_EQ(result.exit_code, kOutput) << args;
    EXPECT_NE(result.err.find("input"), std::string::npos) << result.err;
  }
  EXPECT_EQ(read_file(path("grid.ply")), original);
  run_ok("denoise grid.ply grid.ply --in-place -q");
  EXPECT_NE(read_file(path("grid.ply")), original);
}

}  // namespace
}  // namespace ici3d_cli_test
