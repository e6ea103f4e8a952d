// Opening units: names (blank ones from the command line or asked for),
// devices, and files found or made.
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "textio/descriptors.h"
#include "textio/record_buffer.h"
#include "textio/runtime.h"
#include "textio/unit_table.h"
#include "textio/units.h"
#include "textio/whole_file.h"

namespace textio {
namespace {

int g_argc = 0;
char** g_argv = nullptr;
int g_next_arg = 1;

// The platform devices that this system cannot reach here.
bool is_unavailable_device(std::string_view base, bool has_ext) {
    static constexpr std::string_view kNames[] = {"PRN",  "COM1", "COM2", "COM3", "COM4", "LPT1",
                                                  "LPT2", "LPT3", "LPT4", "AUX"};
    for (std::string_view n : kNames)
        if (base == n) return true;
    return base == "LINE" && !has_ext;
}

void connect_device(Unit& u, UnitKind kind, int fd) {
    u.kind = kind;
    u.fd = fd;
    u.regular = false;
}

std::string blank_name_from_console(int number) {
    std::string prompt = "File name missing or blank - please enter file name\r\nUNIT " +
                         std::to_string(number) + "? ";
    for (;;) {
        if (console_line_pending()) {
            set_console_pending(false);
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
    Transient& t = transient_at(number);
    t.armed.store(false);
    if (u.created && made.size() < sizeof t.path) {
        std::memcpy(t.path, made.c_str(), made.size() + 1);
    } else {
        t.path[0] = '\0';
    }
    if (fd >= 0 && fd <= 2) {
        // Never on a standard stream's descriptor (one closed at start-up
        // and not reopened).
        fd = off_standard_streams(fd);
        err = errno;
    }
    if (fd < 0) {
        u.kind = UnitKind::none;
        io_error(IoError::open_failed, IoOp::open, {u.name, u.name_len},
                 "cannot open file " + quoted_excerpt(path) + ": " + std::strerror(err));
    }
    u.can_read = can_read;
    u.can_write = can_write;
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        u.kind = UnitKind::none;
        io_error(IoError::not_a_file, IoOp::open, {u.name, u.name_len},
                 quoted_excerpt(path) + " is a folder, not a file");
    }
    for (int k = 1; k <= kMaxUnit; ++k) {
        const Unit& o = unit_at(k);
        if (k != number && o.kind == UnitKind::file && o.dev == st.st_dev && o.ino == st.st_ino) {
            ::close(fd);
            u.kind = UnitKind::none;
            io_error(IoError::already_connected, IoOp::open, {u.name, u.name_len},
                     "file " + quoted_excerpt(path) + " is already connected to unit " + std::to_string(k) +
                         "; give each of the three files a name of its own");
        }
    }
    u.kind = UnitKind::file;
    u.fd = fd;
    attach_buffer(number, fd);
    u.regular = S_ISREG(st.st_mode);
    u.dev = st.st_dev;
    u.ino = st.st_ino;
}


}  // namespace

void init_units(int argc, char** argv) {
    g_argc = argc;
    g_argv = argv;
    g_next_arg = 1;
    set_one_console(isatty(0) == 1 && isatty(1) == 1);
}

std::string_view unit_name(int number) { return name_of(number); }

void open_unit(int number, std::string_view name) {
    if (number < 1 || number > kMaxUnit)
        io_error(IoError::too_many_units, IoOp::open, name, "unit number out of range");
    Unit& u = unit_at(number);
    if (u.kind == UnitKind::file) {
        // Reconnecting a unit closes what it was connected to.
        if (u.writing && !flush_buffer(number)) write_error(number);
        move_buffer(number, -1);
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
    if (base == "CON" || (base == "USER" && !has_ext)) return connect_device(u, UnitKind::console, 1);
    if (base == "ERR" && !has_ext) return connect_device(u, UnitKind::err, 2);
    if (base == "NUL") return connect_device(u, UnitKind::null, -1);
    if (is_unavailable_device(base, has_ext)) {
        u.kind = UnitKind::none;
        io_error(IoError::device_unavailable, IoOp::open, full,
                 "device " + base + " is not available on this system");
    }
    open_file(number, u);
}


}  // namespace textio
