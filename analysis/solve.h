// Linear equation solver for the harmonic-response system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// y := y - x[0]*f[0] - x[1]*f[1] - ... for the n elements of the columns,
// one column after the other, at the widest vector width of this
// processor: every element rounds as in the plain loop over the columns.
// At most kMaxColumnUpdates columns.
inline constexpr int kMaxColumnUpdates = 8;
void column_updates(double* y, const double* const* x, const double* f, int count, std::ptrdiff_t n);

// SOLVE's operations, except that a column whose multiplier is zero is
// left out (the accuracy check's own solve).
void solve_skipping_zeros(const double* A, int32_t n, double* V);

// Solves A V = right-hand side by elimination with row exchanges (partial
// pivoting); A is destroyed.  ISING is 1 when a column has no usable pivot
// (largest magnitude below 1e-20, or not a number), 0 otherwise.
void PIVSOL(double* A, const int32_t& N, double* V, int32_t& ISING);

// The clones of the kernels per instruction set, for checking each against
// the plain loop: kernels_for(8), (4) and (2) are the AVX-512, AVX2 and
// baseline sets (nullptr when not built for this processor family);
// decomp_width() is the widest this processor runs, and chosen_width() the
// one DECOMP and the column updates use: VARNOSTIK_KERNEL_WIDTH (8, 4 or
// 2), read once, for measuring one clone against another in whole runs and
// benchmarks; unset, the widest.  A width the processor lacks, or any other
// value, gives the widest with a warning on standard error, written at the
// first call (before the sweep's first step: the run asks for it then).
// width_asked is that choice for a value of the variable (null: unset),
// with the warning to write, or empty.
namespace solve_kernels {
using decomp_fn = void (*)(double*, std::ptrdiff_t, double&, int32_t&);
// Rows r0..r1-1 of column_updates.
using column_updates_fn = void (*)(double*, const double* const*, const double*, int, std::ptrdiff_t,
                                   std::ptrdiff_t);
struct kernel_set {
    int width;                         // doubles in a vector
    decomp_fn decomp;                  // steps by eights through a strip: 64-byte aligned matrices
    decomp_fn decomp_any;              // steps by fours: any alignment
    column_updates_fn column_updates;
};
const kernel_set* kernels_for(int width);
int decomp_width();
int chosen_width();
int width_asked(const char* text, int widest, std::string& warning);
}  // namespace solve_kernels
