// Assembly of one matrix of the complete system from the frame matrix and
// the four damper blocks of the same kind: S = [R + kk, kt; tk, tt].
// Pure: writes nothing and needs no unit open.
#pragma once

#include <cstdint>

void ASSEMB(const int32_t& NU, const int32_t& LK, const int32_t& LPT, double* S, const double* kk,
            const double* kt, const double* tk, const double* tt, const double* R);
