#include <gtest/gtest.h>

#include <cstdint>

#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"
#include "tests/HandBuiltGrid.hpp"

namespace {

void emptyGrid(FdtdEngine& engine, std::uint32_t nx, std::uint32_t ny, std::uint32_t nz) {
    hand_grid::setMesh(engine, nx, ny, nz);
    hand_grid::allocateFields(engine);
}

}  // namespace

TEST(FieldEnergy, ZeroFieldsGiveZero) {
    Geometry geometry;
    FdtdEngine engine(geometry, 1);
    emptyGrid(engine, 6, 4, 4);
    EXPECT_EQ(engine.fieldEnergy(), 0.0);
}

// One unit value weighs exactly the vacuum constant of its field.
TEST(FieldEnergy, SingleComponentWeighsItsVacuumConstant) {
    Geometry geometry;
    FdtdEngine engine(geometry, 1);
    emptyGrid(engine, 6, 4, 4);
    engine.eField[engine.fieldIndex(5, 2, 1, 1)] = 1.0f;
    EXPECT_EQ(engine.fieldEnergy(), 8.85418781762e-12);
    engine.eField[engine.fieldIndex(5, 2, 1, 1)] = 0.0f;
    engine.hField[engine.fieldIndex(0, 0, 2, 2)] = 1.0f;
    EXPECT_EQ(engine.fieldEnergy(), 1.256637062e-6);
    engine.hField[engine.fieldIndex(0, 0, 2, 2)] = -2.0f;
    EXPECT_EQ(engine.fieldEnergy(), 4.0 * 1.256637062e-6);
}

// The last row of each plane and the last plane do not count; spare x
// positions do.
TEST(FieldEnergy, SummedRangeIsThatOfTheMagneticUpdate) {
    Geometry geometry;
    FdtdEngine engine(geometry, 1);
    emptyGrid(engine, 5, 3, 4);  // Nv = 2: x = 5, 6, 7 are spare positions
    for (std::uint32_t x = 0; x < 8; ++x)
        for (int c = 0; c < 3; ++c) {
            engine.eField[engine.fieldIndex(x, 2, 1, c)] = 3.0f;  // last row
            engine.hField[engine.fieldIndex(x, 0, 3, c)] = 3.0f;  // last plane
        }
    EXPECT_EQ(engine.fieldEnergy(), 0.0);

    // Every component of every counted cell set to 1: 3 planes x 2 rows x 8
    // positions x 3 components = 144 values.
    for (std::uint32_t z = 0; z < 3; ++z)
        for (std::uint32_t y = 0; y < 2; ++y)
            for (std::uint32_t x = 0; x < 8; ++x)
                for (int c = 0; c < 3; ++c) engine.eField[engine.fieldIndex(x, y, z, c)] = 1.0f;
    EXPECT_EQ(engine.fieldEnergy(), 144.0 * 8.85418781762e-12);
}

TEST(FieldEnergy, SinglePlaneOrRowGivesZero) {
    for (std::uint32_t n : {1u, 2u}) {
        Geometry geometry;
        FdtdEngine engine(geometry, 1);
        const bool onePlane = n == 1;
        emptyGrid(engine, 4, onePlane ? 3 : 1, onePlane ? 1 : 3);
        for (std::uint32_t f = 0; f < 24 * engine.blockCount(); ++f) engine.eField[f] = 1.0f;
        EXPECT_EQ(engine.fieldEnergy(), 0.0);
    }
}
