#include "textio/runtime.h"

#include <cfenv>
#include <csignal>
#include <cstring>
#include <unistd.h>

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
    if (console_line_pending()) write_fd(1, "\r\n", 2);
    _exit(status);
}

// Before the stop text: end the pending console line, which stays pending,
// so that the end of the run writes one more line end.
void end_console_line_before_stop() {
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
    if (g_ending) _exit(kExitError);
    write_report('M', kind->number, ": MATH", {}, false, kind->message);
    finish(kExitError);
}

void enable_fp_traps() {
    feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
    struct sigaction sa {};
    sa.sa_sigaction = on_fpe;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGFPE, &sa, nullptr);
}

}  // namespace

void start_run(int argc, char** argv) {
    init_units(argc, argv);
    // A closed standard output is reported as a write error, not a silent death.
    signal(SIGPIPE, SIG_IGN);
    enable_fp_traps();
}

void stop_run() {
    end_console_line_before_stop();
    write_fd(1, "Stop - Program terminated.\r\n", 28);
    finish(kExitNormal);
}

void stop_text(std::string_view text) {
    end_console_line_before_stop();
    write_fd(1, text.data(), text.size());
    write_fd(1, "\r\n", 2);
    finish(kExitStopText);
}

void stop_code(int code) {
    end_console_line_before_stop();
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
    if (g_ending) _exit(kExitError);
    finish(kExitError);
}

void report_write_failure(std::string_view unit_name) {
    write_report('F', static_cast<int>(IoError::write_failed), ": WRITE(", unit_name, true,
                 "cannot write the file at the end of the run");
}

}  // namespace textio
