// A minimiser of a function of a few bounded parameters that may have
// kinks: the largest of several peaks is smooth only where one peak is the
// largest, and its minimum lies where two of them are equal.
//
// Method: Nelder and Mead's simplex, which uses values only (the gradient
// does not exist at the minimum of such a maximum), restarted around its
// best point with a smaller simplex until a restart gains nothing: a
// single simplex may flatten against a kink and stop short of the minimum,
// a new one spanning the kink does not.  Each parameter is searched in its
// box mapped onto [0, 1] (linearly, or by its logarithm where its size
// matters more than its digits, as a damping ratio's does); a point
// outside the box is moved onto its face.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace design {

struct Bound {
    double lower = 0.0, upper = 1.0;
    bool logarithmic = false;  // searched by its logarithm (lower > 0)
};

struct MinimizerSettings {
    // The first simplex's edges, as a fraction of each box: large enough
    // to step over a kink near the start, small enough to stay in its
    // basin.
    double first_step = 0.05;
    // A simplex stops when its values differ by this fraction of the
    // best or less: below the digits the objectives carry (their peaks
    // are refined to 1e-7 in frequency, so to about 1e-14 in value).
    double value_tolerance = 1e-12;
    // ... and its points by this fraction of the box or less: 1e-7 of the
    // box is below the six digits a description carries.
    double point_tolerance = 1e-8;
    // Each restart's simplex is this fraction of the one before; the
    // search ends when a restart gains nothing and the simplex is below
    // smallest_step.
    double restart_shrink = 0.3;
    double smallest_step = 1e-3;
    // Beyond this many evaluations the search stops with its best point:
    // a well-posed tuning takes a few hundred.
    int max_evaluations = 3000;
};

struct Minimum {
    enum class Status {
        converged,        // the simplex shrank to the tolerances, restarts gained nothing
        evaluation_limit, // stopped at max_evaluations with the best point so far
        at_bound,         // converged with a parameter on its bound
    };
    std::vector<double> x;
    double value = 0.0;
    Status status = Status::converged;
    int evaluations = 0;
};

std::string status_text(Minimum::Status s);

class Minimizer {
public:
    // A non-finite value ranks after every finite one: such a point is
    // never the answer unless nothing else is finite.
    using Objective = std::function<double(const std::vector<double>&)>;

    explicit Minimizer(std::vector<Bound> bounds, MinimizerSettings settings = {});

    // The minimum of f from start (moved into the box when outside).
    Minimum minimize(const Objective& f, std::vector<double> start) const;

    const MinimizerSettings& settings() const { return settings_; }

private:
    std::vector<Bound> bounds_;
    MinimizerSettings settings_;
};

}  // namespace design
