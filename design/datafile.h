// The program's data file: the description's frame, dampers, storey loads
// and range written in the data file's layout, and read back from that
// text, so that the companion computes with exactly the numbers the
// program reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "design/description.h"
#include "design/model.h"

namespace design {

// A tuned mass's spring and dashpot from its description and the frame's
// natural frequencies.
struct TmdValues {
    double stiffness = 0.0;
    double damping = 0.0;
    double frequency = 0.0;  // its own, sqrt(k/m)
};
TmdValues tmd_values(const TunedMass& t, const std::vector<double>& OMEGA);

// The value as the data file carries it (E12.6 written, read back).
double as_recorded(double v);

// What the data file holds, as the program's records order it.
struct DataFileContent {
    int32_t LK = 0, LT = 0, LPT = 0;
    std::vector<double> MR, KR;
    double GAMMA1 = 0.0, GAMMA2 = 0.0;
    const DamperBlocks* dampers = nullptr;  // written when LT > 0
    std::vector<double> PC, PS;
    double LAMMIN = 0.0, LAMMAX = 0.0, DLAM = 0.0;
};
std::string data_file_text(const DataFileContent& c);

// Reads the text back as the program does, into m's data-file part.
void read_data_file(const std::string& text, Model& m);

// The answers that replay the data file: the three names, ICD = 2, the
// plotted unknowns and the closing line.
std::string replay_answers(const Description& d);

}  // namespace design
