// The interrupts that end a drawing early: SIGINT, SIGTERM and SIGHUP.
// While a guard lives their handler only records which came and makes a
// descriptor readable; every wait (for input, for room in gnuplot's pipe,
// for gnuplot's end) polls that descriptor too, so that an interrupt is
// never missed between a look at the flag and a wait.  The loops then
// unwind, and the one clean-up path (temporary files removed, gnuplot
// ended) runs before the exit.
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

// Readable once an interrupt has come while a guard lives; -1 without a
// guard (poll passes over it).
int interrupt_fd();

// The signal that came while a guard lives, or 0.
int interrupted();

// The name shown for a signal ("SIGINT").
const char* signal_name(int sig);

}  // namespace plot
