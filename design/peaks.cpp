#include "design/peaks.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "design/analysis_link.h"
#include "design/damped_modes.h"
#include "design/plot_link.h"
#include "design/response.h"

namespace design {

namespace {

// Around a mode of frequency w and damping ratio z the samples stand
// w z / 4 apart (a quarter of the half-power half-width), kModeSamples
// each side: a peak's top is then never between two samples farther
// apart than its own width.
constexpr int kModeSamples = 16;
constexpr double kSampleStep = 0.25;
// The narrowest half-width a sampling assumes, relative to the frequency:
// a mode damped less than this is sampled as if damped this much.
constexpr double kNarrowest = 1e-7;
// A maximum is refined until its bracket is this small against its
// frequency.
constexpr double kRefined = 1e-7;
constexpr double kGolden = 0.6180339887498949;

struct ModeFrequency {
    double lambda, z;
};

// The damped modes that oscillate: their damped frequencies.
std::vector<ModeFrequency> oscillating_modes(const Model& m, const std::string& file) {
    const std::vector<DampedMode> modes = damped_modes(m.NU, m.MS, m.CS, m.KS);
    if (modes.empty()) throw Refused(file + ": the modes of the damped system could not be computed");
    std::vector<ModeFrequency> out;
    for (const DampedMode& d : modes)
        if (d.damping_ratio < 1.0 && d.frequency > 0)
            out.push_back({d.frequency * std::sqrt(1.0 - d.damping_ratio * d.damping_ratio),
                           std::max(d.damping_ratio, kNarrowest)});
    return out;
}

std::vector<double> mode_samples(const ModeFrequency& f, int count = kModeSamples, double step = kSampleStep) {
    std::vector<double> out;
    for (int k = -count; k <= count; ++k) out.push_back(f.lambda * (1.0 + k * step * f.z));
    return out;
}

// The uniform part of the search from 0 to twice the highest mode: the
// modes' own samples find their peaks, this finds a curve rising towards
// 0 or a broad maximum between modes.
constexpr int kUniformSamples = 32;
// Around each mode a search for the largest value only needs to see every
// local maximum, which its refinement then climbs: samples half a
// half-power half-width apart cannot straddle a resonance (two
// half-widths wide at half power), over the same four half-widths each
// side.
constexpr int kSearchModeSamples = 8;
constexpr double kSearchSampleStep = 0.5;
constexpr double kWorthRefining = 0.5;

class Evaluator {
public:
    Evaluator(const Model& m, const std::string& file) : m_(m), file_(file), stepper_(stepper_of(m)) {}
    std::vector<double> at(double LAMBDA) {
        const Point p = response_at(stepper_, m_, LAMBDA);
        if (p.singular) throw Refused(file_ + ": the system is singular at LAMBDA=" + shortest_text(LAMBDA));
        return curve_values(p);
    }

private:
    const Model& m_;
    const std::string& file_;
    Stepper stepper_;
};

// The modes outside [from, to] at which curves reach more than largest:
// each one's top, sampled around it.
std::vector<OutsidePeak> outside_with(Evaluator& e, const std::vector<ModeFrequency>& modes,
                                      const std::vector<std::string>& curves, const std::vector<double>& largest,
                                      double from, double to) {
    std::vector<OutsidePeak> out;
    for (std::size_t k = 0; k < modes.size(); ++k) {
        if (modes[k].lambda >= from && modes[k].lambda <= to) continue;
        std::vector<double> top(curves.size(), 0.0);
        for (double l : mode_samples(modes[k])) {
            if (!(l > 0)) continue;
            const std::vector<double> v = e.at(l);
            for (std::size_t c = 0; c < v.size() && c < top.size(); ++c) top[c] = std::max(top[c], v[c]);
        }
        OutsidePeak o{static_cast<int>(k) + 1, modes[k].lambda, {}};
        for (std::size_t c = 0; c < top.size() && c < largest.size(); ++c)
            if (top[c] > largest[c]) o.curves.push_back(curves[c]);
        if (!o.curves.empty()) out.push_back(o);
    }
    return out;
}

Samples sample_with(Evaluator& e, const Model& m, const std::vector<double>& grid,
                    const std::vector<ModeFrequency>& modes) {
    Samples s;
    s.curves = curve_names(m);
    if (grid.empty()) return s;
    const double from = grid.front(), to = grid.back();
    s.lambda = grid;
    for (const ModeFrequency& f : modes)
        for (double l : mode_samples(f))
            if (l > from && l < to) s.lambda.push_back(l);
    std::sort(s.lambda.begin(), s.lambda.end());
    s.lambda.erase(std::unique(s.lambda.begin(), s.lambda.end()), s.lambda.end());
    s.values.assign(s.curves.size(), {});
    for (double l : s.lambda) {
        const std::vector<double> v = e.at(l);
        for (std::size_t c = 0; c < v.size(); ++c) s.values[c].push_back(v[c]);
    }
    return s;
}

// The largest of curve c between a and b, by golden-section search from
// the sample (x, fx) inside.
CurvePeak refine(Evaluator& e, std::size_t c, double a, double b, double x, double fx) {
    CurvePeak best{"", x, fx, false};
    double x1 = b - kGolden * (b - a), x2 = a + kGolden * (b - a);
    double f1 = e.at(x1)[c], f2 = e.at(x2)[c];
    while (b - a > kRefined * x) {
        if (f1 >= f2) {
            b = x2, x2 = x1, f2 = f1;
            x1 = b - kGolden * (b - a);
            f1 = e.at(x1)[c];
        } else {
            a = x1, x1 = x2, f1 = f2;
            x2 = a + kGolden * (b - a);
            f2 = e.at(x2)[c];
        }
    }
    if (f1 > best.value) best.lambda = x1, best.value = f1;
    if (f2 > best.value) best.lambda = x2, best.value = f2;
    return best;
}

}  // namespace

Samples sample_curves(const Model& m, const std::vector<double>& grid, const std::string& file) {
    Evaluator e(m, file);
    return sample_with(e, m, grid, oscillating_modes(m, file));
}

PeakSearch search_peaks(const Model& m, const std::vector<double>& grid, const std::string& file, bool refine_peaks) {
    Evaluator e(m, file);
    const std::vector<ModeFrequency> modes = oscillating_modes(m, file);
    const Samples s = sample_with(e, m, grid, modes);
    PeakSearch p;
    p.curves = s.curves;
    const std::size_t n = s.lambda.size();
    std::vector<double> largest(s.curves.size(), 0.0);
    for (std::size_t c = 0; c < s.curves.size() && n > 0; ++c) {
        const std::vector<double>& v = s.values[c];
        std::vector<CurvePeak> found;
        for (std::size_t i = 1; i + 1 < n; ++i) {
            if (!(v[i] >= v[i - 1] && v[i] >= v[i + 1] && (v[i] > v[i - 1] || v[i] > v[i + 1]))) continue;
            CurvePeak q = refine_peaks ? refine(e, c, s.lambda[i - 1], s.lambda[i + 1], s.lambda[i], v[i])
                                       : CurvePeak{"", s.lambda[i], v[i], false};
            // Two samples of one flat top give one maximum.
            if (!found.empty() && std::fabs(found.back().lambda - q.lambda) <= kRefined * 10 * q.lambda) {
                if (q.value > found.back().value) found.back() = q;
                continue;
            }
            found.push_back(q);
        }
        // The curve's largest value over the range, at an end when no
        // interior maximum reaches it.
        std::size_t top = found.size();
        double value = -1.0;
        for (std::size_t k = 0; k < found.size(); ++k)
            if (found[k].value > value) value = found[k].value, top = k;
        for (std::size_t end : {std::size_t{0}, n - 1}) {
            if (v[end] > value) {
                value = v[end];
                found.push_back({"", s.lambda[end], v[end], false});
                top = found.size() - 1;
            }
        }
        found[top].largest = true;
        std::sort(found.begin(), found.end(),
                  [](const CurvePeak& a, const CurvePeak& b) { return a.lambda < b.lambda; });
        for (CurvePeak& q : found) {
            q.curve = s.curves[c];
            p.peaks.push_back(q);
        }
        largest[c] = value;
    }
    if (n > 0) p.outside = outside_with(e, modes, s.curves, largest, s.lambda.front(), s.lambda.back());
    return p;
}

std::vector<OutsidePeak> modes_outside(const Model& m, const std::vector<double>& largest, double from, double to,
                                       const std::string& file) {
    Evaluator e(m, file);
    return outside_with(e, oscillating_modes(m, file), curve_names(m), largest, from, to);
}

Largest largest_over_modes(const Model& m, const std::function<double(const Values&)>& of, const std::string& file,
                           Solution how) {
    const std::vector<ModeFrequency> modes = oscillating_modes(m, file);
    double top = 0.0;
    for (const ModeFrequency& f : modes) top = std::max(top, f.lambda * (1.0 + kModeSamples * kSampleStep * f.z));
    if (!(top > 0)) {
        // No mode oscillates: the frame's own frequencies bound what matters.
        for (double w : m.OMEGA) top = std::max(top, w);
    }
    const double to = 2.0 * top;
    std::vector<double> lambda;
    for (int k = 0; k <= kUniformSamples; ++k) lambda.push_back(to * k / kUniformSamples);
    for (const ModeFrequency& f : modes)
        for (double l : mode_samples(f, kSearchModeSamples, kSearchSampleStep))
            if (l > 0 && l < to) lambda.push_back(l);
    std::sort(lambda.begin(), lambda.end());
    lambda.erase(std::unique(lambda.begin(), lambda.end()), lambda.end());
    std::optional<Stepper> stepper;
    std::optional<DirectSolver> direct;
    if (how == Solution::step)
        stepper.emplace(m.LK, m.NU, m.MS, m.CS, m.KS, m.load_cos, m.load_sin);
    else
        direct.emplace(m);
    auto at = [&](double l) {
        const Point p = stepper ? response_at(*stepper, m, l) : direct->at(l);
        if (p.singular) throw Refused(file + ": the system is singular at LAMBDA=" + shortest_text(l));
        return of(p);
    };
    std::vector<double> v;
    v.reserve(lambda.size());
    for (double l : lambda) {
        v.push_back(at(l));
        // Beyond the range of numbers: nothing larger to look for.
        if (!std::isfinite(v.back())) return {v.back(), l};
    }
    const std::size_t n = lambda.size();
    const double largest_sample = *std::max_element(v.begin(), v.end());
    Largest best{v[0], lambda[0]};
    if (v[n - 1] > best.value) best = {v[n - 1], lambda[n - 1]};
    for (std::size_t i = 1; i + 1 < n; ++i) {
        if (!(v[i] >= v[i - 1] && v[i] >= v[i + 1])) continue;
        // Refined only where it could be the largest: between samples
        // half a half-power half-width apart a resonance's top is at most
        // 3 % above the best sample, so one below half the largest sample
        // cannot win.
        if (v[i] < kWorthRefining * largest_sample) continue;
        double a = lambda[i - 1], b = lambda[i + 1];
        Largest q{v[i], lambda[i]};
        double x1 = b - kGolden * (b - a), x2 = a + kGolden * (b - a);
        double f1 = at(x1), f2 = at(x2);
        while (b - a > kRefined * lambda[i]) {
            if (f1 >= f2) {
                b = x2, x2 = x1, f2 = f1;
                x1 = b - kGolden * (b - a);
                f1 = at(x1);
            } else {
                a = x1, x1 = x2, f1 = f2;
                x2 = a + kGolden * (b - a);
                f2 = at(x2);
            }
        }
        if (f1 > q.value) q = {f1, x1};
        if (f2 > q.value) q = {f2, x2};
        if (!(q.value <= best.value)) best = q;
    }
    return best;
}

std::string peaks_csv(const PeakSearch& p) {
    std::string out = "curve,lambda,value,largest\n";
    for (const CurvePeak& q : p.peaks)
        out += q.curve + "," + shortest_text(q.lambda) + "," + shortest_text(q.value) + "," + (q.largest ? "1" : "0") +
               "\n";
    return out;
}

std::string outside_warnings(const std::vector<OutsidePeak>& outside, double from, double to) {
    std::string out;
    for (const OutsidePeak& o : outside) {
        out += "varnostik-design: warning: mode " + std::to_string(o.mode) +
               " of the damped system (LAMBDA=" + shortest_text(o.lambda) + ") lies outside the range " +
               shortest_text(from) + " to " + shortest_text(to) + " and gives ";
        for (std::size_t k = 0; k < o.curves.size(); ++k) out += (k ? ", " : "") + o.curves[k];
        out += " more there than their largest value inside: the peak that matters lies outside the range\n";
    }
    return out;
}

}  // namespace design
