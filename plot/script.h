// The picture as a gnuplot script, the curves inline: text only, made from
// the curves and the style, with no file or process touched.
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
    std::string amplitude_unit;  // after the amplitude axis's name, e.g. " [m]"; empty: none
    // A single panel of values against another variable than the forcing
    // frequency (a frame's stiffness scale), when x_label is not empty: the
    // axes' names, the variable's symbol in the maxima's texts; no phase.
    std::string x_label, y_label, x_symbol;
};

// The picture's format from the extension of its path (.svg, .png, .pdf).
std::optional<Format> format_of(std::string_view path);

// A text as a picture shows it: UTF-8, where every byte that does not
// belong to a valid UTF-8 sequence is read as ISO 8859-2 (the encoding of
// the program's own files), and control characters shown as '?'.
std::string picture_text(std::string_view text);

// A whole gnuplot script that draws the curves into output.  The output's
// name is written so that gnuplot takes it as a plain file name: never a
// command to pipe into (a name starting with '|'), never a home folder (a
// name starting with '~/').  A name must hold no line end.
std::string gnuplot_script(const Curves& curves, const Style& style, Format format,
                           std::string_view output);

}  // namespace plot
