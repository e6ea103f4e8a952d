#include "design/response.h"

#include <cmath>
#include <memory>
#include <numbers>
#include <utility>

#include "design/analysis_link.h"
#include "design/interrupt.h"
#include "design/plot_link.h"

namespace design {

namespace {

constexpr double kDegrees = 180.0 / std::numbers::pi;

double amplitude(double ac, double as) { return std::sqrt(as * as + ac * ac); }

// The motion of unknown a relative to unknown b (b = 0: the ground): its
// cos and sin parts.
std::pair<double, double> relative_parts(const std::vector<double>& x, int32_t NU, int32_t a, int32_t b) {
    const std::size_t ia = static_cast<std::size_t>(a - 1);
    const double ac = x[ia] - (b > 0 ? x[static_cast<std::size_t>(b - 1)] : 0.0);
    const double as = x[ia + static_cast<std::size_t>(NU)] - (b > 0 ? x[static_cast<std::size_t>(b - 1 + NU)] : 0.0);
    return {ac, as};
}

// Every curve from a solution: the storeys' amplitudes and phases from
// printed (the program's own values), everything else from refined.  With
// u = AC cos + AS sin, u' has the parts (LAMBDA AS, -LAMBDA AC) and u''
// the parts -LAMBDA^2 (AC, AS); the ground adds (A, B) to the latter.
// A search's values: no phases, and the base shear from r^T K and r^T C
// formed once for the model (summed in another order, so equal to the
// step's to rounding only).
struct SearchSums {
    std::vector<double> kr, cr;
};

Values values_of(const Model& m, const std::vector<double>& printed, const std::vector<double>& refined,
                 double LAMBDA, const SearchSums* search = nullptr) {
    const bool phases = search == nullptr;
    const std::size_t NU = static_cast<std::size_t>(m.NU);
    const double l2 = LAMBDA * LAMBDA;
    const double A = m.ground ? m.ground_cos : 0.0, B = m.ground ? m.ground_sin : 0.0;
    Values v;
    for (std::size_t k = 0; k < NU; ++k) {
        const std::vector<double>& x = k < static_cast<std::size_t>(m.LK) ? printed : refined;
        const double ac = x[k], as = x[k + NU];
        v.amplitude.push_back(amplitude(ac, as));
        if (phases) v.phase.push_back(wrap_phase(std::atan2(as, ac) * kDegrees));
        const double gc = -l2 * refined[k] + A, gs = -l2 * refined[k + NU] + B;
        v.acceleration.push_back(amplitude(gc, gs));
        if (phases) v.acceleration_phase.push_back(wrap_phase(std::atan2(gs, gc) * kDegrees));
    }
    for (std::size_t t = 0; t < m.tmd_storey.size(); ++t) {
        const auto [ac, as] = relative_parts(refined, m.NU, m.LK + static_cast<int32_t>(t) + 1, m.tmd_storey[t]);
        v.stroke.push_back(amplitude(ac, as));
        if (phases) v.stroke_phase.push_back(wrap_phase(std::atan2(as, ac) * kDegrees));
    }
    if (m.shear_frame) {
        for (int32_t k = 1; k <= m.LK; ++k) {
            const auto [ac, as] = relative_parts(refined, m.NU, k, k - 1);
            v.drift.push_back(amplitude(ac, as));
            if (!m.heights.empty())
                v.drift_ratio.push_back(v.drift.back() / m.heights[static_cast<std::size_t>(k - 1)]);
        }
    }
    if (!m.influence.empty() && search != nullptr) {
        double bc = 0.0, bs = 0.0;
        for (std::size_t j = 0; j < NU; ++j) {
            bc += search->kr[j] * refined[j] + LAMBDA * search->cr[j] * refined[j + NU];
            bs += search->kr[j] * refined[j + NU] - LAMBDA * search->cr[j] * refined[j];
        }
        v.base_shear.push_back(amplitude(bc, bs));
    } else if (!m.influence.empty()) {
        // r^T (K u + C u'): what the springs and dashpots pass to the
        // supports, the proportional damping's part to the ground included.
        double bc = 0.0, bs = 0.0;
        for (std::size_t i = 0; i < NU; ++i) {
            double fc = 0.0, fs = 0.0;
            for (std::size_t j = 0; j < NU; ++j) {
                const double k = m.KS[j * NU + i], c = m.CS[j * NU + i];
                fc += k * refined[j] + c * LAMBDA * refined[j + NU];
                fs += k * refined[j + NU] - c * LAMBDA * refined[j];
            }
            bc += m.influence[i] * fc;
            bs += m.influence[i] * fs;
        }
        v.base_shear.push_back(amplitude(bc, bs));
    }
    return v;
}

void append(std::vector<std::vector<double>>& to, const std::vector<double>& v) {
    to.resize(v.size());
    for (std::size_t k = 0; k < v.size(); ++k) to[k].push_back(v[k]);
}

}  // namespace

std::vector<std::string> curve_names(const Model& m) {
    std::vector<std::string> names;
    auto add = [&names](const char* what, std::size_t count) {
        for (std::size_t k = 1; k <= count; ++k) names.push_back(what + std::to_string(k));
    };
    const std::size_t NU = static_cast<std::size_t>(m.NU), LK = static_cast<std::size_t>(m.LK);
    add("amplitude_", NU);
    add("acceleration_", NU);
    add("stroke_", m.tmd_storey.size());
    if (m.shear_frame) add("drift_", LK);
    if (m.shear_frame && !m.heights.empty()) add("drift_ratio_", LK);
    if (!m.influence.empty()) names.push_back("base_shear");
    return names;
}

std::vector<double> curve_values(const Values& v) {
    std::vector<double> out;
    for (const auto* part : {&v.amplitude, &v.acceleration, &v.stroke, &v.drift, &v.drift_ratio, &v.base_shear})
        out.insert(out.end(), part->begin(), part->end());
    return out;
}

Stepper stepper_of(const Model& m) { return Stepper(m.LK, m.NU, m.MS, m.CS, m.KS, m.load_cos, m.load_sin); }

Response compute_response(const Model& m, const std::string& file) {
    Stepper stepper = stepper_of(m);
    Response r;
    r.lambda = sweep_lambdas(m.LAMMIN, m.LAMMAX, m.DLAM);
    std::vector<double> x, refined;
    for (const double LAMBDA : r.lambda) {
        stop_if_interrupted();
        const Stepper::Solved solved = stepper.solve(LAMBDA, x, refined);
        if (solved == Stepper::Solved::singular)
            throw Refused(file + ": the system is singular at LAMBDA=" + shortest_text(LAMBDA));
        if (solved == Stepper::Solved::inaccurate) r.inaccurate.push_back(LAMBDA);
        for (const double v : x)
            if (!std::isfinite(v))
                throw Refused(file + ": the response at LAMBDA=" + shortest_text(LAMBDA) +
                              " is beyond the range of numbers");
        const Values v = values_of(m, x, refined, LAMBDA);
        append(r.amplitude, v.amplitude);
        append(r.phase, v.phase);
        append(r.acceleration, v.acceleration);
        append(r.acceleration_phase, v.acceleration_phase);
        append(r.stroke, v.stroke);
        append(r.stroke_phase, v.stroke_phase);
        append(r.drift, v.drift);
        append(r.drift_ratio, v.drift_ratio);
        if (!v.base_shear.empty()) r.base_shear.push_back(v.base_shear[0]);
    }
    return r;
}

Point response_at(Stepper& s, const Model& m, double LAMBDA) {
    Point p;
    std::vector<double> x, refined;
    if (s.solve(LAMBDA, x, refined) == Stepper::Solved::singular) {
        p.singular = true;
        return p;
    }
    static_cast<Values&>(p) = values_of(m, refined, refined, LAMBDA);
    return p;
}

namespace {

// Solves (W + i V) z = f in place by Gaussian elimination with row
// exchanges, the pivot the element of largest |re| + |im| in its column:
// the real and imaginary parts kept apart (column-major, order n), so the
// products are plain real ones and the inner loops run down contiguous
// columns.  A frame's system is mostly zeros (a shear frame's is
// tridiagonal but for its dampers' rows and columns): each step works only
// down to its column's last element that is not zero and only on the
// columns whose pivot-row element is not, which changes no result.  On
// return fr, fi hold z; false when a pivot is zero.
bool solve_complex(std::vector<double>& ar, std::vector<double>& ai, std::vector<double>& fr,
                   std::vector<double>& fi, std::size_t n) {
    auto at = [n](std::size_t i, std::size_t j) { return j * n + i; };
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t end = n;  // one past the column's last element that is not zero
        while (end > k + 1 && ar[at(end - 1, k)] == 0.0 && ai[at(end - 1, k)] == 0.0) --end;
        std::size_t p = k;
        double largest = -1.0;
        for (std::size_t i = k; i < end; ++i) {
            const double size = std::fabs(ar[at(i, k)]) + std::fabs(ai[at(i, k)]);
            if (size > largest) largest = size, p = i;
        }
        if (!(largest > 0.0)) return false;
        if (p != k) {
            for (std::size_t j = k; j < n; ++j) {
                std::swap(ar[at(k, j)], ar[at(p, j)]);
                std::swap(ai[at(k, j)], ai[at(p, j)]);
            }
            std::swap(fr[k], fr[p]);
            std::swap(fi[k], fi[p]);
        }
        // The multipliers l_i = a_ik / a_kk, by the pivot's reciprocal
        // formed without overflow.
        const double pr = ar[at(k, k)], pi = ai[at(k, k)];
        double rr, ri;
        if (std::fabs(pr) >= std::fabs(pi)) {
            const double t = pi / pr, d = pr + pi * t;
            rr = 1.0 / d, ri = -t / d;
        } else {
            const double t = pr / pi, d = pr * t + pi;
            rr = t / d, ri = -1.0 / d;
        }
        for (std::size_t i = k + 1; i < end; ++i) {
            const double xr = ar[at(i, k)], xi = ai[at(i, k)];
            ar[at(i, k)] = xr * rr - xi * ri;
            ai[at(i, k)] = xr * ri + xi * rr;
        }
        const double* lr = &ar[at(0, k)];
        const double* li = &ai[at(0, k)];
        for (std::size_t j = k + 1; j < n; ++j) {
            const double ur = ar[at(k, j)], ui = ai[at(k, j)];
            if (ur == 0.0 && ui == 0.0) continue;
            double* cr = &ar[at(0, j)];
            double* ci = &ai[at(0, j)];
            for (std::size_t i = k + 1; i < end; ++i) {
                cr[i] -= lr[i] * ur - li[i] * ui;
                ci[i] -= lr[i] * ui + li[i] * ur;
            }
        }
        const double br = fr[k], bi = fi[k];
        for (std::size_t i = k + 1; i < end; ++i) {
            fr[i] -= lr[i] * br - li[i] * bi;
            fi[i] -= lr[i] * bi + li[i] * br;
        }
    }
    for (std::size_t k = n; k-- > 0;) {
        double sr = fr[k], si = fi[k];
        for (std::size_t j = k + 1; j < n; ++j) {
            sr -= ar[at(k, j)] * fr[j] - ai[at(k, j)] * fi[j];
            si -= ar[at(k, j)] * fi[j] + ai[at(k, j)] * fr[j];
        }
        const double pr = ar[at(k, k)], pi = ai[at(k, k)];
        // (sr + i si) / (pr + i pi), scaled as the reciprocal above.
        if (std::fabs(pr) >= std::fabs(pi)) {
            const double t = pi / pr, d = pr + pi * t;
            fr[k] = (sr + si * t) / d, fi[k] = (si - sr * t) / d;
        } else {
            const double t = pr / pi, d = pr * t + pi;
            fr[k] = (sr * t + si) / d, fi[k] = (si * t - sr) / d;
        }
    }
    return true;
}

}  // namespace

struct DirectSolver::Work {
    std::vector<double> ar, ai, fr, fi, x;
    SearchSums sums;
};

DirectSolver::DirectSolver(const Model& m) : m_(m), work_(std::make_unique<Work>()) {
    const std::size_t n = static_cast<std::size_t>(m.NU);
    if (!m.influence.empty()) {
        work_->sums.kr.assign(n, 0.0);
        work_->sums.cr.assign(n, 0.0);
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t i = 0; i < n; ++i) {
                work_->sums.kr[j] += m.influence[i] * m.KS[j * n + i];
                work_->sums.cr[j] += m.influence[i] * m.CS[j * n + i];
            }
    }
}

DirectSolver::~DirectSolver() = default;

Point DirectSolver::at(double LAMBDA) {
    const Model& m = m_;
    Work& w = *work_;
    const std::size_t n = static_cast<std::size_t>(m.NU);
    w.ar.resize(n * n);
    w.ai.resize(n * n);
    w.fr.assign(n, 0.0);
    w.fi.assign(n, 0.0);
    // Each element as the step builds it, so both see the same numbers.
    for (std::size_t k = 0; k < n * n; ++k) {
        w.ar[k] = m.KS[k] - (m.MS[k] * LAMBDA) * LAMBDA;
        w.ai[k] = m.CS[k] * LAMBDA;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (i < m.load_cos.size()) w.fr[i] = m.load_cos[i];
        if (i < m.load_sin.size()) w.fi[i] = -m.load_sin[i];
    }
    Point p;
    if (!solve_complex(w.ar, w.ai, w.fr, w.fi, n)) {
        p.singular = true;
        return p;
    }
    w.x.resize(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        w.x[i] = w.fr[i];
        w.x[i + n] = -w.fi[i];
    }
    static_cast<Values&>(p) = values_of(m, w.x, w.x, LAMBDA, &w.sums);
    return p;
}

Point response_direct(const Model& m, double LAMBDA) { return DirectSolver(m).at(LAMBDA); }

std::string response_csv(const Response& r, bool hz) {
    std::string out = hz ? "f_hz" : "lambda";
    for (std::size_t k = 0; k < r.amplitude.size(); ++k)
        out += ",amplitude_" + std::to_string(k + 1) + ",phase_" + std::to_string(k + 1);
    for (std::size_t k = 0; k < r.acceleration.size(); ++k) out += ",acceleration_" + std::to_string(k + 1);
    for (std::size_t t = 0; t < r.stroke.size(); ++t) out += ",stroke_" + std::to_string(t + 1);
    for (std::size_t k = 0; k < r.drift.size(); ++k) out += ",drift_" + std::to_string(k + 1);
    for (std::size_t k = 0; k < r.drift_ratio.size(); ++k) out += ",drift_ratio_" + std::to_string(k + 1);
    if (!r.base_shear.empty()) out += ",base_shear";
    out += '\n';
    auto field = [&out](double v) {
        out += ',';
        out += shortest_text(v);
    };
    for (std::size_t i = 0; i < r.lambda.size(); ++i) {
        out += shortest_text(hz ? r.lambda[i] / (2.0 * std::numbers::pi) : r.lambda[i]);
        for (std::size_t k = 0; k < r.amplitude.size(); ++k) {
            field(r.amplitude[k][i]);
            field(r.phase[k][i]);
        }
        for (const auto& a : r.acceleration) field(a[i]);
        for (const auto& s : r.stroke) field(s[i]);
        for (const auto& d : r.drift) field(d[i]);
        for (const auto& d : r.drift_ratio) field(d[i]);
        if (!r.base_shear.empty()) field(r.base_shear[i]);
        out += '\n';
    }
    return out;
}

}  // namespace design
