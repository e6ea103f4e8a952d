// The one file of the companion that calls into plot/.
#include "design/plot_link.h"

#include <numbers>

#include "plot/curves.h"
#include "plot/draw.h"

namespace design {

std::string shortest_text(double v) { return plot::shortest(v); }

double wrap_phase(double degrees) { return plot::wrap_degrees(degrees); }

std::string draw_response(const Response& r, const Model& m, const std::vector<double>& OMEGA,
                          const std::string& output, bool hz, bool polish, const std::string& title) {
    const auto format = plot::format_of(output);
    if (!format) return output + ": the picture's name must end in .svg, .png or .pdf";
    if (!plot::on_path("gnuplot")) return "gnuplot is not installed: no picture drawn";
    plot::Curves c;
    c.hz = hz;
    const double per_axis = hz ? 2.0 * std::numbers::pi : 1.0;
    for (double l : r.lambda) c.x.push_back(l / per_axis);
    for (int32_t i = 0; i < m.LK; ++i) c.natural.push_back(OMEGA[static_cast<std::size_t>(i)] / per_axis);
    for (int32_t k : m.plot) {
        plot::Series s;
        s.unknown = k;
        s.amplitude = r.amplitude[static_cast<std::size_t>(k - 1)];
        s.phase = r.phase[static_cast<std::size_t>(k - 1)];
        c.series.push_back(std::move(s));
    }
    // A stroke is drawn as a curve numbered as its tuned mass's unknown,
    // and named a stroke in the key below.
    for (std::size_t t = 0; t < r.stroke.size(); ++t) {
        plot::Series s;
        s.unknown = m.LK + static_cast<int32_t>(t) + 1;
        s.amplitude = r.stroke[t];
        s.phase = r.stroke_phase[t];
        c.series.push_back(std::move(s));
    }
    plot::Style style;
    style.lang = polish ? plot::Lang::pl : plot::Lang::en;
    style.title = title;
    std::string script = plot::gnuplot_script(c, style, *format, output);
    const std::string word = polish ? "niewiadoma " : "unknown ";
    const std::string stroke = polish ? "skok tłumika " : "stroke of tuned mass ";
    for (std::size_t t = 0; t < r.stroke.size(); ++t) {
        const std::string from = "title '" + word + std::to_string(m.LK + static_cast<int32_t>(t) + 1) + "'";
        const std::size_t at = script.find(from);
        if (at != std::string::npos) script.replace(at, from.size(), "title '" + stroke + std::to_string(t + 1) + "'");
    }
    return plot::run_gnuplot(script);
}

}  // namespace design
