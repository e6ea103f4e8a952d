// From the recorded sweep to the curves a picture shows: the chosen
// unknowns, the quantity (displacement, velocity or acceleration), the phase
// lag, the frequency axis in rad/s or Hz; the curves as CSV, written while
// the file is read; and the curves thinned for the picture.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "plot/decimate.h"
#include "plot/recorded.h"

namespace plot {

enum class Quantity { displacement, velocity, acceleration };

struct View {
    Quantity quantity = Quantity::displacement;
    bool hz = false;                 // frequency axis f = lambda / 2 pi instead of lambda
    std::vector<int32_t> unknowns;   // in this order; empty: every unknown the sweep holds
};

// The points a picture draws of one panel of one curve.
struct Trace {
    std::vector<double> x, y;
};

struct Series {
    int32_t unknown = 0;
    Trace amplitude;  // of the quantity
    Trace phase;      // lag behind cos(lambda t) in degrees, continuous along the sweep
    std::string label;  // the curve's name in the key; empty: the unknown's number
    // Drawn against the amplitude panel's own right-hand axis: a quantity
    // of another size (a tuned mass's stroke) that would otherwise squash
    // the other curves.
    bool right_axis = false;
};

struct Curves {
    Quantity quantity = Quantity::displacement;
    bool hz = false;
    double from = 0.0, to = 0.0;  // the first and the last step on the chosen axis
    long steps = 0;
    std::vector<Series> series;
    std::vector<double> natural;  // natural frequencies on the chosen axis, ascending
    std::string right_axis_label;  // the right-hand amplitude axis's name, when a series uses it
};

// Takes the steps of a recorded sweep as they are read: each step's CSV
// row is made at once and handed to csv in pieces, and the curves are kept
// thinned for the picture.
class CurveMaker : public RecordSink {
public:
    // Takes CSV text; returns what failed, or empty.  May be empty itself: no CSV.
    using CsvOut = std::function<std::string(std::string_view)>;

    CurveMaker(View view, CsvOut csv, std::size_t bins = Decimator::kBins);

    std::string begin(Kind kind, const std::vector<int32_t>& unknowns, const std::vector<double>& omega) override;
    std::string step(double lambda, const double* amp, const double* ac, const double* as) override;

    // The CSV's last piece; what failed, or empty.
    std::string finish_csv();
    // The CSV could not be written (the reading was stopped for it).
    const std::string& output_error() const { return output_error_; }

    // The natural frequencies the file holds.
    const std::vector<double>& omega() const { return omega_; }
    // The curves for the picture; natural: the natural frequencies in rad/s.
    Curves curves(const std::vector<double>& natural) const;

private:
    std::string put_csv(bool last);

    View view_;
    CsvOut csv_;
    std::size_t bins_;
    std::string pending_;        // CSV text not yet handed on
    std::string output_error_;
    std::vector<std::size_t> chosen_;  // the file's curves drawn, in the order drawn
    std::vector<int32_t> unknowns_;
    std::vector<double> omega_;
    struct Track {
        Decimator amplitude, phase;
        double wrapped = 0.0, unwrapped = 0.0;  // the phase at the step before
    };
    std::vector<Track> tracks_;
    double from_ = 0.0, to_ = 0.0;
    long steps_ = 0;
};

// The curves and the CSV of a whole sweep in memory.
struct CurvesMade {
    Curves curves;
    std::string csv;
    std::string error;  // an unknown the sweep does not hold, a value too large
};
CurvesMade make_curves(const Sweep& sweep, const View& view);

// The angle in degrees brought into (-180, 180]; -0 becomes 0.
double wrap_degrees(double degrees);

// A wrapped phase made continuous along the sweep: each step differs from
// the one before by at most half a turn.
std::vector<double> unwrap_degrees(const std::vector<double>& wrapped);

// The shortest text that reads back to the same double.
std::string shortest(double v);

}  // namespace plot
