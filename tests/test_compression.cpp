#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "geometry/Geometry.hpp"
#include "grid/FdtdEngine.hpp"

namespace {

std::unique_ptr<FdtdEngine> allocatedEngine(Geometry& geometry, std::uint32_t nx, std::uint32_t ny,
                                            std::uint32_t nz) {
    auto engine = std::make_unique<FdtdEngine>(geometry, 1);
    const std::uint32_t counts[3] = {nx, ny, nz};
    for (int axis = 0; axis < 3; ++axis) {
        engine->lineCount[axis] = counts[axis];
        engine->meshLines[axis].resize(counts[axis]);
        for (std::uint32_t i = 0; i < counts[axis]; ++i) engine->meshLines[axis][i] = i * 1e-3;
    }
    EXPECT_EQ(engine->allocateCoefficients(), 0);
    return engine;
}

// Copy of the uncompressed tables, block-wise: ca, da, cb, db.
struct Snapshot {
    std::vector<float> ca, da, cb, db;
};

Snapshot snapshot(const FdtdEngine& e) {
    const std::size_t n = 12 * std::size_t(e.blockCount());
    return {std::vector<float>(e.caTable, e.caTable + n), std::vector<float>(e.daTable, e.daTable + n),
            std::vector<float>(e.cbTable, e.cbTable + n), std::vector<float>(e.dbTable, e.dbTable + n)};
}

// Every block's coefficients read back through the set indices.
void expectReadBack(const FdtdEngine& e, const Snapshot& s) {
    for (std::uint32_t b = 0; b < e.blockCount(); ++b) {
        for (int i = 0; i < 12; ++i) {
            const std::size_t k = 4 * std::size_t(e.keepIndex[b]) + i;
            const std::size_t c = 4 * std::size_t(e.curlIndex[b]) + i;
            // == treats +0 and -0 alike, as the set dictionary does.
            ASSERT_TRUE(e.caTable[k] == s.ca[12 * b + i]) << b;
            ASSERT_TRUE(e.daTable[k] == s.da[12 * b + i]) << b;
            ASSERT_TRUE(e.cbTable[c] == s.cb[12 * b + i]) << b;
            ASSERT_TRUE(e.dbTable[c] == s.db[12 * b + i]) << b;
        }
    }
}

}  // namespace

TEST(Compression, MixedGridReadsBackThroughSetIndices) {
    Geometry geometry;
    auto engine = allocatedEngine(geometry, 9, 7, 6);
    const std::uint32_t B = engine->blockCount();
    // A few materials repeated irregularly; keep and curl patterns differ so the
    // two numberings differ too.
    for (std::uint32_t b = 0; b < B; ++b) {
        for (int i = 0; i < 12; ++i) {
            engine->caTable[12 * b + i] = float((b * 7) % 5) + 0.25f * i;
            engine->daTable[12 * b + i] = float((b * 3) % 4);
            engine->cbTable[12 * b + i] = float(b % 3) * 1e-3f;
            engine->dbTable[12 * b + i] = i == 5 ? float((b / 11) % 2) : 0.0f;
        }
    }
    const Snapshot before = snapshot(*engine);
    ASSERT_TRUE(engine->compressCoefficients());
    EXPECT_EQ(engine->keepIndex[0], 0u);
    EXPECT_EQ(engine->curlIndex[0], 0u);
    // ca pattern has period 5 (in b * 7 mod 5) and da period 4: 20 keep sets; curl 3 * 2.
    EXPECT_EQ(engine->keepSetCount, 20u);
    EXPECT_EQ(engine->curlSetCount, 6u);
    // Tables are packed behind one another.
    EXPECT_EQ(engine->daTable, engine->caTable + 12 * 20);
    EXPECT_EQ(engine->cbTable, engine->caTable + 24 * 20);
    EXPECT_EQ(engine->dbTable, engine->caTable + 24 * 20 + 12 * 6);
    expectReadBack(*engine, before);
    // Sets are numbered by first appearance: every index is at most 3 * (largest earlier + 1).
    std::uint32_t next = 0;
    for (std::uint32_t b = 0; b < B; ++b) {
        ASSERT_LE(engine->keepIndex[b], 3 * next);
        if (engine->keepIndex[b] == 3 * next) ++next;
    }
    EXPECT_EQ(next, 20u);
}

TEST(Compression, SignedZerosShareOneSet) {
    Geometry geometry;
    auto engine = allocatedEngine(geometry, 4, 3, 3);  // Nv = 1, B = 9, all zero
    engine->caTable[12 * 4 + 3] = -0.0f;
    engine->dbTable[12 * 7] = -0.0f;
    ASSERT_TRUE(engine->compressCoefficients());
    EXPECT_EQ(engine->keepSetCount, 1u);
    EXPECT_EQ(engine->curlSetCount, 1u);
    EXPECT_EQ(engine->keepIndex[4], 0u);
    // The set holds the values of the block that came first: +0.
    EXPECT_FALSE(std::signbit(engine->caTable[3]));
}

TEST(Compression, AllDistinctKeepsFullSize) {
    Geometry geometry;
    auto engine = allocatedEngine(geometry, 8, 5, 4);
    const std::uint32_t B = engine->blockCount();
    for (std::uint32_t i = 0; i < 48 * B; ++i) engine->caTable[i] = float(i);
    const Snapshot before = snapshot(*engine);
    ASSERT_TRUE(engine->compressCoefficients());
    EXPECT_EQ(engine->keepSetCount, B);
    EXPECT_EQ(engine->curlSetCount, B);
    for (std::uint32_t b = 0; b < B; ++b) {
        EXPECT_EQ(engine->keepIndex[b], 3 * b);
        EXPECT_EQ(engine->curlIndex[b], 3 * b);
    }
    EXPECT_EQ(engine->dbTable, engine->caTable + 36 * B);
    expectReadBack(*engine, before);
}

TEST(Compression, WalledVacuumHasFewSetsAndZeroSetsAtTheEnd) {
    Geometry geometry;
    auto engine = allocatedEngine(geometry, 12, 10, 9);
    engine->fillDielectrics();
    engine->computeTimeStep();
    engine->applyElectricWalls();
    engine->applyMagneticWalls();
    engine->computeCoefficients();
    const Snapshot before = snapshot(*engine);
    ASSERT_TRUE(engine->compressCoefficients());
    expectReadBack(*engine, before);
    EXPECT_LT(engine->keepSetCount, 30u);
    EXPECT_LT(engine->curlSetCount, 30u);
    // A block of the last z plane: every coefficient of its set is zero.
    const std::uint32_t b = (8 * 10 + 3) * engine->Nv + 1;
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(engine->caTable[4 * engine->keepIndex[b] + i], 0.0f);
        EXPECT_EQ(engine->daTable[4 * engine->keepIndex[b] + i], 0.0f);
        EXPECT_EQ(engine->cbTable[4 * engine->curlIndex[b] + i], 0.0f);
        EXPECT_EQ(engine->dbTable[4 * engine->curlIndex[b] + i], 0.0f);
    }
}

TEST(Compression, ManyDistinctSetsStayFast) {
    // 30,000 blocks, 15,000 distinct sets: a dictionary lookup per block, not a scan.
    Geometry geometry;
    auto engine = allocatedEngine(geometry, 120, 50, 20);
    const std::uint32_t B = engine->blockCount();
    for (std::uint32_t b = 0; b < B; ++b) engine->caTable[12 * b] = float(b % 15000);
    const Snapshot before = snapshot(*engine);
    ASSERT_TRUE(engine->compressCoefficients());
    EXPECT_EQ(engine->keepSetCount, 15000u);
    EXPECT_EQ(engine->curlSetCount, 1u);
    expectReadBack(*engine, before);
}

TEST(Compression, RasterizedMaterialsReadBack) {
    Geometry geometry;
    auto substrate = std::make_unique<MatDielectric>();
    substrate->epsR = 3.5;
    substrate->sigma = 0.01;
    auto cube = std::make_unique<GeoCube>(substrate.get());
    cube->lower[2] = -1, cube->upper[0] = 6e-3, cube->upper[1] = 1, cube->upper[2] = 2e-3;
    cube->lower[0] = 1e-3, cube->lower[1] = -1;
    cube->boundingBox(cube->box);
    substrate->shapes.push_back(std::move(cube));
    geometry.materials.push_back(std::move(substrate));
    auto metal = std::make_unique<MatMetal>();
    auto strip = std::make_unique<GeoCube>(metal.get());
    strip->lower[0] = 2e-3, strip->lower[1] = 3e-3, strip->lower[2] = 2e-3;
    strip->upper[0] = 8e-3, strip->upper[1] = 4e-3, strip->upper[2] = 2e-3;
    strip->boundingBox(strip->box);
    metal->shapes.push_back(std::move(strip));
    geometry.materials.push_back(std::move(metal));

    auto engine = allocatedEngine(geometry, 11, 8, 6);
    engine->fillDielectrics();
    engine->computeTimeStep();
    engine->fillMetals();
    engine->applyElectricWalls();
    engine->applyMagneticWalls();
    engine->computeCoefficients();
    const Snapshot before = snapshot(*engine);
    ASSERT_TRUE(engine->compressCoefficients());
    EXPECT_GT(engine->keepSetCount, 4u);
    EXPECT_LT(engine->keepSetCount, engine->blockCount());
    expectReadBack(*engine, before);
}
