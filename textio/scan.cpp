// Conversion of input text to numbers.
//
// Everything here works on characters and integers only, apart from the one
// call of std::from_chars that makes the double: the run traps invalid
// operations, division by zero and overflow, so a conversion must never
// raise them, whatever the user types.  A value too large for a double is an
// input error; a value too small for one is read as 0 (or the denormal value
// nearest to it), which is not an error.
#include "textio/scan.h"

#include <charconv>
#include <cstdint>
#include <string>
#include <system_error>

namespace textio {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// A line ends at its end or at the first CR or LF left in it.
bool is_line_end(char c) { return c == '\r' || c == '\n'; }

// Value of c as a digit of any radix up to 36, or 99 when it is none.
int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    return 99;
}

// Above every magnitude that matters here (2^31 for integers, the exponent
// bounds for reals, the largest repeat count), and small enough that adding
// one more digit to it cannot overflow 64 bits.
constexpr uint64_t kSaturated = uint64_t{1} << 40;

// Reads the unsigned digits of radix at text[i..] as far as they go and
// returns their value, saturated at kSaturated; i is left after them.
uint64_t read_digits(std::string_view text, std::size_t& i, int radix) {
    uint64_t v = 0;
    while (i < text.size()) {
        const int dv = digit_value(text[i]);
        if (dv >= radix) break;
        v = v * static_cast<uint64_t>(radix) + static_cast<uint64_t>(dv);
        if (v > kSaturated) v = kSaturated;
        ++i;
    }
    return v;
}

// A real taken apart: value = (negative ? -1 : 1) * 0.D1D2... * 10^exp10,
// where D1 D2 ... are the digits of the mantissa from the first non-zero one
// on, the point left out.
struct RealText {
    bool negative = false;
    std::string_view int_digits;   // digits before the point
    std::string_view frac_digits;  // digits after the point
    bool has_point = false;
    int64_t exponent = 0;          // as written, saturated
};

// Parses the whole text as [sign]digits[.digits][exponent]; false when it is
// anything else.
bool parse_real(std::string_view text, RealText& r) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        r.negative = text[i] == '-';
        ++i;
    }
    const std::size_t int_begin = i;
    while (i < text.size() && is_digit(text[i])) ++i;
    r.int_digits = text.substr(int_begin, i - int_begin);
    if (i < text.size() && text[i] == '.') {
        r.has_point = true;
        ++i;
        const std::size_t frac_begin = i;
        while (i < text.size() && is_digit(text[i])) ++i;
        r.frac_digits = text.substr(frac_begin, i - frac_begin);
    }
    if (r.int_digits.empty() && r.frac_digits.empty()) return false;
    if (i == text.size()) return true;

    // The exponent: a letter and an optionally signed integer, or a sign
    // written straight after the digits (the form the three-digit exponents
    // of Ew.d output take).
    const char c = text[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
        ++i;
    } else if (c != '+' && c != '-') {
        return false;
    }
    bool exp_negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        exp_negative = text[i] == '-';
        ++i;
    }
    const std::size_t exp_begin = i;
    const uint64_t e = read_digits(text, i, 10);
    if (i == exp_begin || i != text.size()) return false;
    r.exponent = exp_negative ? -static_cast<int64_t>(e) : static_cast<int64_t>(e);
    return true;
}

// The nearest double to a parsed real.  implied_fraction digits at the end of
// a mantissa written without a point are its fraction (Ew.d input).
RealScan convert_real(const RealText& r, int implied_fraction) {
    const double zero = r.negative ? -0.0 : 0.0;

    // The significant digits: the mantissa's from its first non-zero digit.
    std::string digits;
    digits.reserve(r.int_digits.size() + r.frac_digits.size() + 32);
    // Position of the point counted from the first significant digit.
    int64_t point = 0;
    bool started = false;
    for (const char c : r.int_digits) {
        if (!started && c == '0') continue;
        started = true;
        digits.push_back(c);
        ++point;
    }
    for (const char c : r.frac_digits) {
        if (!started && c == '0') {
            --point;
            continue;
        }
        started = true;
        digits.push_back(c);
    }
    if (digits.empty()) return {zero, ScanError::none};

    // Every term is bounded (the digit counts by the text's length, the
    // written exponent by kSaturated), so the sum cannot overflow.
    int64_t exp10 = point + r.exponent;
    if (!r.has_point && implied_fraction > 0) exp10 -= implied_fraction;

    // 0.D1... * 10^exp10 lies in [10^(exp10-1), 10^exp10).  The largest double
    // is below 10^309 and half the smallest denormal above 10^-324, so outside
    // these bounds the answer is known without converting.
    if (exp10 > 310) return {0.0, ScanError::real_range};
    if (exp10 < -330) return {zero, ScanError::none};

    digits.insert(0, "0.");
    digits.push_back('e');
    char buf[24];
    const auto er = std::to_chars(buf, buf + sizeof buf, exp10);
    digits.append(buf, er.ptr);

    double v = 0.0;
    const char* first = digits.data();
    const char* last = first + digits.size();
    const auto res = std::from_chars(first, last, v, std::chars_format::scientific);
    if (res.ec == std::errc::result_out_of_range) {
        // Out of range both ways: too large when the value is at least 1,
        // rounded to zero when it is below 1.  Denormal results come back as
        // ordinary results.
        if (exp10 > 0) return {0.0, ScanError::real_range};
        return {zero, ScanError::none};
    }
    if (res.ec != std::errc{} || res.ptr != last) return {0.0, ScanError::bad_real};
    return {r.negative ? -v : v, ScanError::none};
}

// Collects an input field: up to w characters of line from pos, fewer at the
// line end, ending early at a comma, which is taken with the field.  Blanks
// and tabs are dropped.  pos is left after what was taken.
std::string take_field(std::string_view line, std::size_t& pos, int w) {
    std::string field;
    if (w <= 0 || pos >= line.size()) return field;
    const std::size_t room = line.size() - pos;
    const std::size_t width = static_cast<std::size_t>(w) < room ? static_cast<std::size_t>(w) : room;
    const std::size_t end = pos + width;
    while (pos < end) {
        const char c = line[pos];
        if (is_line_end(c)) break;
        ++pos;
        if (c == ',') break;
        if (!is_blank(c)) field.push_back(c);
    }
    return field;
}

}  // namespace

IntScan scan_int(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t first_begin = i;
    uint64_t magnitude = read_digits(text, i, 10);
    if (i < text.size() && text[i] == '#') {
        // What stood before the '#' was the radix; none written means 16.
        uint64_t radix = 16;
        if (i != first_begin) radix = magnitude;
        if (radix < 2 || radix > 36) return {0, ScanError::bad_integer};
        ++i;
        const std::size_t digits_begin = i;
        magnitude = read_digits(text, i, static_cast<int>(radix));
        if (i == digits_begin) return {0, ScanError::bad_integer};
    } else if (i == first_begin) {
        return {0, ScanError::bad_integer};
    }
    if (i != text.size()) return {0, ScanError::bad_integer};

    // The range is that of the signed value: -2147483648 is an integer.
    const uint64_t limit = negative ? uint64_t{2147483648u} : uint64_t{2147483647u};
    if (magnitude > limit) return {0, ScanError::integer_range};
    const int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return {static_cast<int32_t>(value), ScanError::none};
}

RealScan scan_real(std::string_view text) {
    RealText r;
    if (!parse_real(text, r)) return {0.0, ScanError::bad_real};
    return convert_real(r, 0);
}

RealScan read_e_field(std::string_view line, std::size_t& pos, int w, int d) {
    const std::string field = take_field(line, pos, w);
    if (field.empty()) return {0.0, ScanError::none};
    RealText r;
    if (!parse_real(field, r)) return {0.0, ScanError::bad_real};
    return convert_real(r, d);
}

IntScan read_i_field(std::string_view line, std::size_t& pos, int w) {
    const std::string field = take_field(line, pos, w);
    if (field.empty()) return {0, ScanError::none};
    return scan_int(field);
}

bool has_decimal_comma(std::string_view line) {
    for (std::size_t start = 0; start < line.size(); ++start) {
        if (start > 0) {
            const char before = line[start - 1];
            if (!is_blank(before) && before != ',' && before != '*') continue;
        }
        std::size_t i = start;
        if (line[i] == '+' || line[i] == '-') ++i;
        const std::size_t digits = i;
        while (i < line.size() && is_digit(line[i])) ++i;
        if (i > digits && i + 1 < line.size() && line[i] == ',' && is_digit(line[i + 1])) return true;
    }
    return false;
}

bool opens_with_decimal_comma(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && is_blank(line[i])) ++i;
    return i + 1 < line.size() && line[i] == ',' && is_digit(line[i + 1]);
}

// ---------------------------------------------------------------------------
// Free-form input

void FreeTokenizer::start_statement() {
    line_ = {};
    pos_ = 0;
    last_ = Last::nothing;
}

void FreeTokenizer::start_line(std::string_view line) {
    const std::size_t end = line.find_first_of("\r\n");
    line_ = end == std::string_view::npos ? line : line.substr(0, end);
    pos_ = 0;
}

FreeToken FreeTokenizer::next() {
    // Blanks, tabs and the line end separate values and change nothing else:
    // what a comma means depends only on what came before the blanks.
    while (pos_ < line_.size() && is_blank(line_[pos_])) ++pos_;
    if (pos_ >= line_.size()) return {FreeToken::end_of_line, {}, 0, ScanError::none};

    const char c = line_[pos_];
    if (c == ',') {
        ++pos_;
        // A comma after a value is its separator; one after another comma, or
        // before anything else of the statement, stands for a null value.
        if (last_ == Last::value) {
            last_ = Last::comma;
            return next();
        }
        last_ = Last::comma;
        return {FreeToken::null, {}, 1, ScanError::none};
    }
    if (c == '/') {
        ++pos_;
        last_ = Last::nothing;
        return {FreeToken::slash, {}, 0, ScanError::none};
    }

    // A quoted string is refused whole: its text, for the report, runs to
    // the closing quote (or the line end), blanks and commas included.
    const std::size_t begin = pos_;
    last_ = Last::value;
    if (c == '\'' || c == '"') {
        const std::size_t close = line_.find(c, pos_ + 1);
        pos_ = close == std::string_view::npos ? line_.size() : close + 1;
        return {FreeToken::error, line_.substr(begin, pos_ - begin), 0, ScanError::string_value};
    }

    // A value runs to the next separator or slash.
    while (pos_ < line_.size() && !is_blank(line_[pos_]) && line_[pos_] != ',' &&
           line_[pos_] != '/')
        ++pos_;
    const std::string_view whole = line_.substr(begin, pos_ - begin);
    std::string_view text = whole;

    // A repeat: an unsigned count and '*' with nothing between.
    int32_t repeat = 1;
    std::size_t i = 0;
    const uint64_t count = read_digits(text, i, 10);
    if (i > 0 && i < text.size() && text[i] == '*') {
        if (count == 0) return {FreeToken::error, whole, 0, ScanError::zero_repeat};
        if (count > 2147483647u) return {FreeToken::error, whole, 0, ScanError::repeat_range};
        repeat = static_cast<int32_t>(count);
        text.remove_prefix(i + 1);
        // The count and '*' followed directly by a separator: r null values.
        if (text.empty()) return {FreeToken::null, {}, repeat, ScanError::none};
    }

    if (text.front() == '\'' || text.front() == '"')
        return {FreeToken::error, whole, 0, ScanError::string_value};
    if (text.front() == '(') return {FreeToken::error, whole, 0, ScanError::pair_value};
    return {FreeToken::value, text, repeat, ScanError::none};
}

}  // namespace textio
