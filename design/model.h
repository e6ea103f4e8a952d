// The model of a description, built once and used by every command: the
// frame and dampers as the program's data file carries them, the frame's
// modes, the assembled system and the loads on every unknown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "design/description.h"

namespace design {

struct Model {
    // ---- as the data file carries it (read back from its text)
    int32_t LK = 0, LT = 0, LPT = 0, NU = 0;
    std::vector<double> MR, KR;  // LK x LK, column-major
    double GAMMA1 = 0.0, GAMMA2 = 0.0;
    // The dampers' blocks (kk: LK x LK, kt: LK x LPT, tk: LPT x LK, tt:
    // LPT x LPT), zero when the data file has none.
    std::vector<double> Mkk, Mkt, Mtk, Mtt, Ckk, Ckt, Ctk, Ctt, Kkk, Kkt, Ktk, Ktt;
    std::vector<double> PC, PS;  // the storeys' loads (LK)
    double LAMMIN = 0.0, LAMMAX = 0.0, DLAM = 0.0;
    std::vector<int32_t> plot;
    std::string data_text;  // the data file, as written

    // ---- from the description
    std::vector<int32_t> tmd_storey;  // the storey of every tuned mass
    bool shear_frame = false;         // its storeys have drifts
    std::vector<double> heights;      // storey heights, shear frames, or empty
    Units units = Units::none;
    bool ground = false;  // the harmonic load is the ground's motion
    double ground_cos = 0.0, ground_sin = 0.0;
    bool has_sweep = false;
    // White noise: the storeys' force densities (LK) or the ground's.
    std::vector<double> force_psd;
    double ground_psd = 0.0;
    bool random_ground = false;

    // ---- built once from the above
    std::vector<double> OMEGA, PHI;  // the frame's modes (analysis/'s order and scaling)
    std::vector<double> CR;          // the frame's proportional damping
    std::vector<double> MS, CS, KS;  // the whole system, NU x NU
    // The harmonic load on every unknown (NU): the storeys' values as the
    // data file carries them; under ground motion the tuned masses' -m r A
    // and -m r B too, rounded as a data file would round them.
    std::vector<double> load_cos, load_sin;
    // The influence vector on every unknown (NU): a tuned mass takes its
    // storey's value; empty when the frame has none (no base shear).
    std::vector<double> influence;
};

// The physics of the dampers: the blocks of the tuned masses' springs and
// dashpots and the dashpots' stencil (a dashpot of storey j acts between
// storey j and the one below it, or the ground).
struct DamperBlocks {
    std::vector<double> Mkk, Ckk, Kkk, Mkt, Ckt, Kkt, Mtt, Ctt, Ktt;
};
DamperBlocks damper_blocks(const Description& d, const std::vector<double>& OMEGA);

// The model of the description: throws Refused when the program would
// stop on it (the two lowest frequencies equal, a mode that cannot be
// computed, a range of too many steps).
Model build_model(const Description& d);

}  // namespace design
