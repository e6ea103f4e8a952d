// The sweep on worker threads: every stream and every file byte for byte
// that of the sequential sweep (VARNOSTIK_THREADS=1), for every way a run
// ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_run.h"

namespace {

using e2e::Outcome;
using e2e::same_bytes;

// A data file (sizes, then one row record per line): each value in a field
// of 12 behind 2 blanks.  A value without a decimal point gets one before
// its exponent, since the field would read its last six digits as the
// fraction.
std::string data_file(const std::string& sizes, const std::vector<std::vector<std::string>>& rows) {
    std::string s = sizes + "\r\n";
    for (const auto& row : rows) {
        for (std::string v : row) {
            const std::size_t e = std::min(v.find('E'), v.size());
            if (v.find('.') == std::string::npos) v = v.substr(0, e) + "." + v.substr(e);
            s += "  " + std::string(12 - v.size(), ' ') + v;
        }
        s += "\r\n";
    }
    return s;
}

std::string example(const std::string& name) {
    std::ifstream in(std::string(VARNOSTIK_EXAMPLES) + "/" + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The answers of a typed run of twenty storeys with forty damper
// parameters, the largest model the dialogue takes, over 300 steps.
std::string largest_model_typed() {
    std::ostringstream s;
    s << "big\nbigw\nbigr\n1\n20\n40\n40\n1\n";
    for (int i = 1; i <= 20; ++i) s << 100 + i << "\n";
    s << "2\n";
    for (int i = 1; i <= 20; ++i)
        for (int j = i; j <= 20; ++j) s << (i == j ? (i == 20 ? 40000 : 80000) : j == i + 1 ? -40000 : 0) << "\n";
    s << "0.02 0.02\n0\n0\n1\n";
    for (int j = 1; j <= 40; ++j) s << 1 + j % 3 << "\n";
    // Damping and stiffness: each parameter hangs from storey (j-1)%20+1.
    for (double value : {2.0, 60.0}) {
        s << "1\n";
        for (int i = 1; i <= 20; ++i) s << 2 * value << "\n";
        s << "3\n";
        for (int i = 1; i <= 20; ++i)
            for (int j = 1; j <= 40; ++j) s << ((j - 1) % 20 + 1 == i ? -value : 0) << "\n";
        s << "1\n";
        for (int j = 1; j <= 40; ++j) s << value << "\n";
    }
    for (int i = 1; i <= 20; ++i) s << (i == 20 ? 100 : 0) << "\n";
    for (int i = 1; i <= 20; ++i) s << (i == 1 ? 30 : 0) << "\n";
    s << "0.1 30 0.1\n3\n20 1 7\n\n";
    return s.str();
}

// A single storey of mass 1 and stiffness 1 with the damping ratios,
// forces and range given.
std::string storey(const std::string& gamma, const std::string& force, const std::string& range) {
    std::istringstream r(range);
    std::vector<std::string> lambdas(3);
    r >> lambdas[0] >> lambdas[1] >> lambdas[2];
    return data_file("    1    0    0", {{"1"}, {"1"}, {gamma, gamma}, {force}, {"0"}, lambdas});
}

struct Case {
    const char* what;
    e2e::Run run;
    int status;            // of every run
    const char* err_part;  // standard error holds it
};

std::vector<Case> cases() {
    const std::string replay = "dane\nwyniki\nrys\n2\n";
    auto from_data = [&](const std::string& data, const std::string& plot) {
        e2e::Run r;
        r.input = replay + plot + "\n";
        r.files = {{"dane", data}};
        return r;
    };
    std::vector<Case> c;
    for (const char* name : {"rama3", "fund"}) {
        e2e::Run r;
        r.input = example(std::string(name) + ".in");
        r.files = {{name, example(name)}};
        c.push_back({name, r, 0, ""});
    }
    e2e::Run big;
    big.input = largest_model_typed();
    big.timeout = std::chrono::milliseconds(120000);
    c.push_back({"largest model, typed", big, 0, ""});
    // Undamped at LAMBDA = 1: the matrix is zero, singular also with exchanges.
    c.push_back({"singular at the fourth of eight steps", from_data(storey("0", "1", "0.25 2 0.25"), "1\n1\n"), 33,
                 ""});
    // LAMBDA^2 overflows from the fourteenth step on.
    c.push_back({"overflow at the fourteenth step", from_data(storey("0.05", "1", "1E153 1E155 1E153"), "1\n1\n"),
                 1, "M6104"});
    // The last of fourteen steps overflows in solving, and the last of four
    // in its amplitudes (5E154 squared): workers that have taken every step
    // and ended must be joined before the run stops.
    c.push_back({"overflow in solving the last step",
                 from_data(storey("0.05", "1", "1E153 1.35E154 1E153"), "1\n1\n"), 1, "M6104"});
    c.push_back({"overflow in the amplitudes of the last step",
                 from_data(storey("0.01", "1E153", "0.25 1 0.25"), "1\n1\n"), 1, "M6104"});
    // The step at 0.9999999999999999 fails the accuracy check and is solved
    // again with row exchanges.
    const std::string frame4 =
        data_file("    4    0    0", {{"1", "0", "0", "0"}, {"0", "1", "0", "0"}, {"0", "0", "1", "0"},
                                     {"0", "0", "0", "1"}, {"2", "-1", "0", "0"}, {"-1", "2", "-1", "0"},
                                     {"0", "-1", "2", "-1"}, {"0", "0", "-1", "1"}, {"0.05", "0.05"},
                                     {"1", "0", "0", "0"}, {"0", "0", "0", "0"}, {"0", "1", "0.1"}});
    c.push_back({"a step re-solved by the accuracy check", from_data(frame4, "3\n4 4 1\n"), 0, ""});
    return c;
}

Outcome run_with_threads(e2e::Run r, const char* threads) {
    r.env["VARNOSTIK_THREADS"] = threads;
    return e2e::run(r);
}

TEST(Threads, EveryStreamAndFileAsTheSequentialSweep) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.what);
        const Outcome one = run_with_threads(c.run, "1");
        ASSERT_EQ(one.status, c.status) << one.err;
        EXPECT_NE(one.err.find(c.err_part), std::string::npos) << one.err;
        for (const char* threads : {"2", "3", "8"}) {
            SCOPED_TRACE(testing::Message() << "VARNOSTIK_THREADS=" << threads);
            const Outcome o = run_with_threads(c.run, threads);
            EXPECT_EQ(o.status, one.status);
            EXPECT_TRUE(same_bytes("standard output", one.out, o.out));
            EXPECT_TRUE(same_bytes("standard error", one.err, o.err));
            ASSERT_EQ(o.files.size(), one.files.size());
            for (const auto& [name, bytes] : one.files) EXPECT_TRUE(same_bytes(name, bytes, o.files.at(name)));
        }
    }
}

// Each clone of the kernels, forced by VARNOSTIK_KERNEL_WIDTH, gives every
// stream and file of the widest, which the run picks unasked; a value that
// is not a width is refused on standard error, before the sweep's own
// words, and the widest is used.
TEST(Threads, EveryKernelWidthAsTheWidest) {
    struct Row {
        int line;
        const char* width;
        bool refused;
    };
    const Row rows[] = {
        {__LINE__, "2", false}, {__LINE__, "4", false}, {__LINE__, "8", false},
        {__LINE__, "16", true}, {__LINE__, "4x", true}, {__LINE__, "", true},
    };
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.what);
        const Outcome widest = e2e::run(c.run);
        ASSERT_EQ(widest.status, c.status) << widest.err;
        for (const Row& r : rows) {
            SCOPED_TRACE(testing::Message() << "line " << r.line << ": VARNOSTIK_KERNEL_WIDTH=" << r.width);
            e2e::Run run = c.run;
            run.env["VARNOSTIK_KERNEL_WIDTH"] = r.width;
            const Outcome o = e2e::run(run);
            EXPECT_EQ(o.status, widest.status);
            EXPECT_TRUE(same_bytes("standard output", widest.out, o.out));
            std::string err = o.err;
            if (r.refused) {
                const std::string warning = std::string("warning: VARNOSTIK_KERNEL_WIDTH=") + r.width +
                                            " is not 8, 4 or 2; width ";
                ASSERT_EQ(err.substr(0, warning.size()), warning) << err;
                err.erase(0, err.find("\r\n") + 2);
            }
            EXPECT_TRUE(same_bytes("standard error", widest.err, err));
            ASSERT_EQ(o.files.size(), widest.files.size());
            for (const auto& [name, bytes] : widest.files) EXPECT_TRUE(same_bytes(name, bytes, o.files.at(name)));
        }
    }
}

}  // namespace
