// Point spacing and noise level of a cloud.
#include "ici3d_host/estimate.h"

#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <stdexcept>

#include "fit_noise.h"
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
      const std::array<double, 3> p = detail::flat_disc_position(random, j == 0, kCalibrationNoise);
      std::copy(p.begin(), p.end(), coords.begin() + 3 * j);
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

// ---------------------------------------------------------------------------
// Noise and surface density at a neighbourhood radius that follows the noise

constexpr uint64_t kSurfaceSeed = 0x5eed5a4fac3e5eedull;
// The neighbourhood radius is never below the median distance to this many
// nearest other positions, so that a fit always has points enough. Few, so
// that a cloud whose noise is small beside its spacing is measured over a
// patch small enough for a cubic to follow the surface's detail; what so few
// points read is calibrated (fit_calibration).
constexpr int kSeedNeighbours = 24;
// The radius the noise estimate settles on, in noise levels: the fit's degrees
// of freedom are accounted for, so it only needs points enough, and a small
// radius stays off most creases. The fit uses a cylinder of this radius and
// twice its half-height around the position, so that no point of the noise
// band is lost to the rim of a ball; its axis comes from the whole ball that
// holds the cylinder, wide enough beside the noise for a steady normal.
constexpr double kRadiusInSigmas = 2.5;
constexpr double kHalfHeightInRadii = 2.0;
// The density is counted in a ball of this many noise levels (or the seed
// radius, if larger): wide enough for the noise correction below to be small.
constexpr double kDensityRadiusInSigmas = 4.0;
constexpr int kMaxRadiusRounds = 12;
// The estimate has settled when a round changes it by at most this fraction.
constexpr double kSettled = 0.01;
// Points used by one fit at most (an even thinning beyond that).
constexpr size_t kMaxFitPoints = 4096;
using detail::kMinFitPoints;
// The cloud's noise level is the median over the measured positions whose
// surroundings lie flattest (at least kMinFlattest of them), the lower of
// two shares: the flattest tenth stays clear of creases and detail even where
// they cover most of a surface; where there are none, it is few and chosen,
// which can move it a few percent either way, and the flattest half is not.
// Creases and detail only raise a reading, so the lower one is kept.
constexpr double kFlattestShare = 0.1;
constexpr double kFlatterShare = 0.5;
constexpr size_t kMinFlattest = 16;

struct LocalSurface {
  Neighbourhood kind = Neighbourhood::kTooFew;
  double sigma = std::numeric_limits<double>::quiet_NaN();
  size_t density_count = 0;  // other positions within the density radius
  size_t fit_count = 0;   // positions in the fitted cylinder
  // Share of the spread of the ball's positions outside the cylinder that lies
  // across their best plane: near zero on a flat surface, larger on curved
  // ones and near creases. Infinite when too few positions lie there.
  double ring_variation = std::numeric_limits<double>::infinity();
};

// Unit vectors t1, t2 completing the unit normal n to an orthonormal frame.
void tangent_frame(const double n[3], double t1[3], double t2[3]) {
  int least = 0;
  for (int c = 1; c < 3; ++c)
    if (std::fabs(n[c]) < std::fabs(n[least])) least = c;
  double e[3] = {0, 0, 0};
  e[least] = 1.0;
  t1[0] = n[1] * e[2] - n[2] * e[1];
  t1[1] = n[2] * e[0] - n[0] * e[2];
  t1[2] = n[0] * e[1] - n[1] * e[0];
  const double norm = std::sqrt(t1[0] * t1[0] + t1[1] * t1[1] + t1[2] * t1[2]);
  for (int c = 0; c < 3; ++c) t1[c] /= norm;
  t2[0] = n[1] * t1[2] - n[2] * t1[1];
  t2[1] = n[2] * t1[0] - n[0] * t1[2];
  t2[2] = n[0] * t1[1] - n[1] * t1[0];
}

double dot3(const double* a, const double* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

double ball_radius(double radius) {
  return radius * std::sqrt(1.0 + kHalfHeightInRadii * kHalfHeightInRadii);
}

// Share of the spread of the points (3 coordinates each) across their best plane.
double plane_variation(const std::vector<double>& coords) {
  if (coords.size() / 3 < kMinFitPoints) return std::numeric_limits<double>::infinity();
  const detail::PlaneFit plane = detail::fit_plane(coords);
  const double total = plane.eigenvalues[0] + plane.eigenvalues[1] + plane.eigenvalues[2];
  return total > 0 ? plane.eigenvalues[0] / total : std::numeric_limits<double>::infinity();
}

// Noise at one position: the plane through the positions of the ball gives
// the normal; a cubic height field over that plane is fitted to the
// positions in the cylinder of the given radius around the position, refitted
// without the points far from it, and its residual spread is the noise level.
LocalSurface local_surface(const DistinctPositions& positions, size_t p,
                           const std::vector<Neighbor>& ball, double radius,
                           double density_radius) {
  LocalSurface local;
  const double density_sq = density_radius * density_radius;
  for (const Neighbor& nb : ball) local.density_count += nb.sq_dist <= density_sq;
  const double* centre = positions.point(p);
  std::vector<double> inner(centre, centre + 3);
  const size_t stride = ball.size() / kMaxFitPoints + 1;
  for (size_t j = 0; j < ball.size(); j += stride) {
    const double* q = positions.point(static_cast<size_t>(ball[j].index));
    inner.insert(inner.end(), q, q + 3);
  }
  if (inner.size() / 3 < kMinFitPoints) return local;
  const detail::PlaneFit plane = detail::fit_plane(inner);
  if (is_collinear(plane)) {
    local.kind = Neighbourhood::kCollinear;
    return local;
  }
  double t1[3], t2[3];
  tangent_frame(plane.normal, t1, t2);

  const double half_height = kHalfHeightInRadii * radius;
  std::vector<double> u{0.0}, v{0.0}, w{0.0}, ring;
  for (size_t j = 0; j < ball.size(); j += stride) {
    const double* q = positions.point(static_cast<size_t>(ball[j].index));
    const double d[3] = {q[0] - centre[0], q[1] - centre[1], q[2] - centre[2]};
    const double du = dot3(d, t1) / radius, dv = dot3(d, t2) / radius, dw = dot3(d, plane.normal);
    if (du * du + dv * dv > 1.0 || std::fabs(dw) > half_height) {
      ring.insert(ring.end(), q, q + 3);
      continue;
    }
    u.push_back(du);
    v.push_back(dv);
    w.push_back(dw);
  }
  local.fit_count = w.size();
  if (w.size() < kMinFitPoints) return local;
  local.sigma = detail::cubic_fit_noise(u, v, w);
  if (std::isnan(local.sigma)) {
    local.kind = Neighbourhood::kCollinear;
    return local;
  }
  local.kind = Neighbourhood::kPlanar;
  // Measured on positions the fit did not use, so that a neighbourhood does
  // not look flat because its own noise happened to come out small.
  local.ring_variation = plane_variation(ring);
  return local;
}

// A nested, seeded subsample of the distinct positions: a quarter of the
// positions per level, chosen by a hash of the position's index, with its own
// search tree. Large neighbourhoods are measured on it, so that no fit or
// count has to visit many thousands of points.
struct ThinnedPositions {
  int level = 0;
  std::vector<size_t> ids;  // distinct-position index of each member
  std::vector<double> coords;
  std::unique_ptr<PointIndex<double>> index;

  double weight() const { return std::ldexp(1.0, 2 * level); }  // positions per member
};

bool in_level(size_t p, int level) {
  // The first draw of a generator seeded with the index: a hash of it.
  const uint64_t z = detail::SeededRandom(static_cast<uint64_t>(p)).next();
  return level == 0 || (z & ((uint64_t{1} << (2 * level)) - 1)) == 0;
}

ThinnedPositions thinned_positions(const DistinctPositions& positions, int level) {
  ThinnedPositions t;
  t.level = level;
  for (size_t p = 0; p < positions.size(); ++p) {
    if (!in_level(p, level)) continue;
    t.ids.push_back(p);
    t.coords.insert(t.coords.end(), positions.point(p), positions.point(p) + 3);
  }
  t.index = std::make_unique<PointIndex<double>>(t.coords.data(), static_cast<int64_t>(t.ids.size()));
  return t;
}

// Most positions a neighbourhood visits; beyond it a thinner level is used.
constexpr double kMaxBallPositions = 1500;

// The level at which a ball expected to hold `expected` positions holds at
// most kMaxBallPositions.
int thinning_level_for(double expected) {
  int level = 0;
  while (level < 12 && expected > kMaxBallPositions * std::ldexp(1.0, 2 * level)) ++level;
  return level;
}

std::vector<LocalSurface> local_surfaces(const ThinnedPositions& members,
                                         const DistinctPositions& positions,
                                         const std::vector<size_t>& measured, double radius,
                                         double density_radius, int threads) {
  std::vector<LocalSurface> locals(measured.size());
  const int64_t count = static_cast<int64_t>(measured.size());
  const double reach = std::max(ball_radius(radius), density_radius);
  const NeighborQuery query{std::numeric_limits<size_t>::max(), reach * reach, -1};
#pragma omp parallel num_threads(thread_count(threads))
  {
    std::vector<Neighbor> found, ball;
#pragma omp for schedule(dynamic, 16)
    for (int64_t s = 0; s < count; ++s) {
      const size_t p = measured[static_cast<size_t>(s)];
      members.index->nearest(positions.point(p), query, found);
      ball.clear();
      for (const Neighbor& nb : found) {
        const size_t q = members.ids[static_cast<size_t>(nb.index)];
        if (q != p) ball.push_back({nb.sq_dist, static_cast<int64_t>(q)});
      }
      locals[static_cast<size_t>(s)] = local_surface(positions, p, ball, radius, density_radius);
    }
  }
  return locals;
}

// Median distance from the measured positions to their k-th nearest other position.
double median_kth_distance(const PointIndex<double>& index, const DistinctPositions& positions,
                   const std::vector<size_t>& measured, size_t k, int threads) {
  std::vector<double> distances(measured.size());
  const int64_t count = static_cast<int64_t>(measured.size());
#pragma omp parallel num_threads(thread_count(threads))
  {
    std::vector<Neighbor> found;
#pragma omp for schedule(dynamic, 64)
    for (int64_t s = 0; s < count; ++s) {
      const size_t p = measured[static_cast<size_t>(s)];
      nearest_others(index, positions, p, k, found);
      distances[static_cast<size_t>(s)] = std::sqrt(found.back().sq_dist);
    }
  }
  return detail::median(std::move(distances));
}

// The cloud's noise level: the median over the positions whose surroundings
// lie flattest. Near creases and where the surface has detail at the scale
// of the neighbourhood, a cubic cannot follow the surface and the mismatch
// reads as noise; where the ring around the fit is flattest it can. Divided
// by what the fits read on flat neighbourhoods of the same size.
double typical_sigma(const std::vector<LocalSurface>& locals) {
  std::vector<const LocalSurface*> valid;
  for (const LocalSurface& local : locals)
    if (local.kind == Neighbourhood::kPlanar && std::isfinite(local.sigma)) valid.push_back(&local);
  if (valid.empty()) return std::numeric_limits<double>::quiet_NaN();
  std::stable_sort(valid.begin(), valid.end(), [](const LocalSurface* a, const LocalSurface* b) {
    return a->ring_variation < b->ring_variation;
  });
  std::vector<double> calibrated;  // flattest first
  for (const LocalSurface* local : valid)
    calibrated.push_back(local->sigma / detail::fit_calibration(local->fit_count));
  auto flattest_median = [&](double fraction) {
    const size_t share = static_cast<size_t>(fraction * static_cast<double>(valid.size()));
    const size_t count = std::min(valid.size(), std::max(kMinFlattest, share));
    return detail::median(std::vector<double>(calibrated.begin(), calibrated.begin() + static_cast<std::ptrdiff_t>(count)));
  };
  return std::min(flattest_median(kFlattestShare), flattest_median(kFlatterShare));
}

double density_radius(double seed, double sigma) {
  return std::isfinite(sigma) ? std::max(seed, kDensityRadiusInSigmas * sigma) : seed;
}

// Points per unit area: a ball of radius R around a point on a surface with
// Gaussian noise sigma along the normal holds on average density*pi*(R^2 -
// sigma^2 - z^2) others, z the point's own offset, so density*pi*(R^2 -
// 2 sigma^2) over all points. On a sphere the area within chord distance R is
// exactly pi R^2, so curvature does not enter.
double surface_density(const std::vector<LocalSurface>& locals, double radius, double sigma) {
  std::vector<double> counts;
  for (const LocalSurface& local : locals) counts.push_back(static_cast<double>(local.density_count));
  const double noise = std::isfinite(sigma) ? sigma : 0.0;
  const double area = M_PI * (radius * radius - 2.0 * noise * noise);
  return area > 0 ? detail::densest_quarter(std::move(counts)) / area
                  : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace

SurfaceEstimate estimate_surface(const double* xyz, size_t n, double known_sigma,
                                 size_t max_samples, int threads) {
  check_cloud(xyz, n);
  SurfaceEstimate estimate;
  const DistinctPositions positions = distinct_positions(xyz, n);
  if (positions.size() < 2) return estimate;
  ThinnedPositions members = thinned_positions(positions, 0);
  const std::vector<size_t> measured =
      measured_positions(positions.size(), max_samples, kSurfaceSeed);
  estimate.samples = measured.size();
  const size_t seed_k = std::min<size_t>(kSeedNeighbours, positions.size() - 1);
  const double seed = median_kth_distance(*members.index, positions, measured, seed_k, threads);
  const bool sigma_known = known_sigma > 0 && std::isfinite(known_sigma);

  double sigma = sigma_known ? known_sigma : std::numeric_limits<double>::quiet_NaN();
  double radius = sigma_known ? std::max(seed, kRadiusInSigmas * known_sigma) : seed;
  std::vector<LocalSurface> locals;
  double counted_radius = seed;  // radius of the density counts in `locals`
  double density = static_cast<double>(seed_k) / (M_PI * seed * seed);  // first guess
  for (int round = 0; round < kMaxRadiusRounds; ++round) {
    counted_radius = density_radius(seed, sigma);
    const double reach = std::max(ball_radius(radius), counted_radius);
    const int level = thinning_level_for(density * M_PI * reach * reach);
    if (level != members.level) members = thinned_positions(positions, level);
    locals = local_surfaces(members, positions, measured, radius, counted_radius, threads);
    density = surface_density(locals, counted_radius, sigma) * members.weight();
    estimate.rounds = round + 1;
    if (sigma_known) break;
    const double previous = sigma;
    sigma = typical_sigma(locals);
    if (!(sigma > 0)) break;
    const double next = std::max(seed, kRadiusInSigmas * sigma);
    if (std::fabs(sigma - previous) <= kSettled * sigma || next == radius) break;
    radius = next;
  }
  estimate.sigma = sigma_known ? typical_sigma(locals) : sigma;
  estimate.radius = radius;
  // The counts were taken with the previous round's sigma; the area they
  // stand for uses the final one.
  estimate.density = surface_density(locals, counted_radius, sigma) * members.weight();
  estimate.spacing = estimate.density > 0 ? 1.0 / std::sqrt(estimate.density)
                                          : std::numeric_limits<double>::quiet_NaN();
  std::vector<double> fit_counts;
  for (const LocalSurface& local : locals) {
    estimate.too_few_points += local.kind == Neighbourhood::kTooFew;
    estimate.collinear += local.kind == Neighbourhood::kCollinear;
    if (local.kind == Neighbourhood::kPlanar) fit_counts.push_back(static_cast<double>(local.fit_count));
  }
  estimate.fit_points = detail::median(std::move(fit_counts));
  return estimate;
}

double estimate_spacing(const double* xyz, size_t n, size_t max_samples, int threads) {
  check_cloud(xyz, n);
  const DistinctPositions positions = distinct_positions(xyz, n);
  if (positions.size() < 2) return std::numeric_limits<double>::quiet_NaN();
  const PointIndex<double> index(positions.coords.data(), static_cast<int64_t>(positions.size()));
  const std::vector<size_t> measured =
      measured_positions(positions.size(), max_samples, kSpacingSeed);
  return median_kth_distance(index, positions, measured, 1, threads);
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
