// Natural circular frequencies and normalised mode shapes of the frame:
// sorted ascending, each mode scaled so that its largest component is 1,
// and reported in the results file.
#pragma once

#include <cstdint>

void MODES(const double* AE, const int32_t& LK, const int32_t& LK2, double* OMEGA, double* PHI);
