// The resonance sweep: every step's system solved, sequentially or on
// worker threads, and handed to the caller's records in step order.
#pragma once

#include <cstdint>
#include <functional>

#include "analysis/step.h"

// What the sweep does with each step, always on the calling thread and in
// step order: the step's header before its solution, then the amplitudes at
// cos and at sin of the LK frame unknowns, or the singular-matrix stop.
struct SweepRecords {
    std::function<void(double LAMBDA)> header;
    std::function<void(double LAMBDA, const double* AC, const double* AS)> solution;
    std::function<void(double d, int32_t i)> singular;  // ends the run
};

// Sweeps LAMBDA from LAMMIN by DLAM up to the first value not below
// LAMMAX (steps of them).  AH and XH serve the sequential steps.  With
// threads above 1 the systems are solved on that many workers, with the
// floating-point traps masked; a step that raised an exception is solved
// again on the calling thread, traps on, when its turn comes, so every
// record and every stop is that of the sequential sweep.
void sweep(const System& s, double LAMMIN, double LAMMAX, double DLAM, long steps, int threads, double* AH,
           double* XH, const SweepRecords& out);

// The threads a sweep of steps steps of order NU2 runs on: VARNOSTIK_THREADS
// when set to a positive count, otherwise the processors this process may
// use; 1 where the sweep is too small to gain from more.
int sweep_threads(long steps, int32_t NU2);
