// Linear equation solver for the harmonic-response system.
//
// The factoring and the column updates run in the vector kernels of
// analysis/decomp_kernels.h and analysis/decomp_strips.h, which round every
// element exactly as the plain loops do; this file picks the clone of the
// kernels for the processor.
#include "analysis/solve.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

#include "analysis/decomp_strips.h"

namespace {

using index_t = std::ptrdiff_t;
using namespace solve_kernels::body;

}  // namespace

// One row per instruction set: its vector width, the register tiles of the
// trailing update (R vectors of rows by C columns: 24 x 4 in AVX-512's 32
// registers, 8 x 4 in the 16 of AVX2 and SSE2), and the clones of the
// kernels built for it.  The widest set the processor offers is chosen at
// the first call, so the program runs on any x86-64.
#define VARNOSTIK_KERNEL_SET(name, isa, W, R, C)                                              \
    namespace name {                                                                          \
    isa void decomp(double* A, index_t n, double& DFAIL, int32_t& IFAIL) {                    \
        decomp_by_strips<W, R, C, 4>(A, n, DFAIL, IFAIL);                                     \
    }                                                                                         \
    isa void decomp_any(double* A, index_t n, double& DFAIL, int32_t& IFAIL) {                \
        decomp_by_columns<W, 2, 4>(A, n, DFAIL, IFAIL);                                       \
    }                                                                                         \
    isa void updates(double* y, const double* const* x, const double* f, int b, index_t r0,   \
                     index_t r1) {                                                            \
        column_updates_rows<W>(y, x, f, b, r0, r1);                                           \
    }                                                                                         \
    constexpr solve_kernels::kernel_set set{W, decomp, decomp_any, updates};                  \
    }

namespace {
#if defined(__x86_64__) || defined(__i386__)
VARNOSTIK_KERNEL_SET(avx512, __attribute__((target("avx512f"))), 8, 3, 4)
VARNOSTIK_KERNEL_SET(avx2, __attribute__((target("avx2"))), 4, 2, 4)
#endif
VARNOSTIK_KERNEL_SET(base, , 2, 2, 4)

constexpr solve_kernels::kernel_set kSets[] = {
#if defined(__x86_64__) || defined(__i386__)
    avx512::set,
    avx2::set,
#endif
    base::set,
};

}  // namespace

namespace solve_kernels {

const kernel_set* kernels_for(int width) {
    for (const kernel_set& k : kSets)
        if (k.width == width) return &k;
    return nullptr;
}

int decomp_width() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return 8;
    if (__builtin_cpu_supports("avx2")) return 4;
#endif
    return 2;
}

int width_asked(const char* text, int widest, std::string& warning) {
    warning.clear();
    if (text == nullptr) return widest;
    const std::string_view asked(text);
    int width = 0;
    const auto [end, ec] = std::from_chars(asked.data(), asked.data() + asked.size(), width);
    const bool known = ec == std::errc() && end == asked.data() + asked.size() && (width == 8 || width == 4 || width == 2);
    if (known && width <= widest && kernels_for(width) != nullptr) return width;
    warning = "warning: VARNOSTIK_KERNEL_WIDTH=";
    warning.append(asked.substr(0, 40));
    warning += known ? " is wider than this processor's vectors" : " is not 8, 4 or 2";
    warning += "; width " + std::to_string(widest) + " is used\r\n";
    return widest;
}

int chosen_width() {
    static const int width = [] {
        std::string warning;
        const int w = width_asked(std::getenv("VARNOSTIK_KERNEL_WIDTH"), decomp_width(), warning);
        if (!warning.empty()) (void)!::write(2, warning.data(), warning.size());
        return w;
    }();
    return width;
}

}  // namespace solve_kernels

namespace {

const solve_kernels::kernel_set& kernels() {
    static const solve_kernels::kernel_set& k = *solve_kernels::kernels_for(solve_kernels::chosen_width());
    return k;
}

}  // namespace

// The factoring through the strip is built for matrices on 64-byte
// boundaries, as a step's work holds them (its vector loads then straddle
// cache lines as little as the order allows); any other matrix takes the
// kernel of groups of four steps.
// Both give the plain loop's bits.
void DECOMP(double* A, const int32_t& N, double& DFAIL, int32_t& IFAIL) {
    const bool aligned = reinterpret_cast<std::uintptr_t>(A) % 64 == 0;
    (aligned ? kernels().decomp : kernels().decomp_any)(A, N, DFAIL, IFAIL);
}

namespace {

void update_rows_of(double* y, const double* const* x, const double* f, int b, index_t r0, index_t r1) {
    if (b == 0 || r0 >= r1) return;
    kernels().column_updates(y, x, f, b, r0, r1);
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
        update_rows_of(V, columns, f, b, 0, i0 - 1);
        update_rows_of(V, columns, f, b, i1, n);
    }
}

}  // namespace

void column_updates(double* y, const double* const* x, const double* f, int count, std::ptrdiff_t n) {
    update_rows_of(y, x, f, count, 0, n);
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
