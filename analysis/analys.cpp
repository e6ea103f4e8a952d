#include "analysis/analys.h"

#include <cmath>
#include <cstddef>

#include "analysis/assemb.h"
#include "analysis/eigen.h"
#include "analysis/modes.h"
#include "analysis/propcr.h"
#include "analysis/records.h"
#include "analysis/sweep.h"
#include "input/damper.h"
#include "input/forcin.h"
#include "input/frame.h"
#include "input/matrix.h"
#include "textio/io.h"
#include "textio/progress.h"
#include "textio/runtime.h"

using textio::kConsole;
using textio::Out;
using textio::write_fmt;

namespace {

// Scalars of the analysis driver: static for the whole run.
double GAMMA[2];
double LAMMIN, LAMMAX, DLAM, LAMBDA;
int32_t NPLOT;
int32_t IPLOT[3];

constexpr const char* kSeparator = "(2X,70('+'))";
constexpr const char* kValueList = "(5(2X,E12.6))";
constexpr const char* kPlotRow = "(2X,E12.6,2X,3(3(2X,E12.6),2X,I3))";
constexpr const char* kPlotLegend =
    "(2X,'1 KOLUMNA - CZESTOSC WYMUSZENIA',/,2X,'2 KOLUMNA - AMPLITUDA DRGAN',/,2X,"
    "'3 KOLUMNA - AMPLITUDA COS',/,2X,'4 KOLUMNA - AMPLITUDA SIN',/,2X,"
    "'5 KOLUMNA - NR PRZEMIESZCZENIA',/,2X,'6 KOLUMNA - ZNOWU AMPLITUDA DRGAN ITD')";

// The count and the numbers of the unknowns whose curves are plotted,
// asked again until they are within their limits.
void choose_plotted(int32_t LK) {
    for (;;) {
        write_fmt(kConsole, "(2X,'DLA ILU NIEWIADOMYCH RYSUJEMY KRZYWE',2X,'REZONANSOWE - MAX 3')");
        textio::read_free(kConsole, {NPLOT});
        if (NPLOT <= 3) break;
        write_fmt(kConsole, "(2X,'NAJWYZEJ 3 NIEWIADOME')");
    }
    const std::size_t count = NPLOT > 0 ? static_cast<std::size_t>(NPLOT) : 0;
    textio::In items[3] = {IPLOT[0], IPLOT[1], IPLOT[2]};
    for (;;) {
        write_fmt(kConsole, "(2X,'PODAJ NUMERY NIEWIADOMYCH DLA KTORYCH RYSUJEMY',/,2X,'KRZYWE REZONANSOWE')");
        textio::read_free(kConsole, items, count);
        bool valid = true;
        for (std::size_t k = 0; k < count; ++k) valid = valid && IPLOT[k] >= 1 && IPLOT[k] <= LK;
        if (valid) break;
        write_fmt(kConsole, "(2X,'NUMER NIEWIADOMEJ MUSI BYC OD 1 DO',I3)", {LK});
    }
}

[[noreturn]] void singular(double d, int32_t i) {
    constexpr const char* kReport = "(2X,'MACIERZ OSOBLIWA C=',E15.6,2X,'I=',I2)";
    write_fmt(kResultsUnit, kReport, {d, i});
    write_fmt(kConsole, kReport, {d, i});
    textio::stop_code(33);
}

void step_records(int32_t LK, const double* AMP, const double* AC, const double* AS) {
    write_fmt(kResultsUnit, "(12X,'AMPLITUDY DRGAN')");
    write_vector(kResultsUnit, kValueList, AMP, LK);
    write_fmt(kResultsUnit, "(12X,'AMPLITUDY PRZY COS')");
    write_vector(kResultsUnit, kValueList, AC, LK);
    write_fmt(kResultsUnit, "(12X,'AMPLITUDY PRZY SIN')");
    write_vector(kResultsUnit, kValueList, AS, LK);
    if (NPLOT < 1 || NPLOT > 3) return;
    Out row[13];
    std::size_t n = 0;
    row[n++] = LAMBDA;
    for (int32_t k = 0; k < NPLOT; ++k) {
        const int32_t u = IPLOT[k];
        row[n++] = AMP[u - 1];
        row[n++] = AC[u - 1];
        row[n++] = AS[u - 1];
        row[n++] = u;
    }
    write_fmt(kPlotUnit, kPlotRow, row, n);
}

}  // namespace

void ANALYS(const int32_t& LK, const int32_t& LK2, const int32_t& LT, const int32_t& LPT, const int32_t& NU,
            const int32_t& NU2, const int32_t& ICD, double* MS, double* MR, double* Mkk, double* Mkt, double* Mtk,
            double* Mtt, double* CS, double* CR, double* Ckk, double* Ckt, double* Ctk, double* Ctt, double* KS,
            double* KR, double* Kkk, double* Kkt, double* Ktk, double* Ktt, double* PHI, double* AE, double* PC,
            double* PS, double* OMEGA, double* AH, double* XH, double* AC, double* AS, double* AMP) {
    // Input of the system data, in its fixed order.
    FRAMIN(LK, LT, LPT, ICD, MR, KR, GAMMA[0], GAMMA[1]);
    DAMPM(LK, LT, LPT, ICD, Mkk, Mkt, Mtk, Mtt);
    DAMPC(LK, LT, LPT, ICD, Ckk, Ckt, Ctk, Ctt);
    DAMPK(LK, LT, LPT, ICD, Kkk, Kkt, Ktk, Ktt);
    FORCIN(LK, ICD, LAMMIN, LAMMAX, DLAM, PC, PS);

    // Modal analysis of the frame without dampers.
    write_fmt(kResultsUnit, kSeparator);
    write_fmt(kResultsUnit, "(2X,'CZESTOSCI I POSTACIE DRGAN RAMY BEZ TLUMIKOW',/)");
    load_eigenproblem(AE, KR, MR, LK);
    if (EIGEN(AE, LK, LK2) == EigenStatus::not_converged) textio::stop_text("BRAK ZBIEZNOSCI ZAGADNIENIA WLASNEGO");
    MODES(AE, LK, LK2, OMEGA, PHI);
    list_modes(OMEGA, PHI, LK);
    write_fmt(kResultsUnit, kSeparator);

    // Damping of the frame and the complete system.
    PROPCR(LK, OMEGA, GAMMA[0], GAMMA[1], MR, KR, CR);
    list_damping(CR, LK);
    ASSEMB(NU, LK, LPT, MS, Mkk, Mkt, Mtk, Mtt, MR);
    ASSEMB(NU, LK, LPT, CS, Ckk, Ckt, Ctk, Ctt, CR);
    ASSEMB(NU, LK, LPT, KS, Kkk, Kkt, Ktk, Ktt, KR);

    choose_plotted(LK);

    // The sweep, its records written here in step order.
    const System system{LK, NU, MS, CS, KS, PC, PS};
    const long steps = sweep_steps(LAMMIN, LAMMAX, DLAM, kMaxSweepSteps);
    long step = 0;
    SweepRecords records;
    records.header = [](double lambda) {
        LAMBDA = lambda;
        write_fmt(kResultsUnit, kSeparator);
        write_fmt(kResultsUnit, "(2X,'WYNIKI OBLICZEN LAMBDA=',E12.6)", {LAMBDA});
    };
    records.solution = [&](double, const double* ac, const double* as) {
        for (int32_t i = 0; i < LK; ++i) {
            AC[i] = ac[i];
            AS[i] = as[i];
        }
        for (int32_t i = 0; i < LK; ++i) AMP[i] = std::sqrt(AS[i] * AS[i] + AC[i] * AC[i]);
        step_records(LK, AMP, AC, AS);
        textio::progress_step(++step, LAMBDA);
    };
    records.singular = singular;
    textio::progress_start(steps);
    sweep(system, LAMMIN, LAMMAX, DLAM, steps, sweep_threads(steps, NU2), AH, XH, records);
    textio::progress_end();

    write_fmt(kPlotUnit, kPlotLegend);
    write_fmt(kResultsUnit, kSeparator);
    write_fmt(kResultsUnit, "(22X,'KONIEC OBLICZEN')");
    write_fmt(kResultsUnit, kSeparator);
}
