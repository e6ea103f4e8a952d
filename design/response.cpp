#include "design/response.h"

#include <cmath>
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

double relative(const std::vector<double>& x, int32_t NU, int32_t a, int32_t b) {
    const auto [ac, as] = relative_parts(x, NU, a, b);
    return amplitude(ac, as);
}

}  // namespace

Assembled assemble_model(const Model& m) {
    Assembled a;
    const FrameModes modes = frame_modes(m.LK, m.MR, m.KR);
    a.OMEGA = modes.OMEGA;
    a.PHI = modes.PHI;
    a.CR = proportional_damping(m.LK, a.OMEGA, m.GAMMA1, m.GAMMA2, m.MR, m.KR);
    a.MS = assemble(m.LK, m.LPT, m.MR, m.Mkk, m.Mkt, m.Mtk, m.Mtt);
    a.CS = assemble(m.LK, m.LPT, a.CR, m.Ckk, m.Ckt, m.Ctk, m.Ctt);
    a.KS = assemble(m.LK, m.LPT, m.KR, m.Kkk, m.Kkt, m.Ktk, m.Ktt);
    return a;
}

Response compute_response(const Model& m, const std::string& file) {
    const Assembled a = assemble_model(m);
    Stepper stepper(m.LK, m.NU, a.MS, a.CS, a.KS, m.PC, m.PS);
    Response r;
    r.lambda = sweep_lambdas(m.LAMMIN, m.LAMMAX, m.DLAM);
    const std::size_t NU = static_cast<std::size_t>(m.NU);
    r.amplitude.assign(NU, {});
    r.phase.assign(NU, {});
    r.stroke.assign(static_cast<std::size_t>(m.LPT), {});
    r.stroke_phase.assign(static_cast<std::size_t>(m.LPT), {});
    if (m.shear_frame) r.drift.assign(static_cast<std::size_t>(m.LK), {});
    std::vector<double> x, refined;
    for (const double LAMBDA : r.lambda) {
        stop_if_interrupted();
        const Stepper::Solved solved = stepper.solve(LAMBDA, x, refined);
        if (solved == Stepper::Solved::singular)
            throw Refused(file + ": the system is singular at LAMBDA=" + shortest_text(LAMBDA));
        if (solved == Stepper::Solved::inaccurate) r.inaccurate.push_back(LAMBDA);
        for (std::size_t k = 0; k < NU; ++k) {
            // The storeys as the program prints them; the tuned masses
            // from the refined solution.
            const std::vector<double>& v = k < static_cast<std::size_t>(m.LK) ? x : refined;
            const double ac = v[k], as = v[k + NU];
            if (!std::isfinite(ac) || !std::isfinite(as))
                throw Refused(file + ": the response at LAMBDA=" + shortest_text(LAMBDA) +
                              " is beyond the range of numbers");
            r.amplitude[k].push_back(amplitude(ac, as));
            r.phase[k].push_back(wrap_phase(std::atan2(as, ac) * kDegrees));
        }
        for (std::size_t t = 0; t < r.stroke.size(); ++t) {
            const auto [ac, as] = relative_parts(refined, m.NU, m.LK + static_cast<int32_t>(t) + 1, m.tmd_storey[t]);
            r.stroke[t].push_back(amplitude(ac, as));
            r.stroke_phase[t].push_back(wrap_phase(std::atan2(as, ac) * kDegrees));
        }
        for (std::size_t k = 0; k < r.drift.size(); ++k)
            r.drift[k].push_back(relative(refined, m.NU, static_cast<int32_t>(k) + 1, static_cast<int32_t>(k)));
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
    const std::size_t NU = static_cast<std::size_t>(m.NU);
    for (std::size_t k = 0; k < NU; ++k) p.amplitude.push_back(amplitude(refined[k], refined[k + NU]));
    for (std::size_t t = 0; t < static_cast<std::size_t>(m.LPT); ++t)
        p.stroke.push_back(relative(refined, m.NU, m.LK + static_cast<int32_t>(t) + 1, m.tmd_storey[t]));
    return p;
}

std::string response_csv(const Response& r, bool hz) {
    std::string out = hz ? "f_hz" : "lambda";
    for (std::size_t k = 0; k < r.amplitude.size(); ++k)
        out += ",amplitude_" + std::to_string(k + 1) + ",phase_" + std::to_string(k + 1);
    for (std::size_t t = 0; t < r.stroke.size(); ++t) out += ",stroke_" + std::to_string(t + 1);
    for (std::size_t k = 0; k < r.drift.size(); ++k) out += ",drift_" + std::to_string(k + 1);
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
        for (const auto& s : r.stroke) field(s[i]);
        for (const auto& d : r.drift) field(d[i]);
        out += '\n';
    }
    return out;
}

}  // namespace design
