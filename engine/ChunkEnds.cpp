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
//
// Windows longer than a chunk pay only while their planes stay in the cache
// (on a 2-core virtual machine that reports the whole chip's 508 MB, windows
// of 14 steps on 8 million cells, 30 planes of 1 MB, ran 0.78 times as fast
// as windows of 7). So the first sweeps take the longer and the chunk-long
// windows in turn, and the faster stays for the rest of the run.

#include <algorithm>
#include <chrono>
#include <vector>

#include "grid/FdtdEngine.hpp"
#include "probes/PortCapture.hpp"

namespace fendrix {

namespace {

using Clock = std::chrono::steady_clock;

// Chunk ends one sweep may run through: enough for about this many windows.
constexpr std::uint32_t kWindowsPerSweep = 4;
// Sweeps timed with each window length before one is kept.
constexpr std::uint32_t kTrialsEach = 2;

struct alignas(16) EnergyLanes {
    float lanes[8] = {};
};

}  // namespace

void FdtdEngine::advanceChunk(std::uint32_t steps, std::uint32_t stepLimit) {
    if (chunkEnds.handed < chunkEnds.energy.size()) {
        const std::uint32_t end = chunkEnds.handed++;
        stepCount = chunkEnds.from + (end + 1) * chunkEnds.steps;
        sweptEnergy.value = chunkEnds.energy[end];
        sweptEnergy.step = stepCount;
        sweptEnergy.valid = true;
        chunkEnds.ports->accumulate(end);
        return;
    }
    const std::uint32_t window = sweepSteps();
    std::uint32_t chunks = 1;
    if (window > 1 && steps > 0 && !processSlab.exchange && stepLimit > stepCount) {
        chunks = (kWindowsPerSweep * window + steps - 1) / steps;
        chunks = std::min(chunks, (stepLimit - stepCount + steps - 1) / steps);
    }
    if (chunks > 1 && !chunkEnds.ports) {
        chunkEnds.ports = std::make_unique<PortCapture>();
        chunkEnds.portsOnly = chunkEnds.ports->prepare(*this);
    }
    if (chunks <= 1 || !chunkEnds.portsOnly) return runSteps(steps);

    // Where windows may be longer than a chunk, the first sweeps try both
    // lengths in turn (0: sweepSteps' windows, 1: chunk-long ones), seconds
    // per step summed for each.
    if (window != sweepPlan.trialWindow) {
        sweepPlan.windowTrials = 0;
        sweepPlan.trialSeconds[0] = sweepPlan.trialSeconds[1] = 0.0;
        sweepPlan.trialWindow = window;
    }
    int choice = 0;
    const bool trial = window > steps && sweepPlan.windowTrials < 2 * kTrialsEach;
    if (window > steps)
        choice = trial ? static_cast<int>(sweepPlan.windowTrials % 2)
                       : sweepPlan.trialSeconds[1] < sweepPlan.trialSeconds[0];
    const std::uint32_t longest = choice == 0 ? window : steps;
    // Windows of nearly equal length, none longer than the one chosen.
    const std::uint32_t total = chunks * steps;
    const std::uint32_t sweeps = (total + longest - 1) / longest;
    std::vector<EnergyLanes> lanes(chunks);
    chunkEnds.ports->reserve(chunks);
    const Clock::time_point start = Clock::now();
    sweep(total, (total + sweeps - 1) / sweeps, steps, lanes[0].lanes, chunkEnds.ports.get());
    if (trial) {
        sweepPlan.trialSeconds[choice] += std::chrono::duration<double>(Clock::now() - start).count() / total;
        ++sweepPlan.windowTrials;
    }
    chunkEnds.energy.resize(chunks);
    for (std::uint32_t c = 0; c < chunks; ++c) chunkEnds.energy[c] = energyOfLanes(lanes[c].lanes);
    chunkEnds.from = stepCount;
    chunkEnds.steps = steps;
    chunkEnds.handed = 0;
    advanceChunk(steps, stepLimit);
}

}  // namespace fendrix
