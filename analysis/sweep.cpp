// The resonance sweep.
//
// The steps are independent once their LAMBDA is known, so with more than
// one thread the workers take steps in order (LAMBDA still accumulated one
// addition after the other, under the sweep's lock) and solve them into a
// ring of slots, while the calling thread alone writes the records, step
// after step, exactly as the sequential sweep does, and solves steps too
// while the next one to write is not ready.  The ring bounds the steps in
// flight, so memory stays the same whatever the step count.
#include "analysis/sweep.h"

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <charconv>
#include <cstdlib>
#include <mutex>
#include <sched.h>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "input/forcin.h"
#include "textio/runtime.h"

namespace {

// Slots of the ring for each thread.
constexpr int kSlotsPerThread = 4;
// Smaller sweeps gain nothing from workers: below this order a step costs
// little more than writing its records, which stays on one thread (measured
// on two cores: order 24 breaks even, order 28 gains a fifth), and a few
// steps do not pay for starting the threads.
constexpr int32_t kMinParallelOrder = 28;
constexpr long kMinParallelSteps = 32;
constexpr int kMaxThreads = 256;

void sequential_sweep(const System& s, double LAMMIN, double LAMMAX, double DLAM, double* AH, double* XH,
                      const SweepRecords& out) {
    StepWork work(s.NU2(), AH, XH);
    SweepLambdas lambdas(LAMMIN, LAMMAX, DLAM);
    double LAMBDA = 0;
    while (lambdas.next(LAMBDA)) {
        out.header(LAMBDA);
        const StepResult res = solve_step(s, LAMBDA, work);
        if (res.path == StepPath::singular) out.singular(res.d, res.i);
        out.solution(LAMBDA, XH, XH + s.NU);
    }
}

// One step in flight: claimed, solved, then written.  The thread that
// solved it publishes it by storing the step's number in ready.
struct Slot {
    std::atomic<long> ready{-1};
    double LAMBDA = 0;
    bool redo = false;  // raised an exception: solved again, traps on, in turn
    StepResult result;
    std::vector<double> AC, AS;
};

// threads - 1 workers solve steps; the calling thread writes the records in
// step order and, while the next step to write is not ready, solves steps
// too.
class ParallelSweep {
public:
    ParallelSweep(const System& s, double LAMMIN, double LAMMAX, double DLAM, long steps, int threads)
        : s_(s), lambdas_(LAMMIN, LAMMAX, DLAM), steps_(steps),
          ring_(static_cast<long>(threads) * kSlotsPerThread), slots_(static_cast<std::size_t>(ring_)) {
        for (Slot& slot : slots_) {
            slot.AC.resize(static_cast<std::size_t>(s.LK));
            slot.AS.resize(static_cast<std::size_t>(s.LK));
        }
    }

    // Starts the workers; false (and none left running) when the platform
    // refuses a thread.
    bool start(int workers);
    // Writes every step's records in order, then ends the workers.
    void write_all(double* AH, double* XH, const SweepRecords& out);

private:
    void work();
    Slot* claim(long& step, bool wait_for_room);
    void solve_claimed(Slot& slot, long step, StepWork& work);
    void write_step(Slot& slot, StepWork& own, const SweepRecords& out);
    void stop_workers();
    Slot& slot_of(long step) { return slots_[static_cast<std::size_t>(step % ring_)]; }

    const System& s_;
    SweepLambdas lambdas_;  // guarded by claim_mutex_
    const long steps_;
    const long ring_;
    std::vector<Slot> slots_;
    std::vector<std::thread> threads_;
    std::mutex claim_mutex_;
    long claimed_ = 0;              // steps handed out, guarded by claim_mutex_
    std::atomic<long> written_{0};  // steps whose records are written
    std::atomic<bool> quit_{false};
};

// The worker threads must not take the interrupts that end the run: they
// start with them blocked, and the thread that writes the records, which
// alone can write out the complete records, takes them.
class WorkerSignalMask {
public:
    WorkerSignalMask() { textio::block_interrupts(true); }
    ~WorkerSignalMask() { textio::block_interrupts(false); }
    WorkerSignalMask(const WorkerSignalMask&) = delete;
    WorkerSignalMask& operator=(const WorkerSignalMask&) = delete;
};

bool ParallelSweep::start(int workers) {
    const WorkerSignalMask mask;
    try {
        for (int k = 0; k < workers; ++k) threads_.emplace_back(&ParallelSweep::work, this);
    } catch (const std::system_error&) {
        stop_workers();
        return false;
    }
    return true;
}

// Ends the workers: a worker waiting for room in the ring is woken by a
// count of written steps past every step.
void ParallelSweep::stop_workers() {
    quit_.store(true);
    written_.store(steps_ + ring_);
    written_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
}

// The next step's slot, its LAMBDA accumulated in step order, once the
// ring has room for it (or at once, when it has none and wait_for_room is
// false); nullptr when there is no step to take.  The wait for room is
// made outside the lock, which the writing thread may need meanwhile.
Slot* ParallelSweep::claim(long& step, bool wait_for_room) {
    for (;;) {
        long w = 0;
        {
            const std::lock_guard<std::mutex> lock(claim_mutex_);
            if (quit_.load() || claimed_ >= steps_) return nullptr;
            w = written_.load(std::memory_order_acquire);
            if (claimed_ < w + ring_) {
                double LAMBDA = 0;
                if (!lambdas_.next(LAMBDA)) return nullptr;
                step = claimed_++;
                Slot& slot = slot_of(step);
                slot.LAMBDA = LAMBDA;
                return &slot;
            }
        }
        if (!wait_for_room) return nullptr;
        written_.wait(w);
    }
}

// Solves a claimed step with the traps masked (the caller's concern) and
// publishes it; an exception raised where the sequential sweep has the
// traps on marks it for solving again in turn.
void ParallelSweep::solve_claimed(Slot& slot, long step, StepWork& work) {
    feclearexcept(FE_ALL_EXCEPT);
    slot.result = solve_step(s_, slot.LAMBDA, work);
    slot.redo = fetestexcept(textio::kTrappedExceptions) != 0;
    std::copy_n(work.XH, s_.LK, slot.AC.data());
    std::copy_n(work.XH + s_.NU, s_.LK, slot.AS.data());
    slot.ready.store(step, std::memory_order_release);
    slot.ready.notify_one();
}

void ParallelSweep::work() {
    fedisableexcept(FE_ALL_EXCEPT);
    StepWork work(s_.NU2());
    long step = 0;
    while (Slot* slot = claim(step, true)) solve_claimed(*slot, step, work);
}

void ParallelSweep::write_step(Slot& slot, StepWork& own, const SweepRecords& out) {
    out.header(slot.LAMBDA);
    if (slot.redo) {
        // Where the sequential sweep would have stopped on the exception.
        const StepResult res = solve_step(s_, slot.LAMBDA, own);
        if (res.path == StepPath::singular) out.singular(res.d, res.i);
        out.solution(slot.LAMBDA, own.XH, own.XH + s_.NU);
        return;
    }
    if (slot.result.path == StepPath::singular) {
        // The run stops here: no worker is left running behind it.
        stop_workers();
        out.singular(slot.result.d, slot.result.i);
    }
    out.solution(slot.LAMBDA, slot.AC.data(), slot.AS.data());
}

void ParallelSweep::write_all(double* AH, double* XH, const SweepRecords& out) {
    StepWork own(s_.NU2(), AH, XH);
    StepWork helping(s_.NU2());
    for (long step = 0; step < steps_; ++step) {
        Slot& slot = slot_of(step);
        for (long r = slot.ready.load(std::memory_order_acquire); r != step;
             r = slot.ready.load(std::memory_order_acquire)) {
            long mine = 0;
            if (Slot* other = claim(mine, false)) {
                // Solved as a worker solves it, with the traps masked.
                const TrapsOff masked;
                solve_claimed(*other, mine, helping);
            } else {
                slot.ready.wait(r);
            }
        }
        write_step(slot, own, out);
        written_.store(step + 1, std::memory_order_release);
        written_.notify_all();
    }
    stop_workers();
}

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

void sweep(const System& s, double LAMMIN, double LAMMAX, double DLAM, long steps, int threads, double* AH,
           double* XH, const SweepRecords& out) {
    const int used = static_cast<int>(std::min<long>(threads, steps));
    if (used > 1) {
        ParallelSweep parallel(s, LAMMIN, LAMMAX, DLAM, steps, used);
        if (parallel.start(used - 1)) return parallel.write_all(AH, XH, out);
    }
    sequential_sweep(s, LAMMIN, LAMMAX, DLAM, AH, XH, out);
}
