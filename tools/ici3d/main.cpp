// ici3d: denoise point clouds, describe them, make synthetic ones, compare
// them with their true surface and draw them.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cli_common.h"
#include "ici3d_host/version.h"

namespace ici3d::cli {

namespace {

constexpr const char* kExitCodes =
    "Exit status: 0 success, 1 internal failure, 2 usage error, 3 input error, 4 output error.\n"
    "Lengths (--sigma, --spacing, --noise) are in the unit of the cloud's coordinates.";

void print_error(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "ici3d: error: %s\n", message.c_str());
}

// Runs the parsed subcommand; maps each class of failure to its exit code.
int run_command(const std::vector<Command>& commands) {
  try {
    for (const Command& command : commands) {
      if (command.app->parsed()) command.run();
    }
    return kExitOk;
  } catch (const UsageError& e) {
    print_error(std::string(e.what()) + "\nRun with --help for the options.");
    return kExitUsage;
  } catch (const InputError& e) {
    print_error(e.what());
    return kExitInput;
  } catch (const OutputError& e) {
    print_error(e.what());
    return kExitOutput;
  } catch (const std::bad_alloc&) {
    print_error("out of memory");
    return kExitInternal;
  } catch (const std::exception& e) {
    print_error(std::string("internal failure: ") + e.what());
    return kExitInternal;
  }
}

int run_tool(int argc, char** argv) {
  CLI::App app("ici3d " + host::version_string() +
               ": point-cloud denoising by intersection of confidence intervals");
  app.footer(kExitCodes);
  app.set_version_flag("--version", "ici3d " + host::version_string());
  app.require_subcommand(1);
  app.fallthrough();
  GlobalOptions global;
  app.add_flag("-q,--quiet", global.quiet, "Print nothing but errors");
  app.add_flag("-v,--verbose", global.verbose, "Print more: stages, timings per pass");
  const std::vector<Command> commands = {
      add_denoise_command(app, global), add_info_command(app, global),
      add_synth_command(app, global), add_render_command(app, global),
      add_compare_command(app, global)};
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    print_error(std::string(e.what()) + "\nRun with --help for the options.");
    return kExitUsage;
  }
  return run_command(commands);
}

}  // namespace

}  // namespace ici3d::cli

int main(int argc, char** argv) { return ici3d::cli::run_tool(argc, argv); }
