#include "design/description.h"

#include <toml++/toml.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>

#include "input/limits.h"

namespace design {

namespace {

// The program's limits on its sizes: a tuned mass is one internal
// parameter, every damper counts towards LT.
constexpr int32_t kMaxStoreys = kMaxLK;
constexpr int32_t kMaxTunedMasses = kMaxLPT;
constexpr int32_t kMaxDampers = kMaxLT;
// The program reads a file name with (A8).
constexpr std::size_t kMaxName = 8;

int line_of(const toml::node& n) { return static_cast<int>(n.source().begin.line); }

// A digit, a comma and a digit in a line's text ("20,5"): where a decimal
// comma was most likely typed for a point; npos when there is none.
std::size_t decimal_comma(const std::string& text) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    for (std::size_t i = 1; i + 1 < text.size(); ++i)
        if (text[i] == ',' && digit(text[i - 1]) && digit(text[i + 1])) return i;
    return std::string::npos;
}

class Reader {
public:
    explicit Reader(std::string path) : path_(std::move(path)) {}

    // The description's text, its lines kept for the hints of refusals.
    void set_text(const std::string& text) {
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            lines_.push_back(text.substr(start, end - start));
            start = end + 1;
        }
    }

    // The refusal of key on line; a number written with a decimal comma on
    // that line is named, as the likely cause.
    [[noreturn]] void refuse(int line, const std::string& key, const std::string& what) const {
        throw Refused(where(path_, line, key, what + comma_hint(line)));
    }

    bool has_decimal_comma(int line) const { return !comma_hint(line).empty(); }

    // The key that fixes the number of storeys, and its line: a count that
    // disagrees with it is blamed on it when its own line holds a decimal
    // comma and the disagreeing line does not.
    void set_count(int line, std::string key) {
        count_line_ = line;
        count_key_ = std::move(key);
    }

    void warn(int line, const std::string& key, const std::string& what) {
        warnings_.push_back(where(path_, line, key, what));
    }
    const std::vector<std::string>& warnings() const { return warnings_; }

    // Every key of t must be one of allowed.
    void only_keys(const toml::table& t, const std::string& prefix, std::initializer_list<std::string_view> allowed) {
        for (auto&& [k, v] : t) {
            bool known = false;
            for (std::string_view a : allowed) known = known || k.str() == a;
            if (!known) refuse(line_of(v), prefix + std::string(k.str()), "unknown key");
        }
    }

    const toml::table* table(const toml::table& t, const std::string& key, bool required, int parent_line) {
        const toml::node* n = t.get(key);
        if (n == nullptr) {
            if (required) refuse(parent_line, key, "missing table");
            return nullptr;
        }
        if (!n->is_table()) refuse(line_of(*n), key, "must be a table");
        return n->as_table();
    }

    double number(const toml::node& n, const std::string& key) const {
        double v = 0.0;
        if (auto i = n.as_integer())
            v = static_cast<double>(i->get());
        else if (auto f = n.as_floating_point())
            v = f->get();
        else
            refuse(line_of(n), key, "must be a number");
        if (!std::isfinite(v)) refuse(line_of(n), key, "must be a finite number");
        return v;
    }

    std::optional<double> number(const toml::table& t, const std::string& prefix, const std::string& key) {
        const toml::node* n = t.get(key);
        if (n == nullptr) return std::nullopt;
        return number(*n, prefix + key);
    }

    double required_number(const toml::table& t, const std::string& prefix, const std::string& key) {
        auto v = number(t, prefix, key);
        if (!v) refuse(line_of(t), prefix + key, "missing");
        return *v;
    }

    std::optional<int64_t> integer(const toml::table& t, const std::string& prefix, const std::string& key) {
        const toml::node* n = t.get(key);
        if (n == nullptr) return std::nullopt;
        auto i = n->as_integer();
        if (i == nullptr) refuse(line_of(*n), prefix + key, "must be an integer");
        return i->get();
    }

    std::vector<double> numbers(const toml::node& n, const std::string& key) const {
        auto a = n.as_array();
        if (a == nullptr) refuse(line_of(n), key, "must be a list of numbers");
        std::vector<double> v;
        for (std::size_t i = 0; i < a->size(); ++i) v.push_back(number(*a->get(i), key));
        return v;
    }

    std::optional<std::vector<double>> numbers(const toml::table& t, const std::string& prefix,
                                               const std::string& key) {
        const toml::node* n = t.get(key);
        if (n == nullptr) return std::nullopt;
        return numbers(*n, prefix + key);
    }

    void length(const toml::table& t, const std::string& prefix, const std::string& key, const std::vector<double>& v,
                std::size_t n) {
        if (v.size() == n) return;
        const int line = line_of(*t.get(key));
        if (!has_decimal_comma(line) && count_line_ > 0 && has_decimal_comma(count_line_))
            refuse(count_line_, count_key_,
                   std::to_string(n) + " storeys, while " + prefix + key + " holds " + std::to_string(v.size()) +
                       " values");
        refuse(line, prefix + key, "must hold " + std::to_string(n) + " values, holds " + std::to_string(v.size()));
    }

    // A square matrix of at most kMaxStoreys rows, column-major.
    std::vector<double> matrix(const toml::table& t, const std::string& key, int32_t& order) {
        const toml::node* n = t.get(key);
        const std::string name = "frame." + key;
        auto rows = n->as_array();
        if (rows == nullptr || rows->empty()) refuse(line_of(*n), name, "must be a list of rows");
        const std::size_t N = rows->size();
        if (N > static_cast<std::size_t>(kMaxStoreys))
            refuse(line_of(*n), name, "more than " + std::to_string(kMaxStoreys) + " rows");
        std::vector<double> m(N * N);
        for (std::size_t i = 0; i < N; ++i) {
            std::vector<double> row = numbers(*rows->get(i), name);
            if (row.size() != N)
                refuse(line_of(*rows->get(i)), name,
                       "not square: row " + std::to_string(i + 1) + " holds " + std::to_string(row.size()) +
                           " values, the matrix " + std::to_string(N) + " rows");
            for (std::size_t j = 0; j < N; ++j) m[j * N + i] = row[j];
        }
        for (std::size_t i = 0; i < N; ++i)
            for (std::size_t j = 0; j < i; ++j)
                if (m[j * N + i] != m[i * N + j])
                    refuse(line_of(*n), name,
                           "not symmetric: (" + std::to_string(i + 1) + "," + std::to_string(j + 1) +
                               ") differs from (" + std::to_string(j + 1) + "," + std::to_string(i + 1) + ")");
        order = static_cast<int32_t>(N);
        return m;
    }

    std::string name(const toml::table& t, const std::string& key, const std::string& fallback) {
        const toml::node* n = t.get(key);
        std::string v = fallback;
        int line = line_of(t);
        if (n != nullptr) {
            auto s = n->as_string();
            if (s == nullptr) refuse(line_of(*n), "files." + key, "must be a string");
            v = s->get();
            line = line_of(*n);
        }
        check_name(v, line, "files." + key);
        return v;
    }

    void check_name(const std::string& v, int line, const std::string& key) const {
        if (v.empty()) refuse(line, key, "empty file name");
        if (v.size() > kMaxName)
            refuse(line, key, "file name \"" + v + "\" longer than " + std::to_string(kMaxName) + " characters");
        for (char c : v)
            if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '\\' || static_cast<unsigned char>(c) >= 127)
                refuse(line, key, "file name \"" + v + "\" holds a blank, a slash or a character beyond ASCII");
        if (names_device(v)) refuse(line, key, "file name \"" + v + "\" names a device");
    }

    const std::string& path() const { return path_; }

private:
    std::string comma_hint(int line) const {
        if (line < 1 || static_cast<std::size_t>(line) > lines_.size()) return "";
        const std::string& text = lines_[static_cast<std::size_t>(line - 1)];
        const std::size_t comma = decimal_comma(text);
        if (comma == std::string::npos) return "";
        std::size_t from = comma, to = comma + 1;
        while (from > 0 && text[from - 1] >= '0' && text[from - 1] <= '9') --from;
        while (to < text.size() && text[to] >= '0' && text[to] <= '9') ++to;
        std::string meant = text.substr(from, to - from);
        meant[comma - from] = '.';
        return "; decimals take a point: " + meant + ", not " + text.substr(from, to - from);
    }

    std::string path_;
    std::vector<std::string> lines_;
    int count_line_ = 0;
    std::string count_key_;
    std::vector<std::string> warnings_;
};

// A value of a description as its writer would read it back: the
// shortest text of the same double.
std::string number_text(double v) {
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

// A damping ratio this large is almost always a percentage typed as a
// whole number: the fraction meant is named, and the command goes on.
std::string percentage_warning(double v) {
    return number_text(v) + " is " + number_text(v * 100) + " % of critical damping; if " + number_text(v) +
           " % was meant, write " + number_text(v / 100);
}

int32_t storey(Reader& r, const toml::table& t, const std::string& prefix, int32_t LK) {
    auto s = r.integer(t, prefix, "storey");
    if (!s) r.refuse(line_of(t), prefix + "storey", "missing");
    if (*s < 1 || *s > LK)
        r.refuse(line_of(*t.get("storey")), prefix + "storey",
                 std::to_string(*s) + " outside 1 to " + std::to_string(LK));
    return static_cast<int32_t>(*s);
}

void read_frame(Reader& r, const toml::table& f, Description& d) {
    r.only_keys(f, "frame.",
                {"masses", "stiffnesses", "mass_matrix", "stiffness_matrix", "damping_ratios", "influence", "heights"});
    d.frame_line = line_of(f);
    const bool shear = f.contains("masses") || f.contains("stiffnesses");
    const bool matrices = f.contains("mass_matrix") || f.contains("stiffness_matrix");
    if (shear && matrices)
        r.refuse(d.frame_line, "frame", "give masses and stiffnesses, or mass_matrix and stiffness_matrix, not both");
    if (shear) {
        for (const char* key : {"masses", "stiffnesses"})
            if (!f.contains(key)) r.refuse(d.frame_line, std::string("frame.") + key, "missing");
        d.masses = *r.numbers(f, "frame.", "masses");
        d.stiffnesses = *r.numbers(f, "frame.", "stiffnesses");
        const int line = line_of(*f.get("masses"));
        r.set_count(line, "frame.masses");
        if (d.masses.empty()) r.refuse(line, "frame.masses", "no storey");
        if (d.masses.size() > static_cast<std::size_t>(kMaxStoreys))
            r.refuse(line, "frame.masses", "more than " + std::to_string(kMaxStoreys) + " storeys");
        d.LK = static_cast<int32_t>(d.masses.size());
        r.length(f, "frame.", "stiffnesses", d.stiffnesses, d.masses.size());
        for (double m : d.masses)
            if (!(m > 0)) r.refuse(line, "frame.masses", "a mass must be positive");
        for (double k : d.stiffnesses)
            if (!(k > 0)) r.refuse(line_of(*f.get("stiffnesses")), "frame.stiffnesses", "a stiffness must be positive");
        const std::size_t n = d.masses.size();
        d.MR.assign(n * n, 0.0);
        d.KR.assign(n * n, 0.0);
        for (std::size_t i = 0; i < n; ++i) {
            d.MR[i * n + i] = d.masses[i];
            const double above = i + 1 < n ? d.stiffnesses[i + 1] : 0.0;
            d.KR[i * n + i] = d.stiffnesses[i] + above;
            if (i + 1 < n) {
                d.KR[(i + 1) * n + i] = -d.stiffnesses[i + 1];
                d.KR[i * n + i + 1] = -d.stiffnesses[i + 1];
            }
        }
        d.shear_frame = true;
    } else if (matrices) {
        for (const char* key : {"mass_matrix", "stiffness_matrix"})
            if (!f.contains(key)) r.refuse(d.frame_line, std::string("frame.") + key, "missing");
        int32_t nk = 0;
        d.MR = r.matrix(f, "mass_matrix", d.LK);
        r.set_count(line_of(*f.get("mass_matrix")), "frame.mass_matrix");
        d.KR = r.matrix(f, "stiffness_matrix", nk);
        if (nk != d.LK)
            r.refuse(line_of(*f.get("stiffness_matrix")), "frame.stiffness_matrix",
                     "order " + std::to_string(nk) + ", the mass matrix's " + std::to_string(d.LK));
    } else {
        r.refuse(d.frame_line, "frame", "give masses and stiffnesses, or mass_matrix and stiffness_matrix");
    }
    for (const char* key : {"masses", "stiffnesses", "mass_matrix", "stiffness_matrix", "damping_ratios"})
        if (const toml::node* n = f.get(key)) d.key_lines[std::string("frame.") + key] = line_of(*n);
    auto g = r.numbers(f, "frame.", "damping_ratios");
    if (!g) r.refuse(d.frame_line, "frame.damping_ratios", "missing");
    r.length(f, "frame.", "damping_ratios", *g, 2);
    const int ratios_line = line_of(*f.get("damping_ratios"));
    for (double v : *g)
        if (v < 0) r.refuse(ratios_line, "frame.damping_ratios", "a ratio must not be negative");
    d.GAMMA1 = (*g)[0];
    d.GAMMA2 = (*g)[1];
    // One storey has one mode: its damping is the first ratio, and a
    // second that differs would be silently lost.
    if (d.LK == 1 && d.GAMMA2 != d.GAMMA1)
        r.refuse(ratios_line, "frame.damping_ratios",
                 "a frame of one storey has one mode, damped by the first ratio: give the second equal to it (" +
                     number_text(d.GAMMA1) + ")");
    for (double v : *g)
        if (v >= 1) r.warn(ratios_line, "frame.damping_ratios", percentage_warning(v));
    const std::size_t n = static_cast<std::size_t>(d.LK);
    if (auto r_ = r.numbers(f, "frame.", "influence")) {
        if (d.shear_frame)
            r.refuse(line_of(*f.get("influence")), "frame.influence",
                     "a shear frame moves with the ground on every storey: its influence is 1, not given");
        r.length(f, "frame.", "influence", *r_, n);
        d.influence = *r_;
    } else if (d.shear_frame) {
        d.influence.assign(n, 1.0);
    }
    if (auto h = r.numbers(f, "frame.", "heights")) {
        const int line = line_of(*f.get("heights"));
        if (!d.shear_frame)
            r.refuse(line, "frame.heights", "storey heights belong to a shear frame (masses and stiffnesses)");
        r.length(f, "frame.", "heights", *h, n);
        for (double v : *h)
            if (!(v > 0)) r.refuse(line, "frame.heights", "a height must be positive");
        d.heights = *h;
    }
}

void read_tmd(Reader& r, const toml::table& t, const std::string& prefix, Description& d) {
    r.only_keys(t, prefix,
                {"storey", "mass", "frequency_ratio", "frequency", "stiffness", "mode", "damping_ratio", "damping"});
    TunedMass m;
    m.line = line_of(t);
    m.storey = storey(r, t, prefix, d.LK);
    m.mass = r.required_number(t, prefix, "mass");
    if (!(m.mass > 0)) r.refuse(line_of(*t.get("mass")), prefix + "mass", "must be positive");
    int tunings = 0;
    for (auto [key, kind] :
         {std::pair{"frequency_ratio", TunedMass::Tuning::frequency_ratio},
          std::pair{"frequency", TunedMass::Tuning::frequency}, std::pair{"stiffness", TunedMass::Tuning::stiffness}}) {
        if (auto v = r.number(t, prefix, key)) {
            if (++tunings > 1)
                r.refuse(line_of(*t.get(key)), prefix + key,
                         "give exactly one of frequency_ratio, frequency, stiffness: another is given too");
            if (!(*v > 0)) r.refuse(line_of(*t.get(key)), prefix + key, "must be positive");
            m.tuning = kind;
            m.tuning_value = *v;
        }
    }
    if (tunings == 0)
        r.refuse(m.line, prefix + "frequency_ratio", "give exactly one of frequency_ratio, frequency, stiffness");
    if (auto mode = r.integer(t, prefix, "mode")) {
        if (*mode < 1 || *mode > d.LK)
            r.refuse(line_of(*t.get("mode")), prefix + "mode",
                     std::to_string(*mode) + " outside 1 to " + std::to_string(d.LK));
        if (m.tuning != TunedMass::Tuning::frequency_ratio)
            r.refuse(line_of(*t.get("mode")), prefix + "mode", "only a frequency_ratio refers to a mode");
        m.mode = static_cast<int32_t>(*mode);
    }
    int dampings = 0;
    for (auto [key, kind] : {std::pair{"damping_ratio", TunedMass::Damping::damping_ratio},
                             std::pair{"damping", TunedMass::Damping::damping}}) {
        if (auto v = r.number(t, prefix, key)) {
            if (++dampings > 1)
                r.refuse(line_of(*t.get(key)), prefix + key,
                         "give exactly one of damping_ratio, damping: the other is given too");
            if (*v < 0) r.refuse(line_of(*t.get(key)), prefix + key, "must not be negative");
            if (kind == TunedMass::Damping::damping_ratio && *v >= 0.5)
                r.warn(line_of(*t.get(key)), prefix + key, percentage_warning(*v));
            m.damping = kind;
            m.damping_value = *v;
        }
    }
    if (dampings == 0) r.refuse(m.line, prefix + "damping_ratio", "give exactly one of damping_ratio, damping");
    d.tmds.push_back(m);
}

void read_dashpot(Reader& r, const toml::table& t, const std::string& prefix, Description& d) {
    r.only_keys(t, prefix, {"storey", "damping"});
    Dashpot p;
    p.storey = storey(r, t, prefix, d.LK);
    p.damping = r.required_number(t, prefix, "damping");
    if (p.damping < 0) r.refuse(line_of(*t.get("damping")), prefix + "damping", "must not be negative");
    d.dashpots.push_back(p);
}

// The [[name]] tables, each read by one.
template <class F>
void read_list(Reader& r, const toml::table& root, const char* name, F one) {
    const toml::node* n = root.get(name);
    if (n == nullptr) return;
    auto a = n->as_array();
    if (a == nullptr || !a->is_array_of_tables())
        r.refuse(line_of(*n), name, "must be a list of tables [[" + std::string(name) + "]]");
    for (std::size_t i = 0; i < a->size(); ++i)
        one(*a->get(i)->as_table(), std::string(name) + "[" + std::to_string(i + 1) + "].");
}

void read_force(Reader& r, const toml::table& f, Description& d) {
    r.only_keys(f, "force.", {"cos", "sin"});
    d.has_force = true;
    d.load_line = line_of(f);
    auto pc = r.numbers(f, "force.", "cos");
    if (!pc) r.refuse(line_of(f), "force.cos", "missing");
    r.length(f, "force.", "cos", *pc, static_cast<std::size_t>(d.LK));
    d.PC = *pc;
    d.PS.assign(static_cast<std::size_t>(d.LK), 0.0);
    if (auto ps = r.numbers(f, "force.", "sin")) {
        r.length(f, "force.", "sin", *ps, static_cast<std::size_t>(d.LK));
        d.PS = *ps;
    }
}

// The ground's acceleration A cos + B sin: the storeys' loads are -M r a_g.
void read_ground(Reader& r, const toml::table& g, Description& d) {
    r.only_keys(g, "ground.", {"cos", "sin"});
    d.has_ground = true;
    d.load_line = line_of(g);
    if (d.influence.empty())
        r.refuse(d.load_line, "ground",
                 "a frame given by matrices needs frame.influence to be moved by the ground");
    d.ground_cos = r.required_number(g, "ground.", "cos");
    d.ground_sin = r.number(g, "ground.", "sin").value_or(0.0);
    d.PC.assign(static_cast<std::size_t>(d.LK), 0.0);
    d.PS.assign(static_cast<std::size_t>(d.LK), 0.0);
}

void read_random(Reader& r, const toml::table& t, Description& d) {
    r.only_keys(t, "random.", {"force_psd", "ground_psd"});
    d.has_random = true;
    d.random_line = line_of(t);
    const bool force = t.contains("force_psd"), ground = t.contains("ground_psd");
    if (force == ground) r.refuse(d.random_line, "random", "give force_psd or ground_psd, one of them");
    if (force) {
        d.force_psd = *r.numbers(t, "random.", "force_psd");
        r.length(t, "random.", "force_psd", d.force_psd, static_cast<std::size_t>(d.LK));
        for (double v : d.force_psd)
            if (v < 0) r.refuse(line_of(*t.get("force_psd")), "random.force_psd", "a density must not be negative");
    } else {
        const int line = line_of(*t.get("ground_psd"));
        if (d.influence.empty())
            r.refuse(line, "random.ground_psd",
                     "a frame given by matrices needs frame.influence to be moved by the ground");
        d.ground_psd = *r.number(t, "random.", "ground_psd");
        if (d.ground_psd < 0) r.refuse(line, "random.ground_psd", "a density must not be negative");
        d.random_ground = true;
    }
}

void read_sweep(Reader& r, const toml::table& s, Description& d) {
    r.only_keys(s, "sweep.", {"from", "to", "step", "plot"});
    d.has_sweep = true;
    d.range_line = line_of(s);
    d.from = r.required_number(s, "sweep.", "from");
    d.to = r.required_number(s, "sweep.", "to");
    d.step = r.required_number(s, "sweep.", "step");
    d.key_lines["sweep.step"] = line_of(*s.get("step"));
    if (!(d.step > 0)) r.refuse(line_of(*s.get("step")), "sweep.step", "must be positive");
    if (d.from > d.to)
        r.refuse(line_of(*s.get("to")), "sweep.to",
                 number_text(d.to) + " is below from (" + number_text(d.from) + "): the range must not be empty");
    d.plot = {d.LK};
    if (const toml::node* n = s.get("plot")) {
        auto a = n->as_array();
        if (a == nullptr) r.refuse(line_of(*n), "sweep.plot", "must be a list of unknowns");
        if (a->empty() || a->size() > static_cast<std::size_t>(kMaxPlotted))
            r.refuse(line_of(*n), "sweep.plot", "1 to " + std::to_string(kMaxPlotted) + " unknowns");
        d.plot.clear();
        for (std::size_t i = 0; i < a->size(); ++i) {
            auto v = a->get(i)->as_integer();
            if (v == nullptr) r.refuse(line_of(*n), "sweep.plot", "must be a list of integers");
            if (v->get() < 1 || v->get() > d.LK)
                r.refuse(line_of(*n), "sweep.plot",
                         "unknown " + std::to_string(v->get()) + " outside 1 to " + std::to_string(d.LK));
            d.plot.push_back(static_cast<int32_t>(v->get()));
        }
    }
}

void read_files(Reader& r, const toml::table& root, Description& d) {
    std::string stem = std::filesystem::path(d.path).stem().string();
    const toml::table empty;
    const toml::table* f = r.table(root, "files", false, 0);
    if (f != nullptr) r.only_keys(*f, "files.", {"data", "results", "plot"});
    const toml::table& files = f != nullptr ? *f : empty;
    // The defaults stand for names written in the description; a stem that
    // cannot be one is refused under the key that would have named it.
    d.data = r.name(files, "data", stem.substr(0, kMaxName));
    d.results = r.name(files, "results", stem.substr(0, kMaxName - 1) + "w");
    d.plot_file = r.name(files, "plot", stem.substr(0, kMaxName - 1) + "r");
    if (d.data == d.results || d.data == d.plot_file || d.results == d.plot_file)
        r.refuse(f != nullptr ? line_of(*f) : 0, "files",
                 "the data, results and plot files need three different names");
}

}  // namespace

std::string where(const std::string& file, int line, const std::string& key, const std::string& what) {
    std::string s = file + ":";
    if (line > 0) s += std::to_string(line) + ":";
    s += " " + key + ": " + what;
    return s;
}

void require_table(const Description& d, const std::string& table) {
    if (table == "sweep" && !d.has_sweep) throw Refused(where(d.path, 0, "sweep", "missing table"));
    if (table == "force" && !d.has_force) throw Refused(where(d.path, 0, "force", "missing table"));
    if (table == "load" && !d.has_force && !d.has_ground)
        throw Refused(where(d.path, 0, "force", "missing table ([force] or [ground])"));
    if (table == "random" && !d.has_random) throw Refused(where(d.path, 0, "random", "missing table"));
}

bool names_device(const std::string& name) {
    const std::size_t dot = name.find('.');
    const bool has_ext = dot != std::string::npos && dot + 1 < name.size();
    std::string base = name.substr(0, dot);
    for (char& c : base)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    for (std::string_view n :
         {"CON", "NUL", "PRN", "AUX", "COM1", "COM2", "COM3", "COM4", "LPT1", "LPT2", "LPT3", "LPT4"})
        if (base == n) return true;
    return !has_ext && (base == "USER" || base == "ERR" || base == "LINE");
}

Description read_description(const std::string& path) {
    Description d;
    d.path = path;
    Reader r(path);
    toml::table root;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) r.refuse(0, "(file)", "no such file, or not a file");
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) r.refuse(0, "(file)", "cannot be read");
    r.set_text(text);
    try {
        root = toml::parse(text, path);
    } catch (const toml::parse_error& e) {
        r.refuse(static_cast<int>(e.source().begin.line), "(syntax)", std::string(e.description()));
    }
    r.only_keys(root, "", {"title", "units", "frame", "tmd", "dashpot", "force", "ground", "random", "sweep", "files"});
    if (const toml::node* t = root.get("title")) {
        if (!t->is_string()) r.refuse(line_of(*t), "title", "must be a string");
        d.title = t->as_string()->get();
    }
    if (const toml::node* u = root.get("units")) {
        const std::string accepted = "accepted: \"kN-t-m-s\" or \"N-kg-m-s\"";
        if (!u->is_string()) r.refuse(line_of(*u), "units", "must be a string; " + accepted);
        const std::string v = u->as_string()->get();
        if (v == "kN-t-m-s")
            d.units = Units::kN_t_m_s;
        else if (v == "N-kg-m-s")
            d.units = Units::N_kg_m_s;
        else
            r.refuse(line_of(*u), "units", "\"" + v + "\" is not a unit system; " + accepted);
    }
    read_frame(r, *r.table(root, "frame", true, 0), d);
    read_list(r, root, "tmd", [&](const toml::table& t, const std::string& p) { read_tmd(r, t, p, d); });
    read_list(r, root, "dashpot", [&](const toml::table& t, const std::string& p) { read_dashpot(r, t, p, d); });
    if (d.tmds.size() > static_cast<std::size_t>(kMaxTunedMasses))
        r.refuse(d.tmds[kMaxTunedMasses].line, "tmd", "more than " + std::to_string(kMaxTunedMasses) + " tuned masses");
    if (d.tmds.size() + d.dashpots.size() > static_cast<std::size_t>(kMaxDampers))
        r.refuse(0, "dashpot", "more than " + std::to_string(kMaxDampers) + " dampers");
    const toml::table* force = r.table(root, "force", false, 0);
    const toml::table* ground = r.table(root, "ground", false, 0);
    if (force != nullptr && ground != nullptr) {
        const bool ground_second = line_of(*ground) > line_of(*force);
        r.refuse(line_of(ground_second ? *ground : *force), ground_second ? "ground" : "force",
                 "give [force] or [ground], not both");
    }
    if (force != nullptr) read_force(r, *force, d);
    if (ground != nullptr) read_ground(r, *ground, d);
    if (const toml::table* t = r.table(root, "random", false, 0)) read_random(r, *t, d);
    if (const toml::table* s = r.table(root, "sweep", false, 0)) read_sweep(r, *s, d);
    read_files(r, root, d);
    d.warnings = r.warnings();
    return d;
}

}  // namespace design
