#include "textio/runtime.h"

#include <cerrno>
#include <cfenv>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "textio/descriptors.h"
#include "textio/progress.h"
#include "textio/record_buffer.h"
#include "textio/units.h"

namespace textio {
namespace {

volatile sig_atomic_t g_ending = 0;

// Decimal digits of a non-negative number, at least min_digits of them.
std::size_t put_number(char* out, unsigned long v, std::size_t min_digits) {
    char tmp[24];
    std::size_t n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n < min_digits) tmp[n++] = '0';
    for (std::size_t i = 0; i < n; ++i) out[i] = tmp[n - 1 - i];
    return n;
}

// Builds the report in a fixed buffer and writes it with one write(2):
// CR LF, "run-time error ", letter, number, the operation part, CR LF,
// "- ", the message, CR LF.
void write_report(char letter, int number, std::string_view operation, std::string_view unit,
                  bool with_unit, std::string_view message) {
    progress_erase();
    char buf[1400];
    std::size_t n = 0;
    auto put = [&](std::string_view s) {
        std::size_t k = s.size() < sizeof buf - n ? s.size() : sizeof buf - n;
        std::memcpy(buf + n, s.data(), k);
        n += k;
    };
    put("\r\nrun-time error ");
    put(std::string_view(&letter, 1));
    char digits[24];
    put(std::string_view(digits, put_number(digits, static_cast<unsigned long>(number), 4)));
    put(operation);
    if (with_unit) {
        put(unit.substr(0, 300));
        put(")");
    }
    put("\r\n");
    if (!message.empty()) {
        put("- ");
        put(message.substr(0, 1000));
        put("\r\n");
    }
    write_fd(2, buf, n);
}

// The one way out: every unit's buffer to its file, the pending console
// line end, the exit status.
[[noreturn]] void finish(int status) {
    g_ending = 1;
    if (!flush_all_units()) status = kExitError;
    remove_empty_created_files();
    if (console_line_pending()) write_fd(1, "\r\n", 2);
    _exit(status);
}

// Before the stop text: every record goes to its file first, so that a
// write that fails ends the run with its report instead of the stop; then
// the pending console line is ended, and stays pending, so that the end of
// the run writes one more line end.
void flush_before_stop_text() {
    g_ending = 1;
    progress_erase();
    if (!flush_all_units()) finish(kExitError);
    if (console_line_pending()) write_fd(1, "\r\n", 2);
}

std::string_view operation_text(IoOp op) {
    switch (op) {
    case IoOp::read: return ": READ(";
    case IoOp::write: return ": WRITE(";
    case IoOp::open: return ": OPEN(";
    case IoOp::close: return ": CLOSE(";
    }
    return ": READ(";
}

struct FpKind {
    int code;
    int number;
    const char* message;
};

constexpr FpKind kFpKinds[] = {
    {FPE_FLTINV, 6101, "floating-point error: invalid"},
    {FPE_FLTDIV, 6103, "floating-point error: divide by zero"},
    {FPE_FLTOVF, 6104, "floating-point error: overflow"},
    {FPE_FLTUND, 6105, "floating-point error: underflow"},
    {FPE_FLTRES, 6106, "floating-point error: inexact"},
    {FPE_INTDIV, 6103, "floating-point error: divide by zero"},
};

void on_fpe(int, siginfo_t* info, void*) {
    const FpKind* kind = &kFpKinds[0];
    for (const FpKind& k : kFpKinds)
        if (info != nullptr && info->si_code == k.code) kind = &k;
    if (g_ending) {
        remove_empty_created_files();
        _exit(kExitError);
    }
    write_report('M', kind->number, ": MATH", {}, false, kind->message);
    finish(kExitError);
}

// The interrupts that end the run with every complete record on disk.
struct Interrupt {
    int sig;
    std::string_view message;
};
constexpr Interrupt kInterrupts[] = {
    {SIGINT, "\r\nrun interrupted by SIGINT\r\n"},
    {SIGTERM, "\r\nrun interrupted by SIGTERM\r\n"},
    {SIGHUP, "\r\nrun interrupted by SIGHUP\r\n"},
};

// Only write(2) and _exit: the records complete in the buffers go to their
// files, the one being built is dropped, and the console's pending line
// end is left unwritten.
void on_interrupt(int sig) {
    if (hold_interrupt(sig)) return;
    progress_erase();
    write_committed_records();
    remove_empty_created_files();
    for (const Interrupt& i : kInterrupts)
        if (i.sig == sig) write_fd(2, i.message.data(), i.message.size());
    _exit(128 + sig);
}

void interrupt_set(sigset_t& set) {
    sigemptyset(&set);
    for (const Interrupt& i : kInterrupts) sigaddset(&set, i.sig);
}

void catch_interrupts() {
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sa.sa_flags = SA_RESTART;
    interrupt_set(sa.sa_mask);
    for (const Interrupt& i : kInterrupts) {
        struct sigaction old {};
        // A signal ignored when the run starts (as under nohup) stays ignored.
        if (sigaction(i.sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(i.sig, &sa, nullptr);
    }
}

void enable_fp_traps() {
    feenableexcept(kTrappedExceptions);
    struct sigaction sa {};
    sa.sa_sigaction = on_fpe;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGFPE, &sa, nullptr);
}

}  // namespace

void start_run(int argc, char** argv) {
    // Should one stay closed, the units' opens still keep off its number.
    open_closed_standard_streams();
    init_units(argc, argv);
    // A closed standard output is reported as a write error, not a silent death.
    signal(SIGPIPE, SIG_IGN);
    enable_fp_traps();
    catch_interrupts();
}

void block_interrupts(bool block) {
    sigset_t set;
    interrupt_set(set);
    pthread_sigmask(block ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

void stop_run() {
    flush_before_stop_text();
    write_fd(1, "Stop - Program terminated.\r\n", 28);
    finish(kExitNormal);
}

void stop_text(std::string_view text) {
    flush_before_stop_text();
    write_fd(1, text.data(), text.size());
    write_fd(1, "\r\n", 2);
    finish(kExitStopText);
}

void stop_code(int code) {
    flush_before_stop_text();
    char buf[40] = "Return code ";
    std::size_t n = 12;
    n += put_number(buf + n, static_cast<unsigned long>(code < 0 ? -code : code), 1);
    buf[n++] = '\r';
    buf[n++] = '\n';
    write_fd(1, buf, n);
    finish(code);
}

void io_error(IoError code, IoOp op, std::string_view unit_name, std::string_view message) {
    write_report('F', static_cast<int>(code), operation_text(op), unit_name, true, message);
    if (g_ending) {
        remove_empty_created_files();
        _exit(kExitError);
    }
    finish(kExitError);
}

void report_write_failure(std::string_view unit_name) {
    write_report('F', static_cast<int>(IoError::write_failed), ": WRITE(", unit_name, true,
                 "cannot write the file at the end of the run");
}

}  // namespace textio
