// The files a drawing writes, put in place only when every one of them has
// been made, each through the text layer's one way of writing a file
// whole: a file is made beside its name and renamed over it at the end;
// standard output and what is not a regular file (a terminal, a pipe, a
// device) take their bytes at the end, written in place.  An output given
// up (a failure, an interrupt) leaves nothing behind.
#pragma once

#include <string>
#include <string_view>

#include "textio/whole_file.h"

namespace plot {

class Output {
public:
    explicit Output(std::string path);
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    const std::string& path() const { return path_; }
    // Whether the output is a stream (standard output, a device...).
    bool stream() const { return stream_; }

    // Makes the output, empty; the error text on failure.
    std::string create();
    // Appends to it (create() first); the error text on failure.
    std::string write(std::string_view bytes);
    // Puts the output in place: the rename, or the bytes to the stream.
    std::string commit();

private:
    std::string path_;
    bool stream_ = false;
    textio::Replacement file_;
};

using textio::NamedFile;
using textio::clash;

}  // namespace plot
