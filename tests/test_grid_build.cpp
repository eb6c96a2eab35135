#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "driver/Verbosity.hpp"
#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"
#include "grid/PhysicalConstants.hpp"
#include "tests/HandBuiltGrid.hpp"

namespace {

struct BuildOutput {
    bool ok = false;
    std::string out;
};

std::unique_ptr<FdtdEngine> meshEngine(Geometry& geometry, std::uint32_t n, int threads = 1) {
    auto engine = std::make_unique<FdtdEngine>(geometry, threads);
    hand_grid::setMesh(*engine, n, n, n, 1e-3);
    EXPECT_EQ(engine->allocateCoefficients(), 0);
    return engine;
}

// Builds with the given verbosity, capturing standard output; the missing
// port's warning on standard error is swallowed.
BuildOutput build(FdtdEngine& engine, int level) {
    const int saved = verboseLevel;
    verboseLevel = level;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    BuildOutput result;
    result.ok = engine.buildGrid(std::make_unique<Excitation>(&engine));
    result.out = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    verboseLevel = saved;
    return result;
}

}  // namespace

TEST(GridBuild, HostModeSummaryOnly) {
    Geometry geometry;
    auto engine = meshEngine(geometry, 8, 3);
    const BuildOutput r = build(*engine, -1);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out, "8x8x8, 0 MBytes, 3 threads... ");
}

TEST(GridBuild, ReadableMessages) {
    Geometry geometry;
    auto engine = meshEngine(geometry, 8);
    const BuildOutput r = build(*engine, 0);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.out.rfind("Timestep: 1.92583e-12 sec (Nyquist = ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(" timesteps)\nExcitation signal: "), std::string::npos) << r.out;
    // 8 x 8 x 8 lines: B = 128; 192 * 128 bytes are far below 2^20.
    const std::string tail = "Compressed size: 0 MBytes of 0 MBytes\n";
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

TEST(GridBuild, FieldsAreZeroedAndBehindEachOther) {
    Geometry geometry;
    auto engine = meshEngine(geometry, 7);
    ASSERT_TRUE(build(*engine, -1).ok);
    const std::uint32_t B = engine->blockCount();
    ASSERT_NE(engine->eField, nullptr);
    EXPECT_EQ(engine->hField, engine->eField + 12 * B);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(engine->eField) % 16, 0u);
    for (std::uint32_t i = 0; i < 24 * B; ++i) ASSERT_EQ(engine->eField[i], 0.0f);
    EXPECT_NE(engine->excitation, nullptr);
    EXPECT_NE(engine->keepIndex, nullptr);
}

TEST(GridBuild, AbsorbingFacesInFaceOrder) {
    Geometry geometry;
    auto all = meshEngine(geometry, 6);
    all->boundaryKind = {2, 2, 2, 2, 2, 2};
    ASSERT_TRUE(build(*all, -1).ok);
    for (std::uint32_t face = 0; face < 6; ++face) {
        ASSERT_NE(all->boundaries[face], nullptr);
        EXPECT_EQ(all->boundaries[face]->normalAxis, face / 2);
        EXPECT_EQ(all->boundaries[face]->boundaryIndex, face % 2 ? 5u : 0u);
    }

    auto one = meshEngine(geometry, 6);
    one->boundaryKind = {0, 0, 1, 1, 2, 0};
    ASSERT_TRUE(build(*one, -1).ok);
    for (std::uint32_t face = 0; face < 6; ++face) {
        EXPECT_EQ(one->boundaries[face] != nullptr, face == 4) << face;
    }
    // z low plane: E_x carries CA = -k of the Courant step, read through the compressed sets.
    const double d = 1e-3;
    const double v = one->timeStep * kSpeedOfLight;
    const float k = static_cast<float>((v - d) / (v + d));
    const std::uint32_t f = one->fieldIndex(3, 2, 0, 0);
    const std::uint32_t block = f / 12;
    EXPECT_FLOAT_EQ(one->caTable[4 * one->keepIndex[block] + f % 12], -k);
    EXPECT_EQ(one->cbTable[4 * one->curlIndex[block] + f % 12], 0.0f);
}

TEST(GridBuild, MetalAndResistorLeaveTheTimeStepAlone) {
    Geometry plainGeometry;
    auto plain = meshEngine(plainGeometry, 8);
    ASSERT_TRUE(build(*plain, -1).ok);

    Geometry geometry;
    auto metal = std::make_unique<MatMetal>();
    auto cube = std::make_unique<GeoCube>(metal.get());
    cube->lower[0] = cube->lower[1] = cube->lower[2] = 2e-3;
    cube->upper[0] = cube->upper[1] = cube->upper[2] = 4e-3;
    cube->boundingBox(cube->box);
    metal->shapes.push_back(std::move(cube));
    geometry.materials.push_back(std::move(metal));
    auto resistor = std::make_unique<LumpedElement>();
    resistor->axis = 2;
    resistor->resistance = 50;
    resistor->corner1[0] = resistor->corner2[0] = 5e-3;
    resistor->corner1[1] = resistor->corner2[1] = 5e-3;
    resistor->corner1[2] = 1e-3;
    resistor->corner2[2] = 2e-3;
    geometry.lumpedElements.push_back(std::move(resistor));
    auto loaded = meshEngine(geometry, 8);
    ASSERT_TRUE(build(*loaded, -1).ok);
    EXPECT_EQ(loaded->timeStep, plain->timeStep);
    EXPECT_GT(loaded->keepSetCount, plain->keepSetCount);
}
