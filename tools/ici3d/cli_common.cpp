#include "cli_common.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace ici3d::cli {

namespace fs = std::filesystem;

void Console::print_line(const std::string& line) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", line.c_str());
}

host::Format format_from_name(const std::string& name) {
  if (name.empty()) return host::Format::Auto;
  if (name == "ply") return host::Format::Ply;
  if (name == "xyz") return host::Format::Xyz;
  if (name == "pcd") return host::Format::Pcd;
  if (name == "las") return host::Format::Las;
  throw UsageError("unknown format '" + name + "' (expected ply, xyz, pcd or las)");
}

const char* format_label(host::Format format) {
  switch (format) {
    case host::Format::Ply: return "PLY";
    case host::Format::Xyz: return "text";
    case host::Format::Pcd: return "PCD";
    case host::Format::Las: return "LAS";
    default: return "none";
  }
}

const char* encoding_label(host::Encoding encoding) {
  switch (encoding) {
    case host::Encoding::Ascii: return "ascii";
    case host::Encoding::BinaryLittleEndian: return "binary";
    case host::Encoding::BinaryBigEndian: return "binary_big_endian";
    default: return "binary_compressed";
  }
}

host::Encoding encoding_from_name(const std::string& name) {
  if (name == "ascii") return host::Encoding::Ascii;
  if (name == "binary") return host::Encoding::BinaryLittleEndian;
  if (name == "binary_big_endian") return host::Encoding::BinaryBigEndian;
  if (name == "binary_compressed") return host::Encoding::BinaryCompressed;
  throw UsageError("unknown encoding '" + name + "'");
}

host::Format output_format(const std::string& path, const std::string& format_option,
                           std::string_view option_name) {
  const host::Format chosen = format_from_name(format_option);
  if (chosen != host::Format::Auto) return chosen;
  if (path == "-")
    throw UsageError(
        fmt::format("{}: writing to standard output needs --format ply|xyz|pcd|las", option_name));
  const host::Format by_extension = host::format_from_extension(path);
  if (by_extension == host::Format::Auto)
    throw UsageError(fmt::format(
        "{}: cannot tell the format of '{}' from its extension (use .ply, .pcd, .las, .xyz, "
        ".txt, .csv or .pts, or --format)",
        option_name, path));
  return by_extension;
}

host::PointCloud load_cloud(const std::string& path) {
  try {
    return host::read_point_cloud(path);
  } catch (const host::IoError& e) {
    throw InputError(e.what());
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    throw InputError(path + ": " + e.what());
  }
}

bool same_file(const std::string& a, const std::string& b) {
  std::error_code error;
  return fs::exists(a, error) && fs::exists(b, error) && fs::equivalent(a, b, error);
}

void check_output_path(const std::string& path, bool force, std::string_view option_name,
                       const std::vector<std::string>& inputs) {
  if (path == "-") return;
  if (path.empty()) throw UsageError(fmt::format("{}: empty file name", option_name));
  for (const std::string& input : inputs) {
    if (input != "-" && same_file(path, input))
      throw OutputError(
          fmt::format("{}: '{}' is also an input; refusing to replace it", option_name, path));
  }
  std::error_code error;
  if (fs::is_directory(path, error))
    throw OutputError(fmt::format("{}: '{}' is a directory", option_name, path));
  if (fs::exists(path, error) && !force)
    throw OutputError(fmt::format("{}: '{}' exists; use --force to replace it", option_name, path));
  const fs::path folder = fs::path(path).parent_path();
  if (!folder.empty() && !fs::is_directory(folder, error))
    throw OutputError(fmt::format("{}: folder '{}' does not exist", option_name, folder.string()));
}

static void write_to_stdout(const std::string& bytes) {
  std::fflush(stdout);
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() ||
      std::fflush(stdout) != 0)
    throw OutputError(std::string("<stdout>: write failed: ") + std::strerror(errno));
}

void save_cloud(const std::string& path, const host::PointCloud& cloud,
                const host::WriteOptions& options) {
  try {
    if (path == "-") {
      // Encode everything first: a failure then leaves standard output empty.
      std::ostringstream encoded;
      host::write_point_cloud(encoded, "<stdout>", cloud, options);
      write_to_stdout(encoded.str());
      return;
    }
    host::write_point_cloud(path, cloud, options);
  } catch (const host::IoError& e) {
    throw OutputError(e.what());
  }
}

void save_text(const std::string& path, const std::string& text) {
  if (path == "-") {
    write_to_stdout(text);
    return;
  }
  const fs::path target(path);
  std::string temporary =
      (target.parent_path() / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0)
    throw OutputError(path + ": cannot create a temporary file beside it: " + std::strerror(errno));
  ::close(fd);
  bool written = false;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    written = static_cast<bool>(out);
  }
  std::error_code error;
  fs::permissions(temporary,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                      fs::perms::others_read,
                  error);
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    std::remove(temporary.c_str());
    throw OutputError(path + ": write failed: " + reason);
  }
}

std::string count_of(size_t n, std::string_view noun) {
  return fmt::format("{} {}{}", n, noun, n == 1 ? "" : "s");
}

std::string format_length(double value) {
  if (!std::isfinite(value)) return "n/a";
  return fmt::format("{:.4g}", value);
}

}  // namespace ici3d::cli
