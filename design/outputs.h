// The companion's outputs: checked against the description and against
// each other before anything is written, then written whole, all of them
// or none.
//
// Each goes through the text layer's whole-file writer (a regular file
// replaced by a rename, a link followed and kept, the program's own
// descriptors and devices, FIFOs and terminals written in place); every
// wait, for a FIFO's reader or for room in a pipe, ends at an interrupt.
// A failure or an interrupt removes the new files and leaves every old
// file as it was.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "textio/whole_file.h"

namespace design {

// A file a command reads or writes, by its role ("the description", "--csv").
struct FileRole {
    std::string role;
    std::string path;
    bool output = true;
};

// Throws Refused, naming both, when an output is the description or
// another output: the same file by device and inode where it exists, by
// its normalised path where it does not yet.
void refuse_clashes(const std::vector<FileRole>& files);

class OutputSet {
public:
    OutputSet() = default;
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;
    ~OutputSet();  // removes every temporary file not put in place

    // The bytes of one output, written to its temporary file at once;
    // throws Refused when that cannot be done.
    void prepare(const std::string& path, const std::string& bytes);

    // Puts every prepared output in place: the streams and devices first
    // (they may wait for a reader), then the renames.  Throws Refused or
    // Interrupted.
    void commit();

private:
    std::vector<std::unique_ptr<textio::Replacement>> pending_;
};

// Writes one output as OutputSet does.
void write_output(const std::string& path, const std::string& bytes);

}  // namespace design
