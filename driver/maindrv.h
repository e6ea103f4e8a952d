// The main driver: the run from its banner to its closing prompt.
#pragma once

// Runs the whole dialogue; never returns (the run ends through a stop).
[[noreturn]] void run_program(int argc, char** argv);
