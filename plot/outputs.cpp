#include "plot/outputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "textio/units.h"

namespace plot {

Output::Output(std::string path) : path_(std::move(path)) {
    struct stat st {};
    stream_ = path_ == "-" || (stat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode));
}

Output::~Output() {
    if (fd_ >= 0) close(fd_);
    if (!temp_.empty() && !committed_) unlink(temp_.c_str());
}

std::string Output::failed() const { return "cannot write " + path_ + ": " + std::strerror(errno); }

std::string Output::create() {
    if (stream_) {
        // The bytes wait in a file of no name, which goes with its descriptor.
        const char* dir = std::getenv("TMPDIR");
        std::string tmpl = std::string(dir && *dir ? dir : "/tmp") + "/varnostik-plot-XXXXXX";
        fd_ = mkostemp(tmpl.data(), O_CLOEXEC);
        if (fd_ < 0) return failed();
        unlink(tmpl.c_str());
        return {};
    }
    const std::size_t slash = path_.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    std::string tmpl = dir + "." + base + ".XXXXXX";
    fd_ = mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd_ < 0) return failed();
    temp_ = tmpl;
    // mkstemp makes the file private; the result gets the usual
    // permissions of a new file.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
    return {};
}

std::string Output::write(std::string_view bytes) {
    if (fd_ < 0 || !textio::write_fd(fd_, bytes.data(), bytes.size())) return failed();
    return {};
}

std::string Output::close_temp() {
    const int fd = fd_;
    fd_ = -1;
    return fd >= 0 && close(fd) != 0 ? failed() : std::string();
}

bool Output::empty_file() const {
    struct stat st {};
    return stat(temp_.c_str(), &st) != 0 || st.st_size == 0;
}

std::string Output::commit() {
    if (stream_) {
        if (fd_ < 0 || lseek(fd_, 0, SEEK_SET) != 0) return failed();
        const int to = path_ == "-" ? dup(1) : open(path_.c_str(), O_WRONLY | O_CLOEXEC);
        if (to < 0) return failed();
        char buf[1 << 16];
        bool ok = true;
        for (ssize_t n; ok && (n = read(fd_, buf, sizeof buf)) != 0;) {
            if (n < 0) {
                if (errno == EINTR) continue;
                ok = false;
            } else {
                ok = textio::write_fd(to, buf, static_cast<std::size_t>(n));
            }
        }
        const int saved = errno;
        if (close(to) != 0 && errno != EINTR) ok = false;
        else errno = saved;
        return ok ? std::string() : failed();
    }
    if (fd_ >= 0) {
        const std::string e = close_temp();
        if (!e.empty()) return e;
    }
    if (rename(temp_.c_str(), path_.c_str()) != 0) return failed();
    committed_ = true;
    return {};
}

}  // namespace plot
