#include "design/cli.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "design/analysis_link.h"
#include "design/damped_modes.h"
#include "design/datafile.h"
#include "design/description.h"
#include "design/interrupt.h"
#include "design/outputs.h"
#include "design/peaks.h"
#include "design/plot_link.h"
#include "design/random.h"
#include "design/response.h"
#include "design/tune.h"
#include "design/tuned_text.h"
#include "design/units.h"

namespace design {

namespace {

constexpr const char* kUsage =
    "usage: varnostik-design COMMAND MODEL.toml [options]\n"
    "Builds the model of a frame with dampers from its description and answers\n"
    "the designer's questions with the numbers of varnostik.\n"
    "\n"
    "  build MODEL.toml [--dir DIR]\n"
    "      the data file and the answers that replay it (varnostik < DATA.in);\n"
    "      needs [force] and [sweep] ([ground] cannot be written to a data file)\n"
    "  response MODEL.toml [--csv PATH] [-o PICTURE] [--hz] [--lang pl|en]\n"
    "           [--quantity displacement|acceleration]\n"
    "      at every step of the sweep under [force] or [ground]: every unknown's\n"
    "      amplitude and phase (relative to the ground) and absolute\n"
    "      acceleration, the tuned masses' strokes, the storeys' drifts (and\n"
    "      drift ratios, with heights) and the base shear; -o draws the plotted\n"
    "      unknowns' displacements (default) or absolute accelerations\n"
    "  peaks MODEL.toml [--csv PATH]\n"
    "      every local maximum of every curve of response over the sweep's\n"
    "      range, found between the steps too (CSV curve,lambda,value,largest)\n"
    "  random MODEL.toml [--csv PATH]\n"
    "      the standard deviations under the white noise of [random]\n"
    "      (CSV quantity,rms)\n"
    "  modes MODEL.toml [--csv PATH]\n"
    "      the modes of the damped system and the frame's natural frequencies\n"
    "      (CSV mode,damped_frequency,undamped_frequency,damping_ratio,\n"
    "      decay_rate; an overdamped root has a decay rate only)\n"
    "  tune MODEL.toml [--damper T|T,T...|all] [--objective peak|rms]\n"
    "       [--quantity displacement|acceleration|drift|base-shear]\n"
    "       [--target K[,K...]] [--stroke-limit S] [--robust D] [-o TUNED.toml]\n"
    "      the frequency and damping ratios of tuned masses T (default 1; several\n"
    "      or all tuned together, each mass kept) that make\n"
    "      the objective smallest: peak, the largest value over every frequency\n"
    "      under [force] or [ground], or rms, the standard deviation under\n"
    "      [random]; of the quantity (displacement relative to the ground,\n"
    "      absolute acceleration, drift, base shear) of storeys K, the largest\n"
    "      over them (default the top storey; every storey for drift)\n"
    "      --stroke-limit S: every tuned mass's stroke (peak or standard\n"
    "      deviation, as the objective) kept at or below S; --robust D: the\n"
    "      worst objective over the frame's stiffness scaled by 1-D, 1, 1+D\n"
    "  detune MODEL.toml [--range D] [--points N] [--objective peak|rms]\n"
    "         [--quantity ...] [--target K[,K...]] [--csv PATH] [-o PICTURE]\n"
    "      the objective with the frame's stiffness scaled from 1-D to 1+D\n"
    "      (default 0.15, 31 points), the dampers' springs and dashpots kept\n"
    "      (CSV scale,objective)\n"
    "  --csv - and response's and detune's -o - (SVG) are standard output, not both at once.\n"
    "  -h, --help      this text\n"
    "      --version   the version\n"
    "\n"
    "Loads: [force] cos/sin = storey forces at cos and sin of LAMBDA t;\n"
    "[ground] cos = A, sin = B: the ground's acceleration A cos + B sin.\n"
    "White noise, [random]: force_psd = storey forces' densities, or\n"
    "ground_psd = S0, the ground acceleration's; two-sided spectral density\n"
    "per rad/s: a load of density S0 has a variance equal to the integral of\n"
    "S0 over all frequencies, a response's variance is the integral of\n"
    "|H(lambda)|^2 S0 over all frequencies.\n"
    "Units: units = \"kN-t-m-s\" (the examples': kN, t, m, s) or \"N-kg-m-s\"\n"
    "names the units in the text and the pictures; without it lengths,\n"
    "masses and forces are unnamed.  Frequencies are in rad/s (Hz with --hz).\n"
    "Damping ratios are fractions (0.02 is 2 %): a frame's of 1 or more, a tuned\n"
    "mass's of 0.5 or more is warned of as a likely percentage.\n"
    "\n"
        "Exit status: 0 done, 1 description refused, an output that would replace\n"
    "the description or another output, a value beyond the range of numbers\n"
    "or a computation that failed, 2 bad command line, 3 drawing failed,\n"
    "128 + N ended by signal N (SIGHUP, SIGINT, SIGTERM) with no output left\n"
    "behind.\n";

struct Usage {
    std::string what;
};

// The command's arguments: the description's path and its options.
struct Args {
    std::string model;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;
};

Args parse(int argc, char** argv, const std::set<std::string>& with_value, const std::set<std::string>& flags) {
    Args a;
    for (int i = 2; i < argc; ++i) {
        const std::string s = argv[i];
        if (with_value.count(s)) {
            if (i + 1 >= argc) throw Usage{s + " needs a value"};
            if (a.values.count(s)) throw Usage{s + " given twice"};
            a.values[s] = argv[++i];
        } else if (flags.count(s)) {
            a.flags.insert(s);
        } else if (!s.empty() && s[0] == '-') {
            throw Usage{"unknown option " + s};
        } else if (a.model.empty()) {
            a.model = s;
        } else {
            throw Usage{"one description only: " + s};
        }
    }
    if (a.model.empty()) throw Usage{"no description given"};
    return a;
}

int32_t positive_integer(const Args& a, const std::string& key, int32_t fallback) {
    auto it = a.values.find(key);
    if (it == a.values.end()) return fallback;
    const std::string& s = it->second;
    if (s.empty() || s.size() > 6 || s.find_first_not_of("0123456789") != std::string::npos || std::stoi(s) < 1)
        throw Usage{key + " needs a positive integer, not \"" + s + "\""};
    return static_cast<int32_t>(std::stoi(s));
}

// A value no output may carry: the command ends naming the quantity and
// where it went beyond the range of numbers.
void refuse_overflow(double v, const std::string& file, const std::string& quantity, const std::string& at) {
    if (!std::isfinite(v))
        throw Refused(file + ": " + quantity + " " + at + " is beyond the range of numbers (" + shortest_text(v) + ")");
}

// The picture's title: the description's own, or its file's name.
std::string picture_title(const Description& d) {
    return d.title.empty() ? std::filesystem::path(d.path).filename().string() : d.title;
}

// Puts the outputs in place once the picture is drawn (error empty) and
// added to them: 0.  A picture that could not be drawn leaves the other
// outputs standing on their own: 3, said.
int put_with_picture(OutputSet& out, const std::string& path, const std::string& error, const std::string& picture) {
    stop_if_interrupted();
    if (!error.empty()) {
        out.commit();
        std::cerr << "varnostik-design: " << error << "\n";
        return 3;
    }
    out.prepare(path, picture);
    out.commit();
    return 0;
}

// The unit a tuning objective of the quantity is measured in.
Dimension unit_of_quantity(Quantity q) {
    return q == Quantity::acceleration ? Dimension::acceleration
           : q == Quantity::base_shear ? Dimension::force
                                       : Dimension::length;
}

void refuse_overflow(const Response& r, const std::string& file) {
    for (std::size_t i = 0; i < r.lambda.size(); ++i) {
        const std::string at = "at LAMBDA=" + shortest_text(r.lambda[i]);
        for (std::size_t k = 0; k < r.amplitude.size(); ++k) {
            refuse_overflow(r.amplitude[k][i], file, "the amplitude of unknown " + std::to_string(k + 1), at);
            refuse_overflow(r.phase[k][i], file, "the phase of unknown " + std::to_string(k + 1), at);
        }
        for (std::size_t k = 0; k < r.acceleration.size(); ++k)
            refuse_overflow(r.acceleration[k][i], file, "the acceleration of unknown " + std::to_string(k + 1), at);
        for (std::size_t t = 0; t < r.stroke.size(); ++t)
            refuse_overflow(r.stroke[t][i], file, "the stroke of tuned mass " + std::to_string(t + 1), at);
        for (std::size_t k = 0; k < r.drift.size(); ++k)
            refuse_overflow(r.drift[k][i], file, "the drift of storey " + std::to_string(k + 1), at);
        for (std::size_t k = 0; k < r.drift_ratio.size(); ++k)
            refuse_overflow(r.drift_ratio[k][i], file, "the drift ratio of storey " + std::to_string(k + 1), at);
        if (i < r.base_shear.size()) refuse_overflow(r.base_shear[i], file, "the base shear", at);
    }
}

// The description, its warnings said on standard error before the
// command goes on.
Description read_warned(const std::string& path) {
    Description d = read_description(path);
    for (const std::string& w : d.warnings) std::cerr << "varnostik-design: warning: " << w << "\n";
    return d;
}

// "-" as an output is standard output: a report printed there too would
// break the CSV a reader takes from it.
bool csv_to_standard_output(const Args& a) { return a.values.count("--csv") && a.values.at("--csv") == "-"; }

// An empty field for a value that does not exist (an overdamped motion's
// frequency), the shortest text otherwise.
std::string field(double v, bool exists) { return exists ? shortest_text(v) : ""; }

int build(const Args& a) {
    const Description d = read_warned(a.model);
    if (d.has_ground)
        throw Refused(where(d.path, d.load_line, "ground",
                            "build writes the program's data file, which loads the storeys only: a tuned mass's "
                            "share of the ground's inertia cannot be written (response, peaks and random compute "
                            "under the ground's motion)"));
    require_table(d, "force");
    require_table(d, "sweep");
    const Model m = build_model(d);
    const std::filesystem::path dir = a.values.count("--dir") ? a.values.at("--dir") : ".";
    if (!std::filesystem::is_directory(dir)) throw Refused(dir.string() + ": no such folder");
    const std::string answers = replay_answers(d);
    // The results and plot files are written by the program beside the
    // data file when it replays the answers: they may not be the
    // description either.
    refuse_clashes({{"the description", a.model, false},
                    {"the data file", (dir / d.data).string()},
                    {"the answers", (dir / (d.data + ".in")).string()},
                    {"the results file", (dir / d.results).string()},
                    {"the plot file", (dir / d.plot_file).string()}});
    OutputSet out;
    out.prepare((dir / d.data).string(), m.data_text);
    out.prepare((dir / (d.data + ".in")).string(), answers);
    out.commit();
    std::cout << "data file " << (dir / d.data).string() << ", answers " << (dir / (d.data + ".in")).string()
              << "\nrun: cd " << dir.string() << " && varnostik < " << d.data << ".in\n";
    return 0;
}

int response(const Args& a) {
    if (!a.values.count("--csv") && !a.values.count("-o")) throw Usage{"response needs --csv PATH or -o PICTURE"};
    if (csv_to_standard_output(a) && a.values.count("-o") && a.values.at("-o") == "-")
        throw Usage{"--csv - and -o - would both write to standard output: give one of them a file"};
    std::string lang = a.values.count("--lang") ? a.values.at("--lang") : "pl";
    if (lang != "pl" && lang != "en") throw Usage{"--lang takes pl or en"};
    const bool hz = a.flags.count("--hz") > 0;
    const std::string quantity = a.values.count("--quantity") ? a.values.at("--quantity") : "displacement";
    if (quantity != "displacement" && quantity != "acceleration")
        throw Usage{"--quantity takes displacement or acceleration"};
    std::vector<FileRole> files = {{"the description", a.model, false}};
    if (a.values.count("--csv")) files.push_back({"--csv", a.values.at("--csv")});
    if (a.values.count("-o")) files.push_back({"-o", a.values.at("-o")});
    refuse_clashes(files);
    const Description d = read_warned(a.model);
    require_table(d, "sweep");
    require_table(d, "load");
    const Model m = build_model(d);
    const Response r = compute_response(m, d.path);
    stop_if_interrupted();
    refuse_overflow(r, d.path);
    // The CSV and the picture are put in place together, once both are made.
    OutputSet out;
    if (a.values.count("--csv")) out.prepare(a.values.at("--csv"), response_csv(r, hz));
    // The modes outside the range, against the steps' largest values.
    std::vector<double> largest;
    for (const auto* part : {&r.amplitude, &r.acceleration, &r.stroke, &r.drift, &r.drift_ratio})
        for (const std::vector<double>& curve : *part) largest.push_back(*std::max_element(curve.begin(), curve.end()));
    if (!r.base_shear.empty()) largest.push_back(*std::max_element(r.base_shear.begin(), r.base_shear.end()));
    const std::vector<OutsidePeak> outside =
        r.lambda.empty() ? std::vector<OutsidePeak>{}
                         : modes_outside(m, largest, r.lambda.front(), r.lambda.back(), d.path);
    if (!r.lambda.empty()) std::cerr << outside_warnings(outside, r.lambda.front(), r.lambda.back());
    if (!r.inaccurate.empty())
        std::cerr << "varnostik-design: warning: at " << r.inaccurate.size()
                  << " steps (the first at LAMBDA=" << shortest_text(r.inaccurate.front())
                  << ") the tuned masses' motion is not accurate to 1e-8 of its amplitude\n";
    if (a.values.count("-o")) {
        std::string picture;
        const std::string error = draw_response(r, m, m.OMEGA, a.values.at("-o"), hz, lang == "pl", picture_title(d),
                                                picture, quantity == "acceleration");
        return put_with_picture(out, a.values.at("-o"), error, picture);
    }
    out.commit();
    return 0;
}

int modes(const Args& a) {
    if (a.values.count("--csv")) refuse_clashes({{"the description", a.model, false}, {"--csv", a.values.at("--csv")}});
    const Description d = read_warned(a.model);
    const Model m = build_model(d);
    const Model& s = m;
    const std::vector<DampedMode> dm = damped_modes(m.NU, m.MS, m.CS, m.KS);
    if (dm.empty()) throw Refused(d.path + ": the modes of the damped system could not be computed");
    for (std::size_t i = 0; i < dm.size(); ++i) {
        const std::string mode = "of damped mode " + std::to_string(i + 1);
        refuse_overflow(dm[i].damped_frequency, d.path, "the damped frequency", mode);
        refuse_overflow(dm[i].frequency, d.path, "the undamped frequency", mode);
        refuse_overflow(dm[i].damping_ratio, d.path, "the damping ratio", mode);
        refuse_overflow(dm[i].decay_rate, d.path, "the decay rate", mode);
    }
    for (int32_t i = 0; i < m.LK; ++i)
        refuse_overflow(s.OMEGA[static_cast<std::size_t>(i)], d.path, "the natural frequency",
                        "of mode " + std::to_string(i + 1) + " of the frame");
    // A pair s = -decay +- i damped: its undamped-equivalent frequency |s|
    // and ratio decay / |s|; a real root is an overdamped motion with a
    // decay rate only.
    std::string csv = "mode,damped_frequency,undamped_frequency,damping_ratio,decay_rate\n";
    std::string text =
        "Modes of the damped system (frame and dampers)\n"
        " mode  damped frequency  undamped frequency  damping ratio    decay rate\n"
        "                  [rad/s]             [rad/s]                      [1/s]\n";
    for (std::size_t i = 0; i < dm.size(); ++i) {
        const DampedMode& q = dm[i];
        char line[128];
        if (q.overdamped)
            std::snprintf(line, sizeof line, "%5zu  %16.6g  %18s  %13s  %12.6g  overdamped\n", i + 1, 0.0, "-", "-",
                          q.decay_rate);
        else
            std::snprintf(line, sizeof line, "%5zu  %16.6g  %18.6g  %13.6g  %12.6g\n", i + 1, q.damped_frequency,
                          q.frequency, q.damping_ratio, q.decay_rate);
        text += line;
        csv += std::to_string(i + 1) + "," + shortest_text(q.overdamped ? 0.0 : q.damped_frequency) + "," +
               field(q.frequency, !q.overdamped) + "," + field(q.damping_ratio, !q.overdamped) + "," +
               shortest_text(q.decay_rate) + "\n";
    }
    text += "\nNatural frequencies of the frame without dampers\n mode  frequency [rad/s]\n";
    for (int32_t i = 0; i < m.LK; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%5d  %17.6g\n", i + 1, s.OMEGA[static_cast<std::size_t>(i)]);
        text += line;
    }
    if (!csv_to_standard_output(a)) std::cout << text;
    if (a.values.count("--csv")) write_output(a.values.at("--csv"), csv);
    return 0;
}

int peaks(const Args& a) {
    if (a.values.count("--csv")) refuse_clashes({{"the description", a.model, false}, {"--csv", a.values.at("--csv")}});
    const Description d = read_warned(a.model);
    require_table(d, "sweep");
    require_table(d, "load");
    const Model m = build_model(d);
    const std::vector<double> grid = sweep_lambdas(m.LAMMIN, m.LAMMAX, m.DLAM);
    const PeakSearch p = search_peaks(m, grid, d.path, true);
    stop_if_interrupted();
    for (const CurvePeak& q : p.peaks)
        refuse_overflow(q.value, d.path, "the peak of " + q.curve, "at LAMBDA=" + shortest_text(q.lambda));
    if (a.values.count("--csv")) write_output(a.values.at("--csv"), peaks_csv(p));
    std::ostringstream report;
    report << "Local maxima of every curve over " << shortest_text(grid.front()) << " to "
              << shortest_text(grid.back()) << " rad/s (* the curve's largest)\n";
    for (const CurvePeak& q : p.peaks) {
        char line[128];
        std::snprintf(line, sizeof line, "  %-18s LAMBDA=%-14.9g %14.6g", q.curve.c_str(), q.lambda, q.value);
        report << line << in_brackets(m.units, dimension_of(q.curve)) << (q.largest ? " *" : "") << "\n";
    }
    if (!csv_to_standard_output(a)) std::cout << report.str();
    std::cerr << outside_warnings(p.outside, grid.front(), grid.back());
    return 0;
}

int random(const Args& a) {
    if (a.values.count("--csv")) refuse_clashes({{"the description", a.model, false}, {"--csv", a.values.at("--csv")}});
    const Description d = read_warned(a.model);
    require_table(d, "random");
    const Model m = build_model(d);
    const RandomResponse r = random_response(m, d.path);
    for (const RandomRow& row : r.rows) refuse_overflow(row.rms, d.path, "the standard deviation of", row.quantity);
    if (a.values.count("--csv")) write_output(a.values.at("--csv"), random_csv(r));
    std::ostringstream report;
    const std::string system = system_name(m.units);
    report << "Standard deviations under white noise of the "
              << (m.random_ground ? "ground's acceleration (relative displacements)" : "storey forces")
              << "\n(two-sided spectral density per rad/s" << (system.empty() ? "" : "; units " + system) << ")\n";
    for (const RandomRow& row : r.rows) {
        char line[96];
        std::snprintf(line, sizeof line, "  %-18s %14.6g", row.quantity.c_str(), row.rms);
        report << line << in_brackets(m.units, dimension_of(row.quantity)) << "\n";
    }
    for (const std::string& name : r.left_out)
        report << "  " << name << ": left out, the storey's force noise reaches its acceleration directly "
                  << "(white, of infinite variance)\n";
    if (!csv_to_standard_output(a)) std::cout << report.str();
    return 0;
}

// "3" or "1,2,3": positive integers; what else is refused with `refusal`.
std::vector<int32_t> integer_list(const std::string& s, const std::string& refusal) {
    std::vector<int32_t> out;
    std::size_t from = 0;
    while (true) {
        const std::size_t comma = s.find(',', from);
        const std::string one = s.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        if (one.empty() || one.size() > 6 || one.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(one) < 1)
            throw Usage{refusal + ", not \"" + s + "\""};
        out.push_back(static_cast<int32_t>(std::stoi(one)));
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    return out;
}

// "3" or "1,2,3": storeys.
std::vector<int32_t> target_list(const Args& a) {
    auto it = a.values.find("--target");
    if (it == a.values.end()) return {};
    return integer_list(it->second, "--target needs a storey or a list of storeys (3 or 1,2,3)");
}

// A positive number (a length, a fraction), read whole.
double positive_number(const Args& a, const std::string& key, double fallback) {
    auto it = a.values.find(key);
    if (it == a.values.end()) return fallback;
    const std::string& s = it->second;
    char* end = nullptr;
    const double v = s.empty() || s.size() > 40 ? 0.0 : std::strtod(s.c_str(), &end);
    if (s.empty() || s.size() > 40 || end != s.c_str() + s.size() || !(v > 0) || !std::isfinite(v))
        throw Usage{key + " needs a positive number, not \"" + s + "\""};
    return v;
}

// The objective, quantity and targets a command is asked for.
TuneRequest objective_request(const Args& a) {
    TuneRequest q;
    const std::string objective = a.values.count("--objective") ? a.values.at("--objective") : "peak";
    if (objective == "peak")
        q.objective = Objective::peak;
    else if (objective == "rms")
        q.objective = Objective::rms;
    else
        throw Usage{"--objective takes peak or rms"};
    const std::string quantity = a.values.count("--quantity") ? a.values.at("--quantity") : "displacement";
    const std::map<std::string, Quantity> quantities = {{"displacement", Quantity::displacement},
                                                        {"acceleration", Quantity::acceleration},
                                                        {"drift", Quantity::drift},
                                                        {"base-shear", Quantity::base_shear}};
    if (!quantities.count(quantity)) throw Usage{"--quantity takes displacement, acceleration, drift or base-shear"};
    q.quantity = quantities.at(quantity);
    q.targets = target_list(a);
    return q;
}

// "2", "1,2" or "all": tuned masses, each a positive integer; all of them
// is told by an empty list here and filled in from the description.
std::vector<int32_t> damper_list(const Args& a, bool& all) {
    all = false;
    auto it = a.values.find("--damper");
    if (it == a.values.end()) return {1};
    const std::string& s = it->second;
    if (s == "all") {
        all = true;
        return {};
    }
    return integer_list(s, "--damper needs a positive integer, a list of them (1,2) or all");
}

int tune(const Args& a) {
    if (a.values.count("-o") && a.values.at("-o") == "-")
        throw Usage{"tune -o - would mix the tuned description with the table on standard output: give a file"};
    if (a.values.count("-o")) refuse_clashes({{"the description", a.model, false}, {"-o", a.values.at("-o")}});
    TuneRequest q = objective_request(a);
    bool all = false;
    q.dampers = damper_list(a, all);
    q.stroke_limit = positive_number(a, "--stroke-limit", 0.0);
    q.robust = positive_number(a, "--robust", 0.0);
    if (!(q.robust < 1)) throw Usage{"--robust needs a fraction below 1 (0.1 is 10 %)"};
    const Description d = read_warned(a.model);
    if (all)
        for (std::size_t t = 0; t < d.tmds.size(); ++t) q.dampers.push_back(static_cast<int32_t>(t) + 1);
    const TuneResult r = design::tune(d, q);
    const std::vector<int32_t>& dampers = r.request.dampers;
    const bool several = dampers.size() > 1;
    const bool peak = q.objective == Objective::peak;
    const Dimension dim = unit_of_quantity(q.quantity);
    for (int32_t damper : dampers) {
        const TunedMass& t = d.tmds[static_cast<std::size_t>(damper - 1)];
        std::printf("tuned mass %d on storey %d, mass %s%s\n", damper, t.storey, shortest_text(t.mass).c_str(),
                    in_brackets(d.units, Dimension::mass).c_str());
    }
    std::printf("objective: %s%s\n", objective_text(r.request).c_str(),
                peak ? ", over every frequency (H-infinity)" : " (H2)");
    std::printf("load: %s\n", peak ? (r.ground ? "the ground's harmonic acceleration [ground]"
                                               : "harmonic storey forces [force]")
                                   : (r.ground ? "white noise of the ground's acceleration [random]"
                                               : "white noise of the storey forces [random]"));
    if (d.units != Units::none)
        std::printf("values%s, strokes%s, lambda in rad/s\n", in_brackets(d.units, dim).c_str(),
                    in_brackets(d.units, Dimension::length).c_str());
    for (std::size_t i = 0; i < dampers.size(); ++i)
        if (r.mass_ratios[i] > 0)
            std::printf("%snearest mode %d: mass ratio %.6g to its modal mass at storey %d\n",
                        several ? ("tuned mass " + std::to_string(dampers[i]) + ": ").c_str() : "",
                        r.nearest_modes[i], r.mass_ratios[i],
                        d.tmds[static_cast<std::size_t>(dampers[i] - 1)].storey);
    // With several dampers each design takes a row per damper, its values
    // on the first.
    const char* tmd_head = several ? " tmd" : "";
    if (peak)
        std::printf("%-12s%s %16s %14s %14s %12s %14s %12s\n", "", tmd_head, "frequency_ratio", "damping_ratio", "peak",
                    "at lambda", "largest stroke", "at lambda");
    else
        std::printf("%-12s%s %16s %14s %14s %14s\n", "", tmd_head, "frequency_ratio", "damping_ratio", "rms",
                    "stroke rms");
    auto row = [&](const std::string& name, const Tuning& x) {
        for (std::size_t i = 0; i < dampers.size(); ++i) {
            const std::string tmd = several ? " " + std::string(3 - std::min<std::size_t>(
                                                                        3, std::to_string(dampers[i]).size()),
                                                                    ' ') +
                                                  std::to_string(dampers[i])
                                            : "";
            std::printf("%-12s%s %16.6g %14.6g", i == 0 ? name.c_str() : "", tmd.c_str(), x.frequency_ratios[i],
                        x.damping_ratios[i]);
            if (i > 0)
                std::printf("\n");
            else if (peak)
                std::printf(" %14.6g %12.6g %14.6g %12.6g\n", x.extremes.amplitude.value, x.extremes.amplitude.lambda,
                            x.extremes.stroke.value, x.extremes.stroke.lambda);
            else
                std::printf(" %14.6g %14.6g\n", x.extremes.amplitude.value, x.extremes.stroke.value);
        }
    };
    row("given", r.given);
    row(r.start_name, r.start);
    row("optimum", r.tuned);
    const TunedMass& first = d.tmds[static_cast<std::size_t>(dampers.front() - 1)];
    std::printf("frequency ratio%s to mode %d of the frame, damping ratio to the damper's own frequency; the search "
                "started from %s's tuning: %s after %d evaluations\n",
                several ? "s" : "", first.mode, r.start_name.c_str(), status_text(r.status).c_str(), r.evaluations);
    if (several)
        std::printf("(each damper's frequency ratio to the mode its `mode` names; the stroke is the largest of the "
                    "tuned masses')\n");
    if (q.robust > 0) {
        std::printf("the frame's stiffness scaled (damping ratios kept, the dampers' springs and dashpots kept):\n");
        std::printf("%-12s", "");
        for (double s : r.scales) std::printf(" %14s", ("x " + shortest_text(s)).c_str());
        std::printf(" %14s\n", "worst");
        for (const auto& [name, x] : {std::pair<std::string, const Tuning*>{"given", &r.given},
                                      {r.start_name, &r.start},
                                      {"optimum", &r.tuned}}) {
            std::printf("%-12s", name.c_str());
            for (double v : x->at_scales) std::printf(" %14.6g", v);
            std::printf(" %14.6g\n", x->worst);
        }
    }
    if (q.stroke_limit > 0) {
        const std::string what = peak ? "largest stroke" : "stroke standard deviation";
        if (r.limit_binds)
            std::printf("stroke limit %s: binds (the optimum without it reaches %.6g); the %s of every tuned mass "
                        "reached is %.6g\n",
                        shortest_text(q.stroke_limit).c_str(), r.unlimited_stroke, what.c_str(), r.tuned.worst_stroke);
        else
            std::printf("stroke limit %s: does not bind; the %s of every tuned mass reached is %.6g\n",
                        shortest_text(q.stroke_limit).c_str(), what.c_str(), r.tuned.worst_stroke);
    }
    if (r.status != Minimum::Status::converged)
        std::fprintf(stderr, "varnostik-design: warning: the search %s (frequency ratio %g to %g, damping ratio %g "
                             "to %g)\n",
                     status_text(r.status).c_str(), tuning_bounds()[0].lower, tuning_bounds()[0].upper,
                     tuning_bounds()[1].lower, tuning_bounds()[1].upper);
    if (a.values.count("-o")) {
        std::string text;
        for (std::size_t i = 0; i < dampers.size(); ++i) {
            const TunedMass& t = d.tmds[static_cast<std::size_t>(dampers[i] - 1)];
            text = i == 0 ? tuned_text(d.path, dampers[i], t.mode, r.tuned.frequency_ratios[i],
                                       r.tuned.damping_ratios[i])
                          : tuned_text_of(text, d.path, dampers[i], t.mode, r.tuned.frequency_ratios[i],
                                          r.tuned.damping_ratios[i]);
        }
        write_output(a.values.at("-o"), text);
    }
    return 0;
}

// The scales of the frame's stiffness from 1 - D to 1 + D in points steps,
// 1 itself exactly at the middle of an odd count.
std::vector<double> detune_scales(double D, int32_t points) {
    std::vector<double> out;
    if (points == 1) return {1.0};
    for (int32_t i = 0; i < points; ++i)
        out.push_back(1.0 + D * (2.0 * i - (points - 1)) / (points - 1));
    return out;
}

int detune(const Args& a) {
    if (csv_to_standard_output(a) && a.values.count("-o") && a.values.at("-o") == "-")
        throw Usage{"--csv - and -o - would both write to standard output: give one of them a file"};
    TuneRequest q = objective_request(a);
    const double D = positive_number(a, "--range", 0.15);
    if (!(D < 1)) throw Usage{"--range needs a fraction below 1 (0.15 is 15 %)"};
    const int32_t points = positive_integer(a, "--points", 31);
    if (points > 10001) throw Usage{"--points takes at most 10001"};
    std::vector<FileRole> files = {{"the description", a.model, false}};
    if (a.values.count("--csv")) files.push_back({"--csv", a.values.at("--csv")});
    if (a.values.count("-o")) files.push_back({"-o", a.values.at("-o")});
    refuse_clashes(files);
    const Description d = read_warned(a.model);
    const std::vector<double> scales = detune_scales(D, points);
    const std::vector<double> values = design::detune(d, q, scales);
    stop_if_interrupted();
    for (std::size_t i = 0; i < scales.size(); ++i)
        refuse_overflow(values[i], d.path, "the objective", "at stiffness scale " + shortest_text(scales[i]));
    std::string csv = "scale,objective\n";
    for (std::size_t i = 0; i < scales.size(); ++i)
        csv += shortest_text(scales[i]) + "," + shortest_text(values[i]) + "\n";
    OutputSet out;
    if (a.values.count("--csv")) out.prepare(a.values.at("--csv"), csv);
    const std::size_t middle = std::find(scales.begin(), scales.end(), 1.0) - scales.begin();
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    std::ostringstream report;
    report << "objective: " << objective_text(q)
           << (q.objective == Objective::peak ? ", over every frequency (H-infinity)" : " (H2)") << "\n"
           << "the frame's stiffness scaled from " << shortest_text(scales.front()) << " to "
           << shortest_text(scales.back()) << " (damping ratios kept, the dampers' springs and dashpots kept)\n";
    char line[160];
    if (middle < scales.size()) {
        std::snprintf(line, sizeof line, "  as described (x 1): %.6g\n", values[middle]);
        report << line;
    }
    std::snprintf(line, sizeof line, "  smallest %.6g at x %.6g, largest %.6g at x %.6g\n", *low,
                  scales[static_cast<std::size_t>(low - values.begin())], *high,
                  scales[static_cast<std::size_t>(high - values.begin())]);
    report << line;
    int status = 0;
    if (a.values.count("-o")) {
        std::string picture;
        const std::string error = draw_detune(scales, values, a.values.at("-o"), picture_title(d),
                                              objective_text(q) + in_brackets(d.units, unit_of_quantity(q.quantity)),
                                              picture);
        status = put_with_picture(out, a.values.at("-o"), error, picture);
    } else {
        out.commit();
    }
    if (!csv_to_standard_output(a)) std::cout << report.str();
    return status;
}

}  // namespace

namespace {

int run_command(int argc, char** argv) {
    try {
        const std::string command = argc > 1 ? argv[1] : "";
        if (command == "-h" || command == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (command == "--version") {
            std::cout << "varnostik-design 1.0\n";
            return 0;
        }
        if (command == "build") return build(parse(argc, argv, {"--dir"}, {}));
        if (command == "response")
            return response(parse(argc, argv, {"--csv", "-o", "--lang", "--quantity"}, {"--hz"}));
        if (command == "modes") return modes(parse(argc, argv, {"--csv"}, {}));
        if (command == "peaks") return peaks(parse(argc, argv, {"--csv"}, {}));
        if (command == "random") return random(parse(argc, argv, {"--csv"}, {}));
        if (command == "tune")
            return tune(parse(argc, argv,
                              {"--damper", "--target", "--objective", "--quantity", "--stroke-limit", "--robust", "-o"},
                              {}));
        if (command == "detune")
            return detune(parse(argc, argv, {"--range", "--points", "--target", "--objective", "--quantity", "--csv", "-o"},
                                {}));
        throw Usage{command.empty() ? "no command given" : "unknown command " + command};
    } catch (const Usage& u) {
        std::cerr << "varnostik-design: " << u.what << "\n" << kUsage;
        return 2;
    } catch (const Interrupted& i) {
        std::cerr << "varnostik-design: interrupted by " << interrupt_name(i.signal) << "\n";
        return 128 + i.signal;
    } catch (const Refused& r) {
        std::cerr << "varnostik-design: " << r.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "varnostik-design: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace

int run_design(int argc, char** argv) {
    // A reader of a FIFO or a pipe that goes away is a failure to write,
    // reported, not an end without a word.
    std::signal(SIGPIPE, SIG_IGN);
    const InterruptScope interrupts;
    const int status = run_command(argc, argv);
    // The tables printed are a command's answer too: standard output that
    // could not take them is a failure, never a silent success.
    std::cout.flush();
    if (std::fflush(stdout) != 0 || std::ferror(stdout) || !std::cout) {
        std::cerr << "varnostik-design: cannot write standard output: " << std::strerror(errno) << "\n";
        return status == 0 ? 1 : status;
    }
    return status;
}

}  // namespace design
