// Whole runs at an interactive terminal, where a slip in a typed answer is
// refused and the question read again, against the same answers redirected,
// where every read stays as it always was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_run.h"

namespace {

using Lines = std::vector<std::string>;

const std::string CRLF = "\r\n";
const std::string COMMA = "  CZESC DZIESIETNA PISZ PO KROPCE (0.02), LICZBY ROZDZIELAJ SPACJA";
const std::string WRONG = "  NIEPOPRAWNA ODPOWIEDZ - PODAJ JESZCZE RAZ";

// A single storey without dampers, typed, with the given lines at the
// prompt for the two damping ratios.
std::string answers(const Lines& gammas) {
    std::string s = "d\nw\nr\n1\n1\n0\n1\n1\n1\n100\n";
    for (const std::string& g : gammas) s += g + "\n";
    return s + "1\n0\n4 6 1\n1\n1\n\n";
}

e2e::Outcome run(const Lines& gammas, e2e::Console console) {
    e2e::Run r;
    r.input = answers(gammas);
    r.console = console;
    e2e::Outcome o = e2e::run(r);
    EXPECT_FALSE(o.timed_out);
    return o;
}

// The data file's record of the two ratios: "(2(2X,E12.6))".
std::string ratios(const char* g1, const char* g2) { return std::string("   ") + g1 + "   " + g2; }

std::string line_of(const std::string& file, int k) {
    std::size_t pos = 0;
    for (int i = 1; i < k && pos != std::string::npos; ++i) pos = file.find(CRLF, pos) + 2;
    return pos == std::string::npos ? "" : file.substr(pos, file.find(CRLF, pos) - pos);
}

TEST(Terminal, SlipsAreAskedAgainOnlyAtAnInteractiveConsole) {
    const struct {
        int line;
        Lines typed;                // at the terminal, up to the accepted line
        std::vector<std::string> refusals;
        std::string ratios;         // recorded at the terminal
        std::size_t piped;          // lines of typed given to the redirected run
        std::string piped_ratios;   // recorded by it; empty: it ends in a run-time error
    } rows[] = {
        {__LINE__, {"0,02 0,02", "0.02 0.02"}, {COMMA}, ratios(".200000E-01", ".200000E-01"), 1,
         ratios(".000000E+00", ".200000E+01")},
        // The first ratio of the refused line is not kept: a null leaves the
        // value from before the statement.
        {__LINE__, {"0.03 x", ", 0.02"}, {WRONG}, ratios(".000000E+00", ".200000E-01"), 1, ""},
        {__LINE__, {"0*0.02", "0.02 0.02"}, {WRONG}, ratios(".200000E-01", ".200000E-01"), 1, ""},
        {__LINE__, {"2*0,05", "2*0.05"}, {COMMA}, ratios(".500000E-01", ".500000E-01"), 1,
         ratios(".000000E+00", ".000000E+00")},
        {__LINE__, {"0.02,0.02"}, {}, ratios(".200000E-01", ".200000E-01"), 1,
         ratios(".200000E-01", ".200000E-01")},
        {__LINE__, {"1, 2"}, {}, ratios(".100000E+01", ".200000E+01"), 1, ratios(".100000E+01", ".200000E+01")},
        // A statement over two lines is typed again from its first value.
        {__LINE__, {"0.03", "0,02", "0.04", "0.01"}, {COMMA}, ratios(".400000E-01", ".100000E-01"), 2,
         ratios(".300000E-01", ".000000E+00")},
        {__LINE__, {"1,5 1", "'a' 1", "1E999 1", "0.01 0.01"}, {COMMA, WRONG, WRONG},
         ratios(".100000E-01", ".100000E-01"), 1, ratios(".100000E+01", ".500000E+01")},
        // A line that opens with a comma and a digit is 0,5 typed without
        // its 0; any other opening comma is a null value.
        {__LINE__, {",5 ,5", "0.5 0.5"}, {COMMA}, ratios(".500000E+00", ".500000E+00"), 1,
         ratios(".000000E+00", ".500000E+01")},
        {__LINE__, {" \t,5", ",25 1", "0.5 0.25"}, {COMMA, COMMA}, ratios(".500000E+00", ".250000E+00"), 1,
         ratios(".000000E+00", ".500000E+01")},
        {__LINE__, {", 5"}, {}, ratios(".000000E+00", ".500000E+01"), 1, ratios(".000000E+00", ".500000E+01")},
        {__LINE__, {",,"}, {}, ratios(".000000E+00", ".000000E+00"), 1, ratios(".000000E+00", ".000000E+00")},
        {__LINE__, {",/"}, {}, ratios(".000000E+00", ".000000E+00"), 1, ratios(".000000E+00", ".000000E+00")},
        {__LINE__, {",", "0.02"}, {}, ratios(".000000E+00", ".200000E-01"), 2, ratios(".000000E+00", ".200000E-01")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        const e2e::Outcome tty = run(row.typed, e2e::Console::terminal);
        EXPECT_EQ(tty.status, 0) << e2e::visible(tty.err);
        // Each refusal stands on a line of its own under the refused answer,
        // and the prompt is not shown again.
        std::string shown = "PODAJ GAMMA 1 I GAMMA 2" + CRLF;
        for (const std::string& r : row.refusals) shown += r.substr(1) + CRLF;
        shown += CRLF + std::string(11, ' ') + "INFORMACJE O SILACH";
        EXPECT_NE(tty.out.find(shown), std::string::npos) << e2e::visible(tty.out);
        ASSERT_TRUE(tty.files.count("d"));
        EXPECT_EQ(line_of(tty.files.at("d"), 4), row.ratios);

        const Lines piped(row.typed.begin(), row.typed.begin() + static_cast<long>(row.piped));
        const e2e::Outcome pipe = run(piped, e2e::Console::pipes);
        EXPECT_EQ(pipe.out.find("JESZCZE RAZ"), std::string::npos);
        EXPECT_EQ(pipe.out.find("PO KROPCE"), std::string::npos);
        if (row.piped_ratios.empty()) {
            EXPECT_EQ(pipe.status, 1);
            EXPECT_NE(pipe.err.find("READ(CON)"), std::string::npos) << e2e::visible(pipe.err);
        } else {
            EXPECT_EQ(pipe.status, 0) << e2e::visible(pipe.err);
            ASSERT_TRUE(pipe.files.count("d"));
            EXPECT_EQ(line_of(pipe.files.at("d"), 4), row.piped_ratios);
        }
    }
}

// Integer answers are not checked for commas (a comma separates them);
// a value that is no integer is asked again.
TEST(Terminal, IntegerAnswersAreCheckedForValuesOnly) {
    const struct {
        int line;
        std::string storeys;  // typed for the number of storeys
        bool refused;
    } rows[] = {
        {__LINE__, "1,5", false},
        {__LINE__, "1.5", true},
        {__LINE__, "99999999999", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        e2e::Run r;
        r.console = e2e::Console::terminal;
        r.input = "d\nw\nr\n1\n" + row.storeys + "\n" + (row.refused ? "1\n" : "") + "0\n1\n1\n1\n100\n0.02 0.02\n1\n0\n4 6 1\n1\n1\n\n";
        const e2e::Outcome o = e2e::run(r);
        EXPECT_EQ(o.status, 0) << e2e::visible(o.err);
        EXPECT_EQ(o.out.find(WRONG.substr(1)) != std::string::npos, row.refused) << e2e::visible(o.out);
        EXPECT_EQ(o.out.find("PO KROPCE"), std::string::npos);
        ASSERT_TRUE(o.files.count("d"));
        EXPECT_EQ(line_of(o.files.at("d"), 1), "    1    0    0");
    }
}

}  // namespace

namespace {

// A type code outside 0..3 is asked again at a terminal as with answers
// from a pipe; input that ends half-way leaves an earlier data file as it
// was in both.
TEST(Terminal, TypeCodesAskedAgainAndAnEndLeavesTheDataFile) {
    const std::string refused = "TYP MACIERZY MUSI BYC OD 0 DO 3";
    const std::string earlier = "    1    0    0\r\n  earlier\r\n";
    for (const e2e::Console console : {e2e::Console::terminal, e2e::Console::pipes}) {
        SCOPED_TRACE(console == e2e::Console::terminal ? "terminal" : "pipes");
        // 4 just past the last code, -1 just before the first: both as 7.
        std::string shown_for_7;
        for (const char* code : {"7", "4", "-1"}) {
            SCOPED_TRACE(code);
            e2e::Run r;
            r.console = console;
            r.files = {{"d", earlier}};
            r.input = std::string("d\nw\nr\n1\n1\n0\n") + code + "\n1\n1\n";  // a bad type for MR, then 1; the input ends at KR
            const e2e::Outcome o = e2e::run(r);
            EXPECT_EQ(o.status, 1);
            const std::size_t at = o.out.find(refused);
            ASSERT_NE(at, std::string::npos) << e2e::visible(o.out);
            EXPECT_NE(o.out.find("PODAJ TYP MACIERZY", at), std::string::npos) << "the type is asked again";
            EXPECT_NE(o.out.find("I=J= 1", at), std::string::npos) << "then its diagonal";
            EXPECT_EQ(o.files.at("d"), earlier);
            if (shown_for_7.empty()) shown_for_7 = o.out;
            else EXPECT_TRUE(e2e::same_bytes("console", shown_for_7, o.out));
        }
    }
}

}  // namespace
