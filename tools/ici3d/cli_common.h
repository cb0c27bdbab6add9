#pragma once
// What every subcommand of the tool shares: exit codes and the error classes
// that select them, messages on standard error, and reading and writing
// clouds with errors that name the file.

#include <fmt/core.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ici3d_host/io.h"
#include "ici3d_host/point_cloud.h"

namespace CLI {
class App;
}

namespace ici3d::cli {

/// Exit status of the tool, one per class of failure.
enum ExitCode : int {
  kExitOk = 0,
  kExitInternal = 1,  // a bug or an exhausted resource (out of memory, ...)
  kExitUsage = 2,     // bad command line: unknown option, bad value, missing argument
  kExitInput = 3,     // an input file is missing, unreadable or malformed, or cannot be processed
  kExitOutput = 4,    // an output cannot be written, or would replace a file it must not
};

/// A command line that cannot work (exit 2).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
/// An input that cannot be read or used (exit 3).
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
/// An output that cannot or must not be written (exit 4).
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Options of the tool itself, valid for every subcommand.
struct GlobalOptions {
  bool quiet = false;  // only errors
  int verbose = 0;     // stages, timings
};

/// Messages for people go to standard error, never to standard output, which
/// carries point data or a subcommand's result.
class Console {
 public:
  explicit Console(const GlobalOptions& global) : global_(global) {}
  bool quiet() const { return global_.quiet; }
  bool verbose() const { return !global_.quiet && global_.verbose > 0; }

  /// Shown unless -q.
  template <class... Args>
  void note(fmt::format_string<Args...> format, Args&&... args) const {
    if (!quiet()) print_line(fmt::format(format, std::forward<Args>(args)...));
  }
  /// Shown with -v only.
  template <class... Args>
  void detail(fmt::format_string<Args...> format, Args&&... args) const {
    if (verbose()) print_line(fmt::format(format, std::forward<Args>(args)...));
  }
  /// Shown unless -q, prefixed "warning:".
  template <class... Args>
  void warn(fmt::format_string<Args...> format, Args&&... args) const {
    if (!quiet()) print_line("warning: " + fmt::format(format, std::forward<Args>(args)...));
  }

 private:
  static void print_line(const std::string& line);
  const GlobalOptions& global_;
};

/// A registered subcommand and the work it does once its arguments are parsed.
struct Command {
  CLI::App* app = nullptr;
  std::function<void()> run;
};

Command add_denoise_command(CLI::App& parent, const GlobalOptions& global);
Command add_info_command(CLI::App& parent, const GlobalOptions& global);
Command add_synth_command(CLI::App& parent, const GlobalOptions& global);
Command add_render_command(CLI::App& parent, const GlobalOptions& global);
Command add_compare_command(CLI::App& parent, const GlobalOptions& global);

/// Names accepted by --format, and their meaning ("" means: from the extension).
inline constexpr const char* kFormatNames[] = {"ply", "xyz", "pcd"};
host::Format format_from_name(const std::string& name);
const char* format_label(host::Format format);
const char* encoding_label(host::Encoding encoding);

/// Names accepted by --encoding ("" keeps the default of the format).
inline constexpr const char* kEncodingNames[] = {"ascii", "binary", "binary_big_endian",
                                                 "binary_compressed"};
host::Encoding encoding_from_name(const std::string& name);

/// The format an output will be written in: --format if given, else the
/// extension. UsageError when neither says (always the case for "-").
host::Format output_format(const std::string& path, const std::string& format_option,
                           std::string_view option_name);

/// Reads a cloud; any failure becomes an InputError naming the file.
host::PointCloud load_cloud(const std::string& path);

/// Before any work is done: an output must not replace an existing file
/// unless `force`, nor an input at all, and its folder must exist.
/// `inputs` are the files the command reads.
void check_output_path(const std::string& path, bool force, std::string_view option_name,
                       const std::vector<std::string>& inputs = {});

/// Writes a cloud atomically (or, for "-", in one piece to standard output
/// after it was fully encoded); failures become an OutputError.
void save_cloud(const std::string& path, const host::PointCloud& cloud,
                const host::WriteOptions& options);

/// Writes text to a file through a temporary file and a rename, so that a
/// failed write leaves no partial file; "-" writes to standard output.
void save_text(const std::string& path, const std::string& text);

/// True when both paths name the same existing file.
bool same_file(const std::string& a, const std::string& b);

/// "1 point", "2 points".
std::string count_of(size_t n, std::string_view noun);

/// A length for people: 4 significant digits, "n/a" for NaN.
std::string format_length(double value);

}  // namespace ici3d::cli
