#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"
#include "tests/HandBuiltGrid.hpp"

// The vector kernels against a plain Yee update done one cell at a time over
// grid indices (i, j, k). The reference knows nothing about lanes: a row is
// just 4 * Nv cells with 0 before the first and after the last.
namespace {

struct ScalarYee {
    std::size_t nx, ny, nz;  // nx = 4 * Nv: spare positions are ordinary cells here
    std::vector<float> e[3], h[3], ca[3], cb[3], da[3], db[3];

    std::size_t at(std::size_t i, std::size_t j, std::size_t k) const { return (k * ny + j) * nx + i; }

    // Copies fields and per-cell coefficients out of the engine's layout.
    explicit ScalarYee(const FdtdEngine& engine)
        : nx(4 * std::size_t(engine.Nv)), ny(engine.Ny()), nz(engine.Nz()) {
        for (int a = 0; a < 3; ++a) {
            for (auto* v : {&e[a], &h[a], &ca[a], &cb[a], &da[a], &db[a]}) v->resize(nx * ny * nz);
        }
        const std::size_t nv = engine.Nv;
        for (std::size_t k = 0; k < nz; ++k)
            for (std::size_t j = 0; j < ny; ++j)
                for (std::size_t i = 0; i < nx; ++i)
                    for (int a = 0; a < 3; ++a) {
                        const std::size_t block = (k * ny + j) * nv + i % nv;
                        const std::size_t lane = i / nv;
                        const std::size_t f = 12 * block + 4 * a + lane;
                        const std::size_t keep = 4 * std::size_t(engine.keepIndex[block]) + 4 * a + lane;
                        const std::size_t curl = 4 * std::size_t(engine.curlIndex[block]) + 4 * a + lane;
                        const std::size_t p = at(i, j, k);
                        e[a][p] = engine.eField[f];
                        h[a][p] = engine.hField[f];
                        ca[a][p] = engine.caTable[keep];
                        da[a][p] = engine.daTable[keep];
                        cb[a][p] = engine.cbTable[curl];
                        db[a][p] = engine.dbTable[curl];
                    }
    }

    void stepE() {
        for (std::size_t k = 0; k < nz; ++k)
            for (std::size_t j = 0; j < ny; ++j)
                for (std::size_t i = 0; i < nx; ++i) {
                    const std::size_t p = at(i, j, k);
                    const std::size_t py = j > 0 ? at(i, j - 1, k) : p;  // own cell: difference 0
                    const std::size_t pz = k > 0 ? at(i, j, k - 1) : p;
                    const float hyBackX = i > 0 ? h[1][p - 1] : 0.0f;
                    const float hzBackX = i > 0 ? h[2][p - 1] : 0.0f;
                    const float curl[3] = {
                        (h[2][p] - h[2][py]) - (h[1][p] - h[1][pz]),
                        (h[0][p] - h[0][pz]) - (h[2][p] - hzBackX),
                        (h[1][p] - hyBackX) - (h[0][p] - h[0][py]),
                    };
                    for (int a = 0; a < 3; ++a) {
                        const float keep = ca[a][p] * e[a][p];
                        const float drive = cb[a][p] * curl[a];
                        e[a][p] = keep + drive;
                    }
                }
    }

    void stepH() {
        for (std::size_t k = 0; k + 1 < nz; ++k)
            for (std::size_t j = 0; j + 1 < ny; ++j)
                for (std::size_t i = 0; i < nx; ++i) {
                    const std::size_t p = at(i, j, k);
                    const std::size_t py = at(i, j + 1, k);
                    const std::size_t pz = at(i, j, k + 1);
                    const float eyFwdX = i + 1 < nx ? e[1][p + 1] : 0.0f;
                    const float ezFwdX = i + 1 < nx ? e[2][p + 1] : 0.0f;
                    const float curl[3] = {
                        (e[2][py] - e[2][p]) - (e[1][pz] - e[1][p]),
                        (e[0][pz] - e[0][p]) - (ezFwdX - e[2][p]),
                        (eyFwdX - e[1][p]) - (e[0][py] - e[0][p]),
                    };
                    for (int a = 0; a < 3; ++a) {
                        const float keep = da[a][p] * h[a][p];
                        const float drive = db[a][p] * curl[a];
                        h[a][p] = keep - drive;
                    }
                }
    }

    // Number of values (both fields, every cell and component) whose bits differ.
    std::size_t mismatches(const FdtdEngine& engine) const {
        std::size_t bad = 0;
        const std::size_t nv = engine.Nv;
        for (std::size_t k = 0; k < nz; ++k)
            for (std::size_t j = 0; j < ny; ++j)
                for (std::size_t i = 0; i < nx; ++i)
                    for (int a = 0; a < 3; ++a) {
                        const std::size_t f = 12 * ((k * ny + j) * nv + i % nv) + 4 * a + i / nv;
                        const std::size_t p = at(i, j, k);
                        bad += std::memcmp(&e[a][p], &engine.eField[f], 4) != 0;
                        bad += std::memcmp(&h[a][p], &engine.hField[f], 4) != 0;
                    }
        return bad;
    }
};

// Random coefficient sets, random set indices per block, random fields
// everywhere (spare positions and the never-updated last rows included).
// The coefficients keep the fields finite over a few dozen steps.
void randomGrid(FdtdEngine& engine, std::uint32_t nx, std::uint32_t ny, std::uint32_t nz,
                std::mt19937& rng) {
    hand_grid::setMesh(engine, nx, ny, nz);
    hand_grid::allocateFields(engine);
    std::uniform_int_distribution<std::uint32_t> setCount(1, 4);
    const std::uint32_t keepSets = setCount(rng), curlSets = setCount(rng);
    hand_grid::allocateSets(engine, keepSets, curlSets);
    std::uniform_real_distribution<float> self(-1.0f, 1.0f), curl(-0.2f, 0.2f), field(-1.0f, 1.0f);
    for (std::uint32_t f = 0; f < 12 * keepSets; ++f) {
        engine.caTable[f] = self(rng);
        engine.daTable[f] = self(rng);
    }
    for (std::uint32_t f = 0; f < 12 * curlSets; ++f) {
        engine.cbTable[f] = curl(rng);
        engine.dbTable[f] = curl(rng);
    }
    for (std::uint32_t b = 0; b < engine.blockCount(); ++b) {
        engine.keepIndex[b] = 3 * (rng() % keepSets);
        engine.curlIndex[b] = 3 * (rng() % curlSets);
    }
    for (std::uint32_t f = 0; f < 24 * engine.blockCount(); ++f) engine.eField[f] = field(rng);
}

}  // namespace

TEST(FieldKernels, MatchScalarYeeBitForBitOnAwkwardSizes) {
    std::mt19937 rng(12345);
    int combination = 0;
    for (std::uint32_t nx : {1u, 5u, 6u, 8u, 13u})
        for (std::uint32_t ny : {1u, 2u, 5u})
            for (std::uint32_t nz : {1u, 2u, 4u}) {
                // The plane split over threads must not matter: call every
                // thread's share in turn.
                const int threads = 1 + combination++ % 3;
                Geometry geometry;
                FdtdEngine engine(geometry, threads);
                randomGrid(engine, nx, ny, nz, rng);
                ScalarYee reference(engine);
                for (int step = 0; step < 25; ++step) {
                    for (int t = 0; t < threads; ++t) engine.updateE(t);
                    for (int t = 0; t < threads; ++t) engine.updateH(t);
                    reference.stepE();
                    reference.stepH();
                }
                EXPECT_EQ(reference.mismatches(engine), 0u)
                    << "Nx " << nx << " Ny " << ny << " Nz " << nz << " threads " << threads;
            }
}

// A single Hz value at x = 1 of a row with Nv = 2 (lane 0, last column): the
// E update must see it as the x predecessor of x = 2, which sits in lane 1 of
// the first column, across the quarter seam.
TEST(FieldKernels, CurlCrossesTheQuarterSeamLikeAnyNeighbour) {
    Geometry geometry;
    FdtdEngine engine(geometry, 1);
    hand_grid::setMesh(engine, 8, 2, 2);
    hand_grid::allocateFields(engine);
    hand_grid::allocateSets(engine, 1, 1);
    for (int f = 0; f < 12; ++f) engine.cbTable[f] = 1.0f;  // E = curl H
    engine.hField[engine.fieldIndex(1, 0, 0, 2)] = 1.0f;
    engine.updateE(0);
    // curl_y = -(dHz/dx): -1 on the edge at x = 1, +1 on the edge at x = 2.
    EXPECT_EQ(engine.eField[engine.fieldIndex(1, 0, 0, 1)], -1.0f);
    EXPECT_EQ(engine.eField[engine.fieldIndex(2, 0, 0, 1)], 1.0f);
    // curl_x = dHz/dy: the row above sees it.
    EXPECT_EQ(engine.eField[engine.fieldIndex(1, 1, 0, 0)], -1.0f);
    float total = 0.0f;
    for (std::uint32_t f = 0; f < 12 * engine.blockCount(); ++f) total += std::abs(engine.eField[f]);
    EXPECT_EQ(total, 3.0f);
}

// The reverse direction: Ey at x = 2 (lane 1, first column) is the x successor
// of x = 1 (lane 0, last column) in the H update.
TEST(FieldKernels, MagneticCurlCrossesTheQuarterSeam) {
    Geometry geometry;
    FdtdEngine engine(geometry, 1);
    hand_grid::setMesh(engine, 8, 2, 2);
    hand_grid::allocateFields(engine);
    hand_grid::allocateSets(engine, 1, 1);
    for (int f = 0; f < 12; ++f) engine.dbTable[f] = 1.0f;  // H = -curl E
    engine.eField[engine.fieldIndex(2, 0, 0, 1)] = 1.0f;
    engine.updateH(0);
    // curl_z = dEy/dx: +1 at x = 1 (ahead of it), -1 at x = 2; H = -curl.
    EXPECT_EQ(engine.hField[engine.fieldIndex(1, 0, 0, 2)], -1.0f);
    EXPECT_EQ(engine.hField[engine.fieldIndex(2, 0, 0, 2)], 1.0f);
    // The last row and the last plane are never updated.
    for (std::uint32_t x = 0; x < 8; ++x)
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(engine.hField[engine.fieldIndex(x, 1, 0, c)], 0.0f);
            EXPECT_EQ(engine.hField[engine.fieldIndex(x, 0, 1, c)], 0.0f);
        }
}

// With one row (Ny = 1) or one plane (Nz = 1) the H update has nothing to do,
// while the E update still runs with zero differences across the missing
// direction.
TEST(FieldKernels, SingleRowOrPlaneLeavesHUntouched) {
    for (std::uint32_t ny : {1u, 3u}) {
        const std::uint32_t nz = ny == 1 ? 3 : 1;
        Geometry geometry;
        FdtdEngine engine(geometry, 1);
        hand_grid::setMesh(engine, 5, ny, nz);
        hand_grid::allocateFields(engine);
        hand_grid::allocateSets(engine, 1, 1);
        for (int f = 0; f < 12; ++f) engine.dbTable[f] = engine.daTable[f] = 1.0f;
        for (std::uint32_t f = 0; f < 12 * engine.blockCount(); ++f) {
            engine.eField[f] = float(f % 7);
            engine.hField[f] = 0.5f;
        }
        engine.updateH(0);
        for (std::uint32_t f = 0; f < 12 * engine.blockCount(); ++f) ASSERT_EQ(engine.hField[f], 0.5f);
    }
}
