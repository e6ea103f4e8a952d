// The peaks of the response's curves, never missed: every local maximum
// of every curve over a range of frequencies, found from the grid's
// local maxima and from the damped modes in the range, each refined
// between its neighbouring samples; and the modes outside the range that
// would give a curve a larger value than it reaches inside.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "design/model.h"
#include "design/response.h"

namespace design {

struct CurvePeak {
    std::string curve;  // response's column name
    double lambda = 0.0;
    double value = 0.0;
    bool largest = false;  // the curve's largest value over the range
};

// A damped mode outside the range at which curves reach more than their
// largest value inside it.
struct OutsidePeak {
    int mode = 0;  // 1-based, in ascending frequency
    double lambda = 0.0;
    std::vector<std::string> curves;
};

struct PeakSearch {
    std::vector<std::string> curves;  // in the columns' order
    std::vector<CurvePeak> peaks;     // by curve, then frequency
    std::vector<OutsidePeak> outside;
};

// The samples a search looks at: the grid (the sweep's steps) and, around
// every damped mode inside [grid's first, last], points a quarter of its
// half-power half-width apart; every curve's values at each.
struct Samples {
    std::vector<std::string> curves;
    std::vector<double> lambda;               // ascending
    std::vector<std::vector<double>> values;  // [curve][sample]
};
Samples sample_curves(const Model& m, const std::vector<double>& grid, const std::string& file);

// Every local maximum of every curve over the grid's range, each refined
// to 1e-7 of its frequency (refine: false leaves them at the samples);
// the curve's largest value is at an end of the range when no interior
// maximum reaches it, and then that end is listed.  Throws Refused
// (naming file) on a singular system.
PeakSearch search_peaks(const Model& m, const std::vector<double>& grid, const std::string& file, bool refine);

// The damped modes outside [from, to] that give curves (in curve_names'
// order) more than largest, each curve's largest value inside.
std::vector<OutsidePeak> modes_outside(const Model& m, const std::vector<double>& largest, double from, double to,
                                       const std::string& file);

// The largest value of a function of the response over the frequencies
// that matter, whatever a sweep's range and steps: from 0 to twice the
// highest damped mode's frequency, sampled on a uniform grid and around
// every damped mode as sample_curves does, each local maximum refined to
// 1e-7 of its frequency.  Throws Refused (naming file) on a singular
// system.
// How each frequency is solved: by the program's step (the values shown
// and written), or directly (response_direct: a search's candidates).
enum class Solution { step, direct };
struct Largest {
    double value = 0.0;
    double lambda = 0.0;
};
Largest largest_over_modes(const Model& m, const std::function<double(const Values&)>& of, const std::string& file,
                           Solution how = Solution::step);

// CSV curve,lambda,value,largest.
std::string peaks_csv(const PeakSearch& p);

// The warnings of the modes outside the range, one line each.
std::string outside_warnings(const std::vector<OutsidePeak>& outside, double from, double to);

}  // namespace design
