#include "input/forcin.h"

#include <string>

#include "input/matrix.h"
#include "textio/io.h"
#include "textio/runtime.h"
#include "textio/units.h"

using textio::kConsole;
using textio::write_fmt;

namespace {

constexpr const char* kForceHeading = "(/,12X,'INFORMACJE O SILACH WYMUSZAJACYCH')";
constexpr const char* kCosCaption = "(12X,'AMPLITUDY SIL WYMUSZAJACYCH COS')";
constexpr const char* kSinCaption = "(12X,'AMPLITUDY SIL WYMUSZAJACYCH SIN')";
constexpr const char* kRangePrompt = "(2X,'PODAJ POCZATKOWA I KONCOWA CZESTOSC',2X,'ORAZ PRZYROST CZESTOSCI')";

void typed_forces(const char* prompt, int32_t LK, double* P) {
    write_fmt(kConsole, prompt);
    for (int32_t I = 1; I <= LK; ++I) {
        write_fmt(kConsole, "(2X,'PODAJ AMPLITUDE SILY I=',I2)", {I});
        textio::read_free(kConsole, {P[I - 1]});
    }
    write_vector(kDataUnit, kRowRecord, P, LK);
}

void list_range(double LAMMIN, double LAMMAX, double DLAM) {
    write_fmt(kResultsUnit, "(2X,'CZESTOSC WYMUSZENIA I ZAKRES KRZYWEJ REZONANSOWEJ')");
    write_fmt(kResultsUnit, "(2X,'LAMBDA MIN=',E12.6,2X,'LAMBDA MAX=',E12.6,/,2X,'PRZYROST LAMBDA=',E12.6)",
              {LAMMIN, LAMMAX, DLAM});
}

}  // namespace

long sweep_steps(double LAMMIN, double LAMMAX, double DLAM, long limit) {
    SweepLambdas lambdas(LAMMIN, LAMMAX, DLAM);
    double LAMBDA = 0;
    long steps = 0;
    while (steps <= limit && lambdas.next(LAMBDA)) ++steps;
    return steps <= limit ? steps : 0;
}

void FORCIN(const int32_t& LK, const int32_t& ICD, double& LAMMIN, double& LAMMAX, double& DLAM, double* PC,
            double* PS) {
    if (ICD == 1) {
        write_fmt(kConsole, kForceHeading);
        write_fmt(kResultsUnit, kForceHeading);
        typed_forces("(2X,'PODAJ WEKTOR PC - AMPLITUDY SIL PRZY COS')", LK, PC);
        write_fmt(kResultsUnit, kCosCaption);
        write_vector(kResultsUnit, kRowRecord, PC, LK);
        typed_forces("(2X,'PODAJ WEKTOR PS - AMPLITUDY SIL PRZY SIN')", LK, PS);
        write_fmt(kResultsUnit, kSinCaption);
        write_vector(kResultsUnit, kRowRecord, PS, LK);
        // A range whose sweep would not end is asked for again before any
        // of it is recorded.
        for (;;) {
            write_fmt(kConsole, kRangePrompt);
            textio::read_free(kConsole, {LAMMIN, LAMMAX, DLAM});
            if (sweep_ends(LAMMIN, LAMMAX, DLAM)) break;
            write_fmt(kConsole, limit_text::kRangeRefused);
        }
        write_fmt(kDataUnit, kRowRecord, {LAMMIN, LAMMAX, DLAM});
        // The model's last record: the whole typed model may now replace
        // the data file.
        textio::release_records(kDataUnit);
        list_range(LAMMIN, LAMMAX, DLAM);
    } else if (ICD == 2) {
        read_row(PC, 1, LK, 1);
        write_fmt(kResultsUnit, kCosCaption);
        write_vector(kResultsUnit, kRowRecord, PC, LK);
        read_row(PS, 1, LK, 1);
        write_fmt(kResultsUnit, kSinCaption);
        write_vector(kResultsUnit, kRowRecord, PS, LK);
        textio::read_fmt(kDataUnit, kRowRecord, {LAMMIN, LAMMAX, DLAM});
        if (!sweep_ends(LAMMIN, LAMMAX, DLAM))
            textio::io_error(textio::IoError::value_refused, textio::IoOp::read, textio::unit_name(kDataUnit),
                             "frequency range of more than " + std::to_string(kMaxSweepSteps) + " steps" +
                                 textio::in_line(kDataUnit));
        list_range(LAMMIN, LAMMAX, DLAM);
    }
}
