// One step of the resonance sweep.
//
// DECOMP eliminates without exchanges and keeps each pivot as d - 1, so a
// nearly singular leading block, or pivots far above 1 (stiffnesses in N/m),
// can cost the solution most of its digits.  Every solution is therefore
// checked by iterative refinement with DECOMP's own factors; a step whose
// solution passes at once keeps the bits DECOMP and SOLVE gave it.
#include "analysis/step.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstddef>
#include <new>

#include "analysis/solve.h"
#include "input/matrix_view.h"

namespace {

// A solution is accepted when the estimate of its error in every frame
// unknown, at cos and at sin, is at most this share of that unknown's
// amplitude: a hundredth of a unit of the sixth printed digit.
constexpr double kAccuracy = 1e-8;
// Refinements after the first check.
constexpr int kMaxRefinements = 3;

bool all_finite(const double* v, int32_t n) {
    for (int32_t k = 0; k < n; ++k)
        if (!std::isfinite(v[k])) return false;
    return true;
}

// r := r - B x for the columns of a block B (NU x NU) and the part x of a
// candidate; each column's term scaled by sign.  Up to kMaxColumnUpdates
// columns go through the rows together, each element still taking them
// one after the other.
void subtract_block(double* r, const double* B, const double* x, double sign, int32_t NU) {
    const double* columns[kMaxColumnUpdates];
    double f[kMaxColumnUpdates];
    for (int32_t j0 = 0; j0 < NU; j0 += kMaxColumnUpdates) {
        const int b = static_cast<int>(std::min<int32_t>(kMaxColumnUpdates, NU - j0));
        for (int c = 0; c < b; ++c) {
            columns[c] = B + static_cast<std::size_t>(j0 + c) * static_cast<std::size_t>(NU);
            f[c] = sign * x[j0 + c];
        }
        column_updates(r, columns, f, b, NU);
    }
}

// r := XH0 - AH0 x, then r := (factored AH) solve r: the estimate of the
// error of x.  False when a value is not finite.  AH0 is [W, V; -V, W],
// taken a block at a time: every element of r still subtracts the columns
// 1..NU2 in order, and a product with -V is subtracted as a product with V
// and -x(j), which rounds the same.
bool error_estimate(const System& s, const StepWork& w, const double* x, double* r) {
    const int32_t NU = s.NU;
    const int32_t n = s.NU2();
    std::copy_n(w.XH0.data(), n, r);
    subtract_block(r, w.W.data(), x, 1.0, NU);
    subtract_block(r + NU, w.V.data(), x, -1.0, NU);
    subtract_block(r, w.V.data(), x + NU, 1.0, NU);
    subtract_block(r + NU, w.W.data(), x + NU, 1.0, NU);
    if (!all_finite(r, n)) return false;
    solve_skipping_zeros(w.AH, n, r);
    return all_finite(r, n);
}

// Whether the error e of x is small against the amplitude of every frame
// unknown, the amplitude taken as the sweep takes it.
bool accurate(const System& s, const double* x, const double* e) {
    for (int32_t k = 0; k < s.LK; ++k) {
        const double ac = x[k];
        const double as = x[s.NU + k];
        const double amp = std::sqrt(as * as + ac * ac);
        const double tol = kAccuracy * amp;
        if (!(std::fabs(e[k]) <= tol) || !(std::fabs(e[s.NU + k]) <= tol)) return false;
    }
    return true;
}

// Checks x0 (in XH) and up to three refined candidates.  The refinements
// made when one is accepted (and it is then in XH), or -1.
int refine(const System& s, StepWork& w) {
    const int32_t n = s.NU2();
    double* x = w.X.data();
    double* e = w.R.data();
    std::copy_n(w.XH, n, x);
    for (int round = 0;; ++round) {
        if (!all_finite(x, n) || !error_estimate(s, w, x, e)) return -1;
        if (accurate(s, x, e)) {
            if (round > 0) std::copy_n(x, n, w.XH);
            return round;
        }
        if (round == kMaxRefinements) return -1;
        for (int32_t i = 0; i < n; ++i) x[i] = x[i] + e[i];
    }
}

// The blocks W = KS - LAMBDA^2 MS and V = LAMBDA CS and the right-hand
// side of the system at LAMBDA, each value computed as build_system
// computes it.  The elements are taken column by column: the only
// exception the products can raise is an overflow, so the order in which
// they are made cannot change what a trap reports.
void build_blocks(const System& s, double LAMBDA, StepWork& w) {
    const std::size_t n = static_cast<std::size_t>(s.NU) * static_cast<std::size_t>(s.NU);
    for (std::size_t k = 0; k < n; ++k) {
        w.W[k] = s.KS[k] - (s.MS[k] * LAMBDA) * LAMBDA;
        w.V[k] = s.CS[k] * LAMBDA;
    }
    std::fill(w.XH0.begin(), w.XH0.end(), 0.0);
    for (int32_t i = 0; i < s.loaded(); ++i) {
        w.XH0[static_cast<std::size_t>(i)] = s.PC[i];
        w.XH0[static_cast<std::size_t>(s.NU + i)] = s.PS[i];
    }
}

// The system as it was built, into AH and XH: column j of AH is W(:,j)
// over -V(:,j), column NU+j is V(:,j) over W(:,j).
void restore_system(const System& s, StepWork& w) {
    const int32_t NU = s.NU;
    const int32_t n = s.NU2();
    for (int32_t j = 1; j <= NU; ++j) {
        const double* wj = MatrixView<const double>(w.W.data(), NU).column(j);
        const double* vj = MatrixView<const double>(w.V.data(), NU).column(j);
        double* left = MatrixView<double>(w.AH, n).column(j);
        double* right = MatrixView<double>(w.AH, n).column(NU + j);
        std::copy_n(wj, NU, left);
        for (int32_t i = 0; i < NU; ++i) left[NU + i] = -vj[i];
        std::copy_n(vj, NU, right);
        std::copy_n(wj, NU, right + NU);
    }
    std::copy_n(w.XH0.data(), n, w.XH);
}

// The check of a solution from DECOMP and SOLVE, and when it fails the
// solution with row exchanges.  Runs with the traps off, which the caller
// sees to.
void check_solution(const System& s, StepWork& w, StepResult& res) {
    const int32_t n = s.NU2();
    const int rounds = refine(s, w);
    if (rounds >= 0) {
        res.path = rounds == 0 ? StepPath::factored : StepPath::refined;
        res.rounds = rounds;
        return;
    }
    res.rounds = kMaxRefinements;
    std::copy_n(w.XH, n, w.X0.data());
    restore_system(s, w);
    int32_t ising = 0;
    PIVSOL(w.AH, n, w.XH, ising);
    if (ising == 0 && all_finite(w.XH, n)) {
        res.path = StepPath::repivoted;
        return;
    }
    std::copy_n(w.X0.data(), n, w.XH);
    res.path = StepPath::kept;
}

}  // namespace

AlignedDoubles::AlignedDoubles(std::size_t n)
    : p_(static_cast<double*>(::operator new[](std::max<std::size_t>(n, 1) * sizeof(double),
                                                 std::align_val_t{kAlignment}))) {
    std::fill_n(p_.get(), std::max<std::size_t>(n, 1), 0.0);
}

void AlignedDoubles::Free::operator()(double* p) const { ::operator delete[](p, std::align_val_t{kAlignment}); }

StepWork::StepWork(int32_t NU2)
    : own_AH_(static_cast<std::size_t>(NU2) * static_cast<std::size_t>(NU2)),
      own_XH_(static_cast<std::size_t>(NU2)), AH(own_AH_.data()), XH(own_XH_.data()),
      W(static_cast<std::size_t>(NU2 / 2) * static_cast<std::size_t>(NU2 / 2)), V(W.size()), XH0(NU2), X0(NU2),
      X(NU2), R(NU2) {}

void build_system(const System& s, double LAMBDA, double* AH, double* XH) {
    const int32_t NU = s.NU;
    const int32_t NU2 = s.NU2();
    const MatrixView<const double> KS(s.KS, NU), MS(s.MS, NU), CS(s.CS, NU);
    const MatrixView<double> A(AH, NU2);
    for (int32_t i = 1; i <= NU; ++i) {
        for (int32_t j = 1; j <= NU; ++j) {
            const double w = KS(i, j) - (MS(i, j) * LAMBDA) * LAMBDA;
            const double v = CS(i, j) * LAMBDA;
            A(i, j) = w;
            A(NU + i, NU + j) = w;
            A(i, NU + j) = v;
            A(NU + i, j) = -v;
        }
    }
    for (int32_t i = 0; i < NU2; ++i) XH[i] = 0.0;
    for (int32_t i = 0; i < s.loaded(); ++i) {
        XH[i] = s.PC[i];
        XH[NU + i] = s.PS[i];
    }
}

namespace {

// Factoring without exchanges fails also when only a leading block is
// singular; such a step is solved again with row exchanges, and only a
// matrix that is singular as a whole is reported so.  With raised given,
// the traps are off already: it gets the watched exceptions that the
// step's solving raised, before the accuracy check, whose own are dropped.
StepResult solve_step_in(const System& s, double LAMBDA, StepWork& w, int watched, int* raised) {
    const int32_t n = s.NU2();
    StepResult res;
    build_blocks(s, LAMBDA, w);
    restore_system(s, w);
    DECOMP(w.AH, n, res.d, res.i);
    if (res.i != 0) {
        restore_system(s, w);
        int32_t ising = 0;
        PIVSOL(w.AH, n, w.XH, ising);
        res.path = ising != 0 ? StepPath::singular : StepPath::exchanged;
        if (raised != nullptr) *raised = fetestexcept(watched);
        return res;
    }
    SOLVE(w.AH, n, w.XH);
    if (raised == nullptr) {
        const TrapsOff traps_off;
        check_solution(s, w, res);
        return res;
    }
    *raised = fetestexcept(watched);
    check_solution(s, w, res);
    return res;
}

}  // namespace

StepResult solve_step(const System& s, double LAMBDA, StepWork& w) { return solve_step_in(s, LAMBDA, w, 0, nullptr); }

StepResult solve_step_held(const System& s, double LAMBDA, StepWork& w, int watched, int& raised) {
    const StepResult res = solve_step_in(s, LAMBDA, w, watched, &raised);
    // Cleared only when set, which is rare: clearing costs as much as the
    // switch of the traps it replaces.
    if (fetestexcept(watched) != 0) feclearexcept(watched);
    return res;
}
