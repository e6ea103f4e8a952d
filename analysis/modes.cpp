#include "analysis/modes.h"

#include <cmath>
#include <cstddef>
#include <utility>

#include "input/matrix.h"
#include "textio/io.h"

void MODES(const double* AE, const int32_t& LK, const int32_t& LK2, double* OMEGA, double* PHI) {
    (void)LK2;
    const int32_t n = LK;
    auto ae = [&](int32_t i, int32_t j) {
        return AE[static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(n) + static_cast<std::size_t>(i - 1)];
    };
    auto phi = [&](int32_t i, int32_t j) -> double& {
        return PHI[static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(n) + static_cast<std::size_t>(i - 1)];
    };
    for (int32_t i = 1; i <= n; ++i) OMEGA[i - 1] = std::sqrt(ae(i, i));
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
    textio::write_fmt(kResultsUnit, "(2X,'CZESTOSCI DRGAN WLASNYCH')");
    write_vector(kResultsUnit, "(5(2X,E12.6))", OMEGA, n);

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
    for (int32_t i = 1; i <= n; ++i) {
        textio::write_fmt(kResultsUnit, "(2X,'WEKTOR WLASNY - UNORMOWANY I=',I2)", {i});
        textio::Out row[20];
        for (int32_t j = 1; j <= n; ++j) row[j - 1] = phi(i, j);
        textio::write_fmt(kResultsUnit, "(5(2X,E12.6))", row, static_cast<std::size_t>(n));
    }
}
