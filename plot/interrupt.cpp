#include "plot/interrupt.h"

#include <iterator>

namespace plot {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t g_signal = 0;

// Records the first signal only: the exit status names the one that asked
// for the end.
extern "C" void record_signal(int sig) {
    if (g_signal == 0) g_signal = sig;
}

}  // namespace

InterruptGuard::InterruptGuard() {
    g_signal = 0;
    struct sigaction sa {};
    sa.sa_handler = record_signal;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a read or a wait that the signal interrupts returns, so
    // the loop around it sees the flag at once.
    sa.sa_flags = 0;
    for (std::size_t k = 0; k < std::size(kSignals); ++k) sigaction(kSignals[k], &sa, &old_[k]);
}

InterruptGuard::~InterruptGuard() {
    for (std::size_t k = 0; k < std::size(kSignals); ++k) sigaction(kSignals[k], &old_[k], nullptr);
}

int interrupted() { return g_signal; }

const char* signal_name(int sig) {
    switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
    }
}

}  // namespace plot
