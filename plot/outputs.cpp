#include "plot/outputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

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

namespace plot {
namespace {

bool is_null_device(const struct stat& st) {
    struct stat null {};
    return S_ISCHR(st.st_mode) && stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode) && st.st_rdev == null.st_rdev;
}

// The path made absolute, with its existing part's links resolved and the
// rest normalised; the path itself where that fails.
std::string normalised(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    return ec ? path : p.lexically_normal().string();
}

bool same_file(const NamedFile& a, const NamedFile& b) {
    // "-" is standard output as an output, and a file of that name as the input.
    const bool out_a = a.output && a.path == "-", out_b = b.output && b.path == "-";
    if (out_a || out_b) return out_a && out_b;
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
            if (a.output && b.output && a.path == "-") return a.role + " and " + b.role + " both go to standard output (-)";
            return a.role + " " + a.path + " and " + b.role + " " + b.path + " are the same file: " +
                   (a.output && b.output ? "one output would replace the other" : "the output would replace what is read");
        }
    return {};
}

}  // namespace plot
