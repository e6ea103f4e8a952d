#include "plot/curves.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

namespace plot {
namespace {

constexpr double kDegrees = 180.0 / std::numbers::pi;

// The CSV goes on in pieces of about this size.
constexpr std::size_t kCsvPiece = 1 << 16;

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

const char* const kQuantityNames[] = {"displacement", "velocity", "acceleration"};

std::string holds(const std::vector<int32_t>& unknowns) {
    std::string s;
    for (const int32_t u : unknowns) s += (s.empty() ? "" : ", ") + std::to_string(u);
    return s.empty() ? "none" : s;
}

// The next step of a phase made continuous: at most half a turn from the one before.
double unwrap_next(double unwrapped_before, double wrapped_before, double wrapped) {
    return unwrapped_before + wrap_degrees(wrapped - wrapped_before);
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
        out.push_back(i == 0 ? wrapped[0] : unwrap_next(out.back(), wrapped[i - 1], wrapped[i]));
    return out;
}

std::string shortest(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v + 0.0);
    return std::string(buf, r.ptr);
}

CurveMaker::CurveMaker(View view, CsvOut csv, std::size_t bins)
    : view_(std::move(view)), csv_(std::move(csv)), bins_(bins) {}

std::string CurveMaker::begin(Kind, const std::vector<int32_t>& unknowns, const std::vector<double>& omega) {
    unknowns_ = unknowns;
    omega_ = omega;
    // Every unknown once, in the order asked for or held (a plot file may
    // follow one unknown in two of its groups).
    std::vector<int32_t> wanted = view_.unknowns.empty() ? unknowns : view_.unknowns;
    std::vector<int32_t> done;
    for (const int32_t u : wanted) {
        if (std::find(done.begin(), done.end(), u) != done.end()) continue;
        done.push_back(u);
        const auto k = std::find(unknowns.begin(), unknowns.end(), u);
        if (k == unknowns.end())
            return "unknown " + std::to_string(u) + " is not in the file (it holds " + holds(unknowns) + ")";
        chosen_.push_back(static_cast<std::size_t>(k - unknowns.begin()));
        tracks_.push_back({Decimator(bins_), Decimator(bins_)});
    }
    pending_ = view_.hz ? "f_hz" : "lambda";
    for (const std::size_t k : chosen_) {
        const std::string n = std::to_string(unknowns[k]);
        pending_ += ",amplitude_" + n + ",phase_" + n;
    }
    pending_ += '\n';
    return put_csv(false);
}

std::string CurveMaker::step(double lambda, const double* amp, const double* ac, const double* as) {
    const double x = view_.hz ? lambda / (2.0 * std::numbers::pi) : lambda;
    if (steps_ == 0) from_ = x;
    to_ = x;
    pending_ += shortest(x);
    for (std::size_t c = 0; c < chosen_.size(); ++c) {
        const std::size_t k = chosen_[c];
        const double a = amplitude_of(view_.quantity, amp[k], lambda);
        if (!std::isfinite(a))
            return "the " + std::string(kQuantityNames[static_cast<int>(view_.quantity)]) + " amplitude of unknown " +
                   std::to_string(unknowns_[k]) + " at " + shortest(lambda) + " rad/s is too large for a number";
        // x(t) = AC cos(lambda t) + AS sin(lambda t) = AMP cos(lambda t - phi).
        const double phase = wrap_degrees(std::atan2(as[k], ac[k]) * kDegrees - lead_of(view_.quantity));
        Track& t = tracks_[c];
        t.unwrapped = steps_ == 0 ? phase : unwrap_next(t.unwrapped, t.wrapped, phase);
        t.wrapped = phase;
        t.amplitude.add(x, a);
        t.phase.add(x, t.unwrapped);
        pending_ += ',';
        pending_ += shortest(a);
        pending_ += ',';
        pending_ += shortest(phase);
    }
    pending_ += '\n';
    ++steps_;
    return put_csv(false);
}

std::string CurveMaker::put_csv(bool last) {
    if (!csv_) {
        pending_.clear();
        return {};
    }
    if (!last && pending_.size() < kCsvPiece) return {};
    output_error_ = csv_(pending_);
    pending_.clear();
    // The reading stops; the output's own error is what the run reports.
    return output_error_.empty() ? std::string() : "the CSV could not be written";
}

std::string CurveMaker::finish_csv() {
    put_csv(true);
    return output_error_;
}

Curves CurveMaker::curves(const std::vector<double>& natural) const {
    Curves c;
    c.quantity = view_.quantity;
    c.hz = view_.hz;
    c.from = from_;
    c.to = to_;
    c.steps = steps_;
    const double per_axis = view_.hz ? 2.0 * std::numbers::pi : 1.0;
    for (const double w : natural) c.natural.push_back(w / per_axis);
    std::sort(c.natural.begin(), c.natural.end());
    for (std::size_t i = 0; i < chosen_.size(); ++i) {
        const Track& t = tracks_[i];
        c.series.push_back({unknowns_[chosen_[i]], {t.amplitude.xs(), t.amplitude.ys()}, {t.phase.xs(), t.phase.ys()}, {}});
    }
    return c;
}

CurvesMade make_curves(const Sweep& sweep, const View& view) {
    CurvesMade out;
    CurveMaker maker(view, [&](std::string_view text) {
        out.csv.append(text);
        return std::string();
    });
    std::vector<int32_t> unknowns;
    for (const Curve& c : sweep.curves) unknowns.push_back(c.unknown);
    out.error = maker.begin(sweep.kind, unknowns, sweep.omega);
    std::vector<double> amp(unknowns.size()), ac(unknowns.size()), as(unknowns.size());
    for (std::size_t i = 0; i < sweep.lambda.size() && out.error.empty(); ++i) {
        for (std::size_t k = 0; k < unknowns.size(); ++k) {
            amp[k] = sweep.curves[k].amp[i];
            ac[k] = sweep.curves[k].ac[i];
            as[k] = sweep.curves[k].as[i];
        }
        out.error = maker.step(sweep.lambda[i], amp.data(), ac.data(), as.data());
    }
    if (out.error.empty()) maker.finish_csv();
    out.curves = maker.curves(sweep.omega);
    return out;
}

}  // namespace plot
