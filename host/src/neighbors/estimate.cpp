// Point spacing and noise level of a cloud.
#include "ici3d_host/estimate.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "plane_fit.h"
#include "point_index.h"
#include "robust_stats.h"

namespace ici3d::host {
namespace {

using detail::Neighbor;
using detail::NeighborQuery;
using detail::PointIndex;

constexpr uint64_t kSpacingSeed = 0x5eed5ac1e5eedull;
constexpr uint64_t kNoiseSeed = 0x5eedda15e5eedull;
constexpr uint64_t kCalibrationSeed = 0xca11b7a7e5eedull;
// Simulated neighbourhoods behind the calibration factor (its median is then
// known to about 0.5 %).
constexpr int kCalibrationTrials = 4001;
// Noise of the simulated neighbourhoods relative to their radius: small, as on
// a real surface sampled finer than its noise is large.
constexpr double kCalibrationNoise = 1e-3;
// Residuals beyond this many sigmas are left out of the refit of the plane.
constexpr double kOutlierCut = 3.0;
// A neighbourhood whose second-largest spread is below this fraction of the
// largest one lies on a line and has no plane.
constexpr double kCollinearRatio = 1e-10;

int thread_count(int threads) { return threads > 0 ? threads : omp_get_max_threads(); }

void check_cloud(const double* xyz, size_t n) {
  if (n > 0 && xyz == nullptr) throw std::invalid_argument("null coordinate array");
}

bool same_position(const double* a, const double* b) {
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

bool position_before(const double* a, const double* b) {
  return a[0] < b[0] || (a[0] == b[0] && (a[1] < b[1] || (a[1] == b[1] && a[2] < b[2])));
}

struct DistinctPositions {
  std::vector<double> coords;       // 3 per position, in the order of first_index
  std::vector<size_t> first_index;  // lowest input index at each position, ascending

  size_t size() const { return first_index.size(); }
  const double* point(size_t p) const { return coords.data() + 3 * p; }
};

DistinctPositions distinct_positions(const double* xyz, size_t n) {
  std::vector<size_t> order;
  for (size_t i = 0; i < n; ++i)
    if (detail::is_finite_point(xyz + 3 * i)) order.push_back(i);
  std::sort(order.begin(), order.end(), [xyz](size_t a, size_t b) {
    if (position_before(xyz + 3 * a, xyz + 3 * b)) return true;
    return same_position(xyz + 3 * a, xyz + 3 * b) && a < b;
  });
  DistinctPositions positions;
  for (size_t j = 0; j < order.size(); ++j)
    if (j == 0 || !same_position(xyz + 3 * order[j - 1], xyz + 3 * order[j]))
      positions.first_index.push_back(order[j]);
  std::sort(positions.first_index.begin(), positions.first_index.end());
  positions.coords.reserve(3 * positions.size());
  for (size_t i : positions.first_index)
    positions.coords.insert(positions.coords.end(), xyz + 3 * i, xyz + 3 * i + 3);
  return positions;
}

std::vector<size_t> measured_positions(size_t population, size_t max_samples, uint64_t seed) {
  const size_t count = max_samples == 0 ? population : std::min(population, max_samples);
  return detail::sample_without_replacement(population, count, seed);
}

// ---------------------------------------------------------------------------
// Noise of one neighbourhood

enum class Neighbourhood { kPlanar, kTooFew, kCollinear };

struct RawNoise {
  Neighbourhood kind = Neighbourhood::kPlanar;
  double sigma = std::numeric_limits<double>::quiet_NaN();  // 1.4826*MAD, uncalibrated
};

bool is_collinear(const detail::PlaneFit& plane) {
  return !(plane.eigenvalues[1] > kCollinearRatio * plane.eigenvalues[2]);
}

std::vector<double> inlier_coords(const std::vector<double>& coords,
                                  const std::vector<double>& residuals, double center,
                                  double sigma) {
  std::vector<double> kept;
  for (size_t j = 0; j < residuals.size(); ++j)
    if (std::fabs(residuals[j] - center) <= kOutlierCut * sigma)
      kept.insert(kept.end(), coords.begin() + 3 * j, coords.begin() + 3 * j + 3);
  return kept;
}

RawNoise raw_noise(const std::vector<double>& coords) {
  RawNoise result;
  if (coords.size() / 3 < static_cast<size_t>(kMinNoiseNeighbors)) {
    result.kind = Neighbourhood::kTooFew;
    return result;
  }
  const detail::PlaneFit plane = detail::fit_plane(coords);
  if (is_collinear(plane)) {
    result.kind = Neighbourhood::kCollinear;
    return result;
  }
  std::vector<double> residuals = detail::plane_residuals(plane, coords);
  result.sigma = detail::kMadToSigma * detail::median_absolute_deviation(residuals);
  if (!(result.sigma > 0)) return result;

  const std::vector<double> kept =
      inlier_coords(coords, residuals, detail::median(residuals), result.sigma);
  if (kept.size() == coords.size() || kept.size() / 3 < static_cast<size_t>(kMinNoiseNeighbors))
    return result;
  const detail::PlaneFit refit = detail::fit_plane(kept);
  if (is_collinear(refit)) return result;
  residuals = detail::plane_residuals(refit, coords);
  result.sigma = detail::kMadToSigma * detail::median_absolute_deviation(residuals);
  return result;
}

// The factor that turns raw_noise into a median-unbiased sigma for Gaussian
// noise on a flat neighbourhood of k points: the point itself at the centre of
// a unit disc, the others uniform in it.
double calibration_factor(int k) {
  detail::SeededRandom random(kCalibrationSeed + static_cast<uint64_t>(k));
  std::vector<double> raw(kCalibrationTrials);
  std::vector<double> coords(3 * static_cast<size_t>(k));
  for (double& value : raw) {
    for (int j = 0; j < k; ++j) {
      const double radius = j == 0 ? 0.0 : std::sqrt(random.uniform());
      const double angle = 2.0 * M_PI * random.uniform();
      coords[3 * j] = radius * std::cos(angle);
      coords[3 * j + 1] = radius * std::sin(angle);
      coords[3 * j + 2] = kCalibrationNoise * random.gaussian();
    }
    value = raw_noise(coords).sigma;
  }
  return kCalibrationNoise / detail::median(raw);
}

// The `count` positions nearest to position p, p itself left out.
void nearest_others(const PointIndex<double>& index, const DistinctPositions& positions, size_t p,
                    size_t count, std::vector<Neighbor>& found) {
  const NeighborQuery query{count, std::numeric_limits<double>::infinity(),
                            static_cast<int64_t>(p)};
  index.nearest(positions.point(p), query, found);
}

void gather_neighbourhood(const DistinctPositions& positions, size_t p,
                          const std::vector<Neighbor>& found, std::vector<double>& coords) {
  coords.assign(positions.point(p), positions.point(p) + 3);
  for (const Neighbor& nb : found) {
    const double* q = positions.point(static_cast<size_t>(nb.index));
    coords.insert(coords.end(), q, q + 3);
  }
}

std::vector<RawNoise> raw_noise_at(const DistinctPositions& positions,
                                   const std::vector<size_t>& measured, int k, int threads) {
  std::vector<RawNoise> raw(measured.size());
  if (k < kMinNoiseNeighbors) {
    for (RawNoise& r : raw) r.kind = Neighbourhood::kTooFew;
    return raw;
  }
  const PointIndex<double> index(positions.coords.data(), static_cast<int64_t>(positions.size()));
  const int64_t count = static_cast<int64_t>(measured.size());
#pragma omp parallel num_threads(thread_count(threads))
  {
    std::vector<Neighbor> found;
    std::vector<double> coords;
#pragma omp for schedule(dynamic, 64)
    for (int64_t s = 0; s < count; ++s) {
      const size_t p = measured[static_cast<size_t>(s)];
      nearest_others(index, positions, p, static_cast<size_t>(k - 1), found);
      gather_neighbourhood(positions, p, found, coords);
      raw[static_cast<size_t>(s)] = raw_noise(coords);
    }
  }
  return raw;
}

}  // namespace

double estimate_spacing(const double* xyz, size_t n, size_t max_samples, int threads) {
  check_cloud(xyz, n);
  const DistinctPositions positions = distinct_positions(xyz, n);
  if (positions.size() < 2) return std::numeric_limits<double>::quiet_NaN();
  const PointIndex<double> index(positions.coords.data(), static_cast<int64_t>(positions.size()));
  const std::vector<size_t> measured =
      measured_positions(positions.size(), max_samples, kSpacingSeed);
  std::vector<double> distances(measured.size());
  const int64_t count = static_cast<int64_t>(measured.size());
#pragma omp parallel num_threads(thread_count(threads))
  {
    std::vector<Neighbor> found;
#pragma omp for schedule(dynamic, 256)
    for (int64_t s = 0; s < count; ++s) {
      const size_t p = measured[static_cast<size_t>(s)];
      nearest_others(index, positions, p, 1, found);
      distances[static_cast<size_t>(s)] = std::sqrt(found.front().sq_dist);
    }
  }
  return detail::median(std::move(distances));
}

double density_from_spacing(double h) {
  if (!(h > 0) || !std::isfinite(h)) throw std::invalid_argument("spacing must be finite and > 0");
  return 1.0 / (h * h);
}

NoiseEstimate estimate_noise(const double* xyz, size_t n, int k, size_t max_samples, int threads) {
  check_cloud(xyz, n);
  if (k < kMinNoiseNeighbors) throw std::invalid_argument("noise neighbourhood too small");
  const DistinctPositions positions = distinct_positions(xyz, n);
  const std::vector<size_t> measured =
      measured_positions(positions.size(), max_samples, kNoiseSeed);

  NoiseEstimate estimate;
  estimate.neighbors = static_cast<int>(std::min<size_t>(static_cast<size_t>(k), positions.size()));
  const std::vector<RawNoise> raw = raw_noise_at(positions, measured, estimate.neighbors, threads);
  const double factor = estimate.neighbors >= kMinNoiseNeighbors
                            ? calibration_factor(estimate.neighbors)
                            : std::numeric_limits<double>::quiet_NaN();

  std::vector<double> valid;
  for (size_t s = 0; s < measured.size(); ++s) {
    estimate.points.push_back(positions.first_index[measured[s]]);
    estimate.point_sigma.push_back(raw[s].sigma * factor);
    estimate.too_few_points += raw[s].kind == Neighbourhood::kTooFew;
    estimate.collinear += raw[s].kind == Neighbourhood::kCollinear;
    if (raw[s].kind == Neighbourhood::kPlanar) valid.push_back(estimate.point_sigma.back());
  }
  estimate.sigma = detail::median(std::move(valid));
  return estimate;
}

}  // namespace ici3d::host
