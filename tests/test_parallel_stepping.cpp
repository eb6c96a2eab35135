#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "driver/Simulation.hpp"
#include "engine/Excitation.hpp"
#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"
#include "probes/Probe.hpp"
#include "tests/HandBuiltGrid.hpp"

namespace {

// Counts its samples and remembers the step count it saw last.
class CountingProbe : public Probe {
public:
    explicit CountingProbe(FdtdEngine* engine) : Probe(engine) {}
    void sample() override {
        ++samples;
        lastStep = engine->stepCount;
    }
    int samples = 0;
    std::uint32_t lastStep = 0xFFFFFFFFu;
};

// Lets every one of the engine's threads step, even on fewer processors and
// on a few cells, so that small test grids exercise the pipeline.
void stepOnAllThreads(FdtdEngine& engine) {
    engine.processorCount = engine.threadCount;
    engine.minCellsPerThread = 0;
}

// A grid with random coefficient sets and a hand-made source on a few E
// edges, so the serial work between the phases takes part as well.
void randomGrid(FdtdEngine& engine, std::uint32_t nx, std::uint32_t ny, std::uint32_t nz) {
    std::mt19937 rng(777);
    hand_grid::setMesh(engine, nx, ny, nz);
    hand_grid::allocateFields(engine);
    hand_grid::allocateSets(engine, 3, 2);
    std::uniform_real_distribution<float> self(-1.0f, 1.0f), curl(-0.2f, 0.2f), field(-1.0f, 1.0f);
    for (int f = 0; f < 36; ++f) {
        engine.caTable[f] = self(rng);
        engine.daTable[f] = self(rng);
    }
    for (int f = 0; f < 24; ++f) {
        engine.cbTable[f] = curl(rng);
        engine.dbTable[f] = curl(rng);
    }
    for (std::uint32_t b = 0; b < engine.blockCount(); ++b) {
        engine.keepIndex[b] = 3 * (rng() % 3);
        engine.curlIndex[b] = 3 * (rng() % 2);
    }
    for (std::uint32_t f = 0; f < 24 * engine.blockCount(); ++f) engine.eField[f] = field(rng);

    auto source = std::make_unique<Excitation>(&engine);
    source->excitedAxis = 2;
    source->samples = {0.5f, -1.0f, 2.0f, 0.25f};
    source->excitationLength = 4;
    source->edgeOffsets = {engine.fieldIndex(0, 0, 0, 2), engine.fieldIndex(nx - 1, ny - 1, nz - 1, 2)};
    source->edgeWeights = {1.5f, 0.75f};
    source->edgeCount = 2;
    engine.excitation = std::move(source);
}

std::vector<float> fieldsAfter(int threads, std::uint32_t nx, std::uint32_t ny, std::uint32_t nz,
                               std::uint32_t steps) {
    Geometry geometry;
    FdtdEngine engine(geometry, threads);
    stepOnAllThreads(engine);
    randomGrid(engine, nx, ny, nz);
    engine.runSteps(steps);
    EXPECT_EQ(engine.stepCount, steps);
    return std::vector<float>(engine.eField, engine.eField + 24 * engine.blockCount());
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), 4 * a.size()) == 0;
}

}  // namespace

// Each cell's arithmetic is the same whichever thread does it, so the fields
// must not depend on the thread count, down to the last bit.
TEST(ParallelStepping, FieldsIdenticalOnTwoAndSevenThreads) {
    const auto reference = fieldsAfter(1, 13, 5, 9, 4);
    for (int threads : {2, 7})
        EXPECT_TRUE(sameBits(fieldsAfter(threads, 13, 5, 9, 4), reference)) << threads << " threads";
}

// The full worker table; also more threads than the 9 planes.
TEST(ParallelStepping, FieldsIdenticalOnSixteenThreads) {
    EXPECT_TRUE(sameBits(fieldsAfter(16, 13, 5, 9, 3), fieldsAfter(1, 13, 5, 9, 3)));
}

// Each thread sweeps a slab of at least two planes, no more threads step than
// there are processors to run them (a spinning thread would wait for one the
// system has put aside), and each has enough cells to be worth its meetings.
TEST(ParallelStepping, ThreadsAreLimitedByPlanesAndProcessors) {
    Geometry geometry;
    FdtdEngine engine(geometry, 16);
    hand_grid::setMesh(engine, 5, 4, 9);
    engine.processorCount = 64;
    engine.minCellsPerThread = 0;
    EXPECT_EQ(engine.steppingThreads(), 4);  // 9 planes: slabs of 3, 2, 2, 2
    EXPECT_EQ(engine.threadPlanes(0).end - engine.threadPlanes(0).begin, 3u);
    EXPECT_EQ(engine.threadPlanes(3).begin, 7u);
    EXPECT_EQ(engine.threadPlanes(3).end, 9u);
    EXPECT_EQ(engine.threadPlanes(4).end - engine.threadPlanes(4).begin, 0u);
    engine.processorCount = 3;
    engine.minCellsPerThread = 6000;
    EXPECT_EQ(engine.steppingThreads(), 1);  // 180 cells: not worth a second thread
    engine.minCellsPerThread = 60;
    EXPECT_EQ(engine.steppingThreads(), 3);
    engine.minCellsPerThread = 90;
    EXPECT_EQ(engine.steppingThreads(), 2);
    engine.threadCount = 1;
    EXPECT_EQ(engine.steppingThreads(), 1);
}

// Threads beyond the slabs get no plane and are not started (16 threads on 9
// planes above is such a case as well).
TEST(ParallelStepping, MoreThreadsThanPlanes) {
    const auto reference = fieldsAfter(1, 6, 4, 3, 4);
    for (int threads : {4, 5})
        EXPECT_TRUE(sameBits(fieldsAfter(threads, 6, 4, 3, 4), reference)) << threads << " threads";
}

// The chunks split the same step sequence: two chunks of 3 equal one of 6.
TEST(ParallelStepping, ChunksContinueTheSameRun) {
    Geometry geometry;
    FdtdEngine engine(geometry, 2);
    stepOnAllThreads(engine);
    randomGrid(engine, 8, 3, 4);
    engine.runSteps(3);
    engine.runSteps(3);
    EXPECT_EQ(engine.stepCount, 6u);
    EXPECT_TRUE(sameBits(std::vector<float>(engine.eField, engine.eField + 24 * engine.blockCount()),
                         fieldsAfter(1, 8, 3, 4, 6)));
}

TEST(ParallelStepping, ProbesSampleOncePerCall) {
    Geometry geometry;
    FdtdEngine engine(geometry, 3);
    stepOnAllThreads(engine);
    randomGrid(engine, 5, 3, 4);
    auto* first = new CountingProbe(&engine);
    auto* second = new CountingProbe(&engine);
    engine.probes.emplace_back(first);
    engine.probes.emplace_back(second);

    // No steps: workers still start and stop, every probe samples once.
    engine.runSteps(0);
    EXPECT_EQ(engine.stepCount, 0u);
    EXPECT_EQ(first->samples, 1);
    EXPECT_EQ(second->samples, 1);
    EXPECT_EQ(first->lastStep, 0u);

    // Once per call, after the chunk, never per step.
    engine.runSteps(4);
    engine.runSteps(4);
    EXPECT_EQ(first->samples, 3);
    EXPECT_EQ(second->samples, 3);
    EXPECT_EQ(second->lastStep, 8u);
    engine.runSteps(8);
    EXPECT_EQ(first->samples, 4);
    EXPECT_EQ(first->lastStep, 16u);

    engine.sampleProbes();
    EXPECT_EQ(second->samples, 5);
}

// With fields that never change by themselves (self coefficient 1, no curl)
// the stepping leaves only the source: step m adds sample m, exactly once.
TEST(ParallelStepping, SourceOfStepMUsesSampleM) {
    Geometry geometry;
    FdtdEngine engine(geometry, 2);
    hand_grid::setMesh(engine, 5, 3, 3);
    hand_grid::allocateFields(engine);
    hand_grid::allocateSets(engine, 1, 1);
    for (int f = 0; f < 12; ++f) engine.caTable[f] = engine.daTable[f] = 1.0f;
    auto source = std::make_unique<Excitation>(&engine);
    source->excitedAxis = 0;
    source->samples = {1.0f, 2.0f, 4.0f, 8.0f};
    source->excitationLength = 4;
    const std::uint32_t edge = engine.fieldIndex(3, 1, 1, 0);
    source->edgeOffsets = {edge};
    source->edgeWeights = {0.5f};
    source->edgeCount = 1;
    engine.excitation = std::move(source);

    engine.runSteps(2);
    EXPECT_EQ(engine.eField[edge], 0.5f * 3.0f);
    engine.runSteps(5);  // samples 2 and 3, then the pulse is over
    EXPECT_EQ(engine.eField[edge], 0.5f * 15.0f);
    EXPECT_EQ(engine.stepCount, 7u);
}

namespace {

// A 13 x 10 x 9-line box with absorbing faces on all six sides, a dielectric
// block reaching two of them (so the faces' coefficients differ from point to
// point) and an excited port, built through the description path.
std::unique_ptr<Simulation> absorbingBox(
    int threads, const char* port = "Electric 1 0 50 x 0.006,0.005,0.004 0.008,0.005,0.004\n") {
    std::string text = "Sim 0 1e-3 4 out.dat\nFreq 2 1e9 20e9 5\nBoundary 2 2 2 2 2 2\n";
    const char* axes = "xyz";
    const int lines[3] = {13, 10, 9};
    for (int a = 0; a < 3; ++a) {
        text += axes[a];
        text += "Mesh 0";
        for (int i = 1; i < lines[a]; ++i) text.append(",").append(std::to_string(i)).append("e-3");
        text += "\n";
    }
    text += "Dielectric 4.4 0.02\nCube 0,0,0.004 0.005,0.006,0.008\n/\n";
    text += port;
    auto sim = std::make_unique<Simulation>(threads);
    stepOnAllThreads(*sim->engine);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int parsed = sim->parse(text.data());
    const int built = parsed == 0 ? sim->setup() : parsed;
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(built, 0);
    if (built != 0) return nullptr;
    // Fields of every magnitude everywhere, so each face point carries its own value.
    FdtdEngine& engine = *sim->engine;
    std::mt19937 rng(4242);
    std::uniform_real_distribution<float> field(-1.0f, 1.0f);
    for (std::size_t f = 0; f < 24 * engine.blockCount(); ++f) engine.eField[f] = field(rng);
    return sim;
}

// One time step in the plain order of the stepping: every face saves its
// neighbour line, E over all planes, every face accumulates, every face
// applies, the source, H over all planes.
void serialStep(FdtdEngine& engine) {
    for (auto& face : engine.boundaries)
        if (face) face->saveNeighbour();
    engine.updateEPlanes(0, engine.Nz());
    for (auto& face : engine.boundaries)
        if (face) face->accumulate();
    for (auto& face : engine.boundaries)
        if (face) face->apply();
    engine.excitation->inject();
    engine.updateHPlanes(0, engine.Nz());
    ++engine.stepCount;
}

}  // namespace

// However the threads share the planes and the face points, the steps must
// give the fields of the plain serial order bit for bit.
TEST(ParallelStepping, AbsorbingFacesAndSourceMatchTheSerialOrder) {
    auto reference = absorbingBox(1);
    ASSERT_TRUE(reference);
    ASSERT_NE(reference->engine->excitation->edgeCount, 0u);
    for (int step = 0; step < 12; ++step) serialStep(*reference->engine);
    const FdtdEngine& want = *reference->engine;
    const std::vector<float> expected(want.eField, want.eField + 24 * want.blockCount());

    for (int threads : {1, 2, 3, 7, 16}) {
        auto sim = absorbingBox(threads);
        ASSERT_TRUE(sim);
        sim->engine->runSteps(5);
        sim->engine->runSteps(7);
        const FdtdEngine& got = *sim->engine;
        EXPECT_TRUE(sameBits(std::vector<float>(got.eField, got.eField + 24 * got.blockCount()), expected))
            << threads << " threads";
    }
}

// The source may sit where an absorbing face reads its neighbour line: here
// port 1 drives E_y edges on the line x = 1 of the x-low face, whose saved
// values must then include the source.
TEST(ParallelStepping, SourceOnAFaceNeighbourLineMatchesTheSerialOrder) {
    const char* port = "Electric 1 1 50 x 0.001,0.003,0.004 0.001,0.005,0.004\n";
    auto reference = absorbingBox(1, port);
    ASSERT_TRUE(reference);
    for (int step = 0; step < 8; ++step) serialStep(*reference->engine);
    const FdtdEngine& want = *reference->engine;
    const std::vector<float> expected(want.eField, want.eField + 24 * want.blockCount());
    for (int threads : {1, 3}) {
        auto sim = absorbingBox(threads, port);
        ASSERT_TRUE(sim);
        sim->engine->runSteps(8);
        const FdtdEngine& got = *sim->engine;
        EXPECT_TRUE(sameBits(std::vector<float>(got.eField, got.eField + 24 * got.blockCount()), expected))
            << threads << " threads";
    }
}

// The build shares its per-node loops (dielectric fill, stability bound) among
// the threads as well; the grid must not depend on how many there are.
TEST(ParallelStepping, GridBuildIsTheSameOnAnyThreadCount) {
    auto one = absorbingBox(1);
    auto three = absorbingBox(3);
    ASSERT_TRUE(one && three);
    const FdtdEngine& a = *one->engine;
    const FdtdEngine& b = *three->engine;
    EXPECT_EQ(std::memcmp(&a.timeStep, &b.timeStep, sizeof a.timeStep), 0);
    ASSERT_EQ(a.keepSetCount, b.keepSetCount);
    ASSERT_EQ(a.curlSetCount, b.curlSetCount);
    const std::size_t setFloats = 24 * (std::size_t(a.keepSetCount) + a.curlSetCount);
    EXPECT_EQ(std::memcmp(a.caTable, b.caTable, 4 * setFloats), 0);
    EXPECT_EQ(std::memcmp(a.keepIndex, b.keepIndex, 4 * a.blockCount()), 0);
    EXPECT_EQ(std::memcmp(a.curlIndex, b.curlIndex, 4 * a.blockCount()), 0);
}

// Each chunk binds its threads to processors, the calling thread included;
// afterwards the calling thread may run wherever it could before.
TEST(ParallelStepping, CallingThreadGetsItsProcessorsBack) {
    cpu_set_t before, after;
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof before, &before), 0);
    Geometry geometry;
    FdtdEngine engine(geometry, 2);
    stepOnAllThreads(engine);
    randomGrid(engine, 8, 3, 6);
    engine.runSteps(3);
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof after, &after), 0);
    EXPECT_TRUE(CPU_EQUAL(&before, &after));
}
