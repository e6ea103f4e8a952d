// The two questions the program answers without a dialogue.
#pragma once

// With exactly one argument, "--help" or "--version", writes the usage or
// the version to standard output and ends the process (status 0, or 1 when
// the text could not be written).  Otherwise returns, and every argument
// keeps its meaning as a name for a blank file name.
void answer_usage_query(int argc, char** argv);
