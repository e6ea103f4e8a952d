// Conversion of input text to numbers: the free-form (list-directed)
// tokenizer and the value scanners, and the Ew.d / Iw input fields.
// Errors come back as values, never as exceptions or traps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace textio {

enum class ScanError : int {
    none = 0,
    bad_integer,     // not an integer (a point, an exponent, a letter, ...)
    integer_range,   // beyond the 32-bit signed range
    bad_real,        // not a real number
    real_range,      // beyond the double range
    zero_repeat,     // repeat count of 0
    repeat_range,    // repeat count too large
    string_value,    // a quoted string where a number is expected
    pair_value,      // a parenthesised pair where a number is expected
};

struct IntScan {
    int32_t value;
    ScanError error;
};

struct RealScan {
    double value;
    ScanError error;
};

// The whole text must be one integer: [sign]digits, or [sign][radix]#digits
// with a radix 2..36 (16 when none is written).
IntScan scan_int(std::string_view text);

// The whole text must be one real: [sign]digits[.digits][exponent], the
// exponent being E/e/D/d and an optionally signed integer, or a sign right
// after the digits.  Nearest double; too small gives 0 or a denormal.
RealScan scan_real(std::string_view text);

// Ew.d input: takes up to w characters of line from pos (fewer at the line
// end; a comma ends the field early and is consumed), blanks and tabs
// ignored, the last d digits are the fraction when no point is written, an
// empty or blank field is 0.0.  pos is advanced past what was taken.
RealScan read_e_field(std::string_view line, std::size_t& pos, int w, int d);

// Iw input: the same field rules, an integer; empty or blank is 0.
IntScan read_i_field(std::string_view line, std::size_t& pos, int w);

// Whether the line holds a decimal comma as a user who writes decimals
// with a comma types it: an integer ([sign]digits, at the start of the
// line or right after a blank, tab, comma or repeat '*') followed directly
// by a comma and a digit.  "0,02", "2*0,05" and "1,2,0.1" hold one;
// "0.02,0.02" and "1, 2" do not.
bool has_decimal_comma(std::string_view line);

// Whether the line's first character other than a blank or tab is a comma
// directly followed by a digit: ",5" typed for 0,5.  Read as it stands the
// comma is a null value and the digits the next value, so at a terminal it
// is refused as a decimal comma; ", 5", ",," and ",/" keep their null value.
bool opens_with_decimal_comma(std::string_view line);

// One element of free-form input.
struct FreeToken {
    enum Kind { value, null, slash, end_of_line, error } kind;
    std::string_view text;  // the value's text (kind == value), or the text in error
    int32_t repeat;         // copies of the value or of the null (1 without a count)
    ScanError fault;        // what went wrong (kind == error)
};

// Splits the lines of one free-form input statement into values, nulls and
// the slash.  The state that decides whether a comma is a null value lives
// across the lines of the statement: a line end counts as a blank.
class FreeTokenizer {
public:
    void start_statement();
    void start_line(std::string_view line);
    FreeToken next();

private:
    std::string_view line_;
    std::size_t pos_ = 0;
    // What the statement has met last: nothing yet, a value, or a comma.
    enum class Last { nothing, value, comma } last_ = Last::nothing;
};

}  // namespace textio
