#include "analysis/assemb.h"

#include <cstddef>

void ASSEMB(const int32_t& NU, const int32_t& LK, const int32_t& LPT, double* S, const double* kk,
            const double* kt, const double* tk, const double* tt, const double* R) {
    auto s = [&](int32_t i, int32_t j) -> double& {
        return S[static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(NU) + static_cast<std::size_t>(i - 1)];
    };
    auto el = [](const double* a, int32_t rows, int32_t i, int32_t j) {
        return a[static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(rows) + static_cast<std::size_t>(i - 1)];
    };
    for (int32_t i = 1; i <= LK; ++i)
        for (int32_t j = 1; j <= LK; ++j) s(i, j) = el(R, LK, i, j) + el(kk, LK, i, j);
    for (int32_t i = 1; i <= LK; ++i)
        for (int32_t j = 1; j <= LPT; ++j) s(i, LK + j) = el(kt, LK, i, j);
    for (int32_t i = 1; i <= LPT; ++i)
        for (int32_t j = 1; j <= LK; ++j) s(LK + i, j) = el(tk, LPT, i, j);
    for (int32_t i = 1; i <= LPT; ++i)
        for (int32_t j = 1; j <= LPT; ++j) s(LK + i, LK + j) = el(tt, LPT, i, j);
}
