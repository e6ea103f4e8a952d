// Proportional damping of the frame: CR = ALPHA MR + BETA KR with the
// modal damping ratios GAMMA1 and GAMMA2 in the two lowest modes.
#pragma once

#include <cstdint>

// CR (LK x LK) from OMEGA's two lowest values (OMEGA(2) is 0 for a single
// storey); writes nothing.
void PROPCR(const int32_t& LK, const double* OMEGA, const double& GAMMA1, const double& GAMMA2, const double* MR,
            const double* KR, double* CR);
