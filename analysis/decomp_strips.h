// DECOMP's kernel for 64-byte aligned matrices: steps in groups of eight,
// the multipliers of many columns found together in a row-major strip of
// the groups' pivot rows.  Bit for bit the plain loop, as every kernel of
// analysis/decomp_kernels.h.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "analysis/decomp_kernels.h"

namespace solve_kernels::body {

// Steps taken together: their pivot rows form the strip.
constexpr int kStripSteps = 8;
// Columns taken into the strip at a time.
constexpr index_t kStripColumns = 128;

// The pivot-row elements of up to kStripColumns columns laid out by rows
// (S[t][c] is row p0+t of the c-th column), where the multipliers of many
// columns arise together, and those multipliers (F[s][c], step s).
struct strip {
    alignas(64) double S[kStripSteps][kStripColumns];
    alignas(64) double F[kStripSteps][kStripColumns];
};

// The strip's m columns take the steps s = 0..b-1 in order: the multiplier
// of a step is its pivot row after the earlier steps, divided by the pivot
// d[s]; then every pivot row t takes the step with the pivot column's
// element X[s][t] (the pivot's own row included, where X holds d - 1).
//
// A whole group of steps goes kPassSteps steps at a time: first those
// steps' multipliers of every column (each formed from its row after the
// earlier steps; the columns' short chains of division, products and
// differences overlap one another), then every pivot row takes the steps
// (the differences of the multipliers' rows are formed again there, to the
// same bits).
constexpr int kPassSteps = 2;

template <class T>
[[gnu::always_inline]] inline void pass_multipliers(strip& st, const double (*X)[kStripSteps],
                                                    const double* d, int s, index_t c) {
    T f[kPassSteps];
    VARNOSTIK_UNROLL for (int q = 0; q < kPassSteps; ++q) {
        T y;
        get(y, &st.S[s + q][c]);
        VARNOSTIK_UNROLL for (int r = 0; r < q; ++r) y = y - X[s + r][s + q] * f[r];
        f[q] = y / d[s + q];
        put(&st.F[s + q][c], f[q]);
    }
}

template <class T>
[[gnu::always_inline]] inline void pass_rows(strip& st, const double (*X)[kStripSteps], int s,
                                             index_t c) {
    T f[kPassSteps];
    VARNOSTIK_UNROLL for (int q = 0; q < kPassSteps; ++q) get(f[q], &st.F[s + q][c]);
    VARNOSTIK_UNROLL for (int t = 0; t < kStripSteps; ++t) {
        T y;
        get(y, &st.S[t][c]);
        VARNOSTIK_UNROLL for (int q = 0; q < kPassSteps; ++q) y = y - X[s + q][t] * f[q];
        put(&st.S[t][c], y);
    }
}

template <int W>
[[gnu::always_inline]] inline void strip_steps(strip& st, const double (*X)[kStripSteps],
                                               const double* d, int b, index_t m) {
    using v = typename simd<W>::v;
    static_assert(kStripSteps % kPassSteps == 0, "a group is whole passes");
    if (b == kStripSteps) {
        // W columns at a time, the rest in half and quarter vectors, then one.
        using v4 = typename simd<(W > 4 ? 4 : W)>::v;
        using v2 = typename simd<2>::v;
        for (int s = 0; s < kStripSteps; s += kPassSteps) {
            index_t c = 0;
            for (; c + W <= m; c += W) pass_multipliers<v>(st, X, d, s, c);
            if constexpr (W > 4)
                for (; c + 4 <= m; c += 4) pass_multipliers<v4>(st, X, d, s, c);
            if constexpr (W > 2)
                for (; c + 2 <= m; c += 2) pass_multipliers<v2>(st, X, d, s, c);
            for (; c < m; ++c) pass_multipliers<double>(st, X, d, s, c);
            for (c = 0; c + W <= m; c += W) pass_rows<v>(st, X, s, c);
            if constexpr (W > 4)
                for (; c + 4 <= m; c += 4) pass_rows<v4>(st, X, s, c);
            if constexpr (W > 2)
                for (; c + 2 <= m; c += 2) pass_rows<v2>(st, X, s, c);
            for (; c < m; ++c) pass_rows<double>(st, X, s, c);
        }
        return;
    }
    for (int s = 0; s < b; ++s) {
        const double ds = d[s];
        index_t c = 0;
        for (; c + W <= m; c += W) {
            v f;
            load<W>(f, &st.S[s][c]);
            f = f / ds;
            store<W>(&st.F[s][c], f);
            for (int t = 0; t < b; ++t) {
                v y;
                load<W>(y, &st.S[t][c]);
                y = y - X[s][t] * f;
                store<W>(&st.S[t][c], y);
            }
        }
        for (; c < m; ++c) {
            const double f = st.S[s][c] / ds;
            st.F[s][c] = f;
            for (int t = 0; t < b; ++t) st.S[t][c] = st.S[t][c] - X[s][t] * f;
        }
    }
}

// The b pivot rows of m columns (column c from first + c*n) into the strip
// (in) or back (out), two rows of two columns at a time.
template <bool in>
[[gnu::always_inline]] inline void transpose(strip& st, double* first, index_t n, int b, index_t m) {
    using pair = typename simd<2>::v;
    index_t c = 0;
    for (; c + 2 <= m; c += 2) {
        double* const c0 = first + c * n;
        double* const c1 = c0 + n;
        int t = 0;
        for (; t + 2 <= b; t += 2) {
            pair a, e;
            if (in) {
                load<2>(a, c0 + t);
                load<2>(e, c1 + t);
                store<2>(&st.S[t][c], __builtin_shufflevector(a, e, 0, 2));
                store<2>(&st.S[t + 1][c], __builtin_shufflevector(a, e, 1, 3));
            } else {
                load<2>(a, &st.S[t][c]);
                load<2>(e, &st.S[t + 1][c]);
                store<2>(c0 + t, __builtin_shufflevector(a, e, 0, 2));
                store<2>(c1 + t, __builtin_shufflevector(a, e, 1, 3));
            }
        }
        for (; t < b; ++t) {
            if (in) {
                st.S[t][c] = c0[t];
                st.S[t][c + 1] = c1[t];
            } else {
                c0[t] = st.S[t][c];
                c1[t] = st.S[t][c + 1];
            }
        }
    }
    for (; c < m; ++c)
        for (int t = 0; t < b; ++t) {
            if (in) {
                st.S[t][c] = first[c * n + t];
            } else {
                first[c * n + t] = st.S[t][c];
            }
        }
}

// The steps i0..i0+b-1 (1-based; their pivot columns finished, their pivots
// in d) applied to the columns [j0, j1) (0-based).  The pivot rows go
// through the strip, where the multipliers arise; all other rows then take
// the finished multipliers in register tiles of R*W rows and C columns,
// loaded once, given the b steps in order, stored once.
template <int W, int R, int C, int R1>
[[gnu::always_inline]] inline void apply_steps(double* A, index_t n, index_t i0, int b,
                                               const double* d, index_t j0, index_t j1) {
    if (b == 0 || j0 >= j1) return;
    const index_t p0 = i0 - 1;  // rows [p0, p0 + b) are the pivot rows
    const double* x[kStripSteps];
    double X[kStripSteps][kStripSteps];
    for (int s = 0; s < b; ++s) {
        x[s] = A + (p0 + s) * n;
        for (int t = 0; t < b; ++t) X[s][t] = x[s][p0 + t];
    }
    strip st;
    for (index_t jc = j0; jc < j1; jc += kStripColumns) {
        const index_t m = std::min(kStripColumns, j1 - jc);
        double* const first = A + jc * n + p0;
        transpose<true>(st, first, n, b, m);
        strip_steps<W>(st, X, d, b, m);
        transpose<false>(st, first, n, b, m);
        index_t c = 0;
        for (; c + C <= m; c += C) {
            double* y[C];
            for (int k = 0; k < C; ++k) y[k] = A + (jc + c + k) * n;
            update_rows<W, R, C>(y, x, &st.F[0][c], kStripColumns, b, 0, p0);
            update_rows<W, R, C>(y, x, &st.F[0][c], kStripColumns, b, p0 + b, n);
        }
        for (; c < m; ++c) {
            double* y[1] = {A + (jc + c) * n};
            update_rows<W, R1, 1>(y, x, &st.F[0][c], kStripColumns, b, 0, p0);
            update_rows<W, R1, 1>(y, x, &st.F[0][c], kStripColumns, b, p0 + b, n);
        }
    }
}

// Rows [r0, r1) of a whole group's columns (p0 + c, c = 0..7, 0-based)
// take the group's steps: column c the steps s < c with the multipliers
// F[s][c].  The W rows of all eight columns stay in registers, where each
// column is final before the later ones use it.
template <int V>
[[gnu::always_inline]] inline index_t group_rows_by(double* const* col, const double (*F)[kStripSteps],
                                                    index_t k, index_t r1) {
    using v = typename simd<V>::v;
    for (; k + V <= r1; k += V) {
        v y[kStripSteps];
        VARNOSTIK_UNROLL for (int c = 0; c < kStripSteps; ++c) {
            load<V>(y[c], col[c] + k);
            VARNOSTIK_UNROLL for (int s = 0; s < c; ++s) y[c] = y[c] - y[s] * F[s][c];
        }
        VARNOSTIK_UNROLL for (int c = 1; c < kStripSteps; ++c) store<V>(col[c] + k, y[c]);
    }
    return k;
}

template <int W>
[[gnu::always_inline]] inline void group_rows(double* A, index_t n, index_t p0,
                                              const double (*F)[kStripSteps], index_t r0,
                                              index_t r1) {
    double* col[kStripSteps];
    for (int c = 0; c < kStripSteps; ++c) col[c] = A + (p0 + c) * n;
    // W rows at a time, the rest in half and quarter vectors, then one.
    index_t k = group_rows_by<W>(col, F, r0, r1);
    if constexpr (W > 4) k = group_rows_by<4>(col, F, k, r1);
    if constexpr (W > 2) k = group_rows_by<2>(col, F, k, r1);
    for (; k < r1; ++k) {
        double y[kStripSteps];
        for (int c = 0; c < kStripSteps; ++c) {
            y[c] = col[c][k];
            for (int s = 0; s < c; ++s) y[c] = y[c] - y[s] * F[s][c];
        }
        for (int c = 1; c < kStripSteps; ++c) col[c][k] = y[c];
    }
}

// The group's own columns i0..i0+B-1 factored among themselves.  Their
// pivot rows first, as a small block P (P[t][c] is row p0+t of column
// i0+c), where column c takes the steps s < c and then gives its pivot;
// then every other row of column c takes the same steps with the
// multipliers found there.  A failing pivot stops the group with its own
// column brought up to the step before it, like the columns before it;
// the result is its position in the group, or -1 when every pivot passed.
template <int W, int R1>
[[gnu::always_inline]] inline int factor_group(double* A, index_t n, index_t i0, int B, double* d,
                                               double& DFAIL, int32_t& IFAIL) {
    const index_t p0 = i0 - 1;
    double P[kStripSteps][kStripSteps];
    double F[kStripSteps][kStripSteps];
    double* const first = A + p0 * n + p0;
    for (int c = 0; c < B; ++c)
        for (int t = 0; t < B; ++t) P[t][c] = first[c * n + t];
    int failed = -1;
    for (int c = 0; c < B; ++c) {
        for (int s = 0; s < c; ++s) {
            const double f = P[s][c] / d[s];
            F[s][c] = f;
            for (int t = 0; t < B; ++t) P[t][c] = P[t][c] - P[t][s] * f;
        }
        const double dc = P[c][c];
        if (pivot_fails(dc)) {
            DFAIL = dc;
            IFAIL = static_cast<int32_t>(i0 + c);
            failed = c;
            break;
        }
        d[c] = dc;
        P[c][c] = dc - 1;
    }
    const int done = failed < 0 ? B : failed + 1;
    for (int c = 0; c < done; ++c)
        for (int t = 0; t < B; ++t) first[c * n + t] = P[t][c];
    if (done == kStripSteps) {
        group_rows<W>(A, n, p0, F, 0, p0);
        group_rows<W>(A, n, p0, F, p0 + B, n);
        return failed;
    }
    const double* x[kStripSteps];
    for (int s = 0; s < B; ++s) x[s] = A + (p0 + s) * n;
    for (int c = 0; c < done; ++c) {
        double* y[1] = {A + (p0 + c) * n};
        update_rows<W, R1, 1>(y, x, &F[0][c], kStripSteps, c, 0, p0);
        update_rows<W, R1, 1>(y, x, &F[0][c], kStripSteps, c, p0 + B, n);
    }
    return failed;
}

// Steps in groups of kStripSteps: the group's columns factored among
// themselves, then every later column takes the group's steps at once.
template <int W, int R, int C, int R1>
[[gnu::always_inline]] inline void decomp_by_strips(double* A, index_t n, double& DFAIL,
                                                    int32_t& IFAIL) {
    double d[kStripSteps];
    for (index_t i0 = 1; i0 <= n; i0 += kStripSteps) {
        const int B = static_cast<int>(std::min<index_t>(kStripSteps, n - i0 + 1));
        const int failed = factor_group<W, R1>(A, n, i0, B, d, DFAIL, IFAIL);
        if (failed >= 0) {
            // Bring the later columns up to the step before the failing
            // pivot, so that the matrix is left as the plain loop leaves it.
            apply_steps<W, R, C, R1>(A, n, i0, failed, d, i0 + failed, n);
            return;
        }
        apply_steps<W, R, C, R1>(A, n, i0, B, d, i0 - 1 + B, n);
    }
    DFAIL = 0;
    IFAIL = 0;
}

}  // namespace solve_kernels::body
