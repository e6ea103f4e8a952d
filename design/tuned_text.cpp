#include "design/tuned_text.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

#include "design/description.h"

namespace design {

namespace {

// The byte offset of a parser's position (1-based line and column, the
// column counted in UTF-8 code points); npos when the text has no such
// place.
std::size_t offset_of(const std::string& text, const toml::source_position& p) {
    std::size_t at = 0;
    for (uint32_t line = 1; line < p.line; ++line) {
        at = text.find('\n', at);
        if (at == std::string::npos) return std::string::npos;
        ++at;
    }
    for (uint32_t column = 1; column < p.column; ++column) {
        if (at >= text.size() || text[at] == '\n') return std::string::npos;
        ++at;
        // The continuation bytes of a code point belong to its column.
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
    }
    return at;
}

struct Edit {
    std::size_t from, to;  // bytes replaced: [from, to)
    std::string with;
};

struct Span {
    std::size_t key_from = 0, value_from = 0, value_to = 0;
};

// Where key = value stands in text.
Span span_of(const std::string& text, const std::string& path, const toml::key& k, const toml::node& v) {
    Span s{offset_of(text, k.source().begin), offset_of(text, v.source().begin), offset_of(text, v.source().end)};
    if (s.key_from == std::string::npos || s.value_from == std::string::npos || s.value_to == std::string::npos ||
        !(s.key_from < s.value_from && s.value_from < s.value_to))
        throw Refused(where(path, static_cast<int>(k.source().begin.line), std::string(k.str()),
                            "the tuning cannot be written in place"));
    return s;
}

// The keys that tune a tuned mass: its spring, its dashpot and the mode
// a frequency ratio refers to.
bool tuning_key(std::string_view k) {
    return k == "frequency_ratio" || k == "frequency" || k == "stiffness" || k == "damping_ratio" || k == "damping" ||
           k == "mode";
}

std::optional<double> number_of(const toml::node* n) {
    if (n == nullptr) return std::nullopt;
    if (auto i = n->as_integer()) return static_cast<double>(i->get());
    if (auto f = n->as_floating_point()) return f->get();
    return std::nullopt;
}

}  // namespace

std::string six_digits(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", v);
    std::string s = text;
    // A whole number is written as a float, as the tuning's other values.
    if (s.find_first_of(".en") == std::string::npos) s += ".0";
    return s;
}

std::string tuned_text(const std::string& path, int32_t damper, int32_t mode, double frequency_ratio,
                       double damping_ratio) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Refused(path + ": cannot be read again to be retuned");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw Refused(path + ": cannot be read again to be retuned");
    return tuned_text_of(text, path, damper, mode, frequency_ratio, damping_ratio);
}

std::string tuned_text_of(const std::string& text, const std::string& path, int32_t damper, int32_t mode,
                          double frequency_ratio, double damping_ratio) {
    if (!std::isfinite(frequency_ratio) || !std::isfinite(damping_ratio))
        throw Refused(path + ": the tuning is not a finite number: nothing written");
    const std::string ratio = six_digits(frequency_ratio), damping = six_digits(damping_ratio);
    const std::string mode_text = std::to_string(mode);
    auto table_of = [&](const toml::table& root) -> const toml::table& {
        const toml::array* a = root.get_as<toml::array>("tmd");
        const toml::node* n =
            a != nullptr && damper >= 1 ? a->get(static_cast<std::size_t>(damper - 1)) : nullptr;
        if (n == nullptr || !n->is_table())
            throw Refused(where(path, 0, "tmd", "no tuned mass " + std::to_string(damper) + " to retune"));
        return *n->as_table();
    };
    toml::table root;
    try {
        root = toml::parse(text, path);
    } catch (const toml::parse_error& e) {
        throw Refused(where(path, static_cast<int>(e.source().begin.line), "(syntax)", std::string(e.description())));
    }
    const toml::table& t = table_of(root);

    std::vector<Edit> edits;
    std::optional<Span> spring, dashpot, mode_at;
    for (auto&& [k, v] : t) {
        const std::string_view name = k.str();
        if (name == "frequency_ratio" || name == "frequency" || name == "stiffness") {
            spring = span_of(text, path, k, v);
            edits.push_back({spring->key_from, spring->value_to, "frequency_ratio = " + ratio});
        } else if (name == "damping_ratio" || name == "damping") {
            dashpot = span_of(text, path, k, v);
            edits.push_back({dashpot->key_from, dashpot->value_to, "damping_ratio = " + damping});
        } else if (name == "mode") {
            mode_at = span_of(text, path, k, v);
            edits.push_back({mode_at->value_from, mode_at->value_to, mode_text});
        }
    }
    if (!spring || !dashpot)
        throw Refused(where(path, static_cast<int>(t.source().begin.line), "tmd[" + std::to_string(damper) + "]",
                            "its spring and dashpot are not both given: the tuning cannot be written in place"));
    if (!mode_at) {
        if (t.is_inline()) {
            edits.push_back({spring->value_to, spring->value_to, ", mode = " + mode_text});
        } else {
            // A line of its own under the frequency ratio's, indented as it.
            const std::size_t line_from = text.rfind('\n', spring->key_from) == std::string::npos
                                              ? 0
                                              : text.rfind('\n', spring->key_from) + 1;
            std::size_t line_end = text.find('\n', spring->value_to);
            const bool last = line_end == std::string::npos;
            if (last) line_end = text.size();
            // The line end of the frequency ratio's line, or of the line
            // before it when it is the last.
            const std::size_t known_end = last ? (line_from > 0 ? line_from - 1 : std::string::npos) : line_end;
            const bool crlf = known_end != std::string::npos && known_end > 0 && text[known_end - 1] == '\r';
            const std::string eol = crlf ? "\r\n" : "\n";
            const std::string indent = text.substr(line_from, spring->key_from - line_from);
            const std::string added = indent + "mode = " + mode_text;
            edits.push_back({last ? line_end : line_end + 1, last ? line_end : line_end + 1,
                             last ? eol + added : added + eol});
        }
    }
    // From the end backwards, so that every offset still holds; where the
    // mode's new line begins at the dashpot's key, the key is replaced
    // first and the line put before it.
    std::sort(edits.begin(), edits.end(),
              [](const Edit& a, const Edit& b) { return a.from != b.from ? a.from > b.from : a.to > b.to; });
    std::string out = text;
    for (const Edit& e : edits) out.replace(e.from, e.to - e.from, e.with);

    // The edit reads back as meant: the same keys, the tuning replaced.
    toml::table back;
    try {
        back = toml::parse(out, path);
    } catch (const toml::parse_error&) {
        throw Refused(where(path, 0, "tmd[" + std::to_string(damper) + "]", "the tuning cannot be written in place"));
    }
    const toml::table& b = table_of(back);
    bool same = number_of(b.get("frequency_ratio")) == std::strtod(ratio.c_str(), nullptr) &&
                number_of(b.get("damping_ratio")) == std::strtod(damping.c_str(), nullptr) &&
                b.get("mode") != nullptr && b.get("mode")->value<int64_t>() == mode;
    std::size_t others = 0;
    for (auto&& [k, v] : t) {
        if (tuning_key(k.str())) continue;
        ++others;
        const toml::node* n = b.get(k.str());
        same = same && n != nullptr && n->type() == v.type() && number_of(n) == number_of(&v);
    }
    same = same && b.size() == others + 3;
    if (!same)
        throw Refused(where(path, 0, "tmd[" + std::to_string(damper) + "]", "the tuning cannot be written in place"));
    return out;
}

}  // namespace design
