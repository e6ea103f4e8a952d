// Tuning one tuned mass: the frequency ratio and damping ratio (its mass
// fixed) that make the chosen objective as small as it can be: the
// largest value over frequency of a quantity under the harmonic load, or
// its standard deviation under white noise, the largest over the target
// storeys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "design/datafile.h"
#include "design/description.h"
#include "design/minimizer.h"
#include "design/model.h"

namespace design {

enum class Objective {
    peak,  // the largest value over frequency under [force] or [ground]
    rms,   // the standard deviation under the white noise of [random]
};
enum class Quantity { displacement, acceleration, drift, base_shear };

struct TuneRequest {
    int32_t damper = 1;  // 1-based
    Objective objective = Objective::peak;
    Quantity quantity = Quantity::displacement;
    // Storeys (1-based), the largest over them minimised; empty: the top
    // storey for displacement and acceleration, every storey for drift.
    std::vector<int32_t> targets;
};

// A value of a curve and where it is (lambda 0 for a standard deviation).
struct Peak {
    double value = 0.0;
    double lambda = 0.0;
};

// The objective's value (the largest over the targets) and the damper's
// stroke measured the same way.
struct Extremes {
    Peak amplitude, stroke;
};

// The classical tunings of a damper on an undamped one-storey frame, for
// mass ratio mu: the damper's frequency to the frame's, and its damping
// ratio to its own frequency.
struct ClassicalTuning {
    const char* name;  // whose
    double frequency_ratio, damping_ratio;
};
// Den Hartog's equal fixed points for the peak under a force; Warburton's
// (1982) for the peak under the ground's acceleration and for the
// standard deviation under white noise of a force or of the ground.
ClassicalTuning classical_tuning(Objective objective, bool ground, double mu);

// The objective of one model, and the damper's stroke unless left out:
// throws Refused for a request the model cannot answer.
Extremes measure(const Model& m, const TuneRequest& q, const std::string& file, bool with_stroke = true);

struct Tuning {
    double frequency_ratio = 0.0;  // to the frame's mode the damper's `mode` names
    double damping_ratio = 0.0;    // to the damper's own frequency
    Extremes extremes;
};

struct TuneResult {
    TuneRequest request;  // the targets filled in
    bool ground = false;  // the load is the ground's motion
    int32_t nearest_mode = 1;
    double mass_ratio = 0.0;  // to the nearest mode's modal mass at the damper's storey
    std::string start_name;   // the classical tuning started from
    Tuning given, start, tuned;
    int evaluations = 0;
    Minimum::Status status = Minimum::Status::converged;
};

// "the largest displacement relative to the ground of storey 3", "the
// standard deviation of the drift over storeys 1,2,3", ...
std::string objective_text(const TuneRequest& q);

// The bounds of the search: frequency ratio, then damping ratio.
std::vector<Bound> tuning_bounds();

// Throws Refused for a damper or target out of range, a quantity the
// frame lacks, or an absolute acceleration a force load reaches directly.
TuneResult tune(const Description& d, const TuneRequest& q);

}  // namespace design
