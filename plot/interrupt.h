// The interrupts that end a drawing early: SIGINT, SIGTERM and SIGHUP.
// While a guard lives their handler only records which came; the loops
// that read, write and wait look at it and unwind, so that the one clean-up
// path (temporary files removed, gnuplot ended) runs before the exit.
#pragma once

#include <csignal>

namespace plot {

class InterruptGuard {
public:
    InterruptGuard();  // installs the handlers, keeping the previous actions
    ~InterruptGuard();  // restores them
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction old_[3] = {};
};

// The signal that came while a guard lives, or 0.
int interrupted();

// The name shown for a signal ("SIGINT").
const char* signal_name(int sig);

}  // namespace plot
