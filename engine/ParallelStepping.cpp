// Time stepping on several threads, as a pipeline along z.
//
// Each thread owns a contiguous slab of z-planes and sweeps it once per time
// step: the E update of plane k (with the absorbing-face work and the source
// of that plane) is followed at once by the H update of plane k - 1, which
// needs E of planes k - 1 and k and nothing else. E and H of a plane are
// therefore streamed from memory once per step instead of twice, and nothing
// has to wait for the whole grid to finish a half step. On grids larger than
// the last-level cache a sweep advances a window of several steps at once
// (see stepSlab), so that memory is read about once per window; there the
// threads share one slab and split each window's steps instead of the planes.
//
// Only the planes at a slab border involve two threads:
//   - the first E plane of a slab reads H of the plane below, which the
//     thread below writes last in its sweep; so a thread starts step n on
//     that plane only once the thread below has finished step n - 1 there
//     ("lastPlaneSteps");
//   - the last H plane of a slab reads E of the first plane of the slab above;
//     so a thread finishes step n only once the thread above has updated that
//     plane for step n ("firstPlaneSteps"). Waiting for that plane also
//     keeps the thread from overwriting H that the thread above still reads.
// The counters are written by one thread each, with release stores, and read
// by its neighbour with acquire loads: busy waiting, no locks. Every cell gets
// the same arithmetic whichever thread does it, so the fields do not depend on
// the number of threads.
//
// Each slab has at least two planes, so that a z face's boundary plane and
// neighbour plane (0 and 1, or the last two) are always swept by one thread.
//
// In a run over several processes the threads share the planes this process
// owns, and the lowest and highest thread trade the border planes with the
// neighbouring processes at the same two points where threads wait for each
// other (engine/PlaneExchange.hpp).

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

#include "common/Limits.hpp"
#include "common/ParallelRanges.hpp"
#include "engine/Excitation.hpp"
#include "engine/MurBoundary.hpp"
#include "engine/PerfectlyMatchedLayer.hpp"
#include "engine/PlaneExchange.hpp"
#include "engine/SteppingPool.hpp"
#include "grid/FdtdEngine.hpp"
#include "probes/PortCapture.hpp"
#include "probes/Probe.hpp"

namespace fendrix {

namespace {

// Spins until `counter` has reached `value`. The spinning uses relaxed loads;
// once the value shows up, one acquire load of the same word (which only ever
// grows) makes the other thread's field writes visible. Spinning on acquire
// loads would be as correct, but under a race detector every acquire load is
// a synchronisation event and starves the thread that has to store.
void waitFor(const std::atomic<std::uint32_t>& counter, std::uint32_t value) {
    while (counter.load(std::memory_order_relaxed) < value) {
    }
    (void)counter.load(std::memory_order_acquire);
}

// The sweep of one slab over all steps of the chunk, `window` steps at a
// time. Within a window the steps follow each other up the slab as a
// wavefront two planes apart: at position p, step s of the window updates E
// of plane b + p - 2s and then H of the plane below it. E of step s + 1 at
// plane k then finds H of step s at planes k and k - 1 done, and overwrites E
// of plane k only after both H planes of step s that read it; H of step s + 1
// at plane k comes right after E of step s + 1 at plane k + 1, as in a single
// step. So each plane sees exactly the updates, face work and source of a
// step-by-step sweep, in the same order, while the 2 * window planes in
// flight stay in cache. window = 1 is the plain one-step sweep. The waits at
// the slab borders are those of single steps: E of the first plane for step
// n waits for H of the plane below, H of the last plane waits for E of the
// first plane above.
//
// Several threads share the windows of one slab by splitting each window's
// steps: thread t takes the t-th of `stages` contiguous ranges, the lowest
// steps first, and where the steps do not divide evenly the later threads
// take one more (the first thread reads the planes from memory, the later
// ones find them in cache; measured on 8 million cells, 2 threads, 7-step
// chunks: 1.31-1.42 times single steps against 1.08-1.18 the other way
// round). At a position, a step touches E of plane k = b + p - 2s and H of
// plane k - 1 only; earlier steps at later positions (a thread ahead) write
// planes k + 2 and up, later steps at earlier positions (a thread behind)
// planes k - 3 and down. So thread t may take position p as soon as thread
// t - 1 has finished it, and every plane sees the one-thread order. The
// first part of a window continues the last part of the previous window: its
// first step at plane k needs H of plane k of that window's last step
// (count - 1), written at position k - b + 2 * count - 1 there. Each thread
// streams the planes a few positions behind the previous one, so they pass
// from core to core in cache rather than through memory.
//
// The energy and the ports are due every `sampleEvery` steps; a plane is
// taken for them right after its H of the due step, before E of the next step
// two positions later, so that a sweep can run on through chunk ends
// (engine/ChunkEnds.cpp).
void stepSlab(StepWorker& self) {
    FdtdEngine& engine = *self.engine;
    const std::size_t b = self.firstPlane, e = self.endPlane;
    const std::uint32_t window = std::max<std::uint32_t>(1, self.window);
    std::uint32_t done = 0;  // positions finished in this chunk
    std::uint32_t previousStart = 0, previousPositions = 0, previousCount = 0;
    // Plane k is final for step n once its H is: E of it was (plane 0's after
    // plane 1's E, just before), and E of step n + 1 comes two positions
    // later. Where the probes or the energy are due after step n, they take
    // the plane now (the energy leaves the last plane out).
    auto planeFinal = [&](std::size_t k, std::uint32_t n) {
        if (self.sampleEvery == 0 || (n + 1) % self.sampleEvery != 0) return;
        const std::uint32_t due = (n + 1) / self.sampleEvery - 1;
        if (self.energyLanes) engine.addPlaneEnergy(k, self.energyLanes + 8 * std::size_t(due));
        if (self.ports) self.ports->takePlane(k, due);
    };
    for (std::uint32_t first = 0; first < self.steps; first += window) {
        const std::uint32_t count = std::min(window, self.steps - first);
        const std::uint32_t positions = static_cast<std::uint32_t>(e - b) + 2 * (count - 1) + 1;
        const ItemRange last = shareOf(count, self.stages, self.stages - 1 - self.stage);
        const ItemRange mine = {count - last.end, count - last.begin};
        const std::uint32_t start = done;
        for (std::uint32_t p = 0; p < positions; ++p) {
            if (self.stage > 0)
                waitFor(self.earlier->positionsDone, start + p + 1);
            else if (self.stages > 1 && first > 0)
                waitFor(self.earlier->positionsDone,
                        previousStart + std::min(p + 2 * previousCount - 1, previousPositions - 1) + 1);
            for (std::uint32_t s = mine.begin; s < mine.end && 2 * s <= p; ++s) {
                const std::size_t k = b + p - 2 * std::size_t(s);  // E plane of this step
                const std::uint32_t n = first + s;
                if (k < e) {
                    // H of the plane below our first plane must be that of step n - 1.
                    if (k == b && self.below) waitFor(self.below->lastPlaneSteps, n);
                    if (k == b && self.exchangeBelow) self.exchangeBelow->receiveBelow(self.firstStep + n);
                    engine.electricPlane(k, self.firstStep + n);
                    if (k == b) self.firstPlaneSteps.store(n + 1, std::memory_order_release);
                    if (k == b && self.exchangeBelow) self.exchangeBelow->sendFirstPlane();
                } else if (k == e) {
                    // The last H plane reads E of the first plane above, of this step.
                    if (self.above) waitFor(self.above->firstPlaneSteps, n + 1);
                    if (self.exchangeAbove) self.exchangeAbove->receiveAbove();
                    engine.magneticPlane(e - 1);
                    planeFinal(e - 1, n);
                    self.lastPlaneSteps.store(n + 1, std::memory_order_release);
                    if (self.exchangeAbove) self.exchangeAbove->sendLastPlane();
                }
                if (k > b && k < e) {
                    engine.magneticPlane(k - 1);
                    planeFinal(k - 1, n);
                }
            }
            ++done;
            if (self.stages > 1) self.positionsDone.store(done, std::memory_order_release);
        }
        previousStart = start;
        previousPositions = positions;
        previousCount = count;
    }
}

// The last-level cache that one core's sweep can count on: as the system
// reports it, at most 32 MiB, and 32 MiB where it reports none. Processors
// built from several chiplets give each group of cores its own slice, yet a
// virtual machine may report the whole package (508 MiB on the development
// machine, whose cores share 32 MiB): taken at its word, no grid would ever
// be large enough for windows, which there step an 8-million-cell grid on
// one thread 1.2 times faster than single steps.
constexpr double kLargestSlice = 32.0 * (1 << 20);

double lastLevelCacheBytes() {
    // Asked once: every chunk chooses its window from it.
    static const double cache = [] {
        long bytes = 0;
#ifdef _SC_LEVEL3_CACHE_SIZE
        bytes = sysconf(_SC_LEVEL3_CACHE_SIZE);
        if (bytes <= 0) bytes = sysconf(_SC_LEVEL2_CACHE_SIZE);
#endif
        return bytes > 0 ? std::min(static_cast<double>(bytes), kLargestSlice) : kLargestSlice;
    }();
    return cache;
}

}  // namespace

std::size_t FdtdEngine::slabCount(int threads) const {
    const PlaneRange owned = ownedPlanes();
    const std::size_t most = std::max<std::size_t>(1, (owned.end - owned.begin) / 2);
    return std::min(static_cast<std::size_t>(std::max(threads, 1)), most);
}

FdtdEngine::PlaneRange FdtdEngine::slabPlanes(std::size_t slab, std::size_t slabs) const {
    if (slab >= slabs) return {0, 0};
    const PlaneRange owned = ownedPlanes();
    const ItemRange share = shareOf(static_cast<std::uint32_t>(owned.end - owned.begin),
                                    static_cast<std::uint32_t>(slabs), static_cast<std::uint32_t>(slab));
    return {owned.begin + share.begin, owned.begin + share.end};
}

int FdtdEngine::steppingThreads() const {
    std::size_t limit = static_cast<std::size_t>(std::min(processorCount, kMaxThreads));
    const PlaneRange owned = ownedPlanes();
    const std::size_t cells = std::size_t(Nx()) * Ny() * (owned.end - owned.begin);
    if (minCellsPerThread > 0) limit = std::min<std::size_t>(limit, cells / minCellsPerThread);
    return static_cast<int>(std::min(slabCount(threadCount), std::max<std::size_t>(1, limit)));
}

// E of plane k for time step `step`, made final: the kernel updates the
// plane, every absorbing face adds k * E(new) of its neighbour line, then the
// faces write their boundary lines, and the source is added last. All faces
// read their neighbour points before any face writes its boundary points,
// because where two faces meet one reads what the other writes; the x faces,
// whose points are one float per grid row, do both in a single pass after the
// others have read theirs. A z face's boundary plane is written when its
// neighbour plane has been accumulated: plane 0 when plane 1 is done (so plane
// 0 becomes final only then), the last plane in its own turn.
//
// The faces need E of their neighbour line from before the update. Nothing
// writes E between the end of one step's E half and the next, so each final
// plane is saved for the next step right away, while it is still in cache
// (runSteps saves every face once at the start of a chunk); a z face saves
// once it has applied this step's values. The x faces keep E(new) in their
// single pass and save again only where the source has changed it since.
void FdtdEngine::electricPlane(std::size_t k, std::uint32_t step) {
    updateEPlanes(k, k + 1);
    // The layer reads the H that the kernel read, before plane k - 1's H moves on.
    if (pml) pml->correctElectric(*this, k);
    for (auto& face : boundaries)
        if (face && face->normalAxis != 0) face->accumulate(k, k + 1);
    for (auto& face : boundaries)
        if (face && face->normalAxis == 0) face->updatePlane(k);
    for (auto& face : boundaries) {
        if (!face) continue;
        if (face->normalAxis == 1)
            face->apply(k, k + 1);
        else if (face->normalAxis == 2 && k == std::max(face->neighbourIndex, face->boundaryIndex))
            face->apply(0, Nz());  // its boundary plane, the only one it writes
    }
    const std::size_t planeZeroFinal = Nz() > 1 ? 1 : 0;
    if (excitation) {
        if (k == planeZeroFinal) excitation->injectPlanes(0, 1, step);
        if (k != 0) excitation->injectPlanes(k, k + 1, step);
    }
    auto sourceIn = [&](std::size_t plane) {
        return excitation && excitation->planeEdgeStart[plane] != excitation->planeEdgeStart[plane + 1];
    };
    for (auto& face : boundaries) {
        if (!face) continue;
        if (face->normalAxis == 2) {
            if (k == std::max(face->neighbourIndex, face->boundaryIndex))
                face->saveNeighbour(0, Nz());  // only now has it used this step's values
            continue;
        }
        // An x face kept E(new) in its pass. Of its neighbour points only those
        // on a y or z face's boundary change later, and their own boundary
        // points are edges the x face leaves to that face; the source is the
        // one writer that matters.
        const bool x = face->normalAxis == 0;
        if (k == planeZeroFinal && (!x || sourceIn(0))) face->saveNeighbour(0, 1);
        if (k != 0 && (!x || sourceIn(k))) face->saveNeighbour(k, k + 1);
    }
}

void FdtdEngine::magneticPlane(std::size_t k) {
    updateHPlanes(k, k + 1);
    if (pml) pml->correctMagnetic(*this, k);
}

void FdtdEngine::runSteps(std::uint32_t steps, bool sample) {
    alignas(16) float energyLanes[8] = {};
    const bool measure = sweepPlan.measureEnergy && sample && steps > 0;
    const bool measured = sweep(steps, sweepSteps(), steps, measure ? energyLanes : nullptr, nullptr);
    stepCount += steps;
    sweptEnergy.valid = measured;
    if (measured) {
        sweptEnergy.value = energyOfLanes(energyLanes);
        sweptEnergy.step = stepCount;
    }
    if (sample) sampleProbes();
}

bool FdtdEngine::sweep(std::uint32_t steps, std::uint32_t window, std::uint32_t sampleEvery, float* lanes,
                       PortCapture* ports) {
    // Slabs of at least two planes, one per thread that could be started, no
    // more threads than processors, and enough cells for each; a thread the
    // system refuses leaves its share to the others, which changes nothing in
    // the fields.
    const int wanted = steppingThreads();
    if (!pool && wanted > 1) pool = std::make_unique<SteppingPool>(stepSlab);
    StepWorker single;
    const int running = pool ? pool->reserve(wanted) : 1;
    auto record = [&](int t) -> StepWorker& { return pool ? pool->record(t) : single; };
    if (excitation) excitation->indexByPlane(12 * std::size_t(Nv) * Ny(), Nz());
    const PlaneRange owned = ownedPlanes();
    for (auto& face : boundaries)
        if (face) face->saveNeighbour(owned.begin, owned.end);
    // Windows on several threads of one process split the steps, single
    // steps (or windows between processes) split the planes. The energy is
    // taken on the way only where one sweep covers every plane.
    const bool splitSteps = window > 1 && running > 1 && !processSlab.exchange;
    const std::size_t slabs = splitSteps ? 1 : slabCount(running);
    if (slabs > 1 || processSlab.exchange) lanes = nullptr;
    for (int t = 0; t < running; ++t) {
        const PlaneRange planes = splitSteps ? owned : slabPlanes(static_cast<std::size_t>(t), slabs);
        StepWorker& worker = record(t);
        worker.stage = splitSteps ? static_cast<std::uint32_t>(t) : 0;
        worker.stages = splitSteps ? static_cast<std::uint32_t>(running) : 1;
        worker.earlier = &record((t + running - 1) % running);
        worker.engine = this;
        worker.firstPlane = planes.begin;
        worker.endPlane = planes.end;
        worker.steps = planes.begin < planes.end ? steps : 0;
        worker.firstStep = stepCount;
        worker.window = window;
        worker.below = t > 0 && !splitSteps ? &record(t - 1) : nullptr;
        worker.above = t + 1 < running && !splitSteps ? &record(t + 1) : nullptr;
        const bool lowest = t == 0, highest = t + 1 == static_cast<int>(slabs);
        worker.exchangeBelow = lowest && processSlab.exchange && processSlab.exchange->hasBelow()
                                   ? processSlab.exchange
                                   : nullptr;
        worker.exchangeAbove = highest && processSlab.exchange && processSlab.exchange->hasAbove()
                                   ? processSlab.exchange
                                   : nullptr;
        worker.energyLanes = lanes;
        worker.ports = slabs == 1 && !processSlab.exchange ? ports : nullptr;
        worker.sampleEvery = sampleEvery;
    }
    if (pool)
        pool->runChunk(running);
    else
        stepSlab(single);
    return lanes != nullptr;
}

void FdtdEngine::sampleProbes() {
    if (processSlab.exchange) return sampleSharedProbes();
    for (auto& probe : probes) probe->sample();
}

void FdtdEngine::analyzeProbes() {
    for (auto& probe : probes) probe->analyze();
}

// Several steps per sweep pay only where the one-step sweep streams the grid
// from main memory: there a window of planes that stays in the last-level
// cache saves a read and a write of every field per step. A grid the cache
// holds gains nothing (measured: 2 to 4 million cells in a 260 MB cache ran
// up to a third slower with windows, a grid of 8 million cells 1.7 times
// faster), so windows start at half the cache. A window gets a share of the
// cache (below), about 2 * steps + 2 planes of E, H and the set indices (104
// bytes per block); at most 16 steps, as longer windows gained little more.
//
// Several threads share a window by splitting its steps (see stepSlab); they
// could also each sweep a slab of their own with windows, but a slab's first
// plane can take step s + 1 only once the slab below has taken step s at its
// last plane, at the end of its first wavefront pass, so each further slab
// would start a chunk about one slab pass late (measured on 8 million cells,
// 2 threads: 0.85 times the rate of single steps). Processes keep single
// steps for the same reason: over two processes of 5.6 million cells each,
// windows were 1.15 times slower.
std::uint32_t FdtdEngine::sweepSteps() const {
    if (sweepPlan.stepsPerSweep > 0) return sweepPlan.stepsPerSweep;
    if (processSlab.exchange != nullptr) return 1;
    const double cache = lastLevelCacheBytes();
    const double planeBytes = 104.0 * Nv * Ny();
    const PlaneRange owned = ownedPlanes();
    // Several threads that split a window's steps pass its planes between
    // them at every position; on a grid the cache holds that costs more than
    // the memory traffic it saves (96^3 cells, 23 MB, 2 threads: windows of
    // 16 ran at 0.85 times single steps), so there they start at the whole
    // cache.
    const double threads = steppingThreads();
    const double smallest = threads > 1 ? cache : cache / 2;
    if (planeBytes * static_cast<double>(owned.end - owned.begin) <= smallest) return 1;
    // One thread's window gets a third of the cache (on 200^3 cells, windows
    // of 4 ran the run loop 1.28 times faster than single steps, windows of
    // 2 from a quarter 1.12 times); each of several threads a quarter.
    const double planes = cache / (threads > 1 ? 4 : 3) / planeBytes;
    const double steps = std::floor((planes - 2) / 2);
    // Threads split a window's steps: each gets as many as one thread alone
    // would take (the window then holds up to half the cache), and each but
    // the first, which reads the planes from memory, one more. With fewer
    // the planes pass from core to core for little work. Measured on 2
    // threads against single steps (bench_stepping_rate): 200^3 cells,
    // windows of 2-4 0.92-1.18 times, 5 1.25-1.28, 6 1.08-1.21, 7 1.23-1.28;
    // 224^3, 3 1.09-1.14, 4 1.09-1.18, 5 1.25-1.32; 160^3, 5 0.97, 10-11
    // 1.16-1.21.
    return static_cast<std::uint32_t>(std::clamp(steps * threads + (threads - 1), 1.0, 16.0));
}

}  // namespace fendrix
