// The response of every unknown over the sweep under the harmonic load
// (storey forces or the ground's motion): the amplitudes and phases of the
// storeys and the tuned masses (relative to the ground), their absolute
// accelerations, the tuned masses' strokes, the storeys' drifts and drift
// ratios, and the base shear.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "design/model.h"

namespace design {

// Every curve at one frequency.
struct Values {
    std::vector<double> amplitude, phase;                  // NU; degrees in (-180, 180]
    std::vector<double> acceleration, acceleration_phase;  // NU, absolute
    std::vector<double> stroke, stroke_phase;              // per tuned mass
    std::vector<double> drift, drift_ratio;                // per storey, shear frames (drift_ratio with heights)
    std::vector<double> base_shear;                        // one value, or none without an influence vector
};

struct Response {
    std::vector<double> lambda;                  // every step
    std::vector<std::vector<double>> amplitude;  // [unknown][step], NU unknowns
    std::vector<std::vector<double>> phase;      // degrees in (-180, 180]
    std::vector<std::vector<double>> acceleration, acceleration_phase;
    std::vector<std::vector<double>> stroke;  // [tuned mass][step]
    std::vector<std::vector<double>> stroke_phase;
    std::vector<std::vector<double>> drift;  // [storey][step], shear frames only
    std::vector<std::vector<double>> drift_ratio;
    std::vector<double> base_shear;  // empty without an influence vector
    // The steps at which the tuned masses' motion could not be refined to
    // 1e-8 of its amplitude.
    std::vector<double> inaccurate;
};

// The curves of a model by their CSV column names, in the columns' order
// (phases left out): amplitude_k, acceleration_k, stroke_t, drift_k,
// drift_ratio_k, base_shear.
std::vector<std::string> curve_names(const Model& m);
// The values of those curves, in the same order.
std::vector<double> curve_values(const Values& v);

// The whole sweep; throws Refused (naming file) on a singular step.
Response compute_response(const Model& m, const std::string& file);

class Stepper;
// The model's system, ready to be solved one frequency at a time.
Stepper stepper_of(const Model& m);

// The response at one frequency, from the refined solution.
struct Point : Values {
    bool singular = false;
};
Point response_at(Stepper& s, const Model& m, double LAMBDA);

// The same response from one complex factorisation of the dynamic
// stiffness, (K - LAMBDA^2 M + i LAMBDA C) z = PC - i PS with u = Re(z
// e^{i LAMBDA t}) = AC cos + AS sin, of order NU instead of 2 NU and
// without the step's own check: for a search that evaluates thousands of
// candidates at hundreds of frequencies each.  Agrees with response_at to
// rounding amplified by the system's condition; the phases are left
// empty.  What is shown or written comes from response_at.
Point response_direct(const Model& m, double LAMBDA);
// The same, its work space and the base shear's sums kept from one
// frequency to the next; the model must outlive it.
class DirectSolver {
public:
    explicit DirectSolver(const Model& m);
    ~DirectSolver();
    DirectSolver(const DirectSolver&) = delete;
    DirectSolver& operator=(const DirectSolver&) = delete;
    Point at(double LAMBDA);

private:
    struct Work;
    const Model& m_;
    std::unique_ptr<Work> work_;
};

// The CSV of the response: lambda (or f_hz), amplitude_k,phase_k for every
// unknown, acceleration_k for every unknown, stroke_t for every tuned
// mass, drift_k for every storey, drift_ratio_k with heights, base_shear
// with an influence vector.
std::string response_csv(const Response& r, bool hz);

}  // namespace design
