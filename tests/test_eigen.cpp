// Modal analysis of the frame: the generalised eigenproblem K x = lambda M x
// reduced in place and diagonalised by plane rotations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/eigen.h"

namespace {

// Dense n x n matrix, row-major, for building inputs and checking results.
using square = std::vector<std::vector<double>>;

square zeros(int n) { return square(n, std::vector<double>(n, 0.0)); }

// The work matrix: K in columns 1..n, M in columns n+1..2n, column-major
// with n rows.
struct work {
    int32_t n;
    std::vector<double> ae;

    work(const square& k, const square& m)
        : n(static_cast<int32_t>(k.size())), ae(static_cast<std::size_t>(2 * n) * n) {
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                at(i + 1, j + 1) = k[i][j];
                at(i + 1, n + j + 1) = m[i][j];
            }
    }
    double& at(int i, int j) { return ae[static_cast<std::size_t>(j - 1) * n + (i - 1)]; }
    void eigen() {
        const int32_t n2 = 2 * n;
        EXPECT_EQ(EIGEN(ae.data(), n, n2), EigenStatus::converged);
    }
    double lambda(int i) { return at(i, i); }
    std::vector<double> vector(int i) {
        std::vector<double> x(n);
        for (int j = 1; j <= n; ++j) x[j - 1] = at(i, n + j);
        return x;
    }
};

std::vector<double> times(const square& a, const std::vector<double>& x) {
    std::vector<double> y(x.size(), 0.0);
    for (std::size_t i = 0; i < x.size(); ++i)
        for (std::size_t j = 0; j < x.size(); ++j) y[i] += a[i][j] * x[j];
    return y;
}

double dot(const std::vector<double>& x, const std::vector<double>& y) {
    double s = 0;
    for (std::size_t i = 0; i < x.size(); ++i) s += x[i] * y[i];
    return s;
}

double norm_inf(const std::vector<double>& x) {
    double s = 0;
    for (double v : x) s = std::max(s, std::fabs(v));
    return s;
}

double norm_inf(const square& a) {
    double s = 0;
    for (const auto& row : a) {
        double r = 0;
        for (double v : row) r += std::fabs(v);
        s = std::max(s, r);
    }
    return s;
}

// Every returned pair satisfies K x = lambda M x (to the accuracy the
// absolute stopping threshold leaves) and the vectors are M-orthonormal to
// rounding (the rotations are orthogonal, so this holds however far the
// iteration went).
void expect_mass_normalised_eigenpairs(work& w, const square& k, const square& m,
                                       double residual_tol) {
    const int n = w.n;
    for (int i = 1; i <= n; ++i) {
        SCOPED_TRACE(testing::Message() << "pair " << i);
        const std::vector<double> x = w.vector(i);
        const double lambda = w.lambda(i);
        const std::vector<double> kx = times(k, x);
        const std::vector<double> mx = times(m, x);
        std::vector<double> r(n);
        for (int j = 0; j < n; ++j) r[j] = kx[j] - lambda * mx[j];
        const double scale = (norm_inf(k) + std::fabs(lambda) * norm_inf(m)) * norm_inf(x);
        EXPECT_LE(norm_inf(r), residual_tol * scale);
        EXPECT_NEAR(dot(x, mx), 1.0, 1e-13 * n);
        for (int j = i + 1; j <= n; ++j) EXPECT_NEAR(dot(w.vector(j), mx), 0.0, 1e-13 * n);
    }
}

std::vector<double> sorted_eigenvalues(work& w) {
    std::vector<double> l;
    for (int i = 1; i <= w.n; ++i) l.push_back(w.lambda(i));
    std::sort(l.begin(), l.end());
    return l;
}

// --- EIGEN -----------------------------------------------------------------

TEST(Eigen, RandomSymmetricPairsWithPositiveDefiniteMass) {
    std::mt19937_64 gen(31337);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n = 2; n <= 20; ++n) {
        for (int rep = 0; rep < 3; ++rep) {
            SCOPED_TRACE(testing::Message() << "order " << n << ", draw " << rep);
            square k = zeros(n), b = zeros(n), m = zeros(n);
            for (int i = 0; i < n; ++i)
                for (int j = 0; j <= i; ++j) k[i][j] = k[j][i] = 10 * u(gen);
            for (auto& row : b)
                for (double& v : row) v = u(gen);
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < n; ++j) {
                    for (int l = 0; l < n; ++l) m[i][j] += b[i][l] * b[j][l];
                    if (i == j) m[i][j] += 1;
                }
            work w(k, m);
            w.eigen();
            expect_mass_normalised_eigenpairs(w, k, m, 1e-9);
            // The iteration leaves the off-diagonal elements at the
            // threshold's size (a last rotation may raise one by sqrt 2).
            for (int i = 1; i <= n; ++i)
                for (int j = i + 1; j <= n; ++j) EXPECT_LE(std::fabs(w.at(i, j)), 1.5e-10);
        }
    }
}

TEST(Eigen, SingleStoreyDividesStiffnessByMassAndLeavesTheMass) {
    work w({{6.0}}, {{4.0}});
    w.eigen();
    EXPECT_EQ(w.at(1, 1), 1.5);
    EXPECT_EQ(w.at(1, 2), 4.0);
}

TEST(Eigen, DiagonalMatricesNeedNoRotation) {
    const std::vector<double> kd = {10, 8, 3, 27, 5};
    const std::vector<double> md = {2, 4, 0.5, 9, 3};
    const int n = static_cast<int>(kd.size());
    square k = zeros(n), m = zeros(n);
    for (int i = 0; i < n; ++i) {
        k[i][i] = kd[i];
        m[i][i] = md[i];
    }
    work w(k, m);
    w.eigen();
    for (int i = 1; i <= n; ++i) {
        SCOPED_TRACE(testing::Message() << "row " << i);
        // Eigenvalues in input order, eigenvectors along the axes: any
        // rotation would have mixed rows of the mass block.
        EXPECT_DOUBLE_EQ(w.lambda(i), kd[i - 1] / md[i - 1]);
        for (int j = 1; j <= n; ++j) {
            if (j != i) {
                EXPECT_EQ(w.at(i, j), 0.0);
                EXPECT_EQ(w.at(i, n + j), 0.0);
            }
        }
        EXPECT_DOUBLE_EQ(w.at(i, n + i), 1 / std::sqrt(md[i - 1]));
    }
}

// Shear frame of three equal storeys, storey mass m and storey stiffness k,
// fixed at the base: omega_r = 2 sin((2r - 1) pi / 14) sqrt(k/m), i.e.
// 0.4450, 1.2470, 1.8019 times sqrt(k/m).
TEST(Eigen, ThreeEqualStoreysHaveTheClosedFormFrequencies) {
    const double m = 3, k = 1200;  // sqrt(k/m) = 20
    const square kk = {{2 * k, -k, 0}, {-k, 2 * k, -k}, {0, -k, k}};
    const square mm = {{m, 0, 0}, {0, m, 0}, {0, 0, m}};
    work w(kk, mm);
    w.eigen();
    const std::vector<double> lambda = sorted_eigenvalues(w);
    const double rounded[] = {0.4450, 1.2470, 1.8019};
    for (int r = 1; r <= 3; ++r) {
        SCOPED_TRACE(testing::Message() << "mode " << r);
        const double omega = std::sqrt(lambda[r - 1]) / 20;
        const double exact = 2 * std::sin((2 * r - 1) * std::numbers::pi / 14);
        EXPECT_NEAR(omega, exact, 1e-13);
        EXPECT_NEAR(omega, rounded[r - 1], 5e-5);
    }
    expect_mass_normalised_eigenpairs(w, kk, mm, 1e-12);
}

// A full mass matrix: det(K - lambda M) = (2 - 2 lambda)^2 - lambda^2 for
// K = 2 I, M = [[2, 1], [1, 2]], so lambda = 2/3 and 2.
TEST(Eigen, FullMassMatrixClosedForm) {
    const square k = {{2, 0}, {0, 2}};
    const square m = {{2, 1}, {1, 2}};
    work w(k, m);
    w.eigen();
    const std::vector<double> lambda = sorted_eigenvalues(w);
    EXPECT_NEAR(lambda[0], 2.0 / 3.0, 1e-14);
    EXPECT_NEAR(lambda[1], 2.0, 1e-14);
    expect_mass_normalised_eigenpairs(w, k, m, 1e-14);
}

// --- JACOBI -----------------------------------------------------------------

// A 2 x 2 block with identity carried beside it; off-diagonal at most 1e-10
// so that exactly one rotation is made.  After it the carried block is the
// transpose of the rotation: rows (cn, sn) and (-sn, cn).
struct one_rotation {
    std::vector<double> a;
    explicit one_rotation(double app, double apq, double aqq) : a{app, apq, apq, aqq, 1, 0, 0, 1} {
        const int32_t n = 2, n2 = 4;
        EXPECT_EQ(JACOBI(a.data(), n, n2), EigenStatus::converged);
    }
    double cn() const { return a[4]; }
    double sn() const { return a[6]; }
};

TEST(Jacobi, EqualDiagonalTakesTangentOneHalfWhateverTheSign) {
    // t = 0.5: sn = 2t/(1+t^2) = 0.8, cn = (t^2-1)/(1+t^2) = -0.6; the pivot
    // element is reduced to (cn^2 - sn^2) a = -0.28 a.
    for (double a : {1e-11, -1e-11}) {
        SCOPED_TRACE(testing::Message() << "a = " << a);
        const one_rotation r(1.0, a, 1.0);
        EXPECT_NEAR(r.sn(), 0.8, 1e-15);
        EXPECT_NEAR(r.cn(), -0.6, 1e-15);
        EXPECT_NEAR(r.a[5], -r.sn(), 1e-15);  // carried (2,1)
        EXPECT_NEAR(r.a[7], r.cn(), 1e-15);   // carried (2,2)
        // Absolute rounding of the diagonal-sized terms it is formed from.
        EXPECT_NEAR(r.a[2], -0.28 * a, 1e-15);
        EXPECT_EQ(r.a[1], r.a[2]);
        EXPECT_NEAR(r.a[0], 1 - 0.96 * a, 1e-15);
        EXPECT_NEAR(r.a[3], 1 + 0.96 * a, 1e-15);
        EXPECT_NEAR(r.sn() * r.sn() + r.cn() * r.cn(), 1.0, 1e-15);
    }
}

TEST(Jacobi, TangentFollowsThePivotAndTheDiagonalDifference) {
    struct row {
        int line;
        double app, apq, aqq;
        double t;  // the tangent-like parameter the rotation must have used
    };
    const row rows[] = {
        {__LINE__, 0.0, 1e-11, 2e-11, 0.25},   // |a| < |d|: t = a / (2d)
        {__LINE__, 0.0, -1e-11, 2e-11, -0.25},
        {__LINE__, 0.0, 1e-11, -4e-11, -0.125},
        {__LINE__, 0.0, 2e-11, 1e-11, 0.5},    // |a| >= |d|, d a > 0
        {__LINE__, 0.0, -2e-11, 1e-11, -0.5},  // d a < 0
        {__LINE__, 1e-11, 2e-11, 0.0, -0.5},
        {__LINE__, 0.0, 1e-11, 1e-11, 0.5},    // |a| = |d| is not below it
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << "line " << r.line);
        const one_rotation rot(r.app, r.apq, r.aqq);
        const double sn = 2 * r.t / (1 + r.t * r.t);
        const double cn = (r.t * r.t - 1) / (1 + r.t * r.t);
        EXPECT_NEAR(rot.sn(), sn, 1e-15);
        EXPECT_NEAR(rot.cn(), cn, 1e-15);
    }
}

TEST(Jacobi, FirstOfEqualLargestElementsByRowsThenColumnsIsRotated) {
    // Upper-triangle elements at most 1e-10: exactly one rotation.  The row
    // of the carried identity that the rotation did not touch stays a unit
    // vector, which tells the pivot pair.
    struct row {
        int line;
        double a12, a13, a23;
        int untouched;  // row outside the chosen pair
    };
    const row rows[] = {
        {__LINE__, 0, 5e-11, -5e-11, 2},      // (1,3) before (2,3)
        {__LINE__, -5e-11, 5e-11, 0, 3},      // (1,2) before (1,3)
        {__LINE__, 0, -5e-11, 5e-11, 2},
        {__LINE__, 1e-11, 2e-11, 3e-11, 1},   // the strictly largest, (2,3)
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << "line " << r.line);
        const int32_t n = 3, n2 = 6;
        std::vector<double> a = {1, r.a12, r.a13, r.a12, 2, r.a23, r.a13, r.a23, 3,
                                 1, 0,     0,     0,     1, 0,     0,     0,     1};
        EXPECT_EQ(JACOBI(a.data(), n, n2), EigenStatus::converged);
        auto carried = [&](int i, int j) { return a[static_cast<std::size_t>(n + j - 1) * n + i - 1]; };
        for (int i = 1; i <= 3; ++i) {
            for (int j = 1; j <= 3; ++j) {
                const double unit = i == j ? 1.0 : 0.0;
                if (i == r.untouched || j == r.untouched) {
                    EXPECT_EQ(carried(i, j), unit) << "(" << i << "," << j << ")";
                } else {
                    EXPECT_NE(carried(i, j), unit) << "(" << i << "," << j << ")";
                }
            }
        }
    }
}

// Two consecutive doubles near 4e23 on the diagonal (one unit in the last
// place, 2^26, apart) and half a unit off it: each rotation is too small to
// move either diagonal element and rounds the off-diagonal back to 2^25,
// far above the absolute threshold.  After the rotation cap the result is
// accepted because 2^25 is below 1e-12 of the diagonal.
TEST(Jacobi, RoundingBoundIterationIsAcceptedAtTheRotationCap) {
    const double d1 = 0x1.511597662ac68p+78;
    const double d2 = 0x1.511597662ac69p+78;
    ASSERT_EQ(d2 - d1, 0x1p26);
    const int32_t n = 2, n2 = 4;
    std::vector<double> a = {d1, 0x1p25, 0x1p25, d2, 1, 0, 0, 1};
    EXPECT_EQ(JACOBI(a.data(), n, n2), EigenStatus::converged);
    // Returned, with the off-diagonal still above the threshold: the
    // iteration ended through the cap, not through its own test.
    EXPECT_GT(std::fabs(a[2]), 1e-10);
    EXPECT_LE(std::fabs(a[2]), 1e-12 * std::max(std::fabs(a[0]), std::fabs(a[3])));
    EXPECT_EQ(a[1], a[2]);
    // The carried block is still a rotation, up to the rounding of 100 000
    // products of rotations.
    EXPECT_NEAR(a[4] * a[4] + a[6] * a[6], 1.0, 1e-10);
    EXPECT_NEAR(a[4] * a[5] + a[6] * a[7], 0.0, 1e-10);
    EXPECT_NEAR(a[5] * a[5] + a[7] * a[7], 1.0, 1e-10);
}

// With finite symmetric entries rounding keeps the off-diagonal within a
// few units in the last place of the diagonal, far inside the acceptance
// at the cap; only entries whose rotations overflow never settle.  A run
// traps that overflow first; without traps the iteration must still end,
// and say that it did not converge.
TEST(Jacobi, IterationThatNeverSettlesReturnsNotConverged) {
    const int32_t n = 2, n2 = 4;
    std::vector<double> a = {1, 1e308, 1e308, -1e308, 1, 0, 0, 1};
    EXPECT_EQ(JACOBI(a.data(), n, n2), EigenStatus::not_converged);
}

TEST(Jacobi, ZeroOffDiagonalMakesNoRotation) {
    const int32_t n = 3, n2 = 5;
    std::vector<double> a = {3, 0, 0, 0, -1, 0, 0, 0, 2, 7, 8, 9, 4, 5, 6};
    const std::vector<double> before = a;
    EXPECT_EQ(JACOBI(a.data(), n, n2), EigenStatus::converged);
    EXPECT_EQ(a, before);
}

}  // namespace
