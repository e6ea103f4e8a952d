// The independent reference of the tests that check responses: a complex
// system solved in long double by elimination with row exchanges.
#pragma once

#include <complex>
#include <cstddef>
#include <utility>
#include <vector>

using ComplexL = std::complex<long double>;

// x = A^-1 b, A given by rows.
inline std::vector<ComplexL> complex_solve(std::vector<std::vector<ComplexL>> A, std::vector<ComplexL> b) {
    const std::size_t n = b.size();
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t p = c;
        for (std::size_t r = c + 1; r < n; ++r)
            if (std::abs(A[r][c]) > std::abs(A[p][c])) p = r;
        std::swap(A[p], A[c]);
        std::swap(b[p], b[c]);
        for (std::size_t r = c + 1; r < n; ++r) {
            const ComplexL f = A[r][c] / A[c][c];
            for (std::size_t k = c; k < n; ++k) A[r][k] -= f * A[c][k];
            b[r] -= f * b[c];
        }
    }
    std::vector<ComplexL> x(n);
    for (std::size_t i = n; i-- > 0;) {
        ComplexL s = b[i];
        for (std::size_t k = i + 1; k < n; ++k) s -= A[i][k] * x[k];
        x[i] = s / A[i][i];
    }
    return x;
}
