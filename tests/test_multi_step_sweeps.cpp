#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "driver/Simulation.hpp"
#include "engine/KernelWidth.hpp"
#include "grid/FdtdEngine.hpp"

// Several time steps per sweep reorder the plane updates only: every plane
// must see the updates, absorbing-face work and source of each step exactly
// as in one-step sweeps, on any number of threads.
namespace {

// A 13 x 11 x 14-line box with absorbing faces on all sides, a dielectric
// block touching two of them and an excited port, with random E everywhere.
std::unique_ptr<Simulation> absorbingBox(int threads, std::uint32_t stepsPerSweep) {
    std::string text = "Sim 0 1e-3 4 out.dat\nFreq 2 1e9 20e9 5\nBoundary 2 2 2 2 2 2\n";
    const int lines[3] = {13, 11, 14};
    for (int a = 0; a < 3; ++a) {
        text += "xyz"[a];
        text += "Mesh 0";
        for (int i = 1; i < lines[a]; ++i) text.append(",").append(std::to_string(i)).append("e-3");
        text += "\n";
    }
    text += "Dielectric 4.4 0.02\nCube 0,0,0.004 0.005,0.006,0.013\n/\n";
    text += "Electric 1 0 50 x 0.006,0.005,0.004 0.008,0.005,0.004\n";
    auto sim = std::make_unique<Simulation>(threads);
    FdtdEngine& engine = *sim->engine;
    engine.processorCount = threads;  // every thread steps, even on small grids
    engine.minCellsPerThread = 0;
    engine.stepsPerSweep = stepsPerSweep;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int built = sim->parse(text.data()) == 0 ? sim->setup() : -1;
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(built, 0);
    if (built != 0) return nullptr;
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> field(-1.0f, 1.0f);
    for (std::size_t f = 0; f < 24 * engine.blockCount(); ++f) engine.eField[f] = field(rng);
    return sim;
}

// E and H after chunks of the given lengths.
std::vector<float> fieldsAfter(int threads, std::uint32_t stepsPerSweep, std::vector<std::uint32_t> chunks) {
    auto sim = absorbingBox(threads, stepsPerSweep);
    if (!sim) return {};
    FdtdEngine& engine = *sim->engine;
    for (std::uint32_t steps : chunks) engine.runSteps(steps);
    return std::vector<float>(engine.eField, engine.eField + 24 * engine.blockCount());
}

}  // namespace

// Windows longer and shorter than the chunks, than the slabs (14 planes on
// up to 3 threads) and than the grid; chunks that end a window early.
TEST(MultiStepSweeps, FieldsMatchOneStepSweepsOnAnyThreadCount) {
    const std::vector<std::uint32_t> chunks = {5, 2, 9};
    const std::vector<float> reference = fieldsAfter(1, 1, chunks);
    ASSERT_FALSE(reference.empty());
    for (std::uint32_t window : {2u, 3u, 5u, 16u})
        for (int threads : {1, 2, 3}) {
            const std::vector<float> got = fieldsAfter(threads, window, chunks);
            ASSERT_EQ(got.size(), reference.size());
            EXPECT_EQ(std::memcmp(got.data(), reference.data(), 4 * got.size()), 0)
                << window << " steps per sweep, " << threads << " threads";
        }
    // The widest kernels, with the faces and the source, in windows.
    const int width = kernelWidth();
    ASSERT_TRUE(setKernelWidth(widestKernelWidth()));
    const std::vector<float> wide = fieldsAfter(2, 3, chunks);
    setKernelWidth(width);
    EXPECT_EQ(std::memcmp(wide.data(), reference.data(), 4 * wide.size()), 0);
}
