#include "analysis/ring.h"

#include <cassert>
#include <csignal>
#include <pthread.h>
#include <system_error>
#include <thread>
#include <vector>

#include "textio/runtime.h"

StepRing::StepRing(long steps, long size)
    : steps_(steps), size_(size < 1 ? 1 : size), ready_(new std::atomic<long>[static_cast<std::size_t>(size_)]) {
    for (long k = 0; k < size_; ++k) ready_[static_cast<std::size_t>(k)].store(-1);
}

void StepRing::check([[maybe_unused]] long claimed, [[maybe_unused]] long written) const {
    assert(holds(claimed, written) && "a step claimed into a slot whose step is not written");
}

bool StepRing::claimed(long step) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return step < claimed_;
}

void StepRing::publish(long step) {
    std::atomic<long>& r = ready_[slot_of(step)];
    r.store(step, std::memory_order_release);
    r.notify_all();
}

bool StepRing::published(long step) const {
    return ready_[slot_of(step)].load(std::memory_order_acquire) == step;
}

void StepRing::await(long step) const {
    const std::atomic<long>& r = ready_[slot_of(step)];
    for (long seen = r.load(std::memory_order_acquire); seen != step; seen = r.load(std::memory_order_acquire))
        r.wait(seen, std::memory_order_acquire);
}

void StepRing::release(long step) {
    written_.store(step + 1, std::memory_order_release);
    changes_.fetch_add(1, std::memory_order_release);
    changes_.notify_all();
}

void StepRing::stop() {
    stopped_.store(true);
    changes_.fetch_add(1, std::memory_order_release);
    changes_.notify_all();
}

void StepRing::resume() { stopped_.store(false); }

namespace {

// The interrupts held on the calling thread while workers run.  Workers
// started meanwhile inherit the mask and never take them; once the workers
// have ended the calling thread's mask is restored and a pending interrupt
// is delivered to it.
class HeldInterrupts {
public:
    HeldInterrupts() {
        sigset_t after;
        pthread_sigmask(SIG_SETMASK, nullptr, &before_);
        textio::block_interrupts(true);
        pthread_sigmask(SIG_SETMASK, nullptr, &after);
        sigemptyset(&held_);
        for (int sig = 1; sig < NSIG; ++sig)
            if (sigismember(&after, sig) == 1 && sigismember(&before_, sig) != 1) sigaddset(&held_, sig);
    }
    ~HeldInterrupts() { release(); }
    HeldInterrupts(const HeldInterrupts&) = delete;
    HeldInterrupts& operator=(const HeldInterrupts&) = delete;

    bool pending() const {
        if (released_) return false;
        sigset_t p;
        if (sigpending(&p) != 0) return false;
        for (int sig = 1; sig < NSIG; ++sig)
            if (sigismember(&held_, sig) == 1 && sigismember(&p, sig) == 1) return true;
        return false;
    }
    void release() {
        if (released_) return;
        released_ = true;
        pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    }

private:
    sigset_t before_;
    sigset_t held_;
    bool released_ = false;
};

// The workers of one ring sweep.  They end (stop, join) before the
// interrupts are let in and before run_ring returns, on every path.
class Crew {
public:
    Crew(StepRing& ring, RingJob& job) : ring_(ring), job_(job) {}
    ~Crew() { end(); }
    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;

    // Starts up to workers threads; the platform may refuse some.
    void start(int workers) {
        if (workers < 1) return;
        held_ = std::make_unique<HeldInterrupts>();
        try {
            for (int k = 0; k < workers; ++k) threads_.emplace_back(&Crew::work, this, k);
        } catch (const std::system_error&) {
            // Fewer workers, or none: the calling thread solves the rest.
        }
        own_ = static_cast<int>(threads_.size());
    }
    // The calling thread's number among the solving threads.
    int own() const { return own_; }

    // At every step: a pending interrupt ends the workers and is let in.
    // Should the run go on, the calling thread sweeps on alone.
    void at_step() {
        if (held_ == nullptr || !held_->pending()) return;
        end();
        ring_.resume();
    }

    // The workers stop and are joined; then the interrupts are let in.
    void end() {
        if (!threads_.empty()) {
            ring_.stop();
            for (std::thread& t : threads_) t.join();
            threads_.clear();
        }
        if (held_ != nullptr) held_->release();
    }

private:
    void work(int thread) {
        auto prepare = [&](long s) { return job_.prepare(s, ring_.slot_of(s)); };
        job_.begin_solving(thread);
        for (long step = ring_.claim(true, prepare); step >= 0; step = ring_.claim(true, prepare)) {
            job_.solve(step, ring_.slot_of(step), thread);
            ring_.publish(step);
        }
        job_.end_solving(thread);
    }

    StepRing& ring_;
    RingJob& job_;
    std::vector<std::thread> threads_;
    std::unique_ptr<HeldInterrupts> held_;
    int own_ = 0;
};

}  // namespace

long run_ring(RingJob& job, long steps, int workers, long size) {
    StepRing ring(steps, size);
    Crew crew(ring, job);
    crew.start(workers);
    auto prepare = [&](long s) { return job.prepare(s, ring.slot_of(s)); };
    for (long step = 0; step < steps; ++step) {
        crew.at_step();
        if (!ring.published(step)) {
            // Not ready: solve the next unclaimed steps meanwhile (with no
            // worker, as many as there is room for), or wait.
            bool solving = false;
            for (;;) {
                const bool alone = crew.own() == 0;
                if (ring.published(step) && !alone) break;
                const long mine = ring.claim(false, prepare);
                if (mine < 0) break;
                if (!solving) job.begin_solving(crew.own());
                solving = true;
                job.solve(mine, ring.slot_of(mine), crew.own());
                ring.publish(mine);
            }
            if (solving) job.end_solving(crew.own());
            if (!ring.published(step)) {
                // Claimed by a worker, which publishes it; a step nobody
                // could claim ends the sweep.
                if (!ring.claimed(step)) return step;
                ring.await(step);
            }
        }
        if (!job.emit(step, ring.slot_of(step))) return step + 1;
        ring.release(step);
    }
    return steps;
}
