// Reading the plot file and the results file, line by line.
#include "plot/recorded.h"

#include <algorithm>
#include <cstddef>

#include "layouts/layouts.h"

namespace plot {
namespace {

using fields::FieldReader;
using fields::kGap;
using fields::kRealField;
using fields::Line;
using fields::quoted;
using fields::trim;

// ---------------------------------------------------------------- plot file

constexpr std::string_view kLegendFirst = layouts::literal(layouts::kPlotLegend);
using layouts::kRowGroup;
using layouts::kRowHead;
constexpr std::size_t kMaxGroups = layouts::kPlottedMax;

// The groups of a plot row (blanks after its last field left out), or 0.
std::size_t groups_of(std::string_view row) {
    const std::size_t n = row.size();
    if (n <= kRowHead || (n - kRowHead) % kRowGroup != 0) return 0;
    const std::size_t g = (n - kRowHead) / kRowGroup;
    return g <= kMaxGroups ? g : 0;
}

std::string_view without_trailing_blanks(std::string_view t) { return t.substr(0, t.find_last_not_of(' ') + 1); }

bool is_legend(std::string_view line) { return trim(line) == kLegendFirst; }

// -------------------------------------------------------------- results file

constexpr std::string_view kFrequencies = layouts::literal(layouts::kFrequencies);
constexpr std::string_view kStep = layouts::literal(layouts::kStepHeading);
constexpr std::string_view kClosing = layouts::literal(layouts::kClosing);
constexpr std::string_view kListHeadings[] = {layouts::literal(layouts::kAmplitudeCaption),
                                              layouts::literal(layouts::kCosCaption),
                                              layouts::literal(layouts::kSinCaption)};
constexpr std::size_t kPerLine = layouts::kValuesPerLine;
constexpr char kRule = layouts::literal(layouts::kSeparator)[0];  // the separator's character

bool is_step_heading(std::string_view t) { return trim(t).substr(0, kStep.size()) == kStep; }

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

// The program writes printable text only (and one letter of ISO 8859-2):
// a control character means a file of another kind.
bool is_text(std::string_view t) {
    return std::none_of(t.begin(), t.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t') || u == 0x7f;
    });
}

constexpr const char* kNeither =
    "neither a plot file (its legend \"1 KOLUMNA - ...\") nor a results file "
    "(its \"WYNIKI OBLICZEN LAMBDA=\" records)";

}  // namespace

RecordReader::RecordReader(std::string name, RecordSink& sink, bool heads_only)
    : name_(std::move(name)), sink_(sink), heads_only_(heads_only) {}

bool RecordReader::fail(std::string message) {
    error_ = std::move(message);
    state_ = State::over;
    return false;
}

bool RecordReader::sink_said(const Line& l, const std::string& what) {
    return what.empty() || fail(rep_.at(l, what));
}

bool RecordReader::feed(std::string_view bytes) {
    for (std::size_t pos = 0; pos < bytes.size() && state_ != State::over;) {
        if (after_cr_ && bytes[pos] == '\n') ++pos;  // the LF of a CR LF
        after_cr_ = false;
        // A plain scan: find_first_of would look each byte up in the set.
        std::size_t stop = pos;
        while (stop < bytes.size() && bytes[stop] != '\n' && bytes[stop] != '\r') ++stop;
        const std::size_t end = stop == bytes.size() ? std::string_view::npos : stop;
        if (pending_.size() + (stop - pos) > kMaxLine)
            return fail(rep_.at({{}, number_ + 1}, "a line longer than any record (over " + std::to_string(kMaxLine) +
                                                       " characters): not a file the program writes"));
        pending_.append(bytes.substr(pos, stop - pos));
        if (end == std::string_view::npos) break;
        after_cr_ = bytes[end] == '\r';
        pos = end + 1;
        ++number_;
        if (!line(pending_)) return false;
        pending_.clear();
    }
    return state_ != State::over;
}

void RecordReader::finish() {
    const bool cut = state_ != State::over && !trim(pending_).empty();
    pending_.clear();
    if (state_ == State::over && !error_.empty()) return;
    switch (state_) {
    case State::start:
    case State::head:
        if (!ended_) {
            fail(rep_.whole(kNeither));
            return;
        }
        break;
    case State::frequencies:
        if (!begin_sweep({{}, number_})) return;
        break;
    default: break;
    }
    if (!ended_ && kind_ == Kind::plot_file)
        warnings_.push_back(rep_.whole("no legend at the end: the run stopped inside the sweep; " +
                                       std::to_string(steps_) + " steps read"));
    if (!ended_ && kind_ == Kind::results_file && !heads_only_)
        warnings_.push_back(rep_.whole("the run stopped inside the sweep (no \"KONIEC OBLICZEN\"); " +
                                       std::to_string(steps_) + " whole steps read"));
    if (cut)
        warnings_.insert(warnings_.begin(), rep_.whole("the last line has no line end: it was cut off and is left out"));
    state_ = State::over;
}

bool RecordReader::line(std::string_view text) {
    const Line l{text, number_};
    if (!is_text(text)) return fail(rep_.at(l, "a control character: not a file the program writes"));
    if (state_ == State::start) {
        if (is_legend(text) || groups_of(without_trailing_blanks(text)) != 0) {
            kind_ = Kind::plot_file;
            state_ = State::plot_rows;
        } else {
            state_ = State::head;
        }
    }
    if (state_ == State::plot_rows) return plot_row(l);
    return results_line(l);
}

// A plot row: the frequency, then per chosen unknown a group of three
// amplitudes and the unknown's number.
bool RecordReader::plot_row(const Line& l) {
    if (is_legend(l.text)) {
        ended_ = true;
        state_ = State::over;
        return false;
    }
    // Blanks after the last field are not part of the record.
    const Line row{without_trailing_blanks(l.text), l.number};
    const std::size_t g = groups_of(row.text);
    if (g == 0 || (groups_ != 0 && g != groups_))
        return fail(rep_.at(l, groups_ ? "expected a plot row of " + std::to_string(groups_) +
                                             " unknowns like the rows before it: " + quoted(l.text)
                                       : "not a plot row: " + quoted(l.text)));
    FieldReader f(row, rep_);
    const double lambda = f.real();
    f.blanks(kGap);
    double amp[kMaxGroups] = {}, ac[kMaxGroups] = {}, as[kMaxGroups] = {};
    int32_t unknown[kMaxGroups] = {};
    for (std::size_t k = 0; k < g; ++k) {
        amp[k] = f.real();
        ac[k] = f.real();
        as[k] = f.real();
        unknown[k] = f.integer();
    }
    if (!f.error().empty()) return fail(f.error());
    if (groups_ == 0) {
        groups_ = g;
        unknowns_.assign(unknown, unknown + g);
        if (!sink_said(l, sink_.begin(Kind::plot_file, unknowns_, {}))) return false;
    }
    for (std::size_t k = 0; k < g; ++k)
        if (unknown[k] != unknowns_[k])
            return fail(rep_.at(l, "unknown " + std::to_string(unknown[k]) + " where the rows before hold unknown " +
                                       std::to_string(unknowns_[k])));
    ++steps_;
    return sink_said(l, sink_.step(lambda, amp, ac, as));
}

bool RecordReader::results_line(const Line& l) {
    const std::string_view t = trim(l.text);
    switch (state_) {
    case State::head:
        if (t == kFrequencies) state_ = State::frequencies;
        else if (is_step_heading(t))
            return fail(rep_.whole("no natural frequencies (\"CZESTOSCI DRGAN WLASNYCH\") before the sweep"));
        return true;
    case State::frequencies: {
        // One value per storey, five to a line, up to the first mode-shape heading.
        if (!is_value_line(l.text)) return begin_sweep(l) && results_line(l);
        FieldReader f(l, rep_);
        for (std::size_t k = 0; k < l.text.size() / kRealField; ++k) omega_.push_back(f.real());
        return f.error().empty() || fail(f.error());
    }
    case State::between:
        if (t == kClosing) {
            ended_ = true;
            state_ = State::over;
            return false;
        }
        if (is_step_heading(t)) return step_heading(l);
        // Within the sweep only the separators stand between the steps.
        if (steps_ > 0 && !t.empty() && t.find_first_not_of(kRule) != std::string_view::npos)
            return fail(rep_.at(l, "expected a step of the sweep: " + quoted(l.text)));
        return true;
    case State::caption:
        if (t == kListHeadings[list_]) {
            lists_[list_].clear();
            state_ = State::list;
        } else {
            state_ = State::broken;  // the run stopped inside the step
        }
        return true;
    case State::list: return list_line(l);
    case State::broken:
        // A step that is not whole is the end of a run: no step may follow.
        if (is_step_heading(t))
            return fail(rep_.at({{}, heading_line_}, "the step at " + quoted(heading_text_) +
                                                         " is not whole, yet more steps follow"));
        return true;
    default: return false;
    }
}

bool RecordReader::begin_sweep(const Line& l) {
    if (omega_.empty()) return fail(rep_.whole("no values after \"CZESTOSCI DRGAN WLASNYCH\""));
    kind_ = Kind::results_file;
    for (std::size_t u = 0; u < omega_.size(); ++u) unknowns_.push_back(static_cast<int32_t>(u + 1));
    state_ = State::between;
    if (!sink_said(l, sink_.begin(Kind::results_file, unknowns_, omega_))) return false;
    if (heads_only_) {
        state_ = State::over;
        return false;
    }
    return true;
}

bool RecordReader::step_heading(const Line& l) {
    // The heading's field stands straight after the text, without the two
    // blanks of a list field.
    const std::string field = "  " + std::string(l.text.substr(l.text.find(kStep) + kStep.size()));
    const Line field_line{field, l.number};
    FieldReader f(field_line, rep_);
    lambda_ = f.real();
    if (!f.error().empty() || !f.at_end())
        return fail(f.error().empty() ? rep_.at(l, "expected one value after \"LAMBDA=\"") : f.error());
    heading_line_ = l.number;
    heading_text_ = trim(l.text);
    list_ = 0;
    state_ = State::caption;
    return true;
}

// A line of the list being read: as many values as are still due, five at most.
bool RecordReader::list_line(const Line& l) {
    std::vector<double>& into = lists_[list_];
    const std::size_t on_line = std::min(kPerLine, unknowns_.size() - into.size());
    if (l.text.size() != on_line * kRealField)
        return fail(rep_.at(l, "expected a line of " + std::to_string(on_line) + " values: " + quoted(l.text)));
    FieldReader f(l, rep_);
    for (std::size_t k = 0; k < on_line; ++k) into.push_back(f.real());
    if (!f.error().empty()) return fail(f.error());
    if (into.size() < unknowns_.size()) return true;
    if (++list_ < 3) {
        state_ = State::caption;
        return true;
    }
    state_ = State::between;
    ++steps_;
    return sink_said(l, sink_.step(lambda_, lists_[0].data(), lists_[1].data(), lists_[2].data()));
}

// ---------------------------------------------------------- a whole sweep

namespace {

class Collect : public RecordSink {
public:
    explicit Collect(Sweep& s) : s_(s) {}
    std::string begin(Kind kind, const std::vector<int32_t>& unknowns, const std::vector<double>& omega) override {
        s_.kind = kind;
        s_.omega = omega;
        for (const int32_t u : unknowns) s_.curves.push_back({u, {}, {}, {}});
        return {};
    }
    std::string step(double lambda, const double* amp, const double* ac, const double* as) override {
        s_.lambda.push_back(lambda);
        for (std::size_t k = 0; k < s_.curves.size(); ++k) {
            s_.curves[k].amp.push_back(amp[k]);
            s_.curves[k].ac.push_back(ac[k]);
            s_.curves[k].as.push_back(as[k]);
        }
        return {};
    }

private:
    Sweep& s_;
};

}  // namespace

SweepRead read_sweep(std::string_view name, std::string_view text) {
    SweepRead out;
    Collect sink(out.sweep);
    RecordReader reader(std::string(name), sink);
    reader.feed(text);
    reader.finish();
    out.error = reader.error();
    if (reader.kind()) out.sweep.kind = *reader.kind();
    out.sweep.warnings = reader.warnings();
    return out;
}

}  // namespace plot
