#include "design/tune.h"

#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <sstream>

#include "design/analysis_link.h"
#include "design/interrupt.h"
#include "design/plot_link.h"
#include "design/response.h"

namespace design {

namespace {

constexpr double kGolden = 0.6180339887498949;
constexpr int kGoldenRounds = 60;

// The largest of f over [lo, hi] near every local maximum of f on grid,
// each refined by golden-section search between the grid's neighbours.
template <class F>
Peak continuous_max(const std::vector<double>& grid, const std::vector<double>& v, F f) {
    Peak best;
    best.value = -1.0;
    const std::size_t n = grid.size();
    for (std::size_t i = 0; i < n; ++i) {
        const bool left = i == 0 || v[i] >= v[i - 1];
        const bool right = i + 1 == n || v[i] >= v[i + 1];
        if (!left || !right) continue;
        double a = grid[i == 0 ? 0 : i - 1], b = grid[i + 1 == n ? i : i + 1];
        Peak p{v[i], grid[i]};
        double x1 = b - kGolden * (b - a), x2 = a + kGolden * (b - a);
        double f1 = f(x1), f2 = f(x2);
        for (int k = 0; k < kGoldenRounds && b - a > 0; ++k) {
            if (f1 >= f2) {
                b = x2;
                x2 = x1;
                f2 = f1;
                x1 = b - kGolden * (b - a);
                f1 = f(x1);
            } else {
                a = x1;
                x1 = x2;
                f1 = f2;
                x2 = a + kGolden * (b - a);
                f2 = f(x2);
            }
        }
        if (f1 > p.value) p = {f1, x1};
        if (f2 > p.value) p = {f2, x2};
        if (p.value > best.value) best = p;
    }
    return best;
}

Description with_tuning(Description d, int32_t damper, double ratio, double zeta) {
    TunedMass& t = d.tmds[static_cast<std::size_t>(damper - 1)];
    t.tuning = TunedMass::Tuning::frequency_ratio;
    t.tuning_value = ratio;
    t.damping = TunedMass::Damping::damping_ratio;
    t.damping_value = zeta;
    return d;
}

constexpr double kInfinite = std::numeric_limits<double>::infinity();

// A result shown or written must be a number: one beyond the range of
// numbers (a force too large, a singular step) ends the command, naming
// what and where.
void refuse_overflow(const Description& d, const char* tuning, const Extremes& e, int32_t target, int32_t damper) {
    auto check = [&](const Peak& p, const std::string& quantity) {
        if (!std::isfinite(p.value))
            throw Refused(d.path + ": " + quantity + " with the " + tuning + " tuning at LAMBDA=" +
                          shortest_text(p.lambda) + " is beyond the range of numbers (" + shortest_text(p.value) +
                          ")");
    };
    check(e.amplitude, "the largest amplitude of unknown " + std::to_string(target));
    check(e.stroke, "the largest stroke of tuned mass " + std::to_string(damper));
}

}  // namespace

Extremes extremes(const Model& m, double from, double to, int32_t target, int32_t damper) {
    Stepper stepper = stepper_of(m);
    std::vector<double> grid;
    for (double l : sweep_lambdas(m.LAMMIN, m.LAMMAX, m.DLAM))
        if (l >= from && l < to) grid.push_back(l);
    grid.push_back(to);
    std::vector<double> amp, stroke;
    for (double l : grid) {
        const Point p = response_at(stepper, m, l);
        if (p.singular) return {{kInfinite, l}, {kInfinite, l}};
        amp.push_back(p.amplitude[static_cast<std::size_t>(target - 1)]);
        stroke.push_back(damper > 0 ? p.stroke[static_cast<std::size_t>(damper - 1)] : 0.0);
    }
    auto at = [&](double l, bool of_stroke) {
        const Point p = response_at(stepper, m, l);
        if (p.singular) return kInfinite;
        return of_stroke ? p.stroke[static_cast<std::size_t>(damper - 1)]
                         : p.amplitude[static_cast<std::size_t>(target - 1)];
    };
    Extremes e;
    e.amplitude = continuous_max(grid, amp, [&](double l) { return at(l, false); });
    if (damper > 0) e.stroke = continuous_max(grid, stroke, [&](double l) { return at(l, true); });
    return e;
}

TuneResult tune(const Description& d, int32_t damper, int32_t target) {
    if (d.tmds.empty()) throw Refused(where(d.path, 0, "tmd", "no tuned mass to tune"));
    if (damper < 1 || damper > static_cast<int32_t>(d.tmds.size()))
        throw Refused(
            where(d.path, 0, "--damper", std::to_string(damper) + " outside 1 to " + std::to_string(d.tmds.size())));
    const int32_t NU = d.LK + static_cast<int32_t>(d.tmds.size());
    if (target < 1 || target > NU)
        throw Refused(where(d.path, 0, "--target", std::to_string(target) + " outside 1 to " + std::to_string(NU)));
    TuneResult r;
    r.damper = damper;
    r.target = target;
    const TunedMass& t = d.tmds[static_cast<std::size_t>(damper - 1)];

    const Model given = build_model(d);
    const double own = tmd_values(t, given.OMEGA).frequency;
    const double reference = given.OMEGA[static_cast<std::size_t>(t.mode - 1)];
    r.given.frequency_ratio = own / reference;
    r.given.damping_ratio = tmd_values(t, given.OMEGA).damping / (2.0 * t.mass * own);
    r.given.extremes = extremes(given, given.LAMMIN, given.LAMMAX, target, damper);
    refuse_overflow(d, "given", r.given.extremes, target, damper);

    // Den Hartog's tuning for the mode nearest the damper's frequency, with
    // the mass ratio to that mode's modal mass at the damper's storey.
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
    if (at_storey != 0.0 && modal > 0.0) {
        const double mu = t.mass / (modal / (at_storey * at_storey));
        r.mass_ratio = mu;
        r.start.frequency_ratio = given.OMEGA[nearest] / (1.0 + mu) / reference;
        r.start.damping_ratio = std::sqrt(3.0 * mu / (8.0 * (1.0 + mu) * (1.0 + mu) * (1.0 + mu)));
        r.start.extremes = extremes(build_model(with_tuning(d, damper, r.start.frequency_ratio, r.start.damping_ratio)),
                                    given.LAMMIN, given.LAMMAX, target, damper);
        refuse_overflow(d, "Den Hartog", r.start.extremes, target, damper);
    }

    // Nelder-Mead on (frequency ratio, log damping ratio) for the continuous
    // peak, restarted around its best point until a restart gains nothing:
    // the peak is a maximum of several curves and has kinks where two
    // peaks are equal, on which a single simplex may stall.
    // A candidate whose peak is not a finite number is given up: it ranks
    // last, and a simplex whose best is not finite stops.
    auto peak = [&](const std::array<double, 2>& p) {
        stop_if_interrupted();
        ++r.evaluations;
        if (!(p[0] > 0) || !std::isfinite(p[1])) return kInfinite;
        try {
            const Model m = build_model(with_tuning(d, damper, p[0], std::exp(p[1])));
            const double v = extremes(m, m.LAMMIN, m.LAMMAX, target, 0).amplitude.value;
            return std::isfinite(v) ? v : kInfinite;
        } catch (const Refused&) {
            return kInfinite;
        }
    };
    std::array<double, 2> best{r.start.frequency_ratio, std::log(std::max(r.start.damping_ratio, 1e-4))};
    double best_value = peak(best);
    if (!std::isfinite(best_value)) {
        best = {r.given.frequency_ratio, std::log(std::max(r.given.damping_ratio, 1e-4))};
        best_value = peak(best);
    }
    double scale = 1.0;
    for (int restart = 0; restart < 8; ++restart) {
        std::array<std::array<double, 2>, 3> s{best, best, best};
        s[1][0] += 0.03 * scale * best[0];
        s[2][1] += 0.3 * scale;
        std::array<double, 3> f{best_value, peak(s[1]), peak(s[2])};
        for (int it = 0; it < 200; ++it) {
            std::array<int, 3> o{0, 1, 2};
            std::sort(o.begin(), o.end(), [&](int a, int b) { return f[a] < f[b]; });
            const int lo = o[0], mid = o[1], hi = o[2];
            if (!std::isfinite(f[lo]) || f[hi] - f[lo] <= 1e-11 * std::fabs(f[lo])) break;
            std::array<double, 2> c{(s[lo][0] + s[mid][0]) / 2, (s[lo][1] + s[mid][1]) / 2};
            auto along = [&](double k) {
                return std::array<double, 2>{c[0] + k * (s[hi][0] - c[0]), c[1] + k * (s[hi][1] - c[1])};
            };
            const auto xr = along(-1.0);
            const double fr = peak(xr);
            if (fr < f[lo]) {
                const auto xe = along(-2.0);
                const double fe = peak(xe);
                if (fe < fr)
                    s[hi] = xe, f[hi] = fe;
                else
                    s[hi] = xr, f[hi] = fr;
            } else if (fr < f[mid]) {
                s[hi] = xr, f[hi] = fr;
            } else {
                const auto xc = fr < f[hi] ? along(-0.5) : along(0.5);
                const double fc = peak(xc);
                if (fc < std::min(fr, f[hi])) {
                    s[hi] = xc, f[hi] = fc;
                } else {
                    for (int k : {mid, hi}) {
                        s[k] = {(s[k][0] + s[lo][0]) / 2, (s[k][1] + s[lo][1]) / 2};
                        f[k] = peak(s[k]);
                    }
                }
            }
        }
        const int lo = static_cast<int>(std::min_element(f.begin(), f.end()) - f.begin());
        const bool gained = f[lo] < best_value * (1 - 1e-9);
        if (f[lo] < best_value) best = s[lo], best_value = f[lo];
        if (!gained) {
            if (scale < 0.05) break;
            scale *= 0.3;
        }
    }
    r.tuned.frequency_ratio = best[0];
    r.tuned.damping_ratio = std::exp(best[1]);
    r.tuned.extremes = extremes(build_model(with_tuning(d, damper, best[0], r.tuned.damping_ratio)), given.LAMMIN,
                                given.LAMMAX, target, damper);
    refuse_overflow(d, "tuned", r.tuned.extremes, target, damper);
    return r;
}

std::string tuned_description(const std::string& path, int32_t damper, double frequency_ratio, double damping_ratio) {
    toml::table root = toml::parse_file(path);
    toml::table& t = *(*root.get_as<toml::array>("tmd")).get(static_cast<std::size_t>(damper - 1))->as_table();
    for (const char* key : {"frequency", "frequency_ratio", "stiffness", "damping", "damping_ratio"}) t.erase(key);
    t.insert("frequency_ratio", frequency_ratio);
    t.insert("damping_ratio", damping_ratio);
    std::ostringstream out;
    out << root << '\n';
    return out.str();
}

}  // namespace design
