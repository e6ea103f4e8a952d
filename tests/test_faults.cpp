// varnostik-design: the modes' columns against their closed form, the
// hints and warnings a description earns, the outputs to standard output,
// and the retuned description's text.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "design/description.h"
#include "plot/curves.h"
#include "plot/script.h"
#include "design/tuned_text.h"
#include "e2e_run.h"

namespace {

e2e::Outcome run_design(const std::vector<std::string>& args, const std::string& description) {
    e2e::Run r;
    r.program = VARNOSTIK_DESIGN_BIN;
    r.args = args;
    r.files = {{"m.toml", description}};
    return e2e::run(r);
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = line.find(',', from);
        fields.push_back(line.substr(from, comma - from));
        if (comma == std::string::npos) return fields;
        from = comma + 1;
    }
}

TEST(DesignFaults, ModesGiveTheDampedAndUndampedFrequenciesAndOverdampedRootsApart) {
    // Masses 2 and 1 on springs 3 and 1, Rayleigh damping fitted to both
    // modes: s = w (-z +- i sqrt(1 - z^2)); an overdamped mode gives two
    // real roots -w (z -+ sqrt(z^2 - 1)), with no frequency and no ratio.
    const double w1 = std::sqrt((6 - std::sqrt(12.0)) / 4), w2 = std::sqrt((6 + std::sqrt(12.0)) / 4);
    struct Mode {
        double damped;
        std::optional<double> undamped, ratio;
        double decay;
    };
    auto pair = [](double w, double z) { return Mode{w * std::sqrt(1 - z * z), w, z, z * w}; };
    auto real = [](double w, double z, int sign) { return Mode{0.0, {}, {}, w * (z + sign * std::sqrt(z * z - 1))}; };
    struct Row {
        int line;
        double z1, z2;
        std::vector<Mode> want;
    } rows[] = {
        {__LINE__, 0.0, 0.0, {pair(w1, 0.0), pair(w2, 0.0)}},
        {__LINE__, 0.05, 0.3, {pair(w1, 0.05), pair(w2, 0.3)}},
        {__LINE__, 0.2, 1.5, {real(w2, 1.5, -1), pair(w1, 0.2), real(w2, 1.5, +1)}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        std::ostringstream t;
        t.precision(17);
        t << "[frame]\nmass_matrix = [[2.0, 0.0], [0.0, 1.0]]\nstiffness_matrix = [[4.0, -1.0], [-1.0, 1.0]]\n"
          << "damping_ratios = [" << row.z1 << ", " << row.z2 << "]\n";
        const e2e::Outcome o = run_design({"modes", "m.toml", "--csv", "-"}, t.str());
        ASSERT_EQ(o.status, 0) << o.err;
        const std::vector<std::string> lines = lines_of(o.out);
        ASSERT_EQ(lines.size(), row.want.size() + 1) << o.out;
        EXPECT_EQ(lines[0], "mode,damped_frequency,undamped_frequency,damping_ratio,decay_rate");
        for (std::size_t i = 0; i < row.want.size(); ++i) {
            const Mode& w = row.want[i];
            const std::vector<std::string> f = fields_of(lines[i + 1]);
            ASSERT_EQ(f.size(), 5u) << lines[i + 1];
            EXPECT_EQ(f[0], std::to_string(i + 1));
            EXPECT_NEAR(std::stod(f[1]), w.damped, 1e-6) << lines[i + 1];
            if (w.undamped) {
                ASSERT_FALSE(f[2].empty() || f[3].empty()) << lines[i + 1];
                EXPECT_NEAR(std::stod(f[2]), *w.undamped, 1e-6);
                EXPECT_NEAR(std::stod(f[3]), *w.ratio, 1e-6);
            } else {
                EXPECT_EQ(f[2], "") << "an overdamped root has no frequency";
                EXPECT_EQ(f[3], "") << "an overdamped root has no damping ratio";
            }
            EXPECT_NEAR(std::stod(f[4]), w.decay, 1e-6) << lines[i + 1];
        }
    }
}

const std::string kFrame = "[frame]\nmasses = [200.0, 200.0]\nstiffnesses = [80000.0, 80000.0]\n";
const std::string kSweep = "[force]\ncos = [0.0, 100.0]\n[sweep]\nfrom = 5.0\nto = 40.0\nstep = 0.5\n";

TEST(DesignFaults, RefusalsNameTheKeyOnTheLineAtFaultAndADecimalComma) {
    const std::string ratios = "damping_ratios = [0.02, 0.02]\n";
    const std::string tmd = "[[tmd]]\nstorey = 2\nfrequency_ratio = 1.0\ndamping_ratio = 0.1\n";
    struct Row {
        int line;
        std::string text;
        std::string message;  // what standard error holds
        bool hint;            // whether it names a decimal comma
    } rows[] = {
        {__LINE__, kFrame + ratios + tmd + "mass = 20,5\n" + kSweep,
         "m.toml:9: (syntax): Error while parsing key-value pair", true},
        {__LINE__, kFrame + ratios + tmd + "mass = 20,5\n" + kSweep, "decimals take a point: 20.5, not 20,5", true},
        // Four masses from two decimal commas: the count is blamed on the
        // masses' line, where the commas are, not on the stiffnesses'.
        {__LINE__,
         "[frame]\nmasses = [200,0, 200,0]\nstiffnesses = [80000.0, 80000.0]\n" + ratios + kSweep,
         "m.toml:2: frame.masses: 4 storeys, while frame.stiffnesses holds 2 values; decimals take a point: 200.0, "
         "not 200,0",
         true},
        {__LINE__, kFrame + "damping_ratios = [2,5, 2,5]\n" + kSweep,
         "m.toml:4: frame.damping_ratios: must hold 2 values, holds 4; decimals take a point: 2.5, not 2,5", true},
        {__LINE__, kFrame + "damping_ratios = [0,02, 0,02]\n" + kSweep,
         "m.toml:4: (syntax): Error while parsing decimal integer: leading zeroes are prohibited; decimals take a "
         "point: 0.02, not 0,02",
         true},
        {__LINE__, "[frame]\nmasses = [200.0, 200.0]\nstiffnesses = [80000.0]\n" + ratios + kSweep,
         "m.toml:3: frame.stiffnesses: must hold 2 values, holds 1", false},
        {__LINE__, "[frame]\nmasses = [200.0]\nstiffnesses = [80000.0]\ndamping_ratios = [0.02, 0.05]\n",
         "m.toml:4: frame.damping_ratios: a frame of one storey has one mode, damped by the first ratio: give the "
         "second equal to it (0.02)",
         false},
        // Two springs or two dashpots: the refusal stands on a line that
        // holds the key it names.
        {__LINE__,
         kFrame + ratios + "[[tmd]]\nstorey = 2\nmass = 8.0\nstiffness = 1.0\nfrequency = 2.0\ndamping = 1.0\n",
         "m.toml:8: tmd[1].stiffness: give exactly one of frequency_ratio, frequency, stiffness", false},
        {__LINE__,
         kFrame + ratios + "[[tmd]]\nstorey = 2\nmass = 8.0\nstiffness = 1.0\ndamping_ratio = 0.1\ndamping = 1.0\n",
         "m.toml:10: tmd[1].damping: give exactly one of damping_ratio, damping", false},
        // Found when the model is built: named on the key's own line, not
        // on its table's.
        {__LINE__,
         "[frame]\nmass_matrix = [[1.0, 2.0], [2.0, 1.0]]\nstiffness_matrix = [[1.0, 0.0], [0.0, 2.0]]\n" + ratios,
         "m.toml:2: frame.mass_matrix: the mass matrix is not positive definite", false},
        {__LINE__,
         "[frame]\nmass_matrix = [[1.0, 0.0], [0.0, 1.0]]\nstiffness_matrix = [[1.0, 2.0], [2.0, 1.0]]\n" + ratios,
         "m.toml:3: frame.stiffness_matrix: the frame's natural frequencies cannot be computed", false},
        {__LINE__, kFrame + ratios + "[sweep]\nfrom = 12.5\nto = 2.0\nstep = 0.5\n",
         "m.toml:7: sweep.to: 2 is below from (12.5): the range must not be empty", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const e2e::Outcome o = run_design({"modes", "m.toml"}, row.text);
        EXPECT_EQ(o.status, 1);
        EXPECT_NE(o.err.find(row.message), std::string::npos) << o.err;
        EXPECT_EQ(o.err.find("decimals take a point") != std::string::npos, row.hint) << o.err;
        EXPECT_EQ(o.out, "");
    }
}

TEST(DesignFaults, OneStoreyWithEqualRatiosAndARangeOfOneStepAreTaken) {
    struct Row {
        int line;
        std::string text;
        std::vector<std::string> args;
        std::size_t lines;  // of standard output
    } rows[] = {
        {__LINE__,
         "[frame]\nmasses = [200.0]\nstiffnesses = [80000.0]\ndamping_ratios = [0.02, 0.02]\n[force]\ncos = "
         "[1.0]\n[sweep]\nfrom = 5.0\nto = 6.0\nstep = 0.5\n",
         {"response", "m.toml", "--csv", "-"},
         4},
        {__LINE__, kFrame + "damping_ratios = [0.02, 0.02]\n[force]\ncos = [0.0, 1.0]\n[sweep]\nfrom = 5.0\nto = "
                             "5.0\nstep = 0.5\n",
         {"response", "m.toml", "--csv", "-"},
         2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const e2e::Outcome o = run_design(row.args, row.text);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(lines_of(o.out).size(), row.lines) << o.out;
    }
}

TEST(DesignFaults, DampingRatiosThatLookLikePercentagesAreWarnedOfAndTheCommandGoesOn) {
    struct Row {
        int line;
        std::string frame_ratios, tmd_ratio;
        std::vector<std::string> warnings;
    } rows[] = {
        {__LINE__, "[0.02, 0.05]", "0.1", {}},
        {__LINE__, "[0.99, 0.05]", "0.49", {}},
        {__LINE__,
         "[2, 5]",
         "0.1",
         {"m.toml:4: frame.damping_ratios: 2 is 200 % of critical damping; if 2 % was meant, write 0.02",
          "m.toml:4: frame.damping_ratios: 5 is 500 % of critical damping; if 5 % was meant, write 0.05"}},
        {__LINE__,
         "[1.0, 0.05]",
         "8",
         {"m.toml:4: frame.damping_ratios: 1 is 100 % of critical damping; if 1 % was meant, write 0.01",
          "m.toml:9: tmd[1].damping_ratio: 8 is 800 % of critical damping; if 8 % was meant, write 0.08"}},
        {__LINE__,
         "[0.02, 0.05]",
         "0.5",
         {"m.toml:9: tmd[1].damping_ratio: 0.5 is 50 % of critical damping; if 0.5 % was meant, write 0.005"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const std::string text = kFrame + "damping_ratios = " + row.frame_ratios +
                                 "\n[[tmd]]\nstorey = 2\nmass = 8.0\nfrequency_ratio = 1.0\ndamping_ratio = " +
                                 row.tmd_ratio + "\n";
        const e2e::Outcome o = run_design({"modes", "m.toml"}, text);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_NE(o.out.find("Modes of the damped system"), std::string::npos);
        std::string want;
        for (const std::string& w : row.warnings) want += "varnostik-design: warning: " + w + "\n";
        EXPECT_EQ(o.err, want);
    }
}

TEST(DesignFaults, DashIsStandardOutputForOneOutput) {
    const std::string text = kFrame + "damping_ratios = [0.02, 0.02]\n" + kSweep + "[random]\nforce_psd = [0.0, 1.0]\n";
    const bool gnuplot = std::system("command -v gnuplot >/dev/null 2>&1") == 0;
    struct Row {
        int line;
        std::vector<std::string> args;
        int status;
        std::string out_begins;  // standard output's first bytes
        std::vector<std::string> files;  // left beside the description
        bool needs_gnuplot;
    } rows[] = {
        {__LINE__, {"modes", "m.toml", "--csv", "-"}, 0, "mode,damped_frequency,", {}, false},
        {__LINE__, {"peaks", "m.toml", "--csv", "-"}, 0, "curve,lambda,value,largest\n", {}, false},
        {__LINE__, {"random", "m.toml", "--csv", "-"}, 0, "quantity,rms\n", {}, false},
        {__LINE__, {"response", "m.toml", "--csv", "-"}, 0, "lambda,", {}, false},
        {__LINE__, {"modes", "m.toml"}, 0, "Modes of the damped system", {}, false},
        {__LINE__, {"response", "m.toml", "--csv", "-", "-o", "-"}, 2, "", {}, false},
        {__LINE__, {"response", "m.toml"}, 2, "", {}, false},
        // The tuned description would be mixed with tune's table.
        {__LINE__, {"tune", "m.toml", "-o", "-"}, 2, "", {}, false},
        {__LINE__, {"response", "m.toml", "-o", "-"}, 0, "<?xml", {}, true},
        {__LINE__, {"response", "m.toml", "-o", "p.svg"}, 0, "", {"p.svg"}, true},
        {__LINE__, {"response", "m.toml", "-o", "p.svg", "--csv", "-"}, 0, "lambda,", {"p.svg"}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        if (row.needs_gnuplot && !gnuplot) continue;
        const e2e::Outcome o = run_design(row.args, text);
        EXPECT_EQ(o.status, row.status) << o.err;
        EXPECT_EQ(o.out.substr(0, row.out_begins.size()), row.out_begins);
        if (row.status != 0) {
            EXPECT_EQ(o.out, "");
        }
        std::vector<std::string> files;
        for (const auto& [name, bytes] : o.files)
            if (name != "m.toml") files.push_back(name);
        EXPECT_EQ(files, row.files);
    }
}

TEST(DesignFaults, AStrokeIsDrawnAgainstTheAmplitudePanelsOwnRightHandAxis) {
    const auto count = [](const std::string& text, const std::string& part) {
        long n = 0;
        for (std::size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
        return n;
    };
    struct Row {
        int line;
        std::vector<bool> right;  // each series' axis
        long on_right;            // curves drawn against the right-hand axis
        bool log;
    } rows[] = {
        {__LINE__, {false, false}, 0, false},
        {__LINE__, {false, true}, 1, false},
        {__LINE__, {false, false, true, true}, 2, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        plot::Curves c;
        c.from = 1.0, c.to = 3.0, c.steps = 3;
        c.right_axis_label = "strokes";
        for (std::size_t k = 0; k < row.right.size(); ++k) {
            plot::Series s;
            s.unknown = static_cast<int32_t>(k + 1);
            // The right-hand curves a hundred times the others.
            const double size = row.right[k] ? 100.0 : 1.0;
            s.amplitude = {{1.0, 2.0, 3.0}, {0.5 * size, 1.0 * size, 0.25 * size}};
            s.phase = {{1.0, 2.0, 3.0}, {0.0, 90.0, 180.0}};
            s.right_axis = row.right[k];
            c.series.push_back(s);
        }
        plot::Style style;
        style.log = row.log;
        const std::string script = plot::gnuplot_script(c, style, plot::Format::svg, "p.svg");
        EXPECT_EQ(count(script, "axes x1y2"), row.on_right);
        EXPECT_EQ(count(script, "\nset y2tics"), row.on_right > 0 ? 1 : 0);
        EXPECT_EQ(count(script, "\nset y2label 'strokes'"), row.on_right > 0 ? 1 : 0) << script;
        // The left-hand axis is sized by its own curves, not by the strokes.
        if (!row.log) {
            EXPECT_NE(script.find("set yrange [0:1.15]"), std::string::npos) << script;
        }
    }
}

TEST(DesignFaults, TheRetunedTextChangesOnlyTheTunedDampersKeys) {
    struct Row {
        int line;
        std::string text;
        int32_t damper, mode;
        double ratio, zeta;
        std::string want;
    } rows[] = {
        // Spring and dashpot given otherwise: replaced where they stand,
        // the mode on a line of its own, indented as its neighbours.
        {__LINE__, "# frame\n[[tmd]]   # top\n  storey = 2\n  stiffness = 3000.0   # kN/m\n  damping = 5.0\n", 1, 1,
         0.95237241, 0.133938449,
         "# frame\n[[tmd]]   # top\n  storey = 2\n  frequency_ratio = 0.952372   # kN/m\n  mode = 1\n"
         "  damping_ratio = 0.133938\n"},
        // The mode's new line starts where the dashpot's key does.
        {__LINE__, "[[tmd]]\nstiffness = 1.0\ndamping = 2.0\n", 1, 1, 0.5, 0.25,
         "[[tmd]]\nfrequency_ratio = 0.5\nmode = 1\ndamping_ratio = 0.25\n"},
        {__LINE__, "[[tmd]]\nmode = 2\ndamping_ratio = 0.1\nfrequency_ratio = 1.0\n", 1, 2, 1.0, 2.0,
         "[[tmd]]\nmode = 2\ndamping_ratio = 2.0\nfrequency_ratio = 1.0\n"},
        // The second of two; the first untouched; CRLF kept; the last line
        // without its line end.
        {__LINE__, "[[tmd]]\r\nfrequency = 2.0\r\ndamping = 1.0\r\n[[tmd]]\r\ndamping = 1.0\r\nfrequency = 2.0", 2, 3,
         1.23456789e-5, 0.5,
         "[[tmd]]\r\nfrequency = 2.0\r\ndamping = 1.0\r\n[[tmd]]\r\ndamping_ratio = 0.5\r\nfrequency_ratio = "
         "1.23457e-05\r\nmode = 3"},
        // An inline table, after a text beyond ASCII on the same line.
        {__LINE__, "tmd = [{note = \"żółw\", frequency = 2.0, damping = 0.1}]  # ß\n", 1, 1, 0.98, 0.05,
         "tmd = [{note = \"żółw\", frequency_ratio = 0.98, mode = 1, damping_ratio = 0.05}]  # ß\n"},
        {__LINE__, "tmd = [{ mode = 1, stiffness = 2, damping = 0.1 }]\n", 1, 2, 100000.0, 0.001,
         "tmd = [{ mode = 2, frequency_ratio = 100000.0, damping_ratio = 0.001 }]\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(design::tuned_text_of(row.text, "m.toml", row.damper, row.mode, row.ratio, row.zeta), row.want);
    }
    struct Refusal {
        int line;
        std::string text;
        int32_t damper;
        double ratio;
        std::string message;
    } refusals[] = {
        {__LINE__, "[[tmd]]\nfrequency = 2.0\ndamping = 1.0\n", 2, 1.0, "m.toml: tmd: no tuned mass 2 to retune"},
        {__LINE__, "[[tmd]]\nfrequency = 2.0\ndamping = 1.0\n", 1, std::nan(""), "not a finite number"},
        {__LINE__, "[[tmd]]\nfrequency = 2.0\n", 1, 1.0, "m.toml:1: tmd[1]: its spring and dashpot are not both"},
    };
    for (const Refusal& row : refusals) {
        SCOPED_TRACE(row.line);
        try {
            design::tuned_text_of(row.text, "m.toml", row.damper, 1, row.ratio, 0.1);
            ADD_FAILURE() << "not refused";
        } catch (const design::Refused& e) {
            EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
        }
    }
}

TEST(DesignFaults, TuneWritesTheDescriptionBackWithItsComments) {
    const std::string text = "# keep me\n" + kFrame + "damping_ratios = [0.02, 0.02]\n" +
                             "[[tmd]]\nstorey = 2\nmass = 8.0   # t\nstiffness = 3000.0\ndamping = 5.0\n" + kSweep;
    const e2e::Outcome o = run_design({"tune", "m.toml", "-o", "n.toml"}, text);
    ASSERT_EQ(o.status, 0) << o.err;
    ASSERT_EQ(o.files.count("n.toml"), 1u);
    const std::vector<std::string> before = lines_of(text), after = lines_of(o.files.at("n.toml"));
    ASSERT_EQ(after.size(), before.size() + 1);
    for (std::size_t i = 0, j = 0; i < before.size(); ++i, ++j) {
        SCOPED_TRACE(before[i]);
        if (before[i].rfind("stiffness = ", 0) == 0) {
            EXPECT_EQ(after[j].rfind("frequency_ratio = ", 0), 0u);
            EXPECT_EQ(after[++j], "mode = 1");
        } else if (before[i].rfind("damping = ", 0) == 0) {
            EXPECT_EQ(after[j].rfind("damping_ratio = ", 0), 0u);
        } else {
            EXPECT_EQ(after[j], before[i]);
        }
    }
}

}  // namespace
