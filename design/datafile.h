// The model as the program's data file carries it: the description turned
// into the frame matrices and the dampers' blocks, written in the data
// file's layout, and every value read back from that text, so that the
// companion computes with exactly the numbers the program reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "design/description.h"

namespace design {

struct Model {
    int32_t LK = 0, LT = 0, LPT = 0, NU = 0;
    std::vector<double> MR, KR;  // LK x LK, column-major
    double GAMMA1 = 0.0, GAMMA2 = 0.0;
    // The dampers' blocks (kk: LK x LK, kt: LK x LPT, tk: LPT x LK, tt:
    // LPT x LPT), zero when the data file has none.
    std::vector<double> Mkk, Mkt, Mtk, Mtt, Ckk, Ckt, Ctk, Ctt, Kkk, Kkt, Ktk, Ktt;
    std::vector<double> PC, PS;
    double LAMMIN = 0.0, LAMMAX = 0.0, DLAM = 0.0;
    std::vector<int32_t> plot;
    // From the description: the storey of every tuned mass, and whether
    // the frame is a shear frame (its storeys have drifts).
    std::vector<int32_t> tmd_storey;
    bool shear_frame = false;
    std::string data_text;  // the data file, as written
};

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

// The model of the description: throws Refused when the program would
// stop on it (the two lowest frequencies equal, a mode that cannot be
// computed, a range of too many steps).
Model build_model(const Description& d);

// The answers that replay the data file: the three names, ICD = 2, the
// plotted unknowns and the closing line.
std::string replay_answers(const Description& d);

}  // namespace design
