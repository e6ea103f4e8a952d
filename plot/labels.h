// Where the texts beside the curves' largest values stand, so that no two
// of them cover one another.  Positions are in the amplitude panel's graph
// coordinates (0 to 1 across and up); sizes are a generous estimate of a
// character of the picture's font, the same for every format.
#pragma once

#include <cstddef>
#include <vector>

namespace plot {

// A text to place beside its point.
struct PeakText {
    double gx, gy;      // the point
    std::size_t chars;  // the text's length in characters
};

// Where a text goes: beside its point, moved by dx, dy characters, ending
// there when right_aligned; or, when beside is false, in a column at the
// panel's top right corner, row by row.
struct Placement {
    bool beside = true;
    double dx = 0.0, dy = 0.0;
    bool right_aligned = false;
    double gx = 0.0, gy = 0.0;  // the column's row, when not beside
};

// marks: every point marked (the texts' own among them), kept clear too.
// char_w and line_h: a character's width and a line's height in graph units.
struct Mark {
    double gx, gy;
};
std::vector<Placement> place_texts(const std::vector<PeakText>& texts, const std::vector<Mark>& marks, double char_w,
                                   double line_h);

}  // namespace plot
