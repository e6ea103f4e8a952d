// Damper matrices: the mass, damping and stiffness blocks of the dampers,
// one routine design for the three kinds.  The kk, kt and tt blocks are
// entered; the tk block is always the transpose of the kt block.
#pragma once

#include <cstdint>

void DAMPM(const int32_t& LK, const int32_t& LT, const int32_t& LPT, const int32_t& ICD, double* Mkk,
           double* Mkt, double* Mtk, double* Mtt);
void DAMPC(const int32_t& LK, const int32_t& LT, const int32_t& LPT, const int32_t& ICD, double* Ckk,
           double* Ckt, double* Ctk, double* Ctt);
void DAMPK(const int32_t& LK, const int32_t& LT, const int32_t& LPT, const int32_t& ICD, double* Kkk,
           double* Kkt, double* Ktk, double* Ktt);
