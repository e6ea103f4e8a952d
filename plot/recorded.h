// The resonance sweep as the program's own files record it, read back: the
// plot file (one row per step with up to three chosen unknowns) and the
// results file (the natural frequencies and every storey's amplitudes at
// every step).  The files are read as a stream, line by line, each whole
// step handed on as it is read, so that a sweep of any length is read in
// bounded memory.  Reading never stops the process: errors come back as
// values that say where (file name, line number) and what.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plot/fields.h"

namespace plot {

enum class Kind { plot_file, results_file };

// What takes the steps as they are read.  An error text it returns stops
// the reading, and is shown at the line being read.
class RecordSink {
public:
    virtual ~RecordSink() = default;
    // The unknowns the file's curves follow, in the file's order, and the
    // natural frequencies it holds (none in a plot file); before the first step.
    virtual std::string begin(Kind kind, const std::vector<int32_t>& unknowns, const std::vector<double>& omega) = 0;
    // One whole step: per curve of begin, its amplitude and cos and sin parts.
    virtual std::string step(double lambda, const double* amp, const double* ac, const double* as) = 0;
};

// A line longer than this is no record the program writes (its longest is
// a plot row of three unknowns).
inline constexpr std::size_t kMaxLine = 512;
static_assert(kMaxLine > layouts::record_width(layouts::kPlotRow));

// Recognises the kind of file by its first line and reads it, fed bytes in
// pieces of any size.  A line end is CR LF, LF or CR.
class RecordReader {
public:
    // heads_only: stop once the natural frequencies are read.
    RecordReader(std::string name, RecordSink& sink, bool heads_only = false);
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    // false once reading is over: an error, or nothing more is wanted.
    bool feed(std::string_view bytes);
    // The end of the file.  A last line without a line end was cut off
    // while it was being written: it is left out.
    void finish();

    const std::string& error() const { return error_; }  // "NAME:LINE: what" (or "NAME: what")
    const std::vector<std::string>& warnings() const { return warnings_; }  // what was read but is not whole
    std::optional<Kind> kind() const { return kind_; }
    long steps() const { return steps_; }

private:
    enum class State { start, head, frequencies, between, caption, list, broken, plot_rows, over };

    bool line(std::string_view text);
    bool plot_row(const fields::Line& l);
    bool results_line(const fields::Line& l);
    bool begin_sweep(const fields::Line& l);
    bool step_heading(const fields::Line& l);
    bool list_line(const fields::Line& l);
    bool fail(std::string message);
    bool sink_said(const fields::Line& l, const std::string& what);

    std::string name_;
    fields::Reporter rep_{name_};
    RecordSink& sink_;
    bool heads_only_;

    std::string pending_;  // the line being gathered
    bool after_cr_ = false;
    long number_ = 0;      // of the last whole line

    State state_ = State::start;
    std::optional<Kind> kind_;
    std::string error_;
    std::vector<std::string> warnings_;
    long steps_ = 0;
    bool ended_ = false;  // the legend or the closing record was read

    // The sweep: the curves' unknowns, the step being read.
    std::vector<int32_t> unknowns_;
    std::vector<double> omega_;
    std::size_t groups_ = 0;  // of a plot row
    double lambda_ = 0.0;
    long heading_line_ = 0;   // of the step being read (broken: of the step not whole)
    std::string heading_text_;
    int list_ = 0;            // the list being read: 0 amplitude, 1 cos, 2 sin
    std::vector<double> lists_[3];
};

// ---------------------------------------------------------- a whole sweep

// One unknown over the sweep: the amplitude and its cos and sin parts, one
// entry per step.
struct Curve {
    int32_t unknown = 0;
    std::vector<double> amp, ac, as;
};

struct Sweep {
    Kind kind = Kind::plot_file;
    std::vector<double> lambda;         // forcing frequency of every step
    std::vector<Curve> curves;          // in the order the file holds them
    std::vector<double> omega;          // natural frequencies, when the file holds them
    std::vector<std::string> warnings;  // what was read but is not whole
};

struct SweepRead {
    Sweep sweep;
    std::string error;  // "NAME:LINE: what" (or "NAME: what"); empty when read
};

// A whole file's text read into memory; name is only used in messages.
SweepRead read_sweep(std::string_view name, std::string_view text);

}  // namespace plot
