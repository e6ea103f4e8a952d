// The files a drawing writes, put in place only when every one of them has
// been made.  A file is written under a temporary name in its own folder
// and renamed over its name at the end; standard output ("-") and what is
// not a regular file (a terminal, a pipe, a device) take their bytes at
// the end too, gathered meanwhile in an unnamed temporary file: renaming
// onto them would replace them.  An output given up (a failure, an
// interrupt) leaves nothing behind.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace plot {

class Output {
public:
    explicit Output(std::string path);
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output();  // removes the temporary file unless it was put in place

    const std::string& path() const { return path_; }
    // Whether the output is a stream (standard output, a device...).
    bool stream() const { return stream_; }

    // Makes the temporary file, empty; the error text on failure.
    std::string create();
    // Appends to it (create() first); the error text on failure.
    std::string write(std::string_view bytes);
    // Closes the temporary file (before another program writes it).
    std::string close_temp();
    // The temporary file's name (empty for a stream).
    const std::string& temp() const { return temp_; }
    bool empty_file() const;

    // Puts the output in place: the rename, or the bytes to the stream.
    std::string commit();

private:
    std::string failed() const;

    std::string path_;
    bool stream_ = false;
    std::string temp_;
    int fd_ = -1;
    bool committed_ = false;
};

}  // namespace plot

namespace plot {

// A file the drawing reads or writes, by its role on the command line.
struct NamedFile {
    std::string role;  // "the input", "--csv" ...
    std::string path;  // "-": standard output
    bool output = false;
};

// Whether an output would replace an input or another output: the same
// file by device and inode where it exists, by its normalised path where
// it does not yet.  Two outputs to standard output are refused too;
// /dev/null may take any number of them.  Empty, or what clashes.
std::string clash(const std::vector<NamedFile>& files);

}  // namespace plot
