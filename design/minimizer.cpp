#include "design/minimizer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>

namespace design {

namespace {

constexpr double kInfinite = std::numeric_limits<double>::infinity();

// Nelder and Mead's usual coefficients: reflection 1, expansion 2,
// contraction and shrinking by halves.
constexpr double kReflect = 1.0, kExpand = 2.0, kContract = 0.5, kShrink = 0.5;

}  // namespace

std::string status_text(Minimum::Status s) {
    switch (s) {
        case Minimum::Status::converged: return "converged";
        case Minimum::Status::evaluation_limit: return "stopped at the evaluation limit";
        case Minimum::Status::at_bound: return "converged on a bound";
    }
    return "";
}

Minimizer::Minimizer(std::vector<Bound> bounds, MinimizerSettings settings)
    : bounds_(std::move(bounds)), settings_(settings) {
    for (const Bound& b : bounds_)
        if (!(b.lower < b.upper) || (b.logarithmic && !(b.lower > 0)))
            throw std::invalid_argument("a bound's lower end must lie below its upper end (and above 0 when logarithmic)");
}

Minimum Minimizer::minimize(const Objective& f, std::vector<double> start) const {
    const std::size_t n = bounds_.size();
    if (start.size() != n) throw std::invalid_argument("the start has not one value per bound");
    using Point = std::vector<double>;  // in the unit box
    auto to_x = [&](const Point& u) {
        Point x(n);
        for (std::size_t i = 0; i < n; ++i) {
            const Bound& b = bounds_[i];
            x[i] = b.logarithmic ? std::exp(std::log(b.lower) + u[i] * (std::log(b.upper) - std::log(b.lower)))
                                 : b.lower + u[i] * (b.upper - b.lower);
            x[i] = std::clamp(x[i], b.lower, b.upper);
        }
        return x;
    };
    auto to_u = [&](const Point& x) {
        Point u(n);
        for (std::size_t i = 0; i < n; ++i) {
            const Bound& b = bounds_[i];
            const double v = std::isfinite(x[i]) ? std::clamp(x[i], b.lower, b.upper) : b.lower;
            u[i] = b.logarithmic ? (std::log(v) - std::log(b.lower)) / (std::log(b.upper) - std::log(b.lower))
                                 : (v - b.lower) / (b.upper - b.lower);
        }
        return u;
    };
    Minimum m;
    auto value = [&](Point& u) {
        for (double& v : u) v = std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0;
        ++m.evaluations;
        const double v = f(to_x(u));
        return std::isfinite(v) ? v : kInfinite;
    };
    auto spread = [&](const std::vector<Point>& s, std::size_t lo) {
        double d = 0.0;
        for (const Point& p : s)
            for (std::size_t i = 0; i < n; ++i) d = std::max(d, std::fabs(p[i] - s[lo][i]));
        return d;
    };

    Point best = to_u(start);
    double best_value = value(best);
    double step = settings_.first_step;
    int fruitless = 0;
    while (m.evaluations < settings_.max_evaluations) {
        // A simplex of edges step along each parameter, turned inwards at
        // the box's far faces.
        std::vector<Point> s(n + 1, best);
        std::vector<double> fs(n + 1, best_value);
        for (std::size_t i = 0; i < n; ++i) {
            s[i + 1][i] += best[i] + step <= 1.0 ? step : -step;
            fs[i + 1] = value(s[i + 1]);
        }
        std::vector<std::size_t> order(n + 1);
        while (m.evaluations < settings_.max_evaluations) {
            std::iota(order.begin(), order.end(), std::size_t{0});
            std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return fs[a] < fs[b]; });
            const std::size_t lo = order[0], hi = order[n], next = order[n - 1];
            if (!std::isfinite(fs[lo])) break;
            if (spread(s, lo) <= settings_.point_tolerance ||
                fs[hi] - fs[lo] <= settings_.value_tolerance * std::fabs(fs[lo]))
                break;
            Point c(n, 0.0);
            for (std::size_t k : order)
                if (k != hi)
                    for (std::size_t i = 0; i < n; ++i) c[i] += s[k][i] / static_cast<double>(n);
            auto along = [&](double t) {
                Point p(n);
                for (std::size_t i = 0; i < n; ++i) p[i] = c[i] + t * (s[hi][i] - c[i]);
                return p;
            };
            Point xr = along(-kReflect);
            const double fr = value(xr);
            if (fr < fs[lo]) {
                Point xe = along(-kExpand);
                const double fe = value(xe);
                if (fe < fr)
                    s[hi] = xe, fs[hi] = fe;
                else
                    s[hi] = xr, fs[hi] = fr;
            } else if (fr < fs[next]) {
                s[hi] = xr, fs[hi] = fr;
            } else {
                Point xc = fr < fs[hi] ? along(-kContract) : along(kContract);
                const double fc = value(xc);
                if (fc < std::min(fr, fs[hi])) {
                    s[hi] = xc, fs[hi] = fc;
                } else {
                    for (std::size_t k = 0; k <= n; ++k) {
                        if (k == lo) continue;
                        for (std::size_t i = 0; i < n; ++i) s[k][i] = s[lo][i] + kShrink * (s[k][i] - s[lo][i]);
                        fs[k] = value(s[k]);
                    }
                }
            }
        }
        const std::size_t lo = static_cast<std::size_t>(std::min_element(fs.begin(), fs.end()) - fs.begin());
        const bool gained = fs[lo] < best_value - settings_.value_tolerance * std::fabs(best_value);
        if (fs[lo] < best_value) best = s[lo], best_value = fs[lo];
        if (gained) {
            fruitless = 0;
        } else {
            if (++fruitless >= settings_.restarts_without_gain) break;
            step *= settings_.restart_shrink;
        }
    }
    m.x = to_x(best);
    m.value = best_value;
    if (m.evaluations >= settings_.max_evaluations) {
        m.status = Minimum::Status::evaluation_limit;
    } else {
        for (double u : best)
            if (u <= 10 * settings_.point_tolerance || u >= 1.0 - 10 * settings_.point_tolerance)
                m.status = Minimum::Status::at_bound;
    }
    return m;
}

}  // namespace design
