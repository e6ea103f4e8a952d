// The command line of varnostik-design: build, response, modes, tune.
#pragma once

namespace design {

// Runs one command; the process's exit status: 0 done, 1 a refused
// description or a computation that cannot go on, 2 a bad command line,
// 3 the picture could not be drawn.
int run_design(int argc, char** argv);

}  // namespace design
