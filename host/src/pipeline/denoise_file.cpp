#include <chrono>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "ici3d_host/denoise.h"
#include "ici3d_host/io.h"

namespace ici3d::host {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The names of the attributes that denoise() adds for these options.
std::vector<std::string> added_attributes(const DenoiseOptions& o) {
  std::vector<std::string> names;
  if (o.output_sigma) names.push_back("noise_sigma");
  if (o.output_displacement) names.push_back("displacement");
  if (o.output_normal) names.insert(names.end(), {"nx", "ny", "nz"});
  return names;
}

}  // namespace

FileReport denoise_file(const std::string& input, const std::string& output,
                        const DenoiseOptions& options, const FileOptions& file) {
  validate_options(options);
  WriteOptions write = file.write;
  if (write.format == Format::Auto && output != "-") {
    write.format = format_from_extension(output);
    if (write.format == Format::Auto) {
      throw IoError(output +
                    ": cannot tell the format from the extension; expected .ply, .pcd, .xyz, "
                    ".txt, .csv or .pts, or name the format");
    }
  }
  check_destination(output, input == "-" ? std::string() : input, write);

  FileReport report;
  auto start = Clock::now();
  PointCloud cloud = read_point_cloud(input);
  report.read_seconds = seconds_since(start);
  for (const std::string& name : added_attributes(options)) {
    if (cloud.find_attribute(name)) {
      throw DenoiseError(input + ": already has an attribute '" + name +
                         "'; leave it out of the extra attributes or remove it first");
    }
  }
  if (write.format == Format::Auto) write.format = cloud.layout.format;
  if (file.on_read) file.on_read(cloud);

  try {
    report.denoise = denoise(cloud, options);
  } catch (const DenoiseError& e) {
    throw DenoiseError(input + ": " + e.what());
  }
  report.format = write.format;
  for (const Attribute& attribute : cloud.attributes) report.attributes.push_back(attribute.name);
  start = Clock::now();
  if (output == "-") {
    // Encoded in full first: a failure then leaves standard output empty.
    std::ostringstream encoded;
    write_point_cloud(encoded, "<stdout>", cloud, write);
    const std::string bytes = encoded.str();
    std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::cout.flush();
    if (!std::cout) throw IoError("<stdout>: write failed");
  } else {
    write_point_cloud(output, cloud, write);
  }
  report.write_seconds = seconds_since(start);
  return report;
}

}  // namespace ici3d::host
