// Interrupts of the companion: SIGINT, SIGTERM and SIGHUP, while a scope
// lives, only record which came (the drawing companion's guard).  The
// command looks at that record between its steps and after every wait,
// and unwinds by an exception to the one clean-up path: the temporary
// files go with the objects that made them, gnuplot is ended and waited
// for, and the process ends with 128 + the signal's number.
#pragma once

#include <memory>

namespace plot {
class InterruptGuard;
}

namespace design {

// Thrown where a step finds that an interrupt came.
struct Interrupted {
    int signal = 0;
};

class InterruptScope {
public:
    InterruptScope();
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

private:
    std::unique_ptr<plot::InterruptGuard> guard_;
};

// The signal that came while a scope lives, or 0.
int interrupt_signal();

// Readable once an interrupt came while a scope lives (-1 without one):
// a wait polls it beside what it waits for.
int interrupt_fd();

// Throws Interrupted when an interrupt came.
void stop_if_interrupted();

// The name shown for a signal ("SIGTERM").
const char* interrupt_name(int signal);

}  // namespace design
