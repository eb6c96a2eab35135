#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "engine/MurBoundary.hpp"
#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"
#include "grid/PhysicalConstants.hpp"
#include "tests/HandBuiltGrid.hpp"

namespace {

constexpr double kMm = 1e-3;

// Vacuum grid of 1 mm cells, coefficients converted, with c * dt = d / 2 so
// that k = (d/2 - d) / (d/2 + d) = -1/3.
std::unique_ptr<FdtdEngine> halfCourantEngine(Geometry& geometry, std::uint32_t nx, std::uint32_t ny,
                                              std::uint32_t nz) {
    auto engine = std::make_unique<FdtdEngine>(geometry, 1);
    hand_grid::setMesh(*engine, nx, ny, nz, kMm);
    EXPECT_EQ(engine->allocateCoefficients(), 0);
    engine->fillDielectrics();
    engine->timeStep = kMm / 2 / kSpeedOfLight;
    engine->computeCoefficients();
    return engine;
}

// Node with `along` on the normal axis, (outer, inner) on the face.
std::uint32_t faceIndex(const FdtdEngine& e, const MurBoundary& m, std::uint32_t along, std::uint32_t io,
                        std::uint32_t iq, std::uint32_t component) {
    std::uint32_t node[3];
    node[m.normalAxis] = along;
    node[m.outerAxis] = io;
    node[m.innerAxis] = iq;
    return e.fieldIndex(node[0], node[1], node[2], static_cast<int>(component));
}

}  // namespace

TEST(MurBoundary, AxesAndLinesPerFace) {
    Geometry geometry;
    auto engine = halfCourantEngine(geometry, 6, 5, 4);
    const std::uint32_t outer[3] = {2, 2, 1};
    const std::uint32_t inner[3] = {1, 0, 0};
    for (std::uint32_t face = 0; face < 6; ++face) {
        MurBoundary m(engine.get(), face / 2, face % 2 == 1);
        const std::uint32_t n = engine->lineCount[face / 2];
        EXPECT_EQ(m.outerAxis, outer[face / 2]);
        EXPECT_EQ(m.innerAxis, inner[face / 2]);
        EXPECT_EQ(m.boundaryIndex, face % 2 ? n - 1 : 0u);
        EXPECT_EQ(m.neighbourIndex, face % 2 ? n - 2 : 1u);
        EXPECT_EQ(m.normalCount, n);
        EXPECT_EQ(m.outerCount, engine->lineCount[m.outerAxis]);
        EXPECT_EQ(m.innerCount, engine->lineCount[m.innerAxis]);
    }
}

TEST(MurBoundary, VacuumCoefficientAndBoundaryPlane) {
    Geometry geometry;
    auto engine = halfCourantEngine(geometry, 6, 5, 7);
    MurBoundary m(engine.get(), 2, true);  // z high
    ASSERT_TRUE(m.initialise());
    const float k = -1.0f / 3.0f;
    for (std::uint32_t y = 0; y < 5; ++y) {
        for (std::uint32_t x = 0; x < 6; ++x) {
            EXPECT_FLOAT_EQ(m.coefficients[y * 8 + (x % 2) * 4 + x / 2], k);
            // The E update then gives -k E_b: CA = -k, CB = 0 for E_x and E_y.
            for (int c : {0, 1}) {
                const std::uint32_t f = engine->fieldIndex(x, y, 6, c);
                EXPECT_FLOAT_EQ(engine->caTable[f], -k);
                EXPECT_EQ(engine->cbTable[f], 0.0f);
            }
            EXPECT_EQ(engine->caTable[engine->fieldIndex(x, y, 6, 2)], 1.0f);  // normal E untouched
        }
    }
}

TEST(MurBoundary, DielectricAtTheFaceAndSparePositions) {
    Geometry geometry;
    auto material = std::make_unique<MatDielectric>();
    material->epsR = 4;
    auto cube = std::make_unique<GeoCube>(material.get());
    cube->lower[0] = 8 * kMm, cube->lower[1] = -1, cube->lower[2] = -1;
    cube->upper[0] = 20 * kMm, cube->upper[1] = 1, cube->upper[2] = 1;
    cube->boundingBox(cube->box);
    GeoCube* box = cube.get();
    material->shapes.push_back(std::move(cube));
    geometry.materials.push_back(std::move(material));

    auto engine = halfCourantEngine(geometry, 10, 4, 3);  // Nv = 3: blocks of 12 floats
    box->used = 0;
    MurBoundary m(engine.get(), 1, false);  // y low: outer z, inner x
    ASSERT_TRUE(m.initialise());
    EXPECT_EQ(box->used, 1);
    // eps_r 4: v = c dt / 2 = d / 4, k = (d/4 - d) / (d/4 + d) = -0.6.
    auto at = [&](std::uint32_t z, std::uint32_t x) { return m.coefficients[z * 12 + (x % 3) * 4 + x / 3]; };
    for (std::uint32_t z = 0; z < 3; ++z) {
        EXPECT_FLOAT_EQ(at(z, 7), -1.0f / 3.0f);
        EXPECT_FLOAT_EQ(at(z, 8), -0.6f);
        EXPECT_FLOAT_EQ(at(z, 9), -0.6f);
        // Spare x = 10 and 11 copy x = 7 and 8.
        EXPECT_EQ(at(z, 10), at(z, 7));
        EXPECT_EQ(at(z, 11), at(z, 8));
    }
}

TEST(MurBoundary, StepRealisesFirstOrderMurOnEveryFace) {
    for (std::uint32_t face = 0; face < 6; ++face) {
        Geometry geometry;
        auto engine = halfCourantEngine(geometry, 10, 7, 6);
        hand_grid::allocateFields(*engine);
        MurBoundary m(engine.get(), face / 2, face % 2 == 1);
        ASSERT_TRUE(m.initialise());

        std::mt19937 random(face + 1);
        std::uniform_real_distribution<float> value(-1, 1);
        const std::uint32_t B = engine->blockCount();
        float* e = engine->eField;
        // Real nodes only: spare x positions hold zero fields throughout a run.
        for (std::uint32_t z = 0; z < engine->Nz(); ++z) {
            for (std::uint32_t y = 0; y < engine->Ny(); ++y) {
                for (std::uint32_t x = 0; x < engine->Nx(); ++x) {
                    for (int c = 0; c < 3; ++c) e[engine->fieldIndex(x, y, z, c)] = value(random);
                }
            }
        }
        const std::vector<float> old(e, e + 12 * B);

        m.saveNeighbour();
        // What the E update does: -k E_b on the boundary plane, anything on the neighbour.
        std::vector<float> neighbourNew(12 * B, 0);
        for (std::uint32_t io = 0; io < m.outerCount; ++io) {
            for (std::uint32_t iq = 0; iq < m.innerCount; ++iq) {
                for (std::uint32_t c : {m.outerAxis, m.innerAxis}) {
                    const std::uint32_t fb = faceIndex(*engine, m, m.boundaryIndex, io, iq, c);
                    const std::uint32_t fn = faceIndex(*engine, m, m.neighbourIndex, io, iq, c);
                    e[fb] = engine->caTable[fb] * old[fb];
                    e[fn] = value(random);
                }
            }
        }
        const std::vector<float> updated(e, e + 12 * B);
        m.accumulate();
        m.apply();

        const float k = -1.0f / 3.0f;
        std::vector<bool> touched(12 * B, false);
        for (std::uint32_t io = 0; io < m.outerCount; ++io) {
            for (std::uint32_t iq = 0; iq < m.innerCount; ++iq) {
                for (std::uint32_t c : {m.outerAxis, m.innerAxis}) {
                    const std::uint32_t fb = faceIndex(*engine, m, m.boundaryIndex, io, iq, c);
                    const std::uint32_t fn = faceIndex(*engine, m, m.neighbourIndex, io, iq, c);
                    const float expected = old[fn] + k * (updated[fn] - old[fb]);
                    ASSERT_NEAR(e[fb], expected, 1e-6f) << "face " << face << " at " << io << "," << iq;
                    touched[fb] = true;
                }
            }
        }
        // Nothing else changes: normal components, the neighbour plane, spare positions.
        for (std::uint32_t i = 0; i < 12 * B; ++i) {
            if (!touched[i]) {
                ASSERT_EQ(e[i], updated[i]) << "face " << face << " float " << i;
            }
        }
    }
}
