#include "textio/descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace textio {

int off_standard_streams(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int err = errno;
    close(fd);
    errno = err;
    return moved;
}

bool open_closed_standard_streams() {
    bool ok = true;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number is fd itself, the lower ones being open.
        const int got = open("/dev/null", (fd == 0 ? O_RDONLY : O_WRONLY));
        if (got == fd) continue;
        if (got < 0 || dup2(got, fd) != fd) ok = false;
        if (got >= 0) close(got);
    }
    return ok;
}

}  // namespace textio
