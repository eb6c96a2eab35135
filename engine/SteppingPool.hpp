#pragma once

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/Limits.hpp"

namespace fendrix {

class FdtdEngine;
class PlaneExchange;
class SteppingPool;
struct PortCapture;

// One stepping thread's share of a chunk (record 0 is the calling thread).
// Each progress counter sits on a cache line of its own, so the neighbour
// polling it never fights over a line that this thread writes for other reasons.
struct alignas(64) StepWorker {
    FdtdEngine* engine = nullptr;
    std::size_t firstPlane = 0, endPlane = 0;  // the slab
    std::uint32_t steps = 0;                   // steps of this chunk
    std::uint32_t firstStep = 0;               // stepCount at its start
    std::uint32_t window = 1;                  // steps per sweep of the slab
    StepWorker* below = nullptr;               // owner of the slab below, if any
    StepWorker* above = nullptr;               // owner of the slab above, if any
    // Windows shared by several threads over one slab: this thread takes part
    // `stage` of `stages` of each window's steps, after `earlier` (the part
    // before, or for part 0 the last part of the previous window).
    std::uint32_t stage = 0, stages = 1;
    StepWorker* earlier = nullptr;
    // Where the slab is the whole grid: the field energy's lane sums (8 per
    // due step), which the thread taking a due step adds up plane by plane.
    float* energyLanes = nullptr;
    // Steps of the chunk after which the probes and the energy are due: every
    // `sampleEvery` steps (0: only at the end of the chunk); the plane values
    // of the ports go to `ports`, if any.
    std::uint32_t sampleEvery = 0;
    PortCapture* ports = nullptr;
    // Set on the lowest / highest thread where another process steps the
    // planes below / above.
    PlaneExchange* exchangeBelow = nullptr;
    PlaneExchange* exchangeAbove = nullptr;
    // Steps of this chunk whose first E plane of the slab is final.
    alignas(64) std::atomic<std::uint32_t> firstPlaneSteps{0};
    // Steps of this chunk whose last H plane of the slab is done.
    alignas(64) std::atomic<std::uint32_t> lastPlaneSteps{0};
    // Wavefront positions of this chunk that this thread has finished (windows
    // shared by several threads).
    alignas(64) std::atomic<std::uint32_t> positionsDone{0};
    // Chunks handed to this pool thread by the calling thread, and chunks it
    // has finished.
    alignas(64) std::atomic<std::uint32_t> chunksGiven{0};
    alignas(64) std::atomic<std::uint32_t> chunksDone{0};
    SteppingPool* pool = nullptr;
    pthread_t handle{};
};

// The stepping threads of one engine. They are started by the first chunk
// that wants them and live until the engine goes; between chunks they wait
// for the next one (see SteppingPool.cpp for how). Each is bound to one of the
// processors the creating thread could use, in turn: the threads spin while
// they wait for each other, so each needs a processor of its own.
class SteppingPool {
public:
    explicit SteppingPool(void (*work)(StepWorker&));
    ~SteppingPool();  // stops and joins every thread
    SteppingPool(const SteppingPool&) = delete;
    SteppingPool& operator=(const SteppingPool&) = delete;

    // Starts threads until `count` records (the caller's included) can step;
    // returns how many can, fewer where the system refuses a thread.
    int reserve(int count);
    StepWorker& record(int t) { return records[t]; }
    // Runs records 1 .. running - 1 on their threads, record 0 on the calling
    // thread (bound to a processor of its own meanwhile), and returns when all
    // are done.
    void runChunk(int running);

private:
    static void* threadEntry(void* self);
    void serve(StepWorker& worker);

    void (*work)(StepWorker&);
    StepWorker records[kMaxThreads];
    int started = 1;  // records with a thread (record 0: the caller)
    std::atomic<bool> stopping{false};
    cpu_set_t callerSet;
    int processors[CPU_SETSIZE];
    int processorCount = 0;
};

}  // namespace fendrix
