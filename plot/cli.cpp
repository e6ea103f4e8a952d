#include "plot/cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "plot/gnuplot.h"
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
    "Exit status: 0 done, 1 bad input file, 2 bad command line, 3 drawing failed.\n";

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
        if (!list) return "--unknowns wants numbers from 1 separated by commas, e.g. 1,3; got \"" + value + "\"";
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

// A name the script or the messages would carry: control characters would
// break the script's lines.
bool plain_path(const std::string& p) {
    for (const char c : p)
        if (static_cast<unsigned char>(c) < 32) return false;
    return true;
}

std::optional<std::string> read_file(const std::string& path, std::string& error) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        error = path + " is a folder, not a file";
        return std::nullopt;
    }
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::ostringstream ss;
    ss << f.rdbuf();
    if (f.bad()) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    return ss.str();
}

int fail(int status, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return status;
}

// Reads a file that must hold a sweep; the message on failure.
std::optional<Sweep> load(const std::string& path, std::string& error) {
    const auto text = read_file(path, error);
    if (!text) return std::nullopt;
    SweepRead r = read_sweep(path, *text);
    if (!r.error.empty()) {
        error = r.error;
        return std::nullopt;
    }
    for (const std::string& w : r.sweep.warnings) std::fprintf(stderr, "%s: warning: %s\n", kProgram, w.c_str());
    return std::move(r.sweep);
}

const char* const kNoGnuplot =
    "gnuplot is not on the PATH: install the Debian package gnuplot-nox (tools/install-deps does), "
    "or write the curves with --csv PATH and the drawing script with --script PATH, which need no gnuplot";

// Makes every output into its temporary file, then puts them all in place.
int make_outputs(const Options& o, const Curves& curves) {
    const std::string output = o.output.empty() ? o.file + ".svg" : o.output;
    const Style style{o.lang, o.log, o.title, o.file.substr(o.file.rfind('/') + 1)};
    const Format format = *format_of(output);

    std::vector<std::unique_ptr<Output>> outs;
    const auto write_whole = [&](const std::string& path, const std::string& text) {
        outs.push_back(std::make_unique<Output>(path));
        std::string e = outs.back()->create();
        return e.empty() ? outs.back()->write(text) : e;
    };
    if (!o.csv.empty()) {
        const std::string e = write_whole(o.csv, to_csv(curves));
        if (!e.empty()) return fail(kExitDrawing, e);
    }
    if (!o.script.empty()) {
        const std::string e = write_whole(o.script, gnuplot_script(curves, style, format, output));
        if (!e.empty()) return fail(kExitDrawing, e);
    } else {
        if (!on_path("gnuplot")) return fail(kExitDrawing, kNoGnuplot);
        outs.push_back(std::make_unique<Output>(output));
        Output& picture = *outs.back();
        std::string e = picture.stream() ? "a picture goes to a file, not to a stream or device" : picture.create();
        if (e.empty()) e = picture.close_temp();
        GnuplotProcess gnuplot;
        if (e.empty()) e = gnuplot.start();
        if (e.empty()) {
            gnuplot.feed(gnuplot_script(curves, style, format, picture.temp()));
            e = gnuplot.finish().message;
        }
        if (e.empty() && picture.empty_file()) e = "gnuplot wrote no picture";
        if (!e.empty()) return fail(kExitDrawing, "cannot draw " + output + ": " + e);
    }
    for (auto& p : outs) {
        const std::string e = p->commit();
        if (!e.empty()) return fail(kExitDrawing, e);
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
    for (const std::string* path : {&o.file, &o.output, &o.results, &o.csv, &o.script})
        if (p.error.empty() && !plain_path(*path)) p.error = "a file name with a control character";
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

    std::string error;
    std::optional<Sweep> sweep = load(o.file, error);
    if (!sweep) return fail(kExitBadInput, error);
    if (!o.results.empty()) {
        const std::optional<Sweep> results = load(o.results, error);
        if (!results) return fail(kExitBadInput, error);
        if (results->kind != Sweep::Kind::results_file)
            return fail(kExitBadInput, o.results + " is not a results file");
        sweep->omega = results->omega;
    }
    if (sweep->lambda.empty()) return fail(kExitBadInput, o.file + ": no step of the sweep to draw");
    const CurvesMade made = make_curves(*sweep, o.view);
    if (!made.error.empty()) return fail(kExitBadInput, o.file + ": " + made.error);
    return make_outputs(o, made.curves);
}

}  // namespace plot
