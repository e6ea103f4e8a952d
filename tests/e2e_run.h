// Runs the program as a child process in a fresh temporary folder and
// collects everything it leaves behind: exit status, standard output,
// standard error and the files in the folder.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

enum class Console {
    pipes,     // standard input, output and error are pipes
    terminal,  // standard input and output on a pseudo-terminal, standard error a pipe
};

struct Run {
    std::string input;                          // the bytes typed at the console
    std::vector<std::string> args;              // command-line arguments
    std::map<std::string, std::string> files;   // files in the folder before the run ("sub/name" too)
    Console console = Console::pipes;
    std::chrono::milliseconds timeout{20000};   // the child is killed after this
    std::vector<int> closed;                    // standard streams closed in the child
    bool stderr_terminal = false;               // standard error on a pseudo-terminal of its own
    std::map<std::string, std::string> env;     // set in the child's environment
    // A signal sent to the child once when() holds for the folder and the
    // standard output so far (checked every few milliseconds); until then
    // standard input stays open, so that a read waits.
    int signal = 0;
    std::function<bool(const std::string& folder, const std::string& out)> when;
    std::string program = VARNOSTIK_BIN;        // the executable run
};

struct Outcome {
    int status = -1;        // exit status, -1 when the child ended by a signal
    int signal = 0;         // the signal that ended it, or 0
    bool timed_out = false;
    std::string out;        // standard output (on a terminal: all the master side read)
    std::string err;        // standard error
    std::map<std::string, std::string> files;  // regular files left in the folder, by relative path
};

// On a terminal the input is typed line by line, each line once the output
// of the previous one has settled; a last line without a line end is ended
// by the end-of-file character, and one more end-of-file character follows
// the input.  The terminal has echo and output processing switched off, so
// the output is exactly the bytes the program wrote.
Outcome run(const Run& r);

// The bytes with CR, LF, tab and other control or non-ASCII bytes written
// as escapes, so that line ends can be seen in a failure message.
std::string visible(std::string_view bytes);

// Success when the two byte strings are equal; otherwise the first
// difference with its offset, line and some context on either side.
testing::AssertionResult same_bytes(std::string_view what, std::string_view want,
                                    std::string_view got);

}  // namespace e2e
