// varnostik-design: the tuning against the single-storey minimax optimum,
// the response against a complex solve in long double, the damped modes
// against their closed form, the storeys against the program's printed
// digits, and every refusal of a description.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/reference_complex.h"
#include "design/damped_modes.h"
#include "design/datafile.h"
#include "design/description.h"
#include "design/response.h"
#include "design/tune.h"
#include "design/tuned_text.h"
#include "e2e_run.h"
#include "tests/toml_file.h"
#include "textio/edit.h"

namespace {

using Real = long double;
using Complex = std::complex<Real>;

using tests::TomlFile;
using tests::model_of;

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
    const design::TuneResult r = design::tune(design::read_description(f.path), {});
    EXPECT_GE(r.tuned.extremes.amplitude.value, 6.40312 - 1e-5);
    EXPECT_LE(std::fabs(r.tuned.extremes.amplitude.value - 6.40792), 5e-4);
    EXPECT_LT(r.tuned.extremes.amplitude.value, r.start.extremes.amplitude.value);
    // The tuned values written back, to the six digits a data file carries,
    // give the same tuning to those digits.
    const std::string again = design::tuned_text(f.path, 1, 1, r.tuned.frequency_ratio, r.tuned.damping_ratio);
    TomlFile g(again);
    const design::Model m = design::build_model(design::read_description(g.path));
    const design::Extremes e = design::measure(m, r.request, g.path);
    EXPECT_NEAR(e.amplitude.value, r.tuned.extremes.amplitude.value, 1e-5 * r.tuned.extremes.amplitude.value);
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
        const std::vector<design::DampedMode> modes = design::damped_modes(m.NU, m.MS, m.CS, m.KS);
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
              "f_hz,amplitude_1,phase_1,amplitude_2,phase_2,amplitude_3,phase_3,amplitude_4,phase_4,"
              "acceleration_1,acceleration_2,acceleration_3,acceleration_4,stroke_1,drift_1,drift_2,drift_3,"
              "base_shear");
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
        // A tuned mass given neither damping nor damping_ratio is no
        // undamped tuned mass: the description is refused.
        {__LINE__, frame + "[[tmd]]\nstorey = 2\nmass = 0.1\nfrequency_ratio = 1.0\n" + force + sweep,
         "m.toml:5: tmd[1].damping_ratio: give exactly one of damping_ratio, damping"},
        {__LINE__, frame + "[[tmd]]\nstorey = 2\nmass = 0.1\nstiffness = 1.0\n" + tmd + force + sweep,
         "m.toml:5: tmd[1].damping_ratio: give exactly one of damping_ratio, damping"},
        {__LINE__, frame + tmd + "[[tmd]]\nstorey = 1\nmass = 0.1\nstiffness = 1.0\n" + force + sweep,
         "m.toml:10: tmd[2].damping_ratio: give exactly one of damping_ratio, damping"},
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
         "m.toml:2: frame.mass_matrix: the mass matrix is not positive definite"},
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
        {__LINE__, {"tune", "m.toml", "--objective", "h2"}, 2, "--objective takes peak or rms"},
        {__LINE__, {"tune", "m.toml", "--quantity", "velocity"}, 2, "--quantity takes displacement, acceleration"},
        {__LINE__, {"tune", "m.toml", "--target", "1,,2"}, 2, "--target needs a storey or a list of storeys"},
        {__LINE__, {"tune", "m.toml", "--target", "2"}, 1, "--target: 2 is tuned mass 1, not a storey: the storeys are 1 to 1"},
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
    const std::string example((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string title_line = "title = \"Rama trzykondygnacyjna z tlumikiem\"";
    ASSERT_NE(example.find(title_line), std::string::npos);
    const auto count = [](const std::string& text, const std::string& part) {
        long n = 0;
        for (std::size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
        return n;
    };
    struct Row {
        int line;
        std::string title;  // the description's title line; empty: the example's own
        std::string lang;
        std::vector<std::pair<std::string, long>> shown;  // a text and how often the picture holds it
    } rows[] = {
        // Storeys named storeys, the stroke on the panel's right-hand axis.
        {__LINE__,
         "",
         "en",
         {{"storey 3", 2},
          {"storey 1", 2},
          {"stroke of tuned mass 1", 2},
          {"unknown", 0},
          {"strokes of the tuned masses", 1}}},
        // A title that reads like a curve's name stays the title: each text
        // once drawn, and the curve's once more as its tooltip.
        {__LINE__, "title = \"niewiadoma 4\"", "pl", {{"niewiadoma 4", 1}, {"skok tłumika 1", 2}}},
        {__LINE__, "title = \"stroke & <b> ]]> ^{2}\"", "en",
         {{"stroke &amp; &lt;b> ]]</tspan>", 1}, {"stroke of tuned mass 1", 2}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        std::string description = example;
        if (!row.title.empty()) description.replace(description.find(title_line), title_line.size(), row.title);
        e2e::Run r;
        r.program = VARNOSTIK_DESIGN_BIN;
        r.args = {"response", "rama3t.toml", "--csv", "r.csv", "-o", "r.svg", "--lang", row.lang};
        r.files = {{"rama3t.toml", description}};
        const e2e::Outcome o = e2e::run(r);
        ASSERT_EQ(o.status, 0) << o.err;
        ASSERT_EQ(o.files.count("r.svg"), 1u);
        const std::string& svg = o.files.at("r.svg");
        for (const auto& [text, times] : row.shown) EXPECT_EQ(count(svg, text), times) << text;
    }
}

}  // namespace

namespace {

namespace fs = std::filesystem;

// The example frame with its tuned mass, as the hostile-name runs use it.
std::string example_description() {
    std::ifstream in(VARNOSTIK_EXAMPLES "/rama3t.toml");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A folder of a test's own beside the run's folder: its files, links and
// FIFOs set up before the run and looked at after it.
struct Side {
    fs::path path;
    Side() {
        std::string dir = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/vdside_XXXXXX";
        if (mkdtemp(dir.data()) != nullptr) path = dir;
    }
    ~Side() {
        std::error_code ec;
        if (!path.empty()) fs::remove_all(path, ec);
    }
    void file(const std::string& name, const std::string& text) const { std::ofstream(path / name) << text; }
    // What is there: a file's bytes, "-> target" for a link, "fifo", "folder",
    // "socket".
    std::map<std::string, std::string> entries() const {
        std::map<std::string, std::string> m;
        for (const auto& e : fs::directory_iterator(path)) {
            const std::string name = e.path().filename().string();
            if (e.is_symlink())
                m[name] = "-> " + fs::read_symlink(e.path()).string();
            else if (e.is_fifo())
                m[name] = "fifo";
            else if (e.is_directory())
                m[name] = "folder";
            else if (e.is_socket())
                m[name] = "socket";
            else {
                std::ifstream in(e.path(), std::ios::binary);
                m[name] = std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            }
        }
        return m;
    }
    // The arguments with "@" at the start of one standing for the folder.
    std::vector<std::string> args(std::vector<std::string> a) const {
        for (std::string& s : a)
            if (!s.empty() && s[0] == '@') s = path.string() + s.substr(1);
        return a;
    }
};

// Hostile and careless output names: no name runs a command, no output
// replaces the description or another output (nothing at all is written
// then), a link planted at a name the writer might use is not followed, a
// user's own file beside the outputs is untouched, and a link given as
// the output keeps its place while its target takes the bytes.
TEST(Design, OutputNamesNeverRunACommandNorReplaceTheDescription) {
    const bool gnuplot = std::system("command -v gnuplot >/dev/null 2>&1") == 0;
    const std::string text = example_description();
    const std::string with_files = text + "\n[files]\n";
    struct Row {
        int line;
        std::vector<std::string> args;
        int status;
        std::string err;
        std::vector<std::string> written;  // files of the side folder that may change or appear
        bool needs_gnuplot = false;
    } rows[] = {
        {__LINE__, {"response", "@/model.toml", "--csv", "@/c.csv", "-o", "|touch PWNED; cat >/dev/null; echo .svg"}, 1,
         "cannot write |touch PWNED; cat >/dev/null; echo .svg", {}},
        {__LINE__, {"response", "@/model.toml", "--csv", "@/c.csv", "-o", "|touch PWNED; echo .svg"}, 0, "",
         {"c.csv"}, true},
        {__LINE__, {"response", "@/d.svg", "--csv", "@/c.csv", "-o", "@/d.svg"}, 1,
         "the description @/d.svg and -o @/d.svg are the same file", {}},
        {__LINE__, {"response", "@/model.toml", "--csv", "@/model.toml"}, 1,
         "the output would replace what is read", {}},
        {__LINE__, {"response", "@/model.toml", "--csv", "@/a.svg", "-o", "@/./a.svg"}, 1,
         "one output would replace the other", {}},
        {__LINE__, {"build", "@/model", "--dir", "@"}, 1, "the description @/model and the data file @/model", {}},
        {__LINE__, {"build", "@/m.toml", "--dir", "@"}, 1, "and the data file @/m.toml are the same file", {}},
        {__LINE__, {"build", "@/r.toml", "--dir", "@"}, 1, "and the results file @/r.toml are the same file", {}},
        {__LINE__, {"build", "@/x.in", "--dir", "@"}, 1, "and the answers @/x.in are the same file", {}},
        {__LINE__, {"tune", "@/model.toml", "-o", "@/model.toml"}, 1, "the output would replace what is read", {}},
        {__LINE__, {"modes", "@/model.toml", "--csv", "@/link.toml"}, 1, "are the same file", {}},
        // A link planted at the name the old writer used, and a user's
        // own file of that kind of name: neither is touched.
        {__LINE__, {"modes", "@/model.toml", "--csv", "@/out.csv"}, 0, "", {"out.csv"}},
        {__LINE__, {"build", "@/model.toml", "--dir", "@"}, 0, "", {"model", "model.in"}},
        // A link given as the output: its target replaced, the link kept.
        {__LINE__, {"modes", "@/model.toml", "--csv", "@/to-victim"}, 0, "", {"victim"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        if (row.needs_gnuplot && !gnuplot) continue;
        Side side;
        ASSERT_FALSE(side.path.empty());
        side.file("model.toml", text);
        side.file("model", text);
        side.file("d.svg", text);
        side.file("m.toml", with_files + "data = \"m.toml\"\n");
        side.file("r.toml", with_files + "results = \"r.toml\"\n");
        side.file("x.in", with_files + "data = \"x\"\n");
        side.file("victim", "the user's own\n");
        side.file("model.tmp", "the user's own\n");
        fs::create_symlink("victim", side.path / "out.csv.tmp");
        fs::create_symlink("victim", side.path / "to-victim");
        fs::create_symlink("model.toml", side.path / "link.toml");
        const auto before = side.entries();
        e2e::Run r;
        r.program = VARNOSTIK_DESIGN_BIN;
        r.args = side.args(row.args);
        const e2e::Outcome o = e2e::run(r);
        EXPECT_EQ(o.status, row.status) << o.err;
        std::string err = row.err;
        for (std::size_t at; (at = err.find('@')) != std::string::npos;) err.replace(at, 1, side.path.string());
        EXPECT_NE(o.err.find(err), std::string::npos) << o.err;
        // Nothing ran: no file of that name in either folder.
        EXPECT_EQ(o.files.count("PWNED"), 0u);
        const auto after = side.entries();
        EXPECT_FALSE(after.count("PWNED"));
        for (const auto& [name, was] : before) {
            ASSERT_TRUE(after.count(name)) << name << " is gone";
            if (std::find(row.written.begin(), row.written.end(), name) == row.written.end()) {
                EXPECT_EQ(after.at(name), was) << name << " changed";
            }
        }
        for (const auto& [name, now] : after) {
            if (!before.count(name)) {
                EXPECT_NE(std::find(row.written.begin(), row.written.end(), name), row.written.end())
                    << name << " was left behind";
            }
        }
        if (row.status == 0 && std::find(row.written.begin(), row.written.end(), "victim") != row.written.end()) {
            EXPECT_EQ(after.at("to-victim"), "-> victim");
            EXPECT_EQ(
                after.at("victim").rfind("mode,damped_frequency,undamped_frequency,damping_ratio,decay_rate\n", 0),
                0u);
        }
        if (row.needs_gnuplot) {
            EXPECT_EQ(o.files.count("|touch PWNED; echo .svg"), 1u) << "the picture under its name";
        }
    }
}

}  // namespace

namespace {

// An interrupt ends varnostik-design with 128 + N and a line that names
// the signal, whatever it was doing: waiting for a FIFO's reader (with a
// finished output in its temporary file beside it), drawing, or tuning.
// Nothing is left behind: no output, no temporary file beside the
// outputs, no private folder of the picture.
TEST(Design, InterruptsEndWithTheSignalsStatusAndLeaveNothing) {
    const bool gnuplot = std::system("command -v gnuplot >/dev/null 2>&1") == 0;
    std::string fine = example_description();
    fine.replace(fine.find("step = 0.1"), 10, "step = 0.002");
    struct Row {
        int line;
        std::vector<std::string> args;
        int signal;
        bool needs_gnuplot = false;
        bool while_drawing = false;  // sent once gnuplot's private folder is there
    } rows[] = {
        {__LINE__, {"response", "@/model.toml", "--csv", "@/fifo"}, SIGTERM},
        {__LINE__, {"modes", "@/model.toml", "--csv", "@/fifo"}, SIGHUP},
        // The answers wait in their temporary file while the data file,
        // a FIFO, waits for its reader.
        {__LINE__, {"build", "@/model.toml", "--dir", "@"}, SIGINT},
        // The CSV waits while the picture goes to the FIFO.
        {__LINE__, {"response", "@/model.toml", "--csv", "@/c.csv", "-o", "@/fifo.svg"}, SIGTERM, true},
        {__LINE__, {"response", "@/fine.toml", "--csv", "@/c.csv", "-o", "@/p.svg"}, SIGTERM, true, true},
        // Twenty storeys: a search of several seconds.
        {__LINE__, {"tune", "@/tall.toml", "-o", "@/t.toml"}, SIGHUP},
    };
    std::string tall = "[frame]\nmasses = [";
    for (int k = 0; k < 20; ++k) tall += k ? ", 100.0" : "100.0";
    tall += "]\nstiffnesses = [";
    for (int k = 0; k < 20; ++k) tall += k ? ", 40000.0" : "40000.0";
    tall += "]\ndamping_ratios = [0.01, 0.01]\n[[tmd]]\nstorey = 20\nmass = 40.0\nfrequency_ratio = 1.0\n"
            "damping_ratio = 0.1\n[force]\ncos = [";
    for (int k = 0; k < 20; ++k) tall += k < 19 ? "0.0, " : "100.0]\n";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        if (row.needs_gnuplot && !gnuplot) continue;
        Side side;
        ASSERT_FALSE(side.path.empty());
        side.file("model.toml", example_description());
        side.file("fine.toml", fine);
        side.file("tall.toml", tall);
        for (const char* name : {"fifo", "fifo.svg", "model"}) ASSERT_EQ(mkfifo((side.path / name).c_str(), 0600), 0);
        ASSERT_TRUE(fs::create_directory(side.path / "tmp"));
        const auto before = side.entries();
        e2e::Run r;
        r.program = VARNOSTIK_DESIGN_BIN;
        r.args = side.args(row.args);
        r.env = {{"TMPDIR", (side.path / "tmp").string()}};
        r.signal = row.signal;
        // Sent a moment after the start: by then the command waits for the
        // FIFO's reader or computes; either way it must end the same.  While
        // drawing: once gnuplot's private folder is there (or, on a machine
        // too slow to catch it, later all the same).
        const auto start = std::chrono::steady_clock::now();
        const fs::path tmp = side.path / "tmp";
        r.when = [start, tmp, &row](const std::string&, const std::string&) {
            const auto waited = std::chrono::steady_clock::now() - start;
            if (row.while_drawing) return !fs::is_empty(tmp) || waited > std::chrono::seconds(5);
            return waited > std::chrono::milliseconds(400);
        };
        const e2e::Outcome o = e2e::run(r);
        EXPECT_FALSE(o.timed_out);
        EXPECT_EQ(o.status, 128 + row.signal) << o.err;
        const std::string name = row.signal == SIGTERM ? "SIGTERM" : row.signal == SIGINT ? "SIGINT" : "SIGHUP";
        EXPECT_NE(o.err.find("varnostik-design: interrupted by " + name + "\n"), std::string::npos) << o.err;
        EXPECT_EQ(side.entries(), before);
        EXPECT_TRUE(fs::is_empty(side.path / "tmp")) << "the picture's private folder is left";
    }
}

// A result beyond the range of numbers ends the command with status 1,
// naming the quantity and the frequency, with no output written; the
// tuning gives it up at once instead of searching on infinite peaks.
TEST(Design, ValuesBeyondTheRangeOfNumbersEndTheCommand) {
    struct Row {
        int line;
        std::vector<std::string> args;
        std::string force;
        int status;
        std::string err;
    } rows[] = {
        {__LINE__, {"response", "@/m.toml", "--csv", "@/c.csv"}, "1e300", 1,
         "m.toml: the amplitude of unknown 1 at LAMBDA=4 is beyond the range of numbers (inf)"},
        {__LINE__, {"tune", "@/m.toml", "-o", "@/t.toml"}, "1e300", 1,
         "m.toml: the largest displacement relative to the ground of storey 3 with the given tuning at LAMBDA=0 is "
         "beyond the range of numbers"},
        {__LINE__, {"tune", "@/m.toml", "--target", "1", "--quantity", "drift"}, "-1e300", 1,
         "the largest drift of storey 1 with the given tuning at LAMBDA="},
        // Large but within the range: computed and written.
        {__LINE__, {"response", "@/m.toml", "--csv", "@/c.csv"}, "1e100", 0, ""},
    };
    std::string text = example_description();
    const std::size_t cos = text.find("cos = [0.0, 0.0, 100.0]");
    ASSERT_NE(cos, std::string::npos);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        Side side;
        ASSERT_FALSE(side.path.empty());
        side.file("m.toml", std::string(text).replace(cos, 23, "cos = [0.0, 0.0, " + row.force + "]"));
        e2e::Run r;
        r.program = VARNOSTIK_DESIGN_BIN;
        r.args = side.args(row.args);
        const auto start = std::chrono::steady_clock::now();
        const e2e::Outcome o = e2e::run(r);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ(o.status, row.status) << o.err;
        EXPECT_NE(o.err.find(row.err), std::string::npos) << o.err;
        EXPECT_EQ(side.entries().size(), row.status == 0 ? 2u : 1u) << "an output was written";
        if (row.status != 0) {
            EXPECT_EQ(o.out.find("inf"), std::string::npos) << o.out;
        }
    }
}

}  // namespace

namespace {

// An output that is not a regular file takes the bytes in place: standard
// output by "-" or its own name, a FIFO read by another (it stays a FIFO);
// a socket, which cannot be opened, is refused at once.
TEST(Design, OutputsToStreamsAreWrittenInPlace) {
    enum class To { out, fifo, socket };
    struct Row {
        int line;
        std::string csv;
        To to;
        int status;
    } rows[] = {
        {__LINE__, "-", To::out, 0},
        {__LINE__, "/dev/stdout", To::out, 0},
        {__LINE__, "/dev/fd/1", To::out, 0},
        {__LINE__, "@/fifo", To::fifo, 0},
        {__LINE__, "@/socket", To::socket, 1},
    };
    const std::string header = "mode,damped_frequency,undamped_frequency,damping_ratio,decay_rate\n1,";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        Side side;
        ASSERT_FALSE(side.path.empty());
        side.file("model.toml", example_description());
        ASSERT_EQ(mkfifo((side.path / "fifo").c_str(), 0600), 0);
        const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(sock, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const std::string name = (side.path / "socket").string();
        ASSERT_LT(name.size(), sizeof addr.sun_path);
        std::memcpy(addr.sun_path, name.c_str(), name.size() + 1);
        ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
        std::string read;
        std::thread reader;
        if (row.to == To::fifo)
            reader = std::thread([&] {
                std::ifstream in(side.path / "fifo", std::ios::binary);
                read.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            });
        e2e::Run r;
        r.program = VARNOSTIK_DESIGN_BIN;
        r.args = side.args({"modes", "@/model.toml", "--csv", row.csv});
        r.timeout = std::chrono::milliseconds(10000);
        const e2e::Outcome o = e2e::run(r);
        if (reader.joinable()) reader.join();
        close(sock);
        EXPECT_FALSE(o.timed_out);
        EXPECT_EQ(o.status, row.status) << o.err;
        if (row.status == 0) {
            const std::string& got = row.to == To::out ? o.out : read;
            EXPECT_NE(got.find(header), std::string::npos) << got;
        } else {
            EXPECT_NE(o.err.find("cannot write " + name), std::string::npos) << o.err;
        }
        const auto after = side.entries();
        EXPECT_EQ(after.size(), 3u);
        EXPECT_EQ(after.at("fifo"), "fifo");
    }
}

// Standard output that takes nothing (its reader gone before the first
// byte): the tables are lost, so the command fails and says why.
TEST(Design, StandardOutputThatCannotBeWrittenIsAFailure) {
    const std::string model = std::string(VARNOSTIK_EXAMPLES) + "/rama3t.toml";
    const struct {
        int line;
        std::vector<std::string> args;
    } rows[] = {
        {__LINE__, {"modes", model}},
        {__LINE__, {"tune", model}},
        {__LINE__, {"response", model, "--csv", "-"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        int out[2], err[2];
        ASSERT_EQ(pipe(out), 0);
        ASSERT_EQ(pipe(err), 0);
        close(out[0]);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            dup2(out[1], 1);
            dup2(err[1], 2);
            std::vector<char*> argv{const_cast<char*>(VARNOSTIK_DESIGN_BIN)};
            for (const std::string& a : row.args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        std::string said;
        char buf[4096];
        for (ssize_t n; (n = read(err[0], buf, sizeof buf)) > 0;) said.append(buf, static_cast<std::size_t>(n));
        close(err[0]);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << said;
        EXPECT_EQ(WEXITSTATUS(status), 1) << said;
        EXPECT_NE(said.find("cannot write"), std::string::npos) << said;
    }
}

}  // namespace
