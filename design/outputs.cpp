#include "design/outputs.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "design/description.h"
#include "design/interrupt.h"
#include "plot/outputs.h"

namespace design {

namespace {

[[noreturn]] void cannot_write(const std::string& path, int err) {
    throw Refused(path + ": cannot be written (" + std::strerror(err) + ")");
}

// The inherited descriptor that path stands for, or -1: "-", the names
// of a descriptor of the process (/dev/stdout, /dev/fd/N,
// /proc/self/fd/N), or a name of the same file as standard output or
// error.
int own_descriptor(const std::string& path, const struct stat* st) {
    if (path == "-" || path == "/dev/stdout") return 1;
    if (path == "/dev/stderr") return 2;
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const std::size_t n = std::strlen(prefix);
        if (path.compare(0, n, prefix) != 0 || path.size() == n || path.size() > n + 6) continue;
        if (path.find_first_not_of("0123456789", n) != std::string::npos) continue;
        const int fd = std::atoi(path.c_str() + n);
        const int flags = fcntl(fd, F_GETFL);
        if (flags >= 0 && (flags & O_ACCMODE) != O_RDONLY) return fd;
    }
    if (st == nullptr) return -1;
    for (int fd : {1, 2}) {
        struct stat f {};
        if (fstat(fd, &f) == 0 && f.st_dev == st->st_dev && f.st_ino == st->st_ino) return fd;
    }
    return -1;
}

// Waits until fd takes bytes or an interrupt comes (then throws).
void wait_for(int fd, short events) {
    pollfd fds[2] = {{fd, events, 0}, {interrupt_fd(), POLLIN, 0}};
    while (poll(fds, 2, 100) < 0 && errno == EINTR) stop_if_interrupted();
    stop_if_interrupted();
}

// The bytes through fd, waiting for room at an interrupt's notice.
void write_all(const std::string& path, int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            wait_for(fd, POLLOUT);
        } else if (n < 0 && errno == EINTR) {
            stop_if_interrupted();
        } else {
            cannot_write(path, n < 0 ? errno : EIO);
        }
    }
}

// Opens a device, FIFO or socket in place for writing, neither creating
// nor truncating it.  A FIFO without a reader is opened again until one
// comes, watching for an interrupt meanwhile.
int open_in_place(const std::string& path) {
    for (;;) {
        const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) return fd;
        if (errno == ENXIO) {
            pollfd interrupt = {interrupt_fd(), POLLIN, 0};
            if (poll(&interrupt, 1, 50) < 0 && errno != EINTR) cannot_write(path, errno);
            stop_if_interrupted();
        } else if (errno == EINTR) {
            stop_if_interrupted();
        } else {
            cannot_write(path, errno);
        }
    }
}

mode_t new_file_mode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

void refuse_clashes(const std::vector<FileRole>& files) {
    std::vector<plot::NamedFile> named;
    for (const FileRole& f : files) named.push_back({f.role, f.path, f.output});
    if (const std::string e = plot::clash(named); !e.empty()) throw Refused(e);
}

OutputSet::~OutputSet() {
    for (const Pending& p : pending_)
        if (!p.temp.empty()) unlink(p.temp.c_str());
}

void OutputSet::prepare(const std::string& path, const std::string& bytes) {
    stop_if_interrupted();
    if (path.empty()) throw Refused("an output needs a name");
    Pending p;
    p.path = path;
    struct stat st {};
    const bool exists = stat(path.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) cannot_write(path, errno);
    mode_t mode = 0;
    if (const int fd = own_descriptor(path, exists ? &st : nullptr); fd >= 0) {
        p.descriptor = fd;
    } else if (exists && S_ISDIR(st.st_mode)) {
        throw Refused(path + ": is a folder");
    } else if (exists && !S_ISREG(st.st_mode)) {
        p.in_place = true;
    } else if (exists) {
        // A link is followed: its final target is replaced, the link kept.
        char real[PATH_MAX];
        if (realpath(path.c_str(), real) == nullptr) cannot_write(path, errno);
        p.target = real;
        mode = st.st_mode & 07777;
    } else {
        p.target = path;
        mode = new_file_mode();
    }
    if (p.descriptor >= 0 || p.in_place) {
        p.bytes = bytes;
        pending_.push_back(std::move(p));
        return;
    }
    const std::size_t slash = p.target.rfind('/');
    std::string temp = (slash == std::string::npos ? std::string() : p.target.substr(0, slash + 1)) +
                       ".varnostik-design-XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) cannot_write(path, errno);
    p.temp = temp;
    pending_.push_back(p);  // removed by the destructor from here on
    int err = 0;
    try {
        write_all(path, fd, bytes);
    } catch (...) {
        close(fd);
        throw;
    }
    if (fchmod(fd, mode) != 0 || fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && err == 0) err = errno;
    if (err != 0) cannot_write(path, err);
}

void OutputSet::commit() {
    for (Pending& p : pending_) {
        if (p.descriptor < 0 && !p.in_place) continue;
        stop_if_interrupted();
        if (p.descriptor >= 0) {
            write_all(p.path, p.descriptor, p.bytes);
            continue;
        }
        const int fd = open_in_place(p.path);
        try {
            write_all(p.path, fd, p.bytes);
        } catch (...) {
            close(fd);
            throw;
        }
        if (close(fd) != 0 && errno != EINTR) cannot_write(p.path, errno);
    }
    for (Pending& p : pending_) {
        if (p.temp.empty()) continue;
        stop_if_interrupted();
        if (rename(p.temp.c_str(), p.target.c_str()) != 0) cannot_write(p.path, errno);
        p.temp.clear();
    }
}

void write_output(const std::string& path, const std::string& bytes) {
    OutputSet out;
    out.prepare(path, bytes);
    out.commit();
}

}  // namespace design
