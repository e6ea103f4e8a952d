// A progress line for the sweep on standard error, shown only when
// standard error is a terminal: after the sweep has run for a while it is
// rewritten in place (CR) a few times a second, and erased (CR, blanks,
// CR) when the sweep ends or the run ends in any way.  When standard error
// is not a terminal nothing is ever written.
#pragma once

#include <cstdint>
#include <string>

namespace textio {

// The words of the line: step number step of steps, at value, with the
// seconds the rest is likely to take.  The line is cut to the terminal's
// width.
using ProgressText = std::string (*)(long step, long steps, double value, long seconds_left);

// The sweep begins; it makes exactly steps steps, and text words its line.
// The line first appears after 2 seconds; for tests only, the environment
// variable VARNOSTIK_PROGRESS_AFTER_MS sets that delay in milliseconds.
void progress_start(long steps, ProgressText text);

// Step number step (1-based) of the sweep is done, at value.
void progress_step(long step, double value);

// Seconds as M:SS, or H:MM:SS from an hour on.
std::string clock_text(long seconds);

// The sweep is over: the line is erased.
void progress_end();

// Erases the line if it is shown.  Async-signal-safe (write(2) only): the
// stops, the error report and the interrupt handler call it before they
// write, and so does every console record.
void progress_erase();

}  // namespace textio
