// The vector kernels of the linear equation solver: one templated body
// each, built once per instruction set by the table in analysis/solve.cpp.
// Here the register tiles of the column updates, the factoring by groups
// of four steps for any matrix, and SOLVE's column updates; the factoring
// through a strip is in analysis/decomp_strips.h.
//
// DECOMP eliminates without exchanges.  Every element of the matrix receives
// its updates A(k,j) := A(k,j) - A(k,i)*f one step i after the other, each
// product and each difference rounded on its own (no fused multiply-add).
// Those updates are independent across rows k and across columns j, so the
// work here is regrouped for speed (several steps applied to a column while
// it sits in registers, several columns sharing the loads of a pivot column,
// rows or columns in vector lanes) without changing what any element sees:
// the same operands, the same operations, in the same order.  Every result
// is therefore bit for bit that of the plain triple loop.  Only the
// elements' own operations are ever carried out (remainders run in narrower
// vectors, then scalar; no lane computes padding), so the regrouping raises
// no exception that the plain loop would not.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace solve_kernels::body {

using index_t = std::ptrdiff_t;

// A pivot that is too small, not a number, or lost when SOLVE rebuilds it
// from the stored d - 1 (so that SOLVE would divide by zero) stops the
// factoring and is handed back to the caller.
inline bool pivot_fails(double d) {
    return !(std::fabs(d) >= 1e-20) || (d - 1) + 1 == 0;
}

// The short loops over the register block are unrolled so that the block
// stays in registers.
#define VARNOSTIK_UNROLL _Pragma("GCC unroll 8")

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

// A value of T (a double or a vector of them) to and from memory.
template <class T>
[[gnu::always_inline]] inline void get(T& x, const double* from) {
    std::memcpy(&x, from, sizeof x);
}

template <class T>
[[gnu::always_inline]] inline void put(double* to, const T& x) {
    std::memcpy(to, &x, sizeof x);
}

// Rows k.. of update_rows below, V at a time while V rows are left; the
// first row not taken.
template <int V, int C>
[[gnu::always_inline]] inline index_t update_rows_by(double* const* y, const double* const* x,
                                                     const double* f, index_t fs, int b, index_t k,
                                                     index_t r1) {
    using v = typename simd<V>::v;
    for (; k + V <= r1; k += V) {
        v acc[C];
        VARNOSTIK_UNROLL for (int c = 0; c < C; ++c) load<V>(acc[c], y[c] + k);
        for (int s = 0; s < b; ++s) {
            v a;
            load<V>(a, x[s] + k);
            VARNOSTIK_UNROLL for (int c = 0; c < C; ++c) acc[c] = acc[c] - a * f[s * fs + c];
        }
        VARNOSTIK_UNROLL for (int c = 0; c < C; ++c) store<V>(y[c] + k, acc[c]);
    }
    return k;
}

// Rows [r0, r1) of the C columns y[c] receive the steps s = 0..b-1 in order:
// y[c][k] := y[c][k] - x[s][k]*f[s*fs + c], where x[s] is the pivot column
// of step s and f its multipliers.  R*W rows are held in registers at a
// time, then W, then the rest in half and quarter vectors (the small
// orders' rows are mostly such rests), then one.
template <int W, int R, int C>
[[gnu::always_inline]] inline void update_rows(double* const* y, const double* const* x,
                                               const double* f, index_t fs, int b, index_t r0,
                                               index_t r1) {
    using v = typename simd<W>::v;
    index_t k = r0;
    for (; k + R * W <= r1; k += R * W) {
        v acc[R][C];
        VARNOSTIK_UNROLL for (int c = 0; c < C; ++c)
            VARNOSTIK_UNROLL for (int r = 0; r < R; ++r) load<W>(acc[r][c], y[c] + k + r * W);
        for (int s = 0; s < b; ++s) {
            v a[R];
            VARNOSTIK_UNROLL for (int r = 0; r < R; ++r) load<W>(a[r], x[s] + k + r * W);
            VARNOSTIK_UNROLL for (int c = 0; c < C; ++c) {
                const double fc = f[s * fs + c];
                VARNOSTIK_UNROLL for (int r = 0; r < R; ++r) acc[r][c] = acc[r][c] - a[r] * fc;
            }
        }
        VARNOSTIK_UNROLL for (int c = 0; c < C; ++c)
            VARNOSTIK_UNROLL for (int r = 0; r < R; ++r) store<W>(y[c] + k + r * W, acc[r][c]);
    }
    k = update_rows_by<W, C>(y, x, f, fs, b, k, r1);
    if constexpr (W > 4) k = update_rows_by<4, C>(y, x, f, fs, b, k, r1);
    if constexpr (W > 2) k = update_rows_by<2, C>(y, x, f, fs, b, k, r1);
    for (; k < r1; ++k) {
        for (int c = 0; c < C; ++c) {
            double yk = y[c][k];
            for (int s = 0; s < b; ++s) yk = yk - x[s][k] * f[s * fs + c];
            y[c][k] = yk;
        }
    }
}

// --- Steps in groups of four, any alignment ----------------------------------

constexpr int kSteps = 4;

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
    update_rows<W, R, C>(y, x, f, C, b, 0, p0);
    update_rows<W, R, C>(y, x, f, C, b, p0 + b, n);
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
[[gnu::always_inline]] inline void decomp_by_columns(double* A, index_t n, double& DFAIL,
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
                update_rows<W, 4, 1>(y, x, &f, 1, 1, 0, n);
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
[[gnu::always_inline]] inline void column_updates_rows(double* y, const double* const* x,
                                                       const double* f, int b, index_t r0,
                                                       index_t r1) {
    double* ys[1] = {y};
    update_rows<W, 4, 1>(ys, x, f, 1, b, r0, r1);
}

}  // namespace solve_kernels::body
