#include "plot/interrupt.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>

namespace plot {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

volatile std::sig_atomic_t g_signal = 0;
int g_pipe[2] = {-1, -1};  // the handler writes, the waits poll

// Records the first signal only: the exit status names the one that asked
// for the end.
extern "C" void record_signal(int sig) {
    if (g_signal == 0) g_signal = sig;
    const int saved = errno;
    const char byte = 1;
    // Non-blocking: a full pipe already says enough.
    [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

InterruptGuard::InterruptGuard() {
    g_signal = 0;
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) g_pipe[0] = g_pipe[1] = -1;
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
    for (int& fd : g_pipe) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

int interrupt_fd() { return g_pipe[0]; }

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
