// Output statements performed into a record sink: the general interpreter,
// and the flat form that the sweep's records take thousands of times.
#include <string>

#include "textio/edit.h"
#include "textio/statement.h"

namespace textio {
namespace {

// Room for the longest record the system writes, so that a statement
// allocates once.
constexpr std::size_t kRecordRoom = 160;

}  // namespace

IoResult format_interpreted(const FormatProgram& p, const Out* items, std::size_t count, RecordSink& sink) {
    if (!p.error.empty()) return IoFault{IoError::bad_format, p.error};
    std::string rec;
    rec.reserve(kRecordRoom);
    std::size_t pending = 0;  // blanks of nX not yet materialised
    std::size_t next = 0;
    FormatWalker walk(p);
    auto deliver = [&] {
        sink.put(rec);
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
            if (!walk.revert()) return no_end();
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
                if (op.d < 1) return IoFault{IoError::bad_format, "E edit descriptor without a digit after the point"};
                edit_exp(rec, item.r, op.w, op.d);
            } else {
                return wrong_kind(op);
            }
            continue;
        }
        }
        break;
    }
    deliver();
    return std::nullopt;
}

bool flat_fits(const FlatProgram& flat, const Out* items, std::size_t count) {
    const std::size_t first = flat.first.fields.size();
    const std::size_t again = flat.again.fields.size();
    if (count > first && (!flat.reverts || again == 0)) return false;
    for (std::size_t k = 0; k < count; ++k) {
        const FlatField& f = k < first ? flat.first.fields[k] : flat.again.fields[(k - first) % again];
        if ((f.kind == FormatOp::int_edit) != (items[k].kind == Out::integer)) return false;
    }
    return true;
}

void format_flat(const FlatProgram& flat, const Out* items, std::size_t count, RecordSink& sink) {
    std::string rec;
    rec.reserve(kRecordRoom);
    const FlatPass* pass = &flat.first;
    std::size_t field = 0;
    std::size_t next = 0;
    for (;;) {
        if (field < pass->fields.size()) {
            // What stands before a field is performed even when no item is
            // left for it; its pending blanks only when one is.
            const FlatField& f = pass->fields[field++];
            rec += f.text;
            if (next == count) break;
            rec.append(static_cast<std::size_t>(f.blanks), ' ');
            const Out& item = items[next++];
            if (f.kind == FormatOp::int_edit)
                edit_int(rec, item.i, f.w);
            else
                edit_exp(rec, item.r, f.w, f.d);
            continue;
        }
        rec += pass->tail;
        if (next == count) break;
        sink.put(rec);
        rec.clear();
        pass = &flat.again;
        field = 0;
    }
    sink.put(rec);
}

IoResult format_items(const FormatProgram& p, const Out* items, std::size_t count, RecordSink& sink) {
    if (p.flat && flat_fits(*p.flat, items, count)) {
        format_flat(*p.flat, items, count, sink);
        return std::nullopt;
    }
    return format_interpreted(p, items, count, sink);
}

}  // namespace textio
