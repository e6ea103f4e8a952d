#include "textio/format.h"

#include <iterator>
#include <map>
#include <memory>

namespace textio {
namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    FormatProgram run() {
        skip_blanks();
        if (!eat('(')) return fail("a format specification must begin with '('");
        int depth = 0;
        std::vector<int32_t> open;  // indices of the open group_begin ops
        int32_t last_top_group = -1;
        for (;;) {
            skip_blanks();
            if (pos_ >= text_.size()) return fail("missing ')' at the end of the format");
            char c = text_[pos_];
            if (c == ',') {
                ++pos_;
                continue;
            }
            if (c == ')') {
                ++pos_;
                if (open.empty()) break;  // the parenthesis that matches the first '('
                int32_t begin = open.back();
                open.pop_back();
                --depth;
                FormatOp op = FormatOp::of(FormatOp::group_end);
                op.jump = begin;
                prog_.ops[begin].jump = static_cast<int32_t>(prog_.ops.size());
                prog_.ops.push_back(op);
                continue;
            }
            if (c == '\'' || c == '"') {
                if (!literal(c)) return fail("unterminated literal in format");
                continue;
            }
            if (c == '/') {
                ++pos_;
                prog_.ops.push_back(FormatOp::of(FormatOp::slash));
                continue;
            }
            int32_t count = -1;
            if (is_digit(c)) {
                count = number();
                if (count < 0) return fail("number too large in format");
                skip_blanks();
                if (pos_ >= text_.size()) return fail("missing ')' at the end of the format");
                c = text_[pos_];
            }
            if (c == '(') {
                ++pos_;
                if (count == 0) return fail("group repeat count of 0 in format");
                if (++depth > kMaxGroupDepth) return fail("groups nested too deep in format");
                FormatOp op = FormatOp::of(FormatOp::group_begin);
                op.n = count < 0 ? 1 : count;
                if (open.empty()) last_top_group = static_cast<int32_t>(prog_.ops.size());
                open.push_back(static_cast<int32_t>(prog_.ops.size()));
                prog_.ops.push_back(op);
                continue;
            }
            ++pos_;
            switch (upper(c)) {
            case 'X': {
                if (count < 1) return fail("X needs a positive count in format");
                FormatOp op = FormatOp::of(FormatOp::skip);
                op.n = count;
                prog_.ops.push_back(op);
                break;
            }
            case 'I': {
                if (count >= 0) return fail("repeat count before I in format");
                FormatOp op = FormatOp::of(FormatOp::int_edit);
                op.w = width();
                if (op.w < 1) return fail("I needs a width in format");
                prog_.ops.push_back(op);
                break;
            }
            case 'E': {
                if (count >= 0) return fail("repeat count before E in format");
                FormatOp op = FormatOp::of(FormatOp::exp_edit);
                op.w = width();
                if (op.w < 1) return fail("E needs a width in format");
                skip_blanks();
                if (!eat('.')) return fail("E needs .d in format");
                op.d = width();
                if (op.d < 0) return fail("E needs .d in format");
                prog_.ops.push_back(op);
                break;
            }
            case 'A': {
                if (count >= 0) return fail("repeat count before A in format");
                FormatOp op = FormatOp::of(FormatOp::char_edit);
                op.w = 0;
                skip_blanks();
                if (pos_ < text_.size() && is_digit(text_[pos_])) {
                    op.w = width();
                    if (op.w < 1) return fail("A needs a positive width in format");
                }
                prog_.ops.push_back(op);
                break;
            }
            default:
                return fail(std::string("unknown descriptor '") + c + "' in format");
            }
        }
        prog_.ops.push_back(FormatOp::of(FormatOp::finish));
        prog_.reversion = last_top_group >= 0 ? last_top_group : 0;
        for (std::size_t k = static_cast<std::size_t>(prog_.reversion); k < prog_.ops.size(); ++k)
            prog_.reversion_has_data = prog_.reversion_has_data || prog_.ops[k].is_data();
        return std::move(prog_);
    }

private:
    static bool is_digit(char c) { return c >= '0' && c <= '9'; }
    static char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

    void skip_blanks() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    }
    bool eat(char c) {
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    // Digits with blanks among them ignored; -1 when too large, -2 when none.
    int32_t number() {
        int64_t v = 0;
        bool any = false;
        for (;;) {
            skip_blanks();
            if (pos_ >= text_.size() || !is_digit(text_[pos_])) break;
            v = v * 10 + (text_[pos_++] - '0');
            any = true;
            if (v > 1000000) return -1;
        }
        return any ? static_cast<int32_t>(v) : -2;
    }
    int32_t width() {
        int32_t v = number();
        return v == -2 ? -1 : v;
    }
    bool literal(char delim) {
        ++pos_;
        FormatOp op = FormatOp::of(FormatOp::literal);
        for (;;) {
            if (pos_ >= text_.size()) return false;
            char c = text_[pos_++];
            if (c == delim) {
                if (pos_ < text_.size() && text_[pos_] == delim) {
                    op.text.push_back(delim);
                    ++pos_;
                    continue;
                }
                break;
            }
            op.text.push_back(c);
        }
        prog_.ops.push_back(std::move(op));
        return true;
    }
    FormatProgram fail(std::string why) {
        FormatProgram p;
        p.error = std::move(why);
        p.ops.push_back(FormatOp::of(FormatOp::finish));
        return p;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    FormatProgram prog_;
};

// Writing a program out stops beyond these sizes: the flat form is for
// short records, and the general interpreter does the rest.
constexpr int kFlatOps = 1024;
constexpr std::size_t kFlatFields = 128;
constexpr std::size_t kFlatText = 4096;

// One pass of the walk up to the final parenthesis; false when it meets
// what the flat form leaves to the interpreter.
bool flatten_pass(FormatWalker& walk, FlatPass& pass) {
    std::string text;
    int32_t pending = 0;
    for (int steps = 0; steps < kFlatOps; ++steps) {
        const FormatOp& op = walk.next();
        switch (op.kind) {
        case FormatOp::literal:
            text.append(static_cast<std::size_t>(pending), ' ');
            pending = 0;
            text += op.text;
            if (text.size() > kFlatText) return false;
            break;
        case FormatOp::skip:
            if (op.n > kFlatOps) return false;
            pending += op.n;
            break;
        case FormatOp::int_edit:
        case FormatOp::exp_edit:
            if ((op.kind == FormatOp::exp_edit && op.d < 1) || pass.fields.size() == kFlatFields) return false;
            pass.fields.push_back({std::move(text), pending, op.kind, op.w, op.d});
            text.clear();
            pending = 0;
            break;
        case FormatOp::finish: pass.tail = std::move(text); return true;
        default: return false;  // '/', A, and no other kind reaches here
        }
    }
    return false;
}

std::optional<FlatProgram> flatten(const FormatProgram& p) {
    // An empty group would make the walk turn without performing anything.
    for (std::size_t k = 0; k + 1 < p.ops.size(); ++k)
        if (p.ops[k].kind == FormatOp::group_begin && p.ops[k + 1].kind == FormatOp::group_end) return std::nullopt;
    FlatProgram flat;
    FormatWalker walk(p);
    if (!flatten_pass(walk, flat.first)) return std::nullopt;
    if (walk.revert()) {
        if (!flatten_pass(walk, flat.again)) return std::nullopt;
        flat.reverts = true;
    }
    return flat;
}

}  // namespace

FormatProgram parse_format(std::string_view text) {
    FormatProgram p = Parser(text).run();
    if (p.error.empty()) p.flat = flatten(p);
    return p;
}

const FormatProgram& cached_format(std::string_view text) {
    // The sweep performs the same few statements millions of times: each
    // is found again in a small table, compared once with the cache's own
    // copy of its text, before the ordered map is searched.
    static std::map<std::string, std::unique_ptr<FormatProgram>, std::less<>> cache;
    struct Recent {
        std::string_view text;  // the cache's own copy
        const FormatProgram* program = nullptr;
    };
    static Recent recent[64];
    // The length and a few characters tell the sweep's texts apart; a
    // text that shares a slot is only looked up again in the map.
    std::size_t hash = text.size();
    if (!text.empty()) hash = hash * 131 + static_cast<unsigned char>(text[text.size() / 2]);
    if (text.size() > 3) hash = hash * 131 + static_cast<unsigned char>(text[text.size() - 3]);
    if (text.size() > 8) hash = hash * 131 + static_cast<unsigned char>(text[8]);
    Recent& slot = recent[(hash ^ (hash >> 7)) % std::size(recent)];
    if (slot.program != nullptr && slot.text == text) return *slot.program;
    auto it = cache.find(text);
    if (it == cache.end())
        it = cache.emplace(std::string(text), std::make_unique<FormatProgram>(parse_format(text))).first;
    slot = {it->first, it->second.get()};
    return *slot.program;
}

std::string describe(const FormatProgram& program) {
    if (!program.error.empty()) return "error: " + program.error;
    std::string out;
    auto sep = [&] {
        if (!out.empty() && out.back() != '[') out += ' ';
    };
    for (const FormatOp& op : program.ops) {
        switch (op.kind) {
        case FormatOp::literal: sep(); out += '\'' + op.text + '\''; break;
        case FormatOp::skip: sep(); out += 'X' + std::to_string(op.n); break;
        case FormatOp::slash: sep(); out += '/'; break;
        case FormatOp::int_edit: sep(); out += 'I' + std::to_string(op.w); break;
        case FormatOp::exp_edit:
            sep();
            out += 'E' + std::to_string(op.w) + '.' + std::to_string(op.d);
            break;
        case FormatOp::char_edit: sep(); out += 'A' + (op.w ? std::to_string(op.w) : ""); break;
        case FormatOp::group_begin: sep(); out += std::to_string(op.n) + '['; break;
        case FormatOp::group_end: out += ']'; break;
        case FormatOp::finish: break;
        }
    }
    sep();
    out += "rev=" + std::to_string(program.reversion);
    return out;
}

}  // namespace textio
