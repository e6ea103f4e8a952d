// From the recorded sweep to the curves a picture shows: the chosen
// unknowns, the quantity (displacement, velocity or acceleration), the phase
// lag, the frequency axis in rad/s or Hz; and the curves as CSV.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plot/recorded.h"

namespace plot {

enum class Quantity { displacement, velocity, acceleration };

struct View {
    Quantity quantity = Quantity::displacement;
    bool hz = false;                 // frequency axis f = lambda / 2 pi instead of lambda
    std::vector<int32_t> unknowns;   // in this order; empty: every unknown the sweep holds
};

struct Series {
    int32_t unknown = 0;
    std::vector<double> amplitude;  // of the quantity
    std::vector<double> phase;      // lag behind cos(lambda t), degrees in (-180, 180]
};

struct Curves {
    Quantity quantity = Quantity::displacement;
    bool hz = false;
    std::vector<double> x;        // the frequency of every step, on the chosen axis
    std::vector<Series> series;
    std::vector<double> natural;  // natural frequencies on the chosen axis, ascending
};

struct CurvesMade {
    Curves curves;
    std::string error;  // an unknown the sweep does not hold
};

CurvesMade make_curves(const Sweep& sweep, const View& view);

// The angle in degrees brought into (-180, 180]; -0 becomes 0.
double wrap_degrees(double degrees);

// A wrapped phase made continuous along the sweep: each step differs from
// the one before by at most half a turn.
std::vector<double> unwrap_degrees(const std::vector<double>& wrapped);

// The shortest text that reads back to the same double.
std::string shortest(double v);

// Header "lambda" (or "f_hz"), then "amplitude_k,phase_k" per unknown; one
// row per step, CR-less lines.
std::string to_csv(const Curves& curves);

}  // namespace plot
