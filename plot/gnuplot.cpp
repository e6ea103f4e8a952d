#include "plot/gnuplot.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "plot/interrupt.h"
#include "textio/units.h"

namespace plot {
namespace {

// gnuplot's messages go to an unnamed temporary file rather than a pipe, so
// that a long list of warnings can never block it while the script is
// still being written.  gnuplot shows the offending command, a caret line,
// then the message: the first line that names an error or a line wins.
std::string first_error(int fd) {
    std::string text;
    char buf[4096];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0 && text.size() < (1u << 20);)
        text.append(buf, static_cast<std::size_t>(n));
    std::string best;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t b = line.find_first_not_of(" \t^");
        if (b == std::string::npos) continue;
        line = line.substr(b);
        if (line.find("rror") != std::string::npos || line.find("line ") == 0) return line;
        if (best.empty()) best = line;
    }
    return best;
}

std::string failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// The script goes over in pieces no larger than a pipe takes at once when
// it shows room for writing: a write then never blocks, and an interrupt
// is seen while gnuplot is slow to read (or reads nothing at all).
constexpr std::size_t kPiece = PIPE_BUF;

// A folder only this process can enter, removed with all in it when the
// object goes.
class PrivateFolder {
public:
    PrivateFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/varnostik-plot-XXXXXX";
        if (mkdtemp(name.data())) path_ = name;
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    ~PrivateFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;  // empty: none could be made
};

// The whole of a file gnuplot wrote; false when it cannot be read.
bool read_whole(const std::string& path, std::string& bytes) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    char buf[1 << 16];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        bytes.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return n == 0;
}

constexpr const char* kPictureNames[] = {"picture.svg", "picture.png", "picture.pdf"};

// The SVG terminal writes '>' as it is.  The script keeps "]]>", which may
// not stand in an XML document's text, out of every text drawn; but the
// terminal also gives each curve a tooltip, its name without markup, where
// a name's "]]>" would stand whole.  Written "]]&gt;" it reads the same.
// A CDATA section (none is written today) is left as it is.
void escape_cdata_ends(std::string& svg) {
    std::size_t pos = 0;
    while (true) {
        const std::size_t end = svg.find("]]>", pos), section = svg.find("<![CDATA[", pos);
        if (end == std::string::npos) return;
        if (section < end) {
            pos = end + 3;  // the section's own end
            continue;
        }
        svg.replace(end + 2, 1, "&gt;");
        pos = end + 6;
    }
}

}  // namespace

bool on_path(std::string_view program) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string_view dirs(path);
    while (true) {
        const std::size_t colon = dirs.find(':');
        // An empty entry of the PATH stands for the current folder.
        std::string_view dir = dirs.substr(0, colon);
        if (dir.empty()) dir = ".";
        std::string candidate;
        candidate.append(dir).append("/").append(program);
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return true;
        if (colon == std::string_view::npos) return false;
        dirs.remove_prefix(colon + 1);
    }
}

GnuplotProcess::~GnuplotProcess() {
    close_input();
    if (pid_ > 0) {
        // Still running: the drawing was given up (an interrupt, a failed
        // output).  Its picture is a temporary file that goes too.
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {}
    }
    if (errors_ >= 0) close(errors_);
}

void GnuplotProcess::close_input() {
    if (input_ >= 0) close(input_);
    input_ = -1;
}

std::string GnuplotProcess::start(const std::string& folder) {
    // In the drawing's own folder when there is one.
    const char* tmp = std::getenv("TMPDIR");
    std::string err_name = (folder.empty() ? std::string(tmp && *tmp ? tmp : "/tmp") : folder) + "/gnuplot-XXXXXX";
    errors_ = mkostemp(err_name.data(), O_CLOEXEC);
    if (errors_ < 0) return failure("cannot make a temporary file");
    unlink(err_name.c_str());
    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0) return failure("cannot make a pipe");
    pid_ = fork();
    if (pid_ < 0) {
        close(in[0]);
        close(in[1]);
        return failure("cannot start gnuplot");
    }
    if (pid_ == 0) {
        if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(127);
        const int null = open("/dev/null", O_WRONLY);
        dup2(in[0], 0);
        if (null >= 0) dup2(null, 1);
        dup2(errors_, 2);
        signal(SIGPIPE, SIG_DFL);
        char name[] = "gnuplot";
        char* argv[] = {name, nullptr};
        execvp(name, argv);
        _exit(127);
    }
    close(in[0]);
    input_ = in[1];
    // A gnuplot that ends early closes the pipe: a write then fails with
    // EPIPE instead of ending this process.
    signal(SIGPIPE, SIG_IGN);
    return {};
}

bool GnuplotProcess::feed(std::string_view text) {
    while (fed_ && !text.empty()) {
        if (interrupted()) return fed_ = false;
        pollfd fds[2] = {{input_, POLLOUT, 0}, {interrupt_fd(), POLLIN, 0}};
        const int ready = poll(fds, 2, -1);
        if ((ready < 0 && errno == EINTR) || fds[1].revents != 0) continue;  // the loop's look at the flag
        if (ready < 0 || (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return fed_ = false;
        const std::size_t n = std::min(text.size(), kPiece);
        fed_ = textio::write_fd(input_, text.data(), n);
        text.remove_prefix(n);
    }
    return fed_ && !interrupted();
}

GnuplotProcess::Outcome GnuplotProcess::finish() {
    close_input();
    Outcome out;
    // A wait for a child cannot be polled with the interrupt's descriptor:
    // it is looked at in short turns instead.
    int status = 0;
    while (!interrupted()) {
        const pid_t got = waitpid(pid_, &status, WNOHANG);
        if (got == pid_ || (got < 0 && errno != EINTR)) {
            pid_ = -1;
            break;
        }
        pollfd fd{interrupt_fd(), POLLIN, 0};
        poll(&fd, 1, 20);
    }
    if (const int sig = interrupted()) {
        out.kind = Outcome::Kind::interrupted;
        out.signal = sig;
        return out;  // the destructor ends gnuplot if it still runs
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
        out.kind = Outcome::Kind::failed;
        out.message = "gnuplot could not be started";
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !fed_) {
        const std::string why = first_error(errors_);
        out.kind = Outcome::Kind::failed;
        out.message = "gnuplot failed" + (why.empty() ? std::string() : ": " + why);
    }
    return out;
}

Drawing draw(const Curves& curves, const Style& style, Format format) {
    Drawing d;
    d.outcome.kind = GnuplotProcess::Outcome::Kind::failed;
    const PrivateFolder folder;
    if (folder.path().empty()) {
        d.outcome.message = failure("cannot make a temporary folder");
        return d;
    }
    const char* name = kPictureNames[static_cast<int>(format)];
    {
        // Ended and waited for (when still running) before the folder goes.
        GnuplotProcess gnuplot;
        if (std::string e = gnuplot.start(folder.path()); !e.empty()) {
            d.outcome.message = e;
            return d;
        }
        gnuplot.feed(gnuplot_script(curves, style, format, name));
        d.outcome = gnuplot.finish();
    }
    if (d.outcome.kind != GnuplotProcess::Outcome::Kind::done) return d;
    if (!read_whole(folder.path() + "/" + name, d.bytes) || d.bytes.empty()) {
        d.outcome.kind = GnuplotProcess::Outcome::Kind::failed;
        d.outcome.message = "gnuplot wrote no picture";
        d.bytes.clear();
    }
    if (format == Format::svg) escape_cdata_ends(d.bytes);
    return d;
}

}  // namespace plot
