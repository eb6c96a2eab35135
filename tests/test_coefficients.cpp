#include <gtest/gtest.h>

#include "tests/HandBuiltGrid.hpp"

#include <memory>

#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"
#include "grid/PhysicalConstants.hpp"

namespace {

// A vacuum grid of n lines per axis (1 mm) after the dielectric fill.
std::unique_ptr<FdtdEngine> vacuumEngine(Geometry& geometry, std::uint32_t n = 5) {
    auto engine = std::make_unique<FdtdEngine>(geometry, 1);
    hand_grid::setMesh(*engine, n, n, n);
    EXPECT_EQ(engine->allocateCoefficients(), 0);
    engine->fillDielectrics();
    return engine;
}

}  // namespace

TEST(Coefficients, ElectricWallsZeroTangentialEOnEveryFace) {
    Geometry geometry;
    auto engine = vacuumEngine(geometry);
    engine->applyElectricWalls();
    auto ca = [&](std::uint32_t x, std::uint32_t y, std::uint32_t z, int c) {
        return engine->caTable[engine->fieldIndex(x, y, z, c)];
    };
    // x low plane: E_y, E_z zero; E_x (normal) stays.
    EXPECT_EQ(ca(0, 2, 2, 1), 0.0f);
    EXPECT_EQ(ca(0, 2, 2, 2), 0.0f);
    EXPECT_NE(ca(0, 2, 2, 0), 0.0f);
    // x last plane: all three (E_x would point out of the mesh).
    for (int c = 0; c < 3; ++c) EXPECT_EQ(ca(4, 2, 2, c), 0.0f);
    // Interior and the plane before the last keep their sums.
    for (int c = 0; c < 3; ++c) {
        EXPECT_NE(ca(2, 2, 2, c), 0.0f);
        EXPECT_NE(ca(3, 3, 3, c), 0.0f);
    }
    // Inductances are not touched.
    EXPECT_NE(engine->daTable[engine->fieldIndex(0, 2, 2, 1)], 0.0f);
}

TEST(Coefficients, MagneticWallsAndTheLastLine) {
    Geometry geometry;
    auto plain = vacuumEngine(geometry);
    plain->applyMagneticWalls();
    auto da = [](FdtdEngine& e, std::uint32_t x, std::uint32_t y, std::uint32_t z, int c) {
        return e.daTable[e.fieldIndex(x, y, z, c)];
    };
    // Kind 0 everywhere: H on plane N - 2 keeps its coefficients, the last line loses them.
    for (int c = 0; c < 3; ++c) {
        EXPECT_NE(da(*plain, 3, 2, 2, c), 0.0f);
        EXPECT_NE(da(*plain, 0, 2, 2, c), 0.0f);
        EXPECT_EQ(da(*plain, 4, 2, 2, c), 0.0f);
        EXPECT_EQ(da(*plain, 2, 4, 2, c), 0.0f);
        EXPECT_EQ(da(*plain, 2, 2, 4, c), 0.0f);
    }

    auto walled = vacuumEngine(geometry);
    walled->boundaryKind = {1, 1, 0, 0, 0, 0};  // magnetic walls on both x faces
    walled->applyMagneticWalls();
    // x high: tangential H_y, H_z of the last cell (plane Nx - 2) zero, H_x not.
    EXPECT_EQ(da(*walled, 3, 2, 2, 1), 0.0f);
    EXPECT_EQ(da(*walled, 3, 2, 2, 2), 0.0f);
    EXPECT_NE(da(*walled, 3, 2, 2, 0), 0.0f);
    // x low: all three on plane 0.
    for (int c = 0; c < 3; ++c) EXPECT_EQ(da(*walled, 0, 2, 2, c), 0.0f);
    // The y faces are untouched.
    EXPECT_NE(da(*walled, 2, 0, 2, 0), 0.0f);
    EXPECT_NE(da(*walled, 2, 3, 2, 0), 0.0f);
}

TEST(Coefficients, ConversionToLeapfrogCoefficients) {
    Geometry geometry;
    auto engine = vacuumEngine(geometry);
    engine->timeStep = 1e-12;
    const float dt = 1e-12f;
    const std::uint32_t lossless = engine->fieldIndex(1, 1, 1, 0);
    const std::uint32_t lossy = engine->fieldIndex(2, 1, 1, 1);
    const std::uint32_t conductor = engine->fieldIndex(3, 1, 1, 2);
    const float C = engine->caTable[lossless];
    const float L = engine->daTable[lossless];
    // sigma dt / 2 = eps, i.e. G * dt / 2 = C.
    engine->cbTable[lossy] = 2 * engine->caTable[lossy] / dt;
    engine->dbTable[lossy] = 2 * engine->daTable[lossy] / dt;
    engine->caTable[conductor] = 0;
    engine->cbTable[conductor] = 5;
    engine->computeCoefficients();

    EXPECT_EQ(engine->caTable[lossless], 1.0f);
    EXPECT_FLOAT_EQ(engine->cbTable[lossless], dt / C);
    EXPECT_EQ(engine->daTable[lossless], 1.0f);
    EXPECT_FLOAT_EQ(engine->dbTable[lossless], dt / L);
    EXPECT_NEAR(engine->caTable[lossy], 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(engine->cbTable[lossy], dt / (2 * C));
    EXPECT_NEAR(engine->daTable[lossy], 0.0f, 1e-6f);
    EXPECT_EQ(engine->caTable[conductor], 0.0f);
    EXPECT_EQ(engine->cbTable[conductor], 0.0f);
    // Spare x positions (Nx = 5: x = 5, 6, 7) are never visited and stay zero.
    const std::uint32_t spare = 4 * (3 * (1 * 5 * 2 + 1) + 0) + 3;  // x = 7 (lane 3, column 1)
    EXPECT_EQ(engine->caTable[spare], 0.0f);
    EXPECT_EQ(engine->daTable[spare], 0.0f);
}
