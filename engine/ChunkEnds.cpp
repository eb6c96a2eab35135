// Sweeps that run on through chunk ends.
//
// The run loop looks at the fields after every chunk of a Nyquist interval
// over the samples per interval (7 steps on an 8 million cell box): the ports
// sample them, and the energy decides when the run ends. A sweep of several
// steps that closes at every chunk end (see engine/ParallelStepping.cpp) then
// advances at most a chunk per pass over memory and, on several threads,
// splits few steps between them. Where the ports are the only probes, a sweep
// instead runs through about four windows' worth of chunks and takes the
// ports' field values and the energy of each plane as the wavefront passes the
// chunk ends; the run loop is then handed the chunk ends one by one, and
// everything it does with them is as before. Only the run's last sweep may
// step beyond where the loop stops, at most those few windows; nothing reads
// the fields after the loop, and stepCount stays at the loop's last chunk end.
// The far-field faces and field views read whole surfaces and planes: with
// those, every chunk is a sweep of its own as before.

#include <algorithm>
#include <vector>

#include "grid/FdtdEngine.hpp"
#include "probes/PortCapture.hpp"

namespace fendrix {

namespace {

// Chunk ends one sweep may run through: enough for about this many windows.
constexpr std::uint32_t kWindowsPerSweep = 4;

struct alignas(16) EnergyLanes {
    float lanes[8] = {};
};

}  // namespace

void FdtdEngine::advanceChunk(std::uint32_t steps, std::uint32_t stepLimit) {
    if (chunkEndsHanded < chunkEndEnergy.size()) {
        const std::uint32_t end = chunkEndsHanded++;
        stepCount = chunkEndsFrom + (end + 1) * chunkEndSteps;
        sweptEnergy = chunkEndEnergy[end];
        sweptEnergyStep = stepCount;
        sweptEnergyValid = true;
        portCapture->accumulate(end);
        return;
    }
    const std::uint32_t window = sweepSteps();
    std::uint32_t chunks = 1;
    if (window > 1 && steps > 0 && !exchange && stepLimit > stepCount) {
        chunks = (kWindowsPerSweep * window + steps - 1) / steps;
        chunks = std::min(chunks, (stepLimit - stepCount + steps - 1) / steps);
    }
    if (chunks > 1 && !portCapture) {
        portCapture = std::make_unique<PortCapture>();
        portsOnly = portCapture->prepare(*this);
    }
    if (chunks <= 1 || !portsOnly) return runSteps(steps);

    // Windows of nearly equal length, none longer than sweepSteps chose.
    const std::uint32_t total = chunks * steps;
    const std::uint32_t sweeps = (total + window - 1) / window;
    std::vector<EnergyLanes> lanes(chunks);
    portCapture->reserve(chunks);
    sweep(total, (total + sweeps - 1) / sweeps, steps, lanes[0].lanes, portCapture.get());
    chunkEndEnergy.resize(chunks);
    for (std::uint32_t c = 0; c < chunks; ++c) chunkEndEnergy[c] = energyOfLanes(lanes[c].lanes);
    chunkEndsFrom = stepCount;
    chunkEndSteps = steps;
    chunkEndsHanded = 0;
    advanceChunk(steps, stepLimit);
}

}  // namespace fendrix
