// Linear equation solver for the harmonic-response system.
#pragma once

#include <cstddef>
#include <cstdint>

// Factors A (N x N, column-major) in place, without exchanges, into the
// stored form: L below the diagonal, pivot minus one on it, the negated
// strict upper part of the inverse of U above it.  When a pivot fails the
// test (|d| < 1e-20, not a number, or d - 1 rounding back to -1) the
// factoring stops there: DFAIL receives that pivot and IFAIL its position
// 1..N; IFAIL is 0 when every pivot passed.
void DECOMP(double* A, const int32_t& N, double& DFAIL, int32_t& IFAIL);

// Turns the right-hand side V (N) into the solution, in place, with the
// form left by a successful DECOMP.
void SOLVE(const double* A, const int32_t& N, double* V);

// y := y - x*f for the n elements of two columns, each element on its own
// (SOLVE's update, and the accuracy check's), at the widest vector width
// of this processor; every element rounds as in a plain loop.
void column_update(double* y, const double* x, double f, std::ptrdiff_t n);

// Solves A V = right-hand side by elimination with row exchanges (partial
// pivoting); A is destroyed.  ISING is 1 when a column has no usable pivot
// (largest magnitude below 1e-20, or not a number), 0 otherwise.
void PIVSOL(double* A, const int32_t& N, double* V, int32_t& ISING);

// The vectorised clones of DECOMP and column_update, for checking each
// against the plain loop: decomp_for(8), (4) and (2) are the AVX-512, AVX2 and baseline
// versions (nullptr when not built for this processor family);
// decomp_width() is the one DECOMP dispatches to on this processor.
namespace solve_kernels {
using decomp_fn = void (*)(double*, std::ptrdiff_t, double&, int32_t&);
decomp_fn decomp_for(int width);
using column_update_fn = void (*)(double*, const double*, double, std::ptrdiff_t);
column_update_fn column_update_for(int width);
int decomp_width();
}  // namespace solve_kernels
