#include "grid/AlignedMemory.hpp"
#include "grid/FdtdEngine.hpp"

FdtdEngine::FdtdEngine(Geometry& geometry, int threadCount)
    : geometry(geometry), threadCount(threadCount) {}

// Probes go first (they refer to the grid), then boundaries and the source;
// the members release themselves in that order after the arrays below.
FdtdEngine::~FdtdEngine() {
    probes.clear();
    for (auto& boundary : boundaries) boundary.reset();
    excitation.reset();
    alignedRelease(eField);
    alignedRelease(caTable);
    alignedRelease(keepIndex);
    alignedRelease(curlIndex);
}
