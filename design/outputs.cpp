#include "design/outputs.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "design/description.h"
#include "design/interrupt.h"
#include "textio/whole_file.h"

namespace design {

namespace {

[[noreturn]] void cannot_write(const std::string& path, int err) {
    throw Refused("cannot write " + path + ": " + std::strerror(err));
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
// comes, watching for an interrupt meanwhile (a socket, which cannot be
// opened, is refused with the same ENXIO).
int open_in_place(const std::string& path) {
    for (;;) {
        const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) return fd;
        const int err = errno;
        struct stat st {};
        if (err == ENXIO && stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
            pollfd interrupt = {interrupt_fd(), POLLIN, 0};
            if (poll(&interrupt, 1, 50) < 0 && errno != EINTR) cannot_write(path, errno);
            stop_if_interrupted();
        } else if (err == EINTR) {
            stop_if_interrupted();
        } else {
            cannot_write(path, err);
        }
    }
}

}  // namespace

void refuse_clashes(const std::vector<FileRole>& files) {
    std::vector<textio::NamedFile> named;
    for (const FileRole& f : files) named.push_back({f.role, f.path, f.output});
    if (const std::string e = textio::clash(named); !e.empty()) throw Refused(e);
}

OutputSet::~OutputSet() = default;

void OutputSet::prepare(const std::string& path, const std::string& bytes) {
    stop_if_interrupted();
    if (path.empty()) throw Refused("an output needs a name");
    Pending p;
    p.path = path;
    p.descriptor = textio::descriptor_named(path);
    struct stat st {};
    if (p.descriptor < 0 && stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) throw Refused(path + ": is a folder");
        p.in_place = !S_ISREG(st.st_mode);
    }
    if (p.descriptor >= 0 || p.in_place) {
        // Written at commit by the companion itself: the wait for a FIFO's
        // reader or for room in a pipe must watch for an interrupt too.
        p.bytes = bytes;
    } else {
        p.file = std::make_unique<textio::Replacement>();
        if (const std::string e = p.file->prepare(path, bytes); !e.empty()) throw Refused(e);
    }
    pending_.push_back(std::move(p));
    stop_if_interrupted();
}

void OutputSet::commit() {
    for (Pending& p : pending_) {
        if (p.file) continue;
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
        if (!p.file) continue;
        stop_if_interrupted();
        if (const std::string e = p.file->commit(); !e.empty()) throw Refused(e);
    }
}

void write_output(const std::string& path, const std::string& bytes) {
    OutputSet out;
    out.prepare(path, bytes);
    out.commit();
}

}  // namespace design
