// varnostik-design under the ground's motion and white noise: the response
// against closed forms and a complex solve in long double, the equal peaks
// of the classical ground tuning, the base shear against the masses'
// inertia, the stationary variances against their closed form and a
// quadrature of |H|^2, the peaks between steps, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "design/description.h"
#include "design/model.h"
#include "design/peaks.h"
#include "design/random.h"
#include "design/response.h"
#include "e2e_run.h"
#include "tests/toml_file.h"
#include "tests/reference_complex.h"

namespace {

using Real = long double;
using Complex = std::complex<Real>;
constexpr Real kPi = 3.141592653589793238462643383279502884L;

using tests::TomlFile;
using tests::model_of;

std::string list(const std::vector<double>& v) {
    std::ostringstream s;
    s.precision(17);
    s << '[';
    for (std::size_t i = 0; i < v.size(); ++i) s << (i ? ", " : "") << v[i];
    s << ']';
    return s.str();
}

// One storey (m, k, damping ratio z) with a tuned mass (md, kd, cd) under
// the ground's acceleration A cos + B sin: the relative motions U1, U2
// from the 2 x 2 system by Cramer's rule.  One storey's proportional
// damping is c = 2 z k / omega.
struct OneStorey {
    Real m, k, z, md, kd, cd, A, B;
    Real c() const { return 2 * z * k / std::sqrt(k / m); }
    std::pair<Complex, Complex> solve(Real l) const {
        const Complex i(0, 1), ag(A, -B);
        const Complex a11 = k + kd + i * l * (c() + cd) - l * l * m, a12 = -(kd + i * l * cd);
        const Complex a22 = kd + i * l * cd - l * l * md;
        const Complex b1 = -m * ag, b2 = -md * ag;
        const Complex det = a11 * a22 - a12 * a12;
        return {(b1 * a22 - a12 * b2) / det, (a11 * b2 - a12 * b1) / det};
    }
    std::string toml(Real from, Real to, Real step) const {
        std::ostringstream s;
        s.precision(17);
        s << "[frame]\nmasses = [" << double(m) << "]\nstiffnesses = [" << double(k) << "]\ndamping_ratios = ["
          << double(z) << ", " << double(z) << "]\n[[tmd]]\nstorey = 1\nmass = " << double(md)
          << "\nstiffness = " << double(kd) << "\ndamping = " << double(cd) << "\n[ground]\ncos = " << double(A)
          << "\nsin = " << double(B) << "\n[sweep]\nfrom = " << double(from) << "\nto = " << double(to)
          << "\nstep = " << double(step) << "\n";
        return s.str();
    }
};

TEST(Loads, OneStoreyWithATunedMassUnderGroundMotionInClosedForm) {
    struct Row {
        int line;
        OneStorey s;
    } rows[] = {
        {__LINE__, {100, 40000, 0.02L, 5, 1800, 12, 2.5L, 0}},        // t, kN, m, s
        {__LINE__, {100, 40000, 0.05L, 5, 1800, 12, 1.5L, -0.5L}},    // a sin part: its phase
        {__LINE__, {2e5L, 8e7L, 0, 1e4L, 3.6e6L, 2e4L, 0.1L, 0.2L}},  // no frame damping, SI
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const OneStorey& s = row.s;
        const Real w = std::sqrt(s.k / s.m);
        const design::Model m = model_of(s.toml(0.5L * w, 1.5L * w, 0.01L * w));
        const design::Response r = design::compute_response(m, "model");
        ASSERT_FALSE(r.lambda.empty());
        ASSERT_EQ(r.base_shear.size(), r.lambda.size());
        ASSERT_EQ(r.acceleration.size(), 2u);
        for (std::size_t i = 0; i < r.lambda.size(); ++i) {
            const Real l = r.lambda[i];
            const auto [u1, u2] = s.solve(l);
            const Complex ag(s.A, -s.B);
            const Real want[] = {std::abs(u1),
                                 std::abs(u2),
                                 std::abs(-l * l * u1 + ag),
                                 std::abs(-l * l * u2 + ag),
                                 std::abs(u2 - u1),
                                 std::abs(u1),
                                 std::abs((s.k + Complex(0, l * s.c())) * u1)};
            const double got[] = {r.amplitude[0][i], r.amplitude[1][i], r.acceleration[0][i], r.acceleration[1][i],
                                  r.stroke[0][i],    r.drift[0][i],     r.base_shear[i]};
            for (std::size_t q = 0; q < std::size(want); ++q)
                EXPECT_LE(std::fabs(got[q] - want[q]), 1e-8L * want[q]) << "quantity " << q << " step " << i;
            // The phase: the lag of the relative motion behind cos of the load.
            const Real phase = std::arg(std::conj(u1)) * 180 / kPi;
            EXPECT_NEAR(std::remainder(r.phase[0][i] - static_cast<double>(phase), 360.0), 0.0, 1e-6) << i;
        }
    }
}

TEST(Loads, WarburtonsGroundTuningGivesEqualPeaks) {
    // An undamped storey (m = k = 1) with a tuned mass of mass ratio mu,
    // tuned to sqrt(1 - mu/2)/(1 + mu) with the damping ratio
    // sqrt(3 mu / (8 (1 + mu)(1 - mu/2))): the relative displacement's two
    // peaks are equal.
    for (const double mu : {0.05}) {
        const double f = std::sqrt(1 - mu / 2) / (1 + mu);
        const double z = std::sqrt(3 * mu / (8 * (1 + mu) * (1 - mu / 2)));
        std::ostringstream t;
        t.precision(6);
        t << "[frame]\nmasses = [1.0]\nstiffnesses = [1.0]\ndamping_ratios = [0.0, 0.0]\n[[tmd]]\nstorey = 1\nmass = "
          << mu << "\nfrequency_ratio = " << f << "\ndamping_ratio = " << z
          << "\n[ground]\ncos = 1.0\n[sweep]\nfrom = 0.7\nto = 1.3\nstep = 0.0002\n";
        const design::Model m = model_of(t.str());
        const design::Response r = design::compute_response(m, "model");
        std::vector<double> peaks;
        const std::vector<double>& a = r.amplitude[0];
        for (std::size_t i = 1; i + 1 < a.size(); ++i)
            if (a[i] > a[i - 1] && a[i] >= a[i + 1]) peaks.push_back(a[i]);
        ASSERT_EQ(peaks.size(), 2u);
        EXPECT_LE(std::fabs(peaks[0] / peaks[1] - 1), 1e-3) << peaks[0] << " " << peaks[1];
    }
}

// A uniform shear frame (n storeys, m, k, Rayleigh damping ratio g in
// its two lowest modes) with a tuned mass on the top storey and a dashpot
// on the first, in long double: M, C, K of order n + 1.
struct Frame {
    int n;
    Real m, k, g, md, kd, cd, dashpot;
    void matrices(std::vector<std::vector<Real>>& M, std::vector<std::vector<Real>>& C,
                  std::vector<std::vector<Real>>& K) const {
        auto omega = [&](int j) { return 2 * std::sqrt(k / m) * std::sin((2 * j - 1) * kPi / (2 * (2 * n + 1))); };
        const Real w1 = omega(1), w2 = omega(2);
        const Real alpha = 2 * g * w1 * w2 / (w1 + w2), beta = 2 * g / (w1 + w2);
        const std::size_t N = static_cast<std::size_t>(n) + 1;
        M.assign(N, std::vector<Real>(N));
        C = K = M;
        for (int i = 0; i < n; ++i) {
            M[i][i] = m;
            K[i][i] = i + 1 < n ? 2 * k : k;
            if (i + 1 < n) K[i][i + 1] = K[i + 1][i] = -k;
        }
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) C[i][j] = alpha * M[i][j] + beta * K[i][j];
        const std::size_t top = N - 2, t = N - 1;
        M[t][t] = md;
        K[top][top] += kd, K[top][t] -= kd, K[t][top] -= kd, K[t][t] += kd;
        C[top][top] += cd, C[top][t] -= cd, C[t][top] -= cd, C[t][t] += cd;
        C[0][0] += dashpot;
    }
    std::string toml(const std::string& load, const std::string& extra = "") const {
        std::ostringstream s;
        s.precision(17);
        s << extra << "[frame]\nmasses = " << list(std::vector<double>(n, double(m)))
          << "\nstiffnesses = " << list(std::vector<double>(n, double(k))) << "\ndamping_ratios = [" << double(g)
          << ", " << double(g) << "]\n[[tmd]]\nstorey = " << n << "\nmass = " << double(md)
          << "\nstiffness = " << double(kd) << "\ndamping = " << double(cd)
          << "\n[[dashpot]]\nstorey = 1\ndamping = " << double(dashpot) << "\n"
          << load;
        return s.str();
    }
};

TEST(Loads, BaseShearIsTheMassesTimesTheirAbsoluteAccelerations) {
    struct Row {
        int line;
        Frame f;
        double A, B;
    } rows[] = {
        {__LINE__, {3, 100, 40000, 0.02L, 15, 1188, 26.7L, 50}, 2.0, 0.0},
        {__LINE__, {5, 200, 80000, 0.05L, 20, 1200, 40, 0}, 0.5, 1.5},
        {__LINE__, {1, 100, 40000, 0, 5, 1800, 12, 100}, 1.0, -1.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const Frame& f = row.f;
        const double w = std::sqrt(double(f.k / f.m));
        std::ostringstream load;
        load.precision(17);
        load << "[ground]\ncos = " << row.A << "\nsin = " << row.B << "\n[sweep]\nfrom = " << 0.05 * w
             << "\nto = " << 2.5 * w << "\nstep = " << 0.01 * w << "\n";
        const design::Model m = model_of(f.toml(load.str()));
        const design::Response r = design::compute_response(m, "model");
        ASSERT_EQ(r.base_shear.size(), r.lambda.size());
        std::vector<std::vector<Real>> M, C, K;
        f.matrices(M, C, K);
        const std::size_t N = M.size();
        const Complex ag(row.A, -row.B);
        for (std::size_t i = 0; i < r.lambda.size(); ++i) {
            const Real l = r.lambda[i];
            std::vector<std::vector<Complex>> S(N, std::vector<Complex>(N));
            std::vector<Complex> b(N);
            for (std::size_t p = 0; p < N; ++p) {
                for (std::size_t q = 0; q < N; ++q) S[p][q] = Complex(K[p][q] - l * l * M[p][q], l * C[p][q]);
                b[p] = -M[p][p] * ag;
            }
            const std::vector<Complex> u = complex_solve(S, b);
            Complex inertia = 0;
            for (std::size_t p = 0; p < N; ++p) {
                const Complex absolute = -l * l * u[p] + ag;
                inertia += M[p][p] * absolute;
                EXPECT_LE(std::fabs(r.acceleration[p][i] - std::abs(absolute)), 1e-8L * std::abs(absolute))
                    << "unknown " << p + 1 << " step " << i;
            }
            EXPECT_LE(std::fabs(r.base_shear[i] - std::abs(inertia)), 1e-8L * std::abs(inertia)) << "step " << i;
        }
    }
}

// The variance of one row of random's answer, by name.
double variance(const design::RandomResponse& r, const std::string& name) {
    for (const design::RandomRow& row : r.rows)
        if (row.quantity == name) return row.rms * row.rms;
    ADD_FAILURE() << "no row " << name;
    return -1;
}

TEST(Loads, WhiteNoiseOnOneOscillatorInClosedForm) {
    // m x'' + c x' + k x = f, f white of two-sided density S: the variance
    // of x is pi S / (k c), of x' pi S / (m c), and they are uncorrelated;
    // under the ground's acceleration of density S0, S = m^2 S0.
    struct Row {
        int line;
        double m, k, z, S0;
        bool ground;
    } rows[] = {
        {__LINE__, 1, 1, 0.05, 1, false},        {__LINE__, 100, 40000, 0.02, 3.5, false},
        {__LINE__, 2e5, 8e7, 0.005, 1e6, false}, {__LINE__, 100, 40000, 0.02, 0.01, true},
        {__LINE__, 0.5, 300, 0.3, 2, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        std::ostringstream t;
        t.precision(17);
        t << "[frame]\nmasses = [" << row.m << "]\nstiffnesses = [" << row.k << "]\ndamping_ratios = [" << row.z << ", "
          << row.z << "]\n[random]\n"
          << (row.ground ? "ground_psd = " : "force_psd = [") << row.S0 << (row.ground ? "\n" : "]\n");
        const design::Model m = model_of(t.str());
        const design::RandomResponse r = design::random_response(m, "model");
        const Real c = 2 * Real(row.z) * row.k / std::sqrt(Real(row.k) / row.m);
        const Real S = row.ground ? Real(row.m) * row.m * row.S0 : Real(row.S0);
        const Real vx = kPi * S / (row.k * c), vv = kPi * S / (row.m * c);
        const Real shear = Real(row.k) * row.k * vx + c * c * vv;
        EXPECT_LE(std::fabs(variance(r, "amplitude_1") - vx), 1e-10L * vx);
        EXPECT_LE(std::fabs(variance(r, "drift_1") - vx), 1e-10L * vx);
        EXPECT_LE(std::fabs(variance(r, "base_shear") - shear), 1e-10L * shear);
        if (row.ground) {
            const Real acc = shear / (Real(row.m) * row.m);
            EXPECT_LE(std::fabs(variance(r, "acceleration_1") - acc), 1e-10L * acc);
            EXPECT_TRUE(r.left_out.empty());
        } else {
            ASSERT_EQ(r.left_out.size(), 1u);
            EXPECT_EQ(r.left_out[0], "acceleration_1");
        }
    }
}

// 2 S0 times the integral of |H|^2 over lambda from 0 to infinity, for
// every quantity H gives at lambda: lambda = w tan(theta), composite
// five-point Gauss-Legendre over theta in (0, pi/2), panels fine against
// the peaks' half-power widths.
std::vector<Real> quadrature(const std::function<std::vector<Complex>(Real)>& H, Real w, Real S0, int panels) {
    const Real x[5] = {-0.9061798459386639927976269L, -0.5384693101056830910363144L, 0, 0.5384693101056830910363144L,
                       0.9061798459386639927976269L};
    const Real g[5] = {0.2369268850561890875142640L, 0.4786286704993664680412915L, 0.5688888888888888888888889L,
                       0.4786286704993664680412915L, 0.2369268850561890875142640L};
    std::vector<Real> sum;
    const Real h = kPi / 2 / panels;
    for (int p = 0; p < panels; ++p) {
        for (int q = 0; q < 5; ++q) {
            const Real theta = h * (p + 0.5L + x[q] / 2);
            const Real l = w * std::tan(theta), dl = w / (std::cos(theta) * std::cos(theta));
            const std::vector<Complex> v = H(l);
            sum.resize(v.size());
            for (std::size_t i = 0; i < v.size(); ++i) sum[i] += g[q] * h / 2 * dl * std::norm(v[i]);
        }
    }
    for (Real& s : sum) s *= 2 * S0;
    return sum;
}

TEST(Loads, WhiteNoiseOnAFrameAgreesWithAQuadratureOfH) {
    struct Row {
        int line;
        Frame f;
        bool ground;
        double S0;
    } rows[] = {
        {__LINE__, {3, 100, 40000, 0.02L, 15, 1188, 26.7L, 50}, true, 0.01},
        {__LINE__, {3, 100, 40000, 0.02L, 15, 1188, 26.7L, 50}, false, 2.0},
        {__LINE__, {2, 1, 1, 0.05L, 0.05L, 0.018L, 0.004L, 0}, true, 1.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const Frame& f = row.f;
        std::ostringstream load;
        load.precision(17);
        std::vector<double> psd(f.n, 0.0);
        psd.back() = row.S0;
        if (row.ground)
            load << "[random]\nground_psd = " << row.S0 << "\n";
        else
            load << "[random]\nforce_psd = " << list(psd) << "\n";
        const design::Model m = model_of(f.toml(load.str()));
        const design::RandomResponse r = design::random_response(m, "model");
        std::vector<std::vector<Real>> M, C, K;
        f.matrices(M, C, K);
        const std::size_t N = M.size(), n = static_cast<std::size_t>(f.n);
        // The response to a unit load: -M r under the ground, the top
        // storey's force otherwise.
        auto H = [&](Real l) {
            std::vector<std::vector<Complex>> S(N, std::vector<Complex>(N));
            std::vector<Complex> b(N);
            for (std::size_t p = 0; p < N; ++p) {
                for (std::size_t q = 0; q < N; ++q) S[p][q] = Complex(K[p][q] - l * l * M[p][q], l * C[p][q]);
                b[p] = row.ground ? Complex(-M[p][p]) : Complex(p + 2 == N ? 1 : 0);
            }
            const std::vector<Complex> u = complex_solve(S, b);
            std::vector<Complex> v(u);  // amplitude_k
            for (std::size_t p = 0; p < N; ++p)
                v.push_back(-l * l * u[p] + Real(row.ground ? 1 : 0));                            // acceleration_k
            v.push_back(u[n] - u[n - 1]);                                                         // stroke_1
            for (std::size_t p = 0; p < n; ++p) v.push_back(u[p] - (p ? u[p - 1] : Complex(0)));  // drift_k
            Complex shear = 0;
            for (std::size_t p = 0; p < N; ++p)
                for (std::size_t q = 0; q < N; ++q) shear += Complex(K[p][q], l * C[p][q]) * u[q];
            v.push_back(shear);
            return v;
        };
        const Real w1 = 2 * std::sqrt(f.k / f.m) * std::sin(kPi / (2 * (2 * f.n + 1)));
        const std::vector<Real> want = quadrature(H, w1, row.S0, 20000);
        std::vector<std::string> names;
        for (std::size_t p = 1; p <= N; ++p) names.push_back("amplitude_" + std::to_string(p));
        for (std::size_t p = 1; p <= N; ++p) names.push_back("acceleration_" + std::to_string(p));
        names.push_back("stroke_1");
        for (std::size_t p = 1; p <= n; ++p) names.push_back("drift_" + std::to_string(p));
        names.push_back("base_shear");
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (!row.ground && names[i] == "acceleration_" + std::to_string(n)) {
                ASSERT_EQ(r.left_out.size(), 1u);
                EXPECT_EQ(r.left_out[0], names[i]);
                continue;
            }
            EXPECT_LE(std::fabs(variance(r, names[i]) - want[i]), 1e-6L * want[i]) << names[i];
        }
    }
}

TEST(Loads, PeaksBetweenStepsTwentyBandwidthsApartAreFound) {
    // One storey of damping ratio z under a unit force: |x| peaks at
    // w sqrt(1 - 2 z^2), lambda^2 |x| at w / sqrt(1 - 2 z^2), both at
    // 1 / (2 z sqrt(1 - z^2)) over k and m respectively; under a unit
    // ground acceleration the relative motion is m times the first.
    struct Row {
        int line;
        double m, k, z;
        bool ground;
        double from;
    } rows[] = {
        {__LINE__, 1, 1, 0.001, false, 0.5123},
        {__LINE__, 2, 8, 0.0005, true, 1.0071},
        {__LINE__, 100, 40000, 0.0002, false, 10.003},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const double w = std::sqrt(row.k / row.m), step = 20 * 2 * row.z * w;
        std::ostringstream t;
        t.precision(17);
        t << "[frame]\nmasses = [" << row.m << "]\nstiffnesses = [" << row.k << "]\ndamping_ratios = [" << row.z << ", "
          << row.z << "]\n"
          << (row.ground ? "[ground]\ncos = 1.0\n" : "[force]\ncos = [1.0]\n") << "[sweep]\nfrom = " << row.from
          << "\nto = " << 2 * w << "\nstep = " << step << "\n";
        const design::Model m = model_of(t.str());
        const design::PeakSearch p =
            design::search_peaks(m, design::compute_response(m, "model").lambda, "model", true);
        const Real z = row.z, top = 1 / (2 * z * std::sqrt(1 - z * z)) / row.k * (row.ground ? row.m : 1);
        struct Want {
            std::string curve;
            Real lambda, value;
        } want[] = {{"amplitude_1", w * std::sqrt(1 - 2 * z * z), top},
                    {"acceleration_1", w / std::sqrt(1 - 2 * z * z), top * row.k / row.m}};
        for (const Want& c : want) {
            if (row.ground && c.curve == "acceleration_1") continue;
            int found = 0;
            for (const design::CurvePeak& q : p.peaks) {
                if (q.curve != c.curve) continue;
                ++found;
                EXPECT_TRUE(q.largest);
                EXPECT_LE(std::fabs(q.lambda - c.lambda), 1e-5L * c.lambda) << c.curve;
                EXPECT_LE(std::fabs(q.value - c.value), 1e-5L * c.value) << c.curve;
            }
            EXPECT_EQ(found, 1) << c.curve;
        }
        EXPECT_TRUE(p.outside.empty());
    }
}

TEST(Loads, AModeOutsideTheRangeIsWarnedOf) {
    // Two storeys of 1 on springs of 10: modes at 1.95 and 5.12 rad/s.
    const std::string frame =
        "[frame]\nmasses = [1.0, 1.0]\nstiffnesses = [10.0, 10.0]\ndamping_ratios = [0.02, 0.02]\n"
        "[force]\ncos = [0.0, 1.0]\n";
    struct Row {
        int line;
        std::string command, sweep;
        bool warned;
    } rows[] = {
        {__LINE__, "peaks", "from = 2.5\nto = 8.0\nstep = 0.05\n", true},
        {__LINE__, "response", "from = 2.5\nto = 8.0\nstep = 0.05\n", true},
        // Both modes inside; the top storey's acceleration still rises
        // towards 1/m at the range's end, which says nothing.
        {__LINE__, "peaks", "from = 1.0\nto = 9.0\nstep = 0.05\n", false},
        {__LINE__, "response", "from = 1.0\nto = 9.0\nstep = 0.05\n", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        e2e::Run r;
        r.program = VARNOSTIK_DESIGN_BIN;
        r.args = {row.command, "m.toml", "--csv", "out.csv"};
        r.files = {{"m.toml", frame + "[sweep]\n" + row.sweep}};
        const e2e::Outcome o = e2e::run(r);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.err.find("mode 1 of the damped system") != std::string::npos, row.warned) << o.err;
        if (!row.warned) {
            EXPECT_EQ(o.err.find("warning"), std::string::npos) << o.err;
        }
        if (row.command == "peaks") {
            ASSERT_EQ(o.files.count("out.csv"), 1u);
            EXPECT_EQ(o.files.at("out.csv").rfind("curve,lambda,value,largest\n", 0), 0u);
        }
    }
}

TEST(Loads, RefusalsOfTheNewTablesNameFileLineAndKeyAndLeaveNoFile) {
    const std::string shear =
        "[frame]\nmasses = [1.0, 1.0]\nstiffnesses = [10.0, 10.0]\ndamping_ratios = [0.02, 0.02]\n";
    const std::string matrices =
        "[frame]\nmass_matrix = [[1.0, 0.0], [0.0, 1.0]]\nstiffness_matrix = [[20.0, -10.0], [-10.0, 10.0]]\n"
        "damping_ratios = [0.02, 0.02]\n";
    const std::string sweep = "[sweep]\nfrom = 1.0\nto = 5.0\nstep = 0.5\n";
    const std::string force = "[force]\ncos = [0.0, 1.0]\n", ground = "[ground]\ncos = 1.0\n";
    struct Row {
        int line;
        std::string command, text, message;
    } rows[] = {
        {__LINE__, "response", shear + force + ground + sweep, "m.toml:7: ground: give [force] or [ground], not both"},
        {__LINE__, "response", shear + ground + force + sweep, "m.toml:7: force: give [force] or [ground], not both"},
        {__LINE__, "response", shear + "[ground]\ncos = 1.0\nsine = 2.0\n" + sweep,
         "m.toml:7: ground.sine: unknown key"},
        {__LINE__, "response", shear + "[ground]\nsin = 1.0\n" + sweep, "m.toml:5: ground.cos: missing"},
        {__LINE__, "response", matrices + ground + sweep,
         "m.toml:5: ground: a frame given by matrices needs frame.influence"},
        {__LINE__, "random", matrices + "[random]\nground_psd = 1.0\n",
         "m.toml:6: random.ground_psd: a frame given by matrices"},
        {__LINE__, "response", shear + "influence = [1.0, 1.0]\n" + ground + sweep,
         "m.toml:5: frame.influence: a shear frame"},
        {__LINE__, "response", matrices + "influence = [1.0]\n" + ground + sweep,
         "m.toml:5: frame.influence: must hold 2 values"},
        {__LINE__, "response", matrices + "heights = [3.0, 3.0]\n" + force + sweep,
         "m.toml:5: frame.heights: storey heights belong to a shear frame"},
        {__LINE__, "response", shear + "heights = [3.0, 0.0]\n" + force + sweep,
         "m.toml:5: frame.heights: a height must be positive"},
        {__LINE__, "response", "units = \"SI\"\n" + shear + force + sweep,
         "m.toml:1: units: \"SI\" is not a unit system; accepted: \"kN-t-m-s\" or \"N-kg-m-s\""},
        {__LINE__, "random", shear + "[random]\nground_psd = 1.0\nforce_psd = [1.0, 1.0]\n",
         "m.toml:5: random: give force_psd or ground_psd, one of them"},
        {__LINE__, "random", shear + "[random]\nforce_psd = [1.0]\n", "m.toml:6: random.force_psd: must hold 2 values"},
        {__LINE__, "random", shear + "[random]\nground_psd = -1.0\n",
         "m.toml:6: random.ground_psd: a density must not be negative"},
        {__LINE__, "random", shear + "[random]\nwind_psd = 1.0\n", "m.toml:6: random.wind_psd: unknown key"},
        {__LINE__, "random", shear + force + sweep, "m.toml: random: missing table"},
        {__LINE__, "random",
         "[frame]\nmasses = [1.0]\nstiffnesses = [1.0]\ndamping_ratios = [0.0, 0.0]\n[random]\nground_psd = 1.0\n",
         "mode 1 of the damped system (frequency 1 rad/s) is undamped"},
        {__LINE__, "build", shear + ground + sweep,
         "m.toml:5: ground: build writes the program's data file, which loads the storeys only"},
        {__LINE__, "build", shear + sweep, "m.toml: force: missing table"},
        {__LINE__, "response", shear + sweep, "m.toml: force: missing table ([force] or [ground])"},
        {__LINE__, "peaks", shear + ground, "m.toml: sweep: missing table"},
        {__LINE__, "response", shear + force + "[sweep]\nfrom = 1.0\nto = 5.0\nstep = 0.5\nplot = [1]\nquantity = 1\n",
         "m.toml:12: sweep.quantity: unknown key"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        e2e::Run r;
        r.program = VARNOSTIK_DESIGN_BIN;
        r.args = {row.command, "m.toml", "--csv", "out.csv"};
        if (row.command == "build") r.args = {"build", "m.toml"};
        r.files = {{"m.toml", row.text}};
        const e2e::Outcome o = e2e::run(r);
        EXPECT_EQ(o.status, 1);
        EXPECT_NE(o.err.find(row.message), std::string::npos) << o.err;
        EXPECT_EQ(o.files.size(), 1u) << "a file was left beside the description";
    }
    e2e::Run r;
    r.program = VARNOSTIK_DESIGN_BIN;
    r.args = {"response", "m.toml", "--csv", "out.csv", "--quantity", "velocity"};
    r.files = {{"m.toml", shear + force + sweep}};
    const e2e::Outcome o = e2e::run(r);
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("--quantity takes displacement or acceleration"), std::string::npos) << o.err;
    EXPECT_EQ(o.files.size(), 1u);
}

TEST(Loads, DriftRatiosAndAFrameGivenByMatricesWithItsInfluence) {
    // The same two-storey frame as masses and stiffnesses with heights,
    // and as matrices with the influence (1, 1): the same motion; the
    // drift ratios are the drifts over the heights.
    const std::string rest =
        "damping_ratios = [0.03, 0.03]\n[[tmd]]\nstorey = 2\nmass = 0.1\nstiffness = 0.9\n"
        "damping = 0.05\n[ground]\ncos = 0.5\nsin = 0.25\n[sweep]\nfrom = 1.0\nto = 6.0\nstep = 0.1\n";
    const design::Model shear =
        model_of("[frame]\nmasses = [1.0, 1.0]\nstiffnesses = [10.0, 10.0]\nheights = [4.0, 3.2]\n" + rest);
    const design::Model matrices = model_of(
        "[frame]\nmass_matrix = [[1.0, 0.0], [0.0, 1.0]]\nstiffness_matrix = [[20.0, -10.0], [-10.0, 10.0]]\n"
        "influence = [1.0, 1.0]\n" +
        rest);
    const design::Response a = design::compute_response(shear, "a"), b = design::compute_response(matrices, "b");
    ASSERT_EQ(a.lambda.size(), b.lambda.size());
    ASSERT_EQ(a.drift_ratio.size(), 2u);
    EXPECT_TRUE(b.drift.empty());
    const double h[] = {4.0, 3.2};
    for (std::size_t i = 0; i < a.lambda.size(); ++i) {
        SCOPED_TRACE(i);
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_NEAR(a.amplitude[k][i], b.amplitude[k][i], 1e-12 * a.amplitude[k][i]);
            EXPECT_NEAR(a.acceleration[k][i], b.acceleration[k][i], 1e-12 * a.acceleration[k][i]);
        }
        EXPECT_NEAR(a.base_shear[i], b.base_shear[i], 1e-12 * a.base_shear[i]);
        for (std::size_t k = 0; k < 2; ++k) EXPECT_DOUBLE_EQ(a.drift_ratio[k][i], a.drift[k][i] / h[k]);
    }
}

TEST(Loads, UnitsAreNamedWhereDeclared) {
    const std::string body =
        "[frame]\nmasses = [100.0, 100.0]\nstiffnesses = [40000.0, 40000.0]\ndamping_ratios = [0.02, 0.02]\n"
        "heights = [3.5, 3.2]\n[ground]\ncos = 1.0\n[random]\nground_psd = 0.01\n"
        "[sweep]\nfrom = 5.0\nto = 40.0\nstep = 0.5\n";
    struct Row {
        int line;
        std::string units, command;
        std::vector<std::string> present, absent;
    } rows[] = {
        {__LINE__,
         "units = \"kN-t-m-s\"\n",
         "random",
         {"units kN-t-m-s", "amplitude_1", "[m]\n", "[m/s²]\n", "[kN]\n"},
         {"[N]", "drift_ratio_1 [m]"}},
        {__LINE__, "units = \"N-kg-m-s\"\n", "random", {"units N-kg-m-s", "[m]\n", "[N]\n"}, {"[kN]"}},
        {__LINE__, "", "random", {"amplitude_1", "base_shear"}, {"[m]", "[kN]", "[N]", "units"}},
        {__LINE__, "units = \"kN-t-m-s\"\n", "peaks", {"rad/s", "[m]", "[m/s²]", "[kN]"}, {"[N]"}},
        {__LINE__, "", "peaks", {"rad/s", "base_shear"}, {"[m]", "[kN]"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        e2e::Run r;
        r.program = VARNOSTIK_DESIGN_BIN;
        r.args = {row.command, "m.toml"};
        r.files = {{"m.toml", row.units + body}};
        const e2e::Outcome o = e2e::run(r);
        ASSERT_EQ(o.status, 0) << o.err;
        for (const std::string& p : row.present) EXPECT_NE(o.out.find(p), std::string::npos) << p << "\n" << o.out;
        for (const std::string& a : row.absent) EXPECT_EQ(o.out.find(a), std::string::npos) << a << "\n" << o.out;
    }
    if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) GTEST_SKIP() << "gnuplot is not installed";
    e2e::Run r;
    r.program = VARNOSTIK_DESIGN_BIN;
    r.args = {"response", "m.toml", "--csv", "r.csv", "-o", "r.svg", "--lang", "en", "--quantity", "acceleration"};
    r.files = {{"m.toml", "units = \"kN-t-m-s\"\n" + body}};
    const e2e::Outcome o = e2e::run(r);
    ASSERT_EQ(o.status, 0) << o.err;
    ASSERT_EQ(o.files.count("r.svg"), 1u);
    EXPECT_NE(o.files.at("r.svg").find("acceleration amplitude [m/s²]"), std::string::npos);
}

}  // namespace
