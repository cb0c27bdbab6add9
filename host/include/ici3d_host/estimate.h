// Point spacing and noise level of a cloud, for choosing the denoising
// parameters (size_norm, noise_sigma).
//
// Input: 3*n doubles, point i at 3i..3i+2, in the user's length unit. Points
// with a NaN or infinite coordinate are ignored, and exact duplicates count as
// one position. Both estimators are deterministic (seeded subsampling, results
// independent of the thread count; `threads` <= 0: the runtime default).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace ici3d::host {

// Positions at which the spacing is measured on large clouds.
inline constexpr size_t kDefaultSpacingSamples = 100000;
// Neighbourhood size of the noise estimate, the position itself included.
inline constexpr int kDefaultNoiseNeighbors = 16;
// Smallest neighbourhood from which a noise level is estimated.
inline constexpr int kMinNoiseNeighbors = 8;
// Positions at which the noise is measured on large clouds.
inline constexpr size_t kDefaultNoiseSamples = 20000;

// Point spacing h: the median, over distinct positions, of the distance to the
// nearest other distinct position. On a regular grid (or along scan lines) this
// is exactly the step; the median ignores isolated outliers, duplicates do not
// count, and unlike a k-th-neighbour distance it needs no assumption on how the
// surface is sampled to be turned into a spacing. (For uniformly random samples
// of a surface with density rho it is about 0.47/sqrt(rho).)
// At most `max_samples` positions (0: all) are measured, drawn with a fixed
// seed; the nearest neighbour is always searched among all positions.
// Returns NaN when there are fewer than two distinct finite positions.
// Throws std::invalid_argument for a null xyz with n > 0.
double estimate_spacing(const double* xyz, size_t n, size_t max_samples = kDefaultSpacingSamples,
                        int threads = 0);

// size_norm for the library: the density 1/h^2 of a grid with step h, so that a
// window half-size base_size/sqrt(size_norm) is base_size spacings.
// Throws std::invalid_argument unless h is finite and > 0.
double density_from_spacing(double h);

struct NoiseEstimate {
  // Global noise level (standard deviation along the surface normal): the
  // median of the per-position values; NaN when none could be estimated.
  double sigma = std::numeric_limits<double>::quiet_NaN();
  std::vector<size_t> points;       // measured positions (lowest index of each), ascending
  std::vector<double> point_sigma;  // per measured position; NaN for a degenerate one
  size_t too_few_points = 0;  // positions with fewer than kMinNoiseNeighbors distinct neighbours
  size_t collinear = 0;       // positions whose neighbourhood lies on a line
  int neighbors = 0;          // neighbourhood size used: min(k, distinct positions)
};

// Per measured position: the `k` nearest distinct positions (itself included)
// get a least-squares plane by PCA in double; after one refit without the
// points farther than 3 sigma from it (so a gross outlier cannot tilt it), the
// position's value is 1.4826 * MAD of the k residuals times a calibration
// factor. The factor makes the value median-unbiased for Gaussian noise on a
// flat surface: it corrects the residual spread for the 3 degrees of freedom
// the plane takes and for the small-sample bias of the MAD, and is computed
// for the given k by a seeded simulation of flat neighbourhoods.
// Taking the median over positions keeps edges, creases and outliers from
// inflating the global value. Limits, for k = 16 and spacing h: a surface
// curved with radius R adds about 0.9*h^2/R in quadrature (in proportion to k);
// noise close to the spacing makes 3-D neighbours favour points displaced the
// same way, and the estimate runs low (about 2 % at sigma = 0.3h, 7 % at 0.5h).
// At most `max_samples` positions (0: all) are measured, drawn with a fixed seed.
// Throws std::invalid_argument for a null xyz with n > 0 or k < kMinNoiseNeighbors.
NoiseEstimate estimate_noise(const double* xyz, size_t n, int k = kDefaultNoiseNeighbors,
                             size_t max_samples = kDefaultNoiseSamples, int threads = 0);

// Positions at which estimate_surface measures noise and density.
inline constexpr size_t kDefaultSurfaceSamples = 2000;

struct SurfaceEstimate {
  // Noise standard deviation along the surface normal (length units); NaN
  // when no neighbourhood gave one. With a known sigma: what the settled
  // neighbourhoods measure, for comparison.
  double sigma = std::numeric_limits<double>::quiet_NaN();
  // Points per unit area of the surface, and the spacing 1/sqrt(density) (the
  // step of a square grid of that density). NaN when not measurable.
  double density = std::numeric_limits<double>::quiet_NaN();
  double spacing = std::numeric_limits<double>::quiet_NaN();
  double radius = std::numeric_limits<double>::quiet_NaN();  // neighbourhood radius settled on
  double fit_points = std::numeric_limits<double>::quiet_NaN();  // median points per fit
  int rounds = 0;             // neighbourhood radii tried
  size_t samples = 0;         // measured positions
  size_t too_few_points = 0;  // of them: too few neighbours for a fit
  size_t collinear = 0;       // of them: neighbourhood on a line or a conic
};

// Noise level and surface density of a cloud, valid whether the noise is far
// below the point spacing or many times larger.
// Per measured position, a cubic height field is fitted to the positions in a
// cylinder of radius r and half-height 2r around it, its axis the normal of
// the plane through the positions of the ball that holds the cylinder; its
// residual spread (refitted without points beyond 2.5 sigma, then the RMS of
// those within, over the fit's degrees of freedom) is the position's noise
// level. Near creases, edges and detail at the scale of r a cubic cannot
// follow the surface and reads high, even where that is most of a surface;
// so the cloud's noise level comes from the positions whose ring (the ball's
// positions outside the cylinder) lies flattest: the median over the
// flattest tenth, or the flattest half if lower, each value divided by what a
// fit of its size reads on flat Gaussian noise (a simulated table).
// A fit through a neighbourhood that is small beside the noise follows the
// noise and reads low, so r starts at the median distance to the 24th nearest
// position and grows to 2.5 sigma, sigma re-estimated each round, until sigma
// changes by at most 1 %. The cubic takes up curvature; the refits keep
// outliers out.
// The density is the typical count (densest quarter) of positions within
// R = max(seed radius, 4 sigma), over pi (R^2 - 2 sigma^2): the ball's area on
// the surface, less what the noise takes, and exactly pi R^2 on a sphere. It is
// a property of the surface, unlike nearest-neighbour distances, which shrink
// once the noise approaches the spacing.
// Neighbourhoods that would hold more than about 1500 positions are measured
// on a seeded subsample of a quarter, a sixteenth, ... of the positions (counts
// scaled back), which keeps the cost bounded when the noise spans many
// spacings.
// `known_sigma` > 0 skips the noise rounds (r = max(seed, 2.5 known_sigma));
// `sigma` then reports what the neighbourhoods measure.
// At most `max_samples` positions (0: all) are measured, drawn with a fixed
// seed; results do not depend on the thread count. NaN fields where no
// neighbourhood gave a value (fewer than 2 distinct positions, all collinear).
// Throws std::invalid_argument for a null xyz with n > 0.
SurfaceEstimate estimate_surface(const double* xyz, size_t n, double known_sigma = 0,
                                 size_t max_samples = kDefaultSurfaceSamples, int threads = 0);

}  // namespace ici3d::host
