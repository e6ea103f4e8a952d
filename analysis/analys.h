// The analysis driver: input of the system data, modal analysis of the
// frame, proportional damping, assembly, the choice of plotted unknowns
// and the resonance sweep with its records.
#pragma once

#include <cstdint>

void ANALYS(const int32_t& LK, const int32_t& LK2, const int32_t& LT, const int32_t& LPT, const int32_t& NU,
            const int32_t& NU2, const int32_t& ICD, double* MS, double* MR, double* Mkk, double* Mkt, double* Mtk,
            double* Mtt, double* CS, double* CR, double* Ckk, double* Ckt, double* Ctk, double* Ctt, double* KS,
            double* KR, double* Kkk, double* Kkt, double* Ktk, double* Ktt, double* PHI, double* AE, double* PC,
            double* PS, double* OMEGA, double* AH, double* XH, double* AC, double* AS, double* AMP);
