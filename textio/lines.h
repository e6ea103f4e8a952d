// The line splitter of input: where the next line of the bytes read ahead
// from a unit ends, and where the line after it begins.  A pure function of
// the bytes: the units read, it only cuts.
#pragma once

#include <cstddef>
#include <string_view>

namespace textio {

struct LineCut {
    enum Kind {
        line,  // a whole line
        more,  // more bytes are needed to tell where the line ends
        none,  // no line: the input has ended and nothing is left
    } kind;
    std::size_t length;  // of the line (of what is known of it for more), its line end not included
    std::size_t next;    // where the line after it begins (line only)
};

// The next line of bytes, which starts at their first: up to the first CR
// or LF, a CR LF pair being one line end.  at_end: no more bytes will
// come, so what is left without a line end is the last line.  cr_waits: a
// CR that is the last byte waits for the next one, which may be its LF (a
// file); otherwise it ends its line at once (the console, where that next
// byte may be a keystroke away), and the caller skips an LF that comes
// first with the next line.
LineCut cut_line(std::string_view bytes, bool at_end, bool cr_waits);

}  // namespace textio
