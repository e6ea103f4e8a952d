// The console: its records, with carriage control and the line end left
// pending, and its lines, typed or redirected.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

#include "textio/lines.h"
#include "textio/progress.h"
#include "textio/runtime.h"
#include "textio/unit_table.h"
#include "textio/units.h"

namespace textio {
namespace {

bool g_one_console = false;
volatile bool g_pending = false;  // the console's line end pending

// Console input: bytes read ahead from standard input.
struct ConsoleInput {
    std::string buf;
    std::size_t pos = 0;
    bool at_eof = false;
    bool after_cr = false;  // the last line ended in CR: an LF next belongs to it
    std::string line;
} g_cin;

// Bytes that end the previous console line and open the next one, chosen
// by the record's carriage-control character.
std::string_view carriage(char c, bool pending) {
    switch (c) {
    case '+': return "\r";
    case '0': return pending ? std::string_view("\r\n\r\n") : std::string_view("\r\n");
    case '1': return std::string_view("\r\n\f\r \r", 6);
    default: return pending ? std::string_view("\r\n") : std::string_view();
    }
}

}  // namespace

void put_device_record(int fd, std::string_view record, bool& pending, int number) {
    static std::string out;
    progress_erase();
    console_delivery(record, pending, out);
    if (!write_fd(fd, out.data(), out.size()))
        io_error(IoError::write_failed, IoOp::write, name_of(number),
                 std::string("cannot write to the console: ") + std::strerror(errno));
}

void put_console_record(int number, std::string_view record) {
    bool pending = g_pending;
    put_device_record(1, record, pending, number);
    g_pending = pending;
}

namespace {

// One raw console line, up to its line end (not included): LF, CR LF or a
// lone CR.  A CR ends the line at once, and an LF straight after it is
// skipped when the next line is taken, so that a CR never waits for more
// input to learn what follows it.  False at end of input with nothing
// read.  Only the first kRawLine characters are kept: enough to tell a
// line that is too long, without holding an endless one.
constexpr std::size_t kRawLine = 4096;

bool console_raw_line(int number, std::string& out) {
    ConsoleInput& c = g_cin;
    out.clear();
    bool any = false;
    auto keep = [&](std::size_t from, std::size_t n) {
        any = any || n > 0;
        if (out.size() < kRawLine) out.append(c.buf, from, std::min(n, kRawLine - out.size()));
    };
    for (;;) {
        if (c.after_cr && c.pos < c.buf.size()) {
            if (c.buf[c.pos] == '\n') ++c.pos;
            c.after_cr = false;
        }
        const LineCut cut = cut_line(std::string_view(c.buf).substr(c.pos), c.at_eof, false);
        if (cut.kind == LineCut::none) return any;
        keep(c.pos, cut.length);
        if (cut.kind == LineCut::line) {
            // A CR that ends what has been read may have its LF still to come.
            c.after_cr = cut.next == cut.length + 1 && c.buf[c.pos + cut.length] == '\r';
            c.pos += cut.next;
            return true;
        }
        c.pos = c.buf.size();
        if (!fill(0, c.buf, c.pos, c.at_eof, number)) return any;
    }
}

}  // namespace

bool console_line(int number, std::string& out) {
    if (!console_raw_line(number, out)) return false;
    return out.empty() || out.back() != '\x1a';
}

bool one_console() { return g_one_console; }
void set_one_console(bool one) { g_one_console = one; }

std::string_view get_console_line(int number) {
    if (g_one_console && g_pending) {
        // The user types on a line of their own below the last prompt.
        g_pending = false;
        if (!write_fd(1, "\r\n", 2))
            io_error(IoError::write_failed, IoOp::write, kConsoleName, "cannot write to the console");
    }
    if (!console_line(number, g_cin.line))
        io_error(IoError::eof_console, IoOp::read, name_of(number),
                 "end of file on console input; the answers ended before the questions did");
    if (g_cin.line.size() > kConsoleLine)
        io_error(IoError::console_line_too_long, IoOp::read, name_of(number),
                 "console line longer than 130 characters");
    return g_cin.line;
}

void console_delivery(std::string_view record, bool& pending, std::string& out) {
    if (record.empty()) record = " ";
    out.assign(carriage(record[0], pending));
    out.append(record.substr(1));
    pending = true;
}

bool interactive_console(int number) {
    return g_one_console && number >= 0 && number <= kMaxUnit && is_console(number);
}

bool console_line_pending() { return g_pending; }
void set_console_pending(bool pending) { g_pending = pending; }

}  // namespace textio
