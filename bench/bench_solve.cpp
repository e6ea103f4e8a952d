// Factoring and solving the harmonic-response system at orders 20, 60 and
// 120.  The rate counter GFLOP (shown per second) counts n^3 floating-point operations per DECOMP
// (n^3/2 products and as many differences).  DECOMP destroys its matrix, so
// every iteration first copies a prepared matrix back into place; the
// copy-only benchmark beside it measures that cost so it can be taken off.
#include <benchmark/benchmark.h>

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

double flops(int32_t n) { return static_cast<double>(n) * n * n; }

void bm_decomp(benchmark::State& state) {
    const auto n = static_cast<int32_t>(state.range(0));
    const std::vector<double> a0 = prepared_matrix(n);
    std::vector<double> a(a0.size());
    double dfail = 0;
    int32_t ifail = 0;
    for (auto _ : state) {
        std::memcpy(a.data(), a0.data(), a0.size() * sizeof(double));
        DECOMP(a.data(), n, dfail, ifail);
        benchmark::DoNotOptimize(a.data());
        benchmark::ClobberMemory();
    }
    if (ifail != 0) state.SkipWithError("a pivot failed");
    state.counters["GFLOP"] = benchmark::Counter(
        flops(n) * 1e-9 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
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
    std::vector<double> a(a0.size());
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
BENCHMARK(bm_decomp)->Arg(20)->Arg(60)->Arg(120);
BENCHMARK(bm_copy_only)->Arg(20)->Arg(60)->Arg(120);
BENCHMARK(bm_decomp_solve)->Arg(20)->Arg(60)->Arg(120);

BENCHMARK_MAIN();
