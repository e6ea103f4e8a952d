// The records of the analysis: every text the analysis writes to the
// results and plot files, kept apart from its computing.
#pragma once

#include <cstdint>

// The natural frequencies and the normalised modes as MODES leaves them.
void list_modes(const double* OMEGA, const double* PHI, int32_t LK);

// The proportional damping matrix of the frame under its heading.
void list_damping(const double* CR, int32_t LK);
