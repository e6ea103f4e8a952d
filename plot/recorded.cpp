// Reading the plot file and the results file.
//
// Both files are written record by record with fields of twelve characters
// behind two blanks (2X,E12.6), and the numbers are read back with the
// program's own Ew.d input editing.  Unlike a data-file read, the layout is
// checked strictly: every field must be there and hold a number, because a
// blank or missing field that input editing would take as 0.0 means a file
// that was cut or altered, and a curve drawn through invented zeros would
// mislead.
#include "plot/recorded.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <type_traits>

#include "layouts/layouts.h"
#include "textio/scan.h"

namespace plot {
namespace {

struct Line {
    std::string_view text;  // without its line end
    long number;            // 1-based
};

// The lines of a file; a line end is CR LF, LF or CR.  A last line without
// a line end was cut off while it was being written: it is left out.
struct Lines {
    std::vector<Line> lines;
    bool last_cut = false;
};

Lines split_lines(std::string_view text) {
    Lines out;
    std::size_t pos = 0;
    long number = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", pos);
        ++number;
        if (end == std::string_view::npos) {
            out.last_cut = text.find_first_not_of(" \t", pos) != std::string_view::npos;
            break;
        }
        out.lines.push_back({text.substr(pos, end - pos), number});
        pos = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return out;
}

std::string_view trim(std::string_view s) {
    const std::size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// A piece of a line as a message shows it: in quotes, long ones cut.
std::string quoted(std::string_view s) {
    constexpr std::size_t kShown = 60;
    std::string q = "\"";
    q += s.substr(0, kShown);
    if (s.size() > kShown) q += "...";
    return q + "\"";
}

// Where a message points: "NAME:LINE: ".
class Reporter {
public:
    explicit Reporter(std::string_view name) : name_(name) {}
    std::string at(const Line& l, const std::string& what) const {
        return std::string(name_) + ":" + std::to_string(l.number) + ": " + what;
    }
    std::string whole(const std::string& what) const { return std::string(name_) + ": " + what; }

private:
    std::string_view name_;
};

// One field of a record: two blanks, then twelve characters (Ew.d) or
// three (Iw), as the writer's formats lay them out.
using layouts::kGap;
using layouts::kIntWidth;
using layouts::kRealDigits;
using layouts::kRealField;
using layouts::kRealWidth;

const char* scan_error_text(textio::ScanError e) {
    switch (e) {
    case textio::ScanError::real_range: return "number out of range";
    case textio::ScanError::integer_range: return "integer out of range";
    case textio::ScanError::bad_integer: return "invalid integer";
    default: return "invalid real number";
    }
}

// Reads the fields of one line at pos; the first failure is kept as the
// message of the whole line.
class FieldReader {
public:
    FieldReader(const Line& line, const Reporter& rep) : line_(line), rep_(rep) {}
    FieldReader(Line&&, const Reporter&) = delete;  // it keeps a reference to the line

    double real() { return field<double>(kRealWidth); }
    int32_t integer() { return field<int32_t>(kIntWidth); }
    bool at_end() const { return pos_ == line_.text.size(); }

    // n blanks that stand between fields.
    void blanks(std::size_t n) {
        if (!error_.empty()) return;
        if (line_.text.size() < pos_ + n || !trim(line_.text.substr(pos_, n)).empty()) {
            error_ = rep_.at(line_, "expected blanks at column " + std::to_string(pos_ + 1) + ": " +
                                        quoted(line_.text));
            return;
        }
        pos_ += n;
    }
    const std::string& error() const { return error_; }

private:
    template <class T>
    T field(int width) {
        if (!error_.empty()) return T{};
        const std::string_view t = line_.text;
        const std::size_t w = static_cast<std::size_t>(width);
        if (t.size() < pos_ + kGap + w || trim(t.substr(pos_, kGap)).size() != 0) {
            error_ = rep_.at(line_, "expected a field of " + std::to_string(width) +
                                        " characters behind two blanks at column " +
                                        std::to_string(pos_ + 1) + ": " + quoted(t));
            return T{};
        }
        pos_ += kGap;
        const std::string_view text = t.substr(pos_, w);
        if (trim(text).empty()) {
            error_ = rep_.at(line_, "blank field at column " + std::to_string(pos_ + 1) + ": " + quoted(t));
            return T{};
        }
        std::size_t p = pos_;
        T value{};
        textio::ScanError e;
        if constexpr (std::is_same_v<T, double>) {
            const textio::RealScan r = textio::read_e_field(t, p, width, kRealDigits);
            value = r.value;
            e = r.error;
        } else {
            const textio::IntScan r = textio::read_i_field(t, p, width);
            value = r.value;
            e = r.error;
        }
        // A comma would end the field early: the field is then not the number written there.
        if (e == textio::ScanError::none && p != pos_ + w) e = textio::ScanError::bad_real;
        if (e != textio::ScanError::none) {
            error_ = rep_.at(line_, std::string(scan_error_text(e)) + " " + quoted(trim(text)));
            return T{};
        }
        pos_ += w;
        return value;
    }

    const Line& line_;
    const Reporter& rep_;
    std::size_t pos_ = 0;
    std::string error_;
};

// ---------------------------------------------------------------- plot file

constexpr std::string_view kLegendFirst = layouts::literal(layouts::kPlotLegend);

// A plot row: the frequency, two blanks, then per chosen unknown a group of
// three amplitudes and the unknown's number.
using layouts::kRowGroup;
using layouts::kRowHead;
constexpr std::size_t kMaxGroups = layouts::kPlottedMax;

std::size_t groups_of(std::string_view row) {
    const std::size_t n = row.size();
    if (n <= kRowHead || (n - kRowHead) % kRowGroup != 0) return 0;
    const std::size_t g = (n - kRowHead) / kRowGroup;
    return g <= kMaxGroups ? g : 0;
}

bool is_legend(std::string_view line) { return trim(line) == kLegendFirst; }

SweepRead read_plot_file(const Reporter& rep, const std::vector<Line>& lines) {
    SweepRead out;
    Sweep& s = out.sweep;
    s.kind = Sweep::Kind::plot_file;
    bool legend = false;
    std::size_t groups = 0;
    for (const Line& l : lines) {
        if (is_legend(l.text)) {
            legend = true;
            break;
        }
        // Blanks after the last field are not part of the record.
        const std::string_view row = l.text.substr(0, l.text.find_last_not_of(' ') + 1);
        const Line trimmed{row, l.number};
        const std::size_t g = groups_of(row);
        if (g == 0 || (groups != 0 && g != groups)) {
            out.error = rep.at(l, groups ? "expected a plot row of " + std::to_string(groups) +
                                               " unknowns like the rows before it: " + quoted(l.text)
                                         : "not a plot row: " + quoted(l.text));
            return out;
        }
        FieldReader f(trimmed, rep);
        const double lambda = f.real();
        f.blanks(kGap);
        struct {
            double amp, ac, as;
            int32_t unknown;
        } group[kMaxGroups] = {};
        for (std::size_t k = 0; k < g; ++k) {
            group[k].amp = f.real();
            group[k].ac = f.real();
            group[k].as = f.real();
            group[k].unknown = f.integer();
        }
        if (!f.error().empty()) {
            out.error = f.error();
            return out;
        }
        if (groups == 0) {
            groups = g;
            for (std::size_t k = 0; k < g; ++k) s.curves.push_back({group[k].unknown, {}, {}, {}});
        }
        for (std::size_t k = 0; k < g; ++k) {
            Curve& c = s.curves[k];
            if (group[k].unknown != c.unknown) {
                out.error = rep.at(l, "unknown " + std::to_string(group[k].unknown) +
                                          " where the rows before hold unknown " + std::to_string(c.unknown));
                return out;
            }
            c.amp.push_back(group[k].amp);
            c.ac.push_back(group[k].ac);
            c.as.push_back(group[k].as);
        }
        s.lambda.push_back(lambda);
    }
    if (!legend)
        s.warnings.push_back(rep.whole("no legend at the end: the run stopped inside the sweep; " +
                                       std::to_string(s.lambda.size()) + " steps read"));
    return out;
}

// -------------------------------------------------------------- results file

constexpr std::string_view kFrequencies = layouts::literal(layouts::kFrequencies);
constexpr std::string_view kStep = layouts::literal(layouts::kStepHeading);
constexpr std::string_view kClosing = layouts::literal(layouts::kClosing);
constexpr std::string_view kListHeadings[] = {layouts::literal(layouts::kAmplitudeCaption),
                                              layouts::literal(layouts::kCosCaption),
                                              layouts::literal(layouts::kSinCaption)};
constexpr std::size_t kPerLine = layouts::kValuesPerLine;
constexpr char kRule = layouts::literal(layouts::kSeparator)[0];  // the separator's character

// A line of a value list: one to five whole fields of two blanks and a
// number.  Whether the numbers read is left to the field reader.
bool is_value_line(std::string_view t) {
    const std::size_t n = t.size() / kRealField;
    if (n == 0 || n > kPerLine || t.size() % kRealField != 0) return false;
    for (std::size_t k = 0; k < n; ++k) {
        const std::string_view f = t.substr(k * kRealField, kRealField);
        if (f.substr(0, kGap) != "  " || trim(f).empty()) return false;
    }
    return true;
}

class ResultsReader {
public:
    ResultsReader(const Reporter& rep, const std::vector<Line>& lines) : rep_(rep), lines_(lines) {}

    SweepRead read();

private:
    // Reads n values written by one statement of (5(2X,E12.6)) from line i on.
    bool value_list(std::size_t& i, std::size_t n, std::vector<double>& into);
    bool step(std::size_t& i, double lambda);
    bool fail(const std::string& message) {
        out_.error = message;
        return false;
    }

    const Reporter& rep_;
    const std::vector<Line>& lines_;
    SweepRead out_;
    std::size_t lk_ = 0;
};

bool ResultsReader::value_list(std::size_t& i, std::size_t n, std::vector<double>& into) {
    for (std::size_t done = 0; done < n;) {
        if (i >= lines_.size()) return false;
        const Line& l = lines_[i];
        const std::size_t on_line = std::min(kPerLine, n - done);
        if (l.text.size() != on_line * kRealField)
            return fail(rep_.at(l, "expected a line of " + std::to_string(on_line) + " values: " + quoted(l.text)));
        FieldReader f(l, rep_);
        for (std::size_t k = 0; k < on_line; ++k) into.push_back(f.real());
        if (!f.error().empty()) return fail(f.error());
        done += on_line;
        ++i;
    }
    return true;
}

// Reads the three value lists of one step after its header; false when the
// step is not whole (the error is set only when it is malformed).
bool ResultsReader::step(std::size_t& i, double lambda) {
    std::vector<double> lists[3];
    for (int k = 0; k < 3; ++k) {
        if (i >= lines_.size() || trim(lines_[i].text) != kListHeadings[k]) return false;
        ++i;
        if (!value_list(i, lk_, lists[k])) return false;
    }
    Sweep& s = out_.sweep;
    s.lambda.push_back(lambda);
    for (std::size_t u = 0; u < lk_; ++u) {
        s.curves[u].amp.push_back(lists[0][u]);
        s.curves[u].ac.push_back(lists[1][u]);
        s.curves[u].as.push_back(lists[2][u]);
    }
    return true;
}

SweepRead ResultsReader::read() {
    Sweep& s = out_.sweep;
    s.kind = Sweep::Kind::results_file;
    std::size_t i = 0;
    while (i < lines_.size() && trim(lines_[i].text) != kFrequencies) ++i;
    if (i == lines_.size()) {
        out_.error = rep_.whole("no natural frequencies (\"CZESTOSCI DRGAN WLASNYCH\") before the sweep");
        return out_;
    }
    // The frequency list: one value per storey, five to a line, up to the
    // first mode-shape heading.
    for (++i; i < lines_.size() && is_value_line(lines_[i].text); ++i) {
        FieldReader f(lines_[i], rep_);
        for (std::size_t k = 0; k < lines_[i].text.size() / kRealField; ++k) s.omega.push_back(f.real());
        if (!f.error().empty()) {
            out_.error = f.error();
            return out_;
        }
    }
    lk_ = s.omega.size();
    if (lk_ == 0) {
        out_.error = rep_.whole("no values after \"CZESTOSCI DRGAN WLASNYCH\"");
        return out_;
    }
    for (std::size_t u = 0; u < lk_; ++u) s.curves.push_back({static_cast<int32_t>(u + 1), {}, {}, {}});

    bool closed = false;
    while (i < lines_.size()) {
        const Line& header = lines_[i++];
        const std::string_view t = trim(header.text);
        if (t == kClosing) {
            closed = true;
            break;
        }
        if (t.substr(0, kStep.size()) != kStep) {
            // Within the sweep only the separators stand between the steps.
            if (!s.lambda.empty() && !t.empty() && t.find_first_not_of(kRule) != std::string_view::npos) {
                out_.error = rep_.at(header, "expected a step of the sweep: " + quoted(header.text));
                return out_;
            }
            continue;
        }
        // The header's field stands straight after the text, without the
        // two blanks of a list field.
        const std::string field = "  " + std::string(header.text.substr(header.text.find(kStep) + kStep.size()));
        const Line field_line{field, header.number};
        FieldReader f(field_line, rep_);
        const double lambda = f.real();
        if (!f.error().empty() || !f.at_end()) {
            out_.error = f.error().empty() ? rep_.at(header, "expected one value after \"LAMBDA=\"") : f.error();
            return out_;
        }
        if (!step(i, lambda)) {
            if (!out_.error.empty()) return out_;
            // The step is not whole: the run stopped inside it.  No step may follow.
            for (std::size_t j = i; j < lines_.size(); ++j)
                if (trim(lines_[j].text).substr(0, kStep.size()) == kStep) {
                    out_.error = rep_.at(header, "the step at " + quoted(t) + " is not whole, yet more steps follow");
                    return out_;
                }
            break;
        }
    }
    if (!closed)
        s.warnings.push_back(rep_.whole("the run stopped inside the sweep (no \"KONIEC OBLICZEN\"); " +
                                        std::to_string(s.lambda.size()) + " whole steps read"));
    return out_;
}

}  // namespace

SweepRead read_sweep(std::string_view name, std::string_view text) {
    const Reporter rep(name);
    const Lines split = split_lines(text);
    const std::vector<Line>& lines = split.lines;

    const auto has = [&](auto pred) { return std::any_of(lines.begin(), lines.end(), pred); };
    const bool results = has([](const Line& l) { return trim(l.text).substr(0, kStep.size()) == kStep; }) ||
                         has([](const Line& l) { return trim(l.text) == kFrequencies; });
    const bool plot_rows = !lines.empty() && groups_of(lines.front().text.substr(
                                                 0, lines.front().text.find_last_not_of(' ') + 1)) != 0;
    SweepRead out;
    if (results) {
        out = ResultsReader(rep, lines).read();
    } else if (has([](const Line& l) { return is_legend(l.text); }) || plot_rows) {
        out = read_plot_file(rep, lines);
    } else {
        out.error = rep.whole("neither a plot file (its legend \"1 KOLUMNA - ...\") nor a results file "
                              "(its \"WYNIKI OBLICZEN LAMBDA=\" records)");
        return out;
    }
    if (split.last_cut && out.error.empty())
        out.sweep.warnings.insert(out.sweep.warnings.begin(),
                                  rep.whole("the last line has no line end: it was cut off and is left out"));
    return out;
}

}  // namespace plot
