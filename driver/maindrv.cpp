#include "driver/maindrv.h"

#include <cstdint>
#include <string>

#include "analysis/analys.h"
#include "driver/model.h"
#include "driver/usage.h"
#include "input/matrix.h"
#include "layouts/layouts.h"
#include "textio/io.h"
#include "textio/runtime.h"
#include "textio/units.h"

using namespace model;
using textio::kConsole;
using textio::write_fmt;

namespace {

// Names of the three files, as typed: 40 characters each.
char DATNAM[40], RESNAM[40], PLTNAM[40];
int32_t ICD, LK, LT, LPT, NU, NU2, LK2;

void ask_name(const char* prompt, char* name) {
    write_fmt(kConsole, prompt);
    textio::read_fmt(kConsole, "(A8)", {textio::In(name, 40)});
}

// Reads one size at the console until it lies within lo..hi.
void ask_size(const char* prompt, const char* refusal, int32_t& value, int32_t lo, int32_t hi) {
    for (;;) {
        write_fmt(kConsole, prompt);
        textio::read_free(kConsole, {value});
        if (value >= lo && value <= hi) return;
        write_fmt(kConsole, refusal);
    }
}

void refuse_recorded_size(const char* what, int32_t value, int32_t lo, int32_t hi) {
    if (value >= lo && value <= hi) return;
    textio::io_error(textio::IoError::value_refused, textio::IoOp::read, textio::unit_name(kDataUnit),
                     std::string(what) + "=" + std::to_string(value) + " outside " + std::to_string(lo) + " to " +
                         std::to_string(hi) + textio::in_line(kDataUnit));
}

void typed_sizes() {
    ask_size(limit_text::kStoreysPrompt, limit_text::kStoreysRefused, LK, 1, kMaxLK);
    // The prompt's MAX 20 is not the limit of the dampers: the refusal's is.
    ask_size("(2X,'PODAJ LICZBE TLUMIKOW - MAX 20')", limit_text::kDampersRefused, LT, 0, kMaxLT);
    if (LT > 0) ask_size(limit_text::kParametersPrompt, limit_text::kParametersRefused, LPT, 0, kMaxLPT);
    if (LT == 0) LPT = 0;
    write_fmt(kDataUnit, layouts::kDataSizes, {LK, LT, LPT});
}

void recorded_sizes() {
    textio::read_free(kDataUnit, {LK, LT, LPT});
    refuse_recorded_size("LK", LK, 1, kMaxLK);
    refuse_recorded_size("LT", LT, 0, kMaxLT);
    refuse_recorded_size("LPT", LPT, 0, kMaxLPT);
}

// The model storage with the sizes of this run.
ModelStorage storage() {
    ModelStorage m;
    m.LK = LK, m.LK2 = LK2, m.LT = LT, m.LPT = LPT, m.NU = NU, m.NU2 = NU2;
    m.MS = MS, m.MR = MR, m.Mkk = Mkk, m.Mkt = Mkt, m.Mtk = Mtk, m.Mtt = Mtt;
    m.CS = CS, m.CR = CR, m.Ckk = Ckk, m.Ckt = Ckt, m.Ctk = Ctk, m.Ctt = Ctt;
    m.KS = KS, m.KR = KR, m.Kkk = Kkk, m.Kkt = Kkt, m.Ktk = Ktk, m.Ktt = Ktt;
    m.PHI = PHI, m.AE = AE, m.PC = PC, m.PS = PS, m.OMEGA = OMEGA;
    m.AC = AC, m.AS = AS, m.AMP = AMP;
    return m;
}

}  // namespace

void run_program(int argc, char** argv) {
    answer_usage_query(argc, argv);
    textio::start_run(argc, argv);
    write_fmt(kConsole,
              "(2X,'DRGANIA USTALONE RAMY Z TLUMIKAMI LUB',2X,'FUNDAMENTU BLOKOWEGO',/,2X,"
              "'WYZNACZANIE KRZYWEJ REZONANSOWEJ',/)");
    ask_name("(2X,'PODAJ NAZWE ZBIORU Z DANYMI O UKLADZIE')", DATNAM);
    ask_name("(2X,'PODAJ NAZWE ZBIORU Z WYNIKAMI OBLICZEN')", RESNAM);
    ask_name("(2X,'PODAJ NAZWE ZBIORU Z DANYMI DO RYSUNKOW')", PLTNAM);
    textio::remove_if_left_empty(kDataUnit);
    textio::open_unit(kDataUnit, {DATNAM, 40});
    textio::open_unit(kResultsUnit, {RESNAM, 40});
    textio::open_unit(kPlotUnit, {PLTNAM, 40});

    for (;;) {
        write_fmt(kConsole,
                  "(2X,'DANE O UKLADZIE SA ZADAWANE Z KLAWIATURY (ICD=1)',/,2X,"
                  "'                   CZY CZYTANE ZE ZBIORU (ICD=2)',/,2X,"
                  "'                                    PODAJ ICD=?')");
        textio::read_free(kConsole, {ICD});
        if (ICD == 1 || ICD == 2) break;
        write_fmt(kConsole, "(2X,'ICD MUSI BYC ROWNE 1 LUB 2')");
    }
    // A typed model replaces the data file only once it is whole: a slip or
    // an ending half-way leaves the earlier model as it was.
    if (ICD == 1) textio::hold_records(kDataUnit);
    if (ICD == 2) textio::read_only(kDataUnit);
    if (ICD == 1) typed_sizes();
    if (ICD == 2) recorded_sizes();
    NU = LK + LPT;
    NU2 = NU + NU;
    LK2 = LK + LK;

    ANALYS(storage(), ICD);

    write_fmt(kConsole, "(/,2X,'*** KONIEC - NACISNIJ DOWOLNY KLAWISZ ***')");
    textio::read_free(kConsole);
    textio::stop_run();
}
