// The factoring exactly as its loops are written, one element at a time:
// the reference that every vectorised kernel must match bit for bit, in
// the tests and in the fuzz target alike.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

inline void reference_decomp(double* a, int32_t n, double& dfail, int32_t& ifail) {
    auto A = [&](int32_t i, int32_t j) -> double& {
        return a[static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(n) + static_cast<std::size_t>(i - 1)];
    };
    for (int32_t i = 1; i <= n; ++i) {
        const double d = A(i, i);
        if (!(std::fabs(d) >= 1e-20) || (d - 1) + 1 == 0) {
            dfail = d;
            ifail = i;
            return;
        }
        A(i, i) = d - 1;
        for (int32_t j = i + 1; j <= n; ++j) {
            const double f = A(i, j) / d;
            for (int32_t k = 1; k <= n; ++k) A(k, j) = A(k, j) - A(k, i) * f;
        }
    }
    dfail = 0;
    ifail = 0;
}
