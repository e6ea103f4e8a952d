#include "analysis/modes.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "input/matrix_view.h"

void MODES(const double* AE, const int32_t& LK, const int32_t& LK2, double* OMEGA, double* PHI) {
    (void)LK2;
    const int32_t n = LK;
    const MatrixView<const double> ae(AE, n);
    const MatrixView<double> phi(PHI, n);
    for (int32_t i = 1; i <= n; ++i) OMEGA[i - 1] = std::sqrt(ae(i, i));
    for (int32_t i = n; i < kMinOmega; ++i) OMEGA[i] = 0.0;
    for (int32_t i = 1; i <= n; ++i)
        for (int32_t j = 1; j <= n; ++j) phi(i, j) = ae(i, n + j);

    // Exchange sort by adjacent pairs; equal frequencies keep their order.
    for (bool exchanged = true; exchanged;) {
        exchanged = false;
        for (int32_t i = 2; i <= n; ++i) {
            if (OMEGA[i - 2] > OMEGA[i - 1]) {
                std::swap(OMEGA[i - 2], OMEGA[i - 1]);
                for (int32_t j = 1; j <= n; ++j) std::swap(phi(i - 1, j), phi(i, j));
                exchanged = true;
            }
        }
    }

    // Every mode divided by its first component of largest magnitude.
    for (int32_t i = 1; i <= n; ++i) {
        double largest = 0.0;
        double divisor = 0.0;
        for (int32_t j = 1; j <= n; ++j) {
            if (std::fabs(phi(i, j)) > largest) {
                largest = std::fabs(phi(i, j));
                divisor = phi(i, j);
            }
        }
        for (int32_t j = 1; j <= n; ++j) phi(i, j) = phi(i, j) / divisor;
    }
}

FrameModes frame_modes(const double* MR, const double* KR, int32_t LK) {
    const std::size_t n = static_cast<std::size_t>(LK);
    const int32_t LK2 = LK + LK;
    std::vector<double> AE(2 * n * n);
    load_eigenproblem(AE.data(), KR, MR, LK);
    FrameModes m;
    m.OMEGA.assign(std::max<std::size_t>(n, kMinOmega), 0.0);
    m.PHI.assign(n * n, 0.0);
    m.status = EIGEN(AE.data(), LK, LK2);
    if (m.status == EigenStatus::converged) MODES(AE.data(), LK, LK2, m.OMEGA.data(), m.PHI.data());
    return m;
}
