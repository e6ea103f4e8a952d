// The model storage the analysis works in: the problem's sizes and the
// arrays the main program owns for the whole run.  Every array is viewed
// packed at its start, with the current sizes as leading dimension.
#pragma once

#include <cstdint>

struct ModelStorage {
    int32_t LK = 0, LK2 = 0, LT = 0, LPT = 0, NU = 0, NU2 = 0;
    // The complete system (NU x NU), the frame (LK x LK) and the damper
    // blocks (kk: LK x LK, kt: LK x LPT, tk: LPT x LK, tt: LPT x LPT) of
    // masses, damping and stiffnesses.
    double *MS = nullptr, *MR = nullptr, *Mkk = nullptr, *Mkt = nullptr, *Mtk = nullptr, *Mtt = nullptr;
    double *CS = nullptr, *CR = nullptr, *Ckk = nullptr, *Ckt = nullptr, *Ctk = nullptr, *Ctt = nullptr;
    double *KS = nullptr, *KR = nullptr, *Kkk = nullptr, *Kkt = nullptr, *Ktk = nullptr, *Ktt = nullptr;
    // The modes (PHI: LK x LK, OMEGA: at least two values), the
    // eigenproblem's work (AE: LK x LK2), the forces (PC, PS: LK) and one
    // step's amplitudes of the frame unknowns (AC, AS, AMP: LK).
    double *PHI = nullptr, *AE = nullptr, *PC = nullptr, *PS = nullptr, *OMEGA = nullptr;
    double *AC = nullptr, *AS = nullptr, *AMP = nullptr;
};
