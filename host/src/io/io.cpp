// Public entry points: picking the format, opening files, atomic writes.

#include "ici3d_host/io.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "formats.h"

namespace ici3d::host {

namespace fs = std::filesystem;
using io_detail::InputSource;

namespace {

std::string lower_extension(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  return extension;
}

// Format of a stream from its first line.
Format sniff_format(InputSource& source) {
  if (source.peek_bytes(4) == "LASF") return Format::Las;
  const std::string* first = source.peek_line();
  if (!first) return Format::Xyz;
  if (*first == "ply") return Format::Ply;
  const bool pcd = (first->rfind("#", 0) == 0 && first->find(".PCD") != std::string::npos) ||
                   first->rfind("VERSION", 0) == 0 || first->rfind("FIELDS", 0) == 0;
  return pcd ? Format::Pcd : Format::Xyz;
}

PointCloud read_source(InputSource& source, Format format) {
  if (format == Format::Auto) format = sniff_format(source);
  switch (format) {
    case Format::Ply: return io_detail::read_ply(source);
    case Format::Pcd: return io_detail::read_pcd(source);
    case Format::Las: return io_detail::read_las(source);
    default: return io_detail::read_text(source);
  }
}

bool is_seekable(std::istream& in) {
  const bool seekable = in.tellg() != std::streampos(-1);
  in.clear();
  return seekable;
}

const char* format_name(Format format) {
  switch (format) {
    case Format::Ply: return "PLY";
    case Format::Pcd: return "PCD";
    case Format::Xyz: return "text";
    case Format::Las: return "LAS";
    default: return "unknown";
  }
}

const char* encoding_name(Encoding encoding) {
  switch (encoding) {
    case Encoding::Ascii: return "ascii";
    case Encoding::BinaryLittleEndian: return "binary little endian";
    case Encoding::BinaryBigEndian: return "binary big endian";
    default: return "binary compressed";
  }
}

bool encoding_allowed(Format format, Encoding encoding) {
  switch (format) {
    case Format::Ply: return encoding != Encoding::BinaryCompressed;
    case Format::Pcd: return encoding != Encoding::BinaryBigEndian;
    case Format::Las: return encoding == Encoding::BinaryLittleEndian;
    default: return encoding == Encoding::Ascii;
  }
}

// The requested encoding, else the source's when the format is the same,
// else binary little endian (ascii for text).
Encoding choose_encoding(Format format, const WriteOptions& options, const FileLayout& layout,
                         const std::string& name) {
  Encoding encoding = format == Format::Xyz ? Encoding::Ascii : Encoding::BinaryLittleEndian;
  if (options.encoding) encoding = *options.encoding;
  else if (layout.format == format) encoding = layout.encoding;
  if (!encoding_allowed(format, encoding))
    throw IoError(name + ": " + format_name(format) + " files cannot be written " + encoding_name(encoding));
  return encoding;
}

void write_stream(std::ostream& out, const std::string& name, const PointCloud& cloud, Format format,
                  const WriteOptions& options, char delimiter) {
  const Encoding encoding = choose_encoding(format, options, cloud.layout, name);
  switch (format) {
    case Format::Ply: io_detail::write_ply(out, name, cloud, encoding); break;
    case Format::Pcd: io_detail::write_pcd(out, name, cloud, encoding); break;
    case Format::Las: io_detail::write_las(out, name, cloud); break;
    default: io_detail::write_text(out, name, cloud, delimiter);
  }
}

Format format_for_path(const std::string& path, Format requested) {
  if (requested != Format::Auto) return requested;
  const Format format = format_from_extension(path);
  if (format == Format::Auto)
    throw IoError(path + ": cannot tell the format from the extension '" + lower_extension(path) +
                  "'; expected .ply, .pcd, .las, .xyz, .txt, .csv or .pts, or name the format");
  if (format == Format::Las && lower_extension(path) == ".laz")
    throw IoError(path + ": LAZ (compressed LAS) cannot be written; use .las");
  return format;
}

// A new, empty file beside `path`, created exclusively.
std::string create_temporary_beside(const std::string& path) {
  const fs::path target(path);
  std::string pattern = (target.parent_path() / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw IoError(path + ": cannot create a temporary file beside it: " + std::strerror(errno));
  ::close(fd);
  return pattern;
}

void sync_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

void give_final_permissions(const std::string& temporary, const std::string& path) {
  std::error_code error;
  const auto existing = fs::status(path, error);
  const fs::perms perms = fs::exists(existing)
                              ? existing.permissions()
                              : fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                    fs::perms::others_read;
  fs::permissions(temporary, perms, error);
}

void write_file_atomically(const std::string& path, const PointCloud& cloud, Format format,
                           const WriteOptions& options) {
  const std::string temporary = create_temporary_beside(path);
  try {
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      if (!out) throw IoError(path + ": cannot open " + temporary + " for writing");
      write_stream(out, path, cloud, format, options, lower_extension(path) == ".csv" ? ',' : ' ');
      out.close();
      if (!out) throw IoError(path + ": write failed");
    }
    sync_file(temporary);
    give_final_permissions(temporary, path);
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
      throw IoError(path + ": cannot replace it: " + std::strerror(errno));
  } catch (...) {
    std::remove(temporary.c_str());
    throw;
  }
}

}  // namespace

void check_destination(const std::string& path, const std::string& source_path,
                       const WriteOptions& options) {
  std::error_code error;
  if (path == "-" || !fs::exists(path, error)) return;
  const bool is_source = !source_path.empty() && fs::equivalent(path, source_path, error);
  if (is_source && !options.overwrite_source)
    throw IoError(path + ": is the file the cloud was read from; refusing to replace it (set overwrite_source)");
  if (!is_source && !options.overwrite)
    throw IoError(path + ": file exists; refusing to replace it (set overwrite)");
}

Format format_from_extension(const std::string& path) {
  const std::string extension = lower_extension(path);
  if (extension == ".ply") return Format::Ply;
  if (extension == ".pcd") return Format::Pcd;
  // .laz is recognised so that reading one says why it is refused.
  if (extension == ".las" || extension == ".laz") return Format::Las;
  if (extension == ".xyz" || extension == ".txt" || extension == ".csv" || extension == ".pts") return Format::Xyz;
  return Format::Auto;
}

PointCloud read_point_cloud(std::istream& in, const std::string& name, const ReadOptions& options) {
  if (!is_seekable(in)) {
    // Header counts are checked against the size of the input, so a pipe is
    // read into memory first.
    std::stringstream buffered;
    buffered << in.rdbuf();
    InputSource source(buffered, name);
    return read_source(source, options.format);
  }
  InputSource source(in, name);
  return read_source(source, options.format);
}

PointCloud read_point_cloud(const std::string& path, const ReadOptions& options) {
  if (path == "-") return read_point_cloud(std::cin, "<stdin>", options);
  std::error_code error;
  if (fs::is_directory(path, error)) throw IoError(path + ": is a directory, not a point cloud file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw IoError(path + ": cannot open: " + std::strerror(errno));
  const Format format = options.format != Format::Auto ? options.format : format_from_extension(path);
  InputSource source(in, path);
  PointCloud cloud = read_source(source, format);
  cloud.layout.source_path = fs::absolute(path, error).string();
  return cloud;
}

void write_point_cloud(std::ostream& out, const std::string& name, const PointCloud& cloud,
                       const WriteOptions& options) {
  if (options.format == Format::Auto) throw IoError(name + ": writing to a stream needs an explicit format");
  write_stream(out, name, cloud, options.format, options, ' ');
}

void write_point_cloud(const std::string& path, const PointCloud& cloud, const WriteOptions& options) {
  if (path == "-") {
    write_point_cloud(std::cout, "<stdout>", cloud, options);
    std::cout.flush();
    return;
  }
  const Format format = format_for_path(path, options.format);
  check_destination(path, cloud.layout.source_path, options);
  write_file_atomically(path, cloud, format, options);
}

}  // namespace ici3d::host
