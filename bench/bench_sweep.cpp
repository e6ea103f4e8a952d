// Whole sweeps of the program: the largest model the dialogue accepts
// (LK = 20, LPT = 40, so the harmonic-response system has order 120),
// about 10 000 steps, and the typical model of examples/rama20t.toml
// (order 42, 100 001 steps), each replayed from its data file with every
// record written.  The program runs as a child process, as a user runs
// it; the share of the run spent outside the solver is the run's time less
// as many factorisations and solutions of its order, measured in-process
// on the same kind of matrix (bench_solve's bm_decomp_solve at order 42).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "analysis/solve.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kStoreys = 20;
constexpr int kParams = 40;

// Storey that damper parameter j (1-based) is attached to.
int storey_of(int j) { return (j - 1) % kStoreys + 1; }

void line(std::string& s, double v) { s += std::to_string(v) + "\n"; }

// The console answers of a typed run that records the largest model.  Its
// masses, stiffnesses, damping and forces are multiplied by scale: 5000
// gives storeys of 5e5 kg and 2e8 N/m, a model in SI units whose steps the
// accuracy check refines.
std::string typed_answers(double scale) {
    const double m = 100.0 * scale, k = 40000.0 * scale, md = 1.0 * scale, cd = 2.0 * scale, kd = 60.0 * scale;
    std::string s = "big\nbigw\nbigr\n1\n20\n40\n40\n";
    s += "1\n";
    for (int i = 1; i <= kStoreys; ++i) line(s, m);
    s += "2\n";
    for (int i = 1; i <= kStoreys; ++i)
        for (int j = i; j <= kStoreys; ++j) line(s, i == j ? (i == kStoreys ? k : 2 * k) : (j == i + 1 ? -k : 0.0));
    s += "0.02 0.02\n";
    // Each damper: a mass md on a spring kd and a dashpot cd between it and its storey.
    auto blocks = [&](double mass, double value) {
        if (mass != 0.0) {
            s += "0\n0\n1\n";
            for (int j = 1; j <= kParams; ++j) line(s, mass);
            return;
        }
        s += "1\n";
        for (int i = 1; i <= kStoreys; ++i) line(s, value * 2);  // two parameters per storey
        s += "3\n";
        for (int i = 1; i <= kStoreys; ++i)
            for (int j = 1; j <= kParams; ++j) line(s, storey_of(j) == i ? -value : 0.0);
        s += "1\n";
        for (int j = 1; j <= kParams; ++j) line(s, value);
    };
    blocks(md, 0.0);
    blocks(0.0, cd);
    blocks(0.0, kd);
    for (int i = 1; i <= kStoreys; ++i) line(s, i == kStoreys ? 100.0 * scale : 0.0);
    for (int i = 1; i <= kStoreys; ++i) line(s, 0.0);
    s += "0.1 10.099 0.001\n0\n\nx\n";
    return s;
}

int run_program(const fs::path& folder, const std::string& answers) {
    fs::path in = folder / "answers";
    std::ofstream(in, std::ios::binary) << answers;
    std::string cmd = "cd '" + folder.string() + "' && '" VARNOSTIK_BIN "' < answers > console 2>&1";
    return std::system(cmd.c_str());
}

struct Prepared {
    fs::path folder;
    std::string replay;
};

Prepared prepare(double scale) {
    char tmpl[] = "/tmp/varnostik_bench_XXXXXX";
    Prepared q{mkdtemp(tmpl), "big\nbigw\nbigr\n2\n3\n20 10 1\nx\n"};
    if (run_program(q.folder, typed_answers(scale)) != 0) std::fprintf(stderr, "recording the model failed\n");
    std::fprintf(stderr, "data file of the largest model at scale %g: %s\n", scale, (q.folder / "big").c_str());
    return q;
}

// The largest model, with its masses and stiffnesses scaled (first
// argument: 1 or 5000), on the threads the second argument gives (0: as
// many as the program chooses, VARNOSTIK_THREADS unset).
void BM_WholeSweepLargestModel(benchmark::State& state) {
    static const Prepared plain = prepare(1.0);
    static const Prepared si = prepare(5000.0);
    const Prepared& p = state.range(0) == 1 ? plain : si;
    if (state.range(1) > 0)
        setenv("VARNOSTIK_THREADS", std::to_string(state.range(1)).c_str(), 1);
    else
        unsetenv("VARNOSTIK_THREADS");
    for (auto _ : state) {
        if (run_program(p.folder, p.replay) != 0) state.SkipWithError("the run failed");
    }
    std::error_code ec;
    state.counters["results_MB"] = static_cast<double>(fs::file_size(p.folder / "bigw", ec)) / 1e6;
}
BENCHMARK(BM_WholeSweepLargestModel)
    ->ArgsProduct({{1, 5000}, {1, 0}})
    ->ArgNames({"scale", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// The typical model (examples/rama20t.toml: a 20-storey frame with one
// tuned mass, order 42, 100 001 steps, 107 MB of results), replayed from
// the data file and answers varnostik-design made of it, on one thread or
// as many as the program chooses (argument 0).
void BM_WholeSweepTypicalModel(benchmark::State& state) {
    static const fs::path folder = [] {
        char tmpl[] = "/tmp/varnostik_bench_XXXXXX";
        const fs::path f = mkdtemp(tmpl);
        for (const char* name : {"rama20t", "rama20t.in"})
            fs::copy_file(fs::path(VARNOSTIK_EXAMPLES) / name, f / name, fs::copy_options::overwrite_existing);
        std::fprintf(stderr, "data file of the typical model: %s\n", (f / "rama20t").c_str());
        return f;
    }();
    std::ifstream in(folder / "rama20t.in", std::ios::binary);
    const std::string answers((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (state.range(0) > 0)
        setenv("VARNOSTIK_THREADS", std::to_string(state.range(0)).c_str(), 1);
    else
        unsetenv("VARNOSTIK_THREADS");
    for (auto _ : state) {
        if (run_program(folder, answers) != 0) state.SkipWithError("the run failed");
    }
    std::error_code ec;
    state.counters["results_MB"] = static_cast<double>(fs::file_size(folder / "rama20tw", ec)) / 1e6;
    state.counters["time_per_step"] = benchmark::Counter(100001.0 * static_cast<double>(state.iterations()),
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_WholeSweepTypicalModel)
    ->Arg(1)
    ->Arg(0)
    ->ArgName("threads")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// The solver's share: 10 000 factorisations and solutions of a regular
// order-120 matrix of the same block shape.
void BM_SolverShareOf10000Steps(benchmark::State& state) {
    const int32_t n = 120;
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> a0(static_cast<std::size_t>(n) * n), v(n);
    // On a 64-byte boundary, as a step's work holds its matrix.
    std::vector<double> room(a0.size() + 8);
    double* a = room.data();
    while (reinterpret_cast<std::uintptr_t>(a) % 64 != 0) ++a;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) a0[static_cast<std::size_t>(j) * n + i] = u(rng) + (i == j ? 50.0 : 0.0);
    for (auto _ : state) {
        for (int step = 0; step < 10000; ++step) {
            std::copy(a0.begin(), a0.end(), a);
            for (int i = 0; i < n; ++i) v[i] = 1.0;
            double d = 0.0;
            int32_t fail = 0;
            DECOMP(a, n, d, fail);
            SOLVE(a, n, v.data());
            benchmark::DoNotOptimize(v.data());
        }
    }
}
BENCHMARK(BM_SolverShareOf10000Steps)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
