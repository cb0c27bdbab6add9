#include "methods.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "ici3d_host/denoise.h"
#include "peers.h"
#include "run_info.h"

namespace ici3d::bench {

namespace {

const char* const kFamilies[] = {"noisy", "ours", "jet", "bilateral", "mls"};

bool known_family(const std::string& family) {
  for (const char* f : kFamilies) {
    if (family == f) return true;
  }
  return false;
}

host::DenoiseOptions ours_options(const MethodSpec& setting, int threads) {
  host::DenoiseOptions o;
  o.k = static_cast<int>(setting.get("k"));
  o.base_size = static_cast<int>(setting.get("base"));
  o.num_scales = static_cast<int>(setting.get("scales"));
  o.scale_ratio = setting.get("ratio");
  o.preset = setting.get("preset") != 0 ? host::Preset::Smooth : host::Preset::Detail;
  o.passes = static_cast<int>(setting.get("passes"));
  o.list_cap = static_cast<int>(setting.get("cap"));
  o.threads = threads;
  return o;
}

OursChoices choices_of(const host::DenoiseReport& r) {
  OursChoices c;
  c.sigma = r.sigma;
  c.spacing = r.spacing;
  c.noise_radius = r.noise_radius;
  c.window = r.effective.base_size * r.spacing;
  for (const host::PassReport& pass : r.passes) {
    c.longest_list = std::max(c.longest_list, pass.longest_list);
    c.capped_lists = std::max(c.capped_lists, pass.capped_lists);
  }
  return c;
}

std::vector<double> run_family(const MethodSpec& setting, const std::vector<double>& noisy,
                               int threads, OursChoices& choices) {
  if (setting.family == "noisy") return noisy;
  if (setting.family == "ours") {
    std::vector<double> xyz = noisy;
    choices = choices_of(host::denoise_positions(xyz, ours_options(setting, threads)));
    return xyz;
  }
  if (setting.family == "jet") return cgal_jet_smooth(noisy, static_cast<unsigned>(setting.get("k")));
  if (setting.family == "bilateral") {
    return cgal_bilateral_smooth(noisy, static_cast<unsigned>(setting.get("k")),
                                 static_cast<int>(setting.get("iters")), setting.get("sharp"));
  }
  if (setting.family == "mls") {
    return pcl_mls_smooth(noisy, setting.get("r"), threads);
  }
  throw std::invalid_argument("unknown method " + setting.family);
}

}  // namespace

double MethodSpec::get(const std::string& name) const {
  for (const auto& [key, value] : params) {
    if (key == name) return value;
  }
  throw std::invalid_argument(family + " has no parameter " + name);
}

MethodSpec MethodSpec::with(const std::string& name, double value) const {
  MethodSpec copy = *this;
  for (auto& [key, v] : copy.params) {
    if (key == name) {
      v = value;
      return copy;
    }
  }
  copy.params.emplace_back(name, value);
  return copy;
}

std::string MethodSpec::text() const {
  std::ostringstream out;
  out << family;
  for (size_t k = 0; k < params.size(); ++k) {
    out << (k == 0 ? ':' : ',') << params[k].first << '=' << params[k].second;
  }
  return out.str();
}

MethodSpec parse_method(const std::string& text) {
  MethodSpec setting;
  const size_t colon = text.find(':');
  setting.family = text.substr(0, colon);
  if (!known_family(setting.family)) throw std::invalid_argument("unknown method '" + text + "'");
  if (colon == std::string::npos) return setting;
  std::istringstream items(text.substr(colon + 1));
  for (std::string item; std::getline(items, item, ',');) {
    const size_t eq = item.find('=');
    if (eq == std::string::npos || eq == 0) throw std::invalid_argument("bad parameter '" + item + "'");
    size_t used = 0;
    const std::string value = item.substr(eq + 1);
    double v = 0;
    try {
      v = std::stod(value, &used);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used == 0 || used != value.size()) throw std::invalid_argument("bad value in '" + item + "'");
    setting.params.emplace_back(item.substr(0, eq), v);
  }
  return setting;
}

MethodSpec ours_defaults() {
  const host::DenoiseOptions d;
  MethodSpec setting{"ours", {}};
  setting.params = {{"k", d.k},
                 {"base", d.base_size},
                 {"scales", d.num_scales},
                 {"ratio", d.scale_ratio},
                 {"preset", static_cast<double>(d.preset)},
                 {"passes", d.passes},
                 {"cap", d.list_cap}};
  return setting;
}

MethodRun run_method(const MethodSpec& setting, const std::vector<double>& noisy, int threads) {
  MethodRun run;
  const bool peak_known = reset_peak_rss();
  const double rss_before = static_cast<double>(current_rss_bytes());
  const Stopwatch watch;
  const double cpu_start = process_cpu_seconds();
  run.xyz = run_family(setting, noisy, threads, run.ours);
  run.seconds = watch.seconds();
  run.cpu_seconds = process_cpu_seconds() - cpu_start;
  if (peak_known) run.peak_bytes = std::max(0.0, static_cast<double>(high_water_rss_bytes()) - rss_before);
  return run;
}

}  // namespace ici3d::bench
