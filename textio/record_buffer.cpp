#include "textio/record_buffer.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "textio/units.h"

namespace textio {
namespace {

static_assert(kRecordBlock >= kFileBuffer, "gathering holds at least the buffer's records");

struct FileOut {
    std::atomic<int> fd{-1};
    std::atomic<std::size_t> committed{0};
    char bytes[kRecordBlock] = {};
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<std::size_t>::is_always_lock_free,
              "the interrupt handler reads these");
FileOut g_out[kMaxUnit + 1];

volatile sig_atomic_t g_out_busy = 0;
volatile sig_atomic_t g_held_signal = 0;
bool g_cut_back = false;
bool g_gathering = false;  // only the main thread writes units

FileOut& out_of(int number) { return g_out[number]; }

// Writes as much as the descriptor takes; written tells how much did.
bool write_counted(int fd, const char* data, std::size_t size, std::size_t& written) {
    written = 0;
    while (written < size) {
        ssize_t n = ::write(fd, data + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// After a failed write (a full disk) a regular file is cut back to the end
// of the last record written whole, so that it holds complete records
// only, as after an interrupt.  The file's offset is then just past the
// written bytes, so bytes[0] stood written bytes before it: asked only
// here, a write that succeeds costs no other system call.
void cut_back(int fd, const char* bytes, std::size_t written) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
    const off_t end = lseek(fd, 0, SEEK_CUR);
    if (end < 0 || end < static_cast<off_t>(written)) return;
    const off_t at = end - static_cast<off_t>(written);
    std::size_t whole = 0;
    for (std::size_t k = 0; k + 1 < written; ++k)
        if (bytes[k] == '\r' && bytes[k + 1] == '\n') whole = k + 2;
    if (ftruncate(fd, at + static_cast<off_t>(whole)) == 0) {
        lseek(fd, at + static_cast<off_t>(whole), SEEK_SET);
        g_cut_back = true;
    }
}

// Writes bytes at the file's position, cutting the file back if that fails.
bool write_whole_records(int fd, const char* bytes, std::size_t size) {
    std::size_t written = 0;
    const bool ok = write_counted(fd, bytes, size, written);
    if (!ok) cut_back(fd, bytes, written);
    return ok;
}

}  // namespace

void attach_buffer(int number, int fd) {
    out_of(number).committed.store(0);
    out_of(number).fd.store(fd);
}

void move_buffer(int number, int fd) { out_of(number).fd.store(fd); }

int buffer_fd(int number) { return out_of(number).fd.load(); }

void begin_held_writes() {
    g_out_busy = 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

void end_held_writes() {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    g_out_busy = 0;
    if (g_held_signal != 0) raise(g_held_signal);
}

bool flush_buffer(int number) {
    FileOut& o = out_of(number);
    const std::size_t n = o.committed.load();
    if (n == 0) return true;
    return with_interrupts_held([&] {
        const bool ok = write_whole_records(o.fd.load(), o.bytes, n);
        o.committed.store(0);
        return ok;
    });
}

bool buffer_record(int number, std::string_view record) {
    FileOut& o = out_of(number);
    const std::size_t limit = g_gathering ? kRecordBlock : kFileBuffer;
    const std::size_t need = record.size() + 2;
    if (o.committed.load() + need > limit && !flush_buffer(number)) return false;
    if (need > kFileBuffer) {
        // After the records gathered before it.
        if (!flush_buffer(number)) return false;
        std::string whole(record);
        whole += "\r\n";
        return with_interrupts_held([&] { return write_whole_records(o.fd.load(), whole.data(), whole.size()); });
    }
    const std::size_t at = o.committed.load();
    std::memcpy(o.bytes + at, record.data(), record.size());
    std::memcpy(o.bytes + at + record.size(), "\r\n", 2);
    // The handler runs on this thread: a signal fence orders the copy
    // before the count, with no barrier for the processor (a sequentially
    // consistent store would cost one at every record).
    std::atomic_signal_fence(std::memory_order_seq_cst);
    o.committed.store(at + need, std::memory_order_relaxed);
    return at + need < limit || flush_buffer(number);
}

GatheredRecords::GatheredRecords() { g_gathering = true; }
GatheredRecords::~GatheredRecords() { g_gathering = false; }

bool file_cut_back() { return g_cut_back; }

bool hold_interrupt(int sig) {
    if (g_out_busy == 0) return false;
    g_held_signal = sig;
    return true;
}

void write_committed_records() {
    for (FileOut& o : g_out) {
        const int fd = o.fd.load();
        const std::size_t n = o.committed.load();
        if (fd >= 0 && n > 0) write_fd(fd, o.bytes, n);
    }
}

}  // namespace textio
