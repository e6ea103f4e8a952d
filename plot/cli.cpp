#include "plot/cli.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "plot/gnuplot.h"
#include "plot/interrupt.h"
#include "plot/outputs.h"
#include "plot/recorded.h"

namespace plot {
namespace {

constexpr const char* kProgram = "varnostik-plot";
constexpr const char* kVersion = "varnostik-plot 1.0";

constexpr const char* kUsage =
    "usage: varnostik-plot [options] FILE\n"
    "Draws the resonance curves of a plot file or a results file written by varnostik.\n"
    "\n"
    "  -o, --output PATH      the picture: .svg, .png or .pdf (default: FILE.svg)\n"
    "      --unknowns LIST    the unknowns drawn, e.g. 1,3 (default: all the file holds)\n"
    "      --results PATH     with a plot file: the results file whose natural\n"
    "                         frequencies are marked\n"
    "      --quantity Q       displacement (default), velocity or acceleration\n"
    "      --hz               frequency axis in hertz instead of rad/s\n"
    "      --log              logarithmic amplitude axis\n"
    "      --lang pl|en       language of the labels (default pl)\n"
    "      --title TEXT       title of the picture\n"
    "      --csv PATH         also write the curves as CSV\n"
    "      --script PATH      write the gnuplot script (data inline) instead of drawing\n"
    "  -h, --help             this text\n"
    "      --version          the version\n"
    "\n"
    "Exit status: 0 done, 1 bad input file (or out of memory), 2 bad command line, 3 drawing failed,\n"
    "128 + N ended by signal N (SIGHUP, SIGINT, SIGTERM) with no output left behind.\n";

const char* const kQuantities[] = {"displacement", "velocity", "acceleration"};

std::optional<std::vector<int32_t>> unknown_list(const std::string& text) {
    std::vector<int32_t> out;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const std::size_t comma = std::min(text.find(',', pos), text.size());
        int32_t v = 0;
        const char* b = text.data() + pos;
        const char* e = text.data() + comma;
        const auto r = std::from_chars(b, e, v);
        if (b == e || r.ec != std::errc() || r.ptr != e || v < 1) return std::nullopt;
        // A picture shows each unknown once.
        if (std::find(out.begin(), out.end(), v) != out.end()) return std::nullopt;
        out.push_back(v);
        pos = comma + 1;
    }
    return out;
}

// Applies one option that takes a value; the usage error otherwise.
std::string take_value(Options& o, const std::string& name, const std::string& value) {
    if (name == "-o" || name == "--output") o.output = value;
    else if (name == "--results") o.results = value;
    else if (name == "--csv") o.csv = value;
    else if (name == "--script") o.script = value;
    else if (name == "--title") o.title = value;
    else if (name == "--unknowns") {
        const auto list = unknown_list(value);
        if (!list) return "--unknowns wants different numbers from 1 separated by commas, e.g. 1,3; got \"" + value + "\"";
        o.view.unknowns = *list;
    } else if (name == "--quantity") {
        for (int q = 0; q < 3; ++q)
            if (value == kQuantities[q]) o.view.quantity = static_cast<Quantity>(q);
        if (value != kQuantities[static_cast<int>(o.view.quantity)])
            return "--quantity is displacement, velocity or acceleration, not \"" + value + "\"";
    } else if (name == "--lang") {
        if (value != "pl" && value != "en") return "--lang is pl or en, not \"" + value + "\"";
        o.lang = value == "pl" ? Lang::pl : Lang::en;
    }
    return {};
}

bool takes_value(const std::string& name) {
    for (const char* n : {"-o", "--output", "--results", "--csv", "--script", "--title", "--unknowns",
                          "--quantity", "--lang"})
        if (name == n) return true;
    return false;
}

std::string picture_name(const Options& o) { return o.output.empty() ? o.file + ".svg" : o.output; }

// A text without control characters.
bool plain(const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7f;
    });
}

int fail(int status, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return status;
}

void warn(const std::vector<std::string>& warnings) {
    for (const std::string& w : warnings) std::fprintf(stderr, "%s: warning: %s\n", kProgram, w.c_str());
}

// How a step of the run ended: 0 done, else the exit status (the message
// already shown).
int interrupted_status(int sig) {
    fail(kExitInterrupted + sig, std::string("interrupted by ") + signal_name(sig));
    return kExitInterrupted + sig;
}

// A step that failed: the exit status, the message shown.  A failure that
// an interrupt caused (a wait it cut short) is the interrupt's.
int failed(int status, const std::string& message) {
    if (const int sig = interrupted()) return interrupted_status(sig);
    return fail(status, message);
}

// Reads a file through the reader as a stream, a piece at a time, so that
// its size does not matter; 0, or the exit status.
int read_stream(const std::string& path, RecordReader& reader) {
    // A FIFO opened without waiting: the wait for its writer is the poll
    // below, which an interrupt ends.  Reads wait again once data is there.
    int fd;
    while ((fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && errno == EINTR)
        if (const int sig = interrupted()) return interrupted_status(sig);
    if (fd < 0) return failed(kExitBadInput, "cannot read " + path + ": " + std::strerror(errno));
    if (const int flags = fcntl(fd, F_GETFL); flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int saved = errno;
        close(fd);
        return failed(kExitBadInput, "cannot read " + path + ": " + std::strerror(saved));
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        return fail(kExitBadInput, path + " is a folder, not a file");
    }
    std::vector<char> buf(1 << 16);
    int status = 0;
    while (status == 0) {
        if (const int sig = interrupted()) {
            status = interrupted_status(sig);
            break;
        }
        // A FIFO or a terminal may make the read wait: the wait also ends
        // on an interrupt.
        pollfd fds[2] = {{fd, POLLIN, 0}, {interrupt_fd(), POLLIN, 0}};
        const int ready = poll(fds, 2, -1);
        if (fds[1].revents != 0 || (ready < 0 && errno == EINTR)) continue;
        const ssize_t n = read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) status = fail(kExitBadInput, "cannot read " + path + ": " + std::strerror(errno));
        else if (n == 0) reader.finish();
        if (n <= 0 || !reader.feed(std::string_view(buf.data(), static_cast<std::size_t>(n)))) break;
    }
    close(fd);
    return status;
}

const char* const kNoGnuplot =
    "gnuplot is not on the PATH: install the Debian package gnuplot-nox (tools/install-deps does), "
    "or write the curves with --csv PATH and the drawing script with --script PATH, which need no gnuplot";

// The natural frequencies of the results file named with --results, read
// up to them only; 0, or the exit status.
class Heads : public RecordSink {
public:
    std::string begin(Kind kind, const std::vector<int32_t>&, const std::vector<double>& omega) override {
        omega_ = omega;
        plot_file_ = kind == Kind::plot_file;
        return plot_file_ ? "a plot file" : "";
    }
    std::string step(double, const double*, const double*, const double*) override { return {}; }
    std::vector<double> omega_;
    bool plot_file_ = false;
};

// Reads the file, writing the CSV while it reads; then makes the script or
// the picture, and puts every output in place.
int make_outputs(const Options& o, const std::vector<double>& natural) {
    const std::string output = picture_name(o);
    Style style;
    style.lang = o.lang;
    style.log = o.log;
    style.title = o.title;
    style.file = o.file.substr(o.file.rfind('/') + 1);
    const Format format = *format_of(output);

    std::vector<std::unique_ptr<Output>> outs;
    Output* csv = nullptr;
    if (!o.csv.empty()) {
        outs.push_back(std::make_unique<Output>(o.csv));
        csv = outs.back().get();
        const std::string e = csv->create();
        if (!e.empty()) return failed(kExitDrawing, e);
    }
    CurveMaker maker(o.view, csv ? CurveMaker::CsvOut([csv](std::string_view text) { return csv->write(text); })
                                 : CurveMaker::CsvOut());
    RecordReader reader(o.file, maker);
    if (const int status = read_stream(o.file, reader)) return status;
    if (!maker.output_error().empty()) return failed(kExitDrawing, maker.output_error());
    if (!reader.error().empty()) return fail(kExitBadInput, reader.error());
    warn(reader.warnings());
    if (reader.steps() == 0) return fail(kExitBadInput, o.file + ": no step of the sweep to draw");
    if (const std::string e = maker.finish_csv(); !e.empty()) return failed(kExitDrawing, e);
    const Curves curves = maker.curves(natural.empty() ? maker.omega() : natural);

    if (!o.script.empty()) {
        outs.push_back(std::make_unique<Output>(o.script));
        std::string e = outs.back()->create();
        if (e.empty()) e = outs.back()->write(gnuplot_script(curves, style, format, output));
        if (!e.empty()) return failed(kExitDrawing, e);
    } else {
        if (!on_path("gnuplot")) return fail(kExitDrawing, kNoGnuplot);
        outs.push_back(std::make_unique<Output>(output));
        Output& picture = *outs.back();
        std::string e = picture.stream() ? "a picture goes to a file, not to a stream or device" : picture.create();
        if (e.empty()) {
            // gnuplot never sees the picture's name: it draws into a file of
            // its own, whose bytes then go to the output like any other.
            const Drawing drawn = draw(curves, style, format);
            if (drawn.outcome.kind == GnuplotProcess::Outcome::Kind::interrupted)
                return interrupted_status(drawn.outcome.signal);
            e = drawn.outcome.message;
            if (e.empty()) e = picture.write(drawn.bytes);
        }
        if (!e.empty()) return failed(kExitDrawing, "cannot draw " + output + ": " + e);
    }
    // The streams first: a FIFO waits for its reader, and an interrupt
    // then ends the run before any file is put in place.
    for (const bool stream : {true, false})
        for (auto& p : outs) {
            if (p->stream() != stream) continue;
            if (const int sig = interrupted()) return interrupted_status(sig);
            const std::string e = p->commit();
            if (!e.empty()) return failed(kExitDrawing, e);
        }
    return kExitDone;
}

}  // namespace

Parsed parse_options(const std::vector<std::string>& args) {
    Parsed p;
    Options& o = p.options;
    bool options_end = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        if (options_end || a.size() < 2 || a[0] != '-') {
            if (!o.file.empty()) {
                p.error = "one FILE only: " + o.file + " and " + a;
                return p;
            }
            o.file = a;
            continue;
        }
        if (a == "--") {
            options_end = true;
            continue;
        }
        std::string value;
        bool has_value = false;
        if (const std::size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
            has_value = true;
        }
        if (takes_value(a)) {
            if (!has_value) {
                if (i + 1 == args.size()) {
                    p.error = a + " wants a value";
                    return p;
                }
                value = args[++i];
            }
            p.error = take_value(o, a, value);
            if (!p.error.empty()) return p;
            continue;
        }
        if (has_value) {
            p.error = a + " takes no value";
            return p;
        }
        if (a == "-h" || a == "--help") o.help = true;
        else if (a == "--version") o.version = true;
        else if (a == "--hz") o.view.hz = true;
        else if (a == "--log") o.log = true;
        else {
            p.error = "unknown option " + a;
            return p;
        }
    }
    if (o.help || o.version) return p;
    if (o.file.empty()) p.error = "no FILE given";
    else if (!o.output.empty() && !format_of(o.output))
        p.error = "the picture's name must end in .svg, .png or .pdf: " + o.output;
    else if (o.output.empty() && !format_of(o.file + ".svg"))
        p.error = "FILE names a folder: " + o.file;
    // The picture's name goes into the drawing script, where a line end
    // would end its text; a title must stay one line of text.
    if (p.error.empty() && !plain(picture_name(o)))
        p.error = "the picture's name has a control character; give another with -o";
    if (p.error.empty() && !plain(o.title)) p.error = "--title has a control character (a line end, a tab...)";
    return p;
}

int run_plot(int argc, char** argv) {
    const Parsed parsed = parse_options(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) return fail(kExitUsage, parsed.error + " (see --help)");
    const Options& o = parsed.options;
    if (o.help) {
        std::fputs(kUsage, stdout);
        return kExitDone;
    }
    if (o.version) {
        std::puts(kVersion);
        return kExitDone;
    }

    std::vector<NamedFile> files = {{"the input", o.file, false}};
    if (!o.results.empty()) files.push_back({"--results", o.results, false});
    if (!o.csv.empty()) files.push_back({"--csv", o.csv, true});
    if (!o.script.empty()) files.push_back({"--script", o.script, true});
    files.push_back({"the picture", picture_name(o), true});
    if (const std::string e = clash(files); !e.empty()) return fail(kExitUsage, e);

    try {
        const InterruptGuard guard;
        std::vector<double> natural;
        if (!o.results.empty()) {
            Heads heads;
            RecordReader reader(o.results, heads, true);
            if (const int status = read_stream(o.results, reader)) return status;
            if (heads.plot_file_) return fail(kExitBadInput, o.results + " is not a results file");
            if (!reader.error().empty()) return fail(kExitBadInput, reader.error());
            natural = heads.omega_;
        }
        return make_outputs(o, natural);
    } catch (const std::bad_alloc&) {
        // Every output made so far was a temporary file, removed on the way here.
        return fail(kExitBadInput, "out of memory");
    }
}

}  // namespace plot
