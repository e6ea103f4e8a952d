#include "input/matrix.h"

#include "input/limits.h"
#include "input/matrix_view.h"
#include "textio/io.h"
#include "textio/runtime.h"

using textio::kConsole;
using textio::Out;

namespace {

constexpr const char* kTypePrompt =
    "(2X,'PODAJ TYP MACIERZY    ZEROWA=0',/,2X,'                  DIAGONALNA=1',/,"
    "2X,'           PELNA SYMETRYCZNA=2',/,2X,'        PELNA NIESYMETRYCZNA=3')";
constexpr const char* kDiagonalPrompt = "(2X,'PODAJ ELEMENT MACIERZY O INDEKSIE I=J=',I2)";
constexpr const char* kElementPrompt = "(2X,'PODAJ ELEMENT O NUMERZE I=',I2,2X,'J=',I2)";
constexpr const char* kListing = "(4(2X,E12.6,2X,'*'))";

// The type code and the value last read are kept between calls: a null
// value typed for either repeats what MATIN read before.
int32_t ITYP = 0;
double VALUE = 0.0;

double read_element(const char* fmt, std::initializer_list<Out> items) {
    textio::write_fmt(kConsole, fmt, items);
    textio::read_free(kConsole, {VALUE});
    return VALUE;
}

void require_square(int32_t N, int32_t M) {
    if (M != N) textio::stop_text("BLAD WYMIARU MACIERZY");
}

// One listing line: row I of A over columns from..to.
void list_band_row(const double* A, int32_t N, int32_t I, int32_t from, int32_t to) {
    Out items[4];
    std::size_t n = 0;
    for (int32_t J = from; J <= to; ++J) items[n++] = Out(at(A, N, I, J));
    textio::write_fmt(kResultsUnit, kListing, items, n);
}

}  // namespace

void MATIN(const int32_t& N, const int32_t& M, double* A) {
    // A code outside 0..3 would leave the matrix as it was without a word,
    // and a slip of the finger would give a zero matrix: it is asked again.
    for (;;) {
        textio::write_fmt(kConsole, kTypePrompt);
        textio::read_free(kConsole, {ITYP});
        if (ITYP >= 0 && ITYP <= 3) break;
        textio::write_fmt(kConsole, "(2X,'TYP MACIERZY MUSI BYC OD 0 DO 3')");
    }
    switch (ITYP) {
    case 0:
        for (int32_t I = 1; I <= N; ++I)
            for (int32_t J = 1; J <= M; ++J) at(A, N, I, J) = 0.0;
        break;
    case 1:
        require_square(N, M);
        for (int32_t I = 1; I <= N; ++I)
            for (int32_t J = 1; J <= M; ++J)
                at(A, N, I, J) = J == I ? read_element(kDiagonalPrompt, {I}) : 0.0;
        break;
    case 2:
        require_square(N, M);
        for (int32_t I = 1; I <= N; ++I)
            for (int32_t J = I; J <= N; ++J) {
                double v = read_element(kElementPrompt, {I, J});
                at(A, N, I, J) = v;
                at(A, N, J, I) = v;
            }
        break;
    case 3:
        for (int32_t I = 1; I <= N; ++I)
            for (int32_t J = 1; J <= M; ++J) at(A, N, I, J) = read_element(kElementPrompt, {I, J});
        break;
    default:
        break;
    }
}

void MATOUT(const double* A, const int32_t& N, const int32_t& M) {
    int32_t K = 4;
    if (M <= K) {
        for (int32_t I = 1; I <= N; ++I) list_band_row(A, N, I, 1, M);
        return;
    }
    for (int32_t I = 1; I <= N; ++I) list_band_row(A, N, I, 1, 4);
    for (;;) {
        textio::write_fmt(kResultsUnit, "(/)");
        int32_t R = M - K;
        if (R <= 4) {
            for (int32_t I = 1; I <= N; ++I) list_band_row(A, N, I, K + 1, M);
            return;
        }
        for (int32_t I = 1; I <= N; ++I) list_band_row(A, N, I, K + 1, K + 4);
        K += 4;
    }
}

void MATRD(const int32_t& N, const int32_t& M, double* A) {
    // One row at a time through a buffer of the longest row the model holds.
    static double BUF[kMaxRow];
    for (int32_t I = 1; I <= N; ++I) {
        read_row(BUF, 1, M, 1);
        for (int32_t J = 1; J <= M; ++J) at(A, N, I, J) = BUF[J - 1];
    }
}

void write_row(const double* A, int32_t N, int32_t M, int32_t I) {
    Out items[kMaxRow];
    std::size_t n = 0;
    for (int32_t J = 1; J <= M; ++J) items[n++] = Out(at(A, N, I, J));
    textio::write_fmt(kDataUnit, kRowRecord, items, n);
}

void read_row(double* A, int32_t N, int32_t M, int32_t I) {
    textio::In items[kMaxRow] = {};
    for (int32_t J = 1; J <= M; ++J) items[J - 1] = textio::In(at(A, N, I, J));
    textio::read_fmt(kDataUnit, kRowRecord, items, static_cast<std::size_t>(M));
}

void write_vector(int unit, std::string_view fmt, const double* v, int32_t n) {
    Out items[kMaxRow];
    for (int32_t i = 0; i < n; ++i) items[i] = Out(v[i]);
    textio::write_fmt(unit, fmt, items, static_cast<std::size_t>(n));
}
