// One way to write a file whole, for every output that the companions make
// and for the data file's release.
//
// What a name stands for decides how its bytes get there:
// - one of the process's own open descriptors ("-" for standard output,
//   /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N, or a symbolic
//   link to one of these): written through that descriptor at its offset,
//   never reopened;
// - a regular file or a name not yet taken: written to a new file of a
//   random name made beside it (O_EXCL, so a link planted there is never
//   followed), flushed to disk and renamed over it.  A symbolic link is
//   followed to the file it leads to, which is replaced with its permission
//   bits kept, the link itself staying a link; a link that leads nowhere
//   yet gets its file made where it points;
// - anything else (a device, a FIFO, a socket, a terminal): written in
//   place, opened for writing without truncation or creation, never
//   renamed over;
// - a folder: refused.
// Until the bytes are put in place nothing of the old file changes; a
// failure or an interrupt removes the new file and leaves the old one.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace textio {

// Writes bytes as the whole of the file called path; the error text
// ("cannot write PATH: ...") on failure, empty when done.
std::string write_whole(const std::string& path, std::string_view bytes);

// The same in two phases, so that a program can make every output first
// and put them in place only once all were made.  Bytes meant for a
// descriptor or a device wait until commit in a file of no name in the
// temporary folder ($TMPDIR, else /tmp), whatever their size.
class Replacement {
public:
    Replacement() = default;
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;
    ~Replacement();  // an output not put in place leaves nothing behind

    // Decides what path stands for and, for a file, makes the new file
    // beside it, empty.  The error text, or empty.
    std::string open(const std::string& path);
    // Appends bytes to what will be put in place (open first).
    std::string write(std::string_view bytes);
    // open and write at once.
    std::string prepare(const std::string& path, std::string_view bytes);
    // Puts the output in place: the rename, or the bytes through the
    // descriptor or to the device.  The error text, or empty.  A FIFO
    // waits for its reader; given wake_fd, that wait, and a wait for room
    // in a pipe or FIFO whose reader has stopped reading, ends (EINTR) as
    // soon as wake_fd is readable, as a program's interrupt descriptor is.
    std::string commit(int wake_fd = -1);
    // Gives the output up: the new file removed, nothing written.
    void discard();

    const std::string& path() const { return path_; }
    // Whether the bytes go to a descriptor or a device (no file is made).
    bool in_place() const { return kind_ != Kind::file; }

private:
    enum class Kind { none, descriptor, device, file };
    std::string failed(int err) const;
    // Copies the waiting bytes to the descriptor; 0 or an errno value
    // (EINTR when wake_fd became readable while a reader kept no room).
    int copy_held(int to, int wake_fd);

    std::string path_;
    Kind kind_ = Kind::none;
    int target_fd_ = -1;   // the descriptor written through
    std::string target_;   // the file replaced or the device written, links followed
    std::string temp_;
    int fd_ = -1;          // the new file's descriptor, or the waiting bytes' file
    int slot_ = -1;        // its place among the pending new files
    bool committed_ = false;
};

// Removes every new file not yet put in place.  Async-signal-safe: for an
// interrupt's handler, before the process ends.
void remove_pending_temporaries();

// The file a name stands for: its symbolic links followed, also one that
// points at nothing yet.  The folders on the way are left as written.
std::string follow_links(std::string path);

// The descriptor a name stands for ("-", /dev/stdout, /dev/fd/N, a link to
// one...), or -1 when it stands for none.
int descriptor_named(const std::string& path);

// The primitives of the replacement, for a writer that keeps the new
// file's descriptor (the data file goes on being written after its
// release).  new_file_beside makes, in target's folder, an empty file of a
// random name with the given permission bits, counted among the pending
// new files; put_in_place flushes it to disk and renames it over target,
// after which it is no longer pending.  Both return 0 or an errno value.
struct NewFile {
    int fd = -1;
    int slot = -1;
    std::string name;
};
int new_file_beside(const std::string& target, mode_t mode, NewFile& out);
int put_in_place(NewFile& file, const std::string& target);
// Removes a new file that will not be put in place (the descriptor stays).
void drop_new_file(NewFile& file);
// The permission bits of a new file: 0666 less the umask.
mode_t new_file_mode();

// A file the program reads or writes, by its role on its command line.
struct NamedFile {
    std::string role;  // "the input", "--csv" ...
    std::string path;  // as an output, "-" is standard output
    bool output = false;
};

// Whether an output would replace an input or another output: the same
// file by device and inode where it exists, by its normalised path where
// it does not yet; two outputs to the same descriptor are refused too.
// The null device may take any number of outputs.  Empty, or what clashes.
std::string clash(const std::vector<NamedFile>& files);

}  // namespace textio
