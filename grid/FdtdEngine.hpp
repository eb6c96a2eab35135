#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace fendrix {

// Declared only: the engine holds these through pointers, and its
// constructor and destructor (grid/EngineStorage.cpp) see them whole.
class Excitation;
class Geometry;
class GeoObject;
class MatMaterial;
class MurBoundary;
class PerfectlyMatchedLayer;
class PlaneExchange;
class Probe;
class SteppingPool;
struct PortCapture;

// The engine's own state beyond the grid, in groups.

// Steps per sweep and what the sweep takes on the way.
struct SweepPlan {
    // Steps per sweep; 0 lets sweepSteps choose from the grid and cache sizes.
    // Every value gives the same fields.
    std::uint32_t stepsPerSweep = 0;
    // Set before runSteps when the field energy will be wanted after the
    // chunk: where one sweep covers all planes of the grid, the thread taking
    // the last step adds each plane while it is still in cache, instead of a
    // separate pass over the whole grid afterwards.
    bool measureEnergy = false;
    // Sweeps through chunk ends with windows of sweepSteps and with windows no
    // longer than a chunk, timed in turn over the first sweeps (seconds of
    // each), then the faster kept (per step): whether the longer windows still
    // fit in the cache is measured, not taken from the cache size the system
    // reports.
    std::uint32_t windowTrials = 0, trialWindow = 0;  // trials so far, of this sweepSteps
    double trialSeconds[2] = {0.0, 0.0};
};

// The field energy a sweep took as it passed, for fieldEnergy().
struct SweptEnergy {
    bool valid = false;  // value belongs to step
    std::uint32_t step = 0;
    double value = 0.0;
};

// The planes this process steps and those it stores (see FdtdEngine); one
// process steps and stores them all.
struct ProcessSlab {
    std::uint32_t ownedBegin = 0, ownedEnd = 0xFFFFFFFFu;
    std::uint32_t storedBegin = 0, storedEnd = 0xFFFFFFFFu;
    // Trades the border planes with the neighbouring processes while stepping;
    // null in a run of one process.
    PlaneExchange* exchange = nullptr;
};

// Chunk ends that a sweep through several chunks has taken: the ports' values
// (null until advanceChunk first looks at the probes; then portsOnly tells
// whether the ports are all there is), the energies, and how many advanceChunk
// has handed out.
struct ChunkEnds {
    std::unique_ptr<PortCapture> ports;
    bool portsOnly = false;
    std::vector<double> energy;
    std::uint32_t handed = 0;
    std::uint32_t steps = 0, from = 0;  // chunk length, stepCount before the first
};

// Everything the time stepping works on: the non-uniform mesh, the field
// arrays, the update coefficients, probes, boundaries and the source.
//
// Storage layout of every per-component array: Nv = (Nx + 3) / 4 columns per
// row; x splits into four lanes of Nv consecutive indices (lane x / Nv, column
// x % Nv). A block of 12 floats holds components x, y, z (4 floats each, one per
// lane) of four cells Nv apart; block b = (z * Ny + y) * Nv + column. So one
// aligned 4-float vector updates four cells of a row at once.
//
// A run over several processes splits the z-planes: each process steps the
// planes `ownedPlanes()` and stores them plus one plane on each side, the
// neighbour's plane that its border cells read (`storedPlanes()`). Every plane
// and field index below is global; only the storage is the process's own.
class FdtdEngine {
public:
    FdtdEngine(Geometry& geometry, int threadCount);
    ~FdtdEngine();
    FdtdEngine(const FdtdEngine&) = delete;
    FdtdEngine& operator=(const FdtdEngine&) = delete;

    // --- storage and mesh lookups (grid/EngineStorage.cpp) ---
    // Computes Nv, allocates and zeroes the 192*B bytes of coefficients, prints the
    // domain size.
    int allocateCoefficients();  // 0, or the parse error number after its message
    // Primal: length of cell `index` (the last line reuses the last cell).
    // Dual: length of the dual cell around line `index` (half cells at the ends).
    double cellSize(int axis, std::uint32_t index, bool dual) const {
        const double* x = meshLines[axis].data();
        const std::uint32_t last = lineCount[axis] - 1;
        if (!dual) return index < last ? x[index + 1] - x[index] : x[index] - x[index - 1];
        if (index == 0) return x[1] - x[0];
        if (index < last) return (x[index + 1] - x[index - 1]) * 0.5;
        return x[index] - x[index - 1];
    }
    std::uint32_t lineIndex(int axis, double coordinate, bool cellMode) const;
    std::uint64_t cellCount() const { return std::uint64_t{Nx()} * Ny() * Nz(); }
    double fieldTime(bool half) const {
        return (static_cast<double>(stepCount) + (half ? 0.5 : 0.0)) * timeStep;
    }
    std::uint32_t fieldIndex(std::uint32_t x, std::uint32_t y, std::uint32_t z, int c) const {
        return 4 * (3 * (((z - processSlab.storedBegin) * Ny() + y) * Nv + (x % Nv)) + c) + x / Nv;
    }
    // First block of global plane k in this process's storage.
    std::size_t planeBlock(std::size_t k) const {
        return (k - processSlab.storedBegin) * Ny() * std::size_t(Nv);
    }
    std::uint32_t blockCount() const { return Nv * Ny() * (storedPlanes().end - processSlab.storedBegin); }
    std::uint32_t Nx() const { return lineCount[0]; }
    std::uint32_t Ny() const { return lineCount[1]; }
    std::uint32_t Nz() const { return lineCount[2]; }

    // --- rasterizing (grid/Rasterizer.cpp) ---
    void collectShapes(std::vector<GeoObject*>& out, int x, int y, int z, int kindMask) const;
    MatMaterial* findShape(const std::vector<GeoObject*>& shapes, const double point[3]) const;
    struct MaterialSums { double eps, sigma, mu, sigmaM; };
    MaterialSums averageDielectric(int c, const std::uint32_t p[3],
                                   const std::vector<GeoObject*>& shapes) const;
    void fillDielectrics();
    void fillDielectricPlanes(std::uint32_t kBegin, std::uint32_t kEnd);  // one thread's share
    void fillMetals();
    void fillLumpedElements();

    // --- coefficients and build (grid/Coefficients.cpp, grid/GridBuild.cpp, grid/Compression.cpp) ---
    void computeTimeStep();
    void applyElectricWalls();
    void applyMagneticWalls();
    void computeCoefficients();
    bool compressCoefficients();  // false when memory is short
    // Takes ownership of the excitation. False (after "ERROR: Not enough memory
    // available.") when an allocation of the build failed.
    bool buildGrid(std::unique_ptr<Excitation> excitation);

    // --- stepping (engine/) ---
    // The two leapfrog half steps over planes kBegin .. kEnd - 1.
    void updateEPlanes(std::size_t kBegin, std::size_t kEnd);
    void updateHPlanes(std::size_t kBegin, std::size_t kEnd);
    // The z-planes of the stepping threads: contiguous slabs of at least two
    // planes each, so at most Nz / 2 threads get work.
    struct PlaneRange {
        std::size_t begin, end;
    };
    PlaneRange ownedPlanes() const {
        return {processSlab.ownedBegin, std::min<std::size_t>(processSlab.ownedEnd, Nz())};
    }
    PlaneRange storedPlanes() const {
        return {processSlab.storedBegin, std::min<std::size_t>(processSlab.storedEnd, Nz())};
    }
    bool stores(std::uint32_t z) const { return z >= processSlab.storedBegin && z < storedPlanes().end; }
    bool owns(std::uint32_t z) const { return z >= processSlab.ownedBegin && z < ownedPlanes().end; }
    // Splits the planes between the processes of the run; false (after its
    // message) when there are fewer than two planes per process.
    bool splitPlanes(int processes, int process);
    std::size_t slabCount(int threads) const;
    PlaneRange slabPlanes(std::size_t slab, std::size_t slabs) const;
    int steppingThreads() const;  // threads that runSteps uses: slabs, processors, cells
    // Time steps that one sweep advances the planes by (see
    // engine/ParallelStepping.cpp): stepsPerSweep when set, else more than 1
    // only for the planes of one process that do not fit in the processor's
    // caches. More than 1 on several threads of one process: the threads split
    // each window's steps and sweep all planes one after another.
    std::uint32_t sweepSteps() const;
    // E of plane k for time step `step`, with the plane's absorbing-face work
    // and source, so that the plane is final afterwards (plane 0: after plane 1).
    void electricPlane(std::size_t k, std::uint32_t step);
    // H of plane k, with the plane's matched-layer work.
    void magneticPlane(std::size_t k);
    // Performs `steps` time steps, then samples every probe unless `sample` is
    // false (a field view stopping inside a chunk).
    void runSteps(std::uint32_t steps, bool sample = true);
    // One chunk of the run loop: as runSteps(steps). Where a sweep takes
    // several steps and the ports are the only probes, one sweep runs on
    // through several chunks (those that start below `stepLimit`) and takes
    // the ports' values and the energy plane by plane as it passes each chunk
    // end; the calls that follow hand out those chunk ends without stepping.
    // The fields are then ahead of stepCount, and only the probes and
    // fieldEnergy() tell of stepCount (engine/ChunkEnds.cpp).
    void advanceChunk(std::uint32_t steps, std::uint32_t stepLimit);
    // The sweep behind both: `steps` steps in sweeps of `window`; every
    // `sampleEvery` steps the energy goes to `lanes` (8 floats per due step,
    // 16-byte aligned) and the ports' values to `ports`, where given. False
    // where the sweep could not take the energy (several slabs or processes).
    bool sweep(std::uint32_t steps, std::uint32_t window, std::uint32_t sampleEvery, float* lanes,
               PortCapture* ports);
    // Sum of squares of E and H (engine/FieldEnergy.cpp). After a chunk run
    // with measureEnergy set it is the value the sweep took on the way.
    double fieldEnergy() const;
    // Adds plane k's squares to the running lane sums (16-byte aligned), in
    // the fixed order of fieldEnergy.
    void addPlaneEnergy(std::size_t k, float lanes[8]) const;
    // fieldEnergy of lane sums that cover every plane.
    static double energyOfLanes(const float lanes[8]);
    void sampleProbes();
    // sampleProbes over several processes (probes/SharedSampling.cpp): port
    // values are formed on process 0 from the field values every process
    // holds, in the order of one process.
    void sampleSharedProbes();
    void analyzeProbes();

    Geometry& geometry;
    std::vector<std::unique_ptr<Probe>> probes;
    std::unique_ptr<Excitation> excitation;
    std::array<std::unique_ptr<MurBoundary>, 6> boundaries;
    // Cells of the perfectly matched layer that replaces the first-order
    // absorber on every absorbing face (--pml); 0: none, and `pml` stays null.
    std::uint32_t pmlCells = 0;
    std::unique_ptr<PerfectlyMatchedLayer> pml;
    double backgroundEpsR = 1.0;
    double backgroundSigma = 0.0;
    double backgroundMuR = 1.0;
    double backgroundSigmaM = 0.0;
    double sheetResistance = 0.0;
    double timeStep = 0.0;
    std::uint32_t stepCount = 0;
    std::array<std::vector<double>, 3> meshLines;
    std::array<std::uint32_t, 3> lineCount = {0, 0, 0};
    std::array<std::uint32_t, 6> boundaryKind = {0, 0, 0, 0, 0, 0};
    std::uint32_t Nv = 0;
    float* eField = nullptr;   // hField lies behind it in the same allocation
    float* hField = nullptr;
    float* caTable = nullptr;  // start of the coefficient allocation
    float* cbTable = nullptr;
    float* dbTable = nullptr;
    float* daTable = nullptr;
    std::uint32_t* keepIndex = nullptr;
    std::uint32_t* curlIndex = nullptr;
    std::uint32_t keepSetCount = 0;  // sA after compression
    std::uint32_t curlSetCount = 0;  // sB after compression
    int threadCount;
    // Processors this process may run on. The stepping threads spin while they
    // wait for each other, so a thread beyond this count would wait for one that
    // the system has put aside; runSteps starts no more than this many.
    int processorCount;
    // Fewest cells a stepping thread must have to itself. A thread costs a few
    // microseconds per step to meet its neighbours and a few per chunk to
    // hand it out; with less work than this it costs more than it saves (on the
    // development machine a 20^3 grid stepped 20% slower on 2 threads than on
    // 1, a 24^3 grid 8% faster). 0: no limit.
    std::uint32_t minCellsPerThread = 6000;
    // How the chunks are swept (engine/ParallelStepping.cpp, engine/ChunkEnds.cpp).
    SweepPlan sweepPlan;
    // The field energy that the last sweep took on the way.
    SweptEnergy sweptEnergy;
    // The planes of this process and the trade of its border planes.
    ProcessSlab processSlab;
    // The stepping threads beside the calling one, started by the first chunk
    // that wants them and kept until the engine goes (engine/SteppingPool.hpp).
    std::unique_ptr<SteppingPool> pool;
    // What a sweep through several chunk ends took at each of them.
    ChunkEnds chunkEnds;
};

}  // namespace fendrix
