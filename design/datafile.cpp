#include "design/datafile.h"

#include <Eigen/Cholesky>
#include <array>
#include <cmath>
#include <cstddef>
#include <sstream>
#include <string_view>

#include "design/analysis_link.h"
#include "input/limits.h"
#include "textio/edit.h"
#include "textio/scan.h"

namespace design {

namespace {

// The layout of the data file: the sizes record (5(2X,I3)) and the row
// records (10(2X,E12.6)), ten values to a line, each line ended as the
// program ends its records.
constexpr int kRowValues = 10;
constexpr const char* kLineEnd = "\r\n";

void sizes_record(std::string& out, int32_t LK, int32_t LT, int32_t LPT) {
    for (int32_t v : {LK, LT, LPT}) {
        out += "  ";
        textio::edit_int(out, v, 3);
    }
    out += kLineEnd;
}

void row_record(std::string& out, const double* v, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        out += "  ";
        textio::edit_exp(out, v[k], 12, 6);
        if ((k + 1) % kRowValues == 0 || k + 1 == n) out += kLineEnd;
    }
}

// Rows 1..rows of a column-major rows x cols matrix, one record each.
void matrix_records(std::string& out, const std::vector<double>& a, int32_t rows, int32_t cols) {
    std::vector<double> row(static_cast<std::size_t>(cols));
    for (int32_t i = 0; i < rows; ++i) {
        for (int32_t j = 0; j < cols; ++j)
            row[static_cast<std::size_t>(j)] = a[static_cast<std::size_t>(j) * rows + static_cast<std::size_t>(i)];
        row_record(out, row.data(), row.size());
    }
}

// Reads the text back record by record, as the program does.
class RecordReader {
public:
    explicit RecordReader(const std::string& text) : in_(text) {}

    void sizes(int32_t& LK, int32_t& LT, int32_t& LPT) {
        std::string line = next();
        std::size_t pos = 0;
        for (int32_t* v : {&LK, &LT, &LPT}) {
            pos += 2;
            *v = textio::read_i_field(line, pos, 3).value;
        }
    }

    void row(double* v, std::size_t n) {
        std::string line;
        std::size_t pos = 0;
        for (std::size_t k = 0; k < n; ++k) {
            if (k % kRowValues == 0) {
                line = next();
                pos = 0;
            }
            pos += 2;
            v[k] = textio::read_e_field(line, pos, 12, 6).value;
        }
    }

    std::vector<double> matrix(int32_t rows, int32_t cols) {
        std::vector<double> a(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
        std::vector<double> r(static_cast<std::size_t>(cols));
        for (int32_t i = 0; i < rows; ++i) {
            row(r.data(), r.size());
            for (int32_t j = 0; j < cols; ++j)
                a[static_cast<std::size_t>(j) * rows + static_cast<std::size_t>(i)] = r[static_cast<std::size_t>(j)];
        }
        return a;
    }

private:
    std::string next() {
        std::string line;
        std::getline(in_, line);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }
    std::istringstream in_;
};

std::vector<double> transposed(const std::vector<double>& a, int32_t rows, int32_t cols) {
    std::vector<double> t(a.size());
    for (int32_t i = 0; i < rows; ++i)
        for (int32_t j = 0; j < cols; ++j)
            t[static_cast<std::size_t>(i) * cols + static_cast<std::size_t>(j)] =
                a[static_cast<std::size_t>(j) * rows + static_cast<std::size_t>(i)];
    return t;
}

void refuse_not_finite(const Description& d, const std::vector<double>& values, const char* what) {
    for (double v : values)
        if (!std::isfinite(v))
            throw Refused(where(d.path, d.frame_line, "frame", std::string(what) + " beyond the range of numbers"));
}

}  // namespace

double as_recorded(double v) {
    std::string field;
    textio::edit_exp(field, v, 12, 6);
    std::size_t pos = 0;
    return textio::read_e_field(field, pos, 12, 6).value;
}

TmdValues tmd_values(const TunedMass& t, const std::vector<double>& OMEGA) {
    TmdValues v;
    switch (t.tuning) {
        case TunedMass::Tuning::frequency_ratio:
            v.frequency = t.tuning_value * OMEGA[static_cast<std::size_t>(t.mode - 1)];
            v.stiffness = t.mass * v.frequency * v.frequency;
            break;
        case TunedMass::Tuning::frequency:
            v.frequency = t.tuning_value;
            v.stiffness = t.mass * v.frequency * v.frequency;
            break;
        case TunedMass::Tuning::stiffness:
            v.stiffness = t.tuning_value;
            v.frequency = std::sqrt(v.stiffness / t.mass);
            break;
    }
    v.damping =
        t.damping == TunedMass::Damping::damping ? t.damping_value : t.damping_value * 2.0 * t.mass * v.frequency;
    return v;
}

Model build_model(const Description& d) {
    const int32_t LK = d.LK;
    const int32_t LPT = static_cast<int32_t>(d.tmds.size());
    const int32_t LT = LPT + static_cast<int32_t>(d.dashpots.size());
    const std::size_t n = static_cast<std::size_t>(LK);
    const std::size_t p = static_cast<std::size_t>(LPT);

    // The frame as recorded, and its modes: a tuned mass's frequency
    // refers to them.
    std::vector<double> MR(d.MR), KR(d.KR);
    for (double& v : MR) v = as_recorded(v);
    for (double& v : KR) v = as_recorded(v);
    refuse_not_finite(d, MR, "a mass");
    refuse_not_finite(d, KR, "a stiffness");
    if (Eigen::LLT<Eigen::MatrixXd>(Eigen::Map<const Eigen::MatrixXd>(MR.data(), LK, LK)).info() != Eigen::Success)
        throw Refused(where(d.path, d.frame_line, d.shear_frame ? "frame.masses" : "frame.mass_matrix",
                            "the mass matrix is not positive definite"));
    const FrameModes modes = frame_modes(LK, MR, KR);
    for (int32_t i = 0; i < LK; ++i)
        if (!modes.converged || !std::isfinite(modes.OMEGA[static_cast<std::size_t>(i)]))
            throw Refused(where(d.path, d.frame_line, d.shear_frame ? "frame.stiffnesses" : "frame.stiffness_matrix",
                                "the frame's natural frequencies cannot be computed (a mass or stiffness matrix "
                                "that is not positive definite)"));
    // The proportional damping divides by the difference of the squares of
    // the two lowest frequencies, as it rounds; where that is zero, or the
    // damping matrix overflows, the program would stop.
    const double w1 = modes.OMEGA[0], w2 = modes.OMEGA[1];
    if (w2 * w2 - w1 * w1 == 0.0)
        throw Refused(where(d.path, d.frame_line, "frame",
                            LK >= 2 ? "the two lowest natural frequencies are equal; the proportional damping "
                                      "divides by the difference of their squares"
                                    : "the natural frequency is zero; the proportional damping divides by its "
                                      "square"));
    for (double v : proportional_damping(LK, modes.OMEGA, d.GAMMA1, d.GAMMA2, MR, KR))
        if (!std::isfinite(v))
            throw Refused(where(d.path, d.frame_line, "frame.damping_ratios",
                                "the proportional damping matrix is beyond the range of numbers"));

    std::vector<double> Mkk(n * n), Ckk(n * n), Kkk(n * n);
    std::vector<double> Mkt(n * p), Ckt(n * p), Kkt(n * p);
    std::vector<double> Mtt(p * p), Ctt(p * p), Ktt(p * p);
    for (std::size_t t = 0; t < p; ++t) {
        const TunedMass& m = d.tmds[t];
        const TmdValues v = tmd_values(m, modes.OMEGA);
        if (!std::isfinite(v.stiffness) || !std::isfinite(v.damping))
            throw Refused(where(d.path, m.line, "tmd[" + std::to_string(t + 1) + "]",
                                "spring or dashpot beyond the range of numbers"));
        const std::size_t j = static_cast<std::size_t>(m.storey - 1);
        Mtt[t * p + t] = m.mass;
        Kkk[j * n + j] += v.stiffness;
        Kkt[t * n + j] = -v.stiffness;
        Ktt[t * p + t] = v.stiffness;
        Ckk[j * n + j] += v.damping;
        Ckt[t * n + j] = -v.damping;
        Ctt[t * p + t] = v.damping;
    }
    for (const Dashpot& dp : d.dashpots) {
        const std::size_t j = static_cast<std::size_t>(dp.storey - 1);
        Ckk[j * n + j] += dp.damping;
        if (j > 0) {
            Ckk[(j - 1) * n + j - 1] += dp.damping;
            Ckk[(j - 1) * n + j] -= dp.damping;
            Ckk[j * n + j - 1] -= dp.damping;
        }
    }

    std::string text;
    sizes_record(text, LK, LT, LPT);
    matrix_records(text, MR, LK, LK);
    matrix_records(text, KR, LK, LK);
    const double gamma[2] = {d.GAMMA1, d.GAMMA2};
    row_record(text, gamma, 2);
    if (LT > 0) {
        for (auto blocks : {std::array{&Mkk, &Mkt, &Mtt}, std::array{&Ckk, &Ckt, &Ctt}, std::array{&Kkk, &Kkt, &Ktt}}) {
            matrix_records(text, *blocks[0], LK, LK);
            if (LPT > 0) {
                matrix_records(text, *blocks[1], LK, LPT);
                matrix_records(text, *blocks[2], LPT, LPT);
            }
        }
    }
    row_record(text, d.PC.data(), n);
    row_record(text, d.PS.data(), n);
    const double range[3] = {d.from, d.to, d.step};
    row_record(text, range, 3);

    // Everything read back from the text.
    Model m;
    RecordReader in(text);
    in.sizes(m.LK, m.LT, m.LPT);
    m.NU = m.LK + m.LPT;
    m.MR = in.matrix(LK, LK);
    m.KR = in.matrix(LK, LK);
    double g[2];
    in.row(g, 2);
    m.GAMMA1 = g[0];
    m.GAMMA2 = g[1];
    auto zeros = [](std::size_t k) { return std::vector<double>(k, 0.0); };
    m.Mkk = m.Ckk = m.Kkk = zeros(n * n);
    m.Mkt = m.Ckt = m.Kkt = m.Mtk = m.Ctk = m.Ktk = zeros(n * p);
    m.Mtt = m.Ctt = m.Ktt = zeros(p * p);
    if (LT > 0) {
        for (auto blocks : {std::array{&m.Mkk, &m.Mkt, &m.Mtk, &m.Mtt}, std::array{&m.Ckk, &m.Ckt, &m.Ctk, &m.Ctt},
                            std::array{&m.Kkk, &m.Kkt, &m.Ktk, &m.Ktt}}) {
            *blocks[0] = in.matrix(LK, LK);
            if (LPT > 0) {
                *blocks[1] = in.matrix(LK, LPT);
                *blocks[2] = transposed(*blocks[1], LK, LPT);
                *blocks[3] = in.matrix(LPT, LPT);
            }
        }
    }
    m.PC = in.matrix(1, LK);
    m.PS = in.matrix(1, LK);
    double r[3];
    in.row(r, 3);
    m.LAMMIN = r[0];
    m.LAMMAX = r[1];
    m.DLAM = r[2];
    if (!(m.DLAM > 0)) throw Refused(where(d.path, d.range_line, "sweep.step", "is 0 as the data file records it"));
    if (sweep_lambdas(m.LAMMIN, m.LAMMAX, m.DLAM).empty())
        throw Refused(
            where(d.path, d.range_line, "sweep", "a range of more than " + std::to_string(kMaxSweepSteps) + " steps"));
    m.plot = d.plot;
    for (const TunedMass& t : d.tmds) m.tmd_storey.push_back(t.storey);
    m.shear_frame = d.shear_frame;
    m.data_text = std::move(text);
    return m;
}

std::string replay_answers(const Description& d) {
    std::string s = d.data + "\n" + d.results + "\n" + d.plot_file + "\n2\n" + std::to_string(d.plot.size()) + "\n";
    for (std::size_t k = 0; k < d.plot.size(); ++k) {
        if (k > 0) s += ' ';
        s += std::to_string(d.plot[k]);
    }
    return s + "\n\n";
}

}  // namespace design
