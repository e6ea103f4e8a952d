#include "textio/io.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "textio/edit.h"
#include "textio/format.h"
#include "textio/runtime.h"
#include "textio/scan.h"

namespace textio {
namespace {

// Walks a format program as a statement performs it: groups repeated by
// their counts, and the reversion at the final parenthesis.
class Walker {
public:
    explicit Walker(const FormatProgram& p) : p_(p) {}

    // The next operation in performing order.  At the final parenthesis the
    // caller decides: stop, or revert().
    const FormatOp& next() {
        for (;;) {
            const FormatOp& op = p_.ops[pc_];
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

const FormatProgram& program_for(int unit, std::string_view fmt, IoOp op) {
    const FormatProgram& p = cached_format(fmt);
    if (!p.error.empty()) io_error(IoError::bad_format, op, unit_name(unit), p.error);
    return p;
}

[[noreturn]] void no_end(int unit, IoOp op) {
    io_error(IoError::bad_format, op, unit_name(unit), "format has no edit descriptor for the items left");
}

[[noreturn]] void wrong_kind(int unit, IoOp op, const FormatOp& d) {
    const char* what = d.kind == FormatOp::int_edit ? "I" : d.kind == FormatOp::exp_edit ? "E" : "A";
    io_error(IoError::wrong_item_kind, op, unit_name(unit),
             std::string("item of the wrong kind for the ") + what + " edit descriptor");
}

// Where the message about an input value says it stood.
std::string where(int unit) {
    long line = line_number(unit);
    return line > 0 ? " in line " + std::to_string(line) : std::string();
}

// What each input fault is called in the report and, where the cause is
// likely a slip of the user's, what to type instead.
struct ScanFault {
    ScanError error;
    IoError code;
    const char* what;
    const char* hint;
};
constexpr ScanFault kScanFaults[] = {
    {ScanError::bad_integer, IoError::bad_integer, "invalid integer", "a whole number is asked for here, e.g. 3"},
    {ScanError::integer_range, IoError::integer_range, "integer out of range", nullptr},
    {ScanError::bad_real, IoError::bad_real, "invalid real number",
     "use digits, a decimal point and an optional exponent, e.g. 1.5E3"},
    {ScanError::real_range, IoError::real_range, "real number out of range", nullptr},
    {ScanError::zero_repeat, IoError::zero_repeat, "repeat count of zero", nullptr},
    {ScanError::repeat_range, IoError::repeat_range, "repeat count too large", nullptr},
    {ScanError::string_value, IoError::string_value, "character string where a number is expected", nullptr},
    {ScanError::pair_value, IoError::pair_value, "pair of values where a number is expected", nullptr},
};

const ScanFault& fault_of(ScanError e) {
    for (const ScanFault& f : kScanFaults)
        if (f.error == e) return f;
    return fault_of(ScanError::bad_real);  // every fault has its row; none is reported as a bad number
}

[[noreturn]] void scan_failed(int unit, ScanError e, std::string_view text) {
    const ScanFault& fault = fault_of(e);
    std::string msg = fault.what;
    if (!text.empty()) msg += " " + quoted_excerpt(text);
    msg += where(unit);
    if (fault.hint) msg += std::string("; ") + fault.hint;
    io_error(fault.code, IoOp::read, unit_name(unit), msg);
}

}  // namespace

void write_fmt(int unit, std::string_view fmt, const Out* items, std::size_t count) {
    const FormatProgram& p = program_for(unit, fmt, IoOp::write);
    static std::string rec;
    rec.clear();
    std::size_t pending = 0;  // blanks of nX not yet materialised
    std::size_t next = 0;
    Walker walk(p);
    auto deliver = [&] {
        put_record(unit, rec);
        rec.clear();
        pending = 0;
    };
    for (;;) {
        const FormatOp& op = walk.next();
        switch (op.kind) {
        case FormatOp::literal:
            rec.append(pending, ' ');
            pending = 0;
            rec += op.text;
            continue;
        case FormatOp::skip: pending += static_cast<std::size_t>(op.n); continue;
        case FormatOp::slash: deliver(); continue;
        case FormatOp::finish:
            if (next == count) break;
            if (!walk.revert()) no_end(unit, IoOp::write);
            deliver();
            continue;
        default: {
            if (next == count) break;
            const Out& item = items[next++];
            rec.append(pending, ' ');
            pending = 0;
            if (op.kind == FormatOp::int_edit && item.kind == Out::integer) {
                edit_int(rec, item.i, op.w);
            } else if (op.kind == FormatOp::exp_edit && item.kind == Out::real) {
                if (op.d < 1)
                    io_error(IoError::bad_format, IoOp::write, unit_name(unit),
                             "E edit descriptor without a digit after the point");
                edit_exp(rec, item.r, op.w, op.d);
            } else {
                wrong_kind(unit, IoOp::write, op);
            }
            continue;
        }
        }
        break;
    }
    deliver();
}

void read_fmt(int unit, std::string_view fmt, const In* items, std::size_t count) {
    const FormatProgram& p = program_for(unit, fmt, IoOp::read);
    std::string_view line = get_line(unit);
    std::size_t pos = 0;
    std::size_t next = 0;
    Walker walk(p);
    for (;;) {
        const FormatOp& op = walk.next();
        switch (op.kind) {
        case FormatOp::literal:
            io_error(IoError::bad_format, IoOp::read, unit_name(unit), "literal in an input format");
        case FormatOp::skip:
            pos = std::min(line.size(), pos + static_cast<std::size_t>(op.n));
            continue;
        case FormatOp::slash:
            line = get_line(unit);
            pos = 0;
            continue;
        case FormatOp::finish:
            if (next == count) break;
            if (!walk.revert()) no_end(unit, IoOp::read);
            line = get_line(unit);
            pos = 0;
            continue;
        default: {
            if (next == count) break;
            const In& item = items[next++];
            if (op.kind == FormatOp::char_edit && item.kind == In::chars) {
                std::size_t len = static_cast<std::size_t>(item.len);
                std::size_t w = op.w == 0 ? len : static_cast<std::size_t>(op.w);
                if (w > len) pos = std::min(line.size(), pos + (w - len));
                std::size_t take = std::min({w, len, line.size() - pos});
                char* dst = static_cast<char*>(item.p);
                std::memcpy(dst, line.data() + pos, take);
                std::memset(dst + take, ' ', len - take);
                pos += take;
            } else if (op.kind == FormatOp::exp_edit && item.kind == In::real) {
                std::size_t start = pos;
                RealScan r = read_e_field(line, pos, op.w, op.d);
                if (r.error != ScanError::none) scan_failed(unit, r.error, line.substr(start, pos - start));
                *static_cast<double*>(item.p) = r.value;
            } else if (op.kind == FormatOp::int_edit && item.kind == In::integer) {
                std::size_t start = pos;
                IntScan r = read_i_field(line, pos, op.w);
                if (r.error != ScanError::none) scan_failed(unit, r.error, line.substr(start, pos - start));
                *static_cast<int32_t*>(item.p) = r.value;
            } else {
                wrong_kind(unit, IoOp::read, op);
            }
            continue;
        }
        }
        break;
    }
    // The rest of the last line is discarded: the next statement starts on a new line.
}

void read_free(int unit, const In* items, std::size_t count) {
    FreeTokenizer tok;
    tok.start_statement();
    tok.start_line(get_line(unit));
    std::size_t next = 0;
    while (next < count) {
        FreeToken t = tok.next();
        switch (t.kind) {
        case FreeToken::end_of_line: tok.start_line(get_line(unit)); continue;
        case FreeToken::slash: next = count; continue;
        case FreeToken::error: scan_failed(unit, t.fault, t.text);
        case FreeToken::null: {
            std::size_t r = static_cast<std::size_t>(t.repeat);
            next = r >= count - next ? count : next + r;
            continue;
        }
        case FreeToken::value:
            for (int32_t copy = 0; copy < t.repeat && next < count; ++copy) {
                const In& item = items[next++];
                if (item.kind == In::integer) {
                    IntScan r = scan_int(t.text);
                    if (r.error != ScanError::none) scan_failed(unit, r.error, t.text);
                    *static_cast<int32_t*>(item.p) = r.value;
                } else if (item.kind == In::real) {
                    RealScan r = scan_real(t.text);
                    if (r.error != ScanError::none) scan_failed(unit, r.error, t.text);
                    *static_cast<double*>(item.p) = r.value;
                } else {
                    io_error(IoError::wrong_item_kind, IoOp::read, unit_name(unit),
                             "character item in free-form input");
                }
            }
            continue;
        }
    }
}

}  // namespace textio
