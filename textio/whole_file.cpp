#include "textio/whole_file.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "textio/descriptors.h"
#include "textio/units.h"

namespace textio {
namespace {

// The new files not yet put in place, in fixed storage that an interrupt's
// handler may read: a slot's name is complete whenever the slot is armed.
constexpr int kPendingSlots = 32;
struct Pending {
    std::atomic<bool> taken{false};
    std::atomic<bool> armed{false};
    char name[PATH_MAX] = {};
};
Pending g_pending[kPendingSlots];

// The asynchronous signals held while a new file is made and recorded, or
// renamed and forgotten: a handler that removes the pending files then sees
// each one either recorded or gone.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t all;
        sigfillset(&all);
        for (const int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT}) sigdelset(&all, sig);
        pthread_sigmask(SIG_BLOCK, &all, &old_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t old_;
};

int take_slot() {
    for (int k = 0; k < kPendingSlots; ++k) {
        bool free = false;
        if (g_pending[k].taken.compare_exchange_strong(free, true)) return k;
    }
    return -1;
}

void free_slot(int k) {
    if (k < 0) return;
    g_pending[k].armed.store(false);
    g_pending[k].taken.store(false);
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The number after a prefix, the whole rest of the text being digits.
int number_after(std::string_view text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix) return -1;
    const std::string_view digits = text.substr(prefix.size());
    int n = -1;
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (digits.empty() || r.ec != std::errc() || r.ptr != digits.data() + digits.size()) return -1;
    return n;
}

// The descriptor a name's text stands for, or -1.
int descriptor_in_text(const std::string& name) {
    const std::string text = std::filesystem::path(name).lexically_normal().string();
    if (text == "/dev/stdin") return 0;
    if (text == "/dev/stdout") return 1;
    if (text == "/dev/stderr") return 2;
    const std::string own = "/proc/" + std::to_string(getpid()) + "/fd/";
    for (const std::string_view prefix : {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/"),
                                          std::string_view("/proc/thread-self/fd/"), std::string_view(own)})
        if (const int n = number_after(text, prefix); n >= 0) return n;
    return -1;
}

bool is_null_device(const struct stat& st) {
    struct stat null {};
    return S_ISCHR(st.st_mode) && stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode) && st.st_rdev == null.st_rdev;
}

// The standard stream open for writing whose open file is st, or -1.
int standard_stream_of(const struct stat& st) {
    for (const int fd : {1, 2, 0}) {
        struct stat s {};
        const int flags = fcntl(fd, F_GETFL);
        if (flags >= 0 && (flags & O_ACCMODE) != O_RDONLY && fstat(fd, &s) == 0 && s.st_dev == st.st_dev &&
            s.st_ino == st.st_ino)
            return fd;
    }
    return -1;
}

// Empty, or why fd cannot take an output.
std::string descriptor_refusal(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0) return "descriptor " + std::to_string(fd) + " is not open";
    if ((flags & O_ACCMODE) == O_RDONLY) return "descriptor " + std::to_string(fd) + " is open for reading only";
    // The program's own descriptors are all close-on-exec; one handed down
    // by the caller is not (the standard streams may be either).
    const int fd_flags = fcntl(fd, F_GETFD);
    if (fd > 2 && (fd_flags < 0 || (fd_flags & FD_CLOEXEC) != 0))
        return "descriptor " + std::to_string(fd) + " is not one this program was given";
    return {};
}

// The path made absolute, with its existing part's links resolved and the
// rest normalised; the path itself where that fails.
std::string normalised(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    return ec ? path : p.lexically_normal().string();
}

// A file of no name for the bytes that wait for a descriptor or a device:
// it goes with its descriptor, whatever ends the process.  -1 with errno.
int unnamed_file() {
    const char* dir = std::getenv("TMPDIR");
    const std::string folder = dir && *dir ? dir : "/tmp";
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        // A file system without unnamed files: one named for an instant.
        std::string pattern = folder + "/varnostik-XXXXXX";
        const SignalsHeld held;
        fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (fd >= 0) unlink(pattern.c_str());
    }
    return off_standard_streams(fd);
}

}  // namespace

std::string follow_links(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char link[PATH_MAX];
        const ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
        if (n <= 0) return path;
        std::string to(link, static_cast<std::size_t>(n));
        if (to.front() != '/') to = folder_of(path) + to;
        path = to;
    }
    return path;
}

int descriptor_named(const std::string& path) {
    if (path == "-") return 1;
    // The name's own text, and that of every link on the way, before the
    // link is read: /proc/self/fd/N leads to the open file's name, or to
    // no name at all for a pipe.
    std::string at = path;
    for (int hops = 0; hops < 40; ++hops) {
        if (const int fd = descriptor_in_text(at); fd >= 0) return fd;
        struct stat st {};
        if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        char link[PATH_MAX];
        const ssize_t n = readlink(at.c_str(), link, sizeof link - 1);
        if (n <= 0) break;
        std::string to(link, static_cast<std::size_t>(n));
        at = to.front() == '/' ? to : folder_of(at) + to;
    }
    // Reached another way (a folder linked to /proc/self/fd...): the open
    // file that is no regular file, a pipe or a terminal, of a standard
    // stream.  A regular file named outright is replaced by its name; the
    // null device, which takes any number of outputs, is written in place.
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !is_null_device(st))
        return standard_stream_of(st);
    return -1;
}

mode_t new_file_mode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

int new_file_beside(const std::string& target, mode_t mode, NewFile& out) {
    const std::string folder = folder_of(target);
    std::string pattern = folder + "." + target.substr(folder.size()) + ".XXXXXX";
    if (pattern.size() >= PATH_MAX) return ENAMETOOLONG;
    int err = 0;
    {
        const SignalsHeld held;
        const int slot = take_slot();
        if (slot < 0) return EMFILE;
        int fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (fd >= 0) {
            std::memcpy(g_pending[slot].name, pattern.c_str(), pattern.size() + 1);
            g_pending[slot].armed.store(true);
            fd = off_standard_streams(fd);
            if (fd < 0) {
                err = errno;
                unlink(pattern.c_str());
            }
        } else {
            err = errno;
        }
        if (fd < 0) {
            free_slot(slot);
            return err;
        }
        out.fd = fd;
        out.slot = slot;
        out.name = pattern;
    }
    // mkostemp makes the file private; it gets the bits of the file it
    // replaces, or those of a new file.
    if (fchmod(out.fd, mode) != 0) {
        err = errno;
        close(out.fd);
        out.fd = -1;
        drop_new_file(out);
        return err;
    }
    return 0;
}

int put_in_place(NewFile& file, const std::string& target) {
    if (file.fd >= 0 && fsync(file.fd) != 0) return errno;
    {
        const SignalsHeld held;
        if (rename(file.name.c_str(), target.c_str()) != 0) return errno;
        free_slot(file.slot);
        file.slot = -1;
    }
    // The rename itself on disk too; a folder that cannot be flushed (some
    // file systems refuse) does not undo it.
    const std::string folder = folder_of(target);
    const int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return 0;
}

void drop_new_file(NewFile& file) {
    if (file.slot < 0) return;
    const SignalsHeld held;
    unlink(file.name.c_str());
    free_slot(file.slot);
    file.slot = -1;
}

void remove_pending_temporaries() {
    const int saved = errno;
    for (Pending& p : g_pending)
        if (p.armed.load()) {
            unlink(p.name);
            p.armed.store(false);
        }
    errno = saved;
}

// ------------------------------------------------------------ Replacement

Replacement::~Replacement() { discard(); }

std::string Replacement::failed(int err) const { return "cannot write " + path_ + ": " + std::strerror(err); }

void Replacement::discard() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!committed_ && slot_ >= 0) {
        NewFile f{-1, slot_, temp_};
        drop_new_file(f);
    }
    slot_ = -1;
}

std::string Replacement::open(const std::string& path) {
    discard();
    path_ = path;
    kind_ = Kind::none;
    temp_.clear();
    target_.clear();
    committed_ = false;
    if (path.empty()) return "no file name given for an output";
    if (const int fd = descriptor_named(path); fd >= 0) {
        if (const std::string e = descriptor_refusal(fd); !e.empty()) return "cannot write " + path + ": " + e;
        if ((fd_ = unnamed_file()) < 0) return failed(errno);
        kind_ = Kind::descriptor;
        target_fd_ = fd;
        return {};
    }
    if (path.back() == '/') return "cannot write " + path + ": a folder, not a file";
    struct stat st {};
    mode_t mode = 0;
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return "cannot write " + path + ": it is a folder, not a file";
        if (!S_ISREG(st.st_mode)) {
            if ((fd_ = unnamed_file()) < 0) return failed(errno);
            kind_ = Kind::device;
            target_ = path;
            return {};
        }
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        return failed(errno);
    } else {
        mode = new_file_mode();
    }
    target_ = follow_links(path);
    NewFile f;
    if (const int err = new_file_beside(target_, mode, f); err != 0) return failed(err);
    kind_ = Kind::file;
    fd_ = f.fd;
    slot_ = f.slot;
    temp_ = f.name;
    return {};
}

std::string Replacement::write(std::string_view bytes) {
    if (kind_ == Kind::none) return "cannot write " + path_ + ": the output was not made";
    if (fd_ < 0) return "cannot write " + path_ + ": the output is closed";
    if (!write_fd(fd_, bytes.data(), bytes.size())) return failed(errno != 0 ? errno : EIO);
    return {};
}

std::string Replacement::prepare(const std::string& path, std::string_view bytes) {
    std::string e = open(path);
    if (e.empty()) e = write(bytes);
    if (!e.empty()) discard();
    return e;
}

// Opens a device or FIFO for writing.  A FIFO without a reader is waited
// for; with wake_fd, a few milliseconds at a time, the wait given up (EINTR)
// once wake_fd is readable, so that an interrupt that came at any moment
// ends it.
static int open_in_place(const std::string& path, int wake_fd) {
    if (wake_fd < 0) return ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    for (;;) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            const int flags = fcntl(fd, F_GETFL);
            if (flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) return fd;
            const int err = errno;
            close(fd);
            errno = err;
            return -1;
        }
        // ENXIO: a FIFO without a reader yet, worth waiting for; a socket,
        // which no open takes, says the same and is given up at once.
        if (errno != ENXIO) return -1;
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) {
            errno = ENXIO;
            return -1;
        }
        pollfd wake{wake_fd, POLLIN, 0};
        if (poll(&wake, 1, 20) > 0) {
            errno = EINTR;
            return -1;
        }
    }
}

std::string Replacement::commit(int wake_fd) {
    if (committed_) return {};
    switch (kind_) {
    case Kind::none: return "cannot write " + path_ + ": the output was not made";
    case Kind::descriptor:
        if (const int err = copy_held(target_fd_, wake_fd); err != 0) return failed(err);
        break;
    case Kind::device: {
        // Written in place: no creation, no truncation.  Opening a FIFO
        // waits for its reader.
        const int fd = open_in_place(target_, wake_fd);
        if (fd < 0) return failed(errno);
        struct stat st {};
        std::string e;
        if (fstat(fd, &st) != 0) e = failed(errno);
        else if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))
            e = "cannot write " + path_ + ": it became a file while the outputs were made";
        else if (const int err = copy_held(fd, wake_fd); err != 0) e = failed(err);
        if (close(fd) != 0 && errno != EINTR && e.empty()) e = failed(errno);
        if (!e.empty()) return e;
        break;
    }
    case Kind::file: {
        NewFile f{fd_, slot_, temp_};
        const int err = put_in_place(f, target_);
        slot_ = f.slot;
        const int closed = close(f.fd);
        const int close_err = errno;
        fd_ = -1;
        if (err != 0) return failed(err);
        if (closed != 0 && close_err != EINTR) return failed(close_err);
        break;
    }
    }
    committed_ = true;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return {};
}

namespace {

// Waits until `to` takes bytes or wake_fd is readable; 0, or EINTR for the
// wake-up.  A descriptor shared with other processes keeps its blocking
// mode: the wait is a poll, and what follows it is at most one pipe page,
// which a pipe that polls writable takes without blocking.
int wait_for_room(int to, int wake_fd) {
    pollfd fds[2] = {{to, POLLOUT, 0}, {wake_fd, POLLIN, 0}};
    for (;;) {
        const int n = poll(fds, 2, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (fds[1].revents & POLLIN) return EINTR;
        return 0;  // writable, or an error the write itself will tell
    }
}

}  // namespace

int Replacement::copy_held(int to, int wake_fd) {
    if (lseek(fd_, 0, SEEK_SET) != 0) return errno;
    constexpr std::size_t kPipePage = 4096;
    char buf[1 << 16];
    for (;;) {
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n == 0) return 0;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (wake_fd < 0) {
            if (!write_fd(to, buf, static_cast<std::size_t>(n))) return errno != 0 ? errno : EIO;
            continue;
        }
        for (std::size_t done = 0; done < static_cast<std::size_t>(n);) {
            if (const int err = wait_for_room(to, wake_fd); err != 0) return err;
            const std::size_t part = std::min(kPipePage, static_cast<std::size_t>(n) - done);
            if (!write_fd(to, buf + done, part)) return errno != 0 ? errno : EIO;
            done += part;
        }
    }
}

std::string write_whole(const std::string& path, std::string_view bytes) {
    Replacement r;
    std::string e = r.prepare(path, bytes);
    if (e.empty()) e = r.commit();
    return e;
}

// ------------------------------------------------------------ clashes

namespace {

bool same_file(const NamedFile& a, const NamedFile& b) {
    // "-" is standard output as an output, and a file of that name as an input.
    const int da = a.output ? descriptor_named(a.path) : -1;
    const int db = b.output ? descriptor_named(b.path) : -1;
    if (da >= 0 && db >= 0) return da == db;
    if ((a.output && a.path == "-") || (b.output && b.path == "-")) return false;
    struct stat sa {}, sb {};
    const bool ea = stat(a.path.c_str(), &sa) == 0, eb = stat(b.path.c_str(), &sb) == 0;
    if (ea && eb) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino && !is_null_device(sa);
    if (ea != eb) return false;
    return normalised(a.path) == normalised(b.path);
}

}  // namespace

std::string clash(const std::vector<NamedFile>& files) {
    for (std::size_t i = 0; i < files.size(); ++i)
        for (std::size_t j = i + 1; j < files.size(); ++j) {
            const NamedFile& a = files[i];
            const NamedFile& b = files[j];
            if (!(a.output || b.output) || !same_file(a, b)) continue;
            if (a.output && b.output) {
                const int fd = descriptor_named(a.path);
                if (fd == 1) return a.role + " and " + b.role + " both go to standard output (-)";
                if (fd >= 0) return a.role + " and " + b.role + " both go to descriptor " + std::to_string(fd);
            }
            return a.role + " " + a.path + " and " + b.role + " " + b.path + " are the same file: " +
                   (a.output && b.output ? "one output would replace the other" : "the output would replace what is read");
        }
    return {};
}

}  // namespace textio
