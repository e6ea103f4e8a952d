// The statements on units: look up the program, let the interpretation
// run against the unit's records or lines, and report what it returns.
#include "textio/io.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "textio/format.h"
#include "textio/runtime.h"
#include "textio/scan.h"
#include "textio/statement.h"

namespace textio {
namespace {

// Delivers records to a unit.
class UnitSink final : public RecordSink {
public:
    explicit UnitSink(int unit) : unit_(unit) {}
    void put(std::string_view record) override { put_record(unit_, record); }

private:
    int unit_;
};

// Takes the lines of a unit; the end of its input and a line too long are
// reported by the unit itself.
class UnitLines final : public LineSource {
public:
    explicit UnitLines(int unit) : unit_(unit) {}
    IoResult next(std::string_view& line) override {
        line = get_line(unit_);
        return std::nullopt;
    }

private:
    int unit_;
};

// The console lines of a read at the interactive console: with a real item
// to fill, a line with a decimal comma is refused before any value of it is
// taken (read as separators, "0,02" would give 0 and 2 without a word).
class ConsoleLines final : public LineSource {
public:
    ConsoleLines(int unit, bool refuse_commas) : unit_(unit), refuse_commas_(refuse_commas) {}
    IoResult next(std::string_view& line) override {
        line = get_line(unit_);
        if (refuse_commas_ && (has_decimal_comma(line) || opens_with_decimal_comma(line)))
            return IoFault{IoError::decimal_comma, "decimal comma"};
        return std::nullopt;
    }

private:
    int unit_;
    bool refuse_commas_;
};

// The values the items held before a statement, to give them back when
// the statement is read again.
class SavedItems {
public:
    SavedItems(const In* items, std::size_t count) : items_(items), count_(count) {
        for (std::size_t k = 0; k < count; ++k) bytes_.append(static_cast<const char*>(items[k].p), size_of(items[k]));
    }
    void restore() const {
        std::size_t at = 0;
        for (std::size_t k = 0; k < count_; ++k) {
            const std::size_t n = size_of(items_[k]);
            std::memcpy(items_[k].p, bytes_.data() + at, n);
            at += n;
        }
    }

private:
    static std::size_t size_of(const In& item) {
        switch (item.kind) {
        case In::integer: return sizeof(int32_t);
        case In::real: return sizeof(double);
        case In::chars: return item.len > 0 ? static_cast<std::size_t>(item.len) : 0;
        }
        return 0;
    }
    const In* items_;
    std::size_t count_;
    std::string bytes_;
};

// The console record that asks again after a refused line, or nullptr when
// the fault is no slip of the user's and ends the run.
const char* asked_again(const IoFault& fault) {
    if (fault.code == IoError::decimal_comma)
        return "(2X,'CZESC DZIESIETNA PISZ PO KROPCE (0.02), LICZBY ROZDZIELAJ SPACJA')";
    if (fault.about_value) return "(2X,'NIEPOPRAWNA ODPOWIEDZ - PODAJ JESZCZE RAZ')";
    return nullptr;
}

[[noreturn]] void report(int unit, IoOp op, const IoFault& fault) {
    std::string msg = fault.message;
    if (fault.about_value) {
        msg += in_line(unit);
        if (fault.hint) msg += std::string("; ") + fault.hint;
    }
    io_error(fault.code, op, unit_name(unit), msg);
}

}  // namespace

std::string in_line(int unit) {
    const long line = line_number(unit);
    return line > 0 ? " in line " + std::to_string(line) : std::string();
}

void write_fmt(int unit, std::string_view fmt, const Out* items, std::size_t count) {
    UnitSink sink(unit);
    if (IoResult r = format_items(cached_format(fmt), items, count, sink)) report(unit, IoOp::write, *r);
}

void read_fmt(int unit, std::string_view fmt, const In* items, std::size_t count) {
    UnitLines lines(unit);
    if (IoResult r = scan_items(cached_format(fmt), items, count, lines)) report(unit, IoOp::read, *r);
}

void read_free(int unit, const In* items, std::size_t count) {
    if (count == 0 || !interactive_console(unit)) {
        UnitLines lines(unit);
        if (IoResult r = scan_free(items, count, lines)) report(unit, IoOp::read, *r);
        return;
    }
    // At the interactive console a slip is asked again: the whole statement
    // from a new line, every item back at its value from before it.  Only
    // the end of input and a line too long still end the run there.
    const bool any_real = std::any_of(items, items + count, [](const In& it) { return it.kind == In::real; });
    const SavedItems saved(items, count);
    for (;;) {
        ConsoleLines lines(unit, any_real);
        const IoResult r = scan_free(items, count, lines);
        if (!r) return;
        const char* again = asked_again(*r);
        if (again == nullptr) report(unit, IoOp::read, *r);
        saved.restore();
        write_fmt(kConsole, again);
    }
}

}  // namespace textio
