// Internal stages of the general eigen solver behind eigeng. Nothing declared
// here is exported: the library is built with hidden visibility.
//
// Every stage works in place through row-pointer tables: a[i][j] is row i,
// column j of a square float matrix of order n, all indices 0-based.
#ifndef ICI3D_EIGEN_INTERNAL_H
#define ICI3D_EIGEN_INTERNAL_H

#include <cstdint>

namespace ici3d::eigen {

// The solver's tolerance is the double-precision machine epsilon, although
// the data are single precision.
constexpr double kEps = 0x1p-52;

// Status of hqr2 and of its eigenvector stage. Any other value is the
// position whose eigenvalue did not converge.
constexpr int kStatusSuccess = 0;
constexpr int kStatusNoVectors = 99;  // empty matrix or zero norm: no vectors

// The two forms of the solver. Without safeguards it is the plain procedure
// (in both forms, a matrix whose entries are all tiny is first scaled up by a
// power of 2). The safeguarded form adds protections against underflow and
// overflow: subdiagonal entries near the bottom of the float range count as
// negligible, the first column of a double step that overflows is formed
// multiplied through, a 2x2 rotation whose length under- or overflows takes
// it from hypot, an eigenvector whose components grow past 2^64 is scaled
// down by a power of 2 during its back-substitution, the balancing makes no
// scaling that overflows an entry, and an eigenvector that the balancing's
// factors would carry out of range is scaled by a power of 2 first. eigeng
// runs the plain form and takes the safeguarded one only when the plain form
// produced a value that is not finite.
enum class Safeguards : bool { kOff, kOn };

struct ComplexF {
  float re;
  float im;
};

// x + y*i built by complex arithmetic: the real part is x + y*0, which differs
// from x only when y is infinite or NaN.
inline ComplexF make_complex(float x, float y) { return {x + y * 0.0f, y}; }

// num / den in single precision by Smith's method, with the C99 recovery of
// infinite and zero results when both parts come out NaN.
ComplexF complex_divide(ComplexF num, ComplexF den);

// Balancing: isolates eigenvalues by permutations (pushing rows to the bottom
// and columns to the left), then scales the remaining block low..high by
// powers of 2. scale (n floats) records the permutations outside the block
// and the factors inside it. high < low when every row was isolated. The
// safeguarded form makes no scaling that would overflow an entry.
void balance(float *const *a, int n, float *scale, int *low, int *high,
             Safeguards safeguards = Safeguards::kOff);

// Undoes the balancing on the rows of the eigenvector matrix v.
void balance_back(float *const *v, int n, int low, int high, const float *scale);

// Reduces rows and columns low..high to upper Hessenberg form by stabilised
// elementary similarity transformations. The multipliers stay below the
// subdiagonal; pivot_rows[m] is the row exchanged with row m at step m.
void reduce_to_hessenberg(float *const *a, int n, int low, int high, int32_t *pivot_rows);

// Builds in v the transformation matrix of reduce_to_hessenberg.
void accumulate_reduction(const float *const *a, int n, int low, int high,
                          const int32_t *pivot_rows, float *const *v);

// Eigenvector stage of hqr2: back-substitution on the quasi-triangular hess
// left by the QR iteration, then multiplication by the transformation matrix
// held in vectors. Returns kStatusSuccess or kStatusNoVectors.
int back_substitute(int n, int low, int high, float *const *hess, const float *eig_re,
                    const float *eig_im, float *const *vectors, Safeguards safeguards);

// eigeng in one form only, with the arguments and results of eigeng: the
// plain procedure, or the safeguarded one, without the choice between them
// that eigeng makes. Returns 0.
int32_t eigeng_in_form(float *matrix, int32_t n, float *eig_re, float *eig_im, float *vectors,
                       Safeguards safeguards);

}  // namespace ici3d::eigen

#endif
