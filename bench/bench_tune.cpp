// Tuning the five-storey frame of examples/rama5t.toml (a damper of 2 % of
// the frame's mass on the top storey): the whole search of tune, from the
// description read to the optimum, for each objective and load.  Run on
// one core (taskset -c 0): the search is sequential.
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

}  // namespace

BENCHMARK_MAIN();
