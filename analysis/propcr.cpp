#include "analysis/propcr.h"

#include <cstddef>

void PROPCR(const int32_t& LK, const double* OMEGA, const double& GAMMA1, const double& GAMMA2, const double* MR,
            const double* KR, double* CR) {
    const double w1 = OMEGA[0];
    const double w2 = OMEGA[1];
    // The squares are the correctly rounded products; a library power
    // function may differ from them in the last bit.
    const double denominator = w2 * w2 - w1 * w1;
    const double ALPHA = ((w2 * GAMMA1 - w1 * GAMMA2) * w1 * w2 * 2.0) / denominator;
    const double BETA = ((w2 * GAMMA2 - w1 * GAMMA1) * 2.0) / (w2 * w2 - w1 * w1);
    const std::size_t n = static_cast<std::size_t>(LK);
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = 0; i < n; ++i) CR[j * n + i] = KR[j * n + i] * BETA + MR[j * n + i] * ALPHA;
}
