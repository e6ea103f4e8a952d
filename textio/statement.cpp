// Input statements: formatted and free-form, from a line source.
#include "textio/statement.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "textio/scan.h"
#include "textio/units.h"

namespace textio {
namespace {

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

IoFault scan_fault(ScanError e, std::string_view text) {
    const ScanFault& fault = fault_of(e);
    IoFault out{fault.code, fault.what, true, fault.hint};
    if (!text.empty()) {
        out.message += ' ';
        out.message += quoted_excerpt(text);
    }
    return out;
}

}  // namespace

IoResult scan_items(const FormatProgram& p, const In* items, std::size_t count, LineSource& source) {
    if (!p.error.empty()) return IoFault{IoError::bad_format, p.error};
    std::string_view line;
    if (IoResult r = source.next(line)) return r;
    std::size_t pos = 0;
    std::size_t next = 0;
    FormatWalker walk(p);
    for (;;) {
        const FormatOp& op = walk.next();
        switch (op.kind) {
        case FormatOp::literal: return IoFault{IoError::bad_format, "literal in an input format"};
        case FormatOp::skip:
            pos = std::min(line.size(), pos + static_cast<std::size_t>(op.n));
            continue;
        case FormatOp::slash:
            if (IoResult r = source.next(line)) return r;
            pos = 0;
            continue;
        case FormatOp::finish:
            if (next == count) break;
            if (!walk.revert()) return no_end();
            if (IoResult r = source.next(line)) return r;
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
                if (r.error != ScanError::none) return scan_fault(r.error, line.substr(start, pos - start));
                *static_cast<double*>(item.p) = r.value;
            } else if (op.kind == FormatOp::int_edit && item.kind == In::integer) {
                std::size_t start = pos;
                IntScan r = read_i_field(line, pos, op.w);
                if (r.error != ScanError::none) return scan_fault(r.error, line.substr(start, pos - start));
                *static_cast<int32_t*>(item.p) = r.value;
            } else {
                return wrong_kind(op);
            }
            continue;
        }
        }
        break;
    }
    // The rest of the last line is discarded: the next statement starts on a new line.
    return std::nullopt;
}

IoResult scan_free(const In* items, std::size_t count, LineSource& source) {
    FreeTokenizer tok;
    tok.start_statement();
    std::string_view line;
    if (IoResult r = source.next(line)) return r;
    tok.start_line(line);
    std::size_t next = 0;
    while (next < count) {
        FreeToken t = tok.next();
        switch (t.kind) {
        case FreeToken::end_of_line:
            if (IoResult r = source.next(line)) return r;
            tok.start_line(line);
            continue;
        case FreeToken::slash: next = count; continue;
        case FreeToken::error: return scan_fault(t.fault, t.text);
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
                    if (r.error != ScanError::none) return scan_fault(r.error, t.text);
                    *static_cast<int32_t*>(item.p) = r.value;
                } else if (item.kind == In::real) {
                    RealScan r = scan_real(t.text);
                    if (r.error != ScanError::none) return scan_fault(r.error, t.text);
                    *static_cast<double*>(item.p) = r.value;
                } else {
                    return IoFault{IoError::wrong_item_kind, "character item in free-form input"};
                }
            }
            continue;
        }
    }
    return std::nullopt;
}

}  // namespace textio
