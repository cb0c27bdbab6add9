#include "methods.h"

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

host::DenoiseOptions ours_options(const MethodSpec& spec, int threads) {
  host::DenoiseOptions o;
  o.k = static_cast<int>(spec.get("k"));
  o.base_size = static_cast<int>(spec.get("base"));
  o.num_scales = static_cast<int>(spec.get("scales"));
  o.scale_ratio = spec.get("ratio");
  o.preset = spec.get("preset") != 0 ? host::Preset::Smooth : host::Preset::Detail;
  o.passes = static_cast<int>(spec.get("passes"));
  o.list_cap = static_cast<int>(spec.get("cap"));
  o.threads = threads;
  return o;
}

std::vector<double> run_family(const MethodSpec& spec, const std::vector<double>& noisy,
                               int threads) {
  if (spec.family == "noisy") return noisy;
  if (spec.family == "ours") {
    std::vector<double> xyz = noisy;
    host::denoise_positions(xyz, ours_options(spec, threads));
    return xyz;
  }
  if (spec.family == "jet") return cgal_jet_smooth(noisy, static_cast<unsigned>(spec.get("k")));
  if (spec.family == "bilateral") {
    return cgal_bilateral_smooth(noisy, static_cast<unsigned>(spec.get("k")),
                                 static_cast<int>(spec.get("iters")), spec.get("sharp"));
  }
  if (spec.family == "mls") {
    return pcl_mls_smooth(noisy, spec.get("r"), threads);
  }
  throw std::invalid_argument("unknown method " + spec.family);
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
  MethodSpec spec;
  const size_t colon = text.find(':');
  spec.family = text.substr(0, colon);
  if (!known_family(spec.family)) throw std::invalid_argument("unknown method '" + text + "'");
  if (colon == std::string::npos) return spec;
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
    spec.params.emplace_back(item.substr(0, eq), v);
  }
  return spec;
}

MethodSpec ours_defaults() {
  const host::DenoiseOptions d;
  MethodSpec spec{"ours", {}};
  spec.params = {{"k", d.k},
                 {"base", d.base_size},
                 {"scales", d.num_scales},
                 {"ratio", d.scale_ratio},
                 {"preset", static_cast<double>(d.preset)},
                 {"passes", d.passes},
                 {"cap", d.list_cap}};
  return spec;
}

MethodSpec ours_scaled_to_density(const MethodSpec& spec, double factor) {
  return spec.with("base", std::round(spec.get("base") * std::sqrt(factor)))
      .with("cap", std::round(spec.get("cap") * factor));
}

MethodRun run_method(const MethodSpec& spec, const std::vector<double>& noisy, int threads) {
  MethodRun run;
  const Stopwatch watch;
  const double cpu_start = process_cpu_seconds();
  run.xyz = run_family(spec, noisy, threads);
  run.seconds = watch.seconds();
  run.cpu_seconds = process_cpu_seconds() - cpu_start;
  return run;
}

}  // namespace ici3d::bench
