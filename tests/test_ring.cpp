// The sweep's hand-over through its ring of slots, with a fake solver:
// steps completed out of order, a stop in the middle, a ring of one slot.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "analysis/ring.h"

namespace {

using namespace std::chrono_literals;

// Ends the whole test program when a run has not returned in time: a ring
// that never wakes a waiting thread fails here, not by a test timeout.
class Watchdog {
public:
    Watchdog() : thread_([this] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!done_cv_.wait_for(lock, 5s, [this] { return done_; })) {
            std::fputs("ring sweep still running after 5 s\n", stderr);
            std::_Exit(1);
        }
    }) {}
    ~Watchdog() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        done_cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread thread_;
};

// Each slot records the step it holds; a step is "solved" into it after a
// delay that makes later steps finish before earlier ones.
class FakeJob final : public RingJob {
public:
    FakeJob(long size, long stop_at) : slots_(static_cast<std::size_t>(size)), stop_at_(stop_at) {}

    bool prepare(long step, std::size_t k) override {
        Slot& s = slots_[k];
        // The slot's previous step must have been emitted before reuse.
        if (s.step >= 0 && !s.emitted) overfull_.store(true);
        if (step != prepared_++) out_of_order_.store(true);
        s = Slot{step, -1, false};
        return true;
    }
    void solve(long step, std::size_t k, int) override {
        in_solve_.fetch_add(1);
        solves_.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds((step * 7919 % 5) * 150));
        slots_[k].value = step * 10 + 1;
        in_solve_.fetch_sub(1);
    }
    bool emit(long step, std::size_t k) override {
        Slot& s = slots_[k];
        if (s.step != step || s.value != step * 10 + 1) wrong_.store(true);
        s.emitted = true;
        emitted_.push_back(step);
        return step != stop_at_;
    }

    struct Slot {
        long step = -1;
        long value = -1;
        bool emitted = false;
    };
    std::vector<Slot> slots_;
    const long stop_at_;
    long prepared_ = 0;  // under the ring's lock
    std::vector<long> emitted_;
    std::atomic<bool> overfull_{false}, out_of_order_{false}, wrong_{false};
    std::atomic<int> in_solve_{0};
    std::atomic<long> solves_{0};
};

TEST(StepRing, EveryStepEmittedOnceInOrderAndNoWorkerOutlivesTheSweep) {
    struct Row {
        int line;
        long steps;
        int workers;
        long size;
        long stop_at;  // the step whose emit ends the sweep, or -1
    };
    const Row rows[] = {
        {__LINE__, 200, 3, 12, -1},  // out-of-order completion over many laps
        {__LINE__, 60, 3, 1, -1},    // a ring of one slot
        {__LINE__, 60, 0, 1, -1},    // the sequential sweep
        {__LINE__, 5, 4, 20, -1},    // more slots than steps: workers end before the writer
        {__LINE__, 200, 3, 8, 37},   // a stop in the middle, workers waiting for room
        {__LINE__, 60, 2, 1, 0},     // a stop at the first step of a one-slot ring
        {__LINE__, 1, 3, 12, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "line " << r.line);
        FakeJob job(r.size, r.stop_at);
        long done = 0;
        {
            const Watchdog watchdog;
            done = run_ring(job, r.steps, r.workers, r.size);
        }
        // Every worker has ended: nothing is being solved, and nothing more
        // will be.
        EXPECT_EQ(job.in_solve_.load(), 0);
        const long solves = job.solves_.load();
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(job.solves_.load(), solves);

        const long expect_done = r.stop_at >= 0 ? r.stop_at + 1 : r.steps;
        EXPECT_EQ(done, expect_done);
        ASSERT_EQ(static_cast<long>(job.emitted_.size()), expect_done);
        for (long k = 0; k < expect_done; ++k) EXPECT_EQ(job.emitted_[static_cast<std::size_t>(k)], k);
        // Claims never run ahead of the writer by more than the ring.
        EXPECT_LE(job.prepared_, expect_done + r.size);
        EXPECT_FALSE(job.overfull_.load()) << "a slot reused before its step was written";
        EXPECT_FALSE(job.out_of_order_.load());
        EXPECT_FALSE(job.wrong_.load()) << "a step emitted from a slot that did not hold it";
    }
}

}  // namespace
