// The model's small routines: the sweep's step count, the assembly of the
// complete system, the mode report's sort and normalisation, the
// proportional damping, and the listings in bands of four columns.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "analysis/assemb.h"
#include "analysis/modes.h"
#include "analysis/propcr.h"
#include "analysis/records.h"
#include "input/forcin.h"
#include "input/limits.h"
#include "input/matrix.h"
#include "textio/units.h"

namespace {

TEST(Sweep, StepCountsFollowTheStoredSums) {
    struct Row {
        int line;
        double lammin, lammax, dlam;
        long steps;
    };
    const Row rows[] = {
        {__LINE__, 1, 2, 0.5, 3},
        {__LINE__, 1, 2.2, 0.5, 4},
        {__LINE__, 1, 1, 0.5, 1},
        {__LINE__, 2, 1, 0.5, 1},       // above the end: one step, at LAMMIN
        {__LINE__, 0, 1, 0.1, 12},      // ten additions fall short of 1 by rounding
        {__LINE__, 1, 1, 1e17, 2},      // (1 - 1e17) + 1e17 is 0: a second step
        {__LINE__, 1, 3, 0, 0},         // a zero step never ends
        {__LINE__, 1, 3, -0.5, 0},
        {__LINE__, 0, 1, 1e-300, 0},    // too small to move LAMBDA
        {__LINE__, 0, 1000000, 1, 1000001},  // one step too many
        {__LINE__, 1, 1000000, 1, 1000000},  // exactly the most steps allowed
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "line " << r.line);
        long steps = sweep_steps(r.lammin, r.lammax, r.dlam, kMaxSweepSteps + 1);
        EXPECT_EQ(steps, r.steps);
        EXPECT_EQ(sweep_ends(r.lammin, r.lammax, r.dlam), r.steps != 0 && r.steps <= kMaxSweepSteps);
    }
}

TEST(Limits, EveryTextStatesTheLimitItsCheckUses) {
    struct Row {
        int line;
        const char* text;
        const char* before;  // the words before the number
        long limit;
    };
    const Row rows[] = {
        {__LINE__, limit_text::kStoreysPrompt, "(MAX ", kMaxLK},
        {__LINE__, limit_text::kStoreysRefused, "OD 1 DO ", kMaxLK},
        {__LINE__, limit_text::kDampersRefused, "OD 0 DO ", kMaxLT},
        {__LINE__, limit_text::kParametersPrompt, "- MAX ", kMaxLPT},
        {__LINE__, limit_text::kParametersRefused, "OD 0 DO ", kMaxLPT},
        {__LINE__, limit_text::kPlottedPrompt, "- MAX ", kMaxPlotted},
        {__LINE__, limit_text::kPlottedRefused, "NAJWYZEJ ", kMaxPlotted},
        {__LINE__, limit_text::kRangeRefused, "PONAD ", kMaxSweepSteps},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "line " << r.line << ": " << r.text);
        const std::string text = r.text;
        const std::size_t at = text.find(r.before);
        ASSERT_NE(at, std::string::npos);
        const std::size_t from = at + std::string(r.before).size();
        const std::size_t to = text.find_first_not_of("0123456789", from);
        ASSERT_GT(to, from);
        EXPECT_EQ(std::stol(text.substr(from, to - from)), r.limit);
    }
}

TEST(Assembly, BlocksInTheirPlacesAndOnlyTheFrameBlockSummed) {
    // LK = 2, LPT = 1, with kt deliberately not the transpose of tk.
    const double R[] = {1, 2, 3, 4};         // columns (1,2), (3,4)
    const double kk[] = {10, 20, 30, 40};
    const double kt[] = {5, 6};              // 2 x 1
    const double tk[] = {7, 8};              // 1 x 2
    const double tt[] = {9};
    std::vector<double> S(9, -1.0);
    ASSEMB(3, 2, 1, S.data(), kk, kt, tk, tt, R);
    const std::vector<double> expected = {11, 22, 7, 33, 44, 8, 5, 6, 9};
    EXPECT_EQ(S, expected);
    // Without damper parameters only the frame block remains.
    std::vector<double> S2(4, -1.0);
    ASSEMB(2, 2, 0, S2.data(), kk, kt, tk, tt, R);
    EXPECT_EQ(S2, (std::vector<double>{11, 22, 33, 44}));
}

// A results file in a fresh folder, read back after the routine wrote it.
class Report : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/varnostik_model_XXXXXX";
        dir_ = mkdtemp(tmpl);
        path_ = dir_ + "/results" + std::to_string(++serial_);
        textio::open_unit(kResultsUnit, path_);
    }
    void TearDown() override {
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
    }
    std::string text() {
        textio::flush_all_units();
        std::ifstream f(path_, std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    std::string dir_, path_;
    static inline int serial_ = 0;
};

TEST_F(Report, ModesSortAscendingAndNormaliseByTheFirstLargestComponent) {
    // Eigenvalues 9, 1, 4 as EIGEN might leave them, eigenvectors as rows.
    const int32_t n = 3, n2 = 6;
    std::vector<double> AE(18, 0.0);
    auto ae = [&](int i, int j) -> double& { return AE[(j - 1) * n + (i - 1)]; };
    ae(1, 1) = 9;
    ae(2, 2) = 1;
    ae(3, 3) = 4;
    const double rows[3][3] = {{-2, 2, 1}, {0.5, 0.25, -0.125}, {1, -3, 3}};
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j) ae(i, 3 + j) = rows[i - 1][j - 1];
    double OMEGA[3], PHI[9];
    MODES(AE.data(), n, n2, OMEGA, PHI);
    list_modes(OMEGA, PHI, n);
    EXPECT_EQ(OMEGA[0], 1.0);
    EXPECT_EQ(OMEGA[1], 2.0);
    EXPECT_EQ(OMEGA[2], 3.0);
    auto phi = [&](int i, int j) { return PHI[(j - 1) * n + (i - 1)]; };
    // Mode of frequency 1: (0.5, 0.25, -0.125) / 0.5.
    EXPECT_EQ(phi(1, 1), 1.0);
    EXPECT_EQ(phi(1, 2), 0.5);
    EXPECT_EQ(phi(1, 3), -0.25);
    // Mode of frequency 2: (1, -3, 3): the first of the equal largest, -3, divides.
    EXPECT_EQ(phi(2, 1), 1.0 / -3.0);
    EXPECT_EQ(phi(2, 2), 1.0);
    EXPECT_EQ(phi(2, 3), -1.0);
    // Mode of frequency 3: (-2, 2, 1) changes its sign.
    EXPECT_EQ(phi(3, 1), 1.0);
    EXPECT_EQ(phi(3, 2), -1.0);
    EXPECT_EQ(phi(3, 3), -0.5);
    EXPECT_EQ(text(),
              "  CZESTOSCI DRGAN WLASNYCH\r\n"
              "   .100000E+01   .200000E+01   .300000E+01\r\n"
              "  WEKTOR WLASNY - UNORMOWANY I= 1\r\n"
              "   .100000E+01   .500000E+00  -.250000E+00\r\n"
              "  WEKTOR WLASNY - UNORMOWANY I= 2\r\n"
              "  -.333333E+00   .100000E+01  -.100000E+01\r\n"
              "  WEKTOR WLASNY - UNORMOWANY I= 3\r\n"
              "   .100000E+01  -.100000E+01  -.500000E+00\r\n");
}

TEST_F(Report, ProportionalDampingGivesTheWantedModalRatios) {
    // Two storeys with diagonal mass and stiffness: modes are the storeys.
    const double w1 = 3.0, w2 = 5.0, zeta = 0.05;
    const double MR[] = {2, 0, 0, 1};
    const double KR[] = {2 * w1 * w1, 0, 0, 1 * w2 * w2};
    const double OMEGA[] = {w1, w2};
    double CR[4];
    PROPCR(2, OMEGA, zeta, zeta, MR, KR, CR);
    list_damping(CR, 2);
    const double alpha = 2 * zeta * w1 * w2 / (w1 + w2);
    const double beta = 2 * zeta / (w1 + w2);
    EXPECT_NEAR(CR[0], alpha * 2 + beta * KR[0], 1e-15);
    EXPECT_NEAR(CR[3], alpha * 1 + beta * KR[3], 1e-15);
    EXPECT_EQ(CR[1], 0.0);
    EXPECT_EQ(CR[2], 0.0);
    // The damping ratio of each storey's own mode is the one asked for.
    EXPECT_NEAR(CR[0] / (2 * w1 * 2), zeta, 1e-15);
    EXPECT_NEAR(CR[3] / (2 * w2 * 1), zeta, 1e-15);
    const std::string t = text();
    const std::string heading = "  MACIERZ T\xA3UMIENIA PROPORCJONALNEGO KONSTRUKCJI\r\n";
    EXPECT_EQ(t.substr(0, heading.size()), heading);
}

TEST_F(Report, SingleStoreyDampingIgnoresTheSecondRatio) {
    // The modes of a single storey: OMEGA(2) is there, and zero.
    const double MR[] = {4}, KR[] = {64};
    const FrameModes modes = frame_modes(MR, KR, 1);
    ASSERT_EQ(modes.status, EigenStatus::converged);
    EXPECT_EQ(modes.OMEGA, (std::vector<double>{4.0, 0.0}));
    EXPECT_EQ(modes.PHI, (std::vector<double>{1.0}));
    double CR[1];
    PROPCR(1, modes.OMEGA.data(), 0.1, 0.7, MR, KR, CR);
    EXPECT_DOUBLE_EQ(CR[0], 2 * 0.1 * 4.0 * 4);
}

TEST_F(Report, ListingsInBandsOfFourColumns) {
    auto listing = [&](int32_t n, int32_t m) {
        std::vector<double> a(static_cast<std::size_t>(n * m));
        for (int32_t j = 1; j <= m; ++j)
            for (int32_t i = 1; i <= n; ++i) a[(j - 1) * n + (i - 1)] = 10 * i + j;
        textio::open_unit(kResultsUnit, path_);
        MATOUT(a.data(), n, m);
        return text();
    };
    auto field = [](int v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "   .%d0000E+02  *", v);
        return std::string(buf);
    };
    auto line = [&](int i, int from, int to) {
        std::string s;
        for (int j = from; j <= to; ++j) s += field(10 * i + j);
        return s + "\r\n";
    };
    EXPECT_EQ(listing(2, 4), line(1, 1, 4) + line(2, 1, 4));
    EXPECT_EQ(listing(2, 5), line(1, 1, 4) + line(2, 1, 4) + "\r\n\r\n" + line(1, 5, 5) + line(2, 5, 5));
    EXPECT_EQ(listing(1, 9), line(1, 1, 4) + "\r\n\r\n" + line(1, 5, 8) + "\r\n\r\n" + line(1, 9, 9));
}

}  // namespace
