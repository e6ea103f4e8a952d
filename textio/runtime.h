// The run's start and its one way out: the three stops, the run-time error
// report, floating-point traps and the final flush of every unit.
#pragma once

#include <cfenv>
#include <string_view>

namespace textio {

// Exit statuses of the process.
inline constexpr int kExitNormal = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitStopText = 2;

// Opens standard streams found closed on the null device, sets up the
// console units, remembers the command-line arguments (names for blank file
// names), enables the floating-point traps and catches the interrupts
// SIGINT, SIGTERM and SIGHUP: they end the run with every complete record
// on disk, "run interrupted by" and the signal's name on standard error,
// and exit status 128 + the signal's number.
void start_run(int argc, char** argv);

// The floating-point exceptions that stop the run: every computation runs
// with these trapped.
inline constexpr int kTrappedExceptions = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

// The floating-point traps off for a scope, with the flags cleared on entry
// and the environment, flags included, restored on exit: nothing done in
// the scope can stop the run or leave a flag behind for the caller.
class TrapsOff {
public:
    TrapsOff() { feholdexcept(&env_); }
    ~TrapsOff() { fesetenv(&env_); }
    TrapsOff(const TrapsOff&) = delete;
    TrapsOff& operator=(const TrapsOff&) = delete;

private:
    fenv_t env_;
};

// Blocks (or unblocks) the interrupts in the calling thread.  The main
// thread takes them; a thread started with them blocked (block, start it,
// unblock) leaves them to it.
void block_interrupts(bool block);

// Normal end: "Stop - Program terminated.", exit status 0.
[[noreturn]] void stop_run();
// Stop with a text: the text on a line of its own, exit status 2.
[[noreturn]] void stop_text(std::string_view text);
// Stop with a code: "Return code " and the code, the code as exit status.
[[noreturn]] void stop_code(int code);

// Input/output error numbers of the run-time error report (letter F).
enum class IoError : int {
    eof_console = 1001,
    eof_file = 1002,
    console_line_too_long = 1003,
    record_too_long = 1004,
    bad_integer = 1010,
    integer_range = 1011,
    bad_real = 1012,
    real_range = 1013,
    zero_repeat = 1014,
    repeat_range = 1015,
    string_value = 1016,
    pair_value = 1017,
    wrong_item_kind = 1020,
    bad_format = 1021,
    read_failed = 1030,
    write_failed = 1031,
    open_failed = 1040,
    already_connected = 1041,
    device_unavailable = 1042,
    not_a_file = 1043,
    too_many_units = 1044,
    value_refused = 1050,
    // A decimal comma refused at the interactive console, where the read is
    // asked again; never reported.
    decimal_comma = 1051,
};

enum class IoOp { read, write, open, close };

// The run-time error report for an input/output error, then the end of the
// run with exit status 1.  unit_name is the unit's name as opened, trimmed.
[[noreturn]] void io_error(IoError code, IoOp op, std::string_view unit_name,
                           std::string_view message);

// The report of a buffer that could not be written while the run is
// already ending; the end goes on (with exit status 1).
void report_write_failure(std::string_view unit_name);

}  // namespace textio
