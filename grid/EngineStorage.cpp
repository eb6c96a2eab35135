#include <sched.h>

#include <algorithm>
#include <thread>

#include "common/AlignedMemory.hpp"
#include "engine/Excitation.hpp"
#include "engine/MurBoundary.hpp"
#include "engine/PerfectlyMatchedLayer.hpp"
#include "engine/SteppingPool.hpp"
#include "grid/FdtdEngine.hpp"
#include "probes/PortCapture.hpp"
#include "probes/Probe.hpp"

namespace fendrix {

namespace {

int availableProcessors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

FdtdEngine::FdtdEngine(Geometry& geometry, int threadCount)
    : geometry(geometry), threadCount(threadCount), processorCount(availableProcessors()) {}

// Probes go first (they refer to the grid), then boundaries and the source;
// the members release themselves in that order after the arrays below.
FdtdEngine::~FdtdEngine() {
    pool.reset();  // the stepping threads first: they are idle, but refer to the engine
    probes.clear();
    for (auto& boundary : boundaries) boundary.reset();
    excitation.reset();
    alignedRelease(eField);
    alignedRelease(caTable);
    alignedRelease(keepIndex);
    alignedRelease(curlIndex);
}

}  // namespace fendrix
