// Noise level of a neighbourhood from a cubic height field, and what that
// measure reads on flat neighbourhoods of few points.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "robust_stats.h"

namespace ici3d::host::detail {

// Fits of fewer points are not made.
inline constexpr size_t kMinFitPoints = 16;
// Points farther than this many noise levels from a fit do not enter the next
// fit: outliers and the far side of a crease.
inline constexpr double kRefitCut = 2.5;
inline constexpr int kRefits = 2;
// fit_calibration knows the point counts from kMinFitPoints to this one;
// larger fits read as this one does (by then only the trimmed tails count).
inline constexpr size_t kCalibratedFitPoints = 100;

// Noise level of the heights w over (u, v) in the unit disc: a cubic height
// field fitted by least squares and refitted without the points beyond 2.5
// sigma of it (sigma from the MAD, corrected for the fit's degrees of
// freedom), then the root mean square of the residuals within 2.5 sigma over
// their degrees of freedom. The MAD finds the points that belong; the RMS
// measures their spread with about a third of the MAD's variance. It reads a
// few percent low (the cut trims the tails; fewer points, more);
// fit_calibration says by how much. NaN when the cubic is not determined.
double cubic_fit_noise(const std::vector<double>& u, const std::vector<double>& v,
                       const std::vector<double>& w);

// One position of a simulated flat neighbourhood: at the centre or uniform in
// the unit disc, at a Gaussian height of spread `noise` (drawn in that order:
// radius, angle, height).
std::array<double, 3> flat_disc_position(SeededRandom& random, bool at_centre, double noise);

// The median of cubic_fit_noise over `trials` flat neighbourhoods of `points`
// positions (the first at the centre, the others uniform in the disc) with
// unit Gaussian heights, drawn from `seed`.
double simulated_fit_calibration(size_t points, int trials, uint64_t seed);

// simulated_fit_calibration for `points` clamped to [kMinFitPoints,
// kCalibratedFitPoints], from a table made with 8001 trials.
double fit_calibration(size_t points);

}  // namespace ici3d::host::detail
