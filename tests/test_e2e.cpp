// Whole runs of varnostik as a child process in a temporary folder: the
// console bytes, the exit status, standard error and the files left behind.
// Every expectation is built here from the program's own texts and layouts
// and from values worked out by hand; none is taken from a run.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "e2e_run.h"

namespace {

using e2e::Console;
using e2e::Outcome;
using e2e::same_bytes;
using Records = std::vector<std::string>;
using Matrix = std::vector<Records>;  // rows of E12.6 fields
using Files = std::map<std::string, std::string>;
const std::string CRLF = "\r\n";

template <class... R>
Records cat(const R&... parts) {
    Records out;
    (out.insert(out.end(), parts.begin(), parts.end()), ...);
    return out;
}

// Iw: right-justified, asterisks when too wide.
std::string I(int v, int w) {
    std::string s = std::to_string(v);
    return s.size() > size_t(w) ? std::string(w, '*') : std::string(w - s.size(), ' ') + s;
}

// ------------------------------------------------------------------ texts
const std::string SEP = "  " + std::string(70, '+');
const std::string Z = " .000000E+00", ONE = " .100000E+01", K100 = " .100000E+03";
const Records BANNER = {"  DRGANIA USTALONE RAMY Z TLUMIKAMI LUB  FUNDAMENTU BLOKOWEGO",
                        "  WYZNACZANIE KRZYWEJ REZONANSOWEJ", ""};
const Records ASK_DATA = {"  PODAJ NAZWE ZBIORU Z DANYMI O UKLADZIE"};
const Records ASK_ICD = {"  DANE O UKLADZIE SA ZADAWANE Z KLAWIATURY (ICD=1)",
                         "  " + std::string(19, ' ') + "CZY CZYTANE ZE ZBIORU (ICD=2)",
                         "  " + std::string(36, ' ') + "PODAJ ICD=?"};
const Records ASK_LK = {"  PODAJ LICZBE KONDYGNACJI RAMY (MAX 20)  LUB LICZBE STOPNI SWOBODY FUNDAMENTU"};
const Records ASK_LT = {"  PODAJ LICZBE TLUMIKOW - MAX 20"};
const Records ASK_LPT = {"  PODAJ LICZBE PARAMETROW WEWNETRZNYCH TLUMIKOW  (WSZYSTKICH) - MAX 40"};
const Records ASK_MR = {"  DANE ICD=  1", "  PODAJ MACIERZ MAS KONSTRUKCJI"};  // two statements
const Records ASK_KR = {"  PODAJ MACIERZ SZTYWNOSCI KONSTRUKCJI"};
const Records ASK_GAMMA = {"  PODAJ BEZWYMIAROWE WSPOL TLUM 1 I 2 POSTACI DRGAN", "  PODAJ GAMMA 1 I GAMMA 2"};
const Records ASK_TYPE = {"  PODAJ TYP MACIERZY    ZEROWA=0", "  " + std::string(18, ' ') + "DIAGONALNA=1",
                          "  " + std::string(11, ' ') + "PELNA SYMETRYCZNA=2",
                          "  " + std::string(8, ' ') + "PELNA NIESYMETRYCZNA=3"};
const Records ASK_RANGE = {"  PODAJ POCZATKOWA I KONCOWA CZESTOSC  ORAZ PRZYROST CZESTOSCI"};
const Records ASK_NPLOT = {"  DLA ILU NIEWIADOMYCH RYSUJEMY KRZYWE  REZONANSOWE - MAX 3"};
const Records ASK_NUMBERS = {"  PODAJ NUMERY NIEWIADOMYCH DLA KTORYCH RYSUJEMY", "  KRZYWE REZONANSOWE"};
const Records ASK_CLOSE = {"", "  *** KONIEC - NACISNIJ DOWOLNY KLAWISZ ***"};
const std::string FORCING = "            INFORMACJE O SILACH WYMUSZAJACYCH";
const std::string SINGULAR = "  MACIERZ OSOBLIWA C=    .000000E+00  I= 1";
const Records BRAK3 = {"", "  BRAK TLUMIKOW", "", "  BRAK TLUMIKOW", "", "  BRAK TLUMIKOW"};
const Records LEGEND = {"  1 KOLUMNA - CZESTOSC WYMUSZENIA", "  2 KOLUMNA - AMPLITUDA DRGAN",
                        "  3 KOLUMNA - AMPLITUDA COS",       "  4 KOLUMNA - AMPLITUDA SIN",
                        "  5 KOLUMNA - NR PRZEMIESZCZENIA",  "  6 KOLUMNA - ZNOWU AMPLITUDA DRGAN ITD"};
const std::string NORMAL_STOP = "Stop - Program terminated.";

// Prompts and captions of one kind of damper blocks ("kk", "kt", "tk", "tt").
struct DamperTexts {
    std::string word, letter, kk_prompt_word;
    Records caption(const std::string& b) const { return {"  MACIERZ " + word + " " + letter + b + " TLUMIKOW"}; }
    Records prompt(const std::string& b) const {
        return {"  PODAJ MACIERZ " + (b == "kk" ? kk_prompt_word : word) + " " + letter + b + " TLUMIKOW"};
    }
};
const DamperTexts MASS{"MAS", "M", "MASS"}, DAMPING{"TLUMIENIA", "C", "TLUMIENIA"},
    STIFFNESS{"SZTYWNOSCI", "K", "SZTYWNOSCI"};

// ------------------------------------------------------------------ console
// What the user types and what the console shows, built together.  Every
// record of the program starts with a blank, the carriage control that ends
// the previous line (if one is pending) and is not shown.  In the one-unit
// mode (a terminal) a read ends the pending line itself; with pipes the
// line end is left for the next record.
struct Dialogue {
    bool one_unit, pending = false;
    std::string input, shown;
    explicit Dialogue(Console c = Console::pipes) : one_unit(c == Console::terminal) {}

    Dialogue& say(const Records& records) {
        for (const std::string& r : records) {  // an empty record counts as one blank
            EXPECT_TRUE(r.empty() || r[0] == ' ') << "record without a blank in front: " << r;
            if (pending) shown += CRLF;
            if (!r.empty()) shown.append(r, 1);
            pending = true;
        }
        return *this;
    }
    Dialogue& read() {  // a console read that gets no line: the input ends there
        if (one_unit && pending) shown += CRLF;
        pending = pending && !one_unit;
        return *this;
    }
    Dialogue& type(const std::string& line) { return input += line + "\n", read(); }
    Dialogue& ask(const Records& prompt, const std::string& line) { return say(prompt).type(line); }
    Dialogue& name_prompt(int unit) {  // the prompt and the reply leave no line end pending
        if (pending) shown += CRLF;
        pending = false;
        shown += "File name missing or blank - please enter file name\r\nUNIT " + std::to_string(unit) + "? ";
        return *this;
    }
    Dialogue& stop(const std::string& text) {  // a pending line end stays pending after the text
        shown += (pending ? CRLF : "") + text + CRLF + (pending ? CRLF : "");
        return *this;
    }
    Dialogue& error_end() { return shown += pending ? CRLF : "", *this; }

    Dialogue& names(const std::string& d, const std::string& w, const std::string& r) {
        say(BANNER).ask(ASK_DATA, d);
        return ask({"  PODAJ NAZWE ZBIORU Z WYNIKAMI OBLICZEN"}, w).ask({"  PODAJ NAZWE ZBIORU Z DANYMI DO RYSUNKOW"}, r);
    }
    Dialogue& sizes(const std::string& lk, const std::string& lt, const std::string& lpt = "") {
        ask(ASK_ICD, "1").ask(ASK_LK, lk).ask(ASK_LT, lt);
        return lpt.empty() ? *this : ask(ASK_LPT, lpt);
    }
    // One matrix: its type code, then one prompt and one line for every
    // element that the code asks for, row by row.
    Dialogue& matin(int n, int m, const std::string& code, const Records& typed = {}) {
        ask(ASK_TYPE, code);
        size_t k = 0;
        for (int i = 1; i <= n; ++i)
            for (int j = 1; j <= m; ++j) {
                const std::string v = k < typed.size() ? typed[k] : "?";
                if (code == "1" && i == j)
                    ask({"  PODAJ ELEMENT MACIERZY O INDEKSIE I=J=" + I(i, 2)}, v), ++k;
                else if ((code == "2" && j >= i) || code == "3")
                    ask({"  PODAJ ELEMENT O NUMERZE I=" + I(i, 2) + "  J=" + I(j, 2)}, v), ++k;
            }
        EXPECT_EQ(k, typed.size()) << "values that type code " << code << " does not ask for";
        return *this;
    }
    // A type code outside 0..3: refused, and the type is asked again.
    Dialogue& bad_type(const std::string& code) {
        return ask(ASK_TYPE, code).say({"  TYP MACIERZY MUSI BYC OD 0 DO 3"});
    }
    Dialogue& frame(const Records& m, const Records& k, const std::string& gammas) {
        const int n = int(m.size());
        return say(ASK_MR).matin(n, n, "1", m).say(ASK_KR).matin(n, n, "1", k).say(ASK_GAMMA).type(gammas);
    }
    Dialogue& forcing(const Records& pc, const Records& ps, const std::string& range) {
        say({"", FORCING}).say({"  PODAJ WEKTOR PC - AMPLITUDY SIL PRZY COS"});
        for (size_t i = 0; i < pc.size(); ++i) ask({"  PODAJ AMPLITUDE SILY I=" + I(int(i) + 1, 2)}, pc[i]);
        say({"  PODAJ WEKTOR PS - AMPLITUDY SIL PRZY SIN"});
        for (size_t i = 0; i < ps.size(); ++i) ask({"  PODAJ AMPLITUDE SILY I=" + I(int(i) + 1, 2)}, ps[i]);
        return ask(ASK_RANGE, range);
    }
    Dialogue& plot(const std::string& count, const std::string& numbers) {
        return ask(ASK_NPLOT, count).ask(ASK_NUMBERS, numbers);
    }
    Dialogue& close() { return ask(ASK_CLOSE, "").stop(NORMAL_STOP); }
};

// A single storey without dampers (m = 1, k = 100, unit force at cos), typed up to the range.
Dialogue storey(const std::string& gammas, const std::string& range, const std::string& plot = "r",
                Console c = Console::pipes) {
    Dialogue d(c);
    d.names("d", "w", plot).sizes("1", "0").frame({"1"}, {"100"}, gammas).forcing({"1"}, {"0"}, range);
    return d;
}

// ------------------------------------------------------------------ files
std::string file(const Records& records) {
    std::string s;
    for (const auto& r : records) s += r + CRLF;
    return s;
}

Records lines_of(const std::string& bytes) {
    Records out;
    for (size_t pos = 0, e; (e = bytes.find(CRLF, pos)) != std::string::npos; pos = e + 2)
        out.push_back(bytes.substr(pos, e - pos));
    return out;
}

std::string field(const std::string& v) {
    EXPECT_EQ(v.size(), 12u) << "not an E12.6 field: '" << v << "'";
    return "  " + v;
}

// Records of "(n(2X,E12.6))": n values to a record.
Records fields(const Records& values, size_t n) {
    Records out;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i % n == 0) out.emplace_back();
        out.back() += field(values[i]);
    }
    return out;
}
Records row_record(const Records& v) { return fields(v, 10); }
Records value_list(const Records& v) { return fields(v, 5); }
Records rows(const Matrix& a) {
    Records out;
    for (const auto& r : a) out = cat(out, row_record(r));
    return out;
}

// Matrix listing: bands of four columns, two empty lines between bands.
Records matout(const Matrix& a) {
    Records out;
    for (size_t k = 0; k < a[0].size(); k += 4) {
        if (k > 0) out = cat(out, Records{"", ""});
        for (const auto& row : a) {
            std::string line;
            for (size_t j = k; j < row.size() && j < k + 4; ++j) line += field(row[j]) + "  *";
            out.push_back(line);
        }
    }
    return out;
}

Matrix transpose(const Matrix& a) {
    Matrix t(a[0].size(), Records(a.size()));
    for (size_t i = 0; i < a.size(); ++i)
        for (size_t j = 0; j < a[i].size(); ++j) t[j][i] = a[i][j];
    return t;
}

Matrix diagonal(const Records& d) {
    Matrix a(d.size(), Records(d.size(), Z));
    for (size_t i = 0; i < d.size(); ++i) a[i][i] = d[i];
    return a;
}

Records title(int lk, int lt, int lpt) {
    return {SEP, "                      PROGRAM VARNOSTIK",
            "  WYZNACZANIE KRZYWEJ REZONANSOWEJ RAMY Z  TLUMIKAMI DRGAN", SEP,
            "                      DANE DO OBLICZEN", SEP, "  LK=" + I(lk, 3) + "  LT=" + I(lt, 3) + "  LPT=" + I(lpt, 3)};
}

Records frame_echo(const Matrix& mr, const Matrix& kr, const std::string& g1, const std::string& g2) {
    return cat(Records{"                      INFORMACJE O RAMIE", "", "  MACIERZ MAS KONSTRUKCJI"}, matout(mr),
               Records{"  MACIERZ SZTYWNOSCI KONSTRUKCJI"}, matout(kr),
               Records{"", "  BEZWYM WSPOLCZYNNIKI TLUMIENIA 1 I 2 POSTACI DRGAN",
                       "  GAMMA(1)=" + g1 + "  GAMMA(2)=" + g2});
}

// One kind of damper blocks; kt left empty when there are no parameters.
Records damper_echo(const DamperTexts& t, bool heading, const Matrix& kk, const Matrix& kt = {},
                    const Matrix& tt = {}) {
    Records r = heading ? Records{"", "            INFORMACJE O MACIERZACH WYNIKAJACYCH  Z ISTNIENIA TLUMIKOW"}
                        : Records{};
    r = cat(r, t.caption("kk"), matout(kk));
    if (kt.empty()) return r;
    return cat(r, t.caption("kt"), matout(kt), t.caption("tk"), matout(transpose(kt)), t.caption("tt"), matout(tt));
}

Records forcing_echo(bool typed, const Records& pc, const Records& ps, const Records& range) {
    return cat(typed ? Records{"", FORCING} : Records{}, Records{"            AMPLITUDY SIL WYMUSZAJACYCH COS"},
               row_record(pc), Records{"            AMPLITUDY SIL WYMUSZAJACYCH SIN"}, row_record(ps),
               Records{"  CZESTOSC WYMUSZENIA I ZAKRES KRZYWEJ REZONANSOWEJ",
                       "  LAMBDA MIN=" + range[0] + "  LAMBDA MAX=" + range[1], "  PRZYROST LAMBDA=" + range[2]});
}

// The input echo of the single storey typed by storey().
Records storey_echo(const std::string& gamma, const Records& range) {
    return cat(title(1, 0, 0), frame_echo({{ONE}}, {{K100}}, gamma, gamma), BRAK3, forcing_echo(true, {ONE}, {Z}, range));
}

Records modal(const Records& omega, const Matrix& phi) {
    Records r = cat(Records{SEP, "  CZESTOSCI I POSTACIE DRGAN RAMY BEZ TLUMIKOW", "", "  CZESTOSCI DRGAN WLASNYCH"},
                    value_list(omega));
    for (size_t i = 0; i < phi.size(); ++i)
        r = cat(r, Records{"  WEKTOR WLASNY - UNORMOWANY I=" + I(int(i) + 1, 2)}, value_list(phi[i]));
    return cat(r, Records{SEP});
}

Records damping(const Matrix& cr) {
    return cat(Records{"  MACIERZ T\xA3" "UMIENIA PROPORCJONALNEGO KONSTRUKCJI"}, matout(cr));
}

Records step(const std::string& lambda, const Records& amp, const Records& ac, const Records& as) {
    return cat(Records{SEP, "  WYNIKI OBLICZEN LAMBDA=" + lambda, "            AMPLITUDY DRGAN"}, value_list(amp),
               Records{"            AMPLITUDY PRZY COS"}, value_list(ac), Records{"            AMPLITUDY PRZY SIN"},
               value_list(as));
}
const Records CLOSING = {SEP, "                      KONIEC OBLICZEN", SEP};

struct Group {
    std::string amp, ac, as;
    int n;
};
std::string plot_row(const std::string& lambda, const std::vector<Group>& groups) {
    std::string row = field(lambda) + "  ";
    for (const auto& g : groups) row += field(g.amp) + field(g.ac) + field(g.as) + "  " + I(g.n, 3);
    return row;
}

// The results file up to the end of the input echo, and the rest from the
// separator that opens the modal section.
std::pair<std::string, std::string> split_at_modal(const std::string& results) {
    const size_t at = results.find(SEP + CRLF + "  CZESTOSCI I POSTACIE DRGAN RAMY BEZ TLUMIKOW");
    if (at == std::string::npos) return {results, ""};
    return {results.substr(0, at), results.substr(at)};
}

// ------------------------------------------------------------------ runs
Outcome run(const std::string& input, Files files = {}, std::vector<std::string> args = {},
            Console console = Console::pipes) {
    e2e::Run r;
    r.input = input, r.args = std::move(args), r.files = std::move(files), r.console = console;
    Outcome o = e2e::run(r);
    EXPECT_FALSE(o.timed_out) << "the program did not end";
    return o;
}

// The exit status and the console bytes of a run.
testing::AssertionResult ended(const Outcome& o, int status, const Dialogue& d, const char* what = "console") {
    if (o.status != status)
        return testing::AssertionFailure() << "exit status " << o.status << " (signal " << o.signal << "), expected "
                                           << status << "; stderr \"" << e2e::visible(o.err) << "\"";
    return same_bytes(what, d.shown, o.out);
}

void expect_files(const Outcome& o, const Files& want) {
    for (const auto& [name, bytes] : want) {
        if (!o.files.count(name)) ADD_FAILURE() << "no file " << name;
        else EXPECT_TRUE(same_bytes("file " + name, bytes, o.files.at(name)));
    }
}

// The report of an input/output error: layout, letter F, operation and unit
// name; the number (returned) and the wording of the message are the program's.
testing::AssertionResult io_report(const std::string& err, const std::string& op, int* number = nullptr) {
    const std::string head = "\r\nrun-time error F", mid = ": " + op + "\r\n- ";
    const size_t msg = head.size() + 4 + mid.size();
    bool ok = err.size() > msg + 2 && err.starts_with(head) && err.compare(head.size() + 4, mid.size(), mid) == 0 &&
              err.find_first_of(CRLF, msg) == err.size() - 2 && err.ends_with(CRLF);
    for (size_t i = 0; ok && i < 4; ++i) ok = std::isdigit(static_cast<unsigned char>(err[head.size() + i]));
    if (!ok) return testing::AssertionFailure() << "not an F report on " << op << ": \"" << e2e::visible(err) << "\"";
    if (number) *number = std::stoi(err.substr(head.size(), 4));
    return testing::AssertionSuccess();
}

// ============================================================ a typed model
// Two storeys with a tuned-mass damper on the second: one damper, one
// parameter, type codes 0 to 3.  Every typed value has at most six digits,
// so the data file keeps it exactly.
const Matrix MR2 = {{" .300000E+01", Z}, {Z, " .250000E+01"}};
const Matrix KR2 = {{" .240000E+04", "-.900000E+03"}, {"-.900000E+03", " .900000E+03"}};
const Matrix ZERO2 = {{Z, Z}, {Z, Z}}, MKT = {{Z}, {Z}}, MTT = {{" .100000E+00"}};
const Matrix CKK = {{Z, Z}, {Z, " .800000E+00"}}, CKT = {{Z}, {"-.800000E+00"}}, CTT = {{" .800000E+00"}};
const Matrix KKK = {{Z, Z}, {Z, " .140000E+02"}}, KKT = {{Z}, {"-.140000E+02"}}, KTT = {{" .140000E+02"}};
const Records GAMMA2 = {" .200000E-01", " .400000E-01"}, PC2 = {Z, " .150000E+01"}, PS2 = {" .200000E+01", Z};
const Records RANGE2 = {" .120000E+02", " .140000E+02", " .500000E+00"};

// The whole dialogue, or up to the closing prompt (its line end pending).
Dialogue typed_dialogue(bool to_the_end = true) {
    Dialogue d;
    d.names("dane", "wyniki", "rys").sizes("2", "1", "1").say(ASK_MR).matin(2, 2, "3", {"3", "0", "0", "2.5"});
    d.say(ASK_KR).matin(2, 2, "2", {"2400", "-900", "900"}).say(ASK_GAMMA).type("0.02 0.04");
    d.say(MASS.prompt("kk")).matin(2, 2, "0").say(MASS.prompt("kt")).matin(2, 1, "0");
    d.say(MASS.prompt("tt")).matin(1, 1, "2", {"0.1"});
    d.say(DAMPING.prompt("kk")).matin(2, 2, "1", {"0", "0.8"}).say(DAMPING.prompt("kt")).matin(2, 1, "3", {"0", "-0.8"});
    d.say(DAMPING.prompt("tt")).matin(1, 1, "1", {"0.8"});
    d.say(STIFFNESS.prompt("kk")).matin(2, 2, "3", {"0", "0", "0", "14"});
    d.say(STIFFNESS.prompt("kt")).matin(2, 1, "3", {"0", "-14"}).say(STIFFNESS.prompt("tt")).matin(1, 1, "3", {"14"});
    d.forcing({"0", "1.5"}, {"2", "0"}, "12 14 0.5").plot("2", "2 1");
    return to_the_end ? d.close() : d.say(ASK_CLOSE);
}

std::string typed_data_file() {
    return file(cat(Records{"    2    1    1"}, rows(MR2), rows(KR2), row_record(GAMMA2), rows(ZERO2), rows(MKT),
                    rows(MTT), rows(CKK), rows(CKT), rows(CTT), rows(KKK), rows(KKT), rows(KTT), row_record(PC2),
                    row_record(PS2), row_record(RANGE2)));
}

// Typed: the forcing heading, the damper heading once.  From the data file:
// no forcing heading, the damper heading before each of the three kinds.
std::string typed_echo(bool typed) {
    return file(cat(title(2, 1, 1), frame_echo(MR2, KR2, GAMMA2[0], GAMMA2[1]), damper_echo(MASS, true, ZERO2, MKT, MTT),
                    damper_echo(DAMPING, !typed, CKK, CKT, CTT), damper_echo(STIFFNESS, !typed, KKK, KKT, KTT),
                    forcing_echo(typed, PC2, PS2, RANGE2)));
}

const Outcome& typed_run() {
    static const Outcome o = run(typed_dialogue().input);
    return o;
}

TEST(TypedModel, ConsoleDataFileAndInputEcho) {
    const Outcome& o = typed_run();
    EXPECT_TRUE(ended(o, 0, typed_dialogue()));
    EXPECT_EQ(o.err, "");
    expect_files(o, {{"dane", typed_data_file()}});
    EXPECT_TRUE(same_bytes("input echo", typed_echo(true), split_at_modal(o.files.at("wyniki")).first));

    // Five steps from 12 to 14, unknowns 2 and 1 in that order, then the legend.
    const Records plot = lines_of(o.files.at("rys"));
    ASSERT_EQ(plot.size(), 11u);
    const Records lambdas = {" .120000E+02", " .125000E+02", " .130000E+02", " .135000E+02", " .140000E+02"};
    for (size_t i = 0; i < 5; ++i) {
        ASSERT_EQ(plot[i].size(), 110u) << plot[i];
        EXPECT_EQ(plot[i].substr(0, 16), field(lambdas[i]) + "  ");
        EXPECT_EQ(plot[i].substr(60, 3), "  2");
        EXPECT_EQ(plot[i].substr(107, 3), "  1");
    }
    EXPECT_EQ(Records(plot.begin() + 5, plot.end()), LEGEND);
}

TEST(TypedModel, ReplayFromItsDataFile) {
    const Outcome& typed = typed_run();
    ASSERT_TRUE(typed.files.count("dane"));
    Dialogue d;
    d.names("dane", "wyniki", "rys").ask(ASK_ICD, "2").plot("2", "2 1").close();
    const Outcome o = run(d.input, {{"dane", typed.files.at("dane")}});
    EXPECT_TRUE(ended(o, 0, d));
    expect_files(o, {{"dane", typed.files.at("dane")}, {"rys", typed.files.at("rys")}});
    const auto [echo, sweep] = split_at_modal(o.files.at("wyniki"));
    EXPECT_TRUE(same_bytes("input echo", typed_echo(false), echo));
    EXPECT_FALSE(sweep.empty());
    EXPECT_TRUE(same_bytes("results after the input", split_at_modal(typed.files.at("wyniki")).second, sweep));
}

// ============================================================ layouts
TEST(Layout, TwelveStoreysWithoutDampers) {
    // MR = I and KR = diag(i*i): no rotation, frequencies 1 to 12, unit mode
    // shapes; gamma 0 gives a zero damping matrix.  One step at 0.5 with a
    // unit force on storey 1: 1/(1 - 0.25) = 1.33333.
    const Records k2 = {ONE, " .400000E+01", " .900000E+01", " .160000E+02", " .250000E+02", " .360000E+02",
                        " .490000E+02", " .640000E+02", " .810000E+02", K100, " .121000E+03", " .144000E+03"};
    const Records omega = {ONE, " .200000E+01", " .300000E+01", " .400000E+01", " .500000E+01", " .600000E+01",
                           " .700000E+01", " .800000E+01", " .900000E+01", " .100000E+02", " .110000E+02", " .120000E+02"};
    const Records zeros(12, Z), range = {" .500000E+00", " .500000E+00", ONE};
    Records pc = zeros, amp = zeros, typed_k, typed_pc(12, "0");
    pc[0] = ONE, amp[0] = " .133333E+01", typed_pc[0] = "1";
    for (int i = 1; i <= 12; ++i) typed_k.push_back(std::to_string(i * i));
    Dialogue d;
    d.names("d", "w", "r").sizes("12", "0").frame(Records(12, "1"), typed_k, "0 0");
    d.forcing(typed_pc, Records(12, "0"), "0.5 0.5 1").plot("2", "12 1").close();
    const Outcome o = run(d.input);

    EXPECT_TRUE(ended(o, 0, d));
    const Matrix unit = diagonal(Records(12, ONE));
    expect_files(o, {{"d", file(cat(Records{"   12    0    0"}, rows(unit), rows(diagonal(k2)), row_record({Z, Z}),
                                     row_record(pc), row_record(zeros), row_record(range)))},
                     {"w", file(cat(title(12, 0, 0), frame_echo(unit, diagonal(k2), Z, Z), BRAK3,
                                    forcing_echo(true, pc, zeros, range), modal(omega, unit), damping(Matrix(12, zeros)),
                                    step(range[0], amp, amp, zeros), CLOSING))},
                     {"r", file(cat(Records{plot_row(range[0], {{Z, Z, Z, 12}, {amp[0], amp[0], Z, 1}})}, LEGEND))}});
}

TEST(Layout, NoDamperParametersAndTypeCodesAskedAgain) {
    // LT = 2, LPT = 0: only the kk blocks.  Codes -1, 9 and 2000 are refused
    // and asked again; then 0 makes Mkk and Kkk zero, still recorded and listed.  m = 1, k = 100, c = 0.01 k from the
    // damping ratios plus 0.5 from the damper: at 10 the response is all at
    // sin, 1/(10 * 1.5).  No plotted unknown: the plot file has the legend only.
    Dialogue d;
    d.names("d", "w", "r").sizes("1", "2", "0").say(ASK_MR).matin(1, 1, "1", {"1"}).say(ASK_KR).matin(1, 1, "2", {"100"});
    d.say(ASK_GAMMA).type("0.05 0.05").say(MASS.prompt("kk")).bad_type("-1").matin(1, 1, "0");
    d.say(DAMPING.prompt("kk")).matin(1, 1, "1", {"0.5"}).say(STIFFNESS.prompt("kk")).bad_type("9");
    d.bad_type("2000").matin(1, 1, "0");
    d.forcing({"1"}, {"0"}, "10 10 1").plot("0", "").close();
    const Outcome o = run(d.input);

    EXPECT_TRUE(ended(o, 0, d));
    const std::string g = " .500000E-01", h = " .500000E+00", x = " .666667E-01";
    const Records range = {" .100000E+02", " .100000E+02", ONE};
    expect_files(o, {{"d", file(cat(Records{"    1    2    0", "  " + ONE, "  " + K100, "  " + g + "  " + g, "  " + Z,
                                            "  " + h, "  " + Z, "  " + ONE, "  " + Z},
                                    row_record(range)))},
                     {"w", file(cat(title(1, 2, 0), frame_echo({{ONE}}, {{K100}}, g, g), damper_echo(MASS, true, {{Z}}),
                                    damper_echo(DAMPING, false, {{h}}), damper_echo(STIFFNESS, false, {{Z}}),
                                    forcing_echo(true, {ONE}, {Z}, range), modal({range[0]}, {{ONE}}),
                                    damping({{ONE}}), step(range[0], {x}, {Z}, {x}), CLOSING))},
                     {"r", file(LEGEND)}});
}

class CouplingBlockNotSquare : public testing::TestWithParam<std::tuple<Console, const char*>> {};

TEST_P(CouplingBlockNotSquare, StopsWithTheDimensionMessage) {
    // LK = 1, LPT = 2: the 1 x 2 stiffness coupling block given as diagonal or symmetric.
    const auto [console, code] = GetParam();
    Dialogue d(console);
    d.names("d", "w", "r").sizes("1", "1", "2").frame({"1"}, {"100"}, "0 0");
    d.say(MASS.prompt("kk")).matin(1, 1, "0").say(MASS.prompt("kt")).matin(1, 2, "3", {"0.5", "0.25"});
    d.say(MASS.prompt("tt")).matin(2, 2, "1", {"0.1", "0.2"});
    d.say(DAMPING.prompt("kk")).matin(1, 1, "0").say(DAMPING.prompt("kt")).matin(1, 2, "0");
    d.say(DAMPING.prompt("tt")).matin(2, 2, "0").say(STIFFNESS.prompt("kk")).matin(1, 1, "2", {"50"});
    d.say(STIFFNESS.prompt("kt")).ask(ASK_TYPE, code).stop("BLAD WYMIARU MACIERZY");
    // The data file of an earlier model: the half-typed one does not replace it.
    const Outcome o = run(d.input, {{"d", "earlier model\r\n"}}, {}, console);

    EXPECT_TRUE(ended(o, 2, d));
    EXPECT_EQ(o.err, "");
    if (console == Console::pipes) {
        EXPECT_TRUE(o.out.ends_with("PELNA NIESYMETRYCZNA=3\r\nBLAD WYMIARU MACIERZY\r\n\r\n"));
    }
    const Matrix mkt = {{" .500000E+00", " .250000E+00"}}, mtt = diagonal({" .100000E+00", " .200000E+00"});
    const Matrix zero12 = {{Z, Z}}, zero22 = {{Z, Z}, {Z, Z}};
    expect_files(o, {{"d", "earlier model\r\n"},
                     {"w", file(cat(title(1, 1, 2), frame_echo({{ONE}}, {{K100}}, Z, Z),
                                    damper_echo(MASS, true, {{Z}}, mkt, mtt),
                                    damper_echo(DAMPING, false, {{Z}}, zero12, zero22), STIFFNESS.caption("kk"),
                                    Records{"   .500000E+02  *"}))}});
}

INSTANTIATE_TEST_SUITE_P(ConsolesAndCodes, CouplingBlockNotSquare,
                         testing::Combine(testing::Values(Console::pipes, Console::terminal), testing::Values("1", "2")),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == Console::pipes ? "Pipes" : "Terminal") +
                                    "Code" + std::get<1>(info.param);
                         });

// ============================================================ refusals
TEST(Refusals, TypedValuesAreAskedAgain) {
    Dialogue d;
    d.names("d", "w", "r").ask(ASK_ICD, "0").say({"  ICD MUSI BYC ROWNE 1 LUB 2"}).ask(ASK_ICD, "1");
    for (const char* lk : {"0", "21"}) d.ask(ASK_LK, lk).say({"  LICZBA KONDYGNACJI MUSI BYC OD 1 DO 20"});
    d.ask(ASK_LK, "1");
    for (const char* lt : {"-1", "1000"}) d.ask(ASK_LT, lt).say({"  LICZBA TLUMIKOW MUSI BYC OD 0 DO 999"});
    d.ask(ASK_LT, "999").ask(ASK_LPT, "41").say({"  LICZBA PARAMETROW MUSI BYC OD 0 DO 40"}).ask(ASK_LPT, "0");
    d.frame({"1"}, {"100"}, "0.05 0.05").say(MASS.prompt("kk")).matin(1, 1, "0");
    d.say(DAMPING.prompt("kk")).matin(1, 1, "0").say(STIFFNESS.prompt("kk")).matin(1, 1, "0");
    // A zero step, a negative step and 1 000 001 steps are refused; (1, 1, 1E17)
    // starts at (1 - 1E17) + 1E17 = 0 and makes a second step at 1E17.
    d.forcing({"1"}, {"0"}, "0 1 0");
    for (const char* range : {"1 2 -0.5", "0 1000000 1", "1 1 1E17"})
        d.say({"  BLEDNY ZAKRES CZESTOSCI - PONAD 1000000 KROKOW"}).ask(ASK_RANGE, range);
    d.ask(ASK_NPLOT, "4").say({"  NAJWYZEJ 3 NIEWIADOME"}).plot("2", "0 1");
    for (const char* numbers : {"1 2", "1 1"})
        d.say({"  NUMER NIEWIADOMEJ MUSI BYC OD 1 DO  1"}).ask(ASK_NUMBERS, numbers);
    const Outcome o = run(d.close().input);

    EXPECT_TRUE(ended(o, 0, d));
    const Records range = {ONE, ONE, " .100000E+18"}, g = {" .500000E-01", " .500000E-01"};
    expect_files(o, {{"d", file(cat(Records{"    1  999    0", "  " + ONE, "  " + K100}, row_record(g),
                                    Records{"  " + Z, "  " + Z, "  " + Z, "  " + ONE, "  " + Z}, row_record(range)))}});
    const auto [echo, rest] = split_at_modal(o.files.at("w"));
    EXPECT_TRUE(same_bytes("input echo",
                           file(cat(title(1, 999, 0), frame_echo({{ONE}}, {{K100}}, g[0], g[1]),
                                    damper_echo(MASS, true, {{Z}}), damper_echo(DAMPING, false, {{Z}}),
                                    damper_echo(STIFFNESS, false, {{Z}}), forcing_echo(true, {ONE}, {Z}, range))),
                           echo));
    Records headers;
    for (const auto& l : lines_of(rest))
        if (l.starts_with("  WYNIKI OBLICZEN")) headers.push_back(l);
    EXPECT_EQ(headers, Records({"  WYNIKI OBLICZEN LAMBDA= .000000E+00", "  WYNIKI OBLICZEN LAMBDA= .100000E+18"}));
    // At 0 the response is the static one, 1/100; unknown 1 twice.
    const Records plot = lines_of(o.files.at("r"));
    ASSERT_EQ(plot.size(), 8u);
    const Group static_response = {" .100000E-01", " .100000E-01", Z, 1};
    EXPECT_EQ(plot[0], plot_row(Z, {static_response, static_response}));
    EXPECT_TRUE(plot[1].starts_with("   .100000E+18")) << plot[1];
    EXPECT_EQ(Records(plot.begin() + 2, plot.end()), LEGEND);
}

// The data file of the single storey of storey() with the given range record.
std::string storey_data(const std::string& range) {
    return file({"    1    0    0", "  " + ONE, "  " + K100, "  " + Z + "  " + Z, "  " + ONE, "  " + Z, range});
}

// A run from the data file "dane" that ends with an error before the plot prompts.
Dialogue from_file_failing() {
    Dialogue d;
    d.names("dane", "wyniki", "rys").ask(ASK_ICD, "2").error_end();
    return d;
}

TEST(Refusals, DataFileSizesOutOfRange) {
    for (const char* sizes : {"   30    0    0", "    0    0    0", "   21    0    0", "    2   -1    0",
                              "    2 1000    0", "    2    1   41", "    2    1   -1"}) {
        SCOPED_TRACE(sizes);
        const Files before = {{"dane", sizes + CRLF + storey_data("").substr(17)}, {"wyniki", "old results\r\n"}};
        const Outcome o = run(from_file_failing().input, before);
        EXPECT_TRUE(ended(o, 1, from_file_failing()));
        EXPECT_TRUE(io_report(o.err, "READ(dane)"));
        Files after = before;
        after["rys"] = "";
        EXPECT_EQ(o.files, after);
    }
}

TEST(Refusals, DataFileRangeThatNeverEnds) {
    for (const char* range : {"   .000000E+00   .100000E+01   .000000E+00", "   .100000E+01   .200000E+01  -.500000E+00"}) {
        SCOPED_TRACE(range);
        const Outcome o = run(from_file_failing().input, {{"dane", storey_data(range)}});
        EXPECT_TRUE(ended(o, 1, from_file_failing()));
        EXPECT_TRUE(io_report(o.err, "READ(dane)"));
        expect_files(o, {{"wyniki", file(cat(title(1, 0, 0), frame_echo({{ONE}}, {{K100}}, Z, Z), BRAK3,
                                             Records{"            AMPLITUDY SIL WYMUSZAJACYCH COS", "  " + ONE,
                                                     "            AMPLITUDY SIL WYMUSZAJACYCH SIN", "  " + Z}))}});
    }
}

TEST(DataFile, EndsEarlyOrHoldsAMalformedField) {
    // Ends after KR: both matrices are listed.  A letter in KR: only MR is.
    const Records mr = cat(title(1, 0, 0), Records{"                      INFORMACJE O RAMIE", "",
                                                   "  MACIERZ MAS KONSTRUKCJI", "  " + ONE + "  *"});
    const struct { std::string data; Records results; } cases[] = {
        {file({"    1    0    0", "  " + ONE, "  " + K100}),
         cat(mr, Records{"  MACIERZ SZTYWNOSCI KONSTRUKCJI", "   .100000E+03  *"})},
        {file({"    1    0    0", "  " + ONE, "   .1000X0E+03", "  " + Z + "  " + Z}), mr}};
    int numbers[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i == 0 ? "ends early" : "malformed field");
        const Outcome o = run(from_file_failing().input, {{"dane", cases[i].data}});
        EXPECT_TRUE(ended(o, 1, from_file_failing()));
        EXPECT_TRUE(io_report(o.err, "READ(dane)", &numbers[i]));
        expect_files(o, {{"wyniki", file(cases[i].results)}});
    }
    EXPECT_NE(numbers[0], numbers[1]) << "end of file and a bad number share one error number";
}

TEST(CommandLine, HelpVersionAndUnknownOptions) {
    // Alone, -h, --help and --version answer on standard output and start no
    // dialogue (no banner, no file).  Any other argument that starts with '-'
    // (--help in company included) is refused with status 64 and no file; a
    // name such as ./-d is a name.
    for (const char* arg : {"-h", "--help", "--version"}) {
        SCOPED_TRACE(arg);
        const Outcome o = run("", {}, {arg});
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.err, "");
        EXPECT_TRUE(o.files.empty());
        if (std::string_view(arg) == "--version") EXPECT_EQ(o.out, "varnostik 1.0\n");
        else
            for (const char* part : {"Usage: varnostik", "ICD", "\n  33 ", "\n  64 ", "\n  130, 143, 129 ",
                                     "docs/instrukcja.md"})
                EXPECT_NE(o.out.find(part), std::string::npos) << part;
    }
    const struct { std::vector<std::string> args; std::string named; } refused[] = {
        {{"-x"}, "-x"}, {{"--help", "x"}, "--help"}, {{"w", "-"}, "-"}, {{"--threads=2"}, "--threads=2"}};
    for (const auto& row : refused) {
        SCOPED_TRACE(row.named);
        const Outcome o = run("d\nw\nr\n", {}, row.args);
        EXPECT_EQ(o.status, 64);
        EXPECT_EQ(o.out, "");
        EXPECT_TRUE(o.err.starts_with("varnostik: unknown option '" + row.named + "'")) << o.err;
        EXPECT_NE(o.err.find("Usage: varnostik"), std::string::npos);
        EXPECT_TRUE(o.files.empty());
    }
    Dialogue d;
    d.say(BANNER).ask(ASK_DATA, "").ask({"  PODAJ NAZWE ZBIORU Z WYNIKAMI OBLICZEN"}, "w");
    d.ask({"  PODAJ NAZWE ZBIORU Z DANYMI DO RYSUNKOW"}, "r").say(ASK_ICD).type("2").error_end();
    const Outcome o = run(d.input, {{"-d", "   1    0    0\r\n"}}, {"./-d"});
    EXPECT_TRUE(ended(o, 1, d));
    EXPECT_TRUE(io_report(o.err, "READ(./-d)")) << "the data file named by the argument is read";
}

TEST(Messages, LikelySlipsGetAHintOnTheReportLine) {
    // Each run ends with an F report whose one message line names the fault
    // and says what to do; the report's layout is unchanged.
    const struct {
        int line;
        std::string input;
        Files files;
        std::string op, message;
    } rows[] = {
        {__LINE__, "d\nw\nr\n1\n1\n0\n1\nl.5\n", {}, "READ(CON)",
         "invalid real number 'l.5'; use digits, a decimal point and an optional exponent, e.g. 1.5E3"},
        {__LINE__, "d\nw\nr\n1.0\n", {}, "READ(CON)",
         "invalid integer '1.0'; a whole number is asked for here, e.g. 3"},
        {__LINE__, "d\nw\nr\n", {}, "READ(CON)",
         "end of file on console input; the answers ended before the questions did"},
        {__LINE__, "dane\nw\nr\n2\n", {}, "READ(dane)",
         "end of file after line 0; no file of this name existed (none is left behind); check the name"},
        {__LINE__, "dane\nw\nr\n2\n", {{"dane", ""}}, "READ(dane)", "end of file after line 0; the file is empty"},
        {__LINE__, "d\nd\nr\n", {}, "OPEN(d)",
         "file 'd' is already connected to unit 1; give each of the three files a name of its own"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "line " << row.line);
        const Outcome o = run(row.input, row.files);
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(io_report(o.err, row.op));
        EXPECT_TRUE(o.err.ends_with("\r\n- " + row.message + CRLF)) << e2e::visible(o.err);
    }
}

// ============================================================ console and units
TEST(Terminal, ShortRunEndsWithOneLineEnd) {
    Dialogue d = storey("0.05 0.05", "4 6 1", "r", Console::terminal);
    d.plot("1", "1").close();
    const Outcome o = run(d.input, {}, {}, Console::terminal);
    EXPECT_TRUE(ended(o, 0, d, "terminal"));
    EXPECT_EQ(o.err, "");
    EXPECT_TRUE(o.out.ends_with("KLAWISZ ***\r\nStop - Program terminated.\r\n"));
    EXPECT_EQ(o.files.size(), 3u);
}

TEST(Terminal, ErrorDuringAReadAddsNoLineEnd) {
    // The input ends at LK, right away or after a letter that is asked again.
    const Records again = {"  NIEPOPRAWNA ODPOWIEDZ - PODAJ JESZCZE RAZ"};
    for (const char* at_lk : {"x", ""}) {
        SCOPED_TRACE(at_lk);
        Dialogue d(Console::terminal);
        d.names("d", "w", "r").ask(ASK_ICD, "1").say(ASK_LK);
        if (*at_lk) d.type(at_lk).say(again);
        d.read().error_end();
        const Outcome o = run(d.input, {}, {}, Console::terminal);
        EXPECT_TRUE(ended(o, 1, d, "terminal"));
        EXPECT_TRUE(io_report(o.err, "READ(CON)"));
        EXPECT_TRUE(o.out.ends_with(*at_lk ? "RAZ\r\n" : "FUNDAMENTU\r\n"));
    }
}

TEST(Console, LinesLongerThan130CharactersAreAnError) {
    // A file name of 131 characters; an ICD line of 130 is taken, one of 131 is not.
    Dialogue name, icd130, icd131;
    name.say(BANNER).say(ASK_DATA).type(std::string(131, 'a')).error_end();
    icd130.names("d", "w", "r").ask(ASK_ICD, std::string(129, ' ') + "1").say(ASK_LK).error_end();
    icd131.names("d", "w", "r").ask(ASK_ICD, std::string(130, ' ') + "1").error_end();
    for (const Dialogue* d : {&name, &icd130, &icd131}) {
        const Outcome o = run(d->input);
        EXPECT_TRUE(ended(o, 1, *d));
        EXPECT_TRUE(io_report(o.err, "READ(CON)"));
    }
}

TEST(Console, LoneCrAndCrLfEndLinesAsLfDoes) {
    // The typed model again, its lines ended in turn by CR, CR LF and LF.
    // An empty line behind a lone CR would join it as CR LF, so the line
    // before an empty one keeps CR LF.
    const std::string lf_input = typed_dialogue().input;
    std::vector<std::string> lines;
    for (size_t from = 0, to; (to = lf_input.find('\n', from)) != std::string::npos; from = to + 1)
        lines.push_back(lf_input.substr(from, to - from));
    std::string input;
    for (size_t k = 0; k < lines.size(); ++k) {
        const bool next_empty = k + 1 < lines.size() && lines[k + 1].empty();
        const char* end = k % 3 == 0 ? (next_empty ? "\r\n" : "\r") : k % 3 == 1 ? "\r\n" : "\n";
        input += lines[k] + end;
    }
    const Outcome& want = typed_run();
    Outcome o = run(input);
    EXPECT_EQ(o.status, want.status);
    EXPECT_TRUE(same_bytes("console", want.out, o.out));
    for (const auto& [name, bytes] : want.files) EXPECT_TRUE(same_bytes(name, bytes, o.files[name]));
}

TEST(Console, CtrlZLineIsEndOfFile) {
    Dialogue d;
    d.names("d", "w", "r").say(ASK_ICD).error_end();
    const Outcome at_end = run(d.input);
    EXPECT_TRUE(ended(at_end, 1, d));
    EXPECT_TRUE(io_report(at_end.err, "READ(CON)"));
    for (const char* line : {"\x1a", "1\x1a"}) {  // the lines behind it are never read
        SCOPED_TRACE(e2e::visible(line));
        const Outcome o = run(d.input + line + "\n1\n1\n0\n");
        EXPECT_TRUE(ended(o, 1, d));
        EXPECT_TRUE(same_bytes("report", at_end.err, o.err));
    }
}

TEST(Names, BlankNamesTakeArgumentsInTurnThenAsk) {
    Dialogue d;
    d.names("", "", "").name_prompt(3).type("").name_prompt(3).type("   ").name_prompt(3);
    d.type("  plot_file_name.txt ").say(ASK_ICD).error_end();
    const Outcome o = run(d.input, {}, {" first ", "second.dat"});
    EXPECT_TRUE(ended(o, 1, d));
    EXPECT_TRUE(io_report(o.err, "READ(CON)"));
    EXPECT_TRUE(o.out.find("UNIT 3?  DANE O UKLADZIE") != std::string::npos);
    // The data file this run made holds nothing at the end: it is not left behind.
    EXPECT_EQ(o.files, (Files{{"second.dat", ""}, {"plot_file_name.txt", ""}}));
}

TEST(Names, EndOfInputAtTheNamePrompt) {
    Dialogue d;
    d.names("", "w", "r").name_prompt(1);
    const Outcome o = run(d.input);
    EXPECT_TRUE(ended(o, 1, d));
    EXPECT_TRUE(io_report(o.err, "READ(CON)"));
    EXPECT_TRUE(o.out.ends_with("\r\nUNIT 1? "));
    EXPECT_TRUE(o.files.empty());
}

TEST(Devices, ConsoleAndNullAsThePlotFile) {
    // Undamped, one step at 5: 1/(100 - 25) = .133333E-01.
    for (const std::string name : {"  con", "NUL.TXT", "nul"}) {
        SCOPED_TRACE(name);
        Dialogue d = storey("0 0", "5 5 1", name);
        d.plot("1", "1");
        if (name == "  con")  // the records reach the console with their carriage control
            d.say({plot_row(" .500000E+01", {{" .133333E-01", " .133333E-01", Z, 1}})}).say(LEGEND);
        const Outcome o = run(d.close().input);
        EXPECT_TRUE(ended(o, 0, d));
        EXPECT_EQ(o.files.size(), 2u);
        EXPECT_TRUE(o.files.count("d") && o.files.count("w"));
    }
}

TEST(Devices, PrinterAndPortsAreRefused) {
    for (const std::string name : {"PRN", "com2.dat", "Lpt1", "aux", "LINE"}) {
        SCOPED_TRACE(name);
        Dialogue d;
        d.names("d", "w", name).error_end();
        const Outcome o = run(d.input + "1\n");
        EXPECT_TRUE(ended(o, 1, d));
        EXPECT_TRUE(io_report(o.err, "OPEN(" + name + ")"));
        EXPECT_EQ(o.files, (Files{{"w", ""}}));
    }
}

TEST(Files, ExistingFilesUnchangedWhenTheRunStopsBeforeWriting) {
    // The input ends at the LPT prompt: not even the size record is written.
    const Files old = {{"d", "old data\r\n"}, {"w", "old results\r\n"}, {"r", "old plot"}};
    Dialogue d;
    d.names("d", "w", "r").ask(ASK_ICD, "1").ask(ASK_LK, "2").ask(ASK_LT, "1").say(ASK_LPT).error_end();
    const Outcome o = run(d.input, old);
    EXPECT_TRUE(ended(o, 1, d));
    EXPECT_TRUE(io_report(o.err, "READ(CON)"));
    EXPECT_EQ(o.files, old);
}

TEST(Files, SameFileOnTwoUnitsIsRefused) {
    for (const std::string second : {"d", "./d"}) {
        SCOPED_TRACE(second);
        Dialogue d;
        d.names("d", second, "r").error_end();
        const Outcome o = run(d.input + "1\n", {{"d", "keep\r\n"}});
        EXPECT_TRUE(ended(o, 1, d));
        EXPECT_TRUE(io_report(o.err, "OPEN(" + second + ")"));
        EXPECT_EQ(o.files, (Files{{"d", "keep\r\n"}}));
    }
}

TEST(Files, WriteErrorOnAFullDevice) {
    // Typed names keep 8 characters, so the results file comes from the
    // command line.  The input echo of the two-storey model (over 2000
    // characters) fills the file buffer before the first plot prompt.
    Dialogue d;
    d.names("dane", "", "rys").ask(ASK_ICD, "2").error_end();
    const Outcome o = run(d.input + "2\n2 1\n\n", {{"dane", typed_data_file()}}, {"/dev/full"});
    EXPECT_TRUE(ended(o, 1, d));
    EXPECT_TRUE(io_report(o.err, "WRITE(/dev/full)"));
    EXPECT_EQ(o.files, (Files{{"dane", typed_data_file()}, {"rys", ""}}));
}

TEST(FloatingPoint, EqualLowestFrequenciesStopInTheDamping) {
    // MR = KR = I: both frequencies 1, the denominators of the damping
    // coefficients are 1 - 1 = 0.  Unequal ratios divide a non-zero value
    // by zero; equal ratios make 0/0.
    const struct { const char* gammas; std::string g1, g2, report; } cases[] = {
        {"0.02 0.05", " .200000E-01", " .500000E-01",
         "\r\nrun-time error M6103: MATH\r\n- floating-point error: divide by zero\r\n"},
        {"0.03 0.03", " .300000E-01", " .300000E-01", "\r\nrun-time error M6101: MATH\r\n- floating-point error: invalid\r\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.gammas);
        Dialogue d;
        d.names("d", "w", "r").sizes("2", "0").frame({"1", "1"}, {"1", "1"}, c.gammas);
        d.forcing({"1", "0"}, {"0", "0"}, "0.5 1 0.5").error_end();
        const Outcome o = run(d.input + "1\n1\n\n");
        EXPECT_TRUE(ended(o, 1, d));
        EXPECT_TRUE(same_bytes("report", c.report, o.err));
        const Matrix unit = diagonal({ONE, ONE});
        const Records range = {" .500000E+00", ONE, " .500000E+00"};
        expect_files(o, {{"d", file(cat(Records{"    2    0    0"}, rows(unit), rows(unit), row_record({c.g1, c.g2}),
                                        row_record({ONE, Z}), row_record({Z, Z}), row_record(range)))},
                         {"w", file(cat(title(2, 0, 0), frame_echo(unit, unit, c.g1, c.g2), BRAK3,
                                        forcing_echo(true, {ONE, Z}, {Z, Z}, range), modal({ONE, ONE}, unit)))},
                         {"r", ""}});
    }
}

// ============================================================ resonance
TEST(Sweep, UndampedResonanceIsSingular) {
    // No damping: at 9 the response is 1/19 = .526316E-01; at 10 the
    // matrix is zero.
    Dialogue d = storey("0 0", "9 11 1");
    d.plot("1", "1").say({SINGULAR}).stop("Return code 33");
    const Outcome o = run(d.input + "\n");
    EXPECT_TRUE(ended(o, 33, d));
    EXPECT_EQ(o.err, "");
    const Records range = {" .900000E+01", " .110000E+02", ONE};
    const std::string x = " .526316E-01";
    expect_files(o, {{"d", storey_data(field(range[0]) + field(range[1]) + field(range[2]))},
                     {"w", file(cat(storey_echo(Z, range), modal({" .100000E+02"}, {{ONE}}), damping({{Z}}),
                                    step(range[0], {x}, {x}, {Z}),
                                    Records{SEP, "  WYNIKI OBLICZEN LAMBDA= .100000E+02", SINGULAR}))},
                     {"r", file({plot_row(range[0], {{x, x, Z, 1}})})}});
}

// The value shown in an E12.6 field is the exact one to six digits.
testing::AssertionResult six_digits(const std::string& shown, double exact) {
    const double v = std::stod(shown);
    const int e = std::stoi(shown.substr(shown.size() - 3));
    if (std::fabs(v - exact) <= 0.5000001 * std::pow(10.0, e - 6)) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "'" << shown << "' is not " << exact << " to six digits";
}

TEST(Sweep, DampedResonanceMatchesTheClosedForm) {
    // Damping ratio 0.05 in the first mode (c = 1), F = 1 at cos:
    // X = (F/k) / sqrt((1 - r^2)^2 + (2 zeta r)^2), r = lambda / 10, with the
    // part at cos (F/k)(1 - r^2)/D and at sin (F/k)(2 zeta r)/D.
    Dialogue d = storey("0.05 0.05", "9 11 1");
    const Outcome o = run(d.plot("1", "1").close().input);
    EXPECT_TRUE(ended(o, 0, d));
    const Records res = lines_of(o.files.at("w")), plot = lines_of(o.files.at("r"));
    const Records lambdas = {" .900000E+01", " .100000E+02", " .110000E+02"};
    size_t at = 0;
    for (size_t s = 0; s < 3; ++s, ++at) {
        while (at < res.size() && !res[at].starts_with("  WYNIKI OBLICZEN")) ++at;
        ASSERT_LT(at + 6, res.size());
        EXPECT_EQ(res[at], "  WYNIKI OBLICZEN LAMBDA=" + lambdas[s]);
        const std::string amp = res[at + 2].substr(2), ac = res[at + 4].substr(2), as = res[at + 6].substr(2);
        const double r = (9.0 + double(s)) / 10, q = 1 - r * r, z = 2 * 0.05 * r, den = q * q + z * z;
        EXPECT_TRUE(six_digits(amp, 0.01 / std::sqrt(den)));
        EXPECT_TRUE(six_digits(ac, 0.01 * q / den));
        EXPECT_TRUE(six_digits(as, 0.01 * z / den));
        if (s == 1) {
            EXPECT_EQ(amp + ac + as, " .100000E+00" + Z + " .100000E+00");
        }
        ASSERT_GT(plot.size(), s);
        EXPECT_EQ(plot[s], plot_row(lambdas[s], {{amp, ac, as, 1}}));
    }
    EXPECT_EQ(Records(plot.begin() + 3, plot.end()), LEGEND);
}

// ============================================================ endings
TEST(Endings, ClosedStandardStreamsLeaveTheDataFileAlone) {
    // A letter in KR, and the file longer than what one read takes in, so
    // that a report written on the data file's descriptor would land in it.
    std::string data = file({"    1    0    0", "  " + ONE, "   .1000X0E+03"});
    while (data.size() < 5000) data += "  " + Z + CRLF;
    for (const std::vector<int>& closed : {std::vector<int>{2}, std::vector<int>{1, 2}}) {
        SCOPED_TRACE(closed.size() == 1 ? "standard error closed" : "standard output and error closed");
        e2e::Run r;
        r.input = from_file_failing().input, r.files = {{"dane", data}}, r.closed = closed;
        const Outcome o = e2e::run(r);
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.err, "");
        EXPECT_TRUE(same_bytes("data file", data, o.files.at("dane")));
        if (closed.size() == 1) {
            EXPECT_TRUE(same_bytes("console", from_file_failing().shown, o.out));
        }
    }
}

// An E12.6 text of v * 10^e for 1 <= v <= 99.
std::string e12(int v, int e) {
    return v < 10 ? " ." + std::to_string(v) + "00000E+0" + std::to_string(e)
                  : " ." + std::to_string(v) + "0000E+0" + std::to_string(e + 1);
}

// The largest model: 20 storeys (k = 100 i), one damper with 40 parameters
// on their own (m = 0.1, c = 0.5, k = 10), swept from 0.1 to 100 by 0.001.
std::string largest_model() {
    Records k(20), zero20(20, Z);
    for (int i = 1; i <= 20; ++i) k[i - 1] = e12(i, 3);
    const Matrix zero_kk(20, zero20), zero_kt(20, Records(40, Z));
    return file(cat(Records{"   20    1   40"}, rows(diagonal(zero20 = Records(20, ONE))), rows(diagonal(k)),
                    row_record({" .200000E-01", " .400000E-01"}), rows(zero_kk), rows(zero_kt),
                    rows(diagonal(Records(40, " .100000E+00"))), rows(zero_kk), rows(zero_kt),
                    rows(diagonal(Records(40, " .500000E+00"))), rows(zero_kk), rows(zero_kt),
                    rows(diagonal(Records(40, " .100000E+02"))), row_record(Records(20, ONE)),
                    row_record(Records(20, Z)), row_record({" .100000E+00", K100, " .100000E-02"})));
}

size_t file_size(const std::string& folder, const char* name) {
    std::error_code ec;
    const auto n = std::filesystem::file_size(std::filesystem::path(folder) / name, ec);
    return ec ? 0 : size_t(n);
}

// What a terminal line shows after bytes that rewrite it in place with CR.
std::string shown_line(const std::string& bytes) {
    std::string line;
    size_t col = 0;
    for (char c : bytes) {
        if (c == '\r') {
            col = 0;
            continue;
        }
        if (col >= line.size()) line.resize(col + 1, ' ');
        line[col++] = c;
    }
    return line;
}

TEST(Endings, InterruptsWriteEveryCompleteRecord) {
    const std::string model = largest_model();
    const Outcome& typed = typed_run();
    const struct { int sig; const char* name; } signals[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
    for (const auto& s : signals) {
        SCOPED_TRACE(s.name);
        const std::string message = CRLF + "run interrupted by " + s.name + CRLF;
        {
            SCOPED_TRACE("in the sweep, once the plot file has reached 4096 bytes");
            Dialogue d;
            d.names("dane", "w", "r").ask(ASK_ICD, "2").plot("3", "1 2 3");
            e2e::Run r;
            r.input = d.input, r.files = {{"dane", model}}, r.signal = s.sig;
            r.when = [](const std::string& folder, const std::string&) { return file_size(folder, "r") >= 4096; };
            // With SIGINT the progress line is up on a terminal, and erased first.
            r.stderr_terminal = s.sig == SIGINT;
            r.env = {{"VARNOSTIK_PROGRESS_AFTER_MS", "0"}};
            const Outcome o = e2e::run(r);
            EXPECT_TRUE(ended(o, 128 + s.sig, d));
            if (r.stderr_terminal) {
                ASSERT_TRUE(o.err.ends_with(message)) << e2e::visible(o.err);
                const std::string progress = o.err.substr(0, o.err.size() - message.size());
                EXPECT_NE(progress.find("LAMBDA="), std::string::npos);
                EXPECT_EQ(shown_line(progress).find_first_not_of(' '), std::string::npos) << e2e::visible(progress);
            } else {
                EXPECT_EQ(o.err, message);
            }
            EXPECT_TRUE(same_bytes("data file", model, o.files.at("dane")));
            const std::string& w = o.files.at("w");
            EXPECT_TRUE(same_bytes("results as whole lines", file(lines_of(w)), w));
            size_t steps = 0;
            for (const auto& l : lines_of(w)) steps += l.starts_with("  WYNIKI OBLICZEN LAMBDA=");
            const Records plot = lines_of(o.files.at("r"));
            EXPECT_TRUE(same_bytes("plot as whole lines", file(plot), o.files.at("r")));
            for (const auto& row : plot) ASSERT_EQ(row.size(), 16u + 3 * 47) << row;
            // Every step's plot row follows its results: the step under way
            // may have its first records only.
            EXPECT_GE(plot.size(), 4096u / (16 + 3 * 47 + 2));
            EXPECT_TRUE(steps == plot.size() || steps == plot.size() + 1) << steps << " steps, " << plot.size() << " rows";
        }
        {
            SCOPED_TRACE("at the closing prompt of a typed run");
            e2e::Run r;
            r.input = typed_dialogue(false).input, r.signal = s.sig;
            r.when = [](const std::string&, const std::string& out) { return out.ends_with("KLAWISZ ***"); };
            const Outcome o = e2e::run(r);
            EXPECT_TRUE(ended(o, 128 + s.sig, typed_dialogue(false)));
            EXPECT_EQ(o.err, message);
            EXPECT_EQ(o.files.size(), typed.files.size());
            expect_files(o, typed.files);
        }
    }
}

TEST(Endings, FailingFinalWriteReplacesTheStop) {
    // One step: the plot row and the legend wait in the buffer until the stop.
    Dialogue d;
    d.names("d", "w", "").sizes("1", "0").frame({"1"}, {"100"}, "0 0").forcing({"1"}, {"0"}, "5 5 1");
    d.plot("1", "1").ask(ASK_CLOSE, "").error_end();
    const Outcome o = run(d.input, {}, {"/dev/full"});
    EXPECT_TRUE(ended(o, 1, d));
    EXPECT_TRUE(io_report(o.err, "WRITE(/dev/full)"));
    EXPECT_TRUE(o.files.at("w").ends_with(file(CLOSING)));
}

TEST(Endings, ProgressOnlyOnATerminal) {
    Dialogue d = storey("0.05 0.05", "4 6 1");
    d.plot("1", "1").close();
    std::string out[2];
    for (const bool terminal : {false, true}) {
        SCOPED_TRACE(terminal ? "standard error a terminal" : "standard error a pipe");
        e2e::Run r;
        r.input = d.input, r.stderr_terminal = terminal;
        r.env = {{"VARNOSTIK_PROGRESS_AFTER_MS", "0"}};
        const Outcome o = e2e::run(r);
        EXPECT_TRUE(ended(o, 0, d));
        out[terminal] = o.out;
        // Drawn once at the first step (the next draw is due only later),
        // then erased: CR, as many blanks, CR.
        const std::string line = " KROK 1 Z 3  LAMBDA= .400000E+01  33%  POZOSTALO 0:00";
        EXPECT_EQ(e2e::visible(o.err),
                  e2e::visible(terminal ? "\r" + line + "\r" + std::string(line.size(), ' ') + "\r" : ""));
    }
    EXPECT_TRUE(same_bytes("standard output", out[0], out[1]));
}

}  // namespace

// ============================================================ the data file's endings
// A folder outside the run's own, for names given on the command line
// (typed names keep 8 characters): links, pipes and a small file system.
struct SideFolder {
    std::filesystem::path path;
    SideFolder() : path(std::filesystem::temp_directory_path() / ("varnostik-side-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(path);
    }
    ~SideFolder() {
        if (mounted) umount(path.c_str());
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    // A file system of 64 KB on the folder; false where it cannot be made.
    bool mount_small() { return mounted = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") == 0; }
    bool mounted = false;
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

Files side_files(const std::filesystem::path& folder) {
    Files out;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.is_regular_file()) out[e.path().filename().string()] = read_file(e.path().string());
    return out;
}

TEST(DataFile, ReplacedOnlyByAWholeTypedModel) {
    const std::string old = "    1    0    0\r\n  earlier model\r\n";
    const Dialogue whole = typed_dialogue();
    Dialogue half;  // typed up to the damping ratios, then a letter where a number is wanted
    half.names("dane", "wyniki", "rys").sizes("2", "1", "1").say(ASK_MR).matin(2, 2, "3", {"3", "0", "0", "2.5"});
    half.say(ASK_KR).matin(2, 2, "2", {"2400", "-900", "900"}).say(ASK_GAMMA).type("0.02 x").error_end();
    const struct {
        int line;
        std::string input;
        Files before;
        int signal, status;
        const char* data;  // the data file afterwards; nullptr: none left
    } rows[] = {
        {__LINE__, whole.input, {{"dane", old + old + old}}, 0, 0, nullptr},  // replaced whole: see below
        {__LINE__, half.input, {{"dane", old}}, 0, 1, "old"},
        {__LINE__, half.input, {}, 0, 1, nullptr},
        {__LINE__, half.input.substr(0, half.input.find("0.02 x")), {{"dane", old}}, SIGTERM, 143, "old"},
        {__LINE__, half.input.substr(0, half.input.find("0.02 x")), {}, SIGHUP, 129, nullptr},
        {__LINE__, "dane\nwyniki\nrys\n2\n", {}, 0, 1, nullptr},  // a mistyped name to read from
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "line " << row.line);
        e2e::Run r;
        r.input = row.input, r.files = row.before, r.signal = row.signal;
        r.when = [](const std::string&, const std::string& out) { return out.ends_with("PODAJ GAMMA 1 I GAMMA 2"); };
        const Outcome o = e2e::run(r);
        EXPECT_EQ(o.status, row.status) << e2e::visible(o.err);
        for (const auto& [name, bytes] : o.files) EXPECT_FALSE(name.starts_with(".")) << "left behind: " << name;
        if (row.line == rows[0].line) EXPECT_TRUE(same_bytes("data file", typed_data_file(), o.files.at("dane")));
        else if (row.data == nullptr) EXPECT_EQ(o.files.count("dane"), 0u);
        else EXPECT_TRUE(same_bytes("data file", old, o.files.at("dane")));
    }
}

TEST(DataFile, LinksPipesAndFullDisks) {
    SideFolder side;
    const std::string model = typed_data_file();
    {
        SCOPED_TRACE("a link to a file not yet there: the run that ends early removes that file, not the link");
        const auto link = side.path / "link";
        std::filesystem::create_symlink(side.path / "target", link);
        Dialogue d;
        d.names("", "w", "r").ask(ASK_ICD, "1").ask(ASK_LK, "1").say(ASK_LT).error_end();
        const Outcome o = run(d.input, {}, {link.string()});
        EXPECT_TRUE(ended(o, 1, d));
        EXPECT_TRUE(std::filesystem::is_symlink(link));
        EXPECT_FALSE(std::filesystem::exists(side.path / "target"));
        std::filesystem::remove(link);
    }
    {
        SCOPED_TRACE("a recorded model from a pipe, cut short: its writer's end is the end of the file");
        const auto fifo = side.path / "fifo";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const std::string half = model.substr(0, model.size() / 2);
        std::thread writer([&] {
            for (int tries = 0; tries < 1000; ++tries) {  // until the run has opened its end
                const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd < 0) { std::this_thread::sleep_for(std::chrono::milliseconds(5)); continue; }
                EXPECT_EQ(write(fd, half.data(), half.size()), ssize_t(half.size()));
                close(fd);
                return;
            }
        });
        e2e::Run r;
        r.input = "\nwyniki\nrys\n2\n2\n2 1\n\n", r.args = {fifo.string()}, r.timeout = std::chrono::seconds(5);
        const Outcome o = e2e::run(r);
        writer.join();
        EXPECT_FALSE(o.timed_out) << "the run held the pipe's write end itself";
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(io_report(o.err, "READ(" + fifo.string() + ")")) << e2e::visible(o.err);
    }
    {
        SCOPED_TRACE("a typed model through links: the file they lead to replaced, its permission bits kept, the links kept");
        std::filesystem::create_directory(side.path / "sub");
        const std::string typed = typed_dialogue().input;
        const struct {
            int line;
            const char* before;  // the file the links lead to; nullptr: none yet
            mode_t mode;         // its permission bits afterwards (none yet: the umask's 022 taken off 0666)
        } rows[] = {{__LINE__, "    1    0    0\r\n  earlier model\r\n", 0604}, {__LINE__, nullptr, 0644}};
        for (const auto& row : rows) {
            SCOPED_TRACE(row.line);
            const auto target = side.path / "sub" / "model";
            std::filesystem::create_symlink("sub/model", side.path / "inner");
            std::filesystem::create_symlink(side.path / "inner", side.path / "outer");
            if (row.before) {
                write_file(target.string(), row.before);
                chmod(target.c_str(), row.mode);
            }
            const mode_t mask = umask(022);
            const Outcome o = run("\n" + typed.substr(typed.find('\n') + 1), {}, {(side.path / "outer").string()});
            umask(mask);
            EXPECT_EQ(o.status, 0) << e2e::visible(o.err);
            EXPECT_TRUE(std::filesystem::is_symlink(side.path / "outer"));
            EXPECT_TRUE(std::filesystem::is_symlink(side.path / "inner"));
            EXPECT_TRUE(same_bytes("data file", typed_data_file(), read_file(target.string())));
            struct stat st {};
            EXPECT_EQ(stat(target.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, row.mode);
            EXPECT_EQ(side_files(side.path / "sub").size(), 1u) << "a temporary file left behind";
            std::filesystem::remove_all(side.path / "sub");
            std::filesystem::create_directory(side.path / "sub");
            std::filesystem::remove(side.path / "inner");
            std::filesystem::remove(side.path / "outer");
        }
    }
    if (!side.mount_small()) GTEST_SKIP() << "no small file system can be made here (needs root): full disks untested";
    {
        SCOPED_TRACE("a full disk under the results: whole records only, the report says so");
        const Outcome o = run("dane\n\nr\n2\n3\n1 2 3\n\n", {{"dane", largest_model()}}, {(side.path / "w").string()});
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(io_report(o.err, "WRITE(" + (side.path / "w").string() + ")"));
        EXPECT_NE(o.err.find("cut back to its last complete record"), std::string::npos) << e2e::visible(o.err);
        const std::string w = read_file((side.path / "w").string());
        EXPECT_GT(w.size(), 0u);
        EXPECT_TRUE(same_bytes("results as whole lines", file(lines_of(w)), w));
        std::filesystem::remove(side.path / "w");
    }
    {
        SCOPED_TRACE("no room for the new model: the earlier one stays, no temporary file is left");
        const std::string earlier(65000, 'x');  // the 64 KB are full
        write_file((side.path / "d").string(), earlier);
        const std::string typed = typed_dialogue().input;
        const Outcome o = run("\n" + typed.substr(typed.find('\n') + 1), {}, {(side.path / "d").string()});
        EXPECT_EQ(o.status, 1);
        EXPECT_TRUE(io_report(o.err, "WRITE(" + (side.path / "d").string() + ")"));
        EXPECT_EQ(side_files(side.path), (Files{{"d", earlier}}));
    }
}
