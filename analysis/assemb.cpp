#include "analysis/assemb.h"

#include "input/matrix_view.h"

void ASSEMB(const int32_t& NU, const int32_t& LK, const int32_t& LPT, double* S, const double* kk,
            const double* kt, const double* tk, const double* tt, const double* R) {
    using view = MatrixView<const double>;
    const MatrixView<double> s(S, NU);
    const view r(R, LK), KK(kk, LK), KT(kt, LK), TK(tk, LPT), TT(tt, LPT);
    for (int32_t i = 1; i <= LK; ++i)
        for (int32_t j = 1; j <= LK; ++j) s(i, j) = r(i, j) + KK(i, j);
    for (int32_t i = 1; i <= LK; ++i)
        for (int32_t j = 1; j <= LPT; ++j) s(i, LK + j) = KT(i, j);
    for (int32_t i = 1; i <= LPT; ++i)
        for (int32_t j = 1; j <= LK; ++j) s(LK + i, j) = TK(i, j);
    for (int32_t i = 1; i <= LPT; ++i)
        for (int32_t j = 1; j <= LPT; ++j) s(LK + i, LK + j) = TT(i, j);
}
