#include "design/tune.h"

#include <toml++/toml.h>

#include <Eigen/Cholesky>
#include <algorithm>
#include <cmath>
#include <cstdio>
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

// The description with the dampers given tuned as x holds them: the
// frequency and damping ratio of each in turn.
Description with_tunings(Description d, const std::vector<int32_t>& dampers, const std::vector<double>& x) {
    for (std::size_t i = 0; i < dampers.size(); ++i) {
        TunedMass& t = d.tmds[static_cast<std::size_t>(dampers[i] - 1)];
        t.tuning = TunedMass::Tuning::frequency_ratio;
        t.tuning_value = x[2 * i];
        t.damping = TunedMass::Damping::damping_ratio;
        t.damping_value = x[2 * i + 1];
    }
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
// Without tuning (the objective of a description only) no damper is named.
TuneRequest checked(const Description& d, const Model& m, TuneRequest q, bool tuning = true) {
    if (tuning && d.tmds.empty()) throw Refused(where(d.path, 0, "tmd", "no tuned mass to tune"));
    if (tuning && q.dampers.empty()) q.dampers.push_back(q.damper);
    for (std::size_t i = 0; i < q.dampers.size(); ++i) {
        const int32_t t = q.dampers[i];
        if (t < 1 || t > static_cast<int32_t>(d.tmds.size()))
            throw Refused(where(d.path, 0, "--damper",
                                std::to_string(t) + " outside 1 to " + std::to_string(d.tmds.size())));
        if (std::find(q.dampers.begin(), q.dampers.begin() + static_cast<std::ptrdiff_t>(i), t) !=
            q.dampers.begin() + static_cast<std::ptrdiff_t>(i))
            throw Refused(where(d.path, 0, "--damper", std::to_string(t) + " named twice"));
    }
    if (tuning) q.damper = q.dampers.front();
    if (!(q.stroke_limit >= 0) || !std::isfinite(q.stroke_limit))
        throw Refused(where(d.path, 0, "--stroke-limit", "needs a positive length"));
    if (!(q.robust >= 0 && q.robust < 1))
        throw Refused(where(d.path, 0, "--robust", "needs a fraction above 0 and below 1"));
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

std::vector<int32_t> tuned_dampers(const TuneRequest& q) {
    return q.dampers.empty() ? std::vector<int32_t>{q.damper} : q.dampers;
}

Extremes measure(const Model& m, const TuneRequest& q, const std::string& file, bool with_stroke, Solution how) {
    const std::vector<std::string> names = curve_names(m);
    auto index_of = [&](const std::string& name) {
        const auto it = std::find(names.begin(), names.end(), name);
        if (it == names.end()) throw Refused(file + ": the model has no curve " + name);
        return static_cast<std::size_t>(it - names.begin());
    };
    std::vector<std::size_t> targets;
    for (const std::string& name : target_curves(q)) targets.push_back(index_of(name));
    std::vector<std::size_t> strokes, every;
    if (with_stroke) {
        for (int32_t t : tuned_dampers(q)) strokes.push_back(index_of("stroke_" + std::to_string(t)));
        for (std::size_t t = 0; t < m.tmd_storey.size(); ++t)
            every.push_back(index_of("stroke_" + std::to_string(t + 1)));
    }
    const bool all_tuned = strokes.size() == every.size();
    // A value that is not a number is kept, to be refused, not passed over.
    auto larger = [](double& top, double v) {
        if (!(v <= top)) top = v;
    };
    Extremes e;
    if (q.objective == Objective::rms) {
        const RandomResponse r = random_response(m, file);
        auto rms = [&](const std::string& name) {
            for (const RandomRow& row : r.rows)
                if (row.quantity == name) return row.rms;
            throw Refused(file + ": " + name + " has an infinite variance under this white noise");
        };
        e.amplitude.value = 0.0;
        for (std::size_t i : targets) larger(e.amplitude.value, rms(names[i]));
        for (std::size_t i : strokes) larger(e.stroke.value, rms(names[i]));
        for (std::size_t i : every) larger(e.every_stroke.value, rms(names[i]));
        return e;
    }
    auto largest_of = [&](const std::vector<std::size_t>& curves) {
        const Largest a = largest_over_modes(
            m,
            [&](const Values& v) {
                const std::vector<double> c = curve_values(v);
                double top = 0.0;
                for (std::size_t i : curves) larger(top, c[i]);
                return top;
            },
            file, how);
        return Peak{a.value, a.lambda};
    };
    e.amplitude = largest_of(targets);
    if (with_stroke) {
        e.stroke = largest_of(strokes);
        e.every_stroke = all_tuned ? e.stroke : largest_of(every);
    }
    return e;
}

Description with_frame_scaled(const Description& d, const std::vector<double>& OMEGA, double s) {
    // Scale 1 is the description itself, not a copy rounded again.
    if (s == 1.0) return d;
    Description out = d;
    for (TunedMass& t : out.tmds) {
        const TmdValues v = tmd_values(t, OMEGA);
        t.tuning = TunedMass::Tuning::stiffness;
        t.tuning_value = v.stiffness;
        t.damping = TunedMass::Damping::damping;
        t.damping_value = v.damping;
    }
    for (double& k : out.KR) k *= s;
    for (double& k : out.stiffnesses) k *= s;
    return out;
}

namespace {

// The objective of a description at every scale of a request: the worst
// of them, and the largest stroke of every tuned mass over them when
// asked for.
struct Measured {
    std::vector<Extremes> at;  // by scale
    double worst = 0.0, worst_stroke = 0.0;
};

Measured measure_scaled(const Description& c, const std::vector<double>& OMEGA, const TuneRequest& q,
                        const std::vector<double>& scales, bool with_stroke, const std::string& file,
                        Solution how = Solution::step) {
    Measured out;
    for (double s : scales) {
        const Extremes e = measure(build_model(with_frame_scaled(c, OMEGA, s)), q, file, with_stroke, how);
        out.at.push_back(e);
        if (!(e.amplitude.value <= out.worst)) out.worst = e.amplitude.value;
        if (!(e.every_stroke.value <= out.worst_stroke)) out.worst_stroke = e.every_stroke.value;
    }
    return out;
}

std::vector<double> request_scales(const TuneRequest& q) {
    return q.robust > 0 ? std::vector<double>{1.0 - q.robust, 1.0, 1.0 + q.robust} : std::vector<double>{1.0};
}

// How far past a stroke limit a candidate's objective is pushed, per
// fraction of the limit exceeded: searches in turn with steeper and
// steeper penalties, each from the last one's best point.  A gentle one
// finds where along the limit the minimum lies (a steep one alone walls
// the simplex into the first corner of the limit and the box it meets);
// the last, far steeper than the objective falls as a stroke grows (a
// fraction of it per fraction of the stroke), puts it on the limit.
constexpr double kStrokePenalties[] = {1.0, 10.0, 100.0, 1000.0};

// A candidate keeps the stroke limit when its directly solved stroke is
// this far inside it: the step that reports the optimum agrees with the
// direct solution to far better than 1e-9, so what is reported keeps it.
constexpr double kKeptMargin = 1.0 - 1e-9;

}  // namespace

TuneResult tune(const Description& d, const TuneRequest& request) {
    require_table(d, request.objective == Objective::peak ? "load" : "random");
    const Model given = build_model(d);
    TuneResult r;
    r.request = checked(d, given, request);
    const TuneRequest& q = r.request;
    const std::vector<int32_t>& dampers = q.dampers;
    const std::vector<double> scales = request_scales(q);
    if (q.robust > 0) r.scales = scales;
    const bool limited = q.stroke_limit > 0;
    r.ground = q.objective == Objective::peak ? given.ground : given.random_ground;

    // A result shown or written must be a number: one beyond the range of
    // numbers ends the command, naming what and where.
    auto refuse_overflow = [&](const char* tuning, const Tuning& x) {
        auto check = [&](double value, double lambda, const std::string& what, bool at_lambda = true) {
            if (std::isfinite(value)) return;
            throw Refused(d.path + ": " + what + " with the " + tuning + " tuning" +
                          (q.objective == Objective::peak && at_lambda ? " at LAMBDA=" + shortest_text(lambda) : "") +
                          " is beyond the range of numbers (" + shortest_text(value) + ")");
        };
        const Extremes& e = x.extremes;
        check(e.amplitude.value, e.amplitude.lambda, objective_text(q));
        const std::string stroke =
            std::string(q.objective == Objective::peak ? "the largest " : "the standard deviation of ") + "stroke of ";
        check(e.stroke.value, e.stroke.lambda, stroke + "the tuned masses");
        check(e.every_stroke.value, e.every_stroke.lambda, stroke + "every tuned mass");
        for (std::size_t i = 0; i < x.at_scales.size(); ++i)
            check(x.at_scales[i], 0.0, objective_text(q) + " at stiffness scale " + shortest_text(scales[i]), false);
    };
    // A tuning's every number: the objective at the described frame and at
    // every scale.
    auto assess = [&](Tuning& x, const Description& c) {
        x.frequency_ratio = x.frequency_ratios.front();
        x.damping_ratio = x.damping_ratios.front();
        const Measured m = measure_scaled(c, given.OMEGA, q, scales, true, d.path);
        x.extremes = m.at[scales.size() == 1 ? 0 : 1];
        x.worst = m.worst;
        x.worst_stroke = m.worst_stroke;
        if (q.robust > 0)
            for (const Extremes& e : m.at) {
                x.at_scales.push_back(e.amplitude.value);
                x.strokes_at_scales.push_back(e.every_stroke.value);
            }
    };

    // The given tuning, and the classical one of each damper for the mode
    // nearest its frequency, with the mass ratio to that mode's modal mass
    // at the damper's storey.
    const std::size_t LK = static_cast<std::size_t>(given.LK);
    std::vector<double> given_x, start_x;
    bool classical = true;
    for (int32_t damper : dampers) {
        const TunedMass& t = d.tmds[static_cast<std::size_t>(damper - 1)];
        const TmdValues v = tmd_values(t, given.OMEGA);
        const double own = v.frequency;
        const double reference = given.OMEGA[static_cast<std::size_t>(t.mode - 1)];
        given_x.push_back(own / reference);
        given_x.push_back(v.damping / (2.0 * t.mass * own));
        std::size_t nearest = 0;
        for (std::size_t i = 1; i < LK; ++i)
            if (std::fabs(given.OMEGA[i] - own) < std::fabs(given.OMEGA[nearest] - own)) nearest = i;
        r.nearest_modes.push_back(static_cast<int32_t>(nearest) + 1);
        auto phi = [&](std::size_t j) { return given.PHI[j * LK + nearest]; };
        double modal = 0.0;
        for (std::size_t i = 0; i < LK; ++i)
            for (std::size_t j = 0; j < LK; ++j) modal += phi(i) * given.MR[j * LK + i] * phi(j);
        const double at_storey = phi(static_cast<std::size_t>(t.storey - 1));
        double mu = 0.0;
        if (at_storey != 0.0 && modal > 0.0) mu = t.mass / (modal / (at_storey * at_storey));
        r.mass_ratios.push_back(mu);
        if (mu > 0) {
            const ClassicalTuning c = classical_tuning(q.objective, r.ground, mu);
            r.start_name = c.name;
            start_x.push_back(given.OMEGA[nearest] * c.frequency_ratio / reference);
            start_x.push_back(c.damping_ratio);
        } else {
            classical = false;
        }
    }
    r.nearest_mode = r.nearest_modes.front();
    r.mass_ratio = r.mass_ratios.front();
    auto tuning_of = [&](const std::vector<double>& x) {
        Tuning t;
        for (std::size_t i = 0; i < dampers.size(); ++i) {
            t.frequency_ratios.push_back(x[2 * i]);
            t.damping_ratios.push_back(x[2 * i + 1]);
        }
        return t;
    };
    r.given = tuning_of(given_x);
    assess(r.given, d);
    refuse_overflow("given", r.given);
    r.start = r.given;
    if (classical) {
        r.start = tuning_of(start_x);
        try {
            assess(r.start, with_tunings(d, dampers, start_x));
        } catch (const Refused&) {
            r.start.worst = kInfinite;
        }
        classical = std::isfinite(r.start.worst) && std::isfinite(r.start.extremes.amplitude.value);
    }
    if (!classical) {
        r.start = r.given;
        r.start_name = "given";
        start_x = given_x;
    }

    std::vector<Bound> bounds;
    for (std::size_t i = 0; i < dampers.size(); ++i)
        for (const Bound& b : tuning_bounds()) bounds.push_back(b);
    // A simplex of more parameters takes more steps to shrink: three
    // dampers of the 20-storey example take about 3200 evaluations.
    MinimizerSettings settings;
    settings.max_evaluations *= static_cast<int>(dampers.size());
    const Minimizer search(bounds, settings);
    int evaluations = 0;
    // The worst objective of a candidate and its largest stroke: one whose
    // model cannot be built or whose value is not a number ranks last.
    // Candidates are solved directly; the tunings shown are assessed
    // through the program's step.
    auto candidate = [&](const std::vector<double>& x, bool with_stroke) {
        stop_if_interrupted();
        ++evaluations;
        try {
            return measure_scaled(with_tunings(d, dampers, x), given.OMEGA, q, scales, with_stroke, d.path,
                                  Solution::direct);
        } catch (const Refused&) {
            Measured m;
            m.worst = m.worst_stroke = kInfinite;
            return m;
        }
    };
    Minimum best = search.minimize([&](const std::vector<double>& x) { return candidate(x, false).worst; }, start_x);
    if (limited) {
        const Measured unlimited = candidate(best.x, true);
        r.unlimited_stroke = unlimited.worst_stroke;
        r.limit_binds = !(unlimited.worst_stroke <= q.stroke_limit);
    }
    if (r.limit_binds) {
        // The objective where every stroke keeps the limit, pushed up beyond
        // it in proportion to the excess; the answer is the best candidate
        // seen that keeps it, so a limit met only to the search's tolerance
        // is never reported as met.
        std::vector<double> kept;
        double kept_value = kInfinite;
        double penalty = 0.0;
        auto penalised = [&](const std::vector<double>& x) {
            const Measured m = candidate(x, true);
            if (m.worst_stroke <= q.stroke_limit * kKeptMargin) {
                if (m.worst < kept_value) kept_value = m.worst, kept = x;
                return m.worst;
            }
            return m.worst * (1.0 + penalty * (m.worst_stroke / q.stroke_limit - 1.0));
        };
        auto penalised_searches = [&](std::vector<double> from) {
            Minimum last;
            for (double p : kStrokePenalties) {
                penalty = p;
                last = search.minimize(penalised, from);
                from = last.x;
            }
            return last;
        };
        Minimum limited_best = penalised_searches(start_x);
        if (kept.empty()) {
            // No candidate kept it: the smallest stroke the bounds allow
            // tells whether any tuning can.
            const Minimum smallest =
                search.minimize([&](const std::vector<double>& x) { return candidate(x, true).worst_stroke; }, start_x);
            if (!(smallest.value <= q.stroke_limit)) {
                char found[32];
                std::snprintf(found, sizeof found, "%.6g", smallest.value);
                throw Refused(where(d.path, 0, "--stroke-limit",
                                    "no tuning within the search's bounds keeps every tuned mass's stroke at or below " +
                                        shortest_text(q.stroke_limit) + ": the smallest found is " + found));
            }
            kept = smallest.x;
            kept_value = candidate(kept, false).worst;
            limited_best = penalised_searches(smallest.x);
        }
        best.x = kept;
        best.value = kept_value;
        best.status = limited_best.status;
    }
    r.evaluations = evaluations;
    r.status = best.status;
    r.tuned = tuning_of(best.x);
    assess(r.tuned, with_tunings(d, dampers, best.x));
    refuse_overflow("tuned", r.tuned);
    return r;
}

std::vector<double> detune(const Description& d, TuneRequest& request, const std::vector<double>& scales) {
    require_table(d, request.objective == Objective::peak ? "load" : "random");
    const Model given = build_model(d);
    request = checked(d, given, request, false);
    const TuneRequest& q = request;
    std::vector<double> out;
    for (double s : scales) {
        stop_if_interrupted();
        out.push_back(measure(build_model(with_frame_scaled(d, given.OMEGA, s)), q, d.path, false).amplitude.value);
    }
    return out;
}

}  // namespace design
