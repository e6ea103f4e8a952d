// The response of every unknown over the sweep: the amplitudes and phases
// of the storeys and the tuned masses, the tuned masses' strokes and the
// storeys' drifts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "design/datafile.h"

namespace design {

struct Response {
    std::vector<double> lambda;                  // every step
    std::vector<std::vector<double>> amplitude;  // [unknown][step], NU unknowns
    std::vector<std::vector<double>> phase;      // degrees in (-180, 180]
    std::vector<std::vector<double>> stroke;     // [tuned mass][step]
    std::vector<std::vector<double>> stroke_phase;
    std::vector<std::vector<double>> drift;  // [storey][step], shear frames only
    // The steps at which the tuned masses' motion could not be refined to
    // 1e-8 of its amplitude.
    std::vector<double> inaccurate;
};

// The system of the model as assembled for the sweep.
struct Assembled {
    std::vector<double> OMEGA, PHI, CR, MS, CS, KS;
};
Assembled assemble_model(const Model& m);

// The whole sweep; throws Refused (naming file) on a singular step.
Response compute_response(const Model& m, const std::string& file);

// The response at one frequency: amplitude of unknown k (1-based) and
// every stroke, from the refined solution.
struct Point {
    std::vector<double> amplitude, stroke;
    bool singular = false;
};
class Stepper;
Point response_at(Stepper& s, const Model& m, double LAMBDA);

// The CSV of the response: lambda (or f_hz), amplitude_k,phase_k for every
// unknown, stroke_t for every tuned mass, drift_k for every storey.
std::string response_csv(const Response& r, bool hz);

}  // namespace design
