// Modal analysis of the frame without dampers: KR x = lambda MR x.
//
// The mass block is turned in place into the inverse of its Cholesky factor
// while the same row operations carry the stiffness block along, the
// reduction to the standard symmetric matrix is completed column by column,
// and plane rotations diagonalise it.  Every operation is written in the
// order and shape in which it must round; nothing is reassociated.
#include "analysis/eigen.h"

#include <cmath>
#include <cstddef>

#include "input/matrix_view.h"


namespace {

using index_t = std::ptrdiff_t;

// Largest off-diagonal magnitude at which the rotations stop (absolute).
constexpr double kThreshold = 1e-10;
// Rotations after which the iteration is judged instead of continued.
constexpr long kRotationCap = 100000;
// Off-diagonal size, relative to the largest diagonal magnitude, that is
// accepted as converged when rounding keeps the absolute threshold out of
// reach (entries so large that their rounding noise exceeds it).
constexpr double kRelativeAcceptance = 1e-12;

using matrix = MatrixView<double>;

// The rotation chosen on the pivot a = A(p,q) with d = A(q,q) - A(p,p): a
// fixed tangent-like t = +-0.5 when the pivot dominates the difference of
// the diagonal elements, t = a / (2d) otherwise.  sn and cn then satisfy
// sn^2 + cn^2 = 1 and reduce A(p,q) without zeroing it in one step.
struct rotation {
    double sn;
    double cn;
};

rotation make_rotation(double a, double d) {
    double t = (d * a >= 0) ? 0.5 : -0.5;
    if (std::fabs(a) < std::fabs(d)) t = a / (2 * d);
    const double w = 2 / (t * t + 1);
    return {w * t, 1 - w};
}

// Columns p and q of rows 1..N, then rows p and q of columns 1..N2 (the
// carried columns included), then the two pivot elements made equal again.
void apply_rotation(const matrix& A, index_t N, index_t N2, index_t p, index_t q, rotation r) {
    const double sn = r.sn;
    const double cn = r.cn;
    for (index_t i = 1; i <= N; ++i) {
        const double x = A(i, p);
        const double y = A(i, q);
        A(i, p) = y * sn + x * cn;
        A(i, q) = y * cn - x * sn;
    }
    for (index_t k = 1; k <= N2; ++k) {
        const double x = A(p, k);
        const double y = A(q, k);
        A(p, k) = y * sn + x * cn;
        A(q, k) = y * cn - x * sn;
    }
    const double mean = (A(p, q) + A(q, p)) / 2;
    A(p, q) = mean;
    A(q, p) = mean;
}

// After the rotation cap: is the largest magnitude over the strict upper
// triangle negligible against the largest one on the diagonal?
bool converged_relative(const matrix& A, index_t N) {
    double off = 0;
    double diag = 0;
    for (index_t i = 1; i <= N; ++i) {
        if (std::fabs(A(i, i)) > diag) diag = std::fabs(A(i, i));
        for (index_t j = i + 1; j <= N; ++j)
            if (std::fabs(A(i, j)) > off) off = std::fabs(A(i, j));
    }
    return off <= kRelativeAcceptance * diag;
}

}  // namespace

EigenStatus JACOBI(double* storage, const int32_t& rows, const int32_t& columns) {
    const matrix A{storage, rows};
    const index_t N = rows;
    const index_t N2 = columns;
    for (long rotations = 1;; ++rotations) {
        // Pivot search: (p, q) is the first, by rows then columns, of the
        // largest magnitudes in the strict upper triangle.
        double amax = 0;
        index_t p = 0;
        index_t q = 0;
        for (index_t i = 1; i <= N - 1; ++i) {
            for (index_t j = i + 1; j <= N; ++j) {
                if (std::fabs(A(i, j)) > amax) {
                    amax = std::fabs(A(i, j));
                    p = i;
                    q = j;
                }
            }
        }
        // Already diagonal: nothing to rotate.
        if (amax == 0) return EigenStatus::converged;
        // The block is again symmetric with A(p,q) reduced; the carried
        // columns have taken the same row rotation.
        apply_rotation(A, N, N2, p, q, make_rotation(A(p, q), A(q, q) - A(p, p)));
        // The threshold judges the pivot found before this last rotation.
        if (amax <= kThreshold) return EigenStatus::converged;
        if (rotations == kRotationCap)
            return converged_relative(A, N) ? EigenStatus::converged : EigenStatus::not_converged;
    }
}

void load_eigenproblem(double* AE, const double* KR, const double* MR, int32_t LK) {
    const index_t n = LK;
    for (index_t k = 0; k < n * n; ++k) {
        AE[k] = KR[k];
        AE[n * n + k] = MR[k];
    }
}

EigenStatus EIGEN(double* AE, const int32_t& LK, const int32_t& LK2) {
    const matrix A{AE, LK};
    const index_t n = LK;
    if (n == 1) {
        A(1, 1) = A(1, 1) / A(1, 2);
        return EigenStatus::converged;
    }
    // Elimination of the mass block by rows.  Row i is divided by the
    // square root of its pivot (s = 1 - t in the pass j = i multiplies it by
    // t) and then removed from the rows below it, over all 2n columns, while
    // the mass block column n+i takes the inverse factor.  After the loop
    // the mass block holds L^-1 (zeros above its diagonal) and the
    // stiffness block L^-1 KR.
    for (index_t i = 1; i <= n; ++i) {
        double t = 1 / std::sqrt(A(i, n + i));
        A(i, n + i) = 1 - t;
        for (index_t j = i; j <= n; ++j) {
            const double s = A(i, n + j);
            A(j, n + i) = t;
            for (index_t k = 1; k <= 2 * n; ++k) A(j, k) = A(j, k) - A(i, k) * s;
            A(i, n + j) = t;
            t = 0;
        }
    }
    // Completion of the reduction, last column first so that the columns
    // k <= i of L^-1 KR are still intact while column i is overwritten.
    // The stiffness block then holds S = L^-1 KR L^-T.
    for (index_t i = n; i >= 1; --i) {
        for (index_t j = 1; j <= n; ++j) {
            double s = 0;
            for (index_t k = 1; k <= i; ++k) s = s + A(i, n + k) * A(j, k);
            A(j, i) = s;
        }
    }
    // Rotations: the stiffness block ends diagonal (the eigenvalues) and
    // the mass block, carried along, ends with the mass-normalised
    // eigenvectors as its rows.
    return JACOBI(AE, LK, LK2);
}
