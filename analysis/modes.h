// Natural circular frequencies and normalised mode shapes of the frame:
// sorted ascending, each mode scaled so that its largest component is 1.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/eigen.h"

// OMEGA holds at least this many values: the damping of the frame reads
// the two lowest frequencies, the second zero for a single storey.
inline constexpr int32_t kMinOmega = 2;

// From AE as EIGEN leaves it: OMEGA (ascending; room for max(LK, 2)
// values, zero beyond LK) and PHI (LK x LK, mode i in row i, divided by its
// first component of largest magnitude).  Writes nothing.
void MODES(const double* AE, const int32_t& LK, const int32_t& LK2, double* OMEGA, double* PHI);

// The frame's modes from its mass and stiffness matrices (LK x LK,
// column-major), computed without any unit open.  When the rotations do
// not converge status says so and OMEGA and PHI are not meaningful.
struct FrameModes {
    EigenStatus status = EigenStatus::converged;
    std::vector<double> OMEGA;  // max(LK, 2) values
    std::vector<double> PHI;    // LK x LK
};
FrameModes frame_modes(const double* MR, const double* KR, int32_t LK);
