// The resonance sweep.
//
// The steps are independent once their LAMBDA is known, so with more than
// one thread the workers take steps in order (LAMBDA still accumulated one
// addition after the other, under the sweep's lock) and solve them into a
// ring of slots, while the calling thread alone writes the records, step
// after step, exactly as the sequential sweep does.  The ring bounds the
// steps in flight, so memory stays the same whatever the step count.
#include "analysis/sweep.h"

#include <algorithm>
#include <cfenv>
#include <charconv>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "input/forcin.h"

namespace {

// The exceptions that stop a run; a worker runs with them masked and tests
// their flags instead.
constexpr int kTrapped = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;
// Slots of the ring for each worker.
constexpr int kSlotsPerWorker = 4;
// Smaller sweeps gain nothing from workers: below this order a step costs
// less than handing it over, and a few steps do not pay for the threads.
constexpr int32_t kMinParallelOrder = 16;
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

// One step in flight: claimed by a worker, then solved, then written.
struct Slot {
    long step = -1;
    double LAMBDA = 0;
    bool done = false;
    bool redo = false;  // raised an exception: solved again, traps on, in turn
    StepResult result;
    std::vector<double> AC, AS;
};

class ParallelSweep {
public:
    ParallelSweep(const System& s, double LAMMIN, double LAMMAX, double DLAM, long steps, int workers)
        : s_(s), lambdas_(LAMMIN, LAMMAX, DLAM), steps_(steps),
          slots_(static_cast<std::size_t>(workers) * kSlotsPerWorker) {
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
    bool claim(long& step, Slot*& slot);
    void stop_workers();

    const System& s_;
    SweepLambdas lambdas_;
    const long steps_;
    std::vector<Slot> slots_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable slot_free_;  // a worker may claim the next step
    std::condition_variable slot_done_;  // a step has been solved
    long claimed_ = 0;                   // steps handed to workers
    long written_ = 0;                   // steps whose records are written
    bool quit_ = false;
};

// The worker threads must not take the signals that end the run: those are
// handled on the thread that writes the records.
class WorkerSignalMask {
public:
    WorkerSignalMask() {
        sigset_t block;
        sigemptyset(&block);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) sigaddset(&block, sig);
        pthread_sigmask(SIG_BLOCK, &block, &saved_);
    }
    ~WorkerSignalMask() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    WorkerSignalMask(const WorkerSignalMask&) = delete;
    WorkerSignalMask& operator=(const WorkerSignalMask&) = delete;

private:
    sigset_t saved_;
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

void ParallelSweep::stop_workers() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    slot_free_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
}

// The next step and its slot, LAMBDA accumulated in step order; false when
// every step is claimed or the sweep is over.
bool ParallelSweep::claim(long& step, Slot*& slot) {
    std::unique_lock<std::mutex> lock(mutex_);
    const long ring = static_cast<long>(slots_.size());
    slot_free_.wait(lock, [&] { return quit_ || claimed_ >= steps_ || claimed_ < written_ + ring; });
    if (quit_ || claimed_ >= steps_) return false;
    double LAMBDA = 0;
    if (!lambdas_.next(LAMBDA)) return false;
    step = claimed_++;
    slot = &slots_[static_cast<std::size_t>(step % ring)];
    slot->step = step;
    slot->LAMBDA = LAMBDA;
    slot->done = false;
    return true;
}

void ParallelSweep::work() {
    fedisableexcept(FE_ALL_EXCEPT);
    StepWork work(s_.NU2());
    long step = 0;
    Slot* slot = nullptr;
    while (claim(step, slot)) {
        feclearexcept(FE_ALL_EXCEPT);
        const StepResult res = solve_step(s_, slot->LAMBDA, work);
        const bool redo = fetestexcept(kTrapped) != 0;
        std::copy_n(work.XH, s_.LK, slot->AC.data());
        std::copy_n(work.XH + s_.NU, s_.LK, slot->AS.data());
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            slot->result = res;
            slot->redo = redo;
            slot->done = true;
        }
        slot_done_.notify_one();
    }
}

void ParallelSweep::write_all(double* AH, double* XH, const SweepRecords& out) {
    StepWork own(s_.NU2(), AH, XH);
    const long ring = static_cast<long>(slots_.size());
    for (long step = 0; step < steps_; ++step) {
        Slot& slot = slots_[static_cast<std::size_t>(step % ring)];
        {
            std::unique_lock<std::mutex> lock(mutex_);
            slot_done_.wait(lock, [&] { return slot.step == step && slot.done; });
        }
        out.header(slot.LAMBDA);
        if (slot.redo) {
            // Where the sequential sweep would have stopped on the exception.
            const StepResult res = solve_step(s_, slot.LAMBDA, own);
            if (res.path == StepPath::singular) out.singular(res.d, res.i);
            out.solution(slot.LAMBDA, XH, XH + s_.NU);
        } else {
            if (slot.result.path == StepPath::singular) {
                // The run stops here: no worker is left running behind it.
                stop_workers();
                out.singular(slot.result.d, slot.result.i);
            }
            out.solution(slot.LAMBDA, slot.AC.data(), slot.AS.data());
        }
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            written_ = step + 1;
        }
        slot_free_.notify_one();
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
    const int workers = static_cast<int>(std::min<long>(threads, steps));
    if (workers > 1) {
        ParallelSweep parallel(s, LAMMIN, LAMMAX, DLAM, steps, workers);
        if (parallel.start(workers)) return parallel.write_all(AH, XH, out);
    }
    sequential_sweep(s, LAMMIN, LAMMAX, DLAM, AH, XH, out);
}
