#include "plot/curves.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

namespace plot {
namespace {

constexpr double kDegrees = 180.0 / std::numbers::pi;

// The velocity leads the displacement by a quarter turn and the acceleration
// by half a turn: their lags are smaller by 90 and 180 degrees, and their
// amplitudes larger by lambda and lambda squared.
double lead_of(Quantity q) {
    switch (q) {
    case Quantity::velocity: return 90.0;
    case Quantity::acceleration: return 180.0;
    case Quantity::displacement: break;
    }
    return 0.0;
}

double amplitude_of(Quantity q, double amp, double lambda) {
    switch (q) {
    case Quantity::velocity: return amp * lambda;
    case Quantity::acceleration: return amp * lambda * lambda;
    case Quantity::displacement: break;
    }
    return amp;
}

// x(t) = AC cos(lambda t) + AS sin(lambda t) = AMP cos(lambda t - phi).
Series series_of(const Curve& c, const std::vector<double>& lambda, Quantity q) {
    Series s;
    s.unknown = c.unknown;
    for (std::size_t i = 0; i < lambda.size(); ++i) {
        s.amplitude.push_back(amplitude_of(q, c.amp[i], lambda[i]));
        s.phase.push_back(wrap_degrees(std::atan2(c.as[i], c.ac[i]) * kDegrees - lead_of(q)));
    }
    return s;
}

std::string holds(const Sweep& sweep) {
    std::string s;
    for (const Curve& c : sweep.curves) s += (s.empty() ? "" : ", ") + std::to_string(c.unknown);
    return s;
}

}  // namespace

double wrap_degrees(double degrees) {
    double r = std::fmod(degrees, 360.0);
    if (r <= -180.0) r += 360.0;
    else if (r > 180.0) r -= 360.0;
    return r + 0.0;
}

std::vector<double> unwrap_degrees(const std::vector<double>& wrapped) {
    std::vector<double> out;
    out.reserve(wrapped.size());
    for (std::size_t i = 0; i < wrapped.size(); ++i)
        out.push_back(i == 0 ? wrapped[0] : out.back() + wrap_degrees(wrapped[i] - wrapped[i - 1]));
    return out;
}

std::string shortest(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v + 0.0);
    return std::string(buf, r.ptr);
}

CurvesMade make_curves(const Sweep& sweep, const View& view) {
    CurvesMade out;
    Curves& c = out.curves;
    c.quantity = view.quantity;
    c.hz = view.hz;
    const double per_axis = view.hz ? 2.0 * std::numbers::pi : 1.0;
    for (const double l : sweep.lambda) c.x.push_back(l / per_axis);
    for (const double w : sweep.omega) c.natural.push_back(w / per_axis);
    std::sort(c.natural.begin(), c.natural.end());

    // Every unknown once, in the order asked for or held (a plot file may
    // follow one unknown in two of its groups).
    std::vector<int32_t> wanted = view.unknowns;
    if (wanted.empty())
        for (const Curve& k : sweep.curves) wanted.push_back(k.unknown);
    std::vector<int32_t> done;
    for (const int32_t u : wanted) {
        if (std::find(done.begin(), done.end(), u) != done.end()) continue;
        done.push_back(u);
        const auto k = std::find_if(sweep.curves.begin(), sweep.curves.end(),
                                    [u](const Curve& cv) { return cv.unknown == u; });
        if (k == sweep.curves.end()) {
            out.error = "unknown " + std::to_string(u) + " is not in the file (it holds " +
                        (sweep.curves.empty() ? std::string("none") : holds(sweep)) + ")";
            return out;
        }
        c.series.push_back(series_of(*k, sweep.lambda, view.quantity));
    }
    return out;
}

std::string to_csv(const Curves& curves) {
    std::string out = curves.hz ? "f_hz" : "lambda";
    for (const Series& s : curves.series) {
        const std::string k = std::to_string(s.unknown);
        out += ",amplitude_" + k + ",phase_" + k;
    }
    out += '\n';
    for (std::size_t i = 0; i < curves.x.size(); ++i) {
        out += shortest(curves.x[i]);
        for (const Series& s : curves.series) {
            out += ',';
            out += shortest(s.amplitude[i]);
            out += ',';
            out += shortest(s.phase[i]);
        }
        out += '\n';
    }
    return out;
}

}  // namespace plot
