// Time stepping on several threads. The calling thread is thread 0; for each
// chunk it starts threadCount - 1 workers, and all of them update their own slab of
// z-planes of E, meet, wait while the calling thread does the boundary and
// source work, update H, and meet again. The meeting is a spin barrier on one
// phase word and one done flag per worker: release stores publish the field
// writes made before them, acquire loads on the other side see them. Nothing
// else is shared, so no locks are needed.
//
// The spinning itself uses relaxed loads; once the awaited value shows up, one
// acquire load of the same word (which cannot have moved on: the other side
// waits for us before it writes again) makes the other thread's writes
// visible. Spinning on acquire loads would be as correct, but under a race
// detector every acquire load is a synchronisation event, and a dozen threads
// doing nothing else can starve the one thread that has to store.

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "grid/FdtdEngine.hpp"

// Phase of the current time step, written only by the calling thread:
// 4 idle (workers wait), 1 update E, 2 update H, 0 workers return.
// Process-wide, so only one engine steps at a time.
alignas(64) std::atomic<std::uint32_t> stepPhase{0};

// One worker of a chunk. The done flag (0 at start, 1 after the worker's E
// update, 2 after its H update) sits on a cache line of its own, so the
// calling thread polling it never fights over a line that another worker
// writes.
struct alignas(64) StepWorker {
    FdtdEngine* engine = nullptr;
    int threadIndex = 0;
    alignas(64) std::atomic<std::uint32_t> done{0};
    pthread_t handle{};
    bool started = false;
};

int stepWorkerMain(StepWorker* worker) {
    FdtdEngine* const engine = worker->engine;
    const int thread = worker->threadIndex;
    for (;;) {
        // Busy wait for the next E phase (or the end of the chunk).
        while (stepPhase.load(std::memory_order_relaxed) > 1) {
        }
        const std::uint32_t phase = stepPhase.load(std::memory_order_acquire);
        if (phase == 0) return 0;
        engine->electricHalfStep(thread);
        worker->done.store(1, std::memory_order_release);
        while (stepPhase.load(std::memory_order_relaxed) != 2) {
        }
        (void)stepPhase.load(std::memory_order_acquire);
        engine->updateH(thread);
        worker->done.store(2, std::memory_order_release);
    }
}

namespace {

void* workerThreadEntry(void* record) {
    stepWorkerMain(static_cast<StepWorker*>(record));
    return nullptr;
}

constexpr int kMaxWorkers = 15;

// Spins until every started worker has reported `value`, last worker first.
void waitForWorkers(StepWorker* table, int workerSlots, std::uint32_t value) {
    for (int w = workerSlots - 1; w >= 0; --w) {
        if (!table[w].started) continue;
        while (table[w].done.load(std::memory_order_relaxed) != value) {
        }
        (void)table[w].done.load(std::memory_order_acquire);
    }
}

}  // namespace

void FdtdEngine::runSteps(std::uint32_t steps) {
    const int threads = threadCount;

    // Start the workers. A thread index that gets no thread of its own (the
    // system refused to start one, or beyond the 15 table slots) is done by the
    // calling thread in both phases: same planes, same arithmetic, so the fields
    // do not change, and the barrier never waits for it.
    StepWorker table[kMaxWorkers];
    int orphans[64];  // threadCount is 1..16 (the driver checks it)
    int orphanCount = 0;
    const int workerSlots = threads > 1 ? std::min(threads - 1, kMaxWorkers) : 0;
    stepPhase.store(4, std::memory_order_release);
    for (int w = 1; w < threads; ++w) {
        if (w <= kMaxWorkers) {
            StepWorker& worker = table[w - 1];
            worker.engine = this;
            worker.threadIndex = w;
            worker.done.store(0, std::memory_order_relaxed);
            worker.started =
                pthread_create(&worker.handle, nullptr, workerThreadEntry, &worker) == 0;
            if (worker.started) continue;
        }
        if (orphanCount < 64) orphans[orphanCount++] = w;
    }

    for (std::uint32_t n = 0; n < steps; ++n) {
        stepPhase.store(1, std::memory_order_release);
        electricHalfStep(0);
        for (int i = 0; i < orphanCount; ++i) electricHalfStep(orphans[i]);
        waitForWorkers(table, workerSlots, 1);

        // A z face's boundary plane holds points of the x and y faces' neighbour
        // lines, which every thread has accumulated by now; it is applied last,
        // as in face order, and the source comes after every face.
        for (auto& boundary : boundaries)
            if (boundary && boundary->normalAxis == 2) boundary->apply();
        if (excitation) excitation->inject();

        stepPhase.store(2, std::memory_order_release);
        updateH(0);
        for (int i = 0; i < orphanCount; ++i) updateH(orphans[i]);
        waitForWorkers(table, workerSlots, 2);

        ++stepCount;
    }

    stepPhase.store(0, std::memory_order_release);
    for (int w = workerSlots - 1; w >= 0; --w)
        if (table[w].started) pthread_join(table[w].handle, nullptr);

    sampleProbes();
}

// Per plane: the absorbing faces keep E of their neighbour line from before
// the update, the kernel updates the plane, every face adds k * E(new) of its
// neighbour line, and the x and y faces write their boundary line. All faces
// accumulate before any applies, because where two faces meet one reads what
// the other writes. The points of a plane never depend on another plane, so
// no thread waits for another here.
void FdtdEngine::electricHalfStep(int thread) {
    const PlaneRange planes = threadPlanes(thread);
    for (std::size_t k = planes.begin; k < planes.end; ++k) {
        for (auto& boundary : boundaries)
            if (boundary) boundary->saveNeighbour(k, k + 1);
        updateEPlanes(k, k + 1);
        for (auto& boundary : boundaries)
            if (boundary) boundary->accumulate(k, k + 1);
        for (auto& boundary : boundaries)
            if (boundary && boundary->normalAxis != 2) boundary->apply(k, k + 1);
    }
}

void FdtdEngine::sampleProbes() {
    for (auto& probe : probes) probe->sample();
}

void FdtdEngine::analyzeProbes() {
    for (auto& probe : probes) probe->analyze();
}
