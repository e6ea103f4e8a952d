#include "driver/usage.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kVersion = "varnostik 1.0\n";

constexpr std::string_view kUsage =
    "Usage: varnostik [NAME...]\n"
    "       varnostik -h | --help | --version\n"
    "\n"
    "Steady-state forced vibration of a multi-storey frame with vibration\n"
    "dampers, or of a block foundation, under harmonic forcing: natural\n"
    "frequencies, mode shapes and resonance curves.\n"
    "\n"
    "The program is a console dialogue in Polish.  It asks for three file\n"
    "names (at most 8 characters are used): the data file, the results file\n"
    "and the plot file; then ICD:\n"
    "  1  the model is typed at the console, value by value, and recorded in\n"
    "     the data file: an existing file of that name is replaced once the\n"
    "     whole model is typed, and is left as it was by a run that ends\n"
    "     earlier;\n"
    "  2  the model is read from a data file recorded earlier.\n"
    "Then it asks how many (at most 3) and which unknowns are plotted, sweeps\n"
    "the forcing frequency LAMBDA and writes\n"
    "  the results file  everything entered and computed, step by step;\n"
    "  the plot file     one row per step: LAMBDA, then for each plotted\n"
    "                    unknown its amplitude, its amplitudes at cos and at\n"
    "                    sin, and its number.\n"
    "A NAME on the command line is taken for a file name answered with an\n"
    "empty line (the first such name takes the first NAME, and so on); a\n"
    "name that starts with '-' is given as ./-name.\n"
    "Answers may come from a file: varnostik < answers.  At a terminal an\n"
    "answer that cannot be read (a decimal comma such as 0,02 or a ,5 that\n"
    "opens the answer, a letter) is refused and typed again; from a file or\n"
    "a pipe a comma separates values and a letter ends the run.  A matrix\n"
    "type other than 0 to 3 is asked again.\n"
    "\n"
    "Exit status:\n"
    "  0    normal end\n"
    "  1    run-time error report on standard error (a malformed value, an\n"
    "       input that ends early, a file that cannot be opened or written,\n"
    "       a floating-point exception)\n"
    "  2    stopped with a text (a matrix type that does not fit its shape,\n"
    "       an eigenvalue iteration that does not converge)\n"
    "  33   singular harmonic-response matrix\n"
    "  64   an unknown option on the command line\n"
    "  130, 143, 129  ended by SIGINT, SIGTERM or SIGHUP; the results and\n"
    "       plot files keep every record written before\n"
    "A data file that the run made and left empty is removed at its end.\n"
    "\n"
    "Environment: VARNOSTIK_THREADS=N solves the sweep's steps on N threads\n"
    "(default: every processor the program may use; 1: one thread).  The\n"
    "files are the same byte for byte whatever the count.\n"
    "\n"
    "Units: the program names none; keep one system throughout, e.g. kN, t,\n"
    "m, s (the examples': masses in t, stiffnesses in kN/m, forces in kN,\n"
    "LAMBDA in rad/s) or N, kg, m, s.\n"
    "\n"
    "Guides: README.md and docs/instrukcja.md (in Polish) in the source tree,\n"
    "and installed in share/doc/varnostik beside the examples.  The curves\n"
    "are drawn by varnostik-plot (varnostik-plot --help).  varnostik-design\n"
    "(varnostik-design --help) builds the data file from a short description\n"
    "of a frame with its dampers, and computes with the program's numbers\n"
    "what the dialogue does not: the response to the ground's motion and to\n"
    "white noise (absolute accelerations, drifts, base shear), every peak of\n"
    "every curve, and the tuning of a tuned-mass damper.\n";

[[noreturn]] void answer(std::string_view text) {
    bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    ok = std::fflush(stdout) == 0 && ok;
    if (!ok) std::fputs("varnostik: cannot write to standard output\n", stderr);
    std::exit(ok ? 0 : 1);
}

}  // namespace

constexpr int kExitUsage = 64;

void answer_usage_query(int argc, char** argv) {
    if (argc == 2) {
        const std::string_view arg = argv[1];
        if (arg == "--help" || arg == "-h") answer(kUsage);
        if (arg == "--version") answer(kVersion);
    }
    // An option the program does not know would otherwise become a file name.
    for (int k = 1; k < argc; ++k) {
        if (argv[k][0] != '-') continue;
        std::fprintf(stderr, "varnostik: unknown option '%s' (a file whose name starts with '-' is given as ./%s)\n%s",
                     argv[k], argv[k], std::string(kUsage.substr(0, kUsage.find("\n\n") + 1)).c_str());
        std::exit(kExitUsage);
    }
}
