// The one file of the companion that calls into analysis/.
#include "design/analysis_link.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "analysis/assemb.h"
#include "analysis/eigen.h"
#include "analysis/modes.h"
#include "analysis/propcr.h"
#include "analysis/step.h"
#include "input/forcin.h"

namespace design {

FrameModes frame_modes(int32_t LK, const std::vector<double>& MR, const std::vector<double>& KR) {
    const ::FrameModes modes = ::frame_modes(MR.data(), KR.data(), LK);
    FrameModes m;
    m.converged = modes.status == EigenStatus::converged;
    m.OMEGA = modes.OMEGA;
    m.PHI = modes.PHI;
    return m;
}

std::vector<double> proportional_damping(int32_t LK, const std::vector<double>& OMEGA, double GAMMA1, double GAMMA2,
                                         const std::vector<double>& MR, const std::vector<double>& KR) {
    std::vector<double> CR(static_cast<std::size_t>(LK) * static_cast<std::size_t>(LK));
    PROPCR(LK, OMEGA.data(), GAMMA1, GAMMA2, MR.data(), KR.data(), CR.data());
    return CR;
}

std::vector<double> assemble(int32_t LK, int32_t LPT, const std::vector<double>& R, const std::vector<double>& kk,
                             const std::vector<double>& kt, const std::vector<double>& tk,
                             const std::vector<double>& tt) {
    const int32_t NU = LK + LPT;
    std::vector<double> S(static_cast<std::size_t>(NU) * static_cast<std::size_t>(NU));
    ASSEMB(NU, LK, LPT, S.data(), kk.data(), kt.data(), tk.data(), tt.data(), R.data());
    return S;
}

std::vector<double> sweep_lambdas(double LAMMIN, double LAMMAX, double DLAM) {
    std::vector<double> out;
    if (sweep_steps(LAMMIN, LAMMAX, DLAM, kMaxSweepSteps) == 0) return out;
    SweepLambdas lambdas(LAMMIN, LAMMAX, DLAM);
    double LAMBDA = 0.0;
    while (lambdas.next(LAMBDA)) out.push_back(LAMBDA);
    return out;
}

struct Stepper::Impl {
    std::vector<double> MS, CS, KS, PC, PS;
    System system;
    StepWork work;
    std::vector<double> A, b;
    Impl(int32_t LK, int32_t NU, std::vector<double> ms, std::vector<double> cs, std::vector<double> ks,
         std::vector<double> pc, std::vector<double> ps)
        : MS(std::move(ms)),
          CS(std::move(cs)),
          KS(std::move(ks)),
          PC(std::move(pc)),
          PS(std::move(ps)),
          system{LK, NU, MS.data(), CS.data(), KS.data(), PC.data(), PS.data(), NU},
          work(NU + NU),
          A(static_cast<std::size_t>(4) * NU * NU),
          b(static_cast<std::size_t>(2) * NU) {}
};

Stepper::Stepper(int32_t LK, int32_t NU, std::vector<double> MS, std::vector<double> CS, std::vector<double> KS,
                 std::vector<double> PC, std::vector<double> PS)
    : impl_(std::make_unique<Impl>(LK, NU, std::move(MS), std::move(CS), std::move(KS), std::move(PC), std::move(PS))) {
}

Stepper::~Stepper() = default;

int32_t Stepper::LK() const { return impl_->system.LK; }
int32_t Stepper::NU() const { return impl_->system.NU; }

namespace {
// Rounds of refinement of the companion's own values, and the accuracy at
// which they stop: well inside the 1e-8 of an amplitude that is promised.
constexpr int kRefinements = 6;
constexpr double kRefinedAccuracy = 1e-12;
constexpr double kPromisedAccuracy = 1e-8;
}  // namespace

Stepper::Solved Stepper::solve(double LAMBDA, std::vector<double>& x, std::vector<double>& refined) {
    Impl& s = *impl_;
    const int32_t NU = s.system.NU;
    const int32_t n = NU + NU;
    const StepResult res = solve_step(s.system, LAMBDA, s.work);
    if (res.path == StepPath::singular) return Solved::singular;
    x.assign(s.work.XH, s.work.XH + n);

    // The step's check accepts a solution on the frame's unknowns only; the
    // tuned masses' motion is refined here, with residuals in long double
    // and corrections from a factorisation with row exchanges, without
    // touching x.
    build_system(s.system, LAMBDA, s.A.data(), s.b.data());
    const Eigen::Map<const Eigen::MatrixXd> A(s.A.data(), n, n);
    const Eigen::PartialPivLU<Eigen::MatrixXd> lu(A);
    refined = x;
    Eigen::VectorXd r(n);
    bool accurate = false;
    for (int round = 0; round < kRefinements; ++round) {
        for (int32_t i = 0; i < n; ++i) {
            long double sum = s.b[static_cast<std::size_t>(i)];
            for (int32_t j = 0; j < n; ++j)
                sum -=
                    static_cast<long double>(A(i, j)) * static_cast<long double>(refined[static_cast<std::size_t>(j)]);
            r(i) = static_cast<double>(sum);
        }
        const Eigen::VectorXd d = lu.solve(r);
        if (!d.allFinite()) break;
        bool small = true;
        accurate = true;
        for (int32_t k = 0; k < NU; ++k) {
            const double ac = refined[static_cast<std::size_t>(k)];
            const double as = refined[static_cast<std::size_t>(NU + k)];
            const double amp = std::sqrt(ac * ac + as * as);
            const double e = std::max(std::fabs(d(k)), std::fabs(d(NU + k)));
            small = small && e <= kRefinedAccuracy * amp;
            accurate = accurate && e <= kPromisedAccuracy * amp;
        }
        for (int32_t i = 0; i < n; ++i) refined[static_cast<std::size_t>(i)] += d(i);
        if (small) break;
    }
    return accurate ? Solved::accurate : Solved::inaccurate;
}

}  // namespace design
