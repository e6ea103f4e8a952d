// The file units: their records on the way to the file (or held until a
// whole model replaces it), their lines, and what the end of the run does
// with them.
#include "textio/units.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "textio/descriptors.h"
#include "textio/lines.h"
#include "textio/record_buffer.h"
#include "textio/runtime.h"
#include "textio/unit_table.h"
#include "textio/whole_file.h"

namespace textio {
namespace {

Unit g_units[kMaxUnit + 1];
Transient g_transient[kMaxUnit + 1];

}  // namespace

Unit& unit_at(int number) { return g_units[number]; }
Transient& transient_at(int number) { return g_transient[number]; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

bool is_console(int number) {
    return number == kConsole || unit_at(number).kind == UnitKind::console;
}

std::string_view name_of(int number) {
    if (number == kConsole) return kConsoleName;
    const Unit& u = unit_at(number);
    return {u.name, u.name_len};
}

[[noreturn]] void write_error(int number) {
    int err = errno;
    std::string message = std::string("cannot write the file: ") + std::strerror(err);
    if (file_cut_back()) message += "; it is cut back to its last complete record";
    io_error(IoError::write_failed, IoOp::write, name_of(number), message);
}

namespace {

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
    if (!buffer_record(number, record)) write_error(number);
}

}  // namespace

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

namespace {

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
        if (!flush_buffer(number)) write_error(number);
        u.writing = false;
        off_t here = lseek(u.fd, 0, SEEK_CUR);
        u.consumed = here < 0 ? 0 : here;
        u.ibuf.clear();
        u.ipos = 0;
        u.at_eof = false;
    }
    for (;;) {
        const LineCut cut = cut_line(std::string_view(u.ibuf).substr(u.ipos), u.at_eof, true);
        if (cut.length > kFileBuffer) break;
        if (cut.kind == LineCut::line) {
            // A last line without a line end is read like any other.
            u.line.assign(u.ibuf, u.ipos, cut.length);
            u.consumed += static_cast<off_t>(cut.next);
            u.ipos += cut.next;
            ++u.lineno;
            return u.line;
        }
        if (cut.kind == LineCut::none)
            io_error(IoError::eof_file, IoOp::read, name_of(number),
                     "end of file after line " + std::to_string(u.lineno) + empty_file_hint(u));
        const bool nothing_yet = u.ipos == u.ibuf.size();
        bool more = fill(u.fd, u.ibuf, u.ipos, u.at_eof, number);
        while (!more && u.await_writer && nothing_yet) {
            // No writer has come yet: wait for its first bytes.
            const timespec pause{0, 10'000'000};
            nanosleep(&pause, nullptr);
            u.at_eof = false;
            more = fill(u.fd, u.ibuf, u.ipos, u.at_eof, number);
        }
        u.await_writer = false;
    }
    io_error(IoError::record_too_long, IoOp::read, name_of(number),
             "line " + std::to_string(u.lineno + 1) + " longer than 1024 characters");
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



long line_number(int number) {
    if (number < 1 || number > kMaxUnit) return 0;
    return unit_at(number).kind == UnitKind::file ? unit_at(number).lineno : 0;
}


void put_record(int number, std::string_view record) {
    if (is_console(number)) return put_console_record(number, record);
    Unit& u = unit_at(number);
    switch (u.kind) {
    case UnitKind::err: return put_device_record(2, record, u.err_pending, number);
    case UnitKind::null: return;
    case UnitKind::file: return put_file_record(number, record);
    default: io_error(IoError::not_a_file, IoOp::write, name_of(number), "unit is not connected");
    }
}

std::string_view get_line(int number) {
    if (is_console(number)) return get_console_line(number);
    Unit& u = unit_at(number);
    switch (u.kind) {
    case UnitKind::file: return get_file_line(number);
    case UnitKind::err:
    case UnitKind::null:
        io_error(IoError::eof_file, IoOp::read, name_of(number), "end of file: the device has no input");
    default: io_error(IoError::not_a_file, IoOp::read, name_of(number), "unit is not connected");
    }
}


bool flush_all_units() {
    bool ok = true;
    for (int k = 1; k <= kMaxUnit; ++k) {
        Unit& u = unit_at(k);
        if (u.kind != UnitKind::file) continue;
        if (!flush_buffer(k)) {
            ok = false;
            report_write_failure({u.name, u.name_len});
        }
    }
    return ok;
}

void remove_if_left_empty(int number) {
    if (number < 1 || number > kMaxUnit) return;
    const Unit& u = unit_at(number);
    if (u.kind == UnitKind::file && u.created && transient_at(number).path[0] != '\0')
        transient_at(number).armed.store(true);
}

void remove_empty_created_files() {
    for (int k = 1; k <= kMaxUnit; ++k) {
        Transient& t = transient_at(k);
        if (!t.armed.load()) continue;
        struct stat st {};
        const int fd = buffer_fd(k);
        if (fd >= 0 && fstat(fd, &st) == 0 && st.st_size == 0) unlink(t.path);
        t.armed.store(false);
    }
}

void hold_records(int number) {
    if (number < 1 || number > kMaxUnit) return;
    Unit& u = unit_at(number);
    if (u.kind == UnitKind::file && u.regular && !u.writing) u.held = true;
}

namespace {

// The held records into a new file beside the one they replace, on disk,
// then put in its place by one rename: the data file is either as it was
// or holds the whole of them.  The steps are those of every whole file's
// replacement, run here with the interrupts held from the new file's making
// to the rename, and with the new file's descriptor kept: the records that
// follow the release go on into it.
[[noreturn]] void release_failed(int number, NewFile& file, int err) {
    if (file.fd >= 0) ::close(file.fd);
    drop_new_file(file);
    io_error(IoError::write_failed, IoOp::write, name_of(number),
             std::string("cannot write the file: ") + std::strerror(err) + "; it is left as it was before the run");
}

}  // namespace

void release_records(int number) {
    if (number < 1 || number > kMaxUnit || !unit_at(number).held) return;
    Unit& u = unit_at(number);
    const std::string target = follow_links(std::string(u.name, u.name_len));
    NewFile file;
    with_interrupts_held([&] {
        struct stat st {};
        const mode_t mode = fstat(u.fd, &st) == 0 ? st.st_mode & 07777 : new_file_mode();
        if (const int err = new_file_beside(target, mode, file); err != 0) release_failed(number, file, err);
        if (!write_fd(file.fd, u.held_bytes.data(), u.held_bytes.size())) release_failed(number, file, errno);
        if (const int err = put_in_place(file, target); err != 0) release_failed(number, file, err);
        return true;
    });
    // The unit goes on with the new file, at its end.
    ::close(u.fd);
    const int fd = file.fd;
    u.fd = fd;
    move_buffer(number, fd);
    struct stat st {};
    if (fstat(fd, &st) == 0) {
        u.dev = st.st_dev;
        u.ino = st.st_ino;
    }
    u.held = false;
    u.held_bytes.clear();
    u.writing = true;
    transient_at(number).armed.store(false);
}

void read_only(int number) {
    if (number < 1 || number > kMaxUnit) return;
    Unit& u = unit_at(number);
    if (u.kind != UnitKind::file || !u.can_write || u.writing) return;
    // The same open file, read only, so that a writer at the other end of a
    // pipe is the only one and its end is seen.
    const std::string self = "/proc/self/fd/" + std::to_string(u.fd);
    const int fd = off_standard_streams(::open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd < 0) return;
    // Opened without waiting for a writer; its reads wait for one.
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return;
    }
    if (lseek(u.fd, 0, SEEK_CUR) > 0) lseek(fd, lseek(u.fd, 0, SEEK_CUR), SEEK_SET);
    struct stat st {};
    u.await_writer = fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
    ::close(u.fd);
    u.fd = fd;
    move_buffer(number, fd);
    u.can_write = false;
}


}  // namespace textio
