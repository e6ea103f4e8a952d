// The linear equation solver: the factored form, solutions, the pivot test
// and the elimination with row exchanges; and the proof that the vectorised
// factoring rounds exactly as the plain loop does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "analysis/solve.h"
#include "tests/reference_decomp.h"

// The instruction-set clones of DECOMP, defined in analysis/solve.cpp
// (not part of the public header: only these tests choose a clone).

namespace {

using matrix = std::vector<double>;

// Column-major n x n matrix from its rows.
matrix from_rows(const std::vector<std::vector<double>>& rows) {
    const std::size_t n = rows.size();
    matrix a(n * n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) a[j * n + i] = rows[i][j];
    return a;
}

double at(const matrix& a, int32_t n, int32_t i, int32_t j) {
    return a[static_cast<std::size_t>(j - 1) * n + (i - 1)];
}

std::vector<double> times(const matrix& a, int32_t n, const std::vector<double>& x) {
    std::vector<double> b(static_cast<std::size_t>(n), 0.0);
    for (int32_t j = 1; j <= n; ++j)
        for (int32_t i = 1; i <= n; ++i) b[i - 1] += at(a, n, i, j) * x[j - 1];
    return b;
}

struct factoring {
    double dfail = -1;
    int32_t ifail = -1;
};

factoring decomp(matrix& a, int32_t n) {
    factoring f;
    DECOMP(a.data(), n, f.dfail, f.ifail);
    return f;
}

matrix random_matrix(std::mt19937_64& gen, int32_t n, double diagonal_boost) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    matrix a(static_cast<std::size_t>(n) * n);
    for (auto& x : a) x = u(gen);
    for (int32_t i = 0; i < n; ++i) a[static_cast<std::size_t>(i) * n + i] += diagonal_boost;
    return a;
}

// --- The factored form -----------------------------------------------------

// A0 = L U with L = [[2,0,0],[1,4,0],[4,-2,8]] (pivots 2, 4, 8) and
// U = [[1,2,1],[0,1,0.5],[0,0,1]]; U^-1 = [[1,-2,0],[0,1,-0.5],[0,0,1]].
// Stored: L below the diagonal, pivot - 1 on it, -U^-1 above it.  Every
// intermediate is a short binary fraction, so the form is exact.
TEST(Decomp, FactoredFormOfAMatrixWorkedByHand) {
    matrix a = from_rows({{2, 4, 2}, {1, 6, 3}, {4, 6, 11}});
    const factoring f = decomp(a, 3);
    EXPECT_EQ(f.ifail, 0);
    const matrix expected = from_rows({{1, 2, 0}, {1, 3, 0.5}, {4, -2, 7}});
    for (int32_t i = 1; i <= 3; ++i)
        for (int32_t j = 1; j <= 3; ++j) {
            SCOPED_TRACE(testing::Message() << "element (" << i << "," << j << ")");
            EXPECT_EQ(at(a, 3, i, j), at(expected, 3, i, j));
        }
}

TEST(Solve, ReproducesTheSolutionOfTheHandWorkedMatrix) {
    const matrix a0 = from_rows({{2, 4, 2}, {1, 6, 3}, {4, 6, 11}});
    const std::vector<double> x = {1, -1, 2};
    std::vector<double> v = times(a0, 3, x);  // {2, 1, 20}
    ASSERT_EQ(v, (std::vector<double>{2, 1, 20}));
    matrix a = a0;
    ASSERT_EQ(decomp(a, 3).ifail, 0);
    SOLVE(a.data(), 3, v.data());
    EXPECT_EQ(v, x);
}

TEST(Solve, ReproducesKnownSolutionsOfRandomRegularSystems) {
    std::mt19937_64 gen(20240601);
    std::uniform_real_distribution<double> u(-10.0, 10.0);
    for (int32_t n = 1; n <= 60; ++n) {
        SCOPED_TRACE(testing::Message() << "order " << n);
        const matrix a0 = random_matrix(gen, n, 2.0 * n);
        std::vector<double> x(static_cast<std::size_t>(n));
        for (auto& xi : x) xi = u(gen);
        std::vector<double> v = times(a0, n, x);
        matrix a = a0;
        ASSERT_EQ(decomp(a, n).ifail, 0);
        SOLVE(a.data(), n, v.data());
        for (int32_t i = 0; i < n; ++i) EXPECT_NEAR(v[i], x[i], 1e-12 * 10.0);
    }
}

TEST(Decomp, OrderOneStoresPivotMinusOneAndSolveDivides) {
    matrix a = {4.0};
    const factoring f = decomp(a, 1);
    EXPECT_EQ(f.ifail, 0);
    EXPECT_EQ(a[0], 3.0);
    std::vector<double> v = {10.0};
    SOLVE(a.data(), 1, v.data());
    EXPECT_EQ(v[0], 2.5);
}

TEST(Decomp, DiagonalMatrixHasNoMultipliersAndSolveDividesEachElement) {
    matrix a = from_rows({{2, 0, 0}, {0, -4, 0}, {0, 0, 0.5}});
    ASSERT_EQ(decomp(a, 3).ifail, 0);
    EXPECT_EQ(a, from_rows({{1, 0, 0}, {0, -5, 0}, {0, 0, -0.5}}));
    std::vector<double> v = {3, 8, 1};
    SOLVE(a.data(), 3, v.data());
    EXPECT_EQ(v, (std::vector<double>{1.5, -2, 2}));
}

// --- The pivot test --------------------------------------------------------

TEST(Decomp, ZeroLeadingElementOfARegularMatrixFailsAtTheFirstPivot) {
    matrix a = from_rows({{0, 1}, {1, 0}});
    const factoring f = decomp(a, 2);
    EXPECT_EQ(f.ifail, 1);
    EXPECT_EQ(f.dfail, 0.0);
}

TEST(Decomp, PivotThatSolveWouldRebuildAsZeroFails) {
    // 1e-17 passes |d| >= 1e-20, but d - 1 rounds to -1 and (d - 1) + 1 to 0.
    struct row {
        int line;
        double d;
        int32_t position;  // expected failing position, 0 when it passes
    };
    const row rows[] = {
        {__LINE__, 1e-17, 2},
        {__LINE__, -1e-17, 2},
        {__LINE__, 0x1p-54, 2},  // d - 1 ties to -1
        {__LINE__, 0x1p-53, 0},  // d - 1 is exact: rebuilt unchanged
        {__LINE__, 1e-10, 0},
        {__LINE__, 1e-21, 2},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << "line " << r.line);
        matrix a = from_rows({{1, 0}, {0, r.d}});
        const factoring f = decomp(a, 2);
        EXPECT_EQ(f.ifail, r.position);
        if (r.position != 0) {
            EXPECT_EQ(f.dfail, r.d);
        } else {
            // SOLVE rebuilds the pivot as (d - 1) + 1: exact for 2^-53, with
            // a relative error of about 1e-7 for 1e-10.
            std::vector<double> v = {1, 1};
            SOLVE(a.data(), 2, v.data());
            EXPECT_EQ(v[0], 1.0);
            EXPECT_NEAR(v[1] * r.d, 1.0, 1e-6);
            if (r.d == 0x1p-53) {
                EXPECT_EQ(v[1], 0x1p53);
            }
        }
    }
}

TEST(Decomp, PivotFailureAfterEliminationReportsTheEliminatedPivot) {
    // The second pivot is 4 - 2*2 = 0 only after the first step.
    matrix a = from_rows({{1, 2, 0}, {2, 4, 1}, {0, 1, 1}});
    const factoring f = decomp(a, 3);
    EXPECT_EQ(f.ifail, 2);
    EXPECT_EQ(f.dfail, 0.0);
}

TEST(Decomp, PivotThatIsNotANumberFails) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    matrix a = from_rows({{2, 1, 0}, {1, 3, 0}, {0, 0, nan}});
    const factoring f = decomp(a, 3);
    EXPECT_EQ(f.ifail, 3);
    EXPECT_TRUE(std::isnan(f.dfail));
}

// --- Elimination with row exchanges -----------------------------------------

TEST(Pivsol, SolvesTheExchangeMatrixThatDecompRefuses) {
    matrix a = from_rows({{0, 1}, {1, 0}});
    std::vector<double> v = {3, 5};
    int32_t ising = -1;
    PIVSOL(a.data(), 2, v.data(), ising);
    EXPECT_EQ(ising, 0);
    EXPECT_EQ(v, (std::vector<double>{5, 3}));
}

// A damped single storey (m = 1, k = 100, modal damping ratio 0.05, so
// c = 2 * 0.05 * sqrt(k/m) * m = 1) forced at its natural frequency
// LAMBDA = 10 with a unit force at cos: k - LAMBDA^2 m = 0 leaves
// AH = [[0, LAMBDA c], [-LAMBDA c, 0]], regular, with the amplitudes
// AC = 0 and AS = 1 / (LAMBDA c) = 0.1.
TEST(Pivsol, DampedStoreyAtResonanceGivesTheExactAmplitudes) {
    const double m = 1, k = 100, zeta = 0.05, lambda = 10;
    const double c = 2 * zeta * std::sqrt(k / m) * m;
    ASSERT_EQ(c, 1.0);
    const matrix ah = from_rows({{k - lambda * lambda * m, lambda * c},
                                 {-lambda * c, k - lambda * lambda * m}});
    matrix a = ah;
    const factoring f = decomp(a, 2);
    EXPECT_EQ(f.ifail, 1);
    EXPECT_EQ(f.dfail, 0.0);

    a = ah;
    std::vector<double> v = {1, 0};
    int32_t ising = -1;
    PIVSOL(a.data(), 2, v.data(), ising);
    EXPECT_EQ(ising, 0);
    EXPECT_EQ(v[0], 0.0);
    EXPECT_EQ(v[1], 0.1);
    EXPECT_EQ(std::hypot(v[0], v[1]), 0.1);
}

TEST(Pivsol, HandWorkedExchangeAndElimination) {
    // Column 1 pivots on row 3 (|4| > |2| > |1|); after the exchange and the
    // elimination column 2 pivots on its largest remaining element.
    // Solution x = (1, -1, 2).
    const matrix a0 = from_rows({{2, 4, 2}, {1, 6, 3}, {4, 6, 11}});
    matrix a = a0;
    std::vector<double> v = {2, 1, 20};
    int32_t ising = -1;
    PIVSOL(a.data(), 3, v.data(), ising);
    EXPECT_EQ(ising, 0);
    EXPECT_DOUBLE_EQ(v[0], 1);
    EXPECT_DOUBLE_EQ(v[1], -1);
    EXPECT_DOUBLE_EQ(v[2], 2);
}

TEST(Pivsol, SolvesRandomSystemsWithZeroLeadingElements) {
    std::mt19937_64 gen(77);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int32_t n = 2; n <= 40; ++n) {
        SCOPED_TRACE(testing::Message() << "order " << n);
        matrix a0 = random_matrix(gen, n, 0.0);
        a0[0] = 0;  // DECOMP refuses it at once
        std::vector<double> x(static_cast<std::size_t>(n));
        for (auto& xi : x) xi = u(gen);
        const std::vector<double> b = times(a0, n, x);
        std::vector<double> v = b;
        matrix a = a0;
        int32_t ising = -1;
        PIVSOL(a.data(), n, v.data(), ising);
        ASSERT_EQ(ising, 0);
        // Residual relative to the sizes involved (partial pivoting is
        // backward stable).
        const std::vector<double> r = times(a0, n, v);
        double vmax = 0;
        for (double vi : v) vmax = std::max(vmax, std::fabs(vi));
        for (int32_t i = 0; i < n; ++i) EXPECT_NEAR(r[i], b[i], 1e-12 * n * (1 + vmax));
    }
}

TEST(Pivsol, SingularMatricesAreReported) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct row {
        int line;
        std::vector<std::vector<double>> rows;
    };
    const row rows[] = {
        {__LINE__, {{1, 2}, {2, 4}}},           // dependent rows
        {__LINE__, {{0, 0}, {0, 0}}},           // undamped storey at resonance
        {__LINE__, {{1, 1, 1}, {1, 2, 3}, {2, 3, 4}}},
        {__LINE__, {{1e-21, 1}, {1e-22, 1}}},   // column below the threshold
        {__LINE__, {{nan, 1}, {0, 1}}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << "line " << r.line);
        const auto n = static_cast<int32_t>(r.rows.size());
        matrix a = from_rows(r.rows);
        std::vector<double> v(static_cast<std::size_t>(n), 1.0);
        int32_t ising = -1;
        PIVSOL(a.data(), n, v.data(), ising);
        EXPECT_EQ(ising, 1);
    }
}

// --- Vectorised factoring against the plain loop -----------------------------

void reference_solve(const double* a, int32_t n, double* v) {
    for (int32_t i = 1; i <= n; ++i) {
        const double f = v[i - 1] / (a[static_cast<std::size_t>(i - 1) * n + (i - 1)] + 1);
        for (int32_t j = 1; j <= n; ++j)
            v[j - 1] = v[j - 1] - a[static_cast<std::size_t>(i - 1) * n + (j - 1)] * f;
    }
}

bool same_bits(const std::vector<double>& x, const std::vector<double>& y) {
    return x.size() == y.size() && (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0);
}

// A matrix of order n laid at `offset` doubles past a 64-byte boundary.
class placed_matrix {
public:
    placed_matrix(const matrix& a, std::size_t offset) : buffer_(a.size() + 8 + offset) {
        const auto address = reinterpret_cast<std::uintptr_t>(buffer_.data());
        data_ = buffer_.data() + ((64 - address % 64) % 64) / sizeof(double) + offset;
        std::copy(a.begin(), a.end(), data_);
    }
    double* data() { return data_; }
    matrix values(std::size_t count) const { return matrix(data_, data_ + count); }

private:
    matrix buffer_;
    double* data_;
};

struct kernel_case {
    std::string what;
    int32_t n;
    matrix a0;
    int32_t failing;  // the pivot expected to fail, 0 for none
};

// Orders 1..130 cover every remainder of the row, column and step groups;
// every third order gets a weak diagonal (large multipliers, much
// cancellation), and every seventh a pivot that fails part way, where the
// matrix must also be left exactly as the plain loop leaves it.  Then the
// sweep's own matrices [K - LAMBDA^2 M, LAMBDA C; -LAMBDA C, K - LAMBDA^2 M]
// of a chain of NU storeys, below, near and above its resonances.
std::vector<kernel_case> kernel_cases() {
    std::vector<kernel_case> cases;
    std::mt19937_64 gen(4242);
    for (int32_t n = 1; n <= 130; ++n) {
        matrix a0 = random_matrix(gen, n, n % 3 == 0 ? 0.0 : 1.0 * n);
        int32_t failing = 0;
        if (n % 7 == 0) {
            const int32_t p = (n * 5) / 7;  // zero pivot at position p + 1
            a0[static_cast<std::size_t>(p) * n + p] = 0;
            for (int32_t k = 0; k < n; ++k) {
                if (k == p) continue;
                a0[static_cast<std::size_t>(p) * n + k] = 0;  // column p+1
                a0[static_cast<std::size_t>(k) * n + p] = 0;  // row p+1
            }
            failing = p + 1;
        }
        cases.push_back({"random order " + std::to_string(n), n, a0, failing});
    }
    for (int32_t NU : {7, 30, 31, 60}) {
        for (double lambda : {0.05, 1.0, 7.3}) {
            const int32_t n = 2 * NU;
            matrix a0(static_cast<std::size_t>(n) * n, 0.0);
            auto a = [&](int32_t i, int32_t j) -> double& { return a0[static_cast<std::size_t>(j) * n + i]; };
            for (int32_t i = 0; i < NU; ++i)
                for (int32_t j = std::max(0, i - 1); j <= std::min(NU - 1, i + 1); ++j) {
                    const double k = i == j ? (i + 1 < NU ? 2e4 : 1e4) : -1e4;
                    const double m = i == j ? 100.0 + i : 0.0;
                    const double w = k - lambda * lambda * m;
                    const double v = lambda * (0.002 * k + 0.01 * m);
                    a(i, j) = w;
                    a(NU + i, NU + j) = w;
                    a(i, NU + j) = v;
                    a(NU + i, j) = -v;
                }
            cases.push_back({"chain of " + std::to_string(NU) + " at LAMBDA " + std::to_string(lambda), n, a0, -1});
        }
    }
    return cases;
}

// Every case factored by the kernel (DECOMP itself when null) on a matrix
// `offset` doubles past a 64-byte boundary, against the plain loop.
void check_against_reference(const char* what, solve_kernels::decomp_fn kernel, std::size_t offset) {
    static const std::vector<kernel_case> cases = kernel_cases();
    std::mt19937_64 gen(99);
    for (const kernel_case& c : cases) {
        SCOPED_TRACE(testing::Message() << what << ", offset " << offset << ", " << c.what);
        const int32_t n = c.n;
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        std::vector<double> v0(static_cast<std::size_t>(n));
        for (auto& x : v0) x = u(gen);

        matrix expected = c.a0;
        double dref = -1;
        int32_t iref = -1;
        reference_decomp(expected.data(), n, dref, iref);

        placed_matrix got(c.a0, offset);
        double dgot = -2;
        int32_t igot = -2;
        if (kernel != nullptr) {
            kernel(got.data(), n, dgot, igot);
        } else {
            DECOMP(got.data(), n, dgot, igot);
        }
        ASSERT_EQ(igot, iref);
        ASSERT_EQ(std::memcmp(&dgot, &dref, sizeof dref), 0);
        ASSERT_TRUE(same_bits(got.values(c.a0.size()), expected)) << "factored form differs";
        if (c.failing >= 0) {
            ASSERT_EQ(iref, c.failing);
        }

        if (iref == 0) {
            std::vector<double> vexp = v0;
            std::vector<double> vgot = v0;
            reference_solve(expected.data(), n, vexp.data());
            SOLVE(got.data(), n, vgot.data());
            ASSERT_TRUE(same_bits(vgot, vexp)) << "solution differs";
        }
    }
}

TEST(DecompKernels, DispatchedFactoringAndSolutionMatchThePlainLoopBitForBit) {
    // Aligned, the strip kernel; one double and four doubles past, the other.
    for (std::size_t offset : {0, 1, 4}) check_against_reference("dispatched", nullptr, offset);
}

// VARNOSTIK_KERNEL_WIDTH: a width the processor has is taken; one it
// lacks, or anything else, gives the widest with a warning.
TEST(Kernels, WidthAskedForOrTheWidestWithAWarning) {
    struct Row {
        int line;
        const char* text;  // the variable, or unset
        int widest;
        int chosen;
        const char* warning;  // the start of the warning, or none
    };
    const Row rows[] = {
        {__LINE__, nullptr, 8, 8, nullptr},
        {__LINE__, nullptr, 2, 2, nullptr},
        {__LINE__, "8", 8, 8, nullptr},
        {__LINE__, "4", 8, 4, nullptr},
        {__LINE__, "2", 4, 2, nullptr},
        {__LINE__, "8", 4, 4, "warning: VARNOSTIK_KERNEL_WIDTH=8 is wider than this processor's vectors; width 4"},
        {__LINE__, "4", 2, 2, "warning: VARNOSTIK_KERNEL_WIDTH=4 is wider than this processor's vectors; width 2"},
        {__LINE__, "16", 8, 8, "warning: VARNOSTIK_KERNEL_WIDTH=16 is not 8, 4 or 2; width 8"},
        {__LINE__, "1", 4, 4, "warning: VARNOSTIK_KERNEL_WIDTH=1 is not 8, 4 or 2; width 4"},
        {__LINE__, " 4", 8, 8, "warning: VARNOSTIK_KERNEL_WIDTH= 4 is not"},
        {__LINE__, "4.0", 8, 8, "warning: VARNOSTIK_KERNEL_WIDTH=4.0 is not"},
        {__LINE__, "", 8, 8, "warning: VARNOSTIK_KERNEL_WIDTH= is not"},
        {__LINE__, "99999999999999999999", 8, 8, "warning: VARNOSTIK_KERNEL_WIDTH=99999999999999999999 is not"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        std::string warning = "left over";
        EXPECT_EQ(solve_kernels::width_asked(r.text, r.widest, warning), r.chosen);
        if (r.warning == nullptr) {
            EXPECT_EQ(warning, "");
        } else {
            EXPECT_EQ(warning.substr(0, std::string(r.warning).size()), r.warning);
            EXPECT_EQ(warning.substr(warning.size() - 2), "\r\n");
        }
    }
}

TEST(DecompKernels, EveryCloneThisProcessorRunsMatchesThePlainLoopBitForBit) {
    const int widest = solve_kernels::decomp_width();
    for (int width : {2, 4, 8}) {
        if (width > widest) continue;
        const solve_kernels::kernel_set* set = solve_kernels::kernels_for(width);
        ASSERT_NE(set, nullptr) << "width " << width;
        const std::string lanes = std::to_string(width) + " lanes";
        check_against_reference((lanes + ", by strips").c_str(), set->decomp, 0);
        check_against_reference((lanes + ", by columns").c_str(), set->decomp_any, 0);
        // The column updates of SOLVE and the accuracy check: every count of
        // columns, every length around the lanes and the register blocks,
        // against y - x[0]*f[0] - x[1]*f[1] - ... element by element.
        const solve_kernels::column_updates_fn update = set->column_updates;
        std::mt19937_64 gen(static_cast<uint64_t>(width));
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        for (int b = 1; b <= kMaxColumnUpdates; ++b) {
            for (std::ptrdiff_t n = 0; n <= 70; ++n) {
                std::vector<std::vector<double>> x(static_cast<std::size_t>(b), std::vector<double>(n));
                std::vector<double> y(static_cast<std::size_t>(n)), f(static_cast<std::size_t>(b));
                const double* columns[kMaxColumnUpdates];
                for (int c = 0; c < b; ++c) {
                    for (double& v : x[c]) v = u(gen);
                    f[c] = u(gen) * 1e3;
                    columns[c] = x[c].data();
                }
                for (double& v : y) v = u(gen);
                std::vector<double> want = y;
                for (std::size_t k = 0; k < want.size(); ++k)
                    for (int c = 0; c < b; ++c) want[k] = want[k] - x[c][k] * f[c];
                update(y.data(), columns, f.data(), b, 0, n);
                ASSERT_TRUE(same_bits(y, want)) << "width " << width << ", " << b << " columns, length " << n;
            }
        }
    }
}

}  // namespace
