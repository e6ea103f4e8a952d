// Faults put into a program under test through LD_PRELOAD, chosen by its
// environment, so that a full disk or an interrupt at an exact point can be
// tested without a real device and without waiting on a timing:
//   VARNOSTIK_FAULT_FULL=NAME          every write to an open file whose path
//                                      ends in /NAME fails with ENOSPC
//   VARNOSTIK_FAULT_CREATE_SIGNAL=N    signal N is raised right after the first
//                                      open that makes a file (O_CREAT)
//   VARNOSTIK_FAULT_RENAME_SIGNAL=N    signal N is raised right after the first
//                                      rename that succeeds
// Only system calls and fixed storage in write: the program writes from its
// signal handlers too.
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

using WriteFn = ssize_t (*)(int, const void*, size_t);
using OpenFn = int (*)(const char*, int, ...);
using RenameFn = int (*)(const char*, const char*);
using RenameAtFn = int (*)(int, const char*, int, const char*);
using RenameAt2Fn = int (*)(int, const char*, int, const char*, unsigned);

char g_full[256];  // "/NAME", empty when no file is full
std::size_t g_full_len = 0;
volatile sig_atomic_t g_create_signal = 0;
volatile sig_atomic_t g_rename_signal = 0;

template <class Fn>
Fn next(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

WriteFn g_write = nullptr;
OpenFn g_open = nullptr;
OpenFn g_open64 = nullptr;
RenameFn g_rename = nullptr;
RenameAtFn g_renameat = nullptr;
RenameAt2Fn g_renameat2 = nullptr;

int signal_of(const char* var) {
    const char* v = std::getenv(var);
    return v == nullptr ? 0 : std::atoi(v);
}

__attribute__((constructor)) void start() {
    g_write = next<WriteFn>("write");
    g_open = next<OpenFn>("open");
    g_open64 = next<OpenFn>("open64");
    g_rename = next<RenameFn>("rename");
    g_renameat = next<RenameAtFn>("renameat");
    g_renameat2 = next<RenameAt2Fn>("renameat2");
    if (const char* full = std::getenv("VARNOSTIK_FAULT_FULL"); full != nullptr && *full != '\0') {
        const std::size_t n = std::strlen(full);
        if (n + 2 <= sizeof g_full) {
            g_full[0] = '/';
            std::memcpy(g_full + 1, full, n + 1);
            g_full_len = n + 1;
        }
    }
    g_create_signal = signal_of("VARNOSTIK_FAULT_CREATE_SIGNAL");
    g_rename_signal = signal_of("VARNOSTIK_FAULT_RENAME_SIGNAL");
}

bool is_full(int fd) {
    if (g_full_len == 0 || fd < 0) return false;
    char link[32] = "/proc/self/fd/";
    std::size_t at = std::strlen(link);
    char digits[16];
    std::size_t n = 0;
    for (unsigned v = static_cast<unsigned>(fd); n == 0 || v != 0; v /= 10) digits[n++] = char('0' + v % 10);
    while (n > 0) link[at++] = digits[--n];
    link[at] = '\0';
    char target[4096];
    const ssize_t len = readlink(link, target, sizeof target);
    return len >= static_cast<ssize_t>(g_full_len) && len < static_cast<ssize_t>(sizeof target) &&
           std::memcmp(target + len - g_full_len, g_full, g_full_len) == 0;
}

void raise_once(volatile sig_atomic_t& sig) {
    const int s = sig;
    sig = 0;
    if (s != 0) raise(s);
}

int opened(int fd, int flags) {
    if (fd >= 0 && (flags & O_CREAT) != 0) raise_once(g_create_signal);
    return fd;
}

int renamed(int result) {
    if (result == 0) raise_once(g_rename_signal);
    return result;
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* buf, size_t n) {
    if (is_full(fd)) {
        errno = ENOSPC;
        return -1;
    }
    if (g_write == nullptr) g_write = next<WriteFn>("write");  // a write before the constructor
    return g_write(fd, buf, n);
}

int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & (O_CREAT | O_TMPFILE)) != 0) {
        va_list ap;
        va_start(ap, flags);
        mode = static_cast<mode_t>(va_arg(ap, int));
        va_end(ap);
    }
    if (g_open == nullptr) g_open = next<OpenFn>("open");
    return opened(g_open(path, flags, mode), flags);
}

int open64(const char* path, int flags, ...) {
    mode_t mode = 0;
    if ((flags & (O_CREAT | O_TMPFILE)) != 0) {
        va_list ap;
        va_start(ap, flags);
        mode = static_cast<mode_t>(va_arg(ap, int));
        va_end(ap);
    }
    if (g_open64 == nullptr) g_open64 = next<OpenFn>("open64");
    return opened(g_open64(path, flags, mode), flags);
}

int rename(const char* from, const char* to) { return renamed(g_rename(from, to)); }

int renameat(int from_dir, const char* from, int to_dir, const char* to) {
    return renamed(g_renameat(from_dir, from, to_dir, to));
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
    return renamed(g_renameat2(from_dir, from, to_dir, to, flags));
}

}  // extern "C"
