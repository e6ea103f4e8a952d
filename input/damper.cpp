#include "input/damper.h"

#include "input/matrix.h"
#include "input/matrix_view.h"
#include "textio/io.h"

using textio::kConsole;
using textio::write_fmt;

namespace {

// What differs between the three kinds of damper block: the texts, and
// whether a typed run writes the damper heading.
struct DamperKind {
    const char* prompt_kk;
    const char* caption_kk;
    const char* prompt_kt;
    const char* caption_kt;
    const char* caption_tk;
    const char* prompt_tt;
    const char* caption_tt;
    bool heading_when_typed;
};

constexpr DamperKind kMass = {
    "(2X,'PODAJ MACIERZ MASS Mkk TLUMIKOW')", "(2X,'MACIERZ MAS Mkk TLUMIKOW')",
    "(2X,'PODAJ MACIERZ MAS Mkt TLUMIKOW')",  "(2X,'MACIERZ MAS Mkt TLUMIKOW')",
    "(2X,'MACIERZ MAS Mtk TLUMIKOW')",        "(2X,'PODAJ MACIERZ MAS Mtt TLUMIKOW')",
    "(2X,'MACIERZ MAS Mtt TLUMIKOW')",        true};

constexpr DamperKind kDamping = {
    "(2X,'PODAJ MACIERZ TLUMIENIA Ckk TLUMIKOW')", "(2X,'MACIERZ TLUMIENIA Ckk TLUMIKOW')",
    "(2X,'PODAJ MACIERZ TLUMIENIA Ckt TLUMIKOW')", "(2X,'MACIERZ TLUMIENIA Ckt TLUMIKOW')",
    "(2X,'MACIERZ TLUMIENIA Ctk TLUMIKOW')",       "(2X,'PODAJ MACIERZ TLUMIENIA Ctt TLUMIKOW')",
    "(2X,'MACIERZ TLUMIENIA Ctt TLUMIKOW')",       false};

constexpr DamperKind kStiffness = {
    "(2X,'PODAJ MACIERZ SZTYWNOSCI Kkk TLUMIKOW')", "(2X,'MACIERZ SZTYWNOSCI Kkk TLUMIKOW')",
    "(2X,'PODAJ MACIERZ SZTYWNOSCI Kkt TLUMIKOW')", "(2X,'MACIERZ SZTYWNOSCI Kkt TLUMIKOW')",
    "(2X,'MACIERZ SZTYWNOSCI Ktk TLUMIKOW')",       "(2X,'PODAJ MACIERZ SZTYWNOSCI Ktt TLUMIKOW')",
    "(2X,'MACIERZ SZTYWNOSCI Ktt TLUMIKOW')",       false};

constexpr const char* kHeading = "(/,12X,'INFORMACJE O MACIERZACH WYNIKAJACYCH',2X,'Z ISTNIENIA TLUMIKOW')";
constexpr const char* kNoDampers = "(/,2X,'BRAK TLUMIKOW')";

// One block of rows x cols: typed (and recorded row by row) or read from
// the data file, then listed under its caption.
void enter_block(int32_t ICD, const char* prompt, const char* caption, int32_t rows, int32_t cols, double* A) {
    if (ICD == 1) {
        write_fmt(kConsole, prompt);
        MATIN(rows, cols, A);
        for (int32_t I = 1; I <= rows; ++I) write_row(A, rows, cols, I);
    } else {
        MATRD(rows, cols, A);
    }
    write_fmt(kResultsUnit, caption);
    MATOUT(A, rows, cols);
}

void damper_blocks(const DamperKind& kind, int32_t LK, int32_t LT, int32_t LPT, int32_t ICD, double* kk,
                   double* kt, double* tk, double* tt) {
    if (ICD != 1 && ICD != 2) return;
    if (LT > 0 && (ICD == 2 || kind.heading_when_typed)) write_fmt(kResultsUnit, kHeading);
    if (LT == 0) {
        write_fmt(kResultsUnit, kNoDampers);
        return;
    }
    enter_block(ICD, kind.prompt_kk, kind.caption_kk, LK, LK, kk);
    if (LPT <= 0) return;
    enter_block(ICD, kind.prompt_kt, kind.caption_kt, LK, LPT, kt);
    const MatrixView<const double> KT(kt, LK);
    const MatrixView<double> TK(tk, LPT);
    for (int32_t I = 1; I <= LK; ++I)
        for (int32_t J = 1; J <= LPT; ++J) TK(J, I) = KT(I, J);
    write_fmt(kResultsUnit, kind.caption_tk);
    MATOUT(tk, LPT, LK);
    enter_block(ICD, kind.prompt_tt, kind.caption_tt, LPT, LPT, tt);
}

}  // namespace

void DAMPM(const int32_t& LK, const int32_t& LT, const int32_t& LPT, const int32_t& ICD, double* Mkk,
           double* Mkt, double* Mtk, double* Mtt) {
    damper_blocks(kMass, LK, LT, LPT, ICD, Mkk, Mkt, Mtk, Mtt);
}

void DAMPC(const int32_t& LK, const int32_t& LT, const int32_t& LPT, const int32_t& ICD, double* Ckk,
           double* Ckt, double* Ctk, double* Ctt) {
    damper_blocks(kDamping, LK, LT, LPT, ICD, Ckk, Ckt, Ctk, Ctt);
}

void DAMPK(const int32_t& LK, const int32_t& LT, const int32_t& LPT, const int32_t& ICD, double* Kkk,
           double* Kkt, double* Ktk, double* Ktt) {
    damper_blocks(kStiffness, LK, LT, LPT, ICD, Kkk, Kkt, Ktk, Ktt);
}
