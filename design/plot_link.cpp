// The one file of the companion that calls into plot/'s drawing.
#include "design/plot_link.h"

#include <numbers>
#include <optional>

#include "plot/curves.h"
#include "plot/gnuplot.h"
#include "plot/script.h"
#include "design/units.h"

namespace design {

std::string shortest_text(double v) { return plot::shortest(v); }

double wrap_phase(double degrees) { return plot::wrap_degrees(degrees); }

std::string draw_response(const Response& r, const Model& m, const std::vector<double>& OMEGA,
                          const std::string& output, bool hz, bool polish, const std::string& title,
                          std::string& picture, bool acceleration) {
    // Standard output carries no name to tell the format by: it takes SVG.
    const auto format = output == "-" ? std::optional<plot::Format>(plot::Format::svg) : plot::format_of(output);
    if (!format) return output + ": the picture's name must end in .svg, .png or .pdf";
    if (!plot::on_path("gnuplot")) return "gnuplot is not installed: no picture drawn";
    plot::Curves c;
    c.hz = hz;
    const double per_axis = hz ? 2.0 * std::numbers::pi : 1.0;
    std::vector<double> x;
    for (double l : r.lambda) x.push_back(l / per_axis);
    if (!x.empty()) c.from = x.front(), c.to = x.back();
    c.steps = static_cast<long>(x.size());
    for (int32_t i = 0; i < m.LK; ++i) c.natural.push_back(OMEGA[static_cast<std::size_t>(i)] / per_axis);
    auto add = [&](int32_t unknown, const std::vector<double>& amplitude, const std::vector<double>& phase,
                   std::string label) {
        plot::Series s;
        s.unknown = unknown;
        s.label = std::move(label);
        s.amplitude = {x, amplitude};
        s.phase = {x, plot::unwrap_degrees(phase)};
        c.series.push_back(std::move(s));
    };
    if (acceleration) c.quantity = plot::Quantity::acceleration;
    const auto& amplitude = acceleration ? r.acceleration : r.amplitude;
    const auto& phase = acceleration ? r.acceleration_phase : r.phase;
    // The plotted unknowns are storeys, named so in the key.
    const std::string storey = polish ? "kondygnacja " : "storey ";
    for (int32_t k : m.plot)
        add(k, amplitude[static_cast<std::size_t>(k - 1)], phase[static_cast<std::size_t>(k - 1)],
            storey + std::to_string(k));
    // A stroke is drawn as a curve numbered as its tuned mass's unknown,
    // named a stroke of its tuned mass in the key, and measured on the
    // amplitude panel's right-hand axis: a stroke many times the storeys'
    // motion would otherwise flatten their curves.  A stroke is a
    // displacement, not drawn beside accelerations.
    const std::string stroke = polish ? "skok tłumika " : "stroke of tuned mass ";
    const std::size_t strokes = acceleration ? 0 : r.stroke.size();
    for (std::size_t t = 0; t < strokes; ++t) {
        add(m.LK + static_cast<int32_t>(t) + 1, r.stroke[t], r.stroke_phase[t], stroke + std::to_string(t + 1));
        c.series.back().right_axis = true;
    }
    if (strokes > 0)
        c.right_axis_label =
            (polish ? "skok tłumików" : "strokes of the tuned masses") + in_brackets(m.units, Dimension::length);
    plot::Style style;
    style.lang = polish ? plot::Lang::pl : plot::Lang::en;
    style.title = title;
    // The amplitude axis names its unit when the description declares one.
    style.amplitude_unit = in_brackets(m.units, acceleration ? Dimension::acceleration : Dimension::length);
    // gnuplot draws in a private folder under a name of plot/'s making: no
    // name the user gave reaches it.
    plot::Drawing drawn = plot::draw(c, style, *format);
    if (drawn.outcome.kind != plot::GnuplotProcess::Outcome::Kind::done)
        return drawn.outcome.message.empty() ? std::string("gnuplot was interrupted") : drawn.outcome.message;
    picture = std::move(drawn.bytes);
    return "";
}

std::string draw_detune(const std::vector<double>& scales, const std::vector<double>& values,
                        const std::string& output, const std::string& title, const std::string& what,
                        std::string& picture) {
    const auto format = output == "-" ? std::optional<plot::Format>(plot::Format::svg) : plot::format_of(output);
    if (!format) return output + ": the picture's name must end in .svg, .png or .pdf";
    if (!plot::on_path("gnuplot")) return "gnuplot is not installed: no picture drawn";
    plot::Curves c;
    if (!scales.empty()) c.from = scales.front(), c.to = scales.back();
    c.steps = static_cast<long>(scales.size());
    plot::Series s;
    s.unknown = 1;
    s.label = what;
    s.amplitude = {scales, values};
    c.series.push_back(std::move(s));
    plot::Style style;
    style.lang = plot::Lang::en;
    style.title = title;
    style.x_label = "the frame's stiffness scale (dampers as given)";
    style.y_label = what;
    style.x_symbol = "scale";
    plot::Drawing drawn = plot::draw(c, style, *format);
    if (drawn.outcome.kind != plot::GnuplotProcess::Outcome::Kind::done)
        return drawn.outcome.message.empty() ? std::string("gnuplot was interrupted") : drawn.outcome.message;
    picture = std::move(drawn.bytes);
    return "";
}

}  // namespace design
