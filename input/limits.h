// The largest problem the program takes, written once, and the system's
// texts that state these limits.  Knows no unit and no model storage, so
// that the input, the analysis and the main driver may all include it.
#pragma once

#include <cstdint>

// Storeys of the frame (or degrees of freedom of a block foundation).
inline constexpr int32_t kMaxLK = 20;
// Dampers.
inline constexpr int32_t kMaxLT = 999;
// Internal parameters of all the dampers together.
inline constexpr int32_t kMaxLPT = 40;
// Unknowns of the complete system, and of the harmonic-response system.
inline constexpr int32_t kMaxNU = kMaxLK + kMaxLPT;
inline constexpr int32_t kMaxNU2 = 2 * kMaxNU;
// The longest row or vector a record of the model holds: a kt or tt row.
inline constexpr int32_t kMaxRow = 40;
// Unknowns whose resonance curves are plotted.
inline constexpr int32_t kMaxPlotted = 3;
// Items of one plot row: LAMBDA, then for each plotted unknown its three
// amplitudes and its number.
inline constexpr int32_t kPlotRowItems = 1 + 4 * kMaxPlotted;
// Steps a frequency range may make.
inline constexpr long kMaxSweepSteps = 1000000;

static_assert(kMaxNU == 60, "the complete system has at most 60 unknowns");
static_assert(kMaxNU2 == 2 * kMaxNU);
static_assert(kMaxRow >= kMaxLK && kMaxRow >= kMaxLPT, "a row record holds the longest row of every block");
static_assert(kPlotRowItems == 13);

// The texts of the dialogue that state a limit; each number is tied to its
// constant above by a test.
namespace limit_text {
inline constexpr const char* kStoreysPrompt =
    "(2X,'PODAJ LICZBE KONDYGNACJI RAMY (MAX 20)',2X,'LUB LICZBE STOPNI SWOBODY FUNDAMENTU')";
inline constexpr const char* kStoreysRefused = "(2X,'LICZBA KONDYGNACJI MUSI BYC OD 1 DO 20')";
inline constexpr const char* kDampersRefused = "(2X,'LICZBA TLUMIKOW MUSI BYC OD 0 DO 999')";
inline constexpr const char* kParametersPrompt =
    "(2X,'PODAJ LICZBE PARAMETROW WEWNETRZNYCH TLUMIKOW',2X,'(WSZYSTKICH) - MAX 40')";
inline constexpr const char* kParametersRefused = "(2X,'LICZBA PARAMETROW MUSI BYC OD 0 DO 40')";
inline constexpr const char* kPlottedPrompt =
    "(2X,'DLA ILU NIEWIADOMYCH RYSUJEMY KRZYWE',2X,'REZONANSOWE - MAX 3')";
inline constexpr const char* kPlottedRefused = "(2X,'NAJWYZEJ 3 NIEWIADOME')";
inline constexpr const char* kRangeRefused = "(2X,'BLEDNY ZAKRES CZESTOSCI - PONAD 1000000 KROKOW')";
}  // namespace limit_text
