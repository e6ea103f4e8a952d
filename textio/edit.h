// Output editing of one numeric field: Iw and Ew.d, and the decimal
// decoder beneath Ew.d.  Pure functions: no state, no floating-point
// arithmetic that could trap.
#pragma once

#include <cstdint>
#include <string>

namespace textio {

// A finite non-negative magnitude as 0.D1D2...Dn x 10^exp, at most 17
// significant digits: the first 18 digits of the exact binary value, the
// 18th rounding the 17th half up, trailing zeros removed.  Zero (of either
// sign) is the single digit "0" with exp 0.
struct Decimal {
    char digits[17];  // '0'..'9'
    int ndigits;      // 1..17
    int exp;
};

Decimal decode17(double magnitude);

// The same two fields written over exactly w characters at out (w >= 1),
// for a caller that has made room for a record's fields at once.
void put_int(char* out, int64_t value, int w);
void put_exp(char* out, double value, int w, int d);

// Appends exactly w characters: the integer right-justified, or w asterisks
// when its text does not fit.
void edit_int(std::string& rec, int64_t value, int w);

// Appends exactly w characters: the real in the form [-].ddddddE+xx (or the
// three-digit exponent form without the letter), right-justified; asterisks
// when too wide; the 1#INF / 1#IND / 1#SNAN / 1#QNAN texts padded with '.'
// for values that are not finite.
void edit_exp(std::string& rec, double value, int w, int d);

}  // namespace textio
