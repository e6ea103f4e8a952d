// Formatting of one step's records for the largest model (LK = 20, three
// plotted unknowns): the separator, the heading with LAMBDA, three captions,
// three lists of 20 values and the plot row, into a sink that only counts
// the bytes.  The unit's buffer and the file are left out: this is the
// share of a step spent making the records' characters.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <string_view>
#include <vector>

#include "layouts/layouts.h"
#include "textio/format.h"
#include "textio/statement.h"

namespace {

constexpr int kLK = 20;

class CountingSink final : public textio::RecordSink {
public:
    void put(std::string_view record) override { bytes += record.size() + 2; }
    std::size_t bytes = 0;
};

// Amplitudes of a few millimetres to metres and either sign, as the sweep's.
std::vector<double> step_values(std::size_t n) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> exponent(-6.0, 1.0);
    std::vector<double> v(n);
    for (std::size_t k = 0; k < n; ++k) v[k] = ((k & 1) != 0 ? -1.0 : 1.0) * std::pow(10.0, exponent(rng));
    return v;
}

template <class Format>
void step_records(benchmark::State& state, Format format) {
    const textio::FormatProgram& sep = textio::cached_format(layouts::kSeparator);
    const textio::FormatProgram& head = textio::cached_format(layouts::kStepHeading);
    const textio::FormatProgram& caption = textio::cached_format(layouts::kAmplitudeCaption);
    const textio::FormatProgram& list = textio::cached_format(layouts::kValueList);
    const textio::FormatProgram& plot = textio::cached_format(layouts::kPlotRow);
    constexpr std::size_t kSteps = 1024;
    const std::vector<double> v = step_values(kSteps * 3 * kLK);
    std::vector<textio::Out> items(3 * kLK);
    CountingSink sink;
    std::size_t step = 0;
    for (auto _ : state) {
        const double* s = v.data() + (step++ % kSteps) * 3 * kLK;
        for (int k = 0; k < 3 * kLK; ++k) items[static_cast<std::size_t>(k)] = s[k];
        const textio::Out lambda = 0.1 + 0.001 * static_cast<double>(step % 10001);
        format(sep, nullptr, 0, sink);
        format(head, &lambda, 1, sink);
        for (int part = 0; part < 3; ++part) {
            format(caption, nullptr, 0, sink);
            format(list, items.data() + part * kLK, kLK, sink);
        }
        const textio::Out row[13] = {lambda.r, s[0], s[20], s[40], 1, s[9], s[29], s[49], 10, s[19], s[39], s[59], 20};
        format(plot, row, 13, sink);
    }
    benchmark::DoNotOptimize(sink.bytes);
}

// As the statements perform them (the flat form), and by the general
// interpreter alone.
void BM_StepRecords(benchmark::State& state) { step_records(state, textio::format_items); }
BENCHMARK(BM_StepRecords);
void BM_StepRecordsInterpreted(benchmark::State& state) { step_records(state, textio::format_interpreted); }
BENCHMARK(BM_StepRecordsInterpreted);

}  // namespace

BENCHMARK_MAIN();
