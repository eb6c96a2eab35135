// Port probes on hand-filled field arrays: path and loop sums, placement of the
// current loop, and the running spectrum.
#include <gtest/gtest.h>

#include "tests/HandBuiltGrid.hpp"

#include <cmath>
#include <complex>
#include <cstring>
#include <vector>

#include "driver/Verbosity.hpp"
#include "geometry/Geometry.hpp"
#include "grid/AlignedMemory.hpp"
#include "grid/FdtdEngine.hpp"
#include "probes/Probe.hpp"

namespace {

// An engine with mesh lines 0, 1, 2, ... (metres) and zeroed field arrays, laid
// out as the stepping leaves them: H directly behind E in one allocation.
struct HandGrid {
    Geometry geometry;
    FdtdEngine engine{geometry, 1};

    HandGrid(std::uint32_t nx, std::uint32_t ny, std::uint32_t nz) {
        const std::uint32_t n[3] = {nx, ny, nz};
        for (int a = 0; a < 3; ++a) {
            engine.lineCount[a] = n[a];
            for (std::uint32_t i = 0; i < n[a]; ++i) engine.meshLines[a].push_back(i);
        }
        engine.Nv = (nx + 3) / 4;
        hand_grid::allocateFields(engine);
    }
    float& e(std::uint32_t x, std::uint32_t y, std::uint32_t z, int c) {
        return engine.eField[engine.fieldIndex(x, y, z, c)];
    }
    float& h(std::uint32_t x, std::uint32_t y, std::uint32_t z, int c) {
        return engine.hField[engine.fieldIndex(x, y, z, c)];
    }
    template <typename F>
    void fillE(F f) {
        for (std::uint32_t z = 0; z < engine.Nz(); ++z)
            for (std::uint32_t y = 0; y < engine.Ny(); ++y)
                for (std::uint32_t x = 0; x < engine.Nx(); ++x)
                    for (int c = 0; c < 3; ++c) e(x, y, z, c) = f(x, y, z, c);
    }
    template <typename F>
    void fillH(F f) {
        for (std::uint32_t z = 0; z < engine.Nz(); ++z)
            for (std::uint32_t y = 0; y < engine.Ny(); ++y)
                for (std::uint32_t x = 0; x < engine.Nx(); ++x)
                    for (int c = 0; c < 3; ++c) h(x, y, z, c) = f(x, y, z, c);
    }
};

void setIndices(Probe& probe, std::uint32_t x1, std::uint32_t y1, std::uint32_t z1, std::uint32_t x2,
                std::uint32_t y2, std::uint32_t z2) {
    probe.lowIndex[0] = x1, probe.lowIndex[1] = y1, probe.lowIndex[2] = z1;
    probe.highIndex[0] = x2, probe.highIndex[1] = y2, probe.highIndex[2] = z2;
}

// Every E value tells where it was read: 1000 c + 100 x + 10 y + z.
float tag(std::uint32_t x, std::uint32_t y, std::uint32_t z, int c) {
    return static_cast<float>(1000 * c + 100 * x + 10 * y + z);
}

}  // namespace

TEST(ProbesVoltage, SumsEdgesAlongThePortFromTheNearestLines) {
    HandGrid grid(7, 5, 5);
    grid.fillE(tag);
    const std::vector<double> frequencies{1e9};
    VoltageProbe probe(&grid.engine, &frequencies);
    const double p1[3] = {1.2, 2.0, 2.9}, p2[3] = {3.6, 2.0, 2.9};
    probe.place(p1, p2);  // nearest lines: x 1..4, y 2, z 3
    EXPECT_EQ(probe.lowIndex[0], 1u);
    EXPECT_EQ(probe.highIndex[0], 4u);
    EXPECT_EQ(probe.lowIndex[2], 3u);
    // Ex at x = 1, 2, 3 of row (2, 3); the edge at x = 4 leaves the port.
    EXPECT_DOUBLE_EQ(probe.value(), 123.0 + 223.0 + 323.0);
}

TEST(ProbesVoltage, RunsRestartAtTheFirstCornerOnEachAxis) {
    HandGrid grid(6, 4, 6);
    grid.fillE(tag);
    VoltageProbe probe(&grid.engine, nullptr);
    setIndices(probe, 1, 2, 1, 3, 2, 4);
    // Ex(1,2,1) + Ex(2,2,1) along x, then Ez(1,2,k) for k = 1, 2, 3 from the
    // first corner again; nothing at x = 3 or z = 4.
    const double expected = 121 + 221 + (2121 + 2122 + 2123);
    EXPECT_DOUBLE_EQ(probe.value(), expected);

    setIndices(probe, 2, 1, 3, 2, 1, 3);  // both corners on the same lines
    EXPECT_EQ(probe.value(), 0.0);
}

TEST(ProbesCurrent, LoopGivesTwiceTheEnclosedAreaForUnitCurl) {
    // Per-edge H = (-y, x) around z has circulation 2 per unit cell area; the
    // other components get values the loop must not read.
    HandGrid grid(8, 8, 8);
    CurrentProbe probe(&grid.engine, nullptr);

    probe.direction = 2;
    grid.fillH([](std::uint32_t x, std::uint32_t y, std::uint32_t, int c) {
        return c == 0 ? -static_cast<float>(y) : c == 1 ? static_cast<float>(x) : 77.0f;
    });
    setIndices(probe, 1, 2, 3, 4, 5, 3);
    EXPECT_DOUBLE_EQ(probe.value(), 2.0 * 3 * 3);

    probe.direction = 0;  // H = (., -z, y): curl 2 along +x
    grid.fillH([](std::uint32_t, std::uint32_t y, std::uint32_t z, int c) {
        return c == 1 ? -static_cast<float>(z) : c == 2 ? static_cast<float>(y) : 77.0f;
    });
    setIndices(probe, 3, 1, 2, 3, 4, 4);
    EXPECT_DOUBLE_EQ(probe.value(), 2.0 * 3 * 2);

    probe.direction = 1;  // H = (z, ., -x): curl 2 along +y
    grid.fillH([](std::uint32_t x, std::uint32_t, std::uint32_t z, int c) {
        return c == 2 ? -static_cast<float>(x) : c == 0 ? static_cast<float>(z) : 77.0f;
    });
    setIndices(probe, 1, 3, 2, 5, 3, 3);
    EXPECT_DOUBLE_EQ(probe.value(), 2.0 * 4 * 1);

    // Reversing the circulation reverses the current.
    grid.fillH([](std::uint32_t x, std::uint32_t, std::uint32_t z, int c) {
        return c == 2 ? static_cast<float>(x) : c == 0 ? -static_cast<float>(z) : 0.0f;
    });
    EXPECT_DOUBLE_EQ(probe.value(), -8.0);
}

TEST(ProbesCurrent, UniformFieldAndUnknownDirectionGiveZero) {
    HandGrid grid(6, 6, 6);
    grid.fillH([](std::uint32_t, std::uint32_t, std::uint32_t, int c) { return 0.37f + c; });
    CurrentProbe probe(&grid.engine, nullptr);
    setIndices(probe, 1, 1, 1, 4, 4, 4);
    for (int direction = 0; direction < 3; ++direction) {
        probe.direction = direction;
        EXPECT_EQ(probe.value(), 0.0) << "direction " << direction;
    }
    grid.fillH([](std::uint32_t x, std::uint32_t y, std::uint32_t z, int) {
        return static_cast<float>(x * y + z);
    });
    probe.direction = 3;
    EXPECT_EQ(probe.value(), 0.0);
}

TEST(ProbesCurrent, PlacementWidensTheLoopAroundThePort) {
    HandGrid grid(7, 7, 7);  // lines 0..6
    CurrentProbe probe(&grid.engine, nullptr);
    probe.direction = 2;

    // Corners on cell centres: no widening along x; flat across y at a line:
    // the loop opens to the cells on both sides.
    const double a1[3] = {1.5, 2.0, 3.0}, a2[3] = {3.5, 2.0, 3.0};
    probe.place(a1, a2);
    EXPECT_EQ(probe.lowIndex[0], 1u);
    EXPECT_EQ(probe.highIndex[0], 3u);
    EXPECT_EQ(probe.lowIndex[1], 1u);
    EXPECT_EQ(probe.highIndex[1], 2u);
    EXPECT_EQ(probe.lowIndex[2], 2u);
    EXPECT_EQ(probe.highIndex[2], 2u);

    // Corners inside the outer halves of their cells: one more cell each way;
    // flat below a cell centre: the loop reaches down one cell and up again.
    const double b1[3] = {1.2, 1.2, 3.0}, b2[3] = {3.7, 1.2, 3.0};
    probe.place(b1, b2);
    EXPECT_EQ(probe.lowIndex[0], 0u);
    EXPECT_EQ(probe.highIndex[0], 4u);
    EXPECT_EQ(probe.lowIndex[1], 0u);
    EXPECT_EQ(probe.highIndex[1], 2u);
}

TEST(ProbesCurrent, PlacementStaysInsideTheGridAtTheMeshEdges) {
    HandGrid grid(7, 7, 7);
    CurrentProbe probe(&grid.engine, nullptr);
    probe.direction = 2;

    // At the low edge the loop would step to index -1.
    const double a1[3] = {0.0, 0.0, 3.0}, a2[3] = {2.0, 0.0, 3.0};
    probe.place(a1, a2);
    EXPECT_EQ(probe.lowIndex[0], 0u);
    EXPECT_EQ(probe.highIndex[0], 2u);
    EXPECT_EQ(probe.lowIndex[1], 0u);
    EXPECT_EQ(probe.highIndex[1], 0u);

    // At and beyond the high edge it would step to index N.
    const double b1[3] = {5.2, 7.0, 3.0}, b2[3] = {6.8, 7.0, 3.0};
    probe.place(b1, b2);
    EXPECT_EQ(probe.lowIndex[0], 4u);
    EXPECT_EQ(probe.highIndex[0], 6u);
    EXPECT_EQ(probe.lowIndex[1], 6u);
    EXPECT_EQ(probe.highIndex[1], 6u);
    grid.fillH([](std::uint32_t x, std::uint32_t y, std::uint32_t, int c) {
        return c == 0 ? -static_cast<float>(y) : c == 1 ? static_cast<float>(x) : 0.0f;
    });
    EXPECT_DOUBLE_EQ(probe.value(), 0.0);  // a loop with no width along y encloses nothing
}

TEST(ProbesSpectrum, SamplesAtWholeStepsForVoltageAndHalfStepsLaterForCurrent) {
    HandGrid grid(6, 4, 4);
    grid.fillE([](std::uint32_t, std::uint32_t, std::uint32_t, int c) { return c == 0 ? 0.75f : 0.0f; });
    grid.fillH([](std::uint32_t x, std::uint32_t y, std::uint32_t, int c) {
        return c == 0 ? -static_cast<float>(y) : c == 1 ? static_cast<float>(x) : 0.0f;
    });
    const std::vector<double> frequencies{2.5e10, 1e9};
    VoltageProbe voltage(&grid.engine, &frequencies);
    CurrentProbe current(&grid.engine, &frequencies);
    ASSERT_EQ(voltage.spectrum.size(), 2u);
    EXPECT_EQ(voltage.spectrum[0], std::complex<double>(0.0, 0.0));
    setIndices(voltage, 1, 1, 1, 3, 1, 1);  // V = 1.5
    setIndices(current, 1, 1, 1, 2, 2, 1);  // I = 2
    current.direction = 2;

    grid.engine.stepCount = 10;
    grid.engine.timeStep = 1e-12;
    voltage.sample();
    current.sample();
    for (std::size_t m = 0; m < 2; ++m) {
        const double w = 2 * 3.141592653589793 * frequencies[m];
        const std::complex<double> v = 1.5 * std::exp(std::complex<double>(0, -w * 10e-12));
        const std::complex<double> i = 2.0 * std::exp(std::complex<double>(0, -w * 10.5e-12));
        EXPECT_NEAR(voltage.spectrum[m].real(), v.real(), 1e-6);
        EXPECT_NEAR(voltage.spectrum[m].imag(), v.imag(), 1e-6);
        EXPECT_NEAR(current.spectrum[m].real(), i.real(), 1e-6);
        EXPECT_NEAR(current.spectrum[m].imag(), i.imag(), 1e-6);
    }
}

TEST(ProbesSpectrum, ZeroFrequencyIsThePlainSum) {
    HandGrid grid(5, 4, 4);
    const std::vector<double> frequencies{0.0};
    VoltageProbe probe(&grid.engine, &frequencies);
    setIndices(probe, 0, 1, 1, 1, 1, 1);
    grid.engine.timeStep = 3e-12;
    const float samples[] = {0.5f, -2.25f, 7.0f, 1.125f};
    for (float v : samples) {
        grid.e(0, 1, 1, 0) = v;
        probe.sample();
        grid.engine.stepCount += 17;
    }
    EXPECT_EQ(probe.spectrum[0].real(), 0.5 - 2.25 + 7.0 + 1.125);
    EXPECT_EQ(probe.spectrum[0].imag(), 0.0);
}

TEST(ProbesPlacement, EchoOnlyAboveVerbosityZero) {
    HandGrid grid(5, 5, 5);
    VoltageProbe voltage(&grid.engine, nullptr);
    CurrentProbe current(&grid.engine, nullptr);
    voltage.portNumber = 2;
    current.portNumber = 1;
    current.direction = 0;
    const double p1[3] = {1, 0.5, 2}, p2[3] = {1, 2.5, 3.25};
    const int saved = verboseLevel;

    verboseLevel = 0;
    testing::internal::CaptureStdout();
    voltage.place(p1, p2);
    current.place(p1, p2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    verboseLevel = 1;
    testing::internal::CaptureStdout();
    voltage.place(p1, p2);
    current.place(p1, p2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "VoltProbe 2 1,0.5,2 1,2.5,3.25\nCurrProbe 1 1,0.5,2 1,2.5,3.25\n");
    verboseLevel = saved;
}
