// Parsing of format specifications: every construct the layer reads, and
// every way a specification can be unreadable.
#include <gtest/gtest.h>

#include "textio/format.h"

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

}  // namespace
