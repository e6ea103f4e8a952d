#include "analysis/analys.h"

#include <cfenv>
#include <cstddef>
#include <cstdlib>

#include "analysis/assemb.h"
#include "analysis/eigen.h"
#include "analysis/modes.h"
#include "analysis/propcr.h"
#include "analysis/records.h"
#include "analysis/solve.h"
#include "analysis/sweep.h"
#include "input/damper.h"
#include "input/forcin.h"
#include "input/frame.h"
#include "input/limits.h"
#include "input/matrix.h"
#include "layouts/layouts.h"
#include "textio/io.h"
#include "textio/progress.h"
#include "textio/record_buffer.h"
#include "textio/runtime.h"

using textio::kConsole;
using textio::write_fmt;

namespace {

// The count and the numbers of the unknowns whose curves are plotted,
// asked again until they are within their limits.
Plotted choose_plotted(int32_t LK) {
    Plotted p;
    for (;;) {
        write_fmt(kConsole, limit_text::kPlottedPrompt);
        textio::read_free(kConsole, {p.NPLOT});
        if (p.NPLOT <= kMaxPlotted) break;
        write_fmt(kConsole, limit_text::kPlottedRefused);
    }
    const std::size_t count = p.NPLOT > 0 ? static_cast<std::size_t>(p.NPLOT) : 0;
    static_assert(kMaxPlotted == 3, "one input item for each plotted unknown");
    textio::In items[kMaxPlotted] = {p.IPLOT[0], p.IPLOT[1], p.IPLOT[2]};
    for (;;) {
        write_fmt(kConsole, "(2X,'PODAJ NUMERY NIEWIADOMYCH DLA KTORYCH RYSUJEMY',/,2X,'KRZYWE REZONANSOWE')");
        textio::read_free(kConsole, items, count);
        bool valid = true;
        for (std::size_t k = 0; k < count; ++k) valid = valid && p.IPLOT[k] >= 1 && p.IPLOT[k] <= LK;
        if (valid) break;
        write_fmt(kConsole, "(2X,'NUMER NIEWIADOMEJ MUSI BYC OD 1 DO',I3)", {LK});
    }
    return p;
}

// The sweep ended on an exception the run traps, with no worker left
// running: the arithmetic that raised it is made again with the traps on,
// so that the run ends with the report of the trap where the sequential
// sweep raised it.
[[noreturn]] void raise_trap(const SweepOutcome& end, const System& system, StepRecords& records) {
    if (end.in_sink) {
        records.amplitudes();
    } else {
        StepWork work(system.NU2());
        (void)solve_step(system, end.LAMBDA, work);
    }
    // The same arithmetic traps again; should it not, the flags do.  Not
    // reached: the exceptions are those the environment traps.
    std::feraiseexcept(end.exceptions);
    std::abort();
}

}  // namespace

void ANALYS(const ModelStorage& m, const int32_t& ICD) {
    const int32_t LK = m.LK, LK2 = m.LK2, LT = m.LT, LPT = m.LPT, NU = m.NU, NU2 = m.NU2;
    double GAMMA[2] = {0.0, 0.0};
    double LAMMIN = 0.0, LAMMAX = 0.0, DLAM = 0.0;

    // Input of the system data, in its fixed order.
    FRAMIN(LK, LT, LPT, ICD, m.MR, m.KR, GAMMA[0], GAMMA[1]);
    DAMPM(LK, LT, LPT, ICD, m.Mkk, m.Mkt, m.Mtk, m.Mtt);
    DAMPC(LK, LT, LPT, ICD, m.Ckk, m.Ckt, m.Ctk, m.Ctt);
    DAMPK(LK, LT, LPT, ICD, m.Kkk, m.Kkt, m.Ktk, m.Ktt);
    FORCIN(LK, ICD, LAMMIN, LAMMAX, DLAM, m.PC, m.PS);

    // Modal analysis of the frame without dampers.
    write_fmt(kResultsUnit, kSeparator);
    write_fmt(kResultsUnit, "(2X,'CZESTOSCI I POSTACIE DRGAN RAMY BEZ TLUMIKOW',/)");
    load_eigenproblem(m.AE, m.KR, m.MR, LK);
    if (EIGEN(m.AE, LK, LK2) == EigenStatus::not_converged)
        textio::stop_text("BRAK ZBIEZNOSCI ZAGADNIENIA WLASNEGO");
    MODES(m.AE, LK, LK2, m.OMEGA, m.PHI);
    list_modes(m.OMEGA, m.PHI, LK);
    write_fmt(kResultsUnit, kSeparator);

    // Damping of the frame and the complete system.
    PROPCR(LK, m.OMEGA, GAMMA[0], GAMMA[1], m.MR, m.KR, m.CR);
    list_damping(m.CR, LK);
    ASSEMB(NU, LK, LPT, m.MS, m.Mkk, m.Mkt, m.Mtk, m.Mtt, m.MR);
    ASSEMB(NU, LK, LPT, m.CS, m.Ckk, m.Ckt, m.Ctk, m.Ctt, m.CR);
    ASSEMB(NU, LK, LPT, m.KS, m.Kkk, m.Kkt, m.Ktk, m.Ktt, m.KR);

    StepRecords records(LK, NU, choose_plotted(LK), m.AC, m.AS, m.AMP);

    // The sweep, its records written here in step order.
    const System system{LK, NU, m.MS, m.CS, m.KS, m.PC, m.PS};
    const long steps = sweep_steps(LAMMIN, LAMMAX, DLAM, kMaxSweepSteps);
    // The kernels are chosen now, so that a warning about the width asked
    // for comes before the progress line.
    (void)solve_kernels::chosen_width();
    textio::progress_start(steps, StepRecords::progress_text);
    const SweepOutcome end = [&] {
        const textio::GatheredRecords gathered;
        return sweep(system, LAMMIN, LAMMAX, DLAM, steps, sweep_threads(steps, NU2), records);
    }();
    if (end.end == SweepEnd::singular) StepRecords::singular(end.d, end.i);
    if (end.end == SweepEnd::trapped) raise_trap(end, system, records);
    textio::progress_end();

    StepRecords::plot_legend();
    write_fmt(kResultsUnit, kSeparator);
    write_fmt(kResultsUnit, layouts::kClosing);
    write_fmt(kResultsUnit, kSeparator);
}
