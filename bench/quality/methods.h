// The methods of the quality comparison, named by a short setting such as
// "jet:k=24" or "ours:k=48,base=3,scales=2,ratio=1.8,preset=0,passes=2,cap=128";
// ours_defaults() gives the pipeline's own defaults in this form.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ici3d::bench {

struct MethodSpec {
  std::string family;  // noisy, ours, jet, bilateral, mls
  std::vector<std::pair<std::string, double>> params;

  /// The value of a parameter; std::invalid_argument when missing.
  double get(const std::string& name) const;
  /// A copy with one parameter replaced (or added).
  MethodSpec with(const std::string& name, double value) const;
  /// "family:name=value,..." (values printed with up to 6 significant digits).
  std::string text() const;
};

/// Parses MethodSpec::text(); std::invalid_argument for a malformed setting.
MethodSpec parse_method(const std::string& text);

/// The host pipeline's defaults (DenoiseOptions) as a setting.
MethodSpec ours_defaults();

/// What our pipeline chose on a cloud (zeros for the peers).
struct OursChoices {
  double sigma = 0;         // noise level used (estimated)
  double spacing = 0;       // spacing used (estimated)
  double noise_radius = 0;  // neighbourhood radius of the estimates
  double window = 0;        // smallest window half-size, length units
  int32_t longest_list = 0;
  int64_t capped_lists = 0;
};

struct MethodRun {
  std::vector<double> xyz;
  double seconds = 0;      // wall clock
  double cpu_seconds = 0;  // all threads of the process
  double peak_bytes = 0;   // resident memory the run added at its peak (0: unknown)
  OursChoices ours;
};

/// Denoises `noisy` (3n) on `threads` threads (where the method can use them).
/// MLS takes its search radius `r` in length units, the others their own units.
MethodRun run_method(const MethodSpec& setting, const std::vector<double>& noisy, int threads);

}  // namespace ici3d::bench
