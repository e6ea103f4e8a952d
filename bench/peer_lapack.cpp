// The expert's peer of varnostik's resonance sweep, for the performance
// table: the program a numerical programmer would write instead, in C++
// with LAPACK.  It reads a data file recorded by varnostik, forms the
// complete system as the program does (Rayleigh damping of the frame from
// its two lowest modes, the damper blocks around it), then at every step
// solves the complex system of order NU, (K - LAMBDA^2 M - i LAMBDA C) z =
// PC + i PS, with LAPACK's zgesv (partial pivoting) and writes the step's
// records in the program's layout: the results (separator, step header, the
// amplitudes, at cos and at sin) and one plot row.  The steps are shared
// among THREADS threads in blocks; the records are written in step order.
// It has no accuracy check, so its last printed digits may differ.
//
//   peer_lapack DATAFILE RESULTS PLOT THREADS [PLOTTED...]
//
// PLOTTED are the plotted unknowns (default 20 10 1, as bench_sweep's
// replay).  Prints the whole run's time (reading, modes, sweep, writing).
// Needs liblapacke-dev and libopenblas-dev (tools/install-deps --bench);
// run it with OPENBLAS_NUM_THREADS=1, the threads being its own.
#include <lapacke.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using matrix = std::vector<double>;  // column-major

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "peer_lapack: %s\n", why.c_str());
    std::exit(1);
}

// A number of a row record: ".123456E+01", "-.123456-100" (an exponent of
// three digits stands without its letter), or blanks for zero.
double number(const std::string& field) {
    char text[40];
    std::size_t n = 0;
    for (char ch : field) {
        if (ch == ' ' || n + 2 >= sizeof text) continue;
        if ((ch == '+' || ch == '-') && n > 0 && std::isdigit(static_cast<unsigned char>(text[n - 1])))
            text[n++] = 'E';
        text[n++] = ch;
    }
    text[n] = '\0';
    return n == 0 ? 0.0 : std::strtod(text, nullptr);
}

class DataFile {
public:
    explicit DataFile(const char* path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) fail(std::string("cannot read ") + path);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines_.push_back(line);
        }
    }
    const std::string& next() {
        if (pos_ >= lines_.size()) fail("the data file ends early");
        return lines_[pos_++];
    }
    // One row record: n values, ten to a line, each two blanks and twelve.
    std::vector<double> row(int n) {
        std::vector<double> values;
        while (static_cast<int>(values.size()) < n) {
            const std::string& line = next();
            const int take = std::min(10, n - static_cast<int>(values.size()));
            for (int k = 0; k < take; ++k) {
                const std::size_t at = static_cast<std::size_t>(k) * 14 + 2;
                values.push_back(at < line.size() ? number(line.substr(at, 12)) : 0.0);
            }
        }
        return values;
    }
    matrix read_matrix(int rows, int cols) {
        matrix a(static_cast<std::size_t>(rows) * cols);
        for (int i = 0; i < rows; ++i) {
            const std::vector<double> r = row(cols);
            for (int j = 0; j < cols; ++j) a[static_cast<std::size_t>(j) * rows + i] = r[j];
        }
        return a;
    }

private:
    std::vector<std::string> lines_;
    std::size_t pos_ = 0;
};

struct Model {
    int LK = 0, NU = 0;
    matrix MS, CS, KS;  // NU x NU
    std::vector<double> PC, PS;
    std::vector<double> lambdas;
};

// [frame + kk, kt; kt^T, tt] of order NU.
matrix assemble(const matrix& frame, const matrix& kk, const matrix& kt, const matrix& tt, int LK, int LPT) {
    const int NU = LK + LPT;
    matrix s(static_cast<std::size_t>(NU) * NU, 0.0);
    auto at = [&](int i, int j) -> double& { return s[static_cast<std::size_t>(j) * NU + i]; };
    for (int j = 0; j < LK; ++j)
        for (int i = 0; i < LK; ++i) at(i, j) = frame[j * LK + i] + (kk.empty() ? 0.0 : kk[j * LK + i]);
    for (int j = 0; j < LPT; ++j)
        for (int i = 0; i < LK; ++i) at(i, LK + j) = at(LK + j, i) = kt[static_cast<std::size_t>(j) * LK + i];
    for (int j = 0; j < LPT; ++j)
        for (int i = 0; i < LPT; ++i) at(LK + i, LK + j) = tt[static_cast<std::size_t>(j) * LPT + i];
    return s;
}

Model read_model(const char* path) {
    DataFile d(path);
    int LK = 0, LT = 0, LPT = 0;
    std::istringstream(d.next()) >> LK >> LT >> LPT;
    if (LK < 1 || LPT < 0) fail("bad sizes in the data file");
    const matrix MR = d.read_matrix(LK, LK), KR = d.read_matrix(LK, LK);
    const std::vector<double> gamma = d.row(2);
    matrix kk[3], kt[3], tt[3];
    for (int kind = 0; kind < 3; ++kind) {
        if (LT <= 0) continue;
        kk[kind] = d.read_matrix(LK, LK);
        if (LPT > 0) {
            kt[kind] = d.read_matrix(LK, LPT);
            tt[kind] = d.read_matrix(LPT, LPT);
        }
    }
    if (LT <= 0) LPT = 0;
    Model m;
    m.LK = LK;
    m.NU = LK + LPT;
    m.PC = d.row(LK);
    m.PS = d.row(LK);
    const std::vector<double> range = d.row(3);

    // The frame's two lowest circular frequencies: K phi = omega^2 M phi.
    matrix k = KR, mm = MR;
    std::vector<double> w2(LK);
    if (LAPACKE_dsygv(LAPACK_COL_MAJOR, 1, 'N', 'U', LK, k.data(), LK, mm.data(), LK, w2.data()) != 0)
        fail("the frame's eigenproblem failed");
    const double w1 = std::sqrt(w2[0]), w2nd = LK > 1 ? std::sqrt(w2[1]) : 0.0;
    const double alpha = (w2nd * gamma[0] - w1 * gamma[1]) * w1 * w2nd * 2.0 / (w2nd * w2nd - w1 * w1);
    const double beta = (w2nd * gamma[1] - w1 * gamma[0]) * 2.0 / (w2nd * w2nd - w1 * w1);
    matrix CR(MR.size());
    for (std::size_t e = 0; e < CR.size(); ++e) CR[e] = KR[e] * beta + MR[e] * alpha;

    m.MS = assemble(MR, kk[0], kt[0], tt[0], LK, LPT);
    m.CS = assemble(CR, kk[1], kt[1], tt[1], LK, LPT);
    m.KS = assemble(KR, kk[2], kt[2], tt[2], LK, LPT);

    // LAMBDA accumulated by repeated addition, as the program does.
    if (!(range[2] > 0) && range[0] < range[1]) fail("the range never ends");
    double lambda = range[0] - range[2];
    do {
        lambda = range[2] + lambda;
        m.lambdas.push_back(lambda);
    } while (range[1] > lambda);
    return m;
}

// E12.6: " .123456E+01", "-.123456E+01", " .123456+100"; the digits from
// one %.5e conversion, the field put together by hand.
void e12(std::string& out, double x) {
    if (x == 0) {
        out += "   .000000E+00";
        return;
    }
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.5e", std::fabs(x));  // d.ddddde+XX
    const int e = std::atoi(digits + 8) + 1;
    const int size = std::abs(e);
    char field[14] = {' ', ' ', x < 0 ? '-' : ' ', '.', digits[0], digits[2], digits[3], digits[4], digits[5], digits[6]};
    if (size <= 99) {
        field[10] = 'E';
        field[11] = e < 0 ? '-' : '+';
    } else {
        field[10] = e < 0 ? '-' : '+';
        field[11] = static_cast<char>('0' + size / 100);
    }
    field[12] = static_cast<char>('0' + size / 10 % 10);
    field[13] = static_cast<char>('0' + size % 10);
    out.append(field, sizeof field);
}

void value_list(std::string& out, const double* v, int n) {
    for (int k = 0; k < n; ++k) {
        e12(out, v[k]);
        if (k % 5 == 4 || k == n - 1) out += "\r\n";
    }
}

const char kSeparator[] =
    "  ++++++++++++++++++++++++++++++++++++++++++++++++++++++++++++++++++++++\r\n";

// Solves the steps [first, last) and appends their records.
void solve_steps(const Model& m, const std::vector<int>& plotted, std::size_t first, std::size_t last,
                 std::string& results, std::string& plot) {
    const int NU = m.NU, LK = m.LK;
    std::vector<std::complex<double>> a(static_cast<std::size_t>(NU) * NU), z(NU);
    std::vector<lapack_int> pivots(NU);
    std::vector<double> amp(LK), ac(LK), as(LK);
    for (std::size_t step = first; step < last; ++step) {
        const double lambda = m.lambdas[step];
        for (std::size_t e = 0; e < a.size(); ++e)
            a[e] = {m.KS[e] - (m.MS[e] * lambda) * lambda, -(m.CS[e] * lambda)};
        for (int i = 0; i < NU; ++i) z[i] = i < LK ? std::complex<double>(m.PC[i], m.PS[i]) : 0.0;
        const lapack_int info =
            LAPACKE_zgesv_work(LAPACK_COL_MAJOR, NU, 1, reinterpret_cast<lapack_complex_double*>(a.data()), NU,
                          pivots.data(), reinterpret_cast<lapack_complex_double*>(z.data()), NU);
        if (info != 0) fail("singular system at step " + std::to_string(step + 1));
        for (int i = 0; i < LK; ++i) {
            ac[i] = z[i].real();
            as[i] = z[i].imag();
            amp[i] = std::sqrt(as[i] * as[i] + ac[i] * ac[i]);
        }
        results += kSeparator;
        results += "  WYNIKI OBLICZEN LAMBDA=";
        e12(results, lambda);
        results.erase(results.size() - 14, 2);  // the header's field stands right behind the "="
        results += "\r\n            AMPLITUDY DRGAN\r\n";
        value_list(results, amp.data(), LK);
        results += "            AMPLITUDY PRZY COS\r\n";
        value_list(results, ac.data(), LK);
        results += "            AMPLITUDY PRZY SIN\r\n";
        value_list(results, as.data(), LK);
        if (plotted.empty()) continue;
        e12(plot, lambda);
        plot += "  ";
        for (int u : plotted) {
            e12(plot, amp[u - 1]);
            e12(plot, ac[u - 1]);
            e12(plot, as[u - 1]);
            char number[16];
            std::snprintf(number, sizeof number, "  %3d", u);
            plot += number;
        }
        plot += "\r\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) fail("usage: peer_lapack DATAFILE RESULTS PLOT THREADS [PLOTTED...]");
    const auto start = std::chrono::steady_clock::now();
    const Model m = read_model(argv[1]);
    const int threads = std::max(1, std::atoi(argv[4]));
    std::vector<int> plotted;
    for (int k = 5; k < argc && plotted.size() < 3; ++k) plotted.push_back(std::atoi(argv[k]));
    if (argc == 5) plotted = {20, 10, 1};
    for (int u : plotted)
        if (u < 1 || u > m.LK) fail("a plotted unknown outside 1..LK");

    // Blocks of steps claimed in turn; each block's records kept apart and
    // written in step order at the end.
    constexpr std::size_t kBlock = 64;
    const std::size_t steps = m.lambdas.size();
    const std::size_t blocks = (steps + kBlock - 1) / kBlock;
    std::vector<std::string> results(blocks), plot(blocks);
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t b; (b = next.fetch_add(1)) < blocks;)
            solve_steps(m, plotted, b * kBlock, std::min(steps, (b + 1) * kBlock), results[b], plot[b]);
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();

    std::FILE* r = std::fopen(argv[2], "wb");
    std::FILE* p = std::fopen(argv[3], "wb");
    if (r == nullptr || p == nullptr) fail("cannot write the results");
    for (std::size_t b = 0; b < blocks; ++b) {
        std::fwrite(results[b].data(), 1, results[b].size(), r);
        std::fwrite(plot[b].data(), 1, plot[b].size(), p);
    }
    std::string closing = kSeparator;
    closing += "                      KONIEC OBLICZEN\r\n";
    closing += kSeparator;
    std::fwrite(closing.data(), 1, closing.size(), r);
    const char* legend =
        "  1 KOLUMNA - CZESTOSC WYMUSZENIA\r\n  2 KOLUMNA - AMPLITUDA DRGAN\r\n  3 KOLUMNA - AMPLITUDA COS\r\n"
        "  4 KOLUMNA - AMPLITUDA SIN\r\n  5 KOLUMNA - NR PRZEMIESZCZENIA\r\n  6 KOLUMNA - ZNOWU AMPLITUDA DRGAN ITD\r\n";
    std::fwrite(legend, 1, std::strlen(legend), p);
    if (std::fclose(r) != 0 || std::fclose(p) != 0) fail("writing the results failed");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%zu steps of order %d (complex) on %d threads in %.3f s\n", steps, m.NU, threads, seconds);
    return 0;
}
