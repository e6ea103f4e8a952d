// Tuning the five-storey frame of examples/rama5t.toml (a damper of 2 % of
// the frame's mass on the top storey): the whole search of tune, from the
// description read to the optimum, for each objective and load; and the
// three dampers of the 20-storey frame of examples/rama20t3.toml tuned
// together for the peak.  Run on one core (taskset -c 0): the search is
// sequential.
#include <benchmark/benchmark.h>

#include <string>

#include "design/description.h"
#include "design/tune.h"

namespace {

void bm_tune(benchmark::State& state, design::Objective objective, design::Quantity quantity) {
    const design::Description d = design::read_description(VARNOSTIK_EXAMPLES "/rama5t.toml");
    design::TuneRequest q;
    q.objective = objective;
    q.quantity = quantity;
    int evaluations = 0;
    for (auto _ : state) {
        const design::TuneResult r = design::tune(d, q);
        evaluations = r.evaluations;
        benchmark::DoNotOptimize(r.tuned.frequency_ratio);
    }
    state.counters["evaluations"] = evaluations;
}

BENCHMARK_CAPTURE(bm_tune, peak_displacement, design::Objective::peak, design::Quantity::displacement)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bm_tune, peak_drift, design::Objective::peak, design::Quantity::drift)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bm_tune, rms_displacement, design::Objective::rms, design::Quantity::displacement)
    ->Unit(benchmark::kMillisecond);

// The three dampers of the 20-storey frame, their six ratios searched at
// once for the top storey's peak.
void bm_tune_three(benchmark::State& state) {
    const design::Description d = design::read_description(VARNOSTIK_EXAMPLES "/rama20t3.toml");
    design::TuneRequest q;
    q.dampers = {1, 2, 3};
    int evaluations = 0;
    double peak = 0.0;
    for (auto _ : state) {
        const design::TuneResult r = design::tune(d, q);
        evaluations = r.evaluations;
        peak = r.tuned.extremes.amplitude.value;
        benchmark::DoNotOptimize(r.tuned.frequency_ratio);
    }
    state.counters["evaluations"] = evaluations;
    state.counters["peak"] = peak;
}
BENCHMARK(bm_tune_three)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
