// The resonance sweep: every step's system solved, sequentially or on
// worker threads, and handed to the caller in step order.
#pragma once

#include <cstdint>

#include "analysis/step.h"

// What the caller does with each step, always on the calling thread and in
// step order: the step begins (header), then its whole solution XH (all
// 2 NU values) unless the sweep ends at it.
class SweepSink {
public:
    virtual ~SweepSink() = default;
    virtual void header(double LAMBDA) = 0;
    // 0 when the step is taken; otherwise the floating-point exceptions
    // that the caller traps and that the sink's own arithmetic raised,
    // having taken nothing of the step: the sweep then ends there.
    virtual int solution(double LAMBDA, const double* XH) = 0;
};

// How a sweep ended.
enum class SweepEnd {
    completed,  // every step handed over
    singular,   // the step's matrix is singular also with row exchanges
    trapped,    // the step raised exceptions that the caller traps
};

struct SweepOutcome {
    SweepEnd end = SweepEnd::completed;
    long steps = 0;       // steps begun (headers handed over)
    double LAMBDA = 0.0;  // of the step it ended at
    double d = 0.0;       // singular: the failing pivot and its position
    int32_t i = 0;
    int exceptions = 0;       // trapped: the exceptions raised
    bool in_sink = false;     // trapped in the sink's arithmetic, not in solving
};

// Sweeps LAMBDA from LAMMIN by DLAM up to the first value not below
// LAMMAX (steps of them).  With threads above 1 the systems are solved on
// that many threads, the calling one included; every step is solved with
// the floating-point traps masked, and one that raised an exception the
// caller traps ends the sweep at its turn (trapped): solving it again in
// the caller's environment raises the trap where the sequential sweep
// would.  Every worker has ended when it returns.  Writes nothing.
SweepOutcome sweep(const System& s, double LAMMIN, double LAMMAX, double DLAM, long steps, int threads,
                   SweepSink& sink);

// The threads a sweep of steps steps of order NU2 runs on: VARNOSTIK_THREADS
// when set to a positive count, otherwise the processors this process may
// use; 1 where the sweep is too small to gain from more.
int sweep_threads(long steps, int32_t NU2);
