// Statements on units: the records that output statements deliver to files
// and to the console, what input statements take from data files, and the
// rules of opening units by name.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "textio/io.h"
#include "textio/lines.h"
#include "textio/record_buffer.h"
#include "textio/runtime.h"
#include "textio/units.h"

namespace fs = std::filesystem;
using textio::In;
using textio::Out;

namespace {

// A fresh folder per test, made the working directory.
class TextIo : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/varnostik_textio_XXXXXX";
        dir_ = mkdtemp(tmpl);
        old_ = fs::current_path();
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(old_);
        fs::remove_all(dir_);
    }
    static std::string slurp(const std::string& name) {
        textio::flush_all_units();
        std::ifstream f(name, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    static void put(const std::string& name, const std::string& bytes) {
        std::ofstream f(name, std::ios::binary);
        f << bytes;
    }
    fs::path dir_, old_;
};

// What one output statement puts into a file.
std::string written(int unit, const char* fmt, std::initializer_list<Out> items) {
    static int serial = 0;
    std::string name = "out" + std::to_string(++serial);
    textio::open_unit(unit, name);
    textio::write_fmt(unit, fmt, items);
    textio::flush_all_units();
    std::ifstream f(name, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

TEST_F(TextIo, OutputStatementsDeliverTheirRecords) {
    struct Row {
        int line;
        const char* fmt;
        std::initializer_list<Out> items;
        std::string bytes;
    };
    const std::string e1 = " .100000E+01";
    const Row rows[] = {
        {__LINE__, "(2X,70('+'))", {}, "  " + std::string(70, '+') + "\r\n"},
        {__LINE__, "(5(2X,I3))", {5, 0, 40}, "    5    0   40\r\n"},
        {__LINE__, "(/)", {}, "\r\n\r\n"},
        {__LINE__, "(/,2X,'BRAK TLUMIKOW')", {}, "\r\n  BRAK TLUMIKOW\r\n"},
        {__LINE__, "(22X,'INFORMACJE O RAMIE',/)", {}, std::string(22, ' ') + "INFORMACJE O RAMIE\r\n\r\n"},
        {__LINE__, "(2X,'MACIERZ OSOBLIWA C=',E15.6,2X,'I=',I2)", {0.0, 7},
         "  MACIERZ OSOBLIWA C=    .000000E+00  I= 7\r\n"},
        // Literals before the next data descriptor are still written.
        {__LINE__, "(4(2X,E12.6,2X,'*'))", {1.0}, "  " + e1 + "  *\r\n"},
        {__LINE__, "(4(2X,E12.6,2X,'*'))", {1.0, 1.0, 1.0, 1.0, 1.0, 1.0},
         "  " + e1 + "  *  " + e1 + "  *  " + e1 + "  *  " + e1 + "  *\r\n  " + e1 + "  *  " + e1 + "  *\r\n"},
        {__LINE__, "(10(2X,E12.6))", {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0},
         [] {
             std::string r;
             for (int k = 0; k < 10; ++k) r += "   .100000E+01";
             return r + "\r\n   .100000E+01\r\n";
         }()},
        // Pending blanks of nX are dropped at the end of a record.
        {__LINE__, "(2X,E12.6,2X,3(3(2X,E12.6),2X,I3))", {1.0, 1.0, 1.0, 1.0, 2},
         "  " + e1 + "    " + e1 + "  " + e1 + "  " + e1 + "    2\r\n"},
        {__LINE__, "(2X,I3,5X)", {7}, "    7\r\n"},
        // A statement stops at the first data descriptor with no item left.
        {__LINE__, "(2X,'A=',I3,2X,'B=',I3)", {7}, "  A=  7  B=\r\n"},
        {__LINE__, "(2X,'A=',I3,2X,'B=',I3)", {}, "  A=\r\n"},
        // Reversion to the last top-level group, repeated by its count.
        {__LINE__, "(1X,I1,2(1X,I1))", {1, 2, 3, 4, 5}, " 1 2 3\r\n 4 5\r\n"},
        {__LINE__, "(1X,I1,(1X,I1))", {1, 2, 3}, " 1 2\r\n 3\r\n"},
        {__LINE__, "(I1)", {1, 2}, "1\r\n2\r\n"},
        {__LINE__, "(I3,I2)", {1000, -10}, "*****\r\n"},
        {__LINE__, "(\"IT\"\"S\",'O''K')", {}, "IT\"SO'K\r\n"},
        // A record longer than the file buffer, between two short ones.
        {__LINE__, "('A',/,1100('x'),/,'B')", {}, "A\r\n" + std::string(1100, 'x') + "\r\nB\r\n"},
    };
    int unit = 10;
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "line " << r.line << ": " << r.fmt);
        EXPECT_EQ(written(++unit, r.fmt, r.items), r.bytes);
    }
}

TEST(ConsoleDelivery, CarriageControlAndPendingLineEnd) {
    struct Row {
        int line;
        bool pending;
        std::string record;
        std::string bytes;
    };
    const Row rows[] = {
        {__LINE__, false, " ABC", "ABC"},
        {__LINE__, true, " ABC", "\r\nABC"},
        {__LINE__, false, "", ""},
        {__LINE__, true, "", "\r\n"},
        {__LINE__, false, "+X", "\rX"},
        {__LINE__, true, "+X", "\rX"},
        {__LINE__, false, "0X", "\r\nX"},
        {__LINE__, true, "0X", "\r\n\r\nX"},
        {__LINE__, false, "1X", std::string("\r\n\f\r \rX", 7)},
        {__LINE__, true, "1X", std::string("\r\n\f\r \rX", 7)},
        {__LINE__, true, "AXY", "\r\nXY"},
        {__LINE__, true, std::string(200, '*'), "\r\n" + std::string(199, '*')},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "line " << r.line);
        bool pending = r.pending;
        std::string out;
        textio::console_delivery(r.record, pending, out);
        EXPECT_EQ(out, r.bytes);
        EXPECT_TRUE(pending);
    }
}

TEST_F(TextIo, RowRecordsReadBackWhatTheyWrote) {
    textio::open_unit(40, "rows");
    double v[23];
    Out items[23];
    for (int k = 0; k < 23; ++k) {
        v[k] = (k - 11) * 1.25e-3 + (k % 3) * 1.0e5;
        items[k] = v[k];
    }
    textio::write_fmt(40, "(10(2X,E12.6))", items, 23);
    textio::flush_all_units();
    textio::open_unit(41, "rows2");  // a second file, to show the first is read independently
    textio::open_unit(40, "rows");
    double back[23] = {};
    In in[23];
    for (int k = 0; k < 23; ++k) in[k] = In(back[k]);
    textio::read_fmt(40, "(10(2X,E12.6))", in, 23);
    for (int k = 0; k < 23; ++k) {
        SCOPED_TRACE(k);
        char shown[32];
        std::snprintf(shown, sizeof shown, "%.5e", v[k]);
        EXPECT_DOUBLE_EQ(back[k], std::strtod(shown, nullptr));
    }
}

TEST_F(TextIo, FormattedInputRules) {
    put("data",
        "  .123456E+01   .2E+01\r\n"   // a short line: the rest of the statement's fields read 0
        "    1234567,7\n"              // implied point; a comma ends a field
        "   .100000+100  -.100000-100\r"  // three-digit exponents, a lone CR ends the line
        "WYNIKI.TXT and more\n"
        "\n"
        "last line without end");
    textio::open_unit(50, "data");
    double a[4] = {9, 9, 9, 9};
    textio::read_fmt(50, "(10(2X,E12.6))", {a[0], a[1], a[2], a[3]});
    EXPECT_EQ(a[0], 1.23456);
    EXPECT_EQ(a[1], 2.0);
    EXPECT_EQ(a[2], 0.0);
    EXPECT_EQ(a[3], 0.0);
    double b[2] = {};
    textio::read_fmt(50, "(E12.6,E12.6)", {b[0], b[1]});
    EXPECT_EQ(b[0], 1.234567);
    EXPECT_EQ(b[1], 0.000007);
    double c[2] = {};
    textio::read_fmt(50, "(2(2X,E12.6))", {c[0], c[1]});
    EXPECT_EQ(c[0], 1e99);
    EXPECT_EQ(c[1], -1e-101);
    char name[40];
    textio::read_fmt(50, "(A8)", {In(name, 40)});
    EXPECT_EQ(std::string(name, 40), "WYNIKI.T" + std::string(32, ' '));
    textio::read_fmt(50, "(A8)", {In(name, 40)});
    EXPECT_EQ(std::string(name, 40), std::string(40, ' '));
    char wide[4];
    textio::read_fmt(50, "(A6)", {In(wide, 4)});  // a field wider than the variable keeps its right part
    EXPECT_EQ(std::string(wide, 4), "st l");
    EXPECT_EXIT(textio::read_fmt(50, "(A8)", {In(name, 40)}), testing::ExitedWithCode(1),
                "run-time error F[0-9]{4}: READ\\(data\\)");
}

TEST_F(TextIo, FreeFormInputAcrossLines) {
    put("free", "  , 7\n1,\n, 3\n\n 2*5 / 9\n16#ff -2 1.5D1\n");
    textio::open_unit(51, "free");
    int32_t i1 = 11, i2 = 12;
    textio::read_free(51, {i1, i2});
    EXPECT_EQ(i1, 11);  // a leading comma is a null value
    EXPECT_EQ(i2, 7);
    int32_t j1 = 0, j2 = 22, j3 = 0;
    textio::read_free(51, {j1, j2, j3});  // "1," then ", 3": a null across the line end
    EXPECT_EQ(j1, 1);
    EXPECT_EQ(j2, 22);
    EXPECT_EQ(j3, 3);
    double r[3] = {0, 0, 33};
    textio::read_free(51, {r[0], r[1], r[2]});  // the empty line is skipped; the slash ends the read
    EXPECT_EQ(r[0], 5.0);
    EXPECT_EQ(r[1], 5.0);
    EXPECT_EQ(r[2], 33.0);
    int32_t h = 0, m = 0;
    double x = 0;
    textio::read_free(51, {h, m, x});
    EXPECT_EQ(h, 255);
    EXPECT_EQ(m, -2);
    EXPECT_EQ(x, 15.0);
    EXPECT_EXIT(textio::read_free(51, {h}), testing::ExitedWithCode(1),
                "\r\nrun-time error F[0-9]{4}: READ\\(free\\)\r\n- .*\r\n");
}

// One free-form statement over the lines of a data file, items of the
// kinds given ('i' integer, 'r' real), all holding kUnset before the read.
constexpr double kUnset = -99.0;

std::vector<double> free_statement(const std::string& name, const std::vector<std::string>& lines,
                                   std::string_view kinds) {
    std::string bytes;
    for (const std::string& l : lines) bytes += l + "\n";
    std::ofstream(name, std::ios::binary) << bytes;
    textio::open_unit(9, name);
    std::vector<int32_t> ints(kinds.size(), static_cast<int32_t>(kUnset));
    std::vector<double> reals(kinds.size(), kUnset);
    std::vector<In> items;
    for (std::size_t k = 0; k < kinds.size(); ++k)
        items.push_back(kinds[k] == 'i' ? In(ints[k]) : In(reals[k]));
    textio::read_free(9, items.data(), items.size());
    std::vector<double> values;
    for (std::size_t k = 0; k < kinds.size(); ++k) values.push_back(kinds[k] == 'i' ? ints[k] : reals[k]);
    return values;
}

TEST_F(TextIo, FreeFormStatements) {
    struct Row {
        int line;
        std::vector<std::string> lines;
        std::string_view kinds;
        std::vector<double> values;
    };
    const Row rows[] = {
        // Values beyond those needed are left on the line.
        {__LINE__, {"2 3"}, "i", {2}},
        {__LINE__, {"1,5"}, "r", {1.0}},
        {__LINE__, {"1 , 2"}, "ii", {1, 2}},
        // An empty line is skipped: the read goes on to the next one.
        {__LINE__, {"", "   ", "4"}, "i", {4}},
        {__LINE__, {"1", "", "2.5 3"}, "irr", {1, 2.5, 3}},
        {__LINE__, {",  7"}, "ii", {kUnset, 7}},
        {__LINE__, {"3*0"}, "rrr", {0, 0, 0}},
        {__LINE__, {"1 / 9"}, "iii", {1, kUnset, kUnset}},
        {__LINE__, {"2*", "5"}, "iii", {kUnset, kUnset, 5}},
        {__LINE__, {"2*7 /"}, "iri", {7, 7, kUnset}},
        {__LINE__, {"1,", ",3"}, "iii", {1, kUnset, 3}},
        {__LINE__, {"1", ",3"}, "ii", {1, 3}},
        {__LINE__, {"5*1.5"}, "rr", {1.5, 1.5}},
        {__LINE__, {"16#FF -2#101 1.5+2"}, "iir", {255, -5, 150}},
        {__LINE__, {"5"}, "r", {5.0}},
        {__LINE__, {"1e-400,-2147483648"}, "ri", {0.0, -2147483648.0}},
    };
    int serial = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "line " << row.line);
        EXPECT_EQ(free_statement("stmt" + std::to_string(++serial), row.lines, row.kinds), row.values);
    }
}

TEST_F(TextIo, FreeFormStatementErrors) {
    struct Row {
        int line;
        std::vector<std::string> lines;
        std::string_view kinds;
        const char* message;
    };
    const Row rows[] = {
        {__LINE__, {"2.5"}, "i", "invalid integer '2.5'"},
        {__LINE__, {"1e5"}, "i", "invalid integer '1e5'"},
        {__LINE__, {"2147483648"}, "i", "integer out of range"},
        {__LINE__, {"37#1"}, "i", "invalid integer"},
        {__LINE__, {"1e400"}, "r", "real number out of range"},
        {__LINE__, {"-"}, "r", "invalid real number"},
        {__LINE__, {"0*1"}, "r", "repeat count of zero"},
        {__LINE__, {"(1.0,2.0)"}, "r", "pair of values"},
        {__LINE__, {"1", "2*2.5"}, "ii", "invalid integer '2.5' in line 2"},
        {__LINE__, {"1"}, "rr", "end of file after line 1"},
    };
    int serial = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "line " << row.line);
        std::string name = "err" + std::to_string(++serial);
        EXPECT_EXIT(free_statement(name, row.lines, row.kinds), testing::ExitedWithCode(1),
                    "\r\nrun-time error F[0-9]{4}: READ\\(" + name + "\\)\r\n- " + row.message);
    }
}

TEST_F(TextIo, FreeFormErrorsEndTheRunWithTheReport) {
    const char* bad[] = {"2.5", "abc", "0*1", "'text'", "(1,2)", "2147483648"};
    int unit = 52;
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        std::string name = "bad" + std::to_string(unit);
        put(name, std::string(text) + "\n");
        textio::open_unit(unit, name);
        int32_t v = 0;
        EXPECT_EXIT(textio::read_free(unit, {v}), testing::ExitedWithCode(1),
                    "run-time error F[0-9]{4}: READ\\(" + name + "\\)\r\n- .* in line 1(; [^\r\n]*)?\r\n");
        ++unit;
    }
}

TEST_F(TextIo, LongDataLineIsAnErrorNotACut) {
    put("long", std::string(1024, '1') + "\n" + std::string(1025, '2') + "\n");
    textio::open_unit(58, "long");
    char s[40];
    textio::read_fmt(58, "(A8)", {In(s, 40)});
    EXPECT_EQ(std::string(s, 8), "11111111");
    EXPECT_EXIT(textio::read_fmt(58, "(A8)", {In(s, 40)}), testing::ExitedWithCode(1),
                "READ\\(long\\)\r\n- line 2 longer than 1024 characters");
}

TEST_F(TextIo, OpenKeepsAFileUntilTheFirstWriteThenReplacesIt) {
    put("keep", "old content\r\n");
    textio::open_unit(60, "  keep  ");
    EXPECT_EQ(slurp("keep"), "old content\r\n");
    EXPECT_EQ(textio::unit_name(60), "keep");
    textio::write_fmt(60, "('NEW')");
    EXPECT_EQ(slurp("keep"), "NEW\r\n");
    textio::open_unit(61, "created");
    EXPECT_TRUE(fs::exists("created"));
    EXPECT_EQ(fs::file_size("created"), 0u);
}

TEST_F(TextIo, OpenRefusesTheSameFileTwiceAndUnavailableDevices) {
    textio::open_unit(1, "same");
    fs::create_symlink("same", "alias");
    EXPECT_EXIT(textio::open_unit(2, "alias"), testing::ExitedWithCode(1),
                "\r\nrun-time error F[0-9]{4}: OPEN\\(alias\\)\r\n- ");
    const char* devices[] = {"PRN", "com1", "Com4.txt", "LPT2", "aux", "LINE"};
    for (const char* d : devices) {
        SCOPED_TRACE(d);
        EXPECT_EXIT(textio::open_unit(3, std::string("  ") + d), testing::ExitedWithCode(1),
                    std::string("OPEN\\(") + d + "\\)\r\n- device .* not available");
    }
    fs::create_directory("folder");
    EXPECT_EXIT(textio::open_unit(3, "folder"), testing::ExitedWithCode(1), "OPEN\\(folder\\)");
}

TEST_F(TextIo, DeviceNamesWithExtensions) {
    // LINE, USER and ERR are devices only without an extension.
    textio::open_unit(3, "line.dat");
    textio::write_fmt(3, "('X')");
    EXPECT_EQ(slurp("line.dat"), "X\r\n");
    textio::open_unit(4, "user.x");
    textio::write_fmt(4, "('Y')");
    EXPECT_EQ(slurp("user.x"), "Y\r\n");
    textio::open_unit(5, "nul.txt");  // the null device: nothing written, reading is end of file
    textio::write_fmt(5, "('Z')");
    EXPECT_FALSE(fs::exists("nul.txt"));
    int32_t v = 0;
    EXPECT_EXIT(textio::read_free(5, {v}), testing::ExitedWithCode(1), "READ\\(nul.txt\\)");
}

TEST_F(TextIo, StatementErrorsAreReported) {
    textio::open_unit(6, "errs");
    EXPECT_EXIT(textio::write_fmt(6, "(E12.6)", {Out(int32_t{1})}), testing::ExitedWithCode(1),
                "WRITE\\(errs\\)\r\n- item of the wrong kind");
    EXPECT_EXIT(textio::write_fmt(6, "(2X,Q5)", {}), testing::ExitedWithCode(1), "WRITE\\(errs\\)");
    EXPECT_EXIT(textio::write_fmt(6, "(2X,'A')", {Out(1.0)}), testing::ExitedWithCode(1),
                "WRITE\\(errs\\)\r\n- format has no edit descriptor");
    EXPECT_EQ(slurp("errs"), "");  // refused before any record of it
}

// When a file's records reach the disk: each time 1024 characters of them
// would not fit the buffer, or while they are gathered (the sweep) each
// time 64 KB would not; a flush, which every end of the run makes, writes
// the rest, all in their order.
TEST_F(TextIo, RecordsReachTheFileByBufferOrGatheredBlock) {
    struct Row {
        int line;
        bool gathered;
        int plain;                // records of 72 characters (74 with CR LF)
        bool long_record;         // then one of 1100, longer than the buffer
        std::uintmax_t on_disk;   // before the flush
    };
    const Row rows[] = {
        {__LINE__, false, 13, false, 0},       // 962 characters fit
        {__LINE__, false, 14, false, 962},     // the 14th does not: the 13 go
        {__LINE__, true, 14, false, 0},
        {__LINE__, true, 885, false, 0},       // 65 490 characters fit 64 KB
        {__LINE__, true, 886, false, 65490},
        {__LINE__, true, 3, true, 3 * 74 + 1102},   // the long one goes at once, after those gathered
        {__LINE__, false, 3, true, 3 * 74 + 1102},
    };
    int unit = 20;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        const std::string name = "gathered" + std::to_string(unit);
        textio::open_unit(unit, name);
        std::string expected;
        {
            std::optional<textio::GatheredRecords> gathered;
            if (r.gathered) gathered.emplace();
            for (int k = 0; k < r.plain; ++k) {
                textio::write_fmt(unit, "(2X,70('+'))");
                expected += "  " + std::string(70, '+') + "\r\n";
            }
            if (r.long_record) {
                textio::write_fmt(unit, "(1100('L'))");
                expected += std::string(1100, 'L') + "\r\n";
            }
            EXPECT_EQ(fs::file_size(name), r.on_disk);
        }
        EXPECT_EQ(slurp(name), expected);
        ++unit;
    }
}

// The files of this process can grow to at most bytes: a write beyond
// fails (EFBIG), as on a full disk.  Called in a death test's child only,
// with room left for the report (its standard error is a file too).
void limit_file_size(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
}

TEST_F(TextIo, WriteFailureIsReportedNeverSilent) {
    textio::open_unit(7, "full");
    EXPECT_EXIT(
        {
            limit_file_size(4000);
            for (int k = 0; k < 200; ++k) textio::write_fmt(7, "(2X,70('+'))");
        },
        testing::ExitedWithCode(1), "run-time error F[0-9]{4}: WRITE\\(full\\)");
    // A record still in the buffer when the run ends is reported too.
    for (int k = 0; k < 30; ++k) textio::write_fmt(7, "(2X,70('+'))");
    textio::flush_all_units();
    const auto full = static_cast<rlim_t>(fs::file_size("full"));
    textio::write_fmt(7, "('X')");
    EXPECT_EXIT(
        {
            limit_file_size(full);
            textio::stop_run();
        },
        testing::ExitedWithCode(1), "WRITE\\(full\\)");
}

// Where a line of the bytes read ahead ends: LF, CR LF or a lone CR; a CR
// that ends what is read waits for its LF on a file, not on the console.
TEST(LineSplitter, CutsAtEveryKindOfLineEnd) {
    using textio::LineCut;
    const struct {
        int line;
        std::string_view bytes;
        bool at_end, cr_waits;
        LineCut::Kind kind;
        std::size_t length, next;
    } rows[] = {
        {__LINE__, "ab\ncd", false, true, LineCut::line, 2, 3},
        {__LINE__, "ab\r\ncd", false, true, LineCut::line, 2, 4},
        {__LINE__, "ab\rcd", false, true, LineCut::line, 2, 3},
        {__LINE__, "ab\r", false, true, LineCut::more, 2, 0},
        {__LINE__, "ab\r", true, true, LineCut::line, 2, 3},
        {__LINE__, "ab\r", false, false, LineCut::line, 2, 3},
        {__LINE__, "ab\r\n", false, false, LineCut::line, 2, 4},
        {__LINE__, "\n\n", false, true, LineCut::line, 0, 1},
        {__LINE__, "\r\n\r\n", false, true, LineCut::line, 0, 2},
        {__LINE__, "\n\r", false, true, LineCut::line, 0, 1},
        {__LINE__, "abc", false, true, LineCut::more, 3, 0},
        {__LINE__, "abc", true, true, LineCut::line, 3, 3},
        {__LINE__, "", false, false, LineCut::more, 0, 0},
        {__LINE__, "", true, true, LineCut::none, 0, 0},
        {__LINE__, "a\tb \x1a\n", true, false, LineCut::line, 5, 6},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        const LineCut cut = textio::cut_line(row.bytes, row.at_end, row.cr_waits);
        EXPECT_EQ(cut.kind, row.kind);
        EXPECT_EQ(cut.length, row.length);
        if (row.kind == LineCut::line) {
            EXPECT_EQ(cut.next, row.next);
        }
    }
}

}  // namespace
