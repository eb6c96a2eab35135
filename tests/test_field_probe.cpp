// Huygens face probes: the box position for a margin, node interpolation on a
// non-uniform mesh, sampling weights, the outward direction handed to the
// transform, and the progress output of the analysis.
#include <gtest/gtest.h>

#include "tests/HandBuiltGrid.hpp"

#include <cmath>
#include <complex>
#include <cstring>
#include <string>
#include <vector>

#include "driver/Verbosity.hpp"
#include "geometry/Geometry.hpp"
#include "grid/AlignedMemory.hpp"
#include "grid/FdtdEngine.hpp"
#include "results/FieldProbe.hpp"
#include "results/RadiationSetup.hpp"

namespace {

// An engine with the given mesh lines and zeroed field arrays (H behind E).
struct HandGrid {
    Geometry geometry;
    FdtdEngine engine{geometry, 1};

    explicit HandGrid(const std::vector<double> (&lines)[3]) {
        for (int a = 0; a < 3; ++a) {
            engine.meshLines[a] = lines[a];
            engine.lineCount[a] = static_cast<std::uint32_t>(lines[a].size());
        }
        engine.Nv = (engine.Nx() + 3) / 4;
        hand_grid::allocateFields(engine);
    }
    float& e(std::uint32_t x, std::uint32_t y, std::uint32_t z, int c) {
        return engine.eField[engine.fieldIndex(x, y, z, c)];
    }
    float& h(std::uint32_t x, std::uint32_t y, std::uint32_t z, int c) {
        return engine.hField[engine.fieldIndex(x, y, z, c)];
    }
};

std::vector<double> uniform(std::uint32_t count, double start, double step) {
    std::vector<double> lines(count);
    for (std::uint32_t i = 0; i < count; ++i) lines[i] = start + i * step;
    return lines;
}

// Only the line counts matter for the box position.
struct CountsOnly {
    Geometry geometry;
    FdtdEngine engine{geometry, 1};
    CountsOnly(std::uint32_t nx, std::uint32_t ny, std::uint32_t nz) { engine.lineCount = {nx, ny, nz}; }
};

}  // namespace

TEST(FieldProbe, MarginBelowTwoPlacesTheBoxAsForTwo) {
    CountsOnly grid(9, 8, 7);
    for (std::uint32_t margin : {0u, 1u, 2u}) {
        RadiationSetup setup(1e9f, 3, 3, margin);
        FieldProbe low(&grid.engine, &setup, 0);
        FieldProbe high(&grid.engine, &setup, 5);
        EXPECT_EQ(low.lowIndex[0], 1u);
        EXPECT_EQ(low.highIndex[0], 1u);
        EXPECT_EQ(low.highIndex[1], 6u);
        EXPECT_EQ(low.highIndex[2], 5u);
        EXPECT_EQ(high.lowIndex[2], 5u);
        EXPECT_EQ(high.lowIndex[0], 1u);
        EXPECT_EQ(high.highIndex[0], 7u);
        EXPECT_EQ(high.nodeCounts[0], 7u);
        EXPECT_EQ(high.nodeCounts[1], 6u);
        EXPECT_EQ(high.nodeCounts[2], 1u);
    }
}

TEST(FieldProbe, MarginFiveOnA40By30By20Grid) {
    CountsOnly grid(40, 30, 20);
    RadiationSetup setup(2e9f, 3, 3, 5);
    FieldProbe face0(&grid.engine, &setup, 0);
    EXPECT_EQ(face0.portNumber, 0);
    EXPECT_EQ(face0.lowIndex[0], 4u);
    EXPECT_EQ(face0.highIndex[0], 4u);
    EXPECT_EQ(face0.lowIndex[1], 4u);
    EXPECT_EQ(face0.highIndex[1], 25u);
    EXPECT_EQ(face0.lowIndex[2], 4u);
    EXPECT_EQ(face0.highIndex[2], 15u);
    EXPECT_EQ(face0.nodeCounts[0] * face0.nodeCounts[1] * face0.nodeCounts[2], 22u * 12u);
    EXPECT_EQ(face0.eSpectrum.size(), 3u * 22u * 12u);
    EXPECT_EQ(face0.hSpectrum.size(), 3u * 22u * 12u);
    FieldProbe face1(&grid.engine, &setup, 1);
    EXPECT_EQ(face1.lowIndex[0], 35u);
    EXPECT_EQ(face1.highIndex[0], 35u);
    FieldProbe face3(&grid.engine, &setup, 3);
    EXPECT_EQ(face3.lowIndex[1], 25u);
    EXPECT_EQ(face3.nodeCounts[0], 32u);
    EXPECT_FLOAT_EQ(face0.angularStep, static_cast<float>(-2 * M_PI * 2e9));
}

TEST(FieldProbe, GridMustLeaveEveryFaceThreeNodesWide) {
    RadiationSetup margin5(1e9f, 3, 3, 5);
    RadiationSetup margin0(1e9f, 3, 3, 0);
    EXPECT_TRUE(FieldProbe::fitsGrid(CountsOnly(11, 11, 11).engine, margin5));
    EXPECT_FALSE(FieldProbe::fitsGrid(CountsOnly(11, 10, 11).engine, margin5));
    EXPECT_FALSE(FieldProbe::fitsGrid(CountsOnly(11, 11, 9).engine, margin5));
    EXPECT_TRUE(FieldProbe::fitsGrid(CountsOnly(5, 5, 5).engine, margin0));
    EXPECT_FALSE(FieldProbe::fitsGrid(CountsOnly(4, 5, 5).engine, margin0));
    // A grid the setup would refuse still gives an empty, harmless face.
    CountsOnly tiny(3, 3, 3);
    FieldProbe face(&tiny.engine, &margin5, 0);
    EXPECT_TRUE(face.eSpectrum.empty());
    face.sample();
}

TEST(FieldProbe, NodeValuesInterpolateOnANonUniformMesh) {
    HandGrid grid({{0, 1, 3, 6, 10}, {0, 2, 3, 5, 8}, {0, 1, 2, 4, 7}});
    // Fill everything with values that would show up if read by mistake.
    for (std::uint32_t z = 0; z < 5; ++z)
        for (std::uint32_t y = 0; y < 5; ++y)
            for (std::uint32_t x = 0; x < 5; ++x)
                for (int c = 0; c < 3; ++c) grid.e(x, y, z, c) = grid.h(x, y, z, c) = 1000.0f;
    // Edge voltages around node (2, 2, 2) at (3, 3, 2) m: field times edge length.
    grid.e(1, 2, 2, 0) = 2.0f * 2;   // Ex 2 V/m centred at x = 2
    grid.e(2, 2, 2, 0) = 3.0f * 3;   // Ex 3 V/m centred at x = 4.5
    grid.e(2, 1, 2, 1) = 1.0f * 1;   // Ey 1 V/m at y = 2.5
    grid.e(2, 2, 2, 1) = 4.0f * 2;   // Ey 4 V/m at y = 4
    grid.e(2, 2, 1, 2) = 5.0f * 1;   // Ez 5 V/m at z = 1.5
    grid.e(2, 2, 2, 2) = -1.0f * 2;  // Ez -1 V/m at z = 3
    double e[3];
    grid.engine.nodeE(2, 2, 2, e);
    EXPECT_DOUBLE_EQ(e[0], 2.4);  // 2 + (3 - 2) / 2.5 * (3 - 2)
    EXPECT_DOUBLE_EQ(e[1], 2.0);  // 1 + 0.5 / 1.5 * 3
    EXPECT_DOUBLE_EQ(e[2], 3.0);  // 5 - 0.5 / 1.5 * 6

    // H of each axis on the four faces around the node across that axis.
    grid.h(2, 2, 2, 0) = 1, grid.h(2, 1, 2, 0) = 2, grid.h(2, 1, 1, 0) = 3, grid.h(2, 2, 1, 0) = 4;
    grid.h(2, 2, 2, 1) = 2, grid.h(2, 2, 1, 1) = 4, grid.h(1, 2, 1, 1) = 6, grid.h(1, 2, 2, 1) = 8;
    grid.h(2, 2, 2, 2) = 1, grid.h(1, 2, 2, 2) = 1, grid.h(1, 1, 2, 2) = 1, grid.h(2, 1, 2, 2) = 1;
    double h[3];
    grid.engine.nodeH(2, 2, 2, h);
    EXPECT_DOUBLE_EQ(h[0], 2.5 / 2.5);        // mean 2.5 over dual length (6 - 1) / 2
    EXPECT_DOUBLE_EQ(h[1], 5.0 / 1.5);        // mean 5 over (5 - 2) / 2
    EXPECT_DOUBLE_EQ(h[2], 1.0 / 1.5);        // mean 1 over (4 - 1) / 2
}

TEST(FieldProbe, SamplesWeighTheNodeFieldsByTheirTimeStamps) {
    HandGrid grid({uniform(7, 0, 0.5), uniform(6, 0, 0.5), uniform(6, 0, 0.5)});
    for (std::uint32_t z = 0; z < 6; ++z)
        for (std::uint32_t y = 0; y < 6; ++y)
            for (std::uint32_t x = 0; x < 7; ++x) {
                grid.e(x, y, z, 0) = 2.0f * 0.5f;   // Ex 2 V/m everywhere
                grid.h(x, y, z, 2) = -3.0f * 0.5f;  // Hz -3 A/m everywhere
            }
    RadiationSetup setup(1e9f, 3, 3, 2);
    FieldProbe probe(&grid.engine, &setup, 2);
    grid.engine.timeStep = 1e-11;
    probe.sample();  // step 0: E weight 1, H half a step later
    const std::size_t last = probe.eSpectrum.size() - 3;
    for (std::size_t s : {std::size_t{0}, last}) {
        EXPECT_EQ(probe.eSpectrum[s], std::complex<float>(2.0f, 0.0f));
        EXPECT_EQ(probe.eSpectrum[s + 1], std::complex<float>(0.0f, 0.0f));
        const std::complex<double> hs = -3.0 * std::exp(std::complex<double>(0, -2 * M_PI * 1e9 * 0.5e-11));
        EXPECT_NEAR(probe.hSpectrum[s + 2].real(), hs.real(), 1e-6);
        EXPECT_NEAR(probe.hSpectrum[s + 2].imag(), hs.imag(), 1e-6);
    }
    grid.engine.stepCount = 25;  // a quarter period later: e^(-j pi/2) = -j
    probe.sample();
    EXPECT_NEAR(probe.eSpectrum[0].real(), 2.0, 1e-6);
    EXPECT_NEAR(probe.eSpectrum[0].imag(), -2.0, 1e-6);
}

TEST(FieldProbe, PowerFlowsOutThroughBothEndsWhereverTheOriginIs) {
    // Mesh entirely on the negative side of the origin; E along y and H along z
    // carry power towards +x, out of the high x face and into the low one.
    HandGrid grid({uniform(7, -10, 1), uniform(7, -10, 1), uniform(8, -10, 1)});
    for (std::uint32_t z = 0; z < 8; ++z)
        for (std::uint32_t y = 0; y < 7; ++y)
            for (std::uint32_t x = 0; x < 7; ++x) {
                grid.e(x, y, z, 1) = 1.0f;
                grid.h(x, y, z, 2) = 1.0f;
            }
    const int saved = verboseLevel;
    verboseLevel = 0;
    for (int face : {0, 1}) {
        RadiationSetup setup(1e8f, 3, 3, 2);
        FieldProbe probe(&grid.engine, &setup, face);
        probe.sample();  // time step 0: both weights 1
        testing::internal::CaptureStdout();
        probe.analyze();
        testing::internal::GetCapturedStdout();
        // Half of E_y H_z over the 4 m x 5 m face, outward.
        EXPECT_NEAR(setup.radiatedPower, face == 1 ? 10.0 : -10.0, 1e-9) << face;
    }
    verboseLevel = saved;
}

TEST(FieldProbe, AnalysisReportsEachFace) {
    HandGrid grid({uniform(9, 0, 1e-3), uniform(9, 0, 1e-3), uniform(9, 0, 1e-3)});
    RadiationSetup setup(1e9f, 3, 3, 2);
    std::vector<std::unique_ptr<FieldProbe>> faces;
    for (int face = 0; face < 6; ++face) faces.push_back(std::make_unique<FieldProbe>(&grid.engine, &setup, face));
    const int saved = verboseLevel;

    verboseLevel = -1;
    testing::internal::CaptureStdout();
    for (auto& face : faces) face->analyze();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\t19\t35\t51\t67\t83\t99");

    verboseLevel = 0;
    testing::internal::CaptureStdout();
    faces[0]->analyze();
    faces[5]->analyze();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Far-field analysis 0: 1/1, 1/7, 1/7\nFar-field analysis 5: 1/7, 1/7, 7/7\n");
    verboseLevel = saved;
}
