// Neighbourhood inputs of the denoising library: the K-nearest-neighbour table
// from which each point's local frame is computed, and the per-point candidate
// lists among which its estimation windows are chosen.
//
// Coordinates are 3*n floats, point i at 3i..3i+2. Distances are compared as
// squared distances computed in double, ((dx*dx + dy*dy) + dz*dz) with each
// difference taken after converting to double; ties are broken by the lower
// index. Both builders run their per-point searches on OpenMP threads
// (`threads` <= 0: the runtime default) and return identical results for any
// thread count.
//
// Points with a NaN or infinite coordinate are left out of every search: they
// never appear in another point's row or list, and their own row or list holds
// only themselves (see below), so the library reads only valid indices.
#pragma once

#include <cstdint>
#include <vector>

namespace ici3d::host {

// Default cap on the length of a candidate list (the point itself included).
inline constexpr int32_t kDefaultCandidateCap = 512;

struct KnnTable {
  int32_t k = 0;
  std::vector<int32_t> indices;  // n*k, row i at k*i..k*i+k-1
};

// Row i: point i itself first, then the k-1 nearest other points by
// (squared distance, index). Putting i first even before exact duplicates of
// lower index keeps every point in its own neighbourhood.
// Rows are always exactly k valid indices. When fewer than k-1 other finite
// points exist (k > number of finite points, or a non-finite point i), the row
// is filled up by repeating i itself: the frame then stays centred on the point
// rather than being pulled towards one far neighbour. A non-finite point's row
// is i repeated k times.
// k = 0 gives an empty table. Throws std::invalid_argument for n < 0, k < 0 or
// a null xyz with n > 0.
// `active` (n flags, optional) limits the searches to the flagged points; the
// others get the row of a non-finite point, but are still found as neighbours.
// A tile computes the rows of its own points this way, among its halo.
KnnTable knn_table(const float* xyz, int32_t n, int32_t k, int threads = 0,
                   const char* active = nullptr);

struct CandidateLists {
  std::vector<int64_t> offsets;    // n+1; list i is indices[offsets[i] .. offsets[i+1])
  std::vector<int32_t> indices;    // concatenated lists
  std::vector<int32_t*> pointers;  // n pointers into indices, as the library takes them
  std::vector<int32_t> counts;     // n
  int32_t longest = 0;             // max count: the library's max_selected (0 when n = 0)
  int64_t capped = 0;              // number of lists cut by the cap

  CandidateLists() = default;
  // Copies re-point `pointers` into their own `indices`; moves keep them valid.
  CandidateLists(const CandidateLists& other);
  CandidateLists& operator=(const CandidateLists& other);
  CandidateLists(CandidateLists&&) noexcept = default;
  CandidateLists& operator=(CandidateLists&&) noexcept = default;
};

// List i: point i itself first, then every other finite point j with
// squared_distance(i, j) <= radius^2 (radius converted to double), ordered by
// (squared distance, index), cut to at most `cap` entries in all. A list cut
// short counts in `capped`. A non-finite point's list is just itself.
// Memory: the lists themselves (at most n*cap indices, address space for all
// of them taken up front) and, while they are built, the lists of a block of
// 1024 points per thread. Points in a spatially coherent order (as the
// pipeline hands them over) are searched fastest.
// Throws std::invalid_argument for n < 0, a null xyz with n > 0, a negative or
// NaN radius, or cap < 1.
// `active` as for knn_table: unflagged points get the list of just themselves.
CandidateLists candidate_lists(const float* xyz, int32_t n, float radius,
                               int32_t cap = kDefaultCandidateCap, int threads = 0,
                               const char* active = nullptr);

struct NeighbourTables {
  KnnTable knn;
  CandidateLists lists;
};

// knn_table(xyz, n, k, threads, active) and candidate_lists(xyz, n, radius,
// cap, threads, active) from one spatial index: the same tables, with the
// k-NN rows of points whose lists already hold k entries taken from them.
// Throws as either of the two would.
NeighbourTables neighbour_tables(const float* xyz, int32_t n, int32_t k, float radius,
                                 int32_t cap = kDefaultCandidateCap, int threads = 0,
                                 const char* active = nullptr);

// Radius of the ball around a point that holds its whole pre-selection window
// (a cube of half-size preselect_size in the point's rotated frame):
// preselect_size*sqrt(3), widened by 0.1 % so that float rounding of the
// rotated coordinates cannot lose a point in a corner of the cube.
float preselect_radius(float preselect_size);

// True when a row of the table cannot give a local frame: its positions lie on
// a line or a point. Tested on the scatter matrix of the k positions (double
// sums): its second invariant (sum of the 2x2 principal minors) vanishes
// exactly then, so the row counts as degenerate when that invariant is at most
// 1e-10 trace^2, or the trace is not positive, or either is NaN.
// `row` holds k valid indices into xyz; k >= 1.
bool degenerate_neighbourhood(const float* xyz, const int32_t* row, int32_t k);

}  // namespace ici3d::host
