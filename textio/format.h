// Format specifications: parsed once from their own text into a flat
// program of operations, and cached by that text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace textio {

struct FormatOp {
    enum Kind : uint8_t {
        literal,      // text = the characters
        skip,         // nX: n = count
        slash,        // /
        int_edit,     // Iw: w
        exp_edit,     // Ew.d: w, d
        char_edit,    // Aw: w (0 when no width is written: the variable's length)
        group_begin,  // n = repeat count, jump = index of the matching group_end
        group_end,    // jump = index of the matching group_begin
        finish,       // the final closing parenthesis
    };
    Kind kind = finish;
    int32_t n = 0;
    int32_t w = 0;
    int32_t d = 0;
    int32_t jump = 0;
    std::string text;

    static FormatOp of(Kind k) {
        FormatOp op;
        op.kind = k;
        return op;
    }
    bool is_data() const { return kind == int_edit || kind == exp_edit || kind == char_edit; }
};

// A program without '/' written out as the fields it performs, for the
// statements performed thousands of times: each data field with the text
// performed before it (literals, with the blanks of nX that a literal has
// materialised) and the nX blanks pending right before it, and the text
// after the last field.  A pass runs from the start (or from the reversion
// point) to the final parenthesis.
struct FlatField {
    std::string text;
    int32_t blanks = 0;
    FormatOp::Kind kind = FormatOp::exp_edit;  // int_edit or exp_edit (d >= 1)
    int32_t w = 0;
    int32_t d = 0;
};
struct FlatPass {
    std::vector<FlatField> fields;
    std::string tail;
};
struct FlatProgram {
    FlatPass first;
    FlatPass again;          // each pass after a reversion
    bool reverts = false;    // whether a reversion can take further items
};

struct FormatProgram {
    std::vector<FormatOp> ops;  // ends with exactly one finish
    int32_t reversion = 0;      // where scanning continues after the final ')'
    bool reversion_has_data = false;  // whether a reversion can ever consume an item
    std::string error;          // non-empty when the text cannot be read
    // The flat form, for a valid output program that has one: no '/', no A
    // and no E without fraction digits, and short when written out.
    std::optional<FlatProgram> flat;
};

// Groups may nest this deep inside the outer parentheses.
inline constexpr int kMaxGroupDepth = 16;

FormatProgram parse_format(std::string_view text);

// Walks a format program as a statement performs it: groups repeated by
// their counts, and the reversion at the final parenthesis.
class FormatWalker {
public:
    explicit FormatWalker(const FormatProgram& p) : p_(p) {}

    // The next operation in performing order.  At the final parenthesis the
    // caller decides: stop, or revert().
    const FormatOp& next() {
        for (;;) {
            const FormatOp& op = p_.ops[static_cast<std::size_t>(pc_)];
            if (op.kind == FormatOp::group_begin) {
                stack_[depth_++] = op.n;
                ++pc_;
                continue;
            }
            if (op.kind == FormatOp::group_end) {
                if (--stack_[depth_ - 1] > 0) {
                    pc_ = op.jump + 1;
                } else {
                    --depth_;
                    ++pc_;
                }
                continue;
            }
            if (op.kind != FormatOp::finish) ++pc_;
            return op;
        }
    }

    // Continues at the reversion point; false when the part reverted to
    // holds no data descriptor (the statement would never end).
    bool revert() {
        if (!p_.reversion_has_data) return false;
        pc_ = p_.reversion;
        depth_ = 0;
        return true;
    }

private:
    const FormatProgram& p_;
    int32_t pc_ = 0;
    int32_t stack_[kMaxGroupDepth + 1] = {};
    int depth_ = 0;
};

// The parsed program of a specification text, parsed on its first use.
const FormatProgram& cached_format(std::string_view text);

// A compact text of a program, e.g. "(2X,'AB',I3,10(2X,E12.6))" ->
// "X2 'AB' I3 10[X2 E12.6] rev=3".
std::string describe(const FormatProgram& program);

}  // namespace textio
