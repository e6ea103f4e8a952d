#include "input/frame.h"

#include "input/matrix.h"
#include "textio/io.h"

using textio::kConsole;
using textio::write_fmt;

namespace {

constexpr const char* kFrameHeading = "(22X,'INFORMACJE O RAMIE',/)";
constexpr const char* kMassCaption = "(2X,'MACIERZ MAS KONSTRUKCJI')";
constexpr const char* kStiffnessCaption = "(2X,'MACIERZ SZTYWNOSCI KONSTRUKCJI')";
constexpr const char* kGammaListing =
    "(/,2X,'BEZWYM WSPOLCZYNNIKI TLUMIENIA 1 I 2 POSTACI DRGAN',/,2X,'GAMMA(1)=',E12.6,2X,"
    "'GAMMA(2)=',E12.6)";

void title_block(int32_t LK, int32_t LT, int32_t LPT) {
    write_fmt(kResultsUnit, kSeparator);
    write_fmt(kResultsUnit,
              "(22X,'PROGRAM VARNOSTIK',/,2X,'WYZNACZANIE KRZYWEJ REZONANSOWEJ RAMY Z',2X,'TLUMIKAMI DRGAN')");
    write_fmt(kResultsUnit, kSeparator);
    write_fmt(kResultsUnit, "(22X,'DANE DO OBLICZEN')");
    write_fmt(kResultsUnit, kSeparator);
    write_fmt(kResultsUnit, "(2X,'LK=',I3,2X,'LT=',I3,2X,'LPT=',I3)", {LK, LT, LPT});
}

// A frame matrix typed at the console, recorded row by row and listed.
void typed_matrix(const char* prompt, const char* caption, int32_t LK, double* A) {
    write_fmt(kConsole, prompt);
    MATIN(LK, LK, A);
    for (int32_t I = 1; I <= LK; ++I) write_row(A, LK, LK, I);
    write_fmt(kResultsUnit, caption);
    MATOUT(A, LK, LK);
}

void recorded_matrix(const char* caption, int32_t LK, double* A) {
    for (int32_t I = 1; I <= LK; ++I) read_row(A, LK, LK, I);
    write_fmt(kResultsUnit, caption);
    MATOUT(A, LK, LK);
}

}  // namespace

void FRAMIN(const int32_t& LK, const int32_t& LT, const int32_t& LPT, const int32_t& ICD, double* MR,
            double* KR, double& GAMMA1, double& GAMMA2) {
    title_block(LK, LT, LPT);
    if (ICD == 1) {
        write_fmt(kConsole, "(2X,'DANE ICD=',I3)", {ICD});
        write_fmt(kResultsUnit, kFrameHeading);
        typed_matrix("(2X,'PODAJ MACIERZ MAS KONSTRUKCJI')", kMassCaption, LK, MR);
        typed_matrix("(2X,'PODAJ MACIERZ SZTYWNOSCI KONSTRUKCJI')", kStiffnessCaption, LK, KR);
        write_fmt(kConsole, "(2X,'PODAJ BEZWYMIAROWE WSPOL TLUM 1 I 2 POSTACI DRGAN')");
        write_fmt(kConsole, "(2X,'PODAJ GAMMA 1 I GAMMA 2')");
        textio::read_free(kConsole, {GAMMA1, GAMMA2});
        write_fmt(kDataUnit, kRowRecord, {GAMMA1, GAMMA2});
        write_fmt(kResultsUnit, kGammaListing, {GAMMA1, GAMMA2});
    } else if (ICD == 2) {
        write_fmt(kResultsUnit, kFrameHeading);
        recorded_matrix(kMassCaption, LK, MR);
        recorded_matrix(kStiffnessCaption, LK, KR);
        textio::read_fmt(kDataUnit, kRowRecord, {GAMMA1, GAMMA2});
        write_fmt(kResultsUnit, kGammaListing, {GAMMA1, GAMMA2});
    }
}
