// The resonance sweep.
//
// The steps are independent once their LAMBDA is known, so with more than
// one thread the workers take steps in order (LAMBDA still accumulated one
// addition after the other, under the ring's lock) and solve them into a
// ring of slots, while the calling thread alone hands them over, step
// after step, and solves steps too while the next one is not ready.  The
// sequential sweep is the same with no worker: it solves a ring's worth of
// steps, then writes them.  The ring
// bounds the steps in flight, so memory stays the same whatever the step
// count.
#include "analysis/sweep.h"

#include <algorithm>
#include <cfenv>
#include <charconv>
#include <cstdlib>
#include <sched.h>
#include <string_view>
#include <vector>

#include "analysis/ring.h"
#include "input/forcin.h"

namespace {

// Slots of the ring for each thread.
constexpr long kSlotsPerThread = 4;
// Slots of the sequential sweep: the steps solved together, under one
// switch of the traps, before they are written.
constexpr long kSequentialSlots = 32;
// Smaller sweeps gain nothing from workers: below this order a step costs
// little more than writing its records, which stays on one thread (measured
// on two cores: order 24 breaks even, order 28 gains a fifth), and a few
// steps do not pay for starting the threads.
constexpr int32_t kMinParallelOrder = 28;
constexpr long kMinParallelSteps = 32;
constexpr int kMaxThreads = 256;

// One step in flight: its LAMBDA, how it was solved, the exceptions it
// raised, and its whole solution.
struct Slot {
    double LAMBDA = 0;
    StepResult result;
    int raised = 0;
    std::vector<double> XH;
};

class SweepJob final : public RingJob {
public:
    SweepJob(const System& s, double LAMMIN, double LAMMAX, double DLAM, long slots, int threads,
             SweepSink& sink)
        : s_(s), lambdas_(LAMMIN, LAMMAX, DLAM), sink_(sink), traps_(fegetexcept()),
          slots_(static_cast<std::size_t>(slots)) {
        for (Slot& slot : slots_) slot.XH.resize(static_cast<std::size_t>(s.NU2()));
        work_.reserve(static_cast<std::size_t>(threads));
        for (int k = 0; k < threads; ++k) work_.emplace_back(s.NU2());
        held_.resize(static_cast<std::size_t>(threads));
    }

    bool prepare(long, std::size_t slot) override { return lambdas_.next(slots_[slot].LAMBDA); }

    // The traps are masked on a thread for each run of its solves, not for
    // each step; every step notes the exceptions that the caller traps.
    void begin_solving(int thread) override { feholdexcept(&held_[static_cast<std::size_t>(thread)]); }
    void end_solving(int thread) override { fesetenv(&held_[static_cast<std::size_t>(thread)]); }

    void solve(long, std::size_t k, int thread) override {
        Slot& slot = slots_[k];
        StepWork& work = work_[static_cast<std::size_t>(thread)];
        slot.result = solve_step_held(s_, slot.LAMBDA, work, traps_, slot.raised);
        std::copy_n(work.XH, s_.NU2(), slot.XH.data());
    }

    // The one way a step reaches the caller, sequential or not.
    bool emit(long step, std::size_t k) override {
        const Slot& slot = slots_[k];
        out_.steps = step + 1;
        out_.LAMBDA = slot.LAMBDA;
        sink_.header(slot.LAMBDA);
        if (slot.raised != 0) return end(SweepEnd::trapped, slot.raised, false);
        if (slot.result.path == StepPath::singular) {
            out_.d = slot.result.d;
            out_.i = slot.result.i;
            return end(SweepEnd::singular, 0, false);
        }
        const int raised = sink_.solution(slot.LAMBDA, slot.XH.data());
        if (raised != 0) return end(SweepEnd::trapped, raised, true);
        return true;
    }

    const SweepOutcome& outcome() const { return out_; }

private:
    bool end(SweepEnd how, int exceptions, bool in_sink) {
        out_.end = how;
        out_.exceptions = exceptions;
        out_.in_sink = in_sink;
        return false;
    }

    const System& s_;
    SweepLambdas lambdas_;  // guarded by the ring's lock
    SweepSink& sink_;
    const int traps_;       // the exceptions the caller traps
    std::vector<Slot> slots_;
    std::vector<StepWork> work_;  // one for each solving thread
    std::vector<fenv_t> held_;    // each solving thread's environment while it solves
    SweepOutcome out_;
};

int processors_available() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    return std::max(1, CPU_COUNT(&set));
}

// VARNOSTIK_THREADS as a count from 1 to kMaxThreads, or 0.
int threads_from_environment() {
    const char* text = std::getenv("VARNOSTIK_THREADS");
    if (text == nullptr) return 0;
    const std::string_view sv(text);
    int n = 0;
    const auto [end, ec] = std::from_chars(sv.data(), sv.data() + sv.size(), n);
    if (ec != std::errc() || end != sv.data() + sv.size() || n < 1) return 0;
    return std::min(n, kMaxThreads);
}

}  // namespace

int sweep_threads(long steps, int32_t NU2) {
    const int chosen = threads_from_environment();
    if (chosen > 0) return chosen;
    if (NU2 < kMinParallelOrder || steps < kMinParallelSteps) return 1;
    return std::min(processors_available(), kMaxThreads);
}

SweepOutcome sweep(const System& s, double LAMMIN, double LAMMAX, double DLAM, long steps, int threads,
                   SweepSink& sink) {
    const int used = static_cast<int>(std::clamp<long>(threads, 1, std::max(steps, 1L)));
    const long slots = used > 1 ? used * kSlotsPerThread : std::min(kSequentialSlots, std::max(steps, 1L));
    SweepJob job(s, LAMMIN, LAMMAX, DLAM, slots, used, sink);
    run_ring(job, steps, used - 1, slots);
    return job.outcome();
}
