// Everything the companion computes through the program's analysis
// library, in one place: the frame's modes, the proportional damping, the
// assembly, the sweep's frequencies and one step of the sweep.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace design {

struct FrameModes {
    bool converged = false;
    std::vector<double> OMEGA;  // ascending, at least two values (0 beyond LK)
    std::vector<double> PHI;    // LK x LK column-major, mode i in row i, largest component 1
};

FrameModes frame_modes(int32_t LK, const std::vector<double>& MR, const std::vector<double>& KR);

// CR of the frame from its two lowest frequencies.
std::vector<double> proportional_damping(int32_t LK, const std::vector<double>& OMEGA, double GAMMA1, double GAMMA2,
                                         const std::vector<double>& MR, const std::vector<double>& KR);

// S = [R + kk, kt; tk, tt] of order NU = LK + LPT.
std::vector<double> assemble(int32_t LK, int32_t LPT, const std::vector<double>& R, const std::vector<double>& kk,
                             const std::vector<double>& kt, const std::vector<double>& tk,
                             const std::vector<double>& tt);

// The sweep's frequencies, by the program's own additions; empty when the
// range makes more steps than the program allows.
std::vector<double> sweep_lambdas(double LAMMIN, double LAMMAX, double DLAM);

// The assembled system, one step of the sweep at a time.
class Stepper {
public:
    // The matrices (NU x NU) and the loads on every unknown (NU: the
    // storeys', then the tuned masses') are copied.
    Stepper(int32_t LK, int32_t NU, std::vector<double> MS, std::vector<double> CS, std::vector<double> KS,
            std::vector<double> PC, std::vector<double> PS);
    ~Stepper();
    Stepper(const Stepper&) = delete;
    Stepper& operator=(const Stepper&) = delete;

    // Solves the step at LAMBDA.  x: the program's solution (AC of the NU
    // unknowns, then AS), whose frame values are those the program prints;
    // refined: the same solution refined until every unknown, the tuned
    // masses' included, is accurate to 1e-8 of its amplitude or better;
    // inaccurate when the last correction was larger than that.
    enum class Solved { accurate, inaccurate, singular };
    Solved solve(double LAMBDA, std::vector<double>& x, std::vector<double>& refined);

    int32_t LK() const;
    int32_t NU() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace design
