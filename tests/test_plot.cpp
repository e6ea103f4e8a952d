// The drawing companion: reading the files the program really writes (the
// two examples run by the program itself), cut and altered files, the
// curves of a small case worked by hand, the command line as a child
// process, and where gnuplot draws the curve in the picture.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <cerrno>
#include <chrono>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_run.h"
#include "plot/curves.h"
#include "plot/decimate.h"
#include "plot/gnuplot.h"
#include "plot/interrupt.h"
#include "plot/script.h"
#include "plot/recorded.h"

namespace {

using plot::Sweep;
using Files = std::map<std::string, std::string>;

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// The results file (NAMEw) and plot file (NAMEr) of a bundled example, as
// the program writes them from the example's data file.
struct Example {
    std::string results, plot;
};

const Example& example(const std::string& name) {
    static std::map<std::string, Example> made;
    auto it = made.find(name);
    if (it != made.end()) return it->second;
    e2e::Run r;
    r.files[name] = slurp(std::string(VARNOSTIK_EXAMPLES) + "/" + name);
    r.input = slurp(std::string(VARNOSTIK_EXAMPLES) + "/" + name + ".in");
    e2e::Outcome o = e2e::run(r);
    EXPECT_EQ(o.status, 0) << o.err;
    return made[name] = {o.files[name + "w"], o.files[name + "r"]};
}

Sweep read_ok(const std::string& name, const std::string& text) {
    plot::SweepRead r = plot::read_sweep(name, text);
    EXPECT_EQ(r.error, "");
    return r.sweep;
}

long line_of(const std::string& text, std::size_t pos) {
    return 1 + static_cast<long>(std::count(text.begin(), text.begin() + static_cast<long>(pos), '\n'));
}

const std::string LEGEND =
    "  1 KOLUMNA - CZESTOSC WYMUSZENIA\r\n  2 KOLUMNA - AMPLITUDA DRGAN\r\n  3 KOLUMNA - AMPLITUDA COS\r\n"
    "  4 KOLUMNA - AMPLITUDA SIN\r\n  5 KOLUMNA - NR PRZEMIESZCZENIA\r\n  6 KOLUMNA - ZNOWU AMPLITUDA DRGAN ITD\r\n";

// A plot row: the frequency field, then per unknown three E12.6 fields and
// its number in I3, as the layout of the plot file places them.
struct Group {
    const char *amp, *ac, *as;
    int unknown;
};
std::string row(const char* lambda, std::initializer_list<Group> groups) {
    std::string s = std::string("  ") + lambda + "  ";
    for (const Group& g : groups) {
        char n[8];
        std::snprintf(n, sizeof n, "%3d", g.unknown);
        s += std::string("  ") + g.amp + "  " + g.ac + "  " + g.as + "  " + n;
    }
    return s + "\r\n";
}

// ------------------------------------------------------------------ reading

TEST(PlotRead, BothExamplesAsTheProgramWritesThem) {
    // Natural frequencies worked out apart from the program: the shear
    // frame's 0.4450, 1.2470, 1.8019 times sqrt(k/m) = 20; the foundation's
    // vertical sqrt(800000/200) and the roots of the sliding-rocking pair,
    // w^4 - 6500 w^2 + 8.125e6 = 0.
    struct Case {
        std::string name;
        std::vector<int32_t> plotted;
        double from, to, step;
        std::vector<double> omega;
    } cases[] = {
        {"rama3", {3, 1}, 4, 14, 0.1, {8.90, 24.94, 36.04}},
        {"fund", {1, 3}, 10, 100, 1, {41.09, 63.25, 69.36}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Example& ex = example(c.name);
        const Sweep p = read_ok("r", ex.plot), w = read_ok("w", ex.results);
        EXPECT_EQ(p.kind, plot::Kind::plot_file);
        EXPECT_EQ(w.kind, plot::Kind::results_file);
        EXPECT_TRUE(p.warnings.empty() && w.warnings.empty());

        ASSERT_EQ(w.omega.size(), c.omega.size());
        for (std::size_t i = 0; i < c.omega.size(); ++i) EXPECT_NEAR(w.omega[i], c.omega[i], 0.01);
        ASSERT_EQ(w.curves.size(), c.omega.size());  // every storey

        // The sweep as asked for, one step after another.
        ASSERT_GE(p.lambda.size(), 2u);
        EXPECT_DOUBLE_EQ(p.lambda.front(), c.from);
        EXPECT_GE(p.lambda.back(), c.to);
        for (std::size_t i = 1; i < p.lambda.size(); ++i) EXPECT_NEAR(p.lambda[i] - p.lambda[i - 1], c.step, 1e-5);

        // Both files advance together: each plotted curve is the results
        // file's curve of that storey, value for value.
        EXPECT_EQ(w.lambda, p.lambda);
        ASSERT_EQ(p.curves.size(), c.plotted.size());
        for (std::size_t k = 0; k < c.plotted.size(); ++k) {
            const plot::Curve& a = p.curves[k];
            const plot::Curve& b = w.curves[static_cast<std::size_t>(c.plotted[k] - 1)];
            EXPECT_EQ(a.unknown, c.plotted[k]);
            EXPECT_EQ(a.amp, b.amp);
            EXPECT_EQ(a.ac, b.ac);
            EXPECT_EQ(a.as, b.as);
            for (std::size_t i = 0; i < a.amp.size(); ++i)
                EXPECT_NEAR(std::hypot(a.ac[i], a.as[i]), a.amp[i], 1e-5 * a.amp[i]);
        }
    }
}

TEST(PlotRead, ResultsFileCutInsideTheSweepGivesItsWholeSteps) {
    const std::string full = example("rama3").results;
    const Sweep whole = read_ok("w", full);
    std::vector<std::size_t> headers;
    for (std::size_t p = full.find("WYNIKI OBLICZEN"); p != std::string::npos; p = full.find("WYNIKI OBLICZEN", p + 1))
        headers.push_back(p);
    ASSERT_GT(headers.size(), 20u);
    const std::size_t h = headers[10];  // the header of step 11
    const std::size_t after_header = full.find('\n', h) + 1;
    const std::size_t closing = full.find("                      KONIEC");
    struct Case {
        int line;
        std::string text;
        std::size_t steps;
    } cases[] = {
        {__LINE__, full.substr(0, after_header + 40), 10},  // inside the first value line
        {__LINE__, full.substr(0, full.find("AMPLITUDY PRZY SIN", h) + 5), 10},
        // A singular matrix: the step's header, then the solver's report.
        {__LINE__, full.substr(0, after_header) + "  MACIERZ OSOBLIWA C= .000000E+00 I= 1\r\n", 10},
        {__LINE__, full.substr(0, closing), whole.lambda.size()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const Sweep s = read_ok("w", c.text);
        ASSERT_EQ(s.lambda.size(), c.steps);
        EXPECT_EQ(s.warnings.size(), 1 + (c.text.back() != '\n' ? 1u : 0u));
        for (std::size_t k = 0; k < s.curves.size(); ++k)
            EXPECT_TRUE(std::equal(s.curves[k].amp.begin(), s.curves[k].amp.end(), whole.curves[k].amp.begin()));
    }
    EXPECT_TRUE(whole.warnings.empty());
}

TEST(PlotRead, MalformedFilesNameTheFileLineAndText) {
    const Example& ex = example("rama3");
    struct Case {
        int line;
        bool results;     // alter the results file, else the plot file
        std::string was, now;  // the first occurrence of was is replaced
        std::string says;      // what the message says after "NAME:LINE: "
    } cases[] = {
        {__LINE__, false, ".964863E-02", ".96x863E-02", "invalid real number \".96x863E-02\""},
        {__LINE__, false, " .979318E-02", "            ", "blank field at column 19"},
        {__LINE__, false, "    3   .346585E-02", "    2   .346585E-02", "unknown 2 where the rows before hold unknown 3"},
        {__LINE__, false, ".998982E-04    1\r\n", ".998982E-04\r\n", "expected a plot row of 2 unknowns"},
        {__LINE__, true, ".655892E-02", ".655892E-0x", "invalid real number \".655892E-0x\""},
        {__LINE__, true, ".666679E-02", ".666679+999", "number out of range \".666679+999\""},
        {__LINE__, true, "  WYNIKI OBLICZEN LAMBDA= .420000E+01", "  WYNIKI OBLICZEN LAMBDA= .42000OE+01",
         "invalid real number"},
        {__LINE__, true, "  " + std::string(70, '+') + "\r\n  WYNIKI OBLICZEN LAMBDA= .420000E+01",
         "   .123456E+01\r\n  WYNIKI OBLICZEN LAMBDA= .420000E+01", "expected a step of the sweep"},
        // A step that is not whole where more steps follow is no cut-off run.
        {__LINE__, true, "  WYNIKI OBLICZEN LAMBDA= .420000E+01\r\n            AMPLITUDY DRGAN",
         "  WYNIKI OBLICZEN LAMBDA= .420000E+01\r\n            AMPLITUDY", "is not whole, yet more steps follow"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::string text = c.results ? ex.results : ex.plot;
        const std::size_t at = text.find(c.was);
        ASSERT_NE(at, std::string::npos);
        text.replace(at, c.was.size(), c.now);
        const plot::SweepRead r = plot::read_sweep("f", text);
        const std::string where = "f:" + std::to_string(line_of(text, at)) + ": ";
        EXPECT_EQ(r.error.substr(0, where.size()), where) << r.error;
        EXPECT_NE(r.error.find(c.says), std::string::npos) << r.error;
    }
    EXPECT_NE(plot::read_sweep("f", "abc\r\n").error.find("f: neither a plot file"), std::string::npos);
}

TEST(PlotRead, PlotFilesOfOneAndThreeUnknowns) {
    const Group u2{" .100000E+01", " .600000E+00", " .800000E+00", 2};
    const Group a{" .500000E+00", " .300000E+00", "-.400000E+00", 3}, b{" .250000E+00", "-.150000E+00", " .200000E+00", 1};
    const Sweep one = read_ok("p", row(" .400000E+01", {u2}) + row(" .410000E+01", {u2}) + LEGEND);
    ASSERT_EQ(one.curves.size(), 1u);
    EXPECT_EQ(one.lambda, (std::vector<double>{4.0, 4.1}));
    EXPECT_EQ(one.curves[0].unknown, 2);
    EXPECT_EQ(one.curves[0].as, (std::vector<double>{0.8, 0.8}));

    // Unknowns 3, 1, 3: the third group repeats the first; a picture shows
    // each unknown once.
    const std::string three = row(" .400000E+01", {a, b, a});
    EXPECT_EQ(three.size(), 157u + 2);
    const Sweep s = read_ok("p", three + LEGEND);
    ASSERT_EQ(s.curves.size(), 3u);
    EXPECT_EQ(s.curves[1].unknown, 1);
    EXPECT_EQ(s.curves[1].ac, std::vector<double>{-0.15});
    EXPECT_EQ(s.curves[2].as, std::vector<double>{-0.4});
    const plot::CurvesMade m = plot::make_curves(s, {});
    ASSERT_EQ(m.curves.series.size(), 2u);
    EXPECT_EQ(m.curves.series[1].unknown, 1);
    EXPECT_NE(plot::make_curves(s, {plot::Quantity::displacement, false, {2}}).error.find("unknown 2 is not"),
              std::string::npos);

    // A run stopped inside the sweep leaves its rows without the legend.
    EXPECT_EQ(read_ok("p", three).warnings.size(), 1u);
}

// ------------------------------------------------------------------- curves

std::vector<std::vector<double>> parse_csv(const std::string& csv, std::string& header) {
    std::vector<std::vector<double>> rows;
    std::istringstream in(csv);
    std::getline(in, header);
    for (std::string line; std::getline(in, line);) {
        rows.emplace_back();
        for (std::size_t p = 0; p <= line.size();) {
            const std::size_t e = std::min(line.find(',', p), line.size());
            double v = NAN;
            std::from_chars(line.data() + p, line.data() + e, v);
            rows.back().push_back(v);
            p = e + 1;
        }
    }
    return rows;
}

TEST(PlotCurves, CsvOfASmallCaseWorkedByHand) {
    // One unknown, AC and AS in every quadrant.  x = AC cos + AS sin = AMP
    // cos(lambda t - phi): phi = atan2(AS, AC); the velocity leads by 90
    // degrees and is lambda times larger, the acceleration by 180 and
    // lambda^2.  atan(4/3) = 53.130102354156 degrees.
    const std::string text = row(" .100000E+01", {{" .141421E+01", "-.100000E+01", " .100000E+01", 2}}) +
                             row(" .200000E+01", {{" .500000E+01", " .300000E+01", " .400000E+01", 2}}) +
                             row(" .300000E+01", {{" .141421E+01", "-.100000E+01", "-.100000E+01", 2}}) +
                             row(" .400000E+01", {{" .141421E+01", " .100000E+01", "-.100000E+01", 2}}) +
                             row(" .500000E+01", {{" .100000E+01", "-.100000E+01", " .000000E+00", 2}}) + LEGEND;
    const double r2 = 1.41421, t = 53.130102354156;
    struct Case {
        plot::Quantity q;
        bool hz;
        std::string header;
        std::vector<std::vector<double>> rows;  // x, amplitude, phase
    } cases[] = {
        {plot::Quantity::displacement, false, "lambda,amplitude_2,phase_2",
         {{1, r2, 135}, {2, 5, t}, {3, r2, -135}, {4, r2, -45}, {5, 1, 180}}},
        {plot::Quantity::velocity, false, "lambda,amplitude_2,phase_2",
         {{1, r2, 45}, {2, 10, t - 90}, {3, 3 * r2, 135}, {4, 4 * r2, -135}, {5, 5, 90}}},
        {plot::Quantity::acceleration, true, "f_hz,amplitude_2,phase_2",
         {{0.159154943091895, r2, -45},
          {0.318309886183791, 20, t - 180},
          {0.477464829275686, 9 * r2, 45},
          {0.636619772367581, 16 * r2, 135},
          {0.795774715459477, 25, 0}}},
    };
    const Sweep s = read_ok("p", text);
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.q));
        const std::string csv = plot::make_curves(s, {c.q, c.hz, {}}).csv;
        std::string header;
        const auto rows = parse_csv(csv, header);
        EXPECT_EQ(header, c.header);
        ASSERT_EQ(rows.size(), c.rows.size()) << csv;
        for (std::size_t i = 0; i < rows.size(); ++i)
            for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(rows[i][k], c.rows[i][k], 1e-12 * (1 + std::fabs(c.rows[i][k])));
    }
    // The shortest text that reads back: no padding, no "-0".
    const std::string csv = plot::make_curves(s, {plot::Quantity::acceleration, false, {}}).csv;
    EXPECT_NE(csv.find("\n5,25,0\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\n2,20,"), std::string::npos) << csv;
}

TEST(PlotCurves, PhaseIsUnwrappedAlongTheSweep) {
    const std::vector<double> wrapped = {170, -175, -150, 175, 0};
    EXPECT_EQ(plot::unwrap_degrees(wrapped), (std::vector<double>{170, 185, 210, 175, 0}));
    EXPECT_EQ(plot::wrap_degrees(-180), 180);
    EXPECT_EQ(plot::wrap_degrees(-270), 90);
    EXPECT_FALSE(std::signbit(plot::wrap_degrees(-360)));
}

// ------------------------------------------------------------ command line

e2e::Outcome plot_run(std::vector<std::string> args, const Files& files, const std::string& path = "") {
    e2e::Run r;
    r.program = VARNOSTIK_PLOT_BIN;
    r.args = std::move(args);
    r.files = files;
    if (!path.empty()) r.env["PATH"] = path;
    return e2e::run(r);
}

// A temporary folder, removed with everything in it at the end of the test.
struct TempFolder {
    std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/vplot_XXXXXX";
    TempFolder() {
        if (!mkdtemp(path.data())) path.clear();
    }
    ~TempFolder() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
};

// Puts a stand-in gnuplot into the folder that writes half of the picture
// named in its script and then fails; the PATH that finds it.
std::string failing_gnuplot(const TempFolder& dir) {
    std::ofstream(dir.path + "/gnuplot") << "#!/bin/sh\nout=$(sed -n \"s/^set output '\\(.*\\)'$/\\1/p\")\n"
                                            "printf '<svg' > \"$out\"\necho \"line 9: boom\" >&2\nexit 1\n";
    chmod((dir.path + "/gnuplot").c_str(), 0755);
    return dir.path + ":/usr/bin:/bin";
}

// Puts a stand-in gnuplot into the folder that reads its script and ends
// well without drawing anything; the PATH that finds it.
std::string silent_gnuplot(const TempFolder& dir) {
    std::ofstream(dir.path + "/gnuplot") << "#!/bin/sh\nwhile read -r line; do :; done\nexit 0\n";
    chmod((dir.path + "/gnuplot").c_str(), 0755);
    return dir.path + ":/usr/bin:/bin";
}

TEST(PlotCommand, RefusalsAndFailuresLeaveNothingBehind) {
    const Example& ex = example("rama3");
    const Files files = {{"rama3r", ex.plot}, {"rama3w", ex.results}, {"junk", "abc\r\n"}};
    const TempFolder fake, silent;
    struct Case {
        int line;
        std::vector<std::string> args;
        std::string path;  // PATH of the run; empty: the test's own
        int status;
        std::string says;
    } cases[] = {
        {__LINE__, {"--frobnicate", "rama3r"}, "", 2, "unknown option --frobnicate"},
        {__LINE__, {}, "", 2, "no FILE given"},
        {__LINE__, {"rama3r", "-o", "x.jpg"}, "", 2, ".svg, .png or .pdf"},
        {__LINE__, {"--quantity", "speed", "rama3r"}, "", 2, "not \"speed\""},
        {__LINE__, {"rama3r", "--unknowns", "1,x"}, "", 2, "--unknowns"},
        {__LINE__, {"missing"}, "", 1, "cannot read missing"},
        {__LINE__, {"junk"}, "", 1, "junk: neither"},
        {__LINE__, {"rama3r", "--unknowns", "2"}, "", 1, "unknown 2 is not in the file (it holds 3, 1)"},
        {__LINE__, {"rama3r", "--results", "rama3r"}, "", 1, "rama3r is not a results file"},
        {__LINE__, {"rama3r", "--csv", "c.csv"}, "/nonexistent", 3, "gnuplot-nox"},
        {__LINE__, {"rama3r", "--csv", "c.csv"}, failing_gnuplot(fake), 3, "gnuplot failed: line 9: boom"},
        {__LINE__, {"rama3r", "-o", "p.svg"}, silent_gnuplot(silent), 3, "cannot draw p.svg: gnuplot wrote no picture"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const e2e::Outcome o = plot_run(c.args, files, c.path);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
        EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
        EXPECT_EQ(o.files, files);
    }
}

TEST(PlotCommand, PictureCsvAndScript) {
    const Example& ex = example("rama3");
    const Files files = {{"rama3r", ex.plot}, {"rama3w", ex.results}};
    // Without gnuplot, the curves and the script (here to standard output)
    // are still written.
    e2e::Outcome o = plot_run({"rama3r", "--script", "-", "--csv", "c.csv", "--lang=en"}, files, "/nonexistent");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.files.size(), 3u);
    EXPECT_EQ(o.files["c.csv"].substr(0, o.files["c.csv"].find('\n')), "lambda,amplitude_3,phase_3,amplitude_1,phase_1");
    EXPECT_NE(o.out.find("set output 'rama3r.svg'"), std::string::npos);
    if (!plot::on_path("gnuplot")) GTEST_SKIP() << "gnuplot is not installed";
    o = plot_run({"rama3r", "--results", "rama3w", "-o", "p.pdf"}, files);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.files["p.pdf"].substr(0, 5), "%PDF-");
}

// Puts a stand-in gnuplot into the folder that notes its process number in
// the folder's gp.pid and then reads nothing for long; the PATH that finds it.
std::string stuck_gnuplot(const TempFolder& dir) {
    std::ofstream(dir.path + "/gnuplot") << "#!/bin/sh\necho $$ > '" + dir.path + "/gp.pid'\nexec sleep 30\n";
    chmod((dir.path + "/gnuplot").c_str(), 0755);
    return dir.path + ":/usr/bin:/bin";
}

TEST(PlotCommand, EndingsAndRefusals) {
    const Example& ex = example("rama3");
    const std::string first_row = ex.plot.substr(0, ex.plot.find('\n') + 1);
    const std::string legend = ex.plot.substr(ex.plot.find("  1 KOLUMNA"));
    // An acceleration of 1e200 * (1e101)^2 is past the largest double.
    const std::string huge = row(" .100000+102", {{" .100000+201", " .100000+201", " .000000E+00", 2}}) + legend;
    const Files files = {{"rama3r", ex.plot},     {"one", first_row + legend}, {"huge", huge},
                         {"binary", std::string("\x7f" "ELF\0\1\2\n", 8)}, {"long", std::string(5000, '1')},
                         {"a\nb", ex.plot}};
    const bool gnuplot = plot::on_path("gnuplot");
    const TempFolder fake;
    const std::string stuck = stuck_gnuplot(fake);
    struct Case {
        int line;
        std::vector<std::string> args;
        int status;
        std::string says;      // in standard error, or in standard output when status is 0
        std::string made;      // a file the run leaves, when any
        bool draws = false;    // needs gnuplot
        int signal = 0;        // sent once the stand-in gnuplot runs
    } cases[] = {
        {__LINE__, {"rama3r", "--title", "x\nsystem(\"touch pwned\")\n#"}, 2, "--title has a control character", ""},
        {__LINE__, {"rama3r", "--title", "'Rama A' `touch pwned` \"x\" ''", "-o", "t.svg"}, 0, "", "t.svg", true},
        {__LINE__, {"a\nb", "--script", "-", "-o", "p.svg"}, 0, "title 'Krzywe rezonansowe: a?b'", ""},
        {__LINE__, {"rama3r", "--csv", "rama3r", "-o", "x.svg"}, 2, "the input rama3r and --csv rama3r", ""},
        {__LINE__, {"rama3r", "--csv", "o.svg", "-o", "o.svg"}, 2, "--csv o.svg and the picture o.svg", ""},
        {__LINE__, {"rama3r", "--csv", "s", "--script", "./x/../s"}, 2, "--csv s and --script ./x/../s", ""},
        {__LINE__, {"rama3r", "--csv", "-", "--script", "-"}, 2, "both go to standard output", ""},
        {__LINE__, {"binary"}, 1, "binary:1: a control character", ""},
        {__LINE__, {"long"}, 1, "long:1: a line longer than any record", ""},
        {__LINE__, {"one", "-o", "one.svg"}, 0, "", "one.svg", true},
        {__LINE__, {"huge", "--quantity", "acceleration", "--csv", "h.csv"}, 1,
         "huge:1: the acceleration amplitude of unknown 2 at 1e+101 rad/s is too large", ""},
        {__LINE__, {"rama3r", "--unknowns", "3,3,3"}, 2, "--unknowns wants different numbers", ""},
        {__LINE__, {"rama3r", "--csv", "c.csv"}, 128 + SIGTERM, "interrupted by SIGTERM", "", false, SIGTERM},
        {__LINE__, {"rama3r", "--csv", "c.csv"}, 128 + SIGHUP, "interrupted by SIGHUP", "", false, SIGHUP},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        if (c.draws && !gnuplot) continue;
        e2e::Run r;
        r.program = VARNOSTIK_PLOT_BIN;
        r.args = c.args;
        r.files = files;
        const std::string pid_file = fake.path + "/gp.pid";
        if (c.signal) {
            r.env["PATH"] = stuck;
            r.signal = c.signal;
            r.when = [&](const std::string&, const std::string&) {
                struct stat st {};
                return stat(pid_file.c_str(), &st) == 0 && st.st_size > 1;
            };
        }
        e2e::Outcome o = e2e::run(r);
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_NE((c.status ? o.err : o.out).find(c.says), std::string::npos) << o.err << o.out.substr(0, 300);
        // Nothing made but the outputs asked for: no command ran, no
        // temporary file stayed, no input was replaced.
        for (const auto& [name, bytes] : o.files) {
            EXPECT_TRUE(files.count(name) || name == c.made) << "left behind: " << name;
            if (files.count(name)) {
                EXPECT_EQ(bytes, files.at(name)) << name;
            }
        }
        if (!c.made.empty()) {
            EXPECT_EQ(o.files[c.made].substr(0, 5), "<?xml");
        }
        if (c.signal) {
            // The stand-in gnuplot was ended and waited for.
            const pid_t pid = std::atoi(slurp(pid_file).c_str());
            EXPECT_TRUE(pid > 0 && kill(pid, 0) != 0 && errno == ESRCH);
            std::remove(pid_file.c_str());
        }
    }

    // A script with such a title, run through gnuplot, runs no command either.
    if (!gnuplot) GTEST_SKIP() << "gnuplot is not installed";
    const std::string title = "x\" `touch pwned` system('touch pwned') '' \\";
    e2e::Outcome o = plot_run({"rama3r", "--title", title, "--script", "s.gp"}, files);
    ASSERT_EQ(o.status, 0) << o.err;
    e2e::Run g;
    g.program = "/usr/bin/gnuplot";
    g.args = {"s.gp"};
    g.files = o.files;
    o = e2e::run(g);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.files.count("pwned"), 0u);
    // The title is drawn as it was given.
    EXPECT_NE(o.files["rama3r.svg"].find(title), std::string::npos);
}

// Outputs that are no regular file: a link to the process's own standard
// output is written through it (the link stays a link), a FIFO in place,
// and an interrupt while the FIFO waits for its reader ends the run with
// 128 + N and nothing left behind.
TEST(PlotCommand, OutputsThroughLinksDescriptorsAndFifos) {
    const Example& ex = example("rama3");
    const Files files = {{"rama3r", ex.plot}};
    const TempFolder side;
    const std::string to_stdout = side.path + "/to-stdout", fifo = side.path + "/fifo";
    ASSERT_EQ(symlink("/proc/self/fd/1", to_stdout.c_str()), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string header = "lambda,amplitude_3,phase_3,amplitude_1,phase_1";
    struct Case {
        int line;
        std::vector<std::string> args;
        int signal;        // sent once the script's new file is there
        int status;
        std::string says;  // in standard output when status is 0, else in standard error
        std::vector<std::string> made;
    } cases[] = {
        {__LINE__, {"rama3r", "--csv", to_stdout, "--script", "s.gp"}, 0, 0, header, {"s.gp"}},
        {__LINE__, {"rama3r", "--script", to_stdout, "--csv", "c.csv"}, 0, 0, "set output 'rama3r.svg'", {"c.csv"}},
        {__LINE__, {"rama3r", "--csv", fifo, "--script", "s.gp"}, SIGINT, 128 + SIGINT, "interrupted by SIGINT", {}},
        {__LINE__, {"rama3r", "--csv", fifo, "--script", "s.gp"}, SIGTERM, 128 + SIGTERM, "interrupted by SIGTERM", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        e2e::Run r;
        r.program = VARNOSTIK_PLOT_BIN;
        r.args = c.args;
        r.files = files;
        r.env["PATH"] = "/nonexistent";
        r.signal = c.signal;
        r.when = [](const std::string& folder, const std::string&) {
            for (const auto& e : std::filesystem::directory_iterator(folder))
                if (e.path().filename().string().rfind(".s.gp.", 0) == 0) return true;
            return false;
        };
        const e2e::Outcome o = e2e::run(r);
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_NE((c.status ? o.err : o.out).find(c.says), std::string::npos) << o.err << o.out.substr(0, 300);
        std::set<std::string> names;
        for (const auto& [name, bytes] : o.files) names.insert(name);
        std::set<std::string> expected(c.made.begin(), c.made.end());
        expected.insert("rama3r");
        EXPECT_EQ(names, expected);
        struct stat st {};
        EXPECT_EQ(lstat(to_stdout.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
        EXPECT_EQ(lstat(fifo.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
    }
}

// The reading end of an output that is no file (a FIFO, a terminal), read
// on a thread of its own while the program runs.
class Sink {
public:
    explicit Sink(int fd) : fd_(fd), reader_([this] {
        while (!stop_.load()) {
            if (!take()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        while (take()) {}
    }) {}
    ~Sink() { finish(); }
    const std::string& finish() {
        if (reader_.joinable()) {
            stop_.store(true);
            reader_.join();
            close(fd_);
        }
        return bytes_;
    }

private:
    bool take() {
        char buf[4096];
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n > 0) bytes_.append(buf, static_cast<std::size_t>(n));
        return n > 0;
    }
    int fd_;
    std::string bytes_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

// Outputs that are no regular file are written in place: a FIFO stays a
// FIFO and gets the bytes, a terminal gets them.  Stand-ins of the test's
// own making: never a device of the host.
TEST(PlotCommand, OutputsToAFifoOrATerminalAreWrittenInPlace) {
    const Example& ex = example("rama3");
    enum class Kind { fifo, terminal };
    const struct {
        int line;
        Kind csv, script;
    } rows[] = {
        {__LINE__, Kind::fifo, Kind::fifo},
        {__LINE__, Kind::terminal, Kind::fifo},
        {__LINE__, Kind::fifo, Kind::terminal},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        const TempFolder side;
        ASSERT_FALSE(side.path.empty());
        std::vector<std::unique_ptr<Sink>> sinks;
        std::vector<int> terminal_ends;  // held open, so that the terminal stays while the program opens it
        auto output = [&](Kind kind, const std::string& name) {
            if (kind == Kind::fifo) {
                const std::string path = side.path + "/" + name;
                EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
                sinks.push_back(std::make_unique<Sink>(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)));
                return path;
            }
            int master = -1, slave = -1;
            EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
            termios t{};
            tcgetattr(slave, &t);
            cfmakeraw(&t);
            tcsetattr(slave, TCSANOW, &t);
            fcntl(master, F_SETFD, FD_CLOEXEC);
            fcntl(slave, F_SETFD, FD_CLOEXEC);
            fcntl(master, F_SETFL, O_NONBLOCK);
            terminal_ends.push_back(slave);
            sinks.push_back(std::make_unique<Sink>(master));
            return std::string(ttyname(slave));
        };
        const std::string csv = output(row.csv, "csv"), script = output(row.script, "script");
        const e2e::Outcome o = plot_run({"rama3r", "--csv", csv, "--script", script}, {{"rama3r", ex.plot}});
        EXPECT_EQ(o.status, 0) << o.err;
        for (const auto& [kind, path] : {std::pair{row.csv, csv}, std::pair{row.script, script}}) {
            struct stat st {};
            EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
            EXPECT_TRUE(kind == Kind::fifo ? S_ISFIFO(st.st_mode) : S_ISCHR(st.st_mode)) << path;
        }
        const std::string csv_bytes = sinks[0]->finish(), script_bytes = sinks[1]->finish();
        for (const int fd : terminal_ends) close(fd);
        EXPECT_TRUE(csv_bytes.starts_with("lambda,")) << csv_bytes.substr(0, 100);
        EXPECT_NE(script_bytes.find("set output"), std::string::npos) << script_bytes.substr(0, 300);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(side.path), std::filesystem::directory_iterator()),
                  (row.csv == Kind::fifo) + (row.script == Kind::fifo))
            << "a file left beside the outputs";
    }
}

TEST(PlotCurves, ThinningKeepsEveryBinExtremeAndThePeak) {
    // A slow wave with a sharp spike every 1000 steps, one spike higher than
    // all: 100 000 steps kept in at most 2 * 64 + 2 points.
    plot::Decimator d(64);
    std::vector<double> y;
    for (long i = 0; i < 100000; ++i) {
        y.push_back(std::sin(static_cast<double>(i) * 1e-4) + (i % 1000 == 500 ? (i == 73500 ? 9.0 : 3.0) : 0.0));
        d.add(static_cast<double>(i), y.back());
    }
    const std::vector<double> xs = d.xs(), ys = d.ys();
    ASSERT_LE(xs.size(), 130u);
    EXPECT_EQ(xs.front(), 0.0);
    EXPECT_EQ(xs.back(), 99999.0);
    EXPECT_TRUE(std::is_sorted(xs.begin(), xs.end()));
    // Every point kept is the curve's own, and the extremes of every stretch
    // the bins cover are among them: the spike of each second bin at least
    // (a bin holds 2048 steps), the highest of all, the lowest of all.
    for (std::size_t i = 0; i < xs.size(); ++i) EXPECT_EQ(ys[i], y[static_cast<std::size_t>(xs[i])]);
    EXPECT_EQ(*std::max_element(ys.begin(), ys.end()), y[73500]);
    EXPECT_EQ(*std::min_element(ys.begin(), ys.end()), *std::min_element(y.begin(), y.end()));
    EXPECT_GE(std::count_if(ys.begin(), ys.end(), [](double v) { return v > 2.0; }), 100000 / 2048);
    // A short curve is kept whole.
    plot::Decimator whole(64);
    for (int i = 0; i < 64; ++i) whole.add(i, i % 3);
    EXPECT_EQ(whole.xs().size(), 64u);
}

// ---------------------------------------------------------------- drawing

struct Point {
    double x, y;
};

// A number at text[pos..] (blanks before it skipped); pos is left after it.
double number_at(const std::string& text, std::size_t& pos) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
    double v = NAN;
    const auto r = std::from_chars(text.data() + pos, text.data() + text.size(), v);
    pos = static_cast<std::size_t>(r.ptr - text.data());
    return v;
}

// The points of every subpath of an SVG path's d attribute ("M x,y L x,y ...").
std::vector<std::vector<Point>> subpaths(const std::string& d) {
    std::vector<std::vector<Point>> out;
    for (std::size_t i = d.find_first_of("ML"); i != std::string::npos; i = d.find_first_of("ML", i)) {
        if (d[i] == 'M' || out.empty()) out.emplace_back();
        ++i;
        const double x = number_at(d, i);
        ++i;  // the comma
        out.back().push_back({x, number_at(d, i)});
    }
    return out;
}

// The labels gnuplot centres under tics: (pixel x, value) of every
// <g transform="translate(x,y)" ... text-anchor="middle"> whose text is a number.
std::vector<Point> centred_numbers(const std::string& svg) {
    std::vector<Point> out;
    const std::string g = "<g transform=\"translate(";
    for (std::size_t p = svg.find(g); p != std::string::npos; p = svg.find(g, p + 1)) {
        std::size_t i = p + g.size();
        const double x = number_at(svg, i);
        const std::size_t tag_end = svg.find('>', i);
        if (svg.substr(i, tag_end - i).find("text-anchor=\"middle\"") == std::string::npos) continue;
        const std::size_t t = svg.find("<text>", tag_end) + 6;
        if (svg.compare(t, 6, "<tspan") != 0) continue;  // an empty label
        std::size_t v = svg.find('>', t) + 1;
        const std::size_t close = svg.find("</tspan>", v);
        const double value = number_at(svg, v);
        if (v == close && !std::isnan(value)) out.push_back({x, value});
    }
    return out;
}

TEST(PlotDrawing, Rama3HasItsPeakWhereTheLargestAmplitudeIs) {
    if (!plot::on_path("gnuplot") || !plot::on_path("rsvg-convert"))
        GTEST_SKIP() << "gnuplot or rsvg-convert is not installed";
    const Example& ex = example("rama3");
    const e2e::Outcome o = plot_run({"rama3r", "--unknowns", "3", "--results", "rama3w"},
                                    {{"rama3r", ex.plot}, {"rama3w", ex.results}});
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string svg = o.files.at("rama3r.svg");

    // A real renderer takes it without a complaint.
    const TempFolder dir;
    const std::string in = dir.path + "/p.svg", out = dir.path + "/p.png";
    std::ofstream(in, std::ios::binary) << svg;
    const int rendered = std::system(("rsvg-convert -o " + out + " " + in + " 2>" + dir.path + "/err").c_str());
    EXPECT_EQ(rendered, 0);
    EXPECT_EQ(slurp(dir.path + "/err"), "");
    EXPECT_EQ(slurp(out).substr(1, 3), "PNG");

    // The frequency axis from the tic labels under the phase panel.
    const std::vector<Point> tics = centred_numbers(svg);  // (pixel, frequency)
    ASSERT_GE(tics.size(), 3u);
    const Point a = tics.front(), b = tics.back();
    const auto pixel_of = [&](double f) { return a.x + (f - a.y) * (b.x - a.x) / (b.y - a.y); };

    // The first curve's first path is the amplitude panel: its key sample
    // (two points) and the curve, whose highest point (least y) must stand
    // at the step of the largest amplitude.
    const std::size_t path = svg.find("<path stroke='rgb(  0,  96, 173)'");
    ASSERT_NE(path, std::string::npos);
    const std::size_t d = svg.find("d='", path) + 3;
    Point top{0, 1e9};
    for (const auto& sp : subpaths(svg.substr(d, svg.find('\'', d) - d)))
        if (sp.size() > 2)
            for (const Point& p : sp)
                if (p.y < top.y) top = p;
    const Sweep s = read_ok("r", ex.plot);
    const auto& amp = s.curves[0].amp;
    const double peak = s.lambda[static_cast<std::size_t>(std::max_element(amp.begin(), amp.end()) - amp.begin())];
    EXPECT_NEAR(top.x, pixel_of(peak), 2.0) << "peak at " << peak;
}

}  // namespace

namespace {

// The texts of an SVG that start with prefix, as boxes in pixels: from
// their anchor, as wide as their characters at a narrow estimate of the
// 12-pixel font (so that only a real overlap counts), a line high.
struct TextBox {
    double left, right, top, bottom;
    std::string text;
};
std::vector<TextBox> text_boxes(const std::string& svg, const std::string& prefix) {
    std::vector<TextBox> out;
    const std::string g = "<g transform=\"translate(";
    for (std::size_t p = svg.find(g); p != std::string::npos; p = svg.find(g, p + 1)) {
        std::size_t i = p + g.size();
        const double x = number_at(svg, i);
        ++i;
        const double y = number_at(svg, i);
        const std::size_t tag_end = svg.find('>', i);
        const std::size_t t = svg.find("<text>", tag_end) + 6;
        if (svg.compare(t, prefix.size(), prefix) != 0) continue;
        const std::string text = svg.substr(t, svg.find("</text>", t) - t);
        const double w = 6.0 * static_cast<double>(text.size());
        const bool end = svg.substr(i, tag_end - i).find("text-anchor=\"end\"") != std::string::npos;
        out.push_back({end ? x - w : x, end ? x : x + w, y - 9.0, y + 2.0, text});
    }
    return out;
}

}  // namespace

TEST(PlotDrawing, PeakTextsNeverCoverOneAnotherAndNoTwoCurvesLookAlike) {
    if (!plot::on_path("gnuplot")) GTEST_SKIP() << "gnuplot is not installed";
    const Example& r3 = example("rama3");
    const Example& r10 = example("rama10");
    const Files files = {{"rama3r", r3.plot}, {"rama3w", r3.results}, {"rama10w", r10.results}};
    struct Case {
        int line;
        std::vector<std::string> args;
    } cases[] = {
        {__LINE__, {"rama3r", "--results", "rama3w", "--hz", "--log", "--quantity", "acceleration"}},
        {__LINE__, {"rama3w", "--log"}},
        {__LINE__, {"rama10w"}},
        {__LINE__, {"rama10w", "--quantity", "velocity", "--hz"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", "p.svg"});
        const e2e::Outcome o = plot_run(args, files);
        ASSERT_EQ(o.status, 0) << o.err;
        const std::vector<TextBox> boxes = text_boxes(o.files.at("p.svg"), "max ");
        EXPECT_GE(boxes.size(), 2u);
        for (std::size_t a = 0; a < boxes.size(); ++a)
            for (std::size_t b = a + 1; b < boxes.size(); ++b)
                EXPECT_FALSE(boxes[a].left < boxes[b].right && boxes[b].left < boxes[a].right &&
                             boxes[a].top < boxes[b].bottom && boxes[b].top < boxes[a].bottom)
                    << boxes[a].text << " covers " << boxes[b].text;
    }
    // Ten curves: each drawn with a colour and dash pattern of its own.
    const e2e::Outcome o = plot_run({"rama10w", "--script", "-"}, files);
    ASSERT_EQ(o.status, 0) << o.err;
    std::set<std::string> looks;
    std::size_t curves = 0;
    for (std::size_t p = o.out.find("$amplitude"); p != std::string::npos; p = o.out.find("$amplitude", p + 1)) {
        const std::size_t colour = o.out.find("linecolor", p), end = o.out.find(" title", p);
        if (colour > end) continue;  // a data block, before the title
        ++curves;
        looks.insert(o.out.substr(colour, end - colour));
    }
    EXPECT_EQ(curves, 10u);
    EXPECT_EQ(looks.size(), curves);
}

// ------------------------------------------------------------ hostile names, titles, interrupts

namespace {

// Sets an environment variable for the life of the object.
struct ScopedEnv {
    std::string name;
    std::optional<std::string> old;
    ScopedEnv(std::string n, const std::string& value) : name(std::move(n)) {
        if (const char* v = std::getenv(name.c_str())) old = v;
        setenv(name.c_str(), value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old) setenv(name.c_str(), old->c_str(), 1);
        else unsetenv(name.c_str());
    }
};

// The names of the files, one to a line, to compare sets of files readably.
std::string names(const Files& files) {
    std::string out;
    for (const auto& [name, bytes] : files) out += name + "\n";
    return out;
}

bool folder_empty(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_empty(path, ec) && !ec;
}

// The texts of an SVG as an XML parser reads them: one per text element,
// the pieces of its tspans joined.  ok is false when the parser or the
// renderer rejects the document.
struct SvgTexts {
    bool ok = false;
    std::vector<std::string> texts;
    std::string error;
};
SvgTexts svg_texts(const std::string& svg) {
    const TempFolder dir;
    std::ofstream(dir.path + "/p.svg", std::ios::binary) << svg;
    std::ofstream(dir.path + "/texts.py")
        << "import sys, xml.etree.ElementTree as E\n"
           "root = E.parse(sys.argv[1]).getroot()\n"
           "for t in root.iter('{http://www.w3.org/2000/svg}text'):\n"
           "    sys.stdout.buffer.write(''.join(t.itertext()).encode('utf-8') + b'\\n')\n";
    SvgTexts out;
    const std::string d = dir.path;
    const bool parsed = std::system(("python3 " + d + "/texts.py " + d + "/p.svg >" + d + "/out 2>" + d + "/err").c_str()) == 0;
    const bool rendered = std::system(("rsvg-convert -o " + d + "/p.png " + d + "/p.svg 2>>" + d + "/err").c_str()) == 0;
    out.ok = parsed && rendered;
    out.error = slurp(d + "/err");
    std::istringstream lines(slurp(d + "/out"));
    for (std::string line; std::getline(lines, line);) out.texts.push_back(line);
    return out;
}

}  // namespace

TEST(PlotDrawing, TitlesAndCurveNamesAreShownAsGiven) {
    if (!plot::on_path("gnuplot") || !plot::on_path("rsvg-convert") || !plot::on_path("python3"))
        GTEST_SKIP() << "gnuplot, rsvg-convert or python3 is not installed";
    const TempFolder tmp;  // where the drawing's private folders are made
    const ScopedEnv tmpdir("TMPDIR", tmp.path);
    struct Case {
        int line;
        std::string given;  // a title and the first curve's name
        std::string shown;  // UTF-8
    } cases[] = {
        {__LINE__, "Rama & <b>słup</b> > 2", "Rama & <b>słup</b> > 2"},
        {__LINE__, "a]]>b ]]]> ]>", "a]]>b ]]]> ]>"},
        {__LINE__, "\"double\" 'single' '' x'", "\"double\" 'single' '' x'"},
        {__LINE__, "^{2} _x @y ~z &{w} \\101 \\", "^{2} _x @y ~z &{w} \\101 \\"},
        {__LINE__, "&amp; &lt; `touch pwned`", "&amp; &lt; `touch pwned`"},
        // Not UTF-8: read as ISO 8859-2, each byte that belongs to no
        // valid sequence.
        {__LINE__, "\xa3\xf3\x64\xbc \xb3\xb1\xea", "Łódź łąę"},
        {__LINE__, "Zażółć \xb6\x6c", "Zażółć śl"},
        {__LINE__, "\xc5", "Ĺ"},
        {__LINE__, "\xc0\xaf \xed\xa0\x80 \xf5", "ŔŻ í\u00a0? ő"},  // overlong, surrogate, past U+10FFFF
    };
    plot::Curves c;
    c.from = 1.0, c.to = 3.0, c.steps = 3;
    c.series.push_back({1, {{1, 2, 3}, {1, 4, 2}}, {{1, 2, 3}, {0, 90, 180}}, ""});
    c.series.push_back({2, {{1, 2, 3}, {2, 1, 0.5}}, {{1, 2, 3}, {0, 45, 90}}, ""});
    for (const Case& k : cases) {
        SCOPED_TRACE(k.line);
        c.series[0].label = k.given;
        plot::Style style;
        style.title = k.given;
        const plot::Drawing svg = plot::draw(c, style, plot::Format::svg);
        ASSERT_EQ(svg.outcome.message, "");
        const SvgTexts t = svg_texts(svg.bytes);
        EXPECT_TRUE(t.ok) << t.error;
        // The title and the first curve's name; the second curve keeps its number.
        EXPECT_EQ(std::count(t.texts.begin(), t.texts.end(), k.shown), 2) << e2e::visible(svg.bytes.substr(0, 4000));
        EXPECT_EQ(std::count(t.texts.begin(), t.texts.end(), "niewiadoma 2"), 1);
        // The other formats take the same texts.
        const plot::Drawing png = plot::draw(c, style, plot::Format::png);
        EXPECT_EQ(png.outcome.message + png.bytes.substr(1, 3), "PNG");
        const plot::Drawing pdf = plot::draw(c, style, plot::Format::pdf);
        EXPECT_EQ(pdf.outcome.message + pdf.bytes.substr(0, 5), "%PDF-");
        EXPECT_TRUE(folder_empty(tmp.path)) << "a private folder stayed";
    }

    // A title made from the input's name, through the command line.
    const std::string name = "a]]>\xb3 & <x>";
    const e2e::Outcome o = plot_run({name, "-o", "p.svg", "--lang", "en"}, {{name, example("rama3").plot}});
    ASSERT_EQ(o.status, 0) << o.err;
    const SvgTexts t = svg_texts(o.files.at("p.svg"));
    EXPECT_TRUE(t.ok) << t.error;
    EXPECT_EQ(std::count(t.texts.begin(), t.texts.end(), "Resonance curves: a]]>ł & <x>"), 1);
}

TEST(PlotCommand, HostileNamesRunNoCommandAndLeaveNoStrayFile) {
    if (!plot::on_path("gnuplot")) GTEST_SKIP() << "gnuplot is not installed";
    const Example& ex = example("rama3");
    const TempFolder fails, sticks;
    const std::string failing = failing_gnuplot(fails), stuck = stuck_gnuplot(sticks);
    const std::string pid_file = sticks.path + "/gp.pid";
    // The runs' folders and the drawing's private folders are made here: a
    // command that ran in either with "cd .." would leave its file here.
    const TempFolder watched;
    const ScopedEnv tmpdir("TMPDIR", watched.path);
    struct Case {
        int line;
        std::string input;
        std::vector<std::string> args;
        std::string made;          // the picture, once drawn
        bool script = false;       // drawn by running the script written with gnuplot
        std::string path;          // PATH of the run; empty: the test's own
        int signal = 0;            // sent once the stand-in gnuplot runs
        int status = 0;
    };
    for (const std::string hostile : {"|touch X #", "|cd ..;touch X #"}) {
        SCOPED_TRACE(hostile);
        const Case cases[] = {
            {__LINE__, hostile, {hostile, "--script", "s.gp"}, hostile + ".svg", true, "", 0, 0},
            {__LINE__, "r", {"r", "-o", hostile + ".png", "--script", "s.gp"}, hostile + ".png", true, "", 0, 0},
            {__LINE__, "r", {"r", "-o", hostile + "/p.pdf", "--script", "s.gp"}, hostile + "/p.pdf", true, "", 0, 0},
            {__LINE__, hostile, {hostile}, hostile + ".svg", false, "", 0, 0},
            {__LINE__, "r", {"r", "-o", hostile + ".svg"}, hostile + ".svg", false, "", 0, 0},
            {__LINE__, "r", {"r", "-o", hostile + "/p.svg"}, hostile + "/p.svg", false, "", 0, 0},
            {__LINE__, "r", {"r", "-o", hostile + "/p.svg"}, "", false, failing, 0, 3},
            {__LINE__, "r", {"r", "-o", hostile + "/p.svg"}, "", false, stuck, SIGTERM, 128 + SIGTERM},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.line);
            Files files = {{c.input, ex.plot}};
            // A folder of that name, for a picture inside it.
            if (c.input != hostile) files[hostile + "/keep"] = "k";
            e2e::Run r;
            r.program = VARNOSTIK_PLOT_BIN;
            r.args = c.args;
            r.files = files;
            if (!c.path.empty()) r.env["PATH"] = c.path;
            if (c.signal) {
                r.signal = c.signal;
                r.when = [&](const std::string&, const std::string&) {
                    struct stat st {};
                    return stat(pid_file.c_str(), &st) == 0 && st.st_size > 1;
                };
            }
            e2e::Outcome o = e2e::run(r);
            std::remove(pid_file.c_str());
            EXPECT_EQ(o.status, c.status) << o.err;
            if (c.script) {
                files["s.gp"] = o.files["s.gp"];
                EXPECT_EQ(names(o.files), names(files));
                e2e::Run g;
                g.program = "/usr/bin/gnuplot";
                g.args = {"s.gp"};
                g.files = o.files;
                o = e2e::run(g);
                EXPECT_EQ(o.status, 0) << o.err;
            }
            if (!c.made.empty()) {
                EXPECT_GT(o.files[c.made].size(), 100u);
                files[c.made] = o.files[c.made];
            }
            // Only the picture asked for is new: no command ran, no
            // temporary file or folder stayed; the inputs are as they were.
            EXPECT_EQ(names(o.files), names(files));
            for (const auto& [name, bytes] : files) EXPECT_TRUE(o.files[name] == bytes) << name;
            EXPECT_TRUE(folder_empty(watched.path)) << "a command ran or a temporary folder stayed";
        }
    }
}

TEST(PlotCommand, InterruptedWhileAFifoWaitsExitsAsTheSignal) {
    const Example& ex = example("rama3");
    const TempFolder dir;
    const std::string fifo = dir.path + "/f";
    struct Case {
        int line;
        std::vector<std::string> args;  // "F": the FIFO
        int signal;
        // A temporary file of the run's folder, made once the interrupts
        // are caught; the signal comes a while after it shows.
        std::string made;
    } cases[] = {
        // The CSV waits for its reader once the script's temporary file is made.
        {__LINE__, {"rama3r", "--csv", "F", "--script", "s.gp"}, SIGINT, ".s.gp."},
        {__LINE__, {"rama3r", "--csv", "F", "--script", "s.gp"}, SIGTERM, ".s.gp."},
        // The CSV ready, the script waits: neither is put in place.
        {__LINE__, {"rama3r", "--csv", "c.csv", "--script", "F"}, SIGHUP, ".c.csv."},
        // The input waits for its writer.
        {__LINE__, {"F", "--csv", "c.csv", "--script", "s.gp"}, SIGINT, ".c.csv."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::remove(fifo.c_str());
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        e2e::Run r;
        r.program = VARNOSTIK_PLOT_BIN;
        r.files = {{"rama3r", ex.plot}};
        for (const std::string& a : c.args) r.args.push_back(a == "F" ? fifo : a);
        r.signal = c.signal;
        std::optional<std::chrono::steady_clock::time_point> seen;
        r.when = [&](const std::string& folder, const std::string&) {
            std::error_code ec;
            for (const auto& e : std::filesystem::directory_iterator(folder, ec))
                if (!seen && e.path().filename().string().rfind(c.made, 0) == 0) seen = std::chrono::steady_clock::now();
            return seen && std::chrono::steady_clock::now() - *seen > std::chrono::milliseconds(200);
        };
        const e2e::Outcome o = e2e::run(r);
        EXPECT_FALSE(o.timed_out);
        EXPECT_EQ(o.status, 128 + c.signal) << o.err;
        EXPECT_NE(o.err.find(std::string("interrupted by ") + plot::signal_name(c.signal)), std::string::npos) << o.err;
        EXPECT_EQ(names(o.files), names(r.files));
        EXPECT_TRUE(o.files == r.files);
        struct stat st {};
        EXPECT_TRUE(lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), std::filesystem::directory_iterator()), 1);
    }
}

// A single panel against another variable than frequency: its own axis
// names and the symbol in the maxima's texts, and no phase panel; the
// resonance curves keep both panels.
TEST(Script, ASinglePanelHasItsOwnAxesAndNoPhase) {
    struct Row {
        int line;
        std::string x_label, y_label, symbol;
        bool phase;          // a phase panel drawn
        std::string wanted;  // in the script
    } rows[] = {
        {__LINE__, "stiffness scale", "peak [m]", "scale", false, "max 0.5 at scale = 1"},
        {__LINE__, "", "", "", true, "rad/s"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        plot::Curves c;
        c.from = 0.9, c.to = 1.1, c.steps = 3;
        plot::Series s;
        s.unknown = 1;
        s.label = "peak";
        s.amplitude = {{0.9, 1.0, 1.1}, {0.4, 0.5, 0.3}};
        s.phase = {{0.9, 1.0, 1.1}, {0.0, 0.0, 0.0}};
        c.series.push_back(s);
        plot::Style style;
        style.lang = plot::Lang::en;
        style.x_label = row.x_label;
        style.y_label = row.y_label;
        style.x_symbol = row.symbol;
        const std::string script = plot::gnuplot_script(c, style, plot::Format::svg, "out.svg");
        EXPECT_EQ(script.find("$phase1") != std::string::npos, row.phase);
        EXPECT_EQ(script.find("# phase") != std::string::npos, row.phase);
        EXPECT_NE(script.find(row.wanted), std::string::npos) << script;
        if (!row.phase) {
            EXPECT_NE(script.find("set xlabel 'stiffness scale'"), std::string::npos);
            EXPECT_NE(script.find("set ylabel 'peak [m]'"), std::string::npos);
        }
        EXPECT_NE(script.find("unset multiplot"), std::string::npos);
    }
}
