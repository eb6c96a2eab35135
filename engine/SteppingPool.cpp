// The stepping threads that live for the whole run.
//
// Starting and joining threads for every chunk costs some tens of
// microseconds each time, a few per cent of the run on small grids. The pool
// starts them once; between chunks each thread waits for its next one. While
// the chunks are short the gap between two of them is short too, and a thread
// that went to sleep would wake up late by about the time of a short chunk's
// step, so it spins for a while (kShortChunkSpin); after a long chunk it spins
// only briefly and then sleeps in the kernel (a futex wait), since there the
// wake-up is cheap against the chunk and the processor is better left to
// others (the far-field transform's threads after the run, other programs).

#include "engine/SteppingPool.hpp"

#include <chrono>

namespace fendrix {

namespace {

using Clock = std::chrono::steady_clock;

// Chunks shorter than this are short: a wake-up (some tens of microseconds)
// would cost more than a per cent of them.
constexpr double kLongChunkSeconds = 5e-3;
// How long a thread spins for its next chunk after a short and a long one.
constexpr double kShortChunkSpin = 10e-3;
constexpr double kLongChunkSpin = 50e-6;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Waits until `counter` differs from `seen`: spins for `spinSeconds`, then
// sleeps until the calling thread changes it.
void awaitChange(const std::atomic<std::uint32_t>& counter, std::uint32_t seen, double spinSeconds) {
    const Clock::time_point start = Clock::now();
    for (unsigned polls = 1;; ++polls) {
        if (counter.load(std::memory_order_acquire) != seen) return;
        if (polls % 256 == 0 && secondsSince(start) > spinSeconds) break;
    }
    counter.wait(seen, std::memory_order_acquire);
}

void waitUntil(const std::atomic<std::uint32_t>& counter, std::uint32_t value) {
    while (counter.load(std::memory_order_relaxed) != value) {
    }
    (void)counter.load(std::memory_order_acquire);
}

}  // namespace

SteppingPool::SteppingPool(void (*work)(StepWorker&)) : work(work) {
    CPU_ZERO(&callerSet);
    if (pthread_getaffinity_np(pthread_self(), sizeof callerSet, &callerSet) == 0)
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &callerSet)) processors[processorCount++] = cpu;
    for (StepWorker& record : records) record.pool = this;
}

SteppingPool::~SteppingPool() {
    stopping.store(true, std::memory_order_release);
    for (int t = 1; t < started; ++t) {
        records[t].chunksGiven.fetch_add(1, std::memory_order_release);
        records[t].chunksGiven.notify_one();
        pthread_join(records[t].handle, nullptr);
    }
}

void* SteppingPool::threadEntry(void* record) {
    StepWorker& worker = *static_cast<StepWorker*>(record);
    worker.pool->serve(worker);
    return nullptr;
}

void SteppingPool::serve(StepWorker& worker) {
    std::uint32_t seen = 0;
    double spin = kShortChunkSpin;
    for (;;) {
        awaitChange(worker.chunksGiven, seen, spin);
        seen = worker.chunksGiven.load(std::memory_order_acquire);
        if (stopping.load(std::memory_order_acquire)) return;
        const Clock::time_point start = Clock::now();
        work(worker);
        spin = secondsSince(start) < kLongChunkSeconds ? kShortChunkSpin : kLongChunkSpin;
        worker.chunksDone.store(seen, std::memory_order_release);
    }
}

// Left to itself the system may start a thread on the processor of the thread
// that created it, and both then share it for a whole time slice per step; so
// thread t is bound to the t-th processor (in turn) of the creating thread's set.
int SteppingPool::reserve(int count) {
    for (; started < count; ++started) {
        StepWorker& worker = records[started];
        bool ok = false;
        pthread_attr_t attributes;
        if (processorCount > 0 && pthread_attr_init(&attributes) == 0) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(processors[started % processorCount], &one);
            ok = pthread_attr_setaffinity_np(&attributes, sizeof one, &one) == 0 &&
                 pthread_create(&worker.handle, &attributes, threadEntry, &worker) == 0;
            pthread_attr_destroy(&attributes);
        }
        if (!ok && pthread_create(&worker.handle, nullptr, threadEntry, &worker) != 0) break;
    }
    return count < started ? count : started;
}

// The calling thread steps record 0 on the first processor and gets its own
// set back afterwards.
void SteppingPool::runChunk(int running) {
    for (int t = 0; t < running; ++t) {
        records[t].firstPlaneSteps.store(0, std::memory_order_relaxed);
        records[t].lastPlaneSteps.store(0, std::memory_order_relaxed);
        records[t].positionsDone.store(0, std::memory_order_relaxed);
    }
    bool bound = false;
    if (running > 1 && processorCount > 1) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(processors[0], &one);
        bound = pthread_setaffinity_np(pthread_self(), sizeof one, &one) == 0;
    }
    for (int t = 1; t < running; ++t) {
        records[t].chunksGiven.fetch_add(1, std::memory_order_release);
        records[t].chunksGiven.notify_one();
    }
    work(records[0]);
    for (int t = 1; t < running; ++t)
        waitUntil(records[t].chunksDone, records[t].chunksGiven.load(std::memory_order_relaxed));
    if (bound) pthread_setaffinity_np(pthread_self(), sizeof callerSet, &callerSet);
}

}  // namespace fendrix
