// The grid build: mesh lookups, materials and elements turned into capacitance
// and conductance sums, walls, update coefficients, the stability time step and
// the compression of the coefficients, against hand-computed values.
#include <cmath>

#include "common/PhysicalConstants.hpp"
#include "tests/TestSupport.hpp"

using namespace fendrix;

using namespace testing_support;

namespace {

constexpr double kMm = 1e-3;

// A description on 5 x 5 x 5 lines (y lines `yCell` apart) parsed, not built:
// the tests run the build steps themselves.
std::unique_ptr<Simulation> grid(const std::string& elements, double yCell = kMm) {
    return simulationOf("Sim 0 1e-3 4 out.dat\nFreq 2 1e9 5e9 5\nBoundary 0 0 0 0 0 0\n" +
                            meshLine('x', 5, kMm) + meshLine('y', 5, yCell) + meshLine('z', 5, kMm) + elements,
                        1, false);
}

float at(const float* table, const FdtdEngine& e, std::uint32_t x, std::uint32_t y, std::uint32_t z, int c) {
    return table[e.fieldIndex(x, y, z, c)];
}

}  // namespace

TEST(Grid, MeshLookups) {
    HandGrid g(3, 3, 3);
    g.engine.meshLines[1] = {0, 1, 3};
    // The last line reuses the last cell; dual cells are half cells at the ends.
    EXPECT_TRUE(g.engine.cellSize(1, 2, false) == 2 && g.engine.cellSize(1, 0, true) == 1 && g.engine.cellSize(1, 1, true) == 1.5);
    // Nearest line (a midpoint goes to the lower line) and containing cell.
    const std::pair<double, std::uint32_t> nearest[] = {{0.5, 0}, {0.51, 1}, {2.0, 1}, {2.1, 2}, {-5, 0}, {10, 2}};
    for (auto [x, line] : nearest) EXPECT_EQ(g.engine.lineIndex(1, x, false), line) << x;
    const std::pair<double, std::uint32_t> cells[] = {{1.0, 0}, {1.01, 1}, {3.0, 1}, {3.5, 2}, {-5, 0}};
    for (auto [x, cell] : cells) EXPECT_EQ(g.engine.lineIndex(1, x, true), cell) << x;
}

// A slab of eps_r = mu_r = 3 below z = 2 mm, a second dielectric hidden
// behind the first: area-weighted permittivity across the edge, the
// length-weighted harmonic mean of the permeability along it.
TEST(Grid, DielectricsAverageAcrossInterfaces) {
    auto sim = grid("Dielectric 3 0\nCube -1,-1,-1 1,1,0.002\n/\n"
                    "Dielectric 5 0\nCube 0.001,0.001,0 0.003,0.003,0.0015\nCube 0,0,0.003 1,1,1\n/\n");
    static_cast<MatDielectric&>(*sim->geometry.materials[0]).muR = 3;
    FdtdEngine& e = *sim->engine;
    e.fillDielectrics();
    const float vacuum = static_cast<float>(kEpsilon0 * kMm);  // uniform cells: dual area / length = 1 mm
    EXPECT_FLOAT_EQ(at(e.caTable, e, 2, 2, 2, 0), 2 * vacuum);      // two of four quarter cells in the slab
    EXPECT_FLOAT_EQ(at(e.daTable, e, 2, 2, 2, 2), static_cast<float>(1.5 * kMu0 * kMm));  // 2 / (1 + 1/3)
    EXPECT_FLOAT_EQ(at(e.caTable, e, 2, 2, 2, 2), vacuum);          // E_z above the interface
    EXPECT_FLOAT_EQ(at(e.caTable, e, 2, 2, 1, 0), 3 * vacuum);
    EXPECT_FLOAT_EQ(at(e.caTable, e, 0, 0, 0, 0), 3 * vacuum);      // a corner node: its one cell
    EXPECT_FLOAT_EQ(at(e.daTable, e, 0, 0, 0, 2), static_cast<float>(3 * kMu0 * kMm));
    EXPECT_FLOAT_EQ(at(e.caTable, e, 2, 2, 4, 1), 5 * vacuum);      // claimed only by the later box
    const auto& shapes = sim->geometry.materials[1]->shapes;
    EXPECT_EQ(shapes[0]->used, 0);  // wholly inside the slab, which is listed first
    EXPECT_EQ(shapes[1]->used, 1);
    EXPECT_EQ(at(e.cbTable, e, 2, 2, 2, 0), 0.0f);
}

// Perfect metal zeroes every edge whose midpoint it holds; a resistive sheet
// conducts across the dual width of each edge; a lumped element spreads over
// parallel edges in series layers between conducting end plates.
TEST(Grid, MetalsAndLumpedElements) {
    auto sim = grid("Metal 0 0 0\nCube 0.001,0.001,0.001 0.002,0.002,0.002\nCube 0.0038,0,0 0.005,0,0\n/\n");
    FdtdEngine& e = *sim->engine;
    e.fillDielectrics();
    e.fillMetals();
    const float vacuum = static_cast<float>(kEpsilon0 * kMm);
    EXPECT_EQ(at(e.caTable, e, 1, 1, 1, 0), 0.0f);          // midpoint 1.5 mm: inside
    EXPECT_EQ(at(e.caTable, e, 1, 2, 2, 0), 0.0f);          // on the box faces
    EXPECT_FLOAT_EQ(at(e.caTable, e, 2, 1, 1, 0), vacuum);  // midpoint 2.5 mm
    EXPECT_EQ(at(e.caTable, e, 4, 0, 0, 0), 0.0f);          // the last line's edge, tested at 4.5 mm
    EXPECT_FLOAT_EQ(at(e.caTable, e, 3, 0, 0, 0), vacuum);

    auto sheet = grid("Metal 0 0 0\nCube 0,0,0.002 0.004,0.008,0.002\n/\n", 2 * kMm);
    FdtdEngine& s = *sheet->engine;
    s.sheetResistance = 0.01;
    s.fillDielectrics();
    s.fillMetals();
    EXPECT_FLOAT_EQ(at(s.cbTable, s, 1, 2, 2, 0), 200.0f);  // 2 mm / (0.01 * 1 mm)
    EXPECT_FLOAT_EQ(at(s.cbTable, s, 1, 2, 2, 1), 50.0f);   // 1 mm / (0.01 * 2 mm)
    EXPECT_FLOAT_EQ(at(s.caTable, s, 1, 2, 2, 0), static_cast<float>(kEpsilon0 * kMm * 2));

    auto lumped = grid("Electric 0 2 50 x 0.001,0.001,0.001 0.001,0.001,0.002\n"
                       "Electric 0 2 100 x 0.001,0.003,0.001 0.002,0.003,0.003\n"
                       "Electric 0 1 x 1e-12 0.003,0.001,0.001 0.003,0.002,0.001\n"
                       "Electric 0 1 0 x 0.004,0.001,0.001 0.004,0.002,0.001\n"
                       "Electric 0 2 50 x 0.003,0.003,0.003 0.003,0.003,0.0032\n");
    FdtdEngine& l = *lumped->engine;
    l.fillDielectrics();
    const Output r = captured(0, [&] { l.fillLumpedElements(); return 0; });
    EXPECT_EQ(r.err.rfind("Warning: Omitting component because of zero length.\n", 0), 0u) << r.err;
    EXPECT_FLOAT_EQ(at(l.cbTable, l, 1, 1, 1, 2), 1.0f / 50);
    EXPECT_EQ(at(l.cbTable, l, 1, 1, 2, 2), 0.0f);
    // 100 ohm over 2 parallel edges x 2 layers: each edge 0.01 S.
    for (std::uint32_t x : {1u, 2u})
        for (std::uint32_t z : {1u, 2u}) EXPECT_FLOAT_EQ(at(l.cbTable, l, x, 3, z, 2), 0.01f) << x << z;
    EXPECT_EQ(at(l.caTable, l, 1, 3, 1, 0), 0.0f);  // end plates at z = 1 and 3 mm
    EXPECT_EQ(at(l.caTable, l, 1, 3, 3, 0), 0.0f);
    EXPECT_NE(at(l.caTable, l, 1, 3, 2, 0), 0.0f);
    EXPECT_NE(at(l.caTable, l, 2, 3, 1, 0), 0.0f);  // beyond the element
    EXPECT_FLOAT_EQ(at(l.caTable, l, 3, 1, 1, 1), 1e-12f);
    EXPECT_EQ(at(l.caTable, l, 4, 1, 1, 1), 0.0f);  // short circuit
}

// Electric walls zero tangential E on every face (and everything on the last
// line); magnetic walls zero tangential H; the sums then become leapfrog
// coefficients with the loss averaged over the step.
TEST(Grid, WallsAndLeapfrogCoefficients) {
    auto sim = grid("");
    FdtdEngine& e = *sim->engine;
    e.boundaryKind = {1, 1, 0, 0, 0, 0};  // magnetic walls on both x faces
    e.fillDielectrics();
    e.applyElectricWalls();
    e.applyMagneticWalls();
    EXPECT_EQ(at(e.caTable, e, 0, 2, 2, 1), 0.0f);
    EXPECT_EQ(at(e.caTable, e, 0, 2, 2, 2), 0.0f);
    EXPECT_NE(at(e.caTable, e, 0, 2, 2, 0), 0.0f);  // the normal E stays
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(at(e.caTable, e, 4, 2, 2, c), 0.0f);
        EXPECT_NE(at(e.caTable, e, 3, 3, 3, c), 0.0f);
        EXPECT_EQ(at(e.daTable, e, 0, 2, 2, c), 0.0f);  // magnetic wall, low side: the whole plane
        EXPECT_EQ(at(e.daTable, e, 2, 4, 2, c), 0.0f);  // H on a last line lies outside the mesh
        EXPECT_NE(at(e.daTable, e, 2, 3, 2, c), 0.0f);
    }
    EXPECT_EQ(at(e.daTable, e, 3, 2, 2, 1), 0.0f);  // high side: tangential H of the last cell
    EXPECT_NE(at(e.daTable, e, 3, 2, 2, 0), 0.0f);

    e.timeStep = 1e-12;
    const float dt = 1e-12f;
    const std::uint32_t lossless = e.fieldIndex(1, 1, 1, 0), lossy = e.fieldIndex(2, 1, 1, 1);
    const float C = e.caTable[lossless], L = e.daTable[lossless];
    e.cbTable[lossy] = 2 * e.caTable[lossy] / dt;  // G dt / 2 = C
    const std::uint32_t conductor = e.fieldIndex(4, 2, 2, 0);
    e.cbTable[conductor] = 5;
    e.computeCoefficients();
    EXPECT_EQ(e.caTable[lossless], 1.0f);
    EXPECT_FLOAT_EQ(e.cbTable[lossless], dt / C);
    EXPECT_FLOAT_EQ(e.dbTable[lossless], dt / L);
    EXPECT_NEAR(e.caTable[lossy], 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(e.cbTable[lossy], dt / (2 * C));
    EXPECT_EQ(e.cbTable[conductor], 0.0f);  // a conductor stays one
}

// Uniform vacuum: the Courant limit d sqrt(eps0 mu0 / 3); a medium of eps_r 4
// doubles it; one finer interior cell lowers it.
TEST(Grid, TimeStepIsTheStabilityLimit) {
    auto step = [](const std::string& elements, double yCell = kMm) {
        auto sim = grid(elements, yCell);
        sim->engine->fillDielectrics();
        sim->engine->computeTimeStep();
        return sim->engine->timeStep;
    };
    const double vacuum = step("");
    EXPECT_NEAR(vacuum / (kMm * std::sqrt(kEpsilon0 * kMu0 / 3)), 1.0, 1e-6);
    EXPECT_NEAR(step("Dielectric 4 0\nCube -1,-1,-1 1,1,1\n/\n") / vacuum, 2.0, 1e-6);
    EXPECT_LT(step("", 0.5 * kMm) / vacuum, 0.9);
}

// Compressed coefficients read back through the set indices exactly as
// before, for irregular repeats, signed zeros and a rasterized structure.
TEST(Grid, CompressionKeepsEveryCoefficient) {
    for (int pattern = 0; pattern < 2; ++pattern) {
        auto sim = grid(pattern ? "Dielectric 3.5 0.1\nCube 0.001,-1,-1 0.006,1,0.002\n/\n"
                                  "Metal 1e-8 1e-6 0\nCube 0.002,0.003,0.002 0.008,0.004,0.002\n/\n"
                                : "");
        FdtdEngine& e = *sim->engine;
        const std::uint32_t B = e.blockCount();
        if (pattern) {
            e.fillDielectrics();
            e.computeTimeStep();
            e.fillMetals();
            e.applyElectricWalls();
            e.applyMagneticWalls();
            e.computeCoefficients();
        } else {
            for (std::uint32_t b = 0; b < B; ++b)
                for (int i = 0; i < 12; ++i) {
                    e.caTable[12 * b + i] = float((b / 2 * 7) % 5) + 0.25f * i;  // pairs of equal blocks
                    e.daTable[12 * b + i] = (b / 2) % 3 == 1 ? -0.0f : float((b / 2) % 3);
                    e.cbTable[12 * b + i] = float(b % 3) * 1e-3f;
                }
        }
        const std::vector<float> before(e.caTable, e.caTable + 48 * B);
        ASSERT_TRUE(e.compressCoefficients());
        for (std::uint32_t b = 0; b < B; ++b)
            for (int i = 0; i < 12; ++i) {
                const std::size_t k = 4 * std::size_t(e.keepIndex[b]) + i, c = 4 * std::size_t(e.curlIndex[b]) + i;
                ASSERT_TRUE(e.caTable[k] == before[12 * b + i] && e.daTable[k] == before[12 * (B + b) + i] &&
                            e.cbTable[c] == before[12 * (2 * B + b) + i] && e.dbTable[c] == before[12 * (3 * B + b) + i])
                    << "pattern " << pattern << " block " << b;
            }
        // (b / 2) mod 5 and whether (b / 2) mod 3 is 2 (-0 equals 0): 10 keep sets.
        if (!pattern) {
            EXPECT_EQ(e.keepSetCount, 10u);
        }
    }
}
