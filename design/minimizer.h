// A minimiser of a function of a few bounded parameters that may have
// kinks: the largest of several peaks is smooth only where one peak is the
// largest, and its minimum lies where two of them are equal.
//
// Method: Nelder and Mead's simplex, which uses values only (the gradient
// does not exist at the minimum of such a maximum), restarted around its
// best point until a restart gains nothing: a
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
    // best or less (a few units in the last place: where a smooth
    // minimum's values no longer tell its points apart) ...
    double value_tolerance = 1e-14;
    // ... or its points by this fraction of the box or less: far below
    // the six digits a description carries, and the first to stop a
    // search whose values are rounded more coarsely than the above (a
    // peak refined in frequency to 1e-7 of its own).
    double point_tolerance = 1e-8;
    // The search ends when this many restarts in a row gain nothing,
    // each restart's simplex restart_shrink times the one before: a fresh
    // simplex around the best point that gains nothing shows the last
    // one did not merely flatten against a kink; one restart doubles the
    // cost, more gained nothing on the functions tested.
    int restarts_without_gain = 1;
    double restart_shrink = 0.3;
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
