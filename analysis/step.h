// One step of the resonance sweep: the harmonic-response system at one
// forcing frequency, built from the assembled matrices, factored, solved,
// and its solution checked for accuracy.
#pragma once

#include <cstdint>
#include <vector>

#include "textio/runtime.h"

using textio::TrapsOff;

// The assembled system of the sweep: everything a step needs besides its
// LAMBDA.  The arrays are the complete-system matrices (NU x NU) and the
// forcing vectors (LK), owned by the caller and read only.
struct System {
    int32_t LK = 0;
    int32_t NU = 0;
    const double* MS = nullptr;
    const double* CS = nullptr;
    const double* KS = nullptr;
    const double* PC = nullptr;
    const double* PS = nullptr;
    int32_t NU2() const { return NU + NU; }
};

// Work arrays of one step.  AH and XH are the system's matrix and
// right-hand side, then its factors and solution; the others serve the
// accuracy check: the blocks W = KS - LAMBDA^2 MS and V = LAMBDA CS of the
// system as built (NU x NU), its right-hand side XH0, the first solution
// X0, the candidate X and the residual R.  A worker of the sweep owns one.
struct StepWork {
    double* AH = nullptr;
    double* XH = nullptr;
    std::vector<double> W, V, XH0, X0, X, R;
    std::vector<double> own_AH, own_XH;  // used when AH and XH are not given
    // Work for systems of order NU2; AH and XH are the caller's when given.
    explicit StepWork(int32_t NU2, double* AH = nullptr, double* XH = nullptr);
};

// How a step came to its solution.
enum class StepPath {
    factored,    // DECOMP and SOLVE, accepted by the first check
    refined,     // accepted after one to three refinements
    repivoted,   // the check failed; solved again with row exchanges
    kept,        // the check failed and so did the re-solve; x0 stays
    exchanged,   // a pivot failed DECOMP's test; solved with row exchanges
    singular,    // singular also with row exchanges: the run must stop
};

struct StepResult {
    StepPath path = StepPath::factored;
    int rounds = 0;       // refinements made by the check
    double d = 0.0;       // the failing pivot, when DECOMP's test failed
    int32_t i = 0;        // its position
};

// The matrix AH and right-hand side XH of the system at LAMBDA.
void build_system(const System& s, double LAMBDA, double* AH, double* XH);

// Builds and solves the system at LAMBDA into w.XH.  Arithmetic that may
// trap runs with the caller's floating-point environment; the accuracy
// check runs with the traps off and cannot stop the run.
StepResult solve_step(const System& s, double LAMBDA, StepWork& w);
