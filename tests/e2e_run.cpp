// Child-process runner for the end-to-end tests.
#include "e2e_run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

// A fresh folder for one run, removed when the run is over.
struct Folder {
    fs::path path;
    Folder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/varnostik_e2e_XXXXXX";
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        path = tmpl;
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

void write_file(const fs::path& p, const std::string& bytes) {
    // A name with a folder in it ("sub/name") has the folder made too.
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    std::ofstream f(p, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::map<std::string, std::string> collect(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (!e.is_regular_file() || e.is_symlink()) continue;
        std::ifstream f(e.path(), std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        files[fs::relative(e.path(), dir).string()] = ss.str();
    }
    return files;
}

// Reads what is there on fd into out; false at end of file or on an error
// (a pseudo-terminal master reports EIO once the last slave is closed).
bool drain(int fd, std::string& out) {
    char buf[65536];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
        out.append(buf, static_cast<size_t>(n));
        return true;
    }
    return n < 0 && (errno == EINTR || errno == EAGAIN);
}

[[noreturn]] void exec_child(const fs::path& dir, const Run& r) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(r.program.c_str()));
    for (const auto& a : r.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (int fd : r.closed) close(fd);
    for (const auto& [name, value] : r.env) setenv(name.c_str(), value.c_str(), 1);
    // The signals as a shell would leave them to a program it starts.
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execv(r.program.c_str(), argv.data());
    _exit(127);
}

// Reads standard output and error until both end (or the deadline passes),
// and types the chunks one by one, each once the output has been quiet for
// quiet_ms.  The inputs of the tests are small: a chunk is written at once.
void talk(pid_t pid, const Run& r, const fs::path& dir, int to_child, bool close_after, int out, int err,
          const std::vector<std::string>& chunks, int quiet_ms, Outcome& o) {
    const auto deadline = Clock::now() + r.timeout;
    bool out_open = true, err_open = true;
    bool to_signal = r.signal != 0;
    const bool close_input = close_after;
    close_after = close_after && !to_signal;
    size_t next = 0;
    if (chunks.empty() && close_after) close(to_child);
    // Input is typed even when the child has closed its output.
    while (out_open || err_open || next < chunks.size()) {
        if (to_signal && next == chunks.size() && r.when(dir.string(), o.out)) {
            kill(pid, r.signal);
            to_signal = false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            kill(-pid, SIGKILL);
            o.timed_out = true;
            break;
        }
        const bool feeding = next < chunks.size();
        pollfd fds[2] = {{out_open ? out : -1, POLLIN, 0}, {err_open ? err : -1, POLLIN, 0}};
        const int wait_ms = feeding ? quiet_ms : to_signal ? 5 : static_cast<int>(left.count());
        const int n = poll(fds, 2, wait_ms);
        if (n > 0) {
            if (fds[0].revents) out_open = drain(out, o.out);
            if (fds[1].revents) err_open = drain(err, o.err);
        } else if (n == 0 && feeding) {
            const std::string& c = chunks[next++];
            if (write(to_child, c.data(), c.size()) != static_cast<ssize_t>(c.size())) next = chunks.size();
            if (next == chunks.size() && close_after) close(to_child);
        }
    }
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {}
    if (close_input && !close_after) close(to_child);
    if (WIFEXITED(st)) o.status = WEXITSTATUS(st);
    if (WIFSIGNALED(st)) o.signal = WTERMSIG(st);
}

// Standard error: a pipe, or a pseudo-terminal of its own (the master
// side read as it is, no output processing).  [0] is read, [1] the child's.
void error_stream(const Run& r, int err[2]) {
    if (!r.stderr_terminal) {
        if (pipe2(err, O_CLOEXEC)) throw std::runtime_error("pipe failed");
        return;
    }
    if (openpty(&err[0], &err[1], nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    termios t{};
    tcgetattr(err[1], &t);
    t.c_oflag &= ~OPOST;
    tcsetattr(err[1], TCSANOW, &t);
    fcntl(err[0], F_SETFD, FD_CLOEXEC);
    fcntl(err[1], F_SETFD, FD_CLOEXEC);
}

// Pipes for standard input and output.
void run_pipes(const fs::path& dir, const Run& r, Outcome& o) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC)) throw std::runtime_error("pipe failed");
    error_stream(r, err);
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        exec_child(dir, r);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    std::vector<std::string> chunks;
    if (!r.input.empty()) chunks.push_back(r.input);
    talk(pid, r, dir, in[1], true, out[0], err[0], chunks, 0, o);
    close(out[0]);
    close(err[0]);
}

// Standard input and output on a pseudo-terminal, as a user at a terminal:
// no echo, no output processing, canonical input typed line by line.
void run_terminal(const fs::path& dir, const Run& r, Outcome& o) {
    int master = -1, slave = -1, err[2];
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    error_stream(r, err);
    termios t{};
    tcgetattr(slave, &t);
    t.c_iflag &= ~(ICRNL | INLCR | IGNCR | IXON | IXOFF);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE);
    t.c_lflag |= ICANON;
    t.c_cc[VEOF] = 4;
    tcsetattr(slave, TCSANOW, &t);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        ioctl(slave, TIOCSCTTY, 0);
        dup2(slave, 0);
        dup2(slave, 1);
        dup2(err[1], 2);
        if (slave > 2) close(slave);
        exec_child(dir, r);
    }
    close(slave);  // the master then reports the end once the child has gone
    close(err[1]);
    std::vector<std::string> chunks;
    for (size_t pos = 0; pos < r.input.size();) {
        const size_t nl = r.input.find('\n', pos);
        const size_t end = nl == std::string::npos ? r.input.size() : nl + 1;
        chunks.push_back(r.input.substr(pos, end - pos) + (nl == std::string::npos ? "\x04" : ""));
        pos = end;
    }
    chunks.emplace_back("\x04");
    talk(pid, r, dir, master, false, master, err[0], chunks, 15, o);
    close(master);
    close(err[0]);
}

}  // namespace

Outcome run(const Run& r) {
    static const bool sigpipe_ignored = [] { return signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();
    (void)sigpipe_ignored;
    Folder dir;
    for (const auto& [name, bytes] : r.files) write_file(dir.path / name, bytes);
    Outcome o;
    if (r.console == Console::terminal)
        run_terminal(dir.path, r, o);
    else
        run_pipes(dir.path, r, o);
    o.files = collect(dir.path);
    return o;
}

std::string visible(std::string_view bytes) {
    std::string s;
    for (unsigned char c : bytes) {
        if (c == '\r') s += "\\r";
        else if (c == '\n') s += "\\n";
        else if (c == '\t') s += "\\t";
        else if (c == '\\') s += "\\\\";
        else if (c < 32 || c >= 127) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02x", c);
            s += b;
        } else s += static_cast<char>(c);
    }
    return s;
}

testing::AssertionResult same_bytes(std::string_view what, std::string_view want,
                                    std::string_view got) {
    if (want == got) return testing::AssertionSuccess();
    size_t i = 0;
    while (i < want.size() && i < got.size() && want[i] == got[i]) ++i;
    size_t line = 1;
    for (size_t k = 0; k < i; ++k) line += want[k] == '\n';
    const size_t lo = i > 60 ? i - 60 : 0;
    return testing::AssertionFailure()
           << what << " differs at byte " << i << " (line " << line << "; lengths expected "
           << want.size() << ", got " << got.size() << ")\n  expected: \""
           << visible(want.substr(std::min(lo, want.size()), i - lo + 60)) << "\"\n  got:      \""
           << visible(got.substr(std::min(lo, got.size()), i - lo + 60)) << "\"";
}

}  // namespace e2e
