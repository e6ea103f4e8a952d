// The picture: a gnuplot script with the curves inline, and gnuplot run
// over a pipe to draw it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "plot/curves.h"

namespace plot {

enum class Lang { pl, en };
enum class Format { svg, png, pdf };

struct Style {
    Lang lang = Lang::pl;
    bool log = false;   // logarithmic amplitude axis
    std::string title;  // empty: a title made from the file name
    std::string file;   // the file drawn, for the default title
};

// The picture's format from the extension of its path (.svg, .png, .pdf).
std::optional<Format> format_of(std::string_view path);

// A whole gnuplot script that draws the curves into output.
std::string gnuplot_script(const Curves& curves, const Style& style, Format format,
                           std::string_view output);

// Whether a program of that name is on the PATH.
bool on_path(std::string_view program);

// Writes all the bytes to the descriptor, going on after interruptions;
// false on a failure (errno tells which).
bool write_all(int fd, std::string_view bytes);

// Runs gnuplot with the script on its standard input.  Empty when it ran
// without a fault; otherwise what went wrong, with gnuplot's first error.
std::string run_gnuplot(const std::string& script);

}  // namespace plot
