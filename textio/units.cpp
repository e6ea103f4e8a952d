#include "textio/units.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "textio/progress.h"
#include "textio/runtime.h"

namespace textio {
namespace {

enum class Kind { none, file, console, err, null };

struct Unit {
    Kind kind = Kind::none;
    char name[kNameUsed + 1] = {};
    std::size_t name_len = 0;
    int fd = -1;
    bool regular = false;
    dev_t dev = 0;
    ino_t ino = 0;
    // Output: whether the file has been cut at its position since the open
    // or the last input (the records themselves wait in g_out).
    bool writing = false;
    bool err_pending = false;  // the standard-error device's own line end
    bool can_read = true;      // false when the file could be opened for writing only
    bool can_write = true;     // false when it could be opened for reading only
    bool created = false;      // the open made the file: it did not exist before
    // Records held in memory until release_records: the file keeps its
    // earlier contents until the whole of them can replace it at once.
    bool held = false;
    std::string held_bytes;
    // Input: raw bytes read ahead, lines taken so far and the file position
    // just behind the last line taken.
    std::string ibuf;
    std::size_t ipos = 0;
    bool at_eof = false;
    // A pipe read through a read-only descriptor: until its first bytes
    // have come, its end of file only means that no writer has come yet.
    bool await_writer = false;
    off_t consumed = 0;
    long lineno = 0;
    std::string line;
};

Unit g_units[kMaxUnit + 1];

// The records of a file unit not yet written to its file.  The buffer
// holds complete records only: committed advances after each record's
// CR LF, so whatever ends the run, an interrupt included, writes whole
// records.  The interrupt handler reads fd and committed, hence atomics.
struct FileOut {
    std::atomic<int> fd{-1};  // -1 while the unit is no file
    std::atomic<std::size_t> committed{0};
    char bytes[kFileBuffer] = {};
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<std::size_t>::is_always_lock_free,
              "the interrupt handler reads these");
FileOut g_out[kMaxUnit + 1];

// A file made by this run's open, removed at the end of the run if it then
// holds no record.  Fixed storage: the interrupt handler reads it.
struct Transient {
    std::atomic<bool> armed{false};
    char path[PATH_MAX] = {};
};
Transient g_transient[kMaxUnit + 1];

// Records are being written to a file: an interrupt now is held and raised
// again once the write is over, so that no record is written twice or cut.
volatile sig_atomic_t g_out_busy = 0;
volatile sig_atomic_t g_held_signal = 0;
bool g_one_console = false;
volatile bool g_pending = false;  // the console's line end pending
int g_argc = 0;
char** g_argv = nullptr;
int g_next_arg = 1;

// Console input: bytes read ahead from standard input.
struct ConsoleInput {
    std::string buf;
    std::size_t pos = 0;
    bool at_eof = false;
    bool after_cr = false;  // the last line ended in CR: an LF next belongs to it
    std::string line;
} g_cin;

constexpr std::string_view kConsoleName = "CON";

std::string_view trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

Unit& unit_at(int number) { return g_units[number]; }

bool is_console(int number) {
    return number == kConsole || unit_at(number).kind == Kind::console;
}

std::string_view name_of(int number) {
    if (number == kConsole) return kConsoleName;
    const Unit& u = unit_at(number);
    return {u.name, u.name_len};
}

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

template <class Write>
bool with_interrupts_held(Write write) {
    g_out_busy = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    const bool ok = write();
    std::atomic_signal_fence(std::memory_order_seq_cst);
    g_out_busy = 0;
    if (g_held_signal != 0) raise(g_held_signal);
    return ok;
}

// Writes as much as the descriptor takes; written tells how much did.
bool write_counted(int fd, const char* data, std::size_t size, std::size_t& written) {
    written = 0;
    while (written < size) {
        ssize_t n = ::write(fd, data + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// After a failed write (a full disk) a regular file is cut back to the end
// of the last record written whole, so that it holds complete records
// only, as after an interrupt.  at is the file's offset of bytes[0].
bool g_cut_back = false;
void cut_back(int fd, off_t at, const char* bytes, std::size_t written) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
    std::size_t whole = 0;
    for (std::size_t k = 0; k + 1 < written; ++k)
        if (bytes[k] == '\r' && bytes[k + 1] == '\n') whole = k + 2;
    if (ftruncate(fd, at + static_cast<off_t>(whole)) == 0) {
        lseek(fd, at + static_cast<off_t>(whole), SEEK_SET);
        g_cut_back = true;
    }
}

bool flush_out(FileOut& o) {
    const std::size_t n = o.committed.load();
    if (n == 0) return true;
    return with_interrupts_held([&] {
        const int fd = o.fd.load();
        const off_t at = lseek(fd, 0, SEEK_CUR);
        std::size_t written = 0;
        const bool ok = write_counted(fd, o.bytes, n, written);
        if (!ok && at >= 0) cut_back(fd, at, o.bytes, written);
        o.committed.store(0);
        return ok;
    });
}

FileOut& out_of(int number) { return g_out[number]; }

[[noreturn]] void write_error(int number) {
    int err = errno;
    std::string message = std::string("cannot write the file: ") + std::strerror(err);
    if (g_cut_back) message += "; it is cut back to its last complete record";
    io_error(IoError::write_failed, IoOp::write, name_of(number), message);
}

void put_file_record(int number, std::string_view record) {
    Unit& u = unit_at(number);
    if (!u.can_write)
        io_error(IoError::write_failed, IoOp::write, name_of(number),
                 "the file could be opened for reading only");
    if (u.held) {
        u.held_bytes.append(record);
        u.held_bytes.append("\r\n");
        return;
    }
    if (!u.writing) {
        // The first output after the open or after input cuts the file off
        // at the current position: what stood behind it is replaced.
        if (u.regular && ftruncate(u.fd, u.consumed) != 0) write_error(number);
        if (u.regular && lseek(u.fd, u.consumed, SEEK_SET) < 0) write_error(number);
        u.writing = true;
        u.ibuf.clear();
        u.ipos = 0;
        u.at_eof = false;
    }
    FileOut& o = out_of(number);
    const std::size_t need = record.size() + 2;
    if (o.committed.load() + need > kFileBuffer && !flush_out(o)) write_error(number);
    if (need > kFileBuffer) {
        // A record longer than the buffer goes straight to the file.
        const bool ok = with_interrupts_held([&] {
            const int fd = o.fd.load();
            const off_t at = lseek(fd, 0, SEEK_CUR);
            std::string whole(record);
            whole += "\r\n";
            std::size_t written = 0;
            const bool done = write_counted(fd, whole.data(), whole.size(), written);
            if (!done && at >= 0) cut_back(fd, at, whole.data(), written);
            return done;
        });
        if (!ok) write_error(number);
        return;
    }
    std::size_t at = o.committed.load();
    std::memcpy(o.bytes + at, record.data(), record.size());
    std::memcpy(o.bytes + at + record.size(), "\r\n", 2);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    o.committed.store(at + need);
    // A full buffer is written at once, as the records come.
    if (at + need == kFileBuffer && !flush_out(o)) write_error(number);
}

// Reads more of fd into buf; false at end of input.
bool fill(int fd, std::string& buf, std::size_t& pos, bool& at_eof, int number) {
    if (at_eof) return false;
    if (pos > 0) {
        buf.erase(0, pos);
        pos = 0;
    }
    char chunk[4096];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0) {
            buf.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
        if (n == 0) {
            at_eof = true;
            return false;
        }
        if (errno == EINTR) continue;
        io_error(IoError::read_failed, IoOp::read, name_of(number),
                 std::string("cannot read: ") + std::strerror(errno));
    }
}

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
        std::size_t end = c.buf.find_first_of("\r\n", c.pos);
        if (end != std::string::npos) {
            keep(c.pos, end - c.pos);
            c.after_cr = c.buf[end] == '\r';
            c.pos = end + 1;
            return true;
        }
        keep(c.pos, c.buf.size() - c.pos);
        c.pos = c.buf.size();
        if (!fill(0, c.buf, c.pos, c.at_eof, number)) return any;
    }
}

// A console line as the statements see it, or false for the end of input
// and for a line ending in Ctrl-Z.
bool console_line(int number, std::string& out) {
    if (!console_raw_line(number, out)) return false;
    return out.empty() || out.back() != '\x1a';
}

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


// A file that ends before its first line is most often a mistyped name.
std::string empty_file_hint(const Unit& u) {
    if (u.lineno > 0) return {};
    if (u.created) return "; no file of this name existed (none is left behind); check the name";
    return "; the file is empty";
}

std::string_view get_file_line(int number) {
    Unit& u = unit_at(number);
    if (!u.can_read)
        io_error(IoError::read_failed, IoOp::read, name_of(number), "the file could be opened for writing only");
    if (u.writing) {
        // Input after output goes on from the end of what was written.
        if (!flush_out(out_of(number))) write_error(number);
        u.writing = false;
        off_t here = lseek(u.fd, 0, SEEK_CUR);
        u.consumed = here < 0 ? 0 : here;
        u.ibuf.clear();
        u.ipos = 0;
        u.at_eof = false;
    }
    std::size_t scanned = 0;
    for (;;) {
        std::size_t start = u.ipos;
        std::size_t end = u.ibuf.find_first_of("\r\n", start + scanned);
        if (end != std::string::npos) {
            std::size_t len = end - start;
            // A CR at the very end of what is read may be the first half of CR LF.
            if (u.ibuf[end] == '\r' && end + 1 == u.ibuf.size() && !u.at_eof) {
                scanned = len;
                fill(u.fd, u.ibuf, u.ipos, u.at_eof, number);
                continue;
            }
            std::size_t next = end + 1;
            if (u.ibuf[end] == '\r' && next < u.ibuf.size() && u.ibuf[next] == '\n') ++next;
            if (len > kFileBuffer) break;
            u.line.assign(u.ibuf, start, len);
            u.consumed += static_cast<off_t>(next - start);
            u.ipos = next;
            ++u.lineno;
            return u.line;
        }
        std::size_t len = u.ibuf.size() - start;
        if (len > kFileBuffer) break;
        scanned = len;
        bool more = fill(u.fd, u.ibuf, u.ipos, u.at_eof, number);
        while (!more && u.await_writer && len == 0) {
            // No writer has come yet: wait for its first bytes.
            const timespec pause{0, 10'000'000};
            nanosleep(&pause, nullptr);
            u.at_eof = false;
            more = fill(u.fd, u.ibuf, u.ipos, u.at_eof, number);
        }
        u.await_writer = false;
        if (!more) {
            if (len == 0)
                io_error(IoError::eof_file, IoOp::read, name_of(number),
                         "end of file after line " + std::to_string(u.lineno) + empty_file_hint(u));
            // A last line without a line end is read like any other.
            u.line.assign(u.ibuf, u.ipos, len);
            u.consumed += static_cast<off_t>(len);
            u.ipos = u.ibuf.size();
            ++u.lineno;
            return u.line;
        }
    }
    io_error(IoError::record_too_long, IoOp::read, name_of(number),
             "line " + std::to_string(u.lineno + 1) + " longer than 1024 characters");
}

// The platform devices that this system cannot reach here.
bool is_unavailable_device(std::string_view base, bool has_ext) {
    static constexpr std::string_view kNames[] = {"PRN",  "COM1", "COM2", "COM3", "COM4", "LPT1",
                                                  "LPT2", "LPT3", "LPT4", "AUX"};
    for (std::string_view n : kNames)
        if (base == n) return true;
    return base == "LINE" && !has_ext;
}

void connect_device(Unit& u, Kind kind, int fd) {
    u.kind = kind;
    u.fd = fd;
    u.regular = false;
}

std::string blank_name_from_console(int number) {
    std::string prompt = "File name missing or blank - please enter file name\r\nUNIT " +
                         std::to_string(number) + "? ";
    for (;;) {
        if (g_pending) {
            g_pending = false;
            if (!write_fd(1, "\r\n", 2))
                io_error(IoError::write_failed, IoOp::write, kConsoleName, "cannot write to the console");
        }
        if (!write_fd(1, prompt.data(), prompt.size()))
            io_error(IoError::write_failed, IoOp::write, kConsoleName, "cannot write to the console");
        std::string raw;
        if (!console_line(kConsole, raw))
            io_error(IoError::eof_console, IoOp::read, kConsoleName,
                     "end of file on console input while a file name was asked for");
        if (raw.size() > kNameReply) raw.resize(kNameReply);
        std::string_view t = trim(raw);
        if (!t.empty()) return std::string(t);
    }
}

std::string resolve_blank_name(int number) {
    while (g_next_arg < g_argc) {
        std::string_view arg = trim(g_argv[g_next_arg++]);
        if (!arg.empty()) return std::string(arg.substr(0, kNameUsed));
    }
    return blank_name_from_console(number).substr(0, kNameUsed);
}

// The file a name stands for: symbolic links of its last part followed,
// also one that points at nothing yet.  A folder part is left as it is.
std::string follow_links(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char link[PATH_MAX];
        const ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
        if (n <= 0) return path;
        std::string to(link, static_cast<std::size_t>(n));
        const std::size_t slash = path.rfind('/');
        if (to.front() != '/' && slash != std::string::npos) to = path.substr(0, slash + 1) + to;
        path = to;
    }
    return path;
}

void open_file(int number, Unit& u) {
    std::string path(u.name, u.name_len);
    bool can_read = true;
    bool can_write = true;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    int err = errno;
    std::string made;
    if (fd < 0 && err == ENOENT) {
        // Made where the name leads, through a link that points at nothing
        // yet; the file made is the one removed should it stay empty.
        made = follow_links(path);
        fd = ::open(made.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        err = errno;
        u.created = fd >= 0;
    } else if (fd < 0 && (err == EACCES || err == EROFS || err == EPERM || err == ETXTBSY)) {
        // Refused for reading and writing: reading only, then writing only.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        can_write = fd < 0;
        can_read = fd >= 0;
        if (fd < 0) fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    }
    Transient& t = g_transient[number];
    t.armed.store(false);
    if (u.created && made.size() < sizeof t.path) {
        std::memcpy(t.path, made.c_str(), made.size() + 1);
    } else {
        t.path[0] = '\0';
    }
    if (fd >= 0 && fd <= 2) {
        // Never on a standard stream's descriptor (one closed at start-up
        // and not reopened): the file's bytes would become console output
        // and error reports would be written into it.
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        err = errno;
        ::close(fd);
        fd = moved;
    }
    if (fd < 0) {
        u.kind = Kind::none;
        io_error(IoError::open_failed, IoOp::open, {u.name, u.name_len},
                 "cannot open file " + quoted_excerpt(path) + ": " + std::strerror(err));
    }
    u.can_read = can_read;
    u.can_write = can_write;
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        u.kind = Kind::none;
        io_error(IoError::not_a_file, IoOp::open, {u.name, u.name_len},
                 quoted_excerpt(path) + " is a folder, not a file");
    }
    for (int k = 1; k <= kMaxUnit; ++k) {
        const Unit& o = g_units[k];
        if (k != number && o.kind == Kind::file && o.dev == st.st_dev && o.ino == st.st_ino) {
            ::close(fd);
            u.kind = Kind::none;
            io_error(IoError::already_connected, IoOp::open, {u.name, u.name_len},
                     "file " + quoted_excerpt(path) + " is already connected to unit " + std::to_string(k) +
                         "; give each of the three files a name of its own");
        }
    }
    u.kind = Kind::file;
    u.fd = fd;
    out_of(number).committed.store(0);
    out_of(number).fd.store(fd);
    u.regular = S_ISREG(st.st_mode);
    u.dev = st.st_dev;
    u.ino = st.st_ino;
}

}  // namespace

std::string quoted_excerpt(std::string_view s) {
    constexpr std::size_t kShow = 40;
    std::string out = "'";
    out.append(s.substr(0, kShow));
    if (s.size() > kShow) out += "...";
    out += "'";
    return out;
}

void console_delivery(std::string_view record, bool& pending, std::string& out) {
    if (record.empty()) record = " ";
    out.assign(carriage(record[0], pending));
    out.append(record.substr(1));
    pending = true;
}

bool write_fd(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void init_units(int argc, char** argv) {
    g_argc = argc;
    g_argv = argv;
    g_next_arg = 1;
    g_one_console = isatty(0) == 1 && isatty(1) == 1;
}

std::string_view unit_name(int number) { return name_of(number); }

long line_number(int number) {
    if (number < 1 || number > kMaxUnit) return 0;
    return unit_at(number).kind == Kind::file ? unit_at(number).lineno : 0;
}

void open_unit(int number, std::string_view name) {
    if (number < 1 || number > kMaxUnit)
        io_error(IoError::too_many_units, IoOp::open, name, "unit number out of range");
    Unit& u = unit_at(number);
    if (u.kind == Kind::file) {
        // Reconnecting a unit closes what it was connected to.
        if (u.writing && !flush_out(out_of(number))) write_error(number);
        out_of(number).fd.store(-1);
        ::close(u.fd);
    }
    u = Unit{};
    std::string chosen(trim(name).substr(0, kNameUsed));
    if (chosen.empty()) chosen = resolve_blank_name(number);
    std::memcpy(u.name, chosen.data(), chosen.size());
    u.name_len = chosen.size();

    // Device names: the part before the first '.' decides, in any case.
    std::string_view full(u.name, u.name_len);
    std::size_t dot = full.find('.');
    bool has_ext = dot != std::string_view::npos && dot + 1 < full.size();
    std::string base(full.substr(0, dot));
    for (char& c : base)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (base == "CON" || (base == "USER" && !has_ext)) return connect_device(u, Kind::console, 1);
    if (base == "ERR" && !has_ext) return connect_device(u, Kind::err, 2);
    if (base == "NUL") return connect_device(u, Kind::null, -1);
    if (is_unavailable_device(base, has_ext)) {
        u.kind = Kind::none;
        io_error(IoError::device_unavailable, IoOp::open, full,
                 "device " + base + " is not available on this system");
    }
    open_file(number, u);
}

void put_record(int number, std::string_view record) {
    if (is_console(number)) return put_console_record(number, record);
    Unit& u = unit_at(number);
    switch (u.kind) {
    case Kind::err: return put_device_record(2, record, u.err_pending, number);
    case Kind::null: return;
    case Kind::file: return put_file_record(number, record);
    default: io_error(IoError::not_a_file, IoOp::write, name_of(number), "unit is not connected");
    }
}

std::string_view get_line(int number) {
    if (is_console(number)) return get_console_line(number);
    Unit& u = unit_at(number);
    switch (u.kind) {
    case Kind::file: return get_file_line(number);
    case Kind::err:
    case Kind::null:
        io_error(IoError::eof_file, IoOp::read, name_of(number), "end of file: the device has no input");
    default: io_error(IoError::not_a_file, IoOp::read, name_of(number), "unit is not connected");
    }
}

bool hold_interrupt(int sig) {
    if (g_out_busy == 0) return false;
    g_held_signal = sig;
    return true;
}

void write_committed_records() {
    for (FileOut& o : g_out) {
        const int fd = o.fd.load();
        const std::size_t n = o.committed.load();
        if (fd >= 0 && n > 0) write_fd(fd, o.bytes, n);
    }
}

bool flush_all_units() {
    bool ok = true;
    for (int k = 1; k <= kMaxUnit; ++k) {
        Unit& u = g_units[k];
        if (u.kind != Kind::file) continue;
        if (!flush_out(out_of(k))) {
            ok = false;
            report_write_failure({u.name, u.name_len});
        }
    }
    return ok;
}

void remove_if_left_empty(int number) {
    if (number < 1 || number > kMaxUnit) return;
    const Unit& u = unit_at(number);
    if (u.kind == Kind::file && u.created && g_transient[number].path[0] != '\0')
        g_transient[number].armed.store(true);
}

void remove_empty_created_files() {
    for (int k = 1; k <= kMaxUnit; ++k) {
        Transient& t = g_transient[k];
        if (!t.armed.load()) continue;
        struct stat st {};
        const int fd = g_out[k].fd.load();
        if (fd >= 0 && fstat(fd, &st) == 0 && st.st_size == 0) unlink(t.path);
        t.armed.store(false);
    }
}

void hold_records(int number) {
    if (number < 1 || number > kMaxUnit) return;
    Unit& u = unit_at(number);
    if (u.kind == Kind::file && u.regular && !u.writing) u.held = true;
}

namespace {

// The held records into a new file beside the one they replace, on disk,
// then put in its place by one rename: the data file is either as it was
// or holds the whole of them.
[[noreturn]] void release_failed(int number, const std::string& temp, int err) {
    if (!temp.empty()) unlink(temp.c_str());
    io_error(IoError::write_failed, IoOp::write, name_of(number),
             std::string("cannot write the file: ") + std::strerror(err) + "; it is left as it was before the run");
}

int write_replacement(int number, Unit& u, const std::string& target, std::string& temp) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string pattern = folder + "." + base + ".XXXXXX";
    const int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) release_failed(number, {}, errno);
    temp = pattern;
    struct stat st {};
    if (fstat(u.fd, &st) == 0) fchmod(fd, st.st_mode & 07777);
    if (!write_fd(fd, u.held_bytes.data(), u.held_bytes.size()) || fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        release_failed(number, temp, err);
    }
    return fd;
}

}  // namespace

void release_records(int number) {
    if (number < 1 || number > kMaxUnit || !unit_at(number).held) return;
    Unit& u = unit_at(number);
    const std::string target = follow_links(std::string(u.name, u.name_len));
    int fd = -1;
    with_interrupts_held([&] {
        std::string temp;
        fd = write_replacement(number, u, target, temp);
        if (rename(temp.c_str(), target.c_str()) != 0) {
            const int err = errno;
            ::close(fd);
            release_failed(number, temp, err);
        }
        return true;
    });
    // The unit goes on with the new file, at its end.
    ::close(u.fd);
    if (fd <= 2) {
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        fd = moved;
    }
    u.fd = fd;
    out_of(number).fd.store(fd);
    struct stat st {};
    if (fd >= 0 && fstat(fd, &st) == 0) {
        u.dev = st.st_dev;
        u.ino = st.st_ino;
    }
    u.held = false;
    u.held_bytes.clear();
    u.writing = true;
    g_transient[number].armed.store(false);
}

void read_only(int number) {
    if (number < 1 || number > kMaxUnit) return;
    Unit& u = unit_at(number);
    if (u.kind != Kind::file || !u.can_write || u.writing) return;
    // The same open file, read only, so that a writer at the other end of a
    // pipe is the only one and its end is seen.
    const std::string self = "/proc/self/fd/" + std::to_string(u.fd);
    int fd = ::open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return;
    if (fd <= 2) {
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        fd = moved;
        if (fd < 0) return;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (lseek(u.fd, 0, SEEK_CUR) > 0) lseek(fd, lseek(u.fd, 0, SEEK_CUR), SEEK_SET);
    struct stat st {};
    u.await_writer = fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
    ::close(u.fd);
    u.fd = fd;
    out_of(number).fd.store(fd);
    u.can_write = false;
}

bool interactive_console(int number) {
    return g_one_console && number >= 0 && number <= kMaxUnit && is_console(number);
}

bool console_line_pending() { return g_pending; }
void set_console_pending(bool pending) { g_pending = pending; }

}  // namespace textio
