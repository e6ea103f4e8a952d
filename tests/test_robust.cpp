// Dampers for the frame as built: a stroke limit, several dampers tuned
// together, the worst objective over a frame stiffer or softer than
// described, and detune's curve of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "design/analysis_link.h"
#include "design/description.h"
#include "design/model.h"
#include "design/peaks.h"
#include "design/response.h"
#include "design/tune.h"
#include "e2e_run.h"
#include "tests/toml_file.h"

namespace {

using design::Objective;

// Three storeys with a damper on the top; a second on storey 2 when asked.
std::string three_storeys(bool second, const std::string& load) {
    return "[frame]\nmasses = [100.0, 100.0, 100.0]\nstiffnesses = [40000.0, 40000.0, 40000.0]\n"
           "damping_ratios = [0.02, 0.02]\n[[tmd]]\nstorey = 3\nmass = 15.0\nfrequency_ratio = 1.0\n"
           "damping_ratio = 0.1\n" +
           std::string(second ? "[[tmd]]\nstorey = 2\nmass = 6.0\nfrequency = 20.0\ndamping_ratio = 0.05\n" : "") +
           load;
}

const std::string kLoads =
    "[force]\ncos = [0.0, 0.0, 100.0]\n[random]\nforce_psd = [0.0, 0.0, 1.0]\n";

// The objective and every tuned mass's largest stroke of a description with
// tuned mass 1 tuned as given.
design::Extremes measured(const design::Description& d, const design::TuneRequest& q, double f, double z) {
    design::Description c = d;
    c.tmds[0].tuning = design::TunedMass::Tuning::frequency_ratio;
    c.tmds[0].tuning_value = f;
    c.tmds[0].damping = design::TunedMass::Damping::damping_ratio;
    c.tmds[0].damping_value = z;
    return design::measure(design::build_model(c), q, d.path);
}

TEST(Robust, AStrokeLimitBindsOnlyWhereTheOptimumExceedsIt) {
    struct Row {
        int line;
        Objective objective;
        double factor;  // the limit, to the largest stroke the optimum without it reaches
        bool second;    // a second, untuned damper whose stroke is limited too
    } rows[] = {
        {__LINE__, Objective::peak, 2.0, false},
        {__LINE__, Objective::peak, 1.0001, false},
        {__LINE__, Objective::peak, 0.8, false},
        {__LINE__, Objective::rms, 1.5, false},
        {__LINE__, Objective::rms, 0.85, false},
        {__LINE__, Objective::peak, 0.9, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        tests::TomlFile f(three_storeys(row.second, kLoads));
        const design::Description d = design::read_description(f.path);
        design::TuneRequest q;
        q.objective = row.objective;
        const design::TuneResult free = design::tune(d, q);
        q.stroke_limit = row.factor * free.tuned.worst_stroke;
        const design::TuneResult r = design::tune(d, q);
        EXPECT_EQ(r.limit_binds, row.factor < 1);
        EXPECT_DOUBLE_EQ(r.unlimited_stroke, free.tuned.worst_stroke);
        // Every tuned mass, the one not tuned too, keeps the limit.
        EXPECT_LE(r.tuned.worst_stroke, q.stroke_limit);
        EXPECT_GE(r.tuned.extremes.every_stroke.value, r.tuned.extremes.stroke.value);
        if (!r.limit_binds) {
            // The same answer as without it.
            EXPECT_EQ(r.tuned.frequency_ratio, free.tuned.frequency_ratio);
            EXPECT_EQ(r.tuned.damping_ratio, free.tuned.damping_ratio);
            continue;
        }
        // On the limit, at a cost, and no tuning on a grid over the box
        // that keeps the limit does better.
        EXPECT_GT(r.tuned.worst_stroke, q.stroke_limit * (1 - 1e-3));
        EXPECT_GT(r.tuned.worst, free.tuned.worst);
        int kept = 0;
        for (double fr = 0.5; fr <= 1.5; fr += 0.025)
            for (double lz = std::log(0.001); lz <= std::log(0.5); lz += 0.15) {
                const design::Extremes e = measured(d, r.request, fr, std::exp(lz));
                if (!(e.every_stroke.value <= q.stroke_limit)) continue;
                ++kept;
                EXPECT_GE(e.amplitude.value, r.tuned.worst * (1 - 1e-6)) << fr << " " << std::exp(lz);
            }
        EXPECT_GT(kept, 10);
    }
}

TEST(Robust, AStrokeLimitNoTuningMeetsIsRefusedWithTheSmallestStroke) {
    struct Row {
        int line;
        Objective objective;
    } rows[] = {{__LINE__, Objective::peak}, {__LINE__, Objective::rms}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        tests::TomlFile f(three_storeys(false, kLoads));
        const design::Description d = design::read_description(f.path);
        design::TuneRequest q;
        q.objective = row.objective;
        // The stroke is smallest at the stiffest, most damped tuning of the
        // box: nothing keeps a tenth of it.
        const double least = measured(d, q, 1.5, 0.5).every_stroke.value;
        q.stroke_limit = least / 10;
        try {
            design::tune(d, q);
            ADD_FAILURE() << "not refused";
        } catch (const design::Refused& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("--stroke-limit"), std::string::npos) << what;
            const std::size_t at = what.find("the smallest found is ");
            ASSERT_NE(at, std::string::npos) << what;
            const double smallest = std::stod(what.substr(at + 22));
            EXPECT_GT(smallest, q.stroke_limit);
            EXPECT_LE(smallest, least * (1 + 1e-5));  // six digits
        }
    }
}

TEST(Robust, SeveralDampersTogetherDoNoWorseThanTheBestAlone) {
    struct Row {
        int line;
        Objective objective;
        double robust;
    } rows[] = {
        {__LINE__, Objective::peak, 0.0},
        {__LINE__, Objective::rms, 0.0},
        {__LINE__, Objective::peak, 0.1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        tests::TomlFile f(three_storeys(true, kLoads));
        const design::Description d = design::read_description(f.path);
        design::TuneRequest q;
        q.objective = row.objective;
        q.robust = row.robust;
        double best_alone = HUGE_VAL;
        for (int32_t t : {1, 2}) {
            q.dampers = {t};
            best_alone = std::min(best_alone, design::tune(d, q).tuned.worst);
        }
        q.dampers = {2, 1};
        const design::TuneResult both = design::tune(d, q);
        EXPECT_LE(both.tuned.worst, best_alone * (1 + 1e-9));
        ASSERT_EQ(both.tuned.frequency_ratios.size(), 2u);
        // Each starts from its classical tuning to the mode nearest its
        // frequency: damper 2 (20 rad/s) to the second mode, referred to
        // the first by its `mode`.
        EXPECT_EQ(both.nearest_modes, (std::vector<int32_t>{2, 1}));
        const design::Model m = design::build_model(d);
        for (std::size_t i = 0; i < 2; ++i) {
            const design::ClassicalTuning c = design::classical_tuning(q.objective, false, both.mass_ratios[i]);
            EXPECT_NEAR(both.start.frequency_ratios[i],
                        c.frequency_ratio * m.OMEGA[static_cast<std::size_t>(both.nearest_modes[i] - 1)] / m.OMEGA[0],
                        1e-12);
            EXPECT_EQ(both.start.damping_ratios[i], c.damping_ratio);
        }
    }
}

TEST(Robust, TheRobustDesignsWorstCaseIsNoWorseThanTheNominalOptimums) {
    struct Row {
        int line;
        Objective objective;
        double D;
    } rows[] = {
        {__LINE__, Objective::peak, 0.1},
        {__LINE__, Objective::peak, 0.2},
        {__LINE__, Objective::rms, 0.1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        tests::TomlFile f(three_storeys(false, kLoads));
        const design::Description d = design::read_description(f.path);
        design::TuneRequest q;
        q.objective = row.objective;
        const design::TuneResult nominal = design::tune(d, q);
        q.robust = row.D;
        const design::TuneResult r = design::tune(d, q);
        // The nominal optimum on the scaled frames, measured by detune.
        design::Description n = d;
        n.tmds[0].tuning = design::TunedMass::Tuning::frequency_ratio;
        n.tmds[0].tuning_value = nominal.tuned.frequency_ratio;
        n.tmds[0].damping = design::TunedMass::Damping::damping_ratio;
        n.tmds[0].damping_value = nominal.tuned.damping_ratio;
        const std::vector<double> at = design::detune(n, q, r.scales);
        const double nominal_worst = *std::max_element(at.begin(), at.end());
        EXPECT_LE(r.tuned.worst, nominal_worst * (1 + 1e-9));
        EXPECT_EQ(at[1], nominal.tuned.extremes.amplitude.value);
        // ... and better than it at the nominal frame only.
        EXPECT_GE(r.tuned.at_scales[1], nominal.tuned.extremes.amplitude.value * (1 - 1e-9));
        ASSERT_EQ(r.tuned.at_scales.size(), 3u);
        EXPECT_EQ(r.tuned.worst, *std::max_element(r.tuned.at_scales.begin(), r.tuned.at_scales.end()));
        EXPECT_EQ(r.given.at_scales, design::detune(d, q, r.scales));
    }
}

TEST(Robust, AScaledFrameKeepsItsDampersAndDampingRatios) {
    struct Row {
        int line;
        std::string tmd;  // how the damper is given
        double s;
    } rows[] = {
        {__LINE__, "frequency_ratio = 0.95\ndamping_ratio = 0.12\n", 1.1},
        {__LINE__, "frequency = 7.0\ndamping = 25.0\n", 0.85},
        {__LINE__, "stiffness = 1100.0\ndamping_ratio = 0.1\n", 1.2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const std::string text = "[frame]\nmasses = [100.0, 100.0, 100.0]\nstiffnesses = [40000.0, 40000.0, 40000.0]\n"
                                 "damping_ratios = [0.02, 0.05]\n[[tmd]]\nstorey = 3\nmass = 15.0\n" +
                                 row.tmd + "[force]\ncos = [0.0, 0.0, 100.0]\n";
        tests::TomlFile f(text);
        const design::Description d = design::read_description(f.path);
        const design::Model m = design::build_model(d);
        const design::Model s = design::build_model(design::with_frame_scaled(d, m.OMEGA, row.s));
        EXPECT_EQ(s.Ktt, m.Ktt);
        EXPECT_EQ(s.Ctt, m.Ctt);
        for (std::size_t i = 0; i < m.KR.size(); ++i) EXPECT_NEAR(s.KR[i], m.KR[i] * row.s, 1e-5 * 80000.0);
        for (std::size_t i = 0; i < m.OMEGA.size(); ++i)
            EXPECT_NEAR(s.OMEGA[i] / m.OMEGA[i], std::sqrt(row.s), 1e-6);
        // The frame's two damping ratios hold at its new frequencies: the
        // proportional damping C = a M + b K recomputed.
        const std::size_t n = 3;
        for (std::size_t mode : {0u, 1u}) {
            double c = 0, mm = 0;
            for (std::size_t i = 0; i < n; ++i)
                for (std::size_t j = 0; j < n; ++j) {
                    c += s.PHI[i * n + mode] * s.CR[j * n + i] * s.PHI[j * n + mode];
                    mm += s.PHI[i * n + mode] * s.MR[j * n + i] * s.PHI[j * n + mode];
                }
            EXPECT_NEAR(c / (2 * mm * s.OMEGA[mode]), mode == 0 ? 0.02 : 0.05, 1e-6);
        }
    }
}

// detune's CSV: its row at scale 1 is the objective of the description as
// it stands, to the last digit.
TEST(Robust, DetuneAtScaleOneIsTheDescriptionsObjective) {
    struct Row {
        int line;
        std::vector<std::string> options;
        Objective objective;
        design::Quantity quantity;
        std::size_t rows;
        double D;
    } rows[] = {
        {__LINE__, {}, Objective::peak, design::Quantity::displacement, 31, 0.15},
        {__LINE__, {"--points", "5", "--range", "0.3"}, Objective::peak, design::Quantity::displacement, 5, 0.3},
        {__LINE__, {"--objective", "rms"}, Objective::rms, design::Quantity::displacement, 31, 0.15},
        {__LINE__, {"--quantity", "drift", "--points", "7"}, Objective::peak, design::Quantity::drift, 7, 0.15},
    };
    const std::string text = three_storeys(true, kLoads);
    tests::TomlFile f(text);
    const design::Description d = design::read_description(f.path);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        e2e::Run run;
        run.program = VARNOSTIK_DESIGN_BIN;
        run.args = {"detune", "m.toml", "--csv", "out.csv"};
        run.args.insert(run.args.end(), row.options.begin(), row.options.end());
        run.files = {{"m.toml", text}};
        const e2e::Outcome o = e2e::run(run);
        ASSERT_EQ(o.status, 0) << o.err;
        ASSERT_TRUE(o.files.count("out.csv"));
        std::istringstream csv(o.files.at("out.csv"));
        std::string line;
        std::getline(csv, line);
        EXPECT_EQ(line, "scale,objective");
        std::vector<std::pair<double, double>> points;
        while (std::getline(csv, line)) {
            const std::size_t comma = line.find(',');
            points.emplace_back(std::stod(line.substr(0, comma)), std::stod(line.substr(comma + 1)));
        }
        ASSERT_EQ(points.size(), row.rows);
        const auto one = std::find_if(points.begin(), points.end(), [](const auto& p) { return p.first == 1.0; });
        ASSERT_NE(one, points.end());
        design::TuneRequest q;
        q.objective = row.objective;
        q.quantity = row.quantity;
        if (row.quantity == design::Quantity::drift) q.targets = {1, 2, 3};
        else q.targets = {3};
        EXPECT_EQ(one->second, design::measure(design::build_model(d), q, d.path).amplitude.value);
        // The scales run evenly from 1 - D to 1 + D.
        EXPECT_NEAR(points.front().first, 1 - row.D, 1e-15);
        EXPECT_NEAR(points.back().first, 1 + row.D, 1e-15);
    }
}

}  // namespace

namespace {

TEST(Robust, TheNewOptionsRefuseWhatTheyCannotTake) {
    struct Row {
        int line;
        std::vector<std::string> args;
        int status;
        std::string err;
    } rows[] = {
        {__LINE__, {"tune", "m.toml", "--stroke-limit", "-0.1"}, 2, "--stroke-limit needs a positive number"},
        {__LINE__, {"tune", "m.toml", "--stroke-limit", "0.1m"}, 2, "--stroke-limit needs a positive number"},
        {__LINE__, {"tune", "m.toml", "--robust", "1.5"}, 2, "--robust needs a fraction below 1"},
        {__LINE__, {"tune", "m.toml", "--robust", "nan"}, 2, "--robust needs a positive number"},
        {__LINE__, {"tune", "m.toml", "--damper", "1,1"}, 1, "--damper: 1 named twice"},
        {__LINE__, {"tune", "m.toml", "--damper", "1,3"}, 1, "--damper: 3 outside 1 to 2"},
        {__LINE__, {"tune", "m.toml", "--damper", "1,"}, 2, "--damper needs a positive integer"},
        {__LINE__, {"detune", "m.toml", "--points", "0"}, 2, "--points needs a positive integer"},
        {__LINE__, {"detune", "m.toml", "--range", "1"}, 2, "--range needs a fraction below 1"},
        {__LINE__, {"detune", "m.toml", "--csv", "-", "-o", "-"}, 2, "would both write to standard output"},
        {__LINE__, {"detune", "m.toml", "--csv", "m.toml"}, 1, "the description"},
        {__LINE__, {"detune", "m.toml", "--target", "5"}, 1, "--target: 5 is tuned mass 2, not a storey"},
    };
    const std::string text = three_storeys(true, kLoads);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        e2e::Run r;
        r.program = VARNOSTIK_DESIGN_BIN;
        r.args = row.args;
        r.files = {{"m.toml", text}};
        const e2e::Outcome o = e2e::run(r);
        EXPECT_EQ(o.status, row.status);
        EXPECT_NE(o.err.find(row.err), std::string::npos) << o.err;
        EXPECT_EQ(o.files.size(), 1u) << "a file was left beside the description";
        EXPECT_EQ(o.files.at("m.toml"), text);
    }
}

}  // namespace

namespace {

// The 20-storey example is the frame it says it is.
TEST(Robust, TheTwentyStoreyExampleWithThreeDampers) {
    const design::Description d = design::read_description(VARNOSTIK_EXAMPLES "/rama20t3.toml");
    ASSERT_EQ(d.LK, 20);
    double frame = 0.0;
    for (std::size_t i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(d.masses[i], 100.0);
        frame += d.masses[i];
        // Falling linearly from 120 000 to 60 000 kN/m, to six digits.
        const double want = 120000.0 - 60000.0 * static_cast<double>(i) / 19.0;
        EXPECT_NEAR(d.stiffnesses[i], want, 0.5e-5 * want);
        EXPECT_EQ(d.PC[i], i == 19 ? 100.0 : 0.0);
    }
    EXPECT_EQ(d.GAMMA1, 0.02);
    EXPECT_EQ(d.GAMMA2, 0.02);
    struct Row {
        int line;
        int32_t storey;
    } rows[] = {{__LINE__, 20}, {__LINE__, 19}, {__LINE__, 18}};
    ASSERT_EQ(d.tmds.size(), 3u);
    for (std::size_t t = 0; t < 3; ++t) {
        SCOPED_TRACE(rows[t].line);
        EXPECT_EQ(d.tmds[t].storey, rows[t].storey);
        EXPECT_EQ(d.tmds[t].mass, 0.01 * frame);
    }
}

// A search's candidates are solved directly, the tunings shown through
// the program's step: both give every curve, and the objective and
// strokes measured over the modes, alike to 1e-9, at resonance and away
// from it, on well and badly tuned dampers, under a force and the ground's
// motion.
TEST(Robust, TheSearchsDirectSolutionAgreesWithTheProgramsStep) {
    struct Row {
        int line;
        const char* example;
        std::vector<double> f, z;  // per tuned mass
    } rows[] = {
        {__LINE__, "/rama5t.toml", {1.0}, {0.1}},
        {__LINE__, "/rama5t.toml", {0.97}, {0.09}},
        {__LINE__, "/rama5t.toml", {0.4}, {0.002}},
        {__LINE__, "/rama3g.toml", {1.0}, {0.1}},
        {__LINE__, "/rama3g.toml", {0.8}, {0.01}},
        {__LINE__, "/rama20t3.toml", {1.0, 1.0, 1.0}, {0.1, 0.1, 0.1}},
        {__LINE__, "/rama20t3.toml", {0.95, 1.02, 2.9}, {0.03, 0.12, 0.01}},
        {__LINE__, "/rama20t3.toml", {0.5, 1.5, 1.0}, {0.001, 0.3, 0.05}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        design::Description d = design::read_description(std::string(VARNOSTIK_EXAMPLES) + row.example);
        ASSERT_EQ(d.tmds.size(), row.f.size());
        for (std::size_t t = 0; t < row.f.size(); ++t) {
            d.tmds[t].tuning = design::TunedMass::Tuning::frequency_ratio;
            d.tmds[t].tuning_value = row.f[t];
            d.tmds[t].damping = design::TunedMass::Damping::damping_ratio;
            d.tmds[t].damping_value = row.z[t];
        }
        const design::Model m = design::build_model(d);
        design::TuneRequest q;
        for (std::size_t t = 0; t < row.f.size(); ++t) q.dampers.push_back(static_cast<int32_t>(t + 1));
        const design::Extremes step = design::measure(m, q, d.path, true, design::Solution::step);
        const design::Extremes direct = design::measure(m, q, d.path, true, design::Solution::direct);
        EXPECT_NEAR(direct.amplitude.value, step.amplitude.value, 1e-9 * step.amplitude.value);
        EXPECT_NEAR(direct.amplitude.lambda, step.amplitude.lambda, 1e-6 * step.amplitude.lambda);
        EXPECT_NEAR(direct.stroke.value, step.stroke.value, 1e-9 * step.stroke.value);
        // Every curve at the peaks, at the frame's frequencies and between.
        std::vector<double> at = {0.0, step.amplitude.lambda, step.stroke.lambda};
        for (double w : m.OMEGA)
            if (w > 0) at.insert(at.end(), {w, 0.999 * w, 1.3 * w});
        design::Stepper stepper(m.LK, m.NU, m.MS, m.CS, m.KS, m.load_cos, m.load_sin);
        for (double l : at) {
            SCOPED_TRACE(l);
            const design::Point a = design::response_at(stepper, m, l);
            const design::Point b = design::response_direct(m, l);
            ASSERT_FALSE(a.singular);
            ASSERT_FALSE(b.singular);
            const std::vector<double> va = design::curve_values(a), vb = design::curve_values(b);
            ASSERT_EQ(va.size(), vb.size());
            double largest = 0.0;
            for (double v : va) largest = std::max(largest, v);
            for (std::size_t c = 0; c < va.size(); ++c) {
                SCOPED_TRACE(c);
                EXPECT_NEAR(vb[c], va[c], 1e-9 * std::max(va[c], 1e-6 * largest));
            }
        }
    }
}

}  // namespace

namespace {

// tune -o with several dampers writes every one's tuning, each as the
// output's table gives it.
TEST(Robust, SeveralTunedDampersAreAllWrittenBack) {
    struct Row {
        int line;
        std::string dampers;
        std::vector<std::size_t> tuned;  // 0-based
    } rows[] = {
        {__LINE__, "all", {0, 1}},
        {__LINE__, "2,1", {1, 0}},
        {__LINE__, "2", {1}},
    };
    const std::string text = three_storeys(true, kLoads);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        e2e::Run run;
        run.program = VARNOSTIK_DESIGN_BIN;
        run.args = {"tune", "m.toml", "--objective", "rms", "--damper", row.dampers, "-o", "t.toml"};
        run.files = {{"m.toml", text}};
        const e2e::Outcome o = e2e::run(run);
        ASSERT_EQ(o.status, 0) << o.err;
        ASSERT_TRUE(o.files.count("t.toml"));
        tests::TomlFile f(o.files.at("t.toml"));
        const design::Description back = design::read_description(f.path);
        tests::TomlFile g(text);
        const design::Description d = design::read_description(g.path);
        design::TuneRequest q;
        q.objective = Objective::rms;
        for (std::size_t t : row.tuned) q.dampers.push_back(static_cast<int32_t>(t) + 1);
        const design::TuneResult r = design::tune(d, q);
        for (std::size_t i = 0; i < row.tuned.size(); ++i) {
            const design::TunedMass& t = back.tmds[row.tuned[i]];
            EXPECT_EQ(t.tuning, design::TunedMass::Tuning::frequency_ratio);
            EXPECT_NEAR(t.tuning_value / r.tuned.frequency_ratios[i], 1.0, 5e-6);  // six digits
            EXPECT_NEAR(t.damping_value / r.tuned.damping_ratios[i], 1.0, 5e-6);
        }
        // A damper not tuned keeps its keys.
        if (row.tuned.size() == 1) EXPECT_EQ(back.tmds[0].tuning_value, d.tmds[0].tuning_value);
    }
}

}  // namespace
