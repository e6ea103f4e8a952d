#include "design/tune.h"

#include <toml++/toml.h>

#include <Eigen/Cholesky>
#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include "design/analysis_link.h"
#include "design/interrupt.h"
#include "design/peaks.h"
#include "design/plot_link.h"
#include "design/random.h"
#include "design/response.h"

namespace design {

namespace {

constexpr double kInfinite = std::numeric_limits<double>::infinity();

// The search's box: a damper tuned below half or above one and a half
// times its mode's frequency, or damped below 0.1 % or above 50 % of
// critical, is no tuned mass any more (it no longer moves against that
// mode, or barely moves at all).
constexpr Bound kFrequencyRatio{0.5, 1.5, false};
constexpr Bound kDampingRatio{0.001, 0.5, true};

Description with_tuning(Description d, int32_t damper, double ratio, double zeta) {
    TunedMass& t = d.tmds[static_cast<std::size_t>(damper - 1)];
    t.tuning = TunedMass::Tuning::frequency_ratio;
    t.tuning_value = ratio;
    t.damping = TunedMass::Damping::damping_ratio;
    t.damping_value = zeta;
    return d;
}

// The curves a request minimises, by response's column names.
std::vector<std::string> target_curves(const TuneRequest& q) {
    if (q.quantity == Quantity::base_shear) return {"base_shear"};
    const char* prefix = q.quantity == Quantity::displacement   ? "amplitude_"
                         : q.quantity == Quantity::acceleration ? "acceleration_"
                                                                : "drift_";
    std::vector<std::string> out;
    for (int32_t k : q.targets) out.push_back(prefix + std::to_string(k));
    return out;
}

// The storeys whose absolute acceleration a force load reaches directly:
// those where M^-1 F is not zero for a loaded column F.  Their
// acceleration rises towards P/m with frequency, and under white noise
// its variance is infinite.
std::vector<bool> directly_loaded(const Model& m, Objective objective) {
    const Eigen::Index NU = m.NU;
    const Eigen::Map<const Eigen::MatrixXd> M(m.MS.data(), NU, NU);
    std::vector<Eigen::VectorXd> loads;
    if (objective == Objective::peak) {
        if (m.ground) return std::vector<bool>(static_cast<std::size_t>(m.LK), false);
        loads.push_back(Eigen::Map<const Eigen::VectorXd>(m.load_cos.data(), NU));
        loads.push_back(Eigen::Map<const Eigen::VectorXd>(m.load_sin.data(), NU));
    } else {
        if (m.random_ground) return std::vector<bool>(static_cast<std::size_t>(m.LK), false);
        for (std::size_t j = 0; j < m.force_psd.size(); ++j) {
            if (!(m.force_psd[j] > 0)) continue;
            Eigen::VectorXd e = Eigen::VectorXd::Zero(NU);
            e(static_cast<Eigen::Index>(j)) = 1.0;
            loads.push_back(e);
        }
    }
    const Eigen::LLT<Eigen::MatrixXd> llt(M);
    std::vector<bool> out(static_cast<std::size_t>(m.LK), false);
    for (const Eigen::VectorXd& f : loads) {
        const Eigen::VectorXd a = llt.solve(f);
        const double largest = a.cwiseAbs().maxCoeff();
        for (Eigen::Index k = 0; k < m.LK; ++k)
            if (largest > 0 && std::fabs(a(k)) > 1e-12 * largest) out[static_cast<std::size_t>(k)] = true;
    }
    return out;
}

// The request checked against the description, its targets filled in.
TuneRequest checked(const Description& d, const Model& m, TuneRequest q) {
    if (d.tmds.empty()) throw Refused(where(d.path, 0, "tmd", "no tuned mass to tune"));
    if (q.damper < 1 || q.damper > static_cast<int32_t>(d.tmds.size()))
        throw Refused(where(d.path, 0, "--damper",
                            std::to_string(q.damper) + " outside 1 to " + std::to_string(d.tmds.size())));
    const std::string storeys = "the storeys are 1 to " + std::to_string(d.LK);
    if (q.quantity == Quantity::base_shear) {
        if (!q.targets.empty())
            throw Refused(where(d.path, 0, "--target", "base shear is the whole frame's: no storey is named"));
        if (m.influence.empty())
            throw Refused(where(d.path, 0, "--quantity",
                                "base-shear needs the frame's influence vector (`influence` in [frame])"));
        return q;
    }
    if (q.quantity == Quantity::drift && !m.shear_frame)
        throw Refused(where(d.path, 0, "--quantity", "drift needs a shear frame (masses and stiffnesses)"));
    if (q.targets.empty()) {
        if (q.quantity == Quantity::drift)
            for (int32_t k = 1; k <= d.LK; ++k) q.targets.push_back(k);
        else
            q.targets.push_back(d.LK);
    }
    for (int32_t k : q.targets) {
        if (k >= 1 && k <= d.LK) continue;
        const int32_t NU = d.LK + static_cast<int32_t>(d.tmds.size());
        throw Refused(where(d.path, 0, "--target",
                            (k > d.LK && k <= NU ? std::to_string(k) + " is tuned mass " + std::to_string(k - d.LK) +
                                                       ", not a storey"
                                                 : std::to_string(k) + " is no storey") +
                                ": " + storeys));
    }
    if (q.quantity == Quantity::acceleration) {
        const std::vector<bool> loaded = directly_loaded(m, q.objective);
        for (int32_t k : q.targets)
            if (loaded[static_cast<std::size_t>(k - 1)])
                throw Refused(where(
                    d.path, 0, "--quantity",
                    "the absolute acceleration of storey " + std::to_string(k) +
                        " under a force load rises towards P/m with frequency and has an infinite variance under "
                        "white noise: there is nothing to minimise (tune its displacement or drift, or load the "
                        "ground)"));
    }
    return q;
}

}  // namespace

std::string objective_text(const TuneRequest& q) {
    std::string out = q.objective == Objective::peak ? "the largest " : "the standard deviation of the ";
    switch (q.quantity) {
        case Quantity::displacement: out += "displacement relative to the ground"; break;
        case Quantity::acceleration: out += "absolute acceleration"; break;
        case Quantity::drift: out += "drift"; break;
        case Quantity::base_shear: return out + "base shear";
    }
    out += q.targets.size() == 1 ? " of storey " : " over storeys ";
    for (std::size_t i = 0; i < q.targets.size(); ++i) {
        if (i > 0) out += ',';
        out += std::to_string(q.targets[i]);
    }
    return out;
}

std::vector<Bound> tuning_bounds() { return {kFrequencyRatio, kDampingRatio}; }

ClassicalTuning classical_tuning(Objective objective, bool ground, double mu) {
    if (objective == Objective::peak && !ground)
        return {"Den Hartog", 1.0 / (1.0 + mu), std::sqrt(3.0 * mu / (8.0 * (1.0 + mu)))};
    if (objective == Objective::peak)
        return {"Warburton", std::sqrt(1.0 - mu / 2) / (1.0 + mu),
                std::sqrt(3.0 * mu / (8.0 * (1.0 + mu) * (1.0 - mu / 2)))};
    if (!ground)
        return {"Warburton", std::sqrt(1.0 + mu / 2) / (1.0 + mu),
                std::sqrt(mu * (1.0 + 3.0 * mu / 4) / (4.0 * (1.0 + mu) * (1.0 + mu / 2)))};
    return {"Warburton", std::sqrt(1.0 - mu / 2) / (1.0 + mu),
            std::sqrt(mu * (1.0 - mu / 4) / (4.0 * (1.0 + mu) * (1.0 - mu / 2)))};
}

Extremes measure(const Model& m, const TuneRequest& q, const std::string& file, bool with_stroke) {
    const std::vector<std::string> names = curve_names(m);
    auto index_of = [&](const std::string& name) {
        const auto it = std::find(names.begin(), names.end(), name);
        if (it == names.end()) throw Refused(file + ": the model has no curve " + name);
        return static_cast<std::size_t>(it - names.begin());
    };
    std::vector<std::size_t> targets;
    for (const std::string& name : target_curves(q)) targets.push_back(index_of(name));
    const std::size_t stroke = index_of("stroke_" + std::to_string(q.damper));
    Extremes e;
    if (q.objective == Objective::rms) {
        const RandomResponse r = random_response(m, file);
        auto rms = [&](const std::string& name) {
            for (const RandomRow& row : r.rows)
                if (row.quantity == name) return row.rms;
            throw Refused(file + ": " + name + " has an infinite variance under this white noise");
        };
        e.amplitude.value = 0.0;
        // A value that is not a number is kept, to be refused, not passed over.
        for (std::size_t i : targets) {
            const double v = rms(names[i]);
            if (!(v <= e.amplitude.value)) e.amplitude.value = v;
        }
        e.stroke.value = rms(names[stroke]);
        return e;
    }
    const Largest a = largest_over_modes(
        m,
        [&](const Values& v) {
            const std::vector<double> c = curve_values(v);
            double top = 0.0;
            for (std::size_t i : targets)
                if (!(c[i] <= top)) top = c[i];
            return top;
        },
        file);
    e.amplitude = {a.value, a.lambda};
    if (with_stroke) {
        const Largest s = largest_over_modes(m, [&](const Values& v) { return curve_values(v)[stroke]; }, file);
        e.stroke = {s.value, s.lambda};
    }
    return e;
}

TuneResult tune(const Description& d, const TuneRequest& request) {
    require_table(d, request.objective == Objective::peak ? "load" : "random");
    const Model given = build_model(d);
    TuneResult r;
    r.request = checked(d, given, request);
    const TuneRequest& q = r.request;
    r.ground = q.objective == Objective::peak ? given.ground : given.random_ground;
    const TunedMass& t = d.tmds[static_cast<std::size_t>(q.damper - 1)];

    // A result shown or written must be a number: one beyond the range of
    // numbers ends the command, naming what and where.
    auto refuse_overflow = [&](const char* tuning, const Extremes& e) {
        auto check = [&](const Peak& p, const std::string& what) {
            if (std::isfinite(p.value)) return;
            throw Refused(d.path + ": " + what + " with the " + tuning + " tuning" +
                          (q.objective == Objective::peak ? " at LAMBDA=" + shortest_text(p.lambda) : "") +
                          " is beyond the range of numbers (" + shortest_text(p.value) + ")");
        };
        check(e.amplitude, objective_text(q));
        check(e.stroke, std::string(q.objective == Objective::peak ? "the largest " : "the standard deviation of ") +
                            "stroke of tuned mass " + std::to_string(q.damper));
    };

    const double own = tmd_values(t, given.OMEGA).frequency;
    const double reference = given.OMEGA[static_cast<std::size_t>(t.mode - 1)];
    r.given.frequency_ratio = own / reference;
    r.given.damping_ratio = tmd_values(t, given.OMEGA).damping / (2.0 * t.mass * own);
    r.given.extremes = measure(given, q, d.path);
    refuse_overflow("given", r.given.extremes);

    // The classical tuning for the mode nearest the damper's frequency,
    // with the mass ratio to that mode's modal mass at the damper's storey.
    const std::size_t LK = static_cast<std::size_t>(given.LK);
    std::size_t nearest = 0;
    for (std::size_t i = 1; i < LK; ++i)
        if (std::fabs(given.OMEGA[i] - own) < std::fabs(given.OMEGA[nearest] - own)) nearest = i;
    r.nearest_mode = static_cast<int32_t>(nearest) + 1;
    auto phi = [&](std::size_t j) { return given.PHI[j * LK + nearest]; };
    double modal = 0.0;
    for (std::size_t i = 0; i < LK; ++i)
        for (std::size_t j = 0; j < LK; ++j) modal += phi(i) * given.MR[j * LK + i] * phi(j);
    const double at_storey = phi(static_cast<std::size_t>(t.storey - 1));
    r.start = r.given;
    r.start_name = "given";
    if (at_storey != 0.0 && modal > 0.0) {
        const double mu = t.mass / (modal / (at_storey * at_storey));
        r.mass_ratio = mu;
        const ClassicalTuning c = classical_tuning(q.objective, r.ground, mu);
        r.start_name = c.name;
        r.start.frequency_ratio = given.OMEGA[nearest] * c.frequency_ratio / reference;
        r.start.damping_ratio = c.damping_ratio;
        try {
            r.start.extremes = measure(
                build_model(with_tuning(d, q.damper, r.start.frequency_ratio, r.start.damping_ratio)), q, d.path);
        } catch (const Refused&) {
            r.start.extremes.amplitude.value = kInfinite;
        }
        if (!std::isfinite(r.start.extremes.amplitude.value)) {
            r.start = r.given;
            r.start_name = "given";
        }
    }

    // The objective of a candidate: one whose model cannot be built or
    // whose value is not a number ranks last.
    auto objective = [&](const std::vector<double>& x) {
        stop_if_interrupted();
        try {
            const Model m = build_model(with_tuning(d, q.damper, x[0], x[1]));
            return measure(m, q, d.path, false).amplitude.value;
        } catch (const Refused&) {
            return kInfinite;
        }
    };
    const Minimum best =
        Minimizer(tuning_bounds()).minimize(objective, {r.start.frequency_ratio, r.start.damping_ratio});
    r.evaluations = best.evaluations;
    r.status = best.status;
    r.tuned.frequency_ratio = best.x[0];
    r.tuned.damping_ratio = best.x[1];
    r.tuned.extremes =
        measure(build_model(with_tuning(d, q.damper, best.x[0], best.x[1])), q, d.path);
    refuse_overflow("tuned", r.tuned.extremes);
    return r;
}

}  // namespace design
