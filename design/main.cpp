#include "design/cli.h"

int main(int argc, char** argv) { return design::run_design(argc, argv); }
