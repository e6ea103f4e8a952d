// Factoring and solving the harmonic-response system at orders 20, 60 and
// 120.  The rate counter GFLOP (shown per second) counts n^2(n-1)
// floating-point operations per DECOMP (every step i updates the n rows of
// the n - i later columns: a product and a difference each).  DECOMP
// destroys its matrix, so every iteration first copies a prepared matrix
// back into place; the copy-only benchmark beside it measures that cost so
// it can be taken off.  The matrices lie on 64-byte boundaries, as a step's
// work holds them; bm_decomp_by_columns runs the kernel that DECOMP takes
// for other matrices, side by side, and bm_peak measures what the vector
// units give at most to products and differences without fused
// multiply-add, the yardstick of the factoring's rate.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "analysis/solve.h"
#include "analysis/step.h"

namespace {

// A regular matrix with a dominant diagonal, so that every pivot passes.
std::vector<double> prepared_matrix(int32_t n) {
    std::mt19937_64 gen(12345);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> a(static_cast<std::size_t>(n) * n);
    for (auto& x : a) x = u(gen);
    for (int32_t i = 0; i < n; ++i) a[static_cast<std::size_t>(i) * n + i] += n;
    return a;
}

double flops(int32_t n) { return static_cast<double>(n) * n * (n - 1); }

// Room for n x n doubles starting on a 64-byte boundary.
class aligned_matrix {
public:
    explicit aligned_matrix(std::size_t count) : buffer_(count + 8) {
        const auto address = reinterpret_cast<std::uintptr_t>(buffer_.data());
        data_ = buffer_.data() + ((64 - address % 64) % 64) / sizeof(double);
    }
    double* data() { return data_; }

private:
    std::vector<double> buffer_;
    double* data_;
};

template <class Factor>
void run_decomp(benchmark::State& state, Factor factor) {
    const auto n = static_cast<int32_t>(state.range(0));
    const std::vector<double> a0 = prepared_matrix(n);
    aligned_matrix a(a0.size());
    double dfail = 0;
    int32_t ifail = 0;
    for (auto _ : state) {
        std::memcpy(a.data(), a0.data(), a0.size() * sizeof(double));
        factor(a.data(), n, dfail, ifail);
        benchmark::DoNotOptimize(a.data());
        benchmark::ClobberMemory();
    }
    if (ifail != 0) state.SkipWithError("a pivot failed");
    state.counters["GFLOP"] = benchmark::Counter(
        flops(n) * 1e-9 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void bm_decomp(benchmark::State& state) {
    run_decomp(state, [](double* A, int32_t n, double& d, int32_t& i) { DECOMP(A, n, d, i); });
}

void bm_decomp_by_columns(benchmark::State& state) {
    const solve_kernels::decomp_fn any =
        solve_kernels::kernels_for(solve_kernels::chosen_width())->decomp_any;
    run_decomp(state, [any](double* A, int32_t n, double& d, int32_t& i) { any(A, n, d, i); });
}

// Independent streams acc := acc - a*m, eight vectors of W doubles (the
// width the kernels use), each product distinct: as many products and
// differences as the vector units can start, none waiting long for
// another, all in registers (sixteen vector registers suffice).  The empty asm makes m new every round, so
// that no product is taken out of the loop.
template <int W>
struct lanes {
    typedef double v __attribute__((vector_size(W * sizeof(double))));
};

template <int W>
[[gnu::always_inline]] inline double streams(long rounds, double m0) {
    using v = typename lanes<W>::v;
    constexpr int kStreams = 8;
    double first[W];
    for (int l = 0; l < W; ++l) first[l] = l;
    v iota;
    std::memcpy(&iota, first, sizeof iota);
    v acc[kStreams], a[4], m[2];
    for (int s = 0; s < kStreams; ++s) acc[s] = iota + (1.0 + s);
    for (int s = 0; s < 4; ++s) a[s] = 1.0 - 0.01 * (iota + s);
    m[0] = iota * 0 + m0;
    m[1] = iota * 0 + 2 * m0;
    for (long r = 0; r < rounds; ++r) {
        asm volatile("" : "+v"(m[0]), "+v"(m[1]));
        _Pragma("GCC unroll 8") for (int s = 0; s < kStreams; ++s) acc[s] = acc[s] - a[s % 4] * m[s / 4];
    }
    v total = acc[0];
    for (int s = 1; s < kStreams; ++s) total = total + acc[s];
    double last[W];
    std::memcpy(last, &total, sizeof last);
    return last[0] + last[W - 1];
}
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx512f"))) double streams8(long rounds, double m) { return streams<8>(rounds, m); }
__attribute__((target("avx2"))) double streams4(long rounds, double m) { return streams<4>(rounds, m); }
#endif
double streams2(long rounds, double m) { return streams<2>(rounds, m); }

void bm_peak(benchmark::State& state) {
    const int W = solve_kernels::chosen_width();
    constexpr long kRounds = 100000;
    volatile double m = 1e-200;  // products far below the values: no overflow, no denormal
    double sum = 0;
    for (auto _ : state) {
#if defined(__x86_64__) || defined(__i386__)
        if (W == 8) sum += streams8(kRounds, m);
        else if (W == 4) sum += streams4(kRounds, m);
        else
#endif
            sum += streams2(kRounds, m);
    }
    benchmark::DoNotOptimize(sum);
    state.counters["GFLOP"] = benchmark::Counter(
        2.0 * 8 * W * kRounds * 1e-9 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void bm_copy_only(benchmark::State& state) {
    const auto n = static_cast<int32_t>(state.range(0));
    const std::vector<double> a0 = prepared_matrix(n);
    std::vector<double> a(a0.size());
    for (auto _ : state) {
        std::memcpy(a.data(), a0.data(), a0.size() * sizeof(double));
        benchmark::DoNotOptimize(a.data());
        benchmark::ClobberMemory();
    }
}

void bm_decomp_solve(benchmark::State& state) {
    const auto n = static_cast<int32_t>(state.range(0));
    const std::vector<double> a0 = prepared_matrix(n);
    aligned_matrix a(a0.size());
    std::vector<double> v(static_cast<std::size_t>(n));
    double dfail = 0;
    int32_t ifail = 0;
    for (auto _ : state) {
        std::memcpy(a.data(), a0.data(), a0.size() * sizeof(double));
        for (int32_t i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = 1.0;
        DECOMP(a.data(), n, dfail, ifail);
        SOLVE(a.data(), n, v.data());
        benchmark::DoNotOptimize(v.data());
        benchmark::ClobberMemory();
    }
    if (ifail != 0) state.SkipWithError("a pivot failed");
    state.counters["GFLOP"] = benchmark::Counter(
        flops(n) * 1e-9 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// A chain of NU = 60 masses on springs with stiffness-proportional
// damping, its masses and stiffnesses multiplied by scale (5000: kg and
// N/m, where steps need a refinement).
struct Chain {
    static constexpr int32_t NU = 60;
    std::vector<double> MS, CS, KS, PC, PS;
    explicit Chain(double scale)
        : MS(NU * NU), CS(NU * NU), KS(NU * NU), PC(NU, 100.0 * scale), PS(NU, 0.0) {
        for (int32_t i = 0; i < NU; ++i) {
            MS[i * NU + i] = 100.0 * scale;
            KS[i * NU + i] = (i + 1 < NU ? 80000.0 : 40000.0) * scale;
            if (i + 1 < NU) KS[i * NU + i + 1] = KS[(i + 1) * NU + i] = -40000.0 * scale;
        }
        for (std::size_t k = 0; k < KS.size(); ++k) CS[k] = 0.001 * KS[k];
    }
    System system() const { return System{NU, NU, MS.data(), CS.data(), KS.data(), PC.data(), PS.data()}; }
};

// One sweep step at order 120 near the first resonance: building, DECOMP,
// SOLVE and the accuracy check (Arg: the scale of the model).
void bm_step(benchmark::State& state) {
    const Chain chain(static_cast<double>(state.range(0)));
    const System s = chain.system();
    StepWork w(s.NU2());
    int refined = 0;
    for (auto _ : state) {
        refined += solve_step(s, 3.0, w).rounds;
        benchmark::DoNotOptimize(w.XH);
        benchmark::ClobberMemory();
    }
    state.counters["refinements"] = static_cast<double>(refined) / static_cast<double>(state.iterations());
}

// The same step without the check: building, DECOMP and SOLVE only.
void bm_step_unchecked(benchmark::State& state) {
    const Chain chain(static_cast<double>(state.range(0)));
    const System s = chain.system();
    StepWork w(s.NU2());
    double dfail = 0;
    int32_t ifail = 0;
    for (auto _ : state) {
        build_system(s, 3.0, w.AH, w.XH);
        DECOMP(w.AH, s.NU2(), dfail, ifail);
        SOLVE(w.AH, s.NU2(), w.XH);
        benchmark::DoNotOptimize(w.XH);
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(bm_step)->Arg(1)->Arg(5000);
BENCHMARK(bm_step_unchecked)->Arg(1)->Arg(5000);
BENCHMARK(bm_peak);
// Order 42 is the typical model's (examples/rama20t.toml).
BENCHMARK(bm_decomp)->Arg(20)->Arg(42)->Arg(60)->Arg(120);
BENCHMARK(bm_decomp_by_columns)->Arg(20)->Arg(42)->Arg(60)->Arg(120);
BENCHMARK(bm_copy_only)->Arg(20)->Arg(42)->Arg(60)->Arg(120);
BENCHMARK(bm_decomp_solve)->Arg(20)->Arg(42)->Arg(60)->Arg(120);

BENCHMARK_MAIN();
