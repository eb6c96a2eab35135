#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "engine/KernelWidth.hpp"
#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"
#include "tests/HandBuiltGrid.hpp"

// The 8- and 16-float kernels against the 4-float ones (which the field
// kernel tests hold to a one-cell-at-a-time Yee update), bit for bit, on every
// width this processor runs.
namespace {

// Puts the width a test found back when it ends.
struct WidthGuard {
    int width = kernelWidth();
    ~WidthGuard() { setKernelWidth(width); }
};

// Random coefficient sets, a random set per block, random E and H.
void randomGrid(FdtdEngine& engine, std::uint32_t nx, std::uint32_t ny, std::uint32_t nz, unsigned seed) {
    std::mt19937 rng(seed);
    hand_grid::setMesh(engine, nx, ny, nz);
    hand_grid::allocateFields(engine);
    hand_grid::allocateSets(engine, 5, 3);
    std::uniform_real_distribution<float> self(-1.0f, 1.0f), curl(-0.2f, 0.2f);
    for (int f = 0; f < 60; ++f) engine.caTable[f] = self(rng), engine.daTable[f] = self(rng);
    for (int f = 0; f < 36; ++f) engine.cbTable[f] = curl(rng), engine.dbTable[f] = curl(rng);
    for (std::uint32_t b = 0; b < engine.blockCount(); ++b) {
        engine.keepIndex[b] = 3 * (rng() % 5);
        engine.curlIndex[b] = 3 * (rng() % 3);
    }
    for (std::uint32_t f = 0; f < 24 * engine.blockCount(); ++f) engine.eField[f] = self(rng);
}

// E and H after `steps` half-step pairs at the given width, plane by plane in
// the order of the pipelined sweep.
std::vector<float> fieldsAfter(int width, std::uint32_t nx, std::uint32_t ny, std::uint32_t nz, int steps) {
    EXPECT_TRUE(setKernelWidth(width));
    Geometry geometry;
    FdtdEngine engine(geometry, 1);
    randomGrid(engine, nx, ny, nz, nx * 1000 + ny * 10 + nz);
    for (int s = 0; s < steps; ++s) {
        for (std::size_t k = 0; k < nz; ++k) {
            engine.updateEPlanes(k, k + 1);
            if (k > 0) engine.updateHPlanes(k - 1, k);
        }
        engine.updateHPlanes(nz - 1, nz);
    }
    return std::vector<float>(engine.eField, engine.eField + 24 * engine.blockCount());
}

}  // namespace

// Rows of 1 to 12 blocks give every mix of 4-block and 2-block groups,
// single blocks and the seam column; single rows and planes make the low-edge
// neighbours the cell itself and leave H with nothing to do.
TEST(KernelWidths, WideKernelsMatchTheFourFloatPathBitForBit) {
    WidthGuard guard;
    if (widestKernelWidth() == 4) GTEST_SKIP() << "no AVX2 on this processor";
    for (std::uint32_t nx : {1u, 5u, 8u, 9u, 13u, 17u, 21u, 26u, 29u, 37u, 45u})
        for (std::uint32_t ny : {1u, 2u, 3u})
            for (std::uint32_t nz : {1u, 2u, 3u}) {
                const std::vector<float> reference = fieldsAfter(4, nx, ny, nz, 12);
                for (int width = 8; width <= widestKernelWidth(); width *= 2) {
                    const std::vector<float> wide = fieldsAfter(width, nx, ny, nz, 12);
                    EXPECT_EQ(std::memcmp(wide.data(), reference.data(), 4 * wide.size()), 0)
                        << width << " floats, Nx " << nx << " Ny " << ny << " Nz " << nz;
                }
            }
}

TEST(KernelWidths, OnlyWidthsTheProcessorRunsCanBeChosen) {
    WidthGuard guard;
    EXPECT_TRUE(setKernelWidth(4));
    EXPECT_EQ(kernelWidth(), 4);
    EXPECT_FALSE(setKernelWidth(12));
    EXPECT_EQ(setKernelWidth(16), widestKernelWidth() == 16);
}
