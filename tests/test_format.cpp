// Parsing of format specifications: every construct the layer reads, and
// every way a specification can be unreadable; and the flat form of the
// output programs against the general interpreter.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "layouts/layouts.h"
#include "textio/format.h"
#include "textio/statement.h"

namespace {

using textio::describe;
using textio::parse_format;

struct Row {
    int line;
    const char* text;
    const char* program;
};

TEST(Format, ParsesEveryConstructIntoOneProgram) {
    const Row rows[] = {
        {__LINE__, "(2X,70('+'))", "X2 70['+'] rev=1"},
        {__LINE__, "(5(2X,I3))", "5[X2 I3] rev=0"},
        {__LINE__, "(10(2X,E12.6))", "10[X2 E12.6] rev=0"},
        {__LINE__, "(2X,E12.6,2X,3(3(2X,E12.6),2X,I3))", "X2 E12.6 X2 3[3[X2 E12.6] X2 I3] rev=3"},
        {__LINE__, "(4(2X,E12.6,2X,'*'))", "4[X2 E12.6 X2 '*'] rev=0"},
        {__LINE__, "(/)", "/ rev=0"},
        {__LINE__, "(/,2X,'BRAK TLUMIKOW')", "/ X2 'BRAK TLUMIKOW' rev=0"},
        {__LINE__, "(A8)", "A8 rev=0"},
        {__LINE__, "(A)", "A rev=0"},
        // Blanks outside literals are ignored, letters in either case.
        {__LINE__, " ( 2 x , e 1 2 . 6 , i3 ) ", "X2 E12.6 I3 rev=0"},
        // Doubled delimiters inside literals, both quote characters.
        {__LINE__, "('IT''S',\"A \"\"B\"\"\",'x\"y')", "'IT'S' 'A \"B\"' 'x\"y' rev=0"},
        // Blanks inside literals are kept.
        {__LINE__, "('  A B  ')", "'  A B  ' rev=0"},
        // A format ends at the parenthesis that matches its first one.
        {__LINE__, "(2X,70('+'))(22X,'KONIEC OBLICZEN')", "X2 70['+'] rev=1"},
        {__LINE__, "(I2)garbage that is never read", "I2 rev=0"},
        // The reversion point is the last group outside any other group.
        {__LINE__, "(I2,2(I3),I4,(I5,2(I6)))", "I2 2[I3] I4 1[I5 2[I6]] rev=5"},
        {__LINE__, "(/,2X,'A',/)", "/ X2 'A' / rev=0"},
        {__LINE__, "()", "rev=0"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "line " << r.line << ": " << r.text);
        EXPECT_EQ(describe(parse_format(r.text)), r.program);
    }
}

TEST(Format, GroupsNestSixteenDeepAndNoDeeper) {
    std::string ok = "(" + std::string(16, '(') + "I2" + std::string(16, ')') + ")";
    EXPECT_TRUE(parse_format(ok).error.empty());
    std::string deep = "(" + std::string(17, '(') + "I2" + std::string(17, ')') + ")";
    EXPECT_FALSE(parse_format(deep).error.empty());
}

TEST(Format, UnreadableSpecificationsAreErrorsNotCrashes) {
    const char* bad[] = {
        "",            "2X,I3)",     "(2X,I3",      "((I3)",       "(2X,'unterminated)",
        "(0(I3))",     "(Q3)",       "(I)",         "(E12)",       "(E12.)",
        "(X)",         "(0X)",       "(3I2)",       "(I99999999)", "(2X,E12.6,",
        "(A0)",        "(,,,",       "(\"abc)",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        textio::FormatProgram p = parse_format(text);
        EXPECT_FALSE(p.error.empty());
        ASSERT_FALSE(p.ops.empty());
        EXPECT_EQ(p.ops.back().kind, textio::FormatOp::finish);
    }
}

TEST(Format, CacheGivesTheSameProgramForTheSameText) {
    const textio::FormatProgram& a = textio::cached_format("(2X,I3)");
    std::string copy = "(2X,I3)";
    const textio::FormatProgram& b = textio::cached_format(copy);
    EXPECT_EQ(&a, &b);
    const textio::FormatProgram& c = textio::cached_format("(2X,I4)");
    EXPECT_NE(&a, &c);
    EXPECT_EQ(describe(c), "X2 I4 rev=0");
    // A different text of the same length in the same memory is another format.
    char buf[16] = "(2X,'A')";
    EXPECT_EQ(describe(textio::cached_format(buf)), "X2 'A' rev=0");
    buf[5] = 'B';
    EXPECT_EQ(describe(textio::cached_format(buf)), "X2 'B' rev=0");
}

class Records final : public textio::RecordSink {
public:
    void put(std::string_view record) override { all.emplace_back(record); }
    std::vector<std::string> all;
};

// Reals that exercise the edit: signs, zeros, rounding across a power of
// ten, three-digit exponents, the extremes and values that are not finite.
std::vector<textio::Out> reals(std::size_t n) {
    static const double kValues[] = {0.0, -0.0, 1.0, -0.000123456789, 9.9999996, 1.0E-100, 1.0E+99,
                                     0.99999951, 123.4567, std::numeric_limits<double>::quiet_NaN(),
                                     -std::numeric_limits<double>::infinity(), 1e300, 5e-324, 0.1234565,
                                     -7.25e-38, 2.5e17};
    std::vector<textio::Out> v;
    for (std::size_t k = 0; k < n; ++k) v.emplace_back(kValues[k % std::size(kValues)]);
    return v;
}

// The plot row of a step: LAMBDA, then per unknown three reals and its number.
std::vector<textio::Out> plot_row(std::size_t unknowns) {
    std::vector<textio::Out> v = reals(1 + 3 * unknowns);
    for (std::size_t k = 1; k <= unknowns; ++k) v.insert(v.begin() + static_cast<long>(4 * k), textio::Out(int32_t(k * 7)));
    return v;
}

TEST(FlatForm, GivesTheInterpretersRecordsOrLeavesTheStatementToIt) {
    using textio::Out;
    using layouts::kPlotRow, layouts::kValueList, layouts::kStepHeading, layouts::kSeparator;
    const struct {
        int line;
        std::string_view fmt;
        std::vector<Out> items;
        bool flat;  // whether the flat form performs the statement
    } rows[] = {
        {__LINE__, kValueList, reals(0), true},
        {__LINE__, kValueList, reals(1), true},
        {__LINE__, kValueList, reals(5), true},
        {__LINE__, kValueList, reals(20), true},
        {__LINE__, "(10(2X,E12.6))", reals(23), true},
        {__LINE__, kPlotRow, plot_row(0), true},
        {__LINE__, kPlotRow, plot_row(1), true},
        {__LINE__, kPlotRow, plot_row(3), true},
        {__LINE__, kPlotRow, plot_row(5), true},  // two more after a reversion to the group
        {__LINE__, kPlotRow, {Out(1.0), Out(2.0), Out(3.0), Out(4.0), Out(5.0)}, false},  // a real for I3
        {__LINE__, kSeparator, {}, true},
        {__LINE__, kStepHeading, reals(1), true},
        {__LINE__, kStepHeading, reals(3), true},
        {__LINE__, "(4(2X,E12.6,2X,'*'))", reals(1), true},
        {__LINE__, "(4(2X,E12.6,2X,'*'))", reals(6), true},
        {__LINE__, "(2X,'MACIERZ OSOBLIWA C=',E15.6,2X,'I=',I2)", {Out(0.0), Out(7)}, true},
        {__LINE__, "(5(2X,I3))", {Out(5), Out(0), Out(40), Out(1000), Out(-100), Out(-99)}, true},
        {__LINE__, "(I3,2X,'|',3X)", {Out(1), Out(2), Out(3)}, true},
        {__LINE__, "(1X,2(E12.6,2X,2(I2,1X)),'.')", {Out(1.5), Out(1), Out(2), Out(-2.5), Out(3)}, true},
        {__LINE__, "(/)", {}, false},
        {__LINE__, "(/,2X,'BRAK TLUMIKOW')", {}, false},
        {__LINE__, "(2X,'A')", reals(1), false},  // no descriptor for the item
        {__LINE__, "(2X,E12.0)", reals(1), false},
        {__LINE__, kValueList, {Out(1.0), Out(2)}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        const textio::FormatProgram p = parse_format(row.fmt);
        ASSERT_TRUE(p.error.empty());
        EXPECT_EQ(p.flat && textio::flat_fits(*p.flat, row.items.data(), row.items.size()), row.flat);
        Records flat, interpreted;
        const textio::IoResult a = textio::format_items(p, row.items.data(), row.items.size(), flat);
        const textio::IoResult b = textio::format_interpreted(p, row.items.data(), row.items.size(), interpreted);
        EXPECT_EQ(flat.all, interpreted.all);
        EXPECT_EQ(a.has_value(), b.has_value());
        if (a && b) {
            EXPECT_EQ(a->code, b->code);
        }
    }
}

}  // namespace
