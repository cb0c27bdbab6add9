// Runs the ici3d binary in a scratch folder and collects what it printed.
#pragma once

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace ici3d_cli_test {

namespace fs = std::filesystem;

struct CliResult {
  int exit_code = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_file(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Every value of the member `key`, at any depth, in document order.
inline void json_find(const nlohmann::json& j, const std::string& key,
                      std::vector<nlohmann::json>& out) {
  if (j.is_object()) {
    for (const auto& [name, value] : j.items()) {
      if (name == key) out.push_back(value);
      json_find(value, key, out);
    }
  } else if (j.is_array()) {
    for (const auto& value : j) json_find(value, key, out);
  }
}
inline std::vector<nlohmann::json> json_find(const std::string& text, const std::string& key) {
  std::vector<nlohmann::json> out;
  json_find(nlohmann::json::parse(text), key, out);
  return out;
}

// Each test gets a fresh folder, the working directory of every run.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "ici3d_cli_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  fs::path path(const std::string& name) const { return dir_ / name; }

  // `args` is a shell fragment; standard input is `input` in the scratch
  // folder, else /dev/null.
  CliResult run(const std::string& args, const std::string& input = "") const {
    const fs::path out = dir_ / ".stdout", err = dir_ / ".stderr";
    const std::string in = input.empty() ? "/dev/null" : (dir_ / input).string();
    const std::string command = "cd '" + dir_.string() + "' && '" ICI3D_CLI_PATH "' " + args +
                                " <'" + in + "' >'" + out.string() + "' 2>'" + err.string() + "'";
    const int status = std::system(command.c_str());
    CliResult result;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = read_file(out);
    result.err = read_file(err);
    fs::remove(out);
    fs::remove(err);
    return result;
  }

  // Runs with standard error (and input and output) on a pseudo-terminal,
  // through script(1); what the terminal showed comes back in `out`. The
  // exit code is -1 when script(1) is missing.
  CliResult run_in_terminal(const std::string& args) const {
    CliResult result;
    if (std::system("command -v script >/dev/null 2>&1") != 0) return result;
    const fs::path shown = dir_ / ".terminal";
    const std::string command = "cd '" + dir_.string() +
                                "' && script -qec \"'" ICI3D_CLI_PATH "' " + args +
                                "\" /dev/null </dev/null >'" + shown.string() + "'";
    const int status = std::system(command.c_str());
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = read_file(shown);
    fs::remove(shown);
    return result;
  }

  // Runs and expects success; on failure shows what the tool said.
  CliResult run_ok(const std::string& args, const std::string& input = "") const {
    CliResult result = run(args, input);
    EXPECT_EQ(result.exit_code, 0) << args << "\n" << result.err;
    return result;
  }

  fs::path dir_;
};

// An ascii PLY of a noisy plane grid (side x side points, spacing 1, noise
// `noise` in z, seeded) with three attributes: red (uchar), intensity
// (float) and label (int, the point's index).
inline std::string noisy_grid_ply(int side, double noise, uint32_t seed) {
  std::ostringstream ply;
  ply << "ply\nformat ascii 1.0\ncomment a test grid\nelement vertex " << side * side
      << "\nproperty float x\nproperty float y\nproperty float z\nproperty uchar red\n"
         "property float intensity\nproperty int label\nend_header\n";
  uint32_t state = seed;
  auto next_uniform = [&state] {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) / 16777216.0;
  };
  for (int i = 0; i < side * side; ++i) {
    const double z = noise > 0 ? noise * (2 * next_uniform() - 1) : 0.0;
    ply << (i % side) << ' ' << (i / side) << ' ' << z << ' ' << (i * 7) % 256 << ' ' << 0.25 * i
        << ' ' << i << '\n';
  }
  return ply.str();
}

}  // namespace ici3d_cli_test
