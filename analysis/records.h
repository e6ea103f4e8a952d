// The records of the analysis: every text the analysis writes to the
// results and plot files, kept apart from its computing.
#pragma once

#include <cstdint>
#include <string>

#include "analysis/sweep.h"
#include "input/limits.h"

// The natural frequencies and the normalised modes as MODES leaves them.
void list_modes(const double* OMEGA, const double* PHI, int32_t LK);

// The proportional damping matrix of the frame under its heading.
void list_damping(const double* CR, int32_t LK);

// The unknowns whose resonance curves are plotted: NPLOT of them (1 to
// kMaxPlotted; outside that range no plot row is written), numbered in IPLOT.
struct Plotted {
    int32_t NPLOT = 0;
    int32_t IPLOT[kMaxPlotted] = {};
};

// The records of the sweep's steps: for each step the heading with its
// LAMBDA in the results file, the amplitudes of the LK frame unknowns (in
// AC, AS and AMP, LK values each) and the plot row of the plotted ones.
class StepRecords final : public SweepSink {
public:
    StepRecords(int32_t LK, int32_t NU, const Plotted& plotted, double* AC, double* AS, double* AMP)
        : LK_(LK), NU_(NU), plotted_(plotted), AC_(AC), AS_(AS), AMP_(AMP) {}

    void header(double LAMBDA) override;
    // Takes the amplitudes at cos and at sin from XH; the amplitudes are
    // computed with the traps held, and the records written only when
    // they raised none.
    int solution(double LAMBDA, const double* XH) override;
    // The amplitudes of the step last given, in the caller's floating-point
    // environment: raises the trap that solution() held.
    void amplitudes();

    // The singular-matrix report in the results file and at the console,
    // then the stop with code 33.
    [[noreturn]] static void singular(double d, int32_t i);
    // The legend of the plot file's columns, written after the sweep.
    static void plot_legend();
    // The sweep's progress line on a terminal: the step, the LAMBDA it is
    // at, how far the sweep has come and what it is likely to take yet.
    static std::string progress_text(long step, long steps, double LAMBDA, long seconds_left);

private:
    const int32_t LK_;
    const int32_t NU_;
    const Plotted plotted_;
    double* const AC_;
    double* const AS_;
    double* const AMP_;
    long step_ = 0;
};
