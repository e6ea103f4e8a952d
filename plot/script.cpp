#include "plot/script.h"

#include "plot/labels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace plot {
namespace {

// The words of the picture in each language.
struct Texts {
    const char* unknown;
    const char* amplitude[3];  // by Quantity
    const char* phase;
    const char* x_rad;
    const char* x_hz;
    const char* title;
    const char* at;  // "max A at lambda = x"
};

constexpr Texts kPolish = {
    "niewiadoma",
    {"amplituda przemieszczenia", "amplituda prędkości", "amplituda przyspieszenia"},
    "opóźnienie fazowe φ [°]",
    "częstość wymuszenia λ [rad/s]",
    "częstotliwość wymuszenia f [Hz]",
    "Krzywe rezonansowe",
    "przy",
};

constexpr Texts kEnglish = {
    "unknown",
    {"displacement amplitude", "velocity amplitude", "acceleration amplitude"},
    "phase lag φ [°]",
    "forcing frequency λ [rad/s]",
    "forcing frequency f [Hz]",
    "Resonance curves",
    "at",
};

// One colour per curve; after every eight curves the colours come again
// with the next dash pattern, so that no two of the first forty curves
// (more than a file holds) share both.
constexpr const char* kColours[] = {"#0060ad", "#dd181f", "#00a000", "#9400d3",
                                    "#e69f00", "#00a0c0", "#606060", "#a05000"};
constexpr const char* kDashes[] = {"solid", "(8,4)", "(2,3)", "(8,3,2,3)", "(12,4,2,4,2,4)"};

std::string colour_of(std::size_t k) { return kColours[k % std::size(kColours)]; }
std::string dashes_of(std::size_t k) { return kDashes[k / std::size(kColours) % std::size(kDashes)]; }

// The terminal line of each format: a fixed size, and a font that has the
// Greek and Polish letters.
constexpr const char* kTerminals[] = {
    "set terminal svg size 960,720 fixed enhanced font 'DejaVu Sans,12' background rgb 'white'",
    "set terminal pngcairo size 1200,900 enhanced font 'DejaVu Sans,12' background rgb 'white'",
    "set terminal pdfcairo size 10in,7.5in enhanced font 'DejaVu Sans,11' background rgb 'white'",
};

// A text as a gnuplot string.  Only single quotes keep it literal: gnuplot
// runs a backquoted command inside double quotes.  A line end would end the
// command: control characters are shown as '?' (the command line refuses
// them in a title, a file name may hold them).  Inside single quotes
// gnuplot reads an apostrophe written twice, but not at the start of the
// text nor two in a row; so a text with apostrophes is joined from
// single-quoted pieces and the apostrophe's character code.
std::string quote(std::string_view text) {
    std::string s(text);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    if (s.find('\'') == std::string::npos) return "'" + s + "'";
    std::string q = "(";
    std::size_t pos = 0;
    while (true) {
        const std::size_t apostrophe = std::min(s.find('\'', pos), s.size());
        if (apostrophe > pos) q.append(q.size() > 1 ? "." : "").append("'").append(s, pos, apostrophe - pos).append("'");
        if (apostrophe == s.size()) break;
        q.append(q.size() > 1 ? "." : "").append("sprintf('%c', 39)");
        pos = apostrophe + 1;
    }
    return q + ")";
}

// ISO 8859-2 from 0xA0 up, as Unicode code points.
constexpr char16_t kLatin2[96] = {
    0x00A0, 0x0104, 0x02D8, 0x0141, 0x00A4, 0x013D, 0x015A, 0x00A7,
    0x00A8, 0x0160, 0x015E, 0x0164, 0x0179, 0x00AD, 0x017D, 0x017B,
    0x00B0, 0x0105, 0x02DB, 0x0142, 0x00B4, 0x013E, 0x015B, 0x02C7,
    0x00B8, 0x0161, 0x015F, 0x0165, 0x017A, 0x02DD, 0x017E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

// A code point below U+0800 (all of ISO 8859-2) as UTF-8.
void append_utf8(std::string& out, char16_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The length of the valid UTF-8 sequence that starts the text, or 0:
// no overlong form, no surrogate, nothing past U+10FFFF.
std::size_t utf8_length(std::string_view s) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80) return 1;
    std::size_t n = 0;
    char32_t v = 0, least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) n = 2, v = lead & 0x1Fu, least = 0x80;
    else if ((lead & 0xF0) == 0xE0) n = 3, v = lead & 0x0Fu, least = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4) n = 4, v = lead & 0x07u, least = 0x10000;
    else return 0;
    if (s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((at(i) & 0xC0) != 0x80) return 0;
        v = (v << 6) | (at(i) & 0x3Fu);
    }
    if (v < least || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    return n;
}

// A user's text for gnuplot's enhanced text mode, shown as it is.  The
// characters that mode reads as commands (^ _ @ & ~ { } and the backslash,
// which also starts an octal character code) are escaped.  The SVG
// terminal escapes '&' and '<' but writes '>' as it is, so "]]>" would
// reach the picture's XML, where it may not stand in text: a '>' after a
// ']' is set in a group of its own, which the terminal writes as an
// element of its own.  The other terminals draw a group as plain text.
std::string enhanced(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (std::string_view("^_@&~{}\\").find(c) != std::string_view::npos) out += '\\';
        if (c == '>' && i > 0 && text[i - 1] == ']') out += "{>}";
        else out += c;
    }
    return out;
}

// A user's text (a title, a file name, a curve's name) as a gnuplot string
// that the picture shows as it is.
std::string shown(std::string_view text) { return quote(enhanced(picture_text(text))); }

// The picture's name as gnuplot reads a plain file name: gnuplot pipes the
// picture into a command for a name starting with '|' and puts it in the
// home folder for one starting with "~/"; "./" in front keeps the name.
std::string file_name(std::string_view name) {
    const bool special = !name.empty() && (name.front() == '|' || name.front() == '~');
    return quote(std::string(special ? "./" : "") + std::string(name));
}

std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4g", v);
    return buf;
}

std::size_t index_of_max(const std::vector<double>& v) {
    return static_cast<std::size_t>(std::max_element(v.begin(), v.end()) - v.begin());
}

// The inline data of one panel of one curve: its points, one to a line.
std::string datablock(const std::string& name, const Trace& t) {
    std::string out = "$" + name + " << EOD\n";
    for (std::size_t i = 0; i < t.x.size(); ++i) {
        out += shortest(t.x[i]);
        out += ' ';
        out += shortest(t.y[i]);
        out += '\n';
    }
    return out + "EOD\n";
}

std::string block_name(bool amplitude, std::size_t k) { return (amplitude ? "amplitude" : "phase") + std::to_string(k + 1); }

// The frequency axis: the sweep's range; a sweep of one step is drawn as a
// point in the middle of a range around it.
struct Range {
    double lo, hi;
};
Range x_range(const Curves& c) {
    double lo = std::min(c.from, c.to), hi = std::max(c.from, c.to);
    if (!(hi > lo)) {
        const double half = std::max(std::fabs(lo) * 0.05, 0.5);
        lo -= half;
        hi += half;
    }
    return {lo, hi};
}

// Dashed vertical lines at the natural frequencies within the range; the
// labels only above the amplitude panel, clear of the curves.
std::string natural_lines(const Curves& c, bool labelled) {
    std::string out;
    const Range r = x_range(c);
    for (std::size_t i = 0; i < c.natural.size(); ++i) {
        const double w = c.natural[i];
        if (w < r.lo || w > r.hi) continue;
        const std::string at = shortest(w);
        out += "set arrow from " + at + ", graph 0 to " + at +
               ", graph 1 nohead dashtype 2 linewidth 1.2 linecolor rgb '#404040' back\n";
        if (labelled)
            out += "set label " + quote("ω_{" + std::to_string(i + 1) + "}") + " at " + at +
                   ", graph 1 offset character 0,0.7 center textcolor rgb '#404040' front\n";
    }
    return out;
}

// The amplitude panel's vertical range, set rather than left to gnuplot so
// that the texts at the peaks can be placed where they cover nothing.
struct Axis {
    double lo = 0.0, hi = 1.0;
    bool log = false;
    bool set = false;  // false: gnuplot chooses (a logarithmic axis with nothing above zero)
    // A value's height in the panel, 0 at the bottom and 1 at the top.
    double height(double y) const {
        return log ? (std::log10(y) - std::log10(lo)) / (std::log10(hi) - std::log10(lo)) : (y - lo) / (hi - lo);
    }
};

Axis amplitude_axis(const Curves& c, bool log) {
    double top = 0.0, least = HUGE_VAL;
    for (const Series& s : c.series) {
        if (s.right_axis) continue;  // it has an axis of its own
        for (const double y : s.amplitude.y) {
            top = std::max(top, y);
            if (y > 0.0) least = std::min(least, y);
        }
    }
    Axis a;
    a.log = log;
    if (!log) {
        // Room above the highest peak for its text.
        a.hi = top > 0.0 ? top * 1.15 : 1.0;
        a.set = std::isfinite(a.hi);
    } else if (top > 0.0) {
        a.lo = std::pow(10.0, std::floor(std::log10(least)));
        a.hi = std::pow(10.0, std::ceil(std::log10(top) + 0.3));
        a.set = a.lo > 0.0 && std::isfinite(a.hi) && a.hi > a.lo;
    }
    return a;
}

// The panel on the page (screen units), and a character of the font there:
// generous for every format, so that the estimate never falls short.
constexpr double kPanelLeft = 0.11, kPanelRight = 0.97, kPanelBottom = 0.53;
constexpr double kCharWidth = 0.0100, kLineHeight = 0.027;
// A single panel (no phase below it) reaches down to the axis's name.
constexpr double kSingleBottom = 0.11;

bool has_right_axis(const Curves& c) {
    return std::any_of(c.series.begin(), c.series.end(), [](const Series& s) { return s.right_axis; });
}

// The panels' right edge: room for the right-hand axis's numbers and name
// when a curve is drawn against it.
double panel_right(const Curves& c) { return has_right_axis(c) ? 0.89 : kPanelRight; }

double panel_top(const Curves& c) {
    // The key above the panel takes a row for about every four curves.
    const double key_rows = static_cast<double>((c.series.size() + 3) / 4);
    return 0.89 - 0.025 * (key_rows - 1);
}

// The length of a UTF-8 text in characters.
std::size_t characters(const std::string& s) {
    return static_cast<std::size_t>(std::count_if(s.begin(), s.end(), [](char ch) {
        return (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
    }));
}

// The largest value of every curve as a point.  The value and frequency
// are written beside the three highest of them: more texts would crowd the
// panel (every value is in the CSV).  The texts are placed where they cover
// neither one another nor the points.
constexpr std::size_t kMaxTexts = 3;

std::string maximum_labels(const Curves& c, const Texts& t, const Axis& axis, const Style& style) {
    std::vector<std::size_t> peak(c.series.size()), order(c.series.size());
    for (std::size_t k = 0; k < c.series.size(); ++k) {
        peak[k] = index_of_max(c.series[k].amplitude.y);
        order[k] = k;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return c.series[a].amplitude.y[peak[a]] > c.series[b].amplitude.y[peak[b]];
    });
    const Range r = x_range(c);
    std::vector<PeakText> texts;
    std::vector<Mark> marks;
    std::vector<std::string> words;
    std::vector<std::size_t> who;  // the curve of each text
    std::string out;
    for (std::size_t rank = 0; rank < order.size(); ++rank) {
        const std::size_t k = order[rank], i = peak[k];
        const Trace& amplitude = c.series[k].amplitude;
        const double top = amplitude.y[i];
        if (!(top > 0.0)) continue;
        const bool right = c.series[k].right_axis;
        const std::string at = (right ? "first " : "") + shortest(amplitude.x[i]) + ", " + (right ? "second " : "") +
                               shortest(top);
        out += "set label '' at " + at + " point pointtype 7 pointsize 1.2 linecolor rgb '" + colour_of(k) + "' front\n";
        // The texts are placed by the left-hand axis's heights only.
        if (!axis.set || right) continue;
        marks.push_back({(amplitude.x[i] - r.lo) / (r.hi - r.lo), axis.height(top)});
        if (rank >= kMaxTexts) continue;
        words.push_back("max " + number(top) + " " + t.at + " " +
                        (!style.x_label.empty() ? style.x_symbol + " = " + number(amplitude.x[i])
                                                : (c.hz ? "f = " : "λ = ") + number(amplitude.x[i]) +
                                                      (c.hz ? " Hz" : " rad/s")));
        texts.push_back({(amplitude.x[i] - r.lo) / (r.hi - r.lo), axis.height(top), characters(words.back())});
        who.push_back(k);
    }
    const double char_w = kCharWidth / (panel_right(c) - kPanelLeft);
    const double line_h = kLineHeight / (panel_top(c) - (style.x_label.empty() ? kPanelBottom : kSingleBottom));
    const std::vector<Placement> places = place_texts(texts, marks, char_w, line_h);
    for (std::size_t n = 0; n < places.size(); ++n) {
        const std::size_t k = who[n];
        const Placement& p = places[n];
        const Trace& amplitude = c.series[k].amplitude;
        out += "set label " + quote(words[n]) + " at ";
        out += p.beside ? shortest(amplitude.x[peak[k]]) + ", " + shortest(amplitude.y[peak[k]]) + " offset character " +
                              shortest(p.dx) + "," + shortest(p.dy)
                        : "graph " + shortest(p.gx) + ", graph " + shortest(p.gy);
        out += std::string(p.right_aligned ? " right" : " left") + " textcolor rgb '" + colour_of(k) +
               "' noenhanced front\n";
    }
    return out;
}

// How far the drawn phases spread, in degrees.
double phase_span(const Curves& c) {
    double lo = 0.0, hi = 0.0;
    for (const Series& s : c.series) {
        const std::vector<double>& p = s.phase.y;
        const auto [a, b] = std::minmax_element(p.begin(), p.end());
        lo = std::min(lo, *a);
        hi = std::max(hi, *b);
    }
    return hi - lo;
}

// The plot command of one panel: column 2 + 2k (amplitude) or 3 + 2k (phase).
std::string plot_command(const Curves& c, const Texts& t, bool amplitude) {
    std::string out = "plot ";
    for (std::size_t k = 0; k < c.series.size(); ++k) {
        // A sweep of one step has no line to draw: its point is shown.
        out += std::string(k ? ", \\\n     " : "") + "$" + block_name(amplitude, k) + " using 1:2 with " +
               (c.steps > 1 ? "lines" : "linespoints pointtype 7") + " linewidth 2 linecolor rgb '" +
               colour_of(k) + "' dashtype " + dashes_of(k) + " ";
        const Series& s = c.series[k];
        if (amplitude && s.right_axis) out += "axes x1y2 ";
        out += amplitude ? "title " + shown(s.label.empty() ? std::string(t.unknown) + " " + std::to_string(s.unknown)
                                                             : s.label)
                         : std::string("notitle");
    }
    return out + "\n";
}

}  // namespace

std::string picture_text(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t n = utf8_length(text.substr(i));
        // Control characters, C0 and C1 alike, have nothing to show.
        const bool control = byte < 0x20 || byte == 0x7f || (n == 0 && byte < 0xA0) ||
                             (n == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
        if (control) out += '?';
        else if (n > 0) out.append(text, i, n);
        else append_utf8(out, kLatin2[byte - 0xA0]);
        i += n > 0 ? n : 1;
    }
    return out;
}

std::optional<Format> format_of(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) return std::nullopt;
    std::string ext(path.substr(dot + 1));
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char ch) { return std::tolower(ch); });
    if (ext == "svg") return Format::svg;
    if (ext == "png") return Format::png;
    if (ext == "pdf") return Format::pdf;
    return std::nullopt;
}

std::string gnuplot_script(const Curves& c, const Style& style, Format format, std::string_view output) {
    const Texts& t = style.lang == Lang::pl ? kPolish : kEnglish;
    const std::string title = style.title.empty() ? std::string(t.title) + ": " + style.file : style.title;
    std::string s;
    s += "# Resonance curves drawn by varnostik-plot; run with: gnuplot THIS_FILE\n";
    s += "set encoding utf8\n";
    s += std::string(kTerminals[static_cast<int>(format)]) + "\n";
    s += "set output " + file_name(output) + "\n";
    const bool single = !style.x_label.empty();
    for (std::size_t k = 0; k < c.series.size(); ++k)
        s += datablock(block_name(true, k), c.series[k].amplitude) +
             (single ? "" : datablock(block_name(false, k), c.series[k].phase));
    s += "set multiplot title " + shown(title) + " font ',14'\n";
    // Both panels share the frequency axis: the same range and the same
    // left and right edges.
    const Range r = x_range(c);
    s += "set xrange [" + shortest(r.lo) + ":" + shortest(r.hi) + "]\n";
    s += "set lmargin at screen " + shortest(kPanelLeft) + "\nset rmargin at screen " + shortest(panel_right(c)) + "\n";
    s += "set grid xtics ytics linecolor rgb '#d0d0d0'\nset mxtics 2\n";

    s += "# amplitude\n";
    s += "set tmargin at screen " + shortest(panel_top(c)) + "\nset bmargin at screen " +
         shortest(single ? kSingleBottom : kPanelBottom) + "\n";
    s += single ? "set format x '%g'\nset xlabel " + shown(style.x_label) + "\n" : "set format x ''\nunset xlabel\n";
    s += "set ylabel " +
         shown(single ? style.y_label : std::string(t.amplitude[static_cast<int>(c.quantity)]) + style.amplitude_unit) +
         "\n";
    const Axis axis = amplitude_axis(c, style.log);
    s += style.log ? "set logscale y\nset format y '10^{%T}'\n" : "set format y '%g'\n";
    s += axis.set ? "set yrange [" + shortest(axis.lo) + ":" + shortest(axis.hi) + "]\n"
                  : std::string(style.log ? "" : "set yrange [0:*]\n");
    // The key stands under the title, where no curve can run.
    s += "set key at screen 0.54, 0.955 center top horizontal\n";
    if (has_right_axis(c)) {
        s += "set y2label " + shown(c.right_axis_label) + "\nset y2tics\nset format y2 '%g'\n";
        s += style.log ? "set logscale y2\n" : "set y2range [0:*]\n";
    }
    s += natural_lines(c, true);
    s += maximum_labels(c, t, axis, style);
    s += plot_command(c, t, true);
    if (has_right_axis(c)) s += "unset y2label\nunset y2tics\nunset logscale y2\n";
    if (single) return s + "unset multiplot\nunset output\n";

    s += "# phase\n";
    s += "unset arrow\nunset label\nunset key\nunset logscale y\nset autoscale y\nset format y '%g'\n";
    s += "set tmargin at screen 0.49\nset bmargin at screen 0.11\n";
    s += "set format x '%g'\n";
    s += "set xlabel " + quote(c.hz ? t.x_hz : t.x_rad) + "\n";
    s += "set ylabel " + quote(t.phase) + "\n";
    s += "set ytics " + std::string(phase_span(c) <= 360.0 ? "45" : "90") + "\nset mytics 2\n";
    s += natural_lines(c, false);
    s += plot_command(c, t, false);
    s += "unset multiplot\nunset output\n";
    return s;
}

}  // namespace plot
