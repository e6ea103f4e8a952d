#include "design/interrupt.h"

#include "plot/interrupt.h"

namespace design {

InterruptScope::InterruptScope() : guard_(std::make_unique<plot::InterruptGuard>()) {}

InterruptScope::~InterruptScope() = default;

int interrupt_signal() { return plot::interrupted(); }

int interrupt_fd() { return plot::interrupt_fd(); }

void stop_if_interrupted() {
    if (const int sig = plot::interrupted()) throw Interrupted{sig};
}

const char* interrupt_name(int signal) { return plot::signal_name(signal); }

}  // namespace design
