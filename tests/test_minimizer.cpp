// The minimiser apart from any model: functions whose minima are known.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "design/minimizer.h"

namespace {

using design::Bound;
using design::Minimizer;
using design::Minimum;
using Vec = std::vector<double>;

TEST(Minimizer, FindsKnownMinima) {
    struct Row {
        int line;
        std::string what;
        std::vector<Bound> bounds;
        Minimizer::Objective f;
        Vec start, want;
        double want_value;
        double tolerance;  // on every parameter
        Minimum::Status status;
    } rows[] = {
        {__LINE__, "a shifted quadratic in three parameters, scaled differently", {{-5, 5}, {-5, 5}, {0.01, 10, true}},
         [](const Vec& x) { return 3 * (x[0] - 1.25) * (x[0] - 1.25) + (x[1] + 2) * (x[1] + 2) +
                                   100 * (x[2] - 0.3) * (x[2] - 0.3) + 7; },
         {0, 0, 1}, {1.25, -2, 0.3}, 7, 1e-6, Minimum::Status::converged},
        {__LINE__, "a narrow curved ridge (Rosenbrock's valley)", {{-2, 2}, {-1, 3}},
         [](const Vec& x) { return 100 * (x[1] - x[0] * x[0]) * (x[1] - x[0] * x[0]) + (1 - x[0]) * (1 - x[0]); },
         {-1.2, 1}, {1, 1}, 0, 1e-5, Minimum::Status::converged},
        // Two bowls whose larger is smallest on their crossing: a kink
        // along x + y = 4, the minimum at its middle (2, 2) with value 2,
        // as two equal peaks are.
        {__LINE__, "the maximum of two quadratics", {{0, 4}, {0, 4}},
         [](const Vec& x) {
             return std::max((x[0] - 1) * (x[0] - 1) + (x[1] - 1) * (x[1] - 1),
                             (x[0] - 3) * (x[0] - 3) + (x[1] - 3) * (x[1] - 3));
         },
         {0.5, 3.5}, {2, 2}, 2, 1e-6, Minimum::Status::converged},
        // Their difference is 4 - 4 x: the kink is the line x = 1, along
        // which both are 1 + 2 y^2.
        {__LINE__, "the maximum of two quadratics, the kink across a valley", {{-3, 3}, {-3, 3}},
         [](const Vec& x) {
             return std::max((x[0] - 2) * (x[0] - 2) + 2 * x[1] * x[1], x[0] * x[0] + 2 * x[1] * x[1]);
         },
         {2.5, 1.5}, {1, 0}, 1, 1e-6, Minimum::Status::converged},
        {__LINE__, "a minimum outside the box: on its face", {{0.5, 1.5}, {0.001, 0.5, true}},
         [](const Vec& x) { return (x[0] - 2) * (x[0] - 2) + (x[1] - 0.1) * (x[1] - 0.1); },
         {1, 0.05}, {1.5, 0.1}, 0.25, 1e-6, Minimum::Status::at_bound},
        {__LINE__, "infinite values near the start are given up", {{-2, 2}},
         [](const Vec& x) { return x[0] < -0.5 ? INFINITY : (x[0] - 1) * (x[0] - 1); },
         {-0.4}, {1}, 0, 1e-6, Minimum::Status::converged},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.line) + " " + row.what);
        const Minimum m = Minimizer(row.bounds).minimize(row.f, row.start);
        ASSERT_EQ(m.x.size(), row.want.size());
        for (std::size_t i = 0; i < m.x.size(); ++i) EXPECT_NEAR(m.x[i], row.want[i], row.tolerance) << i;
        EXPECT_NEAR(m.value, row.want_value, 1e-9);
        EXPECT_EQ(m.status, row.status) << design::status_text(m.status);
        EXPECT_LT(m.evaluations, design::MinimizerSettings{}.max_evaluations);
    }
}

TEST(Minimizer, StopsAtItsEvaluationLimitWithTheBestPointSoFar) {
    design::MinimizerSettings s;
    s.max_evaluations = 20;
    int calls = 0;
    const Minimum m = Minimizer({{-2, 2}, {-1, 3}}, s).minimize(
        [&](const Vec& x) {
            ++calls;
            return 100 * (x[1] - x[0] * x[0]) * (x[1] - x[0] * x[0]) + (1 - x[0]) * (1 - x[0]);
        },
        {-1.2, 1});
    EXPECT_EQ(m.status, Minimum::Status::evaluation_limit);
    EXPECT_EQ(m.evaluations, calls);
    EXPECT_LE(calls, s.max_evaluations + 3);  // the last step's evaluations
    EXPECT_LT(m.value, 100 * (1 - 1.44) * (1 - 1.44) + 2.2 * 2.2);  // below the start's value
}

TEST(Minimizer, RefusesBoundsAndStartsThatDoNotFit) {
    EXPECT_THROW(Minimizer({{1, 1}}), std::invalid_argument);
    EXPECT_THROW(Minimizer({{0, 1, true}}), std::invalid_argument);
    EXPECT_THROW(Minimizer({{0, 1}}).minimize([](const Vec&) { return 0.0; }, {0.5, 0.5}), std::invalid_argument);
}

}  // namespace
