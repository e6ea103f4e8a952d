// The statements on units: look up the program, let the interpretation
// run against the unit's records or lines, and report what it returns.
#include "textio/io.h"

#include <string>

#include "textio/format.h"
#include "textio/runtime.h"
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

// Where the message about an input value says it stood.
std::string where(int unit) {
    long line = line_number(unit);
    return line > 0 ? " in line " + std::to_string(line) : std::string();
}

[[noreturn]] void report(int unit, IoOp op, const IoFault& fault) {
    std::string msg = fault.message;
    if (fault.about_value) {
        msg += where(unit);
        if (fault.hint) msg += std::string("; ") + fault.hint;
    }
    io_error(fault.code, op, unit_name(unit), msg);
}

}  // namespace

void write_fmt(int unit, std::string_view fmt, const Out* items, std::size_t count) {
    UnitSink sink(unit);
    if (IoResult r = format_items(cached_format(fmt), items, count, sink)) report(unit, IoOp::write, *r);
}

void read_fmt(int unit, std::string_view fmt, const In* items, std::size_t count) {
    UnitLines lines(unit);
    if (IoResult r = scan_items(cached_format(fmt), items, count, lines)) report(unit, IoOp::read, *r);
}

void read_free(int unit, const In* items, std::size_t count) {
    UnitLines lines(unit);
    if (IoResult r = scan_free(items, count, lines)) report(unit, IoOp::read, *r);
}

}  // namespace textio
