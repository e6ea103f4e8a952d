// One step of the resonance sweep: the harmonic-response system at one
// forcing frequency, built from the assembled matrices, factored, solved,
// and its solution checked for accuracy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "textio/runtime.h"

using textio::TrapsOff;

// The assembled system of the sweep: everything a step needs besides its
// LAMBDA.  The arrays are the complete-system matrices (NU x NU) and the
// forcing vectors, owned by the caller and read only.  The forcing vectors
// load the first NL unknowns; NL = 0 stands for the LK storeys, the
// program's own case (a load on the tuned masses too, as the ground's
// motion gives, sets NL = NU).
struct System {
    int32_t LK = 0;
    int32_t NU = 0;
    const double* MS = nullptr;
    const double* CS = nullptr;
    const double* KS = nullptr;
    const double* PC = nullptr;
    const double* PS = nullptr;
    int32_t NL = 0;
    int32_t NU2() const { return NU + NU; }
    int32_t loaded() const { return NL > 0 ? NL : LK; }
};

// An array of n doubles, zero-filled, on a 64-byte boundary: a cache line,
// and the widest vector the kernels load, on every thread that owns one.
class AlignedDoubles {
public:
    static constexpr std::size_t kAlignment = 64;
    explicit AlignedDoubles(std::size_t n);
    double* data() const { return p_.get(); }

private:
    struct Free {
        void operator()(double* p) const;
    };
    std::unique_ptr<double[], Free> p_;
};

// Work arrays of one step.  AH and XH are the system's matrix (NU2 x NU2)
// and right-hand side, then its factors and solution, owned and aligned;
// the others serve the accuracy check: the blocks W = KS - LAMBDA^2 MS and
// V = LAMBDA CS of the system as built (NU x NU), its right-hand side XH0,
// the first solution X0, the candidate X and the residual R.  Each thread
// that solves steps owns one.
struct StepWork {
    explicit StepWork(int32_t NU2);

private:
    AlignedDoubles own_AH_, own_XH_;

public:
    double* AH;
    double* XH;
    std::vector<double> W, V, XH0, X0, X, R;
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

// Builds and solves the system at LAMBDA into w.XH: all 2 NU values, the
// unknowns at cos in XH(1..NU) and at sin in XH(NU+1..2 NU), the tuned
// masses' unknowns after the LK frame ones.  Writes nothing.  Arithmetic
// that may trap runs with the caller's floating-point environment; the
// accuracy check runs with the traps off and cannot stop the run.
StepResult solve_step(const System& s, double LAMBDA, StepWork& w);

// The same with the traps already off, as a sweep holds them over many
// steps instead of switching them at every step, which costs as much as a
// small model's step takes outside its factoring.  The flags of watched
// must be clear on entry and are clear again on return; raised gets those
// of them that the step's own solving raised (not its accuracy check's),
// which solve_step would have trapped.  The bits of the solution are those
// of solve_step.
StepResult solve_step_held(const System& s, double LAMBDA, StepWork& w, int watched, int& raised);
