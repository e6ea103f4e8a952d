// The resonance sweep as the program's own files record it: the plot file
// (one row per step with up to three chosen unknowns) and the results file
// (the natural frequencies and every storey's amplitudes at every step).
// Reading never stops the process: errors come back as values that say
// where (file name, line number) and what.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plot {

// One unknown over the sweep: the amplitude and its cos and sin parts, one
// entry per step.
struct Curve {
    int32_t unknown = 0;
    std::vector<double> amp, ac, as;
};

struct Sweep {
    enum class Kind { plot_file, results_file } kind = Kind::plot_file;
    std::vector<double> lambda;         // forcing frequency of every step
    std::vector<Curve> curves;          // in the order the file holds them
    std::vector<double> omega;          // natural frequencies, when the file holds them
    std::vector<std::string> warnings;  // what was read but is not whole
};

struct SweepRead {
    Sweep sweep;
    std::string error;  // "NAME:LINE: what" (or "NAME: what"); empty when read
};

// Recognises the kind of file by its content and reads it.  name is only
// used in messages.
SweepRead read_sweep(std::string_view name, std::string_view text);

}  // namespace plot
