// Frame data: the title block of the results file, the frame mass and
// stiffness matrices and the two modal damping coefficients.
#pragma once

#include <cstdint>

void FRAMIN(const int32_t& LK, const int32_t& LT, const int32_t& LPT, const int32_t& ICD, double* MR,
            double* KR, double& GAMMA1, double& GAMMA2);
