// varnostik-design: the tuning against the single-storey minimax optimum,
// the response against a complex solve in long double, the damped modes
// against their closed form, the storeys against the program's printed
// digits, and every refusal of a description.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/reference_complex.h"
#include "design/damped_modes.h"
#include "design/datafile.h"
#include "design/description.h"
#include "design/response.h"
#include "design/tune.h"
#include "e2e_run.h"
#include "textio/edit.h"

namespace {

using Real = long double;
using Complex = std::complex<Real>;

// A description written to a temporary file, removed at the end.
struct TomlFile {
    std::string path;
    explicit TomlFile(const std::string& text, const std::string& name = "model") {
        std::string dir = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/vdesign_XXXXXX";
        if (mkdtemp(dir.data()) == nullptr) return;
        path = dir + "/" + name + ".toml";
        std::ofstream(path) << text;
    }
    ~TomlFile() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(std::filesystem::path(path).parent_path(), ec);
    }
};

design::Model model_of(const std::string& text) {
    TomlFile f(text);
    return design::build_model(design::read_description(f.path));
}

// A uniform shear frame of n storeys (mass m, storey stiffness k) with one
// tuned mass (md, kd, cd) on the top storey and a cos force F on the top:
// its natural frequencies in closed form, Rayleigh damping fitted to the
// two lowest, and the response at LAMBDA solved in long double.
struct ShearFrame {
    int n;
    Real m, k, gamma, md, kd, cd, F;

    std::vector<Complex> solve(Real lambda) const {
        const Real pi = 3.141592653589793238462643383279502884L;
        auto omega = [&](int j) { return 2 * std::sqrt(k / m) * std::sin((2 * j - 1) * pi / (2 * (2 * n + 1))); };
        const Real w1 = omega(1), w2 = omega(2);
        const Real alpha = 2 * gamma * w1 * w2 / (w1 + w2), beta = 2 * gamma / (w1 + w2);
        const std::size_t N = static_cast<std::size_t>(n) + 1;
        std::vector<std::vector<Complex>> A(N, std::vector<Complex>(N));
        for (int i = 0; i < n; ++i) {
            const Real kii = i + 1 < n ? 2 * k : k;
            A[i][i] = Complex(kii - lambda * lambda * m, lambda * (alpha * m + beta * kii));
            if (i + 1 < n) {
                A[i][i + 1] = A[i + 1][i] = Complex(-k, -lambda * beta * k);
            }
        }
        const std::size_t top = N - 2, t = N - 1;
        A[top][top] += Complex(kd, lambda * cd);
        A[top][t] = A[t][top] = Complex(-kd, -lambda * cd);
        A[t][t] = Complex(kd - lambda * lambda * md, lambda * cd);
        std::vector<Complex> b(N);
        b[top] = F;  // the system is (K - l^2 M + i l C) X = PC - i PS
        return complex_solve(A, b);
    }

    std::string toml() const {
        std::ostringstream s;
        s.precision(17);
        s << "[frame]\nmasses = [";
        for (int i = 0; i < n; ++i) s << (i ? ", " : "") << static_cast<double>(m);
        s << "]\nstiffnesses = [";
        for (int i = 0; i < n; ++i) s << (i ? ", " : "") << static_cast<double>(k);
        s << "]\ndamping_ratios = [" << static_cast<double>(gamma) << ", " << static_cast<double>(gamma) << "]\n"
          << "[[tmd]]\nstorey = " << n << "\nmass = " << static_cast<double>(md)
          << "\nstiffness = " << static_cast<double>(kd) << "\ndamping = " << static_cast<double>(cd) << "\n"
          << "[force]\ncos = [";
        for (int i = 0; i < n; ++i) s << (i ? ", " : "") << (i + 1 == n ? static_cast<double>(F) : 0.0);
        s << "]\n[sweep]\nfrom = " << 0.7 * static_cast<double>(std::sqrt(k / m) * 0.44)
          << "\nto = " << 1.3 * static_cast<double>(std::sqrt(k / m) * 0.44)
          << "\nstep = " << 0.01 * static_cast<double>(std::sqrt(k / m) * 0.44) << "\n";
        return s.str();
    }
};

TEST(Design, ResponseOfEveryUnknownAndTheStrokeAgainstAComplexSolve) {
    struct Row {
        int line;
        ShearFrame frame;
    } rows[] = {
        {__LINE__, {3, 100, 40000, 0.02L, 15, 1188, 26.7L, 100}},           // rama3's frame, t kN m s
        {__LINE__, {10, 5e5L, 1e9L, 0.02L, 1e5L, 4.15e6L, 1.45e5L, 1e5L}},  // stiff SI units, 11 unknowns
        {__LINE__, {2, 1, 1, 0, 0.05L, 0.05L * 0.6L * 0.6L, 1e-4L, 1}},  // a light dashpot: the stroke's peak is sharp
        {__LINE__, {3, 100, 40000, 0.02L, 15, 1.188e7L, 26.7L, 100}},  // a stiff spring: a stroke far below the motion
        {__LINE__, {10, 5e5L, 1e9L, 0.02L, 1.0L, 4.15e9L, 1.45e1L, 1e5L}},  // a light mass on a stiff spring
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const design::Model m = model_of(row.frame.toml());
        const design::Response r = design::compute_response(m, "model");
        ASSERT_FALSE(r.lambda.empty());
        EXPECT_TRUE(r.inaccurate.empty());
        for (std::size_t i = 0; i < r.lambda.size(); ++i) {
            const std::vector<Complex> x = row.frame.solve(r.lambda[i]);
            const std::size_t n = static_cast<std::size_t>(row.frame.n);
            for (std::size_t k = 0; k <= n; ++k) {
                const Real want = std::abs(x[k]);
                EXPECT_LE(std::fabs(r.amplitude[k][i] - want), 1e-8L * want) << "unknown " << k + 1 << " step " << i;
            }
            const Real stroke = std::abs(x[n] - x[n - 1]);
            EXPECT_LE(std::fabs(r.stroke[0][i] - stroke), 1e-8L * stroke) << "step " << i;
            const Real drift = std::abs(x[n - 1] - (n > 1 ? x[n - 2] : Complex(0)));
            EXPECT_LE(std::fabs(r.drift[n - 1][i] - drift), 1e-8L * drift) << "step " << i;
        }
    }
}

TEST(Design, SingleStoreyTunedToTheMinimaxOptimum) {
    // m = k = 1, no damping, a tuned mass of mass ratio 0.05: the largest
    // amplitude over static deflection cannot go below sqrt(1 + 2/mu) and
    // its minimax optimum is 6.40792.
    const std::string text =
        "[frame]\nmasses = [1.0]\nstiffnesses = [1.0]\ndamping_ratios = [0.0, 0.0]\n"
        "[[tmd]]\nstorey = 1\nmass = 0.05\nfrequency_ratio = 1.0\ndamping_ratio = 0.05\n"
        "[force]\ncos = [1.0]\n[sweep]\nfrom = 0.6\nto = 1.4\nstep = 0.02\n";
    TomlFile f(text);
    const design::TuneResult r = design::tune(design::read_description(f.path), 1, 1);
    EXPECT_GE(r.tuned.extremes.amplitude.value, 6.40312 - 1e-5);
    EXPECT_LE(std::fabs(r.tuned.extremes.amplitude.value - 6.40792), 5e-4);
    EXPECT_LT(r.tuned.extremes.amplitude.value, r.start.extremes.amplitude.value);
    // The tuned values written back give the same tuning.
    const std::string again = design::tuned_description(f.path, 1, r.tuned.frequency_ratio, r.tuned.damping_ratio);
    TomlFile g(again);
    const design::Model m = design::build_model(design::read_description(g.path));
    const design::Extremes e = design::extremes(m, m.LAMMIN, m.LAMMAX, 1, 1);
    EXPECT_DOUBLE_EQ(e.amplitude.value, r.tuned.extremes.amplitude.value);
}

TEST(Design, ModesOfTwoMassesWithProportionalDampingInClosedForm) {
    // Masses 2 and 1 on springs 3 and 1: omega^2 = roots of
    // 2 w^4 - 6 w^2 + 3 = 0.  Rayleigh damping gives mode j exactly its
    // ratio: s = w (-z +- i sqrt(1 - z^2)), |s| = w; an overdamped mode
    // gives the two real roots w (-z +- sqrt(z^2 - 1)).
    const double w1 = std::sqrt((6 - std::sqrt(12.0)) / 4), w2 = std::sqrt((6 + std::sqrt(12.0)) / 4);
    auto real_roots = [](double w, double z) {
        return std::vector<double>{w * (z - std::sqrt(z * z - 1)), w * (z + std::sqrt(z * z - 1))};
    };
    struct Row {
        int line;
        double z1, z2;
        std::vector<std::pair<double, double>> want;  // frequency, ratio
    } rows[] = {
        {__LINE__, 0.0, 0.0, {{w1, 0.0}, {w2, 0.0}}},
        {__LINE__, 0.05, 0.1, {{w1, 0.05}, {w2, 0.1}}},
        {__LINE__, 0.2, 1.5, {{real_roots(w2, 1.5)[0], 1.0}, {w1, 0.2}, {real_roots(w2, 1.5)[1], 1.0}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        std::ostringstream t;
        t.precision(17);
        t << "[frame]\nmass_matrix = [[2.0, 0.0], [0.0, 1.0]]\nstiffness_matrix = [[4.0, -1.0], [-1.0, 1.0]]\n"
          << "damping_ratios = [" << row.z1 << ", " << row.z2 << "]\n"
          << "[force]\ncos = [1.0, 0.0]\n[sweep]\nfrom = 0.5\nto = 2.0\nstep = 0.5\n";
        const design::Model m = model_of(t.str());
        const design::Assembled a = design::assemble_model(m);
        const std::vector<design::DampedMode> modes = design::damped_modes(m.NU, a.MS, a.CS, a.KS);
        ASSERT_EQ(modes.size(), row.want.size());
        for (std::size_t i = 0; i < modes.size(); ++i) {
            EXPECT_NEAR(modes[i].frequency, row.want[i].first, 1e-5 * row.want[i].first) << "mode " << i + 1;
            EXPECT_NEAR(modes[i].damping_ratio, row.want[i].second, 1e-5) << "mode " << i + 1;
        }
    }
}

// The amplitudes of every step as the results file prints them.
std::vector<std::vector<std::string>> printed_amplitudes(const std::string& results) {
    std::vector<std::vector<std::string>> steps;
    std::istringstream in(results);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("AMPLITUDY DRGAN") == std::string::npos) continue;
        std::getline(in, line);
        std::istringstream fields(line);
        std::vector<std::string> v;
        for (std::string f; fields >> f;) v.push_back(f);
        steps.push_back(v);
    }
    return steps;
}

TEST(Design, StoreysPrintTheProgramsDigitsOnTheExample) {
    std::ifstream in(VARNOSTIK_EXAMPLES "/rama3t.toml");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    e2e::Run build;
    build.program = VARNOSTIK_DESIGN_BIN;
    build.args = {"build", "rama3t.toml"};
    build.files = {{"rama3t.toml", text}};
    const e2e::Outcome built = e2e::run(build);
    ASSERT_EQ(built.status, 0) << built.err;
    ASSERT_EQ(built.files.count("rama3t"), 1u);
    ASSERT_EQ(built.files.count("rama3t.in"), 1u);

    e2e::Run run;
    run.input = built.files.at("rama3t.in");
    run.files = {{"rama3t", built.files.at("rama3t")}};
    const e2e::Outcome ran = e2e::run(run);
    ASSERT_EQ(ran.status, 0) << ran.err;
    ASSERT_EQ(ran.files.count("rama3tw"), 1u);
    const auto printed = printed_amplitudes(ran.files.at("rama3tw"));

    const design::Model m = model_of(text);
    const design::Response r = design::compute_response(m, "rama3t.toml");
    ASSERT_EQ(printed.size(), r.lambda.size());

    // The CSV of the same sweep: its columns, and one row per step.
    e2e::Run csv = build;
    csv.args = {"response", "rama3t.toml", "--csv", "r.csv", "--hz"};
    const e2e::Outcome answered = e2e::run(csv);
    ASSERT_EQ(answered.status, 0) << answered.err;
    const std::string& table = answered.files.at("r.csv");
    EXPECT_EQ(table.substr(0, table.find('\n')),
              "f_hz,amplitude_1,phase_1,amplitude_2,phase_2,amplitude_3,phase_3,amplitude_4,phase_4,stroke_1,"
              "drift_1,drift_2,drift_3");
    EXPECT_EQ(static_cast<std::size_t>(std::count(table.begin(), table.end(), '\n')), r.lambda.size() + 1);
    for (std::size_t i = 0; i < printed.size(); ++i) {
        ASSERT_EQ(printed[i].size(), 3u);
        for (std::size_t k = 0; k < 3; ++k) {
            std::string mine;
            textio::edit_exp(mine, r.amplitude[k][i], 12, 6);
            EXPECT_EQ(mine.substr(mine.find_first_not_of(' ')), printed[i][k]) << "step " << i << " unknown " << k + 1;
        }
    }
}

// The examples' data files and answers are what build makes of their
// descriptions today: a change to the description or to the data file's
// writing that forgets the other shows here.  The typical model's answers
// are the benchmarks' replay.
TEST(Design, ExampleDataFilesAreWhatBuildMakesOfTheirDescriptions) {
    auto slurp = [](const std::string& name) {
        std::ifstream in(VARNOSTIK_EXAMPLES "/" + name, std::ios::binary);
        EXPECT_TRUE(in.good()) << name;
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    struct Row {
        int line;
        const char* description;  // built from examples/NAME.toml
        const char* data;         // the example it must equal
        const char* answers;      // the answers it must equal, or none
    };
    const Row rows[] = {
        {__LINE__, "rama3t", "rama3", nullptr},
        {__LINE__, "rama20t", "rama20t", "rama20t.in"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.line);
        const std::string toml = std::string(r.description) + ".toml";
        e2e::Run build;
        build.program = VARNOSTIK_DESIGN_BIN;
        build.args = {"build", toml};
        build.files = {{toml, slurp(toml)}};
        const e2e::Outcome built = e2e::run(build);
        ASSERT_EQ(built.status, 0) << built.err;
        ASSERT_EQ(built.files.count(r.description), 1u);
        EXPECT_TRUE(built.files.at(r.description) == slurp(r.data)) << "data file differs from examples/" << r.data;
        if (r.answers != nullptr) {
            const std::string answers = std::string(r.description) + ".in";
            ASSERT_EQ(built.files.count(answers), 1u);
            EXPECT_EQ(built.files.at(answers), slurp(r.answers));
        }
    }
}

TEST(Design, RefusalsNameFileLineAndKeyAndLeaveNoFile) {
    const std::string frame =
        "[frame]\nmasses = [1.0, 1.0]\nstiffnesses = [10.0, 10.0]\ndamping_ratios = [0.02, 0.02]\n";
    const std::string force = "[force]\ncos = [0.0, 1.0]\n";
    const std::string sweep = "[sweep]\nfrom = 1.0\nto = 5.0\nstep = 0.5\n";
    const std::string tmd = "[[tmd]]\nstorey = 2\nmass = 0.1\nfrequency_ratio = 1.0\ndamping_ratio = 0.1\n";
    struct Row {
        int line;
        std::string text;
        std::string message;
    } rows[] = {
        {__LINE__, frame + tmd + "dampign_ratio = 0.1\n" + force + sweep,
         "m.toml:10: tmd[1].dampign_ratio: unknown key"},
        {__LINE__, frame + force + sweep + "colour = 1\n", "m.toml:11: sweep.colour: unknown key"},
        {__LINE__, "[frame]\nmasses = [1.0, \"x\"]\nstiffnesses = [1.0, 1.0]\n",
         "m.toml:2: frame.masses: must be a number"},
        {__LINE__, "[frame]\nmasses = [1.0, 0.0]\nstiffnesses = [1.0, 1.0]\ndamping_ratios = [0.0, 0.0]\n",
         "m.toml:2: frame.masses: a mass must be positive"},
        {__LINE__, frame + "[[tmd]]\nstorey = 3\nmass = 0.1\nstiffness = 1.0\ndamping = 0.1\n" + force + sweep,
         "m.toml:6: tmd[1].storey: 3 outside 1 to 2"},
        {__LINE__, frame + "[[tmd]]\nstorey = 1\nmass = -0.1\nstiffness = 1.0\ndamping = 0.1\n" + force + sweep,
         "m.toml:7: tmd[1].mass: must be positive"},
        {__LINE__,
         frame + "[[tmd]]\nstorey = 1\nmass = 0.1\nfrequency_ratio = 1.0\nmode = 3\ndamping = 0.1\n" + force + sweep,
         "m.toml:9: tmd[1].mode: 3 outside 1 to 2"},
        {__LINE__,
         "[frame]\nmasses = [1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, "
         "1.0, 1.0, 1.0]\nstiffnesses = [1.0]\n",
         "m.toml:2: frame.masses: more than 20 storeys"},
        {__LINE__, "[frame]\nmass_matrix = [[1.0, 0.0], [0.0]]\nstiffness_matrix = [[1.0]]\n",
         "m.toml:2: frame.mass_matrix: not square"},
        {__LINE__, "[frame]\nmass_matrix = [[1.0, 0.5], [0.0, 1.0]]\nstiffness_matrix = [[1.0]]\n",
         "m.toml:2: frame.mass_matrix: not symmetric"},
        {__LINE__,
         "[frame]\nmass_matrix = [[1.0, 2.0], [2.0, 1.0]]\nstiffness_matrix = [[2.0, 0.0], [0.0, 1.0]]\n"
         "damping_ratios = [0.0, 0.0]\n[force]\ncos = [1.0, 0.0]\n" +
             sweep,
         "m.toml:1: frame.mass_matrix: the mass matrix is not positive definite"},
        {__LINE__, frame + "[force]\ncos = [1.0]\n" + sweep, "m.toml:6: force.cos: must hold 2 values, holds 1"},
        {__LINE__, frame + force + sweep + "[files]\ndata = \"toolongname\"\n",
         "m.toml:12: files.data: file name \"toolongname\" longer than 8"},
        {__LINE__, frame + force + sweep + "[files]\nresults = \"nul.txt\"\n",
         "m.toml:12: files.results: file name \"nul.txt\" names a device"},
        {__LINE__, frame + force + sweep + "[files]\nplot = \"LPT1\"\n",
         "m.toml:12: files.plot: file name \"LPT1\" names a device"},
        {__LINE__, frame + force + "[sweep]\nfrom = 1.0\nto = 5.0\nstep = 0.0\n",
         "m.toml:10: sweep.step: must be positive"},
        {__LINE__, frame + force + "[sweep]\nfrom = 0.0\nto = 2e6\nstep = 1.0\n",
         "m.toml:7: sweep: a range of more than 1000000 steps"},
        {__LINE__, frame + force + sweep + "plot = [1, 3]\n", "m.toml:11: sweep.plot: unknown 3 outside 1 to 2"},
        {__LINE__,
         "[frame]\nmass_matrix = [[1.0, 0.0], [0.0, 1.0]]\nstiffness_matrix = [[1.0, 0.0], [0.0, 1.0]]\n"
         "damping_ratios = [0.02, 0.02]\n" +
             force + sweep,
         "m.toml:1: frame: the two lowest natural frequencies are equal"},
        {__LINE__,
         frame +
             [&] {
                 std::string many;
                 for (int i = 0; i < 41; ++i)
                     many += "[[tmd]]\nstorey = 1\nmass = 0.1\nstiffness = 1.0\ndamping = 0.1\n";
                 return many;
             }() +
             force + sweep,
         "m.toml:205: tmd: more than 40 tuned masses"},
        {__LINE__, frame + force, "m.toml: sweep: missing table"},
        {__LINE__, "[frame\n", "m.toml:1: (syntax):"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        e2e::Run r;
        r.program = VARNOSTIK_DESIGN_BIN;
        r.args = {"build", "m.toml"};
        r.files = {{"m.toml", row.text}};
        const e2e::Outcome o = e2e::run(r);
        EXPECT_EQ(o.status, 1);
        EXPECT_NE(o.err.find(row.message), std::string::npos) << o.err;
        EXPECT_EQ(o.files.size(), 1u) << "a file was left beside the description";
    }
}

TEST(Design, CommandLineErrorsAreUsageErrors) {
    struct Row {
        int line;
        std::vector<std::string> args;
        int status;
        std::string err;
    } rows[] = {
        {__LINE__, {"draw", "m.toml"}, 2, "unknown command draw"},
        {__LINE__, {"build", "m.toml", "--colour"}, 2, "unknown option --colour"},
        {__LINE__, {"response", "m.toml"}, 2, "response needs --csv PATH"},
        {__LINE__, {"tune", "m.toml", "--damper", "x"}, 2, "--damper needs a positive integer"},
        {__LINE__, {}, 2, "no command given"},
        {__LINE__, {"tune", "m.toml", "--damper", "2"}, 1, "--damper: 2 outside 1 to 1"},
    };
    const std::string text =
        "[frame]\nmasses = [1.0]\nstiffnesses = [1.0]\ndamping_ratios = [0.0, 0.0]\n"
        "[[tmd]]\nstorey = 1\nmass = 0.05\nfrequency_ratio = 1.0\ndamping_ratio = 0.05\n"
        "[force]\ncos = [1.0]\n[sweep]\nfrom = 0.6\nto = 1.4\nstep = 0.02\n";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        e2e::Run r;
        r.program = VARNOSTIK_DESIGN_BIN;
        r.args = row.args;
        r.files = {{"m.toml", text}};
        const e2e::Outcome o = e2e::run(r);
        EXPECT_EQ(o.status, row.status);
        EXPECT_NE(o.err.find(row.err), std::string::npos) << o.err;
        EXPECT_EQ(o.files.size(), 1u);
    }
}

}  // namespace

namespace {

TEST(Design, PictureDrawsTheStrokesUnderTheirOwnName) {
    if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) GTEST_SKIP() << "gnuplot is not installed";
    std::ifstream in(VARNOSTIK_EXAMPLES "/rama3t.toml");
    e2e::Run r;
    r.program = VARNOSTIK_DESIGN_BIN;
    r.args = {"response", "rama3t.toml", "--csv", "r.csv", "-o", "r.svg", "--lang", "en"};
    r.files = {{"rama3t.toml", std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>())}};
    const e2e::Outcome o = e2e::run(r);
    ASSERT_EQ(o.status, 0) << o.err;
    ASSERT_EQ(o.files.count("r.svg"), 1u);
    const std::string& svg = o.files.at("r.svg");
    for (const char* text : {"unknown 3", "unknown 1", "stroke of tuned mass 1"})
        EXPECT_NE(svg.find(text), std::string::npos) << text;
    EXPECT_EQ(svg.find("unknown 4"), std::string::npos);
}

}  // namespace
