// The layouts of the records that another program reads back: the format
// texts the writer of the results and plot files uses, and the field
// geometry a reader relies on, tied to those texts at compile time.  It
// knows nothing of the text layer or the model, so the writer and any
// reader may both include it.
#pragma once

#include <cstddef>
#include <string_view>

namespace layouts {

// ------------------------------------------------------------ format texts

// Results file.
inline constexpr std::string_view kSeparator = "(2X,70('+'))";
inline constexpr std::string_view kFrequencies = "(2X,'CZESTOSCI DRGAN WLASNYCH')";
inline constexpr std::string_view kValueList = "(5(2X,E12.6))";
inline constexpr std::string_view kStepHeading = "(2X,'WYNIKI OBLICZEN LAMBDA=',E12.6)";
inline constexpr std::string_view kAmplitudeCaption = "(12X,'AMPLITUDY DRGAN')";
inline constexpr std::string_view kCosCaption = "(12X,'AMPLITUDY PRZY COS')";
inline constexpr std::string_view kSinCaption = "(12X,'AMPLITUDY PRZY SIN')";
inline constexpr std::string_view kClosing = "(22X,'KONIEC OBLICZEN')";

// Plot file: one row per step, the legend after the last one.
inline constexpr std::string_view kPlotRow = "(2X,E12.6,2X,3(3(2X,E12.6),2X,I3))";
inline constexpr std::string_view kPlotLegend =
    "(2X,'1 KOLUMNA - CZESTOSC WYMUSZENIA',/,2X,'2 KOLUMNA - AMPLITUDA DRGAN',/,2X,"
    "'3 KOLUMNA - AMPLITUDA COS',/,2X,'4 KOLUMNA - AMPLITUDA SIN',/,2X,"
    "'5 KOLUMNA - NR PRZEMIESZCZENIA',/,2X,'6 KOLUMNA - ZNOWU AMPLITUDA DRGAN ITD')";

// Data file: the sizes record (LK, LT, LPT), then every matrix row, the
// damping ratios, the forces and the range as row records, ten values to a
// line.  The program writes and reads it, and the design companion writes
// it for the program to read.
inline constexpr std::string_view kDataSizes = "(5(2X,I3))";
inline constexpr std::string_view kDataRow = "(10(2X,E12.6))";

// ---------------------------------------------------------- field geometry

inline constexpr std::size_t kGap = 2;          // the 2X before every field
inline constexpr int kRealWidth = 12;           // Ew.d
inline constexpr int kRealDigits = 6;
inline constexpr int kIntWidth = 3;             // the unknown's number, Iw
inline constexpr std::size_t kValuesPerLine = 5;  // a value list's line
inline constexpr std::size_t kPlottedMax = 3;     // groups of a plot row
inline constexpr std::size_t kDataValuesPerLine = 10;  // a data-file row record's line
inline constexpr std::size_t kDataSizesPerLine = 5;

inline constexpr std::size_t kRealField = kGap + kRealWidth;
// A plot row: the frequency field and two blanks, then per plotted unknown
// three amplitudes and its number.
inline constexpr std::size_t kRowHead = kRealField + kGap;
inline constexpr std::size_t kRowGroup = 3 * kRealField + kGap + kIntWidth;

// ------------------------------------------- reading the texts at compile time

namespace detail {

constexpr bool digit(char c) { return c >= '0' && c <= '9'; }

constexpr std::size_t number(std::string_view f, std::size_t& i) {
    std::size_t n = 0;
    while (i < f.size() && digit(f[i])) n = n * 10 + static_cast<std::size_t>(f[i++] - '0');
    return n;
}

// The width of the items of f from i up to the ')' that closes them (or a
// '/'), each group taken as often as its repeat count says.
constexpr std::size_t width(std::string_view f, std::size_t& i) {
    std::size_t w = 0;
    while (i < f.size() && f[i] != ')' && f[i] != '/') {
        if (f[i] == ',') {
            ++i;
            continue;
        }
        const std::size_t repeat = digit(f[i]) ? number(f, i) : 1;
        if (f[i] == '(') {
            ++i;
            const std::size_t inner = width(f, i);
            ++i;  // ')'
            w += repeat * inner;
        } else if (f[i] == '\'') {
            const std::size_t close = f.find('\'', i + 1);
            w += repeat * (close - i - 1);
            i = close + 1;
        } else if (f[i] == 'X') {
            w += repeat;
            ++i;
        } else {  // Ew.d or Iw
            ++i;
            w += repeat * number(f, i);
            if (i < f.size() && f[i] == '.') {
                ++i;
                number(f, i);
            }
        }
    }
    return w;
}

}  // namespace detail

// The length of the first record a format without '/' in its items writes.
constexpr std::size_t record_width(std::string_view f) {
    std::size_t i = 1;
    return detail::width(f, i);
}

// The n-th quoted text of a format (no doubled apostrophes in these).
constexpr std::string_view literal(std::string_view f, std::size_t n = 0) {
    std::size_t open = f.find('\'');
    for (; n > 0; --n) open = f.find('\'', f.find('\'', open + 1) + 1);
    return f.substr(open + 1, f.find('\'', open + 1) - open - 1);
}

static_assert(record_width(kPlotRow) == kRowHead + kPlottedMax * kRowGroup);
static_assert(record_width(kValueList) == kValuesPerLine * kRealField);
static_assert(record_width(kStepHeading) == kGap + literal(kStepHeading).size() + kRealWidth);
static_assert(record_width(kSeparator) == kGap + 70);
static_assert(record_width(kDataRow) == kDataValuesPerLine * kRealField);
static_assert(record_width(kDataSizes) == kDataSizesPerLine * (kGap + kIntWidth));

}  // namespace layouts
