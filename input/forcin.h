// Forcing amplitudes at cos and at sin, and the range and step of the
// forcing frequency.
#pragma once

#include <cstdint>

#include "input/limits.h"

void FORCIN(const int32_t& LK, const int32_t& ICD, double& LAMMIN, double& LAMMAX, double& DLAM, double* PC,
            double* PS);

// The forcing frequencies of the sweep in order: LAMBDA accumulated by
// repeated addition from LAMMIN - DLAM, never recomputed from a count, so
// every value carries the rounding of the additions.  The last step is the
// first whose LAMBDA is not below LAMMAX; there is always at least one.
class SweepLambdas {
public:
    SweepLambdas(double LAMMIN, double LAMMAX, double DLAM)
        : LAMBDA_(LAMMIN - DLAM), LAMMAX_(LAMMAX), DLAM_(DLAM) {}
    // The next step's LAMBDA; false when the sweep has ended.
    bool next(double& LAMBDA) {
        if (ended_) return false;
        LAMBDA_ = DLAM_ + LAMBDA_;
        ended_ = !(LAMMAX_ > LAMBDA_);
        LAMBDA = LAMBDA_;
        return true;
    }

private:
    double LAMBDA_;
    double LAMMAX_;
    double DLAM_;
    bool ended_ = false;
};

// The number of steps of the sweep from LAMMIN to LAMMAX by DLAM, counted
// with the sweep's own arithmetic, or 0 when it would make more than limit.
long sweep_steps(double LAMMIN, double LAMMAX, double DLAM, long limit);

inline bool sweep_ends(double LAMMIN, double LAMMAX, double DLAM) {
    return sweep_steps(LAMMIN, LAMMAX, DLAM, kMaxSweepSteps) != 0;
}
