#include "analysis/records.h"

#include <cfenv>
#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>

#include "input/matrix.h"
#include "layouts/layouts.h"
#include "input/matrix_view.h"
#include "textio/edit.h"
#include "textio/io.h"
#include "textio/progress.h"
#include "textio/runtime.h"

using textio::Out;
using textio::write_fmt;

namespace {

// The step records and the legend are read back by the drawing companion:
// their layouts are the shared ones.
using layouts::kAmplitudeCaption;
using layouts::kCosCaption;
using layouts::kPlotLegend;
using layouts::kPlotRow;
using layouts::kSinCaption;
using layouts::kStepHeading;
using layouts::kValueList;
static_assert(std::string_view(kSeparator) == layouts::kSeparator, "the input echo's rule is the shared one");
constexpr const char* kSingular = "(2X,'MACIERZ OSOBLIWA C=',E15.6,2X,'I=',I2)";

// Whether every amplitude of these parts is certain to come out without
// an overflow or an invalid operation, so that it needs no switch of the traps: parts below 2^511
// in size square and add below 2^1023, and a square root of that raises
// nothing.  The test itself raises nothing, whatever the value.
bool below_overflow(const double* AC, const double* AS, int32_t LK) {
    constexpr double kLimit = 0x1p511;
    bool below = true;
    for (int32_t i = 0; i < LK; ++i)
        below = below && std::isless(std::fabs(AC[i]), kLimit) && std::isless(std::fabs(AS[i]), kLimit);
    return below;
}

}  // namespace

void list_modes(const double* OMEGA, const double* PHI, int32_t LK) {
    write_fmt(kResultsUnit, layouts::kFrequencies);
    write_vector(kResultsUnit, kValueList, OMEGA, LK);
    const MatrixView<const double> phi(PHI, LK);
    for (int32_t i = 1; i <= LK; ++i) {
        write_fmt(kResultsUnit, "(2X,'WEKTOR WLASNY - UNORMOWANY I=',I2)", {i});
        Out row[kMaxLK];
        for (int32_t j = 1; j <= LK; ++j) row[j - 1] = phi(i, j);
        write_fmt(kResultsUnit, kValueList, row, static_cast<std::size_t>(LK));
    }
}

void list_damping(const double* CR, int32_t LK) {
    // The heading's letter L with stroke is the single byte 0xA3.
    write_fmt(kResultsUnit, "(2X,'MACIERZ T\xA3UMIENIA PROPORCJONALNEGO KONSTRUKCJI')");
    MATOUT(CR, LK, LK);
}

void StepRecords::header(double LAMBDA) {
    write_fmt(kResultsUnit, kSeparator);
    write_fmt(kResultsUnit, kStepHeading, {LAMBDA});
}

void StepRecords::amplitudes() {
    for (int32_t i = 0; i < LK_; ++i) AMP_[i] = std::sqrt(AS_[i] * AS_[i] + AC_[i] * AC_[i]);
}

int StepRecords::solution(double LAMBDA, const double* XH) {
    for (int32_t i = 0; i < LK_; ++i) {
        AC_[i] = XH[i];
        AS_[i] = XH[NU_ + i];
    }
    const int traps = fegetexcept();
    if ((traps & (FE_UNDERFLOW | FE_INEXACT)) != 0 || !below_overflow(AC_, AS_, LK_)) {
        int raised = 0;
        {
            const TrapsOff held;
            amplitudes();
            raised = fetestexcept(traps);
        }
        if (raised != 0) return raised;
    } else {
        amplitudes();
    }

    write_fmt(kResultsUnit, kAmplitudeCaption);
    write_vector(kResultsUnit, kValueList, AMP_, LK_);
    write_fmt(kResultsUnit, kCosCaption);
    write_vector(kResultsUnit, kValueList, AC_, LK_);
    write_fmt(kResultsUnit, kSinCaption);
    write_vector(kResultsUnit, kValueList, AS_, LK_);
    const int32_t NPLOT = plotted_.NPLOT;
    if (NPLOT >= 1 && NPLOT <= kMaxPlotted) {
        Out row[kPlotRowItems];
        std::size_t n = 0;
        row[n++] = LAMBDA;
        for (int32_t k = 0; k < NPLOT; ++k) {
            const int32_t u = plotted_.IPLOT[k];
            row[n++] = AMP_[u - 1];
            row[n++] = AC_[u - 1];
            row[n++] = AS_[u - 1];
            row[n++] = u;
        }
        write_fmt(kPlotUnit, kPlotRow, row, n);
    }
    textio::progress_step(++step_, LAMBDA);
    return 0;
}

void StepRecords::singular(double d, int32_t i) {
    write_fmt(kResultsUnit, kSingular, {d, i});
    write_fmt(textio::kConsole, kSingular, {d, i});
    textio::stop_code(33);
}

std::string StepRecords::progress_text(long step, long steps, double LAMBDA, long seconds_left) {
    std::string line = " KROK " + std::to_string(step) + " Z " + std::to_string(steps) + "  LAMBDA=";
    textio::edit_exp(line, LAMBDA, 12, 6);
    const long percent = steps > 0 ? step * 100 / steps : 100;
    return line + "  " + std::to_string(percent) + "%  POZOSTALO " + textio::clock_text(seconds_left);
}

void StepRecords::plot_legend() { write_fmt(kPlotUnit, kPlotLegend); }
