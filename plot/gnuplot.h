// gnuplot as a child process: started, fed the script over a pipe, and
// finished with an outcome.  It never ends this process; whatever way the
// drawing ends, a child still running when the object goes is ended and
// waited for.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "plot/curves.h"
#include "plot/script.h"

namespace plot {

// Whether a program of that name is on the PATH.
bool on_path(std::string_view program);

class GnuplotProcess {
public:
    GnuplotProcess() = default;
    GnuplotProcess(const GnuplotProcess&) = delete;
    GnuplotProcess& operator=(const GnuplotProcess&) = delete;
    ~GnuplotProcess();

    // Starts gnuplot reading its script from a pipe, in the folder given
    // (empty: this process's own); empty, or what failed.
    std::string start(const std::string& folder = {});

    // Writes script text to gnuplot; false once gnuplot no longer reads it
    // or an interrupt has come (finish() tells which).
    bool feed(std::string_view text);

    struct Outcome {
        enum class Kind { done, failed, interrupted } kind = Kind::done;
        std::string message;  // why it failed, with gnuplot's first error
        int signal = 0;       // the interrupt, when interrupted
    };
    // Ends the script and waits for gnuplot.
    Outcome finish();

private:
    void close_input();

    pid_t pid_ = -1;
    int input_ = -1;  // the pipe gnuplot reads its script from
    int errors_ = -1; // an unnamed file that takes gnuplot's messages
    bool fed_ = true;
};

// A picture drawn by gnuplot: its bytes, or why there are none.
struct Drawing {
    GnuplotProcess::Outcome outcome;
    std::string bytes;
};

// Draws the curves.  gnuplot works in a private temporary folder (made
// under $TMPDIR, or /tmp) and writes the picture there under a plain name
// of this program's making, so that no name a user gave ever reaches it;
// the picture's bytes come back, for the caller to put in place.  The
// folder and all in it go on every path: done, failed or interrupted.
Drawing draw(const Curves& curves, const Style& style, Format format);

}  // namespace plot
