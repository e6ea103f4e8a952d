// The sweep's hand-over of steps between the threads that solve them and
// the one thread that writes them, through a ring of slots.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>

// Steps 0 .. steps-1 pass through the ring in order: a step is claimed
// (its slot handed to one thread, in step order), solved and published by
// that thread, awaited and written by the writing thread in step order,
// and then released, which frees its slot for the step size later.
//
// Invariant: claimed - written <= size.  No slot ever holds a step that is
// claimed and not yet written while a later step is claimed into it.  It
// is checked in debug builds where it could break: at every claim.
class StepRing {
public:
    StepRing(long steps, long size);
    StepRing(const StepRing&) = delete;
    StepRing& operator=(const StepRing&) = delete;

    long size() const { return size_; }
    std::size_t slot_of(long step) const { return static_cast<std::size_t>(step % size_); }

    // The next step, after prepare(step) has readied its slot under the
    // ring's lock (so that steps are prepared one after the other, in
    // order); -1 when every step is claimed, the ring is stopped, or
    // prepare returns false.  When the ring is full, waits for room, or
    // returns -1 at once when wait is false.
    template <class Prepare>
    long claim(bool wait, Prepare&& prepare);

    // Whether the step has been claimed.
    bool claimed(long step);

    // The step's slot holds its result (any thread).
    void publish(long step);
    // Whether the step is published, and waiting until it is (the writer).
    bool published(long step) const;
    void await(long step) const;
    // The step is written: its slot is free (the writer, in step order).
    void release(long step);

    // Claims end, and every thread waiting for room is woken.
    void stop();
    // Claims go on after a stop (for the writing thread alone, once the
    // threads that claimed have ended).
    void resume();

private:
    bool holds(long claimed, long written) const { return claimed - written <= size_; }
    void check(long claimed, long written) const;

    const long steps_;
    const long size_;
    std::mutex mutex_;
    long claimed_ = 0;                           // guarded by mutex_
    std::atomic<long> written_{0};
    std::atomic<bool> stopped_{false};
    std::atomic<unsigned> changes_{0};           // bumped by release and stop; waited on for room
    std::unique_ptr<std::atomic<long>[]> ready_;  // per slot: the step last published in it
};

template <class Prepare>
long StepRing::claim(bool wait, Prepare&& prepare) {
    for (;;) {
        // Read before the test, so that a release after it is not missed.
        const unsigned seen = changes_.load(std::memory_order_acquire);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (stopped_.load() || claimed_ >= steps_) return -1;
            const long written = written_.load(std::memory_order_acquire);
            if (claimed_ - written < size_) {
                if (!prepare(claimed_)) return -1;
                const long step = claimed_++;
                check(claimed_, written);
                return step;
            }
        }
        if (!wait) return -1;
        changes_.wait(seen);
    }
}

// What a ring sweep does with its steps.
class RingJob {
public:
    virtual ~RingJob() = default;
    // Readies the slot for the step, under the ring's lock and in step
    // order; false when there is no such step after all.
    virtual bool prepare(long step, std::size_t slot) = 0;
    // Solves the prepared step into its slot, on any thread; thread is the
    // solving thread's own number (0 .. workers), for its work arrays.
    virtual void solve(long step, std::size_t slot, int thread) = 0;
    // On the calling thread, in step order, once the step is solved: false
    // ends the sweep there.
    virtual bool emit(long step, std::size_t slot) = 0;
    // Around every run of solves on one thread (a worker's whole life, or
    // the steps the calling thread solves between two emits): what every
    // solve needs once per run rather than once per step.
    virtual void begin_solving(int /*thread*/) {}
    virtual void end_solving(int /*thread*/) {}
};

// Runs steps through a ring of size slots: up to workers threads solve
// steps (none where the platform refuses one), the calling thread emits
// every step in order and solves steps too (as thread number workers)
// while the next one to emit is not ready; alone, it solves as many steps
// as the ring holds before it emits them.  Every worker has ended when it
// returns, whatever ended the sweep.  The interrupts (SIGINT, SIGTERM,
// SIGHUP) reach the calling thread only while no worker runs: while
// workers run they are held, and a pending one ends the workers first, at
// the next step, and is then let in.  Returns the steps emitted.
long run_ring(RingJob& job, long steps, int workers, long size);
