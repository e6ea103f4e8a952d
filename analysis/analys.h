// The analysis driver: input of the system data, modal analysis of the
// frame, proportional damping, assembly, the choice of plotted unknowns
// and the resonance sweep with its records.  The one place of the analysis
// that turns results into records and stops.
#pragma once

#include <cstdint>

#include "analysis/storage.h"

// ICD: 1 when the model is typed at the console (and recorded in the data
// file), 2 when it is read from the data file.
void ANALYS(const ModelStorage& model, const int32_t& ICD);
