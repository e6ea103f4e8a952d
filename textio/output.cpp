// Output statements performed into a record sink: the general interpreter,
// and the flat form that the sweep's records take thousands of times.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

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
    // The fields in the order the items meet them, without a division per
    // item: the first pass, then the repeated one as often as needed.
    const FlatPass* pass = &flat.first;
    std::size_t j = 0;
    for (std::size_t k = 0; k < count; ++k) {
        if (j == pass->fields.size()) {
            pass = &flat.again;
            j = 0;
        }
        const FlatField& f = pass->fields[j++];
        if ((f.kind == FormatOp::int_edit) != (items[k].kind == Out::integer)) return false;
    }
    return true;
}

void format_flat(const FlatProgram& flat, const Out* items, std::size_t count, RecordSink& sink) {
    // Kept from one statement to the next: the sweep's records are made
    // without an allocation each.  The sink takes a record before the next
    // one is made here.
    thread_local std::string rec;
    rec.reserve(kRecordRoom);
    const FlatPass* pass = &flat.first;
    std::size_t next = 0;
    for (;;) {
        // One record a pass: its fields while items last, then the text
        // that stands before the next field (performed even when no item is
        // left for it), or the tail at the end of the pass.
        const std::size_t fields = pass->fields.size();
        const std::size_t taken = std::min(fields, count - next);
        const std::string& after = taken < fields ? pass->fields[taken].text : pass->tail;
        std::size_t size = after.size();
        for (std::size_t k = 0; k < taken; ++k) {
            const FlatField& f = pass->fields[k];
            size += f.text.size() + static_cast<std::size_t>(f.blanks) + static_cast<std::size_t>(f.w);
        }
        // The record's room made at once (grown only, not filled anew for
        // each record); each field is put into it.
        if (rec.size() < size) rec.resize(size);
        char* out = rec.data();
        const char* const end = out + size;
        for (std::size_t k = 0; k < taken; ++k) {
            const FlatField& f = pass->fields[k];
            // The step records' fields have no text and a few blanks:
            // those go as one store of eight blanks, whose excess the field
            // then covers, rather than as calls for a few bytes each.
            if (!f.text.empty()) std::memcpy(out, f.text.data(), f.text.size());
            out += f.text.size();
            if (f.blanks <= 8 && f.blanks + f.w >= 8 && end - out >= 8)
                std::memcpy(out, "        ", 8);
            else
                std::memset(out, ' ', static_cast<std::size_t>(f.blanks));
            out += f.blanks;
            const Out& item = items[next++];
            if (f.kind == FormatOp::int_edit)
                put_int(out, item.i, f.w);
            else
                put_exp(out, item.r, f.w, f.d);
            out += f.w;
        }
        if (!after.empty()) std::memcpy(out, after.data(), after.size());
        sink.put(std::string_view(rec.data(), size));
        if (next == count) return;
        pass = &flat.again;
    }
}

IoResult format_items(const FormatProgram& p, const Out* items, std::size_t count, RecordSink& sink) {
    if (p.flat && flat_fits(*p.flat, items, count)) {
        format_flat(*p.flat, items, count, sink);
        return std::nullopt;
    }
    return format_interpreted(p, items, count, sink);
}

}  // namespace textio
