// The command line of varnostik-plot: options, the files it reads and
// writes, messages and exit statuses.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "plot/curves.h"
#include "plot/script.h"

namespace plot {

inline constexpr int kExitDone = 0;
inline constexpr int kExitBadInput = 1;  // a file that cannot be read, or read as neither kind
inline constexpr int kExitUsage = 2;     // the command line itself
inline constexpr int kExitDrawing = 3;   // the picture or an output could not be made
inline constexpr int kExitInterrupted = 128;  // plus the signal's number: SIGINT, SIGTERM, SIGHUP

struct Options {
    std::string file;
    std::string output;  // empty: file with ".svg" added
    std::string results;
    std::string csv;
    std::string script;
    std::string title;
    View view;
    Lang lang = Lang::pl;
    bool log = false;
    bool help = false;
    bool version = false;
};

struct Parsed {
    Options options;
    std::string error;  // the usage error
};

Parsed parse_options(const std::vector<std::string>& args);

// The whole program; returns the exit status.
int run_plot(int argc, char** argv);

}  // namespace plot
