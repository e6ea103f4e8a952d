// Forcing amplitudes at cos and at sin, and the range and step of the
// forcing frequency.
#pragma once

#include <cstdint>

void FORCIN(const int32_t& LK, const int32_t& ICD, double& LAMMIN, double& LAMMAX, double& DLAM, double* PC,
            double* PS);

// The most steps a frequency range may make.
inline constexpr long kMaxSweepSteps = 1000000;

// The number of steps of the sweep from LAMMIN to LAMMAX by DLAM, counted
// with the sweep's own arithmetic, or 0 when it would make more than limit.
long sweep_steps(double LAMMIN, double LAMMAX, double DLAM, long limit);

inline bool sweep_ends(double LAMMIN, double LAMMAX, double DLAM) {
    return sweep_steps(LAMMIN, LAMMAX, DLAM, kMaxSweepSteps) != 0;
}
