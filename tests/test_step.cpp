// One sweep step: its solution against an independent complex solve with
// row exchanges, the path it takes to get there, and the guarantee that a
// step whose solution is accurate keeps its bits.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "analysis/solve.h"
#include "analysis/step.h"
#include "analysis/sweep.h"
#include "input/forcin.h"

namespace {

using rows = std::vector<std::vector<double>>;

// A model of the complete system, its matrices given by rows.
struct Model {
    int32_t LK = 0;
    int32_t NU = 0;
    std::vector<double> MS, CS, KS, PC, PS;  // column-major, as the sweep holds them

    Model(const rows& M, const rows& C, const rows& K, std::vector<double> pc, std::vector<double> ps)
        : LK(static_cast<int32_t>(pc.size())), NU(static_cast<int32_t>(M.size())), MS(column_major(M)),
          CS(column_major(C)), KS(column_major(K)), PC(std::move(pc)), PS(std::move(ps)) {}
    System system() const { return System{LK, NU, MS.data(), CS.data(), KS.data(), PC.data(), PS.data()}; }
    double at(const std::vector<double>& a, int i, int j) const { return a[static_cast<size_t>(j) * NU + i]; }

    static std::vector<double> column_major(const rows& a) {
        const size_t n = a.size();
        std::vector<double> out(n * n);
        for (size_t i = 0; i < n; ++i)
            for (size_t j = 0; j < n; ++j) out[j * n + i] = a[i][j];
        return out;
    }
};

rows scaled_sum(double a, const rows& A, double b, const rows& B) {
    rows out = A;
    for (size_t i = 0; i < A.size(); ++i)
        for (size_t j = 0; j < A.size(); ++j) out[i][j] = a * A[i][j] + b * B[i][j];
    return out;
}

// Damping proportional to mass and stiffness with the ratio zeta in the
// modes of circular frequencies w1 and w2.
rows rayleigh(const rows& M, const rows& K, double zeta, double w1, double w2) {
    return scaled_sum(2 * zeta * w1 * w2 / (w1 + w2), M, 2 * zeta / (w1 + w2), K);
}

using cplx = std::complex<long double>;

// The amplitudes a + i b of every unknown from (K - l^2 M - i l C) z = PC +
// i PS, solved in extended precision with row exchanges: the reference.
std::vector<cplx> reference(const Model& m, double lambda) {
    const int n = m.NU;
    const long double l = lambda;
    std::vector<std::vector<cplx>> a(n, std::vector<cplx>(n + 1));
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j)
            a[i][j] = cplx(m.at(m.KS, i, j) - l * l * m.at(m.MS, i, j), -l * m.at(m.CS, i, j));
        a[i][n] = i < m.LK ? cplx(m.PC[i], m.PS[i]) : cplx(0);
    }
    for (int k = 0; k < n; ++k) {
        int p = k;
        for (int i = k + 1; i < n; ++i)
            if (std::abs(a[i][k]) > std::abs(a[p][k])) p = i;
        std::swap(a[k], a[p]);
        for (int i = k + 1; i < n; ++i) {
            const cplx f = a[i][k] / a[k][k];
            for (int j = k; j <= n; ++j) a[i][j] -= f * a[k][j];
        }
    }
    std::vector<cplx> z(n);
    for (int i = n - 1; i >= 0; --i) {
        cplx s = a[i][n];
        for (int j = i + 1; j < n; ++j) s -= a[i][j] * z[j];
        z[i] = s / a[i][i];
    }
    return z;
}

// Whether got shows as the exact value in E12.6, within one unit of the
// sixth digit.
testing::AssertionResult six_digits(const char* what, double got, long double exact) {
    if (exact == 0 && got == 0) return testing::AssertionSuccess();
    const long double unit = std::pow(10.0L, std::floor(std::log10(std::fabs(exact))) + 1 - 6);
    if (std::fabs(got - exact) <= unit) return testing::AssertionSuccess();
    return testing::AssertionFailure() << what << " " << got << ", exact " << static_cast<double>(exact)
                                       << ", off by " << static_cast<double>(std::fabs(got - exact) / unit)
                                       << " units of the sixth digit";
}

// The sweep's own arithmetic around a step: traps on, as in a run.
StepResult step(const Model& m, double lambda, std::vector<double>& x) {
    StepWork w(m.NU + m.NU);
    // The solver's kernels load whole cache lines of the matrix.
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(w.AH) % 64, 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(w.XH) % 64, 0u);
    feclearexcept(FE_ALL_EXCEPT);
    feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
    const StepResult r = solve_step(m.system(), lambda, w);
    fedisableexcept(FE_ALL_EXCEPT);
    x.assign(w.XH, w.XH + m.NU + m.NU);
    return r;
}

const rows I2 = {{1, 0}, {0, 1}};
const rows K2 = {{2, -1}, {-1, 1}};
const rows I4 = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
const rows K4 = {{2, -1, 0, 0}, {-1, 2, -1, 0}, {0, -1, 2, -1}, {0, 0, -1, 1}};

// Three storeys of 5e5 kg and 1e9 N/m with a damper of 7.5e4 kg tuned to
// the first mode (about 19.9 rad/s), in kg, N/m and N s/m.
Model si_frame_with_tuned_mass() {
    const double m = 5e5, k = 1e9, md = 7.5e4, kd = 2.97e7, cd = 3e5;
    const rows M = {{m, 0, 0, 0}, {0, m, 0, 0}, {0, 0, m, 0}, {0, 0, 0, md}};
    const rows Kf = {{2 * k, -k, 0, 0}, {-k, 2 * k, -k, 0}, {0, -k, k, 0}, {0, 0, 0, 0}};
    rows C = rayleigh(M, Kf, 0.02, 19.9, 55.8);
    C[3][3] = 0;
    C[2][2] += cd, C[2][3] -= cd, C[3][2] -= cd, C[3][3] += cd;
    rows K = Kf;
    K[2][2] += kd, K[2][3] -= kd, K[3][2] -= kd, K[3][3] += kd;
    return Model(M, C, K, {1e5, 1e5, 1e5}, {0, 0, 0});
}

struct Case {
    int line;
    std::string what;
    Model model;
    double lambda;
    StepPath path;
};

TEST(Step, EveryPrintedAmplitudeRightWhereTheFactorsLoseDigits) {
    const std::vector<Case> cases = {
        // A singular leading block: the first pivot is a few 1e-16.
        {__LINE__, "two storeys at sqrt 2", Model(I2, rayleigh(I2, K2, 0.02, 0.618034, 1.618034), K2, {1, 0}, {0, 0}),
         1.4142135623730951, StepPath::repivoted},
        // LAMBDA accumulated by 0.1 from 0 falls on a natural frequency.
        {__LINE__, "four storeys at 1", Model(I4, rayleigh(I4, K4, 0.05, 0.347296, 1.0), K4, {1, 0, 0, 0}, {0, 0, 0, 0}),
         0.9999999999999999, StepPath::repivoted},
        // Pivots of 1e9 and more: SOLVE's rebuilt pivot cancels.
        {__LINE__, "SI frame below resonance", si_frame_with_tuned_mass(), 10.0, StepPath::refined},
        {__LINE__, "SI frame at resonance", si_frame_with_tuned_mass(), 19.9, StepPath::refined},
        // A pivot of 1e-15 rebuilt from its d - 1 with a relative error of 8e-4.
        {__LINE__, "storey of stiffness 1e-15", Model({{1}}, {{0}}, {{1e-15}}, {1}, {0}), 0.0, StepPath::refined},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "line " << c.line << ": " << c.what);
        std::vector<double> x;
        const StepResult r = step(c.model, c.lambda, x);
        EXPECT_EQ(static_cast<int>(r.path), static_cast<int>(c.path));
        const std::vector<cplx> z = reference(c.model, c.lambda);
        const int32_t NU = c.model.NU;
        for (int32_t k = 0; k < c.model.LK; ++k) {
            SCOPED_TRACE(testing::Message() << "unknown " << k + 1);
            EXPECT_TRUE(six_digits("AC", x[k], z[k].real()));
            EXPECT_TRUE(six_digits("AS", x[NU + k], z[k].imag()));
            EXPECT_TRUE(six_digits("AMP", std::sqrt(x[NU + k] * x[NU + k] + x[k] * x[k]), std::abs(z[k])));
        }
    }
}

// A well-scaled model passes the first check: DECOMP and SOLVE's bits stay.
TEST(Step, AccurateSolutionsKeepTheirBits) {
    std::mt19937_64 gen(7);
    std::uniform_real_distribution<double> u(-0.3, 0.3);
    const int n = 6;
    rows M(n, std::vector<double>(n, 0)), C = M, K = M;
    for (int i = 0; i < n; ++i) {
        M[i][i] = 1 + u(gen);
        K[i][i] = 4 + u(gen);
        C[i][i] = 0.1;
        if (i > 0) K[i][i - 1] = K[i - 1][i] = -1 + u(gen);
    }
    const Model m(M, C, K, {1, 0.5, 0, -1, 0, 2}, {0, 1, 0, 0, 0.25, 0});
    for (double lambda = 0; lambda < 3; lambda += 0.37) {
        SCOPED_TRACE(testing::Message() << "LAMBDA " << lambda);
        std::vector<double> x;
        const StepResult r = step(m, lambda, x);
        ASSERT_EQ(static_cast<int>(r.path), static_cast<int>(StepPath::factored));
        std::vector<double> AH(4 * n * n), XH(2 * n);
        build_system(m.system(), lambda, AH.data(), XH.data());
        double d = 0;
        int32_t i = 0;
        DECOMP(AH.data(), 2 * n, d, i);
        SOLVE(AH.data(), 2 * n, XH.data());
        for (int k = 0; k < 2 * n; ++k) EXPECT_EQ(x[k], XH[k]) << "unknown " << k + 1;
    }
}

// Amplitudes near the top of the range overflow in the check (the squares
// of the amplitude, the residual): the check must not trap, and leaves the
// traps on and no flag raised behind it.
TEST(Step, CheckThatOverflowsNeverStopsTheRun) {
    for (double force : {1e160, 1e200}) {
        SCOPED_TRACE(testing::Message() << "force " << force);
        const Model m(I2, rayleigh(I2, K2, 0.02, 0.618034, 1.618034), K2, {force, 0}, {0, 0});
        StepWork w(4);
        feclearexcept(FE_ALL_EXCEPT);
        feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
        solve_step(m.system(), 1.4142135623730951, w);
        const int traps = fegetexcept();
        const int flags = fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
        fedisableexcept(FE_ALL_EXCEPT);
        EXPECT_EQ(traps, FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
        EXPECT_EQ(flags, 0);
        for (int k = 0; k < 4; ++k) EXPECT_TRUE(std::isfinite(w.XH[k]));
    }
}

// Keeps every step's LAMBDA and whole solution; refuses the step numbered
// refuse_at (0-based) as a sink whose amplitudes overflowed.
class Collect final : public SweepSink {
public:
    Collect(int32_t NU2, long refuse_at) : NU2_(NU2), refuse_at_(refuse_at) {}
    void header(double LAMBDA) override { lambdas.push_back(LAMBDA); }
    int solution(double, const double* XH) override {
        if (static_cast<long>(solutions.size()) == refuse_at_) return FE_OVERFLOW;
        solutions.emplace_back(XH, XH + NU2_);
        return 0;
    }
    std::vector<double> lambdas;
    std::vector<std::vector<double>> solutions;

private:
    const int32_t NU2_;
    const long refuse_at_;
};

TEST(Sweep, EndsAsItsStepsDoAndHandsOverWholeSolutions) {
    struct Row {
        int line;
        const char* what;
        Model model;
        double lammin, lammax, dlam;
        long refuse_at;  // the step the sink refuses, or -1
        SweepEnd end;
        long steps;      // begun
    };
    const Model storey({{1}}, {{0.1}}, {{1}}, {1}, {0});
    const Row rows_[] = {
        {__LINE__, "a frame with a tuned mass", si_frame_with_tuned_mass(), 5, 25, 0.5, -1, SweepEnd::completed, 41},
        {__LINE__, "undamped at resonance", Model({{1}}, {{0}}, {{1}}, {1}, {0}), 0.25, 2, 0.25, -1,
         SweepEnd::singular, 4},
        {__LINE__, "LAMBDA squared overflows", storey, 1e153, 1.35e154, 1e153, -1, SweepEnd::trapped, 14},
        {__LINE__, "the sink refuses a step", si_frame_with_tuned_mass(), 5, 25, 0.5, 30, SweepEnd::trapped, 31},
        // The accuracy check overflows at every step: what it raises is
        // no step's, also when the traps stay off over many steps.
        {__LINE__, "the check overflows", Model(I2, rayleigh(I2, K2, 0.02, 0.618034, 1.618034), K2, {1e160, 0}, {0, 0}),
         1, 2, 0.25, -1, SweepEnd::completed, 5},
    };
    const int traps = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;
    for (const Row& r : rows_) {
        for (const int threads : {1, 3}) {
            SCOPED_TRACE(testing::Message() << "line " << r.line << ": " << r.what << ", " << threads << " threads");
            const int32_t NU2 = r.model.NU + r.model.NU;
            const long steps = sweep_steps(r.lammin, r.lammax, r.dlam, kMaxSweepSteps);
            Collect sink(NU2, r.refuse_at);
            feclearexcept(FE_ALL_EXCEPT);
            feenableexcept(traps);
            const SweepOutcome end = sweep(r.model.system(), r.lammin, r.lammax, r.dlam, steps, threads, sink);
            fedisableexcept(FE_ALL_EXCEPT);
            EXPECT_EQ(static_cast<int>(end.end), static_cast<int>(r.end));
            EXPECT_EQ(end.steps, r.steps);
            ASSERT_EQ(static_cast<long>(sink.lambdas.size()), r.steps);
            EXPECT_EQ(end.LAMBDA, sink.lambdas.back());
            if (r.end == SweepEnd::trapped) {
                // Masked, the overflow runs on into an invalid operation:
                // which came first is the replay's to tell.
                EXPECT_NE(end.exceptions & FE_OVERFLOW, 0);
                EXPECT_EQ(end.exceptions & ~traps, 0);
                EXPECT_EQ(end.in_sink, r.refuse_at >= 0);
            }
            if (r.end == SweepEnd::singular) {
                StepWork w(NU2);
                const StepResult res = solve_step(r.model.system(), end.LAMBDA, w);
                EXPECT_EQ(end.d, res.d);
                EXPECT_EQ(end.i, res.i);
            }
            // Every step taken, with all 2 NU values as one step solves them.
            ASSERT_EQ(static_cast<long>(sink.solutions.size()), r.end == SweepEnd::completed ? r.steps : r.steps - 1);
            for (std::size_t k = 0; k < sink.solutions.size(); ++k) {
                std::vector<double> x;
                step(r.model, sink.lambdas[k], x);
                EXPECT_EQ(sink.solutions[k], x) << "step " << k + 1;
            }
        }
    }
}

}  // namespace
