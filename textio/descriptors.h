// The standard streams' descriptors, 0 to 2, kept for them: a file the
// program opens never takes one, or its bytes would become console output
// and error reports would be written into it.
#pragma once

namespace textio {

// A descriptor of fd's open file numbered 3 or more, close-on-exec: fd
// itself when it already is, else a copy, fd then closed.  -1 with errno
// set when no copy could be made (fd closed then too); fd < 0 is passed
// through.
int off_standard_streams(int fd);

// Opens each standard stream found closed on the null device (reading for
// standard input, writing for the others), so that no file opened later
// gets its number.  False when one stays closed.
bool open_closed_standard_streams();

}  // namespace textio
