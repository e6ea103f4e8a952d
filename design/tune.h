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
#include "design/peaks.h"

namespace design {

enum class Objective {
    peak,  // the largest value over frequency under [force] or [ground]
    rms,   // the standard deviation under the white noise of [random]
};
enum class Quantity { displacement, acceleration, drift, base_shear };

struct TuneRequest {
    int32_t damper = 1;  // 1-based, tuned alone when dampers is empty
    // Several tuned masses (1-based, each once) tuned together, their
    // frequency and damping ratios searched at once, each mass kept.
    std::vector<int32_t> dampers;
    Objective objective = Objective::peak;
    Quantity quantity = Quantity::displacement;
    // Storeys (1-based), the largest over them minimised; empty: the top
    // storey for displacement and acceleration, every storey for drift.
    std::vector<int32_t> targets;
    // When above 0, the stroke of every tuned mass, tuned or not (its
    // largest value for peak, its standard deviation for rms), kept at or
    // below this.
    double stroke_limit = 0.0;
    // When above 0 (D), the worst objective over the frame's stiffness
    // scaled by 1 - D, 1 and 1 + D is minimised: the frame as built is
    // never the frame as computed.
    double robust = 0.0;
};

// The tuned masses a request tunes, in its order.
std::vector<int32_t> tuned_dampers(const TuneRequest& q);

// A value of a curve and where it is (lambda 0 for a standard deviation).
struct Peak {
    double value = 0.0;
    double lambda = 0.0;
};

// The objective's value (the largest over the targets), the tuned
// dampers' largest stroke measured the same way, and the largest stroke of
// every tuned mass, tuned or not.
struct Extremes {
    Peak amplitude, stroke, every_stroke;
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
// how: the peaks' frequencies solved by the program's step (the values
// shown and written) or directly (a search's candidates).
Extremes measure(const Model& m, const TuneRequest& q, const std::string& file, bool with_stroke = true,
                 Solution how = Solution::step);

struct Tuning {
    double frequency_ratio = 0.0;  // to the frame's mode the damper's `mode` names
    double damping_ratio = 0.0;    // to the damper's own frequency
    // Every tuned damper's, in the request's order (the above are the first's).
    std::vector<double> frequency_ratios, damping_ratios;
    Extremes extremes;  // of the frame as described
    // With robust: the objective and the largest stroke of every tuned
    // mass at the stiffness scales 1 - D, 1, 1 + D.
    std::vector<double> at_scales, strokes_at_scales;
    // The objective the search minimised: the worst over the scales with
    // robust, the objective otherwise.
    double worst = 0.0;
    double worst_stroke = 0.0;  // the largest stroke of every tuned mass, so measured
};

struct TuneResult {
    TuneRequest request;  // the targets and dampers filled in
    bool ground = false;  // the load is the ground's motion
    int32_t nearest_mode = 1;
    double mass_ratio = 0.0;  // to the nearest mode's modal mass at the damper's storey
    // Every tuned damper's, in the request's order (the above are the first's).
    std::vector<int32_t> nearest_modes;
    std::vector<double> mass_ratios;
    std::vector<double> scales;  // with robust: 1 - D, 1, 1 + D
    std::string start_name;   // the classical tuning started from
    Tuning given, start, tuned;
    int evaluations = 0;
    Minimum::Status status = Minimum::Status::converged;
    // With a stroke limit: whether it binds (the optimum without it lets a
    // stroke exceed it), and the largest stroke the optimum without it reaches.
    bool limit_binds = false;
    double unlimited_stroke = 0.0;
};

// "the largest displacement relative to the ground of storey 3", "the
// standard deviation of the drift over storeys 1,2,3", ...
std::string objective_text(const TuneRequest& q);

// The bounds of the search: frequency ratio, then damping ratio.
std::vector<Bound> tuning_bounds();

// Throws Refused for a damper or target out of range, a quantity the
// frame lacks, an absolute acceleration a force load reaches directly, or
// a stroke limit no tuning within the bounds meets (naming the smallest
// stroke found).
TuneResult tune(const Description& d, const TuneRequest& q);

// The description with the frame's stiffness scaled by s, its damping
// ratios kept (the proportional damping follows the scaled frame), every
// tuned mass keeping the absolute spring and dashpot it has on the frame
// of natural frequencies OMEGA.  Scale 1 is the description as it stands.
Description with_frame_scaled(const Description& d, const std::vector<double>& OMEGA, double s);

// The objective of the description as it stands at each stiffness scale;
// the request's targets are filled in as tune fills them.
std::vector<double> detune(const Description& d, TuneRequest& q, const std::vector<double>& scales);

}  // namespace design
