// Tuning one tuned mass: the frequency ratio and damping ratio (its mass
// fixed) that make the largest amplitude of one unknown over the sweep's
// range as small as it can be.
#pragma once

#include <cstdint>
#include <string>

#include "design/datafile.h"
#include "design/description.h"

namespace design {

// The largest value of a curve over [from, to], between the steps too.
struct Peak {
    double value = 0.0;
    double lambda = 0.0;
};

// The largest amplitude of unknown target (1-based) and the largest
// stroke of tuned mass damper (1-based) over [from, to].
struct Extremes {
    Peak amplitude, stroke;
};
Extremes extremes(const Model& m, double from, double to, int32_t target, int32_t damper);

struct Tuning {
    double frequency_ratio = 0.0;  // to the frame's mode the damper's `mode` names
    double damping_ratio = 0.0;
    Extremes extremes;
};

struct TuneResult {
    int32_t damper = 1, target = 1;
    int32_t nearest_mode = 1;
    double mass_ratio = 0.0;  // to the nearest mode's modal mass at the damper's storey
    Tuning given, start, tuned;
    int evaluations = 0;
};

// Throws Refused for a damper or target out of range.
TuneResult tune(const Description& d, int32_t damper, int32_t target);

// The description with the damper's tuning replaced, as TOML text.
std::string tuned_description(const std::string& path, int32_t damper, double frequency_ratio, double damping_ratio);

}  // namespace design
