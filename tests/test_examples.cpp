// The bundled examples against an independent calculation: each example is
// run from its data file with its recorded answers, and what the program
// writes (natural frequencies, every plotted amplitude) is compared with
// closed forms and a complex solve in long double with partial pivoting.
// The numbers that examples/README.md states for each example (natural
// frequencies, damping ratio of every mode, the peaks of every plotted
// curve) are made here from the same calculation and must stand there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_run.h"
#include "tests/reference_complex.h"

namespace {

using Real = long double;
using Complex = std::complex<Real>;
using Matrix = std::vector<std::vector<Real>>;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

Matrix zeros(int n, int m) { return Matrix(n, std::vector<Real>(m, 0)); }

// The model as its data file holds it: the sizes line, then every matrix
// row by row, every value a blank-separated E12.6 field.
struct Model {
    int lk = 0, lt = 0, lpt = 0;
    Matrix mr, kr, mkk, mkt, mtt, ckk, ckt, ctt, kkk, kkt, ktt;
    Real gamma1 = 0, gamma2 = 0;
    std::vector<Real> pc, ps;
    double lammin = 0, lammax = 0, dlam = 0;
};

Model read_model(const std::string& text) {
    std::istringstream in(text);
    Model md;
    in >> md.lk >> md.lt >> md.lpt;
    auto next = [&] {
        std::string field;
        in >> field;
        return std::strtod(field.c_str(), nullptr);
    };
    auto matrix = [&](int n, int m) {
        Matrix a = zeros(n, m);
        for (auto& row : a)
            for (Real& v : row) v = next();
        return a;
    };
    md.mr = matrix(md.lk, md.lk);
    md.kr = matrix(md.lk, md.lk);
    md.gamma1 = next();
    md.gamma2 = next();
    Matrix* blocks[3][3] = {{&md.mkk, &md.mkt, &md.mtt}, {&md.ckk, &md.ckt, &md.ctt}, {&md.kkk, &md.kkt, &md.ktt}};
    for (auto& kind : blocks) {
        *kind[0] = md.lt != 0 ? matrix(md.lk, md.lk) : zeros(md.lk, md.lk);
        *kind[1] = md.lt != 0 && md.lpt > 0 ? matrix(md.lk, md.lpt) : zeros(md.lk, md.lpt);
        *kind[2] = md.lt != 0 && md.lpt > 0 ? matrix(md.lpt, md.lpt) : zeros(md.lpt, md.lpt);
    }
    for (auto* v : {&md.pc, &md.ps})
        for (int i = 0; i < md.lk; ++i) v->push_back(next());
    md.lammin = next();
    md.lammax = next();
    md.dlam = next();
    EXPECT_FALSE(in.fail()) << "the data file ends early";
    return md;
}

// The complete matrix of one kind: frame (or frame damping) plus damper
// blocks, the parameter-frame block the transpose of the frame-parameter one.
Matrix complete(const Matrix& frame, const Matrix& kk, const Matrix& kt, const Matrix& tt) {
    const int lk = static_cast<int>(frame.size()), nu = lk + static_cast<int>(tt.size());
    Matrix a = zeros(nu, nu);
    for (int i = 0; i < nu; ++i)
        for (int j = 0; j < nu; ++j) {
            if (i < lk && j < lk) a[i][j] = frame[i][j] + kk[i][j];
            else if (i < lk) a[i][j] = kt[i][j - lk];
            else if (j < lk) a[i][j] = kt[j][i - lk];
            else a[i][j] = tt[i - lk][j - lk];
        }
    return a;
}

// Steady state of M x'' + C x' + K x = PC cos(l t) + PS sin(l t): with
// x = Re(X exp(i l t)), (K - l^2 M + i l C) X = PC - i PS, and the
// amplitudes at cos and at sin are Re X and -Im X.
struct Response {
    std::vector<Real> amp, ac, as;
};

Response respond(const Matrix& m, const Matrix& c, const Matrix& k, const Model& md, Real l) {
    const std::size_t nu = m.size();
    std::vector<std::vector<Complex>> a(nu, std::vector<Complex>(nu));
    for (std::size_t i = 0; i < nu; ++i)
        for (std::size_t j = 0; j < nu; ++j) a[i][j] = Complex(k[i][j] - l * l * m[i][j], l * c[i][j]);
    std::vector<Complex> f(nu);
    for (int i = 0; i < md.lk; ++i) f[i] = Complex(md.pc[i], -md.ps[i]);
    const std::vector<Complex> x = complex_solve(a, f);
    Response r;
    for (int i = 0; i < md.lk; ++i) {
        r.amp.push_back(std::abs(x[i]));
        r.ac.push_back(x[i].real());
        r.as.push_back(-x[i].imag());
    }
    return r;
}

// Natural frequencies of the examples' frames in closed form.
// A uniform shear frame of n storeys (mass m, storey stiffness k, fixed base,
// free top): w_j = 2 sqrt(k/m) sin((2j - 1) pi / (2 (2n + 1))).
std::vector<Real> shear_frame(const Model& md) {
    const int n = md.lk;
    const Real m = md.mr[0][0], k = md.kr[n - 1][n - 1];
    std::vector<Real> w;
    for (int j = 1; j <= n; ++j)
        w.push_back(2 * std::sqrt(k / m) * std::sin((2 * j - 1) * std::numbers::pi_v<Real> / (2 * (2 * n + 1))));
    return w;
}

// A block foundation: the vertical mode alone, sqrt(kz/m), and the roots of
// the sliding-rocking pair, m J s^2 - (kx J + kr m) s + (kx kr - kxr^2) = 0.
std::vector<Real> block_foundation(const Model& md) {
    const Real m = md.mr[1][1], j = md.mr[2][2], kx = md.kr[1][1], kr = md.kr[2][2], kxr = md.kr[1][2];
    const Real b = kx * j + kr * m, disc = std::sqrt(b * b - 4 * m * j * (kx * kr - kxr * kxr));
    std::vector<Real> w = {std::sqrt(md.kr[0][0] / md.mr[0][0]), std::sqrt((b - disc) / (2 * m * j)),
                           std::sqrt((b + disc) / (2 * m * j))};
    std::sort(w.begin(), w.end());
    return w;
}

// One unit of the sixth significant digit of a printed E12.6 field
// (".123456E-01", or "-.123456-100" with a three-digit exponent).
Real sixth_digit_unit(const std::string& field) {
    std::size_t e = field.find_first_of("E+-", 2);
    if (field[e] == 'E') ++e;
    return std::pow(Real(10), std::stoi(field.substr(e)) - 6);
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

std::string text_of(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

// v > 0 in the program's E12.6 form, without the blank in front.
std::string e12(Real v) {
    const std::string s = text_of("%.5e", static_cast<double>(v));  // d.ddddde+XX
    char buf[32];
    std::snprintf(buf, sizeof buf, ".%c%.5sE%+03d", s[0], s.c_str() + 2, std::stoi(s.substr(8)) + 1);
    return buf;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : ", ") + p;
    return out;
}

struct Example {
    const char* name;
    std::function<std::vector<Real>(const Model&)> natural;
};

void check_example(const Example& ex) {
    const std::string dir = VARNOSTIK_EXAMPLES;
    const std::string name = ex.name, data = slurp(dir + "/" + name);
    const Model md = read_model(data);
    const std::string answers = slurp(dir + "/" + name + ".in");
    e2e::Run run;
    run.input = answers;
    run.files = {{name, data}};
    const e2e::Outcome o = e2e::run(run);
    ASSERT_EQ(o.status, 0) << o.err;
    const std::string& results = o.files.at(name + "w");
    const std::string& plot = o.files.at(name + "r");

    // The plotted unknowns: the answer after the three names, ICD and the count.
    std::istringstream answer_lines(answers);
    std::string numbers;
    for (int i = 0; i < 6; ++i) std::getline(answer_lines, numbers);
    std::vector<int> plotted;
    for (const std::string& n : words(numbers)) plotted.push_back(std::stoi(n));

    // Natural frequencies: the closed form against the results file.
    const std::vector<Real> w = ex.natural(md);
    std::vector<std::string> printed;
    for (std::istringstream in(results.substr(results.find("CZESTOSCI DRGAN WLASNYCH") + 25));
         printed.size() < w.size();) {
        std::string f;
        in >> f;
        printed.push_back(f);
    }
    std::vector<std::string> stated_w, stated_zeta;
    const Real w1 = w[0], w2 = w[1];
    const Real alpha = 2 * w1 * w2 * (w2 * md.gamma1 - w1 * md.gamma2) / (w2 * w2 - w1 * w1);
    const Real beta = 2 * (w2 * md.gamma2 - w1 * md.gamma1) / (w2 * w2 - w1 * w1);
    for (std::size_t j = 0; j < w.size(); ++j) {
        EXPECT_LE(std::abs(std::strtod(printed[j].c_str(), nullptr) - w[j]), sixth_digit_unit(printed[j]))
            << "natural frequency " << j + 1 << ": printed " << printed[j] << ", closed form " << double(w[j]);
        stated_w.push_back(text_of("%.2f", static_cast<double>(w[j])));
        // Rayleigh damping alpha M + beta K gives mode j the ratio alpha/(2 w) + beta w / 2.
        stated_zeta.push_back(text_of("%.4f", static_cast<double>(alpha / (2 * w[j]) + beta * w[j] / 2)));
    }

    // Every plotted amplitude against the complex solve at the same LAMBDA,
    // accumulated step by step as the sweep does.
    Matrix cr = zeros(md.lk, md.lk);
    for (int i = 0; i < md.lk; ++i)
        for (int j = 0; j < md.lk; ++j) cr[i][j] = alpha * md.mr[i][j] + beta * md.kr[i][j];
    const Matrix ms = complete(md.mr, md.mkk, md.mkt, md.mtt), cs = complete(cr, md.ckk, md.ckt, md.ctt),
                 ks = complete(md.kr, md.kkk, md.kkt, md.ktt);
    std::vector<double> lambdas;
    std::vector<std::vector<Real>> curves(plotted.size());
    std::istringstream rows(plot);
    double lambda = md.lammin - md.dlam;
    int off = 0;
    for (std::string line; std::getline(rows, line) && line.find("KOLUMNA") == std::string::npos;) {
        lambda = md.dlam + lambda;
        const Response r = respond(ms, cs, ks, md, lambda);
        const std::vector<std::string> f = words(line);
        ASSERT_EQ(f.size(), 1 + 4 * plotted.size()) << line;
        EXPECT_LE(std::abs(std::strtod(f[0].c_str(), nullptr) - lambda), sixth_digit_unit(f[0])) << line;
        lambdas.push_back(lambda);
        for (std::size_t g = 0; g < plotted.size(); ++g) {
            const int n = plotted[g] - 1;
            EXPECT_EQ(f[4 + 4 * g], std::to_string(n + 1)) << line;
            const Real exact[3] = {r.amp[n], r.ac[n], r.as[n]};
            curves[g].push_back(r.amp[n]);
            for (int q = 0; q < 3; ++q) {
                const std::string& field = f[1 + 4 * g + q];
                const Real error = std::abs(std::strtod(field.c_str(), nullptr) - exact[q]);
                if (error > sixth_digit_unit(field) && ++off <= 10)
                    ADD_FAILURE() << "LAMBDA " << lambda << ", unknown " << n + 1 << ", column " << q + 2 << ": printed "
                                  << field << ", exact " << double(exact[q]);
            }
        }
    }
    EXPECT_EQ(off, 0) << "amplitudes off by more than one unit of the sixth digit";
    EXPECT_TRUE(lambda >= md.lammax && lambda - md.dlam < md.lammax) << "the sweep's last step";

    // What examples/README.md states about this example.
    const std::string readme = slurp(dir + "/README.md");
    const std::size_t begin = readme.find("## `" + name + "`");
    ASSERT_NE(begin, std::string::npos) << "no section on " << name;
    const std::string section = readme.substr(begin, readme.find("\n## ", begin + 1) - begin);
    std::vector<std::string> stated = {"Natural frequencies (rad/s): " + joined(stated_w),
                                       "Damping ratios of the modes: " + joined(stated_zeta)};
    for (std::size_t g = 0; g < curves.size(); ++g)
        for (std::size_t s = 1; s + 1 < lambdas.size(); ++s)
            if (curves[g][s] > curves[g][s - 1] && curves[g][s] > curves[g][s + 1])
                stated.push_back("| " + std::to_string(plotted[g]) + " | " + text_of("%.6g", lambdas[s]) + " | " +
                                 e12(curves[g][s]) + " |");
    for (const std::string& line : stated)
        EXPECT_NE(section.find(line), std::string::npos) << "examples/README.md, section " << name << ", lacks: " << line;
}

TEST(Examples, ProgramAndReadmeAgreeWithTheIndependentCalculation) {
    const Example examples[] = {
        {"rama3", shear_frame},
        {"fund", block_foundation},
        {"rama10", shear_frame},
    };
    for (const Example& ex : examples) {
        SCOPED_TRACE(ex.name);
        check_example(ex);
    }
}

}  // namespace
