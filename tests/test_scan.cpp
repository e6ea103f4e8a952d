// Tests of the input scanners: integers and reals as text, the Ew.d and Iw
// input fields, and the free-form tokenizer.
//
// Expected reals are written as C++ literals: the compiler converts them to
// the nearest double on its own, so they are an independent reference for the
// rounding.  They are compared bit for bit (the sign of zero included).
#include "textio/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using textio::FreeToken;
using textio::FreeTokenizer;
using textio::ScanError;

constexpr double kDblMax = std::numeric_limits<double>::max();
constexpr double kDblMin = std::numeric_limits<double>::min();
constexpr double kDenormMin = std::numeric_limits<double>::denorm_min();

const char* error_name(ScanError e) {
    switch (e) {
    case ScanError::none: return "none";
    case ScanError::bad_integer: return "bad_integer";
    case ScanError::integer_range: return "integer_range";
    case ScanError::bad_real: return "bad_real";
    case ScanError::real_range: return "real_range";
    case ScanError::zero_repeat: return "zero_repeat";
    case ScanError::repeat_range: return "repeat_range";
    case ScanError::string_value: return "string_value";
    case ScanError::pair_value: return "pair_value";
    }
    return "?";
}

// Bit-for-bit equality, so that -0.0 and 0.0 differ and a result one unit in
// the last place away is caught.
::testing::AssertionResult same_double(double expected, double actual) {
    if (std::bit_cast<uint64_t>(expected) == std::bit_cast<uint64_t>(actual))
        return ::testing::AssertionSuccess();
    char e[64];
    char a[64];
    *std::to_chars(e, e + sizeof e - 1, expected, std::chars_format::hex).ptr = '\0';
    *std::to_chars(a, a + sizeof a - 1, actual, std::chars_format::hex).ptr = '\0';
    return ::testing::AssertionFailure() << "expected " << expected << " (" << e << "), got "
                                         << actual << " (" << a << ")";
}

// ---------------------------------------------------------------------------
// Integers

TEST(ScanInt, AcceptsDecimalAndRadixForms) {
    struct Row {
        int line;
        std::string_view text;
        int32_t value;
    };
    const Row rows[] = {
        {__LINE__, "0", 0},
        {__LINE__, "7", 7},
        {__LINE__, "+5", 5},
        {__LINE__, "-5", -5},
        {__LINE__, "007", 7},
        {__LINE__, "-0", 0},
        {__LINE__, "2147483647", 2147483647},
        {__LINE__, "-2147483648", std::numeric_limits<int32_t>::min()},
        {__LINE__, "0000000000000000000000000012", 12},
        // Radix forms: r#digits, 16 when no radix is written, letters in
        // either case.
        {__LINE__, "16#FF", 255},
        {__LINE__, "16#ff", 255},
        {__LINE__, "16#fF", 255},
        {__LINE__, "#ff", 255},
        {__LINE__, "#FF", 255},
        {__LINE__, "2#101", 5},
        {__LINE__, "8#777", 511},
        {__LINE__, "10#99", 99},
        {__LINE__, "36#zz", 36 * 35 + 35},
        {__LINE__, "36#Z", 35},
        {__LINE__, "3#210", 2 * 9 + 1 * 3 + 0},
        {__LINE__, "16#7FFFFFFF", 2147483647},
        // A sign before the radix form applies to the value.
        {__LINE__, "-16#FF", -255},
        {__LINE__, "+2#1", 1},
        {__LINE__, "-#10", -16},
        {__LINE__, "-16#80000000", std::numeric_limits<int32_t>::min()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "line " << row.line << ": \"" << row.text << "\"");
        const textio::IntScan r = textio::scan_int(row.text);
        EXPECT_STREQ("none", error_name(r.error));
        EXPECT_EQ(row.value, r.value);
    }
}

TEST(ScanInt, Errors) {
    struct Row {
        int line;
        std::string_view text;
        ScanError error;
    };
    const Row rows[] = {
        {__LINE__, "", ScanError::bad_integer},
        {__LINE__, "+", ScanError::bad_integer},
        {__LINE__, "-", ScanError::bad_integer},
        {__LINE__, "--1", ScanError::bad_integer},
        {__LINE__, "+-1", ScanError::bad_integer},
        {__LINE__, "2.5", ScanError::bad_integer},
        {__LINE__, "1.0", ScanError::bad_integer},
        {__LINE__, "1.", ScanError::bad_integer},
        {__LINE__, ".5", ScanError::bad_integer},
        {__LINE__, "1e5", ScanError::bad_integer},
        {__LINE__, "1E5", ScanError::bad_integer},
        {__LINE__, "1D5", ScanError::bad_integer},
        {__LINE__, "1+5", ScanError::bad_integer},
        {__LINE__, "a", ScanError::bad_integer},
        {__LINE__, "12a", ScanError::bad_integer},
        {__LINE__, "FF", ScanError::bad_integer},
        {__LINE__, "1 2", ScanError::bad_integer},
        {__LINE__, " 1", ScanError::bad_integer},
        {__LINE__, "#", ScanError::bad_integer},
        {__LINE__, "16#", ScanError::bad_integer},
        {__LINE__, "-#", ScanError::bad_integer},
        {__LINE__, "0#1", ScanError::bad_integer},
        {__LINE__, "1#1", ScanError::bad_integer},
        {__LINE__, "1#0", ScanError::bad_integer},
        {__LINE__, "37#1", ScanError::bad_integer},
        {__LINE__, "99999999999999999999999#1", ScanError::bad_integer},
        {__LINE__, "10#A", ScanError::bad_integer},
        {__LINE__, "2#102", ScanError::bad_integer},
        {__LINE__, "16#FG", ScanError::bad_integer},
        {__LINE__, "16#-1", ScanError::bad_integer},
        {__LINE__, "16#F#F", ScanError::bad_integer},
        {__LINE__, "16##F", ScanError::bad_integer},
        {__LINE__, "16#1.0", ScanError::bad_integer},
        // A malformed text is malformed however large its digits are.
        {__LINE__, "99999999999999999999x", ScanError::bad_integer},
        // Range: checked on the signed value.
        {__LINE__, "2147483648", ScanError::integer_range},
        {__LINE__, "+2147483648", ScanError::integer_range},
        {__LINE__, "-2147483649", ScanError::integer_range},
        {__LINE__, "4294967295", ScanError::integer_range},
        {__LINE__, "99999999999999999999999999999999", ScanError::integer_range},
        {__LINE__, "16#80000000", ScanError::integer_range},
        {__LINE__, "16#FFFFFFFF", ScanError::integer_range},
        {__LINE__, "-16#80000001", ScanError::integer_range},
        {__LINE__, "2#11111111111111111111111111111111111111111111111111", ScanError::integer_range},
        {__LINE__, "36#zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz", ScanError::integer_range},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "line " << row.line << ": \"" << row.text << "\"");
        EXPECT_STREQ(error_name(row.error), error_name(textio::scan_int(row.text).error));
    }
}

// ---------------------------------------------------------------------------
// Reals

TEST(ScanReal, ConvertsToTheNearestDouble) {
    struct Row {
        int line;
        std::string_view text;
        double value;
    };
    const Row rows[] = {
        // Mantissa forms; an integer is read as a real.
        {__LINE__, "5", 5.0},
        {__LINE__, ".5", 0.5},
        {__LINE__, "5.", 5.0},
        {__LINE__, "-5.", -5.0},
        {__LINE__, "+0.25", 0.25},
        {__LINE__, "000123.4500", 123.45},
        {__LINE__, "0.1", 0.1},
        {__LINE__, "-.3", -0.3},
        {__LINE__, "3.14159265358979323846", 3.14159265358979323846},
        // Exponents: a letter E, e, D or d with an optionally signed integer,
        // or a sign straight after the digits.
        {__LINE__, "1e2", 100.0},
        {__LINE__, "1E+2", 100.0},
        {__LINE__, "1d2", 100.0},
        {__LINE__, "1.0D0", 1.0},
        {__LINE__, "1.5D-3", 1.5e-3},
        {__LINE__, "2.5e-3", 2.5e-3},
        {__LINE__, "1.5+3", 1.5e3},
        {__LINE__, "-1.5-2", -1.5e-2},
        {__LINE__, "-1.5+0", -1.5},
        {__LINE__, "7.e1", 70.0},
        {__LINE__, ".7E1", 7.0},
        {__LINE__, "1e0000000000000000000000000000002", 100.0},
        // The three-digit exponent form that Ew.d output writes for very
        // large and very small magnitudes.
        {__LINE__, ".100000+100", 1e99},
        {__LINE__, ".100000-100", 1e-101},
        {__LINE__, "-.123457+123", -0.123457e123},
        {__LINE__, ".179769+309", 0.179769e309},
        // Zeros keep their sign; a zero mantissa takes any exponent.
        {__LINE__, "0", 0.0},
        {__LINE__, "0.000", 0.0},
        {__LINE__, "-0", -0.0},
        {__LINE__, "-0.0E5", -0.0},
        {__LINE__, "0e999999999999999999999", 0.0},
        {__LINE__, "0e-999999999999999999999", 0.0},
        // Many digits, rounding ties and the ends of the range.
        {__LINE__, "123456789012345678901234567890", 123456789012345678901234567890.0},
        {__LINE__, "9007199254740993", 9007199254740992.0},
        {__LINE__, "9007199254740993.000000000000000000000000001", 9007199254740994.0},
        {__LINE__, "9007199254740995", 9007199254740996.0},
        {__LINE__, "0.000000000000000000000000000001e30", 1.0},
        {__LINE__, "1000000000000000000000000000000e-30", 1.0},
        {__LINE__, "1.7976931348623157e308", kDblMax},
        {__LINE__, "1.7976931348623158e308", kDblMax},
        {__LINE__, "-1.7976931348623157e308", -kDblMax},
        {__LINE__, "179769313486231570000000000000000000000000000000000000000000000000000000000000"
                   "000000000000000000000000000000000000000000000000000000000000000000000000000000"
                   "000000000000000000000000000000000000000000000000000000000000000000000000000000"
                   "000000000000000000000000000000000000000000000000000000000000000000000000000",
         kDblMax},
        {__LINE__, "2.2250738585072014e-308", kDblMin},
        // Denormal values are results, not range errors.
        {__LINE__, "2.2250738585072011e-308", 0x0.fffffffffffffp-1022},
        {__LINE__, "1e-310", 1e-310},
        {__LINE__, "1e-320", 1e-320},
        {__LINE__, "-1e-320", -1e-320},
        {__LINE__, "4.9e-324", kDenormMin},
        {__LINE__, "4.9406564584124654e-324", kDenormMin},
        {__LINE__, "2.4703282292062328e-324", kDenormMin},
        {__LINE__, "0.00001e-318", 0x0.0000000000002p-1022},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "line " << row.line << ": \"" << row.text << "\"");
        const textio::RealScan r = textio::scan_real(row.text);
        EXPECT_STREQ("none", error_name(r.error));
        EXPECT_TRUE(same_double(row.value, r.value));
    }
}

TEST(ScanReal, TooSmallReadsAsZeroWithoutError) {
    struct Row {
        int line;
        std::string_view text;
        double value;
    };
    const Row rows[] = {
        {__LINE__, "1e-400", 0.0},
        {__LINE__, "-1e-400", -0.0},
        {__LINE__, "1D-400", 0.0},
        {__LINE__, "1-400", 0.0},
        {__LINE__, ".100000-999", 0.0},
        {__LINE__, "1e-324", 0.0},
        // Just below half the smallest denormal: rounds to zero.
        {__LINE__, "2.4703282292062327e-324", 0.0},
        {__LINE__, "9.99999999999999999999e-325", 0.0},
        {__LINE__, "1e-99999999999999999999999999", 0.0},
        {__LINE__, "-99999999999999999999e-99999999999999999999999999", -0.0},
        {__LINE__, "0.0000000000000000000000000000000000000000000001e-300", 0.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "line " << row.line << ": \"" << row.text << "\"");
        const textio::RealScan r = textio::scan_real(row.text);
        EXPECT_STREQ("none", error_name(r.error));
        EXPECT_TRUE(same_double(row.value, r.value));
    }
}

TEST(ScanReal, Errors) {
    struct Row {
        int line;
        std::string_view text;
        ScanError error;
    };
    const Row rows[] = {
        {__LINE__, "", ScanError::bad_real},
        {__LINE__, "+", ScanError::bad_real},
        {__LINE__, "-", ScanError::bad_real},
        {__LINE__, ".", ScanError::bad_real},
        {__LINE__, "+.", ScanError::bad_real},
        {__LINE__, "-.", ScanError::bad_real},
        {__LINE__, "e5", ScanError::bad_real},
        {__LINE__, "E5", ScanError::bad_real},
        {__LINE__, ".e5", ScanError::bad_real},
        {__LINE__, "-.E+5", ScanError::bad_real},
        {__LINE__, "1e", ScanError::bad_real},
        {__LINE__, "1E+", ScanError::bad_real},
        {__LINE__, "1d-", ScanError::bad_real},
        {__LINE__, "1+", ScanError::bad_real},
        {__LINE__, "1.5-", ScanError::bad_real},
        {__LINE__, "1e+-5", ScanError::bad_real},
        {__LINE__, "1e5.0", ScanError::bad_real},
        {__LINE__, "1.5e3e3", ScanError::bad_real},
        {__LINE__, "1.5+3+3", ScanError::bad_real},
        {__LINE__, "1.5.2", ScanError::bad_real},
        {__LINE__, "1..5", ScanError::bad_real},
        {__LINE__, "1,5", ScanError::bad_real},
        {__LINE__, "1 2", ScanError::bad_real},
        {__LINE__, " 1", ScanError::bad_real},
        {__LINE__, "1 ", ScanError::bad_real},
        {__LINE__, "--1", ScanError::bad_real},
        {__LINE__, "+-1", ScanError::bad_real},
        {__LINE__, "abc", ScanError::bad_real},
        {__LINE__, "1x", ScanError::bad_real},
        {__LINE__, "1f", ScanError::bad_real},
        {__LINE__, "1q5", ScanError::bad_real},
        {__LINE__, "inf", ScanError::bad_real},
        {__LINE__, "-infinity", ScanError::bad_real},
        {__LINE__, "nan", ScanError::bad_real},
        {__LINE__, "1#INF", ScanError::bad_real},
        {__LINE__, "1#QNAN......", ScanError::bad_real},
        {__LINE__, "************", ScanError::bad_real},
        {__LINE__, "0x1p3", ScanError::bad_real},
        {__LINE__, "16#FF", ScanError::bad_real},
        {__LINE__, "1*2", ScanError::bad_real},
        // A malformed text is malformed however large its exponent.
        {__LINE__, "1e99999999999999999999x", ScanError::bad_real},
        // Beyond the largest double.
        {__LINE__, "1e400", ScanError::real_range},
        {__LINE__, "-1e400", ScanError::real_range},
        {__LINE__, "1e309", ScanError::real_range},
        {__LINE__, "1.8e308", ScanError::real_range},
        {__LINE__, "1.7976931348623159e308", ScanError::real_range},
        {__LINE__, ".100000+999", ScanError::real_range},
        {__LINE__, "1D99999999999", ScanError::real_range},
        {__LINE__, "1e99999999999999999999999999999", ScanError::real_range},
        {__LINE__, "0.000001e99999999999999999999", ScanError::real_range},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "line " << row.line << ": \"" << row.text << "\"");
        EXPECT_STREQ(error_name(row.error), error_name(textio::scan_real(row.text).error));
    }
}

TEST(ScanReal, LongTextsKeepTheirValue) {
    // Leading zeros and trailing digits far beyond any fixed buffer, with an
    // exponent that brings the value back to an ordinary size.
    const std::string zeros(5000, '0');
    struct Row {
        int line;
        std::string text;
        double value;
    };
    const Row rows[] = {
        {__LINE__, "0." + zeros + "1e5001", 1.0},
        {__LINE__, "1" + zeros + "e-5000", 1.0},
        {__LINE__, "-" + zeros + "2.5", -2.5},
        {__LINE__, "1" + zeros + "-5000", 1.0},
        {__LINE__, "0.1" + zeros + "1", 0.1},
        // A tie broken only by a digit thousands of places down.
        {__LINE__, "9007199254740993." + zeros + "1", 9007199254740994.0},
        {__LINE__, "9007199254740993." + zeros, 9007199254740992.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "line " << row.line);
        const textio::RealScan r = textio::scan_real(row.text);
        EXPECT_STREQ("none", error_name(r.error));
        EXPECT_TRUE(same_double(row.value, r.value));
    }
    EXPECT_STREQ("real_range", error_name(textio::scan_real("1" + zeros).error));
    const textio::RealScan tiny = textio::scan_real("0." + zeros + "1");
    EXPECT_STREQ("none", error_name(tiny.error));
    EXPECT_TRUE(same_double(0.0, tiny.value));
}

// Property: the shortest text that identifies a double reads back to it,
// over the whole range (denormals included), with each way of writing the
// exponent.
TEST(ScanReal, ShortestTextsReadBackExactly) {
    std::mt19937_64 gen(20240611);
    int checked = 0;
    for (int i = 0; i < 200000; ++i) {
        uint64_t bits = gen();
        if (i % 4 == 0) bits &= 0x800FFFFFFFFFFFFFull;  // a denormal (or zero)
        const double x = std::bit_cast<double>(bits);
        if (!std::isfinite(x)) continue;
        char buf[64];
        const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
        const std::string text(buf, res.ptr);
        const std::size_t e = text.find('e');
        ASSERT_NE(std::string::npos, e) << text;
        std::string letter_d = text;
        letter_d[e] = (i % 2 == 0) ? 'D' : 'd';
        const std::string bare_sign = text.substr(0, e) + text.substr(e + 1);
        for (const std::string& t : {text, letter_d, bare_sign}) {
            const textio::RealScan r = textio::scan_real(t);
            ASSERT_STREQ("none", error_name(r.error)) << t;
            ASSERT_TRUE(same_double(x, r.value)) << t;
        }
        ++checked;
    }
    EXPECT_GT(checked, 190000);
}

// The inputs that come nearest to the trapped exceptions: overflow, values
// that underflow to zero, denormals, enormous exponents.
const char* const kHardReals[] = {
    "1e400",  "-1e400", "1e309",  "1.7976931348623159e308", "1e99999999999999999999",
    "1e-400", "-1e-400", "4.9e-324", "2.4703282292062327e-324", "1e-320",
    "2.2250738585072011e-308", "1e-99999999999999999999", ".100000+999", ".100000-999",
    "1.7976931348623158e308", "0e999999", "9007199254740993",
};

TEST(ScanReal, RaisesNoTrappedFloatingPointException) {
    std::feclearexcept(FE_ALL_EXCEPT);
    for (const char* t : kHardReals) {
        textio::scan_real(t);
        std::size_t pos = 0;
        textio::read_e_field(t, pos, 40, 6);
    }
    EXPECT_EQ(0, std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW));
}

TEST(ScanRealDeathTest, RunsUnderEnabledTraps) {
    // The run enables these traps for its whole life; a conversion that raised
    // one would end the child with SIGFPE instead of the exit status 0.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
            int errors = 0;
            for (const char* t : kHardReals) {
                if (textio::scan_real(t).error != ScanError::none) ++errors;
                std::size_t pos = 0;
                textio::read_e_field(t, pos, 40, 6);
            }
            // The six inputs beyond the largest double, and nothing else.
            std::exit(errors == 6 ? 0 : 10 + errors);
        },
        ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------
// Ew.d and Iw input fields

struct FieldRow {
    int line;
    std::string_view text;
    std::size_t pos;  // where the field starts
    int w;
    int d;
    double value;
    std::size_t end;  // where the next field starts
};

TEST(EField, Reads) {
    const FieldRow rows[] = {
        // A field as the data file holds it: 2X, then the twelve characters.
        {__LINE__, "   .123456E+01", 2, 12, 6, 1.23456, 14},
        // The line ends after two blanks and the number: fewer than w.
        {__LINE__, "  .123456E+01", 2, 12, 6, 1.23456, 13},
        {__LINE__, "-.123456E+01", 0, 12, 6, -1.23456, 12},
        {__LINE__, " .100000E+01", 0, 12, 6, 1.0, 12},
        {__LINE__, " .000000E+00", 0, 12, 6, 0.0, 12},
        {__LINE__, " .100000+100", 0, 12, 6, 1e99, 12},
        {__LINE__, " .100000-100", 0, 12, 6, 1e-101, 12},
        {__LINE__, "-.100000+100", 0, 12, 6, -1e99, 12},
        {__LINE__, "-.494066-323", 0, 12, 6, -0.494066e-323, 12},
        // The field is w characters; what follows belongs to the next one.
        {__LINE__, " .100000E+01 .200000E+01", 0, 12, 6, 1.0, 12},
        {__LINE__, " .100000E+01 .200000E+01", 12, 12, 6, 2.0, 24},
        {__LINE__, "123456789", 0, 4, 2, 12.34, 4},
        // No point: the last d digits before the exponent are the fraction.
        {__LINE__, "1234567", 0, 12, 6, 1.234567, 7},
        {__LINE__, "25", 0, 12, 6, 0.000025, 2},
        {__LINE__, "25+4", 0, 12, 6, 0.25, 4},
        {__LINE__, "25E4", 0, 12, 6, 0.25, 4},
        {__LINE__, "-1234567D-1", 0, 12, 6, -0.1234567, 11},
        {__LINE__, "5", 0, 12, 0, 5.0, 1},
        {__LINE__, "1234567", 0, 12, 10, 0.0001234567, 7},
        // A written point overrides d.
        {__LINE__, "1234.567", 0, 12, 6, 1234.567, 8},
        {__LINE__, "25.+4", 0, 12, 6, 250000.0, 5},
        {__LINE__, "1.0D0", 0, 12, 6, 1.0, 5},
        {__LINE__, "-1.5+0", 0, 12, 6, -1.5, 6},
        // Blanks and tabs anywhere in the field are ignored.
        {__LINE__, " 1 2 3", 0, 6, 0, 123.0, 6},
        {__LINE__, " 1 2 3", 0, 6, 2, 1.23, 6},
        {__LINE__, "- 1 . 5 E + 2", 0, 13, 6, -150.0, 13},
        {__LINE__, "\t1.5\t", 0, 12, 6, 1.5, 5},
        // A comma ends the field early and is taken with it.
        {__LINE__, "1.5,2.5", 0, 12, 6, 1.5, 4},
        {__LINE__, "1.5,2.5", 4, 12, 6, 2.5, 7},
        {__LINE__, ",2.5", 0, 12, 6, 0.0, 1},
        {__LINE__, "  ,", 0, 12, 6, 0.0, 3},
        {__LINE__, "15,", 0, 12, 1, 1.5, 3},
        // A comma beyond w is the next field's.
        {__LINE__, "1.5,", 0, 3, 6, 1.5, 3},
        // Empty, blank, or beyond the line: 0.0.
        {__LINE__, "", 0, 12, 6, 0.0, 0},
        {__LINE__, "            ", 0, 12, 6, 0.0, 12},
        {__LINE__, "      ", 0, 12, 6, 0.0, 6},
        {__LINE__, "1.5", 3, 12, 6, 0.0, 3},
        {__LINE__, "1.5", 7, 12, 6, 0.0, 7},
        // A line end left in the text ends the field as the line's end would.
        {__LINE__, "1.5\r\n", 0, 12, 6, 1.5, 3},
        {__LINE__, "1.5\r", 3, 12, 6, 0.0, 3},
        // Too small for a double: zero, no error.
        {__LINE__, " .100000-999", 0, 12, 6, 0.0, 12},
        {__LINE__, "1-400", 0, 12, 0, 0.0, 5},
    };
    for (const FieldRow& row : rows) {
        SCOPED_TRACE(::testing::Message() << "line " << row.line << ": \"" << row.text << "\" from "
                                          << row.pos << " E" << row.w << "." << row.d);
        std::size_t pos = row.pos;
        const textio::RealScan r = textio::read_e_field(row.text, pos, row.w, row.d);
        EXPECT_STREQ("none", error_name(r.error));
        EXPECT_TRUE(same_double(row.value, r.value));
        EXPECT_EQ(row.end, pos);
    }
}

TEST(EField, Errors) {
    struct Row {
        int line;
        std::string_view text;
        int w;
        int d;
        ScanError error;
        std::size_t end;
    };
    const Row rows[] = {
        // Only a sign, or only a point, is not a number (and not 0.0).
        {__LINE__, "-", 12, 6, ScanError::bad_real, 1},
        {__LINE__, "+", 12, 6, ScanError::bad_real, 1},
        {__LINE__, ".", 12, 6, ScanError::bad_real, 1},
        {__LINE__, "     -      ", 12, 6, ScanError::bad_real, 12},
        {__LINE__, "     .      ", 12, 6, ScanError::bad_real, 12},
        {__LINE__, " - . ", 12, 6, ScanError::bad_real, 5},
        {__LINE__, "-,5", 12, 6, ScanError::bad_real, 2},
        {__LINE__, "E+01", 12, 6, ScanError::bad_real, 4},
        {__LINE__, "1.5E", 12, 6, ScanError::bad_real, 4},
        {__LINE__, "ABC", 12, 6, ScanError::bad_real, 3},
        {__LINE__, "1.5X", 12, 6, ScanError::bad_real, 4},
        {__LINE__, "1#INF.......", 12, 6, ScanError::bad_real, 12},
        {__LINE__, "************", 12, 6, ScanError::bad_real, 12},
        // The field's width cuts the exponent off.
        {__LINE__, "1.5E+01", 5, 6, ScanError::bad_real, 5},
        {__LINE__, " .100000+999", 12, 6, ScanError::real_range, 12},
        {__LINE__, "1E400", 12, 6, ScanError::real_range, 5},
        {__LINE__, "1+315", 12, 0, ScanError::real_range, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "line " << row.line << ": \"" << row.text << "\" E"
                                          << row.w << "." << row.d);
        std::size_t pos = 0;
        EXPECT_STREQ(error_name(row.error),
                     error_name(textio::read_e_field(row.text, pos, row.w, row.d).error));
        EXPECT_EQ(row.end, pos);
    }
}

// The record of a matrix row as the data file holds it, read field by field
// as "(10(2X,E12.6))" does: the 2X never goes past the line's end, and the
// fields the line lacks read as 0.0.
TEST(EField, ShortLineGivesZerosForTheMissingFields) {
    const std::string_view line = "   .100000E+01  -.250000E+00   .300000-100";
    const double expected[10] = {1.0, -0.25, 0.3e-100, 0, 0, 0, 0, 0, 0, 0};
    std::size_t pos = 0;
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(::testing::Message() << "field " << i + 1);
        pos = std::min(pos + 2, line.size());
        const textio::RealScan r = textio::read_e_field(line, pos, 12, 6);
        EXPECT_STREQ("none", error_name(r.error));
        EXPECT_TRUE(same_double(expected[i], r.value));
    }
    EXPECT_EQ(line.size(), pos);
}

TEST(IField, Reads) {
    struct Row {
        int line;
        std::string_view text;
        std::size_t pos;
        int w;
        int32_t value;
        std::size_t end;
    };
    const Row rows[] = {
        {__LINE__, "  42", 0, 4, 42, 4},
        {__LINE__, " -7", 0, 3, -7, 3},
        {__LINE__, "12345", 0, 3, 123, 3},
        {__LINE__, "12345", 3, 3, 45, 5},
        {__LINE__, " 1 2", 0, 4, 12, 4},
        {__LINE__, "-7,8", 0, 4, -7, 3},
        {__LINE__, "#FF", 0, 3, 255, 3},
        {__LINE__, "-2147483648", 0, 11, std::numeric_limits<int32_t>::min(), 11},
        // No implied point for integers.
        {__LINE__, "1234567", 0, 12, 1234567, 7},
        {__LINE__, "", 0, 3, 0, 0},
        {__LINE__, "   ", 0, 3, 0, 3},
        {__LINE__, ",5", 0, 3, 0, 1},
        {__LINE__, "5", 4, 3, 0, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "line " << row.line << ": \"" << row.text << "\" I"
                                          << row.w);
        std::size_t pos = row.pos;
        const textio::IntScan r = textio::read_i_field(row.text, pos, row.w);
        EXPECT_STREQ("none", error_name(r.error));
        EXPECT_EQ(row.value, r.value);
        EXPECT_EQ(row.end, pos);
    }
}

TEST(IField, Errors) {
    struct Row {
        int line;
        std::string_view text;
        int w;
        ScanError error;
    };
    const Row rows[] = {
        {__LINE__, "1.5", 3, ScanError::bad_integer},
        {__LINE__, "-", 3, ScanError::bad_integer},
        {__LINE__, "1E2", 3, ScanError::bad_integer},
        {__LINE__, "A", 3, ScanError::bad_integer},
        {__LINE__, "2147483648", 10, ScanError::integer_range},
        {__LINE__, "-2147483649", 11, ScanError::integer_range},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "line " << row.line << ": \"" << row.text << "\"");
        std::size_t pos = 0;
        EXPECT_STREQ(error_name(row.error),
                     error_name(textio::read_i_field(row.text, pos, row.w).error));
    }
}

// ---------------------------------------------------------------------------
// Free-form tokenizer

// Runs one statement over the lines and writes its tokens down: a value as
// its text, a null as "_", a repeat as "r*" before either, the slash as "/",
// each line end as "|", an error as "!", its name and the text in error.  The statement ends at
// a slash or an error, as the reader ends it.
std::string tokens_of(const std::vector<std::string_view>& lines) {
    FreeTokenizer tk;
    tk.start_statement();
    std::string out;
    for (const std::string_view line : lines) {
        tk.start_line(line);
        for (;;) {
            const FreeToken t = tk.next();
            if (!out.empty()) out += ' ';
            if ((t.kind == FreeToken::value || t.kind == FreeToken::null) && t.repeat != 1)
                out += std::to_string(t.repeat) + "*";
            switch (t.kind) {
            case FreeToken::value: out += t.text; break;
            case FreeToken::null: out += '_'; break;
            case FreeToken::slash: return out + "/";
            case FreeToken::error: return out + "!" + error_name(t.fault) + "(" + std::string(t.text) + ")";
            case FreeToken::end_of_line: out += '|'; break;
            }
            if (t.kind == FreeToken::end_of_line) break;
        }
    }
    return out;
}

TEST(FreeTokenizer, Tokens) {
    struct Row {
        int line;
        std::vector<std::string_view> lines;
        std::string_view tokens;
    };
    const Row rows[] = {
        // Separators: blanks, tabs, a comma with blanks around it.
        {__LINE__, {"1 2"}, "1 2 |"},
        {__LINE__, {"  1     2  "}, "1 2 |"},
        {__LINE__, {"1\t2\t \t3"}, "1 2 3 |"},
        {__LINE__, {"1,2"}, "1 2 |"},
        {__LINE__, {"1 , 2"}, "1 2 |"},
        {__LINE__, {"1 ,2"}, "1 2 |"},
        {__LINE__, {"1, 2"}, "1 2 |"},
        {__LINE__, {"1\t,\t2"}, "1 2 |"},
        {__LINE__, {"-1.5e3,+2D-1"}, "-1.5e3 +2D-1 |"},
        {__LINE__, {"1,5"}, "1 5 |"},
        {__LINE__, {"2 3"}, "2 3 |"},
        // Line ends are blanks; empty lines are skipped.
        {__LINE__, {""}, "|"},
        {__LINE__, {"   \t  "}, "|"},
        {__LINE__, {"", "", "4"}, "| | 4 |"},
        {__LINE__, {"1", "2"}, "1 | 2 |"},
        // Null values: a comma after a comma, or before anything else.
        {__LINE__, {","}, "_ |"},
        {__LINE__, {",  7"}, "_ 7 |"},
        {__LINE__, {"  ,7"}, "_ 7 |"},
        {__LINE__, {",,7"}, "_ _ 7 |"},
        {__LINE__, {"1,,2"}, "1 _ 2 |"},
        {__LINE__, {"1, ,2"}, "1 _ 2 |"},
        {__LINE__, {"1 , , 2"}, "1 _ 2 |"},
        {__LINE__, {"1,"}, "1 |"},
        {__LINE__, {"1,,"}, "1 _ |"},
        // ... across line ends, which count as blanks.
        {__LINE__, {"1,", ",2"}, "1 | _ 2 |"},
        {__LINE__, {"1, ", "", "  , 2"}, "1 | | _ 2 |"},
        {__LINE__, {"1", ",2"}, "1 | 2 |"},
        {__LINE__, {"1 ", "", " ,2"}, "1 | | 2 |"},
        {__LINE__, {"", ",2"}, "| _ 2 |"},
        {__LINE__, {",", ","}, "_ | _ |"},
        // The slash ends the statement; the value before it stands.
        {__LINE__, {"1 / 9"}, "1 /"},
        {__LINE__, {"1/9"}, "1 /"},
        {__LINE__, {"/"}, "/"},
        {__LINE__, {"1,/"}, "1 /"},
        {__LINE__, {"1,,/"}, "1 _ /"},
        {__LINE__, {"", " /"}, "| /"},
        {__LINE__, {"1", "/", "2"}, "1 | /"},
        // Repeats.
        {__LINE__, {"3*0"}, "3*0 |"},
        {__LINE__, {"2*1.5 7"}, "2*1.5 7 |"},
        {__LINE__, {"01*5"}, "5 |"},
        {__LINE__, {"2147483647*1"}, "2147483647*1 |"},
        {__LINE__, {"2*-16#FF"}, "2*-16#FF |"},
        // r* with a separator straight after it: r null values.
        {__LINE__, {"2*"}, "2*_ |"},
        {__LINE__, {"2* 5"}, "2*_ 5 |"},
        {__LINE__, {"2*,5"}, "2*_ 5 |"},
        {__LINE__, {"2*,,5"}, "2*_ _ 5 |"},
        {__LINE__, {"2*/"}, "2*_ /"},
        {__LINE__, {"1*"}, "_ |"},
        {__LINE__, {"2*", ",5"}, "2*_ | 5 |"},
        {__LINE__, {",2*"}, "_ 2*_ |"},
        // Not repeats: the count must be unsigned digits right before '*'.
        {__LINE__, {"*5"}, "*5 |"},
        {__LINE__, {"+2*5"}, "+2*5 |"},
        {__LINE__, {"2 *5"}, "2 *5 |"},
        {__LINE__, {"2*3*4"}, "2*3*4 |"},
        {__LINE__, {"1.5*2"}, "1.5*2 |"},
        // A value is everything up to a blank, tab, comma, slash or line end.
        {__LINE__, {"abc 1e5x"}, "abc 1e5x |"},
        {__LINE__, {"1'2"}, "1'2 |"},
        {__LINE__, {"1(2"}, "1(2 |"},
        {__LINE__, {"1.5\r"}, "1.5 |"},
        {__LINE__, {"1\r\n2"}, "1 |"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "line " << row.line);
        EXPECT_EQ(row.tokens, tokens_of(row.lines));
    }
}

TEST(FreeTokenizer, Errors) {
    struct Row {
        int line;
        std::vector<std::string_view> lines;
        std::string_view tokens;
    };
    const Row rows[] = {
        {__LINE__, {"0*5"}, "!zero_repeat(0*5)"},
        {__LINE__, {"0*"}, "!zero_repeat(0*)"},
        {__LINE__, {"1 00*2,3"}, "1 !zero_repeat(00*2)"},
        {__LINE__, {"2147483648*1"}, "!repeat_range(2147483648*1)"},
        {__LINE__, {"99999999999999999999999*"}, "!repeat_range(99999999999999999999999*)"},
        {__LINE__, {"'abc'"}, "!string_value('abc')"},
        {__LINE__, {"1 'a, b' 2"}, "1 !string_value('a, b')"},
        {__LINE__, {"'open"}, "!string_value('open)"},
        {__LINE__, {"\"x\""}, "!string_value(\"x\")"},
        {__LINE__, {"2*'a'"}, "!string_value(2*'a')"},
        {__LINE__, {"(1.0,2.0)"}, "!pair_value((1.0)"},
        {__LINE__, {"1,", "(1,2)"}, "1 | !pair_value((1)"},
        {__LINE__, {"3*(1,2)"}, "!pair_value(3*(1)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "line " << row.line);
        EXPECT_EQ(row.tokens, tokens_of(row.lines));
    }
}

TEST(FreeTokenizer, StaysAtTheLineEnd) {
    FreeTokenizer tk;
    tk.start_statement();
    tk.start_line("5 ");
    const FreeToken v = tk.next();
    ASSERT_EQ(FreeToken::value, v.kind);
    EXPECT_EQ("5", v.text);
    EXPECT_EQ(1, v.repeat);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(FreeToken::end_of_line, tk.next().kind);
}

TEST(FreeTokenizer, NewStatementForgetsTheTrailingComma) {
    FreeTokenizer tk;
    tk.start_statement();
    tk.start_line("1,");
    EXPECT_EQ(FreeToken::value, tk.next().kind);
    EXPECT_EQ(FreeToken::end_of_line, tk.next().kind);
    // A comma first in a new statement is a null whatever the last one did;
    // after a value of the new statement it is a separator.
    tk.start_statement();
    tk.start_line(", 2 ,");
    EXPECT_EQ(FreeToken::null, tk.next().kind);
    EXPECT_EQ(FreeToken::value, tk.next().kind);
    EXPECT_EQ(FreeToken::end_of_line, tk.next().kind);
    tk.start_statement();
    tk.start_line("3");
    EXPECT_EQ(FreeToken::value, tk.next().kind);
    tk.start_statement();
    tk.start_line(",");
    EXPECT_EQ(FreeToken::null, tk.next().kind);
}

// The decimal comma of a user who writes decimals the Polish way: an
// integer standing alone, then a comma and a digit.
TEST(DecimalComma, FoundOnlyBehindAnIntegerThatStandsAlone) {
    const struct {
        int line;
        std::string_view text;
        bool found;
    } rows[] = {
        {__LINE__, "0,02", true},      {__LINE__, "10,5", true},       {__LINE__, "1,2,0.1", true},
        {__LINE__, "2*0,05", true},    {__LINE__, "-1,5", true},       {__LINE__, "0.5 +3,1", true},
        {__LINE__, "1\t7,3", true},    {__LINE__, "0.1,2,5", true},    {__LINE__, "0.02,0.02", false},
        {__LINE__, "1, 2", false},     {__LINE__, "1 ,2", false},      {__LINE__, "1.5,2", false},
        {__LINE__, "1E3,4", false},    {__LINE__, "a1,2", false},      {__LINE__, "-,5", false},
        {__LINE__, "1,", false},       {__LINE__, ",5", false},        {__LINE__, "", false},
        {__LINE__, "1,x", false},      {__LINE__, "16#1F,2", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(textio::has_decimal_comma(row.text), row.found) << row.text;
    }
}

// A line that opens with a comma and a digit: 0,5 typed without its 0.
// Any other opening comma is a null value.
TEST(DecimalComma, AnOpeningCommaBeforeADigit) {
    const struct {
        int line;
        std::string_view text;
        bool found;
    } rows[] = {
        {__LINE__, ",5", true},   {__LINE__, ",5 ,5", true}, {__LINE__, " \t,25", true}, {__LINE__, ",0", true},
        {__LINE__, ", 5", false}, {__LINE__, ",,5", false},  {__LINE__, ",/", false},    {__LINE__, ",", false},
        {__LINE__, "", false},    {__LINE__, "1 ,5", false}, {__LINE__, "-,5", false},   {__LINE__, ",\t5", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(textio::opens_with_decimal_comma(row.text), row.found) << row.text;
    }
}

}  // namespace
