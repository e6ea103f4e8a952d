// The interpretation of one statement, apart from any unit: formatted
// output into a record sink, formatted and free-form input from a line
// source.  A fault comes back as a value; the statements of io.h turn it
// into the run-time error report (or, at the interactive console, into a
// question asked again).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "textio/format.h"
#include "textio/io.h"
#include "textio/runtime.h"

namespace textio {

// What went wrong in a statement.
struct IoFault {
    IoError code;
    std::string message;
    // For a value that could not be converted: the report adds where the
    // value stood, then this hint (when there is one).
    bool about_value = false;
    const char* hint = nullptr;
};
using IoResult = std::optional<IoFault>;

// Faults of a program that output and input meet alike.
inline IoFault no_end() { return {IoError::bad_format, "format has no edit descriptor for the items left"}; }
inline IoFault wrong_kind(const FormatOp& d) {
    const char* what = d.kind == FormatOp::int_edit ? "I" : d.kind == FormatOp::exp_edit ? "E" : "A";
    return {IoError::wrong_item_kind, std::string("item of the wrong kind for the ") + what + " edit descriptor"};
}

// Takes each finished output record.
class RecordSink {
public:
    virtual void put(std::string_view record) = 0;

protected:
    ~RecordSink() = default;
};

// Gives an input statement its next line, or refuses it with a fault.
class LineSource {
public:
    virtual IoResult next(std::string_view& line) = 0;

protected:
    ~LineSource() = default;
};

// Output: performs the program over the items and hands every record to
// sink; records delivered before a fault stay delivered.  The program's
// flat form is used when it takes the items.
IoResult format_items(const FormatProgram& program, const Out* items, std::size_t count, RecordSink& sink);

// The same by the general interpreter alone, and by the flat form alone
// (for items that flat_fits): each gives what the other gives.
IoResult format_interpreted(const FormatProgram& program, const Out* items, std::size_t count, RecordSink& sink);
void format_flat(const FlatProgram& flat, const Out* items, std::size_t count, RecordSink& sink);

// Whether the flat form takes the items: each item's kind is its field's,
// and items left after the first pass have a reversion to take them.
bool flat_fits(const FlatProgram& flat, const Out* items, std::size_t count);

// Formatted input of the items from the lines of source.
IoResult scan_items(const FormatProgram& program, const In* items, std::size_t count, LineSource& source);

// Free-form input of the items; with no items one line is taken.
IoResult scan_free(const In* items, std::size_t count, LineSource& source);

}  // namespace textio
