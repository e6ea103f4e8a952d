#include "design/datafile.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <sstream>
#include <string_view>

#include "layouts/layouts.h"
#include "textio/edit.h"
#include "textio/scan.h"

namespace design {

namespace {

// The data file's records, in the layout the program writes and reads
// them with: each line ended as the program ends its records.
constexpr std::size_t kRowValues = layouts::kDataValuesPerLine;
constexpr const char* kLineEnd = "\r\n";
static_assert(layouts::kDataSizes == "(5(2X,I3))" && layouts::kDataRow == "(10(2X,E12.6))",
              "the records below are written field by field in these layouts");

void sizes_record(std::string& out, int32_t LK, int32_t LT, int32_t LPT) {
    for (int32_t v : {LK, LT, LPT}) {
        out.append(layouts::kGap, ' ');
        textio::edit_int(out, v, layouts::kIntWidth);
    }
    out += kLineEnd;
}

void row_record(std::string& out, const double* v, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        out.append(layouts::kGap, ' ');
        textio::edit_exp(out, v[k], layouts::kRealWidth, layouts::kRealDigits);
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
            pos += layouts::kGap;
            *v = textio::read_i_field(line, pos, layouts::kIntWidth).value;
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
            pos += layouts::kGap;
            v[k] = textio::read_e_field(line, pos, layouts::kRealWidth, layouts::kRealDigits).value;
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

std::string data_file_text(const DataFileContent& c) {
    std::string text;
    sizes_record(text, c.LK, c.LT, c.LPT);
    matrix_records(text, c.MR, c.LK, c.LK);
    matrix_records(text, c.KR, c.LK, c.LK);
    const double gamma[2] = {c.GAMMA1, c.GAMMA2};
    row_record(text, gamma, 2);
    if (c.LT > 0) {
        const DamperBlocks& b = *c.dampers;
        for (auto blocks : {std::array{&b.Mkk, &b.Mkt, &b.Mtt}, std::array{&b.Ckk, &b.Ckt, &b.Ctt},
                            std::array{&b.Kkk, &b.Kkt, &b.Ktt}}) {
            matrix_records(text, *blocks[0], c.LK, c.LK);
            if (c.LPT > 0) {
                matrix_records(text, *blocks[1], c.LK, c.LPT);
                matrix_records(text, *blocks[2], c.LPT, c.LPT);
            }
        }
    }
    row_record(text, c.PC.data(), c.PC.size());
    row_record(text, c.PS.data(), c.PS.size());
    const double range[3] = {c.LAMMIN, c.LAMMAX, c.DLAM};
    row_record(text, range, 3);
    return text;
}

void read_data_file(const std::string& text, Model& m) {
    RecordReader in(text);
    in.sizes(m.LK, m.LT, m.LPT);
    const int32_t LK = m.LK, LPT = m.LPT;
    const std::size_t n = static_cast<std::size_t>(LK), p = static_cast<std::size_t>(LPT);
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
    if (m.LT > 0) {
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
    m.data_text = text;
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
