// Tests of the Iw and Ew.d editing and of the decimal decoder beneath Ew.d.
//
// The decoder is checked against the exact decimal expansion of each binary
// value as glibc prints it with "%.800e" (every double has at most 767
// significant digits, so that expansion is complete); the truncation to 18
// digits and the half-up rounding of the 17th are redone here on the text.

#include "textio/edit.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfenv>
#include <cfloat>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using textio::Decimal;
using textio::decode17;
using textio::edit_exp;
using textio::edit_int;

double from_bits(uint64_t b) { return std::bit_cast<double>(b); }

std::string exp_field(double x, int w, int d) {
    std::string rec;
    edit_exp(rec, x, w, d);
    return rec;
}

std::string int_field(int64_t v, int w) {
    std::string rec;
    edit_int(rec, v, w);
    return rec;
}

// ---------------------------------------------------------------------------
// Reference decoder: the exact expansion, as text.

struct RefDecimal {
    std::string digits;
    int exp;
    bool tie;    // digits 18 on were exactly 5000...
    bool carry;  // the rounding carried out of the first digit
};

RefDecimal reference17(double x) {
    RefDecimal r{"0", 0, false, false};
    if (x == 0) return r;
    static char buf[1024];
    std::snprintf(buf, sizeof buf, "%.800e", std::fabs(x));
    // buf is "d.dddd...de+XXX": the first digit, the point, 800 digits.
    std::string all;
    all.push_back(buf[0]);
    const char* p = buf + 2;
    while (*p >= '0' && *p <= '9') all.push_back(*p++);
    EXPECT_EQ(*p, 'e') << buf;
    const int e10 = std::atoi(p + 1);

    std::string s = all.substr(0, 17);
    r.exp = e10 + 1;  // 0.d1d2... x 10^exp
    r.tie = all[17] == '5' && all.find_first_not_of('0', 18) == std::string::npos;
    if (all[17] >= '5') {
        int i = 16;
        while (i >= 0 && s[i] == '9') s[i--] = '0';
        if (i >= 0) {
            ++s[i];
        } else {
            s = "1" + s.substr(0, 16);
            ++r.exp;
            r.carry = true;
        }
    }
    s.erase(s.find_last_not_of('0') + 1);
    r.digits = s;
    return r;
}

std::string text_of(const Decimal& d) { return std::string(d.digits, d.digits + d.ndigits); }

std::string hex_bits(double x) {
    char b[32];
    std::snprintf(b, sizeof b, "0x%016" PRIx64, std::bit_cast<uint64_t>(x));
    return b;
}

// ---------------------------------------------------------------------------
// Iw

TEST(EditInt, FieldsOfTheWidths) {
    struct Row {
        int line;
        int64_t value;
        int w;
        const char* expected;
    };
    const Row rows[] = {
        {__LINE__, 5, 3, "  5"},
        {__LINE__, 0, 3, "  0"},
        {__LINE__, 40, 3, " 40"},
        {__LINE__, 999, 3, "999"},
        {__LINE__, 1000, 3, "***"},
        {__LINE__, -99, 3, "-99"},
        {__LINE__, -100, 3, "***"},
        {__LINE__, 7, 2, " 7"},
        {__LINE__, 99, 2, "99"},
        {__LINE__, 100, 2, "**"},
        {__LINE__, -9, 2, "-9"},
        {__LINE__, -10, 2, "**"},
        {__LINE__, 0, 1, "0"},
        {__LINE__, -1, 1, "*"},
        {__LINE__, 12, 6, "    12"},
        {__LINE__, -2147483648LL, 11, "-2147483648"},
        {__LINE__, 2147483647LL, 12, "  2147483647"},
        {__LINE__, INT64_MAX, 19, "9223372036854775807"},
        {__LINE__, INT64_MIN, 20, "-9223372036854775808"},
        {__LINE__, INT64_MIN, 19, "*******************"},
        {__LINE__, 12345, 0, ""},
        {__LINE__, 12345, -3, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row at line " << r.line);
        EXPECT_EQ(int_field(r.value, r.w), r.expected);
    }
}

TEST(EditInt, AppendsToTheRecordAsItStands) {
    std::string rec = "AB";
    edit_int(rec, 5, 3);
    edit_int(rec, -10, 2);
    EXPECT_EQ(rec, "AB  5**");
}

// ---------------------------------------------------------------------------
// Ew.d

struct ExpRow {
    int line;
    double value;
    int w;
    int d;
    const char* expected;
};

void check_rows(const std::vector<ExpRow>& rows) {
    for (const ExpRow& r : rows) {
        SCOPED_TRACE(testing::Message() << "row at line " << r.line << ", value " << hex_bits(r.value)
                                        << ", E" << r.w << "." << r.d);
        EXPECT_EQ(exp_field(r.value, r.w, r.d), r.expected);
    }
}

TEST(EditExp, TheE12AndE15Table) {
    check_rows({
        {__LINE__, 1.0, 12, 6, " .100000E+01"},
        {__LINE__, 1.0, 15, 6, "    .100000E+01"},
        {__LINE__, -1.0, 12, 6, "-.100000E+01"},
        {__LINE__, -1.0, 15, 6, "   -.100000E+01"},
        {__LINE__, 0.0, 12, 6, " .000000E+00"},
        {__LINE__, 0.0, 15, 6, "    .000000E+00"},
        {__LINE__, -0.0, 12, 6, " .000000E+00"},
        {__LINE__, -0.0, 15, 6, "    .000000E+00"},
        {__LINE__, 123.4567, 12, 6, " .123457E+03"},
        {__LINE__, 123.4567, 15, 6, "    .123457E+03"},
        {__LINE__, -0.000123456789, 12, 6, "-.123457E-03"},
        {__LINE__, -0.000123456789, 15, 6, "   -.123457E-03"},
        {__LINE__, 9.9999996, 12, 6, " .100000E+02"},
        {__LINE__, 9.9999996, 15, 6, "    .100000E+02"},
        {__LINE__, 1.0E-100, 12, 6, " .100000E-99"},
        {__LINE__, 1.0E-100, 15, 6, "    .100000E-99"},
        {__LINE__, 1.0E+98, 12, 6, " .100000E+99"},
        {__LINE__, 1.0E+98, 15, 6, "    .100000E+99"},
        {__LINE__, 1.0E+99, 12, 6, " .100000+100"},
        {__LINE__, 1.0E+99, 15, 6, "    .100000+100"},
        {__LINE__, 1.0E-101, 12, 6, " .100000-100"},
        {__LINE__, 1.0E-101, 15, 6, "    .100000-100"},
    });
}

// Every six digits a field can show, each in the place it must stand:
// t / 10^(6 - e) shows t and the exponent e, whatever t is.
TEST(EditExp, EverySixDigitsInTheirPlaces) {
    struct Row {
        int line;
        int w;
        double sign;
        int e;                 // the exponent shown
        const char* exponent;  // its text
    };
    const Row rows[] = {
        {__LINE__, 12, 1.0, 0, "E+00"},   {__LINE__, 12, -1.0, 0, "E+00"},
        {__LINE__, 15, 1.0, 3, "E+03"},   {__LINE__, 15, -1.0, -7, "E-07"},
        {__LINE__, 12, 1.0, -45, "E-45"}, {__LINE__, 12, -1.0, 99, "E+99"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        int wrong = 0;
        for (int t = 100000; t <= 999999; ++t) {
            const double value = r.sign * (static_cast<double>(t) * std::pow(10.0, r.e - 6));
            const std::string expected = std::string(static_cast<std::size_t>(r.w - 12), ' ') +
                                         (r.sign < 0 ? "-." : " .") + std::to_string(t) + r.exponent;
            const std::string got = exp_field(value, r.w, 6);
            if (got != expected && ++wrong <= 5) ADD_FAILURE() << got << " instead of " << expected;
        }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(EditExp, RoundingOfTheShownDigits) {
    check_rows({
        // A carry across a power of ten raises the exponent.
        {__LINE__, 0.99999951, 12, 6, " .100000E+01"},
        {__LINE__, 0.99999949, 12, 6, " .999999E+00"},
        {__LINE__, -0.99999951, 12, 6, "-.100000E+01"},
        // Below the half-way point in binary, exactly on it in 17 digits.
        {__LINE__, 0.1234565, 12, 6, " .123457E+00"},
        {__LINE__, -0.1234565, 12, 6, "-.123457E+00"},
        {__LINE__, 0.1235, 10, 3, "  .124E+00"},
        // 1.0000005e-100 is 0.10000004999999999 x 10^-99 in 17 digits: only
        // the seventh digit decides, the digits after it do not push it up.
        {__LINE__, 1.0000005e-100, 12, 6, " .100000E-99"},
        // The carry takes the exponent across the two-digit limit and back.
        {__LINE__, 9.999995e98, 12, 6, " .100000+100"},
        {__LINE__, 9.999994e98, 12, 6, " .999999E+99"},
        {__LINE__, 9.9999951e-101, 12, 6, " .100000E-99"},
        {__LINE__, 9.999994e-101, 12, 6, " .999999-100"},
        {__LINE__, 0.5, 12, 6, " .500000E+00"},
        {__LINE__, 12345678.9, 12, 6, " .123457E+08"},
    });
}

TEST(EditExp, ThreeDigitExponentsAndTheExtremes) {
    check_rows({
        {__LINE__, 1e100, 12, 6, " .100000+101"},
        {__LINE__, -1e100, 12, 6, "-.100000+101"},
        {__LINE__, -1e-101, 12, 6, "-.100000-100"},
        {__LINE__, 1e-99, 12, 6, " .100000E-98"},
        {__LINE__, DBL_MAX, 12, 6, " .179769+309"},
        {__LINE__, -DBL_MAX, 15, 6, "   -.179769+309"},
        {__LINE__, DBL_MIN, 12, 6, " .222507-307"},
        {__LINE__, DBL_TRUE_MIN, 12, 6, " .494066-323"},
        {__LINE__, -DBL_TRUE_MIN, 12, 6, "-.494066-323"},
    });
}

TEST(EditExp, WidthsAndDigitCounts) {
    const double below_one = std::nextafter(1.0, 0.0);
    const double tie17 = 1.0 + 0x1p-17;  // 1.00000762939453125 exactly
    check_rows({
        // Too narrow: the whole field is asterisks.
        {__LINE__, 1.0, 11, 6, ".100000E+01"},
        {__LINE__, -1.0, 11, 6, "***********"},
        {__LINE__, 1.0, 10, 6, "**********"},
        {__LINE__, 1.0, 1, 6, "*"},
        {__LINE__, 1.0, 0, 6, ""},
        // Other digit counts.
        {__LINE__, 0.96, 8, 1, "  .1E+01"},
        {__LINE__, 1234.5, 10, 3, "  .123E+04"},
        {__LINE__, 0.0, 9, 2, "  .00E+00"},
        // No more than 16 significant digits are shown; more are zeros.
        {__LINE__, 0.7, 25, 16, "    .7000000000000000E+00"},
        {__LINE__, 0.7, 25, 17, "   .70000000000000000E+00"},
        {__LINE__, 0.1, 26, 20, " .10000000000000000000E+00"},
        {__LINE__, 1.0 / 3.0, 25, 16, "    .3333333333333333E+00"},
        // 0.99999999999999989 rounds to 16 nines; 1e89 is
        // 0.99999999999999999 x 10^89 in 17 digits and carries to 10^89.
        {__LINE__, below_one, 25, 16, "    .9999999999999999E+00"},
        {__LINE__, 1e89, 25, 16, "    .1000000000000000E+90"},
        {__LINE__, 1e89, 12, 6, " .100000E+90"},
        {__LINE__, tie17, 30, 17, "        .10000076293945310E+01"},
        {__LINE__, tie17, 30, 15, "          .100000762939453E+01"},
        // A descriptor without fraction digits shows nothing but asterisks.
        {__LINE__, 1.0, 5, 0, "*****"},
    });
}

TEST(EditExp, VeryWideFieldIsWrittenInFull) {
    std::string rec = "X";
    edit_exp(rec, -2.5, 1030, 1020);
    ASSERT_EQ(rec.size(), 1031u);
    // 1020 digits + ".", "-" and the exponent make 1026; four blanks lead.
    EXPECT_EQ(rec.substr(0, 7), "X    -.");
    EXPECT_EQ(rec.substr(7, 3), "250");
    EXPECT_EQ(rec.find_first_not_of('0', 9), 1027u);
    EXPECT_EQ(rec.substr(1027), "E+01");
}

TEST(EditExp, ValuesThatAreNotFinite) {
    struct Row {
        int line;
        uint64_t bits;
        int w;
        const char* expected;
    };
    const Row rows[] = {
        {__LINE__, 0x7FF0000000000000u, 12, "1#INF......."},
        {__LINE__, 0xFFF0000000000000u, 12, "1#INF......."},
        {__LINE__, 0xFFF8000000000000u, 12, "1#IND......."},
        {__LINE__, 0xFFF8000000000000u, 15, "1#IND.........."},
        // The default not-a-number only with its sign set.
        {__LINE__, 0x7FF8000000000000u, 12, "1#QNAN......"},
        {__LINE__, 0xFFF8000000000001u, 12, "1#QNAN......"},
        {__LINE__, 0x7FFFFFFFFFFFFFFFu, 12, "1#QNAN......"},
        {__LINE__, 0xFFFC000000000000u, 12, "1#QNAN......"},
        {__LINE__, 0x7FF0000000000001u, 12, "1#SNAN......"},
        {__LINE__, 0xFFF4000000000000u, 12, "1#SNAN......"},
        {__LINE__, 0x7FF7FFFFFFFFFFFFu, 15, "1#SNAN........."},
        // Exactly the text, or asterisks when it does not fit.
        {__LINE__, 0x7FF0000000000000u, 5, "1#INF"},
        {__LINE__, 0x7FF0000000000000u, 4, "****"},
        {__LINE__, 0x7FF0000000000001u, 6, "1#SNAN"},
        {__LINE__, 0x7FF0000000000001u, 5, "*****"},
        {__LINE__, 0xFFF8000000000000u, 0, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row at line " << r.line);
        EXPECT_EQ(exp_field(from_bits(r.bits), r.w, 6), r.expected);
    }
}

TEST(EditExp, AppendsToTheRecordAsItStands) {
    std::string rec = "  I=";
    edit_exp(rec, 2.0, 12, 6);
    edit_exp(rec, from_bits(0x7FF0000000000000u), 6, 6);
    EXPECT_EQ(rec, "  I= .200000E+011#INF.");
}

// ---------------------------------------------------------------------------
// The decoder

TEST(Decode17, KnownValues) {
    struct Row {
        int line;
        double value;
        const char* digits;
        int exp;
    };
    const Row rows[] = {
        {__LINE__, 0.0, "0", 0},
        {__LINE__, -0.0, "0", 0},
        {__LINE__, 1.0, "1", 1},
        {__LINE__, -1.0, "1", 1},  // the sign is not part of the magnitude
        {__LINE__, 0.5, "5", 0},
        // 0.1000000000000000055...: the 18th digit 5 rounds up.
        {__LINE__, 0.1, "10000000000000001", 0},
        // 0.6999999999999999555...
        {__LINE__, 0.7, "69999999999999996", 0},
        // 1.00000762939453125 exactly: a true tie goes up, not to even.
        {__LINE__, 1.0 + 0x1p-17, "10000076293945313", 1},
        // 0.1234564999999999967...: the 18th digit 6 carries into 5000...
        {__LINE__, 0.1234565, "1234565", 0},
        // Seventeen nines and an 18th digit of 5 or more carry to a power
        // of ten.
        {__LINE__, 1e-14, "1", -13},
        {__LINE__, 1e98, "1", 99},
        {__LINE__, 1e153, "1", 154},
        // 1.00000000000000004...e-4: rounding down leaves only zeros.
        {__LINE__, 1e-4, "1", -3},
        {__LINE__, 1e23, "99999999999999992", 23},
        {__LINE__, 0x1p53, "9007199254740992", 16},
        {__LINE__, 0x1p63, "92233720368547758", 19},
        {__LINE__, DBL_MAX, "17976931348623157", 309},
        {__LINE__, DBL_MIN, "22250738585072014", -307},
        {__LINE__, DBL_TRUE_MIN, "49406564584124654", -323},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row at line " << r.line << ", value " << hex_bits(r.value));
        const Decimal d = decode17(r.value);
        EXPECT_EQ(text_of(d), r.digits);
        EXPECT_EQ(d.exp, r.exp);
    }
}

// Values for the differential sweep: random bit patterns over the whole
// range, every binade edge, powers of ten and their neighbours, and values
// whose exact expansion is short, so that the 18th digit is often an exact
// tie.
std::vector<double> sweep_values() {
    std::vector<double> v;
    std::mt19937_64 rng(20240611);
    auto push_finite = [&v](uint64_t b) {
        if ((b & 0x7FF0000000000000u) != 0x7FF0000000000000u) v.push_back(from_bits(b));
    };

    for (int i = 0; i < 150000; ++i) push_finite(rng());
    for (int i = 0; i < 20000; ++i) push_finite(rng() & 0x800FFFFFFFFFFFFFu);  // denormals
    // Typical magnitudes, 1e-10 to 1e10: biased exponents 989 to 1056.
    for (int i = 0; i < 30000; ++i) {
        const uint64_t field = 989 + rng() % 68;
        push_finite((field << 52) | (rng() & 0x800FFFFFFFFFFFFFu));
    }
    for (uint64_t field = 0; field < 2047; ++field) {
        const uint64_t b = field << 52;
        push_finite(b | 1);
        push_finite(b | 0x000FFFFFFFFFFFFFu);
        if (field > 0) {
            push_finite(b);
            push_finite(b - 1);
        }
    }
    for (int k = 0; k < 52; ++k) push_finite(uint64_t{1} << k);
    for (int k = -323; k <= 308; ++k) {
        const std::string s = "1e" + std::to_string(k);
        double x = 0;
        std::from_chars(s.data(), s.data() + s.size(), x);
        const uint64_t b = std::bit_cast<uint64_t>(x);
        for (uint64_t b2 = b - 2; b2 <= b + 2; ++b2) push_finite(b2);
    }
    // Integers of 17 to 20 digits (m << k): the digits after the 18th are
    // few, so exact ties at the 18th digit are common.
    for (int i = 0; i < 20000; ++i) {
        const uint64_t m = (rng() >> 11) | (uint64_t{1} << 52);
        const int k = 4 + static_cast<int>(rng() % 8);
        v.push_back(std::ldexp(static_cast<double>(m), k));
    }
    // Short dyadic fractions j / 2^k, odd j: their expansion j * 5^k ends
    // in 5.  In the second loop j has about the bits that make j * 5^k a
    // number of 18 digits, which is then an exact tie at the 18th.
    for (int i = 0; i < 20000; ++i) {
        const int bits = 1 + static_cast<int>(rng() % 40);
        const uint64_t j = (rng() >> (64 - bits)) | 1;
        const int k = 1 + static_cast<int>(rng() % 60);
        v.push_back(std::ldexp(static_cast<double>(j), -k));
    }
    for (int i = 0; i < 20000; ++i) {
        const int k = 3 + static_cast<int>(rng() % 22);
        const int bits = 58 - (k * 2322) / 1000 + static_cast<int>(rng() % 3) - 1;
        const uint64_t j = (rng() >> (64 - bits)) | (uint64_t{1} << (bits - 1)) | 1;
        v.push_back(std::ldexp(static_cast<double>(j), -k));
    }
    v.push_back(DBL_MAX);
    v.push_back(-DBL_MAX);
    v.push_back(DBL_MIN);
    v.push_back(DBL_TRUE_MIN);
    return v;
}

TEST(Decode17, AgreesWithTheExactExpansion) {
    const std::vector<double> values = sweep_values();
    int mismatches = 0;
    int ties = 0;
    int carries = 0;
    for (double x : values) {
        const RefDecimal ref = reference17(x);
        const Decimal got = decode17(x);
        ties += ref.tie;
        carries += ref.carry;
        if (text_of(got) != ref.digits || got.exp != ref.exp) {
            if (++mismatches <= 20) {
                ADD_FAILURE() << "value " << hex_bits(x) << ": got " << text_of(got) << " e" << got.exp
                              << ", expected " << ref.digits << " e" << ref.exp;
            }
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << values.size() << " values";
    // The sweep must really reach the cases where rounding changes control
    // flow: exact ties at the 18th digit and carries out of the first.
    EXPECT_GE(ties, 1000);
    EXPECT_GE(carries, 10);
}

// ---------------------------------------------------------------------------
// Read-back: every E12.6 field is a number, and that number is the value
// rounded half up to six digits from its 17-digit form.

double parse_field(std::string text) {
    const std::size_t start = text.find_first_not_of(' ');
    text = text.substr(start);
    // The three-digit exponent form has no letter before its sign.
    if (text.find('E') == std::string::npos) text.insert(text.size() - 4, "E");
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    EXPECT_EQ(*end, '\0') << text;
    return v;
}

double six_digits_half_up(double x) {
    RefDecimal r = reference17(x);
    std::string s = r.digits;
    if (s.size() > 6) {
        const bool up = s[6] >= '5';
        s.resize(6);
        if (up) {
            int i = 5;
            while (i >= 0 && s[i] == '9') s[i--] = '0';
            if (i >= 0) {
                ++s[i];
            } else {
                s = "1";
                ++r.exp;
            }
        }
    }
    const std::string text = (std::signbit(x) ? "-0." : "0.") + s + "e" + std::to_string(r.exp);
    return std::strtod(text.c_str(), nullptr);
}

// The layout of an E12.6 field: a blank or minus, the point, six digits,
// then E, a sign and two digits, or a sign and three digits.
bool e12_layout(std::string_view f) {
    auto digits = [&](std::size_t from, std::size_t n) {
        for (std::size_t i = from; i < from + n; ++i)
            if (f[i] < '0' || f[i] > '9') return false;
        return true;
    };
    auto sign = [&](std::size_t i) { return f[i] == '+' || f[i] == '-'; };
    if (f.size() != 12 || (f[0] != ' ' && f[0] != '-') || f[1] != '.' || !digits(2, 6)) return false;
    return (f[8] == 'E' && sign(9) && digits(10, 2)) || (sign(8) && digits(9, 3));
}

TEST(EditExp, FieldsReadBackToTheValueShown) {
    std::mt19937_64 rng(77);
    std::vector<double> values;
    for (int i = 0; i < 20000; ++i) {
        const uint64_t b = rng();
        if ((b & 0x7FF0000000000000u) != 0x7FF0000000000000u) values.push_back(from_bits(b));
    }
    for (int i = 0; i < 20000; ++i) {
        const uint64_t field = 989 + rng() % 68;
        values.push_back(from_bits((field << 52) | (rng() & 0x800FFFFFFFFFFFFFu)));
    }
    // Around the change of exponent form.
    for (int i = 0; i < 2000; ++i) {
        values.push_back(std::ldexp(1.0 + static_cast<double>(rng() >> 12) * 0x1p-52, 320 + static_cast<int>(rng() % 20)));
        values.push_back(-std::ldexp(1.0 + static_cast<double>(rng() >> 12) * 0x1p-52, -343 + static_cast<int>(rng() % 20)));
    }
    values.push_back(0.0);
    values.push_back(-0.0);

    int failures = 0;
    for (double x : values) {
        const std::string f12 = exp_field(x, 12, 6);
        const std::string f15 = exp_field(x, 15, 6);
        const bool shown_negative = std::signbit(x) && x != 0;
        const bool ok = e12_layout(f12) && (f12[0] == '-') == shown_negative &&
                        f15 == "   " + f12 && parse_field(f12) == six_digits_half_up(x);
        if (!ok && ++failures <= 20) {
            ADD_FAILURE() << "value " << hex_bits(x) << " (" << std::setprecision(17) << x << "): E12.6 '" << f12
                          << "', E15.6 '" << f15 << "', expected to read " << six_digits_half_up(x);
        }
    }
    EXPECT_EQ(failures, 0);
}

// ---------------------------------------------------------------------------
// Traps: the run enables invalid-operation, division-by-zero and overflow
// traps; editing must never raise them.  Each check runs in a child process,
// so a trap shows as a death by SIGFPE rather than killing the test run.

// The child was stopped by the trap: killed by SIGFPE, or, under a sanitizer
// runtime that catches SIGFPE itself, ended with its error status.
bool stopped_by_trap(int status) {
    if (WIFSIGNALED(status)) return WTERMSIG(status) == SIGFPE;
    return WIFEXITED(status) && WEXITSTATUS(status) != 0;
}

TEST(EditUnderTraps, TheTrapsAreLive) {
    // Without this the check below could pass with traps that never fire.
    EXPECT_EXIT(
        {
            feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
            volatile double big = DBL_MAX;
            volatile double r = big * 2.0;
            (void)r;
            _exit(0);
        },
        stopped_by_trap, "");
}

TEST(EditUnderTraps, ExtremeAndNonFiniteValuesEditWithoutATrap) {
    struct Row {
        uint64_t bits;
        const char* expected;
    };
    const Row rows[] = {
        {0x7FEFFFFFFFFFFFFFu, " .179769+309"},  // largest
        {0xFFEFFFFFFFFFFFFFu, "-.179769+309"},
        {0x0010000000000000u, " .222507-307"},  // smallest normal
        {0x0000000000000001u, " .494066-323"},  // smallest denormal
        {0x800FFFFFFFFFFFFFu, "-.222507-307"},  // largest denormal
        {0x0000000000000000u, " .000000E+00"},
        {0x8000000000000000u, " .000000E+00"},
        {0x3FF0000000000000u, " .100000E+01"},
        {0x7FF0000000000000u, "1#INF......."},
        {0xFFF0000000000000u, "1#INF......."},
        {0xFFF8000000000000u, "1#IND......."},
        {0x7FF8000000000000u, "1#QNAN......"},
        {0x7FF0000000000001u, "1#SNAN......"},
        {0xFFF4000000000000u, "1#SNAN......"},
    };
    // Random values of every magnitude, their fields taken before the traps
    // are enabled.
    std::mt19937_64 rng(5);
    std::vector<std::pair<double, std::string>> random_fields;
    for (int i = 0; i < 20000; ++i) {
        const double x = from_bits(rng());
        random_fields.emplace_back(x, exp_field(x, 15, 6));
    }
    EXPECT_EXIT(
        {
            feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
            int wrong = 0;
            for (const Row& r : rows) wrong += exp_field(from_bits(r.bits), 12, 6) != r.expected;
            for (const auto& [x, f] : random_fields) {
                wrong += exp_field(x, 15, 6) != f;
                const Decimal d = decode17(x);
                wrong += d.ndigits < 1 || d.ndigits > 17;
            }
            std::string rec;
            edit_int(rec, INT64_MIN, 20);
            wrong += rec != "-9223372036854775808";
            _exit(wrong == 0 ? 0 : 3);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
