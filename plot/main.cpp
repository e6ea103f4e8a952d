#include "plot/cli.h"

int main(int argc, char** argv) { return plot::run_plot(argc, argv); }
