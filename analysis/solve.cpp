// Linear equation solver for the harmonic-response system.
//
// DECOMP eliminates without exchanges.  Every element of the matrix receives
// its updates A(k,j) := A(k,j) - A(k,i)*f one step i after the other, each
// product and each difference rounded on its own (no fused multiply-add).
// Those updates are independent across rows k and across columns j, so the
// work below is regrouped for speed (several steps applied to a column while
// it sits in registers, several columns sharing the loads of a pivot column,
// rows in vector lanes) without changing what any element sees: the same
// operands, the same operations, in the same order.  Every result is
// therefore bit for bit that of the plain triple loop.
#include "analysis/solve.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace {

using index_t = std::ptrdiff_t;

// A pivot that is too small, not a number, or lost when SOLVE rebuilds it
// from the stored d - 1 (so that SOLVE would divide by zero) stops the
// factoring and is handed back to the caller.
inline bool pivot_fails(double d) {
    return !(std::fabs(d) >= 1e-20) || (d - 1) + 1 == 0;
}

// The short loops over the register block are unrolled so that the block
// stays in registers.
#define UNROLL _Pragma("GCC unroll 8")

// Steps of elimination grouped into one pass over the trailing columns.
constexpr int kSteps = 4;

template <int W>
struct simd {
    typedef double v __attribute__((vector_size(W * sizeof(double))));
};

template <int W>
[[gnu::always_inline]] inline void load(typename simd<W>::v& x, const double* from) {
    std::memcpy(&x, from, sizeof x);
}

template <int W>
[[gnu::always_inline]] inline void store(double* to, const typename simd<W>::v& x) {
    std::memcpy(to, &x, sizeof x);
}

// Rows [r0, r1) of the C columns y[c] receive the steps s = 0..b-1 in order:
// y[c][k] := y[c][k] - x[s][k]*f[s*C + c], where x[s] is the pivot column of
// step s and f its multipliers.  R*W rows are held in registers at a time,
// then W, then one.
template <int W, int R, int C>
[[gnu::always_inline]] inline void update_rows(double* const* y, const double* const* x,
                                               const double* f, int b, index_t r0,
                                               index_t r1) {
    using v = typename simd<W>::v;
    index_t k = r0;
    for (; k + R * W <= r1; k += R * W) {
        v acc[R][C];
        UNROLL for (int c = 0; c < C; ++c)
            UNROLL for (int r = 0; r < R; ++r) load<W>(acc[r][c], y[c] + k + r * W);
        for (int s = 0; s < b; ++s) {
            v a[R];
            UNROLL for (int r = 0; r < R; ++r) load<W>(a[r], x[s] + k + r * W);
            UNROLL for (int c = 0; c < C; ++c) {
                const double fc = f[s * C + c];
                UNROLL for (int r = 0; r < R; ++r) acc[r][c] = acc[r][c] - a[r] * fc;
            }
        }
        UNROLL for (int c = 0; c < C; ++c)
            UNROLL for (int r = 0; r < R; ++r) store<W>(y[c] + k + r * W, acc[r][c]);
    }
    for (; k + W <= r1; k += W) {
        v acc[C];
        UNROLL for (int c = 0; c < C; ++c) load<W>(acc[c], y[c] + k);
        for (int s = 0; s < b; ++s) {
            v a;
            load<W>(a, x[s] + k);
            UNROLL for (int c = 0; c < C; ++c) acc[c] = acc[c] - a * f[s * C + c];
        }
        UNROLL for (int c = 0; c < C; ++c) store<W>(y[c] + k, acc[c]);
    }
    for (; k < r1; ++k) {
        for (int c = 0; c < C; ++c) {
            double yk = y[c][k];
            for (int s = 0; s < b; ++s) yk = yk - x[s][k] * f[s * C + c];
            y[c][k] = yk;
        }
    }
}

// The steps i0..i0+b-1 (1-based; their pivot columns finished, their pivots
// in d) applied to the C columns starting at column j.  Within the rows of
// the steps themselves the multipliers arise one after the other (the
// multiplier of a step is the pivot-row element after the earlier steps),
// so those rows go first, element by element; all other rows then take the
// finished multipliers.
template <int W, int R, int C>
[[gnu::always_inline]] inline void update_columns(double* A, index_t n, index_t i0, int b,
                                                  const double* d, index_t j) {
    double* y[C];
    const double* x[kSteps];
    double f[kSteps * C];
    for (int c = 0; c < C; ++c) y[c] = A + (j - 1 + c) * n;
    for (int s = 0; s < b; ++s) x[s] = A + (i0 - 1 + s) * n;
    const index_t p0 = i0 - 1;  // rows [p0, p0 + b) are the pivot rows, 0-based
    for (int c = 0; c < C; ++c) {
        for (int s = 0; s < b; ++s) {
            const double fs = y[c][p0 + s] / d[s];
            f[s * C + c] = fs;
            for (index_t k = p0; k < p0 + b; ++k) y[c][k] = y[c][k] - x[s][k] * fs;
        }
    }
    update_rows<W, R, C>(y, x, f, b, 0, p0);
    update_rows<W, R, C>(y, x, f, b, p0 + b, n);
}

// Steps i0..i0+b-1 applied to the columns jfirst..n, the columns beyond
// the current group of pivot columns; C columns share each pass.
template <int W, int R, int C>
[[gnu::always_inline]] inline void update_trailing(double* A, index_t n, index_t i0, int b,
                                                   const double* d, index_t jfirst) {
    index_t j = jfirst;
    for (; j + C - 1 <= n; j += C) update_columns<W, R, C>(A, n, i0, b, d, j);
    for (; j <= n; ++j) update_columns<W, R, 1>(A, n, i0, b, d, j);
}

template <int W, int R, int C>
[[gnu::always_inline]] inline void decomp_blocked(double* A, index_t n, double& DFAIL,
                                                  int32_t& IFAIL) {
    double d[kSteps];
    for (index_t i0 = 1; i0 <= n; i0 += kSteps) {
        const index_t i1 = (i0 + kSteps - 1 < n) ? i0 + kSteps - 1 : n;
        const int b = static_cast<int>(i1 - i0 + 1);
        // The columns i0..i1 have had every step before i0.  Factor them
        // among themselves: step i on the columns i+1..i1, all rows.
        for (index_t i = i0; i <= i1; ++i) {
            double* ci = A + (i - 1) * n;
            const double di = ci[i - 1];
            if (pivot_fails(di)) {
                // Bring the later columns up to step i-1, so that the
                // matrix is left as the plain loop leaves it at this pivot.
                if (i > i0)
                    update_trailing<W, R, C>(A, n, i0, static_cast<int>(i - i0), d, i1 + 1);
                DFAIL = di;
                IFAIL = static_cast<int32_t>(i);
                return;
            }
            d[i - i0] = di;
            ci[i - 1] = di - 1;
            for (index_t j = i + 1; j <= i1; ++j) {
                double* cj = A + (j - 1) * n;
                const double f = cj[i - 1] / di;
                double* y[1] = {cj};
                const double* x[1] = {ci};
                update_rows<W, 4, 1>(y, x, &f, 1, 0, n);
            }
        }
        // Columns i0..i1 are final; every later column has had the steps
        // up to i1.
        update_trailing<W, R, C>(A, n, i0, b, d, i1 + 1);
    }
    DFAIL = 0;
    IFAIL = 0;
}

// Rows [r0, r1) of y receive the columns x[0..b-1] in order:
// y[k] := y[k] - x[s][k]*f[s], several rows held in registers meanwhile.
template <int W>
[[gnu::always_inline]] inline void column_updates_w(double* y, const double* const* x, const double* f, int b,
                                                    index_t r0, index_t r1) {
    double* ys[1] = {y};
    update_rows<W, 4, 1>(ys, x, f, b, r0, r1);
}

// One clone per instruction set; the widest that the processor offers is
// chosen at the first call, so the program runs on any x86-64.
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx512f"))) void decomp_avx512(double* A, index_t n, double& DFAIL,
                                                      int32_t& IFAIL) {
    decomp_blocked<8, 2, 4>(A, n, DFAIL, IFAIL);
}
__attribute__((target("avx2"))) void decomp_avx2(double* A, index_t n, double& DFAIL,
                                                 int32_t& IFAIL) {
    decomp_blocked<4, 2, 4>(A, n, DFAIL, IFAIL);
}
__attribute__((target("avx512f"))) void column_updates_avx512(double* y, const double* const* x,
                                                             const double* f, int b, index_t r0, index_t r1) {
    column_updates_w<8>(y, x, f, b, r0, r1);
}
__attribute__((target("avx2"))) void column_updates_avx2(double* y, const double* const* x, const double* f,
                                                        int b, index_t r0, index_t r1) {
    column_updates_w<4>(y, x, f, b, r0, r1);
}
#endif
void decomp_base(double* A, index_t n, double& DFAIL, int32_t& IFAIL) {
    decomp_blocked<2, 2, 4>(A, n, DFAIL, IFAIL);
}
void column_updates_base(double* y, const double* const* x, const double* f, int b, index_t r0, index_t r1) {
    column_updates_w<2>(y, x, f, b, r0, r1);
}

}  // namespace

// Access to each clone by name, for the tests that prove them equal.
namespace solve_kernels {

using decomp_fn = void (*)(double*, index_t, double&, int32_t&);

decomp_fn decomp_for(int width) {
#if defined(__x86_64__) || defined(__i386__)
    if (width == 8) return decomp_avx512;
    if (width == 4) return decomp_avx2;
#endif
    return width == 2 ? decomp_base : nullptr;
}

column_updates_fn column_updates_for(int width) {
#if defined(__x86_64__) || defined(__i386__)
    if (width == 8) return column_updates_avx512;
    if (width == 4) return column_updates_avx2;
#endif
    return width == 2 ? column_updates_base : nullptr;
}

// Vector width in doubles of the clone that DECOMP uses on this processor.
int decomp_width() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return 8;
    if (__builtin_cpu_supports("avx2")) return 4;
#endif
    return 2;
}

}  // namespace solve_kernels

void DECOMP(double* A, const int32_t& N, double& DFAIL, int32_t& IFAIL) {
    static const solve_kernels::decomp_fn kernel =
        solve_kernels::decomp_for(solve_kernels::decomp_width());
    kernel(A, N, DFAIL, IFAIL);
}

namespace {

void column_updates_rows(double* y, const double* const* x, const double* f, int b, index_t r0, index_t r1) {
    if (b == 0 || r0 >= r1) return;
    static const solve_kernels::column_updates_fn kernel =
        solve_kernels::column_updates_for(solve_kernels::decomp_width());
    kernel(y, x, f, b, r0, r1);
}

// SOLVE's pass over the columns of the factored A, kMaxColumnUpdates
// columns at a time: the block's own rows take each column's update at
// once (a later multiplier of the block needs it), the other rows take the
// block's columns together, in the same order.  With skip_zero a column
// whose multiplier is zero is left out altogether.
void solve_pass(const double* A, index_t n, double* V, bool skip_zero) {
    for (index_t i0 = 1; i0 <= n; i0 += kMaxColumnUpdates) {
        const index_t i1 = std::min<index_t>(i0 + kMaxColumnUpdates - 1, n);
        const double* columns[kMaxColumnUpdates];
        double f[kMaxColumnUpdates];
        int b = 0;
        for (index_t i = i0; i <= i1; ++i) {
            const double* column = A + (i - 1) * n;
            const double fi = V[i - 1] / (column[i - 1] + 1);
            if (skip_zero && fi == 0) continue;
            for (index_t k = i0 - 1; k < i1; ++k) V[k] = V[k] - column[k] * fi;
            columns[b] = column;
            f[b++] = fi;
        }
        column_updates_rows(V, columns, f, b, 0, i0 - 1);
        column_updates_rows(V, columns, f, b, i1, n);
    }
}

}  // namespace

void column_updates(double* y, const double* const* x, const double* f, int count, std::ptrdiff_t n) {
    column_updates_rows(y, x, f, count, 0, n);
}

// After the columns 1..i, V holds the right-hand side with the first i
// unknowns eliminated below and substituted back above.
void SOLVE(const double* A, const int32_t& N, double* V) { solve_pass(A, N, V, false); }

void solve_skipping_zeros(const double* A, int32_t n, double* V) { solve_pass(A, n, V, true); }

void PIVSOL(double* A, const int32_t& N, double* V, int32_t& ISING) {
    const index_t n = N;
    auto a = [&](index_t i, index_t j) -> double& { return A[(j - 1) * n + (i - 1)]; };
    auto v = [&](index_t i) -> double& { return V[i - 1]; };
    // Forward elimination: after step k the rows k+1..n hold zeros (not
    // stored) in the columns 1..k, and row k carries the largest candidate.
    for (index_t k = 1; k <= n; ++k) {
        index_t p = k;
        double amax = std::fabs(a(k, k));
        for (index_t i = k + 1; i <= n; ++i) {
            if (std::fabs(a(i, k)) > amax) {
                amax = std::fabs(a(i, k));
                p = i;
            }
        }
        if (!(amax >= 1e-20)) {
            ISING = 1;
            return;
        }
        if (p != k) {
            for (index_t j = k; j <= n; ++j) {
                const double h = a(k, j);
                a(k, j) = a(p, j);
                a(p, j) = h;
            }
            const double h = v(k);
            v(k) = v(p);
            v(p) = h;
        }
        for (index_t i = k + 1; i <= n; ++i) {
            const double f = a(i, k) / a(k, k);
            for (index_t j = k + 1; j <= n; ++j) a(i, j) = a(i, j) - f * a(k, j);
            v(i) = v(i) - f * v(k);
        }
    }
    // Back substitution: after row i, V(i..n) is the solution.
    for (index_t i = n; i >= 1; --i) {
        double s = v(i);
        for (index_t j = i + 1; j <= n; ++j) s = s - a(i, j) * v(j);
        v(i) = s / a(i, i);
    }
    ISING = 0;
}
